// The painting tools under the texture art: tiling noise, antialiased shapes, straight-alpha bytes
// and text placement.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "assets/canvas.h"
#include "assets/image_files.h"
#include "assets/pattern.h"
#include "assets/text.h"

namespace {

TEST(Pattern, NoiseTilesAtItsPeriodsAndDependsOnlyOnItsArguments) {
    for (int i = 0; i < 200; i++) {
        float x = i * 0.37f, y = i * 0.91f;
        // Equal up to the rounding of x + period in float.
        EXPECT_NEAR(pattern_noise2(x, y, 4, 8, 7), pattern_noise2(x + 4.0f, y, 4, 8, 7), 1e-4);
        EXPECT_NEAR(pattern_noise2(x, y, 4, 8, 7), pattern_noise2(x, y + 8.0f, 4, 8, 7), 1e-4);
        EXPECT_NEAR(pattern_fbm2(x, y, 4, 2, 2, 0.5f, 3), pattern_fbm2(x + 2.0f, y + 2.0f, 4, 2, 2, 0.5f, 3), 1e-4);
        EXPECT_NEAR(pattern_noise2(x, y, 4, 8, 7), pattern_noise2(x - 12.0f, y - 16.0f, 4, 8, 7), 1e-4);
        float n = pattern_noise2(x, y, 0, 0, 7);
        EXPECT_LE(std::fabs(n), 1.5f);
    }
    // Different seeds give different fields; lattice points are zero as gradient noise should be.
    EXPECT_NE(pattern_noise2(0.5f, 0.5f, 0, 0, 1), pattern_noise2(0.5f, 0.5f, 0, 0, 2));
    EXPECT_EQ(pattern_noise2(3.0f, 5.0f, 0, 0, 1), 0.0f);
    Rng a = rng_make(5), b = rng_make(5);
    for (int i = 0; i < 10; i++) EXPECT_EQ(rng_next(&a), rng_next(&b));
    Rng r = rng_make(9);
    for (int i = 0; i < 1000; i++) {
        float u = rng_unit(&r);
        ASSERT_GE(u, 0.0f);
        ASSERT_LT(u, 1.0f);
    }
}

float coverage_sum(const Canvas* c) {
    float sum = 0.0f;
    for (int i = 0; i < c->width * c->height; i++) sum += c->px[i * 4 + 3];
    return sum;
}

TEST(Canvas, ShapesCoverTheirAreaWithSoftEdges) {
    Canvas* c = canvas_new(64, 64);
    ASSERT_NE(c, nullptr);
    canvas_fill_sdf(c, colour_rgb(1, 1, 1), [](float x, float y) { return sdf_circle(x, y, 32.3f, 31.7f, 20.0f); });
    EXPECT_NEAR(coverage_sum(c), 3.14159265f * 400.0f, 4.0f);
    // Edge pixels are partial, the inside full, the outside empty.
    EXPECT_EQ(c->px[(32 * 64 + 32) * 4 + 3], 1.0f);
    EXPECT_EQ(c->px[(2 * 64 + 2) * 4 + 3], 0.0f);
    canvas_free(c);

    c = canvas_new(64, 64);
    const float tri[6] = {4, 4, 60, 4, 4, 60};  // area 1568
    canvas_fill_sdf(c, colour_rgb(1, 1, 1), [&](float x, float y) { return sdf_polygon(x, y, tri, 3); });
    EXPECT_NEAR(coverage_sum(c), 1568.0f, 6.0f);
    canvas_free(c);

    c = canvas_new(64, 64);
    canvas_fill_sdf(c, colour_rgb(1, 1, 1), [](float x, float y) { return sdf_round_box(x, y, 32, 32, 20, 10, 4); });
    EXPECT_NEAR(coverage_sum(c), 40.0f * 20.0f - (16.0f - 3.14159265f * 4.0f) * 4.0f, 4.0f);
    canvas_free(c);
}

TEST(Canvas, BytesAreStraightAlphaWithEmptyPixelsBlack) {
    Canvas* c = canvas_new(3, 1);
    ASSERT_NE(c, nullptr);
    canvas_blend(c, 0, 0, colour_rgb(1.0f, 0.5f, 0.0f), 0.5f);   // half covered orange
    canvas_set(c, 1, 0, Colour{0.7f, 0.7f, 0.7f, 0.0f});          // transparent with colour
    canvas_set(c, 2, 0, colour_rgb(0.2f, 0.4f, 0.6f));
    std::vector<uint8_t> rgba, rgb;
    canvas_to_bytes(c, 4, &rgba);
    canvas_to_bytes(c, 3, &rgb);
    EXPECT_EQ(rgba, (std::vector<uint8_t>{255, 128, 0, 128, 0, 0, 0, 0, 51, 102, 153, 255}));
    EXPECT_EQ(rgb[6], 51);  // opaque pictures keep their colour
    EXPECT_EQ(rgb[0], 128);  // a half-covered pixel without alpha is the colour over black
    // Compositing: a second half coverage over the first leaves three quarters.
    canvas_blend(c, 0, 0, colour_rgb(1.0f, 0.5f, 0.0f), 0.5f);
    EXPECT_FLOAT_EQ(c->px[3], 0.75f);
    EXPECT_FLOAT_EQ(canvas_get(c, 0, 0).g, 0.5f);
    canvas_free(c);
}

TEST(Text, StringsAreSetOnTheirBaselineWithinTheirWidth) {
    ASSERT_EQ(text_init(), 0);
    float w1 = text_width(FONT_HEAVY, 32.0f, "brask", 0.0f);
    float w2 = text_width(FONT_HEAVY, 32.0f, "brask brask", 0.0f);
    EXPECT_GT(w1, 40.0f);
    EXPECT_GT(w2, 2.0f * w1);
    EXPECT_FLOAT_EQ(text_width(FONT_HEAVY, 32.0f, "", 0.0f), 0.0f);
    EXPECT_NEAR(text_width(FONT_HEAVY, 32.0f, "ab", 5.0f) - text_width(FONT_HEAVY, 32.0f, "ab", 0.0f), 5.0f, 1e-3);
    Mask* m = mask_new(200, 64);
    ASSERT_NE(m, nullptr);
    text_draw(m, FONT_HEAVY, 32.0f, 10.0f, 40.0f, "brask", 0.0f);
    // Ink lies between the left end and the measured width, and above the baseline (no descenders).
    int ink = 0, outside = 0;
    for (int y = 0; y < 64; y++)
        for (int x = 0; x < 200; x++) {
            if (m->v[y * 200 + x] <= 0.0f) continue;
            ink++;
            if (x < 8 || x > 10 + w1 + 2 || y > 41) outside++;
        }
    EXPECT_GT(ink, 300);
    EXPECT_EQ(outside, 0);
    mask_free(m);
    text_done();
}

}  // namespace
