#include "writers.hpp"

#include <algorithm>
#include <utility>

#include "labels.hpp"

namespace tolvek {
namespace {

// Every line of both files goes through here; the one place to change
// the line ending.
class Text {
public:
    void line(const std::string& content = {}) {
        out_ += content;
        out_ += kNewline;
    }
    std::string take() { return std::move(out_); }

private:
    static constexpr const char* kNewline = "\n";
    std::string out_;
};

constexpr std::size_t kTextWidth = 24;  // column where row comments start

// The source of a row: instruction or data, and its comment.
std::string source(const Row& row) {
    if (row.comment.empty()) return row.text;
    std::string out = row.text;
    out.resize(std::max(out.size() + 1, kTextWidth), ' ');
    return out + "; " + row.comment;
}

void header(Text& text, const Listing& listing) {
    for (const std::string& line : listing.header) text.line("; " + line);
    text.line();
}

}  // namespace

std::string write_asm(const Listing& listing) {
    Text text;
    header(text, listing);
    if (!listing.equates.empty()) {
        for (const Symbol& symbol : listing.equates) {
            text.line(symbol.name + " = " + hex(symbol.address, symbol.address < 0x100 ? 2 : 4));
        }
        text.line();
    }
    text.line("\t* = " + hex(listing.origin, 4));
    for (const Row& row : listing.rows) {
        if (!row.label.empty()) text.line(row.label);
        text.line("\t" + source(row));
        if (row.ends_flow) text.line();  // a blank line between routines
    }
    if (!listing.end_label.empty()) text.line(listing.end_label);
    return text.take();
}

std::string write_lst(const Listing& listing, const Image& image) {
    Text text;
    header(text, listing);
    // Address, two spaces, room for eight hex pairs, two spaces, source.
    constexpr std::size_t kBytesWidth = 8 * 3 - 1;
    const std::string no_bytes(kBytesWidth, ' ');
    for (const Row& row : listing.rows) {
        const std::string address = hex(row.address, 4).substr(1);
        if (!row.label.empty()) text.line(address + "  " + no_bytes + "  " + row.label);
        std::string bytes;
        for (std::uint32_t i = 0; i < row.size; ++i) {
            if (i != 0) bytes += ' ';
            bytes += hex(image.at(row.address + i), 2).substr(1);
        }
        bytes.resize(kBytesWidth, ' ');
        text.line(address + "  " + bytes + "          " + source(row));
    }
    if (!listing.end_label.empty()) {
        text.line(hex(image.end(), 4).substr(1) + "  " + no_bytes + "  " + listing.end_label);
    }
    text.line();
    text.line("; symbol table");
    for (const Symbol& symbol : listing.symbols) {
        std::string name = symbol.name;
        name.resize(std::max<std::size_t>(name.size() + 1, 16), ' ');
        text.line(name + hex(symbol.address, 4));
    }
    return text.take();
}

}  // namespace tolvek
