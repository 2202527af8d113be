// Program file preparation: the memory image and the entry address from
// the program file, and the temporary image file that Tolvek.exe reads.
#include <array>
#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <initializer_list>
#include <system_error>
#include <vector>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "prgdis.h"

namespace {

constexpr unsigned char sys_token = 0x9E;  // BASIC V2 keyword SYS

// The largest image: the C64's whole 64 KiB of memory. Tolvek.exe takes no
// more, so no more is ever read or written.
constexpr std::size_t max_image_size = 0x10000;

// This run's temporary image file, open from its creation until
// remove_temporary_file. While it is open no other prgdis run removes or
// replaces it: on POSIX systems it is locked (flock), and on Windows it is
// shared for reading only, so that nobody else may delete it or write to it.
// (A LockFileEx lock would keep Tolvek.exe from reading it.) Either hold
// ends with the process, however that ends.
std::FILE* image_file = nullptr;

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
// replacing `b` with the image would then destroy the program file itself.
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
  // CON waits for the keyboard and COM1 may wait for a line: a device
  // name is never opened.
  if (!windows_device(name).empty()) error_exit("Input file is not a regular file!");
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

// A run stopped from outside (Ctrl+C, SIGTERM, a closed terminal, a closed
// console window) takes the temporary file it made with it: a half-written
// image is no use, and a whole one is made again by the next run. The name
// is noted before the file is made and the file marked this run's the
// moment it is made, with the stop held back in between, so that no moment
// leaves one without the other.
// The name is never destroyed: a failed run ends with its file still made,
// and a stop that comes after exit() has destroyed the statics must still
// read it.
std::string& stop_name = *new std::string;  // what the stop removes; set before
volatile std::sig_atomic_t made = 0;        // 1 while this run's file has that name

#ifdef _WIN32

// Taken while the run changes its file: a stop waits for it.
struct Changing {
  Changing() { InitializeCriticalSection(&section); }
  CRITICAL_SECTION section;
} changing;

// A console control event (Ctrl+C, Ctrl+Break, the window closed) is
// answered on a thread of its own while the run goes on: once the run is
// not changing the file, it is closed and removed, and the process ends at
// once, as the default handler would end it, but without waiting for the
// main thread. Tolvek.exe, stopped by the same event, may hold the file
// open for a moment yet; so the removal is tried again for a while.
BOOL WINAPI stop_on_console_event(DWORD) {
  EnterCriticalSection(&changing.section);
  if (made != 0) {
    std::fclose(image_file);
    const std::filesystem::path path = file_path(stop_name);
    for (int attempt = 0; attempt < 200 && !DeleteFileW(path.c_str()) && GetLastError() == ERROR_SHARING_VIOLATION;
         ++attempt) {
      Sleep(10);
    }
  }
  TerminateProcess(GetCurrentProcess(), STATUS_CONTROL_C_EXIT);
  return TRUE;
}

void catch_stops() { SetConsoleCtrlHandler(stop_on_console_event, TRUE); }

class HeldStops {
 public:
  HeldStops() { EnterCriticalSection(&changing.section); }
  ~HeldStops() { LeaveCriticalSection(&changing.section); }
  HeldStops(const HeldStops&) = delete;
  HeldStops& operator=(const HeldStops&) = delete;
};

#else

void remove_made_and_die(int signal) {
  if (made != 0) unlink(stop_name.c_str());
  std::signal(signal, SIG_DFL);
  std::raise(signal);
}

// A signal ignored when prgdis started (nohup, a background job) stays
// ignored.
void catch_stops() {
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
    if (std::signal(signal, remove_made_and_die) == SIG_IGN) std::signal(signal, SIG_IGN);
  }
}

// Holds the stop signals back while it lives; one that comes meanwhile is
// taken when they are let through again.
class HeldStops {
 public:
  HeldStops() {
    sigset_t stops;
    sigemptyset(&stops);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&stops, signal);
    sigprocmask(SIG_BLOCK, &stops, &before_);
  }
  ~HeldStops() { sigprocmask(SIG_SETMASK, &before_, nullptr); }
  HeldStops(const HeldStops&) = delete;
  HeldStops& operator=(const HeldStops&) = delete;

 private:
  sigset_t before_{};
};

#endif

[[noreturn]] void in_use(const std::string& tmpname) {
  error_exit("Another prgdis run is using " + tmpname + "!");
}

// How an attempt to create the temporary file ended.
enum class Creation { created, name_taken, in_use, failed };

#ifdef _WIN32

// Removes what has the temporary name, a link itself and not what it leads
// to; false when another run holds it open.
bool remove_unless_in_use(const std::string& tmpname) {
  return DeleteFileW(file_path(tmpname).c_str()) || GetLastError() != ERROR_SHARING_VIOLATION;
}

// Creates the temporary file as image_file, shared for reading only.
// CREATE_NEW fails for anything that has the name by now, a link included.
Creation create_new(const std::string& tmpname) {
  const HANDLE handle = CreateFileW(file_path(tmpname).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                    CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) return Creation::name_taken;
    return error == ERROR_SHARING_VIOLATION ? Creation::in_use : Creation::failed;
  }
  const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_WRONLY | _O_BINARY);
  if (fd == -1) {
    CloseHandle(handle);
    return Creation::failed;
  }
  image_file = _fdopen(fd, "wb");
  if (image_file == nullptr) {
    _close(fd);
    return Creation::failed;
  }
  made = 1;
  return Creation::created;
}

#else

// True when the open file `fd` still has the name `name`: no one removed
// or replaced it since it was opened.
bool still_named(int fd, const std::string& name) {
  struct stat opened;
  struct stat named;
  return fstat(fd, &opened) == 0 && lstat(name.c_str(), &named) == 0 && opened.st_dev == named.st_dev &&
         opened.st_ino == named.st_ino;
}

// Takes the lock that marks a file as some run's image; false when another
// run holds it. (Where the file system has no such locks, runs are not
// kept apart.)
bool lock(int fd) {
  return flock(fd, LOCK_EX | LOCK_NB) == 0 || errno != EWOULDBLOCK;
}

// Removes what has the temporary name, a link itself and not what it leads
// to; false when another run holds it. A regular file is removed only
// under its lock, so that no run ever removes another's image.
bool remove_unless_in_use(const std::string& tmpname) {
  struct stat named;
  if (lstat(tmpname.c_str(), &named) != 0 || S_ISDIR(named.st_mode)) return true;  // a folder stays
  if (!S_ISREG(named.st_mode)) {
    unlink(tmpname.c_str());
    return true;
  }
  const int fd = open(tmpname.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return true;  // gone, or unreadable: then the creation fails
  const bool free = lock(fd);
  if (free && still_named(fd, tmpname)) unlink(tmpname.c_str());
  close(fd);
  return free;
}

// Creates the temporary file as image_file, locked. O_EXCL fails for
// anything that has the name by now, a link included.
Creation create_new(const std::string& tmpname) {
  const int fd = open(tmpname.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) return errno == EEXIST ? Creation::name_taken : Creation::failed;
  // Another run may have come upon the new file before it was locked, and
  // then holds it or has removed it.
  if (!lock(fd) || !still_named(fd, tmpname)) {
    close(fd);
    return Creation::in_use;
  }
  image_file = fdopen(fd, "wb");
  if (image_file == nullptr) {
    unlink(tmpname.c_str());
    close(fd);
    return Creation::failed;
  }
  made = 1;
  return Creation::created;
}

#endif

// Makes the temporary file anew as image_file. What had the name is
// removed first, unless another run is using it; anything that takes the
// name between the removal and the creation (another run's file, a link
// planted there) makes the creation fail, and then it is looked at again.
void claim_temporary_file(const std::string& tmpname) {
  stop_name = tmpname;
  catch_stops();
  for (int attempt = 0; attempt < 3; ++attempt) {
    if (!remove_unless_in_use(tmpname)) in_use(tmpname);
    Creation creation = Creation::failed;
    {
      const HeldStops held;
      creation = create_new(tmpname);
    }
    switch (creation) {
      case Creation::created: return;
      case Creation::name_taken: continue;
      case Creation::in_use: in_use(tmpname);
      case Creation::failed: error_exit("Error opening output file!");
    }
  }
  error_exit("Error opening output file!");
}

}  // namespace

std::string windows_device(const std::string& name) {
  std::string base = name.substr(name.find_last_of("/\\:") + 1);
  base = base.substr(0, base.find('.'));
  // Windows drops spaces at the end of the part before the extension.
  while (!base.empty() && base.back() == ' ') base.pop_back();
  for (char& c : base) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  for (const char* device : {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"}) {
    if (base == device) return base;
  }
  const bool numbered = base.size() == 4 && (base.rfind("COM", 0) == 0 || base.rfind("LPT", 0) == 0) &&
                        base[3] >= '1' && base[3] <= '9';
  return numbered ? base : "";
}

std::string naming_name(const std::string& inputname) {
#ifdef _WIN32
  std::string name = inputname;
  const std::filesystem::path path = file_path(inputname);
  const DWORD length = GetLongPathNameW(path.c_str(), nullptr, 0);
  if (length > 0) {
    std::wstring long_name(length, L'\0');
    const DWORD written = GetLongPathNameW(path.c_str(), long_name.data(), length);
    if (written > 0 && written < length) {
      long_name.resize(written);
      const std::u8string utf8 = std::filesystem::path(long_name).u8string();
      name.assign(utf8.begin(), utf8.end());
    }
  }
  // The last part's dots and spaces at the end, which Windows drops.
  while (!name.empty() && (name.back() == '.' || name.back() == ' ')) {
    const std::size_t last = name.find_last_of("/\\:");
    const std::string part = last == std::string::npos ? name : name.substr(last + 1);
    if (part == "." || part == "..") break;
    name.pop_back();
  }
  return name.empty() ? inputname : name;
#else
  return inputname;
#endif
}

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

  claim_temporary_file(tmpname);
  bool written = false;
  {
    // A stop waits until the image is written: it would close the file
    // under the writing on Windows.
    const HeldStops held;
    // A full disk may show only when the data is flushed.
    written = std::fwrite(image.data(), 1, size, image_file) == size && std::fflush(image_file) == 0;
  }
  if (!written) error_exit("Error writing output file!");
}

void remove_temporary_file(const std::string& tmpname) {
  const HeldStops held;
  made = 0;
#ifdef _WIN32
  // An open file cannot be deleted, so it is closed first. Should another
  // run make its own file of that name in between, that one is open and
  // stays.
  std::fclose(image_file);
  DeleteFileW(file_path(tmpname).c_str());
#else
  // Still locked, the name is this run's file.
  unlink(tmpname.c_str());
  std::fclose(image_file);
#endif
  image_file = nullptr;
}
