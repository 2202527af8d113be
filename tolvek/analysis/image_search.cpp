#include "analysis/image_search.hpp"

#include <algorithm>
#include <bit>
#include <cstring>
#include <numeric>

namespace tolvek {

ImageSearch::ImageSearch(const std::vector<std::uint8_t>& bytes) : bytes_(bytes) {
    const std::size_t n = bytes.size();
    if (n == 0) return;
    // The suffixes sorted by doubling prefixes, each round two counting
    // sorts: after the round with step k they are in the order of their
    // first 2k bytes, equal `rank` for those that share them. A suffix that
    // ends within the prefix comes before the longer ones that share it.
    std::vector<std::uint32_t> rank(bytes.begin(), bytes.end());
    std::vector<std::uint32_t> order(n);
    std::vector<std::uint32_t> count(std::max<std::size_t>(256, n) + 1);
    suffixes_.resize(n);
    const auto sort_by_rank = [&](const std::vector<std::uint32_t>& in) {
        std::fill(count.begin(), count.end(), 0u);
        for (const std::uint32_t i : in) ++count[rank[i] + 1];
        std::partial_sum(count.begin(), count.end(), count.begin());
        for (const std::uint32_t i : in) suffixes_[count[rank[i]]++] = i;
    };
    std::iota(order.begin(), order.end(), 0u);
    sort_by_rank(order);
    std::vector<std::uint32_t> next(n);
    for (std::size_t k = 1; k < n; k *= 2) {
        // By the second half first: those that have none, then the others
        // in the order of their second half; stable by the first half then.
        std::size_t p = 0;
        for (std::size_t i = n - k; i < n; ++i) order[p++] = static_cast<std::uint32_t>(i);
        for (const std::uint32_t i : suffixes_) {
            if (i >= k) order[p++] = static_cast<std::uint32_t>(i - k);
        }
        const auto second = [&](std::uint32_t i) { return i + k < n ? std::int64_t{rank[i + k]} : std::int64_t{-1}; };
        // The first round's ranks are bytes: sorted by the byte first.
        sort_by_rank(order);
        next[suffixes_[0]] = 0;
        for (std::size_t i = 1; i < n; ++i) {
            const std::uint32_t a = suffixes_[i - 1];
            const std::uint32_t b = suffixes_[i];
            next[b] = next[a] + (rank[a] != rank[b] || second(a) != second(b) ? 1 : 0);
        }
        rank.swap(next);
        if (rank[suffixes_[n - 1]] == n - 1) break;
    }
    // A sparse table for the lowest offset in any range of them.
    lowest_.push_back(suffixes_);
    for (std::size_t width = 2; width <= n; width *= 2) {
        const std::vector<std::uint32_t>& below = lowest_.back();
        std::vector<std::uint32_t> level(n - width + 1);
        for (std::size_t i = 0; i < level.size(); ++i) level[i] = std::min(below[i], below[i + width / 2]);
        lowest_.push_back(std::move(level));
    }
}

int ImageSearch::compare(std::uint32_t offset, std::span<const std::uint8_t> pattern) const {
    const std::size_t available = bytes_.size() - offset;
    const std::size_t length = std::min(available, pattern.size());
    const int order = std::memcmp(bytes_.data() + offset, pattern.data(), length);
    if (order != 0) return order;
    return available < pattern.size() ? -1 : 0;  // a prefix of the pattern comes first
}

std::uint32_t ImageSearch::lowest(std::size_t from, std::size_t to) const {
    const auto level = static_cast<std::size_t>(std::bit_width(to - from) - 1);
    return std::min(lowest_[level][from], lowest_[level][to - (std::size_t{1} << level)]);
}

std::optional<std::uint32_t> ImageSearch::first(std::span<const std::uint8_t> pattern) const {
    if (pattern.empty() || pattern.size() > bytes_.size()) return std::nullopt;
    const auto from = std::partition_point(suffixes_.begin(), suffixes_.end(),
                                           [&](std::uint32_t offset) { return compare(offset, pattern) < 0; });
    const auto to = std::partition_point(from, suffixes_.end(),
                                         [&](std::uint32_t offset) { return compare(offset, pattern) == 0; });
    if (from == to) return std::nullopt;
    return lowest(static_cast<std::size_t>(from - suffixes_.begin()), static_cast<std::size_t>(to - suffixes_.begin()));
}

}  // namespace tolvek
