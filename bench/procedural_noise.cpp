// Cost of one noise2 / noise3 call, at coordinates that wander over many cells as scenes use them.
#include <benchmark/benchmark.h>

#include "procedural/noise.h"

static void BM_noise2(benchmark::State& state) {
    noise_init(0);
    float x = 0.1f, y = 0.7f;
    for (auto _ : state) {
        benchmark::DoNotOptimize(noise2(x, y));
        x += 0.37f;
        y += 0.113f;
        if (x > 4000.0f) x -= 4000.0f;
        if (y > 4000.0f) y -= 4000.0f;
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_noise2);

static void BM_noise3(benchmark::State& state) {
    noise_init(0);
    float x = 0.1f, y = 0.7f, z = -3.2f;
    for (auto _ : state) {
        benchmark::DoNotOptimize(noise3(x, y, z));
        x += 0.37f;
        y += 0.113f;
        z += 0.051f;
        if (x > 4000.0f) x -= 4000.0f;
        if (y > 4000.0f) y -= 4000.0f;
        if (z > 4000.0f) z -= 4000.0f;
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_noise3);

BENCHMARK_MAIN();
