#!/usr/bin/env python3
"""Scores Tolvek's code/data split against the segments of cc65's linker map.

For each program: runs Tolvek.exe -w on its memory image, reads which
bytes the listing shows as instructions and which as data rows (!byte,
!word), and compares with the segments the linker put them in.

Usage: score.py [--options=OPTIONS] TOLVEK_EXE PROGRAM.prg...
  (each with PROGRAM.map beside it)
  --options=OPTIONS  more options for Tolvek.exe, split as a shell would
                     (--options="--run-cycles 0": without the run)
"""
import os
import re
import shlex
import subprocess
import sys

# Segments of cc65's C64 configuration holding instructions.
CODE_SEGMENTS = {"STARTUP", "LOWCODE", "CODE", "ONCE"}
# Segments holding data: the BASIC header, constants, initialised variables
# and INIT (crt0's save area, type rw in c64.cfg).
DATA_SEGMENTS = {"EXEHDR", "RODATA", "DATA", "INIT"}
# Not in the file at all: ZEROPAGE, LOADADDR (the 2 bytes before the
# image), BSS (reuses the ONCE area at run time).

# Library modules whose contribution to DATA is a routine the CPU runs
# (rewritten at run time, hence writable): _printf's and jmpvec's patched
# "jmp $0000", and condes' loop over the constructor table. By segment they
# count as data; the second data figure counts them as the code they are.
CODE_IN_DATA = {"_printf.o", "condes.o", "jmpvec.o"}

# A row of the listing: address, bytes, source. A longer row (a string)
# goes on in lines of address and bytes only.
ROW = re.compile(r"^([0-9a-f]{4})  ((?:[0-9a-f]{2} )*[0-9a-f]{2})  +(\S.*)$")
MORE_BYTES = re.compile(r"^([0-9a-f]{4})  ((?:[0-9a-f]{2} )*[0-9a-f]{2})$")


def listing_kinds(lst):
    """Address -> "code" or "data" as Tolvek's listing shows it."""
    kinds = {}
    kind = "data"
    with open(lst) as f:
        for line in f:
            line = line.rstrip("\n")
            m = ROW.match(line)
            if m:
                kind = "data" if m.group(3).startswith(("!", ".")) else "code"
            else:
                m = MORE_BYTES.match(line)
                if not m:
                    continue
            address = int(m.group(1), 16)
            for a in range(address, address + len(m.group(2).split())):
                kinds[a] = kind
    return kinds


def read_map(map_file):
    """The segments (name, first, last) and the DATA ranges of CODE_IN_DATA."""
    with open(map_file) as f:
        lines = f.read().splitlines()
    segments = []
    start = lines.index("Segment list:") + 4
    for line in lines[start:]:
        if not line.strip():
            break
        name, first, last = line.split()[:3]
        segments.append((name, int(first, 16), int(last, 16)))
    data_start = {name: first for name, first, _ in segments}.get("DATA", 0)
    routines = []
    module = ""
    for line in lines[lines.index("Modules list:") + 2:start - 4]:
        if not line.startswith(" "):
            module = re.sub(r".*\((.*)\):$", r"\1", line)
            continue
        fields = line.split()
        if fields and fields[0] == "DATA" and module in CODE_IN_DATA:
            offset = int(fields[1].split("=")[1], 16)
            size = int(fields[2].split("=")[1], 16)
            routines.append((data_start + offset, data_start + offset + size))
    return segments, routines


def entry_of(image, load):
    """The address in the BASIC stub's SYS line."""
    text = image[4:image.index(0, 4)]
    digits = re.search(rb"\x9e\s*(\d+)", text)
    return int(digits.group(1)) if digits else load


def take_options(argv):
    """Takes the leading --options=OPTIONS arguments off argv: (options, rest)."""
    options = []
    while argv and argv[0].startswith("--options="):
        options += shlex.split(argv[0][len("--options="):])
        argv = argv[1:]
    return options, argv


def command(tolvek, load, entry, image, options=()):
    """Tolvek's command line for an image file: the options before its name."""
    return [tolvek, "-w", "-c6502", "-o%d" % load, "-e%d" % entry] + list(options) + ["-t", image]


def shown(tolvek, prg, options=()):
    with open(prg, "rb") as f:
        data = f.read()
    load = data[0] | data[1] << 8
    image = data[2:]
    tmp = prg[:-4] + ".tmp"
    with open(tmp, "wb") as f:
        f.write(image)
    subprocess.run(command(tolvek, load, entry_of(image, load), tmp, options), check=True)
    return load, load + len(image), listing_kinds(prg[:-4] + ".lst")


def main(argv):
    options, argv = take_options(argv)
    if len(argv) < 2:
        sys.exit(__doc__.strip())
    tolvek, programs = argv[0], argv[1:]
    totals = [0] * 6
    print("%-10s %6s %8s %6s %8s %6s %8s" % ("", "code", "as code", "data", "as data", "data*", "as data"))
    for prg in programs:
        load, end, kinds = shown(tolvek, prg, options)
        segments, routines = read_map(prg[:-4] + ".map")
        # code, shown as code; data by segment, shown as data; data without
        # the routines in DATA, shown as data.
        counts = [0] * 6
        for name, first, last in segments:
            if name not in CODE_SEGMENTS and name not in DATA_SEGMENTS:
                continue
            for a in range(max(first, load), min(last + 1, end)):
                routine = any(lo <= a < hi for lo, hi in routines)
                if name in CODE_SEGMENTS or routine:
                    counts[0] += 1
                    counts[1] += kinds.get(a) == "code"
                if name in DATA_SEGMENTS:
                    counts[2] += 1
                    counts[3] += kinds.get(a) == "data"
                    if not routine:
                        counts[4] += 1
                        counts[5] += kinds.get(a) == "data"
        totals = [t + c for t, c in zip(totals, counts)]
        report(os.path.basename(prg)[:-4], counts)
    report("all", totals)
    print("code: STARTUP, CODE, ONCE and the routines in DATA; data: EXEHDR, RODATA, DATA, INIT;")
    print("data*: the same without the routines in DATA (%s)" % ", ".join(sorted(CODE_IN_DATA)))
    if options:
        print("Tolvek options: %s" % shlex.join(options))


def percent(part, whole):
    return "%7.1f%%" % (100.0 * part / whole) if whole else "       -"


def report(name, c):
    print("%-10s %6d %s %6d %s %6d %s" % (name, c[0], percent(c[1], c[0]), c[2], percent(c[3], c[2]), c[4],
                                         percent(c[5], c[4])))


if __name__ == "__main__":
    main(sys.argv[1:])
