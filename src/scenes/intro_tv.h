// The intro's title images and spinning screens, their opacity following the bass of the music.
#pragma once
#include <cstdint>

#include "gfx/image.h"

// The low eight bits of floor(x) as an opacity byte: loud levels wrap round rather than saturate,
// which gives the titles their flicker on strong beats. Non-finite values give 0.
uint32_t intro_opacity_byte(float x);
// The image as a screen rectangle of half sizes hw, hh turned by angle about its centre, alpha
// blended with the per-channel opacity alpha (0..255). Mirrored (negative) sizes draw too.
void quad_draw(const Image* image, uint32_t alpha, float centre_x, float centre_y, float hw,
               float hh, float angle);
// The smoothed bass level carried from frame to frame (0 after init).
float intro_tv_bass_level(void);
void intro_tv_set_bass_level(float level);
