// Mesh: the one renderable object of the 3D pipeline. Made by the object converter or by scenes;
// each frame a scene sets object_matrix, calls camera_object_matrices, mesh_transform, mesh_light
// (and mesh_env_uv or mesh_planar_uv where needed), then mesh_draw or mesh_draw_clipped.
//
// mesh_create makes the record, vertices, normals and triangles in one allocation; the saved copy
// and the tangents are made on first use. Only creation and the saved copy allocate: drawing uses the
// process-wide clip buffers and a local triangle record.
#pragma once
#include <cstdint>
#include "raster/raster.h"
#include "render3d/camera.h"
#include "render3d/vecmath.h"

struct VertexNormal {
    Vec3 normal;        // object space
    Vec3 world_normal;  // transformed and normalised
};

struct VertexTangent {
    Vec3 tangent;
    Vec3 world_tangent;  // accumulates bitangents while tangents are computed
    float handedness;    // +1 or -1
};

struct MeshTriangle {
    int32_t vertex_a, vertex_b, vertex_c;
    Vec3 normal;          // object-space unit face normal
    float plane_d;        // -dot(normal, position of vertex_a)
    Vec3 world_normal;
    uint32_t base_colour;
    uint32_t lit_colour;  // what drawing hands to the rasterizer
    int32_t visible;
};

enum : int32_t { MESH_DOUBLE_SIDED = 0x1, MESH_PROJECTIVE = 0x2 };

struct Mesh {
    int32_t flags;
    int32_t vertex_count;
    MeshVertex* vertices;
    MeshVertex* saved_vertices;
    VertexNormal* normals;
    VertexTangent* tangents;
    int32_t triangle_count;
    MeshTriangle* triangles;
    Texture* texture;       // not owned
    Matrix object_matrix;
    Matrix normal_matrix;
};

// Parts bits of mesh_transform.
enum : int32_t { MESH_PART_NORMALS = 0x1, MESH_PART_TANGENTS = 0x2, MESH_PART_FACES = 0x4 };
// Models of mesh_light.
enum : int32_t { MESH_LIGHT_FLAT = 0, MESH_LIGHT_GOURAUD = 1, MESH_LIGHT_TANGENT = 2 };
// Clip modes of mesh_draw: 0 projects and culls, 32 takes screen values as they are (projective
// path), any other value clips each triangle against the near plane when bit 0 is set.
enum : int32_t { MESH_CLIP_NONE = 0, MESH_CLIP_NEAR = 1, MESH_CLIP_PROJECTED = 32 };

// Null when a count is 0 or negative or memory runs out. The record starts zeroed (matrices all
// zero, not identity) with vertex_count and triangle_count set; the arrays start zeroed too.
Mesh* mesh_create(int32_t vertex_capacity, int32_t triangle_count);
void mesh_free(Mesh* mesh);                // null accepted
// Copies vertex_count vertices aside (the copy is made on first use and grows with vertex_count;
// only mesh_free releases it, never free() it directly); 0 ok, 1 no memory.
int mesh_save_vertices(Mesh* mesh);
void mesh_restore_vertices(Mesh* mesh);    // copy the saved vertices back; nothing if never saved
// u = a*px + b*py + c*pz + d of plane_u (four floats), v likewise of plane_v.
void mesh_planar_uv(Mesh* mesh, const float plane_u[4], const float plane_v[4]);
// Environment coordinates from the transformed vertex normals: ((x + 1) / 2, (1 - y) / 2).
void mesh_env_uv(Mesh* mesh);

// In place: (sx, sy, sz) * m divided by w into sx, sy, sz; rhw = 1/w (1 when w is exactly 0).
void vertices_project(const Matrix* m, MeshVertex* vertices, int32_t count);
// One point through a full screen matrix: sx, sy, sz = (x, y, z, 1) * m divided by w, rhw = 1 / w
// (1 when w is exactly 0). Shared by vertices_project and mesh_transform's projective path.
inline void vertex_project(const float* m, float x, float y, float z, MeshVertex* v) {
    float w = x * m[3] + y * m[7] + z * m[11] + m[15];
    float t = w == 0.0f ? 1.0f : 1.0f / w;
    v->sx = (x * m[0] + y * m[4] + z * m[8] + m[12]) * t;
    v->sy = (x * m[1] + y * m[5] + z * m[9] + m[13]) * t;
    v->sz = (x * m[2] + y * m[6] + z * m[10] + m[14]) * t;
    v->rhw = t;
}
// 1 when a, b, c do not run clockwise on screen (y down); zero area counts as back-facing.
int triangle_is_backfacing(const MeshVertex* a, const MeshVertex* b, const MeshVertex* c);

// A screen corner as the rasterizer's set-up reads it: its position in 1/32 pixel, truncated toward
// zero, and the position itself. Only corners within kSetupJudgedReach pixels of the origin are judged
// (judged = 0 otherwise, and the other fields are not read); there the decision below is exactly
// set-up's own.
// The reach: far inside set-up's own range and far from any overflow of its 64-bit sums, yet wide
// enough for the corners of triangles just in front of the eye.
constexpr float kSetupJudgedReach = 65536.0f;
struct SetupCorner {
    int32_t x, y;
    float sx, sy;
    int32_t judged;
};
SetupCorner setup_corner_make(const MeshVertex* v);
// The decision of setup_corners_refused taken from set-up's own sums, for any judged corners.
int setup_corners_refused_exact(const SetupCorner* a, const SetupCorner* b, const SetupCorner* c, uint32_t flags);
// 1 when set-up's box of the triangle (a, b, c) lies off the screen or spans less than two pixel
// columns or rows, or the corners are in a line (all judged).
int setup_corners_box_refused(const SetupCorner* a, const SetupCorner* b, const SetupCorner* c);

// 1 when set-up is certain to refuse the triangle (a, b, c), handed over in that order with these
// flags: for its winding, for no area, or for its box. 0 when set-up draws it, and when a corner is
// not judged. Inline because whole meshes of mostly refused triangles pass through it.
inline int setup_corners_refused(const SetupCorner* a, const SetupCorner* b, const SetupCorner* c,
                                 uint32_t flags) {
    if (!(a->judged & b->judged & c->judged)) return 0;
    // Set-up's area is twice this cross product less one for each edge the fill rule trims (up to
    // three), so the sign of the cross product alone decides all but the nearly empty triangles.
    const int64_t cross = (int64_t)(b->x - a->x) * (c->y - a->y) - (int64_t)(c->x - a->x) * (b->y - a->y);
    if (flags & DOUBLE_SIDED) {
        if (cross >= 2 || cross <= -8) return setup_corners_box_refused(a, b, c);
    } else {
        if (cross <= 0) return 1;
        if (cross >= 2) return setup_corners_box_refused(a, b, c);
    }
    return setup_corners_refused_exact(a, b, c, flags);
}
// 1 when the triangle (a, b, c), drawn with a depth-tested mode that does not write depth, is certain
// to draw nothing because every pixel it could cover holds a depth in `depth` no farther than any its
// depth plane can give there; 0 otherwise (also for corners set-up does not judge, or planes too steep
// to bound). The bound allows for every rounding of the depth plane's set-up and walk.
int triangle_hidden_behind(const MeshVertex* a, const MeshVertex* b, const MeshVertex* c, const DepthBuffer* depth);
// Draws a transformed and lit mesh with the camera's screen matrix; mode passes to the rasterizer.
// Clip modes 0 and 32 leave out triangles of depth-tested, non-writing modes (additive, alpha) that
// triangle_hidden_behind finds hidden in the main depth buffer, when drawing is not deferred.
void mesh_draw(Mesh* mesh, const Camera* camera, RenderMode mode, int32_t clip_mode);
// Near-plane and screen-rectangle clipping of every visible triangle.
void mesh_draw_clipped(Mesh* mesh, const Camera* camera, RenderMode mode);

// Per-frame transform. matrix is the model-view (affine path: sx..sz view space, rhw = w) or, for
// MESH_PROJECTIVE meshes, the full screen matrix (divided by w; draw with clip mode 32). The normal
// matrix turns the normal, tangent and face parts selected by `parts`.
void mesh_transform(Mesh* mesh, const Matrix* matrix, const Matrix* normal_matrix, int32_t parts);
// One directional light L in view space, unit length. Flat writes lit_colour, Gouraud and tangent
// write vertex colours; the floor is 0.15. The tangent model normalises *light in place.
void mesh_light(Mesh* mesh, Vec3* light, int32_t model);
// Face normals, plane distances and area-weighted smooth vertex normals from the positions.
void mesh_compute_normals(Mesh* mesh);
// Per-vertex tangents and handedness from normals and u, v; triangles whose texture coordinates are
// degenerate add nothing. Does nothing when the array cannot be allocated.
void mesh_compute_tangents(Mesh* mesh);
