// The ray-cast sphere grid of the opening beats, drawn additively over the title images.
#include "scenes/scene_math.h"
#include "scenes/sphere_grid.h"

#include <cmath>
#include <cstdlib>

#include "runtime/clock.h"
#include "scenes/scenes.h"

static ScreenGrid* sphere_grid;

ScreenGrid* grid_create(int32_t columns, int32_t rows, int32_t cell_width, int32_t cell_height) {
    if (columns <= 0 || rows <= 0 || cell_width <= 0 || cell_height <= 0) return nullptr;
    // Corner counts beyond any screen would only overflow the size arithmetic.
    if (columns > 65535 || rows > 65535) return nullptr;
    int64_t count = (int64_t)(columns + 1) * (rows + 1);
    if (count > (1 << 24)) return nullptr;
    ScreenGrid* grid =
        (ScreenGrid*)std::malloc(sizeof(ScreenGrid) + (size_t)count * sizeof(MeshVertex));
    if (!grid) return nullptr;
    grid->columns = columns;
    grid->rows = rows;
    grid->cell_width = cell_width;
    grid->cell_height = cell_height;
    grid->grid_vertex_count = (int32_t)count;
    grid->grid_vertices = (MeshVertex*)(grid + 1);
    grid->grid_texture = nullptr;
    for (int32_t i = 0; i <= rows; i++) {
        for (int32_t j = 0; j <= columns; j++) {
            MeshVertex* v = &grid->grid_vertices[i * (columns + 1) + j];
            *v = MeshVertex{};
            v->sx = (float)(j * cell_width);
            v->sy = (float)(i * cell_height);
            v->sz = 1.0f;
            v->rhw = 1.0f;
            v->u = (float)j / (float)cell_width;
            v->v = (float)i / (float)cell_height;
            v->colour = 0xFFFFFFFFu;
        }
    }
    return grid;
}

void grid_free(ScreenGrid* grid) { std::free(grid); }

void grid_reset(ScreenGrid* grid) {
    if (!grid) return;
    for (int32_t i = 0; i <= grid->rows; i++) {
        for (int32_t j = 0; j <= grid->columns; j++) {
            MeshVertex* v = &grid->grid_vertices[i * (grid->columns + 1) + j];
            v->sx = (float)(j * grid->cell_width);
            v->sy = (float)(i * grid->cell_height);
            v->u = (float)j / (float)grid->columns;
            v->v = (float)i / (float)grid->rows;
            v->colour = 0xFFFFFFFFu;
        }
    }
}

void rotate_xyz(Vec3* v, const Vec3* angles) {
    float c = std::cos(angles->x), s = std::sin(angles->x);
    float x = v->x * c - v->z * s;
    float z = v->x * s + v->z * c;
    c = std::cos(angles->y);
    s = std::sin(angles->y);
    float y = v->y * c - z * s;
    z = v->y * s + z * c;
    c = std::cos(angles->z);
    s = std::sin(angles->z);
    v->x = x * c - y * s;
    v->y = x * s + y * c;
    v->z = z;
}

void grid_trace_sphere(ScreenGrid* grid, const Vec3* origin, const Vec3* angles, float radius,
                       float focal_length) {
    if (!grid) return;
    const Vec3 light = {0.0f, 0.0f, 1.0f};
    const float q = vec3_dot(origin, origin) - radius * radius;
    const float cx = (float)((grid->columns / 2) * grid->cell_width);
    const float cy = (float)((grid->rows / 2) * grid->cell_height);
    for (int32_t k = 0; k < grid->grid_vertex_count; k++) {
        MeshVertex* vx = &grid->grid_vertices[k];
        Vec3 d = {(vx->sx - cx) / focal_length, (vx->sy - cy) / focal_length - 0.4f, 0.7f};
        rotate_xyz(&d, angles);
        vec3_normalize(&d, &d);
        float a = vec3_dot(&d, &d);
        float b = 2.0f * vec3_dot(origin, &d);
        float disc = b * b - 4.0f * a * q;
        // The far root is the wall seen from inside. From inside every ray has it ahead; from
        // outside a ray may miss, or have both roots behind it (the near root is never ahead when
        // the far one is not), and a zero focal length gives no direction: such corners stay black.
        float t = -1.0f;
        if (a > 0.0f && disc >= 0.0f) t = (-b + std::sqrt(disc)) / (2.0f * a);
        if (!(t > 0.0f) || !std::isfinite(t)) {
            vx->u = 0.0f;
            vx->v = 0.0f;
            vx->colour = 0;
            continue;
        }
        Vec3 p;
        vec3_scale_add(&d, t, origin, &p);
        vx->u = 2.0f * std::atan2(p.z, p.x) / kPi;
        vx->v = -2.0f * std::atan2(p.z, p.y) / kPi;
        float s = std::fabs(vec3_dot(&light, &d));
        if (s < 0.1f) s = 0.1f;
        float g = std::floor(s * s * s * s * 255.0f);
        uint32_t grey = g >= 255.0f ? 255u : (uint32_t)(int32_t)g;
        vx->colour = grey * 0x01010101u;
    }
}

void grid_draw(const ScreenGrid* grid, RenderMode mode) {
    if (!grid) return;
    const int32_t stride = grid->columns + 1;
    RasterTriangle cell[2];
    cell[0].colour = cell[1].colour = 0xFFFFFFFFu;
    cell[0].flags = cell[1].flags = DOUBLE_SIDED;
    for (int32_t i = 0; i < grid->rows; i++) {
        for (int32_t j = 0; j < grid->columns; j++) {
            const MeshVertex* top = &grid->grid_vertices[i * stride + j];
            const MeshVertex* bottom = top + stride;
            cell[0].vert0 = top;
            cell[0].vert1 = bottom + 1;
            cell[0].vert2 = bottom;
            cell[1].vert0 = top;
            cell[1].vert1 = top + 1;
            cell[1].vert2 = bottom + 1;
            triangles_draw(cell, 2, grid->grid_texture, mode);
        }
    }
}

void sphere_grid_view(float beat, Vec3* origin, Vec3* angles) {
    const float half_pi = kPi / 2.0f;
    origin->x = std::sin(0.15f * beat + 0.39f) * 512.0f / 3.0f;
    origin->y = std::sin(0.37f * beat + 0.78f) * 512.0f / 3.0f;
    origin->z = 512.0f / 2.0f;
    angles->x = std::sin(0.2f * beat) * half_pi;
    angles->y = std::sin(0.1f * beat + 0.39f) * half_pi;
    angles->z = 0.0f;
}

const ScreenGrid* sphere_grid_current(void) { return sphere_grid; }

int scene_sphere_grid_init(void) {
    grid_free(sphere_grid);
    sphere_grid = grid_create(40, 32, 16, 15);
    return sphere_grid ? 0 : 1;
}

void scene_sphere_grid_free(void) {
    grid_free(sphere_grid);
    sphere_grid = nullptr;
}

void scene_sphere_grid_render(float) {
    if (!sphere_grid) return;
    Vec3 origin, angles;
    sphere_grid_view(clock_beat(), &origin, &angles);
    grid_reset(sphere_grid);
    sphere_grid->grid_texture = texture_get(TEXTURE_CIRCLE_PARTICLE);
    grid_trace_sphere(sphere_grid, &origin, &angles, 512.0f, 180.0f);
    grid_draw(sphere_grid, RENDER_ADD | RENDER_TEXTURE | RENDER_GOURAUD);
}
