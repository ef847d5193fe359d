#include "gfx/question.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

int question_ask_yes_no(const char* text, const char* caption) {
    (void)caption;
    if (!isatty(0)) return QUESTION_NO;
    printf("%s [y/N] ", text);
    fflush(stdout);
    char line[64];
    if (!fgets(line, sizeof line, stdin)) return QUESTION_NO;
    return (line[0] == 'y' || line[0] == 'Y') ? QUESTION_YES : QUESTION_NO;
}
