// The hints against the image and in the memory map, and the analysis
// written back as hints.
#include <algorithm>

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

std::uint16_t word_at(const Image& image, std::uint32_t address) {
    return static_cast<std::uint16_t>(image.at(address) | image.at(address + 1) << 8);
}

}  // namespace

std::string check_hints(const Hints& hints, const Image& image) {
    const BasicProgram basic = find_basic(image);
    const std::uint32_t basic_end = basic.lines.empty() ? image.load : basic.end;
    for (const auto& [address, line] : hints.entries) {
        if (!image.contains(address)) return where(hints, line) + "the entry " + address_text(address) + " lies outside the image";
    }
    // A name may not be one that Tolvek or the C64 gives another address.
    for (const auto& [address, name] : hints.names) {
        const bool label_like = name.size() >= 5 && (name[0] == 'L' || name[0] == 'D') &&
                                name.find_first_not_of("0123456789abcdef", 1) >= 5;
        const auto known = find_known_by_name(name);
        if ((label_like && std::stoul(name.substr(1, 4), nullptr, 16) != address) || (known && *known != address)) {
            return hints.file + ": the name '" + name + "' for " + address_text(address) +
                   " is the name of another address; choose another";
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
                        std::string_view image_name) {
    const Image& image = map.image();
    // The name stays inside its comment line, whatever it holds.
    std::string out = "# Hints for ";
    append_comment_text(out, image_name);
    out += ", written by Tolvek from its analysis. Edit and run again:\n"
           "# entry ADDR, code/bytes/words/rts-words/text/screen FROM-TO,\n"
           "# split/rts-split FROM-TO HIGH, name ADDR NAME, comment ADDR TEXT, labels FILE.\n";
    if (map.entry_in_image && !map.entry_in_basic) out += "entry " + address_text(static_cast<std::uint32_t>(map.entry)) + "\n";
    // Stretches of one kind, in address order; split tables as pairs.
    const auto word = [](Kind kind) -> std::string_view {
        switch (kind) {
        case Kind::Opcode:
        case Kind::Operand: return "code";
        case Kind::Bytes: return "bytes";
        case Kind::Word: return "words";
        case Kind::WordMinus1: return "rts-words";
        case Kind::Petscii: return "text";
        case Kind::ScreenCode: return "screen";
        default: return {};
        }
    };
    for (std::uint32_t a = map.basic_end(); a < image.end();) {
        const Kind kind = map.kind(a);
        const std::string_view name = word(kind);
        if (name.empty()) {
            if (kind == Kind::Low || kind == Kind::LowMinus1) {
                // A run of low halves and the high halves that go with them.
                const auto target = map.target(a);
                std::uint32_t b = a;
                while (b < image.end() && map.kind(b) == kind) ++b;
                std::uint32_t high = 0;
                for (std::uint32_t h = image.load; target && h < image.end(); ++h) {
                    const Kind hk = map.kind(h);
                    if ((hk == Kind::High || hk == Kind::HighMinus1) && map.target(h) == target &&
                        image.at(h) == ((*target - (kind == Kind::LowMinus1 ? 1u : 0u)) >> 8 & 0xff)) {
                        high = h;
                        break;
                    }
                }
                if (high != 0) {
                    out += std::string(kind == Kind::Low ? "split " : "rts-split ") + address_text(a) + "-" + address_text(b - 1) + " " +
                           address_text(high) + "\n";
                }
                a = b;
            } else {
                ++a;
            }
            continue;
        }
        std::uint32_t b = a + 1;
        while (b < image.end() && (word(map.kind(b)) == name || map.kind(b) == Kind::Continued)) ++b;
        out += std::string(name) + " " + address_text(a) + "-" + address_text(b - 1) + "\n";
        a = b;
    }
    for (const auto& [address, label] : labels) out += "name " + address_text(address) + " " + std::string(label) + "\n";
    return out;
}

std::string write_vice_labels(const std::vector<std::pair<std::uint32_t, std::string_view>>& labels) {
    std::string out;
    for (const auto& [address, label] : labels) out += "al C:" + address_text(address).substr(1) + " ." + std::string(label) + "\n";
    return out;
}

}  // namespace tolvek
