#include "number.hpp"

#include <limits>

namespace tolvek {

Number parse_number(std::string_view text) {
    std::uint64_t base = 10;
    if (text.starts_with('$')) {
        base = 16;
        text.remove_prefix(1);
    } else if (text.size() > 2 && (text.starts_with("0x") || text.starts_with("0X"))) {
        base = 16;
        text.remove_prefix(2);
    }
    if (text.empty()) return {};
    constexpr std::uint64_t kLimit = std::numeric_limits<std::uint64_t>::max();
    std::uint64_t value = 0;
    bool too_large = false;
    for (const char c : text) {
        int digit = -1;
        if (c >= '0' && c <= '9') digit = c - '0';
        if (base == 16 && c >= 'a' && c <= 'f') digit = c - 'a' + 10;
        if (base == 16 && c >= 'A' && c <= 'F') digit = c - 'A' + 10;
        if (digit < 0) return {};
        const auto d = static_cast<std::uint64_t>(digit);
        too_large = too_large || value > (kLimit - d) / base;
        if (!too_large) value = value * base + d;
    }
    if (too_large) return {std::nullopt, true};
    return {value};
}

std::optional<std::uint32_t> parse_address(std::string_view text) {
    const Number number = parse_number(text);
    if (!number.value || *number.value > 0xffff) return std::nullopt;
    return static_cast<std::uint32_t>(*number.value);
}

}  // namespace tolvek
