// Procedural patterns for the texture art: a seeded random generator, gradient noise that can tile
// with a given period, fractal sums and cellular distances. All results depend only on the
// arguments, so every picture is the same on every run.
#pragma once
#include <cstdint>

struct Rng {
    uint64_t state;
};
inline Rng rng_make(uint64_t seed) { return Rng{seed * 0x9E3779B97F4A7C15ull + 0x632BE59BD9B4E019ull}; }
uint32_t rng_next(Rng* rng);       // 32 random bits (splitmix64)
float rng_unit(Rng* rng);          // [0, 1)
float rng_range(Rng* rng, float lo, float hi);

// Gradient noise in about -1..1. With periods > 0 the lattice wraps every period_x cells across and
// period_y cells down, so the noise tiles on a rectangle of that many units.
float pattern_noise2(float x, float y, int period_x, int period_y, uint32_t seed);
// Fractal sum of octaves; each octave doubles the frequency and the periods and scales by gain.
float pattern_fbm2(float x, float y, int octaves, int period_x, int period_y, float gain, uint32_t seed);
// Distance to the nearest of one jittered feature point per cell (Worley), tiling with the period;
// second receives the distance to the second nearest when not null.
float pattern_cells(float x, float y, int period, uint32_t seed, float* second);
// Integer hash of a lattice point, for per-cell random choices.
uint32_t pattern_hash(int x, int y, uint32_t seed);
