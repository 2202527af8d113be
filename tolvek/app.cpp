#include "app.hpp"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <ostream>
#include <system_error>

#include "analysis/analyse.hpp"
#include "cli.hpp"
#include "hints/hints.hpp"
#include "image.hpp"
#include "output/comment_text.hpp"
#include "output/listing.hpp"
#include "output/writers.hpp"
#include "output_file.hpp"

namespace tolvek {
namespace fs = std::filesystem;

namespace {

constexpr int kUsageError = 2;
constexpr int kFileError = 1;

struct Failure {
    std::string message;
};

std::vector<std::uint8_t> read_image(const std::string& name) {
    std::error_code ec;
    if (fs::is_directory(file_path(name), ec)) throw Failure{"cannot read image '" + name + "': it is a directory"};
    std::ifstream in(file_path(name), std::ios::binary);
    if (!in) throw Failure{"cannot read image '" + name + "': " + std::strerror(errno)};
    std::vector<std::uint8_t> bytes;
    char buffer[65536];
    while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
        bytes.insert(bytes.end(), buffer, buffer + in.gcount());
        // Anything beyond 64 KiB cannot fit anyway; stop reading early.
        if (bytes.size() > 0x10000) break;
    }
    if (in.bad()) throw Failure{"cannot read image '" + name + "'"};
    return bytes;
}

bool read_text_file(const std::string& name, std::string& text) {
    std::error_code ec;
    if (fs::is_directory(file_path(name), ec)) return false;
    std::ifstream in(file_path(name), std::ios::binary);
    if (!in) return false;
    text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

// The hints for the image: from --hints, or from the file named like the
// outputs with .hints when there is one. Returns whether there are hints;
// a hints file that cannot be read, or that is wrong, ends the run.
bool read_hints(const Options& options, const Image& image, Hints& hints) {
    std::string name = options.hints;
    if (name.empty()) {
        name = output_name(options.image, ".hints");
        std::error_code ec;
        if (!fs::is_regular_file(file_path(name), ec)) return false;
    }
    std::string text;
    if (!read_text_file(name, text)) throw Failure{"cannot read the hints file '" + name + "'"};
    // Label files are named relative to the hints file's folder.
    const fs::path folder = file_path(name).parent_path();
    const FileReader read = [&](const std::string& file, std::string& content) {
        const fs::path path = file_path(file);
        return read_text_file(path.is_absolute() ? file : file_name(folder / path), content);
    };
    std::string problem = parse_hints(text, name, hints, read);
    if (problem.empty()) problem = check_hints(hints, image);
    if (!problem.empty()) throw Failure{problem};
    return true;
}

// What the program unpacked, as a program file: the load address, then the
// bytes.
void write_unpacked(const MemoryMap& map, const Options& options) {
    if (!map.unpacked) {
        throw Failure{options.run.budget == 0 ? "nothing to unpack: the program was not run (--run-cycles 0)"
                                              : "nothing to unpack: the program never ran bytes it had written"};
    }
    const WrittenCode& unpacked = *map.unpacked;
    std::string bytes;
    bytes += static_cast<char>(unpacked.start & 0xff);
    bytes += static_cast<char>(unpacked.start >> 8);
    bytes.append(unpacked.bytes.begin(), unpacked.bytes.end());
    const std::string problem = write_output_file(output_name(options.image, ".unpacked.prg"), bytes);
    if (!problem.empty()) throw Failure{problem};
}

}  // namespace

int run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    const ParsedArgs parsed = parse_args(args);
    if (parsed.help) {
        out << usage();
        return 0;
    }
    if (parsed.version) {
        out << "Tolvek.exe " << kVersion << "\n";
        return 0;
    }
    if (!parsed.error.empty()) {
        err << "Tolvek.exe: " << one_line(parsed.error) << " (try -h)\n";
        return kUsageError;
    }
    const Options& options = parsed.options;
    const bool assembly = options.output == OutputKind::Assembly;
    const std::string target = output_name(options.image, assembly ? ".asm" : ".lst");
    try {
        std::error_code ec;
        if (file_path(target) == file_path(options.image) ||
            fs::equivalent(file_path(target), file_path(options.image), ec)) {
            throw Failure{"the image '" + options.image + "' would be overwritten by the output"};
        }
        Image image;
        image.load = options.load;
        image.bytes = read_image(options.image);
        if (options.program_file) {
            if (image.bytes.size() < 2) throw Failure{"program file '" + options.image + "' is too short: it has no load address"};
            image.load = static_cast<std::uint32_t>(image.bytes[0] | image.bytes[1] << 8);
            image.bytes.erase(image.bytes.begin(), image.bytes.begin() + 2);
        }
        if (image.load + image.bytes.size() > 0x10000) {
            const std::string size = image.bytes.size() > 0x10000 ? "more than 65536"
                                                                   : std::to_string(image.bytes.size());
            throw Failure{"image '" + options.image + "' (" + size + " bytes) does not fit below $10000 from load address " +
                          std::to_string(image.load)};
        }
        Hints hints;
        const bool hinted = read_hints(options, image, hints);
        const MemoryMap map = analyse(image, {.entry = options.entry,
                                              .undocumented = options.undocumented,
                                              .hints = hinted ? &hints : nullptr,
                                              .run = options.run});
        const std::string shown_name = file_name(file_path(options.image).filename());
        const Listing listing = build_listing(map, shown_name, hinted ? &hints : nullptr);
        const Dialect& dialect = *options.dialect;
        const fs::path source = file_path(output_name(options.image, ".asm")).filename();
        const std::string stem = file_name(source.stem());
        const BuildNames names{file_name(source), stem + "-rebuilt.prg", stem + ".cfg"};
        // Refused for one output, the run writes none.
        for (const std::string& output : {target, assembly && !dialect.config.empty() ? output_name(options.image, ".cfg") : "",
                                          options.write_hints, options.vice_labels}) {
            if (output.empty()) continue;
            if (const std::string problem = check_replaceable(output); !problem.empty()) throw Failure{problem};
        }
        if (assembly && !dialect.config.empty()) {
            const std::string problem = write_output_file(output_name(options.image, ".cfg"), write_config(dialect));
            if (!problem.empty()) throw Failure{problem};
        }
        // The analysis as hints to edit, and the labels for VICE.
        std::vector<std::pair<std::uint32_t, std::string_view>> labels;
        for (const Symbol& symbol : listing.symbols) {
            if (image.contains(symbol.address) || symbol.address == image.end()) labels.emplace_back(symbol.address, symbol.name);
        }
        if (!options.write_hints.empty()) {
            const std::string problem = write_output_file(options.write_hints, write_hints(map, labels, shown_name));
            if (!problem.empty()) throw Failure{problem};
        }
        if (!options.vice_labels.empty()) {
            const std::string problem = write_output_file(options.vice_labels, write_vice_labels(labels));
            if (!problem.empty()) throw Failure{problem};
        }
        const std::string problem = write_output_file(target, [&](const TextSink& sink) {
            if (assembly) {
                write_asm(listing, image, dialect, names, sink);
            } else {
                write_lst(listing, image, dialect, names, sink);
            }
        });
        if (!problem.empty()) throw Failure{problem};
        if (options.unpack) write_unpacked(map, options);
    } catch (const Failure& failure) {
        err << "Tolvek.exe: " << one_line(failure.message) << "\n";
        return kFileError;
    } catch (const std::exception& e) {
        err << "Tolvek.exe: " << one_line(e.what()) << "\n";
        return kFileError;
    }
    return 0;
}

}  // namespace tolvek
