// Lattice gradient noise and the signed random generator. Products are formed in double from
// float inputs and rounded back to float at each step, so results do not depend on how the
// compiler would otherwise have kept intermediates.
#include "procedural/noise.h"

#include <cfloat>
#include <cmath>
#include <cstdlib>
#include <cstring>

int noise_perm[NOISE_TABLE];
float noise_grad1[NOISE_TABLE];
float noise_grad2[NOISE_TABLE][2];
float noise_grad3[NOISE_TABLE][3];
uint32_t random_state = 12345;

// One of the 8192 values -1, -1 + 1/4096, ..., 1 - 1/4096.
static float noise_random_component(void) {
    return (float)((rand() % (NOISE_CELLS + NOISE_CELLS)) - NOISE_CELLS) / NOISE_CELLS;
}

// Scales v to unit length; a vector too short to have a direction becomes zero.
static void noise_normalize(float* v, int n) {
    double len2 = 0.0;
    for (int k = 0; k < n; k++) len2 += (double)v[k] * v[k];
    if (len2 > -1e-16f && len2 < 1e-16f) {
        for (int k = 0; k < n; k++) v[k] = 0.0f;
        return;
    }
    float inv = (float)(1.0 / (double)(float)sqrt(len2));
    for (int k = 0; k < n; k++) v[k] = (float)((double)v[k] * inv);
}

void noise_init(int seed) {
    if (seed != 0) srand((unsigned)seed);
    for (int i = 0; i < NOISE_CELLS; i++) {
        noise_perm[i] = i;
        noise_grad1[i] = noise_random_component();
        for (int k = 0; k < 2; k++) noise_grad2[i][k] = noise_random_component();
        noise_normalize(noise_grad2[i], 2);
        for (int k = 0; k < 3; k++) noise_grad3[i][k] = noise_random_component();
        noise_normalize(noise_grad3[i], 3);
    }
    for (int i = NOISE_CELLS - 1; i > 0; i--) {
        int j = rand() % NOISE_CELLS;
        int swap = noise_perm[i];
        noise_perm[i] = noise_perm[j];
        noise_perm[j] = swap;
    }
    for (int i = 0; i < NOISE_CELLS + 2; i++) {
        noise_perm[NOISE_CELLS + i] = noise_perm[i];
        noise_grad1[NOISE_CELLS + i] = noise_grad1[i];
        memcpy(noise_grad2[NOISE_CELLS + i], noise_grad2[i], sizeof noise_grad2[i]);
        memcpy(noise_grad3[NOISE_CELLS + i], noise_grad3[i], sizeof noise_grad3[i]);
    }
}

void noise_free(void) {}

// The two lattice cells around one coordinate and the offsets to them. The coordinate is shifted
// by one period so that small negative inputs still truncate towards the lower cell.
struct NoiseAxis {
    int b0, b1;
    float r0, r1;
};

static inline NoiseAxis noise_axis(float v) {
    NoiseAxis a;
    float t = (float)((double)v + 4096.0);
    // Truncation through 64 bits keeps every finite input defined; beyond that range a float is
    // a whole number anyway, and infinities or NaN give a NaN offset instead of undefined behaviour.
    int64_t whole = 0;
    double frac;
    if (t > -9.0e18f && t < 9.0e18f) {
        whole = (int64_t)t;
        frac = (double)t - (double)whole;
    } else {
        frac = (double)t - (double)t;
    }
    a.b0 = (int)(whole & NOISE_MASK);
    a.b1 = (a.b0 + 1) & NOISE_MASK;
    a.r0 = (float)frac;
    a.r1 = (float)((double)a.r0 - 1.0);
    return a;
}

static inline float noise_ease(float r) {
    return (float)((double)r * r * (3.0 - 2.0 * r));
}

static inline float noise_lerp(float t, float a, float b) {
    return (float)(a + (double)t * ((double)b - a));
}

static inline float noise_dot2(const float* g, float x, float y) {
    return (float)((double)x * g[0] + (double)y * g[1]);
}

static inline float noise_dot3(const float* g, float x, float y, float z) {
    return (float)((double)x * g[0] + (double)y * g[1] + (double)z * g[2]);
}

float noise1(float x) {
    NoiseAxis ax = noise_axis(x);
    float sx = noise_ease(ax.r0);
    float u = (float)((double)ax.r0 * noise_grad1[noise_perm[ax.b0]]);
    float v = (float)((double)ax.r1 * noise_grad1[noise_perm[ax.b1]]);
    return noise_lerp(sx, u, v);
}

float noise2(float x, float y) {
    NoiseAxis ax = noise_axis(x), ay = noise_axis(y);
    int i = noise_perm[ax.b0], j = noise_perm[ax.b1];
    int b00 = noise_perm[i + ay.b0], b10 = noise_perm[j + ay.b0];
    int b01 = noise_perm[i + ay.b1], b11 = noise_perm[j + ay.b1];
    float sx = noise_ease(ax.r0), sy = noise_ease(ay.r0);

    float u = noise_dot2(noise_grad2[b00], ax.r0, ay.r0);
    float v = noise_dot2(noise_grad2[b10], ax.r1, ay.r0);
    float a = noise_lerp(sx, u, v);
    u = noise_dot2(noise_grad2[b01], ax.r0, ay.r1);
    v = noise_dot2(noise_grad2[b11], ax.r1, ay.r1);
    float b = noise_lerp(sx, u, v);
    return noise_lerp(sy, a, b);
}

float noise3(float x, float y, float z) {
    NoiseAxis ax = noise_axis(x), ay = noise_axis(y), az = noise_axis(z);
    int i = noise_perm[ax.b0], j = noise_perm[ax.b1];
    int b00 = noise_perm[i + ay.b0], b10 = noise_perm[j + ay.b0];
    int b01 = noise_perm[i + ay.b1], b11 = noise_perm[j + ay.b1];
    float sx = noise_ease(ax.r0), sy = noise_ease(ay.r0), sz = noise_ease(az.r0);

    float u = noise_dot3(noise_grad3[b00 + az.b0], ax.r0, ay.r0, az.r0);
    float v = noise_dot3(noise_grad3[b10 + az.b0], ax.r1, ay.r0, az.r0);
    float a = noise_lerp(sx, u, v);
    u = noise_dot3(noise_grad3[b01 + az.b0], ax.r0, ay.r1, az.r0);
    v = noise_dot3(noise_grad3[b11 + az.b0], ax.r1, ay.r1, az.r0);
    float b = noise_lerp(sx, u, v);
    float c = noise_lerp(sy, a, b);

    u = noise_dot3(noise_grad3[b00 + az.b1], ax.r0, ay.r0, az.r1);
    v = noise_dot3(noise_grad3[b10 + az.b1], ax.r1, ay.r0, az.r1);
    a = noise_lerp(sx, u, v);
    u = noise_dot3(noise_grad3[b01 + az.b1], ax.r0, ay.r1, az.r1);
    v = noise_dot3(noise_grad3[b11 + az.b1], ax.r1, ay.r1, az.r1);
    b = noise_lerp(sx, u, v);
    float d = noise_lerp(sy, a, b);

    return noise_lerp(sz, c, d);
}

float noise3_fractal(float x, float y, float z, float freq) {
    // An infinite frequency never halves below 1: without this the loop would not end.
    if (!(freq <= FLT_MAX)) return 0.0f;
    float sum = 0.0f;
    while (freq >= 1.0f) {
        float n = noise3(freq * x, freq * y, freq * z);
        sum = (float)(sum + (double)n / freq);
        freq = freq / 2.0f;
    }
    return sum;
}

float random_signed(void) {
    random_state = random_state * 16807u;
    uint32_t bits = 0x40000000u | (random_state & 0x7FFFFFu);
    float value;
    memcpy(&value, &bits, sizeof value);
    return value - 3.0f;
}
