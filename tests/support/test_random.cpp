#include "support/test_support.h"

uint32_t test_random_u32(TestRandom* r) {
    r->state = r->state * 6364136223846793005ull + 1442695040888963407ull;
    return (uint32_t)(r->state >> 32);
}

float test_random_float(TestRandom* r, float lo, float hi) {
    return lo + (hi - lo) * (float)(test_random_u32(r) >> 8) * (1.0f / 16777216.0f);
}

int test_random_int(TestRandom* r, int lo, int hi) {
    return lo + (int)(test_random_u32(r) % (uint32_t)(hi - lo + 1));
}
