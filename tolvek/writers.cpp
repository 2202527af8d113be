#include "writers.hpp"

#include <algorithm>
#include <array>
#include <string_view>
#include <utility>

#include "comment_text.hpp"
#include "labels.hpp"

namespace tolvek {
namespace {

// The text of a whole file, built up in one string: parts are appended to
// the current line, and every line ends through end_line(), the one place
// to change the line ending.
class Text {
public:
    // `expected` is a guess at the final size, to spare regrowing.
    explicit Text(std::size_t expected) { out_.reserve(expected); }

    Text& operator<<(std::string_view part) {
        out_ += part;
        return *this;
    }
    Text& spaces(std::size_t count) {
        out_.append(count, ' ');
        return *this;
    }
    // Text inside a comment: whatever it holds, it stays there.
    Text& comment(std::string_view part) {
        append_comment_text(out_, part);
        return *this;
    }
    // Hex digits without the "$".
    Text& digits(std::uint32_t value, int count) {
        append_hex_digits(out_, value, count);
        return *this;
    }
    void end_line() { out_ += kNewline; }
    void line(std::string_view content = {}) {
        *this << content;
        end_line();
    }
    std::string take() { return std::move(out_); }

private:
    static constexpr std::string_view kNewline = "\n";
    std::string out_;
};

constexpr std::size_t kTextWidth = 24;  // column where row comments start

// Rough sizes of a row in each file, for reserving the text.
constexpr std::size_t kAsmRowSize = 40;
constexpr std::size_t kLstRowSize = 80;

// The source of a row: instruction or data, and its comment, which starts
// at column kTextWidth of the source (or one space after a longer text).
void source(Text& text, const Row& row) {
    text << row.text;
    if (row.comment.empty()) return;
    text.spaces(row.text.size() < kTextWidth ? kTextWidth - row.text.size() : 1) << "; ";
    text.comment(row.comment);
}

void header(Text& text, const Listing& listing) {
    for (const std::string& line : listing.header) {
        text << "; ";
        text.comment(line).end_line();
    }
    text.line();
}

}  // namespace

std::string write_asm(const Listing& listing) {
    Text text(listing.rows.size() * kAsmRowSize);
    header(text, listing);
    if (!listing.equates.empty()) {
        for (const Symbol& symbol : listing.equates) {
            text << symbol.name << " = $";
            text.digits(symbol.address, symbol.address < 0x100 ? 2 : 4).end_line();
        }
        text.line();
    }
    text << "\t* = $";
    text.digits(listing.origin, 4).end_line();
    for (const Row& row : listing.rows) {
        if (!row.label.empty()) text.line(row.label);
        text << "\t";
        source(text, row);
        text.end_line();
        if (row.ends_flow) text.line();  // a blank line between routines
    }
    if (!listing.end_label.empty()) text.line(listing.end_label);
    return text.take();
}

std::string write_lst(const Listing& listing, const Image& image) {
    Text text(listing.rows.size() * kLstRowSize);
    header(text, listing);
    // A row's columns: the address, two spaces, room for eight hex pairs,
    // ten spaces, the source; a label stands two spaces after the pairs.
    constexpr std::size_t kBytesAt = 4 + 2;
    constexpr std::size_t kBytesWidth = 8 * 3 - 1;
    constexpr std::size_t kLabelAt = kBytesAt + kBytesWidth + 2;
    constexpr std::size_t kSourceAt = kBytesAt + kBytesWidth + 10;
    std::array<char, kSourceAt> columns{};
    const auto label_line = [&](std::uint32_t address, std::string_view label) {
        columns.fill(' ');
        put_hex_digits(columns.data(), address, 4);
        text << std::string_view(columns.data(), kLabelAt);
        text.line(label);
    };
    for (const Row& row : listing.rows) {
        if (!row.label.empty()) label_line(row.address, row.label);
        columns.fill(' ');
        put_hex_digits(columns.data(), row.address, 4);
        // As many bytes as the column holds: all of them, as rows hold at
        // most eight.
        const std::uint32_t shown = std::min<std::uint32_t>(row.size, 8);
        for (std::uint32_t i = 0; i < shown; ++i) {
            put_hex_digits(&columns[kBytesAt + 3 * i], image.at(row.address + i), 2);
        }
        text << std::string_view(columns.data(), kSourceAt);
        source(text, row);
        text.end_line();
    }
    if (!listing.end_label.empty()) label_line(image.end(), listing.end_label);
    text.line();
    text.line("; symbol table");
    for (const Symbol& symbol : listing.symbols) {
        text << symbol.name;
        text.spaces(symbol.name.size() < 16 ? 16 - symbol.name.size() : 1) << "$";
        text.digits(symbol.address, 4).end_line();
    }
    return text.take();
}

}  // namespace tolvek
