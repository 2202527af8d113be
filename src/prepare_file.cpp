// Program file preparation: the memory image and the entry address from
// the program file, and the temporary image file that Tolvek.exe reads.
#include <array>
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <initializer_list>
#include <system_error>
#include <vector>

#ifdef _WIN32
#include <sys/stat.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "prgdis.h"

namespace {

constexpr unsigned char sys_token = 0x9E;  // BASIC V2 keyword SYS

// The largest image: the C64's whole 64 KiB of memory. Tolvek.exe takes no
// more, so no more is ever read or written.
constexpr std::size_t max_image_size = 0x10000;

// The path of a file name as the command line gives it: UTF-8 on Windows,
// where prgdis runs with UTF-8 as its code page, any bytes elsewhere.
std::filesystem::path file_path(const std::string& name) {
#ifdef _WIN32
  try {
    return std::filesystem::path(std::u8string(name.begin(), name.end()));
  } catch (const std::exception&) {
    // Not UTF-8: a Windows older than the manifest's code page setting
    // gave the name in its own code page.
    return std::filesystem::path(name);
  }
#else
  return std::filesystem::path(name);
#endif
}

// The name of Tolvek.exe's output for the image `tmpname`, as Tolvek.exe
// derives it: the last extension replaced by `extension`.
std::string output_name(const std::string& tmpname, const char* extension) {
  const std::filesystem::path output = file_path(tmpname).replace_extension(extension);
#ifdef _WIN32
  const std::u8string name = output.u8string();
  return std::string(name.begin(), name.end());
#else
  return output.string();
#endif
}

// True when `a` and `b` name one and the same existing file (a link, say):
// writing the image to `b` would then destroy the program file itself.
bool same_file(const std::string& a, const std::string& b) {
  std::error_code ec;
  return std::filesystem::equivalent(file_path(a), file_path(b), ec) && !ec;
}

// True when `name` is a file without its owner's write permission (the
// read-only attribute on Windows). That is the user's word not to replace
// it, and it is kept also by a user whom the bits do not stop (root).
bool read_only(const std::string& name) {
  std::error_code ec;
  const std::filesystem::file_status status = std::filesystem::status(file_path(name), ec);
  return std::filesystem::is_regular_file(status) &&
         (status.permissions() & std::filesystem::perms::owner_write) == std::filesystem::perms::none;
}

// Opens the program file for reading. Anything but a regular file is
// refused before anything is written: a device such as /dev/zero never
// ends, and a FIFO may wait for a writer for ever. (A folder opens on POSIX
// systems and then fails to be read; Windows does not open one.)
std::FILE* open_program_file(const std::string& name) {
#ifdef _WIN32
  std::FILE* in = std::fopen(name.c_str(), "rb");
  if (in == nullptr) error_exit("Error opening input file!");
  // NUL, CON and the like open as files.
  struct _stat64 opened;
  if (_fstat64(_fileno(in), &opened) != 0 || (opened.st_mode & _S_IFMT) != _S_IFREG) {
    error_exit("Input file is not a regular file!");
  }
  return in;
#else
  // Looked at before opening, so that a device is not even opened, and
  // again once open, in case something else took the name in between;
  // O_NONBLOCK keeps a FIFO from waiting for a writer meanwhile.
  const auto acceptable = [](const struct stat& file) { return S_ISREG(file.st_mode) || S_ISDIR(file.st_mode); };
  struct stat named;
  if (stat(name.c_str(), &named) == 0 && !acceptable(named)) error_exit("Input file is not a regular file!");
  const int fd = open(name.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) error_exit("Error opening input file!");
  struct stat opened;
  if (fstat(fd, &opened) != 0 || !acceptable(opened)) error_exit("Input file is not a regular file!");
  std::FILE* in = fdopen(fd, "rb");
  if (in == nullptr) error_exit("Error opening input file!");
  return in;
#endif
}

}  // namespace

void sys_scan_step(SysScan& scan, unsigned char c, std::int32_t load,
                   std::int32_t& entry) {
  if (c == sys_token) {
    // A new SYS drops any number still being read.
    scan.armed = true;
    scan.accumulator = 0;
  } else if (!scan.armed) {
    return;
  } else if (c >= '0' && c <= '9') {
    scan.accumulator = scan.accumulator * 10u + static_cast<unsigned>(c - '0');
  } else if (c == ' ') {
    // BASIC allows spaces anywhere in a number.
  } else {
    // Any other byte closes the number (C++20: the conversion wraps).
    const auto value = static_cast<std::int32_t>(scan.accumulator);
    if (value >= load) entry = value;
    scan.armed = false;
  }
}

void sys_scan_block(SysScan& scan, const unsigned char* bytes, std::size_t count,
                    std::int32_t load, std::int32_t& entry) {
  const unsigned char* const end = bytes + count;
  while (bytes < end) {
    if (!scan.armed) {
      // Nothing happens until the next SYS token: skip straight to it.
      const void* token = std::memchr(bytes, sys_token, static_cast<std::size_t>(end - bytes));
      if (token == nullptr) return;
      bytes = static_cast<const unsigned char*>(token);
    }
    sys_scan_step(scan, *bytes++, load, entry);
  }
}

void prepare_file(const std::string& inputname, const std::string& tmpname,
                  std::int32_t& load, std::int32_t& entry) {
  std::FILE* in = open_program_file(inputname);

  // The load address comes first, so that a file without one never creates
  // the temporary file.
  std::array<unsigned char, 2> header{};
  if (std::fread(header.data(), 1, header.size(), in) != header.size()) {
    error_exit(std::ferror(in) ? "Error reading input file!" : "Input file is too short!");
  }
  load = header[0] + 256 * header[1];
  entry = load;

  // The whole image is read before anything is written, and one byte more
  // than the largest image at most, however long the file.
  std::vector<unsigned char> image(max_image_size + 1);
  const std::size_t size = std::fread(image.data(), 1, image.size(), in);
  if (std::ferror(in)) error_exit("Error reading input file!");
  std::fclose(in);
  if (size > max_image_size) error_exit("Input file is too long!");
  SysScan scan;
  sys_scan_block(scan, image.data(), size, load, entry);

  if (same_file(inputname, tmpname)) {
    error_exit("Temporary file " + tmpname + " is the input file itself!");
  }
  for (const char* extension : {".asm", ".lst"}) {
    const std::string output = output_name(tmpname, extension);
    if (read_only(output)) error_exit("Output file " + output + " is read-only!");
  }

  std::FILE* out = std::fopen(tmpname.c_str(), "wb");
  if (out == nullptr) error_exit("Error opening output file!");
  if (std::fwrite(image.data(), 1, size, out) != size) error_exit("Error writing output file!");
  // A full disk may show only when the file is closed.
  if (std::fclose(out) != 0) error_exit("Error writing output file!");
}
