#include "analysis/trace.hpp"

#include "analysis/inline_data.hpp"
#include "c64/symbols.hpp"
#include "cpu/behaviour.hpp"

namespace tolvek {
namespace {

// Assemblers use zero page addressing where they can: an absolute operand
// below $100 outside the image, where a zero page form exists, speaks for
// data (see Evidence). All of $D000-$DFFF is fine: the chips' registers and
// their mirrors, the expansion port's I/O areas at $DE00-$DFFF (cartridges,
// RAM expansions, serial cards) and the RAM under the I/O area, which a
// program reaches by banking the I/O out. A guess that touches them is
// judged by its code, like any other.
bool doubtful_absolute(const Image& image, std::uint8_t byte, std::uint32_t address) {
    return address < 0x100 && !image.contains(address) && has_zero_page_form(byte);
}

// What a doubtful instruction costs in clean ones. Routines written with
// forced absolute operands (or assembled before their zero page labels were
// known) hold one or two among a handful of clean instructions; data that
// happens to decode cleanly for long holds small words (absolute operands
// below $100) about as often as any other operand. A bare routine costs
// one.
constexpr int kCleanPerDoubtful = 3;

// Claims instructions reachable from a set of roots. A lenient tracer
// (for the entry) writes straight into the analysis and simply stops a path
// at a bad byte; a strict one (for guesses) collects its claims aside and
// fails as a whole when any path goes wrong. It works in lists owned by the
// caller, so that one guess after another reuses them. The mode is fixed
// when compiling, so that the guessing's busy loop carries no tests for
// the other one.
template <bool kStrict>
class Tracer {
public:
    // A strict tracer keeps its claims in `guessing`, a lenient one gets
    // none. `work` holds the roots.
    Tracer(MemoryMap& map, Guessing* guessing, std::vector<std::uint32_t>& work, Source source)
        : map_(map), image_(map.image()), kinds_(map.kinds()), guessing_(guessing),
          work_(work), source_(source), undocumented_(map.undocumented_opcodes) {}

    Tracer(const Tracer&) = delete;
    Tracer& operator=(const Tracer&) = delete;

    // Claims left aside are dropped, leaving the room clean for the next
    // guess. Three bytes from each instruction's start, whatever its length:
    // a byte beyond it is either claimed too or Unknown already, and a fixed
    // count spares a mispredicted loop.
    ~Tracer() {
        if (!strict_) return;
        for (std::uint32_t at : guessing_->pending) {
            Kind* kinds = &pending_kind(at);
            kinds[0] = kinds[1] = kinds[2] = Kind::Unknown;
        }
        guessing_->pending.clear();
        for (const auto& [begin, length] : guessing_->pending_data) {
            for (std::uint32_t a = begin; a < begin + length; ++a) pending_kind(a) = Kind::Unknown;
        }
        guessing_->pending_data.clear();
    }

    // Paths are taken in the order they were found, so that the code a
    // routine falls into is claimed before jumps into its middle. A
    // lenient tracer just ends a path where it goes wrong; a strict one
    // gives up.
    bool run() {
        for (std::size_t next_path = 0; next_path < work_.size(); ++next_path) {
            const std::size_t path_start = strict_ ? guessing_->pending.size() : 0;
            const Outcome outcome = follow(work_[next_path]);
            if (strict_ && outcome != Outcome::Done) {
                // When the cause lies in the bytes themselves (not in a clash
                // with other claims), the instructions of the path that led
                // there are marked, so that later guesses running into them
                // fail at once.
                if (outcome == Outcome::Bad) {
                    const std::vector<std::uint32_t>& pending = guessing_->pending;
                    for (std::size_t i = path_start; i < pending.size(); ++i) {
                        guessing_->no_code[image_.offset(pending[i])] = 1;
                    }
                }
                return false;
            }
        }
        return true;
    }

    // A lenient tracer adds each instruction it claims to `claimed`.
    void report_claims(std::vector<std::uint32_t>* claimed) { claimed_ = claimed; }

    // Paths that start in first..last do not run on past `last`.
    void fence(std::uint32_t first, std::uint32_t last) { fence_ = Fence{first, last}; }

    // What the instructions claimed so far say for being code.
    const Evidence& evidence() const { return evidence_; }
    // Whether a path ran into known code.
    bool joins_code() const { return joins_code_; }

    // Whether the claims are four or more of one byte, as padding is
    // (`.res 28,$aa` decodes as tax after tax).
    bool only_fill() const {
        const std::vector<std::uint32_t>& pending = guessing_->pending;
        if (pending.size() < 4) return false;
        for (std::uint32_t at : pending) {
            if (image_.at(at) != image_.at(pending.front())) return false;
        }
        return true;
    }

    // Whether the guess starts with so much padding of one-byte
    // instructions that no routine would (code after padding is found
    // from its own start).
    bool starts_with_fill() const {
        const std::vector<std::uint32_t>& pending = guessing_->pending;
        if (pending.size() < kLongestFill) return false;
        const std::uint8_t fill = image_.at(pending.front());
        for (std::size_t i = 0; i < kLongestFill; ++i) {
            if (pending[i] != pending.front() + i || image_.at(pending[i]) != fill) return false;
        }
        return true;
    }

    void commit(std::vector<std::uint32_t>* claimed) {
        for (std::uint32_t at : guessing_->pending) {
            const std::uint32_t end = at + length_at(at);
            for (std::uint32_t a = at; a < end; ++a) {
                map_.set(a, pending_kind(a), source_);
                if (claimed) claimed->push_back(a);
            }
        }
        for (const auto& [begin, length] : guessing_->pending_data) {
            for (std::uint32_t a = begin; a < begin + length; ++a) {
                map_.set(a, pending_kind(a), Source::InlineData);
                if (claimed) claimed->push_back(a);
            }
        }
    }

private:
    static constexpr int kBudget = 4000;
    // Eight `lsr`s or `nop`s in a row may be code; as the start of a
    // guessed routine, they are padding.
    static constexpr std::size_t kLongestFill = 8;
    // A guess may hold one undocumented instruction per so many.
    static constexpr int kPerUndocumented = 32;

    std::uint32_t length_at(std::uint32_t at) const {
        return instruction_length(image_.at(at));
    }

    Kind& pending_kind(std::uint32_t address) { return guessing_->pending_kind[image_.offset(address)]; }

    // The current guess claims only bytes that are unknown in the map.
    Kind kind_at(std::uint32_t address) const {
        const std::size_t offset = image_.offset(address);
        if (strict_ && guessing_->pending_kind[offset] != Kind::Unknown) return guessing_->pending_kind[offset];
        return kinds_[offset];
    }

    // The classic trick of hiding an instruction in the operand of a bit
    // ($2C) so that code running into it skips it: a jump to the hidden
    // instruction is fine, even though only one reading can be shown.
    bool skipped_by_bit(std::uint32_t at) const {
        if (at == image_.load || kind_at(at - 1) != Kind::Opcode) return false;
        return behaviour(image_.at(at - 1)).operation == Operation::Bit;
    }

    // The same trick met the other way round: the hidden instruction is
    // known (a jump or a run went there) before code runs into the bit.
    // Then the bit's opcode byte is what the source holds too: a byte that
    // skips the instruction after it.
    bool hides_known_instruction(std::uint32_t at, std::uint8_t byte, std::uint32_t length) const {
        if (behaviour(byte).operation != Operation::Bit || at + length > image_.end() || kind_at(at) != Kind::Unknown) {
            return false;
        }
        return kind_at(at + 1) == Kind::Opcode && 1 + instruction_length(image_.at(at + 1)) == length;
    }

    void claim_skipping_byte(std::uint32_t at) {
        if (strict_) {
            pending_kind(at) = Kind::Bytes;
            guessing_->pending_data.emplace_back(at, 1);
        } else {
            map_.set(at, Kind::Bytes, source_);
        }
    }

    enum class Outcome { Done, Bad, Clash };

    // Follows one path from `at`, queueing the targets it finds. A strict
    // tracer's claims of the path are its instructions in `pending` from
    // where the path started.
    Outcome follow(std::uint32_t at) {
        const bool fenced = fence_ && at >= fence_->first && at <= fence_->last;
        while (true) {
            if (fenced && at > fence_->last) return Outcome::Done;
            if (!image_.contains(at)) return Outcome::Bad;
            if (strict_ && guessing_->no_code[image_.offset(at)] != 0) return Outcome::Bad;
            const Kind here = kind_at(at);
            if (here == Kind::Opcode) {  // joins known code
                joins_code_ = true;
                return Outcome::Done;
            }
            if (here == Kind::Operand && skipped_by_bit(at)) return Outcome::Done;
            const std::uint8_t byte = image_.at(at);
            const Opcode& op = opcode(byte);
            const std::uint32_t length = instruction_length(byte);
            if (hides_known_instruction(at, byte, length)) {
                claim_skipping_byte(at);
                joins_code_ = true;
                return Outcome::Done;
            }
            const Outcome decoded = claim(at, byte, op, length);
            if (decoded != Outcome::Done) return decoded;
            if (strict_ && (++count_ > kBudget || --guessing_->steps_left < 0)) return Outcome::Bad;
            const Flow flow = flow_of(byte);
            if (flow == Flow::Branch || flow == Flow::Call || flow == Flow::Jump) {
                const std::uint32_t target = operand_of(image_, at);
                if (image_.contains(target)) {
                    work_.push_back(target);
                } else if (strict_ && !outside_target_ok(flow, target, at)) {
                    return Outcome::Bad;
                }
                if (flow == Flow::Call && may_take_data(target)) {
                    const Outcome data = claim_inline_data(at);
                    if (data != Outcome::Done) return data;
                    if (!comes_back_) return Outcome::Done;  // nothing after the call runs
                    at += data_after_;
                }
            }
            if (flow == Flow::Jump || flow == Flow::Stop) return Outcome::Done;
            at += length;
        }
    }

    // A quick first answer for takes_inline_data: false where it is sure
    // to say no.
    bool may_take_data(std::uint32_t routine) const {
        if (strict_) return guessing_->inline_routine[routine] != 1;
        return image_.contains(routine) || routine == kPrintImmediate;
    }

    // Whether the routine at `routine` may take data from behind its
    // calls; while guessing, remembered per routine.
    bool takes_inline_data(std::uint32_t routine) {
        if (!strict_) return may_take_inline_data(image_, routine);
        std::uint8_t& known = guessing_->inline_routine[routine];
        if (known == 0) known = may_take_inline_data(image_, routine) ? 2 : 1;
        return known == 2;
    }

    // Claims the data that the routine called at `call` reads from behind
    // the call, if it does, and sets data_after_ to its length (and
    // comes_back_ to whether the call returns after it). Bytes that
    // are known already stay as they are in the trace, and make a guess
    // fail. Out of line: inlined, it slows the guessing's busy loop down.
    [[gnu::noinline]] Outcome claim_inline_data(std::uint32_t call) {
        data_after_ = 0;
        comes_back_ = true;
        if (!takes_inline_data(operand_of(image_, call))) return Outcome::Done;
        const InlineSpan span = inline_data_after(map_, call);
        data_after_ = span.length;
        comes_back_ = span.returns;
        if (span.length == 0) return Outcome::Done;
        std::vector<Kind> kinds;
        inline_data_kinds(image_, call, span, kinds);
        const std::uint32_t begin = call + 3;
        for (std::uint32_t i = 0; i < span.length; ++i) {
            const std::size_t offset = image_.offset(begin + i);
            if (kinds_[offset] != Kind::Unknown) {
                if (strict_) return Outcome::Bad;
                continue;
            }
            if (strict_) {
                if (guessing_->pending_kind[offset] != Kind::Unknown) return Outcome::Clash;
            } else {
                map_.set(begin + i, kinds[i], Source::InlineData);
            }
        }
        if (strict_) {
            for (std::uint32_t i = 0; i < span.length; ++i) pending_kind(begin + i) = kinds[i];
            guessing_->pending_data.emplace_back(begin, span.length);
        }
        return Outcome::Done;
    }

    // Claims the instruction at `at` if it can be code there.
    Outcome claim(std::uint32_t at, std::uint8_t byte, const Opcode& op, std::uint32_t length) {
        if (!op.documented() && !undocumented_runs(at, length)) return Outcome::Bad;
        if (strict_ && behaviour(byte).control == Control::Break) return Outcome::Bad;  // rarely meant in guessed code
        if (at + length > image_.end()) return Outcome::Bad;  // cut off by the image end
        if (strict_ && length > 1) {
            const bool doubtful = length == 3 && doubtful_absolute(image_, byte, operand_of(image_, at));
            evidence_.doubtful += doubtful ? 1 : 0;
            evidence_.clean += doubtful ? 0 : 1;
        }
        for (std::uint32_t a = at; a < at + length; ++a) {
            // What is known stays (code, and data such as the BASIC
            // program); only this guess's own claims could differ in
            // another guess.
            if (kinds_[image_.offset(a)] != Kind::Unknown) return Outcome::Bad;
            if (strict_ && pending_kind(a) != Kind::Unknown) return Outcome::Clash;
        }
        if (strict_) {
            // Selects rather than a loop over one to three bytes, which
            // mispredicts.
            Kind* kinds = &pending_kind(at);
            kinds[0] = Kind::Opcode;
            kinds[1] = length > 1 ? Kind::Operand : kinds[1];
            kinds[2] = length > 2 ? Kind::Operand : kinds[2];
            guessing_->pending.push_back(at);
        } else {
            map_.set_instruction(at, length, source_);
            if (claimed_) claimed_->push_back(at);
        }
        return Outcome::Done;
    }

    // Whether the undocumented instruction at `at` can be code here: one
    // that does the same on every C64 and that assemblers can write. The
    // others (and jam, which halts the CPU) stay data and end the path.
    // Bytes of unknown meaning decode as undocumented opcodes about one time
    // in four, real code far more rarely, and least where a routine starts:
    // a guess may hold one per so many instructions up to it.
    bool undocumented_runs(std::uint32_t at, std::uint32_t length) {
        if (!undocumented_) return false;
        if (strict_ && (undocumented_count_ + 1) * kPerUndocumented > count_ + 1) return false;
        if (at + length > image_.end() || !has_mnemonic(image_, at)) return false;
        undocumented_count_ += strict_ ? 1 : 0;
        return true;
    }

    // A jmp or jsr whose target the program sets at run time: a
    // placeholder $0000, or an operand that known code writes. Only asked
    // of instructions three bytes long, whose operand lies in the image.
    // Rarely asked, and out of line: inlined, it slows the guessing's busy
    // loop down.
    [[gnu::noinline]] bool patched(std::uint32_t at) const {
        const std::size_t operand = image_.offset(at) + 1;
        return jumps_to_operand(image_.at(at)) &&
               (image_.word(at + 1) == 0 || (guessing_->patched[operand] | guessing_->patched[operand + 1]) != 0);
    }

    // A guessed routine may leave the image only towards the ROMs, into
    // zero page (code copied there, as BASIC's CHRGET at $0073), or through
    // a stub whose target is set at run time: unknown, not wrong.
    bool outside_target_ok(Flow flow, std::uint32_t target, std::uint32_t at) const {
        if (flow == Flow::Branch) return false;
        return target < 0x100 || (target >= c64::kBasicRom && target < c64::kBasicRomEnd) ||
               target >= c64::kKernalRom || patched(at);
    }

    static constexpr bool strict_ = kStrict;

    MemoryMap& map_;
    const Image& image_;
    const std::vector<Kind>& kinds_;  // the map's, read directly in the busy loop
    Guessing* guessing_;
    int count_ = 0;
    int undocumented_count_ = 0;
    Evidence evidence_;
    bool joins_code_ = false;
    std::vector<std::uint32_t>& work_;  // paths to follow, done ones included
    Source source_;                     // of what this tracer claims
    bool undocumented_;                 // whether undocumented opcodes can be code
    std::vector<std::uint32_t>* claimed_ = nullptr;  // a lenient tracer's instructions, when asked for
    struct Fence {
        std::uint32_t first = 0, last = 0;
    };
    std::optional<Fence> fence_;
    std::uint32_t data_after_ = 0;      // bytes of data after the call just claimed
    bool comes_back_ = true;            // whether that call returns after its data
};

// One guess from the roots in guessing.work. A routine of one-byte
// instructions is not bare where `led_by_code`: code jumps there through a
// table it reads (an rts reached through the rts trick), or the run went
// there; nor where it runs into known code (an entry a few instructions
// before a routine), unless it is padding.
bool try_work(MemoryMap& map, Guessing& guessing, Source source, std::vector<std::uint32_t>* claimed,
              Evidence* evidence, bool led_by_code) {
    Tracer<true> tracer(map, &guessing, guessing.work, source);
    if (!tracer.run() || tracer.starts_with_fill()) return false;
    Evidence found = tracer.evidence();
    const bool enters_code = tracer.joins_code() && !tracer.only_fill();
    if (found.clean == 0 && !enters_code && !led_by_code) found.bare = 1;
    if (evidence) {
        *evidence += found;
    } else if (!found.convincing()) {
        return false;
    }
    tracer.commit(claimed);
    return true;
}

}  // namespace

bool Evidence::convincing() const { return clean >= kCleanPerDoubtful * doubtful + bare; }

bool try_code(MemoryMap& map, Guessing& guessing, std::uint32_t root, Source source,
              std::vector<std::uint32_t>* claimed, Evidence* evidence, bool jumped_to) {
    // A root on a path that went wrong before goes wrong again.
    const Image& image = map.image();
    if (image.contains(root) && guessing.no_code[image.offset(root)] != 0) return false;
    guessing.work.assign(1, root);
    const bool led_by_code = jumped_to || map.was_entered(root);
    return try_work(map, guessing, source, claimed, evidence, led_by_code);
}

Guessing::Guessing(const Image& image)
    : no_code(image.bytes.size(), 0), patched(image.bytes.size() + 2, 0), inline_routine(0x10000, 0),
      pending_kind(image.bytes.size() + 2, Kind::Unknown) {}

void find_patched_operands(const MemoryMap& map, Guessing& guessing) {
    const Image& image = map.image();
    const auto jump_at = [&](std::uint32_t a) {
        return image.contains(a) && image.contains(a + 2) && jumps_to_operand(image.at(a));
    };
    for (std::size_t i = next_opcode(map.kinds(), 0); i + 3 <= image.bytes.size(); i = next_opcode(map.kinds(), i + 1)) {
        const std::uint8_t store = image.bytes[i];
        // sta, stx, sty absolute; sta absolute indexed.
        if (stored_register(store) == 0 || instruction_length(store) != 3) continue;
        const std::uint32_t to = image.word(image.load + static_cast<std::uint32_t>(i) + 1);
        // The low or high byte of a jmp's or jsr's operand.
        std::uint32_t stub = to - 1;
        if (!jump_at(stub)) stub = to - 2;
        if (!jump_at(stub)) continue;
        guessing.patched[image.offset(to)] = 1;
        // An indexed store fills a row of stubs, three bytes apart.
        if (opcode(store).mode == Mode::Absolute) continue;
        for (stub += 3; jump_at(stub) && image.at(stub) == image.at(stub - 3); stub += 3) {
            guessing.patched[image.offset(stub + 1)] = 1;
        }
    }
}

void trace_from(MemoryMap& map, std::uint32_t entry, Source source, std::vector<std::uint32_t>* claimed) {
    std::vector<std::uint32_t> work{entry};
    Tracer<false> tracer(map, nullptr, work, source);
    tracer.report_claims(claimed);
    tracer.run();
}

void trace_code_range(MemoryMap& map, std::uint32_t first, std::uint32_t last, Source source) {
    const Image& image = map.image();
    std::vector<std::uint32_t> work;
    for (std::uint32_t a = first; a <= last; a += instruction_length(image.at(a))) {
        if (map.kind(a) == Kind::Unknown) work.push_back(a);
    }
    Tracer<false> tracer(map, nullptr, work, source);
    tracer.fence(first, last);
    tracer.run();
}

void show_skipped_instructions(MemoryMap& map) {
    const Image& image = map.image();
    std::vector<bool> led_to(image.bytes.size(), false);
    const auto lead_to = [&](std::optional<std::uint32_t> target) {
        if (target && image.contains(*target)) led_to[image.offset(*target)] = true;
    };
    for (std::uint32_t a = image.load; a < image.end(); ++a) {
        const Kind kind = map.kind(a);
        if (kind == Kind::Opcode) {
            // Not the pointer of a jmp (p): no code lies there.
            if (behaviour(image.at(a)).control != Control::JumpIndirect) lead_to(target_of(image, a));
        } else if (kind == Kind::Word || kind == Kind::WordMinus1 || kind == Kind::Low || kind == Kind::LowMinus1) {
            lead_to(map.target(a));
        }
    }
    for (std::uint32_t a = image.load; a + 1 < image.end(); ++a) {
        if (map.kind(a) != Kind::Opcode || behaviour(image.at(a)).operation != Operation::Bit) continue;
        const std::uint32_t length = instruction_length(image.at(a));
        const std::uint32_t hidden = a + 1;
        if (!led_to[image.offset(hidden)] || !opcode(image.at(hidden)).documented() ||
            instruction_length(image.at(hidden)) != length - 1) {
            continue;
        }
        const Source source = map.source(a);
        map.set(a, Kind::Bytes, source);
        map.set_instruction(hidden, length - 1, source);
    }
}

}  // namespace tolvek
