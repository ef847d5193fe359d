#include "runtime/music.h"

#include <cstdio>
#include <cstring>

#include "runtime/audio.h"
#include "runtime/clock.h"

AudioStream* music_stream;
float music_start_offset;
float music_spectrum[MUSIC_SPECTRUM_SIZE];

static_assert(MUSIC_SPECTRUM_SIZE == AUDIO_SPECTRUM_SIZE, "one spectrum size");

int music_open(const char* path, float bpm, float start_seconds) {
    clock_set_bpm(bpm);
    if (audio_init(44100) != 0) {
        printf("unable to init sound device\n");
        return 1;
    }
    audio_start();
    audio_stream_free(music_stream);  // a second open replaces the track
    music_stream = audio_stream_open(path);
    if (!music_stream) {
        // Nothing on standard output, as the show always did; the user still learns which file.
        fprintf(stderr, "music: %s: missing or not a readable MP3 track\n", path);
        return 1;
    }
    music_start_offset = start_seconds;
    return 0;
}

void music_play(void) {
    if (!music_stream) return;
    int64_t start = 0;
    if (music_start_offset > 0.0f) start = audio_seconds_to_bytes(music_stream, music_start_offset);
    // Positioned before the device starts pulling, so the first buffer is already the right one.
    audio_play(music_stream, start);
    if (music_start_offset > 0.0f) printf("skip forward to %f\n", music_start_offset);
    demo_clock.clock_seconds = music_start_offset;
    clock_update_beat();
}

void music_sync_clock(void) {
    audio_update();
    int64_t bytes = audio_position_bytes(music_stream);
    int64_t frame = music_stream ? bytes / audio_bytes_per_frame(music_stream) : 0;
    audio_spectrum_at(music_stream, frame, music_spectrum);
    // The position reaches the clock in single precision, as the show has always timed itself.
    clock_set_seconds((double)(float)audio_bytes_to_seconds(music_stream, bytes));
}

int music_is_playing(void) { return audio_is_playing(music_stream) == 1; }

void music_close(void) {
    audio_stop();
    audio_shutdown();
    audio_stream_free(music_stream);
    music_stream = nullptr;
}

int music_open_offline(const char* path, float bpm) {
    clock_set_bpm(bpm);
    audio_stream_free(music_stream);
    music_stream = audio_stream_open(path);
    music_start_offset = 0.0f;
    return music_stream ? 0 : 1;
}

void music_set_time(double seconds) {
    clock_set_seconds(seconds);
    int64_t frame = 0;
    if (music_stream) frame = audio_seconds_to_bytes(music_stream, seconds) / audio_bytes_per_frame(music_stream);
    audio_spectrum_at(music_stream, frame, music_spectrum);
}

int music_pcm(MusicPcm* out) {
    memset(out, 0, sizeof *out);
    if (!music_stream) return 1;
    out->samples = music_stream->samples;
    out->frames = music_stream->frames;
    out->rate = music_stream->rate;
    out->channels = music_stream->channels;
    return 0;
}
