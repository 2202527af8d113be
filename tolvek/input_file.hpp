// Reading a text file the user names (a hints file, a label file): only a
// regular file, and only up to a size, so that a name like /dev/zero or a
// FIFO cannot make the run grow or wait forever.
#pragma once

#include <cstddef>
#include <string>

namespace tolvek {

// The largest hints or label file read. A hints file that gives every byte
// of a 64 KiB image a range, a name and a comment is a few MB; this leaves
// plenty of room for comments.
constexpr std::size_t kTextFileLimit = std::size_t{64} << 20;
constexpr const char* kTextFileLimitText = "64 MiB";

// Reads the file `name` whole into `text` when it is a regular file of at
// most kTextFileLimit bytes. Anything else is refused without reading it
// and without waiting for it: a folder, a device (on Windows also by a name
// such as aux.hints, which the system takes for the device), a FIFO or
// socket (opened without blocking, if at all). Returns an empty string, else why not:
// "it is not a regular file", "it is the device AUX" (Windows), "it is
// larger than 64 MiB", or the system's
// reason ("No such file or directory").
std::string read_regular_file(const std::string& name, std::string& text);

// The same with a limit of `limit` bytes; `too_large` tells whether the
// file was refused for its size.
std::string read_regular_file(const std::string& name, std::string& text, std::size_t limit, bool& too_large);

}  // namespace tolvek
