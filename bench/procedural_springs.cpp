// One step of a 32 x 32 cloth: 1,024 masses and 3,906 springs (four per cell plus the far edges),
// two corners pinned, under gravity; and one step of 26 hanging ropes of 40 to 64 masses, as the
// rope scene steps them, at the scalar level and at the best one.
#include <benchmark/benchmark.h>

#include "gfx/simd.h"
#include "procedural/springs.h"

static SpringSystem* bench_cloth(void) {
    SpringSystem* cloth = spring_system_new(1024, 3906);
    for (int i = 0; i < 32; i++)
        for (int j = 0; j < 32; j++) {
            SpringMass* m = &cloth->masses[32 * i + j];
            m->position = m->previous = Vec3{j * 1.0f, 0.0f, i * 1.0f};
        }
    cloth->masses[0].pinned = cloth->masses[31].pinned = 1;
    int s = 0;
    auto link = [&](int a, int b) {
        Vec3 d;
        vec3_sub(&cloth->masses[b].position, &cloth->masses[a].position, &d);
        cloth->springs[s++] = Spring{a, b, vec3_length(&d)};
    };
    for (int i = 0; i <= 30; i++)
        for (int j = 0; j <= 30; j++) {
            int a = 32 * i + j;
            link(a, a + 1);
            link(a, a + 32);
            link(a, a + 33);
            link(a + 1, a + 32);
            if (j == 30) link(a + 1, a + 33);
            if (i == 30) link(a + 32, a + 33);
        }
    cloth->gravity = Vec3{0.0f, -9.81f, 0.0f};
    return cloth;
}

static void BM_spring_step_cloth(benchmark::State& state) {
    SpringSystem* cloth = bench_cloth();
    for (auto _ : state) {
        spring_system_step(cloth);
        benchmark::DoNotOptimize(cloth->masses[500].position);
    }
    state.counters["springs"] = cloth->spring_count;
    spring_system_free(cloth);
}
BENCHMARK(BM_spring_step_cloth);

// Arg 0: the scalar level; 1: the best level.
static void BM_spring_step_ropes(benchmark::State& state) {
    enum { ROPES = 26 };
    SpringSystem* ropes[ROPES];
    int springs = 0;
    for (int i = 0; i < ROPES; i++) {
        const int masses = i < 12 ? 40 : i < 24 ? 56 : 64;
        const Vec3 start = {-16.0f, (float)i, 16.0f}, end = {16.0f, (float)-i, -16.0f};
        ropes[i] = spring_rope_new(&start, &end, masses);
        ropes[i]->masses[masses - 1].pinned = 1;
        ropes[i]->gravity = Vec3{1.0f, -9.81f, 0.5f};
        springs += ropes[i]->spring_count;
    }
    simd_use_level(state.range(0) ? simd_best_level() : SIMD_SCALAR);
    for (auto _ : state) {
        spring_systems_step(ropes, ROPES);
        benchmark::DoNotOptimize(ropes[7]->masses[20].position);
    }
    simd_use_level(simd_best_level());
    state.counters["springs"] = springs;
    for (SpringSystem* rope : ropes) spring_system_free(rope);
}
BENCHMARK(BM_spring_step_ropes)->Arg(0)->Arg(1);

BENCHMARK_MAIN();
