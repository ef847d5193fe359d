// The carried tube frame: orthonormal rings along a curve, and a kept axis where the curve turns back.
#include <gtest/gtest.h>

#include <cmath>

#include "render3d/tube.h"

namespace {

Vec3 helix(float t) { return Vec3{std::cos(t) * 3.0f, t, std::sin(t) * 3.0f}; }

}  // namespace

TEST(TubeFrame, RingAxesStayOrthonormalAlongACurve) {
    Vec3 prev = helix(-0.1f), cur = helix(0.0f);
    TubeFrame f;
    tube_frame_start(&f, &prev, &cur);
    for (int k = 0; k < 200; k++) {
        cur = helix(0.1f * (float)k);
        tube_frame_turn(&f, &prev, &cur);
        EXPECT_NEAR(vec3_length(&f.side), 1.0f, 1e-5f);
        EXPECT_NEAR(vec3_length(&f.up), 1.0f, 1e-5f);
        EXPECT_NEAR(vec3_dot(&f.side, &f.up), 0.0f, 1e-5f);
        EXPECT_NEAR(vec3_dot(&f.side, &f.tangent), 0.0f, 1e-5f);
        EXPECT_NEAR(vec3_dot(&f.up, &f.tangent), 0.0f, 1e-5f);
        prev = cur;
    }
    // A ring point is side * a + up * b around the origin given.
    Vec3 p = tube_frame_point(&f, 2.0f, 0.0f, &cur), d;
    vec3_sub(&p, &cur, &d);
    EXPECT_NEAR(vec3_dot(&d, &f.side), 2.0f, 1e-5f);
}

TEST(TubeFrame, AVanishingUpKeepsTheCarriedAxis) {
    TubeFrame f;
    Vec3 a = {0, 0, 0}, b = {1, 0, 0};
    tube_frame_start(&f, &a, &b);
    f.carried = Vec3{0, 1, 0};
    tube_frame_turn(&f, &a, &b);
    EXPECT_FLOAT_EQ(f.up.y, 1.0f);
    // Carried axis along the tangent: side and up vanish, the old axis stays for the next ring.
    f.carried = Vec3{1, 0, 0};
    tube_frame_turn(&f, &a, &b);
    EXPECT_EQ(vec3_length(&f.up), 0.0f);
    EXPECT_FLOAT_EQ(f.carried.x, 1.0f);
}
