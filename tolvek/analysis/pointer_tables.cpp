#include "analysis/pointer_tables.hpp"

#include <algorithm>
#include <array>
#include <optional>
#include <vector>

#include "analysis/io_banking.hpp"
#include "analysis/trace.hpp"
#include "cpu/behaviour.hpp"
#include "cpu/decode.hpp"

namespace tolvek {
namespace {

// How far apart the two loads of one entry may be.
constexpr std::uint32_t kLoadsApart = 4;
// The largest record of a table of records that is looked for.
constexpr std::uint32_t kMaxRecord = 16;

// lda, ldx or ldy with an absolute indexed address: the index register
// (reg::X or reg::Y), or 0.
std::uint8_t indexed_load(const Image& image, std::uint32_t address) {
    const std::uint8_t byte = image.at(address);
    if (loaded_register(byte) == 0) return 0;
    switch (opcode(byte).mode) {
    case Mode::AbsoluteX: return reg::X;
    case Mode::AbsoluteY: return reg::Y;
    default: return 0;
    }
}

// Finds the tables of addresses that known code reads, and the code their
// entries lead to.
class PointerTableFinder {
public:
    PointerTableFinder(MemoryMap& map, const std::vector<AddressPair>& pairs)
        : map_(map), image_(map.image()), referenced_(image_.bytes.size(), false) {
        // A table ends where code refers to something else: its own label.
        const std::vector<Kind>& kinds = map_.kinds();
        for (std::size_t i = next_opcode(kinds, 0); i < kinds.size(); i = next_opcode(kinds, i + 1)) {
            const std::uint32_t a = image_.load + static_cast<std::uint32_t>(i);
            if (length_of(opcode(image_.at(a)).mode) != 3) continue;
            refer(operand_of(image_, a));
        }
        for (const AddressPair& pair : pairs) refer(pair.value);
        // And where a run used a pointer it read from the image.
        for (const CopiedPointer& used : map.run.pointers_used) refer(used.target);
    }

    bool found() const { return found_; }

    // Pointer tables, or (`jumps`) the rts trick's tables only.
    void from_loads(bool jumps) {
        const std::vector<Kind>& kinds = map_.kinds();
        for (std::size_t i = next_opcode(kinds, 0); i < kinds.size(); i = next_opcode(kinds, i + 1)) {
            const std::uint32_t a = image_.load + static_cast<std::uint32_t>(i);
            const std::uint8_t index = indexed_load(image_, a);
            if (index == 0) continue;
            const std::uint32_t first = operand_of(image_, a);
            std::uint32_t b = a + instruction_length(image_.at(a));
            for (std::uint32_t n = 0; n < kLoadsApart && image_.contains(b) && map_.kind(b) == Kind::Opcode; ++n) {
                if (indexed_load(image_, b) == index && !to_hardware(a) && !to_hardware(b)) {
                    const std::uint32_t second = operand_of(image_, b);
                    // lda t+1,x / pha / lda t,x / pha: addresses minus one
                    // for an rts to jump to, high byte pushed first.
                    if (first == second + 1 && pushed(a) && pushed(b)) {
                        if (jumps) found_ = jump_table_at(second) || found_;
                        break;
                    }
                    if (jumps) break;
                    if (second == first + 1) table_of_records_at(first, false);
                    if (first == second + 1) table_of_records_at(second, false);
                    // lda lo,x / sta p / lda hi,x / sta p+1: split tables.
                    const auto p = stored_to(a);
                    const auto q = stored_to(b);
                    if (p && q && *q == *p + 1) split_table_at(first, second, 2);
                    if (p && q && *p == *q + 1) split_table_at(second, first, 2);
                    // lda lo,x / ldy hi,x / jsr STROUT: handed to a routine
                    // that takes an address in those registers.
                    const Use u = use_of(a);
                    const Use v = use_of(b);
                    if (u.what == Use::What::Call && v.what == Use::What::Call && u.at == v.at) {
                        const std::uint8_t ra = loaded_register(image_.at(a));
                        const std::uint8_t rb = loaded_register(image_.at(b));
                        if (takes_address_in(u.address, ra, rb)) split_table_at(first, second, 2);
                        if (takes_address_in(u.address, rb, ra)) split_table_at(second, first, 2);
                    }
                }
                if (flow_of(image_.at(b)) != Flow::Next) break;
                b += instruction_length(image_.at(b));
            }
        }
    }

    // Tables of code addresses that code jumps through, other than the rts
    // trick's interleaved ones (from_loads): split tables of addresses minus
    // one, pushed high half first for an rts; and tables of addresses, split
    // or not, read into the pointer of a jmp (p) or into the operand of a
    // jmp or jsr. A single address read that way counts as a table of one.
    void jumps_through_tables() {
        std::vector<Load> loads;
        const std::vector<Kind>& kinds = map_.kinds();
        for (std::size_t i = next_opcode(kinds, 0); i + 3 <= image_.bytes.size(); i = next_opcode(kinds, i + 1)) {
            const std::uint8_t byte = image_.bytes[i];
            // lda, ldx, ldy absolute, and indexed (indexed_load).
            if (loaded_register(byte) == 0 || instruction_length(byte) != 3) continue;
            const std::uint32_t a = image_.load + static_cast<std::uint32_t>(i);
            loads.push_back({a, operand_of(image_, a), indexed_load(image_, a), use_of(a)});
        }
        for (std::size_t i = 0; i < loads.size(); ++i) {
            for (std::size_t j = i + 1; j < loads.size() && loads[j].at - loads[i].at <= kPairApart; ++j) {
                pair_loads(loads[i], loads[j]);
            }
        }
    }

    void from_copies(const std::vector<CopiedAddress>& addresses) {
        for (const CopiedAddress& copied : addresses) {
            if (jump_table_at(copied.low, copied.high, false, copied.adjust)) {
                found_ = true;
                continue;
            }
            // Halves that are something else already (the immediates of
            // lda #<x / sta v / lda #>x / sta v+1): the address is code all the same.
            const std::uint32_t target = (image_.word_of(copied.low, copied.high) + copied.adjust) & 0xffff;
            if (image_.contains(target) && map_.kind(target) == Kind::Unknown && code_target(target)) {
                trace_from(map_, target, Source::Trace);
                found_ = true;
            }
        }
    }

    void from_sums(const std::vector<AddressPair>& pairs) {
        for (const AddressPair& pair : pairs) {
            if (!pair.sum) continue;
            table_of_records_at(pair.value, true);
        }
    }

private:
    // Where the value that a load gets goes: stored (at `address`, indexed
    // or not), or pushed; by the instruction at `at`.
    struct Use {
        enum class What : std::uint8_t { None, Store, Push, Call } what = What::None;  // Call: `address` is the routine
        std::uint32_t address = 0;
        std::uint32_t at = 0;
        bool indexed = false;
    };

    struct Load {
        std::uint32_t at;       // the load instruction
        std::uint32_t from;     // its operand: the table, or a half of it
        std::uint8_t index;     // reg::X, reg::Y, or 0 for a single address
        Use use;
    };

    // How far apart the two loads of a jump through a table may be, in bytes.
    static constexpr std::uint32_t kPairApart = 16;

    // Follows the register that the load at `load` fills through the next
    // few instructions (the fall-through of branches too) to where it is
    // stored or pushed, until something else changes it.
    Use use_of(std::uint32_t load) const {
        const std::uint8_t loaded = loaded_register(image_.at(load));
        std::uint32_t b = load + 3;
        for (int n = 0; n < 4 && image_.contains(b) && map_.kind(b) == Kind::Opcode; ++n) {
            const std::uint8_t byte = image_.at(b);
            const Opcode& op = opcode(byte);
            const Flow flow = flow_of(byte);
            if (!op.documented() || (flow != Flow::Next && flow != Flow::Branch && flow != Flow::Call)) break;
            // Stored to an absolute address (indexed or not) or a zero page one.
            if (stored_register(byte) == loaded && (length_of(op.mode) == 3 || op.mode == Mode::ZeroPage)) {
                return {Use::What::Store, operand_of(image_, b), b, is_absolute_indexed(op.mode)};
            }
            if (loaded == reg::A && pushes_accumulator(byte)) return {Use::What::Push, 0, b, false};
            if (flow == Flow::Call) return {Use::What::Call, operand_of(image_, b), b, false};
            if ((behaviour(byte).writes & loaded) != 0) break;
            b += instruction_length(byte);
        }
        return {};
    }

    // Two loads from tables with the same index (or two single loads) whose
    // values make a code address.
    void pair_loads(const Load& first, const Load& second) {
        if (first.index != second.index) return;
        const Use& u = first.use;
        const Use& v = second.use;
        if (u.what == Use::What::Store && v.what == Use::What::Store && u.indexed == v.indexed) {
            const bool first_low = v.address == u.address + 1;
            if (!first_low && u.address != v.address + 1) return;
            const Load& low = first_low ? first : second;
            const Load& high = first_low ? second : first;
            if (!jumps_through(low.use.address, std::max(u.at, v.at))) return;
            found_ = jump_table_at(low.from, high.from, first.index != 0, 0) || found_;
        } else if (u.what == Use::What::Push && v.what == Use::What::Push && first.index != 0 &&
                   first.from != second.from + 1 && returns_after(v.at)) {
            // The high half is pushed first; interleaved tables
            // (first.from == second.from + 1) are from_loads' business.
            found_ = jump_table_at(second.from, first.from, true, 1) || found_;
        }
    }

    // Whether the pointer at `pointer` is one that code jumps through: the
    // operand of a jmp or jsr (code that patches its own jump), or a
    // pointer for jmp (pointer) that the code after `stored` (the later
    // store) reaches soon, itself or through a jmp or jsr to it.
    bool jumps_through(std::uint32_t pointer, std::uint32_t stored) const {
        const auto indirect_jump = [&](std::uint32_t a) {
            return image_.contains(a) && map_.kind(a) == Kind::Opcode &&
                   behaviour(image_.at(a)).control == Control::JumpIndirect &&
                   operand_of(image_, a) == pointer;
        };
        if (image_.contains(pointer - 1) && map_.kind(pointer - 1) == Kind::Opcode &&
            jumps_to_operand(image_.at(pointer - 1))) {
            return true;
        }
        std::uint32_t b = stored + instruction_length(image_.at(stored));
        for (int n = 0; n < 8 && image_.contains(b) && map_.kind(b) == Kind::Opcode; ++n) {
            const std::uint8_t byte = image_.at(b);
            if (indirect_jump(b)) return true;
            const Flow flow = flow_of(byte);
            if (flow == Flow::Call || flow == Flow::Jump) return indirect_jump(operand_of(image_, b));
            if (flow == Flow::Stop) return false;
            b += instruction_length(byte);
        }
        return false;
    }

    // Whether the pushes that end at `push` are left through an rts soon:
    // one close after them, nothing in between touching the stack, or one
    // that a jmp there leads to. A jmp out of the image counts (BASIC's
    // CHRGET, copied to zero page, ends in the rts that "returns" to the
    // statement pushed), and so does one to known code that reaches an rts
    // without touching the stack first. A jsr would push on top.
    bool returns_after(std::uint32_t push) const {
        std::uint32_t b = push + 1;
        for (int n = 0; n < 4 && image_.contains(b) && map_.kind(b) == Kind::Opcode; ++n) {
            const std::uint8_t byte = image_.at(b);
            if (behaviour(byte).control == Control::Return) return true;
            if (behaviour(byte).control == Control::Jump) return jumps_to_return(operand_of(image_, b));
            if (flow_of(byte) != Flow::Next || moves_stack_pointer(byte)) return false;
            b += instruction_length(byte);
        }
        return false;
    }

    // Whether a jmp to `target` leaves through an rts with the stack as it
    // was: out of the image, or known code whose paths (both ways of its
    // branches, its jmps) meet an rts within a few instructions and touch
    // the stack nowhere before.
    bool jumps_to_return(std::uint32_t target) const {
        if (!image_.contains(target)) return true;
        std::vector<std::uint32_t> work{target};
        std::vector<std::uint32_t> seen;
        bool returns = false;
        for (std::size_t n = 0; n < kStepsToReturn && !work.empty(); ++n) {
            const std::uint32_t b = work.back();
            work.pop_back();
            if (std::find(seen.begin(), seen.end(), b) != seen.end()) continue;
            seen.push_back(b);
            if (!image_.contains(b)) return false;  // a branch or jmp out of the image: not seen
            if (map_.kind(b) != Kind::Opcode) return false;
            const std::uint8_t byte = image_.at(b);
            const Control control = behaviour(byte).control;
            if (control == Control::Return) {
                returns = true;
                continue;
            }
            if (moves_stack_pointer(byte) || (control != Control::Next && control != Control::Branch &&
                                              control != Control::Jump)) {
                return false;
            }
            if (control != Control::Jump) work.push_back(b + instruction_length(byte));
            if (control != Control::Next) work.push_back(operand_of(image_, b));
        }
        return returns;
    }

    // How many instructions jumps_to_return follows at most.
    static constexpr std::size_t kStepsToReturn = 24;

    // Where a table's entry may lead: known code, or an unknown byte that
    // starts an instruction other than brk, one of the CPU's (code that a
    // table the code jumps through leads to may start with an undocumented
    // opcode, as code from any entry may, unless `undocumented_too` is
    // false).
    bool code_target(std::uint32_t target, bool undocumented_too = true) const {
        if (!image_.contains(target)) return false;
        const Kind k = map_.kind(target);
        const std::uint8_t byte = image_.at(target);
        const bool cpu_opcode = opcode(byte).documented() ||
                                (undocumented_too && map_.undocumented_opcodes && has_mnemonic(image_, target));
        return k == Kind::Opcode || (k == Kind::Unknown && cpu_opcode && behaviour(byte).control != Control::Break);
    }

    // A table of code addresses (less `adjust`) with the low halves at `low`
    // and the high ones at `high`: words when high is low + 1 (as good as
    // always; split tables one byte long each read the same), else split
    // tables. It runs as long as its entries lead to code and nothing else
    // claimed or names their bytes; a single address (`many` false) is a
    // table of one. Enters it and traces the code at its targets.
    bool jump_table_at(std::uint32_t low, std::uint32_t high, bool many, std::uint32_t adjust) {
        const bool words = high == low + 1;
        const std::uint32_t step = words ? 2 : 1;
        const std::uint32_t apart = low < high ? high - low : low - high;
        const auto value = [&](std::uint32_t i) {
            return (static_cast<std::uint32_t>(image_.at(high + i * step) << 8 | image_.at(low + i * step)) + adjust) &
                   0xffff;
        };
        std::uint32_t count = 0;
        for (; count < (many ? 128u : 1u); ++count) {
            const std::uint32_t lo = low + count * step;
            const std::uint32_t hi = high + count * step;
            if (!words && count >= apart) break;
            if (!image_.contains(lo) || !image_.contains(hi) || map_.kind(lo) != Kind::Unknown ||
                map_.kind(hi) != Kind::Unknown || other_start(lo, low) || (!words && other_start(hi, high)) ||
                !code_target(value(count))) {
                break;
            }
        }
        const Kind low_kind = words ? (adjust != 0 ? Kind::WordMinus1 : Kind::Word)
                                    : (adjust != 0 ? Kind::LowMinus1 : Kind::Low);
        for (std::uint32_t i = 0; i < count; ++i) {
            map_.set_address_item(low + i * step, low_kind, value(i), Source::PointerTable);
            if (!words) {
                map_.set_address_item(high + i, adjust != 0 ? Kind::HighMinus1 : Kind::High, value(i),
                                      Source::PointerTable);
            }
        }
        for (std::uint32_t i = 0; i < count; ++i) {
            if (map_.kind(value(i)) == Kind::Unknown) trace_from(map_, value(i), Source::Trace);
        }
        return count > 0;
    }

    // Whether what the load at `a` gets goes straight into the chips (a
    // table of SID frequencies or VIC positions, not of addresses).
    bool to_hardware(std::uint32_t a) const {
        const std::uint32_t next = a + instruction_length(image_.at(a));
        if (!image_.contains(next) || map_.kind(next) != Kind::Opcode) return false;
        const std::uint8_t byte = image_.at(next);
        return stored_register(byte) != 0 && instruction_length(byte) == 3 && in_io_area(operand_of(image_, next));
    }

    bool pushed(std::uint32_t load) const {
        const std::uint32_t next = load + 3;
        return image_.contains(next) && map_.kind(next) == Kind::Opcode && pushes_accumulator(image_.at(next));
    }

    // A table of code addresses minus one, as far as they lead into the
    // image; the code is traced from each.
    bool jump_table_at(std::uint32_t start) {
        std::uint32_t end = start;
        // It ends where code names another table (lda counters,x).
        while (image_.contains(end + 1) && map_.kind(end) == Kind::Unknown && map_.kind(end + 1) == Kind::Unknown &&
               !other_start(end, start)) {
            // A routine the table leads to starts with a documented
            // instruction unless it is known already: an undocumented one
            // is more likely the next table's word read one byte off.
            if (!code_target(image_.word(end) + 1, false)) break;
            end += 2;
        }
        for (std::uint32_t a = start; a < end; a += 2) {
            const std::uint32_t target = image_.word(a) + 1;
            map_.set_address_item(a, Kind::WordMinus1, target, Source::PointerTable);
        }
        for (std::uint32_t a = start; a < end; a += 2) {
            const std::uint32_t target = *map_.target(a);
            if (map_.kind(target) == Kind::Unknown) trace_from(map_, target, Source::Trace);
        }
        return end > start;
    }

    // Where the instruction after the load at `a` stores A, X or Y, if it
    // is a plain store.
    std::optional<std::uint32_t> stored_to(std::uint32_t a) const {
        const std::uint32_t next = a + instruction_length(image_.at(a));
        if (!image_.contains(next) || map_.kind(next) != Kind::Opcode) return std::nullopt;
        const std::uint8_t byte = image_.at(next);
        const Mode mode = opcode(byte).mode;
        if (stored_register(byte) == 0 || (mode != Mode::ZeroPage && mode != Mode::Absolute)) return std::nullopt;
        return operand_of(image_, next);
    }

    // Low halves at `low`, high halves at `high`, as long as they make
    // addresses, if at least `least` do.
    void split_table_at(std::uint32_t low, std::uint32_t high, std::uint32_t least) {
        const std::uint32_t apart = low < high ? high - low : low - high;
        std::uint32_t count = 0;
        while (count < apart && image_.contains(low + count) && image_.contains(high + count) &&
               !other_start(low + count, low) && !other_start(high + count, high) &&
               map_.kind(low + count) == Kind::Unknown && map_.kind(high + count) == Kind::Unknown &&
               address(static_cast<std::uint32_t>(image_.at(high + count) << 8 | image_.at(low + count)))) {
            ++count;
        }
        if (count < least) return;
        for (std::uint32_t i = 0; i < count; ++i) {
            const auto target = static_cast<std::uint32_t>(image_.at(high + i) << 8 | image_.at(low + i));
            map_.set_address_item(low + i, Kind::Low, target, Source::PointerTable);
            map_.set_address_item(high + i, Kind::High, target, Source::PointerTable);
        }
    }

    bool address(std::uint32_t value) const {
        return value >= image_.load && value < std::max(map_.own_memory_end, image_.end());
    }

    // How many of the words at `first`, `first + step`, ... (`count` of
    // them) point where a pointer may (PointerTargets), from the first on:
    // frequencies, coordinates and scores read the way pointers are land
    // inside instructions sooner or later.
    std::uint32_t plausible_words(std::uint32_t first, std::uint32_t step, std::uint32_t count) const {
        std::uint32_t i = 0;
        if (!targets_) targets_.emplace(map_);  // made when first needed: most finders need none
        while (i < count && targets_->plausible(image_.word(first + i * step))) ++i;
        return i;
    }

    // An address read from a table: a table of addresses, or of records
    // with addresses in them (a C array of structures). The record's size
    // is the step from one address to the next; every field that holds an
    // address in each record is taken. Two addresses in a row make a table
    // of addresses, three records a table of records. `any_field`: the
    // table's start is known, not where in a record the code reads; then
    // records are looked for first.
    void table_of_records_at(std::uint32_t start, bool any_field) {
        if (!any_field && table_at(start, 2)) return;
        for (std::uint32_t step = 2; step <= kMaxRecord; ++step) {
            std::uint32_t records = 0;
            std::array<std::uint32_t, kMaxRecord> counts{};
            for (std::uint32_t field = 0; field + 2 <= step && (field == 0 || any_field); ++field) {
                while (address_word_at(start + field + counts[field] * step) &&
                       !other_start(start + counts[field] * step, start)) {
                    ++counts[field];
                }
                records = std::max(records, counts[field]);
            }
            if (records < 3) continue;
            for (std::uint32_t field = 0; field + 2 <= step; ++field) {
                if (counts[field] != records || plausible_words(start + field, step, records) != records) continue;
                for (std::uint32_t i = 0; i < records; ++i) enter_word(start + field + i * step);
            }
            return;
        }
    }

    void refer(std::uint32_t address) {
        if (image_.contains(address)) referenced_[image_.offset(address)] = true;
    }

    // Whether a table that started before `a` runs into something else.
    bool other_start(std::uint32_t a, std::uint32_t start) const {
        return a != start && image_.contains(a) && referenced_[image_.offset(a)];
    }

    bool address_word_at(std::uint32_t a) const {
        return image_.contains(a) && image_.contains(a + 1) && map_.kind(a) == Kind::Unknown &&
               map_.kind(a + 1) == Kind::Unknown &&
               address(image_.word(a));
    }

    void enter_word(std::uint32_t a) {
        map_.set_address_item(a, Kind::Word, image_.word(a), Source::PointerTable);
    }

    // The words from `start` that are addresses, if at least `least` are.
    bool table_at(std::uint32_t start, std::uint32_t least) {
        std::uint32_t end = start;
        while (address_word_at(end) && !other_start(end, start)) end += 2;
        // A table of pointers ends before a word that points where none may.
        end = start + 2 * plausible_words(start, 2, (end - start) / 2);
        if ((end - start) / 2 < least) return false;
        for (std::uint32_t a = start; a < end; a += 2) enter_word(a);
        return true;
    }

    MemoryMap& map_;
    const Image& image_;
    std::vector<bool> referenced_;  // per image byte: code names it
    mutable std::optional<PointerTargets> targets_;
    bool found_ = false;
};

}  // namespace

void find_pointer_tables(MemoryMap& map, const std::vector<AddressPair>& pairs) {
    PointerTableFinder finder(map, pairs);
    finder.from_loads(false);
    finder.from_sums(pairs);
}

bool find_jump_tables(MemoryMap& map) {
    PointerTableFinder finder(map, {});
    finder.from_loads(true);
    finder.jumps_through_tables();
    return finder.found();
}

void record_pointers_used(MemoryMap& map) {
    const Image& image = map.image();
    const auto immediate = [&](std::uint32_t operand) {
        return operand > image.load && map.kind(operand) == Kind::Operand && map.kind(operand - 1) == Kind::Opcode &&
               opcode(image.at(operand - 1)).mode == Mode::Immediate;
    };
    for (const CopiedPointer& used : map.run.pointers_used) {
        const std::uint32_t low = used.low_from;
        const std::uint32_t high = used.high_from;
        // Changed since (inc p+1 pages on): the bytes are no longer it.
        if (!image.contains(low) || !image.contains(high) || image.word_of(low, high) != used.target) continue;
        const std::uint32_t target = used.target;
        if (target < image.load || target >= std::max(map.own_memory_end, image.end() + 1)) continue;
        if (immediate(low) && immediate(high)) {
            map.set_immediate(low - 1, {false, target, 0});
            map.set_immediate(high - 1, {true, target, 0});
        } else if (map.kind(low) == Kind::Unknown && map.kind(high) == Kind::Unknown) {
            if (high == low + 1) {
                map.set_address_item(low, Kind::Word, target, Source::Run);
            } else {
                map.set_address_item(low, Kind::Low, target, Source::Run);
                map.set_address_item(high, Kind::High, target, Source::Run);
            }
        }
    }
}

bool follow_copied_addresses(MemoryMap& map, const std::vector<CopiedAddress>& addresses) {
    PointerTableFinder finder(map, {});
    finder.from_copies(addresses);
    return finder.found();
}

}  // namespace tolvek
