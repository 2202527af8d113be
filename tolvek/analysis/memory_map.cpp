#include "analysis/memory_map.hpp"

#include <cstring>

#include "c64/symbols.hpp"

namespace tolvek {

bool ProgramStart::in_header(std::int64_t address) const {
    const auto within = [&](std::uint32_t from, std::uint32_t to) { return address >= from && address < to; };
    return (cartridge && within(cartridge->header, cartridge->header + c64::kCartridgeHeaderSize)) ||
           (rom.basic && within(c64::kBasicColdStart, c64::kBasicHeaderEnd)) ||
           (rom.kernal && within(c64::kNmiVector, 0x10000));
}

void MemoryMap::set_address_item(std::uint32_t address, Kind kind, std::uint32_t target, Source source) {
    set(address, kind, source);
    if (kind == Kind::Word || kind == Kind::WordMinus1) {
        set(address + 1, Kind::Continued, source);
    } else {
        half_targets_[address] = target;
    }
}

std::optional<std::uint32_t> MemoryMap::target(std::uint32_t address) const {
    const Kind k = kind(address);
    if (k == Kind::Word || k == Kind::WordMinus1) {
        const std::uint32_t adjust = k == Kind::WordMinus1 ? 1 : 0;
        return (image_->word(address) + adjust) & 0xffff;
    }
    if (!stands_for_address(k)) return std::nullopt;
    const auto it = half_targets_.find(address);
    if (it == half_targets_.end()) return std::nullopt;
    return it->second;
}

std::vector<std::uint32_t> MemoryMap::instructions() const {
    // Most of a big image is data: memchr passes over it many bytes at a
    // time.
    static_assert(sizeof(Kind) == 1);
    std::vector<std::uint32_t> code;
    const auto* kinds = reinterpret_cast<const unsigned char*>(kind_.data());
    const std::size_t size = kind_.size();
    for (std::size_t i = 0; i < size; ++i) {
        const void* found = std::memchr(kinds + i, static_cast<unsigned char>(Kind::Opcode), size - i);
        if (found == nullptr) break;
        i = static_cast<std::size_t>(static_cast<const unsigned char*>(found) - kinds);
        code.push_back(image_->load + static_cast<std::uint32_t>(i));
    }
    return code;
}

}  // namespace tolvek

namespace tolvek {

const Graphic* MemoryMap::graphic_at(std::uint32_t address) const {
    const auto after = std::upper_bound(graphics.begin(), graphics.end(), address,
                                        [](std::uint32_t a, const Graphic& graphic) { return a < graphic.address; });
    if (after == graphics.begin()) return nullptr;
    const Graphic& graphic = *std::prev(after);
    return address < graphic.address + graphic.size ? &graphic : nullptr;
}

}  // namespace tolvek
