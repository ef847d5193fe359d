// Texture table and the art of the surfaces, environments and backgrounds.
#include "assets/textures.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "assets/image_files.h"
#include "assets/pattern.h"
#include "scenes/scene_math.h"

namespace {

inline Colour grey(float v, float a = 1.0f) { return Colour{v, v, v, a}; }
inline Colour scale(Colour c, float k) { return Colour{c.r * k, c.g * k, c.b * k, c.a}; }
inline Colour add(Colour a, Colour b) { return Colour{a.r + b.r, a.g + b.g, a.b + b.b, a.a}; }
inline Colour clamp_colour(Colour c) { return Colour{clamp01(c.r), clamp01(c.g), clamp01(c.b), clamp01(c.a)}; }

// Shortest signed offset between two coordinates on a ring of the given size.
inline float wrap_delta(float d, float size) {
    d = std::fmod(d, size);
    if (d > size * 0.5f) d -= size;
    if (d < -size * 0.5f) d += size;
    return d;
}

Canvas* blank(const TextureSpec* spec) { return canvas_new(spec->width, spec->height); }

// ---- 0: point light ------------------------------------------------------------------------------

Canvas* paint_pointlight(const TextureSpec* spec) {
    Canvas* c = blank(spec);
    if (!c) return nullptr;
    canvas_shade(c, [&](int x, int y) {
        float dx = (x + 0.5f - 128.0f) / 128.0f, dy = (y + 0.5f - 128.0f) / 128.0f;
        float r = std::sqrt(dx * dx + dy * dy);
        float core = std::exp(-(r / 0.07f) * (r / 0.07f));
        float halo = std::exp(-(r / 0.3f) * (r / 0.3f)) * 0.8f;
        float tail = 0.35f / (1.0f + (r / 0.12f) * (r / 0.12f)) * (1.0f - smoothstepf(0.6f, 1.0f, r));
        Colour col = add(add(grey(core), scale(colour_rgb(1.0f, 0.78f, 0.5f), halo)),
                         scale(colour_rgb(1.0f, 0.45f, 0.15f), tail));
        col.a = 1.0f;
        return clamp_colour(col);
    });
    return c;
}

// ---- 1: glowing rings and dots, tiling -----------------------------------------------------------

Canvas* paint_circle_particle(const TextureSpec* spec) {
    Canvas* c = blank(spec);
    if (!c) return nullptr;
    struct Feature {
        float x, y, radius, width, strength;
        Colour colour;
    };
    std::vector<Feature> features;
    Rng rng = rng_make(11);
    const Colour cyan = colour_rgb(0.35f, 0.95f, 1.0f), blue = colour_rgb(0.2f, 0.45f, 1.0f);
    for (int cy = 0; cy < 4; cy++)
        for (int cx = 0; cx < 4; cx++) {
            Feature f;
            f.x = cx * 64 + 32 + rng_range(&rng, -12, 12);
            f.y = cy * 64 + 32 + rng_range(&rng, -12, 12);
            f.radius = rng_range(&rng, 9, 24);
            f.width = rng_range(&rng, 1.2f, 2.4f);
            f.strength = rng_range(&rng, 0.7f, 1.0f);
            f.colour = colour_mix(cyan, blue, rng_unit(&rng));
            features.push_back(f);
        }
    for (int i = 0; i < 48; i++) {
        Feature f;
        f.x = rng_range(&rng, 0, 256);
        f.y = rng_range(&rng, 0, 256);
        f.radius = 0.0f;
        f.width = rng_range(&rng, 1.0f, 2.6f);
        f.strength = rng_range(&rng, 0.5f, 1.0f);
        f.colour = colour_mix(cyan, blue, rng_unit(&rng));
        features.push_back(f);
    }
    canvas_shade(c, [&](int x, int y) {
        Colour sum = grey(0.0f);
        for (const Feature& f : features) {
            float dx = wrap_delta(x + 0.5f - f.x, 256.0f), dy = wrap_delta(y + 0.5f - f.y, 256.0f);
            float d = std::sqrt(dx * dx + dy * dy);
            if (d > f.radius + 30.0f) continue;
            float e = (d - f.radius) / f.width;
            float glow = std::exp(-e * e) + 0.25f * std::exp(-e * e / 16.0f);
            if (f.radius > 0.0f) glow += 0.06f * (1.0f - smoothstepf(0.0f, f.radius, d));  // faint fill
            sum = add(sum, scale(f.colour, glow * f.strength));
            if (f.radius > 0.0f || f.width > 2.0f) sum = add(sum, grey(0.35f * std::exp(-e * e * 3.0f) * f.strength));
        }
        sum.a = 1.0f;
        return clamp_colour(sum);
    });
    return c;
}

// ---- 2: cube face with ambient occlusion ---------------------------------------------------------

Canvas* paint_cube_shadow(const TextureSpec* spec) {
    Canvas* c = blank(spec);
    if (!c) return nullptr;
    const float n = (float)spec->width;
    canvas_shade(c, [&](int x, int y) {
        float ex = std::fmin(x + 0.5f, n - x - 0.5f), ey = std::fmin(y + 0.5f, n - y - 0.5f);
        float e = std::fmin(ex, ey);
        // Outer rim mid grey (texel 0,0 is the colour of cubes without texture detail), a thin
        // bright bevel, then a soft darkening towards the edges and most in the corners.
        float v;
        if (e < 2.5f) v = 0.5f;
        else if (e < 4.5f) v = 0.97f;
        else {
            float fx = smoothstepf(4.0f, 40.0f, ex), fy = smoothstepf(4.0f, 40.0f, ey);
            v = 0.52f + 0.4f * std::sqrt(fx * fy);
            v += 0.015f * pattern_fbm2(x / 16.0f, y / 16.0f, 3, 8, 8, 0.5f, 21);
        }
        return grey(clamp01(v));
    });
    return c;
}

// ---- 3: grey corkscrew spiral --------------------------------------------------------------------

Canvas* paint_corkscrew(const TextureSpec* spec) {
    Canvas* c = blank(spec);
    if (!c) return nullptr;
    canvas_shade(c, [&](int x, int y) {
        float dx = x + 0.5f - 128.0f, dy = y + 0.5f - 128.0f;
        float r = std::sqrt(dx * dx + dy * dy), a = std::atan2(dy, dx);
        float phase = r / 18.0f - a / kTwoPi * 2.0f;  // two interleaved arms
        float s = std::sin(phase * kTwoPi);
        // The derivative along the radius gives a raised, lit look to each turn.
        float lit = 0.5f + 0.5f * std::cos(phase * kTwoPi + 0.9f);
        float band = smoothstepf(-0.2f, 0.6f, s);
        float fade = 1.0f - smoothstepf(100.0f, 127.0f, r);
        float v = 0.12f + band * (0.35f + 0.5f * lit) * fade + 0.05f * fade;
        return grey(clamp01(v));
    });
    return c;
}

// ---- 4: wood grain, tiling -----------------------------------------------------------------------

Canvas* paint_wood(const TextureSpec* spec) {
    Canvas* c = blank(spec);
    if (!c) return nullptr;
    const Colour light = colour_rgb(0.82f, 0.6f, 0.38f), dark = colour_rgb(0.47f, 0.27f, 0.13f);
    canvas_shade(c, [&](int x, int y) {
        float u = (x + 0.5f) / 256.0f, v = (y + 0.5f) / 256.0f;
        // Rings run down the picture (along the fibres); their spacing wanders with a warp.
        float warp = pattern_fbm2(u * 2.0f, v * 2.0f, 3, 2, 2, 0.4f, 41) * 0.7f +
                     0.04f * std::sin(kTwoPi * (v * 3.0f + u));
        // One knot: the rings bulge around it (distances wrap, so the picture still tiles).
        float kx = wrap_delta(x + 0.5f - 170.0f, 256.0f), ky = wrap_delta(y + 0.5f - 90.0f, 256.0f);
        float kr2 = (kx * kx) / (14.0f * 14.0f) + (ky * ky) / (30.0f * 30.0f);
        warp += 0.35f * std::exp(-kr2 * 0.5f) * (kx > 0.0f ? 1.0f : -1.0f) * (1.0f - std::exp(-kr2 * 4.0f));
        float ring = frac(u * 5.0f + warp);
        // Late wood: a band that darkens gradually and ends sharply.
        float late = smoothstepf(0.35f, 0.85f, ring) * (1.0f - smoothstepf(0.88f, 0.98f, ring));
        float fibre = pattern_fbm2(u * 64.0f, v * 2.0f, 3, 64, 2, 0.6f, 43);
        float pores = pattern_noise2(u * 128.0f, v * 16.0f, 128, 16, 47);
        float t = clamp01(0.22f + late * 0.6f + fibre * 0.28f + pores * 0.1f);
        float knot = std::exp(-kr2 * 3.0f) * (0.75f + 0.25f * std::cos(std::sqrt(kr2) * 9.0f));
        t = clamp01(t + knot * 0.7f);
        Colour col = colour_mix(light, dark, t);
        float sheen = 1.0f + 0.05f * pattern_fbm2(u * 4.0f, v * 4.0f, 2, 4, 4, 0.5f, 49);
        return clamp_colour(scale(col, sheen));
    });
    return c;
}

// ---- 5: old photograph of the shore --------------------------------------------------------------

Canvas* paint_old_photo(const TextureSpec* spec) {
    Canvas* c = blank(spec);
    if (!c) return nullptr;
    const float w = (float)spec->width, h = (float)spec->height, horizon = 250.0f;
    canvas_shade(c, [&](int x, int y) {
        float fx = x + 0.5f, fy = y + 0.5f;
        float lum;
        if (fy < horizon) {
            // Sky: bright near the horizon, clouds, the sun low on the left.
            lum = 0.55f + 0.3f * (fy / horizon);
            float cloud = pattern_fbm2(fx / 160.0f, fy / 60.0f, 5, 0, 0, 0.55f, 51);
            lum += 0.22f * smoothstepf(0.05f, 0.5f, cloud) * (1.0f - fy / horizon * 0.6f);
            float sd = sdf_circle(fx, fy, 170.0f, 175.0f, 26.0f);
            lum += 0.35f * (1.0f - smoothstepf(-1.0f, 1.0f, sd)) + 0.25f * std::exp(-std::fmax(sd, 0.0f) / 40.0f);
        } else {
            // Sea: darker away from the shore, wave crests as broken bright lines, the sun's path.
            float depth = (fy - horizon) / (h - horizon);
            lum = 0.35f + 0.2f * depth;
            float k = 1.0f / (0.02f + depth);
            float wave = std::sin(fy * 0.9f * (1.0f + 0.5f * (1.0f - depth)) + pattern_noise2(fx / 40.0f, fy / 6.0f, 0, 0, 53) * 3.0f);
            lum += 0.12f * smoothstepf(0.6f, 1.0f, wave) * (0.4f + depth);
            float path = std::exp(-std::pow((fx - 170.0f) / (20.0f + depth * 90.0f), 2.0f));
            lum += 0.3f * path * smoothstepf(0.2f, 1.0f, wave * 0.5f + 0.5f) * (1.0f - depth * 0.5f);
            (void)k;
            // Beach in the foreground.
            float shore = 420.0f + 18.0f * std::sin(fx / 90.0f) + 8.0f * pattern_noise2(fx / 30.0f, 0.5f, 0, 0, 55);
            if (fy > shore) lum = 0.68f + 0.08f * pattern_fbm2(fx / 8.0f, fy / 8.0f, 3, 0, 0, 0.5f, 57);
            else if (fy > shore - 6.0f) lum = 0.85f;  // surf line
        }
        // Lighthouse on a rock to the right.
        // The rock: a lumpy mound cut off by the water line, darker where it meets the sea.
        float rock = sdf_ellipse(fx, fy, 522.0f, horizon + 12.0f, 92.0f, 30.0f) +
                     9.0f * pattern_fbm2(fx / 26.0f, fy / 26.0f, 3, 0, 0, 0.5f, 58);
        if (rock < 0.0f && fy < horizon + 9.0f)
            lum = 0.16f + 0.1f * pattern_fbm2(fx / 7.0f, fy / 7.0f, 3, 0, 0, 0.5f, 59) + 0.08f * (fx > 530.0f ? 1.0f : 0.0f);
        else if (fy >= horizon + 9.0f && fy < horizon + 40.0f && std::fabs(fx - 522.0f) < 80.0f - (fy - horizon) &&
                 std::sin(fy * 1.3f) > -0.2f)
            lum *= 0.7f;  // its broken reflection
        float tower_half = 14.0f - (horizon - fy) * 0.04f;
        if (fy > horizon - 150.0f && fy < horizon - 10.0f && std::fabs(fx - 520.0f) < tower_half) {
            int stripe = (int)((horizon - fy) / 28.0f) & 1;
            lum = stripe ? 0.25f : 0.82f;
            lum *= 0.8f + 0.2f * (fx - 520.0f + tower_half) / (2.0f * tower_half);
        }
        if (fy > horizon - 172.0f && fy <= horizon - 150.0f && std::fabs(fx - 520.0f) < 10.0f) lum = 0.95f;
        if (fy > horizon - 178.0f && fy <= horizon - 172.0f && std::fabs(fx - 520.0f) < 14.0f) lum = 0.2f;
        // Gulls far away.
        for (int g = 0; g < 3; g++) {
            float gx = 260.0f + g * 48.0f, gy = 90.0f + (g % 2) * 22.0f;
            float d1 = sdf_segment(fx, fy, gx - 9.0f, gy - 3.0f, gx, gy + 1.0f);
            float d2 = sdf_segment(fx, fy, gx, gy + 1.0f, gx + 9.0f, gy - 3.0f);
            if (std::fmin(d1, d2) < 1.2f) lum = 0.25f;
        }
        // Photograph treatment: soft focus fall-off, vignette, grain, light leak, sepia toning.
        float vx = (fx - w * 0.5f) / (w * 0.5f), vy = (fy - h * 0.5f) / (h * 0.5f);
        float vig = 1.0f - 0.55f * std::pow(std::fmin(1.0f, (vx * vx + vy * vy) * 0.5f), 1.3f);
        lum *= vig;
        lum += 0.06f * pattern_noise2(fx * 0.9f, fy * 0.9f, 0, 0, 61) + 0.03f * pattern_fbm2(fx / 50.0f, fy / 50.0f, 3, 0, 0, 0.5f, 63);
        lum = clamp01(lum);
        Colour sepia = colour_mix(colour_rgb(0.16f, 0.1f, 0.06f), colour_rgb(1.0f, 0.93f, 0.8f), lum);
        float leak = std::exp(-std::pow((fx - w) / 120.0f, 2.0f)) * (0.5f + 0.5f * smoothstepf(0.0f, h, fy));
        sepia = add(sepia, scale(colour_rgb(0.5f, 0.18f, 0.05f), leak * 0.9f));
        float leak2 = std::exp(-((fx - 40.0f) * (fx - 40.0f) + (fy - 20.0f) * (fy - 20.0f)) / 9000.0f);
        sepia = add(sepia, scale(colour_rgb(0.35f, 0.25f, 0.08f), leak2));
        // A few dust specks and a hair-line scratch.
        int cx = (int)std::floor(fx / 40.0f), cy = (int)std::floor(fy / 40.0f);
        if ((pattern_hash(cx, cy, 67) & 7) == 0) {
            float speck = pattern_cells(fx / 40.0f, fy / 40.0f, 0, 65, nullptr);
            if (speck < 0.03f) sepia = scale(sepia, 0.5f);
        }
        if (std::fabs(fx - 410.0f - 12.0f * std::sin(fy / 70.0f)) < 0.7f) sepia = add(sepia, grey(0.12f));
        sepia.a = 1.0f;
        return clamp_colour(sepia);
    });
    return c;
}

// ---- 6: grey studio environment as a sphere map --------------------------------------------------

float studio(float rx, float ry, float rz) {
    // ry up, the soft boxes above to the left and one behind to the right.
    float sky = 0.5f + 0.28f * std::pow(std::fmax(ry, 0.0f), 0.6f);
    float floor = 0.22f - 0.12f * std::pow(std::fmax(-ry, 0.0f), 0.5f);
    float v = lerpf(floor, sky, smoothstepf(-0.18f, 0.08f, ry));
    v += 0.12f * std::exp(-ry * ry * 60.0f);  // bright horizon haze
    auto soft_box = [&](float cx, float cy, float cz, float half_w, float half_h, float power) {
        float l = std::sqrt(cx * cx + cy * cy + cz * cz);
        cx /= l;
        cy /= l;
        cz /= l;
        float d = rx * cx + ry * cy + rz * cz;
        if (d <= 0.0f) return 0.0f;
        // Local axes: one horizontal, one roughly up.
        float hx = cz, hz = -cx, hl = std::sqrt(hx * hx + hz * hz);
        hx /= hl;
        hz /= hl;
        float ux = cy * hz, uy = cz * hx - cx * hz, uz = -cy * hx;
        float a = (rx * hx + rz * hz) / d, b = (rx * ux + ry * uy + rz * uz) / d;
        float e = std::fmax(std::fabs(a) / half_w, std::fabs(b) / half_h);
        return power * (1.0f - smoothstepf(0.8f, 1.25f, e));
    };
    v += soft_box(-0.75f, 0.7f, 0.45f, 0.35f, 0.22f, 0.75f);
    v += soft_box(-0.2f, 0.85f, 0.6f, 0.15f, 0.12f, 0.45f);
    v += soft_box(0.8f, 0.35f, -0.3f, 0.2f, 0.35f, 0.35f);
    return v;
}

Canvas* paint_envigray(const TextureSpec* spec) {
    Canvas* c = blank(spec);
    if (!c) return nullptr;
    canvas_shade(c, [&](int x, int y) {
        float nx = (x + 0.5f) / 128.0f - 1.0f, ny = 1.0f - (y + 0.5f) / 128.0f;
        float r2 = nx * nx + ny * ny;
        if (r2 > 0.999f) {
            float k = std::sqrt(0.999f / r2);
            nx *= k;
            ny *= k;
            r2 = 0.999f;
        }
        float nz = std::sqrt(1.0f - r2);
        // Reflect the view ray (0, 0, -1) about the sphere normal.
        float rx = 2.0f * nz * nx, ry = 2.0f * nz * ny, rz = 2.0f * nz * nz - 1.0f;
        float v = studio(rx, ry, rz);
        return clamp_colour(colour_rgb(v * 0.97f, v * 0.985f, v));
    });
    return c;
}

// ---- 7: glow particle ----------------------------------------------------------------------------

Canvas* paint_particle(const TextureSpec* spec) {
    Canvas* c = blank(spec);
    if (!c) return nullptr;
    const float half = spec->width * 0.5f;
    canvas_shade(c, [&](int x, int y) {
        float dx = (x + 0.5f - half) / half, dy = (y + 0.5f - half) / half;
        float r = std::sqrt(dx * dx + dy * dy);
        if (r >= 0.97f) return Colour{0, 0, 0, 0};
        float fall = (1.0f - r / 0.97f);
        float intensity = clamp01(fall * fall * 0.9f + std::exp(-(r / 0.12f) * (r / 0.12f)) * 0.6f);
        Colour col = colour_mix(colour_rgb(1.0f, 0.5f, 0.12f), colour_rgb(1.0f, 0.97f, 0.9f),
                                std::exp(-(r / 0.3f) * (r / 0.3f)));
        col.a = intensity;
        return col;
    });
    return c;
}

// ---- 8: inverted environment ---------------------------------------------------------------------

Canvas* paint_invenv(const TextureSpec* spec) {
    Canvas* c = blank(spec);
    if (!c) return nullptr;
    const Colour ramp[5] = {colour_rgb(0.14f, 0.02f, 0.26f), colour_rgb(0.3f, 0.08f, 0.55f),
                            colour_rgb(0.25f, 0.35f, 0.85f), colour_rgb(0.35f, 0.9f, 1.0f),
                            colour_rgb(0.92f, 1.0f, 1.0f)};
    canvas_shade(c, [&](int x, int y) {
        float dx = (x + 0.5f) / 128.0f - 1.0f, dy = (y + 0.5f) / 128.0f - 1.0f;
        float r = std::fmin(1.0f, std::sqrt(dx * dx + dy * dy));
        float a = std::atan2(dy, dx);
        // Streaks: angular noise, stronger towards the rim; the angle wraps with period 12.
        float streak = pattern_fbm2(a / kTwoPi * 12.0f, r * 3.0f, 3, 12, 0, 0.5f, 81);
        float t = std::pow(r, 1.6f) * 4.0f + streak * 0.6f * r;
        t = std::fmax(0.0f, std::fmin(3.999f, t));
        int i = (int)t;
        Colour col = colour_mix(ramp[i], ramp[i + 1], t - i);
        col = scale(col, 1.0f + 0.25f * streak);
        col.a = 1.0f;
        return clamp_colour(col);
    });
    return c;
}

// ---- 9 and 11: metals ----------------------------------------------------------------------------

Canvas* paint_brushed_metal(const TextureSpec* spec) {
    Canvas* c = blank(spec);
    if (!c) return nullptr;
    canvas_shade(c, [&](int x, int y) {
        float u = (x + 0.5f) / 256.0f, v = (y + 0.5f) / 256.0f;
        float streak = pattern_fbm2(u * 2.0f, v * 96.0f, 4, 2, 96, 0.6f, 91);
        float fine = pattern_noise2(u * 16.0f, v * 256.0f, 16, 256, 93);
        float sheen = 0.5f + 0.5f * std::cos(kTwoPi * (u + 0.15f * std::sin(kTwoPi * v)));
        float val = 0.56f + 0.1f * streak + 0.04f * fine + 0.1f * sheen;
        return clamp_colour(colour_rgb(val * 0.97f, val * 0.99f, val * 1.03f));
    });
    return c;
}

Canvas* paint_gloss_metal(const TextureSpec* spec) {
    Canvas* c = blank(spec);
    if (!c) return nullptr;
    canvas_shade(c, [&](int x, int y) {
        float u = (x + 0.5f) / 256.0f, v = (y + 0.5f) / 256.0f;
        // Chrome: a sharp reflected horizon with sky above and dark ground below, gently bent.
        float bend = v + 0.08f * std::sin(kTwoPi * u) + 0.02f * pattern_fbm2(u * 4.0f, v * 4.0f, 3, 4, 4, 0.5f, 95);
        float val;
        if (bend < 0.45f) val = 0.55f + 0.4f * (bend / 0.45f);
        else val = 0.12f + 0.3f * (bend - 0.45f);
        val += 0.5f * std::exp(-std::pow((bend - 0.44f) / 0.02f, 2.0f));
        val += 0.25f * std::exp(-std::pow((u - 0.3f) / 0.05f, 2.0f)) * (1.0f - v);
        return clamp_colour(colour_rgb(val, val * 1.01f, val * 1.05f));
    });
    return c;
}

// ---- 10: normal map of a riveted plate, tiling ---------------------------------------------------

float plate_height(float x, float y) {
    // Panels of 64 pixels with grooved seams, a rivet row inside each seam. The seams sit half a
    // panel in from the picture's edges, so the wrap runs through flat plate.
    x += 32.0f;
    y += 32.0f;
    float px = frac(x / 64.0f) * 64.0f, py = frac(y / 64.0f) * 64.0f;
    float ex = std::fmin(px, 64.0f - px), ey = std::fmin(py, 64.0f - py);
    float e = std::fmin(ex, ey);
    float h = 0.0f;
    // Rounded groove: smooth profiles keep the normals clean through the JPEG compression.
    if (e < 4.0f) h = -1.4f * (0.5f + 0.5f * std::cos(kPi * e / 4.0f));
    // Rivets every 16 pixels along each seam, 7 pixels in from it.
    const float rivet_radius = 5.5f;
    float best = 1e9f;
    float sx = frac(x / 16.0f) * 16.0f - 8.0f, sy = frac(y / 16.0f) * 16.0f - 8.0f;
    float rx[2] = {9.0f, 55.0f}, dist;
    for (int k = 0; k < 2; k++) {
        dist = std::sqrt((px - rx[k]) * (px - rx[k]) + sy * sy);  // rows along vertical seams
        if (dist < best) best = dist;
        dist = std::sqrt((py - rx[k]) * (py - rx[k]) + sx * sx);  // rows along horizontal seams
        if (dist < best) best = dist;
    }
    if (best < rivet_radius) {
        float t = best / rivet_radius;
        float k = 1.0f - t * t;
        h += 2.0f * k * k;  // dome meeting the plate without a crease
    }
    return h;
}

Canvas* paint_bumpmap(const TextureSpec* spec) {
    Canvas* c = blank(spec);
    if (!c) return nullptr;
    const int n = spec->width;
    std::vector<float> hf((size_t)n * n);
    // Supersampled heights keep the rivet edges smooth.
    for (int y = 0; y < n; y++)
        for (int x = 0; x < n; x++) {
            float s = 0.0f;
            for (int k = 0; k < 4; k++) s += plate_height(x + 0.25f + 0.5f * (k & 1), y + 0.25f + 0.5f * (k >> 1));
            hf[(size_t)y * n + x] = s * 0.25f;
        }
    canvas_shade(c, [&](int x, int y) {
        auto at = [&](int i, int j) { return hf[(size_t)((j + n) % n) * n + (i + n) % n]; };
        float dx = (at(x + 1, y) - at(x - 1, y)) * 0.5f, dy = (at(x, y + 1) - at(x, y - 1)) * 0.5f;
        // Normal with y pointing up the picture; flat areas give exactly (0, 0, 1).
        float nx = -dx, ny = dy, nz = 1.0f;
        float l = std::sqrt(nx * nx + ny * ny + nz * nz);
        nx /= l;
        ny /= l;
        nz /= l;
        auto enc = [](float v) { return 2.0f * (64.0f + std::round(63.0f * v)) / 255.0f; };
        return Colour{enc(nx), enc(ny), enc(nz), 1.0f};
    });
    return c;
}

// ---- 12, 13: overlays ----------------------------------------------------------------------------

Canvas* paint_scanlines(const TextureSpec* spec) {
    Canvas* c = blank(spec);
    if (!c) return nullptr;
    for (int y = 1; y < spec->height; y += 2)
        for (int x = 0; x < spec->width; x++) canvas_set(c, x, y, Colour{0, 0, 0, 110.0f / 255.0f});
    return c;
}

Canvas* paint_grain(const TextureSpec* spec) {
    Canvas* c = blank(spec);
    if (!c) return nullptr;
    canvas_shade(c, [&](int x, int y) {
        float u = (x + 0.5f) / 256.0f, v = (y + 0.5f) / 256.0f;
        // Vertical streaks: noise that changes fast across and slowly down the picture.
        float streak = pattern_fbm2(u * 48.0f, v * 2.0f, 3, 48, 2, 0.55f, 131);
        float line = (pattern_hash(x, 0, 133) & 15) == 0 ? -0.5f : 0.0f;  // occasional dark columns
        float speck = pattern_noise2(u * 128.0f, v * 128.0f, 128, 128, 137);
        float val = 0.8f + 0.22f * streak + 0.08f * speck + line * (0.6f + 0.4f * std::sin(v * kTwoPi * 3.0f));
        return grey(std::fmax(140.0f / 255.0f, std::fmin(1.0f, val)));
    });
    return c;
}

// ---- 14 to 18: section backgrounds ---------------------------------------------------------------

Canvas* paint_bump_bg(const TextureSpec* spec) {
    Canvas* c = blank(spec);
    if (!c) return nullptr;
    canvas_shade(c, [&](int, int y) {
        float t = (y + 0.5f) / spec->height;
        return colour_mix(colour_rgb(0.02f, 0.04f, 0.1f), colour_rgb(0.01f, 0.015f, 0.04f), t);
    });
    Rng rng = rng_make(141);
    for (int i = 0; i < 46; i++) {
        float cx = rng_range(&rng, -40, 680), cy = rng_range(&rng, -40, 520), r = rng_range(&rng, 12, 70);
        float a = rng_range(&rng, 0.04f, 0.16f) * (r < 30 ? 1.4f : 1.0f);
        Colour col = colour_mix(colour_rgb(0.3f, 0.55f, 1.0f), colour_rgb(0.4f, 0.95f, 1.0f), rng_unit(&rng));
        float soft = r * 0.25f + 2.0f;
        int x0 = (int)(cx - r - soft), x1 = (int)(cx + r + soft) + 1, y0 = (int)(cy - r - soft), y1 = (int)(cy + r + soft) + 1;
        for (int y = y0; y < y1; y++)
            for (int x = x0; x < x1; x++) {
                if (x < 0 || y < 0 || x >= spec->width || y >= spec->height) continue;
                float d = sdf_circle(x + 0.5f, y + 0.5f, cx, cy, r);
                float cov = 1.0f - smoothstepf(-soft, soft, d);
                float rim = std::exp(-(d + soft * 0.5f) * (d + soft * 0.5f) / (soft * soft)) * 0.6f;
                float k = (cov * 0.7f + rim) * a;
                if (k <= 0.0f) continue;
                float* p = &c->px[((size_t)y * spec->width + x) * 4];
                p[0] += col.r * k;  // light adds up
                p[1] += col.g * k;
                p[2] += col.b * k;
            }
    }
    return c;
}

Canvas* paint_cube_bg(const TextureSpec* spec) {
    Canvas* c = blank(spec);
    if (!c) return nullptr;
    const float horizon = 270.0f, f = 300.0f;
    canvas_shade(c, [&](int x, int y) {
        float fx = x + 0.5f, fy = y + 0.5f;
        float t = fy / spec->height;
        Colour col = colour_mix(colour_rgb(0.05f, 0.38f, 0.42f), colour_rgb(0.02f, 0.05f, 0.2f), std::pow(t, 0.8f));
        col = add(col, scale(colour_rgb(0.1f, 0.35f, 0.35f), std::exp(-std::pow((fy - horizon) / 18.0f, 2.0f))));
        if (fy > horizon) {
            // Floor grid seen in perspective: world coordinates of the ground under the pixel, and
            // their change per pixel to keep the lines one pixel wide at every distance.
            float depth = f * 40.0f / (fy - horizon);
            float wx = (fx - 320.0f) * depth / f;
            float ddepth = depth / (fy - horizon), dwx = depth / f;
            const float cell = 24.0f;
            float gx = std::fabs(frac(wx / cell + 0.5f) - 0.5f) * cell / dwx;
            float gz = std::fabs(frac(depth / cell + 0.5f) - 0.5f) * cell / std::fmax(ddepth, 1e-3f);
            float line = std::fmax(1.0f - smoothstepf(0.0f, 1.2f, gx), 1.0f - smoothstepf(0.0f, 1.2f, gz));
            // Far lines crowd together: fade them before they turn into a flat band.
            float fade = std::exp(-depth / 700.0f) * smoothstepf(0.0f, 2.5f, cell / std::fmax(ddepth, 1e-3f));
            col = add(col, scale(colour_rgb(0.3f, 0.9f, 0.9f), line * 0.3f * fade));
        }
        col.a = 1.0f;
        return clamp_colour(col);
    });
    return c;
}

Canvas* paint_meta_bg(const TextureSpec* spec) {
    Canvas* c = blank(spec);
    if (!c) return nullptr;
    canvas_shade(c, [&](int x, int y) {
        float dx = (x + 0.5f - 320.0f) / 400.0f, dy = (y + 0.5f - 240.0f) / 400.0f;
        float r = std::sqrt(dx * dx + dy * dy);
        float n = pattern_fbm2(x / 90.0f, y / 90.0f, 4, 0, 0, 0.55f, 161);
        float t = clamp01(r * 1.45f + n * 0.12f);
        Colour col = colour_mix(colour_rgb(1.0f, 0.66f, 0.18f), colour_rgb(0.78f, 0.22f, 0.08f), smoothstepf(0.0f, 0.55f, t));
        col = colour_mix(col, colour_rgb(0.3f, 0.03f, 0.07f), smoothstepf(0.45f, 1.0f, t));
        col = scale(col, 1.0f + 0.05f * pattern_noise2(x / 3.0f, y / 3.0f, 0, 0, 163));
        col.a = 1.0f;
        return clamp_colour(col);
    });
    return c;
}

Canvas* paint_shadows_bg(const TextureSpec* spec) {
    Canvas* c = blank(spec);
    if (!c) return nullptr;
    canvas_shade(c, [&](int x, int y) {
        float dx = (x + 0.5f - 320.0f) / 320.0f, dy = (y + 0.5f - 240.0f) / 240.0f;
        float r2 = dx * dx * 0.85f + dy * dy;
        float fibre = pattern_fbm2(x / 40.0f, y / 6.0f, 4, 0, 0, 0.6f, 171) * 0.5f +
                      pattern_fbm2(x / 5.0f, y / 30.0f, 2, 0, 0, 0.5f, 173) * 0.5f;
        float t = clamp01(std::pow(r2, 1.2f) * 0.75f);
        Colour col = colour_mix(colour_rgb(0.97f, 0.92f, 0.8f), colour_rgb(0.5f, 0.36f, 0.22f), t);
        col = scale(col, 1.0f + 0.035f * fibre);
        float blot = pattern_fbm2(x / 140.0f, y / 140.0f, 3, 0, 0, 0.5f, 175);
        col = colour_mix(col, colour_rgb(0.75f, 0.6f, 0.4f), 0.12f * smoothstepf(0.2f, 0.6f, blot));
        col.a = 1.0f;
        return clamp_colour(col);
    });
    return c;
}

Canvas* paint_springs_bg(const TextureSpec* spec) {
    Canvas* c = blank(spec);
    if (!c) return nullptr;
    const float sx = -120.0f, sy = -160.0f;  // light source beyond the top-left corner
    canvas_shade(c, [&](int x, int y) {
        float fx = x + 0.5f, fy = y + 0.5f;
        float t = clamp01((fx / 640.0f) * 0.55f + (fy / 480.0f) * 0.45f);
        Colour col = colour_mix(colour_rgb(0.22f, 0.06f, 0.42f), colour_rgb(0.72f, 0.12f, 0.5f), t);
        float a = std::atan2(fy - sy, fx - sx), d = std::sqrt((fx - sx) * (fx - sx) + (fy - sy) * (fy - sy));
        // Broad soft beams with a few sharper shafts inside them.
        float beam = pattern_fbm2(a * 14.0f, d / 1400.0f, 2, 0, 0, 0.5f, 181);
        float shaft = pattern_noise2(a * 60.0f, d / 2000.0f, 0, 0, 183);
        float rays = (std::pow(smoothstepf(-0.1f, 0.6f, beam), 2.0f) * 0.8f + 0.25f * smoothstepf(0.3f, 0.8f, shaft)) *
                     std::exp(-d / 800.0f);
        col = add(col, scale(colour_rgb(1.0f, 0.7f, 0.95f), rays * 0.42f));
        col = add(col, scale(colour_rgb(0.5f, 0.3f, 0.6f), std::exp(-d / 260.0f) * 0.35f));
        col.a = 1.0f;
        return clamp_colour(col);
    });
    return c;
}

// ---- 32: ribbon band, tiling along ---------------------------------------------------------------

Canvas* paint_ribbon(const TextureSpec* spec) {
    Canvas* c = blank(spec);
    if (!c) return nullptr;
    const Colour stops[4] = {colour_rgb(1.0f, 0.8f, 0.3f), colour_rgb(1.0f, 0.4f, 0.55f),
                             colour_rgb(0.35f, 0.8f, 1.0f), colour_rgb(1.0f, 0.8f, 0.3f)};
    canvas_shade(c, [&](int x, int y) {
        float u = (x + 0.5f) / spec->width * 3.0f;  // three colour cycles per repeat
        float t = frac(u) * 3.0f;
        int i = (int)t;
        if (i > 2) i = 2;
        Colour col = colour_mix(stops[i], stops[i + 1], t - i);
        float across = std::sin(kPi * (y + 0.5f) / spec->height);
        float stripe = 0.82f + 0.18f * std::cos(kTwoPi * (x + 0.5f) / 4.0f);
        float core = std::pow(across, 0.7f) * stripe + 0.5f * std::pow(across, 12.0f);
        col = scale(col, core);
        col.a = 1.0f;
        return clamp_colour(col);
    });
    return c;
}

// ---- 33: smoke, tiling ---------------------------------------------------------------------------

Canvas* paint_smoke(const TextureSpec* spec) {
    Canvas* c = blank(spec);
    if (!c) return nullptr;
    canvas_shade(c, [&](int x, int y) {
        float u = (x + 0.5f) / 256.0f * 4.0f, v = (y + 0.5f) / 256.0f * 4.0f;
        // Domain warp for wisps, on lattices that wrap every 4 units (one picture).
        float wx = pattern_fbm2(u, v, 4, 4, 4, 0.5f, 191), wy = pattern_fbm2(u + 5.2f, v + 1.3f, 4, 4, 4, 0.5f, 193);
        float d = pattern_fbm2(u + wx * 1.2f, v + wy * 1.2f, 6, 4, 4, 0.55f, 195);
        float density = smoothstepf(-0.15f, 0.55f, d);
        float shade = 0.82f + 0.18f * density;
        return Colour{shade, shade, shade * 1.02f > 1.0f ? 1.0f : shade * 1.02f, density * 0.92f};
    });
    return c;
}

}  // namespace

const TextureSpec texture_specs[TEXTURE_COUNT] = {
    {"pointlight.jpg", 256, 256, TEXTURE_JPEG | TEXTURE_RASTER, paint_pointlight},
    {"circle_particle.jpg", 256, 256, TEXTURE_JPEG | TEXTURE_RASTER | TEXTURE_TILES, paint_circle_particle},
    {"cube_shadow.jpg", 128, 128, TEXTURE_JPEG | TEXTURE_RASTER, paint_cube_shadow},
    {"corkscrew_gray.jpg", 256, 256, TEXTURE_JPEG, paint_corkscrew},
    {"wood-284.jpg", 256, 256, TEXTURE_JPEG | TEXTURE_RASTER | TEXTURE_TILES, paint_wood},
    {"punky_brewster.png", 640, 480, 0, paint_old_photo},
    {"EnviGray.jpg", 256, 256, TEXTURE_JPEG | TEXTURE_RASTER, paint_envigray},
    {"particle.png", 64, 64, TEXTURE_ALPHA | TEXTURE_RASTER, paint_particle},
    {"invenv.jpg", 256, 256, TEXTURE_JPEG | TEXTURE_RASTER, paint_invenv},
    {"metal.jpg", 256, 256, TEXTURE_JPEG | TEXTURE_RASTER | TEXTURE_TILES, paint_brushed_metal},
    {"bumpmap.jpg", 256, 256, TEXTURE_JPEG | TEXTURE_RASTER | TEXTURE_TILES, paint_bumpmap},
    {"metal_gloss.jpg", 256, 256, TEXTURE_JPEG, paint_gloss_metal},
    {"scanlines.png", 640, 480, TEXTURE_ALPHA, paint_scanlines},
    {"grain.png", 256, 256, TEXTURE_RASTER | TEXTURE_TILES, paint_grain},
    {"bump_bg.jpg", 640, 480, TEXTURE_JPEG, paint_bump_bg},
    {"cube_bg.jpg", 640, 480, TEXTURE_JPEG, paint_cube_bg},
    {"meta_bg.jpg", 640, 480, TEXTURE_JPEG, paint_meta_bg},
    {"shadows_bg.jpg", 640, 480, TEXTURE_JPEG, paint_shadows_bg},
    {"springs_bg.jpg", 640, 480, TEXTURE_JPEG, paint_springs_bg},
    {"filmstrip.jpg", 320, 3840, TEXTURE_JPEG, paint_filmstrip},
    {"dancing.png", 1280, 720, TEXTURE_ALPHA, paint_dancers},
    {"swim_for_your_lives.png", 360, 64, TEXTURE_ALPHA | TEXTURE_AT_MOST, paint_titles},
    {"were_comming_ashore.png", 400, 64, TEXTURE_ALPHA | TEXTURE_AT_MOST, paint_titles},
    {"velmorian.png", 512, 128, TEXTURE_ALPHA | TEXTURE_AT_MOST, paint_logo},
    {"quillet.png", 400, 128, TEXTURE_ALPHA | TEXTURE_AT_MOST, paint_logo},
    {"wdan-tv-1.png", 256, 256, TEXTURE_ALPHA | TEXTURE_RASTER, paint_tv},
    {"wdan-tv-2.png", 256, 256, TEXTURE_ALPHA | TEXTURE_RASTER, paint_tv},
    {"wdan-tv-3.png", 256, 256, TEXTURE_ALPHA | TEXTURE_RASTER, paint_tv},
    {"bird-left.png", 256, 128, TEXTURE_ALPHA, paint_bird},
    {"bird-right.png", 256, 128, TEXTURE_ALPHA, paint_bird},
    {"skeksis_left.png", 256, 320, TEXTURE_ALPHA, paint_creature},
    {"skeksis-right.png", 256, 320, TEXTURE_ALPHA, paint_creature},
    {"ribbon.png", 256, 32, TEXTURE_RASTER | TEXTURE_TILES, paint_ribbon},
    {"Smoke.png", 256, 256, TEXTURE_ALPHA | TEXTURE_RASTER | TEXTURE_TILES, paint_smoke},
    {"music-brask.png", 256, 96, TEXTURE_ALPHA, paint_credit},
    {"graphics-tolvan.png", 256, 96, TEXTURE_ALPHA, paint_credit},
    {"code-merrit.png", 256, 96, TEXTURE_ALPHA, paint_credit},
    {"end_cred_1.png", 320, 200, TEXTURE_ALPHA, paint_end_credit},
    {"end_cred_2.png", 320, 200, TEXTURE_ALPHA, paint_end_credit},
};

Canvas* texture_paint(int index) {
    if (index < 0 || index >= TEXTURE_COUNT) return nullptr;
    return texture_specs[index].paint(&texture_specs[index]);
}

int texture_save(int index, const Canvas* canvas, const char* dir) {
    const TextureSpec* spec = &texture_specs[index];
    std::string path = std::string(dir) + "/" + spec->file;
    std::vector<uint8_t> bytes;
    if (spec->flags & TEXTURE_JPEG) {
        canvas_to_bytes(canvas, 3, &bytes);
        return jpeg_write(path.c_str(), canvas->width, canvas->height, bytes.data(), JPEG_QUALITY);
    }
    int channels = (spec->flags & TEXTURE_ALPHA) ? 4 : 3;
    canvas_to_bytes(canvas, channels, &bytes);
    return png_write(path.c_str(), canvas->width, canvas->height, channels, bytes.data());
}
