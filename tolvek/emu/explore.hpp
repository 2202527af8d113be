// Pressing keys and moving joysticks where a program waits for them: menus
// and games start their parts only on input, so a run that waits has seen
// nothing of them. From the moment the program waited, the machine goes
// back there once for each input the program may be waiting for, presses
// it, and runs on; what each try runs is kept.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "emu/c64.hpp"
#include "emu/run.hpp"

namespace tolvek {

// What a try needs of the run it continues: running on, and putting the
// run's own records back as they were at the wait afterwards.
class TryRunner {
public:
    virtual ~TryRunner() = default;
    // Runs a slice, to `until` at most; true when the program ended there
    // (returned to BASIC, halted, jumped into ROM without a stand-in).
    virtual bool step(std::uint64_t until) = 0;
    // The try is over; the machine goes back to the wait next.
    virtual void try_over() = 0;
};

struct ExploreLimits {
    std::uint64_t budget = 0;    // cycles all tries may take together
    std::uint64_t patience = 0;  // the run's: a try that finds nothing new for this long is over
};

struct Explored {
    std::vector<InputTry> tries;  // the inputs that led to new code, in the order tried
    std::uint64_t cycles = 0;     // all tries together
};

// Where a key sits in the keyboard matrix: the column port A selects, the
// row port B reads, and whether shift is held with it.
struct KeyPosition {
    std::uint8_t column = 0;
    std::uint8_t row = 0;
    bool shifted = false;
};

// The key that types `petscii`, if one does.
std::optional<KeyPosition> key_position(std::uint8_t petscii);

struct InputPlan {
    std::vector<Input> inputs;
    bool via_buffer = false;  // the program takes keys from the keyboard buffer (GETIN, CHRIN, $C6/$0277)
};

// The inputs worth pressing for a program that waited at `loop`, by what
// it read since cycle `since`: the keys that the code after its reads
// compares the key with (or a few usual ones), and the joysticks' four
// directions and fire on the ports it read.
InputPlan inputs_to_try(const C64& c64, std::uint64_t since, std::uint16_t loop);

// Tries the inputs of `plan` for the program that waits in `c64`, each
// from this moment (with its interrupts on, should the run have silenced
// them to find its loop). The marks of what ran keep growing over the
// tries; the machine is left where the last try ended.
Explored explore_inputs(C64& c64, const InputPlan& plan, TryRunner& runner, const ExploreLimits& limits);

}  // namespace tolvek
