// Drawing restricted to a thread's bands: every band's rows hold exactly the whole triangle's pixels
// of those rows (framebuffer and both depth buffers), and the other rows are left alone. Recorded
// drawing calls replayed by several threads give exactly the pixels of direct drawing.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "gfx/simd.h"
#include "raster/raster_internal.h"
#include "raster/raster_support.h"

namespace {

class Band : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_EQ(display_open_offscreen(1), 0); }
    static void TearDownTestSuite() { display_close(); }
};

// Modes of every family and both walks (the narrow boxes take the packed-mask path).
const uint32_t kModes[] = {0x0001, 0x0012, 0x0015, 0x0018, 0x0010, 0x0035, 0x0096, 0x0114,
                           0x0C10, 0x1414, 0x2014, 0x4011, 0x4015};

void fill_random_buffers(TestRandom* r) {
    for (int i = 0; i < 640 * 480; i++) {
        framebuffer.pixels[i] = test_random_u32(r);
        uint32_t z = test_random_u32(r);
        depth_buffer->values[i] = (int32_t)(z % 22000) - 500;
        depth_buffer2->values[i] = (int32_t)((z >> 8) % 22000) - 500;
    }
}

// Owned rows must equal the whole drawing's, the other rows the starting buffers'.
void expect_band_rows(const RefBuffers& got, const RefBuffers& whole, const RefBuffers& start,
                      const DrawBand& band, const char* what) {
    for (int y = 0; y < SCREEN_HEIGHT; y++) {
        const RefBuffers& want = band.owns[y] ? whole : start;
        size_t at = (size_t)y * SCREEN_WIDTH, n = SCREEN_WIDTH;
        ASSERT_EQ(memcmp(&got.frame[at], &want.frame[at], n * 4), 0) << what << " frame row " << y;
        ASSERT_EQ(memcmp(&got.depth[at], &want.depth[at], n * 4), 0) << what << " depth row " << y;
        ASSERT_EQ(memcmp(&got.shadow[at], &want.shadow[at], n * 4), 0) << what << " shadow row " << y;
    }
}

// Draws the triangles whole, then band by band from the same start, for each split.
void check_splits(TestRandom* r, const std::vector<MeshVertex>& verts, uint32_t mode,
                  const Image* texture) {
    fill_random_buffers(r);
    RefBuffers start, whole, got;
    ref_capture(&start);
    polygon_draw_list(verts.data(), (int32_t)verts.size(), DOUBLE_SIDED, 0xFF90A0B0u, texture, mode);
    ref_capture(&whole);
    ASSERT_NE(whole.frame == start.frame && whole.shadow == start.shadow, true) << "nothing drawn";
    const int splits[][2] = {{2, 16}, {3, 7}, {8, 1}, {4, 32}};
    for (const auto& split : splits) {
        RefBuffers merged = start;
        for (int index = 0; index < split[0]; index++) {
            DrawBand band;
            draw_band_make(&band, index, split[0], split[1]);
            ref_restore(&start);
            draw_band = &band;
            polygon_draw_list(verts.data(), (int32_t)verts.size(), DOUBLE_SIDED, 0xFF90A0B0u, texture,
                              mode);
            draw_band = nullptr;
            ref_capture(&got);
            expect_band_rows(got, whole, start, band, "band");
            for (int y = 0; y < SCREEN_HEIGHT; y++) {
                if (!band.owns[y]) continue;
                size_t at = (size_t)y * SCREEN_WIDTH;
                memcpy(&merged.frame[at], &got.frame[at], SCREEN_WIDTH * 4);
                memcpy(&merged.depth[at], &got.depth[at], SCREEN_WIDTH * 4);
                memcpy(&merged.shadow[at], &got.shadow[at], SCREEN_WIDTH * 4);
            }
        }
        EXPECT_TRUE(merged.frame == whole.frame && merged.depth == whole.depth &&
                    merged.shadow == whole.shadow)
            << "mode " << std::hex << mode << " split " << std::dec << split[0] << "x" << split[1];
    }
}

TEST_F(Band, MakeGivesEveryRowToExactlyOneWorker) {
    for (int count : {1, 2, 3, 5, 8, 64}) {
        for (int rows : {1, 8, 16, 100, 480}) {
            std::vector<int> owners(SCREEN_HEIGHT, 0);
            for (int index = 0; index < count; index++) {
                DrawBand band;
                draw_band_make(&band, index, count, rows);
                for (int y = 0; y < SCREEN_HEIGHT; y++) {
                    owners[y] += band.owns[y];
                    if (band.owns[y]) {
                        EXPECT_EQ((y / rows) % count, index);
                    }
                    int next = band.next[y];
                    EXPECT_TRUE(next == SCREEN_HEIGHT || band.owns[next]);
                    for (int k = y; k < next; k++) EXPECT_FALSE(band.owns[k]);
                }
            }
            for (int y = 0; y < SCREEN_HEIGHT; y++) ASSERT_EQ(owners[y], 1) << count << " " << rows;
        }
    }
}

TEST_F(Band, RandomTrianglesSplitExactly) {
    TestRandom r{0xB4D5EEDull};
    Image* tex = test_image_random(&r, 64, 64, 1);
    Image* env = test_image_random(&r, 128, 64, 0);
    Image* bump = test_image_random(&r, 128, 128, 0);
    raster_set_env_map(env);
    raster_set_bump_map(bump);
    for (uint32_t mode : kModes) {
        std::vector<MeshVertex> verts;
        for (int i = 0; i < 60; i++) {
            // Small (narrow walk), medium and screen-crossing triangles, some past the screen edges.
            float spread = i % 3 == 0 ? 6.0f : i % 3 == 1 ? 70.0f : 400.0f;
            float cx = test_random_float(&r, -40, 680), cy = test_random_float(&r, -40, 520);
            for (int k = 0; k < 3; k++)
                verts.push_back(test_vertex(cx + test_random_float(&r, -spread, spread),
                                            cy + test_random_float(&r, -spread, spread),
                                            test_random_float(&r, 0.05f, 1.2f),
                                            test_random_float(&r, -2, 2), test_random_float(&r, -2, 2),
                                            test_random_float(&r, -0.5f, 1.5f),
                                            test_random_float(&r, -0.5f, 1.5f), test_random_u32(&r)));
        }
        check_splits(&r, verts, mode, tex);
        if (HasFatalFailure()) break;
    }
    raster_set_env_map(nullptr);
    raster_set_bump_map(nullptr);
    image_free(tex);
    image_free(env);
    image_free(bump);
}

// Boxes whose first or last row is the first or last row of a band, or one row either side, with
// the 16-row bands of a two-way split (and the 7-row and 1-row bands of the others, where rows drawn
// in pairs must never pair rows of two bands); also one row tall and the screen's top and bottom
// rows. On every path: the packed ones draw short rows of some modes two at a time.
TEST_F(Band, BoxesOnBandEdgesSplitExactly) {
    TestRandom r{0xED6Eull};
    Image* tex = test_image_random(&r, 32, 32, 0);
    for (int path = 0; path <= simd_best_level(); path++) {
        const int old_path = raster_path_set(path);
        for (uint32_t mode : {0x0001u, 0x0012u, 0x0014u, 0x0035u, 0x0096u, 0x4015u}) {
            std::vector<MeshVertex> verts;
            for (int top : {0, 15, 16, 17, 31, 32, 33, 463, 464}) {
                for (float height : {0.6f, 1.0f, 15.0f, 16.0f, 17.0f, 33.0f}) {
                    float y0 = (float)top, y1 = y0 + height;
                    float x0 = 20.0f + (float)(top % 7) * 60.0f + height;
                    // Narrow ones (packed paths, rows in pairs) and a wide one per pair.
                    for (float w : {3.0f, 9.0f, 140.0f}) {
                        verts.push_back(test_vertex(x0, y0, 0.3f, 0, 0, 0.1f, 0.2f, 0xFF204080u));
                        verts.push_back(test_vertex(x0 + w, y0 + height * 0.25f, 0.5f, 1, 0, 0.6f, 0.3f, 0xFFFFFFFFu));
                        verts.push_back(test_vertex(x0 + w * 0.3f, y1, 0.7f, 0, 1, 0.2f, 0.9f, 0x80FF0000u));
                    }
                }
            }
            check_splits(&r, verts, mode, tex);
            if (HasFatalFailure()) break;
        }
        raster_path_set(old_path);
        if (HasFatalFailure()) break;
    }
    image_free(tex);
}

// A frame of recorded calls through all three entries: the corners are overwritten as soon as
// each call returns and the map slots change between calls (a replay must use the values of its
// call), a shadow pass is followed at once by shadow-tested modes (they must wait for it), and
// one list and one fan are longer than one recorded call holds.
void draw_recorded_scene(const Image* tex, const Image* env_a, const Image* env_b, const Image* bump) {
    TestRandom r{0x5CE2Eull};
    const uint32_t modes[] = {0x0012, 0x0015, 0x0035, 0x0414, 0x0C14, 0x1414, 0x2014, 0x0094, 0x0024};
    std::vector<MeshVertex> scratch(6000);
    auto random_vertex = [&](float cx, float cy, float spread) {
        return test_vertex(cx + test_random_float(&r, -spread, spread), cy + test_random_float(&r, -spread, spread),
                           test_random_float(&r, 0.05f, 1.2f), test_random_float(&r, -2, 2),
                           test_random_float(&r, -2, 2), test_random_float(&r, -0.5f, 1.5f),
                           test_random_float(&r, -0.5f, 1.5f), test_random_u32(&r));
    };
    for (int i = 0; i < 300; i++) {
        uint32_t mode = modes[test_random_int(&r, 0, 8)];
        raster_set_env_map(i % 3 ? env_a : env_b);
        raster_set_bump_map(bump);
        float cx = test_random_float(&r, -20, 660), cy = test_random_float(&r, -20, 500);
        float spread = i % 4 ? 30.0f : 200.0f;
        int n = test_random_int(&r, 3, 9);
        for (int k = 0; k < n; k++) scratch[k] = random_vertex(cx, cy, spread);
        uint32_t colour = test_random_u32(&r);
        if (i % 3 == 0) {
            polygon_draw_list(scratch.data(), n, DOUBLE_SIDED, colour, tex, mode);
        } else if (i % 3 == 1) {
            polygon_draw_fan(scratch.data(), n, DOUBLE_SIDED, colour, tex, mode);
        } else {
            RasterTriangle t[3];
            for (int k = 0; k < 3; k++) {
                t[k].vert0 = &scratch[0];
                t[k].vert1 = &scratch[k + 1];
                t[k].vert2 = &scratch[k + 2];
                t[k].colour = k == 2 ? colour ^ 0x00FF00FFu : colour;
                t[k].flags = DOUBLE_SIDED;
            }
            triangles_draw(t, 3, tex, mode);
        }
        for (int k = 0; k < n; k++) scratch[k] = test_vertex(320, 240, 0.5f);  // the caller's buffer moves on
        raster_set_env_map(nullptr);
    }
    for (int pass = 0; pass < 2; pass++) {
        for (int k = 0; k < 60; k++) scratch[k] = random_vertex(320, 240, 250);
        polygon_draw_list(scratch.data(), 60, DOUBLE_SIDED, 0, nullptr, RENDER_DEPTH);
        for (int k = 0; k < 60; k++) scratch[k] = random_vertex(320, 240, 250);
        polygon_draw_list(scratch.data(), 60, DOUBLE_SIDED, 0xFFC08040u, tex, 0x4015);
        polygon_draw_list(scratch.data(), 60, DOUBLE_SIDED, 0xFF40C080u, nullptr, 0x4011);
    }
    for (int k = 0; k < 6000; k++) scratch[k] = random_vertex(320, 240, 8);
    polygon_draw_list(scratch.data(), 5998, DOUBLE_SIDED, 0xFF808080u, tex, 0x0025);
    for (int k = 1; k < 3000; k++) {
        float a = (float)k * 0.0021f;
        scratch[k] = test_vertex(320 + 300 * std::cos(a), 240 + 230 * std::sin(a), 0.5f, 0, 0, 0, 0, 0xFF00FF00u);
    }
    scratch[0] = test_vertex(320, 240, 0.5f, 0, 0, 0, 0, 0xFF0000FFu);
    polygon_draw_fan(scratch.data(), 3000, DOUBLE_SIDED, 0x40404040u, nullptr, 0x0022);
    raster_set_env_map(nullptr);
    raster_set_bump_map(nullptr);
}

TEST_F(Band, RecordedCallsMatchDirectDrawingAtEveryThreadCount) {
    TestRandom r{0xD1EC7ull};
    Image* tex = test_image_random(&r, 64, 32, 0);
    Image* env_a = test_image_random(&r, 128, 128, 0);
    Image* env_b = test_image_random(&r, 32, 64, 0);
    Image* bump = test_image_random(&r, 128, 64, 0);
    fill_random_buffers(&r);
    RefBuffers start, direct, got;
    ref_capture(&start);
    draw_recorded_scene(tex, env_a, env_b, bump);
    ref_capture(&direct);
    ASSERT_NE(direct.frame, start.frame);
    ASSERT_NE(direct.shadow, start.shadow);
    for (int threads : {2, 3, 8}) {
        ref_restore(&start);
        ASSERT_EQ(draw_queue_start(threads), 0);
        draw_recorded_scene(tex, env_a, env_b, bump);
        draw_queue_stop();
        ref_capture(&got);
        EXPECT_TRUE(got.frame == direct.frame) << threads << " threads: framebuffer";
        EXPECT_TRUE(got.depth == direct.depth) << threads << " threads: depth";
        EXPECT_TRUE(got.shadow == direct.shadow) << threads << " threads: shadow depth";
    }
    image_free(tex);
    image_free(env_a);
    image_free(env_b);
    image_free(bump);
}

// The main thread draws its own bands at a flush with each call's map slots; the slots its callers
// set are theirs again afterwards.
TEST_F(Band, AFlushLeavesTheCallersMapSlots) {
    TestRandom r{0x5107ull};
    Image* env_a = test_image_random(&r, 64, 64, 0);
    Image* env_b = test_image_random(&r, 64, 64, 0);
    std::vector<MeshVertex> verts = {test_vertex(10, 10, 0.5f), test_vertex(600, 20, 0.5f), test_vertex(300, 470, 0.5f)};
    ASSERT_EQ(draw_queue_start(2), 0);
    raster_set_env_map(env_a);
    raster_set_bump_map(env_a);
    polygon_draw_list(verts.data(), 3, DOUBLE_SIDED, 0xFF808080u, env_b, 0x0414);
    raster_set_env_map(env_b);
    draw_queue_flush();
    EXPECT_EQ(raster_env_map, env_b);
    EXPECT_EQ(raster_bump_map, env_a);
    draw_queue_stop();
    raster_set_env_map(nullptr);
    raster_set_bump_map(nullptr);
    image_free(env_a);
    image_free(env_b);
}

}  // namespace
