// Drawing bands and the recorded drawing calls replayed by the drawing threads.
#include "gfx/draw_queue.h"

thread_local const DrawBand* draw_band = nullptr;

void draw_band_make(DrawBand* band, int index, int count, int rows) {
    if (count < 1) count = 1;
    if (rows < 1) rows = 1;
    for (int y = 0; y < SCREEN_HEIGHT; y++) band->owns[y] = (y / rows) % count == index;
    band->next[SCREEN_HEIGHT] = SCREEN_HEIGHT;
    for (int y = SCREEN_HEIGHT - 1; y >= 0; y--)
        band->next[y] = band->owns[y] ? (int16_t)y : band->next[y + 1];
}
