// What each dialect looks like: the bundled example's .asm and .lst in
// every dialect, compared with the files in golden/. A change that shows up
// here is a change users see; when it is meant, the files are written anew
// with the commands in golden/README.
#include <gtest/gtest.h>

#include "support.hpp"
#include "version.hpp"

using namespace tolvek_test;

namespace {

TEST(Golden, ExampleInEveryDialect) {
    ScratchDir dir;
    const std::vector<std::uint8_t> prg = read_bytes(std::string(EXAMPLES_DIR) + "/hello.prg");
    ASSERT_GT(prg.size(), 2u);
    write_bytes(dir / "hello.tmp", {prg.begin() + 2, prg.end()});
    for (const std::string& dialect : kDialectNames) {
        for (const std::string kind : {"asm", "lst"}) {
            SCOPED_TRACE(dialect + " ." + kind);
            const std::string option = kind == "asm" ? "-a" : "-w";
            const Result result =
                run_in(dir.path(), quote(TOLVEK_EXE) + " " + option + " -c6502 -o2049 -e2061 -t hello.tmp -s" + dialect);
            ASSERT_EQ(result.status, 0) << result.err;
            // The version changes with every release, the rest only when meant.
            std::string text = read_text(dir / ("hello." + kind));
            const std::string version = std::string(" by Tolvek ") + tolvek::kVersion + "\n";
            const std::size_t at = text.find(version);
            ASSERT_NE(at, std::string::npos) << "no version in the header";
            text.replace(at, version.size(), " by Tolvek @VERSION@\n");
            EXPECT_EQ(text, read_text(std::string(GOLDEN_DIR) + "/hello." + dialect + "." + kind));
        }
    }
    // The linker configuration that the ca65 source's build command names.
    EXPECT_EQ(read_text(dir / "hello.cfg"), read_text(std::string(GOLDEN_DIR) + "/hello.cfg"));
}

}  // namespace
