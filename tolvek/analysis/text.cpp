#include "analysis/text.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cctype>
#include <cstring>
#include <optional>
#include <string_view>
#include <utility>

#include "analysis/io_banking.hpp"
#include "c64/petscii.hpp"
#include "cpu/decode.hpp"

namespace tolvek {
namespace {

// Shorter runs of printable bytes are too often numbers or pointers; most
// bytes of data read as some screen code.
constexpr std::uint32_t kMinText = 4;
constexpr std::uint32_t kMinScreenText = 5;

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

// Screen codes take more to believe: tables of small numbers (colours,
// indices, sines, tiles) read as letters. Text has a space and a word of
// three letters at least; mostly letters, digits and spaces; at least half
// of the letters are $01-$1A (bytes that PETSCII text does not hold);
// capitals only at the start of a word or all through it (not "lLip",
// "CXh"); no letter three times in a row; three different letters at
// least; and vowels among the letters as in a language, not as in a table.
bool looks_like_screen_text(const Image& image, std::uint32_t begin, std::uint32_t end) {
    std::uint32_t plain = 0;
    std::uint32_t letters = 0;
    std::uint32_t screen_only = 0;
    std::uint32_t vowels = 0;
    std::uint32_t repeats = 0;  // of the letter before, in a row
    std::uint32_t word = 0;     // letters of the current word
    std::uint32_t capitals = 0; // of them, capitals ($41-$5A)
    std::uint64_t seen = 0;     // which letters occur, by screen code & 63
    bool long_word = false;
    bool space = false;
    for (std::uint32_t a = begin; a < end; ++a) {
        const std::uint8_t byte = image.at(a);
        const char c = screen_char(byte);
        const auto u = static_cast<unsigned char>(c);
        const bool letter = std::isalpha(u) != 0;
        plain += (letter || std::isdigit(u) != 0 || c == ' ') ? 1u : 0u;
        repeats = letter && a > begin && byte == image.at(a - 1) ? repeats + 1 : 0;
        if (repeats >= 2) return false;
        const bool capital = byte >= 0x41;
        if (letter) {
            // A capital after a small letter, or a small letter after two
            // capitals.
            if (capital ? capitals < word : word >= 2 && capitals == word) return false;
            capitals = capital ? capitals + 1 : capitals;
        }
        word = letter ? word + 1 : 0;
        capitals = letter ? capitals : 0;
        long_word = long_word || word >= 3;
        space = space || c == ' ';
        if (letter) {
            ++letters;
            screen_only += byte < 0x20 ? 1u : 0u;
            vowels += std::string_view("aeiouyAEIOUY").find(c) != std::string_view::npos ? 1u : 0u;
            seen |= std::uint64_t{1} << (byte & 63);
        }
    }
    return space && long_word && std::popcount(seen) >= 3 && plain * 4 >= (end - begin) * 3 &&
           screen_only * 2 >= letters && vowels * 5 >= letters;
}

// Where the text of a run of printable bytes in [begin, end) starts and
// ends: an @ ($00) among its first or last three bytes is more likely the
// zero that ends a text before it (and what stands before is that text's
// last byte) or after it.
std::pair<std::uint32_t, std::uint32_t> screen_text_in(const Image& image, std::uint32_t begin, std::uint32_t end) {
    for (std::uint32_t a = begin; a < end && a < begin + 3; ++a) {
        if (image.at(a) == 0) begin = a + 1;
    }
    for (std::uint32_t a = end; a > begin && a + 3 > end; --a) {
        if (image.at(a - 1) == 0) end = a - 1;
    }
    return {begin, end};
}

// The addresses in the image that instructions name as data (not the
// chips'), in order.
std::vector<std::uint32_t> named_addresses(const MemoryMap& map) {
    const Image& image = map.image();
    std::vector<std::uint32_t> named;
    for (const std::uint32_t at : map.instructions()) {
        const std::uint8_t byte = image.at(at);
        if (!has_address(opcode(byte).mode) || flow_of(byte) != Flow::Next) continue;
        const std::uint32_t target = operand_of(image, at);
        if (image.contains(target) && !names_chip(map, at, target)) named.push_back(target);
    }
    std::sort(named.begin(), named.end());
    return named;
}

// The run of bytes around `at` (which passes `in_run`) in [first, end)
// that all pass `in_run`, as offsets into the image.
template <typename InRun>
std::pair<std::size_t, std::size_t> run_around(std::size_t at, std::size_t first, std::size_t end, InRun in_run) {
    std::size_t begin = at;
    while (begin > first && in_run(begin - 1)) --begin;
    std::size_t stop = at + 1;
    while (stop < end && in_run(stop)) ++stop;
    return {begin, stop};
}

// Runs of printable PETSCII among the bytes nothing claimed, where they
// read as words or numbers.
void mark_petscii_text(MemoryMap& map) {
    const Image& image = map.image();
    // Plain pointers: this pass looks at every byte of the image.
    const Kind* kinds = map.kinds().data();
    const std::uint8_t* bytes = image.bytes.data();
    const std::size_t first = image.offset(map.basic_end());
    const std::size_t end = image.bytes.size();
    const auto petscii = [&](std::size_t i) { return petscii_char(bytes[i]) != 0 && kinds[i] == Kind::Unknown; };
    for (std::size_t i = first; i < end;) {
        if (!petscii(i)) {
            ++i;
            continue;
        }
        const auto [begin, stop] = run_around(i, first, end, petscii);
        const auto a = image.load + static_cast<std::uint32_t>(begin);
        const auto b = image.load + static_cast<std::uint32_t>(stop);
        if (b - a >= kMinText && looks_like_text(image, a, b)) {
            for (std::uint32_t t = a; t < b; ++t) map.set(t, Kind::Petscii, Source::TextScan);
        }
        i = stop;
    }
}

// Screen codes among the rest. Spaces, digits and signs read the same in
// both: where the PETSCII scan took them, screen text next to them takes
// them over.
void mark_screen_text(MemoryMap& map) {
    const Image& image = map.image();
    const Kind* kinds = map.kinds().data();
    const std::uint8_t* bytes = image.bytes.data();
    const std::size_t first = image.offset(map.basic_end());
    const std::size_t end = image.bytes.size();
    // Which bytes may be screen text is looked up by byte and kind.
    static constexpr std::array<std::uint8_t, 256> kByteFlags = [] {
        std::array<std::uint8_t, 256> flags{};
        for (int byte = 0; byte < 256; ++byte) {
            const bool printable = kScreenChars[static_cast<std::size_t>(byte)] != 0;
            flags[static_cast<std::size_t>(byte)] = (printable ? 1 : 0) | (byte >= 0x20 && byte < 0x40 ? 2 : 0);
        }
        return flags;
    }();
    static constexpr std::array<std::uint8_t, 256> kKindFlags = [] {
        std::array<std::uint8_t, 256> flags{};
        flags[static_cast<std::size_t>(Kind::Unknown)] = 1;  // any printable byte
        flags[static_cast<std::size_t>(Kind::Petscii)] = 2;  // the ones that read the same
        return flags;
    }();
    const auto screen = [&](std::size_t i) {
        return (kByteFlags[bytes[i]] & kKindFlags[static_cast<std::uint8_t>(kinds[i])]) != 0;
    };
    // Text has spaces: only the runs around one are looked at, found with
    // memchr rather than a test of every byte.
    std::optional<std::vector<std::uint32_t>> named;
    for (std::size_t from = first; from < end;) {
        const void* space = std::memchr(bytes + from, ' ', end - from);
        if (space == nullptr) break;
        const auto at = static_cast<std::size_t>(static_cast<const std::uint8_t*>(space) - bytes);
        if (!screen(at)) {
            from = at + 1;
            continue;
        }
        const auto [i, j] = run_around(at, first, end, screen);
        from = j;
        if (j - i < kMinScreenText) continue;
        // Small numbers next to text read as letters too: what the code
        // names on its own (a table of colours, the next text) is no part
        // of the text before it.
        if (!named) named = named_addresses(map);
        std::uint32_t piece = image.load + static_cast<std::uint32_t>(i);
        const auto run_end = image.load + static_cast<std::uint32_t>(j);
        auto next = std::upper_bound(named->begin(), named->end(), piece);
        while (piece < run_end) {
            const std::uint32_t piece_end = next != named->end() && *next < run_end ? *next++ : run_end;
            const auto [a, b] = screen_text_in(image, piece, piece_end);
            if (b > a && b - a >= kMinScreenText && looks_like_screen_text(image, a, b)) {
                for (std::uint32_t t = a; t < b; ++t) map.set(t, Kind::ScreenCode, Source::TextScan);
            }
            piece = piece_end;
        }
    }
}

}  // namespace

void mark_text(MemoryMap& map) {
    mark_petscii_text(map);
    mark_screen_text(map);
}

}  // namespace tolvek
