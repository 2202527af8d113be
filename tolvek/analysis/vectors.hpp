// Entries that the program's own words name: a cartridge's start
// addresses, and the vectors in the image that its code jumps through.
#pragma once

#include <cstdint>
#include <vector>

#include "analysis/memory_map.hpp"
#include "analysis/pairs.hpp"

namespace tolvek {

// A cartridge header in the image: the cold and warm start addresses at
// $8000 and $8002, then "CBM80" at $8004 (what the KERNAL checks at reset);
// or the same at $A000 in an image that starts there.
// Enters the two words as addresses and the signature as text, records the
// starts in map.start.cartridge and traces the code at them. Done before
// the entry is traced: a cartridge given its load address as the entry
// starts with these words, not with code.
void find_cartridge(MemoryMap& map);

// An image that is BASIC's or the KERNAL's ROM (c64/rom_image.hpp): the
// KERNAL's NMI, reset and IRQ vectors at $FFFA-$FFFF, BASIC's cold and
// warm start words at $A000 and its signature. Enters the words as
// addresses, records the parts in map.start.rom and traces the code the
// words lead to. Done before the entry is traced, as for a cartridge.
void find_rom_image(MemoryMap& map);

// The vectors in the image that known code jumps through with jmp (v) and
// that no known code writes: the word they hold when the program loads is
// where the jump goes. Enters each as an address word and traces the code
// it leads to. Returns whether it traced any.
bool trace_vectors_in_image(MemoryMap& map);

// The same for the vectors that known code writes before it jumps: the
// word at load may be a placeholder or lead to data, so it is taken only
// when all that it leads to decodes as clean code, as a guess. No guessed
// instruction starts at an address in `not_code`.
void guess_vectors_in_image(MemoryMap& map, const std::vector<std::uint32_t>& not_code);

// The vectors a program installs handlers in, by their first byte: BASIC's
// and the KERNAL's RAM vectors in page 3 (CINV for the IRQ, CBINV for BRK,
// NMINV, the hooks of BASIC and of the KERNAL's I/O) and the CPU's NMI and
// IRQ vectors, in the RAM under the KERNAL.
bool is_handler_vector(std::uint32_t address);

// The handlers the program installs: each pair of immediates its code
// stores into a vector (lda #<irq / sta $0314 / lda #>irq / sta $0315),
// and each vector a run left pointing at the image (map.run.vectors_left).
// Fills map.handlers with those that lead into the image.
void find_installed_handlers(MemoryMap& map, const std::vector<AddressPair>& pairs);

}  // namespace tolvek
