#include "input_file.hpp"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "output_file.hpp"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace tolvek {
namespace fs = std::filesystem;

namespace {

std::string larger_than(std::size_t limit) {
    if (limit == kTextFileLimit) return std::string("it is larger than ") + kTextFileLimitText;
    return "it is larger than " + std::to_string(limit) + " bytes";
}

#ifdef _WIN32
int open_for_reading(const fs::path& path) { return _wopen(path.c_str(), _O_RDONLY | _O_BINARY | _O_NOINHERIT); }

// Whether the open file is a regular file, and its size.
bool regular_file(int fd, std::uintmax_t& size) {
    struct _stat64 info {};
    if (_fstat64(fd, &info) != 0 || (info.st_mode & _S_IFMT) != _S_IFREG) return false;
    size = static_cast<std::uintmax_t>(info.st_size);
    return true;
}

long read_some(int fd, char* buffer, std::size_t size) { return _read(fd, buffer, static_cast<unsigned>(size)); }
void close_file(int fd) { _close(fd); }
#else
// Without blocking: opening a FIFO for reading waits for a writer.
int open_for_reading(const fs::path& path) { return ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC); }

bool regular_file(int fd, std::uintmax_t& size) {
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) return false;
    size = static_cast<std::uintmax_t>(info.st_size);
    return true;
}

long read_some(int fd, char* buffer, std::size_t size) {
    ssize_t got = 0;
    do {
        got = ::read(fd, buffer, size);
    } while (got < 0 && errno == EINTR);
    return static_cast<long>(got);
}

void close_file(int fd) { ::close(fd); }
#endif

}  // namespace

std::string read_regular_file(const std::string& name, std::string& text) {
    bool too_large = false;
    return read_regular_file(name, text, kTextFileLimit, too_large);
}

std::string read_regular_file(const std::string& name, std::string& text, std::size_t limit, bool& too_large) {
    too_large = false;
    if (names_a_device(name)) return "it is the device " + windows_device(name);
    const fs::path path = file_path(name);
    // Looked at before it is opened, as opening a device can do something.
    std::error_code ec;
    const fs::file_status status = fs::status(path, ec);
    if (ec) return ec.message();
    if (fs::is_directory(status)) return "it is a directory";
    if (!fs::is_regular_file(status)) return "it is not a regular file";
    const int fd = open_for_reading(path);
    if (fd < 0) return std::strerror(errno);
    // What was opened may be another file than the one looked at.
    std::uintmax_t size = 0;
    if (!regular_file(fd, size)) {
        close_file(fd);
        return "it is not a regular file";
    }
    if (size > limit) {
        close_file(fd);
        too_large = true;
        return larger_than(limit);
    }
    text.clear();
    text.reserve(static_cast<std::size_t>(size));
    // Read to its end, not to the size seen: a file that grows meanwhile
    // is cut off at the limit all the same.
    char buffer[65536];
    for (;;) {
        const long got = read_some(fd, buffer, sizeof buffer);
        if (got < 0) {
            const int error = errno;
            close_file(fd);
            return std::strerror(error);
        }
        if (got == 0) break;
        text.append(buffer, static_cast<std::size_t>(got));
        if (text.size() > limit) {
            close_file(fd);
            too_large = true;
            return larger_than(limit);
        }
    }
    close_file(fd);
    return {};
}

}  // namespace tolvek
