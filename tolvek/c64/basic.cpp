#include "c64/basic.hpp"

#include <array>
#include <cmath>
#include <optional>
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

constexpr std::uint8_t kData = 0x83;
constexpr std::uint8_t kRem = 0x8f;
constexpr std::uint8_t kSys = 0x9e;
constexpr std::uint8_t kPlus = 0xaa;
constexpr std::uint8_t kMinus = 0xab;
constexpr std::uint8_t kTimes = 0xac;
constexpr std::uint8_t kDivide = 0xad;

// A constant expression in a line's tokenized text, read as BASIC reads
// it: spaces skipped everywhere. Anything but numbers, + - * / and
// parentheses (a variable, a function, ^) makes it no constant.
class Constant {
public:
    Constant(const std::vector<std::uint8_t>& text, std::size_t at) : text_(text), at_(at) {}

    // The value of the expression from `at` up to the statement's end, a
    // comma or the line's end.
    std::optional<double> read() {
        const std::optional<double> value = sum(0);
        if (!value) return std::nullopt;
        const std::uint8_t next = peek();
        if (next != 0 && next != ':' && next != ',') return std::nullopt;
        return value;
    }

private:
    static constexpr int kMaxDepth = 32;

    // The next byte that is not a space, or 0 at the end.
    std::uint8_t peek() {
        while (at_ < text_.size() && text_[at_] == ' ') ++at_;
        return at_ < text_.size() ? text_[at_] : 0;
    }

    std::optional<double> sum(int depth) {
        std::optional<double> value = product(depth);
        while (value && (peek() == kPlus || peek() == kMinus)) {
            const bool plus = text_[at_++] == kPlus;
            const std::optional<double> right = product(depth);
            if (!right) return std::nullopt;
            *value = plus ? *value + *right : *value - *right;
        }
        return value;
    }

    std::optional<double> product(int depth) {
        std::optional<double> value = factor(depth);
        while (value && (peek() == kTimes || peek() == kDivide)) {
            const bool times = text_[at_++] == kTimes;
            const std::optional<double> right = factor(depth);
            if (!right || (!times && *right == 0)) return std::nullopt;
            *value = times ? *value * *right : *value / *right;
        }
        return value;
    }

    std::optional<double> factor(int depth) {
        if (depth > kMaxDepth) return std::nullopt;
        const std::uint8_t next = peek();
        if (next == kPlus || next == kMinus) {
            ++at_;
            const std::optional<double> value = factor(depth + 1);
            if (value && next == kMinus) return -*value;
            return value;
        }
        if (next == '(') {
            ++at_;
            const std::optional<double> value = sum(depth + 1);
            if (!value || peek() != ')') return std::nullopt;
            ++at_;
            return value;
        }
        return number();
    }

    // Digits with an optional fraction, spaces allowed between them.
    std::optional<double> number() {
        double value = 0;
        bool digits = false;
        while (peek() >= '0' && peek() <= '9') {
            value = value * 10 + (text_[at_++] - '0');
            digits = true;
        }
        if (peek() == '.') {
            ++at_;
            for (double scale = 0.1; peek() >= '0' && peek() <= '9'; scale /= 10) {
                value += scale * (text_[at_++] - '0');
                digits = true;
            }
        }
        if (!digits) return std::nullopt;
        return value;
    }

    const std::vector<std::uint8_t>& text_;
    std::size_t at_;
};

}  // namespace

std::vector<std::uint32_t> sys_addresses(const std::vector<std::uint8_t>& text) {
    std::vector<std::uint32_t> addresses;
    bool quoted = false;
    bool data = false;  // in the text of a DATA statement
    for (std::size_t i = 0; i < text.size(); ++i) {
        const std::uint8_t byte = text[i];
        if (byte == '"') quoted = !quoted;
        if (quoted) continue;
        if (data) {
            data = byte != ':';
            continue;
        }
        if (byte == kRem) break;
        data = byte == kData;
        if (byte != kSys) continue;
        const std::optional<double> value = Constant(text, i + 1).read();
        if (value && *value >= 0 && *value < 65536) addresses.push_back(static_cast<std::uint32_t>(std::floor(*value)));
    }
    return addresses;
}

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

std::optional<SysCall> first_sys_after(const BasicProgram& program,
                                       const std::function<bool(std::uint32_t)>& into) {
    for (const BasicLine& line : program.lines) {
        for (const std::uint32_t address : line.sys) {
            if (address >= program.end && into(address)) return SysCall{address, line.number};
        }
    }
    return std::nullopt;
}

BasicProgram find_basic(const Image& image) {
    BasicProgram program;
    std::uint32_t at = image.load;
    while (true) {
        if (at + 2 > image.end()) return {};
        const std::uint32_t link = image.word(at);
        if (link == 0) break;
        // A line has a link, a line number and a closing zero; its link
        // points right behind that zero.
        if (link <= at + 4 || link > image.end()) return {};
        if (image.at(link - 1) != 0) return {};
        const std::uint32_t number = image.word(at + 2);
        if (number > 63999) return {};
        std::vector<std::uint8_t> text;
        for (std::uint32_t a = at + 4; a < link - 1; ++a) {
            if (image.at(a) == 0) return {};
            text.push_back(image.at(a));
        }
        program.lines.push_back({at, link - at, std::to_string(number) + " " + detokenize(text), number, sys_addresses(text)});
        at = link;
    }
    if (program.lines.empty()) return {};
    program.end = at + 2;
    return program;
}

}  // namespace tolvek
