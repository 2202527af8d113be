// Where a run of bytes occurs in the image: code a program copied and ran
// elsewhere is looked for in the image, once for every piece it ran.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace tolvek {

// Finds byte strings in `bytes` in time that depends on the string's length,
// not the image's, so that thousands of pieces of copied code cost little
// more than one. Keeps a reference to `bytes`, which must outlive it.
class ImageSearch {
public:
    explicit ImageSearch(const std::vector<std::uint8_t>& bytes);

    // The lowest offset in the bytes where `pattern` starts, if it occurs.
    std::optional<std::uint32_t> first(std::span<const std::uint8_t> pattern) const;

private:
    // Whether the bytes from `offset` on come before `pattern` in byte order,
    // comparing no more than the pattern's length.
    int compare(std::uint32_t offset, std::span<const std::uint8_t> pattern) const;
    // The lowest offset among suffixes_[from, to).
    std::uint32_t lowest(std::size_t from, std::size_t to) const;

    const std::vector<std::uint8_t>& bytes_;
    std::vector<std::uint32_t> suffixes_;            // the offsets, in the byte order of what starts there
    std::vector<std::vector<std::uint32_t>> lowest_;  // [k][i]: the lowest offset among suffixes_[i, i + 2^k)
};

}  // namespace tolvek
