// Tables of addresses that the code reads as pointers.
#pragma once

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

}  // namespace tolvek
