#include "analysis/graphics.hpp"

#include "analysis/apply_hints.hpp"

#include <algorithm>
#include <array>
#include <optional>
#include <set>
#include <utility>
#include <vector>

#include "cpu/behaviour.hpp"
#include "cpu/decode.hpp"

namespace tolvek {
namespace {

constexpr std::uint32_t kSpriteBytes = 64;
constexpr std::uint32_t kSpriteShown = 63;  // 21 rows of 3: the last byte of a block is not shown
constexpr std::uint32_t kGlyphBytes = 8;
constexpr std::uint32_t kCharsetBytes = 0x800;
constexpr std::uint32_t kExtendedCharsetBytes = 0x200;  // extended colour mode shows 64 glyphs
constexpr std::uint32_t kBitmapBytes = 8000;
constexpr std::uint32_t kScreenBytes = 1000;
constexpr std::uint32_t kPointers = 0x3f8;  // the sprite pointers' offset in the screen
// Less than a row of the picture is no bitmap, less than a row of text no screen.
constexpr std::uint32_t kLeastBitmap = 320;
constexpr std::uint32_t kLeastScreen = 40;


// An instruction of the image as the one that showed a graphic.
std::optional<std::uint16_t> instruction_in(const MemoryMap& map, std::uint16_t writer) {
    if (writer == 0 || !map.image().contains(writer) || map.kind(writer) != Kind::Opcode) return std::nullopt;
    return writer;
}

std::optional<std::uint16_t> setter_of(const MemoryMap& map, const VicSample& sample) {
    if (const auto at = instruction_in(map, sample.d018_writer)) return at;
    return instruction_in(map, sample.dd00_writer);
}

// The graphics found, by kind, in the order they are placed: sprites are
// exact; a bitmap, its screen, a character set (of which only some glyphs
// may be used) give way to what is placed before them.
struct Found {
    std::vector<Graphic> sprites, bitmaps, screens, charsets;

    void add(Graphic graphic) {
        std::vector<Graphic>& list = graphic.kind == Kind::Sprite   ? sprites
                                     : graphic.kind == Kind::Bitmap ? bitmaps
                                     : graphic.kind == Kind::Screen ? screens
                                                                    : charsets;
        const bool seen = std::any_of(list.begin(), list.end(), [&](const Graphic& g) { return g.address == graphic.address; });
        if (!seen) list.push_back(std::move(graphic));
    }
};

// A graphic the program stored into before it was shown: when the bytes
// shown were copied in order from the image, at least `least` of them, it
// is those image bytes (a glyph's whole bytes for a charset), shown from a
// copy at the address the VIC fetched from.
bool from_copy(const VicSample& sample, std::size_t area, std::uint32_t least, Graphic& graphic) {
    std::uint32_t bytes = std::min<std::uint32_t>(sample.copied_bytes[area], graphic.size);
    if (graphic.kind == Kind::Charset) bytes -= bytes % kGlyphBytes;
    if (sample.copied_from[area] == 0 || bytes < least) return false;
    graphic.copied_to = static_cast<std::uint16_t>(graphic.address);
    graphic.address = sample.copied_from[area];
    graphic.size = graphic.kind == Kind::Sprite ? kSpriteBytes : bytes;
    return true;
}

// What the runs saw the VIC-II show.
void from_samples(const MemoryMap& map, Found& found) {
    for (const VicSample& sample : map.run.vic_samples) {
        if (sample.times < 2) continue;  // between two stores that change the display
        const auto& c = sample.colours;  // $D020 on
        for (std::uint32_t n = 0; n < 8; ++n) {
            if (((sample.d015 >> n) & 1) == 0) continue;
            Graphic sprite;
            sprite.kind = Kind::Sprite;
            sprite.address = sample.vic_base() + sample.pointers[n] * kSpriteBytes;
            if (vic_sees_rom(sprite.address)) continue;
            sprite.size = kSpriteBytes;
            if (((sample.written >> n) & 1) != 0 && !from_copy(sample, n, kSpriteShown, sprite)) continue;
            sprite.multicolour = ((sample.d01c >> n) & 1) != 0;
            sprite.pointer = sample.pointers[n];
            sprite.set_at = instruction_in(map, sample.pointer_writers[n]);
            sprite.source = Source::Run;
            sprite.colours = {c[7 + n], c[5], c[6]};
            sprite.background = c[1];
            found.add(std::move(sprite));
        }
        if (!sample.display_on()) continue;  // a blank screen shows nothing else
        const bool extended = (sample.d011 & 0x40) != 0;
        const bool multicolour = (sample.d016 & 0x10) != 0;
        Graphic screen;
        screen.kind = Kind::Screen;
        screen.address = sample.screen_base();
        screen.size = kScreenBytes;
        screen.multicolour = multicolour;
        screen.set_at = setter_of(map, sample);
        screen.source = Source::Run;
        screen.background = c[1];
        if (sample.bitmap_mode()) {
            if (extended) continue;  // an invalid mode: black
            Graphic bitmap = screen;
            bitmap.kind = Kind::Bitmap;
            bitmap.address = sample.bitmap_base();
            bitmap.size = kBitmapBytes;
            bitmap.screen = sample.screen;
            bitmap.colour_ram = sample.colour_ram;
            if ((sample.written & VicSample::kShownBitmap) == 0 ||
                from_copy(sample, VicSample::kCopiedBitmap, kLeastBitmap, bitmap)) {
                found.add(std::move(bitmap));
            }
        } else if (!vic_sees_rom(sample.charset_base())) {
            Graphic charset = screen;
            charset.kind = Kind::Charset;
            charset.address = sample.charset_base();
            charset.size = extended ? kExtendedCharsetBytes : kCharsetBytes;
            charset.multicolour = multicolour && !extended;
            charset.colours = {kNoColour, c[2], c[3]};
            if ((sample.written & VicSample::kShownCharset) == 0 ||
                from_copy(sample, VicSample::kCopiedCharset, kGlyphBytes, charset)) {
                found.add(std::move(charset));
            }
        }
        if ((sample.written & VicSample::kShownScreen) == 0 ||
            from_copy(sample, VicSample::kCopiedScreen, kLeastScreen, screen)) {
            found.add(std::move(screen));
        }
    }
}

// What is known of a register's value: the bits in `mask`.
struct Known {
    std::uint8_t value = 0;
    std::uint8_t mask = 0;
    bool has(std::uint8_t bits) const { return (mask & bits) == bits; }
    bool whole() const { return mask == 0xff; }
};

// A store of a register into an address that tells what the VIC shows.
struct RegisterStore {
    std::uint32_t target = 0;
    Known value;
    std::uint32_t at = 0;  // the instruction
    bool ran = false;      // a run ran it
    // The stretch of straight code it lies in: none of the instructions
    // between two stores of a stretch jumps, branches or is jumped to.
    std::uint32_t stretch = 0;
};

bool tells_display(std::uint32_t target) {
    switch (target) {
    case 0xd011:
    case 0xd015:
    case 0xd016:
    case 0xd018:
    case 0xd01c:
    case 0xdd00: return true;
    default: return (target >= 0xd020 && target <= 0xd02e) || (target & 0x3ff) >= kPointers;
    }
}

// The stores of registers with bits known (from immediates: lda #, and #,
// ora #, transfers, inx ...) into the VIC's registers, $DD00 and the
// places of sprite pointers, following the code in address order; what a
// register holds is forgotten where something may lead (a jump, a branch,
// a call, an entry the run saw) and after a call.
std::vector<RegisterStore> register_stores(const MemoryMap& map) {
    const Image& image = map.image();
    const std::vector<std::uint32_t> code = map.instructions();
    std::vector<bool> targets(0x10000);
    for (const std::uint32_t at : code) {
        if (at + instruction_length(image.at(at)) > image.end()) continue;
        if (const std::optional<std::uint32_t> target = target_of(image, at)) targets[*target & 0xffff] = true;
    }
    std::vector<RegisterStore> stores;
    Known a, x, y;
    std::uint32_t next = 0;  // where the instruction before falls through to
    std::uint32_t stretch = 0;
    const auto step = [](Known k, int by) { return k.whole() ? Known{static_cast<std::uint8_t>(k.value + by), 0xff} : Known{}; };
    for (const std::uint32_t at : code) {
        const std::uint8_t byte = image.at(at);
        const std::uint32_t length = instruction_length(byte);
        if (at + length > image.end()) break;
        if (at != next || targets[at & 0xffff] || map.was_entered(at)) {
            a = x = y = {};
            ++stretch;
        }
        next = 0;
        const Behaviour& does = behaviour(byte);
        const Mode mode = opcode(byte).mode;
        const std::uint8_t immediate = length > 1 ? image.at(at + 1) : 0;  // none after a one-byte instruction
        using enum Operation;
        const Operation op = does.operation;
        if ((op == Sta || op == Stx || op == Sty) && mode == Mode::Absolute) {
            const std::uint32_t target = operand_of(image, at);
            const bool chip = target >= 0xd000 && target < 0xe000;
            if (tells_display(target) && (!chip || map.io_visible(at))) {
                stores.push_back({target, op == Sta ? a : op == Stx ? x : y, at, map.source(at) == Source::Run, stretch});
            }
        }
        if (mode == Mode::Immediate && (op == Lda || op == Ldx || op == Ldy)) {
            (op == Lda ? a : op == Ldx ? x : y) = {immediate, 0xff};
        } else if (mode == Mode::Immediate && op == And) {
            const auto mask = static_cast<std::uint8_t>(~immediate | (a.mask & immediate));
            a = {static_cast<std::uint8_t>(a.value & immediate & mask), mask};
        } else if (mode == Mode::Immediate && op == Ora) {
            const auto mask = static_cast<std::uint8_t>(immediate | a.mask);
            a = {static_cast<std::uint8_t>((a.value | immediate) & mask), mask};
        } else if (mode == Mode::Immediate && op == Eor) {
            a = {static_cast<std::uint8_t>((a.value ^ immediate) & a.mask), a.mask};
        } else if (op == Tax || op == Tay || op == Txa || op == Tya) {
            (op == Tax ? x : op == Tay ? y : a) = op == Txa ? x : op == Tya ? y : a;
        } else if (op == Inx || op == Dex) {
            x = step(x, op == Inx ? 1 : -1);
        } else if (op == Iny || op == Dey) {
            y = step(y, op == Iny ? 1 : -1);
        } else {
            if (does.writes & reg::A) a = {};
            if (does.writes & reg::X) x = {};
            if (does.writes & reg::Y) y = {};
        }
        if (does.control == Control::Next || does.control == Control::Branch) next = at + length;
        if (does.control != Control::Next) ++stretch;
    }
    return stores;
}

// The value a store into `target` gives the `bits` of, as a store into
// $D018 (`d018`) meets it: the last such store before it in address order,
// else the first after it in the same stretch of straight code.
std::optional<std::uint8_t> setting_at(const std::vector<RegisterStore>& stores, const RegisterStore& d018,
                                       std::uint32_t target, std::uint8_t bits) {
    std::optional<std::uint8_t> before;
    for (const RegisterStore& store : stores) {
        if (store.target != target || !store.value.has(bits)) continue;
        if (store.at < d018.at) {
            before = store.value.value;
        } else {
            if (before) return before;
            return store.stretch == d018.stretch ? std::optional(store.value.value) : std::nullopt;
        }
    }
    return before;
}

// The graphics that the constants the code stores set up: each from a
// store that no run ran (the runs' samples tell the rest better). A store
// into $D018 selects in the VIC bank, the mode ($D011) and the multicolour
// ($D016) of the stores next to it (setting_at), else in bank 0, text and
// hires as the KERNAL leaves them.
void from_stores(const MemoryMap& map, Found& found) {
    const std::vector<RegisterStore> stores = register_stores(map);
    std::uint8_t enabled = 0;
    std::uint8_t multicolour_sprites = 0;
    std::array<std::uint8_t, 15> colours;
    colours.fill(kNoColour);
    for (const RegisterStore& store : stores) {
        const Known v = store.value;
        if (store.target == 0xd015) enabled = static_cast<std::uint8_t>(enabled | v.value | ~v.mask);
        if (store.target == 0xd01c) multicolour_sprites = static_cast<std::uint8_t>(multicolour_sprites | (v.value & v.mask));
        if (store.target >= 0xd020 && store.target <= 0xd02e && v.whole() && colours[store.target - 0xd020] == kNoColour) {
            colours[store.target - 0xd020] = v.value & 0x0f;
        }
    }
    // The screens whose sprite pointers the stores may set: the KERNAL's,
    // and those the stores into $D018 select, with the VIC's bank of each.
    std::vector<std::pair<std::uint32_t, std::uint32_t>> screens{{0x0400, 0}};
    for (const RegisterStore& store : stores) {
        if (store.target != 0xd018) continue;
        const Known v = store.value;
        const std::uint32_t bank = 3u - (setting_at(stores, store, 0xdd00, 0x03).value_or(0x03) & 3u);
        const std::uint32_t base = bank * 0x4000;
        const bool bitmap_mode = (setting_at(stores, store, 0xd011, 0x20).value_or(0) & 0x20) != 0;
        const bool multicolour = (setting_at(stores, store, 0xd016, 0x10).value_or(0) & 0x10) != 0;
        if (v.has(0xf0)) screens.emplace_back(base + (v.value >> 4) * 0x400u, bank);
        if (store.ran) continue;
        Graphic graphic;
        graphic.source = Source::VicSetup;
        graphic.set_at = static_cast<std::uint16_t>(store.at);
        graphic.multicolour = multicolour;
        graphic.background = colours[1];
        if (bitmap_mode && v.has(0x08)) {
            graphic.kind = Kind::Bitmap;
            graphic.address = base + ((v.value & 8) != 0 ? 0x2000u : 0u);
            graphic.size = kBitmapBytes;
            found.add(graphic);
            if (v.has(0xf0)) {
                graphic.kind = Kind::Screen;
                graphic.address = base + (v.value >> 4) * 0x400u;
                graphic.size = kScreenBytes;
                found.add(graphic);
            }
        } else if (!bitmap_mode && v.has(0x0e)) {
            graphic.kind = Kind::Charset;
            graphic.address = base + ((v.value >> 1) & 7u) * kCharsetBytes;
            graphic.size = kCharsetBytes;
            graphic.colours = {kNoColour, colours[2], colours[3]};
            if (!vic_sees_rom(graphic.address)) found.add(graphic);
        }
    }
    for (const RegisterStore& store : stores) {
        if (store.ran || !store.value.whole()) continue;
        for (const auto& [screen, bank] : screens) {
            if (store.target < screen + kPointers || store.target >= screen + kPointers + 8) continue;
            const std::uint32_t n = store.target - screen - kPointers;
            if (((enabled >> n) & 1) == 0) continue;
            Graphic sprite;
            sprite.kind = Kind::Sprite;
            sprite.address = bank * 0x4000 + store.value.value * kSpriteBytes;
            sprite.size = kSpriteBytes;
            sprite.multicolour = ((multicolour_sprites >> n) & 1) != 0;
            sprite.pointer = store.value.value;
            sprite.set_at = static_cast<std::uint16_t>(store.at);
            sprite.source = Source::VicSetup;
            sprite.colours = {colours[7 + n], colours[5], colours[6]};
            sprite.background = colours[1];
            if (!vic_sees_rom(sprite.address)) found.add(std::move(sprite));
        }
    }
}

// Whether the byte at `a` may become graphics: nothing claimed it.
bool unclaimed(const MemoryMap& map, std::uint32_t a) {
    return map.kind(a) == Kind::Unknown && map.graphic_at(a) == nullptr;
}

// Whether the image's bytes in [start, end) all hold one value.
bool one_value(const Image& image, std::uint32_t start, std::uint32_t end) {
    for (std::uint32_t a = start; a < end; ++a) {
        if (image.at(a) != image.at(start)) return false;
    }
    return true;
}

bool guessed(const MemoryMap& map, std::uint32_t a) {
    const Source source = map.source(a);
    return source == Source::GuessGap || source == Source::GuessTable || source == Source::GuessSplit ||
           source == Source::GuessPair;
}

// Code only guessed (no trace, no run reached it) in glyphs or a bitmap
// that the run saw the VIC-II show, or that code the trace or the run
// reached selects, is pixels read as instructions: the instructions that
// lie wholly in [start, end) go back to unknown.
void release_guessed_code(MemoryMap& map, std::uint32_t start, std::uint32_t end) {
    const Image& image = map.image();
    for (std::uint32_t a = start; a < end; ++a) {
        if (map.kind(a) != Kind::Opcode || !guessed(map, a)) continue;
        const std::uint32_t length = instruction_length(image.at(a));
        if (a + length > end) break;
        for (std::uint32_t b = a; b < a + length; ++b) map.set_unknown(b);
        a += length - 1;
    }
}

// Types `graphic`'s bytes in the map and adds it, where it lies in the
// image and nothing claimed its bytes; a character set keeps the longest
// stretch of whole glyphs that nothing claimed. Not a fill of one value.
void place(MemoryMap& map, Graphic graphic) {
    // The hints gave it: they keep their range, and learn how it was shown.
    if (adopt_found_graphic(graphic, map)) return;
    const Image& image = map.image();
    const std::uint32_t start = std::max(graphic.address, image.load);
    const std::uint32_t end = std::min(graphic.address + graphic.size, image.end());
    if (start >= end) return;
    const bool pixels = graphic.kind == Kind::Charset || graphic.kind == Kind::Bitmap;
    const bool sure = graphic.source == Source::Run || (graphic.set_at && !guessed(map, *graphic.set_at));
    if (pixels && sure && !graphic.copied_to) release_guessed_code(map, start, end);
    if (graphic.kind == Kind::Charset) {
        std::uint32_t best = 0, best_glyphs = 0, run = 0, glyphs = 0;
        for (std::uint32_t glyph = graphic.address; glyph + kGlyphBytes <= graphic.address + graphic.size; glyph += kGlyphBytes) {
            bool free = glyph >= start && glyph + kGlyphBytes <= end;
            for (std::uint32_t a = glyph; free && a < glyph + kGlyphBytes; ++a) free = unclaimed(map, a);
            if (!free) {
                glyphs = 0;
                continue;
            }
            if (glyphs++ == 0) run = glyph;
            if (glyphs > best_glyphs) {
                best = run;
                best_glyphs = glyphs;
            }
        }
        if (best_glyphs == 0) return;
        graphic.address = best;
        graphic.size = best_glyphs * kGlyphBytes;
    } else {
        const std::uint32_t least = graphic.kind == Kind::Sprite   ? kSpriteShown
                                    : graphic.kind == Kind::Bitmap ? kLeastBitmap
                                                                   : kLeastScreen;
        if (start != graphic.address || end - start < least) return;
        graphic.size = end - start;
        if (graphic.kind == Kind::Sprite && graphic.size == kSpriteBytes && !unclaimed(map, end - 1)) graphic.size = kSpriteShown;
        for (std::uint32_t a = start; a < start + graphic.size; ++a) {
            if (!unclaimed(map, a)) return;
        }
    }
    // All bytes the same: a buffer the program fills in, or nothing to see.
    if (one_value(image, graphic.address, graphic.address + graphic.size)) return;
    for (std::uint32_t a = graphic.address; a < graphic.address + graphic.size; ++a) map.set(a, graphic.kind, graphic.source);
    const auto after = std::upper_bound(map.graphics.begin(), map.graphics.end(), graphic.address,
                                        [](std::uint32_t a, const Graphic& g) { return a < g.address; });
    map.graphics.insert(after, std::move(graphic));
}

void place_all(MemoryMap& map, Found& found) {
    for (std::vector<Graphic>* list : {&found.sprites, &found.bitmaps, &found.screens, &found.charsets}) {
        for (Graphic& graphic : *list) place(map, std::move(graphic));
    }
}

// The areas the VIC-II fetches other graphics from: the whole window of a
// character set, bitmap or screen shown, also where only part of it could
// be typed.
std::vector<std::pair<std::uint32_t, std::uint32_t>> other_graphics(const MemoryMap& map) {
    std::vector<std::pair<std::uint32_t, std::uint32_t>> areas;
    for (const Graphic& graphic : map.graphics) {
        if (graphic.kind == Kind::Sprite) continue;
        const std::uint32_t window = graphic.copied_to        ? 0
                                     : graphic.kind == Kind::Charset ? kCharsetBytes
                                     : graphic.kind == Kind::Bitmap  ? 0x2000u
                                     : graphic.kind == Kind::Screen  ? 0x400u
                                                                     : 0;
        const std::uint32_t start = window != 0 ? graphic.address - graphic.address % window : graphic.address;
        areas.emplace_back(start, std::max(start + window, graphic.address + graphic.size));
    }
    return areas;
}

// Games keep their sprites together, and a run shows only some of them:
// the blocks on either side of a sprite shown, up to anything that is no
// sprite (code, text, tables of addresses, the area of a character set,
// bitmap or screen shown, the image's end or the VIC bank's), are sprites
// too, shown as the one beside them was. A block of one value in between
// (a blank frame, or none) is passed over; two in a row end the sprites.
// The code may name a block: games animate their sprites by copying
// frames. Sprites the hints gave are passed through, and learn that they
// lie beside those shown; the walk starts only from sprites the program
// showed.
void beside_shown_sprites(MemoryMap& map) {
    std::vector<Graphic> shown;
    for (const Graphic& graphic : map.graphics) {
        const bool seen = graphic.source == Source::Run || graphic.source == Source::VicSetup;
        if (seen && graphic.kind == Kind::Sprite && graphic.address % kSpriteBytes == 0 && !graphic.copied_to) {
            shown.push_back(graphic);
        }
    }
    if (shown.empty()) return;
    const auto others = other_graphics(map);
    const auto in_other = [&](std::uint32_t a) {
        return std::any_of(others.begin(), others.end(), [a](const auto& area) { return a >= area.first && a < area.second; });
    };
    const Image& image = map.image();
    for (const Graphic& origin : shown) {
        for (const int step : {-1, 1}) {
            int blanks = 0;  // blocks of one value in a row
            for (int pointer = origin.pointer + step; pointer >= 0 && pointer <= 0xff; pointer += step) {
                const std::uint32_t block = origin.address - origin.pointer * kSpriteBytes + static_cast<std::uint32_t>(pointer) * kSpriteBytes;
                if (block < image.load || block + kSpriteShown > image.end() || vic_sees_rom(block)) break;
                const Graphic* there = map.graphic_at(block);
                if (there != nullptr && (there->kind != Kind::Sprite || there->address != block)) break;
                const std::uint32_t end = std::min(block + kSpriteBytes, image.end());
                const bool blank = one_value(image, block, end);
                // A blank block the hints hold as unknown (they keep what
                // was left alone) is passed over as one nothing claimed.
                const auto free_byte = [&](std::uint32_t a) {
                    if (in_other(a)) return false;
                    if (there != nullptr || map.kind(a) == Kind::Unknown) return true;
                    return blank && map.kind(a) == Kind::Bytes && map.source(a) == Source::Hint;
                };
                bool free = true;
                for (std::uint32_t a = block; free && a < end; ++a) free = free_byte(a);
                if (!free) break;
                blanks = blank ? blanks + 1 : 0;
                if (blanks > 1) break;  // a gap, no frame
                Graphic sprite = origin;
                sprite.address = block;
                sprite.size = kSpriteBytes;
                sprite.pointer = static_cast<std::uint8_t>(pointer);
                sprite.set_at.reset();
                sprite.source = Source::BesideSprites;
                place(map, std::move(sprite));
            }
        }
    }
}

}  // namespace

void find_graphics(MemoryMap& map) {
    Found seen;
    from_samples(map, seen);
    place_all(map, seen);
    Found stored;
    from_stores(map, stored);
    place_all(map, stored);
    beside_shown_sprites(map);
}

}  // namespace tolvek
