#include "analysis/io_banking.hpp"

#include <algorithm>
#include <vector>

#include "c64/symbols.hpp"
#include "cpu/behaviour.hpp"
#include "cpu/decode.hpp"

namespace tolvek {
namespace {

// A register's or the port's value at an instruction: a byte, or one of
// these.
constexpr std::uint16_t kUnknown = 0x100;  // differs between paths, or not followed
constexpr std::uint16_t kUnreached = 0x200;

// $01 as BASIC and the KERNAL leave it: BASIC, KERNAL and I/O visible.
constexpr std::uint16_t kStartPort = 0x37;

struct State {
    std::uint16_t port = kUnreached;
    std::uint16_t a = kUnreached;
    std::uint16_t x = kUnreached;
    std::uint16_t y = kUnreached;
};

constexpr bool known(std::uint16_t value) { return value <= 0xff; }

// With bits 0-1 both clear $D000-$DFFF is RAM; with bit 2 clear, the
// character ROM (for reads; writes go to the RAM below).
constexpr bool shows_io(std::uint16_t port) { return !known(port) || ((port & 3) != 0 && (port & 4) != 0); }

std::uint16_t join(std::uint16_t old, std::uint16_t incoming) {
    if (old == kUnreached) return incoming;
    if (incoming == kUnreached || old == incoming) return old;
    return kUnknown;
}

std::uint16_t plus(std::uint16_t value, int step) {
    return known(value) ? static_cast<std::uint16_t>((value + step) & 0xff) : value;
}

// Whether the instruction names the processor port as a plain zero page
// or absolute operand.
bool names_port(const Image& image, std::uint32_t at, Mode mode) {
    return (mode == Mode::ZeroPage || mode == Mode::Absolute) && operand_of(image, at) == c64::kProcessorPort;
}

// The state after the instruction at `at`: the registers' values where
// immediates, transfers, counting and and/ora/eor # make them known, and
// $01 where a register, inc or dec write it. Whatever else an instruction
// writes into a register or into $01 is not followed.
State step(const Image& image, std::uint32_t at, const State& before) {
    using enum Operation;
    const std::uint8_t byte = image.at(at);
    const Behaviour& b = behaviour(byte);
    const Mode mode = opcode(byte).mode;
    const bool port = names_port(image, at, mode);
    const bool immediate = mode == Mode::Immediate;
    const auto value = static_cast<std::uint16_t>(immediate ? image.at(at + 1) : 0);
    State s = before;
    if ((b.writes & reg::A) != 0) s.a = kUnknown;
    if ((b.writes & reg::X) != 0) s.x = kUnknown;
    if ((b.writes & reg::Y) != 0) s.y = kUnknown;
    if (port && writes_memory(byte)) s.port = kUnknown;
    switch (b.operation) {
    case Lda: s.a = immediate ? value : port ? before.port : kUnknown; break;
    case Ldx: s.x = immediate ? value : kUnknown; break;
    case Ldy: s.y = immediate ? value : kUnknown; break;
    case And:
        if (immediate) s.a = known(before.a) ? before.a & value : value == 0 ? 0 : kUnknown;
        break;
    case Ora:
        if (immediate) s.a = known(before.a) ? before.a | value : value == 0xff ? 0xff : kUnknown;
        break;
    case Eor:
        if (immediate) s.a = known(before.a) ? before.a ^ value : kUnknown;
        break;
    case Tax: s.x = before.a; break;
    case Tay: s.y = before.a; break;
    case Txa: s.a = before.x; break;
    case Tya: s.a = before.y; break;
    case Inx: s.x = plus(before.x, 1); break;
    case Dex: s.x = plus(before.x, -1); break;
    case Iny: s.y = plus(before.y, 1); break;
    case Dey: s.y = plus(before.y, -1); break;
    case Sta: s.port = port ? before.a : s.port; break;
    case Stx: s.port = port ? before.x : s.port; break;
    case Sty: s.port = port ? before.y : s.port; break;
    case Sax: s.port = port ? (known(before.a) && known(before.x) ? before.a & before.x : kUnknown) : s.port; break;
    case Inc: s.port = port ? plus(before.port, 1) : s.port; break;
    case Dec: s.port = port ? plus(before.port, -1) : s.port; break;
    default: break;
    }
    return s;
}

// Whether the instruction at `at` stores into $01.
bool writes_port(const Image& image, std::uint32_t at) {
    const std::uint8_t byte = image.at(at);
    return writes_memory(byte) && names_port(image, at, opcode(byte).mode);
}

// The address an instruction names as data in the image's part of the I/O
// area (not a call, jump or branch target), if it names one.
bool names_io_area(const Image& image, std::uint32_t at, std::uint32_t& target) {
    const std::uint8_t byte = image.at(at);
    if (length_of(opcode(byte).mode) != 3 || flow_of(byte) != Flow::Next) return false;
    target = operand_of(image, at);
    return in_io_area(target) && image.contains(target);
}

bool covers_io_area(const Image& image) { return image.end() > c64::kIoArea && image.load < c64::kIoAreaEnd; }

// The states of the instructions `code` (in address order), followed
// along the paths between them.
class PortFlow {
public:
    PortFlow(const MemoryMap& map, const std::vector<std::uint32_t>& code)
        : map_(map), image_(map.image()), code_(code), targets_(code.size(), kNone), states_(code.size()),
          queued_(code.size(), 0) {
        for (std::size_t i = 0; i < code_.size(); ++i) {
            const Flow flow = flow_of(image_.at(code_[i]));
            if (flow == Flow::Branch || flow == Flow::Call || flow == Flow::Jump) {
                targets_[i] = index(operand_of(image_, code_[i]));
            }
        }
    }

    // The instructions where every path leaves the I/O switched out, of
    // the code that `matters` (by instruction index) says it may matter for.
    std::vector<std::uint32_t> hidden(const std::vector<std::uint8_t>& matters) {
        // Where code can be entered: the entries, and every instruction
        // no other leads to (reached through tables, vectors, pointers).
        std::vector<std::uint8_t> led_to(code_.size(), 0);
        for (std::size_t i = 0; i < code_.size(); ++i) {
            successors(i, [&](std::size_t next, bool) { led_to[next] = 1; });
        }
        const State start{kStartPort, kUnknown, kUnknown, kUnknown};
        const auto seed = [&](std::size_t i) {
            if (i != kNone && matters[i] != 0) enter(i, start);
        };
        if (map_.start.entry_in_image) seed(index(static_cast<std::uint32_t>(map_.start.entry)));
        for (const SysEntry& sys : map_.start.sys_entries) seed(index(sys.address));
        for (std::size_t i = 0; i < code_.size(); ++i) {
            if (led_to[i] == 0) seed(i);
        }
        while (!work_.empty()) {
            const std::size_t i = work_.back();
            work_.pop_back();
            queued_[i] = 0;
            const State out = step(image_, code_[i], states_[i]);
            successors(i, [&](std::size_t next, bool returned) {
                // After a call the registers hold what the routine left,
                // and $01 what it was before: routines that switch the I/O
                // out switch it back in before they return.
                enter(next, returned ? State{out.port, kUnknown, kUnknown, kUnknown} : out);
            });
        }
        std::vector<std::uint32_t> hidden;
        for (std::size_t i = 0; i < code_.size(); ++i) {
            if (!shows_io(states_[i].port)) hidden.push_back(code_[i]);
        }
        return hidden;
    }

    // Per instruction, whether it lies in a stretch of code joined by paths
    // (in either direction) that both stores into $01 and names the I/O
    // area (`names`, by index): elsewhere $01 never hides the chips from an
    // instruction that names them. Empty where there is none.
    std::vector<std::uint8_t> joined_with_port(const std::vector<std::uint8_t>& names) const {
        std::vector<std::uint32_t> parent(code_.size());
        for (std::size_t i = 0; i < parent.size(); ++i) parent[i] = static_cast<std::uint32_t>(i);
        const auto root = [&](std::uint32_t i) {
            while (parent[i] != i) i = parent[i] = parent[parent[i]];
            return i;
        };
        for (std::size_t i = 0; i < code_.size(); ++i) {
            successors(i, [&](std::size_t next, bool) {
                parent[root(static_cast<std::uint32_t>(next))] = root(static_cast<std::uint32_t>(i));
            });
        }
        std::vector<std::uint8_t> has(code_.size(), 0);  // by root: 1 stores into $01, 2 names the I/O area
        for (std::size_t i = 0; i < code_.size(); ++i) {
            const std::uint32_t r = root(static_cast<std::uint32_t>(i));
            has[r] = static_cast<std::uint8_t>(has[r] | (writes_port(image_, code_[i]) ? 1 : 0) | (names[i] != 0 ? 2 : 0));
        }
        std::vector<std::uint8_t> matters(code_.size(), 0);
        bool any = false;
        for (std::size_t i = 0; i < code_.size(); ++i) {
            matters[i] = has[root(static_cast<std::uint32_t>(i))] == 3 ? 1 : 0;
            any = any || matters[i] != 0;
        }
        if (!any) matters.clear();
        return matters;
    }

private:
    static constexpr std::size_t kNone = ~std::size_t{0};

    // The index of the instruction at `address`, or kNone.
    std::size_t index(std::uint32_t address) const {
        const auto it = std::lower_bound(code_.begin(), code_.end(), address);
        return it != code_.end() && *it == address ? static_cast<std::size_t>(it - code_.begin()) : kNone;
    }

    // Calls f(next, returned) for every instruction that can follow the
    // i-th; `returned` where it follows a call.
    template <class F>
    void successors(std::size_t i, F&& f) const {
        const std::uint32_t at = code_[i];
        const std::uint8_t byte = image_.at(at);
        const Flow flow = flow_of(byte);
        if (targets_[i] != kNone) f(targets_[i], false);
        if (flow != Flow::Jump && flow != Flow::Stop && i + 1 < code_.size() &&
            code_[i + 1] == at + instruction_length(byte)) {
            f(i + 1, flow == Flow::Call);
        }
    }

    void enter(std::size_t i, const State& incoming) {
        if (i == kNone) return;
        State& state = states_[i];
        const State before = state;
        state.port = join(state.port, incoming.port);
        state.a = join(state.a, incoming.a);
        state.x = join(state.x, incoming.x);
        state.y = join(state.y, incoming.y);
        const bool changed = state.port != before.port || state.a != before.a || state.x != before.x ||
                             state.y != before.y;
        if (changed && queued_[i] == 0) {
            queued_[i] = 1;
            work_.push_back(i);
        }
    }

    const MemoryMap& map_;
    const Image& image_;
    const std::vector<std::uint32_t>& code_;
    std::vector<std::size_t> targets_;  // of branches, calls and jumps, where code
    std::vector<State> states_;
    std::vector<std::uint8_t> queued_;
    std::vector<std::size_t> work_;
};

}  // namespace

std::vector<std::uint32_t> find_hidden_io(MemoryMap& map) {
    map.io_hidden.clear();
    std::vector<std::uint32_t> chips;
    const Image& image = map.image();
    if (!covers_io_area(image)) return chips;
    const std::vector<std::uint32_t> code = map.instructions();
    bool port_written = false;
    std::vector<std::uint8_t> names(code.size(), 0);  // by index: names the image's part of the I/O area
    for (std::size_t i = 0; i < code.size(); ++i) {
        std::uint32_t target = 0;
        if (names_io_area(image, code[i], target)) {
            names[i] = 1;
            chips.push_back(code[i]);
        }
        port_written = port_written || writes_port(image, code[i]);
    }
    for (const auto& [address, ref] : map.immediates()) {
        if (!in_io_area(ref.target) || !image.contains(ref.target)) continue;
        const auto it = std::lower_bound(code.begin(), code.end(), address);
        if (it != code.end() && *it == address) names[static_cast<std::size_t>(it - code.begin())] = 1;
    }
    if (port_written) {
        PortFlow flow(map, code);
        const std::vector<std::uint8_t> matters = flow.joined_with_port(names);
        if (!matters.empty()) map.io_hidden = flow.hidden(matters);
    }
    // From the instructions to the registers they name, where the chips are.
    std::size_t kept = 0;
    for (const std::uint32_t at : chips) {
        if (map.io_visible(at)) chips[kept++] = operand_of(image, at);
    }
    chips.resize(kept);
    for (const auto& [address, ref] : map.immediates()) {
        if (names_chip(map, address, ref.target)) chips.push_back(ref.target);
    }
    return chips;
}

bool names_chip(const MemoryMap& map, std::uint32_t instruction, std::uint32_t target) {
    const Image& image = map.image();
    if (!in_io_area(target) || !image.contains(target) || !image.contains(instruction)) return false;
    return flow_of(image.at(instruction)) == Flow::Next && map.io_visible(instruction);
}

}  // namespace tolvek
