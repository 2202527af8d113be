#include "analysis/pointer_tables.hpp"

#include <algorithm>
#include <array>
#include <optional>

#include "analysis/trace.hpp"
#include "cpu/decode.hpp"

namespace tolvek {
namespace {

// How far apart the two loads of one entry may be.
constexpr std::uint32_t kLoadsApart = 4;
// The largest record of a table of records that is looked for.
constexpr std::uint32_t kMaxRecord = 16;

// lda, ldx or ldy with an absolute indexed address; the index register.
char indexed_load(const Image& image, std::uint32_t address) {
    switch (image.at(address)) {
    case 0xbd:                   // lda abs,x
    case 0xbc: return 'x';       // ldy abs,x
    case 0xb9:                   // lda abs,y
    case 0xbe: return 'y';       // ldx abs,y
    default: return 0;
    }
}

class Finder {
public:
    Finder(MemoryMap& map, const std::vector<AddressPair>& pairs)
        : map_(map), image_(map.image()), referenced_(image_.bytes.size(), false) {
        // A table ends where code refers to something else: its own label.
        for (std::uint32_t a = image_.load; a < image_.end(); ++a) {
            if (map_.kind(a) != Kind::Opcode || length_of(opcode(image_.at(a)).mode) != 3) continue;
            refer(operand_of(image_, a));
        }
        for (const AddressPair& pair : pairs) refer(pair.value);
    }

    bool found() const { return found_; }

    // Pointer tables, or (`jumps`) the rts trick's tables only.
    void from_loads(bool jumps) {
        for (std::uint32_t a = image_.load; a < image_.end(); ++a) {
            const char index = indexed_load(image_, a);
            if (index == 0 || map_.kind(a) != Kind::Opcode) continue;
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
                }
                if (flow_of(image_.at(b)) != Flow::Next) break;
                b += instruction_length(image_.at(b));
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
    // Whether what the load at `a` gets goes straight into the chips (a
    // table of SID frequencies or VIC positions, not of addresses).
    bool to_hardware(std::uint32_t a) const {
        const std::uint32_t next = a + instruction_length(image_.at(a));
        if (!image_.contains(next) || map_.kind(next) != Kind::Opcode) return false;
        const Opcode& op = opcode(image_.at(next));
        if (op.mnemonic.substr(0, 2) != "st" || length_of(op.mode) != 3) return false;
        const std::uint32_t target = operand_of(image_, next);
        return target >= 0xd000 && target < 0xe000;
    }

    bool pushed(std::uint32_t load) const {
        const std::uint32_t next = load + 3;
        return image_.contains(next) && map_.kind(next) == Kind::Opcode && image_.at(next) == 0x48;
    }

    // A table of code addresses minus one, as far as they lead into the
    // image; the code is traced from each.
    bool jump_table_at(std::uint32_t start) {
        std::uint32_t end = start;
        while (image_.contains(end + 1) && map_.kind(end) == Kind::Unknown && map_.kind(end + 1) == Kind::Unknown) {
            const auto target = static_cast<std::uint32_t>(image_.at(end) | image_.at(end + 1) << 8) + 1;
            if (!image_.contains(target) || (map_.kind(target) != Kind::Unknown && map_.kind(target) != Kind::Opcode)) {
                break;
            }
            end += 2;
        }
        for (std::uint32_t a = start; a < end; a += 2) {
            const auto target = static_cast<std::uint32_t>(image_.at(a) | image_.at(a + 1) << 8) + 1;
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
        switch (image_.at(next)) {
        case 0x85: case 0x86: case 0x84:  // sta, stx, sty zero page
        case 0x8d: case 0x8e: case 0x8c:  // absolute
            return operand_of(image_, next);
        default: return std::nullopt;
        }
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
                if (counts[field] != records) continue;
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
               address(static_cast<std::uint32_t>(image_.at(a) | image_.at(a + 1) << 8));
    }

    void enter_word(std::uint32_t a) {
        map_.set_address_item(a, Kind::Word, static_cast<std::uint32_t>(image_.at(a) | image_.at(a + 1) << 8),
                              Source::PointerTable);
    }

    // The words from `start` that are addresses, if at least `least` are.
    bool table_at(std::uint32_t start, std::uint32_t least) {
        std::uint32_t end = start;
        while (address_word_at(end) && !other_start(end, start)) end += 2;
        if ((end - start) / 2 < least) return false;
        for (std::uint32_t a = start; a < end; a += 2) enter_word(a);
        return true;
    }

    MemoryMap& map_;
    const Image& image_;
    std::vector<bool> referenced_;  // per image byte: code names it
    bool found_ = false;
};

}  // namespace

void find_pointer_tables(MemoryMap& map, const std::vector<AddressPair>& pairs) {
    Finder finder(map, pairs);
    finder.from_loads(false);
    finder.from_sums(pairs);
}

bool find_jump_tables(MemoryMap& map) {
    Finder finder(map, {});
    finder.from_loads(true);
    return finder.found();
}

}  // namespace tolvek
