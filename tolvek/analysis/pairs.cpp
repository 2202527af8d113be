#include "analysis/pairs.hpp"

#include <algorithm>
#include <array>
#include <unordered_set>
#include "cpu/behaviour.hpp"
#include "cpu/decode.hpp"

namespace tolvek {
namespace {

enum Register : std::uint8_t { A, X, Y, kRegisters };

// What an instruction does to the values the tracking follows.
enum class Effect : std::uint8_t {
    Other,      // leaves A, X and Y alone (compares, flags, stores elsewhere)
    LoadImm,    // lda/ldx/ldy #: the register holds an immediate
    Load,       // the registers in `forgets` get values not followed
    Transfer,   // tax, tay, txa, tya
    Store,      // sta/stx/sty to an address (not indexed)
    StoreIndirect,  // sta (zp),y
    Increment,  // iny
    Decrement,  // dey
    AddImm,     // adc #
    AddMem,     // adc from memory
    Push,       // pha
    Pull,       // pla
    Call,       // jsr
};

struct Step {
    Effect effect = Effect::Other;
    Register reg = A;   // the register read or written
    Register from = A;  // Transfer: the source
    std::uint8_t forgets = 0;  // Load: the registers changed (reg::)
};

// The one of A, X and Y in a set of registers (reg::).
constexpr Register register_in(std::uint8_t registers) {
    return (registers & reg::X) != 0 ? X : (registers & reg::Y) != 0 ? Y : A;
}

Step step_of(std::uint8_t byte) {
    using enum Operation;
    const Behaviour& b = behaviour(byte);
    const Mode mode = opcode(byte).mode;
    switch (b.operation) {
    case Lda: case Ldx: case Ldy:
        if (mode == Mode::Immediate) return {Effect::LoadImm, register_in(b.writes)};
        break;
    case Sta: case Stx: case Sty:
        if (mode == Mode::IndirectY) return {Effect::StoreIndirect, A};
        return {mode == Mode::Absolute || mode == Mode::ZeroPage ? Effect::Store : Effect::Other, register_in(b.reads)};
    case Tax: case Tay: case Txa: case Tya: return {Effect::Transfer, register_in(b.writes), register_in(b.reads)};
    // Subtracting a base address gives an offset; both are pointer
    // arithmetic.
    case Adc: case Sbc: return {mode == Mode::Immediate ? Effect::AddImm : Effect::AddMem, A};
    case Pha: return {Effect::Push, A};
    case Pla: return {Effect::Pull, A};
    case Php: return {Effect::Push, kRegisters};
    case Plp: return {Effect::Pull, kRegisters};
    case Jsr: return {Effect::Call};
    case Jmp:
        if (mode == Mode::Absolute) return {Effect::Call};
        break;
    case Iny: return {Effect::Increment, Y};
    case Dey: return {Effect::Decrement, Y};
    default: break;
    }
    // Whatever else an instruction writes into A, X or Y is not followed.
    const std::uint8_t written = b.writes & (reg::A | reg::X | reg::Y);
    if (written != 0) return {Effect::Load, A, A, written};
    return {Effect::Other};
}

const std::array<Step, 256>& steps() {
    static const std::array<Step, 256> table = [] {
        std::array<Step, 256> out{};
        for (std::size_t byte = 0; byte < out.size(); ++byte) out[byte] = step_of(static_cast<std::uint8_t>(byte));
        return out;
    }();
    return table;
}

// Where a value came from: an immediate, and whether something was added
// to it since (pointer arithmetic).
struct Tag {
    bool known = false;
    std::uint32_t at = 0;  // the instruction with the immediate
    std::uint8_t value = 0;
    bool sum = false;
    // The sum is a carry added to an immediate (lda #0 / adc #n): the high
    // half of an address only where it goes to a pointer, as 16-bit
    // arithmetic of any kind does the same.
    bool carry = false;
};

struct Store {
    std::uint32_t address;
    Tag tag;
};

class Tracker {
public:
    explicit Tracker(const MemoryMap& map)
        : map_(map), image_(map.image()), entered_(image_.bytes.size() + 1, false) {
        // Where code can be entered other than by falling into it.
        const Kind* kinds = map.kinds().data();
        for (std::size_t i = 0; i < image_.bytes.size(); ++i) {
            if (kinds[i] != Kind::Opcode) continue;
            const std::uint32_t a = image_.load + static_cast<std::uint32_t>(i);
            if (const auto target = target_of(image_, a); target && image_.contains(*target)) {
                entered_[image_.offset(*target)] = true;
            }
        }
    }

    std::vector<AddressPair> run() {
        const Kind* kinds = map_.kinds().data();
        bool fresh = true;
        for (std::size_t i = 0; i < image_.bytes.size();) {
            if (kinds[i] != Kind::Opcode) {
                ++i;
                fresh = true;
                continue;
            }
            if (fresh || entered_[i]) forget();
            fresh = false;
            const std::uint8_t byte = image_.bytes[i];
            follow(image_.load + static_cast<std::uint32_t>(i), byte);
            const Flow flow = flow_of(byte);
            if (flow == Flow::Jump || flow == Flow::Stop) fresh = true;
            i += instruction_length(byte);
        }
        // An immediate that goes to a chip is a setting, wherever else it
        // goes too: no pair with it.
        std::erase_if(pairs_, [&](const AddressPair& pair) {
            return to_chips_.contains(pair.low) || to_chips_.contains(pair.high);
        });
        return std::move(pairs_);
    }

private:
    void forget() {
        y_.reset();
        last_load_imm_ = kNone;
        adjacent_ax_ = false;
        regs_ = {};
        stores_.clear();
        pushed_.clear();
    }

    void follow(std::uint32_t a, std::uint8_t byte) {
        const Step step = steps()[byte];
        previous_ = current_;
        current_ = a;
        // lda #<x / ldx #>x / clc / adc: an address and an offset added.
        if (adjacent_ax_ && (step.effect == Effect::AddMem || step.effect == Effect::AddImm ||
                             behaviour(byte).operation == Operation::Clc)) {
            pair_registers(A, X);
        }
        if (step.effect != Effect::LoadImm && step.effect != Effect::Call) adjacent_ax_ = false;
        if (opcode(byte).mode == Mode::IndirectY) through_pointer(image_.at(a + 1));
        Tag& held = regs_[step.reg < kRegisters ? step.reg : A];
        switch (step.effect) {
        case Effect::Other: break;
        case Effect::LoadImm:
            if (step.reg == Y) y_ = image_.at(a + 1);
            held = {true, a, image_.at(a + 1), false};
            // lda #<x next to ldx #>x, in either order: how cc65 loads a
            // 16-bit value into A and X.
            adjacent_ax_ = (step.reg == A || step.reg == X) && last_load_imm_ == previous_ && previous_ != kNone &&
                           regs_[step.reg == A ? X : A].at == last_load_imm_;
            last_load_imm_ = a;
            break;
        case Effect::Load:
            if ((step.forgets & reg::A) != 0) regs_[A] = {};
            if ((step.forgets & reg::X) != 0) regs_[X] = {};
            if ((step.forgets & reg::Y) != 0) {
                regs_[Y] = {};
                y_.reset();
            }
            break;
        case Effect::Transfer:
            if (step.reg == Y) y_.reset();
            regs_[step.reg] = regs_[step.from];
            break;
        case Effect::Increment:
        case Effect::Decrement:
            // The Y of a run of stores through (zp),y: its value is known.
            if (y_) y_ = static_cast<std::uint8_t>(*y_ + (step.effect == Effect::Increment ? 1 : -1));
            held = {};
            break;
        case Effect::StoreIndirect:
            // Through the pointer at zp, at offset Y: two such stores at
            // offsets one apart are the two bytes of an address. Such places
            // get numbers beyond any real address.
            if (y_) store(kThroughPointer + image_.at(a + 1) * 0x100u + *y_, held);
            break;
        case Effect::AddImm:
            // Adding an immediate to a value from memory: the immediate is
            // what the pointer arithmetic is about; so it is added to 0 (the
            // carry of the low half: lda #0 / adc #>table). Two immediates
            // summed otherwise are neither.
            if (!held.known) {
                held = {true, a, image_.at(a + 1), true};
            } else {
                held = held.value == 0 && !held.sum ? Tag{true, a, image_.at(a + 1), true, true} : Tag{};
            }
            break;
        case Effect::AddMem:
            if (held.known) held.sum = true;
            break;
        case Effect::Store: store(operand_of(image_, a), held); break;
        case Effect::Push: push(step.reg < kRegisters ? held : Tag{}); break;
        case Effect::Pull:
            // pla gets back what pha saved, if anything was followed.
            if (step.reg < kRegisters) held = pushed_.empty() ? Tag{} : pushed_.back();
            if (!pushed_.empty()) pushed_.pop_back();
            break;
        case Effect::Call: call(operand_of(image_, a)); break;
        }
    }

    // Calling conventions, low half first: A and X (cc65, also for a jump
    // to a routine that returns to the caller), X and Y for the KERNAL
    // routines that take an address there, A and Y for BASIC's string
    // output. Immediates, or immediates added to a pointer. Elsewhere X and
    // Y, or A and Y, are as often two numbers (a row and a column, a count).
    void call(std::uint32_t target) {
        // A and X loaded apart are as often two numbers, unless both were
        // added to a pointer.
        const bool ax = adjacent_ax_ || (regs_[A].sum && regs_[X].sum);
        if (!ax || !pair_registers(A, X)) {
            if (takes_address_in(target, reg::X, reg::Y)) pair_registers(X, Y);
            if (takes_address_in(target, reg::A, reg::Y)) pair_registers(A, Y);
        }
        regs_ = {};
        stores_.clear();
    }

    bool pair_registers(Register low, Register high) {
        const Tag& lo = regs_[low];
        const Tag& hi = regs_[high];
        if (!lo.known || !hi.known || lo.sum != hi.sum || lo.carry || hi.carry) return false;
        add_pair(lo, hi, 0, std::nullopt);
        return true;
    }

    void store(std::uint32_t address, const Tag& tag) {
        // The value stored replaces what was known to be at the address.
        std::erase_if(stores_, [&](const Store& s) { return s.address == address; });
        if (!tag.known) return;
        if (is_chip_register(address)) {
            to_chips_.insert(tag.at);
            return;
        }
        // A sum is an address only where it goes to a pointer; so, now, is
        // anything.
        if (!holds_pointer(address)) return;
        for (const Store& other : stores_) {
            if (other.tag.sum != tag.sum) continue;
            if (other.address + 1 == address) add_pair(other.tag, tag, 0, other.address);
            if (address + 1 == other.address) add_pair(tag, other.tag, 0, address);
        }
        stores_.push_back({address, tag});
    }

    // Where a pointer is kept: zero page, a vector (both its bytes: the
    // IRQ vector's high byte is at $FFFF), an instruction's operand, or
    // the memory a pointer points to.
    bool holds_pointer(std::uint32_t address) const {
        return address < 0x100 || address >= kThroughPointer || is_vector(address) || is_vector(address - 1) ||
               (image_.contains(address) && map_.kind(address) == Kind::Operand);
    }

    // An access through the pointer at `zp`, indexed by Y: where its high
    // byte is an immediate added to an offset and Y an immediate, the two
    // are the halves of the base address the offset indexes, as cc65
    // writes an array's element (adc #>array / sta ptr+1 / ldy #<array /
    // lda (ptr),y).
    void through_pointer(std::uint8_t zp) {
        const Tag& index = regs_[Y];
        if (!index.known || index.sum) return;
        for (const Store& stored : stores_) {
            if (stored.address == static_cast<std::uint32_t>(zp + 1) && stored.tag.sum) {
                add_pair(index, stored.tag, 0, std::nullopt);
            }
        }
    }

    // Pushed high half first, then the low half: an rts pulls them as an
    // address and goes on one past it.
    void push(const Tag& tag) {
        if (tag.known && !pushed_.empty() && pushed_.back().known && !tag.sum && !pushed_.back().sum && !tag.carry &&
            !pushed_.back().carry) {
            add_pair(tag, pushed_.back(), 1, std::nullopt);
        }
        pushed_.push_back(tag);
    }

    void add_pair(const Tag& lo, const Tag& hi, std::int32_t adjust, std::optional<std::uint32_t> stored_to) {
        if (lo.at == hi.at) return;
        // Adding $ffff is subtracting 1 (adc #$ff twice), no address.
        if (lo.sum && hi.sum && lo.value == 0xff && hi.value == 0xff) return;
        pairs_.push_back(
            {lo.at, hi.at, static_cast<std::uint32_t>(hi.value << 8 | lo.value), adjust, stored_to, lo.sum && hi.sum});
    }

    const MemoryMap& map_;
    const Image& image_;
    std::vector<bool> entered_;  // per image byte: code can be entered here
    static constexpr std::uint32_t kNone = 0xffffffff;
    static constexpr std::uint32_t kThroughPointer = 0x100000;
    std::optional<std::uint8_t> y_;        // the value of Y, where known
    std::uint32_t current_ = kNone;        // the instruction being followed
    std::uint32_t previous_ = kNone;       // and the one before it
    std::uint32_t last_load_imm_ = kNone;  // the last lda/ldx/ldy #
    bool adjacent_ax_ = false;             // A and X were just loaded as a pair
    std::array<Tag, kRegisters> regs_{};
    std::vector<Store> stores_;
    std::vector<Tag> pushed_;
    std::vector<AddressPair> pairs_;
    std::unordered_set<std::uint32_t> to_chips_;  // immediates stored to a chip's register
};

}  // namespace

bool takes_address_in(std::uint32_t routine, std::uint8_t low, std::uint8_t high) {
    using namespace c64;
    if (low == reg::X && high == reg::Y) {
        return routine == kSetnam || routine == kLoad || routine == kSave || routine == kMemtop || routine == kMembot;
    }
    return low == reg::A && high == reg::Y && routine == kStrout;
}

std::vector<AddressPair> find_address_pairs(const MemoryMap& map) {
    if (map.image().bytes.empty()) return {};
    return Tracker(map).run();
}

PointerTargets::PointerTargets(const MemoryMap& map) : map_(map), called_(map.image().bytes.size(), false) {
    const Image& image = map.image();
    for (const std::uint32_t a : map.instructions()) {
        const std::uint8_t byte = image.at(a);
        const Flow flow = flow_of(byte);
        if ((flow == Flow::Call || flow == Flow::Jump) && behaviour(byte).control != Control::JumpIndirect &&
            image.contains(operand_of(image, a))) {
            called_[image.offset(operand_of(image, a))] = true;
        }
    }
}

bool PointerTargets::plausible(std::uint32_t target) const {
    const Image& image = map_.image();
    if (!image.contains(target) || map_.run.was_written(target)) return true;
    const Kind kind = map_.kind(target);
    if (kind == Kind::Operand || kind == Kind::Continued) return false;
    if (kind != Kind::Opcode) return true;
    if (called_[image.offset(target)] || map_.was_entered(target) || target == image.load) return true;
    const std::uint32_t before = map_.item_start(target - 1);
    if (map_.kind(before) != Kind::Opcode) return true;
    const Flow flow = flow_of(image.at(before));
    return flow == Flow::Jump || flow == Flow::Stop;
}

void record_pairs(MemoryMap& map, const std::vector<AddressPair>& pairs) {
    const Image& image = map.image();
    const PointerTargets targets(map);
    for (const AddressPair& pair : pairs) {
        const std::uint32_t target = pair.target();
        if (target < image.load || target >= std::max(map.own_memory_end, image.end() + 1)) continue;
        // A number loaded as two halves (ship_x = $0a00, a frequency
        // handed to a routine in A and X) goes neither to a pointer nor
        // where a pointer points.
        // Stored to zero page, a vector or an instruction's operand.
        const auto pointer = [&](std::uint32_t at) {
            return at < 0x100 || is_vector(at) || (image.contains(at) && map.kind(at) == Kind::Operand);
        };
        const bool to_pointer = pair.adjust != 0 || (pair.stored_to && pointer(*pair.stored_to));
        if (!to_pointer && !targets.plausible(target)) continue;
        map.set_immediate(pair.low, {false, target, pair.adjust});
        map.set_immediate(pair.high, {true, target, pair.adjust});
    }
}

}  // namespace tolvek
