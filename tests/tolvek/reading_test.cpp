// What makes a listing read like a program: the comments on calls of the
// KERNAL and on the chip registers an instruction writes or reads.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "analysis/analyse.hpp"
#include "c64/descriptions.hpp"
#include "c64/symbols.hpp"
#include "hints/hints.hpp"
#include "output/listing.hpp"
#include "output/writers.hpp"
#include "support.hpp"

using namespace tolvek;
using tolvek_test::make_image;

namespace {

const ListingNames kNames{"test.tmp", "test.unpacked.prg", "test.unpacked.asm", "Tolvek.exe --unpack"};

// The listing of `image` traced from `entry`, without guessing or running.
struct Listed {
    Listed(const Image& image, std::int64_t entry, const Hints* hints = nullptr)
        : map(analyse(image, {.entry = entry, .guesses = false, .hints = hints})),
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
    const std::string text = write_asm(listed.listing, listed.map.image(), kAcme, {"t.asm", "t.prg", ""});
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

}  // namespace
