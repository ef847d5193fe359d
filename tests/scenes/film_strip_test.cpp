// The doubling blit against a per-pixel reference, and the film-strip and dancer schedules on fake
// sheets.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "gfx/blit.h"
#include "gfx/display.h"
#include "gfx/draw_queue.h"
#include "gfx/image.h"
#include "gfx/simd.h"
#include "runtime/clock.h"
#include "scenes/film_strip_ops.h"
#include "scenes/scenes.h"

namespace {

uint32_t sat(uint32_t v) { return v > 255 ? 255 : v; }

// One result per byte, straight from the formula.
uint32_t ref_pixel(uint32_t s, uint32_t d, uint32_t opacity, uint32_t mode) {
    uint32_t a = ((s >> 24) * (opacity & 0xFF)) >> 8, r = 0;
    for (int b = 0; b < 32; b += 8) {
        uint32_t S = (s >> b) & 0xFF, D = (d >> b) & 0xFF;
        uint32_t v = mode == 0 ? sat(((S * a) >> 8) + ((D * (255 - a)) >> 8)) : (S * (255 - a)) >> 8;
        r |= v << b;
    }
    return r;
}

void ref_blit_double(std::vector<uint32_t>& screen, const Image* im, int sx, int sy, int w, int h,
                     uint32_t opacity, uint32_t mode) {
    if (mode != 0 && mode != 3) return;
    for (int r = 0; r < 480; r++) {
        int row = sy + r / 2;
        if (r / 2 >= h || row >= im->height) break;
        for (int i = 0; i < w && i < 320 && sx + i < im->width; i++) {
            uint32_t v = ref_pixel(im->pixels[row * im->width + sx + i], screen[r * 640 + 2 * i], opacity, mode);
            screen[r * 640 + 2 * i] = v;
            screen[r * 640 + 2 * i + 1] = v;
        }
    }
}

Image* solid_image(int w, int h, uint32_t colour) {
    Image* im = image_new(w, h);
    for (int i = 0; i < w * h; i++) im->pixels[i] = colour;
    return im;
}

// Every SIMD level this processor runs, widest last (the level left in force).
std::vector<int> simd_levels() {
    std::vector<int> levels;
    for (int l = SIMD_SCALAR; l <= simd_best_level(); l++) levels.push_back(l);
    return levels;
}

void random_fill(uint32_t* p, int n) {
    for (int i = 0; i < n; i++) p[i] = ((uint32_t)rand() << 16) ^ (uint32_t)rand();
}

struct FilmStrip : ::testing::Test {
    void SetUp() override { ASSERT_EQ(display_open_offscreen(0), 0); }
    void TearDown() override {
        simd_use_level(simd_best_level());
        layer_film_strip_free();
        for (int slot : {19, 20}) {
            image_free(texture_table.textures[slot]);
            texture_table.textures[slot] = nullptr;
        }
        display_close();
    }
    std::vector<uint32_t> screen() { return std::vector<uint32_t>(framebuffer.pixels, framebuffer.pixels + 640 * 480); }
    void set_beat(float beat) {
        demo_clock.clock_beat = beat;
        demo_clock.clock_beat_fraction = beat - (float)(int)beat;
    }
};

TEST_F(FilmStrip, DoublingBlitMatchesTheReferenceOnEveryPath) {
    srand(7);
    Image* im = image_new(331, 257);
    for (int trial = 0; trial < 40; trial++) {
        random_fill(im->pixels, 331 * 257);
        random_fill(framebuffer.pixels, 640 * 480);
        std::vector<uint32_t> before = screen(), expect = before;
        int sx = rand() % 40, sy = rand() % 40, w = 1 + rand() % 330, h = 1 + rand() % 250;
        uint32_t opacity = (uint32_t)rand(), mode = trial % 5 == 4 ? 5 : (trial & 1) * 3;
        ref_blit_double(expect, im, sx, sy, w, h, opacity, mode);
        for (int level : simd_levels()) {
            simd_use_level(level);
            memcpy(framebuffer.pixels, before.data(), before.size() * 4);
            image_blit_double(im, sx, sy, w, h, opacity, mode);
            ASSERT_EQ(screen(), expect) << simd_level_name(level) << ", trial " << trial;
        }
        memcpy(framebuffer.pixels, before.data(), before.size() * 4);
        image_blit_double_scalar(im, sx, sy, w, h, opacity, mode);
        ASSERT_EQ(screen(), expect) << "scalar, trial " << trial;
    }
    image_free(im);
}

TEST_F(FilmStrip, TwoCelsInOnePassMatchTwoPlainPassesOnEveryPath) {
    srand(11);
    // 250 rows: a second region starting low is cut shorter than the first, which takes two passes.
    Image* im = image_new(323, 250);
    for (int trial = 0; trial < 30; trial++) {
        random_fill(im->pixels, 323 * 250);
        random_fill(framebuffer.pixels, 640 * 480);
        std::vector<uint32_t> before = screen(), expect = before;
        int y1 = rand() % 40, y2 = trial % 6 == 5 ? 200 : rand() % 40, w = 1 + rand() % 323, h = 1 + rand() % 240;
        uint32_t o1 = (uint32_t)rand(), o2 = trial % 4 == 3 ? 0 : (uint32_t)rand();
        ref_blit_double(expect, im, 0, y1, w, h, o1, 0);
        ref_blit_double(expect, im, 0, y2, w, h, o2, 0);
        for (int level : simd_levels()) {
            simd_use_level(level);
            memcpy(framebuffer.pixels, before.data(), before.size() * 4);
            image_blit_double_two(im, y1, y2, w, h, o1, o2);
            ASSERT_EQ(screen(), expect) << simd_level_name(level) << ", trial " << trial;
        }
        memcpy(framebuffer.pixels, before.data(), before.size() * 4);
        image_blit_double_two_scalar(im, y1, y2, w, h, o1, o2);
        ASSERT_EQ(screen(), expect) << "scalar, trial " << trial;
    }
    image_free(im);
}

// Over a held background the doubling copies it in the same pass: the same bytes as the copy and
// then the doubling, on every path and at every thread count (each thread copies its own rows).
TEST_F(FilmStrip, DoublingOverAHeldBackgroundIsTheCopyThenTheDoubling) {
    srand(21);
    Image* base = image_new(650, 483);  // rows longer than the screen's
    Image* im = image_new(331, 257);
    random_fill(base->pixels, 650 * 483);
    for (int trial = 0; trial < 12; trial++) {
        random_fill(im->pixels, 331 * 257);
        int sx = trial == 11 ? 400 : rand() % 20, sy = rand() % 20, w = trial % 4 == 0 ? 320 : 1 + rand() % 330;
        int h = trial % 4 == 0 ? 240 : 1 + rand() % 250;
        uint32_t opacity = (uint32_t)rand(), mode = (trial & 1) * 3;
        std::vector<uint32_t> expect(640 * 480);
        for (int y = 0; y < 480; y++) memcpy(&expect[y * 640], base->pixels + y * 650, 640 * 4);
        ref_blit_double(expect, im, sx, sy, w, h, opacity, mode);
        for (int threads : {1, 3}) {
            ASSERT_EQ(draw_queue_start(threads), 0);
            for (int level : simd_levels()) {
                simd_use_level(level);
                random_fill(framebuffer.pixels, 640 * 480);
                image_draw_base(base);
                if (trial % 3 == 2) image_blit_double_scalar(im, sx, sy, w, h, opacity, mode);
                else image_blit_double(im, sx, sy, w, h, opacity, mode);
                draw_queue_flush();
                ASSERT_TRUE(screen() == expect) << simd_level_name(level) << ", " << threads << " threads, trial " << trial;
            }
            draw_queue_stop();
        }
    }
    image_free(im);
    image_free(base);
}

TEST_F(FilmStrip, DoublingBlitStaysInsideImageAndScreen) {
    // Wider than half the screen: the extra columns must not spill into the next screen row.
    Image* wide = image_new(400, 16);
    for (int i = 0; i < 400 * 16; i++) wide->pixels[i] = (i % 400) < 320 ? 0xFF102030u : 0xFFF0E0D0u;
    frame_clear(0xFF808080u);
    image_blit_double(wide, 0, 0, 400, 240, 255, 0);
    EXPECT_EQ(framebuffer.pixels[640], ref_pixel(0xFF102030u, 0xFF808080u, 255, 0));
    EXPECT_EQ(framebuffer.pixels[32 * 640], 0xFF808080u);  // only the image's 16 rows, doubled
    // Regions starting outside the image draw nothing; nor does a null image.
    std::vector<uint32_t> before = screen();
    image_blit_double(wide, 400, 0, 10, 10, 255, 3);
    image_blit_double(wide, 0, -1, 10, 10, 255, 3);
    image_blit_double(wide, 0, 16, 10, 10, 255, 3);
    image_blit_double(nullptr, 0, 0, 10, 10, 255, 0);
    EXPECT_EQ(screen(), before);
    image_free(wide);
}

// Sixteen cels, each a solid colour; returns the expected screen colour after cels k (opacity o1)
// then k + 1 (opacity o2) over a uniform grey.
const uint32_t kGrey = 0xFF7F7F7Fu;
uint32_t cel_colour(int k) { return 0xFF000000u | (uint32_t)(k * 15) << 16 | (uint32_t)(255 - k * 13) << 8 | 0x40u; }
uint32_t cels_over_grey(int k, int o1, int o2) {
    return ref_pixel(cel_colour((k + 1) % 16), ref_pixel(cel_colour(k % 16), kGrey, o1, 0), o2, 0);
}

TEST_F(FilmStrip, StripPicksCelsAndCrossFadesOnTheSchedule) {
    Image* strip = image_new(320, 16 * 240);
    for (int k = 0; k < 16; k++)
        for (int i = 0; i < 320 * 240; i++) strip->pixels[k * 320 * 240 + i] = cel_colour(k);
    texture_table.textures[19] = strip;
    ASSERT_EQ(layer_film_strip_init(), 0);
    struct Case { float beat, seconds; int k, o1, o2; };
    const Case cases[] = {
        {10.25f, 0.0f, 20, 20, 12},  // u = 20.5: s = 12 of the peak 32
        {10.0f, 0.0f, 20, 32, 0},
        {189.0f, 0.0f, 47, 63 - 15, 15},   // fading in: f = 1/4, u = 47.25
        {200.0f, 0.0f, 50, 255, 0},        // full strength, u whole
        {210.0f, 0.0f, 52, 127 - 63, 63},  // fading out: f = 1/2, u = 52.5
        {425.0f, 7.25f, 553, 127 - 31, 31},  // cels race ahead, the fade follows the seconds
    };
    for (const Case& c : cases) {
        frame_clear(kGrey);
        set_beat(c.beat);
        layer_film_strip_render(c.seconds);
        uint32_t want = cels_over_grey(c.k, c.o1, c.o2);
        EXPECT_EQ(framebuffer.pixels[0], want) << c.beat;
        EXPECT_EQ(framebuffer.pixels[640 * 480 - 1], want) << c.beat;
    }
    for (float beat : {32.0f, 187.9f, 212.0f, 415.9f}) {
        frame_clear(kGrey);
        set_beat(beat);
        layer_film_strip_render(0.0f);
        EXPECT_EQ(framebuffer.pixels[1000], kGrey) << beat;
    }
}

TEST_F(FilmStrip, StripShorterThanACelOrMissingDrawsNothing) {
    texture_table.textures[19] = solid_image(320, 200, 0xFFFFFFFFu);
    ASSERT_EQ(layer_film_strip_init(), 0);
    frame_clear(kGrey);
    set_beat(10.0f);
    layer_film_strip_render(0.0f);
    EXPECT_EQ(framebuffer.pixels[0], kGrey);
    layer_film_strip_free();
    layer_film_strip_render(0.0f);
    layer_dancer_render(0.0f);
    EXPECT_EQ(framebuffer.pixels[0], kGrey);
}

// A small sheet of 4 x 3 cells of 40 x 30, cell (c, r) filled with colour 0xFF0000cr (white alpha).
struct Dancer : FilmStrip {
    void SetUp() override {
        FilmStrip::SetUp();
        Image* sheet = image_new(160, 90);
        for (int y = 0; y < 90; y++)
            for (int x = 0; x < 160; x++) sheet->pixels[y * 160 + x] = 0xFFFFFF00u | (uint32_t)(x / 40 * 16 + y / 30);
        texture_table.textures[20] = sheet;
        ASSERT_EQ(layer_film_strip_init(), 0);
    }
    // The cell shown and the colour it left on black.
    uint32_t at(float beat) {
        frame_clear(0xFF000000u);
        set_beat(beat);
        layer_dancer_render(0.0f);
        EXPECT_EQ(framebuffer.pixels[60 * 640], 0xFF000000u) << "the cell is 30 rows, doubled to 60";
        EXPECT_EQ(framebuffer.pixels[80], 0xFF000000u) << "the cell is 40 columns, doubled to 80";
        return framebuffer.pixels[59 * 640 + 79];
    }
};

TEST_F(Dancer, StepsFourPosesPerBeatThroughTheGrid) {
    // the low byte holds column * 16 + row, faded like the rest
    uint32_t first = at(16.5f);
    EXPECT_EQ(first, ref_pixel(0xFFFFFF00u, 0xFF000000u, 48, 0));       // cell (0, 0) at opacity 48
    EXPECT_EQ(at(16.75f), ref_pixel(0xFFFFFF10u, 0xFF000000u, 48, 0));  // (1, 0)
    EXPECT_EQ(at(18.5f), ref_pixel(0xFFFFFF02u, 0xFF000000u, 48, 0));   // frame 8: (0, 2)
    EXPECT_EQ(at(19.5f), first);                                         // 12 poses per 3 beats
    frame_clear(0xFF000000u);
    set_beat(16.4f);
    layer_dancer_render(0.0f);
    EXPECT_EQ(framebuffer.pixels[0], 0xFF000000u);
}

TEST_F(Dancer, OpacityRisesThenPulsesWithTheBeat) {
    // beat -> expected opacity; the cell follows from the beat, so compare whole results
    struct Case { float beat; int opacity; };
    const Case cases[] = {{20.0f, 48}, {264.0f, 0}, {268.0f, 46}, {272.0f, 128}, {272.5f, 8},
                          {296.0f, 192}, {296.5f, 132}, {312.0f, 128}, {319.5f, 8}, {320.0f, 48}};
    for (const Case& c : cases) {
        int frame = (int)((c.beat - 16.5f) * 4.0f) % 12;
        uint32_t src = 0xFFFFFF00u | (uint32_t)(frame % 4 * 16 + frame / 4);
        EXPECT_EQ(at(c.beat), ref_pixel(src, 0xFF000000u, c.opacity, 0)) << c.beat;
    }
}

// Each thread doubles only its own screen rows (one cel or two fused); together they give the frame
// of one thread.
TEST_F(FilmStrip, DoublingBlitByThreadsMatchesOneThread) {
    srand(8);
    Image* sheet = image_new(512, 512);
    random_fill(sheet->pixels, 512 * 512);
    std::vector<uint32_t> base(640 * 480);
    random_fill(base.data(), 640 * 480);
    auto run = [&]() {
        memcpy(framebuffer.pixels, base.data(), base.size() * 4);
        for (int i = 0; i < 30; i++) {
            int x = (i * 37) % 300, y = (i * 53) % 400, w = 1 + (i * 71) % 330, h = 1 + (i * 29) % 250;
            if (i % 2) image_blit_double(sheet, x, y, w, h, (uint32_t)(i * 9), i % 3 ? 0 : 3);
            else image_blit_double_scalar(sheet, x, y, w, h, (uint32_t)(i * 9), i % 3 ? 0 : 3);
            if (i % 5 == 0) image_blit_double_two(sheet, y, (y * 7) % 500, w, h, (uint32_t)i * 5, 255u - (uint32_t)i);
            if (i % 5 == 1) image_blit_double_two_scalar(sheet, y, 400, w, h, (uint32_t)i * 3, (uint32_t)i);
        }
        draw_queue_flush();
        return screen();
    };
    std::vector<uint32_t> want = run();
    for (int threads : {2, 5}) {
        ASSERT_EQ(draw_queue_start(threads), 0);
        EXPECT_TRUE(run() == want) << threads << " threads";
        draw_queue_stop();
    }
    image_free(sheet);
}

}  // namespace
