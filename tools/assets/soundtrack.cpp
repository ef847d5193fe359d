// Placeholder until the synthesiser lands: writes nothing.
#include "assets/soundtrack.h"

#include <cstdio>

int soundtrack_write(const char*, const char*) {
    printf("soundtrack: not built yet\n");
    return 0;
}
