#include <gtest/gtest.h>

#include <cstdint>
#include <random>

#include "gfx/image.h"

namespace {

TEST(ImageMath, PowersLogsAndBitCounts) {
    EXPECT_EQ(next_pow2(1), 1);
    EXPECT_EQ(next_pow2(2), 2);
    EXPECT_EQ(next_pow2(3), 4);
    EXPECT_EQ(next_pow2(640), 1024);
    EXPECT_EQ(next_pow2(1 << 30), 1 << 30);
    EXPECT_EQ(next_pow2((1 << 30) + 1), 0);  // no int power of two above
    EXPECT_EQ(floor_log2(0), 0);
    EXPECT_EQ(floor_log2(1), 0);
    EXPECT_EQ(floor_log2(2), 1);
    EXPECT_EQ(floor_log2(480), 8);
    EXPECT_EQ(floor_log2(0x7FFFFFFF), 30);
    for (int i = 1; i < 5000; i++) {
        int p = next_pow2(i);
        ASSERT_TRUE(p >= i && p / 2 < i && (p & (p - 1)) == 0) << i;
        ASSERT_TRUE((1 << floor_log2(i)) <= i && (2 << floor_log2(i)) > i) << i;
    }
    EXPECT_EQ(bit_count(0), 0);
    EXPECT_EQ(bit_count(0xFFFFFFFFu), 32);
    EXPECT_EQ(bit_count(0x80000001u), 2);
    EXPECT_EQ(bit_count(0x00F0F00Fu), 12);
}

TEST(ImageNew, AnySizeWithShiftsAndMasksAndZeroPixels) {
    Image* image = image_new(640, 480);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->width_shift, 9);
    EXPECT_EQ(image->height_shift, 8);
    EXPECT_EQ(image->width_mask, 511);
    EXPECT_EQ(image->height_mask, 255);
    EXPECT_EQ(image->level_count, 0);
    for (int k = 0; k < 12; k++) EXPECT_EQ(image->levels[k], nullptr);
    EXPECT_EQ((void*)image->pixels, (void*)(image + 1));  // storage right after the header
    for (int i = 0; i < 640 * 480; i++) ASSERT_EQ(image->pixels[i], 0u);
    image_free(image);
    image = image_new(0, 0);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->width_mask, 0);
    image_free(image);
    EXPECT_EQ(image_new(-1, 4), nullptr);
    EXPECT_EQ(image_new(4, -1), nullptr);
    image_free(nullptr);
}

TEST(ImageMipmapped, LevelChainFollowsTheBaseImage) {
    Image* image = image_new_mipmapped(256, 128);
    ASSERT_NE(image, nullptr);
    ASSERT_EQ(image->level_count, 8);
    EXPECT_EQ(image->levels[0], image->pixels);
    // Levels 1.. sit after the whole base image and after each other, sides 64, 32, ..., 1.
    EXPECT_EQ(image->levels[1], image->pixels + 256 * 128);
    for (int k = 2; k < 8; k++) {
        int side = 128 >> (k - 1);
        EXPECT_EQ(image->levels[k], image->levels[k - 1] + side * side) << k;
    }
    for (int k = 8; k < 12; k++) EXPECT_EQ(image->levels[k], nullptr);
    EXPECT_EQ(image_build_mips(image), 1);  // not square
    image_free(image);

    image = image_new_mipmapped(256, 256);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->level_count, 9);
    image_free(image);
    image = image_new_mipmapped(4096, 4096);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->level_count, 11);
    EXPECT_EQ(image->levels[10], image->levels[9] + 8 * 8);
    image->levels[10][4 * 4 - 1] = 1;  // the last level's last pixel is inside the block
    image_free(image);
    image = image_new_mipmapped(1, 1);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->level_count, 1);
    EXPECT_EQ(image_build_mips(image), 0);
    image_free(image);

    image = image_new(8, 8);
    EXPECT_EQ(image_build_mips(image), 1);  // no levels
    image_free(image);
}

TEST(ImageMipmapped, NonPowerOfTwoSidesAreRefusedWithTheMessage) {
    testing::internal::CaptureStdout();
    EXPECT_EQ(image_new_mipmapped(640, 480), nullptr);
    EXPECT_EQ(image_new_mipmapped(0, 8), nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "texture dimensions must be POW2 (640 x 480\ntexture dimensions must be POW2 (0 x 8\n");
}

TEST(ImageMipmapped, EachLevelIsTheTruncatedMeanOfFourPixels) {
    Image* image = image_new_mipmapped(64, 64);
    ASSERT_NE(image, nullptr);
    std::mt19937 rng(7);
    for (int i = 0; i < 64 * 64; i++) image->pixels[i] = i % 5 == 0 ? 0xFFFFFFFFu : rng();
    ASSERT_EQ(image_build_mips(image), 0);
    for (int k = 1; k < image->level_count; k++) {
        int a = 64 >> (k - 1), side = a / 2;
        for (int y = 0; y < side; y++)
            for (int x = 0; x < side; x++) {
                const uint32_t* src = image->levels[k - 1];
                uint32_t p[4] = {src[2 * y * a + 2 * x], src[2 * y * a + 2 * x + 1],
                                 src[(2 * y + 1) * a + 2 * x], src[(2 * y + 1) * a + 2 * x + 1]};
                uint32_t expected = 0;
                for (int b = 0; b < 4; b++) {
                    uint32_t sum = 0;
                    for (uint32_t v : p) sum += (v >> (8 * b)) & 0xFF;
                    expected |= (sum >> 2) << (8 * b);
                }
                ASSERT_EQ(image->levels[k][y * side + x], expected) << "level " << k << " " << x << "," << y;
            }
    }
    image_free(image);
}

TEST(ImageSlopeMap, DifferencesOfTheBlueByteWrapAtTheEdges) {
    Image* image = image_new(4, 3);
    // blue = 10 * x + 100 * y, other bytes noise that must be ignored
    for (int y = 0; y < 3; y++)
        for (int x = 0; x < 4; x++) image->pixels[y * 4 + x] = 0xAB12CD00u | (uint32_t)(10 * x + 100 * y);
    image->pixels[0] |= 0;  // B(0,0) = 0
    Image* slope = image_slope_map(image);
    ASSERT_NE(slope, nullptr);
    EXPECT_EQ(slope->width, 4);
    EXPECT_EQ(slope->level_count, 0);
    auto enc = [](int d) { return (uint32_t)((d + 256) >> 1); };
    for (int y = 0; y < 3; y++)
        for (int x = 0; x < 4; x++) {
            auto B = [&](int xx, int yy) { return 10 * ((xx + 4) % 4) + 100 * ((yy + 3) % 3); };
            uint32_t expected = 0xFF000000u | enc(B(x - 1, y) - B(x + 1, y)) << 16 |
                                enc(B(x, y - 1) - B(x, y + 1)) << 8;
            EXPECT_EQ(slope->pixels[y * 4 + x], expected) << x << "," << y;
        }
    image_free(slope);
    // extremes: full range maps onto 0..255 with 128 for flat
    image->pixels[0] = 0, image->pixels[2] = 255;
    slope = image_slope_map(image);
    EXPECT_EQ((slope->pixels[1] >> 16) & 0xFF, 0u);
    image_free(slope);
    image_free(image);
    EXPECT_EQ(image_slope_map(nullptr), nullptr);
}

TEST(TextureRamp, HalfSineInRedRowInGreenNoAlpha) {
    Image* ramp = texture_make_ramp();
    ASSERT_NE(ramp, nullptr);
    ASSERT_EQ(ramp->width, 256);
    ASSERT_EQ(ramp->height, 256);
    for (int y = 0; y < 256; y++) {
        EXPECT_EQ(ramp->pixels[y * 256 + 0], (uint32_t)y << 8);
        EXPECT_EQ(ramp->pixels[y * 256 + 255], 254u << 16 | (uint32_t)y << 8);
        for (int x = 0; x < 256; x++) {
            uint32_t p = ramp->pixels[y * 256 + x];
            ASSERT_EQ(p & 0xFF0000FFu, 0u);
            ASSERT_EQ((p >> 8) & 0xFF, (uint32_t)y);
            if (x) {
                ASSERT_GE((p >> 16) & 0xFF, (ramp->pixels[y * 256 + x - 1] >> 16) & 0xFF);
            }
        }
    }
    EXPECT_EQ((ramp->pixels[128] >> 16) & 0xFF, 127u);  // the sine's middle
    image_free(ramp);
}

}  // namespace
