#include "cpu/opcodes.hpp"

namespace tolvek {

using enum Mode;
using enum Standing;

// Documented opcodes plus the undocumented NMOS ones under the names ACME
// and 64tass use (ca65 differs at $ab and $cb: see the dialects). Where one
// mnemonic and mode has several bytes, assemblers write the one marked
// Stable; the others are Duplicate. Row n holds opcodes $n0 to $nF.
constexpr std::array<Opcode, 256> kOpcodes{{
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

namespace {

constexpr Flow flow_rule(std::uint8_t byte) {
    if (kOpcodes[byte].mode == Mode::Relative) return Flow::Branch;
    if (byte == 0x20) return Flow::Call;
    if (byte == 0x4c) return Flow::Jump;
    if (byte == 0x60 || byte == 0x40 || byte == 0x00 || byte == 0x6c) return Flow::Stop;
    return Flow::Next;
}

}  // namespace

constexpr std::array<std::uint8_t, 256> kLengths = [] {
    std::array<std::uint8_t, 256> lengths{};
    for (std::size_t byte = 0; byte < lengths.size(); ++byte) {
        lengths[byte] = static_cast<std::uint8_t>(length_of(kOpcodes[byte].mode));
    }
    return lengths;
}();

constexpr std::array<Flow, 256> kFlows = [] {
    std::array<Flow, 256> flows{};
    for (std::size_t byte = 0; byte < flows.size(); ++byte) flows[byte] = flow_rule(static_cast<std::uint8_t>(byte));
    return flows;
}();

}  // namespace tolvek
