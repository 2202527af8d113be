#!/usr/bin/env python3
"""Tests of score_graphics.py on small listings and hints."""
import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import score_graphics as s  # noqa: E402

LISTING = """\
.0810\t\t\t\t\tstart
.0810\ta9 00\t\tlda #0
;******  Processing file: src/graphics/sprites.asm
.2000\t\t\t\t\tship
>2000\t00 18 3c 7e ff 7e 3c 18\t\t.BYTE $00
>2008\t00 00\t\t.BYTE $00
;******  Return to file: src/game.asm
;******  Processing file: src/charset.asm
>2800\t3c 66\t\t.BYTE $3c,$66
;******  Processing file: src/graphics/tiles.asm
>3000\t01\t\t.BYTE $01
;******  Return to file: src/charset.asm
>2802\t6e\t\t.BYTE $6e
;******  Return to file: src/game.asm
>4000\tff ff\t\t.BYTE $ff
"""


class ScoreGraphics(unittest.TestCase):
    def test_kinds_by_file_name(self):
        cases = {"src/graphics/sprites.asm": "sprite", "src/c64/charset.asm": "charset",
                 "FONT.ASM": "charset", "src/title_bitmap.asm": "bitmap",
                 "src/graphics/planet_surface.asm": "graphics", "src/game.asm": None}
        for name, kind in cases.items():
            self.assertEqual(s.kind_of_file(name), kind, name)

    def test_truth_follows_nested_files(self):
        truth = s.truth_from_listing(LISTING.splitlines())
        self.assertEqual(sorted(a for a, k in truth.items() if k == "sprite"), list(range(0x2000, 0x200a)))
        self.assertEqual(sorted(a for a, k in truth.items() if k == "charset"), [0x2800, 0x2801, 0x2802])
        self.assertEqual(truth.get(0x3000), "graphics")
        self.assertNotIn(0x0810, truth)
        self.assertNotIn(0x4000, truth)

    def test_score_counts_kind_and_bytes_outside(self):
        truth = s.truth_from_listing(LISTING.splitlines())
        found = s.found_from_hints(["sprite $2000-$2003", "charset $2800-$2801   # font",
                                    "bitmap $3000-$3000", "sprite $4000-$4001", "bytes $2004-$2009"])
        figures, outside = s.score(truth, found)
        self.assertEqual(figures["sprite"], (10, 4, 4))
        self.assertEqual(figures["charset"], (3, 2, 2))
        self.assertEqual(figures["graphics"], (1, 1, 1))
        self.assertEqual(outside, 2)


if __name__ == "__main__":
    unittest.main()
