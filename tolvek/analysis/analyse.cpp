#include "analysis/analyse.hpp"

#include <algorithm>

#include "analysis/apply_hints.hpp"
#include "analysis/execution.hpp"
#include "analysis/graphics.hpp"
#include "analysis/io_banking.hpp"
#include "analysis/own_memory.hpp"
#include "analysis/pairs.hpp"
#include "analysis/pointer_tables.hpp"
#include "analysis/text.hpp"
#include "analysis/trace.hpp"
#include "analysis/vectors.hpp"

namespace tolvek {
namespace {

// Code whose address the program stores into an interrupt, KERNAL or BASIC
// vector is an entry, as sure as the program's own: the machine goes there.
// So is code whose address it pushes for an rts, and code that its jump
// tables and its own vectors lead to. That code may lead to more.
void trace_sure_entries(MemoryMap& map) {
    bool found = true;
    for (int round = 0; found && round < 16; ++round) {
        found = find_jump_tables(map);
        found = trace_vectors_in_image(map) || found;
        for (const AddressPair& pair : find_address_pairs(map)) {
            // Stored into a vector, or pushed for an rts to go to.
            if (!(pair.stored_to && is_vector(*pair.stored_to)) && pair.adjust != 1) continue;
            const std::uint32_t target = pair.target();
            if (!map.image().contains(target) || map.kind(target) != Kind::Unknown) continue;
            trace_from(map, target, Source::Vector);
            found = true;
        }
    }
}

// Each SYS of the BASIC program that calls into the image after it is an
// entry as sure as the one given: traced the same way, after it.
void trace_sys_entries(MemoryMap& map) {
    const Image& image = map.image();
    for (const BasicLine& line : map.start.basic.lines) {
        for (const std::uint32_t address : line.sys) {
            if (!image.contains(address) || address < map.basic_end()) continue;
            const bool seen = std::any_of(map.start.sys_entries.begin(), map.start.sys_entries.end(),
                                          [&](const SysEntry& entry) { return entry.address == address; });
            if (seen) continue;
            map.start.sys_entries.push_back({address, line.number});
            if (map.kind(address) == Kind::Unknown) trace_from(map, address, Source::Trace);
        }
    }
}

// The SYS of the BASIC program to start from instead of `entry`, which lies
// after the program in the image: when no SYS of the program calls
// `entry` and one calls elsewhere in the image after it (the first of
// those). A packed program's data may hold a SYS token and digits.
std::optional<SysEntry> sys_instead_of(const MemoryMap& map, std::uint32_t entry) {
    const auto& lines = map.start.basic.lines;
    const bool called = std::any_of(lines.begin(), lines.end(), [&](const BasicLine& line) {
        return std::find(line.sys.begin(), line.sys.end(), entry) != line.sys.end();
    });
    if (entry < map.basic_end() || called) return std::nullopt;
    const std::optional<SysCall> sys =
        first_sys_after(map.start.basic, [&](std::uint32_t address) { return map.image().contains(address); });
    return sys ? std::optional<SysEntry>(SysEntry{sys->address, sys->line}) : std::nullopt;
}

}  // namespace

MemoryMap analyse(const Image& image, const AnalysisOptions& options) {
    MemoryMap map(image);
    map.undocumented_opcodes = options.undocumented;
    map.start.basic = find_basic(image);
    for (std::uint32_t a = image.load; a < map.basic_end(); ++a) map.set(a, Kind::Basic, Source::Basic);
    // Each line's link is the address of the next line.
    for (const BasicLine& line : map.start.basic.lines) {
        map.set_address_item(line.address, Kind::Word, line.address + line.size, Source::Basic);
    }
    // The user's data ranges come first, so that no trace claims them.
    if (options.hints) apply_hints(*options.hints, map);
    find_cartridge(map);
    find_rom_image(map);
    map.start.entry = options.entry;
    map.start.entry_in_image = image.contains(options.entry);
    if (map.start.entry_in_image) {
        const auto start = static_cast<std::uint32_t>(options.entry);
        map.start.entry_in_basic = start < map.basic_end();
        map.start.run_from_sys = sys_instead_of(map, start);
        if (!map.start.entry_in_basic && !map.start.run_from_sys) trace_from(map, start, Source::Trace);
    }
    trace_sys_entries(map);
    if (map.start.run_from_sys && map.kind(static_cast<std::uint32_t>(options.entry)) == Kind::Unknown) {
        Guessing guessing(image);
        find_patched_operands(map, guessing);
        map.start.entry_traced = try_code(map, guessing, static_cast<std::uint32_t>(options.entry), Source::Trace);
    }
    if (options.hints) trace_hints(*options.hints, map);
    trace_sure_entries(map);
    // What the program does when it runs settles what the patterns could
    // not: jumps through pointers it fills in, interrupts, patched operands.
    map.run.budget = options.run.budget;
    if (options.run.budget > 0) {
        find_code_by_running(map, options.run);
        trace_sure_entries(map);
    }
    const std::vector<std::uint32_t> held = options.hints ? hold_unknown(*options.hints, map) : std::vector<std::uint32_t>{};
    // Where the code reads or writes the chips, the I/O is there when it
    // runs: no guessed code starts at those bytes.
    const std::vector<std::uint32_t> chips = find_hidden_io(map);
    if (options.guesses) guess_vectors_in_image(map, chips);
    const std::vector<AddressTable> tables = options.guesses ? find_more_code(map, chips) : std::vector<AddressTable>{};
    const std::vector<AddressPair> pairs = find_address_pairs(map);
    find_own_memory(map, pairs);
    // What the code reads as pointers comes before text; text before the
    // tables the guesses found, so that a table found by chance cannot cut
    // through real text.
    find_pointer_tables(map, pairs);
    record_pointers_used(map);
    // What the VIC-II shows from the image, before text can claim a
    // sprite's or a glyph's bytes.
    find_graphics(map);
    mark_text(map);
    record_tables(map, tables);
    record_pairs(map, pairs);
    release_unknown(held, map);
    show_skipped_instructions(map);
    // Again with all the code: guessed code may switch the I/O, and the
    // pairs name addresses.
    find_hidden_io(map);
    find_installed_handlers(map, pairs);
    return map;
}

}  // namespace tolvek
