#include "labels.hpp"

#include "c64symbols.hpp"
#include "opcodes.hpp"

namespace tolvek {

std::string hex(std::uint32_t value, int digits) {
    std::string out = "$";
    append_hex_digits(out, value, digits);
    return out;
}

void append_hex_digits(std::string& out, std::uint32_t value, int digits) {
    char text[8];
    put_hex_digits(text, value, digits);
    out.append(text, static_cast<std::size_t>(digits));
}

Labels::Labels(const Image& image, const Analysis& analysis)
    : image_(image), analysis_(analysis), labelled_(image.bytes.size() + 1, false) {
    // The address right after the image gets a label (handy for "end of
    // program" references) unless it is beyond $FFFF or has a known name.
    end_usable_ = image.end() <= 0xffff && !find_known(image.end());
    for (std::uint32_t a = image.load; a < image.end(); ++a) {
        if (analysis.kind[image.offset(a)] != ByteKind::Code) continue;
        if (has_address(opcode(image.at(a)).mode)) add(operand_of(image, a));
    }
    if (analysis.entry_in_image) add(static_cast<std::uint32_t>(analysis.entry));
}

void Labels::add(std::uint32_t target) {
    if (image_.contains(target)) {
        labelled_[image_.offset(instruction_start(target))] = true;
    } else if (target == image_.end() && end_usable_) {
        labelled_.back() = true;
    }
}

std::uint32_t Labels::instruction_start(std::uint32_t address) const {
    while (address > image_.load && analysis_.kind[image_.offset(address)] == ByteKind::Operand) {
        --address;
    }
    return address;
}

std::string Labels::label_at(std::uint32_t address) const {
    if (!has_label(address)) return {};
    const bool code = image_.contains(address) && analysis_.kind[image_.offset(address)] == ByteKind::Code;
    std::string name = (code ? "L" : "D") + hex(address, 4).substr(1);
    // D6510 is also the name of the port register at $00.
    if (name.find_first_of("abcdef") == std::string::npos && is_known_name(name)) name += "_";
    return name;
}

bool Labels::is_label(std::uint32_t target) const {
    if (image_.contains(target)) return has_label(instruction_start(target));
    return has_label(target);
}

std::string Labels::operand(std::uint32_t target, int digits) {
    if (image_.contains(target) || target == image_.end()) {
        const std::uint32_t start = image_.contains(target) ? instruction_start(target) : target;
        if (has_label(start)) {
            std::string name = label_at(start);
            if (target != start) name += "+" + std::to_string(target - start);
            return name;
        }
    }
    if (!image_.contains(target)) {
        if (const auto known = find_known(target)) {
            equates_.emplace(known->address, std::string(known->name));
            std::string name(known->name);
            if (target != known->address) name += "+" + std::to_string(target - known->address);
            return name;
        }
    }
    return hex(target, digits);
}

}  // namespace tolvek
