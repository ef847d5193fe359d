// Verlet ropes and cloth. Integration sums in double and stores float; relaxation uses the float
// vector operations of the pipeline.
#include "procedural/springs.h"

#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "gfx/simd.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#define SPRINGS_LANES 1
#else
#define SPRINGS_LANES 0
#endif

static_assert(sizeof(SpringMass) == 40, "masses are 40-byte records");
static_assert(sizeof(Spring) == 12, "springs are 12-byte records");

SpringSystem* spring_system_new(int mass_count, int spring_count) {
    if (mass_count < 0 || spring_count < 0) {
        printf("spring_system_new: negative size (%d masses, %d springs)\n", mass_count, spring_count);
        return nullptr;
    }
    size_t size = sizeof(SpringSystem) + (size_t)mass_count * sizeof(SpringMass) +
                  (size_t)spring_count * sizeof(Spring);
    SpringSystem* system = (SpringSystem*)calloc(1, size);
    if (!system) return nullptr;
    system->mass_count = mass_count;
    system->masses = (SpringMass*)(system + 1);
    system->spring_count = spring_count;
    system->springs = (Spring*)(system->masses + mass_count);
    system->time_step = 1.0f / 30.0f;
    return system;
}

void spring_system_free(SpringSystem* system) {
    free(system);
}

SpringSystem* spring_rope_new(const Vec3* start, const Vec3* end, int count) {
    if (!start || !end || count < 2) {
        printf("spring_rope_new: a rope needs two ends and at least 2 masses (got %d)\n", count);
        return nullptr;
    }
    SpringSystem* rope = spring_system_new(count, count - 1);
    if (!rope) return nullptr;
    Vec3 along;
    vec3_sub(end, start, &along);
    for (int i = 0; i < count; i++) {
        SpringMass* mass = &rope->masses[i];
        float t = (float)i / (float)(count - 1);
        vec3_scale_add(&along, t, start, &mass->position);
        mass->previous = mass->position;
        mass->pinned = i == 0;
    }
    for (int s = 0; s < count - 1; s++) {
        Spring* spring = &rope->springs[s];
        spring->mass_a = count - s - 2;
        spring->mass_b = count - s - 1;
        Vec3 d;
        vec3_sub(&rope->masses[spring->mass_b].position, &rope->masses[spring->mass_a].position, &d);
        spring->rest_length = vec3_length(&d);
    }
    return rope;
}

static void spring_relax(SpringSystem* system) {
    SpringMass* masses = system->masses;
    unsigned n = (unsigned)system->mass_count;
    for (int s = 0; s < system->spring_count; s++) {
        const Spring* spring = &system->springs[s];
        if ((unsigned)spring->mass_a >= n || (unsigned)spring->mass_b >= n) continue;
        SpringMass* a = &masses[spring->mass_a];
        SpringMass* b = &masses[spring->mass_b];
        Vec3 d;
        vec3_sub(&b->position, &a->position, &d);
        float len = vec3_length(&d);
        if (len == 0.0f) continue;  // coincident ends: no direction to pull along
        float k = (len - spring->rest_length) / len;
        // A length so short that the factor overflows is as directionless as zero.
        if (!(std::fabs(k) <= FLT_MAX)) continue;
        vec3_scale(&d, k, &d);
        if (!a->pinned) vec3_scale_add(&d, 0.5f, &a->position, &a->position);
        if (!b->pinned) vec3_scale_add(&d, -0.5f, &b->position, &b->position);
    }
}

// Gravity, then position Verlet integration of every free mass but the first.
static void spring_integrate(SpringSystem* system) {
    SpringMass* masses = system->masses;
    for (int i = 0; i < system->mass_count; i++) masses[i].acceleration = system->gravity;

    float dt2 = system->time_step * system->time_step;
    for (int i = 1; i < system->mass_count; i++) {
        SpringMass* m = &masses[i];
        if (m->pinned) continue;
        Vec3 p = m->position;
        m->position.x = (float)((double)p.x + ((double)p.x - m->previous.x) + (double)m->acceleration.x * dt2);
        m->position.y = (float)((double)p.y + ((double)p.y - m->previous.y) + (double)m->acceleration.y * dt2);
        m->position.z = (float)((double)p.z + ((double)p.z - m->previous.z) + (double)m->acceleration.z * dt2);
        m->previous = p;
    }
}

void spring_system_step(SpringSystem* system) {
    if (!system) return;
    spring_integrate(system);
    for (int pass = 0; pass < 2; pass++) {
        if (system->constraint_callback) system->constraint_callback(system);
        spring_relax(system);
    }
}

#if SPRINGS_LANES
// A rope as spring_rope_new links it, with nothing called between passes: every spring's end is
// the next spring's start, so relaxation is one chain from the free end to the anchor.
static bool spring_is_chain(const SpringSystem* system) {
    const int n = system->mass_count;
    if (system->constraint_callback || n < 2 || system->spring_count != n - 1) return false;
    for (int s = 0; s < n - 1; s++)
        if (system->springs[s].mass_a != n - s - 2 || system->springs[s].mass_b != n - s - 1) return false;
    return true;
}

// Positions of mass i of each lane's rope; lanes past count repeat the first rope.
static inline void chain_load(SpringSystem* const* rope, int count, int i, __m128* x, __m128* y, __m128* z,
                              __m128* pinned) {
    alignas(16) float px[4], py[4], pz[4];
    alignas(16) int32_t pin[4];
    for (int l = 0; l < 4; l++) {
        const SpringMass* m = &rope[l < count ? l : 0]->masses[i];
        px[l] = m->position.x, py[l] = m->position.y, pz[l] = m->position.z;
        pin[l] = m->pinned ? -1 : 0;
    }
    *x = _mm_load_ps(px), *y = _mm_load_ps(py), *z = _mm_load_ps(pz);
    *pinned = _mm_castsi128_ps(_mm_load_si128((const __m128i*)pin));
}

static inline void chain_store(SpringSystem* const* rope, int count, int i, __m128 x, __m128 y, __m128 z) {
    alignas(16) float px[4], py[4], pz[4];
    _mm_store_ps(px, x), _mm_store_ps(py, y), _mm_store_ps(pz, z);
    for (int l = 0; l < count; l++) rope[l]->masses[i].position = Vec3{px[l], py[l], pz[l]};
}

// spring_relax on up to four chains of the same length at once, one per lane: each lane makes the
// scalar steps in the scalar order, and a mass is written once its last spring of the pass is done.
static void chains_relax(SpringSystem* const* rope, int count) {
    const int n = rope[0]->mass_count;
    const __m128 zero = _mm_setzero_ps(), sign = _mm_set1_ps(-0.0f), most = _mm_set1_ps(FLT_MAX);
    const __m128 half = _mm_set1_ps(0.5f), minus_half = _mm_set1_ps(-0.5f);
    __m128 bx, by, bz, b_pinned;
    chain_load(rope, count, n - 1, &bx, &by, &bz, &b_pinned);
    for (int s = 0; s < n - 1; s++) {
        const int a_index = n - s - 2;
        __m128 ax, ay, az, a_pinned;
        chain_load(rope, count, a_index, &ax, &ay, &az, &a_pinned);
        alignas(16) float rest[4];
        for (int l = 0; l < 4; l++) rest[l] = rope[l < count ? l : 0]->springs[s].rest_length;
        __m128 dx = _mm_sub_ps(bx, ax), dy = _mm_sub_ps(by, ay), dz = _mm_sub_ps(bz, az);
        const __m128 len = _mm_sqrt_ps(_mm_add_ps(_mm_add_ps(_mm_mul_ps(dx, dx), _mm_mul_ps(dy, dy)), _mm_mul_ps(dz, dz)));
        const __m128 k = _mm_div_ps(_mm_sub_ps(len, _mm_load_ps(rest)), len);
        // Coincident ends, and factors that overflow, leave both ends alone.
        const __m128 pull = _mm_and_ps(_mm_cmpneq_ps(len, zero), _mm_cmple_ps(_mm_andnot_ps(sign, k), most));
        dx = _mm_mul_ps(dx, k), dy = _mm_mul_ps(dy, k), dz = _mm_mul_ps(dz, k);
        const __m128 move_a = _mm_andnot_ps(a_pinned, pull), move_b = _mm_andnot_ps(b_pinned, pull);
        auto moved = [](__m128 keep_mask, __m128 from, __m128 to) {
            return _mm_or_ps(_mm_and_ps(keep_mask, to), _mm_andnot_ps(keep_mask, from));
        };
        ax = moved(move_a, ax, _mm_add_ps(_mm_mul_ps(dx, half), ax));
        ay = moved(move_a, ay, _mm_add_ps(_mm_mul_ps(dy, half), ay));
        az = moved(move_a, az, _mm_add_ps(_mm_mul_ps(dz, half), az));
        bx = moved(move_b, bx, _mm_add_ps(_mm_mul_ps(dx, minus_half), bx));
        by = moved(move_b, by, _mm_add_ps(_mm_mul_ps(dy, minus_half), by));
        bz = moved(move_b, bz, _mm_add_ps(_mm_mul_ps(dz, minus_half), bz));
        chain_store(rope, count, a_index + 1, bx, by, bz);
        bx = ax, by = ay, bz = az, b_pinned = a_pinned;
    }
    chain_store(rope, count, 0, bx, by, bz);
}
#endif

void spring_systems_step(SpringSystem* const* systems, int count) {
    int i = 0;
#if SPRINGS_LANES
    if (simd_level() >= SIMD_SSE2) {
        while (i < count) {
            // Up to four neighbouring chains of one length go together.
            int group = 0;
            while (i + group < count && group < 4 && systems[i + group] && spring_is_chain(systems[i + group]) &&
                   systems[i + group]->mass_count == systems[i]->mass_count)
                group++;
            if (group < 2) {
                spring_system_step(systems[i++]);
                continue;
            }
            for (int l = 0; l < group; l++) spring_integrate(systems[i + l]);
            for (int pass = 0; pass < 2; pass++) chains_relax(&systems[i], group);
            i += group;
        }
        return;
    }
#endif
    for (; i < count; i++) spring_system_step(systems[i]);
}
