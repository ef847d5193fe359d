// The rope scene's schedules, the rope update (anchors, pulled middles, wind, step length), the cube
// strings, and the scene over its beats with the data set.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "gfx/display.h"
#include "gfx/image.h"
#include "gfx/simd.h"
#include "procedural/noise.h"
#include "render3d/clip.h"
#include "runtime/clock.h"
#include "scenes/scenes.h"
#include "scenes/springs_ropes.h"
#include "support/test_support.h"

namespace {

void expect_near(Vec3 a, Vec3 b, float tolerance) {
    EXPECT_NEAR(a.x, b.x, tolerance);
    EXPECT_NEAR(a.y, b.y, tolerance);
    EXPECT_NEAR(a.z, b.z, tolerance);
}

TEST(SpringsSchedule, EyeStartsAtTheCentreThenFollowsItsFourPhases) {
    // Beats 266, 274, 278 and 282 have the same fraction and the same time offsets cancel, so the
    // differences to beat 266 are the phase moves alone (the noise part is identical at equal t).
    const float t = 150.0f;
    Vec3 base = springs_eye(266.0f, t);
    EXPECT_FLOAT_EQ(base.z, 72.0f);
    EXPECT_FLOAT_EQ(springs_eye(256.0f, t).z, 4.0f);   // almost at the centre
    EXPECT_FLOAT_EQ(springs_eye(258.0f, t).z, 38.0f);  // half-way back
    EXPECT_FLOAT_EQ(springs_eye(272.0f, t).z, 72.0f);  // phases start after beat 272
    Vec3 e = springs_eye(274.0f, t);                    // phase 0, half-way
    expect_near(Vec3{e.x - base.x, e.y - base.y, e.z}, Vec3{4.0f, -2.0f, 56.0f}, 1e-4f);
    e = springs_eye(278.0f, t);                         // phase 1: a fixed offset
    expect_near(Vec3{e.x - base.x, e.y - base.y, e.z}, Vec3{-8.0f, 8.0f, 20.0f}, 1e-4f);
    e = springs_eye(282.0f, t);                         // phase 2
    expect_near(Vec3{e.x - base.x, e.y - base.y, e.z}, Vec3{0.0f, -4.0f, 48.0f}, 1e-4f);
    e = springs_eye(286.0f, t);                         // phase 3: unchanged
    expect_near(Vec3{e.x - base.x, e.y - base.y, e.z}, Vec3{0.0f, 0.0f, 72.0f}, 1e-4f);
    EXPECT_FLOAT_EQ(springs_eye(290.0f, t).z, 56.0f);  // and round again
}

TEST(SpringsSchedule, PullsInTheSecondAndFourthOfEveryFourPhases) {
    float m, k;
    int pin;
    for (float beat : {256.0f, 263.9f, 272.0f, 279.9f, 288.0f, 311.9f}) {
        springs_pull(beat, &m, &k, &pin);
        EXPECT_EQ(pin, 0) << beat;
        EXPECT_EQ(m, 0.0f) << beat;
    }
    springs_pull(264.0f, &m, &k, &pin);
    EXPECT_EQ(pin, 1);
    EXPECT_EQ(m, 0.0f);
    EXPECT_EQ(k, 0.0f);
    springs_pull(266.0f, &m, &k, &pin);  // w = 0.5: the pull eases in
    EXPECT_FLOAT_EQ(m, 0.3125f);
    EXPECT_FLOAT_EQ(k, 0.5f);
    springs_pull(268.0f, &m, &k, &pin);  // w = 1: anchors out by half, middles in by half
    EXPECT_FLOAT_EQ(m, 0.5f);
    EXPECT_FLOAT_EQ(k, 1.0f);
    springs_pull(270.0f, &m, &k, &pin);
    EXPECT_FLOAT_EQ(k, 1.0f);            // held fully while it lets go
    EXPECT_FLOAT_EQ(m, 0.3125f);
    springs_pull(284.0f, &m, &k, &pin);  // the fourth phase pushes the other way
    EXPECT_EQ(pin, 1);
    EXPECT_FLOAT_EQ(m, -0.5f);
    springs_pull(300.0f, &m, &k, &pin);  // phases repeat every 32 beats
    EXPECT_FLOAT_EQ(m, 0.5f);
}

// The ropes without the data set: the cube mesh is not needed to build and step chains.
struct Ropes : ::testing::Test {
    void SetUp() override {
        for (int i = 0; i < ROPE_COUNT; i++) {
            ropes[i] = spring_rope_new(&rope_specs[i].start, &rope_specs[i].end, rope_specs[i].masses);
            ASSERT_NE(ropes[i], nullptr);
            ropes[i]->masses[ropes[i]->mass_count - 1].pinned = 1;
        }
        saved_delta = demo_clock.clock_delta;
    }
    void TearDown() override {
        scene_springs_free();
        demo_clock.clock_delta = saved_delta;
    }
    double saved_delta = 0;
};

TEST_F(Ropes, TheCubeHasTwentySixRopesOfTheRightLengths) {
    int masses = 0;
    for (int i = 0; i < ROPE_COUNT; i++) {
        const RopeSpec& r = rope_specs[i];
        Vec3 d;
        vec3_sub(&r.end, &r.start, &d);
        float len = vec3_length(&d);
        // Edges, face diagonals and space diagonals, with more masses on the longer ropes.
        const int expected = len < 33 ? 40 : len < 46 ? 56 : 64;
        EXPECT_EQ(r.masses, expected) << i;
        EXPECT_TRUE(len == 32.0f || std::fabs(len - 32.0f * std::sqrt(2.0f)) < 1e-3f ||
                    std::fabs(len - 32.0f * std::sqrt(3.0f)) < 1e-3f) << i;
        masses += r.masses;
    }
    EXPECT_EQ(masses, 1280);  // one cube drawn per mass
}

TEST_F(Ropes, PullPlacesAnchorsAndMiddlesWithoutFlinging) {
    for (int i = 0; i < ROPE_COUNT; i++) ropes[i]->masses[ropes[i]->mass_count / 2].pinned = 1;
    demo_clock.clock_delta = 0.0;  // no frame time: the step falls back to 1/60 s
    ropes_update(0.0f, 0.5f, 1.0f, 1);  // time 0: no turn
    for (int i = 0; i < ROPE_COUNT; i++) {
        const SpringSystem* r = ropes[i];
        const RopeSpec& s = rope_specs[i];
        EXPECT_FLOAT_EQ(r->time_step, 1.0f / 60.0f);
        expect_near(r->masses[0].position, Vec3{s.start.x * 1.5f, s.start.y * 1.5f, s.start.z * 1.5f}, 1e-4f);
        expect_near(r->masses[r->mass_count - 1].position, Vec3{s.end.x * 1.5f, s.end.y * 1.5f, s.end.z * 1.5f}, 1e-4f);
        const SpringMass& mid = r->masses[r->mass_count / 2];
        Vec3 half = {(s.start.x + s.end.x) * 0.25f, (s.start.y + s.end.y) * 0.25f, (s.start.z + s.end.z) * 0.25f};
        expect_near(mid.position, half, 1e-4f);
        expect_near(mid.previous, mid.position, 0.0f);
    }
    demo_clock.clock_delta = -1.0;
    ropes_update(0.0f, 0.0f, 0.0f, 0);
    EXPECT_FLOAT_EQ(ropes[0]->time_step, 1.0f / 60.0f);
    demo_clock.clock_delta = 0.02;
    ropes_update(0.0f, 0.0f, 0.0f, 0);
    EXPECT_FLOAT_EQ(ropes[0]->time_step, 0.02f);
}

TEST_F(Ropes, ReleasedMiddlesMoveWithTheSimulation) {
    for (int i = 0; i < ROPE_COUNT; i++) ropes[i]->masses[ropes[i]->mass_count / 2].pinned = 1;
    demo_clock.clock_delta = 1.0 / 60.0;
    ropes_update(0.0f, 0.5f, 1.0f, 1);  // middles pulled in, ropes stretched
    const Vec3 held = ropes[0]->masses[20].position;
    ropes_update(0.0f, 0.5f, 1.0f, 1);
    expect_near(ropes[0]->masses[20].position, held, 1e-5f);  // pinned: stays put
    for (int i = 0; i < ROPE_COUNT; i++) ropes[i]->masses[ropes[i]->mass_count / 2].pinned = 0;
    for (int n = 0; n < 10; n++) ropes_update(0.0f, 0.0f, 0.0f, 0);
    Vec3 d;
    vec3_sub(&ropes[0]->masses[20].position, &held, &d);
    EXPECT_GT(vec3_length(&d), 0.1f);  // free again: the stretched springs pull it along
}

TEST_F(Ropes, StaySoundOverTheWholeSection) {
    noise_init(0);
    demo_clock.clock_delta = 1.0 / 60.0;
    for (int frame = 0; frame < 64 * 60 * 60 / 105; frame++) {
        const float t = 146.2857208f + frame / 60.0f;
        const float beat = t * 105.0f / 60.0f;
        float m, k;
        int pin;
        springs_pull(beat, &m, &k, &pin);
        for (int i = 0; i < ROPE_COUNT; i++) ropes[i]->masses[ropes[i]->mass_count / 2].pinned = pin;
        ropes_update(t - 146.2857208f, m, k, pin);
    }
    for (int i = 0; i < ROPE_COUNT; i++)
        for (int j = 0; j < ropes[i]->mass_count; j++) {
            const Vec3& p = ropes[i]->masses[j].position;
            ASSERT_TRUE(std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.z)) << i << " " << j;
            EXPECT_LT(vec3_length(&p), 100.0f) << i << " " << j;
        }
}

Camera rope_camera(Vec3 eye) {
    Camera c = {};
    c.eye = eye;
    camera_set_screen(&c, 1, 256);
    return c;
}

// The scene and the cube strings with the real data set.
struct SpringsData : SceneData {
    void SetUp() override {
        SceneData::SetUp();
        if (ready()) {
            ASSERT_EQ(scene_springs_init(), 0);
        }
    }
    void TearDown() override {
        scene_springs_free();
        SceneData::TearDown();
    }
};

TEST_F(SpringsData, StraightRopeThroughTheCentreIsStillDrawn) {
    // A space diagonal at rest: its first mass, the point before it and the origin are in a line.
    ASSERT_EQ(rope_specs[24].masses, 64);
    rope_cube->texture = texture_get(TEXTURE_CUBE_SHADOW);
    Camera camera = rope_camera(Vec3{0, 0, 72});
    frame_begin();
    frame_clear(0xFF000000u);
    rope_draw(ropes[24], &camera);
    EXPECT_GT(covered(0xFF000000u), 1000);
    frame_begin();
    frame_clear(0xFF000000u);
    rope_draw(ropes[0], &camera);
    EXPECT_GT(covered(0xFF000000u), 1000);
}

TEST_F(SpringsData, DrawsOverItsBeatsAndRebuildsAfterFree) {
    const uint32_t grey = 0xFF7F7F7Fu;
    demo_clock.clock_delta = 1.0 / 60.0;
    for (float beat = 256.0f; beat < 320.0f; beat += 9.1f) {
        frame_begin();
        frame_clear(grey);
        demo_clock.clock_beat = beat;
        scene_springs_render(beat * 60.0f / 105.0f);
        EXPECT_GT(covered(grey), 640 * 480 / 50) << beat;
    }
    scene_springs_free();
    EXPECT_EQ(rope_cube, nullptr);
    for (int i = 0; i < ROPE_COUNT; i++) EXPECT_EQ(ropes[i], nullptr);
    frame_clear(grey);
    scene_springs_render(150.0f);  // freed: nothing drawn
    EXPECT_EQ(covered(grey), 0);
    ASSERT_EQ(scene_springs_init(), 0);
    ASSERT_EQ(scene_springs_init(), 0);  // a second init replaces everything
    // Settled at rest under no wind: the ropes are still straight between their anchors.
    for (int i = 0; i < ROPE_COUNT; i++) {
        const int n = ropes[i]->mass_count;
        Vec3 rest;
        vec3_lerp(&rope_specs[i].start, &rope_specs[i].end, (float)(n / 2) / (float)(n - 1), &rest);
        expect_near(ropes[i]->masses[n / 2].position, rest, 0.02f);
        EXPECT_NE(ropes[i]->masses[ropes[i]->mass_count - 1].pinned, 0);
    }
}

TEST_F(SpringsData, SkippedCubesWouldHaveDrawnNothing) {
    // The scene's own eyes over its beats, with the eye among the ropes and the cube strings past
    // the screen's edges: the ropes drawn with cubes skipped ahead must give the same pixels and
    // depths as every cube taken through the whole pipeline.
    rope_cube->texture = texture_get(TEXTURE_CUBE_SHADOW);
    demo_clock.clock_delta = 1.0 / 60.0;
    const int stride = framebuffer.pitch / 4;
    std::vector<uint32_t> skipped_px, every_px;
    std::vector<int32_t> skipped_z, every_z;
    auto grab = [&](std::vector<uint32_t>* px, std::vector<int32_t>* z) {
        px->clear();
        for (int y = 0; y < 480; y++) px->insert(px->end(), framebuffer.pixels + y * stride, framebuffer.pixels + y * stride + 640);
        z->assign(depth_buffer->values, depth_buffer->values + 640 * 480);
    };
    int out_of_view = 0;
    for (float beat = 256.2f; beat < 320.0f; beat += 2.35f) {
        const float t = beat * 60.0f / 105.0f;
        demo_clock.clock_beat = beat;
        float m, k;
        int pin;
        springs_pull(beat, &m, &k, &pin);
        ropes_update(t - 146.2857208f, m, k, pin);
        Camera camera = {};
        camera.eye = springs_eye(beat, t);
        camera_set_screen(&camera, 1, 256);
        frame_begin();
        frame_clear(0xFF000000u);
        for (int i = 0; i < ROPE_COUNT; i++) rope_draw(ropes[i], &camera);
        grab(&skipped_px, &skipped_z);
        frame_begin();
        frame_clear(0xFF000000u);
        for (int i = 0; i < ROPE_COUNT; i++) rope_draw_every_cube(ropes[i], &camera);
        grab(&every_px, &every_z);
        ASSERT_EQ(skipped_px, every_px) << beat;
        ASSERT_EQ(skipped_z, every_z) << beat;
        ASSERT_GT(covered(0xFF000000u), 1000) << beat;
        CameraCull cull;
        camera_cull_make(&camera, &cull);
        for (int i = 0; i < ROPE_COUNT; i++)
            for (int j = 0; j < ropes[i]->mass_count; j++) out_of_view += camera_cull_ball(&cull, &ropes[i]->masses[j].position, 0.9f);
    }
    EXPECT_GT(out_of_view, 2000);  // the beats really skip cubes
}

TEST(RopeFrames, EverySimdLevelGivesTheSameBits) {
    // Random chains (counts that leave partial groups of four, started mid-chain), with runs of
    // coinciding masses that keep the last direction, the first of a group among them, and steps
    // along the fixed cross where the side falls back to a perpendicular: byte-equal at every level.
    unsigned s = 41;
    auto rnd = [&](float lo, float hi) {
        s = s * 1664525u + 1013904223u;
        return lo + (hi - lo) * (float)(s >> 8) / 16777216.0f;
    };
    const Vec3 a = {0, 0, 0}, b = {1, 0, 0};
    SpringSystem* chain = spring_rope_new(&a, &b, 23);
    ASSERT_NE(chain, nullptr);
    const int best = simd_best_level();
    for (int trial = 0; trial < 60; trial++) {
        const Vec3 r = trial % 3 ? Vec3{rnd(-1, 1), rnd(-1, 1), rnd(-1, 1)} : Vec3{0, 0, 1};
        for (int i = 0; i < chain->mass_count; i++) {
            Vec3* p = &chain->masses[i].position;
            *p = Vec3{rnd(-9, 9), rnd(-9, 9), rnd(-9, 9)};
            if (i > 0 && (i % 5 == 0 || i % 7 == 1)) *p = chain->masses[i - 1].position;
            if (trial % 3 == 0 && i > 0 && i % 3 == 0) *p = chain->masses[i - 1].position, p->z += 0.5f;
        }
        const int first = trial % 4, count = chain->mass_count - first - trial % 5;
        RopeFrame frames[2][23];
        Vec3 q[2], dir[2];
        const Vec3 before = Vec3{rnd(-9, 9), rnd(-9, 9), rnd(-9, 9)};
        for (int k = 0; k < 2; k++) {
            q[k] = trial % 2 ? chain->masses[first].position : before;  // odd: the first step has no length
            dir[k] = Vec3{0.6f, 0.8f, 0.0f};
            simd_use_level(k == 0 ? SIMD_SCALAR : best);
            rope_frames(chain, &r, &q[k], &dir[k], first, count, frames[k]);
        }
        simd_use_level(best);
        ASSERT_EQ(std::memcmp(frames[0], frames[1], (size_t)count * sizeof(RopeFrame)), 0) << trial;
        ASSERT_EQ(std::memcmp(&q[0], &q[1], sizeof(Vec3)), 0) << trial;
        ASSERT_EQ(std::memcmp(&dir[0], &dir[1], sizeof(Vec3)), 0) << trial;
    }
    spring_system_free(chain);
}

TEST(SpringsInit, FailsCleanlyWithoutTheCube) {
    char saved[4096];
    ASSERT_NE(getcwd(saved, sizeof saved), nullptr);
    ASSERT_EQ(chdir("/"), 0);  // no data folder here
    EXPECT_EQ(scene_springs_init(), 1);
    EXPECT_EQ(rope_cube, nullptr);
    for (int i = 0; i < ROPE_COUNT; i++) EXPECT_EQ(ropes[i], nullptr);
    ASSERT_EQ(chdir(saved), 0);
}

}  // namespace
