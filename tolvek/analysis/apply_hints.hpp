// The user's hints in the memory map: their ranges as items, their entries
// and code ranges traced.
#pragma once

#include <cstdint>
#include <vector>

#include "analysis/memory_map.hpp"
#include "hints/hints.hpp"

namespace tolvek {

// Enters the data ranges in the map (from the user: Source::Hint), before
// any tracing. Call check_hints first.
void apply_hints(const Hints& hints, MemoryMap& map);

// What an analysis found out about a graphics object that the hints gave
// (the same kind at the same address): how and where the program showed
// it is taken over into the hints' object (its colours, the instruction
// that showed it, how that was found), so that hints written from an
// analysis give the same headings when read back. Returns whether a
// hints' object took it; if not, the analysis adds the object itself where
// its bytes are free.
bool adopt_found_graphic(const Graphic& found, MemoryMap& map);

// Traces the entries and every instruction of the code ranges; what of a
// code range is not code then is plain bytes. After the entry given and the
// SYS entries are traced.
void trace_hints(const Hints& hints, MemoryMap& map);

// The bytes of the `unknown` ranges that are still unknown, held as plain
// bytes while the guesses run (an earlier analysis left them alone, and
// written as hints they must not come back as something else); entries,
// code ranges and the run have claimed what they lead to before. Returns
// the bytes held, for release_unknown.
std::vector<std::uint32_t> hold_unknown(const Hints& hints, MemoryMap& map);
void release_unknown(const std::vector<std::uint32_t>& held, MemoryMap& map);

}  // namespace tolvek
