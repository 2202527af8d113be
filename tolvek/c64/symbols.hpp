// Well-known C64 addresses and their customary names.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace tolvek {

// Addresses the analyses ask about by name; the known symbols below name
// them from here.
namespace c64 {
constexpr std::uint16_t kProcessorPort = 0x0001;     // R6510: which ROMs and whether the I/O are visible
constexpr std::uint16_t kRamVectors = 0x0300;        // IERROR: BASIC's and the KERNAL's RAM vectors from here
constexpr std::uint16_t kRamVectorsEnd = 0x0334;     // past ISAVE, the last of them
// A cartridge in the expansion port shows its ROM here; at reset the
// KERNAL looks for the signature and, if it is there, starts through the
// cold start address, the first word (the second: the warm start, for NMI).
// Images of a cartridge's upper ROM, loaded at $A000, carry the same
// header there.
constexpr std::uint16_t kCartridgeRom = 0x8000;
constexpr std::uint16_t kUpperCartridgeRom = 0xa000;
constexpr std::uint16_t kCartridgeWarmStart = 2;  // from the ROM's start; the cold start at 0
constexpr std::uint16_t kCartridgeSignature = 4;
inline constexpr std::uint8_t kCartridgeSignatureBytes[] = {0xc3, 0xc2, 0xcd, 0x38, 0x30};  // "CBM80" in PETSCII
constexpr std::uint16_t kCartridgeHeaderSize = kCartridgeSignature + sizeof kCartridgeSignatureBytes;
constexpr std::uint16_t kBasicRom = 0xa000;
constexpr std::uint16_t kBasicRomEnd = 0xc000;
constexpr std::uint16_t kStrout = 0xab1e;            // BASIC: prints the string at A (low), Y (high)
constexpr std::uint16_t kIoArea = 0xd000;            // the chips, colour RAM and the expansion port's I/O
constexpr std::uint16_t kIoAreaEnd = 0xe000;
constexpr std::uint16_t kSidEnd = 0xd800;            // VIC-II from $D000, SID from $D400
constexpr std::uint16_t kCias = 0xdc00;              // CIA 1 and CIA 2
constexpr std::uint16_t kCiasEnd = 0xde00;
// The sprite pointers of the screen at $0400, where it is unless moved:
// block numbers of the sprites' shapes.
constexpr std::uint16_t kSpritePointers = 0x07f8;
constexpr std::uint16_t kSpritePointersEnd = 0x0800;
constexpr std::uint16_t kKernalRom = 0xe000;
constexpr std::uint16_t kBasicProgram = 0x0801;      // where BASIC programs start
constexpr std::uint16_t kMemtop = 0xff99;
constexpr std::uint16_t kMembot = 0xff9c;
constexpr std::uint16_t kSetnam = 0xffbd;
constexpr std::uint16_t kLoad = 0xffd5;
constexpr std::uint16_t kSave = 0xffd8;
constexpr std::uint16_t kNmiVector = 0xfffa;
constexpr std::uint16_t kResetVector = 0xfffc;
constexpr std::uint16_t kIrqVector = 0xfffe;
}  // namespace c64

struct KnownSymbol {
    std::uint16_t address;
    std::uint16_t size;  // bytes covered: 2 for a vector, 1 for a register
    std::string_view name;
};

// The known symbol covering this address, if any.
std::optional<KnownSymbol> find_known(std::uint32_t address);

// Whether one of the known symbols has this name.
bool is_known_name(std::string_view name);

// The address of the known symbol of this name, case ignored (64tass
// ignores it).
std::optional<std::uint32_t> find_known_by_name(std::string_view name);

}  // namespace tolvek
