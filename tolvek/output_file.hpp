// Writing an output file whole: into a new temporary file beside it that
// nobody can have planted, renamed over the output once complete.
#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace tolvek {

// The path of a file name as the command line gives it: UTF-8 on Windows,
// where both programs run with UTF-8 as their code page, and any bytes
// elsewhere.
std::filesystem::path file_path(const std::string& name);

// The name of a path, as the command line would give it.
std::string file_name(const std::filesystem::path& path);

// The device a file name stands for on Windows whatever its folder and
// extension ("AUX" for aux.tmp, "CON" for con.hints), or "" when it names
// a file. Windows opens CON, PRN, AUX, NUL, COM1-9, LPT1-9, CONIN$ and
// CONOUT$ in any letter case, with any extension.
std::string windows_device(std::string_view file_name);

// Whether `name` stands for a device on this system by its name alone
// (on Windows: windows_device; elsewhere never).
bool names_a_device(const std::string& name);

// The output file for an image: its last extension replaced.
std::string output_name(const std::string& image, const char* extension);

// The problem write_output_files would refuse `name` for at once (a
// read-only file, a folder, a device), or an empty string: checked for
// every output before any is written, so that a run refused for one writes
// none. A link of that name is judged by what it leads to, and replaced,
// never written through.
std::string check_replaceable(const std::string& name);

// A text handed over piece by piece to the function it is given, so that a
// big file need not be held whole.
using TextProducer = std::function<void(const std::function<void(std::string_view)>&)>;

struct OutputFile {
    std::string name;
    TextProducer produce;
    bool binary = false;  // bytes as they are; text gets the platform's line ends
};

// Writes all the files or none: each into a new temporary file beside it,
// and only when all are complete are they renamed over their names, so that
// an older file of the name is replaced only by a complete new one (and
// keeps its permissions). Refuses at once what check_replaceable refuses. A
// write that fails (full disk, file size limit) or an interrupting SIGINT,
// SIGTERM or SIGHUP leaves the older files as they were and no temporary
// file behind. Returns an empty string on success, else one line naming the
// file and the problem.
std::string write_output_files(const std::vector<OutputFile>& files);

// One text file.
std::string write_output_file(const std::string& name, const std::string& content);
std::string write_output_file(const std::string& name, const TextProducer& produce);

}  // namespace tolvek
