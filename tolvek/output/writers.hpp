// Turning a listing into the text of the .asm and the .lst file, in one
// assembler's dialect.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "image.hpp"
#include "output/listing.hpp"
#include "syntax/dialect.hpp"

namespace tolvek {

// The command processor the header's rebuild command is written for: the
// one of the system Tolvek is built for.
enum class Shell : std::uint8_t { Posix, Cmd };
#ifdef _WIN32
inline constexpr Shell kHostShell = Shell::Cmd;
#else
inline constexpr Shell kHostShell = Shell::Posix;
#endif

// The files a rebuild reads and writes, as the header's command names them.
struct BuildNames {
    std::string source;   // "game.asm"
    std::string program;  // the program file it gives back
    std::string config;   // the linker configuration, where the dialect has one
    Shell shell = kHostShell;
};

// A file name as one word of a command line for `shell`, such that pasted
// from the header's comment it names that file and nothing runs: as it is
// where it has only letters, digits and . _ - / + , : @ =, else quoted (sh:
// single quotes, a quote as '\''; cmd.exe: double quotes); "./" or ".\"
// before a leading "-". None where the shell cannot be given the name
// safely (cmd.exe: % or ") or the header's comment cannot hold it (a line
// break, a control character, bytes that are not UTF-8).
std::optional<std::string> shell_word(std::string_view name, Shell shell);

// Where the writers hand over their text, a piece at a time.
using TextSink = std::function<void(std::string_view)>;

// What a writer marks in the text it writes, for a page that shows it
// (output/html). Without one (the .asm, the .lst) the text is written as it
// is. Each function appends to `out` what stands for a piece of the text;
// the writer counts the piece's own characters for its columns.
class Markup {
public:
    virtual ~Markup() = default;
    // A piece of text as it is to show.
    virtual void text(std::string& out, std::string_view text) = 0;
    // A label's (or an equate's) name where the source defines it.
    virtual void definition(std::string& out, std::string_view name) = 0;
    // A name where an operand, a table entry or a comment names it.
    virtual void reference(std::string& out, std::string_view name) = 0;
    // Before the lines of a row (its heading, label and statement): shows
    // nothing of the source.
    virtual void row(std::string& out, const Row& row) = 0;
};

// Assembly source; assembled with the command in its header it gives back
// the original program file. With `markup`, the same text marked up.
void write_asm(const Listing& listing, const Image& image, const Dialect& dialect, const BuildNames& names,
               const TextSink& sink, Markup* markup = nullptr);
std::string write_asm(const Listing& listing, const Image& image, const Dialect& dialect, const BuildNames& names);

// Address, bytes and source per row, then the symbol table.
void write_lst(const Listing& listing, const Image& image, const Dialect& dialect, const BuildNames& names,
               const TextSink& sink);
std::string write_lst(const Listing& listing, const Image& image, const Dialect& dialect, const BuildNames& names);

// The linker configuration the dialect's build command reads, or "".
std::string write_config(const Dialect& dialect);

}  // namespace tolvek
