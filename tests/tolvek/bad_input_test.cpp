// Every wrong command line or unusable image: one line on stderr naming the
// problem, a non-zero status, and no output file touched.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>

#include "analysis/execution.hpp"
#include "input_file.hpp"
#include "support.hpp"

using namespace tolvek_test;
using tolvek::kSmallestUnpacked;
using tolvek::kTextFileLimit;
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
    // word the message must contain; `shell` goes before the command.
    void fails(const std::string& args, const std::string& expect, const std::string& shell = "") {
        SCOPED_TRACE(args);
        const std::vector<std::string> before = listing();
        const Result result = run_in(dir.path(), shell + quote(TOLVEK_EXE) + " " + args);
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

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define __SANITIZE_ADDRESS__ 1
#endif
#endif

// Should reading without end come back: the run is stopped after a minute,
// and, where no sanitizer needs the address space, at 2 GB of memory.
std::string bounded() {
#ifdef __SANITIZE_ADDRESS__
    return "timeout 60 ";
#else
    return "ulimit -v 2000000; timeout 60 ";
#endif
}

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

TEST_F(BadInput, NothingToUnpackWritesNothing) {
    // A run that fails for one output writes none: the older source stays.
    const Result result = run_in(dir.path(), quote(TOLVEK_EXE) + " -a -c6502 -o4096 -e4096 -t game.tmp --unpack");
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "Tolvek.exe: nothing to unpack: the program never ran bytes it had written\n");
    EXPECT_EQ(read_text(dir / "game.asm"), "old asm\n");
    EXPECT_FALSE(std::filesystem::exists(dir / "game.unpacked.prg"));
}

TEST_F(BadInput, CodeWrittenCalledAndReturnedIsNothingToUnpack) {
    // lda #$60 / sta $c000 / jsr $c000 / rts: an rts written and called.
    write_bytes(dir / "game.tmp", {0xa9, 0x60, 0x8d, 0x00, 0xc0, 0x20, 0x00, 0xc0, 0x60});
    fails("-a -c6502 -o4096 -e4096 -t game.tmp --unpack",
          "nothing to unpack: the code the program wrote and ran was called and returned");
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
    // A FIFO without a writer, a device: refused at once, never waited for.
    ASSERT_EQ(mkfifo((dir / "fifo.tmp").c_str(), 0600), 0);
    fails("-a -c6502 -o2049 -e2049 -t fifo.tmp", "cannot read image 'fifo.tmp': it is not a regular file", bounded());
    fails("-a -c6502 -e2049 -p fifo.tmp", "cannot read image 'fifo.tmp': it is not a regular file", bounded());
    fs::remove(dir / "fifo.tmp");
    fails("-a -c6502 -o2049 -e2049 -t /dev/zero --write-hints x.hints", "cannot read image '/dev/zero': it is not a regular file",
          bounded());
}

TEST_F(BadInput, OutputCannotBeCreated) {
    write_bytes(dir / "blocked.tmp", {0x60});
    fs::create_directory(dir / "blocked.asm");
    fails("-a -c6502 -o2049 -e2049 -t blocked.tmp", "cannot replace 'blocked.asm': it is a folder");
}

TEST_F(BadInput, ImageWouldBeOverwritten) {
    fails("-a -c6502 -o2049 -e2049 -t game.asm", "overwritten");
    // Every output, and every spelling of the image's name.
    const std::vector<std::uint8_t> program = {0x01, 0x08, 0xa9, 0x00, 0x60};
    write_bytes(dir / "game.prg", program);
    fs::create_directory(dir / "sub");
    fs::create_symlink("game.prg", dir / "link.prg");
    fs::create_hard_link(dir / "game.prg", dir / "hard.prg");
    for (const char* output : {"game.prg", "./game.prg", "sub/../game.prg", "link.prg", "hard.prg"}) {
        for (const char* option : {"--write-hints", "--vice-labels"}) {
            fails("-a -c6502 -e2049 -p game.prg " + std::string(option) + " " + output,
                  "the image 'game.prg' would be overwritten by the output '" + std::string(output) + "'");
        }
    }
    // The linker configuration of ca65 source, beside the image.
    write_bytes(dir / "game.cfg", program);
    fails("-a -c6502 -e2049 -p game.cfg -sca65", "the image 'game.cfg' would be overwritten by the output 'game.cfg'");
    EXPECT_EQ(read_bytes(dir / "game.prg"), program);
    EXPECT_EQ(read_bytes(dir / "game.cfg"), program);
}

TEST_F(BadInput, OutputsThatAreTheSameFileOrWhatIsRead) {
    fails("-a -c6502 -o2049 -e2049 -t game.tmp --write-hints game.asm", "the outputs 'game.asm' and 'game.asm' are the same file");
    fails("-a -c6502 -o2049 -e2049 -t game.tmp --write-hints x.hints --vice-labels ./x.hints", "are the same file");
    // The hints file read, and a label file it reads, are the user's.
    write_text(dir / "my.hints", "; mine\nlabels my.vice\n");
    write_text(dir / "my.vice", "al C:0801 .start\n");
    fails("-a -c6502 -o2049 -e2049 -t game.tmp --hints my.hints --vice-labels my.hints",
          "the hints file 'my.hints' would be overwritten by the output 'my.hints'");
    fails("-a -c6502 -o2049 -e2049 -t game.tmp --hints my.hints --vice-labels my.vice",
          "the label file 'my.vice' would be overwritten by the output 'my.vice'");
    EXPECT_EQ(read_text(dir / "my.hints"), "; mine\nlabels my.vice\n");
    EXPECT_EQ(read_text(dir / "my.vice"), "al C:0801 .start\n");
}

TEST_F(BadInput, ARunThatFailsForOneOutputWritesNone) {
    // Each run has several outputs; the last of them cannot be written.
    fs::create_directory(dir / "folder");
    fails("-a -c6502 -o2049 -e2049 -t game.tmp -sca65 --write-hints game.hints --vice-labels folder",
          "cannot replace 'folder': it is a folder");
    fails("-a -c6502 -o2049 -e2049 -t game.tmp --write-hints game.hints --vice-labels missing/game.vice",
          "cannot create 'missing/game.vice'");
    // The unpacked program: a folder, a read-only file.
    const std::vector<std::uint8_t> packer = {
        0xa2, 0x00,              // ldx #0
        0xbd, 0x0f, 0x10,        // copy: lda code,x
        0x9d, 0x00, 0x20,        //   sta $2000,x
        0xe8, 0xd0, 0xf7,        //   inx / bne copy
        0x4c, 0x00, 0x20,        // jmp $2000
        0x00,
    };
    std::vector<std::uint8_t> image = packer;
    image.resize(packer.size() + kSmallestUnpacked, 0xea);
    image.back() = 0x60;
    write_bytes(dir / "packed.tmp", image);
    fs::create_directory(dir / "packed.unpacked.prg");
    fails("-a -c6502 -o4096 -e4096 -t packed.tmp --unpack --write-hints game.hints",
          "cannot replace 'packed.unpacked.prg': it is a folder");
    fs::remove(dir / "packed.unpacked.prg");
    write_text(dir / "packed.unpacked.prg", "kept\n");
    fs::permissions(dir / "packed.unpacked.prg", fs::perms::owner_read);
    fails("-a -c6502 -o4096 -e4096 -t packed.tmp --unpack --write-hints game.hints", "it is read-only");
    EXPECT_EQ(read_text(dir / "packed.unpacked.prg"), "kept\n");
    EXPECT_FALSE(fs::exists(dir / "packed.asm"));
    // With the way clear, the same run writes them all.
    fs::permissions(dir / "packed.unpacked.prg", fs::perms::owner_all);
    const Result ok = run_in(dir.path(), quote(TOLVEK_EXE) + " -a -c6502 -o4096 -e4096 -t packed.tmp --unpack --write-hints game.hints");
    ASSERT_EQ(ok.status, 0) << ok.err;
    EXPECT_TRUE(fs::exists(dir / "packed.asm"));
    EXPECT_TRUE(fs::exists(dir / "game.hints"));
    EXPECT_EQ(read_bytes(dir / "packed.unpacked.prg").size(), 2u + kSmallestUnpacked);
}

TEST_F(BadInput, ValueWithLineBreakStaysOneLine) {
    fails("-a -c6502 -o2049 -e2049 -t game.tmp $'bad\\nword'", "unexpected argument");
}

// A hints or label file that never ends or never answers (a device, a
// FIFO without a writer) is refused at once: only regular files are read.
TEST_F(BadInput, HintsAndLabelsOnlyFromRegularFiles) {
    const std::string run = "-a -c6502 -o2049 -e2049 -t game.tmp --hints ";
    fails(run + "/dev/zero", "cannot read the hints file '/dev/zero': it is not a regular file", bounded());
    write_text(dir / "zero.hints", "labels /dev/zero\n");
    fails(run + "zero.hints", "zero.hints:1: cannot read the label file '/dev/zero': it is not a regular file", bounded());
    ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0600), 0);
    fails(run + "fifo", "cannot read the hints file 'fifo': it is not a regular file", bounded());
    write_text(dir / "fifo.hints", "labels fifo\n");
    fails(run + "fifo.hints", "fifo.hints:1: cannot read the label file 'fifo': it is not a regular file", bounded());
    fs::create_directory(dir / "folder");
    fails(run + "folder", "cannot read the hints file 'folder': it is a directory");
    fails(run + "missing.hints", "cannot read the hints file 'missing.hints': No such file or directory");
}

// A hints or label file is read up to 64 MiB (a comment line that long
// too), and a byte more is refused, unread. The files are sparse.
TEST_F(BadInput, HintsAndLabelFilesOfMoreThan64MiB) {
        write_text(dir / "big.hints", "#");
    fs::resize_file(dir / "big.hints", kTextFileLimit + 1);
    write_text(dir / "labels.hints", "labels big.hints\n");
    const std::string run = "-w -c6502 -o2049 -e2049 -t game.tmp --hints ";
    fails(run + "big.hints", "cannot read the hints file 'big.hints': it is larger than 64 MiB");
    fails(run + "labels.hints", "labels.hints:1: cannot read the label file 'big.hints': it is larger than 64 MiB");
    fs::resize_file(dir / "big.hints", kTextFileLimit);
    for (const char* hints : {"big.hints", "labels.hints"}) {
        const Result result = run_in(dir.path(), quote(TOLVEK_EXE) + " " + run + hints);
        EXPECT_EQ(result.status, 0) << hints << ": " << result.err;
    }
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
