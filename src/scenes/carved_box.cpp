// The carved-box scene: an environment-mapped block, the iso surface at 5 of a field that is 7
// inside the lattice and 0 on its skin, eaten by 32 orbiting subtracted blobs. Each hole carries
// an additive glow quad. The camera circles, closes in, dives through and flies off at the end.
#include <cmath>
#include <cstdlib>

#include "gfx/image.h"
#include "procedural/noise.h"
#include "runtime/clock.h"
#include "scenes/carved_box.h"
#include "scenes/scene_math.h"
#include "scenes/scenes.h"

FieldLattice* meta_lattice = nullptr;
Mesh* meta_sprites = nullptr;
Vec3 sprite_right = {1.0f, 0.0f, 0.0f};
Vec3 sprite_up = {0.0f, 1.0f, 0.0f};

// The solid block's field is the same every frame: made once at init, copied back before the holes
// are cut.
struct BlockPoint {
    Vec3 normal;
    float value;
};
static BlockPoint* carved_box_block = nullptr;

static const float kEdge = 32.0f;
static const float kInside = 7.0f;
static const float kIso = 5.0f;
static const RenderMode kSurfaceMode = RENDER_BILINEAR | RENDER_DEPTH | RENDER_TEXTURE | RENDER_GOURAUD;
static const RenderMode kGlowMode = RENDER_ADD | RENDER_DEPTH | RENDER_TEXTURE;

static void carved_box_field_block(FieldLattice* lattice);

int scene_carved_box_init(void) {
    scene_carved_box_free();
    meta_lattice = lattice_create(CARVED_BOX_RESOLUTION);
    meta_sprites = mesh_create(4 * CARVED_BOX_HOLES, 2 * CARVED_BOX_HOLES);
    if (meta_lattice) carved_box_block = (BlockPoint*)std::malloc((size_t)meta_lattice->point_count * sizeof(BlockPoint));
    if (!meta_lattice || !meta_sprites || !carved_box_block) {
        scene_carved_box_free();
        return 1;
    }
    lattice_build(meta_lattice, kEdge);
    lattice_scale_values(meta_lattice, 0.0f);
    carved_box_field_block(meta_lattice);
    for (int32_t i = 0; i < meta_lattice->point_count; i++)
        carved_box_block[i] = BlockPoint{meta_lattice->points[i].normal, meta_lattice->points[i].value};
    for (int i = 0; i < CARVED_BOX_HOLES; i++) {
        MeshTriangle* t = &meta_sprites->triangles[2 * i];
        t[0].vertex_a = 4 * i;
        t[0].vertex_b = 4 * i + 2;
        t[0].vertex_c = 4 * i + 1;
        t[1].vertex_a = 4 * i;
        t[1].vertex_b = 4 * i + 3;
        t[1].vertex_c = 4 * i + 2;
        for (int k = 0; k < 2; k++) {
            t[k].base_colour = 0xFFFFFFFFu;
            t[k].lit_colour = 0xFFFFFFFFu;
            t[k].visible = 1;
        }
    }
    return 0;
}

void scene_carved_box_free(void) {
    mesh_free(meta_sprites);
    lattice_free(meta_lattice);
    std::free(carved_box_block);
    carved_box_block = nullptr;
    meta_sprites = nullptr;
    meta_lattice = nullptr;
}

static float pow8(float x) { return pow4(x) * pow4(x); }

void carved_box_hole_params(float beat, float* scale, float* radius) {
    const float h = beat - 192.0f;
    float k, r;
    if (h < 14.0f) {
        r = 38.0f;
        k = 0.5f;
    } else if (h < 18.0f) {
        r = 38.0f - (h - 14.0f) * 5.0f;
        k = 0.5f;
    } else {
        r = 18.0f;
        k = (std::sin((h - 6.0f) * 2.0f - kPi / 2.0f) * 0.5f + 0.5f) * 0.5f + 0.5f;
    }
    if (h >= 20.0f) r = r + pow8(frac(beat / 2.0f)) * 2.5f;
    if (h >= 28.0f) k = k - pow8(frac(beat)) * 0.25f;
    if (h >= 40.0f && h < 56.0f) {
        k = 0.9f;
        r = 18.0f;
    }
    *scale = k;
    *radius = r;
}

void carved_box_camera_place(Camera* camera, float beat) {
    const float B = beat;
    const int b = (int)beat;
    const float e = (B - 192.0f) * kPi / 16.0f;
    const float p1 = pow4(frac(B)), p2 = pow4(frac(B / 2.0f)), p8 = pow8(frac(B / 4.0f));
    if (b < 208) {
        camera_orbit(camera, e, 0.0f, 64.0f, nullptr);
    } else if (b < 224) {
        camera_orbit(camera, e, noise2(B, p1) * 0.39f, 64.0f - (B - 208.0f) / 8.0f * 6.0f, nullptr);
    } else {
        float q = e;
        float a = std::sin(B * 0.125f * kPi) * kPi;
        float r = 52.0f;
        Vec3 c = {noise2(p2, e) * 3.0f, noise2(p1, p8) * 3.0f, noise2(a, p1) * 3.0f};
        if (b < 232 || b >= 248) {
            q = q - (noise2(p1, q) * 0.12f + (B - 224.0f) * 0.5f);
            a = p2 * 0.05f - noise2(B, p1) * 0.05f + a;
            r = r + p8 * 16.0f;
        } else {
            // The dive: close in on a steadier centre.
            q = noise2(p1, q) * 0.12f + (B - 224.0f) * 0.125f;
            a = noise2(B, p1) * 0.139f;
            r = r - (16.0f - p8 * 2.0f);
            vec3_scale(&c, 0.25f, &c);
        }
        if (b > 251) r = r + (B - 252.0f) / 4.0f * 128.0f;
        camera_orbit(camera, q, a, r, &c);
    }
    camera_set_screen(camera, 1.0f, 256.0f);
    const float* v = camera->view.m;
    sprite_right = {v[0], v[4], v[8]};
    sprite_up = {v[1], v[5], v[9]};
}

// The solid block: 7 inside, 0 on the outer layer with the gradient pointing straight out, so the
// level-5 surface closes just inside the lattice's skin.
static void carved_box_field_block(FieldLattice* lattice) {
    const int32_t n = lattice->resolution, side = n + 1;
    for (int32_t i = 0; i < lattice->point_count; i++) {
        LatticePoint* p = &lattice->points[i];
        p->value = kInside;
        vec3_normalize(&p->position, &p->normal);
        vec3_scale(&p->normal, kInside, &p->normal);
    }
    // z faces, then y, then x: an edge or corner point keeps the last face's outward normal.
    for (int axis = 2; axis >= 0; axis--) {
        for (int32_t ix = 0; ix < side; ix++) {
            for (int32_t iy = 0; iy < side; iy++) {
                for (int32_t iz = 0; iz < side; iz++) {
                    const int32_t i = axis == 0 ? ix : axis == 1 ? iy : iz;
                    if (i != 0 && i != n) continue;
                    LatticePoint* p = &lattice->points[(ix * side + iy) * side + iz];
                    const float out = i == 0 ? -kInside : kInside;
                    p->value = 0.0f;
                    p->normal = {axis == 0 ? out : 0.0f, axis == 1 ? out : 0.0f, axis == 2 ? out : 0.0f};
                }
            }
        }
    }
}

void meta_field_update(float beat) {
    if (!meta_lattice || !meta_sprites || !carved_box_block) return;
    // Only the runs of points written since the last copy differ from the block.
    const int32_t side = meta_lattice->resolution + 1;
    for (int32_t r = 0; r < side * side; r++) {
        int32_t* touched = &meta_lattice->touched[2 * r];
        for (int32_t i = r * side + touched[0]; i < r * side + touched[1]; i++) {
            meta_lattice->points[i].normal = carved_box_block[i].normal;
            meta_lattice->points[i].value = carved_box_block[i].value;
        }
        touched[0] = touched[1] = 0;
    }
    float k, r;
    carved_box_hole_params(beat, &k, &r);
    const float m = (beat - 192.0f) * 0.5f;
    float s = beat * 0.143f;
    for (int i = 0; i < CARVED_BOX_HOLES; i++) {
        const float rho = r - std::fabs(noise2(s * 0.25f, m * 0.63f + (float)i * 0.02f) * 18.0f);
        const float theta = noise2(s * 0.45f, (m + 0.13f) * 0.39f) * kPi + m * 0.4f;
        const Vec3 centre = {std::cos(theta) * std::sin(s) * rho, std::sin(theta) * std::sin(s) * rho,
                             std::cos(s) * rho};
        lattice_subtract_blob(meta_lattice, &centre, k * 10.0f, k * 11.0f + 1.0f);
        meta_sprite_place(i, &centre, k * 3.0f);
        s = s + 0.7235987782f;
    }
}

void meta_sprite_place(int i, const Vec3* centre, float s) {
    if (!meta_sprites || i < 0 || i >= CARVED_BOX_HOLES) return;
    const Vec3 R = sprite_right, U = sprite_up, c = *centre;
    MeshVertex* v = &meta_sprites->vertices[4 * i];
    const float corner[4][2] = {{1, 1}, {-1, 1}, {-1, -1}, {1, -1}};  // along R, along U
    const float uv[4][2] = {{1, 0}, {0, 0}, {0, 1}, {1, 1}};
    for (int k = 0; k < 4; k++) {
        const float a = corner[k][0], b = corner[k][1];
        v[k].px = c.x + (R.x * a + U.x * b) * s;
        v[k].py = c.y + (R.y * a + U.y * b) * s;
        v[k].pz = c.z + (R.z * a + U.z * b) * s;
        v[k].u = uv[k][0];
        v[k].v = uv[k][1];
    }
}

void scene_carved_box_render(float) {
    if (!meta_lattice || !meta_sprites) return;
    const float beat = clock_beat();
    Camera camera = {};
    carved_box_camera_place(&camera, beat);
    Matrix screen, normal;
    mat_identity(&meta_lattice->object_matrix);
    camera_object_matrices(&camera, &meta_lattice->object_matrix, &screen, &normal);

    meta_field_update(beat);
    meta_lattice->light = {0.0f, 0.0f, 1.0f};
    lattice_polygonise(meta_lattice, kIso, &camera, texture_get(TEXTURE_ENVI_GRAY), kSurfaceMode);

    mat_identity(&meta_sprites->object_matrix);
    meta_sprites->flags |= MESH_PROJECTIVE;
    camera_object_matrices(&camera, &meta_sprites->object_matrix, &screen, &normal);
    mesh_transform(meta_sprites, &screen, &normal, 0);
    meta_sprites->texture = texture_get(TEXTURE_PARTICLE);
    mesh_draw(meta_sprites, &camera, kGlowMode, MESH_CLIP_PROJECTED);
    meta_sprites->flags &= ~MESH_PROJECTIVE;
}
