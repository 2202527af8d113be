// The hints against the image: whether what they say can be true of it.
#include <algorithm>
#include <optional>
#include <string_view>

#include "c64/basic.hpp"
#include "c64/symbols.hpp"
#include "cpu/opcodes.hpp"
#include "hints/hints.hpp"

namespace tolvek {
namespace {

std::string where(const Hints& hints, int line) { return hints.file + ":" + std::to_string(line) + ": "; }

// The address a label that Tolvek makes up would name: L0835 and D0835,
// and D6510_ beside the port register D6510; in any letter case.
std::optional<std::uint32_t> label_address(std::string_view name) {
    if (name.size() == 6 && name[5] == '_') name.remove_suffix(1);
    if (name.size() != 5 || std::string_view("LlDd").find(name[0]) == std::string_view::npos) return std::nullopt;
    if (name.find_first_not_of("0123456789abcdefABCDEF", 1) != std::string_view::npos) return std::nullopt;
    return static_cast<std::uint32_t>(std::stoul(std::string(name.substr(1)), nullptr, 16));
}

}  // namespace

std::vector<std::pair<std::uint32_t, std::uint32_t>> stretches(const RangeHint& range) {
    std::vector<std::pair<std::uint32_t, std::uint32_t>> out{{range.first, range.last}};
    if (range.kind == HintRange::Split || range.kind == HintRange::RtsSplit) {
        out.emplace_back(range.high, range.high + (range.last - range.first));
    }
    return out;
}

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

}  // namespace tolvek
