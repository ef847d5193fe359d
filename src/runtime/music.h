// The music stream: the track's play position is the master clock of the show.
//
// Live: music_open (device and track), music_play, then once per frame music_sync_clock, which sets
// the clock from the smooth play position and refreshes music_spectrum; music_is_playing turns 0
// when the track has played out; music_close releases everything.
//
// Offline (rendering without a sound device): music_open_offline decodes the track into memory
// without touching the device; music_set_time then sets the clock to an exact time and computes
// music_spectrum for that time through the same code as live playback, so a given time always gives
// the same values. music_pcm hands out the decoded samples so that matching audio can be written.
#pragma once
#include <cstdint>

struct AudioStream;

constexpr int MUSIC_SPECTRUM_SIZE = 512;

extern AudioStream* music_stream;      // the open track; null when none
extern float music_start_offset;        // seconds skipped at the start of playback
extern float music_spectrum[MUSIC_SPECTRUM_SIZE];  // magnitudes around the playing position, lowest first

// Sets the tempo, opens the device at 44,100 Hz and decodes the track. 0 ok; 1 when the device
// cannot be opened ("unable to init sound device" is printed) or the file cannot be decoded (nothing
// printed; the device stays open until music_close).
int music_open(const char* path, float bpm, float start_seconds);
// Plays from the start offset ("skip forward to %f" when it is positive); the clock starts there.
void music_play(void);
void music_sync_clock(void);   // once per frame, before drawing
int music_is_playing(void);    // 1 while the stream plays
void music_close(void);        // stops and frees the device and the track; harmless when closed

// Sets the tempo and decodes the track without a device. 0 ok, 1 when the file cannot be decoded.
int music_open_offline(const char* path, float bpm);
// Sets clock_seconds to exactly this time (clock_delta by the usual rule: the difference from the
// previous time, 1/60 when it is negative or above one second; a caller that wants another delta
// sets it afterwards), derives the beat and computes music_spectrum at the nearest frame.
void music_set_time(double seconds);

// The decoded track: interleaved signed 16-bit samples, frames x channels of them.
struct MusicPcm {
    const int16_t* samples;
    int64_t frames;
    int rate;
    int channels;
};
// Fills out and returns 0 while a track is open; 1 (out zeroed) otherwise.
int music_pcm(MusicPcm* out);
