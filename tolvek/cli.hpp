// The command line: Tolvek.exe -a|-w -c6502|-c6502doc -o<load> -e<entry> -t <image> [-s<dialect>] ...
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "emu/run.hpp"
#include "syntax/dialect.hpp"
#include "version.hpp"

namespace tolvek {

enum class OutputKind { Assembly, Listing };

struct Options {
    OutputKind output = OutputKind::Assembly;
    std::uint32_t load = 0;
    std::int64_t entry = 0;
    std::string image;
    bool program_file = false;  // -p: the image is a program file, its load address in its first two bytes
    bool undocumented = true;  // -c6502: the C64's 6510 with its undocumented opcodes; -c6502doc: without
    const Dialect* dialect = &kAcme;
    std::string hints;        // --hints: the hints file; empty: <image minus extension>.hints if there is one
    std::string write_hints;  // --write-hints: where to write the analysis as hints
    std::string vice_labels;  // --vice-labels: where to write the labels for VICE
    RunOptions run;           // --run-cycles: the run's budget; 0: no run
    bool run_cycles_given = false;  // --run-cycles was given: it wins over the hints' run-cycles
    bool unpack = false;      // --unpack: write what the program unpacked as <image minus extension>.unpacked.prg
    bool pictures = false;    // --pictures: write the graphics as PNG files, <image minus extension>.<object>.png
    bool html = false;        // --html: write a page of the disassembly, <image minus extension>.html
};

struct ParsedArgs {
    bool help = false;
    bool version = false;
    std::string error;  // one line naming the problem; empty when fine
    Options options;
};

// Parses the arguments after the program name. Values may follow their
// option directly (-o2049) or as the next argument (-o 2049).
ParsedArgs parse_args(const std::vector<std::string>& args);

std::string usage();

}  // namespace tolvek
