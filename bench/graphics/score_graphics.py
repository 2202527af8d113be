#!/usr/bin/env python3
"""Scores the graphics Tolvek finds in a real program against its source.

    score_graphics.py LISTING HINTS

LISTING is the 64tass listing of the build (64tass ... -L NAME.lst). The
ground truth is what the source keeps in files of its own: the bytes
emitted between "Processing file: .../sprites.asm" and the return from
it are sprites, a file named for a charset or font holds glyphs, one for a
bitmap or picture a bitmap; other files under a graphics/ folder hold
graphics of a kind the name does not say. HINTS is the hints file Tolvek
wrote (--write-hints): its `sprite`, `charset` and `bitmap` ranges are
what it found.

Prints one line of figures: per kind the truth's bytes, those typed as
graphics and those typed as the right kind, and the bytes typed as
graphics outside the truth.
"""
import re
import sys

FILE_START = re.compile(r";\*+\s+Processing file: (\S+)")
FILE_END = re.compile(r";\*+\s+Return to file: (\S+)")
DATA_ROW = re.compile(r"^>([0-9a-fA-F]{4})\t((?:[0-9a-fA-F]{2} ?)+)")
HINT_RANGE = re.compile(r"^\s*(sprite|charset|bitmap)\s+\$([0-9a-fA-F]{1,4})-\$([0-9a-fA-F]{1,4})", re.I)


def kind_of_file(name):
    """The kind of graphics a source file holds, by its name, or None."""
    base = name.replace("\\", "/").lower()
    leaf = base.rsplit("/", 1)[-1]
    if "sprite" in leaf:
        return "sprite"
    if "charset" in leaf or "font" in leaf:
        return "charset"
    if "bitmap" in leaf or "picture" in leaf:
        return "bitmap"
    if "/graphics/" in base or base.startswith("graphics/"):
        return "graphics"
    return None


def truth_from_listing(lines):
    """Address -> kind for every byte emitted inside a graphics file."""
    truth = {}
    stack = []
    for line in lines:
        start = FILE_START.match(line)
        if start:
            stack.append(kind_of_file(start.group(1)))
            continue
        if FILE_END.match(line):
            if stack:
                stack.pop()
            continue
        kind = stack[-1] if stack else None
        if kind is None:
            continue
        row = DATA_ROW.match(line)
        if not row:
            continue
        address = int(row.group(1), 16)
        for i, _ in enumerate(row.group(2).split()):
            truth[address + i] = kind
    return truth


def found_from_hints(lines):
    """Address -> kind for every byte a graphics range of the hints covers."""
    found = {}
    for line in lines:
        match = HINT_RANGE.match(line)
        if not match:
            continue
        kind = match.group(1).lower()
        for address in range(int(match.group(2), 16), int(match.group(3), 16) + 1):
            found[address] = kind
    return found


def score(truth, found):
    figures = {}
    for kind in ("sprite", "charset", "bitmap", "graphics"):
        addresses = [a for a, k in truth.items() if k == kind]
        if not addresses:
            continue
        typed = sum(1 for a in addresses if a in found)
        right = sum(1 for a in addresses if found.get(a) == kind) if kind != "graphics" else typed
        figures[kind] = (len(addresses), typed, right)
    outside = sum(1 for a in found if a not in truth)
    return figures, outside


def main(argv):
    if len(argv) != 3:
        sys.stderr.write(__doc__)
        return 2
    with open(argv[1], encoding="utf-8", errors="replace") as f:
        truth = truth_from_listing(f)
    with open(argv[2], encoding="utf-8", errors="replace") as f:
        found = found_from_hints(f)
    figures, outside = score(truth, found)
    parts = [f"{kind}: {n} bytes, {typed} typed as graphics, {right} as {kind}"
             for kind, (n, typed, right) in figures.items()]
    parts.append(f"outside: {outside} bytes")
    print("; ".join(parts))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
