// Shared by the tests of every module: pictures to look at, a seeded random generator, and the
// fixture of the scene tests that run with the real data set.
#pragma once
#include <gtest/gtest.h>

#include <cstdint>

// Writes 0xAARRGGBB pixels (rows stride pixels apart) as an RGB PNG named name into the folder
// $QUILLET_PNG_DIR, when that variable is set; 0 when written or not asked for, 1 on failure.
int test_save_png(const char* name, const uint32_t* pixels, int width, int height, int stride);

// Small deterministic generator (64-bit linear congruential, high half returned).
struct TestRandom {
    uint64_t state;
};
uint32_t test_random_u32(TestRandom* r);
float test_random_float(TestRandom* r, float lo, float hi);  // uniform in [lo, hi)
int test_random_int(TestRandom* r, int lo, int hi);          // uniform in [lo, hi]

// Enters the data set's folder ($QUILLET_TEST_DATA_DIR or the build's); false when there is none.
bool test_enter_data(void);

// What a scene needs before its init: the data set's folder entered, an off-screen display, the noise tables and the texture table. Skips the test
// when there is no data set; a scene fixture derives from it and starts its scene when ready().
class SceneData : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    bool ready() const { return opened_ && !IsSkipped() && !HasFatalFailure(); }
    // Pixels of the framebuffer that differ from background.
    static int covered(uint32_t background);

private:
    bool opened_ = false;
};
