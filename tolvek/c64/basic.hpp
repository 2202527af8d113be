// Commodore BASIC V2 programs at the start of an image.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "image.hpp"

namespace tolvek {

struct BasicLine {
    std::uint32_t address = 0;  // of the link word
    std::uint32_t size = 0;     // link, line number, text and the closing zero
    std::string text;           // "10 SYS2061"
};

struct BasicProgram {
    std::vector<BasicLine> lines;
    std::uint32_t end = 0;  // address after the final zero link
};

// The BASIC program the image starts with, if it holds one: lines linked
// exactly as the BASIC editor stores them, closed by a zero link inside the
// image. Returns an empty program otherwise.
BasicProgram find_basic(const Image& image);

// The listing of one line's tokenized text, as LIST shows it.
std::string detokenize(const std::vector<std::uint8_t>& text);

}  // namespace tolvek
