// Fuzz target for running programs: any image, load address, entry and a
// budget of up to about a quarter of a million cycles. Nothing may crash or
// trip a sanitizer, the run must keep to its budget (or the ceiling it may
// grow to for an unpacker at work; give or take one
// instruction or interrupt), what it reports must lie where it can, and
// the same input must run the same way again.
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "emu/cpu6510.hpp"
#include "emu/run.hpp"

namespace {

void check(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "broken: %s\n", what);
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 6) return 0;
  tolvek::Image image;
  image.load = data[0] | static_cast<std::uint32_t>(data[1]) << 8;
  const std::size_t room = 0x10000 - image.load;
  image.bytes.assign(data + 6, data + 6 + std::min(size - 6, room));
  const auto entry = static_cast<std::uint16_t>(data[2] | data[3] << 8);
  tolvek::RunOptions options;
  options.budget = (static_cast<std::uint64_t>(data[4]) + 1) * 1024;
  options.patience = (static_cast<std::uint64_t>(data[5]) + 1) * 256;
  // An unpacker at work may have up to four budgets.
  options.ceiling = 4 * options.budget;

  const tolvek::RunResult run = tolvek::run_program(image, entry, options);
  const std::uint64_t allowed = run.budget_grown ? options.ceiling : options.budget;
  check(run.cycles <= allowed + 64, "kept to the budget");
  check(!run.ceiling_reached || run.budget_grown, "reached the ceiling only by growing");
  check(run.end == tolvek::RunEnd::BudgetUsed || run.cycles <= allowed + 64, "ended in time");
  // With the keys and joystick moves tried where the program waited.
  check(run.cycles + run.input_cycles <= allowed + 64, "tries kept to the budget");
  for (const tolvek::InputTry& tried : run.inputs) {
    check(!tried.new_code.empty(), "a try named for new code found some");
    for (const auto& [start, end] : tried.new_code) check(start < end && end <= 0x10000, "new code range");
  }
  check(run.marks.size() == 0x10000 && run.first_writer.size() == 0x10000 && run.memory.size() == 0x10000,
        "whole memory reported");
  for (std::uint32_t a = 0; a < 0x10000; ++a) {
    // Code that ran after the program wrote it was written first.
    check(!(run.marks[a] & tolvek::mark::RanWritten) || (run.marks[a] & tolvek::mark::Written), "ran what was written");
  }
  if (run.written_code) {
    const tolvek::WrittenCode& code = *run.written_code;
    check(code.start < code.end && code.end <= 0x10000, "written range");
    check(code.bytes.size() == code.end - code.start, "written bytes");
    check(code.entry >= code.start && code.entry < code.end, "entry in the written range");
    for (std::uint32_t a = code.start; a < code.end; ++a) {
      check(a >= 0x200, "no zero page or stack in the written range");
    }
  }
  const tolvek::RunResult again = tolvek::run_program(image, entry, options);
  check(again.end == run.end && again.end_address == run.end_address && again.cycles == run.cycles &&
            again.marks == run.marks && again.printed == run.printed && again.input_cycles == run.input_cycles &&
            again.inputs.size() == run.inputs.size(),
        "deterministic");
  return 0;
}
