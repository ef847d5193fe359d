// Field lattice, soft blobs and the marching-cubes polygoniser.
#include "scenes/field.h"

#include <cmath>
#include <cstddef>
#include <cstdlib>
#include <cstring>

#include "gfx/simd.h"

#if defined(__SSE2__)
#include <immintrin.h>
#define FIELD_LANES 1
#else
#define FIELD_LANES 0
#endif
// WebAssembly (the browser build) has SSE2 through its SIMD but no AVX2 and no processor check.
#if FIELD_LANES && !defined(__EMSCRIPTEN__)
#define FIELD_LANES8 1
#define FIELD_AVX2 __attribute__((target("avx2")))
#else
#define FIELD_LANES8 0
#endif

FieldLattice* lattice_create(int32_t n) {
    if (n < 2 || n > 1024) return nullptr;
    size_t points = (size_t)(n + 1) * (size_t)(n + 1) * (size_t)(n + 1);
    size_t cells = (size_t)n * (size_t)n * (size_t)n;
    // Header, points and cells in one block so a single free releases everything.
    size_t header = (sizeof(FieldLattice) + 15) & ~(size_t)15;
    size_t point_bytes = (points * sizeof(LatticePoint) + 15) & ~(size_t)15;
    size_t cell_bytes = (cells * sizeof(LatticeCell) + 15) & ~(size_t)15;
    size_t cache_entries = 9 * (size_t)(n + 1) * (size_t)(n + 1);
    size_t cache_bytes = cache_entries * sizeof(LatticeEdgeVertex);
    size_t touched_bytes = 2 * (size_t)(n + 1) * (size_t)(n + 1) * sizeof(int32_t);
    // The coordinates are read eight at a time, up to seven past the last index.
    size_t z_bytes = (size_t)(n + 1 + 7) * sizeof(float);
    // The corner tests are read sixteen at a time, up to 16 bytes past the last point's.
    size_t bytes = header + point_bytes + cell_bytes + cache_bytes + touched_bytes + z_bytes + points + 16;
    unsigned char* block = (unsigned char*)calloc(1, bytes);
    if (!block) return nullptr;
    // The polygoniser reaches parts of the block only as the surface grows, well into the show, and
    // calloc maps pages when first written: a write per page now keeps memory flat after loading.
    for (size_t at = 0; at < bytes; at += 4096) ((volatile unsigned char*)block)[at] = 0;
    ((volatile unsigned char*)block)[bytes - 1] = 0;  // the last page, when the block starts mid-page
    FieldLattice* lattice = (FieldLattice*)block;
    lattice->max_resolution = n;
    lattice->resolution = n;
    lattice->point_count = (int32_t)points;
    lattice->points = (LatticePoint*)(block + header);
    lattice->cell_count = (int32_t)cells;
    lattice->cells = (LatticeCell*)(block + header + point_bytes);
    lattice->edge_cache = (LatticeEdgeVertex*)(block + header + point_bytes + cell_bytes);
    lattice->touched = (int32_t*)(block + header + point_bytes + cell_bytes + cache_bytes);
    lattice->coords = (float*)(block + header + point_bytes + cell_bytes + cache_bytes + touched_bytes);
    lattice->below = block + header + point_bytes + cell_bytes + cache_bytes + touched_bytes + z_bytes;
    lattice->light = Vec3{0.0f, 0.0f, 1.0f};
    mat_identity(&lattice->object_matrix);
    return lattice;
}

void lattice_free(FieldLattice* lattice) { free(lattice); }

LatticePoint* lattice_point_at(FieldLattice* lattice, int32_t ix, int32_t iy, int32_t iz) {
    int32_t n = lattice->resolution;
    if (ix < 0 || iy < 0 || iz < 0 || ix > n || iy > n || iz > n) return nullptr;
    return &lattice->points[(ix * (n + 1) + iy) * (n + 1) + iz];
}

// Every point of the current resolution written.
static void lattice_touch_all(FieldLattice* lattice) {
    const int32_t side = lattice->resolution + 1;
    for (int32_t r = 0; r < side * side; r++) {
        lattice->touched[2 * r] = 0;
        lattice->touched[2 * r + 1] = side;
    }
}

void lattice_build(FieldLattice* lattice, float edge_length) {
    int32_t n = lattice->resolution;
    float inv_n = 1.0f / (float)n;
    lattice->cell_size = edge_length / (float)n;
    float half = edge_length / 2.0f;
    // One coordinate per index serves all three axes; lanes reading past the last index find copies of it.
    float* coords = lattice->coords;
    for (int32_t i = 0; i < n + 8; i++) coords[i] = (float)(i <= n ? i : n) * edge_length * inv_n - half;
    for (int32_t ix = 0; ix <= n; ix++)
        for (int32_t iy = 0; iy <= n; iy++)
            for (int32_t iz = 0; iz <= n; iz++) {
                LatticePoint* p = lattice_point_at(lattice, ix, iy, iz);
                p->position = Vec3{coords[ix], coords[iy], coords[iz]};
                p->normal = Vec3{0.0f, 0.0f, 0.0f};
                p->value = 0.0f;
                p->neighbours[0] = lattice_point_at(lattice, ix - 1, iy, iz);
                p->neighbours[1] = lattice_point_at(lattice, ix + 1, iy, iz);
                p->neighbours[2] = lattice_point_at(lattice, ix, iy - 1, iz);
                p->neighbours[3] = lattice_point_at(lattice, ix, iy + 1, iz);
                p->neighbours[4] = lattice_point_at(lattice, ix, iy, iz - 1);
                p->neighbours[5] = lattice_point_at(lattice, ix, iy, iz + 1);
            }
    LatticeCell* cell = lattice->cells;
    for (int32_t ix = 0; ix < n; ix++)
        for (int32_t iy = 0; iy < n; iy++)
            for (int32_t iz = 0; iz < n; iz++, cell++) {
                cell->spare = nullptr;
                for (int k = 0; k < 8; k++)
                    cell->corners[k] = lattice_point_at(lattice, ix + field_corner_offsets[k][0],
                                                        iy + field_corner_offsets[k][1],
                                                        iz + field_corner_offsets[k][2]);
            }
    lattice_touch_all(lattice);
}

void lattice_set_resolution(FieldLattice* lattice, int32_t n, float edge_length) {
    if (n <= 1) n = 2;
    if (n > lattice->max_resolution) n = lattice->max_resolution;
    if (n == lattice->resolution) return;
    lattice->resolution = n;
    lattice->point_count = (n + 1) * (n + 1) * (n + 1);
    lattice->cell_count = n * n * n;
    lattice_build(lattice, edge_length);
}

void lattice_scale_values(FieldLattice* lattice, float f) {
    for (int32_t i = 0; i < lattice->point_count; i++) {
        LatticePoint* p = &lattice->points[i];
        p->value *= f;
        p->normal.x *= f;
        p->normal.y *= f;
        p->normal.z *= f;
    }
    for (int32_t i = 0; i < lattice->cell_count; i++) lattice->cells[i].spare = nullptr;
    lattice_touch_all(lattice);
}

// What one blob does to the points it reaches; the same for every row.
struct BlobTerms {
    Vec3 centre;
    float s, radius, sign, r_sq, third;
    double far_sq;
    float far_float;  // the float at or above which a squared distance, widened, reaches far_sq
    // A row's run of z: the centre and the margin in index units, the inverse cell size, and the
    // box's z indices [z_lo, z_hi) that bound every run.
    float centre_z, margin, inv;
    int32_t z_lo, z_hi;
};

// The run [z0, z1) of the row ex, ey away from the centre in x and y (z0 >= z1: none), and its
// squared distance in x and y.
static inline void blob_span(const BlobTerms* b, float ex, float ey, int32_t* z0, int32_t* z1, float* xy) {
    const float xy_sq = ex * ex + ey * ey;
    *xy = xy_sq;
    *z0 = *z1 = 0;
    if ((double)xy_sq >= b->far_sq) return;
    const float reach = std::sqrt((float)(b->far_sq - (double)xy_sq)) * b->inv + b->margin;
    const float first = std::ceil(b->centre_z - reach), last = std::floor(b->centre_z + reach) + 1.0f;
    *z0 = first > (float)b->z_lo ? (int32_t)first : b->z_lo;
    *z1 = last < (float)b->z_hi ? (int32_t)last : b->z_hi;
}

// The blob's pull on one point d away from its centre, d_sq = dot(d, d).
static inline void blob_point(const BlobTerms* b, LatticePoint* p, const Vec3& d, float d_sq) {
    if ((double)d_sq >= b->far_sq) return;
    float r = std::sqrt(d_sq);
    if (!(r < b->radius)) return;
    float f;
    if (r < b->third)
        f = b->s * (1.0f - 3.0f * r * r / b->r_sq);
    else {
        float q = 1.0f - r / b->radius;
        f = 1.5f * b->s * q * q;
    }
    p->value += b->sign * f;
    // At the centre the gradient is undefined; leave the normal as it is.
    if (r > 0.0f) {
        float g = b->sign * (b->radius / (r * r));
        p->normal.x += d.x * g;
        p->normal.y += d.y * g;
        p->normal.z += d.z * g;
    }
}

// A row's run of points under one blob: points z0 <= iz < z1 of the row, which share x and y, so dx,
// dy and the first two terms of every squared distance are the run's.
struct BlobRun {
    LatticePoint* row;
    int32_t z0, z1;
    float dx, dy, xy_sq;
};

// Runs gathered before the lanes take them, so that the blob's terms are set up once.
enum { BLOB_RUNS = 64 };

#if FIELD_LANES
static_assert(offsetof(LatticePoint, value) == offsetof(LatticePoint, normal) + 3 * sizeof(float),
              "a point's value follows its normal");

// The runs four points at a time: each lane takes blob_point's steps in its order. A lane whose
// point the blob leaves alone adds -0 to each of the point's four sums, which changes no bit of any
// of them; a lane past its run's end is not written.
static void blob_runs_lanes(const BlobTerms* b, const float* coords, const BlobRun* runs, int count) {
    const __m128 far4 = _mm_set1_ps(b->far_float), radius = _mm_set1_ps(b->radius), third = _mm_set1_ps(b->third);
    const __m128 one = _mm_set1_ps(1.0f), zero = _mm_setzero_ps(), cz = _mm_set1_ps(b->centre.z);
    const __m128 s = _mm_set1_ps(b->s), sign = _mm_set1_ps(b->sign), unchanged = _mm_set1_ps(-0.0f);
    const __m128 three = _mm_set1_ps(3.0f), r_sq = _mm_set1_ps(b->r_sq), s15 = _mm_set1_ps(1.5f * b->s);
    for (const BlobRun* run = runs; run < runs + count; run++) {
        const __m128 dx4 = _mm_set1_ps(run->dx), dy4 = _mm_set1_ps(run->dy), xy = _mm_set1_ps(run->xy_sq);
        for (int32_t iz = run->z0; iz < run->z1; iz += 4) {
            const int lanes = run->z1 - iz < 4 ? run->z1 - iz : 4;
            const __m128 dz = _mm_sub_ps(_mm_loadu_ps(coords + iz), cz);
            const __m128 d_sq = _mm_add_ps(xy, _mm_mul_ps(dz, dz));
            const __m128 r = _mm_sqrt_ps(d_sq);
            const __m128 in = _mm_andnot_ps(_mm_cmpge_ps(d_sq, far4), _mm_cmplt_ps(r, radius));
            const int hit = _mm_movemask_ps(in) & ((1 << lanes) - 1);
            if (!hit) continue;
            const __m128 q = _mm_sub_ps(one, _mm_div_ps(r, radius));
            __m128 f = _mm_mul_ps(_mm_mul_ps(s15, q), q);
            // Few points lie within a third of the radius: their piece only when a lane needs it.
            const __m128 near = _mm_cmplt_ps(r, third);
            if (_mm_movemask_ps(near) & hit) {
                const __m128 inner =
                    _mm_mul_ps(s, _mm_sub_ps(one, _mm_div_ps(_mm_mul_ps(_mm_mul_ps(three, r), r), r_sq)));
                f = _mm_or_ps(_mm_and_ps(near, inner), _mm_andnot_ps(near, f));
            }
            f = _mm_mul_ps(sign, f);
            const __m128 g = _mm_mul_ps(sign, _mm_div_ps(radius, _mm_mul_ps(r, r)));
            // The normal takes its sums only away from the centre.
            const __m128 keep = _mm_and_ps(in, _mm_cmpgt_ps(r, zero));
            auto pick = [&](__m128 mask, __m128 sum) { return _mm_or_ps(_mm_and_ps(mask, sum), _mm_andnot_ps(mask, unchanged)); };
            // Lane k's four sums (normal x, y, z and value, which follow one another in the point) as one group.
            __m128 add0 = pick(keep, _mm_mul_ps(dx4, g)), add1 = pick(keep, _mm_mul_ps(dy4, g));
            __m128 add2 = pick(keep, _mm_mul_ps(dz, g)), add3 = pick(in, f);
            _MM_TRANSPOSE4_PS(add0, add1, add2, add3);
            const __m128 sums[4] = {add0, add1, add2, add3};
            LatticePoint* p = run->row + iz;
            for (int k = 0; k < lanes; k++) {
                float* at = &p[k].normal.x;
                _mm_storeu_ps(at, _mm_add_ps(_mm_loadu_ps(at), sums[k]));
            }
        }
    }
}

#if FIELD_LANES8
// Rows a0..a3 of eight lanes to out[k] = lane k's four values in the low half, lane k + 4's in the high.
FIELD_AVX2 static inline void lanes_turn8(__m256 a0, __m256 a1, __m256 a2, __m256 a3, __m256 out[4]) {
    const __m256 t0 = _mm256_unpacklo_ps(a0, a1), t1 = _mm256_unpacklo_ps(a2, a3);
    const __m256 t2 = _mm256_unpackhi_ps(a0, a1), t3 = _mm256_unpackhi_ps(a2, a3);
    out[0] = _mm256_shuffle_ps(t0, t1, 0x44);
    out[1] = _mm256_shuffle_ps(t0, t1, 0xEE);
    out[2] = _mm256_shuffle_ps(t2, t3, 0x44);
    out[3] = _mm256_shuffle_ps(t2, t3, 0xEE);
}

// blob_runs_lanes with eight lanes: the same steps, lanes k and k + 4 in the two halves.
FIELD_AVX2 static void blob_runs_lanes8(const BlobTerms* b, const float* coords, const BlobRun* runs, int count) {
    const __m256 far8 = _mm256_set1_ps(b->far_float), radius = _mm256_set1_ps(b->radius);
    const __m256 third = _mm256_set1_ps(b->third), one = _mm256_set1_ps(1.0f), zero = _mm256_setzero_ps();
    const __m256 cz = _mm256_set1_ps(b->centre.z), s = _mm256_set1_ps(b->s), unchanged = _mm256_set1_ps(-0.0f);
    const __m256 sign = _mm256_set1_ps(b->sign), three = _mm256_set1_ps(3.0f), r_sq = _mm256_set1_ps(b->r_sq);
    const __m256 s15 = _mm256_set1_ps(1.5f * b->s);
    for (const BlobRun* run = runs; run < runs + count; run++) {
        const __m256 dx8 = _mm256_set1_ps(run->dx), dy8 = _mm256_set1_ps(run->dy), xy = _mm256_set1_ps(run->xy_sq);
        for (int32_t iz = run->z0; iz < run->z1; iz += 8) {
            const int lanes = run->z1 - iz < 8 ? run->z1 - iz : 8;
            const __m256 dz = _mm256_sub_ps(_mm256_loadu_ps(coords + iz), cz);
            const __m256 d_sq = _mm256_add_ps(xy, _mm256_mul_ps(dz, dz));
            const __m256 r = _mm256_sqrt_ps(d_sq);
            const __m256 in =
                _mm256_andnot_ps(_mm256_cmp_ps(d_sq, far8, _CMP_GE_OQ), _mm256_cmp_ps(r, radius, _CMP_LT_OQ));
            const int hit = _mm256_movemask_ps(in) & ((1 << lanes) - 1);
            if (!hit) continue;
            const __m256 q = _mm256_sub_ps(one, _mm256_div_ps(r, radius));
            __m256 f = _mm256_mul_ps(_mm256_mul_ps(s15, q), q);
            const __m256 near = _mm256_cmp_ps(r, third, _CMP_LT_OQ);
            if (_mm256_movemask_ps(near) & hit) {
                const __m256 inner = _mm256_mul_ps(
                    s, _mm256_sub_ps(one, _mm256_div_ps(_mm256_mul_ps(_mm256_mul_ps(three, r), r), r_sq)));
                f = _mm256_blendv_ps(f, inner, near);
            }
            f = _mm256_mul_ps(sign, f);
            const __m256 g = _mm256_mul_ps(sign, _mm256_div_ps(radius, _mm256_mul_ps(r, r)));
            const __m256 keep = _mm256_and_ps(in, _mm256_cmp_ps(r, zero, _CMP_GT_OQ));
            __m256 sums[4];
            lanes_turn8(_mm256_blendv_ps(unchanged, _mm256_mul_ps(dx8, g), keep),
                       _mm256_blendv_ps(unchanged, _mm256_mul_ps(dy8, g), keep),
                       _mm256_blendv_ps(unchanged, _mm256_mul_ps(dz, g), keep), _mm256_blendv_ps(unchanged, f, in),
                       sums);
            LatticePoint* p = run->row + iz;
            auto add = [&](int k, __m128 sum) {
                float* at = &p[k].normal.x;
                _mm_storeu_ps(at, _mm_add_ps(_mm_loadu_ps(at), sum));
            };
            if (lanes == 8) {
                for (int k = 0; k < 4; k++) {
                    add(k, _mm256_castps256_ps128(sums[k]));
                    add(k + 4, _mm256_extractf128_ps(sums[k], 1));
                }
                continue;
            }
            for (int k = 0; k < lanes; k++)
                add(k, k < 4 ? _mm256_castps256_ps128(sums[k]) : _mm256_extractf128_ps(sums[k - 4], 1));
        }
    }
}
#endif
#endif

#if FIELD_LANES
// blob_span for the four rows whose y coordinates start at `y`, one row per lane, each lane taking
// its steps in their order (the difference widened to double as there). The bounds are clamped
// before they are rounded, which gives the same runs and keeps the conversions in range.
static void blob_spans_lanes(const BlobTerms* b, float ex, const float* y, int32_t z0[4], int32_t z1[4], float ey[4],
                             float xy[4]) {
    const __m128 e = _mm_sub_ps(_mm_loadu_ps(y), _mm_set1_ps(b->centre.y));
    const __m128 xy_sq = _mm_add_ps(_mm_set1_ps(ex * ex), _mm_mul_ps(e, e));
    const __m128 inside = _mm_cmplt_ps(xy_sq, _mm_set1_ps(b->far_float));
    const __m128d far = _mm_set1_pd(b->far_sq);
    const __m128 left = _mm_movelh_ps(_mm_cvtpd_ps(_mm_sub_pd(far, _mm_cvtps_pd(xy_sq))),
                                      _mm_cvtpd_ps(_mm_sub_pd(far, _mm_cvtps_pd(_mm_movehl_ps(xy_sq, xy_sq)))));
    const __m128 reach = _mm_add_ps(_mm_mul_ps(_mm_sqrt_ps(left), _mm_set1_ps(b->inv)), _mm_set1_ps(b->margin));
    const __m128 lo = _mm_set1_ps((float)b->z_lo), hi = _mm_set1_ps((float)b->z_hi), one = _mm_set1_ps(1.0f);
    const __m128 centre = _mm_set1_ps(b->centre_z);
    // With the first z held to [z_lo, z_hi] and the last to [z_lo - 1, z_hi - 1], their ceiling and
    // floor + 1 are the scalar bounds after its clamps. Lanes beyond the blob's reach get no run.
    const __m128 first = _mm_min_ps(_mm_max_ps(_mm_sub_ps(centre, reach), lo), hi);
    const __m128 last = _mm_max_ps(_mm_min_ps(_mm_add_ps(centre, reach), _mm_sub_ps(hi, one)), _mm_sub_ps(lo, one));
    const __m128i first_i = _mm_cvttps_epi32(first), last_i = _mm_cvttps_epi32(last);
    // Truncation rounds toward zero: one up where it fell below, one down where it rose above.
    const __m128i up = _mm_castps_si128(_mm_cmplt_ps(_mm_cvtepi32_ps(first_i), first));
    const __m128i down = _mm_castps_si128(_mm_cmpgt_ps(_mm_cvtepi32_ps(last_i), last));
    const __m128i keep = _mm_castps_si128(inside);
    _mm_storeu_si128((__m128i*)z0, _mm_and_si128(keep, _mm_sub_epi32(first_i, up)));
    _mm_storeu_si128((__m128i*)z1, _mm_and_si128(keep, _mm_add_epi32(_mm_add_epi32(last_i, down), _mm_set1_epi32(1))));
    _mm_storeu_ps(ey, e);
    _mm_storeu_ps(xy, xy_sq);
}
#endif

// The runs one point at a time, or in lanes where the level allows.
static void blob_runs(const BlobTerms* b, const Vec3* centre, const float* coords, const BlobRun* runs, int count,
                      int level) {
#if FIELD_LANES8
    if (level >= SIMD_AVX2) return blob_runs_lanes8(b, coords, runs, count);
#endif
#if FIELD_LANES
    if (level >= SIMD_SSE2) return blob_runs_lanes(b, coords, runs, count);
#endif
    (void)coords, (void)level;
    for (const BlobRun* run = runs; run < runs + count; run++)
        for (int32_t iz = run->z0; iz < run->z1; iz++) {
            LatticePoint* p = &run->row[iz];
            Vec3 d;
            vec3_sub(&p->position, centre, &d);
            blob_point(b, p, d, vec3_dot(&d, &d));
        }
}

// sign is +1 to add the blob, -1 to carve it away.
static void lattice_apply_blob(FieldLattice* lattice, const Vec3* centre, float s, float radius,
                               float sign) {
    int32_t n = lattice->resolution;
    float h = (float)n / 2.0f;
    float inv = 1.0f / lattice->cell_size;
    const float c[3] = {centre->x, centre->y, centre->z};
    int32_t lo[3], hi[3];
    for (int a = 0; a < 3; a++) {
        float l = std::floor((c[a] - radius) * inv + h);
        float u = std::ceil((c[a] + radius) * inv + h) + 1.0f;
        // A non-finite or far-off centre must not turn into an out-of-range integer index.
        if (!(l <= (float)n)) return;
        if (!(u > 0.0f)) return;
        lo[a] = l < 0.0f ? 0 : (int32_t)l;
        hi[a] = u > (float)(n + 1) ? n + 1 : (int32_t)u;
    }
    BlobTerms blob;
    blob.centre = *centre;
    blob.s = s;
    blob.radius = radius;
    blob.sign = sign;
    blob.r_sq = radius * radius;
    blob.third = radius / 3.0f;
    // Squared distances this far beyond r_sq have a rounded root of at least the radius, so those
    // points are passed over without taking the root; nearer ones are decided on the root as before.
    const double far_sq = (double)radius * (double)radius * (1.0 + 1e-6);
    blob.far_sq = far_sq;
    blob.far_float = (float)far_sq;
    if ((double)blob.far_float < far_sq) blob.far_float = std::nextafter(blob.far_float, INFINITY);
    const int level = simd_level();
    BlobRun runs[BLOB_RUNS];
    int run_count = 0;
    // The points of one row share x and y, and a sum of squares never rounds below its first terms,
    // so a row whose x and y alone reach far_sq is passed over whole. Within a row only the run of z
    // around the centre that can come nearer is visited: a sixteenth of a cell and a thousandth of
    // the radius wider on each side than the root says (a point past it has a squared distance far
    // beyond far_sq, rounding and all), and every point in it still takes the test below.
    blob.centre_z = c[2] * inv + h;
    blob.margin = 0.0625f + radius * inv * 1e-3f;
    blob.inv = inv;
    blob.z_lo = lo[2];
    blob.z_hi = hi[2];
    const float* coords = lattice->coords;
    for (int32_t ix = lo[0]; ix < hi[0]; ix++) {
        const float ex = coords[ix] - centre->x;
        for (int32_t iy = lo[1]; iy < hi[1]; iy += 4) {
            const int rows = hi[1] - iy < 4 ? hi[1] - iy : 4;
            int32_t z0[4], z1[4];
            float ey[4], xy[4];
#if FIELD_LANES
            if (level >= SIMD_SSE2)
                blob_spans_lanes(&blob, ex, coords + iy, z0, z1, ey, xy);
            else
#endif
                for (int k = 0; k < rows; k++) {
                    ey[k] = coords[iy + k] - centre->y;
                    blob_span(&blob, ex, ey[k], &z0[k], &z1[k], &xy[k]);
                }
            for (int k = 0; k < rows; k++) {
                if (z0[k] >= z1[k]) continue;
                const int32_t at = ix * (n + 1) + iy + k;
                int32_t* touched = &lattice->touched[2 * at];
                if (touched[0] >= touched[1]) touched[0] = z0[k], touched[1] = z1[k];
                if (z0[k] < touched[0]) touched[0] = z0[k];
                if (z1[k] > touched[1]) touched[1] = z1[k];
                runs[run_count++] = BlobRun{&lattice->points[at * (n + 1)], z0[k], z1[k], ex, ey[k], xy[k]};
                if (run_count == BLOB_RUNS) {
                    blob_runs(&blob, centre, coords, runs, run_count, level);
                    run_count = 0;
                }
            }
        }
    }
    blob_runs(&blob, centre, coords, runs, run_count, level);
}

void lattice_add_blob(FieldLattice* lattice, const Vec3* centre, float strength, float radius) {
    lattice_apply_blob(lattice, centre, strength, radius, 1.0f);
}

void lattice_subtract_blob(FieldLattice* lattice, const Vec3* centre, float strength,
                           float radius) {
    lattice_apply_blob(lattice, centre, strength, radius, -1.0f);
}

static int cell_index(const LatticeCell* cell, float iso) {
    int index = 0;
    for (int k = 0; k < 8; k++)
        if (iso > cell->corners[k]->value) index |= 1 << k;
    return index;
}

// The surface vertex on the edge from a to b, projected, with its view-space normal.
static void edge_vertex_make(const LatticePoint* a, const LatticePoint* b, float iso, const Matrix* screen,
                             const Matrix* normal_matrix, MeshVertex* v, Vec3* normal) {
    float t = (iso - a->value) / (b->value - a->value);
    Vec3 p, nrm, xyz;
    vec3_lerp(&a->position, &b->position, t, &p);
    vec3_lerp(&a->normal, &b->normal, t, &nrm);
    v->px = p.x;
    v->py = p.y;
    v->pz = p.z;
    float w = mat_transform_point_w(screen, &p, &xyz);
    float factor = w == 0.0f ? 1.0f : 1.0f / w;
    v->sx = xyz.x * factor;
    v->sy = xyz.y * factor;
    v->sz = xyz.z * factor;
    v->rhw = w;
    mat_rotate_vector(normal_matrix, &nrm, normal);
    vec3_normalize(normal, normal);
    v->u = v->env_u = (normal->x + 1.0f) * 0.5f;
    v->v = v->env_v = (1.0f - normal->y) * 0.5f;
    v->colour = 0;
}

// Gouraud grey of a surface vertex: its view-space normal against the unit light, floored at 0.25.
static uint32_t edge_grey(const Vec3* normal, const Vec3* light) {
    float d = vec3_dot(normal, light);
    if (d < 0.25f) d = 0.25f;
    if (d > 1.0f) d = 1.0f;
    return (uint32_t)(255.0f * d) * 0x01010101u;
}

// The triangles of one cube index in reversed winding, from its cut edges' lit vertices.
static int32_t cell_emit(int index, const MeshVertex* const vertex[12], MeshVertex* out) {
    int32_t count = 0;
    const int8_t* row = field_triangle_table[index];
    for (int i = 0; i < 15 && row[i] >= 0; i += 3) {
        out[count++] = *vertex[row[i]];
        out[count++] = *vertex[row[i + 2]];
        out[count++] = *vertex[row[i + 1]];
    }
    return count;
}

int32_t lattice_polygonise_cell(const FieldLattice* lattice, const LatticeCell* cell, float iso,
                                const Matrix* screen, const Matrix* normal_matrix,
                                MeshVertex* out) {
    int index = cell_index(cell, iso);
    uint32_t mask = field_edge_table[index];
    if (mask == 0) return 0;
    MeshVertex edge_vertex[12];
    const MeshVertex* vertex[12] = {};
    for (int e = 0; e < 12; e++) {
        if (!(mask & (1u << e))) continue;
        Vec3 normal;
        edge_vertex_make(cell->corners[field_edge_corners[e][0]], cell->corners[field_edge_corners[e][1]], iso,
                         screen, normal_matrix, &edge_vertex[e], &normal);
        edge_vertex[e].colour = edge_grey(&normal, &lattice->light);
        vertex[e] = &edge_vertex[e];
    }
    return cell_emit(index, vertex, out);
}

static void edge_job_make(const FieldLattice* lattice, const LatticeEdgeJob* job, float iso, const Matrix* screen,
                          const Matrix* normal_matrix) {
    Vec3 normal;
    LatticeEdgeVertex* entry = job->out;
    edge_vertex_make(&lattice->points[job->a], &lattice->points[job->b], iso, screen, normal_matrix, &entry->vertex,
                     &normal);
    // Every cell meeting the edge lights it alike: the grey is kept with it.
    entry->vertex.colour = edge_grey(&normal, &lattice->light);
    entry->corner = setup_corner_make(&entry->vertex);
}

#if FIELD_LANES
#define FIELD_INLINE __attribute__((always_inline)) inline

// Each lane's two points; lanes past `count` take the last job's.
static inline void edge_jobs_points(const FieldLattice* lattice, const LatticeEdgeJob* job, int count, int lanes,
                                    const LatticePoint** a, const LatticePoint** b) {
    for (int k = 0; k < lanes; k++) {
        const LatticeEdgeJob* j = &job[k < count ? k : count - 1];
        a[k] = &lattice->points[j->a];
        b[k] = &lattice->points[j->b];
    }
}

// The lane operations the edge vertices need, four lanes with SSE2. select(m, a, b) takes a where
// the mask is set; every mask comes from a comparison (all ones or all zeros per lane).
struct EdgeLanes4 {
    typedef __m128 V;
    enum { N = 4 };
    static V set1(float x) { return _mm_set1_ps(x); }
    static V zero() { return _mm_setzero_ps(); }
    static V add(V a, V b) { return _mm_add_ps(a, b); }
    static V sub(V a, V b) { return _mm_sub_ps(a, b); }
    static V mul(V a, V b) { return _mm_mul_ps(a, b); }
    static V div(V a, V b) { return _mm_div_ps(a, b); }
    static V sqrt(V a) { return _mm_sqrt_ps(a); }
    static V and_(V a, V b) { return _mm_and_ps(a, b); }
    static V andnot(V a, V b) { return _mm_andnot_ps(a, b); }
    static V select(V m, V a, V b) { return _mm_or_ps(_mm_and_ps(m, a), _mm_andnot_ps(m, b)); }
    static V eq(V a, V b) { return _mm_cmpeq_ps(a, b); }
    static V lt(V a, V b) { return _mm_cmplt_ps(a, b); }
    static V gt(V a, V b) { return _mm_cmpgt_ps(a, b); }
    static V le(V a, V b) { return _mm_cmple_ps(a, b); }
    static V ordered(V a) { return _mm_cmpord_ps(a, a); }
    static int bits(V a) { return _mm_movemask_ps(a); }
    // Truncated toward zero, as the integers' bits.
    static V truncate(V a) { return _mm_castsi128_ps(_mm_cvttps_epi32(a)); }
    // The low byte of each lane copied into all four of its bytes.
    static V spread_byte(V a) {
        const __m128i level = _mm_castps_si128(a);
        return _mm_castsi128_ps(_mm_or_si128(_mm_or_si128(level, _mm_slli_epi32(level, 8)),
                                             _mm_or_si128(_mm_slli_epi32(level, 16), _mm_slli_epi32(level, 24))));
    }
    // The four floats at `offset` in each point, as four rows of lanes.
    static void points(const LatticePoint* const p[N], size_t offset, V out[4]) {
        V r0 = _mm_loadu_ps((const float*)((const char*)p[0] + offset));
        V r1 = _mm_loadu_ps((const float*)((const char*)p[1] + offset));
        V r2 = _mm_loadu_ps((const float*)((const char*)p[2] + offset));
        V r3 = _mm_loadu_ps((const float*)((const char*)p[3] + offset));
        _MM_TRANSPOSE4_PS(r0, r1, r2, r3);
        out[0] = r0, out[1] = r1, out[2] = r2, out[3] = r3;
    }
    // Rows a0..a3 turned so that out[k] holds lane k's four values.
    static void turn(V a0, V a1, V a2, V a3, V out[4]) {
        _MM_TRANSPOSE4_PS(a0, a1, a2, a3);
        out[0] = a0, out[1] = a1, out[2] = a2, out[3] = a3;
    }
    // Lane (4 H + k)'s group from a turned register k.
    template <int H>
    static __m128 group(V v) {
        return v;
    }
};

#if FIELD_LANES8
// The same operations with eight lanes, lanes k and k + 4 in the two halves of a register. Wrapped,
// so that a 256-bit vector never passes bare through the shared steps, which are compiled without
// AVX until they are inlined into the AVX2 caller.
struct EdgeLanes8 {
    struct V {
        __m256 v;
    };
    enum { N = 8 };
    FIELD_AVX2 static V set1(float x) { return V{_mm256_set1_ps(x)}; }
    FIELD_AVX2 static V zero() { return V{_mm256_setzero_ps()}; }
    FIELD_AVX2 static V add(V a, V b) { return V{_mm256_add_ps(a.v, b.v)}; }
    FIELD_AVX2 static V sub(V a, V b) { return V{_mm256_sub_ps(a.v, b.v)}; }
    FIELD_AVX2 static V mul(V a, V b) { return V{_mm256_mul_ps(a.v, b.v)}; }
    FIELD_AVX2 static V div(V a, V b) { return V{_mm256_div_ps(a.v, b.v)}; }
    FIELD_AVX2 static V sqrt(V a) { return V{_mm256_sqrt_ps(a.v)}; }
    FIELD_AVX2 static V and_(V a, V b) { return V{_mm256_and_ps(a.v, b.v)}; }
    FIELD_AVX2 static V andnot(V a, V b) { return V{_mm256_andnot_ps(a.v, b.v)}; }
    FIELD_AVX2 static V select(V m, V a, V b) { return V{_mm256_blendv_ps(b.v, a.v, m.v)}; }
    FIELD_AVX2 static V eq(V a, V b) { return V{_mm256_cmp_ps(a.v, b.v, _CMP_EQ_OQ)}; }
    FIELD_AVX2 static V lt(V a, V b) { return V{_mm256_cmp_ps(a.v, b.v, _CMP_LT_OQ)}; }
    FIELD_AVX2 static V gt(V a, V b) { return V{_mm256_cmp_ps(a.v, b.v, _CMP_GT_OQ)}; }
    FIELD_AVX2 static V le(V a, V b) { return V{_mm256_cmp_ps(a.v, b.v, _CMP_LE_OQ)}; }
    FIELD_AVX2 static V ordered(V a) { return V{_mm256_cmp_ps(a.v, a.v, _CMP_ORD_Q)}; }
    FIELD_AVX2 static int bits(V a) { return _mm256_movemask_ps(a.v); }
    FIELD_AVX2 static V truncate(V a) { return V{_mm256_castsi256_ps(_mm256_cvttps_epi32(a.v))}; }
    FIELD_AVX2 static V spread_byte(V a) {
        const __m256i level = _mm256_castps_si256(a.v);
        return V{_mm256_castsi256_ps(
            _mm256_or_si256(_mm256_or_si256(level, _mm256_slli_epi32(level, 8)),
                            _mm256_or_si256(_mm256_slli_epi32(level, 16), _mm256_slli_epi32(level, 24))))};
    }
    // Points k and k + 4 loaded as the two halves of a row, then turned within the halves.
    FIELD_AVX2 static void points(const LatticePoint* const p[N], size_t offset, V out[4]) {
        V r[4];
        for (int k = 0; k < 4; k++)
            r[k] = V{_mm256_insertf128_ps(_mm256_castps128_ps256(_mm_loadu_ps((const float*)((const char*)p[k] + offset))),
                                          _mm_loadu_ps((const float*)((const char*)p[k + 4] + offset)), 1)};
        turn(r[0], r[1], r[2], r[3], out);
    }
    FIELD_AVX2 static void turn(V a0, V a1, V a2, V a3, V out[4]) {
        __m256 t[4];
        lanes_turn8(a0.v, a1.v, a2.v, a3.v, t);
        for (int k = 0; k < 4; k++) out[k] = V{t[k]};
    }
    template <int H>
    FIELD_AVX2 static __m128 group(V v) {
        return H == 0 ? _mm256_castps256_ps128(v.v) : _mm256_extractf128_ps(v.v, 1);
    }
};
#endif

// The jobs' vertices L::N at a time, each lane taking edge_job_make's steps in its order; jobs past
// `count` (1 to L::N) repeat the last one and are not written. Inlined into each width's caller.
template <class L>
FIELD_INLINE void edge_jobs_lanes(const FieldLattice* lattice, const LatticeEdgeJob* job, int count, float iso,
                                  const Matrix* screen, const Matrix* normal_matrix) {
    typedef typename L::V V;
    const LatticePoint *a[L::N], *b[L::N];
    edge_jobs_points(lattice, job, count, L::N, a, b);
    // A point's position and normal, then its normal and value, as rows of lanes.
    V ap[4], an[4], bp[4], bn[4];
    L::points(a, offsetof(LatticePoint, position), ap);
    L::points(a, offsetof(LatticePoint, normal), an);
    L::points(b, offsetof(LatticePoint, position), bp);
    L::points(b, offsetof(LatticePoint, normal), bn);
    const V apx = ap[0], apy = ap[1], apz = ap[2], anx = ap[3], any = an[1], anz = an[2], av = an[3];
    const V bpx = bp[0], bpy = bp[1], bpz = bp[2], bnx = bp[3], bny = bn[1], bnz = bn[2], bv = bn[3];

    // By reference and inlined: a 256-bit vector is never an argument of a function compiled without AVX.
    auto lerp = [](const V& x, const V& y, const V& t) __attribute__((always_inline)) {
        return L::add(x, L::mul(L::sub(y, x), t));
    };
    // ((x m[i] + y m[i+4]) + z m[i+8]), the matrix operations' order.
    auto row3 = [](const V& x, const V& y, const V& z, const float* m) __attribute__((always_inline)) {
        return L::add(L::add(L::mul(x, L::set1(m[0])), L::mul(y, L::set1(m[4]))), L::mul(z, L::set1(m[8])));
    };
    const V t = L::div(L::sub(L::set1(iso), av), L::sub(bv, av));
    const V px = lerp(apx, bpx, t), py = lerp(apy, bpy, t), pz = lerp(apz, bpz, t);
    const V nx = lerp(anx, bnx, t), ny = lerp(any, bny, t), nz = lerp(anz, bnz, t);
    const float* e = screen->m;
    const V w = L::add(row3(px, py, pz, e + 3), L::set1(e[15]));
    const V x = L::add(row3(px, py, pz, e + 0), L::set1(e[12]));
    const V y = L::add(row3(px, py, pz, e + 1), L::set1(e[13]));
    const V z = L::add(row3(px, py, pz, e + 2), L::set1(e[14]));
    const V one = L::set1(1.0f), zero = L::zero();
    const V factor = L::select(L::eq(w, zero), one, L::div(one, w));
    const V sx = L::mul(x, factor), sy = L::mul(y, factor), sz = L::mul(z, factor);
    // The normal turned and made unit as vec3_normalize does (the zero vector stays zero).
    const float* r = normal_matrix->m;
    const V rx = row3(nx, ny, nz, r + 0), ry = row3(nx, ny, nz, r + 1), rz = row3(nx, ny, nz, r + 2);
    const V len_sq = L::add(L::add(L::mul(rx, rx), L::mul(ry, ry)), L::mul(rz, rz));
    const V unit = L::andnot(L::eq(len_sq, zero), L::div(one, L::sqrt(len_sq)));
    const V ux = L::mul(rx, unit), uy = L::mul(ry, unit), uz = L::mul(rz, unit);
    const V half = L::set1(0.5f);
    const V u = L::mul(L::add(ux, one), half), v = L::mul(L::sub(one, uy), half);
    const Vec3 l = lattice->light;
    V d = L::add(L::add(L::mul(ux, L::set1(l.x)), L::mul(uy, L::set1(l.y))), L::mul(uz, L::set1(l.z)));
    const V floor_grey = L::set1(0.25f);
    d = L::select(L::lt(d, floor_grey), floor_grey, d);
    d = L::select(L::gt(d, one), one, d);
    // A lane whose grey is not a number converts to 0, as the scalar conversion does here.
    const V grey = L::spread_byte(L::and_(L::truncate(L::mul(L::set1(255.0f), d)), L::ordered(d)));
    // Set-up's corner: x 32 is exact in float within the judged reach, so truncating it gives what
    // the double product gives. Unjudged corners are all zero.
    const V reach = L::set1(kSetupJudgedReach), sign_bit = L::set1(-0.0f);
    const V judged = L::and_(L::le(L::andnot(sign_bit, sx), reach), L::le(L::andnot(sign_bit, sy), reach));
    const V thirty_two = L::set1(32.0f);
    const V cx = L::and_(judged, L::truncate(L::mul(sx, thirty_two)));
    const V cy = L::and_(judged, L::truncate(L::mul(sy, thirty_two)));
    const int judged_bits = L::bits(judged);

    // Each job's vertex (three groups of four floats) and corner, turned into groups.
    V q0[4], q1[4], q2[4], c[4];
    L::turn(px, py, pz, sx, q0);
    L::turn(sy, sz, w, u, q1);
    L::turn(v, u, v, grey, q2);
    L::turn(cx, cy, L::and_(judged, sx), L::and_(judged, sy), c);
    static_assert(offsetof(SetupCorner, sy) == 3 * sizeof(float) && offsetof(SetupCorner, judged) == 16,
                  "a corner is x, y, sx, sy, judged");
    auto put = [&](int k, __m128 g0, __m128 g1, __m128 g2, __m128 g3) {
        LatticeEdgeVertex* out = job[k].out;
        float* at = &out->vertex.px;
        _mm_storeu_ps(at, g0);
        _mm_storeu_ps(at + 4, g1);
        _mm_storeu_ps(at + 8, g2);
        _mm_storeu_ps((float*)&out->corner, g3);
        out->corner.judged = judged_bits >> k & 1;
    };
    for (int k = 0; k < 4 && k < count; k++)
        put(k, L::template group<0>(q0[k]), L::template group<0>(q1[k]), L::template group<0>(q2[k]),
            L::template group<0>(c[k]));
    if constexpr (L::N == 8)
        for (int k = 4; k < count; k++)
            put(k, L::template group<1>(q0[k - 4]), L::template group<1>(q1[k - 4]), L::template group<1>(q2[k - 4]),
                L::template group<1>(c[k - 4]));
}

static void edge_jobs_make_lanes(const FieldLattice* lattice, const LatticeEdgeJob* job, int count, float iso,
                                 const Matrix* screen, const Matrix* normal_matrix) {
    edge_jobs_lanes<EdgeLanes4>(lattice, job, count, iso, screen, normal_matrix);
}

#if FIELD_LANES8
FIELD_AVX2 static void edge_jobs_make_lanes8(const FieldLattice* lattice, const LatticeEdgeJob* job, int count,
                                             float iso, const Matrix* screen, const Matrix* normal_matrix) {
    edge_jobs_lanes<EdgeLanes8>(lattice, job, count, iso, screen, normal_matrix);
}
#endif
#endif

void lattice_edges_make(const FieldLattice* lattice, const LatticeEdgeJob* jobs, int32_t count, float iso,
                        const Matrix* screen, const Matrix* normal_matrix) {
    int32_t i = 0;
#if FIELD_LANES8
    if (simd_level() >= SIMD_AVX2)
        for (; i < count; i += 8)
            edge_jobs_make_lanes8(lattice, jobs + i, count - i < 8 ? count - i : 8, iso, screen, normal_matrix);
#endif
#if FIELD_LANES
    if (simd_level() >= SIMD_SSE2)
        for (; i < count; i += 4)
            edge_jobs_make_lanes(lattice, jobs + i, count - i < 4 ? count - i : 4, iso, screen, normal_matrix);
#endif
    for (; i < count; i++) edge_job_make(lattice, &jobs[i], iso, screen, normal_matrix);
}

// Where each cell edge lives in the cache: edges along y and z by the plane x they lie in (slot
// x & 1, kinds z up, y up, z down, y down: the two directions interpolate differently), edges along x
// in one slab; (dy, dz) from the cell's lowest corner. Cells of one slab meet the x edges in the same
// direction, and cell x's edges 0 to 3 are cell x-1's edges 4 to 7.
struct EdgeSlot {
    int kind, dx, dy, dz;
};
static const EdgeSlot edge_slots[12] = {
    {0, 0, 0, 0}, {1, 0, 0, 1}, {2, 0, 1, 0}, {3, 0, 0, 0}, {0, 1, 0, 0}, {1, 1, 0, 1},
    {2, 1, 1, 0}, {3, 1, 0, 0}, {8, 0, 0, 0}, {8, 0, 0, 1}, {8, 0, 1, 1}, {8, 0, 1, 0},
};

// Triangles handed to the rasterizer in one call; cut cells and new edges gathered before their
// vertices are made together and their triangles listed.
enum { POLYGONISE_BATCH = 64, POLYGONISE_CELLS = 64, POLYGONISE_EDGES = 12 * POLYGONISE_CELLS };

// A cut cell waiting for its edges' vertices: its cube index and its place (iy * side + iz) in the
// slab, from which the slab's slot steps give its edges' cache slots.
struct CutCell {
    int32_t index, at;
};

// The edges a cell meets before any other cell of the walk (x slabs, then y rows, then z) that uses
// the same cache slot. A cut edge cuts every cell around it, so an edge outside this set has always
// been made by an earlier cell in the same call: edges 0 to 3 by the previous slab's cell (its 4 to
// 7), edge 8 by the cell before it in z or y, edge 9 by the one before it in y, edge 11 in z.
static inline uint32_t cell_first_edges(int32_t ix, int32_t iy, int32_t iz) {
    return 0x4F0u | (ix == 0 ? 0x00Fu : 0u) | (iy == 0 ? 0x200u : 0u) | (iz == 0 ? 0x800u : 0u) |
           (iy == 0 && iz == 0 ? 0x100u : 0u);
}

void lattice_polygonise(FieldLattice* lattice, float iso, const Camera* camera,
                        const Texture* texture, RenderMode mode) {
    Matrix screen, normal_matrix;
    camera_object_matrices(camera, &lattice->object_matrix, &screen, &normal_matrix);
    vec3_normalize(&lattice->light, &lattice->light);
    const int32_t n = lattice->resolution, side = n + 1, plane = side * side;
    // The corner tests read from one byte per point instead of through the cells' corner links.
    uint8_t* below = lattice->below;
    const LatticePoint* points = lattice->points;
    const int32_t point_count = lattice->point_count;
    int32_t tested = 0;
#if FIELD_LANES
    if (simd_level() >= SIMD_SSE2) {
        // Sixteen at a time: each comparison is the scalar one (not a number is not below), packed to bytes.
        const __m128 level = _mm_set1_ps(iso);
        for (; tested + 16 <= point_count; tested += 16) {
            const LatticePoint* p = points + tested;
            auto four = [&](int k) {
                return _mm_castps_si128(
                    _mm_cmplt_ps(_mm_setr_ps(p[k].value, p[k + 1].value, p[k + 2].value, p[k + 3].value), level));
            };
            const __m128i all = _mm_packs_epi16(_mm_packs_epi32(four(0), four(4)), _mm_packs_epi32(four(8), four(12)));
            _mm_storeu_si128((__m128i*)(below + tested), _mm_and_si128(all, _mm_set1_epi8(1)));
        }
    }
#endif
    for (; tested < point_count; tested++) below[tested] = iso > points[tested].value;
    // A cell's corners as steps from its lowest point, so the corner links of the cells (a
    // megabyte at full size) are never read.
    int32_t corner_step[8];
    for (int k = 0; k < 8; k++)
        corner_step[k] = (field_corner_offsets[k][0] * side + field_corner_offsets[k][1]) * side + field_corner_offsets[k][2];
    LatticeEdgeVertex* cache = lattice->edge_cache;
    // A slab's edge e of the cell at (iy, iz): its slot is slot_step[e] + iy * side + iz, the first
    // of its points edge_from[e] + the cell's lowest point.
    int32_t slot_step[12], edge_from[12], edge_to[12];
    for (int e = 0; e < 12; e++) {
        edge_from[e] = corner_step[field_edge_corners[e][0]];
        edge_to[e] = corner_step[field_edge_corners[e][1]];
    }
    // A slab's triangles go to the rasterizer together, by reference into the edge cache, which
    // keeps them until the next slab reuses its planes. Those that set-up would refuse (back faces,
    // empty slivers, boxes without a pixel) are left out here, before they cost a hand-off.
    RasterTriangle batch[POLYGONISE_BATCH];
    int32_t batched = 0;
    auto flush = [&]() {
        if (batched) triangles_draw(batch, batched, texture, mode);
        batched = 0;
    };
    // Cut cells are gathered with the edges no cell has made yet; then the edges' vertices are made
    // together and the cells' triangles listed in cell order. A slab never reuses a slot it wrote.
    CutCell cut_cells[POLYGONISE_CELLS];
    LatticeEdgeJob jobs[POLYGONISE_EDGES];
    int32_t cut_count = 0, job_count = 0;
    auto drain = [&]() {
        lattice_edges_make(lattice, jobs, job_count, iso, &screen, &normal_matrix);
        for (int32_t c = 0; c < cut_count; c++) {
            const CutCell* cell = &cut_cells[c];
            // The cube's triangles in reversed winding, as cell_emit lists them.
            const int8_t* tri = field_triangle_table[cell->index];
            for (int i = 0; i < 15 && tri[i] >= 0; i += 3) {
                const LatticeEdgeVertex* a = &cache[slot_step[tri[i]] + cell->at];
                const LatticeEdgeVertex* b = &cache[slot_step[tri[i + 2]] + cell->at];
                const LatticeEdgeVertex* c3 = &cache[slot_step[tri[i + 1]] + cell->at];
                if (setup_corners_refused(&a->corner, &b->corner, &c3->corner, 0)) continue;
                if (batched == POLYGONISE_BATCH) flush();
                RasterTriangle* t = &batch[batched++];
                t->vert0 = &a->vertex;
                t->vert1 = &b->vertex;
                t->vert2 = &c3->vertex;
                t->colour = 0xFFFFFF;
                t->flags = 0;
            }
        }
        cut_count = job_count = 0;
    };
    // One cut cell, and a job for each of its edges that no cell has made in this call.
    // Each cut edge is computed once per direction and call, by the first cell that meets it.
    auto cell = [&](int32_t ix, int32_t iy, int32_t iz, int32_t row, int index) {
        const uint32_t cut = field_edge_table[index];
        if (cut == 0) return;
        const int32_t at = iy * side + iz, first = row + iz;
        cut_cells[cut_count++] = CutCell{index, at};
        for (uint32_t mask = cut & cell_first_edges(ix, iy, iz); mask; mask &= mask - 1) {
            const int e = __builtin_ctz(mask);
            jobs[job_count++] = LatticeEdgeJob{first + edge_from[e], first + edge_to[e], &cache[slot_step[e] + at]};
        }
        if (cut_count == POLYGONISE_CELLS) drain();
    };
#if FIELD_LANES
    const int lanes = simd_level() >= SIMD_SSE2;
#endif
    for (int32_t ix = 0; ix < n; ix++) {
        for (int e = 0; e < 12; e++) {
            const EdgeSlot* k = &edge_slots[e];
            const int32_t x = ix + k->dx;
            const int32_t layer = k->kind == 8 ? 8 : ((x & 1) * 4 + k->kind);
            slot_step[e] = layer * plane + k->dy * side + k->dz;
        }
        for (int32_t iy = 0; iy < n; iy++) {
            // The four point rows along z that a row of cells spans: corners 0 and 1 lie on (x, y),
            // 3 and 2 on (x, y+1), 4 and 5 on (x+1, y), 7 and 6 on (x+1, y+1), the first of each pair
            // at the cell's z. A cell's far face is the next cell's near face, so each point is read once.
            const int32_t row = (ix * side + iy) * side;
            const uint8_t* r00 = below + row;
            const uint8_t* r01 = r00 + side;
            const uint8_t* r10 = r00 + plane;
            const uint8_t* r11 = r10 + side;
#if FIELD_LANES
            if (lanes) {
                // Sixteen cells at a time: a cell whose eight corners all agree is passed over without
                // its cube index, and the cut ones follow in the same order.
                for (int32_t z0 = 0; z0 < n; z0 += 16) {
                    const __m128i c[8] = {
                        _mm_loadu_si128((const __m128i*)(r00 + z0)), _mm_loadu_si128((const __m128i*)(r00 + z0 + 1)),
                        _mm_loadu_si128((const __m128i*)(r01 + z0)), _mm_loadu_si128((const __m128i*)(r01 + z0 + 1)),
                        _mm_loadu_si128((const __m128i*)(r10 + z0)), _mm_loadu_si128((const __m128i*)(r10 + z0 + 1)),
                        _mm_loadu_si128((const __m128i*)(r11 + z0)), _mm_loadu_si128((const __m128i*)(r11 + z0 + 1))};
                    __m128i any = c[0], all = c[0];
                    for (int k = 1; k < 8; k++) {
                        any = _mm_or_si128(any, c[k]);
                        all = _mm_and_si128(all, c[k]);
                    }
                    const int count = n - z0 < 16 ? n - z0 : 16;
                    unsigned cut = ~(unsigned)_mm_movemask_epi8(_mm_cmpeq_epi8(any, all)) & ((1u << count) - 1u);
                    while (cut) {
                        const int32_t iz = z0 + __builtin_ctz(cut);
                        cut &= cut - 1;
                        const int index = r00[iz] | r00[iz + 1] << 1 | r01[iz + 1] << 2 | r01[iz] << 3 | r10[iz] << 4 |
                                          r10[iz + 1] << 5 | r11[iz + 1] << 6 | r11[iz] << 7;
                        cell(ix, iy, iz, row, index);
                    }
                }
                continue;
            }
#endif
            int near_bits = r00[0] | r01[0] << 3 | r10[0] << 4 | r11[0] << 7;
            for (int32_t iz = 0; iz < n; iz++) {
                const int far_bits = r00[iz + 1] << 1 | r01[iz + 1] << 2 | r10[iz + 1] << 5 | r11[iz + 1] << 6;
                const int index = near_bits | far_bits;
                near_bits = (far_bits & 0x22) >> 1 | (far_bits & 0x44) << 1;
                cell(ix, iy, iz, row, index);
            }
        }
        drain();
        flush();
    }
}
