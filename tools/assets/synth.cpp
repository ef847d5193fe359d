// The synthesiser's maths, oscillators, filters, instruments and effects.
#include "assets/synth.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

// ---- Maths ----

namespace {

// Values this small only slow the feedback loops down (subnormals); zeroing them is exact enough
// and the same on every processor.
inline float flush(float x) {
    return (x > -1e-20f && x < 1e-20f) ? 0.0f : x;
}

constexpr int SINE_TABLE_SIZE = 4096;

struct SineTable {
    float v[SINE_TABLE_SIZE + 1];
};

const SineTable& sine_table() {
    static const SineTable table = [] {
        SineTable t{};
        for (int i = 0; i <= SINE_TABLE_SIZE; i++)
            t.v[i] = (float)synth_sin(2.0 * SYNTH_PI * i / SINE_TABLE_SIZE);
        return t;
    }();
    return table;
}

// Correction of a unit step inside the sample where the phase wrapped (polyBLEP).
inline double blep(double t, double dt) {
    if (t < dt) {
        double x = t / dt;
        return x + x - x * x - 1.0;
    }
    if (t > 1.0 - dt) {
        double x = (t - 1.0) / dt;
        return x * x + x + x + 1.0;
    }
    return 0.0;
}

inline void osc_advance(SynthOsc* osc) {
    osc->phase += osc->inc;
    if (osc->phase >= 1.0) osc->phase -= 1.0;
}

inline int clamp_length(int n, double seconds) {
    double want = seconds * SYNTH_RATE;
    if (want < 0) return 0;
    return want < n ? (int)want : n;
}

}  // namespace

double synth_sin(double x) {
    // Reduce to [-pi, pi] with a two-part 2 pi, then to [-pi/2, pi/2] by symmetry.
    const double two_pi_hi = 6.283185307179586;
    const double two_pi_lo = 2.4492935982947064e-16;
    double k = std::floor(x / two_pi_hi + 0.5);
    double r = (x - k * two_pi_hi) - k * two_pi_lo;
    const double half_pi = SYNTH_PI / 2;
    if (r > half_pi)
        r = SYNTH_PI - r;
    else if (r < -half_pi)
        r = -SYNTH_PI - r;
    double r2 = r * r;
    double s = 1.0;
    for (int i = 11; i >= 1; i--) s = 1.0 - r2 / (double)((2 * i) * (2 * i + 1)) * s;
    return r * s;
}

double synth_cos(double x) {
    return synth_sin(x + SYNTH_PI / 2);
}

double synth_tan(double x) {
    return synth_sin(x) / synth_cos(x);
}

double synth_exp(double x) {
    if (x < -700.0) return 0.0;
    if (x > 700.0) x = 700.0;
    const double ln2_hi = 0.6931471805599453;
    const double ln2_lo = 2.3190468138462996e-17;
    double k = std::floor(x / ln2_hi + 0.5);
    double r = (x - k * ln2_hi) - k * ln2_lo;  // |r| <= 0.35
    double s = 1.0;
    for (int i = 18; i >= 1; i--) s = 1.0 + r / i * s;
    return std::ldexp(s, (int)k);
}

double synth_pow2(double x) {
    return synth_exp(x * 0.6931471805599453);
}

double synth_note_hz(double midi_note) {
    return 440.0 * synth_pow2((midi_note - 69.0) / 12.0);
}

float synth_sine01(double phase) {
    const SineTable& t = sine_table();
    double p = phase - std::floor(phase);
    double idx = p * SINE_TABLE_SIZE;
    int i = (int)idx;
    if (i >= SINE_TABLE_SIZE) i = SINE_TABLE_SIZE - 1;
    float frac = (float)(idx - i);
    return t.v[i] + frac * (t.v[i + 1] - t.v[i]);
}

float synth_soft_clip(float x) {
    if (x >= 3.0f) return 1.0f;
    if (x <= -3.0f) return -1.0f;
    float x2 = x * x;
    float y = x * (27.0f + x2) / (27.0f + 9.0f * x2);
    return y > 1.0f ? 1.0f : (y < -1.0f ? -1.0f : y);  // rounding near 3 must not poke past 1
}

float synth_decay_coef(double seconds) {
    if (seconds <= 0) return 0.0f;
    return (float)synth_exp(-1.0 / (seconds * SYNTH_RATE));
}

// ---- Noise ----

SynthRng synth_rng(uint32_t seed) {
    uint32_t s = seed * 2654435761u + 0x6D2B79F5u;
    s ^= s >> 15;
    return SynthRng{s ? s : 0x9E3779B9u};
}

uint32_t synth_rng_next(SynthRng* rng) {
    uint32_t x = rng->state;
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    rng->state = x;
    return x;
}

float synth_rng_signed(SynthRng* rng) {
    // The top 24 bits give exact floats in [-1, 1).
    int32_t v = (int32_t)(synth_rng_next(rng) >> 8) - (1 << 23);
    return (float)v * (1.0f / (float)(1 << 23));
}

// ---- Oscillators ----

void synth_osc_set_hz(SynthOsc* osc, double hz) {
    double inc = hz / SYNTH_RATE;
    if (inc < 0) inc = 0;
    if (inc > 0.45) inc = 0.45;
    osc->inc = inc;
}

float synth_osc_saw(SynthOsc* osc) {
    double y = 2.0 * osc->phase - 1.0 - blep(osc->phase, osc->inc);
    osc_advance(osc);
    return (float)y;
}

float synth_osc_pulse(SynthOsc* osc, float width) {
    double w = width < 0.05f ? 0.05 : (width > 0.95f ? 0.95 : (double)width);
    double t = osc->phase;
    double y = t < w ? 1.0 : -1.0;
    y += blep(t, osc->inc);
    double t2 = t + 1.0 - w;
    if (t2 >= 1.0) t2 -= 1.0;
    y -= blep(t2, osc->inc);
    y -= 2.0 * w - 1.0;  // keep it centred whatever the width
    osc_advance(osc);
    return (float)y;
}

float synth_osc_sine(SynthOsc* osc) {
    float y = synth_sine01(osc->phase);
    osc_advance(osc);
    return y;
}

// ---- Filters ----

void synth_svf_set(SynthSvf* f, double cutoff_hz, double q) {
    if (cutoff_hz < 10.0) cutoff_hz = 10.0;
    if (cutoff_hz > 0.45 * SYNTH_RATE) cutoff_hz = 0.45 * SYNTH_RATE;
    if (q < 0.1) q = 0.1;
    double g = synth_tan(SYNTH_PI * cutoff_hz / SYNTH_RATE);
    double k = 1.0 / q;
    double a1 = 1.0 / (1.0 + g * (g + k));
    f->a1 = (float)a1;
    f->a2 = (float)(g * a1);
    f->a3 = (float)(g * g * a1);
    f->k = (float)k;
}

SynthSvfOut synth_svf_run(SynthSvf* f, float in) {
    float v3 = in - f->ic2;
    float v1 = f->a1 * f->ic1 + f->a2 * v3;
    float v2 = f->ic2 + f->a2 * f->ic1 + f->a3 * v3;
    f->ic1 = flush(2.0f * v1 - f->ic1);
    f->ic2 = flush(2.0f * v2 - f->ic2);
    return SynthSvfOut{v2, v1, in - f->k * v1 - v2};
}

void synth_one_pole_set(SynthOnePole* f, double cutoff_hz) {
    f->a = (float)(1.0 - synth_exp(-2.0 * SYNTH_PI * cutoff_hz / SYNTH_RATE));
}

float synth_one_pole_run(SynthOnePole* f, float in) {
    f->y = flush(f->y + f->a * (in - f->y));
    return f->y;
}

// ---- Envelope ----

namespace {
float adsr_held(const SynthAdsr* e, double t) {
    if (t < e->attack) return (float)(t / e->attack);
    t -= e->attack;
    if (t < e->decay) return (float)(1.0 - (1.0 - e->sustain) * (t / e->decay));
    return e->sustain;
}
}  // namespace

float synth_adsr_level(const SynthAdsr* env, double t, double gate) {
    if (t < 0) return 0.0f;
    if (t < gate) return adsr_held(env, t);
    double x = env->release > 0 ? (t - gate) / env->release : 1.0;
    if (x >= 1.0) return 0.0f;
    float fall = (float)((1.0 - x) * (1.0 - x));  // a quadratic release sounds less abrupt
    return adsr_held(env, gate) * fall;
}

double synth_adsr_length(const SynthAdsr* env, double gate) {
    return gate + env->release;
}

// ---- Drums ----

int synth_kick(float* dst, int n, const SynthKick* kick, SynthRng* rng) {
    int len = clamp_length(n, kick->decay * 9.0);
    float sweep = synth_decay_coef(kick->sweep);
    float decay = synth_decay_coef(kick->decay);
    float click_decay = synth_decay_coef(0.0025);
    int attack = SYNTH_RATE / 1000;  // 1 ms, so the start does not click by itself
    float sweep_env = 1.0f, amp = 1.0f, click = kick->click;
    double phase = 0.0;  // from a zero crossing, so the attack ramp is all it needs
    float drive = kick->drive > 0.1f ? kick->drive : 0.1f;
    float norm = 1.0f / synth_soft_clip(drive);
    SynthOnePole click_lp{0.0f, 0.0f};
    synth_one_pole_set(&click_lp, 6000.0);
    // The amplitude also falls linearly to zero at the end so the note never stops on a step.
    for (int i = 0; i < len; i++) {
        float hz = kick->end_hz + (kick->start_hz - kick->end_hz) * sweep_env;
        float a = amp * (i < attack ? (float)i / attack : 1.0f) * (float)(len - i) / len;
        float body = synth_sine01(phase) * a;
        float c = synth_one_pole_run(&click_lp, synth_rng_signed(rng)) * click;
        dst[i] = synth_soft_clip((body + c) / (1.0f + kick->click) * drive) * norm;
        phase += hz / SYNTH_RATE;
        if (phase >= 1.0) phase -= 1.0;
        sweep_env *= sweep;
        amp *= decay;
        click *= click_decay;
    }
    return len;
}

int synth_snare(float* dst, int n, float tone_hz, float decay, SynthRng* rng) {
    int len = clamp_length(n, decay * 7.0);
    SynthOsc a{0.0, 0.0}, b{0.0, 0.0};
    synth_osc_set_hz(&a, tone_hz);
    synth_osc_set_hz(&b, tone_hz * 1.62);
    SynthSvf hp{};
    synth_svf_set(&hp, 1400.0, 0.7);
    float tone_k = synth_decay_coef(0.045), noise_k = synth_decay_coef(decay);
    float tone = 0.55f, noise = 0.8f;
    for (int i = 0; i < len; i++) {
        float t = (synth_osc_sine(&a) + 0.6f * synth_osc_sine(&b)) * tone;
        float ns = synth_svf_run(&hp, synth_rng_signed(rng)).high * noise;
        float fade = (float)(len - i) / len;
        dst[i] = (t + ns) * fade;
        tone *= tone_k;
        noise *= noise_k;
    }
    return len;
}

int synth_clap(float* dst, int n, float decay, SynthRng* rng) {
    int len = clamp_length(n, 0.03 + decay * 7.0);
    SynthSvf bp{};
    synth_svf_set(&bp, 1150.0, 1.4);
    const int gap = SYNTH_RATE * 9 / 1000;  // the hands do not meet at once: bursts 9 ms apart
    float burst_k = synth_decay_coef(0.0035), tail_k = synth_decay_coef(decay);
    float burst = 0.0f, tail = 1.0f;
    for (int i = 0; i < len; i++) {
        if (i < 4 * gap && i % gap == 0) burst = 1.0f;
        float env = burst;
        if (i >= 3 * gap) {
            env += tail;
            tail *= tail_k;
        }
        burst *= burst_k;
        float fade = (float)(len - i) / len;
        dst[i] = synth_svf_run(&bp, synth_rng_signed(rng)).band * env * 1.6f * fade;
    }
    return len;
}

int synth_hat(float* dst, int n, float decay, float cutoff_hz, SynthRng* rng) {
    int len = clamp_length(n, decay * 7.0);
    SynthSvf hp{}, sheen{};
    synth_svf_set(&hp, cutoff_hz, 0.8);
    synth_svf_set(&sheen, 10500.0, 2.0);
    float k = synth_decay_coef(decay), env = 1.0f;
    int attack = SYNTH_RATE / 2000;
    for (int i = 0; i < len; i++) {
        float x = synth_rng_signed(rng);
        float y = synth_svf_run(&hp, x).high + 0.5f * synth_svf_run(&sheen, x).band;
        float a = env * (i < attack ? (float)i / attack : 1.0f) * (float)(len - i) / len;
        dst[i] = y * a;
        env *= k;
    }
    return len;
}

int synth_crash(float* dst, int n, float decay, SynthRng* rng) {
    int len = clamp_length(n, decay * 6.0);
    SynthSvf hp{}, ring{};
    synth_svf_set(&hp, 3200.0, 0.7);
    synth_svf_set(&ring, 6200.0, 3.0);
    float k = synth_decay_coef(decay), env = 1.0f;
    for (int i = 0; i < len; i++) {
        float x = synth_rng_signed(rng);
        float y = synth_svf_run(&hp, x).high * 0.8f + synth_svf_run(&ring, x).band * 0.6f;
        dst[i] = y * env * (float)(len - i) / len;
        env *= k;
    }
    return len;
}

int synth_riser(float* dst, int n, float lo_hz, float octaves, SynthRng* rng) {
    SynthSvf bp{};
    for (int i = 0; i < n; i++) {
        double x = (double)i / n;
        if (i % 32 == 0) {
            // Exponential sweep: equal musical steps per unit time.
            double hz = lo_hz * synth_pow2(x * octaves);
            synth_svf_set(&bp, hz, 2.5);
        }
        float level = (float)(x * x);
        dst[i] = synth_svf_run(&bp, synth_rng_signed(rng)).band * level;
    }
    return n;
}

// ---- Pitched voices ----

int synth_bass(float* dst, int n, const SynthBass* b) {
    const double release = 0.03;
    int len = clamp_length(n, b->gate + release);
    SynthOsc saw{0.0, 0.0}, sub{0.0, 0.0};
    synth_osc_set_hz(&saw, b->hz);
    synth_osc_set_hz(&sub, b->hz);
    SynthSvf lp{};
    float env_k = synth_decay_coef(b->env_decay);
    float env = 1.0f;
    SynthAdsr amp{0.003f, 0.0f, 1.0f, (float)release};
    for (int i = 0; i < len; i++) {
        if (i % 16 == 0) synth_svf_set(&lp, b->cutoff_hz + b->env_hz * env, b->resonance);
        float x = synth_svf_run(&lp, synth_osc_saw(&saw)).low;
        float s = x + b->sub * synth_osc_sine(&sub);
        dst[i] = s * synth_adsr_level(&amp, (double)i / SYNTH_RATE, b->gate);
        env *= env_k;
    }
    return len;
}

int synth_pad(float* dst, int n, const SynthPad* p) {
    int len = clamp_length(n, p->gate + p->release);
    int voices = p->voices < 1 ? 1 : (p->voices > 7 ? 7 : p->voices);
    SynthOsc osc[7];
    SynthRng rng = synth_rng((uint32_t)(p->phase_seed * 4294967295.0));
    for (int v = 0; v < voices; v++) {
        double spread = voices == 1 ? 0.0 : (2.0 * v / (voices - 1) - 1.0);
        osc[v].phase = (double)(synth_rng_next(&rng) >> 8) / (double)(1 << 24);
        synth_osc_set_hz(&osc[v], p->hz * synth_pow2(spread * p->detune_cents / 1200.0));
    }
    SynthSvf lp{};
    SynthAdsr env{p->attack, 0.0f, 1.0f, p->release};
    float gain = 1.6f / voices;
    for (int i = 0; i < len; i++) {
        double t = (double)i / SYNTH_RATE;
        if (i % 32 == 0) {
            double lfo = synth_sin(2.0 * SYNTH_PI * (p->time_offset + t) / p->sweep_period);
            synth_svf_set(&lp, p->cutoff_hz + p->sweep_hz * lfo, 0.9);
        }
        float s = 0.0f;
        for (int v = 0; v < voices; v++) s += synth_osc_saw(&osc[v]);
        float a = synth_adsr_level(&env, t, p->gate);
        dst[i] = synth_svf_run(&lp, s * gain).low * a * a;  // squared: a softer swell
    }
    return len;
}

int synth_pulse_voice(float* dst, int n, const SynthPulseVoice* v) {
    int len = clamp_length(n, synth_adsr_length(&v->env, v->gate));
    SynthOsc osc{0.0, 0.0};
    SynthSvf lp{};
    float cut_k = synth_decay_coef(v->env.decay > 0 ? v->env.decay : 0.1f);
    float cut_env = 1.0f;
    float width = v->width;
    for (int i = 0; i < len; i++) {
        double t = (double)i / SYNTH_RATE;
        if (i % 16 == 0) {
            double hz = v->hz;
            if (v->glide_from_hz > 0 && v->glide_time > 0)
                hz += (v->glide_from_hz - v->hz) * synth_exp(-t / v->glide_time);
            double depth = 0.0;
            if (t > v->vibrato_delay) {
                double ramp = (t - v->vibrato_delay) / 0.4;
                depth = v->vibrato_cents * (ramp < 1.0 ? ramp : 1.0);
            }
            double vib = depth * synth_sin(2.0 * SYNTH_PI * v->vibrato_hz * t);
            synth_osc_set_hz(&osc, hz * synth_pow2(vib / 1200.0));
            width = v->width + v->width_motion * (float)synth_sin(2.0 * SYNTH_PI * 0.8 * t);
            synth_svf_set(&lp, v->cutoff_hz + v->env_cutoff_hz * cut_env, 0.8);
        }
        float s = synth_svf_run(&lp, synth_osc_pulse(&osc, width)).low;
        dst[i] = s * synth_adsr_level(&v->env, t, v->gate);
        cut_env *= cut_k;
    }
    return len;
}

// ---- Delay ----

struct SynthDelay {
    int frames;
    int pos;
    float feedback;
    SynthOnePole damp_l, damp_r;
    float* left;
    float* right;
};

SynthDelay* synth_delay_create(int delay_frames, float feedback, double damp_hz) {
    if (delay_frames < 1) return nullptr;
    size_t bytes = sizeof(SynthDelay) + sizeof(float) * 2 * (size_t)delay_frames;
    SynthDelay* d = (SynthDelay*)calloc(1, bytes);
    if (!d) return nullptr;
    d->frames = delay_frames;
    d->feedback = feedback;
    synth_one_pole_set(&d->damp_l, damp_hz);
    synth_one_pole_set(&d->damp_r, damp_hz);
    d->left = (float*)(d + 1);
    d->right = d->left + delay_frames;
    return d;
}

void synth_delay_run(SynthDelay* d, const float* in_l, const float* in_r, float* out_l,
                     float* out_r, int64_t n) {
    // Ping-pong: the left line takes the input and the right line's echo, the right line the
    // left's, so the repeats alternate sides.
    for (int64_t i = 0; i < n; i++) {
        float l = d->left[d->pos], r = d->right[d->pos];
        float fl = synth_one_pole_run(&d->damp_l, r * d->feedback);
        float fr = synth_one_pole_run(&d->damp_r, l * d->feedback);
        d->left[d->pos] = flush(0.5f * (in_l[i] + in_r[i]) + fl);
        d->right[d->pos] = flush(fr);
        out_l[i] = l;
        out_r[i] = r;
        if (++d->pos == d->frames) d->pos = 0;
    }
}

void synth_delay_free(SynthDelay* d) {
    free(d);
}

// ---- Reverb ----

namespace {
constexpr int COMBS = 8, ALLPASSES = 4, SPREAD = 23;
constexpr int COMB_TUNING[COMBS] = {1116, 1188, 1277, 1356, 1422, 1491, 1557, 1617};
constexpr int ALLPASS_TUNING[ALLPASSES] = {556, 441, 341, 225};

struct Line {
    float* buf;
    int size;
    int pos;
    float store;  // the comb's damping filter state
};

inline float comb_run(Line* c, float in, float feedback, float damp) {
    float out = c->buf[c->pos];
    c->store = flush(out * (1.0f - damp) + c->store * damp);
    c->buf[c->pos] = flush(in + c->store * feedback);
    if (++c->pos == c->size) c->pos = 0;
    return out;
}

inline float allpass_run(Line* a, float in) {
    float b = a->buf[a->pos];
    a->buf[a->pos] = flush(in + b * 0.5f);
    if (++a->pos == a->size) a->pos = 0;
    return b - in;
}
}  // namespace

struct SynthReverb {
    float feedback, damp;
    Line comb[2][COMBS];
    Line allpass[2][ALLPASSES];
};

SynthReverb* synth_reverb_create(float room, float damp) {
    size_t floats = 0;
    for (int s = 0; s < 2; s++) {
        for (int i = 0; i < COMBS; i++) floats += COMB_TUNING[i] + s * SPREAD;
        for (int i = 0; i < ALLPASSES; i++) floats += ALLPASS_TUNING[i] + s * SPREAD;
    }
    SynthReverb* r = (SynthReverb*)calloc(1, sizeof(SynthReverb) + floats * sizeof(float));
    if (!r) return nullptr;
    r->feedback = room * 0.28f + 0.7f;
    r->damp = damp * 0.4f;
    float* p = (float*)(r + 1);
    for (int s = 0; s < 2; s++) {
        for (int i = 0; i < COMBS; i++) {
            r->comb[s][i] = Line{p, COMB_TUNING[i] + s * SPREAD, 0, 0.0f};
            p += r->comb[s][i].size;
        }
        for (int i = 0; i < ALLPASSES; i++) {
            r->allpass[s][i] = Line{p, ALLPASS_TUNING[i] + s * SPREAD, 0, 0.0f};
            p += r->allpass[s][i].size;
        }
    }
    return r;
}

void synth_reverb_run(SynthReverb* r, const float* in_l, const float* in_r, float* out_l,
                      float* out_r, int64_t n) {
    const float input_gain = 0.015f;
    for (int64_t i = 0; i < n; i++) {
        float in = (in_l[i] + in_r[i]) * input_gain;
        float out[2];
        for (int s = 0; s < 2; s++) {
            float acc = 0.0f;
            for (int c = 0; c < COMBS; c++) acc += comb_run(&r->comb[s][c], in, r->feedback, r->damp);
            for (int a = 0; a < ALLPASSES; a++) acc = allpass_run(&r->allpass[s][a], acc);
            out[s] = acc;
        }
        out_l[i] = out[0];
        out_r[i] = out[1];
    }
}

void synth_reverb_free(SynthReverb* r) {
    free(r);
}
