#include "support.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iomanip>
#include <random>
#include <sstream>

#include "output/listing.hpp"
#include "output/writers.hpp"

namespace fs = std::filesystem;

namespace tolvek_test {

ScratchDir::ScratchDir() {
    std::random_device random;
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    const std::string name = info ? std::string(info->test_suite_name()) + "_" + info->name() : "tolvek";
    path_ = fs::temp_directory_path() / ("tolvek_" + name + "_" + std::to_string(random()));
    fs::create_directories(path_);
}

ScratchDir::~ScratchDir() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
}

std::string quote(const std::string& word) {
    std::string out = "'";
    for (char c : word) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

Result run_in(const fs::path& dir, const std::string& command) {
    const fs::path out = dir / ".run_out";
    const fs::path err = dir / ".run_err";
    const std::string line = "cd " + quote(dir.string()) + " && { " + command + " ; } >" + quote(out.string()) +
                             " 2>" + quote(err.string());
    Result result;
    const int raw = std::system(line.c_str());
    result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    result.out = read_text(out);
    result.err = read_text(err);
    fs::remove(out);
    fs::remove(err);
    return result;
}

std::vector<std::uint8_t> read_bytes(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string read_text(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void write_bytes(const fs::path& file, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(file, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

void write_text(const fs::path& file, const std::string& text) {
    std::ofstream out(file, std::ios::binary);
    out << text;
}

bool have_acme() { return have_assembler("acme"); }

std::string test_name(const std::string& dialect) { return dialect == "64tass" ? "tass64" : dialect; }

bool have_assembler(const std::string& dialect) {
    // dasm has no --version: without arguments it shows its usage and
    // fails, so the shell is asked whether there is such a command.
    const std::string probe = dialect == "ca65" ? "cl65 --version"
                              : dialect == "dasm" ? "command -v dasm"
                                                  : dialect + " --version";
    return std::system((probe + " >/dev/null 2>&1").c_str()) == 0;
}

std::string spelled(const std::string& dialect, const Spellings& spellings) {
    const std::pair<const char*, const std::string*> all[] = {{"acme", &spellings.acme},
                                                              {"64tass", &spellings.tass64},
                                                              {"ca65", &spellings.ca65},
                                                              {"dasm", &spellings.dasm},
                                                              {"xa", &spellings.xa}};
    for (const auto& [name, text] : all) {
        if (dialect == name) return *text;
    }
    ADD_FAILURE() << "no spelling for the dialect " << dialect;
    return "?";
}

std::vector<std::uint8_t> assemble(const ScratchDir& dir, const std::string& source) {
    write_text(dir / "source.a", source);
    const Result result = run_in(dir.path(), "acme -f cbm -o source.prg source.a");
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.err, "");
    return read_bytes(dir / "source.prg");
}

namespace {

// `text` without its header line that names the hints file read, if any.
std::string without_hints_line(std::string text) {
    const std::size_t at = text.find("; hints from ");
    if (at != std::string::npos) text.erase(at, text.find('\n', at) + 1 - at);
    return text;
}

// The analysis written as hints (image.written), read back, gives each
// output of `outputs` (by option: -a, -w) again, but for the header line
// that names the hints.
void check_hints_reproduce(const ScratchDir& dir, const std::string& options,
                           const std::vector<std::pair<std::string, std::string>>& outputs) {
    for (const auto& [option, first] : outputs) {
        const Result again = run_in(dir.path(), quote(TOLVEK_EXE) + " " + option + " --hints image.written" + options);
        EXPECT_EQ(again.status, 0) << again.err;
        const std::string written = read_text(dir / (option == "-a" ? "image.asm" : "image.lst"));
        EXPECT_NE(written.find("; hints from image.written\n"), std::string::npos) << option;
        const std::string before = without_hints_line(first), after = without_hints_line(written);
        if (after == before) continue;
        // The first line that differs, with the hints that gave it.
        std::istringstream a(before), b(after);
        std::string la, lb;
        while (std::getline(a, la) && std::getline(b, lb) && la == lb) {
        }
        ADD_FAILURE() << option << ": the written hints give another output, first at\n  " << la << "\nagainst\n  " << lb
                      << "\nhints:\n" << read_text(dir / "image.written");
    }
}

}  // namespace

std::string round_trip(const ScratchDir& dir, std::uint32_t load, std::int64_t entry,
                       const std::vector<std::uint8_t>& image, const std::string& dialect, const std::string& cpu) {
    write_bytes(dir / "image.tmp", image);
    fs::remove(dir / "image-rebuilt.prg");
    const std::string options = " -c" + cpu + " -o" + std::to_string(load) + " -e" + std::to_string(entry) +
                                " -t image.tmp -s" + dialect;
    const Result tolvek = run_in(dir.path(), quote(TOLVEK_EXE) + " -a --write-hints image.written" + options);
    EXPECT_EQ(tolvek.status, 0) << tolvek.err;
    const std::string source = read_text(dir / "image.asm");
    // The analysis, and so what the hints give back, is the same in every
    // dialect: checked in one, which keeps the sanitizer build's runs short.
    if (dialect == "acme") {
        const Result lst = run_in(dir.path(), quote(TOLVEK_EXE) + " -w" + options);
        EXPECT_EQ(lst.status, 0) << lst.err;
        check_hints_reproduce(dir, options, {{"-a", source}, {"-w", read_text(dir / "image.lst")}});
    }
    // The header names the command that rebuilds the program.
    const std::string marker = "; rebuild with ";
    const std::size_t at = source.find(marker);
    if (at == std::string::npos) {
        ADD_FAILURE() << "no rebuild command in the header";
        return source;
    }
    const std::size_t from = source.find(": ", at) + 2;
    const std::string command = source.substr(from, source.find('\n', from) - from);
    const Result build = run_in(dir.path(), command);
    EXPECT_EQ(build.status, 0) << command << "\n" << build.err << build.out;
    // Remarks on 6502 quirks the original code has are fine; anything else
    // (such as an oversized addressing mode) is a trap the source fell into.
    std::istringstream remarks(build.err);
    for (std::string line; std::getline(remarks, line);) {
        // ACME's, 64tass's and ca65's words for jmp ($xxff) and for a zero
        // page pointer at $ff; and what else the assemblers print. dasm and
        // xa say nothing about either.
        const bool quirk = line.find("buggy JMP($xxff)") != std::string::npos ||
                           line.find("Zeropage pointer wraps around") != std::string::npos ||
                           line.find("possible jmp ($xxff) bug") != std::string::npos ||
                           line.find("\"jmp (abs)\" across page border") != std::string::npos ||
                           line.find_first_not_of(" \t^") == std::string::npos ||
                           line.find("\tjmp (") != std::string::npos;
        EXPECT_TRUE(quirk) << dialect << " complains: " << line;
    }
    std::vector<std::uint8_t> expected(image.size() + 2);
    expected[0] = static_cast<std::uint8_t>(load & 0xff);
    expected[1] = static_cast<std::uint8_t>(load >> 8);
    std::copy(image.begin(), image.end(), expected.begin() + 2);
    const std::vector<std::uint8_t> again = read_bytes(dir / "image-rebuilt.prg");
    EXPECT_EQ(again.size(), expected.size()) << dialect;
    if (again != expected) {
        for (std::size_t i = 0; i < std::min(again.size(), expected.size()); ++i) {
            if (again[i] != expected[i]) {
                ADD_FAILURE() << dialect << ": first difference at address $" << std::hex << load + i - 2;
                break;
            }
        }
    }
    return source;
}

std::string listed_at(const tolvek::MemoryMap& map, std::uint32_t address) {
    const tolvek::Listing listing = tolvek::build_listing(map, {"test.tmp", "test.unpacked.prg", "test.unpacked.asm", "Tolvek.exe --unpack"});
    const auto row = std::find_if(listing.rows.begin(), listing.rows.end(),
                                  [address](const tolvek::Row& r) { return r.address == address; });
    if (row == listing.rows.end()) return "";
    // Only that row, written as the .lst writes it: address, bytes, source.
    tolvek::Listing one;
    one.rows.push_back(*row);
    one.items = listing.items;
    one.references = listing.references;
    const std::string lst = tolvek::write_lst(one, map.image(), tolvek::kAcme, {"test.asm", "test.prg", ""});
    // The row's line is the last one that starts with its address.
    std::string statement;
    std::istringstream lines(lst);
    const std::string at = [address] {
        std::ostringstream hex;
        hex << std::hex << std::setw(4) << std::setfill('0') << address;
        return hex.str();
    }();
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind(at, 0) == 0 && line.size() > 39) statement = line.substr(39);
    }
    statement = statement.substr(0, statement.find(" ;"));
    statement.erase(statement.find_last_not_of(' ') + 1);
    return row->label.empty() ? statement : std::string(row->label) + ": " + statement;
}

}  // namespace tolvek_test
