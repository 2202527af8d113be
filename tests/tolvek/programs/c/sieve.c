/* The sieve of Eratosthenes: the primes below 200, how many there are up
   to 3000, their sum, and the widest gap and the twin primes among them. */
#include <stdio.h>
#include <string.h>

#define LIMIT 3000

static unsigned char composite[LIMIT + 1];

int main(void)
{
    unsigned i, j;
    unsigned count = 0, column = 0, twins = 0;
    unsigned previous = 0, gap = 0, gap_after = 0;
    unsigned long sum = 0;

    memset(composite, 0, sizeof composite);
    for (i = 2; i * i <= LIMIT; ++i) {
        if (composite[i]) continue;
        for (j = i * i; j <= LIMIT; j += i) composite[j] = 1;
    }

    printf("primes below 200:\n");
    for (i = 2; i <= LIMIT; ++i) {
        if (composite[i]) continue;
        ++count;
        sum += i;
        if (previous != 0) {
            if (i - previous > gap) {
                gap = i - previous;
                gap_after = previous;
            }
            if (i - previous == 2) ++twins;
        }
        previous = i;
        if (i < 200) {
            printf("%4u", i);
            if (++column == 10) {
                printf("\n");
                column = 0;
            }
        }
    }
    if (column != 0) printf("\n");
    printf("%u primes up to %u, their sum %lu\n", count, LIMIT, sum);
    printf("%u twin pairs, the widest gap %u after %u\n", twins, gap, gap_after);
    printf("the largest: %u\n", previous);
    return 0;
}
