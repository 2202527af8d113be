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

// Assembly source; assembled with the command in its header it gives back
// the original program file.
void write_asm(const Listing& listing, const Image& image, const Dialect& dialect, const BuildNames& names,
               const TextSink& sink);
std::string write_asm(const Listing& listing, const Image& image, const Dialect& dialect, const BuildNames& names);

// Address, bytes and source per row, then the symbol table.
void write_lst(const Listing& listing, const Image& image, const Dialect& dialect, const BuildNames& names,
               const TextSink& sink);
std::string write_lst(const Listing& listing, const Image& image, const Dialect& dialect, const BuildNames& names);

// The linker configuration the dialect's build command reads, or "".
std::string write_config(const Dialect& dialect);

}  // namespace tolvek
