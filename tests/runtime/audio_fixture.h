// Short MP3 files for the audio and music tests, encoded on the spot with LAME.
#pragma once
#include <lame/lame.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include <unistd.h>

// A sine of the given frequency and amplitude (0..1), frames long.
inline std::vector<int16_t> fixture_sine(int64_t frames, int channels, int rate, double hz, double amplitude) {
    std::vector<int16_t> pcm((size_t)(frames * channels));
    for (int64_t i = 0; i < frames; i++) {
        double v = amplitude * 32767.0 * std::sin(2.0 * M_PI * hz * (double)i / (double)rate);
        for (int c = 0; c < channels; c++) pcm[(size_t)(i * channels + c)] = (int16_t)std::lround(v);
    }
    return pcm;
}

// Encodes interleaved samples; with tag, the encoder's Info frame (length and gapless data) leads.
inline std::vector<unsigned char> fixture_encode(const std::vector<int16_t>& pcm, int channels, int rate, int tag) {
    lame_global_flags* g = lame_init();
    lame_set_in_samplerate(g, rate);
    lame_set_out_samplerate(g, rate);
    lame_set_num_channels(g, channels);
    lame_set_mode(g, channels == 1 ? MONO : JOINT_STEREO);
    lame_set_brate(g, 128);
    lame_set_bWriteVbrTag(g, tag);
    lame_set_quality(g, 5);
    lame_init_params(g);
    int frames = (int)(pcm.size() / (size_t)channels);
    std::vector<unsigned char> out((size_t)frames * 2 + 65536);
    int length = channels == 1
                     ? lame_encode_buffer(g, pcm.data(), nullptr, frames, out.data(), (int)out.size())
                     : lame_encode_buffer_interleaved(g, const_cast<short*>(pcm.data()), frames, out.data(), (int)out.size());
    length += lame_encode_flush(g, out.data() + length, (int)out.size() - length);
    out.resize((size_t)length);
    if (tag) {
        unsigned char frame[8192];
        size_t n = lame_get_lametag_frame(g, frame, sizeof frame);
        for (size_t i = 0; i < n && i < out.size(); i++) out[i] = frame[i];
    }
    lame_close(g);
    return out;
}

// A file in the temporary folder, removed at scope end.
struct FixtureFile {
    std::string path;
    FixtureFile(const std::string& name, const std::vector<unsigned char>& bytes) {
        path = "/tmp/quillet_audio_" + std::to_string((long)getpid()) + "_" + name;
        FILE* f = fopen(path.c_str(), "wb");
        if (f) {
            if (!bytes.empty()) fwrite(bytes.data(), 1, bytes.size(), f);
            fclose(f);
        }
    }
    ~FixtureFile() { remove(path.c_str()); }
};
