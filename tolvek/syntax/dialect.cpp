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
    .renamed = {{{"lxa", "lax"}, {"sbx", "axs"}}},
    .reserved = {{{"a register", "a x y"}, {"an address size", "z f"}}},
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
    .reserved = {},
    .mnemonics_are_names = true,
    // A branch target past $FFFF or below $0000 is out of range to it.
    .wrapped_branch_relative = true,
};

// xa (xa65): writes no load address of its own, so the source starts with
// it as a word. "-M" keeps it from reading a ":" in a comment as the start
// of the next statement. It knows no undocumented opcodes, but the 65C02's
// and the 65816's mnemonics, which it reads as such even without -w.
const Dialect kXa{
    .name = "xa",
    .other_name = "xa65",
    .assembler = "xa",
    .build = "xa -M -o {program} {source}",
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
