#include "emu/cpu6510.hpp"

#include <algorithm>
#include <string_view>
#include <utility>

#include "cpu/behaviour.hpp"

namespace tolvek {
namespace {

constexpr std::uint8_t with_nz(std::uint8_t p, std::uint8_t value) {
    return static_cast<std::uint8_t>((p & ~(flag::N | flag::Z)) | (value & flag::N) | (value == 0 ? flag::Z : 0));
}

}  // namespace

// The instructions' own memory accesses, inlined into every handler.
[[gnu::always_inline]] inline std::uint8_t Cpu6510::load(std::uint16_t address) {
    const std::uint8_t* page = bus_.read_page[address >> 8];
    return page != nullptr ? page[address & 0xff] : bus_.io_read(address);
}

[[gnu::always_inline]] inline void Cpu6510::store(std::uint16_t address, std::uint8_t value) {
    std::uint8_t* page = bus_.write_page[address >> 8];
    if (page == nullptr) {
        bus_.io_write(address, value);
        return;
    }
    page[address & 0xff] = value;
    // A computed value until the instruction says otherwise.
    if (bus_.origins != nullptr) bus_.origins[address] = kNoOrigin;
    // Calls and pushes store too, in waiting loops as well.
    if (interrupt_depth_ == 0 && (address >> 8) != 0x01) last_main_store = cycles;
    if (bus_.last_writes != nullptr) {
        LastWrite& last = bus_.last_writes[address];
        const auto now = static_cast<std::uint32_t>(std::min<std::uint64_t>(cycles, 0xffffffff));
        if (now - last.cycle >= rewrite_age && address >= 0x0200) ++progress;
        last = {now, instruction_pc_};
    }
    std::uint8_t& marks = bus_.marks[address];
    if (marks & mark::RanWritten) [[unlikely]] marks |= mark::Rewritten;
    if (!(marks & mark::Written)) [[unlikely]] {
        marks |= mark::Written;
        bus_.first_writer[address] = instruction_pc_;
        last_news = cycles;
        if (bus_.first_stores != nullptr) bus_.first_stores->push_back(address);
    }
    if (address < 0x100 && pointer_of_[address] != 0 && interrupt_depth_ == 0) [[unlikely]] ++progress;
    if (address < 2) [[unlikely]] bus_.port_written();
}

[[gnu::always_inline]] inline void Cpu6510::pointer_used(std::uint8_t pointer) {
    pointer_of_[pointer] = pointer_of_[static_cast<std::uint8_t>(pointer + 1)] = static_cast<std::uint16_t>(pointer + 1);
}

[[gnu::always_inline]] inline void Cpu6510::push_byte(std::uint8_t value) {
    store(static_cast<std::uint16_t>(0x100 | s), value);
    --s;
}

[[gnu::always_inline]] inline std::uint8_t Cpu6510::pull_byte() {
    ++s;
    return load(static_cast<std::uint16_t>(0x100 | s));
}

std::uint8_t Cpu6510::read(std::uint16_t address) { return load(address); }
void Cpu6510::write(std::uint16_t address, std::uint8_t value) { store(address, value); }
void Cpu6510::push(std::uint8_t value) { push_byte(value); }
std::uint8_t Cpu6510::pull() { return pull_byte(); }

void Cpu6510::enter(std::uint16_t target) {
    pc = target;
    jump_target_ = target;
    jump_from_ = instruction_pc_;
    jumped_by_interrupt_ = false;
    if (target == watched) [[unlikely]] {
        stop_ = Stop::Watched;
        until_ = 0;
    }
    // As Ran: only RAM that runs is marked, not RAM under ROM.
    bus_.run_mark_page[target >> 8][target & 0xff] |= mark::Entered;
}

void Cpu6510::leave_main() {
    // A handler that left without rti (pulled its frame, jumped back) left
    // the stack where the main program had it, or above.
    if (!in_handler_ || s >= main_stack_) {
        interrupted_at = cycles;
        main_stack_ = s;
    }
    in_handler_ = true;
}

void Cpu6510::interrupt(std::uint16_t vector) {
    leave_main();
    ++interrupt_depth_;  // first: the pushes are the handler's stores, not the main program's
    push_byte(static_cast<std::uint8_t>(pc >> 8));
    push_byte(static_cast<std::uint8_t>(pc));
    push_byte(static_cast<std::uint8_t>((p & ~flag::B) | flag::U));
    p |= flag::I;
    const std::uint8_t low = load(vector);
    enter(static_cast<std::uint16_t>(low | load(static_cast<std::uint16_t>(vector + 1)) << 8));
    cycles += 7;
    jumped_by_interrupt_ = true;
}

void Cpu6510::add(std::uint8_t value) {
    const unsigned carry = p & flag::C;
    const unsigned sum = a + value + carry;
    std::uint8_t flags = static_cast<std::uint8_t>(p & ~(flag::N | flag::V | flag::Z | flag::C));
    if ((sum & 0xff) == 0) flags |= flag::Z;
    if (!(p & flag::D)) {
        if (sum > 0xff) flags |= flag::C;
        if (~(a ^ value) & (a ^ sum) & 0x80) flags |= flag::V;
        flags |= sum & flag::N;
        a = static_cast<std::uint8_t>(sum);
        p = flags;
        return;
    }
    // Decimal mode as the NMOS chip does it: Z from the binary sum, N and V
    // from the sum after the low digit's adjustment, C after the high one's.
    unsigned low = (a & 0x0f) + (value & 0x0f) + carry;
    unsigned result = (a & 0xf0) + (value & 0xf0);
    if (low > 9) low += 6;
    if (low > 0x0f) result += 0x10;
    result += low & 0x0f;
    flags |= result & flag::N;
    if (~(a ^ value) & (a ^ result) & 0x80) flags |= flag::V;
    if ((result & 0x1f0) > 0x90) result += 0x60;
    if ((result & 0xff0) > 0xf0) flags |= flag::C;
    a = static_cast<std::uint8_t>(result);
    p = flags;
}

void Cpu6510::subtract(std::uint8_t value) {
    const unsigned borrow = (p & flag::C) ? 0 : 1;
    const unsigned difference = static_cast<unsigned>(a) - value - borrow;
    // The flags are the binary subtraction's, in decimal mode too.
    std::uint8_t flags = static_cast<std::uint8_t>(p & ~(flag::N | flag::V | flag::Z | flag::C));
    if ((difference & 0xff) == 0) flags |= flag::Z;
    if (difference < 0x100) flags |= flag::C;
    if ((a ^ value) & (a ^ difference) & 0x80) flags |= flag::V;
    flags |= difference & flag::N;
    if (!(p & flag::D)) {
        a = static_cast<std::uint8_t>(difference);
    } else {
        unsigned low = (a & 0x0f) - (value & 0x0f) - borrow;
        unsigned high = (a >> 4) - (value >> 4);
        if (low & 0x10) {
            low -= 6;
            --high;
        }
        if (high & 0x10) high -= 6;
        a = static_cast<std::uint8_t>((low & 0x0f) | (high << 4));
    }
    p = flags;
}

void Cpu6510::compare(std::uint8_t reg, std::uint8_t value) {
    const unsigned difference = static_cast<unsigned>(reg) - value;
    p = with_nz(p, static_cast<std::uint8_t>(difference));
    p = static_cast<std::uint8_t>(difference < 0x100 ? p | flag::C : p & ~flag::C);
}

// An instruction's operand: the effective address, the value read there
// (or the immediate value, or A), and what the unstable stores need.
struct Cpu6510::Operand {
    std::uint16_t address = 0;
    std::uint8_t value = 0;
    std::uint8_t base_high = 0;  // the high byte before indexing (sha, shx, shy, tas)
    bool crossed = false;        // the indexing crossed a page
};

template <Operation Op> [[gnu::always_inline]] inline void Cpu6510::branch() {
    using enum Operation;
    const auto offset = static_cast<std::int8_t>(load(pc));
    pc = static_cast<std::uint16_t>(pc + 1);
    bool taken = false;
    if constexpr (Op == Bpl) taken = !(p & flag::N);
    if constexpr (Op == Bmi) taken = p & flag::N;
    if constexpr (Op == Bvc) taken = !(p & flag::V);
    if constexpr (Op == Bvs) taken = p & flag::V;
    if constexpr (Op == Bcc) taken = !(p & flag::C);
    if constexpr (Op == Bcs) taken = p & flag::C;
    if constexpr (Op == Bne) taken = !(p & flag::Z);
    if constexpr (Op == Beq) taken = p & flag::Z;
    if (taken) {
        // Not marked Entered: where a branch leads is known without running.
        const auto target = static_cast<std::uint16_t>(pc + offset);
        cycles += ((target ^ pc) & 0xff00) ? 2 : 1;
        pc = target;
        jump_target_ = target;
        jump_from_ = instruction_pc_;
        jumped_by_interrupt_ = false;
    }
}

// The operand after the opcode: an immediate value or an effective
// address, and for instructions that read it, the value there.
template <Mode M, Access A> [[gnu::always_inline]] inline Cpu6510::Operand Cpu6510::fetch_operand() {
    Operand operand;
    std::uint16_t& address = operand.address;
    if constexpr (M == Mode::Immediate) {
        operand.value = load(pc);
        pc = static_cast<std::uint16_t>(pc + 1);
    } else if constexpr (M == Mode::ZeroPage || M == Mode::ZeroPageX || M == Mode::ZeroPageY) {
        address = load(pc);
        pc = static_cast<std::uint16_t>(pc + 1);
        if constexpr (M == Mode::ZeroPageX) address = (address + x) & 0xff;
        if constexpr (M == Mode::ZeroPageY) address = (address + y) & 0xff;
    } else if constexpr (M == Mode::Absolute || M == Mode::AbsoluteX || M == Mode::AbsoluteY || M == Mode::Indirect) {
        const std::uint8_t low = load(pc);
        const std::uint8_t high = load(static_cast<std::uint16_t>(pc + 1));
        pc = static_cast<std::uint16_t>(pc + 2);
        address = static_cast<std::uint16_t>(low | high << 8);
        operand.base_high = high;
        if constexpr (M == Mode::AbsoluteX || M == Mode::AbsoluteY) {
            const std::uint8_t index = M == Mode::AbsoluteX ? x : y;
            operand.crossed = low + index > 0xff;
            address = static_cast<std::uint16_t>(address + index);
        }
        if constexpr (M == Mode::Indirect) {
            // The pointer's high byte comes from the same page: jmp ($10ff)
            // reads $10ff and $1000.
            const std::uint16_t pointer = address;
            const std::uint8_t target_low = load(pointer);
            const auto next = static_cast<std::uint16_t>((pointer & 0xff00) | ((pointer + 1) & 0xff));
            address = static_cast<std::uint16_t>(target_low | load(next) << 8);
            if (bus_.origins != nullptr) note_pointer(pointer, next, address, 0, bus_.copied_pointers);
        }
    } else if constexpr (M == Mode::IndirectX) {
        const auto pointer = static_cast<std::uint8_t>(load(pc) + x);
        pc = static_cast<std::uint16_t>(pc + 1);
        address = static_cast<std::uint16_t>(load(pointer) | load(static_cast<std::uint8_t>(pointer + 1)) << 8);
        if (bus_.origins != nullptr) note_pointer(pointer, static_cast<std::uint8_t>(pointer + 1), address, 0, bus_.data_pointers);
    } else if constexpr (M == Mode::IndirectY) {
        const std::uint8_t pointer = load(pc);
        pc = static_cast<std::uint16_t>(pc + 1);
        const std::uint8_t low = load(pointer);
        operand.base_high = load(static_cast<std::uint8_t>(pointer + 1));
        operand.crossed = low + y > 0xff;
        address = static_cast<std::uint16_t>((low | operand.base_high << 8) + y);
        pointer_used(pointer);
        if (bus_.origins != nullptr) {
            note_pointer(pointer, static_cast<std::uint8_t>(pointer + 1), static_cast<std::uint16_t>(low | operand.base_high << 8),
                         0, bus_.data_pointers);
        }
    }
    if constexpr (A == Access::Read && (M == Mode::AbsoluteX || M == Mode::AbsoluteY || M == Mode::IndirectY)) {
        if (operand.crossed) cycles += 1;
    }
    if constexpr (A == Access::Read) operand.value = load(address);
    if constexpr (M == Mode::Accumulator) operand.value = a;
    return operand;
}

// Read-modify-write: the 6502 writes the old value back before the new
// one, which the chips see (inc $d019 acknowledges an interrupt).
template <Operation Op, Mode M> [[gnu::always_inline]] inline void Cpu6510::modify(const Operand& operand) {
    using enum Operation;
    std::uint8_t value = operand.value;
    std::uint8_t result = 0;
    if constexpr (M != Mode::Accumulator) {
        value = load(operand.address);
        if (bus_.write_page[operand.address >> 8] == nullptr) bus_.io_write(operand.address, value);
    }
    if constexpr (Op == Asl || Op == Slo) {
        p = static_cast<std::uint8_t>((p & ~flag::C) | (value >> 7));
        result = static_cast<std::uint8_t>(value << 1);
    } else if constexpr (Op == Lsr || Op == Sre) {
        p = static_cast<std::uint8_t>((p & ~flag::C) | (value & 1));
        result = static_cast<std::uint8_t>(value >> 1);
    } else if constexpr (Op == Rol || Op == Rla) {
        result = static_cast<std::uint8_t>(value << 1 | (p & flag::C));
        p = static_cast<std::uint8_t>((p & ~flag::C) | (value >> 7));
    } else if constexpr (Op == Ror || Op == Rra) {
        result = static_cast<std::uint8_t>(value >> 1 | (p & flag::C) << 7);
        p = static_cast<std::uint8_t>((p & ~flag::C) | (value & 1));
    } else if constexpr (Op == Inc || Op == Isc) {
        result = static_cast<std::uint8_t>(value + 1);
    } else if constexpr (Op == Dec || Op == Dcp) {
        result = static_cast<std::uint8_t>(value - 1);
    }
    if constexpr (M == Mode::Accumulator) {
        a = result;
    } else {
        store(operand.address, result);
    }
    if constexpr (Op == Asl || Op == Lsr || Op == Rol || Op == Ror || Op == Inc || Op == Dec) p = with_nz(p, result);
    if constexpr (Op == Slo) p = with_nz(p, a |= result);
    if constexpr (Op == Rla) p = with_nz(p, a &= result);
    if constexpr (Op == Sre) p = with_nz(p, a ^= result);
    if constexpr (Op == Rra) add(result);
    if constexpr (Op == Dcp) compare(a, result);
    if constexpr (Op == Isc) subtract(result);
}

// Stores. The unstable ones store a register and'ed with the high byte of
// the address plus one; when the index crosses a page, that value becomes
// the high byte of the address too: their usual model.
template <Operation Op> [[gnu::always_inline]] inline void Cpu6510::store_register(Operand operand) {
    using enum Operation;
    if constexpr (Op == Sta) store(operand.address, a);
    if constexpr (Op == Stx) store(operand.address, x);
    if constexpr (Op == Sty) store(operand.address, y);
    if constexpr (Op == Sax) store(operand.address, a & x);
    if constexpr (Op == Sha || Op == Shx || Op == Shy || Op == Tas) {
        if constexpr (Op == Tas) s = a & x;
        const std::uint8_t source = Op == Sha ? (a & x) : Op == Shx ? x : Op == Shy ? y : s;
        const auto stored = static_cast<std::uint8_t>(source & (operand.base_high + 1));
        if (operand.crossed) operand.address = static_cast<std::uint16_t>((operand.address & 0xff) | stored << 8);
        store(operand.address, stored);
    }
}

template <Operation Op> [[gnu::always_inline]] inline void Cpu6510::compute(std::uint8_t value) {
    using enum Operation;
    if constexpr (Op == Lda) p = with_nz(p, a = value);
    if constexpr (Op == Ldx) p = with_nz(p, x = value);
    if constexpr (Op == Ldy) p = with_nz(p, y = value);
    if constexpr (Op == Lax) p = with_nz(p, a = x = value);
    if constexpr (Op == And) p = with_nz(p, a &= value);
    if constexpr (Op == Ora) p = with_nz(p, a |= value);
    if constexpr (Op == Eor) p = with_nz(p, a ^= value);
    if constexpr (Op == Adc) add(value);
    if constexpr (Op == Sbc) subtract(value);
    if constexpr (Op == Cmp) compare(a, value);
    if constexpr (Op == Cpx) compare(x, value);
    if constexpr (Op == Cpy) compare(y, value);
    if constexpr (Op == Bit) {
        p = static_cast<std::uint8_t>((p & ~(flag::N | flag::V | flag::Z)) | (value & (flag::N | flag::V)) |
                                      ((a & value) == 0 ? flag::Z : 0));
    }
    if constexpr (Op == Anc) {
        p = with_nz(p, a &= value);
        p = static_cast<std::uint8_t>((p & ~flag::C) | (a >> 7));
    }
    if constexpr (Op == Alr) {
        a &= value;
        p = static_cast<std::uint8_t>((p & ~flag::C) | (a & 1));
        p = with_nz(p, a = static_cast<std::uint8_t>(a >> 1));
    }
    if constexpr (Op == Arr) {
        const auto anded = static_cast<std::uint8_t>(a & value);
        a = static_cast<std::uint8_t>(anded >> 1 | (p & flag::C) << 7);
        p = with_nz(p, a);
        p = static_cast<std::uint8_t>(p & ~(flag::C | flag::V));
        if (!(p & flag::D)) {
            if (a & 0x40) p |= flag::C;                 // C: bit 6
            if ((a ^ (a << 1)) & 0x40) p |= flag::V;    // V: bit 6 xor bit 5
        } else {
            // NMOS decimal mode: N and Z as above, V from the and'ed value's
            // bit 6 changing, then each digit adjusted like a BCD add.
            if ((anded ^ a) & 0x40) p |= flag::V;
            if ((anded & 0x0f) + (anded & 0x01) > 5) a = static_cast<std::uint8_t>((a & 0xf0) | ((a + 6) & 0x0f));
            if ((anded & 0xf0) + (anded & 0x10) > 0x50) {
                a = static_cast<std::uint8_t>(a + 0x60);
                p |= flag::C;
            }
        }
    }
    if constexpr (Op == Sbx) {
        const unsigned difference = static_cast<unsigned>(a & x) - value;
        x = static_cast<std::uint8_t>(difference);
        p = with_nz(p, x);
        p = static_cast<std::uint8_t>(difference < 0x100 ? p | flag::C : p & ~flag::C);
    }
    // ane and lxa mix in the chip's "magic" constant; $ee is the usual model.
    if constexpr (Op == Ane) p = with_nz(p, a = static_cast<std::uint8_t>((a | 0xee) & x & value));
    if constexpr (Op == Lxa) p = with_nz(p, a = x = static_cast<std::uint8_t>((a | 0xee) & value));
    if constexpr (Op == Las) p = with_nz(p, a = x = s = static_cast<std::uint8_t>(value & s));
}

template <Operation Op> [[gnu::always_inline]] inline void Cpu6510::transfer_or_flag() {
    using enum Operation;
    if constexpr (Op == Tax) p = with_nz(p, x = a);
    if constexpr (Op == Tay) p = with_nz(p, y = a);
    if constexpr (Op == Txa) p = with_nz(p, a = x);
    if constexpr (Op == Tya) p = with_nz(p, a = y);
    if constexpr (Op == Tsx) p = with_nz(p, x = s);
    if constexpr (Op == Txs) s = x;
    if constexpr (Op == Inx) p = with_nz(p, ++x);
    if constexpr (Op == Iny) p = with_nz(p, ++y);
    if constexpr (Op == Dex) p = with_nz(p, --x);
    if constexpr (Op == Dey) p = with_nz(p, --y);
    if constexpr (Op == Clc) p &= static_cast<std::uint8_t>(~flag::C);
    if constexpr (Op == Sec) p |= flag::C;
    if constexpr (Op == Cli) p &= static_cast<std::uint8_t>(~flag::I);
    if constexpr (Op == Sei) p |= flag::I;
    if constexpr (Op == Cld) p &= static_cast<std::uint8_t>(~flag::D);
    if constexpr (Op == Sed) p |= flag::D;
    if constexpr (Op == Clv) p &= static_cast<std::uint8_t>(~flag::V);
}

template <Operation Op> [[gnu::always_inline]] inline void Cpu6510::stack_or_jump(std::uint16_t address) {
    using enum Operation;
    if constexpr (Op == Pha) push_byte(a);
    if constexpr (Op == Php) push_byte(p | flag::B | flag::U);
    if constexpr (Op == Pla) p = with_nz(p, a = pull_byte());
    if constexpr (Op == Plp) p = static_cast<std::uint8_t>((pull_byte() & ~flag::B) | flag::U);
    if constexpr (Op == Jmp) enter(address);
    if constexpr (Op == Jsr) {
        const auto last = static_cast<std::uint16_t>(pc - 1);  // the jsr's last byte, as the 6502 pushes it
        push_byte(static_cast<std::uint8_t>(last >> 8));
        push_byte(static_cast<std::uint8_t>(last));
        enter(address);
    }
    if constexpr (Op == Rts) {
        const std::uint8_t low = pull_byte();
        enter(static_cast<std::uint16_t>((low | pull_byte() << 8) + 1));
    }
    if constexpr (Op == Rti) {
        if (interrupt_depth_ > 0) --interrupt_depth_;
        p = static_cast<std::uint8_t>((pull_byte() & ~flag::B) | flag::U);
        const std::uint8_t low = pull_byte();
        enter(static_cast<std::uint16_t>(low | pull_byte() << 8));
        if (s >= main_stack_) in_handler_ = false;
    }
    if constexpr (Op == Brk) {
        // brk skips the byte after it.
        const auto next = static_cast<std::uint16_t>(pc + 1);
        leave_main();
        ++interrupt_depth_;
        push_byte(static_cast<std::uint8_t>(next >> 8));
        push_byte(static_cast<std::uint8_t>(next));
        push_byte(p | flag::B | flag::U);
        p |= flag::I;
        const std::uint8_t low = load(0xfffe);
        enter(static_cast<std::uint16_t>(low | load(0xffff) << 8));
        jumped_by_interrupt_ = true;
    }
}

// Where the value read at `address` came from: the chips' values from
// nowhere, ROM's and RAM's as loaded from themselves, RAM the program
// stored into from where the stored value came from.
[[gnu::always_inline]] inline std::uint16_t Cpu6510::origin_of(std::uint16_t address) const {
    const std::uint8_t* page = bus_.read_page[address >> 8];
    if (page == nullptr) return kNoOrigin;
    return page != bus_.write_page[address >> 8] ? address : bus_.origins[address];
}

// A program may jump through copied pointers without end; the first so
// many differing ones tell where its tables are.
constexpr std::size_t kMostCopiedPointers = 4096;

void Cpu6510::note_pointer(std::uint16_t low, std::uint16_t high, std::uint16_t target, std::uint8_t adjust,
                           std::vector<CopiedPointer>* into) {
    const std::uint16_t from_low = bus_.origins[low];
    const std::uint16_t from_high = bus_.origins[high];
    // Bytes as loaded are no copies.
    if (from_low == low || from_high == high || from_low == kNoOrigin || from_high == kNoOrigin || into == nullptr) {
        return;
    }
    std::vector<CopiedPointer>& noted = *into;
    const CopiedPointer pointer{from_low, from_high, target, adjust};
    if (noted.size() >= kMostCopiedPointers || (!noted.empty() && noted.back() == pointer)) return;
    noted.push_back(pointer);
}

// Carries the origins of values from loads to registers, through
// transfers and the stack, to stores; whatever computes a value gives it
// none. Jumps through copied bytes are noted.
template <Operation Op, Mode M> [[gnu::always_inline]] inline void Cpu6510::track_origin(std::uint16_t address) {
    using enum Operation;
    // An immediate comes from the instruction's operand byte.
    if constexpr (M == Mode::Immediate) address = static_cast<std::uint16_t>(instruction_pc_ + 1);
    constexpr bool loads = M != Mode::Implied && M != Mode::Accumulator;
    if constexpr (Op == Lda || Op == Lax) origin_a_ = loads ? origin_of(address) : kNoOrigin;
    if constexpr (Op == Ldx || Op == Lax) origin_x_ = loads ? origin_of(address) : kNoOrigin;
    if constexpr (Op == Ldy) origin_y_ = loads ? origin_of(address) : kNoOrigin;
    if constexpr (Op == And || Op == Ora || Op == Eor || Op == Adc || Op == Sbc || Op == Anc || Op == Alr ||
                  Op == Arr || Op == Ane) {
        origin_a_ = kNoOrigin;
    }
    if constexpr (Op == Lxa || Op == Las) origin_a_ = origin_x_ = kNoOrigin;
    if constexpr (Op == Sbx || Op == Tsx || Op == Inx || Op == Dex) origin_x_ = kNoOrigin;
    if constexpr (Op == Iny || Op == Dey) origin_y_ = kNoOrigin;
    if constexpr (Op == Tax) origin_x_ = origin_a_;
    if constexpr (Op == Tay) origin_y_ = origin_a_;
    if constexpr (Op == Txa) origin_a_ = origin_x_;
    if constexpr (Op == Tya) origin_a_ = origin_y_;
    if constexpr (Op == Pha) bus_.origins[0x100 | ((s + 1) & 0xff)] = origin_a_;
    if constexpr (Op == Pla) origin_a_ = bus_.origins[0x100 | s];
    if constexpr (Op == Rts) {
        note_pointer(static_cast<std::uint16_t>(0x100 | ((s - 1) & 0xff)), static_cast<std::uint16_t>(0x100 | s), pc, 1,
                     bus_.copied_pointers);
    }
    if constexpr ((Op == Jmp || Op == Jsr) && M == Mode::Absolute) {
        note_pointer(static_cast<std::uint16_t>(instruction_pc_ + 1), static_cast<std::uint16_t>(instruction_pc_ + 2),
                     address, 0, bus_.copied_pointers);
    }
    if constexpr (Op == Sta || Op == Stx || Op == Sty) {
        if (bus_.write_page[address >> 8] != nullptr) {
            bus_.origins[address] = Op == Sta ? origin_a_ : Op == Stx ? origin_x_ : origin_y_;
        }
    }
    if constexpr (read_modify_write(Op) && (M == Mode::Accumulator || Op == Slo || Op == Rla || Op == Sre ||
                                              Op == Rra || Op == Isc)) {
        origin_a_ = kNoOrigin;
    }
}

// One instruction, compiled from its row of the table: every part but the
// one its operation belongs to compiles to nothing.
template <std::uint8_t Opcode> void Cpu6510::execute() {
    constexpr Mode mode = kOpcodes[Opcode].mode;
    constexpr Behaviour behaves = kBehaviours[Opcode];
    constexpr Operation op = behaves.operation;
    cycles += behaves.cycles;
    if constexpr (op == Operation::Jam) {
        // The CPU stops; the machine decides what that means.
        pc = static_cast<std::uint16_t>(pc - 1);
        cycles -= 2;
        stop_ = Stop::Halted;
        until_ = 0;
    } else if constexpr (mode == Mode::Relative) {
        branch<op>();
    } else {
        const Operand operand = fetch_operand<mode, behaves.access>();
        if constexpr (read_modify_write(op)) {
            modify<op, mode>(operand);
        } else if constexpr (behaves.access == Access::Write) {
            store_register<op>(operand);
        } else {
            compute<op>(operand.value);
            transfer_or_flag<op>();
            stack_or_jump<op>(operand.address);
        }
        if (bus_.origins != nullptr) track_origin<op, mode>(operand.address);
    }
}

// One handler per opcode byte, each compiled from its row of the table;
// plain functions, as calls through member pointers cost a test each.
struct Cpu6510::Handlers {
    using Handler = void (*)(Cpu6510&);
    template <std::uint8_t Op> static void handle(Cpu6510& cpu) { cpu.execute<Op>(); }
    template <std::size_t... Op>
    static constexpr std::array<Handler, 256> make(std::index_sequence<Op...>) {
        return {&handle<static_cast<std::uint8_t>(Op)>...};
    }
};

namespace {
constexpr std::array<Cpu6510::Handlers::Handler, 256> kHandlers =
    Cpu6510::Handlers::make(std::make_index_sequence<256>{});
}  // namespace

Cpu6510::Stop Cpu6510::run(std::uint64_t until, bool stop_at_new_code) {
    until_ = until;
    stop_ = Stop::Budget;
    while (cycles < until_) {
        if (irq_line && !(p & flag::I)) [[unlikely]] {
            interrupt(0xfffe);
            continue;
        }
        const std::uint16_t at = pc;
        instruction_pc_ = at;
        std::uint8_t& marks = bus_.run_mark_page[at >> 8][at & 0xff];
        // Ran for the image's byte, RanWritten for one the program stored.
        const auto ran = static_cast<std::uint8_t>(mark::Ran << (marks & mark::Written));
        if ((marks & (ran | mark::Rewritten)) != ran) [[unlikely]] {
            // Code rewritten where it ran stops a run that looks for new
            // code, but is no news: a loop may patch its own opcodes.
            const bool first = !(marks & ran);
            marks = static_cast<std::uint8_t>((marks | ran) & ~mark::Rewritten);
            if (first) last_news = cycles;
            if (first && ran == mark::Ran && bus_.first_ran != nullptr && &marks == bus_.marks + at) {
                bus_.first_ran[at] = static_cast<std::uint32_t>(std::min<std::uint64_t>(cycles, kNotRan - 1));
            }
            if (ran == mark::RanWritten && stop_at_new_code && at == jump_target_) {
                stop_ = Stop::NewCode;
                break;
            }
        }
        const std::uint8_t op = load(at);
        pc = static_cast<std::uint16_t>(at + 1);
        kHandlers[op](*this);
    }
    return stop_;
}

}  // namespace tolvek
