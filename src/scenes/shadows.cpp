// The torus-knot shadow scene: a triangular tube wound along a (5, 4) knot turns in front of a
// wooden sphere and shadows it and itself. The knot is drawn first from a light camera into the
// shadow depth buffer, then both objects from the eye with the shadow-tested textured filler.
#include <cmath>

#include "gfx/image.h"
#include "lwo/lwo_mesh.h"
#include "procedural/noise.h"
#include "runtime/clock.h"
#include "scenes/scene_math.h"
#include "scenes/scenes.h"
#include "scenes/shadows_knot.h"

Mesh* knot_mesh = nullptr;
Mesh* sphere_mesh = nullptr;

enum { KNOT_RINGS = 256, KNOT_SIDES = 3 };
static const float kKnotP = 5.0f, kKnotQ = 4.0f;
static const RenderMode kShadowedTexture = RENDER_SHADOW | RENDER_DEPTH | RENDER_TEXTURE | RENDER_FLAT;

int scene_shadows_init(void) {
    scene_shadows_free();
    sphere_mesh = mesh_from_lwo("data\\sphere.lwo");
    if (!sphere_mesh) return 1;
    knot_mesh = knot_tube_create(KNOT_RINGS, KNOT_SIDES, kKnotP, kKnotQ, 10.0f, 0.5f, 0.5f, 64.0f);
    if (!knot_mesh) {
        scene_shadows_free();
        return 1;
    }
    return 0;
}

void scene_shadows_free(void) {
    mesh_free(knot_mesh);
    mesh_free(sphere_mesh);
    knot_mesh = nullptr;
    sphere_mesh = nullptr;
}

void scene_shadows_render(float t) {
    if (!knot_mesh || !sphere_mesh) return;
    const float B = clock_beat();
    const float s = t / 4.0f;
    const float p1 = pow4(frac(B)), p2 = pow4(frac(B / 2.0f)), p4 = pow4(frac(B / 4.0f));

    const KnotShape shape = shadows_knot_shape(B);
    knot_tube_shape(knot_mesh, KNOT_RINGS, KNOT_SIDES, kKnotP, kKnotQ, shape.scale, shape.radius,
                    shape.phase, shape.amplitude, 20.0f);

    Matrix knot_rotation, sphere_rotation;
    mat_rotate_euler(&knot_rotation, 0.82f * s, 0.5f * s + 0.39f, (s + 0.25f * p1) * 0.5f + 0.78f);
    float ax, az;
    shadows_sphere_angles(B, s, &ax, &az);
    mat_rotate_euler(&sphere_rotation, 1.3f * (s + p4), ax, az);

    const float a = noise2(B / 4.0f, p4);
    const float d = noise2(p2, B / 2.0f) * 4.0f + 38.0f;
    // The light orbits a little farther out than the eye and off to one side, so shadows fall visibly aside.
    Camera light = {}, eye = {};
    orbit_eye(&light, d + 2.0f, a);
    light.eye.x += 8.0f;
    light.eye.y -= 8.0f;
    orbit_eye(&eye, d, a);

    Matrix screen, normal;
    // Shadow pass: the knot's depths from the light; both sides, so thin parts still cast.
    camera_set_screen(&light, 1.0f, 96.0f);
    knot_mesh->object_matrix = knot_rotation;
    camera_object_matrices(&light, &knot_mesh->object_matrix, &screen, &normal);
    knot_mesh->flags |= MESH_DOUBLE_SIDED | MESH_PROJECTIVE;
    mesh_transform(knot_mesh, &screen, &normal, 0);
    mesh_draw(knot_mesh, &light, RENDER_DEPTH, MESH_CLIP_PROJECTED);
    knot_mesh->flags &= ~(MESH_DOUBLE_SIDED | MESH_PROJECTIVE);

    // Eye pass.
    Vec3 light_dir = {0.0f, 0.5f, 1.0f};
    vec3_normalize(&light_dir, &light_dir);
    Texture* wood = texture_get(TEXTURE_WOOD);
    camera_set_screen(&eye, 1.0f, 96.0f);

    knot_mesh->flags |= MESH_PROJECTIVE;
    knot_mesh->object_matrix = knot_rotation;
    camera_object_matrices(&eye, &knot_mesh->object_matrix, &screen, &normal);
    mesh_transform(knot_mesh, &screen, &normal, MESH_PART_FACES);
    mesh_light(knot_mesh, &light_dir, MESH_LIGHT_FLAT);
    mesh_add_specular(knot_mesh, &light_dir, 32, 0);
    shadow_uv_project(knot_mesh, &light);
    knot_mesh->texture = wood;
    mesh_draw(knot_mesh, &eye, kShadowedTexture, MESH_CLIP_PROJECTED);
    knot_mesh->flags &= ~MESH_PROJECTIVE;

    Matrix model_view;
    sphere_mesh->object_matrix = sphere_rotation;
    camera_object_matrices(&eye, &sphere_mesh->object_matrix, &screen, &normal, &model_view);
    mesh_transform(sphere_mesh, &model_view, &normal, MESH_PART_FACES);
    mesh_light(sphere_mesh, &light_dir, MESH_LIGHT_FLAT);
    mesh_add_specular(sphere_mesh, &light_dir, 16, 0);
    shadow_uv_project(sphere_mesh, &light);
    sphere_mesh->texture = wood;
    mesh_draw_clipped(sphere_mesh, &eye, kShadowedTexture);
}
