#include "analysis/pointer_tables.hpp"

#include <algorithm>

#include "analysis/trace.hpp"
#include "cpu/decode.hpp"

namespace tolvek {
namespace {

// How far apart the two loads of one entry may be.
constexpr std::uint32_t kLoadsApart = 4;

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
    explicit Finder(MemoryMap& map) : map_(map), image_(map.image()) {}

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
                    if (second == first + 1) table_at(first, 2);
                    if (first == second + 1) table_at(second, 2);
                }
                if (flow_of(image_.at(b)) != Flow::Next) break;
                b += instruction_length(image_.at(b));
            }
        }
    }

    void from_sums(const std::vector<AddressPair>& pairs) {
        for (const AddressPair& pair : pairs) {
            if (!pair.sum) continue;
            table_at(pair.value, 2);
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

    bool address(std::uint32_t value) const {
        return value >= image_.load && value < std::max(map_.own_memory_end, image_.end());
    }

    // The words from `start` that are addresses, if at least `least` are.
    void table_at(std::uint32_t start, std::uint32_t least) {
        std::uint32_t end = start;
        while (image_.contains(end) && image_.contains(end + 1) && map_.kind(end) == Kind::Unknown &&
               map_.kind(end + 1) == Kind::Unknown &&
               address(static_cast<std::uint32_t>(image_.at(end) | image_.at(end + 1) << 8))) {
            end += 2;
        }
        if ((end - start) / 2 < least) return;
        for (std::uint32_t a = start; a < end; a += 2) {
            map_.set_address_item(a, Kind::Word, static_cast<std::uint32_t>(image_.at(a) | image_.at(a + 1) << 8),
                                  Source::PointerTable);
        }
    }

    MemoryMap& map_;
    const Image& image_;
    bool found_ = false;
};

}  // namespace

void find_pointer_tables(MemoryMap& map, const std::vector<AddressPair>& pairs) {
    Finder finder(map);
    finder.from_loads(false);
    finder.from_sums(pairs);
}

bool find_jump_tables(MemoryMap& map) {
    Finder finder(map);
    finder.from_loads(true);
    return finder.found();
}

}  // namespace tolvek
