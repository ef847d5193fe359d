#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>
#include <algorithm>

#include "gfx/display.h"

#include "render/render.h"
#include "runtime/clock.h"
#include "runtime/show.h"

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
    EXPECT_EQ(parse({"--bench", "--check", "ref.digest"}, &o), 2);  // --check is for --digest only
    EXPECT_EQ(parse({"--digest", "--check"}, &o), 2);
}

TEST(RenderArgs, DigestTakesTheBenchRangeAndAReference) {
    RenderOptions o;
    ASSERT_EQ(parse({"--digest", "--fps", "10", "--from", "32", "--to", "40"}, &o), 0);
    EXPECT_EQ(o.mode, RENDER_TOOL_DIGEST);
    EXPECT_EQ(o.fps, 10);
    EXPECT_EQ(o.from_beat, 32);
    EXPECT_EQ(o.to_beat, 40);
    EXPECT_EQ(o.check_path, nullptr);
    ASSERT_EQ(parse({"--digest", "--check", "ref.digest", "--out", "diff"}, &o), 0);
    EXPECT_STREQ(o.check_path, "ref.digest");
    EXPECT_STREQ(o.out_dir, "diff");
}

TEST(RenderDigest, OnePixelChangesTheFrameHash) {
    std::vector<uint32_t> pixels((size_t)SCREEN_WIDTH * SCREEN_HEIGHT, 0xFF7F7F7Fu);
    const int pitch = SCREEN_WIDTH * 4;
    const uint64_t base = render_frame_hash(pixels.data(), pitch);
    EXPECT_EQ(render_frame_hash(pixels.data(), pitch), base);
    for (size_t at : {(size_t)0, (size_t)SCREEN_WIDTH * 240 + 320, pixels.size() - 1}) {
        for (uint32_t bit : {0x00000001u, 0x80000000u}) {  // the lowest blue bit and the alpha byte count
            pixels[at] ^= bit;
            EXPECT_NE(render_frame_hash(pixels.data(), pitch), base) << at << " " << bit;
            pixels[at] ^= bit;
        }
    }
    // Two pixels swapped hold the same words in another order: still a different frame.
    pixels[0] = 0xFF000000u;
    uint64_t one = render_frame_hash(pixels.data(), pitch);
    std::swap(pixels[0], pixels[1]);
    EXPECT_NE(render_frame_hash(pixels.data(), pitch), one);
}

TEST(RenderDigest, PaddedRowsHashLikeContiguousOnes) {
    const int padded = (SCREEN_WIDTH + 8) * 4;
    std::vector<uint32_t> tight((size_t)SCREEN_WIDTH * SCREEN_HEIGHT), loose((size_t)(padded / 4) * SCREEN_HEIGHT, 0xDEADBEEFu);
    for (int y = 0; y < SCREEN_HEIGHT; y++)
        for (int x = 0; x < SCREEN_WIDTH; x++) {
            uint32_t v = (uint32_t)(y * 7919 + x * 104729);
            tight[(size_t)y * SCREEN_WIDTH + x] = v;
            loose[(size_t)y * (padded / 4) + x] = v;
        }
    EXPECT_EQ(render_frame_hash(loose.data(), padded), render_frame_hash(tight.data(), SCREEN_WIDTH * 4));
}

TEST(RenderDigest, LineFormatIsExact) {
    char line[128];
    EXPECT_EQ(render_digest_line(line, sizeof line, 0, 0.0f, 0x1234abcdULL), 24);
    EXPECT_STREQ(line, "0 0.000 000000001234abcd");
    render_digest_line(line, sizeof line, 2479, 433.825f, 0xFEDCBA9876543210ULL);
    EXPECT_STREQ(line, "2479 433.825 fedcba9876543210");
    // The show line hashes the frame hashes in order.
    std::vector<uint64_t> hashes = {1, 2, 3};
    uint64_t forward = render_show_hash(hashes);
    EXPECT_EQ(render_show_hash({1, 2, 3}), forward);
    EXPECT_NE(render_show_hash({3, 2, 1}), forward);
    EXPECT_NE(render_show_hash({1, 2}), forward);
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

// What a writer received: each frame's name and hash, in order; fails the frames named "fail".
struct OutputLog {
    std::vector<std::string> names;
    std::vector<uint64_t> hashes;
};

int output_log_write(const uint32_t* pixels, const char* name, void* context) {
    OutputLog* log = (OutputLog*)context;
    log->names.push_back(name);
    log->hashes.push_back(render_frame_hash(pixels, SCREEN_WIDTH * 4));
    return strcmp(name, "fail") == 0 ? 1 : 0;
}

TEST(RenderOutput, EveryFrameIsWrittenAsItWasPutWhileTheNextIsDrawn) {
    // Padded rows, as a locked surface may have; the writer gets them packed.
    const int pitch = (SCREEN_WIDTH + 16) * 4;
    std::vector<uint32_t> frame((size_t)(pitch / 4) * SCREEN_HEIGHT);
    std::vector<uint32_t> packed((size_t)SCREEN_WIDTH * SCREEN_HEIGHT);
    OutputLog log;
    std::vector<uint64_t> expected;
    RenderOutput* output = render_output_open(output_log_write, &log);
    ASSERT_NE(output, nullptr);
    for (uint32_t n = 0; n < 12; n++) {
        // Drawing the next frame straight after the put must not reach the frame being written.
        for (int y = 0; y < SCREEN_HEIGHT; y++)
            for (int x = 0; x < SCREEN_WIDTH; x++)
                frame[(size_t)y * (pitch / 4) + x] = packed[(size_t)y * SCREEN_WIDTH + x] = n * 2654435761u + (uint32_t)(y * 640 + x);
        expected.push_back(render_frame_hash(packed.data(), SCREEN_WIDTH * 4));
        ASSERT_EQ(render_output_put(output, frame.data(), pitch, std::to_string(n).c_str()), 0);
        std::fill(frame.begin(), frame.end(), 0u);
    }
    EXPECT_EQ(render_output_close(output, nullptr, 0), 0);
    ASSERT_EQ(log.names.size(), 12u);
    for (int n = 0; n < 12; n++) EXPECT_EQ(log.names[n], std::to_string(n));
    EXPECT_EQ(log.hashes, expected);
    EXPECT_EQ(render_output_close(nullptr, nullptr, 0), 0);
}

TEST(RenderOutput, AFailedWriteStopsTheOutputAndIsReportedAtTheEnd) {
    std::vector<uint32_t> frame((size_t)SCREEN_WIDTH * SCREEN_HEIGHT, 0xFF102030u);
    OutputLog log;
    RenderOutput* output = render_output_open(output_log_write, &log);
    ASSERT_NE(output, nullptr);
    EXPECT_EQ(render_output_put(output, frame.data(), SCREEN_WIDTH * 4, "a"), 0);
    render_output_put(output, frame.data(), SCREEN_WIDTH * 4, "fail");  // may still be writing
    // The failure is seen by the next put at the latest; nothing after it is written.
    EXPECT_EQ(render_output_put(output, frame.data(), SCREEN_WIDTH * 4, "b"), 1);
    EXPECT_EQ(render_output_put(output, frame.data(), SCREEN_WIDTH * 4, "c"), 1);
    char failed[64] = "";
    EXPECT_EQ(render_output_close(output, failed, sizeof failed), 1);
    EXPECT_STREQ(failed, "fail");
    EXPECT_EQ(log.names, (std::vector<std::string>{"a", "fail"}));

    // A failure at the very last frame is only known at the close.
    output = render_output_open(output_log_write, &log);
    ASSERT_NE(output, nullptr);
    render_output_put(output, frame.data(), SCREEN_WIDTH * 4, "fail");
    EXPECT_EQ(render_output_close(output, failed, sizeof failed), 1);
}

}  // namespace

TEST(RenderSections, TheScenesRowsTileTheWholeShowInOrder) {
    int next = 0;
    for (int s = 0; s < RENDER_SECTIONS; s++) {
        BenchSection section = render_section(s);
        EXPECT_EQ(section.start_beat, next) << section.name;
        EXPECT_GT(section.end_beat, section.start_beat) << section.name;
        next = section.end_beat;
    }
    EXPECT_EQ(next, SHOW_BEATS);
    EXPECT_STREQ(render_section(3).name, "tree");
    EXPECT_EQ(render_section(3).start_beat, 160);
}
