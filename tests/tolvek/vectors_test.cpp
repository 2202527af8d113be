// Entries named by the program's own words: vectors in the image that its
// code jumps through, and a cartridge's start addresses.
#include <gtest/gtest.h>

#include "analysis/analyse.hpp"
#include "c64/rom_image.hpp"
#include "support.hpp"

using namespace tolvek;
using tolvek_test::listed_at;
using tolvek_test::make_image;

namespace {

// The label the listing gives an address: `prefix` (L for code, D for
// data) and four hex digits.
std::string label(std::uint32_t address, char prefix = 'L') {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string name(1, prefix);
    for (int shift = 12; shift >= 0; shift -= 4) name += kHex[(address >> shift) & 0xf];
    return name;
}

bool any_instruction(const MemoryMap& map, std::uint32_t from, std::uint32_t to) {
    for (std::uint32_t a = from; a < to; ++a) {
        if (is_instruction(map.kind(a))) return true;
    }
    return false;
}

// $c000: sei / jmp ($c004); $c004: the word $c006; $c006: a routine that
// writes zero page with an absolute operand (sta $0003), which no guess
// takes for code.
Image vector_start() {
    return make_image(0xc000, {0x78, 0x6c, 0x04, 0xc0,   // sei / jmp ($c004)
                               0x06, 0xc0,               // the vector: $c006
                               0xa9, 0x01,               // lda #1
                               0x8d, 0x03, 0x00,         // sta $0003
                               0xee, 0x20, 0xd0,         // inc $d020
                               0x60});                   // rts
}

TEST(VectorsInImage, TheWordAtLoadIsWhereTheJumpGoes) {
    const Image image = vector_start();
    for (const bool guesses : {false, true}) {
        SCOPED_TRACE(guesses ? "with guesses" : "trace only");
        const MemoryMap map = analyse(image, {.entry = 0xc000, .guesses = guesses});
        EXPECT_TRUE(map.is_opcode(0xc006));
        EXPECT_TRUE(map.is_opcode(0xc008));
        EXPECT_TRUE(map.is_opcode(0xc00e));
        EXPECT_EQ(map.kind(0xc004), Kind::Word);
        EXPECT_EQ(map.target(0xc004).value_or(0), 0xc006u);
        EXPECT_EQ(listed_at(map, 0xc004), label(0xc004, 'D') + ": !word " + label(0xc006));
        EXPECT_EQ(listed_at(map, 0xc006), label(0xc006) + ": lda #$01");
    }
    // A word leading out of the image, or to a byte the CPU halts on, is
    // left as it is.
    Image outside = vector_start();
    outside.bytes[5] = 0xe0;  // $e006
    EXPECT_FALSE(analyse(outside, {.entry = 0xc000, .guesses = false}).kind(0xc004) == Kind::Word);
    Image halting = vector_start();
    halting.bytes[6] = 0x02;  // jam
    const MemoryMap halts = analyse(halting, {.entry = 0xc000, .guesses = false});
    EXPECT_NE(halts.kind(0xc004), Kind::Word);
    EXPECT_FALSE(any_instruction(halts, 0xc004, 0xc00f));
}

// Code found through one vector may write another: that one is then set at
// run time, whichever order the jumps come in ($c003 through $c00c before
// $c006 through $c00e). The routine at $c010 writes the second vector or
// a byte beside it; the one at $c01d (sta $0003) is an entry only where
// nothing writes its vector.
TEST(VectorsInImage, CodeFoundThroughOneVectorMayWriteTheNext) {
    for (const int w : {0x0e, 0x1b}) {
        const auto written = static_cast<std::uint8_t>(w);
        const Image image = make_image(0xc000, {0x20, 0x06, 0xc0,  // jsr $c006
                                                0x6c, 0x0c, 0xc0,  // jmp ($c00c)
                                                0x6c, 0x0e, 0xc0,  // jmp ($c00e)
                                                0x00, 0x00, 0x00,
                                                0x10, 0xc0,        // $c00c: $c010
                                                0x1d, 0xc0,        // $c00e: $c01d
                                                0xa9, 0x31,        // $c010: lda #$31
                                                0x8d, written, 0xc0,  // sta $c00e (or $c01b)
                                                0xa9, 0xea,        // lda #$ea
                                                0x8d, 0x1c, 0xc0,  // sta $c01c
                                                0x60, 0x00, 0x00,  // rts
                                                0xa9, 0x01,        // $c01d: lda #1
                                                0x8d, 0x03, 0x00,  // sta $0003
                                                0x60});            // rts
        const MemoryMap map = analyse(image, {.entry = 0xc000, .guesses = false});
        EXPECT_TRUE(map.is_opcode(0xc010)) << w;
        EXPECT_EQ(map.is_opcode(0xc01d), w != 0x0e) << w;
    }
}

// $c000: lda #<$ea31 / sta $c00e / lda #>$ea31 / sta $c00f / jmp ($c00e):
// the vector's word at load is a placeholder that leads to `data`.
Image filled_vector(const std::vector<std::uint8_t>& data) {
    std::vector<std::uint8_t> bytes{0xa9, 0x31, 0x8d, 0x0e, 0xc0,   // lda #$31 / sta vector
                                    0xa9, 0xea, 0x8d, 0x0f, 0xc0,   // lda #$ea / sta vector+1
                                    0x6c, 0x0e, 0xc0, 0x00,         // jmp (vector), a spare byte
                                    0x10, 0xc0};                    // the vector: $c010
    for (const std::uint8_t byte : data) bytes.push_back(byte);
    return make_image(0xc000, bytes);
}

TEST(VectorsInImage, AVectorTheCodeFillsInIsOnlyAGuess) {
    // Zeros (brk) behind the placeholder: the trace would take them, the
    // guess refuses them.
    const Image zeros = filled_vector({0x00, 0x00, 0x00, 0x00});
    for (const bool guesses : {false, true}) {
        SCOPED_TRACE(guesses ? "with guesses" : "trace only");
        const MemoryMap map = analyse(zeros, {.entry = 0xc000, .guesses = guesses});
        EXPECT_FALSE(any_instruction(map, 0xc00e, 0xc014));
        EXPECT_NE(map.kind(0xc00e), Kind::Word);
    }
    // A routine behind it that decodes cleanly is taken as a guess (and
    // only when guessing).
    const Image routine = filled_vector({0xa9, 0x00, 0x8d, 0x20, 0xd0, 0x60});  // lda #0 / sta $d020 / rts
    const MemoryMap traced = analyse(routine, {.entry = 0xc000, .guesses = false});
    EXPECT_FALSE(traced.is_opcode(0xc010));
    const MemoryMap guessed = analyse(routine, {.entry = 0xc000});
    EXPECT_TRUE(guessed.is_opcode(0xc012));
    EXPECT_EQ(guessed.kind(0xc00e), Kind::Word);
    EXPECT_EQ(guessed.source(0xc00e), Source::GuessTable);
}

// A cartridge at $8000: cold start $8009, warm start $800e, "CBM80", then
// sei / cld / jmp $800e (cold) and inc $d020 / jmp $800e (warm).
Image cartridge() {
    return make_image(0x8000, {0x09, 0x80, 0x0e, 0x80,           // the start addresses
                               0xc3, 0xc2, 0xcd, 0x38, 0x30,     // "CBM80"
                               0x78, 0xd8, 0x4c, 0x0e, 0x80,     // cold: sei / cld / jmp warm
                               0xee, 0x20, 0xd0, 0x4c, 0x0e, 0x80});  // warm: inc $d020 / jmp warm
}

TEST(Cartridge, TheHeaderIsDataAndItsStartsAreCode) {
    const Image image = cartridge();
    for (const bool guesses : {false, true}) {
        SCOPED_TRACE(guesses ? "with guesses" : "trace only");
        // The entry prgdis passes for a program without SYS: the load address.
        const MemoryMap map = analyse(image, {.entry = 0x8000, .guesses = guesses});
        EXPECT_FALSE(any_instruction(map, 0x8000, 0x8009));
        ASSERT_TRUE(map.start.cartridge.has_value());
        EXPECT_EQ(map.start.cartridge->cold, 0x8009u);
        EXPECT_EQ(map.start.cartridge->warm, 0x800eu);
        EXPECT_EQ(listed_at(map, 0x8000), label(0x8000, 'D') + ": !word cold_start,warm_start");
        EXPECT_EQ(map.kind(0x8004), Kind::Petscii);
        EXPECT_TRUE(map.is_opcode(0x8009));
        EXPECT_TRUE(map.is_opcode(0x800b));
        EXPECT_TRUE(map.is_opcode(0x8011));
    }
    // Without the signature the words are no header.
    Image plain = cartridge();
    plain.bytes[8] = 0x31;
    EXPECT_FALSE(analyse(plain, {.entry = 0x8000, .guesses = false}).start.cartridge.has_value());
}

TEST(Cartridge, RunsFromTheColdStart) {
    const MemoryMap map = analyse(cartridge(), {.entry = 0x8000, .guesses = false, .run = {.budget = 20000}});
    ASSERT_FALSE(map.run.runs.empty());
    EXPECT_EQ(map.run.runs.front().entry, 0x8009);
    for (const ProgramRun& run : map.run.runs) EXPECT_NE(run.entry, 0x8000);
}

}  // namespace

// A KERNAL of our own, $E000-$FFFF: the reset copies two vectors from a
// table at $E100 into $0314, allows interrupts and waits; the interrupt
// entry at $FF48 saves the registers and jumps through $0314, to a handler
// at $E200 that nothing else names. Padding of $aa between.
Image own_kernal() {
    std::vector<std::uint8_t> rom(0x2000, 0xaa);
    const auto put = [&](std::uint32_t address, std::initializer_list<std::uint8_t> bytes) {
        std::copy(bytes.begin(), bytes.end(), rom.begin() + (address - 0xe000));
    };
    put(0xe000, {0x78, 0xa2, 0x03,    // sei / ldx #3
                 0xbd, 0x00, 0xe1,    // lda $e100,x
                 0x9d, 0x14, 0x03,    // sta $0314,x
                 0xca, 0x10, 0xf7,    // dex / bpl
                 0x58,                // cli
                 0x4c, 0x0d, 0xe0});  // jmp *
    put(0xe100, {0x00, 0xe2, 0x00, 0xe3});
    put(0xe200, {0xee, 0x20, 0xd0,         // inc $d020
                 0xad, 0x0d, 0xdc,         // lda $dc0d
                 0x68, 0xa8, 0x68, 0xaa,   // pla / tay / pla / tax
                 0x68, 0x40});             // pla / rti
    put(0xe300, {0x40});
    put(0xff48, {0x48, 0x8a, 0x48, 0x98, 0x48, 0x6c, 0x14, 0x03});  // pha / txa / pha / tya / pha / jmp ($0314)
    put(0xfffa, {0x00, 0xe3, 0x00, 0xe0, 0x48, 0xff});
    return make_image(0xe000, std::move(rom));
}

TEST(RomImage, OnlyAnImageShapedAsTheRomIsOne) {
    EXPECT_TRUE(rom_parts(own_kernal()).kernal);
    EXPECT_FALSE(rom_parts(own_kernal()).basic);
    // The same bytes loaded from $0800 up to $FFFF are a program in RAM.
    Image program = own_kernal();
    program.bytes.insert(program.bytes.begin(), 0xd800, 0xea);
    program.load = 0x0800;
    EXPECT_FALSE(rom_parts(program).any());
    // A reset vector that leads out of the KERNAL's ROM.
    Image elsewhere = own_kernal();
    elsewhere.bytes[0x1ffd] = 0x08;
    EXPECT_FALSE(rom_parts(elsewhere).any());
    // BASIC: signed, or with the KERNAL; cold and warm start into the ROMs.
    std::vector<std::uint8_t> basic(0x2000, 0xea);
    const std::uint8_t header[] = {0x94, 0xe3, 0x7b, 0xe3, 'C', 'B', 'M', 'B', 'A', 'S', 'I', 'C'};
    std::copy(std::begin(header), std::end(header), basic.begin());
    EXPECT_TRUE(rom_parts(make_image(0xa000, basic)).basic);
    basic[4] = 'X';
    EXPECT_FALSE(rom_parts(make_image(0xa000, basic)).basic);
    std::vector<std::uint8_t> both = basic;
    both.resize(0x4000, 0);
    const Image kernal = own_kernal();
    both.insert(both.end(), kernal.bytes.begin(), kernal.bytes.end());
    EXPECT_TRUE(rom_parts(make_image(0xa000, both)).basic);
    EXPECT_TRUE(rom_parts(make_image(0xa000, both)).kernal);
}

TEST(RomImage, VectorsAreWordsAndTheRunStartsAtTheReset) {
    const Image image = own_kernal();
    for (const std::uint64_t budget : {std::uint64_t{0}, std::uint64_t{1000000}}) {
        SCOPED_TRACE(budget == 0 ? "without the run" : "with the run");
        // The entry prgdis passes for a program without SYS: the load address.
        const MemoryMap map = analyse(image, {.entry = 0xe000, .guesses = false, .run = {.budget = budget}});
        EXPECT_TRUE(map.start.rom.kernal);
        EXPECT_EQ(listed_at(map, 0xfffa), "!word nmi,reset,irq");
        EXPECT_EQ(listed_at(map, 0xe000), "reset: sei");
        EXPECT_TRUE(map.is_opcode(0xff48));
        if (budget == 0) continue;
        // The ROM runs as the ROM: its own interrupt entry leads through the
        // vector it copied to the handler, which only the run finds.
        ASSERT_FALSE(map.run.runs.empty());
        EXPECT_EQ(map.run.runs.front().entry, 0xe000);
        // Installed in CINV, it is an IRQ handler too.
        EXPECT_EQ(listed_at(map, 0xe200), "irq_2: inc EXTCOL");
        EXPECT_EQ(map.source(0xe200), Source::Run);
    }
}

TEST(Cartridge, AnUpperRomImageAtA000CarriesItsHeaderThere) {
    Image upper = cartridge();
    upper.load = 0xa000;
    upper.bytes[0] = 0x09;  // cold start $a009, warm start $a00e
    upper.bytes[1] = 0xa0;
    upper.bytes[3] = 0xa0;
    upper.bytes[12] = 0xa0;  // jmp warm
    upper.bytes[19] = 0xa0;
    const MemoryMap map = analyse(upper, {.entry = 0xa000, .guesses = false});
    ASSERT_TRUE(map.start.cartridge.has_value());
    EXPECT_EQ(map.start.cartridge->cold, 0xa009u);
    EXPECT_FALSE(any_instruction(map, 0xa000, 0xa009));
    EXPECT_EQ(listed_at(map, 0xa009), "cold_start: sei");
    // Not at $A000 in an image that starts elsewhere.
    Image longer = upper;
    longer.load = 0x9ff0;
    longer.bytes.insert(longer.bytes.begin(), 0x10, 0xea);
    EXPECT_FALSE(analyse(longer, {.entry = 0x9ff0, .guesses = false}).start.cartridge.has_value());
}
