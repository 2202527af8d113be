// The disassembly as rows of structure, without any assembler's syntax:
// instructions with their operands as values and names, data rows with
// their kinds, labels and comments. The .asm and .lst writers turn it into
// text for one dialect.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "analysis/memory_map.hpp"
#include "cpu/opcodes.hpp"
#include "image.hpp"
#include "output/labels.hpp"
#include "syntax/operand_width.hpp"

namespace tolvek {

// Where the texts of a listing live: big blocks that are filled one text
// after another. Ten thousand rows with strings of their own spent more time
// in allocating, touching fresh pages and freeing than in disassembling.
// Texts handed out stay put for the store's lifetime, also when it moves.
class TextStore {
public:
    TextStore() = default;
    TextStore(TextStore&&) = default;
    TextStore& operator=(TextStore&&) = default;
    TextStore(const TextStore&) = delete;  // views would point into the original
    TextStore& operator=(const TextStore&) = delete;

    // Room for `size` chars that the caller fills in.
    char* room(std::size_t size);
    std::string_view keep(std::string_view text) {
        if (text.empty()) return {};
        char* at = room(text.size());
        text.copy(at, text.size());
        return {at, text.size()};
    }

private:
    static constexpr std::size_t kBlockSize = 64 * 1024;
    std::vector<std::unique_ptr<char[]>> blocks_;
    char* free_ = nullptr;  // unused part of the newest block
    std::size_t free_size_ = 0;
};

enum class RowKind : std::uint8_t {
    Instruction,
    Bytes,      // data bytes written as numbers
    // Data bytes that are text, in PETSCII or in screen codes: a string,
    // with the control codes in it and the zero that ends it.
    Text,
    ScreenText,
    Words,      // data items: 16-bit words, each an address (the row's items)
    LowBytes,   // data items: the low halves of addresses
    HighBytes,  // data items: the high halves of addresses
};

// A data item that stands for an address: written as the symbol (the
// item's address plus or minus the offset), or, without one, as the value.
struct DataItem {
    std::uint32_t value = 0;  // the word or byte in the image
    SymbolRef symbol;
};

enum class Half : std::uint8_t { Whole, Low, High };

struct Operand {
    SymbolRef symbol;         // written as this name plus offset; no name: as a number
    std::uint32_t value = 0;  // the address or immediate value (branch targets resolved)
    std::uint8_t digits = 2;  // hex digits when written as a number
    Half half = Half::Whole;  // immediates: the half of the symbol's address they hold
    Width width = Width::Auto;
    bool wraps = false;       // a branch whose target wraps around the ends of memory
};

// How a place refers to a label.
enum class RefKind : std::uint8_t {
    Call,     // jsr
    Jump,     // jmp
    Branch,   // a conditional branch
    Read,     // reads the byte (or the pointer of jmp (ptr), (zp),y)
    Write,    // stores into it
    Modify,   // inc, dec, the shifts
    Address,  // takes its address: lda #<label
    Table,    // a data item holds its address
};

// A place in the image that refers to a label: an instruction, or a data
// item.
struct Reference {
    std::uint32_t from = 0;
    RefKind kind = RefKind::Read;
};

// The references to a label: a range of the listing's references, in the
// order of RefKind, then of their addresses.
struct References {
    std::uint32_t first = 0;
    std::uint32_t count = 0;
};

// A row's texts are kept in its listing's store.
struct Row {
    std::uint32_t address = 0;
    std::uint32_t size = 0;     // bytes of the image this row stands for
    std::string_view label;     // defined at this row's address, or empty
    std::string_view comment;   // plain text, may be empty
    // A routine starts here: what reaches it, plain text for a comment line
    // before the row's label; empty where no routine starts.
    std::string_view heading;
    RowKind kind = RowKind::Bytes;
    bool ends_flow = false;     // rts, rti, brk or jmp: nothing falls through
    std::uint8_t opcode = 0;    // instructions: the opcode byte
    std::uint8_t items = 0;     // Words, LowBytes, HighBytes: how many items
    std::uint32_t first_item = 0;  // and the first of them in the listing's items
    Operand operand;            // instructions with an operand
    References references;      // to the row's label
};

struct Symbol {
    std::string_view name;  // in the listing's store or of static storage
    std::uint32_t address = 0;
};

struct Listing {
    std::vector<std::string> header;  // comment lines, plain text
    std::vector<Symbol> equates;      // known addresses outside the image
    std::uint32_t origin = 0;
    std::vector<Row> rows;
    std::vector<DataItem> items;   // of the rows of address items
    std::string_view end_label;    // label on the address after the image
    References end_references;     // to it
    std::vector<Reference> references;  // of the rows' labels
    std::vector<Symbol> symbols;   // labels and equates, by address
    bool undocumented = false;     // some instruction has an undocumented mnemonic
    TextStore store;               // the texts of rows and symbols
};

struct Hints;

// The file names a listing's header gives: the image's, and that of the
// program file --unpack would write of what the program unpacked.
struct ListingNames {
    std::string_view image;
    std::string_view unpacked;         // the program file --unpack writes
    std::string_view unpacked_source;  // and its disassembly
    std::string_view unpack_command;   // the command that writes both
};

// The row that holds `address`, or null where none does.
const Row* row_holding(const Listing& listing, std::uint32_t address);
Row* row_holding(Listing& listing, std::uint32_t address);

// The listing of the analysed image; `hints` (may be null) give names and
// comments, and must outlive the listing.
Listing build_listing(const MemoryMap& map, const ListingNames& names, const Hints* hints = nullptr);

}  // namespace tolvek
