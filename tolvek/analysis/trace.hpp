// Telling code from data: tracing from the entry and, beyond that, from
// address tables and well-formed gaps.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "analysis/memory_map.hpp"
#include "cpu/decode.hpp"
#include "image.hpp"

namespace tolvek {

// Follows every path from `entry` as the CPU would, stopping at rts, rti,
// jmp, brk, or a byte that is no opcode of the map's CPU (jam, which halts
// the 6510, or any undocumented opcode for the documented instruction set
// only), and claims what it passes as code from `source`.
void trace_from(MemoryMap& map, std::uint32_t entry, Source source);

// What guessing has learnt so far, shared by all guesses of one run, and
// the room each guess works in (kept here so that guesses reuse it).
struct Guessing {
    explicit Guessing(const Image& image)
        : no_code(image.bytes.size(), 0), pending_kind(image.bytes.size() + 2, Kind::Unknown) {}
    std::vector<std::uint8_t> no_code;  // not 0: a guess running through here fails
    long steps_left = 4000000;   // instructions all guesses may decode

    // The current guess's claims, kept aside until it succeeds: per image
    // byte the kind it would give it (Unknown where it claims nothing; two
    // more at the end, always Unknown, so that the three bytes from any
    // instruction's start can be set without a loop), and the addresses of
    // its instructions, in the order claimed.
    std::vector<Kind> pending_kind;
    std::vector<std::uint32_t> pending;
    std::vector<std::uint32_t> work;  // paths still to follow
};

// Claims everything reachable from `roots` as code from `source` if all of
// it decodes cleanly (documented opcodes and a few stable undocumented
// ones, no brk, no clash with known code, no branch out of the image,
// nothing cut off); claims nothing otherwise.
// Adds the claimed addresses to `claimed` when given.
bool try_code(MemoryMap& map, Guessing& guessing, std::vector<std::uint32_t> roots, Source source,
              std::vector<std::uint32_t>* claimed = nullptr);

// The same for a single root, without building a list for it.
bool try_code(MemoryMap& map, Guessing& guessing, std::uint32_t root, Source source,
              std::vector<std::uint32_t>* claimed = nullptr);

// A table of addresses whose entries led to code.
struct AddressTable {
    std::uint32_t address = 0;  // of the first entry (of the low halves in split tables)
    std::uint32_t entries = 0;
    Kind kind = Kind::Word;     // Word, WordMinus1, or Low / LowMinus1 for split tables
    std::uint32_t high = 0;     // of the high halves, in split tables
};

// Adds code that plain tracing cannot reach: targets of address tables
// (also the rts trick's address-minus-one tables), pointers built from
// immediate pairs, and gaps that decode as well-formed routines. A
// candidate is taken only if everything reachable from it is clean code.
// Returns the tables whose entries led to code.
std::vector<AddressTable> find_more_code(MemoryMap& map);

// Enters the tables in the map as data that stands for addresses, where
// nothing else claimed their bytes. Done after all guessing: while it goes
// on, a table found by chance must not keep real code from being found.
void record_tables(MemoryMap& map, const std::vector<AddressTable>& tables);

}  // namespace tolvek
