#include "c64/rom_image.hpp"

#include <algorithm>
#include <iterator>

#include "c64/symbols.hpp"

namespace tolvek {
namespace {

bool holds(const Image& image, std::uint32_t start) {
    return image.contains(start) && image.contains(start + c64::kRomSize - 1);
}

bool in_kernal(std::uint32_t address) { return address >= c64::kKernalRom; }
bool in_basic_or_kernal(std::uint32_t address) {
    return (address >= c64::kBasicRom && address < c64::kBasicRomEnd) || in_kernal(address);
}

}  // namespace

RomParts rom_parts(const Image& image) {
    RomParts parts;
    if (image.load != c64::kBasicRom && image.load != c64::kKernalRom) return parts;
    parts.kernal = holds(image, c64::kKernalRom) && in_kernal(image.word(c64::kResetVector)) &&
                   in_kernal(image.word(c64::kIrqVector)) && in_kernal(image.word(c64::kNmiVector));
    if (image.load == c64::kBasicRom && holds(image, c64::kBasicRom) &&
        in_basic_or_kernal(image.word(c64::kBasicColdStart)) && in_basic_or_kernal(image.word(c64::kBasicWarmStart))) {
        const auto& signature = c64::kBasicSignatureBytes;
        const bool signed_rom = std::equal(std::begin(signature), std::end(signature),
                                           image.bytes.begin() + static_cast<std::ptrdiff_t>(image.offset(c64::kBasicSignature)));
        parts.basic = signed_rom || parts.kernal;
    }
    return parts;
}

}  // namespace tolvek
