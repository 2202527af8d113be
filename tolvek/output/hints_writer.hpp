// The analysis written back for the user: as a hints file to edit and run
// again, and as labels for the VICE monitor.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "analysis/memory_map.hpp"
#include "hints/hints.hpp"
#include "output/listing.hpp"

namespace tolvek {

// The listing's symbols that lie in the image or right behind it: the
// labels that written hints and VICE label files name.
std::vector<std::pair<std::uint32_t, std::string_view>> image_labels(const Listing& listing, const Image& image);

// A hints file that holds the analysis as it stands: the entry, the code
// and data ranges with their kinds, and the labels chosen. Run with it, the
// disassembly comes out the same. With the hints the analysis was run with
// (`read`), their text comes first as it was, then, under a heading of its
// own, what the analysis adds to it: nothing over the user's ranges or for
// the addresses they named.
std::string write_hints(const MemoryMap& map, const std::vector<std::pair<std::uint32_t, std::string_view>>& labels,
                        std::string_view image_name, const Hints* read = nullptr);

// The labels as a VICE monitor label file ("al C:080d .L080d"), for the
// monitor's `ll` command.
std::string write_vice_labels(const std::vector<std::pair<std::uint32_t, std::string_view>>& labels);

}  // namespace tolvek
