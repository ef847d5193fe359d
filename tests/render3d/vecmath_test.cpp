// Vector and matrix operations: the numbers the camera and every scene rely on.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>

#include "gfx/simd.h"
#include "render3d/vecmath.h"

namespace {

void expect_matrix_near(const Matrix& a, const Matrix& b, float tol) {
    for (int i = 0; i < 16; i++) EXPECT_NEAR(a.m[i], b.m[i], tol) << "element " << i;
}

float frand(unsigned* state) {
    *state = *state * 1664525u + 1013904223u;
    return (float)((*state >> 8) & 0xFFFF) / 65535.0f * 2.0f - 1.0f;
}

}  // namespace

TEST(Vector, NormalizeKeepsZeroAndMakesUnitLength) {
    Vec3 z = {0, 0, 0};
    vec3_normalize(&z, &z);
    EXPECT_EQ(z.x, 0.0f);
    EXPECT_EQ(z.y, 0.0f);
    EXPECT_EQ(z.z, 0.0f);
    Vec3 v = {3, 0, -4};
    vec3_normalize(&v, &v);
    EXPECT_FLOAT_EQ(v.x, 0.6f);
    EXPECT_FLOAT_EQ(v.z, -0.8f);
    EXPECT_FLOAT_EQ(vec3_length(&v), 1.0f);
}

TEST(Vector, CrossIsRightHandedAndOperationsAlias) {
    Vec3 x = {1, 0, 0}, y = {0, 1, 0}, out;
    vec3_cross(&x, &y, &out);
    EXPECT_EQ(out.z, 1.0f);
    EXPECT_EQ(out.x, 0.0f);
    Vec3 a = {1, 2, 3}, b = {4, 5, 6};
    vec3_sub(&a, &b, &a);  // aliasing the first argument
    EXPECT_EQ(a.x, -3.0f);
    EXPECT_EQ(a.z, -3.0f);
    vec3_add(&a, &b, &b);  // aliasing the second
    EXPECT_EQ(b.x, 1.0f);
    EXPECT_EQ(b.y, 2.0f);
    Vec3 p = {1, 1, 1}, q = {3, 5, 7};
    vec3_lerp(&p, &q, 0.5f, &p);
    EXPECT_EQ(p.y, 3.0f);
    vec3_scale_add(&p, 2.0f, &q, &p);
    EXPECT_EQ(p.x, 7.0f);
    Vec3 d = {1, -1, 0}, n = {0, 1, 0};
    vec3_reflect(&d, &n, &d);
    EXPECT_EQ(d.y, 1.0f);
    EXPECT_EQ(d.x, 1.0f);
}

TEST(Builders, RotationsFollowTheRightHandRule) {
    Matrix m;
    Vec3 p = {1, 0, 0}, out;
    mat_rotate_z(&m, (float)M_PI / 2);
    mat_transform_point(&m, &p, &out);
    EXPECT_NEAR(out.x, 0.0f, 1e-6);
    EXPECT_NEAR(out.y, 1.0f, 1e-6);
    Vec3 py = {0, 1, 0};
    mat_rotate_x(&m, (float)M_PI / 2);
    mat_transform_point(&m, &py, &out);
    EXPECT_NEAR(out.z, 1.0f, 1e-6);  // +Y towards +Z
    Vec3 pz = {0, 0, 1};
    mat_rotate_y(&m, (float)M_PI / 2);
    mat_transform_point(&m, &pz, &out);
    EXPECT_NEAR(out.x, 1.0f, 1e-6);  // +Z towards +X
}

TEST(Builders, EulerTurnsAboutYThenXThenZ) {
    Matrix e, ry, rx, rz, t, expect;
    mat_rotate_euler(&e, 0.3f, -1.1f, 2.0f);
    mat_rotate_y(&ry, 0.3f);
    mat_rotate_x(&rx, -1.1f);
    mat_rotate_z(&rz, 2.0f);
    mat_multiply(&ry, &rx, &t);
    mat_multiply(&t, &rz, &expect);
    expect_matrix_near(e, expect, 0);
    // A pure Y turn: (0,0,1) goes to (sin, 0, cos) whatever X and Z are zero.
    Vec3 p = {0, 0, 1}, out;
    mat_rotate_euler(&e, 0.5f, 0, 0);
    mat_transform_point(&e, &p, &out);
    EXPECT_NEAR(out.x, std::sin(0.5f), 1e-6);
}

TEST(Builders, LookAtKeepsTheUnnegatedTranslation) {
    Matrix m;
    Vec3 eye = {0, 0, -5}, target = {0, 0, 0};
    mat_look_at(&m, &eye, &target);
    EXPECT_FLOAT_EQ(m.m[2], 0.0f);
    EXPECT_FLOAT_EQ(m.m[6], 0.0f);
    EXPECT_FLOAT_EQ(m.m[10], 1.0f);
    EXPECT_FLOAT_EQ(m.m[14], -5.0f);
    Vec3 origin = {0, 0, 0}, out;
    mat_transform_point(&m, &origin, &out);
    EXPECT_FLOAT_EQ(out.z, -5.0f);  // in front of the camera
    // A general eye: the fourth row is +dot(axis, eye), axes orthonormal.
    Vec3 e2 = {3, 4, 5}, t2 = {-1, 0, 2};
    mat_look_at(&m, &e2, &t2);
    Vec3 r = {m.m[0], m.m[4], m.m[8]}, u = {m.m[1], m.m[5], m.m[9]}, f = {m.m[2], m.m[6], m.m[10]};
    EXPECT_NEAR(vec3_dot(&r, &u), 0.0f, 1e-6);
    EXPECT_NEAR(vec3_dot(&r, &f), 0.0f, 1e-6);
    EXPECT_NEAR(vec3_length(&u), 1.0f, 1e-5);
    EXPECT_NEAR(m.m[12], vec3_dot(&r, &e2), 1e-5);
    EXPECT_NEAR(m.m[13], vec3_dot(&u, &e2), 1e-5);
    EXPECT_NEAR(m.m[14], vec3_dot(&f, &e2), 1e-5);
    EXPECT_EQ(m.m[3], 0.0f);
    EXPECT_EQ(m.m[15], 1.0f);
}

TEST(Builders, PerspectiveMapsNearAndFarToTheDepthRange) {
    Matrix m;
    mat_perspective(&m, 4.0f / 3.0f, 45, 45, 1, 96);
    for (float z : {-1.0f, -96.0f}) {
        Vec3 p = {0, 0, z}, out;
        float w = mat_transform_point_w(&m, &p, &out);
        EXPECT_FLOAT_EQ(w, -z);
        EXPECT_NEAR(out.z / w, z == -1.0f ? -1.0f : 1.0f, 1e-5);
    }
    EXPECT_NEAR(m.m[5], 1.0f / std::tan(22.5 * M_PI / 180), 1e-5);
    EXPECT_NEAR(m.m[0], m.m[5] * 0.75f, 1e-5);
    EXPECT_EQ(m.m[15], 0.0f);
}

TEST(Builders, ViewportCornersLandOnTheScreenCorners) {
    Matrix m;
    mat_viewport(&m, 0, 0, 640, 480);
    Vec3 tl = {-1, 1, 0.5f}, br = {1, -1, 0}, out;
    mat_transform_point(&m, &tl, &out);
    EXPECT_EQ(out.x, 0.0f);
    EXPECT_EQ(out.y, 0.0f);
    EXPECT_EQ(out.z, 0.5f);
    mat_transform_point(&m, &br, &out);
    EXPECT_EQ(out.x, 640.0f);
    EXPECT_EQ(out.y, 480.0f);
}

TEST(Inverse, RotationGivesTransposeAndTranslationItsNegation) {
    Matrix r, inv, tr;
    mat_rotate_euler(&r, 0.7f, -0.4f, 1.9f);
    mat_invert(&r, &inv);
    mat_transpose(&r, &tr);
    expect_matrix_near(inv, tr, 1e-6f);
    Matrix t, expect;
    mat_translate(&t, 1, 2, 3);
    mat_invert(&t, &t);  // in place
    mat_translate(&expect, -1, -2, -3);
    expect_matrix_near(t, expect, 0);
}

TEST(Inverse, SingularMatricesGiveAllZeros) {
    Matrix m;
    mat_identity(&m);
    m.m[5] = 0;  // zero column 1
    Matrix out;
    for (float& f : out.m) f = 7;
    mat_invert(&m, &out);
    for (float f : out.m) EXPECT_EQ(f, 0.0f);
    // Pivots at exactly 1e-6 do not qualify.
    mat_scale(&m, 1e-6f, 1, 1);
    mat_invert(&m, &out);
    for (float f : out.m) EXPECT_EQ(f, 0.0f);
    // A tiny but qualifying pivot still inverts.
    mat_scale(&m, 1e-5f, 1, 1);
    mat_invert(&m, &out);
    EXPECT_NEAR(out.m[0], 1e5f, 1.0f);
}

TEST(Inverse, RandomProductsNeedPivotingAndRoundTrip) {
    unsigned s = 12345;
    for (int n = 0; n < 200; n++) {
        Matrix m;
        for (float& f : m.m) f = frand(&s) * 4;
        if (n % 3 == 0) m.m[0] = 0;  // forces a row permutation
        Matrix inv, prod, id;
        mat_invert(&m, &inv);
        bool zero = true;
        for (float f : inv.m) zero = zero && f == 0.0f;
        if (zero) continue;
        mat_multiply(&m, &inv, &prod);
        mat_identity(&id);
        float big = 0;
        for (float f : inv.m) big = std::fmax(big, std::fabs(f));
        if (big > 1e3f) continue;  // ill-conditioned draw
        expect_matrix_near(prod, id, 2e-3f);
    }
}

TEST(Inverse, EverySimdLevelGivesTheSameBits) {
    // Random, permuting, near-singular and singular matrices, negative zeros and infinities among
    // the elements: each level's inverse must be byte-equal to the scalar one.
    unsigned s = 777;
    const int best = simd_best_level();
    for (int n = 0; n < 400; n++) {
        Matrix m;
        for (float& f : m.m) f = frand(&s) * 4;
        if (n % 3 == 0) m.m[0] = 0;
        if (n % 5 == 0) m.m[5] = -0.0f, m.m[6] = 0.0f;
        if (n % 7 == 0) for (int c = 0; c < 4; c++) m.m[8 + c] = m.m[4 + c] * 2.0f;  // singular
        if (n % 11 == 0) m.m[9] = 1e-7f;
        if (n % 13 == 0) m.m[14] = INFINITY;
        if (n % 4 == 1) {
            // A model-view matrix whose translation outweighs its turn: the pivots come from row 3.
            m.m[3] = m.m[7] = m.m[11] = 0.0f;
            m.m[15] = 1.0f;
            for (int c = 12; c < 15; c++) m.m[c] *= 40.0f;
        }
        Matrix want, got;
        simd_use_level(SIMD_SCALAR);
        mat_invert(&m, &want);
        simd_use_level(best);
        mat_invert(&m, &got);
        ASSERT_EQ(std::memcmp(&want, &got, sizeof want), 0) << n;
    }
    simd_use_level(best);
}

TEST(Product, EverySimdLevelGivesTheSameBits) {
    // Negative zeros (a sum of them starts from +0), infinities that meet zeros, and ordinary
    // values: each level's product must be byte-equal to the scalar one.
    unsigned s = 4242;
    const int best = simd_best_level();
    for (int n = 0; n < 300; n++) {
        Matrix a, b;
        for (float& f : a.m) f = frand(&s) * 8;
        for (float& f : b.m) f = frand(&s) * 8;
        if (n % 3 == 0) for (int k = 0; k < 4; k++) a.m[4 + k] = -0.0f;
        if (n % 4 == 1) b.m[2] = b.m[6] = -0.0f, a.m[0] = 0.5f, a.m[1] = -0.0f;
        if (n % 5 == 2) a.m[9] = INFINITY, b.m[5] = 0.0f;
        if (n % 7 == 3) b.m[12] = -INFINITY;
        Matrix want, got;
        simd_use_level(SIMD_SCALAR);
        mat_multiply(&a, &b, &want);
        simd_use_level(best);
        mat_multiply(&a, &b, &got);
        ASSERT_EQ(std::memcmp(&want, &got, sizeof want), 0) << n;
    }
    simd_use_level(best);
}

TEST(Transform, RowVectorConventionAndRotateVectorIgnoresTranslation) {
    Matrix t, r, tr;
    mat_translate(&t, 10, 0, 0);
    mat_rotate_z(&r, (float)M_PI / 2);
    mat_multiply(&t, &r, &tr);  // translate first, then rotate
    Vec3 p = {0, 0, 0}, out;
    mat_transform_point(&tr, &p, &out);
    EXPECT_NEAR(out.x, 0.0f, 1e-5);
    EXPECT_NEAR(out.y, 10.0f, 1e-5);
    Vec3 v = {1, 0, 0};
    mat_rotate_vector(&tr, &v, &v);
    EXPECT_NEAR(v.x, 0.0f, 1e-6);
    EXPECT_NEAR(v.y, 1.0f, 1e-6);
}
