// Addresses that code builds from two immediates: the low half in one
// instruction, the high half in another.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "analysis/memory_map.hpp"
#include "c64/symbols.hpp"

namespace tolvek {

struct AddressPair {
    std::uint32_t low = 0;   // the instruction with the low half as its immediate
    std::uint32_t high = 0;  // the one with the high half
    std::uint32_t value = 0; // the 16-bit value the halves make
    // What the value stands for is value + 1 where it was pushed for an rts
    // to jump through.
    std::int32_t adjust = 0;
    std::optional<std::uint32_t> stored_to;  // the address of the low byte, where stored
    bool sum = false;        // both halves were added to a pointer (adc #)

    // The address the pair stands for.
    std::uint32_t target() const { return (value + static_cast<std::uint32_t>(adjust)) & 0xffff; }
};

// Follows the known code from instruction to instruction and pairs two
// immediates whose halves end up as one address: loaded into two registers
// for a call (A and X, X and Y, A and Y), stored into the two bytes of a
// pointer (also with the result of adc #imm, for pointer arithmetic), or
// pushed high byte first for an rts. What comes together on different paths
// is not paired: the tracking starts afresh wherever code can be entered.
std::vector<AddressPair> find_address_pairs(const MemoryMap& map);

// Whether the ROM routine at `routine` takes an address in the registers
// `low` and `high` (reg::): X and Y for SETNAM, LOAD, SAVE, MEMTOP and
// MEMBOT, A and Y for BASIC's string output at $AB1E.
bool takes_address_in(std::uint32_t routine, std::uint8_t low, std::uint8_t high);

// Where a value read as an address may point: anywhere but into an
// instruction or a word, and at an instruction only where a routine starts
// (called, jumped to, entered by a run, or after code that does not fall
// through); anywhere a run stored (variables over code that ran, as cc65's
// lie over its start-up code). Numbers that lie in the program's range
// (frequencies, coordinates, scores) land inside instructions or routines
// as often as not; pointers do not.
class PointerTargets {
public:
    explicit PointerTargets(const MemoryMap& map);
    bool plausible(std::uint32_t target) const;

private:
    const MemoryMap& map_;
    std::vector<bool> called_;  // per image byte: a jsr or jmp of known code goes there
};

// Enters in the map the pairs whose address lies in the image or in the
// program's own memory past it (map.own_memory_end), so that both halves
// are written as halves of a label; other pairs stay numbers, and so do
// pairs whose address no pointer would have (PointerTargets) unless they
// go to a zero-page pointer or a vector or are pushed for an rts (code
// that patches itself builds such ones).
void record_pairs(MemoryMap& map, const std::vector<AddressPair>& pairs);

// Whether a pointer stored at `address` is one that the KERNAL, BASIC or
// the CPU jumps through: the RAM vectors in page 3 and the hardware vectors.
constexpr bool is_vector(std::uint32_t address) {
    return (address >= c64::kRamVectors && address < c64::kRamVectorsEnd) ||
           (address >= c64::kNmiVector && address <= c64::kIrqVector);
}

// Whether `address` is the processor port, a register of the VIC-II, the
// SID or a CIA, or a sprite pointer of the usual screen: what is stored there is a setting (a
// colour, a frequency, a timer, a sprite's shape), never half of an
// address.
constexpr bool is_chip_register(std::uint32_t address) {
    return address <= 0x01 ||  // the processor port: memory layout and cassette
           (address >= c64::kIoArea && address < c64::kSidEnd) || (address >= c64::kCias && address < c64::kCiasEnd) ||
           (address >= c64::kSpritePointers && address < c64::kSpritePointersEnd);
}

}  // namespace tolvek
