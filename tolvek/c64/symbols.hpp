// Well-known C64 addresses and their customary names.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace tolvek {

struct KnownSymbol {
    std::uint16_t address;
    std::uint16_t size;  // bytes covered: 2 for a vector, 1 for a register
    std::string_view name;
};

// The known symbol covering this address, if any.
std::optional<KnownSymbol> find_known(std::uint32_t address);

// Whether one of the known symbols has this name.
bool is_known_name(std::string_view name);

// The address of the known symbol of this name, case ignored (64tass
// ignores it).
std::optional<std::uint32_t> find_known_by_name(std::string_view name);

}  // namespace tolvek
