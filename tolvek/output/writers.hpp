// Turning a listing into the text of the .asm and the .lst file, in one
// assembler's dialect.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "image.hpp"
#include "output/dialect.hpp"
#include "output/listing.hpp"

namespace tolvek {

// The files a rebuild reads and writes, as the header's command names them.
struct BuildNames {
    std::string source;   // "game.asm"
    std::string program;  // the program file it gives back
    std::string config;   // the linker configuration, where the dialect has one
};

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
