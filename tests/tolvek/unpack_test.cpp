// Packed programs, run: the tests' packer (packer.hpp) packs programs that
// acme builds, and the 6502 unpacker has to give each original back, byte
// for byte, at its load address, and jump to its entry. First on the bare
// processor with nothing but RAM, then on the whole machine, where the run
// must report the unpacked program as the code the program wrote and ran,
// and the original must go on to print and return to BASIC.
#include <gtest/gtest.h>

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
};

Built build(const ScratchDir& dir, const Original& original) {
    Built built;
    built.original = image_of(assemble(dir, original.source));
    built.packed = image_of(assemble(dir, packed_program_source(built.original, original.entry)));
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

TEST(UnpackOnTheProcessor, GivesEachOriginalBackAndLeavesTheRestAsItWas) {
    if (!have_acme()) GTEST_SKIP() << "acme is not installed";
    bool interrupts_masked = false;
    for (const Original& original : originals()) {
        SCOPED_TRACE(original.name);
        ScratchDir dir;
        const Built built = build(dir, original);
        ASSERT_FALSE(built.original.bytes.empty());
        ASSERT_EQ(built.packed.load, 0x0801u);

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

        // The stub copies the unpacker and jumps to it; the unpacker (which
        // may stop the run again as it calls into its own copied code)
        // jumps to the unpacked original.
        std::vector<std::uint16_t> stops;
        while (stops.size() < 32 && cpu.run(5'000'000, true) == tolvek::Cpu6510::Stop::NewCode) {
            stops.push_back(cpu.pc);
            if (cpu.pc == original.entry) break;
        }
        ASSERT_FALSE(stops.empty()) << "never ran written code; stopped at $" << std::hex << cpu.pc;
        EXPECT_EQ(stops.front(), kUnpackerAddress);
        EXPECT_EQ(stops.back(), original.entry) << "stopped at $" << std::hex << cpu.pc;
        for (std::uint16_t stop : stops) {
            const bool in_unpacker = stop >= kUnpackerAddress && stop < 0x0400;
            EXPECT_TRUE(in_unpacker || stop == original.entry) << "ran written code at $" << std::hex << stop;
        }

        const std::vector<std::uint8_t> unpacked(bus.ram.begin() + built.original.load, bus.ram.begin() + built.original.end());
        EXPECT_EQ(unpacked, built.original.bytes) << first_difference(unpacked, built.original.bytes, built.original.load);
        EXPECT_EQ(bus.ram[1], port) << "the port is not as the unpacker found it";
        EXPECT_GE(bus.port_writes, 2);
        EXPECT_EQ(cpu.s, 0xf0) << "the stack is not as the unpacker found it";
        EXPECT_EQ(cpu.p & tolvek::flag::I, interrupts_masked ? tolvek::flag::I : 0);

        // Stored only into the output, its own place, its pointers, the
        // port, the stack and the moved stream.
        const std::uint32_t stream_start = kStreamTop - static_cast<std::uint32_t>(pack(built.original.bytes).size());
        for (std::uint32_t address = 0; address < 0x10000; ++address) {
            const bool allowed = built.original.contains(address) || (address >= kUnpackerAddress && address < 0x0400) ||
                                 address == 1 || (address >= 0xf9 && address <= 0xfe) ||
                                 (address >= 0x0100 && address < 0x0200) || (address >= stream_start && address < kStreamTop);
            if ((bus.marks[address] & tolvek::mark::Written) && !allowed) {
                ADD_FAILURE() << "stored into $" << std::hex << address;
                break;
            }
        }
        interrupts_masked = !interrupts_masked;
    }
}

TEST(UnpackOnTheMachine, TheRunFindsTheUnpackedProgramAndTheOriginalRuns) {
    if (!have_acme()) GTEST_SKIP() << "acme is not installed";
    for (const Original& original : originals()) {
        SCOPED_TRACE(original.name);
        ScratchDir dir;
        const Built built = build(dir, original);
        ASSERT_FALSE(built.original.bytes.empty());
        const tolvek::RunResult result = tolvek::run_program(built.packed, kPackedEntry, tolvek::RunOptions{});

        ASSERT_TRUE(result.written_code.has_value()) << "no written code found";
        const tolvek::WrittenCode& code = *result.written_code;
        EXPECT_EQ(code.entry, original.entry);
        EXPECT_EQ(code.start, built.original.load);
        EXPECT_EQ(code.end, built.original.end());
        EXPECT_EQ(code.bytes, built.original.bytes) << first_difference(code.bytes, built.original.bytes, code.start);

        EXPECT_EQ(result.end, tolvek::RunEnd::ReturnedToBasic) << "ended at $" << std::hex << result.end_address;
        EXPECT_EQ(result.printed, original.printed);
    }
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
    for (const Original& original : originals()) {
        SCOPED_TRACE(original.name);
        ScratchDir dir;
        const Built built = build(dir, original);
        write_bytes(dir / "game.prg", prg_of(built.packed));
        const Result prgdis = run_in(dir.path(), path + quote(PRGDIS_EXE) + " game.prg");
        ASSERT_EQ(prgdis.status, 0) << prgdis.out << prgdis.err;
        const std::string asm_text = read_text(dir / "game.asm");
        EXPECT_NE(header_line(asm_text, "ran bytes it wrote itself at ").find(" from $" + [&] {
            char hex[8];
            std::snprintf(hex, sizeof hex, "%04x", original.entry);
            return std::string(hex);
        }()), std::string::npos) << asm_text.substr(0, 800);
        EXPECT_EQ(header_line(asm_text, "Tolvek.exe --unpack"),
                  "Tolvek.exe --unpack writes them as the program file game.unpacked.prg");

        // prgdis left no image behind; the user makes one as the README says.
        write_bytes(dir / "game.tmp", built.packed.bytes);
        const Result unpack = run_in(dir.path(), path + "Tolvek.exe -a -c6502 -o2049 -e" +
                                                     std::to_string(kPackedEntry) + " -t game.tmp --unpack");
        ASSERT_EQ(unpack.status, 0) << unpack.err;
        EXPECT_EQ(read_bytes(dir / "game.unpacked.prg"), prg_of(built.original));

        // Disassembling what was unpacked.
        const std::string starts_with_basic = header_line(asm_text, "its BASIC line calls ");
        const std::string command = header_line(asm_text, "disassemble it with: ");
        if (built.original.load != 0x0801) {  // no BASIC line to start it
            EXPECT_EQ(command, "disassemble it with: Tolvek.exe -a -c6502 -e" + std::to_string(original.entry) +
                                   " -p game.unpacked.prg");
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
