// Gradient noise in one, two and three dimensions, a fractal sum of the 3D noise, and a small
// multiplicative random generator for signed values.
//
// The noise is classic lattice gradient noise over 4096 cells per axis (it repeats with that
// period), eased with 3t^2 - 2t^3. Every function returns 0 at integer coordinates and stays
// roughly within [-1, 1]. The tables are program-wide: noise_init fills them once at start-up and
// everything else only reads them, so none of this allocates or fails. Before noise_init every
// noise function returns 0. Main thread only.
#pragma once
#include <cstdint>

constexpr int NOISE_CELLS = 4096;
constexpr int NOISE_MASK = 0xFFF;
constexpr int NOISE_TABLE = NOISE_CELLS + NOISE_CELLS + 2;

// The lattice: a permutation of 0..4095 and random gradients (1D in [-1, 1), 2D and 3D of unit
// length or zero), each followed by a copy of its first 4098 entries so that sums of two indices
// need no second mask.
extern int noise_perm[NOISE_TABLE];
extern float noise_grad1[NOISE_TABLE];
extern float noise_grad2[NOISE_TABLE][2];
extern float noise_grad3[NOISE_TABLE][3];

// State of random_signed; starts at 12345 and is never reset.
extern uint32_t random_state;

void noise_init(int seed);  // builds the tables from rand(); seed 0 leaves the runtime's generator alone
void noise_free(void);      // nothing to release: the tables are static

float noise1(float x);
float noise2(float x, float y);
float noise3(float x, float y, float z);
// Octaves at freq, freq/2, ... down to 1, each weighted 1/freq and added with its sign; 0 when
// freq < 1 (and for a non-finite freq, which would never halve below 1).
float noise3_fractal(float x, float y, float z, float freq);

float random_signed(void);  // next value in [-1, 1); advances random_state
