// The bump-mapped sphere: a metal ball lit per pixel through a normal map and reflecting a point
// light, twisted, rippled and swirled on the beat, wound by eight additive ribbons and shedding
// sparks from its lit side.
#include <cmath>

#include "gfx/image.h"
#include "lwo/lwo_mesh.h"
#include "procedural/noise.h"
#include "runtime/clock.h"
#include "scenes/ribbon_ops.h"
#include "scenes/scene_math.h"
#include "scenes/scenes.h"

Mesh* bump_sphere = nullptr;
Mesh* ribbon = nullptr;
Mesh* sparks = nullptr;
Vec3 spark_right, spark_up;

static const RenderMode kSphereMode = RENDER_DOT3 | RENDER_ENVMAP | RENDER_DEPTH | RENDER_TEXTURE;
static const RenderMode kGlowMode = RENDER_ADD | RENDER_DEPTH | RENDER_TEXTURE | RENDER_FLAT;

// Set while the sphere's normals and tangents are those of its rest shape. They depend on nothing
// but the restored positions and texture coordinates, and the frame's transform and lighting only
// read them, so an undeformed frame after another finds them made already.
static int sphere_rest_normals = 0;

int scene_ribbon_init(void) {
    scene_ribbon_free();
    bump_sphere = mesh_from_lwo("data\\sphere3.lwo");
    ribbon = mesh_from_lwo("data\\ribbon.lwo");
    sparks = sparks_create();
    if (!bump_sphere || !ribbon || !sparks) {
        scene_ribbon_free();
        return 1;
    }
    bump_sphere->flags = 0;
    const float plane_u[4] = {3.0f, 0.0f, 0.0f, 0.0f}, plane_v[4] = {0.0f, 0.0f, 3.0f, 0.0f};
    mesh_planar_uv(bump_sphere, plane_u, plane_v);
    mesh_compute_tangents(bump_sphere);
    // Every frame starts from this rest shape, so deformations never pile up.
    if (mesh_save_vertices(bump_sphere) != 0 || !bump_sphere->tangents) {
        scene_ribbon_free();
        return 1;
    }
    mesh_env_uv(bump_sphere);
    sphere_rest_normals = 0;
    ribbon->flags = MESH_DOUBLE_SIDED;
    ribbon->texture = texture_get(TEXTURE_RIBBON);
    return 0;
}

void scene_ribbon_free(void) {
    mesh_free(bump_sphere);
    mesh_free(ribbon);
    mesh_free(sparks);
    bump_sphere = nullptr;
    ribbon = nullptr;
    sparks = nullptr;
    sphere_rest_normals = 0;
}

// Deforms the restored sphere for the beat and leaves its normals and tangents made.
static void ribbon_deform(float B, int b, float s) {
    if (b < 336) {
        if (!sphere_rest_normals) {
            mesh_compute_normals(bump_sphere);
            mesh_compute_tangents(bump_sphere);
            sphere_rest_normals = 1;
        }
        return;
    }
    sphere_rest_normals = 0;
    const float p1 = pow4(frac(B)), p2 = pow4(frac(B / 2.0f));
    const float E = 1.5f * s, G = E * kPi - 1.5f;
    if (b >= 336 && b < 368) {
        float q = 1.0f - p1;
        Deformer twist = {2, {std::sin(1.5f * s) * 0.5f, std::sin(0.75f * s + 0.39f) * 0.5f, std::cos(1.5f * s) * 0.5f},
                          {pow4(q) * 3.0f + 3.0f, std::sin(B * kPi / 2.0f) * kPi, 0.0f, 0.0f}};
        deform_twist(bump_sphere, &twist);
        mesh_compute_normals(bump_sphere);
    }
    if (b >= 352 && b < 368) {
        Deformer ripple = {6, {std::sin(2.0f * E) * 0.5f, std::sin(G) * 0.5f, std::cos(2.0f * E) * 0.5f},
                           {0.5f, 0.5f, 13.0f * E, 1.0f}};
        deform_ripple(bump_sphere, &ripple);
        mesh_compute_normals(bump_sphere);
    }
    if (b >= 368) {
        float angle = std::sin((B - 368.0f) * 0.25f - 0.2f * p2) * 2.0f * kPi;
        if (b >= 380) angle *= 1.0f - (B - 380.0f) / 5.0f;
        Deformer swirl = {3, {std::sin(-2.0f * E) * 0.5f, std::sin(G) * 0.5f, std::cos(-2.0f * E) * 0.5f},
                          {4.0f, angle, 0.0f, 0.0f}};
        deform_swirl(bump_sphere, &swirl);
        mesh_compute_normals(bump_sphere);
    }
    mesh_compute_tangents(bump_sphere);
}

void scene_ribbon_render(float t) {
    if (!bump_sphere || !ribbon || !sparks) return;
    const float B = clock_beat();
    const int b = clock_beat_index();
    const float s = t / 4.0f;

    Vec3 light = {std::sin(0.78f * t) * 0.75f, std::cos(0.48f * t + 0.1f) * 0.75f, 1.0f};
    vec3_normalize(&light, &light);

    Camera camera = {};
    ribbon_camera(&camera, t, B, b);

    Matrix screen, normal;
    mat_rotate_euler(&bump_sphere->object_matrix, s, 0.8f * s + 0.39f, 0.82f * s + 0.78f);
    camera_object_matrices(&camera, &bump_sphere->object_matrix, &screen, &normal);
    mesh_restore_vertices(bump_sphere);
    ribbon_deform(B, b, s);

    bump_sphere->flags |= MESH_PROJECTIVE;
    mesh_transform(bump_sphere, &screen, &normal, MESH_PART_NORMALS | MESH_PART_TANGENTS);
    light_reflect_uv(bump_sphere, &light);
    mesh_light(bump_sphere, &light, MESH_LIGHT_TANGENT);
    bump_sphere->texture = texture_get(TEXTURE_METAL);
    raster_set_env_map(texture_get(TEXTURE_POINTLIGHT));
    raster_set_bump_map(texture_get(TEXTURE_BUMPMAP));
    mesh_draw(bump_sphere, &camera, kSphereMode, MESH_CLIP_PROJECTED);
    bump_sphere->flags &= ~MESH_PROJECTIVE;

    ribbon->flags |= MESH_PROJECTIVE;
    for (int i = 0; i < 8; i++) {
        float k = (float)(i + 1) / 16.0f + 0.5f;
        float a = B + k * 4.0f * kPi;
        Matrix rot, scale;
        mat_rotate_euler(&rot, -B - k, a / 2.0f, -0.3f * a);
        mat_scale(&scale, k, k, k);
        mat_multiply(&rot, &scale, &ribbon->object_matrix);
        camera_object_matrices(&camera, &ribbon->object_matrix, &screen, &normal);
        mesh_transform(ribbon, &screen, &normal, MESH_PART_FACES);
        mesh_light(ribbon, &light, MESH_LIGHT_FLAT);
        mesh_draw(ribbon, &camera, kGlowMode, MESH_CLIP_PROJECTED);
    }
    ribbon->flags &= ~MESH_PROJECTIVE;

    if ((B >= 328.0f && B < 352.0f) || (B >= 368.0f && B < 385.0f)) {
        sparks->texture = texture_get(TEXTURE_PARTICLE);
        sparks->object_matrix = bump_sphere->object_matrix;
        Matrix model_view;
        camera_object_matrices(&camera, &sparks->object_matrix, &screen, &normal, &model_view);
        spark_right = {model_view.m[0], model_view.m[4], model_view.m[8]};
        spark_up = {model_view.m[1], model_view.m[5], model_view.m[9]};
        sparks_emit(bump_sphere, sparks, B, &light);
        mesh_transform(sparks, &model_view, &normal, MESH_PART_FACES);
        mesh_draw(sparks, &camera, kGlowMode, MESH_CLIP_NONE);
    }
}
