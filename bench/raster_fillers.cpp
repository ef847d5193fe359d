// Filler throughput: one representative mode of each family on right triangles of about 16, 256,
// 4096 and 65536 covered pixels. Reports covered pixels per second (items) and triangles per second.
// Every triangle passes its depth test: its depth steps nearer each time, and the depth buffer is
// reset (outside the timing) before the steps run out.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>

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

void bench_corners(MeshVertex v[3], double pixels, float sz) {
    float leg = (float)std::sqrt(2.0 * pixels);
    const float x = 40.5f, y = 30.5f;
    const float sx[3] = {x, x + leg, x}, sy[3] = {y, y, y + leg};
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

// Pixels the triangle covers, counted by drawing it once.
long bench_covered(const MeshVertex v[3]) {
    frame_clear(0);
    RasterTriangle t{};
    t.vert0 = &v[0];
    t.vert1 = &v[1];
    t.vert2 = &v[2];
    t.colour = 0xFFFFFFFFu;
    triangles_draw(&t, 1, nullptr, RENDER_FLAT);
    long n = 0;
    for (int i = 0; i < SCREEN_WIDTH * SCREEN_HEIGHT; i++) n += framebuffer.pixels[i] != 0;
    return n;
}

void BM_Filler(benchmark::State& state) {
    BenchScene* scene = bench_scene();
    const RenderMode mode = (RenderMode)state.range(0);
    const double target = (double)state.range(1);
    raster_use_wide = (int)state.range(2);
    MeshVertex v[3];
    bench_corners(v, target, 1.0f);
    const long covered = bench_covered(v);
    frame_clear(0xFF204060u);
    frame_begin();
    RasterTriangle t{};
    t.vert0 = &v[0];
    t.vert1 = &v[1];
    t.vert2 = &v[2];
    t.colour = 0xFFC0A080u;
    int step = 0;
    for (auto _ : state) {
        if (++step == 16000) {
            state.PauseTiming();
            frame_begin();
            step = 1;
            state.ResumeTiming();
        }
        const float sz = 1.0f - (float)step * (1.0f / 16383.0f);
        v[0].sz = v[1].sz = v[2].sz = sz;
        triangles_draw(&t, 1, scene->texture, mode);
        benchmark::ClobberMemory();
    }
    raster_use_wide = 1;
    state.SetItemsProcessed((int64_t)state.iterations() * covered);
    state.counters["covered"] = (double)covered;
    state.counters["tri/s"] = benchmark::Counter((double)state.iterations(), benchmark::Counter::kIsRate);
}

void bench_args(benchmark::internal::Benchmark* b) {
    const int modes[] = {0x0011, 0x0015, 0x0016, 0x0026, 0x0034, 0x0096, 0x1414, 0x2014, 0x4015, 0x0010};
    for (int m : modes)
        for (int pixels : {16, 256, 4096, 65536})
            for (int wide : {1, 0}) b->Args({m, pixels, wide});
    b->ArgNames({"mode", "pixels", "wide"});
}

BENCHMARK(BM_Filler)->Apply(bench_args);

}  // namespace

BENCHMARK_MAIN();
