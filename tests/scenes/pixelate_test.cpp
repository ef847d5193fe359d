// The mosaic against a block-by-block reference, and the beats at which the layer runs it.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "gfx/display.h"
#include "gfx/blit.h"
#include "gfx/draw_queue.h"
#include "gfx/image.h"
#include "runtime/clock.h"
#include "scenes/pixelate_ops.h"
#include "scenes/scenes.h"

namespace {

void ref_pixelate(std::vector<uint32_t>& p, int shift, int alpha) {
    int s = 1 << shift;
    uint32_t a = (255u * (uint32_t)alpha) >> 8;
    for (int y0 = 0; y0 < 480; y0 += s)
        for (int x0 = 0; x0 < 640; x0 += s) {
            uint32_t S = p[(y0 + s / 2 - 1) * 640 + (x0 + s / 2 - 1)] | 0xFF000000u;
            int rows = y0 + s < 480 ? s : 479 - y0, cols = x0 + s < 640 ? s : 639 - x0;
            for (int y = y0; y < y0 + rows; y++)
                for (int x = x0; x < x0 + cols; x++) {
                    uint32_t D = p[y * 640 + x], r = 0;
                    for (int b = 0; b < 32; b += 8) {
                        uint32_t v = ((((S >> b) & 0xFF) * a) >> 8) + ((((D >> b) & 0xFF) * (255 - a)) >> 8);
                        r |= (v > 255 ? 255 : v) << b;
                    }
                    p[y * 640 + x] = r;
                }
        }
}

struct Pixelate : ::testing::Test {
    void SetUp() override {
        ASSERT_EQ(display_open_offscreen(0), 0);
        ASSERT_EQ(layer_pixelate_init(), 0);
    }
    void TearDown() override {
        layer_pixelate_free();
        display_close();
    }
    std::vector<uint32_t> screen() { return std::vector<uint32_t>(framebuffer.pixels, framebuffer.pixels + 640 * 480); }
    void load(const std::vector<uint32_t>& p) { memcpy(framebuffer.pixels, p.data(), p.size() * 4); }
    std::vector<uint32_t> noise(unsigned seed) {
        srand(seed);
        std::vector<uint32_t> p(640 * 480);
        for (uint32_t& v : p) v = ((uint32_t)rand() << 16) ^ (uint32_t)rand();
        return p;
    }
};

TEST_F(Pixelate, EveryBlockSizeAndStrengthMatchesTheReference) {
    for (int shift = 1; shift <= 9; shift++) {
        for (int alpha : {0, 1, 64, 200, 255}) {
            std::vector<uint32_t> start = noise((unsigned)(shift * 1000 + alpha)), want = start;
            ref_pixelate(want, shift, alpha);
            load(start);
            pixelate(shift, alpha);
            ASSERT_EQ(screen(), want) << "shift " << shift << " alpha " << alpha;
            load(start);
            pixelate_scalar(shift, alpha);
            ASSERT_EQ(screen(), want) << "scalar, shift " << shift << " alpha " << alpha;
        }
    }
}

TEST_F(Pixelate, SmallestBlocksTakeTheirTopLeftPixelAndSpareTheLastRowAndColumn) {
    std::vector<uint32_t> start = noise(3);
    load(start);
    pixelate(1, 255);
    for (int y = 0; y < 478; y += 2)
        for (int x = 0; x < 638; x += 2) {
            uint32_t top_left = start[y * 640 + x] | 0xFF000000u, v = 0;
            for (int b = 0; b < 32; b += 8) v |= ((((top_left >> b) & 0xFF) * 254) >> 8) << b;
            ASSERT_EQ(framebuffer.pixels[y * 640 + x + 1], v);
            ASSERT_EQ(framebuffer.pixels[(y + 1) * 640 + x], v);
        }
    for (int x = 0; x < 640; x++) EXPECT_EQ(framebuffer.pixels[479 * 640 + x], start[479 * 640 + x]);
    for (int y = 0; y < 480; y++) EXPECT_EQ(framebuffer.pixels[y * 640 + 639], start[y * 640 + 639]);
}

TEST_F(Pixelate, OutOfRangeArgumentsAreSafe) {
    std::vector<uint32_t> start = noise(5), want = start;
    load(start);
    for (int shift : {0, -3, 10, 31, 40}) pixelate(shift, 255);
    EXPECT_EQ(screen(), start);
    ref_pixelate(want, 4, 255);
    pixelate(4, 100000);  // strength is capped at full
    EXPECT_EQ(screen(), want);
}

TEST_F(Pixelate, LayerRunsOnlyAtTheSectionChanges) {
    struct Case { float beat; int shift, alpha; };
    const Case cases[] = {
        {62.0f, 1, 255}, {63.9f, 8, 255}, {95.0f, 8, 0}, {95.5f, 8, 15}, {96.0f, 8, 255}, {97.9f, 2, 255},
        {212.0f, 6, 0}, {213.5f, 6, 48}, {214.0f, 6, 64}, {255.9f, 6, 64}, {256.0f, 9, 255}, {257.9f, 2, 255},
        {61.9f, 0, 0}, {64.0f, 0, 0}, {94.9f, 0, 0}, {98.0f, 0, 0}, {211.9f, 0, 0}, {258.0f, 0, 0},
    };
    std::vector<uint32_t> start = noise(9);
    for (const Case& c : cases) {
        std::vector<uint32_t> want = start;
        if (c.shift) ref_pixelate(want, c.shift, c.alpha);
        load(start);
        demo_clock.clock_beat = c.beat;
        layer_pixelate_render(0.0f);
        EXPECT_EQ(screen(), want) << c.beat;
    }
}

// The blocks sample pixels of other rows, so the mosaic waits for the drawing threads.
TEST_F(Pixelate, MosaicWaitsForRecordedDrawing) {
    std::vector<uint32_t> base = noise(21), over = noise(22);
    Image* picture = image_new(640, 480);
    memcpy(picture->pixels, over.data(), over.size() * 4);
    load(base);
    image_draw(picture, 0, 0, 1);
    pixelate(6, 100);
    image_draw(picture, 3, 5, 6);
    std::vector<uint32_t> want = screen();
    load(base);
    ASSERT_EQ(draw_queue_start(3), 0);
    image_draw(picture, 0, 0, 1);
    pixelate(6, 100);
    image_draw(picture, 3, 5, 6);
    draw_queue_stop();
    EXPECT_TRUE(screen() == want);
    image_free(picture);
}

}  // namespace
