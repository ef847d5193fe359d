// The carved box: hole and camera schedules, the field it rebuilds each frame, the glow quads, and
// the scene over its beats with the data set.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "gfx/display.h"
#include "gfx/image.h"
#include "procedural/noise.h"
#include "runtime/clock.h"
#include "scenes/carved_box.h"
#include "scenes/scenes.h"
#include "support/test_support.h"

namespace {

float dist(Vec3 a, Vec3 b) {
    return std::sqrt((a.x - b.x) * (a.x - b.x) + (a.y - b.y) * (a.y - b.y) + (a.z - b.z) * (a.z - b.z));
}

Vec3 quad_centre(int i) {
    const MeshVertex* v = &meta_sprites->vertices[4 * i];
    return {(v[0].px + v[2].px) * 0.5f, (v[0].py + v[2].py) * 0.5f, (v[0].pz + v[2].pz) * 0.5f};
}

TEST(CarvedBoxSchedule, HolesStartWideThenMoveInAndSettle) {
    float k, r;
    carved_box_hole_params(192.0f, &k, &r);
    EXPECT_EQ(k, 0.5f);  // strength 5, radius 6.5
    EXPECT_EQ(r, 38.0f);
    carved_box_hole_params(205.99f, &k, &r);
    EXPECT_EQ(r, 38.0f);
    carved_box_hole_params(208.0f, &k, &r);
    EXPECT_FLOAT_EQ(r, 28.0f);
    carved_box_hole_params(209.999f, &k, &r);
    EXPECT_NEAR(r, 18.0f, 1e-2f);
    EXPECT_GE(k, 0.5f);
    EXPECT_LE(k, 1.0f);
    // From beat 212 the radius pulses outwards on every second beat, never inwards.
    for (float b = 212.0f; b < 232.0f; b += 0.31f) {
        carved_box_hole_params(b, &k, &r);
        EXPECT_GE(r, 18.0f) << b;
        EXPECT_LE(r, 20.5f) << b;
        EXPECT_GE(k, b >= 220.0f ? 0.25f : 0.5f) << b;
        EXPECT_LE(k, 1.0f) << b;
    }
    for (float b = 232.0f; b < 248.0f; b += 0.5f) {
        carved_box_hole_params(b, &k, &r);
        EXPECT_EQ(k, 0.9f);
        EXPECT_EQ(r, 18.0f);
    }
    carved_box_hole_params(248.0f, &k, &r);
    EXPECT_NE(k, 0.9f);
}

TEST(CarvedBoxCamera, OrbitsClosesInDivesAndFliesAway) {
    noise_init(0);
    Camera c = {};
    carved_box_camera_place(&c, 200.5f);
    EXPECT_NEAR(dist(c.eye, c.target), 64.0f, 1e-3f);
    EXPECT_NEAR(dist(c.target, {0, 0, 0}), 0.0f, 1e-6f);
    carved_box_camera_place(&c, 216.0f);
    EXPECT_NEAR(dist(c.eye, c.target), 58.0f, 1e-3f);
    for (float b = 232.0f; b < 248.0f; b += 0.45f) {
        carved_box_camera_place(&c, b);
        const float p8 = std::pow(b / 4.0f - std::floor(b / 4.0f), 8.0f);
        EXPECT_NEAR(dist(c.eye, c.target), 36.0f + 2.0f * p8, 1e-3f) << b;
        EXPECT_LE(dist(c.target, {0, 0, 0}), 0.25f * 3.0f * 1.8f) << b;  // a quarter of the offset
    }
    // The last four beats: 32 more per beat on top of the pulsing 52.
    carved_box_camera_place(&c, 252.25f);
    const float r0 = dist(c.eye, c.target);
    carved_box_camera_place(&c, 253.25f);
    EXPECT_NEAR(dist(c.eye, c.target) - r0, 32.0f, 0.05f);
    carved_box_camera_place(&c, 251.9f);
    EXPECT_LT(dist(c.eye, c.target), 52.0f + 16.0f + 1e-3f);
    // The glow quads' axes are the view's right and up: unit, square to each other and the gaze.
    for (float b : {195.0f, 214.3f, 230.7f, 240.1f, 255.5f}) {
        carved_box_camera_place(&c, b);
        Vec3 gaze;
        vec3_sub(&c.target, &c.eye, &gaze);
        vec3_normalize(&gaze, &gaze);
        EXPECT_NEAR(vec3_length(&sprite_right), 1.0f, 1e-4f) << b;
        EXPECT_NEAR(vec3_length(&sprite_up), 1.0f, 1e-4f) << b;
        EXPECT_NEAR(vec3_dot(&sprite_right, &sprite_up), 0.0f, 1e-4f) << b;
        EXPECT_NEAR(vec3_dot(&sprite_right, &gaze), 0.0f, 1e-4f) << b;
        EXPECT_NEAR(vec3_dot(&sprite_up, &gaze), 0.0f, 1e-4f) << b;
    }
}

// Every point outside all holes holds the bare block: 7 with a radial gradient inside, 0 with an
// outward axis gradient on the skin (x faces win on edges and corners); points in a hole lose.
TEST(CarvedBoxField, BlockWithHolesRebuiltEachFrame) {
    noise_init(0);
    ASSERT_EQ(scene_carved_box_init(), 0);
    ASSERT_EQ(meta_lattice->resolution, 24);
    EXPECT_FLOAT_EQ(meta_lattice->cell_size, 32.0f / 24.0f);
    const int side = 25;
    for (float beat : {192.0f, 207.5f, 240.0f, 251.3f}) {
        Camera c = {};
        carved_box_camera_place(&c, beat);
        meta_field_update(beat);
        meta_field_update(beat);  // nothing accumulates between frames
        float k, r;
        carved_box_hole_params(beat, &k, &r);
        Vec3 centres[CARVED_BOX_HOLES];
        for (int i = 0; i < CARVED_BOX_HOLES; i++) {
            centres[i] = quad_centre(i);
            EXPECT_LE(dist(centres[i], {0, 0, 0}), r + 1e-3f) << beat;
            // Half size k*3 along two unit axes.
            Vec3 corner = {meta_sprites->vertices[4 * i].px, meta_sprites->vertices[4 * i].py,
                           meta_sprites->vertices[4 * i].pz};
            EXPECT_NEAR(dist(corner, centres[i]), k * 3.0f * std::sqrt(2.0f), 1e-3f);
        }
        int carved = 0;
        for (int ix = 0; ix < side; ix++)
            for (int iy = 0; iy < side; iy++)
                for (int iz = 0; iz < side; iz++) {
                    const LatticePoint* p = &meta_lattice->points[(ix * side + iy) * side + iz];
                    bool in_hole = false;
                    for (const Vec3& h : centres) in_hole |= dist(p->position, h) < k * 11.0f + 1.0f - 1e-3f;
                    const bool skin = ix == 0 || ix == 24 || iy == 0 || iy == 24 || iz == 0 || iz == 24;
                    const float base = skin ? 0.0f : 7.0f;
                    if (in_hole) {
                        carved += p->value < base;
                        EXPECT_LE(p->value, base);
                        continue;
                    }
                    ASSERT_EQ(p->value, base) << ix << " " << iy << " " << iz << " at " << beat;
                    if (!skin) {
                        EXPECT_NEAR(vec3_length(&p->normal), (ix == 12 && iy == 12 && iz == 12) ? 0.0f : 7.0f, 1e-4f);
                        continue;
                    }
                    Vec3 want = {0, 0, 0};
                    if (iz == 0 || iz == 24) want = {0, 0, iz ? 7.0f : -7.0f};
                    if (iy == 0 || iy == 24) want = {0, iy ? 7.0f : -7.0f, 0};
                    if (ix == 0 || ix == 24) want = {ix ? 7.0f : -7.0f, 0, 0};
                    EXPECT_EQ(p->normal.x, want.x);
                    EXPECT_EQ(p->normal.y, want.y);
                    EXPECT_EQ(p->normal.z, want.z);
                }
        if (beat > 200.0f) {
            EXPECT_GT(carved, 0) << beat;  // at first they orbit outside the box
        }
    }
    scene_carved_box_free();
}

// Frame after frame only the points the last holes wrote are copied back from the block: the field
// must be the one a copy of the whole block gives, bit for bit, whatever beat came before.
TEST(CarvedBoxField, EachFrameEqualsOneRebuiltFromTheWholeBlock) {
    noise_init(0);
    ASSERT_EQ(scene_carved_box_init(), 0);
    const int32_t count = meta_lattice->point_count;
    std::vector<LatticePoint> got(count);
    for (float beat : {200.0f, 213.3f, 213.4f, 241.0f, 196.0f, 226.9f, 255.2f, 210.0f}) {
        meta_field_update(beat);
        std::memcpy(got.data(), meta_lattice->points, count * sizeof(LatticePoint));
        lattice_scale_values(meta_lattice, 1.0f);  // every row counts as written: a full copy
        meta_field_update(beat);
        for (int32_t i = 0; i < count; i++) {
            ASSERT_EQ(std::memcmp(&got[i].normal, &meta_lattice->points[i].normal, 4 * sizeof(float)), 0)
                << "point " << i << " at " << beat;
        }
    }
    scene_carved_box_free();
}

TEST(CarvedBoxScene, InitFreePairingAndQuadLayout) {
    ASSERT_EQ(display_open_offscreen(1), 0);
    ASSERT_EQ(scene_carved_box_init(), 0);
    ASSERT_EQ(scene_carved_box_init(), 0);  // a second init replaces everything
    ASSERT_NE(meta_sprites, nullptr);
    ASSERT_EQ(meta_sprites->vertex_count, 128);
    ASSERT_EQ(meta_sprites->triangle_count, 64);
    const MeshTriangle* t = meta_sprites->triangles;
    EXPECT_EQ(t[10].vertex_a, 20);
    EXPECT_EQ(t[10].vertex_b, 22);
    EXPECT_EQ(t[10].vertex_c, 21);
    EXPECT_EQ(t[11].vertex_a, 20);
    EXPECT_EQ(t[11].vertex_b, 23);
    EXPECT_EQ(t[11].vertex_c, 22);
    EXPECT_EQ(t[63].lit_colour, 0xFFFFFFFFu);
    EXPECT_EQ(t[63].visible, 1);
    // Without textures loaded the frame draws nothing and does not fail.
    frame_begin();
    frame_clear(0xFF7F7F7Fu);
    demo_clock.clock_beat = 200.0f;
    scene_carved_box_render(0.0f);
    EXPECT_EQ(framebuffer.pixels[240 * 640 + 320], 0xFF7F7F7Fu);
    scene_carved_box_free();
    EXPECT_EQ(meta_lattice, nullptr);
    EXPECT_EQ(meta_sprites, nullptr);
    scene_carved_box_free();
    scene_carved_box_render(0.0f);
    meta_field_update(200.0f);  // freed: harmless
    display_close();
}

// With the data set: the block fills the middle of the screen, the glows add light on top, and a
// freed scene leaves the frame alone.
struct CarvedBoxData : SceneData {};

TEST_F(CarvedBoxData, DrawsTheCarvedBlockOverItsBeats) {
    ASSERT_EQ(scene_carved_box_init(), 0);
    const uint32_t grey = 0xFF7F7F7Fu;
    for (float beat = 192.0f; beat < 256.0f; beat += 6.7f) {
        frame_begin();
        frame_clear(grey);
        demo_clock.clock_beat = beat;
        scene_carved_box_render(0.0f);
        int drawn = 0, near = 0;
        for (int p = 0; p < 640 * 480; p++) {
            drawn += framebuffer.pixels[p] != grey;
            near += depth_buffer->values[p] != 0x7FFFFFFF;
        }
        EXPECT_GT(drawn, 640 * 480 / 10) << beat;
        EXPECT_GT(near, 640 * 480 / 10) << beat;
    }
    scene_carved_box_free();
    frame_clear(grey);
    scene_carved_box_render(0.0f);
    EXPECT_EQ(framebuffer.pixels[240 * 640 + 320], grey);
}

}  // namespace
