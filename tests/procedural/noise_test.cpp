// Gradient noise: the lattice tables, the shape of the noise (zero on the lattice, continuous
// across cells, periodic), the fractal sum and the signed random generator.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "procedural/noise.h"

namespace {

struct NoiseTest : ::testing::Test {
    void SetUp() override { noise_init(1234); }
};

TEST_F(NoiseTest, TablesArePermutationAndGradientsWithCopies) {
    std::vector<int> perm(noise_perm, noise_perm + NOISE_CELLS);
    std::sort(perm.begin(), perm.end());
    for (int i = 0; i < NOISE_CELLS; i++) ASSERT_EQ(perm[i], i);
    int moved = 0;
    for (int i = 0; i < NOISE_CELLS; i++) moved += noise_perm[i] != i;
    EXPECT_GT(moved, NOISE_CELLS / 2) << "the permutation was not shuffled";

    for (int i = 0; i < NOISE_CELLS + 2; i++) {
        ASSERT_EQ(noise_perm[NOISE_CELLS + i], noise_perm[i]);
        ASSERT_EQ(noise_grad1[NOISE_CELLS + i], noise_grad1[i]);
        ASSERT_EQ(0, memcmp(noise_grad2[NOISE_CELLS + i], noise_grad2[i], sizeof noise_grad2[i]));
        ASSERT_EQ(0, memcmp(noise_grad3[NOISE_CELLS + i], noise_grad3[i], sizeof noise_grad3[i]));
    }
    for (int i = 0; i < NOISE_CELLS; i++) {
        float g = noise_grad1[i];
        ASSERT_GE(g, -1.0f);
        ASSERT_LT(g, 1.0f);
        ASSERT_EQ(g * 4096.0f, std::floor(g * 4096.0f)) << "1D gradients are multiples of 1/4096";
        double l2 = std::hypot(noise_grad2[i][0], noise_grad2[i][1]);
        double l3 = std::sqrt((double)noise_grad3[i][0] * noise_grad3[i][0] +
                              (double)noise_grad3[i][1] * noise_grad3[i][1] +
                              (double)noise_grad3[i][2] * noise_grad3[i][2]);
        ASSERT_TRUE(l2 == 0.0 || std::fabs(l2 - 1.0) < 1e-6) << i;
        ASSERT_TRUE(l3 == 0.0 || std::fabs(l3 - 1.0) < 1e-6) << i;
    }
}

TEST(NoiseSeed, NonZeroSeedReseedsAndZeroLeavesTheGenerator) {
    std::vector<float> a, b, c;
    auto snapshot = [](std::vector<float>* out) {
        out->assign(&noise_grad3[0][0], &noise_grad3[0][0] + NOISE_TABLE * 3);
        for (int i = 0; i < NOISE_TABLE; i++) out->push_back((float)noise_perm[i]);
    };
    noise_init(99);
    snapshot(&a);
    srand(99);
    noise_init(0);
    snapshot(&b);
    srand(5);
    noise_init(0);
    snapshot(&c);
    EXPECT_EQ(a, b);
    EXPECT_NE(a, c);
}

TEST_F(NoiseTest, ZeroAtEveryLatticePoint) {
    for (int x = -5; x <= 5; x++) {
        EXPECT_EQ(noise1((float)x), 0.0f);
        for (int y = -3; y <= 3; y++) {
            EXPECT_EQ(noise2((float)x, (float)y), 0.0f);
            for (int z = -2; z <= 2; z++) EXPECT_EQ(noise3((float)x, (float)y, (float)z), 0.0f);
        }
    }
    // Far outside the int range every float is a whole number, so the noise is 0 there too.
    EXPECT_EQ(noise3(1e20f, -3e19f, 5e9f), 0.0f);
    EXPECT_EQ(noise1(-1e30f), 0.0f);
}

// Wrong corner indices or offsets show up as jumps where the cell changes.
TEST_F(NoiseTest, ContinuousAcrossCellsAndBoundedButNotFlat) {
    float biggest = 0.0f;
    for (int k = -20; k <= 20; k++) {
        for (int j = 0; j < 8; j++) {
            float o = 0.37f * j - 1.3f;
            float lo = (float)k - 1e-3f, hi = (float)k + 1e-3f;
            ASSERT_NEAR(noise1(lo), noise1(hi), 1e-2f);
            ASSERT_NEAR(noise2(lo, o), noise2(hi, o), 1e-2f);
            ASSERT_NEAR(noise2(o, lo), noise2(o, hi), 1e-2f);
            ASSERT_NEAR(noise3(lo, o, 0.5f * o), noise3(hi, o, 0.5f * o), 1e-2f);
            ASSERT_NEAR(noise3(o, lo, 0.5f * o), noise3(o, hi, 0.5f * o), 1e-2f);
            ASSERT_NEAR(noise3(o, 0.5f * o, lo), noise3(o, 0.5f * o, hi), 1e-2f);
        }
    }
    for (int i = 0; i < 20000; i++) {
        float x = i * 0.0137f - 90.0f, y = i * 0.0071f, z = i * -0.0113f;
        float values[3] = {noise1(x), noise2(x, y), noise3(x, y, z)};
        for (float v : values) {
            ASSERT_LE(std::fabs(v), 1.5f);
            biggest = std::max(biggest, std::fabs(v));
        }
    }
    EXPECT_GT(biggest, 0.3f);
}

TEST_F(NoiseTest, RepeatsEvery4096Units) {
    for (int i = 0; i < 200; i++) {
        float x = i * 0.173f, y = i * 0.091f + 0.5f, z = 3.3f - i * 0.05f;
        ASSERT_NEAR(noise1(x), noise1(x + 4096.0f), 2e-3f) << x;
        ASSERT_NEAR(noise2(x, y), noise2(x + 4096.0f, y - 4096.0f), 2e-3f) << x;
        ASSERT_NEAR(noise3(x, y, z), noise3(x, y + 4096.0f, z + 4096.0f), 2e-3f) << x;
    }
}

TEST_F(NoiseTest, FractalSumsOctavesDownToOne) {
    float x = 0.31f, y = -1.27f, z = 2.05f;
    float expected = noise3(4 * x, 4 * y, 4 * z) / 4 + noise3(2 * x, 2 * y, 2 * z) / 2 + noise3(x, y, z);
    EXPECT_NEAR(noise3_fractal(x, y, z, 4.0f), expected, 1e-6f);
    EXPECT_NEAR(noise3_fractal(x, y, z, 1.0f), noise3(x, y, z), 1e-7f);
    EXPECT_EQ(noise3_fractal(x, y, z, 0.99f), 0.0f);
    EXPECT_EQ(noise3_fractal(x, y, z, -8.0f), 0.0f);
    EXPECT_EQ(noise3_fractal(x, y, z, INFINITY), 0.0f);  // would never halve below 1
    EXPECT_EQ(noise3_fractal(x, y, z, NAN), 0.0f);
}

TEST(RandomSigned, FollowsTheMultiplicativeStateIntoMinusOneToOne) {
    random_state = 12345;
    float first = random_signed();
    EXPECT_EQ(random_state, 12345u * 16807u);
    EXPECT_NEAR(first, 0.4677f, 1e-4f);
    EXPECT_FLOAT_EQ(first, 2.0f + (float)(random_state & 0x7FFFFF) / 4194304.0f - 3.0f);

    float lo = 1.0f, hi = -1.0f;
    double sum = 0.0;
    for (int i = 0; i < 100000; i++) {
        float v = random_signed();
        ASSERT_GE(v, -1.0f);
        ASSERT_LT(v, 1.0f);
        lo = std::min(lo, v);
        hi = std::max(hi, v);
        sum += v;
    }
    EXPECT_LT(lo, -0.99f);
    EXPECT_GT(hi, 0.99f);
    EXPECT_NEAR(sum / 100000, 0.0, 0.02);
}

}  // namespace
