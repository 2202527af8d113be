#include "analysis/execution.hpp"

#include <algorithm>
#include <cstring>
#include <map>
#include <optional>
#include <set>
#include <span>
#include <utility>
#include <vector>

#include "analysis/image_search.hpp"
#include "analysis/trace.hpp"
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
// start, and not from the entry when that names its header.
std::vector<std::uint16_t> run_entries(const MemoryMap& map) {
    std::vector<std::uint16_t> entries;
    const auto& cartridge = map.start.cartridge;
    if (cartridge && map.image().contains(cartridge->cold)) entries.push_back(static_cast<std::uint16_t>(cartridge->cold));
    const bool in_header = cartridge && map.start.entry >= c64::kCartridgeRom && map.start.entry < c64::kCartridgeHeaderEnd;
    const auto entry = static_cast<std::uint16_t>(map.start.entry);
    if (map.start.entry_in_image && !map.start.entry_in_basic && !in_header &&
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
        bool unknown = true;
        for (std::uint32_t b = a; b < a + length; ++b) unknown = unknown && map.kind(b) == Kind::Unknown;
        // An instruction found before (from the same opcode byte, so of the
        // same length) is now known to have run.
        if (!unknown && map.kind(a) != Kind::Opcode) continue;  // ran, but the bytes hold something else: one reading only
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
            for (const GeneratedCode& generated : run.generated_code) {
                if (a >= generated.start && a < generated.end) code.called_from = generated.caller;
            }
            map.run.copied_code.push_back(code);
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

}  // namespace

void find_code_by_running(MemoryMap& map, const RunOptions& options) {
    const Image& image = map.image();
    std::vector<std::uint32_t> branches;
    // The budget is for all runs together: eight entries may not take
    // eight times as long. The entry given runs first.
    std::uint64_t spent = 0;
    CopySearch copies(image);
    for (const std::uint16_t entry : run_entries(map)) {
        if (spent >= options.budget) break;
        RunOptions left = options;
        left.budget = options.budget - spent;
        const RunResult run = run_program(image, entry, left);
        spent += run.cycles;
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
        map.run.runs.push_back({entry, run.end, run.end_address, run.cycles, std::move(doubted)});
        find_copied_code(map, run, copies);
        if (run.written_code &&
            (!map.run.unpacked || run.written_code->end - run.written_code->start > map.run.unpacked->end - map.run.unpacked->start)) {
            map.run.unpacked = run.written_code;
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
    // The ways branches did not take are traced as from any entry; not a
    // way that ran on to a halt in data.
    std::set<std::uint32_t> doubted;
    for (const ProgramRun& run : map.run.runs) doubted.insert(run.doubted.begin(), run.doubted.end());
    for (const std::uint32_t branch : branches) {
        for (const std::uint32_t next : {branch + 2, operand_of(image, branch)}) {
            if (image.contains(next) && map.kind(next) == Kind::Unknown && !doubted.contains(next)) {
                trace_from(map, next, Source::Trace);
            }
        }
    }
}

}  // namespace tolvek
