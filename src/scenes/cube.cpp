// Voxel-cube field scene: one textured cube per lattice point whose field value is high enough,
// sized by the value, drawn in large batches; the field follows the music through four generators.
#include <cmath>

#include "gfx/image.h"
#include "lwo/lwo_mesh.h"
#include "procedural/noise.h"
#include "runtime/clock.h"
#include "scenes/cube_ops.h"
#include "scenes/scene_math.h"
#include "scenes/scenes.h"

Mesh* cube_mesh = nullptr;
Mesh* cube_batch = nullptr;
FieldLattice* cube_lattice = nullptr;
float blob_paths[15][4];
int blob_paths_ready = 0;

static const int32_t CUBE_BATCH_VERTICES = 4096;
static const int32_t CUBE_BATCH_TRIANGLES = 2048;

// Per neighbour direction (-x, +x, -y, +y, -z, +z): the face's first triangle and first vertex in
// the cube mesh (its four vertices follow that one).
static const int32_t cube_face_triangle[6] = {0, 10, 2, 6, 8, 4};
static const int32_t cube_face_vertex[6] = {0, 20, 4, 12, 16, 8};

void scene_cube_free(void) {
    mesh_free(cube_mesh);
    mesh_free(cube_batch);
    lattice_free(cube_lattice);
    cube_mesh = nullptr;
    cube_batch = nullptr;
    cube_lattice = nullptr;
}

int scene_cube_init(void) {
    scene_cube_free();
    cube_mesh = mesh_from_lwo("data\\cube.lwo");
    cube_batch = mesh_create(CUBE_BATCH_VERTICES, CUBE_BATCH_TRIANGLES);
    cube_lattice = lattice_create(16);
    // The face tables index 24 vertices and 12 triangles; anything smaller would be read past.
    if (!cube_mesh || !cube_batch || !cube_lattice || cube_mesh->vertex_count < 24 ||
        cube_mesh->triangle_count < 12) {
        scene_cube_free();
        return 1;
    }
    lattice_build(cube_lattice, 128.0f);
    cube_mesh->texture = texture_get(TEXTURE_CUBE_SHADOW);
    cube_batch->flags = 0;
    cube_batch->texture = cube_mesh->texture;
    return 0;
}

uint32_t colour_scale(uint32_t colour, float x) {
    int32_t k = (int32_t)(x * 255.0f);
    uint32_t r = (((colour >> 16) & 0xFF) * 256u * (uint32_t)k) >> 16;
    uint32_t g = (((colour >> 8) & 0xFF) * 256u * (uint32_t)k) >> 16;
    uint32_t b = ((colour & 0xFF) * 256u * (uint32_t)k) >> 16;
    return (r & 0xFF) << 16 | (g & 0xFF) << 8 | (b & 0xFF);
}

Vec3 cube_eye(float beat, float t) {
    int b = (int)beat;
    float s, r;
    if (b < 64) {
        r = (std::sin(t) * 0.25f + 0.75f) * 208.0f;
        return Vec3{std::sin(t / 4.0f) * r, std::sin(t * 0.4f + 0.39f) * 128.0f,
                    std::cos(t / 4.0f) * r};
    }
    s = beat / 2.0f;
    float k = 1.0f - pow4(1.0f - frac(s));
    if (b < 80)
        s = s + k;
    else
        s = s - (beat - 80.0f) - k;
    if (beat >= 92.0f) {
        s = -0.25f * s + kPi / 2.0f;
        r = 208.0f - (beat - 92.0f) * 32.0f;
    } else {
        r = (std::fabs(std::sin(s * kPi / 2.0f)) * 0.4f + 0.6f) * 208.0f;
    }
    return Vec3{std::sin(s) * r, std::sin(s + 0.39f) * 128.0f, std::cos(s) * r};
}

// 4/d in front of a plane, nothing behind it, 1 on it.
static float slab_term(const Vec3* n, const Vec3* p) {
    float d = vec3_dot(n, p);
    if (d > 0.0f) return 4.0f / d;
    if (d < 0.0f) return 0.0f;
    return 1.0f;
}

void field_slabs(FieldLattice* lattice, float x) {
    Matrix r1, r2;
    Vec3 na, nb, nc, nd;
    const Vec3 zp{0, 0, 1}, zn{0, 0, -1}, yp{0, 1, 0}, yn{0, -1, 0};
    mat_rotate_euler(&r1, 0.3f * x, 0.2f * x + 0.41f, 0.0f);
    mat_rotate_vector(&r1, &zp, &na);
    mat_rotate_vector(&r1, &zn, &nb);
    mat_rotate_euler(&r2, 0.0f, 0.21f * x + 0.57f, 0.36f * x + 0.11f);
    mat_rotate_vector(&r2, &yp, &nc);
    mat_rotate_vector(&r2, &yn, &nd);
    vec3_normalize(&na, &na);
    vec3_normalize(&nb, &nb);
    vec3_normalize(&nc, &nc);
    vec3_normalize(&nd, &nd);
    for (int32_t i = 0; i < lattice->point_count; i++) {
        LatticePoint* p = &lattice->points[i];
        float sum = slab_term(&na, &p->position) + slab_term(&nb, &p->position) +
                    slab_term(&nc, &p->position) + slab_term(&nd, &p->position);
        p->value = pow4(sum) * 2.75f;
    }
}

void field_metaballs(FieldLattice* lattice, float x) {
    if (!blob_paths_ready) {
        for (int i = 0; i < 15; i++) {
            for (int a = 0; a < 3; a++) blob_paths[i][a] = random_signed() * 48.0f;
            blob_paths[i][3] = 48.0f;
        }
        blob_paths_ready = 1;
    }
    const float beat = clock_beat();
    const int b = clock_beat_index();
    const float f = frac(beat);
    float q = (b & 7) < 4 ? (float)b + pow4(f) : (float)b + f;
    q = q * 0.39f;
    const float k = 1.0f - pow4(f) * 0.25f;
    const float pulse = f * f + 1.0f;
    float g = x * 0.125f;
    for (int i = 0; i < 15; i++) {
        float l = (float)i / 15.0f * 3.14f + g;
        Vec3 offset{(std::sin(l) * 0.2f + 0.8f) * blob_paths[i][0] * pulse,
                    (std::sin(l + 0.39f) * 0.2f + 0.8f) * blob_paths[i][1] * pulse,
                    (std::sin(l + q) * 0.2f + 0.8f) * blob_paths[i][2] * pulse};
        Matrix m;
        mat_rotate_euler(&m, g, q + 0.9f * g, 0.2f * q + 0.3f * g);
        Vec3 centre;
        mat_transform_point(&m, &offset, &centre);
        lattice_add_blob(lattice, &centre, 2.5f, 36.0f * k);
        q += 4.77707f;
        g += 4.77707f;
    }
}

static void field_noise_common(FieldLattice* lattice, float x, int fractal) {
    const float beat = clock_beat();
    const float a = 1.0f / (128.0f - (std::sin(beat * kPi / 4.0f) * 0.5f + 0.5f) * 64.0f);
    const float xs = x * 0.125f;
    for (int32_t i = 0; i < lattice->point_count; i++) {
        LatticePoint* p = &lattice->points[i];
        float nx = p->position.x * a + 0.1f * xs;
        float ny = p->position.y * a + 0.3f * xs;
        float nz = p->position.z * a + 0.5f * xs;
        float n = fractal ? noise3_fractal(nx, ny, nz, 8.0f) : noise3(nx, ny, nz);
        float o = 1.0f - n;
        p->value = (1.0f - o * o) * 2.75f;
    }
}

void field_noise(FieldLattice* lattice, float x) { field_noise_common(lattice, x, 0); }
void field_fractal(FieldLattice* lattice, float x) { field_noise_common(lattice, x, 1); }

int32_t voxel_append_cube(Mesh* batch, const Mesh* cube, const FieldLattice* lattice,
                          const LatticePoint* point, const Vec3* view_dir) {
    float v = point->value < 1.0f ? point->value : 1.0f;
    float w = 1.0f - (1.0f - v) * (1.0f - v);
    if (w < 0.15f) return 0;
    const float brightness = 0.75f * w + 0.25f;
    const float size = w * lattice->cell_size;
    int32_t faces = 0;
    for (int f = 0; f < 6; f++) {
        const int32_t t = cube_face_triangle[f];
        if (vec3_dot(view_dir, &cube->triangles[t].normal) < 0.0f) continue;
        const LatticePoint* q = point->neighbours[f];
        if (q && point->value > 0.8f && q->value > 0.8f) continue;
        const float uv = (!q || q->value < 0.05f) ? 0.0f : 1.0f;
        const int32_t n = batch->vertex_count;
        for (int j = 0; j < 2; j++) {
            const MeshTriangle* src = &cube->triangles[t + j];
            MeshTriangle* dst = &batch->triangles[batch->triangle_count++];
            dst->normal = src->normal;
            dst->plane_d = src->plane_d;
            dst->base_colour = colour_scale(src->base_colour, brightness);
            dst->visible = 1;
            dst->vertex_a = j == 0 ? n : n + 1;
            dst->vertex_b = j == 0 ? n + 1 : n + 2;
            dst->vertex_c = n + 3;
        }
        for (int j = 0; j < 4; j++) {
            const MeshVertex* src = &cube->vertices[cube_face_vertex[f] + j];
            MeshVertex* dst = &batch->vertices[batch->vertex_count++];
            *dst = *src;
            dst->px = src->px * size + point->position.x;
            dst->py = src->py * size + point->position.y;
            dst->pz = src->pz * size + point->position.z;
            dst->u = src->u * uv;
            dst->v = src->v * uv;
        }
        faces++;
    }
    return faces;
}

static void voxel_flush(Mesh* batch, const Camera* camera, Vec3* light, RenderMode mode) {
    Matrix screen, normal_matrix;
    camera_object_matrices(camera, &batch->object_matrix, &screen, &normal_matrix);
    batch->flags |= MESH_PROJECTIVE;
    mesh_transform(batch, &screen, &normal_matrix, MESH_PART_FACES);
    mesh_light(batch, light, MESH_LIGHT_FLAT);
    mesh_draw(batch, camera, mode, MESH_CLIP_PROJECTED);
    batch->vertex_count = 0;
    batch->triangle_count = 0;
}

void voxel_draw(FieldLattice* lattice, const Mesh* cube, const Camera* camera, RenderMode mode) {
    Mesh* batch = cube_batch;
    if (!batch) return;
    batch->vertex_count = 0;
    batch->triangle_count = 0;
    batch->texture = cube->texture;
    mat_identity(&batch->object_matrix);
    Vec3 light;
    vec3_normalize(&lattice->light, &light);
    Vec3 view_dir;
    camera_view_dir_in_object(camera, &batch->object_matrix, &view_dir);
    for (int32_t i = 0; i < lattice->point_count; i++) {
        voxel_append_cube(batch, cube, lattice, &lattice->points[i], &view_dir);
        // One point adds at most 24 vertices and 12 triangles, so these limits keep room for it.
        if (batch->vertex_count > CUBE_BATCH_VERTICES - 24 ||
            batch->triangle_count > CUBE_BATCH_TRIANGLES - 12)
            voxel_flush(batch, camera, &light, mode);
    }
    if (batch->vertex_count > 2 && batch->triangle_count >= 1)
        voxel_flush(batch, camera, &light, mode);
    batch->vertex_count = 0;
    batch->triangle_count = 0;
}

int cube_generator(int b) {
    if (b < 64) return CUBE_FIELD_EASED_SLABS;
    int sel = b > 91 ? 12 : b % 16;
    return sel / 4;
}

void scene_cube_render(float t) {
    if (!cube_mesh || !cube_batch || !cube_lattice) return;
    const float beat = clock_beat();
    const int b = clock_beat_index();
    Camera camera{};
    camera.eye = cube_eye(beat, t);
    camera.target = Vec3{0.0f, 0.0f, 0.0f};
    camera_set_screen(&camera, 1.0f, 256.0f);

    lattice_set_resolution(cube_lattice, 16 - 4, 128.0f);
    lattice_scale_values(cube_lattice, 0.0f);
    Vec3 light{0.0f, 0.5f, 1.0f};
    vec3_normalize(&light, &cube_lattice->light);

    switch (cube_generator(b)) {
    case CUBE_FIELD_NOISE: field_noise(cube_lattice, beat); break;
    case CUBE_FIELD_METABALLS: field_metaballs(cube_lattice, beat); break;
    case CUBE_FIELD_FRACTAL: field_fractal(cube_lattice, beat * 0.5f + 2.0f); break;
    case CUBE_FIELD_SLABS: field_slabs(cube_lattice, beat); break;
    default: {
        float s = beat / 2.0f;
        field_slabs(cube_lattice, s + 1.0f - pow4(1.0f - frac(s)) - 8.0f);
        break;
    }
    }
    voxel_draw(cube_lattice, cube_mesh, &camera, RENDER_DEPTH | RENDER_TEXTURE | RENDER_FLAT);
}
