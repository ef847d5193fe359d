// The stand-in soundtrack: render the piece, check the levels, encode it with LAME at 192 kbit/s
// and put the encoder's gapless header (delay and padding) in the first frame, so that a decoder
// honouring it returns exactly the rendered frames. The MP3 is built in memory and written at once.
#include "assets/soundtrack.h"

#include "assets/music.h"

#include <lame/lame.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// Rounds to 16 bits; reports 1 if any sample would reach full scale (the mix is normalised well
// below it, so that would be a fault in the master stage).
int soundtrack_quantise(const MusicTrack* t, short* left, short* right) {
    for (int64_t i = 0; i < t->frames; i++) {
        float l = t->left[i] * 32767.0f, r = t->right[i] * 32767.0f;
        if (!(l > -32767.0f && l < 32767.0f && r > -32767.0f && r < 32767.0f)) return 1;
        left[i] = (short)(l < 0 ? l - 0.5f : l + 0.5f);
        right[i] = (short)(r < 0 ? r - 0.5f : r + 0.5f);
    }
    return 0;
}

void put32(unsigned char* p, uint32_t v) {
    p[0] = (unsigned char)v;
    p[1] = (unsigned char)(v >> 8);
    p[2] = (unsigned char)(v >> 16);
    p[3] = (unsigned char)(v >> 24);
}

void put16(unsigned char* p, uint32_t v) {
    p[0] = (unsigned char)v;
    p[1] = (unsigned char)(v >> 8);
}

int soundtrack_write_wav(FILE* f, const char* path, const short* left, const short* right,
                         int64_t frames) {
    uint32_t data_bytes = (uint32_t)(frames * 4);
    unsigned char h[44];
    memcpy(h, "RIFF", 4);
    put32(h + 4, 36 + data_bytes);
    memcpy(h + 8, "WAVEfmt ", 8);
    put32(h + 16, 16);
    put16(h + 20, 1);  // PCM
    put16(h + 22, 2);
    put32(h + 24, 44100);
    put32(h + 28, 44100 * 4);
    put16(h + 32, 4);
    put16(h + 34, 16);
    memcpy(h + 36, "data", 4);
    put32(h + 40, data_bytes);
    int ok = fwrite(h, 1, 44, f) == 44;
    constexpr int64_t CHUNK = 4096;
    unsigned char buf[CHUNK * 4];
    for (int64_t i = 0; ok && i < frames; i += CHUNK) {
        int64_t n = frames - i < CHUNK ? frames - i : CHUNK;
        for (int64_t k = 0; k < n; k++) {
            put16(buf + 4 * k, (uint16_t)left[i + k]);
            put16(buf + 4 * k + 2, (uint16_t)right[i + k]);
        }
        ok = fwrite(buf, 4, (size_t)n, f) == (size_t)n;
    }
    if (!ok) printf("soundtrack: cannot write %s\n", path);
    return ok ? 0 : 1;
}

int soundtrack_encode(FILE* f, const char* path, short* left, short* right, int64_t frames) {
    lame_global_flags* lame = lame_init();
    if (!lame) {
        printf("soundtrack: cannot start the MP3 encoder\n");
        return 1;
    }
    lame_set_in_samplerate(lame, 44100);
    lame_set_out_samplerate(lame, 44100);
    lame_set_num_channels(lame, 2);
    lame_set_mode(lame, JOINT_STEREO);
    lame_set_VBR(lame, vbr_off);
    lame_set_brate(lame, 192);
    lame_set_quality(lame, 5);
    lame_set_bWriteVbrTag(lame, 1);  // the info frame that carries the gapless delay and padding
    if (lame_init_params(lame) < 0) {
        printf("soundtrack: the MP3 encoder refused its settings\n");
        lame_close(lame);
        return 1;
    }
    // 192 kbit/s for 248 s is about 5.95 MB; room for the flush and the worst case per chunk.
    constexpr int64_t CHUNK = 8192;
    size_t cap = (size_t)(frames / 1152 + 64) * 1044 + 2 * CHUNK;
    unsigned char* mp3 = (unsigned char*)malloc(cap);
    if (!mp3) {
        printf("soundtrack: out of memory\n");
        lame_close(lame);
        return 1;
    }
    size_t used = 0;
    int ok = 1;
    for (int64_t i = 0; ok && i < frames; i += CHUNK) {
        int n = (int)(frames - i < CHUNK ? frames - i : CHUNK);
        int w = lame_encode_buffer(lame, left + i, right + i, n, mp3 + used, (int)(cap - used));
        if (w < 0) ok = 0; else used += (size_t)w;
    }
    if (ok) {
        int w = lame_encode_flush(lame, mp3 + used, (int)(cap - used));
        if (w < 0) ok = 0; else used += (size_t)w;
    }
    if (ok) {
        // The encoder wrote a placeholder first frame; replace it with the finished tag.
        unsigned char tag[4096];
        size_t n = lame_get_lametag_frame(lame, tag, sizeof tag);
        if (n == 0 || n > sizeof tag || n > used) ok = 0; else memcpy(mp3, tag, n);
    }
    lame_close(lame);
    if (!ok) {
        printf("soundtrack: MP3 encoding failed\n");
        free(mp3);
        return 1;
    }
    ok = fwrite(mp3, 1, used, f) == used;
    free(mp3);
    if (!ok) printf("soundtrack: cannot write %s\n", path);
    return ok ? 0 : 1;
}

}  // namespace

int soundtrack_write(const char* mp3_path, const char* wav_path) {
    if (!mp3_path) {
        printf("soundtrack: no output file\n");
        return 1;
    }
    // Open the outputs first: a bad path should fail before eight seconds of synthesis.
    FILE* mp3 = fopen(mp3_path, "wb");
    if (!mp3) {
        printf("soundtrack: cannot write %s\n", mp3_path);
        return 1;
    }
    FILE* wav = nullptr;
    if (wav_path) {
        wav = fopen(wav_path, "wb");
        if (!wav) {
            printf("soundtrack: cannot write %s\n", wav_path);
            fclose(mp3);
            remove(mp3_path);
            return 1;
        }
    }
    int result = 1;
    MusicTrack* track = music_render();
    short* pcm = track ? (short*)malloc(sizeof(short) * 2 * (size_t)track->frames) : nullptr;
    if (track && !pcm) printf("soundtrack: out of memory\n");
    if (pcm) {
        int64_t frames = track->frames;
        short* left = pcm;
        short* right = pcm + frames;
        if (soundtrack_quantise(track, left, right)) {
            printf("soundtrack: the mix reaches full scale\n");
        } else {
            result = wav ? soundtrack_write_wav(wav, wav_path, left, right, frames) : 0;
            if (result == 0) result = soundtrack_encode(mp3, mp3_path, left, right, frames);
        }
    }
    free(pcm);
    music_track_free(track);
    if (wav && fclose(wav) != 0 && result == 0) {
        printf("soundtrack: cannot write %s\n", wav_path);
        result = 1;
    }
    if (fclose(mp3) != 0 && result == 0) {
        printf("soundtrack: cannot write %s\n", mp3_path);
        result = 1;
    }
    if (result != 0) {
        // No half-written track left behind for the show to trip over.
        remove(mp3_path);
        if (wav_path) remove(wav_path);
    }
    return result;
}
