// Telling code from data: tracing from the entry and, beyond that, from
// address tables and well-formed gaps.
#pragma once

#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

#include "analysis/memory_map.hpp"
#include "cpu/decode.hpp"
#include "image.hpp"

namespace tolvek {

// Follows every path from `entry` as the CPU would, stopping at rts, rti,
// jmp, brk, or a byte that is no opcode of the map's CPU (jam, which halts
// the 6510, or any undocumented opcode for the documented instruction set
// only), and claims what it passes as code from `source`. After a jsr to a
// routine that takes data from behind its call, the data is claimed as data
// (analysis/inline_data) and the path goes on after it. The instructions
// claimed are added to `claimed` when given.
void trace_from(MemoryMap& map, std::uint32_t entry, Source source, std::vector<std::uint32_t>* claimed = nullptr);

// Traces every instruction of first..last as trace_from does, except that
// no path runs on past `last`: a range of code ends where it says (a
// user's, or one written from an analysis that left what follows alone).
void trace_code_range(MemoryMap& map, std::uint32_t first, std::uint32_t last, Source source);

// The bit trick written as its sources write it: a `bit` whose operand is
// an instruction that a jump, branch, call or address item leads to
// becomes the byte that skips it (`!byte $2c`) and that instruction, so
// that both ways in are instructions in the listing. The bytes stay the
// same. Done once all code is known.
void show_skipped_instructions(MemoryMap& map);

// What guessing has learnt so far, shared by all guesses of one run, and
// the room each guess works in (kept here so that guesses reuse it).
struct Guessing {
    explicit Guessing(const Image& image);
    std::vector<std::uint8_t> no_code;  // not 0: a guess running through here fails
    // Not 0 where known code writes the operand of a jmp or jsr (two more
    // at the end, always 0): its target is set at run time, see
    // find_patched_operands.
    std::vector<std::uint8_t> patched;
    // Per address a jsr may go to (all 64 KiB, so that the busy loop need
    // not ask whether it lies in the image): 0 not looked at yet, 1 returns
    // right after its calls, 2 may take data from behind them
    // (may_take_inline_data).
    std::vector<std::uint8_t> inline_routine;
    long steps_left = 4000000;   // instructions all guesses may decode

    // The current guess's claims, kept aside until it succeeds: per image
    // byte the kind it would give it (Unknown where it claims nothing; two
    // more at the end, always Unknown, so that the three bytes from any
    // instruction's start can be set without a loop), and the addresses of
    // its instructions, in the order claimed.
    std::vector<Kind> pending_kind;
    std::vector<std::uint32_t> pending;
    // The data after calls that the guess claims: first byte and length.
    std::vector<std::pair<std::uint32_t, std::uint32_t>> pending_data;
    std::vector<std::uint32_t> work;  // paths still to follow
};

// Notes in `guessing` the operands of jmp and jsr instructions that known
// code writes (sta stub+1, or sta stubs+1,x into a row of stubs): their
// targets are set at run time. A guess that runs into such a stub, or into
// `jmp $0000` / `jsr $0000`, is not refused for where its operand leads
// now, outside the image.
void find_patched_operands(const MemoryMap& map, Guessing& guessing);

// What a guess's instructions say for being code. An instruction with an
// operand counts for it; a routine of one-byte instructions only says
// nothing (runs of $60 and $40 in data decode as chains of rts and rti),
// and neither does an absolute operand on zero page where the instruction
// has a zero page form (sta $0003): assemblers shorten it unless told not
// to, so it is rarer in code than in data, though not wrong.
struct Evidence {
    int clean = 0;     // instructions with an operand, none doubtful
    int doubtful = 0;  // absolute operands on zero page that could be shorter
    int bare = 0;      // routines without an instruction with an operand

    Evidence& operator+=(const Evidence& other) {
        clean += other.clean;
        doubtful += other.doubtful;
        bare += other.bare;
        return *this;
    }
    // Whether the clean instructions outweigh the doubts.
    bool convincing() const;
};

// Claims everything reachable from `root` as code from `source` if all of
// it decodes cleanly (documented opcodes and a few stable undocumented
// ones, no brk, no clash with known code, no branch out of the image,
// nothing cut off) and its Evidence is convincing; claims nothing
// otherwise. Without an instruction with an operand it is a bare routine,
// unless `jumped_to` (code jumps there through a table it reads: the rts
// trick), the run went there, or it runs into known code and is no padding
// (four or more of one byte). When `evidence` is given, the guess's
// evidence is added to it for the caller to weigh over several guesses
// instead.
// Adds the claimed addresses to `claimed` when given.
bool try_code(MemoryMap& map, Guessing& guessing, std::uint32_t root, Source source,
              std::vector<std::uint32_t>* claimed = nullptr, Evidence* evidence = nullptr, bool jumped_to = false);

// A table of addresses whose entries led to code.
struct AddressTable {
    std::uint32_t address = 0;  // of the first entry (of the low halves in split tables)
    std::uint32_t entries = 0;
    Kind kind = Kind::Word;     // Word, WordMinus1, or Low / LowMinus1 for split tables
    std::uint32_t high = 0;     // of the high halves, in split tables
    bool read_by_code = false;  // found from the code that reads it to jump
};

// Adds code that plain tracing cannot reach: targets of address tables
// (also the rts trick's address-minus-one tables), pointers built from
// immediate pairs, and gaps that decode as well-formed routines. A
// candidate is taken only if everything reachable from it is clean code.
// Returns the tables whose entries led to code. No guessed instruction
// starts at an address in `not_code`.
std::vector<AddressTable> find_more_code(MemoryMap& map, const std::vector<std::uint32_t>& not_code = {});

// Enters the tables in the map as data that stands for addresses, where
// nothing else claimed their bytes. Done after all guessing: while it goes
// on, a table found by chance must not keep real code from being found.
void record_tables(MemoryMap& map, const std::vector<AddressTable>& tables);

}  // namespace tolvek
