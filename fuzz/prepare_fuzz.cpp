// Fuzz target for program file preparation: any file of two bytes or more
// must be copied without its header, and give the load address and the
// entry address that a plain model of the SYS rules gives. The scan over
// arbitrary block boundaries must agree with it too.
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include "prgdis.h"

namespace {

// The rules, written out as plainly as possible and with wide arithmetic.
std::int32_t model_entry(const std::uint8_t* image, std::size_t size, std::int64_t load) {
  std::int64_t entry = load;
  bool armed = false;
  std::uint64_t value = 0;
  for (std::size_t i = 0; i < size; ++i) {
    const std::uint8_t c = image[i];
    if (c == 0x9E) {
      armed = true;
      value = 0;
    } else if (armed && c >= '0' && c <= '9') {
      value = (value * 10 + (c - '0')) % 4294967296u;
    } else if (armed && c == ' ') {
      continue;  // spaces are skipped
    } else if (armed) {
      const std::int64_t as_signed = value >= 2147483648u ? std::int64_t(value) - 4294967296 : std::int64_t(value);
      if (as_signed >= load) entry = as_signed;
      armed = false;
    }
  }
  return static_cast<std::int32_t>(entry);
}

void check(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "mismatch: %s\n", what);
    std::abort();
  }
}

std::string scratch_name(const char* suffix) {
  return "/tmp/prgdis-fuzz-" + std::to_string(getpid()) + suffix;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // Refused by prepare_file, which ends the process: no load address, or an
  // image beyond 64 KiB.
  if (size < 2 || size > 2 + 0x10000) return 0;
  const std::int32_t load = data[0] + 256 * data[1];
  const std::int32_t expected = model_entry(data + 2, size - 2, load);

  // The scan over blocks whose sizes come from the data itself.
  SysScan scan;
  std::int32_t entry = load;
  for (std::size_t at = 2; at < size;) {
    const std::size_t count = std::min<std::size_t>(size - at, 1 + data[at] % 17);
    sys_scan_block(scan, data + at, count, load, entry);
    at += count;
  }
  check(entry == expected, "block scan entry");

  // The whole preparation through real files.
  static const std::string input = scratch_name(".prg");
  static const std::string output = scratch_name(".tmp");
  std::FILE* f = std::fopen(input.c_str(), "wb");
  std::fwrite(data, 1, size, f);
  std::fclose(f);
  std::int32_t got_load = -1;
  std::int32_t got_entry = -1;
  prepare_file(input, output, got_load, got_entry);
  check(got_load == load, "load address");
  check(got_entry == expected, "entry address");
  std::ifstream copied(output, std::ios::binary);
  const std::string image{std::istreambuf_iterator<char>(copied), std::istreambuf_iterator<char>()};
  check(image == std::string(reinterpret_cast<const char*>(data) + 2, size - 2), "image copy");
  remove_temporary_file(output);
  return 0;
}
