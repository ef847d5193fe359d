// The piece, bar by bar. Every note is rendered by itself into a scratch buffer and mixed into
// full-length buses (dry, delay send, reverb send); the effects then run over the sends and the
// master stage fades the end and normalises the peak. The order of the calls is fixed, so the
// noise generators see the same sequence on every run.
#include "assets/music.h"

#include "assets/synth.h"

#include <cstdio>
#include <cstdlib>

const MusicSection music_sections[] = {
    {"intro", 0, 16},     {"groove", 16, 32},    {"full groove", 32, 96},
    {"dark", 96, 160},    {"breakdown", 160, 192}, {"build and drop", 192, 256},
    {"funk", 256, 320},   {"lead", 320, 385},    {"outro", 385, 434},
};
const int music_section_count = sizeof(music_sections) / sizeof(music_sections[0]);

namespace {

constexpr int SCRATCH = SYNTH_RATE * 20;     // longer than any single note
constexpr double BEAT_SECONDS = 60.0 / MUSIC_BPM;
constexpr int DUCK_FRAMES = SYNTH_RATE * 3 / 10;

struct Mix {
    int64_t frames;
    float* dry_l;
    float* dry_r;
    float* delay_l;
    float* delay_r;
    float* verb_l;
    float* verb_r;
    float* duck;     // gain of the pumped voices, dipping after every kick
    float* scratch;  // one note
    float duck_curve[DUCK_FRAMES];
    SynthRng drums;
    SynthRng humanise;
    int lead_previous;  // the lead's last note, to glide from; 0 before the first
};

struct Send {
    float gain;
    float pan;     // -1 left .. 1 right
    float delay;   // send levels
    float reverb;
    bool pumped;   // follows the kick's side-chain dip
};

int64_t beat_frame(double beat) {
    double f = beat * MUSIC_BEAT_FRAMES;
    return (int64_t)(f + 0.5);
}

void mix_add(Mix* m, int64_t start, int n, const Send& s) {
    if (start < 0 || start >= m->frames) return;
    if (start + n > m->frames) n = (int)(m->frames - start);
    double angle = (s.pan + 1.0) * SYNTH_PI / 4;  // equal-power pan
    float gl = s.gain * (float)synth_cos(angle) * 1.41421356f;
    float gr = s.gain * (float)synth_sin(angle) * 1.41421356f;
    for (int i = 0; i < n; i++) {
        float x = m->scratch[i];
        if (s.pumped) x *= m->duck[start + i];
        int64_t j = start + i;
        m->dry_l[j] += x * gl;
        m->dry_r[j] += x * gr;
        if (s.delay > 0) {
            m->delay_l[j] += x * gl * s.delay;
            m->delay_r[j] += x * gr * s.delay;
        }
        if (s.reverb > 0) {
            m->verb_l[j] += x * gl * s.reverb;
            m->verb_r[j] += x * gr * s.reverb;
        }
    }
}

// ---- Harmony: G minor ----

struct Chord {
    int root;      // bass note
    int notes[4];  // pad voicing, G3 and up so the lowest spectrum bins stay the kick's
};

const Chord GM = {43, {55, 58, 62, 67}};
const Chord EB = {39, {55, 58, 63, 67}};
const Chord BB = {46, {53, 58, 62, 65}};
const Chord F = {41, {53, 57, 60, 65}};
const Chord CM = {36, {55, 60, 63, 67}};
const Chord D = {38, {54, 57, 62, 66}};
const Chord GM7 = {43, {55, 58, 62, 65}};
const Chord C7 = {36, {55, 58, 60, 64}};
const Chord D7 = {38, {54, 57, 60, 66}};
const Chord EBMAJ7 = {39, {51, 55, 58, 62}};
const Chord CM7 = {36, {55, 58, 60, 63}};

const Chord* const PROG_MAIN[4] = {&GM, &EB, &BB, &F};
const Chord* const PROG_DARK[4] = {&GM, &CM, &EB, &D};
const Chord* const PROG_BREAK[4] = {&EBMAJ7, &BB, &CM7, &D};
const Chord* const PROG_FUNK[4] = {&GM7, &GM7, &C7, &D7};
const Chord* const PROG_OUTRO[4] = {&GM, &EB, &CM, &GM};

// ---- Drums ----

// The intro's kick: a quick sweep and a short body put its energy in the lowest spectrum bin on
// the beat and let it die away by the half beat, so the titles' bass reading pulses.
const SynthKick KICK_DEEP = {120.0f, 49.0f, 0.010f, 0.10f, 0.12f, 1.3f};
const SynthKick KICK_GROOVE = {165.0f, 49.0f, 0.013f, 0.105f, 0.3f, 1.6f};

void kick(Mix* m, double beat, const SynthKick* k, float gain, float pump) {
    int64_t at = beat_frame(beat);
    int n = synth_kick(m->scratch, SCRATCH, k, &m->drums);
    mix_add(m, at, n, Send{gain, 0.0f, 0.0f, 0.03f, false});
    if (pump <= 0) return;
    for (int i = 0; i < DUCK_FRAMES && at + i < m->frames; i++) {
        float g = 1.0f - pump * m->duck_curve[i];
        if (g < m->duck[at + i]) m->duck[at + i] = g;
    }
}

float vary(Mix* m, float amount) {
    return 1.0f + amount * synth_rng_signed(&m->humanise);
}

void snare(Mix* m, double beat, float gain) {
    int n = synth_snare(m->scratch, SCRATCH, 185.0f, 0.11f, &m->drums);
    mix_add(m, beat_frame(beat), n, Send{gain * vary(m, 0.05f), 0.05f, 0.0f, 0.25f, false});
}

void clap(Mix* m, double beat, float gain) {
    int n = synth_clap(m->scratch, SCRATCH, 0.075f, &m->drums);
    mix_add(m, beat_frame(beat), n, Send{gain, -0.05f, 0.0f, 0.35f, false});
}

void hat(Mix* m, double beat, bool open, float gain, float pan) {
    int n = open ? synth_hat(m->scratch, SCRATCH, 0.16f, 6500.0f, &m->drums)
                 : synth_hat(m->scratch, SCRATCH, 0.032f, 7500.0f, &m->drums);
    // Hats sit a little forward of the patterns' levels: the bass and kick own most of the energy.
    mix_add(m, beat_frame(beat), n, Send{1.5f * gain * vary(m, 0.12f), pan, 0.0f, 0.05f, false});
}

void crash(Mix* m, double beat, float gain) {
    int n = synth_crash(m->scratch, SCRATCH, 0.85f, &m->drums);
    mix_add(m, beat_frame(beat), n, Send{gain, 0.25f, 0.0f, 0.3f, false});
}

void riser(Mix* m, double beat, double beats, float gain) {
    int n = (int)(beats * MUSIC_BEAT_FRAMES);
    synth_riser(m->scratch, n, 250.0f, 5.0f, &m->drums);
    mix_add(m, beat_frame(beat), n, Send{gain, 0.0f, 0.2f, 0.5f, false});
}

// Drums of one 4/4 bar from a pattern of sixteen steps (' ' rest, 'x' normal, 'o' soft hit).
void steps(Mix* m, int bar_beat, const char* pattern, int which, float gain, float swing) {
    for (int s = 0; s < 16; s++) {
        char c = pattern[s];
        if (c == ' ' || c == '\0') continue;
        float g = c == 'o' ? gain * 0.35f : gain;
        double beat = bar_beat + s * 0.25 + ((s & 1) ? swing * 0.25 : 0.0);
        switch (which) {
            case 0: hat(m, beat, false, g, (s & 1) ? 0.25f : -0.15f); break;
            case 1: hat(m, beat, true, g, 0.3f); break;
            case 2: snare(m, beat, g); break;
            case 3: clap(m, beat, g); break;
        }
    }
}

// ---- Bass ----

struct BassStyle {
    float cutoff, env, decay, resonance, sub, gain;
};
const BassStyle BASS_GROOVE = {240.0f, 1300.0f, 0.11f, 1.3f, 0.45f, 0.42f};
const BassStyle BASS_DARK = {170.0f, 850.0f, 0.09f, 2.2f, 0.45f, 0.42f};
const BassStyle BASS_DROP = {300.0f, 1900.0f, 0.14f, 1.5f, 0.6f, 0.44f};
const BassStyle BASS_FUNK = {260.0f, 2600.0f, 0.07f, 3.6f, 0.35f, 0.40f};

struct BassNote {
    int step, length, interval;
    float accent;
};
const BassNote BASS_ROLL[] = {{2, 1, 0, 1.0f}, {3, 1, 0, 0.7f}, {6, 1, 0, 1.0f},  {7, 1, 12, 0.7f},
                              {10, 1, 0, 1.0f}, {11, 1, 0, 0.7f}, {14, 1, 7, 1.0f}, {15, 1, 12, 0.7f}};
const BassNote BASS_DRIVE[] = {{1, 1, 0, 0.7f},  {2, 1, 0, 1.0f},  {3, 1, 12, 0.8f}, {5, 1, 0, 0.7f},
                               {6, 1, 0, 1.0f},  {7, 1, 7, 0.8f},  {9, 1, 0, 0.7f},  {10, 1, 0, 1.0f},
                               {11, 1, 12, 0.8f}, {13, 1, 0, 0.7f}, {14, 1, 10, 1.0f}, {15, 1, 7, 0.8f}};
const BassNote BASS_OFFBEAT[] = {{2, 2, 0, 1.0f}, {6, 2, 0, 1.0f}, {10, 2, 0, 1.0f}, {14, 1, 12, 0.9f},
                                 {15, 1, 0, 0.8f}};
const BassNote BASS_SLAP[] = {{0, 2, 0, 1.0f},  {3, 1, 12, 0.75f}, {5, 1, 0, 0.55f}, {6, 1, 10, 0.85f},
                              {7, 1, 12, 0.7f}, {10, 2, 0, 0.95f}, {13, 1, 7, 0.7f},  {14, 1, 10, 0.8f},
                              {15, 1, 12, 0.7f}};

template <int N>
void bass_bar(Mix* m, int bar_beat, const Chord* chord, const BassNote (&notes)[N],
              const BassStyle& style, float swing) {
    for (int i = 0; i < N; i++) {
        const BassNote& b = notes[i];
        SynthBass v{};
        v.hz = (float)synth_note_hz(chord->root + b.interval);
        v.gate = (float)(b.length * 0.25 * BEAT_SECONDS * 0.82);
        v.cutoff_hz = style.cutoff;
        v.env_hz = style.env * b.accent;
        v.env_decay = style.decay;
        v.resonance = style.resonance;
        v.sub = style.sub;
        int n = synth_bass(m->scratch, SCRATCH, &v);
        double beat = bar_beat + b.step * 0.25 + ((b.step & 1) ? swing * 0.25 : 0.0);
        mix_add(m, beat_frame(beat), n, Send{style.gain * b.accent, 0.0f, 0.0f, 0.0f, true});
    }
}

// ---- Pads, arpeggio, lead ----

struct PadStyle {
    float cutoff, sweep, attack, release, gain, reverb;
};

void pad_chord(Mix* m, double beat, double beats, const Chord* chord, const PadStyle& st,
               bool pumped) {
    for (int i = 0; i < 4; i++) {
        for (int side = 0; side < 2; side++) {
            SynthPad p{};
            p.hz = (float)synth_note_hz(chord->notes[i]);
            p.gate = (float)(beats * BEAT_SECONDS);
            p.attack = st.attack;
            p.release = st.release;
            p.detune_cents = side ? 14.0f : 11.0f;
            p.voices = 3;
            p.cutoff_hz = st.cutoff + 120.0f * i;
            p.sweep_hz = st.sweep;
            p.sweep_period = 8.0f * (float)BEAT_SECONDS * (side ? 1.0f : 1.25f);
            p.phase_seed = (float)(((chord->notes[i] * 7 + side * 3 + (int)beat) % 97) / 97.0);
            p.time_offset = beat * BEAT_SECONDS;
            int n = synth_pad(m->scratch, SCRATCH, &p);
            float pan = (side ? 0.7f : -0.7f) * (0.6f + 0.13f * i);
            mix_add(m, beat_frame(beat), n, Send{st.gain, pan, 0.0f, st.reverb, pumped});
        }
    }
}

void arp_bar(Mix* m, int bar_beat, const Chord* chord, float gain, float cutoff, int count) {
    static const int ORDER[16] = {0, 1, 2, 3, 4, 3, 2, 1, 0, 2, 1, 3, 2, 4, 3, 1};
    for (int s = 0; s < count; s++) {
        int k = ORDER[s];
        int note = k < 4 ? chord->notes[k] + 12 : chord->notes[0] + 24;
        SynthPulseVoice v{};
        v.hz = (float)synth_note_hz(note);
        v.env = SynthAdsr{0.002f, 0.16f, 0.15f, 0.09f};
        v.gate = (float)(0.2 * BEAT_SECONDS);
        v.width = 0.32f;
        v.width_motion = 0.12f;
        v.cutoff_hz = cutoff;
        v.env_cutoff_hz = 2400.0f;
        int n = synth_pulse_voice(m->scratch, SCRATCH, &v);
        float pan = (s & 1) ? 0.35f : -0.35f;
        mix_add(m, beat_frame(bar_beat + s * 0.25), n, Send{gain, pan, 0.55f, 0.25f, true});
    }
}

struct LeadNote {
    double at, length;
    int note;
};
const LeadNote PHRASE_A[] = {{0, 1.5, 74},   {1.5, 0.5, 70}, {2, 1, 72},    {3, 1, 74},
                             {4, 1.5, 75},   {5.5, 0.5, 74}, {6, 1, 72},    {7, 1, 70},
                             {8, 1, 74},     {9, 1, 77},     {10, 0.5, 75}, {10.5, 0.5, 74},
                             {11, 1, 72},    {12, 1.5, 72},  {13.5, 0.5, 69}, {14, 2, 72}};
const LeadNote PHRASE_B[] = {{0, 1.5, 79},  {1.5, 0.5, 77}, {2, 1, 74},     {3, 1, 70},
                             {4, 1, 79},    {5, 0.5, 77},   {5.5, 0.5, 75}, {6, 1, 74},
                             {7, 1, 75},    {8, 1.5, 77},   {9.5, 0.5, 74}, {10, 1, 70},
                             {11, 1, 74},   {12, 1.5, 72},  {13.5, 0.5, 74}, {14, 2, 69}};
const LeadNote PHRASE_END[] = {{12, 1, 69}, {13, 1, 70}, {14, 3, 67}};

template <int N>
void lead_phrase(Mix* m, int start_beat, const LeadNote (&notes)[N], double until) {
    for (int i = 0; i < N; i++) {
        const LeadNote& l = notes[i];
        if (l.at >= until) break;
        SynthPulseVoice v{};
        v.hz = (float)synth_note_hz(l.note);
        v.glide_from_hz = m->lead_previous ? (float)synth_note_hz(m->lead_previous) : 0.0f;
        v.glide_time = 0.025f;
        v.env = SynthAdsr{0.012f, 0.3f, 0.75f, 0.18f};
        v.gate = (float)(l.length * BEAT_SECONDS * 0.92);
        v.width = 0.45f;
        v.width_motion = 0.08f;
        v.vibrato_cents = 22.0f;
        v.vibrato_hz = 5.4f;
        v.vibrato_delay = 0.22f;
        v.cutoff_hz = 2300.0f;
        v.env_cutoff_hz = 1800.0f;
        int n = synth_pulse_voice(m->scratch, SCRATCH, &v);
        mix_add(m, beat_frame(start_beat + l.at), n, Send{0.26f, 0.1f, 0.4f, 0.35f, false});
        m->lead_previous = l.note;
    }
}

// ---- The sections ----

const char* const HAT_OFF = "  x   x   x   x ";
const char* const HAT_16 = "o x o x o x o xo";
const char* const HAT_OPEN = "  x   x   x   x ";
const char* const BACKBEAT = "    x       x   ";

void groove_bar(Mix* m, int b, const Chord* c, const BassNote (&bass)[8], const BassStyle& style) {
    for (int k = 0; k < 4; k++) kick(m, b + k, &KICK_GROOVE, 0.95f, 0.55f);
    bass_bar(m, b, c, bass, style, 0.0f);
}

void render_arrangement(Mix* m) {
    const PadStyle pad_intro = {700.0f, 350.0f, 1.4f, 1.6f, 0.075f, 0.5f};
    const PadStyle pad_main = {1100.0f, 500.0f, 0.5f, 1.0f, 0.062f, 0.4f};
    const PadStyle pad_dark = {650.0f, 300.0f, 0.6f, 1.0f, 0.07f, 0.45f};
    const PadStyle pad_break = {1700.0f, 900.0f, 1.0f, 2.0f, 0.08f, 0.6f};
    const PadStyle pad_bright = {2000.0f, 700.0f, 0.3f, 1.0f, 0.055f, 0.4f};

    // Intro, 0-16: pads swelling over a deep kick on every beat; a riser into the groove.
    for (int b = 0; b < 16; b += 4) pad_chord(m, b, 4, PROG_MAIN[(b / 4) % 4], pad_intro, false);
    for (int b = 0; b < 16; b++) kick(m, b, &KICK_DEEP, 1.0f, 0.0f);
    riser(m, 12, 4, 0.05f);

    // Groove, 16-32: hats and bass join.
    crash(m, 16, 0.22f);
    for (int b = 16; b < 32; b += 4) {
        const Chord* c = PROG_MAIN[(b / 4) % 4];
        groove_bar(m, b, c, BASS_ROLL, BASS_GROOVE);
        steps(m, b, b < 24 ? HAT_OFF : HAT_16, 0, 0.16f, 0.0f);
        pad_chord(m, b, 4, c, pad_main, true);
    }

    // Full groove, 32-96: claps, open hats, an arpeggio in the second half, fills every 8 bars.
    for (int b = 32; b < 96; b += 4) {
        const Chord* c = PROG_MAIN[(b / 4) % 4];
        if (b % 32 == 0) crash(m, b, 0.22f);
        groove_bar(m, b, c, BASS_ROLL, BASS_GROOVE);
        steps(m, b, HAT_16, 0, 0.16f, 0.0f);
        if ((b / 4) % 2) steps(m, b, HAT_OPEN, 1, 0.1f, 0.0f);
        steps(m, b, BACKBEAT, 3, 0.4f, 0.0f);
        pad_chord(m, b, 4, c, pad_main, true);
        if (b >= 64) arp_bar(m, b, c, 0.07f, 900.0f + (b - 64) * 25.0f, 16);
        if (b % 32 == 28) steps(m, b, "            xoxx", 2, 0.3f, 0.0f);
    }

    // Dark, 96-160: the minor progression with its major dominant, snare and ghost notes,
    // a driving sixteenth bass, darker pads.
    for (int b = 96; b < 160; b += 4) {
        const Chord* c = PROG_DARK[(b / 4) % 4];
        if (b % 32 == 0) crash(m, b, 0.2f);
        for (int k = 0; k < 4; k++) kick(m, b + k, &KICK_GROOVE, 0.95f, 0.5f);
        if (b % 16 == 12) kick(m, b + 3.5, &KICK_GROOVE, 0.6f, 0.3f);
        bass_bar(m, b, c, BASS_DRIVE, BASS_DARK, 0.0f);
        steps(m, b, "x x x x x x x x ", 0, 0.13f, 0.0f);
        steps(m, b, "    x  o o   x o", 2, 0.42f, 0.0f);
        pad_chord(m, b, 4, c, pad_dark, true);
    }

    // Breakdown, 160-192: no kick and no bass; wide pads and the arpeggio through the delay.
    for (int b = 160; b < 192; b += 4) {
        const Chord* c = PROG_BREAK[(b / 4) % 4];
        pad_chord(m, b, 4, c, pad_break, false);
        arp_bar(m, b, c, 0.085f, 1200.0f + (b - 160) * 40.0f, 16);
    }
    riser(m, 184, 8, 0.04f);

    // Build-up, 192-224: kick on the beat, a snare roll getting denser, rising filters, a gap
    // before the drop.
    for (int b = 192; b < 224; b += 4) {
        const Chord* c = PROG_MAIN[(b / 4) % 4];
        for (int k = 0; k < 4; k++)
            if (b + k < 223) kick(m, b + k, &KICK_GROOVE, 0.8f + (b - 192) * 0.005f, 0.4f);
        const char* roll = b < 208 ? "x   x   x   x   " : (b < 216 ? "x x x x x x x x " : "xxxxxxxxxxxxxxxx");
        float level = 0.12f + (b - 192) * 0.008f;
        if (b < 220)
            steps(m, b, roll, 2, level, 0.0f);
        else
            steps(m, b, "xxxxxxxxxxxx    ", 2, level, 0.0f);
        PadStyle rising = pad_main;
        rising.cutoff = 500.0f + (b - 192) * 60.0f;
        pad_chord(m, b, 4, c, rising, true);
        if (b >= 208) bass_bar(m, b, c, BASS_ROLL, BASS_GROOVE, 0.0f);
        arp_bar(m, b, c, 0.05f + (b - 192) * 0.001f, 800.0f + (b - 192) * 60.0f, b < 220 ? 16 : 12);
    }
    riser(m, 208, 15, 0.08f);

    // Drop, 224-256: everything at once, brighter.
    for (int b = 224; b < 256; b += 4) {
        const Chord* c = PROG_MAIN[(b / 4) % 4];
        if (b % 16 == 0) crash(m, b, 0.25f);
        for (int k = 0; k < 4; k++) kick(m, b + k, &KICK_GROOVE, 1.0f, 0.6f);
        bass_bar(m, b, c, BASS_OFFBEAT, BASS_DROP, 0.0f);
        steps(m, b, HAT_16, 0, 0.17f, 0.0f);
        steps(m, b, HAT_OPEN, 1, 0.11f, 0.0f);
        steps(m, b, BACKBEAT, 3, 0.42f, 0.0f);
        pad_chord(m, b, 4, c, pad_bright, true);
        arp_bar(m, b, c, 0.07f, 2200.0f, 16);
    }

    // Funk, 256-320: a syncopated slap bass, broken kick, ghosted snare, swung sixteenths and
    // short chord stabs.
    const float swing = 0.14f;
    for (int b = 256; b < 320; b += 4) {
        const Chord* c = PROG_FUNK[(b / 4) % 4];
        if (b % 32 == 0) crash(m, b, 0.2f);
        const double kicks[] = {0, 1.5, 2.5, 3.75};
        for (double k : kicks) kick(m, b + k, &KICK_GROOVE, k == 0 ? 1.0f : 0.85f, 0.45f);
        bass_bar(m, b, c, BASS_SLAP, BASS_FUNK, swing);
        steps(m, b, "xoxoxoxoxoxoxoxx", 0, 0.15f, swing);
        steps(m, b, "    x  o o o x o", 2, 0.45f, swing);
        if ((b / 4) % 2) steps(m, b, "          x     ", 1, 0.1f, swing);
        const PadStyle stab = {2600.0f, 200.0f, 0.005f, 0.18f, 0.06f, 0.3f};
        pad_chord(m, b + 1.5 + swing * 0.25, 0.3, c, stab, false);
        pad_chord(m, b + 3.5 + swing * 0.25, 0.3, c, stab, false);
        PadStyle bed = pad_dark;
        bed.gain = 0.035f;
        pad_chord(m, b, 4, c, bed, true);
    }

    // Lead, 320-385: the groove under a sung pulse lead with vibrato and echoes.
    for (int b = 320; b < 385; b += 4) {
        const Chord* c = PROG_MAIN[(b / 4) % 4];
        if (b % 32 == 0) crash(m, b, 0.22f);
        if (b == 384) {
            kick(m, b, &KICK_GROOVE, 1.0f, 0.6f);
            pad_chord(m, b, 1, c, pad_main, true);
            break;
        }
        groove_bar(m, b, c, BASS_ROLL, BASS_GROOVE);
        steps(m, b, HAT_16, 0, 0.15f, 0.0f);
        steps(m, b, BACKBEAT, 3, 0.38f, 0.0f);
        pad_chord(m, b, 4, c, pad_main, true);
        arp_bar(m, b, c, 0.04f, 1000.0f, 16);
    }
    lead_phrase(m, 320, PHRASE_A, 16);
    lead_phrase(m, 336, PHRASE_B, 16);
    lead_phrase(m, 352, PHRASE_A, 16);
    lead_phrase(m, 368, PHRASE_B, 12);
    lead_phrase(m, 368, PHRASE_END, 16);

    // Outro, 385-434: an impact, then pads and a thinning arpeggio that fade out by beat 434.
    crash(m, 385, 0.25f);
    for (int i = 0; i < 3; i++) {
        int b = 385 + 4 * i;
        for (int k = 0; k < 4; k++) kick(m, b + k, &KICK_DEEP, 0.8f - 0.2f * i, 0.0f);
    }
    for (int b = 385; b < 425; b += 4) {
        const Chord* c = PROG_OUTRO[((b - 385) / 4) % 4];
        pad_chord(m, b, b < 421 ? 4 : 8, c, pad_intro, false);
        if (b < 413) arp_bar(m, b, c, 0.06f - (b - 385) * 0.0015f, 1400.0f, b < 401 ? 16 : 8);
    }
}

// Side-chain dip: down within 3 ms, back up over 300 ms.
void duck_curve_build(float* curve) {
    int attack = SYNTH_RATE * 3 / 1000;
    for (int i = 0; i < DUCK_FRAMES; i++) {
        float x = (float)i / DUCK_FRAMES;
        float fall = (1.0f - x) * (1.0f - x);
        curve[i] = i < attack ? fall * (float)i / attack : fall;
    }
}

}  // namespace

MusicTrack* music_render() {
    const int64_t frames = MUSIC_FRAMES;
    size_t bus_floats = (size_t)frames * 7 + SCRATCH;
    Mix* m = (Mix*)calloc(1, sizeof(Mix));
    float* buses = (float*)calloc(bus_floats, sizeof(float));
    MusicTrack* track = (MusicTrack*)malloc(sizeof(MusicTrack) + sizeof(float) * 2 * (size_t)frames);
    SynthDelay* delay = synth_delay_create(MUSIC_BEAT_FRAMES * 3 / 4, 0.42f, 3200.0);
    SynthReverb* verb = synth_reverb_create(0.82f, 0.45f);
    if (!m || !buses || !track || !delay || !verb) {
        printf("soundtrack: out of memory\n");
        free(m);
        free(buses);
        free(track);
        synth_delay_free(delay);
        synth_reverb_free(verb);
        return nullptr;
    }
    m->frames = frames;
    m->dry_l = buses;
    m->dry_r = m->dry_l + frames;
    m->delay_l = m->dry_r + frames;
    m->delay_r = m->delay_l + frames;
    m->verb_l = m->delay_r + frames;
    m->verb_r = m->verb_l + frames;
    m->duck = m->verb_r + frames;
    m->scratch = m->duck + frames;
    for (int64_t i = 0; i < frames; i++) m->duck[i] = 1.0f;
    duck_curve_build(m->duck_curve);
    m->drums = synth_rng(1985);
    m->humanise = synth_rng(105);

    render_arrangement(m);

    // Echoes feed the reverb too; both returns join the dry mix.
    synth_delay_run(delay, m->delay_l, m->delay_r, m->delay_l, m->delay_r, frames);
    for (int64_t i = 0; i < frames; i++) {
        m->verb_l[i] += 0.3f * m->delay_l[i];
        m->verb_r[i] += 0.3f * m->delay_r[i];
    }
    synth_reverb_run(verb, m->verb_l, m->verb_r, m->verb_l, m->verb_r, frames);

    // Master: fade over the last 36 beats to exact silence at the end, then normalise the peak.
    const int64_t fade_start = (int64_t)(MUSIC_BEATS - 36) * MUSIC_BEAT_FRAMES;
    const double fade_len = (double)(frames - fade_start);
    track->frames = frames;
    track->left = (float*)(track + 1);
    track->right = track->left + frames;
    float peak = 0.0f;
    for (int64_t i = 0; i < frames; i++) {
        float l = m->dry_l[i] + 0.45f * m->delay_l[i] + m->verb_l[i];
        float r = m->dry_r[i] + 0.45f * m->delay_r[i] + m->verb_r[i];
        if (i >= fade_start) {
            float g = (float)((frames - i) / fade_len);
            l *= g * g;
            r *= g * g;
        }
        track->left[i] = l;
        track->right[i] = r;
        float a = l < 0 ? -l : l, b = r < 0 ? -r : r;
        if (a > peak) peak = a;
        if (b > peak) peak = b;
    }
    track->gain = peak > 0 ? MUSIC_PEAK / peak : 1.0f;
    for (int64_t i = 0; i < frames; i++) {
        track->left[i] *= track->gain;
        track->right[i] *= track->gain;
    }

    synth_delay_free(delay);
    synth_reverb_free(verb);
    free(buses);
    free(m);
    return track;
}

void music_track_free(MusicTrack* track) {
    free(track);
}
