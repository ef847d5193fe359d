// One step of a 32 x 32 cloth: 1,024 masses and 3,906 springs (four per cell plus the far edges),
// two corners pinned, under gravity.
#include <benchmark/benchmark.h>

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

BENCHMARK_MAIN();
