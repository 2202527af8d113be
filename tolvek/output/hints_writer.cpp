#include "output/hints_writer.hpp"

#include <algorithm>
#include <map>
#include <optional>

#include "output/comment_text.hpp"

namespace tolvek {
namespace {

// The directive for a stretch of items of a kind in the map, or none (split
// tables are written as pairs of stretches).
std::string_view range_word_of(Kind kind) {
    switch (kind) {
    case Kind::Opcode: return range_word(HintRange::Code);
    case Kind::Bytes: return range_word(HintRange::Bytes);
    case Kind::Word: return range_word(HintRange::Words);
    case Kind::WordMinus1: return range_word(HintRange::RtsWords);
    case Kind::Petscii: return range_word(HintRange::Petscii);
    case Kind::ScreenCode: return range_word(HintRange::ScreenCode);
    case Kind::Unknown: return range_word(HintRange::Unknown);
    default: return {};
    }
}

// The graphics object whose range the byte at `a` is in: the object that
// holds it, where the byte has its kind.
const Graphic* graphic_range_at(const MemoryMap& map, std::uint32_t a) {
    if (!is_graphics(map.kind(a))) return nullptr;
    const Graphic* graphic = map.graphic_at(a);
    return graphic != nullptr && graphic->kind == map.kind(a) ? graphic : nullptr;
}

HintRange graphics_range(Kind kind) {
    switch (kind) {
    case Kind::Sprite: return HintRange::Sprite;
    case Kind::Charset: return HintRange::Charset;
    case Kind::Bitmap: return HintRange::Bitmap;
    case Kind::Screen: return HintRange::ScreenMemory;
    default: return HintRange::ColourData;
    }
}

// The end (exclusive) of the item that starts at `address`: an instruction
// with its operands, a word with its high byte, else one byte.
std::uint32_t item_end(const MemoryMap& map, std::uint32_t address) {
    std::uint32_t end = address + 1;
    while (end < map.image().end() && (map.kind(end) == Kind::Operand || map.kind(end) == Kind::Continued)) ++end;
    return end;
}

// The high halves of split tables, to go with their low halves: for each
// target, the ones that can stand for it, in address order. Each is given
// to one low half; a low half takes the one after its neighbour's where it
// can, so that a table comes out as one directive.
class HighHalves {
public:
    HighHalves(const MemoryMap& map, const std::vector<bool>& users) : map_(map), users_(users), given_(0x10000, false) {
        const Image& image = map.image();
        for (std::uint32_t h = map.basic_end(); h < image.end(); ++h) {
            const Kind kind = map.kind(h);
            if (kind != Kind::High && kind != Kind::HighMinus1) continue;
            const bool minus1 = kind == Kind::HighMinus1;
            if (const auto target = map.target(h); target && fits(h, minus1, *target)) candidates_[key(minus1, *target)].list.push_back(h);
        }
    }

    // The high half for the low half at `low`, of an address minus one or
    // not; `next` is where it would continue its neighbour's table.
    std::optional<std::uint32_t> take(bool minus1, std::uint32_t target, std::optional<std::uint32_t> next) {
        if (next && *next < map_.image().end() && fits(*next, minus1, target) && !given_[*next]) return give(*next);
        const auto found = candidates_.find(key(minus1, target));
        if (found == candidates_.end()) return std::nullopt;
        Candidates& candidates = found->second;
        while (candidates.first_free < candidates.list.size() && given_[candidates.list[candidates.first_free]]) {
            ++candidates.first_free;
        }
        if (candidates.first_free == candidates.list.size()) return std::nullopt;
        return give(candidates.list[candidates.first_free]);
    }

private:
    struct Candidates {
        std::vector<std::uint32_t> list;
        std::size_t first_free = 0;  // none before it is free
    };

    static std::uint32_t key(bool minus1, std::uint32_t target) { return target | (minus1 ? 0x10000u : 0u); }

    // Whether the byte at `high`, outside the user's ranges, is the high
    // half of `target` (less one).
    bool fits(std::uint32_t high, bool minus1, std::uint32_t target) const {
        const Kind kind = map_.kind(high);
        return !users_[high] && kind == (minus1 ? Kind::HighMinus1 : Kind::High) && map_.target(high) == target &&
               map_.image().at(high) == ((target - (minus1 ? 1u : 0u)) >> 8 & 0xff);
    }

    std::uint32_t give(std::uint32_t high) {
        given_[high] = true;
        return high;
    }

    const MemoryMap& map_;
    const std::vector<bool>& users_;
    std::vector<bool> given_;
    std::map<std::uint32_t, Candidates> candidates_;  // by target, and 0x10000 for minus one
};

// The code and data ranges of the map as directives, in address order,
// leaving out every item that lies on a byte of `users` (the user's ranges).
void write_ranges(const MemoryMap& map, const std::vector<bool>& users, std::string& out) {
    const Image& image = map.image();
    HighHalves highs(map, users);
    std::string_view word;  // the stretch open: its kind, its first byte and its end
    std::string_view suffix;  // after its range: " multicolour" for graphics shown so
    std::uint32_t first = 0;
    std::uint32_t end = 0;
    struct Split {
        Kind kind = Kind::Unknown;  // Unknown: none open
        std::uint32_t first = 0, end = 0, high = 0;
    } split;
    const auto close = [&] {
        if (!word.empty()) {
            out += std::string(word) + " " + address_text(first) + "-" + address_text(end - 1) + std::string(suffix) + "\n";
        }
        word = {};
        suffix = {};
        if (split.kind != Kind::Unknown) {
            out += std::string(range_word(split.kind == Kind::Low ? HintRange::Split : HintRange::RtsSplit)) + " " +
                   address_text(split.first) + "-" + address_text(split.end - 1) + " " + address_text(split.high) + "\n";
        }
        split.kind = Kind::Unknown;
    };
    // A graphics object ends the stretch open unless it goes on from an
    // object as whole as its kind's (the range is cut into such from its
    // first address when read) of the same kind and colours.
    bool graphics_open = false;  // the stretch open is of graphics
    bool graphics_whole = false;  // and its last object is whole
    for (std::uint32_t a = map.basic_end(); a < image.end();) {
        if (const Graphic* graphic = graphic_range_at(map, a)) {
            std::uint32_t b = a + 1;
            const std::uint32_t object_end = std::min(graphic->address + graphic->size, image.end());
            while (b < object_end && map.kind(b) == graphic->kind) ++b;
            const bool free = std::none_of(users.begin() + a, users.begin() + b, [](bool taken) { return taken; });
            const HintRange range = graphics_range(graphic->kind);
            const std::string_view this_word = free ? range_word(range) : std::string_view{};
            const std::string_view this_suffix = graphic->multicolour && takes_multicolour(range) ? " multicolour" : "";
            const bool goes_on = graphics_open && !this_word.empty() && this_word == word && this_suffix == suffix &&
                                 graphics_whole && end == a && a == graphic->address;
            if (!goes_on) close();
            graphics_whole = a == graphic->address && b - a == graphic_full_size(graphic->kind);
            graphics_open = !this_word.empty();
            if (graphics_open) {
                if (!goes_on) first = a;
                word = this_word;
                suffix = this_suffix;
                end = b;
            }
            a = b;
            continue;
        }
        if (graphics_open) close();
        graphics_open = false;
        const std::uint32_t b = item_end(map, a);
        const Kind kind = map.kind(a);
        const bool free = std::none_of(users.begin() + a, users.begin() + b, [](bool taken) { return taken; });
        const auto target = map.target(a);
        if (free && target && (kind == Kind::Low || kind == Kind::LowMinus1)) {
            const bool continues = split.kind == kind && split.end == a;
            const auto high = highs.take(kind == Kind::LowMinus1, *target,
                                         continues ? std::optional(split.high + (a - split.first)) : std::nullopt);
            if (!continues || high != split.high + (a - split.first)) close();
            if (high) {
                if (split.kind == Kind::Unknown) split = {kind, a, a, *high};
                split.end = a + 1;
            }
            a = b;
            continue;
        }
        const std::string_view this_word = free ? range_word_of(kind) : std::string_view{};
        if (this_word != word || split.kind != Kind::Unknown) close();
        if (!this_word.empty()) {
            if (word.empty()) first = a;
            word = this_word;
            end = b;
        }
        a = b;
    }
    close();
}

}  // namespace

std::vector<std::pair<std::uint32_t, std::string_view>> image_labels(const Listing& listing, const Image& image) {
    std::vector<std::pair<std::uint32_t, std::string_view>> labels;
    for (const Symbol& symbol : listing.symbols) {
        if (!image.contains(symbol.address) && symbol.address != image.end()) continue;
        // A chip register the code names where the image's RAM lies under
        // the I/O area is an equate, no label of the image's.
        const bool equate = std::any_of(listing.equates.begin(), listing.equates.end(), [&](const Symbol& e) {
            return e.address == symbol.address && e.name == symbol.name;
        });
        if (!equate) labels.emplace_back(symbol.address, symbol.name);
    }
    return labels;
}

std::string write_hints(const MemoryMap& map, const std::vector<std::pair<std::uint32_t, std::string_view>>& labels,
                        std::string_view image_name, const Hints* read) {
    // The bytes the user's ranges cover: the analysis adds nothing there.
    std::vector<bool> users(0x10000, false);
    if (read != nullptr) {
        for (const RangeHint& range : read->ranges) {
            for (const auto& [first, last] : stretches(range)) std::fill(users.begin() + first, users.begin() + last + 1, true);
        }
    }
    std::string analysis;
    if (map.start.entry_in_image && !map.start.entry_in_basic) {
        const auto entry = static_cast<std::uint32_t>(map.start.entry);
        const bool said = read != nullptr && (users[entry] || std::any_of(read->entries.begin(), read->entries.end(),
                                                                          [&](const auto& e) { return e.first == entry; }));
        if (!said) analysis += "entry " + address_text(entry) + "\n";
    }
    if (read == nullptr || !read->run_cycles) analysis += "run-cycles " + std::to_string(map.run.budget) + "\n";
    write_ranges(map, users, analysis);
    for (const auto& [address, label] : labels) {
        if (read != nullptr && read->names.count(address) != 0) continue;
        analysis += "name " + address_text(address) + " " + std::string(label) + "\n";
    }
    std::string out;
    // The image's name stays inside its comment line, whatever it holds.
    if (read == nullptr) {
        out = "# Hints for ";
        append_comment_text(out, image_name);
        out += ", written by Tolvek from its analysis. Edit and run again:\n"
               "# entry ADDR, code/bytes/words/rts-words/text/screen/unknown FROM-TO,\n"
               "# split/rts-split FROM-TO HIGH, sprite/charset/bitmap FROM-TO [multicolour],\n"
               "# screen-memory/colour-data FROM-TO, name ADDR NAME, comment ADDR TEXT, labels FILE,\n"
               "# run-cycles N (the run's budget unless --run-cycles gives one).\n";
        return out + analysis;
    }
    // The user's lines as they were (in UTF-8, whatever the file read was,
    // and their line ends the platform's when written), then what the
    // analysis adds to them, if anything.
    out.reserve(read->text.size() + analysis.size() + 100);
    out += read->text;
    if (!out.empty() && out.back() != '\n') out += '\n';
    if (analysis.empty()) return out;
    out += "\n# ---- Added by Tolvek from its analysis of ";
    append_comment_text(out, image_name);
    out += ": what the lines above do not say ----\n";
    return out + analysis;
}

std::string write_vice_labels(const std::vector<std::pair<std::uint32_t, std::string_view>>& labels) {
    std::string out;
    for (const auto& [address, label] : labels) out += "al C:" + address_text(address).substr(1) + " ." + std::string(label) + "\n";
    return out;
}

}  // namespace tolvek
