// Programs run on our C64 from start to end: interrupts through the
// KERNAL's vectors and the hardware's, banking, code the program writes
// before running it, the stand-ins for ROM routines and how runs end.
// Each program is ACME source that starts at its load address.
#include <gtest/gtest.h>

#include <string>

#include "emu/c64.hpp"
#include "emu/run.hpp"
#include "support.hpp"

using namespace tolvek;
using tolvek_test::ScratchDir;

namespace {

RunResult run_source(const std::string& source, const RunOptions& options = {}) {
    const ScratchDir dir;
    const std::vector<std::uint8_t> prg = tolvek_test::assemble(dir, source);
    if (prg.size() < 3) {
        ADD_FAILURE() << "nothing assembled";
        return {};
    }
    const auto load = static_cast<std::uint16_t>(prg[0] | prg[1] << 8);
    return run_program(tolvek_test::make_image(load, {prg.begin() + 2, prg.end()}), load, options);
}

bool has(const RunResult& run, std::uint16_t address, std::uint8_t bits) {
    return (run.marks.at(address) & bits) == bits;
}

constexpr std::uint64_t kTimerPeriod = 0x4026;  // CIA 1's timer A as the KERNAL sets it

TEST(Machine, IrqThroughTheKernalVectorRunsAndReturnsThroughEa31) {
    const RunResult run = run_source(R"(
        * = $1000
        sei
        lda #<handler
        sta $0314
        lda #>handler
        sta $0315
        cli
wait    lda count
        cmp #5
        bcc wait
        sei
        lda #$31
        sta $0314
        lda #$ea
        sta $0315
        cli
        lda #$4b
        jsr $ffd2
        rts
count = $1080

        * = $1100
handler inc count
        jmp $ea31
)");
    EXPECT_EQ(run.end, RunEnd::ReturnedToBasic);
    EXPECT_EQ(run.printed, "K");
    EXPECT_TRUE(has(run, 0x1100, mark::Ran | mark::Entered));
    EXPECT_TRUE(has(run, 0x1103, mark::Ran));
    EXPECT_EQ(run.first_writer.at(0x1080), 0x1100);  // count, by the handler
    EXPECT_EQ(run.memory.at(0x1080), 5);
    // Five timer interrupts, each acknowledged by $EA31 (or they would
    // come back at once), which also counts the jiffy clock.
    EXPECT_GE(run.cycles, 5 * kTimerPeriod);
    EXPECT_LT(run.cycles, 6 * kTimerPeriod);
    EXPECT_EQ(run.first_writer.at(0x00a2), 0xea31);
}

TEST(Machine, RasterInterruptThroughTheHardwareVectorWithTheKernalSwitchedOut) {
    const RunResult run = run_source(R"(
        * = $1000
        sei
        lda #$7f        ; no timer interrupts
        sta $dc0d
        lda $dc0d
        lda #$35
        sta $01
        lda #<handler
        sta $fffe
        lda #>handler
        sta $ffff
        lda #$80
        sta $d012
        lda $d011
        and #$7f
        sta $d011
        lda #1
        sta $d01a
        cli
wait    lda count
        cmp #3
        bne wait
        sei
        lda #0
        sta $d01a
        lda #$37
        sta $01
        lda line
        jsr $ffd2
        rts
count = $1080
line = $1081

        * = $1100
handler pha
        lda $d012
        sta line
        inc count
        lda #1
        sta $d019
        pla
        rti
)");
    EXPECT_EQ(run.end, RunEnd::ReturnedToBasic);
    EXPECT_TRUE(has(run, 0x1100, mark::Ran | mark::Entered));
    EXPECT_TRUE(has(run, 0x1110, mark::Ran));  // rti
    EXPECT_EQ(run.printed, "\x80");            // the handler ran on the compare line
    EXPECT_EQ(run.memory.at(0x0001), 0x37);
    EXPECT_TRUE(has(run, 0xfffe, mark::Written));
    // Line $80 of three frames: acknowledged, the interrupt does not come
    // back before the next frame.
    EXPECT_GE(run.cycles, 2 * pal::kFrameCycles + 0x80 * pal::kLineCycles);
    EXPECT_LT(run.cycles, 3 * pal::kFrameCycles);
}

TEST(Machine, RasterCounterAdvancesOneLineEvery63CyclesOver312Lines) {
    // Ten frames by waiting for line $ff to come and go.
    const RunResult frames = run_source(R"(
        * = $1000
        sei
        ldx #10
frame   lda $d012
        cmp #$ff
        bne frame
leave   lda $d012
        cmp #$ff
        beq leave
        dex
        bne frame
        cli
        rts
)");
    EXPECT_EQ(frames.end, RunEnd::ReturnedToBasic);
    EXPECT_GT(frames.cycles, 9 * pal::kFrameCycles + 0xff * pal::kLineCycles);
    EXPECT_LT(frames.cycles, 10 * pal::kFrameCycles);

    // $D011's bit 7 is the line's ninth bit: set from line 256 on.
    const RunResult high = run_source(R"(
        * = $1000
        sei
wait    bit $d011
        bpl wait
        lda $d012
        jsr $ffd2
        cli
        rts
)");
    EXPECT_EQ(high.end, RunEnd::ReturnedToBasic);
    EXPECT_EQ(high.printed, std::string(1, '\0'));
    EXPECT_GE(high.cycles, 256 * pal::kLineCycles);
    EXPECT_LT(high.cycles, 257 * pal::kLineCycles + 100);
}

TEST(Machine, NmiFromCia2ComesOncePerAcknowledgement) {
    const std::string program = R"(
        * = $1000
        sei
        lda #<nmi
        sta $0318
        lda #>nmi
        sta $0319
        lda #<20000
        sta $dd04
        lda #>20000
        sta $dd05
        lda #$81
        sta $dd0d
        lda #$11
        sta $dd0e
wait    lda count
        cmp #3
        bne wait
        lda #$7f
        sta $dd0d
        lda #0
        sta $dd0e
        rts
count = $1080

        * = $1100
nmi     pha
        ACKNOWLEDGE
        inc count
        pla
        rti
)";
    const auto with = [&](const std::string& acknowledge) {
        std::string source = program;
        source.replace(source.find("ACKNOWLEDGE"), 11, acknowledge);
        return run_source(source, {.budget = 1'000'000, .patience = 100'000});
    };
    // Taken with I set: the NMI cannot be masked.
    const RunResult acknowledged = with("lda $dd0d");
    EXPECT_EQ(acknowledged.end, RunEnd::ReturnedToBasic);
    EXPECT_TRUE(has(acknowledged, 0x1100, mark::Ran | mark::Entered));
    EXPECT_GE(acknowledged.cycles, 3 * 20001u);
    EXPECT_LT(acknowledged.cycles, 4 * 20001u);

    const RunResult ignored = with("nop");
    EXPECT_EQ(ignored.end, RunEnd::Waited);
    EXPECT_TRUE(has(ignored, 0x1100, mark::Ran));
    EXPECT_EQ(ignored.memory.at(0x1080), 1);
}

TEST(Machine, JumpPatchedByTheProgramIsFollowed) {
    const RunResult run = run_source(R"(
        * = $1000
        lda #<target
        sta patch + 1
        lda #>target
        sta patch + 2
patch   jmp $0000

        * = $1200
target  lda #$54
        jsr $ffd2
        rts
)");
    EXPECT_EQ(run.end, RunEnd::ReturnedToBasic);
    EXPECT_EQ(run.printed, "T");
    EXPECT_TRUE(has(run, 0x1200, mark::Ran | mark::Entered));
    EXPECT_TRUE(has(run, 0x100a, mark::Ran));
    EXPECT_FALSE(has(run, 0x100a, mark::Written));
    EXPECT_TRUE(has(run, 0x100b, mark::Written));
    EXPECT_EQ(run.first_writer.at(0x100b), 0x1002);
    EXPECT_EQ(run.first_writer.at(0x100c), 0x1007);
    EXPECT_FALSE(run.written_code.has_value());  // only operands were written
}

TEST(Machine, CodeCopiedElsewhereIsKeptAsWrittenCode) {
    const RunResult run = run_source(R"(
        * = $1000
        ldx #5
copy    lda code,x
        sta $c000,x
        dex
        bpl copy
        lda #$ea
        sta $c00a       ; a few bytes off: the same piece
        sta $c040       ; far off: another
        lda #$60
        sta $c100
        jsr $c100       ; a smaller piece runs first
        jmp $c000
code    lda #$43
        jsr $ffd2
        rts
)");
    EXPECT_EQ(run.end, RunEnd::ReturnedToBasic);
    EXPECT_EQ(run.printed, "C");
    EXPECT_TRUE(has(run, 0xc000, mark::Written | mark::RanWritten | mark::Entered));
    EXPECT_FALSE(has(run, 0xc000, mark::Ran));
    EXPECT_TRUE(has(run, 0xc002, mark::RanWritten));
    EXPECT_TRUE(has(run, 0xc100, mark::RanWritten));
    EXPECT_EQ(run.first_writer.at(0xc000), 0x1005);
    ASSERT_TRUE(run.written_code.has_value());
    const WrittenCode& code = *run.written_code;
    EXPECT_EQ(code.start, 0xc000);
    // What was handed over ends at the last byte written without a gap.
    EXPECT_EQ(code.end, 0xc006u);
    EXPECT_EQ(code.entry, 0xc000);
    EXPECT_EQ(code.from, 0x101b);  // the jmp
    EXPECT_GT(code.cycle, 0u);
    const std::vector<std::uint8_t> expected{0xa9, 0x43, 0x20, 0xd2, 0xff, 0x60};
    EXPECT_EQ(code.bytes, expected);
}

// Pieces of written code become one range once the bytes between them
// are written too, in whatever order; where the I/O is in view, its
// registers cut the range. Called and returned from, the code is
// generated code.
TEST(Machine, WrittenRangesJoinAndEndAtTheIo) {
    const RunResult joined = run_source(R"(
        * = $1000
        lda #$ea
        ldx #7
fill    sta $c000,x     ; $c000-$c007
        sta $c020,x     ; $c020-$c027: too far from the first
        dex
        bpl fill
        lda #$60
        sta $c007
        sta $c027
        jsr $c000
        lda #$ea
        sta $c018       ; a bridge, from the far end first
        sta $c010
        jsr $c020
        rts
)");
    EXPECT_EQ(joined.end, RunEnd::ReturnedToBasic);
    EXPECT_FALSE(joined.written_code.has_value());
    ASSERT_EQ(joined.generated_code.size(), 2u);
    EXPECT_EQ(joined.generated_code[0].start, 0xc000);
    EXPECT_EQ(joined.generated_code[0].end, 0xc008u);
    EXPECT_EQ(joined.generated_code[1].start, 0xc000);
    EXPECT_EQ(joined.generated_code[1].end, 0xc028u);
    EXPECT_EQ(joined.generated_code[1].entry, 0xc020);
    EXPECT_EQ(joined.generated_code[1].caller, 0x1020);

    const std::string across_the_io = R"(
        * = $1000
        sei
        lda #$34        ; RAM everywhere
        sta $01
        ldx #0
        lda #$ea
fill    sta $cf00,x
        sta $d000,x
        inx
        bne fill
        lda #$60
        sta $cfff
        lda #$%s        ; the I/O in view, or not
        sta $01
        jsr $cffd
        lda #$37
        sta $01
        cli
        rts
)";
    for (const auto& [port, end] : {std::pair{"35", 0xd000u}, std::pair{"34", 0xd100u}}) {
        SCOPED_TRACE(port);
        std::string source = across_the_io;
        source.replace(source.find("%s"), 2, port);
        const RunResult run = run_source(source);
        EXPECT_EQ(run.end, RunEnd::ReturnedToBasic);
        ASSERT_EQ(run.generated_code.size(), 1u);
        EXPECT_EQ(run.generated_code[0].start, 0xcf00);
        EXPECT_EQ(run.generated_code[0].end, end);
        EXPECT_EQ(run.generated_code[0].entry, 0xcffd);
    }
}

TEST(Machine, ProgramWaitingForAKeyEndsAsWaitedAtItsLoop) {
    const RunOptions options{.budget = 10'000'000, .patience = 200'000};
    const RunResult keys = run_source(R"(
        * = $1000
        lda #0
        sta $c6
wait    jsr $ffe4
        beq wait
        rts
)",
                                      options);
    EXPECT_EQ(keys.end, RunEnd::Waited);
    EXPECT_EQ(keys.end_address, 0x1004);
    EXPECT_LT(keys.cycles, 400'000u);
    EXPECT_TRUE(has(keys, 0x1007, mark::Ran));

    // An interrupt handler that takes most of each frame: the run names
    // the main program's loop, not the handler's (below it in memory).
    const RunResult busy = run_source(R"(
        * = $1000
        jmp main
handler ldy #12
outer   ldx #0
inner   dex
        bne inner
        dey
        bne outer
        jmp $ea31

        * = $1100
main    sei
        lda #<handler
        sta $0314
        lda #>handler
        sta $0315
        cli
wait    jmp wait
)",
                                      options);
    EXPECT_EQ(busy.end, RunEnd::Waited);
    EXPECT_EQ(busy.end_address, 0x110c);
    EXPECT_TRUE(has(busy, 0x1003, mark::Ran | mark::Entered));

    // A handler that never acknowledges the timer is entered again at once,
    // for good: still the main program is what waits.
    const RunResult stuck = run_source(R"(
        * = $1000
        jmp main
handler inc $0400
        jmp $ea81

        * = $1100
main    lda #<handler
        sta $0314
        lda #>handler
        sta $0315
wait    jmp wait
)",
                                       options);
    EXPECT_EQ(stuck.end, RunEnd::Waited);
    EXPECT_EQ(stuck.end_address, 0x110a);
    EXPECT_TRUE(has(stuck, 0x1006, mark::Ran));
}

TEST(Machine, WaysBackToBasicEndTheRun) {
    struct Case {
        const char* code;
        std::uint16_t end_address;
    };
    const Case cases[] = {
        {"rts", kBackFromSys},
        {"jmp $a474", 0xa474},
        {"jmp ($a002)", 0xe37b},
        {"jmp ($0302)", 0xa483},
        {"jmp $fce2", 0xfce2},
        {"brk", 0xfe66},  // through ($0316)
    };
    for (const Case& c : cases) {
        const RunResult run = run_source(std::string("* = $1000\nlda #1\nsta $d020\n") + c.code + "\n");
        EXPECT_EQ(run.end, RunEnd::ReturnedToBasic) << c.code;
        EXPECT_EQ(run.end_address, c.end_address) << c.code;
        EXPECT_LT(run.cycles, 100u) << c.code;
        EXPECT_TRUE(has(run, 0x1005, mark::Ran)) << c.code;
    }
}

TEST(Machine, HaltsInRamAndRomWithoutStandInEndTheRun) {
    const RunResult jam = run_source("* = $1000\nnop\nnop\n!byte $02\nnop\n");
    EXPECT_EQ(jam.end, RunEnd::Halted);
    EXPECT_EQ(jam.end_address, 0x1002);
    EXPECT_FALSE(has(jam, 0x1003, mark::Ran));

    const RunResult other = run_source("* = $1000\n!byte $f2\n");
    EXPECT_EQ(other.end, RunEnd::Halted);
    EXPECT_EQ(other.end_address, 0x1000);

    struct Case {
        const char* code;
        std::uint16_t end_address;
    };
    const Case roms[] = {
        {"jmp $b000", 0xb000},                // BASIC
        {"jmp $e000", 0xe000},                // KERNAL
        {"lda #$33\nsta $01\njmp $d000", 0xd000},  // the character ROM
        {"lda #$33\nsta $01\njsr $d000", 0xd000},  // a call into the character ROM is no routine
        {"jsr tail\nrts\ntail jmp $e000", 0xe000},  // a jmp from a subroutine: the jsr led elsewhere
    };
    for (const Case& c : roms) {
        const RunResult run = run_source(std::string("* = $1000\n") + c.code + "\n");
        EXPECT_EQ(run.end, RunEnd::RomWithoutStandIn) << c.code;
        EXPECT_EQ(run.end_address, c.end_address) << c.code;
    }
    // With the KERNAL switched out, the same address is RAM.
    const RunResult ram = run_source("* = $1000\nsei\nlda #$02\nsta $e000\nlda #$35\nsta $01\njmp $e000\n");
    EXPECT_EQ(ram.end, RunEnd::Halted);
    EXPECT_EQ(ram.end_address, 0xe000);
}

TEST(Machine, CallsIntoRomWithoutStandInReturnAtOnceAndTheRunGoesOn) {
    const RunResult run = run_source(R"(
        * = $1000
        lda #<$e100     ; CHROUT's vector at a routine without a stand-in
        sta $0326
        lda #>$e100
        sta $0327
        lda #$41
        jsr $ffd2       ; through ($0326): returns
        jsr $b000       ; BASIC
        jsr $e000       ; KERNAL
        jsr $b000       ; named once
        ldx #$ca
        stx $0326       ; CHROUT again
        ldx #$f1
        stx $0327
        jsr $ffd2       ; A as it was: "A"
        lda #$1a
        sta $2000
        rts
)");
    EXPECT_EQ(run.end, RunEnd::ReturnedToBasic);
    EXPECT_EQ(run.printed, "A");
    EXPECT_EQ(run.memory.at(0x2000), 0x1a);
    EXPECT_EQ(run.calls_without_stand_in, (std::vector<std::uint16_t>{0xb000, 0xe000, 0xe100}));
    // Back where each call left off.
    EXPECT_TRUE(has(run, 0x100f, mark::Ran | mark::Entered));
    EXPECT_TRUE(has(run, 0x1012, mark::Ran | mark::Entered));
}

// Stand-ins whose effects on RAM and the chips programs read afterwards.
TEST(Machine, StartUpRoutinesSetWhatTheProgramReadsAfterwards) {
    const RunResult run = run_source(R"(
        * = $1000
        sei
        lda #8
        sta $0288       ; screen page elsewhere
        lda #5
        sta $0340
        sta $fb
        jsr $ff87       ; RAMTAS
        lda $fb
        sta $2000       ; zeroed
        lda $0340
        sta $2001       ; zeroed
        jsr $ff8a       ; RESTOR: the vectors back
        lda #0
        sta $d020
        sta $d021
        lda #$17
        sta $d018
        lda #1
        sta $0286
        lda #$51
        sta $0400
        sta $05e7
        jsr $ff81       ; CINT
        lda $d020
        sta $2002
        lda $d021
        sta $2003
        lda $d018
        sta $2004
        lda $d800
        sta $2005
        lda #$7f
        sta $dc0d       ; no timer interrupts
        lda #$36
        sta $01
        jsr $ff84       ; IOINIT: BASIC in view again
        lda $01
        sta $2006
        lda $dc0e
        sta $2007
        lda #4
        sta $d6
        jsr $e56c       ; the cursor's line
        ldx #3
        lda #$51
        sta $0478
        jsr $e9ff       ; clear line 3
        ldx #<1000
        lda #>1000
        jsr $bdcd       ; LINPRT
        jsr $aad7       ; carriage return
        rts
)");
    EXPECT_EQ(run.end, RunEnd::ReturnedToBasic);
    EXPECT_TRUE(run.calls_without_stand_in.empty());
    EXPECT_EQ(run.memory.at(0x2000), 0);
    EXPECT_EQ(run.memory.at(0x2001), 0);
    EXPECT_EQ(run.memory.at(0x0281) | run.memory.at(0x0282) << 8, 0x0800);  // MEMBOT
    EXPECT_EQ(run.memory.at(0x0283) | run.memory.at(0x0284) << 8, 0xa000);  // MEMTOP
    EXPECT_EQ(run.memory.at(0x00b2) | run.memory.at(0x00b3) << 8, 0x033c);  // the tape buffer
    for (std::size_t i = 0; i < kKernalVectors.size(); ++i) {
        EXPECT_EQ(run.memory.at(0x0314 + 2 * i) | run.memory.at(0x0315 + 2 * i) << 8, kKernalVectors[i]) << i;
    }
    EXPECT_EQ(run.memory.at(0x0288), 4);                // the screen at $0400 again
    EXPECT_EQ(run.memory.at(0x2002) & 0x0f, 0x0e);      // border
    EXPECT_EQ(run.memory.at(0x2003) & 0x0f, 0x06);      // background
    EXPECT_EQ(run.memory.at(0x2004), 0x15);             // screen at $0400, upper case
    EXPECT_EQ(run.memory.at(0x2005) & 0x0f, 0x0e);      // the text colour in colour RAM
    EXPECT_EQ(run.memory.at(0x0286), 0x0e);
    EXPECT_EQ(run.memory.at(0x0400), 0x20);             // cleared
    EXPECT_EQ(run.memory.at(0x05e7), 0x20);
    EXPECT_EQ(run.memory.at(0x2006) & 0x07, 0x07);      // BASIC, KERNAL and I/O in view
    EXPECT_EQ(run.memory.at(0x2007) & 0x01, 0x01);      // timer A running
    EXPECT_EQ(run.memory.at(0x00d1) | run.memory.at(0x00d2) << 8, 0x04a0);  // line 4
    EXPECT_EQ(run.memory.at(0x00f3) | run.memory.at(0x00f4) << 8, 0xd8a0);
    EXPECT_EQ(run.memory.at(0x0478), 0x20);
    EXPECT_EQ(run.printed, "1000\r");
}

TEST(Machine, BasicSwitchedOutGivesTheRamUnderIt) {
    const RunResult run = run_source(R"(
        * = $1000
        lda #$41
        sta $a100       ; RAM under the ROM
        lda $a100       ; the ROM
        jsr $ffd2
        lda #$36
        sta $01
        lda $a100       ; the RAM
        jsr $ffd2
        ldx #5
copy    lda code,x
        sta $a000,x
        dex
        bpl copy
        jsr $a000
        lda #$37
        sta $01
        rts
code    lda #$5a
        jsr $ffd2
        rts
)");
    EXPECT_EQ(run.end, RunEnd::ReturnedToBasic);
    ASSERT_EQ(run.printed.size(), 3u);
    EXPECT_NE(run.printed[0], 'A');
    EXPECT_EQ(run.printed.substr(1), "AZ");
    EXPECT_TRUE(has(run, 0xa000, mark::RanWritten | mark::Entered));
    EXPECT_TRUE(has(run, 0xa100, mark::Written));
}

TEST(Machine, ChipRegistersTakeWritesOnlyWhileIoIsSwitchedIn) {
    const RunResult run = run_source(R"(
        * = $1000
        sei
        lda #1
        sta $d020       ; the VIC
        sta $dc0e       ; CIA 1: restarts its timer, no RAM touched
        lda #$34
        sta $01
        sta $d021       ; RAM
        lda #$37
        sta $01
        lda $d020       ; the VIC reads back the colour in 4 bits
        and #$0f
        ora #$30
        jsr $ffd2
        cli
        rts
)");
    EXPECT_EQ(run.end, RunEnd::ReturnedToBasic);
    EXPECT_EQ(run.printed, "1");
    EXPECT_FALSE(has(run, 0xd020, mark::Written));
    EXPECT_FALSE(has(run, 0xdc0e, mark::Written));
    EXPECT_TRUE(has(run, 0xd021, mark::Written));
    EXPECT_EQ(run.memory.at(0xd021), 0x34);
    EXPECT_EQ(run.memory.at(0xd020), 0x00);
}

TEST(Machine, EndlessWritesUseTheBudget) {
    const RunResult run = run_source(R"(
        * = $1000
        lda #0
        sta $fb
        lda #$20
        sta $fc
        ldy #0
loop    sta ($fb),y
        iny
        bne loop
        inc $fc
        jmp loop
)",
                                     {.budget = 200'000, .patience = 50'000});
    EXPECT_EQ(run.end, RunEnd::BudgetUsed);
    EXPECT_GE(run.cycles, 200'000u);
    EXPECT_LT(run.cycles, 200'010u);
    EXPECT_TRUE(has(run, 0x2000, mark::Written));
    EXPECT_EQ(run.first_writer.at(0x2000), 0x100a);
    EXPECT_TRUE(has(run, 0x4000, mark::Written));
    EXPECT_FALSE(has(run, 0x7000, mark::Written));
}

TEST(Machine, TextPrintedThroughTheKernalAndBasicIsCollected) {
    const RunResult run = run_source(R"(
        * = $1000
        ldx #0
next    lda hello,x
        beq done
        jsr $ffd2       ; keeps X
        inx
        bne next
done    lda #<world
        ldy #>world
        jsr $ab1e
        ldx #<1234
        lda #>1234
        jsr $bdcd
        lda #<mine      ; our own output routine, through ($0326)
        sta $0326
        lda #>mine
        sta $0327
        lda #$21
        jsr $ffd2
        rts
mine    pha
        lda #$2a
        jsr $e716
        pla
        jmp $f1ca
hello   !text "HELLO ", 0
world   !text "WORLD ", 0
)");
    EXPECT_EQ(run.end, RunEnd::ReturnedToBasic);
    EXPECT_EQ(run.printed, "HELLO WORLD 1234*!");
}

// Prints the number in A as a digit, then "C" when the carry is set.
const std::string kDigit = R"(
digit   php
        ora #$30
        jsr $ffd2
        plp
        bcc +
        lda #$43
        jsr $ffd2
+       rts
)";

TEST(Machine, KernalCallsAnswerAsWithoutDrivesOrKeys) {
    // Each answer printed as a digit: error numbers, carry, the keys.
    const RunResult run = run_source(R"(
        * = $1000
        lda #1
        ldx #8
        ldy #0
        jsr $ffba       ; SETLFS
        lda #0
        jsr $ffbd       ; SETNAM
        jsr $ffc0       ; OPEN: device not present
        jsr digit
        ldx #1
        jsr $ffc6       ; CHKIN: file not open
        jsr digit
        jsr $ffcc       ; CLRCHN
        lda #0
        ldx #0
        ldy #$20
        jsr $ffd5       ; LOAD
        jsr digit
        jsr $ffe4       ; GETIN: no key
        jsr digit
        jsr $ffcf       ; CHRIN: an empty line
        jsr $ffd2
        sec
        jsr $fff0       ; PLOT: read the cursor
        txa
        jsr digit
        jsr $ffed       ; SCREEN
        txa
        jsr $ffd2
        jsr $fff3       ; IOBASE
        tya
        jsr $ffd2
        rts
)" + kDigit);
    EXPECT_EQ(run.end, RunEnd::ReturnedToBasic);
    EXPECT_EQ(run.printed, "5C3C5C0\r0C(\xdc");
    EXPECT_EQ(run.first_writer.at(0x00ba), 0xffba);  // SETLFS stored the device

    // Files on the screen open; output goes where CHKOUT sends it.
    const RunResult files = run_source(R"(
        * = $1000
        lda #2
        ldx #3
        ldy #0
        jsr $ffba       ; file 2 on the screen
        lda #0
        jsr $ffbd
        jsr $ffc0       ; OPEN
        jsr digit
        jsr $ffc0       ; OPEN again: file open
        jsr digit
        ldx #2
        jsr $ffc9       ; CHKOUT
        lda #$53
        jsr $ffd2
        jsr $ffcc
        lda #4
        ldx #4
        ldy #0
        jsr $ffba       ; file 4 on the printer
        jsr $ffc0       ; device not present
        jsr digit
        lda #2
        jsr $ffc3       ; CLOSE
        ldx #2
        jsr $ffc9       ; file not open
        jsr digit
        lda #4          ; output to device 4: nothing on the screen
        sta $9a
        lda #$58
        jsr $ffd2
        jsr $ffcc
        lda #$59
        jsr $ffd2
        rts
)" + kDigit);
    EXPECT_EQ(files.end, RunEnd::ReturnedToBasic);
    EXPECT_EQ(files.printed, "02CS5C3CY");
}

TEST(Machine, CProgramBuiltWithCl65RunsToItsEnd) {
    if (!tolvek_test::have_assembler("ca65")) GTEST_SKIP() << "cl65 not installed";
    const ScratchDir dir;
    tolvek_test::write_text(dir / "hello.c", "#include <stdio.h>\nint main(void) { printf(\"hi %d\\n\", 42); return 0; }\n");
    const tolvek_test::Result built = tolvek_test::run_in(dir.path(), "cl65 -t c64 -o hello.prg hello.c");
    ASSERT_EQ(built.status, 0) << built.err;
    const std::vector<std::uint8_t> prg = tolvek_test::read_bytes(dir / "hello.prg");
    ASSERT_GT(prg.size(), 20u);
    // SYS2061 in the BASIC line.
    const RunResult run = run_program(tolvek_test::make_image(0x0801, {prg.begin() + 2, prg.end()}), 2061, {});
    EXPECT_EQ(run.end, RunEnd::ReturnedToBasic) << std::hex << run.end_address;
    EXPECT_NE(run.printed.find("HI 42"), std::string::npos) << run.printed;
}

}  // namespace

namespace {

// Where stored bytes came from: through registers, transfers and the
// stack; computing gives a value no origin; jumps made of copied bytes are
// noted with where the bytes came from.
TEST(Machine, StoredBytesKeepWhereTheyCameFrom) {
    const RunResult run = run_source(R"(
        * = $1000
        lda value
        tax
        txa
        pha
        pla
        sta $0400          ; a copy of value
        lda value
        clc
        adc #1
        sta $0401          ; computed
        ldy #<back
        sty $0402          ; an immediate: its operand byte
        lda table+1
        pha
        lda table
        pha
        rts                ; to target, made of table's bytes
target  lda vector
        sta $08
        lda vector+1
        sta $09
        jmp ($0008)
back    rts
value   !byte $42
table   !word target-1
vector  !word back
)");
    // The layout above: target $1021, back $102e, value $102f, table $1030,
    // vector $1032; ldy's operand at $1014.
    const auto address_of = [&](std::uint32_t at) { return static_cast<std::uint32_t>(run.memory[at] | run.memory[at + 1] << 8); };
    ASSERT_EQ(address_of(0x1030), 0x1020u);
    ASSERT_EQ(address_of(0x1032), 0x102eu);
    EXPECT_EQ(run.origins[0x0400], 0x102fu);
    EXPECT_EQ(run.origins[0x0401], kNoOrigin);
    EXPECT_EQ(run.origins[0x0402], 0x1014u);
    const CopiedPointer through_rts{0x1030, 0x1031, 0x1021, 1};
    const CopiedPointer through_vector{0x1032, 0x1033, 0x102e, 0};
    EXPECT_EQ(run.copied_pointers, (std::vector<CopiedPointer>{through_rts, through_vector}));
}

}  // namespace
