// The show's clock: seconds, beats and the fraction of the current beat. During playback the music
// position is the only source of time (music_sync_clock); the steady clock serves before that.
//
// The values are one program-wide record. The beat getters share their names with the record's
// fields, so the fields are reached as demo_clock.clock_beat and the getters as clock_beat().
#pragma once
#include <cstdint>

struct DemoClock {
    double clock_seconds;       // time since the start of the track
    double clock_delta;         // duration of the last frame
    float clock_beat;           // time in beats
    float clock_beat_fraction;  // clock_beat minus its floor, in [0, 1)
    float clock_bpm;
    float clock_beats_per_ms;   // clock_bpm / 60 / 1000
    int64_t counter_last;       // steady-clock reading of the last clock_tick, in nanoseconds
    int64_t counter_frequency;  // steady-clock ticks per second
};

extern DemoClock demo_clock;

void clock_reset(void);             // reads the counter; beat, seconds and delta to 0
void clock_tick(void);              // advance by the real time since the last reading
void clock_set_bpm(float bpm);
void clock_update_beat(void);       // derive beat and fraction from clock_seconds
void clock_set_seconds(double seconds);  // the music path: position, delta with its 1/60 fallback, beat
float clock_beat(void);
float clock_beat_fraction(void);
int clock_beat_index(void);         // clock_beat truncated toward zero
