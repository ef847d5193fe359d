#include "assets/pattern.h"

#include <cmath>

uint32_t rng_next(Rng* rng) {
    uint64_t z = (rng->state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return (uint32_t)((z ^ (z >> 31)) >> 32);
}

float rng_unit(Rng* rng) { return (rng_next(rng) >> 8) * (1.0f / 16777216.0f); }

float rng_range(Rng* rng, float lo, float hi) { return lo + (hi - lo) * rng_unit(rng); }

uint32_t pattern_hash(int x, int y, uint32_t seed) {
    uint32_t h = (uint32_t)x * 0x8DA6B343u ^ (uint32_t)y * 0xD8163841u ^ seed * 0xCB1AB31Fu;
    h ^= h >> 15;
    h *= 0x2C1B3C6Du;
    h ^= h >> 12;
    h *= 0x297A2D39u;
    h ^= h >> 15;
    return h;
}

static inline int wrap(int v, int period) {
    if (period <= 0) return v;
    v %= period;
    return v < 0 ? v + period : v;
}

// Unit gradient of one of 16 directions for a lattice point.
static inline void gradient(int x, int y, uint32_t seed, float* gx, float* gy) {
    static const float dirs[16][2] = {
        {1.0f, 0.0f},         {0.9238795f, 0.3826834f},  {0.7071068f, 0.7071068f},  {0.3826834f, 0.9238795f},
        {0.0f, 1.0f},         {-0.3826834f, 0.9238795f}, {-0.7071068f, 0.7071068f}, {-0.9238795f, 0.3826834f},
        {-1.0f, 0.0f},        {-0.9238795f, -0.3826834f}, {-0.7071068f, -0.7071068f}, {-0.3826834f, -0.9238795f},
        {0.0f, -1.0f},        {0.3826834f, -0.9238795f}, {0.7071068f, -0.7071068f},  {0.9238795f, -0.3826834f}};
    uint32_t h = pattern_hash(x, y, seed) >> 28;
    *gx = dirs[h][0];
    *gy = dirs[h][1];
}

static inline float fade(float t) { return t * t * t * (t * (t * 6.0f - 15.0f) + 10.0f); }

float pattern_noise2(float x, float y, int period_x, int period_y, uint32_t seed) {
    float fx = std::floor(x), fy = std::floor(y);
    int ix = (int)fx, iy = (int)fy;
    float dx = x - fx, dy = y - fy;
    float v[4];
    for (int k = 0; k < 4; k++) {
        int ox = k & 1, oy = k >> 1;
        float gx, gy;
        gradient(wrap(ix + ox, period_x), wrap(iy + oy, period_y), seed, &gx, &gy);
        v[k] = gx * (dx - ox) + gy * (dy - oy);
    }
    float u = fade(dx), w = fade(dy);
    float a = v[0] + (v[1] - v[0]) * u;
    float b = v[2] + (v[3] - v[2]) * u;
    return (a + (b - a) * w) * 1.4142135f;
}

float pattern_fbm2(float x, float y, int octaves, int period_x, int period_y, float gain, uint32_t seed) {
    float sum = 0.0f, amp = 1.0f, norm = 0.0f;
    for (int o = 0; o < octaves; o++) {
        sum += pattern_noise2(x, y, period_x, period_y, seed + (uint32_t)o * 101u) * amp;
        norm += amp;
        amp *= gain;
        x *= 2.0f;
        y *= 2.0f;
        period_x *= 2;
        period_y *= 2;
    }
    return sum / norm;
}

float pattern_cells(float x, float y, int period, uint32_t seed, float* second) {
    int ix = (int)std::floor(x), iy = (int)std::floor(y);
    float best = 1e9f, next = 1e9f;
    for (int oy = -1; oy <= 1; oy++)
        for (int ox = -1; ox <= 1; ox++) {
            int cx = ix + ox, cy = iy + oy;
            uint32_t h = pattern_hash(wrap(cx, period), wrap(cy, period), seed);
            float px = cx + (h & 0xFFFF) / 65536.0f, py = cy + (h >> 16) / 65536.0f;
            float d = std::sqrt((px - x) * (px - x) + (py - y) * (py - y));
            if (d < best) {
                next = best;
                best = d;
            } else if (d < next) {
                next = d;
            }
        }
    if (second) *second = next;
    return best;
}
