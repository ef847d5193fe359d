// The ray-cast sphere grid: grid layout, the rotation order, the ray casting's hits and shades, and
// the scene's drawing and lifecycle.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <unistd.h>
#include <vector>

#include "gfx/display.h"
#include "gfx/image.h"
#include "runtime/clock.h"
#include "scenes/scenes.h"
#include "scenes/sphere_grid.h"

namespace {

const float kPi = 3.14159265358979323846f;

TEST(GridLayout, CornersSitOnTheCellsAndResetRestoresThem) {
    ScreenGrid* g = grid_create(40, 32, 16, 15);
    ASSERT_NE(g, nullptr);
    EXPECT_EQ(g->grid_vertex_count, 41 * 33);
    EXPECT_EQ(g->grid_texture, nullptr);
    const MeshVertex& last = g->grid_vertices[41 * 33 - 1];
    EXPECT_EQ(last.sx, 640.0f);
    EXPECT_EQ(last.sy, 480.0f);
    const MeshVertex& v = g->grid_vertices[3 * 41 + 5];  // row 3, column 5
    EXPECT_EQ(v.sx, 80.0f);
    EXPECT_EQ(v.sy, 45.0f);
    EXPECT_EQ(v.sz, 1.0f);
    EXPECT_EQ(v.rhw, 1.0f);
    EXPECT_FLOAT_EQ(v.u, 5.0f / 16.0f);
    EXPECT_FLOAT_EQ(v.v, 3.0f / 15.0f);
    EXPECT_EQ(v.colour, 0xFFFFFFFFu);

    g->grid_vertices[3 * 41 + 5].sx = -7.0f;
    g->grid_vertices[3 * 41 + 5].colour = 0;
    grid_reset(g);
    EXPECT_EQ(v.sx, 80.0f);
    EXPECT_FLOAT_EQ(v.u, 5.0f / 40.0f);
    EXPECT_FLOAT_EQ(v.v, 3.0f / 32.0f);
    EXPECT_EQ(v.colour, 0xFFFFFFFFu);
    grid_free(g);
}

TEST(GridLayout, ImpossibleSizesGiveNoGrid) {
    EXPECT_EQ(grid_create(0, 32, 16, 15), nullptr);
    EXPECT_EQ(grid_create(40, -1, 16, 15), nullptr);
    EXPECT_EQ(grid_create(40, 32, 0, 15), nullptr);
    EXPECT_EQ(grid_create(1 << 30, 1 << 30, 1, 1), nullptr);
    grid_free(nullptr);
}

TEST(RotateXyz, TurnsThePairsInOrder) {
    // (x, z) first: (1, 0, 0) -> (0, 0, 1); then (y, z): -> (0, -1, 0). The other order gives (0, 0, 1).
    Vec3 v = {1.0f, 0.0f, 0.0f};
    Vec3 a = {kPi / 2, kPi / 2, 0.0f};
    rotate_xyz(&v, &a);
    EXPECT_NEAR(v.x, 0.0f, 1e-6f);
    EXPECT_NEAR(v.y, -1.0f, 1e-6f);
    EXPECT_NEAR(v.z, 0.0f, 1e-6f);
    // The third turn is (x, y) after the others.
    v = {0.0f, 0.0f, 1.0f};
    a = {0.0f, kPi / 2, kPi / 2};
    rotate_xyz(&v, &a);  // (y, z): (0, -1, 0); (x, y): (1, 0, 0)
    EXPECT_NEAR(v.x, 1.0f, 1e-6f);
    EXPECT_NEAR(v.y, 0.0f, 1e-6f);
    EXPECT_NEAR(v.z, 0.0f, 1e-6f);
    // Lengths are kept for arbitrary angles.
    v = {0.3f, -1.2f, 2.5f};
    a = {0.7f, -1.9f, 2.4f};
    float before = vec3_length(&v);
    rotate_xyz(&v, &a);
    EXPECT_NEAR(vec3_length(&v), before, 1e-5f);
}

// A corner whose ray before turning points straight down +z: 0.4 * 180 below the centre row.
struct Trace : ::testing::Test {
    ScreenGrid* g = nullptr;
    MeshVertex* axis = nullptr;
    void SetUp() override {
        g = grid_create(40, 32, 16, 15);
        ASSERT_NE(g, nullptr);
        grid_reset(g);
        axis = &g->grid_vertices[0];
        axis->sx = 320.0f;
        axis->sy = 240.0f + 0.4f * 180.0f;
    }
    void TearDown() override { grid_free(g); }
};

TEST_F(Trace, ShadeIsFullAlongTheAxisAndZeroAcrossIt) {
    Vec3 o = {0, 0, 0}, straight = {0, 0, 0}, across = {kPi / 2, 0, 0};
    grid_trace_sphere(g, &o, &straight, 512.0f, 180.0f);
    EXPECT_EQ(axis->colour, 0xFFFFFFFFu);
    // The hit is (0, 0, 512): atan2(512, 0) is a quarter turn in both coordinates.
    EXPECT_NEAR(axis->u, 1.0f, 1e-6f);
    EXPECT_NEAR(axis->v, -1.0f, 1e-6f);
    // At right angles the shade is raised to 0.1, and 0.1^4 * 255 truncates to 0.
    grid_trace_sphere(g, &o, &across, 512.0f, 180.0f);
    EXPECT_EQ(axis->colour, 0u);
    // Halfway: cos(pi/3)^4 * 255 = 15.9 -> 15, in every byte.
    Vec3 third = {kPi / 3, 0, 0};
    grid_trace_sphere(g, &o, &third, 512.0f, 180.0f);
    EXPECT_EQ(axis->colour, 15u * 0x01010101u);
}

TEST_F(Trace, EveryRayFromInsideHitsTheWallAheadOfIt) {
    Vec3 o, a;
    for (float beat = 0.0f; beat < 32.0f; beat += 0.37f) {
        sphere_grid_view(beat, &o, &a);
        ASSERT_LT(vec3_length(&o), 512.0f) << beat;
        grid_reset(g);
        grid_trace_sphere(g, &o, &a, 512.0f, 180.0f);
        for (int k = 0; k < g->grid_vertex_count; k += 7) {
            const MeshVertex& v = g->grid_vertices[k];
            // Rebuild the hit from the written coordinates' angles: both are finite and in range.
            ASSERT_TRUE(std::isfinite(v.u) && std::isfinite(v.v));
            ASSERT_LE(std::fabs(v.u), 2.0f);
            ASSERT_LE(std::fabs(v.v), 2.0f);
            uint32_t grey = v.colour & 0xFF;
            ASSERT_EQ(v.colour, grey * 0x01010101u);
        }
    }
    // The hit lies on the sphere in front of the origin: check one corner by hand.
    sphere_grid_view(5.0f, &o, &a);
    grid_reset(g);
    const MeshVertex corner = g->grid_vertices[41 * 10 + 30];
    grid_trace_sphere(g, &o, &a, 512.0f, 180.0f);
    Vec3 d = {(corner.sx - 320.0f) / 180.0f, (corner.sy - 240.0f) / 180.0f - 0.4f, 0.7f};
    rotate_xyz(&d, &a);
    vec3_normalize(&d, &d);
    // Walk along the ray until the wall: the u and v of that point must match.
    float lo = 0.0f, hi = 2048.0f;
    for (int i = 0; i < 60; i++) {
        float mid = (lo + hi) / 2;
        Vec3 p;
        vec3_scale_add(&d, mid, &o, &p);
        (vec3_length(&p) < 512.0f ? lo : hi) = mid;
    }
    Vec3 p;
    vec3_scale_add(&d, lo, &o, &p);
    EXPECT_NEAR(g->grid_vertices[41 * 10 + 30].u, 2.0f * std::atan2(p.z, p.x) / kPi, 1e-3f);
    EXPECT_NEAR(g->grid_vertices[41 * 10 + 30].v, -2.0f * std::atan2(p.z, p.y) / kPi, 1e-3f);
}

TEST_F(Trace, RaysThatMissFromOutsideStayBlack) {
    Vec3 straight = {0, 0, 0};
    // Beside the sphere, looking past it: no hit at all.
    Vec3 beside = {0, 100.0f, -200.0f};
    grid_trace_sphere(g, &beside, &straight, 50.0f, 180.0f);
    EXPECT_EQ(axis->colour, 0u);
    EXPECT_EQ(axis->u, 0.0f);
    EXPECT_EQ(axis->v, 0.0f);
    // Beyond the sphere, looking away from it: both hits lie behind.
    Vec3 beyond = {0, 0, 200.0f};
    grid_trace_sphere(g, &beyond, &straight, 50.0f, 180.0f);
    EXPECT_EQ(axis->colour, 0u);
    // In front of it, looking at it: the inside of the far wall, fully lit.
    Vec3 before = {0, 0, -200.0f};
    grid_trace_sphere(g, &before, &straight, 50.0f, 180.0f);
    EXPECT_EQ(axis->colour, 0xFFFFFFFFu);
    EXPECT_NEAR(axis->u, 1.0f, 1e-5f);  // hit (0, 0, 50)
    // No focal length, no direction: nothing drawn rather than NaN coordinates.
    Vec3 o = {0, 0, 0};
    grid_trace_sphere(g, &o, &straight, 512.0f, 0.0f);
    for (int k = 0; k < g->grid_vertex_count; k++)
        ASSERT_TRUE(std::isfinite(g->grid_vertices[k].u) && std::isfinite(g->grid_vertices[k].v));
}

// The scene on an off-screen display with a white texture in slot 1.
struct Scene : ::testing::Test {
    Image* white = nullptr;
    void SetUp() override {
        ASSERT_EQ(display_open_offscreen(0), 0);
        white = image_new(64, 64);
        for (int p = 0; p < 64 * 64; p++) white->pixels[p] = 0xFFFFFFFFu;
        texture_table.textures[1] = white;
        ASSERT_EQ(scene_sphere_grid_init(), 0);
    }
    void TearDown() override {
        scene_sphere_grid_free();
        texture_table.textures[1] = nullptr;
        image_free(white);
        display_close();
    }
    void frame(float beat) {
        frame_clear(0xFF000000u);
        demo_clock.clock_beat = beat;
        scene_sphere_grid_render(0.0f);
    }
};

TEST_F(Scene, AddsTheCornerShadesOverTheWholeScreen) {
    frame(3.0f);
    const ScreenGrid* g = sphere_grid_current();
    ASSERT_NE(g, nullptr);
    EXPECT_EQ(g->grid_texture, white);
    // With a white texture each cell corner's pixel shows that corner's grey, added to black.
    int checked = 0;
    for (int i = 1; i < 32; i += 5) {
        for (int j = 0; j < 40; j += 3) {
            uint32_t grey = g->grid_vertices[i * 41 + j].colour & 0xFF;
            uint32_t px = framebuffer.pixels[(i * 15) * 640 + j * 16];
            int got = (int)(px & 0xFF);
            EXPECT_NEAR(got, (int)grey, 2) << i << "," << j;
            EXPECT_EQ((px >> 8) & 0xFF, px & 0xFF);
            checked++;
        }
    }
    EXPECT_GT(checked, 50);
    // Every pixel lies between the greys of its cell's corners: a gap, a culled triangle or a
    // miswired corner would fall outside. Horizontal top edges exclude their pixels, so the grid
    // starting at y = 0 leaves the top screen row to what lies under it.
    for (int x = 0; x < 640; x++) ASSERT_EQ(framebuffer.pixels[x], 0xFF000000u) << x;
    int outside = 0;
    for (int y = 1; y < 480; y++) {
        for (int x = 0; x < 640; x++) {
            int i = y / 15, j = x / 16;
            const MeshVertex* c = &g->grid_vertices[i * 41 + j];
            int k[4] = {(int)(c[0].colour & 0xFF), (int)(c[1].colour & 0xFF), (int)(c[41].colour & 0xFF),
                        (int)(c[42].colour & 0xFF)};
            int lo = *std::min_element(k, k + 4), hi = *std::max_element(k, k + 4);
            int got = (int)(framebuffer.pixels[y * 640 + x] & 0xFF);
            outside += got < lo - 2 || got > hi + 1;
        }
    }
    EXPECT_EQ(outside, 0);
}

TEST_F(Scene, ThePictureDependsOnTheBeatAlone) {
    frame(7.25f);
    std::vector<uint32_t> first(framebuffer.pixels, framebuffer.pixels + 640 * 480);
    frame(20.0f);
    std::vector<uint32_t> other(framebuffer.pixels, framebuffer.pixels + 640 * 480);
    frame(7.25f);
    EXPECT_TRUE(std::equal(first.begin(), first.end(), framebuffer.pixels));
    EXPECT_FALSE(std::equal(first.begin(), first.end(), other.begin()));
}

TEST_F(Scene, InitAfterFreeAndAMissingTextureAreHarmless) {
    scene_sphere_grid_free();
    EXPECT_EQ(sphere_grid_current(), nullptr);
    frame(1.0f);  // freed: draws nothing, touches nothing
    EXPECT_EQ(framebuffer.pixels[240 * 640 + 320], 0xFF000000u);
    scene_sphere_grid_free();
    ASSERT_EQ(scene_sphere_grid_init(), 0);
    ASSERT_EQ(scene_sphere_grid_init(), 0);  // a second init replaces the grid without a leak
    texture_table.textures[1] = nullptr;
    frame(1.0f);
    EXPECT_EQ(framebuffer.pixels[240 * 640 + 320], 0xFF000000u);
    texture_table.textures[1] = white;
}

// The real data set, when the build has made it: the scene over its beats with the real texture.
TEST(SphereGridData, RunsOverItsBeatsWithTheDataSet) {
    if (chdir(QUILLET_BINARY_DIR) != 0 || access("data", F_OK) != 0) GTEST_SKIP() << "no data set";
    ASSERT_EQ(display_open_offscreen(1), 0);
    ASSERT_EQ(textures_init(), 0);
    ASSERT_EQ(scene_sphere_grid_init(), 0);
    uint64_t sum = 0;
    for (float beat = 0.0f; beat < 32.0f; beat += 4.0f) {
        frame_clear(0xFF000000u);
        demo_clock.clock_beat = beat;
        scene_sphere_grid_render(0.0f);
        for (int p = 0; p < 640 * 480; p += 97) sum += framebuffer.pixels[p] & 0xFF;
    }
    EXPECT_GT(sum, 0u);
    scene_sphere_grid_free();
    textures_free();
    display_close();
}

}  // namespace
