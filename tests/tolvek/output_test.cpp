// How Tolvek.exe writes its output: every name and text stays inside its
// comment; the output is replaced whole through a temporary file that nobody
// can plant, with a short name that works wherever the output's does; a
// stopped run or a failed write leaves no temporary file and the older
// output as it was; the user's read-only files are left alone and other
// files keep their permissions.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <random>
#include <set>
#include <sstream>
#include <thread>

#include "output/comment_text.hpp"
#include "support.hpp"
#include "version.hpp"

using namespace tolvek_test;
namespace fs = std::filesystem;

namespace {

std::string in_comment(std::string_view text, bool preprocessed = false) {
    std::string out = "; ";
    tolvek::append_comment_text(out, text, preprocessed);
    return out;
}

TEST(CommentText, ControlCharactersAreEscapedAndTheRestKept) {
    EXPECT_EQ(in_comment("plain, \"quoted\" and \xc3\xbc\xe6\x97\xa5\xf0\x9f\x8e\xae"),
              "; plain, \"quoted\" and \xc3\xbc\xe6\x97\xa5\xf0\x9f\x8e\xae");
    EXPECT_EQ(in_comment("a\nb\rc\td"), "; a\\nb\\rc\\td");
    EXPECT_EQ(in_comment(std::string_view("nul\0\x01\x1f\x7f!", 8)), "; nul\\x00\\x01\\x1f\\x7f!");
    EXPECT_EQ(in_comment("back\\slash\\n"), "; back\\\\slash\\\\n");
    // C1 controls and the Unicode line and paragraph separators, in UTF-8;
    // a no-break space and a dash are ordinary characters.
    EXPECT_EQ(in_comment("\xc2\x85|\xc2\x9f|\xc2\xa0|\xe2\x80\xa8|\xe2\x80\xa9|\xe2\x80\x94"),
              "; \\u0085|\\u009f|\xc2\xa0|\\u2028|\\u2029|\xe2\x80\x94");
    // Bytes that are not UTF-8 are escaped one by one (ca65 stops reading
    // a source at $FF): stray and cut-off bytes, overlong forms, surrogates.
    EXPECT_EQ(in_comment("\xff\xfe|\xc2"), "; \\xff\\xfe|\\xc2");
    EXPECT_EQ(in_comment("\xe2\x80"), "; \\xe2\\x80");
    EXPECT_EQ(in_comment("\xc0\xaf|\xed\xa0\x80|\xf4\x90\x80\x80"),
              "; \\xc0\\xaf|\\xed\\xa0\\x80|\\xf4\\x90\\x80\\x80");
    EXPECT_EQ(in_comment("latin-1 \xfc ok"), "; latin-1 \\xfc ok");
}

// For xa, whose preprocessor reads comments too: no "/*" opens a comment,
// and no backslash ends a line; the rest as for every dialect.
TEST(CommentText, ForAPreprocessorNoCommentOpensAndNoLineEndsInABackslash) {
    EXPECT_EQ(in_comment("a/*b*/c // d /", true), "; a\\x2f*b*/c // d /");
    EXPECT_EQ(in_comment("//*", true), "; /\\x2f*");
    EXPECT_EQ(in_comment("ends in \\", true), "; ends in \\x5c");
    EXPECT_EQ(in_comment("tab\t\xff", true), "; tab\\t\\xff");
    EXPECT_EQ(in_comment("a/*b\\", false), "; a/*b\\\\");
}

TEST(MessageText, ControlCharactersAndBytesThatAreNotUtf8ShowAsQuestionMarks) {
    EXPECT_EQ(tolvek::one_line("a\x1b[2J\x07\n\r\x7f."), "a?[2J????.");
    EXPECT_EQ(tolvek::one_line("\xc2\x80|\xc2\x9b|\x9b|\xbf|\xe2\x80|\xc0\xaf|\xed\xa0\x80|\xf4\x90\x80\x80|\xff"),
              "?|?|?|?|??|??|???|????|?");
    // UTF-8 text, a no-break space and the backslash of a Windows path stay.
    EXPECT_EQ(tolvek::one_line("work\\\xc3\xbc \xe6\x97\xa5\xf0\x9f\x8e\xae\xc2\xa0"),
              "work\\\xc3\xbc \xe6\x97\xa5\xf0\x9f\x8e\xae\xc2\xa0");
}

// The example program's load and entry address.
const std::string kAddresses = " -c6502 -o2049 -e2061 -t ";

class OutputFile : public ::testing::Test {
protected:
    void SetUp() override {
        program = read_bytes(fs::path(EXAMPLES_DIR) / "hello.prg");
        ASSERT_GT(program.size(), 2u);
        image.assign(program.begin() + 2, program.end());
        write_bytes(dir / "game.tmp", image);
    }

    // Runs Tolvek.exe -a or -w (`option`) on `image_name`, with `prefix`
    // before the command (variables, a ulimit).
    Result tolvek(const std::string& option, const std::string& image_name, const std::string& prefix = "") {
        return run_in(dir.path(), prefix + quote(TOLVEK_EXE) + " " + option + kAddresses + quote(image_name));
    }

    // The command prefix that loads faults.cpp with a fault.
    static std::string with_fault(const std::string& fault) {
        // A sanitizer's runtime wants to come first; here it cannot.
        return "ASAN_OPTIONS=verify_asan_link_order=0 LD_PRELOAD=" + quote(FAULTS_LIB) +
               " TOLVEK_FAULT=" + quote(fault) + " ";
    }

    std::vector<std::string> names() const {
        std::vector<std::string> found;
        for (const auto& entry : fs::directory_iterator(dir.path())) found.push_back(entry.path().filename().string());
        std::sort(found.begin(), found.end());
        return found;
    }

    static fs::perms mode(const fs::path& file) { return fs::status(file).permissions(); }

    std::vector<std::uint8_t> program;
    std::vector<std::uint8_t> image;
    ScratchDir dir;
};

TEST_F(OutputFile, NameWithLineBreaksStaysInsideItsComment) {
    if (!have_acme()) GTEST_SKIP() << "acme is not installed";
    // A crafted name that would put a directive into the source.
    write_text(dir / "secret.txt", "SECRET");
    const struct {
        std::string stem;
        std::string shown;
    } names[] = {
        {"x\n!bin \"secret.txt\"\n", "x\\n!bin \"secret.txt\"\\n"},
        {"y\r!bin \"secret.txt\"\r", "y\\r!bin \"secret.txt\"\\r"},
        {"tab\tbell\x07" "back\\", "tab\\tbell\\x07back\\\\"},
    };
    for (const auto& name : names) {
        SCOPED_TRACE(name.shown);
        write_bytes(dir / (name.stem + ".tmp"), image);
        for (const char* option : {"-a", "-w"}) {
            const Result result = tolvek(option, name.stem + ".tmp");
            ASSERT_EQ(result.status, 0) << result.err;
        }
        const std::string header = "; Disassembly of " + name.shown + ".tmp by Tolvek " + std::string(tolvek::kVersion) + "\n";
        for (const char* extension : {".asm", ".lst"}) {
            const std::string text = read_text(dir / (name.stem + extension));
            EXPECT_EQ(text.substr(0, text.find('\n') + 1), header) << extension;
        }
        const Result acme = run_in(dir.path(), "acme -f cbm -o again.prg " + quote(name.stem + ".asm"));
        EXPECT_EQ(acme.status, 0) << acme.err;
        EXPECT_EQ(read_bytes(dir / "again.prg"), program);
    }
}

TEST_F(OutputFile, TemporaryFileCannotBePlanted) {
    // Someone who can write in the folder makes a link under the temporary
    // name right before Tolvek opens it: Tolvek must not write through it.
    write_text(dir / "victim", "not Tolvek's\n");
    const std::vector<std::string> before = names();
    const Result result = tolvek("-a", "game.tmp", with_fault("plant:victim"));
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(read_text(dir / "victim"), "not Tolvek's\n");
    EXPECT_EQ(read_text(dir / "game.asm").rfind("; Disassembly of game.tmp by Tolvek " + std::string(tolvek::kVersion) + "\n", 0), 0u);
    // Only the output and the planted link are new; the link stays.
    std::vector<std::string> added;
    for (const std::string& name : names()) {
        if (std::find(before.begin(), before.end(), name) == before.end()) added.push_back(name);
    }
    ASSERT_EQ(added.size(), 2u);
    const std::string link = added[0] == "game.asm" ? added[1] : added[0];
    EXPECT_TRUE(fs::is_symlink(dir / link)) << link;
}

TEST_F(OutputFile, TemporaryNamesAreShortFreshAndBesideTheOutput) {
    fs::create_directory(dir / "sub");
    write_bytes(dir / "sub" / "game.tmp", image);
    std::set<std::string> seen;
    for (int run = 0; run < 20; ++run) {
        fs::remove(dir / "log");
        const Result result = tolvek(run % 2 ? "-w" : "-a", "sub/game.tmp", with_fault("log:log"));
        ASSERT_EQ(result.status, 0) << result.err;
        const fs::path temporary = read_text(dir / "log").substr(0, read_text(dir / "log").find('\n'));
        SCOPED_TRACE(temporary.string());
        EXPECT_EQ(temporary.parent_path(), "sub");
        const std::string name = temporary.filename().string();
        EXPECT_LE(name.size(), 16u);
        EXPECT_EQ(name.find("game"), std::string::npos) << "a name that can be guessed";
        EXPECT_TRUE(seen.insert(name).second) << "drawn twice";
    }
    std::vector<std::string> left;
    for (const auto& entry : fs::directory_iterator(dir / "sub")) left.push_back(entry.path().filename().string());
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (std::vector<std::string>{"game.asm", "game.lst", "game.tmp"}));
}

TEST_F(OutputFile, RunStoppedWhileRenamingFinishesTheRenamesFirst) {
    write_text(dir / "game.asm", "old asm\n");
    write_text(dir / "game.cfg", "old cfg\n");
    const std::vector<std::string> before = names();
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        SCOPED_TRACE(signal);
        write_text(dir / "game.asm", "old asm\n");
        write_text(dir / "game.cfg", "old cfg\n");
        // The signal comes as the first complete output is renamed: all of
        // them replace their older files, then the run dies of it (the
        // shell reports a death by signal n as 128 + n). Never a new source
        // with an old configuration.
        const Result result = tolvek("-a -sca65", "game.tmp", with_fault("signal:" + std::to_string(signal)));
        EXPECT_EQ(result.status, 128 + signal) << result.err;
        EXPECT_EQ(names(), before);
        EXPECT_EQ(read_text(dir / "game.asm").rfind("; Disassembly of game.tmp", 0), 0u);
        EXPECT_NE(read_text(dir / "game.cfg"), "old cfg\n");
    }
}

TEST_F(OutputFile, RunStoppedAsItsTemporaryFileAppearsLeavesNone) {
    write_text(dir / "game.asm", "old asm\n");
    const std::vector<std::string> before = names();
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        SCOPED_TRACE(signal);
        // The signal comes the moment the temporary file exists, before the
        // program has had a chance to note its name.
        const Result result = tolvek("-a", "game.tmp", with_fault("created:" + std::to_string(signal)));
        EXPECT_EQ(result.status, 128 + signal) << result.err;
        EXPECT_EQ(names(), before);
        EXPECT_EQ(read_text(dir / "game.asm"), "old asm\n");
    }
}

TEST_F(OutputFile, RunStoppedAsItEndsKeepsItsOutputsAndDiesOfTheSignal) {
    write_text(dir / "game.asm", "old asm\n");
    for (const int signal : {SIGINT, SIGTERM}) {
        SCOPED_TRACE(signal);
        // The outputs are in place and the program's statics are gone when
        // the signal comes; the handler is still there and must not read
        // what was freed (the sanitizer build catches that).
        const Result result = tolvek("-a -sca65", "game.tmp", with_fault("exiting:" + std::to_string(signal)));
        EXPECT_EQ(result.status, 128 + signal) << result.err;
        EXPECT_EQ(names(), (std::vector<std::string>{"game.asm", "game.cfg", "game.tmp"}));
        EXPECT_EQ(read_text(dir / "game.asm").rfind("; Disassembly of game.tmp", 0), 0u);
    }
}

// Two threads that keep both cores of a small machine busy while they
// live, so that a run is preempted at every kind of moment: right after a
// system call that created its temporary file, too.
class BusyLoad {
public:
    BusyLoad() {
        for (int i = 0; i < 2; ++i) {
            threads_.emplace_back([this] {
                unsigned long spins = 0;
                while (!stop_.load(std::memory_order_relaxed)) ++spins;
                sink_.fetch_add(spins, std::memory_order_relaxed);
            });
        }
    }
    ~BusyLoad() {
        stop_ = true;
        for (std::thread& thread : threads_) thread.join();
    }
    BusyLoad(const BusyLoad&) = delete;
    BusyLoad& operator=(const BusyLoad&) = delete;

private:
    std::atomic<bool> stop_{false};
    std::atomic<unsigned long> sink_{0};
    std::vector<std::thread> threads_;
};

// Starts Tolvek.exe with `args` in `folder`, its output streams closed.
pid_t start_tolvek(const fs::path& folder, const std::vector<std::string>& args) {
    std::vector<std::string> words{TOLVEK_EXE};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, 1);
        dup2(null, 2);
        if (chdir(folder.c_str()) != 0) _exit(127);
        execv(argv[0], argv.data());
        _exit(127);
    }
    return pid;
}

TEST_F(OutputFile, RunsStoppedAtRandomMomentsUnderLoadLeaveNoTemporaryFile) {
    constexpr int kRuns = 1000;
    constexpr std::size_t kSideBySide = 4;
    // Short runs, so that a thousand take seconds: the moments that matter
    // are around the files, not in the analysis.
    const std::vector<std::string> asm_run{"-a", "-c6502", "-o2049", "-e2061", "-t", "game.tmp", "-sca65", "--run-cycles", "0"};
    const std::vector<std::string> lst_run{"-w", "-c6502", "-o2049", "-e2061", "-t", "game.tmp", "--run-cycles", "0"};
    std::vector<fs::path> folders;
    for (std::size_t i = 0; i < kSideBySide; ++i) {
        folders.push_back(dir / ("run" + std::to_string(i)));
        fs::create_directory(folders.back());
        write_bytes(folders.back() / "game.tmp", image);
    }
    // The complete outputs, and how long a whole run takes.
    const auto started = std::chrono::steady_clock::now();
    for (const auto* args : {&asm_run, &lst_run}) {
        int status = -1;
        ASSERT_GT(waitpid(start_tolvek(folders[0], *args), &status, 0), 0);
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    const auto whole_run = (std::chrono::steady_clock::now() - started) / 2;
    const std::string complete_asm = read_text(folders[0] / "game.asm");
    const std::string complete_cfg = read_text(folders[0] / "game.cfg");
    const std::string complete_lst = read_text(folders[0] / "game.lst");

    const BusyLoad load;
    std::mt19937 random(2025);
    int stopped = 0;
    for (int run = 0; run < kRuns; run += static_cast<int>(kSideBySide)) {
        for (const fs::path& folder : folders) {
            write_text(folder / "game.asm", "old asm\n");
            write_text(folder / "game.cfg", "old cfg\n");
            write_text(folder / "game.lst", "old lst\n");
        }
        // Each run is stopped by SIGTERM or SIGINT at a random moment of
        // what a whole run takes, or a little after it.
        std::vector<std::pair<std::chrono::steady_clock::time_point, pid_t>> stops;
        const auto now = std::chrono::steady_clock::now();
        for (std::size_t i = 0; i < kSideBySide; ++i) {
            const pid_t pid = start_tolvek(folders[i], (run / 4 + static_cast<int>(i)) % 2 == 0 ? asm_run : lst_run);
            ASSERT_GT(pid, 0);
            const auto when = whole_run * std::uniform_real_distribution<double>(0.0, 1.3)(random);
            stops.emplace_back(now + std::chrono::duration_cast<std::chrono::steady_clock::duration>(when), pid);
        }
        std::sort(stops.begin(), stops.end());
        for (const auto& [when, pid] : stops) {
            std::this_thread::sleep_until(when);
            kill(pid, random() % 2 == 0 ? SIGTERM : SIGINT);
        }
        for (const auto& [when, pid] : stops) {
            int status = 0;
            ASSERT_EQ(waitpid(pid, &status, 0), pid);
            if (WIFSIGNALED(status)) ++stopped;
        }
        for (const fs::path& folder : folders) {
            for (const auto& entry : fs::directory_iterator(folder)) {
                ASSERT_NE(entry.path().filename().string()[0], '.') << "left behind after run " << run;
            }
            // Older files, or complete new ones: never half of them.
            const std::string asm_text = read_text(folder / "game.asm");
            const std::string cfg_text = read_text(folder / "game.cfg");
            const std::string lst_text = read_text(folder / "game.lst");
            ASSERT_TRUE(asm_text == "old asm\n" || asm_text == complete_asm);
            ASSERT_EQ(asm_text == complete_asm, cfg_text == complete_cfg) << "the source without its configuration";
            ASSERT_TRUE(lst_text == "old lst\n" || lst_text == complete_lst);
        }
    }
    // Most runs were stopped half-way (the others had ended by then).
    EXPECT_GT(stopped, kRuns / 2);
}

TEST_F(OutputFile, FileSizeLimitIsAWriteErrorWithAMessage) {
    write_text(dir / "game.lst", "old lst\n");
    const std::vector<std::string> before = names();
    // The listing of the example is several KiB; one block of 512 bytes or
    // 1 KiB (as the shell counts) is allowed.
    const Result result = tolvek("-w", "game.tmp", "ulimit -f 1; ");
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "Tolvek.exe: cannot write 'game.lst': File too large\n");
    EXPECT_EQ(names(), before);
    EXPECT_EQ(read_text(dir / "game.lst"), "old lst\n");
}

TEST_F(OutputFile, NamesOfTheLongestLengthWork) {
    // 255 bytes is the longest name Linux file systems take.
    const std::string stem(251, 'n');
    write_bytes(dir / (stem + ".tmp"), image);
    for (const char* option : {"-a", "-w"}) {
        const Result result = tolvek(option, stem + ".tmp");
        EXPECT_EQ(result.status, 0) << result.err;
    }
    EXPECT_EQ(names(), (std::vector<std::string>{"game.tmp", stem + ".asm", stem + ".lst", stem + ".tmp"}));
}

TEST_F(OutputFile, PathsOfTheLongestLengthWork) {
    // Paths of 4095 bytes, the most Linux takes, in folders below the scratch
    // folder: the output's name is short (its temporary name is longer) or
    // long. Made and removed by the shell, as the scratch folder's absolute
    // path is too long for a path of its own.
    const std::string root = std::string(200, 'r');
    for (const std::string& file : {std::string("x"), std::string(196, 'y')}) {
        SCOPED_TRACE(file.size());
        std::string folder = root;
        while (folder.size() + 201 + 1 + file.size() + 4 <= 4095) folder += "/" + std::string(200, 'd');
        folder += "/" + std::string(4095 - folder.size() - 1 - file.size() - 4 - 1, 'e');
        const std::string path = folder + "/" + file + ".tmp";
        ASSERT_EQ(path.size(), 4095u);
        ASSERT_EQ(run_in(dir.path(), "mkdir -p " + quote(folder) + " && cp game.tmp " + quote(path)).status, 0);
        for (const char* option : {"-a", "-w"}) {
            const Result result = tolvek(option, path);
            EXPECT_EQ(result.status, 0) << result.err;
        }
        const Result listing = run_in(dir.path(), "ls -A " + quote(folder));
        EXPECT_EQ(listing.out, file + ".asm\n" + file + ".lst\n" + file + ".tmp\n");
        ASSERT_EQ(run_in(dir.path(), "rm -rf " + root).status, 0);
    }
}

TEST_F(OutputFile, OutputNameTooLongIsNamedInTheMessage) {
    // The image's name fits, the output's, with ".asm" added, does not.
    const std::string name(253, 'g');
    write_bytes(dir / name, image);
    const std::vector<std::string> before = names();
    const Result result = tolvek("-a", name);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "Tolvek.exe: cannot create '" + name + ".asm': File name too long\n");
    EXPECT_EQ(names(), before);
}

TEST_F(OutputFile, ReadOnlyOutputIsLeftAlone) {
    for (const char* extension : {".asm", ".lst"}) {
        SCOPED_TRACE(extension);
        const fs::path output = dir / (std::string("game") + extension);
        write_text(output, "annotated by hand\n");
        fs::permissions(output, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
        const std::vector<std::string> before = names();
        // Root may write anyway; the missing write bits are the user's word.
        const Result result = tolvek(extension == std::string(".asm") ? "-a" : "-w", "game.tmp");
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(result.err, "Tolvek.exe: cannot replace 'game" + std::string(extension) + "': it is read-only\n");
        EXPECT_EQ(read_text(output), "annotated by hand\n");
        EXPECT_EQ(mode(output), fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
        EXPECT_EQ(names(), before);
    }
}

// One read-only output refuses the whole run: the side files (ca65's
// configuration, hints, VICE labels) are not written either.
TEST_F(OutputFile, ReadOnlyOutputKeepsTheOtherOutputsUnwrittenToo) {
    const fs::path output = dir / "game.asm";
    write_text(output, "annotated by hand\n");
    fs::permissions(output, fs::perms::owner_read);
    write_text(dir / "game.cfg", "my configuration\n");
    const std::vector<std::string> before = names();
    const Result result = run_in(dir.path(), quote(TOLVEK_EXE) + " -a" + kAddresses +
                                                 "game.tmp -sca65 --write-hints game.hints --vice-labels game.lbl");
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "Tolvek.exe: cannot replace 'game.asm': it is read-only\n");
    EXPECT_EQ(read_text(dir / "game.cfg"), "my configuration\n");
    EXPECT_EQ(names(), before);
    // A read-only side file refuses the run the same way.
    fs::permissions(output, fs::perms::owner_read | fs::perms::owner_write);
    fs::permissions(dir / "game.cfg", fs::perms::owner_read);
    const Result side = run_in(dir.path(), quote(TOLVEK_EXE) + " -a" + kAddresses + "game.tmp -sca65");
    EXPECT_EQ(side.status, 1);
    EXPECT_EQ(side.err, "Tolvek.exe: cannot replace 'game.cfg': it is read-only\n");
    EXPECT_EQ(read_text(output), "annotated by hand\n");
}

TEST_F(OutputFile, ReplacedOutputKeepsItsPermissions) {
    using fs::perms;
    for (const perms kept : {perms::owner_read | perms::owner_write,
                             perms::owner_read | perms::owner_write | perms::others_read,
                             perms::owner_all | perms::group_read | perms::group_write}) {
        SCOPED_TRACE(static_cast<int>(kept));
        write_text(dir / "game.asm", "older\n");
        fs::permissions(dir / "game.asm", kept);
        const Result result = tolvek("-a", "game.tmp");
        ASSERT_EQ(result.status, 0) << result.err;
        EXPECT_NE(read_text(dir / "game.asm"), "older\n");
        EXPECT_EQ(mode(dir / "game.asm"), kept);
    }
}

}  // namespace
