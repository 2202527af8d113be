// Helpers for tests that run Tolvek.exe, acme or prgdis as programs.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "analysis/memory_map.hpp"
#include "image.hpp"

namespace tolvek_test {

// An image of `bytes` at `load`.
inline tolvek::Image make_image(std::uint32_t load, std::vector<std::uint8_t> bytes) {
    tolvek::Image image;
    image.load = load;
    image.bytes = std::move(bytes);
    return image;
}

// A fresh, empty folder that is removed again at the end of the test.
class ScratchDir {
public:
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

private:
    std::filesystem::path path_;
};

struct Result {
    int status = -1;
    std::string out;
    std::string err;
};

// Runs a shell command in `dir`, capturing both output streams.
Result run_in(const std::filesystem::path& dir, const std::string& command);

// Single-quoted for sh.
std::string quote(const std::string& word);

std::vector<std::uint8_t> read_bytes(const std::filesystem::path& file);
std::string read_text(const std::filesystem::path& file);
void write_bytes(const std::filesystem::path& file, const std::vector<std::uint8_t>& bytes);
void write_text(const std::filesystem::path& file, const std::string& text);

bool have_acme();

// The dialects, as -s names them: the parameters of the tests that rebuild
// the source in each.
inline const std::vector<std::string> kDialectNames = {"acme", "64tass", "ca65", "dasm", "xa"};

// A name for a test's parameter: "tass64" for "64tass", as a name must not
// start with a digit.
std::string test_name(const std::string& dialect);

// Whether the assembler of a dialect ("acme", "64tass", "ca65", "dasm",
// "xa") is installed.
bool have_assembler(const std::string& dialect);

// One text as each dialect spells it, for the expectations of a test.
struct Spellings {
    std::string acme, tass64, ca65, dasm, xa;
};
// The spelling of `dialect`; fails the test for a dialect it does not know.
std::string spelled(const std::string& dialect, const Spellings& spellings);

// Assembles ACME source into a .prg with "acme -f cbm"; fails the test if
// acme reports anything.
std::vector<std::uint8_t> assemble(const ScratchDir& dir, const std::string& source);

// Disassembles `image` at `load` with Tolvek.exe -a -c<cpu> in `dialect`,
// rebuilds the program with the command that the .asm's header names and
// checks that the program file comes back byte for byte and that the
// assembler has nothing to complain about; and, for acme, that the
// analysis written as hints and read back gives the same .asm and .lst.
// Returns the .asm text.
std::string round_trip(const ScratchDir& dir, std::uint32_t load, std::int64_t entry,
                       const std::vector<std::uint8_t>& image, const std::string& dialect = "acme",
                       const std::string& cpu = "6502");

// What a reader of the listing (ACME) sees at `address`: the label
// defined there and a colon, if any, then the statement of the row that
// starts there without its comment ("Lc00f: lda #$00", "!byte $01,$02");
// "" when no row starts at `address`. For assertions on the outcome of an
// analysis rather than on which of its passes decided it.
std::string listed_at(const tolvek::MemoryMap& map, std::uint32_t address);

}  // namespace tolvek_test
