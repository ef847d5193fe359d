// Internals shared by the set-up and the filler families: the per-triangle context, the packed
// channel operations and the filler table. Not for use outside src/raster.
#pragma once
#include <cstdint>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#include "gfx/display.h"
#include "gfx/draw_queue.h"
#include "raster/raster.h"

// The map slots, read by the environment, bump-offset and dot3 fillers. Per thread: a drawing
// thread takes the values the main thread had when it recorded the call it replays.
extern constinit thread_local const Texture* raster_env_map;
extern constinit thread_local const Texture* raster_bump_map;

// A filler draws one triangle: set-up, its gradients and the box walk. Its preconditions (texture,
// map slots, buffers present) are checked once per call by the dispatch, not per triangle.
typedef void (*RasterFiller)(RasterTriangle* triangle, const Texture* texture);

// The filler paths, all bit for bit the same: the portable twin, four pixels per step with SSE2,
// eight with AVX2. They are numbered as the SIMD levels (gfx/simd.h).
enum { RASTER_PATH_SCALAR = 0, RASTER_PATH_SSE2 = 1, RASTER_PATH_AVX2 = 2, RASTER_PATH_COUNT = 3 };

struct RasterModeEntry {
    RenderMode mode;
    RasterFiller filler[RASTER_PATH_COUNT];  // by path
};

// The 39 drawn modes, sorted by value.
extern const RasterModeEntry raster_mode_table[];
extern const int raster_mode_count;
const RasterModeEntry* raster_mode_find(RenderMode mode);

// The rasterizer's own limit on the path (by default none), kept within what the processor runs;
// returns the previous limit. The drawing entries use the lower of it and the program's SIMD level.
int raster_path_set(int path);
// The path the drawing entries use now.
int raster_path_get(void);

// Mip level of a triangle after a successful set-up, from its texture-to-screen area ratio.
int mip_level_select(const RasterTriangle* triangle, const Texture* texture);

// Double to int32 as the set-up needs it: truncation toward zero, kept modulo 2^32 when the value
// does not fit (the 32-bit sums it feeds wrap the same way); NaN and values beyond 2^63 give 0.
static inline int32_t raster_trunc_wrap(double value) {
    // A select, not a branch: set-up forms several per plane and nearly all are in range.
    const double v = value > -9.2e18 && value < 9.2e18 ? value : 0.0;
    return (int32_t)(uint32_t)(uint64_t)(int64_t)v;
}

// A screen coordinate in 1/32 pixel, truncated toward zero, as set-up forms it (for coordinates
// the set-up accepted).
static inline int64_t raster_fixed(float coordinate) { return (int64_t)((double)coordinate * 32.0); }

// The same, for any coordinate: *ok is cleared (and 0 returned) when it cannot be represented.
static inline int64_t setup_fixed(float coordinate, int* ok) {
    const double v = (double)coordinate * 32.0;
    if (!(v > -1073741824.0 && v < 1073741824.0)) {
        *ok = 0;
        return 0;
    }
    return (int64_t)v;
}

// An edge in 64 bits; the stored record keeps the low 32 bits of each field.
struct WideEdge {
    int64_t step_x, step_y, constant;
    int32_t code;
};

static inline void setup_edge_fixed(WideEdge* e, int64_t xa, int64_t ya, int64_t xb, int64_t yb) {
    e->step_x = (ya - yb) * 64;
    e->step_y = (xb - xa) * 64;
    e->constant = -((xa + xb) * (ya - yb) + (ya + yb) * (xb - xa));
    e->code = (e->step_x >= 0 ? 8 : 0) + (e->step_y >= 0 ? 1 : 0);
    // Fill rule: right-hand edges and a horizontal top edge leave their own pixels out.
    if (e->step_x < 0 || (e->step_x == 0 && e->step_y > 0)) e->constant -= 1;
}

// What set-up decides of a triangle before anything is stored: its exact edges (turned to face the
// viewer), area and box, and its corners' rows in 1/32 pixel.
struct SetupShape {
    WideEdge e[3];
    int64_t area;
    int64_t y[3];
    RasterBox box;
};

// False when set-up refuses the triangle: a corner out of range, too small an area, a back face
// of a one-sided triangle, or a box without a pixel. triangle_setup stores what this finds; the
// fillers take it from here without the round trip through the triangle record (inlined, so that
// the shape stays in registers).
__attribute__((always_inline)) static inline bool setup_shape(const MeshVertex* v0, const MeshVertex* v1,
                                                              const MeshVertex* v2, uint32_t flags, SetupShape* s) {
    int ok = 1;
    const int64_t x0 = setup_fixed(v0->sx, &ok), x1 = setup_fixed(v1->sx, &ok), x2 = setup_fixed(v2->sx, &ok);
    s->y[0] = setup_fixed(v0->sy, &ok);
    s->y[1] = setup_fixed(v1->sy, &ok);
    s->y[2] = setup_fixed(v2->sy, &ok);
    if (!ok) return false;
    WideEdge* e = s->e;
    setup_edge_fixed(&e[0], x0, s->y[0], x1, s->y[1]);
    setup_edge_fixed(&e[1], x1, s->y[1], x2, s->y[2]);
    setup_edge_fixed(&e[2], x2, s->y[2], x0, s->y[0]);
    int64_t area = e[0].constant + e[1].constant + e[2].constant;
    if (area > -16 && area <= 0) return false;
    if (area < 0) {
        if (!(flags & DOUBLE_SIDED)) return false;
        for (int i = 0; i < 3; i++) {
            e[i].step_x = -e[i].step_x;
            e[i].step_y = -e[i].step_y;
            e[i].constant = -e[i].constant;
        }
        area = -area;
    }
    const int xp = (e[0].code & 1) | (e[1].code & 1) << 1 | (e[2].code & 1) << 2;
    const int yp = (e[0].code >> 3 & 1) | (e[1].code >> 3 & 1) << 1 | (e[2].code >> 3 & 1) << 2;
    if (xp == 0 || xp == 7 || yp == 0 || yp == 7) return false;
    const MeshVertex* v[3] = {v0, v1, v2};
    if (!raster_screen_box(v[raster_box_corners[xp][0]]->sx, v[raster_box_corners[xp][1]]->sx,
                           v[raster_box_corners[yp][1]]->sy, v[raster_box_corners[yp][0]]->sy, &s->box))
        return false;
    s->area = area;
    return true;
}

// 2048 / area as the triangle record keeps it.
static inline float setup_inv_area(int64_t area) { return (float)(2048.0 / (double)(float)area); }

// What gradient_setup needs of the triangle, formed once for all the planes a filler sets up.
struct GradientBasis {
    double step_x[3], step_y[3], constant[3];  // edge0..edge2, each rounded to single precision
    double inv_area;
    int32_t min_x, min_y;
};
void gradient_basis(const RasterTriangle* triangle, GradientBasis* basis);

// The same basis from set-up's shape, before anything is stored in the triangle.
static inline void gradient_basis_of(const SetupShape* s, GradientBasis* b) {
    // Each edge field goes through single precision, as the plane sums weight it.
    for (int i = 0; i < 3; i++) {
        b->step_x[i] = (double)(float)s->e[i].step_x;
        b->step_y[i] = (double)(float)s->e[i].step_y;
        b->constant[i] = (double)(float)s->e[i].constant;
    }
    b->inv_area = (double)setup_inv_area(s->area);
    b->min_x = s->box.min_x;
    b->min_y = s->box.min_y;
}

// A plane's steps and start from its three sums, as gradient_setup forms them.
__attribute__((always_inline)) static inline void gradient_finish(const GradientBasis* b, Gradient* g, double step_x,
                                                                  double step_y, double k) {
    const int32_t sx = raster_trunc_wrap(step_x);
    const int32_t sy = raster_trunc_wrap(step_y);
    const int64_t k64 = (int64_t)(k > -9.2e18 && k < 9.2e18 ? k : 0.0);
    const uint64_t start = (uint64_t)(int64_t)sx * (uint64_t)(int64_t)b->min_x +
                           (uint64_t)(int64_t)sy * (uint64_t)(int64_t)b->min_y + (uint64_t)k64 + 1024u;
    g->step_x = sx;
    g->step_y = sy;
    g->start = (int32_t)(uint32_t)start;
}

// gradient_setup on a basis: the same arithmetic in the same order.
__attribute__((always_inline)) static inline void gradient_from_basis(const GradientBasis* b, Gradient* g, float value0,
                                                                      float value1, float value2) {
    const double wa = (double)(float)(b->inv_area * (double)value0);
    const double wb = (double)(float)(b->inv_area * (double)value1);
    const double wc = (double)(float)(b->inv_area * (double)value2);
    // Each edge weights the value of the corner opposite it.
    gradient_finish(b, g, b->step_x[0] * wc + b->step_x[1] * wa + b->step_x[2] * wb,
                    b->step_y[0] * wc + b->step_y[1] * wa + b->step_y[2] * wb,
                    b->constant[0] * wc + b->constant[1] * wa + b->constant[2] * wb);
}

// Two planes at once, p and q, one in each lane of a pair of doubles: each lane does the operations
// of gradient_from_basis in the same order and rounding, so both give the same bits.
__attribute__((always_inline)) static inline void gradient_pair_from_basis(const GradientBasis* b, Gradient* gp,
                                                                           Gradient* gq, float p0, float p1,
                                                                           float p2, float q0, float q1, float q2) {
#if defined(__SSE2__)
    const __m128d inv = _mm_set1_pd(b->inv_area);
    // The weights rounded to single precision and back, as the scalar casts do.
    const __m128d wa = _mm_cvtps_pd(_mm_cvtpd_ps(_mm_mul_pd(inv, _mm_set_pd((double)q0, (double)p0))));
    const __m128d wb = _mm_cvtps_pd(_mm_cvtpd_ps(_mm_mul_pd(inv, _mm_set_pd((double)q1, (double)p1))));
    const __m128d wc = _mm_cvtps_pd(_mm_cvtpd_ps(_mm_mul_pd(inv, _mm_set_pd((double)q2, (double)p2))));
    double sum[3][2];
    const double* rows[3] = {b->step_x, b->step_y, b->constant};
    for (int i = 0; i < 3; i++) {
        const double* e = rows[i];
        const __m128d v = _mm_add_pd(_mm_add_pd(_mm_mul_pd(_mm_set1_pd(e[0]), wc), _mm_mul_pd(_mm_set1_pd(e[1]), wa)),
                                     _mm_mul_pd(_mm_set1_pd(e[2]), wb));
        _mm_storeu_pd(sum[i], v);
    }
    gradient_finish(b, gp, sum[0][0], sum[1][0], sum[2][0]);
    gradient_finish(b, gq, sum[0][1], sum[1][1], sum[2][1]);
#else
    gradient_from_basis(b, gp, p0, p1, p2);
    gradient_from_basis(b, gq, q0, q1, q2);
#endif
}

// Per-byte operations on packed 0xAARRGGBB colours, all four bytes alike.
static inline uint32_t colour_multiply(uint32_t p, uint32_t q) {
    uint32_t r = 0;
    for (int s = 0; s < 32; s += 8) r |= ((((p >> s) & 255u) * ((q >> s) & 255u)) >> 8) << s;
    return r;
}

// The 39 drawn modes; each has a filler per path, defined in its family's file.
#define RASTER_MODES(X)                                                                         \
    X(0x0001) X(0x0002) X(0x0004) X(0x0005) X(0x0006) X(0x0008) X(0x0010) X(0x0011) X(0x0012)  \
    X(0x0014) X(0x0015) X(0x0016) X(0x0018) X(0x0019) X(0x0021) X(0x0022) X(0x0024) X(0x0025)  \
    X(0x0026) X(0x0034) X(0x0035) X(0x0041) X(0x0051) X(0x0094) X(0x0095) X(0x0096) X(0x0098)  \
    X(0x0104) X(0x0114) X(0x0214) X(0x0414) X(0x0C10) X(0x0C14) X(0x1014) X(0x1414) X(0x2004)  \
    X(0x2014) X(0x4011) X(0x4015)

#define RASTER_DECLARE_FILLER(mode)                                            \
    void raster_fill_scalar_##mode(RasterTriangle* t, const Texture* texture); \
    void raster_fill_sse2_##mode(RasterTriangle* t, const Texture* texture);   \
    void raster_fill_avx2_##mode(RasterTriangle* t, const Texture* texture);
RASTER_MODES(RASTER_DECLARE_FILLER)
