// Finding text among the bytes nobody claimed.
#pragma once

#include "analysis/memory_map.hpp"

namespace tolvek {

// Marks runs of printable PETSCII that read as words or numbers as text,
// among the bytes nothing else claimed.
void mark_text(MemoryMap& map);

}  // namespace tolvek
