// The C64's sixteen colours as a PAL screen shows them (measured values as
// commonly published), and their names.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace tolvek::c64 {

inline constexpr std::array<std::uint32_t, 16> kColourRgb = {
    0x000000, 0xffffff, 0x68372b, 0x70a4b2, 0x6f3d86, 0x588d43, 0x352879, 0xb8c76f,
    0x6f4f25, 0x433900, 0x9a6759, 0x444444, 0x6c6c6c, 0x9ad284, 0x6c5eb5, 0x959595,
};

inline constexpr std::array<std::string_view, 16> kColourNames = {
    "black", "white",      "red",         "cyan",       "purple", "green",      "blue",       "yellow",
    "orange", "brown",     "light red",   "dark grey",  "grey",   "light green", "light blue", "light grey",
};

}  // namespace tolvek::c64
