// The C64's processor, the 6510: a 6502 with the NMOS chip's flags, decimal
// mode and undocumented opcodes, and the processor port at $00/$01. It
// runs on the instruction table the disassembler reads (cpu/opcodes.hpp).
#pragma once

#include <array>
#include <cstdint>

#include "cpu/behaviour.hpp"
#include <vector>

namespace tolvek {

// What a program did to a byte of RAM while it ran: bits in the marks.
namespace mark {
constexpr std::uint8_t Written = 0x01;      // the program stored into it
constexpr std::uint8_t Ran = 0x02;          // an instruction started here while it held the image's byte
constexpr std::uint8_t RanWritten = 0x04;   // an instruction started here after the program stored into it
constexpr std::uint8_t Entered = 0x08;      // reached by a jump, call, return or interrupt, not by falling through
// Stored into again after it ran as written code: it runs as new code next
// time (the next stage of an unpacker of several, unpacked where the one
// before lay).
constexpr std::uint8_t Rewritten = 0x10;
}  // namespace mark

// Where a byte came from: the address it was loaded from before the
// program stored it (followed back through copies of copies), itself for a
// byte as loaded, or none for a byte the program computed. ($0000, the
// port's direction, is no place values are copied from.)
constexpr std::uint16_t kNoOrigin = 0;

// An address that the program jumped to (through jmp (p), a jmp or jsr
// whose operand it wrote, or an rts to bytes it pushed) made of bytes it
// had copied: where they came from.
struct CopiedPointer {
    std::uint16_t low_from = 0;
    std::uint16_t high_from = 0;
    std::uint16_t target = 0;  // where it went
    std::uint8_t adjust = 0;   // 1: the bytes hold the address minus one (an rts)
    auto operator<=>(const CopiedPointer&) const = default;
};

// In Bus::first_ran: no instruction started there.
constexpr std::uint32_t kNotRan = 0xffffffff;

// The last store into a RAM byte: when (in cycles, at most 2^32 - 1) and
// the instruction that made it. Zeros where none did.
struct LastWrite {
    std::uint32_t cycle = 0;
    std::uint16_t writer = 0;
};

// The memory as the CPU sees it. The machine keeps the page tables up to
// date when it switches what is visible; reads and writes of a page with no
// pointer go to the machine's io_read and io_write.
class Bus {
public:
    virtual ~Bus() = default;
    virtual std::uint8_t io_read(std::uint16_t address) = 0;
    virtual void io_write(std::uint16_t address, std::uint8_t value) = 0;
    // The program stored into $00 (data direction) or $01 (the port); the
    // value is in RAM already.
    virtual void port_written() = 0;

    std::array<const std::uint8_t*, 256> read_page{};  // per page of 256 bytes
    std::array<std::uint8_t*, 256> write_page{};
    // Where the marks of code run from each page go: RAM's marks, or a
    // scratch page for code run from ROM or I/O.
    std::array<std::uint8_t*, 256> run_mark_page{};
    std::uint8_t* marks = nullptr;  // 64 KiB: what happened to each RAM byte (mark::)
    // The address of the instruction that first stored into each RAM byte.
    std::uint16_t* first_writer = nullptr;  // 64 KiB entries
    // The cycle at which an instruction first started at each RAM byte
    // while it held the image's byte (when mark::Ran was set), at most
    // kNotRan - 1; kNotRan where none did. Null: not kept.
    std::uint32_t* first_ran = nullptr;  // 64 KiB entries
    // When set, every RAM byte's first store appends its address here, so
    // that whoever follows the written memory need not scan for news.
    std::vector<std::uint16_t>* first_stores = nullptr;
    // When set (64 KiB entries), the last store into every RAM byte.
    LastWrite* last_writes = nullptr;
    // When set (64 KiB entries, each first its own address), the origin of
    // every RAM byte, the addresses the program jumped to made of copied
    // bytes, and the pointers made of copied bytes that it read or wrote
    // through ((zp),y and (zp,x)).
    std::uint16_t* origins = nullptr;
    std::vector<CopiedPointer>* copied_pointers = nullptr;
    std::vector<CopiedPointer>* data_pointers = nullptr;
};

class Cpu6510 {
public:
    explicit Cpu6510(Bus& bus) : bus_(bus) {}

    std::uint16_t pc = 0;
    std::uint8_t a = 0, x = 0, y = 0, s = 0xff;
    std::uint8_t p = flag::U | flag::I;
    std::uint64_t cycles = 0;
    // The last time (in cycles) an instruction ran at an address for the
    // first time or the program stored into a byte for the first time: a
    // program that finds nothing new for long is waiting.
    std::uint64_t last_news = 0;
    // The last time the main program (not an interrupt handler) stored into
    // RAM outside the stack: a program that computes stores, one that waits
    // mostly does not.
    std::uint64_t last_main_store = 0;
    // Signs of progress that are no news: stores into RAM from $0200 up
    // over a byte last stored into at least `rewrite_age` cycles before
    // (with Bus::last_writes kept), and stores of the main program that
    // move a zero-page pointer of (zp),y. An unpacker decoding over memory
    // it cleared, or through a run of zeros, makes them all the time; a
    // program waiting for a key does not.
    std::uint64_t progress = 0;
    std::uint32_t rewrite_age = 0xffffffff;
    bool irq_line = false;  // a device asks for an interrupt; taken while I is clear
    // The cycle at which the CPU last left the main program for an
    // interrupt or a brk; in_interrupt(): it has not come back, by an rti
    // that leaves the stack where the main program had it (a handler that
    // throws frames away with txs comes back too).
    std::uint64_t interrupted_at = 0;
    bool in_interrupt() const { return in_handler_; }
    // The instruction running now (or last run): who stores into the chips.
    std::uint16_t instruction_at() const { return instruction_pc_; }

    enum class Stop : std::uint8_t {
        Budget,   // cycles reached `until`
        Halted,   // a halting opcode at pc (the machine's stand-ins are halting opcodes too)
        NewCode,  // about to run the bytes at pc, which the program wrote, for the first time after a jump
        Watched,  // a jump, call, return or interrupt just led to `watched`
    };

    // An address whose entering by a jump, call, return or interrupt stops
    // run() (Stop::Watched); kNotWatched: none.
    static constexpr std::uint32_t kNotWatched = 0x10000;
    std::uint32_t watched = kNotWatched;

    // The instruction whose jump, branch, return or interrupt led to the
    // last place entered (for Stop::NewCode: the code that went there).
    std::uint16_t jumped_from() const { return jump_from_; }
    // Whether an interrupt or a brk led there (jumped_from() is then the
    // instruction before it).
    bool jumped_by_interrupt() const { return jumped_by_interrupt_; }

    // Runs instructions until `cycles` reaches `until`, a halting opcode or
    // (when `stop_at_new_code`) a jump into bytes the program wrote and that
    // have not run yet. Instructions are never cut in half: cycles may end a
    // little past `until`.
    Stop run(std::uint64_t until, bool stop_at_new_code);

    // Takes an interrupt now as the 6510 does between instructions: pushes
    // pc and p (B clear), sets I and continues at the vector ($FFFE for an
    // IRQ, $FFFA for an NMI) as the bus reads it. 7 cycles.
    void interrupt(std::uint16_t vector);

    // Interrupts (and brks) taken and not yet left with rti: for going back
    // to an earlier moment of a run (C64::restore).
    std::uint32_t interrupt_depth() const { return interrupt_depth_; }
    void set_interrupt_depth(std::uint32_t depth) { interrupt_depth_ = depth; }

    // Reads and writes as the program's instructions do.
    std::uint8_t read(std::uint16_t address);
    void write(std::uint16_t address, std::uint8_t value);
    void push(std::uint8_t value);
    std::uint8_t pull();

    struct Handlers;  // the table of opcode handlers (cpu6510.cpp)

private:
    template <std::uint8_t Opcode> void execute();
    // The parts of execute, by group of operations (cpu6510.cpp).
    struct Operand;
    template <Mode M, Access A> Operand fetch_operand();
    template <Operation Op> void branch();
    template <Operation Op, Mode M> void modify(const Operand& operand);  // read-modify-write
    template <Operation Op> void store_register(Operand operand);
    template <Operation Op> void compute(std::uint8_t value);  // loads, logic, arithmetic, compares
    template <Operation Op> void transfer_or_flag();
    template <Operation Op> void stack_or_jump(std::uint16_t address);
    template <Operation Op, Mode M> void track_origin(std::uint16_t address);  // where registers' values came from
    std::uint16_t origin_of(std::uint16_t address) const;
    void note_pointer(std::uint16_t low, std::uint16_t high, std::uint16_t target, std::uint8_t adjust,
                      std::vector<CopiedPointer>* into);
    std::uint8_t load(std::uint16_t address);  // read, write, push and pull as inlined by the handlers
    void store(std::uint16_t address, std::uint8_t value);
    void push_byte(std::uint8_t value);
    std::uint8_t pull_byte();
    void enter(std::uint16_t target);  // a jump: marks the target Entered
    void add(std::uint8_t value);       // adc, binary or decimal
    void subtract(std::uint8_t value);  // sbc
    void compare(std::uint8_t reg, std::uint8_t value);

    Bus& bus_;
    std::uint64_t until_ = 0;            // run's bound; 0 stops it after the current instruction
    Stop stop_ = Stop::Budget;
    std::uint16_t instruction_pc_ = 0;   // where the current instruction starts
    std::uint16_t jump_target_ = 0;      // where the last jump, branch, return or interrupt led
    std::uint16_t jump_from_ = 0;        // the instruction that led there
    // The zero-page pointers (zp),y used: for each zero-page byte, 1 + the
    // address of the pointer it is a half of (0: none).
    std::array<std::uint16_t, 256> pointer_of_{};
    void pointer_used(std::uint8_t pointer);
    bool jumped_by_interrupt_ = false;
    std::uint32_t interrupt_depth_ = 0;  // interrupts (and brks) taken and not yet left with rti
    // Where the values in A, X and Y came from, while the bus keeps origins.
    std::uint16_t origin_a_ = kNoOrigin, origin_x_ = kNoOrigin, origin_y_ = kNoOrigin;

    bool in_handler_ = false;            // see in_interrupt()
    std::uint8_t main_stack_ = 0;        // the stack pointer when the main program was left
    void leave_main();                   // an interrupt or brk is taken (before its pushes)
};

}  // namespace tolvek
