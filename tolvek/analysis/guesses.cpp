// Finding code that the trace from the entry cannot reach. Every guess
// goes through try_code, which takes it only when everything reachable from
// it decodes as clean code and its instructions say enough for it.
#include <algorithm>
#include <array>
#include <bit>
#include <optional>
#include <set>
#include <utility>
#include <vector>

#include "analysis/trace.hpp"
#include "c64/petscii.hpp"
#include "cpu/behaviour.hpp"

namespace tolvek {
namespace {

// lda #, ldx #, ldy #: the register it loads, or 0.
std::uint8_t loads_immediate(std::uint8_t byte) { return is_load_immediate(byte) ? loaded_register(byte) : 0; }

// sta zp, the store of a pointer's halves.
bool stores_a_in_zero_page(std::uint8_t byte) {
    return stored_register(byte) == reg::A && opcode(byte).mode == Mode::ZeroPage;
}

// Finds the code that the trace from the entries cannot reach.
class UnreachedCodeFinder {
public:
    UnreachedCodeFinder(MemoryMap& map, const std::vector<std::uint32_t>& not_code)
        : image_(map.image()), map_(map), guessing_(map.image()), may_start_(map.image().bytes.size()) {
        for (const std::uint32_t address : not_code) guessing_.no_code[image_.offset(address)] = 1;
        const Image& image = image_;
        pointers_.bits.resize(image.bytes.size() / 64 + 2);
        // The flags a byte value gives wherever it stands; a table so that
        // the pass over the image does not branch on the bytes.
        std::array<std::uint8_t, 256> value_flags{};
        for (std::size_t value = 0; value < value_flags.size(); ++value) {
            const auto byte = static_cast<std::uint8_t>(value);
            const bool table_target = opcode(byte).documented() && behaviour(byte).control != Control::Break;
            value_flags[value] = table_target ? kMayStart | kTableTarget : kMayStart;
        }
        // Starts of printable text are data, whatever they would decode
        // to: where four or more printable bytes follow, counted backwards.
        std::uint32_t printable = 0;
        for (std::uint32_t a = image.end(); a-- > image.load;) {
            const std::uint8_t byte = image.at(a);
            printable = petscii_char(byte) != 0 ? printable + 1 : 0;
            may_start_[image.offset(a)] = map.kind(a) == Kind::Basic || printable >= 4 ? 0 : value_flags[byte];
        }
    }

    // Gaps come first: they start right after the end of a routine, so
    // they cannot be out of step with the instructions. Tables may point
    // anywhere, and immediate pairs are more often plain numbers; they come
    // after the better founded code has claimed its bytes.
    void run() {
        // New code can hold new pointers; repeat until nothing changes.
        // The stores that patch stubs are in the code the trace found.
        find_patched_operands(map_, guessing_);
        for (int round = 0; round < 8; ++round) {
            bool found = jump_rows();
            found = gaps() || found;
            found = address_tables() || found;
            found = split_tables() || found;
            if (!found) found = immediate_pairs();
            if (!found) break;
        }
    }

    std::vector<AddressTable> take_tables() { return std::move(tables_); }

private:
    Kind kind(std::uint32_t address) const { return map_.kind(address); }

    // A guessed entry point: an unknown byte that is not the start of text.
    bool candidate(std::uint32_t address) const {
        return image_.contains(address) && kind(address) == Kind::Unknown &&
               (may_start_[image_.offset(address)] & kMayStart) != 0;
    }

    bool try_at(std::uint32_t address, Source source, std::vector<std::uint32_t>* claimed = nullptr,
                Evidence* evidence = nullptr, bool jumped_to = false) {
        if (!candidate(address)) return false;
        // Most table entries tried lead where a guess failed before; no
        // need to set up another one for them (try_code would say no too).
        if (guessing_.no_code[image_.offset(address)] != 0) return false;
        return try_code(map_, guessing_, address, source, claimed, evidence, jumped_to);
    }

    // A row of `jmp`s three bytes apart, each to an address in the image:
    // a table of entry points (a driver's, a player's, or one that code
    // enters by index). Before the gaps and tables: read from another byte,
    // the row makes words that point at code too. Each `jmp` is an
    // instruction; where it leads is guessed as code.
    static constexpr std::uint32_t kShortestJumpRow = 3;

    bool row_jump(std::uint32_t at) const {
        if (at + 3 > image_.end() || behaviour(image_.at(at)).control != Control::Jump) return false;
        for (std::uint32_t a = at; a < at + 3; ++a) {
            if (kind(a) != Kind::Unknown) return false;
        }
        return image_.contains(operand_of(image_, at));
    }

    bool jump_rows() {
        bool found = false;
        for (std::uint32_t a = image_.load; a < image_.end(); ++a) {
            std::uint32_t end = a;
            while (row_jump(end)) end += 3;
            if (end - a < 3 * kShortestJumpRow) continue;
            for (std::uint32_t jump = a; jump < end; jump += 3) map_.set_instruction(jump, 3, Source::GuessTable);
            for (std::uint32_t jump = a; jump < end; jump += 3) try_at(operand_of(image_, jump), Source::GuessTable);
            found = true;
            a = end - 1;
        }
        return found;
    }

    // An address handed over in registers: lda #<x followed by ldx #>x or
    // ldy #>x, or ldx #<x / ldy #>x, as calling conventions do; or stored
    // as a pointer: lda #<x / sta p / lda #>x / sta p+1.
    bool immediate_pairs() {
        bool found = false;
        for (std::uint32_t a = image_.load; a + 4 <= image_.end(); ++a) {
            if (kind(a) != Kind::Opcode || kind(a + 2) != Kind::Opcode) continue;
            const std::uint8_t first = loads_immediate(image_.at(a));
            const std::uint8_t second = loads_immediate(image_.at(a + 2));
            const bool pair = (first == reg::A && (second == reg::X || second == reg::Y)) ||
                              (first == reg::X && second == reg::Y);
            if (pair && try_at(static_cast<std::uint32_t>(image_.at(a + 3) << 8 | image_.at(a + 1)), Source::GuessPair)) {
                found = true;
            }
            if (first == reg::A && a + 8 <= image_.end() && stored_pointer(a)) {
                if (try_at(static_cast<std::uint32_t>(image_.at(a + 5) << 8 | image_.at(a + 1)), Source::GuessPair)) {
                    found = true;
                }
            }
        }
        return found;
    }

    // lda #lo / sta p / lda #hi / sta p+1 with p in zero page.
    bool stored_pointer(std::uint32_t a) const {
        return stores_a_in_zero_page(image_.at(a + 2)) && a + 8 <= image_.end() &&
               loads_immediate(image_.at(a + 4)) == reg::A && stores_a_in_zero_page(image_.at(a + 6)) &&
               image_.at(a + 7) == static_cast<std::uint8_t>(image_.at(a + 3) + 1) && kind(a + 4) == Kind::Opcode;
    }

    // Two or more consecutive little-endian words in data that all point
    // at code, or at code minus one (pushed for an rts to jump through).
    bool address_tables() {
        bool found = false;
        for (std::uint32_t adjust = 0; adjust <= 1; ++adjust) {
            pointers_.start(adjust);
            for (std::uint32_t a = next_table(image_.load); a < image_.end(); a = next_table(a)) {
                std::uint32_t end = a + 4;
                while (is_pointer(end)) end += 2;
                bool led_to_code = false;
                // Where every entry leads where a run went by a jump or
                // call, the table is as sure as one that leads to new code.
                bool all_entered = !map_.run.entered.empty();
                for (std::uint32_t p = a; p < end; p += 2) {
                    all_entered = all_entered && map_.was_entered(image_.word(p) + adjust);
                    if (try_at(image_.word(p) + adjust, Source::GuessTable)) {
                        led_to_code = true;
                        // New code changes which words point at code; the
                        // scan goes on at `end`.
                        pointers_.forget_from(image_.offset(end));
                    }
                }
                led_to_code = led_to_code || all_entered;
                if (led_to_code) tables_.push_back({a, (end - a) / 2, adjust != 0 ? Kind::WordMinus1 : Kind::Word});
                found = found || led_to_code;
                a = end;
            }
        }
        return found;
    }

    // Which words are pointers (pointer_at) with the current pass's `adjust`,
    // 64 image offsets to a bit set, worked out as the scan gets there. Most
    // words of data are pointers or not at random, so bits found without
    // branching and searched with a bit scan spare many a mispredicted
    // branch. Worked-out bits hold until code is claimed.
    struct PointerBits {
        std::vector<std::uint64_t> bits;  // one spare set after the image
        std::size_t ready = 0;            // sets worked out
        std::uint32_t adjust = 0;

        void start(std::uint32_t pass_adjust) {
            adjust = pass_adjust;
            ready = 0;
        }
        void forget_from(std::size_t offset) { ready = std::min(ready, offset / 64); }
    };

    std::uint64_t pointer_bits(std::size_t set) {
        while (pointers_.ready <= set) {
            std::uint64_t bits = 0;
            const std::uint32_t base = image_.load + static_cast<std::uint32_t>(pointers_.ready * 64);
            for (std::uint32_t i = 0; i < 64; ++i) {
                bits |= static_cast<std::uint64_t>(pointer_at(base + i, pointers_.adjust)) << i;
            }
            pointers_.bits[pointers_.ready++] = bits;
        }
        return pointers_.bits[set];
    }

    bool is_pointer(std::uint32_t address) {
        const std::size_t offset = image_.offset(address);
        return (pointer_bits(offset / 64) >> (offset % 64) & 1) != 0;
    }

    // The first address from `from` on where two pointers follow each
    // other, or the image end.
    std::uint32_t next_table(std::uint32_t from) {
        for (std::size_t set = image_.offset(from) / 64; set + 1 < pointers_.bits.size(); ++set) {
            const std::uint64_t here = pointer_bits(set);
            const std::uint64_t next = pointer_bits(set + 1);
            std::uint64_t starts = here & (here >> 2 | next << 62);
            if (set == image_.offset(from) / 64) starts &= ~std::uint64_t{0} << (image_.offset(from) % 64);
            if (starts != 0) {
                return image_.load + static_cast<std::uint32_t>(set * 64 + static_cast<unsigned>(std::countr_zero(starts)));
            }
        }
        return image_.end();
    }

    // Tables of low and high bytes apart, as code reads them to jump:
    //   lda hi,x / pha / lda lo,x / pha (then rts: the rts trick, minus one)
    //   lda lo,x / sta p / lda hi,x / sta p+1 (then jmp (p))
    bool split_tables() {
        bool found = false;
        for (std::uint32_t a = image_.load; a + 8 <= image_.end(); ++a) {
            if (kind(a) != Kind::Opcode || !indexed_load(a)) continue;
            const std::uint32_t first = operand_of(image_, a);
            if (pushes_accumulator(image_.at(a + 3)) && kind(a + 4) == Kind::Opcode && indexed_load(a + 4) &&
                pushes_accumulator(image_.at(a + 7))) {
                found = follow_split(operand_of(image_, a + 4), first, 1) || found;
            } else if (stores_a_in_zero_page(image_.at(a + 3)) && a + 10 <= image_.end() &&
                       kind(a + 5) == Kind::Opcode && indexed_load(a + 5) && stores_a_in_zero_page(image_.at(a + 8)) &&
                       image_.at(a + 9) == static_cast<std::uint8_t>(image_.at(a + 4) + 1)) {
                found = follow_split(first, operand_of(image_, a + 5), 0) || found;
            }
        }
        return found;
    }

    // lda abs,x or lda abs,y
    bool indexed_load(std::uint32_t a) const {
        const std::uint8_t byte = image_.at(a);
        return loaded_register(byte) == reg::A && is_absolute_indexed(opcode(byte).mode);
    }

    // Tries the entries of a split table, as long as they look like one;
    // with the high halves right after the low ones (lda t+1,x / pha /
    // lda t,x / pha), a table of words.
    bool follow_split(std::uint32_t low, std::uint32_t high, std::uint32_t adjust) {
        bool found = false;
        const bool words = high == low + 1;
        const std::uint32_t step = words ? 2 : 1;
        // One table ends where the other begins, if they follow each other.
        const std::uint32_t apart = words ? 128 : low < high ? high - low : low - high;
        std::uint32_t i = 0;
        for (; i < 128 && i < apart; ++i) {
            const std::uint32_t lo = low + i * step;
            const std::uint32_t hi = high + i * step;
            if (!image_.contains(lo) || !image_.contains(hi)) break;
            if (kind(lo) != Kind::Unknown || kind(hi) != Kind::Unknown) break;
            const std::uint32_t target = static_cast<std::uint32_t>(image_.at(hi) << 8 | image_.at(lo)) + adjust;
            if (!image_.contains(target)) break;
            if (kind(target) == Kind::Opcode) continue;
            // The rts trick surely jumps; a pointer may be one to data,
            // such as the rows of a tile map.
            if (!try_at(target, Source::GuessSplit, nullptr, nullptr, adjust != 0)) break;
            found = true;
        }
        if (found && words) tables_.push_back({low, i, adjust != 0 ? Kind::WordMinus1 : Kind::Word, 0, true});
        if (found && !words) tables_.push_back({low, i, adjust != 0 ? Kind::LowMinus1 : Kind::Low, high, true});
        return found;
    }

    // A data word pointing at known code or at a plausible start of code;
    // false for a word not wholly in the image. Without branches, as the
    // answer is as good as random over data.
    bool pointer_at(std::uint32_t address, std::uint32_t adjust) const {
        if (address + 2 > image_.end()) return false;
        const std::size_t at = image_.offset(address);
        const std::uint32_t target = image_.word(address) + adjust;
        const bool inside = image_.contains(target);
        const std::size_t to = inside ? image_.offset(target) : 0;
        const Kind* kinds = map_.kinds().data();
        const bool plausible = (may_start_[to] & kTableTarget) != 0;
        return (kinds[at] == Kind::Unknown) & (kinds[at + 1] == Kind::Unknown) & inside &
               ((kinds[to] == Kind::Opcode) | ((kinds[to] == Kind::Unknown) & plausible));
    }

    // A stretch of data between code that decodes, from its first byte
    // to its last, as routines that end cleanly: code only reached in ways
    // the trace cannot see, like pointers in tables we did not recognise.
    bool gaps() {
        bool found = false;
        std::uint32_t a = image_.load;
        while (a < image_.end()) {
            if (kind(a) != Kind::Unknown) {
                ++a;
                continue;
            }
            std::uint32_t end = a;
            while (end < image_.end() && kind(end) == Kind::Unknown) ++end;
            if (a > image_.load && end < image_.end() && ends_routine(a)) {
                found = fill_gap(a, end) || found;
            }
            a = end;
        }
        return found;
    }

    // Whether the code before `address` cannot fall through into it.
    bool ends_routine(std::uint32_t address) const {
        std::uint32_t start = address - 1;
        while (start > image_.load && kind(start) == Kind::Operand) --start;
        if (kind(start) != Kind::Opcode) return false;
        const Flow flow = flow_of(image_.at(start));
        return flow == Flow::Jump || flow == Flow::Stop;
    }

    // Claims [begin, end) as code if routine after routine covers it all;
    // its evidence is weighed over the whole gap.
    bool fill_gap(std::uint32_t begin, std::uint32_t end) {
        std::vector<std::uint32_t> claimed;
        Evidence evidence;
        std::uint32_t a = begin;
        while (a < end) {
            if (kind(a) != Kind::Unknown) {
                ++a;
                continue;
            }
            if (!try_at(a, Source::GuessGap, &claimed, &evidence)) break;
        }
        if (a >= end && evidence.convincing()) return true;
        // Not all of it: undo, the gap stays unknown.
        for (std::uint32_t address : claimed) map_.set_unknown(address);
        return false;
    }

    const Image& image_;
    MemoryMap& map_;
    Guessing guessing_;
    std::vector<AddressTable> tables_;  // whose entries led to code
    // Per image byte, worked out once as it does not change while guessing:
    // kMayStart where it is neither BASIC nor the start of text, and
    // kTableTarget where it also holds a documented opcode other than brk.
    static constexpr std::uint8_t kMayStart = 1;
    static constexpr std::uint8_t kTableTarget = 2;
    std::vector<std::uint8_t> may_start_;
    PointerBits pointers_;
};

}  // namespace

namespace {

// What says that a table of words found by its shape holds addresses: code
// names it as data (lda table,x / lda table+1,x, jmp (table); indexed, from
// up to a page before it: lda table-$68,y with the index from a token), or a run
// went to each of at least two of its targets by a jump, call, return or
// interrupt that no known instruction makes directly or by falling through
// (so that it came through the table, or one like it).
class TableEvidence {
public:
    explicit TableEvidence(const MemoryMap& map)
        : map_(map), named_(0x10000, false), indexed_(0x10000, false), led_to_(0x10000, false) {
        const Image& image = map.image();
        for (const std::uint32_t at : map.instructions()) {
            const std::uint8_t byte = image.at(at);
            const std::uint32_t next = at + instruction_length(byte);
            const Flow flow = flow_of(byte);
            if (flow != Flow::Jump && flow != Flow::Stop && next < 0x10000) led_to_[next] = true;
            const std::optional<std::uint32_t> target = target_of(image, at);
            if (target && (flow == Flow::Branch || flow == Flow::Call || flow == Flow::Jump) &&
                behaviour(byte).control != Control::JumpIndirect) {
                led_to_[*target & 0xffff] = true;
            }
            // An absolute operand names data (a jmp (p) names its pointer).
            if (instruction_length(byte) == 3 && (flow == Flow::Next || behaviour(byte).control == Control::JumpIndirect)) {
                named_[operand_of(image, at)] = true;
                if (is_absolute_indexed(opcode(byte).mode)) indexed_[operand_of(image, at)] = true;
            }
        }
    }

    bool holds(const AddressTable& table) const {
        const Image& image = map_.image();
        const std::uint32_t end = table.address + 2 * table.entries;
        // From two bytes before it: code indexed from 1 reads table-2,x.
        for (std::uint32_t a = table.address >= 2 ? table.address - 2 : 0; a < end; ++a) {
            if (named_[a & 0xffff]) return true;
        }
        for (std::uint32_t a = table.address >= 0xff ? table.address - 0xff : 0; a < table.address; ++a) {
            if (indexed_[a]) return true;
        }
        const std::uint32_t adjust = table.kind == Kind::WordMinus1 ? 1 : 0;
        std::set<std::uint32_t> targets;
        for (std::uint32_t at = table.address; at < end; at += 2) {
            const std::uint32_t target = (image.word(at) + adjust) & 0xffff;
            if (!map_.was_entered(target) || led_to_[target]) return false;
            targets.insert(target);
        }
        return targets.size() >= 2;
    }

private:
    const MemoryMap& map_;
    std::vector<bool> named_;   // by address: an instruction names it as data
    std::vector<bool> indexed_;  // by address: an indexed instruction names it as data
    std::vector<bool> led_to_;  // by address: an instruction jumps, branches, calls or falls through to it
};

}  // namespace

std::vector<AddressTable> find_more_code(MemoryMap& map, const std::vector<std::uint32_t>& not_code) {
    if (map.image().bytes.empty()) return {};
    UnreachedCodeFinder finder(map, not_code);
    finder.run();
    return finder.take_tables();
}

void record_tables(MemoryMap& map, const std::vector<AddressTable>& tables) {
    const Image& image = map.image();
    const auto unknown = [&](std::uint32_t a) { return map.kind(a) == Kind::Unknown; };
    // An entry is taken as an address only where it leads to code: the
    // words of a table found by chance often do not.
    const auto code = [&](std::uint32_t target) { return map.is_opcode(target); };
    std::optional<TableEvidence> evidence;
    for (const AddressTable& table : tables) {
        // Words that lead to code may still be notes, coordinates or code
        // of the shape of a table: where they came only from their shape,
        // they are addresses only as the code shows it.
        std::uint32_t entries = table.entries;
        if (!table.read_by_code) {
            if (!evidence) evidence.emplace(map);
            if (!evidence->holds(table)) continue;
            // And they are a table from its start, two entries at least,
            // each leading to code: not a word here and there in a row of
            // bytes that code reads ($97,$98,$99,... read as words).
            const std::uint32_t adjust = table.kind == Kind::WordMinus1 ? 1 : 0;
            const auto leads = [&](std::uint32_t at) {
                return unknown(at) && unknown(at + 1) && code((image.word(at) + adjust) & 0xffff);
            };
            entries = 0;
            while (entries < table.entries && leads(table.address + 2 * entries)) ++entries;
            if (entries < 2) continue;
        }
        for (std::uint32_t i = 0; i < entries; ++i) {
            if (table.kind == Kind::Word || table.kind == Kind::WordMinus1) {
                const std::uint32_t at = table.address + 2 * i;
                if (!unknown(at) || !unknown(at + 1)) continue;
                const std::uint32_t adjust = table.kind == Kind::WordMinus1 ? 1 : 0;
                const std::uint32_t target = (image.word(at) + adjust) & 0xffff;
                if (!code(target)) continue;
                map.set_address_item(at, table.kind, target, Source::GuessTable);
            } else {
                const std::uint32_t low = table.address + i;
                const std::uint32_t high = table.high + i;
                if (!unknown(low) || !unknown(high)) continue;
                const std::uint32_t adjust = table.kind == Kind::LowMinus1 ? 1 : 0;
                const auto value = static_cast<std::uint32_t>(image.at(high) << 8 | image.at(low));
                const std::uint32_t target = (value + adjust) & 0xffff;
                if (!code(target)) continue;
                map.set_address_item(low, table.kind, target, Source::GuessSplit);
                map.set_address_item(high, adjust != 0 ? Kind::HighMinus1 : Kind::High, target, Source::GuessSplit);
            }
        }
    }
}

}  // namespace tolvek
