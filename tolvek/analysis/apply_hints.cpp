#include "analysis/apply_hints.hpp"

#include <algorithm>

#include "analysis/trace.hpp"

namespace tolvek {
namespace {

Kind graphics_kind(HintRange kind) {
    switch (kind) {
    case HintRange::Sprite: return Kind::Sprite;
    case HintRange::Charset: return Kind::Charset;
    case HintRange::Bitmap: return Kind::Bitmap;
    case HintRange::ScreenMemory: return Kind::Screen;
    default: return Kind::ColourData;
    }
}

// A range of graphics: objects of the kind's whole size from its first
// address on, the last one what is left.
void add_graphics(const RangeHint& range, MemoryMap& map) {
    const Kind kind = graphics_kind(range.kind);
    const std::uint32_t whole = graphic_full_size(kind);
    for (std::uint32_t a = range.first; a <= range.last; a += whole) {
        Graphic graphic;
        graphic.kind = kind;
        graphic.address = a;
        graphic.size = std::min(whole, range.last + 1 - a);
        graphic.multicolour = range.multicolour;
        // The block number the VIC is shown it by, in whichever bank.
        if (kind == Kind::Sprite) graphic.pointer = static_cast<std::uint8_t>(a >> 6);
        graphic.source = Source::Hint;
        map.graphics.push_back(std::move(graphic));
    }
    for (std::uint32_t a = range.first; a <= range.last; ++a) map.set(a, kind, Source::Hint);
}

}  // namespace

void apply_hints(const Hints& hints, MemoryMap& map) {
    const Image& image = map.image();
    for (const RangeHint& range : hints.ranges) {
        switch (range.kind) {
        case HintRange::Code:
        case HintRange::Unknown: break;
        case HintRange::Sprite:
        case HintRange::Charset:
        case HintRange::Bitmap:
        case HintRange::ScreenMemory:
        case HintRange::ColourData: add_graphics(range, map); break;
        case HintRange::Bytes:
        case HintRange::Petscii:
        case HintRange::ScreenCode: {
            const Kind kind = range.kind == HintRange::Bytes     ? Kind::Bytes
                              : range.kind == HintRange::Petscii ? Kind::Petscii
                                                                 : Kind::ScreenCode;
            for (std::uint32_t a = range.first; a <= range.last; ++a) map.set(a, kind, Source::Hint);
            break;
        }
        case HintRange::Words:
        case HintRange::RtsWords: {
            const bool minus1 = range.kind == HintRange::RtsWords;
            for (std::uint32_t a = range.first; a + 1 <= range.last; a += 2) {
                const std::uint32_t target = (image.word(a) + (minus1 ? 1u : 0u)) & 0xffff;
                map.set_address_item(a, minus1 ? Kind::WordMinus1 : Kind::Word, target, Source::Hint);
            }
            break;
        }
        case HintRange::Split:
        case HintRange::RtsSplit: {
            const bool minus1 = range.kind == HintRange::RtsSplit;
            for (std::uint32_t i = 0; i <= range.last - range.first; ++i) {
                const std::uint32_t low = range.first + i;
                const std::uint32_t high = range.high + i;
                const std::uint32_t target =
                    ((static_cast<std::uint32_t>(image.at(high)) << 8 | image.at(low)) + (minus1 ? 1u : 0u)) & 0xffff;
                map.set_address_item(low, minus1 ? Kind::LowMinus1 : Kind::Low, target, Source::Hint);
                map.set_address_item(high, minus1 ? Kind::HighMinus1 : Kind::High, target, Source::Hint);
            }
            break;
        }
        }
    }
    // The ranges do not overlap (check_hints): in address order, neither
    // do the objects.
    std::sort(map.graphics.begin(), map.graphics.end(),
              [](const Graphic& x, const Graphic& y) { return x.address < y.address; });
}

bool adopt_found_graphic(const Graphic& found, MemoryMap& map) {
    const auto hinted = std::find_if(map.graphics.begin(), map.graphics.end(), [&](const Graphic& g) {
        return g.source == Source::Hint && g.kind == found.kind && g.address == found.address;
    });
    if (hinted == map.graphics.end()) return false;
    // The range and the colours are the user's; the rest is what was seen.
    hinted->set_at = found.set_at;
    hinted->source = found.source;
    hinted->colours = found.colours;
    hinted->background = found.background;
    hinted->screen = found.screen;
    hinted->colour_ram = found.colour_ram;
    hinted->copied_to = found.copied_to;
    if (found.kind == Kind::Sprite) hinted->pointer = found.pointer;
    return true;
}

void trace_hints(const Hints& hints, MemoryMap& map) {
    for (const auto& [address, line] : hints.entries) {
        if (map.kind(address) == Kind::Unknown) trace_from(map, address, Source::Hint);
    }
    // Every instruction of a code range, so that routines one after the
    // other are all code; none runs on past the range's end. What is still
    // nothing then (an opcode that is no code for the CPU, bytes that other
    // code cuts into) is plain bytes at once, so that the range's bytes do
    // not depend on what is found later.
    for (const RangeHint& range : hints.ranges) {
        if (range.kind != HintRange::Code) continue;
        trace_code_range(map, range.first, range.last, Source::Hint);
        for (std::uint32_t a = range.first; a <= range.last; ++a) {
            if (map.kind(a) == Kind::Unknown) map.set(a, Kind::Bytes, Source::Hint);
        }
    }
}

std::vector<std::uint32_t> hold_unknown(const Hints& hints, MemoryMap& map) {
    std::vector<std::uint32_t> held;
    for (const RangeHint& range : hints.ranges) {
        if (range.kind != HintRange::Unknown) continue;
        for (std::uint32_t a = range.first; a <= range.last; ++a) {
            if (map.kind(a) != Kind::Unknown) continue;
            map.set(a, Kind::Bytes, Source::Hint);
            held.push_back(a);
        }
    }
    return held;
}

void release_unknown(const std::vector<std::uint32_t>& held, MemoryMap& map) {
    for (const std::uint32_t a : held) map.set_unknown(a);
}

}  // namespace tolvek
