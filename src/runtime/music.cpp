// Placeholder until the audio layer lands: no track, nothing plays.
#include "runtime/music.h"

#include "runtime/clock.h"

int music_open(const char*, float bpm, float) {
    clock_set_bpm(bpm);
    return 0;
}
void music_play(void) {}
void music_sync_clock(void) { clock_tick(); }
int music_is_playing(void) { return 1; }
void music_close(void) {}
