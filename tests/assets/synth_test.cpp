// The synthesiser's parts: its own maths against libm, noise, oscillators, filters, envelopes,
// the drums' spectra, and the effects' impulse responses.
#include "assets/synth.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {

double rms(const float* x, int n) {
    double s = 0;
    for (int i = 0; i < n; i++) s += (double)x[i] * x[i];
    return n ? std::sqrt(s / n) : 0.0;
}

// Gain of the filter for a sine of `hz`, measured after it settles.
double svf_gain(double cutoff, double q, double hz, int which) {
    SynthSvf f{};
    synth_svf_set(&f, cutoff, q);
    double in_s = 0, out_s = 0;
    for (int i = 0; i < SYNTH_RATE; i++) {
        float x = (float)std::sin(2 * M_PI * hz * i / SYNTH_RATE);
        SynthSvfOut o = synth_svf_run(&f, x);
        float y = which == 0 ? o.low : (which == 1 ? o.band : o.high);
        if (i >= SYNTH_RATE / 2) {
            in_s += (double)x * x;
            out_s += (double)y * y;
        }
    }
    return std::sqrt(out_s / in_s);
}

// Average frequency from upward zero crossings between frames a and b.
double crossing_hz(const float* x, int a, int b) {
    int first = -1, last = -1, count = 0;
    for (int i = a + 1; i < b; i++) {
        if (x[i - 1] < 0 && x[i] >= 0) {
            if (first < 0) first = i;
            else count++;
            last = i;
        }
    }
    return count ? (double)count * SYNTH_RATE / (last - first) : 0.0;
}

// Pitch from the strongest autocorrelation lag between the periods of hi and lo Hz: saws and
// filtered waves cross zero more than once a period, so crossings would not do.
double period_hz(const float* x, int a, int b, double lo, double hi) {
    int best_lag = 0;
    double best = -1e300;
    for (int lag = (int)(SYNTH_RATE / hi); lag <= (int)(SYNTH_RATE / lo); lag++) {
        double c = 0, e = 0;
        for (int i = a; i + lag < b; i++) {
            c += (double)x[i] * x[i + lag];
            e += (double)x[i + lag] * x[i + lag];
        }
        c /= std::sqrt(e + 1e-30);
        if (c > best) {
            best = c;
            best_lag = lag;
        }
    }
    return best_lag ? (double)SYNTH_RATE / best_lag : 0.0;
}

}  // namespace

TEST(SynthMaths, OwnFunctionsAgreeWithLibm) {
    for (double x = -40.0; x <= 40.0; x += 0.0137) {
        EXPECT_NEAR(synth_sin(x), std::sin(x), 1e-14) << x;
        EXPECT_NEAR(synth_cos(x), std::cos(x), 1e-14) << x;
    }
    for (double x = -1.5; x <= 1.5; x += 0.01) EXPECT_NEAR(synth_tan(x) / std::tan(x), 1.0, 1e-12) << x;
    for (double x = -50.0; x <= 50.0; x += 0.031) EXPECT_NEAR(synth_exp(x) / std::exp(x), 1.0, 1e-14) << x;
    EXPECT_EQ(synth_exp(-800.0), 0.0);
    EXPECT_EQ(synth_exp(0.0), 1.0);
    EXPECT_NEAR(synth_pow2(10.0), 1024.0, 1e-10);
    // The table sine is within interpolation error of the true one at any phase, wrapped too.
    for (double p = -2.0; p < 2.0; p += 0.00173)
        EXPECT_NEAR(synth_sine01(p), std::sin(2 * M_PI * p), 2e-6) << p;
}

TEST(SynthMaths, NotesAndSaturation) {
    EXPECT_NEAR(synth_note_hz(69), 440.0, 1e-9);
    EXPECT_NEAR(synth_note_hz(57), 220.0, 1e-9);
    EXPECT_NEAR(synth_note_hz(31), 48.999, 1e-3);  // G1, the kick's pitch
    EXPECT_NEAR(synth_note_hz(43), 97.999, 1e-3);
    EXPECT_FLOAT_EQ(synth_soft_clip(0.0f), 0.0f);
    EXPECT_NEAR(synth_soft_clip(0.01f), 0.01f, 1e-6);
    float prev = -1.0f;
    for (float x = -5.0f; x <= 5.0f; x += 0.01f) {
        float y = synth_soft_clip(x);
        EXPECT_LE(std::fabs(y), 1.0f);
        EXPECT_GE(y, prev);  // monotonic: no fold-over at high drive
        EXPECT_FLOAT_EQ(synth_soft_clip(-x), -y);
        prev = y;
    }
    EXPECT_NEAR(std::pow(synth_decay_coef(0.1), 0.1 * SYNTH_RATE), std::exp(-1.0), 1e-4);
}

TEST(SynthNoise, SeededRepeatableAndCentred) {
    SynthRng a = synth_rng(7), b = synth_rng(7), c = synth_rng(8), z = synth_rng(0);
    EXPECT_NE(z.state, 0u);
    int same = 0;
    double sum = 0, sq = 0;
    const int n = 200000;
    for (int i = 0; i < n; i++) {
        float x = synth_rng_signed(&a);
        EXPECT_EQ(x, synth_rng_signed(&b));
        if (x == synth_rng_signed(&c)) same++;
        ASSERT_GE(x, -1.0f);
        ASSERT_LT(x, 1.0f);
        sum += x;
        sq += (double)x * x;
    }
    EXPECT_LT(same, 5);
    EXPECT_NEAR(sum / n, 0.0, 0.01);
    EXPECT_NEAR(sq / n, 1.0 / 3.0, 0.01);  // uniform
}

TEST(SynthOscillators, PitchRangeAndCentre) {
    std::vector<float> x(SYNTH_RATE);
    for (double hz : {55.0, 440.0, 3520.0}) {
        SynthOsc saw{0.0, 0.0}, pulse{0.0, 0.0}, sine{0.0, 0.0};
        synth_osc_set_hz(&saw, hz);
        synth_osc_set_hz(&pulse, hz);
        synth_osc_set_hz(&sine, hz);
        double mean_saw = 0, mean_pulse = 0;
        float peak = 0;
        for (int i = 0; i < SYNTH_RATE; i++) {
            float s = synth_osc_saw(&saw);
            float p = synth_osc_pulse(&pulse, 0.25f);
            x[i] = synth_osc_sine(&sine);
            mean_saw += s;
            mean_pulse += p;
            peak = std::max(peak, std::max(std::fabs(s), std::fabs(p)));
        }
        EXPECT_NEAR(crossing_hz(x.data(), 0, SYNTH_RATE), hz, hz * 0.002) << hz;
        EXPECT_NEAR(mean_saw / SYNTH_RATE, 0.0, 0.01) << hz;
        EXPECT_NEAR(mean_pulse / SYNTH_RATE, 0.0, 0.01) << hz;  // width does not shift DC
        EXPECT_LT(peak, 2.2f) << hz;  // polyBLEP overshoot stays small
    }
    // The saw's step is smoothed: no sample jumps by the full 2 of a naive saw at 440 Hz.
    SynthOsc saw{0.0, 0.0};
    synth_osc_set_hz(&saw, 440.0);
    float prev = synth_osc_saw(&saw), jump = 0;
    for (int i = 1; i < 5000; i++) {
        float s = synth_osc_saw(&saw);
        jump = std::max(jump, std::fabs(s - prev));
        prev = s;
    }
    EXPECT_LT(jump, 1.5f);
}

TEST(SynthFilters, StateVariableResponses) {
    EXPECT_NEAR(svf_gain(1000, 0.707, 100, 0), 1.0, 0.02);        // pass band
    EXPECT_NEAR(svf_gain(1000, 0.707, 1000, 0), 0.707, 0.02);     // -3 dB at the cutoff
    EXPECT_LT(svf_gain(1000, 0.707, 10000, 0), 0.012);            // 12 dB per octave
    EXPECT_LT(svf_gain(8000, 0.707, 200, 2), 0.01);               // high-pass rejects lows
    EXPECT_NEAR(svf_gain(8000, 0.707, 18000, 2), 1.0, 0.1);
    EXPECT_GT(svf_gain(1000, 4.0, 1000, 0), 3.5);                 // resonance peaks
    // Full resonance on loud noise with a moving cutoff stays finite and bounded.
    SynthSvf f{};
    SynthRng rng = synth_rng(3);
    float peak = 0;
    for (int i = 0; i < SYNTH_RATE; i++) {
        if (i % 16 == 0) synth_svf_set(&f, 50.0 + (i % 20000), 20.0);
        float y = synth_svf_run(&f, synth_rng_signed(&rng)).low;
        ASSERT_TRUE(std::isfinite(y));
        peak = std::max(peak, std::fabs(y));
    }
    EXPECT_LT(peak, 200.0f);
    SynthOnePole p{0.0f, 0.0f};
    synth_one_pole_set(&p, 100.0);
    for (int i = 0; i < SYNTH_RATE; i++) synth_one_pole_run(&p, 1.0f);
    EXPECT_NEAR(p.y, 1.0f, 1e-4);
}

TEST(SynthEnvelope, SegmentsAndRelease) {
    SynthAdsr e{0.1f, 0.2f, 0.5f, 0.4f};
    EXPECT_FLOAT_EQ(synth_adsr_level(&e, -0.1, 1.0), 0.0f);
    EXPECT_NEAR(synth_adsr_level(&e, 0.05, 1.0), 0.5f, 1e-6);
    EXPECT_NEAR(synth_adsr_level(&e, 0.1, 1.0), 1.0f, 1e-6);
    EXPECT_NEAR(synth_adsr_level(&e, 0.2, 1.0), 0.75f, 1e-6);
    EXPECT_NEAR(synth_adsr_level(&e, 0.9, 1.0), 0.5f, 1e-6);
    EXPECT_NEAR(synth_adsr_level(&e, 1.2, 1.0), 0.5f * 0.25f, 1e-6);
    EXPECT_FLOAT_EQ(synth_adsr_level(&e, 1.41, 1.0), 0.0f);
    // Released during the attack: falls from where it was, never jumps up.
    EXPECT_NEAR(synth_adsr_level(&e, 0.05, 0.05), 0.5f, 1e-6);
    EXPECT_LT(synth_adsr_level(&e, 0.06, 0.05), 0.5f);
    EXPECT_DOUBLE_EQ(synth_adsr_length(&e, 1.0), 1.0 + 0.4f);
}

TEST(SynthDrums, KickSweepsDownTo49HzAndEndsAtRest) {
    std::vector<float> x(SYNTH_RATE * 2);
    SynthRng rng = synth_rng(1);
    const SynthKick k = {140.0f, 49.0f, 0.016f, 0.13f, 0.12f, 1.3f};
    int n = synth_kick(x.data(), (int)x.size(), &k, &rng);
    EXPECT_NEAR(n, (int)(0.13 * 9 * SYNTH_RATE), 1);
    double early = crossing_hz(x.data(), 0, SYNTH_RATE * 3 / 100);
    double tail = crossing_hz(x.data(), SYNTH_RATE / 10, SYNTH_RATE * 4 / 10);
    EXPECT_GT(early, 70.0);  // the sweep starts high ...
    EXPECT_GT(tail, 45.0);   // ... and settles on the fundamental
    EXPECT_LT(tail, 53.0);
    float peak = 0;
    for (int i = 0; i < n; i++) peak = std::max(peak, std::fabs(x[i]));
    EXPECT_LE(peak, 1.0f);
    EXPECT_GT(peak, 0.8f);
    EXPECT_LT(std::fabs(x[n - 1]), 1e-3f);
    // Loudest at the start: half a beat later it is far down.
    EXPECT_GT(rms(x.data(), 1024), 8 * rms(x.data() + 12600, 1024));
    // A short request is honoured without writing past it.
    std::vector<float> small(100, 7.0f);
    EXPECT_EQ(synth_kick(small.data(), 50, &k, &rng), 50);
    EXPECT_EQ(small[50], 7.0f);
}

TEST(SynthDrums, NoiseDrumsSitInTheirBands) {
    std::vector<float> x(SYNTH_RATE * 6);
    SynthRng rng = synth_rng(2);
    struct Case {
        const char* name;
        int n;
        double low_share;  // largest allowed share of RMS below 500 Hz
    };
    auto low_share = [](const float* s, int n) {
        SynthSvf lp{};
        synth_svf_set(&lp, 500.0, 0.707);
        std::vector<float> lo(n);
        for (int i = 0; i < n; i++) lo[i] = synth_svf_run(&lp, s[i]).low;
        return rms(lo.data(), n) / rms(s, n);
    };
    int n = synth_hat(x.data(), (int)x.size(), 0.032f, 7500.0f, &rng);
    EXPECT_LT(low_share(x.data(), n), 0.02) << "hat";
    n = synth_crash(x.data(), (int)x.size(), 0.85f, &rng);
    EXPECT_LT(low_share(x.data(), n), 0.05) << "crash";
    n = synth_clap(x.data(), (int)x.size(), 0.075f, &rng);
    EXPECT_LT(low_share(x.data(), n), 0.4) << "clap";
    n = synth_snare(x.data(), (int)x.size(), 185.0f, 0.11f, &rng);
    EXPECT_GT(low_share(x.data(), n), 0.1) << "snare has a body";
    float peak = 0;
    for (int i = 0; i < n; i++) peak = std::max(peak, std::fabs(x[i]));
    EXPECT_LT(peak, 2.0f);
}

TEST(SynthVoices, PitchedVoicesPlayTheirNote) {
    std::vector<float> x(SYNTH_RATE * 4);
    SynthBass b{98.0f, 0.3f, 240.0f, 1300.0f, 0.11f, 1.3f, 0.45f};
    int n = synth_bass(x.data(), (int)x.size(), &b);
    EXPECT_NEAR(n, (int)((0.3 + 0.03) * SYNTH_RATE), 1);
    EXPECT_NEAR(period_hz(x.data(), 4000, 12000, 60.0, 400.0), 98.0, 1.0);
    EXPECT_LT(std::fabs(x[n - 1]), 1e-3f);

    SynthPulseVoice v{};
    v.hz = 587.33f;
    v.env = SynthAdsr{0.01f, 0.2f, 0.7f, 0.1f};
    v.gate = 1.0f;
    v.width = 0.45f;
    v.cutoff_hz = 900.0f;  // low enough that the fundamental decides the crossings
    v.vibrato_cents = 20.0f;
    v.vibrato_hz = 5.0f;
    v.vibrato_delay = 0.5f;
    v.glide_from_hz = 440.0f;
    v.glide_time = 0.02f;
    n = synth_pulse_voice(x.data(), (int)x.size(), &v);
    EXPECT_NEAR(n, (int)(1.1 * SYNTH_RATE), 1);
    EXPECT_NEAR(crossing_hz(x.data(), SYNTH_RATE / 5, SYNTH_RATE * 45 / 100), 587.33, 3.0);

    SynthPad p{};
    p.hz = 196.0f;
    p.gate = 1.0f;
    p.attack = 0.3f;
    p.release = 0.5f;
    p.detune_cents = 12.0f;
    p.voices = 3;
    p.cutoff_hz = 500.0f;
    p.sweep_hz = 100.0f;
    p.sweep_period = 4.0f;
    n = synth_pad(x.data(), (int)x.size(), &p);
    EXPECT_NEAR(n, (int)(1.5 * SYNTH_RATE), 1);
    EXPECT_LT(rms(x.data(), 441), rms(x.data() + SYNTH_RATE / 2, 441));  // swells in
    EXPECT_NEAR(period_hz(x.data(), SYNTH_RATE / 2, SYNTH_RATE * 6 / 10, 120.0, 400.0), 196.0, 2.0);
}

TEST(SynthEffects, DelayAlternatesSidesAndFades) {
    const int d = 1000, n = 8000;
    SynthDelay* delay = synth_delay_create(d, 0.5f, 20000.0);
    ASSERT_NE(delay, nullptr);
    std::vector<float> in_l(n, 0.0f), in_r(n, 0.0f), out_l(n), out_r(n);
    in_l[0] = in_r[0] = 1.0f;
    synth_delay_run(delay, in_l.data(), in_r.data(), out_l.data(), out_r.data(), n);
    synth_delay_free(delay);
    synth_delay_free(nullptr);
    for (int i = 0; i < d; i++) ASSERT_EQ(out_l[i], 0.0f);
    EXPECT_FLOAT_EQ(out_l[d], 1.0f);
    auto energy = [](const std::vector<float>& x, int a, int b) {
        double s = 0;
        for (int i = a; i < b; i++) s += (double)x[i] * x[i];
        return s;
    };
    EXPECT_LT(energy(out_r, 0, 2 * d - 5), 1e-6);        // right echoes one round later
    EXPECT_GT(energy(out_r, 2 * d - 5, 2 * d + 50), 0.1);
    EXPECT_LT(energy(out_l, 3 * d - 5, 3 * d + 50), energy(out_l, d - 5, d + 50));
    EXPECT_EQ(synth_delay_create(0, 0.5f, 1000.0), nullptr);
}

TEST(SynthEffects, ReverbTailDecaysAndIsStereo) {
    const int n = SYNTH_RATE * 4;
    SynthReverb* r = synth_reverb_create(0.82f, 0.45f);
    ASSERT_NE(r, nullptr);
    std::vector<float> in(n, 0.0f), out_l(n), out_r(n);
    in[0] = 1.0f;
    synth_reverb_run(r, in.data(), in.data(), out_l.data(), out_r.data(), n);
    synth_reverb_free(r);
    synth_reverb_free(nullptr);
    for (int i = 0; i < n; i++) ASSERT_TRUE(std::isfinite(out_l[i]) && std::isfinite(out_r[i]));
    double first = rms(out_l.data(), SYNTH_RATE / 2);
    double later = rms(out_l.data() + SYNTH_RATE * 3, SYNTH_RATE / 2);
    EXPECT_GT(first, 0.0);
    EXPECT_LT(later, first * 0.05);
    int differ = 0;
    for (int i = 0; i < SYNTH_RATE; i++) differ += out_l[i] != out_r[i];
    EXPECT_GT(differ, SYNTH_RATE / 2);
}
