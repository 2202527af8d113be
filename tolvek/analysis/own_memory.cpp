#include "analysis/own_memory.hpp"

#include <algorithm>

#include "c64/symbols.hpp"
#include "cpu/decode.hpp"

namespace tolvek {
namespace {

// Variables further apart than this from the last one are somebody else's.
// As large as a buffer or array of the program's that the code names only
// at its start (cc65's BSS begins with its arrays).
constexpr std::uint32_t kMaxGap = 0x400;

bool fixed_place(std::uint32_t address) {
    return address >= c64::kIoArea || find_known(address).has_value() || (address & 0x3ff) == 0;
}

}  // namespace

void find_own_memory(MemoryMap& map, const std::vector<AddressPair>& pairs) {
    const Image& image = map.image();
    std::vector<std::uint32_t> past;
    const Kind* kinds = map.kinds().data();
    for (std::uint32_t a = image.load; a < image.end(); ++a) {
        if (kinds[a - image.load] != Kind::Opcode) continue;
        const Mode mode = opcode(image.at(a)).mode;
        if (mode != Mode::Absolute && mode != Mode::AbsoluteX && mode != Mode::AbsoluteY) continue;
        if (flow_of(image.at(a)) != Flow::Next) continue;  // jumps and calls go to code, not memory
        const std::uint32_t target = operand_of(image, a);
        if (target >= image.end()) past.push_back(target);
    }
    for (const AddressPair& pair : pairs) {
        if (pair.target() >= image.end()) past.push_back(pair.target());
    }
    std::sort(past.begin(), past.end());
    std::uint32_t end = image.end();
    for (const std::uint32_t address : past) {
        if (address > end && address - end > kMaxGap) break;
        if (fixed_place(address) && address != image.end()) break;
        if (fixed_place(address)) continue;
        end = std::max(end, address + 1);
    }
    map.own_memory_end = end;
}

}  // namespace tolvek
