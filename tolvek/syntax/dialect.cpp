#include "syntax/dialect.hpp"

#include <cctype>
#include <string>

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
    .reserved = {{{"an instruction", "asr dop top"}, {"an operator", "not"}}},
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
    .reserved = {{{"an instruction", "shl shr bge blt cpa gcc gcs geq gge glt gmi gne gpl gvc gvs "
                                     "asr isb lds shs ahx axs dcm ins lae xaa"},
                  // Also the index registers of other CPUs: ",r" in ".word q,r" indexes.
                  {"a register", "a b d k r s x y z"}}},
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
    .reserved = {{{"a register", "a x y"}, {"an address size", "z f"}}},
    .wrapped_branch_relative = true,
};

std::string_view reserved_meaning(const Dialect& dialect, std::string_view name) {
    std::string key(name);
    for (char& c : key) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    for (int byte = 0; byte < 256; ++byte) {
        if (mnemonic(dialect, static_cast<std::uint8_t>(byte)) == key) return "an instruction";
    }
    for (const Reserved& reserved : dialect.reserved) {
        for (std::string_view words = reserved.words; !words.empty();) {
            const std::size_t space = words.find(' ');
            if (words.substr(0, space) == key) return reserved.meaning;
            words = space == std::string_view::npos ? std::string_view{} : words.substr(space + 1);
        }
    }
    return {};
}

const Dialect* find_dialect(std::string_view name) {
    for (const Dialect* dialect : kDialects) {
        if (dialect->name == name) return dialect;
    }
    return nullptr;
}

std::string_view dialect_names() { return "acme, 64tass, ca65"; }

}  // namespace tolvek
