// The disassembly as rows of source text, shared by the .asm and .lst
// writers: labels, equates, instructions and data rows.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "image.hpp"
#include "trace.hpp"

namespace tolvek {

struct Row {
    std::uint32_t address = 0;
    std::uint32_t size = 0;  // bytes of the image this row produces
    std::string label;       // defined at this row's address, or empty
    std::string text;        // "lda #$00" or "!byte $01,$02"
    std::string comment;     // without the leading "; ", may be empty
    bool ends_flow = false;  // rts, rti, brk or jmp: nothing falls through
};

struct Symbol {
    std::string name;
    std::uint32_t address = 0;
};

struct Listing {
    std::vector<std::string> header;  // comment lines without "; "
    std::vector<Symbol> equates;      // known addresses outside the image
    std::uint32_t origin = 0;
    std::vector<Row> rows;
    std::string end_label;         // label on the address after the image
    std::vector<Symbol> symbols;   // labels and equates, by address
};

Listing build_listing(const Image& image, const Analysis& analysis, std::string_view image_name);

// The character a byte stands for in the C64's upper/lower case set, for
// comments on data; 0 when it has no plain ASCII look.
inline char petscii_char(std::uint8_t byte) {
    if (byte >= 0x41 && byte <= 0x5a) return static_cast<char>(byte + 0x20);  // a-z
    if (byte >= 0xc1 && byte <= 0xda) return static_cast<char>(byte - 0x80);  // A-Z
    if ((byte >= 0x20 && byte <= 0x40) || byte == 0x5b || byte == 0x5d) return static_cast<char>(byte);
    return 0;
}

}  // namespace tolvek
