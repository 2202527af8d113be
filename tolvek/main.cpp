// Tolvek.exe: the 6502 disassembler prgdis runs to turn a C64 memory image
// into ACME source (-a) or a listing (-w).
#include <iostream>
#include <string>
#include <vector>

#include "app.hpp"

int main(int argc, char** argv) {
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
    return tolvek::run(args, std::cout, std::cerr);
}
