// Four-lane forms of the per-vertex transforms, for the pipeline's own loops. Each lane does the
// scalar operations in the scalar order ((x * a + y * b) + z * c) + d, so the results are the same
// bits; the scalar forms stay the path for QUILLET_SIMD=scalar and for builds without SSE2.
#pragma once
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
