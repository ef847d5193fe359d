// Every drawn mode on every filler path the processor runs (the portable twin, SSE2, AVX2) against
// the reference rasterizer on thousands of random triangles: framebuffer and both depth buffers must
// match bit for bit.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

#include "gfx/simd.h"
#include "raster/raster_internal.h"
#include "raster/raster_support.h"

namespace {


class Differential : public ::testing::TestWithParam<uint32_t> {
protected:
    static void SetUpTestSuite() { ASSERT_EQ(display_open_offscreen(1), 0); }
    static void TearDownTestSuite() { display_close(); }
};

int random_pow2(TestRandom* r, int max_shift) { return 1 << test_random_int(r, 0, max_shift); }

// A random triangle of one of several kinds: ordinary, tiny, thin, large, far outside the screen.
void random_triangle(TestRandom* r, MeshVertex v[3], uint32_t mode) {
    int kind = test_random_int(r, 0, 9);
    float cx = test_random_float(r, -60, 700), cy = test_random_float(r, -60, 540);
    float spread = kind <= 3 ? 60.0f : kind <= 5 ? 4.0f : kind == 6 ? 250.0f : kind == 7 ? 4000.0f : 25.0f;
    for (int i = 0; i < 3; i++) {
        float sx = cx + test_random_float(r, -spread, spread);
        float sy = cy + test_random_float(r, -spread, spread);
        if (kind == 8 && i == 2) {  // thin sliver
            sx = (v[0].sx + v[1].sx) * 0.5f + test_random_float(r, -0.7f, 0.7f);
            sy = (v[0].sy + v[1].sy) * 0.5f + test_random_float(r, -0.7f, 0.7f);
        }
        if (kind == 9) {  // whole pixels and halves, where the fill rule decides
            sx = (float)test_random_int(r, -20, 660) * 0.5f;
            sy = (float)test_random_int(r, -20, 500) * 0.5f;
            if (i > 0) {
                sx = v[0].sx + (float)test_random_int(r, -40, 40);
                sy = v[0].sy + (float)test_random_int(r, -40, 40);
            }
        }
        float sz = test_random_float(r, 0.002f, 1.3f);
        if ((mode & RENDER_PERSPECTIVE) && test_random_int(r, 0, 7) == 0) sz = test_random_float(r, -1, 1);
        uint32_t colour = test_random_u32(r);
        if (test_random_int(r, 0, 3) == 0) colour = 0xFF808080u ^ (test_random_u32(r) & 0x0F0F0F0Fu);
        v[i] = test_vertex(sx, sy, sz, test_random_float(r, -2.5f, 2.5f), test_random_float(r, -2.5f, 2.5f),
                           test_random_float(r, -1, 2), test_random_float(r, -1, 2), colour);
    }
}

// The pictures a batch reads: texture (with colour keys), environment map and bump map in the slots.
struct DiffMaps {
    Image* tex;
    Image* env;
    Image* bump;
};

DiffMaps diff_maps_new(TestRandom* r, uint32_t mode) {
    const bool mip = mode & RENDER_MIPMAP;
    int tw = random_pow2(r, 8), th = mip ? tw : random_pow2(r, 8);
    DiffMaps m;
    m.tex = test_image_random(r, tw, th, mip);
    for (int i = 0; i < tw * th; i += test_random_int(r, 1, 9)) m.tex->pixels[i] = 0xFFFF00FFu;  // keys
    m.env = test_image_random(r, random_pow2(r, 8), random_pow2(r, 8), 0);
    // Mostly a bump map at least as large as the texture; sometimes a smaller one (not drawn).
    int bw = tw << test_random_int(r, 0, 1), bh = th << test_random_int(r, 0, 1);
    if (test_random_int(r, 0, 9) == 0) bw = std::max(1, tw / 2);
    m.bump = test_image_random(r, bw, bh, 0);
    raster_set_env_map(m.env);
    raster_set_bump_map(m.bump);
    return m;
}

void diff_maps_free(DiffMaps* m) {
    image_free(m->tex);
    image_free(m->env);
    image_free(m->bump);
}

// Random framebuffer and depth buffers, some depths at the cleared value.
void diff_buffers_randomise(TestRandom* r) {
    for (int i = 0; i < 640 * 480; i++) {
        framebuffer.pixels[i] = test_random_u32(r);
        uint32_t z = test_random_u32(r);
        depth_buffer->values[i] = (z & 7) == 0 ? 0x7FFFFFFF : (int32_t)(z % 22000) - 500;
        depth_buffer2->values[i] = (z & 0x70) == 0 ? 0x7FFFFFFF : (int32_t)((z >> 8) % 22000) - 500;
    }
}

// Draws the batch on every path this processor runs, from start, and compares with ref.
void diff_check_paths(const RefBuffers& start, const RefBuffers& ref, RasterTriangle* tris, int count,
                      const Image* tex, uint32_t mode, const char* what) {
    for (int path = 0; path <= simd_best_level(); path++) {
        ref_restore(&start);
        const int old_path = raster_path_set(path);
        triangles_draw(tris, count, tex, mode);
        raster_path_set(old_path);
        int bad_frame = -1, bad_depth = -1, bad_shadow = -1;
        for (int i = 0; i < 640 * 480; i++) {
            if (bad_frame < 0 && framebuffer.pixels[i] != ref.frame[i]) bad_frame = i;
            if (bad_depth < 0 && depth_buffer->values[i] != ref.depth[i]) bad_depth = i;
            if (bad_shadow < 0 && depth_buffer2->values[i] != ref.shadow[i]) bad_shadow = i;
        }
        ASSERT_EQ(bad_frame, -1) << "mode " << std::hex << mode << " path " << path << " " << what
                                 << std::dec << " pixel " << bad_frame % 640 << "," << bad_frame / 640
                                 << " got " << std::hex << framebuffer.pixels[bad_frame] << " want "
                                 << ref.frame[bad_frame];
        ASSERT_EQ(bad_depth, -1) << "mode " << std::hex << mode << " path " << path << " " << what;
        ASSERT_EQ(bad_shadow, -1) << "mode " << std::hex << mode << " path " << path << " " << what;
    }
}

// A vertex at (sx, sy) with random depth, texture coordinates and colour.
MeshVertex diff_vertex(TestRandom* r, float sx, float sy) {
    const float sz = test_random_float(r, 0.002f, 1.3f);
    const float u = test_random_float(r, -2.5f, 2.5f), v = test_random_float(r, -2.5f, 2.5f);
    const float eu = test_random_float(r, -1, 2), ev = test_random_float(r, -1, 2);
    return test_vertex(sx, sy, sz, u, v, eu, ev, test_random_u32(r));
}

// Draws `batches` batches of `per_batch` triangles, each over fresh maps and random buffers, on every
// path against the reference; make(r, i, v, t) fills triangle i's three vertices and its colour and
// flags. Returns how many pixels the reference changed, so a caller can see the test drew enough.
template <class Make>
long diff_batches(TestRandom* r, uint32_t mode, int batches, int per_batch, const char* label, Make make) {
    long drawn_pixels = 0;
    for (int batch = 0; batch < batches; batch++) {
        DiffMaps maps = diff_maps_new(r, mode);
        diff_buffers_randomise(r);
        RefBuffers start, ref;
        ref_capture(&start);
        ref = start;
        std::vector<MeshVertex> verts((size_t)per_batch * 3);
        std::vector<RasterTriangle> tris(per_batch);
        for (int i = 0; i < per_batch; i++) {
            RasterTriangle& t = tris[i];
            MeshVertex* v = &verts[(size_t)i * 3];
            make(r, i, v, &t);
            t.vert0 = &v[0];
            t.vert1 = &v[1];
            t.vert2 = &v[2];
            ref_draw(&ref, t.vert0, t.vert1, t.vert2, t.flags, t.colour, maps.tex, maps.env, maps.bump, mode);
        }
        char what[48];
        snprintf(what, sizeof what, "%s batch %d", label, batch);
        diff_check_paths(start, ref, tris.data(), per_batch, maps.tex, mode, what);
        if (::testing::Test::HasFatalFailure()) return drawn_pixels;
        for (int i = 0; i < 640 * 480; i++)
            drawn_pixels += ref.frame[i] != start.frame[i] || ref.depth[i] != start.depth[i] ||
                            ref.shadow[i] != start.shadow[i];
        diff_maps_free(&maps);
    }
    return drawn_pixels;
}

TEST_P(Differential, MatchesReferenceOnRandomTriangles) {
    const uint32_t mode = GetParam();
    TestRandom r{0x9E3779B97F4A7C15ull ^ mode};
    const long drawn_pixels =
        diff_batches(&r, mode, 20, 100, "random", [mode](TestRandom* r, int, MeshVertex* v, RasterTriangle* t) {
            random_triangle(r, v, mode);
            t->colour = test_random_u32(r);
            if (test_random_int(r, 0, 3) == 0) t->colour = 0xFFFFFFFFu;
            t->flags = test_random_int(r, 0, 1);
        });
    if (HasFatalFailure()) return;
    // The comparison means little if the reference drew next to nothing.
    EXPECT_GT(drawn_pixels, 20000) << "mode " << std::hex << mode;
}

// Runs of every length from 1 to 40 pixels that end at the right edge of the screen, down to the
// very last pixel of the buffers, and runs that start at the left edge: the packed paths draw the
// last group of a run only as far as the run goes, so nothing beside or beyond the buffers is read
// or written (the sanitizer build sees the buffer ends).
TEST_P(Differential, RunsAtTheScreenEdgesStopAtTheirEnds) {
    const uint32_t mode = GetParam();
    TestRandom r{0x51ED2701ull ^ mode};
    DiffMaps maps = diff_maps_new(&r, mode);
    diff_buffers_randomise(&r);
    RefBuffers start, ref;
    ref_capture(&start);
    ref = start;
    const int widths = 40;
    std::vector<MeshVertex> verts((size_t)widths * 6);
    std::vector<RasterTriangle> tris((size_t)widths * 2);
    for (int w = 1; w <= widths; w++) {
        MeshVertex* v = &verts[(size_t)(w - 1) * 6];
        // Right edge: rows 478 and 479 covered from column 640 - w to past the screen.
        const float xr = 640.0f - (float)w - 0.5f, yr = 477.5f;
        // Left edge: rows 1 and 2 covered from before the screen to column w - 1.
        const float xl = (float)w - 0.5f, yl = 0.5f;
        const float z = test_random_float(&r, 0.01f, 1.2f);
        v[0] = test_vertex(xr, yr, z, 0.1f, 0.2f, 0.3f, 0.4f, test_random_u32(&r));
        v[1] = test_vertex(700.0f, yr, z, 0.9f, 0.2f, 0.7f, 0.4f, test_random_u32(&r));
        v[2] = test_vertex(xr, 482.0f, z, 0.1f, 0.8f, 0.3f, 0.9f, test_random_u32(&r));
        v[3] = test_vertex(-60.0f, yl, z, 0.1f, 0.2f, 0.3f, 0.4f, test_random_u32(&r));
        v[4] = test_vertex(xl, yl, z, 0.9f, 0.2f, 0.7f, 0.4f, test_random_u32(&r));
        v[5] = test_vertex(xl, 2.5f, z, 0.1f, 0.8f, 0.3f, 0.9f, test_random_u32(&r));
        for (int k = 0; k < 2; k++) {
            RasterTriangle& t = tris[(size_t)(w - 1) * 2 + k];
            t.vert0 = &v[k * 3];
            t.vert1 = &v[k * 3 + 1];
            t.vert2 = &v[k * 3 + 2];
            t.colour = test_random_u32(&r);
            t.flags = DOUBLE_SIDED;
            ref_draw(&ref, t.vert0, t.vert1, t.vert2, t.flags, t.colour, maps.tex, maps.env, maps.bump, mode);
        }
    }
    long changed = 0;
    for (int y : {1, 2, 478, 479})
        for (int i = y * 640; i < (y + 1) * 640; i++)
            changed += ref.frame[i] != start.frame[i] || ref.depth[i] != start.depth[i] ||
                       ref.shadow[i] != start.shadow[i];
    EXPECT_GT(changed, 40) << "the edge rows were hardly drawn";
    diff_check_paths(start, ref, tris.data(), (int)tris.size(), maps.tex, mode, "edge runs");
    diff_maps_free(&maps);
}

// Narrow triangles, whose short rows some modes draw two rows at a time: one to sixteen pixels
// wide, under one to forty rows tall (one-row boxes and odd heights among them), starting on odd and
// even rows, on whole and half pixels where the fill rule decides, and some against the screen's
// right and bottom edges, where a pair of rows has a single column or a single row left.
TEST_P(Differential, NarrowTrianglesMatchReference) {
    const uint32_t mode = GetParam();
    TestRandom r{0x7A11E5ull ^ mode};
    const long drawn_pixels =
        diff_batches(&r, mode, 4, 150, "narrow", [](TestRandom* r, int i, MeshVertex* v, RasterTriangle* t) {
            const float w = test_random_float(r, 0.3f, 16.0f);
            const float h = test_random_int(r, 0, 3) == 0 ? test_random_float(r, 0.3f, 2.0f)
                                                          : (float)test_random_int(r, 1, 40) + test_random_float(r, -0.5f, 0.5f);
            float x0 = test_random_float(r, -4.0f, 630.0f), y0 = test_random_float(r, -4.0f, 470.0f);
            if (i % 5 == 1) x0 = 640.0f - w + test_random_float(r, -1.5f, 1.5f);
            if (i % 5 == 2) y0 = 480.0f - h + test_random_float(r, -1.5f, 1.5f);
            const bool whole = i % 4 == 3;
            for (int k = 0; k < 3; k++) {
                float sx = x0 + w * test_random_float(r, 0, 1);
                float sy = k == 0 ? y0 : k == 1 ? y0 + h : y0 + h * test_random_float(r, 0, 1);
                if (whole) {
                    sx = std::floor(sx * 2.0f) * 0.5f;
                    sy = std::floor(sy * 2.0f) * 0.5f;
                }
                v[k] = diff_vertex(r, sx, sy);
            }
            t->colour = test_random_u32(r);
            t->flags = DOUBLE_SIDED;
        });
    if (HasFatalFailure()) return;
    EXPECT_GT(drawn_pixels, 3000) << "mode " << std::hex << mode;
}

// Triangles whose run bounds are hard to get exactly right from row to row: corners on pixel
// centres with horizontal top or bottom edges (where the fill rule drops or keeps a whole row),
// boxes of one to three rows, long slivers at shallow and steep angles, boxes wider than the packed
// edge tests take, tips a pixel or two wide at the screen's right edge, corners millions of
// pixels away whose edges cross the screen, where the edge values leave 32 bits, and boxes narrow
// enough for the packed edge tests whose values in the box reach about 32 bits, either side.
TEST_P(Differential, RowBoundsMatchReferenceOnAwkwardTriangles) {
    const uint32_t mode = GetParam();
    TestRandom r{0xB0B5EEDull ^ mode};
    const long drawn_pixels =
        diff_batches(&r, mode, 4, 120, "awkward", [](TestRandom* r, int i, MeshVertex* v, RasterTriangle* t) {
            float x[3], y[3];
            const float cx = (float)test_random_int(r, -10, 650), cy = (float)test_random_int(r, -10, 490);
            switch (i % 6) {
            case 0: {  // pixel-centre corners, a horizontal edge on top or at the bottom
                const float w = (float)test_random_int(r, 1, 300), h = (float)test_random_int(r, 0, 3);
                const float dir = test_random_int(r, 0, 1) ? 1.0f : -1.0f;
                x[0] = cx, y[0] = cy, x[1] = cx + w, y[1] = cy;
                x[2] = cx + (float)test_random_int(r, -40, 340), y[2] = cy + dir * (h == 0 ? 0.5f : h);
                break;
            }
            case 1: {  // a long sliver at any angle
                const float a = test_random_float(r, 0, 6.2832f), len = test_random_float(r, 20, 600);
                x[0] = cx, y[0] = cy, x[1] = cx + len * std::cos(a), y[1] = cy + len * std::sin(a);
                x[2] = (x[0] + x[1]) * 0.5f + test_random_float(r, -1.5f, 1.5f);
                y[2] = (y[0] + y[1]) * 0.5f + test_random_float(r, -1.5f, 1.5f);
                break;
            }
            case 2: {  // a wide box one to three rows tall
                const float w = test_random_float(r, 9, 400);
                x[0] = cx, y[0] = cy + test_random_float(r, -0.5f, 0.5f);
                x[1] = cx + w, y[1] = cy + test_random_float(r, -1.5f, 1.5f);
                x[2] = cx + test_random_float(r, 0, w), y[2] = cy + test_random_float(r, -1.5f, 2.5f);
                break;
            }
            case 3: {  // a tip of one or two pixels at the right edge of the screen
                const float tip = 639.0f + test_random_float(r, -1.2f, 0.9f);
                x[0] = tip, y[0] = cy, x[1] = tip - test_random_float(r, 10, 200);
                y[1] = cy - test_random_float(r, 0, 30), x[2] = x[1] + test_random_float(r, -5, 5);
                y[2] = cy + test_random_float(r, 0, 30);
                break;
            }
            case 5: {  // a steep sliver a few columns wide from far above the screen to far below
                const float far = test_random_float(r, 2e4f, 1.2e5f);
                x[0] = cx, y[0] = -far, x[1] = cx + test_random_float(r, -14, 14), y[1] = far;
                x[2] = cx + test_random_float(r, -14, 14), y[2] = cy + test_random_float(r, -far, far);
                break;
            }
            default: {  // corners far away, edges across the screen
                const float far = test_random_float(r, 1e5f, 3e7f);
                x[0] = cx, y[0] = cy;
                x[1] = cx + far * test_random_float(r, -1, 1), y[1] = cy + far * test_random_float(r, -1, 1);
                x[2] = x[1] + test_random_float(r, -3e3f, 3e3f), y[2] = y[1] + test_random_float(r, -3e3f, 3e3f);
                break;
            }
            }
            for (int k = 0; k < 3; k++) v[k] = diff_vertex(r, x[k], y[k]);
            t->colour = test_random_u32(r);
            t->flags = DOUBLE_SIDED;
        });
    if (HasFatalFailure()) return;
    EXPECT_GT(drawn_pixels, 3000) << "mode " << std::hex << mode;
}

// Filtered texels across the texture's last column and row, where a texel's right neighbour wraps
// to column 0 and its lower one to row 0: small triangles whose texture coordinates straddle the
// corner, so that groups hold lanes on both sides of the seam (the packed paths read adjacent texel
// pairs together only where no lane of the group wraps) and lanes on the very last texel.
TEST_P(Differential, FilteredTexelsAcrossTheWrapMatchReference) {
    const uint32_t mode = GetParam();
    if (!(mode & RENDER_BILINEAR)) GTEST_SKIP() << "not filtered";
    TestRandom r{0x5EA3F00Dull ^ mode};
    const long drawn_pixels =
        diff_batches(&r, mode, 4, 120, "seam", [](TestRandom* r, int, MeshVertex* v, RasterTriangle* t) {
            const float x0 = test_random_float(r, 0.0f, 620.0f), y0 = test_random_float(r, 0.0f, 460.0f);
            const float size = test_random_float(r, 3.0f, 20.0f), reach = test_random_float(r, 0.01f, 0.2f);
            for (int k = 0; k < 3; k++) {
                v[k] = diff_vertex(r, x0 + size * test_random_float(r, 0, 1), y0 + size * test_random_float(r, 0, 1));
                v[k].u = 1.0f + test_random_float(r, -reach, reach);
                v[k].v = 1.0f + test_random_float(r, -reach, reach);
            }
            t->colour = test_random_u32(r);
            t->flags = DOUBLE_SIDED;
        });
    if (HasFatalFailure()) return;
    EXPECT_GT(drawn_pixels, 2000) << "mode " << std::hex << mode;
}

INSTANTIATE_TEST_SUITE_P(AllModes, Differential, ::testing::ValuesIn(test_drawn_modes()),
                         [](const ::testing::TestParamInfo<uint32_t>& info) {
                             char name[16];
                             snprintf(name, sizeof name, "Mode%04X", info.param);
                             return std::string(name);
                         });

}  // namespace
