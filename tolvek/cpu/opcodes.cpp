#include "cpu/opcodes.hpp"

namespace tolvek {

using enum Mode;

// Documented opcodes plus the undocumented NMOS ones under the names ACME's
// "nmos6502" CPU uses. Row n holds opcodes $n0 to $nF.
constexpr std::array<Opcode, 256> kOpcodes{{
    // $00
    {"brk", Implied, true},   {"ora", IndirectX, true},  {"jam", Implied, false},
    {"slo", IndirectX, false}, {"nop", ZeroPage, false}, {"ora", ZeroPage, true},
    {"asl", ZeroPage, true},  {"slo", ZeroPage, false},  {"php", Implied, true},
    {"ora", Immediate, true}, {"asl", Accumulator, true}, {"anc", Immediate, false},
    {"nop", Absolute, false}, {"ora", Absolute, true},   {"asl", Absolute, true},
    {"slo", Absolute, false},
    // $10
    {"bpl", Relative, true},  {"ora", IndirectY, true},  {"jam", Implied, false},
    {"slo", IndirectY, false}, {"nop", ZeroPageX, false}, {"ora", ZeroPageX, true},
    {"asl", ZeroPageX, true}, {"slo", ZeroPageX, false}, {"clc", Implied, true},
    {"ora", AbsoluteY, true}, {"nop", Implied, false},   {"slo", AbsoluteY, false},
    {"nop", AbsoluteX, false}, {"ora", AbsoluteX, true}, {"asl", AbsoluteX, true},
    {"slo", AbsoluteX, false},
    // $20
    {"jsr", Absolute, true},  {"and", IndirectX, true},  {"jam", Implied, false},
    {"rla", IndirectX, false}, {"bit", ZeroPage, true},  {"and", ZeroPage, true},
    {"rol", ZeroPage, true},  {"rla", ZeroPage, false},  {"plp", Implied, true},
    {"and", Immediate, true}, {"rol", Accumulator, true}, {"anc", Immediate, false},
    {"bit", Absolute, true},  {"and", Absolute, true},   {"rol", Absolute, true},
    {"rla", Absolute, false},
    // $30
    {"bmi", Relative, true},  {"and", IndirectY, true},  {"jam", Implied, false},
    {"rla", IndirectY, false}, {"nop", ZeroPageX, false}, {"and", ZeroPageX, true},
    {"rol", ZeroPageX, true}, {"rla", ZeroPageX, false}, {"sec", Implied, true},
    {"and", AbsoluteY, true}, {"nop", Implied, false},   {"rla", AbsoluteY, false},
    {"nop", AbsoluteX, false}, {"and", AbsoluteX, true}, {"rol", AbsoluteX, true},
    {"rla", AbsoluteX, false},
    // $40
    {"rti", Implied, true},   {"eor", IndirectX, true},  {"jam", Implied, false},
    {"sre", IndirectX, false}, {"nop", ZeroPage, false}, {"eor", ZeroPage, true},
    {"lsr", ZeroPage, true},  {"sre", ZeroPage, false},  {"pha", Implied, true},
    {"eor", Immediate, true}, {"lsr", Accumulator, true}, {"asr", Immediate, false},
    {"jmp", Absolute, true},  {"eor", Absolute, true},   {"lsr", Absolute, true},
    {"sre", Absolute, false},
    // $50
    {"bvc", Relative, true},  {"eor", IndirectY, true},  {"jam", Implied, false},
    {"sre", IndirectY, false}, {"nop", ZeroPageX, false}, {"eor", ZeroPageX, true},
    {"lsr", ZeroPageX, true}, {"sre", ZeroPageX, false}, {"cli", Implied, true},
    {"eor", AbsoluteY, true}, {"nop", Implied, false},   {"sre", AbsoluteY, false},
    {"nop", AbsoluteX, false}, {"eor", AbsoluteX, true}, {"lsr", AbsoluteX, true},
    {"sre", AbsoluteX, false},
    // $60
    {"rts", Implied, true},   {"adc", IndirectX, true},  {"jam", Implied, false},
    {"rra", IndirectX, false}, {"nop", ZeroPage, false}, {"adc", ZeroPage, true},
    {"ror", ZeroPage, true},  {"rra", ZeroPage, false},  {"pla", Implied, true},
    {"adc", Immediate, true}, {"ror", Accumulator, true}, {"arr", Immediate, false},
    {"jmp", Indirect, true},  {"adc", Absolute, true},   {"ror", Absolute, true},
    {"rra", Absolute, false},
    // $70
    {"bvs", Relative, true},  {"adc", IndirectY, true},  {"jam", Implied, false},
    {"rra", IndirectY, false}, {"nop", ZeroPageX, false}, {"adc", ZeroPageX, true},
    {"ror", ZeroPageX, true}, {"rra", ZeroPageX, false}, {"sei", Implied, true},
    {"adc", AbsoluteY, true}, {"nop", Implied, false},   {"rra", AbsoluteY, false},
    {"nop", AbsoluteX, false}, {"adc", AbsoluteX, true}, {"ror", AbsoluteX, true},
    {"rra", AbsoluteX, false},
    // $80
    {"nop", Immediate, false}, {"sta", IndirectX, true}, {"nop", Immediate, false},
    {"sax", IndirectX, false}, {"sty", ZeroPage, true},  {"sta", ZeroPage, true},
    {"stx", ZeroPage, true},  {"sax", ZeroPage, false},  {"dey", Implied, true},
    {"nop", Immediate, false}, {"txa", Implied, true},   {"ane", Immediate, false},
    {"sty", Absolute, true},  {"sta", Absolute, true},   {"stx", Absolute, true},
    {"sax", Absolute, false},
    // $90
    {"bcc", Relative, true},  {"sta", IndirectY, true},  {"jam", Implied, false},
    {"sha", IndirectY, false}, {"sty", ZeroPageX, true}, {"sta", ZeroPageX, true},
    {"stx", ZeroPageY, true}, {"sax", ZeroPageY, false}, {"tya", Implied, true},
    {"sta", AbsoluteY, true}, {"txs", Implied, true},    {"tas", AbsoluteY, false},
    {"shy", AbsoluteX, false}, {"sta", AbsoluteX, true}, {"shx", AbsoluteY, false},
    {"sha", AbsoluteY, false},
    // $A0
    {"ldy", Immediate, true}, {"lda", IndirectX, true},  {"ldx", Immediate, true},
    {"lax", IndirectX, false}, {"ldy", ZeroPage, true},  {"lda", ZeroPage, true},
    {"ldx", ZeroPage, true},  {"lax", ZeroPage, false},  {"tay", Implied, true},
    {"lda", Immediate, true}, {"tax", Implied, true},    {"lxa", Immediate, false},
    {"ldy", Absolute, true},  {"lda", Absolute, true},   {"ldx", Absolute, true},
    {"lax", Absolute, false},
    // $B0
    {"bcs", Relative, true},  {"lda", IndirectY, true},  {"jam", Implied, false},
    {"lax", IndirectY, false}, {"ldy", ZeroPageX, true}, {"lda", ZeroPageX, true},
    {"ldx", ZeroPageY, true}, {"lax", ZeroPageY, false}, {"clv", Implied, true},
    {"lda", AbsoluteY, true}, {"tsx", Implied, true},    {"las", AbsoluteY, false},
    {"ldy", AbsoluteX, true}, {"lda", AbsoluteX, true},  {"ldx", AbsoluteY, true},
    {"lax", AbsoluteY, false},
    // $C0
    {"cpy", Immediate, true}, {"cmp", IndirectX, true},  {"nop", Immediate, false},
    {"dcp", IndirectX, false}, {"cpy", ZeroPage, true},  {"cmp", ZeroPage, true},
    {"dec", ZeroPage, true},  {"dcp", ZeroPage, false},  {"iny", Implied, true},
    {"cmp", Immediate, true}, {"dex", Implied, true},    {"sbx", Immediate, false},
    {"cpy", Absolute, true},  {"cmp", Absolute, true},   {"dec", Absolute, true},
    {"dcp", Absolute, false},
    // $D0
    {"bne", Relative, true},  {"cmp", IndirectY, true},  {"jam", Implied, false},
    {"dcp", IndirectY, false}, {"nop", ZeroPageX, false}, {"cmp", ZeroPageX, true},
    {"dec", ZeroPageX, true}, {"dcp", ZeroPageX, false}, {"cld", Implied, true},
    {"cmp", AbsoluteY, true}, {"nop", Implied, false},   {"dcp", AbsoluteY, false},
    {"nop", AbsoluteX, false}, {"cmp", AbsoluteX, true}, {"dec", AbsoluteX, true},
    {"dcp", AbsoluteX, false},
    // $E0
    {"cpx", Immediate, true}, {"sbc", IndirectX, true},  {"nop", Immediate, false},
    {"isc", IndirectX, false}, {"cpx", ZeroPage, true},  {"sbc", ZeroPage, true},
    {"inc", ZeroPage, true},  {"isc", ZeroPage, false},  {"inx", Implied, true},
    {"sbc", Immediate, true}, {"nop", Implied, true},    {"sbc", Immediate, false},
    {"cpx", Absolute, true},  {"sbc", Absolute, true},   {"inc", Absolute, true},
    {"isc", Absolute, false},
    // $F0
    {"beq", Relative, true},  {"sbc", IndirectY, true},  {"jam", Implied, false},
    {"isc", IndirectY, false}, {"nop", ZeroPageX, false}, {"sbc", ZeroPageX, true},
    {"inc", ZeroPageX, true}, {"isc", ZeroPageX, false}, {"sed", Implied, true},
    {"sbc", AbsoluteY, true}, {"nop", Implied, false},   {"isc", AbsoluteY, false},
    {"nop", AbsoluteX, false}, {"sbc", AbsoluteX, true}, {"inc", AbsoluteX, true},
    {"isc", AbsoluteX, false},
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
