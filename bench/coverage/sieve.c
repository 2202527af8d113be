/* The sieve of Eratosthenes on the screen with conio, a colour table and
   the time it took. */
#include <conio.h>
#include <string.h>
#include <time.h>

#define LIMIT 8000u

static unsigned char flags[LIMIT / 8 + 1];
static const unsigned char colours[] = {COLOR_WHITE, COLOR_YELLOW, COLOR_CYAN, COLOR_LIGHTGREEN};

static void mark(unsigned int n) { flags[n >> 3] |= (unsigned char)(1u << (n & 7)); }
static unsigned char marked(unsigned int n) { return flags[n >> 3] & (unsigned char)(1u << (n & 7)); }

int main(void) {
    unsigned int i, j, count = 0;
    clock_t start = clock();
    clrscr();
    bordercolor(COLOR_BLACK);
    bgcolor(COLOR_BLUE);
    memset(flags, 0, sizeof flags);
    for (i = 2; i < LIMIT; ++i) {
        if (marked(i)) continue;
        ++count;
        for (j = i + i; j < LIMIT; j += i) mark(j);
        if (count <= 200) {
            textcolor(colours[count & 3]);
            cprintf("%5u", i);
        }
    }
    gotoxy(0, 22);
    textcolor(COLOR_WHITE);
    cprintf("%u primes below %u in %lu ticks", count, LIMIT, (unsigned long)(clock() - start));
    cgetc();
    return 0;
}
