// The pictures of the graphics: each object drawn pixel for pixel in the
// colours the VIC would show (or the stand-ins where they are not known),
// read back from the PNG file through zlib; and --pictures end to end, its
// file names and its all-or-none writing.
#include <gtest/gtest.h>

#include <zlib.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <map>
#include <optional>

#include "c64/colours.hpp"
#include "output/pictures.hpp"
#include "output/png.hpp"
#include "support.hpp"

using namespace tolvek_test;
using tolvek::Graphic;
using tolvek::Kind;
using tolvek::Pixels;
namespace fs = std::filesystem;

namespace {

std::uint32_t u32_at(const std::string& bytes, std::size_t at) {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < 4; ++i) value = value << 8 | static_cast<std::uint8_t>(bytes.at(at + i));
    return value;
}

// A PNG file read back as a decoder would: the signature, each chunk's CRC,
// the header of an 8-bit RGB picture, the IDAT chunks inflated to exactly
// the rows' size, each row's filter undone. Fails the test otherwise.
void decode_png(const std::string& png, Pixels& picture) {
    ASSERT_GE(png.size(), 8u);
    ASSERT_EQ(png.substr(0, 8), std::string("\x89PNG\r\n\x1a\n", 8));
    std::vector<std::string> types;
    std::string header, packed;
    std::size_t at = 8;
    while (at < png.size()) {
        ASSERT_LE(at + 12, png.size()) << "a chunk cut off at " << at;
        const std::uint32_t length = u32_at(png, at);
        ASSERT_LE(at + 12 + length, png.size()) << "a chunk longer than the file at " << at;
        const std::string type = png.substr(at + 4, 4);
        const std::string data = png.substr(at + 8, length);
        const auto* typed = reinterpret_cast<const Bytef*>(png.data() + at + 4);
        EXPECT_EQ(u32_at(png, at + 8 + length), crc32(crc32(0, nullptr, 0), typed, length + 4)) << "CRC of " << type;
        types.push_back(type);
        if (type == "IHDR") header = data;
        if (type == "IDAT") packed += data;
        at += 12 + length;
    }
    ASSERT_GE(types.size(), 3u);
    EXPECT_EQ(types.front(), "IHDR");
    EXPECT_EQ(types.back(), "IEND");
    ASSERT_EQ(header.size(), 13u);
    const std::uint32_t width = u32_at(header, 0);
    const std::uint32_t height = u32_at(header, 4);
    ASSERT_GT(width, 0u);
    ASSERT_GT(height, 0u);
    EXPECT_EQ(header.substr(8), std::string("\x08\x02\x00\x00\x00", 5)) << "8-bit RGB, deflate, not interlaced";
    const std::size_t stride = 3 * std::size_t{width};
    const std::size_t expected = std::size_t{height} * (1 + stride);
    std::vector<Bytef> raw(expected + 1);  // one byte more: too much data shows
    uLongf size = static_cast<uLongf>(raw.size());
    ASSERT_EQ(uncompress(raw.data(), &size, reinterpret_cast<const Bytef*>(packed.data()), static_cast<uLong>(packed.size())),
              Z_OK);
    ASSERT_EQ(size, expected);
    picture = Pixels(width, height);
    std::vector<int> previous(stride, 0), row(stride);
    for (std::uint32_t y = 0; y < height; ++y) {
        const Bytef* line = raw.data() + y * (1 + stride);
        const int filter = line[0];
        ASSERT_LE(filter, 4) << "row " << y;
        for (std::size_t i = 0; i < stride; ++i) {
            const int a = i >= 3 ? row[i - 3] : 0, b = previous[i], c = i >= 3 ? previous[i - 3] : 0;
            const int p = a + b - c, pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
            const int predicted = filter == 0 ? 0
                                  : filter == 1 ? a
                                  : filter == 2 ? b
                                  : filter == 3 ? (a + b) / 2
                                                : (pa <= pb && pa <= pc ? a : pb <= pc ? b : c);
            row[i] = (line[1 + i] + predicted) & 0xff;
        }
        for (std::uint32_t x = 0; x < width; ++x) {
            picture.at(x, y) = static_cast<std::uint32_t>(row[3 * x] << 16 | row[3 * x + 1] << 8 | row[3 * x + 2]);
        }
        previous = row;
    }
}

constexpr std::uint32_t rgb(std::uint8_t colour) { return tolvek::c64::kColourRgb[colour]; }
// The C64's colours by their numbers, for the palettes below.
constexpr std::uint8_t kBlack = 0, kWhite = 1, kRed = 2, kCyan = 3, kGreen = 5, kBlue = 6, kYellow = 7,
                       kDarkGrey = 11, kGrey = 12, kLightGreen = 13, kLightGrey = 15;

// What a picture should show: `art` from (x, y) on, a character a pixel
// (`palette` gives its RGB), and `rest` everywhere else.
struct Expected {
    std::uint32_t x = 0, y = 0;
    std::vector<std::string> art;
    std::map<char, std::uint32_t> palette;
    char rest = '.';
};

void expect_shows(const Pixels& picture, const Expected& expected, std::uint32_t scale) {
    std::size_t wrong = 0;
    for (std::uint32_t y = 0; y < picture.height; ++y) {
        for (std::uint32_t x = 0; x < picture.width; ++x) {
            const std::uint32_t ax = x / scale - expected.x, ay = y / scale - expected.y;
            const bool in_art = x / scale >= expected.x && y / scale >= expected.y && ay < expected.art.size() &&
                                ax < expected.art[ay].size();
            const char symbol = in_art ? expected.art[ay][ax] : expected.rest;
            const std::uint32_t want = expected.palette.at(symbol);
            if (picture.at(x, y) != want && ++wrong <= 5) {
                ADD_FAILURE() << "pixel (" << x << ", " << y << ") is " << std::hex << picture.at(x, y) << ", not "
                              << want << " ('" << symbol << "')";
            }
        }
    }
    EXPECT_EQ(wrong, 0u) << "pixels wrong";
}

// An image at $2000 holding `bytes` at `graphic`'s address, and a map with
// that one graphic.
struct OneGraphic {
    tolvek::Image image;
    std::optional<tolvek::MemoryMap> map;
    OneGraphic(const Graphic& graphic, const std::vector<std::uint8_t>& bytes) {
        image = make_image(0x2000, std::vector<std::uint8_t>(0x2000));
        std::copy(bytes.begin(), bytes.end(), image.bytes.begin() + (graphic.address - image.load));
        map.emplace(image);
        map->graphics.push_back(graphic);
    }
};

struct DrawCase {
    const char* what;
    Graphic graphic;
    std::vector<std::uint8_t> bytes;  // from the object's first byte
    const char* name;                 // of the picture
    std::uint32_t width, height, scale;
    Expected expected;
};

Graphic object(Kind kind, std::uint32_t address, std::uint32_t size, bool multicolour = false,
               std::array<std::uint8_t, 3> colours = {tolvek::kNoColour, tolvek::kNoColour, tolvek::kNoColour},
               std::uint8_t background = tolvek::kNoColour) {
    Graphic graphic;
    graphic.kind = kind;
    graphic.address = address;
    graphic.size = size;
    graphic.multicolour = multicolour;
    graphic.colours = colours;
    graphic.background = background;
    return graphic;
}

Graphic sprite(bool multicolour, std::array<std::uint8_t, 3> colours, std::uint8_t background) {
    return object(Kind::Sprite, 0x2040, 64, multicolour, colours, background);
}

Graphic charset(bool multicolour, std::array<std::uint8_t, 3> colours, std::uint8_t background) {
    return object(Kind::Charset, 0x2800, 16, multicolour, colours, background);
}

Graphic bitmap(bool multicolour, std::vector<std::uint8_t> screen, std::vector<std::uint8_t> colour_ram,
               std::uint8_t background) {
    Graphic graphic = object(Kind::Bitmap, 0x2000, 8000, multicolour, {tolvek::kNoColour, tolvek::kNoColour, tolvek::kNoColour},
                             background);
    graphic.screen = std::move(screen);
    graphic.colour_ram = std::move(colour_ram);
    return graphic;
}

// A screen (or colour RAM) whose first cells are `first`, the rest 0.
std::vector<std::uint8_t> cells(std::vector<std::uint8_t> first) {
    first.resize(1000, 0);
    return first;
}

constexpr std::uint8_t kNo = tolvek::kNoColour;

// Zeros, then `byte` at `offset`.
std::vector<std::uint8_t> bytes_at(std::size_t offset, std::uint8_t byte) {
    std::vector<std::uint8_t> bytes(offset + 1, 0);
    bytes.back() = byte;
    return bytes;
}

// A sheet of two glyphs whose first row is `first`, all else clear.
std::vector<std::string> two_glyphs(const std::string& first) {
    std::vector<std::string> rows(8, "........|........");
    rows[0] = first + "|........";
    return rows;
}

const std::vector<DrawCase> kDrawCases = {
    {"hires sprite in its colours", sprite(false, {kRed, kNo, kNo}, kBlack),
     {0x81, 0x00, 0x0f, 0x55, 0xaa, 0xf0},  // two rows, then nothing
     "sprite_2040", 24, 21, 4,
     {0, 0, {"#......#............####", ".#.#.#.##.#.#.#.####...."}, {{'.', rgb(kBlack)}, {'#', rgb(kRed)}}}},
    {"multicolour sprite: 01 $D025, 10 its own, 11 $D026", sprite(true, {kRed, kGreen, kYellow}, kBlack),
     {0x1b, 0xe4, 0x00, 0x00, 0x00, 0x01},
     "sprite_2040", 24, 21, 4,
     {0, 0, {"..GGRRYYYYRRGG..........", "......................GG"},
      {{'.', rgb(kBlack)}, {'G', rgb(kGreen)}, {'R', rgb(kRed)}, {'Y', rgb(kYellow)}}}},
    {"sprite without colours: white on the KERNAL's blue", sprite(false, {kNo, kNo, kNo}, kNo),
     {0xc0}, "sprite_2040", 24, 21, 4,
     {0, 0, {"##"}, {{'.', rgb(kBlue)}, {'#', rgb(kWhite)}}}},
    {"multicolour sprite without colours: white and greys", sprite(true, {kNo, kNo, kNo}, kNo),
     {0x1b}, "sprite_2040", 24, 21, 4,
     {0, 0, {"..ggWWll"}, {{'.', rgb(kBlue)}, {'g', rgb(kGrey)}, {'W', rgb(kWhite)}, {'l', rgb(kLightGrey)}}}},
    {"hires glyphs, a pixel apart", charset(false, {kYellow, kNo, kNo}, kBlack),
     {0x18, 0x3c, 0, 0, 0, 0, 0, 0xff, 0x81, 0, 0, 0, 0, 0, 0, 0x01},
     "charset_2800", 17, 8, 4,
     {0, 0,
      {"...##...|#......#", "..####..|........", "........|........", "........|........", "........|........",
       "........|........", "........|........", "########|.......#"},
      {{'.', rgb(kBlack)}, {'#', rgb(kYellow)}, {'|', tolvek::kSheetGap}}}},
    {"multicolour glyph: 01 $D022, 10 $D023, 11 the colour's low three bits",
     charset(true, {kLightGreen, kRed, kCyan}, kBlue), {0x1b}, "charset_2800", 17, 8, 4,
     {0, 0, two_glyphs("..RRCCGG"),
      {{'.', rgb(kBlue)}, {'R', rgb(kRed)}, {'C', rgb(kCyan)}, {'G', rgb(kGreen)}, {'|', tolvek::kSheetGap}}}},
    {"a character colour below 8 shows glyphs in hires in multicolour mode",
     charset(true, {kGreen, kRed, kCyan}, kBlue), {0x1b}, "charset_2800", 17, 8, 4,
     {0, 0, two_glyphs("...##.##"), {{'.', rgb(kBlue)}, {'#', rgb(kGreen)}, {'|', tolvek::kSheetGap}}}},
    {"hires bitmap: set pixels the screen's high nibble, clear ones the low",
     bitmap(false, cells({0x21, 0x05}), {}, kNo),
     {0xf0, 0, 0, 0, 0, 0, 0, 0x80, 0x0f}, "bitmap_2000", 320, 200, 2,
     {0, 0,
      {"RRRRWWWWGGGGKKKK", "WWWWWWWWGGGGGGGG", "WWWWWWWWGGGGGGGG", "WWWWWWWWGGGGGGGG", "WWWWWWWWGGGGGGGG",
       "WWWWWWWWGGGGGGGG", "WWWWWWWWGGGGGGGG", "RWWWWWWWGGGGGGGG"},
      {{'K', rgb(kBlack)}, {'W', rgb(kWhite)}, {'R', rgb(kRed)}, {'G', rgb(kGreen)}}, 'K'}},
    {"multicolour bitmap: 00 $D021, 01 and 10 the screen's nibbles, 11 colour RAM",
     bitmap(true, cells({0x27}), cells({0xf5}), kBlue), {0x1b}, "bitmap_2000", 320, 200, 2,
     {0, 0, {"..RRYYGG"}, {{'.', rgb(kBlue)}, {'R', rgb(kRed)}, {'Y', rgb(kYellow)}, {'G', rgb(kGreen)}}, '.'}},
    {"a bitmap cell of the second row", bitmap(false, cells(std::vector<std::uint8_t>(41, 0x10)), {}, kNo),
     bytes_at(40 * 8, 0x80), "bitmap_2000", 320, 200, 2,
     {0, 8, {"W"}, {{'W', rgb(kWhite)}, {'K', rgb(kBlack)}}, 'K'}},
    {"hires bitmap without its screen: white on black", bitmap(false, {}, {}, kNo), {0xf0, 0x01},
     "bitmap_2000", 320, 200, 2,
     {0, 0, {"WWWWKKKK", "KKKKKKKW"}, {{'K', rgb(kBlack)}, {'W', rgb(kWhite)}}, 'K'}},
    {"multicolour bitmap without its screen: greys on its background", bitmap(true, {}, {}, kBlack), {0x1b},
     "bitmap_2000", 320, 200, 2,
     {0, 0, {"..ddggll"}, {{'.', rgb(kBlack)}, {'d', rgb(kDarkGrey)}, {'g', rgb(kGrey)}, {'l', rgb(kLightGrey)}}}},
};

TEST(Pictures, EachObjectIsDrawnPixelForPixelAndReadsBackFromItsPng) {
    for (const DrawCase& test : kDrawCases) {
        SCOPED_TRACE(test.what);
        const OneGraphic one(test.graphic, test.bytes);
        const std::vector<tolvek::Picture> pictures = tolvek::make_pictures(*one.map);
        const std::size_t expected_count = test.graphic.kind == Kind::Sprite ? 2 : 1;  // a sprite and the sheet
        ASSERT_EQ(pictures.size(), expected_count);
        const tolvek::Picture& picture = pictures.front();
        EXPECT_EQ(picture.name, test.name);
        EXPECT_EQ(picture.address, test.graphic.address);
        EXPECT_EQ(picture.kind, test.graphic.kind);
        EXPECT_EQ(picture.scale, test.scale);
        ASSERT_EQ(picture.pixels.width, test.width);
        ASSERT_EQ(picture.pixels.height, test.height);
        {
            SCOPED_TRACE("as drawn");
            expect_shows(picture.pixels, test.expected, 1);
        }
        SCOPED_TRACE("read back from the PNG file");
        Pixels decoded;
        ASSERT_NO_FATAL_FAILURE(decode_png(tolvek::picture_png(picture), decoded));
        ASSERT_EQ(decoded.width, test.width * test.scale);
        ASSERT_EQ(decoded.height, test.height * test.scale);
        expect_shows(decoded, test.expected, test.scale);
    }
}

// All pictures of a map in address order, screens and colour data without
// one, the sheet of all sprites last: 8 a row, a pixel apart.
TEST(Pictures, AMapGivesOnePicturePerObjectAndASheetOfItsSprites) {
    tolvek::Image image = make_image(0x0400, std::vector<std::uint8_t>(0x6000 - 0x0400));
    tolvek::MemoryMap map(image);
    map.graphics.push_back(object(Kind::Screen, 0x0400, 1000));
    for (std::uint32_t i = 0; i < 9; ++i) {
        const std::uint32_t address = 0x2000 + 64 * i;
        image.bytes[address - image.load] = static_cast<std::uint8_t>(0xff << i);  // sprite i: 8 - i pixels set from (0, 0)
        map.graphics.push_back(object(Kind::Sprite, address, 64, false, {kWhite, kNo, kNo}, kBlack));
    }
    map.graphics.push_back(object(Kind::Charset, 0x3000, 2048));
    map.graphics.push_back(object(Kind::ColourData, 0x3800, 1000));
    map.graphics.push_back(object(Kind::Bitmap, 0x4000, 8000));
    const std::vector<tolvek::Picture> pictures = tolvek::make_pictures(map);
    std::vector<std::string> names;
    for (const tolvek::Picture& picture : pictures) names.push_back(picture.name);
    EXPECT_EQ(names, (std::vector<std::string>{"sprite_2000", "sprite_2040", "sprite_2080", "sprite_20c0", "sprite_2100",
                                               "sprite_2140", "sprite_2180", "sprite_21c0", "sprite_2200", "charset_3000",
                                               "bitmap_4000", "sprites"}));
    ASSERT_EQ(pictures.size(), 12u);
    const tolvek::Picture& sheet = pictures.back();
    EXPECT_EQ(sheet.address, 0x2000u);
    EXPECT_EQ(sheet.kind, Kind::Sprite);
    ASSERT_EQ(sheet.pixels.width, 8u * 25 - 1);
    ASSERT_EQ(sheet.pixels.height, 2u * 22 - 1);
    // A charset of 256 glyphs: 16 rows of 16.
    EXPECT_EQ(pictures[9].pixels.width, 16u * 9 - 1);
    EXPECT_EQ(pictures[9].pixels.height, 16u * 9 - 1);
    // Each sprite's first row where the sheet puts it, the gaps grey, and
    // the grid's empty places too.
    struct Place {
        std::uint32_t sprite, x, y;
        bool gap_right;  // not the last of a row
    };
    for (const Place& place :
         {Place{0, 0, 0, true}, Place{1, 25, 0, true}, Place{7, 175, 0, false}, Place{8, 0, 22, true}}) {
        SCOPED_TRACE(place.sprite);
        for (std::uint32_t x = 0; x < 24; ++x) {
            EXPECT_EQ(sheet.pixels.at(place.x + x, place.y), x < 8 - place.sprite ? rgb(kWhite) : rgb(kBlack)) << x;
            EXPECT_EQ(sheet.pixels.at(place.x + x, place.y + 20), rgb(kBlack)) << x;
        }
        if (place.gap_right) {
            EXPECT_EQ(sheet.pixels.at(place.x + 24, place.y), tolvek::kSheetGap);
        }
        if (place.y == 0) {
            EXPECT_EQ(sheet.pixels.at(place.x, place.y + 21), tolvek::kSheetGap);
        }
    }
    EXPECT_EQ(sheet.pixels.at(25, 22), tolvek::kSheetGap);  // no tenth sprite
    EXPECT_EQ(sheet.pixels.at(sheet.pixels.width - 1, sheet.pixels.height - 1), tolvek::kSheetGap);
}

TEST(Pictures, AMapWithoutSpritesCharsetsOrBitmapsHasNone) {
    const tolvek::Image image = make_image(0x0400, std::vector<std::uint8_t>(2000));
    tolvek::MemoryMap map(image);
    EXPECT_TRUE(tolvek::make_pictures(map).empty());
    map.graphics.push_back(object(Kind::Screen, 0x0400, 1000));
    map.graphics.push_back(object(Kind::ColourData, 0x0800, 1000));
    EXPECT_TRUE(tolvek::make_pictures(map).empty());
}

// encode_png's file as an independent reader takes it: Python's zlib and
// a chunk walk of its own.
TEST(Png, EncodedFileIsAValidPngToAnotherReader) {
    const ScratchDir dir;
    Pixels picture(3, 2);
    const std::vector<std::uint32_t> colours = {0xff0000, 0x00ff00, 0x0000ff, 0x123456, 0xfedcba, 0x000001};
    picture.rgb = colours;
    write_text(dir / "p.png", tolvek::encode_png(picture));
    const char* script = R"PY(
import struct, sys, zlib
data = open("p.png", "rb").read()
assert data[:8] == b"\x89PNG\r\n\x1a\n", "signature"
at, chunks, idat = 8, [], b""
while at < len(data):
    length, kind = struct.unpack(">I4s", data[at:at + 8])
    body = data[at + 8:at + 8 + length]
    crc, = struct.unpack(">I", data[at + 8 + length:at + 12 + length])
    assert zlib.crc32(kind + body) == crc, kind
    chunks.append(kind)
    if kind == b"IHDR": header = struct.unpack(">IIBBBBB", body)
    if kind == b"IDAT": idat += body
    at += 12 + length
assert chunks[0] == b"IHDR" and chunks[-1] == b"IEND", chunks
w, h = header[0], header[1]
raw = zlib.decompress(idat)
assert len(raw) == h * (1 + 3 * w), len(raw)
rows = [raw[y * (1 + 3 * w):(y + 1) * (1 + 3 * w)] for y in range(h)]
assert all(row[0] == 0 for row in rows)
print(header, " ".join("%06x" % int.from_bytes(row[1 + 3 * x:4 + 3 * x], "big") for row in rows for x in range(w)))
)PY";
    write_text(dir / "check.py", script);
    const Result result = run_in(dir.path(), "python3 check.py");
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out, "(3, 2, 8, 2, 0, 0, 0) ff0000 00ff00 0000ff 123456 fedcba 000001\n");
    // And the same read back here.
    Pixels decoded;
    ASSERT_NO_FATAL_FAILURE(decode_png(tolvek::encode_png(picture), decoded));
    EXPECT_EQ(decoded.rgb, colours);
    EXPECT_THROW(tolvek::encode_png(Pixels()), std::invalid_argument);
}

// --pictures end to end. The graphics come from a hints file's `sprite`
// range (64 bytes a sprite): at $2000 an rts, at $2040 two sprites.
class PicturesRun : public ::testing::Test {
protected:
    ScratchDir dir;
    void SetUp() override {
        std::vector<std::uint8_t> image(0xc0, 0);
        image[0] = 0x60;
        image[0x40] = 0xf0;  // the first sprite: four pixels at its top left
        image[0x80 + 62] = 0x01;  // the second: one at its bottom right
        write_bytes(dir / "game.tmp", image);
        write_text(dir / "game.hints", "sprite $2040-$20bf\n");
    }
    Result tolvek(const std::string& more = " --pictures") {
        return run_in(dir.path(), quote(TOLVEK_EXE) + " -a -c6502 -o8192 -e8192 -t game.tmp" + more);
    }
    std::vector<std::string> names() const {
        std::vector<std::string> found;
        for (const auto& entry : fs::directory_iterator(dir.path())) found.push_back(entry.path().filename().string());
        std::sort(found.begin(), found.end());
        return found;
    }
};

TEST_F(PicturesRun, EachSpriteAndTheSheetAreNamedAfterTheProgramAndTheAddress) {
    const Result result = tolvek();
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(names(), (std::vector<std::string>{"game.asm", "game.hints", "game.sprite_2040.png", "game.sprite_2080.png",
                                                 "game.sprites.png", "game.tmp"}));
    struct Shown {
        const char* file;
        std::uint32_t width, height;
        std::uint32_t set_x, set_y;  // a pixel of the sprite's own colour
    };
    for (const Shown& shown : {Shown{"game.sprite_2040.png", 96, 84, 0, 0}, Shown{"game.sprite_2080.png", 96, 84, 23, 20},
                               Shown{"game.sprites.png", 49 * 4, 84, 25 + 23, 20}}) {
        SCOPED_TRACE(shown.file);
        Pixels decoded;
        ASSERT_NO_FATAL_FAILURE(decode_png(read_text(dir / shown.file), decoded));
        ASSERT_EQ(decoded.width, shown.width);
        ASSERT_EQ(decoded.height, shown.height);
        // Whatever colours the analysis gives them: the set pixel differs
        // from the clear one beside it, and each is 4x4.
        const std::uint32_t set = decoded.at(shown.set_x * 4, shown.set_y * 4);
        const std::uint32_t clear = decoded.at((shown.set_x == 0 ? 4 : shown.set_x - 4) * 4, shown.set_y * 4);
        EXPECT_NE(set, clear);
        EXPECT_EQ(decoded.at(shown.set_x * 4 + 3, shown.set_y * 4 + 3), set);
    }
    // Without --pictures, none.
    for (const char* png : {"game.sprite_2040.png", "game.sprite_2080.png", "game.sprites.png"}) fs::remove(dir / png);
    EXPECT_EQ(tolvek("").status, 0);
    EXPECT_EQ(names(), (std::vector<std::string>{"game.asm", "game.hints", "game.tmp"}));
}

// Each output is written whole before the next is begun, so that a run of
// hundreds of pictures is not held up by the limit of open files (here 32).
TEST_F(PicturesRun, HundredsOfPicturesAreWrittenWithFewFilesOpen) {
    write_bytes(dir / "game.tmp", std::vector<std::uint8_t>(0x40 + 300 * 64, 0x60));
    write_text(dir / "game.hints", "sprite $2040-$6b3f\n");
    const Result result = run_in(dir.path(), "ulimit -n 32 && " + quote(TOLVEK_EXE) +
                                                 " -a -c6502 -o8192 -e8192 -t game.tmp --pictures --run-cycles 0");
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.err, "");
    const std::vector<std::string> found = names();
    EXPECT_EQ(found.size(), 3u + 300 + 1);
    EXPECT_TRUE(std::binary_search(found.begin(), found.end(), "game.sprite_6b00.png"));
    EXPECT_TRUE(std::binary_search(found.begin(), found.end(), "game.sprites.png"));
}

TEST_F(PicturesRun, WithoutGraphicsThereAreNoPicturesAndNothingIsSaid) {
    fs::remove(dir / "game.hints");
    const Result result = tolvek();
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(names(), (std::vector<std::string>{"game.asm", "game.tmp"}));
}

// A picture that cannot be written refuses the whole run, as every other
// output does: no file is written or replaced.
TEST_F(PicturesRun, APictureThatCannotBeWrittenRefusesTheRun) {
    struct Refusal {
        const char* what;
        std::function<void(const fs::path&)> prepare;
        std::string more;  // options after --pictures
        std::string message;
    };
    const std::vector<Refusal> refusals = {
        {"a read-only picture",
         [](const fs::path& d) {
             write_text(d / "game.sprite_2080.png", "mine\n");
             fs::permissions(d / "game.sprite_2080.png", fs::perms::owner_read);
         },
         "", "Tolvek.exe: cannot replace 'game.sprite_2080.png': it is read-only\n"},
        {"a folder of the sheet's name", [](const fs::path& d) { fs::create_directory(d / "game.sprites.png"); }, "",
         "Tolvek.exe: cannot replace 'game.sprites.png': it is a folder\n"},
        {"a picture that is the image through a link",
         [](const fs::path& d) { fs::create_symlink("game.tmp", d / "game.sprite_2040.png"); }, "",
         "Tolvek.exe: the image 'game.tmp' would be overwritten by the output 'game.sprite_2040.png'\n"},
        {"a picture that is the hints file",
         [](const fs::path& d) { fs::rename(d / "game.hints", d / "game.sprites.png"); }, " --hints game.sprites.png",
         "Tolvek.exe: the hints file 'game.sprites.png' would be overwritten by the output 'game.sprites.png'\n"},
        {"a picture that is the VICE labels", [](const fs::path&) {}, " --vice-labels game.sprite_2040.png",
         "Tolvek.exe: the outputs 'game.sprite_2040.png' and 'game.sprite_2040.png' are the same file\n"},
    };
    for (const Refusal& refusal : refusals) {
        SCOPED_TRACE(refusal.what);
        for (const std::string& name : names()) fs::remove_all(dir / name);
        SetUp();
        write_text(dir / "game.asm", "older\n");
        refusal.prepare(dir.path());
        const std::vector<std::string> before = names();
        const Result result = tolvek(" --pictures" + refusal.more);
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(result.err, refusal.message);
        EXPECT_EQ(names(), before);
        EXPECT_EQ(read_text(dir / "game.asm"), "older\n");
        EXPECT_EQ(read_bytes(dir / "game.tmp").size(), 0xc0u);
    }
}

}  // namespace
