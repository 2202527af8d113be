#include "analysis/text.hpp"

#include <cctype>

#include "c64/petscii.hpp"

namespace tolvek {
namespace {

// Shorter runs of printable bytes are too often numbers or pointers.
constexpr std::uint32_t kMinText = 4;

// Printable bytes that read as words or numbers, not as a table that
// happens to be printable: mostly letters, digits and spaces, and not one
// byte repeated.
bool looks_like_text(const Image& image, std::uint32_t begin, std::uint32_t end) {
    std::uint32_t plain = 0;
    bool varied = false;
    for (std::uint32_t a = begin; a < end; ++a) {
        const char c = petscii_char(image.at(a));
        plain += (std::isalnum(static_cast<unsigned char>(c)) || c == ' ') ? 1u : 0u;
        varied = varied || image.at(a) != image.at(begin);
    }
    return varied && plain * 2 >= end - begin;
}

}  // namespace

void mark_text(MemoryMap& map) {
    const Image& image = map.image();
    // Plain pointers: this pass looks at every byte of the image.
    const Kind* kinds = map.kinds().data();
    const std::uint8_t* bytes = image.bytes.data();
    const std::size_t end = image.bytes.size();
    const auto printable = [&](std::size_t i) { return petscii_char(bytes[i]) != 0 && kinds[i] == Kind::Unknown; };
    for (std::size_t i = image.offset(map.basic_end()); i < end;) {
        if (!printable(i)) {
            ++i;
            continue;
        }
        std::size_t j = i + 1;
        while (j < end && printable(j)) ++j;
        const auto a = image.load + static_cast<std::uint32_t>(i);
        const auto b = image.load + static_cast<std::uint32_t>(j);
        if (b - a >= kMinText && looks_like_text(image, a, b)) {
            for (std::uint32_t t = a; t < b; ++t) map.set(t, Kind::Petscii, Source::TextScan);
        }
        i = j;
    }
}

}  // namespace tolvek
