#!/usr/bin/env python3
"""How much of the text Tolvek finds each dialect writes as string literals,
whether each dialect's source rebuilds the program, and how many of the
labels that statements name show the places that refer to them.

    score_text.py [--dialects "acme 64tass ..."] TOLVEK PROGRAM.prg...

For each program: the bytes Tolvek takes for text (the `text` and `screen`
ranges of the hints it writes), and for each dialect the characters inside
string literals of the .asm; then the header's rebuild command is run and
its program compared with the original. A NAME.info beside the program may
name the entry (`entry: $6000`); else it is the one prgdis would pass."""
import os
import re
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "coverage"))
from score_asm import entry_of  # noqa: E402

TEXT_DIRECTIVES = ("!pet", "!scr", ".text", ".byte", "dc.b", "dv.b", ".byt", ".asc")
RANGE = re.compile(r"^(text|screen) \$([0-9a-f]+)-\$([0-9a-f]+)")
NAME = re.compile(r"[A-Za-z_][A-Za-z0-9_]*")


def statement_of(line):
    """The line without its comment (outside quotes)."""
    quoted = False
    for i, c in enumerate(line):
        if c == '"':
            quoted = not quoted
        elif c == ";" and not quoted:
            return line[:i]
    return line


def labels_shown(lines):
    """(labels that statements name, of them those whose line names the
    places that refer to them)."""
    defined = {}
    used = set()
    for line in lines:
        if not line or line[0] in " \t;":
            if line[:1] == "\t":
                body = re.sub(r'"[^"]*"', "", statement_of(line))
                used.update(NAME.findall(body.split(None, 1)[1] if len(body.split(None, 1)) > 1 else ""))
            continue
        name = NAME.match(line)
        if name and "=" not in statement_of(line):
            defined[name.group(0)] = ";" in line
    named = [n for n in defined if n in used]
    return len(named), sum(1 for n in named if defined[n])


def literal_chars(line):
    """The characters inside string literals of one source line's statement."""
    statement = line.strip()
    if not statement.startswith(TEXT_DIRECTIVES):
        return 0
    count, quoted = 0, False
    for c in statement:
        if c == '"':
            quoted = not quoted
        elif quoted:
            count += 1
        elif c == ";":
            break
    return count


def entry_for(prg, load, image):
    info = prg[:-4] + ".info"
    if os.path.exists(info):
        with open(info) as f:
            for raw in f:
                key, _, value = raw.split("#")[0].partition(":")
                if key.strip() == "entry":
                    value = value.strip()
                    return int(value[1:], 16) if value.startswith("$") else int(value)
    return entry_of(image, load)


def score(tolvek, prg, dialects, work):
    """(text bytes, {dialect: (literal characters, rebuilt identically)})."""
    with open(prg, "rb") as f:
        data = f.read()
    load, image = data[0] | data[1] << 8, data[2:]
    name = "p"
    with open(os.path.join(work, name + ".tmp"), "wb") as f:
        f.write(image)
    base = [tolvek, "-a", "-c6502", "-o%d" % load, "-e%d" % entry_for(prg, load, image), "-t", name + ".tmp"]
    subprocess.run(base + ["--write-hints", "p.hints"], cwd=work, check=True, stdout=subprocess.DEVNULL)
    text = 0
    with open(os.path.join(work, "p.hints")) as f:
        for raw in f:
            m = RANGE.match(raw)
            if m:
                text += int(m.group(3), 16) - int(m.group(2), 16) + 1
    results = {}
    for dialect in dialects:
        run = subprocess.run(base + ["-s" + dialect], cwd=work, capture_output=True, text=True)
        if run.returncode != 0:
            results[dialect] = None
            continue
        with open(os.path.join(work, name + ".asm"), encoding="latin-1") as f:
            lines = f.read().splitlines()
        literal = sum(literal_chars(line) for line in lines if not line.startswith(";"))
        command = next(line.split(": ", 1)[1] for line in lines if line.startswith("; rebuild with "))
        rebuilt = os.path.join(work, name + "-rebuilt.prg")
        if os.path.exists(rebuilt):
            os.remove(rebuilt)
        subprocess.run(command, shell=True, cwd=work, capture_output=True)
        same = os.path.exists(rebuilt) and open(rebuilt, "rb").read() == data
        results[dialect] = (literal, same)
        if dialect == dialects[0]:
            results["labels"] = labels_shown(lines)
    return text, results


def main(argv):
    dialects = "acme 64tass ca65 dasm xa".split()
    if len(argv) > 1 and argv[0] == "--dialects":
        dialects = argv[1].split()
        argv = argv[2:]
    if len(argv) < 2:
        print(__doc__, file=sys.stderr)
        return 2
    tolvek, programs = os.path.abspath(argv[0]), argv[1:]
    totals = {d: [0, 0, True] for d in dialects}
    labels = [0, 0]
    print("%-22s %6s" % ("program", "text") + "".join(" %12s" % d for d in dialects))
    for prg in programs:
        work = tempfile.mkdtemp(prefix="score_text_")
        try:
            text, results = score(tolvek, prg, dialects, work)
        finally:
            shutil.rmtree(work)
        row = "%-22s %6d" % (os.path.basename(prg)[:-4], text)
        for d in dialects:
            if results[d] is None:
                row += " %12s" % "refused"
                continue
            literal, same = results[d]
            totals[d][0] += literal
            totals[d][1] += text
            totals[d][2] = totals[d][2] and same
            row += " %11s%s" % ("%.1f%%" % (100.0 * literal / text) if text else "-", "" if same else "!")
        named, shown = results.get("labels", (0, 0))
        labels[0] += named
        labels[1] += shown
        print(row + "   labels named %d, with their references %d" % (named, shown))
    row = "%-22s %6d" % ("all", max((t[1] for t in totals.values()), default=0))
    for d in dialects:
        literal, text, same = totals[d]
        row += " %11s%s" % ("%.1f%%" % (100.0 * literal / text) if text else "-", "" if same else "!")
    print(row + "   labels named %d, with their references %d" % tuple(labels))
    print("(% of the text bytes written inside string literals; ! marks a source that did not rebuild the program)")
    return 0 if all(t[2] for t in totals.values()) else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
