// The user's hints in the memory map: their ranges as items, their entries
// and code ranges traced.
#pragma once

#include "analysis/memory_map.hpp"
#include "hints/hints.hpp"

namespace tolvek {

// Enters the data ranges in the map (from the user: Source::Hint), before
// any tracing. Call check_hints first.
void apply_hints(const Hints& hints, MemoryMap& map);

// Traces the entries and every instruction of the code ranges; what of a
// code range is not code then is plain bytes. After the entry given and the
// SYS entries are traced.
void trace_hints(const Hints& hints, MemoryMap& map);

}  // namespace tolvek
