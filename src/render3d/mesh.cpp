// Mesh records, their projection, back-face test and the three drawing paths.
#include "render3d/mesh.h"

#include <climits>
#include <cmath>
#include <cstddef>
#include <cstdlib>
#include <cstring>

#include "gfx/display.h"
#include "gfx/draw_queue.h"
#include "render3d/clip.h"
#include "render3d/mesh_lanes.h"

// The saved copy keeps its record count in a small header just before the records.
struct SavedHeader {
    int64_t count;
    int64_t pad;  // keeps the records 16-byte aligned
};

static MeshVertex* saved_alloc(int32_t count) {
    SavedHeader* h = (SavedHeader*)std::malloc(sizeof(SavedHeader) + (size_t)count * sizeof(MeshVertex));
    if (!h) return nullptr;
    h->count = count;
    return (MeshVertex*)(h + 1);
}

static int32_t saved_count(const MeshVertex* saved) { return (int32_t)((const SavedHeader*)saved - 1)->count; }

static void saved_release(MeshVertex* saved) {
    if (saved) std::free((SavedHeader*)saved - 1);
}

Mesh* mesh_create(int32_t vertex_capacity, int32_t triangle_count) {
    if (vertex_capacity <= 0 || triangle_count <= 0) return nullptr;
    // Header, vertices, normals and triangles in one block, each part aligned for its record.
    size_t head = (sizeof(Mesh) + 15) & ~(size_t)15;
    size_t verts = (size_t)vertex_capacity * sizeof(MeshVertex);
    size_t norms = (size_t)vertex_capacity * sizeof(VertexNormal);
    size_t tris = (size_t)triangle_count * sizeof(MeshTriangle);
    size_t bytes = head + verts + norms + tris;
    char* block = (char*)std::calloc(1, bytes);
    if (!block) return nullptr;
    // calloc's fresh pages are mapped only when first written, and a batch fills over the show: a
    // write per page now keeps memory from growing mid-show.
    for (size_t at = 0; at < bytes; at += 4096) ((volatile char*)block)[at] = 0;
    ((volatile char*)block)[bytes - 1] = 0;  // the last page, when the block starts mid-page
    Mesh* mesh = (Mesh*)block;
    mesh->vertices = (MeshVertex*)(block + head);
    mesh->normals = (VertexNormal*)(block + head + verts);
    mesh->triangles = (MeshTriangle*)(block + head + verts + norms);
    mesh->vertex_count = vertex_capacity;
    mesh->triangle_count = triangle_count;
    return mesh;
}

void mesh_free(Mesh* mesh) {
    if (!mesh) return;
    saved_release(mesh->saved_vertices);
    std::free(mesh->tangents);
    std::free(mesh);
}

int mesh_save_vertices(Mesh* mesh) {
    int32_t count = mesh->vertex_count;
    if (!mesh->saved_vertices || saved_count(mesh->saved_vertices) < count) {
        // The copy grows with vertex_count so that a later save or restore never overruns it.
        MeshVertex* copy = saved_alloc(count);
        if (!copy) return 1;
        saved_release(mesh->saved_vertices);
        mesh->saved_vertices = copy;
    }
    std::memcpy(mesh->saved_vertices, mesh->vertices, (size_t)count * sizeof(MeshVertex));
    return 0;
}

void mesh_restore_vertices(Mesh* mesh) {
    if (!mesh->saved_vertices) return;
    int32_t count = saved_count(mesh->saved_vertices);
    if (count > mesh->vertex_count) count = mesh->vertex_count;
    std::memcpy(mesh->vertices, mesh->saved_vertices, (size_t)count * sizeof(MeshVertex));
}

void mesh_planar_uv(Mesh* mesh, const float plane_u[4], const float plane_v[4]) {
    for (int32_t i = 0; i < mesh->vertex_count; i++) {
        MeshVertex* v = &mesh->vertices[i];
        v->u = plane_u[0] * v->px + plane_u[1] * v->py + plane_u[2] * v->pz + plane_u[3];
        v->v = plane_v[0] * v->px + plane_v[1] * v->py + plane_v[2] * v->pz + plane_v[3];
    }
}

void mesh_env_uv(Mesh* mesh) {
    for (int32_t i = 0; i < mesh->vertex_count; i++) {
        const Vec3* n = &mesh->normals[i].world_normal;
        mesh->vertices[i].env_u = (n->x + 1.0f) * 0.5f;
        mesh->vertices[i].env_v = (1.0f - n->y) * 0.5f;
    }
}

void vertices_project(const Matrix* matrix, MeshVertex* vertices, int32_t count) {
#if MESH_LANES
    if (mesh_lanes_on()) {
        const MatrixLanes lanes = matrix_lanes(matrix);
        for (int32_t i = 0; i < count; i++) {
            MeshVertex* v = &vertices[i];
            lanes_vertex_project(&lanes, v->sx, v->sy, v->sz, v);
        }
        return;
    }
#endif
    const float* m = matrix->m;
    for (int32_t i = 0; i < count; i++) {
        MeshVertex* v = &vertices[i];
        vertex_project(m, v->sx, v->sy, v->sz, v);
    }
}

int triangle_is_backfacing(const MeshVertex* a, const MeshVertex* b, const MeshVertex* c) {
    float cross = (a->sx - b->sx) * (c->sy - b->sy) - (c->sx - b->sx) * (a->sy - b->sy);
    // Written as "not front-facing" so that a non-finite area (a vertex at infinity) is culled too.
    return !(cross < 0.0f);
}

SetupCorner setup_corner_make(const MeshVertex* v) {
    SetupCorner f = {0, 0, 0.0f, 0.0f, 0};
    if (!(std::fabs(v->sx) <= kSetupJudgedReach && std::fabs(v->sy) <= kSetupJudgedReach)) return f;
    f.x = (int32_t)((double)v->sx * 32.0);
    f.y = (int32_t)((double)v->sy * 32.0);
    f.sx = v->sx;
    f.sy = v->sy;
    f.judged = 1;
    return f;
}

// Set-up's edge constant from a to b, fill rule included.
static int64_t corner_edge_constant(const SetupCorner* a, const SetupCorner* b) {
    const int64_t ax = a->x, ay = a->y, bx = b->x, by = b->y;
    int64_t constant = -((ax + bx) * (ay - by) + (ay + by) * (bx - ax));
    // Right-hand edges (ya < yb) and a horizontal top edge leave their own pixels out.
    if (ay < by || (ay == by && bx > ax)) constant -= 1;
    return constant;
}

int setup_corners_box_refused(const SetupCorner* a, const SetupCorner* b, const SetupCorner* c) {
    const SetupCorner* const v[3] = {a, b, c};
    const int xp = (b->x >= a->x) | (c->x >= b->x) << 1 | (a->x >= c->x) << 2;
    const int yp = (a->y >= b->y) | (b->y >= c->y) << 1 | (c->y >= a->y) << 2;
    if (xp == 0 || xp == 7 || yp == 0 || yp == 7) return 1;
    RasterBox box;
    return !raster_screen_box(v[raster_box_corners[xp][0]]->sx, v[raster_box_corners[xp][1]]->sx,
                              v[raster_box_corners[yp][1]]->sy, v[raster_box_corners[yp][0]]->sy, &box);
}

int setup_corners_refused_exact(const SetupCorner* a, const SetupCorner* b, const SetupCorner* c, uint32_t flags) {
    if (!(a->judged && b->judged && c->judged)) return 0;
    const int64_t area = corner_edge_constant(a, b) + corner_edge_constant(b, c) + corner_edge_constant(c, a);
    if (area > -16 && area <= 0) return 1;
    if (area < 0 && !(flags & DOUBLE_SIDED)) return 1;
    return setup_corners_box_refused(a, b, c);
}

static int setup_refuses(const MeshVertex* a, const MeshVertex* b, const MeshVertex* c, uint32_t flags) {
    const SetupCorner fa = setup_corner_make(a), fb = setup_corner_make(b), fc = setup_corner_make(c);
    return setup_corners_refused(&fa, &fb, &fc, flags);
}

static int triangle_inside_near(const MeshVertex* a, const MeshVertex* b, const MeshVertex* c) {
    return clip_inside_near(a) && clip_inside_near(b) && clip_inside_near(c);
}

// A triangle that no plane cuts leaves each clipping walk with its first vertex moved to the end, so
// the walks are skipped by copying it in the order they would have produced.
static void triangle_copy_turned(MeshVertex* out, const MeshVertex* a, const MeshVertex* b,
                                 const MeshVertex* c, int turns) {
    const MeshVertex* corner[3] = {a, b, c};
    for (int k = 0; k < 3; k++) out[k] = *corner[(k + turns) % 3];
}

// A vertex's screen fields (sx, sy, sz, rhw) as projection makes them, with its fixed-point corner.
// Each mesh_draw call projects the first MESH_CORNER_CACHE vertices of its mesh here once, however
// many triangles share them; later vertices are projected per triangle.
struct ProjectedCorner {
    float screen[4];
    SetupCorner fixed;
};
static_assert(offsetof(SetupCorner, sy) == 3 * sizeof(float), "x, y, sx and sy lead a corner, in this order");
enum { MESH_CORNER_CACHE = 64 };
static ProjectedCorner mesh_corner_cache[MESH_CORNER_CACHE];

static void corner_project(const Matrix* screen, const MeshVertex* v, ProjectedCorner* p) {
    MeshVertex out;
    vertex_project(screen->m, v->sx, v->sy, v->sz, &out);
    std::memcpy(p->screen, &out.sx, sizeof p->screen);
    p->fixed = setup_corner_make(&out);
}

#if MESH_LANES
// The screen matrix's sixteen elements, each in every lane, made once per mesh_draw call.
struct ScreenLanes {
    __m128 m[16];
};

static ScreenLanes screen_lanes(const Matrix* screen) {
    ScreenLanes s;
    for (int k = 0; k < 16; k++) s.m[k] = _mm_set1_ps(screen->m[k]);
    return s;
}

// corner_project for four vertices, one per lane; every lane does the scalar steps. sx * 32 is exact
// in single precision and, within the judged reach, fits 32 bits, so its truncation is the one made
// from the double.
static void corners_project_lanes(const ScreenLanes& m, const MeshVertex* v, ProjectedCorner* p) {
    const __m128 x = _mm_setr_ps(v[0].sx, v[1].sx, v[2].sx, v[3].sx);
    const __m128 y = _mm_setr_ps(v[0].sy, v[1].sy, v[2].sy, v[3].sy);
    const __m128 z = _mm_setr_ps(v[0].sz, v[1].sz, v[2].sz, v[3].sz);
    auto column = [&](int c) {
        __m128 s = _mm_add_ps(_mm_mul_ps(x, m.m[c]), _mm_mul_ps(y, m.m[4 + c]));
        return _mm_add_ps(_mm_add_ps(s, _mm_mul_ps(z, m.m[8 + c])), m.m[12 + c]);
    };
    const __m128 one = _mm_set1_ps(1.0f);
    const __m128 w = column(3);
    const __m128 w_zero = _mm_cmpeq_ps(w, _mm_setzero_ps());
    const __m128 t = _mm_or_ps(_mm_and_ps(w_zero, one), _mm_andnot_ps(w_zero, _mm_div_ps(one, w)));
    __m128 sx = _mm_mul_ps(column(0), t), sy = _mm_mul_ps(column(1), t), sz = _mm_mul_ps(column(2), t);
    const __m128 sign = _mm_set1_ps(-0.0f), limit = _mm_set1_ps(kSetupJudgedReach);
    const int judged = _mm_movemask_ps(_mm_and_ps(_mm_cmple_ps(_mm_andnot_ps(sign, sx), limit),
                                                  _mm_cmple_ps(_mm_andnot_ps(sign, sy), limit)));
    // Each corner's x, y, sx and sy, one group per corner (the fixed-point pair as its bits).
    __m128 fx = _mm_castsi128_ps(_mm_cvttps_epi32(_mm_mul_ps(sx, _mm_set1_ps(32.0f))));
    __m128 fy = _mm_castsi128_ps(_mm_cvttps_epi32(_mm_mul_ps(sy, _mm_set1_ps(32.0f))));
    __m128 cx = sx, cy = sy;
    _MM_TRANSPOSE4_PS(fx, fy, cx, cy);
    const __m128 fixed[4] = {fx, fy, cx, cy};
    __m128 rhw = t;
    _MM_TRANSPOSE4_PS(sx, sy, sz, rhw);
    const __m128 screen_fields[4] = {sx, sy, sz, rhw};
    for (int k = 0; k < 4; k++) {
        _mm_storeu_ps(p[k].screen, screen_fields[k]);
        _mm_storeu_ps((float*)&p[k].fixed, fixed[k]);
        p[k].fixed.judged = (judged >> k) & 1;
    }
}
#endif

// The mesh vertex with its projected screen fields.
static void corner_copy(MeshVertex* out, const MeshVertex* v, const ProjectedCorner* p) {
    *out = *v;
    std::memcpy(&out->sx, p->screen, sizeof p->screen);
}

// Uncut triangles of one mesh_draw call wait here in drawing order and go to the rasterizer
// together; anything drawn otherwise sends them first.
enum { MESH_DRAW_BATCH = 64 };
static MeshVertex mesh_batch_vertices[3 * MESH_DRAW_BATCH];
static RasterTriangle mesh_batch[MESH_DRAW_BATCH];
static int32_t mesh_batched = 0;

static void mesh_batch_flush(const Texture* texture, RenderMode mode) {
    if (mesh_batched) triangles_draw(mesh_batch, mesh_batched, texture, mode);
    mesh_batched = 0;
}

// 1 when every stored depth in columns x0..x1 of rows y0..y1 (a box on the buffer) is at most limit.
static int depth_box_within(const DepthBuffer* depth, int x0, int x1, int y0, int y1, int32_t limit) {
    const int n = x1 - x0 + 1;
#if MESH_LANES
    if (n >= 4 && mesh_lanes_on()) {
        const __m128i bound = _mm_set1_epi32(limit);
        for (int y = y0; y <= y1; y++) {
            const int32_t* row = depth->values + (size_t)y * depth->width + x0;
            // The last group overlaps the one before it rather than leaving a tail.
            __m128i beyond = _mm_cmpgt_epi32(_mm_loadu_si128((const __m128i*)(row + n - 4)), bound);
            for (int i = 0; i + 4 < n; i += 4)
                beyond = _mm_or_si128(beyond, _mm_cmpgt_epi32(_mm_loadu_si128((const __m128i*)(row + i)), bound));
            if (_mm_movemask_epi8(beyond)) return 0;
        }
        return 1;
    }
#endif
    for (int y = y0; y <= y1; y++) {
        const int32_t* row = depth->values + (size_t)y * depth->width + x0;
        for (int i = 0; i < n; i++)
            if (row[i] > limit) return 0;
    }
    return 1;
}

// floor(x) for |x| < 2^20, without a library call.
static inline int floor_small(double x) { return (int)(x + 1048576.0) - 1048576; }

static inline float least_of(float p, float q, float r) {
    const float m = p < q ? p : q;
    return m < r ? m : r;
}
static inline float most_of(float p, float q, float r) {
    const float m = p > q ? p : q;
    return m > r ? m : r;
}

int triangle_hidden_behind(const MeshVertex* a, const MeshVertex* b, const MeshVertex* c, const DepthBuffer* depth) {
    // The depths exactly as the fillers' depth plane takes them.
    const float d0 = a->sz * 16383.0f, d1 = b->sz * 16383.0f, d2 = c->sz * 16383.0f;
    const float nearest = least_of(d0, d1, d2);
    // Most triangles in view, or only partly hidden, are found at the pixel of their first corner: a
    // stored depth there beyond the nearest corner's leaves it to the plane.
    if (a->sx >= 0.0f && a->sx < (float)depth->width && a->sy >= 0.0f && a->sy < (float)depth->height &&
        (float)depth->values[(size_t)(int)a->sy * depth->width + (int)a->sx] > nearest - 1.0f)
        return 0;
    const float least_x = least_of(a->sx, b->sx, c->sx), most_x = most_of(a->sx, b->sx, c->sx);
    const float least_y = least_of(a->sy, b->sy, c->sy), most_y = most_of(a->sy, b->sy, c->sy);
    // Corners set-up does not judge, and anything not a number or infinite, are left to it.
    const float sum = a->sx + b->sx + c->sx + a->sy + b->sy + c->sy + d0 + d1 + d2;
    if (!(std::fabs(sum) < 1e30f && least_x >= -kSetupJudgedReach && most_x <= kSetupJudgedReach &&
          least_y >= -kSetupJudgedReach && most_y <= kSetupJudgedReach && nearest > -1e5f &&
          most_of(d0, d1, d2) < 1e5f))
        return 0;
    // Set-up truncates the corners to 1/32 pixel, so a covered pixel lies in these columns and rows.
    int x0 = floor_small(least_x), x1 = floor_small(most_x) + 1;
    int y0 = floor_small(least_y), y1 = floor_small(most_y) + 1;
    x0 = x0 < 0 ? 0 : x0;
    y0 = y0 < 0 ? 0 : y0;
    x1 = x1 > depth->width - 1 ? depth->width - 1 : x1;
    y1 = y1 > depth->height - 1 ? depth->height - 1 : y1;
    if (x0 > x1 || y0 > y1) return 1;  // off the buffer: no pixel to draw
    // The box's corners next, before the bound below is formed.
    const int32_t* values = depth->values;
    const size_t w = (size_t)depth->width;
    const int32_t corner_limit = floor_small(nearest) - 1;
    if (values[y0 * w + x0] > corner_limit || values[y0 * w + x1] > corner_limit ||
        values[y1 * w + x0] > corner_limit || values[y1 * w + x1] > corner_limit)
        return 0;
    const MeshVertex* const v[3] = {a, b, c};
    // The plane at a covered pixel, in 1/2048 depth units, is a weighted mean of the corner depths
    // but for: the corner weights rounded to single precision (a few units in the last place of the
    // depths), the edge fields rounded to single precision before they are weighted (at most 2^-24
    // of each field, times weights up to depth / (twice the area)), the steps' and start's
    // truncations (under one unit per pixel of the position), and the final shift's floor.
    const double ax = a->sx, ay = a->sy, bx = b->sx, by = b->sy, cx = c->sx, cy = c->sy;
    const double perimeter = std::fabs(bx - ax) + std::fabs(by - ay) + std::fabs(cx - bx) + std::fabs(cy - by) +
                             std::fabs(ax - cx) + std::fabs(ay - cy) + 1.0;
    // Set-up's corners sit within 1/32 pixel of these: its doubled area differs by less than this.
    const double area = std::fabs((bx - ax) * (cy - ay) - (cx - ax) * (by - ay)) - perimeter / 8.0;
    if (!(area > 0.5)) return 0;
    const double largest = most_of(std::fabs(d0), std::fabs(d1), std::fabs(d2));
    double reach = SCREEN_WIDTH + SCREEN_HEIGHT;
    for (const MeshVertex* p : v) {
        const double r = std::fabs(p->sx) + std::fabs(p->sy) + 1.0;
        reach = r > reach ? r : reach;
    }
    const double weight = largest / area * (1.0 + 1e-6);  // a corner's weight on one unit of an edge
    const double ulp = 1.0 / 16777216.0;
    // The walk's sums, formed modulo 2^32 from start and steps, are then the exact ones: the fields
    // stay far from the 64-bit conversions' range and the plane far from the 32-bit wrap.
    if (!(weight * 2048.0 * perimeter * 2.0 * reach < 1e18)) return 0;
    const double slack = 2048.0 * largest * 8.0 * ulp + 2.0 * weight * ulp * (2048.0 * perimeter * 2.0 * reach + 4.0) +
                         (SCREEN_WIDTH + SCREEN_HEIGHT + 1.0);
    if (!(slack < 1e8)) return 0;
    // Every covered pixel's depth is above this, so at most it in the buffer fails the depth test.
    return depth_box_within(depth, x0, x1, y0, y1, floor_small((double)nearest - 1.0 - slack / 2048.0));
}

// Clip modes 0 and 32: the mesh's own vertex records go to the rasterizer by reference, a batch at
// a time, so the filler is chosen once per batch rather than once per triangle.
static void mesh_draw_direct(Mesh* mesh, RenderMode mode, int test_visible) {
    int double_sided = (mesh->flags & MESH_DOUBLE_SIDED) != 0;
    const uint32_t flags = double_sided ? (uint32_t)DOUBLE_SIDED : 0u;
    // Depth-tested modes that leave the depth buffer alone (the glows round the bump sphere) may skip
    // triangles already hidden there; deferred drawing has not filled the buffer yet.
    const DepthBuffer* hidden_by =
        (mode & RENDER_DEPTH) && (mode & (RENDER_ADD | RENDER_ALPHA)) && !(mode & RENDER_SHADOW) &&
                !draw_queue_active && depth_buffer
            ? depth_buffer
            : nullptr;
    for (int32_t i = 0; i < mesh->triangle_count; i++) {
        const MeshTriangle* tri = &mesh->triangles[i];
        if (test_visible && !tri->visible) continue;
        const MeshVertex* a = &mesh->vertices[tri->vertex_a];
        const MeshVertex* b = &mesh->vertices[tri->vertex_b];
        const MeshVertex* c = &mesh->vertices[tri->vertex_c];
        if (!double_sided && triangle_is_backfacing(a, b, c)) continue;
        if (hidden_by && triangle_hidden_behind(a, b, c, hidden_by)) continue;
        if (mesh_batched == MESH_DRAW_BATCH) mesh_batch_flush(mesh->texture, mode);
        RasterTriangle* t = &mesh_batch[mesh_batched++];
        t->vert0 = a;
        t->vert1 = b;
        t->vert2 = c;
        t->colour = tri->lit_colour;
        t->flags = flags;
    }
    mesh_batch_flush(mesh->texture, mode);
}

void mesh_draw(Mesh* mesh, const Camera* camera, RenderMode mode, int32_t clip_mode) {
    if (clip_mode == MESH_CLIP_NONE) {
        vertices_project(&camera->screen, mesh->vertices, mesh->vertex_count);
        mesh_draw_direct(mesh, mode, 1);
        return;
    }
    if (clip_mode == MESH_CLIP_PROJECTED) {
        mesh_draw_direct(mesh, mode, 0);
        return;
    }
    uint32_t flags = (mesh->flags & MESH_DOUBLE_SIDED) ? (uint32_t)DOUBLE_SIDED : 0u;
    const int near = (clip_mode & MESH_CLIP_NEAR) != 0;
    const Matrix* screen = &camera->screen;
    const int32_t cached = mesh->vertex_count < MESH_CORNER_CACHE ? mesh->vertex_count : MESH_CORNER_CACHE;
    int32_t k = 0;
#if MESH_LANES
    if (mesh_lanes_on() && cached >= 4) {
        const ScreenLanes lanes = screen_lanes(screen);
        for (; k + 4 <= cached; k += 4) corners_project_lanes(lanes, &mesh->vertices[k], &mesh_corner_cache[k]);
    }
#endif
    for (; k < cached; k++) corner_project(screen, &mesh->vertices[k], &mesh_corner_cache[k]);
    auto corner = [&](int32_t index, ProjectedCorner* spare) -> const ProjectedCorner* {
        if (index < cached) return &mesh_corner_cache[index];
        corner_project(screen, &mesh->vertices[index], spare);
        return spare;
    };
    for (int32_t i = 0; i < mesh->triangle_count; i++) {
        const MeshTriangle* tri = &mesh->triangles[i];
        if (!tri->visible) continue;
        const MeshVertex* a = &mesh->vertices[tri->vertex_a];
        const MeshVertex* b = &mesh->vertices[tri->vertex_b];
        const MeshVertex* c = &mesh->vertices[tri->vertex_c];
        if (!near || triangle_inside_near(a, b, c)) {
            // Uncut: the corners projected once, and the faces set-up would refuse dropped before
            // anything is copied. The walks would have turned the corners once per plane.
            ProjectedCorner spare[3];
            const ProjectedCorner* pa = corner(tri->vertex_a, &spare[0]);
            const ProjectedCorner* pb = corner(tri->vertex_b, &spare[1]);
            const ProjectedCorner* pc = corner(tri->vertex_c, &spare[2]);
            // Judged in the order set-up will see them.
            if (near ? setup_corners_refused(&pb->fixed, &pc->fixed, &pa->fixed, flags)
                     : setup_corners_refused(&pa->fixed, &pb->fixed, &pc->fixed, flags))
                continue;
            if (mesh_batched == MESH_DRAW_BATCH) mesh_batch_flush(mesh->texture, mode);
            MeshVertex* current = &mesh_batch_vertices[3 * mesh_batched];
            if (near) {
                corner_copy(&current[0], b, pb);
                corner_copy(&current[1], c, pc);
                corner_copy(&current[2], a, pa);
            } else {
                corner_copy(&current[0], a, pa);
                corner_copy(&current[1], b, pb);
                corner_copy(&current[2], c, pc);
            }
            // A fan of three corners is the one triangle (0, 1, 2).
            RasterTriangle* t = &mesh_batch[mesh_batched++];
            t->vert0 = &current[0];
            t->vert1 = &current[1];
            t->vert2 = &current[2];
            t->colour = tri->lit_colour;
            t->flags = flags;
            continue;
        }
        triangle_copy_turned(clip_buffer_a, a, b, c, 0);
        const int count = clip_polygon_near(clip_buffer_a, 3, clip_buffer_b, CLIP_BUFFER_SIZE);
        if (count < 3) continue;
        vertices_project(&camera->screen, clip_buffer_b, count);
        mesh_batch_flush(mesh->texture, mode);
        polygon_draw_fan(clip_buffer_b, count, flags, tri->lit_colour, mesh->texture, mode);
    }
    mesh_batch_flush(mesh->texture, mode);
}

// The four screen-edge clips from `in` (projected) through the spare buffer and back; returns the
// count left, or 0 when fewer than 3 vertices survive a step. The result is in `in`.
static int clip_screen_edges(MeshVertex* in, int n, MeshVertex* spare) {
    const int cap = CLIP_BUFFER_SIZE;
    if ((n = clip_polygon_left(in, n, spare, cap)) < 3) return 0;
    if ((n = clip_polygon_right(spare, n, in, cap)) < 3) return 0;
    if ((n = clip_polygon_top(in, n, spare, cap)) < 3) return 0;
    if ((n = clip_polygon_bottom(spare, n, in, cap)) < 3) return 0;
    return n;
}

void mesh_draw_clipped(Mesh* mesh, const Camera* camera, RenderMode mode) {
    uint32_t flags = (mesh->flags & MESH_DOUBLE_SIDED) ? (uint32_t)DOUBLE_SIDED : 0u;
    for (int32_t i = 0; i < mesh->triangle_count; i++) {
        const MeshTriangle* tri = &mesh->triangles[i];
        if (!tri->visible) continue;
        const MeshVertex* va = &mesh->vertices[tri->vertex_a];
        const MeshVertex* vb = &mesh->vertices[tri->vertex_b];
        const MeshVertex* vc = &mesh->vertices[tri->vertex_c];
        MeshVertex* poly = clip_buffer_a;
        MeshVertex* spare = clip_buffer_b;
        int n = 3;
        if (triangle_inside_near(va, vb, vc)) {
            // Five uncut walks (near and the four edges) turn the corners to (c, a, b).
            triangle_copy_turned(poly, va, vb, vc, 2);
            vertices_project(&camera->screen, poly, 3);
            if (clip_inside_rect(&poly[0]) && clip_inside_rect(&poly[1]) && clip_inside_rect(&poly[2])) {
                if (!setup_refuses(&poly[0], &poly[1], &poly[2], flags))
                    polygon_draw_fan(poly, 3, flags, tri->lit_colour, mesh->texture, mode);
                continue;
            }
            // Cut by an edge: the edge walks start from the near walk's order (b, c, a).
            triangle_copy_turned(spare, &poly[0], &poly[1], &poly[2], 2);
            poly = clip_buffer_b;
            spare = clip_buffer_a;
        } else {
            triangle_copy_turned(spare, va, vb, vc, 0);
            if ((n = clip_polygon_near(spare, 3, poly, CLIP_BUFFER_SIZE)) < 3) continue;
            vertices_project(&camera->screen, poly, n);
        }
        if ((n = clip_screen_edges(poly, n, spare)) < 3) continue;
        polygon_draw_fan(poly, n, flags, tri->lit_colour, mesh->texture, mode);
    }
}
