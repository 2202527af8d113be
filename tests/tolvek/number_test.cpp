// Numbers as the command line and the hints file read them: one parser.
#include <gtest/gtest.h>

#include "cli.hpp"
#include "hints/hints.hpp"
#include "number.hpp"

using namespace tolvek;

namespace {

TEST(Number, HexDecimalAndWhatIsNotANumber) {
    EXPECT_EQ(parse_number("$c000").value, 0xc000u);
    EXPECT_EQ(parse_number("0xFFd2").value, 0xffd2u);
    EXPECT_EQ(parse_number("0X10").value, 0x10u);
    EXPECT_EQ(parse_number("49152").value, 49152u);
    EXPECT_EQ(parse_number("0").value, 0u);
    EXPECT_EQ(parse_number("00000000000000000000000000000255").value, 255u);  // zeros are no digits too many
    for (const char* bad : {"", "$", "0x", "$$1", "$0x10", "0x$10", "12 ", " 12", "1f", "$1g", "-1", "+1", "1_000"}) {
        const Number number = parse_number(bad);
        EXPECT_FALSE(number.value) << bad;
        EXPECT_FALSE(number.too_large) << bad;
    }
}

TEST(Number, BeyondSixtyFourBitsIsRefusedNotWrapped) {
    EXPECT_EQ(parse_number("18446744073709551615").value, UINT64_MAX);
    EXPECT_EQ(parse_number("$ffffffffffffffff").value, UINT64_MAX);
    for (const char* large : {"18446744073709551616", "$10000000000000000", "0x1000000000000c000",
                              "123456789012345678901234567890"}) {
        const Number number = parse_number(large);
        EXPECT_FALSE(number.value) << large;
        EXPECT_TRUE(number.too_large) << large;
    }
    // Junk after many digits makes it malformed, not large.
    EXPECT_FALSE(parse_number("123456789012345678901234567890x").too_large);
}

TEST(Number, AddressesAreOneToSixteenBitsWrittenEitherWay) {
    EXPECT_EQ(parse_address("$ffff"), 0xffffu);
    EXPECT_EQ(parse_address("0xc000"), 0xc000u);
    EXPECT_EQ(parse_address("65535"), 0xffffu);
    for (const char* bad : {"$10000", "65536", "$1000000000000c000", "0x", ""}) EXPECT_FALSE(parse_address(bad)) << bad;
}

// The two readers of numbers agree on how they are written.
TEST(Number, TheHintsFileReadsNumbersAsTheCommandLine) {
    for (const char* written : {"$c000", "0xc000", "0XC000", "49152", "$0000000c000"}) {
        Hints hints;
        ASSERT_EQ(parse_hints(std::string("entry ") + written + "\n", "game.hints", hints, {}), "") << written;
        ASSERT_EQ(hints.entries.size(), 1u);
        EXPECT_EQ(hints.entries[0].first, 0xc000u) << written;
        EXPECT_EQ(parse_args({"-a", "-c6502", "-o0", std::string("-e") + written, "-tx"}).options.entry, 0xc000) << written;
    }
    // $c000 plus 2^64 would wrap around into $c000.
    Hints hints;
    EXPECT_NE(parse_hints("entry $1000000000000c000\n", "game.hints", hints, {}).find("not an address"), std::string::npos);
    EXPECT_NE(parse_args({"-a", "-c6502", "-o0", "-e$1000000000000c000", "-tx"}).error.find("does not fit in 64 bits"),
              std::string::npos);
}

}  // namespace
