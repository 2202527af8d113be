// The hints file: each directive read and used, the analysis written back
// as hints that give the same disassembly, VICE labels both ways, and every
// kind of bad hint refused with its file and line, nothing touched.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <random>

#include "analysis/analyse.hpp"
#include "cpu/opcodes.hpp"
#include "hints/hints.hpp"
#include "output/hints_writer.hpp"
#include "output/listing.hpp"
#include "output/writers.hpp"
#include "support.hpp"

using namespace tolvek;
using namespace tolvek_test;
using namespace std::string_literals;
namespace fs = std::filesystem;

namespace {

std::string no_files(const std::string&, std::string&) { return "No such file or directory"; }

Image example() {
    const std::vector<std::uint8_t> prg = read_bytes(fs::path(FLASH_DIR) / "flash.prg");
    Image image;
    image.load = 0x0801;
    image.bytes.assign(prg.begin() + 2, prg.end());
    return image;
}


// `text` as UTF-16 with a byte-order mark, as Notepad saves "Unicode" (LE)
// and "Unicode big endian".
std::string utf16(std::u16string_view text, bool big_endian = false) {
    std::string bytes = big_endian ? "\xfe\xff" : "\xff\xfe";
    for (const char16_t unit : text) {
        const char high = static_cast<char>(unit >> 8);
        const char low = static_cast<char>(unit & 0xff);
        bytes += big_endian ? std::string{high, low} : std::string{low, high};
    }
    return bytes;
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
        // 64tass tells no case apart: l0835 is L0835.
        {"name $0810 l0835\n", "the name 'l0835' for $0810 is the name of another address"},
        {"name $0810 d083D\n", "the name 'd083D' for $0810 is the name of another address"},
        // Over two earlier ranges: the first is named.
        {"bytes $0852-$0853\nbytes $0850-$0851\nbytes $0840-$0855\n", "game.hints:3: $0840-$0855 overlaps the range of line 1"},
        {"unknown $0850-$0855\ncode $0835-$0836\nunknown $0835-$0835\n", "game.hints:3: $0835-$0835 overlaps the range of line 2"},
        {"run-cycles\n", "game.hints:1: run-cycles takes a number of cycles, 0..10000000000"},
        {"run-cycles 10000000001\n", "game.hints:1: run-cycles takes a number of cycles"},
        {"run-cycles 0\nrun-cycles 0\n", "game.hints:2: run-cycles is given twice"},
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
    // Saved on Windows or an old Mac: the same labels, mistakes on their line.
    for (const std::string& text : {std::string("\xef\xbb\xbf al C:0835 .wait_frame\r\nal 00fb .ptr\r\n"),
                                    std::string("al C:0835 .wait_frame\ral 00fb .ptr"),
                                    utf16(u"al C:0835 .wait_frame\r\nal 00fb .ptr\r\n", true)}) {
        names.clear();
        ASSERT_EQ(parse_vice_labels(text, "v", names), "") << text;
        EXPECT_EQ(names, (std::map<std::uint32_t, std::string>{{0x00fb, "ptr"}, {0x0835, "wait_frame"}}));
    }
    EXPECT_NE(parse_vice_labels("al C:0835 .start\r\ral C:zz .x\r", "v", names).find("v:3: not an address"), std::string::npos);
}

// A label file's name in double quotes may hold spaces, # and ; (Windows
// folders have them); without quotes it is one word, as before.
TEST(Hints, LabelFileNamesInDoubleQuotes) {
    std::vector<std::string> asked;
    const FileReader read = [&](const std::string& name, std::string& text) -> std::string {
        asked.push_back(name);
        text = "al C:" + std::to_string(1000 + asked.size()) + " .from_file" + std::to_string(asked.size()) + "\n";
        return {};
    };
    Hints hints;
    ASSERT_EQ(parse_hints("labels \"my labels/game.vice\"\n"
                          "  LABELS\t\"C:\\My Labels\\game #2; final.vice\" ; the second\n"
                          "labels \"x.vice\"# the third\n"
                          "labels my\\game.vice\n",
                          "game.hints", hints, read),
              "");
    EXPECT_EQ(asked, (std::vector<std::string>{"my labels/game.vice", "C:\\My Labels\\game #2; final.vice", "x.vice",
                                                "my\\game.vice"}));
    EXPECT_EQ(hints.names.size(), 4u);
    const std::pair<const char*, const char*> cases[] = {
        {"# 1\nlabels \"my labels/game.vice\n", "game.hints:2: the double quote before 'my labels/game.vice' is not closed"},
        {"labels my labels.vice\n", "game.hints:1: labels takes the name of a VICE label file (in double quotes if it has spaces"},
        {"labels \"a.vice\" b.vice\n", "game.hints:1: labels takes the name of a VICE label file (in double quotes"},
        {"labels \"\"\n", "game.hints:1: labels takes the name of a VICE label file"},
        {"labels\n", "game.hints:1: labels takes the name of a VICE label file"},
    };
    for (const auto& [text, expected] : cases) {
        const std::string problem = problem_with(text, read);
        EXPECT_EQ(problem.substr(0, std::string_view(expected).size()), expected) << text;
    }
}

// However an editor saved them (a UTF-8 byte-order mark, Notepad's UTF-16
// in either byte order, CR LF or old Macs' CR), the hints read are the
// same, with the same line numbers, and their text is plain UTF-8.
TEST(Hints, ReadHoweverAnEditorSavedThem) {
    // "grün" and a joystick (U+1F3AE, a surrogate pair in UTF-16).
    const std::string plain =
        "# notes\nname $0835 wait_frame\n\ncomment $081a gr\xc3\xbcn \xf0\x9f\x8e\xae\nbytes $0852-$0859\nentry $0810";
    const std::u16string notepad =
        u"# notes\r\nname $0835 wait_frame\r\n\r\ncomment $081a gr\u00fcn \U0001F3AE\r\nbytes $0852-$0859\r\nentry $0810";
    const std::u16string old_mac =
        u"# notes\rname $0835 wait_frame\r\rcomment $081a gr\u00fcn \U0001F3AE\rbytes $0852-$0859\rentry $0810\r";
    const std::pair<const char*, std::string> stored[] = {
        {"UTF-8 with a byte-order mark", "\xef\xbb\xbf" + plain},
        {"UTF-8, CR LF", "\xef\xbb\xbf# notes\r\nname $0835 wait_frame\r\n\r\ncomment $081a gr\xc3\xbcn \xf0\x9f\x8e\xae\r\n"
                         "bytes $0852-$0859\r\nentry $0810\r\n"},
        {"UTF-8, CR", "# notes\rname $0835 wait_frame\r\rcomment $081a gr\xc3\xbcn \xf0\x9f\x8e\xae\rbytes $0852-$0859\rentry $0810"},
        {"UTF-16 LE, CR LF", utf16(notepad)},
        {"UTF-16 BE, CR LF", utf16(notepad, true)},
        {"UTF-16 LE, CR", utf16(old_mac)},
    };
    for (const auto& [how, bytes] : stored) {
        SCOPED_TRACE(how);
        Hints hints;
        ASSERT_EQ(parse_hints(bytes, "game.hints", hints, no_files), "");
        EXPECT_EQ(hints.names.at(0x0835), "wait_frame");
        EXPECT_EQ(hints.comments.at(0x081a), "gr\xc3\xbcn \xf0\x9f\x8e\xae");
        ASSERT_EQ(hints.ranges.size(), 1u);
        EXPECT_EQ(hints.ranges[0].line, 5);
        EXPECT_EQ(hints.entries, (std::vector<std::pair<std::uint32_t, int>>{{0x0810, 6}}));
        EXPECT_TRUE(hints.text == plain || hints.text == plain + "\n") << hints.text;
    }
    // Mistakes are named with their line however the lines end.
    for (const std::string& bytes : {std::string("# 1\r\r\n# 3\rfoo\r"), std::string("\xef\xbb\xbf# 1\n\r\n\rfoo"),
                                     utf16(u"# 1\r\n\r# 3\nfoo\r\n"), utf16(u"\r\r\r\nfoo", true)}) {
        EXPECT_EQ(problem_with(bytes), "game.hints:4: unknown directive 'foo'") << bytes;
    }
}

// UTF-16 that cannot be read, and UTF-16 without its byte-order mark, are
// refused by name, with their file and line, label files too.
TEST(Hints, TextThatIsNoTextIsRefusedWithItsLine) {
    const std::pair<std::string, const char*> cases[] = {
        {utf16(u"# 1\r\n# 2\r\n# \xd83d!\r\n"), "game.hints:3: not valid UTF-16: a first half of a surrogate pair (0xd83d)"},
        {utf16(u"# 1\r# \xde00\r", true), "game.hints:2: not valid UTF-16: a second half of a surrogate pair (0xde00)"},
        {utf16(u"entry $0810\n\xd83d"), "game.hints:2: not valid UTF-16: a first half of a surrogate pair (0xd83d)"},
        {utf16(u"entry $0810\r\n") + "e", "game.hints:2: not valid UTF-16: it ends in half a character"},
        {utf16(u"entry $0810\r\n").substr(2), "game.hints:1: a zero byte in a directive (UTF-16 is read only with a"},
        {utf16(u"# 1\r\nentry $0810", true).substr(2), "game.hints:1: a zero byte in a directive"},
        {"# 1\r\n# 2\n\ren\0try $0810\n"s, "game.hints:4: a zero byte in a directive"},
    };
    for (const auto& [bytes, expected] : cases) {
        const std::string problem = problem_with(bytes);
        EXPECT_EQ(problem.substr(0, std::string_view(expected).size()), expected) << problem;
    }
    const auto read = [](const std::string&, std::string& text) -> std::string {
        text = utf16(u"al C:0835 .wait_frame\r\nal C:0836 .x\xdc00\r\n");
        return {};
    };
    EXPECT_EQ(problem_with("labels game.vice\n", read).substr(0, 34), "game.vice:2: not valid UTF-16: a s");
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
    EXPECT_EQ(listed_at(map, 0x0852), "D0852: !byte $00,$0b,$0c,$0f,$01,$0f,$0c,$0b");
    EXPECT_EQ(map.kind(0x0844), Kind::Opcode);
    EXPECT_EQ(listed_at(map, 0x0844), "L0844: lsr $52");
    const Listing listing = build_listing(map, {"game.tmp", "game.unpacked.prg", "game.unpacked.asm", "Tolvek.exe --unpack"}, &hints);
    const std::string text = write_asm(listing, image, kAcme, {"game.asm", "game.prg", ""});
    for (const char* expected : {"\tjsr wait_frame\n", "wait_frame                      ; called from L081c+6\n\tlda #$ff", "\tsta border              ; border colour\n", "border = $d020\n",
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
        EXPECT_EQ(listed_at(map, code), code == 0x1002 ? "L1002: lda #$01" : "rts") << code;
    }
    EXPECT_EQ(map.kind(0x1001), Kind::Bytes);
    EXPECT_EQ(listed_at(map, 0x1001), "!byte $02");
    EXPECT_EQ(map.kind(0x1005), Kind::Unknown);
}

// Split tables are written back one directive each, also where two of
// their entries stand for the same address; over the hints read, not again.
TEST(Hints, SplitTablesAreWrittenBackWhole) {
    // $1000 rts; low halves 00 01 00 02 with high halves 10 10 10 10; for
    // an rts, ff 00 with 0f 10 ($1000 and $1001 less one).
    const Image image = make_image(0x1000, {0x60, 0x00, 0x01, 0x00, 0x02, 0x10, 0x10, 0x10, 0x10, 0xff, 0x00, 0x0f, 0x10});
    const std::string text = "split $1001-$1004 $1005\nrts-split $1009-$100a $100b\n";
    Hints hints;
    ASSERT_EQ(parse_hints(text, "t.hints", hints, no_files), "");
    ASSERT_EQ(check_hints(hints, image), "");
    const MemoryMap map = analyse(image, {.entry = 0x1000, .hints = &hints});
    const Listing listing = build_listing(map, {"t.tmp", "t.unpacked.prg", "t.unpacked.asm", "Tolvek.exe --unpack"}, &hints);
    const std::string written = write_hints(map, image_labels(listing, image), "t.tmp");
    EXPECT_NE(written.find("\nsplit $1001-$1004 $1005\nrts-split $1009-$100a $100b\n"), std::string::npos) << written;
    const std::string over = write_hints(map, image_labels(listing, image), "t.tmp", &hints);
    ASSERT_EQ(over.substr(0, text.size()), text);
    EXPECT_EQ(over.find("split", text.size()), std::string::npos) << over;
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
        const Listing listing = build_listing(map, {"r.tmp", "r.unpacked.prg", "r.unpacked.asm", "Tolvek.exe --unpack"});
        Hints hints;
        ASSERT_EQ(parse_hints(write_hints(map, image_labels(listing, image), "r.tmp"), "r.hints", hints, no_files), "");
        ASSERT_EQ(check_hints(hints, image), "");
        const MemoryMap again = analyse(image, {.entry = entry, .hints = &hints});
        const Listing relisted = build_listing(again, {"r.tmp", "r.unpacked.prg", "r.unpacked.asm", "Tolvek.exe --unpack"}, &hints);
        for (const Dialect* dialect : kDialects) {
            const BuildNames names{"r.asm", "r.prg", "r.cfg"};
            std::string after = write_asm(relisted, image, *dialect, names);
            const std::string line = "; hints from r.hints\n";
            ASSERT_NE(after.find(line), std::string::npos);
            after.erase(after.find(line), line.size());
            ASSERT_EQ(after, write_asm(listing, image, *dialect, names)) << dialect->name;
        }
    }
}

// Random hints of a user's (ranges of every kind, graphics too, entries, names, comments)
// on random images: the hints written from that analysis start with the
// user's text as it was, add nothing that clashes with it, give the same
// source when read back, and add nothing more when written again.
TEST(Hints, WrittenOverUsersHintsReproduceRandomImages) {
    std::mt19937 random(6510);
    for (int round = 0; round < 40; ++round) {
        Image image;
        image.load = static_cast<std::uint32_t>(0x1000 + random() % 0xb000);
        image.bytes.resize(200 + random() % 2000);
        for (auto& byte : image.bytes) byte = static_cast<std::uint8_t>(random() % 3 == 0 ? 0xea : random());
        const auto entry = static_cast<std::int64_t>(image.load + random() % image.bytes.size());
        SCOPED_TRACE("round " + std::to_string(round));
        // The user's ranges lie on free bytes only.
        std::vector<bool> taken(0x10000, false);
        const auto free_stretch = [&](std::uint32_t first, std::uint32_t size) {
            if (first + size > image.end()) return false;
            for (std::uint32_t a = first; a < first + size; ++a) {
                if (taken[a]) return false;
            }
            for (std::uint32_t a = first; a < first + size; ++a) taken[a] = true;
            return true;
        };
        const auto somewhere = [&] { return static_cast<std::uint32_t>(image.load + random() % image.bytes.size()); };
        std::string text = "# the user's notes, kept as written ; # and all\n\n";
        for (int i = 0; i < 8; ++i) {
            const std::uint32_t first = somewhere();
            auto size = static_cast<std::uint32_t>(1 + random() % 24);
            const char* kinds[] = {"code",   "bytes",   "words",  "rts-words",     "text",       "screen",
                                   "split",  "rts-split", "sprite", "charset", "bitmap", "screen-memory", "colour-data"};
            const std::string kind = kinds[random() % std::size(kinds)];
            const bool multicolour = (kind == "sprite" || kind == "charset" || kind == "bitmap") && random() % 2 == 0;
            if (kind == "code") {
                size = 0;
                while (size < 12 && first + size < image.end()) size += instruction_length(image.at(first + size));
            }
            if (kind == "words" || kind == "rts-words") size += size % 2;
            if (kind.ends_with("split")) {
                const std::uint32_t high = somewhere();
                if (!free_stretch(first, size)) continue;
                if (!free_stretch(high, size)) {
                    std::fill(taken.begin() + first, taken.begin() + first + size, false);
                    continue;
                }
                text += kind + " " + address_text(first) + "-" + address_text(first + size - 1) + " " + address_text(high) + "\n";
            } else if (free_stretch(first, size)) {
                text += kind + " " + address_text(first) + "-" + address_text(first + size - 1) +
                        (multicolour ? " multicolour" : "") + "   # a range\n";
            }
        }
        std::vector<std::uint32_t> named;
        for (int i = 0; i < 4; ++i) {
            const std::uint32_t address = somewhere();
            if (std::find(named.begin(), named.end(), address) != named.end()) continue;
            named.push_back(address);
            text += "name " + address_text(address) + " user" + std::to_string(i) + "\n";
            text += "comment " + address_text(somewhere()) + " note " + std::to_string(i) + "; with # in it\n";
        }
        text += "entry " + address_text(somewhere()) + "\n";
        text += "\n# the end of what the user wrote";  // no line end
        Hints user;
        ASSERT_EQ(parse_hints(text, "r.hints", user, no_files), "") << text;
        ASSERT_EQ(check_hints(user, image), "") << text;
        const MemoryMap map = analyse(image, {.entry = entry, .hints = &user});
        const Listing listing = build_listing(map, {"r.tmp", "r.unpacked.prg", "r.unpacked.asm", "Tolvek.exe --unpack"}, &user);
        const std::string written = write_hints(map, image_labels(listing, image), "r.tmp", &user);
        ASSERT_EQ(written.substr(0, text.size() + 1), text + "\n");
        Hints hints;
        ASSERT_EQ(parse_hints(written, "r.hints", hints, no_files), "") << written;
        ASSERT_EQ(check_hints(hints, image), "") << written;
        const MemoryMap again = analyse(image, {.entry = entry, .hints = &hints});
        const Listing relisted = build_listing(again, {"r.tmp", "r.unpacked.prg", "r.unpacked.asm", "Tolvek.exe --unpack"}, &hints);
        const BuildNames names{"r.asm", "r.prg", "r.cfg"};
        ASSERT_EQ(write_asm(relisted, image, kAcme, names), write_asm(listing, image, kAcme, names)) << written;
        EXPECT_EQ(write_hints(again, image_labels(relisted, image), "r.tmp", &hints), written);
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
    for (const std::string& dialect : kDialectNames) {
        if (!have_assembler(dialect)) continue;
        SCOPED_TRACE(dialect);
        const std::string source = round_trip(dir, 0x0801, 2061, image.bytes, dialect);
        for (const char* expected : {"; hints from image.hints", "start", "print_loop", "; print it"}) {
            EXPECT_NE(source.find(expected), std::string::npos) << expected << "\n" << source;
        }
    }
}

// Comments of the user's that an assembler could take for source: a
// comment xa's preprocessor would open, a line it would join to the next, a
// ":" where xa would start the next statement. Every dialect's source
// rebuilds the same program, and shows each comment.
TEST_F(HintsFile, CommentsThatLookLikeSourceStayComments) {
    if (!have_acme()) GTEST_SKIP() << "acme is not installed";
    write_text(dir / "image.hints",
               "comment $080f see /* here: lda #1\ncomment $0812 ends in a backslash \\\ncomment $0815 a:b // c */\n");
    for (const std::string& dialect : kDialectNames) {
        if (!have_assembler(dialect)) continue;
        SCOPED_TRACE(dialect);
        const std::string source = round_trip(dir, 0x0801, 2061, image.bytes, dialect);
        const bool xa = dialect == "xa";
        for (const std::string& expected : {std::string(xa ? "; see \\x2f* here: lda #1\n" : "; see /* here: lda #1\n"),
                                            std::string(xa ? "; ends in a backslash \\x5c\n" : "; ends in a backslash \\\\\n"),
                                            std::string("; $0815: a:b // c */; print the character in A\n")}) {
            EXPECT_NE(source.find(expected), std::string::npos) << expected << "\n" << source;
        }
    }
}

// Written from the analysis and read back, hints give the same
// disassembly (the header says where the hints came from).
TEST_F(HintsFile, WrittenHintsGiveTheSameDisassembly) {
    const std::vector<std::uint8_t> prg = [] {
        std::vector<std::uint8_t> bytes = read_bytes(fs::path(FLASH_DIR) / "flash.prg");
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

// Written from an analysis without a run, the hints say so: read back
// without the option they give the same source, and the bytes that
// analysis left alone stay so (guesses, made later, would otherwise find
// code there with the text claimed first). The command line still wins.
TEST_F(HintsFile, WrittenWithoutARunGiveTheSameWithoutTheOption) {
    if (!have_acme()) GTEST_SKIP() << "acme is not installed";
    // Its printing routines are found by the run, through a patched jmp.
    const std::vector<std::uint8_t> prg = assemble(dir, read_text(std::string(BENCH_DIR) + "/../relocation/programs/echo.a"));
    ASSERT_GT(prg.size(), 2u);
    write_bytes(dir / "game.tmp", {prg.begin() + 2, prg.end()});
    ASSERT_EQ(tolvek("-a --run-cycles 0 --write-hints written.hints").status, 0);
    const std::string before = read_text(dir / "game.asm");
    const std::string written = read_text(dir / "written.hints");
    EXPECT_NE(written.find("\nrun-cycles 0\n"), std::string::npos) << written;
    EXPECT_NE(written.find("\nunknown $0857-"), std::string::npos) << written;
    ASSERT_EQ(tolvek("-a --hints written.hints").status, 0);
    std::string after = read_text(dir / "game.asm");
    const std::string line = "; hints from written.hints\n";
    ASSERT_NE(after.find(line), std::string::npos);
    after.erase(after.find(line), line.size());
    EXPECT_EQ(after, before);
    ASSERT_EQ(tolvek("-a --hints written.hints --run-cycles 10000000").status, 0);
    EXPECT_NE(read_text(dir / "game.asm").find("; run from $080d"), std::string::npos);
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

// Written over the hints file that was read, the hints keep the user's
// lines as they were and add the analysis under a heading of its own,
// without saying again or otherwise what the user said; run with them, the
// source is the same, and written again they stay as they are.
TEST_F(HintsFile, WrittenOverTheHintsReadKeepTheUsersLines) {
    write_text(dir / "game.vice", "al C:080f .print_loop\n");
    const std::string users =
        "# What we know about game.tmp   ; kept as written\n"
        "\n"
        "NAME $080D start   # the entry\n"
        "name $0835 wait_frame\r\n"
        "comment $081a the main loop; it flashes the border\n"
        "bytes $0852-$0855 ; colours\n"
        "labels game.vice\n"
        "entry $080d\n"
        "# no line end after this";
    write_text(dir / "game.hints", users);
    const Result wrote = tolvek("-a --write-hints game.hints");
    ASSERT_EQ(wrote.status, 0) << wrote.err;
    const std::string source = read_text(dir / "game.asm");
    const std::string written = read_text(dir / "game.hints");
    std::string kept = users;
    kept.erase(kept.find('\r'), 1);  // lines end the platform's way
    ASSERT_EQ(written.substr(0, kept.size() + 1), kept + "\n") << written;
    const std::string added = written.substr(kept.size() + 1);
    EXPECT_NE(added.find("\n# ---- Added by Tolvek from its analysis of game.tmp"), std::string::npos) << added;
    EXPECT_NE(added.find("\ncode $080d-"), std::string::npos) << added;
    EXPECT_NE(added.find("\nname $081a L081a\n"), std::string::npos) << added;
    for (const char* said : {"entry $080d", "name $080d", "name $0835", "name $080f", "$0852-", "-$0855"}) {
        EXPECT_EQ(added.find(said), std::string::npos) << said << "\n" << added;
    }
    const Result again = tolvek("-a");
    ASSERT_EQ(again.status, 0) << again.err;
    EXPECT_EQ(read_text(dir / "game.asm"), source);
    ASSERT_EQ(tolvek("-a --write-hints game.hints").status, 0);
    EXPECT_EQ(read_text(dir / "game.hints"), written);
}

// Hints as Notepad saves them (UTF-16 with a byte-order mark, either byte
// order, CR LF, no line end at the end), with a UTF-8 byte-order mark or an
// old Mac's CR line ends, naming a label file in a folder with a space:
// they give the disassembly that plain UTF-8 gives, and written over with
// --write-hints they come out as the same UTF-8 text with the platform's
// line ends, which reads back to the same disassembly again.
TEST_F(HintsFile, SavedByAnyEditorGiveTheSameDisassembly) {
    fs::create_directory(dir / "my labels");
    write_text(dir / "my labels" / "game.vice", "al C:080f .print_loop\r\n");
    const std::string plain =
        "# the user's notes: gr\xc3\xbcn\nname $0835 wait_frame\nlabels \"my labels/game.vice\"\ncomment $081a the loop\n";
    const std::u16string notepad =
        u"# the user's notes: gr\u00fcn\r\nname $0835 wait_frame\r\nlabels \"my labels/game.vice\"\r\ncomment $081a the loop";
    std::string old_mac = plain;
    std::replace(old_mac.begin(), old_mac.end(), '\n', '\r');
    write_text(dir / "game.hints", plain);
    const Result first = tolvek("-a --write-hints game.hints");
    ASSERT_EQ(first.status, 0) << first.err;
    const std::string source = read_text(dir / "game.asm");
    const std::string written = read_text(dir / "game.hints");
    for (const char* expected : {"\tjsr wait_frame\n", "\tbne print_loop", "; the loop\n", "; hints from game.hints\n"}) {
        ASSERT_NE(source.find(expected), std::string::npos) << expected << "\n" << source;
    }
    ASSERT_TRUE(written.starts_with(plain)) << written;
    const std::pair<const char*, std::string> stored[] = {
        {"UTF-8 with a byte-order mark", "\xef\xbb\xbf" + plain},
        {"CR", old_mac},
        {"UTF-16 LE", utf16(notepad)},
        {"UTF-16 BE", utf16(notepad, true)},
    };
    for (const auto& [how, bytes] : stored) {
        SCOPED_TRACE(how);
        write_text(dir / "game.hints", bytes);
        const Result wrote = tolvek("-a --write-hints game.hints");
        ASSERT_EQ(wrote.status, 0) << wrote.err;
        EXPECT_EQ(read_text(dir / "game.asm"), source);
        EXPECT_EQ(read_text(dir / "game.hints"), written);
        ASSERT_EQ(tolvek("-a").status, 0);
        EXPECT_EQ(read_text(dir / "game.asm"), source);
    }
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
    EXPECT_EQ(hints.names.at(0x080d), "entry");
    const Result again = run_in(dir.path(), run + " --hints w.hints");
    EXPECT_EQ(again.status, 0) << again.err;
}

}  // namespace
