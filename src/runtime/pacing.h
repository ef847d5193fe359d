// Frame pacing for the live show and the loading screen. Where presenting a frame waits for the
// display's vertical blank, frames follow the display. Where presents return at once (a virtual X
// server, the dummy driver, a driver that ignores the request), the pacer sleeps so that frames come
// at most fps_cap times a second instead of burning a core. It can also gather the frame-to-frame
// intervals for the one line that QUILLET_STATS=1 prints at the end of the show.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdio>

enum {
    PACING_FPS_CAP = 120,       // frames per second at most where nothing waits
    PACING_FPS_CAP_MAX = 1000,  // largest QUILLET_FPS_CAP accepted
    PACING_PRESENT_WINDOW = 15, // latest presents whose median tells whether the display waits
    PACING_STATS_BINS = 25000,  // 10 us each: intervals up to 250 ms, longer ones in the last bin
};

// Read once by main before the loading thread starts; the loading thread only reads it.
struct PacingSettings {
    int fps_cap;  // 0 = no cap
    int stats;    // 1: print the pacing line when the show ends
};
extern PacingSettings pacing_settings;

struct PacingStats {
    int64_t frames;        // presents recorded
    double first_present;  // steady-clock seconds of the first and the latest present
    double last_present;
    double worst;          // longest interval, seconds
    uint32_t bins[PACING_STATS_BINS];
};

struct FramePacer {
    double period;           // seconds between frames at the cap; 0 = no cap
    double due;              // steady-clock seconds at which the latest frame was due; < 0 before any
    float presents[PACING_PRESENT_WINDOW];  // durations of the latest presents, seconds (ring)
    int present_count;       // how many of them are filled
    int present_next;        // where the next one goes
    PacingStats* stats;      // null: nothing recorded
};

// Whole number 0..max without sign or trailing characters into *value: 0, or 1 (value untouched).
int pacing_parse_number(const char* text, int max, int* value);

// QUILLET_FPS_CAP (0..1000, 0 = no cap; unset = PACING_FPS_CAP) and QUILLET_STATS (0 or 1) into
// pacing_settings. 0, or 1 after a one-line message on err naming program and the malformed variable.
int pacing_read_env(const char* program, FILE* err);

double pacing_now(void);  // steady-clock seconds

// A pacer for frames at most fps_cap a second (0 = no cap); stats may be null. Clears stats.
void pacing_start(FramePacer* pacer, int fps_cap, PacingStats* stats);

// The decision after a present that ended at now and took present_seconds: how long to sleep
// before the next frame. Nothing when there is no cap, when behind (no debt is carried: the next
// frame is due one period after now), or when presents wait for the display: their median takes
// half a period or more. Handing a frame over takes 1 to 3 ms where nothing waits, and a lone slow
// present (a busy machine) does not switch pacing off.
double pacing_plan(FramePacer* pacer, double now, double present_seconds);

// frame_present, timed; records the frame in the stats, then sleeps as pacing_plan decides.
void pacing_present(FramePacer* pacer);

void pacing_stats_record(PacingStats* stats, double now);  // one present, ended at now
// Interval at quantile q (0..1] in seconds, to 10 us; 0 with fewer than two presents.
double pacing_stats_quantile(const PacingStats* stats, double q);
// "pacing: N frames, F fps, interval p50 A ms, p99 B ms, worst C ms" into line.
void pacing_stats_format(const PacingStats* stats, char* line, size_t size);
