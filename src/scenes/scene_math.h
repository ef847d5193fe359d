// Small maths shared by the scenes and the data-set tools. The show is pinned to its bits, so these
// are the exact float expressions every user wrote before: change one and every frame changes.
#pragma once
#include <cmath>

inline constexpr float kPi = 3.14159265358979f;
inline constexpr float kTwoPi = 6.28318530717959f;  // the same float as 2 * kPi

// x - floor(x): in [0, 1) for every finite x, negative ones included.
inline float frac(float x) { return x - std::floor(x); }
// Multiplied left to right; the scenes' ease over a beat fraction.
inline float pow4(float x) { return x * x * x * x; }
