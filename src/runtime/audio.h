// The audio layer: one output device, MP3 tracks decoded whole into memory, one stream playing at a
// time, a smooth play position and a spectrum of what is playing. The platform libraries (the SDL
// audio callback, libmpg123, kissfft) stay inside audio.cpp; the rest of the program sees this.
//
// Tracks. audio_stream_open decodes the whole file at once (gapless, after a full scan), so the length
// and every position are exact and a broken file is refused at open, never during playback. Samples
// are interleaved signed 16-bit at the file's own rate and channel count; positions are counted in
// bytes of that layout (frames x channels x 2) and seconds = frames / rate exactly.
//
// Playback. The device runs at a fixed rate, 16-bit stereo, and pulls samples from the playing stream
// in SDL's audio thread (mono is duplicated, another rate is resampled linearly). The play position is
// the smooth position of AudioClock below: it advances with the steady clock between callbacks, never
// backwards and never past what has been handed to the device.
//
// Spectrum. 512 magnitudes, lowest frequency first: bins 0..511 of a 1024-sample real FFT of the mono
// mix (L + R) / 2 scaled to [-1, 1], over a periodic Hann window centred on the position (samples
// outside the track count as silence). Magnitudes are scaled by 4 / 1024, so a full-scale sine at a
// bin centre reads 1.0 in that bin (a constant level A reads 2A in bin 0). Live playback and
// audio_spectrum_at share one computation, so the same frame always gives the same 512 values.
//
// Threads: every operation is called from one thread (the main thread); the device's callback takes
// a lock of its own. Failures are results: 0/1 or null; release operations accept null.
#pragma once
#include <cstddef>
#include <cstdint>

constexpr int AUDIO_SPECTRUM_SIZE = 512;
constexpr int AUDIO_FFT_SIZE = 1024;
// 256 MB: hours of any MP3 bit rate; a bigger "track" is not one.
constexpr size_t AUDIO_MAX_FILE_SIZE = size_t(256) << 20;

// A decoded track: one allocation, the samples after the header.
struct AudioStream {
    int64_t frames;    // exact length in frames
    int rate;          // frames per second
    int channels;      // 1 or 2
    int16_t* samples;  // frames x channels interleaved, points just after the header
};

// Opens the default output device at this rate (16-bit stereo) and its callback, paused. 0 on
// success; 1 when there is no usable device. Calling it again while open does nothing and returns 0.
int audio_init(int rate);
void audio_start(void);        // lets the device run (silence until a stream plays)
void audio_stop(void);         // stops the playing stream and pauses the device
void audio_shutdown(void);     // closes the device; harmless when it is not open

// Decodes a whole MP3 file (the name is opened with path_fopen). Null for a missing, empty,
// truncated (when the file says its length), non-MPEG or larger than AUDIO_MAX_FILE_SIZE file;
// nothing is printed.
AudioStream* audio_stream_open(const char* path);
// The same decode from bytes in memory (the file's whole content); the bytes are not kept.
AudioStream* audio_stream_open_memory(const uint8_t* data, size_t size);
// A stream made from samples already in memory (copied); null for bad arguments.
AudioStream* audio_stream_from_pcm(const int16_t* samples, int64_t frames, int rate, int channels);
void audio_stream_free(AudioStream* stream);  // stops it first when it is playing

int audio_bytes_per_frame(const AudioStream* stream);
double audio_bytes_to_seconds(const AudioStream* stream, int64_t bytes);    // frames / rate
int64_t audio_seconds_to_bytes(const AudioStream* stream, double seconds);  // nearest frame, clamped at 0

// Plays the stream from the given byte position (rounded down to a frame, clamped to the length);
// whatever played before stops. The device must be open; it is started if it is not running.
void audio_play(AudioStream* stream, int64_t start_bytes);
// 1 while the stream plays: from audio_play until the smooth position reaches its end (so the last
// buffer has been heard) or audio_stop; 0 otherwise.
int audio_is_playing(AudioStream* stream);
// The smooth play position in bytes (a whole frame); 0 for a stream that never played.
int64_t audio_position_bytes(AudioStream* stream);
// Once per frame from the main thread: notes the end of a stream that has played out.
void audio_update(void);

// What the device callback does: fills out with up to count stereo device frames of the stream,
// starting at device frame *device_frames counted from stream frame base (advanced as it goes);
// another stream rate is interpolated linearly, mono goes to both sides. Returns the frames written,
// fewer than count at the end of the stream.
int audio_mix(const AudioStream* stream, int64_t base, int64_t* device_frames, int device_rate, int16_t* out,
              int count);

// The spectrum around a frame of a stream (see the top of this file); out holds 512 floats.
void audio_spectrum_at(const AudioStream* stream, int64_t frame, float* out);

// The smooth position, kept apart from the device so it can be driven by a simulated schedule. Each
// callback reports the frames it hands over and when; reads between callbacks extrapolate with the
// steady clock at a speed chosen so that the position is half a buffer short of the handed frames
// when the next callback is due (speed clamped to [0.5, 2]; a lag of more than 100 ms is closed at
// once). The half buffer absorbs late callbacks; a buffer shorter than the others ends the stream and
// plays out at real time. Reads never go back and never pass the handed frames.
// Times are steady-clock nanoseconds.
struct AudioClock {
    double rate;         // frames per second of the stream
    int64_t handed;      // end of the frames handed to the device
    double anchor;       // position at anchor_ns
    int64_t anchor_ns;
    double speed;        // position frames per real frame since the anchor
    double last;         // last value read
    int started;         // 1 after the first callback
    int block;           // largest callback seen, in frames
};
void audio_clock_reset(AudioClock* clock, int rate, int64_t frame);
void audio_clock_handed(AudioClock* clock, int64_t start, int frames, int64_t now_ns);
double audio_clock_read(AudioClock* clock, int64_t now_ns);  // position in frames
int64_t audio_clock_now_ns(void);                              // the steady clock
