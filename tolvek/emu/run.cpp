#include "emu/run.hpp"

#include <algorithm>
#include <memory>

#include "cpu/opcodes.hpp"
#include "emu/c64.hpp"

namespace tolvek {
namespace {

// The CPU runs in slices between the chips' events. A program that sets up
// an interrupt in the middle of a slice gets it late by at most this much.
constexpr std::uint64_t kSliceCycles = 8 * pal::kLineCycles;
// Unwritten bytes tolerated inside a range of written code.
constexpr std::uint32_t kGap = 8;
// When a program waits, it is let run this long without interrupts so that
// a handler it was in returns, and then this many instructions to see its
// loop.
constexpr std::uint64_t kSettleCycles = pal::kFrameCycles;
constexpr int kLoopInstructions = 1000;
// A program that finds nothing new waits when its main program has stored
// nothing for this long either: a loop that computes stores as it goes (a
// sieve's later rounds mark bytes marked before), a loop that waits for a
// key or the raster does not.
constexpr std::uint64_t kQuietMain = 2 * pal::kFrameCycles;

class Run {
public:
    Run(C64& c64, const RunOptions& options) : c64_(c64), cpu_(c64.cpu), options_(options) {}

    RunResult go();

private:
    std::optional<RunEnd> halted();
    void new_code();
    bool in_written_range(std::uint32_t address) const;
    RunEnd settle();

    C64& c64_;
    Cpu6510& cpu_;
    const RunOptions& options_;
    RunResult result_;
};

RunResult Run::go() {
    for (;;) {
        if (cpu_.cycles >= options_.budget) {
            result_.end = RunEnd::BudgetUsed;
            result_.end_address = cpu_.pc;
            break;
        }
        if (cpu_.cycles - cpu_.last_news > options_.patience) {
            if (cpu_.cycles - cpu_.last_main_store > std::min(kQuietMain, options_.patience)) {
                result_.end = settle();
            } else {
                // Still computing, but over what it has seen before: more
                // of the same would tell the analysis nothing.
                result_.end = RunEnd::NothingNew;
                result_.end_address = cpu_.pc;
            }
            break;
        }
        const std::uint64_t until = std::min({options_.budget, c64_.next_event(), cpu_.cycles + kSliceCycles});
        const Cpu6510::Stop stop = cpu_.run(until, true);
        if (stop == Cpu6510::Stop::Halted) {
            if (const std::optional<RunEnd> end = halted()) {
                result_.end = *end;
                result_.end_address = cpu_.pc;
                break;
            }
        } else if (stop == Cpu6510::Stop::NewCode) {
            new_code();
        }
        if (c64_.catch_up()) cpu_.interrupt(0xfffa);
    }
    result_.cycles = cpu_.cycles;
    result_.marks = std::move(c64_.ram_marks);
    result_.first_writer = std::move(c64_.writers);
    result_.memory.assign(c64_.ram.begin(), c64_.ram.end());
    result_.printed = std::move(c64_.printed);
    return std::move(result_);
}

// Ends the run unless a stand-in answered the halt.
std::optional<RunEnd> Run::halted() {
    const C64::Area area = c64_.area(cpu_.pc);
    if (area == C64::Area::Ram || area == C64::Area::Io) return RunEnd::Halted;
    switch (answer_stand_in(c64_)) {
    case StandIn::Returned: return std::nullopt;
    case StandIn::BackToBasic: return RunEnd::ReturnedToBasic;
    case StandIn::None: break;
    }
    return RunEnd::RomWithoutStandIn;
}

// Code of the program's own is never in the stack or zero page, nor in the
// chips' registers.
bool Run::in_written_range(std::uint32_t address) const {
    return address >= 0x0200 && address <= 0xffff &&
           c64_.area(static_cast<std::uint16_t>(address)) != C64::Area::Io;
}

void Run::new_code() {
    const std::uint16_t entry = cpu_.pc;
    if (!in_written_range(entry)) return;
    const std::vector<std::uint8_t>& marks = c64_.ram_marks;
    const auto written = [&](std::uint32_t address) { return (marks[address] & mark::Written) != 0; };
    std::uint32_t start = entry;
    for (bool grown = true; grown;) {
        grown = false;
        for (std::uint32_t back = 1; back <= kGap + 1 && start >= back && in_written_range(start - back); ++back) {
            if (written(start - back)) {
                start -= back;
                grown = true;
                break;
            }
        }
    }
    std::uint32_t end = entry + 1u;  // exclusive
    for (bool grown = true; grown;) {
        grown = false;
        for (std::uint32_t ahead = 0; ahead <= kGap && in_written_range(end + ahead); ++ahead) {
            if (written(end + ahead)) {
                end += ahead + 1;
                grown = true;
                break;
            }
        }
    }
    std::optional<WrittenCode>& kept = result_.written_code;
    if (kept && end - start <= kept->end - kept->start) return;
    kept = WrittenCode{static_cast<std::uint16_t>(start), end, entry, cpu_.cycles,
                       std::vector<std::uint8_t>(c64_.ram.begin() + start, c64_.ram.begin() + end)};
}

// The program is waiting. Without interrupts, an interrupt handler it was
// in returns to the main program; the lowest address in RAM the waiting
// loop then runs names it.
RunEnd Run::settle() {
    c64_.silence();
    // Within the budget, as all of the run, with room left for the look.
    const std::uint64_t settled = std::min(cpu_.cycles + kSettleCycles, cpu_.cycles + (options_.budget - cpu_.cycles) / 2);
    // The loop is named by where its branches and jumps back lead (the
    // lowest such place: an inner loop lies inside the outer one), else by
    // the lowest address it runs in RAM.
    std::uint32_t lowest = 0x10000;
    std::uint32_t lowest_back = 0x10000;
    for (int seen = 0; seen < kLoopInstructions && cpu_.cycles < options_.budget;) {
        const bool looking = cpu_.cycles >= settled;
        const std::uint16_t at = cpu_.pc;
        if (looking) {
            ++seen;
            if (c64_.area(at) == C64::Area::Ram) lowest = std::min<std::uint32_t>(lowest, at);
        }
        if (cpu_.run(looking ? cpu_.cycles + 1 : settled, false) == Cpu6510::Stop::Halted) {
            if (const std::optional<RunEnd> end = halted()) {
                result_.end_address = cpu_.pc;
                return *end;
            }
        }
        if (looking && cpu_.pc < at && c64_.area(cpu_.pc) == C64::Area::Ram) {
            const Flow flow = flow_of(cpu_.read(at));
            if (flow == Flow::Branch || flow == Flow::Jump) lowest_back = std::min<std::uint32_t>(lowest_back, cpu_.pc);
        }
    }
    if (lowest_back <= 0xffff) lowest = lowest_back;
    result_.end_address = lowest <= 0xffff ? static_cast<std::uint16_t>(lowest) : cpu_.pc;
    return RunEnd::Waited;
}

}  // namespace

RunResult run_program(const Image& image, std::uint16_t entry, const RunOptions& options) {
    const auto c64 = std::make_unique<C64>();
    c64->load(image, entry);
    return Run(*c64, options).go();
}

}  // namespace tolvek
