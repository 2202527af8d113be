/* A reverse Polish calculator: tokens are looked up in a table of
   operator functions; numbers are parsed with strtol. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <ctype.h>

static long stack[16];
static unsigned char depth;

static void push(long v) {
    if (depth < 16) stack[depth++] = v;
    else puts("?stack full");
}

static long pop(void) {
    if (depth == 0) {
        puts("?stack empty");
        return 0;
    }
    return stack[--depth];
}

static void op_add(void) { push(pop() + pop()); }
static void op_mul(void) { push(pop() * pop()); }
static void op_sub(void) { long b = pop(); push(pop() - b); }
static void op_div(void) {
    long b = pop(), a = pop();
    if (b == 0) { puts("?division by zero"); push(a); return; }
    push(a / b);
}
static void op_dup(void) { long a = pop(); push(a); push(a); }
static void op_print(void) { char buf[16]; sprintf(buf, "%ld", depth ? stack[depth - 1] : 0L); puts(buf); }

static const struct { char name[6]; void (*fn)(void); } ops[] = {
    {"+", op_add}, {"-", op_sub}, {"*", op_mul}, {"/", op_div}, {"dup", op_dup}, {".", op_print},
};

static void run(char *text) {
    char *word = strtok(text, " ");
    while (word) {
        unsigned char i;
        if (isdigit((unsigned char)word[0])) {
            push(strtol(word, NULL, 10));
        } else {
            for (i = 0; i < sizeof ops / sizeof ops[0]; ++i) {
                if (strcmp(word, ops[i].name) == 0) { ops[i].fn(); break; }
            }
            if (i == sizeof ops / sizeof ops[0]) printf("?unknown word %s\n", word);
        }
        word = strtok(NULL, " ");
    }
}

int main(void) {
    static char input[64];
    static const char *const demo[] = {"2 3 + .", "10 4 - 7 * .", "100 7 / dup * ."};
    unsigned char i;
    for (i = 0; i < 3; ++i) {
        strcpy(input, demo[i]);
        printf("%s -> ", demo[i]);
        run(input);
    }
    while (fgets(input, sizeof input, stdin)) {
        input[strcspn(input, "\n")] = 0;
        run(input);
    }
    return 0;
}
