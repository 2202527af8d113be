// How Tolvek.exe writes its output: every name and text stays inside its
// comment.
#include <gtest/gtest.h>

#include <algorithm>

#include "comment_text.hpp"
#include "support.hpp"

using namespace tolvek_test;
namespace fs = std::filesystem;

namespace {

std::string in_comment(std::string_view text) {
    std::string out = "; ";
    tolvek::append_comment_text(out, text);
    return out;
}

TEST(CommentText, ControlCharactersAreEscapedAndTheRestKept) {
    EXPECT_EQ(in_comment("plain, \"quoted\" and \xc3\xbc\xe6\x97\xa5\xf0\x9f\x8e\xae"),
              "; plain, \"quoted\" and \xc3\xbc\xe6\x97\xa5\xf0\x9f\x8e\xae");
    EXPECT_EQ(in_comment("a\nb\rc\td"), "; a\\nb\\rc\\td");
    EXPECT_EQ(in_comment(std::string_view("nul\0\x01\x1f\x7f!", 8)), "; nul\\x00\\x01\\x1f\\x7f!");
    EXPECT_EQ(in_comment("back\\slash\\n"), "; back\\\\slash\\\\n");
    // C1 controls and the Unicode line and paragraph separators, in UTF-8;
    // a no-break space and a dash are ordinary characters.
    EXPECT_EQ(in_comment("\xc2\x85|\xc2\x9f|\xc2\xa0|\xe2\x80\xa8|\xe2\x80\xa9|\xe2\x80\x94"),
              "; \\u0085|\\u009f|\xc2\xa0|\\u2028|\\u2029|\xe2\x80\x94");
    // Bytes that are not UTF-8 are kept, cut-off sequences too.
    EXPECT_EQ(in_comment("\xff\xfe|\xc2"), "; \xff\xfe|\xc2");
    EXPECT_EQ(in_comment("\xe2\x80"), "; \xe2\x80");
}

// The example program's load and entry address.
const std::string kAddresses = " -c6502 -o2049 -e2061 -t ";

class OutputFile : public ::testing::Test {
protected:
    void SetUp() override {
        program = read_bytes(fs::path(EXAMPLES_DIR) / "hello.prg");
        ASSERT_GT(program.size(), 2u);
        image.assign(program.begin() + 2, program.end());
        write_bytes(dir / "game.tmp", image);
    }

    // Runs Tolvek.exe -a or -w (`option`) on `image_name`, with `prefix`
    // before the command (variables, a ulimit).
    Result tolvek(const std::string& option, const std::string& image_name, const std::string& prefix = "") {
        return run_in(dir.path(), prefix + quote(TOLVEK_EXE) + " " + option + kAddresses + quote(image_name));
    }

    std::vector<std::uint8_t> program;
    std::vector<std::uint8_t> image;
    ScratchDir dir;
};

TEST_F(OutputFile, NameWithLineBreaksStaysInsideItsComment) {
    if (!have_acme()) GTEST_SKIP() << "acme is not installed";
    // A crafted name that would put a directive into the source.
    write_text(dir / "secret.txt", "SECRET");
    const struct {
        std::string stem;
        std::string shown;
    } names[] = {
        {"x\n!bin \"secret.txt\"\n", "x\\n!bin \"secret.txt\"\\n"},
        {"y\r!bin \"secret.txt\"\r", "y\\r!bin \"secret.txt\"\\r"},
        {"tab\tbell\x07" "back\\", "tab\\tbell\\x07back\\\\"},
    };
    for (const auto& name : names) {
        SCOPED_TRACE(name.shown);
        write_bytes(dir / (name.stem + ".tmp"), image);
        for (const char* option : {"-a", "-w"}) {
            const Result result = tolvek(option, name.stem + ".tmp");
            ASSERT_EQ(result.status, 0) << result.err;
        }
        const std::string header = "; Disassembly of " + name.shown + ".tmp by Tolvek\n";
        for (const char* extension : {".asm", ".lst"}) {
            const std::string text = read_text(dir / (name.stem + extension));
            EXPECT_EQ(text.substr(0, text.find('\n') + 1), header) << extension;
        }
        const Result acme = run_in(dir.path(), "acme -f cbm -o again.prg " + quote(name.stem + ".asm"));
        EXPECT_EQ(acme.status, 0) << acme.err;
        EXPECT_EQ(read_bytes(dir / "again.prg"), program);
    }
}

}  // namespace
