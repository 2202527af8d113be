#include "hints/hints.hpp"

#include <algorithm>
#include <cctype>
#include <optional>

#include "emu/run.hpp"
#include "number.hpp"
#include "syntax/dialect.hpp"

namespace tolvek {
namespace {

std::string lower(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

// A word of the file quoted in a message, cut short after 80 bytes (at the
// start of a character), so that a message stays a line one can read.
std::string quoted(std::string_view word) {
    constexpr std::size_t kShown = 80;
    if (word.size() <= kShown) return "'" + std::string(word) + "'";
    std::size_t cut = kShown;
    while (cut > 0 && (static_cast<unsigned char>(word[cut]) & 0xc0) == 0x80) --cut;
    return "'" + std::string(word.substr(0, cut)) + "...'";
}

// The words of a line, split at spaces and tabs.
std::vector<std::string_view> words_of(std::string_view line) {
    std::vector<std::string_view> words;
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
        const std::size_t start = i;
        while (i < line.size() && line[i] != ' ' && line[i] != '\t') ++i;
        if (i > start) words.push_back(line.substr(start, i - start));
    }
    return words;
}

// A line without its comment (from # or ;) and the blanks before it.
std::string_view without_comment(std::string_view line) {
    const std::size_t at = line.find_first_of("#;");
    if (at != std::string_view::npos) line = line.substr(0, at);
    while (!line.empty() && (line.back() == ' ' || line.back() == '\t')) line.remove_suffix(1);
    return line;
}

// The number of the line that `text` ends in; LF, CR LF and CR end a line.
int line_at_end(std::string_view text) {
    int number = 1;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n' || (text[i] == '\r' && (i + 1 == text.size() || text[i + 1] != '\n'))) ++number;
    }
    return number;
}

void append_utf8(std::string& out, std::uint32_t c) {
    const auto byte = [&](std::uint32_t b) { out += static_cast<char>(b); };
    if (c < 0x80) {
        byte(c);
    } else if (c < 0x800) {
        byte(0xc0 | c >> 6);
        byte(0x80 | (c & 0x3f));
    } else if (c < 0x10000) {
        byte(0xe0 | c >> 12);
        byte(0x80 | (c >> 6 & 0x3f));
        byte(0x80 | (c & 0x3f));
    } else {
        byte(0xf0 | c >> 18);
        byte(0x80 | (c >> 12 & 0x3f));
        byte(0x80 | (c >> 6 & 0x3f));
        byte(0x80 | (c & 0x3f));
    }
}

// UTF-16 (the bytes after its byte-order mark) as UTF-8 in `out`. Returns
// "", else "file:line: what is wrong".
std::string utf16_to_utf8(std::string_view bytes, bool big_endian, const std::string& file, std::string& out) {
    out.clear();
    out.reserve(bytes.size() / 2 * 3);
    const auto unit = [&](std::size_t at) {
        const auto first = static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at]));
        const auto second = static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at + 1]));
        return big_endian ? first << 8 | second : second << 8 | first;
    };
    const auto fail = [&](const std::string& what) {
        return file + ":" + std::to_string(line_at_end(out)) + ": not valid UTF-16: " + what + "; save it as UTF-8";
    };
    const auto hex = [](std::uint32_t value) { return "0x" + address_text(value).substr(1); };
    std::size_t at = 0;
    for (; at + 1 < bytes.size(); at += 2) {
        std::uint32_t c = unit(at);
        if (c >= 0xdc00 && c <= 0xdfff) return fail("a second half of a surrogate pair (" + hex(c) + ") without the first");
        if (c >= 0xd800 && c <= 0xdbff) {
            const std::uint32_t second = at + 3 < bytes.size() ? unit(at + 2) : 0;
            if (second < 0xdc00 || second > 0xdfff) {
                return fail("a first half of a surrogate pair (" + hex(c) + ") without the second");
            }
            c = 0x10000 + ((c - 0xd800) << 10) + (second - 0xdc00);
            at += 2;
        }
        append_utf8(out, c);
    }
    if (at < bytes.size()) return fail("it ends in half a character");
    return {};
}

// Turns the bytes of a hints or label file as stored into UTF-8 text with
// LF line ends, however the editor saved it: a UTF-8 byte-order mark is
// dropped, UTF-16 with a byte-order mark (Notepad's "Unicode") converted,
// and CR LF and CR (old Macs) made LF, so that line numbers stay right.
// Returns "", else "file:line: what is wrong".
std::string to_plain_text(std::string& text, const std::string& file) {
    const std::string_view stored = text;
    if (stored.starts_with("\xef\xbb\xbf")) {
        text.erase(0, 3);
    } else if (stored.starts_with("\xff\xfe") || stored.starts_with("\xfe\xff")) {
        std::string utf8;
        if (std::string problem = utf16_to_utf8(stored.substr(2), stored[0] == '\xfe', file, utf8); !problem.empty()) {
            return problem;
        }
        text = std::move(utf8);
    }
    std::size_t kept = 0;
    for (std::size_t at = 0; at < text.size(); ++at) {
        char c = text[at];
        if (c == '\r') {
            c = '\n';
            if (at + 1 < text.size() && text[at + 1] == '\n') ++at;
        }
        text[kept++] = c;
    }
    text.resize(kept);
    return {};
}

struct RangeWord {
    std::string_view word;
    HintRange kind;
};

constexpr RangeWord kRangeWords[] = {
    {"code", HintRange::Code},       {"bytes", HintRange::Bytes},          {"words", HintRange::Words},
    {"rts-words", HintRange::RtsWords}, {"split", HintRange::Split},       {"rts-split", HintRange::RtsSplit},
    {"text", HintRange::Petscii},    {"screen", HintRange::ScreenCode},    {"unknown", HintRange::Unknown},
    {"sprite", HintRange::Sprite},   {"charset", HintRange::Charset},      {"bitmap", HintRange::Bitmap},
    {"screen-memory", HintRange::ScreenMemory}, {"colour-data", HintRange::ColourData},
};

// After a range of graphics: how they are shown.
constexpr std::string_view kMulticolour = "multicolour";

class Parser {
public:
    Parser(const std::string& file, Hints& hints, const FileReader& read_file)
        : file_(file), hints_(hints), read_file_(read_file) {}

    std::string line(std::string_view raw, int number) {
        line_ = number;
        const std::vector<std::string_view> words = words_of(without_comment(raw));
        if (words.empty()) return {};
        const std::string directive = lower(words[0]);
        if (directive == "comment") return comment(raw, words);
        if (directive == "entry") {
            if (words.size() != 2) return fail("entry takes one address");
            const auto address = parse_address(words[1]);
            if (!address) return fail("not an address: " + quoted(words[1]));
            hints_.entries.emplace_back(*address, line_);
            return {};
        }
        if (directive == "name") {
            if (words.size() != 3) return fail("name takes an address and a name");
            const auto address = parse_address(words[1]);
            if (!address) return fail("not an address: " + quoted(words[1]));
            return name(*address, words[2]);
        }
        if (directive == "run-cycles") {
            const auto cycles = words.size() == 2 ? parse_number(words[1]).value : std::nullopt;
            if (!cycles || *cycles > kMaxRunCycles) {
                return fail("run-cycles takes a number of cycles, 0.." + std::to_string(kMaxRunCycles));
            }
            if (hints_.run_cycles) return fail("run-cycles is given twice");
            hints_.run_cycles = *cycles;
            return {};
        }
        if (directive == "labels") {
            std::string name;
            if (std::string problem = label_file_name(raw, words, name); !problem.empty()) return problem;
            std::string text;
            if (const std::string why = read_file_(name, text); !why.empty()) {
                return fail("cannot read the label file " + quoted(name) + ": " + why);
            }
            std::map<std::uint32_t, std::string> names;
            if (std::string problem = parse_vice_labels(std::move(text), name, names); !problem.empty()) return problem;
            for (const auto& [address, label] : names) {
                if (std::string problem = this->name(address, label); !problem.empty()) return problem;
            }
            return {};
        }
        for (const RangeWord& range : kRangeWords) {
            if (directive == range.word) return this->range(range.kind, words);
        }
        // What UTF-16 without a byte-order mark looks like: 'e\0n\0t\0r\0y\0'.
        if (words[0].find('\0') != std::string_view::npos) {
            return fail("a zero byte in a directive (UTF-16 is read only with a byte-order mark); save the file as UTF-8");
        }
        return fail("unknown directive " + quoted(words[0]));
    }

private:
    std::string fail(const std::string& what) const { return file_ + ":" + std::to_string(line_) + ": " + what; }

    // The file name after `labels` (words[0] of the line `raw`): one word,
    // or in double quotes anything but a double quote (spaces, # and ; too),
    // as Windows folders have spaces; then nothing but a comment.
    std::string label_file_name(std::string_view raw, const std::vector<std::string_view>& words, std::string& name) const {
        std::string_view rest = raw.substr(static_cast<std::size_t>(words[0].data() + words[0].size() - raw.data()));
        while (!rest.empty() && (rest[0] == ' ' || rest[0] == '\t')) rest.remove_prefix(1);
        const std::string usage = "labels takes the name of a VICE label file";
        const std::string how = usage + " (in double quotes if it has spaces: labels \"my labels.vice\")";
        if (!rest.starts_with('"')) {
            if (words.size() != 2) return fail(words.size() < 2 ? usage : how);
            name = words[1];
            return {};
        }
        const std::size_t close = rest.find('"', 1);
        if (close == std::string_view::npos) return fail("the double quote before " + quoted(rest.substr(1)) + " is not closed");
        name = rest.substr(1, close - 1);
        if (name.empty()) return fail(usage);
        if (!words_of(without_comment(rest.substr(close + 1))).empty()) return fail(how);
        return {};
    }

    std::string range(HintRange kind, const std::vector<std::string_view>& words) {
        const bool split = kind == HintRange::Split || kind == HintRange::RtsSplit;
        const bool multicolour = takes_multicolour(kind) && words.size() == 3 && lower(words[2]) == kMulticolour;
        const std::string usage = std::string(range_word(kind)) + " takes a range like $c000-$c0ff" +
                                  (split ? " and where the high halves start" : "") +
                                  (takes_multicolour(kind) ? ", and " + std::string(kMulticolour) + " where it is" : "");
        if (words.size() != (split || multicolour ? 3u : 2u)) return fail(usage);
        const std::size_t dash = words[1].find('-');
        if (dash == std::string_view::npos) return fail(usage);
        const auto first = parse_address(words[1].substr(0, dash));
        const auto last = parse_address(words[1].substr(dash + 1));
        if (!first || !last) return fail("not a range: " + quoted(words[1]));
        if (*last < *first) return fail("the range " + std::string(words[1]) + " ends before it starts");
        RangeHint hint{kind, *first, *last, 0, line_, multicolour};
        if (split) {
            const auto high = parse_address(words[2]);
            if (!high || *high + (*last - *first) > 0xffff) return fail("not an address: " + quoted(words[2]));
            hint.high = *high;
        }
        if ((kind == HintRange::Words || kind == HintRange::RtsWords) && (*last - *first) % 2 == 0) {
            return fail("a range of words needs an even number of bytes");
        }
        hints_.ranges.push_back(hint);
        return {};
    }

    std::string name(std::uint32_t address, std::string_view name) {
        if (const std::string problem = name_problem(name); !problem.empty()) {
            return fail(quoted(name) + " cannot be a name: " + problem);
        }
        const auto known = hints_.names.find(address);
        if (known != hints_.names.end() && known->second != name) {
            return fail(address_text(address) + " is named twice: '" + known->second + "' and '" + std::string(name) + "'");
        }
        // One name for one address, also for assemblers that ignore case.
        const std::string key = lower(name);
        const auto taken = names_.find(key);
        if (taken != names_.end() && taken->second != address) {
            return fail("'" + std::string(name) + "' names both " + address_text(taken->second) + " and " +
                        address_text(address));
        }
        names_[key] = address;
        hints_.names[address] = std::string(name);
        return {};
    }

    std::string comment(std::string_view raw, const std::vector<std::string_view>& words) {
        if (words.size() < 2) return fail("comment takes an address and a text");
        // The address is the second word of the line as written; the text
        // is everything after it, # and ; included.
        const auto address = parse_address(words[1]);
        if (!address) return fail("not an address: " + quoted(words[1]));
        std::size_t at = raw.find(words[1]) + words[1].size();
        while (at < raw.size() && (raw[at] == ' ' || raw[at] == '\t')) ++at;
        std::string_view text = raw.substr(at);
        while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
        if (text.empty()) return fail("comment takes an address and a text");
        std::string& comment = hints_.comments[*address];
        if (!comment.empty()) comment += "; ";
        comment += text;
        return {};
    }

    const std::string& file_;
    Hints& hints_;
    const FileReader& read_file_;
    int line_ = 0;
    std::map<std::string, std::uint32_t> names_;  // lower-case name -> address
};

// Calls `each` with every line and its number (the text as to_plain_text
// leaves it: lines end in LF).
template <class Each>
std::string for_each_line(std::string_view text, Each&& each) {
    int number = 0;
    while (!text.empty()) {
        ++number;
        const std::size_t end = text.find('\n');
        const std::string_view line = text.substr(0, end);
        if (std::string problem = each(line, number); !problem.empty()) return problem;
        if (end == std::string_view::npos) break;
        text.remove_prefix(end + 1);
    }
    return {};
}

}  // namespace

std::string address_text(std::uint32_t address) {
    constexpr std::string_view digits = "0123456789abcdef";
    std::string out = "$0000";
    for (int i = 4; i >= 1; --i, address >>= 4) out[static_cast<std::size_t>(i)] = digits[address & 15];
    return out;
}

std::string_view range_word(HintRange kind) {
    for (const RangeWord& range : kRangeWords) {
        if (range.kind == kind) return range.word;
    }
    return "?";
}

std::string name_problem(std::string_view name) {
    if (name.empty() || !std::isalpha(static_cast<unsigned char>(name[0])) ||
        !std::all_of(name.begin(), name.end(),
                     [](char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; })) {
        return "a name has a letter first, then letters, digits and _";
    }
    if (name.size() > kLongestName) return "a name has at most " + std::to_string(kLongestName) + " characters";
    // The assemblers that take it for something else, grouped by what they
    // take it for: "64tass and ca65 read it as a register".
    std::vector<std::pair<std::string_view, std::vector<std::string_view>>> readings;
    for (const Dialect* dialect : kDialects) {
        const std::string_view meaning = reserved_meaning(*dialect, name);
        if (meaning.empty()) continue;
        auto it = std::find_if(readings.begin(), readings.end(), [&](const auto& r) { return r.first == meaning; });
        if (it == readings.end()) it = readings.insert(readings.end(), {meaning, {}});
        it->second.push_back(dialect->assembler);
    }
    std::string problem;
    for (const auto& [meaning, assemblers] : readings) {
        if (!problem.empty()) problem += ", ";
        for (std::size_t i = 0; i < assemblers.size(); ++i) {
            if (i > 0) problem += i + 1 == assemblers.size() ? " and " : ", ";
            problem += assemblers[i];
        }
        problem += assemblers.size() == 1 ? " reads" : " read";
        problem += " it as ";
        problem += meaning;
    }
    return problem;
}

std::string parse_hints(std::string text, const std::string& file, Hints& hints, const FileReader& read_file) {
    hints.file = file;
    if (std::string problem = to_plain_text(text, file); !problem.empty()) return problem;
    hints.text = std::move(text);
    Parser parser(file, hints, read_file);
    return for_each_line(hints.text, [&](std::string_view line, int number) { return parser.line(line, number); });
}

std::string parse_vice_labels(std::string text, const std::string& file, std::map<std::uint32_t, std::string>& names) {
    if (std::string problem = to_plain_text(text, file); !problem.empty()) return problem;
    return for_each_line(text, [&](std::string_view line, int number) -> std::string {
        const auto fail = [&](const std::string& what) { return file + ":" + std::to_string(number) + ": " + what; };
        const std::vector<std::string_view> words = words_of(without_comment(line));
        if (words.empty()) return {};
        // al [C:]080d .name: an address in hex, without the $.
        if (lower(words[0]) != "al" || words.size() != 3) return fail("not a VICE label line (al C:080d .name)");
        std::string_view address = words[1];
        if (address.size() > 2 && address[1] == ':') address.remove_prefix(2);
        const auto value = parse_address("$" + std::string(address));
        std::string_view label = words[2];
        if (!label.empty() && label[0] == '.') label.remove_prefix(1);
        if (!value) return fail("not an address: " + quoted(words[1]));
        if (const std::string problem = name_problem(label); !problem.empty()) {
            return fail(quoted(label) + " cannot be a name: " + problem);
        }
        names[*value] = std::string(label);
        return {};
    });
}

}  // namespace tolvek
