// Where the program's own memory past the end of the image ends.
#pragma once

#include <vector>

#include "analysis/memory_map.hpp"
#include "analysis/pairs.hpp"

namespace tolvek {

// Sets map.own_memory_end from what the code does: the addresses past the
// end of the image that its instructions name and its address pairs build
// belong to the program (variables and buffers that move with it) as long
// as each lies within 1 KiB of the one before, starting at the end; an
// address with a name of its own (I/O, KERNAL, screen), one from $D000 up,
// or one on a 1 KiB boundary (a charset, screen or bitmap the program puts
// at a fixed place) ends the program's memory.
void find_own_memory(MemoryMap& map, const std::vector<AddressPair>& pairs);

}  // namespace tolvek
