#include "runtime/audio.h"

#include <SDL.h>
#include <kiss_fftr.h>
#include <mpg123.h>

#include <chrono>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#if __EMSCRIPTEN__
#include <emscripten.h>
#endif

#include "gfx/path.h"

// ---------------------------------------------------------------------------------------------
// Smooth position

int64_t audio_clock_now_ns(void) {
    using namespace std::chrono;
    return duration_cast<nanoseconds>(steady_clock::now().time_since_epoch()).count();
}

void audio_clock_reset(AudioClock* clock, int rate, int64_t frame) {
    clock->rate = (double)rate;
    clock->handed = frame;
    clock->anchor = (double)frame;
    clock->anchor_ns = 0;
    clock->speed = 1.0;
    clock->last = (double)frame;
    clock->started = 0;
    clock->block = 0;
}

// The unclamped-by-history estimate: extrapolated from the anchor, never past the handed frames.
static double audio_clock_estimate(const AudioClock* clock, int64_t now_ns) {
    if (!clock->started) return clock->anchor;
    double elapsed = (double)(now_ns - clock->anchor_ns) * 1e-9;
    if (elapsed < 0.0) elapsed = 0.0;
    double position = clock->anchor + elapsed * clock->rate * clock->speed;
    if (position > (double)clock->handed) position = (double)clock->handed;
    return position;
}

void audio_clock_handed(AudioClock* clock, int64_t start, int frames, int64_t now_ns) {
    if (frames <= 0) return;
    // Aim to be half a buffer short of the handed frames when the next callback is due, so a late
    // callback of up to half a buffer does not stall the position (the listener hears it later anyway).
    double target = (double)(start + frames) - (double)frames * 0.5;
    double position = (double)start;
    if (clock->started) {
        position = audio_clock_estimate(clock, now_ns);
        if (position < clock->last) position = clock->last;
        // More than 100 ms behind means the device jumped (a stall or a burst of pre-fills): catch up
        // at once rather than race for seconds.
        if (target - position > clock->rate * 0.1) position = target - (double)frames;
    }
    double speed = (target - position) / (double)frames;
    // A short buffer is the end of the stream: nothing follows, so run on at real time to its end.
    if (frames < clock->block) speed = 1.0;
    if (frames > clock->block) clock->block = frames;
    clock->speed = speed < 0.5 ? 0.5 : speed > 2.0 ? 2.0 : speed;
    clock->anchor = position;
    clock->anchor_ns = now_ns;
    clock->handed = start + frames;
    clock->started = 1;
}

double audio_clock_read(AudioClock* clock, int64_t now_ns) {
    double position = audio_clock_estimate(clock, now_ns);
    if (position < clock->last) position = clock->last;
    clock->last = position;
    return position;
}

// ---------------------------------------------------------------------------------------------
// Streams

static AudioStream* audio_stream_alloc(int64_t frames, int rate, int channels) {
    size_t bytes = sizeof(AudioStream) + (size_t)frames * (size_t)channels * sizeof(int16_t);
    AudioStream* stream = (AudioStream*)malloc(bytes);
    if (!stream) return nullptr;
    stream->frames = frames;
    stream->rate = rate;
    stream->channels = channels;
    stream->samples = (int16_t*)(stream + 1);
    return stream;
}

AudioStream* audio_stream_from_pcm(const int16_t* samples, int64_t frames, int rate, int channels) {
    if (frames < 0 || (frames > 0 && !samples) || rate <= 0 || (channels != 1 && channels != 2))
        return nullptr;
    AudioStream* stream = audio_stream_alloc(frames, rate, channels);
    if (!stream) return nullptr;
    if (frames > 0) memcpy(stream->samples, samples, (size_t)frames * (size_t)channels * sizeof(int16_t));
    return stream;
}

static AudioStream* audio_decode(mpg123_handle* handle) {
    // Only signed 16-bit output at the stream's own rate, so nothing is resampled while decoding.
    mpg123_format_none(handle);
    const long* rates = nullptr;
    size_t rate_count = 0;
    mpg123_rates(&rates, &rate_count);
    for (size_t i = 0; i < rate_count; i++)
        mpg123_format(handle, rates[i], MPG123_MONO | MPG123_STEREO, MPG123_ENC_SIGNED_16);
    long rate = 0;
    int channels = 0, encoding = 0;
    if (mpg123_getformat(handle, &rate, &channels, &encoding) != MPG123_OK) return nullptr;
    if (encoding != MPG123_ENC_SIGNED_16 || (channels != 1 && channels != 2) || rate <= 0) return nullptr;

    // A file that carries an encoder tag knows its frame count: a scan that finds fewer was cut short.
    long encoder_delay = -1;
    mpg123_getstate(handle, MPG123_ENC_DELAY, &encoder_delay, nullptr);
    off_t announced = mpg123_framelength(handle);
    if (mpg123_scan(handle) != MPG123_OK) return nullptr;
    off_t scanned = mpg123_framelength(handle);
    if (encoder_delay >= 0 && announced > 0 && scanned < announced) return nullptr;
    off_t length = mpg123_length(handle);
    if (length <= 0 || scanned <= 0) return nullptr;

    int64_t capacity = (int64_t)length;
    AudioStream* stream = audio_stream_alloc(capacity, (int)rate, channels);
    if (!stream) return nullptr;
    size_t frame_bytes = (size_t)channels * sizeof(int16_t);
    int64_t decoded = 0;
    for (;;) {
        if (decoded == capacity) {
            // The scan's length is exact for sound files; grow only for a stream that disagrees.
            int64_t grown = capacity + capacity / 2 + 4096;
            AudioStream* bigger = (AudioStream*)realloc(stream, sizeof(AudioStream) + (size_t)grown * frame_bytes);
            if (!bigger) { free(stream); return nullptr; }
            stream = bigger;
            stream->samples = (int16_t*)(stream + 1);
            capacity = grown;
        }
        size_t done = 0;
        int result = mpg123_read(handle, (unsigned char*)(stream->samples + decoded * channels),
                                 (size_t)(capacity - decoded) * frame_bytes, &done);
        decoded += (int64_t)(done / frame_bytes);
        if (result == MPG123_DONE) break;
        if (result == MPG123_NEW_FORMAT) {
            long r2 = 0;
            int c2 = 0, e2 = 0;
            mpg123_getformat(handle, &r2, &c2, &e2);
            if (r2 != rate || c2 != channels || e2 != encoding) { free(stream); return nullptr; }
            continue;
        }
        if (result != MPG123_OK) { free(stream); return nullptr; }
    }
    if (decoded <= 0) { free(stream); return nullptr; }
    stream->frames = decoded;
    return stream;
}

// The decoder reads the track from memory: one decode path for files and for bytes handed over.
struct AudioMemory {
    const uint8_t* data;
    size_t size;
    size_t pos;
};

static mpg123_ssize_t audio_memory_read(void* handle, void* out, size_t count) {
    AudioMemory* m = (AudioMemory*)handle;
    size_t left = m->size - m->pos;
    if (count > left) count = left;
    if (count) memcpy(out, m->data + m->pos, count);
    m->pos += count;
    return (mpg123_ssize_t)count;
}

static off_t audio_memory_seek(void* handle, off_t offset, int whence) {
    AudioMemory* m = (AudioMemory*)handle;
    int64_t base = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? (int64_t)m->pos : (int64_t)m->size;
    if (whence != SEEK_SET && whence != SEEK_CUR && whence != SEEK_END) return -1;
    int64_t target = base + (int64_t)offset;
    if (target < 0 || target > (int64_t)m->size) return -1;
    m->pos = (size_t)target;
    return (off_t)target;
}

AudioStream* audio_stream_open_memory(const uint8_t* data, size_t size) {
    if (!data || size == 0) return nullptr;
    static std::once_flag library_ready;
    std::call_once(library_ready, [] { mpg123_init(); });
    // The plain C decoder, not the fastest one for the processor: the processor-specific decoders
    // round a few samples differently, and the spectrum the pictures follow must not depend on the
    // machine. A library built without it still plays with its own default.
    int error = 0;
    mpg123_handle* handle = mpg123_new("generic", &error);
    if (!handle) handle = mpg123_new(nullptr, &error);
    if (!handle) return nullptr;
    mpg123_param(handle, MPG123_FLAGS, MPG123_GAPLESS | MPG123_QUIET, 0.0);
    AudioMemory memory = {data, size, 0};
    AudioStream* stream = nullptr;
    if (mpg123_replace_reader_handle(handle, audio_memory_read, audio_memory_seek, nullptr) == MPG123_OK &&
        mpg123_open_handle(handle, &memory) == MPG123_OK) {
        stream = audio_decode(handle);
        mpg123_close(handle);
    }
    mpg123_delete(handle);
    return stream;
}

AudioStream* audio_stream_open(const char* path) {
    if (!path) return nullptr;
    FILE* file = path_fopen(path, "rb");
    if (!file) return nullptr;
    uint8_t* data = nullptr;
    size_t size = 0, capacity = 0;
    int failed = 0;
    for (;;) {
        if (size == capacity) {
            if (capacity >= AUDIO_MAX_FILE_SIZE) { failed = 1; break; }
            size_t grown = capacity ? capacity * 2 : (size_t)1 << 20;
            if (grown > AUDIO_MAX_FILE_SIZE) grown = AUDIO_MAX_FILE_SIZE;
            uint8_t* p = (uint8_t*)realloc(data, grown);
            if (!p) { failed = 1; break; }
            data = p;
            capacity = grown;
        }
        size_t n = fread(data + size, 1, capacity - size, file);
        size += n;
        if (n == 0) {
            failed = ferror(file) != 0;
            break;
        }
    }
    fclose(file);
    AudioStream* stream = failed ? nullptr : audio_stream_open_memory(data, size);
    free(data);
    return stream;
}

int audio_bytes_per_frame(const AudioStream* stream) { return stream ? stream->channels * 2 : 4; }

double audio_bytes_to_seconds(const AudioStream* stream, int64_t bytes) {
    if (!stream) return 0.0;
    return (double)(bytes / audio_bytes_per_frame(stream)) / (double)stream->rate;
}

int64_t audio_seconds_to_bytes(const AudioStream* stream, double seconds) {
    if (!stream || !(seconds > 0.0)) return 0;
    double frames = std::round(seconds * (double)stream->rate);
    if (frames > (double)(INT64_MAX / 8)) frames = (double)(INT64_MAX / 8);
    return (int64_t)frames * audio_bytes_per_frame(stream);
}

// ---------------------------------------------------------------------------------------------
// Spectrum

static kiss_fftr_cfg audio_fft;
static float audio_window[AUDIO_FFT_SIZE];
static kiss_fft_scalar audio_fft_in[AUDIO_FFT_SIZE];
static kiss_fft_cpx audio_fft_out[AUDIO_FFT_SIZE / 2 + 1];

void audio_spectrum_at(const AudioStream* stream, int64_t frame, float* out) {
    if (!audio_fft) {
        audio_fft = kiss_fftr_alloc(AUDIO_FFT_SIZE, 0, nullptr, nullptr);
        for (int i = 0; i < AUDIO_FFT_SIZE; i++)
            audio_window[i] = (float)(0.5 - 0.5 * std::cos(2.0 * M_PI * (double)i / (double)AUDIO_FFT_SIZE));
    }
    if (!audio_fft || !stream) {
        for (int i = 0; i < AUDIO_SPECTRUM_SIZE; i++) out[i] = 0.0f;
        return;
    }
    int64_t first = frame - AUDIO_FFT_SIZE / 2;
    for (int i = 0; i < AUDIO_FFT_SIZE; i++) {
        int64_t f = first + i;
        float mono = 0.0f;
        if (f >= 0 && f < stream->frames) {
            const int16_t* s = stream->samples + f * stream->channels;
            mono = stream->channels == 2 ? ((float)s[0] + (float)s[1]) * (0.5f / 32768.0f) : (float)s[0] * (1.0f / 32768.0f);
        }
        audio_fft_in[i] = mono * audio_window[i];
    }
    kiss_fftr(audio_fft, audio_fft_in, audio_fft_out);
    const float scale = 4.0f / (float)AUDIO_FFT_SIZE;
    for (int i = 0; i < AUDIO_SPECTRUM_SIZE; i++) {
        float re = audio_fft_out[i].r, im = audio_fft_out[i].i;
        out[i] = std::sqrt(re * re + im * im) * scale;
    }
}

// ---------------------------------------------------------------------------------------------
// The device

struct AudioDevice {
    std::mutex lock;          // held by the callback while it hands samples over
    int open;
    int rate;
    AudioStream* stream;      // the stream being played (or last played), null for none
    int playing;              // 1 from audio_play until the end is heard or audio_stop
    int finished;             // every frame of the stream has been handed over
    int64_t base;             // stream frame where playback began
    int64_t device_frames;    // device frames produced since base
    int64_t next;             // next stream frame to hand over
    int64_t frozen;           // position after a stop
    AudioClock clock;
};

static AudioDevice audio_device;

#if __EMSCRIPTEN__
// In the page, each buffer the callback fills is scheduled on the audio context's clock 0.15-0.18 s
// ahead of what is heard, so the play position comes from that clock and the buffers' start times,
// not from when the callback ran.
struct AudioWebBuffer {
    double start_time;  // audio-context seconds at which its first frame is heard
    int64_t first;      // stream frame of its first frame
    int frames;
};
enum { AUDIO_WEB_BUFFERS = 16 };
static AudioWebBuffer audio_web_buffers[AUDIO_WEB_BUFFERS];
static int audio_web_count;  // buffers noted since the last placement (the ring keeps the latest)

// When a buffer handed over now will start: after the queued ones, never sooner than SDL's
// buffering delay from now.
EM_JS(double, audio_web_next_start, (), {
    if (typeof SDL == "undefined" || !SDL.audio || !SDL.audioContext) return -1;
    return Math.max(SDL.audioContext.currentTime + SDL.audio.bufferingDelay, SDL.audio.nextPlayTime);
});
EM_JS(double, audio_web_now, (), {
    if (typeof SDL == "undefined" || !SDL.audioContext) return -1;
    return SDL.audioContext.currentTime;
});

static void audio_web_note(int64_t first, int frames) {
    double start = audio_web_next_start();
    if (start < 0.0 || frames <= 0) return;
    audio_web_buffers[audio_web_count % AUDIO_WEB_BUFFERS] = {start, first, frames};
    audio_web_count++;
}

// The frame being heard now: inside the latest buffer that has started, the start of the first
// buffer before any has, never backwards.
static double audio_web_read(AudioClock* clock) {
    double now = audio_web_now();
    int n = audio_web_count < AUDIO_WEB_BUFFERS ? audio_web_count : AUDIO_WEB_BUFFERS;
    double position = clock->last;
    for (int k = 0; k < n; k++) {
        const AudioWebBuffer* b = &audio_web_buffers[(audio_web_count - 1 - k) % AUDIO_WEB_BUFFERS];
        if (now < b->start_time && k + 1 < n) continue;
        double into = (now - b->start_time) * clock->rate;
        into = into < 0.0 ? 0.0 : into > (double)b->frames ? (double)b->frames : into;
        position = (double)b->first + into;
        break;
    }
    if (position < clock->last) position = clock->last;
    clock->last = position;
    return position;
}
#endif

// The position now: the device's own clock in the page, the smoothed callback schedule elsewhere.
static double audio_device_read(AudioDevice* d) {
#if __EMSCRIPTEN__
    return audio_web_read(&d->clock);
#else
    return audio_clock_read(&d->clock, audio_clock_now_ns());
#endif
}

int audio_mix(const AudioStream* stream, int64_t base, int64_t* device_frames, int device_rate, int16_t* out,
              int count) {
    int i = 0;
    for (; i < count; i++) {
        // The stream frame under this device frame, as a whole frame and a fraction over device_rate.
        int64_t scaled = (*device_frames) * (int64_t)stream->rate;
        int64_t whole = base + scaled / device_rate, part = scaled % device_rate;
        if (whole >= stream->frames) break;
        int64_t after = whole + 1 < stream->frames ? whole + 1 : whole;
        const int16_t* a = stream->samples + whole * stream->channels;
        const int16_t* b = stream->samples + after * stream->channels;
        int left = a[0] + (int)(((int64_t)(b[0] - a[0]) * part) / device_rate);
        int right = left;
        if (stream->channels == 2) right = a[1] + (int)(((int64_t)(b[1] - a[1]) * part) / device_rate);
        out[2 * i] = (int16_t)left;
        out[2 * i + 1] = (int16_t)right;
        (*device_frames)++;
    }
    return i;
}

static void audio_callback(void*, Uint8* bytes, int length) {
    int64_t now = audio_clock_now_ns();
    int16_t* out = (int16_t*)bytes;
    int count = length / 4;
    std::lock_guard<std::mutex> guard(audio_device.lock);
    AudioDevice* d = &audio_device;
    AudioStream* s = d->stream;
    int written = 0;
    if (s && d->playing && !d->finished) {
        int64_t start = d->next;
        written = audio_mix(s, d->base, &d->device_frames, d->rate, out, count);
        int64_t scaled = d->device_frames * (int64_t)s->rate;
        int64_t next = d->base + scaled / d->rate;
        d->next = next < s->frames ? next : s->frames;
        audio_clock_handed(&d->clock, start, (int)(d->next - start), now);
#if __EMSCRIPTEN__
        audio_web_note(start, (int)(d->next - start));
#endif
        if (written < count || d->next >= s->frames) d->finished = 1;
    }
    if (written < count) memset(out + 2 * written, 0, (size_t)(count - written) * 4);
}

int audio_init(int rate) {
    if (audio_device.open) return 0;
    if (rate <= 0) return 1;
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) < 0) return 1;
    SDL_AudioSpec want;
    memset(&want, 0, sizeof want);
    want.freq = rate;
    want.format = AUDIO_S16SYS;
    want.channels = 2;
    want.samples = 1024;
    want.callback = audio_callback;
    {
        // Set before the device's thread exists: its callback reads them from its first call.
        std::lock_guard<std::mutex> guard(audio_device.lock);
        audio_device.rate = rate;
        audio_device.stream = nullptr;
        audio_device.playing = 0;
    }
    // No "obtained" spec: SDL converts to whatever the hardware takes, so this format always holds.
    if (SDL_OpenAudio(&want, nullptr) < 0) {
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
        return 1;
    }
    audio_device.open = 1;
    return 0;
}

void audio_start(void) {
    if (audio_device.open) SDL_PauseAudio(0);
}

static double audio_position_locked(AudioDevice* d) {
    if (!d->playing) return (double)d->frozen;
    return audio_device_read(d);
}

void audio_stop(void) {
    if (!audio_device.open) return;
    {
        std::lock_guard<std::mutex> guard(audio_device.lock);
        if (audio_device.playing) audio_device.frozen = (int64_t)audio_position_locked(&audio_device);
        audio_device.playing = 0;
    }
    SDL_PauseAudio(1);
}

void audio_shutdown(void) {
    if (!audio_device.open) return;
    SDL_CloseAudio();  // waits for the callback thread
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
    audio_device.open = 0;
    audio_device.stream = nullptr;
    audio_device.playing = 0;
}

void audio_stream_free(AudioStream* stream) {
    if (!stream) return;
    if (audio_device.stream == stream) {
        std::lock_guard<std::mutex> guard(audio_device.lock);
        audio_device.stream = nullptr;
        audio_device.playing = 0;
    }
    free(stream);
}

// Puts the device at a stream frame; the caller holds the lock.
static void audio_place(AudioDevice* d, AudioStream* s, int64_t bytes) {
    int64_t frame = bytes > 0 ? bytes / audio_bytes_per_frame(s) : 0;
    if (frame > s->frames) frame = s->frames;
    d->base = frame;
    d->next = frame;
    d->device_frames = 0;
    d->frozen = frame;
    d->finished = frame >= s->frames;
    audio_clock_reset(&d->clock, s->rate, frame);
#if __EMSCRIPTEN__
    audio_web_count = 0;
#endif
}

void audio_play(AudioStream* stream, int64_t start_bytes) {
    if (!stream || !audio_device.open) return;
    {
        std::lock_guard<std::mutex> guard(audio_device.lock);
        audio_device.stream = stream;
        audio_place(&audio_device, stream, start_bytes);
        audio_device.playing = 1;
    }
    SDL_PauseAudio(0);
}

// Ends a stream whose last frame has been heard; the caller holds the lock.
static void audio_check_end(AudioDevice* d) {
    if (!d->playing || !d->finished) return;
    double position = audio_device_read(d);
    if (position >= (double)d->stream->frames) {
        d->playing = 0;
        d->frozen = d->stream->frames;
    }
}

int audio_is_playing(AudioStream* stream) {
    if (!stream || audio_device.stream != stream) return 0;
    std::lock_guard<std::mutex> guard(audio_device.lock);
    audio_check_end(&audio_device);
    return audio_device.playing;
}

int64_t audio_position_bytes(AudioStream* stream) {
    if (!stream || audio_device.stream != stream) return 0;
    std::lock_guard<std::mutex> guard(audio_device.lock);
    audio_check_end(&audio_device);
    return (int64_t)audio_position_locked(&audio_device) * audio_bytes_per_frame(stream);
}

void audio_update(void) {
    if (!audio_device.stream) return;
    std::lock_guard<std::mutex> guard(audio_device.lock);
    audio_check_end(&audio_device);
}
