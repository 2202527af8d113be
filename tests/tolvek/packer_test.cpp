// The tests' packer on its own: the compressor's stream read back in C++
// and the packed program's layout. Whether the 6502 unpacker really gives
// the original back is for unpack_test.cpp, which runs it.
#include <gtest/gtest.h>

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

void expect_round_trip(const std::vector<std::uint8_t>& data, const std::string& what) {
    const std::vector<std::uint8_t> stream = pack(data);
    ASSERT_FALSE(stream.empty()) << what;
    EXPECT_EQ(stream.back(), 0) << what << ": no end token";
    EXPECT_EQ(unpack(stream), data) << what;
}

TEST(PackerStream, RoundTripsAroundTheLimitsOfItsTokens) {
    expect_round_trip({}, "nothing");
    expect_round_trip({0x42}, "one byte");
    // Literal runs of one token, one token and a byte, two tokens.
    for (std::size_t size : {3u, 4u, 126u, 127u, 128u, 254u, 255u, 256u})
        expect_round_trip(random_bytes(size, static_cast<std::uint32_t>(size)), "literals: " + std::to_string(size));
    // A repeat just shorter than, as long as and longer than one match.
    for (std::size_t size : std::initializer_list<std::size_t>{kMinMatch - 1, kMinMatch, kMaxMatch - 1, kMaxMatch,
                                                               kMaxMatch + 1, 2 * kMaxMatch + 3}) {
        std::vector<std::uint8_t> data = random_bytes(300, 7);
        const std::vector<std::uint8_t> again(data.begin() + 10, data.begin() + 10 + static_cast<long>(size));
        data.insert(data.end(), again.begin(), again.end());
        data.push_back(0x99);
        expect_round_trip(data, "a repeat of " + std::to_string(size));
    }
    // Matches at the longest distance there is and one past it.
    for (std::size_t distance : {std::size_t{0xffff}, std::size_t{0x10000}}) {
        std::vector<std::uint8_t> data = random_bytes(distance + 40, 3);
        std::copy(data.begin(), data.begin() + 40, data.begin() + static_cast<long>(distance));
        expect_round_trip(data, "distance " + std::to_string(distance));
        if (distance == 0xffff) {
            EXPECT_LT(pack(data).size(), data.size() + data.size() / kMaxLiterals - 30) << "the far match was missed";
        }
    }
}

TEST(PackerStream, RunsAndTextShrinkAndNoiseBarelyGrows) {
    const std::vector<std::uint8_t> zeros(5000, 0);
    expect_round_trip(zeros, "a run");
    // One literal, then overlapping matches at distance 1 of the longest length.
    EXPECT_LE(pack(zeros).size(), 2 + 3 * (5000 / kMaxMatch + 1) + 1);

    const std::vector<std::uint8_t> text =
        text_bytes("The quick brown fox jumps over the lazy dog, and the dog sleeps on. ", 40);
    expect_round_trip(text, "text");
    EXPECT_LT(pack(text).size(), text.size() / 10);

    const std::vector<std::uint8_t> noise = random_bytes(10000, 64);
    expect_round_trip(noise, "noise");
    EXPECT_LE(pack(noise).size(), noise.size() + (noise.size() + kMaxLiterals - 1) / kMaxLiterals + 1);

    std::vector<std::uint8_t> mixed = text;
    mixed.insert(mixed.end(), noise.begin(), noise.begin() + 3000);
    mixed.insert(mixed.end(), zeros.begin(), zeros.end());
    mixed.insert(mixed.end(), text.begin(), text.begin() + 500);
    expect_round_trip(mixed, "text, noise and a run");
}

TEST(PackerStream, ReadingBackRejectsBrokenStreams) {
    EXPECT_THROW(unpack({0x02, 0x11}), std::invalid_argument);                    // cut off
    EXPECT_THROW(unpack({0x01, 0x11, 0x80, 0x02, 0x00, 0x00}), std::invalid_argument);  // reaches before the output
    EXPECT_THROW(unpack({0x01, 0x11, 0x00, 0x00}), std::invalid_argument);        // after the end
}

TEST(PackedProgram, RefusesOriginalsItCannotUnpackInPlace) {
    EXPECT_THROW(packed_program_source(make_image(0x0801, {}), 0x0801), std::invalid_argument);
    // Over the unpacker, and past the top the stream moves to.
    EXPECT_THROW(packed_program_source(make_image(0x03f0, random_bytes(64, 1)), 0x03f0), std::invalid_argument);
    EXPECT_THROW(packed_program_source(make_image(0xcf00, random_bytes(257, 1)), 0xcf00), std::invalid_argument);
    // Noise grows when packed: unpacked up to the very top it would run
    // into the stream it is still reading.
    EXPECT_THROW(packed_program_source(make_image(0xc000, random_bytes(0x1000, 2)), 0xc000), std::invalid_argument);
    // The same noise lower down is fine, and so is text up to the top.
    EXPECT_NO_THROW(packed_program_source(make_image(0xa000, random_bytes(0x1000, 2)), 0xa000));
    EXPECT_NO_THROW(packed_program_source(make_image(0xc000, text_bytes("text text. ", 372)), 0xc000));
}

TEST(PackedProgram, AssemblesToABasicLineAndAStubThatFitsTheTapeBuffer) {
    if (!have_acme()) GTEST_SKIP() << "acme is not installed";
    ScratchDir dir;
    const std::vector<std::uint8_t> original = text_bytes("some text that repeats ", 100);
    const std::vector<std::uint8_t> prg = assemble(dir, packed_program_source(make_image(0x1000, original), 0x1000));
    ASSERT_GT(prg.size(), 2 + 16u);
    EXPECT_EQ(prg[0], 0x01);
    EXPECT_EQ(prg[1], 0x08);
    const tolvek::BasicProgram basic =
        tolvek::find_basic(make_image(0x0801, std::vector<std::uint8_t>(prg.begin() + 2, prg.end())));
    ASSERT_EQ(basic.lines.size(), 1u);
    EXPECT_EQ(basic.lines[0].sys, std::vector<std::uint32_t>{kPackedEntry});
    // The stub: ldx #length, then the copy to the unpacker's place, which
    // must end inside the tape buffer ($033C-$03FB).
    const std::size_t stub = kPackedEntry - 0x0801 + 2;
    ASSERT_EQ(prg[stub], 0xa2);
    EXPECT_LE(kUnpackerAddress + prg[stub + 1], 0x03fc);
    // The stream ends the file.
    const std::vector<std::uint8_t> stream = pack(original);
    ASSERT_GT(prg.size(), stream.size());
    EXPECT_TRUE(std::equal(stream.begin(), stream.end(), prg.end() - static_cast<long>(stream.size())));
}

}  // namespace
