#include "cli.hpp"

#include "number.hpp"
#include "syntax/dialect.hpp"

#include <array>
#include <limits>
#include <map>
#include <optional>
#include <string_view>

namespace tolvek {
namespace {

// A number on the command line: a decimal integer with an optional sign,
// or hex written as $1f or 0x1f.
struct Integer {
    std::optional<std::int64_t> value;  // nothing when malformed or too large
    bool too_large = false;              // beyond 64 bits: it would have wrapped around into another
};

Integer parse_integer(std::string_view text) {
    bool negative = false;
    if (text.starts_with('-') || text.starts_with('+')) {
        negative = text[0] == '-';
        text.remove_prefix(1);
    }
    const Number number = parse_number(text);
    constexpr std::uint64_t kLimit = std::numeric_limits<std::int64_t>::max();
    if (number.too_large || (number.value && *number.value > kLimit)) return {std::nullopt, true};
    if (!number.value) return {};
    const auto magnitude = static_cast<std::int64_t>(*number.value);
    return {negative ? -magnitude : magnitude};
}

// What an option does with its value (empty for one without); returns the
// problem, or "".
using Setter = std::string (*)(ParsedArgs& parsed, const std::string& value);

// One option: its names, its value, its lines in -h, and what it sets.
// Options of one group exclude each other: each group is given once.
struct OptionSpec {
    std::string_view name;
    std::string_view other_name;  // -h's --help
    std::string_view needs;       // what its value is ("a file name"); empty: it takes none
    std::string_view help;        // its lines in -h
    Setter set;
    std::string_view group = {};  // empty: the option is its own group
    std::string_view twice = {};  // the message for the option given again; empty: "option X given twice"
    std::string_view clash = {};  // the message for another option of its group
    bool ends_parsing = false;    // -h and --version: the rest does not matter

    std::string_view group_name() const { return group.empty() ? name : group; }
};

constexpr std::string_view kOnlyOneMode = "only one of -a and -w may be given, once";

std::string set_output(ParsedArgs& parsed, OutputKind kind) {
    parsed.options.output = kind;
    return {};
}

std::string set_image(ParsedArgs& parsed, const std::string& value, bool program_file) {
    if (value.empty()) return "empty image name";
    parsed.options.image = value;
    parsed.options.program_file = program_file;
    return {};
}

constexpr std::array kOptions = {
    OptionSpec{"-a", "", "",
               "  -a          write the assembly source <image minus extension>.asm\n"
               "              (for ca65 also the linker configuration .cfg)\n",
               [](ParsedArgs& p, const std::string&) { return set_output(p, OutputKind::Assembly); },
               "mode", kOnlyOneMode, kOnlyOneMode},
    OptionSpec{"-w", "", "",
               "  -w          write the listing <image minus extension>.lst\n",
               [](ParsedArgs& p, const std::string&) { return set_output(p, OutputKind::Listing); },
               "mode", kOnlyOneMode, kOnlyOneMode},
    OptionSpec{"-c", "", "a value",
               "  -c6502      the CPU: the 6502 as the C64's 6510 runs it, with the\n"
               "              undocumented opcodes that do the same on every C64\n"
               "  -c6502doc   the CPU: the 6502's documented opcodes only\n",
               [](ParsedArgs& p, const std::string& value) -> std::string {
                   if (value != "6502" && value != "6502doc") {
                       return "unsupported CPU '" + value + "': known are 6502 and 6502doc";
                   }
                   p.options.undocumented = value == "6502";
                   return {};
               }},
    OptionSpec{"-o", "", "a value",
               "  -o<load>    address the image loads to, 0..65535\n",
               [](ParsedArgs& p, const std::string& value) -> std::string {
                   const Integer load = parse_integer(value);
                   if (!load.value && !load.too_large) return "malformed load address '" + value + "'";
                   if (!load.value || *load.value < 0 || *load.value > 0xffff) {
                       return "load address " + value + " is outside 0..65535";
                   }
                   p.options.load = static_cast<std::uint32_t>(*load.value);
                   return {};
               }},
    OptionSpec{"-e", "", "a value",
               "  -e<entry>   address execution starts at; any integer, tracing\n"
               "              starts there only when it lies inside the image\n",
               [](ParsedArgs& p, const std::string& value) -> std::string {
                   const Integer entry = parse_integer(value);
                   if (entry.too_large) return "entry address " + value + " does not fit in 64 bits";
                   if (!entry.value) return "malformed entry address '" + value + "'";
                   p.options.entry = *entry.value;
                   return {};
               }},
    OptionSpec{"-t", "", "a value",
               "  -t <image>  the memory image, raw bytes without a load address\n",
               [](ParsedArgs& p, const std::string& value) { return set_image(p, value, false); },
               "image", {}, "only one of -t and -p may be given"},
    OptionSpec{"-p", "", "a value",
               "  -p <program> a program file instead: its first two bytes are the\n"
               "              load address, the rest is the image\n",
               [](ParsedArgs& p, const std::string& value) { return set_image(p, value, true); },
               "image", {}, "only one of -t and -p may be given"},
    OptionSpec{"-s", "", "a value",
               "  -s<syntax>  the assembler to write for: acme (the default), 64tass,\n"
               "              ca65, dasm or xa (also xa65); the .asm's header names\n"
               "              the command that rebuilds the program from it\n",
               [](ParsedArgs& p, const std::string& value) -> std::string {
                   p.options.dialect = find_dialect(value);
                   if (p.options.dialect == nullptr) {
                       return "unknown syntax '" + value + "': known are " + std::string(dialect_names());
                   }
                   return {};
               }},
    OptionSpec{"--hints", "", "a file name",
               "  --hints <file>        read hints from this file instead of\n"
               "                        <image minus extension>.hints (read when it exists)\n",
               [](ParsedArgs& p, const std::string& value) {
                   p.options.hints = value;
                   return std::string();
               }},
    OptionSpec{"--write-hints", "", "a file name",
               "  --write-hints <file>  write the analysis as a hints file to edit\n",
               [](ParsedArgs& p, const std::string& value) {
                   p.options.write_hints = value;
                   return std::string();
               }},
    OptionSpec{"--vice-labels", "", "a file name",
               "  --vice-labels <file>  write the labels for VICE's monitor (ll)\n",
               [](ParsedArgs& p, const std::string& value) {
                   p.options.vice_labels = value;
                   return std::string();
               }},
    OptionSpec{"--run-cycles", "", "a number",
               "  --run-cycles <n>      run the program for at most n cycles of a C64\n"
               "                        (default 10000000, all runs together) to see\n"
               "                        what is code; 0: no run\n",
               [](ParsedArgs& p, const std::string& value) -> std::string {
                   const auto cycles = parse_integer(value).value;
                   if (!cycles || *cycles < 0 || static_cast<std::uint64_t>(*cycles) > kMaxRunCycles) {
                       return "malformed cycle count '" + value + "': give 0.." + std::to_string(kMaxRunCycles);
                   }
                   p.options.run.budget = static_cast<std::uint64_t>(*cycles);
                   p.options.run.patience = patience_for(p.options.run.budget);
                   p.options.run_cycles_given = true;
                   return {};
               }},
    OptionSpec{"--unpack", "", "",
               "  --unpack              write what an unpacker unpacked, as it stood when\n"
               "                        the unpacker jumped to it, as the program file\n"
               "                        <image minus extension>.unpacked.prg, and its\n"
               "                        disassembly .unpacked.asm (-a) or .unpacked.lst (-w)\n",
               [](ParsedArgs& p, const std::string&) {
                   p.options.unpack = true;
                   return std::string();
               }},
    OptionSpec{"--pictures", "", "",
               "  --pictures            write the graphics the program shows as PNG files:\n"
               "                        <image minus extension>.sprite_2040.png (each\n"
               "                        sprite), .sprites.png (all of them), .charset_3000.png,\n"
               "                        .bitmap_2000.png, named by the object's address\n",
               [](ParsedArgs& p, const std::string&) {
                   p.options.pictures = true;
                   return std::string();
               }},
    OptionSpec{"--html", "", "",
               "  --html                write a page to read in a browser,\n"
               "                        <image minus extension>.html: a map of the image,\n"
               "                        the source with every label a link, the pictures\n",
               [](ParsedArgs& p, const std::string&) {
                   p.options.html = true;
                   return std::string();
               }},
    OptionSpec{"-h", "--help", "",
               "  -h, --help  show this text\n",
               [](ParsedArgs& p, const std::string&) {
                   p.help = true;
                   return std::string();
               },
               {}, {}, {}, true},
    OptionSpec{"--version", "", "",
               "  --version   show the version\n",
               [](ParsedArgs& p, const std::string&) {
                   p.version = true;
                   return std::string();
               },
               {}, {}, {}, true},
};

// The option `arg` names exactly: one without a value, or (by the name
// before any value) one with.
const OptionSpec* find_option(std::string_view arg) {
    const bool long_name = arg.starts_with("--");
    for (const OptionSpec& spec : kOptions) {
        if (spec.needs.empty()) {
            if (arg == spec.name || (!spec.other_name.empty() && arg == spec.other_name)) return &spec;
        } else if (long_name ? arg.substr(0, arg.find('=')) == spec.name : arg.substr(0, 2) == spec.name) {
            return &spec;
        }
    }
    return nullptr;
}

}  // namespace

std::string usage() {
    std::string text = std::string("Tolvek.exe ") + kVersion + ", the 6502 disassembler of prgdis\n" +
                       "usage: Tolvek.exe -a|-w -c<cpu> -o<load> -e<entry> -t <image> [-s<syntax>] [options]\n"
                       "       Tolvek.exe -a|-w -c<cpu> -e<entry> -p <program> [-s<syntax>] [options]\n"
                       "Disassembles a 6502 memory image into assembly source or a listing.\n";
    for (const OptionSpec& spec : kOptions) text += spec.help;
    return text +
           "Numbers are decimal, or hex written as $c000 or 0xc000.\n"
           "Option values may be attached (-o2049) or separate (-o 2049).\n";
}

ParsedArgs parse_args(const std::vector<std::string>& args) {
    ParsedArgs result;
    std::map<std::string_view, std::string_view> given;  // group -> the option given for it
    auto fail = [&](std::string message) {
        result.error = std::move(message);
        return result;
    };
    auto repeated = [&](const OptionSpec& spec) -> std::string {
        const auto earlier = given.find(spec.group_name());
        if (earlier == given.end()) return {};
        if (earlier->second != spec.name) return std::string(spec.clash);
        return spec.twice.empty() ? "option " + std::string(spec.name) + " given twice" : std::string(spec.twice);
    };
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const OptionSpec* spec = find_option(arg);
        if (spec == nullptr) {
            if (arg.size() < 2 || arg[0] != '-') return fail("unexpected argument '" + arg + "'");
            return fail("unknown option '" + arg + "'");
        }
        const std::string name(spec->name);
        std::string value;
        if (spec->needs.empty()) {
            if (std::string problem = repeated(*spec); !problem.empty()) return fail(problem);
        } else if (name.starts_with("--")) {
            // --name value or --name=value
            if (std::string problem = repeated(*spec); !problem.empty()) return fail(problem);
            const std::size_t equals = arg.find('=');
            if (equals != std::string::npos) {
                value = arg.substr(equals + 1);
            } else if (i + 1 < args.size()) {
                value = args[++i];
            }
            if (value.empty()) return fail("option " + name + " needs " + std::string(spec->needs));
        } else {
            // -o2049 or -o 2049
            if (arg.size() > 2) {
                value = arg.substr(2);
            } else if (i + 1 < args.size()) {
                value = args[++i];
            } else {
                return fail("option " + name + " needs " + std::string(spec->needs));
            }
            if (std::string problem = repeated(*spec); !problem.empty()) return fail(problem);
        }
        given.emplace(spec->group_name(), spec->name);
        if (std::string problem = spec->set(result, value); !problem.empty()) return fail(problem);
        if (spec->ends_parsing) return result;
    }
    const auto have = [&](std::string_view group) { return given.contains(group); };
    if (!have("mode")) return fail("missing option -a or -w");
    if (!have("-c")) return fail("missing option -c (CPU)");
    if (!have("image")) return fail("missing option -t (image) or -p (program file)");
    if (result.options.program_file && have("-o")) return fail("-p takes the load address from the program file: no -o");
    if (!result.options.program_file && !have("-o")) return fail("missing option -o (load address)");
    if (!have("-e")) return fail("missing option -e (entry address)");
    return result;
}

}  // namespace tolvek
