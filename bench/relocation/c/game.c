/* game: four creatures move about the text screen, each by its own
   behaviour (walk, bounce, chase, rest) chosen through a table of function
   pointers by the creature's kind; keys 1-3 run commands through a second
   table of function pointers. Any other key ends it.

   Traps for a disassembler moving this program:
   - the creatures are structs of ints {x, y, speed} in 8.8 fixed point:
     column 8 to 15 is $0800-$0fff, row 4 is $0400, a speed $0080; they sit
     in the data segment and are read as words through a pointer, as an
     address table is read;
   - the function pointer tables are real addresses, which must move;
   - the row offsets are unsigned ints 0 to 960 by 40, and the screen's
     address ($0400) is a constant. */
#include <c64.h>
#include <conio.h>

struct creature {
    int x, y;         /* column and row, 8.8 fixed point */
    int speed;        /* 8.8 fixed point, columns a frame */
    unsigned char kind, glyph;
};

static struct creature creatures[4] = {
    {0x0880, 0x0400, 0x0040, 0, 'a'},
    {0x0a00, 0x0800, 0x0080, 1, 'b'},
    {0x0c40, 0x0c00, 0x0030, 2, 'c'},
    {0x0f00, 0x1000, 0x0100, 3, 'd'},
};

static const unsigned int row_offset[25] = {
    0,   40,  80,  120, 160, 200, 240, 280, 320, 360, 400, 440, 480,
    520, 560, 600, 640, 680, 720, 760, 800, 840, 880, 920, 960,
};

#define SCREEN ((unsigned char *)0x0400)
#define SPACE 0x20

static void walk(struct creature *c) {
    c->x += c->speed;
    if (c->x >= 0x2700 || c->x < 0) {
        c->speed = -c->speed;
        c->x += c->speed;
    }
}

static void bounce(struct creature *c) {
    c->y += c->speed;
    if (c->y >= 0x1800 || c->y < 0x0200) {
        c->speed = -c->speed;
        c->y += c->speed;
    }
}

static void chase(struct creature *c) {
    c->x += c->x < creatures[0].x ? c->speed : -c->speed;
    c->y += c->y < creatures[0].y ? c->speed : -c->speed;
}

static void rest(struct creature *c) {
    (void)c;
}

static void (*const behaviours[4])(struct creature *) = {walk, bounce, chase, rest};

static void faster(void) {
    int *speed = &creatures[0].speed;
    if (*speed > -0x0100 && *speed < 0x0100) {
        *speed += *speed < 0 ? -0x20 : 0x20;
    }
}

static void wake(void) {
    creatures[3].kind = 0;
}

static void border(void) {
    ++VIC.bordercolor;
}

static void (*const commands[3])(void) = {faster, wake, border};

static unsigned char *cell(const struct creature *c) {
    return SCREEN + row_offset[(unsigned char)(c->y >> 8)] + (unsigned char)(c->x >> 8);
}

int main(void) {
    unsigned char i, key;
    struct creature *c;
    clrscr();
    cputs("keys: 1 faster, 2 wake d, 3 border");
    for (;;) {
        while (VIC.rasterline != 250) {
        }
        for (i = 0; i < 4; ++i) {
            c = &creatures[i];
            *cell(c) = SPACE;
            behaviours[c->kind](c);
            *cell(c) = c->glyph - 'a' + 1; /* screen codes of a-d */
        }
        if (kbhit()) {
            key = cgetc();
            if (key < '1' || key > '3') {
                break;
            }
            commands[key - '1']();
        }
    }
    gotoxy(0, 24);
    return 0;
}
