// The 6502 instruction set as data: one row per opcode byte.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace tolvek {

enum class Mode : std::uint8_t {
    Implied,      // nop
    Accumulator,  // asl
    Immediate,    // lda #$12
    ZeroPage,     // lda $12
    ZeroPageX,    // lda $12,x
    ZeroPageY,    // ldx $12,y
    Absolute,     // lda $1234
    AbsoluteX,    // lda $1234,x
    AbsoluteY,    // lda $1234,y
    Indirect,     // jmp ($1234)
    IndirectX,    // lda ($12,x)
    IndirectY,    // lda ($12),y
    Relative,     // bne label
};

// What the C64's 6510 makes of an opcode byte, and whether assemblers can
// write it: the tracer and the dialects go by it.
enum class Standing : std::uint8_t {
    Documented,  // in the 6502's instruction set as its makers describe it
    Stable,      // undocumented, does the same on every 6510, and has a mnemonic
    ZeroOnly,    // undocumented (ane #, lxa #): the same everywhere only with #0
    Duplicate,   // undocumented and stable, but no mnemonic gives this byte:
                 // assemblers pick another encoding (extra nops, $eb sbc, $2b anc)
    Unstable,    // undocumented: what it stores depends on the chip (sha, shx, shy, tas)
    Halts,       // jam: the CPU stops until a reset
};

struct Opcode {
    std::string_view mnemonic;  // lower case, as ACME and 64tass spell it
    Mode mode;
    Standing standing;

    constexpr bool documented() const { return standing == Standing::Documented; }
};

// Instruction length in bytes, opcode included.
constexpr int length_of(Mode mode) {
    switch (mode) {
    case Mode::Implied:
    case Mode::Accumulator: return 1;
    case Mode::Absolute:
    case Mode::AbsoluteX:
    case Mode::AbsoluteY:
    case Mode::Indirect: return 3;
    default: return 2;
    }
}

// True when the operand names a memory address (as opposed to an
// immediate value or nothing at all).
constexpr bool has_address(Mode mode) {
    return mode != Mode::Implied && mode != Mode::Accumulator && mode != Mode::Immediate;
}

constexpr bool is_zero_page(Mode mode) {
    return mode == Mode::ZeroPage || mode == Mode::ZeroPageX || mode == Mode::ZeroPageY
        || mode == Mode::IndirectX || mode == Mode::IndirectY;
}

// Row n of the table describes opcode byte n.
extern const std::array<Opcode, 256> kOpcodes;

inline const Opcode& opcode(std::uint8_t byte) { return kOpcodes[byte]; }

// Row n of the table is the length of an instruction with opcode byte n.
extern const std::array<std::uint8_t, 256> kLengths;

inline std::uint32_t instruction_length(std::uint8_t byte) { return kLengths[byte]; }

// How control flow continues after an instruction.
enum class Flow : std::uint8_t {
    Next,    // falls through to the following instruction
    Branch,  // conditional: target and fall-through
    Call,    // jsr: target, then fall-through
    Jump,    // jmp absolute: target only
    Stop,    // rts, rti, brk, jmp (indirect): nothing known follows
};

// Row n of the table is the flow after opcode byte n.
extern const std::array<Flow, 256> kFlows;

inline Flow flow_of(std::uint8_t byte) { return kFlows[byte]; }

}  // namespace tolvek
