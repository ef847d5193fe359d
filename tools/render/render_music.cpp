// The track for the offline renderer, through the music stream's offline entries: decoded once,
// the clock and spectrum set per frame, and any stretch written as 16-bit PCM WAV for the video.
#include "render/render_music.h"

#include <cmath>
#include <cstdint>
#include <cstdio>

#include "runtime/music.h"

int render_music_open(const char* path, float bpm) { return music_open_offline(path, bpm); }

void render_music_set_time(double seconds) { music_set_time(seconds); }

static void render_put_u16(FILE* f, uint32_t v) {
    uint8_t b[2] = {(uint8_t)v, (uint8_t)(v >> 8)};
    fwrite(b, 1, 2, f);
}

static void render_put_u32(FILE* f, uint32_t v) {
    uint8_t b[4] = {(uint8_t)v, (uint8_t)(v >> 8), (uint8_t)(v >> 16), (uint8_t)(v >> 24)};
    fwrite(b, 1, 4, f);
}

int render_music_write_wav(const char* path, double start_seconds, double end_seconds) {
    MusicPcm pcm;
    if (music_pcm(&pcm) != 0 || pcm.channels < 1 || pcm.rate < 1) return 1;
    int64_t first = (int64_t)std::llround(start_seconds * pcm.rate);
    int64_t end = (int64_t)std::llround(end_seconds * pcm.rate);
    if (first < 0) first = 0;
    if (end > pcm.frames) end = pcm.frames;
    if (end < first) end = first;
    uint32_t frame_bytes = (uint32_t)pcm.channels * 2;
    uint32_t bytes = (uint32_t)(end - first) * frame_bytes;
    FILE* f = fopen(path, "wb");
    if (!f) return 1;
    fwrite("RIFF", 1, 4, f);
    render_put_u32(f, 36 + bytes);
    fwrite("WAVEfmt ", 1, 8, f);
    render_put_u32(f, 16);
    render_put_u16(f, 1);  // integer PCM
    render_put_u16(f, (uint32_t)pcm.channels);
    render_put_u32(f, (uint32_t)pcm.rate);
    render_put_u32(f, (uint32_t)pcm.rate * frame_bytes);
    render_put_u16(f, frame_bytes);
    render_put_u16(f, 16);
    fwrite("data", 1, 4, f);
    render_put_u32(f, bytes);
    // Samples are written as little-endian bytes whatever the host order.
    const int16_t* s = pcm.samples + first * pcm.channels;
    size_t count = (size_t)(end - first) * pcm.channels;
    for (size_t i = 0; i < count; i++) render_put_u16(f, (uint16_t)s[i]);
    return fclose(f) == 0 ? 0 : 1;
}

void render_music_close(void) { music_close(); }
