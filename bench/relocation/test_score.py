#!/usr/bin/env python3
"""Checks of score.py's counting: python3 bench/relocation/test_score.py"""
import os
import tempfile
import unittest

from score import score, score_folder, sys_digits, table

# 10 SYS2061 at $0801 and 10 SYS4109 at $1001: the link and the digits differ.
STUB_A = bytes([0x01, 0x08, 0x0b, 0x08, 0x0a, 0x00, 0x9e]) + b"2061" + bytes([0, 0, 0])
STUB_B = bytes([0x01, 0x10, 0x0b, 0x10, 0x0a, 0x00, 0x9e]) + b"4109" + bytes([0, 0, 0])
# lda #$08 (a count), lda $0815 (an address), then data $08,$09.
BODY_A = bytes([0xa9, 0x08, 0xad, 0x15, 0x08, 0x08, 0x09])
BODY_B = bytes([0xa9, 0x08, 0xad, 0x15, 0x10, 0x08, 0x09])
A, B = STUB_A + BODY_A, STUB_B + BODY_B


class SysDigits(unittest.TestCase):
    def test_digits_after_the_token_in_the_first_line(self):
        self.assertEqual(sys_digits(A[2:]), {5, 6, 7, 8})
        self.assertEqual(sys_digits(bytes([1, 8, 10, 0, 0x9e, 0x20, 0x32, 0x20, 0x39, 0x3a, 0x31, 0])), {6, 8})

    def test_no_sys_in_the_first_line(self):
        self.assertEqual(sys_digits(bytes([1, 8, 10, 0, 0x99, 0x31, 0, 0x9e, 0x31])), set())
        self.assertEqual(sys_digits(bytes([1, 8, 10, 0, 0x9e])), set())
        self.assertEqual(sys_digits(bytes([1, 8, 10, 0, 0x9e, 0x31, 0x32])), {5, 6})


class Score(unittest.TestCase):
    def test_a_perfect_move(self):
        r = score(A, B, B)
        self.assertEqual((r["address"], r["right"], r["changed"], r["problem"]), (2, 2, 0, None))
        self.assertEqual(r["other"], len(A) - 2 - 2 - 4)

    def test_the_unmoved_program_gets_only_what_did_not_need_moving(self):
        moved = B[:2] + A[2:]
        r = score(A, B, moved)
        self.assertEqual((r["right"], r["changed"]), (0, 0))

    def test_a_constant_taken_for_an_address_is_a_changed_byte(self):
        moved = bytearray(B)
        moved[len(STUB_A) + 1] = 0x10       # lda #$08 moved as if it were >label
        moved[-2] = 0x10                    # so was a data byte
        moved[-1] = 0x11
        r = score(A, B, bytes(moved))
        self.assertEqual((r["right"], r["changed"]), (2, 3))

    def test_moved_program_that_cannot_be_scored(self):
        self.assertEqual(score(A, B, A)["problem"], "moved.prg loads at $0801")
        self.assertEqual(score(A, B, B + b"\0")["problem"], "moved.prg has %d bytes, not %d" % (len(B) + 1, len(B)))
        for moved in (B[:1], None):
            r = score(A, B, moved)
            self.assertEqual((r["address"], r["right"], r["error"]), (2, None, False))

    def test_builds_that_cannot_be_compared(self):
        self.assertTrue(score(A, B + b"\0", B)["error"])
        self.assertTrue(score(A, STUB_B[:7] + b"41090" + B[12:], B)["error"])


class Table(unittest.TestCase):
    def test_totals(self):
        results = [score(A, B, B), score(A, B, None), score(A, B + b"\0", B)]
        results[1]["problem"] = "reassembly failed"
        lines, errors = table(["good", "broken", "unmeasurable"], results)
        self.assertTrue(errors)
        self.assertEqual(len(lines), 5)
        # The failed program's address bytes count as wrong, the unmeasurable one is left out.
        self.assertRegex(lines[-1], r"^all +4 +2 +50\.0%% +%d +0 +0\.0%%" % (len(A) - 8))

    def test_folders(self):
        with tempfile.TemporaryDirectory() as work:
            for name, status in (("ok", None), ("asm", "reassembly failed"), ("dis", "prgdis failed")):
                os.mkdir(os.path.join(work, name))
                for file, data in (("a.prg", A), ("b.prg", B), ("moved.prg", B)):
                    with open(os.path.join(work, name, file), "wb") as f:
                        f.write(data)
                if status:
                    with open(os.path.join(work, name, "status"), "w") as f:
                        f.write(status + "\n")
            ok, asm, dis = (score_folder(os.path.join(work, n)) for n in ("ok", "asm", "dis"))
            self.assertEqual((ok["right"], ok["error"]), (2, False))
            self.assertEqual((asm["right"], asm["problem"], asm["error"]), (None, "reassembly failed", False))
            self.assertEqual((dis["problem"], dis["error"]), ("prgdis failed", True))
            os.remove(os.path.join(work, "ok", "moved.prg"))
            self.assertTrue(score_folder(os.path.join(work, "ok"))["error"])


if __name__ == "__main__":
    unittest.main()
