#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "runtime/show.h"
#include "gfx/display.h"
#include "gfx/draw_queue.h"
#include "gfx/image.h"
#include "raster/raster.h"
#include "runtime/clock.h"
#include "scenes/scenes.h"
#include "support/test_support.h"

namespace {

std::vector<std::string> calls;

template <int Row> int record_init() { calls.push_back("init" + std::to_string(Row)); return Row == 5; }
template <int Row> void record_free() { calls.push_back("free" + std::to_string(Row)); }
template <int Row> void record_render(float) { calls.push_back("row" + std::to_string(Row)); }

TEST(PartTable, FailingRowFreesEarlierRowsOnceInOrder) {
    const PartEntry table[] = {
        {record_init<0>, record_free<0>}, {record_init<1>, record_free<1>},
        {record_init<2>, record_free<2>}, {record_init<3>, record_free<3>},
        {record_init<4>, record_free<4>}, {record_init<5>, record_free<5>},
        {record_init<6>, record_free<6>},
    };
    calls.clear();
    EXPECT_EQ(parts_init_table(table, 7), 1);
    const std::vector<std::string> expected = {"init0", "init1", "init2", "init3", "init4", "init5",
                                               "free0", "free1", "free2", "free3", "free4"};
    EXPECT_EQ(calls, expected);
}

TEST(PartTable, SucceedsWhenEveryRowDoes) {
    const PartEntry table[] = {{record_init<0>, record_free<0>}, {record_init<1>, record_free<1>}};
    calls.clear();
    EXPECT_EQ(parts_init_table(table, 2), 0);
    parts_free_table(table, 2);
    const std::vector<std::string> expected = {"init0", "init1", "free0", "free1"};
    EXPECT_EQ(calls, expected);
}

// The real table with the data set: every row initialises after the texture table (the background
// layer keeps the pictures it took from it at init), and freeing empties the table.
TEST(PartTable, TheShowInitialisesAfterItsTexturesAndFreesThem) {
    if (!test_enter_data()) GTEST_SKIP() << "no data set";
    ASSERT_EQ(display_open_offscreen(1), 0);
    ASSERT_EQ(parts_init_all(), 0);
    const Image* cube_bg = texture_get(TEXTURE_CUBE_BG);
    ASSERT_NE(cube_bg, nullptr);
    frame_clear(0xFF7F7F7Fu);
    demo_clock.clock_beat = 40.0f;
    layer_backgrounds_render(0.0f);
    draw_queue_flush();  // the picture may be held for the next pass
    for (int p = 0; p < SCREEN_WIDTH * SCREEN_HEIGHT; p += 4099)
        ASSERT_EQ(framebuffer.pixels[p], cube_bg->pixels[p]) << p;
    parts_free_all();
    for (int i = 0; i <= TEXTURE_RAMP; i++) EXPECT_EQ(texture_get(i), nullptr) << i;
    demo_clock.clock_beat = 0.0f;
    display_close();
}

// The real timeline with its render operations replaced by recorders of the row number.
std::vector<TimelineEntry> recording_timeline() {
    static void (*const recorders[TIMELINE_COUNT])(float) = {
        record_render<0>,  record_render<1>,  record_render<2>,  record_render<3>,
        record_render<4>,  record_render<5>,  record_render<6>,  record_render<7>,
        record_render<8>,  record_render<9>,  record_render<10>, record_render<11>,
        record_render<12>, record_render<13>, record_render<14>, record_render<15>,
        record_render<16>, record_render<17>};
    std::vector<TimelineEntry> rows(timeline, timeline + TIMELINE_COUNT);
    for (int i = 0; i < TIMELINE_COUNT; i++) rows[i].render = recorders[i];
    return rows;
}

std::vector<std::string> rows_at(int beat) {
    std::vector<TimelineEntry> rows = recording_timeline();
    calls.clear();
    timeline_run_table(rows.data(), (int)rows.size(), beat, 0.0f);
    return calls;
}

TEST(Timeline, RowsOfEachBeatInRowOrder) {
    using V = std::vector<std::string>;
    EXPECT_EQ(rows_at(0), (V{"row0", "row1", "row3", "row4", "row15", "row16", "row17"}));
    EXPECT_EQ(rows_at(16), (V{"row0", "row1", "row2", "row3", "row4", "row15", "row16", "row17"}));
    EXPECT_EQ(rows_at(31), rows_at(16));
    EXPECT_EQ(rows_at(32), (V{"row0", "row5", "row15", "row16", "row17"}));
    // The film strip over the end of the tree and the start of the carved box.
    EXPECT_EQ(rows_at(188), (V{"row0", "row7", "row9", "row15", "row16", "row17"}));
    EXPECT_EQ(rows_at(191), rows_at(188));
    EXPECT_EQ(rows_at(192), (V{"row0", "row8", "row9", "row15", "row16", "row17"}));
    EXPECT_EQ(rows_at(211), rows_at(192));
    EXPECT_EQ(rows_at(212), (V{"row0", "row8", "row15", "row16", "row17"}));
    // The dancer lies under the springs scene.
    EXPECT_EQ(rows_at(264), (V{"row0", "row10", "row11", "row15", "row16", "row17"}));
    EXPECT_EQ(rows_at(433), (V{"row0", "row13", "row14", "row15", "row16", "row17"}));
    EXPECT_TRUE(rows_at(434).empty());
    EXPECT_TRUE(rows_at(-1).empty());
}

TEST(Timeline, RenderReceivesTheSeconds) {
    static float seen = -1.0f;
    const TimelineEntry row = {[](float s) { seen = s; }, 0, 1};
    timeline_run_table(&row, 1, 0, 1.25f);
    EXPECT_EQ(seen, 1.25f);
}

// The frame's clear is held until something draws: triangles drawn after it land on the clear,
// with one drawing thread (the fillers draw at once) and with several.
TEST(ShowFrame, TheHeldClearIsDrawnBeforeTriangles) {
    ASSERT_EQ(display_open_offscreen(1), 0);
    MeshVertex v[3] = {};
    const float corners[3][2] = {{20.5f, 30.5f}, {300.5f, 60.5f}, {90.5f, 400.5f}};
    for (int i = 0; i < 3; i++) {
        v[i].sx = corners[i][0];
        v[i].sy = corners[i][1];
        v[i].rhw = 1.0f;
    }
    auto draw = [&](bool held) {
        frame_clear(0xFF000000u);
        draw_queue_flush();
        if (held) frame_clear_held(0xFF7F7F7Fu);
        else frame_clear(0xFF7F7F7Fu);
        polygon_draw_fan(v, 3, DOUBLE_SIDED, 0xFFC03010u, nullptr, RENDER_FLAT);
        draw_queue_flush();
        return std::vector<uint32_t>(framebuffer.pixels, framebuffer.pixels + SCREEN_WIDTH * SCREEN_HEIGHT);
    };
    for (int threads : {1, 3}) {
        ASSERT_EQ(draw_queue_start(threads), 0);
        std::vector<uint32_t> want = draw(false);
        EXPECT_EQ(want[100 * SCREEN_WIDTH + 100], 0xFFC03010u);  // inside
        EXPECT_EQ(want[0], 0xFF7F7F7Fu);
        EXPECT_TRUE(draw(true) == want) << threads << " threads";
        draw_queue_stop();
    }
    display_close();
}

}  // namespace
