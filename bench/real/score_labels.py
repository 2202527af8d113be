#!/usr/bin/env python3
"""Labels or numbers: compares each immediate operand and data item of
Tolvek's listings with the source line that emitted the same bytes, and
counts constants Tolvek writes as labels and addresses it leaves as numbers.

Usage: score_labels.py [-v] [--cases N] CORPUS_DIR LISTINGS_DIR...
  CORPUS_DIR    the programs of bench/real (see README.md): NAME.info,
                NAME.prg, the assembler's record of the build, and the
                symbol values: NAME.sym (64tass -l, ACME --symbollist) or,
                for ca65, the ld65 debug file NAME.dbg
  LISTINGS_DIR  Tolvek's NAME.lst for each program; with more than one
                folder, one table each, the cases from the last
  --cases N     cases listed per program (10)
  -v            also list, for the last folder, every label that is not an
                address of the program and every address left a number

Each source item (an immediate operand or one data item) is put in a class:
  A  an expression with a symbol whose full value (before < or >) is the
     address of a byte the program's lines emitted (or one past a run)
  E  a symbol expression >= $100 outside that range (I/O, ROM, buffers,
     .logical targets)
  C  a symbol expression that is a constant: value < $100 (counts, colours,
     zero-page locations), or a difference of two in-range labels
  N  no symbol at all: numbers, characters, strings, .fill/.res
  U  cannot tell: macro lines, symbols not found, lines whose bytes do not
     add up, an in-range symbol hidden in a byte expression (>>, /, &)
A label of Tolvek's on bytes of class C or N is a constant written as a
label; an item of class A whose bytes Tolvek shows as a number is an
address written as a number.
"""
import bisect
import os
import re
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from score_real import LISTING_FILES, ListingError, number, read_info  # noqa: E402

# ---------------------------------------------------------------- 6502 opcodes
IMMEDIATE = {0x09, 0x29, 0x49, 0x69, 0x89, 0xA9, 0xC9, 0xE9, 0x0B, 0x2B, 0x4B, 0x6B, 0x8B, 0xAB, 0xCB, 0xEB,
             0x80, 0xA0, 0xC0, 0xE0, 0x82, 0xA2, 0xC2, 0xE2}


def length(op):
    """Bytes of the instruction with opcode op, illegal ones included."""
    c, r = op & 15, op >> 4
    if c in (1, 3, 4, 5, 6, 7):
        return 2
    if c == 0:
        return 2 if r & 1 or op in (0x80, 0xA0, 0xC0, 0xE0) else 3 if op == 0x20 else 1
    if c == 2:
        return 2 if op in (0x82, 0xA2, 0xC2, 0xE2) else 1
    if c in (8, 10):
        return 1
    if c in (9, 11):
        return 3 if r & 1 else 2
    return 3


MNEMONICS = set("""adc and asl bcc bcs beq bit bmi bne bpl brk bvc bvs clc cld cli clv cmp cpx cpy dec dex
dey eor inc inx iny jmp jsr lda ldx ldy lsr nop ora pha php pla plp rol ror rti rts sbc sec sed sei sta stx
sty tax tay tsx txa txs tya slo rla sre rra sax lax dcp isc isb anc alr asr arr ane xaa lxa sbx axs las lae
tas shs sha ahx shx sxa shy sya jam kil hlt dcm ins lse""".split())


# ---------------------------------------------------------------- source statements
def split_outside_quotes(text, separator, comment):
    """The parts of `text` between `separator`s that stand outside quotes and
    brackets, stripped, empty ones dropped; up to a ';' when `comment`."""
    out, cur, quote, depth = [], "", None, 0
    for c in text:
        if quote:
            quote = None if c == quote else quote
        elif c in "\"'":
            quote = c
        elif c == ";" and comment:
            break
        elif c in "([":
            depth += 1
        elif c in ")]":
            depth -= 1
        elif c == separator and depth == 0:
            out.append(cur)
            cur = ""
            continue
        cur += c
    out.append(cur)
    return [part.strip() for part in out if part.strip()]


def split_statements(text, dialect):
    """The statements of a source line, its comment dropped (ACME and ca65
    put several on a line with colons)."""
    return split_outside_quotes(text, None if dialect == "64tass" else ":", comment=True)


# Data directives per dialect, by the kind of items they take.
DATA = {
    "acme": {"byte": "!by !byte !8 !08".split(), "word": "!wo !word !16 !le16".split(), "be16": ["!be16"],
             "long": "!24 !le24".split(), "dword": "!32 !le32".split(),
             "text": "!tx !text !pet !raw !scr !scrxor".split(), "fill": "!fi !fill !align".split(),
             "hex": "!h !hex".split(), "bin": "!bin !binary".split()},
    "64tass": {"byte": ".byte .char".split(), "word": ".word .addr".split(), "rta": [".rta"], "long": [".long"],
               "dword": [".dword", ".dint"], "text": ".text .shift .shiftl .null .ptext".split(),
               "fill": [".fill", ".align"], "bin": [".binary"]},
    "ca65": {"byte": ".byte .byt".split(), "word": ".word .addr".split(), "be16": [".dbyt"],
             "long": [".faraddr"], "dword": [".dword"], "text": [".asciiz"], "fill": [".res", ".align"],
             "lobytes": [".lobytes"], "hibytes": [".hibytes"], "bin": [".incbin"]},
}


def statement(text, dialect):
    """(kind, word, operand) of one statement: kind is "code" (word is the
    mnemonic), "data" (word is the kind of DATA), "none" (a label alone) or
    "unknown" (a macro call, an assignment, any other directive)."""
    words = text.split(None, 1)
    for _ in range(3):
        if not words:
            return "none", None, None
        w = words[0].lower()
        if re.fullmatch(r"[a-z]{3}(\.[bwl]|\+[12])?", w) and w[:3] in MNEMONICS:
            return "code", w[:3], words[1].strip() if len(words) > 1 else ""
        for kind, names in DATA[dialect].items():
            if w in names:
                return "data", kind, words[1].strip() if len(words) > 1 else ""
        if re.fullmatch(r"[-+]+", w) and dialect != "ca65":
            words = words[1].split(None, 1) if len(words) > 1 else []  # an anonymous label
            continue
        if (dialect in ("64tass", "ca65") and w.startswith(".")) or (dialect == "acme" and w[:1] in "!+") \
                or w.startswith("*") or (len(words) > 1 and words[1].startswith("=")) or w.startswith("#"):
            return "unknown", w, None
        words = words[1].split(None, 1) if len(words) > 1 else []  # a label before the statement
    return "unknown", None, None


def split_items(text):
    """The comma-separated items of an operand, brackets and quotes kept whole."""
    return split_outside_quotes(text, ",", comment=False)


# ---------------------------------------------------------------- expressions
TOKEN = re.compile(r"""\s*(?:(?P<hex>\$[0-9a-fA-F]+|0x[0-9a-fA-F]+)|(?P<bin>%[01]+)|(?P<dec>[0-9]+)
    |(?P<chr>"[^"]"|'[^']')|(?P<str>"[^"]*"|'[^']*')|(?P<id>[.@_A-Za-z][A-Za-z0-9_.]*)
    |(?P<op><<|>>|[-+*/&|()\[\]<>^~!%=:]))""", re.X)


class Symbols:
    """Symbol values; a name defined more than once (local labels) has
    several, and the one nearest the line's address is taken."""

    def __init__(self):
        self.values = {}

    def add(self, name, value):
        self.values.setdefault(name, set()).add(value)

    def get(self, name, near):
        vals = self.values.get(name)
        if vals is None:
            folded = [v for k, vs in self.values.items() if k.lower() == name.lower() for v in vs]
            vals = set(folded) if folded else None
        if not vals:
            return None
        return min(vals, key=lambda v: abs(v - near)) if len(vals) > 1 else next(iter(vals))


def tokens(expr):
    """(kind, text) tokens of an expression, None when one is not understood."""
    out, pos = [], 0
    while pos < len(expr):
        m = TOKEN.match(expr, pos)
        if not m or m.end() == pos:
            if expr[pos:].strip() == "":
                break
            return None
        pos = m.end()
        out.append((m.lastgroup, m.group(m.lastgroup)))
    return out


def evaluate(toks, symbols, pc, ids):
    """The value of an expression's tokens, or None; ids collects the
    (name, value) of each symbol used (* is the program counter)."""
    py, prev_operand = [], False
    for kind, t in toks:
        if kind == "hex":
            py.append(str(int(t[1:] if t[0] == "$" else t[2:], 16)))
        elif kind == "bin":
            py.append(str(int(t[1:], 2)))
        elif kind == "dec":
            py.append(t)
        elif kind == "chr":
            py.append(str(ord(t[1])))
        elif kind == "id" and t.lower() == "xor":
            py.append("^")
        elif kind == "id":
            v = symbols.get(t, pc)
            ids.append((t, v))
            if v is None:
                return None
            py.append(str(v))
        elif kind == "op":
            if t == "*" and not prev_operand:
                ids.append(("*", pc))
                py.append(str(pc))
                prev_operand = True
                continue
            if t in "([":
                py.append("(")
            elif t in ")]":
                py.append(")")
            elif t in ("<<", ">>", "&", "|", "+", "-", "*", "~"):
                py.append(t)
            elif t == "/":
                py.append("//")
            else:
                return None
        else:
            return None
        prev_operand = kind != "op" or t in ")]"
    try:
        return int(eval(" ".join(py), {"__builtins__": {}}, {}))
    except Exception:
        return None


# ---------------------------------------------------------------- the source's items
class Program:
    """One program of the corpus: what each byte of it is in the source.

    bytes maps an address to (role, class, part, item, expression, value,
    where, source line); role is "opc" or "opr" (an opcode or an operand
    byte other than an immediate), "imm", "data", "bin" (an included file)
    or "unk" (a line that cannot be followed)."""

    def __init__(self, info):
        self.info = info
        self.name = info["name"]
        self.folder = info["folder"]
        with open(self.path(".prg"), "rb") as f:
            data = f.read()
        self.load, self.image = data[0] | data[1] << 8, data[2:]
        self.end = self.load + len(self.image)
        self.dialect = info["listing"]
        moved = [number(v) for v in info.get("moved", "").split()]
        self.shift = moved[1] - moved[0] if moved else 0
        self.symbols = Symbols()
        self.pieces = []  # [address, size, source text, "code"/"data"/None, pc, where]
        {"64tass": self.read_64tass, "acme": self.read_acme, "ca65": self.read_ca65}[self.dialect]()
        self.owned = set()
        self.bytes = {}
        self.build()

    def path(self, ext):
        return os.path.join(self.folder, self.name + ext)

    def byte(self, a):
        return self.image[a - self.load] if self.load <= a < self.end else None

    # ---- the assemblers' records
    def read_64tass(self):
        with open(self.path(".sym"), encoding="latin-1") as f:
            for raw in f:
                m = re.match(r"\s*([A-Za-z_][\w.]*)\s*:?=\s*([-~$%0-9a-fA-F]+|\"[^\"]\")\s*(;.*)?$", raw)
                toks = tokens(m.group(2)) if m else None
                v = evaluate(toks, Symbols(), 0, []) if toks else None
                if v is not None:
                    self.symbols.add(m.group(1), v)
        logical = False
        cur = None
        left_out = set(self.info.get("unscored", "").split())
        source = ""
        with open(self.path(LISTING_FILES["64tass"]), encoding="latin-1") as f:
            lines = [raw.rstrip("\n") for raw in f]
        for number_, raw in enumerate(lines, 1):
            h = re.match(r"^(?::\d+\t)?;\*{6}  (?:Processing (?:input )?file|Return to file): (.*)$", raw)
            if h:
                source = os.path.basename(h.group(1).strip('"').replace("\\", "/"))
                continue
            if raw.startswith(";Offset") or raw.startswith(";Line"):
                logical = ";PC" in raw.split("\t")
                continue
            m = re.match(r"^(?:\d*\t)?([.>])([0-9a-f]{4,6})\t" + (r"([0-9a-f]{4,6})?\t" if logical else "()")
                         + r"((?:[0-9a-f]{2} )*[0-9a-f]{2})?(?:\t(.*))?$", raw)
            if not m:
                continue
            kind, addr, pc, digits, rest = m.groups()
            addr = int(addr, 16)
            pc = int(pc, 16) if pc else addr
            rest = (rest or "").lstrip("\t")
            if kind == "." and digits:  # an instruction row holds the monitor's text first
                src = rest.split("\t", 1)[1] if "\t" in rest else ""
            else:
                src = rest
            label = re.match(r"([A-Za-z_][\w]*)\b", src)
            if label and src[:1] not in " \t" and label.group(1).lower()[:3] not in MNEMONICS | {""}:
                if self.symbols.get(label.group(1), pc) is None:  # a local label the list left out
                    self.symbols.add(label.group(1), pc)
            if not digits:
                continue
            shown = [int(d, 16) for d in digits.split()]
            where = "%s.lst:%d" % (self.name, number_)
            if kind == ">" and not src.strip() and cur is not None and cur[3] == "data" \
                    and cur[0] + cur[1] == addr:
                cur[1] += len(shown)  # more bytes of the data statement above
                continue
            text = src.strip() if source not in left_out else "#left out (unscored) " + src.strip()
            cur = [addr, len(shown), text, "code" if kind == "." else "data", pc, where]
            self.pieces.append(cur)

    def read_acme(self):
        with open(self.path(".sym"), encoding="latin-1") as f:
            for raw in f:
                m = re.match(r"\s*([.A-Za-z_][\w.]*)\s*=\s*(\$[0-9a-fA-F]+|-?\d+)", raw)
                if m:
                    v = m.group(2)
                    self.symbols.add(m.group(1), int(v[1:], 16) if v[0] == "$" else int(v))
        lines = []
        with open(self.path(LISTING_FILES["acme"]), encoding="latin-1") as f:
            report = [raw.rstrip("\n") for raw in f]
        for number_, raw in enumerate(report, 1):
            m = re.fullmatch(r" *(\d+)  (?:([0-9a-f]{4}) ((?:[0-9a-f]{2}){1,8})(\.\.\.)?)? *", raw[:32])
            if not m or not m.group(2):
                continue
            text = raw[32:]
            a = int(m.group(2), 16) + self.shift
            lines.append([a, len(m.group(3)) // 2, bool(m.group(4)), text, "%s.report:%d" % (self.name, number_)])
            label = re.match(r"([.A-Za-z_][\w.]*)", text)
            if label and label.group(1).lower() not in MNEMONICS:
                if self.symbols.get(label.group(1), a) is None or label.group(1).startswith("."):
                    self.symbols.add(label.group(1), a)  # local labels are not in the list
        starts = sorted({line[0] for line in lines})
        for a, n, cut_off, text, where in lines:
            if cut_off:  # the line owns everything up to the next line's address
                higher = starts[bisect.bisect_right(starts, a):]
                n = (higher[0] if higher else self.end) - a
            self.pieces.append([a, n, text.strip(), None, a, where])

    def read_ca65(self):
        records = {}
        with open(self.path(LISTING_FILES["ca65"]), encoding="latin-1") as f:
            for raw in f:
                kind, _, rest = raw.rstrip("\n").partition("\t")
                fields = {k: v.strip('"') for k, v in re.findall(r'(\w+)=("[^"]*"|[^,]*)', rest)}
                if "id" in fields:
                    records.setdefault(kind, {})[fields["id"]] = fields
        for s in records.get("sym", {}).values():
            if "val" in s:
                self.symbols.add(s["name"], int(s["val"], 16))
        owner = {}  # span -> the line that emitted it (inside a macro: the body's line)
        for line in records.get("line", {}).values():
            for span in filter(None, line.get("span", "").split("+")):
                if span not in owner or int(line.get("type", 0)) > int(owner[span].get("type", 0)):
                    owner[span] = line
        texts = {}
        sources = os.path.join(self.folder, self.info.get("sources", "."))
        for sid, span in sorted(records["span"].items(), key=lambda kv: int(kv[0])):
            line = owner.get(sid)
            seg = records["seg"][span["seg"]]
            if line is None or "oname" not in seg:
                continue
            a = int(seg["start"], 16) + int(span["start"])
            path = records["file"][line["file"]]["name"]
            if path not in texts:
                with open(os.path.join(sources, path), encoding="latin-1") as f:
                    texts[path] = f.read().splitlines()
            n = int(line["line"])
            text = texts[path][n - 1] if n <= len(texts[path]) else ""
            macro = int(line.get("type", 0)) > 1
            self.pieces.append([a, int(span["size"]), text.strip() if not macro else "#macro " + text.strip(),
                                None, a, "%s:%d" % (path, n)])

    # ---- classes
    def in_range(self, v):
        return v in self.owned or (v - 1 in self.owned)

    def classify(self, expr, part, pc, emitted):
        """(class, value) of one item. part: "word" (emitted is the word the
        item gave), or "byte" (emitted is the byte; "lo" and "hi" when the
        expression takes < or > of a value)."""
        e = expr.strip()
        if e.startswith("#"):
            e = e[1:].strip()
        if part in ("byte", "lo", "hi"):
            low = e.lower()
            if e[:1] in "<>":
                part, e = ("lo" if e[0] == "<" else "hi"), e[1:].strip()
            elif low.startswith(".lobyte") or low.startswith(".hibyte"):
                part, e = ("lo" if low.startswith(".lo") else "hi"), e[7:].strip()
            elif e[:1] in "^`":
                return "C", None
        toks = tokens(e)
        if toks is None:
            return "U", None
        if any(k == "str" for k, _ in toks):
            return ("N", None) if not any(k == "id" for k, _ in toks) else ("U", None)
        has_symbol = any(k == "id" for k, _ in toks) or any(
            k == "op" and t == "*" and (i == 0 or toks[i - 1][0] == "op" and toks[i - 1][1] not in ")]")
            for i, (k, t) in enumerate(toks))
        if not has_symbol:
            return "N", None
        ids = []
        v = evaluate(toks, self.symbols, pc, ids)
        if part == "word":
            v = emitted
        elif part == "byte":
            if v is None:  # a name not found: a constant unless part of an address is taken
                return ("U", None) if re.search(r">>|/|&", e) else ("C", None)
            inside = [n for n, x in ids if x is not None and self.in_range(x)]
            if len(inside) >= 2 and "-" in e:
                return "C", v
            if inside and re.search(r">>|/|&", e):
                return "U", v
            return "C", v  # a whole byte: the assembler checked that it fits
        else:  # lo / hi of v
            if v is None:
                return "U", None
            if ((v if part == "lo" else v >> 8) & 0xFF) != emitted:
                return "U", v
        v &= 0xFFFF
        if self.in_range(v):
            # an address only when a symbol of the expression is one (or is
            # not found): outside symbols whose sum lands inside are not
            if any(x is None or self.in_range(x & 0xFFFF) for _, x in ids):
                return "A", v
            return "E", v
        return ("C", v) if v < 0x100 else ("E", v)

    def build(self):
        for a, n, text, hint, pc, where in self.pieces:
            self.owned.update(range(a, a + n))
        for a, n, text, hint, pc, where in self.pieces:
            self.assign(a, n, text, hint, pc, where)

    def assign(self, a, n, text, hint, pc, where):
        """Records what each of the n bytes one source line emitted is."""
        stmts = [] if text.startswith("#") else split_statements(text, self.dialect)
        recs = []  # per byte: (role, class, part, item, expression, value)
        ok = True
        for si, st in enumerate(stmts):
            kind, word, operand = statement(st, self.dialect)
            if kind == "none":
                continue
            if kind == "unknown":
                ok = False
                break
            at = a + len(recs)
            if kind == "code":
                op = self.byte(at)
                if op is None:
                    ok = False
                    break
                recs.append(("opc", "X", None, None, st, None))
                if op in IMMEDIATE and operand.startswith("#"):
                    cls, v = self.classify(operand, "byte", pc + len(recs) - 1, self.byte(at + 1))
                    recs.append(("imm", cls, "byte", (where, si, 0), operand, v))
                else:
                    recs += [("opr", "X", None, None, st, None)] * (length(op) - 1)
                continue
            r = self.data_items(word, operand, at, pc + len(recs), n - len(recs), (where, si), st)
            if r is None:
                ok = False
                break
            recs += r
        if hint == "code" and not stmts:
            ok = False
        if not ok or len(recs) != n:
            kind = "bin" if any(statement(s, self.dialect)[1] == "bin" for s in stmts) else "unk"
            recs = [(kind, "U", None, None, text, None)] * n
        for k, r in enumerate(recs):
            if self.load <= a + k < self.end:
                self.bytes[a + k] = r + (where, text)

    def data_items(self, word, operand, at, pc, room, key, st):
        """The byte records of one data statement, None when its bytes cannot be followed."""
        if word == "bin":
            return None
        if word == "hex":
            return [("data", "N", None, key + (0,), st, None)] * room
        if word == "fill":  # the count, then the value: a number or a constant
            value = split_items(operand)[1:]
            toks = tokens(value[0]) if value else []
            if toks is None:
                return None
            return [("data", "C" if any(k == "id" for k, _ in toks) else "N", None, key + (0,), st, None)] * room
        items = split_items(operand)
        out = []
        for i, it in enumerate(items):
            k = key + (i,)
            if word in ("byte", "text") and len(it) >= 2 and it[:1] in "\"'" and it[-1:] == it[:1]:
                out += [("data", "N", None, k, it, None)] * (len(it) - 2)
                continue
            if word in ("byte", "text", "lobytes", "hibytes"):
                part = {"lobytes": "lo", "hibytes": "hi"}.get(word, "byte")
                e = ("<" if part == "lo" else ">" if part == "hi" else "") + it
                cls, v = self.classify(e, "byte", pc + len(out), self.byte(at + len(out)))
                out.append(("data", cls, "byte", k, it, v))
            elif word in ("word", "be16", "rta"):
                b0, b1 = self.byte(at + len(out)), self.byte(at + len(out) + 1)
                if b0 is None or b1 is None:
                    return None
                val = (b1 << 8 | b0) if word != "be16" else (b0 << 8 | b1)
                if word == "rta":
                    val = (val + 1) & 0xFFFF
                cls, v = self.classify(it, "word", pc + len(out), val)
                parts = ("lo", "hi") if word != "be16" else ("hi", "lo")
                out += [("data", cls, parts[0], k, it, v), ("data", cls, parts[1], k, it, v)]
            else:  # long / dword: only numbers are told apart
                size = 3 if word == "long" else 4
                cls = "N" if not re.search(r"[A-Za-z_*]", it) else "U"
                out += [("data", cls, None, k, it, None)] * size
        if word == "text":
            low = st.lower()
            if ".null" in low or ".asciiz" in low:
                out.append(("data", "N", None, key + (len(items),), "0", None))
            if ".ptext" in low:
                out.insert(0, ("data", "N", None, key + (-1,), "len", None))
        return out


# ---------------------------------------------------------------- Tolvek's listing
ROW = re.compile(r"^([0-9a-f]{4})  ((?:[0-9a-f]{2} )*[0-9a-f]{2})  +(.*)$")
NUMBER = re.compile(r"\$[0-9a-f]+|%[01]+|[0-9]+|\"[^\"]\"|'[^']'")
LABEL = re.compile(r"\(?([LD])([0-9a-f]{4})(?:([+-])(\$[0-9a-f]+|[0-9]+))?\)?")


def strip_comment(t):
    q = None
    for i, c in enumerate(t):
        if q:
            q = None if c == q else q
        elif c in "\"'":
            q = c
        elif c == ";":
            return t[:i].strip()
    return t.strip()


def target(expr):
    """The address a label expression of Tolvek's (L1234, D1234+2) stands for."""
    m = LABEL.fullmatch(expr)
    if not m:
        return None
    v = int(m.group(2), 16)
    if m.group(3):
        d = m.group(4)
        d = int(d[1:], 16) if d[0] == "$" else int(d)
        v += d if m.group(3) == "+" else -d
    return v & 0xFFFF


def tolvek_item(a, size, it, row):
    part = "word" if size == 2 else "whole"
    e = it
    if e[:1] in "<>":
        part, e = ("lo" if e[0] == "<" else "hi"), e[1:]
    is_label = not NUMBER.fullmatch(e)
    return (a, size, is_label, part, it, target(e) if is_label else None, row)


def tolvek_items(lines):
    """(address, size, is_label, part, text, target, row) of each immediate
    operand and !byte / !word item of a listing's lines."""
    items = []
    for raw in lines:
        m = ROW.match(raw.rstrip("\n"))
        if not m:
            continue
        a = int(m.group(1), 16)
        text = strip_comment(m.group(3))
        word, _, operand = text.partition(" ")
        operand = operand.strip()
        if word in ("!byte", "!word"):
            size = 1 if word == "!byte" else 2
            for i, it in enumerate(split_items(operand)):
                items.append(tolvek_item(a + i * size, size, it, text))
        elif operand.startswith("#"):
            items.append(tolvek_item(a + 1, 1, operand[1:], text))
    return items


# ---------------------------------------------------------------- comparison
COLUMNS = ("items", "labels", "const_as_label", "ext_as_label", "label_on_code", "label_no_source",
           "label_unknown", "label_wrong_addr", "src_addr", "addr_as_label", "addr_as_number", "addr_not_item",
           "src_const", "src_unknown", "items_unknown")
HEADS = ("Titems", "Tlabels", "CONST>L", "ext>L", "L@insn", "L@bin", "L?", "L!=addr", "srcAddr", "asLabel",
         "ADDR>N", "notItem", "srcNum", "srcUnk", "T@unk")


def compare(prog, lines):
    """(counts, constants written as labels, labels to another address,
    details) of one Tolvek listing against the program's source."""
    items = tolvek_items(lines)
    shown = {}  # address -> Tolvek's item holding it
    for t in items:
        for k in range(t[1]):
            shown[t[0] + k] = t
    c = dict.fromkeys(COLUMNS, 0)
    cases, wrong_addr = [], []
    detail = []  # (category, address, Tolvek's text, source line)
    for a, size, is_label, part, text, tgt, row in items:
        c["items"] += 1
        if any(prog.bytes.get(a + k, ("",))[0] == "unk" for k in range(size)):
            c["items_unknown"] += 1
        if not is_label:
            continue
        c["labels"] += 1
        recs = [prog.bytes.get(a + k) for k in range(size)]
        if any(r is None or r[0] == "bin" for r in recs):
            c["label_no_source"] += 1
            detail.append(("label_no_source", a, text, recs[0][7] if recs[0] else None))
            continue
        if any(r[0] in ("opc", "opr") for r in recs):
            c["label_on_code"] += 1
            detail.append(("label_on_code", a, text, recs[0][7]))
            continue
        classes = {r[1] for r in recs}
        if classes & {"N", "C"}:
            c["const_as_label"] += 1
            cases.append((a, text, recs[0][7], recs[0][6], "".join(sorted(classes))))
        elif "U" in classes:
            c["label_unknown"] += 1
            detail.append(("label_unknown", a, text, recs[0][7]))
        elif "E" in classes:
            c["ext_as_label"] += 1
            detail.append(("ext_as_label", a, text, recs[0][7]))
        else:
            v = recs[0][5]
            if tgt is not None and v is not None and tgt != v:
                c["label_wrong_addr"] += 1
                wrong_addr.append((a, text, recs[0][7], "$%04x" % v))
    # the source's items, each once
    by_item = {}
    for a, r in prog.bytes.items():
        if r[0] in ("imm", "data") and r[3] is not None:
            by_item.setdefault(r[3], []).append((a, r))
    for rs in by_item.values():
        cls = rs[0][1][1]
        if cls == "U":
            c["src_unknown"] += 1
        if cls in ("N", "C"):
            c["src_const"] += 1
        if cls != "A":
            continue
        c["src_addr"] += 1
        ts = [shown.get(a) for a, _ in rs]
        if any(t is None for t in ts):
            c["addr_not_item"] += 1
            detail.append(("addr_not_item", rs[0][0], None, rs[0][1][7]))
        elif any(not t[2] for t in ts):
            c["addr_as_number"] += 1
            detail.append(("addr_as_number", rs[0][0], ts[0][6], rs[0][1][7]))
        else:
            c["addr_as_label"] += 1
    return c, cases, wrong_addr, detail


LEGEND = """\
Titems: immediates and !byte/!word items in Tolvek's listing, Tlabels: those written as labels;
of the labels: CONST>L on a constant or number of the source, ext>L on an address outside the
program, L@insn on instruction bytes, L@bin on included or unlisted bytes, L? on items not told,
L!=addr to another address than the source's. srcAddr: address items of the source; shown as
asLabel, ADDR>N as a number, notItem not as one item. srcNum: constant and number items of the
source, srcUnk: items not told, T@unk: Tolvek's items on lines that cannot be followed."""


def main(argv):
    verbose = "-v" in argv
    argv = [a for a in argv if a != "-v"]
    ncases = 10
    if argv[:1] == ["--cases"] and len(argv) > 1:
        ncases, argv = int(argv[1]), argv[2:]
    if len(argv) < 2:
        sys.exit(__doc__.strip())
    corpus, folders = argv[0], argv[1:]
    names = sorted(f[:-len(".info")] for f in os.listdir(corpus) if f.endswith(".info"))
    if not names:
        sys.exit("score_labels.py: no NAME.info in %s" % corpus)
    progs = {}
    for n in names:
        try:
            progs[n] = Program(read_info(os.path.join(corpus, n + ".info")))
        except (ListingError, OSError, ValueError, KeyError) as e:
            sys.exit("score_labels.py: %s: %s" % (n, e))
    results = {}
    for folder in folders:
        print("== %s" % folder)
        print("%-19s" % "" + "".join("%8s" % h for h in HEADS))
        total = dict.fromkeys(COLUMNS, 0)
        for n in names:
            try:
                with open(os.path.join(folder, n + ".lst"), encoding="latin-1") as f:
                    results[(folder, n)] = compare(progs[n], f.readlines())
            except OSError as e:
                sys.exit("score_labels.py: %s" % e)
            c = results[(folder, n)][0]
            for k in COLUMNS:
                total[k] += c[k]
            print("%-19s" % n + "".join("%8d" % c[k] for k in COLUMNS))
        print("%-19s" % "all" + "".join("%8d" % total[k] for k in COLUMNS))
    print(LEGEND)
    last = folders[-1]
    print("\n== constant as label, %s (first %d per program)" % (last, ncases))
    for n in names:
        for a, row, src, expr, cls in results[(last, n)][1][:ncases]:
            print("%-17s $%04x  %-30s | %-40s [%s]" % (n, a, row[:30], src[:60], cls))
    print("\n== label to another address than the source's, %s" % last)
    for n in names:
        for a, row, src, v in results[(last, n)][2][:ncases]:
            print("%-17s $%04x  %-30s | %-40s src=%s" % (n, a, row[:30], src[:60], v))
    if verbose:
        print("\n== every label not to the program and every address not a label, %s" % last)
        for n in names:
            for cat, a, text, src in sorted(results[(last, n)][3], key=lambda d: (d[0], d[1])):
                print("%-17s %-15s $%04x  %-30s | %s" % (n, cat, a, (text or "")[:30], (src or "")[:60]))


if __name__ == "__main__":
    main(sys.argv[1:])
