#include "c64/descriptions.hpp"

#include <algorithm>
#include <iterator>
#include <string_view>

namespace tolvek {
namespace {

// What calling each routine of the KERNAL's jump table does, by address.
struct RoutineWords {
    std::uint16_t address;
    std::string_view does;
};

constexpr RoutineWords kRoutines[] = {
    {0xff81, "set up the screen editor and the VIC-II"},
    {0xff84, "set up the CIAs and the other I/O"},
    {0xff87, "clear the system's RAM and find the top of memory"},
    {0xff8a, "set the KERNAL's RAM vectors to their defaults"},
    {0xff8d, "copy the RAM vectors to the table at X/Y (carry set) or from it"},
    {0xff90, "choose the KERNAL messages shown (A)"},
    {0xff93, "send the secondary address in A to a listener"},
    {0xff96, "send the secondary address in A to a talker"},
    {0xff99, "top of BASIC memory: read into X/Y (carry set) or set from X/Y"},
    {0xff9c, "bottom of BASIC memory: read into X/Y (carry set) or set from X/Y"},
    {0xff9f, "scan the keyboard into the key buffer"},
    {0xffa2, "set the IEEE-488 time-out (A)"},
    {0xffa5, "read a byte from the serial bus into A"},
    {0xffa8, "send the byte in A over the serial bus"},
    {0xffab, "tell the serial bus's talker to stop"},
    {0xffae, "tell the serial bus's listeners to stop"},
    {0xffb1, "make the device in A listen on the serial bus"},
    {0xffb4, "make the device in A talk on the serial bus"},
    {0xffb7, "read the status of the last I/O into A"},
    {0xffba, "set the file number (A), device (X) and secondary address (Y)"},
    {0xffbd, "set the file name: length in A, address in X/Y"},
    {0xffc0, "open the file that SETLFS and SETNAM set up"},
    {0xffc3, "close the file numbered in A"},
    {0xffc6, "read from the file numbered in X from now on"},
    {0xffc9, "write to the file numbered in X from now on"},
    {0xffcc, "back to the keyboard for input and the screen for output"},
    {0xffcf, "read a character from the input channel into A"},
    {0xffd2, "print the character in A"},
    {0xffd5, "load (A = 0) or verify a file, to X/Y if the secondary address is 0"},
    {0xffd8, "save memory from the pointer at zero page A up to X/Y"},
    {0xffdb, "set the clock of jiffies from A/X/Y"},
    {0xffde, "read the clock of jiffies into A/X/Y"},
    {0xffe1, "check the RUN/STOP key: Z set if it is down"},
    {0xffe4, "take a character from the keyboard buffer into A (0: none)"},
    {0xffe7, "close all files"},
    {0xffea, "count a jiffy on the clock"},
    {0xffed, "the screen's size: columns in X, rows in Y"},
    {0xfff0, "cursor row X, column Y: read (carry set) or set"},
    {0xfff3, "the address of the CIAs into X/Y"},
};

// What a register holds, as the program writes it and as it reads it
// (empty: nothing to say). The vectors' words are for both bytes.
struct RegisterWords {
    std::uint16_t address;
    std::uint16_t size;
    std::string_view written;
    std::string_view read;
};

constexpr RegisterWords kRegisters[] = {
    {0x0000, 1, "processor port: which of its lines are outputs", ""},
    {0x0001, 1, "processor port: which ROMs and whether the I/O are visible", "processor port: memory layout, tape"},
    {0x0314, 2, "IRQ handler's address", ""},
    {0x0316, 2, "BRK handler's address", ""},
    {0x0318, 2, "NMI handler's address", ""},
    // VIC-II
    {0xd000, 1, "sprite 0 x position", ""},
    {0xd001, 1, "sprite 0 y position", ""},
    {0xd002, 1, "sprite 1 x position", ""},
    {0xd003, 1, "sprite 1 y position", ""},
    {0xd004, 1, "sprite 2 x position", ""},
    {0xd005, 1, "sprite 2 y position", ""},
    {0xd006, 1, "sprite 3 x position", ""},
    {0xd007, 1, "sprite 3 y position", ""},
    {0xd008, 1, "sprite 4 x position", ""},
    {0xd009, 1, "sprite 4 y position", ""},
    {0xd00a, 1, "sprite 5 x position", ""},
    {0xd00b, 1, "sprite 5 y position", ""},
    {0xd00c, 1, "sprite 6 x position", ""},
    {0xd00d, 1, "sprite 6 y position", ""},
    {0xd00e, 1, "sprite 7 x position", ""},
    {0xd00f, 1, "sprite 7 y position", ""},
    {0xd010, 1, "bit 8 of each sprite's x position", ""},
    {0xd011, 1, "screen control: y scroll, 25 rows, screen on, bitmap, raster line bit 8", "bit 7: raster line bit 8"},
    {0xd012, 1, "raster line of the raster interrupt", "raster line now (low 8 bits)"},
    {0xd013, 1, "", "light pen x position"},
    {0xd014, 1, "", "light pen y position"},
    {0xd015, 1, "sprites shown", ""},
    {0xd016, 1, "screen control: x scroll, 40 columns, multicolour", ""},
    {0xd017, 1, "sprites of double height", ""},
    {0xd018, 1, "where the screen and the character set lie", ""},
    {0xd019, 1, "acknowledge VIC-II interrupts", "VIC-II interrupt status"},
    {0xd01a, 1, "which VIC-II interrupts are enabled (raster, collisions, light pen)", ""},
    {0xd01b, 1, "sprites behind the background", ""},
    {0xd01c, 1, "multicolour sprites", ""},
    {0xd01d, 1, "sprites of double width", ""},
    {0xd01e, 1, "", "sprite-sprite collisions"},
    {0xd01f, 1, "", "sprite-background collisions"},
    {0xd020, 1, "border colour", ""},
    {0xd021, 1, "background colour", ""},
    {0xd022, 1, "background colour 1", ""},
    {0xd023, 1, "background colour 2", ""},
    {0xd024, 1, "background colour 3", ""},
    {0xd025, 1, "sprite multicolour 0", ""},
    {0xd026, 1, "sprite multicolour 1", ""},
    {0xd027, 1, "sprite 0 colour", ""},
    {0xd028, 1, "sprite 1 colour", ""},
    {0xd029, 1, "sprite 2 colour", ""},
    {0xd02a, 1, "sprite 3 colour", ""},
    {0xd02b, 1, "sprite 4 colour", ""},
    {0xd02c, 1, "sprite 5 colour", ""},
    {0xd02d, 1, "sprite 6 colour", ""},
    {0xd02e, 1, "sprite 7 colour", ""},
    // SID
    {0xd400, 1, "voice 1 frequency, low byte", ""},
    {0xd401, 1, "voice 1 frequency, high byte", ""},
    {0xd402, 1, "voice 1 pulse width, low byte", ""},
    {0xd403, 1, "voice 1 pulse width, high bits", ""},
    {0xd404, 1, "voice 1 waveform and gate", ""},
    {0xd405, 1, "voice 1 attack and decay", ""},
    {0xd406, 1, "voice 1 sustain and release", ""},
    {0xd407, 1, "voice 2 frequency, low byte", ""},
    {0xd408, 1, "voice 2 frequency, high byte", ""},
    {0xd409, 1, "voice 2 pulse width, low byte", ""},
    {0xd40a, 1, "voice 2 pulse width, high bits", ""},
    {0xd40b, 1, "voice 2 waveform and gate", ""},
    {0xd40c, 1, "voice 2 attack and decay", ""},
    {0xd40d, 1, "voice 2 sustain and release", ""},
    {0xd40e, 1, "voice 3 frequency, low byte", ""},
    {0xd40f, 1, "voice 3 frequency, high byte", ""},
    {0xd410, 1, "voice 3 pulse width, low byte", ""},
    {0xd411, 1, "voice 3 pulse width, high bits", ""},
    {0xd412, 1, "voice 3 waveform and gate", ""},
    {0xd413, 1, "voice 3 attack and decay", ""},
    {0xd414, 1, "voice 3 sustain and release", ""},
    {0xd415, 1, "filter cutoff, low bits", ""},
    {0xd416, 1, "filter cutoff, high byte", ""},
    {0xd417, 1, "filter resonance and the voices filtered", ""},
    {0xd418, 1, "volume and filter mode", ""},
    {0xd419, 1, "", "paddle x"},
    {0xd41a, 1, "", "paddle y"},
    {0xd41b, 1, "", "voice 3 waveform output: random with noise"},
    {0xd41c, 1, "", "voice 3 envelope"},
    // CIA 1
    {0xdc00, 1, "keyboard columns to scan", "joystick 2, keyboard"},
    {0xdc01, 1, "CIA 1 port B", "keyboard rows, joystick 1"},
    {0xdc02, 1, "CIA 1 port A: which lines are outputs", ""},
    {0xdc03, 1, "CIA 1 port B: which lines are outputs", ""},
    {0xdc04, 1, "CIA 1 timer A start, low byte", "CIA 1 timer A, low byte"},
    {0xdc05, 1, "CIA 1 timer A start, high byte", "CIA 1 timer A, high byte"},
    {0xdc06, 1, "CIA 1 timer B start, low byte", "CIA 1 timer B, low byte"},
    {0xdc07, 1, "CIA 1 timer B start, high byte", "CIA 1 timer B, high byte"},
    {0xdc08, 1, "CIA 1 clock: tenths of seconds", "CIA 1 clock: tenths of seconds"},
    {0xdc09, 1, "CIA 1 clock: seconds", "CIA 1 clock: seconds"},
    {0xdc0a, 1, "CIA 1 clock: minutes", "CIA 1 clock: minutes"},
    {0xdc0b, 1, "CIA 1 clock: hours", "CIA 1 clock: hours"},
    {0xdc0c, 1, "CIA 1 serial data", "CIA 1 serial data"},
    {0xdc0d, 1, "which CIA 1 interrupts are enabled (bit 7: set or clear the others)", "CIA 1 interrupt status, acknowledged by reading"},
    {0xdc0e, 1, "CIA 1 timer A control", ""},
    {0xdc0f, 1, "CIA 1 timer B control", ""},
    // CIA 2
    {0xdd00, 1, "VIC-II bank (bits 0-1) and serial bus", "serial bus lines"},
    {0xdd01, 1, "user port", "user port"},
    {0xdd02, 1, "CIA 2 port A: which lines are outputs", ""},
    {0xdd03, 1, "CIA 2 port B: which lines are outputs", ""},
    {0xdd04, 1, "CIA 2 timer A start, low byte", "CIA 2 timer A, low byte"},
    {0xdd05, 1, "CIA 2 timer A start, high byte", "CIA 2 timer A, high byte"},
    {0xdd06, 1, "CIA 2 timer B start, low byte", "CIA 2 timer B, low byte"},
    {0xdd07, 1, "CIA 2 timer B start, high byte", "CIA 2 timer B, high byte"},
    {0xdd08, 1, "CIA 2 clock: tenths of seconds", "CIA 2 clock: tenths of seconds"},
    {0xdd09, 1, "CIA 2 clock: seconds", "CIA 2 clock: seconds"},
    {0xdd0a, 1, "CIA 2 clock: minutes", "CIA 2 clock: minutes"},
    {0xdd0b, 1, "CIA 2 clock: hours", "CIA 2 clock: hours"},
    {0xdd0c, 1, "CIA 2 serial data", "CIA 2 serial data"},
    {0xdd0d, 1, "which CIA 2 interrupts (NMI) are enabled (bit 7: set or clear the others)", "CIA 2 interrupt status, acknowledged by reading"},
    {0xdd0e, 1, "CIA 2 timer A control", ""},
    {0xdd0f, 1, "CIA 2 timer B control", ""},
    // the CPU's own vectors, in the RAM under the KERNAL
    {0xfffa, 2, "NMI vector", ""},
    {0xfffc, 2, "reset vector", ""},
    {0xfffe, 2, "IRQ vector", ""},
};

template <class Table>
constexpr bool sorted_by_address(const Table& table) {
    for (std::size_t i = 1; i < std::size(table); ++i) {
        if (table[i - 1].address + (table[i - 1].size - 1) >= table[i].address) return false;
    }
    return true;
}

static_assert(sorted_by_address(kRegisters), "registers in address order, not overlapping");

}  // namespace

std::string describe_use(std::uint32_t address, Use use) {
    if (use == Use::Call) {
        const auto* it = std::find_if(std::begin(kRoutines), std::end(kRoutines),
                                      [&](const RoutineWords& r) { return r.address == address; });
        return it == std::end(kRoutines) ? std::string() : std::string(it->does);
    }
    const auto* it = std::find_if(std::begin(kRegisters), std::end(kRegisters), [&](const RegisterWords& r) {
        return address >= r.address && address < static_cast<std::uint32_t>(r.address) + r.size;
    });
    if (it == std::end(kRegisters)) return {};
    std::string words(use == Use::Write ? it->written : it->read);
    // A vector's two bytes are stored one at a time.
    if (!words.empty() && it->size == 2) words += address == it->address ? ", low byte" : ", high byte";
    return words;
}

}  // namespace tolvek
