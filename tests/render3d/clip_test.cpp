// Polygon clipping and the packed-colour helpers.
#include <gtest/gtest.h>

#include <cmath>

#include "render3d/clip.h"

namespace {

MeshVertex vertex(float x, float y, float z, uint32_t colour = 0xFF000000u) {
    MeshVertex v = {};
    v.sx = x;
    v.sy = y;
    v.sz = z;
    v.rhw = 1.0f / (z == 0 ? 1 : z);
    v.u = x / 64.0f;
    v.v = y / 64.0f;
    v.colour = colour;
    v.px = x * 10;  // a marker of which input a record was copied from
    return v;
}

struct ClipDefaults : ::testing::Test {
    void SetUp() override {
        clip_set_depth(1.0f, 96.0f);
        clip_set_rect(0, 0, 640, 480);
    }
    void TearDown() override { SetUp(); }
};

using ClipFn = int (*)(const MeshVertex*, int, MeshVertex*, int);

float signed_area(const MeshVertex* p, int n) {
    double a = 0;
    for (int i = 0; i < n; i++) {
        const MeshVertex& c = p[i];
        const MeshVertex& d = p[(i + 1) % n];
        a += (double)c.sx * d.sy - (double)d.sx * c.sy;
    }
    return (float)(a / 2);
}

}  // namespace

using Clip = ClipDefaults;

TEST_F(Clip, InsideTriangleComesBackRotatedByOne) {
    MeshVertex in[3] = {vertex(10, 10, 0), vertex(100, 20, 0), vertex(50, 90, 0)};
    MeshVertex out[CLIP_BUFFER_SIZE];
    ClipFn fns[] = {clip_polygon_left, clip_polygon_right, clip_polygon_top, clip_polygon_bottom};
    for (ClipFn fn : fns) {
        ASSERT_EQ(fn(in, 3, out, CLIP_BUFFER_SIZE), 3);
        EXPECT_EQ(out[0].sx, 100.0f);
        EXPECT_EQ(out[1].sx, 50.0f);
        EXPECT_EQ(out[2].sx, 10.0f);
    }
    MeshVertex deep[3] = {vertex(0, 0, -5), vertex(1, 0, -6), vertex(0, 1, -7)};
    ASSERT_EQ(clip_polygon_near(deep, 3, out, CLIP_BUFFER_SIZE), 3);
    EXPECT_EQ(out[0].sz, -6.0f);
}

TEST_F(Clip, OneOutsideGivesFourAndTwoOutsideGiveThree) {
    MeshVertex out[CLIP_BUFFER_SIZE];
    MeshVertex one[3] = {vertex(600, 100, 0), vertex(700, 200, 0), vertex(600, 300, 0)};
    int n = clip_polygon_right(one, 3, out, CLIP_BUFFER_SIZE);
    ASSERT_EQ(n, 4);
    for (int i = 0; i < n; i++) EXPECT_LE(out[i].sx, 640.0f);
    // Crossings lie on the edge at the interpolated height, between the endpoints.
    int on_edge = 0;
    for (int i = 0; i < n; i++) {
        if (out[i].sx == 640.0f) {
            on_edge++;
            EXPECT_TRUE(std::fabs(out[i].sy - 140.0f) < 1e-3f || std::fabs(out[i].sy - 260.0f) < 1e-3f)
                << out[i].sy;
            // u follows x, which is now the edge.
            EXPECT_NEAR(out[i].u, 640.0f / 64.0f, 1e-4f);
        }
    }
    EXPECT_EQ(on_edge, 2);
    MeshVertex two[3] = {vertex(600, 100, 0), vertex(700, 200, 0), vertex(680, 300, 0)};
    ASSERT_EQ(clip_polygon_right(two, 3, out, CLIP_BUFFER_SIZE), 3);
    MeshVertex all[3] = {vertex(-10, 100, 0), vertex(-20, 200, 0), vertex(-5, 300, 0)};
    EXPECT_EQ(clip_polygon_left(all, 3, out, CLIP_BUFFER_SIZE), 0);
}

TEST_F(Clip, VertexOnTheEdgeStaysOnceAndTheScreenEdgeIsInside) {
    MeshVertex out[CLIP_BUFFER_SIZE];
    // One vertex exactly at x = 640, the others inside: untouched, no duplicate.
    MeshVertex in[3] = {vertex(500, 100, 0), vertex(640, 200, 0), vertex(500, 300, 0)};
    ASSERT_EQ(clip_polygon_right(in, 3, out, CLIP_BUFFER_SIZE), 3);
    EXPECT_EQ(out[0].sx, 640.0f);
    // The vertex on the edge with its neighbours outside: still exactly one record for it.
    MeshVertex tip[3] = {vertex(700, 100, 0), vertex(640, 200, 0), vertex(700, 300, 0)};
    int n = clip_polygon_right(tip, 3, out, CLIP_BUFFER_SIZE);
    EXPECT_EQ(n, 1);
    EXPECT_EQ(out[0].sy, 200.0f);
    // On the edge with one neighbour outside: the crossing at it is not added a second time.
    MeshVertex mixed[3] = {vertex(640, 200, 0), vertex(700, 100, 0), vertex(500, 300, 0)};
    n = clip_polygon_right(mixed, 3, out, CLIP_BUFFER_SIZE);
    ASSERT_EQ(n, 3);
    int at_vertex = 0;
    for (int i = 0; i < n; i++) at_vertex += out[i].sx == 640.0f && out[i].sy == 200.0f;
    EXPECT_EQ(at_vertex, 1);
    MeshVertex on_top[3] = {vertex(10, 0, 0), vertex(30, 0, 0), vertex(20, 40, 0)};
    EXPECT_EQ(clip_polygon_top(on_top, 3, out, CLIP_BUFFER_SIZE), 3);
}

TEST_F(Clip, IntersectionCopiesTheOutsideEndpointsOtherFields) {
    MeshVertex out[CLIP_BUFFER_SIZE];
    MeshVertex in[3] = {vertex(10, 10, -2), vertex(20, 10, 0), vertex(10, 20, -2)};
    in[1].env_u = 0.75f;  // only the outside vertex carries these
    in[1].px = 42.0f;
    int n = clip_polygon_near(in, 3, out, CLIP_BUFFER_SIZE);
    ASSERT_EQ(n, 4);
    int crossings = 0;
    for (int i = 0; i < n; i++) {
        if (out[i].sz == -1.0f) {
            crossings++;
            EXPECT_EQ(out[i].env_u, 0.75f);
            EXPECT_EQ(out[i].px, 42.0f);
        }
    }
    EXPECT_EQ(crossings, 2);
    // The near intersection is halfway in z: x halfway from 10 to 20, colour halfway.
    MeshVertex edge[3] = {vertex(10, 0, -2, 0x00000000u), vertex(20, 0, 0, 0xFFFFFFFFu),
                          vertex(10, 50, -2, 0)};
    n = clip_polygon_near(edge, 3, out, CLIP_BUFFER_SIZE);
    ASSERT_GE(n, 3);
    EXPECT_EQ(out[0].sz, -1.0f);
    EXPECT_FLOAT_EQ(out[0].sx, 15.0f);
    EXPECT_EQ(out[0].colour, 0x80808080u);
}

TEST_F(Clip, DepthAndRectangleSettersMoveThePlanes) {
    MeshVertex out[CLIP_BUFFER_SIZE];
    clip_set_depth(5.0f, 10.0f);
    MeshVertex in[3] = {vertex(0, 0, -4), vertex(1, 0, -4), vertex(0, 1, -4)};
    EXPECT_EQ(clip_polygon_near(in, 3, out, CLIP_BUFFER_SIZE), 0);
    MeshVertex far_away[3] = {vertex(0, 0, -1000), vertex(1, 0, -1000), vertex(0, 1, -1000)};
    EXPECT_EQ(clip_polygon_near(far_away, 3, out, CLIP_BUFFER_SIZE), 3);  // no far plane
    clip_set_rect(100, 50, 200, 100);
    MeshVertex tri[3] = {vertex(50, 100, 0), vertex(350, 100, 0), vertex(200, 120, 0)};
    int n = clip_polygon_left(tri, 3, out, CLIP_BUFFER_SIZE);
    MeshVertex out2[CLIP_BUFFER_SIZE];
    n = clip_polygon_right(out, n, out2, CLIP_BUFFER_SIZE);
    ASSERT_GE(n, 3);
    for (int i = 0; i < n; i++) {
        EXPECT_GE(out2[i].sx, 100.0f);
        EXPECT_LE(out2[i].sx, 300.0f);
    }
}

TEST_F(Clip, ChainedClipsKeepConvexPolygonsWithinCapacity) {
    // Random triangles through all four edges: at most 7 records, all inside, orientation kept.
    unsigned s = 99;
    auto rnd = [&](float lo, float hi) {
        s = s * 1103515245u + 12345u;
        return lo + (hi - lo) * (float)((s >> 8) & 0xFFFF) / 65535.0f;
    };
    clip_set_rect(20, 30, 400, 300);
    for (int k = 0; k < 2000; k++) {
        MeshVertex a[CLIP_BUFFER_SIZE], b[CLIP_BUFFER_SIZE];
        for (int i = 0; i < 3; i++) a[i] = vertex(rnd(-300, 800), rnd(-300, 700), rnd(0, 1));
        float before = signed_area(a, 3);
        int n = clip_polygon_left(a, 3, b, CLIP_BUFFER_SIZE);
        n = clip_polygon_right(b, n, a, CLIP_BUFFER_SIZE);
        n = clip_polygon_top(a, n, b, CLIP_BUFFER_SIZE);
        n = clip_polygon_bottom(b, n, a, CLIP_BUFFER_SIZE);
        ASSERT_LE(n, 7);
        for (int i = 0; i < n; i++) {
            ASSERT_GE(a[i].sx, 20.0f - 1e-3f);
            ASSERT_LE(a[i].sx, 420.0f + 1e-3f);
            ASSERT_GE(a[i].sy, 30.0f - 1e-3f);
            ASSERT_LE(a[i].sy, 330.0f + 1e-3f);
        }
        if (n >= 3) {
            float after = signed_area(a, n);
            if (std::fabs(after) > 1.0f) {
                EXPECT_EQ(after > 0, before > 0);
            }
            EXPECT_LE(std::fabs(after), std::fabs(before) + 1.0f);
        }
    }
}

TEST_F(Clip, OutputNeverExceedsTheGivenCapacity) {
    // A (non-convex) zig-zag crossing the edge many times would need more than the buffer holds.
    MeshVertex in[10], out[4];
    for (int i = 0; i < 10; i++) in[i] = vertex(i % 2 ? 700.0f : 600.0f, (float)i * 10, 0);
    MeshVertex sentinel = vertex(1, 2, 3);
    MeshVertex guard[5];
    for (auto& g : guard) g = sentinel;
    EXPECT_EQ(clip_polygon_right(in, 10, guard, 4), 4);
    EXPECT_EQ(guard[4].sx, sentinel.sx);
    (void)out;
}

TEST(Colour, AddSaturatesEachByteOnItsOwn) {
    EXPECT_EQ(colour_add_saturate(0x80FF1020u, 0x90023040u), 0xFFFF4060u);
    EXPECT_EQ(colour_add_saturate(0u, 0u), 0u);
    EXPECT_EQ(colour_add_saturate(0xFFFFFFFFu, 0xFFFFFFFFu), 0xFFFFFFFFu);
    EXPECT_EQ(colour_add_saturate(0x7F7F7F7Fu, 0x80808080u), 0xFFFFFFFFu);  // 255 exactly, no carry
    // Against the obvious per-byte reference on a spread of values.
    unsigned s = 7;
    for (int k = 0; k < 5000; k++) {
        s = s * 1664525u + 1013904223u;
        uint32_t a = s;
        s = s * 1664525u + 1013904223u;
        uint32_t b = s;
        uint32_t expect = 0;
        for (int sh = 0; sh < 32; sh += 8) {
            uint32_t sum = ((a >> sh) & 0xFF) + ((b >> sh) & 0xFF);
            expect |= (sum > 255 ? 255 : sum) << sh;
        }
        ASSERT_EQ(colour_add_saturate(a, b), expect) << std::hex << a << " " << b;
    }
}

TEST(Colour, LerpsRoundAndTheClampedOneClamps) {
    EXPECT_EQ(colour_lerp(0x00000000u, 0xFFFFFFFFu, 0.5f), 0x80808080u);
    EXPECT_EQ(colour_lerp(0x10203040u, 0x90A0B0C0u, 0.0f), 0x10203040u);
    EXPECT_EQ(colour_lerp(0x10203040u, 0x90A0B0C0u, 1.0f), 0x90A0B0C0u);
    EXPECT_EQ(colour_lerp(0xFF000000u, 0x00FF0000u, 0.25f), 0xBF400000u);
    // span 100, distance 50: halfway; overshooting distances clamp instead of wrapping.
    EXPECT_EQ(colour_lerp_clamped(0x00000000u, 0xFFFFFFFFu, 100, 50), 0x80808080u);
    EXPECT_EQ(colour_lerp_clamped(0x00000000u, 0xFFFFFFFFu, 100, 200), 0xFFFFFFFFu);
    EXPECT_EQ(colour_lerp_clamped(0x00FF0000u, 0xFF000000u, 100, -100), 0x00FF0000u);
    EXPECT_EQ(colour_lerp_clamped(0x12345678u, 0xFFFFFFFFu, 0, 10), 0x12345678u);
}
