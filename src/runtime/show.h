// The show's spine: the part table (every scene's and layer's resources, built and released in row
// order), the beat timeline (which render operations run on which beats) and one frame of the show.
#pragma once

struct PartEntry {
    int (*init)(void);   // 0 = success
    void (*free)(void);
};

struct TimelineEntry {
    void (*render)(float seconds);
    int start_beat;      // inclusive
    int end_beat;        // exclusive
};

enum { PART_COUNT = 16, TIMELINE_COUNT = 18, SHOW_BEATS = 434 };
extern const PartEntry part_table[PART_COUNT];
extern const TimelineEntry timeline[TIMELINE_COUNT];

// The track every run plays, as the program names it.
#define SHOW_MUSIC_FILE "data\\Quillet_Demo_prev_105bpm.mp3"
#define SHOW_BPM 105.0f

int parts_init_all(void);   // noise tables, then rows 0..15; 0 ok, 1 (earlier rows freed) on failure
void parts_free_all(void);  // rows 0..15 in order, then the noise tables
void timeline_run(void);    // the rows of the current beat in row order, then the scan-line overlay

// The same with any table, for tests: on the first failing row, rows before it are freed in order.
int parts_init_table(const PartEntry* table, int count);
void parts_free_table(const PartEntry* table, int count);
void timeline_run_table(const TimelineEntry* table, int count, int beat, float seconds);

// One frame after the clock has been set: depth reset, grey clear, timeline, present.
void show_frame(void);
void show_draw_frame(void);  // the same without the present, for a caller that presents itself
