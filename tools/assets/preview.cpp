#include "assets/preview.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "assets/image_files.h"
#include "assets/text.h"

enum { SHEET_COLUMNS = 6, CELL_W = 210, CELL_H = 182, THUMB_W = 196, THUMB_H = 150 };

struct ContactSheet {
    int count;
    Canvas* canvas;
};

ContactSheet* contact_sheet_new(int count) {
    ContactSheet* s = (ContactSheet*)calloc(1, sizeof(ContactSheet));
    if (!s) return nullptr;
    int rows = (count + SHEET_COLUMNS - 1) / SHEET_COLUMNS;
    s->count = count;
    s->canvas = canvas_new(SHEET_COLUMNS * CELL_W, rows * CELL_H);
    if (!s->canvas) {
        free(s);
        return nullptr;
    }
    canvas_fill(s->canvas, colour_rgb(0.16f, 0.17f, 0.19f));
    return s;
}

void contact_sheet_add(ContactSheet* sheet, int slot, const Canvas* full, const char* label) {
    // Tall frame sheets (the film strip) show their first frames rather than a sliver.
    Canvas* crop = nullptr;
    const Canvas* tex = full;
    if (full->height > full->width * 3) {
        crop = canvas_new(full->width, full->width * 3 / 2);
        if (crop) {
            memcpy(crop->px, full->px, sizeof(float) * 4 * crop->width * crop->height);
            tex = crop;
        }
    }
    int cx = (slot % SHEET_COLUMNS) * CELL_W, cy = (slot / SHEET_COLUMNS) * CELL_H;
    float k = std::fmin((float)THUMB_W / tex->width, (float)THUMB_H / tex->height);
    if (k > 1.0f) k = std::floor(k);  // small textures grow by whole steps
    int w = (int)(tex->width * k), h = (int)(tex->height * k);
    if (w < 1) w = 1;
    if (h < 1) h = 1;
    int x0 = cx + (CELL_W - w) / 2, y0 = cy + 6 + (THUMB_H - h) / 2;
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++) {
            int check = ((x / 8) + (y / 8)) & 1;
            canvas_set(sheet->canvas, x0 + x, y0 + y, check ? colour_rgb(0.45f, 0.45f, 0.47f) : colour_rgb(0.3f, 0.3f, 0.32f));
        }
    Canvas* thumb = canvas_scaled(tex, w, h);
    if (thumb) {
        canvas_draw(sheet->canvas, thumb, x0, y0, 1.0f);
        canvas_free(thumb);
    }
    Mask* m = mask_new(CELL_W, 24);
    if (m) {
        char line[96];
        snprintf(line, sizeof line, "%d %s %dx%d", slot, label, full->width, full->height);
        float size = 12.0f;
        float tw = text_width(FONT_SANS, size, line, 0.0f);
        if (tw > CELL_W - 6) size = size * (float)(CELL_W - 6) / tw;
        tw = text_width(FONT_SANS, size, line, 0.0f);
        text_draw(m, FONT_SANS, size, ((float)CELL_W - tw) * 0.5f, 16.0f, line, 0.0f);
        canvas_paint_mask(sheet->canvas, m, cx, cy + THUMB_H + 6, colour_rgb(0.92f, 0.92f, 0.9f));
        mask_free(m);
    }
    canvas_free(crop);
}

int contact_sheet_write(ContactSheet* sheet, const char* path) {
    std::vector<uint8_t> bytes;
    canvas_to_bytes(sheet->canvas, 3, &bytes);
    return png_write(path, sheet->canvas->width, sheet->canvas->height, 3, bytes.data());
}

void contact_sheet_free(ContactSheet* sheet) {
    if (!sheet) return;
    canvas_free(sheet->canvas);
    free(sheet);
}

// ---- object previews -----------------------------------------------------------------------------

namespace {

struct View {
    float right[3], up[3], toward[3];  // toward: from the object to the viewer
};

View view_from(float yaw, float pitch) {
    View v;
    float cy = std::cos(yaw), sy = std::sin(yaw), cp = std::cos(pitch), sp = std::sin(pitch);
    v.toward[0] = sy * cp;
    v.toward[1] = sp;
    v.toward[2] = cy * cp;
    v.right[0] = cy;
    v.right[1] = 0.0f;
    v.right[2] = -sy;
    // up = toward x right
    v.up[0] = v.toward[1] * v.right[2] - v.toward[2] * v.right[1];
    v.up[1] = v.toward[2] * v.right[0] - v.toward[0] * v.right[2];
    v.up[2] = v.toward[0] * v.right[1] - v.toward[1] * v.right[0];
    return v;
}

inline float dot3(const float* a, const float* b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }

}  // namespace

int object_preview_write(const LwoModel* m, const char* path) {
    const int size = 320, views = 4;
    Canvas* c = canvas_new(size * views, size);
    if (!c) return 1;
    canvas_fill(c, colour_rgb(0.1f, 0.1f, 0.12f));
    int n = (int)m->points.size() / 3;
    float lo[3] = {1e30f, 1e30f, 1e30f}, hi[3] = {-1e30f, -1e30f, -1e30f};
    for (int i = 0; i < n; i++)
        for (int k = 0; k < 3; k++) {
            lo[k] = std::fmin(lo[k], m->points[i * 3 + k]);
            hi[k] = std::fmax(hi[k], m->points[i * 3 + k]);
        }
    float centre[3], radius = 0.0f;
    for (int k = 0; k < 3; k++) centre[k] = (lo[k] + hi[k]) * 0.5f;
    for (int i = 0; i < n; i++) {
        float d[3] = {m->points[i * 3] - centre[0], m->points[i * 3 + 1] - centre[1], m->points[i * 3 + 2] - centre[2]};
        radius = std::fmax(radius, std::sqrt(dot3(d, d)));
    }
    if (radius <= 0.0f) radius = 1.0f;
    // Per-point and per-polygon texture coordinates, when the object has them.
    std::vector<float> uv(n * 2, -1.0f);
    for (const LwoUv& e : m->uvs) {
        uv[e.point * 2] = e.u;
        uv[e.point * 2 + 1] = e.v;
    }
    const View list[views] = {view_from(0.0f, 0.0f), view_from(1.5707963f, 0.0f), view_from(0.0f, 1.5607963f),
                              view_from(0.7f, 0.5f)};
    std::vector<float> depth((size_t)size * size);
    const float light[3] = {0.4f, 0.7f, 0.6f};
    for (int vi = 0; vi < views; vi++) {
        const View& v = list[vi];
        for (float& d : depth) d = -1e30f;
        auto project = [&](int p, float* out) {
            float d[3] = {m->points[p * 3] - centre[0], m->points[p * 3 + 1] - centre[1], m->points[p * 3 + 2] - centre[2]};
            float k = size * 0.45f / radius;
            out[0] = size * 0.5f + dot3(d, v.right) * k;
            out[1] = size * 0.5f - dot3(d, v.up) * k;
            out[2] = dot3(d, v.toward);
        };
        for (size_t pi = 0; pi < m->polygons.size(); pi++) {
            const std::vector<int>& poly = m->polygons[pi];
            if (poly.size() < 3) continue;
            // Reader's normal.
            const float* p0 = &m->points[poly[0] * 3];
            const float* p1 = &m->points[poly[1] * 3];
            const float* pl = &m->points[poly.back() * 3];
            float e1[3] = {p1[0] - p0[0], p1[1] - p0[1], p1[2] - p0[2]}, e2[3] = {pl[0] - p0[0], pl[1] - p0[1], pl[2] - p0[2]};
            float nrm[3] = {e1[1] * e2[2] - e1[2] * e2[1], e1[2] * e2[0] - e1[0] * e2[2], e1[0] * e2[1] - e1[1] * e2[0]};
            float len = std::sqrt(dot3(nrm, nrm));
            if (len > 0.0f)
                for (int k = 0; k < 3; k++) nrm[k] /= len;
            int front = dot3(nrm, v.toward) >= 0.0f;
            float lit = 0.35f + 0.65f * std::fabs(dot3(nrm, light)) / std::sqrt(dot3(light, light));
            std::vector<float> cuv(poly.size() * 2);
            for (size_t k = 0; k < poly.size(); k++) {
                cuv[k * 2] = uv[poly[k] * 2];
                cuv[k * 2 + 1] = uv[poly[k] * 2 + 1];
            }
            for (const LwoPolygonUv& e : m->polygon_uvs)
                if (e.polygon == (int)pi)
                    for (size_t k = 0; k < poly.size(); k++)
                        if (poly[k] == e.point) {
                            cuv[k * 2] = e.u;
                            cuv[k * 2 + 1] = e.v;
                        }
            for (size_t t = 1; t + 1 < poly.size(); t++) {
                int idx[3] = {0, (int)t, (int)t + 1};
                float s[3][3];
                for (int k = 0; k < 3; k++) project(poly[idx[k]], s[k]);
                float area = (s[1][0] - s[0][0]) * (s[2][1] - s[0][1]) - (s[2][0] - s[0][0]) * (s[1][1] - s[0][1]);
                if (std::fabs(area) < 1e-6f) continue;
                int x0 = (int)std::floor(std::fmin(s[0][0], std::fmin(s[1][0], s[2][0]))), x1 = (int)std::ceil(std::fmax(s[0][0], std::fmax(s[1][0], s[2][0])));
                int y0 = (int)std::floor(std::fmin(s[0][1], std::fmin(s[1][1], s[2][1]))), y1 = (int)std::ceil(std::fmax(s[0][1], std::fmax(s[1][1], s[2][1])));
                for (int y = std::max(0, y0); y < std::min(size, y1 + 1); y++)
                    for (int x = std::max(0, x0); x < std::min(size, x1 + 1); x++) {
                        float px = x + 0.5f, py = y + 0.5f;
                        float w0 = ((s[1][0] - px) * (s[2][1] - py) - (s[2][0] - px) * (s[1][1] - py)) / area;
                        float w1 = ((s[2][0] - px) * (s[0][1] - py) - (s[0][0] - px) * (s[2][1] - py)) / area;
                        float w2 = 1.0f - w0 - w1;
                        if (w0 < 0 || w1 < 0 || w2 < 0) continue;
                        float z = w0 * s[0][2] + w1 * s[1][2] + w2 * s[2][2];
                        float& dz = depth[(size_t)y * size + x];
                        if (z <= dz) continue;
                        dz = z;
                        Colour col = front ? colour_rgb(0.85f, 0.85f, 0.82f) : colour_rgb(0.9f, 0.2f, 0.15f);
                        float u = w0 * cuv[idx[0] * 2] + w1 * cuv[idx[1] * 2] + w2 * cuv[idx[2] * 2];
                        float vv = w0 * cuv[idx[0] * 2 + 1] + w1 * cuv[idx[1] * 2 + 1] + w2 * cuv[idx[2] * 2 + 1];
                        if (front && cuv[idx[0] * 2] >= 0.0f) {
                            int check = ((int)std::floor(u * 8.0f) + (int)std::floor(vv * 8.0f)) & 1;
                            col = check ? colour_rgb(0.95f, 0.8f, 0.45f) : colour_rgb(0.35f, 0.55f, 0.85f);
                            col = colour_mix(col, colour_rgb(1.0f, 0.3f, 0.9f), clamp01(u) * 0.0f);
                        }
                        canvas_set(c, vi * size + x, y, Colour{col.r * lit, col.g * lit, col.b * lit, 1.0f});
                    }
            }
        }
    }
    std::vector<uint8_t> bytes;
    canvas_to_bytes(c, 3, &bytes);
    int r = png_write(path, c->width, c->height, 3, bytes.data());
    canvas_free(c);
    return r;
}
