// Every wrong command line or unusable image: one line on stderr naming the
// problem, a non-zero status, and no output file touched.
#include <gtest/gtest.h>

#include <algorithm>

#include "support.hpp"

using namespace tolvek_test;
namespace fs = std::filesystem;

namespace {

class BadInput : public ::testing::Test {
protected:
    void SetUp() override {
        write_bytes(dir / "game.tmp", {0xa9, 0x00, 0x60});
        // Older results that a failed run must leave alone.
        write_text(dir / "game.asm", "old asm\n");
        write_text(dir / "game.lst", "old lst\n");
    }

    // Runs Tolvek.exe with `args` and checks the failure; `expect` is a
    // word the message must contain.
    void fails(const std::string& args, const std::string& expect) {
        SCOPED_TRACE(args);
        const std::vector<std::string> before = listing();
        const Result result = run_in(dir.path(), quote(TOLVEK_EXE) + " " + args);
        EXPECT_NE(result.status, 0);
        EXPECT_EQ(result.out, "");
        ASSERT_FALSE(result.err.empty());
        EXPECT_EQ(result.err.find('\n'), result.err.size() - 1) << "not one line: " << result.err;
        EXPECT_NE(result.err.find(expect), std::string::npos) << result.err;
        EXPECT_EQ(read_text(dir / "game.asm"), "old asm\n");
        EXPECT_EQ(read_text(dir / "game.lst"), "old lst\n");
        EXPECT_EQ(listing(), before) << "a file was left behind";
    }

    std::vector<std::string> listing() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(dir.path())) names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    ScratchDir dir;
};

TEST_F(BadInput, UnknownAndRepeatedOptions) {
    fails("-a -x -c6502 -o2049 -e2049 -t game.tmp", "unknown option '-x'");
    fails("-ab -c6502 -o2049 -e2049 -t game.tmp", "unknown option '-ab'");
    fails("--all -c6502 -o2049 -e2049 -t game.tmp", "unknown option");
    fails("-a -a -c6502 -o2049 -e2049 -t game.tmp", "-a");
    fails("-a -w -c6502 -o2049 -e2049 -t game.tmp", "-w");
    fails("-a -c6502 -c6502 -o2049 -e2049 -t game.tmp", "-c given twice");
    fails("-a -c6502 -o2049 -o2049 -e2049 -t game.tmp", "-o given twice");
    fails("-a -c6502 -o2049 -e2049 -e2049 -t game.tmp", "-e given twice");
    fails("-a -c6502 -o2049 -e2049 -t game.tmp -t game.tmp", "-t given twice");
    fails("-a -c6502 -o2049 -e2049 -t game.tmp extra", "unexpected argument 'extra'");
}

TEST_F(BadInput, MissingOrMalformedValues) {
    fails("-a -c6502 -o2049 -e2049 -t", "-t needs a value");
    fails("-a -c6502 -e2049 -t game.tmp -o", "-o needs a value");
    fails("-a -c6502 -o2049 -t game.tmp", "missing option -e");
    fails("-a -c6502 -e2049 -t game.tmp", "missing option -o");
    fails("-c6502 -o2049 -e2049 -t game.tmp", "missing option -a or -w");
    fails("-a -o2049 -e2049 -t game.tmp", "missing option -c");
    fails("-a -c6502 -o2049 -e2049", "missing option -t");
    fails("-a -c6502 -o20x9 -e2049 -t game.tmp", "malformed load address '20x9'");
    fails("-a -c6502 -o -e2049 -t game.tmp", "malformed load address '-e2049'");
    fails("-a -c6502 -o2049 -e12ab -t game.tmp", "malformed entry address '12ab'");
    fails("-a -c6502 -o2049 -e- -t game.tmp", "malformed entry");
    fails("-a -c6502 -o$ -e2049 -t game.tmp", "malformed load");
    fails("-a -c6502 -o2049 -e2049 -t ''", "empty image name");
}

TEST_F(BadInput, ProgramFileWithoutLoadAddress) {
    write_bytes(dir / "game.prg", {0x01});
    fails("-a -c6502 -e2049 -p game.prg", "program file 'game.prg' is too short: it has no load address");
    write_bytes(dir / "game.prg", {});
    fails("-w -c6502 -e2049 -p game.prg", "too short");
}

TEST_F(BadInput, NothingToUnpackIsSaidAfterTheOutput) {
    // The source is written; the unpacked program is not, and the status says so.
    const Result result = run_in(dir.path(), quote(TOLVEK_EXE) + " -a -c6502 -o4096 -e4096 -t game.tmp --unpack");
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "Tolvek.exe: nothing to unpack: the program never ran bytes it had written\n");
    EXPECT_NE(read_text(dir / "game.asm"), "old asm\n");
    EXPECT_FALSE(std::filesystem::exists(dir / "game.unpacked.prg"));
}

TEST_F(BadInput, OtherCpu) {
    fails("-a -c65c02 -o2049 -e2049 -t game.tmp", "unsupported CPU '65c02'");
    fails("-w -c6510 -o2049 -e2049 -t game.tmp", "unsupported CPU");
}

TEST_F(BadInput, LoadAddressOutOfRange) {
    fails("-a -c6502 -o65536 -e2049 -t game.tmp", "outside 0..65535");
    fails("-a -c6502 -o-1 -e2049 -t game.tmp", "outside 0..65535");
    fails("-w -c6502 -o99999999999999999999999 -e0 -t game.tmp", "outside 0..65535");
}

TEST_F(BadInput, ImageTooLarge) {
    // Three bytes at $FFFE reach $10001.
    fails("-a -c6502 -o65534 -e65534 -t game.tmp", "does not fit");
    write_bytes(dir / "big.tmp", std::vector<std::uint8_t>(0x10001, 0xea));
    fails("-a -c6502 -o0 -e0 -t big.tmp", "does not fit");
    fs::remove(dir / "big.tmp");
}

TEST_F(BadInput, UnreadableImage) {
    fails("-a -c6502 -o2049 -e2049 -t missing.tmp", "cannot read image 'missing.tmp'");
    fs::create_directory(dir / "folder.tmp");
    fails("-w -c6502 -o2049 -e2049 -t folder.tmp", "cannot read image");
    fs::remove(dir / "folder.tmp");
}

TEST_F(BadInput, OutputCannotBeCreated) {
    write_bytes(dir / "blocked.tmp", {0x60});
    fs::create_directory(dir / "blocked.asm");
    fails("-a -c6502 -o2049 -e2049 -t blocked.tmp", "cannot create 'blocked.asm'");
}

TEST_F(BadInput, ImageWouldBeOverwritten) {
    fails("-a -c6502 -o2049 -e2049 -t game.asm", "overwritten");
}

TEST_F(BadInput, ValueWithLineBreakStaysOneLine) {
    fails("-a -c6502 -o2049 -e2049 -t game.tmp $'bad\\nword'", "unexpected argument");
}

TEST_F(BadInput, ControlCharactersInNamesAndHintsShowAsQuestionMarks) {
    // ESC, DEL, a CSI byte on its own and as the UTF-8 of U+009B could drive
    // the terminal; UTF-8 text is shown as it is.
    fails("-a -c6502 -o2049 -e2049 -t " + quote("x\x1b[2J\x7f\x9b\xc2\x9b\xc3\xbc.tmp"),
          "cannot read image 'x?[2J???\xc3\xbc.tmp'");
    fails("-a -c6502 -o2049 -e2049 -t game.tmp " + quote("\x1b]2;x\x07"), "unexpected argument '?]2;x?'");
    write_text(dir / "game.hints", "comment \x9b" "2J\x1b[31m\x7f hello\n");
    fails("-a -c6502 -o2049 -e2049 -t game.tmp", "not an address: '?2J?[31m?'");
}

TEST(Help, PrintsUsageAndSucceeds) {
    ScratchDir dir;
    for (const char* args : {"-h", "--help", "-a -h"}) {
        const Result result = run_in(dir.path(), quote(TOLVEK_EXE) + " " + args);
        EXPECT_EQ(result.status, 0) << args;
        EXPECT_NE(result.out.find("usage: Tolvek.exe -a|-w"), std::string::npos) << args;
        EXPECT_EQ(result.err, "") << args;
    }
}

}  // namespace
