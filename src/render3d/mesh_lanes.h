// Four-lane forms of the per-vertex transforms, for the pipeline's own loops. Each lane does the
// scalar operations in the scalar order ((x * a + y * b) + z * c) + d, so the results are the same
// bits; the scalar forms stay the path for QUILLET_SIMD=scalar and for builds without SSE2.
#pragma once
#include <cfloat>
#include <cmath>

#include "gfx/simd.h"
#include "render3d/mesh.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#define MESH_LANES 1
#else
#define MESH_LANES 0
#endif

// 1 when the four-lane forms are to be used in this call.
inline int mesh_lanes_on(void) { return MESH_LANES && simd_level() >= SIMD_SSE2; }

#if MESH_LANES
// The rows of a matrix, one per source axis.
struct MatrixLanes {
    __m128 row[4];
};

inline MatrixLanes matrix_lanes(const Matrix* m) {
    return MatrixLanes{{_mm_loadu_ps(m->m), _mm_loadu_ps(m->m + 4), _mm_loadu_ps(m->m + 8), _mm_loadu_ps(m->m + 12)}};
}

// (x, y, z, 1) * m: all four columns.
inline __m128 lanes_point(const MatrixLanes* m, float x, float y, float z) {
    __m128 s = _mm_add_ps(_mm_mul_ps(_mm_set1_ps(x), m->row[0]), _mm_mul_ps(_mm_set1_ps(y), m->row[1]));
    return _mm_add_ps(_mm_add_ps(s, _mm_mul_ps(_mm_set1_ps(z), m->row[2])), m->row[3]);
}

// (x, y, z) * the upper 3x3 of m; lane 3 holds nothing of use.
inline __m128 lanes_rotate(const MatrixLanes* m, const Vec3* v) {
    __m128 s = _mm_add_ps(_mm_mul_ps(_mm_set1_ps(v->x), m->row[0]), _mm_mul_ps(_mm_set1_ps(v->y), m->row[1]));
    return _mm_add_ps(s, _mm_mul_ps(_mm_set1_ps(v->z), m->row[2]));
}

// vertex_project in lanes: sx, sy, sz, rhw written together.
inline void lanes_vertex_project(const MatrixLanes* m, float x, float y, float z, MeshVertex* v) {
    __m128 p = lanes_point(m, x, y, z);
    float w = _mm_cvtss_f32(_mm_shuffle_ps(p, p, _MM_SHUFFLE(3, 3, 3, 3)));
    float t = w == 0.0f ? 1.0f : 1.0f / w;
    _mm_storeu_ps(&v->sx, _mm_mul_ps(p, _mm_set1_ps(t)));
    v->rhw = t;
}

// Three coordinates of four vectors, one vector per lane. Each helper makes the scalar vector
// operation's sums in its order, so every lane holds the scalar result's bits.
struct Lanes3 {
    __m128 x, y, z;
};

inline Lanes3 lanes3_load(const Vec3* a, const Vec3* b, const Vec3* c, const Vec3* d) {
    return Lanes3{_mm_setr_ps(a->x, b->x, c->x, d->x), _mm_setr_ps(a->y, b->y, c->y, d->y),
                  _mm_setr_ps(a->z, b->z, c->z, d->z)};
}

inline void lanes3_store(const Lanes3& v, Vec3* a, Vec3* b, Vec3* c, Vec3* d) {
    alignas(16) float x[4], y[4], z[4];
    _mm_store_ps(x, v.x);
    _mm_store_ps(y, v.y);
    _mm_store_ps(z, v.z);
    *a = Vec3{x[0], y[0], z[0]};
    *b = Vec3{x[1], y[1], z[1]};
    *c = Vec3{x[2], y[2], z[2]};
    *d = Vec3{x[3], y[3], z[3]};
}

inline Lanes3 lanes3_sub(const Lanes3& a, const Lanes3& b) {
    return Lanes3{_mm_sub_ps(a.x, b.x), _mm_sub_ps(a.y, b.y), _mm_sub_ps(a.z, b.z)};
}

inline Lanes3 lanes3_add(const Lanes3& a, const Lanes3& b) {
    return Lanes3{_mm_add_ps(a.x, b.x), _mm_add_ps(a.y, b.y), _mm_add_ps(a.z, b.z)};
}

inline Lanes3 lanes3_scale(const Lanes3& a, __m128 k) {
    return Lanes3{_mm_mul_ps(a.x, k), _mm_mul_ps(a.y, k), _mm_mul_ps(a.z, k)};
}

inline __m128 lanes3_dot(const Lanes3& a, const Lanes3& b) {
    return _mm_add_ps(_mm_add_ps(_mm_mul_ps(a.x, b.x), _mm_mul_ps(a.y, b.y)), _mm_mul_ps(a.z, b.z));
}

inline Lanes3 lanes3_cross(const Lanes3& a, const Lanes3& b) {
    return Lanes3{_mm_sub_ps(_mm_mul_ps(a.y, b.z), _mm_mul_ps(a.z, b.y)),
                  _mm_sub_ps(_mm_mul_ps(a.z, b.x), _mm_mul_ps(a.x, b.z)),
                  _mm_sub_ps(_mm_mul_ps(a.x, b.y), _mm_mul_ps(a.y, b.x))};
}

// vec3_normalize: the zero vector stays zero.
inline Lanes3 lanes3_normalized(const Lanes3& v) {
    const __m128 s = lanes3_dot(v, v);
    const __m128 k = _mm_andnot_ps(_mm_cmpeq_ps(s, _mm_setzero_ps()), _mm_div_ps(_mm_set1_ps(1.0f), _mm_sqrt_ps(s)));
    return lanes3_scale(v, k);
}

// All-ones in the lanes whose three coordinates are finite.
inline __m128 lanes3_finite(const Lanes3& v) {
    const __m128 sign = _mm_set1_ps(-0.0f), most = _mm_set1_ps(FLT_MAX);
    return _mm_and_ps(_mm_and_ps(_mm_cmple_ps(_mm_andnot_ps(sign, v.x), most), _mm_cmple_ps(_mm_andnot_ps(sign, v.y), most)),
                      _mm_cmple_ps(_mm_andnot_ps(sign, v.z), most));
}

// vec3_normalize of the first three lanes into out.
inline void lanes_normalize_store(__m128 v, Vec3* out) {
    float l[4];
    _mm_storeu_ps(l, v);
    float s = l[0] * l[0] + l[1] * l[1] + l[2] * l[2];
    float k = s == 0.0f ? 0.0f : 1.0f / std::sqrt(s);
    _mm_storeu_ps(l, _mm_mul_ps(v, _mm_set1_ps(k)));
    *out = Vec3{l[0], l[1], l[2]};
}
#endif
