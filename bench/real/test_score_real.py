#!/usr/bin/env python3
"""Tests of score_real.py: the ground truth it reads from 64tass's listing,
ACME's report and ld65's debug file, and the counting. The listings here
are small ones made for the tests. Run as python3 bench/real/test_score_real.py"""
import os
import stat
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import score_real  # noqa: E402


def rows(pieces):
    """(address, size, kind) of each Piece."""
    return [(p.address, p.size, p.kind) for p in pieces]


# A 64tass listing with line numbers and a logical address column: a word,
# two instructions, text over two rows, an included binary in another file,
# an instruction moved with .logical, a label row and an assignment.
TASS_WITH_PC = "\n".join([
    "",
    "; 64tass Turbo Assembler Macro V1.58 listing file",
    ";Line\t;Offset\t;PC\t;Hex\t\t;Monitor\t;Source",
    "",
    ":1\t;******  Processing input file: main.asm",
    "",
    "3\t>c000\t\t04 c0\t\t\t\t\t.word go",
    "4\t.c002\t\ta2 00\t\tldx #$00\tgo\tldx #0",
    "\t.c004\t\t60\t\trts\t\t\trts",
    "7\t>c005\t\t68 65 6c 6c 6f 20 74 68\t\tmsg\t.text \"hello there, world\"",
    "\t>c00d\t\t65 72 65 2c 20 77 6f 72 6c 64",
    ":2\t;******  Processing file: \"parts\\\\tune.asm\"",
    "2\t>c017\t\t01 02 03 04\t\t\t.binary \"tune.bin\"",
    ":1\t;******  Return to file: main.asm",
    "9\t.c01b\t1000\tad 00 10\tlda $1000\tmoved\tlda moved",
    "10\t.c01e\t\t\t\t\t\tab",
    "11\t=$05\t\t\t\t\t\tfive = 5",
    "",
    ";******  End of listing",
])

# The same kind of rows without line numbers and without the logical column.
TASS_PLAIN = "\n".join([
    ";Offset\t;Hex\t\t;Monitor\t;Source",
    ";******  Processing input file: t.asm",
    ">0801\t0b 08 0a 00\t\t\t.word next, 10",
    ".080d\ta9 00\t\tlda #$00\tstart\tlda #0",
    ".080f\t\t\t\tbe",
    ">0810\tea ea ea\t\t\t.fill 3, $ea",
    ">0813\t01\t\t\t\t.byte 1 ; made with .binary once",
])


class Tass(unittest.TestCase):
    def test_rows_with_a_logical_address_column(self):
        pieces = score_real.parse_64tass(TASS_WITH_PC, "m.lst")
        self.assertEqual(rows(pieces), [(0xc000, 2, "data"), (0xc002, 2, "code"), (0xc004, 1, "code"),
                                        (0xc005, 8, "data"), (0xc00d, 10, "data"), (0xc017, 4, "binary"),
                                        (0xc01b, 3, "code")])
        self.assertEqual(pieces[6].shown, [0xad, 0x00, 0x10])  # the output, not the logical address
        self.assertEqual([p.source for p in pieces], ["main.asm"] * 5 + ["tune.asm", "main.asm"])
        self.assertEqual(pieces[5].where, "m.lst:13 (tune.asm)")

    def test_rows_without_line_numbers_or_logical_column(self):
        pieces = score_real.parse_64tass(TASS_PLAIN, "t.lst")
        # the label "be" reads like a byte, but sits in the source column
        self.assertEqual(rows(pieces), [(0x0801, 4, "data"), (0x080d, 2, "code"), (0x0810, 3, "data"),
                                        (0x0813, 1, "data")])

    def test_a_continuation_row_after_an_instruction_is_refused(self):
        text = ".1000\ta9 00\t\tlda #$00\t\tlda #0\n>1002\t01 02\n"
        with self.assertRaisesRegex(score_real.ListingError, "t.lst:2: a data row that continues"):
            score_real.parse_64tass(text, "t.lst")


def acme_line(number, address=None, digits="", text=""):
    """One line of ACME's report: number, address and bytes (cut off with
    "..." after 8), the source from column 32."""
    shown = "" if address is None else "%04x %s" % (address, digits[:16] + ("..." if len(digits) > 16 else ""))
    return ("%6d  %-23s" % (number, shown)).ljust(32) + text


class Acme(unittest.TestCase):
    def test_kinds_and_sizes(self):
        report = "\n".join([
            "; ******** Source: main.a",
            acme_line(1, text="\t* = $1000"),
            acme_line(2, 0x1000, "a900", "start\tlda #0"),
            acme_line(3, 0x1002, "0102030405060708090a", "\t!byte 1,2,3,4,5,6,7,8,9,10"),
            acme_line(4, 0x100c, "60", "\trts"),
            acme_line(5, 0x100d, "eaea", "\t+twice"),
            acme_line(6, 0x100f, "4142434445464748494a", "\t!bin \"x.bin\""),
            acme_line(7, text="\t* = $0f00"),
            acme_line(8, 0x0f00, "ea", "\tnop"),
        ])
        pieces = score_real.parse_acme(report)
        # the cut-off !byte line owns up to the next higher address a line
        # starts at ($100c), the last cut-off line up to the end of the image
        self.assertEqual(rows(pieces), [(0x1000, 2, "code"), (0x1002, 10, "data"), (0x100c, 1, "code"),
                                        (0x100d, 2, "unknown"), (0x100f, None, "binary"), (0x0f00, 1, "code")])
        self.assertEqual(pieces[1].where, "main.a:3")
        self.assertEqual(pieces[1].source, "main.a")

    def test_statement_kinds(self):
        for statement, dialect, kind in [
                ("lda #1", "acme", "code"), ("label lax $10", "acme", "code"), ("!pet \"a\"", "acme", "data"),
                ("!binary \"x\"", "acme", "binary"), ("+macro 1", "acme", "other"), ("!zone x", "acme", "other"),
                ("stmdsp .word end-1", "ca65", "data"), (".BYTE 1", "ca65", "data"), (".res 3", "ca65", "data"),
                (".incbin \"x\"", "ca65", "binary"), (".segment \"CODE\"", "ca65", "other"),
                ("mymacro 1, 2", "ca65", "other"), ("label", "ca65", None)]:
            with self.subTest(statement):
                self.assertEqual(score_real.statement_kind(statement, dialect), kind)

    def test_line_kinds(self):
        self.assertEqual(score_real.line_kind("loop: dex ; count: down", "ca65"), "code")
        self.assertEqual(score_real.line_kind("\tnop : !byte 1", "acme"), "unknown")
        self.assertEqual(score_real.line_kind("x !text \"a:b\" ; c", "acme"), "data")


# ld65's debug file: LOBASIC written to a file, ZP not; span 3 is a scope's
# span (no line emitted it); span 2 came from a macro: its invocation line
# (type 0) and the line of the macro's body (type 2) both name it.
DBG = "\n".join([
    'version\tmajor=2,minor=0',
    'file\tid=0,name="main.s",size=10,mtime=0x0,mod=0',
    'file\tid=1,name="inc/macros.s",size=10,mtime=0x0,mod=0',
    'seg\tid=0,name="ZP",start=0x000002,size=0x0002,addrsize=zeropage,type=rw',
    'seg\tid=1,name="LOBASIC",start=0x00A000,size=0x0008,addrsize=absolute,type=ro,oname="rom.bin",ooffs=0',
    'span\tid=0,seg=1,start=0,size=2',
    'span\tid=1,seg=1,start=2,size=3',
    'span\tid=2,seg=1,start=5,size=1',
    'span\tid=3,seg=1,start=0,size=6',
    'span\tid=4,seg=0,start=0,size=2',
    'line\tid=0,file=0,line=2,span=0',
    'line\tid=1,file=0,line=3,span=1',
    'line\tid=2,file=0,line=4,span=2',
    'line\tid=3,file=1,line=2,type=2,count=1,span=2',
    'line\tid=4,file=0,line=1,span=4',
    'scope\tid=0,name="",mod=0,size=6,span=3',
])
MAIN_S = "ptr\t.res 2\nstart\tlda #0\ntab\t.byt 1,2,3\n\tcount 1\n"
MACROS_S = ".macro count n\n\tinx\n.endmacro\n"


class Ca65(unittest.TestCase):
    def test_spans_with_the_lines_that_emitted_them(self):
        with tempfile.TemporaryDirectory() as sources:
            os.makedirs(os.path.join(sources, "inc"))
            for name, text in [("main.s", MAIN_S), ("inc/macros.s", MACROS_S)]:
                with open(os.path.join(sources, name), "w") as f:
                    f.write(text)
            pieces = score_real.parse_ca65(DBG, sources)
        self.assertEqual(rows(pieces), [(0xa000, 2, "code"), (0xa002, 3, "data"), (0xa005, 1, "code")])
        self.assertEqual([p.where for p in pieces], ["main.s:2", "main.s:3", "inc/macros.s:2"])

    def test_a_missing_source_is_an_error(self):
        with tempfile.TemporaryDirectory() as sources:
            with self.assertRaisesRegex(score_real.ListingError, "cannot read a source"):
                score_real.parse_ca65(DBG, sources)


class GroundTruth(unittest.TestCase):
    def test_moved_listing_addresses_and_bytes_outside_the_image(self):
        # a PSID-like file: a header at $0000, the player listed from $007e
        # but loaded at $1000
        pieces = [score_real.Piece(0x0000, 4, "data", "h", b"PSID"),
                  score_real.Piece(0x007e, 3, "code", "c", [0x4c, 0x03, 0x10]),
                  score_real.Piece(0x0081, 1, "data", "d", [0x60])]
        owner = score_real.ground_truth(pieces, 0x1000, bytes([0x4c, 0x03, 0x10, 0x60]), (0x007e, 0x1000))
        self.assertEqual({a: p.where for a, p in owner.items()}, {0x1000: "c", 0x1001: "c", 0x1002: "c", 0x1003: "d"})

    def test_a_later_line_writing_the_same_address_wins(self):
        pieces = [score_real.Piece(0x1000, 3, "data", "first", [1, 2, 3]),
                  score_real.Piece(0x1001, 1, "code", "second", [0xea])]
        owner = score_real.ground_truth(pieces, 0x1000, bytes([1, 0xea, 3]))
        self.assertEqual([owner[a].where for a in range(0x1000, 0x1003)], ["first", "second", "first"])

    def test_a_byte_that_differs_from_the_file_is_refused(self):
        pieces = [score_real.Piece(0x1000, 2, "code", "x.lst:7", [0xa9, 0x00])]
        with self.assertRaisesRegex(score_real.ListingError, r"x.lst:7: the listing shows \$00 at \$1001, "
                                                             r"the file has \$01 \(1 bytes differ\)"):
            score_real.ground_truth(pieces, 0x1000, bytes([0xa9, 0x01]))

    def test_a_size_to_the_end_of_the_image(self):
        owner = score_real.ground_truth([score_real.Piece(0x1001, None, "binary", "b", [7])], 0x1000,
                                        bytes([0, 7, 8, 9]))
        self.assertEqual(sorted(owner), [0x1001, 0x1002, 0x1003])


FAKE_TOLVEK = """\
#!/usr/bin/env python3
import sys
args = sys.argv[1:]
image = args[args.index("-t") + 1]
with open(image[:-4] + ".args", "w") as f:
    f.write(" ".join(args[:-2]))
with open(image[:-4] + ".lst", "w") as f:
    f.write('''; header
2000  a9 00                            lda #$00                ; entry
2002  60 01                            !byte $60,$01
2004  02 03 ea                         !byte $02,$03,$ea
''')
"""

# The program: lda #0, rts, two data bytes, two bytes from an included
# binary, a nop from a file the .info leaves out, one byte no line emitted.
PROGRAM_LISTING = "\n".join([
    ";Offset\t;Hex\t\t;Monitor\t;Source",
    ";******  Processing input file: p.asm",
    ".2000\ta9 00\t\tlda #$00\t\tlda #0",
    ".2002\t60\t\trts\t\trts",
    ">2003\t01 02\t\t\t.byte 1, 2",
    ">2005\t03 ea\t\t\t.binary \"b.bin\"",
    ";******  Processing file: old.asm",
    ".2007\tea\t\tnop\t\tnop",
])


def score_with_fake_tolvek(info_lines, options=()):
    """score_real.score on PROGRAM_LISTING with FAKE_TOLVEK: (counts, its arguments)."""
    with tempfile.TemporaryDirectory() as work:
        tolvek = os.path.join(work, "Tolvek.exe")
        with open(tolvek, "w") as f:
            f.write(FAKE_TOLVEK)
        os.chmod(tolvek, os.stat(tolvek).st_mode | stat.S_IXUSR)
        programs = os.path.join(work, "programs")
        os.mkdir(programs)
        with open(os.path.join(programs, "p.prg"), "wb") as f:
            f.write(bytes([0x00, 0x20, 0xa9, 0x00, 0x60, 0x01, 0x02, 0x03, 0xea, 0xea, 0x00]))
        with open(os.path.join(programs, "p.lst"), "w") as f:
            f.write(PROGRAM_LISTING)
        with open(os.path.join(programs, "p.info"), "w") as f:
            f.write("\n".join(info_lines) + "\n")
        counts, _, _ = score_real.score(tolvek, score_real.read_info(os.path.join(programs, "p.info")), work,
                                        options)
        with open(os.path.join(work, "p.args")) as f:
            return counts, f.read()


class Counting(unittest.TestCase):
    def test_bytes_are_counted_by_what_the_listing_shows(self):
        counts, args = score_with_fake_tolvek(["listing: 64tass", "unscored: old.asm  # never used"])
        # code: lda #0 (as code), rts (shown as data); data: 1 (as data),
        # 2 (shown as data); binary 2; other: the nop of old.asm; no line: 1.
        self.assertEqual(counts, [3, 2, 2, 2, 2, 1, 1])
        self.assertEqual(args, "-w -c6502 -o8192 -e8192")

    def test_the_entry_of_the_info_and_more_options(self):
        counts, args = score_with_fake_tolvek(["listing: 64tass", "entry: $2002"], ["--run-cycles", "0"])
        self.assertEqual(counts, [4, 2, 2, 2, 2, 0, 1])
        self.assertEqual(args, "-w -c6502 -o8192 -e8194 --run-cycles 0")

    def test_an_info_without_a_known_listing_is_refused(self):
        with self.assertRaisesRegex(score_real.ListingError, "'listing:' must be 64tass, acme or ca65"):
            score_with_fake_tolvek(["listing: dasm"])

    def test_bad_programs_stop_with_one_message(self):
        cases = [("no program file", "listing: 64tass\n", None, "No such file"),
                 ("an entry that is no number", "listing: acme\nentry: $zz\n", bytes([0, 0x10, 0xea]),
                  "invalid literal")]
        for name, info_text, program, message in cases:
            with self.subTest(name), tempfile.TemporaryDirectory() as work:
                with open(os.path.join(work, "p.info"), "w") as f:
                    f.write(info_text)
                with open(os.path.join(work, "p.report"), "w") as f:
                    f.write("")
                if program is not None:
                    with open(os.path.join(work, "p.prg"), "wb") as f:
                        f.write(program)
                with self.assertRaises(SystemExit) as stop:
                    score_real.main(["/bin/true", os.path.join(work, "p.info")])
                self.assertRegex(str(stop.exception.code), r"^score_real\.py: .*p\.info: .*" + message)

    def test_stretches_shown_the_wrong_way_round(self):
        code, data, other = (score_real.Piece(0, 1, kind, kind) for kind in ("code", "data", "binary"))
        owner = {0x10: code, 0x11: code, 0x12: code, 0x13: other, 0x14: data, 0x15: data}
        shown = {0x10: "code", 0x11: "data", 0x14: "code"}
        self.assertEqual(score_real.wrong_stretches(owner, shown),
                         [[0x11, 0x12, "code", code], [0x14, 0x15, "data", data]])


if __name__ == "__main__":
    unittest.main()
