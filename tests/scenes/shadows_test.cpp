// The knot tube, the light-projected coordinates, the highlight, the beat schedules, and the scene
// over its beats with the data set.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "gfx/display.h"
#include "gfx/image.h"
#include "procedural/noise.h"
#include "runtime/clock.h"
#include "scenes/scenes.h"
#include "scenes/shadows_knot.h"
#include "support/test_support.h"

namespace {

const float kPi = 3.14159265358979f;

float distance(Vec3 a, const MeshVertex& v) {
    return std::sqrt((a.x - v.px) * (a.x - v.px) + (a.y - v.py) * (a.y - v.py) + (a.z - v.pz) * (a.z - v.pz));
}

TEST(KnotTube, ClosedTopologyOfSixTrianglesPerVertex) {
    Mesh* m = knot_tube_create(256, 3, 5, 4, 10, 0.5f, 0.5f, 64);
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(m->vertex_count, 768);
    EXPECT_EQ(m->triangle_count, 1536);
    std::vector<int> uses(768, 0);
    for (int i = 0; i < m->triangle_count; i++) {
        const MeshTriangle& t = m->triangles[i];
        for (int c : {t.vertex_a, t.vertex_b, t.vertex_c}) {
            ASSERT_GE(c, 0);
            ASSERT_LT(c, 768);
            uses[c]++;
        }
        EXPECT_EQ(t.base_colour, 0xFFFFFFFFu);
        EXPECT_EQ(t.visible, 1);
    }
    for (int u : uses) EXPECT_EQ(u, 6);  // no open end: the last ring joins the first
    // Ring 255's triangles reach back to ring 0.
    EXPECT_EQ(m->triangles[2 * 255 * 3].vertex_c, 1);
    EXPECT_FLOAT_EQ(m->vertices[3 * 10 + 2].u, 2.0f / 3.0f * 0.5f);
    EXPECT_FLOAT_EQ(m->vertices[3 * 128 + 1].v, 32.0f);
    mesh_free(m);
    EXPECT_EQ(knot_tube_create(2, 3, 5, 4, 10, 0.5f, 0.5f, 64), nullptr);
    EXPECT_EQ(knot_tube_create(256, 0, 5, 4, 10, 0.5f, 0.5f, 64), nullptr);
    EXPECT_EQ(knot_tube_create(1 << 20, 1 << 20, 5, 4, 10, 0.5f, 0.5f, 64), nullptr);
}

TEST(KnotTube, RingsSitOnThePreviousCurvePointAtTheirRadius) {
    Mesh* m = knot_tube_create(64, 3, 5, 4, 10, 0.5f, 0.5f, 64);
    ASSERT_NE(m, nullptr);
    const float step = 2.0f * kPi / 64.0f;
    // Amplitude 0: every ring has the same size, and its corners surround the previous point.
    for (int k = 0; k < 64; k++) {
        Vec3 centre = knot_point(10, 5, 4, (float)((k + 63) % 64) * step);
        for (int j = 0; j < 3; j++) EXPECT_NEAR(distance(centre, m->vertices[k * 3 + j]), 0.5f * std::sqrt(2.0f), 1e-4f) << k;
    }
    // With bulges the radius follows the sine of (phase + angle) * frequency, never below the rest size.
    knot_tube_shape(m, 64, 3, 5, 4, 10, 0.5f, 1.0f, 2.0f, 3.0f);
    for (int k = 0; k < 64; k++) {
        Vec3 centre = knot_point(10, 5, 4, (float)((k + 63) % 64) * step);
        float rho = (std::sin((1.0f + k * step) * 3.0f) * 0.5f + 0.5f) * 2.0f + 0.5f;
        EXPECT_NEAR(distance(centre, m->vertices[k * 3]), rho * std::sqrt(2.0f), 1e-3f) << k;
    }
    // Normals were recomputed and point away from the tube's axis.
    Vec3 centre = knot_point(10, 5, 4, 63 * step);
    const VertexNormal& n = m->normals[0];
    Vec3 out = {m->vertices[0].px - centre.x, m->vertices[0].py - centre.y, m->vertices[0].pz - centre.z};
    EXPECT_GT(vec3_dot(&n.normal, &out), 0.0f);
    // A mismatched ring count leaves the mesh alone; a null mesh is harmless.
    MeshVertex before = m->vertices[5];
    knot_tube_shape(m, 63, 3, 5, 4, 20, 0.5f, 0, 0, 1);
    EXPECT_EQ(std::memcmp(&before, &m->vertices[5], sizeof before), 0);
    knot_tube_shape(nullptr, 64, 3, 5, 4, 10, 0.5f, 0, 0, 1);
    mesh_free(m);
}

Camera light_camera() {
    Camera c = {};
    orbit_eye(&c, 40, 0.3f);
    camera_set_screen(&c, 1, 96);
    return c;
}

TEST(ShadowUv, LandsWhereTheLightCameraDrawsAndSurvivesZeroDepth) {
    Camera light = light_camera();
    EXPECT_NEAR(vec3_length(&light.eye), 40.0f, 1e-3f);
    Mesh* m = mesh_create(2, 1);
    mat_identity(&m->object_matrix);
    m->vertices[0].px = 1.0f;  // near the target: close to the centre of the light's screen
    m->vertices[1].px = 3.0f;
    shadow_uv_project(m, &light);
    Matrix screen, normal;
    camera_object_matrices(&light, &m->object_matrix, &screen, &normal);
    for (int i = 0; i < 2; i++) {
        Vec3 p = {m->vertices[i].px, 0, 0}, s;
        float w = mat_transform_point_w(&screen, &p, &s);
        EXPECT_NEAR(m->vertices[i].env_u * 640.0f, s.x / w, 8.0f);
        EXPECT_NEAR(m->vertices[i].env_v * 480.0f, s.y / w, 8.0f);
    }
    // A light whose transform puts z at exactly 0 keeps the undivided coordinates.
    Camera flat = {};
    mat_identity(&flat.view);
    std::memset(&flat.projection, 0, sizeof flat.projection);
    flat.projection.m[0] = 2.0f;
    flat.projection.m[5] = 2.0f;
    flat.projection.m[14] = -1.0f;  // z' = -1 and w' = 1: the biased z is exactly 0
    flat.projection.m[15] = 1.0f;
    m->vertices[0] = MeshVertex{};
    m->vertices[0].px = 0.25f;
    m->vertices[0].py = 0.25f;
    shadow_uv_project(m, &flat);
    EXPECT_FLOAT_EQ(m->vertices[0].env_u, 0.75f);
    EXPECT_FLOAT_EQ(m->vertices[0].env_v, 0.25f);
    mesh_free(m);
}

TEST(Specular, AddsWhiteAlongTheHalfVectorAndNeverDarkens) {
    Mesh* m = mesh_create(3, 3);
    Vec3 light = {0, 0.5f, 1};
    vec3_normalize(&light, &light);
    Vec3 half = {light.x, light.y, light.z + 1.0f};
    vec3_normalize(&half, &half);
    m->triangles[0].world_normal = half;
    m->triangles[0].lit_colour = 0xFF203040u;
    m->triangles[1].world_normal = Vec3{0, 0, -1};  // facing away
    m->triangles[1].lit_colour = 0x80402010u;
    m->triangles[2].world_normal = Vec3{0.6f, 0, 0.8f};  // off the highlight: a little light
    m->triangles[2].lit_colour = 0xFFF0F0F0u;
    mesh_add_specular(m, &light, 32, 0);
    EXPECT_EQ(m->triangles[0].lit_colour, 0xFFFFFFFFu);
    EXPECT_EQ(m->triangles[1].lit_colour, 0x80402010u);
    for (int b = 0; b < 32; b += 8) EXPECT_GE((m->triangles[2].lit_colour >> b) & 0xFF, 0xF0u);
    // Double-sided meshes light both faces.
    m->flags = MESH_DOUBLE_SIDED;
    m->triangles[1].world_normal = Vec3{-half.x, -half.y, -half.z};
    mesh_add_specular(m, &light, 32, 0);
    EXPECT_EQ(m->triangles[1].lit_colour, 0xFFFFFFFFu);
    // Model 1 works on vertex colours; other models touch nothing.
    m->flags = 0;
    m->normals[0].world_normal = half;
    m->vertices[0].colour = 0x10101010u;
    m->vertices[1].colour = 0x10101010u;
    mesh_add_specular(m, &light, 16, 1);
    EXPECT_EQ(m->vertices[0].colour, 0xFFFFFFFFu);
    EXPECT_EQ(m->vertices[1].colour, 0x10101010u);  // zero normal: nothing
    m->triangles[2].lit_colour = 0;
    mesh_add_specular(m, &light, 16, 2);
    EXPECT_EQ(m->triangles[2].lit_colour, 0u);
    mesh_free(m);
}

TEST(ShadowsSchedule, BulgesGrowInThenTheKnotBreathesAndPulses) {
    KnotShape rest = shadows_knot_shape(111.99f);
    EXPECT_EQ(rest.amplitude, 0.0f);
    EXPECT_EQ(rest.scale, 10.0f);
    EXPECT_EQ(shadows_knot_shape(112.0f).amplitude, 0.0f);
    // The bulges ramp in over four beats on top of the two-beat pulse, then join the steady phase.
    EXPECT_FLOAT_EQ(shadows_knot_shape(113.0f).amplitude, 0.25f * (0.0625f + 1.0f));
    EXPECT_FLOAT_EQ(shadows_knot_shape(114.0f).amplitude, 0.5f);
    EXPECT_FLOAT_EQ(shadows_knot_shape(115.999f).phase, shadows_knot_shape(116.0f).phase);
    EXPECT_FLOAT_EQ(shadows_knot_shape(116.0f).amplitude, 1.0f);
    EXPECT_EQ(shadows_knot_shape(127.9f).scale, 10.0f);
    for (float b = 128.0f; b < 160.0f; b += 0.37f) {
        KnotShape k = shadows_knot_shape(b);
        EXPECT_GE(k.scale, 10.0f);
        EXPECT_LE(k.scale, 12.0f);
        EXPECT_GE(k.amplitude, 1.0f);
        EXPECT_LE(k.amplitude, 2.0f);
        if (b < 144.0f) EXPECT_EQ(k.radius, 0.5f);
        else EXPECT_LE(k.radius, 0.5f);
    }
    // The sphere tips over, comes back, then turns about z; the quarter turns meet without a jump.
    float ax, az;
    shadows_sphere_angles(130.0f, 1.0f, &ax, &az);
    EXPECT_FLOAT_EQ(ax, kPi / 2);
    shadows_sphere_angles(147.999f, 1.0f, &ax, &az);
    EXPECT_NEAR(ax, 0.0f, 1e-3f);
    shadows_sphere_angles(148.0f, 1.0f, &ax, &az);
    EXPECT_EQ(ax, 0.0f);
    EXPECT_EQ(az, 0.0f);
    shadows_sphere_angles(159.0f, 1.0f, &ax, &az);
    EXPECT_FLOAT_EQ(az, kPi / 2);
}

// The scene with the real data set: it draws, casts shadows, and can be built again after a free.
struct ShadowsData : SceneData {};

TEST_F(ShadowsData, DrawsShadowedKnotAndSphereOverItsBeats) {
    ASSERT_EQ(scene_shadows_init(), 0);
    scene_shadows_free();
    ASSERT_EQ(scene_shadows_init(), 0);
    ASSERT_EQ(scene_shadows_init(), 0);  // a second init replaces the meshes
    const uint32_t grey = 0xFF7F7F7Fu;
    for (float beat = 96.0f; beat < 160.0f; beat += 7.3f) {
        frame_begin();
        frame_clear(grey);
        demo_clock.clock_beat = beat;
        scene_shadows_render(beat * 60.0f / 105.0f);
        int drawn = 0, cast = 0, dark = 0;
        for (int p = 0; p < 640 * 480; p++) {
            uint32_t c = framebuffer.pixels[p];
            drawn += c != grey;
            cast += depth_buffer2->values[p] != 0x7FFFFFFF;
            // A shadowed texel keeps an eighth of its colour; lit alpha never falls that low.
            dark += c != grey && (c >> 24) <= 0x1Eu;
        }
        EXPECT_GT(drawn, 640 * 480 / 20) << beat;  // the sphere alone covers a good part
        EXPECT_GT(cast, 1000) << beat;
        EXPECT_GT(dark, 50) << beat;
    }
    scene_shadows_free();
    frame_clear(grey);
    scene_shadows_render(60.0f);  // freed: nothing drawn, nothing touched
    EXPECT_EQ(framebuffer.pixels[240 * 640 + 320], grey);
}

}  // namespace
