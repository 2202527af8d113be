// Telling code from data: tracing from the entry and, beyond that, from
// address tables and well-formed gaps.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "basic.hpp"
#include "image.hpp"
#include "opcodes.hpp"

namespace tolvek {

enum class ByteKind : std::uint8_t {
    Data,     // not (yet) known to be code
    Code,     // first byte of an instruction
    Operand,  // later byte of an instruction
};

struct Analysis {
    std::vector<ByteKind> kind;  // one per image byte
    BasicProgram basic;          // empty unless the image starts with BASIC
    std::int64_t entry = 0;
    bool entry_in_image = false;
    bool entry_in_basic = false;

    bool is_code(const Image& image, std::uint32_t address) const {
        return image.contains(address) && kind[image.offset(address)] == ByteKind::Code;
    }
};

// Where control goes from the instruction at `address`: the target of a
// branch, jsr or jmp, or nothing.
std::optional<std::uint32_t> target_of(const Image& image, std::uint32_t address);

// The operand of the instruction at `address` as a number (branch targets
// resolved); meaningful only for modes that carry an operand.
inline std::uint32_t operand_of(const Image& image, std::uint32_t address) {
    const Opcode& op = opcode(image.at(address));
    if (length_of(op.mode) == 3) {
        return static_cast<std::uint32_t>(image.at(address + 1) | image.at(address + 2) << 8);
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

// Follows every path from the entry as the CPU would, stopping at rts, rti,
// jmp, brk, or a byte that is no documented opcode.
Analysis trace_program(const Image& image, std::int64_t entry);

// What guessing has learnt so far, shared by all guesses of one run, and
// the room each guess works in (kept here so that guesses reuse it).
struct Guessing {
    explicit Guessing(const Image& image)
        : no_code(image.bytes.size(), 0), pending_kind(image.bytes.size() + 2, ByteKind::Data) {}
    std::vector<std::uint8_t> no_code;  // not 0: a guess running through here fails
    long steps_left = 4000000;   // instructions all guesses may decode

    // The current guess's claims, kept aside until it succeeds: per image
    // byte the kind it would give it (Data where it claims nothing; two
    // more at the end, always Data, so that the three bytes from any
    // instruction's start can be set without a loop), and the addresses of
    // its instructions, in the order claimed.
    std::vector<ByteKind> pending_kind;
    std::vector<std::uint32_t> pending;
    std::vector<std::uint32_t> work;  // paths still to follow
};

// Claims everything reachable from `roots` as code if all of it decodes
// cleanly (documented opcodes, no brk, no clash with known code, no
// branch out of the image, nothing cut off); claims nothing otherwise.
// Adds the claimed addresses to `claimed` when given.
bool try_code(const Image& image, Analysis& analysis, Guessing& guessing, std::vector<std::uint32_t> roots,
              std::vector<std::uint32_t>* claimed = nullptr);

// The same for a single root, without building a list for it.
bool try_code(const Image& image, Analysis& analysis, Guessing& guessing, std::uint32_t root,
              std::vector<std::uint32_t>* claimed = nullptr);

// Adds code that plain tracing cannot reach: targets of address tables
// (also the rts trick's address-minus-one tables), pointers built from
// immediate pairs, and gaps that decode as well-formed routines. A
// candidate is taken only if everything reachable from it is clean code.
void find_more_code(const Image& image, Analysis& analysis);

}  // namespace tolvek
