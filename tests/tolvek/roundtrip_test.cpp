// Disassemble, rebuild with the command the .asm names, compare: the source
// must give back the program file byte for byte, whatever the program
// holds, in every dialect.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <random>
#include <regex>
#include <sstream>

#include "cpu/opcodes.hpp"
#include "support.hpp"

using namespace tolvek_test;

namespace {

std::uint32_t next(std::mt19937& random) { return static_cast<std::uint32_t>(random()); }

// The test programs are written for ACME; their disassembly is checked in
// the dialect of the test's parameter.
class RoundTrip : public ::testing::TestWithParam<std::string> {
protected:
    void SetUp() override {
        if (!have_acme()) GTEST_SKIP() << "acme is not installed";
        if (!have_assembler(dialect())) GTEST_SKIP() << "the assembler for " << dialect() << " is not installed";
    }

    const std::string& dialect() const { return GetParam(); }
    std::string spelled(const Spellings& spellings) const { return tolvek_test::spelled(dialect(), spellings); }

    // Assembles the source, then checks its round trip. Returns the .asm.
    std::string check(const std::string& source, std::int64_t entry, const std::string& cpu = "6502") {
        const std::vector<std::uint8_t> prg = assemble(dir, source);
        if (prg.size() < 2) {
            ADD_FAILURE() << "acme gave no program";
            return {};
        }
        const std::uint32_t load = static_cast<std::uint32_t>(prg[0] | prg[1] << 8);
        return round_trip(dir, load, entry, {prg.begin() + 2, prg.end()}, dialect(), cpu);
    }

    ScratchDir dir;
};

// A BASIC-started program full of the usual traps.
TEST_P(RoundTrip, BasicProgramWithTraps) {
    const std::string asm_text = check(R"(
	* = $0801
	!word line2, 10
	!byte $9e
	!text "2061"
	!byte 0
line2	!word 0
start	lda+2 $0012		; absolute addressing of a zero page address
	sta+2 $00fb,x
	ldx+2 $0002,y
	ldy+2 $0003,x
	jsr sub
	jsr skip+1		; into the middle of the lda below
	lda table+3
	lda $0314
	sta $0315
	jsr $ffd2
	sta $d020
	lda $c000		; unnamed, outside the image
	lda end
	jmp cut
sub	lda #1
skip	!byte $ad		; lda $02a9: the next lda read from another start
	lda #2
	rts
table	!byte $02, $03, $a7, $ff, $9e, $80, $0b, $9b	; undocumented opcodes
	jmp ($fffc)
cut	nop
	!byte $ad, $20		; lda $xx20, cut off by the end
end
)",
                                       2061);
    // Names where names are known, hex elsewhere, label plus offset into
    // the middle of an instruction, forced absolute addressing.
    EXPECT_NE(asm_text.find("jsr CHROUT"), std::string::npos) << asm_text;
    EXPECT_NE(asm_text.find("sta CINV+1"), std::string::npos) << asm_text;
    const std::string forced = spelled({"lda+2 $0012", "lda @w $0012", "lda a:$0012", "lda.w $0012", "lda !$0012"});
    EXPECT_NE(asm_text.find(forced), std::string::npos) << asm_text;
    EXPECT_NE(asm_text.find("jsr L0839+1"), std::string::npos) << asm_text;
    EXPECT_NE(asm_text.find("lda $c000"), std::string::npos) << asm_text;
    EXPECT_NE(asm_text.find("; 10 SYS2061"), std::string::npos) << asm_text;
}

// Zero page labels, used before they are defined, and a branch from $0002
// backwards that wraps to the top of memory.
TEST_P(RoundTrip, ProgramAtZero) {
    const std::string asm_text = check(R"(
	* = $0000
	!byte $2f, $37
start	ldx #0
	bne $fff8
loop	lda+1 table,x
	sta+1 ptr
	lda+1 ptr,x
	ldx+1 ptr,y
	stx+1 ptr,y
	lda (ptr),y
	lda (ptr,x)
	lda+2 ptr
	inx
	bne loop
	jmp (ptr)
ptr	!word start
table	!byte 1, 2, 3
)",
                                       2);
    // ca65 and dasm do not wrap branch targets: they get the distance from
    // the branch.
    EXPECT_NE(asm_text.find(spelled({"bne $fff8", "bne $fff8", "bne *-12", "bne *-12", "bne $fff8"})), std::string::npos)
        << asm_text;
    const std::string zero_page = spelled({"sta+1 D0", "sta @b D0", "sta z:D0", "sta.z D0", "sta `D0"});
    EXPECT_NE(asm_text.find(zero_page), std::string::npos) << asm_text;
    // stx $12,y has no other width: none is stated (xa refuses one).
    EXPECT_NE(asm_text.find("\tstx D0"), std::string::npos) << asm_text;
}

// A program that ends at $FFFF, with a branch that wraps forward to page
// zero and an instruction cut off by the end of memory.
TEST_P(RoundTrip, ProgramEndingAtFFFF) {
    const std::string asm_text = check(R"(
	* = $ffe0
start	lda $ff00
	beq $0010
	lda $fffe
	sta $d020
	jsr $ffd2
	inc $fff0
	nop
	nop
	nop
	nop
	nop
	nop
	nop
	nop
	nop
	nop
	nop
	!byte $ad, $34
)",
                                       0xffe0);
    EXPECT_NE(asm_text.find(spelled({"beq $0010", "beq $0010", "beq *+", "beq *+", "beq $0010"})), std::string::npos)
        << asm_text;
    EXPECT_NE(asm_text.find(spelled({"!byte", ".byte", ".byte", "dc.b", ".byt"}) + " $ad,$34"), std::string::npos)
        << asm_text;
}

// A label that would be called like a known name ($6510 and the port
// register D6510 at $00).
TEST_P(RoundTrip, LabelsDoNotClashWithEquates) {
    const std::string asm_text = check(R"(
	* = $6500
	lda $00
	sta $6510
	rts
	!fill 12, $ff
	!byte 1, 2
)",
                                       0x6500);
    EXPECT_NE(asm_text.find("D6510 = $00"), std::string::npos) << asm_text;
    EXPECT_NE(asm_text.find("sta D6510_"), std::string::npos) << asm_text;
}

// Every undocumented opcode that does the same on every C64 and has a
// mnemonic, in a program traced from its start: written by the table's
// mnemonics in ACME (which must give these very bytes), disassembled into
// each dialect's spelling and rebuilt.
TEST_P(RoundTrip, EveryStableUndocumentedOpcode) {
    std::string source = "\t!cpu 6510\n\t* = $1000\n";
    std::vector<std::uint8_t> expected = {0x00, 0x10};
    for (int byte = 0; byte < 256; ++byte) {
        const tolvek::Opcode& op = tolvek::opcode(static_cast<std::uint8_t>(byte));
        if (op.standing != tolvek::Standing::Stable && op.standing != tolvek::Standing::ZeroOnly) continue;
        const bool zero = op.standing == tolvek::Standing::ZeroOnly;
        const std::map<tolvek::Mode, std::pair<std::string, std::vector<std::uint8_t>>> operands = {
            {tolvek::Mode::Immediate, {zero ? " #$00" : " #$3c", {zero ? std::uint8_t{0} : std::uint8_t{0x3c}}}},
            {tolvek::Mode::ZeroPage, {" $12", {0x12}}},
            {tolvek::Mode::ZeroPageX, {" $12,x", {0x12}}},
            {tolvek::Mode::ZeroPageY, {" $12,y", {0x12}}},
            {tolvek::Mode::IndirectX, {" ($12,x)", {0x12}}},
            {tolvek::Mode::IndirectY, {" ($12),y", {0x12}}},
            {tolvek::Mode::Absolute, {" $c234", {0x34, 0xc2}}},
            {tolvek::Mode::AbsoluteX, {" $c234,x", {0x34, 0xc2}}},
            {tolvek::Mode::AbsoluteY, {" $c234,y", {0x34, 0xc2}}},
        };
        const auto& [text, bytes] = operands.at(op.mode);
        source += "\t" + std::string(op.mnemonic) + text + "\n";
        expected.push_back(static_cast<std::uint8_t>(byte));
        expected.insert(expected.end(), bytes.begin(), bytes.end());
    }
    source += "\trts\n";
    expected.push_back(0x60);
    EXPECT_EQ(assemble(dir, source), expected) << "the table's mnemonics do not give its bytes in ACME";
    const std::string asm_text = round_trip(dir, 0x1000, 0x1000, {expected.begin() + 2, expected.end()}, dialect());
    EXPECT_NE(asm_text.find("; code: " + std::to_string(expected.size() - 2) + " bytes, data: 0 bytes"),
              std::string::npos)
        << asm_text;
    // Before the origin: the line that lets the mnemonics through (dasm's
    // "processor 6502", which it needs anyway, does), or the load address.
    const std::string origin = spelled({"\t!cpu 6510\n\t* = $1000\n", "\t.cpu \"6502i\"\n\t* = $1000\n",
                                        "\t.setcpu \"6502X\"\n\t.word $1000\n\t.org $1000\n",
                                        "\tprocessor 6502\n\torg $1000\n", "\t.word $1000\n\t* = $1000\n"});
    EXPECT_NE(asm_text.find(origin), std::string::npos) << asm_text;
    // Each assembler's names; xa knows none, so the bytes stand there.
    for (const Spellings& spellings : {
             Spellings{"\tsbx #$3c\n", "\tsbx #$3c\n", "\taxs #$3c\n", "\tsbx #$3c\n", "\t.byt $cb,$3c            ; sbx #$3c\n"},
             Spellings{"\tlxa #$00\n", "\tlxa #$00\n", "\tlax #$00\n", "\tlxa #$00\n", "\t.byt $ab,$00            ; lxa #$00\n"},
             Spellings{"\tisc $12\n", "\tisc $12\n", "\tisc $12\n", "\tisb $12\n", "\t.byt $e7,$12            ; isc $12\n"},
             Spellings{"\talr #$3c\n", "\talr #$3c\n", "\talr #$3c\n", "\tasr #$3c\n", "; alr #$3c\n"},
             Spellings{"\tlax $c234,y\n", "\tlax $c234,y\n", "\tlax $c234,y\n", "\tlax $c234,y\n",
                       "\t.byt $bf,$34,$c2        ; lax $c234,y\n"}}) {
        EXPECT_NE(asm_text.find(spelled(spellings)), std::string::npos) << spelled(spellings) << asm_text;
    }
}

// Undocumented instructions on zero page names defined further down, and
// on absolute addresses below $100.
TEST_P(RoundTrip, UndocumentedOpcodesOfEveryWidth) {
    const std::string asm_text = check(R"(
	!cpu 6510
	* = $0000
	!byte $2f, $37
start	lax+1 ptr
	sax+1 ptr
	dcp+1 ptr,x
	lax+1 ptr,y
	sax+1 ptr,y
	slo (ptr),y
	isc (ptr,x)
	lax+2 ptr,y
	rla+2 ptr,x
	nop+2 ptr
	nop+1 ptr,x
	nop #$00
	las $1234,y
	rts
ptr	!word start
)",
                                       2);
    // xa writes the bytes; its comment shows the widths as xa would.
    const std::string zero_page = spelled({"sax+1 D", "sax @b D", "sax z:D", "sax.z D", "; sax `D"});
    EXPECT_NE(asm_text.find(zero_page), std::string::npos) << asm_text;
    const std::string absolute = spelled({"lax+2 D", "lax @w D", "lax a:D", "lax.w D", "; lax !D"});
    EXPECT_NE(asm_text.find(absolute), std::string::npos) << asm_text;
}

// A raster interrupt handler with lax: traced through for the C64's 6510,
// kept from the lax on as data for the documented instruction set, which
// then needs no CPU directive.
TEST_P(RoundTrip, DocumentedInstructionSetOnly) {
    const std::string source = R"(
	!cpu 6510
	* = $0801
start	sei
	lda #<irq
	sta $0314
	lda #>irq
	sta $0315
	cli
	rts
irq	asl $d019
	lax $fe
	inx
	stx $fe
	jmp $ea31
)";
    const std::string all = check(source, 0x0801);
    EXPECT_NE(all.find(spelled({"\tlax $fe", "\tlax $fe", "\tlax $fe", "\tlax $fe", "; lax $fe"})), std::string::npos)
        << all;
    EXPECT_NE(all.find("\tjmp $ea31"), std::string::npos) << all;
    const std::string documented = check(source, 0x0801, "6502doc");
    EXPECT_NE(documented.find("\tasl VICIRQ              ; acknowledge VIC-II interrupts\n"), std::string::npos) << documented;
    EXPECT_EQ(documented.find("lax"), std::string::npos) << documented;
    EXPECT_EQ(documented.find("cpu"), std::string::npos) << documented;
}

// Real programs: the C sources of the benchmarks, compiled by cc65.
TEST_P(RoundTrip, CompiledCPrograms) {
    if (std::system("cl65 --version >/dev/null 2>&1") != 0) GTEST_SKIP() << "cc65 is not installed";
    // The coverage benchmark's programs and the speed benchmark's.
    for (const char* name : {"adventure", "calc", "sieve", "sorter", "sprites", "../programs/typical"}) {
        SCOPED_TRACE(name);
        const std::string source = std::string(BENCH_DIR) + "/" + name + ".c";
        std::filesystem::copy_file(source, dir / "program.c", std::filesystem::copy_options::overwrite_existing);
        const Result cl65 = run_in(dir.path(), "cl65 -t c64 -O -o program.prg program.c");
        ASSERT_EQ(cl65.status, 0) << cl65.err;
        const std::vector<std::uint8_t> prg = read_bytes(dir / "program.prg");
        ASSERT_GT(prg.size(), 2u);
        const std::string asm_text = round_trip(dir, 0x0801, 2061, {prg.begin() + 2, prg.end()}, dialect());
        // cc65's start-up code calls the KERNAL and ends with rts.
        EXPECT_NE(asm_text.find("; 800 SYS2061"), std::string::npos);
        EXPECT_NE(asm_text.find("\tjsr CHROUT"), std::string::npos);
    }
}

// The hand-written benchmark programs for code that programs hide: data
// after a jsr, jump tables, the expansion port and the RAM under I/O, calls
// through patched stubs. Each comes back byte for byte, with the data and
// the tables shown as such.
TEST_P(RoundTrip, HiddenCodePrograms) {
    const std::string byte = spelled({"!byte ", ".byte ", ".byte ", "dc.b ", ".byt "});
    const std::string word = spelled({"!word ", ".word ", ".word ", "dc.w ", ".word "});
    // A row of address items; dasm would read ",x_1" as indexed by x.
    const auto items = [this](const std::vector<std::string>& names) {
        std::string row;
        for (const std::string& name : names) row += (row.empty() ? "" : spelled({",", ",", ",", ", ", ","})) + name;
        return row;
    };
    // Text: xa writes PETSCII's $41-$5A as the capitals of its screen codes.
    const std::string pet = spelled({"!pet ", ".text ", ".byte ", "dv.b petscii_text ", ".byt "});
    const auto text_row = [&](std::string row) {
        if (dialect() == "xa") {
            for (char& c : row) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        }
        return pet + row;
    };
    const struct {
        const char* name;
        std::vector<std::string> shown;
    } programs[] = {
        // Fixed parameters, zero-terminated text (pla / pla and tsx), a
        // length byte and its text, each followed by the next call.
        {"inline_data",
         {"\t" + byte + "$06,$0e\n", text_row("147, \"text after a jsr\", 13, 0\n"),
          text_row("\"read through the stack\", 13, 0\n"), "\t" + byte + "$0c\n\t" + text_row("\"counted text\"\n"),
          text_row("13, \"done\", 13, 0\n") + "L085d" + spelled({"", "", ":", "", ""}) + "\n"}},
        // The rts trick's tables, interleaved and split, and tables read
        // into jmp (ptr) and into a jmp's operand.
        {"jump_tables",
         {word + items({"L0890-1", "L0894-1", "L0898-1", "L089d-1"}),
          byte + items({"<(L08a2-1)", "<(L08ab-1)", "<(L08b0-1)", "<(L08b0-1)"}),
          word + items({"L08b1", "L08b6", "L08b1", "L08b6"}), word + items({"L08be", "L08c3", "L08cc"})}},
        {"io_ranges", {"\tsta $df01\n", "\tsta $de00\n", "\tsta $d100,y\n"}},
        {"patched_stubs", {word + items({"L0872", "L087c", "L087f"}), byte + items({"<L0884", "<L088f", "<L089e"})}},
    };
    for (const auto& program : programs) {
        SCOPED_TRACE(program.name);
        const std::string source = read_text(std::string(BENCH_DIR) + "/acme/" + program.name + ".a");
        const std::string asm_text = check(source, 2061);
        for (const std::string& text : program.shown) EXPECT_NE(asm_text.find(text), std::string::npos) << text << asm_text;
    }
}

// The entry prgdis passes: the number after the last SYS token ($9E) that
// is at least the load address, spaces allowed inside it and any other
// byte ending it; the load address when there is none.
std::int64_t sys_entry(const std::vector<std::uint8_t>& image, std::uint32_t load) {
    std::int64_t entry = load, value = 0;
    bool armed = false;
    for (std::uint8_t c : image) {
        if (c == 0x9e) {
            armed = true;
            value = 0;
        } else if (!armed) {
            continue;
        } else if (c >= '0' && c <= '9') {
            value = (value * 10 + (c - '0')) & 0xffffffff;
        } else if (c != ' ') {
            if (value >= load && value < 0x80000000) entry = value;
            armed = false;
        }
    }
    return entry;
}

// Every program of the coverage benchmark, those added later included,
// comes back byte for byte from the entry that prgdis would pass.
TEST_P(RoundTrip, EveryCoverageProgram) {
    std::vector<std::filesystem::path> sources;
    for (const auto& file : std::filesystem::directory_iterator(std::string(BENCH_DIR) + "/acme"))
        if (file.path().extension() == ".a") sources.push_back(file.path());
    std::sort(sources.begin(), sources.end());
    // The eleven first ones and the four whose code only a run finds.
    ASSERT_GE(sources.size(), 15u);
    for (const char* name : {"offset_dispatch.a", "page_parts.a", "raster_chain.a", "slot_calls.a"})
        EXPECT_NE(std::find(sources.begin(), sources.end(), std::filesystem::path(BENCH_DIR) / "acme" / name),
                  sources.end())
            << name;
    for (const auto& source : sources) {
        SCOPED_TRACE(source.filename().string());
        const std::vector<std::uint8_t> prg = assemble(dir, read_text(source));
        ASSERT_GT(prg.size(), 2u);
        const auto load = static_cast<std::uint32_t>(prg[0] | prg[1] << 8);
        const std::vector<std::uint8_t> image(prg.begin() + 2, prg.end());
        round_trip(dir, load, sys_entry(image, load), image, dialect());
    }
}

TEST(SysEntry, LastSysAtOrAboveTheLoadAddress) {
    using namespace std::string_literals;
    const auto bytes = [](const std::string& text) { return std::vector<std::uint8_t>(text.begin(), text.end()); };
    EXPECT_EQ(sys_entry(bytes("\x9e" "2061\0\x9e 2 100\0"s), 0x0801), 2100);
    EXPECT_EQ(sys_entry(bytes("\x9e" "2061\0\x9e" "2000\0"s), 0x0801), 2061);
    EXPECT_EQ(sys_entry(bytes("\x9e" "2061\0\x9e(2100)\0"s), 0x0801), 2061);
    EXPECT_EQ(sys_entry(bytes("\x9e" "2061"s), 0x0801), 0x0801);  // never closed
    EXPECT_EQ(sys_entry(bytes("2061\0"s), 0xcf00), 0xcf00);
}

// What a listing row shows at an address: "code" for an instruction,
// "data" for a data row, "" when no row holds the address.
std::string kind_at(const std::string& listing, std::uint32_t address) {
    static const std::regex row("^([0-9a-f]{4})  ((?:[0-9a-f]{2} )*[0-9a-f]{2}) +(\\S.*)$");
    std::istringstream lines(listing);
    for (std::string line; std::getline(lines, line);) {
        std::smatch m;
        if (!std::regex_match(line, m, row)) continue;
        const auto first = static_cast<std::uint32_t>(std::stoul(m[1].str(), nullptr, 16));
        const auto size = static_cast<std::uint32_t>((m[2].length() + 1) / 3);
        if (address >= first && address < first + size) return m[3].str().rfind('!', 0) == 0 ? "data" : "code";
    }
    return "";
}

// Assembles bench/coverage/acme/<name>.a into <name>.prg in `dir` and
// returns ACME's labels ("name<tab>= $xxxx ..." in its list); none when
// acme fails.
std::map<std::string, std::uint32_t> assemble_coverage_program(const ScratchDir& dir, const std::string& name) {
    std::filesystem::copy_file(std::string(BENCH_DIR) + "/acme/" + name + ".a", dir / (name + ".a"),
                               std::filesystem::copy_options::overwrite_existing);
    const Result acme = run_in(dir.path(), "acme -f cbm -o " + name + ".prg -l " + name + ".labels " + name + ".a");
    EXPECT_EQ(acme.status, 0) << acme.err;
    std::map<std::string, std::uint32_t> labels;
    if (acme.status != 0) return labels;
    std::istringstream list(read_text(dir / (name + ".labels")));
    for (std::string line; std::getline(list, line);) {
        std::smatch m;
        if (std::regex_search(line, m, std::regex("^\\s*([A-Za-z_][A-Za-z0-9_]*)\\s*= \\$([0-9a-f]+)")))
            labels[m[1].str()] = static_cast<std::uint32_t>(std::stoul(m[2].str(), nullptr, 16));
    }
    return labels;
}

// Tolvek's listing of NAME.prg in `dir`, entered at 2061, with `options`.
std::string tolvek_listing(const ScratchDir& dir, const std::string& name, const std::string& options) {
    const Result tolvek =
        run_in(dir.path(), quote(TOLVEK_EXE) + " -w -c6502 -e2061 " + options + " -p " + name + ".prg");
    EXPECT_EQ(tolvek.status, 0) << tolvek.err;
    return read_text(dir / (name + ".lst"));
}

// The coverage programs whose routines are reached only through addresses
// the program computes: without the run those routines stay data, with it
// each one is shown as an instruction from its first byte.
TEST(CoveragePrograms, RoutinesReachedThroughComputedAddressesAreFoundByRunning) {
    if (!have_acme()) GTEST_SKIP() << "acme is not installed";
    const struct {
        const char* name;
        std::vector<std::string> routines;
    } programs[] = {
        {"offset_dispatch", {"do_home", "do_colour", "do_right", "do_down", "do_plot", "do_text", "do_end"}},
        {"page_parts", {"part_clear", "part_colours"}},
        {"raster_chain", {"chain_next", "irq_top", "irq_bar", "irq_bottom"}},
        {"slot_calls", {"ef_clear", "ef_colours", "ef_print", "ef_wait", "ef_bar"}},
        {"rom_calls", {"part_border", "part_background", "part_clear_line", "part_number", "part_letter"}},
    };
    ScratchDir dir;
    for (const auto& program : programs) {
        SCOPED_TRACE(program.name);
        const std::string name = program.name;
        std::map<std::string, std::uint32_t> labels = assemble_coverage_program(dir, name);
        ASSERT_FALSE(labels.empty());
        const std::string listings[] = {"--run-cycles 0", ""};
        std::string shown[2];
        for (int run = 0; run < 2; ++run) {
            const Result tolvek = run_in(dir.path(), quote(TOLVEK_EXE) + " -w -c6502 -e2061 " + listings[run] + " -p " +
                                                         name + ".prg");
            ASSERT_EQ(tolvek.status, 0) << tolvek.err;
            shown[run] = read_text(dir / (name + ".lst"));
        }
        EXPECT_NE(shown[1].find("waited in a loop"), std::string::npos) << shown[1];
        for (const std::string& routine : program.routines) {
            ASSERT_EQ(labels.count(routine), 1u) << routine;
            const std::uint32_t address = labels[routine];
            EXPECT_EQ(kind_at(shown[0], address), "data") << routine << "\n" << shown[0];
            EXPECT_EQ(kind_at(shown[1], address), "code") << routine << "\n" << shown[1];
            // An instruction starts there rather than one running into it.
            char start[8];
            std::snprintf(start, sizeof start, "\n%04x  ", address);
            EXPECT_NE(shown[1].find(start), std::string::npos) << routine << "\n" << shown[1];
        }
    }
}

// The coverage programs that start through words of their own: a vector
// the BASIC line's routine jumps through, a cartridge's start addresses
// (entry: the load address, as prgdis passes for a program without SYS).
// Without running, the routines are code and the words are data.
TEST(CoveragePrograms, StartsNamedByTheProgramsOwnWords) {
    if (!have_acme()) GTEST_SKIP() << "acme is not installed";
    const struct {
        const char* name;
        const char* entry;
        std::vector<std::string> code;
        std::vector<std::string> data;
    } programs[] = {
        {"vector_start", "2061", {"game_start", "main_loop", "clear_screen", "print_title", "wait_frame"},
         {"start_vector", "title"}},
        {"cartridge", "32768", {"cold", "warm", "loop", "delay"}, {"message"}},
    };
    ScratchDir dir;
    for (const auto& program : programs) {
        SCOPED_TRACE(program.name);
        const std::string name = program.name;
        std::map<std::string, std::uint32_t> labels = assemble_coverage_program(dir, name);
        ASSERT_FALSE(labels.empty());
        const Result tolvek = run_in(dir.path(), quote(TOLVEK_EXE) + " -w -c6502 -e" + program.entry +
                                                     " --run-cycles 0 -p " + name + ".prg");
        ASSERT_EQ(tolvek.status, 0) << tolvek.err;
        const std::string shown = read_text(dir / (name + ".lst"));
        for (const std::string& routine : program.code) {
            ASSERT_EQ(labels.count(routine), 1u) << routine;
            EXPECT_EQ(kind_at(shown, labels[routine]), "code") << routine << "\n" << shown;
        }
        for (const std::string& item : program.data) {
            ASSERT_EQ(labels.count(item), 1u) << item;
            EXPECT_EQ(kind_at(shown, labels[item]), "data") << item << "\n" << shown;
        }
    }
    // The cartridge's header: two address words and the signature.
    const std::string header = read_text(dir / "cartridge.lst");
    for (std::uint32_t a = 0x8000; a < 0x8009; ++a) EXPECT_EQ(kind_at(header, a), "data") << a << "\n" << header;
    EXPECT_NE(header.find("!word cold_start,warm_start ; entry\n"), std::string::npos) << header;
}

// Statements dispatched as BASIC does: split tables of addresses minus one,
// left through the rts of a routine that a jmp leads to (a copy in zero
// page, a routine of the program's own). Without running, the handlers
// (most start with an undocumented opcode, which no guess takes there) are
// code and the tables are data.
TEST(CoveragePrograms, StatementsDispatchedThroughAnotherRoutinesReturn) {
    if (!have_acme()) GTEST_SKIP() << "acme is not installed";
    ScratchDir dir;
    std::map<std::string, std::uint32_t> labels = assemble_coverage_program(dir, "statement_dispatch");
    ASSERT_FALSE(labels.empty());
    const std::string shown = tolvek_listing(dir, "statement_dispatch", "--run-cycles 0");
    for (const char* handler : {"st_count", "st_print", "st_apply", "st_reset", "op_plus", "op_minus", "op_halve"}) {
        ASSERT_EQ(labels.count(handler), 1u) << handler;
        char start[8];
        std::snprintf(start, sizeof start, "\n%04x  ", labels[handler]);
        EXPECT_NE(shown.find(start), std::string::npos) << handler << "\n" << shown;
        EXPECT_EQ(kind_at(shown, labels[handler]), "code") << handler << "\n" << shown;
    }
    for (const char* table : {"statements_lo", "statements_hi", "operators_lo", "operators_hi"}) {
        ASSERT_EQ(labels.count(table), 1u) << table;
        EXPECT_EQ(kind_at(shown, labels[table]), "data") << table << "\n" << shown;
    }
    char row[40];
    std::snprintf(row, sizeof row, "!byte <(L%04x-1),<(L%04x-1)", labels["op_plus"], labels["op_minus"]);
    EXPECT_NE(shown.find(row), std::string::npos) << shown;
}

// A run that slides into data because an interrupt came later than on a
// C64 (the second of a stable raster's two, after an NMI): the samples it
// ran before the halt stay data, the handlers it ran in earlier frames,
// the slide of nops before the samples included, are code, and the header
// says what was not taken.
TEST(CoveragePrograms, LateInterruptRunningIntoDataLeavesTheDataAlone) {
    if (!have_acme()) GTEST_SKIP() << "acme is not installed";
    ScratchDir dir;
    std::map<std::string, std::uint32_t> labels = assemble_coverage_program(dir, "late_interrupt");
    ASSERT_FALSE(labels.empty());
    const std::string shown = tolvek_listing(dir, "late_interrupt", "");
    ASSERT_EQ(labels.count("samples"), 1u);
    ASSERT_EQ(labels.count("irq_stable"), 1u);
    for (std::uint32_t a = labels["samples"]; a < labels["irq_stable"]; ++a) {
        EXPECT_EQ(kind_at(shown, a), "data") << a << "\n" << shown;
    }
    for (const char* code : {"irq_wait", "irq_stable", "nmi", "set_irq", "wait_key"}) {
        ASSERT_EQ(labels.count(code), 1u) << code;
        EXPECT_EQ(kind_at(shown, labels[code]), "code") << code << "\n" << shown;
    }
    EXPECT_EQ(kind_at(shown, labels["samples"] - 1), "code") << shown;  // the slide's last nop
    EXPECT_NE(shown.find("; run from $080d: ended at a halting opcode at $"), std::string::npos) << shown;
    EXPECT_NE(shown.find(" it ran just before the halt, at $"), std::string::npos) << shown;
}

// Guesses weigh what their instructions say. Routines reached only through
// a list read through a pointer, with operands on zero page written
// absolute, are code, with the run and without; the rows of a tile map
// (bytes $60 and $40, which decode as rts and rti) between routines stay
// data, though a table of row addresses that code reads leads there.
TEST(CoveragePrograms, GuessesWeighWhatTheInstructionsSay) {
    if (!have_acme()) GTEST_SKIP() << "acme is not installed";
    const struct {
        const char* name;
        const char* kind;
        std::vector<std::string> labels;
        std::uint32_t bytes;  // from each label on
    } programs[] = {
        {"absolute_zero_page", "code", {"fill_shades", "show_shades", "count_frame"}, 1},
        {"tile_map", "data", {"map0", "map1", "map2", "map3", "map4"}, 8},
    };
    ScratchDir dir;
    for (const auto& program : programs) {
        SCOPED_TRACE(program.name);
        std::map<std::string, std::uint32_t> labels = assemble_coverage_program(dir, program.name);
        ASSERT_FALSE(labels.empty());
        for (const char* options : {"--run-cycles 0", ""}) {
            const std::string shown = tolvek_listing(dir, program.name, options);
            for (const std::string& label : program.labels) {
                ASSERT_EQ(labels.count(label), 1u) << label;
                for (std::uint32_t i = 0; i < program.bytes; ++i) {
                    EXPECT_EQ(kind_at(shown, labels[label] + i), program.kind) << label << "+" << i << "\n" << shown;
                }
            }
        }
    }
}

// Text after a jsr read by routines that return past it with a jump: each
// text stays data and the code after it is traced, without the run.
TEST(CoveragePrograms, InlineDataReturnedThroughAJump) {
    if (!have_acme()) GTEST_SKIP() << "acme is not installed";
    ScratchDir dir;
    std::map<std::string, std::uint32_t> labels = assemble_coverage_program(dir, "inline_jmp_return");
    const Result tolvek =
        run_in(dir.path(), quote(TOLVEK_EXE) + " -w -c6502 -e2061 --run-cycles 0 -p inline_jmp_return.prg");
    ASSERT_EQ(tolvek.status, 0) << tolvek.err;
    const std::string listing = read_text(dir / "inline_jmp_return.lst");
    // The texts after the jsr at start, at start + 39 and at start + 73.
    for (const std::uint32_t text : {labels["start"] + 3, labels["start"] + 42, labels["start"] + 76})
        EXPECT_EQ(kind_at(listing, text), "data") << std::hex << text << "\n" << listing;
    for (const char* routine : {"colours", "count_down"}) {
        char start[8];
        std::snprintf(start, sizeof start, "\n%04x  ", labels[routine]);
        EXPECT_NE(listing.find(start), std::string::npos) << routine << "\n" << listing;
        EXPECT_EQ(kind_at(listing, labels[routine]), "code") << routine << "\n" << listing;
    }
}

// Speedcode the program writes and calls each frame is generated code: the
// header says so and that it was called, and there is nothing to unpack.
TEST(CoveragePrograms, SpeedcodeIsGeneratedNotUnpacked) {
    if (!have_acme()) GTEST_SKIP() << "acme is not installed";
    ScratchDir dir;
    std::map<std::string, std::uint32_t> labels = assemble_coverage_program(dir, "speedcode");
    const std::string tolvek = quote(TOLVEK_EXE) + " -w -c6502 -e2061 -p speedcode.prg";
    const Result unpack = run_in(dir.path(), tolvek + " --unpack");
    EXPECT_EQ(unpack.status, 1);
    EXPECT_NE(unpack.err.find("nothing to unpack"), std::string::npos) << unpack.err;
    const Result listed = run_in(dir.path(), tolvek);
    ASSERT_EQ(listed.status, 0) << listed.err;
    const std::string listing = read_text(dir / "speedcode.lst");
    EXPECT_EQ(listing.find("unpack"), std::string::npos) << listing;
    char generated[80];
    std::snprintf(generated, sizeof generated, "; ran code it wrote at $c000-$c258 (generated, called from $%04x)\n",
                  labels["frame"] + 8);
    EXPECT_NE(listing.find(generated), std::string::npos) << generated << listing;
}

// Random bytes at several load addresses, traced from random entries; and
// all of memory, mostly documented opcodes so that long stretches are code.
TEST_P(RoundTrip, RandomImages) {
    std::mt19937 random(6502);
    const std::uint32_t loads[] = {0x0000, 0x0801, 0x1000, 0x7ff3, 0xc000, 0xfc00};
    for (std::uint32_t load : loads) {
        const std::uint32_t size = std::min<std::uint32_t>(0x10000 - load, 1000 + next(random) % 3000);
        std::vector<std::uint8_t> image(size);
        for (auto& byte : image) byte = static_cast<std::uint8_t>(next(random));
        SCOPED_TRACE("load " + std::to_string(load));
        round_trip(dir, load, load + next(random) % size, image, dialect());
    }
    std::vector<std::uint8_t> memory(0x10000);
    for (auto& byte : memory) byte = static_cast<std::uint8_t>(next(random) % 4 == 0 ? next(random) : 0xea - (next(random) % 2) * 0x3a);
    if (dialect() != "xa") {
        round_trip(dir, 0, 0x1234, memory, dialect());
        return;
    }
    // Some 40,000 statements are more than xa holds (see XaSource below):
    // the header says so instead of giving a command that fails.
    write_bytes(dir / "image.tmp", memory);
    const Result tolvek = run_in(dir.path(), quote(TOLVEK_EXE) + " -a -c6502 -o0 -e4660 -t image.tmp -sxa");
    ASSERT_EQ(tolvek.status, 0) << tolvek.err;
    EXPECT_NE(read_text(dir / "image.asm").find("; rebuild with xa: none, as xa holds at most 199900 bytes"),
              std::string::npos);
}

// xa keeps all statements of a source in a buffer of fixed size. A source
// that fits in the room the dialect counts on rebuilds; one that does not
// gets no command, and xa indeed runs out of memory on it. The counts lie
// near the edge on either side: a nop is a statement of one byte.
TEST(XaSource, StatementsBeyondWhatXaHoldsGetNoCommand) {
    if (!have_assembler("xa")) GTEST_SKIP() << "xa is not installed";
    ScratchDir dir;
    const auto sled = [](std::size_t nops) {
        std::vector<std::uint8_t> image(nops, 0xea);
        image.push_back(0x60);  // rts
        return image;
    };
    const std::string fits = round_trip(dir, 0x1000, 0x1000, sled(33300), "xa");
    EXPECT_NE(fits.find("; rebuild with xa: xa -M -O PETSCREEN -o image-rebuilt.prg image.asm\n"), std::string::npos);

    write_bytes(dir / "image.tmp", sled(33340));
    const Result tolvek = run_in(dir.path(), quote(TOLVEK_EXE) + " -a -c6502 -o4096 -e4096 -t image.tmp -sxa");
    ASSERT_EQ(tolvek.status, 0) << tolvek.err;
    const std::string source = read_text(dir / "image.asm");
    EXPECT_NE(source.find("; rebuild with xa: none, as xa holds at most 199900 bytes of statements and this source "
                          "needs 200058; another dialect has no such limit\n"),
              std::string::npos)
        << source.substr(0, 600);
    const Result xa = run_in(dir.path(), "xa -M -O PETSCREEN -o image-rebuilt.prg image.asm");
    EXPECT_NE(xa.status, 0);
    EXPECT_NE(xa.err.find("Out of memory"), std::string::npos) << xa.err.substr(0, 300);
}

INSTANTIATE_TEST_SUITE_P(Dialects, RoundTrip, ::testing::ValuesIn(kDialectNames),
                         [](const ::testing::TestParamInfo<std::string>& param) { return test_name(param.param); });

}  // namespace
