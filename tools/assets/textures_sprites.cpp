// The art of the lettering, sprites, television sets, dancer and film strip.
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

#include "assets/pattern.h"
#include "assets/text.h"
#include "assets/textures.h"
#include "scenes/scene_math.h"

namespace {

inline Colour grey(float v, float a = 1.0f) { return Colour{v, v, v, a}; }
inline Colour scale(Colour c, float k) { return Colour{c.r * k, c.g * k, c.b * k, c.a}; }

// Paints through a mask with a colour that varies per pixel.
template <typename F>
void paint_mask_shaded(Canvas* c, const Mask* m, int x0, int y0, F colour_at) {
    for (int y = 0; y < m->height; y++)
        for (int x = 0; x < m->width; x++) {
            float v = m->v[y * m->width + x];
            if (v <= 0.0f) continue;
            canvas_blend(c, x + x0, y + y0, colour_at(x + x0, y + y0), v > 1.0f ? 1.0f : v);
        }
}

// A copy of the mask grown by radius pixels (a round maximum filter), for outlines.
Mask* mask_dilate(const Mask* m, int radius) {
    Mask* out = mask_new(m->width, m->height);
    if (!out) return nullptr;
    for (int y = 0; y < m->height; y++)
        for (int x = 0; x < m->width; x++) {
            float best = 0.0f;
            for (int dy = -radius; dy <= radius; dy++) {
                int yy = y + dy;
                if (yy < 0 || yy >= m->height) continue;
                for (int dx = -radius; dx <= radius; dx++) {
                    int xx = x + dx;
                    if (xx < 0 || xx >= m->width) continue;
                    float d = std::sqrt((float)(dx * dx + dy * dy));
                    float k = clamp01(radius + 0.5f - d);
                    float v = m->v[yy * m->width + xx] * k;
                    if (v > best) best = v;
                }
            }
            out->v[y * m->width + x] = best;
        }
    return out;
}

Mask* mask_copy(const Mask* m) {
    Mask* out = mask_new(m->width, m->height);
    if (out) memcpy(out->v, m->v, sizeof(float) * m->width * m->height);
    return out;
}

// Largest size (not above max_size) at which the string fits in the given width.
float fit_size(int font, const char* text, float max_size, float width, float tracking) {
    float w = text_width(font, max_size, text, tracking);
    if (w <= width) return max_size;
    return std::floor(max_size * width / w * 4.0f) / 4.0f;
}

// ---- titles: white heavy sans with a soft dark shadow --------------------------------------------

Canvas* title_image(const char* text, int max_w, int max_h) {
    const float pad = 8.0f;
    float size = fit_size(FONT_HEAVY, text, 40.0f, max_w - 2 * pad, 0.0f);
    float w = text_width(FONT_HEAVY, size, text, 0.0f);
    int width = (int)std::ceil(w + 2 * pad);
    if (width > max_w) width = max_w;
    int height = max_h;
    Mask* m = mask_new(width, height);
    Canvas* c = canvas_new(width, height);
    if (!m || !c) {
        mask_free(m);
        canvas_free(c);
        return nullptr;
    }
    float base = height * 0.5f + size * 0.36f;
    text_draw(m, FONT_HEAVY, size, pad, base, text, 0.0f);
    Mask* shadow = mask_copy(m);
    if (shadow) {
        mask_blur(shadow, 2, 0);
        for (int i = 0; i < width * height; i++) shadow->v[i] = clamp01(shadow->v[i] * 1.6f);
        canvas_paint_mask(c, shadow, 2, 3, Colour{0.0f, 0.02f, 0.06f, 0.75f});
        mask_free(shadow);
    }
    paint_mask_shaded(c, m, 0, 0, [&](int, int y) {
        float t = (y - (base - size * 0.75f)) / size;
        return Colour{1.0f, 1.0f, 1.0f - 0.08f * clamp01(t), 1.0f};
    });
    mask_free(m);
    return c;
}

// ---- logos: bold, outlined, gradient fill --------------------------------------------------------

Canvas* logo_image(const char* text, int max_w, int max_h) {
    const float pad = 10.0f;
    float size = fit_size(FONT_HEAVY, text, 96.0f, max_w - 2 * pad, 1.0f);
    float w = text_width(FONT_HEAVY, size, text, 1.0f);
    int width = (int)std::ceil(w + 2 * pad);
    if (width > max_w) width = max_w;
    int height = max_h;
    Mask* m = mask_new(width, height);
    Canvas* c = canvas_new(width, height);
    if (!m || !c) {
        mask_free(m);
        canvas_free(c);
        return nullptr;
    }
    float ascent = size * 0.73f;  // cap height of the heavy face
    float base = height * 0.5f + ascent * 0.5f;
    text_draw(m, FONT_HEAVY, size, pad, base, text, 1.0f);
    Mask* outline = mask_dilate(m, 4);
    Mask* shadow = outline ? mask_copy(outline) : nullptr;
    if (shadow) {
        mask_blur(shadow, 3, 0);
        canvas_paint_mask(c, shadow, 3, 5, Colour{0.0f, 0.0f, 0.05f, 0.7f});
        mask_free(shadow);
    }
    if (outline) {
        canvas_paint_mask(c, outline, 0, 0, colour_rgb(0.02f, 0.07f, 0.16f));
        mask_free(outline);
    }
    float top = base - ascent;
    paint_mask_shaded(c, m, 0, 0, [&](int x, int y) {
        // Sea gradient: foam white at the top, through aqua to deep blue, with a bright waterline.
        float t = clamp01((y + 0.5f - top) / ascent);
        Colour col;
        if (t < 0.45f) col = colour_mix(colour_rgb(0.95f, 1.0f, 1.0f), colour_rgb(0.3f, 0.9f, 0.95f), t / 0.45f);
        else col = colour_mix(colour_rgb(0.1f, 0.55f, 0.85f), colour_rgb(0.05f, 0.18f, 0.5f), (t - 0.45f) / 0.55f);
        float wave = 0.47f + 0.03f * std::sin((x + 0.5f) / 9.0f);
        if (std::fabs(t - wave) < 0.025f) col = colour_rgb(0.9f, 1.0f, 1.0f);
        return col;
    });
    mask_free(m);
    return c;
}

}  // namespace

Canvas* paint_titles(const TextureSpec* spec) {
    const char* text = strstr(spec->file, "swim") ? "swim for your lives" : "we're coming ashore";
    return title_image(text, spec->width, spec->height);
}

Canvas* paint_logo(const TextureSpec* spec) {
    const char* text = strstr(spec->file, "velmorian") ? "Velmorian" : "Quillet";
    return logo_image(text, spec->width, spec->height);
}

// ---- television sets -----------------------------------------------------------------------------

namespace {

Colour screen_static(float x, float y, uint32_t seed) {
    float n = (pattern_hash((int)x, (int)y, seed) & 255) / 255.0f;
    float band = 0.85f + 0.15f * std::sin(y * 0.35f);
    return grey(clamp01(0.15f + n * 0.8f * band));
}

Colour screen_bars(float u, float v) {
    static const uint32_t bars[7] = {0xC0C0C0, 0xC0C000, 0x00C0C0, 0x00C000, 0xC000C0, 0xC00000, 0x0000C0};
    static const uint32_t low[7] = {0x0000C0, 0x131313, 0xC000C0, 0x131313, 0x00C0C0, 0x131313, 0xC0C0C0};
    int i = (int)(u * 7.0f);
    if (i < 0) i = 0;
    if (i > 6) i = 6;
    if (v < 0.68f) return colour_hex(bars[i]);
    if (v < 0.77f) return colour_hex(low[i]);
    int j = (int)(u * 6.0f);
    static const uint32_t foot[6] = {0x00214C, 0xFFFFFF, 0x32006A, 0x131313, 0x090909, 0x1D1D1D};
    return colour_hex(foot[j < 0 ? 0 : (j > 5 ? 5 : j)]);
}

Colour screen_test_card(float u, float v) {
    // Grey field with a grid, a centre circle, a grey-step row and a colour row.
    float x = u * 2.0f - 1.0f, y = v * 2.0f - 1.0f;
    Colour col = grey(0.45f);
    float gx = std::fabs(frac(u * 8.0f + 0.5f) - 0.5f), gy = std::fabs(frac(v * 6.0f + 0.5f) - 0.5f);
    if (gx < 0.05f || gy < 0.06f) col = grey(0.92f);
    float r = std::sqrt(x * x * 1.35f + y * y);
    if (r < 0.62f) {
        if (v > 0.38f && v < 0.5f) {
            int k = (int)(u * 6.0f);
            col = grey(k / 5.0f);
        } else if (v >= 0.5f && v < 0.62f) {
            static const uint32_t cols[6] = {0xD0D000, 0x00D0D0, 0x00D000, 0xD000D0, 0xD00000, 0x0000D0};
            int k = (int)(u * 6.0f);
            col = colour_hex(cols[k < 0 ? 0 : (k > 5 ? 5 : k)]);
        } else {
            col = grey(v < 0.38f ? 0.2f : 0.85f);
        }
    }
    if (std::fabs(r - 0.62f) < 0.025f) col = grey(1.0f);
    if (std::fabs(x) < 0.008f || std::fabs(y) < 0.012f) col = grey(0.05f);
    return col;
}

}  // namespace

Canvas* paint_tv(const TextureSpec* spec) {
    Canvas* c = canvas_new(spec->width, spec->height);
    if (!c) return nullptr;
    int kind = spec->file[8] - '1';  // wdan-tv-N.png
    // Each set a little different: cabinet colour and the place of its knobs.
    const Colour cabinets[3] = {colour_rgb(0.45f, 0.25f, 0.12f), colour_rgb(0.62f, 0.55f, 0.42f), colour_rgb(0.2f, 0.22f, 0.25f)};
    Colour cab = cabinets[kind];
    // Antennas and feet behind the cabinet.
    canvas_fill_sdf(c, colour_rgb(0.15f, 0.15f, 0.16f), [](float x, float y) {
        return std::fmin(sdf_segment(x, y, 128, 44, 70, 6), sdf_segment(x, y, 128, 44, 196, 10)) - 1.6f;
    });
    canvas_fill_sdf(c, colour_rgb(0.85f, 0.85f, 0.8f), [](float x, float y) {
        return std::fmin(sdf_circle(x, y, 70, 6, 3.5f), sdf_circle(x, y, 196, 10, 3.5f));
    });
    canvas_fill_sdf(c, colour_rgb(0.1f, 0.08f, 0.06f), [](float x, float y) {
        return std::fmin(sdf_round_box(x, y, 48, 238, 10, 12, 3), sdf_round_box(x, y, 208, 238, 10, 12, 3));
    });
    canvas_fill_sdf(c, colour_rgb(0.2f, 0.2f, 0.2f), [](float x, float y) { return sdf_ellipse(x, y, 128, 44, 22, 8); });
    // Cabinet with a lit top edge and grain.
    Mask* body = mask_new(256, 256);
    if (!body) {
        canvas_free(c);
        return nullptr;
    }
    mask_fill_sdf(body, [](float x, float y) { return sdf_round_box(x, y, 128, 139, 118, 95, 16); });
    paint_mask_shaded(c, body, 0, 0, [&](int x, int y) {
        float shade = 1.05f - 0.35f * (y - 44) / 190.0f;
        float grain = kind == 0 ? 0.08f * pattern_fbm2(x / 40.0f, y / 3.0f, 3, 0, 0, 0.5f, 211) : 0.02f * pattern_noise2(x / 4.0f, y / 4.0f, 0, 0, 213);
        float edge = -sdf_round_box(x + 0.5f, y + 0.5f, 128, 139, 118, 95, 16);
        float bevel = edge < 4.0f ? 0.25f * (1.0f - edge / 4.0f) * (y < 139 ? 1.0f : -1.0f) : 0.0f;
        Colour col = scale(cab, shade + grain + bevel);
        col.a = 1.0f;
        return col;
    });
    mask_free(body);
    // Screen bezel and the picture itself, bulging and darker at its rim.
    const float sx = 98.0f, sy = 130.0f, shw = 74.0f, shh = 62.0f;
    canvas_fill_sdf(c, colour_rgb(0.08f, 0.08f, 0.08f), [&](float x, float y) { return sdf_round_box(x, y, sx, sy, shw + 6, shh + 6, 18); });
    Mask* screen = mask_new(256, 256);
    if (!screen) {
        canvas_free(c);
        return nullptr;
    }
    mask_fill_sdf(screen, [&](float x, float y) { return sdf_round_box(x, y, sx, sy, shw, shh, 16); });
    paint_mask_shaded(c, screen, 0, 0, [&](int x, int y) {
        float u = (x + 0.5f - (sx - shw)) / (2 * shw), v = (y + 0.5f - (sy - shh)) / (2 * shh);
        Colour col = kind == 0 ? screen_static((float)x, (float)y, 217) : (kind == 1 ? screen_bars(u, v) : screen_test_card(u, v));
        float du = u - 0.5f, dv = v - 0.5f;
        float vig = 1.0f - 0.9f * std::pow(du * du + dv * dv, 1.5f) * 2.2f;
        float scan = 0.88f + 0.12f * std::sin((y + 0.5f) * kPi);
        col = scale(col, clamp01(vig) * scan);
        // Reflection on the glass.
        float glare = std::exp(-std::pow((u + v * 0.6f - 0.45f) / 0.12f, 2.0f)) * 0.18f * (v < 0.5f ? 1.0f : 0.3f);
        col = Colour{clamp01(col.r + glare), clamp01(col.g + glare), clamp01(col.b + glare), 1.0f};
        return col;
    });
    mask_free(screen);
    // Control panel: two knobs, a speaker grille and the call letters.
    const float kx = 208.0f;
    canvas_fill_sdf(c, colour_rgb(0.12f, 0.1f, 0.08f), [&](float x, float y) { return sdf_round_box(x, y, kx, 130, 26, 80, 6); });
    for (int k = 0; k < 2; k++) {
        float ky = 82.0f + k * 44.0f;
        canvas_fill_sdf(c, colour_rgb(0.05f, 0.05f, 0.05f), [&](float x, float y) { return sdf_circle(x, y, kx + 1, ky + 2, 14); });
        Mask* knob = mask_new(256, 256);
        if (!knob) break;
        mask_fill_sdf(knob, [&](float x, float y) { return sdf_circle(x, y, kx, ky, 13); });
        paint_mask_shaded(c, knob, 0, 0, [&](int x, int y) {
            float dx = (x + 0.5f - kx) / 13.0f, dy = (y + 0.5f - ky) / 13.0f;
            float lit = 0.55f + 0.35f * (-dx * 0.6f - dy * 0.8f);
            float ridges = 0.9f + 0.1f * std::cos(std::atan2(dy, dx) * 18.0f);
            return grey(clamp01(lit * ridges) * 0.9f + 0.05f);
        });
        mask_free(knob);
        float a = -0.8f + k * 1.9f + kind * 0.7f;
        canvas_fill_sdf(c, colour_rgb(0.95f, 0.9f, 0.7f), [&](float x, float y) {
            return sdf_segment(x, y, kx, ky, kx + std::cos(a) * 10.0f, ky + std::sin(a) * 10.0f) - 1.3f;
        });
    }
    for (int i = 0; i < 7; i++) {
        float gy = 158.0f + i * 6.0f;
        canvas_fill_sdf(c, colour_rgb(0.35f, 0.3f, 0.24f), [&](float x, float y) { return sdf_segment(x, y, kx - 16, gy, kx + 16, gy) - 1.2f; });
    }
    // The call letters on a plate under the screen.
    canvas_fill_sdf(c, colour_rgb(0.1f, 0.08f, 0.05f), [](float x, float y) { return sdf_round_box(x, y, 98, 214, 40, 11, 4); });
    Mask* letters = mask_new(256, 256);
    if (letters) {
        float w = text_width(FONT_SERIF, 19.0f, "WDAN", 2.0f);
        text_draw(letters, FONT_SERIF, 19.0f, 98.0f - w * 0.5f, 221.0f, "WDAN", 2.0f);
        paint_mask_shaded(c, letters, 0, 0, [](int, int y) {
            return colour_mix(colour_rgb(1.0f, 0.92f, 0.55f), colour_rgb(0.75f, 0.55f, 0.2f), clamp01((y - 206) / 16.0f));
        });
        mask_free(letters);
    }
    return c;
}

// ---- gulls ---------------------------------------------------------------------------------------

Canvas* paint_bird(const TextureSpec* spec) {
    Canvas* c = canvas_new(spec->width, spec->height);
    if (!c) return nullptr;
    int second = strstr(spec->file, "right") != nullptr;
    // Wing outline of the near (right in the picture) wing; the far wing is its mirror, a little
    // shorter. Gliding with raised elbows for the first gull, a downstroke for the second.
    static const float glide[] = {128, 60, 150, 46, 178, 34, 214, 38, 248, 56, 226, 54, 196, 52, 170, 60, 140, 70};
    static const float down[] = {128, 62, 152, 58, 182, 62, 210, 78, 236, 104, 214, 92, 190, 80, 164, 72, 138, 72};
    const float* wing = second ? down : glide;
    const int wn = 9;
    float near_w[18], far_w[18];
    for (int i = 0; i < wn; i++) {
        near_w[i * 2] = wing[i * 2];
        near_w[i * 2 + 1] = wing[i * 2 + 1];
        far_w[i * 2] = 256.0f - (128.0f + (wing[i * 2] - 128.0f) * 0.9f);
        far_w[i * 2 + 1] = wing[i * 2 + 1] - 2.0f;
    }
    Mask* m = mask_new(256, 128);
    if (!m) {
        canvas_free(c);
        return nullptr;
    }
    mask_fill_sdf(m, [&](float x, float y) { return sdf_polygon(x, y, far_w, wn); });
    paint_mask_shaded(c, m, 0, 0, [&](int x, int) {
        float tip = smoothstepf(40.0f, 20.0f, (float)x);
        return colour_mix(colour_rgb(0.36f, 0.38f, 0.42f), colour_rgb(0.08f, 0.08f, 0.09f), tip);
    });
    // Body (head to the right), tail, then the near wing over it.
    memset(m->v, 0, sizeof(float) * 256 * 128);
    static const float tail[] = {96, 62, 70, 56, 72, 72, 100, 70};
    mask_fill_sdf(m, [&](float x, float y) {
        float body = sdf_ellipse(x, y, 126, 66, 34, 10);
        float head = sdf_circle(x, y, 162, 60, 9);
        float neck = sdf_segment(x, y, 140, 64, 158, 61) - 7.0f;
        return std::fmin(std::fmin(body, head), std::fmin(neck, sdf_polygon(x, y, tail, 4)));
    });
    paint_mask_shaded(c, m, 0, 0, [&](int x, int y) {
        // Light belly and head, grey back.
        float belly = smoothstepf(60.0f, 68.0f, (float)y) + (x > 150 ? 0.6f : 0.0f);
        return colour_mix(colour_rgb(0.5f, 0.52f, 0.56f), colour_rgb(0.93f, 0.93f, 0.9f), clamp01(belly));
    });
    canvas_fill_sdf(c, colour_rgb(0.95f, 0.75f, 0.2f), [](float x, float y) {
        static const float beak[] = {168, 58, 182, 61, 168, 64};
        return sdf_polygon(x, y, beak, 3);
    });
    canvas_fill_sdf(c, colour_rgb(0.05f, 0.05f, 0.05f), [](float x, float y) { return sdf_circle(x, y, 164, 58, 1.6f); });
    memset(m->v, 0, sizeof(float) * 256 * 128);
    mask_fill_sdf(m, [&](float x, float y) { return sdf_polygon(x, y, near_w, wn); });
    paint_mask_shaded(c, m, 0, 0, [&](int x, int y) {
        float tip = smoothstepf(205.0f, 235.0f, (float)x);
        float under = second ? 0.25f * smoothstepf(70.0f, 100.0f, (float)y) : 0.0f;
        Colour col = colour_mix(colour_rgb(0.4f, 0.42f, 0.46f), colour_rgb(0.07f, 0.07f, 0.08f), tip);
        return colour_mix(col, colour_rgb(0.85f, 0.86f, 0.88f), under);
    });
    // Primary feathers spread like fingers past the near wing's black tip, and a white spot on it.
    {
        const float* tipv = &near_w[4 * 2];
        const float* lead = &near_w[3 * 2];
        const float* trail = &near_w[5 * 2];
        float dx = tipv[0] - lead[0], dy = tipv[1] - lead[1], l = std::sqrt(dx * dx + dy * dy);
        dx /= l;
        dy /= l;
        for (int k = 0; k < 4; k++) {
            float t = 0.2f + 0.2f * k;
            float sx = lerpf(tipv[0], trail[0], t), sy = lerpf(tipv[1], trail[1], t);
            float len = 9.0f - 1.5f * k, bend = 0.25f * k;
            float ex = sx + (dx * std::cos(bend) - dy * std::sin(bend)) * len;
            float ey = sy + (dx * std::sin(bend) + dy * std::cos(bend)) * len;
            canvas_fill_sdf(c, (int)std::fmin(sx, ex) - 4, (int)std::fmin(sy, ey) - 4, (int)std::fmax(sx, ex) + 5,
                            (int)std::fmax(sy, ey) + 5, colour_rgb(0.06f, 0.06f, 0.07f), [&](float x, float y) {
                                float u = clamp01(((x - sx) * (ex - sx) + (y - sy) * (ey - sy)) / (len * len));
                                return sdf_segment(x, y, sx, sy, ex, ey) - lerpf(2.2f, 0.7f, u);
                            });
        }
        float wx = lerpf(lead[0], tipv[0], 0.75f), wy = lerpf(lead[1], tipv[1], 0.75f) + 2.5f;
        canvas_fill_sdf(c, colour_rgb(0.95f, 0.95f, 0.95f), [&](float x, float y) { return sdf_circle(x, y, wx, wy, 1.8f); });
    }
    mask_free(m);
    if (second) {
        // The second gull flies the other way.
        for (int y = 0; y < c->height; y++)
            for (int x = 0; x < c->width / 2; x++)
                for (int k = 0; k < 4; k++) {
                    float* a = &c->px[((size_t)y * c->width + x) * 4 + k];
                    float* b = &c->px[((size_t)y * c->width + (c->width - 1 - x)) * 4 + k];
                    float t = *a;
                    *a = *b;
                    *b = t;
                }
    }
    return c;
}

// ---- sea creatures -------------------------------------------------------------------------------

namespace {

// A tapered stroke along a quadratic curve from a through control b to end c, radius r0 to r1.
float sdf_tentacle(float x, float y, const float* p, float r0, float r1) {
    float best = 1e9f;
    const int steps = 24;
    float px = p[0], py = p[1];
    for (int i = 1; i <= steps; i++) {
        float t = (float)i / steps, s = 1.0f - t;
        float qx = s * s * p[0] + 2 * s * t * p[2] + t * t * p[4];
        float qy = s * s * p[1] + 2 * s * t * p[3] + t * t * p[5];
        float r = lerpf(r0, r1, t - 0.5f / steps);
        float d = sdf_segment(x, y, px, py, qx, qy) - r;
        if (d < best) best = d;
        px = qx;
        py = qy;
    }
    return best;
}

}  // namespace

Canvas* paint_creature(const TextureSpec* spec) {
    Canvas* c = canvas_new(spec->width, spec->height);
    if (!c) return nullptr;
    int second = strstr(spec->file, "right") != nullptr;
    // Drawn facing right; the second creature is built with its own colours and then mirrored.
    const Colour skin = second ? colour_rgb(0.55f, 0.22f, 0.42f) : colour_rgb(0.22f, 0.5f, 0.42f);
    const Colour belly = second ? colour_rgb(0.85f, 0.6f, 0.6f) : colour_rgb(0.7f, 0.82f, 0.6f);
    const Colour shell = second ? colour_rgb(0.9f, 0.55f, 0.2f) : colour_rgb(0.85f, 0.3f, 0.15f);
    Rng rng = rng_make(second ? 303 : 301);
    Mask* m = mask_new(256, 320);
    if (!m) {
        canvas_free(c);
        return nullptr;
    }
    // Tentacles reaching down to the bottom edge, curling at their ends.
    struct Tent { float p[6]; float r0; };
    std::vector<Tent> tents;
    for (int i = 0; i < 6; i++) {
        Tent t;
        float bx = 70.0f + i * 22.0f + rng_range(&rng, -6, 6);
        float ex = bx + rng_range(&rng, -40, 40);
        t.p[0] = bx;
        t.p[1] = 200.0f;
        t.p[2] = (bx + ex) * 0.5f + rng_range(&rng, -30, 30);
        t.p[3] = 265.0f;
        t.p[4] = ex;
        t.p[5] = 313.0f;
        t.r0 = rng_range(&rng, 9, 13);
        tents.push_back(t);
    }
    mask_fill_sdf(m, [&](float x, float y) {
        float d = 1e9f;
        for (size_t i = 0; i < tents.size(); i++) {
            const Tent& t = tents[i];
            d = std::fmin(d, sdf_tentacle(x, y, t.p, t.r0, 4.0f));
            // The tip bends along the ground: the creature stands on the bottom edge.
            float dir = (i & 1) ? 1.0f : -1.0f;
            d = std::fmin(d, sdf_segment(x, y, t.p[4], t.p[5], t.p[4] + dir * 14.0f, 316.5f) - 3.5f);
        }
        return d;
    });
    paint_mask_shaded(c, m, 0, 0, [&](int x, int y) {
        float rings = 0.85f + 0.15f * std::sin(y * 0.6f + x * 0.1f);
        return scale(colour_mix(skin, belly, 0.25f), rings * (1.0f - 0.35f * (y - 200) / 120.0f));
    });
    // Suckers along the tentacles.
    for (const Tent& t : tents)
        for (int k = 2; k < 10; k++) {
            float u = k / 11.0f, s = 1.0f - u;
            float qx = s * s * t.p[0] + 2 * s * u * t.p[2] + u * u * t.p[4] + 3.0f;
            float qy = s * s * t.p[1] + 2 * s * u * t.p[3] + u * u * t.p[5];
            float r = lerpf(t.r0, 4.0f, u) * 0.4f;
            canvas_fill_sdf(c, (int)qx - 8, (int)qy - 8, (int)qx + 9, (int)qy + 9, colour_mix(belly, grey(1.0f), 0.3f),
                            [&](float x, float y) { return sdf_circle(x, y, qx, qy, r); });
        }
    // Body: a lumpy hump of blended lobes, darker on the back, pale underneath, with spots.
    auto smin = [](float a, float b, float k) {
        float h = clamp01(0.5f + 0.5f * (b - a) / k);
        return lerpf(b, a, h) - k * h * (1.0f - h);
    };
    memset(m->v, 0, sizeof(float) * 256 * 320);
    mask_fill_sdf(m, [&](float x, float y) {
        float lump = 4.0f * pattern_noise2(x / 22.0f, y / 22.0f, 0, 0, second ? 307 : 305);
        float d = sdf_circle(x, y, 112, 158, 56);
        d = smin(d, sdf_circle(x, y, 78, 132, 34), 18.0f);
        d = smin(d, sdf_circle(x, y, 118, 108, 40), 18.0f);
        d = smin(d, sdf_circle(x, y, 160, 112, 32), 16.0f);  // head
        d = smin(d, sdf_ellipse(x, y, 116, 198, 64, 22), 10.0f);
        return d + lump;
    });
    paint_mask_shaded(c, m, 0, 0, [&](int x, int y) {
        float t = clamp01((y - 80) / 130.0f);
        Colour col = colour_mix(scale(skin, 0.7f), skin, t);
        col = colour_mix(col, belly, smoothstepf(172.0f, 206.0f, (float)y) * 0.8f);
        float spot = pattern_cells(x / 13.0f, y / 13.0f, 0, second ? 311 : 309, nullptr);
        if (spot < 0.2f && y < 180) col = scale(col, 0.7f + spot);
        float rim = 0.2f * smoothstepf(110.0f, 185.0f, (float)x) * (1.0f - t);
        col = Colour{clamp01(col.r + rim), clamp01(col.g + rim), clamp01(col.b + rim), 1.0f};
        return col;
    });
    // Crab claw held forward: a jointed arm, a swollen palm and two curved fingers with a gap.
    memset(m->v, 0, sizeof(float) * 256 * 320);
    mask_fill_sdf(m, [&](float x, float y) {
        float arm = std::fmin(sdf_segment(x, y, 150, 178, 196, 186) - 8.0f, sdf_segment(x, y, 196, 186, 214, 162) - 7.0f);
        float palm = sdf_ellipse(x, y, 220, 146, 15, 19);
        static const float upper[6] = {214, 132, 226, 96, 250, 100};
        static const float lower[6] = {230, 156, 248, 150, 252, 126};
        float fingers = std::fmin(sdf_tentacle(x, y, upper, 9.0f, 2.0f), sdf_tentacle(x, y, lower, 6.5f, 1.8f));
        return std::fmin(std::fmin(arm, palm), fingers);
    });
    paint_mask_shaded(c, m, 0, 0, [&](int x, int y) {
        float lit = 1.05f - 0.45f * clamp01((y - 95) / 95.0f) + 0.1f * std::sin(x * 0.2f + y * 0.1f);
        return scale(shell, lit);
    });
    // Knobbly highlights on the claw.
    for (int k = 0; k < 5; k++) {
        float bx = 214.0f + k * 5.0f, by = 138.0f - k * 7.0f;
        canvas_fill_sdf(c, (int)bx - 4, (int)by - 4, (int)bx + 5, (int)by + 5, colour_mix(shell, grey(1.0f), 0.45f),
                        [&](float x, float y) { return sdf_circle(x, y, bx, by, 1.6f); });
    }
    mask_free(m);
    // Eye looking right: glowing yellow with a slit pupil, and a heavy brow.
    canvas_fill_sdf(c, colour_rgb(0.05f, 0.03f, 0.02f), [](float x, float y) { return sdf_ellipse(x, y, 172, 104, 12, 10); });
    canvas_fill_sdf(c, colour_rgb(1.0f, 0.85f, 0.2f), [](float x, float y) { return sdf_ellipse(x, y, 173, 104, 10, 8); });
    canvas_fill_sdf(c, colour_rgb(0.05f, 0.02f, 0.0f), [](float x, float y) { return sdf_ellipse(x, y, 176, 104, 2.2f, 7); });
    canvas_fill_sdf(c, colour_rgb(1.0f, 1.0f, 1.0f), [](float x, float y) { return sdf_circle(x, y, 170, 101, 1.8f); });
    canvas_fill_sdf(c, scale(skin, 0.55f), [](float x, float y) { return sdf_segment(x, y, 158, 92, 186, 96) - 3.0f; });
    // Feelers on the head.
    canvas_fill_sdf(c, scale(skin, 0.8f), [&](float x, float y) {
        static const float f1[6] = {176, 88, 196, 60, 220, 58};
        static const float f2[6] = {166, 86, 170, 52, 190, 36};
        return std::fmin(sdf_tentacle(x, y, f1, 3.5f, 1.2f), sdf_tentacle(x, y, f2, 3.5f, 1.2f));
    });
    if (second) {
        for (int y = 0; y < c->height; y++)
            for (int x = 0; x < c->width / 2; x++)
                for (int k = 0; k < 4; k++) {
                    float* a = &c->px[((size_t)y * c->width + x) * 4 + k];
                    float* b = &c->px[((size_t)y * c->width + (c->width - 1 - x)) * 4 + k];
                    float t = *a;
                    *a = *b;
                    *b = t;
                }
    }
    return c;
}

// ---- dancer: 12 poses of a loop in a 4 x 3 sheet -------------------------------------------------

Canvas* paint_dancers(const TextureSpec* spec) {
    Canvas* c = canvas_new(spec->width, spec->height);
    if (!c) return nullptr;
    const int cw = spec->width / 4, ch = spec->height / 3;
    Mask* m = mask_new(cw, ch);
    if (!m) {
        canvas_free(c);
        return nullptr;
    }
    for (int f = 0; f < 12; f++) {
        float p = kTwoPi * f / 12.0f;  // one loop over the sheet
        float s = std::sin(p), s2 = std::sin(2 * p), co = std::cos(p);
        // Skeleton in cell coordinates (y down); the hips bounce twice per loop.
        float hx = 160.0f + 10.0f * s, hy = 128.0f + 6.0f * std::fabs(s2);
        float lean = 0.18f * s;
        float nx = hx + std::sin(lean) * 58.0f, ny = hy - std::cos(lean) * 58.0f;  // neck
        float headx = nx + std::sin(lean * 1.5f) * 18.0f, heady = ny - 18.0f;
        auto limb = [](float x0, float y0, float a1, float l1, float a2, float l2, float* out) {
            out[0] = x0 + std::sin(a1) * l1;
            out[1] = y0 + std::cos(a1) * l1;
            out[2] = out[0] + std::sin(a1 + a2) * l2;
            out[3] = out[1] + std::cos(a1 + a2) * l2;
        };
        float la[4], ra[4], ll[4], rl[4];
        // Arms swing up and down in counter-phase; legs step with a kick.
        const float shoulder = 13.0f;
        limb(nx - shoulder, ny + 6, -2.0f + 1.2f * s, 30, -0.8f + 0.6f * co, 27, la);
        limb(nx + shoulder, ny + 6, 2.0f + 1.2f * s, 30, 0.8f + 0.6f * co, 27, ra);
        limb(hx - 7, hy, -0.25f + 0.45f * s, 44, 0.35f * (1.0f + co) * (s > 0 ? 1.0f : 0.2f), 44, ll);
        limb(hx + 7, hy, 0.25f + 0.45f * s, 44, -0.35f * (1.0f - co) * (s < 0 ? 1.0f : 0.2f), 44, rl);
        // Ponytail flung out behind the turning head.
        float tail[6] = {headx - 4, heady - 8, headx - 22 - 10 * s, heady - 10 + 8 * co, headx - 30 - 14 * s, heady + 14 + 6 * co};
        memset(m->v, 0, sizeof(float) * cw * ch);
        mask_fill_sdf(m, [&](float x, float y) {
            float d = sdf_circle(x, y, headx, heady, 13.0f);
            d = std::fmin(d, sdf_tentacle(x, y, tail, 6.0f, 2.0f));
            // Torso: shoulders wider than the waist.
            float torso[8] = {nx - shoulder - 3, ny + 2, nx + shoulder + 3, ny + 2, hx + 10, hy - 6, hx - 10, hy - 6};
            d = std::fmin(d, sdf_polygon(x, y, torso, 4) - 3.0f);
            d = std::fmin(d, sdf_segment(x, y, nx, ny, headx, heady) - 5.0f);
            const float* limbs[4] = {la, ra, ll, rl};
            for (int k = 0; k < 4; k++) {
                float r0 = k < 2 ? 5.5f : 9.0f, r1 = k < 2 ? 4.0f : 6.0f;
                float sx = k == 0 ? nx - shoulder : (k == 1 ? nx + shoulder : (k == 2 ? hx - 7 : hx + 7));
                float sy = k < 2 ? ny + 6 : hy;
                d = std::fmin(d, sdf_segment(x, y, sx, sy, limbs[k][0], limbs[k][1]) - r0);
                d = std::fmin(d, sdf_segment(x, y, limbs[k][0], limbs[k][1], limbs[k][2], limbs[k][3]) - r1);
                d = std::fmin(d, sdf_circle(x, y, limbs[k][2], limbs[k][3], r1 + 1.0f));
            }
            // A skirt that flares with the turn.
            float flare = 22.0f + 8.0f * std::fabs(s);
            float skirt[8] = {hx - 16, hy - 10, hx + 16, hy - 10, hx + flare + 6 * co, hy + 26, hx - flare + 6 * co, hy + 26};
            d = std::fmin(d, sdf_polygon(x, y, skirt, 4) - 1.0f);
            return d;
        });
        int ox = (f % 4) * cw, oy = (f / 4) * ch;
        paint_mask_shaded(c, m, ox, oy, [&](int, int y) {
            float t = clamp01((y - oy - 30) / 200.0f);
            return colour_mix(colour_rgb(0.97f, 0.95f, 0.9f), colour_rgb(0.85f, 0.82f, 0.9f), t);
        });
    }
    mask_free(m);
    return c;
}

// ---- credits -------------------------------------------------------------------------------------

namespace {

void plate(Canvas* c, float x0, float y0, float x1, float y1, float alpha) {
    float cx = (x0 + x1) * 0.5f, cy = (y0 + y1) * 0.5f, hw = (x1 - x0) * 0.5f, hh = (y1 - y0) * 0.5f;
    canvas_fill_sdf(c, Colour{0.02f, 0.04f, 0.09f, alpha}, [&](float x, float y) { return sdf_round_box(x, y, cx, cy, hw, hh, 10); });
    canvas_fill_sdf(c, Colour{0.5f, 0.85f, 1.0f, 0.45f}, [&](float x, float y) {
        return std::fabs(sdf_round_box(x, y, cx, cy, hw - 2.5f, hh - 2.5f, 8)) - 0.7f;
    });
}

void words(Canvas* c, int font, float size, float x, float y, const char* text, Colour colour, float tracking) {
    Mask* m = mask_new(c->width, c->height);
    if (!m) return;
    text_draw(m, font, size, x, y, text, tracking);
    Mask* s = mask_copy(m);
    if (s) {
        mask_blur(s, 1, 0);
        canvas_paint_mask(c, s, 1, 2, Colour{0, 0, 0, 0.6f});
        mask_free(s);
    }
    canvas_paint_mask(c, m, 0, 0, colour);
    mask_free(m);
}

}  // namespace

Canvas* paint_credit(const TextureSpec* spec) {
    Canvas* c = canvas_new(spec->width, spec->height);
    if (!c) return nullptr;
    const char* role = "music";
    const char* name = "brask";
    if (strstr(spec->file, "graphics")) {
        role = "graphics";
        name = "tolvan";
    } else if (strstr(spec->file, "code")) {
        role = "code";
        name = "merrit";
    }
    plate(c, 4, 6, 252, 90, 0.62f);
    words(c, FONT_SANS, 19.0f, 20.0f, 31.0f, role, colour_rgb(0.55f, 0.88f, 1.0f), 1.5f);
    float size = fit_size(FONT_HEAVY, name, 50.0f, 216.0f, 0.0f);
    words(c, FONT_HEAVY, size, 18.0f, 78.0f, name, colour_rgb(1.0f, 1.0f, 1.0f), 0.0f);
    return c;
}

Canvas* paint_end_credit(const TextureSpec* spec) {
    Canvas* c = canvas_new(spec->width, spec->height);
    if (!c) return nullptr;
    plate(c, 4, 4, 316, 196, 0.6f);
    const Colour label = colour_rgb(0.55f, 0.88f, 1.0f), white = colour_rgb(1, 1, 1);
    if (strstr(spec->file, "_1")) {
        words(c, FONT_HEAVY, 34.0f, 18.0f, 48.0f, "Velmorian", colour_rgb(0.8f, 0.97f, 1.0f), 0.5f);
        words(c, FONT_HEAVY, 24.0f, 20.0f, 78.0f, "Quillet", colour_rgb(0.35f, 0.85f, 0.95f), 0.5f);
        const char* rows[3][2] = {{"music", "brask"}, {"graphics", "tolvan"}, {"code", "merrit"}};
        for (int i = 0; i < 3; i++) {
            float y = 114.0f + i * 27.0f;
            words(c, FONT_SANS, 16.0f, 22.0f, y, rows[i][0], label, 1.0f);
            words(c, FONT_SANS_BOLD, 20.0f, 120.0f, y, rows[i][1], white, 0.0f);
        }
    } else {
        words(c, FONT_SANS_BOLD, 23.0f, 18.0f, 38.0f, "thanks for watching", white, 0.0f);
        words(c, FONT_SANS, 14.0f, 20.0f, 62.0f, "greetings to", label, 1.0f);
        const char* names[7] = {"orvane", "dulcet mire", "pell harrow", "ostrel", "wispkeys", "tamblers", "grindlow"};
        for (int i = 0; i < 7; i++) {
            float x = i < 4 ? 26.0f : 170.0f, y = 90.0f + (i % 4) * 25.0f;
            words(c, FONT_SANS_BOLD, 17.0f, x, y, names[i], white, 0.0f);
        }
    }
    return c;
}

// ---- film strip: 16 cels of a sepia sea ----------------------------------------------------------

Canvas* paint_filmstrip(const TextureSpec* spec) {
    Canvas* c = canvas_new(spec->width, spec->height);
    if (!c) return nullptr;
    canvas_fill(c, colour_rgb(0.04f, 0.035f, 0.03f));
    const int cel = 240, cels = spec->height / cel;
    const float fx0 = 34.0f, fx1 = 286.0f, fy0 = 14.0f, fy1 = 226.0f;  // picture area of a cel
    const float horizon = 118.0f;
    for (int k = 0; k < cels; k++) {
        float oy = (float)(k * cel);
        float phase = (float)k / cels;  // everything moves by whole periods over the loop
        Mask* pic = mask_new(spec->width, cel);
        if (!pic) break;
        mask_fill_sdf(pic, [&](float x, float y) {
            return sdf_round_box(x, y, (fx0 + fx1) * 0.5f, (fy0 + fy1) * 0.5f, (fx1 - fx0) * 0.5f, (fy1 - fy0) * 0.5f, 9);
        });
        paint_mask_shaded(c, pic, 0, (int)oy, [&](int x, int yy) {
            float fx = x + 0.5f, fy = yy + 0.5f - oy;
            float lum;
            if (fy < horizon) {
                lum = 0.62f + 0.25f * (fy - fy0) / (horizon - fy0);
                // Clouds drift one picture width over the loop (the noise wraps every 4 units).
                float u = (fx - fx0) / (fx1 - fx0) * 4.0f + phase * 4.0f;
                float cloud = pattern_fbm2(u, fy / 30.0f, 4, 4, 0, 0.55f, 401);
                lum += 0.25f * smoothstepf(0.0f, 0.45f, cloud) * (1.0f - (fy - fy0) / (horizon - fy0) * 0.7f);
                float sun = sdf_circle(fx, fy, 210.0f, 70.0f, 13.0f);
                lum += 0.3f * (1.0f - smoothstepf(-1.0f, 1.0f, sun)) + 0.15f * std::exp(-std::fmax(sun, 0.0f) / 20.0f);
            } else {
                float depth = (fy - horizon) / (fy1 - horizon);
                lum = 0.38f + 0.12f * depth;
                // Waves travel towards the viewer, one wavelength per loop.
                float rows = 3.0f + 18.0f * depth;
                float w = std::sin(kTwoPi * (rows - phase) + std::sin(fx / (14.0f + 30.0f * depth) + kTwoPi * phase) * 1.4f +
                                   2.5f * pattern_noise2(fx / 24.0f, rows, 0, 0, 405));
                lum += (0.1f + 0.15f * depth) * smoothstepf(0.5f, 1.0f, w);
                float path = std::exp(-std::pow((fx - 210.0f) / (8.0f + depth * 50.0f), 2.0f));
                lum += 0.35f * path * smoothstepf(0.0f, 1.0f, w * 0.5f + 0.5f);
                // A small boat rocking on the horizon.
                float bob = 1.5f * std::sin(kTwoPi * phase);
                float hull = sdf_round_box(fx, fy, 90.0f, horizon + 3.0f + bob, 12.0f, 2.5f, 2.0f);
                if (hull < 0.5f) lum = 0.15f;
            }
            float sail[6] = {88.0f, horizon - 20.0f + 1.5f * std::sin(kTwoPi * phase), 88.0f, horizon + 0.5f, 100.0f, horizon};
            if (sdf_polygon(fx, fy, sail, 3) < 0.0f) lum = 0.3f;
            float vx = (fx - 160.0f) / 126.0f, vy = (fy - 120.0f) / 106.0f;
            lum *= 1.0f - 0.35f * std::pow(std::fmin(1.0f, (vx * vx + vy * vy) * 0.5f), 1.5f);
            lum += 0.05f * pattern_noise2(fx * 0.8f, fy * 0.8f + k * 37.0f, 0, 0, 403);
            float flicker = 1.0f + 0.04f * std::sin(k * 2.7f);
            lum = clamp01(lum * flicker);
            return colour_mix(colour_rgb(0.14f, 0.09f, 0.05f), colour_rgb(1.0f, 0.92f, 0.76f), lum);
        });
        mask_free(pic);
        // Sprocket holes down both margins, light showing through.
        for (int i = 0; i < 8; i++) {
            float hy = oy + 15.0f + i * 30.0f;
            canvas_fill_sdf(c, 0, (int)hy - 8, spec->width, (int)hy + 9, colour_rgb(0.86f, 0.82f, 0.72f), [&](float x, float y) {
                return std::fmin(sdf_round_box(x, y, 16.0f, hy, 7.0f, 5.5f, 2.0f), sdf_round_box(x, y, 304.0f, hy, 7.0f, 5.5f, 2.0f));
            });
        }
        // Edge markings: the frame number in the right margin, turned text as on real stock.
        Mask* num = mask_new(40, 20);
        if (num) {
            char label[8];
            snprintf(label, sizeof label, "%d", k + 1);
            text_draw(num, FONT_MONO, 12.0f, 2.0f, 14.0f, label, 0.0f);
            for (int y = 0; y < 20; y++)
                for (int x = 0; x < 40; x++) {
                    float v = num->v[y * 40 + x];
                    // Rotated a quarter turn, into the gap between the picture and the holes.
                    if (v > 0.0f) canvas_blend(c, 290 - y + 14, (int)oy + 200 - x, colour_rgb(0.95f, 0.72f, 0.3f), v);
                }
            mask_free(num);
        }
        canvas_fill_sdf(c, 0, (int)oy, spec->width, (int)oy + cel, colour_rgb(0.95f, 0.72f, 0.3f), [&](float x, float y) {
            return sdf_segment(x, y, 28.0f, oy + 40.0f, 28.0f, oy + 40.0f + 8.0f * ((k % 4) + 1)) - 0.8f;
        });
    }
    return c;
}
