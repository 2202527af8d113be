// A memory image: the bytes of a program and the address they load to.
#pragma once

#include <cstdint>
#include <vector>

namespace tolvek {

struct Image {
    std::uint32_t load = 0;           // 0..$FFFF
    std::vector<std::uint8_t> bytes;  // load + size <= $10000

    std::uint32_t end() const { return load + static_cast<std::uint32_t>(bytes.size()); }
    bool contains(std::int64_t address) const { return address >= load && address < end(); }
    std::uint8_t at(std::uint32_t address) const { return bytes[address - load]; }
    // The 16-bit word at `address` and the byte after it, low byte first.
    std::uint32_t word(std::uint32_t address) const {
        return static_cast<std::uint32_t>(at(address) | at(address + 1) << 8);
    }
    // The address whose low half is at `low` and high half at `high` (split
    // tables keep them apart).
    std::uint32_t word_of(std::uint32_t low, std::uint32_t high) const {
        return static_cast<std::uint32_t>(at(low) | at(high) << 8);
    }
    std::size_t offset(std::uint32_t address) const { return address - load; }
};

}  // namespace tolvek
