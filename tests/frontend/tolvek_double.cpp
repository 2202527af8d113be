// Stand-in for Tolvek.exe in the front end's end-to-end tests. Each call
// makes a folder $TOLVEK_LOG/<n> (n counts the calls) that holds the words it
// was given, NUL-separated, and a copy of the image file named after -t as
// it was during the call. It prints one line and fails with status 3 in the
// run named by $TOLVEK_FAIL_RUN.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace fs = std::filesystem;

int main(int argc, char* argv[]) {
  const char* log = std::getenv("TOLVEK_LOG");
  if (log == nullptr) return 2;
  const auto n = std::distance(fs::directory_iterator(log), fs::directory_iterator()) + 1;
  const fs::path call = fs::path(log) / std::to_string(n);
  fs::create_directory(call);

  std::ofstream words(call / "args", std::ios::binary);
  for (int i = 1; i < argc; ++i) {
    words << argv[i] << '\0';
    if (std::string(argv[i - 1]) == "-t") {
      // Read through the C library, as the real tool does, so that the
      // name is taken exactly as it arrived.
      if (std::FILE* in = std::fopen(argv[i], "rb")) {
        std::ofstream copy(call / "image", std::ios::binary);
        for (int c; (c = std::fgetc(in)) != EOF;) copy.put(static_cast<char>(c));
        std::fclose(in);
      }
    }
  }
  std::printf("Tolvek double, run %ld\n", static_cast<long>(n));
  const char* fail = std::getenv("TOLVEK_FAIL_RUN");
  return (fail != nullptr && std::to_string(n) == fail) ? 3 : 0;
}
