// The hints file: each directive read and used, the analysis written back
// as hints that give the same disassembly, VICE labels both ways, and every
// kind of bad hint refused with its file and line, nothing touched.
#include <gtest/gtest.h>

#include <filesystem>
#include <random>

#include "analysis/analyse.hpp"
#include "hints/hints.hpp"
#include "output/listing.hpp"
#include "output/writers.hpp"
#include "support.hpp"

using namespace tolvek;
using namespace tolvek_test;
namespace fs = std::filesystem;

namespace {

std::string no_files(const std::string&, std::string&) { return "No such file or directory"; }

Image example() {
    const std::vector<std::uint8_t> prg = read_bytes(fs::path(EXAMPLES_DIR) / "hello.prg");
    Image image;
    image.load = 0x0801;
    image.bytes.assign(prg.begin() + 2, prg.end());
    return image;
}

// The problem with `text` as hints for the example, or "".
std::string problem_with(const std::string& text, const FileReader& read = no_files) {
    Hints hints;
    std::string problem = parse_hints(text, "game.hints", hints, read);
    if (problem.empty()) problem = check_hints(hints, example());
    return problem;
}

TEST(Hints, EveryKindOfBadHintIsNamedWithItsLine) {
    const std::pair<const char*, const char*> cases[] = {
        {"# fine\nfoo $0810\n", "game.hints:2: unknown directive 'foo'"},
        {"entry $10000\n", "game.hints:1: not an address: '$10000'"},
        {"entry\n", "game.hints:1: entry takes one address"},
        {"code $0820\n", "game.hints:1: code takes a range"},
        {"bytes $0830-$0820\n", "game.hints:1: the range $0830-$0820 ends before it starts"},
        {"words $0852-$0854\n", "game.hints:1: a range of words needs an even number of bytes"},
        {"split $0852-$0853\n", "game.hints:1: split takes a range"},
        {"name $0810 lda\n", "game.hints:1: 'lda' cannot be a name"},
        {"name $0810 1st\n", "game.hints:1: '1st' cannot be a name"},
        {"name $0810 one\nname $0810 two\n", "game.hints:2: $0810 is named twice"},
        {"name $0810 loop\nname $0812 LOOP\n", "game.hints:2: 'LOOP' names both $0810 and $0812"},
        {"comment $0810\n", "game.hints:1: comment takes an address and a text"},
        {"labels nowhere.vice\n", "game.hints:1: cannot read the label file 'nowhere.vice'"},
        {"entry $c000\n", "game.hints:1: the entry $c000 lies outside the image"},
        {"\n\nbytes $0850-$0900\n", "game.hints:3: $0850-$0900 lies outside the image ($0801-$0859)"},
        {"bytes $0801-$0803\n", "game.hints:1: $0801-$0803 lies in the BASIC program"},
        {"bytes $0850-$0855\ntext $0852-$0853\n", "game.hints:2: $0852-$0853 overlaps the range of line 1"},
        {"split $0840-$0841 $0841\n", "overlaps the range of line 1"},
        // $080d ldx #0, $080f lda $083d,x: the range ends inside the lda.
        {"code $080d-$0810\n", "game.hints:1: the instruction at $080f runs past the end of the code range $080d-$0810"},
        {"name $0810 L0835\n", "the name 'L0835' for $0810 is the name of another address"},
        {"name $0810 CHROUT\n", "the name 'CHROUT' for $0810 is the name of another address"},
        // Over two earlier ranges: the first is named.
        {"bytes $0852-$0853\nbytes $0850-$0851\nbytes $0840-$0855\n", "game.hints:3: $0840-$0855 overlaps the range of line 1"},
    };
    for (const auto& [text, expected] : cases) {
        EXPECT_NE(problem_with(text).find(expected), std::string::npos) << text << "\ngave: " << problem_with(text);
    }
    EXPECT_EQ(problem_with("# nothing wrong\n\nentry $0835 ; a routine\nname $fb ptr\n"), "");
    // A word of a long line is cut short in the message.
    EXPECT_EQ(problem_with("entry $" + std::string(100000, '1') + "\n"),
              "game.hints:1: not an address: '$" + std::string(79, '1') + "...'");
}

TEST(Hints, ViceLabelsAreReadAsNames) {
    const auto read = [](const std::string& name, std::string& text) -> std::string {
        if (name != "game.vice") return "No such file or directory";
        text = "al C:0835 .wait_frame\nal 00fb .ptr\n";
        return {};
    };
    Hints hints;
    ASSERT_EQ(parse_hints("labels game.vice\n", "game.hints", hints, read), "");
    EXPECT_EQ(hints.names.at(0x0835), "wait_frame");
    EXPECT_EQ(hints.names.at(0x00fb), "ptr");
    std::map<std::uint32_t, std::string> names;
    EXPECT_NE(parse_vice_labels("al C:zz .x\n", "v", names).find("v:1: not an address"), std::string::npos);
    EXPECT_NE(parse_vice_labels("break 080d\n", "v", names).find("v:1: not a VICE label line"), std::string::npos);
}

TEST(Hints, TheAnalysisBuildsOnThem) {
    const Image image = example();
    Hints hints;
    ASSERT_EQ(parse_hints("bytes $0852-$0859\n"        // the colour table, as data
                          "entry $0844\n"              // inside the text: taken as code
                          "name $0835 wait_frame\n"
                          "name $d020 border\n"        // outside: instead of EXTCOL
                          "comment $081a main loop\n",
                          "game.hints", hints, no_files),
              "");
    ASSERT_EQ(check_hints(hints, image), "");
    const MemoryMap map = analyse(image, {.entry = 0x080d, .hints = &hints});
    EXPECT_EQ(map.kind(0x0852), Kind::Bytes);
    EXPECT_EQ(map.source(0x0852), Source::Hint);
    EXPECT_EQ(map.kind(0x0844), Kind::Opcode);
    EXPECT_EQ(map.source(0x0844), Source::Hint);
    const Listing listing = build_listing(map, "game.tmp", &hints);
    const std::string text = write_asm(listing, image, kAcme, {"game.asm", "game.prg", ""});
    for (const char* expected : {"\tjsr wait_frame\n", "wait_frame\n\tlda #$ff", "\tsta border\n", "border = $d020\n",
                                 "; main loop", "; hints from game.hints\n"}) {
        EXPECT_NE(text.find(expected), std::string::npos) << expected << "\n" << text;
    }
    EXPECT_EQ(text.find("EXTCOL"), std::string::npos);
}

// A code range is code throughout: a routine after another's rts too. An
// opcode the CPU does not run stays bytes, from the hint like the rest.
TEST(Hints, EveryInstructionOfACodeRangeIsTraced) {
    // $1000 rts; $1001 jam; $1002 lda #$01; $1004 rts; then data.
    const Image image = make_image(0x1000, {0x60, 0x02, 0xa9, 0x01, 0x60, 0x00, 0x00});
    Hints hints;
    ASSERT_EQ(parse_hints("code $1000-$1004\n", "game.hints", hints, no_files), "");
    ASSERT_EQ(check_hints(hints, image), "");
    const MemoryMap map = analyse(image, {.entry = 0x1000, .hints = &hints});
    for (const std::uint32_t code : {0x1002u, 0x1004u}) {
        EXPECT_EQ(map.kind(code), Kind::Opcode) << code;
        EXPECT_EQ(map.source(code), Source::Hint) << code;
    }
    EXPECT_EQ(map.kind(0x1001), Kind::Bytes);
    EXPECT_EQ(map.source(0x1001), Source::Hint);
    EXPECT_EQ(map.kind(0x1005), Kind::Unknown);
}

// On random images too (tables, text, guessed code, pairs): the written
// hints give back the same source, line for line, in every dialect.
TEST(Hints, WrittenHintsReproduceRandomImages) {
    std::mt19937 random(1541);
    for (int round = 0; round < 24; ++round) {
        Image image;
        image.load = random() % 2 == 0 ? 0x0801 : static_cast<std::uint32_t>(random() % 0xc000);
        image.bytes.resize(200 + random() % 3000);
        for (auto& byte : image.bytes) byte = static_cast<std::uint8_t>(random() % 3 == 0 ? 0xea : random());
        const auto entry = static_cast<std::int64_t>(image.load + random() % image.bytes.size());
        SCOPED_TRACE("round " + std::to_string(round));
        const MemoryMap map = analyse(image, {.entry = entry});
        const Listing listing = build_listing(map, "r.tmp");
        std::vector<std::pair<std::uint32_t, std::string_view>> labels;
        for (const Symbol& symbol : listing.symbols) {
            if (image.contains(symbol.address) || symbol.address == image.end()) labels.emplace_back(symbol.address, symbol.name);
        }
        Hints hints;
        ASSERT_EQ(parse_hints(write_hints(map, labels, "r.tmp"), "r.hints", hints, no_files), "");
        ASSERT_EQ(check_hints(hints, image), "");
        const MemoryMap again = analyse(image, {.entry = entry, .hints = &hints});
        const Listing relisted = build_listing(again, "r.tmp", &hints);
        for (const Dialect* dialect : {&kAcme, &k64tass, &kCa65}) {
            const BuildNames names{"r.asm", "r.prg", "r.cfg"};
            std::string after = write_asm(relisted, image, *dialect, names);
            const std::string line = "; hints from r.hints\n";
            ASSERT_NE(after.find(line), std::string::npos);
            after.erase(after.find(line), line.size());
            ASSERT_EQ(after, write_asm(listing, image, *dialect, names)) << dialect->name;
        }
    }
}

class HintsFile : public ::testing::Test {
protected:
    void SetUp() override {
        image = example();
        write_bytes(dir / "game.tmp", image.bytes);
    }
    Result tolvek(const std::string& args) {
        return run_in(dir.path(), quote(TOLVEK_EXE) + " -c6502 -o2049 -e2061 -t game.tmp " + args);
    }
    Image image;
    ScratchDir dir;
};

// Beside the image, in every dialect, a hints file with every directive;
// the source still rebuilds the identical program.
TEST_F(HintsFile, UsedFromBesideTheImageInEveryDialect) {
    if (!have_acme()) GTEST_SKIP() << "acme is not installed";
    // round_trip disassembles image.tmp: its hints are image.hints.
    write_text(dir / "game.vice", "al C:080f .print_loop\n");
    write_text(dir / "image.hints",
               "entry $0845\ncode $0835-$083c\nbytes $0852-$0855\nwords $0856-$0857\ntext $083e-$0842\n"
               "screen $0843-$0844\nsplit $0846-$0847 $0848\nrts-split $084a-$084a $084b\nrts-words $084c-$084d\n"
               "name $080d start\nname $fb ptr\ncomment $0814 print it\nlabels game.vice\n");
    for (const std::string dialect : {"acme", "64tass", "ca65"}) {
        if (!have_assembler(dialect)) continue;
        SCOPED_TRACE(dialect);
        const std::string source = round_trip(dir, 0x0801, 2061, image.bytes, dialect);
        for (const char* expected : {"; hints from image.hints", "start", "print_loop", "; print it"}) {
            EXPECT_NE(source.find(expected), std::string::npos) << expected << "\n" << source;
        }
    }
}

// Written from the analysis and read back, hints give the same
// disassembly (the header says where the hints came from).
TEST_F(HintsFile, WrittenHintsGiveTheSameDisassembly) {
    const std::vector<std::uint8_t> prg = [] {
        std::vector<std::uint8_t> bytes = read_bytes(fs::path(EXAMPLES_DIR) / "hello.prg");
        return std::vector<std::uint8_t>(bytes.begin() + 2, bytes.end());
    }();
    ASSERT_EQ(tolvek("-a --write-hints written.hints --vice-labels game.vice").status, 0);
    const std::string before = read_text(dir / "game.asm");
    EXPECT_NE(read_text(dir / "written.hints").find("name $0835 L0835\n"), std::string::npos);
    EXPECT_NE(read_text(dir / "game.vice").find("al C:0835 .L0835\n"), std::string::npos);
    const Result again = tolvek("-a --hints written.hints");
    ASSERT_EQ(again.status, 0) << again.err;
    std::string after = read_text(dir / "game.asm");
    const std::string line = "; hints from written.hints\n";
    ASSERT_NE(after.find(line), std::string::npos);
    after.erase(after.find(line), line.size());
    EXPECT_EQ(after, before);
}

TEST_F(HintsFile, BadHintsStopTheRunAndTouchNothing) {
    write_text(dir / "game.asm", "old\n");
    write_text(dir / "game.hints", "entry $0810\nbytes $0900-$0910\n");
    const Result result = tolvek("-a");
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "Tolvek.exe: game.hints:2: $0900-$0910 lies outside the image ($0801-$0859)\n");
    EXPECT_EQ(read_text(dir / "game.asm"), "old\n");
    const Result missing = tolvek("-a --hints nowhere.hints");
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.err.find("cannot read the hints file 'nowhere.hints'"), std::string::npos);
}

// A file name with line breaks stays inside the comment line of the hints
// written: it adds no directive.
TEST_F(HintsFile, NamesWithLineBreaksAddNoDirective) {
    const std::string name = "x\nname $080d injected\n#.tmp";
    write_bytes(dir / name, image.bytes);
    const std::string run = quote(TOLVEK_EXE) + " -a -c6502 -o2049 -e2061 -t " + quote(name);
    const Result wrote = run_in(dir.path(), run + " --write-hints w.hints");
    ASSERT_EQ(wrote.status, 0) << wrote.err;
    const std::string written = read_text(dir / "w.hints");
    EXPECT_NE(written.find("# Hints for x\\nname $080d injected\\n#.tmp, written by Tolvek"), std::string::npos) << written;
    Hints hints;
    ASSERT_EQ(parse_hints(written, "w.hints", hints, no_files), "");
    EXPECT_EQ(hints.names.at(0x080d), "L080d");
    const Result again = run_in(dir.path(), run + " --hints w.hints");
    EXPECT_EQ(again.status, 0) << again.err;
}

}  // namespace
