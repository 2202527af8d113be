#include "output/html.hpp"

#include <algorithm>
#include <array>
#include <map>
#include <set>
#include <string_view>

#include "output/comment_text.hpp"
#include "output/labels.hpp"

namespace tolvek {
namespace {

// What the map shows a byte as.
enum class Region : std::uint8_t {
    Code, Data, Table, Text, Basic, Sprite, Charset, Bitmap, Screen, Colours, Unknown,
};
constexpr std::size_t kRegions = static_cast<std::size_t>(Region::Unknown) + 1;

struct RegionLook {
    std::string_view name;  // in the legend and the regions' titles
    std::string_view css;   // the class of its square in the legend
    std::string_view fill;  // its colour
};

constexpr std::array<RegionLook, kRegions> kLooks = {{
    {"code", "code", "#3d7ddb"},
    {"data", "data", "#e0b040"},
    {"address table", "table", "#e8663a"},
    {"text", "text", "#45a855"},
    {"BASIC", "basic", "#9061c9"},
    {"sprite", "sprite", "#e0509c"},
    {"charset", "charset", "#1fb3ad"},
    {"bitmap", "bitmap", "#a3324f"},
    {"screen", "screen", "#8ac650"},
    {"colour data", "colours", "#f2a0c8"},
    {"unknown", "unknown", "#d4d4d4"},
}};

Region region_of(Kind kind) {
    switch (kind) {
    case Kind::Opcode:
    case Kind::Operand: return Region::Code;
    case Kind::Bytes: return Region::Data;
    case Kind::Word:
    case Kind::WordMinus1:
    case Kind::Low:
    case Kind::High:
    case Kind::LowMinus1:
    case Kind::HighMinus1: return Region::Table;
    case Kind::Petscii:
    case Kind::ScreenCode: return Region::Text;
    case Kind::Basic: return Region::Basic;
    case Kind::Sprite: return Region::Sprite;
    case Kind::Charset: return Region::Charset;
    case Kind::Bitmap: return Region::Bitmap;
    case Kind::Screen: return Region::Screen;
    case Kind::ColourData: return Region::Colours;
    case Kind::Continued:  // the item's first byte decides
    case Kind::Unknown: break;
    }
    return Region::Unknown;
}

// A stretch of bytes shown alike: one kind, and one graphics object.
struct Stretch {
    std::uint32_t start = 0;
    std::uint32_t end = 0;  // exclusive
    Region region = Region::Unknown;
};

std::vector<Stretch> stretches(const MemoryMap& map) {
    const Image& image = map.image();
    std::vector<Stretch> out;
    Region previous = Region::Unknown;
    const Graphic* previous_graphic = nullptr;
    for (std::uint32_t a = image.load; a < image.end(); ++a) {
        const Kind kind = map.kind(a);
        const Region region = kind == Kind::Continued && a != image.load ? previous : region_of(kind);
        const Graphic* graphic = is_graphics(kind) ? map.graphic_at(a) : nullptr;
        if (out.empty() || region != previous || graphic != previous_graphic) {
            out.push_back({a, a + 1, region});
        } else {
            out.back().end = a + 1;
        }
        previous = region;
        previous_graphic = graphic;
    }
    return out;
}

void append_base64(std::string& out, std::string_view bytes) {
    static constexpr std::string_view kDigits = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::size_t i = 0;
    for (; i + 3 <= bytes.size(); i += 3) {
        const std::uint32_t v = static_cast<std::uint32_t>(static_cast<std::uint8_t>(bytes[i])) << 16 |
                                static_cast<std::uint32_t>(static_cast<std::uint8_t>(bytes[i + 1])) << 8 |
                                static_cast<std::uint8_t>(bytes[i + 2]);
        for (const int shift : {18, 12, 6, 0}) out += kDigits[(v >> shift) & 63];
    }
    if (const std::size_t rest = bytes.size() - i; rest != 0) {
        std::uint32_t v = static_cast<std::uint32_t>(static_cast<std::uint8_t>(bytes[i])) << 16;
        if (rest == 2) v |= static_cast<std::uint32_t>(static_cast<std::uint8_t>(bytes[i + 1])) << 8;
        out += kDigits[(v >> 18) & 63];
        out += kDigits[(v >> 12) & 63];
        out += rest == 2 ? kDigits[(v >> 6) & 63] : '=';
        out += '=';
    }
}

// An <img> of a PNG file, its size from the file's header where it has one.
void append_png(std::string& out, const HtmlPicture& picture) {
    out += "<img src=\"data:image/png;base64,";
    append_base64(out, picture.png);
    out += "\" alt=\"";
    append_html_text(out, one_line(picture.caption));
    out += '"';
    const std::string_view png = picture.png;
    if (png.size() >= 24 && png.substr(0, 8) == "\x89PNG\r\n\x1a\n") {
        const auto be32 = [&](std::size_t at) {
            std::uint32_t v = 0;
            for (std::size_t i = 0; i < 4; ++i) v = v << 8 | static_cast<std::uint8_t>(png[at + i]);
            return v;
        };
        out += " width=\"" + std::to_string(be32(16)) + "\" height=\"" + std::to_string(be32(20)) + '"';
    }
    out += '>';
}

// The marks of the source: labels and equates as anchors where they are
// defined and links where they are named, anchors at the rows the map
// links to, and the pictures beside their rows.
class PageMarkup final : public Markup {
public:
    PageMarkup(const Listing& listing, const std::set<std::uint32_t>& anchored_rows,
               const std::map<std::size_t, std::vector<const HtmlPicture*>>& pictures)
        : anchored_rows_(anchored_rows), pictures_(pictures), rows_(&listing.rows) {
        for (const Row& row : listing.rows) {
            if (!row.label.empty()) defined_.insert(row.label);
        }
        if (!listing.end_label.empty()) defined_.insert(listing.end_label);
        for (const Symbol& equate : listing.equates) defined_.insert(equate.name);
    }

    void text(std::string& out, std::string_view text) override { append_html_text(out, text); }

    void definition(std::string& out, std::string_view name) override {
        // One anchor a name, whatever the listing holds.
        if (!anchors_.insert(std::string(name)).second) return text(out, name);
        out += "<span class=\"def\" id=\"";
        append_html_text(out, name);
        out += "\">";
        append_html_text(out, name);
        out += "</span>";
    }

    void reference(std::string& out, std::string_view name) override {
        if (!defined_.contains(name)) return text(out, name);
        out += "<a href=\"#";
        append_html_text(out, name);  // letters, digits and "_": nothing to encode in a URL
        out += "\">";
        append_html_text(out, name);
        out += "</a>";
    }

    void row(std::string& out, const Row& row) override {
        const std::size_t index = static_cast<std::size_t>(&row - rows_->data());
        if (anchored_rows_.contains(row.address) && anchors_.insert(row_anchor(row.address)).second) {
            out += "<span id=\"" + row_anchor(row.address) + "\"></span>";
        }
        const auto pictures = pictures_.find(index);
        if (pictures == pictures_.end()) return;
        for (const HtmlPicture* picture : pictures->second) {
            // The caption through CSS: not part of the source's text when
            // it is copied.
            out += "<span class=\"pic\" data-caption=\"";
            append_html_text(out, one_line(picture->caption));
            out += "\">";
            append_png(out, *picture);
            out += "</span>";
        }
    }

private:
    const std::set<std::uint32_t>& anchored_rows_;
    const std::map<std::size_t, std::vector<const HtmlPicture*>>& pictures_;
    const std::vector<Row>* rows_;
    std::set<std::string_view, std::less<>> defined_;
    std::set<std::string, std::less<>> anchors_;
};

constexpr std::string_view kStyle = R"(
:root { color-scheme: light; }
body { margin: 0; font: 14px/1.4 system-ui, sans-serif; color: #1e1e1e; background: #fff; }
header, nav, section, main > h2 { padding: 8px 16px; }
h1 { font-size: 18px; margin: 4px 0; }
h2 { font-size: 15px; margin: 12px 0 6px; }
main > h2 { margin: 0; }
pre { font: 13px/1.35 ui-monospace, "Cascadia Mono", Consolas, "DejaVu Sans Mono", monospace; margin: 0; tab-size: 8; }
pre.listing { position: relative; padding: 8px 16px 50vh; }
svg.map { display: block; max-width: 100%; height: auto; shape-rendering: crispEdges; }
svg.map text { font: 10px ui-monospace, Consolas, monospace; fill: #555; }
svg.map a:hover rect, svg.map a:focus rect { opacity: 0.55; }
ul.legend { list-style: none; padding: 0; margin: 6px 0; display: flex; flex-wrap: wrap; gap: 4px 16px; }
ul.legend span { display: inline-block; width: 12px; height: 12px; margin-right: 5px; vertical-align: -1px; border: 1px solid #0004; }
.def { font-weight: bold; }
a { color: #1a55b0; text-decoration: none; }
a:hover { text-decoration: underline; }
:target { background: #ffe680; scroll-margin-top: 40vh; }
.pic { position: absolute; left: 84ch; margin-top: 4px; padding: 4px; background: #f4f4f4; border: 1px solid #ccc; user-select: none; }
.pic img, figure img { display: block; image-rendering: pixelated; height: auto; max-width: max(160px, calc(100vw - 88ch)); }
.pic::after { content: attr(data-caption); display: block; font: 12px system-ui, sans-serif; color: #444; }
figure { display: inline-block; margin: 0 16px 8px 0; }
)";

// The map: one cell a byte, `per_row` bytes a row from a multiple of
// per_row on, each stretch a link to the row that holds its first byte.
void append_map(std::string& out, const MemoryMap& map, const Listing& listing, const std::vector<Stretch>& parts,
                std::set<std::uint32_t>& anchored_rows) {
    const Image& image = map.image();
    const std::uint32_t size = static_cast<std::uint32_t>(image.bytes.size());
    const std::uint32_t per_row = size <= 1024 ? 64 : size <= 8192 ? 128 : 256;
    const std::uint32_t cell = 768 / per_row;
    constexpr std::uint32_t kMargin = 44;  // for the rows' addresses
    const std::uint32_t first_row = image.load / per_row;
    const std::uint32_t rows = (image.end() - 1) / per_row - first_row + 1;
    const std::uint32_t width = kMargin + per_row * cell;
    const std::uint32_t height = rows * cell + 4;  // room below the last row's address
    out += "<svg class=\"map\" xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"0 0 " + std::to_string(width) + ' ' +
           std::to_string(height) + "\" width=\"" + std::to_string(width) + "\" height=\"" +
           std::to_string(height) + "\" role=\"img\" aria-label=\"memory map\">\n";
    // The address of every row, or of every so many where they are many.
    const std::uint32_t step = std::max<std::uint32_t>(1, (12 + cell - 1) / cell);
    for (std::uint32_t r = 0; r < rows; r += step) {
        out += "<text x=\"0\" y=\"" + std::to_string(r * cell + 10) + "\">" +
               hex((first_row + r) * per_row, 4) + "</text>";
    }
    out += '\n';
    for (const Stretch& part : parts) {
        const Row* row = row_holding(listing, part.start);
        const std::uint32_t target = row != nullptr ? row->address : part.start;
        anchored_rows.insert(target);
        const RegionLook& look = kLooks[static_cast<std::size_t>(part.region)];
        out += "<a href=\"#" + row_anchor(target) + "\"><title>" + hex(part.start, 4) + '-' + hex(part.end - 1, 4) +
               ' ';
        append_html_text(out, look.name);
        out += ", " + std::to_string(part.end - part.start) + (part.end - part.start == 1 ? " byte" : " bytes") +
               "</title>";
        // As rectangles: the part of the first row, the whole rows, the
        // part of the last row.
        const auto rect = [&](std::uint32_t from, std::uint32_t to) {  // [from, to) on one row, or whole rows
            const std::uint32_t r = from / per_row - first_row;
            const std::uint32_t x = from % per_row;
            const bool whole_rows = x == 0 && to - from >= per_row;
            const std::uint32_t w = whole_rows ? per_row : to - from;
            const std::uint32_t h = whole_rows ? (to - from) / per_row : 1;
            out += "<rect x=\"" + std::to_string(kMargin + x * cell) + "\" y=\"" + std::to_string(r * cell) +
                   "\" width=\"" + std::to_string(w * cell) + "\" height=\"" + std::to_string(h * cell) +
                   "\" fill=\"" + std::string(look.fill) + "\"/>";
        };
        std::uint32_t at = part.start;
        if (at % per_row != 0) {
            const std::uint32_t to = std::min(part.end, (at / per_row + 1) * per_row);
            rect(at, to);
            at = to;
        }
        if (const std::uint32_t whole = (part.end - at) / per_row * per_row; whole != 0) {
            rect(at, at + whole);
            at += whole;
        }
        if (at < part.end) rect(at, part.end);
        out += "</a>\n";
    }
    out += "</svg>\n";
}

void append_legend(std::string& out, const std::vector<Stretch>& parts) {
    std::array<std::uint32_t, kRegions> bytes{};
    for (const Stretch& part : parts) bytes[static_cast<std::size_t>(part.region)] += part.end - part.start;
    out += "<ul class=\"legend\">\n";
    for (std::size_t i = 0; i < kRegions; ++i) {
        out += "<li><span style=\"background:" + std::string(kLooks[i].fill) + "\"></span>";
        append_html_text(out, kLooks[i].name);
        out += ": " + std::to_string(bytes[i]) + (bytes[i] == 1 ? " byte" : " bytes") + "</li>\n";
    }
    out += "</ul>\n";
}

}  // namespace

void append_html_text(std::string& out, std::string_view text) {
    for (const char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        case '\'': out += "&#39;"; break;
        default: out += c; break;
        }
    }
}

std::string row_anchor(std::uint32_t address) { return "row-" + hex(address, 4).substr(1); }

void write_html(const Listing& listing, const MemoryMap& map, const Dialect& dialect, const BuildNames& names,
                const std::vector<HtmlPicture>& pictures, const TextSink& sink) {
    const Image& image = map.image();
    std::string out;
    out += "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n";
    // Nothing is fetched and nothing runs, whatever the page holds.
    out += "<meta http-equiv=\"Content-Security-Policy\" content=\"default-src 'none'; img-src data:; "
           "style-src 'unsafe-inline'\">\n";
    out += "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n<title>";
    append_html_text(out, one_line(listing.header.empty() ? names.source : listing.header.front()));
    out += "</title>\n<style>";
    out += kStyle;
    out += "</style>\n</head>\n<body>\n<header>\n<h1>";
    append_html_text(out, one_line(listing.header.empty() ? names.source : listing.header.front()));
    out += "</h1>\n<pre class=\"head\">";
    for (std::size_t i = 1; i < listing.header.size(); ++i) {
        const std::string& line = listing.header[i];
        std::string shown;
        append_comment_text(shown, line);
        append_html_text(out, shown);
        out += '\n';
    }
    out += "</pre>\n</header>\n";

    std::set<std::uint32_t> anchored_rows;
    out += "<nav id=\"tv-map\">\n<h2>Memory map</h2>\n";
    const std::vector<Stretch> parts = stretches(map);
    if (image.bytes.empty()) {
        out += "<p>The image is empty.</p>\n";
    } else {
        append_map(out, map, listing, parts, anchored_rows);
        append_legend(out, parts);
    }
    out += "</nav>\n";

    // Each picture beside the row that holds its object's first byte; the
    // others in a list of their own.
    std::map<std::size_t, std::vector<const HtmlPicture*>> at_rows;
    std::vector<const HtmlPicture*> elsewhere;
    for (const HtmlPicture& picture : pictures) {
        const Row* row = image.contains(picture.address) ? row_holding(listing, picture.address) : nullptr;
        if (row != nullptr) {
            at_rows[static_cast<std::size_t>(row - listing.rows.data())].push_back(&picture);
        } else {
            elsewhere.push_back(&picture);
        }
    }
    if (!elsewhere.empty()) {
        out += "<section id=\"tv-pictures\">\n<h2>Pictures</h2>\n";
        for (const HtmlPicture* picture : elsewhere) {
            out += "<figure>";
            append_png(out, *picture);
            out += "<figcaption>";
            append_html_text(out, one_line(picture->caption));
            out += "</figcaption></figure>\n";
        }
        out += "</section>\n";
    }

    out += "<main>\n<h2>Source for ";
    append_html_text(out, dialect.assembler);
    out += "</h2>\n<pre class=\"listing\" id=\"tv-listing\">";
    sink(out);
    out.clear();
    PageMarkup markup(listing, anchored_rows, at_rows);
    write_asm(listing, image, dialect, names, sink, &markup);
    sink("</pre>\n</main>\n</body>\n</html>\n");
}

std::string write_html(const Listing& listing, const MemoryMap& map, const Dialect& dialect, const BuildNames& names,
                       const std::vector<HtmlPicture>& pictures) {
    std::string out;
    write_html(listing, map, dialect, names, pictures, [&out](std::string_view part) { out += part; });
    return out;
}

}  // namespace tolvek
