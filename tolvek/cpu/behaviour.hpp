// What each instruction does, as data beside the opcode table: the
// operation, the registers and flags it reads and changes, how it uses the
// memory its operand names, what it does to the stack and to the flow of
// control, and its cycles. The emulator compiles its handlers from it, and
// the analyses ask it instead of comparing opcode bytes or mnemonics.
#pragma once

#include <array>
#include <cstdint>
#include <iterator>
#include <string_view>

#include "cpu/opcodes.hpp"

namespace tolvek {

// The processor status bits.
namespace flag {
constexpr std::uint8_t C = 0x01;  // carry
constexpr std::uint8_t Z = 0x02;  // zero
constexpr std::uint8_t I = 0x04;  // interrupts masked
constexpr std::uint8_t D = 0x08;  // decimal mode
constexpr std::uint8_t B = 0x10;  // pushed by brk and php only
constexpr std::uint8_t U = 0x20;  // always 1 when pushed
constexpr std::uint8_t V = 0x40;  // overflow
constexpr std::uint8_t N = 0x80;  // negative
constexpr std::uint8_t NZ = N | Z;
constexpr std::uint8_t NZC = N | Z | C;
constexpr std::uint8_t NVZC = N | V | Z | C;
constexpr std::uint8_t All = N | V | D | I | Z | C;
}  // namespace flag

// The registers, as bits of a set.
namespace reg {
constexpr std::uint8_t A = 0x01;
constexpr std::uint8_t X = 0x02;
constexpr std::uint8_t Y = 0x04;
constexpr std::uint8_t S = 0x08;  // the stack pointer
}  // namespace reg

// What an instruction does, by its mnemonic in the opcode table.
enum class Operation : std::uint8_t {
    Adc, And, Asl, Bcc, Bcs, Beq, Bit, Bmi, Bne, Bpl, Brk, Bvc, Bvs, Clc, Cld, Cli, Clv, Cmp, Cpx, Cpy,
    Dec, Dex, Dey, Eor, Inc, Inx, Iny, Jmp, Jsr, Lda, Ldx, Ldy, Lsr, Nop, Ora, Pha, Php, Pla, Plp, Rol,
    Ror, Rti, Rts, Sbc, Sec, Sed, Sei, Sta, Stx, Sty, Tax, Tay, Tsx, Txa, Txs, Tya,
    // undocumented
    Slo, Rla, Sre, Rra, Sax, Lax, Dcp, Isc, Anc, Alr, Arr, Sbx, Ane, Lxa, Las, Sha, Shx, Shy, Tas, Jam,
};

namespace detail {
inline constexpr std::string_view kOperationNames[] = {
    "adc", "and", "asl", "bcc", "bcs", "beq", "bit", "bmi", "bne", "bpl", "brk", "bvc", "bvs", "clc", "cld",
    "cli", "clv", "cmp", "cpx", "cpy", "dec", "dex", "dey", "eor", "inc", "inx", "iny", "jmp", "jsr", "lda",
    "ldx", "ldy", "lsr", "nop", "ora", "pha", "php", "pla", "plp", "rol", "ror", "rti", "rts", "sbc", "sec",
    "sed", "sei", "sta", "stx", "sty", "tax", "tay", "tsx", "txa", "txs", "tya", "slo", "rla", "sre", "rra",
    "sax", "lax", "dcp", "isc", "anc", "alr", "arr", "sbx", "ane", "lxa", "las", "sha", "shx", "shy", "tas",
    "jam",
};
}  // namespace detail

constexpr Operation operation_of(std::string_view mnemonic) {
    for (std::size_t i = 0; i < std::size(detail::kOperationNames); ++i) {
        if (detail::kOperationNames[i] == mnemonic) return static_cast<Operation>(i);
    }
    throw "a mnemonic the instruction set does not describe";  // fails the build
}

// How an instruction uses the memory its operand names.
enum class Access : std::uint8_t {
    None,    // no memory (implied, accumulator, immediate; branches and jumps)
    Read,    // reads it
    Write,   // writes it
    Modify,  // reads it, writes the old value back, then the new one
};

// Where execution goes after an instruction.
enum class Control : std::uint8_t {
    Next,          // to the following instruction
    Branch,        // to the target or the following instruction, by a flag
    Jump,          // jmp absolute: to its operand
    JumpIndirect,  // jmp (pointer): to the address the pointer holds
    Call,          // jsr: to its operand, the return address pushed
    Return,        // rts: to the address pulled, plus one
    ReturnFromInterrupt,  // rti: flags and address pulled
    Break,         // brk: through the interrupt vector, pc and flags pushed
    Halt,          // jam: the CPU stops
};

struct Behaviour {
    Operation operation = Operation::Nop;
    Access access = Access::None;
    std::uint8_t reads = 0;          // registers it reads (reg::)
    std::uint8_t writes = 0;         // registers it changes
    std::uint8_t flags_read = 0;     // flags it reads (flag::)
    std::uint8_t flags_written = 0;  // flags it may change
    std::int8_t stack = 0;           // bytes it pushes (more than 0) or pulls (less)
    Control control = Control::Next;
    std::uint8_t cycles = 2;         // the NMOS 6502's, page crossings and taken branches aside
};

// Whether an operation changes its operand in place: memory, or the
// accumulator in the accumulator form of the shifts.
constexpr bool read_modify_write(Operation op) {
    using enum Operation;
    switch (op) {
    case Asl: case Lsr: case Rol: case Ror: case Inc: case Dec:
    case Slo: case Rla: case Sre: case Rra: case Dcp: case Isc: return true;
    default: return false;
    }
}

namespace detail {

constexpr Access access_of(Operation op, Mode mode) {
    using enum Operation;
    if (!has_address(mode) || mode == Mode::Relative) return Access::None;
    if (read_modify_write(op)) return Access::Modify;
    switch (op) {
    case Sta: case Stx: case Sty: case Sax: case Sha: case Shx: case Shy: case Tas: return Access::Write;
    case Jmp: case Jsr: return Access::None;
    default: return Access::Read;
    }
}

// The cycles as the emulator counts them: a read-modify-write on the
// accumulator costs as a read would.
constexpr std::uint8_t cycles_of(Operation op, Mode mode, bool modifies) {
    using enum Operation;
    switch (op) {
    case Brk: return 7;
    case Jsr: case Rts: case Rti: return 6;
    case Pha: case Php: return 3;
    case Pla: case Plp: return 4;
    case Jmp: return mode == Mode::Indirect ? 5 : 3;
    default: break;
    }
    const bool writes = access_of(op, mode) == Access::Write;
    const std::uint8_t modify = modifies ? 2 : 0;
    switch (mode) {
    case Mode::Implied: case Mode::Accumulator: case Mode::Immediate: case Mode::Relative: return 2;
    case Mode::ZeroPage: return static_cast<std::uint8_t>(3 + modify);
    case Mode::ZeroPageX: case Mode::ZeroPageY: case Mode::Absolute: return static_cast<std::uint8_t>(4 + modify);
    case Mode::AbsoluteX: case Mode::AbsoluteY: return static_cast<std::uint8_t>(!modifies && !writes ? 4 : 5 + modify);
    case Mode::IndirectX: return static_cast<std::uint8_t>(6 + modify);
    case Mode::IndirectY: return static_cast<std::uint8_t>(!modifies && !writes ? 5 : 6 + modify);
    case Mode::Indirect: return 5;
    }
    return 2;
}

// The registers and flags an operation reads and changes; for the
// shifts, those of the accumulator form (memory forms: see behaviour_of).
constexpr Behaviour registers_of(Operation op) {
    using enum Operation;
    using namespace reg;
    Behaviour b;
    switch (op) {
    case Adc: case Sbc: b.reads = A; b.writes = A; b.flags_read = flag::C | flag::D; b.flags_written = flag::NVZC; break;
    case And: case Ora: case Eor: b.reads = A; b.writes = A; b.flags_written = flag::NZ; break;
    case Asl: case Lsr: b.reads = A; b.writes = A; b.flags_written = flag::NZC; break;
    case Rol: case Ror: b.reads = A; b.writes = A; b.flags_read = flag::C; b.flags_written = flag::NZC; break;
    case Bpl: case Bmi: b.flags_read = flag::N; break;
    case Bvc: case Bvs: b.flags_read = flag::V; break;
    case Bcc: case Bcs: b.flags_read = flag::C; break;
    case Bne: case Beq: b.flags_read = flag::Z; break;
    case Bit: b.reads = A; b.flags_written = flag::N | flag::V | flag::Z; break;
    case Brk: b.reads = S; b.writes = S; b.flags_read = flag::All; b.flags_written = flag::I; b.stack = 3; break;
    case Clc: case Sec: b.flags_written = flag::C; break;
    case Cld: case Sed: b.flags_written = flag::D; break;
    case Cli: case Sei: b.flags_written = flag::I; break;
    case Clv: b.flags_written = flag::V; break;
    case Cmp: b.reads = A; b.flags_written = flag::NZC; break;
    case Cpx: b.reads = X; b.flags_written = flag::NZC; break;
    case Cpy: b.reads = Y; b.flags_written = flag::NZC; break;
    case Dec: case Inc: b.flags_written = flag::NZ; break;
    case Dex: case Inx: b.reads = X; b.writes = X; b.flags_written = flag::NZ; break;
    case Dey: case Iny: b.reads = Y; b.writes = Y; b.flags_written = flag::NZ; break;
    case Jmp: break;
    case Jsr: b.reads = S; b.writes = S; b.stack = 2; break;
    case Lda: b.writes = A; b.flags_written = flag::NZ; break;
    case Ldx: b.writes = X; b.flags_written = flag::NZ; break;
    case Ldy: b.writes = Y; b.flags_written = flag::NZ; break;
    case Nop: break;
    case Pha: b.reads = A | S; b.writes = S; b.stack = 1; break;
    case Php: b.reads = S; b.writes = S; b.flags_read = flag::All; b.stack = 1; break;
    case Pla: b.reads = S; b.writes = A | S; b.flags_written = flag::NZ; b.stack = -1; break;
    case Plp: b.reads = S; b.writes = S; b.flags_written = flag::All; b.stack = -1; break;
    case Rti: b.reads = S; b.writes = S; b.flags_written = flag::All; b.stack = -3; break;
    case Rts: b.reads = S; b.writes = S; b.stack = -2; break;
    case Sta: b.reads = A; break;
    case Stx: b.reads = X; break;
    case Sty: b.reads = Y; break;
    case Tax: b.reads = A; b.writes = X; b.flags_written = flag::NZ; break;
    case Tay: b.reads = A; b.writes = Y; b.flags_written = flag::NZ; break;
    case Tsx: b.reads = S; b.writes = X; b.flags_written = flag::NZ; break;
    case Txa: b.reads = X; b.writes = A; b.flags_written = flag::NZ; break;
    case Txs: b.reads = X; b.writes = S; break;
    case Tya: b.reads = Y; b.writes = A; b.flags_written = flag::NZ; break;
    case Slo: case Sre: b.reads = A; b.writes = A; b.flags_written = flag::NZC; break;
    case Rla: b.reads = A; b.writes = A; b.flags_read = flag::C; b.flags_written = flag::NZC; break;
    case Rra: case Isc: b.reads = A; b.writes = A; b.flags_read = flag::C | flag::D; b.flags_written = flag::NVZC; break;
    case Sax: b.reads = A | X; break;
    case Lax: b.writes = A | X; b.flags_written = flag::NZ; break;
    case Dcp: b.reads = A; b.flags_written = flag::NZC; break;
    case Anc: case Alr: b.reads = A; b.writes = A; b.flags_written = flag::NZC; break;
    case Arr: b.reads = A; b.writes = A; b.flags_read = flag::C | flag::D; b.flags_written = flag::NVZC; break;
    case Sbx: b.reads = A | X; b.writes = X; b.flags_written = flag::NZC; break;
    case Ane: b.reads = A | X; b.writes = A; b.flags_written = flag::NZ; break;
    case Lxa: b.reads = A; b.writes = A | X; b.flags_written = flag::NZ; break;
    case Las: b.reads = S; b.writes = A | X | S; b.flags_written = flag::NZ; break;
    case Sha: b.reads = A | X; break;
    case Shx: b.reads = X; break;
    case Shy: b.reads = Y; break;
    case Tas: b.reads = A | X; b.writes = S; break;
    case Jam: break;
    }
    return b;
}

constexpr Control control_of(Operation op, Mode mode) {
    using enum Operation;
    if (mode == Mode::Relative) return Control::Branch;
    switch (op) {
    case Jmp: return mode == Mode::Indirect ? Control::JumpIndirect : Control::Jump;
    case Jsr: return Control::Call;
    case Rts: return Control::Return;
    case Rti: return Control::ReturnFromInterrupt;
    case Brk: return Control::Break;
    case Jam: return Control::Halt;
    default: return Control::Next;
    }
}

constexpr Behaviour behaviour_of(const Opcode& row) {
    const Operation op = operation_of(row.mnemonic);
    Behaviour b = registers_of(op);
    b.operation = op;
    b.access = access_of(op, row.mode);
    b.control = control_of(op, row.mode);
    // A shift or rotation of memory leaves the accumulator alone.
    const bool shift = op == Operation::Asl || op == Operation::Lsr || op == Operation::Rol || op == Operation::Ror;
    if (shift && row.mode != Mode::Accumulator) b.reads = b.writes = 0;
    b.cycles = cycles_of(op, row.mode, b.access == Access::Modify);
    return b;
}

}  // namespace detail

// Row n describes what opcode byte n does.
inline constexpr std::array<Behaviour, 256> kBehaviours = [] {
    std::array<Behaviour, 256> table{};
    for (std::size_t byte = 0; byte < table.size(); ++byte) table[byte] = detail::behaviour_of(kOpcodes[byte]);
    return table;
}();

constexpr const Behaviour& behaviour(std::uint8_t byte) { return kBehaviours[byte]; }

// Named questions about an opcode byte, for the analyses.

// lda #, ldx #, ldy #: `reg` holds the operand afterwards.
constexpr bool is_load_immediate(std::uint8_t byte) {
    const Behaviour& b = behaviour(byte);
    return kOpcodes[byte].mode == Mode::Immediate &&
           (b.operation == Operation::Lda || b.operation == Operation::Ldx || b.operation == Operation::Ldy);
}

// lda, ldx, ldy (any mode): the register it loads, or 0.
constexpr std::uint8_t loaded_register(std::uint8_t byte) {
    switch (behaviour(byte).operation) {
    case Operation::Lda: return reg::A;
    case Operation::Ldx: return reg::X;
    case Operation::Ldy: return reg::Y;
    default: return 0;
    }
}

// sta, stx, sty: the register it stores, or 0 (also for sax, which stores
// A and X together).
constexpr std::uint8_t stored_register(std::uint8_t byte) {
    switch (behaviour(byte).operation) {
    case Operation::Sta: return reg::A;
    case Operation::Stx: return reg::X;
    case Operation::Sty: return reg::Y;
    default: return 0;
    }
}

// Whether an instruction with an absolute operand (plain or indexed) has a
// zero page form with the same index that assemblers can write: lda $0012
// could have been lda $12, while lda $0012,y and jsr $0012 have no shorter
// form.
constexpr bool has_zero_page_form(std::uint8_t byte) {
    const Opcode& row = kOpcodes[byte];
    Mode shorter = Mode::Implied;
    if (row.mode == Mode::Absolute) shorter = Mode::ZeroPage;
    if (row.mode == Mode::AbsoluteX) shorter = Mode::ZeroPageX;
    if (row.mode == Mode::AbsoluteY) shorter = Mode::ZeroPageY;
    if (shorter == Mode::Implied) return false;
    for (const Opcode& other : kOpcodes) {
        const bool writable = other.standing == Standing::Documented || other.standing == Standing::Stable;
        if (other.mnemonic == row.mnemonic && other.mode == shorter && writable) return true;
    }
    return false;
}

// pha: the accumulator goes onto the stack.
constexpr bool pushes_accumulator(std::uint8_t byte) { return behaviour(byte).operation == Operation::Pha; }

// jmp absolute and jsr: execution goes on at the operand.
constexpr bool jumps_to_operand(std::uint8_t byte) {
    const Control control = behaviour(byte).control;
    return control == Control::Jump || control == Control::Call;
}

// Whether the instruction moves the stack pointer: pushes and pulls, calls
// and returns, txs.
constexpr bool moves_stack_pointer(std::uint8_t byte) { return (behaviour(byte).writes & reg::S) != 0; }

// The one register an instruction changes, or 0 (none, or more than one).
constexpr std::uint8_t single_register_written(std::uint8_t byte) {
    const std::uint8_t written = behaviour(byte).writes & (reg::A | reg::X | reg::Y);
    return written == reg::A || written == reg::X || written == reg::Y ? written : 0;
}

// Whether the instruction reads or writes memory through its operand.
constexpr bool uses_memory(std::uint8_t byte) { return behaviour(byte).access != Access::None; }

// Whether the instruction writes the memory its operand names.
constexpr bool writes_memory(std::uint8_t byte) {
    const Access access = behaviour(byte).access;
    return access == Access::Write || access == Access::Modify;
}

}  // namespace tolvek
