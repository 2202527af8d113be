// How the C64 shows a byte as text.
#pragma once

#include <array>
#include <cstdint>

namespace tolvek {

// The character a PETSCII byte stands for in the C64's upper/lower case
// set, as ACME's !pet writes it; 0 when it has no plain ASCII look. Row n of
// the table is byte n: looked up, as tests on data bytes mispredict half of
// the time.
inline constexpr std::array<char, 256> kPetsciiChars = [] {
    std::array<char, 256> chars{};
    for (int byte = 0; byte < 256; ++byte) {
        char c = 0;
        if (byte >= 0x41 && byte <= 0x5a) c = static_cast<char>(byte + 0x20);  // a-z
        if (byte >= 0xc1 && byte <= 0xda) c = static_cast<char>(byte - 0x80);  // A-Z
        if ((byte >= 0x20 && byte <= 0x40) || byte == 0x5b || byte == 0x5d) c = static_cast<char>(byte);
        chars[static_cast<std::size_t>(byte)] = c;
    }
    return chars;
}();

inline char petscii_char(std::uint8_t byte) { return kPetsciiChars[byte]; }

}  // namespace tolvek
