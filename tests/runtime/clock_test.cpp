#include <gtest/gtest.h>

#include "runtime/clock.h"

namespace {

void clock_at(double seconds) {
    demo_clock.clock_seconds = seconds;
    clock_update_beat();
}

TEST(ClockBeat, PrecisionOrderAtTheSectionBoundary) {
    clock_reset();
    clock_set_bpm(105.0f);
    EXPECT_EQ(demo_clock.clock_beats_per_ms, 0.0017500000540167093f);
    clock_at(32.0 * 60.0 / 105.0);
    EXPECT_FLOAT_EQ(clock_beat(), 32.000004f);
    EXPECT_EQ(clock_beat(), 32.000004f);
    EXPECT_EQ(clock_beat_index(), 32);
    clock_at(18.2857);
    EXPECT_EQ(clock_beat(), 31.999975f);
    EXPECT_EQ(clock_beat_index(), 31);
    EXPECT_NEAR(clock_beat_fraction(), 0.999975f, 1e-6f);
}

TEST(ClockBeat, StartIsZero) {
    clock_reset();
    clock_set_bpm(105.0f);
    clock_at(0.0);
    EXPECT_EQ(clock_beat(), 0.0f);
    EXPECT_EQ(clock_beat_fraction(), 0.0f);
    EXPECT_EQ(clock_beat_index(), 0);
}

TEST(ClockMusicPath, DeltaFallsBackToOneSixtiethOutsideZeroToOne) {
    clock_reset();
    clock_set_bpm(105.0f);
    clock_set_seconds(1.0);
    EXPECT_DOUBLE_EQ(demo_clock.clock_delta, 1.0);  // exactly one second is still accepted
    clock_set_seconds(4.0);                          // a stalled frame of 3 s
    EXPECT_EQ(demo_clock.clock_delta, (double)0.016666668f);
    EXPECT_EQ(demo_clock.clock_seconds, 4.0);
    EXPECT_EQ(clock_beat_index(), 7);                // the beat jumps with the position
    clock_set_seconds(3.5);                          // backwards
    EXPECT_EQ(demo_clock.clock_delta, (double)(1.0f / 60.0f));
    EXPECT_EQ(demo_clock.clock_seconds, 3.5);
    clock_set_seconds(3.52);
    EXPECT_NEAR(demo_clock.clock_delta, 0.02, 1e-12);
}

TEST(ClockCounter, TickAdvancesByRealTime) {
    clock_reset();
    clock_set_bpm(105.0f);
    clock_tick();
    EXPECT_GE(demo_clock.clock_delta, 0.0);
    EXPECT_LT(demo_clock.clock_delta, 0.5);
    EXPECT_EQ(demo_clock.clock_seconds, demo_clock.clock_delta);
}

}  // namespace
