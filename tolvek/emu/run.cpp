#include "emu/run.hpp"

#include <algorithm>
#include <memory>
#include <utility>
#include <vector>

#include "c64/basic.hpp"
#include "c64/symbols.hpp"
#include "cpu/behaviour.hpp"
#include "cpu/opcodes.hpp"
#include "emu/c64.hpp"
#include "emu/explore.hpp"

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
// Signs of progress (Cpu6510::progress) that make a window of the patience
// without news one of work, where the program runs code it wrote itself:
// an unpacker decoding over memory it cleared or moved its data into, or
// through a long run of zeros, bit by bit.
constexpr std::uint64_t kWorkingProgress = 16;

// The bytes of RAM from $0200 up that the program wrote, grouped into
// ranges in which no more than kGap unwritten bytes lie between two written
// ones. Kept up to date a first store at a time (each joins the ranges of
// its written neighbours), so that the range around an address costs the
// same to find whatever its size: a program may jump into written bytes
// tens of thousands of times.
class WrittenRanges {
public:
    void add(std::uint32_t address) {
        if (address < kLowest || parent_[address] != kNone) return;
        parent_[address] = address;
        first_[address] = last_[address] = static_cast<std::uint16_t>(address);
        for (std::uint32_t distance = 1; distance <= kGap + 1; ++distance) {
            if (address >= kLowest + distance && parent_[address - distance] != kNone) join(address, address - distance);
            if (address + distance <= 0xffff && parent_[address + distance] != kNone) join(address, address + distance);
        }
    }

    // The first and last written byte of the range that holds the written
    // byte `address`.
    std::pair<std::uint32_t, std::uint32_t> around(std::uint32_t address) {
        const std::uint32_t r = root(address);
        return {first_[r], last_[r]};
    }

private:
    static constexpr std::uint32_t kLowest = 0x0200;  // below: zero page and stack
    static constexpr std::uint32_t kNone = 0x10000;

    std::uint32_t root(std::uint32_t a) {
        while (parent_[a] != a) a = parent_[a] = parent_[parent_[a]];
        return a;
    }
    void join(std::uint32_t a, std::uint32_t b) {
        a = root(a);
        b = root(b);
        if (a == b) return;
        parent_[b] = a;
        first_[a] = std::min(first_[a], first_[b]);
        last_[a] = std::max(last_[a], last_[b]);
    }

    std::vector<std::uint32_t> parent_ = std::vector<std::uint32_t>(0x10000, kNone);
    std::vector<std::uint16_t> first_ = std::vector<std::uint16_t>(0x10000);
    std::vector<std::uint16_t> last_ = std::vector<std::uint16_t>(0x10000);
};

// Copies of written code kept so far may add up to this many bytes; after
// that a range is copied again only when it is clearly larger, so that code
// that grows a byte at a time does not copy memory without end.
constexpr std::size_t kCopyAllowance = 1 << 20;
// Bytes looked at to find what was handed over, in all: a program that
// jumps into code it rewrites over and over from outside it is not looked
// at without end (about a twentieth of a second).
constexpr std::size_t kLookAllowance = 1 << 26;
// Passes over the bytes around the entry to find the stores that wrote the
// program: each adds the stores found among it.
constexpr int kWriterPasses = 8;

class Run final : private TryRunner {
public:
    Run(C64& c64, const RunOptions& options)
        : c64_(c64), cpu_(c64.cpu), options_(options), budget_(options.budget),
          ceiling_(std::max(options.budget, options.ceiling)) {
        c64_.first_stores = &first_stores_;
        c64_.vic_samples = &result_.vic_samples;
        cpu_.rewrite_age = static_cast<std::uint32_t>(std::clamp<std::uint64_t>(options.patience / 2, 1, 0xffffffff));
    }

    RunResult go();

private:
    bool run_to_end();
    std::optional<RunEnd> advance(std::uint64_t until);
    bool step(std::uint64_t until) override { return advance(until).has_value(); }
    void try_over() override;
    void explore();
    void forget_stores_since(std::size_t count);
    void keep_pending();
    std::optional<RunEnd> halted();
    bool run_as_basic();
    void new_code();
    WrittenCode handed_over(std::uint16_t entry, std::uint16_t from, std::uint32_t first, std::uint32_t last);
    std::pair<std::uint32_t, std::uint32_t> program_around(std::uint16_t entry, std::uint32_t low, std::uint32_t high);
    void keep(WrittenCode code);
    bool unpacking() const;
    bool unpacking_at(std::uint16_t pc) const;
    bool moved(std::uint32_t start, std::uint32_t end, std::uint16_t entry) const;
    std::optional<std::uint16_t> image_call_of(std::uint16_t entry) const;
    void watched();
    bool in_written_range(std::uint32_t address) const;
    // Whether the program's own bytes are seen at `address`: RAM, or a ROM
    // that the image is.
    bool in_program(std::uint16_t address) const {
        const C64::Area area = c64_.area(address);
        return area == C64::Area::Ram || c64_.image_rom(area);
    }
    RunEnd settle();
    std::vector<std::uint16_t> calls_on_stack() const;

    C64& c64_;
    Cpu6510& cpu_;
    const RunOptions& options_;
    std::uint64_t budget_;         // as it grows for an unpacker at work
    const std::uint64_t ceiling_;  // how far it may grow
    std::uint64_t news_seen_ = 0;      // Cpu6510::last_news when last looked at,
    std::uint64_t progress_seen_ = 0;  // and Cpu6510::progress then
    std::uint32_t largest_ = 0;        // the largest program handed over to so far
    bool ran_as_basic_ = false;        // an unpacked BASIC program was RUN
    std::vector<bool> program_writer_ = std::vector<bool>(0x10000);  // program_around's scratch
    RunResult result_;
    std::vector<std::uint16_t> first_stores_;  // the addresses stored into for the first time, in order
    std::size_t fed_ = 0;                      // how many of them the ranges heard of
    WrittenRanges ranges_;
    std::size_t copied_ = 0;  // bytes of written code copied so far
    std::size_t looked_ = 0;  // bytes looked at by program_around
    // Written code called from the program's own code, until it returns
    // there (generated code) or the run ends (then it may be unpacked code).
    struct PendingCall {
        WrittenCode code;
        std::uint32_t start = 0, last = 0;  // the written bytes around it
        std::uint16_t caller = 0;
        std::uint8_t stack = 0;  // the stack pointer before the jsr
    };
    std::optional<PendingCall> pending_;
    // While the tries run: the first stores and how many the ranges heard
    // of when the program waited, the ranges then (copied when a try first
    // adds to them), and the bytes the tries stored into first, with the
    // value and the writer of the first try that did.
    std::uint64_t waited_at_ = 0;  // when the run found nothing new for long
    std::size_t fed_at_wait_ = 0;
    std::size_t stores_at_wait_ = 0;
    std::optional<WrittenRanges> ranges_at_wait_;
    bool ranges_changed_ = false;
    bool exploring_ = false;
    std::vector<bool> tried_stores_;
    std::vector<std::uint16_t> tried_writers_;
    std::vector<std::uint8_t> tried_values_;
};

RunResult Run::go() {
    const bool waited = run_to_end();
    c64_.sample_vic(2);  // as the run ended: the display stays so
    result_.cycles = cpu_.cycles;
    result_.memory.assign(c64_.ram.begin(), c64_.ram.end());
    result_.origins = c64_.ram_origins;  // as the memory: at the end, or at the wait
    result_.calls_not_returned = calls_on_stack();
    result_.printed = c64_.printed;
    keep_pending();
    // The tries' jumps through copied bytes are noted as the run's.
    if (waited && options_.press_inputs) explore();
    c64_.first_stores = nullptr;
    c64_.vic_samples = nullptr;
    c64_.origins = nullptr;
    c64_.copied_pointers = nullptr;
    c64_.data_pointers = nullptr;
    for (std::vector<CopiedPointer>* pointers : {&c64_.pointers_copied, &c64_.pointers_used}) {
        std::sort(pointers->begin(), pointers->end());
        pointers->erase(std::unique(pointers->begin(), pointers->end()), pointers->end());
    }
    result_.copied_pointers = std::move(c64_.pointers_copied);
    result_.data_pointers = std::move(c64_.pointers_used);
    result_.marks = std::move(c64_.ram_marks);
    result_.first_writer = std::move(c64_.writers);
    result_.first_ran = std::move(c64_.first_runs);
    result_.calls_without_stand_in.assign(c64_.calls_without_stand_in.begin(), c64_.calls_without_stand_in.end());
    return std::move(result_);
}

// Runs until the program ends, waits or uses up the budget; says whether
// it waits (or goes over what it has seen).
bool Run::run_to_end() {
    for (;;) {
        if (cpu_.last_news != news_seen_) {
            news_seen_ = cpu_.last_news;
            progress_seen_ = cpu_.progress;
        }
        if (cpu_.cycles >= budget_) {
            const bool working = unpacking();
            if (working && budget_ < ceiling_) {
                budget_ = std::min(ceiling_, budget_ + std::max<std::uint64_t>(options_.budget, 1));
                result_.budget_grown = true;
                continue;
            }
            result_.ceiling_reached = result_.budget_grown && working;
            result_.end = RunEnd::BudgetUsed;
            result_.end_address = cpu_.pc;
            return false;
        }
        if (cpu_.cycles - cpu_.last_news > options_.patience && unpacking() &&
            cpu_.progress - progress_seen_ >= kWorkingProgress) {
            cpu_.last_news = cpu_.cycles;  // at work, though over bytes it wrote before
            continue;
        }
        if (cpu_.cycles - cpu_.last_news > options_.patience) {
            waited_at_ = cpu_.cycles;
            if (cpu_.cycles - cpu_.last_main_store > std::min(kQuietMain, options_.patience)) {
                result_.end = settle();
            } else {
                // Still computing, but over what it has seen before: more
                // of the same would tell the analysis nothing.
                result_.end = RunEnd::NothingNew;
                result_.end_address = cpu_.pc;
            }
            return true;
        }
        if (const std::optional<RunEnd> end = advance(budget_)) {
            result_.end = *end;
            result_.end_address = cpu_.pc;
            if (*end == RunEnd::Halted && cpu_.in_interrupt()) result_.halted_in_interrupt_since = cpu_.interrupted_at;
            return false;
        }
    }
}

// Runs the CPU to `until`, the chips' next event or the end of a slice,
// whichever comes first; says how the program ended if it did.
std::optional<RunEnd> Run::advance(std::uint64_t until) {
    const Cpu6510::Stop stop = cpu_.run(std::min({until, c64_.next_event(), cpu_.cycles + kSliceCycles}), true);
    if (stop == Cpu6510::Stop::Halted) {
        if (const std::optional<RunEnd> end = halted()) return end;
    } else if (stop == Cpu6510::Stop::NewCode) {
        new_code();
    } else if (stop == Cpu6510::Stop::Watched) {
        watched();
    }
    if (c64_.catch_up()) cpu_.interrupt(0xfffa);
    return std::nullopt;
}

// Written code that was called and has not come back: it may be what an
// unpacker unpacked, when nothing was handed over to.
void Run::keep_pending() {
    if (pending_ && !result_.written_code) keep(std::move(pending_->code));
    pending_.reset();
    cpu_.watched = Cpu6510::kNotWatched;
}

// Tries the inputs the program may wait for, each from where it waits now.
void Run::explore() {
    const std::uint64_t since = waited_at_ - std::min(waited_at_, options_.patience);
    const InputPlan plan = inputs_to_try(c64_, since, result_.end_address);
    if (plan.inputs.empty()) return;
    stores_at_wait_ = first_stores_.size();
    fed_at_wait_ = fed_;
    exploring_ = true;
    const ExploreLimits limits{budget_ - std::min(budget_, cpu_.cycles), options_.patience};
    Explored explored = explore_inputs(c64_, plan, *this, limits);
    exploring_ = false;
    result_.inputs = std::move(explored.tries);
    result_.input_cycles = explored.cycles;
    // What the tries stored into counts as written, as the first try left it.
    for (std::uint32_t a = 0; a < tried_stores_.size(); ++a) {
        if (!tried_stores_[a]) continue;
        if (!(c64_.ram_marks[a] & mark::Written)) {
            c64_.ram_marks[a] |= mark::Written;
            c64_.writers[a] = tried_writers_[a];
        }
        result_.memory[a] = tried_values_[a];
    }
}

void Run::try_over() {
    keep_pending();
    forget_stores_since(stores_at_wait_);
    if (ranges_changed_) {
        ranges_ = *ranges_at_wait_;
        ranges_changed_ = false;
    }
    fed_ = fed_at_wait_;
}

// Unmarks the bytes first stored into after the first `count`, noting them
// as stored into by a try.
void Run::forget_stores_since(std::size_t count) {
    if (first_stores_.size() > count && tried_stores_.empty()) {
        tried_stores_.assign(0x10000, false);
        tried_writers_.assign(0x10000, 0);
        tried_values_.assign(0x10000, 0);
    }
    for (std::size_t i = count; i < first_stores_.size(); ++i) {
        const std::uint16_t a = first_stores_[i];
        if (!tried_stores_[a]) {
            tried_stores_[a] = true;
            tried_writers_[a] = c64_.writers[a];
            tried_values_[a] = c64_.ram[a];
        }
        c64_.ram_marks[a] &= static_cast<std::uint8_t>(~mark::Written);
    }
    first_stores_.resize(std::min(first_stores_.size(), count));
}

// Ends the run unless a stand-in answered the halt.
std::optional<RunEnd> Run::halted() {
    const C64::Area area = c64_.area(cpu_.pc);
    if (area == C64::Area::Ram || area == C64::Area::Io || c64_.image_rom(area)) return RunEnd::Halted;
    switch (answer_stand_in(c64_)) {
    case StandIn::Returned: return std::nullopt;
    case StandIn::BackToBasic: return run_as_basic() ? std::nullopt : std::optional{RunEnd::ReturnedToBasic};
    case StandIn::None: break;
    }
    // A call into ROM that no stand-in answers returns at once: what the
    // program does after it tells more than stopping there would.
    if (return_from_call_without_stand_in(c64_)) return std::nullopt;
    return RunEnd::RomWithoutStandIn;
}

// An unpacker that unpacked a BASIC program hands it to BASIC to RUN (it
// jumps to the interpreter's loop, or to READY with RUN typed): from code
// it wrote, with a BASIC program at $0801 that it wrote and that calls
// bytes it wrote with SYS. That is the hand-over, and the run goes on as
// RUN would, with SYS to there. Once, and not for a program that returns
// from its SYS, nor for what was handed over to going back to BASIC.
bool Run::run_as_basic() {
    const std::uint16_t from = cpu_.jumped_from();
    const auto written = [&](std::uint32_t a) { return (c64_.ram_marks[a] & mark::Written) != 0; };
    if (ran_as_basic_ || cpu_.pc == kBackFromSys || !unpacking_at(from) || !written(c64::kBasicProgram)) return false;
    Image basic;
    basic.load = c64::kBasicProgram;
    basic.bytes.assign(c64_.ram.begin() + c64::kBasicProgram, c64_.ram.begin() + c64::kBasicRom);
    const std::optional<SysCall> sys = first_sys_after(
        find_basic(basic), [&](std::uint32_t address) { return address < c64::kBasicRom && written(address); });
    if (!sys) return false;
    const auto target = static_cast<std::uint16_t>(sys->address);
    ran_as_basic_ = true;
    for (; fed_ < first_stores_.size(); ++fed_) ranges_.add(first_stores_[fed_]);
    const auto [first, last] = ranges_.around(target);
    keep(handed_over(target, from, first, last));
    const auto back = static_cast<std::uint16_t>(kBackFromSys - 1);  // rts adds one
    cpu_.push(static_cast<std::uint8_t>(back >> 8));
    cpu_.push(static_cast<std::uint8_t>(back & 0xff));
    cpu_.pc = target;
    return true;
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
    if (exploring_ && fed_ < first_stores_.size() && !ranges_changed_) {
        if (!ranges_at_wait_) ranges_at_wait_ = ranges_;
        ranges_changed_ = true;
    }
    for (; fed_ < first_stores_.size(); ++fed_) ranges_.add(first_stores_[fed_]);
    auto [first, last] = ranges_.around(entry);
    // Where the I/O is in view, its registers cut the range: it ends at the
    // last written byte before them, or starts at the first after them.
    const auto written = [&](std::uint32_t address) { return (c64_.ram_marks[address] & mark::Written) != 0; };
    if (entry < 0xd000 && last >= 0xd000 && !in_written_range(0xd000)) {
        last = 0xcfff;
        while (!written(last)) --last;
    }
    if (entry >= 0xe000 && first < 0xe000 && !in_written_range(0xdfff)) {
        first = 0xe000;
        while (!written(first)) ++first;
    }
    if (pending_ && entry >= pending_->start && entry <= pending_->last) return;  // the called code, further on
    const std::uint16_t from = cpu_.jumped_from();
    const std::optional<std::uint16_t> caller = pending_ ? std::nullopt : image_call_of(entry);
    if (caller) {
        // Wait and see whether it returns to the caller.
        pending_ = PendingCall{handed_over(entry, from, first, last), first, last, *caller,
                               static_cast<std::uint8_t>(cpu_.s + 2)};
        cpu_.watched = static_cast<std::uint16_t>(*caller + 3);
        return;
    }
    // A hand-over: code of the program's own outside these bytes jumped or
    // returned there. Not an interrupt, not a call (which comes back), not
    // the ROM (a KERNAL routine returning, its interrupt handler going on
    // through a vector), not the bytes' own code running on.
    if ((from >= first && from <= last) || cpu_.jumped_by_interrupt() || !in_program(from)) return;
    const std::uint8_t* page = c64_.read_page[from >> 8];
    if (page == nullptr || behaviour(page[from & 0xff]).control == Control::Call) return;
    if (looked_ >= kLookAllowance) return;
    keep(handed_over(entry, from, first, last));
}

// The program that `entry` starts, as it stands now in the written bytes
// first..last around it, with where it came from.
// Code moved to run there (copied from as far away as a whole) is the bytes
// written without a gap around the entry; what an unpacker unpacked is
// found by program_around.
WrittenCode Run::handed_over(std::uint16_t entry, std::uint16_t from, std::uint32_t first, std::uint32_t last) {
    const auto written = [&](std::uint32_t a) { return (c64_.ram_marks[a] & mark::Written) != 0; };
    std::uint32_t low = entry;
    std::uint32_t high = entry;
    while (low > first && written(low - 1)) --low;
    while (high < last && written(high + 1)) ++high;
    looked_ += high - low + 1;
    WrittenCode code{static_cast<std::uint16_t>(low), high + 1, entry, from, cpu_.cycles, {}};
    code.moved = moved(low, high + 1, entry);
    if (code.moved) return code;
    const auto [start, end] = looked_ < kLookAllowance ? program_around(entry, low, high)
                                                        : std::pair<std::uint32_t, std::uint32_t>{first, last + 1};
    code.start = static_cast<std::uint16_t>(start);
    code.end = end;
    return code;
}

// Whether nine in ten of the bytes start..end were copied from as far
// away as the one at `entry`.
bool Run::moved(std::uint32_t start, std::uint32_t end, std::uint16_t entry) const {
    const std::uint16_t* origins = c64_.ram_origins.data();
    const auto distance = static_cast<std::uint16_t>(origins[entry] - entry);
    std::uint32_t same = 0;
    for (std::uint32_t a = start; a < end; ++a) {
        if (origins[a] != kNoOrigin && static_cast<std::uint16_t>(origins[a] - a) == distance) ++same;
    }
    return distance != 0 && same * 10 >= (end - start) * 9;
}

// Where the program that an unpacker unpacked around `entry` starts and ends
// (exclusive), of the bytes low..high written without a gap around it: those
// bytes less the unpacker's work areas. The program's bytes are
// the output of the stores that wrote the entry's byte and of those whose
// bytes lie among theirs (literals, matches, runs, a cleared area filled in
// bit by bit); the unpacker's tables and the remains of its moved data
// beside them have stores of their own. The output goes on at its growing
// end while each byte was written after the one before (a run of zeros
// written last by a store of its own). From $0801 where that holds a BASIC
// program.
std::pair<std::uint32_t, std::uint32_t> Run::program_around(std::uint16_t entry, std::uint32_t low, std::uint32_t high) {
    const LastWrite* notes = c64_.last_write_notes.data();
    looked_ += (high - low + 1) * kWriterPasses;

    std::vector<std::uint16_t> writers{notes[entry].writer};
    program_writer_[writers.front()] = true;
    std::uint32_t from = entry;
    std::uint32_t to = entry;
    for (int pass = 0, grown = 1; grown && pass < kWriterPasses; ++pass) {
        grown = 0;
        std::uint32_t outer_from = from;
        std::uint32_t outer_to = to;
        for (std::uint32_t a = low; a < from; ++a) {
            if (program_writer_[notes[a].writer]) {
                outer_from = a;
                break;
            }
        }
        for (std::uint32_t a = high; a > to; --a) {
            if (program_writer_[notes[a].writer]) {
                outer_to = a;
                break;
            }
        }
        for (std::uint32_t a = outer_from; a <= outer_to; ++a) {
            if (!program_writer_[notes[a].writer]) {
                program_writer_[notes[a].writer] = true;
                writers.push_back(notes[a].writer);
                grown = 1;
            }
        }
        from = outer_from;
        to = outer_to;
    }
    for (const std::uint16_t writer : writers) program_writer_[writer] = false;

    if (notes[to].cycle >= notes[from].cycle) {
        while (to < high && notes[to + 1].cycle > notes[to].cycle) ++to;
    } else {
        while (from > low && notes[from - 1].cycle > notes[from].cycle) --from;
    }
    if (low <= c64::kBasicProgram && c64::kBasicProgram <= entry) {
        Image basic;
        basic.load = c64::kBasicProgram;
        basic.bytes.assign(c64_.ram.begin() + c64::kBasicProgram, c64_.ram.begin() + high + 1);
        const BasicProgram program = find_basic(basic);
        const bool calls = std::any_of(program.lines.begin(), program.lines.end(),
                                       [](const BasicLine& line) { return !line.sys.empty(); });
        if (calls) {
            from = c64::kBasicProgram;
            to = std::max(to, program.end - 1);
        }
    }
    return {from, to + 1};
}

// Keeps `code` (with memory as it stands now) as what was handed over when
// it lies over the entry of what was kept (the next stage of an unpacker of
// several, unpacked where the stage before lay), follows a copy with what
// is no copy (the unpacker moved into place, then what it unpacked), or is
// not much smaller than the largest so far: the last stage, not code the
// unpacked program copies to run elsewhere.
void Run::keep(WrittenCode code) {
    std::optional<WrittenCode>& kept = result_.written_code;
    const std::uint32_t size = code.end - code.start;
    const bool next_stage = kept && code.start <= kept->entry && kept->entry < code.end;
    // What an unpacker made comes after the unpacker it moved into place.
    const bool after_a_copy = kept && kept->moved && !code.moved;
    largest_ = next_stage || after_a_copy ? size : std::max(largest_, size);
    if (size < largest_ / 2) return;
    if (kept && copied_ >= kCopyAllowance && size <= (kept->end - kept->start) * 17 / 16) return;
    copied_ += size;
    code.bytes.assign(c64_.ram.begin() + code.start, c64_.ram.begin() + code.end);
    kept = std::move(code);
}

// Whether the program may be unpacking: running code it wrote itself (an
// unpacker copies itself out of the way of what it unpacks), not the
// program it handed over to. Whether it still is, the news and the signs
// of progress tell.
bool Run::unpacking() const { return unpacking_at(cpu_.pc); }

bool Run::unpacking_at(std::uint16_t pc) const {
    if (c64_.area(pc) != C64::Area::Ram || !(c64_.ram_marks[pc] & mark::Written)) return false;
    const std::optional<WrittenCode>& kept = result_.written_code;
    return !kept || kept->moved || pc < kept->start || pc >= kept->end;
}

// The jsr in the program's own code (RAM it did not write) that just
// called `entry`, if a jsr did: the return address on the stack points at
// its last byte.
std::optional<std::uint16_t> Run::image_call_of(std::uint16_t entry) const {
    const std::uint8_t s = cpu_.s;
    const auto back = static_cast<std::uint16_t>(c64_.ram[0x100 | ((s + 1) & 0xff)] | c64_.ram[0x100 | ((s + 2) & 0xff)] << 8);
    const auto call = static_cast<std::uint16_t>(back - 2);
    for (std::uint16_t a = call; a != static_cast<std::uint16_t>(call + 3); ++a) {
        if (c64_.area(a) != C64::Area::Ram || (c64_.ram_marks[a] & mark::Written)) return std::nullopt;
    }
    if (behaviour(c64_.ram[call]).control != Control::Call) return std::nullopt;
    if ((c64_.ram[call + 1] | c64_.ram[(call + 2) & 0xffff] << 8) != entry) return std::nullopt;
    return call;
}

// A jump, call or return led right after the jsr that called written code:
// back at the caller's level, the code was generated code.
void Run::watched() {
    if (!pending_ || cpu_.s != pending_->stack) return;
    const GeneratedCode generated{static_cast<std::uint16_t>(pending_->start), pending_->last + 1, pending_->code.entry,
                                  pending_->caller};
    // Code generated again (each frame, say) is noted once.
    const auto same = [&](const GeneratedCode& g) {
        return g.start == generated.start && g.end == generated.end && g.entry == generated.entry && g.caller == generated.caller;
    };
    if (std::none_of(result_.generated_code.begin(), result_.generated_code.end(), same)) {
        result_.generated_code.push_back(generated);
    }
    pending_.reset();
    cpu_.watched = Cpu6510::kNotWatched;
}

// The program is waiting. Without interrupts, an interrupt handler it was
// in returns to the main program; the lowest address in RAM the waiting
// loop then runs names it.
RunEnd Run::settle() {
    c64_.silence();
    // Within the budget, as all of the run, with room left for the look.
    const std::uint64_t settled = std::min(cpu_.cycles + kSettleCycles, cpu_.cycles + (budget_ - cpu_.cycles) / 2);
    // The loop is named by where its branches and jumps back lead (the
    // lowest such place: an inner loop lies inside the outer one), else by
    // the lowest address it runs in RAM.
    std::uint32_t lowest = 0x10000;
    std::uint32_t lowest_back = 0x10000;
    for (int seen = 0; seen < kLoopInstructions && cpu_.cycles < budget_;) {
        const bool looking = cpu_.cycles >= settled;
        const std::uint16_t at = cpu_.pc;
        if (looking) {
            ++seen;
            if (in_program(at)) lowest = std::min<std::uint32_t>(lowest, at);
        }
        const Cpu6510::Stop stop = cpu_.run(looking ? cpu_.cycles + 1 : settled, false);
        if (stop == Cpu6510::Stop::Watched) watched();
        if (stop == Cpu6510::Stop::Halted) {
            if (const std::optional<RunEnd> end = halted()) {
                result_.end_address = cpu_.pc;
                if (*end == RunEnd::Halted && cpu_.in_interrupt()) result_.halted_in_interrupt_since = cpu_.interrupted_at;
                return *end;
            }
        }
        if (looking && cpu_.pc < at && in_program(cpu_.pc)) {
            const Flow flow = flow_of(cpu_.read(at));
            if (flow == Flow::Branch || flow == Flow::Jump) lowest_back = std::min<std::uint32_t>(lowest_back, cpu_.pc);
        }
    }
    if (lowest_back <= 0xffff) lowest = lowest_back;
    result_.end_address = lowest <= 0xffff ? static_cast<std::uint16_t>(lowest) : cpu_.pc;
    return RunEnd::Waited;
}

// The jsr instructions that ran and whose return addresses lie on the
// stack now: a pair of bytes that points at the last byte of one.
std::vector<std::uint16_t> Run::calls_on_stack() const {
    std::vector<std::uint16_t> calls;
    for (unsigned at = cpu_.s + 1u; at + 1 <= 0xff; ++at) {
        const auto back = static_cast<std::uint16_t>(c64_.ram[0x100 + at] | c64_.ram[0x100 + at + 1] << 8);
        const auto call = static_cast<std::uint16_t>(back - 2);
        const bool ran = (c64_.ram_marks[call] & (mark::Ran | mark::RanWritten)) != 0;
        // Read without the CPU: reading the chips' registers would change them.
        const std::uint8_t* page = c64_.read_page[call >> 8];
        if (ran && page != nullptr && behaviour(page[call & 0xff]).control == Control::Call) {
            calls.push_back(call);
            ++at;
        }
    }
    return calls;
}

}  // namespace

RunResult run_program(const Image& image, std::uint16_t entry, const RunOptions& options) {
    const auto c64 = std::make_unique<C64>();
    c64->load(image, entry);
    return Run(*c64, options).go();
}

}  // namespace tolvek
