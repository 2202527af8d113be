// The 6510's undocumented opcodes: which ones the trace runs through, how
// much they count against a guess, the documented instruction set alone,
// and how each dialect writes them.
#include <gtest/gtest.h>

#include <map>
#include <set>

#include "analysis/analyse.hpp"
#include "analysis/pairs.hpp"
#include "cpu/decode.hpp"
#include "output/listing.hpp"
#include "output/writers.hpp"
#include "support.hpp"

using namespace tolvek;
using tolvek_test::make_image;

namespace {

// "C" for the first byte of an instruction, "o" for the rest, "." for
// anything else.
std::string kinds(const MemoryMap& map) {
    std::string out;
    for (Kind k : map.kinds()) out += k == Kind::Opcode ? 'C' : k == Kind::Operand ? 'o' : '.';
    return out;
}

bool all_code(const MemoryMap& map, std::uint32_t from, std::uint32_t to) {
    for (std::uint32_t a = from; a < to; ++a) {
        if (!is_instruction(map.kind(a))) return false;
    }
    return true;
}

bool no_code(const MemoryMap& map, std::uint32_t from, std::uint32_t to) {
    for (std::uint32_t a = from; a < to; ++a) {
        if (is_instruction(map.kind(a))) return false;
    }
    return true;
}

TEST(Undocumented, StandingOfEveryOpcode) {
    std::map<Standing, int> count;
    std::set<std::pair<std::string_view, Mode>> written;
    for (int byte = 0; byte < 256; ++byte) {
        const Opcode& op = opcode(static_cast<std::uint8_t>(byte));
        ++count[op.standing];
        // Each mnemonic and mode that an assembler writes stands for one
        // byte, or the round trip could not come back to it.
        if (op.standing == Standing::Documented || op.standing == Standing::Stable ||
            op.standing == Standing::ZeroOnly) {
            EXPECT_TRUE(written.insert({op.mnemonic, op.mode}).second) << op.mnemonic << " at " << byte;
        }
    }
    EXPECT_EQ(count[Standing::Documented], 151);
    EXPECT_EQ(count[Standing::Stable], 62);
    EXPECT_EQ(count[Standing::ZeroOnly], 2);
    EXPECT_EQ(count[Standing::Duplicate], 24);
    EXPECT_EQ(count[Standing::Unstable], 5);
    EXPECT_EQ(count[Standing::Halts], 12);
    // A duplicate is what assemblers write with another byte.
    for (int byte = 0; byte < 256; ++byte) {
        const Opcode& op = opcode(static_cast<std::uint8_t>(byte));
        if (op.standing != Standing::Duplicate) continue;
        EXPECT_TRUE(written.count({op.mnemonic, op.mode}) == 1 || op.mode == Mode::Implied) << byte;
    }
    for (int byte : {0x93, 0x9b, 0x9c, 0x9e, 0x9f}) {
        EXPECT_EQ(opcode(static_cast<std::uint8_t>(byte)).standing, Standing::Unstable) << byte;
    }
    for (int byte : {0x04, 0x0c, 0x14, 0x1c, 0x80, 0x0b, 0x4b, 0x6b, 0xcb, 0xbb, 0xa7, 0x87, 0xc7, 0xe7}) {
        EXPECT_EQ(opcode(static_cast<std::uint8_t>(byte)).standing, Standing::Stable) << byte;
    }
    EXPECT_EQ(opcode(0x4b).mnemonic, "alr");
    EXPECT_EQ(opcode(0xcb).mnemonic, "sbx");
    EXPECT_EQ(opcode(0xab).mnemonic, "lxa");
}

TEST(Undocumented, MnemonicOnlyWhereAssemblersGiveTheseBytes) {
    const Image image = make_image(0x1000, {0xab, 0x00, 0xab, 0x01, 0x8b, 0x00, 0xa7, 0xfe, 0xeb, 0x01, 0x1a, 0x02});
    EXPECT_TRUE(has_mnemonic(image, 0x1000));   // lxa #$00
    EXPECT_FALSE(has_mnemonic(image, 0x1002));  // lxa #$01: unstable
    EXPECT_TRUE(has_mnemonic(image, 0x1004));   // ane #$00
    EXPECT_TRUE(has_mnemonic(image, 0x1006));   // lax $fe
    EXPECT_FALSE(has_mnemonic(image, 0x1008));  // $eb: sbc # is $e9
    EXPECT_FALSE(has_mnemonic(image, 0x100a));  // $1a: nop is $ea
    EXPECT_FALSE(has_mnemonic(image, 0x100b));  // jam
}

// A raster interrupt handler installed through $0314 that uses lax and alr,
// as demos do.
struct RasterProgram {
    static constexpr std::uint32_t kLoad = 0x1000;
    static constexpr std::uint32_t kHandler = 0x100f;
    static constexpr std::uint32_t kColours = 0x1025;
    Image image = make_image(kLoad, {
        0x78,              // sei
        0xa9, 0x0f,        // lda #<irq
        0x8d, 0x14, 0x03,  // sta $0314
        0xa9, 0x10,        // lda #>irq
        0x8d, 0x15, 0x03,  // sta $0315
        0x58,              // cli
        0x4c, 0x0c, 0x10,  // $100c: jmp $100c
        // $100f irq:
        0x0e, 0x19, 0xd0,  // asl $d019
        0xa7, 0xfe,        // lax $fe
        0xe8,              // inx
        0x86, 0xfe,        // stx $fe
        0x4b, 0x0e,        // alr #$0e
        0xa8,              // tay
        0xb9, 0x25, 0x10,  // lda colours,y
        0x8d, 0x20, 0xd0,  // sta $d020
        0xcb, 0x00,        // sbx #$00
        0x4c, 0x31, 0xea,  // jmp $ea31
        // $1025 colours:
        0x00, 0x0b, 0x0c, 0x0f, 0x01, 0x0f, 0x0c, 0x0b,
    });
};

TEST(Undocumented, InterruptHandlerWithLaxIsTracedThrough) {
    const RasterProgram p;
    const MemoryMap map = analyse(p.image, {.entry = RasterProgram::kLoad, .guesses = false});
    EXPECT_TRUE(all_code(map, RasterProgram::kHandler, RasterProgram::kColours));
    EXPECT_TRUE(no_code(map, RasterProgram::kColours, p.image.end()));
    // The documented instruction set alone keeps the handler from its lax on.
    const MemoryMap documented =
        analyse(p.image, {.entry = RasterProgram::kLoad, .guesses = false, .undocumented = false});
    EXPECT_TRUE(documented.is_opcode(RasterProgram::kHandler));
    EXPECT_TRUE(no_code(documented, RasterProgram::kHandler + 3, p.image.end()));
}

TEST(Undocumented, EarlyLxaZeroKeepsTheInterruptsInstalled) {
    const std::vector<std::uint8_t> program = {
        0xab, 0x00,        // lxa #$00: A = X = 0 on every C64
        0x8e, 0x20, 0xd0,  // stx $d020
        0x78,              // sei
        0xa9, 0x13,        // lda #<irq
        0x8d, 0x14, 0x03,  // sta $0314
        0xa9, 0x10,        // lda #>irq
        0x8d, 0x15, 0x03,  // sta $0315
        0x58,              // cli
        0x60,              // rts
        0x00,              // $1012
        0xee, 0x20, 0xd0,  // $1013 irq: inc $d020
        0x4c, 0x31, 0xea,  // jmp $ea31
    };
    const MemoryMap map = analyse(make_image(0x1000, program), {.entry = 0x1000, .guesses = false});
    EXPECT_EQ(kinds(map), "CoCooCCoCooCoCooCC.CooCoo");
    const MemoryMap documented =
        analyse(make_image(0x1000, program), {.entry = 0x1000, .guesses = false, .undocumented = false});
    EXPECT_EQ(kinds(documented), std::string(program.size(), '.'));
    // With an immediate other than zero, what lxa leaves depends on the chip.
    std::vector<std::uint8_t> unstable = program;
    unstable[1] = 0xff;
    const MemoryMap lxa_ff = analyse(make_image(0x1000, unstable), {.entry = 0x1000, .guesses = false});
    EXPECT_EQ(kinds(lxa_ff), std::string(program.size(), '.'));
}

// lda #1, the instruction, rts: how much of it the trace from the entry
// claims.
std::string traced(std::vector<std::uint8_t> instruction, bool undocumented = true) {
    std::vector<std::uint8_t> bytes = {0xa9, 0x01};
    bytes.insert(bytes.end(), instruction.begin(), instruction.end());
    bytes.push_back(0x60);
    return kinds(analyse(make_image(0x2000, bytes), {.entry = 0x2000, .guesses = false, .undocumented = undocumented}));
}

TEST(Undocumented, TraceRunsThroughEveryStableOne) {
    for (int byte = 0; byte < 256; ++byte) {
        const Opcode& op = opcode(static_cast<std::uint8_t>(byte));
        if (op.standing != Standing::Stable) continue;
        std::vector<std::uint8_t> instruction(static_cast<std::size_t>(length_of(op.mode)), 0x12);
        instruction[0] = static_cast<std::uint8_t>(byte);
        const std::string code = "Co" + std::string("C") + std::string(instruction.size() - 1, 'o') + "C";
        EXPECT_EQ(traced(instruction), code) << byte;
        EXPECT_EQ(traced(instruction, false), "Co" + std::string(instruction.size() + 1, '.')) << byte;
    }
}

TEST(Undocumented, UnstableOnesDuplicatesAndJamStayData) {
    const std::vector<std::vector<std::uint8_t>> cases = {
        {0x93, 0x12},        // sha ($12),y
        {0x9f, 0x00, 0x20},  // sha $2000,y
        {0x9b, 0x00, 0x20},  // tas $2000,y
        {0x9c, 0x00, 0x20},  // shy $2000,x
        {0x9e, 0x00, 0x20},  // shx $2000,y
        {0x8b, 0x12},        // ane #$12
        {0xab, 0x12},        // lxa #$12
        {0xeb, 0x01},        // sbc #$01, which assemblers write as $e9
        {0x2b, 0x01},        // anc #$01, written as $0b
        {0x1a},              // nop, written as $ea
        {0x89, 0x01},        // nop #$01, written as $80
        {0x34, 0x12},        // nop $12,x, written as $14
        {0x3c, 0x00, 0x20},  // nop $2000,x, written as $1c
        {0x44, 0x12},        // nop $12, written as $04
        {0x02},              // jam
        {0xf2},              // jam
    };
    for (const auto& instruction : cases) {
        EXPECT_EQ(traced(instruction), "Co" + std::string(instruction.size() + 1, '.')) << int{instruction[0]};
    }
}

// The pairs of immediates that the tracker finds in code traced from $1000.
std::vector<AddressPair> pairs_in(const std::vector<std::uint8_t>& program) {
    const Image image = make_image(0x1000, program);
    return find_address_pairs(analyse(image, {.entry = 0x1000, .guesses = false}));
}

TEST(Undocumented, PairTrackingForgetsOnlyTheRegistersTheyChange) {
    // sax and nop between the halves change neither A nor the pointer.
    const std::vector<AddressPair> stored = pairs_in({
        0xa9, 0x20,  // lda #<$1020
        0x85, 0xfb,  // sta $fb
        0x87, 0x02,  // sax $02
        0xa9, 0x10,  // lda #>$1020
        0x04, 0x02,  // nop $02
        0x85, 0xfc,  // sta $fc
        0x60,
    });
    ASSERT_EQ(stored.size(), 1u);
    EXPECT_EQ(stored[0].value, 0x1020u);
    EXPECT_EQ(stored[0].low, 0x1000u);
    EXPECT_EQ(stored[0].high, 0x1006u);
    EXPECT_EQ(stored[0].stored_to, 0xfbu);
    // Nor do they change X and Y on the way to SETNAM.
    const std::vector<AddressPair> setnam = pairs_in({
        0xa2, 0x20,        // ldx #<$1020
        0xa0, 0x10,        // ldy #>$1020
        0x87, 0x02,        // sax $02
        0x20, 0xbd, 0xff,  // jsr SETNAM
        0x60,
    });
    ASSERT_EQ(setnam.size(), 1u);
    EXPECT_EQ(setnam[0].value, 0x1020u);
    // lax loads A and X: the high half is gone before the store.
    EXPECT_TRUE(pairs_in({0xa9, 0x20, 0x85, 0xfb, 0xa9, 0x10, 0xa7, 0x02, 0x85, 0xfc, 0x60}).empty());
    // sbx changes X: the low half is gone before the call.
    EXPECT_TRUE(pairs_in({0xa2, 0x10, 0xa0, 0x20, 0xcb, 0x00, 0x20, 0xbd, 0xff, 0x60}).empty());
}

// A routine reached only by guessing: the gap after `jsr last / rts`, of
// `before` documented instructions, an undocumented one, `after` more, and
// rts.
struct GapProgram {
    Image image;
    std::uint32_t gap = 0;
    GapProgram(int before, std::vector<std::uint8_t> undocumented, int after) {
        image.load = 0x0900;
        std::vector<std::uint8_t>& b = image.bytes;
        b = {0x20, 0x00, 0x00, 0x60};  // jsr last / rts
        gap = image.end();
        const auto documented = [&](int count) {
            for (int i = 0; i < count; ++i) {
                // lda #i / sta $d020 or $d021 / inx, in turn
                if (i % 3 == 0) b.insert(b.end(), {0xa9, static_cast<std::uint8_t>(i)});
                if (i % 3 == 1) b.insert(b.end(), {0x8d, static_cast<std::uint8_t>(0x20 + i % 2), 0xd0});
                if (i % 3 == 2) b.push_back(0xe8);
            }
        };
        documented(before);
        b.insert(b.end(), undocumented.begin(), undocumented.end());
        documented(after);
        b.push_back(0x60);
        const std::uint32_t last = image.end();
        b.insert(b.end(), {0xea, 0x60});  // last: nop / rts
        b[1] = static_cast<std::uint8_t>(last);
        b[2] = static_cast<std::uint8_t>(last >> 8);
    }
    std::uint32_t gap_end() const { return image.end() - 2; }
    MemoryMap analyse(bool undocumented = true) const {
        return tolvek::analyse(image, {.entry = image.load, .undocumented = undocumented});
    }
};

TEST(Undocumented, GuessHoldsOnePerThirtyTwoInstructions) {
    // lax $fe as the thirty-second instruction of the routine: taken.
    const GapProgram late(31, {0xa7, 0xfe}, 3);
    EXPECT_TRUE(all_code(late.analyse(), late.gap, late.gap_end()));
    // The documented instruction set alone leaves it data.
    EXPECT_TRUE(no_code(late.analyse(false), late.gap, late.gap_end()));
    // As the thirty-first, or as the second of two among sixty: the gap
    // stays data.
    const GapProgram early(30, {0xa7, 0xfe}, 3);
    EXPECT_TRUE(no_code(early.analyse(), early.gap, early.gap_end()));
    const GapProgram two(31, {0xa7, 0xfe, 0x87, 0xfe}, 30);
    EXPECT_TRUE(no_code(two.analyse(), two.gap, two.gap_end()));
    // Thirty-one documented instructions between them: both taken.
    std::vector<std::uint8_t> apart = {0xa7, 0xfe};
    for (int i = 0; i < 31; ++i) apart.insert(apart.end(), {static_cast<std::uint8_t>(i % 2 == 0 ? 0xa2 : 0xa0), 0x00});
    apart.insert(apart.end(), {0x87, 0xfe});
    const GapProgram two_apart(31, apart, 3);
    EXPECT_TRUE(all_code(two_apart.analyse(), two_apart.gap, two_apart.gap_end()));
    apart.erase(apart.end() - 4, apart.end() - 2);
    const GapProgram two_close(31, apart, 3);
    EXPECT_TRUE(no_code(two_close.analyse(), two_close.gap, two_close.gap_end()));
    // An unstable one or a duplicate is never taken, however late.
    const GapProgram unstable(80, {0x9c, 0x00, 0x20}, 3);
    EXPECT_TRUE(no_code(unstable.analyse(), unstable.gap, unstable.gap_end()));
    const GapProgram duplicate(80, {0xeb, 0x01}, 3);
    EXPECT_TRUE(no_code(duplicate.analyse(), duplicate.gap, duplicate.gap_end()));
}

class UndocumentedListing : public ::testing::Test {
protected:
    std::string asm_for(const Image& image, const Dialect& dialect) {
        const MemoryMap map = analyse(image, {.entry = image.load, .guesses = false});
        const Listing listing = build_listing(map, {"test.tmp", "test.unpacked.prg", "test.unpacked.asm", "Tolvek.exe --unpack"});
        return write_asm(listing, image, dialect, {"test.asm", "test.prg", "test.cfg"});
    }
};

TEST_F(UndocumentedListing, CpuDirectiveBeforeTheOriginAndNamesPerDialect) {
    const RasterProgram p;
    const std::string acme = asm_for(p.image, kAcme);
    EXPECT_NE(acme.find("\t!cpu 6510\n\t* = $1000\n"), std::string::npos) << acme;
    EXPECT_NE(acme.find("\tlax $fe\n"), std::string::npos) << acme;
    EXPECT_NE(acme.find("\talr #$0e\n"), std::string::npos) << acme;
    EXPECT_NE(acme.find("\tsbx #$00\n"), std::string::npos) << acme;
    const std::string tass = asm_for(p.image, k64tass);
    EXPECT_NE(tass.find("\t.cpu \"6502i\"\n\t* = $1000\n"), std::string::npos) << tass;
    EXPECT_NE(tass.find("\tsbx #$00\n"), std::string::npos) << tass;
    const std::string ca65 = asm_for(p.image, kCa65);
    EXPECT_NE(ca65.find("\t.setcpu \"6502X\"\n\t.word $1000\n\t.org $1000\n"), std::string::npos) << ca65;
    EXPECT_NE(ca65.find("\taxs #$00\n"), std::string::npos) << ca65;
    EXPECT_EQ(ca65.find("sbx"), std::string::npos) << ca65;
    // dasm: "processor 6502", which it needs anyway, lets them through.
    const std::string dasm = asm_for(p.image, kDasm);
    EXPECT_NE(dasm.find("\tprocessor 6502\n\torg $1000\n"), std::string::npos) << dasm;
    EXPECT_NE(dasm.find("\tlax $fe\n"), std::string::npos) << dasm;
    EXPECT_NE(dasm.find("\tasr #$0e\n"), std::string::npos) << dasm;
    EXPECT_EQ(dasm.find("alr"), std::string::npos) << dasm;
    // xa knows none of them: their bytes, and the instruction in the comment.
    const std::string xa = asm_for(p.image, kXa);
    EXPECT_NE(xa.find("\t.word $1000\n\t* = $1000\n"), std::string::npos) << xa;
    EXPECT_NE(xa.find("\t.byt $a7,$fe            ; lax $fe\n"), std::string::npos) << xa;
    EXPECT_NE(xa.find("\t.byt $4b,$0e            ; alr #$0e\n"), std::string::npos) << xa;
    EXPECT_NE(xa.find("\t.byt $cb,$00            ; sbx #$00\n"), std::string::npos) << xa;
    const Image lxa = make_image(0x1000, {0xab, 0x00, 0x60});
    EXPECT_NE(asm_for(lxa, kAcme).find("\tlxa #$00"), std::string::npos);
    EXPECT_NE(asm_for(lxa, k64tass).find("\tlxa #$00"), std::string::npos);
    EXPECT_NE(asm_for(lxa, kCa65).find("\tlax #$00"), std::string::npos);
    EXPECT_NE(asm_for(lxa, kDasm).find("\tlxa #$00"), std::string::npos);
    EXPECT_NE(asm_for(lxa, kXa).find("\t.byt $ab,$00            ; lxa #$00\n"), std::string::npos)
        << asm_for(lxa, kXa);
    // A comment of the row's own follows the instruction's.
    const Image sax = make_image(0x1000, {0x8f, 0x20, 0xd0, 0x60});
    EXPECT_NE(asm_for(sax, kXa).find("\t.byt $8f,$20,$d0        ; sax EXTCOL; border colour\n"), std::string::npos)
        << asm_for(sax, kXa);
}

// The names in the comment of an instruction written as bytes are those of
// the source, with the widths the dialect states: defined where the other
// dialects would name them.
TEST_F(UndocumentedListing, InstructionsAsBytesKeepTheirNamesInTheComment) {
    // At $0002: nop, lax $000b (absolute), sax $0b (zero page), jmp $0002;
    // at $000b a byte of the program's own, named further down.
    const Image image = make_image(0x0000, {0x00, 0x00, 0xea, 0xaf, 0x0b, 0x00, 0x87, 0x0b, 0x4c, 0x02, 0x00, 0x01});
    const MemoryMap map = analyse(image, {.entry = 2, .guesses = false});
    const Listing listing = build_listing(map, {"test.tmp", "test.unpacked.prg", "test.unpacked.asm", "Tolvek.exe --unpack"});
    const std::string text = write_asm(listing, image, kXa, {"test.asm", "test.prg", "test.cfg"});
    EXPECT_NE(text.find("\t.byt $af,$0b,$00        ; lax !D000b\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\t.byt $87,$0b            ; sax `D000b\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\nD000b                           ; read by entry+1; written by entry+4\n"), std::string::npos)
        << text;
}

TEST_F(UndocumentedListing, NoDirectiveWithoutUndocumentedMnemonics) {
    // Undocumented bytes that stay data need no directive.
    const Image image = make_image(0x1000, {0xa9, 0x01, 0x60, 0xa7, 0xfe, 0x9c, 0x00, 0x20});
    for (const Dialect* dialect : kDialects) {
        const std::string text = asm_for(image, *dialect);
        EXPECT_EQ(text.find("cpu"), std::string::npos) << text;
    }
}

}  // namespace
