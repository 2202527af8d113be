#include "output/listing.hpp"

#include <algorithm>
#include <set>
#include <unordered_map>
#include <utility>

#include "analysis/io_banking.hpp"
#include "c64/descriptions.hpp"
#include "c64/petscii.hpp"
#include "c64/symbols.hpp"
#include "hints/hints.hpp"
#include "output/routines.hpp"
#include "version.hpp"
#include "cpu/behaviour.hpp"
#include "cpu/decode.hpp"

namespace tolvek {
namespace {

constexpr std::uint32_t kRowBytes = 8;
// A string's row holds up to this many bytes, a screen line and more; and
// up to this many control codes in a row between or before its texts.
constexpr std::uint32_t kMaxTextRow = 64;
constexpr std::uint32_t kMaxControlCodes = 4;
// A sprite's rows of three bytes (its 64th byte is not shown), a screen's
// columns.
constexpr std::uint32_t kSpriteRows = 21;
constexpr std::uint32_t kScreenColumns = 40;

// The pixels of a byte of a sprite or a glyph, one symbol a pixel as wide
// as the VIC shows it: hires '#' set and '.' clear; multicolour each pair
// of bits a pixel twice as wide, written twice: %00 '.' (the background),
// %01 '-', %10 '+', %11 '#'. No symbol is one that a comment in any of the
// dialects must escape.
std::string pixels(std::uint8_t byte, bool multicolour) {
    std::string text(8, '.');
    for (int bit = 0; bit < 8; ++bit) {
        if (!multicolour) {
            text[static_cast<std::size_t>(bit)] = (byte >> (7 - bit) & 1) != 0 ? '#' : '.';
            continue;
        }
        constexpr char kPairs[] = {'.', '-', '+', '#'};
        text[static_cast<std::size_t>(bit)] = kPairs[byte >> (6 - (bit & ~1)) & 3];
    }
    return text;
}

// How the header names a key or a joystick's move that a run pressed.
std::string input_name(const Input& input) {
    if (input.device != Input::Device::Key) {
        constexpr const char* kMoves[] = {"up", "down", "left", "right", "fire"};
        return std::string("joystick ") + (input.device == Input::Device::Joystick1 ? "1 " : "2 ") +
               (input.code < std::size(kMoves) ? kMoves[input.code] : "?");
    }
    constexpr std::pair<std::uint8_t, const char*> kKeys[] = {
        {0x0d, "RETURN"}, {0x20, "SPACE"}, {0x85, "F1"}, {0x86, "F3"}, {0x87, "F5"}, {0x88, "F7"},
        {0x89, "F2"}, {0x8a, "F4"}, {0x8b, "F6"}, {0x8c, "F8"}, {0x11, "CRSR DOWN"}, {0x91, "CRSR UP"},
        {0x1d, "CRSR RIGHT"}, {0x9d, "CRSR LEFT"}, {0x13, "HOME"}, {0x93, "CLR"}, {0x14, "DEL"},
        {0x94, "INST"}, {0x03, "STOP"}, {0x8d, "SHIFT RETURN"},
    };
    for (const auto& [code, name] : kKeys) {
        if (code == input.code) return std::string("key ") + name;
    }
    const char c = petscii_char(input.code);
    if (c != 0 && c != '"') return std::string("key \"") + c + '"';
    return "key " + hex(input.code, 2);
}

class Builder {
public:
    Builder(const MemoryMap& map, const Hints* hints)
        : map_(map), image_(map.image()), hints_(hints), labels_(map, hints ? &hints->names : nullptr) {}

    Listing build(const ListingNames& names) {
        Listing listing;
        listing.origin = image_.load;
        reserve_rows(listing.rows);
        std::uint32_t a = image_.load;
        if (map_.basic_end() > a) {
            add_basic(listing);
            a = map_.basic_end();
        }
        while (a < image_.end()) {
            if (map_.kind(a) == Kind::Opcode) {
                listing.rows.push_back(instruction(listing.store, a));
                listing.undocumented = listing.undocumented || !opcode(image_.at(a)).documented();
                a += listing.rows.back().size;
                continue;
            }
            if (graphic_rows_at(a) != nullptr) {
                a = add_graphic(listing, *graphic_rows_at(a), a);
                continue;
            }
            std::uint32_t end = a;
            while (end < image_.end() && map_.kind(end) != Kind::Opcode && graphic_rows_at(end) == nullptr) ++end;
            add_data(listing, a, end, {}, true);
            a = end;
        }
        if (hints_) add_comments(listing);
        mark_run_findings(listing);
        add_headings(listing);
        mark_entries(listing);
        listing.end_label = listing.store.keep(labels_.label_at(image_.end()));
        for (const auto& [address, name] : labels_.equates()) {
            listing.equates.push_back({listing.store.keep(name), address});
        }
        make_header(listing, names);
        make_symbols(listing);
        add_references(listing);
        return listing;
    }

private:
    // Whether a SYS statement calls the entry given (which says enough).
    bool is_entry(const SysEntry& sys) const { return map_.start.entry_in_image && sys.address == map_.start.entry; }

    // "entry" on the row of the entry, "SYS in line 10" on the rows that
    // other SYS statements call, before what the row says itself, where
    // no heading says so (where they are no instructions).
    void mark_entries(Listing& listing) const {
        std::vector<std::uint32_t> marked;
        if (map_.start.entry_in_image) marked.push_back(static_cast<std::uint32_t>(map_.start.entry));
        for (const SysEntry& sys : map_.start.sys_entries) marked.push_back(sys.address);
        std::sort(marked.begin(), marked.end());
        marked.erase(std::unique(marked.begin(), marked.end()), marked.end());
        for (const std::uint32_t address : marked) {
            Row* row = row_holding(listing, address);
            if (row == nullptr || row->address != address || !row->heading.empty()) continue;
            std::string marks;
            if (map_.start.entry_in_image && address == map_.start.entry) marks = "entry";
            for (const SysEntry& sys : map_.start.sys_entries) {
                if (sys.address != address || is_entry(sys)) continue;
                marks += marks.empty() ? "" : ", ";
                marks += "SYS in line " + std::to_string(sys.line);
            }
            if (!marks.empty()) add_comment(listing, *row, marks);
        }
    }

    // Before each routine, what reaches it.
    void add_headings(Listing& listing) const {
        for (const auto& [address, heading] : routine_headings(map_)) {
            Row* row = row_holding(listing, address);
            if (row != nullptr && row->address == address) row->heading = listing.store.keep(heading);
        }
    }

    static void add_comment(Listing& listing, Row& row, const std::string& text) {
        std::string comment = text;
        if (!row.comment.empty()) comment += "; " + std::string(row.comment);
        row.comment = listing.store.keep(comment);
    }

    // What the run saw: instructions whose bytes the program changes, and
    // code it copies to run elsewhere.
    void mark_run_findings(Listing& listing) const {
        std::uint32_t last_row = 0xffffffff;
        for (const auto& [address, writer] : map_.run.patched_code) {
            Row* row = row_holding(listing, address);
            if (row == nullptr || row->address == last_row) continue;
            last_row = row->address;
            add_comment(listing, *row, "changed by " + hex(writer, 4) + " when run");
        }
        for (const CopiedCode& copied : map_.run.copied_code) {
            if (!copied.from) continue;
            Row* row = row_holding(listing, *copied.from);
            if (row != nullptr) add_comment(listing, *row, "copied to " + hex(copied.start, 4) + " and run there");
        }
    }

    // The user's comments go on the row that holds their address.
    void add_comments(Listing& listing) {
        for (const auto& [address, text] : hints_->comments) {
            Row* row = row_holding(listing, address);
            if (row == nullptr) continue;
            add_comment(listing, *row, row->address == address ? text : hex(address, 4) + ": " + text);
        }
    }

    // Room for a row per instruction and, for data, one per four bytes:
    // data rows hold up to eight, but labels and text split them.
    void reserve_rows(std::vector<Row>& rows) const {
        std::size_t instructions = 0;
        std::size_t data = 0;
        for (Kind k : map_.kinds()) {
            instructions += k == Kind::Opcode ? 1u : 0u;
            data += is_instruction(k) ? 0u : 1u;
        }
        rows.reserve(instructions + data / 4 + 1);
    }

    Row instruction(TextStore& store, std::uint32_t a) {
        const std::uint8_t byte = image_.at(a);
        const Opcode& op = opcode(byte);
        Row row;
        row.kind = RowKind::Instruction;
        row.address = a;
        row.opcode = byte;
        row.size = static_cast<std::uint32_t>(length_of(op.mode));
        row.label = store.keep(labels_.label_at(a));
        const auto keep = [&store](const std::string& text) { return store.keep(text); };
        Operand& operand = row.operand;
        operand.value = has_address(op.mode) || op.mode == Mode::Immediate ? operand_of(image_, a) : 0;
        const std::uint32_t value = operand.value;
        switch (op.mode) {
        case Mode::Implied:
        case Mode::Accumulator: break;
        case Mode::Immediate:
            if (const ImmediateRef* ref = map_.immediate(a)) {
                operand.symbol = names_chip(map_, a, ref->target) ? labels_.known_name(ref->target)
                                                                  : labels_.operand(ref->target, keep);
                if (!operand.symbol.empty()) {
                    operand.symbol.offset -= ref->adjust;
                    operand.half = ref->high ? Half::High : Half::Low;
                }
            }
            break;
        case Mode::ZeroPage:
        case Mode::ZeroPageX:
        case Mode::ZeroPageY:
            // A label may be defined only further down, where an assembler
            // may not know yet that it lies in zero page (and xa refuses the
            // width where there is no other: stx $12,y).
            if (labels_.is_label(value) && has_absolute_form(byte)) operand.width = Width::ZeroPage;
            operand.symbol = labels_.operand(value, keep);
            break;
        case Mode::IndirectX:
        case Mode::IndirectY: operand.symbol = labels_.operand(value, keep); break;
        case Mode::Relative:
            operand.symbol = labels_.operand(value, keep);
            operand.digits = 4;
            // The target lies beyond one end of memory, as the CPU counts.
            operand.wraps = (value <= a) != (image_.at(a + 1) >= 0x80);
            break;
        default:
            // An assembler would pick zero page addressing for a value below
            // $100 (jmp ($00xx) has no other form). Zero page names stay off
            // such operands: they are mostly placeholders of self-modifying
            // code (jmp $0000).
            if (value < 0x100 && op.mode != Mode::Indirect) operand.width = Width::Absolute;
            if (names_chip(map_, a, value)) {
                operand.symbol = labels_.known_name(value);  // the chips, not the image
            } else if (value >= 0x100 || labels_.is_label(value)) {
                operand.symbol = labels_.operand(value, keep);
            }
            operand.digits = 4;
            break;
        }
        const Flow flow = flow_of(byte);
        row.ends_flow = flow == Flow::Jump || flow == Flow::Stop;
        // The CPU does not carry into the high byte here.
        if (op.mode == Mode::Indirect && (value & 0xff) == 0xff) {
            row.comment = store.keep("high byte read from " + hex(value & 0xff00, 4));
        } else if ((op.mode == Mode::IndirectX || op.mode == Mode::IndirectY) && value == 0xff) {
            row.comment = store.keep("high byte read from $00");
        } else if (const std::string words = use_of_c64(a, byte); !words.empty()) {
            row.comment = store.keep(words);
        }
        return row;
    }

    // What the instruction at `a` does with the KERNAL routine it calls or
    // the register it writes or reads (c64/descriptions), or "": only where
    // its operand names them (not the program's own bytes, nor the RAM
    // under the I/O area where the image covers it), not through an index.
    std::string use_of_c64(std::uint32_t a, std::uint8_t byte) const {
        const Opcode& op = opcode(byte);
        if (op.mode != Mode::Absolute && op.mode != Mode::ZeroPage) return {};
        const Behaviour& how = behaviour(byte);
        Use use = Use::Read;
        if (how.control == Control::Call || how.control == Control::Jump) {
            use = Use::Call;
        } else if (writes_memory(byte)) {
            use = Use::Write;
        } else if (how.access != Access::Read) {
            return {};
        }
        const std::uint32_t target = operand_of(image_, a);
        if (image_.contains(target)) {
            if (use == Use::Call || !in_io_area(target) || !names_chip(map_, a, target)) return {};
        } else if (labels_.is_label(target)) {
            return {};  // the program's own memory past its end
        }
        return describe_use(target, use);
    }

    // The kind of row the data item at `a` goes into.
    RowKind row_kind(std::uint32_t a, bool find_text) const {
        switch (map_.kind(a)) {
        case Kind::Petscii: return find_text ? RowKind::Text : RowKind::Bytes;
        case Kind::ScreenCode: return find_text ? RowKind::ScreenText : RowKind::Bytes;
        case Kind::Word:
        case Kind::WordMinus1: return RowKind::Words;
        case Kind::Low:
        case Kind::LowMinus1: return RowKind::LowBytes;
        case Kind::High:
        case Kind::HighMinus1: return RowKind::HighBytes;
        default: return RowKind::Bytes;
        }
    }

    static std::uint32_t item_size(RowKind kind) { return kind == RowKind::Words ? 2 : 1; }

    // The address item at `a` as the listing writes it: its address as a
    // name, less one where the bytes hold the address minus one.
    DataItem address_item(TextStore& store, std::uint32_t a, RowKind kind) {
        DataItem item;
        item.value = kind == RowKind::Words ? image_.word(a) : image_.at(a);
        const auto target = map_.target(a);
        if (!target) return item;
        item.symbol = labels_.operand(*target, [&store](const std::string& text) { return store.keep(text); });
        const Kind k = map_.kind(a);
        if (!item.symbol.empty() && (k == Kind::WordMinus1 || k == Kind::LowMinus1 || k == Kind::HighMinus1)) {
            item.symbol.offset -= 1;
        }
        return item;
    }

    // Whether the byte at `a` is plain data (no address, no text) that
    // is a PETSCII control code: a colour, a cursor move, a line break
    // inside or after a text.
    bool is_control(std::uint32_t a) const {
        return plain(a) && is_petscii_control(image_.at(a));
    }
    bool plain(std::uint32_t a) const { return map_.kind(a) == Kind::Unknown || map_.kind(a) == Kind::Bytes; }
    // The same, inside a string: where no label stands.
    bool control_code(std::uint32_t a) const { return is_control(a) && !labels_.has_label(a); }
    bool plain_zero(std::uint32_t a) const { return plain(a) && !labels_.has_label(a) && image_.at(a) == 0; }

    // Whether PETSCII control codes at `a` lead to text: the string starts
    // with them.
    bool starts_string(std::uint32_t a, std::uint32_t end) const {
        if (!is_control(a)) return false;
        std::uint32_t c = a + 1;
        while (c < end && c - a < kMaxControlCodes && control_code(c)) ++c;
        return c < end && row_kind(c, true) == RowKind::Text && !labels_.has_label(c);
    }

    // Where the string that starts at `a` (text, or PETSCII control codes
    // right before text) ends in [a, end): it takes the control codes
    // between and after its pieces of text, and the zero that ends it,
    // as far as kMaxTextRow bytes, cut after a space where it is longer.
    std::uint32_t string_end(std::uint32_t a, std::uint32_t end, RowKind kind) const {
        const bool petscii = kind == RowKind::Text;
        std::uint32_t b = a;
        if (petscii && starts_string(a, end)) {
            ++b;
            while (control_code(b)) ++b;
        }
        while (b < end && b - a < kMaxTextRow) {
            if (b != a && labels_.has_label(b)) break;
            if (row_kind(b, true) == kind) {
                ++b;
                continue;
            }
            // Control codes: taken where more text follows, or where
            // nothing of the data follows them.
            std::uint32_t c = b;
            while (petscii && c < end && c - b < kMaxControlCodes && control_code(c)) ++c;
            if (c < end && plain_zero(c)) {
                b = c + 1;  // the zero that ends the string
                break;
            }
            if (c > b && c < end && row_kind(c, true) == kind && !labels_.has_label(c)) {
                b = c;
                continue;
            }
            const bool data_follows = c < end && !labels_.has_label(c) && plain(c);
            if (c > b && !data_follows) b = c;
            break;
        }
        if (b - a >= kMaxTextRow && b < end) {
            // A long text goes on in the next row from after its last space.
            for (std::uint32_t s = b - 1; s > a + kMaxTextRow / 2; --s) {
                if (row_kind(s, true) == kind && image_.at(s) == 0x20) return std::min(s + 1, b);
            }
        }
        return std::min(b, a + kMaxTextRow);
    }

    // Where the row of data at `a` ends in [a, end): text to the end of its
    // string; other rows take at most 8 bytes, split where a label stands
    // and where the kind of data changes, so that address items get rows
    // (and comments) of their own.
    std::uint32_t row_end(std::uint32_t a, std::uint32_t end, RowKind kind, bool find_text) const {
        if (kind == RowKind::Text || kind == RowKind::ScreenText) return string_end(a, end, kind);
        const std::uint32_t step = item_size(kind);
        std::uint32_t b = a + step;
        while (b < end && b - a + step <= kRowBytes && row_kind(b, find_text) == kind && !labels_.has_label(b) &&
               !(find_text && starts_string(b, end))) {
            b += step;
        }
        return b;
    }

    // Data rows for [begin, end).
    void add_data(Listing& listing, std::uint32_t begin, std::uint32_t end, std::string_view first_comment,
                  bool find_text = true) {
        for (std::uint32_t a = begin; a < end;) {
            RowKind kind = row_kind(a, find_text);
            if (find_text && kind == RowKind::Bytes && starts_string(a, end)) kind = RowKind::Text;
            const std::uint32_t step = item_size(kind);
            const std::uint32_t b = row_end(a, end, kind, find_text);
            Row& row = listing.rows.emplace_back();
            row.kind = kind;
            row.address = a;
            row.size = b - a;
            if (kind == RowKind::Words || kind == RowKind::LowBytes || kind == RowKind::HighBytes) {
                row.first_item = static_cast<std::uint32_t>(listing.items.size());
                row.items = static_cast<std::uint8_t>(row.size / step);
                for (std::uint32_t i = a; i < b; i += step) listing.items.push_back(address_item(listing.store, i, kind));
            }
            if (labels_.has_label(a)) row.label = listing.store.keep(labels_.label_at(a));
            row.comment = listing.store.keep(a == begin ? first_comment : std::string_view{});
            a = b;
        }
    }

    // The graphics object whose rows the byte at `a` is in: the object
    // that holds it, where the byte has its kind.
    const Graphic* graphic_rows_at(std::uint32_t a) const {
        if (!is_graphics(map_.kind(a))) return nullptr;
        const Graphic* graphic = map_.graphic_at(a);
        return graphic != nullptr && graphic->kind == map_.kind(a) ? graphic : nullptr;
    }

    // The rows of a graphics object from `begin` on, as far as its bytes
    // of its kind go; returns where they end. Each row is a row of the
    // picture (a sprite's three bytes, a glyph's byte) or of the screen (a
    // bitmap's cell of eight bytes, a screen line of 40), on the object's
    // grid; a label inside a row cuts it there, and the next row is on the
    // grid again.
    std::uint32_t add_graphic(Listing& listing, const Graphic& graphic, std::uint32_t begin) {
        const std::uint32_t object_end = std::min(graphic.address + graphic.size, image_.end());
        std::uint32_t stop = begin;
        while (stop < object_end && map_.kind(stop) == graphic.kind) ++stop;
        for (std::uint32_t a = begin; a < stop;) {
            const std::uint32_t offset = a - graphic.address;
            const auto [grid_start, grid_size] = grid_row(graphic.kind, offset);
            std::uint32_t b = std::min(graphic.address + grid_start + grid_size, stop);
            for (std::uint32_t c = a + 1; c < b; ++c) {
                if (labels_.has_label(c)) {
                    b = c;
                    break;
                }
            }
            Row& row = listing.rows.emplace_back();
            row.kind = RowKind::Bytes;
            row.address = a;
            row.size = b - a;
            if (labels_.has_label(a)) row.label = listing.store.keep(labels_.label_at(a));
            row.comment = listing.store.keep(graphic_comment(graphic, a, b, grid_start));
            if (a == begin && (a == graphic.address || a == std::max(map_.basic_end(), image_.load))) {
                row.heading = listing.store.keep(graphic_heading(graphic, object_end));
            }
            a = b;
        }
        return stop;
    }

    // The row of an object's grid that holds the byte at `offset`: where
    // it starts in the object, and its size.
    static std::pair<std::uint32_t, std::uint32_t> grid_row(Kind kind, std::uint32_t offset) {
        switch (kind) {
        case Kind::Sprite: return offset >= kSpriteRows * 3 ? std::pair{offset, 1u} : std::pair{offset - offset % 3, 3u};
        case Kind::Charset: return {offset, 1};
        case Kind::Bitmap: return {offset - offset % 8, 8};
        default: return {offset - offset % kScreenColumns, kScreenColumns};
        }
    }

    // The comment of a row [a, b) of an object whose grid row starts at
    // `grid_start`: a sprite's and a glyph's pixels, where a bitmap's or a
    // screen's line starts, what the sprite's 64th byte is.
    std::string graphic_comment(const Graphic& graphic, std::uint32_t a, std::uint32_t b, std::uint32_t grid_start) const {
        const std::uint32_t offset = a - graphic.address;
        switch (graphic.kind) {
        case Kind::Sprite: {
            if (offset >= kSpriteRows * 3) return "64th byte, not shown";
            // The part of a row after a label stands under its pixels.
            std::string text((offset - grid_start) * 8, ' ');
            for (std::uint32_t c = a; c < b; ++c) text += pixels(image_.at(c), graphic.multicolour);
            return text;
        }
        case Kind::Charset: {
            std::string text = pixels(image_.at(a), graphic.multicolour);
            if (offset % 8 == 0) text += " glyph " + hex(offset / 8, offset < 8 * 0x100 ? 2 : 4);
            return text;
        }
        case Kind::Bitmap:
            if (offset % (8 * kScreenColumns) == 0) return "line " + std::to_string(offset / (8 * kScreenColumns));
            return {};
        default:
            if (offset % kScreenColumns == 0) return "line " + std::to_string(offset / kScreenColumns);
            return {};
        }
    }

    // What the heading before an object says: what it is, where, how it is
    // shown, and where the program showed it or how Tolvek knows.
    std::string graphic_heading(const Graphic& graphic, std::uint32_t object_end) const {
        const std::string at = hex(graphic.address, 4);
        const std::string colours = graphic.multicolour ? ", multicolour" : ", hires";
        std::string text;
        std::string set = "selected at ";
        switch (graphic.kind) {
        case Kind::Sprite:
            text = graphic.address % 64 == 0 || graphic.copied_to ? "sprite " + hex(graphic.pointer, 2) + " at " + at
                                                                  : "sprite at " + at;
            text += colours;
            set = "pointer set at ";
            break;
        case Kind::Charset: {
            const std::uint32_t glyphs = (graphic.size + 7) / 8;
            text = "charset at " + at + ", " + std::to_string(glyphs) + (glyphs == 1 ? " glyph" : " glyphs") + colours;
            break;
        }
        case Kind::Bitmap: text = "bitmap at " + at + colours; break;
        case Kind::Screen: text = "screen at " + at; break;
        default:
            text = "colour data at " + at;
            set = "copied to colour RAM at ";
            break;
        }
        if (graphic.copied_to) text += ", shown from a copy at " + hex(*graphic.copied_to, 4);
        const std::uint32_t whole = graphic_full_size(graphic.kind);
        const std::uint32_t shown = object_end - std::max(graphic.address, image_.load);
        if (shown < whole && graphic.kind != Kind::Charset) {
            text += ", " + std::to_string(shown) + " of its " + std::to_string(whole) + " bytes";
        }
        if (graphic.set_at) return text + ", " + set + hex(*graphic.set_at, 4);
        switch (graphic.source) {
        case Source::Run: return text + ", found by the run";
        case Source::VicSetup: return text + ", from the code's constants";
        case Source::BesideSprites: return text + ", beside the sprites shown";
        case Source::Hint: return text + ", from the hints";
        default: return text;
        }
    }

    void add_basic(Listing& listing) {
        for (const BasicLine& line : map_.start.basic.lines) {
            add_data(listing, line.address, line.address + line.size, line.text, false);
        }
        add_data(listing, map_.start.basic.end - 2, map_.start.basic.end, "end of BASIC program", false);
    }

    void make_header(Listing& listing, const ListingNames& names) const {
        std::uint32_t code = 0;
        for (Kind k : map_.kinds()) code += is_instruction(k) ? 1u : 0u;
        const auto size = static_cast<std::uint32_t>(image_.bytes.size());
        listing.header.push_back("Disassembly of " + std::string(names.image) + " by Tolvek " + kVersion);
        listing.header.push_back("load address: " + hex(image_.load, 4) + ", " + bytes(size));
        const std::int64_t entry = map_.start.entry;
        std::string line = "entry address: ";
        if (!map_.start.entry_in_image) {
            line += std::to_string(entry);
            if (entry >= 0 && entry <= 0xffff) line += " (" + hex(static_cast<std::uint32_t>(entry), 4) + ")";
            line += " lies outside the image; no code traced from it";
        } else {
            const auto at = static_cast<std::uint32_t>(entry);
            line += hex(at, 4) + " (" + std::to_string(entry) + ")";
            const auto& cartridge = map_.start.cartridge;
            if (map_.start.entry_in_basic) {
                line += " lies in the BASIC program; no code traced from it";
            } else if (map_.start.in_header(at)) {
                line += cartridge ? " lies in the cartridge header; code traced from its starts"
                                  : " lies in the ROM's vectors; code traced from them";
            } else if (const auto& sys = map_.start.run_from_sys) {
                line += " lies after the BASIC program, whose SYS in line " + std::to_string(sys->line) + " calls " +
                        hex(sys->address, 4) + ": run from there, as after RUN; " +
                        (map_.start.entry_traced ? "code traced from the entry too"
                                                 : "the entry does not decode as code and is not traced");
            } else if (!map_.is_opcode(at)) {
                line += " holds no valid instruction; no code traced from it";
            }
        }
        if (!map_.start.sys_entries.empty() && (!map_.start.entry_in_image || map_.start.entry_in_basic)) {
            line += ", but from the SYS entries";
        }
        listing.header.push_back(line);
        if (const auto& cartridge = map_.start.cartridge) {
            listing.header.push_back("cartridge: cold start " + hex(cartridge->cold, 4) + ", warm start " +
                                     hex(cartridge->warm, 4));
        }
        if (map_.start.rom.any()) listing.header.push_back(rom_line());
        // The SYS statements that call elsewhere than the entry.
        line = "SYS entries traced:";
        const std::size_t empty = line.size();
        for (const SysEntry& sys : map_.start.sys_entries) {
            if (is_entry(sys)) continue;
            line += (line.size() == empty ? " " : ", ") + hex(sys.address, 4) + " (line " + std::to_string(sys.line) +
                    (map_.is_opcode(sys.address) ? ")" : ", no valid instruction)");
        }
        if (line.size() > empty) listing.header.push_back(line);
        listing.header.push_back("code: " + bytes(code) + ", data: " + bytes(size - code));
        if (hints_) listing.header.push_back("hints from " + hints_->file);
        if (size == 0) listing.header.push_back("the image is empty");
        make_run_header(listing, names);
    }

    // What of the C64's ROMs the image is, and what its vectors name.
    std::string rom_line() const {
        const RomParts& rom = map_.start.rom;
        std::string line = "the image is ";
        if (rom.basic) {
            line += "BASIC's ROM (cold start " + hex(image_.word(c64::kBasicColdStart), 4) + ", warm start " +
                    hex(image_.word(c64::kBasicWarmStart), 4) + ")";
        }
        if (rom.kernal) {
            line += std::string(rom.basic ? " and " : "") + "the KERNAL's ROM (reset " +
                    hex(image_.word(c64::kResetVector), 4) + ", IRQ " + hex(image_.word(c64::kIrqVector), 4) + ", NMI " +
                    hex(image_.word(c64::kNmiVector), 4) + ")";
        }
        return line + ": runs as the ROM, in place of Tolvek's stand-ins";
    }

    // The ROM routines the runs called that Tolvek has no stand-in for: the
    // run went on after each, which the reader should know did nothing.
    void make_unanswered_calls_header(Listing& listing) const {
        const std::set<std::uint16_t>& calls = map_.run.calls_without_stand_in;
        if (calls.empty()) return;
        constexpr std::size_t kShown = 8;
        std::string line = "run called ROM at ";
        std::size_t shown = 0;
        for (const std::uint16_t address : calls) {
            if (shown == kShown) break;
            line += (shown++ == 0 ? "" : ", ") + hex(address, 4);
        }
        if (calls.size() > kShown) line += " and " + std::to_string(calls.size() - kShown) + " more places";
        listing.header.push_back(line + ", where Tolvek has no stand-in: went on as if " +
                                 (calls.size() == 1 ? "it" : "each") + " returned at once, registers and flags unchanged");
    }

    // The inputs pressed where a run waited that led to new code, one
    // line each in the order of the inputs.
    void make_inputs_header(Listing& listing) const {
        std::vector<const InputTry*> tries;
        for (const InputTry& tried : map_.run.inputs) tries.push_back(&tried);
        std::stable_sort(tries.begin(), tries.end(), [](const InputTry* x, const InputTry* y) { return x->input < y->input; });
        constexpr std::size_t kShown = 4;
        for (const InputTry* tried : tries) {
            std::string line = input_name(tried->input) + ": new code at ";
            for (std::size_t i = 0; i < tried->new_code.size() && i < kShown; ++i) {
                line += (i == 0 ? "" : ", ") + range(tried->new_code[i].first, tried->new_code[i].second);
            }
            if (tried->new_code.size() > kShown) line += " and " + std::to_string(tried->new_code.size() - kShown) + " more places";
            listing.header.push_back(line);
        }
    }

    // A run that halted in RAM went wrong: what it ran just before and was
    // not taken for code, as ranges of bytes.
    void make_doubted_header(Listing& listing, const std::vector<std::uint32_t>& doubted) const {
        constexpr std::size_t kShown = 4;
        std::vector<std::pair<std::uint32_t, std::uint32_t>> ranges;  // [start, end)
        for (const std::uint32_t a : doubted) {
            const std::uint32_t end = a + instruction_length(map_.image().at(a));
            if (!ranges.empty() && a <= ranges.back().second) {
                ranges.back().second = std::max(ranges.back().second, end);
            } else {
                ranges.emplace_back(a, end);
            }
        }
        std::string line = "the " + std::to_string(doubted.size()) +
                           (doubted.size() == 1 ? " instruction" : " instructions") + " it ran just before the halt, at ";
        for (std::size_t i = 0; i < ranges.size() && i < kShown; ++i) {
            line += (i == 0 ? "" : ", ") + range(ranges[i].first, ranges[i].second);
        }
        if (ranges.size() > kShown) line += " and " + std::to_string(ranges.size() - kShown) + " more places";
        listing.header.push_back(line + (doubted.size() == 1 ? ", is" : ", are") + " not taken for code: nothing else found them");
    }

    // How each run of the program ended, and what it wrote and ran.
    void make_run_header(Listing& listing, const ListingNames& names) const {
        for (const ProgramRun& run : map_.run.runs) {
            std::string line = "run from " + hex(run.entry, 4) + ": ";
            const std::string at = hex(run.end_address, 4);
            switch (run.end) {
            case RunEnd::ReturnedToBasic: line += "returned to BASIC"; break;
            case RunEnd::Waited: line += "waited in a loop at " + at; break;
            case RunEnd::Halted: line += "ended at a halting opcode at " + at; break;
            case RunEnd::RomWithoutStandIn: line += "jumped into ROM at " + at + ", where Tolvek has no stand-in"; break;
            case RunEnd::NothingNew: line += "still running at " + at + ", but found nothing new for a while"; break;
            case RunEnd::BudgetUsed: line += "still running when its budget ran out"; break;
            }
            listing.header.push_back(line + " after " + std::to_string(run.cycles) + " cycles");
            if (run.ceiling_reached) {
                listing.header.push_back("it was still unpacking when its budget, grown for that, reached " +
                                         std::to_string(std::max(map_.run.budget, kUnpackCeiling)) +
                                         " cycles: --run-cycles gives it more");
            } else if (run.budget_grown) {
                listing.header.push_back("its budget grew past " + std::to_string(map_.run.budget) +
                                         " cycles while an unpacker was at work");
            }
            if (!run.doubted.empty()) make_doubted_header(listing, run.doubted);
        }
        make_unanswered_calls_header(listing);
        make_inputs_header(listing);
        const WrittenCode* unpacked = map_.run.unpacked ? &*map_.run.unpacked : nullptr;
        std::size_t shown = 0;
        for (const CopiedCode& copied : map_.run.copied_code) {
            if (unpacked && copied.start >= unpacked->start && copied.end <= unpacked->end) continue;
            if (++shown > 8) break;
            std::string line = "ran code it wrote at " + range(copied.start, copied.end);
            if (copied.from) line += ", a copy of " + range(*copied.from, *copied.from + copied.end - copied.start);
            else if (copied.called_from) line += " (generated, called from " + hex(*copied.called_from, 4) + ")";
            listing.header.push_back(line);
        }
        if (unpacked == nullptr) return;
        const std::string what = map_.run.unpacked_from
                                     ? "a copy of " + range(*map_.run.unpacked_from, *map_.run.unpacked_from + static_cast<std::uint32_t>(unpacked->bytes.size()))
                                     : "an unpacker's work, it seems";
        listing.header.push_back("ran bytes it wrote itself at " + range(unpacked->start, unpacked->end) + " from " +
                                 hex(unpacked->entry, 4) + " after " + std::to_string(unpacked->cycle) + " cycles: " +
                                 what);
        const std::string file(names.unpacked);
        listing.header.push_back(std::string(names.unpack_command) + " writes them as the program file " + file +
                                 " and its disassembly " + std::string(names.unpacked_source));
        Image written;
        written.load = unpacked->start;
        written.bytes = unpacked->bytes;
        const BasicProgram basic = find_basic(written);
        const bool sys_entry = !basic.lines.empty() && !basic.lines.front().sys.empty() &&
                               basic.lines.front().sys.front() == unpacked->entry;
        if (sys_entry) {
            listing.header.push_back("its BASIC line calls " + hex(unpacked->entry, 4) + ": prgdis " + file +
                                     " disassembles it");
        } else {
            listing.header.push_back("disassemble it with: Tolvek.exe -a " +
                                     std::string(map_.undocumented_opcodes ? "-c6502" : "-c6502doc") + " -e" +
                                     std::to_string(unpacked->entry) + " -p " + file);
        }
    }

    static std::string range(std::uint32_t start, std::uint32_t end) {
        return hex(start, 4) + "-" + hex(end - 1, 4);
    }

    static std::string bytes(std::uint32_t count) {
        return std::to_string(count) + (count == 1 ? " byte" : " bytes");
    }

    // How the instruction at a row refers to the label its operand names.
    static RefKind reference_kind(const Row& row) {
        const Behaviour& does = behaviour(row.opcode);
        if (opcode(row.opcode).mode == Mode::Immediate) return RefKind::Address;
        switch (does.control) {
        case Control::Call: return RefKind::Call;
        case Control::Jump: return RefKind::Jump;
        case Control::Branch: return RefKind::Branch;
        default: break;
        }
        switch (does.access) {
        case Access::Write: return RefKind::Write;
        case Access::Modify: return RefKind::Modify;
        default: return RefKind::Read;
        }
    }

    // Who refers to each label: every instruction whose operand and every
    // data item that is written with the label's name.
    static void add_references(Listing& listing) {
        std::unordered_map<std::string_view, std::uint32_t> labelled;  // name -> label's index
        std::vector<std::vector<Reference>> found;
        std::vector<References*> ranges;
        for (Row& row : listing.rows) {
            if (row.label.empty()) continue;
            labelled.emplace(row.label, static_cast<std::uint32_t>(ranges.size()));
            ranges.push_back(&row.references);
        }
        if (!listing.end_label.empty()) {
            labelled.emplace(listing.end_label, static_cast<std::uint32_t>(ranges.size()));
            ranges.push_back(&listing.end_references);
        }
        found.resize(ranges.size());
        const auto refer = [&](std::string_view name, std::uint32_t from, RefKind kind) {
            const auto label = labelled.find(name);
            if (label != labelled.end()) found[label->second].push_back({from, kind});
        };
        for (const Row& row : listing.rows) {
            if (row.kind == RowKind::Instruction) {
                if (!row.operand.symbol.empty()) refer(row.operand.symbol.name, row.address, reference_kind(row));
                continue;
            }
            const std::uint32_t step = row.kind == RowKind::Words ? 2 : 1;
            for (std::uint32_t i = 0; i < row.items; ++i) {
                const DataItem& item = listing.items[row.first_item + i];
                if (!item.symbol.empty()) refer(item.symbol.name, row.address + i * step, RefKind::Table);
            }
        }
        for (std::size_t i = 0; i < found.size(); ++i) {
            std::stable_sort(found[i].begin(), found[i].end(),
                             [](const Reference& x, const Reference& y) { return x.kind < y.kind; });
            *ranges[i] = {static_cast<std::uint32_t>(listing.references.size()),
                          static_cast<std::uint32_t>(found[i].size())};
            listing.references.insert(listing.references.end(), found[i].begin(), found[i].end());
        }
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

    const MemoryMap& map_;
    const Image& image_;
    const Hints* hints_;  // the user's, or null
    Labels labels_;
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

const Row* row_holding(const Listing& listing, std::uint32_t address) {
    const auto row = std::upper_bound(listing.rows.begin(), listing.rows.end(), address,
                                      [](std::uint32_t a, const Row& r) { return a < r.address; });
    if (row == listing.rows.begin() || address >= (row - 1)->address + (row - 1)->size) return nullptr;
    return &*(row - 1);
}

Row* row_holding(Listing& listing, std::uint32_t address) {
    return const_cast<Row*>(row_holding(std::as_const(listing), address));
}

Listing build_listing(const MemoryMap& map, const ListingNames& names, const Hints* hints) {
    return Builder(map, hints).build(names);
}

}  // namespace tolvek
