#include "output/pictures.hpp"

#include <algorithm>
#include <array>

#include "c64/colours.hpp"
#include "output/labels.hpp"

namespace tolvek {
namespace {

namespace defaults = picture_defaults;

constexpr std::uint32_t kSpriteWidth = 24;
constexpr std::uint32_t kSpriteHeight = 21;
constexpr std::uint32_t kSpritesPerRow = 8;
constexpr std::uint32_t kGlyphsPerRow = 16;
constexpr std::uint32_t kCellsPerRow = 40;
constexpr std::uint32_t kCellRows = 25;
constexpr std::uint32_t kSpriteScale = 4;
constexpr std::uint32_t kGlyphScale = 4;
constexpr std::uint32_t kBitmapScale = 2;

// The RGB of a colour the map knows, or of `otherwise` (the low nibble
// counts, as the VIC reads only that).
std::uint32_t rgb(std::uint8_t colour, std::uint8_t otherwise) {
    return c64::kColourRgb[(colour == kNoColour ? otherwise : colour) & 0x0f];
}

// The object's byte at `offset`; a byte past its end or the image's is 0.
std::uint8_t byte_of(const Image& image, const Graphic& graphic, std::uint32_t offset) {
    const std::uint32_t address = graphic.address + offset;
    return offset < graphic.size && image.contains(address) ? image.at(address) : 0;
}

// A byte's eight pixels drawn from x on: hires, a bit each, or multicolour,
// two bits each and two pixels wide. `colours` are those of the bit
// values (hires: 0 and 1; multicolour: 00, 01, 10, 11).
void draw_byte(Pixels& pixels, std::uint32_t x, std::uint32_t y, std::uint8_t byte, bool multicolour,
               const std::array<std::uint32_t, 4>& colours) {
    for (std::uint32_t i = 0; i < 8; ++i) {
        const unsigned shift = multicolour ? 6u - (i & ~1u) : 7u - i;
        const unsigned value = (unsigned{byte} >> shift) & (multicolour ? 3u : 1u);
        pixels.at(x + i, y) = colours[value];
    }
}

std::string hex_name(std::string name, std::uint32_t address) {
    name += '_';
    append_hex_digits(name, address, 4);
    return name;
}

}  // namespace

Pixels sprite_pixels(const Image& image, const Graphic& sprite) {
    const std::uint32_t background = rgb(sprite.background, defaults::kBackground);
    const std::uint32_t own = rgb(sprite.colours[0], defaults::kOwnColour);
    // Multicolour: 01 is $D025, 10 the sprite's own colour, 11 $D026.
    const std::array<std::uint32_t, 4> colours =
        sprite.multicolour ? std::array<std::uint32_t, 4>{background, rgb(sprite.colours[1], defaults::kMulticolour1), own,
                                                          rgb(sprite.colours[2], defaults::kMulticolour2)}
                           : std::array<std::uint32_t, 4>{background, own, own, own};
    Pixels pixels(kSpriteWidth, kSpriteHeight);
    for (std::uint32_t row = 0; row < kSpriteHeight; ++row) {
        for (std::uint32_t column = 0; column < 3; ++column) {
            draw_byte(pixels, column * 8, row, byte_of(image, sprite, row * 3 + column), sprite.multicolour, colours);
        }
    }
    return pixels;
}

Pixels glyph_sheet(const Image& image, const Graphic& charset) {
    const std::uint32_t glyphs = std::max<std::uint32_t>(1, (charset.size + 7) / 8);
    const std::uint32_t columns = std::min(glyphs, kGlyphsPerRow);
    const std::uint32_t rows = (glyphs + kGlyphsPerRow - 1) / kGlyphsPerRow;
    // The character colour is colour RAM's: a value below 8 shows its
    // character in hires even in multicolour mode, and in multicolour 11
    // takes its low three bits.
    const std::uint8_t character = charset.colours[0] == kNoColour ? defaults::kOwnColour : charset.colours[0];
    const bool multicolour = charset.multicolour && (charset.colours[0] == kNoColour || (character & 8) != 0);
    const std::uint32_t background = rgb(charset.background, defaults::kBackground);
    const std::array<std::uint32_t, 4> colours =
        multicolour ? std::array<std::uint32_t, 4>{background, rgb(charset.colours[1], defaults::kMulticolour1),
                                                   rgb(charset.colours[2], defaults::kMulticolour2),
                                                   c64::kColourRgb[character & 7]}
                    : std::array<std::uint32_t, 4>{background, rgb(character, 0), 0, 0};
    Pixels pixels(columns * 9 - 1, rows * 9 - 1, kSheetGap);
    for (std::uint32_t glyph = 0; glyph < glyphs; ++glyph) {
        const std::uint32_t x = glyph % kGlyphsPerRow * 9;
        const std::uint32_t y = glyph / kGlyphsPerRow * 9;
        for (std::uint32_t row = 0; row < 8; ++row) {
            draw_byte(pixels, x, y + row, byte_of(image, charset, glyph * 8 + row), multicolour, colours);
        }
    }
    return pixels;
}

Pixels bitmap_pixels(const Image& image, const Graphic& bitmap) {
    const std::uint32_t background = rgb(bitmap.background, defaults::kBackground);
    Pixels pixels(kCellsPerRow * 8, kCellRows * 8);
    for (std::uint32_t cell = 0; cell < kCellsPerRow * kCellRows; ++cell) {
        const std::uint8_t screen = cell < bitmap.screen.size() ? bitmap.screen[cell]
                                    : bitmap.multicolour        ? defaults::kMulticolourScreen
                                                                : defaults::kHiresScreen;
        // Hires: a set bit takes the screen byte's high nibble, a clear
        // one its low nibble. Multicolour: 00 $D021, 01 the high nibble,
        // 10 the low nibble, 11 the cell's colour RAM.
        const std::array<std::uint32_t, 4> colours =
            bitmap.multicolour
                ? std::array<std::uint32_t, 4>{background, c64::kColourRgb[screen >> 4], c64::kColourRgb[screen & 0x0f],
                                               rgb(cell < bitmap.colour_ram.size() ? bitmap.colour_ram[cell] : kNoColour,
                                                   defaults::kColourRam)}
                : std::array<std::uint32_t, 4>{c64::kColourRgb[screen & 0x0f], c64::kColourRgb[screen >> 4], 0, 0};
        const std::uint32_t x = cell % kCellsPerRow * 8;
        const std::uint32_t y = cell / kCellsPerRow * 8;
        for (std::uint32_t row = 0; row < 8; ++row) {
            draw_byte(pixels, x, y + row, byte_of(image, bitmap, cell * 8 + row), bitmap.multicolour, colours);
        }
    }
    return pixels;
}

Pixels sprite_sheet(const std::vector<Pixels>& sprites) {
    const auto count = static_cast<std::uint32_t>(sprites.size());
    const std::uint32_t columns = std::clamp<std::uint32_t>(count, 1, kSpritesPerRow);
    const std::uint32_t rows = std::max<std::uint32_t>(1, (count + kSpritesPerRow - 1) / kSpritesPerRow);
    Pixels sheet(columns * (kSpriteWidth + 1) - 1, rows * (kSpriteHeight + 1) - 1, kSheetGap);
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::uint32_t left = i % kSpritesPerRow * (kSpriteWidth + 1);
        const std::uint32_t top = i / kSpritesPerRow * (kSpriteHeight + 1);
        for (std::uint32_t y = 0; y < kSpriteHeight; ++y) {
            for (std::uint32_t x = 0; x < kSpriteWidth; ++x) sheet.at(left + x, top + y) = sprites[i].at(x, y);
        }
    }
    return sheet;
}

std::vector<Picture> make_pictures(const MemoryMap& map) {
    std::vector<Picture> pictures;
    std::vector<Pixels> sprites;
    std::uint32_t first_sprite = 0;
    for (const Graphic& graphic : map.graphics) {
        switch (graphic.kind) {
            case Kind::Sprite:
                if (sprites.empty()) first_sprite = graphic.address;
                sprites.push_back(sprite_pixels(map.image(), graphic));
                pictures.push_back({hex_name("sprite", graphic.address), graphic.address, Kind::Sprite, sprites.back(),
                                    kSpriteScale});
                break;
            case Kind::Charset:
                pictures.push_back({hex_name("charset", graphic.address), graphic.address, Kind::Charset,
                                    glyph_sheet(map.image(), graphic), kGlyphScale});
                break;
            case Kind::Bitmap:
                pictures.push_back({hex_name("bitmap", graphic.address), graphic.address, Kind::Bitmap,
                                    bitmap_pixels(map.image(), graphic), kBitmapScale});
                break;
            default: break;  // screens and colour data are drawn with their bitmap
        }
    }
    if (!sprites.empty()) pictures.push_back({std::string(kSpriteSheetName), first_sprite, Kind::Sprite, sprite_sheet(sprites), kSpriteScale});
    return pictures;
}

std::string picture_png(const Picture& picture) { return encode_png(enlarged(picture.pixels, picture.scale)); }

}  // namespace tolvek
