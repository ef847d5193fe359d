// The drawing threads as the blits and the frame operations see them: recorded calls give exactly
// the pixels of direct drawing at every thread count, the flush points wait for them, and the
// thread count is read from the environment with bad values refused.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "gfx/blit.h"
#include "gfx/display.h"
#include "gfx/draw_queue.h"
#include "gfx/image.h"

namespace {

class DrawQueue : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(display_open_offscreen(1), 0);
        unsetenv("QUILLET_THREADS_CHECK");
    }
    void TearDown() override {
        draw_queue_stop();
        display_close();
        unsetenv("QUILLET_THREADS");
        unsetenv("QUILLET_THREADS_CHECK");
    }
};

struct Screens {
    std::vector<uint32_t> frame;
    std::vector<int32_t> depth, shadow;
    bool operator==(const Screens& o) const { return frame == o.frame && depth == o.depth && shadow == o.shadow; }
};

Screens capture(void) {
    const size_t n = (size_t)SCREEN_WIDTH * SCREEN_HEIGHT;
    Screens s;
    s.frame.assign(framebuffer.pixels, framebuffer.pixels + n);
    s.depth.assign(depth_buffer->values, depth_buffer->values + n);
    s.shadow.assign(depth_buffer2->values, depth_buffer2->values + n);
    return s;
}

Image* random_image(std::mt19937* rng, int w, int h) {
    Image* im = image_new(w, h);
    for (int i = 0; i < w * h; i++) im->pixels[i] = (uint32_t)(*rng)();
    return im;
}

// Clears, depth resets and a few hundred blits and draws of every mode at random places (many
// crossing the screen's edges and the bands' edges), each reading what the ones before wrote.
Screens draw_blit_scene(bool flush_at_end) {
    std::mt19937 rng(77);
    std::vector<Image*> images;
    for (int w : {1, 3, 17, 64, 200, 640})
        for (int h : {1, 9, 33, 480}) images.push_back(random_image(&rng, w, h));
    frame_clear(0xFF336699u);
    depth_fill(depth_buffer, 0x12345678u);
    depth_fill(depth_buffer2, 0x7FFFFFFFu);
    for (int i = 0; i < 400; i++) {
        const Image* im = images[rng() % images.size()];
        int x = (int)(rng() % 800) - 80 - im->width / 2, y = (int)(rng() % 620) - 70 - im->height / 2;
        if (i % 2) image_blit(im, x, y, rng() & 0x1FF, rng() % 9);
        else image_draw(im, x, y, rng() % 8);
        if (i == 200) frame_clear(0xFF000000u | (uint32_t)rng());
    }
    if (flush_at_end) draw_queue_flush();
    Screens s = capture();
    for (Image* im : images) image_free(im);
    return s;
}

TEST_F(DrawQueue, RecordedBlitsAndFillsMatchDirectDrawingAtEveryThreadCount) {
    Screens direct = draw_blit_scene(false);
    for (int threads : {2, 3, 8}) {
        ASSERT_EQ(draw_queue_start(threads), 0);
        ASSERT_EQ(draw_queue_active, 1);
        Screens banded = draw_blit_scene(true);
        draw_queue_stop();
        EXPECT_EQ(draw_queue_active, 0);
        EXPECT_TRUE(banded == direct) << threads << " threads";
    }
}

// A recorded call that counts, per row, how often some drawing thread drew it.
std::atomic<int> row_draws[SCREEN_HEIGHT];

void count_rows_replay(const void*) {
    for (int y = 0; y < SCREEN_HEIGHT; y++)
        if (draw_band_owns(draw_band, y)) row_draws[y].fetch_add(1, std::memory_order_relaxed);
}

void expect_rows_drawn(int times, const char* what) {
    for (int y = 0; y < SCREEN_HEIGHT; y++) {
        ASSERT_EQ(row_draws[y].load(), times) << what << ", row " << y;
        row_draws[y].store(0);
    }
}

// Helpers the machine does not run before a flush: the main thread draws their rows, each row once,
// and the picture is the same as theirs.
TEST_F(DrawQueue, HeldHelpersRowsAreDrawnByTheMainThreadOnce) {
    Screens direct = draw_blit_scene(false);
    for (int threads : {2, 3, 8}) {
        ASSERT_EQ(draw_queue_start(threads), 0);
        draw_queue_hold_helpers(true);
        for (int i = 0; i < 50; i++) draw_queue_call(count_rows_replay, nullptr, 0);
        draw_queue_flush();
        expect_rows_drawn(50, "held");
        EXPECT_GT(draw_queue_taken_over(), 0u) << threads;
        Screens held = draw_blit_scene(true);
        EXPECT_TRUE(held == direct) << threads << " threads, helpers held";
        // Let go after a frame's first calls: they claim what is left, or the flush takes it.
        for (int i = 0; i < 500; i++) {
            if (i == 100) draw_queue_hold_helpers(false);
            draw_queue_call(count_rows_replay, nullptr, 0);
        }
        draw_queue_flush();
        expect_rows_drawn(500, "let go");
        draw_queue_stop();
    }
}

// Helpers held and let go at random moments by another thread, while frames are recorded and
// flushed: every row is still drawn exactly once per call, whoever claims it.
TEST_F(DrawQueue, EveryRowIsDrawnOnceWhoeverClaimsIt) {
    ASSERT_EQ(draw_queue_start(3), 0);
    std::atomic<bool> done{false};
    std::thread toggler([&done] {
        std::mt19937 rng(9);
        while (!done.load()) {
            draw_queue_hold_helpers(rng() % 2);
            std::this_thread::sleep_for(std::chrono::microseconds(rng() % 300));
        }
        draw_queue_hold_helpers(false);
    });
    std::mt19937 rng(3);
    for (int frame = 0; frame < 200; frame++) {
        int calls = (int)(rng() % 400);
        for (int i = 0; i < calls; i++) draw_queue_call(count_rows_replay, nullptr, 0);
        draw_queue_flush();
        expect_rows_drawn(calls, "toggled");
        if (HasFatalFailure()) break;
    }
    done.store(true);
    toggler.join();
}

TEST_F(DrawQueue, OneThreadDrawsAtOnce) {
    ASSERT_EQ(draw_queue_start(1), 0);
    EXPECT_EQ(draw_queue_active, 0);
    frame_clear(0xFF102030u);
    EXPECT_EQ(framebuffer.pixels[640 * 479 + 639], 0xFF102030u);
}

// frame_present is where a frame is handed on, and stopping ends the threads: both must leave
// every recorded call drawn without the caller flushing.
TEST_F(DrawQueue, PresentAndStopWaitForRecordedCalls) {
    ASSERT_EQ(draw_queue_start(4), 0);
    std::mt19937 rng(5);
    Image* im = random_image(&rng, 640, 480);
    frame_clear(0xFF000000u);
    image_draw(im, 0, 0, 0);
    frame_present();
    EXPECT_EQ(memcmp(framebuffer.pixels, im->pixels, 640 * 480 * 4), 0);
    frame_clear(0xFFABCDEFu);
    draw_queue_stop();
    for (int y : {0, 7, 8, 239, 479}) EXPECT_EQ(framebuffer.pixels[y * 640 + 5], 0xFFABCDEFu) << y;
    image_free(im);
}

// More recorded calls than one block of the command list holds, across several frames: the list
// grows and starts again after every flush.
TEST_F(DrawQueue, LongFramesReuseTheCommandList) {
    ASSERT_EQ(draw_queue_start(3), 0);
    Image* dot = image_new(1, 1);
    dot->pixels[0] = 0x01010101u;
    const int calls = 100000;  // a few blocks' worth
    for (int frame = 0; frame < 3; frame++) {
        frame_clear(0xFF000000u);
        for (int i = 0; i < calls; i++) image_draw(dot, i % 640, i / 640, 1);
        frame_present();
        for (int i = 0; i < 640 * 480; i++) {
            ASSERT_EQ(framebuffer.pixels[i], i < calls ? 0xFF010101u : 0xFF000000u)
                << "frame " << frame << " pixel " << i;
        }
    }
    image_free(dot);
}

TEST_F(DrawQueue, CheckModeDrawsEveryCallBeforeTheNext) {
    setenv("QUILLET_THREADS_CHECK", "1", 1);
    Screens direct = draw_blit_scene(false);
    ASSERT_EQ(draw_queue_start(3), 0);
    Screens checked = draw_blit_scene(true);
    EXPECT_TRUE(checked == direct);
}

// A held pass: drawn before whatever draws next (in that order), at a flush, or before another held
// pass; never drawn when dropped or when a copy over the whole screen comes next. The same pixels
// with drawing threads.
TEST_F(DrawQueue, HeldPassesAreDrawnFirstOrNotAtAll) {
    std::mt19937 rng(12);
    Image* full = random_image(&rng, 700, 500);  // wider and taller than the screen
    Image* part = random_image(&rng, 50, 40);
    for (int threads : {1, 3}) {
        ASSERT_EQ(draw_queue_start(threads), 0);
        // Settled by the next call: the blit reads the clear's pixels.
        frame_clear(0xFF000000u);
        frame_clear_held(0xFF204060u);
        EXPECT_EQ(image_held_base(), nullptr);
        image_blit(part, 10, 10, 128, 0);
        draw_queue_flush();
        std::vector<uint32_t> screen(framebuffer.pixels, framebuffer.pixels + 640 * 480);
        frame_clear(0xFF204060u);
        image_blit(part, 10, 10, 128, 0);
        draw_queue_flush();
        EXPECT_EQ(memcmp(framebuffer.pixels, screen.data(), screen.size() * 4), 0) << threads;
        // Settled by a flush, and by holding another.
        frame_clear(0xFF000000u);
        frame_clear_held(0xFF112233u);
        draw_queue_flush();
        EXPECT_EQ(framebuffer.pixels[640 * 480 - 1], 0xFF112233u) << threads;
        frame_clear_held(0xFF445566u);
        image_draw_base(part);  // too small to hold: drawn at once, after the clear
        draw_queue_flush();
        EXPECT_EQ(framebuffer.pixels[0], part->pixels[0]) << threads;
        EXPECT_EQ(framebuffer.pixels[640 * 480 - 1], 0xFF445566u) << threads;
        // A held background is what the next pass finds; a copy over the whole screen or a drop
        // leaves nothing of a held pass.
        frame_clear(0xFF000000u);
        image_draw_base(full);
        EXPECT_EQ(image_held_base(), full);
        image_blit(part, 600, 450, 255, 0);
        EXPECT_EQ(image_held_base(), nullptr);
        draw_queue_flush();
        EXPECT_EQ(framebuffer.pixels[5 * 640 + 7], full->pixels[5 * 700 + 7]) << threads;
        frame_clear(0xFF000000u);
        frame_clear_held(0xFF778899u);
        image_draw(full, -3, -2, 0);
        draw_queue_flush();
        EXPECT_EQ(framebuffer.pixels[0], full->pixels[2 * 700 + 3]) << threads;
        frame_clear(0xFF000000u);
        frame_clear_held(0xFF778899u);
        draw_queue_drop_held();
        draw_queue_flush();
        EXPECT_EQ(framebuffer.pixels[0], 0xFF000000u) << threads;
        draw_queue_stop();
    }
    image_free(full);
    image_free(part);
}

// Whatever share the main thread has, every row belongs to exactly one thread, the main thread's
// rows are the first of each stretch, and the helpers' runs differ by at most a row.
TEST(DrawBandSplit, EveryRowHasOneOwnerAtEveryShare) {
    for (int count : {2, 3, 8, 16, 64}) {
        for (int first : {-3, 0, 1, 7, 30, 60, 120, 500}) {
            std::vector<DrawBand> bands(count);
            for (int i = 0; i < count; i++) draw_band_split(&bands[i], i, count, 4, first);
            std::vector<int> rows(count, 0);
            for (int y = 0; y < SCREEN_HEIGHT; y++) {
                int owners = 0;
                for (int i = 0; i < count; i++) {
                    owners += bands[i].owns[y];
                    rows[i] += bands[i].owns[y];
                    // The next-row links agree with the rows owned.
                    int next = y;
                    while (next < SCREEN_HEIGHT && !bands[i].owns[next]) next++;
                    ASSERT_EQ(bands[i].next[y], next) << count << " " << first << " " << i << " " << y;
                }
                ASSERT_EQ(owners, 1) << count << " threads, " << first << " first rows, row " << y;
                bool main_row = y % 120 < std::clamp(first, 0, 120);
                ASSERT_EQ(bands[0].owns[y] == 1, main_row) << count << " " << first << " row " << y;
            }
            EXPECT_EQ(rows[0], 4 * std::clamp(first, 0, 120)) << count << " " << first;
            if (first < 120) {
                auto [low, high] = std::minmax_element(rows.begin() + 1, rows.end());
                EXPECT_LE(*high - *low, 4) << count << " threads, " << first << " first rows";
            }
        }
    }
}

TEST_F(DrawQueue, ThreadCountFromTheEnvironment) {
    int n = -1;
    unsetenv("QUILLET_THREADS");
    ASSERT_EQ(draw_threads_from_env("prog", stderr, &n), 0);
    EXPECT_GE(n, 1);
    EXPECT_LE(n, DRAW_THREADS_MAX);
    for (const char* good : {"1", "2", "64"}) {
        setenv("QUILLET_THREADS", good, 1);
        ASSERT_EQ(draw_threads_from_env("prog", stderr, &n), 0) << good;
        EXPECT_EQ(n, atoi(good));
    }
    for (const char* bad : {"0", "65", "-2", "two", "3x", " 3", "99999999999999999999"}) {
        setenv("QUILLET_THREADS", bad, 1);
        n = 7;
        char text[256] = {};
        FILE* err = fmemopen(text, sizeof text - 1, "w");
        EXPECT_EQ(draw_threads_from_env("prog", err, &n), 2) << bad;
        fclose(err);
        std::string out = text;
        EXPECT_EQ(out.rfind("prog: QUILLET_THREADS must be a whole number from 1 to 64", 0), 0u) << out;
        EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 1) << out;
        EXPECT_EQ(n, 7);
    }
}

}  // namespace
