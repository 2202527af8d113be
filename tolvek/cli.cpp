#include "cli.hpp"

#include "syntax/dialect.hpp"

#include <limits>
#include <optional>

namespace tolvek {
namespace {

// A number on the command line: a decimal integer with an optional sign,
// or hex written as $1f or 0x1f.
struct Number {
    std::optional<std::int64_t> value;  // nothing when malformed or too large
    bool too_large = false;              // beyond 64 bits: it would have wrapped around into another
};

Number parse_integer(const std::string& text) {
    std::size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
    int base = 10;
    if (i < text.size() && text[i] == '$') {
        base = 16;
        ++i;
    } else if (text.size() - i > 2 && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
        base = 16;
        i += 2;
    }
    if (i >= text.size()) return {};
    constexpr std::uint64_t kLimit = std::numeric_limits<std::int64_t>::max();
    std::uint64_t value = 0;
    bool too_large = false;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        int digit = -1;
        if (c >= '0' && c <= '9') digit = c - '0';
        if (base == 16 && c >= 'a' && c <= 'f') digit = c - 'a' + 10;
        if (base == 16 && c >= 'A' && c <= 'F') digit = c - 'A' + 10;
        if (digit < 0) return {};
        const auto d = static_cast<std::uint64_t>(digit);
        too_large = too_large || value > (kLimit - d) / static_cast<std::uint64_t>(base);
        if (!too_large) value = value * static_cast<std::uint64_t>(base) + d;
    }
    if (too_large) return {std::nullopt, true};
    const auto magnitude = static_cast<std::int64_t>(value);
    return {negative ? -magnitude : magnitude};
}

// About three hours of a C64's time: more would only keep the user waiting.
constexpr std::int64_t kMaxRunCycles = 10'000'000'000;

}  // namespace

std::string usage() {
    return std::string("Tolvek.exe ") + kVersion + ", the 6502 disassembler of prgdis\n" +
           "usage: Tolvek.exe -a|-w -c<cpu> -o<load> -e<entry> -t <image> [-s<syntax>] [options]\n"
           "       Tolvek.exe -a|-w -c<cpu> -e<entry> -p <program> [-s<syntax>] [options]\n"
           "Disassembles a 6502 memory image into assembly source or a listing.\n"
           "  -a          write the assembly source <image minus extension>.asm\n"
           "              (for ca65 also the linker configuration .cfg)\n"
           "  -w          write the listing <image minus extension>.lst\n"
           "  -c6502      the CPU: the 6502 as the C64's 6510 runs it, with the\n"
           "              undocumented opcodes that do the same on every C64\n"
           "  -c6502doc   the CPU: the 6502's documented opcodes only\n"
           "  -o<load>    address the image loads to, 0..65535\n"
           "  -e<entry>   address execution starts at; any integer, tracing\n"
           "              starts there only when it lies inside the image\n"
           "  -t <image>  the memory image, raw bytes without a load address\n"
           "  -p <program> a program file instead: its first two bytes are the\n"
           "              load address, the rest is the image\n"
           "  -s<syntax>  the assembler to write for: acme (the default), 64tass\n"
           "              or ca65; the .asm's header names the command that\n"
           "              rebuilds the program from it\n"
           "  --hints <file>        read hints from this file instead of\n"
           "                        <image minus extension>.hints (read when it exists)\n"
           "  --write-hints <file>  write the analysis as a hints file to edit\n"
           "  --vice-labels <file>  write the labels for VICE's monitor (ll)\n"
           "  --run-cycles <n>      run the program for at most n cycles of a C64\n"
           "                        (default 10000000, all runs together) to see\n"
           "                        what is code; 0: no run\n"
           "  --unpack              write the memory that the program wrote and then\n"
           "                        ran (what an unpacker unpacked) as the program\n"
           "                        file <image minus extension>.unpacked.prg\n"
           "  -h, --help  show this text\n"
           "  --version   show the version\n"
           "Numbers are decimal, or hex written as $c000 or 0xc000.\n"
           "Option values may be attached (-o2049) or separate (-o 2049).\n";
}

ParsedArgs parse_args(const std::vector<std::string>& args) {
    ParsedArgs result;
    bool have_mode = false, have_cpu = false, have_load = false, have_entry = false, have_image = false,
         have_syntax = false, have_run_cycles = false;
    auto fail = [&](std::string message) {
        result.error = std::move(message);
        return result;
    };
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "-h" || arg == "--help") {
            result.help = true;
            return result;
        }
        if (arg == "--version") {
            result.version = true;
            return result;
        }
        if (arg == "--unpack") {
            if (result.options.unpack) return fail("option --unpack given twice");
            result.options.unpack = true;
            continue;
        }
        if (arg.rfind("--", 0) == 0) {
            // --name value or --name=value
            const std::size_t equals = arg.find('=');
            const std::string name = arg.substr(0, equals);
            std::string run_cycles;
            std::string* target = name == "--hints"         ? &result.options.hints
                                  : name == "--write-hints" ? &result.options.write_hints
                                  : name == "--vice-labels" ? &result.options.vice_labels
                                  : name == "--run-cycles"  ? &run_cycles
                                                            : nullptr;
            if (target == nullptr) return fail("unknown option '" + arg + "'");
            if (!target->empty() || (target == &run_cycles && have_run_cycles)) return fail("option " + name + " given twice");
            const char* what = target == &run_cycles ? "a number" : "a file name";
            if (equals != std::string::npos) {
                *target = arg.substr(equals + 1);
            } else if (i + 1 < args.size()) {
                *target = args[++i];
            } else {
                return fail("option " + name + " needs " + what);
            }
            if (target->empty()) return fail("option " + name + " needs " + what);
            if (target == &run_cycles) {
                have_run_cycles = true;
                const auto cycles = parse_integer(run_cycles).value;
                if (!cycles || *cycles < 0 || *cycles > kMaxRunCycles) {
                    return fail("malformed cycle count '" + run_cycles + "': give 0.." + std::to_string(kMaxRunCycles));
                }
                result.options.run.budget = static_cast<std::uint64_t>(*cycles);
                result.options.run.patience = result.options.run.budget / 32;
            }
            continue;
        }
        if (arg.size() < 2 || arg[0] != '-') return fail("unexpected argument '" + arg + "'");
        const std::string name = arg.substr(0, 2);
        if (name == "-a" || name == "-w") {
            if (arg.size() > 2) return fail("unknown option '" + arg + "'");
            if (have_mode) return fail("only one of -a and -w may be given, once");
            have_mode = true;
            result.options.output = name == "-a" ? OutputKind::Assembly : OutputKind::Listing;
            continue;
        }
        if (name != "-c" && name != "-o" && name != "-e" && name != "-t" && name != "-p" && name != "-s") {
            return fail("unknown option '" + arg + "'");
        }
        std::string value;
        if (arg.size() > 2) {
            value = arg.substr(2);
        } else if (i + 1 < args.size()) {
            value = args[++i];
        } else {
            return fail("option " + name + " needs a value");
        }
        if (name == "-c") {
            if (have_cpu) return fail("option -c given twice");
            have_cpu = true;
            if (value != "6502" && value != "6502doc") {
                return fail("unsupported CPU '" + value + "': known are 6502 and 6502doc");
            }
            result.options.undocumented = value == "6502";
        } else if (name == "-o") {
            if (have_load) return fail("option -o given twice");
            have_load = true;
            const Number load = parse_integer(value);
            if (!load.value && !load.too_large) return fail("malformed load address '" + value + "'");
            if (!load.value || *load.value < 0 || *load.value > 0xffff) {
                return fail("load address " + value + " is outside 0..65535");
            }
            result.options.load = static_cast<std::uint32_t>(*load.value);
        } else if (name == "-e") {
            if (have_entry) return fail("option -e given twice");
            have_entry = true;
            const Number entry = parse_integer(value);
            if (entry.too_large) return fail("entry address " + value + " does not fit in 64 bits");
            if (!entry.value) return fail("malformed entry address '" + value + "'");
            result.options.entry = *entry.value;
        } else if (name == "-s") {
            if (have_syntax) return fail("option -s given twice");
            have_syntax = true;
            result.options.dialect = find_dialect(value);
            if (result.options.dialect == nullptr) {
                return fail("unknown syntax '" + value + "': known are " + std::string(dialect_names()));
            }
        } else {
            if (have_image) {
                const bool same = (name == "-p") == result.options.program_file;
                return fail(same ? "option " + name + " given twice" : "only one of -t and -p may be given");
            }
            have_image = true;
            if (value.empty()) return fail("empty image name");
            result.options.image = value;
            result.options.program_file = name == "-p";
        }
    }
    if (!have_mode) return fail("missing option -a or -w");
    if (!have_cpu) return fail("missing option -c (CPU)");
    if (!have_image) return fail("missing option -t (image) or -p (program file)");
    if (result.options.program_file && have_load) return fail("-p takes the load address from the program file: no -o");
    if (!result.options.program_file && !have_load) return fail("missing option -o (load address)");
    if (!have_entry) return fail("missing option -e (entry address)");
    return result;
}

}  // namespace tolvek
