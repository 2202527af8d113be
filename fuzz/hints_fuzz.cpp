// Fuzz target for hints: any text through the hints parser, and the
// analysis with every set of hints that the checks let through. Nothing
// may crash or trip a sanitizer, and the listing of every dialect must
// still hold every image byte once, in order.
//
// Input: two bytes of load address, two of entry, one of hints length n,
// then n bytes of hints text and the image.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "analysis/analyse.hpp"
#include "hints/hints.hpp"
#include "output/listing.hpp"
#include "output/writers.hpp"

namespace {

void check(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "broken: %s\n", what);
    std::abort();
  }
}

std::string vice_file(const std::string&, std::string& text) {
  text = "al C:0810 .from_vice\n";
  return {};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 5) return 0;
  const std::size_t text_size = std::min<std::size_t>(data[4], size - 5);
  const std::string text(reinterpret_cast<const char*>(data + 5), text_size);
  tolvek::Hints hints;
  if (!tolvek::parse_hints(text, "fuzz.hints", hints, vice_file).empty()) return 0;

  tolvek::Image image;
  image.load = data[0] | static_cast<std::uint32_t>(data[1]) << 8;
  const std::size_t rest = size - 5 - text_size;
  image.bytes.assign(data + 5 + text_size, data + 5 + text_size + std::min<std::size_t>(rest, 0x10000 - image.load));
  if (!tolvek::check_hints(hints, image).empty()) return 0;

  const std::size_t offset = static_cast<std::size_t>(data[2] | data[3] << 8) % (image.bytes.empty() ? 1 : image.bytes.size());
  const std::int64_t entry = image.load + static_cast<std::int64_t>(offset);
  const tolvek::MemoryMap map = tolvek::analyse(image, {.entry = entry, .hints = &hints});
  const tolvek::Listing listing =
      tolvek::build_listing(map, {"fuzz.tmp", "fuzz.unpacked.prg", "fuzz.unpacked.asm", "Tolvek.exe --unpack"}, &hints);
  std::uint32_t next = image.load;
  for (const tolvek::Row& row : listing.rows) {
    check(row.address == next, "rows follow each other");
    next += row.size;
  }
  check(next == image.end(), "every byte listed once");
  for (const tolvek::Dialect* dialect : tolvek::kDialects) {
    const std::string source = tolvek::write_asm(listing, image, *dialect, {"fuzz.asm", "fuzz.prg", "fuzz.cfg"});
    check(!source.empty(), "a source");
  }
  return 0;
}
