// The camera record and its matrices. Scenes fill the inputs (eye, target, near, far, fov, viewport)
// and call camera_update after any change; the outputs are then valid for camera_object_matrices and
// for mesh drawing, which projects with `screen`.
#pragma once
#include <cstdint>
#include "render3d/vecmath.h"

struct Camera {
    Vec3 eye;
    Vec3 target;
    Vec3 forward;        // output: unit column 2 of the view matrix
    float near;
    float far;
    float fov;           // degrees, both axes
    int32_t viewport_x, viewport_y;
    int32_t viewport_w, viewport_h;
    Matrix view;         // output: mat_look_at(eye, target)
    Matrix projection;   // output
    Matrix viewport;     // output
    Matrix screen;       // output: projection * viewport
};

// Rebuilds view, forward, projection, viewport and screen. The aspect is always the larger viewport
// side over the smaller one.
void camera_update(Camera* camera);
// The full-screen camera every scene uses: field of view 45, viewport 0, 0, 640, 480 and the given
// depth range, then camera_update; the clip state is set to match (clip_set_depth(near, far) and
// clip_set_rect(0, 0, 640, 480)). Eye and target are the caller's.
void camera_set_screen(Camera* camera, float near, float far);
// Eye on a sphere: (cos b sin a r, sin b sin a r, cos a r) for polar a and azimuth b, target the
// origin; a non-null centre moves both. Does not call camera_update.
void camera_orbit(Camera* camera, float polar, float azimuth, float radius, const Vec3* centre);
// For one object: out_screen = object * view * screen, out_normal = transpose(invert(object * view)),
// and when out_model_view is not null the model-view matrix object * view itself. out_screen may be
// null for objects drawn through the affine path, which never use it.
void camera_object_matrices(const Camera* camera, const Matrix* object, Matrix* out_screen,
                            Matrix* out_normal, Matrix* out_model_view = nullptr);
// The view-space +Z axis in object space, unit length (zero when object * view is singular).
void camera_view_dir_in_object(const Camera* camera, const Matrix* object, Vec3* out);

// Whole meshes refused before their per-mesh work: the half-spaces of world space (before the view
// matrix) whose points mesh_draw's near-plane path can never put on the screen. A point is refused
// by plane k when dot(plane[k], (x, y, z, 1)) > 0, with unit normals.
struct CameraCull {
    double plane[5][4];  // beyond the clip state's near plane, then 3 pixels past each screen edge
    int32_t count;       // 1 (the near plane alone) when the screen matrix's w is not -z-like
    double slack;        // what rounding may move a point, grown with the view's reach
};
// Made from the camera's view and screen matrices and the near plane of the clip state at the call.
void camera_cull_make(const Camera* camera, CameraCull* cull);
// 1 when every point within radius of centre (world space) lies wholly in one refused half-space,
// so that mesh_draw with MESH_CLIP_NEAR draws nothing of a mesh whose points all do; 0 when in doubt
// (a non-finite centre or radius included).
int camera_cull_ball(const CameraCull* cull, const Vec3* centre, float radius);
