// Drawing on several threads. The screen is cut into interleaved horizontal bands, one set per
// drawing thread; each thread draws only the rows of its own bands, and every row it draws gets
// exactly the values a whole-screen pass gives it.
#pragma once
#include <cstdint>

#include "gfx/display.h"

// The rows one drawing thread owns: bands of `rows` rows, band b belonging to worker b % count.
struct DrawBand {
    uint8_t owns[SCREEN_HEIGHT];      // 1 for this worker's rows
    int16_t next[SCREEN_HEIGHT + 1];  // first owned row at or below y (SCREEN_HEIGHT when none)
};

// The calling thread's band; null (the default, and the only value with one thread) owns every row.
extern thread_local const DrawBand* draw_band;

void draw_band_make(DrawBand* band, int index, int count, int rows);
// Whether the band owns any of the screen rows min_y..max_y; always true with no band.
static inline bool draw_band_touches(const DrawBand* band, int min_y, int max_y) {
    return !band || band->next[min_y] <= max_y;
}
