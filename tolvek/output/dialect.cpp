#include "output/dialect.hpp"

namespace tolvek {

const Dialect kAcme{
    .name = "acme",
    .assembler = "ACME",
    .build = "acme -f cbm -o {program} {source}",
    .config = {},
    .preamble = {},
    .origin = "* = ",
    .label_suffix = "",
    .byte_directive = "!byte ",
    .word_directive = "!word ",
    .mnemonic_suffix = {"", "+1", "+2"},
    .operand_prefix = {"", "", ""},
    .cpu_directive = "!cpu 6510",
    .renamed = {},
};

const Dialect k64tass{
    .name = "64tass",
    .assembler = "64tass",
    .build = "64tass --cbm-prg -o {program} {source}",
    .config = {},
    .preamble = {},
    .origin = "* = ",
    .label_suffix = "",
    .byte_directive = ".byte ",
    .word_directive = ".word ",
    .mnemonic_suffix = {"", "", ""},
    .operand_prefix = {"", "@b ", "@w "},
    .cpu_directive = ".cpu \"6502i\"",
    .renamed = {},
};

const Dialect kCa65{
    .name = "ca65",
    .assembler = "ca65",
    .build = "cl65 -t none -C {config} -o {program} {source}",
    .config = "MEMORY {\n"
              "    PRG: file = %O, start = $0000, size = $10002;\n"
              "}\n"
              "SEGMENTS {\n"
              "    CODE: load = PRG, type = rw;\n"
              "}\n",
    .preamble = "\t.word {load}\n",
    .origin = ".org ",
    .label_suffix = ":",
    .byte_directive = ".byte ",
    .word_directive = ".word ",
    .mnemonic_suffix = {"", "", ""},
    .operand_prefix = {"", "z:", "a:"},
    .cpu_directive = ".setcpu \"6502X\"",
    .renamed = {{{0xab, "lax"}, {0xcb, "axs"}}},
    .wrapped_branch_relative = true,
};

const Dialect* find_dialect(std::string_view name) {
    for (const Dialect* dialect : {&kAcme, &k64tass, &kCa65}) {
        if (dialect->name == name) return dialect;
    }
    return nullptr;
}

std::string_view dialect_names() { return "acme, 64tass, ca65"; }

}  // namespace tolvek
