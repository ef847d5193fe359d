// The instruction-set level every SIMD routine runs at: the rasterizer's fillers, the blits and the
// screen layers all ask here, so one switch moves them together. By default it is the widest level
// this processor has; QUILLET_SIMD (scalar, sse2 or avx2), read once at start by the programs,
// lowers it to check that every path gives the same bytes. A module's own lowering (blit_use_path,
// raster_path_set) applies below this ceiling.
#pragma once
#include <cstdio>

enum { SIMD_SCALAR = 0, SIMD_SSE2 = 1, SIMD_AVX2 = 2 };

int simd_best_level(void);          // the widest level this build and processor can run
int simd_level(void);               // the level in force (cheap: read on every draw call)
int simd_use_level(int level);      // capped to [SIMD_SCALAR, simd_best_level()]; returns the level set
const char* simd_level_name(int level);  // "scalar", "sse2", "avx2"
// "scalar", "sse2" or "avx2" to its level; 0 ok, 1 for any other text (level untouched).
int simd_parse_level(const char* text, int* level);
// Applies QUILLET_SIMD when set and not empty. 0 ok; 2 for an unknown value, after one line on err
// that starts with `program`.
int simd_init_from_env(const char* program, FILE* err);
