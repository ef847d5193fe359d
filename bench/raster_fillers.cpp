// Filler throughput: one representative mode of each family on right triangles of about 16, 256,
// 4096 and 65536 covered pixels (BM_Filler), on short-row shapes, right triangles 1 to 16 pixels
// wide over 8 or 64 rows (BM_FillerRows), and on a turned grid of small triangles with every run
// starting anywhere in its box (BM_FillerMesh), which is what the scenes mostly draw. Reports
// covered pixels per second (items), triangles per second and the time per drawn row. Every
// triangle passes its depth test: its depth steps nearer each time, and the depth buffer is reset
// (outside the timing) before the steps run out. The last argument is the path: 0 scalar, 1 SSE2, 2 AVX2 (a path
// the processor lacks runs the widest it has).
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "gfx/display.h"
#include "gfx/image.h"
#include "raster/raster.h"
#include "raster/raster_internal.h"

namespace {

Image* bench_texture(int side, uint32_t seed) {
    Image* img = image_new(side, side);
    for (int i = 0; i < side * side; i++) {
        seed = seed * 1664525u + 1013904223u;
        img->pixels[i] = seed | 0x80000000u;
    }
    return img;
}

struct BenchScene {
    Image* texture;
    Image* env;
    Image* bump;
};

BenchScene* bench_scene(void) {
    static BenchScene scene = {nullptr, nullptr, nullptr};
    if (!scene.texture) {
        if (display_open_offscreen(1) != 0) abort();
        scene.texture = bench_texture(256, 1);
        scene.env = bench_texture(256, 2);
        scene.bump = bench_texture(256, 3);
        raster_set_env_map(scene.env);
        raster_set_bump_map(scene.bump);
    }
    return &scene;
}

// A right triangle with its right angle at the top left, legs w wide and h tall.
void bench_corners(MeshVertex v[3], float w, float h, float sz) {
    const float x = 40.5f, y = 30.5f;
    const float sx[3] = {x, x + w, x}, sy[3] = {y, y, y + h};
    const float u[3] = {0, 1, 0}, vv[3] = {0, 0, 1};
    const uint32_t c[3] = {0xFFFF8040u, 0xC040FF80u, 0x8080C0FFu};
    for (int i = 0; i < 3; i++) {
        v[i] = MeshVertex{};
        v[i].sx = sx[i];
        v[i].sy = sy[i];
        v[i].sz = sz;
        v[i].u = u[i];
        v[i].v = vv[i];
        v[i].env_u = u[i] * 0.5f + 0.1f;
        v[i].env_v = vv[i] * 0.5f + 0.2f;
        v[i].colour = c[i];
    }
}

// Pixels and rows the triangle covers, counted by drawing it once.
void bench_covered(const MeshVertex v[3], long* pixels, long* rows) {
    frame_clear(0);
    RasterTriangle t{};
    t.vert0 = &v[0];
    t.vert1 = &v[1];
    t.vert2 = &v[2];
    t.colour = 0xFFFFFFFFu;
    triangles_draw(&t, 1, nullptr, RENDER_FLAT);
    *pixels = *rows = 0;
    for (int y = 0; y < SCREEN_HEIGHT; y++) {
        long n = 0;
        for (int x = 0; x < SCREEN_WIDTH; x++) n += framebuffer.pixels[y * SCREEN_WIDTH + x] != 0;
        *pixels += n;
        *rows += n != 0;
    }
}

// The depth of the next drawing: a little nearer each time, so every pixel passes its depth test;
// the depth buffers are reset, outside the timing, before the steps run out.
static float bench_next_depth(benchmark::State& state, int* step) {
    if (++*step == 16000) {
        state.PauseTiming();
        frame_begin();
        *step = 1;
        state.ResumeTiming();
    }
    return 1.0f - (float)*step * (1.0f / 16383.0f);
}

// Draws the triangle v in the given mode and path until the benchmark has its time.
void bench_draw(benchmark::State& state, RenderMode mode, MeshVertex v[3], int path) {
    BenchScene* scene = bench_scene();
    const int old_path = raster_path_set(path);
    long covered, rows;
    bench_covered(v, &covered, &rows);
    frame_clear(0xFF204060u);
    frame_begin();
    RasterTriangle t{};
    t.vert0 = &v[0];
    t.vert1 = &v[1];
    t.vert2 = &v[2];
    t.colour = 0xFFC0A080u;
    int step = 0;
    for (auto _ : state) {
        const float sz = bench_next_depth(state, &step);
        v[0].sz = v[1].sz = v[2].sz = sz;
        triangles_draw(&t, 1, scene->texture, mode);
        benchmark::ClobberMemory();
    }
    raster_path_set(old_path);
    state.SetItemsProcessed((int64_t)state.iterations() * covered);
    state.counters["covered"] = (double)covered;
    state.counters["rows"] = (double)rows;
    state.counters["tri/s"] = benchmark::Counter((double)state.iterations(), benchmark::Counter::kIsRate);
    // Time per covered row: the figure that short rows make dominant.
    state.counters["row_ns"] = benchmark::Counter((double)state.iterations() * (double)rows * 1e-9,
                                                  benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

const int bench_modes[] = {0x0011, 0x0015, 0x0016, 0x0026, 0x0034, 0x0035, 0x0096, 0x1414, 0x2014, 0x4015, 0x0010};

void BM_Filler(benchmark::State& state) {
    MeshVertex v[3];
    const float leg = (float)std::sqrt(2.0 * (double)state.range(1));
    bench_corners(v, leg, leg, 1.0f);
    bench_draw(state, (RenderMode)state.range(0), v, (int)state.range(2));
}

void BM_FillerRows(benchmark::State& state) {
    MeshVertex v[3];
    bench_corners(v, (float)state.range(1), (float)state.range(2), 1.0f);
    bench_draw(state, (RenderMode)state.range(0), v, (int)state.range(3));
}

// A patch of mesh as the scenes draw it: a grid of cells, each two triangles, turned by 23 degrees so
// that rows start and end anywhere in a box, with the texture spread once over the whole patch.
// Triangles of cell^2 / 2 pixels each (442 of them at 12-pixel cells) over about 250 x 200 pixels.
void BM_FillerMesh(benchmark::State& state) {
    BenchScene* scene = bench_scene();
    const RenderMode mode = (RenderMode)state.range(0);
    const float cell = (float)state.range(1);
    const int old_path = raster_path_set((int)state.range(2));
    const int cols = (int)(200.0f / cell) + 1, rows = (int)(150.0f / cell) + 1;
    const float c = std::cos(0.4f), s = std::sin(0.4f);
    std::vector<MeshVertex> verts((size_t)(cols + 1) * (rows + 1));
    for (int j = 0; j <= rows; j++) {
        for (int i = 0; i <= cols; i++) {
            const float x = (float)i * cell, y = (float)j * cell;
            MeshVertex& v = verts[(size_t)j * (cols + 1) + i];
            v = MeshVertex{};
            v.sx = 250.3f + x * c - y * s;
            v.sy = 60.7f + x * s + y * c;
            v.u = (float)i / (float)cols;
            v.v = (float)j / (float)rows;
            v.env_u = v.u * 0.5f + 0.1f;
            v.env_v = v.v * 0.5f + 0.2f;
            v.colour = 0xFF000000u | (uint32_t)(i * 37 % 256) << 16 | (uint32_t)(j * 53 % 256) << 8 | 0x80u;
        }
    }
    std::vector<RasterTriangle> tris;
    for (int j = 0; j < rows; j++) {
        for (int i = 0; i < cols; i++) {
            const MeshVertex* a = &verts[(size_t)j * (cols + 1) + i];
            const MeshVertex* b = a + 1;
            const MeshVertex* d = a + cols + 1;
            const MeshVertex* e = d + 1;
            RasterTriangle t{};
            t.colour = 0xFFC0A080u;
            t.vert0 = a, t.vert1 = b, t.vert2 = e;
            tris.push_back(t);
            t.vert0 = a, t.vert1 = e, t.vert2 = d;
            tris.push_back(t);
        }
    }
    frame_clear(0);
    triangles_draw(tris.data(), (int)tris.size(), nullptr, RENDER_FLAT);
    long covered = 0, covered_rows = 0;
    for (int i = 0; i < SCREEN_WIDTH * SCREEN_HEIGHT; i++) covered += framebuffer.pixels[i] != 0;
    for (const RasterTriangle& t : tris) {
        // Rows of each triangle with at least one covered pixel, from the exact edge tests.
        for (int y = t.min_y; y <= t.max_y; y++) {
            for (int x = t.min_x; x <= t.max_x; x++) {
                int64_t in = 1;
                for (int k = 0; k < 3 && in; k++)
                    in = t.wide_edge[k][0] * x + t.wide_edge[k][1] * y + t.wide_edge[k][2] >= 0;
                if (in) {
                    covered_rows++;
                    break;
                }
            }
        }
    }
    frame_clear(0xFF204060u);
    frame_begin();
    int step = 0;
    for (auto _ : state) {
        const float sz = bench_next_depth(state, &step);
        for (MeshVertex& v : verts) v.sz = sz;
        triangles_draw(tris.data(), (int)tris.size(), scene->texture, mode);
        benchmark::ClobberMemory();
    }
    raster_path_set(old_path);
    const double n = (double)state.iterations();
    state.SetItemsProcessed((int64_t)state.iterations() * covered);
    state.counters["covered"] = (double)covered / (double)tris.size();
    state.counters["rows"] = (double)covered_rows / (double)tris.size();
    state.counters["tri/s"] = benchmark::Counter(n * (double)tris.size(), benchmark::Counter::kIsRate);
    state.counters["row_ns"] = benchmark::Counter(n * (double)covered_rows * 1e-9,
                                                  benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void bench_args(benchmark::internal::Benchmark* b) {
    for (int m : bench_modes)
        for (int pixels : {16, 256, 4096, 65536})
            for (int path : {2, 1, 0}) b->Args({m, pixels, path});
    b->ArgNames({"mode", "pixels", "path"});
}

void bench_row_args(benchmark::internal::Benchmark* b) {
    for (int m : bench_modes)
        for (int rows : {8, 64})
            for (int width : {1, 2, 4, 8, 16})
                for (int path : {2, 1, 0}) b->Args({m, width, rows, path});
    b->ArgNames({"mode", "width", "rows", "path"});
}

// Cells of 6, 12 and 24 pixels: triangles of about 18, 72 and 290 pixels (the scenes' are 20 to 70).
void bench_mesh_args(benchmark::internal::Benchmark* b) {
    for (int m : bench_modes)
        for (int cell : {6, 12, 24})
            for (int path : {2, 1, 0}) b->Args({m, cell, path});
    b->ArgNames({"mode", "cell", "path"});
}

BENCHMARK(BM_Filler)->Apply(bench_args);
BENCHMARK(BM_FillerRows)->Apply(bench_row_args);
BENCHMARK(BM_FillerMesh)->Apply(bench_mesh_args);

}  // namespace

BENCHMARK_MAIN();
