#!/usr/bin/env python3
"""Tests of score_asm.py: the ground truth it takes from ACME's report, the
entry it passes, and the counting. Needs acme; run as
python3 bench/coverage/test_score_asm.py"""
import os
import stat
import sys
import tempfile
import textwrap
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import score_asm  # noqa: E402


def assemble(text, work):
    path = os.path.join(work, "t.a")
    with open(path, "w") as f:
        f.write(textwrap.dedent(text))
    return score_asm.assemble(path, work)


def truth_of(text):
    """Address -> kind for a source, and its load address and image."""
    with tempfile.TemporaryDirectory() as work:
        load, image, lines = assemble(text, work)
    owner = score_asm.ground_truth(lines, load, image)
    return {a: kind for a, (kind, _) in owner.items()}, load, image


def kinds(spans):
    """{address: kind} from (first, count, kind) spans."""
    return {a: kind for first, count, kind in spans for a in range(first, first + count)}


class GroundTruth(unittest.TestCase):
    def test_instructions_and_directives_give_code_and_data(self):
        truth, load, image = truth_of("""\
            !cpu 6510
            	* = $1000
            start	ldx #0                  ; comment: with 'quote and colon
            -	lda text,x
            	beq +
            	inx : inx
            	bne -
            +	rts
            only_label
            	!byte 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11
            text	!pet "a longer text than eight", 0
            	lax $10
            	lda+2 $0012
            value = 5
            	!word value, start
            """)
        self.assertEqual(load, 0x1000)
        self.assertEqual(len(truth), len(image))
        self.assertEqual(truth, kinds([(0x1000, 12, "code"), (0x100c, 11, "data"), (0x1017, 25, "data"),
                                       (0x1030, 5, "code"), (0x1035, 4, "data")]))

    def test_last_line_cut_off_by_the_report_runs_to_the_end(self):
        truth, load, image = truth_of("""\
            	* = $2000
            	rts
            	!fill 20, $ea
            """)
        self.assertEqual(truth, kinds([(0x2000, 1, "code"), (0x2001, 20, "data")]))

    def test_a_cut_off_line_followed_by_a_new_origin_is_refused(self):
        with self.assertRaisesRegex(score_asm.ReportError, r"t\.a:2: the report cuts"):
            truth_of("""\
                	* = $2000
                	!fill 20, 1
                	* = $2020
                	rts
                """)

    def test_a_gap_left_by_the_origin_is_refused(self):
        with self.assertRaisesRegex(score_asm.ReportError, r"\$2001-\$2003: 3 bytes"):
            truth_of("""\
                	* = $2000
                	rts
                	* = $2004
                	rts
                """)

    def test_lines_that_may_mix_code_and_data_are_refused(self):
        cases = {
            "macro": """\
                !macro twice { nop : !byte 1 }
                	* = $2000
                	+twice
                """,
            "loop": """\
                	* = $2000
                	!for i, 0, 1 {
                	nop
                	}
                """,
            "mixed line": """\
                	* = $2000
                	nop : !byte 1
                """,
        }
        for name, text in cases.items():
            with self.subTest(name):
                with self.assertRaisesRegex(score_asm.ReportError, "cannot tell"):
                    truth_of(text)

    def test_statement_kinds(self):
        for statement, kind in [("lda+2 $12", "code"), ("LDA #1", "code"), ("label lax $10", "code"),
                                ("- bne -", "code"), ("+ rts", "code"), ("!by 1", "data"),
                                ("x !scr \"ab\"", "data"), ("!align 3, 0, 0", "data"),
                                ("+macro 1", "other"), ("* = $1000", "other"), ("x = 1", "other"),
                                ("!zone {", "other"), ("a b c", "other"), ("label", None)]:
            with self.subTest(statement):
                self.assertEqual(score_asm.statement_kind(statement), kind)

    def test_statements_split_at_colons_outside_quotes_and_comments(self):
        self.assertEqual(score_asm.split_statements("x !pet \"a:b;c\" : nop ; d:e"),
                         ["x !pet \"a:b;c\"", "nop"])

    def test_an_unknown_report_line_is_refused(self):
        with self.assertRaisesRegex(score_asm.ReportError, "unexpected line"):
            score_asm.parse_report("     1  1000 zz                  nop\n")
        with self.assertRaisesRegex(score_asm.ReportError, "unexpected line"):
            score_asm.parse_report("     1  1000 a9 00               lda #0\n")

    def test_a_report_byte_that_differs_from_the_file_is_refused(self):
        lines = score_asm.parse_report("%6d  %04x %-19s%s" % (1, 0x1000, "a900", "\tlda #0"))
        with self.assertRaisesRegex(score_asm.ReportError, r"shows \$00 at \$1001, the file has \$01"):
            score_asm.ground_truth(lines, 0x1000, bytes([0xa9, 0x01]))


class Entry(unittest.TestCase):
    LOAD = 0x0801

    def entry(self, text):
        return score_asm.entry_of(text, self.LOAD)

    def test_the_last_sys_at_or_above_the_load_address(self):
        self.assertEqual(self.entry(b"\x9e2061\x00\x9e 2 100\x00"), 2100)
        self.assertEqual(self.entry(b"\x9e2061\x00\x9e2000\x00"), 2061)
        self.assertEqual(self.entry(b"\x9e2049\x00"), 2049)

    def test_numbers_closed_by_anything_but_a_digit_or_space(self):
        self.assertEqual(self.entry(b"\x9e2061\x00\x9e(2100)\x00"), 2061)
        self.assertEqual(self.entry(b"\x9e2000\xaa100\x00"), self.LOAD)
        self.assertEqual(self.entry(b"\x9e2061"), self.LOAD)  # never closed

    def test_the_load_address_without_sys(self):
        self.assertEqual(self.entry(b"2061\x00"), self.LOAD)


FAKE_TOLVEK = """\
#!/usr/bin/env python3
import sys
args = sys.argv[1:]
image = args[args.index("-t") + 1]
with open(image[:-4] + ".args", "w") as f:
    f.write(" ".join(args[:-2]))
with open(image[:-4] + ".lst", "w") as f:
    f.write('''; header 1000 a9 00
1000                           L1000
1000  a9 00                            lda #$00                ; entry
1002  60 01                            !byte $60,$01
1004  60                               rts
; symbol table
L1000           $1000
''')
"""


def score_with_fake_tolvek(options=()):
    """score_asm.score on a small program with FAKE_TOLVEK: (counts, its arguments)."""
    with tempfile.TemporaryDirectory() as work:
        tolvek = os.path.join(work, "Tolvek.exe")
        with open(tolvek, "w") as f:
            f.write(FAKE_TOLVEK)
        os.chmod(tolvek, os.stat(tolvek).st_mode | stat.S_IXUSR)
        source = os.path.join(work, "p.a")
        with open(source, "w") as f:
            f.write("\t* = $1000\n\tlda #0\n\trts\n\t!byte 1\n\t!byte 2\n\tnop\n")
        counts, _, _ = score_asm.score(tolvek, source, work, options)
        with open(os.path.join(work, "p.args")) as f:
            return counts, f.read()


class Counting(unittest.TestCase):
    def test_bytes_are_counted_by_what_the_listing_shows(self):
        counts, args = score_with_fake_tolvek()
        # code: lda #0 (as code), rts (shown as data), nop (not shown at all);
        # data: 1 (as data), 2 (shown as code).
        self.assertEqual(counts, [4, 2, 2, 1])
        self.assertEqual(args, "-w -c6502 -o4096 -e4096")

    def test_more_options_go_to_tolvek_before_the_image(self):
        counts, args = score_with_fake_tolvek(["--run-cycles", "0"])
        self.assertEqual(counts, [4, 2, 2, 1])
        self.assertEqual(args, "-w -c6502 -o4096 -e4096 --run-cycles 0")

    def test_stretches_shown_the_wrong_way_round(self):
        line = score_asm.Line("p.a", 3, 0x1000, [], False, "")
        truth = {a: ("code", line) for a in range(0x1000, 0x1004)}
        truth[0x1004] = ("data", line)
        shown = {0x1000: "code", 0x1001: "data", 0x1002: "data", 0x1004: "code"}
        self.assertEqual(score_asm.wrong_stretches(truth, shown),
                         [[0x1001, 0x1003, "code", line], [0x1004, 0x1004, "data", line]])


class Options(unittest.TestCase):
    def test_leading_options_arguments_are_split_as_a_shell_would(self):
        options, rest = score_asm.take_options(["--options=--run-cycles 0", "--options=-x 'a b'",
                                                "Tolvek.exe", "--options=p.a"])
        self.assertEqual(options, ["--run-cycles", "0", "-x", "a b"])
        self.assertEqual(rest, ["Tolvek.exe", "--options=p.a"])

    def test_empty_options_add_nothing(self):
        self.assertEqual(score_asm.take_options(["--options=", "T", "p.a"]), ([], ["T", "p.a"]))
        self.assertEqual(score_asm.take_options(["T", "p.a"]), ([], ["T", "p.a"]))

    def test_the_command_puts_the_options_before_the_image(self):
        self.assertEqual(score_asm.command("T", 2049, 2061, "x.tmp", ["--run-cycles", "0"]),
                         ["T", "-w", "-c6502", "-o2049", "-e2061", "--run-cycles", "0", "-t", "x.tmp"])


if __name__ == "__main__":
    unittest.main()
