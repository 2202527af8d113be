// End-to-end tests: a copy of the built prgdis runs in a scratch folder with
// a test double of Tolvek.exe (tolvek_double.cpp) where prgdis looks for it.
// The double records the words it was given, the folder it ran from and a
// copy of the image file as it was during the call, prints a line, and fails
// on demand.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <iterator>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;
using namespace std::string_literals;

namespace {

std::string read_file(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void write_file(const fs::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

// Console text as written on this platform: Windows ends lines with CR LF.
std::string lines(const std::string& text) {
#ifdef _WIN32
  std::string crlf;
  for (const char c : text) crlf += (c == '\n') ? "\r\n"s : std::string(1, c);
  return crlf;
#else
  return text;
#endif
}

struct Result {
  long status = -1;
  std::string out;
  std::string err;
};

// The prgdis that start() runs: a copy of the built one, in a folder of the
// test's own, where the built Tolvek.exe does not lie beside it.
fs::path prgdis_program;

#ifdef _WIN32
const char path_separator = ';';

// One word of a Windows command line, quoted the way the C runtime splits it.
std::string quote_word(const std::string& word) {
  if (!word.empty() && word.find_first_of(" \t\"") == std::string::npos) return word;
  std::string quoted = "\"";
  std::size_t backslashes = 0;
  for (const char c : word) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    quoted.append(c == '"' ? 2 * backslashes + 1 : backslashes, '\\');
    backslashes = 0;
    quoted += c;
  }
  quoted.append(2 * backslashes, '\\');
  return quoted + "\"";
}

// A started prgdis, until finish() has its exit status.
struct Child {
  HANDLE process = nullptr;
  HANDLE out = INVALID_HANDLE_VALUE;
  HANDLE err = INVALID_HANDLE_VALUE;
  long status = 255;
};

Child start(const std::vector<std::string>& words, const fs::path& folder, const fs::path& out,
            const fs::path& err, const std::function<void()>& /*in_child: POSIX only*/) {
  Child child;
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  child.out = CreateFileA(out.string().c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                          CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  child.err = CreateFileA(err.string().c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                          CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  std::string command_line;
  for (const auto& w : words) {
    if (!command_line.empty()) command_line += ' ';
    command_line += quote_word(w);
  }
  STARTUPINFOA startup{};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = child.out;
  startup.hStdError = child.err;
  PROCESS_INFORMATION process{};
  if (CreateProcessA(prgdis_program.string().c_str(), command_line.data(), nullptr, nullptr, TRUE, 0, nullptr,
                     folder.string().c_str(), &startup, &process)) {
    CloseHandle(process.hThread);
    child.process = process.hProcess;
  }
  return child;
}

bool running(Child& child) {
  return child.process != nullptr && WaitForSingleObject(child.process, 0) == WAIT_TIMEOUT;
}

long finish(Child& child) {
  if (child.process != nullptr) {
    WaitForSingleObject(child.process, INFINITE);
    DWORD status = 255;
    GetExitCodeProcess(child.process, &status);
    child.status = static_cast<long>(status);
    CloseHandle(child.process);
    child.process = nullptr;
  }
  CloseHandle(child.out);
  CloseHandle(child.err);
  child.out = child.err = INVALID_HANDLE_VALUE;
  return child.status;
}

void set_env(const char* name, const std::string& value) { _putenv_s(name, value.c_str()); }
#else
const char path_separator = ':';

// A started prgdis, until finish() has its exit status.
struct Child {
  pid_t pid = -1;
  long status = -1;
};

// `in_child` runs in the new process right before prgdis starts, after the
// output streams are set up.
Child start(const std::vector<std::string>& words, const fs::path& folder, const fs::path& out,
            const fs::path& err, const std::function<void()>& in_child) {
  const pid_t pid = fork();
  if (pid == 0) {
    if (chdir(folder.c_str()) != 0) _exit(127);
    if (!freopen(out.c_str(), "wb", stdout) || !freopen(err.c_str(), "wb", stderr)) _exit(127);
    if (in_child) in_child();
    std::vector<char*> argv;
    for (const auto& w : words) argv.push_back(const_cast<char*>(w.c_str()));
    argv.push_back(nullptr);
    execv(prgdis_program.c_str(), argv.data());
    _exit(127);
  }
  return {pid};
}

long exit_status(int wstatus) { return WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1; }

bool running(Child& child) {
  if (child.pid < 0) return false;
  int wstatus = 0;
  if (waitpid(child.pid, &wstatus, WNOHANG) != child.pid) return true;
  child.status = exit_status(wstatus);
  child.pid = -1;
  return false;
}

long finish(Child& child) {
  if (child.pid >= 0) {
    int wstatus = 0;
    waitpid(child.pid, &wstatus, 0);
    child.status = exit_status(wstatus);
    child.pid = -1;
  }
  return child.status;
}

void set_env(const char* name, const std::string& value) { setenv(name, value.c_str(), 1); }
#endif

// A BASIC line "10 SYS2061" loaded at $0801, followed by a little code.
const std::string basic_program = "\x01\x08\x0b\x08\x0a\x00\x9e" "2061\0\0\0\xee\x20\xd0\x60"s;

std::vector<std::string> words_for(const char* option, const std::string& image_name) {
  return {option, "-c6502", "-o2049", "-e2061", "-t", image_name};
}

const std::string system_path = std::getenv("PATH") ? std::getenv("PATH") : "";

class PrgdisRun : public testing::Test {
 protected:
  void SetUp() override {
    const auto* info = testing::UnitTest::GetInstance()->current_test_info();
    // A name of its own, as other runs of the suite may share the folder.
    root_ = fs::temp_directory_path() /
            (std::string("prgdis-e2e-") + info->name() + "-" + std::to_string(std::random_device()()));
    fs::remove_all(root_);
    fs::create_directories(work());
    fs::create_directories(log());
    place_prgdis(root_ / "app");
    place_tool(root_ / "bin");
    set_env("TOLVEK_HOLD", "");
    set_env("TOLVEK_SLEEP_MS", "");
  }
  void TearDown() override { fs::remove_all(root_); }

  fs::path work() const { return root_ / "work"; }
  fs::path log() const { return root_ / "log"; }

  // Puts a copy of prgdis into `folder`; it is the one that runs from now on.
  static void place_prgdis(const fs::path& folder) {
    fs::create_directories(folder);
    prgdis_program = folder / fs::path(PRGDIS_EXE).filename();
    fs::copy_file(PRGDIS_EXE, prgdis_program, fs::copy_options::overwrite_existing);
  }

  // Puts the double, named Tolvek.exe, into `folder`.
  static void place_tool(const fs::path& folder) {
    fs::create_directories(folder);
    fs::copy_file(TOLVEK_DOUBLE_EXE, folder / "Tolvek.exe", fs::copy_options::overwrite_existing);
    fs::permissions(folder / "Tolvek.exe", fs::perms::owner_all);
  }

  // Runs prgdis with exactly these argument words (word 0 included) in the
  // work folder, with bin/ first on PATH unless with_path is false (and
  // path_front_ before it). On POSIX systems `in_child` runs in prgdis's
  // process right before it starts.
  Result run_words(const std::vector<std::string>& words, const std::string& fail_run = "",
                   bool with_path = true, const std::function<void()>& in_child = {}) {
    set_env("PATH", path_front_ + (with_path ? (root_ / "bin").string() + path_separator : "") + system_path);
    set_env("TOLVEK_LOG", log().string());
    set_env("TOLVEK_FAIL_RUN", fail_run.empty() ? "none" : fail_run);
    Result r;
    Child child = start(words, work(), root_ / "stdout", root_ / "stderr", in_child);
    r.status = finish(child);
    r.out = read_file(root_ / "stdout");
    r.err = read_file(root_ / "stderr");
    return r;
  }
  Result run(const std::string& name, const std::string& fail_run = "") {
    return run_words({"prgdis", name}, fail_run);
  }

  // Starts prgdis on `name` without waiting for it; the run has a log
  // folder and output files of its own, named by `tag`.
  Child start_run(const std::string& name, const std::string& tag) {
    fs::create_directories(log(tag));
    set_env("PATH", (root_ / "bin").string() + path_separator + system_path);
    set_env("TOLVEK_LOG", log(tag).string());
    set_env("TOLVEK_FAIL_RUN", "none");
    return start({"prgdis", name}, work(), root_ / ("stdout-" + tag), root_ / ("stderr-" + tag), {});
  }
  Result finish_run(Child& child, const std::string& tag) {
    Result r;
    r.status = finish(child);
    r.out = read_file(root_ / ("stdout-" + tag));
    r.err = read_file(root_ / ("stderr-" + tag));
    return r;
  }
  fs::path log(const std::string& tag) const { return root_ / ("log-" + tag); }

  // Number of times the double ran.
  std::size_t runs(const fs::path& log_folder) const {
    return static_cast<std::size_t>(std::distance(fs::directory_iterator(log_folder), {}));
  }
  std::size_t runs() const { return runs(log()); }
  // The words the double got in run n (word 0 excluded).
  std::vector<std::string> args(int n, const fs::path& log_folder) const {
    std::vector<std::string> words;
    std::istringstream in(read_file(log_folder / std::to_string(n) / "args"));
    for (std::string w; std::getline(in, w, '\0');) words.push_back(w);
    return words;
  }
  std::vector<std::string> args(int n) const { return args(n, log()); }
  // The image as the double found it in run n; "(none)" when it found none.
  std::string image(int n, const fs::path& log_folder) const {
    const fs::path copy = log_folder / std::to_string(n) / "image";
    return fs::exists(copy) ? read_file(copy) : "(none)";
  }
  std::string image(int n) const { return image(n, log()); }
  // The folder that the double ran from in run n.
  fs::path tool_folder(int n) const { return read_file(log() / std::to_string(n) / "folder"); }

  // Names in the work folder, sorted.
  std::vector<std::string> listing() const {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(work())) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }

  // Expects a run that was refused or failed before the tool ran and
  // before anything was written.
  void expect_refused(const Result& r, const std::string& message) {
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, lines(message + "\n"));
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(runs(), 0u);
  }

  // Runs prgdis on a program file called `name` and expects both runs of
  // the tool to get its temporary name whole, as one word; removes the
  // program file again. Returns the run's result.
  Result expect_passed_whole(const std::string& name) {
    SCOPED_TRACE(name);
    const std::size_t before = runs();
    write_file(work() / name, basic_program);
    const Result r = run(name);
    EXPECT_EQ(r.status, 0) << r.err;
    const std::string tmp = name.substr(0, name.size() - 4) + ".tmp";
    EXPECT_EQ(runs(), before + 2);
    const int first = static_cast<int>(before) + 1;
    EXPECT_EQ(args(first), words_for("-a", tmp));
    EXPECT_EQ(args(first + 1), words_for("-w", tmp));
    EXPECT_EQ(image(first), basic_program.substr(2));
    fs::remove(work() / name);
    return r;
  }

  fs::path root_;
  std::string path_front_;
};

TEST_F(PrgdisRun, SuccessfulRunEchoesRunsTwiceAndRemovesTheImage) {
  write_file(work() / "game.prg", basic_program);
  const Result r = run("game.prg");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  // The echo stands before the tool's output even though stdout is a file.
  EXPECT_EQ(r.out, lines("Tolvek.exe -a -c6502 -o2049 -e2061 -t game.tmp\n"
                         "Tolvek double, run 1\n"
                         "Tolvek double, run 2\n"
                         "\n\nFile game.prg was disassembled successfully, see .asm and .lst file!\n"));
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
#ifdef _WIN32
  const std::string name = "sub\\x.prg";
#else
  const std::string name = "sub/x.prg";
#endif
  const Result r = run(name);
  EXPECT_EQ(r.status, 0) << r.err;
  ASSERT_EQ(runs(), 2u);
  EXPECT_EQ(args(1).back(), name.substr(0, 6) + "tmp");
  EXPECT_NE(r.out.find("File " + name + " was disassembled successfully"), std::string::npos);
  EXPECT_FALSE(fs::exists(work() / "sub" / "x.tmp"));
}

TEST_F(PrgdisRun, ImageIsCopiedByteForByteWhateverItHolds) {
  // The largest image there can be: 64 KiB.
  std::string prg = "\x9e\x9e"s;  // header bytes never arm the scan
  for (int i = 0; i < 0x10000 - 7; ++i) prg += static_cast<char>((i * 7 + i / 251) & 0xFF);
  prg += "\x9e" "50000\0"s;
  write_file(work() / "big.prg", prg);
  const Result r = run("big.prg");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(image(1), prg.substr(2));
  EXPECT_EQ(args(1)[2], "-o" + std::to_string(0x9E + 256 * 0x9E));
  EXPECT_EQ(args(1)[3], "-e50000");
}

TEST_F(PrgdisRun, ImageBeyondTheC64sMemoryIsRefusedBeforeAnythingIsWritten) {
  // No image is larger than the C64's 64 KiB, and Tolvek.exe takes none
  // that is: a byte more and nothing is copied at all.
  write_file(work() / "long.prg", "\x00\x00"s + std::string(0x10001, '\xea'));
  expect_refused(run("long.prg"), "Input file is too long!");
  EXPECT_EQ(listing(), std::vector<std::string>{"long.prg"});
}

TEST_F(PrgdisRun, ProgramFileOfTwoBytesGivesAnEmptyImage) {
  write_file(work() / "empty.prg", "\x00\x10"s);
  const Result r = run("empty.prg");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(args(1)[2], "-o4096");
  EXPECT_EQ(args(1)[3], "-e4096");
  EXPECT_EQ(read_file(log() / "1" / "image"), "");
  EXPECT_TRUE(fs::exists(log() / "1" / "image"));
}

TEST_F(PrgdisRun, BadCommandLineGivesUsageAndTouchesNothing) {
  const Result none = run_words({"./prgdis"});
  EXPECT_EQ(none.status, 1);
  EXPECT_EQ(none.out, "");
  EXPECT_EQ(none.err, lines("No input file given!\nUsage: ./prgdis cbmfilename\n"));

  write_file(work() / "my", basic_program);
  const Result many = run_words({"prgdis", "my", "game.prg"});
  EXPECT_EQ(many.status, 1);
  EXPECT_EQ(many.err, lines("Too many input files given (probably due to a space in filename)!\n"
                            "Usage: prgdis cbmfilename\n"));
  EXPECT_EQ(runs(), 0u);
  EXPECT_EQ(listing(), std::vector<std::string>{"my"});
}

TEST_F(PrgdisRun, UnusableProgramFileFailsBeforeAnythingIsWritten) {
  expect_refused(run("x.prg"), "Error opening input file!");
  for (const std::string& short_file : {""s, "\x01"s}) {
    write_file(work() / "x.prg", short_file);
    expect_refused(run("x.prg"), "Input file is too short!");
  }
  EXPECT_EQ(listing(), std::vector<std::string>{"x.prg"});

  fs::create_directory(work() / "dir.prg");
#ifdef _WIN32
  // Windows does not open a folder as a file at all.
  expect_refused(run("dir.prg"), "Error opening input file!");
#else
  expect_refused(run("dir.prg"), "Error reading input file!");
#endif
  EXPECT_FALSE(fs::exists(work() / "dir.tmp"));
}

TEST_F(PrgdisRun, TemporaryFileThatCannotBeCreatedIsReported) {
  write_file(work() / "x.prg", basic_program);
  fs::create_directory(work() / "x.tmp");
  expect_refused(run("x.prg"), "Error opening output file!");
}

TEST_F(PrgdisRun, FailedFirstRunStopsAndKeepsTheImage) {
  write_file(work() / "game.prg", basic_program);
  const Result r = run("game.prg", "1");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, lines("Tolvek terminated due to an error!\n"));
  EXPECT_EQ(r.out, lines("Tolvek.exe -a -c6502 -o2049 -e2061 -t game.tmp\nTolvek double, run 1\n"));
  EXPECT_EQ(runs(), 1u);
  EXPECT_EQ(read_file(work() / "game.tmp"), basic_program.substr(2));
}

TEST_F(PrgdisRun, FailedSecondRunIsReportedAndKeepsTheImage) {
  write_file(work() / "game.prg", basic_program);
  const Result r = run("game.prg", "2");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, lines("Tolvek terminated due to an error when generating the list file!\n"));
  EXPECT_EQ(runs(), 2u);
  EXPECT_EQ(read_file(work() / "game.tmp"), basic_program.substr(2));
}

TEST_F(PrgdisRun, MissingToolIsReportedBeforeAnythingIsWritten) {
  write_file(work() / "game.prg", basic_program);
  expect_refused(run_words({"prgdis", "game.prg"}, "", false),
                 "Tolvek.exe is neither beside prgdis nor on PATH!");
  EXPECT_EQ(listing(), (std::vector<std::string>{"game.prg"}));
}

// A folder of downloaded programs may hold a Tolvek.exe of anybody's; the
// one beside prgdis runs, else the first on PATH, and never one that is
// found through the current folder.
TEST_F(PrgdisRun, ToolBesidePrgdisRunsBeforeOneOnPathOrInTheCurrentFolder) {
  place_tool(root_ / "app");
  place_tool(work());
  write_file(work() / "game.prg", basic_program);
  const Result r = run("game.prg");
  EXPECT_EQ(r.status, 0) << r.err;
  ASSERT_EQ(runs(), 2u);
  EXPECT_TRUE(fs::equivalent(tool_folder(1), root_ / "app")) << tool_folder(1);
  EXPECT_TRUE(fs::equivalent(tool_folder(2), root_ / "app")) << tool_folder(2);
  // The echo names the tool as ever, not by its path.
  EXPECT_EQ(r.out.substr(0, r.out.find("Tolvek double")),
            lines("Tolvek.exe -a -c6502 -o2049 -e2061 -t game.tmp\n"));
}

TEST_F(PrgdisRun, ToolOnPathRunsWhenNoneIsBesidePrgdisAndRelativeEntriesAreSkipped) {
  place_tool(work());
  place_tool(work() / "sub");
  write_file(work() / "game.prg", basic_program);
  for (const char* front : {"", ".", "sub", "./sub"}) {
    SCOPED_TRACE(front);
    // The entry, and an empty one, which sh takes for the current folder.
    path_front_ = std::string(front) + path_separator + path_separator;
    fs::remove_all(log());
    fs::create_directories(log());
    const Result r = run("game.prg");
    EXPECT_EQ(r.status, 0) << r.err;
    ASSERT_EQ(runs(), 2u);
    EXPECT_TRUE(fs::equivalent(tool_folder(1), root_ / "bin")) << tool_folder(1);
    EXPECT_TRUE(fs::equivalent(tool_folder(2), root_ / "bin")) << tool_folder(2);
  }
}

TEST_F(PrgdisRun, ToolBesidePrgdisInAFolderWithSpecialCharactersRuns) {
  // The path is quoted for the command processor, and so is the name.
  const fs::path folder = root_ / "my tools & (it's) ^x !y;z,w=v";
  place_prgdis(folder);
  place_tool(folder);
  write_file(work() / "my game.prg", basic_program);
  const Result r = run("my game.prg");
  EXPECT_EQ(r.status, 0) << r.err;
  ASSERT_EQ(runs(), 2u);
  EXPECT_TRUE(fs::equivalent(tool_folder(1), folder)) << tool_folder(1);
  EXPECT_EQ(args(1), words_for("-a", "my game.tmp"));
  EXPECT_EQ(args(2), words_for("-w", "my game.tmp"));
}

TEST_F(PrgdisRun, ReadOnlyOutputStopsTheRunBeforeAnythingIsWritten) {
  // The user annotated an output by hand and made it read-only: the run
  // would replace it, or replace the other one and then fail.
  const fs::perms read_only = fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read;
  write_file(work() / "game.prg", basic_program);
  for (const std::string output : {"game.asm", "game.lst"}) {
    SCOPED_TRACE(output);
    write_file(work() / "game.asm", "; mine\n");
    write_file(work() / "game.lst", "mine\n");
    fs::permissions(work() / output, read_only);
    expect_refused(run("game.prg"), "Output file " + output + " is read-only!");
    EXPECT_EQ(listing(), (std::vector<std::string>{"game.asm", "game.lst", "game.prg"}));
    EXPECT_EQ(read_file(work() / "game.asm"), "; mine\n");
    EXPECT_EQ(fs::status(work() / output).permissions() & fs::perms::owner_write, fs::perms::none);
    fs::permissions(work() / output, fs::perms::owner_write, fs::perm_options::add);
  }
  // Writable outputs are the tool's to replace, whatever else their mode.
  fs::permissions(work() / "game.asm", fs::perms::owner_read | fs::perms::owner_write);
  const Result r = run("game.prg");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(runs(), 2u);
}

TEST_F(PrgdisRun, LongPathsWorkWhole) {
#ifdef _WIN32
  // Windows file names stop at MAX_PATH (260 characters) in all.
  const int parts = 2;
  const std::size_t part_length = 90;
#else
  const int parts = 6;
  const std::size_t part_length = 200;
#endif
  fs::path folder = work();
  std::string relative;
  for (int i = 0; i < parts; ++i) {
    const std::string part(part_length, static_cast<char>('a' + i));
    folder /= part;
    relative += part + "/";
  }
  fs::create_directories(folder);
  write_file(folder / "long.prg", basic_program);
  const Result r = run(relative + "long.prg");
  EXPECT_EQ(r.status, 0) << r.err;
  ASSERT_EQ(runs(), 2u);
  EXPECT_EQ(args(1).back(), relative + "long.tmp");
  EXPECT_FALSE(fs::exists(folder / "long.tmp"));
}

// Another program than basic_program, loaded at $1000 and started at 4200.
const std::string other_program = "\x00\x10\xa9\x01\x9e" "4200:\x60"s;

// What a run that had to give way to another one on the same temporary
// name says.
const std::string in_use = "Another prgdis run is using game.tmp!";

TEST_F(PrgdisRun, RunOnATemporaryNameInUseIsRefusedAndLeavesTheOtherRunAlone) {
  // The first run is kept inside its first call of the tool, its image in
  // use. Meanwhile runs on game.prg and on game, which share game.tmp, are
  // refused and touch nothing; then the first run finishes as if alone.
  write_file(work() / "game.prg", basic_program);
  write_file(work() / "game", other_program);
  const fs::path release = root_ / "release";
  set_env("TOLVEK_HOLD", release.string());
  Child first = start_run("game.prg", "first");
  set_env("TOLVEK_HOLD", "");
  while (running(first) && !fs::exists(log("first") / "1")) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  for (const std::string name : {"game.prg", "game"}) {
    SCOPED_TRACE(name);
    expect_refused(run(name), in_use);
  }
  write_file(release, "");
  const Result r = finish_run(first, "first");
  EXPECT_EQ(r.status, 0) << r.err;
  ASSERT_EQ(runs(log("first")), 2u);
  EXPECT_EQ(image(1, log("first")), basic_program.substr(2));
  EXPECT_EQ(image(2, log("first")), basic_program.substr(2));
  EXPECT_EQ(listing(), (std::vector<std::string>{"game", "game.prg"}));
}

TEST_F(PrgdisRun, RunsStartedTogetherOnOneTemporaryNameNeverSpoilEachOther) {
  // Two runs at once, on game.prg and on game, with a tool slow enough that
  // they overlap: each one either does its whole job on its own image or
  // gives way with its message; neither fails otherwise.
  write_file(work() / "game.prg", basic_program);
  write_file(work() / "game", other_program);
  set_env("TOLVEK_SLEEP_MS", "30");
#ifdef _WIN32
  const int rounds = 6;  // starting programs under wine is slow
#else
  const int rounds = 20;
#endif
  int gave_way = 0;
  for (int round = 0; round < rounds; ++round) {
    SCOPED_TRACE(round);
    const struct {
      std::string name, program, tag;
    } both[] = {{"game.prg", basic_program, "prg-" + std::to_string(round)},
                {"game", other_program, "bare-" + std::to_string(round)}};
    Child children[2] = {start_run(both[0].name, both[0].tag), start_run(both[1].name, both[1].tag)};
    for (int i = 0; i < 2; ++i) {
      SCOPED_TRACE(both[i].name);
      const Result r = finish_run(children[i], both[i].tag);
      if (r.status == 0) {
        EXPECT_EQ(r.err, "");
        ASSERT_EQ(runs(log(both[i].tag)), 2u);
        EXPECT_EQ(image(1, log(both[i].tag)), both[i].program.substr(2));
        EXPECT_EQ(image(2, log(both[i].tag)), both[i].program.substr(2));
      } else {
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, lines(in_use + "\n"));
        EXPECT_EQ(runs(log(both[i].tag)), 0u);
        ++gave_way;
      }
    }
    EXPECT_EQ(listing(), (std::vector<std::string>{"game", "game.prg"}));
  }
  std::cout << "runs that gave way: " << gave_way << " of " << 2 * rounds << "\n";
}

#ifdef _WIN32

class PrgdisOnWindows : public PrgdisRun {};

TEST_F(PrgdisOnWindows, DeviceAsProgramFileIsRefusedBeforeAnythingIsWritten) {
  // NUL opens as a file that is always empty: not a program file.
  expect_refused(run("NUL"), "Input file is not a regular file!");
  EXPECT_TRUE(listing().empty());
}

// cmd.exe would look in the current folder first.
TEST_F(PrgdisOnWindows, ToolInTheCurrentFolderIsNotRun) {
  place_tool(work());
  write_file(work() / "game.prg", basic_program);
  expect_refused(run_words({"prgdis", "game.prg"}, "", false),
                 "Tolvek.exe is neither beside prgdis nor on PATH!");
  EXPECT_EQ(listing(), (std::vector<std::string>{"Tolvek.exe", "game.prg"}));
}

TEST_F(PrgdisOnWindows, ToolWhosePathCmdCannotTakeIsRefusedBeforeAnythingIsWritten) {
  const fs::path folder = root_ / "100%";
  place_prgdis(folder);
  place_tool(folder);
  write_file(work() / "game.prg", basic_program);
  const Result r = run("game.prg");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("100%\\Tolvek.exe holds a character that cannot be passed safely to the command processor!"),
            std::string::npos) << r.err;
  EXPECT_EQ(runs(), 0u);
  EXPECT_EQ(listing(), (std::vector<std::string>{"game.prg"}));
}

TEST_F(PrgdisOnWindows, NamesWithCmdSpecialCharactersArePassedWhole) {
  const std::string names[] = {"my game.prg", "a&b.prg", "c^d.prg", "(e).prg", "f!g.prg",
                               "it's.prg",    "h;i.prg", "j,k=l.prg", "m  n.prg"};
  for (const auto& name : names) {
    const Result r = expect_passed_whole(name);
    const std::string tmp = name.substr(0, name.size() - 4) + ".tmp";
    const std::string word = (name == "j,k=l.prg") ? tmp : "\"" + tmp + "\"";
    EXPECT_EQ(r.out.substr(0, r.out.find('\r')), "Tolvek.exe -a -c6502 -o2049 -e2061 -t " + word);
  }
  EXPECT_TRUE(listing().empty());
}

TEST_F(PrgdisOnWindows, PercentSignIsRefusedBeforeAnyFileIsTouched) {
  for (const char* name : {"100%.prg", "%PATH%.prg", "%OS%"}) {
    SCOPED_TRACE(name);
    write_file(work() / name, basic_program);
    expect_refused(run(name),
                   "Input file name holds a character that cannot be passed safely to Tolvek.exe!");
    fs::remove(work() / name);
  }
  EXPECT_TRUE(listing().empty());
}

TEST_F(PrgdisOnWindows, NamesWindowsCannotHoldFailBeforeAnythingIsWritten) {
  // No Windows file name holds < > or |, so no such program file exists.
  for (const char* name : {"a<b.prg", "c>d.prg", "e|f.prg"}) {
    SCOPED_TRACE(name);
    expect_refused(run(name), "Error opening input file!");
  }
  // A double quote cannot be passed through cmd.exe at all.
  expect_refused(run("g\"h.prg"),
                 "Input file name holds a character that cannot be passed safely to Tolvek.exe!");
  EXPECT_TRUE(listing().empty());
}

#else

class PrgdisOnPosix : public PrgdisRun {};

TEST_F(PrgdisOnPosix, ProgramFileThatIsNoRegularFileIsRefusedBeforeAnythingIsWritten) {
  // A device that never ends, one that is always empty, a FIFO that nobody
  // writes to, and links to them. (For the program as it was, the limit on
  // file sizes stops the endless copy and the alarm the wait for a writer.)
  fs::create_symlink("/dev/zero", work() / "zero.prg");
  fs::create_symlink("/dev/null", work() / "null.prg");
  ASSERT_EQ(mkfifo((work() / "fifo.prg").c_str(), 0600), 0);
  fs::create_symlink("fifo.prg", work() / "fifo-link.prg");
  for (const char* name : {"zero.prg", "null.prg", "fifo.prg", "fifo-link.prg"}) {
    SCOPED_TRACE(name);
    const Result r = run_words({"prgdis", name}, "", true, [] {
      const rlimit file_size{1 << 20, 1 << 20};
      if (setrlimit(RLIMIT_FSIZE, &file_size) != 0) _exit(126);
      alarm(20);
    });
    expect_refused(r, "Input file is not a regular file!");
  }
  EXPECT_EQ(listing(), (std::vector<std::string>{"fifo-link.prg", "fifo.prg", "null.prg", "zero.prg"}));
}

TEST_F(PrgdisOnPosix, ControlCharactersInNamesShowAsQuestionMarks) {
  // ESC, DEL, a CSI byte on its own and as the UTF-8 of U+009B could drive
  // the terminal; valid UTF-8 is shown as it is.
  const struct {
    std::string stem, shown;
  } names[] = {{"esc\x1b[2J", "esc?[2J"},      {"del\x7f", "del?"},
               {"csi\x9b" "2J", "csi?2J"},     {"c1\xc2\x9b" "2J", "c1?2J"},
               {"\xc3\xbc", "\xc3\xbc"}, {"\xe6\x97\xa5\xe6\x9c\xac", "\xe6\x97\xa5\xe6\x9c\xac"}};
  for (const auto& name : names) {
    SCOPED_TRACE(name.shown);
    write_file(work() / (name.stem + ".prg"), basic_program);
    const Result done = run(name.stem + ".prg");
    EXPECT_EQ(done.status, 0) << done.err;
    EXPECT_EQ(done.out.substr(0, done.out.find('\n')),
              "Tolvek.exe -a -c6502 -o2049 -e2061 -t '" + name.shown + ".tmp'");
    EXPECT_NE(done.out.find("\n\n\nFile " + name.shown + ".prg was disassembled successfully"),
              std::string::npos) << done.out;

    write_file(work() / (name.stem + ".asm"), "; mine\n");
    fs::permissions(work() / (name.stem + ".asm"), fs::perms::owner_read);
    const Result refused = run(name.stem + ".prg");
    EXPECT_EQ(refused.err, "Output file " + name.shown + ".asm is read-only!\n");
  }
  const Result usage = run_words({"prg\x1b]2;owned\x07" "dis\xc2\x9b"});
  EXPECT_EQ(usage.err, "No input file given!\nUsage: prg?]2;owned?dis? cbmfilename\n");
}

TEST_F(PrgdisOnPosix, AnyNameReachesTheToolAsOneWordAndNeverAsACommand) {
  const std::string names[] = {
      "my game.prg", "x;touch pwned.prg", "$(touch pwned).prg", "`touch pwned`.prg",
      "it's.prg", "a\"b.prg", "star*.prg", "line\nbreak.prg", "tab\tand\\back.prg",
      "-dash.prg", "~tilde&amp|pipe>gt<lt.prg", "100%.prg", "\xc3\xa4\xc3\xb6.prg"};
  for (const auto& name : names) expect_passed_whole(name);
  EXPECT_TRUE(listing().empty());  // no "pwned", no leftover .tmp
}

TEST_F(PrgdisOnPosix, EchoedLineIsTheQuotedCommand) {
  write_file(work() / "it's my.prg", basic_program);
  const Result r = run("it's my.prg");
  EXPECT_EQ(r.out.substr(0, r.out.find('\n')),
            "Tolvek.exe -a -c6502 -o2049 -e2061 -t 'it'\\''s my.tmp'");
}

TEST_F(PrgdisOnPosix, LinkAtTheTemporaryNameIsReplacedNotWrittenThrough) {
  // Whatever has the temporary name is removed and a new file made in its
  // place: the file a link leads to keeps what it held, be it a file of
  // the user's or a device where every write fails. (A write error of the
  // copy itself is the file size limit's test below.)
  write_file(work() / "precious.txt", "mine\n");
  write_file(work() / "game.prg", basic_program);
  const std::function<void()> links[] = {
      [this] { fs::create_symlink("precious.txt", work() / "game.tmp"); },
      [this] { fs::create_hard_link(work() / "precious.txt", work() / "game.tmp"); },
      [this] { fs::create_symlink("/dev/full", work() / "game.tmp"); },
      [this] { fs::create_symlink("missing/nowhere.txt", work() / "game.tmp"); },
  };
  int run_count = 0;
  for (const auto& plant_link : links) {
    SCOPED_TRACE(run_count / 2);
    plant_link();
    const Result r = run("game.prg");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(image(run_count + 1), basic_program.substr(2));
    run_count += 2;
    EXPECT_EQ(read_file(work() / "precious.txt"), "mine\n");
    EXPECT_EQ(listing(), (std::vector<std::string>{"game.prg", "precious.txt"}));
  }
}

TEST_F(PrgdisOnPosix, FileSizeLimitIsAWriteErrorNotADeath) {
  // Under a file size limit the copy fails with a message instead of
  // killing prgdis (SIGXFSZ) half-way: a small image when it is flushed on
  // closing, a large one on writing. (The limit holds for the file that
  // takes standard error too, so it cannot be 0.)
  const struct {
    rlim_t limit;
    std::size_t size;
  } cases[] = {{1024, 3000}, {16384, 60000}};
  for (const auto& each : cases) {
    SCOPED_TRACE(each.size);
    write_file(work() / "x.prg", "\x01\x08"s + std::string(each.size, 'a'));
    const rlim_t limit = each.limit;
    const Result r = run_words({"prgdis", "x.prg"}, "", true, [limit] {
      const rlimit file_size{limit, limit};
      if (setrlimit(RLIMIT_FSIZE, &file_size) != 0) _exit(126);
    });
    expect_refused(r, "Error writing output file!");
  }
}

TEST_F(PrgdisOnPosix, ClosedPipeOnStandardOutputFinishesTheJobAndFails) {
  // prgdis game.prg | head -c0: the reader is gone before anything is
  // written. The job is done all the same (no SIGPIPE cuts it off), and the
  // status says that the report was lost.
  write_file(work() / "game.prg", basic_program);
  int pipe_ends[2];
  ASSERT_EQ(pipe(pipe_ends), 0);
  close(pipe_ends[0]);
  const int writer = pipe_ends[1];
  const Result r = run_words({"prgdis", "game.prg"}, "", true, [writer] {
    if (dup2(writer, STDOUT_FILENO) < 0) _exit(126);
  });
  close(writer);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "Error writing standard output!\n");
  EXPECT_EQ(runs(), 2u);
  EXPECT_EQ(listing(), std::vector<std::string>{"game.prg"});
}

TEST_F(PrgdisOnPosix, FullStandardOutputFinishesTheJobAndFails) {
  write_file(work() / "game.prg", basic_program);
  const Result r = run_words({"prgdis", "game.prg"}, "", true, [] {
    if (!freopen("/dev/full", "wb", stdout)) _exit(126);
  });
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "Error writing standard output!\n");
  EXPECT_EQ(runs(), 2u);
  EXPECT_EQ(listing(), std::vector<std::string>{"game.prg"});
}

TEST_F(PrgdisOnPosix, HostileImagesOfTokensAndDigits) {
  // The largest image of SYS tokens each followed by a digit: every number
  // is cut off by the next token, and the last one by the end of the file.
  std::string tokens = "\x00\x10"s;
  for (int i = 0; i < 32 * 1024; ++i) tokens += "\x9e" "9"s;
  write_file(work() / "tokens.prg", tokens);
  Result r = run("tokens.prg");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(args(1)[3], "-e4096");

  // One SYS and 64 KiB of digits: the number wraps modulo 2^32 many times
  // over and is committed when the colon closes it.
  std::string digits = "\x00\x00\x9e"s;
  std::uint32_t value = 0;
  for (int i = 0; i < 0x10000 - 2; ++i) {
    const char digit = static_cast<char>('0' + (i * 7) % 10);
    digits += digit;
    value = value * 10u + static_cast<std::uint32_t>(digit - '0');
  }
  digits += ':';
  write_file(work() / "digits.prg", digits);
  r = run("digits.prg");
  ASSERT_EQ(r.status, 0) << r.err;
  const auto wrapped = static_cast<std::int32_t>(value);
  EXPECT_EQ(args(3)[3], "-e" + std::to_string(wrapped >= 0 ? wrapped : 0));
  EXPECT_EQ(image(3), digits.substr(2));
}

TEST_F(PrgdisOnPosix, NamesAtTheFileSystemsLengthLimit) {
  // 255 bytes is the longest name a Linux file system takes; the .tmp name
  // of a .prg is as long as the .prg name, so this one works.
  const std::string longest = std::string(251, 'n') + ".prg";
  write_file(work() / longest, basic_program);
  const Result ok = run(longest);
  EXPECT_EQ(ok.status, 0) << ok.err;
  EXPECT_EQ(args(1).back(), std::string(251, 'n') + ".tmp");

  // Here ".tmp" is appended and the name grows past the limit.
  const std::string growing = std::string(253, 'g');
  write_file(work() / growing, basic_program);
  const Result refused = run(growing);
  EXPECT_EQ(refused.status, 1);
  EXPECT_EQ(refused.err, "Error opening output file!\n");
  EXPECT_EQ(runs(), 2u);
  EXPECT_EQ(listing(), (std::vector<std::string>{growing, longest}));
}

// Waits for a started prgdis: the signal that ended it, or 0 when it
// exited, with its status in `status`.
int stopping_signal(Child& child, int& status) {
  int wstatus = 0;
  waitpid(child.pid, &wstatus, 0);
  child.pid = -1;
  status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1;
  return WIFSIGNALED(wstatus) ? WTERMSIG(wstatus) : 0;
}

TEST_F(PrgdisOnPosix, RunStoppedWhileTheToolRunsTakesItsTemporaryFileAlong) {
  write_file(work() / "game.prg", basic_program);
  for (const int signal : {SIGTERM, SIGHUP}) {
    SCOPED_TRACE(signal);
    const std::string tag = "stop" + std::to_string(signal);
    const fs::path release = root_ / ("release" + tag);
    set_env("TOLVEK_HOLD", release.string());
    Child child = start_run("game.prg", tag);
    set_env("TOLVEK_HOLD", "");
    while (!fs::exists(log(tag) / "1")) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_TRUE(fs::exists(work() / "game.tmp"));
    kill(child.pid, signal);
    int status = 0;
    EXPECT_EQ(stopping_signal(child, status), signal);
    EXPECT_EQ(listing(), std::vector<std::string>{"game.prg"});
    write_file(release, "");  // the tool, left on its own, may end now
  }
}

TEST_F(PrgdisOnPosix, StopAsAFailedRunEndsIsTakenLikeAnyOther) {
  // A failed run ends with its image still on disk; a stop that comes as
  // the process ends, its statics already destroyed, takes the image along
  // and the process dies of it (the sanitizer build catches a read of what
  // was freed: the name is too long to be kept inside its string).
  const std::string name = "a-program-with-a-long-name.prg";
  write_file(work() / name, basic_program);
  set_env("PATH", (root_ / "bin").string() + path_separator + system_path);
  set_env("TOLVEK_LOG", log().string());
  set_env("TOLVEK_FAIL_RUN", "1");
  for (const int signal : {SIGTERM, SIGINT}) {
    SCOPED_TRACE(signal);
    fs::remove_all(log());  // the run that fails is the first one logged
    fs::create_directories(log());
    const std::string fault = "exiting:" + std::to_string(signal) + ":prgdis";
    Child child = start({"prgdis", name}, work(), root_ / "stdout", root_ / "stderr", [&fault] {
      setenv("ASAN_OPTIONS", "verify_asan_link_order=0", 1);
      setenv("LD_PRELOAD", FAULTS_LIB, 1);
      setenv("TOLVEK_FAULT", fault.c_str(), 1);
    });
    int status = 0;
    EXPECT_EQ(stopping_signal(child, status), signal) << read_file(root_ / "stderr");
    EXPECT_EQ(read_file(root_ / "stderr"), lines("Tolvek terminated due to an error!\n"));
    EXPECT_EQ(listing(), std::vector<std::string>{name});
  }
}

TEST_F(PrgdisOnPosix, RunsStoppedAtRandomMomentsUnderLoadLeaveNoTemporaryFile) {
  constexpr int kRuns = 200;
  constexpr int kSideBySide = 4;
  // Two threads keep both cores of a small machine busy, so that a run is
  // preempted at every kind of moment, right after making its file too.
  std::atomic<bool> stop{false};
  std::vector<std::thread> load;
  for (int i = 0; i < 2; ++i) {
    load.emplace_back([&stop] {
      volatile unsigned long spins = 0;
      while (!stop.load(std::memory_order_relaxed)) spins = spins + 1;
    });
  }
  std::vector<fs::path> folders;
  for (int i = 0; i < kSideBySide; ++i) {
    folders.push_back(root_ / ("side" + std::to_string(i)));
    fs::create_directories(folders.back());
    write_file(folders.back() / "game.prg", basic_program);
  }
  set_env("PATH", (root_ / "bin").string() + path_separator + system_path);
  set_env("TOLVEK_FAIL_RUN", "none");
  const auto run_in = [&](int i) {
    set_env("TOLVEK_LOG", (root_ / ("log" + std::to_string(i))).string());
    fs::create_directories(root_ / ("log" + std::to_string(i)));
    return start({"prgdis", "game.prg"}, folders[static_cast<std::size_t>(i)], root_ / "stdout", root_ / "stderr", {});
  };
  // How long a whole run takes here: the shortest of three, as the first
  // one also loads the programs from disk (timed alone, it put most stops
  // after the runs had ended).
  auto whole_run = std::chrono::steady_clock::duration::max();
  for (int i = 0; i < 3; ++i) {
    const auto started = std::chrono::steady_clock::now();
    Child timed = run_in(0);
    ASSERT_EQ(finish(timed), 0);
    whole_run = std::min(whole_run, std::chrono::steady_clock::now() - started);
  }

  std::mt19937 random(77);
  int stopped = 0;
  for (int run = 0; run < kRuns; run += kSideBySide) {
    std::vector<std::pair<std::chrono::steady_clock::time_point, Child>> children;
    const auto now = std::chrono::steady_clock::now();
    for (int i = 0; i < kSideBySide; ++i) {
      const auto when = std::chrono::duration_cast<std::chrono::steady_clock::duration>(
          whole_run * std::uniform_real_distribution<double>(0.0, 1.2)(random));
      children.emplace_back(now + when, run_in(i));
    }
    for (auto& [when, child] : children) {
      std::this_thread::sleep_until(when);
      kill(child.pid, random() % 2 == 0 ? SIGTERM : SIGHUP);
    }
    for (auto& [when, child] : children) {
      int status = 0;
      const int signal = stopping_signal(child, status);
      if (signal != 0) ++stopped;
      EXPECT_TRUE(signal != 0 || status == 0) << "status " << status;
    }
    for (const fs::path& folder : folders) {
      ASSERT_FALSE(fs::exists(folder / "game.tmp")) << "left behind after run " << run;
    }
  }
  stop = true;
  for (std::thread& thread : load) thread.join();
  EXPECT_GT(stopped, kRuns / 4);
}

TEST_F(PrgdisOnPosix, TemporaryNameThatIsTheProgramFileItselfIsRefused) {
  write_file(work() / "x.prg", basic_program);
  fs::create_symlink("x.prg", work() / "x.tmp");
  expect_refused(run("x.prg"), "Temporary file x.tmp is the input file itself!");
  EXPECT_EQ(read_file(work() / "x.prg"), basic_program);
}

#endif

}  // namespace
