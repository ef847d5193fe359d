#include "gfx/simd.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "gfx/blit.h"

namespace {

// Restores the level in force and the environment after each test.
class Simd : public ::testing::Test {
protected:
    void TearDown() override {
        unsetenv("QUILLET_SIMD");
        blit_use_path(BLIT_PATH_AVX2);
        simd_use_level(SIMD_AVX2);
    }
};

// Runs simd_init_from_env with QUILLET_SIMD set to value (null: unset); returns its status and what it
// wrote.
int init_with(const char* value, std::string* message) {
    if (value) setenv("QUILLET_SIMD", value, 1);
    else unsetenv("QUILLET_SIMD");
    FILE* err = tmpfile();
    int status = simd_init_from_env("quillet-test", err);
    char text[256] = "";
    rewind(err);
    size_t n = fread(text, 1, sizeof text - 1, err);
    text[n] = 0;
    fclose(err);
    *message = text;
    return status;
}

TEST_F(Simd, NamesAreExactAndUnknownTextLeavesTheLevel) {
    int level = -7;
    EXPECT_EQ(simd_parse_level("scalar", &level), 0);
    EXPECT_EQ(level, SIMD_SCALAR);
    EXPECT_EQ(simd_parse_level("sse2", &level), 0);
    EXPECT_EQ(level, SIMD_SSE2);
    EXPECT_EQ(simd_parse_level("avx2", &level), 0);
    EXPECT_EQ(level, SIMD_AVX2);
    for (const char* bad : {"AVX2", "sse", "avx2 ", "avx512", "", "scalar\n"}) {
        level = -7;
        EXPECT_EQ(simd_parse_level(bad, &level), 1) << bad;
        EXPECT_EQ(level, -7) << bad;
    }
    EXPECT_EQ(simd_parse_level(nullptr, &level), 1);
    for (int l = SIMD_SCALAR; l <= SIMD_AVX2; l++) {
        EXPECT_EQ(simd_parse_level(simd_level_name(l), &level), 0);
        EXPECT_EQ(level, l);
    }
}

TEST_F(Simd, RequestsAreCappedToWhatTheProcessorHas) {
    int best = simd_best_level();
#if defined(__SSE2__)
    EXPECT_GE(best, SIMD_SSE2);
#endif
    EXPECT_EQ(simd_use_level(-3), SIMD_SCALAR);
    EXPECT_EQ(simd_level(), SIMD_SCALAR);
    EXPECT_EQ(simd_use_level(99), best);
    EXPECT_EQ(simd_level(), best);
    EXPECT_EQ(simd_use_level(SIMD_AVX2), best);  // avx2 on a processor without it: the nearest lower
}

TEST_F(Simd, EnvironmentSetsTheLevelOrFailsWithOneLine) {
    std::string message;
    EXPECT_EQ(init_with("scalar", &message), 0);
    EXPECT_EQ(simd_level(), SIMD_SCALAR);
    EXPECT_EQ(message, "");
    EXPECT_EQ(init_with(nullptr, &message), 0);  // unset: untouched
    EXPECT_EQ(simd_level(), SIMD_SCALAR);
    EXPECT_EQ(init_with("", &message), 0);  // empty counts as unset
    EXPECT_EQ(simd_level(), SIMD_SCALAR);
    EXPECT_EQ(init_with("sse2", &message), 0);
    EXPECT_EQ(simd_level(), simd_best_level() < SIMD_SSE2 ? simd_best_level() : SIMD_SSE2);
    EXPECT_EQ(init_with("fast", &message), 2);
    EXPECT_EQ(message, "quillet-test: QUILLET_SIMD must be scalar, sse2 or avx2, not 'fast'\n");
    EXPECT_LE(simd_level(), SIMD_SSE2);  // a bad value changes nothing
}

TEST_F(Simd, BlitsFollowTheLevelAndMayGoLower) {
    int best = simd_best_level();
    simd_use_level(SIMD_SCALAR);
    EXPECT_EQ(blit_use_path(BLIT_PATH_AVX2), BLIT_PATH_SCALAR);  // the level is a ceiling
    EXPECT_EQ(blit_current_path(), BLIT_PATH_SCALAR);
    simd_use_level(best);
    EXPECT_EQ(blit_current_path(), best);
    EXPECT_EQ(blit_use_path(BLIT_PATH_SCALAR), BLIT_PATH_SCALAR);  // and the blits' own lowering stays
    simd_use_level(best);
    EXPECT_EQ(blit_current_path(), BLIT_PATH_SCALAR);
}

}  // namespace
