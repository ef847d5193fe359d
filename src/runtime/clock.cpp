#include "runtime/clock.h"

#include <chrono>
#include <cmath>

DemoClock demo_clock;

static int64_t clock_counter_now(void) {
    using namespace std::chrono;
    return duration_cast<nanoseconds>(steady_clock::now().time_since_epoch()).count();
}

void clock_reset(void) {
    demo_clock.counter_last = clock_counter_now();
    demo_clock.counter_frequency = 1000000000;
    demo_clock.clock_beat = 0.0f;
    demo_clock.clock_seconds = 0.0;
    demo_clock.clock_delta = 0.0;
}

void clock_set_bpm(float bpm) {
    demo_clock.clock_bpm = bpm;
    demo_clock.clock_beats_per_ms = (float)((double)bpm / 60.0 / 1000.0);
}

void clock_update_beat(void) {
    // Precision order matters: seconds through float, then milliseconds times the stored factor.
    double s = (double)(float)demo_clock.clock_seconds;
    demo_clock.clock_beat = (float)(s * 1000.0 * (double)demo_clock.clock_beats_per_ms);
    demo_clock.clock_beat_fraction = demo_clock.clock_beat - (float)std::floor(demo_clock.clock_beat);
}

void clock_tick(void) {
    int64_t now = clock_counter_now();
    demo_clock.clock_delta = (double)(now - demo_clock.counter_last) / (double)demo_clock.counter_frequency;
    demo_clock.clock_seconds += demo_clock.clock_delta;
    demo_clock.counter_last = now;
    clock_update_beat();
}

void clock_set_seconds(double seconds) {
    double previous = demo_clock.clock_seconds;
    demo_clock.clock_seconds = seconds;
    demo_clock.clock_delta = seconds - previous;
    if (demo_clock.clock_delta < 0.0 || demo_clock.clock_delta > 1.0)
        demo_clock.clock_delta = (double)(1.0f / 60.0f);
    clock_update_beat();
}

float clock_beat(void) { return demo_clock.clock_beat; }
float clock_beat_fraction(void) { return demo_clock.clock_beat_fraction; }
int clock_beat_index(void) { return (int)demo_clock.clock_beat; }
