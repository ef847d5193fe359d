// Rasterizer behaviour that random comparison does not pin down by itself: the fill rule, culling and
// rejection, dispatch and drawing order, the numeric corner cases of the families, and refusal of
// inputs that cannot be drawn safely.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

#include "gfx/simd.h"
#include "raster/raster_internal.h"
#include "raster/raster_support.h"

namespace {

class Raster : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_EQ(display_open_offscreen(1), 0); }
    static void TearDownTestSuite() { display_close(); }
    void SetUp() override {
        frame_clear(0);
        frame_begin();
        raster_set_env_map(nullptr);
        raster_set_bump_map(nullptr);
    }
    static uint32_t& px(int x, int y) { return framebuffer.pixels[y * 640 + x]; }
    static int32_t& depth(int x, int y) { return depth_buffer->values[y * 640 + x]; }
    static int count(uint32_t value) {
        int n = 0;
        for (int i = 0; i < 640 * 480; i++) n += framebuffer.pixels[i] == value;
        return n;
    }
    static void draw(const MeshVertex& a, const MeshVertex& b, const MeshVertex& c, uint32_t mode,
                     uint32_t colour = 0xFFFFFFFF, const Texture* tex = nullptr, uint32_t flags = 0) {
        MeshVertex v[3] = {a, b, c};
        polygon_draw_list(v, 3, flags, colour, tex, mode);
    }
    static bool buffers_untouched() {
        for (int i = 0; i < 640 * 480; i++)
            if (framebuffer.pixels[i] != 0 || depth_buffer->values[i] != 0x7FFFFFFF ||
                depth_buffer2->values[i] != 0x7FFFFFFF)
                return false;
        return true;
    }
};

MeshVertex P(float x, float y, float z = 0.5f) { return test_vertex(x, y, z); }

TEST_F(Raster, FillRuleOnTheSmallRightTriangle) {
    draw(P(0, 0), P(4, 0), P(0, 4), RENDER_FLAT, 0xFF112233);
    for (int x = 0; x < 6; x++) EXPECT_EQ(px(x, 0), 0u) << "top edge pixel " << x;
    for (int y = 1; y < 4; y++) EXPECT_EQ(px(0, y), 0xFF112233u) << "left edge pixel " << y;
    for (int y = 1; y < 4; y++) EXPECT_EQ(px(4 - y, y), 0u) << "hypotenuse pixel " << y;
    EXPECT_EQ(px(1, 1), 0xFF112233u);
    EXPECT_EQ(count(0xFF112233), 3 + 2 + 1);  // rows 1..3: x < 4 - y
}

TEST_F(Raster, SharedEdgesCoverEveryPixelExactlyOnce) {
    TestRandom r{42};
    for (int round = 0; round < 200; round++) {
        frame_clear(0);
        // A convex quad cut along a random diagonal; both halves front-facing, additive count.
        float cx = test_random_float(&r, 100, 540), cy = test_random_float(&r, 100, 380);
        MeshVertex q[4];
        for (int i = 0; i < 4; i++) {
            float ang = (float)i * 1.5707964f + test_random_float(&r, -0.6f, 0.6f);
            float rad = test_random_float(&r, 4, 90);
            q[i] = P(cx + rad * std::cos(ang), cy + rad * std::sin(ang));
            if (round % 3 == 0) q[i] = P(std::round(q[i].sx), std::round(q[i].sy));
        }
        if (round % 3 == 0) {  // make the diagonal's midpoint a pixel position
            q[2].sx = q[0].sx + 2 * std::round((q[2].sx - q[0].sx) / 2);
            q[2].sy = q[0].sy + 2 * std::round((q[2].sy - q[0].sy) / 2);
        }
        // Clockwise on the screen (front-facing) whatever the jitter did.
        auto turn = [&](int i) {
            const MeshVertex &a = q[i], &b = q[(i + 1) % 4], &c = q[(i + 2) % 4];
            return (b.sx - a.sx) * (c.sy - a.sy) - (b.sy - a.sy) * (c.sx - a.sx);
        };
        if (turn(0) < 0) std::swap(q[1], q[3]);
        if (turn(0) <= 0 || turn(1) <= 0 || turn(2) <= 0 || turn(3) <= 0) continue;  // not convex
        MeshVertex tris[6] = {q[0], q[1], q[2], q[0], q[2], q[3]};
        polygon_draw_list(tris, 6, 0, 0x00000001, nullptr, RENDER_FLAT | RENDER_ADD);
        // Each pixel is covered by the union (reference, per triangle) exactly as often as drawn.
        RefBuffers ref;
        ref.frame.assign(640 * 480, 0);
        ref.depth.assign(640 * 480, 0x7FFFFFFF);
        ref.shadow.assign(640 * 480, 0x7FFFFFFF);
        ref_draw(&ref, &q[0], &q[1], &q[2], 0, 1, nullptr, nullptr, nullptr, 0x21);
        ref_draw(&ref, &q[0], &q[2], &q[3], 0, 1, nullptr, nullptr, nullptr, 0x21);
        for (int i = 0; i < 640 * 480; i++) {
            ASSERT_LE(framebuffer.pixels[i], 1u) << "pixel drawn twice, round " << round;
            ASSERT_EQ(framebuffer.pixels[i], ref.frame[i]) << "round " << round;
        }
        // Pixels lying exactly on the shared diagonal, strictly between its ends, belong to exactly
        // one of the two halves.
        if (round % 3 == 0) {
            int x0 = (int)q[0].sx, y0 = (int)q[0].sy, x2 = (int)q[2].sx, y2 = (int)q[2].sy;
            int on_diagonal = 0;
            for (int y = std::min(y0, y2); y <= std::max(y0, y2); y++)
                for (int x = std::min(x0, x2); x <= std::max(x0, x2); x++) {
                    if ((x2 - x0) * (y - y0) - (y2 - y0) * (x - x0) != 0) continue;
                    if ((x == x0 && y == y0) || (x == x2 && y == y2)) continue;
                    on_diagonal++;
                    ASSERT_EQ(px(x, y), 1u) << "diagonal pixel " << x << "," << y << " round " << round
                                            << " quad " << q[0].sx << "," << q[0].sy << " " << q[1].sx << ","
                                            << q[1].sy << " " << q[2].sx << "," << q[2].sy << " " << q[3].sx
                                            << "," << q[3].sy;
                }
            EXPECT_GT(on_diagonal, 0);
        }
        EXPECT_GT(count(1), 50) << "round " << round;
    }
}

TEST_F(Raster, WindingCullingAndDegenerateRejection) {
    draw(P(0, 0), P(10, 0), P(0, 10), RENDER_FLAT, 0xFF0000FF);
    EXPECT_GT(count(0xFF0000FF), 0);
    frame_clear(0);
    draw(P(0, 0), P(0, 10), P(10, 0), RENDER_FLAT, 0xFF0000FF);
    EXPECT_EQ(count(0xFF0000FF), 0) << "back face drawn";
    draw(P(0, 0), P(0, 10), P(10, 0), RENDER_FLAT, 0xFF0000FF, nullptr, DOUBLE_SIDED);
    EXPECT_GT(count(0xFF0000FF), 0) << "double-sided back face missing";
    // Area just above -16 (in 1/4096 square pixels) is refused even double-sided.
    frame_clear(0);
    RasterTriangle t{};
    MeshVertex a = P(100, 100), b = P(100, 100), c = P(100, 100);
    b.sy += 1.0f / 32;   // a tiny back-facing sliver: area -2 x 64 x ... kept below 16 in size
    c.sx += 1.0f / 32;
    t.vert0 = &a;
    t.vert1 = &b;
    t.vert2 = &c;
    t.flags = DOUBLE_SIDED;
    EXPECT_NE(triangle_setup(&t), 0);
    EXPECT_NE(ref_setup_box(&a, &b, &c, DOUBLE_SIDED, &t.min_x, &t.min_y, &t.max_x, &t.max_y), 0);
}

TEST_F(Raster, BoxClampingAtTheScreenBorders) {
    // Entirely within the last column: the clamped box is one column wide and nothing is drawn.
    draw(P(639.2f, 10), P(639.9f, 10), P(639.5f, 200), RENDER_FLAT | RENDER_DEPTH, 0xFFFFFFFF, nullptr,
         DOUBLE_SIDED);
    draw(P(-30, 10), P(-0.5f, 10), P(-10, 200), RENDER_FLAT, 0xFFFFFFFF, nullptr, DOUBLE_SIDED);
    EXPECT_TRUE(buffers_untouched());
    // Reaching beyond every side: the whole screen.
    draw(P(-700, -900), P(1900, 240), P(-700, 1400), RENDER_FLAT, 0xFF00FF00);
    EXPECT_EQ(count(0xFF00FF00), 640 * 480);
}

TEST_F(Raster, FarOutsideTrianglesAreDrawnExactlyOrRefused) {
    // Edge values far beyond 32 bits: drawn from the exact values, not from wrapped sums.
    MeshVertex far[3] = {P(-3e6f, -3e6f), P(4e6f, 10), P(10, 5e6f)};
    RefBuffers ref;
    ref_capture(&ref);
    ref_draw(&ref, &far[0], &far[1], &far[2], 0, 0xFF00FF00, nullptr, nullptr, nullptr, RENDER_FLAT);
    polygon_draw_list(far, 3, 0, 0xFF00FF00, nullptr, RENDER_FLAT);
    EXPECT_EQ(0, memcmp(ref.frame.data(), framebuffer.pixels, 640 * 480 * 4));
    EXPECT_GT(count(0xFF00FF00), 1000);
    // Corners out of reach of the arithmetic, or not numbers: refused.
    frame_clear(0);
    MeshVertex nan_corner = P(std::nanf(""), 10);
    draw(nan_corner, P(300, 10), P(10, 300), RENDER_FLAT, 0xFFFFFFFF);
    draw(P(-1e30f, 0), P(1e30f, 0), P(0, 1e30f), RENDER_FLAT, 0xFFFFFFFF);
    EXPECT_TRUE(buffers_untouched());
}

TEST_F(Raster, ModesOutsideTheTableDrawNothing) {
    Image* tex = test_image_filled(8, 8, 0xFFFFFFFF);
    Image* map = test_image_filled(8, 8, 0xFF808080);
    raster_set_env_map(map);
    raster_set_bump_map(map);
    for (uint32_t mode : {0u, 3u, 0x0400u, 0x0013u, 0x0C00u, 0xFFFFu, 0x80000000u}) {
        draw(P(10, 10), P(300, 10), P(10, 300), mode, 0xFFFFFFFF, tex);
        RasterTriangle t{};
        MeshVertex v[3] = {P(10, 10), P(300, 10), P(10, 300)};
        t.vert0 = &v[0];
        t.vert1 = &v[1];
        t.vert2 = &v[2];
        triangles_draw(&t, 1, tex, mode);
        polygon_draw_fan(v, 3, 0, 0xFFFFFFFF, tex, mode);
    }
    EXPECT_TRUE(buffers_untouched());
    image_free(tex);
    image_free(map);
}

TEST_F(Raster, MissingInputsSkipTheTriangle) {
    MeshVertex v[3] = {P(10, 10), P(300, 10), P(10, 300)};
    // Textured modes without a texture, or with an empty one.
    Image* empty = image_new(0, 0);
    for (uint32_t mode : {0x0004u, 0x0008u, 0x0015u, 0x0096u, 0x0098u, 0x0114u, 0x2004u, 0x4015u}) {
        polygon_draw_list(v, 3, 0, 0xFFFFFFFF, nullptr, mode);
        polygon_draw_list(v, 3, 0, 0xFFFFFFFF, empty, mode);
    }
    // Map modes with empty slots, and a bump map smaller than the texture.
    Image* tex = test_image_filled(64, 64, 0xFFFFFFFF);
    Image* small = test_image_filled(32, 64, 0xFF808080);
    for (uint32_t mode : {0x0414u, 0x0C10u, 0x0C14u, 0x1014u, 0x1414u})
        polygon_draw_list(v, 3, 0, 0xFFFFFFFF, tex, mode);
    raster_set_env_map(tex);
    raster_set_bump_map(small);
    for (uint32_t mode : {0x0C14u, 0x1014u, 0x1414u}) polygon_draw_list(v, 3, 0, 0xFFFFFFFF, tex, mode);
    EXPECT_TRUE(buffers_untouched());
    // The bump-offset mode without a texture reads only the maps, so it draws.
    polygon_draw_list(v, 3, 0, 0xFFFFFFFF, nullptr, 0x0C10);
    EXPECT_GT(count(0xFFFFFFFF), 1000);
    image_free(empty);
    image_free(tex);
    image_free(small);
}

TEST_F(Raster, FanAndListOrders) {
    // A pentagon as a fan: (0,1,2), (0,2,3), (0,3,4), each added once: no pixel gets 2.
    MeshVertex pent[5] = {P(200, 100), P(300, 150), P(280, 260), P(150, 260), P(120, 150)};
    polygon_draw_fan(pent, 5, 0, 0x00000001, nullptr, RENDER_FLAT | RENDER_ADD);
    RefBuffers ref;
    ref.frame.assign(640 * 480, 0);
    ref.depth.assign(640 * 480, 0x7FFFFFFF);
    ref.shadow.assign(640 * 480, 0x7FFFFFFF);
    for (int i = 1; i <= 3; i++)
        ref_draw(&ref, &pent[0], &pent[i], &pent[i + 1], 0, 1, nullptr, nullptr, nullptr, 0x21);
    EXPECT_EQ(0, memcmp(ref.frame.data(), framebuffer.pixels, 640 * 480 * 4));
    // Fewer than 3 vertices draw nothing; a list draws only whole triangles.
    frame_clear(0);
    polygon_draw_fan(pent, 2, 0, 0xFFFFFFFF, nullptr, RENDER_FLAT);
    MeshVertex list[7] = {P(10, 10), P(60, 10), P(10, 60), P(100, 10), P(160, 10), P(100, 60), P(300, 300)};
    polygon_draw_list(list, 7, 0, 0xFFFFFFFF, nullptr, RENDER_FLAT);
    EXPECT_EQ(px(20, 20), 0xFFFFFFFFu);
    EXPECT_EQ(px(110, 20), 0xFFFFFFFFu);
    int drawn = count(0xFFFFFFFF);
    polygon_draw_list(list, 3, 0, 0xFFFFFFFF, nullptr, RENDER_FLAT);
    polygon_draw_list(list + 3, 3, 0, 0xFFFFFFFF, nullptr, RENDER_FLAT);
    EXPECT_EQ(count(0xFFFFFFFF), drawn) << "the seventh vertex must not start a triangle";
}

TEST_F(Raster, DepthOrderAndWhichBufferEachModeTouches) {
    // Equal depth: the first triangle keeps its pixels.
    draw(P(10, 10), P(200, 10), P(10, 200, 0.5f), RENDER_FLAT | RENDER_DEPTH, 0xFF0000FF);
    draw(P(10, 10), P(200, 10), P(10, 200, 0.5f), RENDER_FLAT | RENDER_DEPTH, 0xFFFF0000);
    EXPECT_EQ(count(0xFFFF0000), 0);
    EXPECT_EQ(depth(20, 20), (int32_t)(0.5f * 16383.0f * 2048 + 1024) >> 11);
    // The shadow pass writes only the second depth buffer.
    frame_clear(0);
    frame_begin();
    draw(P(10, 10, 0.25f), P(200, 10, 0.25f), P(10, 200, 0.25f), RENDER_DEPTH);
    EXPECT_EQ(count(0), 640 * 480);
    EXPECT_EQ(depth(20, 20), 0x7FFFFFFF);
    EXPECT_EQ(depth_buffer2->values[20 * 640 + 20], 4096);  // 4095.75 rounded to nearest
    // Test-only modes leave the depth buffer as it was.
    Image* tex = test_image_filled(4, 4, 0x80404040);
    frame_begin();
    draw(P(10, 10), P(200, 10), P(10, 200), 0x0034, 0xFFFFFFFF, tex);
    draw(P(10, 10), P(200, 10), P(10, 200), 0x2014, 0xFFFFFFFF, tex);
    EXPECT_NE(px(20, 20), 0u);
    EXPECT_EQ(depth(20, 20), 0x7FFFFFFF);
    draw(P(10, 10), P(200, 10), P(10, 200), 0x0014, 0xFFFFFFFF, tex);
    EXPECT_NE(depth(20, 20), 0x7FFFFFFF);
    image_free(tex);
}

TEST_F(Raster, ColourArithmeticCorners) {
    frame_clear(0xFF90A0B0);
    draw(P(10, 10), P(100, 10), P(10, 100), RENDER_FLAT | RENDER_ADD, 0x00808080);
    EXPECT_EQ(px(20, 20), 0xFFFFFFFFu);
    frame_clear(0xFFFFFFFF);
    draw(P(10, 10), P(100, 10), P(10, 100), RENDER_FLAT | RENDER_MULTIPLY, 0xFFFFFFFF);
    EXPECT_EQ(px(20, 20), 0xFEFEFEFEu);
    // Equal corner colours fill exactly that colour, clamped or wrapped.
    MeshVertex a = test_vertex(10, 10, 0.5f, 0, 0, 0, 0, 0xFFFFFFFF), b = a, c = a;
    b.sx = 300;
    c.sy = 300;
    frame_clear(0);
    draw(a, b, c, RENDER_GOURAUD);
    draw(a, b, c, RENDER_GOURAUD | RENDER_DEPTH);
    for (int y = 11; y < 290; y += 7)
        for (int x = 11; x + y < 300; x += 7) ASSERT_EQ(px(x, y), 0xFFFFFFFFu) << x << "," << y;
}

TEST_F(Raster, TextureWrapKeyAndAlpha) {
    // u of 1.25 and 0.25 pick the same texel; negative coordinates wrap through the mask.
    Image* tex = image_new(4, 4);
    for (int i = 0; i < 16; i++) tex->pixels[i] = 0xFF000000u | (uint32_t)i;
    MeshVertex a = test_vertex(0, 0, 0.5f, 1.25f, -0.75f), b = a, c = a;
    b.sx = 200;
    c.sy = 200;
    draw(a, b, c, RENDER_TEXTURE, 0, tex);
    EXPECT_EQ(px(5, 5), 0xFF000000u | (1u * 4 + 1));  // column 1, row 1 (from -0.75 x 4 = -3)
    image_free(tex);
    // Colour key: an all-key texture draws nothing, not even depth; alpha 0 is not the key.
    Image* key = test_image_filled(8, 8, 0xFFFF00FF);
    frame_clear(0);
    frame_begin();
    draw(P(10, 10), P(200, 10), P(10, 200), 0x0214, 0, key);
    EXPECT_TRUE(buffers_untouched());
    key->pixels[0] = 0x00FF00FF;
    for (int i = 0; i < 64; i++) key->pixels[i] = 0x00FF00FF;
    draw(P(10, 10), P(200, 10), P(10, 200), 0x0214, 0, key);
    EXPECT_EQ(px(20, 20), 0x00FF00FFu);
    image_free(key);
    // Alpha blend: alpha 255 keeps 254/256 of the texel plus 1/256 of the pixel; alpha 0 leaves
    // 255/256 of the pixel.
    Image* opaque = test_image_filled(8, 8, 0xFF804020);
    Image* clear = test_image_filled(8, 8, 0x00804020);
    frame_clear(0xFFFFFFFF);
    draw(P(10, 10), P(200, 10), P(10, 200), 0x2004, 0xFFFFFFFF, clear);
    EXPECT_EQ(px(20, 20), 0xFEFEFEFEu);
    frame_clear(0xFF102030);
    draw(P(10, 10), P(200, 10), P(10, 200), 0x2004, 0xFFFFFFFF, opaque);
    uint32_t want = 0;
    const uint32_t t = 0xFF804020, p = 0xFF102030;
    for (int s = 0; s < 32; s += 8)
        want |= ((((t >> s) & 255) * 254 >> 8) + (((p >> s) & 255) * 1 >> 8)) << s;
    EXPECT_EQ(px(20, 20), want);
    image_free(opaque);
    image_free(clear);
}

TEST_F(Raster, BilinearWeightsAndWrappedColumn) {
    // At fraction 0 the weights are 255, 0, 0, 0: a byte of 255 becomes 254.
    Image* tex = image_new(4, 4);
    for (int i = 0; i < 16; i++) tex->pixels[i] = (i % 4 == 3) ? 0xFFFFFFFFu : 0u;
    // Sample exactly at texel column 3 with the neighbour column 0 wrapping in.
    MeshVertex a = test_vertex(0, 0, 0.5f, 0, 0), b = a, c = a;
    b.sx = 400;
    b.u = 400.0f / 4;  // one texel per pixel: u x 4 texels rises by 1 per pixel
    c.sy = 400;
    c.v = 400.0f / 4;
    draw(a, b, c, 0x0094, 0, tex);
    // Pixel 3: U at 3.0 plus the half: fraction 0.5 between column 3 (white) and column 0 (black).
    uint32_t p3 = px(3, 1), p7 = px(7, 1);
    EXPECT_EQ(p3, p7) << "the filter repeats every four columns";
    EXPECT_GT(p3 & 0xFF, 0x70u);
    EXPECT_LT(p3 & 0xFF, 0x90u);
    image_free(tex);
}

TEST_F(Raster, MipLevelFromTheAreaRatio) {
    Image* tex = image_new_mipmapped(64, 64);
    for (int k = 0; k < tex->level_count; k++) {
        int side = 64 >> k;
        for (int i = 0; i < side * side; i++) tex->levels[k][i] = 0xFF000000u | (uint32_t)k;
    }
    RasterTriangle t{};
    // A 256-pixel right triangle: its area, 2 x 8192^2 less two fill-rule steps, is 2^27 in single
    // precision. Texture corners (64, 40) give |S| = 64 x 2 x 2048 x 1280 = 2.5 x 2^27: ratio 2.5.
    auto level_for = [&](float u, float v) {
        MeshVertex c[3] = {test_vertex(0, 0, 0.5f, 0, 0), test_vertex(256, 0, 0.5f, u, 0),
                           test_vertex(0, 256, 0.5f, 0, v)};
        t.vert0 = &c[0];
        t.vert1 = &c[1];
        t.vert2 = &c[2];
        EXPECT_EQ(triangle_setup(&t), 0);
        return mip_level_select(&t, tex);
    };
    EXPECT_EQ(level_for(64, 40), 1) << "a ratio of exactly 2.5 is not below the first threshold";
    EXPECT_EQ(level_for(64, 1279.0f / 32), 0);
    EXPECT_EQ(level_for(0, 0), 0) << "zero texture area";
    EXPECT_EQ(level_for(64, 80), 2);
    // A texture with one level always samples level 0; one without levels uses the image itself.
    Image* plain = test_image_filled(16, 16, 0xFF00FF00);
    MeshVertex big[3] = {test_vertex(0, 0, 0.5f, 0, 0), test_vertex(50, 0, 0.5f, 400, 0),
                         test_vertex(0, 50, 0.5f, 0, 400)};
    polygon_draw_list(big, 3, 0, 0, plain, 0x0104);
    EXPECT_EQ(px(10, 10), 0xFF00FF00u);
    frame_clear(0);
    polygon_draw_list(big, 3, 0, 0, tex, 0x0104);
    EXPECT_EQ(px(10, 10), 0xFF000000u | (uint32_t)(tex->level_count - 1)) << "largest ratio, last level";
    image_free(plain);
    image_free(tex);
}

TEST_F(Raster, Dot3Intensities) {
    // Normal and light both (255, 128, 128) in one lane: 63 x 63 >> 5 = 124, >> 4 = 248.
    Image* tex = test_image_filled(8, 8, 0xFFFFFFFF);
    Image* normal = test_image_filled(8, 8, 0xFFFF8080);
    Image* black = test_image_filled(8, 8, 0xFF000000);
    raster_set_bump_map(normal);
    raster_set_env_map(black);
    MeshVertex a = test_vertex(10, 10, 0.5f, 0, 0, 0, 0, 0xFFFF8080), b = a, c = a;
    b.sx = 200;
    c.sy = 200;
    draw(a, b, c, 0x1014, 0, tex);
    EXPECT_EQ(px(20, 20) & 0xFF, (255u * 124) >> 8);
    frame_clear(0);
    frame_begin();
    draw(a, b, c, 0x1414, 0, tex);
    // (((255 x 248) >> 8) x 255) >> 8 plus nothing from the black map.
    EXPECT_EQ(px(20, 20) & 0xFF, ((((255u * 248) >> 8) * 255) >> 8));
    // Opposite light: black.
    MeshVertex d = test_vertex(10, 10, 0.4f, 0, 0, 0, 0, 0xFF008080), e = d, f = d;
    e.sx = 200;
    f.sy = 200;
    draw(d, e, f, 0x1014, 0, tex);
    EXPECT_EQ(px(20, 20) & 0xFFFFFF, 0u);
    image_free(tex);
    image_free(normal);
    image_free(black);
}

TEST_F(Raster, ShadowTestsClampAndCompareStrictly) {
    // A caster at depth 0.25 fills the left half of the shadow buffer.
    draw(P(-10, -10, 0.25f), P(320, -10, 0.25f), P(-10, 900, 0.25f), RENDER_DEPTH, 0, nullptr, 0);
    draw(P(320, -10, 0.25f), P(320, 900, 0.25f), P(-10, 900, 0.25f), RENDER_DEPTH, 0, nullptr, 0);
    // The receiver's shadow coordinates lie far left of the buffer: clamped to column 0 (shadowed).
    MeshVertex a = test_vertex(100, 100, 0.5f, 0, 0, -3.0f, 0.5f), b = a, c = a;
    b.sx = 300;
    c.sy = 300;
    draw(a, b, c, 0x4011, 0xFFFFFFFF);
    EXPECT_EQ(px(120, 120), 0x3F3F3F3Fu);
    // Far right: clamped to column 639, where nothing was cast.
    frame_begin();
    draw(P(-10, -10, 0.25f), P(320, -10, 0.25f), P(-10, 900, 0.25f), RENDER_DEPTH, 0, nullptr, 0);
    a.env_u = b.env_u = c.env_u = 5.0f;
    draw(a, b, c, 0x4011, 0xFFFFFFFF);
    EXPECT_EQ(px(120, 120), 0xFEFEFEFEu);
    // Equal depth is not shadowed.
    frame_begin();
    draw(P(-10, -10, 0.5f), P(900, -10, 0.5f), P(-10, 900, 0.5f), RENDER_DEPTH, 0, nullptr, 0);
    a.env_u = b.env_u = c.env_u = 0.2f;
    draw(a, b, c, 0x4011, 0xFFFFFFFF);
    EXPECT_EQ(px(120, 120), 0xFEFEFEFEu);
}

TEST_F(Raster, PerspectiveSkipsPixelsWhereQIsZero) {
    // Corners of mixed depth sign make Q cross zero inside the triangle: never a division fault.
    Image* tex = test_image_filled(16, 16, 0xFF123456);
    MeshVertex a = test_vertex(10, 10, 1.0f, 0, 0), b = test_vertex(400, 10, -1.0f, 1, 0),
               c = test_vertex(10, 400, 1.0f, 0, 1);
    for (uint32_t mode : {0x0008u, 0x0018u, 0x0019u, 0x0098u}) draw(a, b, c, mode, 0xFFFFFFFF, tex);
    EXPECT_GT(count(0xFF123456), 1000);
    image_free(tex);
}

TEST_F(Raster, PathSettingStaysWithinWhatTheProcessorRuns) {
    const int widest = simd_best_level();
    simd_use_level(widest);
    const int old = raster_path_set(RASTER_PATH_AVX2 + 5);
    EXPECT_EQ(raster_path_get(), widest);
    raster_path_set(-3);
    EXPECT_EQ(raster_path_get(), RASTER_PATH_SCALAR);
    // Every path draws: a flat triangle fills the same pixels on each.
    for (int path = 0; path <= widest; path++) {
        frame_clear(0);
        raster_path_set(path);
        draw(P(0, 0), P(40, 0), P(0, 40), RENDER_FLAT, 0xFF445566);
        EXPECT_EQ(count(0xFF445566), 39 * 40 / 2) << "path " << path;
    }
    raster_path_set(old);
}

}  // namespace

TEST(RasterWide, FillerPathFollowsTheSimdLevel) {
    simd_use_level(SIMD_SCALAR);
    EXPECT_EQ(raster_path_get(), RASTER_PATH_SCALAR);
    simd_use_level(SIMD_AVX2);
    EXPECT_EQ(raster_path_get(), simd_best_level());
    const int old = raster_path_set(RASTER_PATH_SCALAR);
    EXPECT_EQ(raster_path_get(), RASTER_PATH_SCALAR);
    raster_path_set(old);
}
