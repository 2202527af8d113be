// Finding code that the trace from the entry cannot reach. Every guess
// goes through try_code, which takes it only when everything reachable from
// it decodes as clean code.
#include <array>

#include "listing.hpp"
#include "opcodes.hpp"
#include "trace.hpp"

namespace tolvek {
namespace {

class Finder {
public:
    Finder(const Image& image, Analysis& analysis)
        : image_(image), analysis_(analysis), guessing_(image),
          basic_end_(analysis.basic.lines.empty() ? 0 : analysis.basic.end), may_start_(image.bytes.size()) {
        // The flags a byte value gives wherever it stands; a table so that
        // the pass over the image does not branch on the bytes.
        std::array<std::uint8_t, 256> value_flags{};
        for (std::size_t value = 0; value < value_flags.size(); ++value) {
            const auto byte = static_cast<std::uint8_t>(value);
            value_flags[value] = opcode(byte).documented && byte != 0 ? kMayStart | kTableTarget : kMayStart;
        }
        // Starts of printable text are data, whatever they would decode
        // to: where four or more printable bytes follow, counted backwards.
        std::uint32_t printable = 0;
        for (std::uint32_t a = image.end(); a-- > image.load;) {
            const std::uint8_t byte = image.at(a);
            printable = petscii_char(byte) != 0 ? printable + 1 : 0;
            may_start_[image.offset(a)] = in_basic(a) || printable >= 4 ? 0 : value_flags[byte];
        }
    }

    // Gaps come first: they start right after the end of a routine, so
    // they cannot be out of step with the instructions. Tables may point
    // anywhere, and immediate pairs are more often plain numbers; they come
    // after the better founded code has claimed its bytes.
    void run() {
        // New code can hold new pointers; repeat until nothing changes.
        for (int round = 0; round < 8; ++round) {
            bool found = gaps();
            found = address_tables() || found;
            found = split_tables() || found;
            if (!found) found = immediate_pairs();
            if (!found) break;
        }
    }

private:
    ByteKind kind(std::uint32_t address) const { return analysis_.kind[image_.offset(address)]; }

    bool in_basic(std::uint32_t address) const { return address < basic_end_; }

    // A guessed entry point: a data byte that is not BASIC or text.
    bool candidate(std::uint32_t address) const {
        return image_.contains(address) && kind(address) == ByteKind::Data &&
               (may_start_[image_.offset(address)] & kMayStart) != 0;
    }

    bool try_at(std::uint32_t address, std::vector<std::uint32_t>* claimed = nullptr) {
        if (!candidate(address)) return false;
        // Most table entries tried lead where a guess failed before; no
        // need to set up another one for them (try_code would say no too).
        if (guessing_.no_code[image_.offset(address)] != 0) return false;
        return try_code(image_, analysis_, guessing_, address, claimed);
    }

    // An address handed over in registers: lda #<x followed by ldx #>x or
    // ldy #>x, or ldx #<x / ldy #>x, as calling conventions do; or stored
    // as a pointer: lda #<x / sta p / lda #>x / sta p+1.
    bool immediate_pairs() {
        bool found = false;
        for (std::uint32_t a = image_.load; a + 4 <= image_.end(); ++a) {
            if (kind(a) != ByteKind::Code || kind(a + 2) != ByteKind::Code) continue;
            const std::uint8_t first = image_.at(a);
            const std::uint8_t second = image_.at(a + 2);
            const bool pair = (first == 0xa9 && (second == 0xa2 || second == 0xa0)) || (first == 0xa2 && second == 0xa0);
            if (pair && try_at(static_cast<std::uint32_t>(image_.at(a + 3) << 8 | image_.at(a + 1)))) found = true;
            if (first == 0xa9 && a + 8 <= image_.end() && stored_pointer(a)) {
                if (try_at(static_cast<std::uint32_t>(image_.at(a + 5) << 8 | image_.at(a + 1)))) found = true;
            }
        }
        return found;
    }

    // lda #lo / sta p / lda #hi / sta p+1 with p in zero page.
    bool stored_pointer(std::uint32_t a) const {
        const std::uint8_t store = image_.at(a + 2);
        if (store == 0x85) {  // sta zp
            return a + 8 <= image_.end() && image_.at(a + 4) == 0xa9 && image_.at(a + 6) == 0x85 &&
                   image_.at(a + 7) == static_cast<std::uint8_t>(image_.at(a + 3) + 1) && kind(a + 4) == ByteKind::Code;
        }
        return false;
    }

    // Two or more consecutive little-endian words in data that all point
    // at code, or at code minus one (pushed for an rts to jump through).
    bool address_tables() {
        bool found = false;
        for (int minus_one = 0; minus_one <= 1; ++minus_one) {
            std::uint32_t a = image_.load;
            while (a + 4 <= image_.end()) {
                std::uint32_t end = a;
                while (end + 2 <= image_.end() && pointer_at(end, static_cast<std::uint32_t>(minus_one))) end += 2;
                if (end - a >= 4) {
                    for (std::uint32_t p = a; p < end; p += 2) {
                        if (try_at(word(p) + static_cast<std::uint32_t>(minus_one))) found = true;
                    }
                    a = end;
                } else {
                    ++a;
                }
            }
        }
        return found;
    }

    // Tables of low and high bytes apart, as code reads them to jump:
    //   lda hi,x / pha / lda lo,x / pha (then rts: the rts trick, minus one)
    //   lda lo,x / sta p / lda hi,x / sta p+1 (then jmp (p))
    bool split_tables() {
        bool found = false;
        for (std::uint32_t a = image_.load; a + 8 <= image_.end(); ++a) {
            if (kind(a) != ByteKind::Code || !indexed_load(a)) continue;
            const std::uint32_t first = operand_of(image_, a);
            if (image_.at(a + 3) == 0x48 && kind(a + 4) == ByteKind::Code && indexed_load(a + 4) &&
                image_.at(a + 7) == 0x48) {
                found = follow_split(operand_of(image_, a + 4), first, 1) || found;
            } else if (image_.at(a + 3) == 0x85 && a + 10 <= image_.end() && kind(a + 5) == ByteKind::Code &&
                       indexed_load(a + 5) && image_.at(a + 8) == 0x85 &&
                       image_.at(a + 9) == static_cast<std::uint8_t>(image_.at(a + 4) + 1)) {
                found = follow_split(first, operand_of(image_, a + 5), 0) || found;
            }
        }
        return found;
    }

    // lda abs,x or lda abs,y
    bool indexed_load(std::uint32_t a) const { return image_.at(a) == 0xbd || image_.at(a) == 0xb9; }

    // Tries the entries of a split table, as long as they look like one.
    bool follow_split(std::uint32_t low, std::uint32_t high, std::uint32_t add) {
        bool found = false;
        // One table ends where the other begins, if they follow each other.
        const std::uint32_t apart = low < high ? high - low : low - high;
        for (std::uint32_t i = 0; i < 128 && i < apart; ++i) {
            if (!image_.contains(low + i) || !image_.contains(high + i)) break;
            if (kind(low + i) != ByteKind::Data || kind(high + i) != ByteKind::Data) break;
            const std::uint32_t target =
                static_cast<std::uint32_t>(image_.at(high + i) << 8 | image_.at(low + i)) + add;
            if (!image_.contains(target)) break;
            if (kind(target) == ByteKind::Code) continue;
            if (!try_at(target)) break;
            found = true;
        }
        return found;
    }

    std::uint32_t word(std::uint32_t address) const {
        return static_cast<std::uint32_t>(image_.at(address) | image_.at(address + 1) << 8);
    }

    // A data word pointing at known code or at a plausible start of code.
    bool pointer_at(std::uint32_t address, std::uint32_t add) const {
        if (kind(address) != ByteKind::Data || kind(address + 1) != ByteKind::Data) return false;
        if (in_basic(address)) return false;
        const std::uint32_t target = word(address) + add;
        if (!image_.contains(target)) return false;
        if (kind(target) == ByteKind::Code) return true;
        return kind(target) == ByteKind::Data && (may_start_[image_.offset(target)] & kTableTarget) != 0;
    }

    // A stretch of data between code that decodes, from its first byte
    // to its last, as routines that end cleanly: code only reached in ways
    // the trace cannot see, like pointers in tables we did not recognise.
    bool gaps() {
        bool found = false;
        std::uint32_t a = image_.load;
        while (a < image_.end()) {
            if (kind(a) != ByteKind::Data) {
                ++a;
                continue;
            }
            std::uint32_t end = a;
            while (end < image_.end() && kind(end) == ByteKind::Data) ++end;
            if (a > image_.load && end < image_.end() && ends_routine(a)) {
                found = fill_gap(a, end) || found;
            }
            a = end;
        }
        return found;
    }

    // Whether the code before `address` cannot fall through into it.
    bool ends_routine(std::uint32_t address) const {
        std::uint32_t start = address - 1;
        while (start > image_.load && kind(start) == ByteKind::Operand) --start;
        if (kind(start) != ByteKind::Code) return false;
        const Flow flow = flow_of(image_.at(start));
        return flow == Flow::Jump || flow == Flow::Stop;
    }

    // Claims [begin, end) as code if routine after routine covers it all.
    bool fill_gap(std::uint32_t begin, std::uint32_t end) {
        std::vector<std::uint32_t> claimed;
        std::uint32_t a = begin;
        while (a < end) {
            if (kind(a) != ByteKind::Data) {
                ++a;
                continue;
            }
            if (!try_at(a, &claimed)) break;
        }
        if (a >= end) return true;
        // Not all of it: undo, the gap stays data.
        for (std::uint32_t address : claimed) analysis_.kind[image_.offset(address)] = ByteKind::Data;
        return false;
    }

    const Image& image_;
    Analysis& analysis_;
    Guessing guessing_;
    std::uint32_t basic_end_;  // addresses below are BASIC
    // Per image byte, worked out once as it does not change while guessing:
    // kMayStart where it is neither BASIC nor the start of text, and
    // kTableTarget where it also holds a documented opcode other than brk.
    static constexpr std::uint8_t kMayStart = 1;
    static constexpr std::uint8_t kTableTarget = 2;
    std::vector<std::uint8_t> may_start_;
};

}  // namespace

void find_more_code(const Image& image, Analysis& analysis) {
    if (image.bytes.empty()) return;
    Finder(image, analysis).run();
}

}  // namespace tolvek
