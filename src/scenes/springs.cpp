// The spring-rope cube scene: soft ropes hang between the corners of a turning cube, a noise wind
// blows through them, and in two of every four 8-beat phases their middles are pinned and pulled
// in or out while the anchors spread or close. Each mass is drawn as a small textured cube.
#include <cmath>

#include "gfx/image.h"
#include "lwo/lwo_mesh.h"
#include "procedural/noise.h"
#include "render3d/mesh_lanes.h"
#include "runtime/clock.h"
#include "scenes/scene_math.h"
#include "scenes/scenes.h"
#include "scenes/springs_ropes.h"

enum { ROPES_SETTLE_STEPS = 512 };
// Beat 256 at 105 beats per minute: the scene's own time starts there.
static const float kSceneStart = 146.2857208f;

const RopeSpec rope_specs[ROPE_COUNT] = {
    {{-16, -16, 16}, {16, -16, 16}, 40},    {{-16, -16, -16}, {16, -16, -16}, 40},
    {{-16, 16, 16}, {16, 16, 16}, 40},      {{-16, 16, -16}, {16, 16, -16}, 40},
    {{-16, -16, 16}, {-16, 16, 16}, 40},    {{16, -16, 16}, {16, 16, 16}, 40},
    {{-16, -16, -16}, {-16, 16, -16}, 40},  {{16, -16, -16}, {16, 16, -16}, 40},
    {{-16, -16, -16}, {-16, -16, 16}, 40},  {{16, -16, -16}, {16, -16, 16}, 40},
    {{-16, 16, -16}, {-16, 16, 16}, 40},    {{16, 16, -16}, {16, 16, 16}, 40},
    {{-16, 16, -16}, {16, 16, 16}, 56},     {{16, 16, -16}, {-16, 16, 16}, 56},
    {{-16, -16, -16}, {16, -16, 16}, 56},   {{16, -16, -16}, {-16, -16, 16}, 56},
    {{-16, 16, 16}, {16, -16, 16}, 56},     {{16, 16, 16}, {-16, -16, 16}, 56},
    {{-16, 16, -16}, {16, -16, -16}, 56},   {{16, 16, -16}, {-16, -16, -16}, 56},
    {{16, 16, -16}, {16, -16, 16}, 56},     {{16, 16, 16}, {16, -16, -16}, 56},
    {{-16, 16, -16}, {-16, -16, 16}, 56},   {{-16, 16, 16}, {-16, -16, -16}, 56},
    {{-16, -16, -16}, {16, 16, 16}, 64},    {{16, -16, -16}, {-16, 16, 16}, 64},
};

Mesh* rope_cube = nullptr;
SpringSystem* ropes[ROPE_COUNT] = {};

int scene_springs_init(void) {
    scene_springs_free();
    rope_cube = mesh_from_lwo("data\\cube.lwo");
    if (!rope_cube) return 1;
    for (int i = 0; i < ROPE_COUNT; i++) {
        const RopeSpec* spec = &rope_specs[i];
        SpringSystem* rope = spring_rope_new(&spec->start, &spec->end, spec->masses);
        if (!rope) {
            scene_springs_free();
            return 1;
        }
        rope->masses[rope->mass_count - 1].pinned = 1;
        rope->time_step = 1.0f / 30.0f;
        ropes[i] = rope;
    }
    // Settle before the scene is first seen.
    for (int s = 0; s < ROPES_SETTLE_STEPS; s++) spring_systems_step(ropes, ROPE_COUNT);
    return 0;
}

void scene_springs_free(void) {
    mesh_free(rope_cube);
    rope_cube = nullptr;
    for (int i = 0; i < ROPE_COUNT; i++) {
        spring_system_free(ropes[i]);
        ropes[i] = nullptr;
    }
}

Vec3 springs_eye(float beat, float t) {
    const int b = (int)beat;
    const float p1 = pow4(frac(beat));
    Vec3 eye = {noise2(t, p1) * 16.0f, noise2(p1, t) * 16.0f, 72.0f - 8.0f * p1};
    // The camera starts almost at the centre and pulls back over four beats.
    if (b < 260) eye.z -= (1.0f - (beat - 256.0f) / 4.0f) * 68.0f;
    if (b > 272) {
        const int f = (int)std::floor((beat - 272.0f) / 4.0f) & 3;
        const float h = std::fmod(beat - 272.0f, 4.0f) / 4.0f;
        if (f == 0) {
            eye.x += 8.0f * h;
            eye.y -= 4.0f * h;
            eye.z -= 32.0f * h;
        } else if (f == 1) {
            eye.x -= 8.0f;
            eye.y += 8.0f;
            eye.z -= 52.0f;
        } else if (f == 2) {
            eye.y -= 8.0f * h;
            eye.z -= 48.0f * h;
        }
    }
    return eye;
}

void springs_pull(float beat, float* blend, float* pull, int* pin) {
    const int g = (int)std::floor((beat - 256.0f) / 8.0f) & 3;
    const float ph = frac(beat / 8.0f);
    *blend = 0.0f;
    *pull = 0.0f;
    *pin = 0;
    if (g != 1 && g != 3) return;
    float w, k;
    if (ph < 0.5f) {
        w = 2.0f * ph;
        k = w;
    } else {
        w = 1.0f - (ph - 0.5f) * 2.0f;
        k = 1.0f;
    }
    const float p = w / 4.0f, target = g == 1 ? 0.5f : -0.5f;
    *blend = p + (target - p) * w;
    *pull = k;
    *pin = 1;
}

void ropes_update(float tau, float m, float k, int pin) {
    const float half = tau / 2.0f;
    const float a = std::sin(0.6f * half);
    Matrix r;
    mat_rotate_euler(&r, kPi * a * a * a, 0.3f * half, 0.41f * half);
    const float e = m + 1.0f, c = 1.0f - m;
    const double delta = demo_clock.clock_delta;
    const float step = delta > 0.0 ? (float)delta : 1.0f / 60.0f;
    for (int i = 0; i < ROPE_COUNT; i++) {
        SpringSystem* rope = ropes[i];
        if (!rope) continue;
        const RopeSpec* spec = &rope_specs[i];
        SpringMass* first = &rope->masses[0];
        SpringMass* middle = &rope->masses[rope->mass_count / 2];
        SpringMass* last = &rope->masses[rope->mass_count - 1];
        Vec3 p;
        vec3_scale(&spec->start, e, &p);
        mat_transform_point(&r, &p, &first->position);
        if (pin) {
            // Moved, not flung: the previous position follows so no velocity is left behind.
            Vec3 mid, target, towards;
            vec3_lerp(&spec->start, &spec->end, 0.5f, &mid);
            vec3_scale(&mid, c, &mid);
            mat_transform_point(&r, &mid, &target);
            vec3_sub(&target, &middle->position, &towards);
            vec3_scale_add(&towards, k, &middle->position, &middle->position);
            middle->previous = middle->position;
        }
        vec3_scale(&spec->end, e, &p);
        mat_transform_point(&r, &p, &last->position);
        const Vec3 at = middle->position;
        rope->gravity = Vec3{noise2(at.x * 0.25f, half) * 8.0f, noise2(at.y * 0.25f, half) * 8.0f,
                             noise2(at.z * 0.25f, half) * 8.0f};
        rope->time_step = step;
    }
    // The ropes move independently of each other: set up all, then step all.
    spring_systems_step(ropes, ROPE_COUNT);
}

// A unit vector at right angles to the unit vector d, for frames whose cross product vanished.
static Vec3 rope_perpendicular(const Vec3* d) {
    const float ax = std::fabs(d->x), ay = std::fabs(d->y), az = std::fabs(d->z);
    const Vec3 axis = ax <= ay && ax <= az ? Vec3{1, 0, 0} : ay <= az ? Vec3{0, 1, 0} : Vec3{0, 0, 1};
    Vec3 out;
    vec3_cross(d, &axis, &out);
    vec3_normalize(&out, &out);
    return out;
}

// normalize(cross(a, b)), or a perpendicular of b when a and b are (nearly) parallel.
static Vec3 rope_cross_unit(const Vec3* a, const Vec3* b) {
    Vec3 out;
    vec3_cross(a, b, &out);
    if (vec3_length(&out) < 1e-6f) return rope_perpendicular(b);
    vec3_normalize(&out, &out);
    return out;
}

// One mass's frame: the rope's direction from the previous position q (kept when the two coincide),
// then the side and up squares; q moves on to p.
static void rope_frame_step(const Vec3* p, const Vec3* r, Vec3* q, Vec3* dir, RopeFrame* frame) {
    Vec3 along;
    vec3_sub(p, q, &along);
    if (vec3_length(&along) > 0.0f) vec3_normalize(&along, dir);  // coinciding masses keep the last direction
    frame->dir = *dir;
    frame->side = rope_cross_unit(r, dir);
    vec3_cross(dir, &frame->side, &frame->up);
    vec3_normalize(&frame->up, &frame->up);
    *q = *p;
}

#if MESH_LANES
// rope_frame_step for the masses first..first + 4k, each lane the scalar steps in order: the
// directions four at a time, then the carried direction for coinciding masses one at a time, then
// the sides and ups four at a time. Returns the count done.
static int rope_frames_lanes(const SpringMass* masses, int count, const Vec3* r, Vec3* q, Vec3* dir, RopeFrame* frames) {
    const int n = count & ~3;
    for (int i = 0; i < n; i += 4) {
        const Vec3* p[4] = {&masses[i].position, &masses[i + 1].position, &masses[i + 2].position, &masses[i + 3].position};
        const Vec3* before[4] = {i == 0 ? q : &masses[i - 1].position, p[0], p[1], p[2]};
        const Lanes3 along = lanes3_sub(lanes3_load(p[0], p[1], p[2], p[3]), lanes3_load(before[0], before[1], before[2], before[3]));
        const int moved = _mm_movemask_ps(_mm_cmpgt_ps(lanes3_dot(along, along), _mm_setzero_ps()));
        Vec3 unit[4];
        lanes3_store(lanes3_normalized(along), &unit[0], &unit[1], &unit[2], &unit[3]);
        for (int k = 0; k < 4; k++) {
            if (moved >> k & 1) *dir = unit[k];
            frames[i + k].dir = *dir;
        }
    }
    const Lanes3 axis = {_mm_set1_ps(r->x), _mm_set1_ps(r->y), _mm_set1_ps(r->z)};
    for (int i = 0; i < n; i += 4) {
        RopeFrame* f = &frames[i];
        const Lanes3 d = lanes3_load(&f[0].dir, &f[1].dir, &f[2].dir, &f[3].dir);
        const Lanes3 c = lanes3_cross(axis, d);
        const int flat = _mm_movemask_ps(_mm_cmplt_ps(_mm_sqrt_ps(lanes3_dot(c, c)), _mm_set1_ps(1e-6f)));
        const Lanes3 side = lanes3_normalized(c);
        lanes3_store(side, &f[0].side, &f[1].side, &f[2].side, &f[3].side);
        for (int k = 0; k < 4; k++)
            if (flat >> k & 1) f[k].side = rope_perpendicular(&f[k].dir);
        const Lanes3 sides = lanes3_load(&f[0].side, &f[1].side, &f[2].side, &f[3].side);
        lanes3_store(lanes3_normalized(lanes3_cross(d, sides)), &f[0].up, &f[1].up, &f[2].up, &f[3].up);
    }
    if (n > 0) *q = masses[n - 1].position;
    return n;
}
#endif

void rope_frames(const SpringSystem* chain, const Vec3* r, Vec3* q, Vec3* dir, int first, int count, RopeFrame* frames) {
    const SpringMass* masses = &chain->masses[first];
    int i = 0;
#if MESH_LANES
    if (mesh_lanes_on()) i = rope_frames_lanes(masses, count, r, q, dir, frames);
#endif
    for (; i < count; i++) rope_frame_step(&masses[i].position, r, q, dir, &frames[i]);
}

// The cube's largest reach along each of its own axes.
static Vec3 rope_cube_extent(const Mesh* cube) {
    Vec3 e = {0.0f, 0.0f, 0.0f};
    for (int32_t i = 0; i < cube->vertex_count; i++) {
        const MeshVertex* v = &cube->vertices[i];
        e.x = std::fmax(e.x, std::fabs(v->px));
        e.y = std::fmax(e.y, std::fabs(v->py));
        e.z = std::fmax(e.z, std::fabs(v->pz));
    }
    return e;
}

// rope_draw with cull null draws every cube.
static void rope_draw_cubes(const SpringSystem* chain, const Camera* camera, const CameraCull* cull) {
    if (!chain || !rope_cube || chain->mass_count < 2) return;
    Vec3 light = {0.2f, 0.5f, 1.0f};
    vec3_normalize(&light, &light);
    const Vec3 m0 = chain->masses[0].position, m1 = chain->masses[1].position;
    Vec3 q, d0, s0, back;
    vec3_sub(&m1, &m0, &back);
    vec3_sub(&m0, &back, &q);  // one spacing before the first mass
    vec3_sub(&m0, &q, &d0);
    vec3_normalize(&d0, &d0);
    vec3_add(&m0, &q, &s0);
    vec3_normalize(&s0, &s0);
    // Fixed for the whole rope. A rope through the centre makes d0 and s0 parallel; any
    // perpendicular then serves, where the bare cross product would flatten every cube to nothing.
    const Vec3 r = rope_cross_unit(&d0, &s0);
    Vec3 dir = d0;
    // Each row of a frame is a unit vector, zero or not a number (rope_frames normalises every one),
    // so no point of a cube lands farther from its mass than the sum of its extents; a frame that is
    // not a number makes every corner not a number, which draws nothing either way.
    const Vec3 extent = rope_cube_extent(rope_cube);
    const float reach = (extent.x + extent.y + extent.z) * 1.0001f;
    enum { CHUNK = 64 };
    RopeFrame frames[CHUNK];
    for (int first = 0; first < chain->mass_count; first += CHUNK) {
        const int count = chain->mass_count - first < CHUNK ? chain->mass_count - first : CHUNK;
        rope_frames(chain, &r, &q, &dir, first, count, frames);
        for (int k = 0; k < count; k++) {
            const Vec3 p = chain->masses[first + k].position;
            const RopeFrame* f = &frames[k];
            if (cull && camera_cull_ball(cull, &p, reach)) continue;
            Matrix turn, place;
            mat_identity(&turn);
            turn.m[0] = f->dir.x, turn.m[1] = f->dir.y, turn.m[2] = f->dir.z;
            turn.m[4] = f->side.x, turn.m[5] = f->side.y, turn.m[6] = f->side.z;
            turn.m[8] = f->up.x, turn.m[9] = f->up.y, turn.m[10] = f->up.z;
            mat_translate(&place, p.x, p.y, p.z);
            mat_multiply(&turn, &place, &rope_cube->object_matrix);
            Matrix normal, model_view;
            camera_object_matrices(camera, &rope_cube->object_matrix, nullptr, &normal, &model_view);
            mesh_transform(rope_cube, &model_view, &normal, MESH_PART_FACES);
            mesh_light(rope_cube, &light, MESH_LIGHT_FLAT);
            mesh_draw(rope_cube, camera, RENDER_DEPTH | RENDER_TEXTURE | RENDER_FLAT, MESH_CLIP_NEAR);
        }
    }
}

void rope_draw(const SpringSystem* chain, const Camera* camera) {
    // Cubes wholly behind the near plane or off the screen draw nothing: their matrices, transform,
    // light and drawing are left out.
    CameraCull cull;
    camera_cull_make(camera, &cull);
    rope_draw_cubes(chain, camera, &cull);
}

void rope_draw_every_cube(const SpringSystem* chain, const Camera* camera) { rope_draw_cubes(chain, camera, nullptr); }

void scene_springs_render(float t) {
    if (!rope_cube) return;
    const float B = clock_beat();
    Camera camera = {};
    camera.eye = springs_eye(B, t);
    camera.target = Vec3{0.0f, 0.0f, 0.0f};
    camera_set_screen(&camera, 1.0f, 256.0f);

    float blend, pull;
    int pin;
    springs_pull(B, &blend, &pull, &pin);
    // The middle masses are held only while a pull phase runs; otherwise they swing with the rope.
    for (int i = 0; i < ROPE_COUNT; i++)
        if (ropes[i]) ropes[i]->masses[ropes[i]->mass_count / 2].pinned = pin;
    ropes_update(t - kSceneStart, blend, pull, pin);

    rope_cube->texture = texture_get(TEXTURE_CUBE_SHADOW);
    for (int i = 0; i < ROPE_COUNT; i++) rope_draw(ropes[i], &camera);
}
