// The soundtrack as the show receives it: the MP3 decoded by libmpg123 with gapless decoding on,
// checked for length, timing, headroom, the intro's bass pulse, the breakdown and the levels.
#include "assets/music.h"
#include "assets/soundtrack.h"

#include <gtest/gtest.h>
#include <mpg123.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace {

constexpr int64_t FRAMES = 10936800;
constexpr int BEAT = 25200;

struct Decoded {
    long rate = 0;
    int channels = 0;
    std::vector<short> samples;  // interleaved
    int64_t frames() const { return channels ? (int64_t)samples.size() / channels : 0; }
};

std::string out_dir() {
    std::string dir = std::string(QUILLET_BINARY_DIR) + "/test-output";
    mkdir(dir.c_str(), 0755);
    dir += "/soundtrack";
    mkdir(dir.c_str(), 0755);
    return dir;
}

std::vector<unsigned char> read_file(const std::string& path) {
    std::vector<unsigned char> bytes;
    FILE* f = fopen(path.c_str(), "rb");
    if (!f) return bytes;
    unsigned char buf[65536];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0) bytes.insert(bytes.end(), buf, buf + n);
    fclose(f);
    return bytes;
}

Decoded decode(const std::string& path) {
    Decoded d;
    mpg123_init();
    int err = 0;
    mpg123_handle* h = mpg123_new(nullptr, &err);
    if (!h) return d;
    mpg123_param(h, MPG123_FLAGS, MPG123_GAPLESS | MPG123_QUIET, 0.0);
    mpg123_format_none(h);
    mpg123_format(h, 44100, MPG123_STEREO, MPG123_ENC_SIGNED_16);
    if (mpg123_open(h, path.c_str()) == MPG123_OK) {
        int enc = 0;
        mpg123_getformat(h, &d.rate, &d.channels, &enc);
        std::vector<unsigned char> buf(1 << 16);
        for (;;) {
            size_t done = 0;
            int r = mpg123_read(h, buf.data(), buf.size(), &done);
            size_t old = d.samples.size();
            d.samples.resize(old + done / 2);
            memcpy(d.samples.data() + old, buf.data(), done / 2 * 2);
            if (r == MPG123_NEW_FORMAT) mpg123_getformat(h, &d.rate, &d.channels, &enc);
            else if (r != MPG123_OK) break;
        }
        mpg123_close(h);
    }
    mpg123_delete(h);
    return d;
}

// The full track takes seconds to make and decode, so every test of this program shares one
// render: made on first use, kept for the rest of the run.
struct Generated {
    int result = 1;
    std::string mp3, wav;
    Decoded decoded;
    std::vector<short> wav_samples;  // interleaved, from the WAV written next to the MP3
};

const Generated& generated() {
    static const Generated g = [] {
        Generated r;
        std::string dir = out_dir();
        r.mp3 = dir + "/first.mp3";
        r.wav = dir + "/first.wav";
        r.result = soundtrack_write(r.mp3.c_str(), r.wav.c_str());
        if (r.result == 0) {
            r.decoded = decode(r.mp3);
            std::vector<unsigned char> w = read_file(r.wav);
            if (w.size() > 44) {
                r.wav_samples.resize((w.size() - 44) / 2);
                memcpy(r.wav_samples.data(), w.data() + 44, r.wav_samples.size() * 2);
            }
        }
        return r;
    }();
    return g;
}

double mono(const std::vector<short>& s, int64_t frame) {
    return (s[2 * frame] + s[2 * frame + 1]) / 65536.0;
}

// Magnitude of one bin of a 1024-point Hann-windowed spectrum starting at `frame`, as the show's
// bass reading sees it (bin 1 is about 43 Hz).
double bin_magnitude(const std::vector<short>& s, int64_t frame, int bin) {
    const int n = 1024;
    double re = 0, im = 0;
    for (int i = 0; i < n; i++) {
        double w = 0.5 * (1 - std::cos(2 * M_PI * i / n));
        double x = mono(s, frame + i) * w;
        re += x * std::cos(2 * M_PI * bin * i / n);
        im -= x * std::sin(2 * M_PI * bin * i / n);
    }
    return std::sqrt(re * re + im * im);
}

double low_bins(const std::vector<short>& s, int64_t frame) {
    return bin_magnitude(s, frame, 1) + bin_magnitude(s, frame, 2);
}

double rms_db(const std::vector<short>& s, int64_t from, int64_t to) {
    double sum = 0;
    for (int64_t i = 2 * from; i < 2 * to; i++) sum += (double)s[i] * s[i];
    double rms = std::sqrt(sum / (2.0 * (to - from))) / 32768.0;
    return rms > 0 ? 20 * std::log10(rms) : -200.0;
}

// Frequency of the strongest component between lo and hi Hz over `n` frames from `frame`.
double strongest_hz(const std::vector<short>& s, int64_t frame, int n, double lo, double hi) {
    double best = 0, best_hz = 0;
    for (double hz = lo; hz <= hi; hz += 0.5) {
        double re = 0, im = 0;
        for (int i = 0; i < n; i++) {
            double w = 0.5 * (1 - std::cos(2 * M_PI * i / n));
            double ph = 2 * M_PI * hz * i / 44100.0;
            re += mono(s, frame + i) * w * std::cos(ph);
            im -= mono(s, frame + i) * w * std::sin(ph);
        }
        double mag = re * re + im * im;
        if (mag > best) {
            best = mag;
            best_hz = hz;
        }
    }
    return best_hz;
}

}  // namespace

TEST(SoundtrackFile, DecodesToExactlyTheShowsLength) {
    const Generated& g = generated();
    ASSERT_EQ(g.result, 0);
    EXPECT_EQ(g.decoded.rate, 44100);
    EXPECT_EQ(g.decoded.channels, 2);
    EXPECT_EQ(g.decoded.frames(), FRAMES);
    EXPECT_EQ(MUSIC_FRAMES, FRAMES);
    // The WAV holds the rendered samples themselves, with a 44-byte header.
    EXPECT_EQ((int64_t)g.wav_samples.size(), 2 * FRAMES);
}

TEST(SoundtrackFile, DecodedTimingMatchesTheRenderedSamples) {
    // The gapless header must remove exactly the encoder's delay (over a thousand samples): the
    // decoded signal lines up with the rendered one. Differences weigh the high frequencies, whose
    // correlation peak is sharp; where the music is mostly bass (the intro) the coder's phase
    // error moves the peak by a few samples, hence the slack.
    const Generated& g = generated();
    ASSERT_EQ(g.decoded.frames(), FRAMES);
    ASSERT_EQ((int64_t)g.wav_samples.size(), 2 * FRAMES);
    // Windows where hats play: sustained tones alone would also correlate a period away.
    const int64_t starts[] = {40 * BEAT + 3000, 120 * BEAT + 1234, 240 * BEAT + 555, 300 * BEAT + 777};
    for (int64_t start : starts) {
        int best_lag = 9999;
        double best = -1e300;
        for (int lag = -1600; lag <= 1600; lag++) {
            double c = 0;
            for (int64_t i = 800; i < 4096 + 800; i++)
                c += (mono(g.wav_samples, start + i) - mono(g.wav_samples, start + i - 1)) *
                     (mono(g.decoded.samples, start + i + lag) -
                      mono(g.decoded.samples, start + i + lag - 1));
            if (c > best) {
                best = c;
                best_lag = lag;
            }
        }
        EXPECT_LE(std::abs(best_lag), 4) << "at frame " << start;
    }
}

TEST(SoundtrackLevels, NoSampleReachesFullScale) {
    const Generated& g = generated();
    ASSERT_FALSE(g.decoded.samples.empty());
    int peak = 0, wav_peak = 0;
    for (short s : g.decoded.samples) peak = std::max(peak, std::abs((int)s));
    for (short s : g.wav_samples) wav_peak = std::max(wav_peak, std::abs((int)s));
    EXPECT_LT(peak, 32767);
    EXPECT_LT(wav_peak, 32767);
    // Normalised with headroom, not scaled down to a whisper.
    EXPECT_GT(wav_peak, 16000);
    printf("peak: rendered %d, decoded %d\n", wav_peak, peak);
}

TEST(SoundtrackIntro, LowestBinsPulseOnEveryBeat) {
    const Generated& g = generated();
    ASSERT_EQ(g.decoded.frames(), FRAMES);
    double worst = 1e9, worst_first = 1e9;
    for (int b = 0; b < 16; b++) {
        int64_t at = (int64_t)b * BEAT;
        double on = low_bins(g.decoded.samples, at);
        double off = low_bins(g.decoded.samples, at + BEAT / 2);
        EXPECT_GT(on, 4.0 * off) << "beat " << b;
        EXPECT_GT(on, 5.0) << "beat " << b;  // a strong reading, not just a quiet off-beat
        worst = std::min(worst, on / off);
        // The titles read bin 1 alone, so it has to pulse by itself too.
        double first = bin_magnitude(g.decoded.samples, at, 1);
        EXPECT_GT(first, 4.0 * bin_magnitude(g.decoded.samples, at + BEAT / 2, 1)) << "beat " << b;
        worst_first = std::min(worst_first, first / bin_magnitude(g.decoded.samples, at + BEAT / 2, 1));
    }
    printf("intro: weakest on/off-beat ratio, bins 1-2 %.1f, bin 1 %.1f\n", worst, worst_first);
}

TEST(SoundtrackIntro, KickFundamentalLiesBetween40And60Hz) {
    const Generated& g = generated();
    ASSERT_EQ(g.decoded.frames(), FRAMES);
    for (int b : {1, 6, 11}) {
        double hz = strongest_hz(g.decoded.samples, (int64_t)b * BEAT + 2000, 8192, 25.0, 200.0);
        EXPECT_GE(hz, 40.0) << "beat " << b;
        EXPECT_LE(hz, 60.0) << "beat " << b;
        if (b == 1) printf("intro kick fundamental: %.1f Hz\n", hz);
    }
}

TEST(SoundtrackBreakdown, HasNoKick) {
    const Generated& g = generated();
    ASSERT_EQ(g.decoded.frames(), FRAMES);
    double intro = 0, breakdown = 0, pulse = 0;
    for (int b = 0; b < 16; b++) intro += low_bins(g.decoded.samples, (int64_t)b * BEAT);
    for (int b = 160; b < 192; b++) {
        double on = low_bins(g.decoded.samples, (int64_t)b * BEAT);
        double off = low_bins(g.decoded.samples, (int64_t)b * BEAT + BEAT / 2);
        breakdown += on;
        pulse += on / (off + 1e-9);
    }
    intro /= 16;
    breakdown /= 32;
    pulse /= 32;
    printf("bins 1-2: intro beats %.2f, breakdown beats %.3f (on/off %.1f)\n", intro, breakdown,
           pulse);
    EXPECT_LT(breakdown, intro / 10);
    // And the kick is back in the groove on either side.
    double groove = 0;
    for (int b = 150; b < 158; b++) groove += low_bins(g.decoded.samples, (int64_t)b * BEAT);
    EXPECT_GT(groove / 8, 5 * breakdown);
}

TEST(SoundtrackLevels, EverySectionIsAudibleAndTheEndIsSilent) {
    const Generated& g = generated();
    ASSERT_EQ(g.decoded.frames(), FRAMES);
    const std::vector<short>& s = g.decoded.samples;
    for (int i = 0; i < music_section_count; i++) {
        const MusicSection& sec = music_sections[i];
        double db = rms_db(s, (int64_t)sec.start_beat * BEAT, (int64_t)sec.end_beat * BEAT);
        printf("section %-15s beats %3d-%3d: %6.1f dBFS RMS\n", sec.name, sec.start_beat,
               sec.end_beat, db);
        EXPECT_GT(db, -30.0) << sec.name;
        EXPECT_LT(db, -8.0) << sec.name;
    }
    // Never silent before the fade: every two beats up to beat 400 carry sound.
    double quietest = 0;
    for (int b = 0; b < 400; b += 2) {
        double db = rms_db(s, (int64_t)b * BEAT, (int64_t)(b + 2) * BEAT);
        quietest = std::min(quietest, db);
        EXPECT_GT(db, -36.0) << "beats " << b << "-" << b + 2;
    }
    printf("quietest two beats before the fade: %.1f dBFS\n", quietest);
    // The fade ends in silence at beat 434 and falls on the way.
    double b410 = rms_db(s, 410LL * BEAT, 414LL * BEAT);
    double b426 = rms_db(s, 426LL * BEAT, 430LL * BEAT);
    double last = rms_db(s, 433LL * BEAT, 434LL * BEAT);
    EXPECT_LT(b426, b410 - 10);
    EXPECT_LT(last, -70.0);
    printf("fade: beats 410-414 %.1f, 426-430 %.1f, last beat %.1f dBFS\n", b410, b426, last);
}

TEST(SoundtrackFile, TwoRunsWriteIdenticalBytes) {
    const Generated& g = generated();
    ASSERT_EQ(g.result, 0);
    std::string dir = out_dir();
    std::string mp3 = dir + "/second.mp3", wav = dir + "/second.wav";
    ASSERT_EQ(soundtrack_write(mp3.c_str(), wav.c_str()), 0);
    std::vector<unsigned char> a = read_file(g.mp3), b = read_file(mp3);
    EXPECT_GT(a.size(), 5000000u);  // 192 kbit/s for 248 s is about 5.95 MB
    EXPECT_TRUE(a == b) << "MP3 differs";
    EXPECT_TRUE(read_file(g.wav) == read_file(wav)) << "WAV differs";
    // The MP3 starts with the encoder's info frame that carries the gapless figures.
    ASSERT_GT(a.size(), 200u);
    std::string head(a.begin(), a.begin() + 200);
    EXPECT_NE(head.find("Info"), std::string::npos);
    EXPECT_NE(head.find("LAME"), std::string::npos);
}

TEST(SoundtrackFile, UnwritablePathFailsAtOnce) {
    EXPECT_EQ(soundtrack_write("/nonexistent-dir/track.mp3", nullptr), 1);
    std::string ok = out_dir() + "/unused.mp3";
    EXPECT_EQ(soundtrack_write(ok.c_str(), "/nonexistent-dir/track.wav"), 1);
    FILE* f = fopen(ok.c_str(), "rb");
    EXPECT_EQ(f, nullptr);  // no half-made file left behind
    if (f) fclose(f);
    EXPECT_EQ(soundtrack_write(nullptr, nullptr), 1);
}
