// The graphics of the memory map as pictures: each sprite, a sheet of all
// sprites, each charset as a sheet of its glyphs, each bitmap at 320x200;
// in the colours the program showed them in where known.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "analysis/memory_map.hpp"
#include "output/png.hpp"

namespace tolvek {

// The colours drawn where the map does not know them (C64 colour numbers):
// the background is the KERNAL's ($D021 blue), hires bitmaps without their
// screen are white on black, and every other colour is white or a grey, so
// that a guessed colour does not pass for the program's.
namespace picture_defaults {
inline constexpr std::uint8_t kBackground = 6;     // $D021: blue, as the KERNAL sets it
inline constexpr std::uint8_t kOwnColour = 1;      // a sprite's $D027+n, a charset's character colour: white
inline constexpr std::uint8_t kMulticolour1 = 12;  // $D025 or $D022: grey
inline constexpr std::uint8_t kMulticolour2 = 15;  // $D026 or $D023: light grey
inline constexpr std::uint8_t kHiresScreen = 0x10;      // a hires bitmap's cell: white on black
inline constexpr std::uint8_t kMulticolourScreen = 0xbc;  // a multicolour bitmap's cell: dark grey, grey
inline constexpr std::uint8_t kColourRam = 15;           // and its colour RAM: light grey
}  // namespace picture_defaults

// The name of the sheet of all sprites.
inline constexpr std::string_view kSpriteSheetName = "sprites";

struct Picture {
    std::string name;           // "sprite_2040", "sprites", "charset_3000", "bitmap_2000"
    std::uint32_t address = 0;  // the object's first byte; the sheet's: its first sprite's
    Kind kind = Kind::Sprite;   // Sprite (also the sheet), Charset or Bitmap
    // At the C64's resolution: a multicolour pixel is two pixels wide.
    Pixels pixels;
    std::uint32_t scale = 1;    // how much to enlarge it for the eye
};

// The pictures of map.graphics in address order (screens and colour data
// have none), the sheet of all sprites after the last one. Empty when the
// map has no sprites, charsets or bitmaps.
std::vector<Picture> make_pictures(const MemoryMap& map);

// The picture as a PNG file, enlarged by its scale.
std::string picture_png(const Picture& picture);

// The parts, for the pictures above and for tests: a sprite (24x21), a
// charset's glyphs (16 a row, a pixel apart), a bitmap (320x200).
Pixels sprite_pixels(const Image& image, const Graphic& sprite);
Pixels glyph_sheet(const Image& image, const Graphic& charset);
Pixels bitmap_pixels(const Image& image, const Graphic& bitmap);

// The sprites side by side, 8 a row, a pixel apart.
Pixels sprite_sheet(const std::vector<Pixels>& sprites);

// The colour of the gaps in sheets: a grey that is none of the C64's.
inline constexpr std::uint32_t kSheetGap = 0x808080;

}  // namespace tolvek
