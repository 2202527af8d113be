// Names for addresses: labels inside the image, equates for well-known C64
// addresses outside it, plain hex for everything else.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "analysis/memory_map.hpp"
#include "image.hpp"

namespace tolvek {

// A value as a name plus an offset; no name: written as a number.
struct SymbolRef {
    std::string_view name;  // of static storage or in the listing's store
    std::int32_t offset = 0;
    bool empty() const { return name.empty(); }
};

class Labels {
public:
    // Collects every address the code refers to, plus the entry.
    // `names`: the user's names for addresses, in the image or outside it,
    // which take the place of labels and equates; may be null. Where the
    // user gave no name, the roles Tolvek knows (output/routines.hpp) name
    // their addresses: "entry", "irq", "irq_2", "wait_loop".
    explicit Labels(const MemoryMap& map, const std::map<std::uint32_t, std::string>* names = nullptr);

    // The label defined at an in-image address (or the image end), or "".
    std::string label_at(std::uint32_t address) const;
    bool has_label(std::uint32_t address) const {
        if (address < image_.load || address > image_.end()) return false;
        if (address == image_.end() && !end_usable_) return false;
        return labelled_[address - image_.load];
    }

    // The name an operand naming `target` is written with: a label,
    // label+offset into an instruction, an equate (remembered for the
    // header), or none. A label's name is kept in `keep`'s store.
    template <class Keep>
    SymbolRef operand(std::uint32_t target, Keep&& keep) {
        const auto [start, label] = label_for(target);
        if (label) return {keep(label_at(start)), static_cast<std::int32_t>(target - start)};
        return equate(target);
    }
    // The equate for an address outside the image, or none.
    SymbolRef equate(std::uint32_t target);
    // The equate for a well-known address wherever it lies (a chip
    // register where the image covers the I/O area), or none.
    SymbolRef known_name(std::uint32_t target);
    bool is_label(std::uint32_t target) const;

    const std::map<std::uint32_t, std::string>& equates() const { return equates_; }

private:
    // Where the label for `target` stands, and whether there is one.
    std::pair<std::uint32_t, bool> label_for(std::uint32_t target) const;
    void add(std::uint32_t target);
    // A place an operand or a data item names: inside a graphics object,
    // the object's start is labelled, and the operand counts from there.
    void add_reference(std::uint32_t target);
    // Names the roles' addresses and the graphics objects (sprite_81,
    // charset_3000, ...), each name once and none that the user, the C64
    // or an assembler has for something else.
    void name_roles();
    // Whether the instruction at `address` (not the image's first byte)
    // starts a stretch of code.
    bool starts_stretch(std::uint32_t address) const;

    const Image& image_;
    const MemoryMap& map_;
    std::vector<bool> labelled_;  // one per image byte, plus the end address
    bool end_usable_ = false;     // whether the end address may carry a label
    const std::map<std::uint32_t, std::string>* names_;  // the user's, or null
    std::map<std::uint32_t, std::string> roles_;           // by address, where the user gave no name: roles and graphics
    std::map<std::uint32_t, std::string> equates_;
};

inline constexpr std::string_view kHexDigits = "0123456789abcdef";

// Writes `digits` lower case hex digits of `value` to out[0..digits).
inline void put_hex_digits(char* out, std::uint32_t value, int digits) {
    for (int i = digits - 1; i >= 0; --i) {
        out[i] = kHexDigits[value & 15];
        value >>= 4;
    }
}

// The label of a graphics object of `all` (the map's): sprite_81 by its
// pointer, where no other sprite has that pointer, else sprite_2040 by its
// address as the others are: charset_3000, bitmap_2000, screen_0400,
// colours_d800.
std::string graphic_name(const Graphic& graphic, const std::vector<Graphic>& all);

// "$" and `digits` lower case hex digits.
std::string hex(std::uint32_t value, int digits);

// Appends `digits` lower case hex digits of `value`, without the "$".
void append_hex_digits(std::string& out, std::uint32_t value, int digits);

}  // namespace tolvek
