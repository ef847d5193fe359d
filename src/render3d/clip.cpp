// The process-wide clip state, the shared clip buffers, the five clipping walks and the packed
// colour helpers.
#include "render3d/clip.h"

MeshVertex clip_buffer_a[CLIP_BUFFER_SIZE];
MeshVertex clip_buffer_b[CLIP_BUFFER_SIZE];

static float clip_near_z = -1.0f;
static float clip_left = 0.0f;
static float clip_top = 0.0f;
static float clip_right = 640.0f;
static float clip_bottom = 480.0f;

void clip_set_depth(float near_distance, float far_distance) {
    (void)far_distance;  // there is no far plane
    clip_near_z = -near_distance;
}

float clip_near_plane(void) { return clip_near_z; }

void clip_set_rect(float x, float y, float w, float h) {
    clip_left = x;
    clip_top = y;
    clip_right = x + w;
    clip_bottom = y + h;
}

// One channel, clamped in float before truncation so that no input can make the conversion
// overflow; for in-range inputs this is the plain rounded value.
static uint32_t channel_round(float value) {
    float f = value + 0.5f;
    if (!(f > 0.0f)) return 0;
    return f >= 255.0f ? 255u : (uint32_t)f;
}

uint32_t colour_lerp(uint32_t a, uint32_t b, float t) {
    uint32_t out = 0;
    for (int shift = 0; shift < 32; shift += 8) {
        float ca = (float)((a >> shift) & 0xFF), cb = (float)((b >> shift) & 0xFF);
        out |= channel_round(ca + (cb - ca) * t) << shift;
    }
    return out;
}

uint32_t colour_lerp_clamped(uint32_t a, uint32_t b, float span, float distance) {
    uint32_t out = 0;
    for (int shift = 0; shift < 32; shift += 8) {
        float ca = (float)((a >> shift) & 0xFF), cb = (float)((b >> shift) & 0xFF);
        float slope = span == 0.0f ? 0.0f : (cb - ca) / span;
        out |= channel_round(ca + slope * distance) << shift;
    }
    return out;
}

// The near plane's intersection: measured from cur towards next in view-space z.
static void intersect_near(const MeshVertex* cur, const MeshVertex* next, MeshVertex* out) {
    float dz = next->sz - cur->sz;
    float t = dz == 0.0f ? 1.0f : (clip_near_z - cur->sz) / dz;
    out->sx = cur->sx + (next->sx - cur->sx) * t;
    out->sy = cur->sy + (next->sy - cur->sy) * t;
    out->sz = clip_near_z;
    out->rhw = cur->rhw + (next->rhw - cur->rhw) * t;
    out->u = cur->u + (next->u - cur->u) * t;
    out->v = cur->v + (next->v - cur->v) * t;
    out->colour = colour_lerp(cur->colour, next->colour, t);
}

// Screen-edge intersection on axis 0 (sx) or 1 (sy): the clipped axis lands on the plane.
static void intersect_edge(const MeshVertex* cur, const MeshVertex* next, int axis, float plane,
                           MeshVertex* out) {
    float c0 = axis == 0 ? cur->sx : cur->sy;
    float c1 = axis == 0 ? next->sx : next->sy;
    float span = c1 - c0, distance = plane - c0;
    auto lerp = [&](float f0, float f1) {
        float slope = span == 0.0f ? 0.0f : (f1 - f0) / span;
        return f0 + slope * distance;
    };
    if (axis == 0) {
        out->sx = plane;
        out->sy = lerp(cur->sy, next->sy);
    } else {
        out->sy = plane;
        out->sx = lerp(cur->sx, next->sx);
    }
    out->sz = lerp(cur->sz, next->sz);
    out->rhw = lerp(cur->rhw, next->rhw);
    out->u = lerp(cur->u, next->u);
    out->v = lerp(cur->v, next->v);
    out->colour = colour_lerp_clamped(cur->colour, next->colour, span, distance);
}

enum ClipPlane { CLIP_NEAR, CLIP_LEFT, CLIP_RIGHT, CLIP_TOP, CLIP_BOTTOM };

static int clip_inside(const MeshVertex* v, ClipPlane plane) {
    switch (plane) {
    case CLIP_NEAR: return v->sz <= clip_near_z;
    case CLIP_LEFT: return v->sx >= clip_left;
    case CLIP_RIGHT: return v->sx <= clip_right;
    case CLIP_TOP: return v->sy >= clip_top;
    default: return v->sy <= clip_bottom;
    }
}

int clip_inside_near(const MeshVertex* v) { return clip_inside(v, CLIP_NEAR); }

int clip_inside_rect(const MeshVertex* v) {
    return clip_inside(v, CLIP_LEFT) && clip_inside(v, CLIP_RIGHT) && clip_inside(v, CLIP_TOP) &&
           clip_inside(v, CLIP_BOTTOM);
}

static int clip_on_plane(const MeshVertex* v, ClipPlane plane) {
    switch (plane) {
    case CLIP_NEAR: return v->sz == clip_near_z;
    case CLIP_LEFT: return v->sx == clip_left;
    case CLIP_RIGHT: return v->sx == clip_right;
    case CLIP_TOP: return v->sy == clip_top;
    default: return v->sy == clip_bottom;
    }
}

// Sutherland-Hodgman: each edge appends next when inside, preceded by the crossing when the edge
// enters or leaves. The crossing starts as a copy of the outside endpoint so that fields the clip
// does not interpolate come from it.
static int clip_walk(const MeshVertex* in, int count, MeshVertex* out, int capacity, ClipPlane plane) {
    int written = 0;
    for (int j = 0; j < count; j++) {
        const MeshVertex* cur = &in[j];
        const MeshVertex* next = &in[(j + 1) % count];
        int cur_in = clip_inside(cur, plane), next_in = clip_inside(next, plane);
        // A crossing at an endpoint lying exactly on the plane would repeat that vertex: drop it.
        int at_endpoint = cur_in ? clip_on_plane(cur, plane) : clip_on_plane(next, plane);
        if (cur_in != next_in && !at_endpoint) {
            if (written == capacity) break;
            MeshVertex* x = &out[written++];
            *x = cur_in ? *next : *cur;
            switch (plane) {
            case CLIP_NEAR: intersect_near(cur, next, x); break;
            case CLIP_LEFT: intersect_edge(cur, next, 0, clip_left, x); break;
            case CLIP_RIGHT: intersect_edge(cur, next, 0, clip_right, x); break;
            case CLIP_TOP: intersect_edge(cur, next, 1, clip_top, x); break;
            case CLIP_BOTTOM: intersect_edge(cur, next, 1, clip_bottom, x); break;
            }
        }
        if (next_in) {
            if (written == capacity) break;
            out[written++] = *next;
        }
    }
    return written;
}

int clip_polygon_near(const MeshVertex* in, int count, MeshVertex* out, int capacity) {
    return clip_walk(in, count, out, capacity, CLIP_NEAR);
}
int clip_polygon_left(const MeshVertex* in, int count, MeshVertex* out, int capacity) {
    return clip_walk(in, count, out, capacity, CLIP_LEFT);
}
int clip_polygon_right(const MeshVertex* in, int count, MeshVertex* out, int capacity) {
    return clip_walk(in, count, out, capacity, CLIP_RIGHT);
}
int clip_polygon_top(const MeshVertex* in, int count, MeshVertex* out, int capacity) {
    return clip_walk(in, count, out, capacity, CLIP_TOP);
}
int clip_polygon_bottom(const MeshVertex* in, int count, MeshVertex* out, int capacity) {
    return clip_walk(in, count, out, capacity, CLIP_BOTTOM);
}
