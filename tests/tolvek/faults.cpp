// Faults for Tolvek.exe, loaded with LD_PRELOAD by the output tests and set
// by TOLVEK_FAULT:
//   plant:<file>   just before the first file is opened for writing, a
//                  symbolic link to <file> appears under its name, as if an
//                  attacker had learnt the name at the last moment;
//   signal:<n>     rename() raises signal n first: the run is stopped while
//                  its temporary file exists;
//   created:<n>    fopen() raises signal n right after it created a file
//                  for writing: the run is stopped at the first moment the
//                  file exists;
//   exiting:<n>[:<program>]
//                  signal n is raised as the process ends (only <program>,
//                  if named, and not the processes it starts), after the
//                  program's own statics are destroyed;
//   log:<file>     rename() appends the name it moves away (the temporary
//                  file's) and a newline to <file>.
#include <dlfcn.h>
#include <unistd.h>

#include <cerrno>  // program_invocation_short_name
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

std::string fault(const char* kind) {
    const char* setting = std::getenv("TOLVEK_FAULT");
    const std::string prefix = std::string(kind) + ":";
    if (setting == nullptr || std::strncmp(setting, prefix.c_str(), prefix.size()) != 0) return {};
    return setting + prefix.size();
}

template <typename Function>
Function next(const char* name) {
    return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

bool planted = false;

void plant(const char* path, const char* mode) {
    const std::string target = fault("plant");
    if (target.empty() || planted || mode[0] != 'w') return;
    planted = true;
    if (symlink(target.c_str(), path) != 0) std::abort();
}

std::FILE* created(std::FILE* file, const char* mode) {
    const std::string signal = fault("created");
    if (file != nullptr && mode[0] == 'w' && !signal.empty()) std::raise(std::atoi(signal.c_str()));
    return file;
}

// Runs after the destructors of the program's statics: a library loaded
// before the program ends after it.
__attribute__((destructor)) void raise_when_exiting() {
    const std::string setting = fault("exiting");
    const std::size_t colon = setting.find(':');
    if (setting.empty() ||
        (colon != std::string::npos && setting.substr(colon + 1) != program_invocation_short_name)) {
        return;
    }
    std::raise(std::atoi(setting.c_str()));
}

}  // namespace

extern "C" {

std::FILE* fopen(const char* path, const char* mode) {
    plant(path, mode);
    return created(next<std::FILE* (*)(const char*, const char*)>("fopen")(path, mode), mode);
}

std::FILE* fopen64(const char* path, const char* mode) {
    plant(path, mode);
    return created(next<std::FILE* (*)(const char*, const char*)>("fopen64")(path, mode), mode);
}

int rename(const char* from, const char* to) noexcept {
    const std::string signal = fault("signal");
    if (!signal.empty()) std::raise(std::atoi(signal.c_str()));
    const std::string log = fault("log");
    if (!log.empty()) {
        if (std::FILE* file = next<std::FILE* (*)(const char*, const char*)>("fopen")(log.c_str(), "a")) {
            std::fprintf(file, "%s\n", from);
            std::fclose(file);
        }
    }
    return next<int (*)(const char*, const char*)>("rename")(from, to);
}

}  // extern "C"
