// The carved box's field work per frame, apart from drawing: rebuilding the field (the block copied
// back and 32 holes carved) and polygonising it. The polygoniser runs with the camera so far away
// that every triangle collapses into one pixel and set-up's early refusal drops it: the vertices
// and the cell walk are the scene's own, the fillers are not timed.
#include <benchmark/benchmark.h>

#include "gfx/display.h"
#include "gfx/simd.h"
#include "procedural/noise.h"
#include "scenes/carved_box.h"
#include "scenes/scenes.h"

namespace {

struct CarvedBox {
    CarvedBox() {
        noise_init(0);
        display_open_offscreen(1);
        scene_carved_box_init();
    }
};

void carved_box_ready() { static CarvedBox once; }

// Beats spread over the section: the holes outside, moving in, settled, and the dive.
const float kBeats[] = {195.3f, 209.1f, 214.7f, 223.2f, 236.5f, 244.9f, 250.2f};

void BM_carved_box_field(benchmark::State& state) {
    carved_box_ready();
    simd_use_level((int)state.range(0));
    size_t i = 0;
    for (auto _ : state) meta_field_update(kBeats[i++ % 7]);
    simd_use_level(simd_best_level());
}
BENCHMARK(BM_carved_box_field)->Arg(SIMD_SCALAR)->Arg(SIMD_SSE2)->Arg(SIMD_AVX2);

void BM_carved_box_polygonise(benchmark::State& state) {
    carved_box_ready();
    simd_use_level((int)state.range(0));
    meta_field_update(kBeats[state.range(1)]);
    Camera camera = {};
    camera_orbit(&camera, 0.3f, 0.2f, 1.0e6f, nullptr);
    camera.near = 1.0f, camera.far = 2.0e6f, camera.fov = 45.0f;
    camera.viewport_w = 640, camera.viewport_h = 480;
    camera_update(&camera);
    for (auto _ : state) {
        meta_lattice->light = {0.0f, 0.0f, 1.0f};
        lattice_polygonise(meta_lattice, 5.0f, &camera, nullptr, RENDER_GOURAUD | RENDER_DEPTH);
    }
    simd_use_level(simd_best_level());
}
BENCHMARK(BM_carved_box_polygonise)->ArgsProduct({{SIMD_SCALAR, SIMD_SSE2, SIMD_AVX2}, {0, 3, 5}});

}  // namespace

BENCHMARK_MAIN();
