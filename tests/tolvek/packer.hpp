// A packer for the tests of running packed programs: an LZ compressor in
// C++ and its unpacker in 6502 assembly, as ACME source.
//
// The packed stream is a series of tokens:
//   $00          the end
//   $01..$7F     that many literal bytes follow
//   $80..$FF     a match of (token & $7F) + 4 bytes, then the distance back
//                from the output (1..$FFFF) as a little-endian word; a
//                distance shorter than the length repeats (1 is a run)
//
// A packed program loads at $0801 with the BASIC line "SYS 2061". Its stub
// copies the unpacker to $0340 and jumps there; the unpacker banks in all
// RAM with interrupts masked, moves the stream to end at $D000, unpacks it
// forward to the original load address, puts $01 and the interrupt mask
// back as it found them and jumps to the original program's entry. It calls
// nothing in ROM.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "image.hpp"

namespace tolvek_test {

constexpr std::uint16_t kUnpackerAddress = 0x0340;  // up to $03FF, in the tape buffer
constexpr std::uint32_t kStreamTop = 0xd000;        // the moved stream ends here
constexpr std::uint16_t kPackedEntry = 0x080d;      // what the BASIC line calls
constexpr unsigned kMinMatch = 4;
constexpr unsigned kMaxMatch = 0x7f + kMinMatch;
constexpr unsigned kMaxLiterals = 0x7f;

// The packed stream of `data`, closed by the end token.
std::vector<std::uint8_t> pack(const std::vector<std::uint8_t>& data);

// The stream read back in C++: a quick check of the compressor alone.
// Throws std::invalid_argument on a stream that breaks the format.
std::vector<std::uint8_t> unpack(const std::vector<std::uint8_t>& stream);

// ACME source of the packed program for `original`, which starts at
// `entry`. Throws std::invalid_argument when the original cannot be
// unpacked in place: it reaches below $0400 or above $CFFF, or the
// unpacker would overwrite stream bytes it has not read yet.
std::string packed_program_source(const tolvek::Image& original, std::uint16_t entry);

}  // namespace tolvek_test
