// Packers for the tests of running packed programs: compressors in C++ and
// their unpackers in 6502 assembly, as ACME source. Each behaves like a
// kind of packer found on real C64 programs.
//
// Every packed program loads at $0801 with the BASIC line "SYS 2061"; its
// stub at $080D masks interrupts and banks in all RAM, the unpacker gives
// the original back byte for byte at its own load address, puts $01 and
// the interrupt mask back as it found them and ends with a jmp to the
// original's entry. None calls anything in ROM.
//
// Plain: the stub copies the unpacker to $0340 (the tape buffer) and jumps
// there; it moves the stream to end at $D000 and unpacks it forward, a
// byte at a time. Its stream is a series of tokens:
//   $00          the end
//   $01..$7F     that many literal bytes follow
//   $80..$FF     a match of (token & $7F) + 4 bytes, then the distance back
//                from the output (1..$FFFF) as a little-endian word; a
//                distance shorter than the length repeats (1 is a run)
//
// TablesBelow: its stub moves the stream to end at $D000, then copies the
// unpacker to $0340 and jumps there. Before it unpacks, the unpacker
// builds its tables (the flag masks and the match lengths) and keeps its
// variables in the kTablesBelowBytes bytes right below the original's load
// address, and leaves them there. Its stream is groups of a flag byte and
// eight items, bit 7 first: a clear bit is a literal byte, a set bit a
// match of two bytes, (code << 4) | the top four bits of distance - 1,
// then its low eight bits; the code picks the length from the table (3..39,
// tables_below_lengths()); code 15 alone is the end.
//
// SlowBits: the stub moves the stream up to end at $FFFF and copies the
// unpacker into the kSlowBitsWorkspace bytes below it; the unpacker clears
// the whole output first and then decodes it a bit at a time with an
// adaptive binary arithmetic decoder (a multiplication per bit), setting
// the ones into the cleared bytes with ora/sta: thousands of cycles per
// byte, nearly all spent rewriting bytes it stored before. It leaves
// through six bytes of code it writes at $0100. Its stream is the
// original's length (a little-endian word), then the coded bits, first
// bit first, 16-bit range, 8-bit probabilities of a zero for each node of
// a bit tree (one tree for every byte), each moving 1/16 of the way
// towards what it saw.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "image.hpp"

namespace tolvek_test {

enum class Packer { Plain, TablesBelow, SlowBits };

// Every packer, and each one's name for people and the command line.
inline constexpr std::array<Packer, 3> kPackers{Packer::Plain, Packer::TablesBelow, Packer::SlowBits};
const char* packer_name(Packer packer);  // "plain", "tables-below", "slow-bits"
std::optional<Packer> packer_named(std::string_view name);

constexpr std::uint16_t kUnpackerAddress = 0x0340;  // Plain's and TablesBelow's, up to $03FF
constexpr std::uint32_t kStreamTop = 0xd000;        // where they move the stream to end
constexpr std::uint16_t kPackedEntry = 0x080d;      // what the BASIC line calls
constexpr unsigned kMinMatch = 4;                   // Plain's matches
constexpr unsigned kMaxMatch = 0x7f + kMinMatch;
constexpr unsigned kMaxLiterals = 0x7f;

constexpr std::uint32_t kTablesBelowBytes = 29;     // TablesBelow's tables and variables, right below the load address
constexpr std::uint32_t kTablesBelowMaxDistance = 0x1000;
// TablesBelow's match length for each code; 0 for the end code, 15.
std::array<std::uint8_t, 16> tables_below_lengths();

constexpr std::uint32_t kSlowBitsTop = 0x10000;       // where SlowBits moves the stream to end
constexpr std::uint32_t kSlowBitsWorkspace = 0x400;   // at most this many bytes below it: its code and tables
constexpr std::uint16_t kSlowBitsExit = 0x0100;       // the six bytes it leaves through

// The packed stream of `data`, closed by the end token for Plain and
// TablesBelow, starting with the length for SlowBits.
std::vector<std::uint8_t> pack(const std::vector<std::uint8_t>& data, Packer packer = Packer::Plain);

// The stream read back in C++: a quick check of the compressor alone.
// Throws std::invalid_argument on a stream that breaks the format.
std::vector<std::uint8_t> unpack(const std::vector<std::uint8_t>& stream, Packer packer = Packer::Plain);

// ACME source of the packed program for `original`, which starts at
// `entry`. Throws std::invalid_argument when the packer cannot unpack the
// original in place: it reaches below $0400 (below $0400 plus the tables
// for TablesBelow) or above $CFFF (above the workspace below the moved
// stream for SlowBits), or the unpacker would overwrite stream bytes it
// has not read yet.
std::string packed_program_source(const tolvek::Image& original, std::uint16_t entry, Packer packer = Packer::Plain);

}  // namespace tolvek_test
