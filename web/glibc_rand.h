// rand and srand as the Linux build's C library computes them (see glibc_rand.cpp).
#pragma once
#include <cstdint>

enum { GLIBC_RAND_WORDS = 31 };

struct GlibcRand {
    int32_t state[GLIBC_RAND_WORDS];
    int front, rear;  // the word that is added to, the word that is added
    bool seeded;
};

void glibc_rand_seed(GlibcRand* g, unsigned seed);  // seed 0 seeds like 1
int glibc_rand_next(GlibcRand* g);                   // 0 .. 2^31 - 1
