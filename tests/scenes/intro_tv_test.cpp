// The intro's titles and screens: the opacity byte, the turned quads, the bass smoothing and the
// schedule of what is drawn when.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <unistd.h>

#include "gfx/display.h"
#include "gfx/image.h"
#include "runtime/clock.h"
#include "runtime/music.h"
#include "scenes/intro_tv.h"
#include "scenes/scenes.h"
#include "support/test_support.h"

namespace {

const float kPi = 3.14159265358979323846f;
const uint32_t kBlack = 0xFF000000u;

// Mode 0 of the blit with a fully opaque source: a = (255 * opacity) >> 8.
uint32_t fade(uint32_t s, uint32_t d, uint32_t opacity) {
    uint32_t a = (255 * opacity) >> 8, r = 0;
    for (int b = 0; b < 4; b++) {
        uint32_t S = (s >> (8 * b)) & 0xFF, D = (d >> (8 * b)) & 0xFF;
        uint32_t v = ((S * a) >> 8) + ((D * (255 - a)) >> 8);
        r |= (v > 255 ? 255 : v) << (8 * b);
    }
    return r;
}

// The rasterizer's alpha blend: the triangle colour scales the texel's opacity channel by channel.
uint32_t blend(uint32_t t, uint32_t k, uint32_t d) {
    uint32_t r = 0;
    for (int sh = 0; sh < 32; sh += 8) {
        uint32_t o = ((t >> 24) * ((k >> sh) & 255)) >> 8;
        uint32_t v = ((((t >> sh) & 255) * o) >> 8) + ((((d >> sh) & 255) * (255 - o)) >> 8);
        r |= (v > 255 ? 255 : v) << sh;
    }
    return r;
}
uint32_t opaque(uint32_t t) { return blend(t, 0xFFFFFFFFu, kBlack); }

Image* solid(int w, int h, uint32_t colour) {
    Image* image = image_new(w, h);
    for (int p = 0; p < w * h; p++) image->pixels[p] = colour;
    return image;
}

uint32_t at(int x, int y) { return framebuffer.pixels[y * 640 + x]; }

TEST(OpacityByte, WrapsInsteadOfSaturating) {
    EXPECT_EQ(intro_opacity_byte(0.2f * 2048.0f), 153u);  // 409.6 -> 409 -> low byte 153
    EXPECT_EQ(intro_opacity_byte(255.99f), 255u);
    EXPECT_EQ(intro_opacity_byte(256.0f), 0u);
    EXPECT_EQ(intro_opacity_byte(0.0f), 0u);
    EXPECT_EQ(intro_opacity_byte(-0.5f), 255u);  // floor first: -1
    // Far beyond any int: still its low byte, no overflow.
    EXPECT_EQ(intro_opacity_byte(1e12f + 0.0f), (uint32_t)std::fmod(1e12f, 256.0f));
    EXPECT_EQ(intro_opacity_byte(NAN), 0u);
    EXPECT_EQ(intro_opacity_byte(INFINITY), 0u);
}

struct Quads : ::testing::Test {
    Image* halves = nullptr;  // left half red, right half blue, top row of the left half green
    void SetUp() override {
        ASSERT_EQ(display_open_offscreen(0), 0);
        halves = image_new(64, 64);
        for (int y = 0; y < 64; y++)
            for (int x = 0; x < 64; x++)
                halves->pixels[y * 64 + x] = x < 32 ? (y < 32 ? 0xFFFF0000u : 0xFF00FF00u) : 0xFF0000FFu;
        frame_clear(kBlack);
    }
    void TearDown() override {
        image_free(halves);
        display_close();
    }
};

TEST_F(Quads, UnturnedQuadCoversItsSquareUpright) {
    quad_draw(halves, 255, 320.0f, 240.0f, 64.0f, 64.0f, 0.0f);
    EXPECT_EQ(at(280, 200), opaque(0xFFFF0000u));  // upper left quarter of the texture
    EXPECT_EQ(at(280, 280), opaque(0xFF00FF00u));
    EXPECT_EQ(at(360, 240), opaque(0xFF0000FFu));
    EXPECT_EQ(at(320 - 70, 240), kBlack);
    EXPECT_EQ(at(320, 240 + 70), kBlack);
    // Negative half sizes flip the picture: both ways (a half turn), or one way, which reverses
    // the winding and must still draw.
    frame_clear(kBlack);
    quad_draw(halves, 255, 320.0f, 240.0f, -64.0f, -64.0f, 0.0f);
    EXPECT_EQ(at(280, 240), opaque(0xFF0000FFu));
    EXPECT_EQ(at(360, 280), opaque(0xFFFF0000u));
    frame_clear(kBlack);
    quad_draw(halves, 255, 320.0f, 240.0f, 64.0f, -64.0f, 0.0f);
    EXPECT_EQ(at(280, 280), opaque(0xFFFF0000u));
    EXPECT_EQ(at(280, 200), opaque(0xFF00FF00u));
    EXPECT_EQ(at(360, 240), opaque(0xFF0000FFu));
}

TEST_F(Quads, TurnedQuadIsADiamondAtAQuarterTurnHalf) {
    quad_draw(halves, 255, 320.0f, 240.0f, 64.0f, 64.0f, kPi / 4);
    EXPECT_NE(at(320 + 85, 240), kBlack);  // the corner reaches 64 * sqrt 2 = 90.5
    EXPECT_EQ(at(320 + 55, 240 + 55), kBlack);
    EXPECT_NE(at(320, 240 - 85), kBlack);
    // A positive angle turns +x towards +y (screen down): the red quarter moves to the top.
    EXPECT_EQ(at(320, 240 - 60), opaque(0xFFFF0000u));
}

TEST_F(Quads, TheAlphaByteScalesOnlyTheAlphaChannel) {
    // The quad's colour is the alpha byte over white: colour channels blend at the texel's own
    // opacity, the alpha channel at the byte's.
    Image* white = solid(64, 64, 0xFFFFFFFFu);
    for (uint32_t alpha : {0u, 128u, 255u}) {
        frame_clear(0x00000000u);
        quad_draw(white, alpha, 320.0f, 240.0f, 64.0f, 64.0f, 0.0f);
        EXPECT_EQ(at(320, 240), blend(0xFFFFFFFFu, alpha << 24 | 0xFFFFFFu, 0)) << alpha;
        EXPECT_EQ(at(320, 240) & 0xFFFFFF, 0xFDFDFDu);
    }
    frame_clear(kBlack);
    quad_draw(nullptr, 255, 320.0f, 240.0f, 64.0f, 64.0f, 0.0f);
    EXPECT_EQ(at(320, 240), kBlack);
    image_free(white);
}

// The scene on fake textures: four titles of distinct colours, three screens, the scan lines.
const uint32_t kTitle[4] = {0xFFFF0000u, 0xFF00FF00u, 0xFF0000FFu, 0xFFFFFF00u};
const uint32_t kTv[3] = {0xFF800000u, 0xFF008000u, 0xFF000080u};
const uint32_t kScan = 0xFFFFFFFFu;

struct Intro : ::testing::Test {
    void SetUp() override {
        ASSERT_EQ(display_open_offscreen(0), 0);
        for (int i = 0; i < 4; i++) texture_table.textures[21 + i] = solid(32, 16, kTitle[i]);
        for (int i = 0; i < 3; i++) texture_table.textures[25 + i] = solid(256, 256, kTv[i]);
        texture_table.textures[12] = solid(640, 480, kScan);
        for (float& m : music_spectrum) m = 0.0f;
        ASSERT_EQ(scene_intro_tv_init(), 0);
    }
    void TearDown() override {
        scene_intro_tv_free();
        for (int i : {12, 21, 22, 23, 24, 25, 26, 27}) {
            image_free(texture_table.textures[i]);
            texture_table.textures[i] = nullptr;
        }
        for (float& m : music_spectrum) m = 0.0f;
        display_close();
    }
    // One frame at a steady bass level: the spectrum equals the level, so smoothing keeps it.
    void frame(float beat, float level) {
        intro_tv_set_bass_level(level);
        music_spectrum[1] = level;
        demo_clock.clock_beat = beat;
        frame_clear(kBlack);
        scene_intro_tv_render(0.0f);
    }
    // The title's top-left pixel (titles at (270,145), (238,170), (105,175), (550-32,215)).
    uint32_t title(int i) {
        static const int xy[4][2] = {{270, 145}, {238, 170}, {105, 175}, {518, 215}};
        return at(xy[i][0] + 1, xy[i][1] + 1);
    }
};

TEST_F(Intro, BassIsSmoothedOncePerFrameAndResetByInit) {
    music_spectrum[1] = 1.0f;
    demo_clock.clock_beat = 2.0f;
    scene_intro_tv_render(0.0f);
    EXPECT_FLOAT_EQ(intro_tv_bass_level(), 0.25f);
    scene_intro_tv_render(0.0f);
    EXPECT_FLOAT_EQ(intro_tv_bass_level(), 0.4375f);
    music_spectrum[1] = NAN;  // a broken value is dropped, not carried on
    scene_intro_tv_render(0.0f);
    EXPECT_EQ(intro_tv_bass_level(), 0.0f);
    intro_tv_set_bass_level(0.5f);
    scene_intro_tv_free();
    ASSERT_EQ(scene_intro_tv_init(), 0);
    EXPECT_EQ(intro_tv_bass_level(), 0.0f);
}

TEST_F(Intro, TitlesComeInTurnPulseThenHoldAndAllPulseAtTheEnd) {
    const float level = 0.2f;  // p = 153
    const uint32_t p = intro_opacity_byte(level * 2048.0f);
    frame(0.25f, level);
    for (int i = 0; i < 4; i++) EXPECT_EQ(title(i), kBlack) << i;
    frame(1.0f, level);
    EXPECT_EQ(title(0), fade(kTitle[0], kBlack, p));
    EXPECT_EQ(title(1), kBlack);
    frame(5.0f, level);
    EXPECT_EQ(title(0), fade(kTitle[0], kBlack, 255));
    EXPECT_EQ(title(1), fade(kTitle[1], kBlack, p));
    EXPECT_EQ(title(2), kBlack);
    frame(9.0f, level);
    EXPECT_EQ(title(1), fade(kTitle[1], kBlack, 255));
    EXPECT_EQ(title(2), fade(kTitle[2], kBlack, p));
    frame(13.0f, level);
    EXPECT_EQ(title(0), fade(kTitle[0], kBlack, 255));
    EXPECT_EQ(title(2), fade(kTitle[2], kBlack, 255));
    EXPECT_EQ(title(3), fade(kTitle[3], kBlack, p));  // right edge at 550
    EXPECT_EQ(at(550, 216), kBlack);
    frame(14.5f, level);
    for (int i = 0; i < 4; i++) EXPECT_EQ(title(i), fade(kTitle[i], kBlack, p)) << i;
    frame(16.49f, level);
    EXPECT_EQ(title(3), fade(kTitle[3], kBlack, p));
    EXPECT_EQ(at(5, 5), kBlack);  // no scan lines yet
}

TEST_F(Intro, AtSixteenAndAHalfOnlyTheScanLinesShow) {
    const float level = 0.1f;  // p = 204
    frame(16.5f, level);
    const uint32_t scan = fade(kScan, kBlack, intro_opacity_byte(level * 2048.0f));
    EXPECT_EQ(at(320, 240), scan);  // no screen in the centre
    for (int i = 0; i < 4; i++) EXPECT_EQ(title(i), scan) << i;
}

TEST_F(Intro, ScreensSpinAndZoomOutOfTheCentre) {
    const float level = 255.5f / 2048.0f;  // p = 255
    const uint32_t k = 0xFFFFFFFFu, scan = fade(kScan, kBlack, 255);
    auto along = [&](float angle, float r) -> uint32_t {
        int x = (int)std::lround(320 + std::cos(angle) * r), y = (int)std::lround(240 + std::sin(angle) * r);
        EXPECT_TRUE(x >= 0 && x < 640 && y >= 0 && y < 480) << x << "," << y;
        if (!(x >= 0 && x < 640 && y >= 0 && y < 480)) return 0;
        return at(x, y);
    };
    frame(17.0f, level);
    // Half sizes 192, 64, 192; the third (drawn last) covers the centre, over the scan lines.
    EXPECT_EQ(at(320, 240), blend(kTv[2], k, scan));
    const float g = kPi / 8, a3 = -1.57f * g - level * kPi;
    EXPECT_EQ(along(a3, 185.0f), blend(kTv[2], k, scan));
    // The first screen (192, turned by pi/8) shows in its corner (1, -1), which the third leaves free.
    const float corner1 = g - kPi / 4;
    EXPECT_EQ(along(corner1, 192.0f * 1.41421f - 8.0f), blend(kTv[0], k, scan));
    EXPECT_EQ(along(corner1, 192.0f * 1.41421f + 8.0f), scan);

    // From beat 17.5 the bass sets the zoom and adds to the turn.
    frame(18.0f, level);
    float g2 = (1.0f - 1.5f) * 0.25f * kPi + level * 0.5f - 0.1f;
    float s2 = level * 64.0f + level * 1024.0f + level * 512.0f;
    float a = -1.57f * g2 - level * kPi;
    EXPECT_EQ(along(a, 128.0f + s2 - 4.0f), blend(kTv[2], k, scan));
    EXPECT_NE(along(a, 128.0f + s2 + 4.0f), blend(kTv[2], k, scan));
    // Silence: all three back at half size 128.
    frame(20.0f, 0.0f);
    float a0 = -1.57f * ((1.0f - 3.5f) * 0.25f * kPi - 0.1f);
    // (the alpha channel carries the blends of all three; the colour is the top screen's)
    const uint32_t top = blend(kTv[2], 0x00FFFFFFu, kBlack) & 0xFFFFFF;
    EXPECT_EQ(along(a0, 124.0f) & 0xFFFFFF, top);
    EXPECT_NE(along(a0, 132.0f) & 0xFFFFFF, top);
}

TEST_F(Intro, MissingTexturesDrawNothing) {
    for (int i : {12, 21, 22, 23, 24, 25, 26, 27}) {
        image_free(texture_table.textures[i]);
        texture_table.textures[i] = nullptr;
    }
    ASSERT_EQ(scene_intro_tv_init(), 0);
    for (float beat : {1.0f, 13.0f, 16.5f, 17.0f, 20.0f}) {
        frame(beat, 0.3f);
        EXPECT_EQ(at(320, 240), kBlack) << beat;
        EXPECT_EQ(title(3), kBlack) << beat;
    }
}

// The real data set, when the build has made it: the whole intro at 60 frames per beat step.
struct IntroTvData : SceneData {};

TEST_F(IntroTvData, RunsOverItsBeatsWithTheDataSet) {
    ASSERT_EQ(scene_intro_tv_init(), 0);
    for (float beat = 0.0f; beat < 32.0f; beat += 0.25f) {
        music_spectrum[1] = 0.05f + 0.1f * (float)(((int)(beat * 4)) % 3);
        frame_clear(kBlack);
        demo_clock.clock_beat = beat;
        scene_intro_tv_render(0.0f);
    }
    uint64_t sum = 0;
    for (int p = 0; p < 640 * 480; p += 97) sum += framebuffer.pixels[p] & 0xFF;
    EXPECT_GT(sum, 0u);
    scene_intro_tv_free();
    for (float& m : music_spectrum) m = 0.0f;
}

}  // namespace
