/* A small C64 program of the everyday kind, for timing whole prgdis runs:
   a high-score table that is read, sorted, searched and printed. */
#include <conio.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <ctype.h>

struct entry {
    char name[12];
    unsigned score;
    unsigned char level;
};

static struct entry table[24];
static const char *const names[] = {
    "ada", "bob", "cyd", "dot", "eve", "fay", "gus", "hal",
    "ivy", "jon", "kit", "lou", "max", "ned", "oda", "pip"
};

static int by_score(const void *a, const void *b)
{
    const struct entry *x = a, *y = b;
    if (x->score != y->score) return x->score < y->score ? 1 : -1;
    return strcmp(x->name, y->name);
}

static void fill(unsigned seed)
{
    unsigned i;
    srand(seed);
    for (i = 0; i < sizeof table / sizeof table[0]; ++i) {
        sprintf(table[i].name, "%s%u", names[rand() % 16], i);
        table[i].score = (unsigned)rand() % 50000u;
        table[i].level = (unsigned char)(1 + rand() % 9);
    }
}

static void show(void)
{
    unsigned i;
    clrscr();
    textcolor(COLOR_YELLOW);
    cputs("  rank name         score  lv\r\n");
    textcolor(COLOR_WHITE);
    for (i = 0; i < 20; ++i) {
        char upper[12];
        unsigned j;
        for (j = 0; table[i].name[j] != 0; ++j) upper[j] = (char)toupper(table[i].name[j]);
        upper[j] = 0;
        cprintf("  %2u.  %-11s %6u  %u\r\n", i + 1, upper, table[i].score, table[i].level);
    }
}

static int find(const char *name)
{
    unsigned i;
    for (i = 0; i < sizeof table / sizeof table[0]; ++i)
        if (strncmp(table[i].name, name, strlen(name)) == 0) return (int)i;
    return -1;
}

int main(void)
{
    char line[16];
    unsigned seed = 1;
    for (;;) {
        fill(seed);
        qsort(table, sizeof table / sizeof table[0], sizeof table[0], by_score);
        show();
        cputs("\r\nname to find, seed, or q: ");
        if (fgets(line, sizeof line, stdin) == NULL || line[0] == 'q') break;
        line[strcspn(line, "\r\n")] = 0;
        if (isdigit((unsigned char)line[0])) {
            seed = (unsigned)strtoul(line, NULL, 10);
        } else {
            int at = find(line);
            printf(at < 0 ? "not found\n" : "rank %d\n", at + 1);
            cgetc();
        }
    }
    return EXIT_SUCCESS;
}
