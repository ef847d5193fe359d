// Envelopes: key order, every span shape against values worked out by hand, the behaviours
// outside the keys, and the two tweens against their closed forms.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <initializer_list>

#include "procedural/envelope.h"

namespace {

struct K {
    float time, value;
    int shape;
};

Envelope* make(std::initializer_list<K> keys, int pre = ENVELOPE_CONSTANT, int post = ENVELOPE_CONSTANT) {
    Envelope* env = envelope_new();
    for (const K& k : keys) {
        EnvelopeKey* key = key_new();
        key->time = k.time;
        key->value = k.value;
        key->shape = k.shape;
        envelope_insert_key(env, key);
    }
    env->pre_behavior = pre;
    env->post_behavior = post;
    return env;
}

TEST(EnvelopeBuild, NewRecordsAreEmptyAndInsertKeepsTimeOrder) {
    Envelope* env = envelope_new();
    ASSERT_NE(env, nullptr);
    EXPECT_EQ(env->keys, nullptr);
    EXPECT_EQ(env->key_count, 0);
    EXPECT_EQ(env->pre_behavior, ENVELOPE_CONSTANT);
    EXPECT_EQ(env->post_behavior, ENVELOPE_CONSTANT);
    EXPECT_EQ(envelope_eval(env, 3.0f), 0.0f);

    // Times 2, 0, 1, 1, 3, 0: equal times stay in insertion order (told apart by value).
    const float times[] = {2, 0, 1, 1, 3, 0};
    for (int i = 0; i < 6; i++) {
        EnvelopeKey* key = key_new();
        ASSERT_NE(key, nullptr);
        EXPECT_EQ(key->shape, 0);
        EXPECT_EQ(key->next, nullptr);
        key->time = times[i];
        key->value = (float)i;
        envelope_insert_key(env, key);
    }
    EXPECT_EQ(env->key_count, 6);
    const float want_values[] = {1, 5, 2, 3, 0, 4};
    EnvelopeKey* prev = nullptr;
    int n = 0;
    for (EnvelopeKey* k = env->keys; k; prev = k, k = k->next, n++) {
        ASSERT_LT(n, 6);
        EXPECT_EQ(k->prev, prev);
        EXPECT_EQ(k->value, want_values[n]) << "position " << n;
    }
    EXPECT_EQ(n, 6);
    envelope_insert_key(env, nullptr);
    EnvelopeKey* stray = key_new();
    envelope_insert_key(nullptr, stray);
    free(stray);
    EXPECT_EQ(env->key_count, 6);
    envelope_free(env);
    envelope_free(nullptr);
}

TEST(EnvelopeEval, OneKeyIsConstantAndKeyTimesGiveKeyValues) {
    Envelope* one = make({{2, 7, ENVELOPE_SHAPE_TCB}}, ENVELOPE_RESET, ENVELOPE_RESET);
    EXPECT_EQ(envelope_eval(one, -5.0f), 7.0f);
    EXPECT_EQ(envelope_eval(one, 9.0f), 7.0f);
    envelope_free(one);

    Envelope* env = make({{0, 1.5f, 0}, {0.7f, -2.25f, 0}, {1.9f, 3.125f, 1}, {2.5f, 0.1f, 2}});
    env->keys->next->tension = 0.3f;
    envelope_auto_tangents(env);
    for (EnvelopeKey* k = env->keys; k; k = k->next) EXPECT_EQ(envelope_eval(env, k->time), k->value);
    envelope_free(env);
}

TEST(EnvelopeEval, LinearKeysInterpolateAndConstantEndsHold) {
    Envelope* env = make({{0, 0, ENVELOPE_SHAPE_LINEAR}, {1, 10, ENVELOPE_SHAPE_LINEAR}});
    EXPECT_FLOAT_EQ(envelope_eval(env, 0.5f), 5.0f);
    EXPECT_FLOAT_EQ(envelope_eval(env, 0.25f), 2.5f);
    EXPECT_EQ(envelope_eval(env, -1.0f), 0.0f);
    EXPECT_EQ(envelope_eval(env, 2.0f), 10.0f);
    env->pre_behavior = env->post_behavior = ENVELOPE_RESET;
    EXPECT_EQ(envelope_eval(env, -1.0f), 0.0f);
    EXPECT_EQ(envelope_eval(env, 2.0f), 0.0f);
    envelope_free(env);
}

// With zero tension, continuity and bias on evenly spaced keys TCB is Catmull-Rom, which follows
// a parabola exactly; tension 1 flattens the tangents to zero (smoothstep between the values).
TEST(EnvelopeEval, TcbSpansMatchCatmullRomAndTension) {
    Envelope* env = make({{0, 0, 0}, {1, 1, 0}, {2, 4, 0}, {3, 9, 0}});
    for (float t : {1.25f, 1.5f, 1.8f}) EXPECT_NEAR(envelope_eval(env, t), t * t, 1e-5f) << t;
    for (EnvelopeKey* k = env->keys; k; k = k->next) k->tension = 1.0f;
    float u = 0.3f;
    EXPECT_NEAR(envelope_eval(env, 1.0f + u), 1.0f + 3.0f * (3 * u * u - 2 * u * u * u), 1e-5f);
    envelope_free(env);
}

// Kochanek-Bartels slopes on either side of the middle key of (0, 0), (1, 1), (2, 3), where the
// previous chord rises by 1 and the next by 2: continuity splits them, bias leans on one chord.
TEST(EnvelopeEval, TcbContinuityAndBiasShapeTheSlopesAtAKey) {
    Envelope* env = make({{0, 0, 0}, {1, 1, 0}, {2, 3, 0}});
    EnvelopeKey* mid = env->keys->next;
    auto slopes = [&](float* left, float* right) {
        const float h = 1e-3f;
        *left = (envelope_eval(env, 1.0f) - envelope_eval(env, 1.0f - h)) / h;
        *right = (envelope_eval(env, 1.0f + h) - envelope_eval(env, 1.0f)) / h;
    };
    struct Case {
        float continuity, bias, left, right;
    } cases[] = {{0, 0, 1.5f, 1.5f}, {0.5f, 0, 1.75f, 1.25f}, {-0.5f, 0, 1.25f, 1.75f},
                 {0, 1, 1.0f, 1.0f}, {0, -1, 2.0f, 2.0f}};
    for (const Case& c : cases) {
        mid->continuity = c.continuity;
        mid->bias = c.bias;
        float left, right;
        slopes(&left, &right);
        EXPECT_NEAR(left, c.left, 1e-2f) << "continuity " << c.continuity << " bias " << c.bias;
        EXPECT_NEAR(right, c.right, 1e-2f) << "continuity " << c.continuity << " bias " << c.bias;
    }
    envelope_free(env);
}

TEST(EnvelopeEval, HermiteSteppedAndUnknownShapes) {
    // Hermite with given tangents and no neighbours: h1 v0 + h2 v1 + h3 out + h4 in.
    Envelope* env = make({{0, 2, ENVELOPE_SHAPE_HERMITE}, {1, 4, ENVELOPE_SHAPE_HERMITE}});
    env->keys->param[1] = 6.0f;
    env->keys->next->param[0] = -3.0f;
    float u = 0.4f, u2 = u * u, u3 = u2 * u;
    float h2 = 3 * u2 - 2 * u3, h4 = u3 - u2, h3 = h4 - u2 + u;
    EXPECT_NEAR(envelope_eval(env, u), (1 - h2) * 2 + h2 * 4 + h3 * 6 + h4 * -3, 1e-5f);
    env->keys->next->shape = ENVELOPE_SHAPE_STEPPED;
    EXPECT_EQ(envelope_eval(env, 0.99f), 2.0f);
    env->keys->next->shape = 9;
    EXPECT_EQ(envelope_eval(env, 0.5f), 0.0f);
    envelope_free(env);
}

TEST(EnvelopeEval, RepeatOscillateAndOffsetWrapTime) {
    Envelope* rep = make({{0, 0, 3}, {1, 10, 3}}, ENVELOPE_REPEAT, ENVELOPE_REPEAT);
    EXPECT_NEAR(envelope_eval(rep, 1.25f), 2.5f, 1e-5f);
    EXPECT_NEAR(envelope_eval(rep, 7.5f), 5.0f, 1e-5f);
    EXPECT_NEAR(envelope_eval(rep, -0.75f), 2.5f, 1e-5f);
    envelope_free(rep);

    Envelope* osc = make({{0, 0, 3}, {2, 10, 3}}, ENVELOPE_OSCILLATE, ENVELOPE_OSCILLATE);
    EXPECT_NEAR(envelope_eval(osc, 3.0f), 5.0f, 1e-5f);   // one period back: local time 1
    EXPECT_NEAR(envelope_eval(osc, 3.5f), 2.5f, 1e-5f);   // local 0.5 on the way back
    EXPECT_NEAR(envelope_eval(osc, 4.5f), 2.5f, 1e-5f);   // forward again
    EXPECT_NEAR(envelope_eval(osc, -0.5f), 2.5f, 1e-5f);  // before the start: mirrored
    envelope_free(osc);

    // Keys that do not start at time 0 must mirror within their own range.
    Envelope* late = make({{1, 0, 3}, {3, 10, 3}}, ENVELOPE_OSCILLATE, ENVELOPE_OSCILLATE);
    EXPECT_NEAR(envelope_eval(late, 4.0f), 5.0f, 1e-5f);
    EXPECT_NEAR(envelope_eval(late, 4.5f), 2.5f, 1e-5f);
    EXPECT_NEAR(envelope_eval(late, 0.5f), 2.5f, 1e-5f);
    envelope_free(late);

    Envelope* off = make({{0, 0, 3}, {1, 10, 3}}, ENVELOPE_OFFSET_REPEAT, ENVELOPE_OFFSET_REPEAT);
    EXPECT_NEAR(envelope_eval(off, 2.5f), 25.0f, 1e-4f);
    EXPECT_NEAR(envelope_eval(off, 3.0f), 30.0f, 1e-4f);
    EXPECT_NEAR(envelope_eval(off, -0.5f), -5.0f, 1e-4f);
    envelope_free(off);
}

TEST(EnvelopeEval, LinearBehaviourExtendsTheEndSlopes) {
    Envelope* env = make({{0, 0, 3}, {1, 10, 3}, {2, 14, 3}}, ENVELOPE_LINEAR, ENVELOPE_LINEAR);
    EXPECT_NEAR(envelope_eval(env, -1.0f), -10.0f, 1e-4f);
    EXPECT_NEAR(envelope_eval(env, 3.0f), 18.0f, 1e-4f);
    envelope_free(env);
}

TEST(EnvelopeEval, UnknownBehaviourAndFarTimesStayFinite) {
    Envelope* env = make({{0, 0, 0}, {1, 1, 0}, {2, 0, 0}}, 7, 7);
    EXPECT_TRUE(std::isfinite(envelope_eval(env, 2.5f)));  // walked off the last key before
    EXPECT_TRUE(std::isfinite(envelope_eval(env, -0.5f)));
    env->post_behavior = ENVELOPE_OFFSET_REPEAT;
    EXPECT_TRUE(std::isfinite(envelope_eval(env, 1e30f)));
    env->post_behavior = ENVELOPE_OSCILLATE;
    EXPECT_TRUE(std::isfinite(envelope_eval(env, 3e12f)));
    envelope_free(env);
}

TEST(EnvelopeBezier2D, HandlesOnTheChordGiveAStraightLine) {
    Envelope* env = make({{0, 0, ENVELOPE_SHAPE_BEZIER2D}, {1, 10, ENVELOPE_SHAPE_BEZIER2D}});
    EnvelopeKey* a = env->keys;
    EnvelopeKey* b = a->next;
    a->param[2] = 1.0f / 3;
    a->param[3] = 10.0f / 3;
    b->param[0] = -1.0f / 3;
    b->param[1] = -10.0f / 3;
    for (float t : {0.1f, 0.5f, 0.77f}) EXPECT_NEAR(envelope_eval(env, t), 10.0f * t, 2e-3f) << t;
    envelope_free(env);
}

TEST(EnvelopeBezier2D, AutoHandlesFromNeighboursAndDefaults) {
    Envelope* env = make({{0, 0, 5}, {2, 3, 5}, {5, 1, 1}});
    envelope_auto_tangents(env);
    EnvelopeKey* a = env->keys;
    EnvelopeKey* b = a->next;
    EXPECT_EQ(a->param[0], 1.0f);
    EXPECT_EQ(a->param[1], 1.0f);
    EXPECT_EQ(a->param[2], 2.0f);
    EXPECT_EQ(a->param[3], 3.0f);
    EXPECT_EQ(b->param[0], 2.0f);
    EXPECT_EQ(b->param[1], 3.0f);
    EXPECT_EQ(b->param[2], 3.0f);
    EXPECT_EQ(b->param[3], -2.0f);
    float v = envelope_eval(env, 1.0f);
    EXPECT_TRUE(std::isfinite(v));
    envelope_free(env);
}

// A time curve bent back on itself, or key times so large that float cannot resolve the
// bisection's tolerance, must still end with a finite value.
TEST(EnvelopeBezier2D, BisectionEndsWhenTheTimeCannotBeMatched) {
    Envelope* big = make({{0, 0, 5}, {100000, 10, 5}});
    envelope_auto_tangents(big);
    for (int i = 1; i < 200; i++) {
        float v = envelope_eval(big, i * 499.7f);
        ASSERT_TRUE(std::isfinite(v)) << i;
    }
    envelope_free(big);

    Envelope* bent = make({{0, 0, 5}, {1, 10, 5}});
    bent->keys->param[2] = 3.0f;
    bent->keys->param[3] = 1.0f;
    bent->keys->next->param[0] = -4.0f;
    bent->keys->next->param[1] = 1.0f;
    for (float t : {0.2f, 0.5f, 0.9f}) EXPECT_TRUE(std::isfinite(envelope_eval(bent, t)));
    envelope_free(bent);
}

TEST(Tween, MatchesClosedFormsAndHoldsTheEnds) {
    EXPECT_NEAR(tween_overshoot(0, 1, 0.9f), 1.01925f, 1e-5f);
    EXPECT_NEAR(tween_anticipate(0, 1, 0.5f), 0.09375f, 1e-6f);
    const float start = 640.0f, end = 600.0f, d = end - start;
    for (int i = 0; i <= 100; i++) {
        float t = i / 100.0f;
        float a = start + d * (0.75f * t * t * t + 0.5f * t * t - 0.25f * t);
        float o = start + d * (0.75f * t * t * t - 2.75f * t * t + 3.0f * t);
        ASSERT_NEAR(tween_anticipate(start, end, t), a, 1e-3f) << t;
        ASSERT_NEAR(tween_overshoot(start, end, t), o, 1e-3f) << t;
    }
    EXPECT_EQ(tween_anticipate(start, end, -0.5f), start);
    EXPECT_EQ(tween_overshoot(start, end, -0.5f), start);
    EXPECT_EQ(tween_anticipate(start, end, 1.5f), end);
    EXPECT_EQ(tween_overshoot(start, end, 7.0f), end);
    EXPECT_LT(tween_anticipate(0, 1, 0.15f), 0.0f);  // the dip
    EXPECT_GT(tween_overshoot(0, 1, 0.8f), 1.0f);    // the overshoot
}

}  // namespace
