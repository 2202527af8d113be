// Running a program on a C64 of our own: RAM, the processor port's banking,
// the raster and timer interrupts, and stand-ins for the ROM routines that
// programs call (the ROMs themselves are not ours to ship). The run never
// touches a file; it tells the analysis what ran, what was written and how
// it ended.
#pragma once

#include <array>
#include <cstdint>
#include <compare>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "emu/cpu6510.hpp"
#include "image.hpp"

namespace tolvek {

// Cycles a run may take unless told otherwise (about ten seconds of a
// C64's time).
constexpr std::uint64_t kDefaultRunCycles = 10'000'000;
// About three hours of a C64's time: more would only keep the user waiting.
constexpr std::uint64_t kMaxRunCycles = 10'000'000'000;

// A program that neither runs an instruction anywhere new nor stores into a
// byte for the first time in this many cycles is waiting (for a key, say)
// or computing over what it has seen: the run ends there. Unpackers and
// code that sets things up find something new all the time. A
// thirty-second of the budget (about 15 frames by default).
constexpr std::uint64_t patience_for(std::uint64_t budget) { return budget / 32; }

// An unpacker still at work when the budget runs out (running code it wrote
// itself, before it handed over to what it unpacked, storing as it goes)
// gets more, a budget at a time, up to this many cycles in all (under half
// a second on a PC, a minute of a C64's time): slow decrunchers need 20 to
// 50 million.
constexpr std::uint64_t kUnpackCeiling = 60'000'000;

struct RunOptions {
    std::uint64_t budget = kDefaultRunCycles;  // cycles at most
    std::uint64_t patience = patience_for(budget);
    // How far an unpacker's budget may grow (never below `budget`).
    std::uint64_t ceiling = kUnpackCeiling;
    // When the program waits while it reads the keyboard or a joystick,
    // go back to that moment once for each key and direction it may wait
    // for, press it and run on (emu/explore).
    bool press_inputs = true;
};

enum class RunEnd : std::uint8_t {
    ReturnedToBasic,    // returned from the entry, or jumped to BASIC's warm start
    Waited,             // looped without news at end_address (in the main program, not an interrupt)
    Halted,             // a halting opcode at end_address
    RomWithoutStandIn,  // jumped into ROM where no stand-in answers, at end_address
    NothingNew,         // still computing at end_address, but found nothing new for `patience` cycles
    BudgetUsed,         // still going when the budget ran out
};

// The program handed over to bytes it wrote: code elsewhere jumped there
// and did not come back (an unpacker's last jump, code copied elsewhere).
// Memory as it stood at that moment, over the program the bytes around the
// entry make: from $0801 where they hold a BASIC program there, without the
// unpacker's work areas around it (see emu/run.cpp).
struct WrittenCode {
    std::uint16_t start = 0;  // the program's first byte
    std::uint32_t end = 0;    // exclusive
    std::uint16_t entry = 0;  // where execution reached it
    std::uint16_t from = 0;   // the instruction that went there
    std::uint64_t cycle = 0;  // when
    std::vector<std::uint8_t> bytes;  // start..end at that moment
    // Nine in ten of its bytes were copied from bytes as far away as its
    // entry's: code moved to run elsewhere (an unpacker, say), not a
    // program unpacked.
    bool moved = false;
};

// Code the program wrote and then called with jsr from its own code, and
// that returned there: generated code (speedcode, unrolled loops).
struct GeneratedCode {
    std::uint16_t start = 0;
    std::uint32_t end = 0;     // exclusive
    std::uint16_t entry = 0;   // where the jsr led
    std::uint16_t caller = 0;  // the jsr
};

// A key or a joystick's direction or fire button pressed at the wait.
struct Input {
    enum class Device : std::uint8_t { Key, Joystick1, Joystick2 };
    Device device = Device::Key;
    // A key: the PETSCII code GETIN returns for it. A joystick: the bit of
    // its port, 0 up, 1 down, 2 left, 3 right, 4 fire.
    std::uint8_t code = 0;

    friend auto operator<=>(const Input&, const Input&) = default;
};

// An input that led to code that had not run before, at these ranges
// (start, exclusive end) of RAM.
struct InputTry {
    Input input;
    std::vector<std::pair<std::uint16_t, std::uint32_t>> new_code;
};

// Whether the VIC-II sees the character ROM at `address` (in $0000-$FFFF):
// $1000-$1FFF of banks 0 and 2, not RAM.
constexpr bool vic_sees_rom(std::uint32_t address) { return address < 0x10000 && (address & 0x7000) == 0x1000; }

// What the VIC-II showed at moments of a run (at raster interrupt latches,
// at frame starts and at the end): its registers, the VIC bank, the sprite
// pointers and who set them. Samples of the same display (same bank, modes,
// bases, enabled sprites and their pointers) are one, with what changes
// from frame to frame (colours, writers, the bitmap's colours, what the
// program had stored over the memory shown) as last seen.
struct VicSample {
    std::uint64_t first_cycle = 0;  // when first shown
    std::uint64_t last_cycle = 0;   // and last
    // How often it was sampled (the end of the run counts twice: the
    // display stays): once is a moment between two stores that change it.
    std::uint32_t times = 0;
    std::uint8_t bank = 0;          // 0-3: the VIC sees bank * $4000 on ($DD00 with $DD02)
    std::uint8_t d011 = 0, d016 = 0, d018 = 0, d015 = 0, d01c = 0;
    std::array<std::uint8_t, 15> colours{};  // $D020-$D02E, 0-15
    std::array<std::uint8_t, 8> pointers{};  // at screen + $3F8 in the VIC's bank
    // The instruction that last stored each pointer, $D018 and $DD00 (0:
    // none did: as the machine started, or as the image loaded).
    std::array<std::uint16_t, 8> pointer_writers{};
    std::uint16_t d018_writer = 0;
    std::uint16_t dd00_writer = 0;
    // What the program had stored into, of the memory the VIC fetched from
    // (bits of kShown...): the image no longer holds what was shown there.
    std::uint16_t written = 0;
    // In bitmap mode: the screen (the cells' colours) and colour RAM, 1000
    // bytes each; empty otherwise.
    std::vector<std::uint8_t> screen;
    std::vector<std::uint8_t> colour_ram;

    // Of each area stored into: the image address its first byte was
    // copied from and how many bytes from there on were copied in order
    // from the bytes that follow it (0: none). Index: sprite n, then
    // kCopiedCharset, kCopiedBitmap, kCopiedScreen.
    static constexpr std::size_t kCopiedCharset = 8;
    static constexpr std::size_t kCopiedBitmap = 9;
    static constexpr std::size_t kCopiedScreen = 10;
    std::array<std::uint16_t, 11> copied_from{};
    std::array<std::uint16_t, 11> copied_bytes{};

    static constexpr std::uint16_t kShownCharset = 0x100;  // bits 0-7: sprite n's block
    static constexpr std::uint16_t kShownBitmap = 0x200;
    static constexpr std::uint16_t kShownScreen = 0x400;

    std::uint32_t vic_base() const { return bank * 0x4000u; }
    std::uint32_t screen_base() const { return vic_base() + (d018 >> 4) * 0x400u; }
    std::uint32_t charset_base() const { return vic_base() + ((d018 >> 1) & 7) * 0x800u; }
    std::uint32_t bitmap_base() const { return vic_base() + ((d018 & 8) != 0 ? 0x2000u : 0u); }
    bool bitmap_mode() const { return (d011 & 0x20) != 0; }
    bool display_on() const { return (d011 & 0x10) != 0; }
    // Whether the display is the same as `other`'s (what deduplicates).
    bool same_display(const VicSample& other) const;
};

// At most so many different displays are kept per run.
constexpr std::size_t kMostVicSamples = 128;

struct RunResult {
    RunEnd end = RunEnd::BudgetUsed;
    std::uint16_t end_address = 0;
    std::uint64_t cycles = 0;
    // The budget grew for an unpacker at work (up to RunOptions::ceiling);
    // ceiling_reached: it was still at work there.
    bool budget_grown = false;
    bool ceiling_reached = false;
    std::vector<std::uint8_t> marks;          // 64 KiB of mark:: bits (emu/cpu6510.hpp)
    std::vector<std::uint16_t> first_writer;  // 64 KiB: the instruction that first stored there
    std::vector<std::uint32_t> first_ran;     // 64 KiB: when an image byte first ran (Cpu6510's Bus::first_ran)
    // A run that halted inside an interrupt handler (or after a brk), not
    // back with rti: when the CPU left the main program for it.
    std::optional<std::uint64_t> halted_in_interrupt_since;
    std::vector<std::uint8_t> memory;         // the 64 KiB of RAM as the run left them
    std::vector<std::uint16_t> origins;       // 64 KiB: where each byte came from (Bus::origins)
    // The addresses it jumped to that were made of bytes it copied, each once.
    std::vector<CopiedPointer> copied_pointers;
    // The pointers made of bytes it copied that it read or wrote through,
    // each once (their `target` the pointer's value).
    std::vector<CopiedPointer> data_pointers;
    std::string printed;                      // the PETSCII the program printed through the KERNAL
    // The ROM routines it called that have no stand-in, in address order:
    // the run went on as if each returned at once, changing nothing.
    std::vector<std::uint16_t> calls_without_stand_in;
    // The last hand-over to written bytes (of those not much smaller than
    // the largest), if any: what an unpacker unpacked, the last stage of
    // several.
    std::optional<WrittenCode> written_code;
    std::vector<GeneratedCode> generated_code;
    // The jsr instructions whose return addresses were still on the stack
    // when the run ended (a program waiting for a key inside a KERNAL call
    // has not returned from it yet), innermost first.
    std::vector<std::uint16_t> calls_not_returned;
    // The inputs pressed at the wait that led to new code, and the cycles
    // all the tries took (on top of `cycles`).
    std::vector<InputTry> inputs;
    std::uint64_t input_cycles = 0;
    // What the VIC-II showed, each display once, in the order first shown.
    std::vector<VicSample> vic_samples;
};

// Runs `image` loaded into a freshly started C64 from `entry`, as SYS
// would call it.
RunResult run_program(const Image& image, std::uint16_t entry, const RunOptions& options);

}  // namespace tolvek
