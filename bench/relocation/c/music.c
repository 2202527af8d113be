/* music: plays two little tunes on the SID's first voice, one after the
   other, showing each tune's name and the note being played.

   Traps for a disassembler moving this program:
   - the tunes are bytes in pairs (note, length): a note of $01-$19 and a
     length of $08 read as a word is $0801-$0819, an address inside the
     program, and the tunes are read through a pointer the way a table of
     addresses is read;
   - the frequency table holds PAL SID frequencies, unsigned ints from
     $0836 (B2) up to $22ce (C5), read with an index doubled, as an address
     table is read; the first nine lie inside the program;
   - the tempo table holds the speed of each tune, $0a40 and $0800, again
     words that look like addresses;
   - next to them, real address tables that must move: the tunes' and the
     names' pointers, and the note names' pointers. */
#include <c64.h>
#include <conio.h>

#define END 0xff
#define REST 0xfe

/* PAL frequencies of B2 to C5, a semitone apart. */
static const unsigned int freq[26] = {
    0x0836, 0x08b3, 0x0937, 0x09c4, 0x0a59, 0x0af6, 0x0b9d, 0x0c4e, 0x0d09,
    0x0dcf, 0x0ea2, 0x0f81, 0x106d, 0x1167, 0x126f, 0x1388, 0x14b2, 0x15ed,
    0x173a, 0x189c, 0x1a13, 0x1b9f, 0x1d44, 0x1f02, 0x20da, 0x22ce,
};

static const char *const note_names[12] = {
    "b ", "c ", "c#", "d ", "d#", "e ", "f ", "f#", "g ", "g#", "a ", "a#",
};

/* (note, length in ticks) pairs: notes index freq[]. */
static const unsigned char ode[] = {
    0x0d, 0x08, 0x0d, 0x08, 0x0e, 0x08, 0x10, 0x08, 0x10, 0x08, 0x0e, 0x08,
    0x0d, 0x08, 0x0b, 0x08, 0x09, 0x08, 0x09, 0x08, 0x0b, 0x08, 0x0d, 0x08,
    0x0d, 0x0c, 0x0b, 0x04, 0x0b, 0x10, REST, 0x08, END,
};

static const unsigned char scale[] = {
    0x01, 0x08, 0x03, 0x08, 0x05, 0x08, 0x06, 0x08, 0x08, 0x08, 0x0a, 0x08,
    0x0c, 0x08, 0x0d, 0x10, 0x19, 0x08, 0x18, 0x08, 0x13, 0x0c, 0x11, 0x10,
    END,
};

/* The speed of each tune: the part of a tick that passes each frame, in
   1/8192 ticks (about 3 and 4 frames a tick). */
static const unsigned int tempo[2] = {0x0a40, 0x0800};

static const unsigned char *const tunes[2] = {ode, scale};
static const char *const titles[2] = {"joyful tune", "scale and back"};

static void wait_frame(void) {
    while (VIC.rasterline != 251) {
    }
    while (VIC.rasterline == 251) {
    }
}

static void show_note(unsigned char note) {
    gotoxy(10, 5);
    if (note == REST) {
        cputs("rest  ");
        return;
    }
    cputs(note_names[note % 12]);
    cputc('0' + 2 + (note + 11) / 12);
    cputs("   ");
}

/* How far the tune is into its tick, in 1/8192 ticks. */
static unsigned int clock;

/* Waits n ticks of a tune going speed/8192 ticks a frame. */
static void wait_ticks(unsigned char n, unsigned int speed) {
    while (n) {
        wait_frame();
        clock += speed;
        if (clock >= 0x2000) {
            clock -= 0x2000;
            --n;
        }
    }
}

static void play(unsigned char which) {
    const unsigned char *p = tunes[which];
    gotoxy(0, 3);
    cputs("playing: ");
    cputs(titles[which]);
    cputs("      ");
    while (*p != END) {
        show_note(p[0]);
        if (p[0] == REST) {
            wait_ticks(p[1], tempo[which]);
        } else {
            SID.v1.freq = freq[p[0]];
            SID.v1.ctrl = 0x21; /* sawtooth, gate on */
            wait_ticks(p[1] - 1, tempo[which]);
            SID.v1.ctrl = 0x20; /* gate off: release */
            wait_ticks(1, tempo[which]);
        }
        p += 2;
    }
}

int main(void) {
    unsigned char i;
    clrscr();
    cputs("music player");
    SID.amp = 0x0f;
    SID.v1.ad = 0x09;
    SID.v1.sr = 0x40;
    for (i = 0; i < 2; ++i) {
        play(i);
    }
    SID.amp = 0;
    gotoxy(0, 7);
    cputs("done.\r\n");
    return 0;
}
