// Decoding one instruction of an image: its operand and where it leads.
#pragma once

#include <cstdint>
#include <optional>

#include "cpu/opcodes.hpp"
#include "image.hpp"

namespace tolvek {

// The operand of the instruction at `address` as a number (branch targets
// resolved); meaningful only for modes that carry an operand.
inline std::uint32_t operand_of(const Image& image, std::uint32_t address) {
    const Opcode& op = opcode(image.at(address));
    if (length_of(op.mode) == 3) {
        return image.word(address + 1);
    }
    const std::uint8_t low = image.at(address + 1);
    if (op.mode == Mode::Relative) {
        // The offset counts from the next instruction; targets wrap
        // around the 64 KiB address space like the CPU's program counter.
        const int offset = low < 0x80 ? low : low - 0x100;
        return static_cast<std::uint32_t>(static_cast<int>(address) + 2 + offset) & 0xffffu;
    }
    return low;
}

// Where control goes from the instruction at `address`: the target of a
// branch, jsr or jmp, or nothing.
inline std::optional<std::uint32_t> target_of(const Image& image, std::uint32_t address) {
    switch (flow_of(image.at(address))) {
    case Flow::Branch:
    case Flow::Call:
    case Flow::Jump: return operand_of(image, address);
    default: return std::nullopt;
    }
}

// Whether the instruction at `address` does the same on every C64 and has a
// mnemonic that assemblers turn into these very bytes; other instructions
// are written as bytes.
inline bool has_mnemonic(const Image& image, std::uint32_t address) {
    switch (opcode(image.at(address)).standing) {
    case Standing::Documented:
    case Standing::Stable: return true;
    case Standing::ZeroOnly: return image.contains(address + 1) && image.at(address + 1) == 0;
    default: return false;
    }
}

}  // namespace tolvek
