// The whole analysis of an image: from its bytes and what we are told about
// it to the memory map.
#pragma once

#include <cstdint>

#include "analysis/memory_map.hpp"
#include "emu/run.hpp"
#include "image.hpp"

namespace tolvek {

struct Hints;

struct AnalysisOptions {
    std::int64_t entry = 0;  // where execution starts; may lie outside the image
    bool guesses = true;     // false: only what the trace from the entry finds
    bool undocumented = true;  // the 6510's undocumented opcodes are code; false: documented ones only
    const Hints* hints = nullptr;  // what the user said, checked against the image
    RunOptions run{.budget = 0};   // running the program to see what is code; a budget of 0: no run
};

// Finds the BASIC program, enters the hints, traces from the entry and the
// hinted entries, runs the program, guesses the code that the trace cannot reach and finds
// text. The map refers to `image`, which must
// outlive it.
MemoryMap analyse(const Image& image, const AnalysisOptions& options);

}  // namespace tolvek
