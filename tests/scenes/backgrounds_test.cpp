// The background layer's schedule and cross-fades, on a fake texture table.
#include <gtest/gtest.h>

#include <cstdint>

#include "gfx/display.h"
#include "gfx/draw_queue.h"
#include "gfx/image.h"
#include "runtime/clock.h"
#include "scenes/scenes.h"

namespace {

const uint32_t kGrey = 0xFF7F7F7Fu;
// bump, cube, meta, shadows, springs (slots 14..18)
const uint32_t kColour[5] = {0xFF102030u, 0xFF405060u, 0xFFC08040u, 0xFFE0D0B0u, 0xFF8020A0u};

uint32_t fade(uint32_t s, uint32_t d, uint32_t o) {
    uint32_t a = (255 * o) >> 8, r = 0;
    for (int b = 0; b < 4; b++) {
        uint32_t S = (s >> (8 * b)) & 0xFF, D = (d >> (8 * b)) & 0xFF;
        uint32_t v = ((S * a) >> 8) + ((D * (255 - a)) >> 8);
        r |= (v > 255 ? 255 : v) << (8 * b);
    }
    return r;
}

struct Backgrounds : ::testing::Test {
    void SetUp() override {
        ASSERT_EQ(display_open_offscreen(0), 0);
        for (int i = 0; i < 5; i++) {
            Image* image = image_new(640, 480);
            for (int p = 0; p < 640 * 480; p++) image->pixels[p] = kColour[i];
            texture_table.textures[14 + i] = image;
        }
        ASSERT_EQ(layer_backgrounds_init(), 0);
    }
    void TearDown() override {
        layer_backgrounds_free();
        for (int i = 14; i < 19; i++) {
            image_free(texture_table.textures[i]);
            texture_table.textures[i] = nullptr;
        }
        display_close();
    }
    uint32_t at_beat(float beat) {
        frame_clear(kGrey);
        demo_clock.clock_beat = beat;
        layer_backgrounds_render(0.0f);
        draw_queue_flush();  // the picture may be held for the next pass
        uint32_t first = framebuffer.pixels[0];
        EXPECT_EQ(framebuffer.pixels[640 * 480 - 1], first) << beat;  // the whole screen alike
        return first;
    }
};

TEST_F(Backgrounds, EachSectionShowsItsPictureOrTheGreyClear) {
    EXPECT_EQ(at_beat(0.0f), kGrey);
    EXPECT_EQ(at_beat(31.9f), kGrey);
    EXPECT_EQ(at_beat(32.0f), kColour[1]);
    EXPECT_EQ(at_beat(95.5f), kColour[1]);
    EXPECT_EQ(at_beat(96.0f), kColour[3]);
    EXPECT_EQ(at_beat(160.0f), kGrey);
    EXPECT_EQ(at_beat(191.9f), kGrey);
    EXPECT_EQ(at_beat(192.0f), kColour[2]);
    EXPECT_EQ(at_beat(260.0f), kColour[4]);
    EXPECT_EQ(at_beat(319.9f), kColour[4]);
    EXPECT_EQ(at_beat(320.0f), kColour[0]);
    EXPECT_EQ(at_beat(379.9f), kColour[0]);
    EXPECT_EQ(at_beat(385.0f), kColour[3]);
    EXPECT_EQ(at_beat(433.9f), kColour[3]);
    EXPECT_EQ(at_beat(434.0f), kGrey);
}

TEST_F(Backgrounds, CrossFadesUseTheFlooredOpacity) {
    EXPECT_EQ(at_beat(256.0f), fade(kColour[2], kColour[4], 255));
    EXPECT_EQ(at_beat(258.0f), fade(kColour[2], kColour[4], 127));
    EXPECT_EQ(at_beat(259.99f), fade(kColour[2], kColour[4], 0));
    EXPECT_EQ(at_beat(380.0f), fade(kColour[3], kColour[0], 0));
    EXPECT_EQ(at_beat(382.5f), fade(kColour[3], kColour[0], 127));
    EXPECT_EQ(at_beat(384.99f), fade(kColour[3], kColour[0], 254));
}

TEST_F(Backgrounds, MissingPicturesLeaveTheClear) {
    for (int i = 14; i < 19; i++) {
        image_free(texture_table.textures[i]);
        texture_table.textures[i] = nullptr;
    }
    ASSERT_EQ(layer_backgrounds_init(), 0);
    EXPECT_EQ(at_beat(40.0f), kGrey);
    EXPECT_EQ(at_beat(258.0f), kGrey);
}

}  // namespace
