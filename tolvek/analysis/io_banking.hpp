// Where the I/O area is visible: the processor port at $01 decides
// whether $D000-$DFFF holds the chips or RAM (or the character ROM).
#pragma once

#include <cstdint>
#include <vector>

#include "analysis/memory_map.hpp"
#include "c64/symbols.hpp"

namespace tolvek {

constexpr bool in_io_area(std::uint32_t address) { return address >= c64::kIoArea && address < c64::kIoAreaEnd; }

// Fills map.io_hidden: the instructions that run with the I/O switched out,
// as the values the code stores into $01 show. Every instruction is
// followed along the code's paths from where it can be entered (with $01 =
// $37, as BASIC and the KERNAL leave it); the I/O is hidden at an
// instruction when every path leaves $01 with the same known value, and
// that value switches the I/O out (bits 0-1 both clear, or bit 2 clear).
// Nothing is hidden where no code stores into $01. Returns the addresses
// in the image that instructions name as chip registers (see names_chip),
// in no particular order and possibly repeated.
std::vector<std::uint32_t> find_hidden_io(MemoryMap& map);

// Whether `target`, named by the instruction at `instruction` as data (read
// or written, or built as an address from immediates), is a chip register
// there rather than the image's own byte: it lies in the image's part of
// the I/O area, and the I/O is visible where the instruction runs. Calls and
// jumps never name chips.
bool names_chip(const MemoryMap& map, std::uint32_t instruction, std::uint32_t target);

}  // namespace tolvek
