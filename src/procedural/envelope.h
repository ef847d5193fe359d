// Key-frame envelopes: one-dimensional animation curves through time-ordered keys, in the
// LightWave model of span shapes (TCB, Hermite, Bezier, linear, stepped, 2D Bezier) and of the
// behaviours before the first and after the last key. Plus two eased tweens between two values.
//
// Build an envelope with envelope_new, key_new and envelope_insert_key (then
// envelope_auto_tangents if keys use Hermite, Bezier or 2D Bezier shapes), evaluate it with
// envelope_eval, release it with envelope_free. Key times should increase strictly; a span of zero
// length has no defined interpolation. Evaluation never allocates and never fails.
#pragma once

enum {
    ENVELOPE_SHAPE_TCB = 0,
    ENVELOPE_SHAPE_HERMITE = 1,
    ENVELOPE_SHAPE_BEZIER = 2,
    ENVELOPE_SHAPE_LINEAR = 3,
    ENVELOPE_SHAPE_STEPPED = 4,
    ENVELOPE_SHAPE_BEZIER2D = 5,
};

enum {
    ENVELOPE_RESET = 0,          // value 0
    ENVELOPE_CONSTANT = 1,       // value of the end key
    ENVELOPE_REPEAT = 2,
    ENVELOPE_OSCILLATE = 3,      // back and forth
    ENVELOPE_OFFSET_REPEAT = 4,  // repeat, shifted by the end-to-end change per period
    ENVELOPE_LINEAR = 5,         // extend the end span's slope
};

struct EnvelopeKey {
    EnvelopeKey* prev;  // previous key in time order, null for the first
    EnvelopeKey* next;  // next key, null for the last
    float value;
    float time;
    int shape;          // interpolation of the span that ends at this key
    float tension;
    float continuity;
    float bias;
    // Hermite and Bezier: [0] incoming, [1] outgoing tangent. 2D Bezier: ([0], [1]) incoming and
    // ([2], [3]) outgoing handle, as (time, value) offsets from the key.
    float param[4];
};

struct Envelope {
    EnvelopeKey* keys;  // first key; the envelope owns the list
    int key_count;
    int pre_behavior;   // before the first key
    int post_behavior;  // after the last key
};

Envelope* envelope_new(void);            // no keys, both behaviours constant; null when out of memory
void envelope_free(Envelope* envelope);  // frees every key, then the envelope; accepts null
EnvelopeKey* key_new(void);              // all zeros (TCB, no links); null when out of memory
// Links the key in time order after any keys of equal time. Ignores a null envelope or key.
void envelope_insert_key(Envelope* envelope, EnvelopeKey* key);
// Fills the tangents of Hermite and Bezier keys and the handles of 2D Bezier keys from their
// neighbours; other keys are left alone.
void envelope_auto_tangents(Envelope* envelope);
float envelope_eval(const Envelope* envelope, float time);  // 0 for no keys or a null envelope

// Eased transitions from start (t <= 0) to end (t >= 1): anticipate dips slightly below start
// before a fast arrival, overshoot starts fast, passes end slightly and settles.
float tween_anticipate(float start, float end, float t);
float tween_overshoot(float start, float end, float t);
