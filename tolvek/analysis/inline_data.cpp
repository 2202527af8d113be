#include "analysis/inline_data.hpp"

#include <algorithm>
#include <array>
#include <optional>
#include <string_view>
#include <unordered_map>

#include "c64/petscii.hpp"
#include "cpu/decode.hpp"

namespace tolvek {
namespace {

// The most data after one call that is taken.
constexpr std::uint32_t kMaxData = 1024;
// The instructions a routine may run for one call: enough to print the
// longest data a byte at a time.
constexpr std::uint64_t kMaxSteps = 50000;
// The instructions the model runs for one routine, all its calls together,
// and for all routines of an image: thousands of calls of a routine that
// loops long must not take minutes. Past them, a routine's later calls are
// read the way its first call with data showed.
constexpr std::uint64_t kStepsPerRoutine = 1'000'000;
constexpr std::uint64_t kStepsPerImage = 4'000'000;
// The instructions looked at for the return address at a routine's start.
constexpr int kPrologue = 6;
// Text among parameters needs as many printable bytes in a row.
constexpr std::uint32_t kMinText = 4;

// What the model of the CPU does for each documented instruction.
enum class Op : std::uint8_t {
    Unsupported,  // undocumented, brk, rti: the routine cannot be followed
    Lda, Ldx, Ldy, Sta, Stx, Sty,
    Tax, Tay, Txa, Tya, Tsx, Txs,
    Pha, Php, Pla, Plp,
    Adc, Sbc, And, Ora, Eor, Cmp, Cpx, Cpy, Bit,
    Inc, Dec, Inx, Iny, Dex, Dey, Asl, Lsr, Rol, Ror,
    Jmp, Jsr, Rts, Branch,
    Clc, Sec, Cli, Sei, Cld, Sed, Clv, Nop,
};

const std::array<Op, 256>& ops() {
    static const std::array<Op, 256> table = [] {
        constexpr std::array<std::pair<std::string_view, Op>, 47> names{{
            {"lda", Op::Lda}, {"ldx", Op::Ldx}, {"ldy", Op::Ldy}, {"sta", Op::Sta}, {"stx", Op::Stx},
            {"sty", Op::Sty}, {"tax", Op::Tax}, {"tay", Op::Tay}, {"txa", Op::Txa}, {"tya", Op::Tya},
            {"tsx", Op::Tsx}, {"txs", Op::Txs}, {"pha", Op::Pha}, {"php", Op::Php}, {"pla", Op::Pla},
            {"plp", Op::Plp}, {"adc", Op::Adc}, {"sbc", Op::Sbc}, {"and", Op::And}, {"ora", Op::Ora},
            {"eor", Op::Eor}, {"cmp", Op::Cmp}, {"cpx", Op::Cpx}, {"cpy", Op::Cpy}, {"bit", Op::Bit},
            {"inc", Op::Inc}, {"dec", Op::Dec}, {"inx", Op::Inx}, {"iny", Op::Iny}, {"dex", Op::Dex},
            {"dey", Op::Dey}, {"asl", Op::Asl}, {"lsr", Op::Lsr}, {"rol", Op::Rol}, {"ror", Op::Ror},
            {"jmp", Op::Jmp}, {"jsr", Op::Jsr}, {"rts", Op::Rts}, {"clc", Op::Clc}, {"sec", Op::Sec},
            {"cli", Op::Cli}, {"sei", Op::Sei}, {"cld", Op::Cld}, {"sed", Op::Sed}, {"clv", Op::Clv},
            {"nop", Op::Nop}, {"brk", Op::Unsupported},
        }};
        std::array<Op, 256> out{};
        for (std::size_t byte = 0; byte < out.size(); ++byte) {
            const Opcode& op = opcode(static_cast<std::uint8_t>(byte));
            if (!op.documented()) continue;
            if (op.mode == Mode::Relative) {
                out[byte] = Op::Branch;
                continue;
            }
            for (const auto& [name, value] : names) {
                if (op.mnemonic == name) out[byte] = value;
            }
        }
        return out;
    }();
    return table;
}

// A small 6502 that runs one routine from one call: memory is the image
// with what the routine writes on top (zero elsewhere), calls and jumps out
// of the image return at once, as the ROM's routines would.
class Machine {
public:
    explicit Machine(const Image& image) : image_(image) {}

    // Runs the routine that the jsr at `call` calls, for at most
    // `max_steps` instructions; the address it returns to at its caller's
    // level, if it gets there.
    std::optional<std::uint32_t> run(std::uint32_t call, std::uint64_t max_steps) {
        const std::uint32_t back = call + 2;  // what the jsr pushes
        push(static_cast<std::uint8_t>(back >> 8));
        push(static_cast<std::uint8_t>(back));
        std::uint32_t pc = operand_of(image_, call);
        for (steps_ = 0; steps_ < max_steps;) {
            if (!image_.contains(pc)) return std::nullopt;
            ++steps_;
            const std::optional<std::uint32_t> next = execute(pc);
            if (!next) return std::nullopt;
            if (*next & kReturned) return *next & 0xffff;
            pc = *next;
        }
        return std::nullopt;
    }

    // The instructions the last run took.
    std::uint64_t steps() const { return steps_; }

private:
    // Added to the address where the routine is back at its caller's level.
    static constexpr std::uint32_t kReturned = 0x10000;
    // The stack pointer at the caller's level, before the jsr.
    static constexpr std::uint8_t kCallerStack = 0xf0;

    std::uint8_t read(std::uint32_t address) const {
        address &= 0xffff;
        const auto it = written_.find(static_cast<std::uint16_t>(address));
        if (it != written_.end()) return it->second;
        return image_.contains(address) ? image_.at(address) : 0;
    }
    void write(std::uint32_t address, std::uint8_t value) { written_[static_cast<std::uint16_t>(address)] = value; }
    void push(std::uint8_t value) { write(0x100u + s_--, value); }
    std::uint8_t pull() { return read(0x100u + ++s_); }
    // Bytes on the stack above the caller's level; below zero when the
    // routine has pulled more than its own return address.
    int depth() const { return kCallerStack - s_; }

    void set_nz(std::uint8_t value) {
        z_ = value == 0;
        n_ = (value & 0x80) != 0;
    }
    std::uint8_t flags() const {
        return static_cast<std::uint8_t>((n_ ? 0x80 : 0) | (v_ ? 0x40 : 0) | 0x30 | (d_ ? 0x08 : 0) |
                                         (i_ ? 0x04 : 0) | (z_ ? 0x02 : 0) | (c_ ? 0x01 : 0));
    }
    void set_flags(std::uint8_t p) {
        n_ = (p & 0x80) != 0;
        v_ = (p & 0x40) != 0;
        d_ = (p & 0x08) != 0;
        i_ = (p & 0x04) != 0;
        z_ = (p & 0x02) != 0;
        c_ = (p & 0x01) != 0;
    }
    void add(std::uint8_t value) {
        const unsigned sum = a_ + value + (c_ ? 1u : 0u);
        v_ = (~(a_ ^ value) & (a_ ^ sum) & 0x80) != 0;
        c_ = sum > 0xff;
        a_ = static_cast<std::uint8_t>(sum);
        set_nz(a_);
    }
    void compare(std::uint8_t reg, std::uint8_t value) {
        c_ = reg >= value;
        set_nz(static_cast<std::uint8_t>(reg - value));
    }

    // Back from a routine: to the pulled address plus one; at the caller's
    // level that is where the call returns to.
    std::optional<std::uint32_t> return_from_routine() {
        const std::uint8_t low = pull();
        const std::uint8_t high = pull();
        const std::uint32_t to = (static_cast<std::uint32_t>(high << 8 | low) + 1) & 0xffff;
        if (depth() < 0) return std::nullopt;
        return depth() == 0 ? to | kReturned : to;
    }

    // Runs the instruction at `pc`; where the next one is, with kReturned
    // when the routine is back at its caller's level; nothing when it
    // cannot be followed.
    std::optional<std::uint32_t> execute(std::uint32_t pc) {
        const std::uint8_t byte = read(pc);
        const Opcode& op = opcode(byte);
        const std::uint8_t b1 = read(pc + 1);
        const std::uint32_t word = b1 | static_cast<std::uint32_t>(read(pc + 2)) << 8;
        std::uint32_t at = 0;  // the address the instruction works on
        switch (op.mode) {
        case Mode::ZeroPage: at = b1; break;
        case Mode::ZeroPageX: at = (b1 + x_) & 0xff; break;
        case Mode::ZeroPageY: at = (b1 + y_) & 0xff; break;
        case Mode::Absolute: at = word; break;
        case Mode::AbsoluteX: at = (word + x_) & 0xffff; break;
        case Mode::AbsoluteY: at = (word + y_) & 0xffff; break;
        case Mode::IndirectX: {
            const std::uint32_t pointer = (b1 + x_) & 0xff;
            at = read(pointer) | static_cast<std::uint32_t>(read((pointer + 1) & 0xff)) << 8;
            break;
        }
        case Mode::IndirectY:
            at = ((read(b1) | static_cast<std::uint32_t>(read((b1 + 1) & 0xff)) << 8) + y_) & 0xffff;
            break;
        case Mode::Indirect:  // the 6502 does not carry into the pointer's high byte
            at = read(word) | static_cast<std::uint32_t>(read((word & 0xff00) | ((word + 1) & 0xff))) << 8;
            break;
        default: break;
        }
        const auto value = [&]() -> std::uint8_t {
            if (op.mode == Mode::Immediate) return b1;
            if (op.mode == Mode::Accumulator) return a_;
            return read(at);
        };
        const auto put = [&](std::uint8_t result) {
            if (op.mode == Mode::Accumulator) {
                a_ = result;
            } else {
                write(at, result);
            }
            set_nz(result);
        };
        const std::uint32_t next = (pc + instruction_length(byte)) & 0xffff;
        switch (ops()[byte]) {
        case Op::Unsupported: return std::nullopt;
        case Op::Lda: set_nz(a_ = value()); break;
        case Op::Ldx: set_nz(x_ = value()); break;
        case Op::Ldy: set_nz(y_ = value()); break;
        case Op::Sta: write(at, a_); break;
        case Op::Stx: write(at, x_); break;
        case Op::Sty: write(at, y_); break;
        case Op::Tax: set_nz(x_ = a_); break;
        case Op::Tay: set_nz(y_ = a_); break;
        case Op::Txa: set_nz(a_ = x_); break;
        case Op::Tya: set_nz(a_ = y_); break;
        case Op::Tsx: set_nz(x_ = s_); break;
        case Op::Txs: s_ = x_; break;
        case Op::Pha: push(a_); break;
        case Op::Php: push(flags()); break;
        case Op::Pla: set_nz(a_ = pull()); break;
        case Op::Plp: set_flags(pull()); break;
        case Op::Adc:
        case Op::Sbc:
            if (d_) return std::nullopt;  // decimal mode: not followed
            add(ops()[byte] == Op::Adc ? value() : static_cast<std::uint8_t>(~value()));
            break;
        case Op::And: set_nz(a_ &= value()); break;
        case Op::Ora: set_nz(a_ |= value()); break;
        case Op::Eor: set_nz(a_ ^= value()); break;
        case Op::Cmp: compare(a_, value()); break;
        case Op::Cpx: compare(x_, value()); break;
        case Op::Cpy: compare(y_, value()); break;
        case Op::Bit: {
            const std::uint8_t v = value();
            z_ = (a_ & v) == 0;
            n_ = (v & 0x80) != 0;
            v_ = (v & 0x40) != 0;
            break;
        }
        case Op::Inc: put(static_cast<std::uint8_t>(value() + 1)); break;
        case Op::Dec: put(static_cast<std::uint8_t>(value() - 1)); break;
        case Op::Inx: set_nz(++x_); break;
        case Op::Iny: set_nz(++y_); break;
        case Op::Dex: set_nz(--x_); break;
        case Op::Dey: set_nz(--y_); break;
        case Op::Asl: {
            const std::uint8_t v = value();
            c_ = (v & 0x80) != 0;
            put(static_cast<std::uint8_t>(v << 1));
            break;
        }
        case Op::Lsr: {
            const std::uint8_t v = value();
            c_ = (v & 1) != 0;
            put(static_cast<std::uint8_t>(v >> 1));
            break;
        }
        case Op::Rol: {
            const std::uint8_t v = value();
            const bool carry = c_;
            c_ = (v & 0x80) != 0;
            put(static_cast<std::uint8_t>(v << 1 | (carry ? 1 : 0)));
            break;
        }
        case Op::Ror: {
            const std::uint8_t v = value();
            const bool carry = c_;
            c_ = (v & 1) != 0;
            put(static_cast<std::uint8_t>(v >> 1 | (carry ? 0x80 : 0)));
            break;
        }
        case Op::Jmp:
            // Through a pointer with the return address off the stack: the
            // routine goes back to its caller that way.
            if (op.mode == Mode::Indirect && depth() == 0) return at | kReturned;
            // A routine outside the image (in ROM) returns at once.
            if (!image_.contains(at)) return return_from_routine();
            return at;
        case Op::Jsr:
            if (!image_.contains(at)) return next;
            push(static_cast<std::uint8_t>((pc + 2) >> 8));
            push(static_cast<std::uint8_t>(pc + 2));
            return at;
        case Op::Rts: return return_from_routine();
        case Op::Branch: {
            bool flag = false;
            switch (byte >> 6) {  // the opcode's top two bits name the flag
            case 0: flag = n_; break;
            case 1: flag = v_; break;
            case 2: flag = c_; break;
            default: flag = z_; break;
            }
            // Bit 5 says which value of the flag branches.
            if (flag != ((byte & 0x20) != 0)) return next;
            return (next + static_cast<std::uint32_t>(static_cast<std::int8_t>(b1))) & 0xffff;
        }
        case Op::Clc: c_ = false; break;
        case Op::Sec: c_ = true; break;
        case Op::Cli: i_ = false; break;
        case Op::Sei: i_ = true; break;
        case Op::Cld: d_ = false; break;
        case Op::Sed: d_ = true; break;
        case Op::Clv: v_ = false; break;
        case Op::Nop: break;
        }
        return next;
    }

    const Image& image_;
    std::uint64_t steps_ = 0;
    std::unordered_map<std::uint16_t, std::uint8_t> written_;
    std::uint8_t a_ = 0, x_ = 0, y_ = 0, s_ = kCallerStack;
    bool n_ = false, v_ = false, d_ = false, i_ = true, z_ = false, c_ = false;
};

// How the data [begin, begin + length) is laid out: up to its only zero
// byte, a count and as many bytes, or else a fixed number of bytes.
InlineForm form_of(const Image& image, std::uint32_t begin, std::uint32_t length) {
    if (length == 0) return InlineForm::None;
    const std::uint32_t last = begin + length - 1;
    bool zero_inside = false;
    for (std::uint32_t a = begin; a < last; ++a) zero_inside = zero_inside || image.at(a) == 0;
    if (image.at(last) == 0 && !zero_inside) return InlineForm::ZeroTerminated;
    const std::uint32_t count = image.at(begin);
    if (length >= 2 && (count + 1 == length || count == length)) return InlineForm::LengthByte;
    return InlineForm::Fixed;
}

// Up to and including the first zero byte from `begin`, if there is one
// within the data's limit.
std::uint32_t zero_terminated_length(const Image& image, std::uint32_t begin) {
    const std::uint32_t limit = std::min(begin + kMaxData, image.end());
    for (std::uint32_t a = begin; a < limit; ++a) {
        if (image.at(a) == 0) return a + 1 - begin;
    }
    return 0;
}

// The bytes after the jsr at `call` that its routine reads and skips, as
// the model finds them, spending the routine's and the image's steps;
// nothing when those ran out before the routine returned.
std::optional<std::uint32_t> modelled_length(MemoryMap& map, InlineRoutine& record, std::uint32_t call) {
    const Image& image = map.image();
    const std::uint32_t begin = call + 3;
    const std::uint32_t limit = std::min(begin + kMaxData, image.end());
    const std::uint64_t allowed =
        std::min({kMaxSteps, kStepsPerRoutine - record.model_steps, kStepsPerImage - map.inline_model_steps});
    Machine machine(image);
    const std::optional<std::uint32_t> back = machine.run(call, allowed);
    record.model_steps += machine.steps();
    map.inline_model_steps += machine.steps();
    if (!back && allowed < kMaxSteps && machine.steps() == allowed) return std::nullopt;
    if (!back || *back <= begin || *back > limit) return 0;
    return *back - begin;
}

// The bytes after the jsr at `call` read the way the routine's first call
// with data showed: for a routine the model has no more steps for.
std::uint32_t foreseen_length(const Image& image, const InlineRoutine& record, std::uint32_t call) {
    const std::uint32_t begin = call + 3;
    if (!record.first_data_call || begin >= image.end()) return 0;
    const std::uint32_t first_begin = *record.first_data_call + 3;
    const std::uint32_t first_length = record.calls.at(*record.first_data_call);
    std::uint32_t length = 0;
    switch (record.form) {
    case InlineForm::None: return 0;
    case InlineForm::ZeroTerminated: return zero_terminated_length(image, begin);
    case InlineForm::LengthByte:
        // As many bytes as the count says, with or without the count itself.
        length = image.at(begin) + (first_length - image.at(first_begin));
        break;
    case InlineForm::Fixed: length = first_length; break;
    }
    return length <= kMaxData && begin + length <= image.end() ? length : 0;
}

// The bytes after the jsr at `call` that its routine reads and skips.
std::uint32_t data_length(MemoryMap& map, InlineRoutine& record, std::uint32_t call, std::uint32_t routine) {
    const Image& image = map.image();
    // Print-immediate: text up to a zero, which it skips too.
    if (!image.contains(routine)) return zero_terminated_length(image, call + 3);
    if (record.model_steps < kStepsPerRoutine && map.inline_model_steps < kStepsPerImage) {
        if (const std::optional<std::uint32_t> length = modelled_length(map, record, call)) return *length;
    }
    return foreseen_length(image, record, call);
}

}  // namespace

bool may_take_inline_data(const Image& image, std::uint32_t routine) {
    if (!image.contains(routine)) return routine == kPrintImmediate;
    int pushed = 0;
    int pulled = 0;  // bytes of the return address pulled
    bool stack_in_x = false;
    std::uint32_t a = routine;
    for (int n = 0; n < kPrologue && image.contains(a); ++n) {
        const std::uint8_t byte = image.at(a);
        const Opcode& op = opcode(byte);
        const std::uint32_t length = instruction_length(byte);
        if (!op.documented() || a + length > image.end()) return false;
        switch (byte) {
        case 0x68:  // pla: the return address once nothing pushed is left
            if (pushed == 0 && ++pulled == 2) return true;
            pushed = std::max(pushed - 1, 0);
            break;
        case 0x48:  // pha, php
        case 0x08:
            if (pulled > 0) return false;
            ++pushed;
            break;
        case 0x28:  // plp
        case 0x9a:  // txs
            return false;
        case 0xba: stack_in_x = true; break;  // tsx
        default: break;
        }
        // The return address sits at $0101,x and $0102,x after tsx, above
        // what was pushed before.
        if (stack_in_x && op.mode == Mode::AbsoluteX) {
            const std::uint32_t address = operand_of(image, a);
            if (address >= 0x0101 && address <= 0x0102u + static_cast<std::uint32_t>(pushed)) return true;
        }
        if (flow_of(byte) != Flow::Next) return false;
        a += length;
    }
    return false;
}

InlineSpan inline_data_after(MemoryMap& map, std::uint32_t call) {
    const Image& image = map.image();
    const std::uint32_t routine = operand_of(image, call);
    if (!may_take_inline_data(image, routine)) return {};
    InlineRoutine& record = map.inline_routines[routine];
    const auto [it, added] = record.calls.try_emplace(call, 0);
    if (added) it->second = data_length(map, record, call, routine);
    const InlineSpan span{it->second, form_of(image, call + 3, it->second)};
    if (record.form == InlineForm::None && span.form != InlineForm::None) {
        record.form = span.form;
        record.first_data_call = call;
    }
    return span;
}

void inline_data_kinds(const Image& image, std::uint32_t call, const InlineSpan& span, std::vector<Kind>& kinds) {
    const std::uint32_t begin = call + 3;
    kinds.assign(span.length, Kind::Bytes);
    const auto printable = [&](std::uint32_t i) { return petscii_char(image.at(begin + i)) != 0; };
    if (span.form == InlineForm::ZeroTerminated || span.form == InlineForm::LengthByte) {
        // Text, apart from the count.
        for (std::uint32_t i = span.form == InlineForm::LengthByte ? 1 : 0; i < span.length; ++i) {
            if (printable(i)) kinds[i] = Kind::Petscii;
        }
        return;
    }
    // Parameters: text only where enough printable bytes follow each other.
    for (std::uint32_t i = 0; i < span.length;) {
        std::uint32_t j = i;
        while (j < span.length && printable(j)) ++j;
        if (j - i >= kMinText) {
            for (std::uint32_t t = i; t < j; ++t) kinds[t] = Kind::Petscii;
        }
        i = j == i ? i + 1 : j;
    }
}

}  // namespace tolvek
