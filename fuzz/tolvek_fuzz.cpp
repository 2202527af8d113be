// Fuzz target for the disassembler: any image, load address and entry
// address. Nothing may crash or trip a sanitizer, the listing must show
// every image byte exactly once, in order, with its own value, and the same
// input must give the same text again.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>

#include "listing.hpp"
#include "trace.hpp"
#include "writers.hpp"

namespace {

using tolvek::Image;

void check(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "broken: %s\n", what);
    std::abort();
  }
}

struct Texts {
  std::string asm_text;
  std::string lst_text;
};

Texts disassemble(const Image& image, std::int64_t entry) {
  tolvek::Analysis analysis = tolvek::trace_program(image, entry);
  tolvek::find_more_code(image, analysis);
  const tolvek::Listing listing = tolvek::build_listing(image, analysis, "fuzz.tmp");
  return {tolvek::write_asm(listing), tolvek::write_lst(listing, image)};
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

  const Texts first = disassemble(image, entry);
  check_every_byte_once(image, first.lst_text);
  const Texts again = disassemble(image, entry);
  check(first.asm_text == again.asm_text && first.lst_text == again.lst_text, "deterministic");
  return 0;
}
