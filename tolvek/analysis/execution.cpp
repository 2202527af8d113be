#include "analysis/execution.hpp"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <map>
#include <optional>
#include <set>
#include <span>
#include <utility>
#include <vector>

#include "analysis/image_search.hpp"
#include "analysis/inline_data.hpp"
#include "analysis/pointer_tables.hpp"
#include "analysis/trace.hpp"
#include "analysis/vectors.hpp"
#include "c64/symbols.hpp"
#include "cpu/decode.hpp"
#include "emu/c64.hpp"
#include "emu/cpu6510.hpp"

namespace tolvek {
namespace {

// At most so many runs: the entry and the first SYS entries.
constexpr std::size_t kMaxRuns = 8;

// The entries to run from: the entry given, when it lies in the image after
// the BASIC program, and the SYS entries. A cartridge runs from its cold
// start, the KERNAL's ROM from its reset vector, and neither from the entry
// when that names their header.
std::vector<std::uint16_t> run_entries(const MemoryMap& map) {
    std::vector<std::uint16_t> entries;
    const Image& image = map.image();
    const auto& cartridge = map.start.cartridge;
    if (cartridge && image.contains(cartridge->cold)) entries.push_back(static_cast<std::uint16_t>(cartridge->cold));
    if (map.start.rom.kernal) entries.push_back(static_cast<std::uint16_t>(image.word(c64::kResetVector)));
    const bool entry_in_header = map.start.in_header(map.start.entry);
    const auto entry = static_cast<std::uint16_t>(map.start.entry);
    if (map.start.entry_in_image && !map.start.entry_in_basic && !entry_in_header && !map.start.run_from_sys &&
        std::find(entries.begin(), entries.end(), entry) == entries.end()) {
        entries.push_back(entry);
    }
    for (const SysEntry& sys : map.start.sys_entries) {
        const auto address = static_cast<std::uint16_t>(sys.address);
        if (std::find(entries.begin(), entries.end(), address) == entries.end()) entries.push_back(address);
    }
    if (entries.size() > kMaxRuns) entries.resize(kMaxRuns);
    return entries;
}

// Whether the map's CPU has the opcode at `address` (as the trace decides).
bool is_cpu_opcode(const MemoryMap& map, std::uint32_t address) {
    const Image& image = map.image();
    return opcode(image.at(address)).documented() || (map.undocumented_opcodes && has_mnemonic(image, address));
}

// How long before the next instruction of the image first ran one that
// leads there first ran, at most, to count as run just before it: a frame
// leaves room for the interrupt handlers that may come in between.
constexpr std::uint64_t kJustBefore = pal::kFrameCycles;

// What a run that halted in RAM ran just before the halt (analysis of the
// run's marks and first-run cycles).
class HaltedRun {
public:
    HaltedRun(const MemoryMap& map, const RunResult& run) : map_(map), image_(map.image()), run_(run) {
        for (std::uint32_t a = image_.load; a < image_.end(); ++a) {
            if (!ran(a) || a + instruction_length(image_.at(a)) > image_.end()) continue;
            if (const std::optional<std::uint32_t> target = target_of(image_, a)) jumps_to_[*target].push_back(a);
            // What code that ran long before, or that is known, names as data.
            if ((map_.kind(a) == Kind::Opcode || first_ran(a) + kJustBefore < run_.cycles) &&
                uses_memory(image_.at(a)) && instruction_length(image_.at(a)) == 3) {
                named_.insert(operand_of(image_, a));
            }
        }
    }

    // The instructions that lead to the halt (falling through, or a
    // branch, jmp or jsr), back as long as each first ran shortly before
    // the one it leads to, and, inside an interrupt handler, since the CPU
    // left the main program for it; not past the start of data that code
    // names (what ran into it is the code before the data), nor past
    // instructions known as code. In address order.
    std::vector<std::uint32_t> stretch() const {
        std::set<std::uint32_t> doubted;
        std::vector<std::uint32_t> work{run_.end_address};
        while (!work.empty()) {
            const std::uint32_t b = work.back();
            work.pop_back();
            for (const std::uint32_t a : leading_to(b)) {
                if (!unconfirmed(a) || first_ran(a) > first_ran(b) || first_ran(b) - first_ran(a) > kJustBefore) continue;
                if (run_.halted_in_interrupt_since && first_ran(a) < *run_.halted_in_interrupt_since) continue;
                if (doubted.insert(a).second) work.push_back(a);
            }
        }
        return {doubted.begin(), doubted.end()};
    }

private:
    bool ran(std::uint32_t a) const { return (run_.marks[a] & mark::Ran) != 0; }

    // When the instruction at `a` first ran; the halt, when the run ended.
    std::uint64_t first_ran(std::uint32_t a) const {
        return a == run_.end_address ? run_.cycles : run_.first_ran[a & 0xffff];
    }

    // Ran from the image's bytes, which nothing else found as code.
    bool unconfirmed(std::uint32_t a) const {
        return image_.contains(a) && ran(a) && map_.kind(a) != Kind::Opcode && first_ran(a) != kNotRan;
    }

    // The instructions that ran and may have led to `b`.
    std::vector<std::uint32_t> leading_to(std::uint32_t b) const {
        std::vector<std::uint32_t> before;
        for (std::uint32_t length = 1; length <= 3 && b >= length && !named_.contains(b); ++length) {
            const std::uint32_t a = b - length;
            if (!image_.contains(a) || !ran(a) || instruction_length(image_.at(a)) != length) continue;
            const Flow flow = flow_of(image_.at(a));
            if (flow == Flow::Next || flow == Flow::Branch || flow == Flow::Call) before.push_back(a);
        }
        if (const auto it = jumps_to_.find(b); it != jumps_to_.end()) before.insert(before.end(), it->second.begin(), it->second.end());
        return before;
    }

    const MemoryMap& map_;
    const Image& image_;
    const RunResult& run_;
    std::map<std::uint32_t, std::vector<std::uint32_t>> jumps_to_;  // by target: the branches, jmps, jsrs that ran
    std::set<std::uint32_t> named_;
};

// The instructions of the image that a run which halted in RAM ran just
// before the halt, and that nothing else found (their bytes are not known
// code: the trace, the hints or an earlier run did not find them). Such a
// run went wrong: an interrupt came later than on a C64 and the code ran
// on into data, say. In address order.
std::vector<std::uint32_t> doubted_code(const MemoryMap& map, const RunResult& run) {
    if (run.end != RunEnd::Halted) return {};
    return HaltedRun(map, run).stretch();
}

// Whether nothing claimed the `length` bytes from `at` yet.
bool unclaimed(const MemoryMap& map, std::uint32_t at, std::uint32_t length) {
    for (std::uint32_t b = at; b < at + length; ++b) {
        if (map.kind(b) != Kind::Unknown) return false;
    }
    return true;
}

// Enters the instructions that ran from the image's bytes: where nothing
// claimed their bytes yet, or where the trace found the same instruction;
// not those `doubted` (in address order). Returns the branches among them,
// whose other way may not have run.
std::vector<std::uint32_t> enter_ran_code(MemoryMap& map, const std::vector<std::uint8_t>& marks,
                                          const std::vector<std::uint32_t>& doubted) {
    const Image& image = map.image();
    std::vector<std::uint32_t> branches;
    for (std::uint32_t a = image.load; a < image.end(); ++a) {
        if (!(marks[a] & mark::Ran) || std::binary_search(doubted.begin(), doubted.end(), a)) continue;
        const std::uint32_t length = instruction_length(image.at(a));
        if (a + length > image.end() || !is_cpu_opcode(map, a)) continue;
        // An instruction found before (from the same opcode byte, so of the
        // same length) is now known to have run.
        if (!unclaimed(map, a, length) && map.kind(a) != Kind::Opcode) continue;  // ran, but the bytes hold something else: one reading only
        map.set_instruction(a, length, Source::Run);
        if (flow_of(image.at(a)) == Flow::Branch) branches.push_back(a);
    }
    return branches;
}

// Looks for copies of code in the image; built on the first look, as most
// programs copy nothing.
class CopySearch {
public:
    explicit CopySearch(const Image& image) : image_(image) {}

    // Where `bytes` lie in the image at another address than `address`, if
    // they do: the lowest place they occur, unless that is `address` itself.
    std::optional<std::uint32_t> find(std::uint32_t address, std::span<const std::uint8_t> bytes) {
        if (bytes.size() < 4 || bytes.size() > image_.bytes.size()) return std::nullopt;
        if (!search_) search_.emplace(image_.bytes);
        const std::optional<std::uint32_t> offset = search_->first(bytes);
        if (!offset) return std::nullopt;
        const std::uint32_t from = image_.load + *offset;
        return from == address ? std::nullopt : std::optional<std::uint32_t>(from);
    }

private:
    const Image& image_;
    std::optional<ImageSearch> search_;
};

// Stretches of written code that ran this close belong to one copy.
constexpr std::uint32_t kStretchesApart = 8;

// Whether the instructions that ran from the written bytes at
// start..end have their opcodes at `from` on in the image (their operands
// may be patched since).
bool same_opcodes(const MemoryMap& map, const RunResult& run, std::uint32_t start, std::uint32_t end, std::uint32_t from) {
    const Image& image = map.image();
    if (!image.contains(from) || !image.contains(from + (end - start) - 1)) return false;
    for (std::uint32_t r = start; r < end; ++r) {
        if ((run.marks[r] & mark::RanWritten) && image.at(from + (r - start)) != run.memory[r]) return false;
    }
    return true;
}

// Where a stretch of written code that is no copy of image bytes lies in
// the image, when it continues a copied stretch just before it whose
// operands the program patched since (CHRGET's pointer).
std::optional<std::uint32_t> continued_copy(const MemoryMap& map, const RunResult& run, std::uint32_t start,
                                            std::uint32_t end) {
    if (map.run.copied_code.empty()) return std::nullopt;
    const CopiedCode& before = map.run.copied_code.back();
    if (!before.from || before.end > start || start - before.end > kStretchesApart) return std::nullopt;
    const std::uint32_t from = *before.from + (start - before.start);
    if (!same_opcodes(map, run, start, end, from)) return std::nullopt;
    return from;
}

// Enters the instructions that ran from a copy of image bytes at their
// place in the image. In a copy into zero page (as BASIC copies CHRGET)
// the ways its branches did not take are traced too: its jumps lead out of
// the image, not to the image's bytes at the copy's addresses.
void enter_copied_code(MemoryMap& map, const RunResult& run, const CopiedCode& code) {
    const Image& image = map.image();
    const std::uint32_t from = *code.from;
    std::vector<std::uint32_t> branches;
    for (std::uint32_t r = code.start; r < code.end; ++r) {
        if (!(run.marks[r] & mark::RanWritten)) continue;
        const std::uint32_t at = from + (r - code.start);
        const std::uint32_t length = instruction_length(image.at(at));
        if (!image.contains(at + length - 1) || image.at(at) != run.memory[r] || !is_cpu_opcode(map, at) ||
            !unclaimed(map, at, length)) {
            continue;
        }
        map.set_instruction(at, length, Source::Run);
        if (flow_of(image.at(at)) == Flow::Branch) branches.push_back(at);
    }
    if (code.end > 0x100) return;
    for (const std::uint32_t branch : branches) {
        for (const std::uint32_t way : {branch + 2, operand_of(image, branch)}) {
            // Within the copy, or the few bytes before the next stretch that ran.
            if (way >= from && way < from + (code.end - code.start) + kStretchesApart && map.kind(way) == Kind::Unknown) {
                trace_from(map, way, Source::Trace);
            }
        }
    }
}

// The stretches of RAM where code that the program wrote ran, each with
// the image bytes it copies, if it does, and the call it returned to, if
// it was called and returned.
void find_copied_code(MemoryMap& map, const RunResult& run, CopySearch& copies) {
    std::set<std::pair<std::uint32_t, std::uint32_t>> seen;
    for (const CopiedCode& code : map.run.copied_code) seen.emplace(code.start, code.end);
    std::uint32_t a = 0;
    while (a < 0x10000) {
        if (!(run.marks[a] & mark::RanWritten)) {
            ++a;
            continue;
        }
        // Instructions a few bytes apart belong together.
        std::uint32_t end = a + 1;
        for (std::uint32_t b = a + 1; b < 0x10000 && b < end + 3; ++b) {
            if (run.marks[b] & mark::RanWritten) end = b + 1;
        }
        end = std::min<std::uint32_t>(end + instruction_length(run.memory[end - 1]) - 1, 0x10000);
        // Where the bytes came from: the same bytes in the image, elsewhere.
        if (seen.emplace(a, end).second) {
            const std::span<const std::uint8_t> bytes(run.memory.data() + a, end - a);
            CopiedCode code{static_cast<std::uint16_t>(a), end, copies.find(a, bytes), std::nullopt};
            if (!code.from) code.from = continued_copy(map, run, a, end);
            for (const GeneratedCode& generated : run.generated_code) {
                if (a >= generated.start && a < generated.end) code.called_from = generated.caller;
            }
            map.run.copied_code.push_back(code);
            if (code.from) enter_copied_code(map, run, code);
        }
        a = end;
    }
}

// A store that fills or copies a block (clearing variables that lie over
// start-up code that has run, say) is no patch: more than so many bytes.
constexpr std::uint32_t kMostPatchedByOne = 16;

// The code bytes the program stores into: operands it patches, mostly;
// not by the instructions `doubted`.
void note_patched_code(MemoryMap& map, const RunResult& run, const std::vector<std::uint32_t>& doubted) {
    const Image& image = map.image();
    std::map<std::uint16_t, std::uint32_t> stored_by;  // bytes each instruction stored into first
    for (std::uint32_t a = image.load; a < image.end(); ++a) {
        if (run.marks[a] & mark::Written) ++stored_by[run.first_writer[a]];
    }
    for (std::uint32_t a = image.load; a < image.end(); ++a) {
        if (!is_instruction(map.kind(a)) || !(run.marks[a] & mark::Written) || map.run.patched_code.contains(a)) continue;
        const std::uint16_t writer = run.first_writer[a];
        if (std::binary_search(doubted.begin(), doubted.end(), writer)) continue;
        if (stored_by[writer] <= kMostPatchedByOne) map.run.patched_code.emplace(a, writer);
    }
}

// What a run left that tells where copied addresses lead: where each RAM
// byte it stored came from, and the memory as it stood.
struct LeftByRun {
    std::vector<std::uint16_t> origins;
    std::vector<std::uint8_t> memory;
};

// Enters a code address that a run made of the image bytes at `low` and
// `high`, when they are still what the program copied: they make `target`.
void add_copied(const Image& image, std::uint32_t low, std::uint32_t high, std::uint32_t target, std::uint32_t adjust,
                std::vector<CopiedAddress>& into) {
    if (!image.contains(low) || !image.contains(high)) return;
    if (((image.word_of(low, high) + adjust) & 0xffff) != target) return;
    into.push_back({low, high, adjust});
}

// The code addresses that known code's jmp (p), jmp and jsr would take from
// the pointer or operand a run left, made of image bytes it copied.
void copied_addresses_left(const MemoryMap& map, const LeftByRun& run, std::vector<CopiedAddress>& into) {
    const Image& image = map.image();
    for (std::uint32_t a = image.load; a + 2 < image.end(); ++a) {
        if (map.kind(a) != Kind::Opcode) continue;
        const std::uint8_t byte = image.at(a);
        std::uint32_t low = 0;
        std::uint32_t high = 0;
        if (behaviour(byte).control == Control::JumpIndirect) {
            // Zero page pointers serve many ends: what one held last says
            // little about a jump that did not run.
            low = operand_of(image, a);
            if (low < 0x100) continue;
            high = (low & 0xff00) | ((low + 1) & 0xff);  // the 6502 stays in the page
        } else if (jumps_to_operand(byte)) {
            low = a + 1;
            high = a + 2;
        } else {
            continue;
        }
        const std::uint32_t from_low = run.origins[low];
        const std::uint32_t from_high = run.origins[high];
        // Unwritten (their own origin) or computed: no copy.
        if (from_low == low || from_high == high || from_low == kNoOrigin || from_high == kNoOrigin) continue;
        add_copied(image, from_low, from_high, static_cast<std::uint32_t>(run.memory[low] | run.memory[high] << 8), 0, into);
    }
}

// The vectors the run stored into and left pointing at bytes of the image
// that it did not store into: the handlers it installed last.
void note_vectors_left(MemoryMap& map, const RunResult& run) {
    std::vector<std::uint32_t> vectors{c64::kNmiVector, c64::kIrqVector};
    for (std::uint32_t at = c64::kRamVectors; at < c64::kRamVectorsEnd; at += 2) vectors.push_back(at);
    for (const std::uint32_t vector : vectors) {
        if (!is_handler_vector(vector)) continue;
        if (((run.marks[vector] | run.marks[vector + 1]) & mark::Written) == 0) continue;
        const auto handler = static_cast<std::uint32_t>(run.memory[vector] | run.memory[vector + 1] << 8);
        if (!map.image().contains(handler) || (run.marks[handler] & mark::Written) != 0) continue;
        const InstalledHandler left{static_cast<std::uint16_t>(vector), handler};
        auto& all = map.run.vectors_left;
        if (std::find(all.begin(), all.end(), left) == all.end()) all.push_back(left);
    }
}

}  // namespace

void find_code_by_running(MemoryMap& map, const RunOptions& options) {
    const Image& image = map.image();
    std::vector<std::uint32_t> branches;
    // The budget is for all runs together: eight entries may not take
    // eight times as long. The entry given runs first.
    std::uint64_t spent = 0;
    CopySearch copies(image);
    std::vector<CopiedAddress> copied_addresses;
    std::vector<LeftByRun> what_runs_left;
    std::vector<std::uint32_t> calls_not_returned;
    for (const std::uint16_t entry : run_entries(map)) {
        if (spent >= options.budget) break;
        RunOptions left = options;
        left.budget = options.budget - spent;
        left.ceiling = options.ceiling - std::min(options.ceiling, spent);
        RunResult run = run_program(image, entry, left);
        spent += run.cycles + run.input_cycles;
        map.run.inputs.insert(map.run.inputs.end(), run.inputs.begin(), run.inputs.end());
        std::vector<std::uint32_t> doubted = doubted_code(map, run);
        map.run.calls_without_stand_in.insert(run.calls_without_stand_in.begin(), run.calls_without_stand_in.end());
        const std::vector<std::uint32_t> found = enter_ran_code(map, run.marks, doubted);
        branches.insert(branches.end(), found.begin(), found.end());
        note_patched_code(map, run, doubted);
        for (std::uint32_t a = image.load; a < image.end(); ++a) {
            if ((run.marks[a] & (mark::Entered | mark::Ran)) == (mark::Entered | mark::Ran) &&
                !std::binary_search(doubted.begin(), doubted.end(), a)) {
                map.run.entered.push_back(a);
            }
        }
        map.run.runs.push_back(
            {entry, run.end, run.end_address, run.cycles, run.budget_grown, run.ceiling_reached, std::move(doubted)});
        find_copied_code(map, run, copies);
        calls_not_returned.insert(calls_not_returned.end(), run.calls_not_returned.begin(), run.calls_not_returned.end());
        map.run.pointers_used.insert(map.run.pointers_used.end(), run.data_pointers.begin(), run.data_pointers.end());
        map.run.written.resize(0x10000, false);
        for (std::uint32_t a = 0; a < 0x10000; ++a) {
            if (run.marks[a] & mark::Written) map.run.written[a] = true;
        }
        for (const CopiedPointer& jumped : run.copied_pointers) {
            add_copied(image, jumped.low_from, jumped.high_from, jumped.target, jumped.adjust, copied_addresses);
        }
        note_vectors_left(map, run);
        std::move(run.vic_samples.begin(), run.vic_samples.end(), std::back_inserter(map.run.vic_samples));
        what_runs_left.push_back({std::move(run.origins), std::move(run.memory)});
        // A run that went on into bytes it wrote and halted there ran into
        // data: nothing was unpacked.
        if (const WrittenCode* written = run.written_code ? &*run.written_code : nullptr) {
            const bool ran_into_data =
                run.end == RunEnd::Halted && run.end_address >= written->start && run.end_address < written->end;
            // A few bytes are code the program patched where it runs them.
            const bool patched = written->end - written->start < kSmallestProgram;
            if (!ran_into_data && !patched &&
                (!map.run.unpacked || written->end - written->start > map.run.unpacked->end - map.run.unpacked->start)) {
                map.run.unpacked = *written;
            }
        }
    }
    std::sort(map.run.entered.begin(), map.run.entered.end());
    map.run.entered.erase(std::unique(map.run.entered.begin(), map.run.entered.end()), map.run.entered.end());
    // A short copy of the image's own bytes is code copied to run elsewhere,
    // not a program unpacked (which a program moving itself down is).
    if (map.run.unpacked) {
        map.run.unpacked_from = copies.find(map.run.unpacked->start, map.run.unpacked->bytes);
        if (map.run.unpacked_from && map.run.unpacked->bytes.size() < kSmallestUnpacked) {
            map.run.unpacked.reset();
            map.run.unpacked_from.reset();
        }
    }
    // The ways branches did not take are traced as from any entry (not a
    // way that ran on to a halt in data), and what follows a call that had
    // not returned when the run ended (a program waiting for a key inside a
    // KERNAL call), unless the routine called may take data from behind its
    // calls.
    std::set<std::uint32_t> doubted;
    for (const ProgramRun& run : map.run.runs) doubted.insert(run.doubted.begin(), run.doubted.end());
    for (const std::uint32_t branch : branches) {
        for (const std::uint32_t way : {branch + 2, operand_of(image, branch)}) {
            if (image.contains(way) && map.kind(way) == Kind::Unknown && !doubted.contains(way)) {
                trace_from(map, way, Source::Trace);
            }
        }
    }
    for (const std::uint32_t call : calls_not_returned) {
        if (!map.is_opcode(call) || may_take_inline_data(image, operand_of(image, call))) continue;
        if (image.contains(call + 3) && map.kind(call + 3) == Kind::Unknown) trace_from(map, call + 3, Source::Trace);
    }
    // Addresses the program made of bytes it copied: where it jumped, and
    // where the jumps of the code known now (the branches' other ways too)
    // would go.
    for (const LeftByRun& run : what_runs_left) copied_addresses_left(map, run, copied_addresses);
    follow_copied_addresses(map, copied_addresses);
}

}  // namespace tolvek
