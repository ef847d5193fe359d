// Verlet ropes and cloth. Integration sums in double and stores float; relaxation uses the float
// vector operations of the pipeline.
#include "procedural/springs.h"

#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstdlib>

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

void spring_system_step(SpringSystem* system) {
    if (!system) return;
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

    for (int pass = 0; pass < 2; pass++) {
        if (system->constraint_callback) system->constraint_callback(system);
        spring_relax(system);
    }
}
