#!/usr/bin/env python3
"""Scores how well a disassembly moves to another address.

Each program is a folder holding
  a.prg      the program built at its usual address,
  b.prg      the same program built at another address,
  moved.prg  the disassembly of a.prg, reassembled at b.prg's address
             (missing if that failed),
  status     (optional) one line saying what went wrong on the way.

The address bytes are the image positions where a.prg and b.prg differ,
leaving out the SYS digits of the first BASIC line; every other position is
an other byte. A right address byte has moved == b; a changed other byte has
moved != a. The load addresses (the files' first two bytes) are not counted:
moved.prg must load where b.prg loads, or it is not scored.

Usage: score.py FOLDER...   (the folder's name names the program)
Prints a table; the status is 1 if a program could not be measured (the
builds differ in length, or its disassembly could not be made), else 0.
"""
import os
import sys

SYS_TOKEN = 0x9E
# Failures of the disassembly itself: they are part of the score.
SCORED_FAILURES = {"reassembly failed"}


def sys_digits(image):
    """Positions of the digits after SYS in the first BASIC line of image."""
    end = image.find(0, 4)
    line = image[4:end if end >= 0 else len(image)]
    token = line.find(SYS_TOKEN)
    if token < 0:
        return set()
    digits = set()
    for i in range(4 + token + 1, 4 + len(line)):
        if image[i] == 0x20:
            continue
        if not 0x30 <= image[i] <= 0x39:
            break
        digits.add(i)
    return digits


def score(a, b, moved):
    """Scores one program given its three files' bytes (moved may be None).

    Returns a dict: address, other (counts), right, changed (counts, or None
    when moved could not be scored), problem (None or why it is not scored),
    error (True when the program itself cannot be measured)."""
    result = {"address": 0, "other": 0, "right": None, "changed": None, "problem": None, "error": False}
    if len(a) < 2 or len(b) < 2:
        result.update(problem="a build has no load address", error=True)
        return result
    if len(a) != len(b):
        result.update(problem="builds differ in length (%d, %d bytes)" % (len(a), len(b)), error=True)
        return result
    image_a, image_b = a[2:], b[2:]
    skipped = sys_digits(image_a)
    if skipped != sys_digits(image_b):
        result.update(problem="the SYS numbers differ in length", error=True)
        return result
    address = [i for i in range(len(image_a)) if image_a[i] != image_b[i] and i not in skipped]
    other = [i for i in range(len(image_a)) if image_a[i] == image_b[i] and i not in skipped]
    result.update(address=len(address), other=len(other))
    if moved is None:
        return result
    if moved[:2] != b[:2]:
        result["problem"] = "moved.prg loads at $%04x" % (moved[0] | moved[1] << 8) if len(moved) >= 2 \
            else "moved.prg has no load address"
        return result
    if len(moved) != len(b):
        result["problem"] = "moved.prg has %d bytes, not %d" % (len(moved), len(b))
        return result
    image_m = moved[2:]
    result["right"] = sum(image_m[i] == image_b[i] for i in address)
    result["changed"] = sum(image_m[i] != image_a[i] for i in other)
    return result


def read(path):
    try:
        with open(path, "rb") as f:
            return f.read()
    except FileNotFoundError:
        return None


def score_folder(folder):
    a, b = read(os.path.join(folder, "a.prg")), read(os.path.join(folder, "b.prg"))
    status = read(os.path.join(folder, "status"))
    status = status.decode().strip() if status else None
    if a is None or b is None:
        return {"address": 0, "other": 0, "right": None, "changed": None, "error": True,
                "problem": "a.prg or b.prg is missing"}
    result = score(a, b, None if status else read(os.path.join(folder, "moved.prg")))
    if result["error"]:
        return result
    if status:
        result.update(problem=status, error=status not in SCORED_FAILURES)
    elif result["right"] is None and result["problem"] is None:
        result.update(problem="moved.prg is missing", error=True)
    return result


def percent(part, whole):
    return "%6.1f%%" % (100.0 * part / whole) if whole else "      -"


def row(name, address, right, other, changed, note=""):
    right_text = "%7s %s" % (right, percent(right, address)) if right is not None else "%7s %7s" % ("-", "")
    changed_text = "%7s %s" % (changed, percent(changed, other)) if changed is not None else "%7s %7s" % ("-", "")
    return ("%-14s %7s %s %7s %s  %s" % (name, address, right_text, other, changed_text, note)).rstrip()


def table(names, results):
    """The report as lines, and whether any program could not be measured."""
    lines = ["%-14s %7s %7s %7s %7s %7s %7s" % ("program", "address", "right", "", "other", "changed", "")]
    total = {"address": 0, "right": 0, "other": 0, "changed": 0}
    failed = errors = 0
    for name, r in zip(names, results):
        lines.append(row(name, r["address"], r["right"], r["other"], r["changed"], r["problem"] or ""))
        if r["error"]:
            errors += 1
            continue
        total["address"] += r["address"]
        total["other"] += r["other"]
        if r["right"] is None:
            failed += 1     # its address bytes count as wrong; its other bytes are unknown
            total["other"] -= r["other"]
            continue
        total["right"] += r["right"]
        total["changed"] += r["changed"]
    notes = []
    if failed:
        notes.append("%d not scored: address bytes count as wrong" % failed)
    if errors:
        notes.append("%d could not be measured, left out" % errors)
    lines.append(row("all", total["address"], total["right"], total["other"], total["changed"], "; ".join(notes)))
    return lines, errors > 0


def main(folders):
    if not folders:
        print("Usage: score.py FOLDER...", file=sys.stderr)
        return 2
    names = [os.path.basename(os.path.normpath(f)) for f in folders]
    lines, errors = table(names, [score_folder(f) for f in folders])
    print("\n".join(lines))
    return 1 if errors else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
