#include "listing.hpp"

#include <algorithm>
#include <cctype>

#include "labels.hpp"
#include "opcodes.hpp"

namespace tolvek {
namespace {

// Shorter runs of printable bytes are too often numbers or pointers.
constexpr std::uint32_t kMinText = 4;
constexpr std::uint32_t kRowBytes = 8;

class Builder {
public:
    Builder(const Image& image, const Analysis& analysis)
        : image_(image), analysis_(analysis), labels_(image, analysis) {}

    Listing build(std::string_view image_name) {
        Listing listing;
        listing.origin = image_.load;
        reserve_rows(listing.rows);
        std::uint32_t a = image_.load;
        const std::uint32_t basic_end = analysis_.basic.lines.empty() ? image_.load : analysis_.basic.end;
        if (basic_end > a) {
            add_basic(listing);
            a = basic_end;
        }
        while (a < image_.end()) {
            if (analysis_.kind[image_.offset(a)] == ByteKind::Code) {
                listing.rows.push_back(instruction(listing.store, a));
                a += listing.rows.back().size;
                continue;
            }
            std::uint32_t end = a;
            while (end < image_.end() && analysis_.kind[image_.offset(end)] != ByteKind::Code) ++end;
            add_data(listing, a, end, {}, true);
            a = end;
        }
        if (analysis_.entry_in_image) {
            for (Row& row : listing.rows) {
                if (row.address == analysis_.entry) {
                    row.comment = row.comment.empty() ? listing.store.keep("entry")
                                                      : listing.store.keep("entry; " + std::string(row.comment));
                }
            }
        }
        listing.end_label = listing.store.keep(labels_.label_at(image_.end()));
        for (const auto& [address, name] : labels_.equates()) {
            listing.equates.push_back({listing.store.keep(name), address});
        }
        make_header(listing, image_name);
        make_symbols(listing);
        return listing;
    }

private:
    // Room for a row per instruction and, for data, one per four bytes:
    // data rows hold up to eight, but labels and text split them.
    void reserve_rows(std::vector<Row>& rows) const {
        std::size_t instructions = 0;
        for (ByteKind k : analysis_.kind) instructions += k == ByteKind::Code ? 1 : 0;
        std::size_t data = 0;
        for (ByteKind k : analysis_.kind) data += k == ByteKind::Data ? 1 : 0;
        rows.reserve(instructions + data / 4 + 1);
    }

    Row instruction(TextStore& store, std::uint32_t a) {
        const Opcode& op = opcode(image_.at(a));
        Row row;
        row.address = a;
        row.size = static_cast<std::uint32_t>(length_of(op.mode));
        row.label = store.keep(labels_.label_at(a));
        std::string mnemonic(op.mnemonic);
        const std::uint32_t value = has_address(op.mode) || op.mode == Mode::Immediate ? operand_of(image_, a) : 0;
        std::string arg;
        switch (op.mode) {
        case Mode::Implied:
        case Mode::Accumulator: break;
        case Mode::Immediate: arg = "#" + hex(value, 2); break;
        case Mode::ZeroPage:
        case Mode::ZeroPageX:
        case Mode::ZeroPageY:
            // A label may be defined only further down, and ACME assumes
            // 16 bits for names it does not know yet: force 8 bits.
            if (labels_.is_label(value)) mnemonic += "+1";
            arg = labels_.operand(value, 2);
            break;
        case Mode::IndirectX:
        case Mode::IndirectY: arg = labels_.operand(value, 2); break;
        case Mode::Relative: arg = labels_.operand(value, 4); break;
        default:
            // ACME would pick zero page addressing for a value below $100.
            // Zero page names stay off such operands: they are mostly
            // placeholders of self-modifying code (jmp $0000).
            if (value < 0x100) mnemonic += "+2";
            arg = value < 0x100 && !labels_.is_label(value) ? hex(value, 4) : labels_.operand(value, 4);
            break;
        }
        switch (op.mode) {
        case Mode::ZeroPageX:
        case Mode::AbsoluteX: arg += ",x"; break;
        case Mode::ZeroPageY:
        case Mode::AbsoluteY: arg += ",y"; break;
        case Mode::Indirect: arg = "(" + arg + ")"; break;
        case Mode::IndirectX: arg = "(" + arg + ",x)"; break;
        case Mode::IndirectY: arg = "(" + arg + "),y"; break;
        default: break;
        }
        row.text = store.keep(arg.empty() ? mnemonic : mnemonic + " " + arg);
        const Flow flow = flow_of(image_.at(a));
        row.ends_flow = flow == Flow::Jump || flow == Flow::Stop;
        // The CPU does not carry into the high byte here; ACME warns too.
        if (op.mode == Mode::Indirect && (value & 0xff) == 0xff) {
            row.comment = store.keep("high byte read from " + hex(value & 0xff00, 4));
        } else if ((op.mode == Mode::IndirectX || op.mode == Mode::IndirectY) && value == 0xff) {
            row.comment = store.keep("high byte read from $00");
        }
        return row;
    }

    // Data rows for [begin, end): at most 8 bytes each, split where a label
    // stands and where printable text starts or stops, so that text gets
    // rows (and comments) of its own.
    void add_data(Listing& listing, std::uint32_t begin, std::uint32_t end, std::string_view first_comment,
                  bool find_text = true) {
        std::vector<std::uint8_t>& text = is_text_;  // 1 where printable text is
        text.assign(end - begin, 0);
        for (std::uint32_t a = begin; find_text && a < end;) {
            std::uint32_t b = a;
            while (b < end && petscii_char(image_.at(b)) != 0) ++b;
            if (b - a >= kMinText && looks_like_text(a, b)) {
                std::fill(text.begin() + (a - begin), text.begin() + (b - begin), 1);
            }
            a = b == a ? a + 1 : b;
        }
        for (std::uint32_t a = begin; a < end;) {
            const std::uint8_t is_text = text[a - begin];
            std::uint32_t b = a + 1;
            while (b < end && b - a < kRowBytes && text[b - begin] == is_text && !labels_.has_label(b)) ++b;
            Row& row = listing.rows.emplace_back();
            row.address = a;
            row.size = b - a;
            if (labels_.has_label(a)) row.label = listing.store.keep(labels_.label_at(a));
            row.text = byte_row(listing.store, a, b);
            std::string comment;
            if (a == begin) comment = first_comment;
            if (is_text) {
                if (!comment.empty()) comment += ' ';
                comment += '"';
                for (std::uint32_t i = a; i < b; ++i) comment += petscii_char(image_.at(i));
                comment += '"';
            }
            row.comment = listing.store.keep(comment);
            a = b;
        }
    }

    // "!byte $01,$02" for the bytes [begin, end), written in place.
    std::string_view byte_row(TextStore& store, std::uint32_t begin, std::uint32_t end) const {
        constexpr std::string_view kDirective = "!byte ";
        const std::size_t size = kDirective.size() + 4 * (end - begin) - 1;
        char* text = store.room(size);
        kDirective.copy(text, kDirective.size());
        for (std::uint32_t a = begin; a < end; ++a) {
            char* at = text + kDirective.size() + 4 * (a - begin);
            at[0] = '$';
            put_hex_digits(at + 1, image_.at(a), 2);
            if (a + 1 < end) at[3] = ',';
        }
        return {text, size};
    }

    // Printable bytes that read as words or numbers, not as a table that
    // happens to be printable: mostly letters, digits and spaces, and not
    // one byte repeated.
    bool looks_like_text(std::uint32_t begin, std::uint32_t end) const {
        std::uint32_t plain = 0;
        bool varied = false;
        for (std::uint32_t a = begin; a < end; ++a) {
            const char c = petscii_char(image_.at(a));
            plain += (std::isalnum(static_cast<unsigned char>(c)) || c == ' ') ? 1u : 0u;
            varied = varied || image_.at(a) != image_.at(begin);
        }
        return varied && plain * 2 >= end - begin;
    }

    void add_basic(Listing& listing) {
        for (const BasicLine& line : analysis_.basic.lines) {
            add_data(listing, line.address, line.address + line.size, line.text, false);
        }
        add_data(listing, analysis_.basic.end - 2, analysis_.basic.end, "end of BASIC program", false);
    }

    void make_header(Listing& listing, std::string_view image_name) const {
        std::uint32_t code = 0;
        for (ByteKind k : analysis_.kind) code += k != ByteKind::Data ? 1u : 0u;
        const auto size = static_cast<std::uint32_t>(image_.bytes.size());
        listing.header.push_back("Disassembly of " + std::string(image_name) + " by Tolvek");
        listing.header.push_back("load address: " + hex(image_.load, 4) + ", " + bytes(size));
        const std::int64_t entry = analysis_.entry;
        std::string line = "entry address: ";
        if (!analysis_.entry_in_image) {
            line += std::to_string(entry);
            if (entry >= 0 && entry <= 0xffff) line += " (" + hex(static_cast<std::uint32_t>(entry), 4) + ")";
            line += " lies outside the image; no code traced from it";
        } else {
            const auto at = static_cast<std::uint32_t>(entry);
            line += hex(at, 4) + " (" + std::to_string(entry) + ")";
            if (analysis_.entry_in_basic) {
                line += " lies in the BASIC program; no code traced from it";
            } else if (!analysis_.is_code(image_, at)) {
                line += " holds no valid instruction; no code traced from it";
            }
        }
        listing.header.push_back(line);
        listing.header.push_back("code: " + bytes(code) + ", data: " + bytes(size - code));
        if (size == 0) listing.header.push_back("the image is empty");
    }

    static std::string bytes(std::uint32_t count) {
        return std::to_string(count) + (count == 1 ? " byte" : " bytes");
    }

    void make_symbols(Listing& listing) const {
        for (const Row& row : listing.rows) {
            if (!row.label.empty()) listing.symbols.push_back({row.label, row.address});
        }
        if (!listing.end_label.empty()) listing.symbols.push_back({listing.end_label, image_.end()});
        listing.symbols.insert(listing.symbols.end(), listing.equates.begin(), listing.equates.end());
        std::stable_sort(listing.symbols.begin(), listing.symbols.end(),
                         [](const Symbol& x, const Symbol& y) { return x.address < y.address; });
    }

    const Image& image_;
    const Analysis& analysis_;
    Labels labels_;
    std::vector<std::uint8_t> is_text_;  // add_data's, kept to spare allocating it anew
};

}  // namespace

char* TextStore::room(std::size_t size) {
    if (size > free_size_) {
        // A text longer than a block gets one of its own; the newest
        // block's remaining room stays usable, as texts are never freed.
        if (size > kBlockSize) return blocks_.emplace_back(std::make_unique_for_overwrite<char[]>(size)).get();
        free_ = blocks_.emplace_back(std::make_unique_for_overwrite<char[]>(kBlockSize)).get();
        free_size_ = kBlockSize;
    }
    char* at = free_;
    free_ += size;
    free_size_ -= size;
    return at;
}

namespace {

}  // namespace

Listing build_listing(const Image& image, const Analysis& analysis, std::string_view image_name) {
    return Builder(image, analysis).build(image_name);
}

}  // namespace tolvek
