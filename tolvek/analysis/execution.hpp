// Finding code by running the program: what ran is code, and the paths
// that did not run from there are traced as usual.
#pragma once

#include "analysis/memory_map.hpp"
#include "emu/run.hpp"

namespace tolvek {

// Written code that copies fewer image bytes is a routine copied to run
// elsewhere, not the program moved to where it runs (not what an unpacker
// unpacked).
constexpr std::size_t kSmallestUnpacked = 256;
// Nor is a hand-over to fewer bytes than this.
constexpr std::size_t kSmallestProgram = 16;

// Runs the program from the entry and from each SYS entry (emu/run) and
// enters what it saw in the map: every instruction that ran from the
// image's own bytes is code (Source::Run); branches not taken are traced
// from there; the code bytes the program stores into, the code it wrote
// and ran elsewhere, what it unpacked, and how each run ended are kept in
// the map for the header and the comments.
void find_code_by_running(MemoryMap& map, const RunOptions& options);

}  // namespace tolvek
