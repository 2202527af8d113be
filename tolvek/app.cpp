#include "app.hpp"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <optional>
#include <ostream>
#include <set>
#include <system_error>

#include "analysis/analyse.hpp"
#include "c64/basic.hpp"
#include "cli.hpp"
#include "hints/hints.hpp"
#include "image.hpp"
#include "input_file.hpp"
#include "output/comment_text.hpp"
#include "output/hints_writer.hpp"
#include "output/html.hpp"
#include "output/listing.hpp"
#include "output/pictures.hpp"
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

// The image (or program file) `name`: a regular file that fits into the
// C64's memory with its load address, at most; a device or FIFO is never
// read. Nothing when it is larger: the caller says so with the load address.
std::optional<std::vector<std::uint8_t>> read_image(const std::string& name) {
    constexpr std::size_t kLargest = 0x10000 + 2;
    std::string text;
    bool too_large = false;
    const std::string why = read_regular_file(name, text, kLargest, too_large);
    if (too_large) return std::nullopt;
    if (!why.empty()) throw Failure{"cannot read image '" + name + "': " + why};
    return std::vector<std::uint8_t>(text.begin(), text.end());
}

// The hints for the image: from --hints, or from the file named like the
// outputs with .hints when there is one. Returns whether there are hints;
// a hints file that cannot be read, or that is wrong, ends the run. The
// names of the files read (the hints file first, then label files) go to
// `read_files`.
bool read_hints(const Options& options, const Image& image, Hints& hints, std::vector<std::string>& read_files) {
    std::string name = options.hints;
    if (name.empty()) {
        name = output_name(options.image, ".hints");
        std::error_code ec;
        if (!fs::is_regular_file(file_path(name), ec)) return false;
    }
    std::string text;
    if (const std::string why = read_regular_file(name, text); !why.empty()) {
        throw Failure{"cannot read the hints file '" + name + "': " + why};
    }
    read_files.push_back(name);
    // Label files are named relative to the hints file's folder. One named
    // again adds nothing, so it is read once; and all of them together are
    // held to the limit of one, so that naming a big file under many names
    // cannot make the run read without end.
    const fs::path folder = file_path(name).parent_path();
    std::set<std::string> names_read;  // as the hints name them
    std::set<fs::path> files_read;     // as the system finds them
    std::size_t label_bytes = 0;
    const FileReader read = [&](const std::string& file, std::string& content) -> std::string {
        content.clear();
        if (!names_read.insert(file).second) return {};
        const fs::path path = file_path(file);
        const fs::path resolved = path.is_absolute() ? path : folder / path;
        std::error_code ec;
        const fs::path identity = fs::weakly_canonical(resolved, ec);
        if (!ec && !files_read.insert(identity).second) return {};
        read_files.push_back(file_name(resolved));
        if (std::string why = read_regular_file(file_name(resolved), content); !why.empty()) return why;
        label_bytes += content.size();
        if (label_bytes > kTextFileLimit) return std::string("the label files together are larger than ") + kTextFileLimitText;
        return {};
    };
    // The text stays in memory with the hints: --write-hints writes it back,
    // also over this very file.
    std::string problem = parse_hints(std::move(text), name, hints, read);
    if (problem.empty()) problem = check_hints(hints, image);
    if (!problem.empty()) throw Failure{problem};
    return true;
}

// Whether `a` and `b` name the same file: one that exists under both names
// (through a link, a hard link, another spelling), or one that does not
// exist yet under two spellings of one path.
bool same_file(const std::string& a, const std::string& b) {
    std::error_code ec;
    const fs::path pa = file_path(a);
    const fs::path pb = file_path(b);
    if (fs::equivalent(pa, pb, ec) && !ec) return true;
    std::error_code ea, eb;
    const fs::path ca = fs::weakly_canonical(fs::absolute(pa, ea), ea);
    const fs::path cb = fs::weakly_canonical(fs::absolute(pb, eb), eb);
    return !ea && !eb ? ca == cb : pa.lexically_normal() == pb.lexically_normal();
}

// No output may be what the run reads (the image, a label file; the hints
// file only for the hints written, which keep it), nor another output.
// The outputs from `named_apart` on (the pictures, up to a thousand and
// more) are not compared with each other: their names differ by the
// object's address after the same stem, and even two of them linked
// together would each be replaced by a file of its own.
void check_outputs(const std::vector<std::string>& outputs, const Options& options,
                   const std::vector<std::string>& read, std::size_t named_apart = SIZE_MAX) {
    for (std::size_t i = 0; i < outputs.size(); ++i) {
        const std::string& output = outputs[i];
        if (same_file(output, options.image)) {
            throw Failure{"the image '" + options.image + "' would be overwritten by the output '" + output + "'"};
        }
        for (std::size_t r = 0; r < read.size(); ++r) {
            const bool hints_kept = r == 0 && output == options.write_hints;
            if (!hints_kept && same_file(output, read[r])) {
                throw Failure{std::string(r == 0 ? "the hints file '" : "the label file '") + read[r] +
                              "' would be overwritten by the output '" + output + "'"};
            }
        }
        for (std::size_t j = 0; j < std::min(i, named_apart); ++j) {
            if (same_file(output, outputs[j])) {
                throw Failure{"the outputs '" + outputs[j] + "' and '" + output + "' are the same file"};
            }
        }
        if (const std::string problem = check_replaceable(output); !problem.empty()) throw Failure{problem};
    }
}

// What the program unpacked, as a program file: the load address, then the
// bytes.
std::string unpacked_program(const MemoryMap& map, const Options& options) {
    if (!map.run.unpacked) {
        const auto& copied = map.run.copied_code;
        const bool all_generated = !copied.empty() && std::all_of(copied.begin(), copied.end(), [](const CopiedCode& code) {
            return code.called_from.has_value();
        });
        throw Failure{options.run.budget == 0 ? "nothing to unpack: the program was not run (--run-cycles 0)"
                      : all_generated         ? "nothing to unpack: the code the program wrote and ran was called and returned"
                                              : "nothing to unpack: the program never ran bytes it had written"};
    }
    const WrittenCode& unpacked = *map.run.unpacked;
    std::string bytes;
    bytes += static_cast<char>(unpacked.start & 0xff);
    bytes += static_cast<char>(unpacked.start >> 8);
    bytes.append(unpacked.bytes.begin(), unpacked.bytes.end());
    return bytes;
}

// A text or the bytes of a file, for write_output_files.
TextProducer whole(const std::string& text) {
    return [&text](const std::function<void(std::string_view)>& put) { put(text); };
}

// The files a run writes; empty names for the ones it does not.
struct OutputNames {
    std::string target;    // the .asm or the .lst
    std::string config;    // ca65's linker configuration
    std::string unpacked;  // --unpack's program file
    std::string unpacked_target;  // and its .asm or .lst
    std::string unpacked_config;
    std::string html;      // --html's page
    std::vector<std::string> all;  // the names given, in the order they are checked
};

OutputNames output_names(const Options& options) {
    OutputNames names;
    const bool assembly = options.output == OutputKind::Assembly;
    names.target = output_name(options.image, assembly ? ".asm" : ".lst");
    if (assembly && !options.dialect->config.empty()) names.config = output_name(options.image, ".cfg");
    if (options.unpack) {
        names.unpacked = output_name(options.image, ".unpacked.prg");
        names.unpacked_target = output_name(options.image, assembly ? ".unpacked.asm" : ".unpacked.lst");
        if (!names.config.empty()) names.unpacked_config = output_name(options.image, ".unpacked.cfg");
    }
    if (options.html) names.html = output_name(options.image, ".html");
    for (const std::string& output : {names.target, names.config, options.write_hints, options.vice_labels, names.unpacked,
                                      names.unpacked_target, names.unpacked_config, names.html}) {
        if (!output.empty()) names.all.push_back(output);
    }
    return names;
}

// What can be refused before the image is read: devices, and outputs that
// are the image or each other.
void check_names(const OutputNames& names, const Options& options) {
    if (names_a_device(options.image)) {
        throw Failure{"cannot read image '" + options.image + "': it is the device " + windows_device(options.image)};
    }
    for (const std::string& output : names.all) {
        if (names_a_device(output)) throw Failure{check_replaceable(output)};
    }
    check_outputs(names.all, options, {});
}

// The image as the options name it: raw bytes at the load address, or a
// program file with its load address in front; it must fit below $10000.
Image load_image(const Options& options) {
    Image image;
    image.load = options.load;
    std::optional<std::vector<std::uint8_t>> bytes = read_image(options.image);
    if (!bytes) {
        throw Failure{"image '" + options.image + "' (more than 65536 bytes) does not fit below $10000" +
                      (options.program_file ? std::string() : " from load address " + std::to_string(options.load))};
    }
    image.bytes = std::move(*bytes);
    if (options.program_file) {
        if (image.bytes.size() < 2) throw Failure{"program file '" + options.image + "' is too short: it has no load address"};
        image.load = image.word(image.load);  // the file's first two bytes
        image.bytes.erase(image.bytes.begin(), image.bytes.begin() + 2);
    }
    if (image.load + image.bytes.size() > 0x10000) {
        const std::string size = image.bytes.size() > 0x10000 ? "more than 65536" : std::to_string(image.bytes.size());
        throw Failure{"image '" + options.image + "' (" + size + " bytes) does not fit below $10000 from load address " +
                      std::to_string(image.load)};
    }
    return image;
}

// A file name as a command line takes it: quoted when it holds a space.
std::string command_word(const std::string& name) {
    return name.find_first_of(" \t") == std::string::npos ? name : "\"" + name + "\"";
}

// The command that unpacks the program as this one was disassembled, for
// the header, from `entry`. prgdis's image (game.tmp) is gone when the user
// reads it: the command reads the program file it was made of (game.prg).
std::string unpack_command(const Options& options, std::int64_t entry, const std::string& shown_name) {
    std::string command = "Tolvek.exe ";
    command += options.output == OutputKind::Assembly ? "-a" : "-w";
    command += options.undocumented ? " -c6502" : " -c6502doc";
    const fs::path shown = file_path(shown_name);
    const bool prgdis_image = !options.program_file && shown.extension() == ".tmp";
    if (!options.program_file && !prgdis_image) command += " -o" + std::to_string(options.load);
    command += " -e" + std::to_string(entry);
    if (options.program_file) {
        command += " -p " + command_word(shown_name);
    } else if (prgdis_image) {
        command += " -p " + command_word(file_name(fs::path(shown).replace_extension(".prg")));
    } else {
        command += " -t " + command_word(shown_name);
    }
    if (options.dialect != &kAcme) command += " -s" + std::string(options.dialect->name);
    if (options.run_cycles_given) command += " --run-cycles " + std::to_string(options.run.budget);
    return command + " --unpack";
}

// Where the unpacked program starts: its BASIC program's first SYS into
// it, else where the unpacker jumped.
std::int64_t unpacked_entry(const Image& unpacked, std::uint16_t jumped_to) {
    const std::optional<SysCall> sys =
        first_sys_after(find_basic(unpacked), [&](std::uint32_t address) { return unpacked.contains(address); });
    return sys ? sys->address : jumped_to;
}

// The source or listing of one analysed image.
OutputFile disassembly_output(const std::string& name, const Options& options, const Listing& listing,
                              const Image& image, const BuildNames& build) {
    return {name, [&options, &listing, &image, build](const TextSink& sink) {
                if (options.output == OutputKind::Assembly) {
                    write_asm(listing, image, *options.dialect, build, sink);
                } else {
                    write_lst(listing, image, *options.dialect, build, sink);
                }
            }};
}

BuildNames build_names(const std::string& image_name) {
    const fs::path source = file_path(output_name(image_name, ".asm")).filename();
    const std::string stem = file_name(source.stem());
    return {file_name(source), stem + "-rebuilt.prg", stem + ".cfg"};
}

// The pictures of the graphics for --pictures, as PNG files named after the
// image and each object (game.sprite_2040.png, game.sprites.png); none
// when the map has no graphics. Their names are known only now, after the
// analysis: they are checked like the other outputs before any is written.
struct PictureFiles {
    std::vector<std::string> names;
    std::vector<std::string> bytes;
};

PictureFiles picture_files(const OutputNames& names, const Options& options, const MemoryMap& map,
                           const std::vector<std::string>& read) {
    PictureFiles files;
    if (!options.pictures) return files;
    const std::vector<Picture> pictures = make_pictures(map);
    if (pictures.empty()) return files;
    for (const Picture& picture : pictures) {
        files.names.push_back(output_name(options.image, ("." + picture.name + ".png").c_str()));
    }
    std::vector<std::string> all = names.all;
    all.insert(all.end(), files.names.begin(), files.names.end());
    check_outputs(all, options, read, names.all.size());
    for (const Picture& picture : pictures) files.bytes.push_back(picture_png(picture));
    return files;
}

// Makes every output before it writes any: all or none.
void write_outputs(const OutputNames& names, const Options& options, const Image& image, const MemoryMap& map,
                   const Hints* hints, const std::vector<std::string>& read) {
    const PictureFiles pictures = picture_files(names, options, map, read);
    const std::string shown_name = file_name(file_path(options.image).filename());
    const std::string shown_unpacked = output_name(shown_name, ".unpacked.prg");
    const std::string shown_unpacked_source =
        output_name(shown_name, options.output == OutputKind::Assembly ? ".unpacked.asm" : ".unpacked.lst");
    // From the BASIC program's SYS when the entry given was none (inside
    // the image or outside it).
    std::int64_t entry = options.entry;
    if (map.start.run_from_sys) {
        entry = map.start.run_from_sys->address;
    } else if (!map.start.entry_in_image && !map.start.sys_entries.empty()) {
        entry = map.start.sys_entries.front().address;
    }
    const std::string command = unpack_command(options, entry, shown_name);
    const Listing listing = build_listing(map, {shown_name, shown_unpacked, shown_unpacked_source, command}, hints);
    const Dialect& dialect = *options.dialect;

    std::vector<OutputFile> outputs;
    outputs.push_back(disassembly_output(names.target, options, listing, image, build_names(options.image)));
    const std::string config_text = names.config.empty() ? "" : write_config(dialect);
    if (!names.config.empty()) outputs.push_back({names.config, whole(config_text)});
    const auto labels = image_labels(listing, image);
    const std::string hints_text = options.write_hints.empty() ? "" : write_hints(map, labels, shown_name, hints);
    if (!options.write_hints.empty()) outputs.push_back({options.write_hints, whole(hints_text)});
    const std::string vice_text = options.vice_labels.empty() ? "" : write_vice_labels(labels);
    if (!options.vice_labels.empty()) outputs.push_back({options.vice_labels, whole(vice_text)});
    // The page, with the pictures of the graphics beside their rows (each
    // sprite beside its own: the sheet of them all is for --pictures).
    std::vector<HtmlPicture> page_pictures;
    const BuildNames page_build = build_names(options.image);
    if (!names.html.empty()) {
        for (const Picture& picture : make_pictures(map)) {
            if (picture.name == kSpriteSheetName) continue;
            page_pictures.push_back({picture.address, picture_png(picture), picture.name});
        }
        outputs.push_back({names.html, [&](const TextSink& sink) {
                               write_html(listing, map, dialect, page_build, page_pictures, sink);
                           }});
    }
    // The unpacked program, and its disassembly as this one's, from its own
    // entry (no hints: they were the packed program's).
    const std::string program = names.unpacked.empty() ? "" : unpacked_program(map, options);
    Image unpacked;
    std::optional<MemoryMap> unpacked_map;
    std::optional<Listing> unpacked_listing;
    std::array<std::string, 3> unpacked_names;  // what the unpacked program's header names
    if (!names.unpacked.empty()) {
        outputs.push_back({names.unpacked, whole(program), true});
        unpacked.load = map.run.unpacked->start;
        unpacked.bytes = map.run.unpacked->bytes;
        Options again = options;
        again.image = names.unpacked;
        again.program_file = true;
        again.entry = unpacked_entry(unpacked, map.run.unpacked->entry);
        unpacked_map.emplace(
            analyse(unpacked, {.entry = again.entry, .undocumented = options.undocumented, .run = options.run}));
        unpacked_names = {output_name(shown_unpacked, ".unpacked.prg"),
                          output_name(shown_unpacked, options.output == OutputKind::Assembly ? ".unpacked.asm" : ".unpacked.lst"),
                          unpack_command(again, again.entry, shown_unpacked)};
        unpacked_listing.emplace(build_listing(*unpacked_map, {shown_unpacked, unpacked_names[0], unpacked_names[1],
                                                               unpacked_names[2]}));
        outputs.push_back(disassembly_output(names.unpacked_target, options, *unpacked_listing, unpacked,
                                             build_names(names.unpacked)));
        if (!names.unpacked_config.empty()) outputs.push_back({names.unpacked_config, whole(config_text)});
    }
    for (std::size_t i = 0; i < pictures.names.size(); ++i) {
        outputs.push_back({pictures.names[i], whole(pictures.bytes[i]), true});
    }
    if (const std::string problem = write_output_files(outputs); !problem.empty()) throw Failure{problem};
}

// Load, analyse, check the outputs, write. Refused for one output, the run
// writes none: the names are checked before the image is read, and again
// once the hints named the files they read.
void disassemble(const Options& given) {
    const OutputNames names = output_names(given);
    check_names(names, given);
    const Image image = load_image(given);
    Hints hints;
    std::vector<std::string> read;
    const bool hinted = read_hints(given, image, hints, read);
    check_outputs(names.all, given, read);
    // The hints' run-cycles, written with an analysis, unless the command
    // line gives a budget.
    Options options = given;
    if (hinted && hints.run_cycles && !given.run_cycles_given) {
        options.run.budget = *hints.run_cycles;
        options.run.patience = patience_for(options.run.budget);
    }
    const MemoryMap map = analyse(image, {.entry = options.entry,
                                          .undocumented = options.undocumented,
                                          .hints = hinted ? &hints : nullptr,
                                          .run = options.run});
    write_outputs(names, options, image, map, hinted ? &hints : nullptr, read);
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
    try {
        disassemble(parsed.options);
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
