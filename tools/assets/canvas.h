// Canvas: the float picture the texture art is painted on, and the painting tools.
//
// Pixels are premultiplied RGBA floats in 0..1, row-major, top row first. Shapes are drawn from
// signed distance functions (negative inside, in pixels), which gives one-pixel antialiased edges
// for every shape with one filler. Everything here is deterministic: no clock, no global state
// apart from what callers pass in.
#pragma once
#include <cmath>
#include <cstdint>

struct Colour {
    float r, g, b, a;  // straight (not premultiplied)
};

inline Colour colour_rgb(float r, float g, float b, float a = 1.0f) { return Colour{r, g, b, a}; }
inline Colour colour_hex(uint32_t rgb, float a = 1.0f) {
    return Colour{((rgb >> 16) & 255) / 255.0f, ((rgb >> 8) & 255) / 255.0f, (rgb & 255) / 255.0f, a};
}
Colour colour_mix(Colour a, Colour b, float t);

struct Canvas {
    int width;
    int height;
    float* px;  // width * height * 4 premultiplied floats, stored right after the header
};

Canvas* canvas_new(int width, int height);  // transparent black; null on no memory
void canvas_free(Canvas* canvas);           // null accepted
void canvas_fill(Canvas* canvas, Colour colour);
// Composites colour with the given coverage (0..1) over pixel (x, y); outside pixels are ignored.
void canvas_blend(Canvas* canvas, int x, int y, Colour colour, float coverage);
// Sets pixel (x, y) to colour, ignoring what was there.
void canvas_set(Canvas* canvas, int x, int y, Colour colour);
Colour canvas_get(const Canvas* canvas, int x, int y);  // straight colour of a pixel
// Multiplies every pixel's alpha (and so its premultiplied colour) by the mask's value.
void canvas_multiply_alpha(Canvas* canvas, const float* mask);
// Composites src over dst with its top-left corner at (x, y), times opacity.
void canvas_draw(Canvas* dst, const Canvas* src, int x, int y, float opacity);
// Box-filtered copy to a new size (for thumbnails).
Canvas* canvas_scaled(const Canvas* src, int width, int height);

// A single-channel float picture (coverage masks, height fields).
struct Mask {
    int width;
    int height;
    float* v;
};
Mask* mask_new(int width, int height);
void mask_free(Mask* mask);
// Three box passes of the given radius approximate a Gaussian blur; edges clamp or wrap.
void mask_blur(Mask* mask, int radius, int wrap);
// Paints colour through the mask (coverage = mask value * opacity) with its origin at (x, y).
void canvas_paint_mask(Canvas* canvas, const Mask* mask, int x, int y, Colour colour);

// Signed distance shapes (distances in pixels, negative inside).
inline float sdf_circle(float x, float y, float cx, float cy, float r) {
    return std::sqrt((x - cx) * (x - cx) + (y - cy) * (y - cy)) - r;
}
float sdf_segment(float x, float y, float ax, float ay, float bx, float by);  // distance to a segment
float sdf_round_box(float x, float y, float cx, float cy, float hw, float hh, float radius);
float sdf_ellipse(float x, float y, float cx, float cy, float rx, float ry);
// Polygon of n points (x0, y0, x1, y1, ...), any winding, even-odd inside test.
float sdf_polygon(float x, float y, const float* points, int n);

// Fills the shape whose signed distance is sdf(x, y) (evaluated at pixel centres) over the box
// [x0, x1) x [y0, y1), with coverage 0.5 - distance clamped to 0..1.
template <typename F>
void canvas_fill_sdf(Canvas* canvas, int x0, int y0, int x1, int y1, Colour colour, F sdf) {
    if (x0 < 0) x0 = 0;
    if (y0 < 0) y0 = 0;
    if (x1 > canvas->width) x1 = canvas->width;
    if (y1 > canvas->height) y1 = canvas->height;
    for (int y = y0; y < y1; y++)
        for (int x = x0; x < x1; x++) {
            float d = sdf(x + 0.5f, y + 0.5f);
            float c = 0.5f - d;
            if (c <= 0.0f) continue;
            canvas_blend(canvas, x, y, colour, c > 1.0f ? 1.0f : c);
        }
}
template <typename F>
void canvas_fill_sdf(Canvas* canvas, Colour colour, F sdf) {
    canvas_fill_sdf(canvas, 0, 0, canvas->width, canvas->height, colour, sdf);
}
// Same as above, into a mask (max of the old value and the coverage).
template <typename F>
void mask_fill_sdf(Mask* mask, F sdf) {
    for (int y = 0; y < mask->height; y++)
        for (int x = 0; x < mask->width; x++) {
            float c = 0.5f - sdf(x + 0.5f, y + 0.5f);
            if (c <= 0.0f) continue;
            if (c > 1.0f) c = 1.0f;
            float* p = &mask->v[y * mask->width + x];
            if (c > *p) *p = c;
        }
}

// Small helpers.
inline float clamp01(float v) { return v < 0.0f ? 0.0f : (v > 1.0f ? 1.0f : v); }
inline float lerpf(float a, float b, float t) { return a + (b - a) * t; }
inline float smoothstepf(float e0, float e1, float x) {
    float t = clamp01((x - e0) / (e1 - e0));
    return t * t * (3.0f - 2.0f * t);
}
