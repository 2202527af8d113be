// The disassembly as rows of source text, shared by the .asm and .lst
// writers: labels, equates, instructions and data rows.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "image.hpp"
#include "trace.hpp"

namespace tolvek {

// Where the texts of a listing live: big blocks that are filled one text
// after another. Ten thousand rows with strings of their own spent more time
// in allocating, touching fresh pages and freeing than in disassembling.
// Texts handed out stay put for the store's lifetime, also when it moves.
class TextStore {
public:
    TextStore() = default;
    TextStore(TextStore&&) = default;
    TextStore& operator=(TextStore&&) = default;
    TextStore(const TextStore&) = delete;  // views would point into the original
    TextStore& operator=(const TextStore&) = delete;

    // Room for `size` chars that the caller fills in.
    char* room(std::size_t size);
    std::string_view keep(std::string_view text) {
        if (text.empty()) return {};
        char* at = room(text.size());
        text.copy(at, text.size());
        return {at, text.size()};
    }

private:
    static constexpr std::size_t kBlockSize = 64 * 1024;
    std::vector<std::unique_ptr<char[]>> blocks_;
    char* free_ = nullptr;  // unused part of the newest block
    std::size_t free_size_ = 0;
};

// A row's texts are kept in its listing's store.
struct Row {
    std::uint32_t address = 0;
    std::uint32_t size = 0;     // bytes of the image this row produces
    std::string_view label;     // defined at this row's address, or empty
    std::string_view text;      // "lda #$00" or "!byte $01,$02"
    std::string_view comment;   // without the leading "; ", may be empty
    bool ends_flow = false;     // rts, rti, brk or jmp: nothing falls through
};

struct Symbol {
    std::string_view name;  // in the listing's store
    std::uint32_t address = 0;
};

struct Listing {
    std::vector<std::string> header;  // comment lines without "; "
    std::vector<Symbol> equates;      // known addresses outside the image
    std::uint32_t origin = 0;
    std::vector<Row> rows;
    std::string_view end_label;    // label on the address after the image
    std::vector<Symbol> symbols;   // labels and equates, by address
    TextStore store;               // the texts of rows and symbols
};

Listing build_listing(const Image& image, const Analysis& analysis, std::string_view image_name);

// The character a byte stands for in the C64's upper/lower case set, for
// comments on data; 0 when it has no plain ASCII look. Row n of the table is
// byte n: looked up, as tests on data bytes mispredict half of the time.
inline constexpr std::array<char, 256> kPetsciiChars = [] {
    std::array<char, 256> chars{};
    for (int byte = 0; byte < 256; ++byte) {
        char c = 0;
        if (byte >= 0x41 && byte <= 0x5a) c = static_cast<char>(byte + 0x20);  // a-z
        if (byte >= 0xc1 && byte <= 0xda) c = static_cast<char>(byte - 0x80);  // A-Z
        if ((byte >= 0x20 && byte <= 0x40) || byte == 0x5b || byte == 0x5d) c = static_cast<char>(byte);
        chars[static_cast<std::size_t>(byte)] = c;
    }
    return chars;
}();

inline char petscii_char(std::uint8_t byte) { return kPetsciiChars[byte]; }

}  // namespace tolvek
