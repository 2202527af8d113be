#!/usr/bin/env python3
"""Tests of score_labels.py: one small program, written for 64tass and for
ACME with the same bytes, against listings of Tolvek's made up for the
tests. Run as python3 bench/real/test_score_labels.py"""
import os
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import score_labels  # noqa: E402
from score_real import read_info  # noqa: E402

# $1000 lda #count (a constant), ldx #<table, ldy #>table (an address),
# rts, .byte 7 (a number), table .word start (an address), $1234 (a number)
IMAGE = bytes([0xa9, 0x10, 0xa2, 0x08, 0xa0, 0x10, 0x60, 0x07, 0x00, 0x10, 0x34, 0x12])

TASS = {
    ".lst": "\n".join([
        ";Offset\t;Hex\t\t;Monitor\t;Source",
        ";******  Processing input file: t.asm",
        ".1000\ta9 10\t\tlda #$10\tstart\tlda #count",
        ".1002\ta2 08\t\tldx #$08\t\tldx #<table",
        ".1004\ta0 10\t\tldy #$10\t\tldy #>table",
        ".1006\t60\t\trts\t\t\trts",
        ">1007\t07\t\t\t\t.byte 7",
        ">1008\t00 10 34 12\t\ttable\t.word start, $1234",
    ]),
    ".sym": "count\t\t= $10\nstart\t\t= $1000\ntable\t\t= $1008\n",
    ".info": "listing: 64tass\n",
}


def acme_line(number, address, digits, text):
    return ("%6d  %-23s" % (number, "%04x %s" % (address, digits))).ljust(32) + text


ACME = {
    ".report": "\n".join([
        "; ******** Source: t.a",
        ("%6d" % 1).ljust(32) + "count = $10",
        acme_line(2, 0x1000, "a910", "start\tlda #count"),
        acme_line(3, 0x1002, "a208", "\tldx #<table"),
        acme_line(4, 0x1004, "a010", "\tldy #>table"),
        acme_line(5, 0x1006, "60", "\trts"),
        acme_line(6, 0x1007, "07", "\t!byte 7"),
        acme_line(7, 0x1008, "00103412", "table\t!word start, $1234"),
    ]),
    ".sym": "\tcount\t= $10\n\tstart\t= $1000\n\ttable\t= $1008\n",
    ".info": "listing: acme\n",
}


def tolvek(*rows):
    """A listing of Tolvek's, in its columns: the rows for $1000-$1005
    given, the data fixed."""
    fixed = (0x1006, "60", "rts"), (0x1007, "07", "!byte $07"), (0x1008, "00 10 34 12", "!word L1000,$1234")
    return ["%04x  %-23s          %s\n" % row for row in rows + fixed]


RIGHT = (0x1000, "a9 10", "lda #$10"), (0x1002, "a2 08", "ldx #<D1008"), (0x1004, "a0 10", "ldy #>D1008")

# (what, Tolvek's rows for $1000-$1005, counts that must come out)
CASES = [
    ("all right", RIGHT,
     dict(items=6, labels=3, const_as_label=0, src_addr=3, addr_as_label=3, addr_as_number=0, src_const=3)),
    ("a constant as a label", ((0x1000, "a9 10", "lda #>L1000"),) + RIGHT[1:],
     dict(labels=4, const_as_label=1, addr_as_label=3)),
    ("an address as a number", RIGHT[:2] + ((0x1004, "a0 10", "ldy #$10"),),
     dict(labels=2, const_as_label=0, addr_as_label=2, addr_as_number=1)),
    ("a half of another address", RIGHT[:2] + ((0x1004, "a0 10", "ldy #>D10ff"),),
     dict(labels=3, label_wrong_addr=1, addr_as_label=3)),
]


def program(files):
    """The program of IMAGE with the assembler's files of one dialect."""
    with tempfile.TemporaryDirectory() as corpus:
        with open(os.path.join(corpus, "t.prg"), "wb") as f:
            f.write(b"\x00\x10" + IMAGE)
        for ext, text in files.items():
            with open(os.path.join(corpus, "t" + ext), "w") as f:
                f.write(text)
        return score_labels.Program(read_info(os.path.join(corpus, "t.info")))


class Labels(unittest.TestCase):
    def check(self, files):
        prog = program(files)
        for what, rows, want in CASES:
            with self.subTest(what):
                counts, cases, wrong, _ = score_labels.compare(prog, tolvek(*rows))
                self.assertEqual({k: counts[k] for k in want}, want)
                self.assertEqual(len(cases), counts["const_as_label"])
                self.assertEqual(len(wrong), counts["label_wrong_addr"])
        return prog

    def test_64tass_listing_and_symbol_list(self):
        prog = self.check(TASS)
        self.assertEqual(prog.bytes[0x1001][:2], ("imm", "C"))
        self.assertEqual(prog.bytes[0x1008][:2], ("data", "A"))

    def test_acme_report_and_symbol_list(self):
        self.check(ACME)

    def test_classes_of_expressions(self):
        prog = program(TASS)
        for expr, part, emitted, want in [
                ("#count", "byte", 0x10, "C"), ("#<table", "byte", 0x08, "A"), ("#>table+1", "byte", 0x10, "A"),
                ("table-start", "byte", 8, "C"), ("#$d0", "byte", 0xd0, "N"), ("'a'", "byte", 0x61, "N"),
                ("$d020", "word", 0xd020, "N"), ("start", "word", 0x1000, "A"), ("table+4", "word", 0x100c, "A"),
                ("count*$100", "word", 0x1000, "E"),
                ("#<missing", "byte", 0, "U"), ("#<table", "byte", 0x09, "U")]:
            with self.subTest(expr):
                self.assertEqual(prog.classify(expr, part, 0x1000, emitted)[0], want)


if __name__ == "__main__":
    unittest.main()
