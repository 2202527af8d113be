// Stand-in for Tolvek.exe in the front end's end-to-end tests. Each call
// makes a folder $TOLVEK_LOG/<n> (n counts the calls) that holds the words it
// was given, NUL-separated, the folder it was started from (so that a test
// can tell which of several copies ran), and a copy of the image file named
// after -t as it was during the call. It prints one line and fails with status 3 in the
// run named by $TOLVEK_FAIL_RUN.
//
// So that a test can start another prgdis run while this one uses its
// image, a call can be kept busy before it reads the image: it waits for
// the file named by $TOLVEK_HOLD to appear (for a minute at most), then for
// $TOLVEK_SLEEP_MS milliseconds.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>

#ifdef _WIN32
#include <windows.h>
#endif

namespace fs = std::filesystem;

namespace {

// The folder that holds this program's executable.
fs::path own_folder() {
#ifdef _WIN32
  wchar_t path[32768];
  const DWORD length = GetModuleFileNameW(nullptr, path, 32768);
  return fs::path(std::wstring(path, length)).parent_path();
#else
  return fs::read_symlink("/proc/self/exe").parent_path();
#endif
}

// The environment variable `name`, or "" when it is not set.
std::string environment(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

}  // namespace

int main(int argc, char* argv[]) {
  const std::string log = environment("TOLVEK_LOG");
  if (log.empty()) return 2;
  const auto n = std::distance(fs::directory_iterator(log), fs::directory_iterator()) + 1;
  const fs::path call = fs::path(log) / std::to_string(n);
  fs::create_directory(call);

  using namespace std::chrono_literals;
  if (const std::string hold = environment("TOLVEK_HOLD"); !hold.empty()) {
    for (int wait = 0; wait < 6000 && !fs::exists(hold); ++wait) std::this_thread::sleep_for(10ms);
  }
  if (const std::string sleep = environment("TOLVEK_SLEEP_MS"); !sleep.empty()) {
    std::this_thread::sleep_for(std::chrono::milliseconds(std::atoi(sleep.c_str())));
  }

  std::ofstream(call / "folder", std::ios::binary) << own_folder().string();

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
  return environment("TOLVEK_FAIL_RUN") == std::to_string(n) ? 3 : 0;
}
