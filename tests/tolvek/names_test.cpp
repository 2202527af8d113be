// Names from hints files become labels and equates in the source of every
// dialect: the ones Tolvek takes must mean nothing else to any assembler,
// and must not collide with the names Tolvek and the C64 give.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <set>
#include <sstream>

#include "c64/symbols.hpp"
#include "hints/hints.hpp"
#include "output/labels.hpp"
#include "support.hpp"
#include "syntax/dialect.hpp"

using namespace tolvek;
using namespace tolvek_test;

namespace {

std::string problem_with(const std::string& text) {
    Hints hints;
    const auto read = [](const std::string& name, std::string& content) -> std::string {
        content = "al C:0810 .shl\n";
        return name == "game.vice" ? "" : "no such file";
    };
    std::string problem = parse_hints(text, "game.hints", hints, read);
    if (problem.empty()) problem = check_hints(hints, make_image(0x0801, std::vector<std::uint8_t>(0x100, 0xea)));
    return problem;
}

// Each refused with what the assemblers take it for, whatever its case.
TEST(Names, WordsAnAssemblerReadsOtherwiseAreRefusedWithTheReason) {
    const std::pair<const char*, const char*> cases[] = {
        {"name $0810 shl\n", "game.hints:1: 'shl' cannot be a name: 64tass reads it as an instruction"},
        {"name $0810 Shr\n", "game.hints:1: 'Shr' cannot be a name: 64tass reads it as an instruction"},
        {"name $0810 bge\n", "64tass reads it as an instruction"},
        {"name $0810 GCC\n", "64tass reads it as an instruction"},
        {"name $0810 cpa\n", "64tass reads it as an instruction"},
        {"name $0810 lds\n", "64tass reads it as an instruction"},
        {"name $0810 lae\n", "64tass reads it as an instruction"},
        {"name $0810 dop\n", "'dop' cannot be a name: ACME reads it as an instruction"},
        {"name $0810 not\n", "'not' cannot be a name: ACME reads it as an operator"},
        {"name $0810 r\n", "'r' cannot be a name: 64tass reads it as a register"},
        {"name $0810 z\n", "'z' cannot be a name: 64tass reads it as a register, ca65 reads it as an address size"},
        {"name $0810 F\n", "'F' cannot be a name: ca65 reads it as an address size"},
        {"name $0810 x\n", "'x' cannot be a name: 64tass and ca65 read it as a register"},
        {"name $0810 axs\n", "'axs' cannot be a name: 64tass and ca65 read it as an instruction"},
        {"name $0810 LDA\n", "'LDA' cannot be a name: ACME, 64tass, ca65 and xa read it as an instruction"},
        // xa knows the 65C02's and the 65816's mnemonics, whatever its options.
        {"name $0810 phx\n", "'phx' cannot be a name: xa reads it as an instruction"},
        {"name $0810 Stz\n", "'Stz' cannot be a name: xa reads it as an instruction"},
        {"name $0810 XCE\n", "'XCE' cannot be a name: xa reads it as an instruction"},
        {"name $0810 bbr\n", "'bbr' cannot be a name: xa reads it as an instruction"},
        {"name $0810 _x\n", "'_x' cannot be a name: a name has a letter first, then letters, digits and _"},
        {"name $0810 a-b\n", "'a-b' cannot be a name: a name has a letter first"},
        {"labels game.vice\n", "game.vice:1: 'shl' cannot be a name: 64tass reads it as an instruction"},
        // The names Tolvek and the C64 give other addresses, in any case.
        {"name $0810 l0835\n", "the name 'l0835' for $0810 is the name of another address ($0835, case ignored)"},
        {"name $0810 D0835\n", "the name 'D0835' for $0810 is the name of another address"},
        {"name $0810 d6510_\n", "the name 'd6510_' for $0810 is the name of another address ($6510, case ignored)"},
        {"name $0810 chrout\n", "the name 'chrout' for $0810 is the name of another address ($ffd2, case ignored)"},
    };
    for (const auto& [text, expected] : cases) {
        const std::string problem = problem_with(text);
        EXPECT_NE(problem.find(expected), std::string::npos) << text << "gave: " << problem;
    }
    std::string too_long(kLongestName + 1, 'n');
    EXPECT_EQ(name_problem(too_long), "a name has at most 64 characters");
    EXPECT_EQ(name_problem(too_long.substr(1)), "");
    // A name for its own address, in the case Tolvek or the C64 writes it
    // or not, is fine.
    EXPECT_EQ(problem_with("name $0835 l0835\nname $ffd2 Chrout\nname $0810 shl_\nname $fb Z1\n"), "");
}

// The labels and equates Tolvek writes are names the assemblers take.
TEST(Names, TheC64sNamesAreNoReservedWords) {
    std::set<std::string_view> seen;
    for (std::uint32_t address = 0; address <= 0xffff; ++address) {
        const auto known = find_known(address);
        if (!known || !seen.insert(known->name).second) continue;
        EXPECT_EQ(name_problem(known->name), "") << known->name;
    }
    EXPECT_GT(seen.size(), 150u);
}

// A name for the first address of one of the C64's vectors or KERNAL
// entries stands for all of it: `irq+1`, not CINV+1 with CINV undefined.
TEST(Names, AUserNameReplacesTheC64sNameForAllItsBytes) {
    if (!have_acme()) GTEST_SKIP() << "acme is not installed";
    ScratchDir dir;
    // jsr $ffd2, lda $ffd3, lda $0315, sta $0314, rts
    const std::vector<std::uint8_t> code{0x20, 0xd2, 0xff, 0xad, 0xd3, 0xff, 0xad, 0x15, 0x03, 0x8d, 0x14, 0x03, 0x60};
    write_text(dir / "image.hints", "name $ffd2 print\nname $0314 irq\n");
    for (const std::string& dialect : kDialectNames) {
        if (!have_assembler(dialect)) continue;
        SCOPED_TRACE(dialect);
        const std::string source = round_trip(dir, 0x1000, 0x1000, code, dialect);
        for (const char* expected : {"lda print+1", "lda irq+1", "sta irq"}) {
            EXPECT_NE(source.find(expected), std::string::npos) << expected << "\n" << source;
        }
        EXPECT_EQ(source.find("CINV"), std::string::npos) << source;
    }
    // In the image, over the I/O area: a chip register named with the C64's
    // own name is the label there, not also an equate of the same name.
    std::vector<std::uint8_t> io(0x40, 0);
    const std::uint8_t io_code[] = {0xa9, 0x01, 0x8d, 0x20, 0xd0, 0x60};  // lda #1 / sta $d020 / rts
    std::copy(std::begin(io_code), std::end(io_code), io.begin());
    write_text(dir / "image.hints", "name $d020 EXTCOL\n");
    for (const std::string& dialect : kDialectNames) {
        if (!have_assembler(dialect)) continue;
        SCOPED_TRACE(dialect);
        const std::string source = round_trip(dir, 0xcff0, 0xcff0, io, dialect);
        EXPECT_NE(source.find("sta EXTCOL"), std::string::npos) << source;
        EXPECT_EQ(source.find("EXTCOL = "), std::string::npos) << source;
    }
}

// Every name of one to three letters that Tolvek takes, in all patterns of
// letter case, and longer ones with digits and underscores and the words
// the assemblers know for functions, types and segments.
std::vector<std::string> accepted_names() {
    std::vector<std::string> names;
    std::set<std::string> taken;  // in lower case: 64tass ignores case
    const auto add = [&](const std::string& name) {
        std::string key = name;
        for (char& c : key) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        // A C64 name (FA, NDX) is taken only for its own address.
        if (name_problem(name).empty() && !find_known_by_name(name) && taken.insert(key).second) names.push_back(name);
    };
    unsigned number = 0;
    for (std::size_t length = 1; length <= 3; ++length) {
        std::string name(length, 'a');
        for (bool done = false; !done; ++number) {
            std::string cased = name;
            for (std::size_t i = 0; i < length; ++i) {
                if ((number >> i) & 1) cased[i] = static_cast<char>(cased[i] - 'a' + 'A');
            }
            add(cased);
            // The next name: count in base 26 from the last letter.
            std::size_t i = length;
            while (i > 0 && name[i - 1] == 'z') name[--i] = 'a';
            if (i == 0) done = true; else ++name[i - 1];
        }
    }
    for (const char* word : {"byte", "word", "long", "dword", "addr", "address", "true", "false", "int", "float", "bool",
                             "str", "len", "size", "range", "repr", "format", "sin", "cos", "arcsin", "is_number",
                             "div2", "mod_", "xor1", "lsl_", "zeropage", "absolute", "near", "direct", "CODE",
                             "RODATA", "BSS", "cpu6510", "org", "macro", "endm", "proc", "struct", "scope", "shl_",
                             "Shr1", "bge0", "z_", "F9", "a0", "x_1", "y_", "not_", "Lda2", "L08", "D12345", "lxa_b",
                             "cinv1", "print_loop", "A_B_C"}) {
        add(word);
    }
    for (char c = 'a'; c <= 'z'; ++c) {
        add(std::string(1, c) + "0");
        add(std::string(1, static_cast<char>(c - 'a' + 'A')) + "_9");
    }
    add(std::string(63, 'q') + "9");
    return names;
}

// Disassembled with each of these names, the program rebuilds byte for byte
// in every dialect: as labels and as equates, in the operands of `!word`
// and of instructions, with the undocumented mnemonics let through. One
// image holds all names; in a second run the names inside the image and
// outside it change places.
TEST(Names, EveryShortNameRebuildsInEveryDialect) {
    if (!have_acme()) GTEST_SKIP() << "acme is not installed";
    const std::vector<std::string> names = accepted_names();
    ASSERT_GT(names.size(), 18000u);
    constexpr std::uint32_t kLoad = 0x3000;
    constexpr std::size_t kInCode = 32;  // names also used by instructions
    ScratchDir dir;
    for (const int inside_parity : {0, 1}) {
        const auto inside = [&](std::size_t i) { return static_cast<int>(i % 2) == inside_parity; };
        // Outside the image: zero page for the names that instructions use
        // (past the port at $00/$01 and the $02 lax reads), then from $0200.
        const auto outside_address = [&](std::size_t i) {
            return i < kInCode ? static_cast<std::uint32_t>(3 + i) : static_cast<std::uint32_t>(0x0200 + i / 2);
        };
        std::vector<std::uint8_t> code{0xa7, 0x02};  // lax $02
        for (std::size_t i = 0; i < kInCode; ++i) {
            if (!inside(i)) {
                const auto zp = static_cast<std::uint8_t>(outside_address(i));
                code.insert(code.end(), {0xb1, zp, 0xb6, zp, 0x24, zp});  // lda (zp),y / ldx zp,y / bit zp
            } else {
                code.insert(code.end(), {0xbd, 0, 0, 0xac, 0, 0});  // lda slot,x / ldy slot, filled in below
            }
        }
        code.push_back(0x60);  // rts
        const std::uint32_t table = kLoad + static_cast<std::uint32_t>(code.size());
        const auto slot = [&](std::size_t i) { return table + 2 * static_cast<std::uint32_t>(i); };
        std::ostringstream hints;
        hints << "words " << address_text(table) << "-" << address_text(slot(names.size()) - 1) << "\n";
        std::vector<std::uint8_t> image = code;
        for (std::size_t i = 0; i < names.size(); ++i) {
            const std::uint32_t address = inside(i) ? slot(i) : outside_address(i);
            image.push_back(static_cast<std::uint8_t>(address & 0xff));
            image.push_back(static_cast<std::uint8_t>(address >> 8));
            hints << "name " << address_text(address) << " " << names[i] << "\n";
        }
        ASSERT_LE(kLoad + image.size(), 0xd000u);
        for (std::size_t i = 0, at = 2; i < kInCode; ++i, at += 6) {
            if (!inside(i)) continue;
            for (const std::size_t operand : {at + 1, at + 4}) {
                image[operand] = static_cast<std::uint8_t>(slot(i) & 0xff);
                image[operand + 1] = static_cast<std::uint8_t>(slot(i) >> 8);
            }
        }
        write_text(dir / "image.hints", hints.str());
        for (const Dialect* dialect : kDialects) {
            if (!have_assembler(std::string(dialect->name))) continue;
            SCOPED_TRACE(std::string(dialect->name) + (inside_parity ? ", odd names inside" : ", even names inside"));
            const std::string source = round_trip(dir, kLoad, kLoad, image, std::string(dialect->name));
            if (HasFailure()) return;
            // Every name is defined: as a label (inside) or an equate.
            std::set<std::string> lines;
            std::istringstream in(source);
            for (std::string line; std::getline(in, line);) {
                // Without the comment of the places that refer to a label.
                line = line.substr(0, line.find(" ;"));
                line.erase(line.find_last_not_of(' ') + 1);
                lines.insert(line);
            }
            std::size_t missing = 0;
            for (std::size_t i = 0; i < names.size(); ++i) {
                const std::string defined = inside(i) ? names[i] + std::string(dialect->label_suffix)
                                                      : names[i] + " = " + hex(outside_address(i), i < kInCode ? 2 : 4);
                if (!lines.count(defined) && ++missing <= 5) ADD_FAILURE() << "not defined: " << defined;
            }
            EXPECT_EQ(missing, 0u);
            EXPECT_NE(source.find("(" + names[inside_parity ? 0 : 1] + "),y"), std::string::npos);
        }
    }
}

}  // namespace
