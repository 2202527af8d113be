// How the C64 shows a byte as text: PETSCII, and screen codes.
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

// The character a screen code (a byte in screen memory) stands for, as
// ACME's !scr writes it: $01-$1A a-z (capitals in the upper case and
// graphics set), $41-$5A A-Z (in the lower and upper case set; graphics in
// the other), $00 @; 0 when it has no plain ASCII look.
inline constexpr std::array<char, 256> kScreenChars = [] {
    std::array<char, 256> chars{};
    for (int byte = 0; byte < 256; ++byte) {
        char c = 0;
        if (byte == 0x00) c = '@';
        if (byte >= 0x01 && byte <= 0x1a) c = static_cast<char>(byte + 0x60);  // a-z
        if (byte == 0x1b || byte == 0x1d) c = static_cast<char>(byte + 0x40);  // [ ]
        if (byte >= 0x20 && byte <= 0x3f) c = static_cast<char>(byte);
        if (byte >= 0x41 && byte <= 0x5a) c = static_cast<char>(byte);         // A-Z
        chars[static_cast<std::size_t>(byte)] = c;
    }
    return chars;
}();

inline char screen_char(std::uint8_t byte) { return kScreenChars[byte]; }

}  // namespace tolvek
