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
//   log:<file>     rename() appends the name it moves away (the temporary
//                  file's) and a newline to <file>.
#include <dlfcn.h>
#include <unistd.h>

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
