// Graphics in the source: hints that type sprites, charsets, bitmaps,
// screens and colour data; the rows, headings, labels and pixel comments
// the listing gives them; the hints written back; and the source rebuilt
// byte for byte in every dialect.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <optional>
#include <random>
#include <sstream>

#include "analysis/analyse.hpp"
#include "analysis/apply_hints.hpp"
#include "hints/hints.hpp"
#include "output/hints_writer.hpp"
#include "output/listing.hpp"
#include "output/writers.hpp"
#include "support.hpp"

using namespace tolvek;
using namespace tolvek_test;

namespace {

std::string no_files(const std::string&, std::string&) { return "No such file or directory"; }

// Where a row's comment starts in the source, after the tab.
constexpr std::size_t kCommentColumn = 24;

const ListingNames kNames{"g.tmp", "g.unpacked.prg", "g.unpacked.asm", "Tolvek.exe --unpack"};

// A graphics object as an analysis makes it.
Graphic object(Kind kind, std::uint32_t address, std::uint32_t size, bool multicolour, Source source,
               std::optional<std::uint16_t> set_at = std::nullopt) {
    Graphic graphic;
    graphic.kind = kind;
    graphic.address = address;
    graphic.size = size;
    graphic.multicolour = multicolour;
    if (kind == Kind::Sprite) graphic.pointer = static_cast<std::uint8_t>(address >> 6);
    graphic.set_at = set_at;
    graphic.source = source;
    return graphic;
}

// The rows of a listing by address.
const Row* row_at(const Listing& listing, std::uint32_t address) {
    const auto row = std::find_if(listing.rows.begin(), listing.rows.end(), [&](const Row& r) { return r.address == address; });
    return row == listing.rows.end() ? nullptr : &*row;
}

// ---- The hints ----

TEST(GraphicsHints, RangesAreReadWithTheirColoursAndRefusedWithTheirLine) {
    const Image image = make_image(0x1000, std::vector<std::uint8_t>(0x3000, 0));
    const struct {
        const char* text;
        const char* problem;  // "": none
    } cases[] = {
        {"sprite $1000-$107f\n", ""},
        {"sprite $1000-$107f multicolour\n", ""},
        {"charset $2000-$27ff MultiColour\n", ""},
        {"bitmap $2000-$3f3f\nscreen-memory $1c00-$1fe7\ncolour-data $1800-$1be7\n", ""},
        {"sprite $1000-$107f hires\n", "g.hints:1: sprite takes a range like $c000-$c0ff, and multicolour where it is"},
        {"screen-memory $1000-$13e7 multicolour\n", "g.hints:1: screen-memory takes a range like $c000-$c0ff"},
        {"colour-data $1000\n", "g.hints:1: colour-data takes a range"},
        {"bitmap $3000-$4f3f\n", "g.hints:1: $3000-$4f3f lies outside the image ($1000-$3fff)"},
        {"bytes $1000-$100f\nsprite $1000-$103f\n", "g.hints:2: $1000-$103f overlaps the range of line 1"},
        {"charset $1000-$17ff\ncode $1700-$1700\n", "g.hints:2: $1700-$1700 overlaps the range of line 1"},
    };
    for (const auto& c : cases) {
        Hints hints;
        std::string problem = parse_hints(c.text, "g.hints", hints, no_files);
        if (problem.empty()) problem = check_hints(hints, image);
        if (std::string(c.problem).empty()) {
            EXPECT_EQ(problem, "") << c.text;
        } else {
            EXPECT_NE(problem.find(c.problem), std::string::npos) << c.text << "\ngave: " << problem;
        }
    }
}

// A range is cut into objects of its kind's whole size from its first
// address, the last one what is left; every byte gets the kind.
TEST(GraphicsHints, RangesBecomeObjectsInAddressOrder) {
    const Image image = make_image(0x1000, std::vector<std::uint8_t>(0x5000, 0));
    Hints hints;
    ASSERT_EQ(parse_hints("charset $3000-$3fff multicolour\n"
                          "sprite $2000-$20a7\n"
                          "bitmap $4000-$5f3f\n"
                          "screen-memory $1000-$13e7\n"
                          "colour-data $1400-$1413\n"
                          "sprite $2101-$2140 multicolour\n",
                          "g.hints", hints, no_files),
              "");
    ASSERT_EQ(check_hints(hints, image), "");
    MemoryMap map(image);
    apply_hints(hints, map);
    const struct {
        Kind kind;
        std::uint32_t address, size;
        bool multicolour;
        std::uint8_t pointer;
    } expected[] = {
        {Kind::Screen, 0x1000, 1000, false, 0},      {Kind::ColourData, 0x1400, 20, false, 0},
        {Kind::Sprite, 0x2000, 64, false, 0x80},     {Kind::Sprite, 0x2040, 64, false, 0x81},
        {Kind::Sprite, 0x2080, 40, false, 0x82},     {Kind::Sprite, 0x2101, 64, true, 0x84},
        {Kind::Charset, 0x3000, 2048, true, 0},      {Kind::Charset, 0x3800, 2048, true, 0},
        {Kind::Bitmap, 0x4000, 8000, false, 0},
    };
    ASSERT_EQ(map.graphics.size(), std::size(expected));
    for (std::size_t i = 0; i < map.graphics.size(); ++i) {
        const Graphic& g = map.graphics[i];
        const auto& e = expected[i];
        SCOPED_TRACE(i);
        EXPECT_EQ(g.kind, e.kind);
        EXPECT_EQ(g.address, e.address);
        EXPECT_EQ(g.size, e.size);
        EXPECT_EQ(g.multicolour, e.multicolour);
        if (g.kind == Kind::Sprite) {
            EXPECT_EQ(g.pointer, e.pointer);
        }
        EXPECT_EQ(g.source, Source::Hint);
        EXPECT_FALSE(g.set_at.has_value());
        for (const std::uint32_t a : {g.address, g.address + g.size - 1}) {
            EXPECT_EQ(map.kind(a), e.kind) << a;
            EXPECT_EQ(map.source(a), Source::Hint) << a;
        }
    }
    EXPECT_EQ(map.kind(0x20a8), Kind::Unknown);
    EXPECT_EQ(map.kind(0x5f40), Kind::Unknown);
    EXPECT_EQ(map.graphic_at(0x20a8), nullptr);
    EXPECT_EQ(map.graphic_at(0x2045)->address, 0x2040u);
}

// What an analysis finds of an object the hints gave goes into the hints'
// object: where it was shown, and how that was found; the range and the
// colours stay the user's. Another object is not taken.
TEST(GraphicsHints, FoundOfAHintedObjectIsTakenOver) {
    const Image image = make_image(0x1000, std::vector<std::uint8_t>(0x1000, 0));
    Hints hints;
    ASSERT_EQ(parse_hints("sprite $1040-$10bf multicolour\n", "g.hints", hints, no_files), "");
    MemoryMap map(image);
    apply_hints(hints, map);
    Graphic found = object(Kind::Sprite, 0x1080, 64, false, Source::Run, 0x1003);
    found.colours = {2, 5, 7};
    EXPECT_TRUE(adopt_found_graphic(found, map));
    EXPECT_FALSE(adopt_found_graphic(object(Kind::Sprite, 0x1090, 64, false, Source::Run), map));
    EXPECT_FALSE(adopt_found_graphic(object(Kind::Charset, 0x1040, 64, false, Source::Run), map));
    ASSERT_EQ(map.graphics.size(), 2u);
    const Graphic& taken = map.graphics[1];
    EXPECT_EQ(taken.set_at, std::optional<std::uint16_t>(0x1003));
    EXPECT_EQ(taken.source, Source::Run);
    EXPECT_EQ(taken.colours, (std::array<std::uint8_t, 3>{2, 5, 7}));
    EXPECT_TRUE(taken.multicolour);
    EXPECT_EQ(taken.size, 64u);
    EXPECT_EQ(map.graphics[0].source, Source::Hint);
    const Listing listing = build_listing(map, kNames, &hints);
    EXPECT_EQ(row_at(listing, 0x1080)->heading, "sprite $42 at $1080, multicolour, pointer set at $1003");
    EXPECT_EQ(row_at(listing, 0x1040)->heading, "sprite $41 at $1040, multicolour, from the hints");
}

// ---- The listing, from objects built directly ----

// An image at $1000 with code that refers into the objects, and objects
// of every kind, from every source.
class GraphicsListing : public ::testing::Test {
protected:
    GraphicsListing() : image(make(0x1000, 0x5080)), map(image) {
        // $1000 lda $1043,x; $1003 sta $2001; $1006 lda $5040; $1009 rts
        const std::uint8_t code[] = {0xbd, 0x43, 0x10, 0x8d, 0x01, 0x20, 0xad, 0x40, 0x50, 0x60};
        std::copy(std::begin(code), std::end(code), image.bytes.begin());
        std::uint32_t a = 0x1000;
        for (const std::uint32_t length : {3u, 3u, 3u, 1u}) {
            map.set_instruction(a, length, Source::Trace);
            a += length;
        }
        put(0x1040, {0x3c, 0x81, 0xff});               // the hires sprite's first row
        put(0x1045, {0xa5});                           // its second row's last byte
        put(0x107f, {0x77});                           // its 64th byte
        put(0x1080, {0x1b, 0xe4, 0x00});               // the multicolour sprite's first row
        put(0x1800, {0x18, 0x3c, 0x66});               // a hires glyph
        put(0x2000, {0x1b, 0xe4});                     // a multicolour glyph
        add(object(Kind::Sprite, 0x1040, 64, false, Source::Run, 0x1003));
        add(object(Kind::Sprite, 0x1080, 64, true, Source::VicSetup));
        add(object(Kind::Charset, 0x1800, 32, false, Source::Hint));
        add(object(Kind::Charset, 0x2000, 16, true, Source::Run, 0x1006));
        add(object(Kind::Bitmap, 0x3000, 16, false, Source::Run));
        add(object(Kind::Screen, 0x3100, 80, false, Source::VicSetup));
        add(object(Kind::ColourData, 0x3200, 40, false, Source::Hint));
        // The same pointer in another bank.
        add(object(Kind::Sprite, 0x5040, 64, false, Source::Run));
        hints.file = "g.hints";
        hints.names = {{0x1045, "wing"}, {0x2000, "font"}, {0x1009, "sprite_42"}};
    }

    static Image make(std::uint32_t load, std::uint32_t end) {
        return make_image(load, std::vector<std::uint8_t>(end - load, 0));
    }
    void put(std::uint32_t address, std::vector<std::uint8_t> bytes) {
        std::copy(bytes.begin(), bytes.end(), image.bytes.begin() + (address - image.load));
    }
    void add(Graphic graphic) {
        for (std::uint32_t a = graphic.address; a < graphic.address + graphic.size; ++a) {
            map.set(a, graphic.kind, graphic.source);
        }
        map.graphics.push_back(std::move(graphic));
    }
    Listing listing() const { return build_listing(map, kNames, &hints); }

    Image image;
    MemoryMap map;
    Hints hints;
};

TEST_F(GraphicsListing, EachObjectStartsARowWithAHeadingAndALabel) {
    const Listing listing = this->listing();
    const struct {
        std::uint32_t address;
        const char* label;
        const char* heading;
    } cases[] = {
        {0x1040, "sprite_1040", "sprite $41 at $1040, hires, pointer set at $1003"},
        // sprite_42 is the user's name of another address.
        {0x1080, "sprite_42_2", "sprite $42 at $1080, multicolour, from the code's constants"},
        {0x1800, "charset_1800", "charset at $1800, 4 glyphs, hires, from the hints"},
        {0x2000, "font", "charset at $2000, 2 glyphs, multicolour, selected at $1006"},
        {0x3000, "bitmap_3000", "bitmap at $3000, hires, 16 of its 8000 bytes, found by the run"},
        {0x3100, "screen_3100", "screen at $3100, 80 of its 1000 bytes, from the code's constants"},
        {0x3200, "colours_3200", "colour data at $3200, 40 of its 1000 bytes, from the hints"},
        {0x5040, "sprite_5040", "sprite $41 at $5040, hires, found by the run"},
    };
    for (const auto& c : cases) {
        const Row* row = row_at(listing, c.address);
        ASSERT_NE(row, nullptr) << c.label;
        EXPECT_EQ(row->label, c.label);
        EXPECT_EQ(row->heading, c.heading);
        EXPECT_EQ(row->kind, RowKind::Bytes);
    }
    // Code that refers inside an object names it from its label.
    const std::string text = write_asm(listing, image, kAcme, {"g.asm", "g.prg", ""});
    for (const char* expected : {"\tlda sprite_1040+3,x\n", "\tsta font+1\n", "\tlda sprite_5040\n",
                                 "\n; sprite $41 at $1040, hires, pointer set at $1003\nsprite_1040 ",
                                 "; read by L1000"}) {
        EXPECT_NE(text.find(expected), std::string::npos) << expected << "\n" << text;
    }
}

// Rows on each object's grid, a label inside a row cutting it there.
TEST_F(GraphicsListing, RowsFollowTheObjectsGrid) {
    const Listing listing = this->listing();
    const auto sizes = [&](std::uint32_t from, std::uint32_t to) {
        std::vector<std::uint32_t> out;
        for (const Row& row : listing.rows) {
            if (row.address >= from && row.address < to) out.push_back(row.size);
        }
        return out;
    };
    // 21 rows of 3, the 64th byte; the user's "wing" at $1045 cuts the second row.
    std::vector<std::uint32_t> sprite(21, 3);
    sprite.push_back(1);
    EXPECT_EQ(sizes(0x5040, 0x5080), sprite);
    sprite[1] = 2;
    sprite.insert(sprite.begin() + 2, 1);
    EXPECT_EQ(sizes(0x1040, 0x1080), sprite);
    EXPECT_EQ(row_at(listing, 0x1045)->label, "wing");
    EXPECT_EQ(sizes(0x1800, 0x1820), std::vector<std::uint32_t>(32, 1));
    EXPECT_EQ(sizes(0x3000, 0x3010), (std::vector<std::uint32_t>{8, 8}));
    EXPECT_EQ(sizes(0x3100, 0x3150), (std::vector<std::uint32_t>{40, 40}));
    EXPECT_EQ(sizes(0x3200, 0x3228), (std::vector<std::uint32_t>{40}));
    // Plain data does not run into an object, nor out of one: the rows of
    // 8 from $100a end with $103a's at the sprite.
    EXPECT_EQ(sizes(0x1038, 0x1040), (std::vector<std::uint32_t>{6}));
    EXPECT_EQ(sizes(0x3010, 0x3018), (std::vector<std::uint32_t>{8}));
}

TEST_F(GraphicsListing, PixelsInTheComments) {
    const Listing listing = this->listing();
    const struct {
        std::uint32_t address;
        const char* comment;
    } cases[] = {
        // $3c $81 $ff hires: one symbol a pixel.
        {0x1040, "..####..#......#########"},
        // After the label inside the row: under its own pixels.
        {0x1043, "................"},
        {0x1045, "                #.#..#.#"},
        {0x107f, "64th byte, not shown"},
        // $1b = %00 01 10 11, $e4 = %11 10 01 00: each pixel twice.
        {0x1080, "..--++####++--.........."},
        {0x1800, "...##... glyph $00"},
        {0x1801, "..####.."},
        {0x1802, ".##..##."},
        {0x1808, "........ glyph $01"},
        {0x2000, "..--++## glyph $00"},
        {0x2001, "##++--.."},
        {0x3000, "line 0"},
        {0x3008, ""},
        {0x3100, "line 0"},
        {0x3128, "line 1"},
    };
    for (const auto& c : cases) {
        const Row* row = row_at(listing, c.address);
        ASSERT_NE(row, nullptr) << std::hex << c.address;
        EXPECT_EQ(row->comment, c.comment) << std::hex << c.address;
    }
    // As the source and the listing write them, in every dialect.
    for (const Dialect* dialect : kDialects) {
        SCOPED_TRACE(dialect->name);
        const std::string source = write_asm(listing, image, *dialect, {"g.asm", "g.prg", "g.cfg"});
        const std::string lst = write_lst(listing, image, *dialect, {"g.asm", "g.prg", "g.cfg"});
        const std::string bytes = std::string(dialect->byte_directive) + "$3c,$81,$ff";
        EXPECT_NE(source.find("\t" + bytes + std::string(kCommentColumn - bytes.size(), ' ') + "; ..####..#......#########\n"),
                  std::string::npos)
            << source;
        EXPECT_NE(lst.find("1040  3c 81 ff"), std::string::npos) << lst;
        EXPECT_NE(lst.find("; ..####..#......#########\n"), std::string::npos) << lst;
        EXPECT_NE(lst.find("; ..--++####++--..........\n"), std::string::npos) << lst;
        EXPECT_NE(lst.find("; charset at $1800, 4 glyphs, hires, from the hints\n"), std::string::npos) << lst;
    }
}

// The source of the directly built objects rebuilds in every dialect.
TEST_F(GraphicsListing, SourceRebuildsInEveryDialect) {
    const Listing listing = this->listing();
    for (const std::string& name : kDialectNames) {
        if (!have_assembler(name)) continue;
        SCOPED_TRACE(name);
        const Dialect& dialect = *find_dialect(name);
        ScratchDir dir;
        const std::string source = write_asm(listing, image, dialect, {"g.asm", "g-rebuilt.prg", "g.cfg"});
        write_text(dir / "g.asm", source);
        write_text(dir / "g.cfg", write_config(dialect));
        const std::string marker = "; rebuild with ";
        const std::size_t at = source.find(marker);
        ASSERT_NE(at, std::string::npos);
        const std::size_t from = source.find(": ", at) + 2;
        const Result build = run_in(dir.path(), source.substr(from, source.find('\n', from) - from));
        ASSERT_EQ(build.status, 0) << build.err << build.out;
        const std::vector<std::uint8_t> rebuilt = read_bytes(dir / "g-rebuilt.prg");
        ASSERT_EQ(rebuilt.size(), image.bytes.size() + 2);
        EXPECT_TRUE(std::equal(image.bytes.begin(), image.bytes.end(), rebuilt.begin() + 2));
    }
}

// ---- The hints written back ----

// Objects the analysis found (here put into the map after it) are written
// as ranges that give the same objects again: adjacent whole objects of a
// kind and colours in one range, anything else a range of its own.
TEST(GraphicsHints, WrittenRangesGiveTheSameObjects) {
    std::mt19937 random(64);
    Image image = make_image(0x1000, std::vector<std::uint8_t>(0x4000));
    for (auto& byte : image.bytes) byte = static_cast<std::uint8_t>(random());
    image.bytes[0] = 0x60;  // rts at the entry
    MemoryMap map = analyse(image, {.entry = 0x1000, .guesses = false});
    const struct {
        Kind kind;
        std::uint32_t address, size;
        bool multicolour;
    } objects[] = {
        {Kind::Sprite, 0x1100, 64, false}, {Kind::Sprite, 0x1140, 64, false}, {Kind::Sprite, 0x1180, 20, false},
        {Kind::Sprite, 0x1194, 64, true},  {Kind::Sprite, 0x11d4, 64, false}, {Kind::Charset, 0x2000, 24, false},
        {Kind::Charset, 0x2018, 2048, false}, {Kind::Charset, 0x2818, 8, true}, {Kind::Screen, 0x3000, 1000, false},
        {Kind::ColourData, 0x33e8, 1000, false}, {Kind::Bitmap, 0x37d0, 2000, true},
    };
    for (const auto& o : objects) {
        for (std::uint32_t a = o.address; a < o.address + o.size; ++a) map.set(a, o.kind, Source::Run);
        map.graphics.push_back(object(o.kind, o.address, o.size, o.multicolour, Source::Run));
    }
    const Listing listing = build_listing(map, kNames);
    const std::string written = write_hints(map, image_labels(listing, image), "g.tmp");
    for (const char* line : {"\nsprite $1100-$1193\nsprite $1194-$11d3 multicolour\nsprite $11d4-$1213\n",
                             "\ncharset $2000-$2017\ncharset $2018-$2817\ncharset $2818-$281f multicolour\n",
                             "\nscreen-memory $3000-$33e7\ncolour-data $33e8-$37cf\nbitmap $37d0-$3f9f multicolour\n"}) {
        EXPECT_NE(written.find(line), std::string::npos) << line << "\n" << written;
    }
    Hints hints;
    ASSERT_EQ(parse_hints(written, "g.hints", hints, no_files), "") << written;
    ASSERT_EQ(check_hints(hints, image), "") << written;
    const MemoryMap again = analyse(image, {.entry = 0x1000, .guesses = false, .hints = &hints});
    ASSERT_EQ(again.graphics.size(), map.graphics.size());
    for (std::size_t i = 0; i < map.graphics.size(); ++i) {
        const Graphic& x = map.graphics[i];
        const Graphic& y = again.graphics[i];
        EXPECT_EQ(std::tie(x.kind, x.address, x.size, x.multicolour, x.pointer),
                  std::tie(y.kind, y.address, y.size, y.multicolour, y.pointer))
            << i;
    }
    // The same source, but for what says where the objects came from.
    std::string before = write_asm(listing, image, kAcme, {"g.asm", "g.prg", ""});
    const std::string run = "found by the run";
    for (std::size_t at; (at = before.find(run)) != std::string::npos;) before.replace(at, run.size(), "from the hints");
    std::string after = write_asm(build_listing(again, kNames, &hints), image, kAcme, {"g.asm", "g.prg", ""});
    after.erase(after.find("; hints from g.hints\n"), 21);
    EXPECT_EQ(after, before);
}

// ---- Programs with graphics given by hints, rebuilt in every dialect ----

// "!byte" lines of `count` bytes from `random`, some of them the patterns
// that show every pixel symbol.
std::string byte_lines(std::mt19937& random, std::uint32_t count) {
    std::string out;
    for (std::uint32_t i = 0; i < count; ++i) {
        out += i % 16 == 0 ? "\n\t!byte " : ",";
        const std::uint32_t pick = random() % 4;
        const std::uint32_t value = pick == 0 ? 0 : pick == 1 ? 0x1b : random() % 256;
        out += std::to_string(value);
    }
    return out + "\n";
}

const std::string kBasicStart = R"(
	* = $0801
	!word line2, 10
	!byte $9e
	!text "2061"
	!byte 0
line2	!word 0
)";

struct GraphicsProgram {
    std::string name;
    std::string source;
    std::string hints;
    std::vector<std::string> expected;  // in the source of every dialect
};

std::vector<GraphicsProgram> graphics_programs() {
    std::mt19937 random(2040);
    std::vector<GraphicsProgram> programs;
    programs.push_back({"sprites",
                        kBasicStart + R"(
	ldx #2
loop	lda $0903,x
	sta $d000,x
	dex
	bpl loop
	lda #$24
	sta $07f8
	lda #$28
	sta $07f9
	rts
	* = $0900)" + byte_lines(random, 64 * 2 + 40) +
                            "\t* = $0a00" + byte_lines(random, 64) + "\t!byte 1, 2, 3\n",
                        "sprite $0900-$09a7\nsprite $0a00-$0a3f multicolour\nname $0945 wing\n",
                        {"\n; sprite $24 at $0900, hires, from the hints\nsprite_24", "\tlda sprite_24+3,x",
                         "\n; sprite $25 at $0940, hires, from the hints\nsprite_25", "\nwing",
                         "\n; sprite $26 at $0980, hires, 40 of its 64 bytes, from the hints\nsprite_26",
                         "\n; sprite $28 at $0a00, multicolour, from the hints\nsprite_28", "; 64th byte, not shown\n",
                         "........................\n"}});
    programs.push_back({"charsets",
                        kBasicStart + R"(
	lda #$18
	sta $d018
	ldx #7
loop	lda $2008,x
	sta $2808,x
	dex
	bpl loop
	rts
	* = $2000)" + byte_lines(random, 2048 + 512),
                        "charset $2000-$27ff\ncharset $2800-$29ff multicolour\n",
                        // Shown by the program: the hints' object tells where.
                        {"\n; charset at $2000, 256 glyphs, hires, selected at $080f\ncharset_2000",
                         "\n; charset at $2800, 64 glyphs, multicolour, from the hints\ncharset_2800",
                         "\tlda charset_2000+8,x", "\tsta charset_2800+8,x", "; ..--++## glyph $", " glyph $ff\n"}});
    programs.push_back({"bitmap",
                        kBasicStart + R"(
	lda #$3b
	sta $d011
	lda #$38
	sta $d018
	ldx #0
loop	lda $4000,x
	sta $d800,x
	lda $0c00,x
	sta $0400,x
	inx
	bne loop
	rts
	* = $0c00)" + byte_lines(random, 1000) +
                            "\t* = $2000" + byte_lines(random, 8000) + "\t* = $4000" + byte_lines(random, 1000),
                        "bitmap $2000-$3f3f\nscreen-memory $0c00-$0fe7\ncolour-data $4000-$43e7\n",
                        {"\n; bitmap at $2000, hires, selected at $0814\nbitmap_2000",
                         "\n; screen at $0c00, selected at $0814\nscreen_0c00",
                         "\n; colour data at $4000, from the hints\ncolours_4000", "\tlda colours_4000,x",
                         "\tlda screen_0c00,x", "; line 24\n"}});
    return programs;
}

class GraphicsRoundTrip : public ::testing::TestWithParam<std::string> {
protected:
    void SetUp() override {
        if (!have_acme()) GTEST_SKIP() << "acme is not installed";
        if (!have_assembler(GetParam())) GTEST_SKIP() << "the assembler for " << GetParam() << " is not installed";
    }
};

// Beside the image, the hints type its graphics: the source has their rows
// and rebuilds the identical program, and (acme) the hints written give it
// again.
TEST_P(GraphicsRoundTrip, ProgramsWithGraphicsFromHints) {
    for (const GraphicsProgram& program : graphics_programs()) {
        SCOPED_TRACE(program.name);
        ScratchDir dir;
        const std::vector<std::uint8_t> prg = assemble(dir, program.source);
        ASSERT_GT(prg.size(), 2u);
        write_text(dir / "image.hints", program.hints);
        const std::string source =
            round_trip(dir, static_cast<std::uint32_t>(prg[0] | prg[1] << 8), 2061, {prg.begin() + 2, prg.end()}, GetParam());
        for (const std::string& expected : program.expected) {
            EXPECT_NE(source.find(expected), std::string::npos) << expected << "\n" << source;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Dialects, GraphicsRoundTrip, ::testing::ValuesIn(kDialectNames),
                         [](const ::testing::TestParamInfo<std::string>& param) { return test_name(param.param); });

}  // namespace
