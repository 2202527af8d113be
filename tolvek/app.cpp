#include "app.hpp"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <system_error>

#include "analysis/analyse.hpp"
#include "cli.hpp"
#include "image.hpp"
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

// Messages quote user input; keep them on one line whatever it holds.
std::string one_line(std::string text) {
    for (char& c : text) {
        if (static_cast<unsigned char>(c) < 0x20) c = '?';
    }
    return text;
}

}  // namespace

std::string output_name(const std::string& image, const char* extension) {
    return file_name(file_path(image).replace_extension(extension));
}

int run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    const ParsedArgs parsed = parse_args(args);
    if (parsed.help) {
        out << usage();
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
        if (image.load + image.bytes.size() > 0x10000) {
            const std::string size = image.bytes.size() > 0x10000 ? "more than 65536"
                                                                   : std::to_string(image.bytes.size());
            throw Failure{"image '" + options.image + "' (" + size + " bytes) does not fit below $10000 from load address " +
                          std::to_string(image.load)};
        }
        const MemoryMap map = analyse(image, {.entry = options.entry, .undocumented = options.undocumented});
        const std::string shown_name = file_name(file_path(options.image).filename());
        const Listing listing = build_listing(map, shown_name);
        const Dialect& dialect = *options.dialect;
        const fs::path source = file_path(output_name(options.image, ".asm")).filename();
        const std::string stem = file_name(source.stem());
        const BuildNames names{file_name(source), stem + "-rebuilt.prg", stem + ".cfg"};
        if (assembly && !dialect.config.empty()) {
            const std::string problem = write_output_file(output_name(options.image, ".cfg"), write_config(dialect));
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
