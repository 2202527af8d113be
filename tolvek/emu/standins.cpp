// Our own ROM images and the ROM routines answered in C++. The images hold
// the halting opcode $02 nearly everywhere, so that the CPU stops wherever a
// program goes into ROM; at the addresses below, the halt is a stand-in
// that does what the routine does to the registers and RAM and returns.
#include <algorithm>
#include <initializer_list>
#include <optional>
#include <string>

#include "cpu/behaviour.hpp"
#include "cpu/opcodes.hpp"
#include "emu/c64.hpp"

namespace tolvek {
namespace {

constexpr std::uint8_t kHalt = 0x02;
// About what a short ROM routine takes; time must pass in loops that call
// the KERNAL, or a program waiting for a key would never be found waiting.
constexpr std::uint64_t kStandInCycles = 40;

template <std::size_t N>
void put(std::array<std::uint8_t, N>& rom, std::uint16_t base, std::uint16_t address,
         std::initializer_list<std::uint8_t> bytes) {
    std::copy(bytes.begin(), bytes.end(), rom.begin() + (address - base));
}

enum class Routine : std::uint8_t {
    Chrout, ScreenOut, Chrin, Getin, Stop, Open, Close, Chkin, Chkout, Clrchn, Clall, LoadSave,
    Readst, Setlfs, Setnam, Setmsg, Settmo, Memtop, Membot, Rdtim, Settim, Udtim,
    Screen, Plot, Iobase, Restor, Vector, Serial, ClearScreen, Home, LinePointer, ColourPointer, CursorLine,
    ClearLine, ScreenEditor, Ioinit, Ramtas, Scnkey, PrintString, PrintNumber, PrintReturn, Basic,
};

struct Entry {
    std::uint16_t address;
    Routine routine;
};

// The KERNAL's jump table where its entry does not go through a RAM
// vector, the routines the vectors at $0314-$0333 point to, routines
// programs call directly, and BASIC's ways back to READY.
constexpr Entry kStandIns[] = {
    {0xa474, Routine::Basic},        // READY.
    {0xa483, Routine::Basic},        // the main loop, through ($0302)
    {0xa7ae, Routine::Basic},        // the interpreter's next statement
    {0xa7e4, Routine::Basic},        // execute a statement, through ($0308)
    {0xaad7, Routine::PrintReturn},  // print a carriage return
    {0xab1e, Routine::PrintString},  // print the zero-terminated string at A/Y
    {0xbdcd, Routine::PrintNumber},  // print the number X/A in decimal
    {kBackFromSys, Routine::Basic},  // SYS after the program returned
    {0xe37b, Routine::Basic},        // warm start, through ($A002)
    {0xe38b, Routine::Basic},        // error message, through ($0300)
    {0xe394, Routine::Basic},        // cold start, through ($A000)
    {0xe500, Routine::Iobase},
    {0xe505, Routine::Screen},
    {0xe50a, Routine::Plot},
    {0xe544, Routine::ClearScreen},
    {0xe566, Routine::Home},
    {0xe56c, Routine::CursorLine},   // the cursor's line ($D6) into $D1/$D2 and $F3/$F4
    {0xe716, Routine::ScreenOut},
    {0xe9f0, Routine::LinePointer},  // the screen line X's address into $D1/$D2
    {0xe9ff, Routine::ClearLine},    // spaces in screen line X
    {0xea24, Routine::ColourPointer},  // and its colour RAM's into $F3/$F4
    {0xea87, Routine::Scnkey},       // scan the keyboard
    {0xf13e, Routine::Getin},
    {0xf157, Routine::Chrin},
    {0xf1ca, Routine::Chrout},
    {0xf20e, Routine::Chkin},
    {0xf250, Routine::Chkout},
    {0xf291, Routine::Close},
    {0xf32f, Routine::Clall},
    {0xf333, Routine::Clrchn},
    {0xf34a, Routine::Open},
    {0xf4a5, Routine::LoadSave},     // LOAD, through ($0330)
    {0xf5ed, Routine::LoadSave},     // SAVE, through ($0332)
    {0xf69b, Routine::Udtim},
    {0xf6dd, Routine::Rdtim},
    {0xf6e4, Routine::Settim},
    {0xf6ed, Routine::Stop},
    {0xfce2, Routine::Basic},        // reset
    {0xfd15, Routine::Restor},
    {0xfd1a, Routine::Vector},
    {0xfd50, Routine::Ramtas},
    {0xfda3, Routine::Ioinit},
    {0xfe66, Routine::Basic},        // brk, through ($0316): warm start
    {0xff5b, Routine::ScreenEditor},  // CINT
    {0xff81, Routine::ScreenEditor},  // CINT
    {0xff84, Routine::Ioinit},
    {0xff87, Routine::Ramtas},
    {0xff8a, Routine::Restor},
    {0xff8d, Routine::Vector},
    {0xff90, Routine::Setmsg},
    {0xff93, Routine::Serial},       // SECOND
    {0xff96, Routine::Serial},       // TKSA
    {0xff99, Routine::Memtop},
    {0xff9c, Routine::Membot},
    {0xff9f, Routine::Scnkey},
    {0xffa2, Routine::Settmo},
    {0xffa5, Routine::Serial},       // ACPTR
    {0xffa8, Routine::Serial},       // CIOUT
    {0xffab, Routine::Serial},       // UNTLK
    {0xffae, Routine::Serial},       // UNLSN
    {0xffb1, Routine::Serial},       // LISTEN
    {0xffb4, Routine::Serial},       // TALK
    {0xffb7, Routine::Readst},
    {0xffba, Routine::Setlfs},
    {0xffbd, Routine::Setnam},
    {0xffd5, Routine::LoadSave},     // LOAD
    {0xffd8, Routine::LoadSave},     // SAVE
    {0xffdb, Routine::Settim},
    {0xffde, Routine::Rdtim},
    {0xffea, Routine::Udtim},
    {0xffed, Routine::Screen},
    {0xfff0, Routine::Plot},
    {0xfff3, Routine::Iobase},
};

// The jump table entries that go through the RAM vectors, so that a
// program's own routine in the vector gets called: jmp ($vector).
constexpr std::pair<std::uint16_t, std::uint8_t> kVectoredEntries[] = {
    {0xffc0, 0x1a}, {0xffc3, 0x1c}, {0xffc6, 0x1e}, {0xffc9, 0x20}, {0xffcc, 0x22},  // OPEN..CLRCHN
    {0xffcf, 0x24}, {0xffd2, 0x26}, {0xffe1, 0x28}, {0xffe4, 0x2a}, {0xffe7, 0x2c},  // CHRIN..CLALL
};

// The KERNAL's bookkeeping of files: how many are open, their numbers,
// devices and secondary addresses, and the current input and output.
constexpr std::uint16_t kOpenFiles = 0x98;
constexpr std::uint16_t kFileNumbers = 0x0259;
constexpr std::uint16_t kFileDevices = 0x0263;
constexpr std::uint16_t kFileSecondaries = 0x026d;
constexpr std::uint16_t kInput = 0x99;
constexpr std::uint16_t kOutput = 0x9a;
constexpr std::uint8_t kScreen = 3;

class Answer {
public:
    explicit Answer(C64& c64) : c64_(c64), cpu_(c64.cpu) {}

    void run(Routine routine);

private:
    std::uint8_t peek(std::uint16_t address) { return cpu_.read(address); }
    void poke(std::uint16_t address, std::uint8_t value) { cpu_.write(address, value); }
    void set_nz(std::uint8_t value) {
        cpu_.p = static_cast<std::uint8_t>((cpu_.p & ~(flag::N | flag::Z)) | (value & flag::N) |
                                           (value == 0 ? flag::Z : 0));
    }
    void load_a(std::uint8_t value) {
        cpu_.a = value;
        set_nz(value);
    }
    void carry(bool set) {
        cpu_.p = static_cast<std::uint8_t>(set ? cpu_.p | flag::C : cpu_.p & ~flag::C);
    }
    // The KERNAL's way to fail: carry set, the error number in A.
    void fail(std::uint8_t error) {
        load_a(error);
        carry(true);
    }
    void print(std::uint8_t petscii) { c64_.printed.push_back(static_cast<char>(petscii)); }
    // A, X and Y into three addresses, or from them.
    void poke_registers(std::uint16_t for_a, std::uint16_t for_x, std::uint16_t for_y) {
        poke(for_a, cpu_.a);
        poke(for_x, cpu_.x);
        poke(for_y, cpu_.y);
    }
    void peek_registers(std::uint16_t for_a, std::uint16_t for_x, std::uint16_t for_y) {
        cpu_.a = peek(for_a);
        cpu_.x = peek(for_x);
        cpu_.y = peek(for_y);
    }
    void set_xy(std::uint8_t x, std::uint8_t y) {
        cpu_.x = x;
        cpu_.y = y;
    }
    void succeed_with(std::uint8_t a) {
        load_a(a);
        carry(false);
    }
    // The KERNAL's table of open files: the device of logical file `file`,
    // or -1.
    int device_of(std::uint8_t file);
    void open();
    void close();
    void choose(bool output);
    void clear_channels();
    void memory_bound(std::uint16_t pointer);
    void count_jiffy();
    void plot();
    void restore_vectors();
    void copy_vectors();
    void clear_screen();
    void clear_line(std::uint8_t row);
    void start_screen_editor();
    void start_chips();
    void test_ram();
    void home();
    void print_string();
    std::optional<std::uint8_t> next_key();
    void chrin();
    // The cursor's line: its address on the screen and in colour RAM.
    void point_at_line(std::uint8_t row) {
        const auto line = static_cast<std::uint16_t>((peek(0x0288) << 8) + row * 40);
        poke(0xd1, static_cast<std::uint8_t>(line & 0xff));
        poke(0xd2, static_cast<std::uint8_t>(line >> 8));
        poke(0xf3, static_cast<std::uint8_t>(line & 0xff));
        poke(0xf4, static_cast<std::uint8_t>(((line >> 8) & 0x03) | 0xd8));
    }

    C64& c64_;
    Cpu6510& cpu_;
};

// One line a routine: what each does is a call of its own below, or as
// short as that.
void Answer::run(Routine routine) {
    switch (routine) {
    case Routine::Chrout:  // to the screen unless the output went elsewhere
        if (peek(kOutput) == kScreen) print(cpu_.a);
        return carry(false);
    case Routine::ScreenOut: return print(cpu_.a);
    case Routine::Chrin: return chrin();
    case Routine::Getin:
        c64_.note_key_call(true);
        return succeed_with(next_key().value_or(0));  // 0: no key
    case Routine::Stop: cpu_.p = static_cast<std::uint8_t>(cpu_.p & ~flag::Z); return;  // not pressed
    case Routine::Open: return open();
    case Routine::Close: return close();
    case Routine::Chkin: return choose(false);
    case Routine::Chkout: return choose(true);
    case Routine::Clall: poke(kOpenFiles, 0); return clear_channels();
    case Routine::Clrchn: return clear_channels();
    case Routine::LoadSave: return fail(5);  // device not present
    case Routine::Readst: return load_a(peek(0x90));
    case Routine::Setlfs: return poke_registers(0xb8, 0xba, 0xb9);  // file, device, secondary address
    case Routine::Setnam: return poke_registers(0xb7, 0xbb, 0xbc);  // length, address
    case Routine::Setmsg: return poke(0x9d, cpu_.a);
    case Routine::Settmo: return poke(0x0285, cpu_.a);
    case Routine::Memtop: return memory_bound(0x0283);
    case Routine::Membot: return memory_bound(0x0281);
    case Routine::Rdtim: return peek_registers(0xa2, 0xa1, 0xa0);
    case Routine::Settim: return poke_registers(0xa2, 0xa1, 0xa0);
    case Routine::Udtim: return count_jiffy();
    case Routine::Screen: return set_xy(40, 25);
    case Routine::Plot: return plot();
    case Routine::Iobase: return set_xy(0x00, 0xdc);
    case Routine::Restor: return restore_vectors();
    case Routine::Vector: return copy_vectors();
    case Routine::Serial: return poke(0x90, static_cast<std::uint8_t>(peek(0x90) | 0x80));  // device not present
    case Routine::ClearScreen: clear_screen(); return home();
    case Routine::Home: return home();
    case Routine::LinePointer: return point_at_line(cpu_.x);
    case Routine::ColourPointer:
        poke(0xf3, peek(0xd1));
        return poke(0xf4, static_cast<std::uint8_t>((peek(0xd2) & 0x03) | 0xd8));
    case Routine::CursorLine: return point_at_line(peek(0xd6));
    case Routine::ClearLine: return clear_line(cpu_.x);
    case Routine::ScreenEditor: return start_screen_editor();
    case Routine::Ioinit: return start_chips();
    case Routine::Ramtas: return test_ram();
    case Routine::PrintReturn: return print(0x0d);
    case Routine::Scnkey: return c64_.note_key_call(false);  // the keys come through the buffer already
    case Routine::PrintString: return print_string();
    case Routine::PrintNumber:
        for (const char digit : std::to_string(cpu_.x | (cpu_.a << 8))) print(static_cast<std::uint8_t>(digit));
        return;
    case Routine::Basic: return;
    }
}

void Answer::clear_channels() {
    poke(kInput, 0);
    poke(kOutput, kScreen);
}

// MEMTOP and MEMBOT: carry set reads the pointer into X/Y, clear sets it.
void Answer::memory_bound(std::uint16_t pointer) {
    if ((cpu_.p & flag::C) != 0) {
        cpu_.x = peek(pointer);
        cpu_.y = peek(static_cast<std::uint16_t>(pointer + 1));
    } else {
        poke(pointer, cpu_.x);
        poke(static_cast<std::uint16_t>(pointer + 1), cpu_.y);
    }
}

// The jiffy clock at $A0-$A2, high byte first, one tick on.
void Answer::count_jiffy() {
    for (std::uint16_t at = 0xa2; at >= 0xa0; --at) {
        const auto value = static_cast<std::uint8_t>(peek(at) + 1);
        poke(at, value);
        if (value != 0) break;
    }
}

// Carry set reads the cursor (row in X, column in Y), clear moves it.
void Answer::plot() {
    if ((cpu_.p & flag::C) != 0) {
        cpu_.x = peek(0xd6);
        cpu_.y = peek(0xd3);
        return;
    }
    poke(0xd6, cpu_.x);
    poke(0xd3, cpu_.y);
    point_at_line(cpu_.x);
    carry(false);
}

void Answer::restore_vectors() {
    for (std::size_t i = 0; i < kKernalVectors.size(); ++i) {
        const auto at = static_cast<std::uint16_t>(0x0314 + 2 * i);
        poke(at, static_cast<std::uint8_t>(kKernalVectors[i] & 0xff));
        poke(static_cast<std::uint16_t>(at + 1), static_cast<std::uint8_t>(kKernalVectors[i] >> 8));
    }
}

// Carry set copies the vectors to (X/Y), clear copies them from there.
void Answer::copy_vectors() {
    const auto table = static_cast<std::uint16_t>(cpu_.x | (cpu_.y << 8));
    for (std::uint16_t i = 0; i < 32; ++i) {
        const auto there = static_cast<std::uint16_t>(table + i);
        const auto vector = static_cast<std::uint16_t>(0x0314 + i);
        if ((cpu_.p & flag::C) != 0) {
            poke(there, peek(vector));
        } else {
            poke(vector, peek(there));
        }
    }
}

// Spaces on the screen, the text colour in colour RAM.
void Answer::clear_screen() {
    const auto screen = static_cast<std::uint16_t>(peek(0x0288) << 8);
    for (std::uint16_t i = 0; i < 1000; ++i) {
        poke(static_cast<std::uint16_t>(screen + i), 0x20);
        c64_.io_write(static_cast<std::uint16_t>(0xd800 + i), peek(0x0286));
    }
}

void Answer::clear_line(std::uint8_t row) {
    if (row >= 25) return;
    const auto line = static_cast<std::uint16_t>((peek(0x0288) << 8) + row * 40);
    for (std::uint16_t i = 0; i < 40; ++i) {
        poke(static_cast<std::uint16_t>(line + i), 0x20);
        c64_.io_write(static_cast<std::uint16_t>(0xd800 + row * 40 + i), peek(0x0286));
    }
}

// CINT: the VIC as at power-on (text mode, screen at $0400, the border
// light blue on blue), the screen editor's settings, a cleared screen.
void Answer::start_screen_editor() {
    constexpr std::pair<std::uint16_t, std::uint8_t> kVic[] = {
        {0xd011, 0x1b}, {0xd015, 0x00}, {0xd016, 0xc8}, {0xd018, 0x15},
        {0xd01a, 0x00}, {0xd020, 0x0e}, {0xd021, 0x06},
    };
    for (const auto& [reg, value] : kVic) poke(reg, value);
    poke(0x0286, 0x0e);  // text colour
    poke(0x0289, 10);    // keyboard buffer size
    poke(0xc6, 0);       // no keys waiting
    clear_channels();
    clear_screen();
    home();
}

// IOINIT: both CIAs' interrupts off, their ports as at power-on, the
// processor port with BASIC, KERNAL and I/O in view, and CIA 1's timer A
// interrupting 60 times a second again.
void Answer::start_chips() {
    const std::pair<std::uint16_t, std::uint8_t> kPorts[] = {
        {0xdc0d, 0x7f}, {0xdd0d, 0x7f}, {0xdc00, 0x7f}, {0xdc02, 0xff}, {0xdc03, 0x00}, {0xdd00, 0x97}, {0xdd02, 0x3f}, {0xdd0e, 0x08},
    };
    for (const auto& [reg, value] : kPorts) c64_.io_write(reg, value);
    poke(0x00, 0x2f);
    poke(0x01, 0x37);
    c64_.io_write(0xdc04, 0x25);
    c64_.io_write(0xdc05, 0x40);
    c64_.io_write(0xdc0d, 0x81);
    c64_.io_write(0xdc0e, 0x11);
}

// RAMTAS: zeroes $0002-$0101 and $0200-$03FF (the KERNAL's vectors among
// them), then sets the tape buffer, the bounds of BASIC's memory and the
// screen's page as it finds them on a C64 with all of its RAM.
void Answer::test_ram() {
    for (std::uint16_t i = 0; i < 0x100; ++i) {
        poke(static_cast<std::uint16_t>(0x0002 + i), 0);
        poke(static_cast<std::uint16_t>(0x0200 + i), 0);
        poke(static_cast<std::uint16_t>(0x0300 + i), 0);
    }
    const std::pair<std::uint16_t, std::uint8_t> kSettings[] = {
        {0xb2, 0x3c}, {0xb3, 0x03}, {0x0281, 0x00}, {0x0282, 0x08}, {0x0283, 0x00}, {0x0284, 0xa0}, {0x0288, 0x04},
    };
    for (const auto& [address, value] : kSettings) poke(address, value);
}

void Answer::home() {
    poke(0xd3, 0);
    poke(0xd6, 0);
    point_at_line(0);
}

// The zero-terminated string at A/Y.
void Answer::print_string() {
    auto at = static_cast<std::uint16_t>(cpu_.a | (cpu_.y << 8));
    for (int i = 0; i < 0x10000; ++i, ++at) {
        const std::uint8_t petscii = peek(at);
        if (petscii == 0) break;
        print(petscii);
    }
}

// The first key in the keyboard buffer ($0277 on, $C6 of them), taken out.
// The KERNAL's bookkeeping, not the program's stores: RAM changes, the
// marks do not (a program that waits for a key finds nothing new).
std::optional<std::uint8_t> Answer::next_key() {
    auto& ram = c64_.ram;
    const std::uint8_t count = std::min<std::uint8_t>(ram[0xc6], 10);
    if (count == 0) return std::nullopt;
    const std::uint8_t key = ram[0x0277];
    std::copy(ram.begin() + 0x0278, ram.begin() + 0x0277 + count, ram.begin() + 0x0277);
    ram[0xc6] = static_cast<std::uint8_t>(count - 1);
    return key;
}

// From the keyboard: the keys typed, then the end of an empty line; from
// the screen, too, a line's end.
void Answer::chrin() {
    if (peek(kInput) != 0) return succeed_with(0x0d);
    c64_.note_key_call(true);
    succeed_with(next_key().value_or(0x0d));
}

int Answer::device_of(std::uint8_t file) {
    for (std::uint16_t i = 0; i < peek(kOpenFiles) && i < 10; ++i) {
        if (peek(static_cast<std::uint16_t>(kFileNumbers + i)) == file) {
            return peek(static_cast<std::uint16_t>(kFileDevices + i));
        }
    }
    return -1;
}

// Files on the keyboard and the screen open; there are no drives, tapes or
// printers.
void Answer::open() {
    const std::uint8_t file = peek(0xb8), device = peek(0xba), count = peek(kOpenFiles);
    if (device_of(file) >= 0) return fail(2);  // file open
    if (count >= 10) return fail(1);           // too many files
    if (device != 0 && device != kScreen) return fail(5);  // device not present
    poke(static_cast<std::uint16_t>(kFileNumbers + count), file);
    poke(static_cast<std::uint16_t>(kFileDevices + count), device);
    poke(static_cast<std::uint16_t>(kFileSecondaries + count), peek(0xb9));
    poke(kOpenFiles, static_cast<std::uint8_t>(count + 1));
    carry(false);
}

// The last entry of the table takes the closed file's place.
void Answer::close() {
    const std::uint8_t count = peek(kOpenFiles);
    for (std::uint16_t i = 0; i < count && i < 10; ++i) {
        if (peek(static_cast<std::uint16_t>(kFileNumbers + i)) != cpu_.a) continue;
        const auto last = static_cast<std::uint16_t>(count - 1);
        for (const std::uint16_t table : {kFileNumbers, kFileDevices, kFileSecondaries}) {
            poke(static_cast<std::uint16_t>(table + i), peek(static_cast<std::uint16_t>(table + last)));
        }
        poke(kOpenFiles, static_cast<std::uint8_t>(last));
        break;
    }
    carry(false);
}

// CHKIN and CHKOUT: file X becomes the input or output.
void Answer::choose(bool output) {
    const int device = device_of(cpu_.x);
    if (device < 0) return fail(3);                  // file not open
    if (output && device == 0) return fail(7);       // not an output file
    poke(output ? kOutput : kInput, static_cast<std::uint8_t>(device));
    carry(false);
}

}  // namespace

void build_roms(std::array<std::uint8_t, 0x2000>& basic, std::array<std::uint8_t, 0x2000>& kernal,
                std::array<std::uint8_t, 0x1000>& chars) {
    basic.fill(kHalt);
    kernal.fill(kHalt);
    chars.fill(kHalt);
    put(basic, 0xa000, 0xa000, {0x94, 0xe3, 0x7b, 0xe3});  // BASIC's cold and warm start
    // The IRQ exit most handlers jump to: count the jiffy clock at
    // $A0-$A2, acknowledge CIA 1, then as $EA81.
    put(kernal, 0xe000, 0xea31, {
        0xe6, 0xa2, 0xd0, 0x06,  // inc $a2, bne +6
        0xe6, 0xa1, 0xd0, 0x02,  // inc $a1, bne +2
        0xe6, 0xa0,              // inc $a0
        0xad, 0x0d, 0xdc,        // lda $dc0d
        0x4c, 0x81, 0xea,        // jmp $ea81
    });
    put(kernal, 0xe000, 0xea81, {0x68, 0xa8, 0x68, 0xaa, 0x68, 0x40});  // pla tay pla tax pla rti
    put(kernal, 0xe000, 0xfe43, {0x78, 0x6c, 0x18, 0x03});              // NMI: sei, jmp ($0318)
    put(kernal, 0xe000, 0xfe47, {0x2c, 0x0d, 0xdd, 0x40});              // bit $dd0d (acknowledge), rti
    put(kernal, 0xe000, 0xfebc, {0x68, 0xa8, 0x68, 0xaa, 0x68, 0x40});  // the NMI exit: as $EA81
    // IRQ and brk: push A, X, Y; brk (the B bit pushed with p) goes through
    // ($0316), an interrupt through ($0314).
    put(kernal, 0xe000, 0xff48, {
        0x48, 0x8a, 0x48, 0x98, 0x48,  // pha txa pha tya pha
        0xba, 0xbd, 0x04, 0x01,        // tsx, lda $0104,x
        0x29, 0x10, 0xf0, 0x03,        // and #$10, beq +3
        0x6c, 0x16, 0x03,              // jmp ($0316)
        0x6c, 0x14, 0x03,              // jmp ($0314)
    });
    for (const auto& [entry, vector] : kVectoredEntries) put(kernal, 0xe000, entry, {0x6c, vector, 0x03});
    put(kernal, 0xe000, 0xfffa, {0x43, 0xfe, 0xe2, 0xfc, 0x48, 0xff});  // NMI, reset, IRQ
}

namespace {

// rts, as a routine ends.
void return_to_caller(C64& c64) {
    Cpu6510& cpu = c64.cpu;
    const std::uint8_t low = cpu.pull();
    const std::uint8_t high = cpu.pull();
    cpu.pc = static_cast<std::uint16_t>((low | (high << 8)) + 1);
    c64.run_mark_page[cpu.pc >> 8][cpu.pc & 0xff] |= mark::Entered;
    cpu.cycles += kStandInCycles;
}

// Memory as the CPU sees it, without reading the chips (which may change
// as they are read): nothing there.
std::optional<std::uint8_t> look_at(const C64& c64, std::uint16_t address) {
    const std::uint8_t* page = c64.read_page[address >> 8];
    if (page == nullptr) return std::nullopt;
    return page[address & 0xff];
}

std::optional<std::uint16_t> word_at(const C64& c64, std::uint16_t address) {
    const auto low = look_at(c64, address);
    const auto high = look_at(c64, static_cast<std::uint16_t>(address + 1));
    if (!low || !high) return std::nullopt;
    return static_cast<std::uint16_t>(*low | (*high << 8));
}

// Whether the return address on top of the stack follows a jsr that led to
// pc: its operand is pc, or a jmp (vector) that holds pc.
bool called_here(const C64& c64) {
    const Cpu6510& cpu = c64.cpu;
    if (cpu.s > 0xfd) return false;
    const auto pushed = static_cast<std::uint16_t>(c64.ram[0x100u + cpu.s + 1] | (c64.ram[0x100u + cpu.s + 2] << 8));
    const auto call = static_cast<std::uint16_t>(pushed - 2);  // jsr pushes the address of its last byte
    const auto opcode_byte = look_at(c64, call);
    if (!opcode_byte || behaviour(*opcode_byte).control != Control::Call) return false;
    const auto target = word_at(c64, static_cast<std::uint16_t>(call + 1));
    if (!target) return false;
    if (*target == cpu.pc) return true;
    const auto at_target = look_at(c64, *target);
    if (!at_target || behaviour(*at_target).control != Control::JumpIndirect) return false;
    const auto vector = word_at(c64, static_cast<std::uint16_t>(*target + 1));
    return vector && word_at(c64, *vector) == cpu.pc;
}

}  // namespace

StandIn answer_stand_in(C64& c64) {
    Cpu6510& cpu = c64.cpu;
    const auto found = std::find_if(std::begin(kStandIns), std::end(kStandIns),
                                    [&](const Entry& entry) { return entry.address == cpu.pc; });
    if (found == std::end(kStandIns)) return StandIn::None;
    if (found->routine == Routine::Basic) return StandIn::BackToBasic;
    Answer(c64).run(found->routine);
    return_to_caller(c64);
    return StandIn::Returned;
}

bool return_from_call_without_stand_in(C64& c64) {
    const C64::Area area = c64.area(c64.cpu.pc);
    if ((area != C64::Area::Basic && area != C64::Area::Kernal) || !called_here(c64)) return false;
    c64.calls_without_stand_in.insert(c64.cpu.pc);
    return_to_caller(c64);
    return true;
}

}  // namespace tolvek
