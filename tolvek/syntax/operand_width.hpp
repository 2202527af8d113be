// The widths an operand can be stated with: the listing decides when one
// must be, and each dialect spells them in its own way.
#pragma once

#include <cstdint>

namespace tolvek {

// Whether an operand's width must be stated because an assembler would
// choose another one by itself.
enum class Width : std::uint8_t {
    Auto,
    ZeroPage,  // a name the assembler may not know the value of yet
    Absolute,  // an absolute mode with an address below $100
};

}  // namespace tolvek
