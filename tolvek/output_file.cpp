#include "output_file.hpp"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <exception>
#include <random>
#include <string_view>
#include <system_error>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>
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

#ifdef _WIN32
// The errno of a system error that creating a file may meet, for messages
// that read as on other systems.
int errno_of(DWORD error) {
    switch (error) {
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS: return EEXIST;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE: return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_WRITE_PROTECT: return EACCES;
    case ERROR_FILENAME_EXCED_RANGE: return ENAMETOOLONG;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL: return ENOSPC;
    case ERROR_TOO_MANY_OPEN_FILES: return EMFILE;
    default: return EINVAL;
    }
}

// Marks an open file to go when its last handle is closed (as the process
// ends, however it ends), or no longer.
bool set_to_go(HANDLE handle, bool go) {
    FILE_DISPOSITION_INFO disposition{static_cast<BOOLEAN>(go ? TRUE : FALSE)};
    return SetFileInformationByHandle(handle, FileDispositionInfo, &disposition, sizeof disposition) != 0;
}
#endif

// A file that must be new: an existing name, a link too (dangling or not),
// is never opened. On Windows it is marked to go with the process until it
// is complete (let_go), so that no way of ending the process leaves it.
std::FILE* create_new(const fs::path& path, bool binary) {
#ifdef _WIN32
    const HANDLE handle =
        CreateFileW(path.c_str(), GENERIC_WRITE | DELETE, FILE_SHARE_READ, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        errno = errno_of(GetLastError());
        return nullptr;
    }
    set_to_go(handle, true);
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_WRONLY | (binary ? _O_BINARY : _O_TEXT));
    if (fd == -1) {
        CloseHandle(handle);
        errno = EMFILE;
        return nullptr;
    }
    std::FILE* file = _fdopen(fd, binary ? "wb" : "w");
    if (file == nullptr) _close(fd);
    return file;
#else
    return std::fopen(path.c_str(), binary ? "wbx" : "wx");
#endif
}

// A complete temporary file while the others are written: closed, so that
// a run of any number of outputs has one stream open at a time. On Windows
// a second handle keeps it marked to go with the process until all are
// complete (kept).
struct Complete {
#ifdef _WIN32
    HANDLE handle = nullptr;
#endif
};

// Closes a temporary file whose text is all written; false, with errno
// set, when closing shows a write error.
bool close_complete(std::FILE* file, Complete& complete) {
#ifdef _WIN32
    const HANDLE process = GetCurrentProcess();
    if (!DuplicateHandle(process, reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file))), process, &complete.handle, 0,
                         FALSE, DUPLICATE_SAME_ACCESS)) {
        complete.handle = nullptr;
        std::fclose(file);
        errno = errno_of(GetLastError());
        return false;
    }
#else
    (void)complete;
#endif
    return std::fclose(file) == 0;
}

// The complete file stays when the process ends, or (`keep` false) goes
// with it now (on Windows, where it was still marked to go; elsewhere the
// caller removes it).
void let_go(Complete& complete, bool keep) {
#ifdef _WIN32
    if (complete.handle == nullptr) return;
    if (keep) set_to_go(complete.handle, false);
    CloseHandle(complete.handle);
    complete.handle = nullptr;
#else
    (void)complete;
    (void)keep;
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

// The temporary files while they exist, for the stop handler: one slot
// for each output of a run, made before its first file is created (with
// the signals held, so that the handler never reads them half made), with
// room for the longest name a temporary file beside that output gets.
struct Slot {
    volatile std::sig_atomic_t pending = 0;
    std::vector<fs::path::value_type> name;
};
// Never destroyed: the handler stays in place while the process ends, and a
// stop that comes after the destructors of statics have run must still find
// the slots (all free by then), not freed memory.
std::vector<Slot>& slots = *new std::vector<Slot>;

void remove_pending() {
    for (const Slot& slot : slots) {
        if (slot.pending == 0) continue;
#ifdef _WIN32
        _wremove(slot.name.data());
#else
        unlink(slot.name.data());
#endif
    }
}

#ifdef _WIN32

// Taken by whoever changes which files exist and which are noted; a stop
// waits for it, so that it finds files and notes that agree.
struct Renaming {
    Renaming() { InitializeCriticalSection(&section); }
    CRITICAL_SECTION section;
} renaming;

// A console control event (Ctrl+C, Ctrl+Break, the window closed) is
// answered on a thread of its own while the run goes on. Once the run is
// not changing its files, the complete ones are removed; those still open
// go with the process anyway. Then the process ends at once, as the default
// handler would end it, but without waiting for the main thread, which may
// be ending too.
BOOL WINAPI stop_on_console_event(DWORD) {
    EnterCriticalSection(&renaming.section);
    remove_pending();
    TerminateProcess(GetCurrentProcess(), STATUS_CONTROL_C_EXIT);
    return TRUE;
}

void catch_signals() {
    static const bool caught = SetConsoleCtrlHandler(stop_on_console_event, TRUE) != 0;
    (void)caught;
}

class HeldSignals {
public:
    HeldSignals() { EnterCriticalSection(&renaming.section); }
    ~HeldSignals() { LeaveCriticalSection(&renaming.section); }
    HeldSignals(const HeldSignals&) = delete;
    HeldSignals& operator=(const HeldSignals&) = delete;
};

#else

// Removes the temporary files, then dies of the signal as if not caught.
void remove_pending_and_die(int signal) {
    remove_pending();
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

// Handlers for the signals that end a run from outside; a signal that is
// ignored (nohup, a background job) stays ignored. A file size limit makes
// the write fail instead of killing the process.
void catch_signals() {
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        if (std::signal(signal, remove_pending_and_die) == SIG_IGN) std::signal(signal, SIG_IGN);
    }
    std::signal(SIGXFSZ, SIG_IGN);
}

// Holds back the signals that the handler answers while it lives: a
// temporary file is created and its name noted for the handler (or renamed
// and forgotten) as one step, so that no signal finds the file without its
// name or the name without the file. A signal that comes meanwhile is
// taken as soon as they are let through again.
class HeldSignals {
public:
    HeldSignals() {
        sigset_t set;
        sigemptyset(&set);
        for (const int signal : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&set, signal);
        sigprocmask(SIG_BLOCK, &set, &before_);
    }
    ~HeldSignals() { sigprocmask(SIG_SETMASK, &before_, nullptr); }
    HeldSignals(const HeldSignals&) = delete;
    HeldSignals& operator=(const HeldSignals&) = delete;

private:
    sigset_t before_{};
};

#endif

void remember(std::size_t slot, const fs::path& temporary) {
    const fs::path::string_type& name = temporary.native();
    std::vector<fs::path::value_type>& room = slots[slot].name;
    if (name.size() >= room.size()) return;
    name.copy(room.data(), name.size());
    room[name.size()] = 0;
    slots[slot].pending = 1;
}

// A slot for each of `outputs`, all free.
void make_slots(const std::vector<fs::path>& outputs) {
    const HeldSignals held;
    slots = std::vector<Slot>(outputs.size());
    for (std::size_t i = 0; i < outputs.size(); ++i) {
        // The folder, a separator, a name as long as the output's or the
        // usual temporary one's, and the terminating zero.
        const std::size_t longest = std::max(outputs[i].filename().native().size(), kTemporaryLength);
        slots[i].name.resize(outputs[i].parent_path().native().size() + 1 + longest + 1);
    }
}

// One output on its way: the temporary file that holds it until all are
// complete.
struct Pending {
    const OutputFile* file = nullptr;
    fs::path target;
    fs::path temporary;
    fs::file_status older;          // what the name holds now
    std::FILE* stream = nullptr;    // open while it is written
    Complete complete;              // then closed
};

// Removes the temporary files of `outputs` from `first` on.
void discard(std::vector<Pending>& outputs, std::size_t first) {
    const HeldSignals held;
    for (std::size_t i = first; i < outputs.size(); ++i) {
        if (outputs[i].stream != nullptr) std::fclose(outputs[i].stream);
        outputs[i].stream = nullptr;
        let_go(outputs[i].complete, false);
        std::error_code ignored;
        fs::remove(outputs[i].temporary, ignored);
        slots[i].pending = 0;
    }
}

// Writes one output into a new temporary file beside it, left open; an
// empty string, or the problem.
std::string write_temporary(std::size_t slot, Pending& output) {
    const OutputFile& file = *output.file;
    {
        const HeldSignals held;
        output.stream = create_temporary(output.target.parent_path(), output.target.filename().native().size(),
                                         file.binary, output.temporary);
        if (output.stream == nullptr) {
            const int error = errno;
            return "cannot create '" + file.name + "': " + std::strerror(error);
        }
        remember(slot, output.temporary);
    }
    bool written = true;
    int write_error = 0;
    file.produce([&](std::string_view part) {
        if (!written) return;
        written = std::fwrite(part.data(), 1, part.size(), output.stream) == part.size();
        if (!written) write_error = errno;
    });
    // A full disk may show only when the last of it is written out.
    if (written && std::fflush(output.stream) != 0) {
        written = false;
        write_error = errno;
    }
    if (written) {
        const bool closed = close_complete(output.stream, output.complete);
        output.stream = nullptr;
        if (!closed) {
            written = false;
            write_error = errno;
        }
    }
    if (!written) return "cannot write '" + file.name + "': " + std::strerror(write_error);
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

std::string windows_device(std::string_view file_name) {
    const std::size_t slash = file_name.find_last_of("/\\:");
    if (slash != std::string_view::npos) file_name.remove_prefix(slash + 1);
    std::string base(file_name.substr(0, file_name.find('.')));
    // Windows drops spaces at the end of the part before the extension.
    while (!base.empty() && base.back() == ' ') base.pop_back();
    for (char& c : base) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    for (const char* device : {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"}) {
        if (base == device) return base;
    }
    const bool numbered = base.size() == 4 && (base.starts_with("COM") || base.starts_with("LPT")) && base[3] >= '1' &&
                          base[3] <= '9';
    return numbered ? base : "";
}

bool names_a_device(const std::string& name) {
#ifdef _WIN32
    return !windows_device(name).empty();
#else
    (void)name;
    return false;
#endif
}

std::string output_name(const std::string& image, const char* extension) {
    return file_name(file_path(image).replace_extension(extension));
}

std::string check_replaceable(const std::string& name) {
    if (names_a_device(name)) return "cannot replace '" + name + "': it is the device " + windows_device(name);
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
    std::vector<Pending> outputs;
    for (const OutputFile& file : files) {
        if (std::string problem = check_replaceable(file.name); !problem.empty()) return problem;
        std::error_code ec;
        const fs::path target = file_path(file.name);
        outputs.push_back({&file, target, {}, fs::status(target, ec), nullptr, {}});
    }
    std::vector<fs::path> targets;
    for (const Pending& output : outputs) targets.push_back(output.target);
    make_slots(targets);
    catch_signals();
    for (std::size_t i = 0; i < outputs.size(); ++i) {
        if (std::string problem = write_temporary(i, outputs[i]); !problem.empty()) {
            discard(outputs, 0);
            return problem;
        }
    }
    // All complete: now they replace the older files, all of them before a
    // stop that comes meanwhile is taken.
    const HeldSignals held;
    for (Pending& output : outputs) let_go(output.complete, true);
    for (std::size_t i = 0; i < outputs.size(); ++i) {
        Pending& output = outputs[i];
        std::error_code ec;
        if (fs::is_regular_file(output.older)) fs::permissions(output.temporary, output.older.permissions(), ec);
        fs::rename(output.temporary, output.target, ec);
        if (ec) {
            discard(outputs, i);
            return "cannot create '" + output.file->name + "': " + ec.message();
        }
        slots[i].pending = 0;
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
