#include "analysis/inline_data.hpp"

#include <algorithm>
#include <memory>
#include <optional>
#include <vector>

#include "c64/petscii.hpp"
#include "cpu/behaviour.hpp"
#include "cpu/decode.hpp"

namespace tolvek {
namespace {

// The most data after one call that is taken.
constexpr std::uint32_t kMaxData = 1024;
// The instructions the model runs for one routine, all its calls together,
// and for all routines of an image: thousands of calls of a routine that
// loops long must not take minutes. Past them, a routine's later calls are
// read the way its first call with data showed.
constexpr std::uint64_t kStepsPerRoutine = 1'000'000;
constexpr std::uint64_t kStepsPerImage = 4'000'000;
// After so many calls in a row whose data the model found as the first
// call with data foresaw, a routine's later calls are read that way
// without the model: a routine that prints each character into a bitmap,
// or waits between rows of its data, costs tens of thousands of
// instructions a call.
constexpr std::uint32_t kForeseenInARow = 3;
// The instructions a routine may run for one call: all of its allowance,
// as one that draws each character into a bitmap runs hundreds of
// instructions a byte.
constexpr std::uint64_t kMaxSteps = kStepsPerRoutine;
// The instructions looked at for the return address at a routine's start.
constexpr int kPrologue = 6;
// Text among parameters needs as many printable bytes in a row.
constexpr std::uint32_t kMinText = 4;

// The stack pointer at the caller's level, before the jsr.
constexpr std::uint8_t kCallerStack = 0xf0;

// Where a routine went back to, and the length of the data after its call,
// when it returned past its caller (to the caller's caller, having pulled
// its return address): nothing after the call runs.
constexpr std::uint32_t kPastCaller = 0xffffffff;

// Whether the model follows the instruction: brk and rti lead into the
// interrupt handlers, which are not the routine's; jam stops the CPU; the
// undocumented opcodes run where they count as code.
bool followed(std::uint8_t byte, bool undocumented) {
    if (!undocumented && !opcode(byte).documented()) return false;
    switch (behaviour(byte).control) {
    case Control::Break:
    case Control::ReturnFromInterrupt:
    case Control::Halt: return false;
    default: return true;
    }
}

// Whether the instruction `byte` about to run reads through a pointer
// (lda (p),y) within the data's limit from `begin`.
bool reads_after(Cpu6510& cpu, std::uint8_t byte, std::uint32_t begin) {
    if (opcode(byte).mode != Mode::IndirectY || behaviour(byte).access == Access::Write) return false;
    const std::uint8_t pointer = cpu.read(static_cast<std::uint16_t>(cpu.pc + 1));
    const auto low = static_cast<std::uint32_t>(cpu.read(pointer));
    const auto high = static_cast<std::uint32_t>(cpu.read(static_cast<std::uint8_t>(pointer + 1)));
    const std::uint32_t address = (low | high << 8) + cpu.y;
    return address >= begin && address < begin + kMaxData;
}

// Runs the routine that the jsr at `call` calls, on the emulator's CPU with
// `memory` (the image, what the routine stores on top) for at most
// `max_steps` instructions, and counts them in `steps`; the address it
// returns to at its caller's level, if it gets there, or kPastCaller when
// it read the bytes after the call (through a pointer: lda (p),y) and went
// back past its caller. Calls and jumps out of the image return at once,
// as the ROM's routines would; `undocumented` says whether the
// undocumented opcodes run.
std::optional<std::uint32_t> run_routine(const Image& image, ImageOverlay& memory, bool undocumented,
                                         std::uint32_t call, std::uint64_t max_steps, std::uint64_t& steps) {
    memory.forget_stores();
    Cpu6510 cpu(memory);
    cpu.s = kCallerStack;
    const std::uint32_t back = call + 2;  // what the jsr pushes
    cpu.push(static_cast<std::uint8_t>(back >> 8));
    cpu.push(static_cast<std::uint8_t>(back));
    cpu.pc = static_cast<std::uint16_t>(operand_of(image, call));
    // Bytes on the stack above the caller's level; below zero when the
    // routine has pulled more than its own return address.
    const auto depth = [&cpu] { return kCallerStack - cpu.s; };
    // Whether a jump at the caller's level lands right after the call and
    // what follows it: the caller's next instruction. The routine's own
    // code is not there: it is before the call or past the caller's code.
    const std::uint32_t routine = operand_of(image, call);
    const auto back_in_caller = [&](std::uint32_t target) {
        return target > back + 1 && target <= back + 1 + kMaxData && (routine < call || target < routine);
    };
    // What an rts does, for a routine in ROM that returns at once.
    const auto return_from_rom = [&cpu] {
        const std::uint8_t low = cpu.pull();
        cpu.pc = static_cast<std::uint16_t>((low | cpu.pull() << 8) + 1);
    };
    // Where the calls the routine makes once it has pulled its return
    // address (and is at its caller's level) return to: those returns are
    // its own, not the way back to the caller.
    std::vector<std::uint32_t> own_calls;
    bool read_after_call = false;
    for (steps = 0; steps < max_steps;) {
        if (!image.contains(cpu.pc)) return std::nullopt;
        ++steps;
        const std::uint32_t at = cpu.pc;
        const std::uint8_t byte = cpu.read(cpu.pc);
        if (!followed(byte, undocumented)) return std::nullopt;
        read_after_call = read_after_call || reads_after(cpu, byte, back + 1);
        const bool at_caller_level = depth() == 0;
        cpu.run(cpu.cycles + 1, false);  // one instruction
        switch (behaviour(byte).control) {
        case Control::Call:
            if (!image.contains(cpu.pc)) {
                return_from_rom();
            } else if (at_caller_level) {
                own_calls.push_back(at + 3);
            }
            break;
        case Control::JumpIndirect:
            // Through a pointer with the return address off the stack: the
            // routine goes back to its caller that way.
            if (at_caller_level) return cpu.pc;
            [[fallthrough]];
        case Control::Jump:
            // Through a jmp whose operand it wrote.
            if (at_caller_level && back_in_caller(cpu.pc)) return cpu.pc;
            if (image.contains(cpu.pc)) break;
            return_from_rom();  // a jump to a routine in ROM: it returns for this one
            [[fallthrough]];
        case Control::Return:
            if (depth() < 0) return read_after_call ? std::optional<std::uint32_t>(kPastCaller) : std::nullopt;
            if (depth() == 0 && !own_calls.empty() && own_calls.back() == cpu.pc) {
                own_calls.pop_back();
                break;
            }
            if (depth() == 0) return cpu.pc;
            break;
        default: break;
        }
    }
    return std::nullopt;
}

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
// nothing when those ran out before the routine returned. The routine
// itself is code: no data of its calls (which the model makes run past it
// when it has gone wrong).
std::optional<std::uint32_t> modelled_length(MemoryMap& map, InlineRoutine& record, std::uint32_t call) {
    const Image& image = map.image();
    const std::uint32_t begin = call + 3;
    const std::uint32_t limit = std::min(begin + kMaxData, image.end());
    const std::uint64_t allowed =
        std::min({kMaxSteps, kStepsPerRoutine - record.model_steps, kStepsPerImage - map.inline_calls.model_steps});
    if (!map.inline_calls.memory) map.inline_calls.memory = std::make_shared<ImageOverlay>(image);
    std::uint64_t steps = 0;
    const std::optional<std::uint32_t> back =
        run_routine(image, *map.inline_calls.memory, map.undocumented_opcodes, call, allowed, steps);
    record.model_steps += steps;
    map.inline_calls.model_steps += steps;
    if (!back && allowed < kMaxSteps && steps == allowed) return std::nullopt;
    if (back == kPastCaller) {
        record.past_caller = true;
        return kPastCaller;
    }
    const std::uint32_t routine = operand_of(image, call);
    if (!back || *back <= begin || *back > limit || (routine >= begin && routine < *back)) return 0;
    return *back - begin;
}

// The bytes after the jsr at `call` read the way the routine's first call
// with data showed: for a routine the model has no more steps for.
std::uint32_t foreseen_length(const Image& image, const InlineRoutine& record, std::uint32_t call) {
    if (record.past_caller) return kPastCaller;
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
    const std::uint32_t foreseen = foreseen_length(image, record, call);
    if (record.foreseen_in_a_row < kForeseenInARow && record.model_steps < kStepsPerRoutine &&
        map.inline_calls.model_steps < kStepsPerImage) {
        if (const std::optional<std::uint32_t> length = modelled_length(map, record, call)) {
            record.foreseen_in_a_row = *length == foreseen ? record.foreseen_in_a_row + 1 : 0;
            return *length;
        }
    }
    return foreseen;
}

}  // namespace

ImageOverlay::ImageOverlay(const Image& image) {
    std::size_t edges = 0;
    for (std::uint32_t page = 0; page < 256; ++page) {
        const std::uint32_t first = page * 256;
        const std::uint32_t last = first + 255;
        if (image.contains(first) && image.contains(last)) {
            image_page_[page] = image.bytes.data() + image.offset(first);
        } else if (image.load <= last && image.end() > first) {
            // A page the image begins or ends in: its bytes, zero around them.
            std::uint8_t* copy = edges_[edges++].data();
            for (std::uint32_t a = std::max(first, image.load); a < std::min(last + 1, image.end()); ++a) {
                copy[a - first] = image.at(a);
            }
            image_page_[page] = copy;
        } else {
            image_page_[page] = zeros_.data();
        }
        read_page[page] = image_page_[page];
        run_mark_page[page] = marks_.data() + first;
    }
    marks = marks_.data();
    first_writer = writers_.data();
}

void ImageOverlay::io_write(std::uint16_t address, std::uint8_t value) {
    // The first store into a page: from now on it reads and writes a copy.
    const std::size_t page = address >> 8;
    std::uint8_t* copy = copies_.data() + page * 256;
    std::copy_n(read_page[page], 256, copy);
    read_page[page] = copy;
    write_page[page] = copy;
    copied_.push_back(static_cast<std::uint8_t>(page));
    copy[address & 0xff] = value;
}

void ImageOverlay::forget_stores() {
    for (const std::uint8_t page : copied_) {
        read_page[page] = image_page_[page];
        write_page[page] = nullptr;
    }
    copied_.clear();
}

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
        switch (behaviour(byte).operation) {
        case Operation::Pla:  // the return address once nothing pushed is left
            if (pushed == 0 && ++pulled == 2) return true;
            pushed = std::max(pushed - 1, 0);
            break;
        case Operation::Pha:
        case Operation::Php:
            if (pulled > 0) return false;
            ++pushed;
            break;
        case Operation::Plp:
        case Operation::Txs: return false;
        case Operation::Tsx: stack_in_x = true; break;
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
    InlineRoutine& record = map.inline_calls.routines[routine];
    const auto [it, added] = record.calls.try_emplace(call, 0);
    if (added) it->second = data_length(map, record, call, routine);
    if (it->second == kPastCaller) return {.returns = false};
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
