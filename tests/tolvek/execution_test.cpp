// What running the program adds to the analysis and the output: code only
// a run reaches, the ways branches did not take, patched instructions,
// copied code, how each run ended, and what a packed program unpacked.
#include <gtest/gtest.h>

#include <algorithm>

#include "analysis/analyse.hpp"
#include "output/listing.hpp"
#include "support.hpp"

using namespace tolvek;
using namespace tolvek_test;

namespace {

// The map and the listing refer to the image, which stays where it is.
struct Analysed {
    explicit Analysed(Image bytes, const AnalysisOptions& options)
        : image(std::move(bytes)),
          map(analyse(image, options)),
          listing(build_listing(map, {"game.tmp", "game.unpacked.prg", "game.unpacked.asm", "Tolvek.exe --unpack"})) {}
    const Image image;
    const MemoryMap map;
    const Listing listing;
};

// Assembles `body` at $0801 after a BASIC line "SYS 2061" and analyses it
// with the run (budget 0: without).
std::unique_ptr<Analysed> analysed(const ScratchDir& dir, const std::string& body, std::uint64_t budget = 2'000'000) {
    const std::vector<std::uint8_t> prg =
        assemble(dir, "\t* = $0801\n\t!word +, 10\n\t!byte $9e\n\t!text \"2061\"\n\t!byte 0\n+\t!word 0\n" + body);
    RunOptions run;
    run.budget = budget;
    run.patience = patience_for(budget);
    return std::make_unique<Analysed>(make_image(0x0801, {prg.begin() + 2, prg.end()}),
                                      AnalysisOptions{.entry = 2061, .run = run});
}

bool has_header(const Listing& listing, const std::string& line) {
    return std::find(listing.header.begin(), listing.header.end(), line) != listing.header.end();
}

std::string headers(const Listing& listing) {
    std::string all;
    for (const std::string& line : listing.header) all += line + "\n";
    return all;
}

const Row* row_at(const Listing& listing, std::uint32_t address) {
    for (const Row& row : listing.rows) {
        if (row.address == address) return &row;
    }
    return nullptr;
}

// A dispatcher that adds an offset to a base: no pattern follows it, the
// run does. The routine's branch that did not run is traced from there.
const char* kDispatch = R"(
ptr = $fb
	ldx #0
-	lda offsets,x
	clc
	adc #<base
	sta ptr
	lda #>base
	adc #0
	sta ptr+1
	jsr call
	inx
	cpx #2
	bne -
	rts
call	jmp (ptr)
offsets	!byte first - base, second - base
base	!fill $0840 - *, $ff
first	lda #1		; $0840
	bne +
	lda #2		; never runs: traced from the branch
+	rts
second	ldy #3
	rts
)";

TEST(Execution, CodeOnlyARunReachesIsCodeThatRan) {
    if (!have_acme()) GTEST_SKIP() << "acme is not installed";
    ScratchDir dir;
    const auto with_run = analysed(dir, kDispatch);
    const auto without = analysed(dir, kDispatch, 0);
    const std::uint32_t first = 0x0840;
    ASSERT_EQ(with_run->image.at(first), 0xa9);
    EXPECT_EQ(without->map.kind(first), Kind::Unknown);
    EXPECT_EQ(with_run->map.kind(first), Kind::Opcode);
    EXPECT_TRUE(with_run->map.was_entered(first));
    EXPECT_EQ(listed_at(with_run->map, first), "L0840: lda #$01");
    // lda #2 after the bne never ran, but the branch's other way is traced.
    EXPECT_EQ(with_run->map.kind(first + 4), Kind::Opcode);
    EXPECT_EQ(listed_at(with_run->map, first + 4), "lda #$02");
    // The second routine ran too; the three filler bytes did not.
    EXPECT_TRUE(with_run->map.was_entered(first + 7));
    EXPECT_EQ(listed_at(with_run->map, first + 7), "L0847: ldy #$03");
    EXPECT_FALSE(is_instruction(with_run->map.kind(first - 3))) << headers(with_run->listing);
    // The entry's own code ran, and says so.
    EXPECT_EQ(listed_at(with_run->map, 0x080d), "entry: ldx #$00");
    EXPECT_TRUE(has_header(with_run->listing, "run from $080d: returned to BASIC after " +
                                                  std::to_string(with_run->map.run.runs.at(0).cycles) + " cycles"))
        << headers(with_run->listing);
    EXPECT_TRUE(without->map.run.runs.empty());
}

// A run that halts in RAM has gone wrong. What it ran just before the halt
// and nothing else found is not code: the bytes the computed jump runs on
// into (inx / iny / jam), and the loop before them when it first ran just
// before (one round of Y); a loop that ran for longer (forty rounds: two
// frames) has shown itself before. A halt right after known code doubts
// nothing.
TEST(Execution, WhatRanJustBeforeAHaltInDataIsNotCode) {
    if (!have_acme()) GTEST_SKIP() << "acme is not installed";
    const auto program = [](int rounds) {
        return R"(
ptr = $fb
	lda #<base
	clc
	adc offset
	sta ptr
	lda #>base
	adc #0
	sta ptr+1
	jmp (ptr)
offset	!byte spin - base
base	!byte $ff, $ff
spin	ldy #)" + std::to_string(rounds) + R"(
-	dex
	bne -
	dey
	bne -
	!byte $e8, $c8, $02
)";
    };
    ScratchDir dir;
    const std::uint32_t spin = 0x0821;
    const std::uint32_t data = spin + 8;
    const auto long_loop = analysed(dir, program(40));
    ASSERT_EQ(long_loop->image.at(data), 0xe8);
    EXPECT_EQ(long_loop->map.kind(spin), Kind::Opcode) << headers(long_loop->listing);
    EXPECT_EQ(long_loop->map.kind(data - 2), Kind::Opcode);
    EXPECT_FALSE(is_instruction(long_loop->map.kind(data)));
    EXPECT_FALSE(is_instruction(long_loop->map.kind(data + 1)));
    EXPECT_FALSE(long_loop->map.was_entered(data));
    EXPECT_TRUE(has_header(long_loop->listing, "the 2 instructions it ran just before the halt, at $0829-$082a, "
                                               "are not taken for code: nothing else found them"))
        << headers(long_loop->listing);
    const auto short_loop = analysed(dir, program(1));
    for (std::uint32_t a = spin; a < data + 2; ++a) EXPECT_FALSE(is_instruction(short_loop->map.kind(a))) << a;
    EXPECT_TRUE(has_header(short_loop->listing, "the 7 instructions it ran just before the halt, at $0821-$082a, "
                                                "are not taken for code: nothing else found them"))
        << headers(short_loop->listing);
    const auto known = analysed(dir, "\tnop\n\t!byte $02\n");
    EXPECT_EQ(known->map.kind(0x080d), Kind::Opcode);
    EXPECT_EQ(headers(known->listing).find("just before the halt"), std::string::npos) << headers(known->listing);
}

// What another run confirmed stays code: the first SYS runs the routine
// (reached through a computed address) and returns; the second runs it
// with another X, which sends it into data. The second run's halt doubts
// only the data, where alone it would doubt the routine too.
TEST(Execution, WhatAnotherRunRanBeforeAHaltStaysCode) {
    if (!have_acme()) GTEST_SKIP() << "acme is not installed";
    ScratchDir dir;
    const auto program = [&](bool first_runs) {
        const std::string sys = first_runs ? "2080" : "2090";
        const std::vector<std::uint8_t> prg = assemble(dir, R"(
ptr = $fb
	* = $0801
	!word l2, 10
	!byte $9e
	!text ")" + sys + R"("
	!byte 0
l2	!word l3, 20
	!byte $9e
	!text "2090"
	!byte 0
l3	!word 0
	!fill 2080 - *, 0
	ldx #0		; 2080
	beq go
	!fill 2090 - *, 0
	ldx #1		; 2090
go	lda #<base
	clc
	adc #1
	sta ptr
	lda #>base
	adc #0
	sta ptr+1
	jmp (ptr)
base	!byte $ff
routine	cpx #1		; $083d
	beq +
	rts
+	!byte $e8, $02
)");
        RunOptions run;
        run.budget = 100'000;
        run.patience = patience_for(run.budget);
        return std::make_unique<Analysed>(make_image(0x0801, {prg.begin() + 2, prg.end()}),
                                          AnalysisOptions{.entry = 0x0801, .run = run});
    };
    const auto both = program(true);
    const auto second_alone = program(false);
    const std::uint32_t routine = 0x083d;
    ASSERT_EQ(both->image.at(routine), 0xe0) << headers(both->listing);
    EXPECT_EQ(both->map.kind(routine), Kind::Opcode) << headers(both->listing);
    EXPECT_EQ(both->map.kind(routine + 2), Kind::Opcode) << headers(both->listing);
    EXPECT_FALSE(is_instruction(both->map.kind(routine + 5))) << headers(both->listing);
    EXPECT_TRUE(has_header(both->listing, "the 1 instruction it ran just before the halt, at $0842-$0842, is not "
                                          "taken for code: nothing else found them"))
        << headers(both->listing);
    EXPECT_FALSE(is_instruction(second_alone->map.kind(routine))) << headers(second_alone->listing);
    EXPECT_TRUE(has_header(second_alone->listing, "the 3 instructions it ran just before the halt, at $083d-$0840, "
                                                  "$0842-$0842, are not taken for code: nothing else found them"))
        << headers(second_alone->listing);
}

TEST(Execution, PatchedInstructionsSayWhoChangesThem) {
    if (!have_acme()) GTEST_SKIP() << "acme is not installed";
    ScratchDir dir;
    const auto result = analysed(dir, R"(
	lda #<target
	sta patch+1	; $080f
	lda #>target
	sta patch+2	; $0814
patch	jsr $0000	; $0817
	rts
target	rts
)");
    const Row* patch = row_at(result->listing, 0x0817);
    ASSERT_NE(patch, nullptr);
    EXPECT_EQ(patch->comment, "changed by $080f when run");
    EXPECT_EQ(result->map.run.patched_code.at(0x0818), 0x080f);
    EXPECT_EQ(result->map.run.patched_code.at(0x0819), 0x0814);
    EXPECT_FALSE(result->map.run.patched_code.contains(0x0817));
}

TEST(Execution, CodeCopiedElsewhereIsNamedWithWhereItRan) {
    if (!have_acme()) GTEST_SKIP() << "acme is not installed";
    ScratchDir dir;
    const auto result = analysed(dir, R"(
	ldx #routine_end - routine - 1
-	lda routine,x
	sta $c000,x
	dex
	bpl -
	jsr $c000
	jsr $c000
	rts
routine	inc $d020	; at $081f, runs at $c000
	dec $d020
	nop
	rts
routine_end
)");
    EXPECT_TRUE(has_header(result->listing, "ran code it wrote at $c000-$c007, a copy of $081f-$0826"))
        << headers(result->listing);
    const Row* copied = row_at(result->listing, 0x081f);
    ASSERT_NE(copied, nullptr);
    EXPECT_EQ(copied->comment, "copied to $c000 and run there; border colour");
    EXPECT_FALSE(result->map.run.unpacked.has_value() && result->map.run.unpacked->start == 0x0801);
}

// Writes `rows` times "sta $0400+n" and an rts at $c000 (the code at
// $080d-$082b), then runs `use`.
std::string speedcode(int rows, const std::string& use) {
    return R"(
	ldx #0
	ldy #0
-	lda #$8d	; sta absolute
	sta $c000,y
	txa
	sta $c001,y
	lda #$04
	sta $c002,y
	iny
	iny
	iny
	inx
	cpx #)" + std::to_string(rows) + R"(
	bne -
	lda #$60	; rts
	sta $c000,y
)" + use;
}

// Code the program writes and calls, and that returns to the call, is
// generated code, not an unpacker's work: said as such, and nothing to
// unpack. Jumped into and never left, it is what a program unpacked, also
// when a jsr led there.
TEST(Execution, GeneratedCodeThatReturnsIsNotUnpacked) {
    if (!have_acme()) GTEST_SKIP() << "acme is not installed";
    ScratchDir dir;
    const auto called = analysed(dir, speedcode(40, "\tlda #1\n\tjsr $c000\n\tlda #2\n\tjsr $c000\n\trts\n"));
    EXPECT_TRUE(has_header(called->listing, "ran code it wrote at $c000-$c078 (generated, called from $082e)"))
        << headers(called->listing);
    EXPECT_FALSE(called->map.run.unpacked.has_value()) << headers(called->listing);
    for (const std::string& line : called->listing.header) EXPECT_EQ(line.find("unpack"), std::string::npos) << line;
    ASSERT_EQ(called->map.run.copied_code.size(), 1u);
    EXPECT_EQ(called->map.run.copied_code[0].called_from, 0x082e);

    // The last store replaced by a jmp to itself: the call never comes back.
    const auto stays = analysed(dir, speedcode(40, R"(
	lda #$4c	; jmp $c075
	sta $c075
	lda #$75
	sta $c076
	lda #$c0
	sta $c077
	jsr $c000
	rts
)"));
    ASSERT_TRUE(stays->map.run.unpacked.has_value()) << headers(stays->listing);
    EXPECT_EQ(stays->map.run.unpacked->start, 0xc000);
    EXPECT_TRUE(stays->map.run.copied_code.empty() || !stays->map.run.copied_code[0].called_from.has_value());
}

TEST(Execution, EachWayARunEndsIsSaid) {
    if (!have_acme()) GTEST_SKIP() << "acme is not installed";
    struct Case {
        const char* body;
        const char* says;
    };
    const Case cases[] = {
        {"-\tjsr $ffe4\n\tbeq -\n\trts\n", "run from $080d: waited in a loop at $080d after "},
        {"\tnop\n\t!byte $02\n", "run from $080d: ended at a halting opcode at $080e after "},
        {"\tjmp $b000\n", "run from $080d: jumped into ROM at $b000, where Tolvek has no stand-in after "},
        {"-\tinc $c000\n\tjmp -\n", "run from $080d: still running at $"},
        // Stores into a new byte all the time, page after page from $2000.
        {"\tlda #$20\n\tsta $fc\n\tldy #0\n\tsty $fb\n-\tsta ($fb),y\n\tiny\n\tbne -\n\tinc $fc\n\tjmp -\n",
         "run from $080d: still running when its budget ran out after "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.body);
        ScratchDir dir;
        const auto result = analysed(dir, c.body, 20'000);
        const std::string all = headers(result->listing);
        EXPECT_NE(all.find(c.says), std::string::npos) << all;
    }
}

TEST(Execution, CallsIntoRomWithoutStandInAreNamedOnceInAddressOrder) {
    if (!have_acme()) GTEST_SKIP() << "acme is not installed";
    ScratchDir dir;
    const auto result = analysed(dir, "\tjsr $e8ea\n\tjsr $b7f7\n\tjsr $e8ea\n\tjsr $ffd2\n\trts\n");
    EXPECT_TRUE(has_header(result->listing, "run called ROM at $b7f7, $e8ea, where Tolvek has no stand-in: went on as if "
                                            "each returned at once, registers and flags unchanged"))
        << headers(result->listing);
    EXPECT_NE(headers(result->listing).find("run from $080d: returned to BASIC after "), std::string::npos)
        << headers(result->listing);
    const auto once = analysed(dir, "\tjsr $e8ea\n\trts\n");
    EXPECT_TRUE(has_header(once->listing, "run called ROM at $e8ea, where Tolvek has no stand-in: went on as if it "
                                          "returned at once, registers and flags unchanged"))
        << headers(once->listing);
    // Without the run, nothing is said.
    const auto unrun = analysed(dir, "\tjsr $e8ea\n\trts\n", 0);
    EXPECT_EQ(headers(unrun->listing).find("run called"), std::string::npos) << headers(unrun->listing);
}

TEST(Execution, EverySysEntryRunsAndEntriesInBasicDoNot) {
    if (!have_acme()) GTEST_SKIP() << "acme is not installed";
    ScratchDir dir;
    // Two BASIC lines: SYS 2080 and SYS 2090, the given entry in BASIC.
    const std::vector<std::uint8_t> prg = assemble(dir, R"(
	* = $0801
	!word l2, 10
	!byte $9e
	!text "2080"
	!byte 0
l2	!word l3, 20
	!byte $9e
	!text "2090"
	!byte 0
l3	!word 0
	!fill 2080 - *, 0
	lda #1
	rts
	!fill 2090 - *, 0
	lda #2
	rts
)");
    const Image image = make_image(0x0801, {prg.begin() + 2, prg.end()});
    RunOptions run;
    run.budget = 100'000;
    const MemoryMap map = analyse(image, {.entry = 0x0801, .run = run});
    ASSERT_EQ(map.run.runs.size(), 2u);
    EXPECT_EQ(map.run.runs[0].entry, 2080);
    EXPECT_EQ(map.run.runs[1].entry, 2090);
    EXPECT_EQ(listed_at(map, 2090), "sys_line_20: lda #$02");
}

// The entry given lies in the data after the BASIC program (the digits
// after a SYS token in a packed program's data made it): the runs start
// from the program's SYS, as after RUN, and the entry is traced only when
// it decodes as code. An entry its SYS calls, or one after a program
// without a SYS into the image, runs as before.
TEST(Execution, AnEntryInTheDataAfterBasicGivesWayToItsSys) {
    if (!have_acme()) GTEST_SKIP() << "acme is not installed";
    ScratchDir dir;
    const std::string body = R"(
	lda #1
	sta $c000
	rts
	!fill 2304 - *, 0
	!byte $02, $9e, $32, $33, $30, $34, $ff, $12, $00, $80
	!fill 2336 - *, 0
	ldx #3
-	dex
	bne -
	stx $c001
	rts
)";
    struct Case {
        std::int64_t entry;
        std::uint16_t first_run;
        bool replaced;
        bool entry_is_code;
        const char* says;  // in the entry's header line
    };
    const Case cases[] = {
        {2304, 0x080d, true, false,
         "entry address: $0900 (2304) lies after the BASIC program, whose SYS in line 10 calls $080d: run from there, as "
         "after RUN; the entry does not decode as code and is not traced"},
        {2336, 0x080d, true, true,
         "entry address: $0920 (2336) lies after the BASIC program, whose SYS in line 10 calls $080d: run from there, as "
         "after RUN; code traced from the entry too"},
        {2061, 0x080d, false, true, "entry address: $080d (2061)"},
    };
    const std::vector<std::uint8_t> prg =
        assemble(dir, "\t* = $0801\n\t!word +, 10\n\t!byte $9e\n\t!text \"2061\"\n\t!byte 0\n+\t!word 0\n" + body);
    const Image image = make_image(0x0801, {prg.begin() + 2, prg.end()});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.entry);
        RunOptions run;
        run.budget = 100'000;
        run.patience = patience_for(run.budget);
        const Analysed result(image, {.entry = c.entry, .run = run});
        ASSERT_FALSE(result.map.run.runs.empty());
        EXPECT_EQ(result.map.run.runs[0].entry, c.first_run);
        EXPECT_EQ(result.map.run.runs[0].end, RunEnd::ReturnedToBasic);
        EXPECT_EQ(result.map.start.run_from_sys.has_value(), c.replaced);
        EXPECT_EQ(result.map.is_opcode(static_cast<std::uint32_t>(c.entry)), c.entry_is_code);
        EXPECT_TRUE(has_header(result.listing, c.says)) << headers(result.listing);
    }

    // Without a SYS into the image, the entry after the BASIC line runs.
    const std::vector<std::uint8_t> rem =
        assemble(dir, "\t* = $0801\n\t!word +, 10\n\t!byte $8f\n\t!text \"HI\"\n\t!byte 0\n+\t!word 0\n" + body);
    RunOptions run;
    run.budget = 100'000;
    const Analysed plain(make_image(0x0801, {rem.begin() + 2, rem.end()}), {.entry = 2336, .run = run});
    ASSERT_FALSE(plain.map.run.runs.empty());
    EXPECT_EQ(plain.map.run.runs[0].entry, 2336);
    EXPECT_FALSE(plain.map.start.run_from_sys.has_value());
}

// A program that writes bytes, jumps to them and halts there ran into data
// of its own making: nothing was unpacked, and nothing says so.
TEST(Execution, AHaltInTheBytesItWroteIsNoUnpacking) {
    if (!have_acme()) GTEST_SKIP() << "acme is not installed";
    ScratchDir dir;
    const auto halts = analysed(dir, R"(
	ldx #0
	lda #$ea	; nop
-	sta $c000,x
	inx
	bne -
	lda #$02	; and a halt
	sta $c0f0
	jmp $c000
)");
    EXPECT_EQ(halts->map.run.runs.at(0).end, RunEnd::Halted);
    EXPECT_FALSE(halts->map.run.unpacked.has_value()) << headers(halts->listing);
    EXPECT_EQ(headers(halts->listing).find("unpacker"), std::string::npos) << headers(halts->listing);
}

}  // namespace

namespace {

// A table of handlers copied into RAM before an interrupt-like dispatch
// jumps through a pointer filled from the copy: the image's bytes the run
// took the address from are its halves, and where it leads is code.
TEST(Execution, TablesCopiedBeforeTheJumpAreAddresses) {
    const Image image = tolvek_test::make_image(0xc000, {
        0xa2, 0x01,              // ldx #1
        0xbd, 0x30, 0xc0,        // lda lo,x
        0x9d, 0x40, 0x03,        // sta $0340,x
        0xbd, 0x32, 0xc0,        // lda hi,x
        0x9d, 0x42, 0x03,        // sta $0342,x
        0xca, 0x10, 0xf1,        // dex / bpl
        0xa2, 0x00,              // ldx #0
        0xbd, 0x40, 0x03,        // lda $0340,x
        0x85, 0x08,              // sta $08
        0xbd, 0x42, 0x03,        // lda $0342,x
        0x85, 0x09,              // sta $09
        0x6c, 0x08, 0x00,        // jmp ($0008)
        0xee, 0x20, 0xd0, 0x60,  // $c020: inc $d020 / rts
        0xee, 0x21, 0xd0, 0x60,  // $c024: inc $d021 / rts
        0, 0, 0, 0, 0, 0, 0, 0,
        0x20, 0x24,              // $c030: the low halves
        0xc0, 0xc0});            // $c032: the high halves
    const MemoryMap map = analyse(image, {.entry = 0xc000, .guesses = false, .run = {.budget = 100000}});
    EXPECT_EQ(tolvek_test::listed_at(map, 0xc020), "Lc020: inc EXTCOL");
    EXPECT_EQ(map.kind(0xc030), Kind::Low);
    EXPECT_EQ(map.kind(0xc032), Kind::High);
    EXPECT_EQ(map.target(0xc030), 0xc020u);
}

}  // namespace

namespace {

// A program reached through a computed address calls a routine that waits
// for a key; the run ends inside the call. What follows the call is code
// as surely as after any call that returns.
TEST(Execution, CodeAfterACallTheRunEndedInIsTraced) {
    std::vector<std::uint8_t> bytes(0x38, 0x00);
    const auto put = [&](std::uint32_t address, std::initializer_list<std::uint8_t> code) {
        std::copy(code.begin(), code.end(), bytes.begin() + (address - 0xc000));
    };
    put(0xc000, {0xa9, 0x20, 0x85, 0x02,               // lda #$20 / sta $02
                 0xa9, 0xbf, 0x18, 0x69, 0x01, 0x85, 0x03,  // lda #$bf / clc / adc #1 / sta $03
                 0x6c, 0x02, 0x00});                   // jmp ($0002): to $c020
    put(0xc020, {0x20, 0x30, 0xc0,                     // jsr wait
                 0xee, 0x20, 0xd0, 0x60});             // inc $d020 / rts
    put(0xc030, {0xad, 0x01, 0xdc, 0xc9, 0xef, 0xd0, 0xf9, 0x60});  // wait: lda $dc01 / cmp #$ef / bne wait / rts
    const Image image = tolvek_test::make_image(0xc000, bytes);
    const MemoryMap map = analyse(image, {.entry = 0xc000, .guesses = false, .run = {.budget = 200000}});
    ASSERT_EQ(map.run.runs.size(), 1u);
    EXPECT_EQ(map.run.runs.front().end, RunEnd::Waited);
    EXPECT_EQ(tolvek_test::listed_at(map, 0xc020), "Lc020: jsr wait_loop") << "the run waited there";
    EXPECT_EQ(tolvek_test::listed_at(map, 0xc023), "inc EXTCOL");
    EXPECT_EQ(tolvek_test::listed_at(map, 0xc026), "rts");
}

}  // namespace

namespace {

// A reader copied into zero page (as BASIC copies CHRGET) and called there:
// its bytes in the image are code, also the part whose operand the program
// patches after the copy and the instruction that never ran.
TEST(Execution, CodeCopiedIntoZeroPageIsCodeInTheImage) {
    ScratchDir dir;
    const auto result = analysed(dir, R"(
        ldx #reader_end - reader_code - 1
-       lda reader_code,x
        sta $73,x
        dex
        bpl -
        lda #<(text - 1)
        sta $7a
        lda #>(text - 1)
        sta $7b
-       jsr $73
        beq +
        sta $0400
        jmp -
+       rts
text    !byte 1, 2, 3, 0
reader_code
        !pseudopc $73 {
        inc $7a
        bne +
        inc $7b
+       lda $ffff
        rts
        }
reader_end
)");
    const MemoryMap& map = result->map;
    const std::uint32_t reader = result->image.end() - 10;
    // The statement, without the label a branch gives the row.
    const auto statement = [&](std::uint32_t address) {
        const std::string row = tolvek_test::listed_at(map, address);
        const std::size_t colon = row.find(": ");
        return colon == std::string::npos ? row : row.substr(colon + 2);
    };
    EXPECT_EQ(statement(reader), "inc $7a");
    EXPECT_EQ(statement(reader + 4), "inc $7b");  // never ran: the text ends before a page does
    EXPECT_TRUE(map.is_opcode(reader + 6));        // lda, whose operand the program sets
    EXPECT_EQ(statement(reader + 9), "rts");
}

}  // namespace
