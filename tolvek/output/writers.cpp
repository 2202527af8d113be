#include "output/writers.hpp"

#include <algorithm>
#include <array>
#include <string_view>
#include <tuple>
#include <utility>

#include "output/comment_text.hpp"
#include "output/labels.hpp"

namespace tolvek {
namespace {

// The text of a file, built up in a buffer that goes to the sink whenever
// it is full and at the end: parts are appended to the current line, and
// every line ends through end_line(), the one place to change the line
// ending. A big file is not held whole: its pages cost more than writing.
class Text {
public:
    // `preprocessed_comments`: the dialect's, for comment(). `markup`: how
    // the text is marked up, or null for the text as it is.
    Text(const TextSink& sink, bool preprocessed_comments, Markup* markup = nullptr)
        : sink_(sink), preprocessed_(preprocessed_comments), markup_(markup) {
        out_.reserve(kBuffer + kBuffer / 4);
    }
    ~Text() { flush(); }
    Text(const Text&) = delete;
    Text& operator=(const Text&) = delete;

    Text& operator<<(std::string_view part) {
        if (markup_ != nullptr) [[unlikely]] return marked_text(part);
        out_ += part;
        return *this;
    }
    Text& operator<<(char c) {
        if (markup_ != nullptr) [[unlikely]] return marked_text(std::string_view(&c, 1));
        out_ += c;
        return *this;
    }
    Text& spaces(std::size_t count) {
        out_.append(count, ' ');
        return *this;
    }
    // Text inside a comment: whatever it holds, it stays there.
    Text& comment(std::string_view part) {
        if (markup_ != nullptr) {
            scratch_.clear();
            append_comment_text(scratch_, part, preprocessed_);
            return *this << std::string_view(scratch_);
        }
        append_comment_text(out_, part, preprocessed_);
        return *this;
    }
    // A label's or an equate's name where it is defined, and where it is
    // named.
    Text& definition(std::string_view name) {
        if (markup_ != nullptr) return marked(name.size(), [&] { markup_->definition(out_, name); });
        out_ += name;
        return *this;
    }
    Text& name(std::string_view name) {
        if (markup_ != nullptr) return marked(name.size(), [&] { markup_->reference(out_, name); });
        out_ += name;
        return *this;
    }
    // Before the lines of `row`.
    void row(const Row& row) {
        if (markup_ != nullptr) marked(0, [&] { markup_->row(out_, row); });
    }
    // Hex digits without the "$".
    Text& digits(std::uint32_t value, int count) {
        append_hex_digits(out_, value, count);
        return *this;
    }
    void end_line() {
        out_ += kNewline;
        if (out_.size() >= kBuffer) flush();
    }
    void flush() {
        if (!out_.empty()) sink_(out_);
        out_.clear();
        hidden_ = 0;
    }
    void line(std::string_view content = {}) {
        *this << content;
        end_line();
    }
    // Characters of the source in the buffer (not those of the markup),
    // for measuring what was just appended on the line.
    std::size_t size() const { return out_.size() - hidden_; }

private:
    // The text through the markup: out of the way of the plain text's
    // appends, which are most of the work.
    [[gnu::noinline]] Text& marked_text(std::string_view part) {
        return marked(part.size(), [&] { markup_->text(out_, part); });
    }
    // Appends through the markup what shows as `shown` characters.
    template <class Append>
    Text& marked(std::size_t shown, Append&& append) {
        const std::size_t before = out_.size();
        append();
        hidden_ += out_.size() - before - shown;
        return *this;
    }

    static constexpr std::string_view kNewline = "\n";
    static constexpr std::size_t kBuffer = 64 * 1024;
    const TextSink& sink_;
    bool preprocessed_;
    Markup* markup_;
    std::size_t hidden_ = 0;  // characters of the markup in the buffer
    std::string scratch_;
    std::string out_;
};

constexpr std::size_t kTextWidth = 24;  // column where row comments start


// `text` with each {name} replaced by its value.
std::string fill_in(std::string_view text, const BuildNames& names, std::uint32_t load,
                    std::string_view translation = {}) {
    const std::pair<std::string_view, std::string> values[] = {
        {"{source}", names.source}, {"{program}", names.program}, {"{config}", names.config},
        {"{load}", hex(load, 4)}, {"{translation}", std::string(translation)}};
    std::string out;
    for (std::size_t i = 0; i < text.size();) {
        bool replaced = false;
        for (const auto& [key, value] : values) {
            if (text.substr(i, key.size()) == key) {
                out += value;
                i += key.size();
                replaced = true;
                break;
            }
        }
        if (!replaced) out += text[i++];
    }
    return out;
}

// The command that rebuilds the program, its file names as words for the
// shell; none where a name cannot be one, and `refused` is that name.
std::optional<std::string> rebuild_command(const Dialect& dialect, const BuildNames& names, std::string_view translation,
                                           std::string& refused) {
    BuildNames words = names;
    for (std::string* name : {&words.source, &words.program, &words.config}) {
        const std::optional<std::string> word = shell_word(*name, names.shell);
        if (!word) {
            refused = *name;
            return std::nullopt;
        }
        *name = *word;
    }
    return fill_in(dialect.build, words, 0, translation);
}

// The dialect's encodings for this listing, and the option that names its
// translation: of the translations for a whole source, the one that writes
// the most bytes of text in strings.
std::pair<const std::array<TextEncoding, 2>*, std::string_view> text_for(const Listing& listing, const Image& image,
                                                                         const Dialect& dialect) {
    std::pair<const std::array<TextEncoding, 2>*, std::string_view> best{&dialect.text, {}};
    std::uint64_t most = 0;
    for (const SourceTranslation& translation : dialect.translations) {
        if (translation.option.empty()) continue;
        std::uint64_t written = 0;
        for (const Row& row : listing.rows) {
            if (row.kind != RowKind::Text && row.kind != RowKind::ScreenText) continue;
            const TextEncoding& enc = translation.text[row.kind == RowKind::Text ? 0 : 1];
            for (std::uint32_t a = row.address; a < row.address + row.size; ++a) written += enc.chars[image.at(a)] != 0;
        }
        if (best.second.empty() || written > most) best = {&translation.text, translation.option};
        most = std::max(most, written);
    }
    return best;
}

class Writer {
public:
    Writer(Text& text, const Listing& listing, const Image& image, const Dialect& dialect)
        : text_(text), all_references_(&listing.references), listing_items_(listing.items), image_(image),
          d_(dialect) {
        std::tie(encodings_, translation_) = text_for(listing, image, dialect);
    }

    void header(const Listing& listing, const BuildNames& names) {
        for (const std::string& line : listing.header) comment_line(line);
        text_ << "; rebuild with " << d_.assembler << ": ";
        std::string refused;
        if (const std::uint64_t needs = statement_bytes(listing); d_.statement_room != 0 && needs > d_.statement_room) {
            text_.comment("none, as " + std::string(d_.assembler) + " holds at most " +
                          std::to_string(d_.statement_room) + " bytes of statements and this source needs " +
                          std::to_string(needs) + "; another dialect has no such limit");
        } else if (const auto command = rebuild_command(d_, names, translation_, refused)) {
            // As it is, not as comment text: its words hold nothing that a
            // comment escapes, and a backslash doubled would break '\''.
            text_ << *command;
        } else {
            text_.comment("none, as the file name '" + refused + "' cannot be written safely in a command for " +
                          (names.shell == Shell::Cmd ? "cmd.exe" : "sh") + "; rename the file to get one");
        }
        text_.end_line();
        text_.line();
    }

    // The source of a row: instruction or data, and its comment, which
    // starts at column kTextWidth of the source (or one space after a
    // longer text).
    void source(const Row& row) {
        const std::size_t start = text_.size();
        if (row.kind == RowKind::Instruction && !d_.undocumented_mnemonics && !opcode(row.opcode).documented()) {
            return as_bytes(row, start);
        }
        switch (row.kind) {
        case RowKind::Instruction: instruction(row); break;
        case RowKind::Words:
        case RowKind::LowBytes:
        case RowKind::HighBytes: items(row); break;
        case RowKind::Text: string(row, TextSet::Petscii); break;
        case RowKind::ScreenText: string(row, TextSet::ScreenCodes); break;
        default: bytes(row.address, row.size); break;
        }
        end_with_comment(start, row.comment);
    }

    // Before a row of text in the .asm: the line that selects its encoding,
    // where the rows before were in another.
    void select_encoding(const Row& row) {
        if (row.kind != RowKind::Text && row.kind != RowKind::ScreenText) return;
        const TextSet set = row.kind == RowKind::Text ? TextSet::Petscii : TextSet::ScreenCodes;
        const std::string_view select = encoding(set).select;
        if (select.empty() || selected_ == set) return;
        text_ << '\t' << select;
        text_.end_line();
        selected_ = set;
    }

    // A label's line: its name and, from column `comment_at` of the line,
    // the places that refer to it.
    void label(std::string_view name, References refs = {}, std::size_t comment_at = 0) {
        const std::size_t start = text_.size();
        text_.definition(name) << d_.label_suffix;
        if (refs.count != 0) {
            const std::size_t width = text_.size() - start;
            text_.spaces(width < comment_at ? comment_at - width : 1) << "; ";
            references(refs);
        }
        text_.end_line();
    }

    // Where places are named: by the label before them and the offset
    // (.asm), or by their addresses (.lst).
    void name_places_by_labels(const Listing& listing) {
        for (const Row& row : listing.rows) {
            if (!row.label.empty()) labels_.emplace_back(row.address, row.label);
        }
    }

    // What reaches the routine that starts at a row: a comment line.
    void heading(std::string_view text) { comment_line(text); }

private:
    // "called from L0812, L0853+3; read by L080f": the first kShownReferences
    // places, by kind, and how many more there are.
    void references(References refs) {
        static constexpr std::string_view kWords[] = {"called from",  "jumped to from",   "branched to from",
                                                      "read by",      "written by",       "changed by",
                                                      "address taken by", "address stored at"};
        constexpr std::uint32_t kShownReferences = 8;
        const std::uint32_t shown = std::min(refs.count, kShownReferences);
        for (std::uint32_t i = 0; i < shown; ++i) {
            const Reference& ref = (*all_references_)[refs.first + i];
            const bool new_kind = i == 0 || (*all_references_)[refs.first + i - 1].kind != ref.kind;
            if (new_kind) text_ << (i == 0 ? "" : "; ") << kWords[static_cast<std::size_t>(ref.kind)] << ' ';
            else text_ << ", ";
            place(ref.from);
        }
        if (refs.count > shown) text_ << " and " << std::to_string(refs.count - shown) << " more";
    }

    void place(std::uint32_t address) {
        const auto after = std::upper_bound(labels_.begin(), labels_.end(), address,
                                            [](std::uint32_t a, const auto& label) { return a < label.first; });
        if (labels_.empty() || after == labels_.begin()) {
            text_ << '$';
            text_.digits(address, 4);
            return;
        }
        const auto& [at, name] = *(after - 1);
        text_.name(name);
        if (address != at) text_ << '+' << std::to_string(address - at);
    }

    // What the source's statements take of the assembler's buffer, where it
    // has one: the rows, the equates, the load address and the origin, each
    // the dialect's cost and the bytes it assembles.
    std::uint64_t statement_bytes(const Listing& listing) const {
        const std::uint64_t statements = listing.rows.size() + listing.equates.size() + 2;
        return statements * d_.statement_cost + image_.bytes.size() + 2;
    }

    // The comment of the row whose text starts at `start`, if any.
    void end_with_comment(std::size_t start, std::string_view comment) {
        if (comment.empty()) return;
        const std::size_t width = text_.size() - start;
        text_.spaces(width < kTextWidth ? kTextWidth - width : 1) << "; ";
        text_.comment(comment);
    }

    // An instruction the dialect has no mnemonic for, as its bytes; the
    // comment shows the instruction: ".byt $a7,$12 ; lax $12".
    void as_bytes(const Row& row, std::size_t start) {
        bytes(row.address, row.size);
        // The instruction's text holds nothing a comment escapes: names are
        // letters, digits and "_".
        const std::size_t width = text_.size() - start;
        text_.spaces(width < kTextWidth ? kTextWidth - width : 1) << "; ";
        instruction(row);
        if (!row.comment.empty()) text_.comment("; ").comment(row.comment);
    }

    void comment_line(std::string_view line) {
        text_ << "; ";
        text_.comment(line).end_line();
    }

    void instruction(const Row& row) {
        const Opcode& op = opcode(row.opcode);
        const Operand& operand = row.operand;
        const auto width = static_cast<std::size_t>(operand.width);
        text_ << mnemonic(d_, row.opcode) << d_.mnemonic_suffix[width];
        switch (op.mode) {
        case Mode::Implied:
        case Mode::Accumulator: return;
        case Mode::Immediate:
            text_ << " #";
            if (operand.half == Half::Whole) {
                text_ << '$';
                text_.digits(operand.value, 2);
            } else {
                half(operand.half == Half::High, operand.symbol);
            }
            return;
        default: break;
        }
        text_ << ' ';
        if (op.mode == Mode::Indirect || op.mode == Mode::IndirectX || op.mode == Mode::IndirectY) text_ << '(';
        text_ << d_.operand_prefix[width];
        if (operand.wraps && d_.wrapped_branch_relative) {
            // From the branch's own address: the offset byte plus two.
            const auto offset = static_cast<std::int8_t>(image_.at(row.address + 1));
            text_ << "*" << (offset + 2 >= 0 ? "+" : "-") << std::to_string(offset + 2 >= 0 ? offset + 2 : -(offset + 2));
        } else {
            value(operand);
        }
        switch (op.mode) {
        case Mode::ZeroPageX:
        case Mode::AbsoluteX: text_ << ",x"; break;
        case Mode::ZeroPageY:
        case Mode::AbsoluteY: text_ << ",y"; break;
        case Mode::Indirect: text_ << ')'; break;
        case Mode::IndirectX: text_ << ",x)"; break;
        case Mode::IndirectY: text_ << "),y"; break;
        default: break;
        }
    }

    void value(const Operand& operand) {
        if (operand.symbol.empty()) {
            text_ << '$';
            text_.digits(operand.value, operand.digits);
            return;
        }
        symbol(operand.symbol);
    }

    // A name and its offset: "L1234", "L1234+2", "L1234-1".
    void symbol(const SymbolRef& ref) {
        text_.name(ref.name);
        if (ref.offset > 0) text_ << '+' << std::to_string(ref.offset);
        if (ref.offset < 0) text_ << '-' << std::to_string(-static_cast<std::int64_t>(ref.offset));
    }

    // "!word L1234,L1240-1" or "!byte <L1234,<(L1240-1)": a row of address
    // items, each a name where it has one and a number where not.
    void items(const Row& row) {
        const bool words = row.kind == RowKind::Words;
        text_ << (words ? d_.word_directive : d_.byte_directive);
        for (std::uint32_t i = 0; i < row.items; ++i) {
            const DataItem& item = listing_items_[row.first_item + i];
            if (i != 0) text_ << d_.item_separator;
            if (item.symbol.empty()) {
                text_ << '$';
                text_.digits(item.value, words ? 4 : 2);
                continue;
            }
            if (words) {
                symbol(item.symbol);
            } else {
                half(row.kind == RowKind::HighBytes, item.symbol);
            }
        }
    }

    // "<L1234" or ">(L1234-1)": the expression in parentheses where it has
    // an offset, as assemblers differ in how far < and > reach.
    void half(bool high, const SymbolRef& ref) {
        text_ << (high ? '>' : '<');
        const bool parens = ref.offset != 0;
        if (parens) text_ << '(';
        symbol(ref);
        if (parens) text_ << ')';
    }

    // `!pet 147, "hello", 13, 0`: the characters the encoding has in
    // quotes, the other bytes as numbers. A row with none is a row of bytes.
    void string(const Row& row, TextSet set) {
        const TextEncoding& enc = encoding(set);
        const auto written = [&](std::uint32_t a) { return enc.chars[image_.at(a)]; };
        // A number the translation would change (the code of a character
        // that stands for another byte) makes the row one of bytes.
        const auto translated = [&](std::uint8_t number) {
            for (std::size_t byte = 0; byte < enc.chars.size(); ++byte) {
                const char c = enc.chars[byte];
                if (c != 0 && static_cast<std::uint8_t>(c) == number && byte != number) return true;
            }
            return false;
        };
        bool any = false;
        bool refused = false;
        for (std::uint32_t a = row.address; a < row.address + row.size; ++a) {
            any = any || written(a) != 0;
            refused = refused || (enc.numbers_translated && written(a) == 0 && translated(image_.at(a)));
        }
        if (!any || refused) {
            bytes(row.address, row.size);
            return;
        }
        text_ << enc.directive;
        bool quoted = false;
        for (std::uint32_t a = row.address; a < row.address + row.size; ++a) {
            const char c = written(a);
            if (c != 0 && quoted) {
                text_ << c;
                continue;
            }
            if (quoted) text_ << '"';
            if (a != row.address) text_ << ", ";
            quoted = c != 0;
            if (quoted) {
                text_ << '"' << c;
            } else {
                text_ << std::to_string(image_.at(a));
            }
        }
        if (quoted) text_ << '"';
    }

    // "!byte $01,$02" for the bytes of a row. Data rows are most of a big
    // image's text: each is put together in a buffer and appended at once.
    void bytes(std::uint32_t begin, std::uint32_t size) {
        text_ << d_.byte_directive;
        constexpr std::uint32_t kChunk = 16;
        std::array<char, 4 * kChunk> chunk{};
        for (std::uint32_t done = 0; done < size;) {
            const std::uint32_t count = std::min(kChunk, size - done);
            for (std::uint32_t i = 0; i < count; ++i) {
                char* at = &chunk[4 * i];
                at[0] = ',';
                at[1] = '$';
                put_hex_digits(at + 2, image_.at(begin + done + i), 2);
            }
            // The first byte of the row has no comma before it.
            const std::size_t skip = done == 0 ? 1 : 0;
            text_ << std::string_view(chunk.data() + skip, 4 * count - skip);
            done += count;
        }
    }

    const TextEncoding& encoding(TextSet set) const { return (*encodings_)[static_cast<std::size_t>(set)]; }

    Text& text_;
    std::optional<TextSet> selected_;  // the encoding the source is in
    const std::array<TextEncoding, 2>* encodings_ = nullptr;
    std::string_view translation_;  // the build command's, where it names one
    std::vector<std::pair<std::uint32_t, std::string_view>> labels_;  // naming places, by address
    const std::vector<Reference>* all_references_ = nullptr;
    const std::vector<DataItem>& listing_items_;
    const Image& image_;
    const Dialect& d_;
};

}  // namespace

std::optional<std::string> shell_word(std::string_view name, Shell shell) {
    const bool plain = !name.empty() && std::all_of(name.begin(), name.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
               std::string_view("._-/+,:@=").find(c) != std::string_view::npos;
    });
    // A word that starts with "-" would be read as an option.
    const std::string_view here = name.starts_with('-') ? (shell == Shell::Cmd ? ".\\" : "./") : "";
    if (plain) return std::string(here) + std::string(name);
    // The command stands in the comment as it is: the name may hold a
    // backslash, but nothing that a comment writes as an escape (a line
    // break, a control character, bytes that are not UTF-8).
    std::string shown;
    std::string backslashes_doubled;
    append_comment_text(shown, name);
    for (const char c : name) backslashes_doubled += c == '\\' ? std::string(2, c) : std::string(1, c);
    if (name.empty() || shown != backslashes_doubled) return std::nullopt;
    if (shell == Shell::Cmd) {
        // Inside double quotes cmd.exe takes & | < > ^ ( ) and spaces as they
        // are, but expands %VAR% and cannot hold a double quote.
        if (name.find_first_of("%\"") != std::string_view::npos) return std::nullopt;
        return "\"" + std::string(here) + std::string(name) + "\"";
    }
    // Inside single quotes sh takes every character as it is; a quote
    // itself is closed, escaped and opened again.
    std::string word = "'" + std::string(here);
    for (const char c : name) word += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return word + "'";
}

std::string write_asm(const Listing& listing, const Image& image, const Dialect& dialect, const BuildNames& names) {
    std::string out;
    write_asm(listing, image, dialect, names, [&out](std::string_view part) { out += part; });
    return out;
}

std::string write_lst(const Listing& listing, const Image& image, const Dialect& dialect, const BuildNames& names) {
    std::string out;
    write_lst(listing, image, dialect, names, [&out](std::string_view part) { out += part; });
    return out;
}

void write_asm(const Listing& listing, const Image& image, const Dialect& dialect, const BuildNames& names,
               const TextSink& sink, Markup* markup) {
    Text text(sink, dialect.preprocessed_comments, markup);
    Writer writer(text, listing, image, dialect);
    writer.header(listing, names);
    if (!listing.equates.empty()) {
        for (const Symbol& symbol : listing.equates) {
            text.definition(symbol.name) << " = $";
            text.digits(symbol.address, symbol.address < 0x100 ? 2 : 4).end_line();
        }
        text.line();
    }
    if (listing.undocumented && !dialect.cpu_directive.empty()) text.line("\t" + std::string(dialect.cpu_directive));
    const bool has_text = std::any_of(listing.rows.begin(), listing.rows.end(), [](const Row& row) {
        return row.kind == RowKind::Text || row.kind == RowKind::ScreenText;
    });
    if (has_text) text << dialect.text_definitions;
    text << fill_in(dialect.preamble, names, listing.origin);
    text << '\t' << dialect.origin << '$';
    text.digits(listing.origin, 4).end_line();
    writer.name_places_by_labels(listing);
    // A label's references start where row comments do, after the tab.
    constexpr std::size_t kLabelCommentAt = 8 + kTextWidth;
    bool blank = false;  // the line before is blank
    for (const Row& row : listing.rows) {
        if (!row.heading.empty() && !blank) text.line();
        text.row(row);
        if (!row.heading.empty()) {
            writer.heading(row.heading);
        }
        writer.select_encoding(row);
        if (!row.label.empty()) writer.label(row.label, row.references, kLabelCommentAt);
        text << '\t';
        writer.source(row);
        text.end_line();
        if (row.ends_flow) text.line();  // a blank line between routines
        blank = row.ends_flow;
    }
    if (!listing.end_label.empty()) writer.label(listing.end_label, listing.end_references, kLabelCommentAt);
}

void write_lst(const Listing& listing, const Image& image, const Dialect& dialect, const BuildNames& names,
               const TextSink& sink) {
    Text text(sink, dialect.preprocessed_comments);
    Writer writer(text, listing, image, dialect);
    writer.header(listing, names);
    // A row's columns: the address, two spaces, room for eight hex pairs,
    // ten spaces, the source; a label stands two spaces after the pairs.
    constexpr std::size_t kBytesAt = 4 + 2;
    constexpr std::size_t kBytesWidth = 8 * 3 - 1;
    constexpr std::size_t kLabelAt = kBytesAt + kBytesWidth + 2;
    constexpr std::size_t kSourceAt = kBytesAt + kBytesWidth + 10;
    std::array<char, kSourceAt> columns{};
    const auto label_line = [&](std::uint32_t address, std::string_view label, References refs) {
        columns.fill(' ');
        put_hex_digits(columns.data(), address, 4);
        text << std::string_view(columns.data(), kLabelAt);
        writer.label(label, refs, kSourceAt - kLabelAt + kTextWidth);
    };
    bool first = true;  // after the header's blank line
    for (const Row& row : listing.rows) {
        if (!row.heading.empty()) {
            if (!first) text.line();
            text.spaces(kLabelAt);
            writer.heading(row.heading);
        }
        if (!row.label.empty()) label_line(row.address, row.label, row.references);
        columns.fill(' ');
        put_hex_digits(columns.data(), row.address, 4);
        // As many bytes as the column holds: eight.
        const std::uint32_t shown = std::min<std::uint32_t>(row.size, 8);
        for (std::uint32_t i = 0; i < shown; ++i) {
            put_hex_digits(&columns[kBytesAt + 3 * i], image.at(row.address + i), 2);
        }
        text << std::string_view(columns.data(), kSourceAt);
        writer.source(row);
        text.end_line();
        // The rest of a longer row (a string) eight bytes a line.
        for (std::uint32_t from = 8; from < row.size; from += 8) {
            columns.fill(' ');
            put_hex_digits(columns.data(), row.address + from, 4);
            const std::uint32_t count = std::min<std::uint32_t>(row.size - from, 8);
            for (std::uint32_t i = 0; i < count; ++i) {
                put_hex_digits(&columns[kBytesAt + 3 * i], image.at(row.address + from + i), 2);
            }
            text << std::string_view(columns.data(), kBytesAt + 3 * count - 1);
            text.end_line();
        }
        first = false;
    }
    if (!listing.end_label.empty()) label_line(image.end(), listing.end_label, listing.end_references);
    text.line();
    text.line("; symbol table");
    for (const Symbol& symbol : listing.symbols) {
        text << symbol.name;
        text.spaces(symbol.name.size() < 16 ? 16 - symbol.name.size() : 1) << "$";
        text.digits(symbol.address, 4).end_line();
    }
}

std::string write_config(const Dialect& dialect) { return std::string(dialect.config); }

}  // namespace tolvek
