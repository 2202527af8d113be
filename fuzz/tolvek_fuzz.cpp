// Fuzz target for the disassembler: any image, load address and entry
// address, with or without a short run of the program. Nothing may crash or trip a sanitizer, the memory map must be
// well formed, the listing of every dialect must show every image byte
// exactly once, in order, with its own value, and the same input must give
// the same text again.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "analysis/analyse.hpp"
#include "cpu/decode.hpp"
#include "output/listing.hpp"
#include "output/writers.hpp"

namespace {

using tolvek::Image;

void check(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "broken: %s\n", what);
    std::abort();
  }
}

// The .asm and .lst of every dialect, from one analysis.
using Texts = std::vector<std::string>;

// Instructions are whole and can be written as instructions (documented
// ones only where the CPU is the documented 6502), words have their second
// byte, and every item that stands for an address knows which.
void check_map(const tolvek::MemoryMap& map, bool undocumented) {
  using tolvek::Kind;
  const Image& image = map.image();
  for (std::uint32_t a = image.load; a < image.end();) {
    const Kind kind = map.kind(a);
    check(kind != Kind::Operand && kind != Kind::Continued, "a later byte without its start");
    std::uint32_t length = 1;
    if (kind == Kind::Opcode) {
      length = tolvek::instruction_length(image.at(a));
      check(a + length > image.end() || tolvek::has_mnemonic(image, a), "an instruction without a mnemonic");
      check(undocumented || tolvek::opcode(image.at(a)).documented(), "an undocumented opcode as code");
    }
    if (kind == Kind::Word || kind == Kind::WordMinus1) length = 2;
    check(a + length <= image.end(), "item cut off by the end");
    for (std::uint32_t i = 1; i < length; ++i) {
      check(map.kind(a + i) == (kind == Kind::Opcode ? Kind::Operand : Kind::Continued), "item not whole");
    }
    check(tolvek::stands_for_address(kind) == map.target(a).has_value(), "address item without its address");
    check((kind == Kind::Unknown) == (map.source(a) == tolvek::Source::None), "belief without a source");
    a += length;
  }
}

Texts disassemble(const Image& image, std::int64_t entry, bool undocumented, std::uint64_t run_cycles) {
  tolvek::RunOptions run;
  run.budget = run_cycles;
  run.patience = 20000;
  run.ceiling = 2 * run_cycles;
  const tolvek::MemoryMap map = tolvek::analyse(image, {.entry = entry, .undocumented = undocumented, .run = run});
  check_map(map, undocumented);
  const tolvek::Listing listing =
      tolvek::build_listing(map, {"fuzz.tmp", "fuzz.unpacked.prg", "fuzz.unpacked.asm", "Tolvek.exe --unpack"});
  const tolvek::BuildNames names{"fuzz.asm", "fuzz.prg", "fuzz.cfg"};
  Texts texts;
  for (const tolvek::Dialect* dialect : tolvek::kDialects) {
    texts.push_back(tolvek::write_asm(listing, image, *dialect, names));
    texts.push_back(tolvek::write_lst(listing, image, *dialect, names));
  }
  return texts;
}

int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// Reads the "AAAA  bb bb ..." rows of a listing and checks that their bytes
// are the image, each byte once and in order.
void check_every_byte_once(const Image& image, const std::string& lst) {
  std::uint32_t next = image.load;
  std::istringstream lines(lst);
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind("; symbol table", 0) == 0) break;
    if (line.size() < 6 || line[4] != ' ' || line[5] != ' ') continue;
    std::uint32_t address = 0;
    bool is_row = true;
    for (int i = 0; i < 4; ++i) {
      const int d = hex_digit(line[static_cast<std::size_t>(i)]);
      is_row = is_row && d >= 0;
      address = address * 16 + static_cast<std::uint32_t>(d < 0 ? 0 : d);
    }
    if (!is_row) continue;
    // The byte column: hex pairs separated by single spaces. A row that
    // has bytes starts where the one before it ended.
    for (std::size_t at = 6; at + 1 < line.size(); at += 3) {
      const int hi = hex_digit(line[at]);
      const int lo = hex_digit(line[at + 1]);
      if (hi < 0 || lo < 0) break;
      if (at == 6) check(address == next, "row address");
      check(next < image.end(), "byte beyond the image");
      check(image.at(next) == hi * 16 + lo, "byte value");
      ++next;
      if (at + 2 >= line.size() || line[at + 2] != ' ') break;
    }
  }
  check(next == image.end(), "every byte shown once");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 7) return 0;
  Image image;
  image.load = data[0] | static_cast<std::uint32_t>(data[1]) << 8;
  const std::size_t room = 0x10000 - image.load;
  const std::size_t image_size = std::min(size - 7, room);
  image.bytes.assign(data + 7, data + 7 + image_size);
  // Mostly an entry inside the image, where there is code to trace; else
  // any 32-bit number, as the front end may pass.
  const std::uint32_t raw = data[3] | static_cast<std::uint32_t>(data[4]) << 8 |
                            static_cast<std::uint32_t>(data[5]) << 16 |
                            static_cast<std::uint32_t>(data[6]) << 24;
  const std::int64_t entry = (data[2] & 1) == 0 && image_size > 0
                                 ? image.load + raw % image_size
                                 : static_cast<std::int32_t>(raw);
  const bool undocumented = (data[2] & 2) == 0;
  // Runs of up to about 130000 cycles, or none.
  const std::uint64_t run_cycles = static_cast<std::uint64_t>(data[2] >> 2) * 2048;

  // One analysis, every dialect's text; the same again from a second.
  const Texts first = disassemble(image, entry, undocumented, run_cycles);
  for (std::size_t i = 1; i < first.size(); i += 2) check_every_byte_once(image, first[i]);
  check(disassemble(image, entry, undocumented, run_cycles) == first, "deterministic");
  return 0;
}
