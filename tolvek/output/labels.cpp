#include "output/labels.hpp"

#include <algorithm>
#include <cctype>
#include <set>

#include "analysis/io_banking.hpp"
#include "c64/symbols.hpp"
#include "cpu/decode.hpp"
#include "hints/hints.hpp"
#include "output/routines.hpp"

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

Labels::Labels(const MemoryMap& map, const std::map<std::uint32_t, std::string>* names)
    : image_(map.image()), map_(map), labelled_(map.image().bytes.size() + 1, false), names_(names) {
    const Image& image = image_;
    // The address right after the image gets a label (handy for "end of
    // program" references) unless it is beyond $FFFF or has a known name.
    end_usable_ = image.end() <= 0xffff && !find_known(image.end());
    for (std::uint32_t a = image.load; a < image.end(); ++a) {
        const Kind kind = map.kind(a);
        if (kind == Kind::Opcode && has_address(opcode(image.at(a)).mode)) {
            // A chip register is no place in the image.
            const std::uint32_t target = operand_of(image, a);
            if (!names_chip(map, a, target)) add_reference(target);
        }
        // Every stretch of code starts with a label, so that a reader can
        // name it: after data, and after an instruction that does not fall
        // through.
        if (kind == Kind::Opcode && (a == image.load || starts_stretch(a))) add(a);
        if (stands_for_address(kind)) {
            if (const auto target = map.target(a)) add_reference(*target);
        }
    }
    for (const auto& [address, ref] : map.immediates()) {
        if (!names_chip(map, address, ref.target)) add_reference(ref.target);
    }
    if (map.start.entry_in_image) add(static_cast<std::uint32_t>(map.start.entry));
    for (const SysEntry& entry : map.start.sys_entries) add(entry.address);
    // A name the user gave is shown where it stands, referred to or not.
    if (names_) {
        for (const auto& [address, name] : *names_) {
            if (image.contains(address) || address == image.end()) add(address);
        }
    }
    name_roles();
}

std::string graphic_name(const Graphic& graphic, const std::vector<Graphic>& all) {
    std::string name;
    switch (graphic.kind) {
    case Kind::Sprite: {
        // By its pointer, where that names one sprite of the image: the
        // same pointer in another bank is another sprite.
        const auto shown = [](const Graphic& g) { return g.kind == Kind::Sprite && g.address % 64 == 0; };
        const bool alone = shown(graphic) && std::count_if(all.begin(), all.end(), [&](const Graphic& g) {
                                                 return shown(g) && g.pointer == graphic.pointer;
                                             }) == 1;
        name = "sprite_";
        if (alone) {
            append_hex_digits(name, graphic.pointer, 2);
            return name;
        }
        break;
    }
    case Kind::Charset: name = "charset_"; break;
    case Kind::Bitmap: name = "bitmap_"; break;
    case Kind::Screen: name = "screen_"; break;
    default: name = "colours_"; break;
    }
    append_hex_digits(name, graphic.address, 4);
    return name;
}

void Labels::name_roles() {
    const auto lower = [](std::string name) {
        for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return name;
    };
    // In lower case: 64tass may be told to ignore it.
    std::set<std::string> taken;
    if (names_) {
        for (const auto& [address, name] : *names_) taken.insert(lower(name));
    }
    for (const auto& [address, role] : role_names(map_)) {
        if (names_ && names_->contains(address)) continue;
        std::string name = role;
        for (int n = 2; taken.contains(lower(name)) || find_known_by_name(name) || !name_problem(name).empty(); ++n) {
            name = role + "_" + std::to_string(n);
        }
        taken.insert(lower(name));
        roles_.emplace(address, name);
        add(address);
    }
    // Every graphics object of the image is named, referred to or not.
    for (const Graphic& graphic : map_.graphics) {
        if (!image_.contains(graphic.address)) continue;
        add(graphic.address);
        if (names_ && names_->contains(graphic.address)) continue;
        const std::string base = graphic_name(graphic, map_.graphics);
        std::string name = base;
        for (int n = 2; taken.contains(lower(name)) || find_known_by_name(name) || !name_problem(name).empty(); ++n) {
            name = base + "_" + std::to_string(n);
        }
        taken.insert(lower(name));
        roles_.emplace(graphic.address, name);
    }
}

bool Labels::starts_stretch(std::uint32_t address) const {
    const std::uint32_t before = map_.item_start(address - 1);
    if (map_.kind(before) != Kind::Opcode) return true;
    const Flow flow = flow_of(image_.at(before));
    return flow == Flow::Jump || flow == Flow::Stop;
}

void Labels::add_reference(std::uint32_t target) {
    if (const Graphic* graphic = map_.graphic_at(target); graphic != nullptr && image_.contains(graphic->address)) {
        add(graphic->address);
    } else {
        add(target);
    }
}

void Labels::add(std::uint32_t target) {
    if (image_.contains(target)) {
        labelled_[image_.offset(map_.item_start(target))] = true;
    } else if (target >= image_.end() && target < std::max(map_.own_memory_end, image_.end() + 1) && end_usable_) {
        // The end and the program's own memory after it: named from the end.
        labelled_.back() = true;
    }
}

std::string Labels::label_at(std::uint32_t address) const {
    if (!has_label(address)) return {};
    if (names_) {
        if (const auto it = names_->find(address); it != names_->end()) return it->second;
    }
    if (const auto it = roles_.find(address); it != roles_.end()) return it->second;
    char text[6] = {map_.is_opcode(address) ? 'L' : 'D'};
    put_hex_digits(text + 1, address, 4);
    std::string name(text, 5);
    // D6510 is also the name of the port register at $00.
    if (name.find_first_of("abcdef") == std::string::npos && is_known_name(name)) name += "_";
    return name;
}

bool Labels::is_label(std::uint32_t target) const {
    if (image_.contains(target)) return label_for(target).second;
    return has_label(target);
}

std::pair<std::uint32_t, bool> Labels::label_for(std::uint32_t target) const {
    if (image_.contains(target)) {
        const std::uint32_t start = map_.item_start(target);
        if (has_label(start)) return {start, true};
        // Inside a graphics object: from the object's label (sprite_81+3).
        const Graphic* graphic = map_.graphic_at(target);
        if (graphic != nullptr && has_label(graphic->address)) return {graphic->address, true};
        return {start, false};
    }
    if (target >= image_.end() && target < std::max(map_.own_memory_end, image_.end() + 1)) {
        return {image_.end(), has_label(image_.end())};
    }
    return {target, false};
}

SymbolRef Labels::equate(std::uint32_t target) {
    if (image_.contains(target)) return {};
    // The user's name for an address outside the image, also in zero page
    // where the C64's own name would be given (a program's own `ptr`).
    if (names_) {
        if (const auto it = names_->find(target); it != names_->end()) {
            equates_.emplace(target, it->second);
            return {it->second, 0};
        }
    }
    return known_name(target);
}

SymbolRef Labels::known_name(std::uint32_t target) {
    const auto known = find_known(target);
    if (!known) return {};
    const auto offset = static_cast<std::int32_t>(target - known->address);
    // Where the user named the symbol's first address, that name stands for
    // all of it (irq+1 where the C64's name gives CINV+1): an equate outside
    // the image, the label that stands there inside it. The C64's name would
    // be a second name for the address, not defined or defined twice. In
    // the image's part of the I/O area another name is the RAM's under the
    // chips: a chip register keeps its own.
    if (names_) {
        if (const auto it = names_->find(known->address); it != names_->end()) {
            if (!image_.contains(known->address)) {
                equates_.emplace(known->address, it->second);
                return {it->second, offset};
            }
            if (has_label(known->address) && (!in_io_area(known->address) || it->second == known->name)) {
                return {it->second, offset};
            }
        }
    }
    equates_.emplace(known->address, std::string(known->name));
    return {known->name, offset};
}

}  // namespace tolvek
