/* A tiny text adventure: rooms as constant data, commands dispatched
   through a table of function pointers. */
#include <stdio.h>
#include <string.h>
#include <ctype.h>

struct room {
    const char *name;
    const char *text;
    signed char exits[4]; /* north, south, east, west; -1 for none */
};

static const struct room rooms[] = {
    {"Hall", "A dusty hall. Stairs lead up into darkness.", {1, -1, 2, -1}},
    {"Attic", "Low beams and a round window.", {-1, 0, -1, -1}},
    {"Kitchen", "Cold stove, a smell of old soup.", {-1, -1, -1, 0}},
};

static unsigned char here;
static unsigned char moves;
static char line[40];

typedef void (*command_fn)(const char *arg);

static void look(const char *arg) {
    (void)arg;
    printf("%s\n%s\n", rooms[here].name, rooms[here].text);
}

static void go(const char *arg) {
    static const char dirs[] = "nsew";
    const char *d = strchr(dirs, tolower(arg[0]));
    signed char to;
    if (d == NULL || arg[0] == 0) {
        puts("Go where?");
        return;
    }
    to = rooms[here].exits[d - dirs];
    if (to < 0) {
        puts("You cannot go that way.");
        return;
    }
    here = (unsigned char)to;
    ++moves;
    look(arg);
}

static void score(const char *arg) {
    (void)arg;
    printf("%u moves so far.\n", moves);
}

struct command {
    const char *word;
    command_fn fn;
};

static const struct command commands[] = {
    {"look", look},
    {"go", go},
    {"score", score},
};

int main(void) {
    unsigned char i;
    look("");
    for (;;) {
        char *space;
        printf("> ");
        if (fgets(line, sizeof line, stdin) == NULL) break;
        line[strcspn(line, "\n")] = 0;
        if (strcmp(line, "quit") == 0) break;
        space = strchr(line, ' ');
        if (space) *space++ = 0; else space = line + strlen(line);
        for (i = 0; i < sizeof commands / sizeof commands[0]; ++i) {
            if (strcmp(line, commands[i].word) == 0) {
                commands[i].fn(space);
                break;
            }
        }
        if (i == sizeof commands / sizeof commands[0]) puts("I do not understand.");
    }
    return 0;
}
