// The arrangement of the stand-in soundtrack: a G minor piece of 434 beats at 105 beats per minute,
// laid out in the show's sections, rendered with the synthesiser into a float stereo track.
#pragma once

#include <cstdint>

constexpr int MUSIC_BPM = 105;
constexpr int MUSIC_BEAT_FRAMES = 25200;  // 44100 * 60 / 105, exactly
constexpr int MUSIC_BEATS = 434;
constexpr int64_t MUSIC_FRAMES = (int64_t)MUSIC_BEATS * MUSIC_BEAT_FRAMES;  // 10,936,800
constexpr float MUSIC_PEAK = 0.75f;  // the rendered peak: room for the encoder's overshoot

// The show's sections, in beats; start inclusive, end exclusive.
struct MusicSection {
    const char* name;
    int start_beat;
    int end_beat;
};
extern const MusicSection music_sections[];
extern const int music_section_count;

// The rendered track: `frames` samples per channel, normalised so the larger channel peak is
// MUSIC_PEAK. One allocation; release with music_track_free.
struct MusicTrack {
    int64_t frames;
    float gain;  // the normalising gain that was applied to the mix
    float* left;
    float* right;
};

// Renders the whole piece. Null (with a message) when memory runs out.
MusicTrack* music_render();
void music_track_free(MusicTrack* track);
