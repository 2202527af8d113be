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

// Strings of an assembler that takes each character as its ASCII byte
// (xa's default): the bytes in [first, last] that are printable ASCII.
constexpr std::array<char, 256> as_ascii(int first, int last, std::string_view refused) {
    std::array<char, 256> chars{};
    for (int byte = first; byte <= last; ++byte) {
        if (byte >= 0x20 && byte < 0x7f) chars[static_cast<std::size_t>(byte)] = static_cast<char>(byte);
    }
    return without(chars, refused);
}

// dasm's strings are ASCII; its dv passes each character (and number) of
// a row through a translation the source defines (petscii_text,
// screen_text): the same characters as ACME's. It makes "/*" in a string
// into ";/*": a slash is a number.
constexpr std::array<char, 256> kDasmPetscii = without(kPetsciiStrings, "/");
constexpr std::array<char, 256> kDasmScreen = without(kScreenStrings, "/");

// xa translates its strings to screen codes with -O PETSCREEN, as ACME's
// !scr does: PETSCII's $41-$5A are its capitals, the C64's capitals in its
// upper case and graphics set; PETSCII's @ [ ] and $C1-$DA have no
// character. (-O PETSCII would write $41-$5A in lower case but leave
// screen codes' letters without one.)
constexpr std::array<char, 256> kXaPetscii = as_ascii(0x20, 0x5a, "\"@");
// -O HIGH sets the top bit of each character: PETSCII's $C1-$DA are its
// capitals (the C64's capitals in its lower and upper case set), and no
// screen code has a character.
constexpr std::array<char, 256> kXaHighPetscii = [] {
    std::array<char, 256> chars{};
    for (int byte = 0xc1; byte <= 0xda; ++byte) chars[static_cast<std::size_t>(byte)] = static_cast<char>(byte - 0x80);
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
    .text = {{{"!pet ", "", kPetsciiStrings, false}, {"!scr ", "", kScreenStrings, false}}},
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
    .text = {{{".text ", ".enc \"petscii\"", kPetsciiStrings, false}, {".text ", ".enc \"screencodes\"", kScreenStrings, false}}},
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
    .renamed = {{{"lxa", "lax"}, {"sbx", "axs"}}},
    .reserved = {{{"a register", "a x y"}, {"an address size", "z f"}, {"a macro", "petscii_text screen_text"}}},
    // Strings are translated by the character map in effect; each macro
    // sets the map for one encoding (the letters, @, [ and ]; the rest of
    // ASCII stays as it is).
    .text = {{{".byte ", "petscii_text", kPetsciiStrings, false}, {".byte ", "screen_text", kScreenStrings, false}}},
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

// dasm: labels in the first column, everything else indented; its
// undocumented mnemonics need no more than "processor 6502", which it needs
// anyway. "-f1" writes the load address from the first org.
const Dialect kDasm{
    .name = "dasm",
    .assembler = "dasm",
    .build = "dasm {source} -f1 -o{program}",
    .config = {},
    .preamble = "\tprocessor 6502\n",
    .origin = "org ",
    .label_suffix = "",
    .byte_directive = "dc.b ",
    .word_directive = "dc.w ",
    .item_separator = ", ",
    .mnemonic_suffix = {"", ".z", ".w"},
    .operand_prefix = {"", "", ""},
    .cpu_directive = {},
    .renamed = {{{"isc", "isb"}, {"alr", "asr"}}},
    .reserved = {{{"a translation", "petscii_text screen_text"}}},
    .text = {{{"dv.b petscii_text ", "", kDasmPetscii, true}, {"dv.b screen_text ", "", kDasmScreen, true}}},
    // Letters, @ [ and ] only: the numbers of a row (control codes, the
    // zero, the quote) go through unchanged.
    .text_definitions = "petscii_text\teqm .. - ((.. >= $61) * (.. <= $7a) * $20) + ((.. >= $41) * (.. <= $5a) * $80)\n"
                        "screen_text\teqm .. - ((.. >= $61) * (.. <= $7a) * $60) - ((.. == $40) * $40)"
                        " - ((.. == $5b) * $40) - ((.. == $5d) * $40)\n",
    .mnemonics_are_names = true,
    // A branch target past $FFFF or below $0000 is out of range to it.
    .wrapped_branch_relative = true,
};

// xa (xa65): writes no load address of its own, so the source starts with
// it as a word. "-M" keeps it from reading a ":" in a comment as the start
// of the next statement; "-O" names how it translates its strings. It knows no undocumented opcodes, but the 65C02's
// and the 65816's mnemonics, which it reads as such even without -w.
const Dialect kXa{
    .name = "xa",
    .other_name = "xa65",
    .assembler = "xa",
    .build = "xa -M -O {translation} -o {program} {source}",
    .config = {},
    .preamble = "\t.word {load}\n",
    .origin = "* = ",
    .label_suffix = "",
    .byte_directive = ".byt ",
    .word_directive = ".word ",
    .mnemonic_suffix = {"", "", ""},
    // "`": zero page for a name defined further down.
    .operand_prefix = {"", "`", "!"},
    .cpu_directive = {},
    .undocumented_mnemonics = false,
    .renamed = {},
    .reserved = {{{"an instruction", "bbr bbs bra brl cop mvn mvp pea pei per phb phd phk phx phy plb pld plx ply "
                                     "rep rmb rtl sep smb stp stz tcd tcs tdc trb tsb tsc txy tyx wai wdb xba xce"}}},
    .text = {{{".byt ", "", kXaPetscii, false}, {".byt ", "", kScreenStrings, false}}},
    .text_definitions = {},
    // Screen codes for text in them or in PETSCII's lower case; the top
    // bit set for PETSCII's capitals.
    .translations = {{{"PETSCREEN", {{{".byt ", "", kXaPetscii, false}, {".byt ", "", kScreenStrings, false}}}},
                      {"HIGH", {{{".byt ", "", kXaHighPetscii, false}, {".byt ", "", {}, false}}}}}},
    .preprocessed_comments = true,
    // Measured: statements of more than 199,978 bytes in all are "Out of
    // memory" to it; the room leaves a little for what the count leaves out
    // (its origin line takes 11, an equate 4).
    .statement_room = 199'900,
    .statement_cost = 5,
};

std::string_view reserved_meaning(const Dialect& dialect, std::string_view name) {
    std::string key(name);
    for (char& c : key) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    for (int byte = 0; byte < 256 && !dialect.mnemonics_are_names; ++byte) {
        const auto opcode_byte = static_cast<std::uint8_t>(byte);
        if (!dialect.undocumented_mnemonics && !opcode(opcode_byte).documented()) continue;
        if (mnemonic(dialect, opcode_byte) == key) return "an instruction";
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
        if (dialect->name == name || (!dialect->other_name.empty() && dialect->other_name == name)) return dialect;
    }
    return nullptr;
}

std::string_view dialect_names() { return "acme, 64tass, ca65, dasm, xa"; }

}  // namespace tolvek
