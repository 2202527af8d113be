// Tables of addresses that the code reads as pointers.
#pragma once

#include <cstdint>
#include <vector>

#include "analysis/memory_map.hpp"
#include "analysis/pairs.hpp"

namespace tolvek {

// Enters as address words the tables whose entries the code reads in pairs:
// `lda t,x` and `lda t+1,x` (or ldx, ldy; with x or y) close together and
// not straight into the I/O chips, or a base address that code adds an index
// to (`adc #<t` ... `adc #>t`). A table runs from its start as long as its
// words are addresses in the image or in the program's own memory and
// nothing else claimed their bytes; it needs two such words at least.
void find_pointer_tables(MemoryMap& map, const std::vector<AddressPair>& pairs);

// Jump tables that known code reads: `lda t+1,x / pha / lda t,x / pha` and
// split `lda hi,x / pha / lda lo,x / pha` before an rts (addresses minus
// one), and tables of addresses, split or not, read into the pointer of a
// jmp (p) that the code goes on to, or into the operand of a jmp or jsr.
// Enters the tables and traces the code at their targets. Returns whether
// it found any.
bool find_jump_tables(MemoryMap& map);

// A code address that a run made of two image bytes it copied (the low
// half at `low`, the high one at `high`, the address less `adjust`), as
// the run's origins showed.
struct CopiedAddress {
    std::uint32_t low = 0;
    std::uint32_t high = 0;
    std::uint32_t adjust = 0;
};

// Enters those bytes as an address (a word when the halves lie together,
// else halves of split tables) and traces the code it leads to. Only the
// entries the program used: the words after one in a table of function
// pointers may be pointers to text. Returns whether it found any.
bool follow_copied_addresses(MemoryMap& map, const std::vector<CopiedAddress>& addresses);

// The pointers a run read or wrote through that it made of image bytes
// unchanged (map.run.pointers_used) are addresses: of data words, a word
// (or halves, where they lie apart), of instructions' immediates, halves
// of an address. Only where the address lies in the image or the
// program's own memory past it, and nothing else claimed the bytes. Done
// once own_memory_end is known.
void record_pointers_used(MemoryMap& map);

}  // namespace tolvek
