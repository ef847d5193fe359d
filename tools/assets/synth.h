// A small deterministic synthesiser for the stand-in soundtrack.
//
// Everything that reaches the output is computed with plain IEEE-754 arithmetic: the sine, exp and
// tan used for pitches, envelopes and filter coefficients are our own series, noise comes from our
// own seeded generator, and every state starts at zero. So the same code writes the same samples on
// every machine (built with -ffp-contract=off, no fast-math). Instruments render one mono note into
// a caller-owned buffer; the effects run over whole buffers. Nothing here allocates except the
// delay and reverb, which take one block each for their lines.
#pragma once

#include <cstdint>

constexpr int SYNTH_RATE = 44100;
constexpr double SYNTH_PI = 3.14159265358979323846;

// ---- Maths (deterministic replacements for the libm calls we need) ----
double synth_sin(double x);               // sine, error below 1e-15 for |x| < 1e4
double synth_cos(double x);
double synth_tan(double x);               // for |x| < pi/2
double synth_exp(double x);               // e^x, relative error below 1e-15; 0 below -700
double synth_pow2(double x);              // 2^x
double synth_note_hz(double midi_note);   // equal temperament, note 69 = 440 Hz
float synth_sine01(double phase);          // sin(2 pi phase) from a 4096-entry table, linear interp
float synth_soft_clip(float x);            // smooth saturation, odd, monotonic, |result| <= 1, slope 1 at 0
// Per-sample multiplier that makes a level fall by 1/e in `seconds`.
float synth_decay_coef(double seconds);

// ---- Noise: xorshift32 with our own seed; never zero ----
struct SynthRng {
    uint32_t state;
};
SynthRng synth_rng(uint32_t seed);
uint32_t synth_rng_next(SynthRng* rng);
float synth_rng_signed(SynthRng* rng);     // uniform in [-1, 1)

// ---- Oscillators: phase in [0, 1), band-limited steps (polyBLEP) for saw and pulse ----
struct SynthOsc {
    double phase;
    double inc;  // cycles per sample
};
void synth_osc_set_hz(SynthOsc* osc, double hz);
float synth_osc_saw(SynthOsc* osc);                  // returns then advances
float synth_osc_pulse(SynthOsc* osc, float width);   // width in (0, 1): high fraction
float synth_osc_sine(SynthOsc* osc);

// ---- Filters ----
// State-variable filter (trapezoidal, stable at any cutoff below Nyquist and any resonance).
struct SynthSvf {
    float ic1, ic2;
    float a1, a2, a3, k;
};
struct SynthSvfOut {
    float low, band, high;
};
void synth_svf_set(SynthSvf* f, double cutoff_hz, double q);  // keeps the state
SynthSvfOut synth_svf_run(SynthSvf* f, float in);
// One-pole low-pass: y += a (x - y).
struct SynthOnePole {
    float y;
    float a;
};
void synth_one_pole_set(SynthOnePole* f, double cutoff_hz);
float synth_one_pole_run(SynthOnePole* f, float in);

// ---- Envelope: attack, decay to sustain, release after `gate` seconds; linear segments ----
struct SynthAdsr {
    float attack, decay, sustain, release;  // seconds, seconds, level, seconds
};
float synth_adsr_level(const SynthAdsr* env, double t, double gate);
double synth_adsr_length(const SynthAdsr* env, double gate);  // gate + release

// ---- Drums: each writes up to `n` samples into dst (overwriting) and returns the count ----
struct SynthKick {
    float start_hz, end_hz;  // pitch sweeps from start to end ...
    float sweep;             // ... falling by 1/e every `sweep` seconds
    float decay;             // amplitude time constant, seconds
    float click;             // level of the noise click at the attack
    float drive;             // saturation amount (1 = gentle)
};
int synth_kick(float* dst, int n, const SynthKick* kick, SynthRng* rng);
int synth_snare(float* dst, int n, float tone_hz, float decay, SynthRng* rng);
int synth_clap(float* dst, int n, float decay, SynthRng* rng);
int synth_hat(float* dst, int n, float decay, float cutoff_hz, SynthRng* rng);
int synth_crash(float* dst, int n, float decay, SynthRng* rng);
// Rising noise sweep over `n` samples, band centre from lo_hz up by `octaves`, level growing.
int synth_riser(float* dst, int n, float lo_hz, float octaves, SynthRng* rng);

// ---- Pitched voices ----
// Filtered saw bass with sub sine and a filter envelope.
struct SynthBass {
    float hz;
    float gate;        // seconds until release
    float cutoff_hz;   // filter base
    float env_hz;      // filter envelope depth, added at the attack
    float env_decay;   // seconds
    float resonance;   // q
    float sub;         // level of the sine an octave below
};
int synth_bass(float* dst, int n, const SynthBass* bass);

// One pad voice: `voices` detuned saws (spread in cents), slow filter sweep, soft envelope.
struct SynthPad {
    float hz;
    float gate;
    float attack, release;
    float detune_cents;
    int voices;            // 1..7
    float cutoff_hz;       // filter centre
    float sweep_hz;        // filter LFO depth
    float sweep_period;    // seconds
    float phase_seed;      // start phases in [0, 1) derived from this
    double time_offset;    // seconds into the piece, so the LFO continues across chords
};
int synth_pad(float* dst, int n, const SynthPad* pad);

// Pulse-wave voice with delayed vibrato, pulse-width motion and an optional glide from glide_hz.
struct SynthPulseVoice {
    float hz;
    float glide_from_hz;   // 0 = no glide
    float glide_time;      // seconds
    SynthAdsr env;
    float gate;
    float width;           // pulse width centre
    float width_motion;    // pulse width LFO depth
    float vibrato_cents;
    float vibrato_hz;
    float vibrato_delay;   // seconds before the vibrato fades in
    float cutoff_hz;
    float env_cutoff_hz;   // extra cutoff at the attack, decaying with env.decay
};
int synth_pulse_voice(float* dst, int n, const SynthPulseVoice* voice);

// ---- Effects over whole buffers ----
// Ping-pong delay: returns the wet signal of (in_l, in_r) in (out_l, out_r). Null on no memory.
struct SynthDelay;
SynthDelay* synth_delay_create(int delay_frames, float feedback, double damp_hz);
void synth_delay_run(SynthDelay* d, const float* in_l, const float* in_r, float* out_l,
                     float* out_r, int64_t n);
void synth_delay_free(SynthDelay* d);

// Reverb: eight damped combs and four all-passes per side (the classic parallel-comb design).
struct SynthReverb;
SynthReverb* synth_reverb_create(float room, float damp);
void synth_reverb_run(SynthReverb* r, const float* in_l, const float* in_r, float* out_l,
                      float* out_r, int64_t n);
void synth_reverb_free(SynthReverb* r);
