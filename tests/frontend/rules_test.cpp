// The front end's rules, tested in-process: the temporary name, the SYS
// scan, quoting names for the command processor, the command text and
// which Tolvek.exe runs.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "prgdis.h"

int prgdis_main(int argc, char* argv[]);  // the driver's main, renamed

namespace {

using namespace std::string_literals;

TEST(TemporaryName, StripsOnlyLowerOrUpperPrgExtension) {
  EXPECT_EQ(temporary_name("game.prg"), "game.tmp");
  EXPECT_EQ(temporary_name("GAME.PRG"), "GAME.tmp");
  EXPECT_EQ(temporary_name("game.Prg"), "game.Prg.tmp");
  EXPECT_EQ(temporary_name("game"), "game.tmp");
  EXPECT_EQ(temporary_name("game.bin"), "game.bin.tmp");
  EXPECT_EQ(temporary_name("game.prg.prg"), "game.prg.tmp");
  EXPECT_EQ(temporary_name("game.prgx"), "game.prgx.tmp");
}

TEST(TemporaryName, KeepsFoldersAndShortNames) {
  EXPECT_EQ(temporary_name("work/x.prg"), "work/x.tmp");
  EXPECT_EQ(temporary_name("work\\x.prg"), "work\\x.tmp");
  EXPECT_EQ(temporary_name(".prg"), ".tmp");
  EXPECT_EQ(temporary_name("prg"), "prg.tmp");
  EXPECT_EQ(temporary_name("ab"), "ab.tmp");
  EXPECT_EQ(temporary_name(""), ".tmp");
}

TEST(TemporaryName, LongNameIsKeptWhole) {
  const std::string folder(300, 'd');
  EXPECT_EQ(temporary_name(folder + "/x.prg"), folder + "/x.tmp");
}

// Entry address found by scanning `image` with the given load address.
std::int32_t scan_entry(std::int32_t load, const std::string& image) {
  SysScan scan;
  std::int32_t entry = load;
  for (const char c : image) sys_scan_step(scan, static_cast<unsigned char>(c), load, entry);
  return entry;
}

const std::string sys = "\x9E";

TEST(TemporaryName, WindowsDeviceNamesAreKnownWhateverTheirCaseAndExtension) {
  for (const auto& [name, device] : std::vector<std::pair<std::string, std::string>>{
           {"aux.prg", "AUX"}, {"con", "CON"}, {"work/Con.x.prg", "CON"}, {"C:\\games\\nul.prg", "NUL"},
           {"com9.prg", "COM9"}, {"LPT1", "LPT1"}, {"aux .prg", "AUX"}, {"conout$.prg", "CONOUT$"}}) {
    EXPECT_EQ(windows_device(name), device) << name;
  }
  for (const char* file : {"game.prg", "com10.prg", "com0.prg", "console.prg", "aux/game.prg", ".con", ""}) {
    EXPECT_EQ(windows_device(file), "") << file;
  }
#ifndef _WIN32
  // Elsewhere a name is named after as it was given.
  EXPECT_EQ(naming_name("game.prg."), "game.prg.");
#endif
}

TEST(SysScan, CommitsClosedNumberNotBelowLoadAddress) {
  EXPECT_EQ(scan_entry(256, sys + " 300" + '\0'), 300);
  EXPECT_EQ(scan_entry(256, sys + "3 00" + '\0'), 300);
  EXPECT_EQ(scan_entry(256, sys + "300 " + ':'), 300);
  EXPECT_EQ(scan_entry(256, sys + "256" + '\0'), 256);
  EXPECT_EQ(scan_entry(256, sys + " 200" + '\0'), 256);  // below the load address
  EXPECT_EQ(scan_entry(2049, "\x0b\x08\x0a\x00"s + sys + "2061\0\0\0"s), 2061);
}

TEST(SysScan, LastCommittedNumberWins) {
  EXPECT_EQ(scan_entry(256, sys + "300:" + sys + "400" + '\0'), 400);
  // A later number below the load address does not undo an earlier one.
  EXPECT_EQ(scan_entry(256, sys + "300:" + sys + "4" + '\0'), 300);
  // Numbers above the address space are committed all the same.
  EXPECT_EQ(scan_entry(256, sys + "70000" + '\0'), 70000);
}

TEST(SysScan, UnclosedOrInterruptedNumbersAreDropped) {
  EXPECT_EQ(scan_entry(256, sys + "300"), 256);                  // file ends
  EXPECT_EQ(scan_entry(256, sys + "30" + sys + "5" + '\0'), 256);  // 30 dropped
  EXPECT_EQ(scan_entry(256, sys + "(300)"), 256);                 // closes 0
  EXPECT_EQ(scan_entry(0, sys + "(300)"), 0);
  EXPECT_EQ(scan_entry(256, "300\x00"), 256);                     // never armed
  // Closing disarms: digits after the terminator are not part of a number.
  EXPECT_EQ(scan_entry(256, sys + ":" + "999" + '\0'), 256);
}

TEST(SysScan, AccumulatorWrapsModulo2To32) {
  // 2^32 + 2000 wraps to 2000.
  EXPECT_EQ(scan_entry(256, sys + "4294969296" + '\0'), 2000);
  // 2^31 + 1000 wraps to a negative number, which is below any load address.
  EXPECT_EQ(scan_entry(0, sys + "2147484648" + '\0'), 0);
  // Far more digits than 32 bits hold wrap without overflow (UBSan checks).
  EXPECT_EQ(scan_entry(0, sys + "12345678901234567890123" + '\0'), 1900168395);
  EXPECT_EQ(scan_entry(-1000000000, sys + "98765432109876543210" + '\0'), -450461974);
}

TEST(SysScan, BlockScanAgreesWithByteByByteScanAcrossBlockBoundaries) {
  // Images rich in tokens, digits and spaces, cut into blocks at random.
  std::uint32_t seed = 12345;
  auto next = [&seed] { return seed = seed * 1664525u + 1013904223u; };
  const char alphabet[] = "\x9e\x9e" "0123456789  :(\x00\xff";
  for (int round = 0; round < 200; ++round) {
    std::string image;
    const std::size_t size = next() % 2000;
    for (std::size_t i = 0; i < size; ++i) image += alphabet[(next() >> 8) % (sizeof alphabet - 1)];
    const auto load = static_cast<std::int32_t>(next() % 3000);

    SysScan blocked;
    std::int32_t entry = load;
    const auto* bytes = reinterpret_cast<const unsigned char*>(image.data());
    for (std::size_t at = 0; at < size;) {
      const std::size_t count = std::min<std::size_t>(size - at, 1 + (next() >> 8) % 64);
      sys_scan_block(blocked, bytes + at, count, load, entry);
      at += count;
    }
    ASSERT_EQ(entry, scan_entry(load, image)) << "round " << round;
  }
}

TEST(PosixShellWord, PlainNamesStayAsTheyAre) {
  for (const std::string name : {"game.tmp", "work/x.tmp", "A-b_c+d,e:f@g=h.tmp", "-x.tmp"}) {
    EXPECT_EQ(posix_shell_word(name), name);
  }
}

TEST(PosixShellWord, OtherNamesAreSingleQuoted) {
  EXPECT_EQ(posix_shell_word("my game.tmp"), "'my game.tmp'");
  EXPECT_EQ(posix_shell_word("x;rm -rf ~.tmp"), "'x;rm -rf ~.tmp'");
  EXPECT_EQ(posix_shell_word("$(id).tmp"), "'$(id).tmp'");
  EXPECT_EQ(posix_shell_word("it's.tmp"), "'it'\\''s.tmp'");
  EXPECT_EQ(posix_shell_word("a\\b.tmp"), "'a\\b.tmp'");
  EXPECT_EQ(posix_shell_word("line\nbreak.tmp"), "'line\nbreak.tmp'");
  EXPECT_EQ(posix_shell_word(""), "''");
}

TEST(CmdShellWord, PlainNamesIncludingBackslashesStay) {
  EXPECT_EQ(cmd_shell_word("game.tmp"), "game.tmp");
  EXPECT_EQ(cmd_shell_word("work\\x.tmp"), "work\\x.tmp");
  EXPECT_EQ(cmd_shell_word("C:\\games\\x.tmp"), "C:\\games\\x.tmp");
}

TEST(CmdShellWord, SpecialCharactersAreDoubleQuoted) {
  EXPECT_EQ(cmd_shell_word("my game.tmp"), "\"my game.tmp\"");
  EXPECT_EQ(cmd_shell_word("a&b|c<d>e^f(g)h.tmp"), "\"a&b|c<d>e^f(g)h.tmp\"");
  EXPECT_EQ(cmd_shell_word("it's!.tmp"), "\"it's!.tmp\"");
  // A closing quote after backslashes would be read as escaped.
  EXPECT_EQ(cmd_shell_word("odd name\\"), "\"odd name\\\\\"");
}

TEST(CmdShellWord, RefusesWhatCmdCannotPassLiterally) {
  EXPECT_EQ(cmd_shell_word("100%.tmp"), std::nullopt);
  EXPECT_EQ(cmd_shell_word("%PATH%.tmp"), std::nullopt);
  EXPECT_EQ(cmd_shell_word("say \"hi\".tmp"), std::nullopt);
  EXPECT_EQ(cmd_shell_word("tab\there.tmp"), std::nullopt);
}

TEST(DisassemblerCommand, FormatsBothRuns) {
  EXPECT_EQ(disassembler_command("Tolvek.exe", 'a', 256, 300, "game.tmp"),
            "Tolvek.exe -a -c6502 -o256 -e300 -t game.tmp");
  EXPECT_EQ(disassembler_command("Tolvek.exe", 'w', 256, 300, "game.tmp"),
            "Tolvek.exe -w -c6502 -o256 -e300 -t game.tmp");
  EXPECT_EQ(disassembler_command("Tolvek.exe", 'a', 0, -2147483647 - 1, "'a b.tmp'"),
            "Tolvek.exe -a -c6502 -o0 -e-2147483648 -t 'a b.tmp'");
}

namespace fs = std::filesystem;

#ifdef _WIN32
const std::string path_separator = ";";
#else
const std::string path_separator = ":";
#endif

// Folders under a scratch folder of the test's own.
class FindDisassembler : public testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::temp_directory_path() / ("prgdis-find-" + std::to_string(std::random_device()()));
    fs::create_directories(root_);
  }
  void TearDown() override { fs::remove_all(root_); }

  // A folder under the scratch folder with a Tolvek.exe that may be run.
  std::string tool_in(const std::string& name) const {
    fs::create_directories(root_ / name);
    std::ofstream(root_ / name / "Tolvek.exe") << "#!/bin/sh\n";
    fs::permissions(root_ / name / "Tolvek.exe", fs::perms::owner_all);
    return (root_ / name).string();
  }
  static std::string program_in(const std::string& folder) { return (fs::path(folder) / "Tolvek.exe").string(); }

  fs::path root_;
};

TEST_F(FindDisassembler, OwnFolderComesFirstThenTheFirstFolderOnPathThatHoldsIt) {
  const std::string own = tool_in("own");
  const std::string bin = tool_in("bin");
  const std::string later = tool_in("later");
  fs::create_directories(root_ / "empty");
  EXPECT_EQ(find_disassembler(own, bin + path_separator + later), program_in(own));
  EXPECT_EQ(find_disassembler((root_ / "empty").string(), bin + path_separator + later), program_in(bin));
  // Folders that do not hold it, or hold a folder by its name, are passed by.
  fs::create_directories(root_ / "dir" / "Tolvek.exe");
  const std::string passed = (root_ / "none").string() + path_separator + (root_ / "dir").string();
  EXPECT_EQ(find_disassembler("", passed + path_separator + later), program_in(later));
  EXPECT_EQ(find_disassembler("", passed), std::nullopt);
#ifndef _WIN32
  // sh would not run one that may not be executed.
  fs::permissions(program_in(bin), fs::perms::owner_read | fs::perms::owner_write);
  EXPECT_EQ(find_disassembler("", bin + path_separator + later), program_in(later));
#else
  // A quoted entry may hold the separator.
  const std::string odd = tool_in("a;b");
  EXPECT_EQ(find_disassembler("", "\"" + odd + "\"" + path_separator + later), program_in(odd));
#endif
}

TEST(PrintableText, ControlCharactersAndBytesThatAreNotUtf8ShowAsQuestionMarks) {
  // C0 (but the line feed that ends a message), DEL, and C1 as UTF-8.
  EXPECT_EQ(printable_text("a\x1b[31mb\x07\r\t\x01\x7f."), "a?[31mb?????.");
  EXPECT_EQ(printable_text("\xc2\x80\xc2\x9b" "2J\xc2\x9f"), "??2J?");
  EXPECT_EQ(printable_text("line\n"), "line\n");
  // Bytes that start no complete UTF-8 sequence, one '?' each: a raw C1
  // byte, a stray continuation byte, a cut-off sequence, an overlong form,
  // a surrogate, a code point beyond U+10FFFF, bytes that never occur.
  EXPECT_EQ(printable_text("\x9b" "2J"), "?2J");
  EXPECT_EQ(printable_text("x\xbfy"), "x?y");
  EXPECT_EQ(printable_text("\xe6\x97"), "??");
  EXPECT_EQ(printable_text("\xe6\x97x"), "??x");
  EXPECT_EQ(printable_text("\xc0\xaf\xe0\x80\xaf"), "?????");
  EXPECT_EQ(printable_text("\xed\xa0\x80"), "???");
  EXPECT_EQ(printable_text("\xf4\x90\x80\x80"), "????");
  EXPECT_EQ(printable_text("\xfe\xff\xf8"), "???");
}

TEST(PrintableText, Utf8TextStaysAsItIs) {
  for (const std::string text : {"game.prg", "\xc3\xbc.prg", "\xc2\xa0\xc2\xbf", "\xe6\x97\xa5\xe6\x9c\xac.prg",
                                 "\xf0\x9f\x8e\xae.prg", "\xed\x9f\xbf\xee\x80\x80\xf4\x8f\xbf\xbf", "~ $'%\\"}) {
    EXPECT_EQ(printable_text(text), text);
  }
}

TEST(Driver, NoArgumentWordsAtAllGivesUsageWithOwnName) {
  char* argv[] = {nullptr};
  EXPECT_EXIT(prgdis_main(0, argv), testing::ExitedWithCode(1),
              "^No input file given!\nUsage: prgdis cbmfilename\n$");
}

}  // namespace
