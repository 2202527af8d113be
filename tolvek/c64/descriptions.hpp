// What the C64's well-known addresses are for, in a few words of our own:
// for the comment beside an instruction that calls a KERNAL routine or uses
// a register of the VIC-II, the SID, a CIA, the processor port or one of
// the interrupt vectors. The names of these addresses are in symbols.hpp.
#pragma once

#include <cstdint>
#include <string>

namespace tolvek {

// How an instruction uses the address its operand names.
enum class Use : std::uint8_t {
    Call,   // jsr or jmp: runs the routine there
    Write,  // stores there (also read-modify-write)
    Read,   // reads it
};

// The words for `use` of `address`: what a KERNAL routine does when called,
// what a register holds when written or read. Empty where there is nothing
// worth saying (a register read for no telling reason, a call into the
// middle of a routine, an address that is none of these).
std::string describe_use(std::uint32_t address, Use use);

}  // namespace tolvek
