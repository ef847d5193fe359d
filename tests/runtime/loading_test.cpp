// Loading screen: the glow cycle and blocks, the composed title, one animated frame, and the thread
// ending with or without animated frames, and the same screen driven step by step.
#include "runtime/loading.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "gfx/display.h"
#include "gfx/text.h"
#include "support/test_support.h"

namespace {

struct Offscreen {
    bool ok;
    Offscreen() : ok(display_open_offscreen(0) == 0) {}
    ~Offscreen() { display_close(); }
};

uint32_t& pixel(int x, int y) { return framebuffer.pixels[y * (framebuffer.pitch / 4) + x]; }

bool have_fonts() {
    char path[4096];
    return text_find_font("/usr/share/fonts", "Arial", path, sizeof path) == 0;
}

struct ImageDeleter {
    void operator()(Image* image) const { image_free(image); }
};
typedef std::unique_ptr<Image, ImageDeleter> ImagePtr;

}  // namespace

TEST(LoadingGlow, ThresholdStepsEveryEightyFramesAndRepeats) {
    const struct {
        int frame;
        uint32_t threshold;
    } cases[] = {{0, 0x80808080},   {79, 0x80808080},  {80, 0x5C5C5C5C},  {159, 0x5C5C5C5C},
                 {160, 0xC0C0C0C0}, {239, 0xC0C0C0C0}, {240, 0x40404040}, {319, 0x40404040},
                 {320, 0x80808080}, {400, 0x5C5C5C5C}, {100000 * 320 + 160, 0xC0C0C0C0}};
    for (const auto& c : cases) EXPECT_EQ(c.threshold, loading_glow_threshold(c.frame)) << c.frame;
}

TEST(LoadingGlow, BlocksBrightenByTheirOwnSampleOnly) {
    Offscreen screen;
    ASSERT_TRUE(screen.ok);
    frame_begin();
    frame_clear(0x10203040);
    // Block (1, 0): a bright sample; per byte add = max(sample - 0x80, 0) = 7F 10 00 00.
    pixel(16 + 7, 7) = 0xFF906020;
    pixel(16, 0) = 0xF0F0F0F0;  // saturates in alpha
    // Block (2, 0): darker than the threshold in every byte; block (3, 0): black.
    pixel(32 + 7, 7) = 0x7F7F7F7F;
    pixel(48 + 7, 7) = 0;
    // Block (0, 1): only the sample at (7, 7) counts, not a bright pixel elsewhere in the block.
    pixel(0, 16) = 0xFFFFFFFF;
    // The last block of the screen, to catch edge arithmetic.
    pixel(624 + 7, 464 + 7) = 0x81818181;
    glow_blocks(0x80808080);

    for (int y = 0; y < 16; ++y)
        for (int x = 16; x < 32; ++x) {
            uint32_t expect = 0x8F303040;
            if (x == 23 && y == 7) expect = 0xFFA06020;  // the sample brightened once, not twice
            if (x == 16 && y == 0) expect = 0xFFFFF0F0;
            ASSERT_EQ(expect, pixel(x, y)) << x << "," << y;
        }
    EXPECT_EQ(0x7F7F7F7Fu, pixel(39, 7));
    EXPECT_EQ(0x10203040u, pixel(32, 0));
    EXPECT_EQ(0x10203040u, pixel(48, 0));
    EXPECT_EQ(0xFFFFFFFFu, pixel(0, 16));
    EXPECT_EQ(0x10203040u, pixel(1, 16));
    EXPECT_EQ(0x11213141u, pixel(624, 464));
    EXPECT_EQ(0x11213141u, pixel(639, 479));
    EXPECT_EQ(0x10203040u, pixel(623, 479));
    EXPECT_EQ(0x10203040u, pixel(0, 0));  // blocks without a bright sample are untouched
}

TEST(LoadingTitle, ComposedTitleLiesWhereTheLinesAreDrawn) {
    if (!have_fonts()) GTEST_SKIP() << "no fonts installed";
    Offscreen screen;
    ASSERT_TRUE(screen.ok);
    ImagePtr canvas(image_new(512, 256));
    ASSERT_TRUE(canvas);
    frame_begin();
    frame_clear(0xFFFF00FF);  // composing must start from black
    ASSERT_EQ(0, loading_compose_title(canvas.get()));
    test_save_png("loading-title.png", framebuffer.pixels, 640, 480, framebuffer.pitch / 4);

    int top = SCREEN_HEIGHT, bottom = -1, left = SCREEN_WIDTH, right = -1, white = 0;
    for (int y = 0; y < SCREEN_HEIGHT; ++y)
        for (int x = 0; x < SCREEN_WIDTH; ++x) {
            uint32_t p = pixel(x, y);
            if (!p) continue;
            top = std::min(top, y), bottom = std::max(bottom, y);
            left = std::min(left, x), right = std::max(right, x);
            // Every line is grey or white; alpha is the summed coverage, never below the grey.
            uint32_t b = p & 0xFF;
            ASSERT_EQ(b * 0x010101u, p & 0xFFFFFF) << x << "," << y;
            ASSERT_GE(p >> 24, b) << x << "," << y;
            white += b == 255;
        }
    // Canvas baseline row 125: the big first word ends at 120 + 125, the second at 248 + 125.
    EXPECT_GE(top, 70 + 33);
    EXPECT_LE(bottom, 248 + 125 + 30);  // descenders of the tagline stay far above
    EXPECT_GE(bottom, 248 + 123);
    EXPECT_GE(left, 128);
    EXPECT_LT(right, 640);
    EXPECT_GT(white, 500);
    // The big "Velmorian" sits on its baseline at 245, the big "Quillet" at 373.
    int velmorian = 0, quillet = 0;
    for (int x = 128; x < 300; ++x) velmorian += pixel(x, 240) != 0;
    for (int x = 384; x < 560; ++x) quillet += pixel(x, 368) != 0;
    EXPECT_GT(velmorian, 20);
    EXPECT_GT(quillet, 20);
}

TEST(LoadingFrame, ShadowLettersAndGlow) {
    Offscreen screen;
    ASSERT_TRUE(screen.ok);
    ImagePtr snapshot(image_new(SCREEN_WIDTH, SCREEN_HEIGHT));
    ASSERT_TRUE(snapshot);
    // One opaque white letter pixel away from any block's sample, and one on a block's sample.
    snapshot->pixels[100 * SCREEN_WIDTH + 100] = 0xFFFFFFFF;
    snapshot->pixels[(32 + 7) * SCREEN_WIDTH + (32 + 7)] = 0xFFFFFFFF;
    frame_begin();
    frame_clear(0xFF00FF00);
    loading_draw_frame(snapshot.get(), 0);
    // Shadow: opacity 32 gives a = 31 and 255 * 31 >> 8 = 30, then the snapshot's clear pixel over
    // it keeps 30 * 255 >> 8 = 29; the letter over black: a = 255 * 255 >> 8 = 254, 255 * 254 >> 8.
    EXPECT_EQ(0x1D1D1D1Du, pixel(96, 96));
    EXPECT_EQ(0xFDFDFDFDu, pixel(100, 100));
    EXPECT_EQ(0u, pixel(101, 100));  // the rest is black, the old frame is gone
    // The sampled letter brightens its block by 0xFD - threshold in frame 0 and 80.
    EXPECT_EQ(0x7D7D7D7Du, pixel(32, 32));
    EXPECT_EQ(0x7D7D7D7Du, pixel(47, 47));
    frame_begin();
    loading_draw_frame(snapshot.get(), 80);
    EXPECT_EQ(0xA1A1A1A1u, pixel(32, 32));
}

TEST(LoadingThread, EndsAfterTheTitleWhenLoadingIsAlreadyDone) {
    if (!have_fonts()) GTEST_SKIP() << "no fonts installed";
    Offscreen screen;
    ASSERT_TRUE(screen.ok);
    ImagePtr canvas(image_new(512, 256));
    frame_begin();
    loading_compose_title(canvas.get());
    std::vector<uint32_t> title(framebuffer.pixels, framebuffer.pixels + SCREEN_WIDTH * SCREEN_HEIGHT);

    loading_active = 0;
    frame_clear(0xFFFF00FF);
    EXPECT_EQ(0, loading_thread_main(nullptr));
    // Shown once, exactly as composed: no animated frame was drawn over it.
    EXPECT_EQ(0, memcmp(title.data(), framebuffer.pixels, title.size() * 4));
}

TEST(LoadingThread, AnimatesUntilTheFlagIsClearedThenEnds) {
    if (!have_fonts()) GTEST_SKIP() << "no fonts installed";
    Offscreen screen;
    ASSERT_TRUE(screen.ok);
    loading_active = 1;
    int result = -1;
    std::thread thread([&] { result = loading_thread_main(nullptr); });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    loading_active = 0;
    thread.join();
    EXPECT_EQ(0, result);
    // An animated frame: the shadow copy gives faint pixels where the title has none.
    int faint = 0;
    for (int y = 0; y < SCREEN_HEIGHT; ++y)
        for (int x = 0; x < SCREEN_WIDTH; ++x) faint += (pixel(x, y) & 0xFF) > 0 && (pixel(x, y) & 0xFF) < 40;
    EXPECT_GT(faint, 100);
    test_save_png("loading-frame.png", framebuffer.pixels, 640, 480, framebuffer.pitch / 4);
}

// The step-by-step screen (the browser's, which has no thread) draws what the thread draws.
TEST(LoadingSteps, OpenShowsTheTitleAndEachFrameMatchesTheThreadsDrawing) {
    if (!have_fonts()) GTEST_SKIP() << "no fonts installed";
    Offscreen screen;
    ASSERT_TRUE(screen.ok);
    ASSERT_EQ(0, loading_screen_open());
    std::vector<uint32_t> title(framebuffer.pixels, framebuffer.pixels + SCREEN_WIDTH * SCREEN_HEIGHT);

    loading_screen_frame(80);
    std::vector<uint32_t> stepped(framebuffer.pixels, framebuffer.pixels + SCREEN_WIDTH * SCREEN_HEIGHT);
    ImagePtr snapshot(image_new(SCREEN_WIDTH, SCREEN_HEIGHT));
    ASSERT_TRUE(snapshot);
    memcpy(snapshot->pixels, title.data(), title.size() * 4);
    frame_begin();
    loading_draw_frame(snapshot.get(), 80);
    EXPECT_EQ(0, memcmp(stepped.data(), framebuffer.pixels, stepped.size() * 4));

    // After close a frame draws nothing, and closing twice is harmless.
    loading_screen_close();
    frame_clear(0xFF123456);
    loading_screen_frame(3);
    EXPECT_EQ(0xFF123456u, pixel(320, 240));
    loading_screen_close();
}
