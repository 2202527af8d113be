// Entries named by the program's own words: vectors in the image that its
// code jumps through, and a cartridge's start addresses.
#include <gtest/gtest.h>

#include "analysis/analyse.hpp"
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
        EXPECT_EQ(listed_at(map, 0x8000), label(0x8000, 'D') + ": !word " + label(0x8009) + "," + label(0x800e));
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
