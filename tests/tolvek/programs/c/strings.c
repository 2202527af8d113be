/* String work: copying, joining, searching, comparing, reversing and
   counting, with the C library and by hand. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static void reverse(char *text)
{
    size_t i, j;
    if (*text == 0) return;
    for (i = 0, j = strlen(text) - 1; i < j; ++i, --j) {
        char c = text[i];
        text[i] = text[j];
        text[j] = c;
    }
}

static void capitalize_words(char *text)
{
    int start = 1;
    for (; *text; ++text) {
        if (start && *text >= 'a' && *text <= 'z') *text = (char)(*text - 'a' + 'A');
        start = *text == ' ';
    }
}

static int count_words(const char *text)
{
    int count = 0, inside = 0;
    for (; *text; ++text) {
        if (*text == ' ') {
            inside = 0;
        } else if (!inside) {
            inside = 1;
            ++count;
        }
    }
    return count;
}

static int is_palindrome(const char *text)
{
    size_t i = 0, j = strlen(text);
    while (i + 1 < j) {
        if (text[i] != text[j - 1]) return 0;
        ++i;
        --j;
    }
    return 1;
}

static const char *const candidates[] = {"level", "rotor", "stats", "string", "noon", "commodore"};

int main(void)
{
    char buffer[120];
    char number[16];
    const char *found;
    int i, vowels = 0;
    long total;

    strcpy(buffer, "the quick brown fox");
    strcat(buffer, " jumps over the lazy dog");
    printf("[%s] is %u long with %d words\n", buffer, (unsigned)strlen(buffer), count_words(buffer));

    found = strstr(buffer, "fox");
    printf("fox at %d, first o at %d, last o at %d\n", (int)(found - buffer),
           (int)(strchr(buffer, 'o') - buffer), (int)(strrchr(buffer, 'o') - buffer));
    for (i = 0; buffer[i]; ++i)
        if (strchr("aeiou", buffer[i]) != NULL) ++vowels;
    printf("vowels: %d\n", vowels);

    capitalize_words(buffer);
    printf("%s\n", buffer);
    reverse(buffer);
    printf("%s\n", buffer);

    memmove(buffer + 4, buffer, 10);
    buffer[14] = 0;
    printf("moved: %s\n", buffer);

    printf("compare: %d %d %d\n", strcmp("abc", "abd") < 0, strcmp("same", "same") == 0,
           strncmp("prefix one", "prefix two", 6) == 0);
    for (i = 0; i < (int)(sizeof candidates / sizeof candidates[0]); ++i)
        printf("%s%s", candidates[i], is_palindrome(candidates[i]) ? " is a palindrome\n" : " is not\n");

    total = 0;
    for (i = 1; i <= 20; ++i) {
        sprintf(number, "%d", i * 137);
        total += atol(number);
    }
    printf("sum of the numbers read back: %ld\n", total);
    sprintf(buffer, "%s-%s-%d", "left", "right", -42);
    printf("%s has %u characters\n", buffer, (unsigned)strlen(buffer));
    return 0;
}
