/* Moves a sprite along a sine path: a sine table, sprite bitmaps and a
   colour cycle as constant data, written straight into the VIC-II. */
#include <c64.h>
#include <string.h>

static const unsigned char sine[64] = {
    128, 140, 152, 165, 176, 188, 198, 208, 218, 226, 234, 240, 245, 250, 253, 254,
    255, 254, 253, 250, 245, 240, 234, 226, 218, 208, 198, 188, 176, 165, 152, 140,
    128, 115, 103, 90,  79,  67,  57,  47,  37,  29,  21,  15,  10,  5,   2,   1,
    0,   1,   2,   5,   10,  15,  21,  29,  37,  47,  57,  67,  79,  90,  103, 115,
};

static const unsigned char ball[63] = {
    0x00, 0x7e, 0x00, 0x03, 0xff, 0xc0, 0x07, 0xff, 0xe0, 0x1f, 0xff, 0xf8, 0x1f, 0xff, 0xf8,
    0x3f, 0xff, 0xfc, 0x7f, 0xff, 0xfe, 0x7f, 0xff, 0xfe, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff,
    0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0x7f, 0xff, 0xfe, 0x7f, 0xff, 0xfe,
    0x3f, 0xff, 0xfc, 0x1f, 0xff, 0xf8, 0x1f, 0xff, 0xf8, 0x07, 0xff, 0xe0, 0x03, 0xff, 0xc0,
    0x00, 0x7e, 0x00,
};

static const unsigned char cycle[16] = {2, 8, 7, 13, 5, 3, 14, 6, 4, 10, 15, 1, 15, 12, 11, 0};

static const unsigned int steps[8] = {1, 2, 3, 5, 8, 13, 21, 34};

#define SPRITE_BLOCK 13 /* 13 * 64 = $0340, the cassette buffer */

int main(void) {
    unsigned char t = 0, frame = 0, speed = 0;
    unsigned int x;
    memcpy((void *)(SPRITE_BLOCK * 64), ball, sizeof ball);
    *(unsigned char *)0x07f8 = SPRITE_BLOCK;
    VIC.spr_ena = 1;
    while (frame != 255 || speed != 7) {
        while (VIC.rasterline != 250) {
        }
        x = 24 + (unsigned int)t * 4;
        VIC.spr0_x = (unsigned char)x;
        VIC.spr_hi_x = (unsigned char)(x >> 8);
        VIC.spr0_y = (unsigned char)(50 + sine[t & 63] / 2);
        VIC.spr0_color = cycle[frame >> 4 & 15];
        t += (unsigned char)steps[speed];
        if (++frame == 0) speed = (unsigned char)((speed + 1) & 7);
    }
    VIC.spr_ena = 0;
    return 0;
}
