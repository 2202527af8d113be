// The opcode table, tracing, BASIC detection and the listing's labels and
// equates, checked in-process on hand-assembled programs.
#include <gtest/gtest.h>

#include <map>
#include <set>

#include "analysis/analyse.hpp"
#include "c64/basic.hpp"
#include "cpu/decode.hpp"
#include "output/listing.hpp"
#include "output/writers.hpp"
#include "support.hpp"

using namespace tolvek;
using tolvek_test::make_image;

namespace {

// The trace from the entry alone, without guessing.
MemoryMap trace_program(const Image& image, std::int64_t entry) {
    return analyse(image, {.entry = entry, .guesses = false});
}

// "C" for the first byte of an instruction, "o" for the rest, "." for
// anything else.
std::string kinds(const MemoryMap& map) {
    std::string out;
    for (Kind k : map.kinds()) out += k == Kind::Opcode ? 'C' : k == Kind::Operand ? 'o' : '.';
    return out;
}

TEST(Opcodes, DocumentedSetIsComplete) {
    int documented = 0;
    std::set<std::pair<std::string_view, Mode>> seen;
    std::map<std::string_view, int> per_mnemonic;
    for (int byte = 0; byte < 256; ++byte) {
        const Opcode& op = opcode(static_cast<std::uint8_t>(byte));
        if (!op.documented()) continue;
        ++documented;
        ++per_mnemonic[op.mnemonic];
        // No mnemonic and mode twice: a duplicate means a typo in the table.
        EXPECT_TRUE(seen.insert({op.mnemonic, op.mode}).second) << op.mnemonic << " at " << byte;
    }
    EXPECT_EQ(documented, 151);
    EXPECT_EQ(per_mnemonic.size(), 56u);
    EXPECT_EQ(per_mnemonic["lda"], 8);
    EXPECT_EQ(per_mnemonic["sta"], 7);
    EXPECT_EQ(per_mnemonic["ldx"], 5);
    EXPECT_EQ(per_mnemonic["jmp"], 2);
    EXPECT_EQ(per_mnemonic["bit"], 2);
    EXPECT_EQ(per_mnemonic["asl"], 5);
}

TEST(Opcodes, RegularLayout) {
    // Documented opcodes follow the aaabbbcc pattern: in the cc=01 group
    // (ora, and, eor, adc, sta, lda, cmp, sbc) bbb selects the same mode
    // for every mnemonic.
    const Mode group1[8] = {Mode::IndirectX, Mode::ZeroPage,  Mode::Immediate, Mode::Absolute,
                            Mode::IndirectY, Mode::ZeroPageX, Mode::AbsoluteY, Mode::AbsoluteX};
    for (int aaa = 0; aaa < 8; ++aaa) {
        for (int bbb = 0; bbb < 8; ++bbb) {
            const auto byte = static_cast<std::uint8_t>(aaa << 5 | bbb << 2 | 1);
            if (byte == 0x89) continue;  // sta #imm does not exist
            EXPECT_TRUE(opcode(byte).documented()) << int{byte};
            EXPECT_EQ(opcode(byte).mode, group1[bbb]) << int{byte};
        }
    }
    for (int byte = 0; byte < 256; ++byte) {
        const Opcode& op = opcode(static_cast<std::uint8_t>(byte));
        if ((byte & 0x1f) == 0x10) {
            EXPECT_EQ(op.mode, Mode::Relative) << byte;
        }
        if ((byte & 3) == 3) {
            EXPECT_FALSE(op.documented()) << byte;  // no documented cc=11
        }
    }
    EXPECT_EQ(opcode(0x6c).mode, Mode::Indirect);
    EXPECT_EQ(opcode(0x96).mode, Mode::ZeroPageY);
    EXPECT_EQ(opcode(0xbe).mode, Mode::AbsoluteY);
    EXPECT_EQ(opcode(0x0a).mode, Mode::Accumulator);
    EXPECT_EQ(opcode(0xa7).mnemonic, "lax");
    EXPECT_EQ(length_of(opcode(0x20).mode), 3);
    EXPECT_EQ(length_of(opcode(0x90).mode), 2);
}

// The zero page instructions that have a form for any address too, and so
// leave an assembler a choice of width: all but three.
TEST(Opcodes, ZeroPageFormsWithAnAbsoluteOne) {
    const std::pair<std::uint8_t, bool> cases[] = {
        {0xa5, true},   // lda $12: lda $1234
        {0xb5, true},   // lda $12,x: lda $1234,x
        {0xb6, true},   // ldx $12,y: ldx $1234,y
        {0xb7, true},   // lax $12,y: lax $1234,y
        {0x14, true},   // nop $12,x: nop $1234,x ($1c)
        {0x87, true},   // sax $12: sax $1234
        {0x96, false},  // stx $12,y
        {0x94, false},  // sty $12,x
        {0x97, false},  // sax $12,y
        {0xad, false},  // lda $1234: no zero page form
        {0xb1, false},  // lda ($12),y
    };
    for (const auto& [byte, expected] : cases) EXPECT_EQ(has_absolute_form(byte), expected) << int{byte};
    int without = 0;
    for (int byte = 0; byte < 256; ++byte) {
        const Opcode& op = opcode(static_cast<std::uint8_t>(byte));
        const bool zero_page = op.mode == Mode::ZeroPage || op.mode == Mode::ZeroPageX || op.mode == Mode::ZeroPageY;
        if (zero_page && op.standing != Standing::Duplicate && !has_absolute_form(static_cast<std::uint8_t>(byte))) ++without;
    }
    EXPECT_EQ(without, 3);
}

TEST(Trace, KnownCodeAndDataRegions) {
    const Image image = make_image(0x1000, {
        0x20, 0x0a, 0x10,  // jsr $100a
        0xd0, 0xfb,        // bne $1000
        0x4c, 0x0e, 0x10,  // jmp $100e
        0x01, 0x02,        // $1008: table, only read
        0xbd, 0x08, 0x10,  // $100a: lda $1008,x
        0x60,              // rts
        0xa9, 0x00,        // $100e: lda #0
        0x60,              // rts
        0xa9, 0x01, 0x60,  // $1011: looks like code, but nothing gets here
    });
    const MemoryMap analysis = trace_program(image, 0x1000);
    EXPECT_EQ(kinds(analysis), "CooCoCoo..CooCCoC...");
}

TEST(Trace, FirstClaimWinsWhenPathsOverlap) {
    const Image image = make_image(0x1000, {
        0x20, 0x06, 0x10,  // jsr $1006
        0x4c, 0x07, 0x10,  // jmp $1007: into the operand of the lda
        0xa9, 0x60,        // $1006: lda #$60 (from $1007 it would be rts)
        0x60,              // rts
    });
    const MemoryMap analysis = trace_program(image, 0x1000);
    EXPECT_EQ(kinds(analysis), "CooCooCoC");
}

TEST(Trace, StopsAtUndocumentedOpcodesAndImageEnd) {
    const Image image = make_image(0xc000, {
        0xa2, 0x00,        // ldx #0
        0xf0, 0x03,        // beq $c007
        0xe8,              // inx
        0x02,              // jam: not code
        0xea,              // never reached
        0xea,              // $c007 nop
        0xad, 0x00,        // lda $xx00, cut off by the end
    });
    const MemoryMap analysis = trace_program(image, 0xc000);
    EXPECT_EQ(kinds(analysis), "CoCoC..C..");
}

TEST(Trace, BranchesWrapAroundMemory) {
    // At $FFFC: beq $0002 (wraps) / rts; then nothing else.
    const Image image = make_image(0xfffc, {0xf0, 0x04, 0x60, 0x00});
    const MemoryMap analysis = trace_program(image, 0xfffc);
    EXPECT_EQ(kinds(analysis), "CoC.");
    EXPECT_EQ(target_of(image, 0xfffc), 0x0002u);
    const Image low = make_image(0x0000, {0xd0, 0xfc, 0x60});  // bne $fffe / rts
    EXPECT_EQ(target_of(low, 0x0000), 0xfffeu);
}

TEST(Trace, EntryOutsideImageOrInBasicTracesNothing) {
    // A BASIC line without SYS: nothing else says where the code starts.
    const std::vector<std::uint8_t> program = {
        0x0b, 0x08, 0x0a, 0x00, 0x8f, 0x32, 0x30, 0x36, 0x31, 0x00, 0x00, 0x00,  // 10 REM2061
        0xa9, 0x01, 0x60,
    };
    const Image image = make_image(0x0801, program);
    for (std::int64_t entry : {-257LL, 0LL, 2048LL, 2064LL, 4000000000LL}) {
        const MemoryMap analysis = trace_program(image, entry);
        EXPECT_FALSE(analysis.start.entry_in_image) << entry;
        EXPECT_EQ(kinds(analysis), "...............") << entry;
    }
    const MemoryMap in_basic = trace_program(image, 0x0801);
    EXPECT_TRUE(in_basic.start.entry_in_basic);
    EXPECT_EQ(kinds(in_basic), "...............");
    EXPECT_EQ(kinds(trace_program(image, 2061)), "............CoC");
    // With 10 SYS2061 the code is traced from there, whatever the entry.
    std::vector<std::uint8_t> with_sys = program;
    with_sys[4] = 0x9e;
    const Image sys_image = make_image(0x0801, with_sys);
    for (std::int64_t entry : {-257LL, 2048LL, 2049LL, 2053LL, 2064LL, 2061LL}) {
        const MemoryMap analysis = trace_program(sys_image, entry);
        EXPECT_EQ(kinds(analysis), "............CoC") << entry;
        ASSERT_EQ(analysis.start.sys_entries.size(), 1u) << entry;
        EXPECT_EQ(analysis.start.sys_entries[0].address, 2061u);
        EXPECT_EQ(analysis.start.sys_entries[0].line, 10u);
    }
}

TEST(Basic, DetokenizesLinesAsListShowsThem) {
    EXPECT_EQ(detokenize({0x9e, 0x32, 0x30, 0x36, 0x31}), "SYS2061");
    // Keywords in quotes stay characters; pi and unknown bytes are marked.
    EXPECT_EQ(detokenize({0x99, 0x22, 0x48, 0x99, 0x22, 0x3b, 0xff}), "PRINT\"H{$99}\";{PI}");
    EXPECT_EQ(detokenize({0x8f, 0x20, 0x41, 0xb2, 0x42}), "REM A=B");
    EXPECT_EQ(detokenize({0xcb, 0x54, 0x4f, 0x20, 0x31, 0x30}), "GOTO 10");
}

TEST(Basic, FindsLinkedLinesOnly) {
    const std::vector<std::uint8_t> two_lines = {
        0x0c, 0x08, 0x0a, 0x00, 0x99, 0x22, 0x48, 0x49, 0x22, 0x00,  // 10 PRINT"HI"
        0x15, 0x08, 0x14, 0x00, 0x9e, 0x32, 0x30, 0x36, 0x34, 0x00,  // 20 SYS2064 (wrong, as typed)
        0x00, 0x00, 0x60,
    };
    // Fix the first link: the line ends at $080a.
    std::vector<std::uint8_t> bytes = two_lines;
    bytes[0] = 0x0b;
    const BasicProgram program = find_basic(make_image(0x0801, bytes));
    ASSERT_EQ(program.lines.size(), 2u);
    EXPECT_EQ(program.lines[0].text, "10 PRINT\"HI\"");
    EXPECT_EQ(program.lines[1].text, "20 SYS2064");
    EXPECT_EQ(program.end, 0x0817u);
    // A link that misses the end of its line, a missing final zero link,
    // or the wrong load address: no BASIC.
    EXPECT_TRUE(find_basic(make_image(0x0801, two_lines)).lines.empty());
    EXPECT_TRUE(find_basic(make_image(0x0801, {bytes.begin(), bytes.begin() + 21})).lines.empty());
    EXPECT_TRUE(find_basic(make_image(0x1001, bytes)).lines.empty());
    EXPECT_TRUE(find_basic(make_image(0x0801, {0x00, 0x00, 0x60})).lines.empty());
}

class ListingTest : public ::testing::Test {
protected:
    std::string asm_for(const Image& image, std::int64_t entry, bool guesses = false) {
        const MemoryMap map = analyse(image, {.entry = entry, .guesses = guesses});
        listing = build_listing(map, {"test.tmp", "test.unpacked.prg", "test.unpacked.asm", "Tolvek.exe --unpack"});
        return write_asm(listing, image, kAcme, {"test.asm", "test.prg", ""});
    }
    const Row* row_at(std::uint32_t address) const {
        for (const Row& row : listing.rows) {
            if (row.address == address) return &row;
        }
        return nullptr;
    }
    Listing listing;
};

TEST_F(ListingTest, LabelsEquatesAndLabelPlusOffset) {
    const Image image = make_image(0xc000, {
        0x20, 0xd2, 0xff,  // jsr CHROUT
        0x8d, 0x15, 0x03,  // sta CINV+1
        0xad, 0x00, 0xc8,  // lda $c800: outside, unnamed, far from the end
        0xad, 0xa9, 0x01,  // $c009: lda $01a9
        0x20, 0x0a, 0xc0,  // jsr $c00a: into its operand
        0xee, 0x14, 0xc0,  // $c00f inc $c014
        0x60,              // rts
        0x00, 0x01,        // $c013: data, $c014 written to
    });
    const std::string text = asm_for(image, 0xc000);
    EXPECT_NE(text.find("CHROUT = $ffd2\n"), std::string::npos) << text;
    EXPECT_NE(text.find("CINV = $0314\n"), std::string::npos) << text;
    EXPECT_EQ(text.find("EXTCOL"), std::string::npos) << "unused equate listed";
    ASSERT_NE(row_at(0xc003), nullptr);
    EXPECT_EQ(row_at(0xc003)->operand.symbol.name, "CINV");
    EXPECT_EQ(row_at(0xc003)->operand.symbol.offset, 1);
    EXPECT_TRUE(row_at(0xc006)->operand.symbol.empty());
    EXPECT_EQ(row_at(0xc006)->operand.value, 0xc800u);
    EXPECT_EQ(row_at(0xc009)->label, "Lc009");
    EXPECT_EQ(row_at(0xc00c)->operand.symbol.name, "Lc009");
    EXPECT_EQ(row_at(0xc00c)->operand.symbol.offset, 1);
    EXPECT_EQ(row_at(0xc00f)->operand.symbol.name, "Dc014");
    for (const char* line : {"\tsta CINV+1              ; IRQ handler's address, high byte\n", "\tlda $c800\n", "\tjsr Lc009+1\n", "\tinc Dc014\n"}) {
        EXPECT_NE(text.find(line), std::string::npos) << line;
    }
    ASSERT_NE(row_at(0xc014), nullptr) << "data row not split at the label";
    EXPECT_EQ(row_at(0xc014)->label, "Dc014");
    EXPECT_EQ(row_at(0xc000)->comment, "print the character in A");
    EXPECT_EQ(row_at(0xc000)->heading, "entry point");
    // Header: file, load, entry, byte counts.
    EXPECT_NE(text.find("; load address: $c000, 21 bytes\n"), std::string::npos) << text;
    EXPECT_NE(text.find("; entry address: $c000 (49152)\n"), std::string::npos) << text;
    EXPECT_NE(text.find("; code: 19 bytes, data: 2 bytes\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\trts\n\n\t!byte $00\nDc014 "), std::string::npos) << "no blank line after the routine";
    // Beside each label, the places that refer to it, by the label before
    // them and the offset; the name plus an offset refers to the label.
    EXPECT_NE(text.find("\nLc009" + std::string(27, ' ') + "; called from Lc009+3\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\nDc014" + std::string(27, ' ') + "; changed by Lc009+6\n"), std::string::npos) << text;
}

TEST_F(ListingTest, EveryStretchOfCodeStartsWithALabelAndBasicLinksAreLabels) {
    const Image image = make_image(0x0801, {
        0x0b, 0x08, 0x0a, 0x00, 0x9e, 0x32, 0x30, 0x36, 0x31, 0x00, 0x00, 0x00,  // 10 SYS2061
        0x20, 0x13, 0x08,  // $080d: jsr $0813
        0x4c, 0x18, 0x08,  // jmp $0818
        0xa9, 0x01,        // $0813: lda #1, called
        0x60,              // rts
        0xa2, 0x01,        // $0816: ldx #1, reached by nothing: a gap of code
        0x60,              // $0818: rts
    });
    const std::string text = asm_for(image, 2061, true);
    // The link of line 10 names the end of the program: a label there.
    EXPECT_NE(text.find("\t!word D080b             ; 10 SYS2061\n"), std::string::npos) << text;
    EXPECT_NE(text.find("D080b                           ; address stored at $0801\n\t!byte $00,$00"), std::string::npos) << text;
    ASSERT_NE(row_at(0x0813), nullptr);
    EXPECT_EQ(row_at(0x0813)->label, "L0813");
    // After an rts, a new stretch, even where nothing refers to it.
    ASSERT_NE(row_at(0x0816), nullptr);
    EXPECT_EQ(row_at(0x0816)->label, "L0816") << text;
}

TEST_F(ListingTest, EntryOutsideTheImageIsReported) {
    const std::string text = asm_for(make_image(0x0801, {0xa9, 0x00}), -257);
    EXPECT_NE(text.find("; entry address: -257 lies outside the image; no code traced from it\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("\t!byte $a9,$00\n"), std::string::npos) << text;
}

TEST_F(ListingTest, TextRowsAndBasicComments) {
    const Image image = make_image(0x0801, {
        0x0b, 0x08, 0x0a, 0x00, 0x9e, 0x32, 0x30, 0x36, 0x31, 0x00, 0x00, 0x00,  // 10 SYS2061
        0x60,                                                                    // rts
        0x01, 0xc8, 0x45, 0x4c, 0x4c, 0x4f, 0x2c, 0x20, 0x57, 0x4f, 0x52, 0x4c, 0x44, 0x0d,
    });
    const std::string text = asm_for(image, 2061);
    ASSERT_NE(row_at(0x0801), nullptr);
    EXPECT_EQ(row_at(0x0801)->comment, "10 SYS2061");
    EXPECT_EQ(row_at(0x080b)->comment, "end of BASIC program");
    ASSERT_NE(row_at(0x080e), nullptr);
    EXPECT_EQ(row_at(0x080e)->kind, RowKind::Bytes);
    EXPECT_NE(text.find("\n\t!byte $01\n"), std::string::npos) << text;
    ASSERT_NE(row_at(0x080f), nullptr) << "text does not start a row of its own";
    EXPECT_EQ(row_at(0x080f)->kind, RowKind::Text);
    // One row, the line break that ends it included.
    EXPECT_EQ(row_at(0x080f)->size, 13u);
    EXPECT_NE(text.find("\n\t!pet \"Hello, world\", 13\n"), std::string::npos) << text;
}

TEST_F(ListingTest, PrintableTablesAreNotText) {
    // Printable, but a repeated byte and punctuation: a table, not text.
    asm_for(make_image(0x1000, {0x60, 0x33, 0x33, 0x33, 0x33, 0x33, 0x00, 0x50, 0x55, 0x25, 0x22, 0x22, 0x22,
                                0x22, 0x22, 0x00, 0x2d, 0x31, 0x32, 0x38}),
            0x1000);
    for (const Row& row : listing.rows) {
        if (row.address < 0x1010) {
            EXPECT_NE(row.kind, RowKind::Text) << std::hex << row.address;
        }
    }
    ASSERT_NE(row_at(0x1010), nullptr);
    EXPECT_EQ(row_at(0x1010)->kind, RowKind::Text) << "numbers are text";
}

// Who refers to a label, beside it: by kind (calls, jumps, branches, reads,
// writes, changes), the first eight places and how many more; in the .asm
// by the label before each place, in the .lst by its address.
TEST_F(ListingTest, ReferencesBesideEachLabel) {
    std::vector<std::uint8_t> bytes = {0x20, 0x2c, 0xc0,   // jsr sub
                                       0xad, 0x2d, 0xc0,   // lda data
                                       0x8d, 0x2d, 0xc0,   // sta data
                                       0xee, 0x2d, 0xc0};  // inc data
    for (int i = 0; i < 9; ++i) bytes.insert(bytes.end(), {0xad, 0x2d, 0xc0});  // lda data
    bytes.insert(bytes.end(), {0xd0, 0x03,         // bne sub
                               0x4c, 0x2c, 0xc0,   // jmp sub
                               0x60,               // sub: rts
                               0x00});             // data
    const Image image = make_image(0xc000, bytes);
    const std::string text = asm_for(image, 0xc000);
    EXPECT_NE(text.find("\nLc02c                           ; called from entry; jumped to from entry+41; "
                        "branched to from entry+39\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("\nDc02d                           ; read by entry+3, entry+12, entry+15, entry+18, "
                        "entry+21, entry+24, entry+27, entry+30 and 4 more\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("\nentry\n"), std::string::npos) << "nothing refers to the entry" << text;
    const std::string lst = write_lst(listing, image, kAcme, {"x.asm", "x.prg", ""});
    EXPECT_NE(lst.find("Lc02c" + std::string(27, ' ') + "; called from $c000; jumped to from $c029; branched to from $c027\n"),
              std::string::npos)
        << lst;
}

TEST_F(ListingTest, ListingRowsShowAddressBytesAndSource) {
    const Image image = make_image(0x1000, {0xa9, 0x01, 0x8d, 0x20, 0xd0, 0x60, 1, 2, 3, 4, 5, 6, 7, 8, 9});
    const MemoryMap map = trace_program(image, 0x1000);
    const std::string lst =
        write_lst(build_listing(map, {"x.tmp", "x.unpacked.prg", "x.unpacked.asm", "Tolvek.exe --unpack"}), image, kAcme, {"x.asm", "x.prg", ""});
    EXPECT_NE(lst.find("\n                               ; entry point\n1000                           entry\n"
                       "1000  a9 01                            lda #$01\n"),
              std::string::npos)
        << lst;
    EXPECT_NE(lst.find("\n1002  8d 20 d0                         sta EXTCOL              ; border colour\n"), std::string::npos) << lst;
    EXPECT_NE(lst.find("\n1006  01 02 03 04 05 06 07 08          !byte $01,$02,$03,$04,$05,$06,$07,$08\n"),
              std::string::npos)
        << lst;
    EXPECT_NE(lst.find("\n100e  09                               !byte $09\n"), std::string::npos) << lst;
    EXPECT_NE(lst.find("; symbol table\nentry           $1000\nEXTCOL          $d020\n"), std::string::npos)
        << lst;
}

}  // namespace
