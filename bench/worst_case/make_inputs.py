#!/usr/bin/env python3
"""Writes inputs made to be slow for Tolvek.exe and prgdis into the folder
given: program files (most with a BASIC line that calls their code) and a
hints file. Each is a pattern an attacker, or an unlucky program, can
choose; bench/worst_case/run.sh times them.

Usage: make_inputs.py FOLDER
"""
import random
import sys
from pathlib import Path


class Program:
    """Just enough of an assembler: bytes, labels and 16-bit fix-ups."""

    def __init__(self, load=0x0801):
        self.load = load
        self.bytes = bytearray()
        self.labels = {}
        self.fixups = []  # (offset, label, kind): kind "word", "branch" or "sys"

    @property
    def here(self):
        return self.load + len(self.bytes)

    def label(self, name):
        self.labels[name] = self.here
        return self

    def b(self, *values):
        self.bytes += bytes(values)
        return self

    def op(self, opcode, target):
        """An instruction with a 16-bit operand: a number or a label."""
        self.bytes.append(opcode)
        if isinstance(target, str):
            self.fixups.append((len(self.bytes), target, "word"))
            target = 0
        self.bytes += (target & 0xFFFF).to_bytes(2, "little")
        return self

    def branch(self, opcode, target):
        self.bytes.append(opcode)
        self.fixups.append((len(self.bytes), target, "branch"))
        self.bytes.append(0)
        return self

    def basic(self, *targets):
        """BASIC lines at the load address, one SYS per label, numbers
        written with five digits so that the lines' length is known."""
        for number, target in enumerate(targets):
            start = len(self.bytes)
            self.bytes += b"\0\0" + (10 * (number + 1)).to_bytes(2, "little") + b"\x9e"
            self.fixups.append((len(self.bytes), target, "sys"))
            self.bytes += b"00000\0"
            self.bytes[start:start + 2] = self.here.to_bytes(2, "little")
        self.bytes += b"\0\0"
        return self

    def prg(self):
        out = bytearray(self.bytes)
        for offset, name, kind in self.fixups:
            value = self.labels[name]
            if kind == "word":
                out[offset:offset + 2] = value.to_bytes(2, "little")
            elif kind == "branch":
                distance = value - (self.load + offset + 1)
                assert -128 <= distance <= 127, name
                out[offset] = distance & 0xFF
            else:
                out[offset:offset + 5] = b"%05d" % value
        return self.load.to_bytes(2, "little") + bytes(out)


def fill_and_call(p):
    """Fills $0900-$FFFF with rts and calls each address once."""
    p.label("fill_and_call")
    p.b(0xA9, 0x00, 0x85, 0xFB, 0xA9, 0x09, 0x85, 0xFC)  # lda #0 / sta $fb / lda #9 / sta $fc
    p.b(0xA0, 0x00, 0xA9, 0x60)                          # ldy #0 / lda #$60
    p.label("fill").b(0x91, 0xFB, 0xC8).branch(0xD0, "fill")  # sta ($fb),y / iny / bne
    p.b(0xE6, 0xFC).branch(0xD0, "fill")                 # inc $fc / bne
    p.b(0xA9, 0x09, 0x85, 0xFC)                          # lda #9 / sta $fc
    p.label("call").op(0x20, "through")                  # jsr through
    p.b(0xE6, 0xFB).branch(0xD0, "call")                 # inc $fb / bne
    p.b(0xE6, 0xFC).branch(0xD0, "call")                 # inc $fc / bne
    p.b(0x60)
    p.label("through").op(0x6C, 0x00FB)                  # jmp ($00fb)


def looping_routine(p):
    """A routine that pulls its return address and loops 65 536 times, then
    returns to its caller's caller."""
    p.label("looping").b(0x68, 0xA8, 0x68, 0xAA)         # pla / tay / pla / tax
    p.label("loop").b(0x88).branch(0xD0, "loop").b(0xCA).branch(0xD0, "loop")
    p.b(0x60)


def rts_fill(entries):
    p = Program()
    p.basic(*[f"stub{i}" for i in range(entries)])
    for i in range(entries):
        p.label(f"stub{i}").op(0x4C, "fill_and_call")
    fill_and_call(p)
    return p.prg()


def pulled_return(calls):
    p = Program()
    p.basic("calls")
    looping_routine(p)
    p.label("calls")
    for _ in range(calls):
        p.op(0x20, "looping")
    p.b(0x60)
    return p.prg()


def both():
    """The two above in one program of about 60 KB."""
    p = Program()
    p.basic("fill_and_call", "calls")
    fill_and_call(p)
    looping_routine(p)
    p.label("calls")
    while p.here < 0xF000:
        p.op(0x20, "looping")
    p.b(0x60)
    return p.prg()


def filled(byte, load=0x0801):
    return load.to_bytes(2, "little") + bytes([byte]) * (0x10000 - load)


def random_image(seed, load=0x0801):
    rng = random.Random(seed)
    return load.to_bytes(2, "little") + bytes(rng.randrange(256) for _ in range(0x10000 - load))


def jsr_chain():
    """Calls nested 20 000 deep: each jsr calls the next one."""
    p = Program()
    p.basic("chain")
    p.label("chain")
    for _ in range(20000):
        p.op(0x20, p.here + 3)
    p.b(0x60)
    return p.prg()


def words_into_themselves():
    """30 000 words, each the address of another of them, read by code as
    pointers and jumped through."""
    p = Program()
    p.basic("read")
    p.label("read").b(0xA2, 0x00)                        # ldx #0
    p.op(0xBD, "table").b(0x85, 0xFB)                    # lda table,x / sta $fb
    p.op(0xBD, "table_high").b(0x85, 0xFC)               # lda table+1,x / sta $fc
    p.op(0x6C, 0x00FB)                                   # jmp ($00fb)
    p.label("table")
    rng = random.Random(7)
    start = p.here
    p.labels["table_high"] = start + 1
    for _ in range(30000):
        p.b(*(start + 2 * rng.randrange(30000)).to_bytes(2, "little"))
    return p.prg()


def petscii_text():
    text = b"HELLO WORLD, THIS IS A LONG LINE OF TEXT. " * 1500
    return (0x0801).to_bytes(2, "little") + text[:0xF7FF]


def fill_with_nops(p, first_page):
    """Code that fills the pages from `first_page` up to $BFFF with nops."""
    p.b(0xA9, 0x00, 0x85, 0xFB, 0xA9, first_page, 0x85, 0xFC)          # $fb/$fc = the first page
    p.b(0xA0, 0x00, 0xA9, 0xEA)                                        # ldy #0 / lda #$ea
    p.label("page").b(0x91, 0xFB, 0xC8).branch(0xD0, "page")           # sta ($fb),y / iny / bne
    p.b(0xE6, 0xFC, 0xA6, 0xFC, 0xE0, 0xC0).branch(0xD0, "page")       # inc $fc / ldx $fc / cpx #$c0 / bne


def copied_nops():
    """30 000 nops and an rts; the code fills $8000-$BFFE with nops, puts an
    rts after them and runs them: their bytes occur in the image again and
    again, but never all of them."""
    p = Program()
    p.basic("copy")
    p.label("copy")
    fill_with_nops(p, 0x80)
    p.b(0xA9, 0x60).op(0x8D, 0xBFFF).op(0x4C, 0x8000)                  # lda #$60 / sta $bfff / jmp $8000
    p.b(*([0xEA] * 30000), 0x60)
    return p.prg()


def pieces():
    """Writes `nop nop nop rts` every 8 bytes from $2000 up and calls each:
    thousands of pieces of written code, each looked for in the image."""
    p = Program()
    p.basic("pieces")
    p.label("pieces").b(0xA9, 0x00, 0x85, 0xFB, 0xA9, 0x20, 0x85, 0xFC)  # $fb/$fc = $2000
    p.label("piece").b(0xA0, 0x00, 0xA9, 0xEA, 0x91, 0xFB, 0xC8, 0x91, 0xFB, 0xC8, 0x91, 0xFB, 0xC8)
    p.b(0xA9, 0x60, 0x91, 0xFB)                                         # nop nop nop rts at ($fb)
    p.op(0x20, "through")                                               # jsr through
    p.b(0x18, 0xA5, 0xFB, 0x69, 0x08, 0x85, 0xFB)                       # clc / lda $fb / adc #8 / sta $fb
    p.branch(0x90, "piece").b(0xE6, 0xFC, 0xA5, 0xFC, 0xC9, 0xD0)       # bcc / inc $fc / lda $fc / cmp #$d0
    p.branch(0xD0, "piece").b(0x60)                                     # bne piece / rts
    p.label("through").op(0x6C, 0x00FB)
    p.b(*([0xEA, 0xEA, 0xEA, 0xEA] * 2000))                             # near matches in the image
    return p.prg()


def basic_lines():
    """A BASIC program of thousands of lines, each with two SYS."""
    out = bytearray()
    address = 0x0801
    for number in range(6000):
        line = number.to_bytes(2, "little") + b"\x9e2061:\x9e" + str(0x0801 + number).encode() + b"\0"
        following = address + 2 + len(line)
        if following > 0xFF00:
            break
        out += following.to_bytes(2, "little") + line
        address = following
    out += b"\0\0"
    return (0x0801).to_bytes(2, "little") + bytes(out)


def one_byte_ranges():
    """A hints file of 65 280 one-byte ranges, for an image of $0100-$FFFF."""
    kinds = ["bytes", "text", "screen"]
    return "".join(f"{kinds[i % 3]} ${a:04x}-${a:04x}\n" for i, a in enumerate(range(0x0100, 0x10000)))


def jumps_through_vectors():
    """8 000 jumps through vectors of their own in the image, each reached
    past a branch and each vector leading to the same rts."""
    p = Program()
    p.basic("jumps")
    p.label("jumps")
    count = 8000
    vectors = p.here + 5 * count + 1
    for i in range(count):
        p.b(0xD0, 0x03)                                  # bne past the jump
        p.op(0x6C, vectors + 2 * i)                      # jmp (vector i)
    target = p.here
    p.b(0x60)
    for _ in range(count):
        p.b(*target.to_bytes(2, "little"))
    return p.prg()


def jumps_to_routines_of_their_own():
    """5 000 jumps through vectors of their own in the image, each reached
    past a branch and each vector leading to a routine of its own: each
    routine found is new code, whose writes the next vector is checked
    against."""
    p = Program()
    p.basic("jumps")
    p.label("jumps")
    count = 5000
    vectors = p.here + 5 * count + 1
    routines = vectors + 2 * count
    for i in range(count):
        p.b(0xD0, 0x03)                                  # bne past the jump
        p.op(0x6C, vectors + 2 * i)                      # jmp (vector i)
    p.b(0x60)
    for i in range(count):
        p.b(*(routines + 3 * i).to_bytes(2, "little"))
    for i in range(count):
        p.b(0x86, 0x02, 0x60)                            # stx $02 / rts
    return p.prg()


def rewritten_entry():
    """Fills $2000-$BFFF, puts `nop / jmp back` at $2000 and then, over and
    over, stores the nop again and jumps there from the image: each time
    the code at $2000 runs as new code, written over where it ran, and the
    40 KiB around it are what would be handed over to."""
    p = Program()
    p.basic("fill")
    p.label("fill")
    fill_with_nops(p, 0x20)
    p.b(0xA9, 0x4C).op(0x8D, 0x2001)                                   # jmp again at $2001
    again = p.here + 10
    p.b(0xA9, again & 0xFF).op(0x8D, 0x2002).b(0xA9, again >> 8).op(0x8D, 0x2003)
    p.label("again").b(0xA9, 0xEA).op(0x8D, 0x2000).op(0x4C, 0x2000)   # lda #$ea / sta $2000 / jmp $2000
    assert p.labels["again"] == again
    return p.prg()


def endless_rewriting():
    """Copies a loop to $C000 that rewrites $2000-$BFFF through a (zp),y
    pointer for ever: code it wrote, at work all the time, so the budget
    grows to its ceiling."""
    p = Program()
    p.basic("start")
    loop = [0xA9, 0x00, 0x85, 0xFB, 0xA9, 0x20, 0x85, 0xFC, 0xA0, 0x00,  # $fb/$fc = $2000 / ldy #0
            0xB1, 0xFB, 0x49, 0xFF, 0x91, 0xFB,                          # lda ($fb),y / eor #$ff / sta ($fb),y
            0xE6, 0xFB, 0xD0, 0xF6,                                      # inc $fb / bne
            0xE6, 0xFC, 0xA5, 0xFC, 0xC9, 0xC0, 0xD0, 0xEE,              # inc $fc / lda $fc / cmp #$c0 / bne
            0x4C, 0x00, 0xC0]                                            # jmp $c000
    p.label("start").b(0xA2, len(loop) - 1)                              # ldx #
    p.label("copy").op(0xBD, "code").op(0x9D, 0xC000)                    # lda code,x / sta $c000,x
    p.b(0xCA).branch(0x10, "copy").op(0x4C, 0xC000)                      # dex / bpl / jmp $c000
    p.label("code").b(*loop)
    return p.prg()


def main():
    folder = Path(sys.argv[1])
    folder.mkdir(parents=True, exist_ok=True)
    cases = {
        "rts_fill": rts_fill(1),
        "rts_fill_8_sys": rts_fill(8),
        "pulled_return": pulled_return(20000),
        "both_60k": both(),
        "nops_64k": filled(0xEA),
        "brk_64k": filled(0x00),
        "random_64k_1": random_image(1),
        "random_64k_2": random_image(2),
        "random_from_0": random_image(3, load=0x0000),
        "jsr_chain": jsr_chain(),
        "words_into_themselves": words_into_themselves(),
        "jumps_through_vectors": jumps_through_vectors(),
        "jumps_to_routines_of_their_own": jumps_to_routines_of_their_own(),
        "petscii_text": petscii_text(),
        "copied_nops": copied_nops(),
        "pieces": pieces(),
        "rewritten_entry": rewritten_entry(),
        "endless_rewriting": endless_rewriting(),
        "basic_lines": basic_lines(),
        "one_byte_ranges": filled(0xEA, load=0x0100),
    }
    for name, data in cases.items():
        assert len(data) <= 0x10002, name
        (folder / f"{name}.prg").write_bytes(data)
    (folder / "one_byte_ranges.hints").write_text(one_byte_ranges())


if __name__ == "__main__":
    main()
