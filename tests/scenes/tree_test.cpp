// The tree scene's tubes (ring counts, widths, a start frame on a line through the origin), the
// greeting line layout, and the scene over its beats with the data set.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <vector>

#include "gfx/display.h"
#include "gfx/image.h"
#include "procedural/noise.h"
#include "runtime/clock.h"
#include "scenes/scenes.h"
#include "scenes/tree_ops.h"

namespace {

Envelope* line_curve(float start, float a, float b) {
    Envelope* e = envelope_new();
    for (int i = 0; i < 4; i++) {
        EnvelopeKey* k = key_new();
        k->time = start + (float)i / 3.0f;
        k->value = a + (b - a) * (float)i / 3.0f;
        envelope_insert_key(e, k);
    }
    return e;
}

// A straight vertical tube from (ox, 0, oz) to (ox, 6, oz) over parameters 0..1.
SplineTube* vertical_tube(float ox, float oz) {
    return spline_tube_create(0.0f, 1.0f, 18, 3, line_curve(0, ox, ox), line_curve(0, 0, 6),
                              line_curve(0, oz, oz));
}

float ring_radius(const SplineTube* tube, int ring, float ox, float oz) {
    const MeshVertex& v = tube->mesh->vertices[ring * tube->sides];
    return std::hypot(v.px - ox, v.pz - oz);
}

TEST(TreeTube, RingsFollowTheBuildTimeAndStayInsideTheMesh) {
    SplineTube* tube = vertical_tube(3.0f, 1.0f);
    ASSERT_NE(tube, nullptr);
    EXPECT_EQ(tube->max_vertices, 18 * 3 + 6);
    EXPECT_EQ(tube->max_triangles, (6 * 18 * 3 + 9) / 3);
    for (float x : {-1.0f, 0.0f}) {  // not started: nothing at all
        spline_tube_build(tube, nullptr, x);
        EXPECT_EQ(tube->triangle_count, 0);
        EXPECT_EQ(tube->vertex_count, 0);
    }
    spline_tube_build(tube, nullptr, 0.01f);  // just started: the two-ring minimum
    EXPECT_EQ(tube->rings_built, 2);
    EXPECT_EQ(tube->triangle_count, 6);
    spline_tube_build(tube, nullptr, 0.5f);
    EXPECT_EQ(tube->rings_built, 9);
    EXPECT_EQ(tube->mesh->vertex_count, 27);
    EXPECT_EQ(tube->mesh->triangle_count, 8 * 6);
    for (float x : {1.0f, 7.5f}) {  // grown: capped at the full length
        spline_tube_build(tube, nullptr, x);
        EXPECT_EQ(tube->rings_built, 18);
        EXPECT_EQ(tube->triangle_count, 17 * 6);
        const MeshVertex& last = tube->mesh->vertices[17 * 3 + 2];
        EXPECT_FLOAT_EQ(last.v, 17.0f / 18.0f);
        EXPECT_FLOAT_EQ(last.u, 2.0f / 3.0f);
        EXPECT_NEAR(last.py, 6.0f, 1e-3f);  // the last ring sits at the curve's end
    }
    for (int i = 0; i < tube->triangle_count; i++) {
        const MeshTriangle& t = tube->mesh->triangles[i];
        EXPECT_LT(t.vertex_c, tube->vertex_count);
        EXPECT_LT(t.vertex_b, tube->vertex_count);
    }
    spline_tube_free(tube);
    spline_tube_free(nullptr);
}

TEST(TreeTube, WidthNarrowsAlongTheTubeAndSwellsWithThePulse) {
    // Starting at the origin the tangent and the start point are in a line; the tube must still
    // get a cross-section instead of collapsing onto its centre line.
    for (float ox : {0.0f, 2.0f}) {
        SplineTube* tube = vertical_tube(ox, 0.0f);
        spline_tube_profile(tube, 1, 1, 1, 1, 1, 1, 2.0f);
        spline_tube_build(tube, nullptr, 1.0f);
        EXPECT_NEAR(ring_radius(tube, 0, ox, 0), 2.0f, 1e-3f) << ox;
        EXPECT_NEAR(ring_radius(tube, 9, ox, 0), 2.0f * 0.5f, 1e-3f) << ox;
        Envelope* pulse = envelope_new();
        const float times[3] = {0.25f, 0.5f, 0.75f}, values[3] = {0, 1.5f, 0};
        for (int i = 0; i < 3; i++) {
            EnvelopeKey* k = key_new();
            k->time = times[i];
            k->value = values[i];
            envelope_insert_key(pulse, k);
        }
        spline_tube_build(tube, pulse, 1.0f);
        EXPECT_NEAR(ring_radius(tube, 9, ox, 0), 2.0f * 2.0f, 1e-3f);  // 0.5 + 1.5 at the key
        EXPECT_NEAR(ring_radius(tube, 0, ox, 0), 2.0f, 1e-3f);         // before the pulse
        envelope_free(pulse);
        spline_tube_free(tube);
    }
}

TEST(TreeTube, ProfileIsASuperformulaWithAZeroGuard) {
    SplineTube* tube = vertical_tube(0, 0);
    EXPECT_FLOAT_EQ(tube->profile[1].x, std::cos(6.283185f / 3.0f));  // default: unit circle
    spline_tube_profile(tube, 1, 1, 1, 1, 1, 1, 2.5f);
    EXPECT_FLOAT_EQ(tube->profile[0].x, 2.5f);
    const float phi = 6.283185f / 3.0f, r = std::fabs(std::cos(phi / 4)) + std::fabs(std::sin(phi / 4));
    EXPECT_NEAR(tube->profile[1].y, std::sin(phi) / r * 2.5f, 1e-5f);
    spline_tube_profile(tube, 1e10f, 1e10f, 0, 1, 10, 10, 1);  // r underflows to 0
    for (int j = 0; j < 3; j++) {
        EXPECT_EQ(tube->profile[j].x, 0.0f);
        EXPECT_EQ(tube->profile[j].y, 0.0f);
    }
    spline_tube_free(tube);
    EXPECT_EQ(spline_tube_create(1, 1, 18, 3, envelope_new(), nullptr, nullptr), nullptr);
}

TEST(TreeGreeting, SpacesAndHiddenTipsAdvanceWithoutDrawing) {
    const char* heading = tree_greeting(0);
    ASSERT_STREQ(heading, "we give knark to");
    EXPECT_STREQ(tree_greeting(7), "grindlow");
    EXPECT_STREQ(tree_greeting(9), "grindlow");
    EXPECT_STREQ(tree_greeting(-1), heading);
    int shown[16], letter[16], x[16];
    for (int& s : shown) s = 1;
    int n = greeting_line(heading, 16, shown, 100, letter, x);
    ASSERT_EQ(n, 13);
    EXPECT_EQ(letter[2], 'g' - 'a');
    EXPECT_EQ(x[2], 100 + 3 * 16);  // "we " then g
    EXPECT_EQ(x[12], 100 + 15 * 16);
    shown[0] = 0;
    n = greeting_line(heading, 5, shown, 0, letter, x);  // fewer tips than letters
    ASSERT_EQ(n, 3);
    EXPECT_EQ(x[0], 16);
    EXPECT_EQ(x[2], 64);
}

struct TreeData : ::testing::Test {
    void SetUp() override {
        const char* root = std::getenv("QUILLET_TEST_DATA_ROOT");
        if (chdir(root ? root : QUILLET_BINARY_DIR) != 0 || access("data", F_OK) != 0)
            GTEST_SKIP() << "no data set";
        ASSERT_EQ(display_open_offscreen(1), 0);
        noise_init(0);
        ASSERT_EQ(textures_init(), 0);
        ASSERT_EQ(scene_tree_init(), 0);
    }
    void TearDown() override {
        scene_tree_free();
        textures_free();
        display_close();
    }
    void render(float beat) {
        frame_begin();
        frame_clear(0xFF7F7F7Fu);
        demo_clock.clock_beat = beat;
        scene_tree_render(beat * 60.0f / 105.0f);
    }
};

int drawn_branches(float c) {
    int n = 0;
    for (int i = 0; i < tree_branch_count(); i++) {
        int ok = 1;
        for (SplineTube* b = tree_branch(i); b; b = b->parent) ok &= b->t_start < c;
        n += ok;
    }
    return n;
}

TEST_F(TreeData, GrowsFromNothingAndTipsFollowThePulse) {
    ASSERT_EQ(tree_branch_count(), 21);  // trunk, four branches, sixteen twigs
    EXPECT_LT(tree_branch(0)->curve_y->keys->value, -1.0f);  // the trunk starts underground
    for (float beat : {158.0f, 160.0f}) {
        render(beat);
        EXPECT_EQ(tree_tip_count(), 0) << beat;
    }
    for (float beat : {160.3f, 160.9f, 161.5f, 163.0f, 170.0f, 191.9f}) {
        render(beat);
        EXPECT_EQ(tree_tip_count(), drawn_branches(beat - 160.0f)) << beat;
    }
    EXPECT_EQ(tree_tip_count(), 21);
    // Beat 160.5: the pulse's peak is at -0.75, before every branch starts, so no tip is shown.
    render(160.5f);
    for (int i = 0; i < tree_tip_count(); i++) EXPECT_EQ(tree_tips()[i].y, -100.0f);
    render(163.9f);  // peak at 2.15: every branch is reached
    for (int i = 0; i < tree_tip_count(); i++) EXPECT_GT(tree_tips()[i].y, -99.0f);
}

TEST_F(TreeData, TheShapeIsFixedAcrossInitsAndFreeReleasesIt) {
    render(175.0f);
    std::vector<Vec3> first(tree_tips(), tree_tips() + tree_tip_count());
    scene_tree_free();
    EXPECT_EQ(tree_branch_count(), 0);
    EXPECT_EQ(tree_growth_curve(), nullptr);
    render(175.0f);  // freed: draws nothing, no crash
    ASSERT_EQ(scene_tree_init(), 0);
    ASSERT_EQ(scene_tree_init(), 0);  // a second init replaces everything
    render(175.0f);
    ASSERT_EQ((size_t)tree_tip_count(), first.size());
    for (size_t i = 0; i < first.size(); i++) {
        EXPECT_FLOAT_EQ(tree_tips()[i].x, first[i].x);
        EXPECT_FLOAT_EQ(tree_tips()[i].z, first[i].z);
    }
}

TEST(TreeInit, FailsCleanlyWithoutTheObjects) {
    char saved[4096];
    ASSERT_NE(getcwd(saved, sizeof saved), nullptr);
    ASSERT_EQ(chdir("/"), 0);
    EXPECT_EQ(scene_tree_init(), 1);
    EXPECT_EQ(tree_branch_count(), 0);
    EXPECT_EQ(tree_growth_curve(), nullptr);
    ASSERT_EQ(chdir(saved), 0);
}

}  // namespace
