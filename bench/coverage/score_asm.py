#!/usr/bin/env python3
"""Scores Tolvek's code/data split on hand-written ACME programs.

For each source: assembles it with `acme -f cbm -r report`, takes from the
report which bytes of the program come from instructions (code) and which
from data directives (data), runs Tolvek.exe -w on the memory image with
the entry prgdis would pass, and counts how many code bytes the listing
shows as instructions and how many data bytes it keeps in data rows
(!byte, !word).

Usage: score_asm.py [-v] [--options=OPTIONS] TOLVEK_EXE PROGRAM.a...
  -v                 also list, per program, the stretches shown the wrong
                     way round
  --options=OPTIONS  more options for Tolvek.exe, split as a shell would
                     (--options="--run-cycles 0": without the run)
"""
import os
import re
import shlex
import subprocess
import sys
import tempfile

from score import command, listing_kinds, take_options

MNEMONICS = set("""
    adc and asl bcc bcs beq bit bmi bne bpl brk bvc bvs clc cld cli clv cmp
    cpx cpy dec dex dey eor inc inx iny jmp jsr lda ldx ldy lsr nop ora pha
    php pla plp rol ror rti rts sbc sec sed sei sta stx sty tax tay tsx txa
    txs tya
    anc ane arr asr dcp dop isc jam las lax lxa rla rra sax sbx sha shx shy
    slo sre tas top
""".split())

# ACME's directives that put bytes into the output: all of them data.
DATA_DIRECTIVES = set("""
    !by !byte !8 !08 !wo !word !16 !le16 !be16 !24 !le24 !be24 !32 !le32
    !be32 !h !hex !fi !fill !tx !text !pet !raw !scr !scrxor !bin !binary
    !align
""".split())

# Directives that move the program counter without a statement owning the
# bytes in between; a truncated line must not be followed by one.
ORIGIN = re.compile(r"^\s*(\*\s*=|!skip\b|!pseudopc\b|!realpc\b)", re.I)


class ReportError(Exception):
    pass


class Line:
    """One line of ACME's report: where it is, what it emitted, its text."""

    def __init__(self, source, number, address, shown, truncated, text):
        self.source = source
        self.number = number
        self.address = address  # None when the line emitted nothing
        self.shown = shown  # the bytes the report shows (at most 8)
        self.truncated = truncated  # the report cut the bytes off ("...")
        self.text = text

    def where(self):
        return "%s:%d" % (self.source, self.number)


def parse_report(text):
    """ACME's report as Lines.

    Each line of a source is reported as a line number (6 columns), two
    spaces, then the address and the emitted bytes in hex (19 columns: 8
    bytes, then "..." when there were more) and from column 32 the source
    line as written. "; ******** Source: NAME" starts each stretch of a file.
    """
    lines = []
    source = "?"
    for raw in text.splitlines():
        if not raw.strip():
            continue
        header = re.match(r"^; \*{8} Source: (.*)$", raw)
        if header:
            source = header.group(1)
            continue
        m = re.fullmatch(r" *(\d+)  (?:([0-9a-f]{4}) ((?:[0-9a-f]{2}){1,8})(\.\.\.)?)? *", raw[:32])
        if not m:
            raise ReportError("unexpected line in ACME's report: %r" % raw)
        address, shown, truncated = None, [], False
        if m.group(2):
            address = int(m.group(2), 16)
            digits = m.group(3)
            shown = [int(digits[i:i + 2], 16) for i in range(0, len(digits), 2)]
            truncated = m.group(4) is not None
            if truncated and len(shown) != 8:
                raise ReportError("cut off after other than 8 bytes in ACME's report: %r" % raw)
        lines.append(Line(source, int(m.group(1)), address, shown, truncated, raw[32:]))
    return lines


def split_statements(text):
    """The statements of a source line: comment dropped, split at colons."""
    statements, current, quote = [], "", None
    for c in text:
        if quote:
            current += c
            if c == quote:
                quote = None
        elif c in "\"'":
            quote = c
            current += c
        elif c == ";":
            break
        elif c == ":":
            statements.append(current)
            current = ""
        else:
            current += c
    statements.append(current)
    return [s.strip() for s in statements if s.strip()]


def statement_kind(statement, label_seen=False):
    """"code", "data", "other" (emits nothing itself, or cannot tell) or None."""
    words = statement.split(None, 1)
    if not words:
        return None
    first = words[0].lower()
    if re.fullmatch(r"[a-z]{3}(\+[12])?", first) and first[:3] in MNEMONICS:
        return "code"
    if first.startswith("!"):
        return "data" if first in DATA_DIRECTIVES else "other"
    if first.startswith("*") or (len(words) > 1 and words[1].startswith("=")):
        return "other"  # setting the program counter or a symbol
    if re.fullmatch(r"\+[A-Za-z_.].*", first):
        return "other"  # a macro call: its bytes may be code and data alike
    if label_seen:
        return "other"
    return statement_kind(words[1], True) if len(words) > 1 else None


def line_kind(line):
    """The kind of every byte a line emitted: "code" or "data"."""
    kinds = {statement_kind(s) for s in split_statements(line.text)} - {None}
    if len(kinds) != 1 or kinds & {"other"}:
        raise ReportError("%s: cannot tell whether this line emits code or data (keep one "
                          "instruction or data directive a line, no macros or loops): %s"
                          % (line.where(), line.text.strip()))
    return kinds.pop()


def ground_truth(lines, load, image):
    """For every address of the image, ("code" or "data", the Line owning it).

    A line owns as many bytes as the report shows, or when it cut them off,
    everything up to the next line that emitted bytes. Every byte of the
    image must be owned by exactly one line whose shown bytes match it.
    """
    owner = {}
    emitting = [i for i, line in enumerate(lines) if line.address is not None]
    for n, i in enumerate(emitting):
        line = lines[i]
        size = len(line.shown)
        if line.truncated:
            if n + 1 < len(emitting):
                following = emitting[n + 1]
                size = lines[following].address - line.address
                moved = [ln for ln in lines[i + 1:following] if ORIGIN.match(ln.text)]
                if moved or size <= 8:
                    raise ReportError("%s: the report cuts this line's bytes off and the next "
                                      "bytes come from elsewhere (split the line into rows "
                                      "of at most 8 bytes)" % line.where())
            else:
                size = load + len(image) - line.address
        kind = line_kind(line)
        for k in range(size):
            a = line.address + k
            if not load <= a < load + len(image):
                raise ReportError("%s: emits $%04x, outside the program file" % (line.where(), a))
            if a in owner:
                raise ReportError("%s: $%04x already came from %s" % (line.where(), a,
                                                                    owner[a][1].where()))
            if k < len(line.shown) and image[a - load] != line.shown[k]:
                raise ReportError("%s: the report shows $%02x at $%04x, the file has $%02x"
                                  % (line.where(), line.shown[k], a, image[a - load]))
            owner[a] = (kind, line)
    missing = [a for a in range(load, load + len(image)) if a not in owner]
    if missing:
        raise ReportError("$%04x-$%04x: %d bytes of the program come from no statement (a gap "
                          "left by '*=' or !skip; fill it with !fill so that it is data)"
                          % (missing[0], missing[-1], len(missing)))
    return owner


def entry_of(image, load):
    """The entry prgdis passes: the number after the last SYS token ($9E)
    anywhere in the image that is at least the load address, spaces allowed
    inside the number; the load address when there is none."""
    entry, armed, value = load, False, 0
    for c in image:
        if c == 0x9E:
            armed, value = True, 0
        elif not armed:
            continue
        elif 0x30 <= c <= 0x39:
            value = (value * 10 + c - 0x30) & 0xFFFFFFFF
        elif c != 0x20:
            signed = value - (1 << 32) if value >= 1 << 31 else value
            if signed >= load:
                entry = signed
            armed = False
    return entry


def assemble(source, work):
    """Assembles source into work; returns (load, image, report lines)."""
    name = os.path.splitext(os.path.basename(source))[0]
    prg, report = os.path.join(work, name + ".prg"), os.path.join(work, name + ".report")
    run = subprocess.run(["acme", "-f", "cbm", "-o", prg, "-r", report, os.path.basename(source)],
                         cwd=os.path.dirname(os.path.abspath(source)), capture_output=True, text=True)
    if run.returncode != 0 or run.stderr:
        raise ReportError("%s: acme failed or warned:\n%s" % (source, run.stderr.strip()))
    with open(prg, "rb") as f:
        data = f.read()
    with open(report) as f:
        lines = parse_report(f.read())
    return data[0] | data[1] << 8, data[2:], lines


def score(tolvek, source, work, options=()):
    """Counts and the Tolvek kinds for one program."""
    load, image, lines = assemble(source, work)
    truth = ground_truth(lines, load, image)
    name = os.path.splitext(os.path.basename(source))[0]
    tmp = os.path.join(work, name + ".tmp")
    with open(tmp, "wb") as f:
        f.write(image)
    subprocess.run(command(tolvek, load, entry_of(image, load), tmp, options), check=True)
    shown = listing_kinds(os.path.join(work, name + ".lst"))
    counts = [0] * 4
    for a, (kind, _) in truth.items():
        column = 0 if kind == "code" else 2
        counts[column] += 1
        counts[column + 1] += shown.get(a) == kind
    return counts, truth, shown


def wrong_stretches(truth, shown):
    """Runs of bytes shown other than they are: (first, last, kind, Line)."""
    stretches = []
    for a in sorted(truth):
        kind, line = truth[a]
        if shown.get(a) == kind:
            continue
        if stretches and stretches[-1][1] == a - 1 and stretches[-1][2] == kind:
            stretches[-1][1] = a
        else:
            stretches.append([a, a, kind, line])
    return stretches


def percent(part, whole):
    return "%7.1f%%" % (100.0 * part / whole) if whole else "       -"


def report(name, c):
    print("%-15s %6d %s %6d %s" % (name, c[0], percent(c[1], c[0]), c[2], percent(c[3], c[2])))


def main(argv):
    verbose = "-v" in argv[:2]
    if verbose:
        argv = [a for a in argv[:2] if a != "-v"] + argv[2:]
    options, argv = take_options(argv)
    if len(argv) < 2:
        sys.exit(__doc__.strip())
    tolvek, sources = os.path.realpath(argv[0]), argv[1:]
    totals = [0] * 4
    print("%-15s %6s %8s %6s %8s" % ("", "code", "as code", "data", "as data"))
    with tempfile.TemporaryDirectory() as work:
        for source in sources:
            try:
                counts, truth, shown = score(tolvek, source, work, options)
            except ReportError as e:
                sys.exit("score_asm.py: %s" % e)
            totals = [t + c for t, c in zip(totals, counts)]
            report(os.path.splitext(os.path.basename(source))[0], counts)
            if verbose:
                for first, last, kind, line in wrong_stretches(truth, shown):
                    print("    $%04x-$%04x %s (from %s)" % (first, last, "code not shown as code" if kind == "code"
                                                      else "data not kept as data", line.where()))
    report("all", totals)
    print("code: bytes of instructions, data: bytes of data directives, as ACME's report shows them")
    if options:
        print("Tolvek options: %s" % shlex.join(options))


if __name__ == "__main__":
    main(sys.argv[1:])
