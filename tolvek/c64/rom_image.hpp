// Images that are the C64's own ROMs, or replacements for them: BASIC at
// $A000-$BFFF, the KERNAL at $E000-$FFFF. Such an image is not a program
// loaded into RAM but the ROM the machine starts from: its vectors are
// entries, and it runs where our stand-ins would otherwise stand.
#pragma once

#include <cstdint>

#include "image.hpp"

namespace tolvek {

namespace c64 {
constexpr std::uint16_t kBasicColdStart = 0xa000;  // BASIC's cold and warm start addresses
constexpr std::uint16_t kBasicWarmStart = 0xa002;
constexpr std::uint16_t kBasicSignature = 0xa004;
inline constexpr std::uint8_t kBasicSignatureBytes[] = {0x43, 0x42, 0x4d, 0x42, 0x41, 0x53, 0x49, 0x43};  // "CBMBASIC"
constexpr std::uint16_t kBasicHeaderEnd = kBasicSignature + sizeof kBasicSignatureBytes;
constexpr std::uint32_t kRomSize = 0x2000;
}  // namespace c64

struct RomParts {
    bool basic = false;   // the image holds BASIC at $A000-$BFFF
    bool kernal = false;  // and/or the KERNAL at $E000-$FFFF
    bool any() const { return basic || kernal; }
};

// What of the ROMs the image is. It must start where a ROM starts ($A000
// or $E000) and hold the whole of it. The KERNAL's reset and interrupt
// vectors lead into it; BASIC's start addresses lead into BASIC's ROM or
// the KERNAL's, and it either carries its signature or comes with the
// KERNAL. A program loaded into the RAM under the ROMs starts elsewhere or
// is not shaped so.
RomParts rom_parts(const Image& image);

}  // namespace tolvek
