// The track as the offline renderer needs it: decoded whole, the clock and spectrum set for any
// time, and any stretch of it written as a WAV file for the video's audio.
#pragma once

int render_music_open(const char* path, float bpm);  // 0 ok, 1 failure
void render_music_set_time(double seconds);          // clock and spectrum at that time
int render_music_write_wav(const char* path, double start_seconds, double end_seconds);  // 0 ok
void render_music_close(void);
