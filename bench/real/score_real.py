#!/usr/bin/env python3
"""Scores Tolvek's code/data split on programs by other people, against the
assembler's own account of every byte.

Each program is a NAME.info file beside NAME.prg and the assembler's record
of the build (see README.md):

    listing: 64tass          (NAME.lst, from 64tass -L NAME.lst)
    listing: acme            (NAME.report, from acme -r NAME.report)
    listing: ca65            (NAME.dbg, from ld65 --dbgfile NAME.dbg;
    sources: DIR              the folder ca65 ran in, for the source lines)
    entry: $6000             (optional: else the entry prgdis would pass)
    moved: $007e $1000       (optional: the listing's $007e is the image's $1000)
    unscored: FILE...        (optional: source files whose bytes are not scored)

A byte is code when the line that emitted it is an instruction, data when
it is a data directive. Bytes from an included binary file, from a line
that may hold both (a macro call in ACME's report) and bytes no line owns
(gaps the assembler filled) are not scored; the table counts them apart.

Usage: score_real.py [-v] [--options=OPTIONS] TOLVEK_EXE NAME.info...
  -v                 also list, per program, the stretches shown the wrong
                     way round, with the line that emitted their first byte
  --options=OPTIONS  more options for Tolvek.exe, split as a shell would
"""
import bisect
import os
import re
import shlex
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "coverage"))
from score import command, take_options  # noqa: E402
from score_asm import MNEMONICS, entry_of, listing_kinds, parse_report, split_statements  # noqa: E402


class ListingError(Exception):
    pass


class Piece:
    """Bytes one source line emitted: where, how many, of which kind.

    kind is "code", "data", "binary" (an included file) or "unknown";
    shown holds the bytes the listing gives (may be fewer than size)."""

    def __init__(self, address, size, kind, where, shown=(), source=None):
        self.address = address
        self.size = size
        self.kind = kind
        self.where = where
        self.shown = list(shown)
        self.source = source  # the source file, when the listing tells

    def __repr__(self):
        return "Piece($%04x, %d, %s, %s)" % (self.address, self.size, self.kind, self.where)


# What makes a statement code, data or an included binary, per dialect.
# Anything else that emits bytes (a macro call, a loop) is "unknown".
DIALECTS = {
    "acme": {
        "data": set("""!by !byte !8 !08 !wo !word !16 !le16 !be16 !24 !le24 !be24 !32 !le32 !be32
                       !h !hex !fi !fill !tx !text !pet !raw !scr !scrxor !align""".split()),
        "binary": {"!bin", "!binary"},
        "prefix": "!",
    },
    "ca65": {
        "data": set(""".byte .byt .word .addr .dbyt .dword .faraddr .lobytes .hibytes .bankbytes
                       .res .asciiz .align .tag""".split()),
        "binary": {".incbin"},
        "prefix": ".",
    },
}


def statement_kind(statement, dialect, label_seen=False):
    """"code", "data", "binary", "other" (emits nothing itself, or cannot
    tell) or None for an empty statement or a lone label."""
    words = statement.split(None, 1)
    if not words:
        return None
    first = words[0].lower()
    table = DIALECTS[dialect]
    if re.fullmatch(r"[a-z]{3}(\+[12])?", first) and first[:3] in MNEMONICS:
        return "code"
    if first.startswith(table["prefix"]):
        if first in table["data"]:
            return "data"
        return "binary" if first in table["binary"] else "other"
    if first.startswith("*") or (len(words) > 1 and words[1].startswith("=")):
        return "other"
    if label_seen or first.startswith("+"):
        return "other"  # a macro call (ACME), or not a statement we know
    return statement_kind(words[1], dialect, True) if len(words) > 1 else None


def line_kind(text, dialect):
    """The kind of the bytes a source line emitted; "unknown" when its
    statements are of more than one kind or of none we know."""
    kinds = {statement_kind(s, dialect) for s in split_statements(text)} - {None}
    if len(kinds) == 1 and not kinds & {"other"}:
        return kinds.pop()
    return "unknown"


# 64tass: rows are tab-separated columns: the line number (with
# --line-numbers), "." (an instruction) or ">" (data) with the address in the
# output, the logical address (a column only when the listing has ;PC), the
# bytes, then the monitor column and the source.
TASS_ADDRESS = re.compile(r"^[.>][0-9a-f]{4,6}$")
TASS_BYTES = re.compile(r"^(?:[0-9a-f]{2} )*[0-9a-f]{2}$")
TASS_FILE = re.compile(r"^(?::\d+\t)?;\*{6}  (?:Processing (?:input )?file|Return to file): (.*)$")


def parse_64tass(text, name="listing"):
    """64tass's listing (-L) as Pieces: "." rows are instructions, ">" rows
    data; a ">" row without source continues the statement above it."""
    pieces = []
    source = None
    logical = False  # the listing has a column for the logical address
    for number, raw in enumerate(text.splitlines(), 1):
        if raw.startswith(";Offset") or raw.startswith(";Line"):
            logical = ";PC" in raw.split("\t")
            continue
        header = TASS_FILE.match(raw)
        if header:
            source = os.path.basename(header.group(1).strip('"').replace("\\\\", "/").replace("\\", "/"))
            continue
        fields = raw.split("\t")
        at = next((i for i, f in enumerate(fields[:2]) if TASS_ADDRESS.match(f)), None)
        if at is None or len(fields) <= at + 1 + logical:
            continue
        digits = fields[at + 1 + logical]
        if not TASS_BYTES.match(digits):
            continue  # a label, or a line that emitted nothing
        shown = [int(d, 16) for d in digits.split()]
        rest = "\t".join(fields[at + 2 + logical:])
        where = "%s:%d (%s)" % (name, number, source) if source else "%s:%d" % (name, number)
        if fields[at][0] == ".":
            kind = "code"
        elif not rest.strip():
            if not pieces or pieces[-1].kind == "code":
                raise ListingError("%s: a data row that continues no statement" % where)
            kind = pieces[-1].kind
        else:
            kind = "binary" if re.search(r"(^|\s)\.binary\b", rest.split(";")[0], re.I) else "data"
        pieces.append(Piece(int(fields[at][1:], 16), len(shown), kind, where, shown, source))
    return pieces


def parse_acme(text):
    """ACME's report (-r) as Pieces. A line whose bytes the report cut off
    after 8 owns everything up to the next higher address a line emitted
    bytes at (or to the end of the image)."""
    emitting = [line for line in parse_report(text) if line.address is not None]
    starts = sorted({line.address for line in emitting})
    pieces = []
    for line in emitting:
        size = len(line.shown)
        if line.truncated:
            higher = starts[bisect.bisect_right(starts, line.address):]
            size = higher[0] - line.address if higher else None  # None: up to the end of the image
        pieces.append(Piece(line.address, size, line_kind(line.text, "acme"), line.where(), line.shown,
                            os.path.basename(line.source)))
    return pieces


def dbg_records(text):
    """ld65's debug file as {kind: {id: {key: value}}}."""
    records = {}
    for raw in text.splitlines():
        kind, _, rest = raw.partition("\t")
        fields = dict(re.findall(r'(\w+)=("[^"]*"|[^,]*)', rest))
        fields = {k: v[1:-1] if v.startswith('"') else v for k, v in fields.items()}
        if "id" in fields:
            records.setdefault(kind, {})[fields["id"]] = fields
    return records


def parse_ca65(text, sources):
    """ld65's debug file (--dbgfile) as Pieces: each span of bytes with the
    source line that emitted it (in a macro, the line of the macro's body),
    read from the sources folder to tell an instruction from data."""
    records = dbg_records(text)
    owner = {}  # span id -> the line record that emitted it
    for line in records.get("line", {}).values():
        for span in filter(None, line.get("span", "").split("+")):
            if span not in owner or int(line.get("type", 0)) > int(owner[span].get("type", 0)):
                owner[span] = line
    texts = {}
    pieces = []
    for span_id, span in sorted(records.get("span", {}).items(), key=lambda item: int(item[0])):
        line = owner.get(span_id)
        segment = records["seg"][span["seg"]]
        if line is None or "oname" not in segment:
            continue  # a scope's span (its lines have their own), or nothing written to a file
        address = int(segment["start"], 16) + int(span["start"])
        path = records["file"][line["file"]]["name"]
        if path not in texts:
            try:
                with open(os.path.join(sources, path), encoding="latin-1") as f:
                    texts[path] = f.read().splitlines()
            except OSError as e:
                raise ListingError("cannot read a source of the debug file: %s" % e)
        number = int(line["line"])
        kind = line_kind(texts[path][number - 1], "ca65") if number <= len(texts[path]) else "unknown"
        pieces.append(Piece(address, int(span["size"]), kind, "%s:%d" % (path, number), (),
                            os.path.basename(path)))
    return pieces


def ground_truth(pieces, load, image, moved=(0, 0)):
    """Image address -> Piece, for every byte of the image some line emitted.

    moved = (listed, actual): the listing's address `listed` is the image's
    `actual`. Bytes that fall outside the image are left out (a file header,
    a load address); a later line that writes the same address wins, as in
    the assembler's output. A shown byte that differs from the image is an
    error: the listing is not of this program."""
    shift = moved[1] - moved[0]
    end = load + len(image)
    owner, expected = {}, {}
    for piece in pieces:
        first = piece.address + shift
        size = piece.size if piece.size is not None else max(0, end - first)
        for k in range(size):
            a = first + k
            if load <= a < end:
                owner[a] = piece
                if k < len(piece.shown):
                    expected[a] = piece.shown[k]
                else:
                    expected.pop(a, None)
    wrong = [a for a, byte in expected.items() if image[a - load] != byte]
    if wrong:
        a = min(wrong)
        raise ListingError("%s: the listing shows $%02x at $%04x, the file has $%02x (%d bytes differ)"
                           % (owner[a].where, expected[a], a, image[a - load], len(wrong)))
    return owner


def count(owner, shown, load, size):
    """[code, code shown as code, data, data kept as data, binary, other
    (unknown or left out), bytes no line emitted]."""
    counts = [0] * 7
    for a in range(load, load + size):
        piece = owner.get(a)
        if piece is None:
            counts[6] += 1
        elif piece.kind in ("code", "data"):
            column = 0 if piece.kind == "code" else 2
            counts[column] += 1
            counts[column + 1] += shown.get(a) == piece.kind
        else:
            counts[4 if piece.kind == "binary" else 5] += 1
    return counts


def wrong_stretches(owner, shown):
    """Runs of scored bytes shown other than they are: [first, last, kind, Piece]."""
    stretches = []
    for a in sorted(owner):
        piece = owner[a]
        if piece.kind not in ("code", "data") or shown.get(a) == piece.kind:
            continue
        if stretches and stretches[-1][1] == a - 1 and stretches[-1][2] == piece.kind:
            stretches[-1][1] = a
        else:
            stretches.append([a, a, piece.kind, piece])
    return stretches


def number(text):
    text = text.strip()
    return int(text[1:], 16) if text.startswith("$") else int(text, 0)


def read_info(path):
    """NAME.info as a dict; the files it names are beside it."""
    info = {"name": os.path.basename(path)[:-len(".info")], "folder": os.path.dirname(os.path.abspath(path))}
    with open(path) as f:
        for raw in f:
            line = raw.split("#", 1)[0].strip()
            if not line:
                continue
            key, _, value = line.partition(":")
            info[key.strip()] = value.strip()
    if info.get("listing") not in ("64tass", "acme", "ca65"):
        raise ListingError("%s: 'listing:' must be 64tass, acme or ca65" % path)
    return info


LISTING_FILES = {"64tass": ".lst", "acme": ".report", "ca65": ".dbg"}


def pieces_of(info):
    listing = os.path.join(info["folder"], info["name"] + LISTING_FILES[info["listing"]])
    with open(listing, encoding="latin-1") as f:
        text = f.read()
    if info["listing"] == "64tass":
        return parse_64tass(text, os.path.basename(listing))
    if info["listing"] == "acme":
        return parse_acme(text)
    return parse_ca65(text, os.path.join(info["folder"], info.get("sources", ".")))


def load_and_image(info):
    with open(os.path.join(info["folder"], info["name"] + ".prg"), "rb") as f:
        data = f.read()
    return data[0] | data[1] << 8, data[2:]


def disassemble(tolvek, info, work, options=()):
    """Runs Tolvek on the program's image in the folder work, from the
    entry the .info names or else the one prgdis would pass; the listing's path."""
    load, image = load_and_image(info)
    entry = number(info["entry"]) if "entry" in info else entry_of(image, load)
    tmp = os.path.join(work, info["name"] + ".tmp")
    with open(tmp, "wb") as f:
        f.write(image)
    subprocess.run(command(tolvek, load, entry, tmp, options), check=True, stdout=subprocess.DEVNULL)
    return os.path.join(work, info["name"] + ".lst")


def score(tolvek, info, work, options=()):
    """(counts, owner, shown) for one program."""
    load, image = load_and_image(info)
    moved = tuple(number(v) for v in info["moved"].split()) if "moved" in info else (0, 0)
    pieces = pieces_of(info)
    left_out = set(info.get("unscored", "").split())
    for piece in pieces:
        if piece.source in left_out:
            piece.kind = "left out"
    owner = ground_truth(pieces, load, image, moved)
    shown = listing_kinds(disassemble(tolvek, info, work, options))
    return count(owner, shown, load, len(image)), owner, shown


def percent(part, whole):
    return "%7.1f%%" % (100.0 * part / whole) if whole else "       -"


def report(name, c):
    print("%-18s %6d %s %6d %s %7d %7d %7d" % (name, c[0], percent(c[1], c[0]), c[2], percent(c[3], c[2]),
                                            c[4], c[5], c[6]))


def main(argv):
    verbose = "-v" in argv[:2]
    if verbose:
        argv = [a for a in argv[:2] if a != "-v"] + argv[2:]
    options, argv = take_options(argv)
    if len(argv) < 2:
        sys.exit(__doc__.strip())
    tolvek, infos = os.path.realpath(argv[0]), argv[1:]
    totals = [0] * 7
    print("%-18s %6s %8s %6s %8s %7s %7s %7s" % ("", "code", "as code", "data", "as data", "binary", "other",
                                                 "no line"))
    with tempfile.TemporaryDirectory() as work:
        for path in infos:
            try:
                info = read_info(path)
                counts, owner, shown = score(tolvek, info, work, options)
            except (ListingError, OSError, ValueError, subprocess.CalledProcessError) as e:
                sys.exit("score_real.py: %s: %s" % (path, e))
            totals = [t + c for t, c in zip(totals, counts)]
            report(info["name"], counts)
            if verbose:
                for first, last, kind, piece in wrong_stretches(owner, shown):
                    print("    $%04x-$%04x %s (from %s)" % (first, last, "code not shown as code" if kind == "code"
                                                      else "data not kept as data", piece.where))
    report("all", totals)
    print("code: bytes of instructions, data: bytes of data directives, as the assembler's listing shows them;")
    print("not scored: binary (included files), other (lines that may hold both, files the .info leaves")
    print("out), no line (bytes no line emitted)")
    if options:
        print("Tolvek options: %s" % shlex.join(options))


if __name__ == "__main__":
    main(sys.argv[1:])
