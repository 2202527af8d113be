// End-to-end tests: the built prgdis runs in a scratch folder with a test
// double of Tolvek.exe first on PATH. The double records the words it was
// given and a copy of the image file as it was during the call, prints a
// line, and fails in the run named by TOLVEK_FAIL_RUN.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using namespace std::string_literals;

namespace {

const char* const double_script = R"(#!/bin/sh
n=$(( $(ls "$TOLVEK_LOG" | wc -l) + 1 ))
mkdir "$TOLVEK_LOG/$n"
: > "$TOLVEK_LOG/$n/args"
image=""
previous=""
for word in "$@"; do
  printf '%s\0' "$word" >> "$TOLVEK_LOG/$n/args"
  [ "$previous" = "-t" ] && image="$word"
  previous="$word"
done
[ -n "$image" ] && cp -- "$image" "$TOLVEK_LOG/$n/image"
echo "Tolvek double, run $n"
[ "$TOLVEK_FAIL_RUN" = "$n" ] && exit 3
exit 0
)";

std::string read_file(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void write_file(const fs::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

struct Result {
  int status = -1;
  std::string out;
  std::string err;
};

class PrgdisRun : public testing::Test {
 protected:
  void SetUp() override {
    const auto* info = testing::UnitTest::GetInstance()->current_test_info();
    root_ = fs::temp_directory_path() /
            (std::string("prgdis-e2e-") + info->name() + "-" + std::to_string(getpid()));
    fs::remove_all(root_);
    fs::create_directories(work());
    fs::create_directories(root_ / "bin");
    fs::create_directories(log());
    write_file(root_ / "bin" / "Tolvek.exe", double_script);
    fs::permissions(root_ / "bin" / "Tolvek.exe", fs::perms::owner_all);
  }
  void TearDown() override { fs::remove_all(root_); }

  fs::path work() const { return root_ / "work"; }
  fs::path log() const { return root_ / "log"; }

  // Runs prgdis with exactly these argument words (word 0 included) in the
  // work folder, with the double first on PATH unless with_tool is false.
  Result run_words(const std::vector<std::string>& words, const std::string& fail_run = "",
                   bool with_tool = true) {
    const fs::path out = root_ / "stdout";
    const fs::path err = root_ / "stderr";
    const pid_t pid = fork();
    if (pid == 0) {
      if (chdir(work().c_str()) != 0) _exit(127);
      const std::string path = with_tool ? (root_ / "bin").string() + ":/usr/bin:/bin" : "/usr/bin:/bin";
      setenv("PATH", path.c_str(), 1);
      setenv("TOLVEK_LOG", log().c_str(), 1);
      setenv("TOLVEK_FAIL_RUN", fail_run.c_str(), 1);
      if (!freopen(out.c_str(), "wb", stdout) || !freopen(err.c_str(), "wb", stderr)) _exit(127);
      std::vector<char*> argv;
      for (const auto& w : words) argv.push_back(const_cast<char*>(w.c_str()));
      argv.push_back(nullptr);
      execv(PRGDIS_EXE, argv.data());
      _exit(127);
    }
    int wstatus = 0;
    waitpid(pid, &wstatus, 0);
    Result r;
    r.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1;
    r.out = read_file(out);
    r.err = read_file(err);
    return r;
  }
  Result run(const std::string& name, const std::string& fail_run = "") {
    return run_words({"prgdis", name}, fail_run);
  }

  // Number of times the double ran.
  std::size_t runs() const {
    return static_cast<std::size_t>(std::distance(fs::directory_iterator(log()), {}));
  }
  // The words the double got in run n (word 0 excluded).
  std::vector<std::string> args(int n) const {
    std::vector<std::string> words;
    std::istringstream in(read_file(log() / std::to_string(n) / "args"));
    for (std::string w; std::getline(in, w, '\0');) words.push_back(w);
    return words;
  }
  std::string image(int n) const { return read_file(log() / std::to_string(n) / "image"); }

  // Names in the work folder, sorted.
  std::vector<std::string> listing() const {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(work())) names.push_back(e.path().filename());
    std::sort(names.begin(), names.end());
    return names;
  }

  fs::path root_;
};

// A BASIC line "10 SYS2061" loaded at $0801, followed by a little code.
const std::string basic_program = "\x01\x08\x0b\x08\x0a\x00\x9e" "2061\0\0\0\xee\x20\xd0\x60"s;

std::vector<std::string> words_for(const char* option, const std::string& image_name) {
  return {option, "-c6502", "-o2049", "-e2061", "-t", image_name};
}

TEST_F(PrgdisRun, SuccessfulRunEchoesRunsTwiceAndRemovesTheImage) {
  write_file(work() / "game.prg", basic_program);
  const Result r = run("game.prg");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  // The echo stands before the tool's output even though stdout is a file.
  EXPECT_EQ(r.out,
            "Tolvek.exe -a -c6502 -o2049 -e2061 -t game.tmp\n"
            "Tolvek double, run 1\n"
            "Tolvek double, run 2\n"
            "\n\nFile game.prg was disassembled successfully, see .asm and .lst file!\n");
  ASSERT_EQ(runs(), 2u);
  EXPECT_EQ(args(1), words_for("-a", "game.tmp"));
  EXPECT_EQ(args(2), words_for("-w", "game.tmp"));
  EXPECT_EQ(image(1), basic_program.substr(2));
  EXPECT_EQ(image(2), basic_program.substr(2));
  EXPECT_EQ(listing(), std::vector<std::string>{"game.prg"});
  EXPECT_EQ(read_file(work() / "game.prg"), basic_program);
}

TEST_F(PrgdisRun, ExistingFileWithTheTemporaryNameIsOverwrittenThenRemoved) {
  write_file(work() / "GAME.PRG", basic_program);
  write_file(work() / "GAME.tmp", std::string(100000, 'x'));
  const Result r = run("GAME.PRG");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(image(1), basic_program.substr(2));
  EXPECT_EQ(listing(), std::vector<std::string>{"GAME.PRG"});
}

TEST_F(PrgdisRun, TemporaryFileLiesBesideTheProgramFile) {
  fs::create_directories(work() / "sub");
  write_file(work() / "sub" / "x.prg", basic_program);
  const Result r = run("sub/x.prg");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(args(1).back(), "sub/x.tmp");
  EXPECT_NE(r.out.find("File sub/x.prg was disassembled successfully"), std::string::npos);
}

TEST_F(PrgdisRun, ImageIsCopiedByteForByteWhateverItHolds) {
  std::string prg = "\x9e\x9e"s;  // header bytes never arm the scan
  for (int i = 0; i < 300000; ++i) prg += static_cast<char>((i * 7 + i / 251) & 0xFF);
  prg += "\x9e" "50000\0"s;
  write_file(work() / "big.prg", prg);
  const Result r = run("big.prg");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(image(1), prg.substr(2));
  EXPECT_EQ(args(1)[2], "-o" + std::to_string(0x9E + 256 * 0x9E));
  EXPECT_EQ(args(1)[3], "-e50000");
}

TEST_F(PrgdisRun, ProgramFileOfTwoBytesGivesAnEmptyImage) {
  write_file(work() / "empty.prg", "\x00\x10"s);
  const Result r = run("empty.prg");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(args(1)[2], "-o4096");
  EXPECT_EQ(args(1)[3], "-e4096");
  EXPECT_EQ(image(1), "");
}

TEST_F(PrgdisRun, BadCommandLineGivesUsageAndTouchesNothing) {
  const Result none = run_words({"./prgdis"});
  EXPECT_EQ(none.status, 1);
  EXPECT_EQ(none.out, "");
  EXPECT_EQ(none.err, "No input file given!\nUsage: ./prgdis cbmfilename\n");

  write_file(work() / "my", basic_program);
  const Result many = run_words({"prgdis", "my", "game.prg"});
  EXPECT_EQ(many.status, 1);
  EXPECT_EQ(many.err,
            "Too many input files given (probably due to a space in filename)!\n"
            "Usage: prgdis cbmfilename\n");
  EXPECT_EQ(runs(), 0u);
  EXPECT_EQ(listing(), std::vector<std::string>{"my"});
}

struct Failure {
  const char* what;
  std::string file_content;  // empty: the file does not exist
  const char* message;
};

TEST_F(PrgdisRun, UnusableProgramFileFailsBeforeAnythingIsWritten) {
  const Failure cases[] = {
      {"missing", "", "Error opening input file!\n"},
      {"empty", std::string(), "Input file is too short!\n"},
      {"one byte", "\x01", "Input file is too short!\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove_all(work() / "x.prg");
    if (std::string(c.what) != "missing") write_file(work() / "x.prg", c.file_content);
    const Result r = run("x.prg");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, c.message);
    EXPECT_EQ(r.out, "");
    EXPECT_FALSE(fs::exists(work() / "x.tmp"));
  }
  fs::create_directory(work() / "dir.prg");
  const Result r = run("dir.prg");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "Error reading input file!\n");
  EXPECT_FALSE(fs::exists(work() / "dir.tmp"));
  EXPECT_EQ(runs(), 0u);
}

TEST_F(PrgdisRun, TemporaryFileThatCannotBeCreatedIsReported) {
  write_file(work() / "x.prg", basic_program);
  fs::create_directory(work() / "x.tmp");
  const Result r = run("x.prg");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "Error opening output file!\n");
  EXPECT_EQ(runs(), 0u);
}

TEST_F(PrgdisRun, FullDiskIsAWriteErrorNotSuccess) {
  // The temporary name leads to /dev/full, where every write fails.
  for (const std::size_t size : {std::size_t{3}, std::size_t{200000}}) {
    SCOPED_TRACE(size);
    write_file(work() / "x.prg", std::string("\x01\x08", 2) + std::string(size, 'a'));
    fs::remove(work() / "x.tmp");
    fs::create_symlink("/dev/full", work() / "x.tmp");
    const Result r = run("x.prg");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Error writing output file!\n");
    EXPECT_EQ(r.out, "");
  }
  EXPECT_EQ(runs(), 0u);
}

TEST_F(PrgdisRun, TemporaryNameThatIsTheProgramFileItselfIsRefused) {
  write_file(work() / "x.prg", basic_program);
  fs::create_symlink("x.prg", work() / "x.tmp");
  const Result r = run("x.prg");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "Temporary file x.tmp is the input file itself!\n");
  EXPECT_EQ(read_file(work() / "x.prg"), basic_program);
  EXPECT_EQ(runs(), 0u);
}

TEST_F(PrgdisRun, FailedFirstRunStopsAndKeepsTheImage) {
  write_file(work() / "game.prg", basic_program);
  const Result r = run("game.prg", "1");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "Tolvek terminated due to an error!\n");
  EXPECT_EQ(r.out, "Tolvek.exe -a -c6502 -o2049 -e2061 -t game.tmp\nTolvek double, run 1\n");
  EXPECT_EQ(runs(), 1u);
  EXPECT_EQ(read_file(work() / "game.tmp"), basic_program.substr(2));
}

TEST_F(PrgdisRun, FailedSecondRunIsReportedAndKeepsTheImage) {
  write_file(work() / "game.prg", basic_program);
  const Result r = run("game.prg", "2");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "Tolvek terminated due to an error when generating the list file!\n");
  EXPECT_EQ(runs(), 2u);
  EXPECT_EQ(read_file(work() / "game.tmp"), basic_program.substr(2));
}

TEST_F(PrgdisRun, MissingToolIsAFailedFirstRun) {
  write_file(work() / "game.prg", basic_program);
  const Result r = run_words({"prgdis", "game.prg"}, "", false);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("Tolvek terminated due to an error!\n"), std::string::npos);
  EXPECT_TRUE(fs::exists(work() / "game.tmp"));
}

TEST_F(PrgdisRun, AnyNameReachesTheToolAsOneWordAndNeverAsACommand) {
  const std::string names[] = {
      "my game.prg", "x;touch pwned.prg", "$(touch pwned).prg", "`touch pwned`.prg",
      "it's.prg", "a\"b.prg", "star*.prg", "line\nbreak.prg", "tab\tand\\back.prg",
      "-dash.prg", "~tilde&amp|pipe>gt<lt.prg", "\xc3\xa4\xc3\xb6.prg"};
  int n = 0;
  for (const auto& name : names) {
    SCOPED_TRACE(name);
    write_file(work() / name, basic_program);
    const Result r = run(name);
    EXPECT_EQ(r.status, 0) << r.err;
    const std::string tmp = name.substr(0, name.size() - 4) + ".tmp";
    ASSERT_EQ(runs(), static_cast<std::size_t>(n + 2));
    EXPECT_EQ(args(n + 1), words_for("-a", tmp));
    EXPECT_EQ(args(n + 2), words_for("-w", tmp));
    EXPECT_EQ(image(n + 1), basic_program.substr(2));
    n += 2;
    fs::remove(work() / name);
  }
  EXPECT_TRUE(listing().empty());  // no "pwned", no leftover .tmp
}

TEST_F(PrgdisRun, EchoedLineIsTheQuotedCommand) {
  write_file(work() / "it's my.prg", basic_program);
  const Result r = run("it's my.prg");
  EXPECT_EQ(r.out.substr(0, r.out.find('\n')),
            "Tolvek.exe -a -c6502 -o2049 -e2061 -t 'it'\\''s my.tmp'");
}

TEST_F(PrgdisRun, LongPathsWorkWhole) {
  fs::path folder = work();
  std::string relative;
  for (int i = 0; i < 6; ++i) {
    const std::string part(200, static_cast<char>('a' + i));
    folder /= part;
    relative += part + "/";
  }
  fs::create_directories(folder);
  write_file(folder / "long.prg", basic_program);
  const Result r = run(relative + "long.prg");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(args(1).back(), relative + "long.tmp");
  EXPECT_FALSE(fs::exists(folder / "long.tmp"));
}

}  // namespace
