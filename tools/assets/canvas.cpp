#include "assets/canvas.h"

#include <cstdlib>
#include <cstring>

Colour colour_mix(Colour a, Colour b, float t) {
    return Colour{lerpf(a.r, b.r, t), lerpf(a.g, b.g, t), lerpf(a.b, b.b, t), lerpf(a.a, b.a, t)};
}

Canvas* canvas_new(int width, int height) {
    if (width <= 0 || height <= 0) return nullptr;
    size_t count = (size_t)width * (size_t)height * 4;
    Canvas* c = (Canvas*)calloc(1, sizeof(Canvas) + count * sizeof(float));
    if (!c) return nullptr;
    c->width = width;
    c->height = height;
    c->px = (float*)(c + 1);
    return c;
}

void canvas_free(Canvas* canvas) { free(canvas); }

void canvas_fill(Canvas* canvas, Colour colour) {
    for (int y = 0; y < canvas->height; y++)
        for (int x = 0; x < canvas->width; x++) canvas_set(canvas, x, y, colour);
}

void canvas_blend(Canvas* canvas, int x, int y, Colour colour, float coverage) {
    if (x < 0 || y < 0 || x >= canvas->width || y >= canvas->height) return;
    float* p = &canvas->px[((size_t)y * canvas->width + x) * 4];
    float a = colour.a * coverage;
    float k = 1.0f - a;
    p[0] = colour.r * a + p[0] * k;
    p[1] = colour.g * a + p[1] * k;
    p[2] = colour.b * a + p[2] * k;
    p[3] = a + p[3] * k;
}

void canvas_set(Canvas* canvas, int x, int y, Colour colour) {
    if (x < 0 || y < 0 || x >= canvas->width || y >= canvas->height) return;
    float* p = &canvas->px[((size_t)y * canvas->width + x) * 4];
    p[0] = colour.r * colour.a;
    p[1] = colour.g * colour.a;
    p[2] = colour.b * colour.a;
    p[3] = colour.a;
}

Colour canvas_get(const Canvas* canvas, int x, int y) {
    const float* p = &canvas->px[((size_t)y * canvas->width + x) * 4];
    if (p[3] <= 0.0f) return Colour{0, 0, 0, 0};
    return Colour{p[0] / p[3], p[1] / p[3], p[2] / p[3], p[3]};
}

void canvas_multiply_alpha(Canvas* canvas, const float* mask) {
    size_t n = (size_t)canvas->width * canvas->height;
    for (size_t i = 0; i < n; i++)
        for (int k = 0; k < 4; k++) canvas->px[i * 4 + k] *= mask[i];
}

void canvas_draw(Canvas* dst, const Canvas* src, int x0, int y0, float opacity) {
    for (int y = 0; y < src->height; y++) {
        int dy = y + y0;
        if (dy < 0 || dy >= dst->height) continue;
        for (int x = 0; x < src->width; x++) {
            int dx = x + x0;
            if (dx < 0 || dx >= dst->width) continue;
            const float* s = &src->px[((size_t)y * src->width + x) * 4];
            float* d = &dst->px[((size_t)dy * dst->width + dx) * 4];
            float k = 1.0f - s[3] * opacity;
            for (int c = 0; c < 4; c++) d[c] = s[c] * opacity + d[c] * k;
        }
    }
}

Canvas* canvas_scaled(const Canvas* src, int width, int height) {
    Canvas* out = canvas_new(width, height);
    if (!out) return nullptr;
    for (int y = 0; y < height; y++) {
        int sy0 = y * src->height / height, sy1 = (y + 1) * src->height / height;
        if (sy1 <= sy0) sy1 = sy0 + 1;
        for (int x = 0; x < width; x++) {
            int sx0 = x * src->width / width, sx1 = (x + 1) * src->width / width;
            if (sx1 <= sx0) sx1 = sx0 + 1;
            float sum[4] = {0, 0, 0, 0};
            for (int sy = sy0; sy < sy1; sy++)
                for (int sx = sx0; sx < sx1; sx++)
                    for (int c = 0; c < 4; c++) sum[c] += src->px[((size_t)sy * src->width + sx) * 4 + c];
            float n = (float)((sy1 - sy0) * (sx1 - sx0));
            for (int c = 0; c < 4; c++) out->px[((size_t)y * width + x) * 4 + c] = sum[c] / n;
        }
    }
    return out;
}

Mask* mask_new(int width, int height) {
    if (width <= 0 || height <= 0) return nullptr;
    size_t count = (size_t)width * (size_t)height;
    Mask* m = (Mask*)calloc(1, sizeof(Mask) + count * sizeof(float));
    if (!m) return nullptr;
    m->width = width;
    m->height = height;
    m->v = (float*)(m + 1);
    return m;
}

void mask_free(Mask* mask) { free(mask); }

// One box pass along a line of n values with the given stride.
static void box_line(float* line, int n, int stride, int radius, int wrap, float* tmp) {
    for (int i = 0; i < n; i++) tmp[i] = line[i * stride];
    float inv = 1.0f / (2 * radius + 1);
    for (int i = 0; i < n; i++) {
        float sum = 0.0f;
        for (int k = -radius; k <= radius; k++) {
            int j = i + k;
            if (wrap) j = ((j % n) + n) % n;
            else j = j < 0 ? 0 : (j >= n ? n - 1 : j);
            sum += tmp[j];
        }
        line[i * stride] = sum * inv;
    }
}

void mask_blur(Mask* mask, int radius, int wrap) {
    if (radius <= 0) return;
    int n = mask->width > mask->height ? mask->width : mask->height;
    float* tmp = (float*)malloc(sizeof(float) * n);
    if (!tmp) return;
    for (int pass = 0; pass < 3; pass++) {
        for (int y = 0; y < mask->height; y++)
            box_line(&mask->v[y * mask->width], mask->width, 1, radius, wrap, tmp);
        for (int x = 0; x < mask->width; x++)
            box_line(&mask->v[x], mask->height, mask->width, radius, wrap, tmp);
    }
    free(tmp);
}

void canvas_paint_mask(Canvas* canvas, const Mask* mask, int x0, int y0, Colour colour) {
    for (int y = 0; y < mask->height; y++)
        for (int x = 0; x < mask->width; x++) {
            float c = mask->v[y * mask->width + x];
            if (c > 0.0f) canvas_blend(canvas, x + x0, y + y0, colour, c > 1.0f ? 1.0f : c);
        }
}

float sdf_segment(float x, float y, float ax, float ay, float bx, float by) {
    float px = x - ax, py = y - ay, dx = bx - ax, dy = by - ay;
    float len2 = dx * dx + dy * dy;
    float t = len2 > 0.0f ? clamp01((px * dx + py * dy) / len2) : 0.0f;
    float ex = px - dx * t, ey = py - dy * t;
    return std::sqrt(ex * ex + ey * ey);
}

float sdf_round_box(float x, float y, float cx, float cy, float hw, float hh, float radius) {
    float qx = std::fabs(x - cx) - (hw - radius), qy = std::fabs(y - cy) - (hh - radius);
    float ox = qx > 0 ? qx : 0, oy = qy > 0 ? qy : 0;
    float inside = qx > qy ? qx : qy;
    if (inside > 0) inside = 0;
    return std::sqrt(ox * ox + oy * oy) + inside - radius;
}

float sdf_ellipse(float x, float y, float cx, float cy, float rx, float ry) {
    // Scaled-circle distance, corrected by the gradient length: exact enough for antialiasing.
    float dx = (x - cx) / rx, dy = (y - cy) / ry;
    float k0 = std::sqrt(dx * dx + dy * dy);
    float gx = dx / rx, gy = dy / ry;
    float k1 = std::sqrt(gx * gx + gy * gy);
    if (k1 <= 0.0f) return -(rx < ry ? rx : ry);
    return k0 * (k0 - 1.0f) / k1;
}

float sdf_polygon(float x, float y, const float* p, int n) {
    float best = 1e30f;
    int inside = 0;
    for (int i = 0, j = n - 1; i < n; j = i++) {
        float xi = p[i * 2], yi = p[i * 2 + 1], xj = p[j * 2], yj = p[j * 2 + 1];
        float d = sdf_segment(x, y, xi, yi, xj, yj);
        if (d < best) best = d;
        if ((yi > y) != (yj > y) && x < (xj - xi) * (y - yi) / (yj - yi) + xi) inside = !inside;
    }
    return inside ? -best : best;
}
