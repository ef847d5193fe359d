// The browser build's rand must be the Linux C library's, value for value, or every frame differs.
#include <gtest/gtest.h>

#include <cstdlib>

#include "../../web/glibc_rand.cpp"

static void expect_same_sequence(unsigned seed, int count) {
    GlibcRand g{};
    glibc_rand_seed(&g, seed);
    srand(seed);
    for (int i = 0; i < count; i++) ASSERT_EQ(glibc_rand_next(&g), rand()) << "seed " << seed << ", value " << i;
}

TEST(GlibcRand, MatchesTheLinuxLibraryForEverySeedKind) {
    // 1 is the unseeded default, 0 must act like 1, and seeds above 2^31 go negative in the set-up.
    for (unsigned seed : {1u, 0u, 12345u, 0x7FFFFFFFu, 0x80000000u, 3000000000u, 0xFFFFFFFFu})
        expect_same_sequence(seed, 5000);
}

TEST(GlibcRand, ReseedingRestartsTheSequence) {
    GlibcRand g{};
    glibc_rand_seed(&g, 77);
    int first = glibc_rand_next(&g);
    for (int i = 0; i < 100; i++) glibc_rand_next(&g);
    glibc_rand_seed(&g, 77);
    EXPECT_EQ(glibc_rand_next(&g), first);
}
