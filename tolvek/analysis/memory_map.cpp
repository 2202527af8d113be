#include "analysis/memory_map.hpp"

namespace tolvek {

void MemoryMap::set_address_item(std::uint32_t address, Kind kind, std::uint32_t target, Source source) {
    set(address, kind, source);
    if (kind == Kind::Word || kind == Kind::WordMinus1) set(address + 1, Kind::Continued, source);
    if (targets_.empty()) targets_.resize(image_->bytes.size());
    targets_[image_->offset(address)] = target;
}

std::optional<std::uint32_t> MemoryMap::target(std::uint32_t address) const {
    if (!stands_for_address(kind(address))) return std::nullopt;
    return targets_[image_->offset(address)];
}

}  // namespace tolvek
