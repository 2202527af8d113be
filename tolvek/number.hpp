// Numbers as users write them, on the command line and in hints files:
// decimal, or hex as $c000 or 0xc000.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace tolvek {

struct Number {
    std::optional<std::uint64_t> value;  // nothing when malformed or too large
    bool too_large = false;              // beyond 64 bits: it would have wrapped around into another
};

// Digits, or hex digits after $, 0x or 0X; nothing else (no sign, no
// blanks). A malformed number is malformed however large it is.
Number parse_number(std::string_view text);

// An address, 0..$FFFF, written as parse_number reads it.
std::optional<std::uint32_t> parse_address(std::string_view text);

}  // namespace tolvek
