// What C64 programs hide beyond the one entry: more SYS statements in the
// BASIC program, chip registers among the image's own bytes where it covers
// $D000-$DFFF, text in screen codes. In-process on hand-assembled images,
// and as round trips in every dialect.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <string>

#include "analysis/analyse.hpp"
#include "c64/basic.hpp"
#include "output/listing.hpp"
#include "output/writers.hpp"
#include "support.hpp"
#include "syntax/dialect.hpp"

using namespace tolvek;

namespace {

// An image of at least `size` zero bytes at `load`, filled in piece by
// piece; it grows where a piece goes beyond its end.
struct Program {
    Image image;
    Program(std::uint32_t load, std::uint32_t size) {
        image.load = load;
        image.bytes.assign(size, 0);
    }
    void put(std::uint32_t address, std::initializer_list<std::uint8_t> bytes) {
        const std::size_t at = address - image.load;
        image.bytes.resize(std::max(image.bytes.size(), at + bytes.size()));
        std::copy(bytes.begin(), bytes.end(), image.bytes.begin() + static_cast<std::ptrdiff_t>(at));
    }
};

// The tokenized text of a BASIC line: bytes and plain characters.
std::vector<std::uint8_t> tokens(std::initializer_list<std::uint8_t> bytes) { return bytes; }

class Disassembly {
public:
    Disassembly(const Image& image, std::int64_t entry, bool guesses = false)
        : map(analyse(image, {.entry = entry, .guesses = guesses})),
          listing(build_listing(map, {"test.tmp", "test.unpacked.prg", "test.unpacked.asm", "Tolvek.exe --unpack"})),
          text(write_asm(listing, image, kAcme, {"test.asm", "test.prg", ""})) {}

    const Row* row_at(std::uint32_t address) const {
        for (const Row& row : listing.rows) {
            if (row.address == address) return &row;
        }
        return nullptr;
    }
    // The name the instruction at `address` writes its operand with.
    std::string operand_at(std::uint32_t address) const {
        const Row* row = row_at(address);
        return row == nullptr ? "(no row)" : std::string(row->operand.symbol.name);
    }
    std::string comment_at(std::uint32_t address) const {
        const Row* row = row_at(address);
        return row == nullptr ? "(no row)" : std::string(row->comment);
    }
    std::string heading_at(std::uint32_t address) const {
        const Row* row = row_at(address);
        return row == nullptr ? "(no row)" : std::string(row->heading);
    }
    bool has(const std::string& part) const { return text.find(part) != std::string::npos; }

    MemoryMap map;
    Listing listing;
    std::string text;
};

constexpr std::uint8_t kSys = 0x9e;

TEST(SysStatements, EveryFormOfTheAddress) {
    using V = std::vector<std::uint32_t>;
    EXPECT_EQ(sys_addresses(tokens({kSys, '2', '0', '6', '1'})), V{2061});
    EXPECT_EQ(sys_addresses(tokens({kSys, ' ', '2', '0', '6', '3'})), V{2063});
    EXPECT_EQ(sys_addresses(tokens({kSys, '(', '2', '0', '6', '3', ')'})), V{2063});
    EXPECT_EQ(sys_addresses(tokens({kSys, ' ', '(', ' ', '2', '0', '6', '3', ' ', ')', ' '})), V{2063});
    // BASIC skips spaces inside numbers too.
    EXPECT_EQ(sys_addresses(tokens({kSys, '4', '9', ' ', '1', '5', '2'})), V{49152});
    // Constant arithmetic: + - * / ($AA-$AD), parentheses, signs.
    EXPECT_EQ(sys_addresses(tokens({kSys, ' ', '2', '0', '0', '0', 0xaa, '1', '4', '2'})), V{2142});
    EXPECT_EQ(sys_addresses(tokens({kSys, '4', '0', '9', '6', 0xac, '(', '1', '2', 0xab, '1', ')', 0xad, '2'})),
              V{22528});
    EXPECT_EQ(sys_addresses(tokens({kSys, 0xab, '(', 0xab, '2', '0', '6', '1', ')'})), V{2061});
    // A fraction is cut off, as BASIC does.
    EXPECT_EQ(sys_addresses(tokens({kSys, '2', '0', '6', '1', '.', '9'})), V{2061});
    // Several statements; the address ends at ':' or ','.
    EXPECT_EQ(sys_addresses(tokens({kSys, '2', '0', '6', '1', ':', 0x99, '"', 'A', '"', ':', kSys, '2', '1', '0', '0'})),
              (V{2061, 2100}));
    EXPECT_EQ(sys_addresses(tokens({kSys, '4', '9', '1', '5', '2', ',', '1', ',', '2'})), V{49152});
    EXPECT_EQ(sys_addresses(tokens({kSys, '0'})), V{0});
    EXPECT_EQ(sys_addresses(tokens({kSys, '6', '5', '5', '3', '5'})), V{65535});
}

TEST(SysStatements, TextsThatCallNoConstantAddress) {
    const auto none = [](std::initializer_list<std::uint8_t> text) { return sys_addresses(tokens(text)).empty(); };
    EXPECT_TRUE(none({kSys, 'A'}));                                // a variable
    EXPECT_TRUE(none({kSys, '2', '0', '6', '1', 0xaa, 'A'}));      // with a variable
    EXPECT_TRUE(none({kSys, 0xc2, '(', '1', ')'}));                // PEEK(1)
    EXPECT_TRUE(none({kSys, '2', 0xae, '1', '1'}));                // 2^11: not followed
    EXPECT_TRUE(none({kSys, '2', '0', '6', '1', 'X'}));            // junk after the number
    EXPECT_TRUE(none({kSys, '6', '5', '5', '3', '6'}));            // beyond 65535
    EXPECT_TRUE(none({kSys, 0xab, '1'}));                          // negative
    EXPECT_TRUE(none({kSys, '1', 0xad, '0'}));                     // division by zero
    EXPECT_TRUE(none({kSys, '(', '2', '0', '6', '1'}));            // unbalanced
    EXPECT_TRUE(none({kSys}));
    EXPECT_TRUE(none({kSys, ':', '2', '0', '6', '1'}));
    EXPECT_TRUE(none({0x99, '"', kSys, '2', '0', '6', '1', '"'}));  // inside quotes: a character
    EXPECT_TRUE(none({0x8f, ' ', kSys, '2', '0', '6', '1'}));      // after REM
    EXPECT_TRUE(none({0x83, '1', ',', kSys, '2', '0', '6', '1'}));  // in DATA
    // After the DATA statement ends, SYS counts again.
    EXPECT_EQ(sys_addresses(tokens({0x83, '1', ':', kSys, '2', '0', '6', '1'})), std::vector<std::uint32_t>{2061});
    // Deep parentheses do not run away.
    std::vector<std::uint8_t> deep{kSys};
    deep.insert(deep.end(), 5000, '(');
    EXPECT_TRUE(sys_addresses(deep).empty());
}

// The decimal digits of n, as BASIC stores them.
std::vector<std::uint8_t> digits(std::uint32_t n) {
    const std::string text = std::to_string(n);
    return {text.begin(), text.end()};
}

std::vector<std::uint8_t> join(std::initializer_list<std::vector<std::uint8_t>> parts) {
    std::vector<std::uint8_t> out;
    for (const auto& part : parts) out.insert(out.end(), part.begin(), part.end());
    return out;
}

// A program at $0801: BASIC lines 10, 20, ... whose texts `lines` makes
// from the addresses of the routines, then the routines. The texts' lengths
// must not depend on the addresses.
using Lines = std::vector<std::vector<std::uint8_t>>;
template <class MakeLines>
Image basic_and_routines(MakeLines make_lines, const std::vector<std::vector<std::uint8_t>>& routines) {
    const auto layout = [&](const Lines& lines) {
        Image image;
        image.load = 0x0801;
        std::uint32_t number = 10;
        for (const auto& text : lines) {
            const std::uint32_t link = image.end() + 4 + static_cast<std::uint32_t>(text.size()) + 1;
            image.bytes.insert(image.bytes.end(), {static_cast<std::uint8_t>(link), static_cast<std::uint8_t>(link >> 8),
                                                   static_cast<std::uint8_t>(number), 0});
            image.bytes.insert(image.bytes.end(), text.begin(), text.end());
            image.bytes.push_back(0);
            number += 10;
        }
        image.bytes.insert(image.bytes.end(), {0, 0});
        return image;
    };
    std::vector<std::uint32_t> addresses(routines.size(), 2100);
    std::uint32_t at = layout(make_lines(addresses)).end();
    for (std::size_t i = 0; i < routines.size(); ++i) {
        addresses[i] = at;
        at += static_cast<std::uint32_t>(routines[i].size());
    }
    Image image = layout(make_lines(addresses));
    EXPECT_EQ(image.end(), addresses.empty() ? image.end() : addresses[0]) << "line lengths depend on the addresses";
    for (const auto& routine : routines) image.bytes.insert(image.bytes.end(), routine.begin(), routine.end());
    return image;
}

// 10 SYS a:REM / 20 SYS(b) / 30 SYS 2000+(c-2000) / 40 SYS d, with routines
// that nothing else leads to.
Image four_sys_lines() {
    return basic_and_routines(
        [](const std::vector<std::uint32_t>& a) {
            return Lines{
                join({{kSys, ' '}, digits(a[0]), {':', 0x8f}}),
                join({{kSys, '('}, digits(a[1]), {')'}}),
                join({{kSys, ' ', '2', '0', '0', '0', 0xaa}, digits(a[2] - 2000)}),
                join({{kSys}, digits(a[3])}),
            };
        },
        {
            {0xee, 0x20, 0xd0, 0x60},  // inc $d020 / rts
            {0xa9, 0x01, 0x60},        // lda #1 / rts
            {0xe8, 0x60},              // inx / rts
            {0xc8, 0x60},              // iny / rts
        });
}

TEST(SysEntries, EachIsTracedLabelledAndNamed) {
    const Image image = four_sys_lines();
    const std::uint32_t first = 0x0801 + 4 * 5 + 8 + 7 + 10 + 5 + 2;  // after the BASIC program
    ASSERT_EQ(image.at(first), 0xee);
    const std::uint32_t routines[] = {first, first + 4, first + 7, first + 9};
    // The entry prgdis passes: the last SYS.
    const Disassembly d(image, routines[3]);
    ASSERT_EQ(d.map.start.sys_entries.size(), 4u);
    for (std::uint32_t i = 0; i < 4; ++i) {
        EXPECT_EQ(d.map.start.sys_entries[i].address, routines[i]) << i;
        EXPECT_EQ(d.map.start.sys_entries[i].line, 10 * (i + 1)) << i;
        EXPECT_TRUE(d.map.is_opcode(routines[i])) << i;
        ASSERT_NE(d.row_at(routines[i]), nullptr) << i;
        EXPECT_FALSE(d.row_at(routines[i])->label.empty()) << i;
    }
    EXPECT_EQ(d.heading_at(routines[0]), "SYS in line 10");
    EXPECT_EQ(d.comment_at(routines[0]), "border colour");
    EXPECT_EQ(d.heading_at(routines[2]), "SYS in line 30");
    EXPECT_EQ(d.heading_at(routines[3]), "entry point") << "the entry says enough";
    EXPECT_EQ(d.comment_at(routines[3]), "");
    // The header names the SYS entries other than the entry, in order.
    std::string expected = "; SYS entries traced: ";
    for (std::uint32_t i = 0; i < 3; ++i) {
        expected += (i ? ", " : "") + hex(routines[i], 4) + " (line " + std::to_string(10 * (i + 1)) + ")";
    }
    EXPECT_TRUE(d.has(expected + "\n")) << d.text;
    EXPECT_TRUE(d.has("; code: 11 bytes,")) << d.text;
}

TEST(SysEntries, EntryInTheBasicProgramOrOutsideTheImage) {
    const Image image = four_sys_lines();
    for (const std::int64_t entry : {std::int64_t{0x0801}, std::int64_t{0x0805}, std::int64_t{-1},
                                     std::int64_t{0x0400}, std::int64_t{70000}}) {
        const Disassembly d(image, entry);
        EXPECT_EQ(d.map.start.sys_entries.size(), 4u) << entry;
        const bool in_basic = entry >= 0x0801 && entry < 0x0900;
        const std::string why = in_basic ? "lies in the BASIC program" : "lies outside the image";
        EXPECT_TRUE(d.has(why + "; no code traced from it, but from the SYS entries\n")) << entry << d.text;
        EXPECT_TRUE(d.has("; SYS entries traced: ")) << entry;
        EXPECT_TRUE(d.has("(line 40)\n")) << "all four, the last too";
        EXPECT_TRUE(d.has("; code: 11 bytes,")) << entry << d.text;
    }
}

TEST(SysEntries, OnlyAddressesInTheImageAfterTheBasicProgram) {
    // 10 SYS 49152 (outside) / 20 SYS 2049 (the BASIC program itself) /
    // 30 SYS x, where x holds no instruction, / 40 SYS y, twice.
    const Image image = basic_and_routines(
        [](const std::vector<std::uint32_t>& a) {
            return Lines{
                join({{kSys}, digits(49152)}),
                join({{kSys}, digits(2049)}),
                join({{kSys}, digits(a[0])}),
                join({{kSys}, digits(a[1]), {':', kSys}, digits(a[1])}),
            };
        },
        {{0x02}, {0x60}});
    const std::uint32_t jam = image.end() - 2;
    const Disassembly d(image, -1);
    ASSERT_EQ(d.map.start.sys_entries.size(), 2u);
    EXPECT_EQ(d.map.start.sys_entries[0].address, jam);
    EXPECT_EQ(d.map.start.sys_entries[1].address, jam + 1);
    EXPECT_TRUE(d.has("; SYS entries traced: " + hex(jam, 4) + " (line 30, no valid instruction), " +
                      hex(jam + 1, 4) + " (line 40)\n"))
        << d.text;
    EXPECT_FALSE(d.map.is_opcode(jam));
    EXPECT_TRUE(d.map.is_opcode(jam + 1));
    // Without a SYS into the image nothing is said about SYS.
    const Image plain = basic_and_routines([](const std::vector<std::uint32_t>&) { return Lines{join({{kSys}, digits(49152)})}; },
                                           {{0x60}});
    const Disassembly none(plain, -1);
    EXPECT_TRUE(none.map.start.sys_entries.empty());
    EXPECT_FALSE(none.has("SYS entries"));
    EXPECT_TRUE(none.has("lies outside the image; no code traced from it\n")) << none.text;
}

// At $CF00, covering $D000-$D02F: code that switches the I/O out and in
// and names VIC-II registers in each state.
Program banking_program() {
    Program p(0xcf00, 0x130);
    p.put(0xcf00, {0xa9, 0x34,         // lda #$34: RAM only
                   0x85, 0x01,         // sta $01
                   0xad, 0x12, 0xd0,   // lda $d012: the image's byte
                   0x20, 0x60, 0xcf,   // jsr only_hidden
                   0xa2, 0x00,         // ldx #0
                   0xbd, 0x00, 0xd0,   // $cf0c: lda $d000,x (a loop, still RAM)
                   0xca,               // dex
                   0xd0, 0xfa,         // bne $cf0c
                   0x20, 0x70, 0xcf,   // jsr both
                   0xe6, 0x01,         // $cf15: inc $01: $35, I/O in
                   0xad, 0x12, 0xd0,   // $cf17: lda RASTER
                   0x20, 0x70, 0xcf,   // jsr both
                   0xa0, 0x33,         // ldy #$33
                   0x84, 0x01,         // sty $01: character ROM, no I/O
                   0x8d, 0x20, 0xd0,   // $cf21: sta $d020: the RAM below
                   0xa2, 0x37,         // ldx #$37
                   0x86, 0x01,         // stx $01
                   0x8d, 0x21, 0xd0,   // $cf28: sta BGCOL0
                   0xa9, 0x00,         // lda #0
                   0x8d, 0x01, 0x00,   // sta $0001 (absolute): no I/O either
                   0x8d, 0x16, 0xd0,   // $cf30: sta $d016: RAM
                   0xa9, 0x34,         // lda #$34
                   0x20, 0x80, 0xcf,   // jsr $cf80, which changes A
                   0x85, 0x01,         // sta $01: whatever the routine left
                   0x8d, 0x17, 0xd0,   // $cf3a: sta YXPAND
                   0x60});             // rts
    p.put(0xcf60, {0xae, 0x19, 0xd0,   // only_hidden: ldx $d019
                   0x60});
    p.put(0xcf70, {0x8d, 0x18, 0xd0,   // both: sta VMCSB (I/O out on one call, in on the other)
                   0x60});
    p.put(0xcf80, {0xa9, 0x37, 0x60});  // lda #$37 / rts
    return p;
}

TEST(IoArea, ChipRegistersWhereTheIoIsVisibleTheImagesBytesWhereNot) {
    const Program p = banking_program();
    const Disassembly d(p.image, 0xcf00);
    EXPECT_EQ(d.operand_at(0xcf04), "Dd012");
    EXPECT_EQ(d.operand_at(0xcf07), "Lcf60");
    EXPECT_EQ(d.operand_at(0xcf0c), "Dd000") << "a loop keeps what $01 holds";
    EXPECT_EQ(d.operand_at(0xcf17), "RASTER") << "inc $01 from $34";
    EXPECT_EQ(d.operand_at(0xcf21), "Dd020") << "sty $01 with $33: character ROM";
    EXPECT_EQ(d.operand_at(0xcf28), "BGCOL0") << "stx $01 with $37";
    EXPECT_EQ(d.operand_at(0xcf30), "Dd016") << "sta $0001 with 0";
    EXPECT_EQ(d.operand_at(0xcf60), "Dd019") << "a routine called with the I/O out only";
    EXPECT_EQ(d.operand_at(0xcf70), "VMCSB") << "called both ways: the chips";
    EXPECT_EQ(d.operand_at(0xcf3a), "YXPAND") << "A is not known after a call";
    // The image's bytes get labels only where they are named as RAM; the
    // chips' names are equates, as outside the image.
    for (const std::uint32_t address : {0xd000u, 0xd012u, 0xd016u, 0xd019u, 0xd020u}) {
        ASSERT_NE(d.row_at(address), nullptr) << std::hex << address;
        EXPECT_FALSE(d.row_at(address)->label.empty()) << std::hex << address;
    }
    for (const std::uint32_t address : {0xd018u, 0xd021u}) {
        EXPECT_EQ(d.row_at(address), nullptr) << "a data row split at $" << std::hex << address;
    }
    EXPECT_TRUE(d.has("\nRASTER = $d012\nYXPAND = $d017\nVMCSB = $d018\nBGCOL0 = $d021\n")) << d.text;
    EXPECT_FALSE(d.has("EXTCOL")) << d.text;
    EXPECT_TRUE(d.has("\tlda RASTER              ; raster line now (low 8 bits)\n")) << d.text;
    EXPECT_TRUE(d.has("\tlda Dd012\n")) << d.text;
    EXPECT_EQ(d.map.io_hidden.front(), 0xcf04u);
}

TEST(IoArea, UndocumentedInstructionsChangeWhatTheyWriteOnly) {
    Program p(0xcf00, 0x200);
    p.put(0xcf00, {0xa9, 0x34,         // lda #$34
                   0x04, 0x02,         // nop $02: A stays $34
                   0x85, 0x01,         // sta $01: I/O out
                   0xad, 0x20, 0xd0,   // $cf06: lda $d020: RAM
                   0xa9, 0x34,         // lda #$34
                   0x85, 0x01,         // sta $01: I/O out
                   0xe7, 0x01,         // isc $01: $35, I/O in again
                   0xad, 0x21, 0xd0,   // $cf0f: lda BGCOL0
                   0x60});
    const Disassembly d(p.image, 0xcf00);
    EXPECT_EQ(d.operand_at(0xcf06), "Dd020");
    EXPECT_EQ(d.operand_at(0xcf0f), "BGCOL0") << "isc changes $01 as inc does";
}

TEST(IoArea, WithoutStoresIntoThePortTheChipsAreEverywhere) {
    Program p(0xcff0, 0x40);
    p.put(0xcff0, {0x8d, 0x20, 0xd0,   // sta $d020
                   0xa5, 0x01,         // lda $01: read, not written
                   0xad, 0x00, 0xd0,   // lda $d000
                   0x4c, 0x11, 0xd0}); // jmp $d011: a jump names code, never a chip
    p.put(0xd011, {0x60});
    const Disassembly d(p.image, 0xcff0);
    EXPECT_TRUE(d.map.io_hidden.empty());
    EXPECT_EQ(d.operand_at(0xcff0), "EXTCOL");
    EXPECT_EQ(d.operand_at(0xcff5), "SP0X");
    EXPECT_EQ(d.operand_at(0xcff8), "Ld011");
    EXPECT_TRUE(d.map.is_opcode(0xd011));
    EXPECT_EQ(d.row_at(0xd000), nullptr) << "no label at $d000";
}

TEST(IoArea, AddressPairsNameColourRam) {
    // lda #<$d800 / sta $fb / lda #>$d800 / sta $fc, with the image
    // reaching $D800: colour RAM with the I/O in, the image's own bytes
    // with it out.
    Program p(0xd7e0, 0x40);
    p.put(0xd7e0, {0xa9, 0x00, 0x85, 0xfb, 0xa9, 0xd8, 0x85, 0xfc,  // $d7e0
                   0xa9, 0x34, 0x85, 0x01,                          // $d7e8
                   0xa9, 0x10, 0x85, 0xfd, 0xa9, 0xd8, 0x85, 0xfe,  // $d7ec: $d810, I/O out
                   0x60});
    const Disassembly d(p.image, 0xd7e0);
    EXPECT_TRUE(d.has("; entry point\nentry\n\tlda #<COLRAM\n")) << d.text;
    EXPECT_TRUE(d.has("\tlda #>COLRAM\n")) << d.text;
    EXPECT_TRUE(d.has("\tlda #<Dd810\n")) << d.text;
    EXPECT_TRUE(d.has("\tlda #>Dd810\n")) << d.text;
    EXPECT_EQ(d.row_at(0xd800), nullptr) << "no label at $d800";
}

TEST(IoArea, NoCodeWhereTheCodeNamesChips) {
    // A table of two words that a guess follows: $d01a (lda #0 / rti) and
    // $d01e (lda #0 / rts). The code writes IRQMSK at $d01a with the I/O
    // in: no code there.
    const auto program = [](bool io_out) {
        Program p(0xcff0, 0x40);
        p.put(0xcff0, {0xa9, io_out ? std::uint8_t{0x34} : std::uint8_t{0x37}, 0x85, 0x01,  // lda # / sta $01
                       0xa9, 0x01, 0x8d, 0x1a, 0xd0,                                         // lda #1 / sta $d01a
                       0x60});
        p.put(0xd010, {0x1a, 0xd0, 0x1e, 0xd0});  // !word $d01a, $d01e
        p.put(0xd01a, {0xa9, 0x00, 0x40, 0x02, 0xa9, 0x00, 0x60});
        return p;
    };
    const Program in = program(false);
    const Disassembly chips(in.image, 0xcff0, true);
    EXPECT_FALSE(chips.map.is_opcode(0xd01a)) << chips.text;
    EXPECT_TRUE(chips.map.is_opcode(0xd01e)) << "the table's other entry is code";
    EXPECT_EQ(chips.operand_at(0xcff6), "IRQMSK");
    EXPECT_FALSE(chips.has("Ld01a")) << chips.text;
    // With the I/O out where it writes $d01a, it writes the RAM: the guess
    // may take the rti.
    const Program out = program(true);
    const Disassembly ram(out.image, 0xcff0, true);
    EXPECT_TRUE(ram.map.is_opcode(0xd01a)) << ram.text;
    EXPECT_EQ(ram.operand_at(0xcff6), "Ld01a");
}

TEST(ScreenCodes, TextInBothCharacterSetsAndPetscii) {
    Program p(0xc000, 0x34);
    p.put(0xc000, {0x60,                                               // rts
                   0x0d, 0x00,                                         // PETSCII return and end: not text
                   0x07, 0x01, 0x0d, 0x05, 0x20, 0x0f, 0x16, 0x05, 0x12,  // $c003: "game over", upper case set
                   0xff,
                   0x50, 0x12, 0x05, 0x13, 0x13, 0x20, 0x46, 0x09, 0x12, 0x05,  // $c00d: "Press Fire", lower/upper
                   0x2e, 0x2e, 0x2e, 0x00,                             // "...", then 0
                   0x48, 0x45, 0x4c, 0x4c, 0x4f, 0x20, 0x57, 0x4f, 0x52, 0x4c, 0x44, 0x00,  // $c01b: PETSCII
                   0x13, 0x03, 0x0f, 0x12, 0x05, 0x20, 0x31, 0x30, 0x30, 0x20, 0x10, 0x14, 0x13});  // $c027
    const Disassembly d(p.image, 0xc000);
    EXPECT_EQ(d.map.kind(0xc001), Kind::Unknown) << "$0d $00 before the text stay bytes";
    EXPECT_EQ(d.map.kind(0xc002), Kind::Unknown);
    EXPECT_EQ(d.map.kind(0xc003), Kind::ScreenCode);
    EXPECT_EQ(d.map.kind(0xc00c), Kind::Unknown) << "$ff ends the text";
    ASSERT_NE(d.row_at(0xc003), nullptr) << d.text;
    EXPECT_EQ(d.row_at(0xc003)->kind, RowKind::ScreenText);
    // Each text is one row, written as a string; the zero that ends one
    // goes with it.
    EXPECT_EQ(tolvek_test::listed_at(d.map, 0xc003), "!scr \"game over\"");
    EXPECT_EQ(tolvek_test::listed_at(d.map, 0xc00d), "!scr \"Press Fire...\", 0");
    EXPECT_EQ(d.map.kind(0xc01a), Kind::Unknown);
    EXPECT_EQ(d.row_at(0xc01b)->kind, RowKind::Text) << "PETSCII stays PETSCII";
    EXPECT_EQ(tolvek_test::listed_at(d.map, 0xc01b), "!pet \"hello world\", 0");
    // Spaces and digits read the same in both: screen text takes them.
    EXPECT_EQ(tolvek_test::listed_at(d.map, 0xc027), "!scr \"score 100 pts\"");
    EXPECT_TRUE(d.has("\t!byte $0d,$00\n")) << d.text;
}

TEST(ScreenCodes, TablesOfSmallNumbersAreNotText) {
    Program p(0xc000, 0x4e);
    p.put(0xc000, {0x60,
                   // Colours of raster bars: letters, no space.
                   0x06, 0x06, 0x0e, 0x06, 0x0e, 0x0e, 0x03, 0x0e, 0x03, 0x03, 0x01, 0x03, 0x01, 0x01, 0x01, 0x01,
                   0xff,
                   // Tiles of a level with gaps: two letters again and again.
                   0x20, 0x20, 0x01, 0x02, 0x20, 0x20, 0x01, 0x02, 0x20, 0x20, 0x01, 0x02,
                   0xff,
                   // A rising curve.
                   0x02, 0x03, 0x05, 0x08, 0x0c, 0x11, 0x17, 0x1e, 0x26, 0x2f, 0x39,
                   0xff,
                   // Letters three times in a row.
                   0x0d, 0x01, 0x10, 0x20, 0x02, 0x02, 0x02, 0x20, 0x03, 0x0f, 0x04,
                   0xff,
                   // No vowels.
                   0x18, 0x14, 0x12, 0x20, 0x0b, 0x0c, 0x0d, 0x20, 0x16, 0x17,
                   0xff,
                   // No word of three letters.
                   0x01, 0x02, 0x20, 0x03, 0x01, 0x20, 0x02, 0x01,
                   0xff,
                   // Two letters only.
                   0x01, 0x02, 0x01, 0x02, 0x20, 0x02, 0x01,
                   0xff,
                   // A capital after a small letter: "hello wOrld".
                   0x08, 0x05, 0x0c, 0x0c, 0x0f, 0x20, 0x17, 0x4f, 0x12, 0x0c, 0x04,
                   0xff,
                   // A small letter after two capitals: "GOod day".
                   0x47, 0x4f, 0x0f, 0x04, 0x20, 0x04, 0x01, 0x19});
    const Disassembly d(p.image, 0xc000);
    for (std::uint32_t a = 0xc001; a < p.image.end(); ++a) {
        EXPECT_NE(d.map.kind(a), Kind::ScreenCode) << std::hex << a;
    }
    EXPECT_FALSE(d.has("scr \"")) << d.text;
}

TEST(ScreenCodes, WhatTheCodeNamesApartIsNoPartOfTheText) {
    // Colours right after a title, each read by the code on its own.
    const auto program = [](bool colours_named) {
        Program p(0xc000, 0x07);
        p.put(0xc000, {0xbd, 0x0a, 0xc0});  // lda title,x
        if (colours_named) p.put(0xc003, {0xbd, 0x19, 0xc0});  // lda colours,x
        else p.put(0xc003, {0xea, 0xea, 0xea});
        p.put(0xc006, {0x60, 0x00, 0x00, 0x00});
        p.put(0xc00a, {0x20, 0x01, 0x20, 0x0c, 0x09, 0x14, 0x14, 0x0c, 0x05, 0x20,  // " a little intro"
                       0x09, 0x0e, 0x14, 0x12, 0x0f,
                       0x0b, 0x0c, 0x0f, 0x01, 0x01, 0x0f, 0x0c, 0x0b});  // $c019: colours
        return p;
    };
    const Program named = program(true);
    const Disassembly d(named.image, 0xc000);
    for (std::uint32_t a = 0xc00a; a < 0xc019; ++a) EXPECT_EQ(d.map.kind(a), Kind::ScreenCode) << std::hex << a;
    for (std::uint32_t a = 0xc019; a < 0xc021; ++a) EXPECT_EQ(d.map.kind(a), Kind::Unknown) << std::hex << a;
    EXPECT_EQ(tolvek_test::listed_at(d.map, 0xc00a), "Dc00a: !scr \" a little intro\"");
    // Where nothing names the colours apart, they read as the text's end.
    const Program glued = program(false);
    const Disassembly g(glued.image, 0xc000);
    EXPECT_EQ(g.map.kind(0xc019), Kind::ScreenCode);
}

// Round trips of the three patterns in every dialect.
class HiddenCodeRoundTrip : public ::testing::TestWithParam<std::string> {
protected:
    void SetUp() override {
        if (!tolvek_test::have_acme()) GTEST_SKIP() << "acme is not installed";
        if (!tolvek_test::have_assembler(GetParam())) GTEST_SKIP() << GetParam() << " is not installed";
    }
    // Assembles the ACME source and checks its round trip; the .asm.
    std::string check(const std::string& source, std::int64_t entry) {
        const std::vector<std::uint8_t> prg = tolvek_test::assemble(dir, source);
        if (prg.size() < 2) {
            ADD_FAILURE() << "acme gave no program";
            return {};
        }
        const auto load = static_cast<std::uint32_t>(prg[0] | prg[1] << 8);
        return tolvek_test::round_trip(dir, load, entry, {prg.begin() + 2, prg.end()}, GetParam());
    }
    bool has(const std::string& text, const std::string& part) const { return text.find(part) != std::string::npos; }
    tolvek_test::ScratchDir dir;
};

TEST_P(HiddenCodeRoundTrip, SysStatementsInEveryForm) {
    const std::string text = check(R"(
	* = $0801
l10	!word l20, 10
	!byte $9e, $20, '0' + a / 1000, '0' + a / 100 % 10, '0' + a / 10 % 10, '0' + a % 10, $3a, $8f, 0
l20	!word l30, 20
	!byte $9e, $28, '0' + b / 1000, '0' + b / 100 % 10, '0' + b / 10 % 10, '0' + b % 10, $29, 0
l30	!word l40, 30
	!byte $9e, '2', '0', '0', '0', $aa, '0' + (c - 2000) / 100, '0' + (c - 2000) / 10 % 10, '0' + (c - 2000) % 10, 0
l40	!word l50, 40
	!byte $9e, '0' + d / 1000, '0' + d / 100 % 10, '0' + d / 10 % 10, '0' + d % 10, 0
l50	!word 0
a	inc $d020
	rts
b	lda #1
	sta $d021
	rts
c	ldx #0
-	lda $0400,x
	sta $0401,x
	inx
	bne -
	rts
d	jsr $ffe4
	beq d
	rts
)",
                                   2049);
    EXPECT_TRUE(has(text, "lies in the BASIC program; no code traced from it, but from the SYS entries\n")) << text;
    EXPECT_TRUE(has(text, "; SYS entries traced: ")) << text;
    EXPECT_TRUE(has(text, "(line 40)\n")) << text;
    EXPECT_TRUE(has(text, "inc EXTCOL")) << text;
    EXPECT_TRUE(has(text, "jsr GETIN")) << text;
}

TEST_P(HiddenCodeRoundTrip, ChipRegistersInsideTheImage) {
    // Tables under the I/O area read with it out, then the chips written
    // with it in: equates for addresses the image holds, labels beside them.
    const std::string text = check(R"(
	* = $cf80
	sei
	lda #$34
	sta $01
	ldx #$3f
-	lda $d000,x
	sta $c000,x
	lda $d012,x
	sta $c100,x
	dex
	bpl -
	lda #$37
	sta $01
	lda #$1b
	sta $d011
	lda $d012
	sta $d020
	lda #<$d800
	sta $fb
	lda #>$d800
	sta $fc
	lda $dc0d
	lda $d41b
	sta $d040
	cli
	rts
	!fill $d000 - *, 0
	!for i, 0, $83f { !byte i & $ff }
)",
                                   0xcf80);
    for (const char* part : {"\tlda Dd000,x\n", "\tlda Dd012,x\n", "\tsta SCROLY              ; screen control: y scroll, 25 rows, screen on, bitmap, raster line bit 8\n",
                             "\tlda RASTER              ; raster line now (low 8 bits)\n",
                             "\tsta EXTCOL              ; border colour\n", "RASTER = $d012\n", "SCROLY = $d011\n", "CIAICR = $dc0d\n",
                             "RANDOM = $d41b\n", "\tsta $d040\n"}) {
        EXPECT_TRUE(has(text, part)) << part << "\n" << text;
    }
    EXPECT_TRUE(has(text, "#<COLRAM")) << text;
    EXPECT_TRUE(has(text, "#>COLRAM")) << text;
    EXPECT_FALSE(has(text, "Dd011")) << text;
    EXPECT_FALSE(has(text, "Dd020")) << text;
}

TEST_P(HiddenCodeRoundTrip, ScreenCodeText) {
    const std::string text = check(R"(
	* = $c000
	ldx #0
-	lda upper,x
	sta $0400,x
	lda mixed,x
	sta $0428,x
	inx
	cpx #16
	bne -
	rts
upper	!scr "press space bar", $ff
mixed	!scr "Game Over [ok]", 0, $ff
pet	!pet "hello there", 13, 0
)",
                                   0xc000);
    // Written as strings, with the zero that ends them. xa writes PETSCII's
    // $41-$5A as the capitals of its screen codes, and has no @ [ ] in
    // PETSCII.
    const bool xa = GetParam() == "xa";
    for (const std::string& row : {std::string(" \"press space bar\"\n"), std::string(" \"Game Over [ok]\", 0\n"),
                                   std::string(xa ? " \"HELLO THERE\", 13, 0\n" : " \"hello there\", 13, 0\n")}) {
        EXPECT_TRUE(has(text, row)) << row << "\n" << text;
    }
}

// Text as strings: a quote and control codes as numbers in the same row,
// a long text cut after a space, a label the code names starting a new row.
TEST_P(HiddenCodeRoundTrip, TextAsStrings) {
    const std::string text = check(R"(
	* = $c000
	ldx #0
-	lda quoted,x
	jsr $ffd2
	lda colours,x
	jsr $ffd2
	lda long,x
	jsr $ffd2
	lda half,x
	jsr $ffd2
	lda named,x
	jsr $ffd2
	lda mixed,x
	jsr $ffd2
	inx
	bne -
	rts
quoted	!pet "say ", 34, "hi", 34, " to all", 0
colours	!pet 5, "white ", 28, "red ", 30, "green", 13, 0
long	!pet "the quick brown fox jumps over the lazy dog and then the quick brown fox jumps again", 0
half	!pet "first half"
named	!pet " second half", 0
mixed	!pet "Hello World", 147, 13
)",
                                   0xc000);
    // xa writes PETSCII's $41-$5A as the capitals of its screen codes and
    // has no character for $C1-$DA (PETSCII's capitals).
    const std::string dialect = GetParam();
    for (std::string row : {"\"say \", 34, \"hi\", 34, \" to all\", 0\n",
                            " 5, \"white \", 28, \"red \", 30, \"green\", 13, 0\n",
                            " \"the quick brown fox jumps over the lazy dog and then the quick \"\n",
                            " \"brown fox jumps again\", 0\n", " \"first half\"\n", " \" second half\", 0\n"}) {
        if (dialect == "xa") {
            for (char& c : row) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        }
        EXPECT_TRUE(has(text, row)) << row << "\n" << text;
    }
    const std::string mixed = dialect == "xa" ? " 200, \"ELLO \", 215, \"ORLD\", 147, 13\n" : " \"Hello World\", 147, 13\n";
    EXPECT_TRUE(has(text, mixed)) << mixed << "\n" << text;
}

// Text in PETSCII's capitals ($C1-$DA) only: xa has them only where it
// sets the top bit of every character (-O HIGH), which the source whose
// text they are most of is rebuilt with; the spaces are then numbers.
TEST_P(HiddenCodeRoundTrip, PetsciiCapitals) {
    const std::string text = check(R"(
	* = $c000
	ldx #0
-	lda title,x
	jsr $ffd2
	inx
	bne -
	rts
title	!pet "GAME OVER PRESS FIRE", 0
)",
                                   0xc000);
    if (GetParam() == "xa") {
        EXPECT_TRUE(has(text, "; rebuild with xa: xa -M -O HIGH -o ")) << text;
        EXPECT_TRUE(has(text, "\t.byt \"GAME\", 32, \"OVER\", 32, \"PRESS\", 32, \"FIRE\", 0\n")) << text;
    } else {
        EXPECT_TRUE(has(text, " \"GAME OVER PRESS FIRE\", 0\n")) << text;
    }
}

INSTANTIATE_TEST_SUITE_P(Dialects, HiddenCodeRoundTrip, ::testing::ValuesIn(tolvek_test::kDialectNames),
                         [](const ::testing::TestParamInfo<std::string>& param) {
                             return tolvek_test::test_name(param.param);
                         });

}  // namespace
