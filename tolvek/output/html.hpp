// The page of a disassembly, to read in a browser: one self-contained HTML
// file (no scripts, nothing fetched) with the header, a map of the image
// that links each region to its rows, the source as the .asm has it with
// every label an anchor and every name of one a link, and the pictures of
// the graphics beside their rows.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "analysis/memory_map.hpp"
#include "output/listing.hpp"
#include "output/writers.hpp"
#include "syntax/dialect.hpp"

namespace tolvek {

// A picture of a graphics object, shown beside the row that holds its
// first byte (or, where no row does, in a list of its own).
struct HtmlPicture {
    std::uint32_t address = 0;
    std::string png;      // the bytes of a PNG file
    std::string caption;  // plain text
};

// The page of `listing`, the listing of `map`, with the source in
// `dialect`; `names` as for the .asm.
void write_html(const Listing& listing, const MemoryMap& map, const Dialect& dialect, const BuildNames& names,
                const std::vector<HtmlPicture>& pictures, const TextSink& sink);
std::string write_html(const Listing& listing, const MemoryMap& map, const Dialect& dialect, const BuildNames& names,
                       const std::vector<HtmlPicture>& pictures);

// Appends `text` as HTML text or attribute value: & < > " ' as references.
void append_html_text(std::string& out, std::string_view text);

// The id of the anchor at the row that starts at `address`: "row-0801".
// Labels cannot take it: they have no "-".
std::string row_anchor(std::uint32_t address);

}  // namespace tolvek
