// The growing tree's pieces: tubes swept along key-framed centre lines, the seeded tree shape, and
// the greeting line layout. Exposed so the tests can check shapes and schedules without drawing.
#pragma once
#include <cstdint>

#include "procedural/envelope.h"
#include "render3d/camera.h"
#include "render3d/mesh.h"
#include "render3d/vecmath.h"

enum { TREE_MAX_BRANCHES = 160, TREE_CHILDREN = 4, TREE_GREETING_COUNT = 8 };

struct TubeProfilePoint {
    float x, y;
};

struct SplineTube {
    void* cap_mode;  // end caps are never built; always null
    float u_scale, v_scale;
    int32_t max_vertices;
    int32_t vertex_count;
    MeshVertex* vertices;
    VertexNormal* normals;
    MeshTriangle* triangles;
    int32_t max_triangles;
    int32_t triangle_count;
    Mesh* mesh;
    int32_t rings_per_unit;
    int32_t rings_built;
    int32_t sides;
    TubeProfilePoint* profile;  // sides points, stored right after the record
    float t_start, t_end;
    float profile_a, profile_b, profile_m, profile_n1, profile_n2, profile_n3, profile_scale;
    float start_time;
    Envelope* curve_x;
    Envelope* curve_y;
    Envelope* curve_z;
    SplineTube* parent;
    SplineTube* children[TREE_CHILDREN];
};

// Takes ownership of the three curves (also on failure). Null when sides < 1, rings_per_unit < 1,
// t1 <= t0 or out of memory.
SplineTube* spline_tube_create(float t0, float t1, int rings_per_unit, int sides, Envelope* cx,
                               Envelope* cy, Envelope* cz);
void spline_tube_free(SplineTube* tube);  // mesh, curves and record; null accepted
void spline_tube_profile(SplineTube* tube, float a, float b, float m, float n1, float n2, float n3,
                         float scale);
// Rebuilds the tube up to time x, the width swelling by the growth curve (null: no swelling).
void spline_tube_build(SplineTube* tube, const Envelope* growth, float x);
Vec3 spline_tube_point(const SplineTube* tube, float p);

// The tree's generator (32-bit linear congruential).
void tree_srand(uint32_t seed);
int tree_rand(void);

// Scene state, valid between scene_tree_init and scene_tree_free.
int tree_branch_count(void);
SplineTube* tree_branch(int index);
int tree_tip_count(void);
const Vec3* tree_tips(void);
const char* tree_greeting(int row);       // row clamped to 0..7
Envelope* tree_growth_curve(void);
void tree_set_pulse(float c);             // moves the growth curve's keys for scene time c
// Draws the tree at time x with the camera and records the tips.
void tree_draw_all(const Camera* camera, float x);

// Greeting line: x positions of the letters to draw for text over n tips (shown[i] != 0 when tip i
// is shown), starting at x0. Writes the letter index (0..25) and x of each drawn letter; returns how
// many letters are drawn (at most n).
int greeting_line(const char* text, int n, const int* shown, int x0, int* out_letter, int* out_x);
