// Parsing the command line prgdis passes, in its variants.
#include <gtest/gtest.h>

#include <sstream>

#include "app.hpp"
#include "cli.hpp"
#include "output_file.hpp"

using namespace tolvek;

namespace {

TEST(Cli, AttachedAndSeparateValues) {
    const ParsedArgs attached = parse_args({"-a", "-c6502", "-o2049", "-e2061", "-tgame.tmp"});
    ASSERT_EQ(attached.error, "");
    EXPECT_EQ(attached.options.output, OutputKind::Assembly);
    EXPECT_EQ(attached.options.load, 2049u);
    EXPECT_EQ(attached.options.entry, 2061);
    EXPECT_EQ(attached.options.image, "game.tmp");
    const ParsedArgs separate = parse_args({"-t", "dir/my game.tmp", "-e", "-257", "-o", "0", "-c", "6502", "-w"});
    ASSERT_EQ(separate.error, "");
    EXPECT_EQ(separate.options.output, OutputKind::Listing);
    EXPECT_EQ(separate.options.load, 0u);
    EXPECT_EQ(separate.options.entry, -257);
    EXPECT_EQ(separate.options.image, "dir/my game.tmp");
}

TEST(Cli, SyntaxChoosesTheDialect) {
    const auto dialect_of = [](std::vector<std::string> args) {
        args.insert(args.end(), {"-a", "-c6502", "-o0", "-e0", "-tx"});
        return parse_args(args);
    };
    EXPECT_EQ(dialect_of({}).options.dialect, &kAcme);
    EXPECT_EQ(dialect_of({"-s64tass"}).options.dialect, &k64tass);
    EXPECT_EQ(dialect_of({"-s", "ca65"}).options.dialect, &kCa65);
    EXPECT_EQ(dialect_of({"-sacme"}).options.dialect, &kAcme);
    EXPECT_EQ(dialect_of({"-sdasm"}).options.dialect, &kDasm);
    EXPECT_EQ(dialect_of({"-sxa"}).options.dialect, &kXa);
    EXPECT_EQ(dialect_of({"-s", "xa65"}).options.dialect, &kXa);
    EXPECT_EQ(dialect_of({"-sXA"}).options.dialect, nullptr);
    EXPECT_NE(dialect_of({"-smerlin"}).error.find("unknown syntax 'merlin': known are acme, 64tass, ca65, dasm, xa"),
              std::string::npos);
    EXPECT_NE(dialect_of({"-sacme", "-sca65"}).error.find("-s given twice"), std::string::npos);
}

TEST(Cli, CpuWithOrWithoutUndocumentedOpcodes) {
    const auto cpu = [](const std::string& value) { return parse_args({"-a", "-c" + value, "-o0", "-e0", "-tx"}); };
    ASSERT_EQ(cpu("6502").error, "");
    EXPECT_TRUE(cpu("6502").options.undocumented);
    ASSERT_EQ(cpu("6502doc").error, "");
    EXPECT_FALSE(cpu("6502doc").options.undocumented);
    EXPECT_FALSE(parse_args({"-a", "-c", "6502doc", "-o0", "-e0", "-tx"}).options.undocumented);
    for (const char* bad : {"6510", "6502DOC", "6502x", "65c02"}) {
        EXPECT_NE(cpu(bad).error.find("unsupported CPU '" + std::string(bad) + "': known are 6502 and 6502doc"),
                  std::string::npos)
            << bad;
    }
    EXPECT_NE(parse_args({"-a", "-c6502", "-c6502doc", "-o0", "-e0", "-tx"}).error.find("-c given twice"),
              std::string::npos);
    EXPECT_NE(usage().find("-c6502doc"), std::string::npos);
}

TEST(Cli, ProgramFilesRunsAndUnpacking) {
    const ParsedArgs program = parse_args({"-w", "-c6502", "-e2061", "-p", "game.unpacked.prg"});
    ASSERT_EQ(program.error, "");
    EXPECT_TRUE(program.options.program_file);
    EXPECT_EQ(program.options.image, "game.unpacked.prg");
    EXPECT_NE(parse_args({"-a", "-c6502", "-o2049", "-e0", "-px"}).error.find("no -o"), std::string::npos);
    EXPECT_NE(parse_args({"-a", "-c6502", "-o0", "-e0", "-px", "-tx"}).error.find("only one of -t and -p"),
              std::string::npos);
    EXPECT_NE(parse_args({"-a", "-c6502", "-e0", "-px", "-py"}).error.find("-p given twice"), std::string::npos);

    const auto with = [](std::vector<std::string> args) {
        args.insert(args.end(), {"-a", "-c6502", "-o0", "-e0", "-tx"});
        return parse_args(args);
    };
    EXPECT_EQ(with({}).options.run.budget, kDefaultRunCycles);
    EXPECT_FALSE(with({}).options.unpack);
    EXPECT_EQ(with({"--run-cycles", "0"}).options.run.budget, 0u);
    EXPECT_EQ(with({"--run-cycles=$100000"}).options.run.budget, 0x100000u);
    EXPECT_TRUE(with({"--unpack"}).options.unpack);
    for (const char* bad : {"-1", "lots", "10000000001", "18446744073709551617", "$10000000000000001"}) {
        EXPECT_NE(with({"--run-cycles", bad}).error.find("malformed cycle count"), std::string::npos) << bad;
    }
    EXPECT_NE(parse_args({"-a", "-c6502", "-o0", "-e0", "-tx", "--run-cycles"}).error.find("needs a number"),
              std::string::npos);
    EXPECT_NE(with({"--run-cycles=5", "--run-cycles=5"}).error.find("given twice"), std::string::npos);
    EXPECT_NE(with({"--unpack", "--unpack"}).error.find("given twice"), std::string::npos);
}

TEST(Cli, VersionFromTheBuild) {
    EXPECT_TRUE(parse_args({"--version"}).version);
    EXPECT_TRUE(parse_args({"-a", "--version", "-x"}).version);  // as -h: the rest does not matter
    EXPECT_FALSE(parse_args({"-a", "-c6502", "-o0", "-e0", "-tx"}).version);
    // A release's version: digits and dots, the same as the build's.
    const std::string version = kVersion;
    EXPECT_EQ(version, TOLVEK_VERSION);
    EXPECT_EQ(version.find_first_not_of("0123456789."), std::string::npos) << version;
    EXPECT_EQ(usage().rfind("Tolvek.exe " + version + ", ", 0), 0u) << usage();
    EXPECT_NE(usage().find("--version"), std::string::npos);
    std::ostringstream out, err;
    EXPECT_EQ(run({"--version"}, out, err), 0);
    EXPECT_EQ(out.str(), "Tolvek.exe " + version + "\n");
    EXPECT_EQ(err.str(), "");
}

TEST(Cli, NumbersInRangeAndHex) {
    auto entry_of = [](const std::string& value) {
        return parse_args({"-a", "-c6502", "-o0", "-e" + value, "-tx"}).options.entry;
    };
    EXPECT_EQ(entry_of("-2147483648"), -2147483648LL);
    EXPECT_EQ(entry_of("4000000000"), 4000000000LL);
    EXPECT_EQ(entry_of("$c000"), 0xc000);
    EXPECT_EQ(entry_of("0xFFD2"), 0xffd2);
    EXPECT_EQ(entry_of("+12"), 12);
    EXPECT_EQ(entry_of("9223372036854775807"), INT64_MAX);
    EXPECT_EQ(entry_of("-$7fffffffffffffff"), -INT64_MAX);
    // Beyond 64 bits a number would wrap around into another: refused,
    // however it is written.
    for (const char* large : {"9223372036854775808", "18446744073709553665", "123456789012345678901234567890",
                              "$10000000000000801"}) {
        EXPECT_NE(parse_args({"-a", "-c6502", "-o0", std::string("-e") + large, "-tx"}).error.find("does not fit in 64 bits"),
                  std::string::npos)
            << large;
    }
    // $0801 plus 2^64 is no load address either.
    EXPECT_NE(parse_args({"-a", "-c6502", "-o18446744073709553665", "-e0", "-tx"}).error.find("outside 0..65535"),
              std::string::npos);
    EXPECT_EQ(parse_args({"-a", "-c6502", "-o65535", "-e0", "-tx"}).options.load, 65535u);
    EXPECT_NE(parse_args({"-a", "-c6502", "-o65536", "-e0", "-tx"}).error, "");
    EXPECT_NE(parse_args({"-a", "-c6502", "-o0x", "-e0", "-tx"}).error, "");
}

TEST(Cli, WindowsDeviceNamesWhateverTheirFolderCaseAndExtension) {
    for (const auto& [name, device] : std::vector<std::pair<std::string, std::string>>{
             {"aux.tmp", "AUX"}, {"con", "CON"}, {"dir/Con.x.asm", "CON"}, {"C:\\games\\nul.vice", "NUL"},
             {"com1.prg", "COM1"}, {"LPT9", "LPT9"}, {"aux .prg", "AUX"}, {"conin$.txt", "CONIN$"},
             {"d:prn.lst", "PRN"}}) {
        EXPECT_EQ(windows_device(name), device) << name;
    }
    for (const char* file : {"game.prg", "com10.prg", "lpt0.prg", "conx.prg", "xcon.prg", "aux/game.tmp", ".aux", ""}) {
        EXPECT_EQ(windows_device(file), "") << file;
    }
#ifndef _WIN32
    EXPECT_FALSE(names_a_device("aux.tmp"));  // an ordinary name elsewhere
#endif
}

TEST(Cli, OutputNameReplacesLastExtension) {
    EXPECT_EQ(output_name("game.tmp", ".asm"), "game.asm");
    EXPECT_EQ(output_name("dir.v2/game.tar.tmp", ".lst"), "dir.v2/game.tar.lst");
    EXPECT_EQ(output_name("dir.v2/game", ".asm"), "dir.v2/game.asm");
    EXPECT_EQ(output_name("game", ".lst"), "game.lst");
}

}  // namespace

namespace {

// -h describes every option, in order, and each is one the parser knows.
TEST(Cli, HelpListsExactlyTheOptionsTheParserKnows) {
    const std::string help = usage();
    std::vector<std::string> described;
    for (std::size_t at = help.find("\n  -"); at != std::string::npos; at = help.find("\n  -", at + 1)) {
        const std::size_t start = at + 3;
        described.push_back(help.substr(start, help.find_first_of(" ,<\n", start) - start));
    }
    const std::vector<std::string> known = {"-a",      "-w",          "-c6502",        "-c6502doc",    "-o",
                                            "-e",      "-t",          "-p",            "-s",           "--hints",
                                            "--write-hints", "--vice-labels", "--run-cycles", "--unpack", "--pictures",
                                            "--html", "-h", "--version"};
    EXPECT_EQ(described, known);
    for (const std::string& option : known) {
        EXPECT_EQ(parse_args({option, "1"}).error.find("unknown option"), std::string::npos) << option;
    }
    EXPECT_NE(help.find("-h, --help"), std::string::npos);
    EXPECT_TRUE(parse_args({"--help"}).help);
    // No option has an empty name.
    EXPECT_EQ(parse_args({""}).error, "unexpected argument ''");
    EXPECT_EQ(parse_args({"-a", "-c6502", "-o0", "-e0", "-tx", ""}).error, "unexpected argument ''");
}

}  // namespace
