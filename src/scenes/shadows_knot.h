// The torus-knot scene's machinery: the knot curve and its triangular tube, the orbiting cameras,
// texture coordinates projected from the light camera for the shadow-tested fillers, a white
// highlight over lit colours, and the beat schedules of the knot and the sphere.
//
// Nothing here allocates except knot_tube_create; every operation accepts what it is given and
// quietly does nothing when a mesh is missing. Main thread only.
#pragma once
#include <cstdint>

#include "render3d/camera.h"
#include "render3d/mesh.h"
#include "render3d/vecmath.h"

// The scene's two meshes, owned from scene_shadows_init to scene_shadows_free (null otherwise).
extern Mesh* knot_mesh;
extern Mesh* sphere_mesh;

// r = (sin(q t) + 2) * 0.5 * a; the point (cos(p t) r, r cos(q t), r sin(p t)).
Vec3 knot_point(float a, float p, float q, float t);
// A closed tube of `rings` rings of `sides` vertices along the knot, shaped at its rest radius;
// null for counts below 3, counts too large, or no memory.
Mesh* knot_tube_create(int rings, int sides, float p, float q, float scale, float radius,
                       float u_scale, float v_scale);
// Rewrites the tube's vertex positions and normals. Ring k has the radius
// (sin((phase + k * 2pi / rings) * frequency) * 0.5 + 0.5) * amplitude + radius. Nothing happens
// for a null mesh or one whose vertex count is not rings * sides.
void knot_tube_shape(Mesh* mesh, int rings, int sides, float p, float q, float scale, float radius,
                     float phase, float amplitude, float frequency);
// Eye on the scene's orbit at distance d for the animation value a, looking at the origin.
// Does not call camera_update.
void orbit_eye(Camera* camera, float distance, float a);
// env_u, env_v of every vertex: its position through object * light view * light projection and a
// 0..1 bias, divided by the resulting z (undivided where z is 0). The light camera must be updated.
void shadow_uv_project(Mesh* mesh, const Camera* light);
// Adds a white highlight (cos^exponent of the angle between the normal and the half vector of L and
// the view axis) to lit colours: model 0 per triangle into lit_colour, model 1 per vertex into colour.
// Other models do nothing. Colours only grow, each byte saturating at 255.
void mesh_add_specular(Mesh* mesh, const Vec3* light, int exponent, int model);

// The knot's shape and the sphere's extra turns at a beat (the integer beat is its truncation).
struct KnotShape {
    float scale, radius, phase, amplitude;
};
KnotShape shadows_knot_shape(float beat);
void shadows_sphere_angles(float beat, float s, float* ax, float* az);
