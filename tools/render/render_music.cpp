// Until the decoded track is available to the renderer: silence, and the clock set directly.
#include "render/render_music.h"

#include <cstdint>
#include <cstdio>

#include "runtime/clock.h"

int render_music_open(const char*, float bpm) {
    clock_set_bpm(bpm);
    return 0;
}

void render_music_set_time(double seconds) { clock_set_seconds(seconds); }

static void render_put_u32(FILE* f, uint32_t v) {
    uint8_t b[4] = {(uint8_t)v, (uint8_t)(v >> 8), (uint8_t)(v >> 16), (uint8_t)(v >> 24)};
    fwrite(b, 1, 4, f);
}

int render_music_write_wav(const char* path, double start_seconds, double end_seconds) {
    FILE* f = fopen(path, "wb");
    if (!f) return 1;
    uint32_t frames = end_seconds > start_seconds ? (uint32_t)((end_seconds - start_seconds) * 44100.0) : 0;
    uint32_t bytes = frames * 4;
    fwrite("RIFF", 1, 4, f); render_put_u32(f, 36 + bytes); fwrite("WAVEfmt ", 1, 8, f);
    render_put_u32(f, 16); render_put_u32(f, 0x00020001); render_put_u32(f, 44100);
    render_put_u32(f, 44100 * 4); render_put_u32(f, 0x00100004);
    fwrite("data", 1, 4, f); render_put_u32(f, bytes);
    static const uint8_t zero[4096] = {};
    for (uint32_t left = bytes; left > 0;) {
        uint32_t n = left < sizeof zero ? left : (uint32_t)sizeof zero;
        fwrite(zero, 1, n, f);
        left -= n;
    }
    return fclose(f) == 0 ? 0 : 1;
}

void render_music_close(void) {}
