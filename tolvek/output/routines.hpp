// What reaches each routine of a program, and the roles Tolvek knows parts
// of it by, from what the analysis found: for the heading the listing
// writes before a routine and for the names of labels.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "analysis/memory_map.hpp"

namespace tolvek {

// The routines' starts, each with a line saying what reaches it ("entry
// point, called from 2 places"). A routine starts at the entry, at the
// address of a SYS statement, at a cartridge's or a ROM's starts, at a
// handler the program installs in a vector, at the unpacker's bytes in the
// image, at an address that a table of addresses holds or that a jsr calls,
// and where the run entered code that nothing else leads to. By address;
// only instructions of the image after its BASIC program.
std::map<std::uint32_t, std::string> routine_headings(const MemoryMap& map);

// The names of the roles that instructions of the image have, by address:
// "entry", "sys_line_20", "cold_start", "warm_start", "irq", "nmi",
// "brk_handler", "unpack", "wait_loop", and for an image of the ROMs
// "reset", "basic_cold_start", "basic_warm_start". Each address once, with
// its most telling role; several addresses may have the same role (two IRQ
// handlers), which Labels makes unique.
std::vector<std::pair<std::uint32_t, std::string>> role_names(const MemoryMap& map);

}  // namespace tolvek
