// rand and srand as the Linux build's C library computes them. The show draws its noise tables, film
// damage and other randomness from the runtime's rand(), so the browser's C library (a plain linear
// congruential generator) would change every frame. This is the GNU C library's default generator:
// an additive feedback generator over 31 words (x[i] = x[i-3] + x[i-31]), seeded through a
// Park-Miller sequence and run 310 steps before its first output; srand(0) seeds like srand(1).
// In the browser build, defining both keeps the C library's own rand out of the link.
#include "glibc_rand.h"

#include <cstdlib>

enum { RAND_WORDS = GLIBC_RAND_WORDS, RAND_SEPARATION = 3, RAND_DISCARD = 310 };

int glibc_rand_next(GlibcRand* g) {
    uint32_t sum = (uint32_t)g->state[g->front] + (uint32_t)g->state[g->rear];
    g->state[g->front] = (int32_t)sum;
    g->front = (g->front + 1) % RAND_WORDS;
    g->rear = (g->rear + 1) % RAND_WORDS;
    return (int)(sum >> 1);
}

void glibc_rand_seed(GlibcRand* g, unsigned seed) {
    if (seed == 0) seed = 1;
    int32_t word = (int32_t)seed;
    g->state[0] = word;
    for (int i = 1; i < RAND_WORDS; i++) {
        // 16807 * word % (2^31 - 1) without overflow (Schrage), in the 64-bit arithmetic of the
        // Linux build's long.
        int64_t hi = word / 127773, lo = word % 127773;
        int64_t next = 16807 * lo - 2836 * hi;
        if (next < 0) next += 2147483647;
        word = (int32_t)next;
        g->state[i] = word;
    }
    g->front = RAND_SEPARATION;
    g->rear = 0;
    g->seeded = true;
    for (int i = 0; i < RAND_DISCARD; i++) glibc_rand_next(g);
}

#if __EMSCRIPTEN__
static GlibcRand glibc_rand_state;

extern "C" void srand(unsigned seed) { glibc_rand_seed(&glibc_rand_state, seed); }

extern "C" int rand(void) {
    if (!glibc_rand_state.seeded) glibc_rand_seed(&glibc_rand_state, 1);
    return glibc_rand_next(&glibc_rand_state);
}
#endif
