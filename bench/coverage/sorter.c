/* Sorts records with qsort and a choice of comparison functions, and
   prints a small report with long arithmetic. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

struct player {
    char name[12];
    unsigned int points;
    long total;
};

static struct player players[8];
static const char *const names[] = {
    "Ada", "Bela", "Cyd", "Dora", "Egon", "Fritz", "Gerd", "Hanne",
};

static int by_points(const void *a, const void *b) {
    const struct player *p = a, *q = b;
    return p->points < q->points ? 1 : p->points > q->points ? -1 : 0;
}

static int by_name(const void *a, const void *b) {
    return strcmp(((const struct player *)a)->name, ((const struct player *)b)->name);
}

static int by_total(const void *a, const void *b) {
    const struct player *p = a, *q = b;
    return p->total < q->total ? -1 : p->total > q->total;
}

typedef int (*compare_fn)(const void *, const void *);
static const compare_fn orders[] = {by_points, by_name, by_total};
static const char *const order_names[] = {"points", "name", "total"};

int main(void) {
    unsigned char i, k;
    srand(64);
    for (i = 0; i < 8; ++i) {
        strcpy(players[i].name, names[7 - i]);
        players[i].points = (unsigned int)rand() % 1000u;
        players[i].total = (long)players[i].points * 1234L + i;
    }
    for (k = 0; k < 3; ++k) {
        qsort(players, 8, sizeof players[0], orders[k]);
        printf("by %s:\n", order_names[k]);
        for (i = 0; i < 8; ++i) {
            printf("%-8s %5u %8ld\n", players[i].name, players[i].points, players[i].total);
        }
    }
    return EXIT_SUCCESS;
}
