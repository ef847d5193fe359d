// The sprite layer's windows and positions on solid fake sprites, and the line tears.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "gfx/display.h"
#include "gfx/blit.h"
#include "gfx/draw_queue.h"
#include "gfx/image.h"
#include "procedural/envelope.h"
#include "procedural/noise.h"
#include "runtime/clock.h"
#include "scenes/scenes.h"
#include "scenes/sprites_ops.h"

namespace {

const uint32_t kBlack = 0xFF000000u;
const int kSlots[9] = {34, 36, 35, 30, 31, 28, 29, 37, 38};

// Solid opaque colour per slot, and what it becomes blitted over the opaque black clear.
uint32_t slot_colour(int slot) { return 0xFF000000u | (uint32_t)(slot * 6) << 16 | (uint32_t)(255 - slot) << 8 | 0x80u; }
uint32_t on_black(uint32_t c, int opacity) {
    uint32_t a = (255u * (uint32_t)opacity) >> 8, r = 0;
    for (int b = 0; b < 32; b += 8) {
        uint32_t v = ((((c >> b) & 0xFF) * a) >> 8) + (b == 24 ? (255 * (255 - a)) >> 8 : 0);  // black's alpha
        r |= std::min(v, 255u) << b;
    }
    return r;
}

struct Box {
    int x0 = 10000, y0 = 10000, x1 = -1, y1 = -1;  // inclusive; x1 < 0 when absent
};

struct Sprites : ::testing::Test {
    void SetUp() override {
        ASSERT_EQ(display_open_offscreen(0), 0);
        for (int i = 0; i < 9; i++) {
            int w = 100 + 10 * i, h = 50 + 5 * i;  // all different, to catch a swapped size
            Image* im = image_new(w, h);
            for (int p = 0; p < w * h; p++) im->pixels[p] = slot_colour(kSlots[i]);
            texture_table.textures[kSlots[i]] = im;
        }
        ASSERT_EQ(layer_sprites_init(), 0);
    }
    void TearDown() override {
        layer_sprites_free();
        for (int slot : kSlots) {
            image_free(texture_table.textures[slot]);
            texture_table.textures[slot] = nullptr;
        }
        display_close();
    }
    void render(float beat) {
        frame_clear(kBlack);
        demo_clock.clock_beat = beat;
        demo_clock.clock_beat_fraction = beat - std::floor(beat);
        layer_sprites_render(0.0f);
    }
    Box find(int slot, int opacity = 255) {
        Box b;
        uint32_t c = on_black(slot_colour(slot), opacity);
        for (int i = 0; i < 640 * 480; i++)
            if (framebuffer.pixels[i] == c) {
                int x = i % 640, y = i / 640;
                b.x0 = std::min(b.x0, x), b.x1 = std::max(b.x1, x), b.y0 = std::min(b.y0, y), b.y1 = std::max(b.y1, y);
            }
        return b;
    }
    int w(int slot) { return texture_table.textures[slot]->width; }
    int h(int slot) { return texture_table.textures[slot]->height; }
};

TEST_F(Sprites, CreditsSlideInFromTheirEdgesAndLeaveWithTheirWindows) {
    // music credit, half-way in: partly beyond the right edge, on the bottom edge
    render(34.0f);
    Box m = find(34);
    EXPECT_EQ(m.x0, (int)std::floor(tween_overshoot(640.0f, (float)(640 - w(34)), 0.5f)));
    EXPECT_EQ(m.x1, 639);
    EXPECT_EQ(m.y1, 479);
    EXPECT_EQ(m.y0, 480 - h(34));
    EXPECT_LT(find(36).x1, 0) << "code credit not before beat 36";
    // code credit enters from the left; graphics credit drops in, centred
    render(42.0f);
    Box g = find(35);
    EXPECT_EQ(g.x0, (640 - w(35)) / 2);
    EXPECT_EQ(g.y0, std::max(0, (int)std::floor(tween_overshoot(480.0f, 0.0f, 0.5f))));
    EXPECT_EQ(find(36).x1 - find(36).x0 + 1, w(36));
    // windows end exclusively
    render(52.0f);
    EXPECT_LT(find(34).x1, 0);
    EXPECT_GE(find(36).x1, 0);
    render(60.0f);
    EXPECT_LT(find(35).x1, 0);
}

TEST_F(Sprites, CreaturesAndBirdsRiseSinkAndKeepToTheirEdges) {
    render(66.0f);  // left creature half in from the left
    Box c = find(30);
    EXPECT_EQ(c.x1, w(30) / 2 - 1);
    EXPECT_EQ(c.y0, 480 - h(30));
    render(94.0f);  // sinking through the bottom edge
    EXPECT_EQ(find(30).y0, 480 - h(30) + h(30) / 2);
    render(96.0f);
    EXPECT_LT(find(30).x1, 0);
    render(210.0f);  // right creature half in from the right
    EXPECT_EQ(find(31).x0, 640 - w(31) / 2);
    render(259.5f);  // the gull is drawn 92 pixels left of its place
    EXPECT_EQ(find(28).x1, -(int)std::floor((float)w(28) * 0.125f) - 92 + w(28) - 1);
    render(326.0f);  // the right gull rises from below the bottom edge
    Box rb = find(29);
    EXPECT_EQ(rb.y0, 480 - h(29) / 2);
    EXPECT_EQ(rb.x0, 640 - w(29));
    render(385.0f);
    EXPECT_LT(find(29).x1, 0);
}

TEST_F(Sprites, EndCreditsHoldTheirCornersAndFlicker) {
    noise_init(0);
    render(400.0f);
    float flicker1 = std::fabs(noise1((400.0f - 389.0f) * 0.75f) * 128.0f);
    Box e1 = find(37, 255 - (int)flicker1);
    EXPECT_EQ(e1.x0, 0);
    EXPECT_EQ(e1.y0, 0);
    float flicker2 = std::fabs(noise1((400.0f - 393.0f) * 0.75f) * 128.0f);
    Box e2 = find(38, 255 - (int)flicker2);
    EXPECT_EQ(e2.x1, 639);
    EXPECT_EQ(e2.y1, 479);
    EXPECT_EQ(e2.x0, 640 - w(38));
    render(420.0f);
    EXPECT_LT(find(37).x1, 0);
    EXPECT_LT(find(38).x1, 0);
}

// Each pixel holds its own column, so a moved row shows its shift directly.
void stripes() {
    for (int y = 0; y < 480; y++)
        for (int x = 0; x < 640; x++) framebuffer.pixels[y * 640 + x] = 0x01000000u | (uint32_t)(x + 1);
}

TEST_F(Sprites, TearMovesTheBandsTheGeneratorPicks) {
    srand(99);
    std::vector<int> pick;
    for (int r = 0; r < 480 - 8; r += 8) pick.push_back(rand() & 3);
    ASSERT_EQ(pick.size(), 59u);
    stripes();
    srand(99);
    line_tear(5, 8);
    for (int band = 0; band < 60; band++)
        for (int y = band * 8; y < band * 8 + 8; y++) {
            const uint32_t* p = framebuffer.pixels + y * 640;
            int how = band < 59 ? pick[band] : 0;  // rows 472 to 479 never move
            if (how == 1) {
                ASSERT_EQ(p[0], 0x01000000u | 6u) << y;
                ASSERT_EQ(p[634], 0x01000000u | 640u) << y;
                ASSERT_EQ(p[635], kBlack) << y;
                ASSERT_EQ(p[639], kBlack) << y;
            } else if (how == 3) {
                ASSERT_EQ(p[4], kBlack) << y;
                ASSERT_EQ(p[5], 0x01000000u | 1u) << y;
                ASSERT_EQ(p[639], 0x01000000u | 635u) << y;
            } else {
                ASSERT_EQ(p[0], 0x01000000u | 1u) << y;
                ASSERT_EQ(p[639], 0x01000000u | 640u) << y;
            }
        }
    // absurd arguments neither hang nor write outside the screen
    line_tear(5, 0);
    line_tear(0, 8);
    line_tear(100000, 8);
    line_tear(3, 1000);
}

// The largest shift seen across the bands, 0 when nothing tore.
int tear_shift() {
    int most = 0;
    for (int y = 0; y < 480; y++) {
        uint32_t v = framebuffer.pixels[y * 640];
        if (v != kBlack && (v & 0xFFFF) > 1) most = std::max(most, (int)(v & 0xFFFF) - 1);
    }
    return most;
}

TEST_F(Sprites, TearsGrowAroundBeat310AndShrinkThroughBeat315) {
    for (int slot : kSlots) {  // tears only: no sprites in the way
        image_free(texture_table.textures[slot]);
        texture_table.textures[slot] = nullptr;
    }
    ASSERT_EQ(layer_sprites_init(), 0);
    struct Case { float beat; int shift; };
    const Case cases[] = {{309.9f, 0}, {310.0f, 1}, {310.75f, 5}, {311.4f, 8}, {311.5f, 0}, {314.9f, 0},
                          {315.0f, 9}, {315.5f, 5}, {315.99f, 1}, {316.0f, 0}};
    for (const Case& c : cases) {
        srand(4);
        stripes();
        demo_clock.clock_beat = c.beat;
        demo_clock.clock_beat_fraction = c.beat - std::floor(c.beat);
        layer_sprites_render(0.0f);
        EXPECT_EQ(tear_shift(), c.shift) << c.beat;
    }
}

// The tear moves rows in place after everything drawn before it, threads or not.
TEST_F(Sprites, TearWaitsForRecordedDrawing) {
    Image* veil = image_new(640, 480);
    for (int i = 0; i < 640 * 480; i++) veil->pixels[i] = (uint32_t)i * 0x9E3779B1u;
    auto run = [&]() {
        stripes();
        image_draw(veil, 0, 0, 1);
        srand(5);
        line_tear(7, 8);
        image_blit(veil, 11, -3, 200, 0);
        return std::vector<uint32_t>(framebuffer.pixels, framebuffer.pixels + 640 * 480);
    };
    std::vector<uint32_t> want = run();
    ASSERT_EQ(draw_queue_start(3), 0);
    std::vector<uint32_t> got = run();
    draw_queue_stop();
    got.assign(framebuffer.pixels, framebuffer.pixels + 640 * 480);
    EXPECT_TRUE(got == want);
    image_free(veil);
}

}  // namespace
