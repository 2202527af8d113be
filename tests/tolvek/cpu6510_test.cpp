// The 6510 emulator against the NMOS 6502's documented behaviour: cycle
// counts, flags, decimal mode, the undocumented opcodes, and what it tells
// the run (marks, stops).
#include <gtest/gtest.h>

#include <array>
#include <initializer_list>
#include <vector>

#include "emu/cpu6510.hpp"
#include "ram_bus.hpp"

namespace {

using tolvek::Cpu6510;
namespace flag = tolvek::flag;
namespace mark = tolvek::mark;

// 64 KiB of RAM, with one page of I/O at $D000.
struct TestBus : tolvek_test::RamBus {
    TestBus() : RamBus(0xd0) {}
};

struct Machine {
    TestBus bus;
    Cpu6510 cpu{bus};
    Machine() {
        cpu.pc = 0x1000;
        cpu.s = 0xff;
        cpu.p = flag::U;
    }
    // Runs one instruction; returns the cycles it took.
    std::uint64_t step() {
        const std::uint64_t before = cpu.cycles;
        cpu.run(before + 1, false);
        return cpu.cycles - before;
    }
    // Puts `bytes` at $1000 and runs them with the given A and flags.
    void run_code(std::initializer_list<std::uint8_t> bytes, std::uint8_t a, std::uint8_t p, int instructions = 1) {
        bus.put(0x1000, bytes);
        cpu.pc = 0x1000;
        cpu.a = a;
        cpu.p = static_cast<std::uint8_t>(p | flag::U);
        for (int i = 0; i < instructions; ++i) step();
    }
};

// The NMOS 6502's cycle counts from its data sheets and the usual tables of
// the undocumented opcodes; no page crossed, no branch taken; 0: halts.
constexpr std::array<std::uint8_t, 256> kCycles = {
    7, 6, 0, 8, 3, 3, 5, 5, 3, 2, 2, 2, 4, 4, 6, 6,  // $00
    2, 5, 0, 8, 4, 4, 6, 6, 2, 4, 2, 7, 4, 4, 7, 7,  // $10
    6, 6, 0, 8, 3, 3, 5, 5, 4, 2, 2, 2, 4, 4, 6, 6,  // $20
    2, 5, 0, 8, 4, 4, 6, 6, 2, 4, 2, 7, 4, 4, 7, 7,  // $30
    6, 6, 0, 8, 3, 3, 5, 5, 3, 2, 2, 2, 3, 4, 6, 6,  // $40
    2, 5, 0, 8, 4, 4, 6, 6, 2, 4, 2, 7, 4, 4, 7, 7,  // $50
    6, 6, 0, 8, 3, 3, 5, 5, 4, 2, 2, 2, 5, 4, 6, 6,  // $60
    2, 5, 0, 8, 4, 4, 6, 6, 2, 4, 2, 7, 4, 4, 7, 7,  // $70
    2, 6, 2, 6, 3, 3, 3, 3, 2, 2, 2, 2, 4, 4, 4, 4,  // $80
    2, 6, 0, 6, 4, 4, 4, 4, 2, 5, 2, 5, 5, 5, 5, 5,  // $90
    2, 6, 2, 6, 3, 3, 3, 3, 2, 2, 2, 2, 4, 4, 4, 4,  // $A0
    2, 5, 0, 5, 4, 4, 4, 4, 2, 4, 2, 4, 4, 4, 4, 4,  // $B0
    2, 6, 2, 8, 3, 3, 5, 5, 2, 2, 2, 2, 4, 4, 6, 6,  // $C0
    2, 5, 0, 8, 4, 4, 6, 6, 2, 4, 2, 7, 4, 4, 7, 7,  // $D0
    2, 6, 2, 8, 3, 3, 5, 5, 2, 2, 2, 2, 4, 4, 6, 6,  // $E0
    2, 5, 0, 8, 4, 4, 6, 6, 2, 4, 2, 7, 4, 4, 7, 7,  // $F0
};

TEST(Cpu6510, EveryOpcodeTakesItsCyclesAndHaltingOnesStop) {
    for (std::size_t op = 0; op < 256; ++op) {
        Machine m;
        // Operands $20 $30: zero page pointers at $20 lead to $3000, indexes
        // are 0, so no page is crossed; flags keep every branch from being taken.
        m.bus.put(0x1000, {static_cast<std::uint8_t>(op), 0x20, 0x30});
        m.bus.put(0x0020, {0x00, 0x30});
        m.bus.put(0xfffe, {0x00, 0x20});
        std::uint8_t p = flag::U;
        if (op == 0x10 || op == 0x50 || op == 0x90 || op == 0xd0) p |= flag::N | flag::V | flag::C | flag::Z;
        m.cpu.p = p;
        m.cpu.x = m.cpu.y = 0;
        m.cpu.s = 0xf0;
        const Cpu6510::Stop stop = m.cpu.run(1, false);
        if (kCycles[op] == 0) {
            EXPECT_EQ(stop, Cpu6510::Stop::Halted) << "opcode $" << std::hex << op;
            EXPECT_EQ(m.cpu.pc, 0x1000) << "opcode $" << std::hex << op;
            EXPECT_EQ(m.cpu.cycles, 0u) << "opcode $" << std::hex << op;
        } else {
            EXPECT_EQ(stop, Cpu6510::Stop::Budget) << "opcode $" << std::hex << op;
            EXPECT_EQ(m.cpu.cycles, kCycles[op]) << "opcode $" << std::hex << op;
        }
    }
}

TEST(Cpu6510, PageCrossingsAndTakenBranchesCostWhatTheyCost) {
    Machine m;
    m.cpu.x = 1;
    m.bus.put(0x1000, {0xbd, 0xff, 0x20});  // lda $20ff,x: crosses
    EXPECT_EQ(m.step(), 5u);
    m.cpu.pc = 0x1000;
    m.bus.put(0x1000, {0x9d, 0xff, 0x20});  // sta $20ff,x: always 5
    EXPECT_EQ(m.step(), 5u);
    m.cpu.pc = 0x1000;
    m.bus.put(0x1000, {0xfe, 0xff, 0x20});  // inc $20ff,x: always 7
    EXPECT_EQ(m.step(), 7u);
    m.bus.put(0x0040, {0xff, 0x20});
    m.cpu.y = 1;
    m.cpu.pc = 0x1000;
    m.bus.put(0x1000, {0xb1, 0x40});  // lda ($40),y: crosses
    EXPECT_EQ(m.step(), 6u);
    m.cpu.p = flag::U;
    m.cpu.pc = 0x1000;
    m.bus.put(0x1000, {0xd0, 0x10});  // bne taken, same page
    EXPECT_EQ(m.step(), 3u);
    EXPECT_EQ(m.cpu.pc, 0x1012);
    m.cpu.pc = 0x10f0;
    m.bus.put(0x10f0, {0xd0, 0x20});  // bne taken into the next page
    EXPECT_EQ(m.step(), 4u);
    EXPECT_EQ(m.cpu.pc, 0x1112);
    m.cpu.pc = 0x1000;
    m.bus.put(0x1000, {0xd0, 0xfc});  // backwards, across into page $0f
    EXPECT_EQ(m.step(), 4u);
    EXPECT_EQ(m.cpu.pc, 0x0ffe);
}

TEST(Cpu6510, BinaryArithmeticSetsCarryAndOverflow) {
    Machine m;
    m.run_code({0x69, 0x50}, 0x50, 0);  // adc #$50: $a0, overflow
    EXPECT_EQ(m.cpu.a, 0xa0);
    EXPECT_EQ(m.cpu.p & (flag::V | flag::N | flag::C | flag::Z), flag::V | flag::N);
    m.run_code({0x69, 0x01}, 0xff, flag::C);  // $ff + 1 + carry
    EXPECT_EQ(m.cpu.a, 0x01);
    EXPECT_EQ(m.cpu.p & (flag::V | flag::C | flag::Z), flag::C);
    m.run_code({0xe9, 0x01}, 0x00, flag::C);  // sbc #1 from 0: borrow
    EXPECT_EQ(m.cpu.a, 0xff);
    EXPECT_EQ(m.cpu.p & (flag::C | flag::N), flag::N);
    m.run_code({0xe9, 0x01}, 0x80, flag::C);  // $80 - 1: overflow
    EXPECT_EQ(m.cpu.a, 0x7f);
    EXPECT_EQ(m.cpu.p & (flag::V | flag::C), flag::V | flag::C);
    m.run_code({0xc9, 0x30}, 0x30, 0);  // cmp equal: Z and C
    EXPECT_EQ(m.cpu.p & (flag::Z | flag::C | flag::N), flag::Z | flag::C);
    m.run_code({0x24, 0x10}, 0x01, 0);  // bit: N and V from memory, Z from and
    m.bus.ram[0x10] = 0xc0;
    m.run_code({0x24, 0x10}, 0x01, 0);
    EXPECT_EQ(m.cpu.p & (flag::N | flag::V | flag::Z), flag::N | flag::V | flag::Z);
}

TEST(Cpu6510, DecimalModeAsTheNmosChipDoesIt) {
    struct Case {
        std::uint8_t opcode, a, operand, carry_in, result;
        std::uint8_t flags;  // N, V, Z, C after
    };
    // Results and flags of the NMOS 6502 as documented for decimal mode: Z
    // from the binary result, N and V from the intermediate one.
    const Case cases[] = {
        {0x69, 0x09, 0x01, 0, 0x10, 0},
        {0x69, 0x58, 0x46, 1, 0x05, flag::N | flag::V | flag::C},  // N, V from $a5
        {0x69, 0x12, 0x34, 0, 0x46, 0},
        {0x69, 0x99, 0x01, 0, 0x00, flag::C | flag::N},        // binary $9a: not zero, N from $a0
        {0x69, 0x79, 0x00, 1, 0x80, flag::N | flag::V},
        {0x69, 0x50, 0x50, 0, 0x00, flag::N | flag::V | flag::C},
        {0x69, 0x00, 0x00, 0, 0x00, flag::Z},
        {0xe9, 0x46, 0x12, 1, 0x34, flag::C},
        {0xe9, 0x40, 0x13, 1, 0x27, flag::C},
        {0xe9, 0x32, 0x02, 0, 0x29, flag::C},
        {0xe9, 0x00, 0x01, 1, 0x99, flag::N},
        {0xe9, 0x12, 0x21, 1, 0x91, flag::N},
        {0xe9, 0x80, 0x01, 1, 0x79, flag::C | flag::V},
    };
    for (const Case& c : cases) {
        Machine m;
        m.run_code({c.opcode, c.operand}, c.a, static_cast<std::uint8_t>(flag::D | (c.carry_in ? flag::C : 0)));
        EXPECT_EQ(m.cpu.a, c.result) << std::hex << int(c.opcode) << " " << int(c.a) << " " << int(c.operand);
        EXPECT_EQ(m.cpu.p & (flag::N | flag::V | flag::Z | flag::C), c.flags)
            << std::hex << int(c.opcode) << " " << int(c.a) << " " << int(c.operand);
    }
}

TEST(Cpu6510, StableUndocumentedOpcodes) {
    Machine m;
    m.bus.ram[0x10] = 0x81;
    m.run_code({0xa7, 0x10}, 0, 0);  // lax $10
    EXPECT_EQ(m.cpu.a, 0x81);
    EXPECT_EQ(m.cpu.x, 0x81);
    EXPECT_TRUE(m.cpu.p & flag::N);
    m.cpu.x = 0x0f;
    m.run_code({0x87, 0x11}, 0x3c, 0);  // sax $11
    EXPECT_EQ(m.bus.ram[0x11], 0x0c);
    m.bus.ram[0x12] = 0x41;
    m.run_code({0xc7, 0x12}, 0x40, 0);  // dcp $12: dec, then cmp
    EXPECT_EQ(m.bus.ram[0x12], 0x40);
    EXPECT_EQ(m.cpu.p & (flag::Z | flag::C), flag::Z | flag::C);
    m.bus.ram[0x13] = 0x0f;
    m.run_code({0xe7, 0x13}, 0x20, flag::C);  // isc $13: inc, then sbc
    EXPECT_EQ(m.bus.ram[0x13], 0x10);
    EXPECT_EQ(m.cpu.a, 0x10);
    m.bus.ram[0x14] = 0x81;
    m.run_code({0x07, 0x14}, 0x10, 0);  // slo $14: asl, then ora
    EXPECT_EQ(m.bus.ram[0x14], 0x02);
    EXPECT_EQ(m.cpu.a, 0x12);
    EXPECT_TRUE(m.cpu.p & flag::C);
    m.bus.ram[0x15] = 0x80;
    m.run_code({0x27, 0x15}, 0xff, flag::C);  // rla $15: rol, then and
    EXPECT_EQ(m.bus.ram[0x15], 0x01);
    EXPECT_EQ(m.cpu.a, 0x01);
    EXPECT_TRUE(m.cpu.p & flag::C);
    m.bus.ram[0x16] = 0x03;
    m.run_code({0x47, 0x16}, 0xff, 0);  // sre $16: lsr, then eor
    EXPECT_EQ(m.bus.ram[0x16], 0x01);
    EXPECT_EQ(m.cpu.a, 0xfe);
    EXPECT_TRUE(m.cpu.p & flag::C);
    m.bus.ram[0x17] = 0x03;
    m.run_code({0x67, 0x17}, 0x10, 0);  // rra $17: ror (carry out 1), then adc with it
    EXPECT_EQ(m.bus.ram[0x17], 0x01);
    EXPECT_EQ(m.cpu.a, 0x12);
    m.run_code({0x0b, 0x80}, 0xff, 0);  // anc #$80: carry = bit 7
    EXPECT_EQ(m.cpu.a, 0x80);
    EXPECT_EQ(m.cpu.p & (flag::C | flag::N), flag::C | flag::N);
    m.run_code({0x4b, 0x03}, 0xff, 0);  // alr #3: and, lsr
    EXPECT_EQ(m.cpu.a, 0x01);
    EXPECT_TRUE(m.cpu.p & flag::C);
    m.cpu.x = 0x0f;
    m.run_code({0xcb, 0x02}, 0xfc, 0);  // sbx #2: x = (a & x) - 2 = $0a
    EXPECT_EQ(m.cpu.x, 0x0a);
    EXPECT_TRUE(m.cpu.p & flag::C);
    m.cpu.x = 0x0f;
    m.run_code({0xcb, 0x10}, 0xff, 0);  // borrows
    EXPECT_EQ(m.cpu.x, 0xff);
    EXPECT_FALSE(m.cpu.p & flag::C);
    m.cpu.s = 0xf3;
    m.bus.ram[0x3000] = 0x3f;
    m.cpu.y = 0;
    m.run_code({0xbb, 0x00, 0x30}, 0, 0);  // las $3000,y: a = x = s = m & s
    EXPECT_EQ(m.cpu.a, 0x33);
    EXPECT_EQ(m.cpu.s, 0x33);
    m.run_code({0xab, 0x00}, 0x55, 0);  // lxa #0: a = x = 0 whatever the chip
    EXPECT_EQ(m.cpu.a, 0);
    EXPECT_EQ(m.cpu.x, 0);
    EXPECT_TRUE(m.cpu.p & flag::Z);
}

TEST(Cpu6510, ArrInBothModes) {
    Machine m;
    m.run_code({0x6b, 0xff}, 0xc0, flag::C);  // and $c0, ror with carry: $e0
    EXPECT_EQ(m.cpu.a, 0xe0);
    // C from bit 6, V from bit 6 xor bit 5.
    EXPECT_EQ(m.cpu.p & (flag::C | flag::V | flag::N), flag::C | flag::N);
    m.run_code({0x6b, 0xff}, 0x40, 0);  // $20: bit 6 clear, bit 5 set
    EXPECT_EQ(m.cpu.a, 0x20);
    EXPECT_EQ(m.cpu.p & (flag::C | flag::V), flag::V);
    // Decimal: $ff & $ff = $ff, ror = $7f; the low digit $f + 1 > 5 adjusts
    // to $75, the high digit $f0 + $10 > $50 adds $60 with carry: $d5.
    m.run_code({0x6b, 0xff}, 0xff, flag::D);
    EXPECT_EQ(m.cpu.a, 0xd5);
    EXPECT_TRUE(m.cpu.p & flag::C);
}

TEST(Cpu6510, UnstableStoresFollowTheUsualModel) {
    Machine m;
    m.cpu.x = 0xff;
    m.cpu.y = 0x01;
    m.run_code({0x9e, 0x00, 0x12}, 0, 0);  // shx $1200,y: x & $13
    EXPECT_EQ(m.bus.ram[0x1201], 0x13);
    m.cpu.x = 0x01;
    m.cpu.y = 0x10;
    m.run_code({0x9e, 0xf8, 0x12}, 0, 0);  // crossing: the value $01 is the high byte too
    EXPECT_EQ(m.bus.ram[0x0108], 0x01);
    EXPECT_EQ(m.bus.ram[0x1308], 0x00);
    m.cpu.x = 0xf0;
    m.cpu.y = 0;
    m.run_code({0x9b, 0x00, 0x40}, 0x3c, 0);  // tas $4000,y: s = a & x, stores s & $41
    EXPECT_EQ(m.cpu.s, 0x30);
    EXPECT_EQ(m.bus.ram[0x4000], 0x00);
    m.cpu.x = 0x7f;
    m.run_code({0x9f, 0x00, 0x7f}, 0xff, 0);  // sha $7f00,y: a & x & $80
    EXPECT_EQ(m.bus.ram[0x7f00], 0x00);
    m.cpu.x = 0xff;
    m.run_code({0x9f, 0x00, 0x7f}, 0xff, 0);
    EXPECT_EQ(m.bus.ram[0x7f00], 0x80);
}

TEST(Cpu6510, StackJumpsAndInterrupts) {
    Machine m;
    m.bus.put(0x1000, {0x20, 0x00, 0x20});  // jsr $2000
    m.bus.put(0x2000, {0x60});              // rts
    m.step();
    EXPECT_EQ(m.cpu.pc, 0x2000);
    EXPECT_EQ(m.bus.ram[0x1ff], 0x10);  // pushes the jsr's last byte
    EXPECT_EQ(m.bus.ram[0x1fe], 0x02);
    m.step();
    EXPECT_EQ(m.cpu.pc, 0x1003);
    EXPECT_EQ(m.cpu.s, 0xff);

    // jmp ($10ff) takes the high byte from $1000.
    m.bus.put(0x10ff, {0x34});
    m.bus.put(0x1000, {0x6c, 0xff, 0x10});
    m.cpu.pc = 0x1000;
    m.step();
    EXPECT_EQ(m.cpu.pc, 0x6c34);

    // brk pushes its address + 2 and p with B; rti restores p without it.
    m.bus.put(0xfffe, {0x00, 0x30});
    m.bus.put(0x1000, {0x00, 0xea});
    m.bus.put(0x3000, {0x40});
    m.cpu.pc = 0x1000;
    m.cpu.p = flag::U | flag::C;
    m.step();
    EXPECT_EQ(m.cpu.pc, 0x3000);
    EXPECT_EQ(m.bus.ram[0x1ff], 0x10);
    EXPECT_EQ(m.bus.ram[0x1fe], 0x02);
    EXPECT_EQ(m.bus.ram[0x1fd], flag::U | flag::B | flag::C);
    EXPECT_TRUE(m.cpu.p & flag::I);
    m.step();
    EXPECT_EQ(m.cpu.pc, 0x1002);
    EXPECT_EQ(m.cpu.p, flag::U | flag::C);

    // php pushes B and U; plp keeps B out.
    m.bus.put(0x1000, {0x08, 0x28});
    m.cpu.pc = 0x1000;
    m.cpu.p = flag::U;
    m.step();
    EXPECT_EQ(m.bus.ram[0x1ff], flag::B | flag::U);
    m.step();
    EXPECT_EQ(m.cpu.p, flag::U);

    // A pending IRQ waits for cli, then goes through $fffe with B clear.
    m.bus.put(0x1000, {0xea, 0x58, 0xea});
    m.cpu.pc = 0x1000;
    m.cpu.p = flag::U | flag::I;
    m.cpu.irq_line = true;
    m.step();
    EXPECT_EQ(m.cpu.pc, 0x1001);
    m.step();  // cli
    m.step();  // the interrupt
    EXPECT_EQ(m.cpu.pc, 0x3000);
    EXPECT_EQ(m.bus.ram[0x1fd], flag::U);
    EXPECT_EQ(m.bus.ram[0x1fe], 0x02);
}

TEST(Cpu6510, ReadModifyWriteShowsTheChipsTheOldValueFirst) {
    Machine m;
    m.bus.put(0x1000, {0xee, 0x19, 0xd0});  // inc $d019 (reads $19 from the test's I/O)
    m.step();
    ASSERT_EQ(m.bus.io_writes.size(), 2u);
    EXPECT_EQ(m.bus.io_writes[0].second, 0x19);
    EXPECT_EQ(m.bus.io_writes[1].second, 0x1a);
}

TEST(Cpu6510, MarksWhatRanWhatWasWrittenAndWhereControlWent) {
    Machine m;
    // $1000: lda #$60 / sta $1010 / jmp $1010; $1010 then holds rts.
    m.bus.put(0x1000, {0xa9, 0x60, 0x8d, 0x10, 0x10, 0x4c, 0x10, 0x10});
    m.bus.put(0x01fe, {0x7f, 0x20});  // rts returns to $2080
    m.cpu.s = 0xfd;
    m.bus.put(0x2080, {0x02});
    EXPECT_EQ(m.cpu.run(1000, false), Cpu6510::Stop::Halted);
    EXPECT_EQ(m.cpu.pc, 0x2080);
    EXPECT_EQ(m.bus.mark_bytes[0x1000], mark::Ran);
    EXPECT_EQ(m.bus.mark_bytes[0x1001], 0);
    EXPECT_EQ(m.bus.mark_bytes[0x1010], mark::Written | mark::RanWritten | mark::Entered);
    EXPECT_EQ(m.bus.writers[0x1010], 0x1002);
    EXPECT_EQ(m.bus.mark_bytes[0x2080] & mark::Entered, mark::Entered);
    EXPECT_EQ(m.bus.mark_bytes[0x01fe] & mark::Written, 0);  // pulling is no store

    // Code run from ROM marks nothing in the RAM beneath.
    std::vector<std::uint8_t> rom(256, 0x60);  // rts
    std::vector<std::uint8_t> scratch(256, 0);
    m.bus.read_page[0xe0] = rom.data();
    m.bus.run_mark_page[0xe0] = scratch.data();
    m.bus.put(0x1100, {0x20, 0x10, 0xe0, 0x02});  // jsr $e010 / jam
    m.cpu.pc = 0x1100;
    m.cpu.s = 0xff;
    EXPECT_EQ(m.cpu.run(m.cpu.cycles + 100, false), Cpu6510::Stop::Halted);
    EXPECT_EQ(m.bus.mark_bytes[0xe010], 0);
    EXPECT_EQ(scratch[0x10], mark::Ran | mark::Entered);
}

// When an instruction first ran at each RAM byte (not under ROM), and
// when the CPU last left the main program for an interrupt: an rti that
// leaves the stack where the main program had it comes back, also after a
// handler threw frames away with txs; a nested interrupt is no new leave;
// a handler that left without rti is left behind at the next interrupt.
TEST(Cpu6510, KnowsWhenCodeFirstRanAndWhenTheMainProgramWasLeft) {
    Machine m;
    m.bus.put(0x1000, {0xea, 0xea, 0x4c, 0x00, 0x10});  // nop / nop / jmp $1000
    m.bus.put(0xfffe, {0x00, 0x30});
    m.bus.put(0xfffa, {0x00, 0x31});
    m.bus.put(0x3000, {0xea, 0x40});                    // irq: nop / rti
    m.bus.put(0x3100, {0x40});                          // nmi: rti
    m.step();
    m.step();
    EXPECT_EQ(m.bus.first_runs[0x1000], 0u);
    EXPECT_EQ(m.bus.first_runs[0x1001], 2u);
    EXPECT_EQ(m.bus.first_runs[0x1002], tolvek::kNotRan);
    EXPECT_FALSE(m.cpu.in_interrupt());
    const auto take = [&](std::uint16_t vector) {
        const std::uint64_t at = m.cpu.cycles;
        m.cpu.interrupt(vector);
        return at;
    };
    const std::uint64_t irq = take(0xfffe);
    EXPECT_TRUE(m.cpu.in_interrupt());
    EXPECT_EQ(m.cpu.interrupted_at, irq);
    EXPECT_EQ(m.bus.first_runs[0x3000], tolvek::kNotRan);  // entered, not run yet
    m.step();                                             // nop
    EXPECT_EQ(m.bus.first_runs[0x3000], irq + 7);
    take(0xfffa);  // an NMI inside the handler
    m.step();      // its rti
    EXPECT_TRUE(m.cpu.in_interrupt());
    EXPECT_EQ(m.cpu.interrupted_at, irq);
    m.step();  // the handler's rti
    EXPECT_FALSE(m.cpu.in_interrupt());
    EXPECT_EQ(m.cpu.s, 0xff);

    // The second interrupt of a stable raster throws its own frame away.
    m.bus.put(0x3200, {0xba, 0x86, 0x80, 0xea});        // tsx / stx $80 / nop
    m.bus.put(0x3300, {0xa6, 0x80, 0x9a, 0x40});        // ldx $80 / txs / rti
    m.bus.put(0xfffe, {0x00, 0x32});
    const std::uint64_t first = take(0xfffe);
    m.step();
    m.step();
    m.bus.put(0xfffe, {0x00, 0x33});
    take(0xfffe);
    EXPECT_EQ(m.cpu.interrupted_at, first);
    for (int i = 0; i < 3; ++i) m.step();
    EXPECT_FALSE(m.cpu.in_interrupt());
    EXPECT_EQ(m.cpu.s, 0xff);

    // A handler that pulls its frame and jumps back stays "in"; the next
    // interrupt leaves the main program anew.
    m.bus.put(0x3400, {0x68, 0x68, 0x68, 0x4c, 0x00, 0x10});  // pla / pla / pla / jmp $1000
    m.bus.put(0xfffe, {0x00, 0x34});
    take(0xfffe);
    for (int i = 0; i < 5; ++i) m.step();
    EXPECT_TRUE(m.cpu.in_interrupt());
    EXPECT_EQ(m.cpu.s, 0xff);
    const std::uint64_t again = take(0xfffe);
    EXPECT_EQ(m.cpu.interrupted_at, again);

    // Code run from ROM leaves no time in the RAM beneath.
    std::vector<std::uint8_t> rom(256, 0x60);  // rts
    std::vector<std::uint8_t> scratch(256, 0);
    m.bus.read_page[0xe0] = rom.data();
    m.bus.run_mark_page[0xe0] = scratch.data();
    m.bus.put(0x1100, {0x20, 0x10, 0xe0, 0x02});  // jsr $e010 / jam
    m.cpu.pc = 0x1100;
    EXPECT_EQ(m.cpu.run(m.cpu.cycles + 100, false), Cpu6510::Stop::Halted);
    EXPECT_EQ(m.bus.first_runs[0xe010], tolvek::kNotRan);
    EXPECT_NE(m.bus.first_runs[0x1103], tolvek::kNotRan);
}

TEST(Cpu6510, StopsBeforeRunningWrittenBytesItJumpedTo) {
    Machine m;
    // Stores an rts at $1010 and a nop at $1005, runs into the nop, jumps to the rts.
    m.bus.put(0x1000, {0xa9, 0xea, 0x8d, 0x05, 0x10, 0x00, 0x4c, 0x10, 0x10});
    m.bus.put(0x0f00, {0xa9, 0x02, 0x8d, 0x10, 0x10, 0x4c, 0x00, 0x10});  // a jam to run into: written first
    m.cpu.pc = 0x0f00;
    EXPECT_EQ(m.cpu.run(1000, true), Cpu6510::Stop::NewCode);
    // First stop: $1005 was written, but it is reached by falling through,
    // so the first stop is at $1010, reached by the jmp.
    EXPECT_EQ(m.cpu.pc, 0x1010);
    EXPECT_EQ(m.bus.mark_bytes[0x1005] & mark::RanWritten, mark::RanWritten);
    // Running on does not stop there again: the written jam halts.
    EXPECT_EQ(m.cpu.run(1000, true), Cpu6510::Stop::Halted);
    EXPECT_EQ(m.cpu.pc, 0x1010);
}

TEST(Cpu6510, ProcessorPortStoresAreReported) {
    Machine m;
    m.run_code({0x85, 0x01}, 0x35, 0);  // sta $01
    EXPECT_EQ(m.bus.port_writes, 1);
    EXPECT_EQ(m.bus.ram[1], 0x35);
    m.run_code({0x85, 0x02}, 0x35, 0);
    EXPECT_EQ(m.bus.port_writes, 1);
}

}  // namespace
