#include "output/labels.hpp"

#include "c64/symbols.hpp"
#include "cpu/decode.hpp"

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

Labels::Labels(const MemoryMap& map)
    : image_(map.image()), map_(map), labelled_(map.image().bytes.size() + 1, false) {
    const Image& image = image_;
    // The address right after the image gets a label (handy for "end of
    // program" references) unless it is beyond $FFFF or has a known name.
    end_usable_ = image.end() <= 0xffff && !find_known(image.end());
    for (std::uint32_t a = image.load; a < image.end(); ++a) {
        if (map.kind(a) != Kind::Opcode) continue;
        if (has_address(opcode(image.at(a)).mode)) add(operand_of(image, a));
    }
    if (map.entry_in_image) add(static_cast<std::uint32_t>(map.entry));
}

void Labels::add(std::uint32_t target) {
    if (image_.contains(target)) {
        labelled_[image_.offset(map_.instruction_start(target))] = true;
    } else if (target == image_.end() && end_usable_) {
        labelled_.back() = true;
    }
}

std::string Labels::label_at(std::uint32_t address) const {
    if (!has_label(address)) return {};
    const bool code = map_.is_opcode(address);
    std::string name = (code ? "L" : "D") + hex(address, 4).substr(1);
    // D6510 is also the name of the port register at $00.
    if (name.find_first_of("abcdef") == std::string::npos && is_known_name(name)) name += "_";
    return name;
}

bool Labels::is_label(std::uint32_t target) const {
    if (image_.contains(target)) return has_label(map_.instruction_start(target));
    return has_label(target);
}

std::pair<std::uint32_t, bool> Labels::label_for(std::uint32_t target) const {
    if (image_.contains(target)) {
        const std::uint32_t start = map_.instruction_start(target);
        return {start, has_label(start)};
    }
    return {target, target == image_.end() && has_label(target)};
}

SymbolRef Labels::equate(std::uint32_t target) {
    if (image_.contains(target)) return {};
    const auto known = find_known(target);
    if (!known) return {};
    equates_.emplace(known->address, std::string(known->name));
    return {known->name, static_cast<std::int32_t>(target - known->address)};
}

}  // namespace tolvek
