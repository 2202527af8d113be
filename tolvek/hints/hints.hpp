// What a user tells Tolvek about a program: a hints file of one directive a
// line, read before the analysis, which the trace and the guesses build on.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "image.hpp"

namespace tolvek {

// The kinds of a range in a hints file.
enum class HintRange : std::uint8_t {
    Code,        // code: traced from its first byte
    Bytes,       // data: plain bytes
    Words,       // data: 16-bit addresses
    RtsWords,    // data: addresses minus one, for an rts to jump to
    Split,       // data: low halves here, the high halves at `high`
    RtsSplit,    // the same, of addresses minus one
    Petscii,     // data: text in PETSCII
    ScreenCode,  // data: text in screen codes
    Unknown,     // left alone by an earlier analysis: no guess claims it
    Sprite,      // graphics: sprites, 64 bytes each from the first address
    Charset,     // graphics: character sets of glyphs, 8 bytes each, 2048 bytes a set
    Bitmap,      // graphics: bitmaps of 8000 bytes
    ScreenMemory,  // graphics: screens of 1000 bytes (character codes, or a bitmap's colours)
    ColourData,    // graphics: colours for colour RAM, 1000 bytes a screen
};

// Whether a range of this kind types graphics (and takes `multicolour`).
constexpr bool is_graphics(HintRange kind) { return kind >= HintRange::Sprite && kind <= HintRange::ColourData; }
constexpr bool takes_multicolour(HintRange kind) {
    return kind == HintRange::Sprite || kind == HintRange::Charset || kind == HintRange::Bitmap;
}

struct RangeHint {
    HintRange kind = HintRange::Bytes;
    std::uint32_t first = 0;  // the range's first address
    std::uint32_t last = 0;   // and its last (inclusive)
    std::uint32_t high = 0;   // Split, RtsSplit: where the high halves start
    int line = 0;             // in the hints file, for messages
    bool multicolour = false;  // Sprite, Charset, Bitmap: shown in multicolour ("multicolour" after the range)
};

struct Hints {
    std::string file;                                  // as named in messages and the header
    std::vector<std::pair<std::uint32_t, int>> entries;  // address, line
    std::vector<RangeHint> ranges;
    std::map<std::uint32_t, std::string> names;     // address -> name
    std::map<std::uint32_t, std::string> comments;  // address -> comment text
    // run-cycles: the run's budget, unless --run-cycles gives one.
    std::optional<std::uint64_t> run_cycles;
    std::string text;  // the file as read, in UTF-8 with LF line ends, for write_hints to keep
};

// Reads a hints file called `file` from its bytes as stored, and keeps its
// text in `hints.text`. The bytes may be UTF-8, with or without a
// byte-order mark, or UTF-16 with one (LE or BE), and lines may end in LF,
// CR LF or CR. Returns an empty message on success, else one line
// "file:line: what is wrong". Label files that the text names (`labels`,
// a name with spaces in double quotes) are read through `read_file`, which
// returns an empty string, else why it cannot read the file.
using FileReader = std::function<std::string(const std::string& name, std::string& text)>;
std::string parse_hints(std::string text, const std::string& file, Hints& hints, const FileReader& read_file);

// Reads VICE monitor labels ("al C:080d .start" lines) into `names`, from
// the bytes of the file as stored (as parse_hints takes them). Returns an
// empty message on success, else "file:line: what is wrong".
std::string parse_vice_labels(std::string text, const std::string& file, std::map<std::uint32_t, std::string>& names);

// The longest name a label may have.
constexpr std::size_t kLongestName = 64;

// Why `name` cannot be a label in every dialect, or "" where it can: it
// must have a letter first, then letters, digits and underscores, at most
// kLongestName characters, and be nothing an assembler reads otherwise (a mnemonic, a
// register, ...; see Dialect::reserved), case ignored.
std::string name_problem(std::string_view name);

// The directive's word for a range kind ("code", "bytes", ...).
std::string_view range_word(HintRange kind);

// An address as hints and their messages write it: "$c000".
std::string address_text(std::uint32_t address);

// The bytes a range covers, first and last: one stretch, or two for split
// tables (the low halves, then the high ones).
std::vector<std::pair<std::uint32_t, std::uint32_t>> stretches(const RangeHint& range);

// Checks the hints against the image: ranges inside it and not over one
// another, code ranges whose instructions end with the range. Returns an
// empty message, else one line "file:line: what is wrong".
std::string check_hints(const Hints& hints, const Image& image);

}  // namespace tolvek
