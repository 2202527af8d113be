// Source you can edit: a program built at two origins; its disassembly of
// the first build, with only the origin changed, must give the second build,
// in every dialect. Each way a program keeps an address as data is in it,
// next to numbers that look like addresses and must not move.
#include <gtest/gtest.h>

#include <cstdio>

#include "support.hpp"

using namespace tolvek_test;

namespace {

// ORIGIN is replaced by the load address; the BASIC line's SYS number stays
// the same length at both.
const char* const kProgram = R"(
	* = ORIGIN
	!word line2, 10
	!byte $9e
	!text SYSNUMBER
	!byte 0
line2	!word 0
start	sei
	lda #<irq		; the IRQ handler, installed through the vector
	sta $0314
	lda #>irq
	sta $0315
	cli
	lda #<text		; a pointer in A and X for a call
	ldx #>text
	jsr print
	lda #<table		; a pointer stored into zero page
	sta $fb
	lda #>table
	sta $fc
	ldy #3
	lda ($fb),y
	lda #>(job-1)		; the rts trick with immediates
	pha
	lda #<(job-1)
	pha
	rts
job	lda $fb			; pointer arithmetic
	clc
	adc #<words
	sta $fb
	lda $fc
	adc #>words
	sta $fc
	ldx #1
	lda words,x		; a table of addresses read as pointers
	sta $fd
	lda words+1,x
	sta $fe
	lda split_lo,x		; split tables, jumped through
	sta $fb
	lda split_hi,x
	sta $fc
	jmp ($00fb)
print	sta $fb
	stx $fc
	ldy #0
-	lda ($fb),y
	beq +
	jsr $ffd2
	iny
	bne -
+	lda #$08		; numbers, not addresses
	ldx #$08
	sta buffer		; the program's own memory after its end
	sta buffer+5,x
	sta $0400		; fixed places stay
	sta $2000,x
	sta $d020
	rts
irq	inc $d020
	jmp $ea31
one	rts
two	nop
	rts
text	!pet "hello", 0
table	!byte 1, 2, 3, 4
words	!word text, table, one
split_lo	!byte <one, <two
split_hi	!byte >one, >two
colours	!byte $08, $09, $0a, $0b	; a colour table that looks like an address
buffer
)";

// `text` with every `from` replaced by `to`.
std::string replaced(std::string text, const std::string& from, const std::string& to) {
    for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
        text.replace(at, from.size(), to);
    }
    return text;
}

std::string build_at(std::uint32_t origin) {
    char hex[8];
    std::snprintf(hex, sizeof hex, "$%04x", origin);
    // SYS to the start label: the same number of digits at both origins.
    return replaced(replaced(kProgram, "ORIGIN", hex), "SYSNUMBER", "\"" + std::to_string(origin + 12) + "\"");
}

class Relocation : public ::testing::TestWithParam<std::string> {
protected:
    void SetUp() override {
        if (!have_acme() || !have_assembler(GetParam())) GTEST_SKIP() << "assembler missing";
    }
    ScratchDir dir;
};

TEST_P(Relocation, TheSourceMovesWithItsOrigin) {
    const std::vector<std::uint8_t> first = assemble(dir, build_at(0x0801));
    const std::vector<std::uint8_t> second = assemble(dir, build_at(0x1001));
    ASSERT_EQ(first.size(), second.size());
    const std::string source = round_trip(dir, 0x0801, 0x0801 + 12, {first.begin() + 2, first.end()}, GetParam());

    // Each way of keeping an address, written with a label.
    const std::string word = spelled(GetParam(), {"!word ", ".word ", ".word ", "dc.w ", ".word "});
    const std::string byte = spelled(GetParam(), {"!byte ", ".byte ", ".byte ", "dc.b ", ".byt "});
    for (const std::string& expected :
         {std::string("lda #<irq"), std::string("lda #>irq"), std::string("lda #<D"), std::string("ldx #>D"),
          std::string("lda #>(L"), std::string("-1)"), std::string("adc #<D"), std::string("adc #>D"),
          word + "D", byte + "<L", byte + ">L", std::string("sta D0"), std::string("+5,x")}) {
        EXPECT_NE(source.find(expected), std::string::npos) << expected << "\n" << source;
    }
    // The handler installed through $0314 is code with a label, named for
    // what it is.
    EXPECT_NE(source.find("inc EXTCOL"), std::string::npos) << source;
    // Numbers and fixed places stay numbers.
    for (const char* number : {"lda #$08", "ldx #$08", "sta VICSCN\n", "sta $2000,x", "$08,$09,$0a,$0b"}) {
        EXPECT_NE(source.find(number), std::string::npos) << number << "\n" << source;
    }

    // Moved to $1001 and rebuilt, it is the second build, byte for byte.
    std::string moved = source;
    // The origin, and the load address where the source states it.
    const std::string origin = spelled(GetParam(), {"\t* = $0801\n", "\t* = $0801\n", "\t.word $0801\n\t.org $0801\n",
                                                    "\torg $0801\n", "\t.word $0801\n\t* = $0801\n"});
    const std::size_t at = moved.find(origin);
    ASSERT_NE(at, std::string::npos);
    moved.replace(at, origin.size(), replaced(origin, "$0801", "$1001"));
    write_text(dir / "image.asm", moved);
    const std::string marker = "; rebuild with ";
    const std::size_t from = moved.find(": ", moved.find(marker)) + 2;
    const Result build = run_in(dir.path(), moved.substr(from, moved.find('\n', from) - from));
    ASSERT_EQ(build.status, 0) << build.err;
    const std::vector<std::uint8_t> rebuilt = read_bytes(dir / "image-rebuilt.prg");
    ASSERT_EQ(rebuilt.size(), second.size());
    for (std::size_t i = 0; i < second.size(); ++i) {
        // The SYS digits are a number in the text of the BASIC line.
        if (i >= 2 + 5 && i < 2 + 9) continue;
        EXPECT_EQ(rebuilt[i], second[i]) << "at offset " << i << "\n" << moved;
        if (rebuilt[i] != second[i]) break;
    }
}

INSTANTIATE_TEST_SUITE_P(Dialects, Relocation, ::testing::ValuesIn(kDialectNames),
                         [](const ::testing::TestParamInfo<std::string>& param) { return test_name(param.param); });

}  // namespace
