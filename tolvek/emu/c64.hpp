// A C64 of our own for running programs: 64 KiB of RAM, the processor
// port's banking, the raster and timer interrupts, and ROM images that are
// ours: halting opcodes, a few tiny routines where real code has to run
// (the interrupt entries and exits), and stand-ins answered in C++.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "c64/rom_image.hpp"
#include "emu/cpu6510.hpp"
#include "emu/run.hpp"
#include "image.hpp"

namespace tolvek {

namespace pal {
constexpr std::uint64_t kLineCycles = 63;
constexpr std::uint64_t kLines = 312;
constexpr std::uint64_t kFrameCycles = kLineCycles * kLines;
}  // namespace pal

// Where SYS continues when the program returns: pushed on the stack at the
// start, and a stand-in that ends the run.
constexpr std::uint16_t kBackFromSys = 0xe147;

// One of the two CIAs, as far as programs that set up interrupts need it:
// timer A with its latch and the interrupt control register. The other
// registers read back what was written.
struct Cia {
    std::array<std::uint8_t, 16> regs{};
    std::uint16_t latch = 0xffff;
    bool running = false;
    std::uint64_t due = 0;  // when timer A next underflows, while running
    std::uint8_t icr_data = 0;
    std::uint8_t icr_mask = 0;

    bool asserting() const { return (icr_data & icr_mask) != 0; }
    void start(std::uint64_t now) {
        running = true;
        due = now + latch + 1u;
    }
    // Counts the underflows up to `now`.
    void catch_up(std::uint64_t now);
    std::uint8_t read(int reg, std::uint64_t now);
    void write(int reg, std::uint8_t value, std::uint64_t now);
};

// The VIC-II, as far as programs need it: registers that read back what
// was written (the colours four bits of it), the raster line counted from
// the cycles, and the raster interrupt with its latch ($D019) and mask
// ($D01A). Sprites never collide.
struct Vic {
    std::array<std::uint8_t, 0x40> regs{};
    std::uint8_t latch = 0;        // $D019's interrupt bits
    std::uint64_t raster_due = 0;  // the next raster compare match

    bool asserting() const { return (latch & regs[0x1a] & 0x0f) != 0; }
    // Latches the raster interrupt when the compare line has come; says
    // whether it did now.
    bool catch_up(std::uint64_t now);
    // The first cycle after `after` at which the raster reaches the compare
    // line ($D011 bit 7 and $D012); never for a line past the last.
    std::uint64_t next_raster_match(std::uint64_t after) const;
    std::uint8_t read(int reg, std::uint64_t now) const;
    void write(int reg, std::uint8_t value, std::uint64_t now);
};

// What the user holds down: keys of the keyboard matrix and the two
// joysticks. CIA 1 drives the matrix's columns through port A ($DC00) and
// reads its rows through port B ($DC01); joystick 2 pulls port A's lines
// low, joystick 1 port B's.
struct HeldInputs {
    // Per column (port A's bit): the rows (port B's bits) of the keys down.
    std::array<std::uint8_t, 8> keys{};
    // Per port (index 0: joystick 1): bit 0 up, 1 down, 2 left, 3 right, 4 fire.
    std::array<std::uint8_t, 2> joysticks{};
};

// Where and when the program last read input, for the run to tell whether
// it waits for a key or the joystick.
struct InputReads {
    // A call of GETIN, of CHRIN from the keyboard or of SCNKEY: where it
    // returns to, and where the routine that made it returns to when a jsr
    // called that one or SYS did (kBackFromSys); 0: neither.
    struct Call {
        std::uint16_t back = 0;
        std::uint16_t outer = 0;
        std::uint64_t cycle = 0;
        bool key_in_a = false;  // it returns a key (or 0) in A, and the flags by A
    };
    static constexpr std::size_t kMostCalls = 8;
    std::vector<Call> calls;  // the latest of each place, at most kMostCalls
    // The last reads of CIA 1's port A (joystick 2) and port B (the
    // keyboard's rows, joystick 1).
    std::optional<std::uint64_t> port_a;
    std::optional<std::uint64_t> port_b;
    // Per column of the keyboard: the last read of port B while port A
    // selected it (drove its line low).
    std::array<std::optional<std::uint64_t>, 8> columns;
};

class C64 final : public Bus {
public:
    // Booted as the KERNAL leaves the machine before BASIC's RUN.
    C64();
    C64(const C64&) = delete;
    C64& operator=(const C64&) = delete;

    Cpu6510 cpu{*this};
    std::array<std::uint8_t, 0x10000> ram{};
    std::vector<std::uint8_t> ram_marks = std::vector<std::uint8_t>(0x10000);
    std::vector<std::uint16_t> writers = std::vector<std::uint16_t>(0x10000);
    std::vector<std::uint16_t> ram_origins = std::vector<std::uint16_t>(0x10000);  // Bus::origins
    std::vector<CopiedPointer> pointers_copied;  // Bus::copied_pointers
    std::vector<CopiedPointer> pointers_used;    // Bus::data_pointers
    std::vector<std::uint32_t> first_runs = std::vector<std::uint32_t>(0x10000, kNotRan);
    std::vector<LastWrite> last_write_notes = std::vector<LastWrite>(0x10000);  // Bus::last_writes
    std::string printed;  // what went through CHROUT and BASIC's print routines
    // The ROM routines without a stand-in that the program called: each
    // returned at once, the registers and flags as the caller left them.
    std::set<std::uint16_t> calls_without_stand_in;
    HeldInputs held;
    InputReads input_reads;
    // When set, what the VIC-II shows is sampled into it at every raster
    // interrupt latch and frame start (catch_up) and when sample_vic() is
    // called; each display once, at most kMostVicSamples.
    std::vector<VicSample>* vic_samples = nullptr;
    void sample_vic(std::uint32_t times = 1);

    // Loads `image` into RAM and sets BASIC's pointers to its end as LOAD
    // does; the CPU starts at `entry` with a return address to BASIC on the
    // stack. An image that is BASIC's or the KERNAL's ROM (c64/rom_image.hpp)
    // is that ROM too, in place of our stand-ins.
    void load(const Image& image, std::uint16_t entry);

    enum class Area : std::uint8_t { Ram, Basic, Kernal, Chars, Io };
    // What the CPU sees at `address` with the port as it is now.
    Area area(std::uint16_t address) const;
    // Whether the ROM at `area` is the image's, not ours: no stand-in
    // answers there, and what runs there is the image's code.
    bool image_rom(Area area) const {
        return (area == Area::Basic && image_rom_.basic) || (area == Area::Kernal && image_rom_.kernal);
    }

    std::uint8_t io_read(std::uint16_t address) override;
    void io_write(std::uint16_t address, std::uint8_t value) override;
    void port_written() override;

    // Brings the chips up to the CPU's cycle count: raster matches and
    // timer underflows latch their interrupts and set the CPU's IRQ line.
    // Returns true when CIA 2 has just raised an NMI.
    bool catch_up();
    // The next cycle at which a chip may raise an interrupt.
    std::uint64_t next_event() const;
    // No new interrupts from now on (but the ones pending stay latched).
    void silence();

    // A stand-in that reads the keyboard was called: notes where it returns.
    void note_key_call(bool key_in_a);

    // The machine at one moment: RAM, the chips, the CPU's registers and its
    // count of cycles. What ran and what was written (the marks, the
    // writers) is not part of it: going back keeps what was seen.
    struct Snapshot;
    std::unique_ptr<Snapshot> snapshot() const;
    void restore(const Snapshot& moment);

private:
    void bank();
    void update_irq_line();
    std::uint8_t read_cia1(int reg);
    // The value of CIA 1's port A or B (`port` 0 or 1) with the keys and
    // joysticks held; notes the read.
    std::uint8_t sense(int port, std::uint8_t value);

    std::array<std::uint8_t, 0x2000> basic_{};
    std::array<std::uint8_t, 0x2000> kernal_{};
    std::array<std::uint8_t, 0x1000> chars_{};
    RomParts image_rom_;
    // The marks of code run from ROM or I/O land here, apart from RAM's.
    std::vector<std::uint8_t> rom_marks_ = std::vector<std::uint8_t>(0x10000);

    Vic vic_;
    std::array<std::uint8_t, 0x400> colours_{};
    // The instruction that last stored into each VIC register and into
    // CIA 2's port A or its direction (0: none).
    std::array<std::uint16_t, 0x40> vic_writers_{};
    std::uint16_t dd00_writer_ = 0;
    std::uint64_t next_frame_ = 0;       // the next frame's start, for sampling
    // Per sample: Cpu6510::last_news when it last looked at what was written.
    std::vector<std::uint64_t> sample_news_;
    bool written_in(std::uint32_t start, std::uint32_t size) const;
    std::pair<std::uint16_t, std::uint16_t> copied_in_order(std::uint32_t start, std::uint32_t size) const;
    Cia cia1_, cia2_;
    bool nmi_asserted_ = false;
    bool silent_ = false;
    std::uint32_t noise_ = 0x1234567;  // SID's oscillator 3 output, for random numbers
};

struct C64::Snapshot {
    // The 6510's port at $00/$01 is RAM's first two bytes; the page
    // tables follow from it. Not zeroed first: snapshot() fills them.
    std::array<std::uint8_t, 0x10000> ram;
    std::array<std::uint8_t, 0x400> colours;
    Vic vic;
    Cia cia1, cia2;
    bool nmi_asserted = false;
    bool silent = false;
    std::uint32_t noise = 0;
    std::uint16_t pc = 0;
    std::uint8_t a = 0, x = 0, y = 0, s = 0, p = 0;
    std::uint64_t cycles = 0, last_news = 0, last_main_store = 0;
    std::uint32_t interrupt_depth = 0;
};

// The vectors at $0314-$0333 as the KERNAL sets them (and RESTOR again).
extern const std::array<std::uint16_t, 16> kKernalVectors;

// The stand-in ROM images: halting opcodes everywhere except where real
// code of ours runs (interrupt entries and exits, vectors, the vectored
// entries of the KERNAL's jump table).
void build_roms(std::array<std::uint8_t, 0x2000>& basic, std::array<std::uint8_t, 0x2000>& kernal,
                std::array<std::uint8_t, 0x1000>& chars);

// What a stand-in did when the CPU halted at its address in visible ROM.
enum class StandIn : std::uint8_t {
    None,         // no stand-in here
    Returned,     // did the routine's work and returned to the caller
    BackToBasic,  // a way back into BASIC: the run ends
};
StandIn answer_stand_in(C64& c64);

// When the CPU halted in BASIC's or the KERNAL's ROM where no stand-in
// answers, and a jsr led there (straight, or through the jmp (vector) of
// the KERNAL's jump table it called): returns to the caller as if the
// routine had done nothing and says true. A jmp there is no call: false.
bool return_from_call_without_stand_in(C64& c64);

}  // namespace tolvek
