// The header's rebuild command, pasted into the shell, rebuilds the program
// whatever its file is called, and runs nothing else.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>

#include "analysis/analyse.hpp"
#include "output/listing.hpp"
#include "output/writers.hpp"
#include "support.hpp"

using namespace tolvek;
using namespace tolvek_test;
namespace fs = std::filesystem;

namespace {

TEST(RebuildCommand, FileNamesAreWordsForTheShell) {
    const std::optional<std::string> none;
    const struct {
        const char* name;
        std::optional<std::string> sh;
        std::optional<std::string> cmd;
    } cases[] = {
        // As they are: what golden outputs and most programs are called.
        {"hello.asm", "hello.asm", "hello.asm"},
        {"a-b_c+d,e:f@g=h.asm", "a-b_c+d,e:f@g=h.asm", "a-b_c+d,e:f@g=h.asm"},
        {"-o.asm", "./-o.asm", ".\\-o.asm"},
        {"my game.asm", "'my game.asm'", "\"my game.asm\""},
        {"demo;touch PWNED;x.asm", "'demo;touch PWNED;x.asm'", "\"demo;touch PWNED;x.asm\""},
        {"it's.asm", "'it'\\''s.asm'", "\"it's.asm\""},
        {"$(id)`id`&|<>^().asm", "'$(id)`id`&|<>^().asm'", "\"$(id)`id`&|<>^().asm\""},
        {"- x.asm", "'./- x.asm'", "\".\\- x.asm\""},
        {"spiel \xc3\xa4.asm", "'spiel \xc3\xa4.asm'", "\"spiel \xc3\xa4.asm\""},
        {"a\\b.asm", "'a\\b.asm'", "\"a\\b.asm\""},
        // cmd.exe expands %PATH% inside double quotes and cannot hold one.
        {"100%.asm", "'100%.asm'", none},
        {"say \"hi\".asm", "'say \"hi\".asm'", none},
        // The comment shows these as escapes, not as the name.
        {"line\nbreak.asm", none, none},
        {"tab\t.asm", none, none},
        {"\xff.asm", none, none},
        {"", none, none},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(shell_word(c.name, Shell::Posix), c.sh) << c.name;
        EXPECT_EQ(shell_word(c.name, Shell::Cmd), c.cmd) << c.name;
    }
}

// The first line of the header that says how to rebuild, after the ": ".
std::string rebuild_line(const std::string& source) {
    const std::size_t at = source.find("; rebuild with ");
    if (at == std::string::npos) return {};
    const std::size_t from = source.find(": ", at) + 2;
    return source.substr(from, source.find('\n', from) - from);
}

// Where a name cannot be given safely, the header says so instead of
// giving a command that does something else.
TEST(RebuildCommand, AHeaderWithoutACommandSaysWhy) {
    const Image image = make_image(0x1000, {0xa9, 0x00, 0x60});
    const MemoryMap map = analyse(image, {.entry = 0x1000});
    const Listing listing = build_listing(map, {"x.tmp", "x.unpacked.prg", "x.unpacked.asm", "Tolvek.exe --unpack"});
    EXPECT_EQ(rebuild_line(write_asm(listing, image, kAcme, {"100%.asm", "100%-rebuilt.prg", "100%.cfg", Shell::Cmd})),
              "none, as the file name '100%.asm' cannot be written safely in a command for cmd.exe; rename the file "
              "to get one");
    EXPECT_EQ(rebuild_line(write_asm(listing, image, kCa65, {"a b.asm", "a b-rebuilt.prg", "a b.cfg", Shell::Cmd})),
              "cl65 -t none -C \"a b.cfg\" -o \"a b-rebuilt.prg\" \"a b.asm\"");
    EXPECT_EQ(rebuild_line(write_lst(listing, image, k64tass, {"a\nb.asm", "a\nb-rebuilt.prg", "", Shell::Posix})),
              "none, as the file name 'a\\nb.asm' cannot be written safely in a command for sh; rename the file to get "
              "one");
}

// Programs named to run commands, with spaces, quotes and a leading dash:
// the command pasted into sh rebuilds each byte for byte, and no file
// appears but the source, the rebuilt program and what the assembler
// leaves (ca65's configuration and object file).
TEST(RebuildCommand, PastedIntoShItRebuildsTheProgramAndRunsNothingElse) {
    const std::vector<std::uint8_t> program = read_bytes(fs::path(EXAMPLES_DIR) / "hello.prg");
    for (const std::string stem : {"demo;touch PWNED;x", "my game $(touch PWNED) `touch PWNED`", "it's \"q\" & | > PWNED",
                                   "-o PWNED", "back\\slash"}) {
        for (const std::string& dialect : kDialectNames) {
            if (!have_assembler(dialect)) continue;
            SCOPED_TRACE(stem + ", " + dialect);
            ScratchDir dir;
            write_bytes(dir / (stem + ".prg"), program);
            const Result tolvek =
                run_in(dir.path(), quote(TOLVEK_EXE) + " -a -c6502 -e2061 -s" + dialect + " -p " + quote("./" + stem + ".prg"));
            ASSERT_EQ(tolvek.status, 0) << tolvek.err;
            const std::string command = rebuild_line(read_text(dir / (stem + ".asm")));
            const Result build = run_in(dir.path(), command);
            EXPECT_EQ(build.status, 0) << command << "\n" << build.err;
            EXPECT_TRUE(read_bytes(dir / (stem + "-rebuilt.prg")) == program) << command;
            std::set<std::string> expected{stem + ".prg", stem + ".asm", stem + "-rebuilt.prg"};
            if (dialect == "ca65") expected.insert({stem + ".cfg", stem + ".o"});
            std::set<std::string> files;
            for (const auto& entry : fs::directory_iterator(dir.path())) files.insert(entry.path().filename().string());
            EXPECT_EQ(files, expected) << command;
        }
    }
}

}  // namespace
