// Turning a listing into the text of the .asm and the .lst file.
#pragma once

#include <string>

#include "image.hpp"
#include "listing.hpp"

namespace tolvek {

// Assembly source for ACME; assembled with "acme -f cbm" it gives back the
// original program file.
std::string write_asm(const Listing& listing);

// Address, bytes and source per row, then the symbol table.
std::string write_lst(const Listing& listing, const Image& image);

}  // namespace tolvek
