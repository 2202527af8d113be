// How each assembler spells what a listing holds. A dialect is a table:
// the writers take all their syntax from it.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

#include "cpu/opcodes.hpp"
#include "syntax/operand_width.hpp"

namespace tolvek {

// A mnemonic an assembler spells otherwise than the opcode table, for
// every opcode the table spells so.
struct Renamed {
    std::string_view from;  // empty: no renaming
    std::string_view to;
};

// Words an assembler reads as something other than a name wherever a label
// stands, besides the mnemonics it writes: lower case, split by spaces, and
// what it takes them for.
struct Reserved {
    std::string_view meaning;  // "an instruction", "a register", ...
    std::string_view words;    // "shl shr bge"
};

// How an assembler writes text as string literals, exactly to the byte.
struct TextEncoding {
    std::string_view directive;  // before a row of text, one space included
    // The line that makes the strings after it encode this way (the source
    // defines the encoding before the origin); empty where the directive
    // alone says how.
    std::string_view select;
    // For each byte, the character that stands for it in a string; 0 where
    // the byte is written as a number.
    std::array<char, 256> chars;
    // Whether the numbers in a row of text go through the same translation
    // as its characters (dasm's dv): a number that is the code of a
    // character translated to another byte cannot stand in such a row.
    bool numbers_translated;
};

// A translation an assembler applies to every string of a source, named
// on its command line (xa's -O), with what it can write.
struct SourceTranslation {
    std::string_view option;  // the build command's {translation}; empty: none
    std::array<TextEncoding, 2> text;
};

// Which encoding a row of text is in, indexing Dialect::text.
enum class TextSet : std::uint8_t { Petscii, ScreenCodes };

struct Dialect {
    std::string_view name;       // as the command line names it
    std::string_view other_name = {};  // also taken on the command line, or empty
    std::string_view assembler;  // as its makers name it
    // The command that rebuilds the program; {source} and {program} stand
    // for the file names, {config} for the linker configuration's.
    std::string_view build;
    std::string_view config;     // a linker configuration to write beside the source, or empty
    std::string_view preamble;   // lines before the origin, "\n" ended; {load} is the load address
    std::string_view origin;     // before the origin address, as in "* = $0801"
    std::string_view label_suffix;    // after a label where it is defined
    std::string_view byte_directive;  // before a row of bytes, one space included
    std::string_view word_directive;  // before a row of 16-bit words
    // Between the names of a row of address items: dasm reads ",x" or ",y"
    // right after a comma as an index register, also at the start of a
    // name (x_1).
    std::string_view item_separator = ",";
    // How a stated operand width is written, by Width: after the mnemonic
    // and before the operand.
    std::array<std::string_view, 3> mnemonic_suffix;
    std::array<std::string_view, 3> operand_prefix;
    // The line that lets the 6510's undocumented mnemonics through, written
    // before the origin when the source has any; empty where none is needed.
    std::string_view cpu_directive;
    // Whether it has mnemonics for the undocumented opcodes at all; without,
    // such an instruction is written as its bytes, and the comment shows it.
    bool undocumented_mnemonics = true;
    std::array<Renamed, 2> renamed;
    // Its other mnemonics (aliases, pseudo-instructions, other spellings
    // of undocumented opcodes), register names and keywords; a label of
    // one of these names breaks the source or, worse, changes the program.
    std::array<Reserved, 3> reserved;
    // Text, by TextSet; and the lines before the origin that define the
    // encodings, written where the source has text.
    std::array<TextEncoding, 2> text;
    std::string_view text_definitions;
    // Where the assembler has one translation for a whole source, chosen
    // on its command line: those it has, the one that writes the most of
    // the text taken (the first where as much), in place of `text`.
    std::array<SourceTranslation, 2> translations = {};
    // Whether a label may be named like a mnemonic: dasm takes whatever
    // stands in the first column for a label.
    bool mnemonics_are_names = false;
    // Whether a branch that wraps around the ends of memory is written
    // relative to its own address (*+n) instead of naming its target.
    bool wrapped_branch_relative = false;
    // Whether a C-like preprocessor reads the source first, inside ";"
    // comments too (xa): there "/*" opens a comment that swallows the lines
    // after it, and a backslash at the end of a line joins the next one.
    bool preprocessed_comments = false;
    // Where an assembler keeps all of a source's statements in a buffer of
    // fixed size (xa: 200,000 bytes), how much of it the source may take
    // and how much each statement takes besides the bytes it assembles
    // (labels and comments take none); 0: no such limit. A source that does
    // not fit gets no rebuild command, and the header says why.
    std::uint32_t statement_room = 0;
    std::uint32_t statement_cost = 0;
};

extern const Dialect kAcme;
extern const Dialect k64tass;
extern const Dialect kCa65;
extern const Dialect kDasm;
extern const Dialect kXa;
inline constexpr std::array<const Dialect*, 5> kDialects{&kAcme, &k64tass, &kCa65, &kDasm, &kXa};

// The mnemonic a dialect writes for an opcode.
constexpr std::string_view mnemonic(const Dialect& dialect, std::uint8_t byte) {
    const std::string_view table = kOpcodes[byte].mnemonic;
    for (const Renamed& renamed : dialect.renamed) {
        if (renamed.from == table && !renamed.from.empty()) return renamed.to;
    }
    return table;
}

// What the dialect's assembler takes `name` for, case ignored: "an
// instruction", "a register", ...; empty where it is a name to it.
std::string_view reserved_meaning(const Dialect& dialect, std::string_view name);

// The dialect of this name (or other name), or nullptr.
const Dialect* find_dialect(std::string_view name);

// The names of all dialects, for messages and help: "acme, 64tass, ca65, ...".
std::string_view dialect_names();

}  // namespace tolvek
