#include "c64/basic.hpp"

#include <array>
#include <string_view>

namespace tolvek {
namespace {

// BASIC V2 keywords for tokens $80 to $CB.
constexpr std::array<std::string_view, 76> kKeywords{
    "END",   "FOR",    "NEXT",  "DATA",  "INPUT#", "INPUT", "DIM",   "READ",
    "LET",   "GOTO",   "RUN",   "IF",    "RESTORE", "GOSUB", "RETURN", "REM",
    "STOP",  "ON",     "WAIT",  "LOAD",  "SAVE",   "VERIFY", "DEF",  "POKE",
    "PRINT#", "PRINT", "CONT",  "LIST",  "CLR",    "CMD",   "SYS",   "OPEN",
    "CLOSE", "GET",    "NEW",   "TAB(",  "TO",     "FN",    "SPC(",  "THEN",
    "NOT",   "STEP",   "+",     "-",     "*",      "/",     "^",     "AND",
    "OR",    ">",      "=",     "<",     "SGN",    "INT",   "ABS",   "USR",
    "FRE",   "POS",    "SQR",   "RND",   "LOG",    "EXP",   "COS",   "SIN",
    "TAN",   "ATN",    "PEEK",  "LEN",   "STR$",   "VAL",   "ASC",   "CHR$",
    "LEFT$", "RIGHT$", "MID$",  "GO",
};

void append_hex(std::string& out, std::uint8_t byte) {
    constexpr std::string_view digits = "0123456789ABCDEF";
    out += "{$";
    out += digits[byte >> 4];
    out += digits[byte & 15];
    out += '}';
}

// A byte as the C64 shows it in its default character set; anything
// without a plain ASCII look is written as {$xx}.
void append_char(std::string& out, std::uint8_t byte) {
    if (byte >= 0x20 && byte <= 0x5d && byte != 0x5c) {
        out += static_cast<char>(byte);
    } else {
        append_hex(out, byte);
    }
}

}  // namespace

std::string detokenize(const std::vector<std::uint8_t>& text) {
    std::string out;
    bool quoted = false;
    for (std::uint8_t byte : text) {
        if (byte == '"') quoted = !quoted;
        if (!quoted && byte >= 0x80 && byte < 0x80 + kKeywords.size()) {
            out += kKeywords[byte - 0x80u];
        } else if (!quoted && byte == 0xff) {
            out += "{PI}";
        } else {
            append_char(out, byte);
        }
    }
    return out;
}

BasicProgram find_basic(const Image& image) {
    BasicProgram program;
    std::uint32_t at = image.load;
    auto word = [&](std::uint32_t address) {
        return static_cast<std::uint32_t>(image.at(address) | image.at(address + 1) << 8);
    };
    while (true) {
        if (at + 2 > image.end()) return {};
        const std::uint32_t link = word(at);
        if (link == 0) break;
        // A line has a link, a line number and a closing zero; its link
        // points right behind that zero.
        if (link <= at + 4 || link > image.end()) return {};
        if (image.at(link - 1) != 0) return {};
        const std::uint32_t number = word(at + 2);
        if (number > 63999) return {};
        std::vector<std::uint8_t> text;
        for (std::uint32_t a = at + 4; a < link - 1; ++a) {
            if (image.at(a) == 0) return {};
            text.push_back(image.at(a));
        }
        program.lines.push_back({at, link - at, std::to_string(number) + " " + detokenize(text)});
        at = link;
    }
    if (program.lines.empty()) return {};
    program.end = at + 2;
    return program;
}

}  // namespace tolvek
