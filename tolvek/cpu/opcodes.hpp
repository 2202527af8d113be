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

constexpr bool is_absolute_indexed(Mode mode) { return mode == Mode::AbsoluteX || mode == Mode::AbsoluteY; }

constexpr bool is_zero_page(Mode mode) {
    return mode == Mode::ZeroPage || mode == Mode::ZeroPageX || mode == Mode::ZeroPageY
        || mode == Mode::IndirectX || mode == Mode::IndirectY;
}

namespace opcode_table {
using enum Mode;
using enum Standing;
// Row n describes opcode byte n: the documented opcodes plus the
// undocumented NMOS ones under the names ACME and 64tass use (ca65 differs
// at $ab and $cb: see the dialects). Where one mnemonic and mode has several
// bytes, assemblers write the one marked Stable; the others are Duplicate.
// In the header, so that the emulator can build its handlers from it at
// compile time.
inline constexpr std::array<Opcode, 256> kOpcodes{{
    // $00
    {"brk", Implied, Documented}, {"ora", IndirectX, Documented}, {"jam", Implied, Halts}, {"slo", IndirectX, Stable},
    {"nop", ZeroPage, Stable}, {"ora", ZeroPage, Documented}, {"asl", ZeroPage, Documented}, {"slo", ZeroPage, Stable},
    {"php", Implied, Documented}, {"ora", Immediate, Documented}, {"asl", Accumulator, Documented}, {"anc", Immediate, Stable},
    {"nop", Absolute, Stable}, {"ora", Absolute, Documented}, {"asl", Absolute, Documented}, {"slo", Absolute, Stable},
    // $10
    {"bpl", Relative, Documented}, {"ora", IndirectY, Documented}, {"jam", Implied, Halts}, {"slo", IndirectY, Stable},
    {"nop", ZeroPageX, Stable}, {"ora", ZeroPageX, Documented}, {"asl", ZeroPageX, Documented}, {"slo", ZeroPageX, Stable},
    {"clc", Implied, Documented}, {"ora", AbsoluteY, Documented}, {"nop", Implied, Duplicate}, {"slo", AbsoluteY, Stable},
    {"nop", AbsoluteX, Stable}, {"ora", AbsoluteX, Documented}, {"asl", AbsoluteX, Documented}, {"slo", AbsoluteX, Stable},
    // $20
    {"jsr", Absolute, Documented}, {"and", IndirectX, Documented}, {"jam", Implied, Halts}, {"rla", IndirectX, Stable},
    {"bit", ZeroPage, Documented}, {"and", ZeroPage, Documented}, {"rol", ZeroPage, Documented}, {"rla", ZeroPage, Stable},
    {"plp", Implied, Documented}, {"and", Immediate, Documented}, {"rol", Accumulator, Documented}, {"anc", Immediate, Duplicate},
    {"bit", Absolute, Documented}, {"and", Absolute, Documented}, {"rol", Absolute, Documented}, {"rla", Absolute, Stable},
    // $30
    {"bmi", Relative, Documented}, {"and", IndirectY, Documented}, {"jam", Implied, Halts}, {"rla", IndirectY, Stable},
    {"nop", ZeroPageX, Duplicate}, {"and", ZeroPageX, Documented}, {"rol", ZeroPageX, Documented}, {"rla", ZeroPageX, Stable},
    {"sec", Implied, Documented}, {"and", AbsoluteY, Documented}, {"nop", Implied, Duplicate}, {"rla", AbsoluteY, Stable},
    {"nop", AbsoluteX, Duplicate}, {"and", AbsoluteX, Documented}, {"rol", AbsoluteX, Documented}, {"rla", AbsoluteX, Stable},
    // $40
    {"rti", Implied, Documented}, {"eor", IndirectX, Documented}, {"jam", Implied, Halts}, {"sre", IndirectX, Stable},
    {"nop", ZeroPage, Duplicate}, {"eor", ZeroPage, Documented}, {"lsr", ZeroPage, Documented}, {"sre", ZeroPage, Stable},
    {"pha", Implied, Documented}, {"eor", Immediate, Documented}, {"lsr", Accumulator, Documented}, {"alr", Immediate, Stable},
    {"jmp", Absolute, Documented}, {"eor", Absolute, Documented}, {"lsr", Absolute, Documented}, {"sre", Absolute, Stable},
    // $50
    {"bvc", Relative, Documented}, {"eor", IndirectY, Documented}, {"jam", Implied, Halts}, {"sre", IndirectY, Stable},
    {"nop", ZeroPageX, Duplicate}, {"eor", ZeroPageX, Documented}, {"lsr", ZeroPageX, Documented}, {"sre", ZeroPageX, Stable},
    {"cli", Implied, Documented}, {"eor", AbsoluteY, Documented}, {"nop", Implied, Duplicate}, {"sre", AbsoluteY, Stable},
    {"nop", AbsoluteX, Duplicate}, {"eor", AbsoluteX, Documented}, {"lsr", AbsoluteX, Documented}, {"sre", AbsoluteX, Stable},
    // $60
    {"rts", Implied, Documented}, {"adc", IndirectX, Documented}, {"jam", Implied, Halts}, {"rra", IndirectX, Stable},
    {"nop", ZeroPage, Duplicate}, {"adc", ZeroPage, Documented}, {"ror", ZeroPage, Documented}, {"rra", ZeroPage, Stable},
    {"pla", Implied, Documented}, {"adc", Immediate, Documented}, {"ror", Accumulator, Documented}, {"arr", Immediate, Stable},
    {"jmp", Indirect, Documented}, {"adc", Absolute, Documented}, {"ror", Absolute, Documented}, {"rra", Absolute, Stable},
    // $70
    {"bvs", Relative, Documented}, {"adc", IndirectY, Documented}, {"jam", Implied, Halts}, {"rra", IndirectY, Stable},
    {"nop", ZeroPageX, Duplicate}, {"adc", ZeroPageX, Documented}, {"ror", ZeroPageX, Documented}, {"rra", ZeroPageX, Stable},
    {"sei", Implied, Documented}, {"adc", AbsoluteY, Documented}, {"nop", Implied, Duplicate}, {"rra", AbsoluteY, Stable},
    {"nop", AbsoluteX, Duplicate}, {"adc", AbsoluteX, Documented}, {"ror", AbsoluteX, Documented}, {"rra", AbsoluteX, Stable},
    // $80
    {"nop", Immediate, Stable}, {"sta", IndirectX, Documented}, {"nop", Immediate, Duplicate}, {"sax", IndirectX, Stable},
    {"sty", ZeroPage, Documented}, {"sta", ZeroPage, Documented}, {"stx", ZeroPage, Documented}, {"sax", ZeroPage, Stable},
    {"dey", Implied, Documented}, {"nop", Immediate, Duplicate}, {"txa", Implied, Documented}, {"ane", Immediate, ZeroOnly},
    {"sty", Absolute, Documented}, {"sta", Absolute, Documented}, {"stx", Absolute, Documented}, {"sax", Absolute, Stable},
    // $90
    {"bcc", Relative, Documented}, {"sta", IndirectY, Documented}, {"jam", Implied, Halts}, {"sha", IndirectY, Unstable},
    {"sty", ZeroPageX, Documented}, {"sta", ZeroPageX, Documented}, {"stx", ZeroPageY, Documented}, {"sax", ZeroPageY, Stable},
    {"tya", Implied, Documented}, {"sta", AbsoluteY, Documented}, {"txs", Implied, Documented}, {"tas", AbsoluteY, Unstable},
    {"shy", AbsoluteX, Unstable}, {"sta", AbsoluteX, Documented}, {"shx", AbsoluteY, Unstable}, {"sha", AbsoluteY, Unstable},
    // $A0
    {"ldy", Immediate, Documented}, {"lda", IndirectX, Documented}, {"ldx", Immediate, Documented}, {"lax", IndirectX, Stable},
    {"ldy", ZeroPage, Documented}, {"lda", ZeroPage, Documented}, {"ldx", ZeroPage, Documented}, {"lax", ZeroPage, Stable},
    {"tay", Implied, Documented}, {"lda", Immediate, Documented}, {"tax", Implied, Documented}, {"lxa", Immediate, ZeroOnly},
    {"ldy", Absolute, Documented}, {"lda", Absolute, Documented}, {"ldx", Absolute, Documented}, {"lax", Absolute, Stable},
    // $B0
    {"bcs", Relative, Documented}, {"lda", IndirectY, Documented}, {"jam", Implied, Halts}, {"lax", IndirectY, Stable},
    {"ldy", ZeroPageX, Documented}, {"lda", ZeroPageX, Documented}, {"ldx", ZeroPageY, Documented}, {"lax", ZeroPageY, Stable},
    {"clv", Implied, Documented}, {"lda", AbsoluteY, Documented}, {"tsx", Implied, Documented}, {"las", AbsoluteY, Stable},
    {"ldy", AbsoluteX, Documented}, {"lda", AbsoluteX, Documented}, {"ldx", AbsoluteY, Documented}, {"lax", AbsoluteY, Stable},
    // $C0
    {"cpy", Immediate, Documented}, {"cmp", IndirectX, Documented}, {"nop", Immediate, Duplicate}, {"dcp", IndirectX, Stable},
    {"cpy", ZeroPage, Documented}, {"cmp", ZeroPage, Documented}, {"dec", ZeroPage, Documented}, {"dcp", ZeroPage, Stable},
    {"iny", Implied, Documented}, {"cmp", Immediate, Documented}, {"dex", Implied, Documented}, {"sbx", Immediate, Stable},
    {"cpy", Absolute, Documented}, {"cmp", Absolute, Documented}, {"dec", Absolute, Documented}, {"dcp", Absolute, Stable},
    // $D0
    {"bne", Relative, Documented}, {"cmp", IndirectY, Documented}, {"jam", Implied, Halts}, {"dcp", IndirectY, Stable},
    {"nop", ZeroPageX, Duplicate}, {"cmp", ZeroPageX, Documented}, {"dec", ZeroPageX, Documented}, {"dcp", ZeroPageX, Stable},
    {"cld", Implied, Documented}, {"cmp", AbsoluteY, Documented}, {"nop", Implied, Duplicate}, {"dcp", AbsoluteY, Stable},
    {"nop", AbsoluteX, Duplicate}, {"cmp", AbsoluteX, Documented}, {"dec", AbsoluteX, Documented}, {"dcp", AbsoluteX, Stable},
    // $E0
    {"cpx", Immediate, Documented}, {"sbc", IndirectX, Documented}, {"nop", Immediate, Duplicate}, {"isc", IndirectX, Stable},
    {"cpx", ZeroPage, Documented}, {"sbc", ZeroPage, Documented}, {"inc", ZeroPage, Documented}, {"isc", ZeroPage, Stable},
    {"inx", Implied, Documented}, {"sbc", Immediate, Documented}, {"nop", Implied, Documented}, {"sbc", Immediate, Duplicate},
    {"cpx", Absolute, Documented}, {"sbc", Absolute, Documented}, {"inc", Absolute, Documented}, {"isc", Absolute, Stable},
    // $F0
    {"beq", Relative, Documented}, {"sbc", IndirectY, Documented}, {"jam", Implied, Halts}, {"isc", IndirectY, Stable},
    {"nop", ZeroPageX, Duplicate}, {"sbc", ZeroPageX, Documented}, {"inc", ZeroPageX, Documented}, {"isc", ZeroPageX, Stable},
    {"sed", Implied, Documented}, {"sbc", AbsoluteY, Documented}, {"nop", Implied, Duplicate}, {"isc", AbsoluteY, Stable},
    {"nop", AbsoluteX, Duplicate}, {"sbc", AbsoluteX, Documented}, {"inc", AbsoluteX, Documented}, {"isc", AbsoluteX, Stable},
}};
}  // namespace opcode_table
using opcode_table::kOpcodes;

inline const Opcode& opcode(std::uint8_t byte) { return kOpcodes[byte]; }

// Whether an instruction on zero page has a form for any address as well,
// as lda $12,x has lda $1234,x and stx $12,y has none: only then can an
// assembler take the other width for it.
constexpr bool has_absolute_form(std::uint8_t byte) {
    Mode wide{};
    switch (kOpcodes[byte].mode) {
    case Mode::ZeroPage: wide = Mode::Absolute; break;
    case Mode::ZeroPageX: wide = Mode::AbsoluteX; break;
    case Mode::ZeroPageY: wide = Mode::AbsoluteY; break;
    default: return false;
    }
    for (const Opcode& other : kOpcodes) {
        if (other.mnemonic == kOpcodes[byte].mnemonic && other.mode == wide &&
            (other.standing == Standing::Documented || other.standing == Standing::Stable)) {
            return true;
        }
    }
    return false;
}

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
