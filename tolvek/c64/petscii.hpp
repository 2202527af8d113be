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

// Whether a PETSCII byte is a control code that text holds: colours,
// cursor moves, reverse on and off, clear and home, delete and insert, the
// switch of character set, line breaks.
inline constexpr std::array<bool, 256> kPetsciiControls = [] {
    std::array<bool, 256> controls{};
    for (const int byte : {0x05, 0x08, 0x09, 0x0a, 0x0d, 0x0e, 0x11, 0x12, 0x13, 0x14, 0x1c, 0x1d, 0x1e, 0x1f,
                           0x81, 0x8d, 0x8e, 0x90, 0x91, 0x92, 0x93, 0x94, 0x95, 0x96, 0x97, 0x98, 0x99, 0x9a,
                           0x9b, 0x9c, 0x9d, 0x9e, 0x9f}) {
        controls[static_cast<std::size_t>(byte)] = true;
    }
    return controls;
}();

inline bool is_petscii_control(std::uint8_t byte) { return kPetsciiControls[byte]; }

}  // namespace tolvek
