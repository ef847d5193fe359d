// The cloth scene: the floor, the camera schedule, the cloth's build, the pins before and after the
// release, the frame step and init/free pairing with the data set.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>

#include "gfx/display.h"
#include "gfx/image.h"
#include "procedural/noise.h"
#include "runtime/clock.h"
#include "scenes/poles_cloth.h"
#include "scenes/scenes.h"
#include "support/test_support.h"

namespace {

float floor_distance(const Vec3& p) {
    Vec3 n;
    const Vec3 up = {0, 1, 0};
    mat_rotate_vector(&pole_matrix, &up, &n);
    vec3_normalize(&n, &n);
    return vec3_dot(&p, &n) + 17.0f;
}

TEST(PolesFloor, PutsMassesBelowBackOnTheTiltedPlaneAndLeavesOthers) {
    SpringSystem* s = spring_system_new(3, 1);
    ASSERT_NE(s, nullptr);
    mat_rotate_euler(&pole_matrix, 0.7f, 0.139f, -0.12f);
    s->masses[0].position = Vec3{3, -40, 5};     // well below
    s->masses[1].position = Vec3{-2, -10, 1};    // above
    s->masses[2].position = Vec3{30, -20, -30};  // below in the tilted frame
    const Vec3 above = s->masses[1].position;
    floor_collide(s);
    EXPECT_NEAR(floor_distance(s->masses[0].position), 0.0f, 1e-4f);
    EXPECT_NEAR(floor_distance(s->masses[2].position), 0.0f, 1e-4f);
    EXPECT_EQ(s->masses[1].position.x, above.x);
    EXPECT_EQ(s->masses[1].position.y, above.y);
    EXPECT_EQ(s->masses[1].position.z, above.z);
    spring_system_free(s);
}

TEST(PolesCamera, DescendsAtTheStartAndPullsBackFromTheRelease) {
    noise_init(0);
    Camera c;
    poles_camera(&c, 385.0f, 220.0f);
    const float base_y = std::sin(110.0f) * 40.0f;
    EXPECT_NEAR(c.eye.y, base_y + 50.0f, 1e-3f);
    EXPECT_NEAR(c.target.y, 50.0f, 1e-4f);
    poles_camera(&c, 386.0f, 220.0f);
    EXPECT_NEAR(c.target.y, 25.0f, 1e-4f);
    poles_camera(&c, 387.0f, 220.0f);
    EXPECT_EQ(c.target.y, 0.0f);
    EXPECT_NEAR(c.eye.y, base_y, 1e-3f);
    poles_camera(&c, 415.99f, 220.0f);
    EXPECT_LT(std::fabs(c.eye.z - 72.0f), 8.01f);  // still wandering by noise
    poles_camera(&c, 416.0f, 220.0f);
    EXPECT_EQ(c.eye.x, 0.0f);
    EXPECT_FLOAT_EQ(c.eye.z, 68.0f);
    poles_camera(&c, 420.0f, 220.0f);
    EXPECT_FLOAT_EQ(c.eye.z, 116.0f);  // 12 units per beat
}

struct PolesData : SceneData {
    double saved_delta = 0.0;
    float saved_beat = 0.0f;
    void SetUp() override {
        saved_delta = demo_clock.clock_delta;
        saved_beat = demo_clock.clock_beat;
        SceneData::SetUp();
        if (ready()) {
            ASSERT_EQ(scene_poles_init(), 0);
        }
    }
    void TearDown() override {
        scene_poles_free();
        SceneData::TearDown();
        demo_clock.clock_delta = saved_delta;
        demo_clock.clock_beat = saved_beat;
    }
    void frame(float beat, double delta) {
        demo_clock.clock_beat = beat;
        demo_clock.clock_delta = delta;
        scene_poles_render(beat * 60.0f / 105.0f);
    }
};

TEST_F(PolesData, BuildsTheClothGridAndHangsItSettledFromThePoles) {
    ASSERT_NE(cloth, nullptr);
    ASSERT_EQ(cloth->mass_count, 1024);
    ASSERT_EQ(cloth->spring_count, 3906);
    ASSERT_EQ(cloth_mesh->triangle_count, 1922);
    const MeshTriangle& t0 = cloth_mesh->triangles[0];
    const MeshTriangle& t1 = cloth_mesh->triangles[1];
    EXPECT_EQ(t0.vertex_a, 1);
    EXPECT_EQ(t0.vertex_b, 0);
    EXPECT_EQ(t0.vertex_c, 32);
    EXPECT_EQ(t1.vertex_c, 33);
    const MeshTriangle& last = cloth_mesh->triangles[1921];
    EXPECT_EQ(last.vertex_c, 1023);
    // Every spring joins neighbours at their grid distance: side 64/31 or its diagonal.
    const float side = 64.0f / 31.0f;
    for (int i = 0; i < cloth->spring_count; i++) {
        const Spring& s = cloth->springs[i];
        ASSERT_TRUE(s.mass_a >= 0 && s.mass_b < 1024 && s.mass_a != s.mass_b) << i;
        const float r = s.rest_length;
        if (s.mass_a == 528 || s.mass_b == 528) continue;  // the centre mass was moved after
        EXPECT_TRUE(std::fabs(r - side) < 1e-3f || std::fabs(r - side * std::sqrt(2.0f)) < 1e-3f) << i;
    }
    // Settled: the pins sit at the pole tops of beat 385, nothing below the floor, nothing flung.
    for (int i = 0; i < POLE_COUNT; i++) {
        EXPECT_TRUE(cloth->masses[pole_masses[i]].pinned);
        EXPECT_EQ(cloth->masses[pole_masses[i]].position.y, pole_tops[i].y);
    }
    Vec3 centre = {0.0f, 10.0f - (std::sin(385.0f / 2.0f) * 0.5f + 0.5f) * 20.0f, 0.0f};
    mat_transform_point(&pole_matrix, &centre, &centre);
    EXPECT_NEAR(pole_tops[4].x, centre.x, 1e-4f);
    EXPECT_NEAR(pole_tops[4].y, centre.y, 1e-4f);
    for (int i = 0; i < 1024; i++) {
        const Vec3& p = cloth->masses[i].position;
        ASSERT_TRUE(std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.z)) << i;
        EXPECT_GE(floor_distance(p), -0.5f) << i;
        EXPECT_LT(vec3_length(&p), 80.0f) << i;
    }
}

TEST_F(PolesData, ReleasesEveryPinAtBeat416AndSlidesTheClothAway) {
    for (float b = 414.0f; b < 416.0f; b += 0.03f) frame(b, 1.0 / 60.0);
    ASSERT_TRUE(cloth->masses[528].pinned);
    ASSERT_EQ(cloth->constraint_callback, floor_collide);
    const Vec3 top = pole_tops[0];
    frame(416.0f, 1.0 / 60.0);
    for (int i = 0; i < 1024; i++) ASSERT_FALSE(cloth->masses[i].pinned) << i;
    EXPECT_EQ(cloth->constraint_callback, nullptr);
    EXPECT_EQ(cloth->gravity.y, 1.5f);
    EXPECT_EQ(pole_tops[0].x, top.x);  // the set-up stops turning
    // Every later update slides the whole cloth, both positions, by 20 units per second along -z.
    demo_clock.clock_delta = 0.05;
    const SpringMass m = cloth->masses[700];
    poles_update(417.0f);
    EXPECT_EQ(cloth->masses[700].position.z, m.position.z - 1.0f);
    EXPECT_EQ(cloth->masses[700].previous.z, m.previous.z - 1.0f);
    EXPECT_EQ(cloth->masses[700].position.y, m.position.y);
    // Gravity now points up: the mean vertical velocity keeps rising, and nothing is pinned again.
    auto mean_vy = [] {
        double v = 0;
        for (int i = 0; i < 1024; i++) v += cloth->masses[i].position.y - cloth->masses[i].previous.y;
        return v / 1024;
    };
    const double before = mean_vy();
    for (int n = 0; n < 60; n++) frame(416.1f + n * 0.03f, 1.0 / 60.0);
    EXPECT_GT(mean_vy(), before);
    for (int i = 0; i < 1024; i++) ASSERT_FALSE(cloth->masses[i].pinned) << i;
}

TEST_F(PolesData, ZeroDeltaStepsBySixtiethAndDrawsTheScene) {
    for (int i = 0; i < 640 * 480; i++) framebuffer.pixels[i] = 0xFF7F7F7Fu;
    frame(400.0f, 0.0);
    EXPECT_FLOAT_EQ(cloth->time_step, 1.0f / 60.0f);
    frame(400.1f, 0.025);
    EXPECT_FLOAT_EQ(cloth->time_step, 0.025f);
    int drawn = 0;
    for (int i = 0; i < 640 * 480; i++) drawn += framebuffer.pixels[i] != 0xFF7F7F7Fu;
    EXPECT_GT(drawn, 640 * 480 / 10);  // the cloth fills a good part of the screen
    // Mesh vertices follow the masses.
    EXPECT_EQ(cloth_mesh->vertices[77].px, cloth->masses[77].position.x);
}

TEST_F(PolesData, InitsAgainAfterFreeAndFailsCleanlyWithoutData) {
    scene_poles_free();
    EXPECT_EQ(cloth, nullptr);
    scene_poles_free();  // twice is harmless
    ASSERT_EQ(scene_poles_init(), 0);
    ASSERT_EQ(scene_poles_init(), 0);  // init over a built scene releases the old one
    char saved[4096];
    ASSERT_NE(getcwd(saved, sizeof saved), nullptr);
    ASSERT_EQ(chdir("/"), 0);
    EXPECT_EQ(scene_poles_init(), 1);
    EXPECT_EQ(cloth, nullptr);
    EXPECT_EQ(poles_mesh, nullptr);
    scene_poles_render(1.0f);  // nothing built: draws nothing, no crash
    ASSERT_EQ(chdir(saved), 0);
}

}  // namespace
