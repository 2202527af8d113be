// Keys and joysticks pressed where a program waits for them: the code that
// only an input leads to is found and named in the header, every try starts
// from the moment of the wait, and the tries keep to the budget.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>

#include "analysis/analyse.hpp"
#include "emu/explore.hpp"
#include "emu/run.hpp"
#include "output/listing.hpp"
#include "support.hpp"

using namespace tolvek;
using namespace tolvek_test;

namespace {

// ACME source after a BASIC line "SYS 2061", as a program file.
std::vector<std::uint8_t> program(const ScratchDir& dir, const std::string& body) {
    return assemble(dir, "\t* = $0801\n\t!word +, 10\n\t!byte $9e\n\t!text \"2061\"\n\t!byte 0\n+\t!word 0\n" + body);
}

Image image_of(const std::vector<std::uint8_t>& prg) { return make_image(0x0801, {prg.begin() + 2, prg.end()}); }

RunOptions options(std::uint64_t budget, bool press = true) {
    return {.budget = budget, .patience = patience_for(budget), .press_inputs = press};
}

RunResult run(const ScratchDir& dir, const std::string& body, const RunOptions& how) {
    return run_program(image_of(program(dir, body)), 2061, how);
}

// The map and the listing refer to the image, which stays where it is.
struct Analysed {
    Analysed(Image bytes, const RunOptions& how)
        : image(std::move(bytes)),
          map(analyse(image, AnalysisOptions{.entry = 2061, .run = how})),
          listing(build_listing(map, {"game.tmp", "game.unpacked.prg", "game.unpacked.asm", "Tolvek.exe --unpack"})) {}
    const Image image;
    const MemoryMap map;
    const Listing listing;

    std::vector<std::string> input_lines() const {
        std::vector<std::string> lines;
        for (const std::string& line : listing.header) {
            if (line.starts_with("key ") || line.starts_with("joystick ")) lines.push_back(line);
        }
        return lines;
    }
};

std::unique_ptr<Analysed> analysed(const ScratchDir& dir, const std::string& body, bool press = true) {
    return std::make_unique<Analysed>(image_of(program(dir, body)), options(2'000'000, press));
}

bool ran(const RunResult& result, std::uint16_t address) { return (result.marks.at(address) & mark::Ran) != 0; }

// Jumps to `target` + 0 through a pointer added up at run time, which no
// pattern of the trace or the guesses follows; the routines behind it lie
// after the data, where no gap between code holds them.
const char* kMenu = R"(
ptr = $fb
wait	jsr $ffe4
	beq wait
	cmp #'1'
	beq one
	cmp #'2'
	bne wait
	ldx #1
go	lda offsets,x
	clc
	adc #<parts
	sta ptr
	lda #>parts
	adc #0
	sta ptr+1
	jmp (ptr)
one	ldx #0
	beq go
offsets	!byte part_one - parts, part_two - parts
	!fill $0900 - *, $ff
parts
part_one	inc $d020	; $0900
	jmp wait
part_two	lda #5		; $0906
	sta $d021
	jmp wait
)";

TEST(Inputs, KeysTheCodeComparesLeadToCodeOnlyTheyRun) {
    if (!have_acme()) GTEST_SKIP() << "acme is not installed";
    ScratchDir dir;
    const auto pressed = analysed(dir, kMenu);
    const auto waited = analysed(dir, kMenu, false);
    EXPECT_EQ(listed_at(pressed->map, 0x0906), "L0906: lda #$05");
    EXPECT_EQ(listed_at(pressed->map, 0x0908), "sta BGCOL0");
    EXPECT_EQ(listed_at(pressed->map, 0x0900), "L0900: inc EXTCOL");
    EXPECT_FALSE(is_instruction(waited->map.kind(0x0906)));
    EXPECT_FALSE(is_instruction(waited->map.kind(0x0900)));
    // One line for each key that led somewhere new, in key order; the code
    // behind "2" that "1" ran first is not new any more.
    const std::vector<std::string> lines = pressed->input_lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_TRUE(lines[0].starts_with("key \"1\": new code at $")) << lines[0];
    EXPECT_TRUE(lines[0].ends_with(", $0900-$0905")) << lines[0];
    EXPECT_TRUE(lines[1].starts_with("key \"2\": new code at $")) << lines[1];
    EXPECT_TRUE(lines[1].ends_with(", $0906-$090d")) << lines[1];
    EXPECT_TRUE(waited->input_lines().empty());
    // The run itself still ends where the program waited.
    ASSERT_EQ(pressed->map.run.runs.size(), 1u);
    EXPECT_EQ(pressed->map.run.runs[0].end, RunEnd::Waited);
}

TEST(Inputs, JoysticksOnBothPortsLeadToCodeOnlyTheyRun) {
    if (!have_acme()) GTEST_SKIP() << "acme is not installed";
    ScratchDir dir;
    // Fire on port 2 ($DC00), up on port 1 ($DC01, with no keyboard column
    // selected, so that no key reads as a move).
    const std::string body = R"(
ptr = $fb
wait	lda $dc00
	and #$10
	beq fire
	lda #$ff
	sta $dc00
	lda $dc01
	lsr
	bcs wait
	ldx #1
	bne go
fire	ldx #0
go	lda offsets,x
	clc
	adc #<parts
	sta ptr
	lda #>parts
	adc #0
	sta ptr+1
	jmp (ptr)
offsets	!byte part_fire - parts, part_up - parts
	!fill $0900 - *, $ff
parts
part_fire	inc $d020	; $0900
	jmp wait
part_up	dec $d021	; $0906
	jmp wait
)";
    const auto moved = analysed(dir, body);
    EXPECT_EQ(listed_at(moved->map, 0x0900), "L0900: inc EXTCOL");
    EXPECT_EQ(listed_at(moved->map, 0x0906), "L0906: dec BGCOL0");
    const std::vector<std::string> lines = moved->input_lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_TRUE(lines[0].starts_with("joystick 1 up: new code at $")) << lines[0];
    EXPECT_TRUE(lines[0].ends_with(", $0906-$090b")) << lines[0];
    EXPECT_TRUE(lines[1].starts_with("joystick 2 fire: new code at $")) << lines[1];
    EXPECT_TRUE(lines[1].ends_with(", $0900-$0905")) << lines[1];
    const auto still = analysed(dir, body, false);
    EXPECT_FALSE(is_instruction(still->map.kind(0x0900)));
    EXPECT_TRUE(still->input_lines().empty());
}

TEST(Inputs, KeysScannedInTheMatrixArePressedInTheirColumn) {
    if (!have_acme()) GTEST_SKIP() << "acme is not installed";
    ScratchDir dir;
    // Space is column 7, row 4; F1 column 0, row 4: the same row, so only
    // a key in the column that is selected may count.
    const RunResult result = run(dir, R"(
wait	lda #$7f
	sta $dc00
	lda $dc01
	and #$10
	beq space
	lda #$fe
	sta $dc00
	lda $dc01
	and #$10
	bne wait
	inc $d020	; F1: $0825
	jmp wait
space	dec $d020	; $082b
	jmp wait
)",
                                 options(2'000'000));
    EXPECT_EQ(result.end, RunEnd::Waited);
    EXPECT_TRUE(ran(result, 0x0825));
    EXPECT_TRUE(ran(result, 0x082b));
    ASSERT_EQ(result.inputs.size(), 2u);
    // SPACE comes before F1 among the keys tried.
    EXPECT_EQ(result.inputs[0].input, (Input{Input::Device::Key, ' '}));
    EXPECT_EQ(result.inputs[0].new_code, (std::vector<std::pair<std::uint16_t, std::uint32_t>>{{0x082b, 0x0831}}));
    EXPECT_EQ(result.inputs[1].input, (Input{Input::Device::Key, 0x85}));
    EXPECT_EQ(result.inputs[1].new_code, (std::vector<std::pair<std::uint16_t, std::uint32_t>>{{0x0825, 0x082b}}));
    // Where the keys sit, with shift for what they type shifted.
    EXPECT_EQ(key_position(' ')->column, 7);
    EXPECT_EQ(key_position(' ')->row, 4);
    EXPECT_FALSE(key_position(0x41)->shifted);  // "a"
    EXPECT_TRUE(key_position(0xc1)->shifted);   // "A"
    EXPECT_EQ(key_position(0xc1)->column, key_position(0x41)->column);
    EXPECT_FALSE(key_position(0).has_value());
}

TEST(Inputs, EachTryStartsFromTheWait) {
    if (!have_acme()) GTEST_SKIP() << "acme is not installed";
    ScratchDir dir;
    // "1" sets a flag and waits again; a try of "2" after it must not see
    // the flag, and the keys must come from an empty buffer each time.
    const RunResult result = run(dir, R"(
flag = $c000
wait	jsr $ffe4
	beq wait
	cmp #'1'
	beq one
	cmp #'2'
	bne wait
	lda flag
	bne trap
	lda $c6		; nothing more in the buffer
	bne trap
	inc $d020	; $0823
	jmp wait
one	lda #1		; $0829
	sta flag
	jmp wait
trap	inc $d021	; $0831
	jmp trap
)",
                                 options(2'000'000));
    EXPECT_TRUE(ran(result, 0x0829));
    EXPECT_TRUE(ran(result, 0x0823));
    EXPECT_FALSE(ran(result, 0x0831));
    // Stored into by a try: written, as the analysis should know.
    EXPECT_TRUE(result.marks.at(0xc000) & mark::Written);
    EXPECT_EQ(result.first_writer.at(0xc000), 0x082b);
    EXPECT_EQ(result.memory.at(0xc000), 1);
}

TEST(Inputs, ProgramIgnoringEveryKeyGetsNoInputLine) {
    if (!have_acme()) GTEST_SKIP() << "acme is not installed";
    ScratchDir dir;
    const std::string body = R"(
wait	jsr $ffe4
	jmp wait
)";
    const auto result = analysed(dir, body);
    EXPECT_TRUE(result->input_lines().empty());
    // Keys were pressed all the same.
    const RunResult tried = run(dir, body, options(2'000'000));
    EXPECT_GT(tried.input_cycles, 0u);
    EXPECT_TRUE(tried.inputs.empty());
}

TEST(Inputs, TriesKeepToTheBudgetWhenEveryInputFindsNewThingsWithoutEnd) {
    if (!have_acme()) GTEST_SKIP() << "acme is not installed";
    ScratchDir dir;
    // Any key (its value goes into X, so all usual keys are tried) starts
    // filling memory from $2000 on: a first store every few cycles, for
    // longer than the budget.
    const std::string body = R"(
wait	jsr $ffe4
	beq wait
	tax
	lda #0
	sta $fb
	lda #$20
	sta $fc
	ldy #0
fill	txa
	sta ($fb),y
	iny
	bne fill
	inc $fc
	jmp fill
)";
    for (const std::uint64_t budget : {300'000u, 1'000'000u, 3'000'000u}) {
        const RunResult result = run(dir, body, options(budget));
        EXPECT_EQ(result.end, RunEnd::Waited);
        EXPECT_LE(result.cycles + result.input_cycles, budget + 64) << budget;
        // The tries used what the wait left, but for less than the five
        // frames that no try is begun with.
        EXPECT_GT(result.cycles + result.input_cycles, budget - 5 * pal::kFrameCycles) << budget;
        EXPECT_EQ(result.inputs.size(), 1u);
    }
}

TEST(Inputs, TriesCountInTheBudgetOfAllRuns) {
    if (!have_acme()) GTEST_SKIP() << "acme is not installed";
    ScratchDir dir;
    // The entry waits for a key that starts filling memory; the second SYS
    // entry fills memory at once. The first run's tries use up the budget
    // that the second would run with otherwise.
    const std::vector<std::uint8_t> prg = assemble(dir, R"(
	* = $0801
	!word line20, 10
	!byte $9e
	!text "2080"
	!byte 0
line20	!word end, 20
	!byte $9e
	!text "2304"
	!byte 0
end	!word 0
	!fill $0820 - *, 0
wait	jsr $ffe4
	beq wait
	tax
	jmp fill
	!fill $0900 - *, 0
fill	lda #0
	sta $fb
	lda #$20
	sta $fc
	ldy #0
-	txa
	sta ($fb),y
	iny
	bne -
	inc $fc
	jmp -
)");
    constexpr std::uint64_t kBudget = 600'000;  // the fill does not come round to its own code
    const MemoryMap pressed = analyse(image_of(prg), AnalysisOptions{.entry = 2080, .run = options(kBudget)});
    ASSERT_GE(pressed.run.runs.size(), 1u);
    EXPECT_EQ(pressed.run.runs[0].end, RunEnd::Waited);
    EXPECT_EQ(pressed.run.inputs.size(), 1u);
    // What no try was begun with, at most.
    if (pressed.run.runs.size() > 1) {
        EXPECT_LT(pressed.run.runs[1].cycles, 5 * pal::kFrameCycles);
    }
    const MemoryMap waited = analyse(image_of(prg), AnalysisOptions{.entry = 2080, .run = options(kBudget, false)});
    ASSERT_EQ(waited.run.runs.size(), 2u);
    EXPECT_EQ(waited.run.runs[1].end, RunEnd::BudgetUsed);
    EXPECT_GT(waited.run.runs[1].cycles, kBudget / 2);
}

TEST(Inputs, GetinAndChrinTakeKeysFromTheBuffer) {
    if (!have_acme()) GTEST_SKIP() << "acme is not installed";
    ScratchDir dir;
    const RunResult result = run(dir, R"(
	lda #$41
	sta $0277
	lda #$42
	sta $0278
	lda #2
	sta $c6
	jsr $ffe4
	jsr $ffd2
	jsr $ffcf
	jsr $ffd2
	jsr $ffcf	; the buffer is empty: the end of the line
	jsr $ffd2
	jsr $ffe4	; no key: 0
	clc
	adc #$30
	jsr $ffd2
	lda $c6
	adc #$30
	jmp $ffd2
)",
                                 options(100'000));
    EXPECT_EQ(result.end, RunEnd::ReturnedToBasic);
    EXPECT_EQ(result.printed, "AB\r00");
}

}  // namespace
