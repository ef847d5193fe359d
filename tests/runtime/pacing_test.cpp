// Frame pacing: the settings read from the environment, the sleep decision on simulated clocks
// (cap held, no debt after a late frame, waiting displays left alone) and the interval statistics.
#include "runtime/pacing.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>

namespace {

// Runs frames that take draw seconds of work and present seconds of present on a simulated clock,
// sleeping as the pacer says; returns the frame rate over the last half of the frames.
double simulate(FramePacer* pacer, int frames, double draw, double present) {
    double now = 100.0, half_start = 0.0;
    for (int i = 0; i < frames; i++) {
        if (i == frames / 2) half_start = now;
        now += draw + present;
        now += pacing_plan(pacer, now, present);
    }
    return (frames - frames / 2) / (now - half_start);
}

struct EnvGuard {
    ~EnvGuard() {
        unsetenv("QUILLET_FPS_CAP");
        unsetenv("QUILLET_STATS");
        pacing_settings = {PACING_FPS_CAP, 0};
    }
};

}  // namespace

TEST(PacingSettings, NumbersAcceptedOnlyWhole) {
    int v = -7;
    EXPECT_EQ(pacing_parse_number("120", 1000, &v), 0);
    EXPECT_EQ(v, 120);
    EXPECT_EQ(pacing_parse_number("0", 1000, &v), 0);
    EXPECT_EQ(v, 0);
    for (const char* bad : {"", "-1", "+5", "12x", " 60", "1001", "99999999999999999999", "6.5"}) {
        v = -7;
        EXPECT_EQ(pacing_parse_number(bad, 1000, &v), 1) << bad;
        EXPECT_EQ(v, -7) << bad;
    }
    EXPECT_EQ(pacing_parse_number(nullptr, 1000, &v), 1);
}

TEST(PacingSettings, EnvironmentOverridesAndBadValuesFail) {
    EnvGuard guard;
    std::unique_ptr<FILE, int (*)(FILE*)> sink(fopen("/dev/null", "w"), fclose);
    FILE* devnull = sink.get();
    unsetenv("QUILLET_FPS_CAP");
    unsetenv("QUILLET_STATS");
    ASSERT_EQ(pacing_read_env("test", devnull), 0);
    EXPECT_EQ(pacing_settings.fps_cap, PACING_FPS_CAP);
    EXPECT_EQ(pacing_settings.stats, 0);

    setenv("QUILLET_FPS_CAP", "0", 1);
    setenv("QUILLET_STATS", "1", 1);
    ASSERT_EQ(pacing_read_env("test", devnull), 0);
    EXPECT_EQ(pacing_settings.fps_cap, 0);
    EXPECT_EQ(pacing_settings.stats, 1);

    // A malformed value fails and leaves the settings as they were.
    setenv("QUILLET_FPS_CAP", "fast", 1);
    EXPECT_EQ(pacing_read_env("test", devnull), 1);
    EXPECT_EQ(pacing_settings.fps_cap, 0);
    setenv("QUILLET_FPS_CAP", "60", 1);
    setenv("QUILLET_STATS", "yes", 1);
    EXPECT_EQ(pacing_read_env("test", devnull), 1);
    EXPECT_EQ(pacing_settings.fps_cap, 0);
}

TEST(PacingPlan, FastFramesHeldAtTheCap) {
    FramePacer pacer;
    pacing_start(&pacer, 120, nullptr);
    EXPECT_NEAR(simulate(&pacer, 1000, 0.001, 0.0002), 120.0, 0.01);
    pacing_start(&pacer, 30, nullptr);
    EXPECT_NEAR(simulate(&pacer, 1000, 0.004, 0.0002), 30.0, 0.01);
}

TEST(PacingPlan, NoCapAndSlowFramesNeverSleep) {
    FramePacer pacer;
    pacing_start(&pacer, 0, nullptr);
    EXPECT_NEAR(simulate(&pacer, 200, 0.001, 0.0002), 1.0 / 0.0012, 0.5);
    pacing_start(&pacer, 120, nullptr);
    EXPECT_NEAR(simulate(&pacer, 200, 0.012, 0.0002), 1.0 / 0.0122, 0.5);
}

TEST(PacingPlan, LateFrameCarriesNoDebt) {
    FramePacer pacer;
    pacing_start(&pacer, 100, nullptr);
    double now = 5.0;
    EXPECT_EQ(pacing_plan(&pacer, now, 0.0), 0.0);  // the first frame is never held back
    now += 0.001;
    EXPECT_NEAR(pacing_plan(&pacer, now, 0.0), 0.009, 1e-9);
    now += 0.009 + 0.050;  // one frame 50 ms late
    EXPECT_EQ(pacing_plan(&pacer, now, 0.0), 0.0);
    // The next fast frame gets a whole period again instead of being rushed to catch up.
    now += 0.002;
    EXPECT_NEAR(pacing_plan(&pacer, now, 0.0), 0.008, 1e-9);
}

TEST(PacingPlan, WaitingPresentsAreLeftToTheDisplay) {
    // A 144 Hz display that waits: presents take most of its period, the pacer must not add sleep.
    FramePacer pacer;
    pacing_start(&pacer, 120, nullptr);
    EXPECT_NEAR(simulate(&pacer, 300, 0.001, 0.0059), 1.0 / 0.0069, 0.5);

    // Presents that return at once with a few slow ones (a busy machine) are still paced.
    pacing_start(&pacer, 120, nullptr);
    double now = 0.0, sleep_total = 0.0;
    for (int i = 0; i < 300; i++) {
        double present = i % 5 == 0 ? 0.020 : 0.0003;
        now += 0.001 + present;
        double sleep = pacing_plan(&pacer, now, present);
        sleep_total += sleep;
        now += sleep;
    }
    EXPECT_GT(sleep_total, 1.0);
}

TEST(PacingStats, QuantilesWorstAndLine) {
    auto stats = std::make_unique<PacingStats>();
    FramePacer pacer;
    pacing_start(&pacer, 0, stats.get());
    EXPECT_EQ(pacing_stats_quantile(stats.get(), 0.5), 0.0);

    // 100 intervals: 98 of 8.333 ms, one of 20.004 ms, one of 400 ms (beyond the last bin).
    double now = 10.0;
    pacing_stats_record(stats.get(), now);
    for (int i = 0; i < 98; i++) pacing_stats_record(stats.get(), now += 0.008333);
    pacing_stats_record(stats.get(), now += 0.020004);
    pacing_stats_record(stats.get(), now += 0.400);
    EXPECT_EQ(stats->frames, 101);
    EXPECT_NEAR(pacing_stats_quantile(stats.get(), 0.5), 0.008333, 10e-6);
    EXPECT_NEAR(pacing_stats_quantile(stats.get(), 0.99), 0.020004, 10e-6);
    EXPECT_NEAR(pacing_stats_quantile(stats.get(), 1.0), 0.400, 1e-9);
    EXPECT_NEAR(stats->worst, 0.400, 1e-9);

    char line[160];
    pacing_stats_format(stats.get(), line, sizeof line);
    EXPECT_EQ(std::string(line),
              "pacing: 101 frames, 80.9 fps, interval p50 8.34 ms, p99 20.01 ms, worst 400.00 ms");
}

TEST(PacingPresent, OffscreenPresentsAreHeldAtTheCap) {
    // No display is open, so presents return at once: 13 frames at 200 a second take about 60 ms.
    FramePacer pacer;
    auto stats = std::make_unique<PacingStats>();
    pacing_start(&pacer, 200, stats.get());
    double start = pacing_now();
    for (int i = 0; i < 13; i++) pacing_present(&pacer);
    double elapsed = pacing_now() - start;
    EXPECT_GE(elapsed, 0.059);
    EXPECT_EQ(stats->frames, 13);
}
