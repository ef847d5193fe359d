#include "gfx/simd.h"

#include <atomic>
#include <cstdlib>
#include <cstring>

// Set once at start, but tests change it while the loading thread may be blitting: atomic, relaxed.
static std::atomic<int> simd_level_in_force{-1};

int simd_best_level(void) {
#if defined(__x86_64__) || defined(__i386__)
#if (defined(__GNUC__) || defined(__clang__)) && defined(__SSE2__)
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx2")) return SIMD_AVX2;
#endif
#if defined(__SSE2__)
    return SIMD_SSE2;
#endif
#elif defined(__EMSCRIPTEN__) && defined(__SSE2__)
    return SIMD_SSE2;  // the browser build: SSE2 through WebAssembly SIMD, no AVX2, nothing to ask
#endif
    return SIMD_SCALAR;
}

int simd_level(void) {
    int level = simd_level_in_force.load(std::memory_order_relaxed);
    if (level < 0) {
        level = simd_best_level();  // racing threads all compute the same answer
        simd_level_in_force.store(level, std::memory_order_relaxed);
    }
    return level;
}

int simd_use_level(int level) {
    int best = simd_best_level();
    int chosen = level < SIMD_SCALAR ? SIMD_SCALAR : level > best ? best : level;
    simd_level_in_force.store(chosen, std::memory_order_relaxed);
    return chosen;
}

static const char* const simd_names[] = {"scalar", "sse2", "avx2"};

const char* simd_level_name(int level) {
    return level >= SIMD_SCALAR && level <= SIMD_AVX2 ? simd_names[level] : "unknown";
}

int simd_parse_level(const char* text, int* level) {
    for (int i = SIMD_SCALAR; i <= SIMD_AVX2; i++)
        if (text && !strcmp(text, simd_names[i])) {
            *level = i;
            return 0;
        }
    return 1;
}

int simd_init_from_env(const char* program, FILE* err) {
    const char* text = getenv("QUILLET_SIMD");
    if (!text || !*text) return 0;
    int level;
    if (simd_parse_level(text, &level) != 0) {
        fprintf(err, "%s: QUILLET_SIMD must be scalar, sse2 or avx2, not '%.64s'\n", program, text);
        return 2;
    }
    simd_use_level(level);
    return 0;
}
