// Finding copied code in the image: the index must find what a plain
// search finds, the lowest place a string occurs, on images made to have
// many near matches.
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <random>

#include "analysis/image_search.hpp"

namespace {

std::optional<std::uint32_t> plain_search(const std::vector<std::uint8_t>& bytes, const std::vector<std::uint8_t>& pattern) {
    if (pattern.empty()) return std::nullopt;
    const auto found = std::search(bytes.begin(), bytes.end(), pattern.begin(), pattern.end());
    if (found == bytes.end()) return std::nullopt;
    return static_cast<std::uint32_t>(found - bytes.begin());
}

TEST(ImageSearch, FindsTheLowestOccurrenceAsAPlainSearchDoes) {
    std::mt19937 random(12345);
    for (int round = 0; round < 300; ++round) {
        SCOPED_TRACE(round);
        // Two or three byte values, so that strings repeat and overlap.
        const std::uint32_t values = round % 2 == 0 ? 2u : 3u;
        std::vector<std::uint8_t> bytes(1 + random() % 300);
        for (auto& b : bytes) b = static_cast<std::uint8_t>(random() % values);
        const tolvek::ImageSearch search(bytes);
        for (int query = 0; query < 40; ++query) {
            std::vector<std::uint8_t> pattern;
            if (query % 2 == 0) {
                // A piece of the bytes, perhaps changed at its end.
                const std::size_t from = random() % bytes.size();
                const std::size_t length = 1 + random() % (bytes.size() - from);
                pattern.assign(bytes.begin() + static_cast<std::ptrdiff_t>(from),
                               bytes.begin() + static_cast<std::ptrdiff_t>(from + length));
                if (query % 4 == 0) pattern.back() = static_cast<std::uint8_t>(random() % (values + 1));
            } else {
                pattern.resize(1 + random() % 12);
                for (auto& b : pattern) b = static_cast<std::uint8_t>(random() % values);
            }
            EXPECT_EQ(search.first(pattern), plain_search(bytes, pattern));
        }
    }
}

TEST(ImageSearch, EdgesOfTheImage) {
    const std::vector<std::uint8_t> nops(5000, 0xea);
    const tolvek::ImageSearch search(nops);
    EXPECT_EQ(search.first(std::vector<std::uint8_t>(5000, 0xea)), 0u);
    EXPECT_EQ(search.first(std::vector<std::uint8_t>(5001, 0xea)), std::nullopt);  // longer than the image
    std::vector<std::uint8_t> almost(4000, 0xea);
    almost.push_back(0x60);
    EXPECT_EQ(search.first(almost), std::nullopt);  // a near match everywhere, a match nowhere
    EXPECT_EQ(search.first({}), std::nullopt);

    std::vector<std::uint8_t> ends = nops;
    ends.back() = 0x60;
    EXPECT_EQ(tolvek::ImageSearch(ends).first(almost), 999u);  // only at the very end
    const std::vector<std::uint8_t> none;
    EXPECT_EQ(tolvek::ImageSearch(none).first(almost), std::nullopt);
}

}  // namespace
