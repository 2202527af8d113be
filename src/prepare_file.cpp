// Program file preparation: one pass that copies the memory image to the
// temporary image file and finds the entry address on the way.
#include <array>
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <initializer_list>
#include <system_error>

#include "prgdis.h"

namespace {

constexpr unsigned char sys_token = 0x9E;  // BASIC V2 keyword SYS

// Copy buffer: the image is never held whole, so memory use does not grow
// with the file.
constexpr std::size_t block_size = 64 * 1024;

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
  std::FILE* in = std::fopen(inputname.c_str(), "rb");
  if (in == nullptr) error_exit("Error opening input file!");

  // The load address comes first, so that a file without one never creates
  // the temporary file.
  std::array<unsigned char, block_size> buffer{};
  if (std::fread(buffer.data(), 1, 2, in) != 2) {
    error_exit(std::ferror(in) ? "Error reading input file!" : "Input file is too short!");
  }
  load = buffer[0] + 256 * buffer[1];
  entry = load;

  if (same_file(inputname, tmpname)) {
    error_exit("Temporary file " + tmpname + " is the input file itself!");
  }
  for (const char* extension : {".asm", ".lst"}) {
    const std::string output = output_name(tmpname, extension);
    if (read_only(output)) error_exit("Output file " + output + " is read-only!");
  }
  std::FILE* out = std::fopen(tmpname.c_str(), "wb");
  if (out == nullptr) error_exit("Error opening output file!");

  SysScan scan;
  std::size_t count = 0;
  while ((count = std::fread(buffer.data(), 1, buffer.size(), in)) > 0) {
    if (std::fwrite(buffer.data(), 1, count, out) != count) {
      error_exit("Error writing output file!");
    }
    sys_scan_block(scan, buffer.data(), count, load, entry);
  }
  if (std::ferror(in)) error_exit("Error reading input file!");
  std::fclose(in);
  // A full disk may show only when the last block is flushed.
  if (std::fclose(out) != 0) error_exit("Error writing output file!");
}
