// The memory map: for every byte of the image, what it is and why we
// believe so. Every analysis writes into it and every writer reads from it.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <vector>

#include "c64/basic.hpp"
#include "c64/rom_image.hpp"
#include "emu/run.hpp"
#include "image.hpp"

namespace tolvek {

class ImageOverlay;  // analysis/inline_data.hpp

enum class Kind : std::uint8_t {
    Unknown,     // nothing is known about the byte
    Opcode,      // first byte of an instruction
    Operand,     // later byte of an instruction
    Continued,   // later byte of a data item: the high byte of a word
    Bytes,       // data: plain bytes
    Word,        // data: a 16-bit address, low byte first (then Continued)
    WordMinus1,  // data: an address minus one, pushed for an rts to jump to
    Low,         // data: the low half of an address (split tables)
    High,        // data: the high half of an address
    LowMinus1,   // data: the halves of an address minus one (split rts tables)
    HighMinus1,
    Petscii,     // data: text in PETSCII
    ScreenCode,  // data: text in screen codes
    Basic,       // data: the BASIC program the image starts with
    // Graphics: what the VIC-II fetches from the image (the map's graphics
    // say which object each byte belongs to).
    Sprite,      // a sprite's block of 64 bytes: 21 rows of 3, one spare
    Charset,     // a character set's glyphs, 8 bytes each
    Bitmap,      // a bitmap's 8000 bytes, 8 a cell
    Screen,      // screen memory: 1000 character codes, or a bitmap's colours
    ColourData,  // colours that the program copies into colour RAM
};

constexpr bool is_graphics(Kind kind) { return kind >= Kind::Sprite && kind <= Kind::ColourData; }

// The bytes of a whole graphics object of a kind: a sprite's block, a
// character set of 256 glyphs, a bitmap, a screen's characters or colours.
constexpr std::uint32_t graphic_full_size(Kind kind) {
    switch (kind) {
    case Kind::Sprite: return 64;
    case Kind::Charset: return 2048;
    case Kind::Bitmap: return 8000;
    case Kind::Screen:
    case Kind::ColourData: return 1000;
    default: return 0;
    }
}

// Where a belief came from.
enum class Source : std::uint8_t {
    None,           // for Unknown bytes
    Trace,          // followed from an entry point
    Basic,          // the BASIC program's own structure
    GuessGap,       // a gap between routines that decodes as routines
    GuessTable,     // a table of addresses pointing at code
    GuessSplit,     // split tables of low and high halves that code reads
    GuessPair,      // an address built from two immediates
    TextScan,       // printable bytes that read as words
    Vector,         // code whose address the program installs as a vector
    Pair,           // an address the code builds from two immediates
    PointerTable,   // a table the code reads as addresses
    InlineData,     // placed after a jsr: the routine called reads it and returns past it
    Hint,           // the user said so
    Run,            // the program did it when it ran
    VicSetup,       // constants the code stores into the VIC-II's registers and sprite pointers
    BesideSprites,  // a block in the same stretch of data as sprites shown
};

constexpr bool is_instruction(Kind kind) { return kind == Kind::Opcode || kind == Kind::Operand; }

// The offset of the first instruction in `kinds` from `offset` on, or the
// size: searched for a block at a time, as code is sparse in big images.
inline std::size_t next_opcode(const std::vector<Kind>& kinds, std::size_t offset) {
    if (offset >= kinds.size()) return kinds.size();
    const void* found = std::memchr(kinds.data() + offset, static_cast<int>(Kind::Opcode), kinds.size() - offset);
    return found == nullptr ? kinds.size() : static_cast<std::size_t>(static_cast<const Kind*>(found) - kinds.data());
}

// An address as a data item states it: the address it stands for (the
// target) and how the bytes derive from it.
constexpr bool stands_for_address(Kind kind) {
    return kind == Kind::Word || kind == Kind::WordMinus1 || kind == Kind::Low || kind == Kind::High ||
           kind == Kind::LowMinus1 || kind == Kind::HighMinus1;
}

// A SYS statement of the BASIC program that calls into the image.
struct SysEntry {
    std::uint32_t address = 0;
    std::uint32_t line = 0;  // its line number
};

// How the data placed after a jsr is laid out, as the routine it calls
// reads it.
enum class InlineForm : std::uint8_t {
    None,            // the routine returns right after the call
    ZeroTerminated,  // up to a zero byte, which it skips too
    LengthByte,      // a count, then that many bytes
    Fixed,           // as many bytes at every call
};

// A routine that takes data placed after the jsr that calls it, reading it
// through its return address and returning past it (analysis/inline_data).
struct InlineRoutine {
    InlineForm form = InlineForm::None;            // as its first call with data shows
    std::map<std::uint32_t, std::uint32_t> calls;  // bytes of data after each call seen, by the jsr
    std::optional<std::uint32_t> first_data_call;  // the jsr of that first call
    std::uint64_t model_steps = 0;                 // instructions the model ran for it, all calls together
    // A call went back past its caller: the routine uses the bytes after
    // its calls and goes back to its caller's caller.
    bool past_caller = false;
    std::uint32_t foreseen_in_a_row = 0;  // modelled calls in a row that read as the first call with data foresaw
};

// One run of the program (analysis/execution): where it started and how
// it ended.
struct ProgramRun {
    std::uint16_t entry = 0;
    RunEnd end = RunEnd::BudgetUsed;
    std::uint16_t end_address = 0;
    std::uint64_t cycles = 0;
    bool budget_grown = false;     // for an unpacker at work (RunResult)
    bool ceiling_reached = false;  // and it was still at work at the ceiling
    // A run that halted in RAM went wrong: the instructions of the image it
    // ran just before, which were not taken for code (nothing else found
    // them), in address order.
    std::vector<std::uint32_t> doubted;
};

// Code the program wrote and ran: where it ran, and where its bytes lie in
// the image when they are a copy of image bytes.
struct CopiedCode {
    std::uint16_t start = 0;
    std::uint32_t end = 0;  // exclusive
    std::optional<std::uint32_t> from;
    std::optional<std::uint16_t> called_from;  // generated code: the jsr it returned to
};

// An instruction's immediate that is one half of an address.
struct ImmediateRef {
    bool high = false;         // the high half, else the low one
    std::uint32_t target = 0;  // the address it stands for
    std::int32_t adjust = 0;   // the halves are of target - adjust
};

// The start addresses of a cartridge header in the image.
struct CartridgeStart {
    std::uint32_t cold = 0;
    std::uint32_t warm = 0;
    std::uint32_t header = 0;  // where the header lies: $8000, or $A000
};

// The BASIC program the image starts with and where the program starts:
// the entry as given, the SYS statements after the BASIC program, and a
// cartridge header's start addresses.
struct ProgramStart {
    BasicProgram basic;
    std::int64_t entry = 0;
    bool entry_in_image = false;
    bool entry_in_basic = false;
    // The entry given lies after the BASIC program, which calls elsewhere
    // in the image with SYS: a SYS token and digits in the data after it
    // made it. The runs start from the program's SYS, as after RUN; the
    // entry is traced only if it decodes as code (entry_traced).
    std::optional<SysEntry> run_from_sys;
    bool entry_traced = true;
    // The SYS statements that call into the image after the BASIC program,
    // in the program's order, one for each address: traced like the entry.
    std::vector<SysEntry> sys_entries;
    std::optional<CartridgeStart> cartridge;
    RomParts rom;  // the image is BASIC's or the KERNAL's ROM, or both

    // Whether `address` names a word or the signature of a cartridge's or
    // BASIC's header, or one of the KERNAL's vectors: not code.
    bool in_header(std::int64_t address) const;
};

// The C64's colours are 0-15; a colour not known is this.
constexpr std::uint8_t kNoColour = 0xff;

// A graphics object that the VIC-II shows from the image: a sprite, a
// character set, a bitmap, a screen or colour data. Its bytes have the
// matching Kind in the map.
struct Graphic {
    Kind kind = Kind::Sprite;  // one of the graphics kinds
    std::uint32_t address = 0;  // its first byte in the image
    std::uint32_t size = 0;     // bytes in the image: 64 a sprite, 8 a glyph, 8000, 1000
    bool multicolour = false;   // shown in multicolour ($D01C for sprites, $D016 otherwise)
    std::uint8_t pointer = 0;   // a sprite: the pointer value that shows it
    // The instruction that showed it (stored the sprite pointer, the
    // register that selects the charset or bitmap); none if not known.
    std::optional<std::uint16_t> set_at;
    Source source = Source::Run;  // Run, VicSetup, BesideSprites or Hint
    // The VIC-II showed a copy of it that the program made there.
    std::optional<std::uint16_t> copied_to;
    // The colours it was shown in, as C64 colour numbers (kNoColour: not
    // known). A sprite: its own ($D027+n), then $D025 and $D026 (its
    // multicolours). A charset: the characters' colour, then $D022, $D023.
    // background: $D021 (for a bitmap in multicolour too).
    std::array<std::uint8_t, 3> colours{kNoColour, kNoColour, kNoColour};
    std::uint8_t background = kNoColour;
    // A bitmap: the screen (the colours of each cell) and the colour RAM
    // as the VIC showed them, 1000 bytes each; empty when not known.
    std::vector<std::uint8_t> screen;
    std::vector<std::uint8_t> colour_ram;
};

// The routines that take data from behind their calls, by address (one
// outside the image too: the C128 KERNAL's print-immediate), and the model
// that runs them.
struct InlineCalls {
    std::map<std::uint32_t, InlineRoutine> routines;
    std::uint64_t model_steps = 0;  // instructions the model ran for all of them
    // The memory the model runs them on, made at its first call and kept
    // for the later ones.
    std::shared_ptr<ImageOverlay> memory;
};

// Code the program installs in a vector that the KERNAL, BASIC or the CPU
// jumps through: the interrupt handlers in CINV ($0314) or at $FFFE, the
// NMI's, BRK's, BASIC's hooks.
struct InstalledHandler {
    std::uint16_t vector = 0;   // the vector's first byte
    std::uint32_t handler = 0;  // in the image
    bool operator==(const InstalledHandler&) const = default;
};

// What running the program showed: each run, the code bytes of the image
// it stores into (by address: the instruction that first did), the code
// it wrote and ran, and the largest such range (what an unpacker unpacked).
struct RunReport {
    std::uint64_t budget = 0;  // the cycles all runs together could take (0: no run)
    std::vector<ProgramRun> runs;
    std::map<std::uint32_t, std::uint16_t> patched_code;
    // The pointers made of copied bytes that runs read or wrote through.
    std::vector<CopiedPointer> pointers_used;
    // Per address (64 KiB once a run stored anything): a run stored there.
    // Code that ran once may be a program's variables later (cc65's BSS
    // lies over its start-up code).
    std::vector<bool> written;
    bool was_written(std::uint32_t address) const { return address < written.size() && written[address]; }
    std::vector<CopiedCode> copied_code;
    std::optional<WrittenCode> unpacked;
    std::optional<std::uint32_t> unpacked_from;  // where its bytes lie in the image, when it is a copy of them
    // The image's instructions that a run reached by a jump, call, return
    // or interrupt, in order: where tables of addresses may lead.
    std::vector<std::uint32_t> entered;
    // The ROM routines without a stand-in that a run called (and went on
    // after, as if they had returned at once).
    std::set<std::uint16_t> calls_without_stand_in;
    // The keys and joystick moves pressed where a run waited that led to
    // code not run before, by run.
    std::vector<InputTry> inputs;
    // The vectors a run stored into and left pointing at the image's own
    // bytes, where no run stored: the handlers installed last.
    std::vector<InstalledHandler> vectors_left;
    // What the VIC-II showed while the runs ran, each display once per run,
    // run after run (analysis/graphics).
    std::vector<VicSample> vic_samples;
};

class MemoryMap {
public:
    explicit MemoryMap(const Image& image)
        : own_memory_end(image.end()), image_(&image), kind_(image.bytes.size(), Kind::Unknown),
          source_(image.bytes.size(), Source::None) {}

    const Image& image() const { return *image_; }

    Kind kind(std::uint32_t address) const { return kind_[image_->offset(address)]; }
    Source source(std::uint32_t address) const { return source_[image_->offset(address)]; }
    bool is_opcode(std::uint32_t address) const {
        return image_->contains(address) && kind(address) == Kind::Opcode;
    }

    void set(std::uint32_t address, Kind kind, Source source) {
        kind_[image_->offset(address)] = kind;
        source_[image_->offset(address)] = source;
    }
    void set_unknown(std::uint32_t address) { set(address, Kind::Unknown, Source::None); }

    // An instruction of `length` bytes at `address`.
    void set_instruction(std::uint32_t address, std::uint32_t length, Source source) {
        set(address, Kind::Opcode, source);
        for (std::uint32_t a = address + 1; a < address + length; ++a) set(a, Kind::Operand, source);
    }

    // A data item that stands for `target`: a Word or WordMinus1 covers two
    // bytes, whose value is the target (less one), the halves one.
    void set_address_item(std::uint32_t address, Kind kind, std::uint32_t target, Source source);
    std::optional<std::uint32_t> target(std::uint32_t address) const;

    // The first byte of the item (instruction or word) that holds `address`.
    std::uint32_t item_start(std::uint32_t address) const {
        while (address > image_->load && (kind(address) == Kind::Operand || kind(address) == Kind::Continued)) {
            --address;
        }
        return address;
    }

    // The immediate of the instruction at `address` is half an address.
    void set_immediate(std::uint32_t address, const ImmediateRef& ref) { immediates_[address] = ref; }
    const std::map<std::uint32_t, ImmediateRef>& immediates() const { return immediates_; }
    const ImmediateRef* immediate(std::uint32_t address) const {
        const auto it = immediates_.find(address);
        return it == immediates_.end() ? nullptr : &it->second;
    }

    // The program's own memory past the end of the image, which moves with
    // it: [end, own_memory_end). Empty when own_memory_end is the end.
    std::uint32_t own_memory_end = 0;

    // The addresses of all instructions, in order.
    std::vector<std::uint32_t> instructions() const;

    // The raw per-byte kinds, for loops that must not branch on them. The
    // kinds change only through the operations above, which keep each
    // byte's kind and source together.
    const std::vector<Kind>& kinds() const { return kind_; }

    // The CPU: whether the 6510's undocumented opcodes count as code (the
    // C64 runs them), or only the documented ones do.
    bool undocumented_opcodes = true;

    // What each pass found besides the kinds of the bytes.
    ProgramStart start;        // the BASIC program and the entries (analysis/analyse)
    InlineCalls inline_calls;  // routines that read data behind their calls (analysis/inline_data)
    RunReport run;             // what running the program showed (analysis/execution)
    // The instructions that run with the I/O area switched out through the
    // processor port at $01, in address order (analysis/io_banking): what
    // they name at $D000-$DFFF is RAM. Elsewhere the chips are there.
    std::vector<std::uint32_t> io_hidden;
    // The handlers the program installs in vectors, by handler and vector,
    // each once (analysis/vectors).
    std::vector<InstalledHandler> handlers;
    // The graphics the VIC-II shows from the image, in address order, none
    // overlapping (analysis/graphics, and the hints' ranges).
    std::vector<Graphic> graphics;
    // The graphic that holds `address`, or null.
    const Graphic* graphic_at(std::uint32_t address) const;

    bool io_visible(std::uint32_t instruction) const {
        return !std::binary_search(io_hidden.begin(), io_hidden.end(), instruction);
    }
    bool was_entered(std::uint32_t address) const {
        return std::binary_search(run.entered.begin(), run.entered.end(), address);
    }
    std::uint32_t basic_end() const { return start.basic.lines.empty() ? image_->load : start.basic.end; }

private:
    const Image* image_;
    std::vector<Kind> kind_;
    std::vector<Source> source_;
    // The addresses that the halves of split tables stand for, by the
    // half's address; a word's is in its bytes.
    std::map<std::uint32_t, std::uint32_t> half_targets_;
    std::map<std::uint32_t, ImmediateRef> immediates_;  // by instruction address
};

}  // namespace tolvek
