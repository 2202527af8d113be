// Data placed right after a jsr: routines that take their text or
// parameters from the bytes after the call pull the return address from
// the stack (pla / pla, or tsx and lda $0101,x), read through it and return
// past what they read. The trace must skip that data at each call.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "analysis/memory_map.hpp"
#include "emu/cpu6510.hpp"
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

// The memory a routine runs on while the model follows it from one call:
// the image's bytes, zero elsewhere (I/O and ROM too), and what the routine
// stores on top of them. A page is copied at the first store into it; the
// copies are dropped before the next call, so that no call sees what
// another stored. Made once for an image and kept in its memory map.
class ImageOverlay final : public Bus {
public:
    explicit ImageOverlay(const Image& image);
    ImageOverlay(const ImageOverlay&) = delete;
    ImageOverlay& operator=(const ImageOverlay&) = delete;

    // Back to the image as it is: what was stored is gone.
    void forget_stores();

    // Every page reads (the image's bytes or zeros); a page that has no
    // copy yet writes here.
    std::uint8_t io_read(std::uint16_t) override { return 0; }
    void io_write(std::uint16_t address, std::uint8_t value) override;
    void port_written() override {}

private:
    std::array<const std::uint8_t*, 256> image_page_{};  // each page as the image has it
    std::array<std::array<std::uint8_t, 256>, 2> edges_{};  // the pages the image begins and ends in
    std::array<std::uint8_t, 256> zeros_{};
    std::vector<std::uint8_t> copies_ = std::vector<std::uint8_t>(0x10000);  // page n's copy at n * 256
    std::vector<std::uint8_t> copied_;  // the pages that have a copy
    // The CPU's marks of what ran and was written: kept, never read.
    std::vector<std::uint8_t> marks_ = std::vector<std::uint8_t>(0x10000);
    std::vector<std::uint16_t> writers_ = std::vector<std::uint16_t>(0x10000);
};

// The data after one call.
struct InlineSpan {
    std::uint32_t length = 0;  // bytes after the jsr's three
    InlineForm form = InlineForm::None;
    // False: the routine goes back past its caller (to the caller's
    // caller, having pulled its return address), so nothing after the
    // call runs; what lies there is its data, of a length not known.
    bool returns = true;
};

// The data after the jsr at `call` as its routine reads it: where the
// routine returns to when run from that call (on the emulator's CPU, with
// calls out of the image returning at once), if that lies a little way after the
// call. Nothing where it returns right after the call or cannot be
// followed; not `returns` where it goes back past its caller. Asks the
// routine only when may_take_inline_data says so, and
// records the answer in map.inline_calls.routines.
InlineSpan inline_data_after(MemoryMap& map, std::uint32_t call);

// The kinds of the span's bytes, from the byte after the jsr at `call`:
// text (Petscii) where it reads as text, plain bytes elsewhere.
void inline_data_kinds(const Image& image, std::uint32_t call, const InlineSpan& span, std::vector<Kind>& kinds);

}  // namespace tolvek
