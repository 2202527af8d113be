// Data placed right after a jsr: routines that take their text or
// parameters from the bytes after the call pull the return address from
// the stack (pla / pla, or tsx and lda $0101,x), read through it and return
// past what they read. The trace must skip that data at each call.
#pragma once

#include <cstdint>
#include <vector>

#include "analysis/memory_map.hpp"
#include "image.hpp"

namespace tolvek {

// The C128 KERNAL's print-immediate: prints the zero-terminated text after
// the call.
inline constexpr std::uint32_t kPrintImmediate = 0xff7d;

// Whether the routine at `routine` may take data from behind its call, by a
// look at its first instructions: before any call, jump or branch it pulls
// both bytes of the return address (two pla with nothing pushed before) or
// reads it on the stack (tsx, then $0101,x or $0102,x, higher by what it
// pushed). Also true for print-immediate outside
// the image.
bool may_take_inline_data(const Image& image, std::uint32_t routine);

// The data after one call.
struct InlineSpan {
    std::uint32_t length = 0;  // bytes after the jsr's three
    InlineForm form = InlineForm::None;
};

// The data after the jsr at `call` as its routine reads it: where the
// routine returns to when run from that call (in a small model of the CPU
// that skips calls out of the image), if that lies a little way after the
// call. Nothing where it returns right after the call or cannot be
// followed. Asks the routine only when may_take_inline_data says so, and
// records the answer in map.inline_routines.
InlineSpan inline_data_after(MemoryMap& map, std::uint32_t call);

// The kinds of the span's bytes, from the byte after the jsr at `call`:
// text (Petscii) where it reads as text, plain bytes elsewhere.
void inline_data_kinds(const Image& image, std::uint32_t call, const InlineSpan& span, std::vector<Kind>& kinds);

}  // namespace tolvek
