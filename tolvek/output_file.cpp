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
std::FILE* create_new(const fs::path& path, bool binary) {
#ifdef _WIN32
    // The C runtime's fopen ignores "x"; _O_EXCL is CREATE_NEW.
    const int mode = binary ? _O_BINARY : _O_TEXT;
    const int fd = _wopen(path.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | mode, _S_IREAD | _S_IWRITE);
    if (fd < 0) return nullptr;
    std::FILE* file = _fdopen(fd, binary ? "wb" : "w");
    if (file == nullptr) _close(fd);
    return file;
#else
    return std::fopen(path.c_str(), binary ? "wbx" : "wx");
#endif
}

// Creates the temporary file in `folder` and names it in `temporary`;
// nullptr with errno set when it cannot be created. Only when a fresh name
// of the usual length fails for another reason than being taken (a path at
// the system's length limit), one as long as the output's own name is tried.
std::FILE* create_temporary(const fs::path& folder, std::size_t output_length, bool binary, fs::path& temporary) {
    std::size_t length = kTemporaryLength;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        temporary = folder / random_name(length);
        errno = 0;
        if (std::FILE* file = create_new(temporary, binary)) return file;
        if (errno == EEXIST) continue;
        if (length <= output_length || output_length < 2) return nullptr;
        length = output_length;
    }
    return nullptr;
}

// The temporary files while they exist, for the signal handler: one slot
// for each output of a run. No path that the system takes is longer.
constexpr std::size_t kSlots = 8;
volatile std::sig_atomic_t pending[kSlots] = {};
char pending_name[kSlots][4096];

// Removes the temporary files, then dies of the signal as if not caught.
void remove_pending_and_die(int signal) {
    for (std::size_t slot = 0; slot < kSlots; ++slot) {
        if (pending[slot] != 0) std::remove(pending_name[slot]);
    }
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

// Holds back the signals that the handler answers while it lives: a
// temporary file is created and its name noted for the handler (or renamed
// and forgotten) as one step, so that no signal finds the file without its
// name or the name without the file. A signal that comes meanwhile is
// taken as soon as they are let through again.
class HeldSignals {
public:
    HeldSignals() {
#ifndef _WIN32
        sigset_t set;
        sigemptyset(&set);
        for (const int signal : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&set, signal);
        sigprocmask(SIG_BLOCK, &set, &before_);
#endif
    }
    ~HeldSignals() {
#ifndef _WIN32
        sigprocmask(SIG_SETMASK, &before_, nullptr);
#endif
    }
    HeldSignals(const HeldSignals&) = delete;
    HeldSignals& operator=(const HeldSignals&) = delete;

private:
#ifndef _WIN32
    sigset_t before_{};
#endif
};

void remember(std::size_t slot, const fs::path& temporary) {
    const std::string name = file_name(temporary);
    if (name.size() >= sizeof pending_name[slot]) return;
    name.copy(pending_name[slot], name.size());
    pending_name[slot][name.size()] = '\0';
    pending[slot] = 1;
}

// One output on its way: the temporary file that holds it until all are
// complete.
struct Pending {
    const OutputFile* file = nullptr;
    fs::path target;
    fs::path temporary;
    fs::file_status older;  // what the name holds now
};

// Removes the temporary files of `outputs` from `first` on.
void discard(std::vector<Pending>& outputs, std::size_t first) {
    const HeldSignals held;
    for (std::size_t i = first; i < outputs.size(); ++i) {
        std::error_code ignored;
        fs::remove(outputs[i].temporary, ignored);
        pending[i] = 0;
    }
}

// Writes one output into a new temporary file beside it; an empty string,
// or the problem.
std::string write_temporary(std::size_t slot, Pending& output) {
    const OutputFile& file = *output.file;
    std::FILE* stream = nullptr;
    {
        const HeldSignals held;
        stream = create_temporary(output.target.parent_path(), output.target.filename().native().size(), file.binary,
                                  output.temporary);
        if (stream == nullptr) {
            const int error = errno;
            return "cannot create '" + file.name + "': " + std::strerror(error);
        }
        remember(slot, output.temporary);
    }
    bool written = true;
    int write_error = 0;
    file.produce([&](std::string_view part) {
        if (!written) return;
        written = std::fwrite(part.data(), 1, part.size(), stream) == part.size();
        if (!written) write_error = errno;
    });
    const bool closed = std::fclose(stream) == 0;
    if (!written || !closed) return "cannot write '" + file.name + "': " + std::strerror(written ? errno : write_error);
    return {};
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

std::string check_replaceable(const std::string& name) {
    std::error_code ec;
    // What a link leads to counts: a link to a file made read-only is the
    // user's word too. The link itself is replaced, not written through.
    const fs::file_status older = fs::status(file_path(name), ec);
    if (!fs::exists(older)) return {};
    if (fs::is_directory(older)) return "cannot replace '" + name + "': it is a folder";
    if (!fs::is_regular_file(older)) return "cannot replace '" + name + "': it is not a regular file";
    if ((older.permissions() & fs::perms::owner_write) == fs::perms::none) {
        return "cannot replace '" + name + "': it is read-only";
    }
    return {};
}

std::string write_output_files(const std::vector<OutputFile>& files) {
    if (files.size() > kSlots) return "too many outputs at once";
    std::vector<Pending> outputs;
    for (const OutputFile& file : files) {
        if (std::string problem = check_replaceable(file.name); !problem.empty()) return problem;
        std::error_code ec;
        const fs::path target = file_path(file.name);
        outputs.push_back({&file, target, {}, fs::status(target, ec)});
    }
    catch_signals();
    for (std::size_t i = 0; i < outputs.size(); ++i) {
        if (std::string problem = write_temporary(i, outputs[i]); !problem.empty()) {
            discard(outputs, 0);
            return problem;
        }
    }
    // All complete: now they replace the older files, all of them before a
    // signal that comes meanwhile is taken.
    const HeldSignals held;
    for (std::size_t i = 0; i < outputs.size(); ++i) {
        Pending& output = outputs[i];
        std::error_code ec;
        if (fs::is_regular_file(output.older)) fs::permissions(output.temporary, output.older.permissions(), ec);
        fs::rename(output.temporary, output.target, ec);
        if (ec) {
            discard(outputs, i);
            return "cannot create '" + output.file->name + "': " + ec.message();
        }
        pending[i] = 0;
    }
    return {};
}

std::string write_output_file(const std::string& name, const std::string& content) {
    return write_output_file(name, [&](const std::function<void(std::string_view)>& put) { put(content); });
}

std::string write_output_file(const std::string& name, const TextProducer& produce) {
    return write_output_files({OutputFile{name, produce}});
}

}  // namespace tolvek
