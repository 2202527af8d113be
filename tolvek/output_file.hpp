// Writing an output file whole: into a new temporary file beside it that
// nobody can have planted, renamed over the output once complete.
#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

namespace tolvek {

// The path of a file name as the command line gives it: UTF-8 on Windows,
// where both programs run with UTF-8 as their code page, and any bytes
// elsewhere.
std::filesystem::path file_path(const std::string& name);

// The name of a path, as the command line would give it.
std::string file_name(const std::filesystem::path& path);

// The output file for an image: its last extension replaced.
std::string output_name(const std::string& image, const char* extension);

// Writes `content` as text (lines end the platform's way) to the file
// `name`, so that an older file of that name is replaced only by a complete
// new one and keeps its permissions. Refuses to replace a file without the
// owner's write permission (the read-only attribute on Windows). A write
// that fails (full disk, file size limit) or an interrupting SIGINT, SIGTERM
// or SIGHUP leaves the older file as it was and no temporary file behind.
// Returns an empty string on success, else one line naming `name` and the
// problem.
std::string write_output_file(const std::string& name, const std::string& content);

// The problem write_output_file would refuse `name` for at once (a
// read-only file), or an empty string: checked for every output before any
// is written, so that a run refused for one writes none.
std::string check_replaceable(const std::string& name);

// The same for a text that `produce` hands over piece by piece to the
// function it is given, so that a big file need not be held whole.
using TextProducer = std::function<void(const std::function<void(std::string_view)>&)>;
std::string write_output_file(const std::string& name, const TextProducer& produce);

}  // namespace tolvek
