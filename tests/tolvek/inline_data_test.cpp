// Data placed after a jsr: the routines that read it through their return
// address, the trace that skips it at each call, and the guesses that do.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "analysis/analyse.hpp"
#include "analysis/inline_data.hpp"
#include "cpu/opcodes.hpp"
#include "emu/cpu6510.hpp"
#include "support.hpp"

using namespace tolvek;
using tolvek_test::listed_at;

namespace {

// Just enough of an assembler for the test programs: opcodes as bytes,
// operands as numbers or labels, resolved at the end.
class Asm {
public:
    explicit Asm(std::uint32_t load) { image.load = load; }

    std::uint32_t here() const { return image.end(); }
    Asm& label(const std::string& name) { return label(name, here()); }
    Asm& label(const std::string& name, std::uint32_t address) {
        labels_[name] = address;
        return *this;
    }
    Asm& op(std::uint8_t opcode) { return bytes({opcode}); }
    Asm& op(std::uint8_t opcode, std::uint8_t operand) { return bytes({opcode, operand}); }
    Asm& op(std::uint8_t opcode, std::uint16_t operand) {
        return bytes({opcode, static_cast<std::uint8_t>(operand), static_cast<std::uint8_t>(operand >> 8)});
    }
    Asm& op(std::uint8_t opcode, const std::string& target) {
        words_.emplace_back(here() + 1, target);
        return op(opcode, std::uint16_t{0});
    }
    Asm& branch(std::uint8_t opcode, const std::string& target) {
        branches_.emplace_back(here() + 1, target);
        return op(opcode, std::uint8_t{0});
    }
    Asm& bytes(std::initializer_list<std::uint8_t> values) {
        image.bytes.insert(image.bytes.end(), values);
        return *this;
    }
    // PETSCII as !pet writes plain text: letters as $41-$5A.
    Asm& text(const std::string& plain) {
        for (char c : plain) {
            const auto byte = static_cast<std::uint8_t>(c >= 'a' && c <= 'z' ? c - 0x20 : c);
            image.bytes.push_back(byte);
        }
        return *this;
    }

    // Resolves the labels; the image is then ready.
    const Image& done() {
        for (const auto& [at, name] : words_) {
            const std::uint32_t value = labels_.at(name);
            image.bytes[at - image.load] = static_cast<std::uint8_t>(value);
            image.bytes[at + 1 - image.load] = static_cast<std::uint8_t>(value >> 8);
        }
        for (const auto& [at, name] : branches_) {
            image.bytes[at - image.load] = static_cast<std::uint8_t>(labels_.at(name) - (at + 1));
        }
        return image;
    }
    std::uint32_t operator[](const std::string& name) const { return labels_.at(name); }

    Image image;

private:
    std::map<std::string, std::uint32_t> labels_;
    std::vector<std::pair<std::uint32_t, std::string>> words_;
    std::vector<std::pair<std::uint32_t, std::string>> branches_;
};

constexpr std::uint8_t kPla = 0x68, kPha = 0x48, kRts = 0x60, kTsx = 0xba, kTya = 0x98, kTax = 0xaa,
                       kTxa = 0x8a, kClc = 0x18, kIny = 0xc8;
constexpr std::uint16_t kChrout = 0xffd2;

// pla / sta $fb / pla / sta $fc: the return address, the call's last byte.
void pull_return_address(Asm& a) { a.op(kPla).op(0x85, std::uint8_t{0xfb}).op(kPla).op(0x85, std::uint8_t{0xfc}); }

// Prints the zero-terminated text after the call and returns past it.
void print_inline(Asm& a) {
    a.label("print_inline");
    pull_return_address(a);
    a.op(0xa0, std::uint8_t{0});                                            // ldy #0
    a.label("next").op(0xe6, std::uint8_t{0xfb}).branch(0xd0, "read");     // inc $fb / bne read
    a.op(0xe6, std::uint8_t{0xfc});                                         // inc $fc
    a.label("read").op(0xb1, std::uint8_t{0xfb}).branch(0xf0, "back");     // lda ($fb),y / beq back
    a.op(0x20, kChrout).op(0x4c, "next");                                   // jsr CHROUT / jmp next
    a.label("back").op(0xa5, std::uint8_t{0xfc}).op(kPha).op(0xa5, std::uint8_t{0xfb}).op(kPha).op(kRts);
}

// The same through tsx, moving the return address where it is.
void print_through_stack(Asm& a) {
    a.label("print_stack").op(kTsx);
    a.op(0xbd, std::uint16_t{0x0101}).op(0x85, std::uint8_t{0xfb});     // lda $0101,x / sta $fb
    a.op(0xbd, std::uint16_t{0x0102}).op(0x85, std::uint8_t{0xfc});     // lda $0102,x / sta $fc
    a.op(0xa0, std::uint8_t{1});                                         // ldy #1
    a.label("s_read").op(0xb1, std::uint8_t{0xfb}).branch(0xf0, "s_end");
    a.op(0x20, kChrout).op(kIny).branch(0xd0, "s_read");
    a.label("s_end").op(kTya).op(kClc).op(0x7d, std::uint16_t{0x0101});  // tya / clc / adc $0101,x
    a.op(0x9d, std::uint16_t{0x0101}).branch(0x90, "s_done");           // sta $0101,x / bcc
    a.op(0xfe, std::uint16_t{0x0102});                                   // inc $0102,x
    a.label("s_done").op(kRts);
}

// Takes two parameter bytes from behind the call.
void set_colours(Asm& a) {
    a.label("set_colours");
    pull_return_address(a);
    a.op(0xa0, std::uint8_t{1}).op(0xb1, std::uint8_t{0xfb}).op(0x8d, std::uint16_t{0xd020});
    a.op(kIny).op(0xb1, std::uint8_t{0xfb}).op(0x8d, std::uint16_t{0xd021});
    a.op(0xa5, std::uint8_t{0xfb}).op(kClc).op(0x69, std::uint8_t{2}).op(kTax);  // lda $fb / clc / adc #2 / tax
    a.op(0xa5, std::uint8_t{0xfc}).op(0x69, std::uint8_t{0}).op(kPha).op(kTxa).op(kPha).op(kRts);
}

// Prints as many characters as the byte after the call says.
void print_counted(Asm& a) {
    a.label("print_counted");
    pull_return_address(a);
    a.op(0xa0, std::uint8_t{1}).op(0xb1, std::uint8_t{0xfb}).op(0x85, std::uint8_t{0xfd});  // count
    a.label("c_next").op(kIny).op(0xb1, std::uint8_t{0xfb}).op(0x20, kChrout);
    a.op(0xc6, std::uint8_t{0xfd}).branch(0xd0, "c_next");                                  // dec / bne
    a.op(kTya).op(kClc).op(0x65, std::uint8_t{0xfb}).op(kTax);
    a.op(0xa5, std::uint8_t{0xfc}).op(0x69, std::uint8_t{0}).op(kPha).op(kTxa).op(kPha).op(kRts);
}

std::string hex(std::uint32_t address) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string digits;
    for (int shift = 12; shift >= 0; shift -= 4) digits += kHex[(address >> shift) & 0xf];
    return digits;
}

// The kinds of [from, to) are `kind`, or text where the bytes are printable
// (for kind == Petscii), all from the inline data.
void expect_data(const MemoryMap& map, std::uint32_t from, std::uint32_t to, const std::vector<Kind>& kinds) {
    ASSERT_EQ(kinds.size(), to - from);
    for (std::uint32_t a = from; a < to; ++a) {
        EXPECT_EQ(map.kind(a), kinds[a - from]) << std::hex << a;
    }
    // The data is rows of its own, from right after the call to the next
    // instruction.
    const std::string first = listed_at(map, from);
    EXPECT_TRUE(first.starts_with("!byte ") || first.starts_with("!pet ")) << std::hex << from << ": " << first;
    EXPECT_EQ(listed_at(map, to).substr(0, 6), "L" + hex(to) + ":") << std::hex << to;
}

MemoryMap trace(const Image& image, std::uint32_t entry) { return analyse(image, {.entry = entry, .guesses = false}); }

constexpr Kind B = Kind::Bytes;
constexpr Kind T = Kind::Petscii;

// Zero-terminated text after two calls of different lengths: each call's
// data is skipped as far as the routine reads it, and tracing goes on
// after it.
TEST(InlineData, ZeroTerminated) {
    Asm a(0xc000);
    a.label("start").op(0x20, "print_inline").bytes({0x93}).text("hi").bytes({0x0d, 0});
    a.label("second").op(0x20, "print_inline").text("longer text").bytes({0});
    a.label("after").op(0xa9, std::uint8_t{1}).op(kRts);
    print_inline(a);
    const Image& image = a.done();
    const MemoryMap map = trace(image, a["start"]);
    expect_data(map, a["start"] + 3, a["second"], {B, T, T, B, B});
    std::vector<Kind> second(11, T);
    second.push_back(B);
    expect_data(map, a["second"] + 3, a["after"], second);
    EXPECT_TRUE(map.is_opcode(a["second"]));
    EXPECT_TRUE(map.is_opcode(a["after"]));
    EXPECT_TRUE(map.is_opcode(a["back"]));
    const InlineRoutine& routine = map.inline_calls.routines.at(a["print_inline"]);
    EXPECT_EQ(routine.form, InlineForm::ZeroTerminated);
    EXPECT_EQ(routine.calls.at(a["start"]), 5u);
    EXPECT_EQ(routine.calls.at(a["second"]), 12u);
}

// A routine that pulls its return address and then calls a routine of its
// own for each character (one that draws it into a bitmap, hundreds of
// instructions a character): the returns of those calls, at the caller's
// level of the stack, are not the way back to the caller. A long text takes
// more instructions than a short one may, all in one call.
TEST(InlineData, OwnCallsAfterPullingTheReturnAddress) {
    Asm a(0xc000);
    const std::string long_text(100, 'x');
    a.label("start").op(0x20, "print_drawn").text("short").bytes({0});
    a.label("second").op(0x20, "print_drawn").text(long_text).bytes({0});
    a.label("after").op(kRts);
    // pla / sta $fb / pla / sta $fc / bne next (always)
    a.label("print_drawn");
    pull_return_address(a);
    a.branch(0xd0, "d_next");
    a.label("d_read").op(0xa0, std::uint8_t{0}).op(0xb1, std::uint8_t{0xfb}).branch(0xf0, "d_end");
    a.op(0x20, "draw");                                                   // jsr draw
    a.label("d_next").op(0xe6, std::uint8_t{0xfb}).branch(0xd0, "d_read");  // inc $fb / bne
    a.op(0xe6, std::uint8_t{0xfc}).branch(0xd0, "d_read");                   // inc $fc / bne
    a.label("d_end").op(0xa5, std::uint8_t{0xfc}).op(kPha).op(0xa5, std::uint8_t{0xfb}).op(kPha).op(kRts);
    // ldx #0 / - dex / bne - / rts: 513 instructions
    a.label("draw").op(0xa2, std::uint8_t{0}).label("d_loop").op(0xca).branch(0xd0, "d_loop").op(kRts);
    const Image& image = a.done();
    const MemoryMap map = trace(image, a["start"]);
    expect_data(map, a["start"] + 3, a["second"], {T, T, T, T, T, B});
    std::vector<Kind> second(long_text.size(), T);
    second.push_back(B);
    expect_data(map, a["second"] + 3, a["after"], second);
    EXPECT_TRUE(map.is_opcode(a["after"]));
    EXPECT_EQ(map.inline_calls.routines.at(a["print_drawn"]).calls.at(a["second"]), long_text.size() + 1);
    EXPECT_GT(map.inline_calls.routines.at(a["print_drawn"]).model_steps, 50000u);
}

// Two parameter bytes, not text.
TEST(InlineData, FixedLength) {
    Asm a(0xc000);
    a.label("start").op(0x20, "set_colours").bytes({6, 14});
    a.label("second").op(0x20, "set_colours").bytes({0x41, 0x42});  // printable, yet parameters
    a.label("after").op(kRts);
    set_colours(a);
    const Image& image = a.done();
    const MemoryMap map = trace(image, a["start"]);
    expect_data(map, a["start"] + 3, a["second"], {B, B});
    expect_data(map, a["second"] + 3, a["after"], {B, B});
    EXPECT_TRUE(map.is_opcode(a["after"]));
    EXPECT_EQ(map.inline_calls.routines.at(a["set_colours"]).form, InlineForm::Fixed);
}

// A count, then as many characters: the count is a number, the rest text.
TEST(InlineData, LengthByte) {
    Asm a(0xc000);
    a.label("start").op(0x20, "print_counted").bytes({5}).text("abcde");
    a.label("second").op(0x20, "print_counted").bytes({1}).text("x");
    a.label("after").op(kRts);
    print_counted(a);
    const Image& image = a.done();
    const MemoryMap map = trace(image, a["start"]);
    expect_data(map, a["start"] + 3, a["second"], {B, T, T, T, T, T});
    expect_data(map, a["second"] + 3, a["after"], {B, T});
    EXPECT_TRUE(map.is_opcode(a["after"]));
    EXPECT_EQ(map.inline_calls.routines.at(a["print_counted"]).form, InlineForm::LengthByte);
}

// The return address read and moved on the stack through tsx.
TEST(InlineData, ThroughTheStack) {
    Asm a(0xc000);
    a.label("start").op(0x20, "print_stack").text("stack").bytes({0});
    a.label("after").op(kRts);
    print_through_stack(a);
    const Image& image = a.done();
    const MemoryMap map = trace(image, a["start"]);
    expect_data(map, a["start"] + 3, a["after"], {T, T, T, T, T, B});
    EXPECT_TRUE(map.is_opcode(a["after"]));
    EXPECT_TRUE(map.is_opcode(a["s_done"]));
    EXPECT_EQ(map.inline_calls.routines.at(a["print_stack"]).form, InlineForm::ZeroTerminated);
}

// The C128 KERNAL's print-immediate at $FF7D, outside the image.
TEST(InlineData, PrintImmediate) {
    Asm a(0x1c01);
    a.label("start").op(0x20, std::uint16_t{0xff7d}).text("kernal").bytes({0x0d, 0});
    a.label("after").op(0xa9, std::uint8_t{0}).op(kRts);
    const Image& image = a.done();
    const MemoryMap map = trace(image, a["start"]);
    expect_data(map, a["start"] + 3, a["after"], {T, T, T, T, T, T, B, B});
    EXPECT_TRUE(map.is_opcode(a["after"]));
    EXPECT_EQ(map.inline_calls.routines.at(kPrintImmediate).form, InlineForm::ZeroTerminated);
}

// A routine that reads the bytes after its call through the return
// address it pulled and goes back to its caller's caller: nothing after the
// call runs, so the trace stops there (the bytes stay unknown, for the
// data passes), and the routine is code. A routine whose model returns
// past its own start (it skips more than lies before it) gets no data at
// that call: it is code, and its bytes are no call's data.
TEST(InlineData, RoutinesThatUseTheBytesAfterTheirCalls) {
    Asm a(0xc000);
    a.label("start").op(0x20, "phase").op(0x20, "skip").bytes({1, 2});
    a.label("skip").op(kPla).op(kClc).op(0x69, std::uint8_t{20}).op(kTax);  // pla / clc / adc #20 / tax
    a.op(kPla).op(0x69, std::uint8_t{0}).op(kPha).op(kTxa).op(kPha).op(kRts);  // pla / adc #0 / pha / txa / pha / rts
    a.label("phase").op(0x20, "rows").bytes({0, 1, 2, 3, 0, 0x60});
    // pla / sta $fb / pla / sta $fc / ldy #1 / lda ($fb),y / sta $d020 / rts
    a.label("rows");
    pull_return_address(a);
    a.op(0xa0, std::uint8_t{1}).op(0xb1, std::uint8_t{0xfb}).op(0x8d, std::uint16_t{0xd020}).op(kRts);
    const Image& image = a.done();
    const MemoryMap map = trace(image, a["start"]);
    EXPECT_TRUE(map.is_opcode(a["rows"]));
    EXPECT_TRUE(map.is_opcode(a["phase"]));
    for (std::uint32_t at = a["phase"] + 3; at < a["rows"]; ++at) EXPECT_EQ(map.kind(at), Kind::Unknown) << std::hex << at;
    EXPECT_TRUE(map.inline_calls.routines.at(a["rows"]).past_caller);
    // The caller's caller goes on: the second call, after the first returned.
    EXPECT_TRUE(map.is_opcode(a["start"] + 3));
    EXPECT_TRUE(map.is_opcode(a["skip"]));
    EXPECT_EQ(map.inline_calls.routines.at(a["skip"]).calls.at(a["start"] + 3), 0u);
    EXPECT_FALSE(map.inline_calls.routines.at(a["skip"]).past_caller);
}

// Routines that look at their return address without taking data: one
// that reads it through tsx and returns as usual, one that drops it and
// returns to its caller's caller, and a jsr to print-immediate when the
// image holds $FF7D. The trace goes on right after each call.
TEST(InlineData, RoutinesThatTakeNoData) {
    Asm a(0xc000);
    a.label("start").op(0x20, "where").op(0x20, "leave").op(0xa9, std::uint8_t{2}).op(kRts);
    a.label("where").op(kTsx).op(0xbd, std::uint16_t{0x0101}).op(0x85, std::uint8_t{0xfb}).op(kRts);
    a.label("leave").op(kPla).op(kPla).op(kRts);
    const Image& image = a.done();
    const MemoryMap map = trace(image, a["start"]);
    for (std::uint32_t at = a["start"]; at < a["where"];) {
        EXPECT_TRUE(map.is_opcode(at)) << std::hex << at;
        at += instruction_length(image.at(at));
    }
    EXPECT_EQ(map.inline_calls.routines.at(a["where"]).form, InlineForm::None);
    EXPECT_EQ(map.inline_calls.routines.at(a["where"]).calls.at(a["start"]), 0u);
    EXPECT_EQ(map.inline_calls.routines.at(a["leave"]).form, InlineForm::None);

    Asm high(0xff70);
    high.label("start").op(0x20, std::uint16_t{0xff7d}).op(kRts);
    while (high.here() < kPrintImmediate) high.op(0xea);
    high.label("primm").op(kRts);
    const Image& high_image = high.done();
    ASSERT_EQ(high["primm"], kPrintImmediate);
    const MemoryMap high_map = trace(high_image, high["start"]);
    EXPECT_TRUE(high_map.is_opcode(high["start"] + 3));
    EXPECT_TRUE(high_map.inline_calls.routines.empty());
}

// A routine that only a guess finds calls a routine with data after the
// call: the guess skips the data too, and keeps it as data when it is
// taken.
TEST(InlineData, InGuessedCode) {
    Asm a(0xc000);
    a.label("start").op(0x20, "last").op(kRts);
    a.label("guessed").op(0x20, "print_inline").text("found").bytes({0});
    a.label("guessed_after").op(0xa9, std::uint8_t{0}).op(0x8d, std::uint16_t{0xd020}).op(kRts);
    print_inline(a);
    a.label("last").op(kRts);
    const Image& image = a.done();
    EXPECT_FALSE(trace(image, a["start"]).is_opcode(a["guessed"]));
    const MemoryMap map = analyse(image, {.entry = a["start"]});
    EXPECT_EQ(listed_at(map, a["guessed"]), "L" + hex(a["guessed"]) + ": jsr L" + hex(a["print_inline"]));
    EXPECT_EQ(listed_at(map, a["guessed_after"]), "L" + hex(a["guessed_after"]) + ": lda #$00");
    expect_data(map, a["guessed"] + 3, a["guessed_after"], {T, T, T, T, T, B});
    EXPECT_TRUE(map.is_opcode(a["back"]));
}

// A routine that adds the BCD number after its call to a score in decimal
// mode: the CPU adds as the chip does, and the number is data.
TEST(InlineData, DecimalModeIsFollowed) {
    Asm a(0xc000);
    a.label("start").op(0x20, "add_score").bytes({0x25});
    a.label("second").op(0x20, "add_score").bytes({0x50});
    a.label("after").op(kRts);
    a.label("add_score");
    pull_return_address(a);
    a.op(0xa0, std::uint8_t{1}).op(0xf8).op(kClc);                                           // ldy #1 / sed / clc
    a.op(0xb1, std::uint8_t{0xfb}).op(0x65, std::uint8_t{0xfd}).op(0x85, std::uint8_t{0xfd});  // lda ($fb),y / adc / sta
    a.op(0xd8).op(0xa5, std::uint8_t{0xfb}).op(kClc).op(0x69, std::uint8_t{1}).op(kTax);      // cld / past the byte
    a.op(0xa5, std::uint8_t{0xfc}).op(0x69, std::uint8_t{0}).op(kPha).op(kTxa).op(kPha).op(kRts);
    const Image& image = a.done();
    const MemoryMap map = trace(image, a["start"]);
    expect_data(map, a["start"] + 3, a["second"], {B});
    expect_data(map, a["second"] + 3, a["after"], {B});
    EXPECT_TRUE(map.is_opcode(a["second"]));
    EXPECT_TRUE(map.is_opcode(a["after"]));
    EXPECT_EQ(map.inline_calls.routines.at(a["add_score"]).form, InlineForm::Fixed);
}

// A routine that reads its text with lax, an undocumented opcode the C64
// runs: followed where undocumented opcodes count as code, and not where
// only the documented ones do.
TEST(InlineData, UndocumentedOpcodesAreFollowedWhereTheyAreCode) {
    Asm a(0xc000);
    a.label("start").op(0x20, "print_lax").text("lax").bytes({0});
    a.label("after").op(kRts);
    a.label("print_lax");
    pull_return_address(a);
    a.op(0xa0, std::uint8_t{0});                                                     // ldy #0
    a.label("next").op(0xe6, std::uint8_t{0xfb}).branch(0xd0, "read").op(0xe6, std::uint8_t{0xfc});
    a.label("read").op(0xb3, std::uint8_t{0xfb}).branch(0xf0, "back");              // lax ($fb),y / beq
    a.op(0x20, kChrout).op(0x4c, "next");
    a.label("back").op(0xa5, std::uint8_t{0xfc}).op(kPha).op(0xa5, std::uint8_t{0xfb}).op(kPha).op(kRts);
    const Image& image = a.done();
    const MemoryMap map = trace(image, a["start"]);
    expect_data(map, a["start"] + 3, a["after"], {T, T, T, B});
    EXPECT_TRUE(map.is_opcode(a["after"]));

    const MemoryMap documented = analyse(image, {.entry = a["start"], .guesses = false, .undocumented = false});
    EXPECT_EQ(documented.inline_calls.routines.at(a["print_lax"]).calls.at(a["start"]), 0u);
}

// Each call runs on the image as it is: a routine that counts its calls in
// the zero page and takes as many bytes as the count says takes one byte
// at every call, as it would if each call were the first one.
TEST(InlineData, StoresOfOneCallAreGoneAtTheNext) {
    Asm a(0xc000);
    a.label("start").op(0x20, "counting").bytes({7});
    a.label("second").op(0x20, "counting").bytes({9});
    a.label("after").op(kRts);
    a.label("counting");
    pull_return_address(a);
    a.op(0xe6, std::uint8_t{0xfd}).op(0xa5, std::uint8_t{0xfb}).op(kClc).op(0x65, std::uint8_t{0xfd});  // inc / lda / clc / adc $fd
    a.op(kTax).op(0xa5, std::uint8_t{0xfc}).op(0x69, std::uint8_t{0}).op(kPha).op(kTxa).op(kPha).op(kRts);
    const Image& image = a.done();
    const MemoryMap map = trace(image, a["start"]);
    const InlineRoutine& routine = map.inline_calls.routines.at(a["counting"]);
    EXPECT_EQ(routine.calls.at(a["start"]), 1u);
    EXPECT_EQ(routine.calls.at(a["second"]), 1u);
    EXPECT_TRUE(map.is_opcode(a["second"]));
    EXPECT_TRUE(map.is_opcode(a["after"]));
}

// The memory the model runs on: the image's bytes, zero around them, and
// what the CPU stores on top until the stores are forgotten; the image
// itself never changes.
TEST(InlineData, OverlayReadsTheImageAndForgetsStores) {
    Image image;
    image.load = 0xc080;  // begins and ends inside a page, spans a whole one
    for (std::uint32_t i = 0; i < 0x200; ++i) image.bytes.push_back(static_cast<std::uint8_t>(i * 7 + 1));
    const std::vector<std::uint8_t> original = image.bytes;
    ImageOverlay memory(image);
    Cpu6510 cpu(memory);
    for (const std::uint32_t at : {0xc080u, 0xc0ffu, 0xc100u, 0xc1ffu, 0xc200u, 0xc27fu}) {
        EXPECT_EQ(cpu.read(static_cast<std::uint16_t>(at)), image.at(at)) << std::hex << at;
    }
    for (const std::uint32_t at : {0xc07fu, 0xc280u, 0x0000u, 0xd012u, 0xffd2u}) {
        EXPECT_EQ(cpu.read(static_cast<std::uint16_t>(at)), 0) << std::hex << at;
    }

    for (int call = 0; call < 2; ++call) {
        SCOPED_TRACE(call);
        cpu.write(0xc150, 0xaa);
        cpu.write(0xc090, 0xbb);  // in the page the image begins in
        cpu.write(0xd020, 0x0e);
        cpu.push(0x12);
        EXPECT_EQ(cpu.read(0xc150), 0xaa);
        EXPECT_EQ(cpu.read(0xc090), 0xbb);
        EXPECT_EQ(cpu.read(0xd020), 0x0e);
        EXPECT_EQ(cpu.read(0x01ff), 0x12);
        // The rest of a page stored into still reads as before.
        EXPECT_EQ(cpu.read(0xc151), image.at(0xc151));
        EXPECT_EQ(cpu.read(0xc07f), 0);
        EXPECT_EQ(cpu.read(0xd021), 0);
        memory.forget_stores();
        EXPECT_EQ(cpu.read(0xc150), image.at(0xc150));
        EXPECT_EQ(cpu.read(0xc090), image.at(0xc090));
        EXPECT_EQ(cpu.read(0xd020), 0);
        EXPECT_EQ(cpu.read(0x01ff), 0);
        cpu.s = 0xff;
    }
    EXPECT_EQ(image.bytes, original);
}

// After the first call with data and three more that the model read as it
// foresaw, later calls are read that way without running the routine: a
// program with eight calls costs the model as much as one with the first
// four, and every call's text is still right.
TEST(InlineData, CallsReadAsForeseenAfterThreeInARow) {
    const auto program = [](int calls) {
        Asm a(0xc000);
        a.label("start");
        for (int i = 0; i < calls; ++i) {
            a.label("call" + std::to_string(i)).op(0x20, "print_inline").text(std::string(static_cast<std::size_t>(2 + i), 'a')).bytes({0});
        }
        a.label("after").op(kRts);
        print_inline(a);
        a.done();
        return a;
    };
    const Asm four = program(4);
    const Asm eight = program(8);
    const MemoryMap four_map = trace(four.image, four["start"]);
    const MemoryMap eight_map = trace(eight.image, eight["start"]);
    const InlineRoutine& four_routine = four_map.inline_calls.routines.at(four["print_inline"]);
    const InlineRoutine& eight_routine = eight_map.inline_calls.routines.at(eight["print_inline"]);
    EXPECT_EQ(eight_routine.model_steps, four_routine.model_steps);
    EXPECT_EQ(eight_routine.foreseen_in_a_row, 3u);
    for (int i = 0; i < 8; ++i) {
        const std::uint32_t call = eight["call" + std::to_string(i)];
        EXPECT_EQ(eight_routine.calls.at(call), static_cast<std::uint32_t>(3 + i)) << i;
        EXPECT_TRUE(eight_map.is_opcode(i < 7 ? eight["call" + std::to_string(i + 1)] : eight["after"])) << i;
    }
}

// A routine that waits a while before it prints, called many times: the
// model runs out of steps for it after some calls, and the later calls'
// data is read the way the first call's was (up to its zero). The same for
// a routine that takes as many bytes as a count says.
TEST(InlineData, ManyCallsOfASlowRoutineKeepTheirData) {
    constexpr int kCalls = 60;
    Asm a(0x1000);
    a.label("start");
    std::vector<std::string> words;
    for (int i = 0; i < kCalls; ++i) {
        words.push_back("w" + std::to_string(i) + std::string(static_cast<std::size_t>(i % 7), 'x'));
        a.label("call" + std::to_string(i)).op(0x20, "slow_print").text(words.back()).bytes({0});
        a.label("counted" + std::to_string(i)).op(0x20, "slow_counted").bytes({static_cast<std::uint8_t>(1 + i % 5)});
        for (int k = 0; k < 1 + i % 5; ++k) a.text("c");
    }
    a.label("after").op(kRts);
    // About 40 000 instructions of waiting at each call.
    const auto wait = [&a](const std::string& name) {
        a.op(0xa2, std::uint8_t{0x50}).op(0xa0, std::uint8_t{0});                       // ldx #$50 / ldy #0
        a.label(name).op(0x88).branch(0xd0, name).op(0xca).branch(0xd0, name);         // dey / bne / dex / bne
    };
    a.label("slow_print");
    pull_return_address(a);
    wait("wait_print");
    a.op(0xa0, std::uint8_t{0});
    a.label("p_next").op(0xe6, std::uint8_t{0xfb}).branch(0xd0, "p_read").op(0xe6, std::uint8_t{0xfc});
    a.label("p_read").op(0xb1, std::uint8_t{0xfb}).branch(0xf0, "p_back").op(0x20, kChrout).op(0x4c, "p_next");
    a.label("p_back").op(0xa5, std::uint8_t{0xfc}).op(kPha).op(0xa5, std::uint8_t{0xfb}).op(kPha).op(kRts);
    a.label("slow_counted");
    pull_return_address(a);
    wait("wait_counted");
    a.op(0xa0, std::uint8_t{1}).op(0xb1, std::uint8_t{0xfb}).op(0x85, std::uint8_t{0xfd});
    a.label("q_next").op(kIny).op(0xb1, std::uint8_t{0xfb}).op(0x20, kChrout);
    a.op(0xc6, std::uint8_t{0xfd}).branch(0xd0, "q_next");
    a.op(kTya).op(kClc).op(0x65, std::uint8_t{0xfb}).op(kTax);
    a.op(0xa5, std::uint8_t{0xfc}).op(0x69, std::uint8_t{0}).op(kPha).op(kTxa).op(kPha).op(kRts);
    const Image& image = a.done();

    const MemoryMap map = trace(image, a["start"]);
    // The model could not run them all.
    const InlineRoutine& printing = map.inline_calls.routines.at(a["slow_print"]);
    const InlineRoutine& counting = map.inline_calls.routines.at(a["slow_counted"]);
    EXPECT_GT(printing.model_steps + counting.model_steps, 0u);
    EXPECT_LT((printing.model_steps + counting.model_steps) / 40'000, 2u * kCalls);
    for (int i = 0; i < kCalls; ++i) {
        SCOPED_TRACE(i);
        const std::string n = std::to_string(i);
        std::vector<Kind> text(words[static_cast<std::size_t>(i)].size(), T);
        text.push_back(B);
        expect_data(map, a["call" + n] + 3, a["counted" + n], text);
        EXPECT_TRUE(map.is_opcode(a["counted" + n]));
        const std::uint32_t next = i + 1 < kCalls ? a["call" + std::to_string(i + 1)] : a["after"];
        std::vector<Kind> counted(static_cast<std::size_t>(1 + i % 5), T);
        counted.insert(counted.begin(), B);
        expect_data(map, a["counted" + n] + 3, next, counted);
        EXPECT_TRUE(map.is_opcode(next));
    }
}

}  // namespace

namespace {

// Prints the text after the call through an operand it writes, then
// returns past the text through a `jmp $0000` whose operand it computes.
void print_patched_jump(Asm& a) {
    a.label("print_patched").op(kPla).op(0x8d, "j_read_low").op(kPla).op(0x8d, "j_read_high");  // pla / sta / pla / sta
    a.op(0xa2, std::uint8_t{1});                                                                 // ldx #1
    a.label("j_read").op(0xbd, std::uint16_t{0xdead}).branch(0xf0, "j_end");                    // lda $dead,x / beq
    a.op(0x20, kChrout).op(0xe8).branch(0xd0, "j_read");                                         // jsr / inx / bne
    a.label("j_end").op(0x38).op(kTxa).op(0x6d, "j_read_low").op(0x8d, "j_back_low");           // sec / txa / adc / sta
    a.op(0xa9, std::uint8_t{0}).op(0x6d, "j_read_high").op(0x8d, "j_back_high");                // lda #0 / adc / sta
    a.label("j_back").op(0x4c, std::uint16_t{0});                                               // jmp $0000
    a.label("j_read_low", a["j_read"] + 1).label("j_read_high", a["j_read"] + 2);
    a.label("j_back_low", a["j_back"] + 1).label("j_back_high", a["j_back"] + 2);
}

// The same, returning through `jmp ($fb)` with the pointer moved past the
// text.
void print_indirect_jump(Asm& a) {
    a.label("print_indirect");
    pull_return_address(a);
    a.op(0xa0, std::uint8_t{0});                                                     // ldy #0
    a.label("i_next").op(0xe6, std::uint8_t{0xfb}).branch(0xd0, "i_read").op(0xe6, std::uint8_t{0xfc});
    a.label("i_read").op(0xb1, std::uint8_t{0xfb}).branch(0xf0, "i_end");           // lda ($fb),y / beq
    a.op(0x20, kChrout).op(0x4c, "i_next");
    a.label("i_end").op(0xe6, std::uint8_t{0xfb}).branch(0xd0, "i_back").op(0xe6, std::uint8_t{0xfc});
    a.label("i_back").op(0x6c, std::uint16_t{0x00fb});                              // jmp ($fb)
}

}  // namespace

// Routines that return past their text by a jump rather than rts: through
// a jmp whose operand they wrote, and through a pointer. The trace goes on
// after each call's text, also into a routine only the code after it
// calls; the same with the routines placed before their callers.
TEST(InlineData, ReturnedThroughAJump) {
    for (const bool routines_first : {false, true}) {
        SCOPED_TRACE(routines_first);
        Asm a(0xc000);
        const auto routines = [&a] {
            print_patched_jump(a);
            print_indirect_jump(a);
        };
        if (routines_first) routines();
        a.label("start").op(0x20, "print_patched").text("patched").bytes({0});
        a.label("second").op(0x20, "print_indirect").text("pointer").bytes({0x0d, 0});
        a.label("third").op(0x20, "print_patched").text("again").bytes({0});
        a.label("after").op(0x20, "late").op(kRts);
        if (!routines_first) routines();
        a.label("late").op(0xa9, std::uint8_t{1}).op(kRts);
        const Image& image = a.done();
        const MemoryMap map = trace(image, a["start"]);
        std::vector<Kind> patched(7, T);
        patched.push_back(B);
        expect_data(map, a["start"] + 3, a["second"], patched);
        std::vector<Kind> pointer(7, T);
        pointer.insert(pointer.end(), {B, B});
        expect_data(map, a["second"] + 3, a["third"], pointer);
        expect_data(map, a["third"] + 3, a["after"], {T, T, T, T, T, B});
        EXPECT_TRUE(map.is_opcode(a["after"]));
        EXPECT_TRUE(map.is_opcode(a["late"]));
        EXPECT_EQ(map.inline_calls.routines.at(a["print_patched"]).form, InlineForm::ZeroTerminated);
        EXPECT_EQ(map.inline_calls.routines.at(a["print_indirect"]).form, InlineForm::ZeroTerminated);
    }
}
