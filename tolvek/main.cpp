// Tolvek.exe: the 6502 disassembler prgdis runs to turn a C64 memory image
// into ACME source (-a) or a listing (-w).
#include <iostream>
#include <string>
#include <vector>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <exception>
#include <filesystem>
#include <sstream>
#endif

#include "app.hpp"

#ifdef _WIN32
// Text in UTF-8, the program's code page on Windows. A console shows bytes
// in its own code page instead, so it gets UTF-16; files and pipes get the
// bytes.
static void print(std::FILE* stream, const std::string& text) {
    if (text.empty()) return;
    if (_isatty(_fileno(stream))) {
        try {
            const std::wstring wide = std::filesystem::path(std::u8string(text.begin(), text.end())).wstring();
            std::fflush(stream);
            const int mode = _setmode(_fileno(stream), _O_U16TEXT);
            std::fputws(wide.c_str(), stream);
            std::fflush(stream);
            _setmode(_fileno(stream), mode);
            return;
        } catch (const std::exception&) {
            // Not UTF-8 after all: the bytes as they are.
        }
    }
    std::fputs(text.c_str(), stream);
}
#endif

int main(int argc, char** argv) {
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
#ifdef _WIN32
    std::ostringstream out;
    std::ostringstream err;
    const int status = tolvek::run(args, out, err);
    print(stdout, out.str());
    print(stderr, err.str());
    return status;
#else
    return tolvek::run(args, std::cout, std::cerr);
#endif
}
