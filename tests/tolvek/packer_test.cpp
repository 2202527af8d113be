// The tests' packers on their own: each compressor's stream read back in
// C++ and the packed programs' layout. Whether the 6502 unpackers really
// give the original back is for unpack_test.cpp, which runs them.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <optional>
#include <random>
#include <stdexcept>

#include "c64/basic.hpp"
#include "packer.hpp"
#include "support.hpp"

using namespace tolvek_test;

namespace {

std::vector<std::uint8_t> random_bytes(std::size_t size, std::uint32_t seed) {
    std::mt19937 random(seed);
    std::vector<std::uint8_t> bytes(size);
    for (auto& byte : bytes) byte = static_cast<std::uint8_t>(random() >> 24);
    return bytes;
}

std::vector<std::uint8_t> text_bytes(const std::string& text, std::size_t times) {
    std::vector<std::uint8_t> bytes;
    for (std::size_t i = 0; i < times; ++i) bytes.insert(bytes.end(), text.begin(), text.end());
    return bytes;
}

void expect_round_trip(const std::vector<std::uint8_t>& data, const std::string& what, Packer packer) {
    const std::vector<std::uint8_t> stream = pack(data, packer);
    ASSERT_FALSE(stream.empty()) << what;
    EXPECT_EQ(unpack(stream, packer), data) << packer_name(packer) << ": " << what;
}

void expect_round_trip(const std::vector<std::uint8_t>& data, const std::string& what) {
    for (const Packer packer : kPackers) expect_round_trip(data, what, packer);
}

TEST(PackerNames, EachPackerHasItsOwnNameAndIsFoundByIt) {
    for (const Packer packer : kPackers) {
        EXPECT_EQ(packer_named(packer_name(packer)), packer) << packer_name(packer);
        for (const Packer other : kPackers) {
            if (other != packer) {
                EXPECT_STRNE(packer_name(packer), packer_name(other));
            }
        }
    }
    EXPECT_EQ(packer_named("plain"), Packer::Plain);
    EXPECT_EQ(packer_named("tables-below"), Packer::TablesBelow);
    EXPECT_EQ(packer_named("slow-bits"), Packer::SlowBits);
    EXPECT_EQ(packer_named(""), std::nullopt);
    EXPECT_EQ(packer_named("Plain"), std::nullopt);
}

TEST(PackerStream, RoundTripsAroundTheLimitsOfItsTokens) {
    expect_round_trip({}, "nothing");
    expect_round_trip({0x42}, "one byte");
    for (const Packer packer : {Packer::Plain, Packer::TablesBelow})
        EXPECT_EQ(pack({}, packer).size(), packer == Packer::Plain ? 1u : 2u) << packer_name(packer) << ": the end alone";
    // Literal runs of one token, one token and a byte, two tokens; groups
    // of TablesBelow's flags.
    for (std::size_t size : {3u, 4u, 7u, 8u, 9u, 126u, 127u, 128u, 254u, 255u, 256u})
        expect_round_trip(random_bytes(size, static_cast<std::uint32_t>(size)), "literals: " + std::to_string(size));
    // A repeat just shorter than, as long as and longer than one match of
    // each format.
    for (std::size_t size : std::initializer_list<std::size_t>{2, 3, kMinMatch - 1, kMinMatch, 10, 11, 38, 39, 40, 78, 80,
                                                               kMaxMatch - 1, kMaxMatch, kMaxMatch + 1, 2 * kMaxMatch + 3}) {
        std::vector<std::uint8_t> data = random_bytes(300, 7);
        const std::vector<std::uint8_t> again(data.begin() + 10, data.begin() + 10 + static_cast<long>(size));
        data.insert(data.end(), again.begin(), again.end());
        data.push_back(0x99);
        expect_round_trip(data, "a repeat of " + std::to_string(size));
    }
    // Matches at the longest distance there is and one past it: TablesBelow's.
    for (std::size_t distance : {std::size_t{kTablesBelowMaxDistance}, std::size_t{kTablesBelowMaxDistance + 1}}) {
        std::vector<std::uint8_t> data = random_bytes(distance + 40, 5);
        std::copy(data.begin(), data.begin() + 40, data.begin() + static_cast<long>(distance));
        expect_round_trip(data, "distance " + std::to_string(distance));
        if (distance == kTablesBelowMaxDistance) {
            EXPECT_LT(pack(data, Packer::TablesBelow).size(), data.size() + data.size() / 8 - 30) << "the far match was missed";
        }
    }
    // And Plain's.
    for (std::size_t distance : {std::size_t{0xffff}, std::size_t{0x10000}}) {
        std::vector<std::uint8_t> data = random_bytes(distance + 40, 3);
        std::copy(data.begin(), data.begin() + 40, data.begin() + static_cast<long>(distance));
        expect_round_trip(data, "distance " + std::to_string(distance), Packer::Plain);
        expect_round_trip(data, "distance " + std::to_string(distance), Packer::TablesBelow);
        if (distance == 0xffff) {
            EXPECT_LT(pack(data).size(), data.size() + data.size() / kMaxLiterals - 30) << "the far match was missed";
        }
    }
    // SlowBits keeps the length in a word.
    expect_round_trip(std::vector<std::uint8_t>(0xffff, 0x55), "the longest", Packer::SlowBits);
    EXPECT_THROW(pack(std::vector<std::uint8_t>(0x10000, 0x55), Packer::SlowBits), std::invalid_argument);
}

TEST(PackerStream, TablesBelowUsesEveryLengthOfItsTable) {
    const std::array<std::uint8_t, 16> lengths = tables_below_lengths();
    EXPECT_EQ(lengths[0], 3);
    EXPECT_EQ(lengths[15], 0) << "the end code";
    for (unsigned code = 1; code < 15; ++code) EXPECT_GT(lengths[code], lengths[code - 1]) << code;
    // A repeat of each length is one match of its code.
    for (unsigned code = 0; code < 15; ++code) {
        std::vector<std::uint8_t> data = random_bytes(100, 11);
        data.insert(data.end(), data.begin() + 20, data.begin() + 20 + lengths[code]);
        const std::vector<std::uint8_t> stream = pack(data, Packer::TablesBelow);
        EXPECT_EQ(unpack(stream, Packer::TablesBelow), data);
        // 12 groups of 8 literals, then one of 4 literals, the match and
        // the end.
        ASSERT_EQ(stream.size(), 12 * 9 + 1 + 4 + 2 + 1u) << "length " << unsigned{lengths[code]};
        EXPECT_EQ(stream[12 * 9] >> 3, 1) << "the fifth item of the group is the match";
        EXPECT_EQ(stream[12 * 9 + 1 + 4] >> 4, code);
    }
}

TEST(PackerStream, RunsAndTextShrinkAndNoiseBarelyGrows) {
    const std::vector<std::uint8_t> zeros(5000, 0);
    const std::vector<std::uint8_t> text =
        text_bytes("The quick brown fox jumps over the lazy dog, and the dog sleeps on. ", 40);
    const std::vector<std::uint8_t> noise = random_bytes(10000, 64);
    std::vector<std::uint8_t> mixed = text;
    mixed.insert(mixed.end(), noise.begin(), noise.begin() + 3000);
    mixed.insert(mixed.end(), zeros.begin(), zeros.end());
    mixed.insert(mixed.end(), text.begin(), text.begin() + 500);
    expect_round_trip(zeros, "a run");
    expect_round_trip(text, "text");
    expect_round_trip(noise, "noise");
    expect_round_trip(mixed, "text, noise and a run");

    struct Bounds {
        Packer packer;
        std::size_t zeros, text, noise;  // at most, packed
    };
    const Bounds bounds[] = {
        // One literal, then overlapping matches at distance 1 of the longest
        // length; literals in tokens of up to 127.
        {Packer::Plain, 2 + 3 * (5000 / kMaxMatch + 1) + 1, text.size() / 10,
         noise.size() + (noise.size() + kMaxLiterals - 1) / kMaxLiterals + 1},
        // Matches of up to 39 bytes; a flag byte for every eight items.
        {Packer::TablesBelow, 2 * (5000 / 39 + 2) + (5000 / 39 + 2) / 8 + 3, text.size() / 10,
         noise.size() + noise.size() / 8 + 2},
        // Bit by bit without matches: less than a bit for a zero, about
        // 4.5 for a letter, and a little more than eight for noise.
        {Packer::SlowBits, 5000 / 8, text.size() * 2 / 3, noise.size() + noise.size() / 32},
    };
    for (const Bounds& bound : bounds) {
        SCOPED_TRACE(packer_name(bound.packer));
        EXPECT_LE(pack(zeros, bound.packer).size(), bound.zeros);
        EXPECT_LT(pack(text, bound.packer).size(), bound.text);
        EXPECT_LE(pack(noise, bound.packer).size(), bound.noise);
    }
}

TEST(PackerStream, ReadingBackRejectsBrokenStreams) {
    struct Broken {
        Packer packer;
        std::vector<std::uint8_t> stream;
        const char* what;
    };
    std::vector<std::uint8_t> slow = pack({1, 2, 3}, Packer::SlowBits);
    slow.push_back(0);
    const Broken broken[] = {
        {Packer::Plain, {0x02, 0x11}, "cut off"},
        {Packer::Plain, {0x01, 0x11, 0x80, 0x02, 0x00, 0x00}, "reaches before the output"},
        {Packer::Plain, {0x01, 0x11, 0x00, 0x00}, "after the end"},
        {Packer::TablesBelow, {0x00, 0x11}, "cut off"},
        {Packer::TablesBelow, {0x40, 0x11, 0x00, 0x01}, "reaches before the output"},
        {Packer::TablesBelow, {0x40, 0x11, 0xf0, 0x00}, "after the end"},
        {Packer::TablesBelow, {0x00, 1, 2, 3, 4, 5, 6, 7, 8}, "no end"},
        {Packer::SlowBits, {0x05}, "no length"},
        {Packer::SlowBits, {0x05, 0x00, 0x12}, "cut off"},
        {Packer::SlowBits, slow, "after the end"},
    };
    for (const Broken& b : broken)
        EXPECT_THROW(unpack(b.stream, b.packer), std::invalid_argument) << packer_name(b.packer) << ": " << b.what;
}

TEST(PackedProgram, RefusesOriginalsItCannotUnpackInPlace) {
    struct Case {
        const char* what;
        tolvek::Image original;
        bool plain, tables_below, slow_bits;  // packs it
    };
    const std::vector<std::uint8_t> text = text_bytes("text text. ", 372);
    const Case cases[] = {
        {"nothing", make_image(0x0801, {}), false, false, false},
        {"over the tape buffer", make_image(0x03f0, random_bytes(64, 1)), false, false, false},
        {"the tables over the tape buffer", make_image(0x0410, random_bytes(64, 1)), true, false, true},
        {"the tables right above the tape buffer", make_image(0x0400 + kTablesBelowBytes, random_bytes(64, 1)), true,
         true, true},
        {"past $D000", make_image(0xcf00, random_bytes(257, 1)), false, false, true},
        // Noise grows when packed: unpacked up to the top it would run into
        // the stream still being read, or for SlowBits, which clears the
        // output first, into the stream at all.
        {"noise up to the top", make_image(0xc000, random_bytes(0x1000, 2)), false, false, true},
        {"noise lower down", make_image(0xa000, random_bytes(0x1000, 2)), true, true, true},
        {"text up to the top", make_image(0xc000, text), true, true, true},
        {"noise from $1000 to $D000", make_image(0x1000, random_bytes(0xc000, 3)), false, false, false},
        // SlowBits unpacks up to its workspace below the stream at the top.
        {"zeros up to $E000", make_image(0x0801, std::vector<std::uint8_t>(0xe000 - 0x0801, 0)), false, false, true},
        {"zeros up to $F000", make_image(0x0801, std::vector<std::uint8_t>(0xf000 - 0x0801, 0)), false, false, false},
    };
    for (const Case& c : cases) {
        const bool packs[] = {c.plain, c.tables_below, c.slow_bits};
        for (const Packer packer : kPackers) {
            const bool expected = packs[static_cast<int>(packer)];
            if (expected) {
                EXPECT_NO_THROW(packed_program_source(c.original, static_cast<std::uint16_t>(c.original.load), packer))
                    << packer_name(packer) << ": " << c.what;
            } else {
                EXPECT_THROW(packed_program_source(c.original, static_cast<std::uint16_t>(c.original.load), packer),
                             std::invalid_argument)
                    << packer_name(packer) << ": " << c.what;
            }
        }
    }
}

TEST(PackedProgram, AssemblesToABasicLineWithTheStreamAtTheEnd) {
    if (!have_acme()) GTEST_SKIP() << "acme is not installed";
    const std::vector<std::uint8_t> original = text_bytes("some text that repeats ", 100);
    for (const Packer packer : kPackers) {
        SCOPED_TRACE(packer_name(packer));
        ScratchDir dir;
        const std::vector<std::uint8_t> prg =
            assemble(dir, packed_program_source(make_image(0x1000, original), 0x1000, packer));
        ASSERT_GT(prg.size(), 2 + 16u);
        EXPECT_EQ(prg[0], 0x01);
        EXPECT_EQ(prg[1], 0x08);
        const tolvek::BasicProgram basic =
            tolvek::find_basic(make_image(0x0801, std::vector<std::uint8_t>(prg.begin() + 2, prg.end())));
        ASSERT_EQ(basic.lines.size(), 1u);
        EXPECT_EQ(basic.lines[0].sys, std::vector<std::uint32_t>{kPackedEntry});
        // The stream ends the file.
        const std::vector<std::uint8_t> stream = pack(original, packer);
        ASSERT_GT(prg.size(), stream.size());
        EXPECT_TRUE(std::equal(stream.begin(), stream.end(), prg.end() - static_cast<long>(stream.size())));
        if (packer == Packer::Plain) {
            // The stub: ldx #length, then the copy to the unpacker's place,
            // which must end inside the tape buffer ($033C-$03FB).
            const std::size_t stub = kPackedEntry - 0x0801 + 2;
            ASSERT_EQ(prg[stub], 0xa2);
            EXPECT_LE(kUnpackerAddress + prg[stub + 1], 0x03fc);
        }
    }
}

}  // namespace
