// The per-mesh path of a 3D scene, as triangles per second: matrices, transform, light and draw of a
// 4,900-triangle sphere that covers about a quarter of the screen, plus the same work without the
// drawing to show how much of it is the pipeline rather than the fillers.
#include <benchmark/benchmark.h>

#include <cmath>

#include "gfx/display.h"
#include "gfx/image.h"
#include "render3d/mesh.h"

namespace {

constexpr int kRings = 50, kSegments = 50;

Mesh* bench_sphere(void) {
    static Mesh* mesh = nullptr;
    if (mesh) return mesh;
    int verts = (kRings + 1) * (kSegments + 1);
    int tris = 2 * kRings * kSegments - 2 * kSegments;  // the poles have one triangle per segment
    mesh = mesh_create(verts, tris);
    for (int r = 0; r <= kRings; r++) {
        float a = (float)M_PI * r / kRings;
        for (int s = 0; s <= kSegments; s++) {
            float b = 2.0f * (float)M_PI * s / kSegments;
            MeshVertex* v = &mesh->vertices[r * (kSegments + 1) + s];
            v->px = std::sin(a) * std::cos(b);
            v->py = std::cos(a);
            v->pz = std::sin(a) * std::sin(b);
            v->u = 4.0f * s / kSegments;
            v->v = 2.0f * r / kRings;
        }
    }
    int t = 0;
    for (int r = 0; r < kRings; r++) {
        for (int s = 0; s < kSegments; s++) {
            int i0 = r * (kSegments + 1) + s, i1 = i0 + 1, i2 = i0 + kSegments + 1, i3 = i2 + 1;
            if (r != 0) mesh->triangles[t++] = MeshTriangle{i0, i1, i2, {}, 0, {}, 0xFFE0C0A0u, 0, 1};
            if (r != kRings - 1) mesh->triangles[t++] = MeshTriangle{i1, i3, i2, {}, 0, {}, 0xFFE0C0A0u, 0, 1};
        }
    }
    mesh_compute_normals(mesh);
    Image* texture = image_new(256, 256);
    for (int i = 0; i < 256 * 256; i++) texture->pixels[i] = 0xFF000000u | (uint32_t)(i * 2654435761u >> 8);
    mesh->texture = texture;
    return mesh;
}

Camera bench_camera(void) {
    Camera c = {};
    c.eye = Vec3{0, 0, -3.7f};
    camera_set_screen(&c, 1, 96);
    return c;
}

enum { DRAW_NONE, DRAW_DIRECT, DRAW_CLIPPED, DRAW_NEAR };

void run(benchmark::State& state, RenderMode mode, int light_model, int draw) {
    if (!framebuffer.pixels) display_open_offscreen(1);
    Mesh* mesh = bench_sphere();
    Camera cam = bench_camera();
    Vec3 light = {0.2f, 0.5f, 1.0f};
    vec3_normalize(&light, &light);
    float angle = 0;
    for (auto _ : state) {
        frame_begin();
        mat_rotate_euler(&mesh->object_matrix, angle, 0.3f, 0);
        angle += 0.01f;
        Matrix screen, model_view;
        camera_object_matrices(&cam, &mesh->object_matrix, &screen, &mesh->normal_matrix, &model_view);
        mesh_transform(mesh, &model_view, &mesh->normal_matrix,
                       light_model == MESH_LIGHT_FLAT ? MESH_PART_FACES : MESH_PART_NORMALS);
        mesh_light(mesh, &light, light_model);
        if (draw == DRAW_DIRECT) mesh_draw(mesh, &cam, mode, MESH_CLIP_NONE);
        if (draw == DRAW_CLIPPED) mesh_draw_clipped(mesh, &cam, mode);
        if (draw == DRAW_NEAR) mesh_draw(mesh, &cam, mode, MESH_CLIP_NEAR);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * mesh->triangle_count);
    // Share of the screen the last frame covered, read from the depth it wrote.
    int covered = 0;
    for (int i = 0; i < SCREEN_WIDTH * SCREEN_HEIGHT; i++) covered += depth_buffer->values[i] != 0x7FFFFFFF;
    state.counters["screen_share"] = (double)covered / (SCREEN_WIDTH * SCREEN_HEIGHT);
}

void BM_mesh_0015_flat(benchmark::State& s) { run(s, 0x0015, MESH_LIGHT_FLAT, DRAW_DIRECT); }
void BM_mesh_0096_gouraud(benchmark::State& s) { run(s, 0x0096, MESH_LIGHT_GOURAUD, DRAW_DIRECT); }
void BM_mesh_0015_flat_clipped(benchmark::State& s) { run(s, 0x0015, MESH_LIGHT_FLAT, DRAW_CLIPPED); }
void BM_mesh_0096_gouraud_clipped(benchmark::State& s) {
    run(s, 0x0096, MESH_LIGHT_GOURAUD, DRAW_CLIPPED);
}
void BM_mesh_0015_flat_near(benchmark::State& s) { run(s, 0x0015, MESH_LIGHT_FLAT, DRAW_NEAR); }
void BM_mesh_transform_light_flat(benchmark::State& s) { run(s, 0, MESH_LIGHT_FLAT, DRAW_NONE); }
void BM_mesh_transform_light_gouraud(benchmark::State& s) {
    run(s, 0, MESH_LIGHT_GOURAUD, DRAW_NONE);
}

}  // namespace

BENCHMARK(BM_mesh_0015_flat);
BENCHMARK(BM_mesh_0096_gouraud);
BENCHMARK(BM_mesh_0015_flat_clipped);
BENCHMARK(BM_mesh_0096_gouraud_clipped);
BENCHMARK(BM_mesh_0015_flat_near);
BENCHMARK(BM_mesh_transform_light_flat);
BENCHMARK(BM_mesh_transform_light_gouraud);
BENCHMARK_MAIN();
