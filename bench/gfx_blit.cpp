// Full-screen 2D operations against memcpy of the same 1.2 MB, measured in the same run: after the
// usual table a second one gives every benchmark's time as a multiple of the memcpy time.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "gfx/blit.h"
#include "gfx/display.h"
#include "gfx/image.h"

namespace {

constexpr int kPixels = SCREEN_WIDTH * SCREEN_HEIGHT;

Image* bench_image() {
    static Image* image = nullptr;
    if (!image) {
        image = image_new(SCREEN_WIDTH, SCREEN_HEIGHT);
        std::mt19937 rng(3);
        for (int i = 0; i < kPixels; i++) image->pixels[i] = rng();
    }
    return image;
}

void bench_open(void) {
    if (!framebuffer.pixels) display_open_offscreen(1);
    frame_clear(0xFF7F7F7Fu);
}

void BM_memcpy(benchmark::State& state) {
    std::vector<uint32_t> src(kPixels, 0x12345678u), dst(kPixels);
    for (auto _ : state) {
        memcpy(dst.data(), src.data(), kPixels * 4);
        benchmark::DoNotOptimize(dst.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kPixels);
}

void BM_image_blit(benchmark::State& state) {
    bench_open();
    Image* image = bench_image();
    for (auto _ : state) {
        image_blit(image, 0, 0, 196, (uint32_t)state.range(0));
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kPixels);
}

// The same with the routines of a narrower path (the label says which ran).
void BM_image_blit_path(benchmark::State& state) {
    bench_open();
    Image* image = bench_image();
    int path = blit_use_path((int)state.range(0));
    for (auto _ : state) {
        image_blit(image, 0, 0, 196, 0);
        benchmark::ClobberMemory();
    }
    blit_use_path(BLIT_PATH_AVX2);
    state.SetLabel(path == BLIT_PATH_AVX2 ? "avx2" : path == BLIT_PATH_SSE2 ? "sse2" : "scalar");
    state.SetItemsProcessed(state.iterations() * kPixels);
}

// The scan-line overlay: one colour a row, every other row clear and the others dark, blitted from
// the picture (0) or from its row colours (1), which reads no source pixels.
void BM_scanlines(benchmark::State& state) {
    bench_open();
    static Image* lines = nullptr;
    static uint32_t colours[SCREEN_HEIGHT];
    if (!lines) {
        lines = image_new(SCREEN_WIDTH, SCREEN_HEIGHT);
        for (int i = 0; i < kPixels; i++) lines->pixels[i] = (i / SCREEN_WIDTH) % 2 ? 0x6E000000u : 0u;
        image_row_colours(lines, colours);
    }
    for (auto _ : state) {
        if (state.range(0)) image_blit_rows(colours, SCREEN_WIDTH, SCREEN_HEIGHT, 0, 0, 196, 0);
        else image_blit(lines, 0, 0, 196, 0);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kPixels);
}

void BM_image_draw(benchmark::State& state) {
    bench_open();
    Image* image = bench_image();
    for (auto _ : state) {
        image_draw(image, 0, 0, (uint32_t)state.range(0));
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kPixels);
}

void BM_image_draw_path(benchmark::State& state) {
    bench_open();
    Image* image = bench_image();
    int path = blit_use_path((int)state.range(0));
    for (auto _ : state) {
        image_draw(image, 0, 0, 1);
        benchmark::ClobberMemory();
    }
    blit_use_path(BLIT_PATH_AVX2);
    state.SetLabel(path == BLIT_PATH_AVX2 ? "avx2" : path == BLIT_PATH_SSE2 ? "sse2" : "scalar");
    state.SetItemsProcessed(state.iterations() * kPixels);
}

void BM_frame_clear(benchmark::State& state) {
    bench_open();
    for (auto _ : state) {
        frame_clear(0xFF7F7F7Fu);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kPixels);
}

void BM_depth_fill(benchmark::State& state) {
    bench_open();
    for (auto _ : state) {
        depth_fill(depth_buffer, 0x7FFFFFFFu);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kPixels);
}

BENCHMARK(BM_memcpy);
BENCHMARK(BM_image_blit)->Arg(0)->Arg(1)->Arg(5)->Arg(7);
BENCHMARK(BM_image_blit_path)->Arg(BLIT_PATH_SCALAR)->Arg(BLIT_PATH_SSE2);
BENCHMARK(BM_scanlines)->Arg(0)->Arg(1);
BENCHMARK(BM_image_draw)->Arg(0)->Arg(1)->Arg(3);
BENCHMARK(BM_image_draw_path)->Arg(BLIT_PATH_SCALAR)->Arg(BLIT_PATH_SSE2);
BENCHMARK(BM_frame_clear);
BENCHMARK(BM_depth_fill);

// Console output as usual, then each benchmark's time as a ratio to memcpy's: the median when the
// run has repetitions (--benchmark_repetitions=N), else the single measurement. Both wall and CPU
// time: on a machine shared with other work the CPU-time ratio is the steadier one.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            std::string name = run.run_name.str();
            if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median") {
                times[name] = {run.GetAdjustedRealTime(), run.GetAdjustedCPUTime()};
                medians[name] = true;
            } else if (run.run_type == Run::RT_Iteration && !medians[name]) {
                times[name] = {run.GetAdjustedRealTime(), run.GetAdjustedCPUTime()};
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }
    void Finalize() override {
        ConsoleReporter::Finalize();
        auto base = times.find("BM_memcpy");
        if (base == times.end() || base->second.first <= 0 || base->second.second <= 0) return;
        printf("\ntime as a multiple of memcpy of the same %d bytes (same run):\n", kPixels * 4);
        printf("  %-28s %6s %6s\n", "", "wall", "cpu");
        for (auto& [name, time] : times)
            printf("  %-28s %6.2f %6.2f\n", name.c_str(), time.first / base->second.first,
                   time.second / base->second.second);
    }
    std::map<std::string, std::pair<double, double>> times;  // wall, cpu per iteration
    std::map<std::string, bool> medians;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    display_close();
    return 0;
}
