#include "output/routines.hpp"

#include <algorithm>
#include <iterator>
#include <optional>

#include "c64/rom_image.hpp"
#include "c64/symbols.hpp"
#include "cpu/behaviour.hpp"
#include "cpu/decode.hpp"
#include "output/labels.hpp"

namespace tolvek {
namespace {

// What a handler installed in one of these vectors is, and its role's name.
struct VectorRole {
    std::uint16_t vector;
    std::string_view what;
    std::string_view name;
};

constexpr VectorRole kVectorRoles[] = {
    {0x0314, "IRQ handler", "irq"},         {c64::kIrqVector, "IRQ handler", "irq"},
    {0x0316, "BRK handler", "brk_handler"}, {0x0318, "NMI handler", "nmi"},
    {c64::kNmiVector, "NMI handler", "nmi"},
};

const VectorRole* vector_role(std::uint16_t vector) {
    const auto* it = std::find_if(std::begin(kVectorRoles), std::end(kVectorRoles),
                                  [&](const VectorRole& role) { return role.vector == vector; });
    return it == std::end(kVectorRoles) ? nullptr : it;
}

// The code that handed over to what the program unpacked, where it is a
// copy of the image's bytes run elsewhere: the unpacker.
std::optional<CopiedCode> unpacker(const MemoryMap& map) {
    if (!map.run.unpacked) return std::nullopt;
    const std::uint16_t from = map.run.unpacked->from;
    for (const CopiedCode& copied : map.run.copied_code) {
        if (copied.from && from >= copied.start && from < copied.end) return copied;
    }
    return std::nullopt;
}

// The starts the program's header gives: the vectors of a ROM image, a
// cartridge's starts, the entry and the SYS statements, each with what it
// is and its role's name, in that order.
struct Start {
    std::uint32_t address;
    std::string what;
    std::string name;
};

std::vector<Start> starts(const MemoryMap& map) {
    std::vector<Start> out;
    const ProgramStart& start = map.start;
    const Image& image = map.image();
    // A ROM's reset is more telling than the entry given there.
    const auto through = [&](std::uint32_t vector, const char* what, const char* name) {
        out.push_back({image.word(vector), std::string(what) + " (vector at " + hex(vector, 4) + ")", name});
    };
    if (start.rom.kernal) {
        through(c64::kResetVector, "reset", "reset");
        through(c64::kIrqVector, "IRQ handler", "irq");
        through(c64::kNmiVector, "NMI handler", "nmi");
    }
    if (start.rom.basic) {
        through(c64::kBasicColdStart, "BASIC cold start", "basic_cold_start");
        through(c64::kBasicWarmStart, "BASIC warm start", "basic_warm_start");
    }
    if (const auto& cartridge = start.cartridge) {
        out.push_back({cartridge->cold, "cartridge cold start", "cold_start"});
        out.push_back({cartridge->warm, "cartridge warm start", "warm_start"});
    }
    const auto entry = static_cast<std::uint32_t>(start.entry);
    if (start.entry_in_image) out.push_back({entry, "entry point", "entry"});
    // A SYS of the entry says nothing more.
    for (const SysEntry& sys : start.sys_entries) {
        if (start.entry_in_image && sys.address == entry) continue;
        const std::string line = std::to_string(sys.line);
        out.push_back({sys.address, "SYS in line " + line, "sys_line_" + line});
    }
    return out;
}

// Whether the instruction at `address` starts a stretch of code: the
// image's first byte, or after data or an instruction that does not fall
// through.
bool starts_stretch(const MemoryMap& map, std::uint32_t address) {
    if (address == map.image().load) return true;
    const std::uint32_t before = map.item_start(address - 1);
    if (map.kind(before) != Kind::Opcode) return true;
    const Flow flow = flow_of(map.image().at(before));
    return flow == Flow::Jump || flow == Flow::Stop;
}

}  // namespace

std::map<std::uint32_t, std::string> routine_headings(const MemoryMap& map) {
    const Image& image = map.image();
    std::map<std::uint32_t, std::string> headings;
    const auto add = [&](std::uint32_t address, const std::string& why) {
        if (!map.is_opcode(address) || address < map.basic_end()) return;
        std::string& heading = headings[address];
        heading += (heading.empty() ? "" : ", ") + why;
    };
    for (const Start& start : starts(map)) add(start.address, start.what);
    for (const InstalledHandler& installed : map.handlers) {
        const VectorRole* role = vector_role(installed.vector);
        add(installed.handler, role ? std::string(role->what) + " (vector at " + hex(installed.vector, 4) + ")"
                                    : "installed in the vector at " + hex(installed.vector, 4));
    }
    if (const auto copied = unpacker(map)) add(*copied->from, "unpacker (run at " + hex(copied->start, 4) + ")");
    // The tables of addresses, each entry once (a split table's by its low
    // half), without the words of a header, which say more above.
    std::map<std::uint32_t, std::pair<std::uint32_t, std::uint32_t>> held;  // target: first item, count
    // What jumps, branches and calls lead to; calls counted.
    std::vector<bool> led_to(image.bytes.size(), false);
    std::map<std::uint32_t, std::uint32_t> calls;  // target: how many jsr
    for (std::uint32_t a = map.basic_end(); a < image.end(); ++a) {
        const Kind kind = map.kind(a);
        if (kind == Kind::Word || kind == Kind::WordMinus1 || kind == Kind::Low || kind == Kind::LowMinus1) {
            const auto target = map.target(a);
            if (!target || map.start.in_header(a)) continue;
            auto [it, added] = held.try_emplace(*target, a, 0);
            ++it->second.second;
            continue;
        }
        if (kind != Kind::Opcode) continue;
        const std::uint8_t byte = image.at(a);
        const Control control = behaviour(byte).control;
        if (control != Control::Branch && control != Control::Jump && control != Control::Call) continue;
        const std::uint32_t target = operand_of(image, a);
        if (image.contains(target)) led_to[image.offset(target)] = true;
        if (control == Control::Call) ++calls[target];
    }
    for (const auto& [target, first_and_count] : held) {
        // The label's line names the places.
        add(target, "address in a table");
    }
    for (const auto& [target, count] : calls) {
        add(target, "called with jsr");
    }
    // Code the run went to that nothing known leads to: through a vector
    // in RAM, an address it computed or pushed. A routine that reads data
    // behind its calls returns past the data: no routine starts there.
    for (const auto& [routine, inline_routine] : map.inline_calls.routines) {
        for (const auto& [call, bytes] : inline_routine.calls) {
            const std::uint32_t back = call + 3 + bytes;
            if (image.contains(back)) led_to[image.offset(back)] = true;
        }
    }
    for (const std::uint32_t address : map.run.entered) {
        if (!image.contains(address) || led_to[image.offset(address)] || headings.contains(address)) continue;
        if (starts_stretch(map, address)) add(address, "reached in the run");
    }
    return headings;
}

std::vector<std::pair<std::uint32_t, std::string>> role_names(const MemoryMap& map) {
    std::vector<std::pair<std::uint32_t, std::string>> roles;
    const auto add = [&](std::uint32_t address, std::string name) {
        if (name.empty() || !map.is_opcode(address) || address < map.basic_end()) return;
        const bool named = std::any_of(roles.begin(), roles.end(), [&](const auto& role) { return role.first == address; });
        if (!named) roles.emplace_back(address, std::move(name));
    };
    for (const Start& start : starts(map)) add(start.address, start.name);
    for (const InstalledHandler& installed : map.handlers) {
        if (const VectorRole* role = vector_role(installed.vector)) add(installed.handler, std::string(role->name));
    }
    if (const auto copied = unpacker(map)) add(*copied->from, "unpack");
    // Where a run waited: the image's own code, not bytes it wrote there.
    for (const ProgramRun& run : map.run.runs) {
        if (run.end == RunEnd::Waited && !map.run.was_written(run.end_address)) add(run.end_address, "wait_loop");
    }
    return roles;
}

}  // namespace tolvek
