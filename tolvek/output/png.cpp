#include "output/png.hpp"

#include <stdexcept>

#include <zlib.h>

namespace tolvek {
namespace {

void put_u32(std::string& out, std::uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) out += static_cast<char>((value >> shift) & 0xff);
}

// A chunk: its length, type and data, and the CRC of type and data.
void put_chunk(std::string& out, const char* type, const std::string& data) {
    put_u32(out, static_cast<std::uint32_t>(data.size()));
    const std::size_t typed = out.size();
    out.append(type, 4);
    out += data;
    const auto* bytes = reinterpret_cast<const Bytef*>(out.data() + typed);
    put_u32(out, static_cast<std::uint32_t>(crc32(crc32(0, nullptr, 0), bytes, static_cast<uInt>(data.size() + 4))));
}

}  // namespace

Pixels enlarged(const Pixels& picture, std::uint32_t factor) {
    Pixels big(picture.width * factor, picture.height * factor);
    for (std::uint32_t y = 0; y < big.height; ++y) {
        for (std::uint32_t x = 0; x < big.width; ++x) big.at(x, y) = picture.at(x / factor, y / factor);
    }
    return big;
}

std::string encode_png(const Pixels& picture) {
    if (picture.width == 0 || picture.height == 0 || picture.rgb.size() != std::size_t{picture.width} * picture.height) {
        throw std::invalid_argument("a picture without pixels");
    }
    // Each row: filter type 0 (none), then R, G, B per pixel.
    std::string raw;
    raw.reserve(std::size_t{picture.height} * (1 + 3 * std::size_t{picture.width}));
    for (std::uint32_t y = 0; y < picture.height; ++y) {
        raw += '\0';
        for (std::uint32_t x = 0; x < picture.width; ++x) {
            const std::uint32_t rgb = picture.at(x, y);
            raw += static_cast<char>((rgb >> 16) & 0xff);
            raw += static_cast<char>((rgb >> 8) & 0xff);
            raw += static_cast<char>(rgb & 0xff);
        }
    }
    uLongf packed_size = compressBound(static_cast<uLong>(raw.size()));
    std::string packed(packed_size, '\0');
    if (compress2(reinterpret_cast<Bytef*>(packed.data()), &packed_size, reinterpret_cast<const Bytef*>(raw.data()),
                  static_cast<uLong>(raw.size()), Z_BEST_COMPRESSION) != Z_OK) {
        throw std::runtime_error("zlib could not compress a picture");
    }
    packed.resize(packed_size);

    std::string header;
    put_u32(header, picture.width);
    put_u32(header, picture.height);
    header += '\x08';  // 8 bits a sample
    header += '\x02';  // RGB
    header += '\0';    // deflate
    header += '\0';    // adaptive filtering
    header += '\0';    // not interlaced
    std::string png("\x89PNG\r\n\x1a\n", 8);
    put_chunk(png, "IHDR", header);
    put_chunk(png, "IDAT", packed);
    put_chunk(png, "IEND", "");
    return png;
}

}  // namespace tolvek
