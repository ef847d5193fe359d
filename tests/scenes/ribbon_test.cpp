// The sphere's deformers, reflected-light coordinates, spark emitter and camera path, and the scene
// over its beats with the data set.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "gfx/display.h"
#include "gfx/image.h"
#include "gfx/simd.h"
#include "procedural/noise.h"
#include "runtime/clock.h"
#include "scenes/ribbon_ops.h"
#include "scenes/scenes.h"
#include "support/test_support.h"

namespace {

const float kPi = 3.14159265358979f;

Mesh* points(const std::vector<Vec3>& p) {
    Mesh* m = mesh_create((int32_t)p.size(), 1);
    for (size_t i = 0; i < p.size(); i++) {
        m->vertices[i].px = p[i].x, m->vertices[i].py = p[i].y, m->vertices[i].pz = p[i].z;
    }
    return m;
}

void expect_at(const Mesh* m, int i, float x, float y, float z) {
    EXPECT_NEAR(m->vertices[i].px, x, 1e-5f) << i;
    EXPECT_NEAR(m->vertices[i].py, y, 1e-5f) << i;
    EXPECT_NEAR(m->vertices[i].pz, z, 1e-5f) << i;
}

TEST(Deformers, TwistTurnsAboutItsAxisAndLeavesTheCentre) {
    const Vec3 c = {0.5f, -0.25f, 1.0f};
    // Along z at one length from the centre the quarter-turn maps +x to +y.
    Mesh* m = points({c, {c.x + 1, c.y, c.z + 2}, {c.x + 1, c.y, c.z}});
    Deformer twist = {2, c, {2.0f, kPi / 2, 0, 0}};
    deform_twist(m, &twist);
    expect_at(m, 0, c.x, c.y, c.z);
    expect_at(m, 1, c.x, c.y + 1, c.z + 2);
    expect_at(m, 2, c.x + 1, c.y, c.z);  // no distance along the axis, no turn
    mesh_free(m);
    // About x the (y, z) pair turns with x; about y the (x, z) pair turns with y.
    m = points({{1, 1, 0}});
    Deformer about_x = {0, {0, 0, 0}, {1.0f, kPi / 2, 0, 0}};
    deform_twist(m, &about_x);
    expect_at(m, 0, 1, 0, 1);
    Deformer about_y = {1, {0, 0, 0}, {1.0f, kPi / 2, 0, 0}};
    deform_twist(m, &about_y);
    expect_at(m, 0, 1, 0, 1);  // on the y twist's plane: no turn
    m->vertices[0].py = 1.0f;
    m->vertices[0].pz = 0.0f;
    deform_twist(m, &about_y);
    expect_at(m, 0, 0, 1, 1);
    mesh_free(m);
}

TEST(Deformers, RippleMovesAlongTheNormalInsideItsFalloff) {
    Mesh* m = points({{0.25f, 0, 0}, {2.0f, 0, 0}, {0.25f, 0, 0}});
    for (int i = 0; i < 3; i++) m->normals[i].normal = {0, 1, 0};
    Deformer ripple = {6, {0, 0, 0}, {0.5f, 0.5f, 0.3f, 1.0f}};
    deform_ripple(m, &ripple);
    float s = 0.5f * std::sin(0.25f * kPi / 0.5f + 0.3f) * std::sin(0.25f * (kPi / 2) / 0.5f + 0.1f) * 0.75f;
    expect_at(m, 0, 0.25f, s, 0);
    expect_at(m, 1, 2.0f, 0, 0);  // beyond the falloff radius
    // Without a falloff radius the wave reaches everywhere.
    Mesh* far = points({{2.0f, 0, 0}});
    far->normals[0].normal = {0, 0, 1};
    ripple.params[3] = 0.0f;
    deform_ripple(far, &ripple);
    float s2 = 0.5f * std::sin(2.0f * kPi / 0.5f + 0.3f) * std::sin(2.0f * (kPi / 2) / 0.5f + 0.1f);
    expect_at(far, 0, 2.0f, 0, s2);
    mesh_free(far);
    mesh_free(m);
}

TEST(Deformers, SwirlKeepsDistanceAndSparesPointsOutsideItsRadius) {
    Mesh* m = points({{0.3f, 0.4f, 0.5f}, {5.0f, 1.0f, 0.0f}, {0, 0, 0}});
    Deformer swirl = {3, {0, 0, 0}, {4.0f, 2.0f, 0, 0}};
    deform_swirl(m, &swirl);
    const MeshVertex& v = m->vertices[0];
    EXPECT_NEAR(std::sqrt(v.px * v.px + v.py * v.py + v.pz * v.pz), std::sqrt(0.5f), 1e-5f);
    EXPECT_GT(std::fabs(v.px - 0.3f) + std::fabs(v.py - 0.4f), 0.01f);  // it did turn
    expect_at(m, 1, 5.0f, 1.0f, 0.0f);
    expect_at(m, 2, 0, 0, 0);
    mesh_free(m);
}

TEST(ReflectedLight, MirrorsNormalsAboutTheLight) {
    Mesh* m = points({{0, 0, 0}, {0, 0, 0}, {0, 0, 0}});
    m->normals[0].world_normal = {0, 0, 1};
    m->normals[1].world_normal = {1, 0, 0};
    m->normals[2].world_normal = {0, 1, 0};
    Vec3 light = {0, 0, 4};  // not unit: the operation normalises its own copy
    light_reflect_uv(m, &light);
    EXPECT_FLOAT_EQ(m->vertices[0].env_u, 0.5f);  // facing the light: the reflection runs straight back
    EXPECT_FLOAT_EQ(m->vertices[0].env_v, 0.5f);
    EXPECT_FLOAT_EQ(m->vertices[1].env_u, 1.0f);
    EXPECT_FLOAT_EQ(m->vertices[1].env_v, 0.5f);
    EXPECT_FLOAT_EQ(m->vertices[2].env_u, 0.5f);
    EXPECT_FLOAT_EQ(m->vertices[2].env_v, 0.0f);
    EXPECT_FLOAT_EQ(light.z, 4.0f);
    mesh_free(m);
}

TEST(ReflectedLight, EverySimdLevelGivesTheSameBits) {
    // Random normals (a count that leaves a partial group of four, zero normals, normals whose
    // reflection's squared length overflows) under random lights: byte-equal at every level.
    unsigned s = 77;
    auto rnd = [&](float lo, float hi) {
        s = s * 1664525u + 1013904223u;
        return lo + (hi - lo) * (float)(s >> 8) / 16777216.0f;
    };
    const int kVertices = 23;
    Mesh* m[2] = {mesh_create(kVertices, 1), mesh_create(kVertices, 1)};
    const int best = simd_best_level();
    for (int trial = 0; trial < 50; trial++) {
        const Vec3 light = {rnd(-2, 2), rnd(-2, 2), rnd(-2, 2)};
        for (int k = 0; k < 2; k++) {
            s = 300u + (unsigned)trial;
            for (int i = 0; i < kVertices; i++) m[k]->normals[i].world_normal = Vec3{rnd(-1, 1), rnd(-1, 1), rnd(-1, 1)};
            m[k]->normals[5].world_normal = Vec3{0, 0, 0};
            m[k]->normals[10].world_normal = Vec3{3e19f, -2e19f, 1.0f};
            simd_use_level(k == 0 ? SIMD_SCALAR : best);
            light_reflect_uv(m[k], &light);
        }
        simd_use_level(best);
        ASSERT_EQ(std::memcmp(m[0]->vertices, m[1]->vertices, kVertices * sizeof(MeshVertex)), 0) << trial;
    }
    mesh_free(m[0]);
    mesh_free(m[1]);
}

TEST(Sparks, OffsetRisesHoldsAndSinks) {
    EXPECT_NEAR(sparks_offset(328.0f), -0.05f, 1e-6f);
    EXPECT_NEAR(sparks_offset(330.0f), 0.0f, 1e-6f);
    EXPECT_NEAR(sparks_offset(340.0f), 0.05f, 1e-6f);
    EXPECT_NEAR(sparks_offset(350.0f), 0.0f, 1e-6f);
    EXPECT_NEAR(sparks_offset(368.0f), -0.05f, 1e-6f);
    EXPECT_NEAR(sparks_offset(376.0f), 0.05f, 1e-6f);
    EXPECT_NEAR(sparks_offset(385.0f), -0.05f, 1e-6f);
}

TEST(Sparks, QuadsFaceTheLightAreCappedAndLaidOutLikeSprites) {
    Mesh* sphere = mesh_create(5000, 1);
    Mesh* s = sparks_create();
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->triangles[2 * 7 + 1].vertex_a, 28);
    EXPECT_EQ(s->triangles[2 * 7 + 1].vertex_c, 31);
    for (int i = 0; i < 5000; i++) {
        sphere->vertices[i] = {};
        sphere->vertices[i].px = (float)i;
        sphere->normals[i].normal = {0, 0, 1};
        sphere->normals[i].world_normal = {0, 0, 1};
    }
    spark_right = {1, 0, 0};
    spark_up = {0, 1, 0};
    Vec3 light = {0, 0, 2};
    sparks_emit(sphere, s, 340.0f, &light);
    EXPECT_FLOAT_EQ(light.z, 1.0f);  // normalised in place
    EXPECT_EQ(s->vertex_count, 4096);  // 1250 candidates, capped
    EXPECT_EQ(s->triangle_count, 2048);
    EXPECT_EQ(s->flags, MESH_DOUBLE_SIDED);
    // Quad 1 sits on vertex 4, lifted 0.05 along the normal, half size 0.25 at full facing.
    const MeshVertex* q = &s->vertices[4];
    EXPECT_FLOAT_EQ(q[0].px, 4.25f); EXPECT_FLOAT_EQ(q[0].py, 0.25f); EXPECT_FLOAT_EQ(q[0].pz, 0.05f);
    EXPECT_FLOAT_EQ(q[1].px, 3.75f); EXPECT_FLOAT_EQ(q[1].py, 0.25f);
    EXPECT_FLOAT_EQ(q[2].px, 3.75f); EXPECT_FLOAT_EQ(q[2].py, -0.25f);
    EXPECT_FLOAT_EQ(q[3].px, 4.25f); EXPECT_FLOAT_EQ(q[3].py, -0.25f);
    EXPECT_EQ(q[0].u, 1.0f); EXPECT_EQ(q[0].v, 0.0f); EXPECT_EQ(q[1].u, 0.0f); EXPECT_EQ(q[2].v, 1.0f);
    EXPECT_EQ(s->triangles[2].lit_colour, 0x7F7F7F7Fu);

    // Only normals beyond 0.75 of the light emit; brightness and size follow the excess.
    for (int i = 0; i < 5000; i++) sphere->normals[i].world_normal = {0, 0, 0.75f};
    sphere->normals[8].world_normal = {0, 0, 0.875f};
    sparks_emit(sphere, s, 340.0f, &light);
    EXPECT_EQ(s->triangle_count, 2);
    EXPECT_EQ(s->triangles[0].lit_colour, 63u * 0x01010101u);
    EXPECT_FLOAT_EQ(s->vertices[0].px, 8.125f);
    for (int i = 0; i < 5000; i++) sphere->normals[i].world_normal = {0, 0, -1};
    sparks_emit(sphere, s, 340.0f, &light);
    EXPECT_EQ(s->vertex_count, 0);
    mesh_free(s);
    mesh_free(sphere);
}

TEST(RibbonCamera, ArrivesFromAfarAndDropsAway) {
    Camera c = {};
    ribbon_camera(&c, 320.0f * 60 / 105, 320.0f, 320);
    const float near_z = c.eye.z - 16.0f;
    EXPECT_GE(near_z, 3.5f - 1e-4f);
    EXPECT_LE(near_z, 4.5f + 1e-4f);
    ribbon_camera(&c, 330.0f * 60 / 105, 330.0f, 330);
    EXPECT_LE(c.eye.z, 4.5f + 1e-4f);
    ribbon_camera(&c, 360.0f * 60 / 105, 360.0f, 360);
    EXPECT_LE(c.eye.z, 3.5f + 1e-4f);  // closer during the ripples
    ribbon_camera(&c, 384.5f * 60 / 105, 384.5f, 384);
    EXPECT_NEAR(c.eye.y, -2.0f, 1e-5f);
    EXPECT_EQ(c.far, 128.0f);
}

// The scene with the real data set: rest shape before the twist, drawing over the beats, re-init.
struct RibbonData : SceneData {};

TEST_F(RibbonData, DrawsOverItsBeatsAndKeepsTheRestShape) {
    ASSERT_EQ(scene_ribbon_init(), 0);
    scene_ribbon_free();
    ASSERT_EQ(scene_ribbon_init(), 0);
    ASSERT_EQ(scene_ribbon_init(), 0);
    ASSERT_NE(bump_sphere, nullptr);
    const uint32_t grey = 0xFF7F7F7Fu;
    std::vector<MeshVertex> rest(bump_sphere->saved_vertices, bump_sphere->saved_vertices + bump_sphere->vertex_count);
    for (float beat : {321.5f, 330.2f, 341.7f, 358.3f, 371.1f, 383.4f}) {
        frame_begin();
        frame_clear(grey);
        demo_clock.clock_beat = beat;
        scene_ribbon_render(beat * 60.0f / 105.0f);
        EXPECT_GT(covered(grey), 640 * 480 / 20) << beat;
        float moved = 0.0f;
        for (size_t i = 0; i < rest.size(); i++)
            moved = std::fmax(moved, std::fabs(bump_sphere->vertices[i].px - rest[i].px) +
                                         std::fabs(bump_sphere->vertices[i].py - rest[i].py) +
                                         std::fabs(bump_sphere->vertices[i].pz - rest[i].pz));
        if (beat < 336.0f) {
            EXPECT_EQ(moved, 0.0f) << beat;
        } else {
            EXPECT_GT(moved, 0.01f) << beat;
        }
        bool sparking = (beat >= 328 && beat < 352) || beat >= 368;
        if (sparking) {
            EXPECT_GT(sparks->triangle_count, 0) << beat;
        }
    }
    scene_ribbon_free();
    EXPECT_EQ(bump_sphere, nullptr);
    frame_clear(grey);
    scene_ribbon_render(190.0f);
    EXPECT_EQ(framebuffer.pixels[240 * 640 + 320], grey);
}

// What a frame leaves in the sphere's normals and tangents, bit for bit: the parts the next frame
// reuses while the sphere is at rest (world_tangent is rewritten by every transform).
std::vector<uint32_t> sphere_normals_bits(const Mesh* m) {
    std::vector<float> f;
    for (int32_t i = 0; i < m->vertex_count; i++) {
        const Vec3& n = m->normals[i].normal;
        const Vec3& t = m->tangents[i].tangent;
        f.insert(f.end(), {n.x, n.y, n.z, t.x, t.y, t.z, m->tangents[i].handedness});
    }
    for (int32_t i = 0; i < m->triangle_count; i++) {
        const MeshTriangle& t = m->triangles[i];
        f.insert(f.end(), {t.normal.x, t.normal.y, t.normal.z, t.plane_d});
    }
    std::vector<uint32_t> bits(f.size());
    std::memcpy(bits.data(), f.data(), f.size() * sizeof(float));
    return bits;
}

TEST_F(RibbonData, RestFramesDrawWithTheNormalsTheRestShapeGives) {
    // Rest frames reuse the normals and tangents an earlier rest frame made; after a deformed frame,
    // or a new init, they must again be those made afresh from the rest shape.
    ASSERT_EQ(scene_ribbon_init(), 0);
    auto fresh = [] {
        mesh_restore_vertices(bump_sphere);
        mesh_compute_normals(bump_sphere);
        mesh_compute_tangents(bump_sphere);
        return sphere_normals_bits(bump_sphere);
    };
    auto frame = [](float beat) {
        frame_begin();
        demo_clock.clock_beat = beat;
        scene_ribbon_render(beat * 60.0f / 105.0f);
        return sphere_normals_bits(bump_sphere);
    };
    const std::vector<uint32_t> rest = fresh();
    EXPECT_EQ(frame(321.5f), rest);
    EXPECT_EQ(frame(330.2f), rest);
    ASSERT_EQ(scene_ribbon_init(), 0);  // starts again from the object's own normals
    EXPECT_EQ(frame(322.4f), rest);
    EXPECT_NE(frame(341.7f), rest);
    EXPECT_EQ(frame(330.2f), rest);
    EXPECT_NE(frame(371.1f), rest);
    EXPECT_EQ(frame(335.9f), rest);
    scene_ribbon_free();
}

}  // namespace
