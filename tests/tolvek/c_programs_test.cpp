// C programs on the machine: each of programs/c/*.c, compiled with cl65
// for the C64 and run from its SYS line, must print what the same source
// prints when built for this host with cc, and end back in BASIC.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>

#include "c64/basic.hpp"
#include "emu/run.hpp"
#include "support.hpp"

using namespace tolvek_test;

namespace {

// cc65 stores lower-case letters as PETSCII $41-$5A, capitals as $C1-$DA,
// '^' as the up arrow $5E and '\n' as $0D; the rest of what these programs
// print is ASCII as it is. Anything else shows as <$xx>. cc65's start-up
// prints $0E first, the switch to the lower-case character set.
std::string ascii_of(const std::string& petscii) {
    std::string text;
    const bool switches_case = !petscii.empty() && petscii[0] == '\x0e';
    for (char c : petscii.substr(switches_case ? 1 : 0)) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte == 0x0d) {
            text += '\n';
        } else if (byte >= 0x41 && byte <= 0x5a) {
            text += static_cast<char>(byte + 0x20);
        } else if (byte >= 0xc1 && byte <= 0xda) {
            text += static_cast<char>(byte - 0x80);
        } else if (byte >= 0x20 && byte <= 0x40) {
            text += static_cast<char>(byte);
        } else if (byte == 0x5b || byte == 0x5d || byte == 0x5e) {
            text += static_cast<char>(byte);
        } else {
            char shown[8];
            std::snprintf(shown, sizeof shown, "<$%02x>", byte);
            text += shown;
        }
    }
    return text;
}

bool have_compilers() {
    return std::system("cl65 --version >/dev/null 2>&1") == 0 && std::system("cc --version >/dev/null 2>&1") == 0;
}

class CProgram : public ::testing::TestWithParam<const char*> {};

TEST_P(CProgram, PrintsOnTheMachineWhatItPrintsOnThisHost) {
    if (!have_compilers()) GTEST_SKIP() << "cl65 or cc is not installed";
    const std::string name = GetParam();
    ScratchDir dir;
    // Compiled in the scratch folder: cl65 leaves its object file beside the source.
    std::filesystem::copy_file(std::filesystem::path(C_PROGRAMS_DIR) / (name + ".c"), dir / (name + ".c"));

    const Result native = run_in(dir.path(), "cc -std=c99 -O -Wall -Wextra -pedantic -Werror -o native " + name +
                                                 ".c && ./native");
    ASSERT_EQ(native.status, 0) << native.err;
    ASSERT_GT(native.out.size(), 100u) << "the program prints too little to tell anything";

    const Result cross = run_in(dir.path(), "cl65 -t c64 -O -o " + name + ".prg " + name + ".c");
    ASSERT_EQ(cross.status, 0) << cross.err;
    EXPECT_EQ(cross.err, "") << "cc65 warns";
    const std::vector<std::uint8_t> prg = read_bytes(dir / (name + ".prg"));
    ASSERT_GT(prg.size(), 2u);
    const tolvek::Image image =
        make_image(static_cast<std::uint32_t>(prg[0] | prg[1] << 8), std::vector<std::uint8_t>(prg.begin() + 2, prg.end()));
    const tolvek::BasicProgram basic = tolvek::find_basic(image);
    ASSERT_EQ(basic.lines.size(), 1u);
    ASSERT_EQ(basic.lines[0].sys.size(), 1u);

    tolvek::RunOptions options;
    options.budget = 20'000'000;
    options.patience = options.budget;  // sorting an array stores nothing new for long
    const tolvek::RunResult result =
        tolvek::run_program(image, static_cast<std::uint16_t>(basic.lines[0].sys[0]), options);
    EXPECT_EQ(result.end, tolvek::RunEnd::ReturnedToBasic)
        << "ended at $" << std::hex << result.end_address << " after " << std::dec << result.cycles << " cycles";
    EXPECT_EQ(ascii_of(result.printed), native.out);
}

INSTANTIATE_TEST_SUITE_P(Programs, CProgram, ::testing::Values("sieve", "sort", "strings", "numbers"));

}  // namespace
