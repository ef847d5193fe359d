// Envelope evaluation. Keys hold floats; the arithmetic between them runs in double and each
// tangent, curve parameter and result is rounded back to float.
#include "procedural/envelope.h"

#include <cmath>
#include <cstdlib>

Envelope* envelope_new(void) {
    Envelope* envelope = (Envelope*)calloc(1, sizeof(Envelope));
    if (!envelope) return nullptr;
    envelope->pre_behavior = ENVELOPE_CONSTANT;
    envelope->post_behavior = ENVELOPE_CONSTANT;
    return envelope;
}

void envelope_free(Envelope* envelope) {
    if (!envelope) return;
    EnvelopeKey* key = envelope->keys;
    while (key) {
        EnvelopeKey* next = key->next;
        free(key);
        key = next;
    }
    free(envelope);
}

EnvelopeKey* key_new(void) {
    return (EnvelopeKey*)calloc(1, sizeof(EnvelopeKey));
}

void envelope_insert_key(Envelope* envelope, EnvelopeKey* key) {
    if (!envelope || !key) return;
    key->prev = nullptr;
    key->next = nullptr;
    if (!envelope->keys) {
        envelope->keys = key;
        envelope->key_count = 1;
        return;
    }
    EnvelopeKey* after = nullptr;
    EnvelopeKey* before = envelope->keys;
    while (before && !(before->time > key->time)) {
        after = before;
        before = before->next;
    }
    key->prev = after;
    key->next = before;
    if (after) after->next = key;
    else envelope->keys = key;
    if (before) before->prev = key;
    envelope->key_count++;
}

void envelope_auto_tangents(Envelope* envelope) {
    if (!envelope) return;
    for (EnvelopeKey* key = envelope->keys; key; key = key->next) {
        EnvelopeKey* prev = key->prev;
        EnvelopeKey* next = key->next;
        if (key->shape == ENVELOPE_SHAPE_HERMITE || key->shape == ENVELOPE_SHAPE_BEZIER) {
            if (!prev || !next) continue;
            key->param[0] = (float)(((double)next->value - prev->value) * 0.5);
            key->param[1] = next->next ? (float)(((double)next->next->value - key->value) * 0.5) : 0.0f;
        } else if (key->shape == ENVELOPE_SHAPE_BEZIER2D) {
            if (prev) {
                key->param[0] = (float)((double)key->time - prev->time);
                key->param[1] = (float)((double)key->value - prev->value);
            } else {
                key->param[0] = 1.0f;
                key->param[1] = 1.0f;
            }
            if (next) {
                key->param[2] = (float)((double)next->time - key->time);
                key->param[3] = (float)((double)next->value - key->value);
            } else {
                key->param[2] = 1.0f;
                key->param[3] = 1.0f;
            }
        }
    }
}

// Maps v into [lo, hi) by whole periods; count receives the number of periods removed.
static float envelope_wrap(float v, float lo, float hi, int* count) {
    float r = (float)((double)hi - lo);
    if (r == 0.0f) {
        *count = 0;
        return lo;
    }
    float w = (float)((double)v - r * floor(((double)v - lo) / r));
    double periods = -(((double)w - v) / r + (w > v ? 0.5 : -0.5));
    // Only the parity and the offset use the count; a far-away time must not overflow the int.
    if (!(periods > -1e9)) periods = periods != periods ? 0.0 : -1e9;
    if (periods > 1e9) periods = 1e9;
    *count = (int)periods;
    return w;
}

static float envelope_bezier(float x0, float x1, float x2, float x3, float t) {
    double c = 3.0 * ((double)x1 - x0);
    double b = 3.0 * ((double)x2 - x1) - c;
    double a = (double)x3 - x0 - c - b;
    double u = t;
    return (float)(a * u * u * u + b * u * u + c * u + x0);
}

// Slope leaving key0 on the span key0 -> key1, by key0's shape.
static float envelope_outgoing(const EnvelopeKey* key0, const EnvelopeKey* key1) {
    const EnvelopeKey* prev = key0->prev;
    double span = (double)key1->time - key0->time;
    switch (key0->shape) {
    case ENVELOPE_SHAPE_TCB: {
        double a = (1.0 - key0->tension) * (1.0 + key0->continuity) * (1.0 + key0->bias);
        double b = (1.0 - key0->tension) * (1.0 - key0->continuity) * (1.0 - key0->bias);
        double d = (double)key1->value - key0->value;
        if (prev) return (float)(span / ((double)key1->time - prev->time) * (a * ((double)key0->value - prev->value) + b * d));
        return (float)(b * d);
    }
    case ENVELOPE_SHAPE_HERMITE:
    case ENVELOPE_SHAPE_BEZIER:
        if (prev) return (float)(key0->param[1] * (span / ((double)key1->time - prev->time)));
        return key0->param[1];
    case ENVELOPE_SHAPE_LINEAR: {
        double d = (double)key1->value - key0->value;
        if (prev) return (float)(span / ((double)key1->time - prev->time) * ((double)key0->value - prev->value + d));
        return (float)d;
    }
    case ENVELOPE_SHAPE_BEZIER2D: {
        double out = key0->param[3] * span;
        if (fabs(key0->param[2]) > 1e-5) return (float)(out / key0->param[2]);
        return (float)(out * 100000.0);
    }
    default:
        return 0.0f;
    }
}

// Slope arriving at key1 on the span key0 -> key1, by key1's shape.
static float envelope_incoming(const EnvelopeKey* key0, const EnvelopeKey* key1) {
    const EnvelopeKey* next = key1->next;
    double span = (double)key1->time - key0->time;
    switch (key1->shape) {
    case ENVELOPE_SHAPE_TCB: {
        double a = (1.0 - key1->tension) * (1.0 - key1->continuity) * (1.0 + key1->bias);
        double b = (1.0 - key1->tension) * (1.0 + key1->continuity) * (1.0 - key1->bias);
        double d = (double)key1->value - key0->value;
        if (next) return (float)(span / ((double)next->time - key0->time) * (b * ((double)next->value - key1->value) + a * d));
        return (float)(a * d);
    }
    case ENVELOPE_SHAPE_HERMITE:
    case ENVELOPE_SHAPE_BEZIER:
        if (next) return (float)(key1->param[0] * (span / ((double)next->time - key0->time)));
        return key1->param[0];
    case ENVELOPE_SHAPE_LINEAR: {
        double d = (double)key1->value - key0->value;
        if (next) return (float)(span / ((double)next->time - key0->time) * ((double)next->value - key1->value + d));
        return (float)d;
    }
    case ENVELOPE_SHAPE_BEZIER2D: {
        double in = key1->param[1] * span;
        if (fabs(key1->param[0]) > 1e-5) return (float)(in / key1->param[0]);
        return (float)(in * 100000.0);
    }
    default:
        return 0.0f;
    }
}

// A span whose end key is a 2D Bezier key: find the curve parameter whose time matches, then
// read the value curve there.
static float envelope_bezier2d(const EnvelopeKey* key0, const EnvelopeKey* key1, float t) {
    float x = key0->shape == ENVELOPE_SHAPE_BEZIER2D
                  ? (float)((double)key0->time + key0->param[2])
                  : (float)(key0->time + ((double)key1->time - key0->time) / 3.0);
    float x2 = (float)((double)key1->time + key1->param[0]);
    float u0 = 0.0f, u1 = 1.0f, u = 0.5f;
    // Bisection to 1e-4 in time. Handles that bend the time curve back, or times too large for
    // float to resolve 1e-4, would never get there: after 64 halvings u cannot change any more.
    for (int i = 0; i < 64; i++) {
        u = (float)(u0 + ((double)u1 - u0) * 0.5);
        float v = envelope_bezier(key0->time, x, x2, key1->time, u);
        if (!(fabs((double)t - v) > 0.0001)) break;
        if (v > t) u1 = u;
        else u0 = u;
    }
    float y = key0->shape == ENVELOPE_SHAPE_BEZIER2D
                  ? (float)((double)key0->value + key0->param[3])
                  : (float)(key0->value + key0->param[1] / 3.0);
    float y2 = (float)((double)key1->param[1] + key1->value);
    return envelope_bezier(key0->value, y, y2, key1->value, u);
}

float envelope_eval(const Envelope* envelope, float time) {
    if (!envelope || !envelope->keys) return 0.0f;
    EnvelopeKey* first = envelope->keys;
    if (!first->next) return first->value;
    EnvelopeKey* last = first;
    while (last->next) last = last->next;

    float t = time;
    float offset = 0.0f;
    int count = 0;
    bool before = t < first->time;
    bool after = t > last->time;
    if (before || after) {
        switch (before ? envelope->pre_behavior : envelope->post_behavior) {
        case ENVELOPE_RESET:
            return 0.0f;
        case ENVELOPE_CONSTANT:
            return before ? first->value : last->value;
        case ENVELOPE_REPEAT:
            t = envelope_wrap(t, first->time, last->time, &count);
            break;
        case ENVELOPE_OSCILLATE:
            t = envelope_wrap(t, first->time, last->time, &count);
            // Odd periods run backwards: mirror within [first, last].
            if (count % 2 != 0) t = (float)((double)last->time + first->time - t);
            break;
        case ENVELOPE_OFFSET_REPEAT:
            t = envelope_wrap(t, first->time, last->time, &count);
            offset = (float)(count * ((double)last->value - first->value));
            break;
        case ENVELOPE_LINEAR: {
            if (before) {
                double span = (double)first->next->time - first->time;
                if (span == 0.0) return first->value;
                return (float)(first->value + ((double)t - first->time) * envelope_outgoing(first, first->next) / span);
            }
            double span = (double)last->time - last->prev->time;
            if (span == 0.0) return last->value;
            return (float)(last->value + ((double)t - last->time) * envelope_incoming(last->prev, last) / span);
        }
        default:
            break;  // unknown behaviour: the end span extends as it is
        }
    }

    // The walk stops at the last span whatever t is, so a time rounded just past the last key
    // (or left outside by an unknown behaviour) extends that span instead of running off the list.
    EnvelopeKey* key0 = first;
    while (key0->next->next && t > key0->next->time) key0 = key0->next;
    EnvelopeKey* key1 = key0->next;

    if (t == key0->time) return (float)((double)key0->value + offset);
    if (t == key1->time) return (float)((double)key1->value + offset);

    float u = (float)(((double)t - key0->time) / ((double)key1->time - key0->time));
    double result;
    switch (key1->shape) {
    case ENVELOPE_SHAPE_TCB:
    case ENVELOPE_SHAPE_HERMITE:
    case ENVELOPE_SHAPE_BEZIER: {
        double t2 = (double)u * u, t3 = u * t2;
        double h2 = 3.0 * t2 - 2.0 * t3;
        double h1 = 1.0 - h2;
        double h4 = t3 - t2;
        double h3 = h4 - t2 + u;
        float out = envelope_outgoing(key0, key1);
        float in = envelope_incoming(key0, key1);
        result = h1 * key0->value + h2 * key1->value + h3 * out + h4 * in;
        break;
    }
    case ENVELOPE_SHAPE_LINEAR:
        result = key0->value + u * ((double)key1->value - key0->value);
        break;
    case ENVELOPE_SHAPE_STEPPED:
        result = key0->value;
        break;
    case ENVELOPE_SHAPE_BEZIER2D:
        result = envelope_bezier2d(key0, key1, t);
        break;
    default:
        return offset;
    }
    return (float)((float)result + (double)offset);
}

// Both tweens are a two-key TCB curve from (0, start) to (1, end) with constant behaviours; the
// keys live on the stack so the tweens can be called from anywhere.
static float tween_eval(float start, float end, float t, float tension0, float tension1) {
    EnvelopeKey key0 = {};
    EnvelopeKey key1 = {};
    key0.time = 0.0f;
    key0.value = start;
    key0.tension = tension0;
    key0.next = &key1;
    key1.time = 1.0f;
    key1.value = end;
    key1.tension = tension1;
    key1.prev = &key0;
    Envelope envelope = {&key0, 2, ENVELOPE_CONSTANT, ENVELOPE_CONSTANT};
    return envelope_eval(&envelope, t);
}

float tween_anticipate(float start, float end, float t) {
    return tween_eval(start, end, t, 1.25f, -2.0f);
}

float tween_overshoot(float start, float end, float t) {
    return tween_eval(start, end, t, -2.0f, 1.25f);
}
