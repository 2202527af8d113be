#include "emu/explore.hpp"

#include <algorithm>
#include <array>
#include <cstring>

#include "cpu/behaviour.hpp"
#include "cpu/opcodes.hpp"

namespace tolvek {
namespace {

// The keyboard matrix: the key in column a (port A's bit) and row b (port
// B's bit) is entry a * 8 + b, with the PETSCII code it types unshifted;
// 0 for the keys that type nothing alone (the shifts, CTRL, C=).
constexpr std::array<std::uint8_t, 64> kMatrix = {
    0x14, 0x0d, 0x1d, 0x88, 0x85, 0x86, 0x87, 0x11,  // DEL RETURN CRSR-right F7 F1 F3 F5 CRSR-down
    '3',  'W',  'A',  '4',  'Z',  'S',  'E',  0,     // left shift
    '5',  'R',  'D',  '6',  'C',  'F',  'T',  'X',
    '7',  'Y',  'G',  '8',  'B',  'H',  'U',  'V',
    '9',  'I',  'J',  '0',  'M',  'K',  'O',  'N',
    '+',  'P',  'L',  '-',  '.',  ':',  '@',  ',',
    0x5c, '*',  ';',  0x13, 0,    '=',  0x5e, '/',   // pound, HOME, right shift, up-arrow
    '1',  0x5f, 0,    '2',  ' ',  0,    'Q',  0x03,  // left-arrow, CTRL, C=, STOP
};
constexpr KeyPosition kLeftShift{1, 7, false};

// What a key types with shift held, where that differs; 0 where not.
constexpr std::uint8_t shifted(std::uint8_t petscii) {
    if (petscii >= 'A' && petscii <= 'Z') return static_cast<std::uint8_t>(petscii + 0x80);
    if (petscii >= '1' && petscii <= '9') return static_cast<std::uint8_t>(petscii - 0x10);  // ! " # ... )
    constexpr std::pair<std::uint8_t, std::uint8_t> kOthers[] = {
        {0x85, 0x89}, {0x86, 0x8a}, {0x87, 0x8b}, {0x88, 0x8c},  // F1/F3/F5/F7: F2/F4/F6/F8
        {0x11, 0x91}, {0x1d, 0x9d}, {0x14, 0x94}, {0x13, 0x93},  // CRSR up, left, INST, CLR
        {0x0d, 0x8d}, {',', '<'}, {'.', '>'}, {'/', '?'}, {':', '['}, {';', ']'},
    };
    for (const auto& [plain, with_shift] : kOthers) {
        if (plain == petscii) return with_shift;
    }
    return 0;
}

constexpr std::uint8_t kReturn = 0x0d;
constexpr std::uint8_t kSpace = 0x20;
// Keys to press where the code does not say which it waits for.
constexpr std::uint8_t kUsualKeys[] = {kReturn, kSpace, '1', '2', '3', '4', '5', '6', '7', '8', '9', 0x85, 0x86, 0x87, 0x88};
constexpr std::size_t kMostComparedKeys = 16;
constexpr std::size_t kMostTries = 40;

// A key or a direction is held this long (unless the program has not yet
// taken the key from the buffer), then let go.
constexpr std::uint64_t kHold = 3 * pal::kFrameCycles;
// A try in which nothing new happened at all is over this long after the
// input was let go; one that found something goes on until it finds
// nothing new for the run's patience.
constexpr std::uint64_t kGrace = 2 * pal::kFrameCycles;
// No try is begun with less left.
constexpr std::uint64_t kShortestTry = kHold + kGrace;
// Instructions looked at after each place the program read a key.
constexpr int kLookInstructions = 96;
// Code that ran for the first time counts as one range across gaps this large.
constexpr std::uint32_t kJoin = 32;

constexpr std::uint16_t kKeysWaiting = 0xc6;
constexpr std::uint16_t kKeyBuffer = 0x0277;
constexpr std::uint16_t kGetin = 0xffe4;
constexpr std::uint16_t kChrin = 0xffcf;
constexpr std::uint16_t kChrout = 0xffd2;

// Memory as the CPU sees it, without reading the chips: nothing there.
std::optional<std::uint8_t> seen_at(const C64& c64, std::uint16_t address) {
    const std::uint8_t* page = c64.read_page[address >> 8];
    if (page == nullptr) return std::nullopt;
    return page[address & 0xff];
}

// What the code after a key read does with the key.
struct KeyUse {
    std::vector<std::uint8_t> compared;  // key codes it compares the key with
    bool used = false;         // it uses the key's value otherwise, or the look lost track of it
    bool reads_buffer = false;  // reads the keyboard buffer itself
};

// A place to look at: the registers (reg::) that hold the key there,
// where the routine returns to when it returns, and whether the flags are
// still those of the key read (Z set: no key).
struct Path {
    std::uint16_t at = 0;
    std::uint8_t holding = 0;
    std::uint16_t outer = 0;
    bool flags_of_key = false;
};

// Looks along the code from `start`, both ways at each branch, for what is
// done with the key: compares with immediates, other uses, reads of the
// keyboard buffer (from which on the register read into holds a key).
class KeyLook {
public:
    KeyLook(const C64& c64, KeyUse& use) : c64_(c64), use_(use) {}

    void from(Path start) {
        std::vector<Path> todo{start};
        std::vector<std::pair<std::uint16_t, std::uint8_t>> seen;
        int left = kLookInstructions;
        while (!todo.empty() && left > 0) {
            const Path path = todo.back();
            todo.pop_back();
            if (std::find(seen.begin(), seen.end(), std::pair(path.at, path.holding)) != seen.end()) continue;
            seen.emplace_back(path.at, path.holding);
            --left;
            step(path, todo);
        }
        for (const Path& path : todo) lost(path.holding);  // looked long enough
    }

private:
    void lost(std::uint8_t holding) { use_.used = use_.used || holding != 0; }

    void step(Path path, std::vector<Path>& todo);
    std::uint8_t after(const Behaviour& b, Mode mode, std::uint16_t operand, std::uint8_t holding);

    const C64& c64_;
    KeyUse& use_;
};

// The registers that hold the key after an instruction that does not
// change the flow.
std::uint8_t KeyLook::after(const Behaviour& b, Mode mode, std::uint16_t operand, std::uint8_t holding) {
    using enum Operation;
    constexpr std::uint8_t kRegisters = reg::A | reg::X | reg::Y;
    const bool compare = b.operation == Cmp || b.operation == Cpx || b.operation == Cpy;
    const bool transfer = b.operation == Tax || b.operation == Tay || b.operation == Txa || b.operation == Tya;
    if (has_address(mode) && b.access == Access::Read && (operand == kKeysWaiting || operand == kKeyBuffer)) {
        use_.reads_buffer = true;
        if (operand == kKeyBuffer) return static_cast<std::uint8_t>(holding | (b.writes & kRegisters));
    }
    if ((b.reads & holding) != 0) {
        if (compare && mode == Mode::Immediate) {
            const std::optional<std::uint8_t> value = seen_at(c64_, static_cast<std::uint16_t>(operand));
            if (value && *value != 0 && key_position(*value) && use_.compared.size() < kMostComparedKeys &&
                std::find(use_.compared.begin(), use_.compared.end(), *value) == use_.compared.end()) {
                use_.compared.push_back(*value);
            }
            return holding;
        }
        if (transfer) return static_cast<std::uint8_t>(holding | b.writes);
        use_.used = true;  // stored, computed with, compared with memory
    }
    return static_cast<std::uint8_t>(holding & ~(b.writes & kRegisters));
}

void KeyLook::step(Path path, std::vector<Path>& todo) {
    const std::optional<std::uint8_t> byte = seen_at(c64_, path.at);
    if (!byte) return lost(path.holding);
    const Behaviour& b = behaviour(*byte);
    const Mode mode = opcode(*byte).mode;
    const auto next = static_cast<std::uint16_t>(path.at + length_of(mode));
    const auto low = seen_at(c64_, static_cast<std::uint16_t>(path.at + 1));
    const auto high = seen_at(c64_, static_cast<std::uint16_t>(path.at + 2));
    // The immediate's address, or the address the operand names.
    std::uint16_t operand = static_cast<std::uint16_t>(path.at + 1);
    if (has_address(mode) && mode != Mode::Relative) {
        operand = static_cast<std::uint16_t>(low.value_or(0) | (length_of(mode) == 3 ? high.value_or(0) << 8 : 0));
    }
    switch (b.control) {
    case Control::Next: {
        const std::uint8_t holding = after(b, mode, operand, path.holding);
        const bool flags_of_key = path.flags_of_key && (b.flags_written & flag::Z) == 0;
        // A look from a read of the key ends where nothing holds it; one
        // from the waiting loop looks on for reads of the buffer.
        if (holding != 0 || path.holding == 0) todo.push_back({next, holding, path.outer, flags_of_key});
        return;
    }
    case Control::Branch: {
        // Where the flags still say whether a key came, the way taken
        // without one holds none.
        const auto target = static_cast<std::uint16_t>(next + static_cast<std::int8_t>(low.value_or(0)));
        const bool no_key_taken = path.flags_of_key && b.operation == Operation::Beq;
        const bool no_key_on = path.flags_of_key && b.operation == Operation::Bne;
        if (!no_key_on) todo.push_back({next, path.holding, path.outer, path.flags_of_key});
        if (!no_key_taken) todo.push_back({target, path.holding, path.outer, path.flags_of_key});
        return;
    }
    case Control::Jump: todo.push_back({operand, path.holding, path.outer, path.flags_of_key}); return;
    case Control::Call:
        if (operand == kGetin || operand == kChrin) {  // another key (its call is looked after by itself)
            todo.push_back({next, static_cast<std::uint8_t>(path.holding & ~reg::A), path.outer});
            return;
        }
        // A routine may look at what it is given, but printing the key
        // is no choice by it.
        if (operand != kChrout) lost(path.holding);
        if (path.holding == 0) todo.push_back({operand, 0, 0});
        todo.push_back({next, path.holding, path.outer});
        return;
    case Control::Return:
        if (path.outer == kBackFromSys) return;  // BASIC does nothing with it
        if (path.outer != 0) return todo.push_back({path.outer, path.holding, 0, path.flags_of_key});
        return lost(path.holding);
    default: return lost(path.holding);  // jmp (pointer), rti, brk, a halt
    }
}

bool recent(const std::optional<std::uint64_t>& read, std::uint64_t since) { return read && *read >= since; }

// The keys to press for a program that reads them: those it compares the
// key with and one more, or RETURN alone when it takes any key alike, or
// the usual keys when it does something else with the key. A program that
// scans the matrix itself only sees keys in the columns it selects.
std::vector<std::uint8_t> keys_to_try(const C64& c64, const KeyUse& use, bool via_buffer, std::uint64_t since) {
    std::vector<std::uint8_t> keys;
    if (via_buffer && !use.compared.empty()) {
        keys = use.compared;
        keys.push_back(std::find(keys.begin(), keys.end(), kReturn) == keys.end() ? kReturn : kSpace);
    } else if (via_buffer && !use.used) {
        keys.push_back(kReturn);
    } else if (via_buffer) {
        keys.assign(std::begin(kUsualKeys), std::end(kUsualKeys));
    }
    const auto& columns = c64.input_reads.columns;
    const auto scanned = [&](std::uint8_t column) { return columns[column] && *columns[column] >= since; };
    for (const std::uint8_t key : kUsualKeys) {
        const std::optional<KeyPosition> at = key_position(key);
        if (!at || !scanned(at->column) || (at->shifted && !scanned(kLeftShift.column))) continue;
        if (std::find(keys.begin(), keys.end(), key) == keys.end()) keys.push_back(key);
    }
    return keys;
}

// Puts `input` into the machine: a key into the keyboard buffer (for a
// program that reads it) and down in the matrix, a joystick's line low.
void press(C64& c64, const Input& input, bool via_buffer) {
    if (input.device != Input::Device::Key) {
        c64.held.joysticks[input.device == Input::Device::Joystick1 ? 0 : 1] = static_cast<std::uint8_t>(1u << input.code);
        return;
    }
    if (via_buffer && c64.ram[kKeysWaiting] < 10) {
        c64.ram[kKeyBuffer + c64.ram[kKeysWaiting]] = input.code;
        ++c64.ram[kKeysWaiting];
    }
    if (const std::optional<KeyPosition> at = key_position(input.code)) {
        c64.held.keys[at->column] = static_cast<std::uint8_t>(c64.held.keys[at->column] | 1u << at->row);
        if (at->shifted) c64.held.keys[kLeftShift.column] = static_cast<std::uint8_t>(c64.held.keys[kLeftShift.column] | 1u << kLeftShift.row);
    }
}

// Runs one try: the input held for a while (and until the program took the
// key from the buffer), then let go, until the program ends, finds nothing
// new for long enough, or `slice` cycles have passed. Returns the cycles.
std::uint64_t run_try(C64& c64, TryRunner& runner, const Input& input, bool via_buffer, std::uint64_t slice,
                      std::uint64_t patience) {
    const std::uint64_t start = c64.cpu.cycles;
    const std::uint64_t end = start + slice;
    press(c64, input, via_buffer);
    std::optional<std::uint64_t> let_go;
    while (c64.cpu.cycles < end && !runner.step(end)) {
        const std::uint64_t now = c64.cpu.cycles;
        if (!let_go) {
            const bool taken = c64.ram[kKeysWaiting] == 0 || now - start >= patience;
            if (now - start >= kHold && (!via_buffer || taken)) {
                c64.held = {};
                let_go = now;
            }
            continue;
        }
        const bool found = c64.cpu.last_news >= start;
        if (now - std::max(c64.cpu.last_news, *let_go) > (found ? patience : kGrace)) break;
    }
    c64.held = {};
    return c64.cpu.cycles - start;
}

// The code that ran for the first time since `seen` was last brought up to
// date (and brings it up to date), as ranges of RAM.
std::vector<std::pair<std::uint16_t, std::uint32_t>> new_code(const C64& c64, std::vector<std::uint8_t>& seen) {
    constexpr std::uint8_t kRan = mark::Ran | mark::RanWritten;
    constexpr std::uint64_t kRanEverywhere = kRan * 0x0101010101010101u;
    std::vector<std::pair<std::uint16_t, std::uint32_t>> ranges;
    for (std::uint32_t a = 0; a < 0x10000; ++a) {
        // Eight bytes at a time where nothing ran for the first time.
        if (a % 8 == 0) {
            std::uint64_t marks = 0, known = 0;
            std::memcpy(&marks, c64.ram_marks.data() + a, 8);
            std::memcpy(&known, seen.data() + a, 8);
            if ((marks & kRanEverywhere & ~known) == 0) {
                a += 7;
                continue;
            }
        }
        const auto ran = static_cast<std::uint8_t>(c64.ram_marks[a] & kRan);
        if ((ran & ~seen[a]) == 0) continue;
        seen[a] |= ran;
        const std::uint32_t end = std::min<std::uint32_t>(a + instruction_length(c64.ram[a]), 0x10000);
        if (!ranges.empty() && a <= ranges.back().second + kJoin) {
            ranges.back().second = std::max(ranges.back().second, end);
        } else {
            ranges.emplace_back(static_cast<std::uint16_t>(a), end);
        }
    }
    return ranges;
}

}  // namespace

std::optional<KeyPosition> key_position(std::uint8_t petscii) {
    if (petscii == 0) return std::nullopt;
    for (std::size_t i = 0; i < kMatrix.size(); ++i) {
        const auto column = static_cast<std::uint8_t>(i / 8), row = static_cast<std::uint8_t>(i % 8);
        if (kMatrix[i] == petscii) return KeyPosition{column, row, false};
        if (kMatrix[i] != 0 && shifted(kMatrix[i]) == petscii) return KeyPosition{column, row, true};
    }
    return std::nullopt;
}

InputPlan inputs_to_try(const C64& c64, std::uint64_t since, std::uint16_t loop) {
    const InputReads& reads = c64.input_reads;
    KeyUse use;
    KeyLook look(c64, use);
    bool called = false;
    for (const InputReads::Call& call : reads.calls) {
        if (call.cycle < since) continue;
        called = true;
        look.from({call.back, call.key_in_a ? reg::A : std::uint8_t{0}, call.outer, call.key_in_a});
    }
    look.from({loop, 0, 0});
    InputPlan plan;
    plan.via_buffer = called || use.reads_buffer;
    std::vector<Input>& inputs = plan.inputs;
    for (const std::uint8_t key : keys_to_try(c64, use, plan.via_buffer, since)) inputs.push_back({Input::Device::Key, key});
    for (const auto& [device, read] : {std::pair(Input::Device::Joystick2, reads.port_a), std::pair(Input::Device::Joystick1, reads.port_b)}) {
        if (!recent(read, since)) continue;
        for (std::uint8_t bit = 0; bit < 5; ++bit) inputs.push_back({device, bit});
    }
    if (inputs.size() > kMostTries) inputs.resize(kMostTries);
    return plan;
}

Explored explore_inputs(C64& c64, const InputPlan& plan, TryRunner& runner, const ExploreLimits& limits) {
    Explored explored;
    const std::vector<Input>& inputs = plan.inputs;
    if (inputs.empty()) return explored;
    const std::unique_ptr<C64::Snapshot> at_wait = c64.snapshot();
    at_wait->silent = false;
    std::vector<std::uint8_t> seen(c64.ram_marks.begin(), c64.ram_marks.end());
    const std::size_t printed = c64.printed.size();
    for (std::size_t i = 0; i < inputs.size(); ++i) {
        if (explored.cycles + kShortestTry > limits.budget) break;
        const std::uint64_t left = limits.budget - explored.cycles;
        const std::uint64_t slice = std::min(left, std::max(left / (inputs.size() - i), kShortestTry));
        c64.restore(*at_wait);
        const bool via_buffer = plan.via_buffer && inputs[i].device == Input::Device::Key;
        explored.cycles += run_try(c64, runner, inputs[i], via_buffer, slice, limits.patience);
        runner.try_over();
        c64.printed.resize(std::min(c64.printed.size(), printed));
        std::vector<std::pair<std::uint16_t, std::uint32_t>> found = new_code(c64, seen);
        if (!found.empty()) explored.tries.push_back({inputs[i], std::move(found)});
    }
    return explored;
}

}  // namespace tolvek
