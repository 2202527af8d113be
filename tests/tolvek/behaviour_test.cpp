// The behaviour table that the analyses ask against what the emulator does:
// every opcode run once from two different states on the emulator's CPU.
#include <gtest/gtest.h>

#include <cstdint>

#include "cpu/behaviour.hpp"
#include "emu/cpu6510.hpp"
#include "ram_bus.hpp"

namespace {

using namespace tolvek;

struct Registers {
    std::uint8_t a, x, y, s, p;
};

Registers registers_of(const Cpu6510& cpu) { return {cpu.a, cpu.x, cpu.y, cpu.s, cpu.p}; }

// What one instruction did: the registers before and after, and whether it
// stored outside the stack.
struct Ran {
    Registers before;
    Registers after;
    bool stored = false;
};

// Runs `byte` at $1000 with operand $20 $30: zero page pointers at $20 lead
// to $3000. `second` picks other register values (index registers 1, not 0)
// and the opposite flags.
Ran run_once(std::uint8_t byte, bool second) {
    tolvek_test::RamBus bus;
    bus.put(0x1000, {byte, 0x20, 0x30});
    bus.put(0x0020, {0x00, 0x30});
    bus.put(0x3000, {0x81, 0x42});
    bus.put(0x3020, {0x7e, 0x18});
    bus.put(0xfffe, {0x00, 0x20});
    Cpu6510 cpu(bus);
    cpu.pc = 0x1000;
    cpu.a = second ? 0xa5 : 0x5a;
    cpu.x = cpu.y = second ? 1 : 0;
    cpu.s = second ? 0x80 : 0xff;
    cpu.p = second ? flag::All | flag::U : flag::U;
    Ran ran{registers_of(cpu), {}};
    cpu.run(cpu.cycles + 1, false);
    ran.after = registers_of(cpu);
    for (std::uint32_t address = 0; address < 0x10000; ++address) {
        const bool stack = address >= 0x0100 && address < 0x0200;
        if (!stack && (bus.marks[address] & mark::Written) != 0) ran.stored = true;
    }
    return ran;
}

TEST(Behaviour, MemoryIsWrittenExactlyWhereTheTableSays) {
    for (int byte = 0; byte < 256; ++byte) {
        const auto op = static_cast<std::uint8_t>(byte);
        if (behaviour(op).control == Control::Halt) continue;
        const bool stored = run_once(op, false).stored || run_once(op, true).stored;
        EXPECT_EQ(writes_memory(op), stored) << std::hex << byte << " " << opcode(op).mnemonic;
    }
}

TEST(Behaviour, RegistersAndFlagsChangeOnlyWhereTheTableSays) {
    for (int byte = 0; byte < 256; ++byte) {
        const auto op = static_cast<std::uint8_t>(byte);
        const Behaviour& b = behaviour(op);
        if (b.control == Control::Halt) continue;
        bool stack_moved = false;
        for (const bool second : {false, true}) {
            const Ran ran = run_once(op, second);
            const auto unchanged = [&](std::uint8_t reg, std::uint8_t was, std::uint8_t is) {
                return (b.writes & reg) != 0 || was == is;
            };
            EXPECT_TRUE(unchanged(reg::A, ran.before.a, ran.after.a)) << std::hex << byte << " changes A";
            EXPECT_TRUE(unchanged(reg::X, ran.before.x, ran.after.x)) << std::hex << byte << " changes X";
            EXPECT_TRUE(unchanged(reg::Y, ran.before.y, ran.after.y)) << std::hex << byte << " changes Y";
            EXPECT_TRUE(unchanged(reg::S, ran.before.s, ran.after.s)) << std::hex << byte << " changes S";
            // B and U are no flags of the processor, only bits pushed.
            const std::uint8_t flags = static_cast<std::uint8_t>((ran.before.p ^ ran.after.p) & ~(flag::B | flag::U));
            EXPECT_EQ(flags & ~b.flags_written, 0) << std::hex << byte << " changes flags " << int{flags};
            stack_moved = stack_moved || ran.before.s != ran.after.s;
        }
        EXPECT_EQ(moves_stack_pointer(op), stack_moved) << std::hex << byte << " " << opcode(op).mnemonic;
    }
}

}  // namespace
