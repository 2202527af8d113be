// Packed programs, run: the tests' packers (packer.hpp) pack programs that
// acme builds, and each 6502 unpacker has to give each original back, byte
// for byte, at its load address, and jump to its entry. First on the bare
// processor with nothing but RAM (every packer, and two stages), then on
// the whole machine, where the run must keep the unpacked program as the
// last unpacker handed it over, and the original must go on to print and
// return to BASIC; last as a user meets them, through prgdis and
// Tolvek.exe --unpack.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <random>

#include "emu/cpu6510.hpp"
#include "emu/run.hpp"
#include "packer.hpp"
#include "ram_bus.hpp"
#include "support.hpp"

using namespace tolvek_test;

namespace {

std::string noise_bytes(std::size_t size, std::uint32_t seed) {
    std::mt19937 random(seed);
    std::string lines;
    for (std::size_t i = 0; i < size; ++i) {
        lines += i % 16 == 0 ? "\n\t!byte " : ",";
        lines += std::to_string(random() >> 24);
    }
    return lines + "\n";
}

// Prints the PETSCII text at `label` through CHROUT and returns.
std::string print_routine(const std::string& label) {
    return "\tldx #0\n-\tlda " + label + ",x\n\tbeq +\n\tjsr $ffd2\n\tinx\n\tbne -\n+\trts\n";
}

struct Original {
    std::string name;
    std::string source;
    std::uint16_t entry;
    std::string printed;  // PETSCII, as the original prints it
};

// Small, at $0801 with "SYS 2080" after a table of squares; prints a line
// and the sum of the squares, read from the unpacked table, in hex.
Original small_basic_program() {
    std::uint8_t sum = 0;
    for (unsigned i = 0; i <= 18; ++i) sum = static_cast<std::uint8_t>(sum + (i * i & 0xff));
    const char* digits = "0123456789ABCDEF";
    const std::string source = R"(
	* = $0801
	!word line2, 10
	!byte $9e
	!text "2080"
	!byte 0
line2	!word 0
squares	!for i, 0, 18 { !byte (i * i) & $ff }
	!if * != 2080 { !error "SYS 2080 misses the start" }
start	jsr print
	lda #0
	ldx #18
-	clc
	adc squares,x
	dex
	bpl -
	pha
	lsr
	lsr
	lsr
	lsr
	jsr hexdigit
	pla
	and #$0f
	jsr hexdigit
	lda #13
	jsr $ffd2
	rts
hexdigit
	cmp #10
	bcc +
	adc #6
+	adc #$30
	jmp $ffd2
print
)" + print_routine("message") + R"(
message	!pet "packed and back: ", 0
	!pet "some words to make the program a little longer than its unpacker is"
)";
    return {"small", source, 2080,
            std::string("PACKED AND BACK: ") + digits[sum >> 4] + digits[sum & 15] + "\r"};
}

// A few KiB at $0801: text, tables, noise that does not pack, a run of
// zeros and more text.
Original bigger_basic_program() {
    const std::string source = R"(
	* = $0801
	!word line2, 10
	!byte $9e
	!text "2061"
	!byte 0
line2	!word 0
start
)" + print_routine("message") + R"(
message	!pet "tables, text and noise", 13, 0
sine	!for i, 0, 255 { !byte 128 + int(127 * sin(float(i) * 3.14159265 / 128)) }
times3	!for i, 0, 255 { !byte (i * 3) & $ff }
pointers !for i, 0, 63 { !word sine + i * 4 }
story	!pet "Once upon a time a small computer ran a program that nobody had written down. "
	!pet "The program was packed, and the computer unpacked it before it ran it. "
	!pet "Once upon another time the computer ran a program that packed itself again. "
	!pet "Nobody had written that one down either, and the story ends here. "
noise)" + noise_bytes(1500, 1) + R"(
zeros	!fill 1200, 0
ramp	!for i, 0, 511 { !byte i & $ff }
tail	!pet "the end of the story, once more: once upon a time a small computer ran a program"
)";
    return {"bigger", source, 2061, "TABLES, TEXT AND NOISE\r"};
}

// At $1000 with no BASIC line, starting after a page of tables at $1100.
Original program_at_1000() {
    const std::string source = R"(
	* = $1000
	!for i, 0, 127 { !byte i | $80 }
	!for i, 0, 63 { !word $1000 + i * 3 }
	!if * != $1100 { !error "the code must start at $1100" }
start
)" + print_routine("message") + R"(
message	!pet "no basic here", 13, 0
more	!for i, 0, 40 { !pet "line " }
)" + noise_bytes(200, 2);
    return {"at $1000", source, 0x1100, "NO BASIC HERE\r"};
}

// At $1001 with a BASIC line of its own, "SYS 4109", as if it were loaded
// there: the SYS token and digits stay in the packed data, and send prgdis
// past the end of the packed program.
Original basic_line_at_1001() {
    const std::string source = R"(
	* = $1001
	!word line2, 10
	!byte $9e
	!text "4109"
	!byte 0
line2	!word 0
	!if * != 4109 { !error "SYS 4109 misses the start" }
start
)" + print_routine("message") + R"(
message	!pet "a line of its own", 13, 0
	!for i, 0, 200 { !byte (i * 7) & $ff }	; more than one row of literals: no mere copy
)";
    return {"at $1001", source, 0x100d, "A LINE OF ITS OWN\r"};
}

// From $9000 to past $B000: the unpacker reads and writes under the BASIC
// ROM, matches there included.
Original program_under_basic_rom() {
    std::string source = R"(
	* = $9000
start
)" + print_routine("message") + R"(
message	!pet "under the rom", 13, 0
)";
    // Four tables that repeat, each time with a little noise and a
    // paragraph of text: about 10 KiB that pack to about a quarter.
    for (int i = 0; i < 20; ++i) {
        source += "\t!for i, 0, 255 { !byte (i * " + std::to_string(2 * (i % 4) + 1) + ") & $ff }\n";
        source += noise_bytes(60, 10u + static_cast<std::uint32_t>(i));
        source += "\t!pet \"a paragraph of text that comes back every time, number " + std::to_string(i) +
                  ", to be found again by the packer and copied from under the rom when it is unpacked\"\n";
    }
    return {"under the BASIC ROM", source, 0x9000, "UNDER THE ROM\r"};
}

std::vector<Original> originals() {
    return {small_basic_program(), bigger_basic_program(), program_at_1000(), program_under_basic_rom()};
}

tolvek::Image image_of(const std::vector<std::uint8_t>& prg) {
    if (prg.size() < 2) return {};
    return make_image(static_cast<std::uint32_t>(prg[0] | prg[1] << 8), std::vector<std::uint8_t>(prg.begin() + 2, prg.end()));
}

struct Built {
    tolvek::Image original;
    tolvek::Image packed;
    std::vector<tolvek::Image> stages;  // what each packer packed, the original first
};

// The original packed by `packers` in turn: the first packs the original,
// each next one the packed program the one before made, which starts at
// 2061 (two stages, as some programs were packed twice).
Built build(const ScratchDir& dir, const Original& original, const std::vector<Packer>& packers = {Packer::Plain}) {
    Built built;
    built.original = image_of(assemble(dir, original.source));
    built.packed = built.original;
    std::uint16_t entry = original.entry;
    for (const Packer packer : packers) {
        built.stages.push_back(built.packed);
        built.packed = image_of(assemble(dir, packed_program_source(built.packed, entry, packer)));
        entry = kPackedEntry;
    }
    return built;
}

std::string first_difference(const std::vector<std::uint8_t>& got, const std::vector<std::uint8_t>& want,
                             std::uint32_t load) {
    for (std::size_t i = 0; i < std::min(got.size(), want.size()); ++i) {
        if (got[i] != want[i]) {
            char text[64];
            std::snprintf(text, sizeof text, "first difference at $%04zx: $%02x, not $%02x", load + i, got[i], want[i]);
            return text;
        }
    }
    return got.size() == want.size() ? "" : "sizes differ";
}

// One packer unpacking `output`: where it may store and run code of its
// own, as packer.hpp describes it.
struct Stage {
    Packer packer;
    tolvek::Image output;
    std::uint32_t stream = static_cast<std::uint32_t>(pack(output.bytes, packer).size());

    bool may_run(std::uint32_t address) const {
        if (packer == Packer::SlowBits) {
            return address >= kSlowBitsTop - stream - kSlowBitsWorkspace ||
                   (address >= kSlowBitsExit && address < kSlowBitsExit + 6u);
        }
        return address >= kUnpackerAddress && address < 0x0400;
    }
    bool may_store(std::uint32_t address) const {
        switch (packer) {
        case Packer::Plain: return may_run(address) || (address >= kStreamTop - stream && address < kStreamTop);
        case Packer::TablesBelow:
            return may_run(address) || (address >= kStreamTop - stream && address < kStreamTop) ||
                   (address >= output.load - kTablesBelowBytes && address < output.load);
        case Packer::SlowBits: return may_run(address);
        }
        return false;
    }
};

struct UnpackRun {
    bool reached_entry = false;
    std::vector<std::uint16_t> stops;  // where it first ran code it wrote, after a jump
    std::uint64_t cycles = 0;
    // Slices of the run in which it stored outside the stack, and those of
    // them in which each store went to a byte it had stored into before.
    int storing_slices = 0;
    int rewriting_slices = 0;
};

// Runs the CPU until a jump leads to `entry`, in slices of a fixed number
// of cycles.
UnpackRun run_to(tolvek::Cpu6510& cpu, RamBus& bus, std::uint16_t entry) {
    constexpr std::uint64_t kSlice = 4'000;
    constexpr std::uint64_t kBudget = 300'000'000;
    std::vector<std::uint16_t> first_stores;
    bus.first_stores = &first_stores;
    cpu.watched = entry;
    UnpackRun run;
    while (cpu.cycles < kBudget) {
        const std::size_t news = first_stores.size();
        const std::uint64_t start = cpu.cycles;
        const tolvek::Cpu6510::Stop stop = cpu.run(start + kSlice, true);
        if (cpu.last_main_store > start) {
            ++run.storing_slices;
            if (first_stores.size() == news) ++run.rewriting_slices;
        }
        if (stop == tolvek::Cpu6510::Stop::Watched || (stop == tolvek::Cpu6510::Stop::NewCode && cpu.pc == entry)) {
            run.reached_entry = cpu.pc == entry;
            break;
        }
        if (stop == tolvek::Cpu6510::Stop::NewCode) {
            run.stops.push_back(cpu.pc);
        } else if (stop != tolvek::Cpu6510::Stop::Budget) {
            break;
        }
    }
    run.cycles = cpu.cycles;
    bus.first_stores = nullptr;
    cpu.watched = tolvek::Cpu6510::kNotWatched;
    return run;
}

std::string packers_name(const std::vector<Packer>& packers) {
    std::string name;
    for (auto packer = packers.rbegin(); packer != packers.rend(); ++packer)
        name += std::string(name.empty() ? "" : " around ") + packer_name(*packer);
    return name;
}

TEST(UnpackOnTheProcessor, EveryPackerGivesEachOriginalBackAndStoresOnlyWhereItMay) {
    if (!have_acme()) GTEST_SKIP() << "acme is not installed";
    struct Case {
        Original original;
        std::vector<Packer> packers;  // the inner first
    };
    std::vector<Case> cases;
    for (const Packer packer : kPackers)
        for (const Original& original : originals()) cases.push_back({original, {packer}});
    // Two stages: each packer around each other one and itself.
    for (const Packer inner : kPackers)
        for (const Packer outer : kPackers) cases.push_back({program_at_1000(), {inner, outer}});

    bool interrupts_masked = false;
    for (const Case& c : cases) {
        const Original& original = c.original;
        SCOPED_TRACE(original.name + ", " + packers_name(c.packers));
        ScratchDir dir;
        const Built built = build(dir, original, c.packers);
        ASSERT_FALSE(built.original.bytes.empty());
        ASSERT_EQ(built.packed.load, 0x0801u);
        std::vector<Stage> stages;
        for (std::size_t i = 0; i < c.packers.size(); ++i) stages.push_back({c.packers[i], built.stages[i]});

        RamBus bus;
        std::copy(built.packed.bytes.begin(), built.packed.bytes.end(), bus.ram.begin() + 0x0801);
        bus.ram[0] = 0x2f;
        // Both ways the port and the mask may be found, in turn.
        const std::uint8_t port = interrupts_masked ? 0x36 : 0x37;
        bus.ram[1] = port;
        tolvek::Cpu6510 cpu(bus);
        cpu.pc = kPackedEntry;
        cpu.s = 0xf0;
        cpu.p = static_cast<std::uint8_t>(tolvek::flag::U | (interrupts_masked ? tolvek::flag::I : 0));

        // Each stage's stub moves or copies its unpacker and jumps to it;
        // the last unpacker jumps to the unpacked original.
        const UnpackRun run = run_to(cpu, bus, original.entry);
        ASSERT_TRUE(run.reached_entry) << "stopped at $" << std::hex << cpu.pc << " after " << std::dec << run.cycles
                                       << " cycles";
        ASSERT_FALSE(run.stops.empty()) << "never ran code it wrote before the original";
        // Each unpacker ran in its places; an inner packed program's stub
        // ran from the bytes the outer unpacker wrote.
        for (const std::uint16_t stop : run.stops) {
            const bool unpacker = std::any_of(stages.begin(), stages.end(), [&](const Stage& s) { return s.may_run(stop); });
            const bool inner_stub = std::any_of(stages.begin() + 1, stages.end(), [&](const Stage& s) {
                return stop >= kPackedEntry && s.output.contains(stop);
            });
            EXPECT_TRUE(unpacker || inner_stub) << "ran written code at $" << std::hex << stop;
        }

        const std::vector<std::uint8_t> unpacked(bus.ram.begin() + built.original.load, bus.ram.begin() + built.original.end());
        EXPECT_EQ(unpacked, built.original.bytes) << first_difference(unpacked, built.original.bytes, built.original.load);
        EXPECT_EQ(bus.ram[1], port) << "the port is not as the unpacker found it";
        EXPECT_GE(bus.port_writes, 2);
        EXPECT_EQ(cpu.s, 0xf0) << "the stack is not as the unpacker found it";
        EXPECT_EQ(cpu.p & tolvek::flag::I, interrupts_masked ? tolvek::flag::I : 0);

        // Every byte of each stage's output stored, even where it is zero;
        // otherwise stored only into each stage's own places, the port,
        // the stack and the pointers in the zero page.
        for (const Stage& stage : stages) {
            for (std::uint32_t address = stage.output.load; address < stage.output.end(); ++address) {
                if (!(bus.marks[address] & tolvek::mark::Written)) {
                    ADD_FAILURE() << "never stored into $" << std::hex << address << " of the output";
                    break;
                }
            }
        }
        for (std::uint32_t address = 0; address < 0x10000; ++address) {
            const bool allowed = address == 1 || (address >= 0xf9 && address <= 0xfe) ||
                                 (address >= 0x0100 && address < 0x0200) ||
                                 std::any_of(stages.begin(), stages.end(), [&](const Stage& s) {
                                     return s.output.contains(address) || s.may_store(address);
                                 });
            if ((bus.marks[address] & tolvek::mark::Written) && !allowed) {
                ADD_FAILURE() << "stored into $" << std::hex << address;
                break;
            }
        }

        if (stages.size() == 1) {
            const Stage& stage = stages.front();
            const auto stored = [&](std::uint32_t from, std::uint32_t to) {
                int count = 0;
                for (std::uint32_t address = from; address < to; ++address)
                    count += (bus.marks[address] & tolvek::mark::Written) != 0;
                return count;
            };
            const double cycles_per_byte = static_cast<double>(run.cycles) / static_cast<double>(built.original.bytes.size());
            switch (stage.packer) {
            case Packer::Plain:
                EXPECT_EQ(run.stops.front(), kUnpackerAddress);
                EXPECT_LT(cycles_per_byte, 400);
                break;
            case Packer::TablesBelow: {
                // Its tables and variables below the original stay there.
                const std::uint32_t below = built.original.load - kTablesBelowBytes;
                EXPECT_EQ(run.stops.front(), kUnpackerAddress);
                EXPECT_GE(stored(below, built.original.load), 26);
                EXPECT_GE(std::count_if(bus.ram.begin() + below, bus.ram.begin() + built.original.load,
                                        [](std::uint8_t byte) { return byte != 0; }),
                          20);
                EXPECT_LT(cycles_per_byte, 400);
                break;
            }
            case Packer::SlowBits:
                // The stream up to the very top, the code below it; slow,
                // and after clearing the output it only rewrites.
                EXPECT_GE(run.stops.front(), kSlowBitsTop - stage.stream - kSlowBitsWorkspace);
                EXPECT_EQ(run.stops.back(), kSlowBitsExit);
                EXPECT_EQ(stored(kSlowBitsTop - stage.stream, kSlowBitsTop), static_cast<int>(stage.stream));
                EXPECT_GE(cycles_per_byte, 1500);
                EXPECT_GE(run.rewriting_slices, run.storing_slices * 85 / 100)
                    << run.rewriting_slices << " of " << run.storing_slices << " slices";
                ::testing::Test::RecordProperty("slow_bits_cycles_" + std::to_string(built.original.bytes.size()) +
                                                    "_bytes",
                                                std::to_string(run.cycles));
                break;
            }
        }
        interrupts_masked = !interrupts_masked;
    }
}

// The original compiled from programs/c/`name`.c with cl65 (its start-up
// clears BSS over its own one-time code and changes its variables: only
// memory as the unpacker hands over is the original), packed by `packers`.
Built build_c(const ScratchDir& dir, const std::string& name, const std::vector<Packer>& packers) {
    std::filesystem::copy_file(std::filesystem::path(C_PROGRAMS_DIR) / (name + ".c"), dir / (name + ".c"));
    const Result compiled = run_in(dir.path(), "cl65 -t c64 -O -o " + name + ".prg " + name + ".c");
    if (compiled.status != 0) return {};
    Built built;
    built.original = image_of(read_bytes(dir / (name + ".prg")));
    built.packed = built.original;
    std::uint16_t entry = kPackedEntry;  // the C start-up's SYS
    for (const Packer packer : packers) {
        built.stages.push_back(built.packed);
        built.packed = image_of(assemble(dir, packed_program_source(built.packed, entry, packer)));
    }
    return built;
}

bool have_cl65() { return std::system("cl65 --version >/dev/null 2>&1") == 0; }

struct MachineCase {
    std::string name;
    std::vector<Packer> packers;  // the inner first
    std::optional<Original> original;  // else the C program `name`
};

std::vector<MachineCase> machine_cases() {
    std::vector<MachineCase> cases;
    for (const Packer packer : kPackers) {
        for (const Original& original : originals()) cases.push_back({original.name, {packer}, original});
        cases.push_back({"strings", {packer}, std::nullopt});
    }
    cases.push_back({"two stages", {Packer::SlowBits, Packer::TablesBelow}, program_at_1000()});
    cases.push_back({"two stages", {Packer::Plain, Packer::SlowBits}, small_basic_program()});
    cases.push_back({"strings", {Packer::TablesBelow, Packer::Plain}, std::nullopt});
    return cases;
}

// On the whole machine at the default settings: the run finds where the
// last unpacker handed over and keeps memory as it stood then, over the
// original's bytes exactly (not the unpacker's tables below it, nor the
// remains of its moved data); a slow decruncher that rewrites what it
// cleared gets the budget it needs; the original then runs to its end.
TEST(UnpackOnTheMachine, TheRunKeepsTheOriginalAsHandedOverAndItRuns) {
    if (!have_acme()) GTEST_SKIP() << "acme is not installed";
    for (const MachineCase& c : machine_cases()) {
        SCOPED_TRACE(c.name + " packed by " + packers_name(c.packers));
        if (!c.original && !have_cl65()) continue;
        ScratchDir dir;
        const Built built = c.original ? build(dir, *c.original, c.packers) : build_c(dir, c.name, c.packers);
        ASSERT_FALSE(built.original.bytes.empty());
        const tolvek::RunResult result = tolvek::run_program(built.packed, kPackedEntry, tolvek::RunOptions{});

        ASSERT_TRUE(result.written_code.has_value()) << "nothing handed over to";
        const tolvek::WrittenCode& code = *result.written_code;
        EXPECT_EQ(code.entry, c.original ? c.original->entry : kPackedEntry)
            << "the run ended (" << static_cast<int>(result.end) << ") at $" << std::hex << result.end_address << std::dec
            << " after " << result.cycles << " cycles";
        EXPECT_EQ(code.start, built.original.load);
        EXPECT_EQ(code.end, built.original.end());
        EXPECT_EQ(code.bytes, built.original.bytes) << first_difference(code.bytes, built.original.bytes, code.start);
        const bool slow = std::find(c.packers.begin(), c.packers.end(), Packer::SlowBits) != c.packers.end();
        EXPECT_EQ(result.budget_grown, slow && result.cycles > tolvek::kDefaultRunCycles);
        EXPECT_FALSE(result.ceiling_reached);
        if (c.original) {
            EXPECT_EQ(result.end, tolvek::RunEnd::ReturnedToBasic) << "ended at $" << std::hex << result.end_address;
            EXPECT_EQ(result.printed, c.original->printed);
        }
    }
}

// An unpacker that unpacks a BASIC program may hand it to BASIC's
// interpreter to RUN instead of jumping to it: that is the hand-over, and
// the run goes on as RUN would, through the program's SYS.
TEST(UnpackOnTheMachine, ABasicProgramHandedToTheInterpreterRunsFromItsSys) {
    if (!have_acme()) GTEST_SKIP() << "acme is not installed";
    ScratchDir dir;
    Original original = small_basic_program();
    const std::uint16_t sys = original.entry;
    original.entry = 0xa7ae;  // the interpreter's next statement, where RUN goes on
    const Built built = build(dir, original, {Packer::TablesBelow});
    const tolvek::RunResult result = tolvek::run_program(built.packed, kPackedEntry, tolvek::RunOptions{});
    ASSERT_TRUE(result.written_code.has_value());
    EXPECT_EQ(result.written_code->entry, sys);
    EXPECT_EQ(result.written_code->start, built.original.load);
    EXPECT_EQ(result.written_code->bytes, built.original.bytes);
    EXPECT_EQ(result.end, tolvek::RunEnd::ReturnedToBasic);
    EXPECT_EQ(result.printed, original.printed);
}

// The budget grows for an unpacker at work only up to its ceiling; there,
// the run says so and keeps nothing of a hand-over that did not happen.
// Given the budget it needs, a slow decruncher finishes without growing it.
TEST(UnpackOnTheMachine, ASlowDecrunchersBudgetGrowsUpToItsCeiling) {
    if (!have_acme()) GTEST_SKIP() << "acme is not installed";
    ScratchDir dir;
    const Built built = build(dir, program_under_basic_rom(), {Packer::SlowBits});
    tolvek::RunOptions limited;
    limited.ceiling = 12'000'000;
    const tolvek::RunResult stopped = tolvek::run_program(built.packed, kPackedEntry, limited);
    EXPECT_TRUE(stopped.budget_grown);
    EXPECT_TRUE(stopped.ceiling_reached);
    EXPECT_EQ(stopped.end, tolvek::RunEnd::BudgetUsed);
    EXPECT_FALSE(stopped.written_code.has_value() && stopped.written_code->start == built.original.load);

    tolvek::RunOptions ample;
    ample.budget = 60'000'000;
    ample.patience = tolvek::patience_for(tolvek::kDefaultRunCycles);
    const tolvek::RunResult finished = tolvek::run_program(built.packed, kPackedEntry, ample);
    EXPECT_FALSE(finished.budget_grown);
    ASSERT_TRUE(finished.written_code.has_value());
    EXPECT_EQ(finished.written_code->bytes, built.original.bytes);
}

}  // namespace

namespace {

// The header line that starts with `prefix`, without the "; ".
std::string header_line(const std::string& text, const std::string& prefix) {
    const std::size_t at = text.find("; " + prefix);
    return at == std::string::npos ? "" : text.substr(at + 2, text.find('\n', at) - at - 2);
}

std::vector<std::uint8_t> prg_of(const tolvek::Image& image) {
    std::vector<std::uint8_t> prg(image.bytes.size() + 2);
    prg[0] = static_cast<std::uint8_t>(image.load & 0xff);
    prg[1] = static_cast<std::uint8_t>(image.load >> 8);
    std::copy(image.bytes.begin(), image.bytes.end(), prg.begin() + 2);
    return prg;
}

// What a user does with a packed program: prgdis shows the unpacker and
// says what it unpacked; Tolvek.exe --unpack writes that as a program
// file, equal to the original; that file disassembles, with prgdis when it
// starts with its BASIC line, else with the command the header gives, into
// source that rebuilds it.
TEST(UnpackForTheUser, PrgdisTellsTolvekUnpacksAndTheUnpackedProgramDisassembles) {
#ifndef PRGDIS_EXE
    GTEST_SKIP() << "prgdis is not part of this build";
#else
    if (!have_acme()) GTEST_SKIP() << "acme is not installed";
    const std::string tools = std::filesystem::path(TOLVEK_EXE).parent_path().string();
    const std::string path = "PATH=" + quote(tools) + ":\"$PATH\" ";
    // Each packer once, two stages, a C program; the small program's SYS
    // 2080 lies in the packed data, where prgdis takes it for the entry,
    // and the SYS 4109 of the one at $1001 lies past the packed program.
    struct UserCase {
        std::vector<Packer> packers;
        std::optional<Original> original;  // else the C program "strings"
    };
    const UserCase cases[] = {
        {{Packer::Plain}, small_basic_program()},
        {{Packer::TablesBelow}, program_at_1000()},
        {{Packer::SlowBits}, std::nullopt},
        {{Packer::SlowBits, Packer::Plain}, bigger_basic_program()},
        {{Packer::Plain}, basic_line_at_1001()},
    };
    for (const UserCase& c : cases) {
        if (!c.original && !have_cl65()) continue;
        const Original original = c.original ? *c.original : Original{"strings", "", kPackedEntry, ""};
        SCOPED_TRACE(original.name + " packed by " + packers_name(c.packers));
        ScratchDir dir;
        const Built built = c.original ? build(dir, original, c.packers) : build_c(dir, "strings", c.packers);
        ASSERT_FALSE(built.original.bytes.empty());
        write_bytes(dir / "game.prg", prg_of(built.packed));
        const Result prgdis = run_in(dir.path(), path + quote(PRGDIS_EXE) + " game.prg");
        ASSERT_EQ(prgdis.status, 0) << prgdis.out << prgdis.err;
        const std::string asm_text = read_text(dir / "game.asm");
        EXPECT_NE(header_line(asm_text, "ran bytes it wrote itself at ").find(" from $" + [&] {
            char hex[8];
            std::snprintf(hex, sizeof hex, "%04x", original.entry);
            return std::string(hex);
        }()), std::string::npos) << asm_text.substr(0, 800);
        // The header names the command that unpacks: it reads the program
        // file, as prgdis's image is gone.
        const std::string unpack_line = header_line(asm_text, "Tolvek.exe -a");
        const std::string unpack_command = "Tolvek.exe -a -c6502 -e2061 -p game.prg --unpack";
        EXPECT_EQ(unpack_line, unpack_command + " writes them as the program file game.unpacked.prg and its disassembly "
                                                "game.unpacked.asm");
        const Result unpack = run_in(dir.path(), path + unpack_command);
        ASSERT_EQ(unpack.status, 0) << unpack.err;
        EXPECT_EQ(read_bytes(dir / "game.unpacked.prg"), prg_of(built.original));
        {
            const Result rebuild = run_in(dir.path(), "acme -f cbm -o rebuilt.prg game.unpacked.asm");
            ASSERT_EQ(rebuild.status, 0) << rebuild.err;
            EXPECT_EQ(read_bytes(dir / "rebuilt.prg"), prg_of(built.original));
            // As much code found as in the original disassembled from its
            // entry (prgdis's, from its SYS, where it has a BASIC line).
            write_bytes(dir / "original.prg", prg_of(built.original));
            const std::string disassemble = built.original.load == 0x0801
                                                ? quote(PRGDIS_EXE) + " original.prg"
                                                : "Tolvek.exe -a -c6502 -e" + std::to_string(original.entry) + " -p original.prg";
            ASSERT_EQ(run_in(dir.path(), path + disassemble).status, 0);
            const std::string code = header_line(read_text(dir / "original.asm"), "code: ");
            EXPECT_FALSE(code.empty());
            EXPECT_EQ(header_line(read_text(dir / "game.unpacked.asm"), "code: "), code);
        }

        // Disassembling what was unpacked.
        const std::string starts_with_basic = header_line(asm_text, "its BASIC line calls ");
        const std::string command = header_line(asm_text, "disassemble it with: ");
        const bool basic_line = built.original.bytes.size() > 4 && built.original.bytes[4] == 0x9e;
        if (!basic_line) {  // no BASIC line to start it
            EXPECT_EQ(command, "disassemble it with: Tolvek.exe -a -c6502 -e" + std::to_string(original.entry) +
                                   " -p game.unpacked.prg");
            ASSERT_FALSE(command.empty()) << asm_text.substr(0, 800);
            const Result again = run_in(dir.path(), path + command.substr(std::string("disassemble it with: ").size()));
            ASSERT_EQ(again.status, 0) << again.err;
        } else {
            EXPECT_NE(starts_with_basic.find("prgdis game.unpacked.prg disassembles it"), std::string::npos)
                << asm_text.substr(0, 800);
            EXPECT_EQ(command, "");
            const Result again = run_in(dir.path(), path + quote(PRGDIS_EXE) + " game.unpacked.prg");
            ASSERT_EQ(again.status, 0) << again.out << again.err;
        }
        const std::string unpacked_asm = read_text(dir / "game.unpacked.asm");
        const Result rebuild = run_in(dir.path(), "acme -f cbm -o rebuilt.prg game.unpacked.asm");
        ASSERT_EQ(rebuild.status, 0) << rebuild.err;
        EXPECT_EQ(read_bytes(dir / "rebuilt.prg"), prg_of(built.original));
        // The unpacked program runs too, from its own entry.
        EXPECT_NE(unpacked_asm.find("; run from $"), std::string::npos);
    }
#endif
}

}  // namespace
