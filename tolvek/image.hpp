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
    std::size_t offset(std::uint32_t address) const { return address - load; }
};

}  // namespace tolvek
