// Film damage: the line walk, scratch motion and drawing, hair lives and blinking, and the random
// set-up, on a fake grain texture.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <set>
#include <utility>
#include <vector>

#include "gfx/display.h"
#include "gfx/draw_queue.h"
#include "gfx/image.h"
#include "procedural/noise.h"
#include "runtime/clock.h"
#include "scenes/film_damage_ops.h"
#include "scenes/scenes.h"

namespace {

const uint32_t kWhite = 0xFFFFFFFFu;

struct FilmDamage : ::testing::Test {
    void SetUp() override {
        ASSERT_EQ(display_open_offscreen(0), 0);
        Image* grain = image_new(16, 8);  // width mask 15, height mask 7
        for (int i = 0; i < 16 * 8; i++) grain->pixels[i] = 0xFF000000u | (uint32_t)(i * 2) * 0x010101u;
        texture_table.textures[13] = grain;
        srand(11);
        ASSERT_EQ(layer_film_damage_init(), 0);
        frame_clear(kWhite);
    }
    void TearDown() override {
        layer_film_damage_free();
        image_free(texture_table.textures[13]);
        texture_table.textures[13] = nullptr;
        display_close();
    }
    // Everything quiet and long-lived at beat 0, so single items can be staged.
    void quiet() {
        for (FilmScratch& s : film_scratches) s = {1600, 0, 1000, 0, 0, 255};
        for (FilmHair& h : film_hairs) h = {1000, 0, 0, 0, 8, 2, {}};
        demo_clock.clock_beat = 0.0f;
    }
    std::set<std::pair<int, int>> drawn(uint32_t background) {
        std::set<std::pair<int, int>> out;
        for (int i = 0; i < 640 * 480; i++)
            if (framebuffer.pixels[i] != background) out.insert({i % 640, i / 640});
        return out;
    }
};

using Points = std::set<std::pair<int, int>>;

TEST_F(FilmDamage, LineWalkCoversBothEndsAndStaysOnTheScreen) {
    draw_line(0, 0, 4, 2, 0);
    EXPECT_EQ(drawn(kWhite), (Points{{0, 0}, {1, 1}, {2, 1}, {3, 2}, {4, 2}}));
    frame_clear(kWhite);
    draw_line(2, 4, 0, 0, 0);  // steep, walked backwards
    EXPECT_EQ(drawn(kWhite), (Points{{2, 4}, {1, 3}, {1, 2}, {0, 1}, {0, 0}}));
    frame_clear(kWhite);
    draw_line(-50, 10, 700, 10, 0);
    Points row = drawn(kWhite);
    EXPECT_EQ(row.size(), 640u);
    EXPECT_TRUE(row.count({0, 10}) && row.count({639, 10}));
    frame_clear(kWhite);
    draw_line(700, 900, 700, 900, 0x12345678u);
    EXPECT_EQ(framebuffer.pixels[479 * 640 + 639], 0x12345678u);
}

TEST_F(FilmDamage, ScratchesBounceAtTheEdgesAndMoveByHalfTheirVelocity) {
    quiet();
    film_scratches[0] = {10200, 20, 1000, 0, 0, 255};
    film_scratches[1] = {5, -12, 1000, 0, 0, 255};
    film_scratches[2] = {800, 3, 1000, 0, 0, 255};
    film_scratches[3] = {800, -3, 1000, 0, 0, 255};
    film_scratches[4] = {800, 8, 1, 0, 0, 255};  // beyond the four animated ones
    layer_film_damage_render(0.0f);
    EXPECT_EQ(film_scratches[0].x, FILM_SCRATCH_X_MAX);
    EXPECT_EQ(film_scratches[0].velocity, -20);
    EXPECT_EQ(film_scratches[1].x, 0);
    EXPECT_EQ(film_scratches[1].velocity, 12);
    EXPECT_EQ(film_scratches[2].x, 801);  // 3 / 2 truncates toward zero
    EXPECT_EQ(film_scratches[3].x, 799);
    EXPECT_EQ(film_scratches[4].x, 800);
}

TEST_F(FilmDamage, ExpiredScratchIsPlacedAnewInRange) {
    quiet();
    film_scratches[0] = {800, 3, 2, 0, 0, 255};
    demo_clock.clock_beat = 0.49f;  // q = 1: still alive
    layer_film_damage_render(0.0f);
    EXPECT_EQ(film_scratches[0].born, 0);
    demo_clock.clock_beat = 2.3f;  // q = 9
    layer_film_damage_render(0.0f);
    const FilmScratch& s = film_scratches[0];
    EXPECT_EQ(s.born, 9);
    EXPECT_TRUE(s.duration >= 1 && s.duration <= 32);
    EXPECT_TRUE(s.x % 16 == 0 && s.x >= 0 && s.x < 640 * 16);
    EXPECT_TRUE(s.velocity >= -15 && s.velocity <= 15);
    EXPECT_TRUE(s.opacity >= 128 && s.opacity <= 255);
    EXPECT_TRUE(s.visible == 0 || s.visible == 1);
}

TEST_F(FilmDamage, ScratchMultipliesTwoColumnsThroughTheGrain) {
    quiet();
    for (int y = 0; y < 480; y++)
        for (int x = 0; x < 640; x++) framebuffer.pixels[y * 640 + x] = 0x80C06020u + (uint32_t)(y & 15);
    film_scratches[0] = {100 * 16 + 7, 0, 1000, 0, 1, 200};  // column 100
    layer_film_damage_render(0.0f);
    for (int y = 0; y < 480; y++) {
        uint32_t d = 0x80C06020u + (uint32_t)(y & 15), want = d;
        if (y < 479) {
            uint32_t g = texture_table.textures[13]->pixels[(100 & 7) + (y & 15)], a = (0x80u * 200) >> 8;
            want = 0;
            for (int b = 0; b < 32; b += 8) {
                uint32_t S = (d >> b) & 0xFF, m = (((g >> b) & 0xFF) * S) >> 8;
                want |= std::min(255u, ((S * a) >> 8) + ((m * (255 - a)) >> 8)) << b;
            }
        }
        ASSERT_EQ(framebuffer.pixels[y * 640 + 100], want) << y;
        ASSERT_EQ(framebuffer.pixels[y * 640 + 101], want) << y;
        ASSERT_EQ(framebuffer.pixels[y * 640 + 99], d) << y;
        ASSERT_EQ(framebuffer.pixels[y * 640 + 102], d) << y;
    }
    // Placed at the last column, the pair would wrap onto the next row's first pixel: only one
    // column. Find a seed whose placement lands there, visible.
    unsigned seed = 1;
    for (;; seed++) {
        srand(seed);
        int r[6];
        for (int& v : r) v = rand();
        if (r[1] % 640 == 639 && (r[5] & 1)) break;
    }
    frame_clear(kWhite);
    film_scratches[0] = {0, 0, 0, 0, 0, 255};  // expired: placed this frame
    srand(seed);
    layer_film_damage_render(0.0f);
    ASSERT_EQ(film_scratches[0].x, 639 * 16);
    for (int y = 1; y < 480; y++) ASSERT_EQ(framebuffer.pixels[y * 640], kWhite) << y;
    EXPECT_NE(framebuffer.pixels[639], kWhite);
}

TEST_F(FilmDamage, HairsBlinkLiveAndStopOnePointShort) {
    quiet();
    // three points: one segment drawn, the last point never reached
    film_hairs[0] = {1000, 0, 1, 0, 8, 3, {{100, 100}, {120, 100}, {120, 130}}};
    film_hairs[1] = {1000, 0, 1, 2, 8, 3, {{100, 200}, {120, 200}, {120, 230}}};
    film_hairs[2] = {1000, 0, 1, 0, 8, 2, {{100, 300}, {120, 300}}};
    film_hairs[3] = {1000, 0, 0, 0, 8, 3, {{100, 400}, {120, 400}, {120, 430}}};
    for (int frame = 0; frame < 4; frame++) {
        frame_clear(kWhite);
        layer_film_damage_render(0.0f);
        EXPECT_EQ(framebuffer.pixels[100 * 640 + 110], 0u) << frame;
        EXPECT_EQ(framebuffer.pixels[110 * 640 + 120], kWhite) << frame;
        EXPECT_EQ(framebuffer.pixels[200 * 640 + 110] == 0u, frame % 2 == 1) << frame;  // blink 2, 3, 2, ...
        EXPECT_EQ(framebuffer.pixels[300 * 640 + 110], kWhite) << frame;
        EXPECT_EQ(framebuffer.pixels[400 * 640 + 110], kWhite) << frame;
    }
    // When its life ends the hair is spawned anew, born at the current sixteenth.
    film_hairs[0].duration = 4;
    demo_clock.clock_beat = 0.3f;  // h = 4
    layer_film_damage_render(0.0f);
    EXPECT_EQ(film_hairs[0].born, 4);
}

TEST_F(FilmDamage, SpawnedHairsHalveTheirSegmentsAndStayInRange) {
    for (int n = 0; n < 300; n++) {
        FilmHair h;
        film_hair_spawn(&h);
        ASSERT_TRUE(h.duration >= 1 && h.duration <= 32);
        ASSERT_TRUE(h.size >= 8 && h.size <= 49);
        ASSERT_TRUE(h.point_count >= 2 && h.point_count <= 11);
        ASSERT_TRUE(h.blink >= 0 && h.blink <= 3);
        ASSERT_TRUE(h.points[0][0] >= 0 && h.points[0][0] < 640 && h.points[0][1] >= 40 && h.points[0][1] < 440);
        float length = (float)h.size;
        for (int i = 1; i < h.point_count; i++, length *= 0.5f) {
            float dx = (float)(h.points[i][0] - h.points[i - 1][0]), dy = (float)(h.points[i][1] - h.points[i - 1][1]);
            ASSERT_NEAR(std::sqrt(dx * dx + dy * dy), length, 1.5f) << n << " " << i;
        }
    }
}

TEST_F(FilmDamage, InitRandomisesEveryScratchAndRepeatsFromTheSameSeed) {
    film_scratches[0].born = 77;
    srand(21);
    ASSERT_EQ(layer_film_damage_init(), 0);
    std::vector<int> first;
    for (const FilmScratch& s : film_scratches) {
        EXPECT_EQ(s.born, 0);
        EXPECT_TRUE(s.x % 16 == 0 && s.x < 640 * 16 && s.opacity >= 128 && s.duration <= 32);
        first.insert(first.end(), {s.x, s.velocity, s.duration, s.visible, s.opacity});
    }
    layer_film_damage_free();
    srand(21);
    ASSERT_EQ(layer_film_damage_init(), 0);
    std::vector<int> second;
    for (const FilmScratch& s : film_scratches) second.insert(second.end(), {s.x, s.velocity, s.duration, s.visible, s.opacity});
    EXPECT_EQ(first, second);
    // Without a grain texture the scratches still move but nothing is multiplied.
    image_free(texture_table.textures[13]);
    texture_table.textures[13] = nullptr;
    ASSERT_EQ(layer_film_damage_init(), 0);
    quiet();
    film_scratches[0] = {1600, 0, 1000, 0, 1, 255};
    frame_clear(kWhite);
    layer_film_damage_render(0.0f);
    EXPECT_EQ(drawn(kWhite).size(), 0u);
}

// Scratches and hairs drawn by several threads, each in its own rows, give the frames of one.
TEST_F(FilmDamage, ThreadsDrawTheSameDamage) {
    auto run = [&]() {
        srand(11);
        random_state = 12345;
        EXPECT_EQ(layer_film_damage_init(), 0);
        std::vector<uint32_t> frames;
        for (int f = 0; f < 40; f++) {
            frame_clear(0xFF000000u | (uint32_t)f * 0x030507u);
            demo_clock.clock_beat = (float)f * 0.37f;
            layer_film_damage_render(0.0f);
            for (int i = 0; i < 20; i++) draw_line(rand() % 700 - 30, rand() % 540 - 30, rand() % 700 - 30, rand() % 540 - 30, (uint32_t)rand());
            draw_queue_flush();
            frames.insert(frames.end(), framebuffer.pixels, framebuffer.pixels + 640 * 480);
        }
        return frames;
    };
    std::vector<uint32_t> want = run();
    ASSERT_EQ(draw_queue_start(3), 0);
    std::vector<uint32_t> got = run();
    draw_queue_stop();
    EXPECT_TRUE(got == want);
}

}  // namespace
