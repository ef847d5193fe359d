#include "runtime/audio.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <random>
#include <thread>
#include <vector>

#include "runtime/audio_fixture.h"

namespace {

AudioStream* stream_of(const std::vector<int16_t>& pcm, int channels, int rate) {
    return audio_stream_from_pcm(pcm.data(), (int64_t)(pcm.size() / (size_t)channels), rate, channels);
}

}  // namespace

// ---------------------------------------------------------------------------------------------

TEST(Conversion, BytesAndSecondsAreExactAndRoundTrip) {
    std::vector<int16_t> none;
    AudioStream* stereo = audio_stream_from_pcm(nullptr, 0, 44100, 2);
    AudioStream* mono = audio_stream_from_pcm(nullptr, 0, 22050, 1);
    ASSERT_TRUE(stereo && mono);
    EXPECT_EQ(audio_bytes_per_frame(stereo), 4);
    EXPECT_EQ(audio_bytes_per_frame(mono), 2);
    // The full show length at 44.1 kHz: 248 s is exactly 10,936,800 frames.
    EXPECT_EQ(audio_seconds_to_bytes(stereo, 248.0), 10936800LL * 4);
    EXPECT_EQ(audio_bytes_to_seconds(stereo, 10936800LL * 4), 248.0);
    EXPECT_EQ(audio_bytes_to_seconds(mono, 22050LL * 2 * 3), 3.0);
    // A partial frame counts as the frame it lies in.
    EXPECT_EQ(audio_bytes_to_seconds(stereo, 4 * 441 + 3), 0.01);
    // Frame times of a 60 per second renderer land on whole frames, not one short.
    for (int n = 0; n < 60 * 250; n++) ASSERT_EQ(audio_seconds_to_bytes(stereo, n / 60.0), 735LL * n * 4) << n;
    // Every frame survives the trip to seconds and back, far into long tracks.
    std::mt19937_64 random(7);
    for (int i = 0; i < 100000; i++) {
        int64_t frame = (int64_t)(random() % (44100LL * 3600 * 10));
        ASSERT_EQ(audio_seconds_to_bytes(stereo, audio_bytes_to_seconds(stereo, frame * 4)), frame * 4);
    }
    EXPECT_EQ(audio_seconds_to_bytes(stereo, -1.0), 0);
    EXPECT_EQ(audio_seconds_to_bytes(stereo, std::nan("")), 0);
    audio_stream_free(stereo);
    audio_stream_free(mono);
    audio_stream_free(nullptr);
}

TEST(Conversion, FromPcmRejectsBadShapes) {
    int16_t one[2] = {1, 2};
    EXPECT_EQ(audio_stream_from_pcm(one, 1, 44100, 3), nullptr);
    EXPECT_EQ(audio_stream_from_pcm(one, 1, 0, 2), nullptr);
    EXPECT_EQ(audio_stream_from_pcm(nullptr, 5, 44100, 2), nullptr);
    EXPECT_EQ(audio_stream_from_pcm(one, -1, 44100, 2), nullptr);
}

// ---------------------------------------------------------------------------------------------

TEST(Spectrum, BinCentreSineReadsOneInItsBin) {
    const int rate = 44100;
    for (int bin : {1, 2, 10, 100, 300, 511}) {
        double hz = bin * (double)rate / AUDIO_FFT_SIZE;
        std::vector<int16_t> pcm = fixture_sine(8192, 2, rate, hz, 1.0);
        AudioStream* s = stream_of(pcm, 2, rate);
        float out[AUDIO_SPECTRUM_SIZE];
        audio_spectrum_at(s, 4000, out);
        int peak = (int)(std::max_element(out, out + AUDIO_SPECTRUM_SIZE) - out);
        EXPECT_EQ(peak, bin);
        EXPECT_NEAR(out[bin], 1.0, 2e-3) << bin;
        // The Hann window's neighbours read half; bins further out next to nothing.
        if (bin > 1) {
            EXPECT_NEAR(out[bin - 1], 0.5, 2e-3) << bin;
        }
        for (int k = 0; k < AUDIO_SPECTRUM_SIZE; k++) {
            ASSERT_GE(out[k], 0.0f);
            if (std::abs(k - bin) > 3) {
                ASSERT_LT(out[k], 2e-3f) << bin << " " << k;
            }
        }
        audio_stream_free(s);
    }
}

TEST(Spectrum, MonoMixLevelsAndSilenceOutsideTheTrack) {
    const int rate = 44100;
    double hz = 20 * (double)rate / AUDIO_FFT_SIZE;
    // Opposite channels cancel in the mono mix; a mono stream at half level reads half.
    std::vector<int16_t> pcm = fixture_sine(4096, 2, rate, hz, 0.5);
    for (size_t i = 1; i < pcm.size(); i += 2) pcm[i] = (int16_t)-pcm[i];
    AudioStream* cancel = stream_of(pcm, 2, rate);
    std::vector<int16_t> half = fixture_sine(4096, 1, rate, hz, 0.5);
    AudioStream* mono = stream_of(half, 1, rate);
    float out[AUDIO_SPECTRUM_SIZE];
    audio_spectrum_at(cancel, 2048, out);
    EXPECT_LT(*std::max_element(out, out + AUDIO_SPECTRUM_SIZE), 1e-6f);
    audio_spectrum_at(mono, 2048, out);
    EXPECT_NEAR(out[20], 0.5, 1e-3);
    // Far past either end only silence is seen; at the edge half the window is silence.
    audio_spectrum_at(mono, -5000, out);
    EXPECT_EQ(*std::max_element(out, out + AUDIO_SPECTRUM_SIZE), 0.0f);
    audio_spectrum_at(mono, 4096 + 512, out);
    EXPECT_EQ(*std::max_element(out, out + AUDIO_SPECTRUM_SIZE), 0.0f);
    audio_spectrum_at(mono, 4096, out);
    EXPECT_GT(out[20], 0.1f);
    EXPECT_LT(out[20], 0.4f);
    audio_spectrum_at(nullptr, 0, out);
    EXPECT_EQ(*std::max_element(out, out + AUDIO_SPECTRUM_SIZE), 0.0f);
    audio_stream_free(cancel);
    audio_stream_free(mono);
}

TEST(Spectrum, SameFrameGivesTheSameValues) {
    std::mt19937 random(3);
    std::vector<int16_t> noise(20000 * 2);
    for (auto& v : noise) v = (int16_t)(random() & 0xFFFF);
    AudioStream* s = stream_of(noise, 2, 44100);
    float a[AUDIO_SPECTRUM_SIZE], b[AUDIO_SPECTRUM_SIZE], c[AUDIO_SPECTRUM_SIZE];
    audio_spectrum_at(s, 9000, a);
    audio_spectrum_at(s, 15000, c);
    audio_spectrum_at(s, 9000, b);
    EXPECT_EQ(memcmp(a, b, sizeof a), 0);
    EXPECT_NE(memcmp(a, c, sizeof a), 0);
    audio_stream_free(s);
}

// ---------------------------------------------------------------------------------------------
// The smooth position under simulated callback schedules (frames at 44.1 kHz, times in ns).

namespace {

struct ScheduleFigures {
    double worst_step_error_ms = 0;  // |position step - elapsed| over 1 ms reads
    double worst_lag_ms = 0;         // handed minus position
    int backwards = 0;
    int past_handed = 0;
    double final_position = 0;
};

// Callbacks of 1024 frames at period_ms plus uniform jitter; reads every millisecond.
ScheduleFigures run_schedule(double period_ms, double jitter_ms, int callbacks, uint32_t seed,
                             double stall_at_ms = -1, double stall_ms = 0) {
    AudioClock clock;
    audio_clock_reset(&clock, 44100, 0);
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> jitter(-jitter_ms, jitter_ms);
    std::vector<int64_t> times;
    double t = 10.0;
    for (int i = 0; i < callbacks; i++) {
        double at = t + jitter(random);
        if (stall_at_ms >= 0 && t >= stall_at_ms && t < stall_at_ms + period_ms) t += stall_ms, at = t;
        times.push_back((int64_t)(at * 1e6));
        t += period_ms;
    }
    std::sort(times.begin(), times.end());
    ScheduleFigures figures;
    size_t next = 0;
    int64_t handed = 0;
    double previous = audio_clock_read(&clock, 0);
    for (int64_t now = 1000000; now < times.back() + 100000000; now += 1000000) {
        while (next < times.size() && times[next] <= now) {
            audio_clock_handed(&clock, handed, 1024, times[next]);
            handed += 1024;
            next++;
        }
        double p = audio_clock_read(&clock, now);
        if (p < previous) figures.backwards++;
        if (p > (double)handed) figures.past_handed++;
        if (next > 1 && next < times.size() && now > times[0] + 100000000) {
            double step_ms = (p - previous) / 44.1;
            figures.worst_step_error_ms = std::max(figures.worst_step_error_ms, std::abs(step_ms - 1.0));
            figures.worst_lag_ms = std::max(figures.worst_lag_ms, ((double)handed - p) / 44.1);
        }
        previous = p;
    }
    figures.final_position = previous;
    return figures;
}

}  // namespace

TEST(SmoothPosition, RegularCallbacksGiveEvenSteps) {
    ScheduleFigures f = run_schedule(1024 / 44.1, 0.0, 400, 1);
    EXPECT_EQ(f.backwards, 0);
    EXPECT_EQ(f.past_handed, 0);
    EXPECT_LT(f.worst_step_error_ms, 0.01);
    EXPECT_LT(f.worst_lag_ms, 1.5 * 1024 / 44.1 + 0.5);  // the half-buffer margin on top of one buffer
    EXPECT_EQ(f.final_position, 400.0 * 1024);  // all that was handed is reached
}

TEST(SmoothPosition, JitteryAndDriftingDevicesStaySmooth) {
    // A device a little fast or slow against the steady clock, callbacks late or early by ms.
    for (double period : {23.0, 1024 / 44.1, 23.5}) {
        for (double jitter : {1.0, 4.0}) {
            ScheduleFigures f = run_schedule(period, jitter, 600, 11);
            EXPECT_EQ(f.backwards, 0) << period << " " << jitter;
            EXPECT_EQ(f.past_handed, 0) << period << " " << jitter;
            EXPECT_LE(f.worst_step_error_ms, 1.0 + 1e-9) << period << " " << jitter;
            EXPECT_LT(f.worst_lag_ms, 2 * 23.3 + 2 * jitter) << period << " " << jitter;
            EXPECT_EQ(f.final_position, 600.0 * 1024);
        }
    }
}

TEST(SmoothPosition, StallHoldsThenCatchesUpWithoutGoingBack) {
    ScheduleFigures f = run_schedule(1024 / 44.1, 0.5, 300, 5, 2000.0, 400.0);
    EXPECT_EQ(f.backwards, 0);
    EXPECT_EQ(f.past_handed, 0);
    EXPECT_EQ(f.final_position, 300.0 * 1024);
}

TEST(SmoothPosition, WaitsForTheFirstCallbackAndStartsAtTheSeekPoint) {
    AudioClock clock;
    audio_clock_reset(&clock, 44100, 88200);
    EXPECT_EQ(audio_clock_read(&clock, 5000000000LL), 88200.0);
    audio_clock_handed(&clock, 88200, 1024, 6000000000LL);
    EXPECT_EQ(audio_clock_read(&clock, 6000000000LL), 88200.0);
    // The first buffer is played in at half speed, to open the half-buffer margin.
    EXPECT_NEAR(audio_clock_read(&clock, 6010000000LL), 88200.0 + 220.5, 1e-6);
    // A reading taken earlier than the last one (another thread's clock) does not go back.
    EXPECT_NEAR(audio_clock_read(&clock, 6005000000LL), 88200.0 + 220.5, 1e-6);
    EXPECT_EQ(audio_clock_read(&clock, 7000000000LL), 88200.0 + 1024.0);
}

// ---------------------------------------------------------------------------------------------

TEST(Decoding, TaggedFilesDecodeToTheirExactLength) {
    struct Case { int64_t frames; int channels; int rate; };
    for (Case c : {Case{22173, 2, 44100}, Case{44100, 2, 44100}, Case{10001, 1, 22050}, Case{30000, 2, 48000}}) {
        std::vector<int16_t> pcm = fixture_sine(c.frames, c.channels, c.rate, 1000.0, 0.5);
        FixtureFile file("exact.mp3", fixture_encode(pcm, c.channels, c.rate, 1));
        AudioStream* s = audio_stream_open(file.path.c_str());
        ASSERT_NE(s, nullptr) << c.frames;
        EXPECT_EQ(s->frames, c.frames);
        EXPECT_EQ(s->rate, c.rate);
        EXPECT_EQ(s->channels, c.channels);
        // Gapless: the tone starts at the first frame, not after the encoder's delay.
        double early = 0;
        for (int i = 0; i < 20; i++) early = std::max(early, std::abs((double)s->samples[(i + 5) * c.channels]));
        EXPECT_GT(early, 3000.0);
        float out[AUDIO_SPECTRUM_SIZE];
        audio_spectrum_at(s, c.frames / 2, out);
        int peak = (int)(std::max_element(out, out + AUDIO_SPECTRUM_SIZE) - out);
        EXPECT_NEAR(peak, 1000.0 * AUDIO_FFT_SIZE / c.rate, 1.0);
        audio_stream_free(s);
    }
}

TEST(Decoding, BadFilesAreRefused) {
    std::vector<int16_t> pcm = fixture_sine(44100, 2, 44100, 440.0, 0.5);
    std::vector<unsigned char> mp3 = fixture_encode(pcm, 2, 44100, 1);
    std::vector<unsigned char> cut(mp3.begin(), mp3.begin() + (long)mp3.size() / 2);
    std::vector<unsigned char> text(2000, 'q');
    std::mt19937 random(9);
    std::vector<unsigned char> noise(300000);
    for (auto& b : noise) b = (unsigned char)random();
    FixtureFile truncated("cut.mp3", cut), empty("empty.mp3", {}), words("text.mp3", text), junk("noise.mp3", noise);
    EXPECT_EQ(audio_stream_open(truncated.path.c_str()), nullptr);
    EXPECT_EQ(audio_stream_open(empty.path.c_str()), nullptr);
    EXPECT_EQ(audio_stream_open(words.path.c_str()), nullptr);
    EXPECT_EQ(audio_stream_open(junk.path.c_str()), nullptr);
    EXPECT_EQ(audio_stream_open("/tmp/quillet_no_such_track.mp3"), nullptr);
    EXPECT_EQ(audio_stream_open("/tmp"), nullptr);
    EXPECT_EQ(audio_stream_open(nullptr), nullptr);
}

// The fuzz target feeds bytes straight to the decoder; they must decode exactly as the file does.
TEST(Decoding, BytesInMemoryDecodeLikeTheirFile) {
    std::vector<int16_t> pcm = fixture_sine(12345, 2, 32000, 700.0, 0.5);
    std::vector<unsigned char> mp3 = fixture_encode(pcm, 2, 32000, 1);
    FixtureFile file("memory.mp3", mp3);
    AudioStream* from_file = audio_stream_open(file.path.c_str());
    AudioStream* from_bytes = audio_stream_open_memory(mp3.data(), mp3.size());
    ASSERT_NE(from_file, nullptr);
    ASSERT_NE(from_bytes, nullptr);
    ASSERT_EQ(from_bytes->frames, from_file->frames);
    EXPECT_EQ(memcmp(from_bytes->samples, from_file->samples, (size_t)from_file->frames * 4), 0);
    audio_stream_free(from_file);
    audio_stream_free(from_bytes);
    EXPECT_EQ(audio_stream_open_memory(mp3.data(), mp3.size() / 2), nullptr);
    EXPECT_EQ(audio_stream_open_memory(mp3.data(), 0), nullptr);
    EXPECT_EQ(audio_stream_open_memory(nullptr, 10), nullptr);
}

// ---------------------------------------------------------------------------------------------
// The device, on SDL's dummy driver.

TEST(Device, MissingDriverIsReported) {
    const char* saved = getenv("SDL_AUDIODRIVER");
    std::string keep = saved ? saved : "";
    setenv("SDL_AUDIODRIVER", "nonexistent", 1);
    EXPECT_EQ(audio_init(44100), 1);
    if (saved) setenv("SDL_AUDIODRIVER", keep.c_str(), 1); else unsetenv("SDL_AUDIODRIVER");
    // Nothing is left half open: the next open works.
    ASSERT_EQ(audio_init(44100), 0);
    audio_shutdown();
    audio_shutdown();
}

namespace {

struct PlayFigures {
    int reads = 0, backwards = 0;
    double worst_step_error_ms = 0;
    std::vector<double> errors;  // |step - elapsed| of each read, ms
    double seconds = 0;       // real time from play to the end of playing
    int64_t final_bytes = 0;
};

// Plays a stream to its end, reading the position every millisecond.
PlayFigures play_and_watch(AudioStream* s, int64_t start_bytes) {
    PlayFigures f;
    audio_play(s, start_bytes);
    auto begin = std::chrono::steady_clock::now();
    int64_t previous = audio_position_bytes(s);
    auto previous_time = begin;
    while (audio_is_playing(s)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        audio_update();
        int64_t p = audio_position_bytes(s);
        auto now = std::chrono::steady_clock::now();
        if (p < previous) f.backwards++;
        double elapsed_ms = std::chrono::duration<double, std::milli>(now - previous_time).count();
        double step_ms = (double)(p - previous) / audio_bytes_per_frame(s) * 1000.0 / s->rate;
        if (p > previous && previous > start_bytes)  // past the start-up wait for the first callback
        {
            if (std::abs(step_ms - elapsed_ms) > f.worst_step_error_ms && getenv("QUILLET_AUDIO_DEBUG"))
                printf("read %d: elapsed %.3f step %.3f at %.1f ms\n", f.reads, elapsed_ms, step_ms, (double)p / audio_bytes_per_frame(s) / s->rate * 1000);
            f.worst_step_error_ms = std::max(f.worst_step_error_ms, std::abs(step_ms - elapsed_ms));
            f.errors.push_back(std::abs(step_ms - elapsed_ms));
        }
        previous = p;
        previous_time = now;
        f.reads++;
        if (f.reads > 20000) break;
    }
    f.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    f.final_bytes = audio_position_bytes(s);
    return f;
}

}  // namespace

TEST(Device, PlaysToTheEndWithASmoothPosition) {
    ASSERT_EQ(audio_init(44100), 0);
    audio_start();
    std::vector<int16_t> pcm = fixture_sine(44100 * 3 / 4, 2, 44100, 440.0, 0.3);
    AudioStream* s = stream_of(pcm, 2, 44100);
    PlayFigures f = play_and_watch(s, 0);
    std::sort(f.errors.begin(), f.errors.end());
    ASSERT_GT(f.errors.size(), 100u);
    double median = f.errors[f.errors.size() / 2], p99 = f.errors[f.errors.size() * 99 / 100];
    printf("dummy device: %d reads, step error median %.3f ms, 99%% %.3f ms, worst %.3f ms; %.3f s for 0.750 s\n",
           f.reads, median, p99, f.worst_step_error_ms, f.seconds);
    EXPECT_EQ(f.backwards, 0);
    EXPECT_EQ(audio_is_playing(s), 0);
    EXPECT_EQ(f.final_bytes, (int64_t)pcm.size() * 2);
    EXPECT_GT(f.seconds, 0.70);
    EXPECT_LT(f.seconds, 1.5);
    // The reader itself oversleeps on a loaded machine, so only the bulk of the steps is held to 1 ms;
    // the simulated schedules above hold every step.
    EXPECT_LT(median, 0.2);
    EXPECT_LT(f.errors[f.errors.size() * 9 / 10], 1.2);
    // Played out, the position stays at the end.
    EXPECT_EQ(audio_position_bytes(s), f.final_bytes);
    audio_stream_free(s);
    audio_shutdown();
}

TEST(Device, OtherRatesPlayInRealTimeAndSeekingMovesThePosition) {
    ASSERT_EQ(audio_init(44100), 0);
    std::vector<int16_t> pcm = fixture_sine(11025, 1, 22050, 440.0, 0.3);
    AudioStream* s = stream_of(pcm, 1, 22050);
    PlayFigures f = play_and_watch(s, 0);
    EXPECT_EQ(f.backwards, 0);
    EXPECT_EQ(f.final_bytes, 11025 * 2);
    EXPECT_GT(f.seconds, 0.45);
    EXPECT_LT(f.seconds, 1.2);

    // Starting near the end plays only the rest.
    f = play_and_watch(s, 9000 * 2);
    EXPECT_EQ(f.final_bytes, 11025 * 2);
    EXPECT_LT(f.seconds, 0.4);

    // Playing again restarts the position where asked; a stop freezes it.
    audio_play(s, 0);
    audio_play(s, 5000 * 2);
    EXPECT_EQ(audio_position_bytes(s), 5000 * 2);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    audio_stop();
    int64_t stopped = audio_position_bytes(s);
    EXPECT_GE(stopped, 5000 * 2);
    EXPECT_EQ(audio_is_playing(s), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
    EXPECT_EQ(audio_position_bytes(s), stopped);
    // Freeing the playing stream detaches it from the device first.
    audio_play(s, 0);
    audio_stream_free(s);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    audio_shutdown();
}

// ---------------------------------------------------------------------------------------------

TEST(Mixing, SameRateStereoIsCopiedAndEndsWithTheStream) {
    std::vector<int16_t> pcm = {1, -1, 2, -2, 3, -3, 32767, -32768, 5, -5};
    AudioStream* s = stream_of(pcm, 2, 44100);
    int16_t out[2 * 8];
    int64_t device = 0;
    EXPECT_EQ(audio_mix(s, 0, &device, 44100, out, 3), 3);
    EXPECT_EQ(std::vector<int16_t>(out, out + 6), std::vector<int16_t>(pcm.begin(), pcm.begin() + 6));
    EXPECT_EQ(audio_mix(s, 0, &device, 44100, out, 8), 2);  // only two frames were left
    EXPECT_EQ(out[0], 32767);
    EXPECT_EQ(out[1], -32768);
    EXPECT_EQ(device, 5);
    EXPECT_EQ(audio_mix(s, 0, &device, 44100, out, 8), 0);
    device = 0;
    EXPECT_EQ(audio_mix(s, 4, &device, 44100, out, 8), 1);  // from a seek point
    EXPECT_EQ(out[0], 5);
    audio_stream_free(s);
}

TEST(Mixing, HalfRateMonoIsInterpolatedToBothSides) {
    std::vector<int16_t> pcm = {0, 1000, -1000, 32767};
    AudioStream* s = stream_of(pcm, 1, 22050);
    int16_t out[2 * 16];
    int64_t device = 0;
    int written = audio_mix(s, 0, &device, 44100, out, 16);
    // Each source frame and the midpoint to the next; the last frame has no successor to lean on.
    std::vector<int16_t> expected = {0, 500, 1000, 0, -1000, 15883, 32767, 32767};
    ASSERT_EQ(written, 8);
    for (int i = 0; i < written; i++) {
        EXPECT_EQ(out[2 * i], expected[i]) << i;
        EXPECT_EQ(out[2 * i + 1], expected[i]) << i;
    }
    // Three device frames per two source frames at 29,400 Hz: fractions of a third.
    device = 0;
    AudioStream* r = stream_of(std::vector<int16_t>{0, 300, 600, 900}, 1, 29400);
    EXPECT_EQ(audio_mix(r, 0, &device, 44100, out, 16), 6);
    EXPECT_EQ(out[2], 200);
    EXPECT_EQ(out[4], 400);
    EXPECT_EQ(out[6], 600);
    audio_stream_free(s);
    audio_stream_free(r);
}
