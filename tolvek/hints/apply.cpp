// The hints against the image and in the memory map, and the analysis
// written back as hints.
#include <algorithm>
#include <map>
#include <optional>
#include <string_view>

#include "analysis/trace.hpp"
#include "c64/basic.hpp"
#include "c64/symbols.hpp"
#include "cpu/opcodes.hpp"
#include "hints/hints.hpp"
#include "output/comment_text.hpp"

namespace tolvek {
namespace {


std::string where(const Hints& hints, int line) { return hints.file + ":" + std::to_string(line) + ": "; }

// The bytes a range covers: one stretch, or two for split tables.
std::vector<std::pair<std::uint32_t, std::uint32_t>> stretches(const RangeHint& range) {
    std::vector<std::pair<std::uint32_t, std::uint32_t>> out{{range.first, range.last}};
    if (range.kind == HintRange::Split || range.kind == HintRange::RtsSplit) {
        out.emplace_back(range.high, range.high + (range.last - range.first));
    }
    return out;
}

// The address a label that Tolvek makes up would name: L0835 and D0835,
// and D6510_ beside the port register D6510; in any letter case.
std::optional<std::uint32_t> label_address(std::string_view name) {
    if (name.size() == 6 && name[5] == '_') name.remove_suffix(1);
    if (name.size() != 5 || std::string_view("LlDd").find(name[0]) == std::string_view::npos) return std::nullopt;
    if (name.find_first_not_of("0123456789abcdefABCDEF", 1) != std::string_view::npos) return std::nullopt;
    return static_cast<std::uint32_t>(std::stoul(std::string(name.substr(1)), nullptr, 16));
}

std::uint16_t word_at(const Image& image, std::uint32_t address) {
    return static_cast<std::uint16_t>(image.at(address) | image.at(address + 1) << 8);
}

// The directive for a stretch of items of a kind in the map, or none (split
// tables are written as pairs of stretches).
std::string_view range_word_of(Kind kind) {
    switch (kind) {
    case Kind::Opcode: return "code";
    case Kind::Bytes: return "bytes";
    case Kind::Word: return "words";
    case Kind::WordMinus1: return "rts-words";
    case Kind::Petscii: return "text";
    case Kind::ScreenCode: return "screen";
    default: return {};
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
    std::uint32_t first = 0;
    std::uint32_t end = 0;
    struct Split {
        Kind kind = Kind::Unknown;  // Unknown: none open
        std::uint32_t first = 0, end = 0, high = 0;
    } split;
    const auto close = [&] {
        if (!word.empty()) out += std::string(word) + " " + address_text(first) + "-" + address_text(end - 1) + "\n";
        word = {};
        if (split.kind != Kind::Unknown) {
            out += std::string(split.kind == Kind::Low ? "split " : "rts-split ") + address_text(split.first) + "-" +
                   address_text(split.end - 1) + " " + address_text(split.high) + "\n";
        }
        split.kind = Kind::Unknown;
    };
    for (std::uint32_t a = map.basic_end(); a < image.end();) {
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

std::string check_hints(const Hints& hints, const Image& image) {
    const BasicProgram basic = find_basic(image);
    const std::uint32_t basic_end = basic.lines.empty() ? image.load : basic.end;
    for (const auto& [address, line] : hints.entries) {
        if (!image.contains(address)) return where(hints, line) + "the entry " + address_text(address) + " lies outside the image";
    }
    // A name may not be one that Tolvek or the C64 gives another address,
    // also in other letter case, which 64tass ignores.
    for (const auto& [address, name] : hints.names) {
        std::optional<std::uint32_t> taken = label_address(name);
        if (!taken) taken = find_known_by_name(name);
        if (taken && *taken != address) {
            return hints.file + ": the name '" + name + "' for " + address_text(address) +
                   " is the name of another address (" + address_text(*taken) + ", case ignored); choose another";
        }
    }
    // The line of the range that holds each byte (0: none so far), so that
    // a range is checked against all earlier ones in one pass over its bytes.
    std::vector<int> taken_by(0x10000, 0);
    for (const RangeHint& range : hints.ranges) {
        for (const auto& [first, last] : stretches(range)) {
            if (!image.contains(first) || !image.contains(last)) {
                return where(hints, range.line) + address_text(first) + "-" + address_text(last) + " lies outside the image (" +
                       address_text(image.load) + "-" + address_text(image.end() - 1) + ")";
            }
            if (first < basic_end) return where(hints, range.line) + address_text(first) + "-" + address_text(last) + " lies in the BASIC program";
            // Named: the earliest range it lies over.
            int overlapped = 0;
            for (std::uint32_t a = first; a <= last; ++a) {
                if (taken_by[a] != 0 && (overlapped == 0 || taken_by[a] < overlapped)) overlapped = taken_by[a];
            }
            if (overlapped != 0) {
                return where(hints, range.line) + address_text(first) + "-" + address_text(last) + " overlaps the range of line " +
                       std::to_string(overlapped);
            }
            std::fill(taken_by.begin() + first, taken_by.begin() + last + 1, range.line);
        }
        if (range.kind != HintRange::Code) continue;
        // Instruction after instruction from the start; the last one must
        // end with the range, not cut into what follows.
        std::uint32_t a = range.first;
        std::uint32_t last_start = a;
        while (a <= range.last) {
            last_start = a;
            a += instruction_length(image.at(a));
        }
        if (a != range.last + 1) {
            return where(hints, range.line) + "the instruction at " + address_text(last_start) +
                   " runs past the end of the code range " + address_text(range.first) + "-" + address_text(range.last);
        }
    }
    return {};
}

void apply_hints(const Hints& hints, MemoryMap& map) {
    const Image& image = map.image();
    for (const RangeHint& range : hints.ranges) {
        switch (range.kind) {
        case HintRange::Code: break;
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
                const std::uint32_t target = (word_at(image, a) + (minus1 ? 1u : 0u)) & 0xffff;
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
}

void trace_hints(const Hints& hints, MemoryMap& map) {
    for (const auto& [address, line] : hints.entries) {
        if (map.kind(address) == Kind::Unknown) trace_from(map, address, Source::Hint);
    }
    // Every instruction of a code range, so that routines one after the
    // other are all code. What is still nothing then (an opcode that is no
    // code for the CPU, bytes that other code cuts into) is plain bytes at
    // once, so that the range's bytes do not depend on what is found later.
    const Image& image = map.image();
    for (const RangeHint& range : hints.ranges) {
        if (range.kind != HintRange::Code) continue;
        for (std::uint32_t a = range.first; a <= range.last; a += instruction_length(image.at(a))) {
            if (map.kind(a) == Kind::Unknown) trace_from(map, a, Source::Hint);
        }
        for (std::uint32_t a = range.first; a <= range.last; ++a) {
            if (map.kind(a) == Kind::Unknown) map.set(a, Kind::Bytes, Source::Hint);
        }
    }
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
    if (map.entry_in_image && !map.entry_in_basic) {
        const auto entry = static_cast<std::uint32_t>(map.entry);
        const bool said = read != nullptr && (users[entry] || std::any_of(read->entries.begin(), read->entries.end(),
                                                                          [&](const auto& e) { return e.first == entry; }));
        if (!said) analysis += "entry " + address_text(entry) + "\n";
    }
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
               "# entry ADDR, code/bytes/words/rts-words/text/screen FROM-TO,\n"
               "# split/rts-split FROM-TO HIGH, name ADDR NAME, comment ADDR TEXT, labels FILE.\n";
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
