// The one filler template. Each drawn mode instantiates it (in the file of its family), so every
// inner loop holds exactly the arithmetic of its mode: the `if constexpr` branches below are folded
// at compile time, never tested per pixel.
//
// The walk visits each row of the box and draws the run of covered pixels: the pixels whose three
// edge values are >= 0. Because the triangle is convex that run is one interval, found by solving
// each edge for the row: estimated in double precision, then settled by exact integer tests.
#pragma once
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#define RASTER_HAVE_SSE2 1
#else
#define RASTER_HAVE_SSE2 0
#endif

#include "raster/raster_internal.h"

enum { ATTR_DEPTH, ATTR_A, ATTR_R, ATTR_G, ATTR_B, ATTR_U, ATTR_V, ATTR_Q, ATTR_EU, ATTR_EV, ATTR_COUNT };

// What a mode reads and writes, from its bits.
template <uint32_t M>
struct RasterMode {
    static constexpr bool shadow_pass = M == RENDER_DEPTH;  // depth only, into depth_buffer2
    static constexpr bool depth = (M & RENDER_DEPTH) && !shadow_pass;
    static constexpr bool depth_write = depth && !(M & (RENDER_ADD | RENDER_ALPHA));
    static constexpr bool perspective = M & RENDER_PERSPECTIVE;
    static constexpr bool bump_only = M == (RENDER_BUMP_OFFSET | RENDER_ENVMAP | RENDER_DEPTH);
    static constexpr bool textured = (M & (RENDER_TEXTURE | RENDER_PERSPECTIVE)) != 0;
    static constexpr bool linear_uv = (M & RENDER_TEXTURE) || bump_only;
    static constexpr bool bilinear = M & RENDER_BILINEAR;
    static constexpr bool mipmap = M & RENDER_MIPMAP;
    static constexpr bool vertex_colour = (M & (RENDER_GOURAUD | RENDER_DOT3)) != 0;
    static constexpr bool env = M & RENDER_ENVMAP;
    static constexpr bool shadow = M & RENDER_SHADOW;
    static constexpr bool flat = M & RENDER_FLAT;
    static constexpr bool gouraud = M & RENDER_GOURAUD;
    static constexpr bool add = M & RENDER_ADD;
    static constexpr bool multiply = M & RENDER_MULTIPLY;
    static constexpr bool alpha = M & RENDER_ALPHA;
    static constexpr bool key = M & RENDER_COLOUR_KEY;
    static constexpr bool dot3 = M & RENDER_DOT3;
    static constexpr bool bump = M & RENDER_BUMP_OFFSET;
    // How the interpolated colour is packed: clamped without depth, wrapped for 0x0012, otherwise
    // the raw shifted channels or'ed together.
    static constexpr int packing = M == (RENDER_GOURAUD | RENDER_DEPTH) ? 1 : (depth ? 2 : 0);
    static constexpr uint32_t attrs =
        ((depth || shadow_pass) ? 1u << ATTR_DEPTH : 0u) |
        (vertex_colour ? (1u << ATTR_A | 1u << ATTR_R | 1u << ATTR_G | 1u << ATTR_B) : 0u) |
        ((linear_uv || perspective) ? (1u << ATTR_U | 1u << ATTR_V) : 0u) |
        (perspective ? 1u << ATTR_Q : 0u) | ((env || shadow) ? (1u << ATTR_EU | 1u << ATTR_EV) : 0u);
};

// Everything a pixel needs that is fixed for the triangle.
struct RasterFill {
    uint32_t colour;
    const uint32_t* tex;
    int32_t tex_wmask, tex_hmask, tex_shift;
    const uint32_t* env;
    int32_t env_wmask, env_hmask, env_shift;
    const uint32_t* bump;
    int32_t bump_wmask, bump_hmask, bump_shift;
    int32_t level;  // mip level
    const int32_t* shadow;
    int32_t shadow_w, shadow_h;
};

static inline int32_t fill_attr(uint32_t value) { return (int32_t)value >> 11; }

static inline uint32_t fill_texel(const uint32_t* pixels, int32_t shift, int32_t x, int32_t y) {
    return pixels[((uint32_t)y << shift) + (uint32_t)x];
}

static inline uint32_t fill_bilinear(const RasterFill& f, int32_t u, int32_t v) {
    int32_t fx = u & 0x7FF, fy = v & 0x7FF;
    int32_t x0 = (u >> 11) & f.tex_wmask, y0 = (v >> 11) & f.tex_hmask;
    int32_t x1 = (x0 + 1) & f.tex_wmask, y1 = (y0 + 1) & f.tex_hmask;
    uint32_t w00 = (uint32_t)(((2047 - fx) * (2047 - fy)) >> 14);
    uint32_t w10 = (uint32_t)(((2047 - fy) * fx) >> 14);
    uint32_t w11 = (uint32_t)((fx * fy) >> 14);
    uint32_t w01 = 255 - w00 - w10 - w11;
    uint32_t t00 = fill_texel(f.tex, f.tex_shift, x0, y0), t10 = fill_texel(f.tex, f.tex_shift, x1, y0);
    uint32_t t11 = fill_texel(f.tex, f.tex_shift, x1, y1), t01 = fill_texel(f.tex, f.tex_shift, x0, y1);
#if RASTER_HAVE_SSE2
    __m128i z = _mm_setzero_si128();
    __m128i a = _mm_unpacklo_epi8(_mm_cvtsi32_si128((int)t00), z);
    __m128i b = _mm_unpacklo_epi8(_mm_cvtsi32_si128((int)t10), z);
    __m128i c = _mm_unpacklo_epi8(_mm_cvtsi32_si128((int)t11), z);
    __m128i d = _mm_unpacklo_epi8(_mm_cvtsi32_si128((int)t01), z);
    __m128i s = _mm_add_epi16(
        _mm_add_epi16(_mm_mullo_epi16(a, _mm_set1_epi16((short)w00)),
                      _mm_mullo_epi16(b, _mm_set1_epi16((short)w10))),
        _mm_add_epi16(_mm_mullo_epi16(c, _mm_set1_epi16((short)w11)),
                      _mm_mullo_epi16(d, _mm_set1_epi16((short)w01))));
    s = _mm_srli_epi16(s, 8);
    return (uint32_t)_mm_cvtsi128_si32(_mm_packus_epi16(s, s));
#else
    uint32_t r = 0;
    for (int sh = 0; sh < 32; sh += 8) {
        uint32_t sum = ((t00 >> sh) & 255) * w00 + ((t10 >> sh) & 255) * w10 +
                       ((t11 >> sh) & 255) * w11 + ((t01 >> sh) & 255) * w01;
        r |= (sum >> 8) << sh;
    }
    return r;
#endif
}

template <int PACKING>
static inline uint32_t fill_pack(const uint32_t* a) {
    int32_t ca = fill_attr(a[ATTR_A]), cr = fill_attr(a[ATTR_R]);
    int32_t cg = fill_attr(a[ATTR_G]), cb = fill_attr(a[ATTR_B]);
    if constexpr (PACKING == 0) {
        auto c8 = [](int32_t v) { return (uint32_t)(v < 0 ? 0 : (v > 255 ? 255 : v)); };
        return c8(ca) << 24 | c8(cr) << 16 | c8(cg) << 8 | c8(cb);
    } else if constexpr (PACKING == 1) {
        return ((uint32_t)ca & 255) << 24 | ((uint32_t)cr & 255) << 16 | ((uint32_t)cg & 255) << 8 |
               ((uint32_t)cb & 255);
    } else {
        return (uint32_t)ca << 24 | (uint32_t)cr << 16 | (uint32_t)cg << 8 | (uint32_t)cb;
    }
}

// Dot3 intensity of a normal texel and a packed light, both biased bytes; lanes blue, green, red.
template <int K>
static inline int32_t fill_dot3(uint32_t n, uint32_t l) {
    int32_t sum = 0;
    for (int sh = 0; sh < 24; sh += 8)
        sum += (((int32_t)((n >> sh) & 255) >> 1) - 64) * (((int32_t)((l >> sh) & 255) >> 1) - 64);
    // Three products of at most 64 x 64 never leave the signed 16-bit range, so saturation is moot.
    int32_t i = sum >> K;
    return i < 0 ? 0 : (i > 255 ? 255 : i);
}

static inline uint32_t fill_scale(uint32_t t, uint32_t i) {  // each byte (t.c x i) >> 8
    return colour_multiply(t, i * 0x01010101u);
}

// One covered pixel. Returns nothing; leaves everything alone when a test fails.
template <uint32_t M>
static inline void fill_pixel(const RasterFill& f, uint32_t* fb, int32_t* zb, const uint32_t* a) {
    using T = RasterMode<M>;
    if constexpr (T::shadow_pass) {
        int32_t d = fill_attr(a[ATTR_DEPTH]);
        if (d < *zb) *zb = d;
        return;
    } else {
        int32_t d = 0;
        if constexpr (T::depth) {
            d = fill_attr(a[ATTR_DEPTH]);
            if (!(d < *zb)) return;
        }
        uint32_t out;
        if constexpr (T::bump_only) {
            uint32_t b = fill_texel(f.bump, f.bump_shift, fill_attr(a[ATTR_U]) & f.bump_wmask,
                                    fill_attr(a[ATTR_V]) & f.bump_hmask);
            int32_t ex = (fill_attr(a[ATTR_EU]) + (int32_t)((b >> 16) & 255)) & f.env_wmask;
            int32_t ey = (fill_attr(a[ATTR_EV]) + (int32_t)((b >> 8) & 255)) & f.env_hmask;
            out = fill_texel(f.env, f.env_shift, ex, ey);
        } else if constexpr (!T::textured) {
            uint32_t src;
            if constexpr (T::gouraud) src = fill_pack<T::packing>(a);
            else src = f.colour;
            if constexpr (T::add) out = colour_add_saturate(*fb, src);
            else if constexpr (T::multiply) out = colour_multiply(*fb, src);
            else if constexpr (T::shadow) {
                int32_t sx = fill_attr(a[ATTR_EU]), sy = fill_attr(a[ATTR_EV]);
                sx = sx < 0 ? 0 : (sx >= f.shadow_w ? f.shadow_w - 1 : sx);
                sy = sy < 0 ? 0 : (sy >= f.shadow_h ? f.shadow_h - 1 : sy);
                out = f.shadow[sy * f.shadow_w + sx] < d ? colour_multiply(0x40404040u, src)
                                                         : colour_multiply(0xFFFFFFFFu, src);
            } else out = src;
        } else {
            // The texel, at the position the mode asks for.
            uint32_t t;
            int32_t x = 0, y = 0;
            if constexpr (T::perspective) {
                int32_t q = (int32_t)a[ATTR_Q];
                if (q == 0) return;  // the plane of Q crosses zero here: no defined texel
                if constexpr (T::bilinear) {
                    int64_t u = ((int64_t)(int32_t)a[ATTR_U] * 2048) / q;
                    int64_t v = ((int64_t)(int32_t)a[ATTR_V] * 2048) / q;
                    t = fill_bilinear(f, (int32_t)(uint32_t)(uint64_t)u, (int32_t)(uint32_t)(uint64_t)v);
                } else {
                    x = (int32_t)(((int64_t)(int32_t)a[ATTR_U] / q) & f.tex_wmask);
                    y = (int32_t)(((int64_t)(int32_t)a[ATTR_V] / q) & f.tex_hmask);
                    t = fill_texel(f.tex, f.tex_shift, x, y);
                }
            } else if constexpr (T::bilinear) {
                t = fill_bilinear(f, (int32_t)a[ATTR_U], (int32_t)a[ATTR_V]);
            } else if constexpr (T::mipmap) {
                x = (fill_attr(a[ATTR_U]) >> f.level) & f.tex_wmask;
                y = (fill_attr(a[ATTR_V]) >> f.level) & f.tex_hmask;
                t = fill_texel(f.tex, f.tex_shift, x, y);
            } else {
                x = fill_attr(a[ATTR_U]) & f.tex_wmask;
                y = fill_attr(a[ATTR_V]) & f.tex_hmask;
                t = fill_texel(f.tex, f.tex_shift, x, y);
            }
            if constexpr (T::key) {
                if (t == 0xFFFF00FFu) return;
            }
            if constexpr (T::dot3) {
                uint32_t n = fill_texel(f.bump, f.bump_shift, x, y) & 0xFFFFFFu;
                uint32_t l = fill_pack<2>(a) & 0xFFFFFFu;
                if constexpr (T::env) {
                    uint32_t e = fill_texel(f.env, f.env_shift, fill_attr(a[ATTR_EU]) & f.env_wmask,
                                            fill_attr(a[ATTR_EV]) & f.env_hmask);
                    uint32_t la = (uint32_t)fill_attr(a[ATTR_A]);
                    if (la > 255) la = 255;
                    uint32_t i = (uint32_t)fill_dot3<4>(n, l);
                    uint32_t lit = colour_multiply(fill_scale(t, i), la * 0x01010101u);
                    out = 0;
                    for (int sh = 0; sh < 32; sh += 8) {
                        uint32_t r = ((lit >> sh) & 255) + ((((e >> sh) & 255) * i) >> 9);
                        out |= (r > 255 ? 255 : r) << sh;
                    }
                } else {
                    out = fill_scale(t, (uint32_t)fill_dot3<5>(n, l));
                }
            } else if constexpr (T::env) {
                int32_t ex = fill_attr(a[ATTR_EU]), ey = fill_attr(a[ATTR_EV]);
                if constexpr (T::bump) {
                    uint32_t b = fill_texel(f.bump, f.bump_shift, x, y);
                    ex += (int32_t)((b >> 16) & 255);
                    ey += (int32_t)((b >> 8) & 255);
                }
                out = colour_add_saturate(
                    t, fill_texel(f.env, f.env_shift, ex & f.env_wmask, ey & f.env_hmask));
            } else if constexpr (T::shadow) {
                int32_t sx = fill_attr(a[ATTR_EU]), sy = fill_attr(a[ATTR_EV]);
                sx = sx < 0 ? 0 : (sx >= f.shadow_w ? f.shadow_w - 1 : sx);
                sy = sy < 0 ? 0 : (sy >= f.shadow_h ? f.shadow_h - 1 : sy);
                uint32_t factor = f.shadow[sy * f.shadow_w + sx] < d ? 0x20202020u : 0xFFFFFFFFu;
                out = colour_multiply(t, colour_multiply(factor, f.colour));
            } else if constexpr (T::alpha) {
                uint32_t p = *fb, ta = t >> 24;
                out = 0;
                for (int sh = 0; sh < 32; sh += 8) {
                    uint32_t o = (ta * ((f.colour >> sh) & 255)) >> 8;
                    uint32_t r = ((((t >> sh) & 255) * o) >> 8) + ((((p >> sh) & 255) * (255 - o)) >> 8);
                    out |= (r > 255 ? 255 : r) << sh;
                }
            } else {
                uint32_t src = t;
                if constexpr (T::flat) src = colour_multiply(t, f.colour);
                else if constexpr (T::gouraud) src = colour_multiply(t, fill_pack<T::packing>(a));
                if constexpr (T::add) out = colour_add_saturate(*fb, src);
                else out = src;
            }
        }
        if constexpr (T::depth_write) *zb = d;
        *fb = out;
    }
}

// Draws the run of n covered pixels one at a time (the portable path), attributes a at its first.
template <uint32_t M>
static inline void fill_run(const RasterFill& f, uint32_t* fb, int32_t* zb, uint32_t* a,
                            const uint32_t* step, int n) {
    constexpr uint32_t used = RasterMode<M>::attrs;
    for (int i = 0; i < n; i++) {
        fill_pixel<M>(f, fb ? fb + i : nullptr, zb ? zb + i : nullptr, a);
        for (int k = 0; k < ATTR_COUNT; k++)
            if (used & (1u << k)) a[k] += step[k];
    }
}

// The covered runs of the box's rows, found exactly and stepped from row to row. Each edge bounds a
// row's run on one side: one whose value grows to the right (esx > 0) gives the first covered
// offset, one whose value falls gives the last, kept as minus the first offset of the mirrored row.
// Either bound is the ceiling of a quotient carried with its remainder, so going down a row adds
// the quotient and remainder of esy and never divides: the runs are the pixels whose three edge
// values are >= 0, bit for bit.
struct RunEdge {
    int64_t bound;           // ceil(-e / div) for the edge value e at the box's left
    int64_t rem;             // e + div x bound, in [0, div)
    int64_t div;             // |esx|
    int64_t step_q, step_r;  // esy = step_q x div + step_r, step_r in [0, div)
};

// Edge 0 bounds the run's left end, edge 2 its right end, edge 1 either (the offsets leave the other
// side alone) or neither, for a horizontal edge, which bounds the rows instead.
struct RunWalk {
    RunEdge edge[3];
    int64_t off_left, off_right;
    int64_t e[3], esy[3];  // each edge's value at the box's top-left pixel and its row step
    double inv[3];         // 1 / div; 0 for a horizontal edge
};

// floor(n / d) for d > 0, and the remainder: estimated with the reciprocal inv, settled exactly (the
// product wraps as the true remainder does not). The estimate is off by at most one unless the
// quotient is beyond 2^50, so the settling is branch-free but for that case.
static inline int64_t run_floor_div(int64_t n, int64_t d, double inv, int64_t* rem) {
    int64_t q = (int64_t)((double)n * inv);
    int64_t r = (int64_t)((uint64_t)n - (uint64_t)q * (uint64_t)d);
    const int64_t below = r < 0, above = r >= d;
    q += above - below;
    r += (d & -below) - (d & -above);
    if (__builtin_expect(r < 0 || r >= d, 0)) {
        while (r < 0) {
            q--;
            r += d;
        }
        while (r >= d) {
            q++;
            r -= d;
        }
    }
    *rem = r;
    return q;
}

// The run of the walk's current row as offsets [*lo, *hi] within width; false when the row has none.
// Then steps the walk to the next row.
static inline bool run_walk_row(RunWalk* w, int width, int* lo, int* hi) {
    RunEdge* e = w->edge;
    int64_t l = e[1].bound - w->off_left, h = w->off_right - e[1].bound;
    if (e[0].bound > l) l = e[0].bound;
    if (-e[2].bound < h) h = -e[2].bound;
    for (int k = 0; k < 3; k++) {
        // Branch-free: whether the remainder wraps differs from row to row.
        const int64_t rem = e[k].rem + e[k].step_r, wrap = rem >= e[k].div;
        e[k].rem = rem - (e[k].div & -wrap);
        e[k].bound -= e[k].step_q + wrap;
    }
    if (l < 0) l = 0;
    if (h > width - 1) h = width - 1;
    if (l > h) return false;
    *lo = (int)l;
    *hi = (int)h;
    return true;
}

// Everything the walk needs, fixed for the triangle: the pixel context, the attribute planes and the
// exact edges at the box's top-left pixel.
struct FillSetup {
    RasterFill f;
    uint32_t start[ATTR_COUNT], step_x[ATTR_COUNT], step_y[ATTR_COUNT];
    int64_t e[3], esx[3], esy[3];
    int min_x, min_y, max_x, max_y;
    int y_first, y_last;  // the box's rows between the top and bottom corners
};

// The walk at row offset dy from the box's top, formed afresh (past rows other threads draw).
static inline void run_walk_seek(RunWalk* w, int64_t dy) {
    for (int k = 0; k < 3; k++) {
        if (w->inv[k] == 0.0) continue;
        RunEdge& r = w->edge[k];
        r.bound = -run_floor_div(w->e[k] + w->esy[k] * dy, r.div, w->inv[k], &r.rem);
    }
}

// The walk of the rows *y_first..*y_last, at the first; a horizontal edge may move either end,
// leaving *y_first > *y_last when no row holds a covered pixel. Out of line: the same for every mode.
__attribute__((noinline)) static void run_walk_start(const FillSetup& s, RunWalk* w, int* y_first, int* y_last) {
    // Edge 0 bounds the left end of the runs, edge 2 the right end: a drawn triangle has both.
    int left = 0, right = 0;
    for (int k = 0; k < 3; k++) {
        if (s.esx[k] > 0) left = k;
        if (s.esx[k] < 0) right = k;
    }
    const int order[3] = {left, 3 - left - right, right};
    int64_t first = *y_first, last = *y_last;
    const int64_t big = (int64_t)1 << 62;
    for (int k = 0; k < 3; k++) {
        const int64_t sx = s.esx[order[k]], sy = s.esy[order[k]], e = s.e[order[k]];
        RunEdge& r = w->edge[k];
        w->e[k] = e;
        w->esy[k] = sy;
        if (sx == 0) {
            // A horizontal edge leaves the runs alone and bounds the rows: e + esy x dy >= 0.
            if (sy > 0) {
                const int64_t q = e / sy - (e % sy != 0 && e < 0 ? 1 : 0);
                if (s.min_y - q > first) first = s.min_y - q;
            } else if (sy < 0) {
                const int64_t q = e / -sy - (e % -sy != 0 && e < 0 ? 1 : 0);
                if (s.min_y + q < last) last = s.min_y + q;
            } else if (e < 0) {
                last = first - 1;
            }
            w->inv[k] = 0.0;
            r.bound = -(big >> 1);
            r.rem = r.step_q = r.step_r = 0;
            r.div = 1;
            w->off_left = w->off_right = 0;
            continue;
        }
        r.div = sx > 0 ? sx : -sx;
        w->inv[k] = 1.0 / (double)r.div;
        r.step_q = run_floor_div(sy, r.div, w->inv[k], &r.step_r);
        if (k == 1) {
            w->off_left = sx > 0 ? 0 : big;
            w->off_right = sx > 0 ? big : 0;
        }
    }
    *y_first = first > *y_last ? *y_last + 1 : (int)first;
    *y_last = last < *y_first ? *y_first - 1 : (int)last;
    run_walk_seek(w, *y_first - s.min_y);
}

// The box's rows between the top and bottom corners: a row above the top corner or below the
// bottom one holds no pixel centre of the triangle. Empty when none of the box's rows is.
static inline void fill_corner_rows(const SetupShape& shape, FillSetup* s) {
    const int64_t y0 = shape.y[0], y1 = shape.y[1], y2 = shape.y[2];
    int64_t top = y0 < y1 ? y0 : y1, bottom = y0 < y1 ? y1 : y0;
    if (y2 < top) top = y2;
    if (y2 > bottom) bottom = y2;
    const int64_t first = -((-top) >> 5), last = bottom >> 5;
    s->y_first = first > s->min_y ? (first > s->max_y ? s->max_y + 1 : (int)first) : s->min_y;
    s->y_last = last < s->max_y ? (last < s->min_y ? s->min_y - 1 : (int)last) : s->max_y;
}

// Set-up and the planes of the mode's attributes; false when the triangle is not drawn. Set-up's
// results go straight into the planes and the walk; the triangle record is left as it was (but for
// the area, which the mip level reads).
template <uint32_t M>
static inline bool fill_setup(RasterTriangle* t, const Texture* texture, FillSetup* s) {
    using T = RasterMode<M>;
    const MeshVertex* v0 = t->vert0;
    const MeshVertex* v1 = t->vert1;
    const MeshVertex* v2 = t->vert2;
    SetupShape shape;
    if (!setup_shape(v0, v1, v2, t->flags, &shape)) return false;
    if (!draw_band_touches(draw_band, shape.box.min_y, shape.box.max_y)) return false;
    Gradient g[ATTR_COUNT] = {};
    GradientBasis gb;
    gradient_basis_of(&shape, &gb);
    RasterFill& f = s->f;
    f.colour = t->colour;
    if constexpr (T::depth || T::shadow_pass)
        gradient_from_basis(&gb, &g[ATTR_DEPTH], v0->sz * 16383.0f, v1->sz * 16383.0f, v2->sz * 16383.0f);
    if constexpr (T::vertex_colour) {
        for (int c = 0; c < 4; c += 2) {
            const int sh = 24 - 8 * c, sl = sh - 8;
            gradient_pair_from_basis(&gb, &g[ATTR_A + c], &g[ATTR_A + c + 1], (float)(v0->colour >> sh & 255),
                                     (float)(v1->colour >> sh & 255), (float)(v2->colour >> sh & 255),
                                     (float)(v0->colour >> sl & 255), (float)(v1->colour >> sl & 255),
                                     (float)(v2->colour >> sl & 255));
        }
    }
    if constexpr (T::textured) {
        f.tex = texture->pixels;
        f.tex_wmask = texture->width_mask;
        f.tex_hmask = texture->height_mask;
        f.tex_shift = texture->width_shift;
    }
    if constexpr (T::env || T::bump_only) {
        const Texture* e = raster_env_map;
        f.env = e->pixels;
        f.env_wmask = e->width_mask;
        f.env_hmask = e->height_mask;
        f.env_shift = e->width_shift;
    }
    if constexpr (T::bump || T::dot3) {
        const Texture* b = raster_bump_map;
        f.bump = b->pixels;
        f.bump_wmask = b->width_mask;
        f.bump_hmask = b->height_mask;
        f.bump_shift = b->width_shift;
    }
    if constexpr (T::linear_uv) {
        const Texture* src = T::bump_only ? raster_bump_map : texture;
        float w = (float)src->width, h = (float)src->height;
        gradient_pair_from_basis(&gb, &g[ATTR_U], &g[ATTR_V], v0->u * w, v1->u * w, v2->u * w, v0->v * h,
                                 v1->v * h, v2->v * h);
    }
    if constexpr (T::perspective) {
        double w = (double)(float)texture->width, h = (double)(float)texture->height;
        float q0 = (float)(w / (double)v0->sz), q1 = (float)(w / (double)v1->sz);
        float q2 = (float)(w / (double)v2->sz);
        gradient_from_basis(&gb, &g[ATTR_U], (float)((double)v0->u * w * (double)q0),
                       (float)((double)v1->u * w * (double)q1), (float)((double)v2->u * w * (double)q2));
        gradient_from_basis(&gb, &g[ATTR_V], (float)((double)v0->v * h * (double)q0),
                       (float)((double)v1->v * h * (double)q1), (float)((double)v2->v * h * (double)q2));
        gradient_from_basis(&gb, &g[ATTR_Q], q0, q1, q2);
    }
    if constexpr (T::env) {
        float w = (float)raster_env_map->width, h = (float)raster_env_map->height;
        gradient_pair_from_basis(&gb, &g[ATTR_EU], &g[ATTR_EV], v0->env_u * w, v1->env_u * w, v2->env_u * w,
                                 v0->env_v * h, v1->env_v * h, v2->env_v * h);
    }
    if constexpr (T::shadow) {
        f.shadow = depth_buffer2->values;
        f.shadow_w = depth_buffer2->width;
        f.shadow_h = depth_buffer2->height;
        float w = (float)depth_buffer2->width, h = (float)depth_buffer2->height;
        gradient_pair_from_basis(&gb, &g[ATTR_EU], &g[ATTR_EV], v0->env_u * w, v1->env_u * w, v2->env_u * w,
                                 v0->env_v * h, v1->env_v * h, v2->env_v * h);
    }
    if constexpr (T::mipmap) {
        t->wide_area = shape.area;
        f.level = mip_level_select(t, texture);
        if (f.level > 0) {
            // Levels above 0 are squares of the shorter side halved `level` times.
            int s = (texture->width_shift < texture->height_shift ? texture->width_shift
                                                                   : texture->height_shift) -
                    f.level;
            f.tex = texture->levels[f.level];
            f.tex_shift = s;
            f.tex_wmask = f.tex_hmask = (1 << s) - 1;
        }
    }

    for (int k = 0; k < ATTR_COUNT; k++) {
        if (T::attrs & (1u << k)) {
            s->start[k] = (uint32_t)g[k].start;
            s->step_x[k] = (uint32_t)g[k].step_x;
            s->step_y[k] = (uint32_t)g[k].step_y;
        }
    }
    s->min_x = shape.box.min_x;
    s->min_y = shape.box.min_y;
    s->max_x = shape.box.max_x;
    s->max_y = shape.box.max_y;
    for (int k = 0; k < 3; k++) {
        s->esx[k] = shape.e[k].step_x;
        s->esy[k] = shape.e[k].step_y;
        s->e[k] = shape.e[k].constant + s->esx[k] * s->min_x + s->esy[k] * s->min_y;
    }
    fill_corner_rows(shape, s);
    return s->y_first <= s->y_last;
}

// Always inlined, so that the generic walk and steps compiled inside an AVX2 filler inline the
// AVX2 lane operations (which carry their own target attribute) instead of calling them. For the
// same reason the ABI note on 256-bit values passed between them never applies: they are never calls.
#define RASTER_INLINE __attribute__((always_inline)) inline
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wpsabi"
#endif

// The portable path: one pixel at a time.
struct LanesScalar {
    typedef int32_t V;
    enum { N = 1 };
};

// Per-triangle lane constants: each attribute's offsets across the lanes and its step per group.
template <class L>
struct LaneSteps {
    typename L::V ramp[ATTR_COUNT], step[ATTR_COUNT];
};

template <uint32_t M, class L>
RASTER_INLINE void fill_run_lanes(const RasterFill& f, const LaneSteps<L>& s, uint32_t* fb, int32_t* zb,
                                  const uint32_t* first, int n);

// Whether packed 32-bit edge tests serve a box of up to 4 x L::N columns and rows + 1 rows from
// the edge values e: every value they form must fit.
template <class L>
RASTER_INLINE bool edges_fit_32(const FillSetup& s, const int64_t e[3], int rows) {
    const int last = 4 * L::N - 1;
    for (int k = 0; k < 3; k++) {
        // The values are linear over the box: its least and greatest lie at two of its corners.
        const int64_t across = s.esx[k] * last, down = s.esy[k] * rows;
        const int64_t least = e[k] + (across < 0 ? across : 0) + (down < 0 ? down : 0);
        const int64_t most = e[k] + (across > 0 ? across : 0) + (down > 0 ? down : 0);
        if (least < INT32_MIN || most > INT32_MAX) return false;
        const int64_t group_step = s.esx[k] * (int64_t)L::N;
        if (group_step < INT32_MIN || group_step > INT32_MAX || s.esy[k] < INT32_MIN || s.esy[k] > INT32_MAX)
            return false;
    }
    return true;
}

// Whether a box takes packed edge tests (narrow, up to `groups` groups, and fitting 32 bits) rather
// than the run walk, which costs more per triangle and less per row.
template <class L>
RASTER_INLINE bool fill_box_tested(const FillSetup& s, int groups) {
    if (s.max_x - s.min_x + 1 > groups * L::N) return false;
    int64_t e[3];
    for (int k = 0; k < 3; k++) e[k] = s.e[k] + s.esy[k] * (int64_t)(s.y_first - s.min_y);
    return edges_fit_32<L>(s, e, s.y_last - s.y_first);
}

// Where a row's run comes from: packed edge tests of the edge values at the box's left (narrow
// boxes), or the run walk (the others). Either starts at the box's row y_first and goes down.
template <class L, bool WALK>
struct RowRuns;

template <class L>
struct RowRuns<L, true> {
    RunWalk walk;
    int min_y, width;
    RASTER_INLINE void start(const FillSetup& s, int* y_first, int* y_last) {
        min_y = s.min_y;
        width = s.max_x - s.min_x + 1;
        run_walk_start(s, &walk, y_first, y_last);
    }
    RASTER_INLINE void seek(int y) { run_walk_seek(&walk, y - min_y); }
    RASTER_INLINE bool next(int* lo, int* hi) { return run_walk_row(&walk, width, lo, hi); }
};

template <class L>
struct RowRuns<L, false> {
    typedef typename L::V V;
    V row_edge[3], edge_step_y[3], edge_step[3];
    const FillSetup* s;
    int width;
    RASTER_INLINE void start(const FillSetup& setup, int* y_first, int*) {
        s = &setup;
        width = setup.max_x - setup.min_x + 1;
        seek(*y_first);
        for (int k = 0; k < 3; k++) {
            edge_step_y[k] = L::set1((int32_t)setup.esy[k]);
            edge_step[k] = L::set1((int32_t)setup.esx[k] * L::N);
        }
    }
    RASTER_INLINE void seek(int y) {
        for (int k = 0; k < 3; k++)
            row_edge[k] = L::ramp((uint32_t)(s->e[k] + s->esy[k] * (int64_t)(y - s->min_y)), (uint32_t)s->esx[k]);
    }
    // A coverage bit mask of the row, the run from its lowest to its highest set bit.
    RASTER_INLINE bool next(int* lo, int* hi) {
        uint64_t mask = 0;
        V e0 = row_edge[0], e1 = row_edge[1], e2 = row_edge[2];
        for (int g = 0; g < width; g += L::N) {
            mask |= (uint64_t)(~L::signs(L::or_(L::or_(e0, e1), e2)) & ((1 << L::N) - 1)) << g;
            e0 = L::add32(e0, edge_step[0]);
            e1 = L::add32(e1, edge_step[1]);
            e2 = L::add32(e2, edge_step[2]);
        }
        for (int k = 0; k < 3; k++) row_edge[k] = L::add32(row_edge[k], edge_step_y[k]);
        mask &= (1ull << width) - 1;
        if (!mask) return false;
        *lo = __builtin_ctzll(mask);
        *hi = 63 - __builtin_clzll(mask);
        return true;
    }
};

// The box walk. Each row takes its run of covered pixels from R, then draws it: one pixel at a time
// on the portable path, in groups of L::N lanes otherwise (the last group masked to the run). A
// row's attribute values are the box's start plus step_y x the row's offset, kept by adding.
template <uint32_t M, class L, bool WALK>
RASTER_INLINE void fill_rows(const FillSetup& s) {
    using T = RasterMode<M>;
    constexpr uint32_t used = T::attrs;
    constexpr bool lanes = L::N > 1;
    int y_first = s.y_first, y_last = s.y_last;
    RowRuns<L, WALK> runs;
    runs.start(s, &y_first, &y_last);
    if (y_first > y_last) return;
    const uint32_t skip = (uint32_t)(y_first - s.min_y);
    uint32_t row_attr[ATTR_COUNT];
    for (int k = 0; k < ATTR_COUNT; k++)
        if (used & (1u << k)) row_attr[k] = s.start[k] + s.step_y[k] * skip;
    size_t row = (size_t)y_first * SCREEN_WIDTH + (size_t)s.min_x;
    uint32_t* fb_row = T::shadow_pass ? nullptr : framebuffer.pixels + row;
    int32_t* zb_row = nullptr;
    if constexpr (T::shadow_pass) zb_row = depth_buffer2->values + row;
    else if constexpr (T::depth) zb_row = depth_buffer->values + row;

    [[maybe_unused]] LaneSteps<L> steps;
    if constexpr (lanes) {
        for (int k = 0; k < ATTR_COUNT; k++) {
            if (used & (1u << k)) {
                steps.ramp[k] = L::ramp(0, s.step_x[k]);
                steps.step[k] = L::set1((int32_t)(s.step_x[k] * (uint32_t)L::N));
            }
        }
    }
    const DrawBand* band = draw_band;
    for (int y = y_first; y <= y_last; y++) {
        if (band && !band->owns[y]) {
            // Other threads draw this row: go to this one's next row, with the values it has there.
            const int next = band->next[y];
            if (next > y_last) break;
            const int64_t jump = next - y;
            for (int k = 0; k < ATTR_COUNT; k++)
                if (used & (1u << k)) row_attr[k] += s.step_y[k] * (uint32_t)jump;
            if (fb_row) fb_row += SCREEN_WIDTH * jump;
            if (zb_row) zb_row += SCREEN_WIDTH * jump;
            runs.seek(next);
            y = next;
        }
        int lo, hi;
        if (runs.next(&lo, &hi)) {
            uint32_t first[ATTR_COUNT];
            for (int k = 0; k < ATTR_COUNT; k++)
                if (used & (1u << k)) first[k] = row_attr[k] + s.step_x[k] * (uint32_t)lo;
            uint32_t* fb = fb_row ? fb_row + lo : nullptr;
            int32_t* zb = zb_row ? zb_row + lo : nullptr;
            if constexpr (lanes) {
                // The untextured modes do a pixel or two for less than a masked group costs.
                if (!T::textured && !T::bump_only && hi - lo < 2)
                    fill_run<M>(s.f, fb, zb, first, s.step_x, hi - lo + 1);
                else
                    fill_run_lanes<M, L>(s.f, steps, fb, zb, first, hi - lo + 1);
            } else {
                fill_run<M>(s.f, fb, zb, first, s.step_x, hi - lo + 1);
            }
        }
        for (int k = 0; k < ATTR_COUNT; k++)
            if (used & (1u << k)) row_attr[k] += s.step_y[k];
        if (fb_row) fb_row += SCREEN_WIDTH;
        if (zb_row) zb_row += SCREEN_WIDTH;
    }
}

// Modes whose pixels cost enough that two short rows are better drawn together, in tiles of two
// columns by two rows, than one row at a time: bilinear, the map modes, shadow-tested and Gouraud
// textured ones. For the cheap modes the tiles' own cost outweighs what they save.
template <uint32_t M>
constexpr bool fill_pairs_pay() {
    using T = RasterMode<M>;
    return T::bilinear || T::env || T::bump_only || T::dot3 || T::shadow || (T::textured && T::gouraud) ||
           (T::textured && T::flat && T::depth);
}

// Modes that draw boxes of up to eight columns faster with four lanes than with eight, whose
// per-triangle set-up costs about twice as much: the untextured ones and the Gouraud-textured ones
// without depth or bilinear filter. The others measured the same or slower with four.
template <uint32_t M>
constexpr bool fill_small_boxes_four() {
    using T = RasterMode<M>;
    return (!T::textured && !T::bump_only) || (T::textured && T::gouraud && !T::depth && !T::bilinear);
}

template <uint32_t M, class L, bool WALK>
RASTER_INLINE void fill_rows_paired(const FillSetup& s);

// Boxes of up to two groups take packed edge tests; wider ones the run walk, whose set-up their
// rows repay.
template <uint32_t M, class L>
RASTER_INLINE void fill_box(const FillSetup& s) {
    if constexpr (L::N == 1) fill_rows<M, L, true>(s);
    else if (fill_box_tested<L>(s, 2)) fill_rows<M, L, false>(s);
    else fill_rows<M, L, true>(s);
}

template <uint32_t M, class L>
RASTER_INLINE void fill_triangle(RasterTriangle* t, const Texture* texture) {
    FillSetup s;
    if (!fill_setup<M>(t, texture, &s)) return;
#if RASTER_HAVE_SSE2
    if constexpr (L::N == 8 && fill_small_boxes_four<M>()) {
        if (s.max_x - s.min_x < 8) {
            if constexpr (fill_pairs_pay<M>()) {
                typedef typename L::Four F;
                if (fill_box_tested<F>(s, 2)) fill_rows_paired<M, F, false>(s);
                else fill_rows_paired<M, F, true>(s);
            } else {
                fill_box<M, typename L::Four>(s);
            }
            return;
        }
    }
#endif
#if RASTER_HAVE_SSE2
    if constexpr (L::N > 1 && fill_pairs_pay<M>()) {
        if (s.max_x - s.min_x < 2 * L::N) {
            if (fill_box_tested<L>(s, 2)) fill_rows_paired<M, L, false>(s);
            else fill_rows_paired<M, L, true>(s);
            return;
        }
    }
#endif
    fill_box<M, L>(s);
}

#include "raster/raster_wide.h"

// Each mode's three fillers: the portable twin, SSE2 and AVX2 (the latter two fall back to the
// narrower path where the build or the compiler lacks the instruction set).
#if RASTER_HAVE_SSE2
#define RASTER_SSE2_LANES LanesSse2
#else
#define RASTER_SSE2_LANES LanesScalar
#endif
#if RASTER_HAVE_SSE2 && RASTER_HAVE_AVX2
#define RASTER_DEFINE_AVX2_FILLER(mode)                                                \
    RASTER_AVX2 void raster_fill_avx2_##mode(RasterTriangle* t, const Texture* tx) { \
        fill_triangle<mode, LanesAvx2>(t, tx);                                         \
    }
#else
#define RASTER_DEFINE_AVX2_FILLER(mode) \
    void raster_fill_avx2_##mode(RasterTriangle* t, const Texture* tx) { raster_fill_sse2_##mode(t, tx); }
#endif

#define RASTER_DEFINE_FILLER(mode)                                                          \
    void raster_fill_scalar_##mode(RasterTriangle* t, const Texture* tx) {                  \
        fill_triangle<mode, LanesScalar>(t, tx);                                            \
    }                                                                                       \
    void raster_fill_sse2_##mode(RasterTriangle* t, const Texture* tx) {                    \
        fill_triangle<mode, RASTER_SSE2_LANES>(t, tx);                                      \
    }                                                                                       \
    RASTER_DEFINE_AVX2_FILLER(mode)
