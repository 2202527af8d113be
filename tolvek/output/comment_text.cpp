#include "output/comment_text.hpp"

namespace tolvek {
namespace {

unsigned byte_at(std::string_view text, std::size_t i) {
    return i < text.size() ? static_cast<unsigned char>(text[i]) : 0u;
}

// The length of the UTF-8 sequence at text[i], or 0 where there is none
// (a stray or cut-off byte, an overlong form, a surrogate, beyond U+10FFFF).
std::size_t utf8_length(std::string_view text, std::size_t i) {
    const unsigned c = byte_at(text, i);
    const auto follows = [&](std::size_t n, unsigned low, unsigned high) {
        const unsigned second = byte_at(text, i + 1);
        if (second < low || second > high) return false;
        for (std::size_t k = 2; k < n; ++k) {
            if ((byte_at(text, i + k) & 0xc0) != 0x80) return false;
        }
        return true;
    };
    if (c < 0x80) return 1;
    if (c >= 0xc2 && c <= 0xdf) return follows(2, 0x80, 0xbf) ? 2 : 0;
    if (c == 0xe0) return follows(3, 0xa0, 0xbf) ? 3 : 0;
    if (c == 0xed) return follows(3, 0x80, 0x9f) ? 3 : 0;
    if (c >= 0xe1 && c <= 0xef) return follows(3, 0x80, 0xbf) ? 3 : 0;
    if (c == 0xf0) return follows(4, 0x90, 0xbf) ? 4 : 0;
    if (c >= 0xf1 && c <= 0xf3) return follows(4, 0x80, 0xbf) ? 4 : 0;
    if (c == 0xf4) return follows(4, 0x80, 0x8f) ? 4 : 0;
    return 0;
}

// The length of the character at text[i] when it must be escaped, else 0.
// Bytes that are not UTF-8 are escaped one by one: an assembler may read a
// source as UTF-8, and ca65 stops reading at a $FF byte even in a comment.
std::size_t escaped_length(std::string_view text, std::size_t i, bool preprocessed) {
    const unsigned c = byte_at(text, i);
    if (c < 0x20 || c == 0x7f || c == '\\') return 1;
    if (preprocessed && c == '/' && byte_at(text, i + 1) == '*') return 1;
    if (c >= 0x80 && utf8_length(text, i) == 0) return 1;
    if (c == 0xc2 && byte_at(text, i + 1) >= 0x80 && byte_at(text, i + 1) <= 0x9f) return 2;  // C1 control
    if (c == 0xe2 && byte_at(text, i + 1) == 0x80 && (byte_at(text, i + 2) & 0xfe) == 0xa8) return 3;  // U+2028/9
    return 0;
}

void append_hex(std::string& out, std::string_view prefix, unsigned value) {
    constexpr std::string_view digits = "0123456789abcdef";
    out += prefix;
    out += digits[(value >> 4) & 15];
    out += digits[value & 15];
}

// The escape of one character that escaped_length picked out.
void append_escape(std::string& out, std::string_view character, bool preprocessed) {
    const unsigned c = byte_at(character, 0);
    if (preprocessed && (c == '/' || c == '\\')) return append_hex(out, "\\x", c);
    if (character.size() == 2) return append_hex(out, "\\u00", byte_at(character, 1));
    if (character.size() == 3) return append_hex(out, "\\u20", byte_at(character, 2) - 0x80);
    switch (c) {
    case '\\': out += "\\\\"; break;
    case '\n': out += "\\n"; break;
    case '\r': out += "\\r"; break;
    case '\t': out += "\\t"; break;
    default: append_hex(out, "\\x", c); break;
    }
}

}  // namespace

std::string one_line(std::string_view text) {
    std::string line;
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t length = utf8_length(text, i);
        const unsigned c = byte_at(text, i);
        const bool control = c < 0x20 || c == 0x7f || (c == 0xc2 && byte_at(text, i + 1) <= 0x9f);
        if (length == 0 || control) {
            line += '?';
        } else {
            line.append(text.substr(i, length));
        }
        i += length == 0 ? 1 : length;  // a byte that is not UTF-8 alone
    }
    return line;
}

void append_comment_text(std::string& out, std::string_view text, bool preprocessed) {
    std::size_t kept = 0;  // text[kept, i) goes out as it is
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t length = escaped_length(text, i, preprocessed);
        if (length == 0) {
            i += utf8_length(text, i);
            continue;
        }
        out.append(text.substr(kept, i - kept));
        append_escape(out, text.substr(i, length), preprocessed);
        i += length;
        kept = i;
    }
    out.append(text.substr(kept));
}

}  // namespace tolvek
