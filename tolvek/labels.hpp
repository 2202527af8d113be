// Names for addresses: labels inside the image, equates for well-known C64
// addresses outside it, plain hex for everything else.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "image.hpp"
#include "trace.hpp"

namespace tolvek {

class Labels {
public:
    // Collects every address the code refers to, plus the entry.
    Labels(const Image& image, const Analysis& analysis);

    // The label defined at an in-image address (or the image end), or "".
    std::string label_at(std::uint32_t address) const;
    bool has_label(std::uint32_t address) const {
        if (address < image_.load || address > image_.end()) return false;
        if (address == image_.end() && !end_usable_) return false;
        return labelled_[address - image_.load];
    }

    // How an operand naming `target` is written: a label, label+offset
    // into an instruction, an equate, or hex with `digits` digits. Equates
    // used are remembered for the header.
    std::string operand(std::uint32_t target, int digits);
    bool is_label(std::uint32_t target) const;

    const std::map<std::uint32_t, std::string>& equates() const { return equates_; }

private:
    std::uint32_t instruction_start(std::uint32_t address) const;
    void add(std::uint32_t target);

    const Image& image_;
    const Analysis& analysis_;
    std::vector<bool> labelled_;  // one per image byte, plus the end address
    bool end_usable_ = false;     // whether the end address may carry a label
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

// "$" and `digits` lower case hex digits.
std::string hex(std::uint32_t value, int digits);

// Appends `digits` lower case hex digits of `value`, without the "$".
void append_hex_digits(std::string& out, std::uint32_t value, int digits);

}  // namespace tolvek
