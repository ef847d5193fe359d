// Mass-spring systems: the one-block layout, rope construction, the integration and the two
// half-error relaxation passes, pinning, and springs that have no direction.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "gfx/simd.h"

#include "procedural/springs.h"

namespace {

const float kFall = 9.81f * ((1.0f / 30.0f) * (1.0f / 30.0f));  // one step under gravity from rest

bool all_finite(const SpringSystem* s) {
    for (int i = 0; i < s->mass_count; i++) {
        const Vec3& p = s->masses[i].position;
        if (!std::isfinite(p.x) || !std::isfinite(p.y) || !std::isfinite(p.z)) return false;
    }
    return true;
}

float spring_length(const SpringSystem* s, int i) {
    const Vec3& a = s->masses[s->springs[i].mass_a].position;
    const Vec3& b = s->masses[s->springs[i].mass_b].position;
    return std::sqrt((b.x - a.x) * (b.x - a.x) + (b.y - a.y) * (b.y - a.y) + (b.z - a.z) * (b.z - a.z));
}

TEST(SpringSystemNew, OneZeroedBlockWithDefaults) {
    SpringSystem* s = spring_system_new(5, 4);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ((void*)s->masses, (void*)(s + 1));
    EXPECT_EQ((void*)s->springs, (void*)(s->masses + 5));
    EXPECT_EQ(s->time_step, 1.0f / 30.0f);
    EXPECT_EQ(s->gravity.x, 0.0f);
    EXPECT_EQ(s->gravity.y, 0.0f);
    EXPECT_EQ(s->constraint_callback, nullptr);
    for (int i = 0; i < 5; i++) EXPECT_EQ(s->masses[i].pinned, 0);
    for (int i = 0; i < 4; i++) EXPECT_EQ(s->springs[i].rest_length, 0.0f);
    spring_system_free(s);
    spring_system_free(nullptr);
    EXPECT_EQ(spring_system_new(-1, 3), nullptr);
    SpringSystem* empty = spring_system_new(0, 0);
    ASSERT_NE(empty, nullptr);
    spring_system_step(empty);
    spring_system_free(empty);
}

TEST(SpringRope, EvenMassesAtRestAndSpringsFromTheFreeEnd) {
    Vec3 a = {1, 2, 3}, b = {4, 2, -1};
    SpringSystem* rope = spring_rope_new(&a, &b, 6);
    ASSERT_NE(rope, nullptr);
    ASSERT_EQ(rope->mass_count, 6);
    ASSERT_EQ(rope->spring_count, 5);
    for (int i = 0; i < 6; i++) {
        const SpringMass& m = rope->masses[i];
        EXPECT_NEAR(m.position.x, 1 + 3 * i / 5.0f, 1e-6f);
        EXPECT_NEAR(m.position.z, 3 - 4 * i / 5.0f, 1e-6f);
        EXPECT_EQ(m.previous.x, m.position.x);
        EXPECT_EQ(m.previous.z, m.position.z);
        EXPECT_EQ(m.pinned != 0, i == 0);
    }
    EXPECT_EQ(rope->masses[5].position.x, b.x);
    EXPECT_EQ(rope->springs[0].mass_a, 4);
    EXPECT_EQ(rope->springs[0].mass_b, 5);
    EXPECT_EQ(rope->springs[4].mass_a, 0);
    EXPECT_EQ(rope->springs[4].mass_b, 1);
    for (int i = 0; i < 5; i++) EXPECT_NEAR(rope->springs[i].rest_length, 1.0f, 1e-6f);
    spring_system_free(rope);
    EXPECT_EQ(spring_rope_new(&a, &b, 1), nullptr);
    EXPECT_EQ(spring_rope_new(nullptr, &b, 4), nullptr);
}

TEST(SpringStep, RopeAtRestWithoutGravityStays) {
    Vec3 a = {0, 0, 0}, b = {0.5f, -2, 0.25f};
    SpringSystem* rope = spring_rope_new(&a, &b, 2);
    SpringMass before = rope->masses[1];
    for (int i = 0; i < 10; i++) spring_system_step(rope);
    EXPECT_EQ(rope->masses[1].position.x, before.position.x);
    EXPECT_EQ(rope->masses[1].position.y, before.position.y);
    EXPECT_EQ(rope->masses[1].position.z, before.position.z);
    spring_system_free(rope);
}

struct FallProbe {
    int calls;
    float y_at_first_call[4];
} probe;

void record_fall(SpringSystem* s) {
    if (probe.calls++ == 0)
        for (int i = 0; i < 4; i++) probe.y_at_first_call[i] = s->masses[i].position.y;
}

// Falling mass 1 stretches the anchor spring by kFall; each pass removes half the error (the
// pinned end does not take its half), so a quarter is left after the step.
TEST(SpringStep, HangingRopeFallsThenRelaxesHalfTheErrorPerPass) {
    Vec3 a = {0, 0, 0}, b = {0, -3, 0};
    SpringSystem* rope = spring_rope_new(&a, &b, 4);
    rope->gravity = Vec3{0, -9.81f, 0};
    rope->constraint_callback = record_fall;
    probe = {};
    spring_system_step(rope);
    EXPECT_EQ(probe.calls, 2);
    EXPECT_EQ(probe.y_at_first_call[0], 0.0f);
    for (int i = 1; i < 4; i++) EXPECT_NEAR(probe.y_at_first_call[i], -i - kFall, 1e-6f) << i;
    EXPECT_NEAR(kFall, 0.0109f, 1e-4f);
    EXPECT_EQ(rope->masses[1].previous.y, -1.0f);
    EXPECT_EQ(rope->masses[1].acceleration.y, -9.81f);
    EXPECT_EQ(rope->masses[0].position.y, 0.0f);
    float error = spring_length(rope, 2) - 1.0f;
    EXPECT_GT(error, 0.0f);
    EXPECT_LT(error, kFall * 0.6f);
    spring_system_free(rope);

    SpringSystem* two = spring_rope_new(&a, &b, 2);
    two->gravity = Vec3{0, -9.81f, 0};
    spring_system_step(two);
    EXPECT_NEAR(two->masses[1].position.y, -3.0f - kFall / 4, 1e-6f);
    spring_system_free(two);
}

TEST(SpringStep, PinnedMassesNeverMoveAndMassZeroIsNotIntegrated) {
    Vec3 a = {0, 0, 0}, b = {4, 0, 0};
    SpringSystem* rope = spring_rope_new(&a, &b, 5);
    rope->gravity = Vec3{0.5f, -9.81f, 2.0f};
    rope->masses[2].pinned = 1;
    Vec3 pinned = rope->masses[2].position;
    for (int i = 0; i < 60; i++) spring_system_step(rope);
    EXPECT_EQ(rope->masses[2].position.x, pinned.x);
    EXPECT_EQ(rope->masses[2].position.y, pinned.y);
    EXPECT_EQ(rope->masses[2].position.z, pinned.z);
    EXPECT_EQ(rope->masses[0].position.y, 0.0f);
    EXPECT_LT(rope->masses[4].position.y, -0.1f);
    spring_system_free(rope);

    // Unpinned, mass 0 still gets no velocity step: it only follows the springs.
    SpringSystem* loose = spring_rope_new(&a, &b, 2);
    loose->masses[0].pinned = 0;
    loose->gravity = Vec3{0, -9.81f, 0};
    spring_system_step(loose);
    EXPECT_EQ(loose->masses[0].previous.y, 0.0f);
    EXPECT_EQ(loose->masses[0].acceleration.y, -9.81f);
    EXPECT_LT(loose->masses[0].position.y, 0.0f);   // pulled down by the falling end
    EXPECT_GT(loose->masses[0].position.y, -kFall);
    spring_system_free(loose);
}

TEST(SpringStep, SpringsWithoutDirectionLeaveTheirEndsAlone) {
    SpringSystem* s = spring_system_new(4, 3);
    s->masses[0].pinned = 1;
    for (int i = 1; i < 4; i++) s->masses[i].position = s->masses[i].previous = Vec3{1, 2, 3};
    s->springs[0] = Spring{1, 2, 1.0f};   // coincident ends
    s->springs[1] = Spring{2, 9, 1.0f};   // names a mass that does not exist
    s->springs[2] = Spring{-1, 3, 1.0f};
    for (int i = 0; i < 5; i++) spring_system_step(s);
    for (int i = 1; i < 4; i++) {
        EXPECT_EQ(s->masses[i].position.x, 1.0f);
        EXPECT_EQ(s->masses[i].position.y, 2.0f);
    }
    s->gravity = Vec3{0, -9.81f, 0};
    for (int i = 0; i < 50; i++) spring_system_step(s);
    EXPECT_TRUE(all_finite(s));
    spring_system_free(s);

    // Ends so close that the length barely registers are pushed apart, not into NaN.
    SpringSystem* near = spring_system_new(3, 1);
    near->masses[0].pinned = 1;
    near->masses[2].position = near->masses[2].previous = Vec3{1e-20f, 0, 0};
    near->springs[0] = Spring{1, 2, 1.0f};
    spring_system_step(near);
    EXPECT_TRUE(all_finite(near));
    EXPECT_NEAR(spring_length(near, 0), 1.0f, 1e-5f);
    near->masses[2].position = near->masses[2].previous = Vec3{1e-39f, 0, 0};
    spring_system_step(near);
    EXPECT_TRUE(all_finite(near));
    near->masses[2].position = near->masses[2].previous = Vec3{0, 1e-10f, 0};
    near->springs[0].rest_length = 1e30f;  // the correction factor overflows float
    spring_system_step(near);
    EXPECT_TRUE(all_finite(near));
    spring_system_free(near);
}

TEST(SpringStep, StepsSideBySideEqualOneAtATime) {
    // Ropes of mixed lengths (so groups of one to four form), pinned middles, coinciding masses,
    // rest lengths whose factor overflows, a cloth-like system with a callback and a null entry:
    // stepping them together at every level must give each one's bits from stepping it alone.
    unsigned seed = 99;
    auto rnd = [&](float lo, float hi) {
        seed = seed * 1664525u + 1013904223u;
        return lo + (hi - lo) * (float)(seed >> 8) / 16777216.0f;
    };
    const int kSystems = 11;
    const int lengths[kSystems] = {40, 40, 40, 40, 40, 56, 56, 7, 9, 9, 2};
    auto shake = [](SpringSystem* s) { s->masses[1].position.y += 0.01f; };
    const int best = simd_best_level();
    for (int level : {(int)SIMD_SCALAR, best}) {
        SpringSystem* alone[kSystems + 1];
        SpringSystem* together[kSystems + 1];
        seed = 99;
        for (int i = 0; i < kSystems; i++) {
            const Vec3 a = {rnd(-16, 16), rnd(-16, 16), rnd(-16, 16)}, b = {rnd(-16, 16), rnd(-16, 16), rnd(-16, 16)};
            alone[i] = spring_rope_new(&a, &b, lengths[i]);
            SpringSystem* r = alone[i];
            r->masses[r->mass_count - 1].pinned = i % 2;
            r->masses[r->mass_count / 2].pinned = i % 3 == 0;
            r->gravity = Vec3{rnd(-8, 8), rnd(-8, 8), rnd(-8, 8)};
            r->time_step = 1.0f / (20.0f + (float)i);
            if (i == 2) r->masses[5].position = r->masses[6].position;  // no direction between them
            if (i == 3) r->springs[4].rest_length = 3e38f, r->masses[20].position.x = 1e-30f;
            if (i == 8) r->constraint_callback = shake;
            if (i == 9) r->springs[1].mass_a = r->springs[1].mass_b;  // not a chain any more
        }
        alone[kSystems] = together[kSystems] = nullptr;
        for (int i = 0; i < kSystems; i++) {
            const size_t bytes = sizeof(SpringSystem) + (size_t)alone[i]->mass_count * sizeof(SpringMass) +
                                 (size_t)alone[i]->spring_count * sizeof(Spring);
            together[i] = spring_system_new(alone[i]->mass_count, alone[i]->spring_count);
            std::memcpy(together[i]->masses, alone[i]->masses, bytes - sizeof(SpringSystem));
            together[i]->gravity = alone[i]->gravity;
            together[i]->time_step = alone[i]->time_step;
            together[i]->constraint_callback = alone[i]->constraint_callback;
        }
        simd_use_level(SIMD_SCALAR);
        for (int step = 0; step < 40; step++)
            for (int i = 0; i < kSystems; i++) spring_system_step(alone[i]);
        simd_use_level(level);
        for (int step = 0; step < 40; step++) spring_systems_step(together, kSystems + 1);
        simd_use_level(best);
        for (int i = 0; i < kSystems; i++) {
            EXPECT_EQ(std::memcmp(alone[i]->masses, together[i]->masses, (size_t)alone[i]->mass_count * sizeof(SpringMass)), 0)
                << "system " << i << " at level " << level;
            spring_system_free(alone[i]);
            spring_system_free(together[i]);
        }
    }
}

}  // namespace
