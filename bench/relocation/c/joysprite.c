/* joysprite: steer a ship (sprite 0) with a joystick in port 2 to the
   target (sprite 1), which hops between four places; each catch scores the
   place's points and changes the colours. Fire ends the game.

   Traps for a disassembler moving this program:
   - the positions are ints in 1/8 pixels: x of $0820-$0900 (pixels 260 to
     288), inside the program, read as pairs like an address table is;
   - the steps per joystick direction are small ints, $0000, $000c and
     $fff4, and the points are unsigned ints 2100, 2200 and 2304 ($0834,
     $0898, $0900), again words that look like addresses;
   - the colour tables hold $08-$0f, high bytes of the program's addresses;
   - the sprite's bitmap holds bytes such as $08 and $09 too;
   - real address tables stand beside them: the place names' pointers. */
#include <c64.h>
#include <conio.h>
#include <stdlib.h>
#include <string.h>

static const unsigned char ship[63] = {
    0x00, 0x18, 0x00, 0x00, 0x3c, 0x00, 0x00, 0x7e, 0x00, 0x00, 0xff, 0x00,
    0x01, 0xff, 0x80, 0x03, 0xdb, 0xc0, 0x07, 0x99, 0xe0, 0x0f, 0xff, 0xf0,
    0x08, 0x18, 0x10, 0x08, 0x18, 0x10, 0x09, 0x3c, 0x90, 0x0b, 0x7e, 0xd0,
    0x0f, 0xff, 0xf0, 0x0e, 0xe7, 0x70, 0x0c, 0xc3, 0x30, 0x08, 0x81, 0x10,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x00, 0x00, 0x00,
};

static const unsigned char pad[63] = {
    0xff, 0xff, 0xff, 0x80, 0x00, 0x01, 0x80, 0x00, 0x01, 0x80, 0x00, 0x01,
    0x80, 0x00, 0x01, 0x80, 0x00, 0x01, 0x80, 0x00, 0x01, 0x80, 0x00, 0x01,
    0x80, 0x00, 0x01, 0x80, 0x00, 0x01, 0x80, 0x00, 0x01, 0x80, 0x00, 0x01,
    0x80, 0x00, 0x01, 0x80, 0x00, 0x01, 0x80, 0x00, 0x01, 0x80, 0x00, 0x01,
    0x80, 0x00, 0x01, 0x80, 0x00, 0x01, 0x80, 0x00, 0x01, 0x80, 0x00, 0x01,
    0xff, 0xff, 0xff,
};

/* The target's places in 1/8 pixels, in the sprite's coordinates. */
static const int place_x[4] = {0x0820, 0x08a0, 0x0900, 0x0460};
static const int place_y[4] = {0x0240, 0x0580, 0x0300, 0x0640};
static const unsigned int points[4] = {2100, 2200, 2304, 250};
static const char *const place_names[4] = {"east ", "south", "far  ", "west "};

/* Steps per joystick bits (up, down, left, right; a set bit is not pressed). */
static const int step_x[16] = {0, 0, 0, 0, 12, 12, 12, 12, -12, -12, -12, -12, 0, 0, 0, 0};
static const int step_y[16] = {0, 12, -12, 0, 0, 12, -12, 0, 0, 12, -12, 0, 0, 12, -12, 0};

static const unsigned char ship_colour[8] = {0x08, 0x09, 0x0a, 0x0b, 0x0c, 0x0d, 0x0e, 0x0f};
static const unsigned char border_colour[4] = {0x0b, 0x0c, 0x0f, 0x08};

#define SHIP_BLOCK 13 /* 13 * 64 = $0340, the cassette buffer */
#define PAD_BLOCK 14

static int ship_x = 0x0400, ship_y = 0x0400;
static unsigned int score;

static void put_sprite(unsigned char n, int x, int y) {
    unsigned int px = (unsigned int)x >> 3;
    VIC.spr_pos[n].x = (unsigned char)px;
    VIC.spr_pos[n].y = (unsigned char)((unsigned int)y >> 3);
    if (px & 0x100) {
        VIC.spr_hi_x |= 1 << n;
    } else {
        VIC.spr_hi_x &= ~(1 << n);
    }
}

static void show_score(unsigned char place) {
    char digits[6];
    gotoxy(0, 1);
    cputs("score ");
    cputs(utoa(score, digits, 10));
    cputs("  next: ");
    cputs(place_names[place]);
}

int main(void) {
    unsigned char joy, place = 0, colour = 0;
    clrscr();
    cputs("joysprite: port 2, fire ends");
    memcpy((void *)(SHIP_BLOCK * 64), ship, sizeof ship);
    memcpy((void *)(PAD_BLOCK * 64), pad, sizeof pad);
    *(unsigned char *)0x07f8 = SHIP_BLOCK;
    *(unsigned char *)0x07f9 = PAD_BLOCK;
    VIC.spr1_color = COLOR_WHITE;
    VIC.spr_ena = 3;
    show_score(place);
    for (;;) {
        while (VIC.rasterline != 250) {
        }
        joy = CIA1.pra & 0x1f;
        if (!(joy & 0x10)) {
            break;
        }
        ship_x += step_x[joy & 15];
        ship_y += step_y[joy & 15];
        if (ship_x < 0x00c0) ship_x = 0x00c0;
        if (ship_x > 0x0a00) ship_x = 0x0a00;
        if (ship_y < 0x0190) ship_y = 0x0190;
        if (ship_y > 0x0700) ship_y = 0x0700;
        put_sprite(0, ship_x, ship_y);
        put_sprite(1, place_x[place], place_y[place]);
        if (abs(ship_x - place_x[place]) < 0x60 && abs(ship_y - place_y[place]) < 0x60) {
            score += points[place];
            VIC.bordercolor = border_colour[place];
            VIC.spr0_color = ship_colour[colour++ & 7];
            place = (place + 1) & 3;
            show_score(place);
        }
    }
    VIC.spr_ena = 0;
    gotoxy(0, 3);
    cputs("game over\r\n");
    return 0;
}
