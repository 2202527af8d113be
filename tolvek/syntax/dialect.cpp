#include "syntax/dialect.hpp"

#include <cctype>
#include <string>

#include "c64/petscii.hpp"

namespace tolvek {
namespace {

// `chars` without the characters a string cannot hold as they are: the
// quote ends it.
constexpr std::array<char, 256> without(std::array<char, 256> chars, std::string_view refused) {
    for (char& c : chars) {
        if (refused.find(c) != std::string_view::npos) c = 0;
    }
    return chars;
}

constexpr std::array<char, 256> kPetsciiStrings = without(kPetsciiChars, "\"");
// The zero is an @ on the screen, but far more often the end of a text.
constexpr std::array<char, 256> kScreenStrings = [] {
    std::array<char, 256> chars = without(kScreenChars, "\"");
    chars[0] = 0;
    return chars;
}();

}  // namespace

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
    .text = {{{"!pet ", "", kPetsciiStrings}, {"!scr ", "", kScreenStrings}}},
    .text_definitions = {},
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
    // The source defines its encodings rather than rely on the default,
    // which a command-line option changes.
    .text = {{{".text ", ".enc \"petscii\"", kPetsciiStrings}, {".text ", ".enc \"screencodes\"", kScreenStrings}}},
    .text_definitions = "\t.enc \"petscii\"\n"
                        "\t.cdef \" @\", $20\n"
                        "\t.cdef \"az\", $41\n"
                        "\t.cdef \"AZ\", $c1\n"
                        "\t.cdef \"[[\", $5b\n"
                        "\t.cdef \"]]\", $5d\n"
                        "\t.enc \"screencodes\"\n"
                        "\t.cdef \" ?\", $20\n"
                        "\t.cdef \"@@\", $00\n"
                        "\t.cdef \"az\", $01\n"
                        "\t.cdef \"AZ\", $41\n"
                        "\t.cdef \"[[\", $1b\n"
                        "\t.cdef \"]]\", $1d\n",
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
    .reserved = {{{"a register", "a x y"}, {"an address size", "z f"}, {"a macro", "petscii_text screen_text"}}},
    // Strings are translated by the character map in effect; each macro
    // sets the map for one encoding (the letters, @, [ and ]; the rest of
    // ASCII stays as it is).
    .text = {{{".byte ", "petscii_text", kPetsciiStrings}, {".byte ", "screen_text", kScreenStrings}}},
    .text_definitions = ".macro petscii_text\n"
                        "\t.repeat 26, i\n"
                        "\t\t.charmap $61 + i, $41 + i\n"
                        "\t\t.charmap $41 + i, $c1 + i\n"
                        "\t.endrepeat\n"
                        "\t.charmap $40, $40\n"
                        "\t.charmap $5b, $5b\n"
                        "\t.charmap $5d, $5d\n"
                        ".endmacro\n"
                        ".macro screen_text\n"
                        "\t.repeat 26, i\n"
                        "\t\t.charmap $61 + i, $01 + i\n"
                        "\t\t.charmap $41 + i, $41 + i\n"
                        "\t.endrepeat\n"
                        "\t.charmap $40, $00\n"
                        "\t.charmap $5b, $1b\n"
                        "\t.charmap $5d, $1d\n"
                        ".endmacro\n",
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
