#include <gtest/gtest.h>

#include <cstdio>
#include <vector>

#include "render/render.h"
#include "runtime/clock.h"

namespace {

// Parses a command line given as words; returns the parser's status and the options.
int parse(std::vector<const char*> words, RenderOptions* options) {
    words.insert(words.begin(), "quillet-render");
    FILE* sink = fopen("/dev/null", "w");
    int status = render_parse_args((int)words.size(), (char**)words.data(), options, sink);
    fclose(sink);
    return status;
}

TEST(RenderArgs, DefaultsAndLists) {
    RenderOptions o;
    ASSERT_EQ(parse({"--frames", "40,0,433", "--out", "x"}, &o), 0);
    EXPECT_EQ(o.mode, RENDER_TOOL_FRAMES);
    EXPECT_EQ(o.beats, (std::vector<int>{40, 0, 433}));
    EXPECT_EQ(o.fps, 60);
    EXPECT_EQ(o.scale, 1);
    EXPECT_EQ(o.from_beat, 0);
    EXPECT_EQ(o.to_beat, 434);
    ASSERT_EQ(parse({"--video", "a.mp4", "--fps", "30", "--scale", "2", "--from", "8", "--to", "12"}, &o), 0);
    EXPECT_EQ(o.mode, RENDER_TOOL_VIDEO);
    EXPECT_EQ(o.fps, 30);
    EXPECT_EQ(o.scale, 2);
    EXPECT_EQ(o.from_beat, 8);
    EXPECT_EQ(o.to_beat, 12);
    ASSERT_EQ(parse({"--help"}, &o), 0);
    EXPECT_EQ(o.mode, RENDER_TOOL_HELP);
}

TEST(RenderArgs, BadInputIsAUsageError) {
    RenderOptions o;
    EXPECT_EQ(parse({}, &o), 2);
    EXPECT_EQ(parse({"--bogus"}, &o), 2);
    EXPECT_EQ(parse({"--frames", "435", "--out", "x"}, &o), 2);
    EXPECT_EQ(parse({"--frames", "-1", "--out", "x"}, &o), 2);
    EXPECT_EQ(parse({"--frames", "4,,5", "--out", "x"}, &o), 2);
    EXPECT_EQ(parse({"--frames", "4"}, &o), 2);                      // no --out
    EXPECT_EQ(parse({"--frames", "4", "--out", "x", "--from", "8"}, &o), 2);  // before --from
    EXPECT_EQ(parse({"--bench", "--from", "40", "--to", "20"}, &o), 2);
    EXPECT_EQ(parse({"--bench", "--from", "40", "--to", "40"}, &o), 2);
    EXPECT_EQ(parse({"--bench", "--to", "500"}, &o), 2);
    EXPECT_EQ(parse({"--bench", "--fps", "0"}, &o), 2);
    EXPECT_EQ(parse({"--bench", "--fps", "sixty"}, &o), 2);
    EXPECT_EQ(parse({"--video"}, &o), 2);
}

TEST(RenderClock, FrameForBeatIsTheFirstFrameOfThatBeat) {
    for (int fps : {24, 30, 60, 144}) {
        for (int beat : {0, 1, 16, 32, 96, 191, 192, 385, 433, 434}) {
            int64_t frame = render_frame_for_beat(beat, fps);
            render_set_frame(frame, fps);
            EXPECT_GE(clock_beat_index(), beat) << fps << " " << beat;
            if (frame > 0) {
                render_set_frame(frame - 1, fps);
                EXPECT_LT(clock_beat_index(), beat) << fps << " " << beat;
            }
        }
    }
    EXPECT_EQ(render_frame_for_beat(0, 60), 0);
}

TEST(RenderClock, EveryFrameAdvancesByOneStep) {
    render_set_frame(100, 60);
    render_set_frame(101, 60);
    EXPECT_DOUBLE_EQ(demo_clock.clock_seconds, 101.0 / 60.0);
    EXPECT_DOUBLE_EQ(demo_clock.clock_delta, 1.0 / 60.0);
    render_set_frame(5000, 60);  // a jump (--from) still reports one frame's step
    EXPECT_DOUBLE_EQ(demo_clock.clock_delta, 1.0 / 60.0);
}

TEST(RenderStats, MedianPercentileAndRate) {
    FrameStats s = render_frame_stats({4.0, 1.0, 3.0, 2.0});
    EXPECT_EQ(s.frames, 4);
    EXPECT_DOUBLE_EQ(s.median_ms, 2.5);
    EXPECT_DOUBLE_EQ(s.p99_ms, 4.0);
    EXPECT_DOUBLE_EQ(s.max_ms, 4.0);
    EXPECT_DOUBLE_EQ(s.fps, 400.0);
    std::vector<double> many(1000, 1.0);
    many[999] = 50.0;
    many[998] = 20.0;
    s = render_frame_stats(many);
    EXPECT_DOUBLE_EQ(s.median_ms, 1.0);
    EXPECT_DOUBLE_EQ(s.p99_ms, 1.0);   // the 990th of 1000 sorted values
    EXPECT_DOUBLE_EQ(s.max_ms, 50.0);
    EXPECT_EQ(render_frame_stats({}).frames, 0);
}

}  // namespace
