// Vector and matrix operations over plain float records; all arithmetic in single precision.
#include "render3d/vecmath.h"

#include <cmath>
#include <cstring>

#include "gfx/simd.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#define VECMATH_LANES 1
#else
#define VECMATH_LANES 0
#endif

float vec3_dot(const Vec3* a, const Vec3* b) { return a->x * b->x + a->y * b->y + a->z * b->z; }

float vec3_length(const Vec3* a) { return std::sqrt(vec3_dot(a, a)); }

void vec3_cross(const Vec3* a, const Vec3* b, Vec3* out) {
    out->x = a->y * b->z - a->z * b->y;
    out->y = a->z * b->x - a->x * b->z;
    out->z = a->x * b->y - a->y * b->x;
}

void vec3_add(const Vec3* a, const Vec3* b, Vec3* out) {
    *out = Vec3{a->x + b->x, a->y + b->y, a->z + b->z};
}

void vec3_sub(const Vec3* a, const Vec3* b, Vec3* out) {
    *out = Vec3{a->x - b->x, a->y - b->y, a->z - b->z};
}

void vec3_scale(const Vec3* a, float s, Vec3* out) { *out = Vec3{a->x * s, a->y * s, a->z * s}; }

void vec3_scale_add(const Vec3* a, float s, const Vec3* b, Vec3* out) {
    *out = Vec3{a->x * s + b->x, a->y * s + b->y, a->z * s + b->z};
}

void vec3_lerp(const Vec3* a, const Vec3* b, float t, Vec3* out) {
    *out = Vec3{a->x + (b->x - a->x) * t, a->y + (b->y - a->y) * t, a->z + (b->z - a->z) * t};
}

void vec3_reflect(const Vec3* v, const Vec3* n, Vec3* out) {
    float k = 2.0f * vec3_dot(v, n);
    *out = Vec3{v->x - k * n->x, v->y - k * n->y, v->z - k * n->z};
}

void vec3_normalize(const Vec3* v, Vec3* out) {
    float s = vec3_dot(v, v);
    // The zero vector stays zero rather than becoming NaN.
    float k = s == 0.0f ? 0.0f : 1.0f / std::sqrt(s);
    *out = Vec3{v->x * k, v->y * k, v->z * k};
}

void mat_identity(Matrix* out) {
    // A copy of a constant rather than a clear and four stores: GCC's link-time inlining took the
    // clear for a write past an object it could not size.
    static const Matrix identity = {{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1}};
    *out = identity;
}

void mat_translate(Matrix* out, float tx, float ty, float tz) {
    mat_identity(out);
    out->m[12] = tx;
    out->m[13] = ty;
    out->m[14] = tz;
}

void mat_scale(Matrix* out, float sx, float sy, float sz) {
    std::memset(out, 0, sizeof *out);
    out->m[0] = sx;
    out->m[5] = sy;
    out->m[10] = sz;
    out->m[15] = 1.0f;
}

void mat_rotate_x(Matrix* out, float angle) {
    float c = std::cos(angle), s = std::sin(angle);
    std::memset(out, 0, sizeof *out);
    out->m[0] = 1.0f;
    out->m[5] = c;
    out->m[6] = s;
    out->m[9] = -s;
    out->m[10] = c;
    out->m[15] = 1.0f;
}

void mat_rotate_y(Matrix* out, float angle) {
    float c = std::cos(angle), s = std::sin(angle);
    std::memset(out, 0, sizeof *out);
    out->m[0] = c;
    out->m[2] = -s;
    out->m[5] = 1.0f;
    out->m[8] = s;
    out->m[10] = c;
    out->m[15] = 1.0f;
}

void mat_rotate_z(Matrix* out, float angle) {
    float c = std::cos(angle), s = std::sin(angle);
    std::memset(out, 0, sizeof *out);
    out->m[0] = c;
    out->m[1] = s;
    out->m[4] = -s;
    out->m[5] = c;
    out->m[10] = 1.0f;
    out->m[15] = 1.0f;
}

void mat_rotate_euler(Matrix* out, float ay, float ax, float az) {
    Matrix ry, rx, rz, yx;
    mat_rotate_y(&ry, ay);
    mat_rotate_x(&rx, ax);
    mat_rotate_z(&rz, az);
    mat_multiply(&ry, &rx, &yx);
    mat_multiply(&yx, &rz, out);
}

void mat_look_at(Matrix* out, const Vec3* eye, const Vec3* target) {
    const Vec3 up = {0.0f, 1.0f, 0.0f};
    Vec3 f, r, u;
    vec3_sub(target, eye, &f);
    vec3_normalize(&f, &f);
    vec3_cross(&f, &up, &r);
    vec3_normalize(&r, &r);
    vec3_cross(&r, &f, &u);
    float* m = out->m;
    m[0] = r.x;
    m[4] = r.y;
    m[8] = r.z;
    m[1] = u.x;
    m[5] = u.y;
    m[9] = u.z;
    m[2] = f.x;
    m[6] = f.y;
    m[10] = f.z;
    m[12] = vec3_dot(&r, eye);
    m[13] = vec3_dot(&u, eye);
    m[14] = vec3_dot(&f, eye);
    m[3] = m[7] = m[11] = 0.0f;
    m[15] = 1.0f;
}

void mat_perspective(Matrix* out, float aspect, float fov_x_deg, float fov_y_deg, float near_z,
                     float far_z) {
    const float k = 0.01745329238474369f;
    std::memset(out, 0, sizeof *out);
    out->m[0] = 1.0f / (std::tan(fov_x_deg * k / 2.0f) * aspect);
    out->m[5] = 1.0f / std::tan(fov_y_deg * k / 2.0f);
    out->m[10] = (near_z + far_z) / (near_z - far_z);
    out->m[14] = 2.0f * near_z * far_z / (near_z - far_z);
    out->m[11] = -1.0f;
}

void mat_viewport(Matrix* out, float x, float y, float w, float h) {
    std::memset(out, 0, sizeof *out);
    out->m[0] = w * 0.5f;
    out->m[5] = -h * 0.5f;
    out->m[10] = 1.0f;
    out->m[12] = x + w * 0.5f;
    out->m[13] = y + h * 0.5f;
    out->m[15] = 1.0f;
}

void mat_multiply(const Matrix* a, const Matrix* b, Matrix* out) {
#if VECMATH_LANES
    if (simd_level() >= SIMD_SSE2) {
        // A row of the product at once, each element's sum from zero in the order of k as below.
        const __m128 b0 = _mm_loadu_ps(b->m), b1 = _mm_loadu_ps(b->m + 4);
        const __m128 b2 = _mm_loadu_ps(b->m + 8), b3 = _mm_loadu_ps(b->m + 12);
        for (int r = 0; r < 4; r++) {
            const float* row = a->m + r * 4;
            __m128 sum = _mm_add_ps(_mm_setzero_ps(), _mm_mul_ps(_mm_set1_ps(row[0]), b0));
            sum = _mm_add_ps(sum, _mm_mul_ps(_mm_set1_ps(row[1]), b1));
            sum = _mm_add_ps(sum, _mm_mul_ps(_mm_set1_ps(row[2]), b2));
            _mm_storeu_ps(out->m + r * 4, _mm_add_ps(sum, _mm_mul_ps(_mm_set1_ps(row[3]), b3)));
        }
        return;
    }
#endif
    for (int r = 0; r < 4; r++) {
        for (int c = 0; c < 4; c++) {
            float sum = 0.0f;
            for (int k = 0; k < 4; k++) sum += a->m[r * 4 + k] * b->m[k * 4 + c];
            out->m[r * 4 + c] = sum;
        }
    }
}

void mat_transpose(const Matrix* m, Matrix* out) {
    for (int r = 0; r < 4; r++)
        for (int c = 0; c < 4; c++) out->m[r * 4 + c] = m->m[c * 4 + r];
}

#if VECMATH_LANES
template <int C>
static inline float lane_of(__m128 v) {
    return _mm_cvtss_f32(_mm_shuffle_ps(v, v, _MM_SHUFFLE(C, C, C, C)));
}

// One column of mat_invert's elimination on the augmented rows [left | right], held in registers and
// swapped in place of the permutation (the same rows meet the same operations). False when no pivot
// qualifies.
template <int C>
static inline bool invert_column(__m128 (&left)[4], __m128 (&right)[4]) {
    float best = 1e-6f;
    int pivot = -1;
    for (int i = C; i < 4; i++) {
        const float v = std::fabs(lane_of<C>(left[i]));
        if (v > best) {
            best = v;
            pivot = i;
        }
    }
    if (pivot < 0) return false;
    // Each candidate by its constant index, so that the rows never leave the registers.
    for (int i = C + 1; i < 4; i++) {
        if (pivot != i) continue;
        const __m128 l = left[C], r = right[C];
        left[C] = left[i], right[C] = right[i];
        left[i] = l, right[i] = r;
    }
    const __m128 own = _mm_castsi128_ps(_mm_setr_epi32(C == 0 ? -1 : 0, C == 1 ? -1 : 0, C == 2 ? -1 : 0, C == 3 ? -1 : 0));
    const __m128 d = _mm_set1_ps(lane_of<C>(left[C]));
    // The pivot row divided through, its own element then set to 1 exactly.
    const __m128 p0 = _mm_or_ps(_mm_andnot_ps(own, _mm_div_ps(left[C], d)), _mm_and_ps(own, _mm_set1_ps(1.0f)));
    const __m128 p1 = _mm_div_ps(right[C], d);
    left[C] = p0;
    right[C] = p1;
    for (int i = 0; i < 4; i++) {
        if (i == C) continue;
        const __m128 f = _mm_set1_ps(lane_of<C>(left[i]));
        left[i] = _mm_andnot_ps(own, _mm_sub_ps(left[i], _mm_mul_ps(p0, f)));
        right[i] = _mm_sub_ps(right[i], _mm_mul_ps(p1, f));
    }
    return true;
}

// mat_invert with each augmented row as two groups of four lanes kept in registers: the same
// divisions and products, element by element, so the same bits.
static void mat_invert_lanes(const Matrix* m, Matrix* out) {
    __m128 left[4], right[4];
    for (int r = 0; r < 4; r++) {
        left[r] = _mm_loadu_ps(m->m + 4 * r);
        right[r] = _mm_castsi128_ps(_mm_setr_epi32(r == 0 ? 0x3F800000 : 0, r == 1 ? 0x3F800000 : 0,
                                                   r == 2 ? 0x3F800000 : 0, r == 3 ? 0x3F800000 : 0));
    }
    if (!invert_column<0>(left, right) || !invert_column<1>(left, right) || !invert_column<2>(left, right) ||
        !invert_column<3>(left, right)) {
        std::memset(out, 0, sizeof *out);
        return;
    }
    for (int r = 0; r < 4; r++) _mm_storeu_ps(out->m + 4 * r, right[r]);
}
#endif

void mat_invert(const Matrix* m, Matrix* out) {
#if VECMATH_LANES
    if (simd_level() >= SIMD_SSE2) {
        mat_invert_lanes(m, out);
        return;
    }
#endif
    // Rows of the augmented matrix [m | I] are addressed through a permutation instead of moved.
    float a[4][8];
    int perm[4] = {0, 1, 2, 3};
    for (int r = 0; r < 4; r++) {
        for (int c = 0; c < 4; c++) {
            a[r][c] = m->m[r * 4 + c];
            a[r][c + 4] = r == c ? 1.0f : 0.0f;
        }
    }
    for (int c = 0; c < 4; c++) {
        float best = 1e-6f;
        int pivot = -1;
        for (int i = c; i < 4; i++) {
            float v = std::fabs(a[perm[i]][c]);
            if (v > best) {
                best = v;
                pivot = i;
            }
        }
        if (pivot < 0) {
            std::memset(out, 0, sizeof *out);
            return;
        }
        int t = perm[c];
        perm[c] = perm[pivot];
        perm[pivot] = t;
        float* p = a[perm[c]];
        float d = p[c];
        for (int k = 0; k < 8; k++) p[k] /= d;
        p[c] = 1.0f;
        for (int i = 0; i < 4; i++) {
            if (i == c) continue;
            float* row = a[perm[i]];
            float f = row[c];
            for (int k = 0; k < 8; k++) row[k] -= p[k] * f;
            row[c] = 0.0f;
        }
    }
    for (int r = 0; r < 4; r++)
        for (int c = 0; c < 4; c++) out->m[r * 4 + c] = a[perm[r]][c + 4];
}

void mat_transform_point(const Matrix* m, const Vec3* p, Vec3* out) {
    const float* e = m->m;
    float x = p->x, y = p->y, z = p->z;
    out->x = x * e[0] + y * e[4] + z * e[8] + e[12];
    out->y = x * e[1] + y * e[5] + z * e[9] + e[13];
    out->z = x * e[2] + y * e[6] + z * e[10] + e[14];
}

float mat_transform_point_w(const Matrix* m, const Vec3* p, Vec3* out) {
    const float* e = m->m;
    float w = p->x * e[3] + p->y * e[7] + p->z * e[11] + e[15];
    mat_transform_point(m, p, out);
    return w;
}

void mat_rotate_vector(const Matrix* m, const Vec3* v, Vec3* out) {
    const float* e = m->m;
    float x = v->x, y = v->y, z = v->z;
    out->x = x * e[0] + y * e[4] + z * e[8];
    out->y = x * e[1] + y * e[5] + z * e[9];
    out->z = x * e[2] + y * e[6] + z * e[10];
}
