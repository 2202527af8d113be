// PNG files of pictures: 8-bit RGB, compressed with zlib.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tolvek {

// A picture: width x height pixels, row by row, each 0xRRGGBB.
struct Pixels {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::vector<std::uint32_t> rgb;

    Pixels() = default;
    Pixels(std::uint32_t w, std::uint32_t h, std::uint32_t fill = 0) : width(w), height(h), rgb(std::size_t{w} * h, fill) {}
    std::uint32_t& at(std::uint32_t x, std::uint32_t y) { return rgb[std::size_t{y} * width + x]; }
    std::uint32_t at(std::uint32_t x, std::uint32_t y) const { return rgb[std::size_t{y} * width + x]; }
};

// Each pixel as a square of `factor` x `factor`.
Pixels enlarged(const Pixels& picture, std::uint32_t factor);

// The bytes of a PNG file of the picture.
std::string encode_png(const Pixels& picture);

}  // namespace tolvek
