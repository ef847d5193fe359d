#include "runtime/pacing.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "gfx/display.h"

PacingSettings pacing_settings = {PACING_FPS_CAP, 0};

static constexpr double PACING_BIN_SECONDS = 10e-6;

int pacing_parse_number(const char* text, int max, int* value) {
    if (!text || !*text) return 1;
    long v = 0;
    for (const char* p = text; *p; ++p) {
        if (*p < '0' || *p > '9') return 1;
        v = v * 10 + (*p - '0');
        if (v > max) return 1;
    }
    *value = (int)v;
    return 0;
}

int pacing_read_env(const char* program, FILE* err) {
    PacingSettings s = {PACING_FPS_CAP, 0};
    const char* cap = getenv("QUILLET_FPS_CAP");
    if (cap && pacing_parse_number(cap, PACING_FPS_CAP_MAX, &s.fps_cap) != 0) {
        fprintf(err, "%s: QUILLET_FPS_CAP must be a whole number of frames a second from 0 (no cap) to %d, "
                "not '%.64s'\n", program, PACING_FPS_CAP_MAX, cap);
        return 1;
    }
    const char* stats = getenv("QUILLET_STATS");
    if (stats && pacing_parse_number(stats, 1, &s.stats) != 0) {
        fprintf(err, "%s: QUILLET_STATS must be 0 or 1, not '%.64s'\n", program, stats);
        return 1;
    }
    pacing_settings = s;
    return 0;
}

double pacing_now(void) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

void pacing_start(FramePacer* pacer, int fps_cap, PacingStats* stats) {
    pacer->period = fps_cap > 0 ? 1.0 / fps_cap : 0.0;
    pacer->due = -1.0;
    pacer->present_count = 0;
    pacer->present_next = 0;
    pacer->stats = stats;
    if (stats) memset(stats, 0, sizeof *stats);
}

static double pacing_present_median(const FramePacer* pacer) {
    float sorted[PACING_PRESENT_WINDOW];
    int n = pacer->present_count;
    std::copy(pacer->presents, pacer->presents + n, sorted);
    std::nth_element(sorted, sorted + n / 2, sorted + n);
    return sorted[n / 2];
}

double pacing_plan(FramePacer* pacer, double now, double present_seconds) {
    pacer->presents[pacer->present_next] = (float)present_seconds;
    pacer->present_next = (pacer->present_next + 1) % PACING_PRESENT_WINDOW;
    if (pacer->present_count < PACING_PRESENT_WINDOW) pacer->present_count++;
    double next = pacer->due + pacer->period;
    // No cap, the display paces us, or we are late: draw the next frame now.
    if (pacer->period <= 0.0 || pacer->due < 0.0 || next <= now ||
        pacing_present_median(pacer) >= 0.5 * pacer->period) {
        pacer->due = now;
        return 0.0;
    }
    pacer->due = next;
    return next - now;
}

void pacing_present(FramePacer* pacer) {
    double start = pacing_now();
    frame_present();
    double end = pacing_now();
    if (pacer->stats) pacing_stats_record(pacer->stats, end);
    double sleep = pacing_plan(pacer, end, end - start);
    if (sleep > 0.0) std::this_thread::sleep_for(std::chrono::duration<double>(sleep));
}

void pacing_stats_record(PacingStats* stats, double now) {
    if (stats->frames > 0) {
        double interval = now - stats->last_present;
        double bin = interval / PACING_BIN_SECONDS;
        stats->bins[bin < PACING_STATS_BINS - 1 ? (int)bin : PACING_STATS_BINS - 1]++;
        if (interval > stats->worst) stats->worst = interval;
    } else {
        stats->first_present = now;
    }
    stats->last_present = now;
    stats->frames++;
}

double pacing_stats_quantile(const PacingStats* stats, double q) {
    int64_t intervals = stats->frames - 1;
    if (intervals < 1) return 0.0;
    int64_t rank = (int64_t)std::ceil(q * (double)intervals);
    if (rank < 1) rank = 1;
    int64_t seen = 0;
    for (int i = 0; i < PACING_STATS_BINS - 1; i++) {
        seen += stats->bins[i];
        if (seen >= rank) return std::fmin((i + 1) * PACING_BIN_SECONDS, stats->worst);
    }
    return stats->worst;
}

void pacing_stats_format(const PacingStats* stats, char* line, size_t size) {
    double span = stats->last_present - stats->first_present;
    double fps = stats->frames > 1 && span > 0.0 ? (double)(stats->frames - 1) / span : 0.0;
    snprintf(line, size, "pacing: %lld frames, %.1f fps, interval p50 %.2f ms, p99 %.2f ms, worst %.2f ms",
             (long long)stats->frames, fps, 1000.0 * pacing_stats_quantile(stats, 0.5),
             1000.0 * pacing_stats_quantile(stats, 0.99), 1000.0 * stats->worst);
}
