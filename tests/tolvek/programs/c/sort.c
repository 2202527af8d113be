/* Sorting: the same pseudo-random numbers sorted three ways (insertion
   sort, Shell sort and the library's qsort) must agree; then a few words
   sorted with strcmp. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#define COUNT 100

static unsigned seed = 1234;

/* A 16-bit linear congruential generator that wraps the same way with a
   16-bit and a 32-bit unsigned int. */
static unsigned next_random(void)
{
    seed = (unsigned)((seed * 25173u + 13849u) & 0xffffu);
    return seed;
}

static unsigned first[COUNT], second[COUNT], third[COUNT];

static int compare_numbers(const void *a, const void *b)
{
    unsigned x = *(const unsigned *)a, y = *(const unsigned *)b;
    return x < y ? -1 : x > y ? 1 : 0;
}

static int compare_words(const void *a, const void *b)
{
    return strcmp(*(const char *const *)a, *(const char *const *)b);
}

static void insertion_sort(unsigned *items, int count)
{
    int i, j;
    for (i = 1; i < count; ++i) {
        unsigned item = items[i];
        for (j = i - 1; j >= 0 && items[j] > item; --j) items[j + 1] = items[j];
        items[j + 1] = item;
    }
}

static void shell_sort(unsigned *items, int count)
{
    int gap, i, j;
    for (gap = count / 2; gap > 0; gap /= 2) {
        for (i = gap; i < count; ++i) {
            unsigned item = items[i];
            for (j = i; j >= gap && items[j - gap] > item; j -= gap) items[j] = items[j - gap];
            items[j] = item;
        }
    }
}

static const char *words[] = {
    "pear", "apple", "fig", "banana", "cherry", "date", "kiwi", "lemon",
    "mango", "plum", "grape", "melon", "lime", "orange", "quince", "apricot",
};

int main(void)
{
    int i, same = 1, ordered = 1;
    unsigned long sum = 0;
    const int word_count = (int)(sizeof words / sizeof words[0]);

    for (i = 0; i < COUNT; ++i) {
        first[i] = second[i] = third[i] = next_random() % 10000u;
        sum += first[i];
    }
    insertion_sort(first, COUNT);
    shell_sort(second, COUNT);
    qsort(third, COUNT, sizeof third[0], compare_numbers);
    for (i = 0; i < COUNT; ++i) {
        if (first[i] != second[i] || first[i] != third[i]) same = 0;
        if (i > 0 && first[i - 1] > first[i]) ordered = 0;
    }
    printf("%d numbers, sum %lu\n", COUNT, sum);
    printf("sorted: %s, the three sorts agree: %s\n", ordered ? "yes" : "no", same ? "yes" : "no");
    printf("smallest:");
    for (i = 0; i < 8; ++i) printf(" %u", first[i]);
    printf("\nlargest:");
    for (i = COUNT - 8; i < COUNT; ++i) printf(" %u", first[i]);
    printf("\nmedian: %u\n", (first[COUNT / 2 - 1] + first[COUNT / 2]) / 2);

    qsort((void *)words, (size_t)word_count, sizeof words[0], compare_words);
    for (i = 0; i < word_count; ++i) printf("%s%s", words[i], i + 1 < word_count ? ", " : "\n");
    return 0;
}
