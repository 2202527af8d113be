// prgdis with the bundled Tolvek.exe on the example program.
#include <gtest/gtest.h>

#include "support.hpp"

using namespace tolvek_test;
namespace fs = std::filesystem;

namespace {

TEST(EndToEnd, PrgdisDisassemblesTheExample) {
#ifndef PRGDIS_EXE
    GTEST_SKIP() << "prgdis is not part of this build";
#else
    if (!have_acme()) GTEST_SKIP() << "acme is not installed";
    ScratchDir dir;
    fs::copy_file(fs::path(EXAMPLES_DIR) / "hello.prg", dir / "hello.prg");
    const std::string tools = fs::path(TOLVEK_EXE).parent_path().string();
    const Result result = run_in(dir.path(), "PATH=" + quote(tools) + ":\"$PATH\" " + quote(PRGDIS_EXE) + " hello.prg");
    ASSERT_EQ(result.status, 0) << result.out << result.err;
    EXPECT_TRUE(fs::exists(dir / "hello.asm"));
    EXPECT_TRUE(fs::exists(dir / "hello.lst"));
    EXPECT_FALSE(fs::exists(dir / "hello.tmp"));
    const std::string lst = read_text(dir / "hello.lst");
    EXPECT_NE(lst.find("\n080d  20 45 08 "), std::string::npos) << lst;
    EXPECT_NE(lst.find("; 10 SYS2061"), std::string::npos) << lst;
    const Result acme = run_in(dir.path(), "acme -f cbm -o again.prg hello.asm");
    EXPECT_EQ(acme.status, 0) << acme.err;
    EXPECT_EQ(read_bytes(dir / "again.prg"), read_bytes(dir / "hello.prg"));
#endif
}

#ifdef PRGDIS_EXE
// Runs prgdis with the bundled Tolvek.exe on `name` in `dir`.
Result prgdis(const ScratchDir& dir, const std::string& name) {
    const std::string tools = fs::path(TOLVEK_EXE).parent_path().string();
    return run_in(dir.path(), "PATH=" + quote(tools) + ":\"$PATH\" " + quote(PRGDIS_EXE) + " " + quote(name));
}
#endif

TEST(EndToEnd, NameWithLineBreaksGivesSourceThatReassembles) {
#ifndef PRGDIS_EXE
    GTEST_SKIP() << "prgdis is not part of this build";
#else
    if (!have_acme()) GTEST_SKIP() << "acme is not installed";
    ScratchDir dir;
    write_text(dir / "secret.txt", "SECRET");
    const std::string stem = "x\n!bin \"secret.txt\"\r";
    fs::copy_file(fs::path(EXAMPLES_DIR) / "hello.prg", dir / (stem + ".prg"));
    const Result result = prgdis(dir, stem + ".prg");
    ASSERT_EQ(result.status, 0) << result.out << result.err;
    const Result acme = run_in(dir.path(), "acme -f cbm -o again.prg " + quote(stem + ".asm"));
    EXPECT_EQ(acme.status, 0) << acme.err;
    EXPECT_EQ(read_bytes(dir / "again.prg"), read_bytes(dir / (stem + ".prg")));
#endif
}

TEST(EndToEnd, FailingToolsLineComesBeforePrgdissOwn) {
#ifndef PRGDIS_EXE
    GTEST_SKIP() << "prgdis is not part of this build";
#else
    ScratchDir dir;
    fs::copy_file(fs::path(EXAMPLES_DIR) / "hello.prg", dir / "hello.prg");
    fs::create_directory(dir / "hello.lst");
    const Result result = prgdis(dir, "hello.prg");
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "Tolvek.exe: cannot replace 'hello.lst': it is a folder\n"
                          "Tolvek terminated due to an error when generating the list file!\n");
    EXPECT_TRUE(fs::exists(dir / "hello.asm"));
    EXPECT_TRUE(fs::exists(dir / "hello.tmp"));
#endif
}

}  // namespace
