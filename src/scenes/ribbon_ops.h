// The bump-mapped sphere's machinery, shared by the scene and its tests: the three deformers, the
// reflected-light environment coordinates, the camera path and the spark emitter.
#pragma once
#include <cstdint>
#include "render3d/camera.h"
#include "render3d/mesh.h"

// mode selects the variant (twist 0/1/2 about x/y/z); params meaning per deformer.
struct Deformer {
    int32_t mode;
    Vec3 centre;
    float params[4];
};

enum { SPARK_QUADS = 1024 };

extern Mesh* bump_sphere;
extern Mesh* ribbon;
extern Mesh* sparks;
extern Vec3 spark_right, spark_up;

// Each moves object-space positions about the record's centre; the caller recomputes normals.
void deform_twist(Mesh* mesh, const Deformer* record);   // params: length, angle
void deform_ripple(Mesh* mesh, const Deformer* record);  // params: amplitude, wavelength, phase, falloff
void deform_swirl(Mesh* mesh, const Deformer* record);   // params: radius, angle
// env_u, env_v from the transformed normals mirrored about the light direction.
void light_reflect_uv(Mesh* mesh, const Vec3* light);
// Eye, target and lens of the frame at time t (seconds), beat B, integer beat b; calls camera_update.
void ribbon_camera(Camera* camera, float t, float B, int b);
// Refills the spark quads from sphere vertices facing the light (light is normalised in place).
void sparks_emit(const Mesh* sphere, Mesh* spark_mesh, float B, Vec3* light);
// Offset of the sparks along the normal at beat B: they rise out of and sink back into the surface.
float sparks_offset(float B);
// Allocates the 1024-quad spark mesh; null when memory runs out.
Mesh* sparks_create(void);
