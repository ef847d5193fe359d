// The music stream: the track's play position is the master clock of the show.
#pragma once

int music_open(const char* path, float bpm, float start_seconds);  // 0 ok, 1 failure
void music_play(void);
void music_sync_clock(void);   // once per frame, before drawing
int music_is_playing(void);    // 1 while the stream plays
void music_close(void);
