#include "analysis/vectors.hpp"

#include <algorithm>
#include <iterator>
#include <optional>
#include <set>
#include <vector>

#include "analysis/trace.hpp"
#include "c64/symbols.hpp"
#include "cpu/behaviour.hpp"
#include "cpu/decode.hpp"

namespace tolvek {
namespace {

// How far below a word an indexed store may start and still be taken to
// reach it (sta vectors,x into a small table of vectors).
constexpr std::uint32_t kIndexedReach = 16;

// A jmp (v) of known code with both bytes of v in the image.
struct ImageVector {
    std::uint32_t jump = 0;
    std::uint32_t vector = 0;
};

std::vector<ImageVector> jumps_through_image(const MemoryMap& map) {
    const Image& image = map.image();
    std::vector<ImageVector> found;
    for (const std::uint32_t a : map.instructions()) {
        if (behaviour(image.at(a)).control != Control::JumpIndirect || !image.contains(a + 2)) continue;
        const std::uint32_t vector = operand_of(image, a);
        if (image.contains(vector) && image.contains(vector + 1)) found.push_back({a, vector});
    }
    return found;
}

// What known code writes: the operands of its stores and read-modify-
// writes, looked up for each vector rather than found by a pass over all
// instructions per vector, and added to as code is found.
class CodeWrites {
public:
    explicit CodeWrites(const MemoryMap& map) : image_(map.image()) { add(map.instructions()); }

    // The writes of the instructions at `instructions`.
    void add(const std::vector<std::uint32_t>& instructions) {
        for (const std::uint32_t a : instructions) {
            const std::uint8_t byte = image_.at(a);
            if (!writes_memory(byte) || a + instruction_length(byte) > image_.end()) continue;
            (is_absolute_indexed(opcode(byte).mode) ? indexed_ : exact_).insert(operand_of(image_, a));
        }
    }

    // Whether either byte of the word at `word` is written: stored to, or
    // reached by an indexed store from a little below it.
    bool reach(std::uint32_t word) const {
        const std::uint32_t lowest = word >= kIndexedReach - 1 ? word - (kIndexedReach - 1) : 0;
        return any_in(exact_, word, word + 1) || any_in(indexed_, lowest, word + 1);
    }

private:
    static bool any_in(const std::set<std::uint32_t>& operands, std::uint32_t from, std::uint32_t to) {
        const auto it = operands.lower_bound(from);
        return it != operands.end() && *it <= to;
    }

    const Image& image_;
    std::set<std::uint32_t> exact_;
    std::set<std::uint32_t> indexed_;
};

// Whether the jump's vector is set at run time: the vector written, or
// the jmp's own operand, which names it.
bool set_at_run_time(const CodeWrites& writes, const ImageVector& jump) {
    return writes.reach(jump.vector) || writes.reach(jump.jump + 1);
}

// Where the jump goes when the program has just loaded, if that is an
// unclaimed vector leading into the image.
std::optional<std::uint32_t> target_at_load(const MemoryMap& map, std::uint32_t vector) {
    const Image& image = map.image();
    if (map.kind(vector) != Kind::Unknown || map.kind(vector + 1) != Kind::Unknown) return std::nullopt;
    const std::uint32_t target = image.word(vector);
    if (!image.contains(target)) return std::nullopt;
    return target;
}

}  // namespace

namespace {

// Whether nothing claimed the word at `at` yet, or the hints made it the
// word it holds (as hints written from an earlier analysis do).
bool word_free(const MemoryMap& map, std::uint32_t at) {
    if (map.kind(at) == Kind::Unknown && map.kind(at + 1) == Kind::Unknown) return true;
    return map.source(at) == Source::Hint && map.kind(at) == Kind::Word && map.target(at) == map.image().word(at);
}

// Whether a cartridge header (start words, then "CBM80") lies at `header`.
bool cartridge_header_at(const MemoryMap& map, std::uint32_t header) {
    const Image& image = map.image();
    if (!image.contains(header) || !image.contains(header + c64::kCartridgeHeaderSize - 1)) return false;
    // Not where the user said otherwise, or where BASIC lies.
    if (!word_free(map, header) || !word_free(map, header + c64::kCartridgeWarmStart)) return false;
    for (std::uint32_t a = header + c64::kCartridgeSignature; a < header + c64::kCartridgeHeaderSize; ++a) {
        if (map.kind(a) != Kind::Unknown && !(map.kind(a) == Kind::Petscii && map.source(a) == Source::Hint)) return false;
    }
    const auto& signature = c64::kCartridgeSignatureBytes;
    for (std::uint32_t i = 0; i < std::size(signature); ++i) {
        if (image.at(header + c64::kCartridgeSignature + i) != signature[i]) return false;
    }
    return true;
}

}  // namespace

void find_cartridge(MemoryMap& map) {
    const Image& image = map.image();
    // At $8000, as the KERNAL looks for it; at $A000 only in an image of
    // the upper ROM alone.
    std::uint32_t header = c64::kCartridgeRom;
    if (!cartridge_header_at(map, header)) {
        header = c64::kUpperCartridgeRom;
        if (image.load != header || !cartridge_header_at(map, header)) return;
    }
    const CartridgeStart start{image.word(header), image.word(header + c64::kCartridgeWarmStart), header};
    map.start.cartridge = start;
    map.set_address_item(header, Kind::Word, start.cold, Source::Trace);
    map.set_address_item(header + c64::kCartridgeWarmStart, Kind::Word, start.warm, Source::Trace);
    for (std::uint32_t i = 0; i < std::size(c64::kCartridgeSignatureBytes); ++i) {
        if (map.kind(header + c64::kCartridgeSignature + i) == Kind::Unknown) {
            map.set(header + c64::kCartridgeSignature + i, Kind::Petscii, Source::Trace);
        }
    }
    for (const std::uint32_t entry : {start.cold, start.warm}) {
        if (image.contains(entry) && map.kind(entry) == Kind::Unknown) trace_from(map, entry, Source::Trace);
    }
}

void find_rom_image(MemoryMap& map) {
    const Image& image = map.image();
    const RomParts parts = rom_parts(image);
    std::vector<std::uint16_t> words;
    if (parts.kernal) words.insert(words.end(), {c64::kNmiVector, c64::kResetVector, c64::kIrqVector});
    if (parts.basic) words.insert(words.end(), {c64::kBasicColdStart, c64::kBasicWarmStart});
    for (const std::uint16_t word : words) {
        if (!word_free(map, word)) return;  // the user said otherwise
    }
    map.start.rom = parts;
    for (const std::uint16_t word : words) map.set_address_item(word, Kind::Word, image.word(word), Source::Trace);
    if (parts.basic) {
        for (std::uint32_t a = c64::kBasicSignature; a < c64::kBasicHeaderEnd; ++a) {
            if (map.kind(a) == Kind::Unknown) map.set(a, Kind::Petscii, Source::Trace);
        }
    }
    for (const std::uint16_t word : words) {
        const std::uint32_t entry = image.word(word);
        if (image.contains(entry) && map.kind(entry) == Kind::Unknown) trace_from(map, entry, Source::Trace);
    }
}

bool trace_vectors_in_image(MemoryMap& map) {
    bool found = false;
    // The writes of the code known so far, made when a vector first needs
    // them and added to as vectors lead to more code.
    std::optional<CodeWrites> writes;
    std::vector<std::uint32_t> claimed;
    for (const ImageVector& jump : jumps_through_image(map)) {
        const auto target = target_at_load(map, jump.vector);
        if (!target) continue;
        if (!writes) writes.emplace(map);
        if (set_at_run_time(*writes, jump)) continue;
        // Nothing writes the vector: the jump goes there. A word leading to
        // a byte the CPU halts on, or into data, is no start of code.
        const Kind there = map.kind(*target);
        if (there != Kind::Opcode && (there != Kind::Unknown || behaviour(map.image().at(*target)).control == Control::Halt)) {
            continue;
        }
        map.set_address_item(jump.vector, Kind::Word, *target, Source::Vector);
        if (there == Kind::Unknown) {
            claimed.clear();
            trace_from(map, *target, Source::Vector, &claimed);
            writes->add(claimed);
            found = true;
        }
    }
    return found;
}

void guess_vectors_in_image(MemoryMap& map, const std::vector<std::uint32_t>& not_code) {
    const std::vector<ImageVector> jumps = jumps_through_image(map);
    if (jumps.empty()) return;
    Guessing guessing(map.image());
    for (const std::uint32_t address : not_code) guessing.no_code[map.image().offset(address)] = 1;
    find_patched_operands(map, guessing);
    for (const ImageVector& jump : jumps) {
        const auto target = target_at_load(map, jump.vector);
        if (!target) continue;
        const Kind there = map.kind(*target);
        if (there == Kind::Opcode || (there == Kind::Unknown && try_code(map, guessing, *target, Source::GuessTable))) {
            map.set_address_item(jump.vector, Kind::Word, *target, Source::GuessTable);
        }
    }
}

bool is_handler_vector(std::uint32_t address) {
    if (address == c64::kNmiVector || address == c64::kIrqVector) return true;
    if (address < c64::kRamVectors || address >= c64::kRamVectorsEnd) return false;
    const auto known = find_known(address);
    return known && known->address == address && known->size == 2;
}

void find_installed_handlers(MemoryMap& map, const std::vector<AddressPair>& pairs) {
    std::vector<InstalledHandler> found = map.run.vectors_left;
    for (const AddressPair& pair : pairs) {
        if (pair.stored_to && is_handler_vector(*pair.stored_to) && pair.adjust == 0) {
            found.push_back({static_cast<std::uint16_t>(*pair.stored_to), pair.target()});
        }
    }
    std::erase_if(found, [&](const InstalledHandler& h) { return !map.image().contains(h.handler); });
    std::sort(found.begin(), found.end(), [](const InstalledHandler& x, const InstalledHandler& y) {
        return std::pair(x.handler, x.vector) < std::pair(y.handler, y.vector);
    });
    found.erase(std::unique(found.begin(), found.end()), found.end());
    map.handlers = std::move(found);
}

}  // namespace tolvek
