// libFuzzer target for the music decode: every input is handed to the audio layer as the whole
// content of a track; it must give a stream or null without crashing, leaking or reading out of
// bounds, and a stream must be as long as its samples say. The seeds are the committed corpus
// (short tracks of every layout the encoder writes); `--write-seeds DIR` adds nothing.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "runtime/audio.h"

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    if (*argc >= 3 && strcmp((*argv)[1], "--write-seeds") == 0) exit(0);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    AudioStream* stream = audio_stream_open_memory(data, size);
    if (stream) {
        if (stream->frames <= 0 || stream->rate <= 0 || (stream->channels != 1 && stream->channels != 2))
            abort();
        // Touch the last sample and one spectrum, so a short buffer shows up under the sanitizer.
        volatile int16_t last = stream->samples[stream->frames * stream->channels - 1];
        (void)last;
        float spectrum[AUDIO_SPECTRUM_SIZE];
        audio_spectrum_at(stream, stream->frames - 1, spectrum);
    }
    audio_stream_free(stream);
    return 0;
}
