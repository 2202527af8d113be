#include "output_file.hpp"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <exception>
#include <random>
#include <string_view>
#include <system_error>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#endif

namespace tolvek {
namespace fs = std::filesystem;

namespace {

// '.' and 13 base-32 digits, 65 random bits: short enough that a name that
// works for the output works for its temporary file too, and not to be
// guessed. Lower case only, as Windows does not tell case apart.
constexpr std::size_t kTemporaryLength = 14;
constexpr std::string_view kDigits = "0123456789abcdefghijklmnopqrstuv";
constexpr int kAttempts = 100;

std::string random_name(std::size_t length) {
    std::random_device random;
    std::string name = ".";
    while (name.size() < length) name += kDigits[random() % kDigits.size()];
    return name;
}

// A file that must be new: an existing name, a link too (dangling or not),
// is never opened.
std::FILE* create_new(const fs::path& path) {
#ifdef _WIN32
    // The C runtime's fopen ignores "x"; _O_EXCL is CREATE_NEW.
    const int fd = _wopen(path.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_TEXT, _S_IREAD | _S_IWRITE);
    if (fd < 0) return nullptr;
    std::FILE* file = _fdopen(fd, "w");
    if (file == nullptr) _close(fd);
    return file;
#else
    return std::fopen(path.c_str(), "wx");
#endif
}

// Creates the temporary file in `folder` and names it in `temporary`;
// nullptr with errno set when it cannot be created. Only when a fresh name
// of the usual length fails for another reason than being taken (a path at
// the system's length limit), one as long as the output's own name is tried.
std::FILE* create_temporary(const fs::path& folder, std::size_t output_length, fs::path& temporary) {
    std::size_t length = kTemporaryLength;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        temporary = folder / random_name(length);
        errno = 0;
        if (std::FILE* file = create_new(temporary)) return file;
        if (errno == EEXIST) continue;
        if (length <= output_length || output_length < 2) return nullptr;
        length = output_length;
    }
    return nullptr;
}

// The temporary file while it exists, for the signal handler. No path that
// the system takes is longer.
volatile std::sig_atomic_t pending = 0;
char pending_name[4096];

// Removes the temporary file, then dies of the signal as if not caught.
void remove_pending_and_die(int signal) {
    if (pending != 0) std::remove(pending_name);
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

// Handlers for the signals that end a run from outside; a signal that is
// ignored (nohup, a background job) stays ignored. A file size limit makes
// the write fail instead of killing the process.
void catch_signals() {
    for (const int signal : {SIGINT, SIGTERM}) {
        if (std::signal(signal, remove_pending_and_die) == SIG_IGN) std::signal(signal, SIG_IGN);
    }
#ifdef SIGHUP
    if (std::signal(SIGHUP, remove_pending_and_die) == SIG_IGN) std::signal(SIGHUP, SIG_IGN);
#endif
#ifdef SIGXFSZ
    std::signal(SIGXFSZ, SIG_IGN);
#endif
}

void remember(const fs::path& temporary) {
    const std::string name = file_name(temporary);
    if (name.size() >= sizeof pending_name) return;
    name.copy(pending_name, name.size());
    pending_name[name.size()] = '\0';
    pending = 1;
}

void discard(const fs::path& temporary) {
    std::error_code ignored;
    fs::remove(temporary, ignored);
    pending = 0;
}

}  // namespace

fs::path file_path(const std::string& name) {
#ifdef _WIN32
    try {
        return fs::path(std::u8string(name.begin(), name.end()));
    } catch (const std::exception&) {
        // Not UTF-8: a Windows older than the manifest's code page setting
        // gave the name in its own code page.
        return fs::path(name);
    }
#else
    return fs::path(name);
#endif
}

std::string file_name(const fs::path& path) {
#ifdef _WIN32
    const std::u8string name = path.u8string();
    return std::string(name.begin(), name.end());
#else
    return path.string();
#endif
}

std::string output_name(const std::string& image, const char* extension) {
    return file_name(file_path(image).replace_extension(extension));
}

std::string write_output_file(const std::string& name, const std::string& content) {
    return write_output_file(name, [&](const std::function<void(std::string_view)>& put) { put(content); });
}

std::string check_replaceable(const std::string& name) {
    std::error_code ec;
    const fs::file_status older = fs::status(file_path(name), ec);
    if (fs::is_regular_file(older) && (older.permissions() & fs::perms::owner_write) == fs::perms::none) {
        return "cannot replace '" + name + "': it is read-only";
    }
    return "";
}

std::string write_output_file(const std::string& name, const TextProducer& produce) {
    const fs::path target = file_path(name);
    if (std::string problem = check_replaceable(name); !problem.empty()) return problem;
    std::error_code ec;
    const fs::file_status older = fs::status(target, ec);
    const bool replacing = fs::is_regular_file(older);

    catch_signals();
    fs::path temporary;
    std::FILE* file = create_temporary(target.parent_path(), target.filename().native().size(), temporary);
    if (file == nullptr) {
        const int error = errno;
        return "cannot create '" + name + "': " + std::strerror(error);
    }
    remember(temporary);
    bool written = true;
    int write_error = 0;
    produce([&](std::string_view part) {
        if (!written) return;
        written = std::fwrite(part.data(), 1, part.size(), file) == part.size();
        if (!written) write_error = errno;
    });
    const bool closed = std::fclose(file) == 0;
    if (!written || !closed) {
        const std::string reason = std::strerror(written ? errno : write_error);
        discard(temporary);
        return "cannot write '" + name + "': " + reason;
    }
    if (replacing) fs::permissions(temporary, older.permissions(), ec);
    fs::rename(temporary, target, ec);
    if (ec) {
        discard(temporary);
        return "cannot create '" + name + "': " + ec.message();
    }
    pending = 0;
    return {};
}

}  // namespace tolvek
