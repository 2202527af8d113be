// What makes a listing read like a program: the comments on calls of the
// KERNAL and on the chip registers an instruction writes or reads, a
// heading before each routine that says what reaches it, and names for the
// parts whose role Tolvek knows.
#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "analysis/analyse.hpp"
#include "c64/descriptions.hpp"
#include "c64/symbols.hpp"
#include "hints/hints.hpp"
#include "output/listing.hpp"
#include "output/writers.hpp"
#include "packer.hpp"
#include "support.hpp"

using namespace tolvek;
using tolvek_test::make_image;

namespace {

const ListingNames kNames{"test.tmp", "test.unpacked.prg", "test.unpacked.asm", "Tolvek.exe --unpack"};

// The listing of `image` traced from `entry`, without guessing; run for
// `cycles` (none: not run).
struct Listed {
    // The image is kept: the map refers to it.
    Listed(const Image& given, std::int64_t entry, const Hints* hints = nullptr, std::uint64_t cycles = 0)
        : image(given),
          map(analyse(image, {.entry = entry, .guesses = false, .hints = hints, .run = {.budget = cycles}})),
          listing(build_listing(map, kNames, hints)) {}
    const Row* row_at(std::uint32_t address) const {
        for (const Row& row : listing.rows) {
            if (row.address == address) return &row;
        }
        return nullptr;
    }
    std::string comment_at(std::uint32_t address) const {
        const Row* row = row_at(address);
        return row ? std::string(row->comment) : "(no row)";
    }
    std::string heading_at(std::uint32_t address) const {
        const Row* row = row_at(address);
        return row ? std::string(row->heading) : "(no row)";
    }
    std::string asm_text() const { return write_asm(listing, map.image(), kAcme, {"t.asm", "t.prg", ""}); }
    std::string lst_text() const { return write_lst(listing, map.image(), kAcme, {"t.asm", "t.prg", ""}); }
    Image image;
    MemoryMap map;
    Listing listing;
};

struct CommentCase {
    const char* what;
    std::vector<std::uint8_t> code;  // at $c001, after a nop at the entry
    std::uint32_t at;                // the instruction looked at
    const char* comment;             // "" for none
};

// Each call of a KERNAL routine and each store into, or telling read of,
// a register says what it does; indexed uses, reads that tell nothing and
// calls into the middle of a routine say nothing.
TEST(KnownUse, CallsAndRegistersAreExplained) {
    const CommentCase cases[] = {
        {"jsr CHROUT", {0x20, 0xd2, 0xff, 0x60}, 0xc001, "print the character in A"},
        {"jmp GETIN", {0x4c, 0xe4, 0xff}, 0xc001, "take a character from the keyboard buffer into A (0: none)"},
        {"jsr into the middle of CHROUT's entry", {0x20, 0xd3, 0xff, 0x60}, 0xc001, ""},
        {"sta EXTCOL", {0x8d, 0x20, 0xd0, 0x60}, 0xc001, "border colour"},
        {"stx BGCOL0", {0x8e, 0x21, 0xd0, 0x60}, 0xc001, "background colour"},
        {"sty SIGVOL", {0x8c, 0x18, 0xd4, 0x60}, 0xc001, "volume and filter mode"},
        {"sax EXTCOL, undocumented", {0x8f, 0x20, 0xd0, 0x60}, 0xc001, "border colour"},
        {"inc EXTCOL", {0xee, 0x20, 0xd0, 0x60}, 0xc001, "border colour"},
        {"asl VICIRQ acknowledges", {0x0e, 0x19, 0xd0, 0x60}, 0xc001, "acknowledge VIC-II interrupts"},
        {"lda VICIRQ", {0xad, 0x19, 0xd0, 0x60}, 0xc001, "VIC-II interrupt status"},
        {"cmp RASTER", {0xcd, 0x12, 0xd0, 0x60}, 0xc001, "raster line now (low 8 bits)"},
        {"sta RASTER", {0x8d, 0x12, 0xd0, 0x60}, 0xc001, "raster line of the raster interrupt"},
        {"lda CIAPRA", {0xad, 0x00, 0xdc, 0x60}, 0xc001, "joystick 2, keyboard"},
        {"lda CIAPRB", {0xad, 0x01, 0xdc, 0x60}, 0xc001, "keyboard rows, joystick 1"},
        {"lda RANDOM", {0xad, 0x1b, 0xd4, 0x60}, 0xc001, "voice 3 waveform output: random with noise"},
        {"bit CI2ICR", {0x2c, 0x0d, 0xdd, 0x60}, 0xc001, "CIA 2 interrupt status, acknowledged by reading"},
        {"lda EXTCOL tells nothing", {0xad, 0x20, 0xd0, 0x60}, 0xc001, ""},
        {"sta SP0X,x is indexed", {0x9d, 0x00, 0xd0, 0x60}, 0xc001, ""},
        {"sta $d02f, no register", {0x8d, 0x2f, 0xd0, 0x60}, 0xc001, ""},
        {"sta R6510 in zero page", {0x85, 0x01, 0x60}, 0xc001, "processor port: which ROMs and whether the I/O are visible"},
        {"sta CINV", {0x8d, 0x14, 0x03, 0x60}, 0xc001, "IRQ handler's address, low byte"},
        {"stx CINV+1", {0x8e, 0x15, 0x03, 0x60}, 0xc001, "IRQ handler's address, high byte"},
        {"sta NMINV+1", {0x8d, 0x19, 0x03, 0x60}, 0xc001, "NMI handler's address, high byte"},
        {"sta IRQ_VECTOR", {0x8d, 0xfe, 0xff, 0x60}, 0xc001, "IRQ vector, low byte"},
        {"lda COLOR is no register", {0xad, 0x86, 0x02, 0x60}, 0xc001, ""},
    };
    for (const CommentCase& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<std::uint8_t> bytes{0xea};
        bytes.insert(bytes.end(), c.code.begin(), c.code.end());
        const Listed listed(make_image(0xc000, bytes), 0xc000);
        EXPECT_EQ(listed.comment_at(c.at), c.comment);
    }
}

// An image over the I/O area: the code's stores there name the chips, and
// get their comment, unless the code switched the I/O out: then the
// image's own RAM is written. A call into an image that covers the
// KERNAL's jump table goes to the image's code, not the KERNAL.
TEST(KnownUse, AnImageOverTheIoAreaOrTheKernalIsTheProgramsOwn) {
    {
        // $cff0: sta $d020 / rts, the image reaching past $d020.
        std::vector<std::uint8_t> bytes(0x40, 0);
        const std::uint8_t code[] = {0xea, 0x8d, 0x20, 0xd0, 0x60};
        std::copy(std::begin(code), std::end(code), bytes.begin());
        const Listed listed(make_image(0xcff0, bytes), 0xcff0);
        EXPECT_EQ(listed.comment_at(0xcff1), "border colour");
    }
    {
        // lda #$34 / sta $01 / sta $d020 / rts: RAM there.
        std::vector<std::uint8_t> bytes(0x40, 0);
        const std::uint8_t code[] = {0xa9, 0x34, 0x85, 0x01, 0x8d, 0x20, 0xd0, 0x60};
        std::copy(std::begin(code), std::end(code), bytes.begin());
        const Listed listed(make_image(0xcff0, bytes), 0xcff0);
        EXPECT_NE(listed.comment_at(0xcff2), "");
        EXPECT_EQ(listed.comment_at(0xcff4), "");
    }
    {
        // $ffc0: nop / jsr $ffd2 / rts, and the image's own rts at $ffd2.
        std::vector<std::uint8_t> bytes(0x13, 0xea);
        const std::uint8_t code[] = {0xea, 0x20, 0xd2, 0xff, 0x60};
        std::copy(std::begin(code), std::end(code), bytes.begin());
        bytes.back() = 0x60;
        const Listed listed(make_image(0xffc0, bytes), 0xffc0);
        EXPECT_EQ(listed.comment_at(0xffc1), "");
        ASSERT_NE(listed.row_at(0xffd2), nullptr);
        EXPECT_NE(listed.row_at(0xffd2)->label, "");
    }
}

// The user's comment stays, before what Tolvek says of the call.
TEST(KnownUse, TheUsersCommentComesFirst) {
    Hints hints;
    hints.file = "test.hints";
    hints.comments[0xc001] = "say hello";
    const Listed listed(make_image(0xc000, {0xea, 0x20, 0xd2, 0xff, 0x60}), 0xc000, &hints);
    EXPECT_EQ(listed.comment_at(0xc001), "say hello; print the character in A");
    const std::string text = listed.asm_text();
    EXPECT_NE(text.find("\tjsr CHROUT              ; say hello; print the character in A\n"), std::string::npos) << text;
}

// Every KERNAL routine of the jump table, every register of the VIC-II,
// the SID and the CIAs has words for a call, a write or a read.
TEST(KnownUse, EveryRoutineAndRegisterHasWords) {
    int routines = 0;
    int registers = 0;
    for (std::uint32_t address = 0xff81; address < 0xfff6; address += 3) {
        const auto known = find_known(address);
        ASSERT_TRUE(known) << std::hex << address;
        EXPECT_NE(describe_use(address, Use::Call), "") << known->name;
        EXPECT_EQ(describe_use(address + 1, Use::Call), "") << known->name;
        ++routines;
    }
    for (std::uint32_t address = 0xd000; address < 0xde00; ++address) {
        const auto known = find_known(address);
        if (!known || known->size != 1) continue;  // colour RAM, gaps
        EXPECT_TRUE(describe_use(address, Use::Write) != "" || describe_use(address, Use::Read) != "") << known->name;
        ++registers;
    }
    EXPECT_EQ(routines, 39);
    EXPECT_EQ(registers, 47 + 29 + 32);
}

// An image of `size` zero bytes at `load` with `parts` put in.
Image image_of(std::uint32_t load, std::uint32_t size,
               const std::vector<std::pair<std::uint32_t, std::vector<std::uint8_t>>>& parts) {
    std::vector<std::uint8_t> bytes(size, 0);
    for (const auto& [at, part] : parts) std::copy(part.begin(), part.end(), bytes.begin() + (at - load));
    return make_image(load, bytes);
}

constexpr std::uint64_t kRun = 2'000'000;

struct HeadingCase {
    const char* what;
    Image image;
    std::int64_t entry;
    std::uint64_t cycles;   // of the run; 0: none
    std::uint32_t at;       // the routine
    const char* heading;
};

// Each way a routine is reached gives its heading; several are listed
// one after the other.
TEST(Headings, SayWhatReachesEachRoutine) {
    // lda #<handler / sta vector / lda #>handler / sta vector+1 / rts, and
    // the handler at $c010: asl VICIRQ / jmp $ea31.
    const auto installs = [](std::uint16_t vector) {
        const auto low = static_cast<std::uint8_t>(vector & 0xff);
        const auto high = static_cast<std::uint8_t>(vector >> 8);
        return image_of(0xc000, 0x20,
                        {{0xc000, {0xa9, 0x10, 0x8d, low, high, 0xa9, 0xc0, 0x8d, static_cast<std::uint8_t>(low + 1), high, 0x60}},
                         {0xc010, {0x0e, 0x19, 0xd0, 0x4c, 0x31, 0xea}}});
    };
    const HeadingCase cases[] = {
        {"the entry", make_image(0xc000, {0xea, 0x60}), 0xc000, 0, 0xc000, "entry point"},
        {"a SYS of another line than the entry's",
         make_image(0x0801, {0x0b, 0x08, 0x0a, 0x00, 0x9e, '2', '0', '7', '1', 0x00,   // 10 SYS2071
                             0x15, 0x08, 0x14, 0x00, 0x9e, '2', '0', '7', '3', 0x00,   // 20 SYS2073
                             0x00, 0x00, 0xe8, 0x60, 0xc8, 0x60}),                     // inx / rts, iny / rts
         2071, 0, 0x0819, "SYS in line 20"},
        {"called once", make_image(0xc000, {0x20, 0x04, 0xc0, 0x60, 0x60}), 0xc000, 0, 0xc004, "called with jsr"},
        {"called twice",
         make_image(0xc000, {0x20, 0x07, 0xc0, 0x20, 0x07, 0xc0, 0x60, 0x60}), 0xc000, 0, 0xc007, "called with jsr"},
        {"IRQ handler in CINV", installs(0x0314), 0xc000, 0, 0xc010, "IRQ handler (vector at $0314)"},
        {"IRQ handler at $FFFE", installs(0xfffe), 0xc000, 0, 0xc010, "IRQ handler (vector at $fffe)"},
        {"NMI handler in NMINV", installs(0x0318), 0xc000, 0, 0xc010, "NMI handler (vector at $0318)"},
        {"NMI handler at $FFFA", installs(0xfffa), 0xc000, 0, 0xc010, "NMI handler (vector at $fffa)"},
        {"BRK handler in CBINV", installs(0x0316), 0xc000, 0, 0xc010, "BRK handler (vector at $0316)"},
        {"a hook in ISTOP", installs(0x0328), 0xc000, 0, 0xc010, "installed in the vector at $0328"},
        {"handler also called",
         image_of(0xc000, 0x20, {{0xc000, {0xa9, 0x10, 0x8d, 0x14, 0x03, 0xa9, 0xc0, 0x8d, 0x15, 0x03, 0x20, 0x10, 0xc0, 0x60}},
                                 {0xc010, {0x60}}}),
         0xc000, 0, 0xc010, "IRQ handler (vector at $0314), called with jsr"},
        // ldx #0 / lda $c010,x / sta $fb / lda $c011,x / sta $fc / jmp ($00fb)
        // and a table of two words, each leading to inc EXTCOL / rts.
        {"a table of addresses",
         image_of(0xc000, 0x20, {{0xc000, {0xa2, 0x00, 0xbd, 0x10, 0xc0, 0x85, 0xfb, 0xbd, 0x11, 0xc0, 0x85, 0xfc, 0x6c, 0xfb, 0x00}},
                                 {0xc010, {0x14, 0xc0, 0x18, 0xc0, 0xee, 0x20, 0xd0, 0x60, 0xee, 0x21, 0xd0, 0x60}}}),
         0xc000, 0, 0xc018, "address in a table"},
        {"a table naming it twice",
         image_of(0xc000, 0x20, {{0xc000, {0xa2, 0x00, 0xbd, 0x10, 0xc0, 0x85, 0xfb, 0xbd, 0x11, 0xc0, 0x85, 0xfc, 0x6c, 0xfb, 0x00}},
                                 {0xc010, {0x16, 0xc0, 0x16, 0xc0, 0xea, 0xea, 0xee, 0x20, 0xd0, 0x60}}}),
         0xc000, 0, 0xc016, "address in a table"},
        // lda #$0f / asl / sta $fb / lda #$c0 / sta $fc / jmp ($00fb): to
        // $c01e, which only the run finds.
        {"reached in the run",
         image_of(0xc000, 0x20, {{0xc000, {0xa9, 0x0f, 0x0a, 0x85, 0xfb, 0xa9, 0xc0, 0x85, 0xfc, 0x6c, 0xfb, 0x00}},
                                 {0xc01e, {0xe8, 0x60}}}),
         0xc000, kRun, 0xc01e, "reached in the run"},
        {"cartridge cold start",
         image_of(0x8000, 0x20, {{0x8000, {0x09, 0x80, 0x0c, 0x80, 0xc3, 0xc2, 0xcd, 0x38, 0x30, 0xe8, 0x60, 0xea, 0xc8, 0x60}}}),
         0x8000, 0, 0x8009, "cartridge cold start"},
        {"cartridge warm start",
         image_of(0x8000, 0x20, {{0x8000, {0x09, 0x80, 0x0c, 0x80, 0xc3, 0xc2, 0xcd, 0x38, 0x30, 0xe8, 0x60, 0xea, 0xc8, 0x60}}}),
         0x8000, 0, 0x800c, "cartridge warm start"},
        // A KERNAL of our own: sei / cld / jmp $e000 at reset, rti for the
        // IRQ and the NMI.
        {"the KERNAL's reset",
         image_of(0xe000, 0x2000, {{0xe000, {0x78, 0xd8, 0x4c, 0x00, 0xe0}}, {0xe010, {0x40}}, {0xe020, {0x40}},
                                   {0xfffa, {0x20, 0xe0, 0x00, 0xe0, 0x10, 0xe0}}}),
         0xe000, 0, 0xe000, "reset (vector at $fffc), entry point"},
        {"the KERNAL's IRQ",
         image_of(0xe000, 0x2000, {{0xe000, {0x78, 0xd8, 0x4c, 0x00, 0xe0}}, {0xe010, {0x40}}, {0xe020, {0x40}},
                                   {0xfffa, {0x20, 0xe0, 0x00, 0xe0, 0x10, 0xe0}}}),
         0xe000, 0, 0xe010, "IRQ handler (vector at $fffe)"},
        {"no routine: a branch target",
         make_image(0xc000, {0xa2, 0x03, 0xca, 0xd0, 0xfd, 0x60}), 0xc000, 0, 0xc002, ""},
    };
    for (const HeadingCase& c : cases) {
        SCOPED_TRACE(c.what);
        const Listed listed(c.image, c.entry, nullptr, c.cycles);
        EXPECT_EQ(listed.heading_at(c.at), c.heading);
        // Only instructions get headings; the entry's mark moves there.
        for (const Row& row : listed.listing.rows) {
            if (!row.heading.empty()) {
                EXPECT_EQ(row.kind, RowKind::Instruction) << std::hex << row.address;
            }
            if (row.kind == RowKind::Instruction) {
                EXPECT_EQ(std::string(row.comment).find("entry"), std::string::npos);
            }
        }
    }
}

// A handler that the run installs from an address it computes, which no
// pair of immediates gives: the vector as the run left it names it.
TEST(Headings, AHandlerTheRunLeftInAVector) {
    // lda #$10 / asl / sta $0314 / lda #$c0 / sta $0315 / cli / jmp *, and
    // at $c020 inc EXTCOL / jmp $ea31.
    const Image image = image_of(0xc000, 0x30, {{0xc000, {0xa9, 0x10, 0x0a, 0x8d, 0x14, 0x03, 0xa9, 0xc0, 0x8d, 0x15, 0x03,
                                                          0x58, 0x4c, 0x0c, 0xc0}},
                                                {0xc020, {0xee, 0x20, 0xd0, 0x4c, 0x31, 0xea}}});
    const Listed listed(image, 0xc000, nullptr, kRun);
    EXPECT_EQ(listed.map.run.vectors_left, (std::vector<InstalledHandler>{{0x0314, 0xc020}}));
    EXPECT_EQ(listed.heading_at(0xc020), "IRQ handler (vector at $0314)");
    // Not run: nothing says so.
    const Listed not_run(image, 0xc000);
    EXPECT_TRUE(not_run.map.handlers.empty());
}

// The heading is a comment line before the routine's label, after one
// blank line, in the .asm (where a routine that ends with rts, jmp or rti
// has one after it already) and the .lst.
TEST(Headings, AreCommentLinesAfterOneBlankLine) {
    const Image image = make_image(0xc000, {0x20, 0x07, 0xc0,    // jsr $c007
                                            0x20, 0x06, 0xc0,    // jsr $c006
                                            0xe8,                // $c006: inx, falls through
                                            0xc8,                // $c007: iny
                                            0x60});              // rts
    const Listed listed(image, 0xc000);
    const std::string text = listed.asm_text();
    EXPECT_NE(text.find("\t* = $c000\n\n; entry point\nentry\n\tjsr Lc007\n\tjsr Lc006\n\n; called with jsr\nLc006                           ; called from entry+3\n\tinx\n\n"
                        "; called with jsr\nLc007                           ; called from entry\n\tiny\n\trts\n\n"),
              std::string::npos)
        << text;
    const std::string lst = listed.lst_text();
    EXPECT_NE(lst.find("\n\n                               ; entry point\nc000                           entry\n"), std::string::npos) << lst;
    EXPECT_EQ(lst.find("\n\n\n"), std::string::npos) << lst;
    EXPECT_NE(lst.find("c003  20 06 c0                         jsr Lc006\n\n                               ; called with jsr\n"
                       "c006                           Lc006                           ; called from $c003\n"),
              std::string::npos)
        << lst;
    // After an rts: one blank line, not two.
    const Listed after_rts(make_image(0xc000, {0x20, 0x04, 0xc0, 0x60, 0x60}), 0xc000);
    EXPECT_NE(after_rts.asm_text().find("\trts\n\n; called with jsr\nLc004                           ; called from entry\n"), std::string::npos) << after_rts.asm_text();
}

// lda #<handler / sta vector / lda #>handler / sta vector+1 for each of
// `installed` (handler, vector), then rts; each handler at its address:
// asl VICIRQ / jmp $ea31. At $c000, $40 bytes.
Image installing(const std::vector<std::pair<std::uint16_t, std::uint16_t>>& installed) {
    std::vector<std::uint8_t> code;
    std::vector<std::pair<std::uint32_t, std::vector<std::uint8_t>>> parts;
    for (const auto& [handler, vector] : installed) {
        const auto low = static_cast<std::uint8_t>(vector & 0xff);
        const auto high = static_cast<std::uint8_t>(vector >> 8);
        code.insert(code.end(), {0xa9, static_cast<std::uint8_t>(handler & 0xff), 0x8d, low, high,
                                 0xa9, static_cast<std::uint8_t>(handler >> 8), 0x8d, static_cast<std::uint8_t>(low + 1), high});
        parts.push_back({handler, {0x0e, 0x19, 0xd0, 0x4c, 0x31, 0xea}});
    }
    code.push_back(0x60);
    parts.insert(parts.begin(), {0xc000, code});
    return image_of(0xc000, 0x40, parts);
}

struct RoleCase {
    const char* what;
    Image image;
    std::int64_t entry;
    std::uint64_t cycles;
    std::vector<std::pair<std::uint32_t, const char*>> labels;  // expected
};

// The parts whose role Tolvek knows are named for it; two of a role are
// told apart by a number; a hook of another vector keeps its address.
TEST(RoleNames, NameWhatTolvekKnowsTheRoleOf) {
    const Image kernal = image_of(0xe000, 0x2000, {{0xe000, {0x78, 0xd8, 0x4c, 0x00, 0xe0}}, {0xe010, {0x40}},
                                                   {0xe020, {0x40}}, {0xfffa, {0x20, 0xe0, 0x00, 0xe0, 0x10, 0xe0}}});
    const RoleCase cases[] = {
        {"the entry", make_image(0xc000, {0xea, 0x60}), 0xc000, 0, {{0xc000, "entry"}}},
        {"SYS statements",
         make_image(0x0801, {0x0b, 0x08, 0x0a, 0x00, 0x9e, '2', '0', '7', '1', 0x00,
                             0x15, 0x08, 0x14, 0x00, 0x9e, '2', '0', '7', '3', 0x00,
                             0x00, 0x00, 0xe8, 0x60, 0xc8, 0x60}),
         2071, 0, {{0x0817, "entry"}, {0x0819, "sys_line_20"}}},
        {"IRQ in CINV", installing({{0xc020, 0x0314}}), 0xc000, 0, {{0xc000, "entry"}, {0xc020, "irq"}}},
        {"IRQ at $FFFE", installing({{0xc020, 0xfffe}}), 0xc000, 0, {{0xc020, "irq"}}},
        {"NMI in NMINV", installing({{0xc020, 0x0318}}), 0xc000, 0, {{0xc020, "nmi"}}},
        {"NMI at $FFFA", installing({{0xc020, 0xfffa}}), 0xc000, 0, {{0xc020, "nmi"}}},
        {"BRK in CBINV", installing({{0xc020, 0x0316}}), 0xc000, 0, {{0xc020, "brk_handler"}}},
        {"a hook in ISTOP", installing({{0xc020, 0x0328}}), 0xc000, 0, {{0xc020, "Lc020"}}},
        {"two IRQ handlers and an NMI",
         installing({{0xc030, 0x0314}, {0xc020, 0xfffe}, {0xc038, 0xfffa}}), 0xc000, 0,
         {{0xc020, "irq"}, {0xc030, "irq_2"}, {0xc038, "nmi"}}},
        {"a cartridge",
         image_of(0x8000, 0x20, {{0x8000, {0x09, 0x80, 0x0c, 0x80, 0xc3, 0xc2, 0xcd, 0x38, 0x30, 0xe8, 0x60, 0xea, 0xc8, 0x60}}}),
         0x8000, 0, {{0x8000, "D8000"}, {0x8009, "cold_start"}, {0x800c, "warm_start"}}},
        {"the KERNAL's vectors", kernal, 0xe000, 0, {{0xe000, "reset"}, {0xe010, "irq"}, {0xe020, "nmi"}}},
        // nop / lda CIAPRB / cmp #$ef / bne / rts: the run waits for a key.
        {"the loop the run waited in",
         make_image(0xc000, {0xea, 0xad, 0x01, 0xdc, 0xc9, 0xef, 0xd0, 0xf9, 0x60}), 0xc000, kRun,
         {{0xc000, "entry"}, {0xc001, "wait_loop"}}},
    };
    for (const RoleCase& c : cases) {
        SCOPED_TRACE(c.what);
        const Listed listed(c.image, c.entry, nullptr, c.cycles);
        for (const auto& [address, label] : c.labels) {
            const Row* row = listed.row_at(address);
            ASSERT_NE(row, nullptr) << std::hex << address;
            EXPECT_EQ(row->label, label) << std::hex << address;
        }
    }
}

// The user's names come first: for the address itself, and as names that
// a role's name must not repeat, in any letter case.
TEST(RoleNames, TheUsersNamesWinAndNoNameIsTwice) {
    const Image image = installing({{0xc020, 0x0314}, {0xc030, 0x0318}});
    const struct {
        const char* what;
        std::map<std::uint32_t, std::string> names;
        std::vector<std::pair<std::uint32_t, const char*>> labels;
    } cases[] = {
        {"the user's name for the handler", {{0xc020, "raster"}}, {{0xc020, "raster"}, {0xc030, "nmi"}, {0xc000, "entry"}}},
        {"the role's name taken by the entry", {{0xc000, "irq"}}, {{0xc000, "irq"}, {0xc020, "irq_2"}}},
        {"taken in another case, outside the image", {{0x00fb, "IRQ"}, {0x00fc, "Nmi"}}, {{0xc020, "irq_2"}, {0xc030, "nmi_2"}}},
        {"and the next one too", {{0x00fb, "irq"}, {0x00fc, "irq_2"}}, {{0xc020, "irq_3"}}},
        {"a name with the role's name in it is another name", {{0x00fb, "irq_handler"}}, {{0xc020, "irq"}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Hints hints;
        hints.file = "test.hints";
        hints.names = c.names;
        const Listed listed(image, 0xc000, &hints);
        for (const auto& [address, label] : c.labels) {
            const Row* row = listed.row_at(address);
            ASSERT_NE(row, nullptr) << std::hex << address;
            EXPECT_EQ(row->label, label) << std::hex << address;
        }
        std::set<std::string_view> names;
        for (const Symbol& symbol : listed.listing.symbols) {
            EXPECT_TRUE(names.insert(symbol.name).second) << "twice: " << symbol.name;
        }
    }
}

// Written as hints and read back, the role names give the same source,
// which assembles in every dialect (round_trip checks both).
TEST(RoleNames, SurviveWrittenHintsAndAssemble) {
    if (!tolvek_test::have_acme()) GTEST_SKIP() << "acme is not installed";
    tolvek_test::ScratchDir dir;
    const Image image = installing({{0xc030, 0x0314}, {0xc020, 0xfffe}, {0xc038, 0x0316}});
    for (const Dialect* dialect : kDialects) {
        if (!tolvek_test::have_assembler(std::string(dialect->name))) continue;
        SCOPED_TRACE(dialect->name);
        const std::string source = tolvek_test::round_trip(dir, 0xc000, 0xc000, image.bytes, std::string(dialect->name));
        const std::string hints = tolvek_test::read_text(dir / "image.written");
        for (const char* name : {"name $c000 entry\n", "name $c020 irq\n", "name $c030 irq_2\n", "name $c038 brk_handler\n"}) {
            EXPECT_NE(hints.find(name), std::string::npos) << name << hints;
        }
        // The label's line goes on with the places that take its address.
        const std::string irq = "\n; IRQ handler (vector at $fffe)\nirq" + std::string(dialect->label_suffix);
        const std::size_t at = source.find(irq);
        ASSERT_NE(at, std::string::npos) << source;
        EXPECT_TRUE(source[at + irq.size()] == ' ' || source[at + irq.size()] == '\n') << source;
    }
}

// The unpacker a packed program copies away to run is named where its
// bytes lie in the image, with a heading that says where it ran.
TEST(RoleNames, TheUnpackerWhereItLies) {
    if (!tolvek_test::have_acme()) GTEST_SKIP() << "acme is not installed";
    tolvek_test::ScratchDir dir;
    // hello.prg and 3000 bytes of text after it: enough to count as unpacked.
    std::vector<std::uint8_t> prg = tolvek_test::read_bytes(std::string(EXAMPLES_DIR) + "/hello.prg");
    ASSERT_GT(prg.size(), 2u);
    for (int i = 0; i < 3000; ++i) prg.push_back(static_cast<std::uint8_t>("abcdefgh  "[(i * 7 + i / 13) % 10]));
    const Image original = make_image(0x0801, {prg.begin() + 2, prg.end()});
    const std::vector<std::uint8_t> packed = tolvek_test::assemble(dir, tolvek_test::packed_program_source(original, 0x080d));
    const Image image = make_image(0x0801, {packed.begin() + 2, packed.end()});
    const Listed listed(image, 0x080d, nullptr, kDefaultRunCycles);
    ASSERT_TRUE(listed.map.run.unpacked.has_value());
    std::optional<std::uint32_t> unpacker;
    for (const CopiedCode& copied : listed.map.run.copied_code) {
        if (copied.start == tolvek_test::kUnpackerAddress) unpacker = copied.from;
    }
    ASSERT_TRUE(unpacker.has_value());
    const Row* row = listed.row_at(*unpacker);
    ASSERT_NE(row, nullptr);
    EXPECT_EQ(row->label, "unpack");
    EXPECT_EQ(row->heading, "unpacker (run at $0340)");
    EXPECT_EQ(listed.row_at(0x080d)->label, "entry");
}

}  // namespace
