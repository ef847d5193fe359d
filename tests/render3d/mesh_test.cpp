// Mesh records and the drawing paths, checked through the real rasterizer on the off-screen display.
#include <gtest/gtest.h>

#include <cmath>
#include <algorithm>
#include <cstring>

#include "gfx/display.h"
#include "gfx/simd.h"
#include "render3d/clip.h"
#include "render3d/mesh.h"
#include "render3d_support.h"

namespace {

const uint32_t CLEAR = 0xFF000000u;

struct MeshDraw : ::testing::Test {
    static void SetUpTestSuite() { ASSERT_EQ(display_open_offscreen(1), 0); }
    static void TearDownTestSuite() { display_close(); }
    void SetUp() override {
        clip_set_depth(1, 96);
        clip_set_rect(0, 0, 640, 480);
        texture = image_new(64, 64);
        for (int i = 0; i < 64 * 64; i++) texture->pixels[i] = ((i ^ (i >> 6)) & 8) ? 0xFFFFFFFFu : 0xFF808080u;
        guarded_begin(&screen, CLEAR);
    }
    void TearDown() override {
        guarded_end(&screen);
        image_free(texture);
        clip_set_depth(1, 96);
        clip_set_rect(0, 0, 640, 480);
    }
    GuardedScreen screen;
    Image* texture = nullptr;
};

Camera make_camera(Vec3 eye, Vec3 target, float near_z, float fov) {
    Camera c = {};
    c.eye = eye;
    c.target = target;
    c.near = near_z;
    c.far = 96;
    c.fov = fov;
    c.viewport_w = 640;
    c.viewport_h = 480;
    camera_update(&c);
    return c;
}

// The way a scene prepares a mesh: matrices, transform, flat light.
void prepare(Mesh* m, const Camera* c, bool projective) {
    Matrix screen_m, model_view;
    camera_object_matrices(c, &m->object_matrix, &screen_m, &m->normal_matrix, &model_view);
    if (projective) m->flags |= MESH_PROJECTIVE;
    else m->flags &= ~MESH_PROJECTIVE;
    mesh_transform(m, projective ? &screen_m : &model_view, &m->normal_matrix,
                   MESH_PART_NORMALS | MESH_PART_FACES);
    Vec3 light = {0, 0, 1};
    mesh_light(m, &light, MESH_LIGHT_FLAT);
}

enum Path { PATH_DIRECT, PATH_NEAR, PATH_CLIPPED, PATH_PROJECTED, PATH_FAN };
const char* path_name(int p) {
    static const char* names[] = {"clip mode 0", "clip mode 1", "clipped", "clip mode 32",
                                  "clip mode 2"};
    return names[p];
}

void draw(Mesh* m, const Camera* c, RenderMode mode, int path) {
    prepare(m, c, path == PATH_PROJECTED);
    switch (path) {
    case PATH_DIRECT: mesh_draw(m, c, mode, MESH_CLIP_NONE); break;
    case PATH_NEAR: mesh_draw(m, c, mode, MESH_CLIP_NEAR); break;
    case PATH_CLIPPED: mesh_draw_clipped(m, c, mode); break;
    case PATH_FAN: mesh_draw(m, c, mode, 2); break;  // per-triangle copies, no near clip
    default: mesh_draw(m, c, mode, MESH_CLIP_PROJECTED); break;
    }
}

Vec3 cube_corners[8] = {{-1, -1, -1}, {1, -1, -1}, {-1, 1, -1}, {1, 1, -1},
                        {-1, -1, 1},  {1, -1, 1},  {-1, 1, 1},  {1, 1, 1}};

// A repeatable stream of floats in [lo, hi), from a linear congruential generator.
struct Uniform {
    unsigned s;
    float operator()(float lo, float hi) {
        s = s * 1664525u + 1013904223u;
        return lo + (hi - lo) * (float)(s >> 8) / 16777216.0f;
    }
};

}  // namespace

TEST(MeshRecord, CreateRefusesEmptyCountsAndStartsZeroed) {
    EXPECT_EQ(mesh_create(0, 5), nullptr);
    EXPECT_EQ(mesh_create(5, 0), nullptr);
    EXPECT_EQ(mesh_create(-3, 5), nullptr);
    mesh_free(nullptr);
    Mesh* m = mesh_create(7, 3);
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(m->vertex_count, 7);
    EXPECT_EQ(m->triangle_count, 3);
    EXPECT_EQ(m->flags, 0);
    EXPECT_EQ(m->saved_vertices, nullptr);
    EXPECT_EQ(m->tangents, nullptr);
    EXPECT_EQ(m->texture, nullptr);
    EXPECT_EQ(m->object_matrix.m[0], 0.0f);  // zero, not identity
    // The arrays are distinct and writable end to end.
    std::memset(m->vertices, 0xAB, 7 * sizeof(MeshVertex));
    std::memset(m->normals, 0xCD, 7 * sizeof(VertexNormal));
    std::memset(m->triangles, 0xEF, 3 * sizeof(MeshTriangle));
    EXPECT_EQ(((uint8_t*)m->vertices)[7 * sizeof(MeshVertex) - 1], 0xAB);
    EXPECT_EQ(((uint8_t*)m->normals)[0], 0xCD);
    mesh_free(m);
}

TEST(MeshRecord, SaveAndRestoreVertices) {
    Mesh* m = mesh_create(4, 1);
    m->vertices[2].px = 5;
    mesh_restore_vertices(m);  // never saved: unchanged
    EXPECT_EQ(m->vertices[2].px, 5.0f);
    ASSERT_EQ(mesh_save_vertices(m), 0);
    m->vertices[2].px = 9;
    mesh_restore_vertices(m);
    EXPECT_EQ(m->vertices[2].px, 5.0f);
    m->vertices[2].px = 11;
    ASSERT_EQ(mesh_save_vertices(m), 0);  // reuses the copy
    m->vertices[2].px = 0;
    mesh_restore_vertices(m);
    EXPECT_EQ(m->vertices[2].px, 11.0f);
    // vertex_count growing into spare capacity after a save: the copy grows with it.
    Mesh* g = mesh_create(8, 1);
    g->vertex_count = 2;
    ASSERT_EQ(mesh_save_vertices(g), 0);
    g->vertex_count = 8;
    g->vertices[7].py = 3;
    mesh_restore_vertices(g);  // only the two saved records come back
    EXPECT_EQ(g->vertices[7].py, 3.0f);
    ASSERT_EQ(mesh_save_vertices(g), 0);
    g->vertices[7].py = 0;
    mesh_restore_vertices(g);
    EXPECT_EQ(g->vertices[7].py, 3.0f);
    mesh_free(g);
    mesh_free(m);
}

TEST(MeshRecord, PlanarAndEnvironmentCoordinates) {
    Mesh* m = mesh_create(2, 1);
    m->vertices[1].px = 2, m->vertices[1].py = 3, m->vertices[1].pz = 4;
    const float pu[4] = {0.5f, 0, 0, 0.25f}, pv[4] = {0, 1, -1, 2};
    mesh_planar_uv(m, pu, pv);
    EXPECT_EQ(m->vertices[1].u, 1.25f);
    EXPECT_EQ(m->vertices[1].v, 1.0f);
    m->normals[0].world_normal = Vec3{1, 1, 0};
    m->normals[1].world_normal = Vec3{-1, -1, 0};
    mesh_env_uv(m);
    EXPECT_EQ(m->vertices[0].env_u, 1.0f);
    EXPECT_EQ(m->vertices[0].env_v, 0.0f);
    EXPECT_EQ(m->vertices[1].env_u, 0.0f);
    EXPECT_EQ(m->vertices[1].env_v, 1.0f);
    mesh_free(m);
}

TEST(Projection, DividesByWAndTreatsZeroWAsOne) {
    Matrix m;
    mat_identity(&m);
    m.m[11] = -1;  // w = -z
    m.m[15] = 0;
    MeshVertex v[2] = {};
    v[0].sx = 4, v[0].sy = 2, v[0].sz = -2;
    v[1].sx = 3, v[1].sy = 1, v[1].sz = 0;
    vertices_project(&m, v, 2);
    EXPECT_EQ(v[0].sx, 2.0f);
    EXPECT_EQ(v[0].sz, -1.0f);
    EXPECT_EQ(v[0].rhw, 0.5f);
    EXPECT_EQ(v[1].sx, 3.0f);
    EXPECT_EQ(v[1].rhw, 1.0f);
}

TEST(Projection, BackFacesAreCounterClockwiseCollinearOrNonFinite) {
    MeshVertex a = {}, b = {}, c = {};
    a.sx = 0, a.sy = 0;
    b.sx = 10, b.sy = 0;
    c.sx = 0, c.sy = 10;  // clockwise on a y-down screen
    EXPECT_EQ(triangle_is_backfacing(&a, &b, &c), 0);
    EXPECT_EQ(triangle_is_backfacing(&a, &c, &b), 1);
    c.sx = 20, c.sy = 0;  // collinear
    EXPECT_EQ(triangle_is_backfacing(&a, &b, &c), 1);
    c.sx = INFINITY, c.sy = 10;
    EXPECT_EQ(triangle_is_backfacing(&a, &b, &c), 1);
    c.sx = NAN;
    EXPECT_EQ(triangle_is_backfacing(&a, &b, &c), 1);
}

TEST_F(MeshDraw, CubeCoversThePredictedSilhouetteOnEveryPath) {
    Mesh* cube = test_cube();
    cube->texture = texture;
    Matrix turn;
    mat_rotate_euler(&turn, 0.6f, 0.4f, 0.1f);
    Camera cam = make_camera(Vec3{0.5f, 1.0f, -6}, Vec3{0, 0, 0}, 1, 45);
    std::vector<uint8_t> ref = reference_silhouette(&cam, &turn, cube_corners, 8, 1.5);
    const RenderMode modes[2] = {0x0011, 0x0015};
    for (RenderMode mode : modes) {
        for (int path = 0; path < 5; path++) {
            cube->object_matrix = turn;
            guarded_clear(&screen, CLEAR);
            draw(cube, &cam, mode, path);
            const uint32_t* px = guarded_pixels(&screen);
            int wrong = 0, covered = 0;
            for (int i = 0; i < 640 * 480; i++) {
                bool drawn = px[i] != CLEAR;
                covered += drawn;
                if (ref[i] != 2 && drawn != (ref[i] == 1)) wrong++;
            }
            EXPECT_EQ(wrong, 0) << path_name(path) << " mode " << mode;
            EXPECT_GT(covered, 5000) << path_name(path);
            ASSERT_TRUE(guarded_intact(&screen));
            char name[64];
            std::snprintf(name, sizeof name, "cube_%04x_path%d.png", mode, path);
            test_save_png(name, px, 640, 480, 640);
        }
    }
    mesh_free(cube);
}

TEST_F(MeshDraw, NearestFaceIsTheOneSeen) {
    // Faces at +-Z: with the look-at form the eye at -Z sees the face at +Z (view z nearer 0).
    Mesh* cube = test_cube();
    mat_identity(&cube->object_matrix);
    Camera cam = make_camera(Vec3{0, 0, -6}, Vec3{0, 0, 0}, 1, 45);
    for (int path = 0; path < 4; path++) {
        guarded_clear(&screen, CLEAR);
        draw(cube, &cam, 0x0011, path);
        uint32_t centre = guarded_pixels(&screen)[240 * 640 + 320];
        // Lit with L = +Z against the face normal +Z: full brightness, so the base colour itself.
        int nearest_face = -1;
        float best = -1e9f;
        for (int f = 0; f < 6; f++) {
            Vec3 c = {0, 0, 0}, n = cube->triangles[f * 2].normal, view;
            c = n;
            mat_transform_point(&cam.view, &c, &view);
            if (view.z > best) best = view.z, nearest_face = f;
        }
        EXPECT_EQ(centre | 0xFF000000u, cube->triangles[nearest_face * 2].lit_colour | 0xFF000000u)
            << path_name(path);
        EXPECT_NE(centre, CLEAR);
    }
    mesh_free(cube);
}

TEST_F(MeshDraw, VisibleFlagIsIgnoredOnlyByTheProjectedPath) {
    Mesh* cube = test_cube();
    mat_identity(&cube->object_matrix);
    for (int i = 0; i < cube->triangle_count; i++) cube->triangles[i].visible = 0;
    Camera cam = make_camera(Vec3{1, 2, -6}, Vec3{0, 0, 0}, 1, 45);
    for (int path = 0; path < 4; path++) {
        guarded_clear(&screen, CLEAR);
        draw(cube, &cam, 0x0011, path);
        int drawn = 0;
        for (int i = 0; i < 640 * 480; i++) drawn += guarded_pixels(&screen)[i] != CLEAR;
        if (path == PATH_PROJECTED) {
            EXPECT_GT(drawn, 1000);
        } else {
            EXPECT_EQ(drawn, 0) << path_name(path);
        }
    }
    mesh_free(cube);
}

TEST_F(MeshDraw, BehindTheNearPlaneDrawsNothingWhenClipping) {
    Mesh* cube = test_cube();
    mat_identity(&cube->object_matrix);
    // Look away from the cube: every vertex is behind the camera.
    Camera cam = make_camera(Vec3{0, 0, -6}, Vec3{0, 0, -12}, 1, 45);
    for (int path : {PATH_NEAR, PATH_CLIPPED}) {
        guarded_clear(&screen, CLEAR);
        draw(cube, &cam, 0x0011, path);
        int drawn = 0;
        for (int i = 0; i < 640 * 480; i++) drawn += guarded_pixels(&screen)[i] != CLEAR;
        EXPECT_EQ(drawn, 0) << path_name(path);
    }
    mesh_free(cube);
}

TEST_F(MeshDraw, EdgeOnTrianglesOfSingleSidedMeshesDrawNothing) {
    // A triangle in the plane y = 0 seen from a camera at height 0 is a line on screen.
    Mesh* m = mesh_create(3, 1);
    m->vertices[0].px = -1, m->vertices[0].pz = 0;
    m->vertices[1].px = 1, m->vertices[1].pz = 0;
    m->vertices[2].px = 0, m->vertices[2].pz = 1;
    m->triangles[0] = MeshTriangle{0, 1, 2, {}, 0, {}, 0xFFFFFFFFu, 0, 1};
    mesh_compute_normals(m);
    mat_identity(&m->object_matrix);
    Camera cam = make_camera(Vec3{0.3f, 0, -6}, Vec3{0, 0, 0}, 1, 45);
    for (int path : {PATH_DIRECT, PATH_PROJECTED}) {
        guarded_clear(&screen, CLEAR);
        draw(m, &cam, 0x0011, path);
        EXPECT_NEAR(m->vertices[0].sy, m->vertices[2].sy, 1e-3f);  // collinear on screen
        int drawn = 0;
        for (int i = 0; i < 640 * 480; i++) drawn += guarded_pixels(&screen)[i] != CLEAR;
        EXPECT_EQ(drawn, 0) << path_name(path);
        for (int i = 0; i < 640 * 480; i++) ASSERT_EQ(screen.depth[4096 + i], 0x7FFFFFFF);
    }
    mesh_free(m);
}

TEST_F(MeshDraw, ClippedPathStaysInsideTheClipRectangle) {
    Mesh* cube = test_cube();
    cube->texture = texture;
    clip_set_rect(100, 80, 300, 200);
    Uniform rnd{4242u};
    for (int k = 0; k < 150; k++) {
        Camera cam = make_camera(Vec3{rnd(-5, 5), rnd(-5, 5), rnd(-5, 5)},
                                 Vec3{rnd(-1, 1), rnd(-1, 1), rnd(-1, 1)}, rnd(0.1f, 1.5f), rnd(30, 120));
        mat_rotate_euler(&cube->object_matrix, rnd(-3, 3), rnd(-3, 3), rnd(-3, 3));
        cube->flags = (k & 1) ? MESH_DOUBLE_SIDED : 0;
        guarded_clear(&screen, CLEAR);
        draw(cube, &cam, (k & 2) ? 0x0015 : 0x0011, PATH_CLIPPED);
        const uint32_t* px = guarded_pixels(&screen);
        // The clips keep points on the rectangle, so its closing row and column may be covered,
        // depending on the rasterizer's fill rule; nothing beyond them.
        for (int y = 0; y < 480; y++) {
            for (int x = 0; x < 640; x++) {
                if (x < 100 || x > 400 || y < 80 || y > 280) {
                    ASSERT_EQ(px[y * 640 + x], CLEAR) << "camera " << k << " at " << x << "," << y;
                }
            }
        }
    }
    mesh_free(cube);
}

TEST_F(MeshDraw, RandomCamerasNeverWriteOutsideTheScreen) {
    // Cameras all around and inside the cube, with short and long near distances and wide angles.
    Mesh* cube = test_cube();
    cube->texture = texture;
    Uniform rnd{777u};
    int inside = 0;
    for (int k = 0; k < 400; k++) {
        float r = (k % 4 == 0) ? 0.9f : 6.0f;
        Vec3 eye = {rnd(-r, r), rnd(-r, r), rnd(-r, r)};
        inside += std::fabs(eye.x) < 1 && std::fabs(eye.y) < 1 && std::fabs(eye.z) < 1;
        Camera cam = make_camera(eye, Vec3{rnd(-2, 2), rnd(-2, 2), rnd(-2, 2)}, rnd(0.05f, 2), rnd(20, 150));
        mat_rotate_euler(&cube->object_matrix, rnd(-3, 3), rnd(-3, 3), rnd(-3, 3));
        cube->object_matrix.m[12] = rnd(-1, 1);
        cube->flags = (k & 1) ? MESH_DOUBLE_SIDED : 0;
        for (int path = 0; path < 4; path++) {
            draw(cube, &cam, (k & 2) ? 0x0015 : 0x0011, path);
            ASSERT_TRUE(guarded_intact(&screen)) << "camera " << k << ", " << path_name(path);
        }
        if (k % 50 == 0) guarded_clear(&screen, CLEAR);
    }
    EXPECT_GT(inside, 50);
    mesh_free(cube);
}

TEST_F(MeshDraw, NearClippedPathsAgreeWhenThePlaneCutsTheCube) {
    // The near plane slices through the cube: clip mode 1 and the fully clipped path must show the
    // same cut faces (only their outlines may differ by rounding), and the cut must really remove
    // the part in front of the plane: a larger near distance covers fewer pixels nearer the eye.
    Mesh* cube = test_cube();
    cube->flags = MESH_DOUBLE_SIDED;  // the inside shows through the cut
    mat_rotate_euler(&cube->object_matrix, 0.5f, 0.3f, 0);
    Camera cam = make_camera(Vec3{0, 0, -2.2f}, Vec3{0, 0, 0}, 1.5f, 60);
    clip_set_depth(1.5f, 96);
    std::vector<uint32_t> images[2];
    int paths[2] = {PATH_NEAR, PATH_CLIPPED};
    for (int i = 0; i < 2; i++) {
        guarded_clear(&screen, CLEAR);
        draw(cube, &cam, 0x0011, paths[i]);
        images[i].assign(guarded_pixels(&screen), guarded_pixels(&screen) + 640 * 480);
    }
    int differ = 0, covered = 0;
    for (int i = 0; i < 640 * 480; i++) {
        differ += images[0][i] != images[1][i];
        covered += images[0][i] != CLEAR;
    }
    EXPECT_GT(covered, 20000);
    EXPECT_LT(differ, covered / 100);
    test_save_png("cube_near_cut.png", images[1].data(), 640, 480, 640);
    // Every drawn depth lies behind the plane: the cut leaves nothing nearer than -near.
    Matrix proj = cam.projection;
    float w = 1.5f;
    float plane_depth = (-1.5f * proj.m[10] + proj.m[14]) / w;  // z/w at view z = -near
    int32_t nearest = 0x7FFFFFFF;
    for (int i = 0; i < 640 * 480; i++) nearest = std::min(nearest, screen.depth[4096 + i]);
    EXPECT_GE((float)nearest, plane_depth * 16383.0f - 64.0f);
    mesh_free(cube);
}

namespace {

// The clipping paths as plain chains of walks: every visible triangle copied, near-clipped,
// projected, edge-clipped (clipped path only) and handed to the fan, back faces left to set-up.
void reference_draw(const Mesh* m, const Camera* c, RenderMode mode, int path) {
    const uint32_t flags = (m->flags & MESH_DOUBLE_SIDED) ? (uint32_t)DOUBLE_SIDED : 0u;
    MeshVertex a[CLIP_BUFFER_SIZE], b[CLIP_BUFFER_SIZE];
    for (int32_t i = 0; i < m->triangle_count; i++) {
        const MeshTriangle* t = &m->triangles[i];
        if (!t->visible) continue;
        a[0] = m->vertices[t->vertex_a];
        a[1] = m->vertices[t->vertex_b];
        a[2] = m->vertices[t->vertex_c];
        MeshVertex* cur = a;
        int n = 3;
        if (path != PATH_FAN) {
            if ((n = clip_polygon_near(a, 3, b, CLIP_BUFFER_SIZE)) < 3) continue;
            cur = b;
        }
        vertices_project(&c->screen, cur, n);
        if (path == PATH_CLIPPED) {
            if ((n = clip_polygon_left(b, n, a, CLIP_BUFFER_SIZE)) < 3) continue;
            if ((n = clip_polygon_right(a, n, b, CLIP_BUFFER_SIZE)) < 3) continue;
            if ((n = clip_polygon_top(b, n, a, CLIP_BUFFER_SIZE)) < 3) continue;
            if ((n = clip_polygon_bottom(a, n, b, CLIP_BUFFER_SIZE)) < 3) continue;
        }
        polygon_draw_fan(cur, n, flags, t->lit_colour, m->texture, mode);
    }
}

}  // namespace

TEST_F(MeshDraw, EarlyCullingDrawsWhatTheFullClipChainsDraw) {
    // Random view-space triangles in front of, across and behind the near plane, on and off the
    // screen, of both windings; with a real camera and with a screen matrix that passes points
    // through, so that corners land exactly on the clip rectangle and on pixel corners.
    const int kTriangles = 400;
    Mesh* m = mesh_create(3 * kTriangles, kTriangles);
    m->texture = texture;
    Uniform rnd{99u};
    Camera real = make_camera(Vec3{0, 0, 10}, Vec3{0, 0, 0}, 1, 60);
    Camera flat = real;
    mat_identity(&flat.screen);
    std::vector<uint32_t> expect_px, got_px;
    std::vector<int32_t> expect_z, got_z;
    int differ_total = 0;
    for (int trial = 0; trial < 24; trial++) {
        const bool pass_through = trial & 1;
        for (int i = 0; i < 3 * kTriangles; i++) {
            MeshVertex* v = &m->vertices[i];
            if (pass_through) {
                // Screen positions directly, a third of them snapped to whole pixels or rectangle edges.
                float x = rnd(-80, 720), y = rnd(-60, 540);
                if (i % 3 == 0) x = (float)(int)x, y = (float)(int)y;
                if (i % 7 == 0) x = (i & 8) ? 640.0f : 0.0f;
                v->sx = x, v->sy = y, v->sz = rnd(-1.4f, -0.9f);
            } else {
                v->sx = rnd(-9, 9), v->sy = rnd(-7, 7), v->sz = rnd(-12, 0.5f);
            }
            v->rhw = 1, v->u = rnd(0, 2), v->v = rnd(0, 2), v->colour = 0xFF808080u;
        }
        for (int t = 0; t < kTriangles; t++) {
            // Small triangles around a centre, so that most stay on screen and many face away.
            MeshVertex* v = &m->vertices[3 * t];
            for (int k = 1; k < 3 && (t % 5) != 0; k++) {
                v[k].sx = v[0].sx + (v[k].sx - v[0].sx) * 0.05f;
                v[k].sy = v[0].sy + (v[k].sy - v[0].sy) * 0.05f;
            }
            if (t % 11 == 0) v[2] = v[1];  // degenerate
            m->triangles[t] = MeshTriangle{3 * t, 3 * t + 1, 3 * t + 2, {}, 0, {}, 0, 0xFF000000u | (uint32_t)t * 2654435761u, t % 13 != 0};
            if (trial % 3 == 2 && t % 2 == 0) {
                // Corners shared between triangles, as in an indexed mesh: drawing projects each once.
                MeshTriangle* tri = &m->triangles[t];
                tri->vertex_a = (t * 7) % 90;
                tri->vertex_b = (t * 7 + 1 + t % 4) % 90;
                tri->vertex_c = (t * 3 + 45) % 90;
            }
        }
        m->flags = (trial & 2) ? MESH_DOUBLE_SIDED : 0;
        const Camera* cam = pass_through ? &flat : &real;
        if (trial & 4) clip_set_rect(100, 50, 400, 300);
        else clip_set_rect(0, 0, 640, 480);
        const RenderMode mode = (trial & 8) ? 0x0015 : 0x0011;
        simd_use_level(trial % 4 == 3 ? SIMD_SCALAR : simd_best_level());
        for (int path : {PATH_NEAR, PATH_FAN, PATH_CLIPPED}) {
            guarded_clear(&screen, CLEAR);
            reference_draw(m, cam, mode, path);
            expect_px.assign(guarded_pixels(&screen), guarded_pixels(&screen) + 640 * 480);
            expect_z.assign(screen.depth.begin() + 4096, screen.depth.begin() + 4096 + 640 * 480);
            guarded_clear(&screen, CLEAR);
            if (path == PATH_CLIPPED) mesh_draw_clipped(m, cam, mode);
            else mesh_draw(m, cam, mode, path == PATH_NEAR ? MESH_CLIP_NEAR : 2);
            got_px.assign(guarded_pixels(&screen), guarded_pixels(&screen) + 640 * 480);
            got_z.assign(screen.depth.begin() + 4096, screen.depth.begin() + 4096 + 640 * 480);
            ASSERT_EQ(got_px, expect_px) << "trial " << trial << ", " << path_name(path);
            ASSERT_EQ(got_z, expect_z) << "trial " << trial << ", " << path_name(path);
            for (int i = 0; i < 640 * 480; i++) differ_total += expect_px[i] != CLEAR;
        }
    }
    simd_use_level(simd_best_level());
    EXPECT_GT(differ_total, 100000);  // the trials really drew
    clip_set_rect(0, 0, 640, 480);
    mesh_free(m);
}

// The world point that the camera's view puts at (x, y, z): its rows are a turn and a shift.
static Vec3 world_of_view(const Camera* cam, float x, float y, float z) {
    const float* v = cam->view.m;
    const float bx = x - v[12], by = y - v[13], bz = z - v[14];
    return Vec3{bx * v[0] + by * v[1] + bz * v[2], bx * v[4] + by * v[5] + bz * v[6], bx * v[8] + by * v[9] + bz * v[10]};
}

TEST_F(MeshDraw, CulledBallsDrawNothingOnTheNearPath) {
    // Cubes turned at random and placed just either side of each refusing plane (behind the near
    // plane, past each screen edge), under cameras looking every way: a cube whose ball is refused
    // must leave every pixel and depth value as it was; balls well out are all refused.
    Mesh* cube = test_cube();
    cube->texture = texture;
    const float radius = std::sqrt(3.0f);  // the side-2 cube's corners
    Uniform rnd{2024u};
    int refused = 0, far_out = 0, far_refused = 0;
    for (int k = 0; k < 600; k++) {
        Camera cam = make_camera(Vec3{rnd(-30, 30), rnd(-30, 30), rnd(-30, 30)}, Vec3{rnd(-3, 3), rnd(-3, 3), rnd(-3, 3)},
                                 rnd(0.2f, 3), rnd(25, 100));
        clip_set_depth(cam.near, 96);
        CameraCull cull;
        camera_cull_make(&cam, &cull);
        ASSERT_EQ(cull.count, 5);
        // A view-space point on the chosen boundary, then pushed out or in across it.
        const int side = k % 5;
        const float depth = rnd(cam.near + 0.5f, 40), slope = std::tan(cam.fov * 0.5f * 0.01745329f);
        const float edge_x = slope * (640.0f / 480.0f) * depth, edge_y = slope * depth;
        float vx = rnd(-edge_x, edge_x), vy = rnd(-edge_y, edge_y), vz = -depth;
        const float push = radius + rnd(-1.5f, 1.5f) * (k % 3 == 0 ? 0.05f : 1.0f);
        if (side == 0) vz = -cam.near + push * ((k & 8) ? 1.0f : 3.0f);
        if (side == 1) vx = -edge_x - push * 1.5f;
        if (side == 2) vx = edge_x + push * 1.5f;
        if (side == 3) vy = edge_y + push * 1.5f;
        if (side == 4) vy = -edge_y - push * 1.5f;
        const Vec3 centre = world_of_view(&cam, vx, vy, vz);
        mat_rotate_euler(&cube->object_matrix, rnd(-3, 3), rnd(-3, 3), rnd(-3, 3));
        cube->object_matrix.m[12] = centre.x, cube->object_matrix.m[13] = centre.y, cube->object_matrix.m[14] = centre.z;
        cube->flags = (k & 1) ? MESH_DOUBLE_SIDED : 0;
        const int out = camera_cull_ball(&cull, &centre, radius);
        guarded_clear(&screen, CLEAR);
        draw(cube, &cam, (k & 2) ? 0x0015 : 0x0011, PATH_NEAR);
        int drawn = 0;
        for (int i = 0; i < 640 * 480; i++) drawn += guarded_pixels(&screen)[i] != CLEAR || screen.depth[4096 + i] != 0x7FFFFFFF;
        if (out) {
            EXPECT_EQ(drawn, 0) << "camera " << k << ", side " << side;
        }
        refused += out;
        if (push > radius + 1.0f) {
            far_out++;
            far_refused += out;
        }
    }
    EXPECT_GT(refused, 150);
    EXPECT_GT(far_out, 40);
    EXPECT_EQ(far_refused, far_out);
    // Neither a non-finite centre or radius nor the view's middle is refused.
    Camera cam = make_camera(Vec3{0, 0, 10}, Vec3{0, 0, 0}, 1, 60);
    clip_set_depth(1, 96);
    CameraCull cull;
    camera_cull_make(&cam, &cull);
    const Vec3 nan_centre = {NAN, 0, 0}, middle = world_of_view(&cam, 0, 0, -10), behind = world_of_view(&cam, 0, 0, -0.5f);
    EXPECT_EQ(camera_cull_ball(&cull, &nan_centre, 1.0f), 0);
    EXPECT_EQ(camera_cull_ball(&cull, &middle, 1.0f), 0);
    EXPECT_EQ(camera_cull_ball(&cull, &middle, NAN), 0);
    // Beyond the near plane only when the clip state's plane says so.
    EXPECT_EQ(camera_cull_ball(&cull, &behind, 0.25f), 1);
    clip_set_depth(0.25f, 96);
    camera_cull_make(&cam, &cull);
    EXPECT_EQ(camera_cull_ball(&cull, &behind, 0.1f), 0);
    // A screen matrix whose w is not the depth keeps the near plane alone.
    Camera flat = cam;
    mat_identity(&flat.screen);
    camera_cull_make(&flat, &cull);
    EXPECT_EQ(cull.count, 1);
    clip_set_depth(1, 96);
    mesh_free(cube);
}

TEST(SetupJudgement, RefusesExactlyWhatSetUpRefuses) {
    // Random triangles of every kind set-up refuses: back faces, empty slivers, boxes off the screen
    // or without a second column or row, in both windings and with both flags; corners snapped to
    // whole pixels and 1/32 pixels for ties, and some beyond the judged reach. Where every corner is
    // judged the early decision must be set-up's own; elsewhere it must leave the triangle to set-up.
    Uniform rnd{2024u};
    int refused = 0, drawn = 0, boxes = 0, unjudged = 0;
    for (int i = 0; i < 200000; i++) {
        const int shape = i % 7;
        const float reach = shape == 0 ? 2.0f : shape == 1 ? 0.7f : shape == 5 ? 90000.0f : 40.0f;
        const float cx = rnd(-60, 700), cy = rnd(-60, 540);
        MeshVertex v[3] = {};
        for (int k = 0; k < 3; k++) {
            float x = cx + rnd(-reach, reach), y = cy + rnd(-reach, reach);
            if (shape == 2) x = std::floor(x), y = std::floor(y);
            if (shape == 3) x = std::floor(x * 32.0f) / 32.0f, y = std::floor(y * 32.0f) / 32.0f;
            if (shape == 4 && k == 2) x = v[0].sx + rnd(-0.1f, 0.1f);  // thin in x
            if (shape == 6) {
                // At the screen's top left corner two corners can share a fixed-point coordinate on
                // either side of 0, so which of them bounds the box decides its size.
                x = k == 2 ? rnd(-3, 3) : rnd(-0.04f, 0.04f);
                y = k == 1 ? rnd(-3, 3) : rnd(-0.04f, 0.04f);
            }
            v[k].sx = x, v[k].sy = y;
        }
        const uint32_t flags = (i / 7) % 3 == 0 ? (uint32_t)DOUBLE_SIDED : 0u;
        const SetupCorner c[3] = {setup_corner_make(&v[0]), setup_corner_make(&v[1]), setup_corner_make(&v[2])};
        RasterTriangle t = {};
        t.vert0 = &v[0], t.vert1 = &v[1], t.vert2 = &v[2];
        t.flags = flags;
        const int by_setup = triangle_setup(&t) != 0;
        const int early = setup_corners_refused(&c[0], &c[1], &c[2], flags);
        if (c[0].judged && c[1].judged && c[2].judged) {
            ASSERT_EQ(setup_corners_refused_exact(&c[0], &c[1], &c[2], flags), by_setup) << "triangle " << i;
            ASSERT_EQ(early, by_setup) << "triangle " << i << " (" << v[0].sx << ", " << v[0].sy << ") ("
                                       << v[1].sx << ", " << v[1].sy << ") (" << v[2].sx << ", " << v[2].sy << ")";
        } else {
            ASSERT_EQ(early, 0) << "triangle " << i;
            unjudged++;
        }
        refused += early;
        drawn += !by_setup;
        // Refused although it has area and faces the right way: the box decided.
        const float cross = (v[1].sx - v[0].sx) * (v[2].sy - v[0].sy) - (v[2].sx - v[0].sx) * (v[1].sy - v[0].sy);
        boxes += early && std::fabs(cross) > 0.01f && (cross > 0.0f || flags);
    }
    EXPECT_GT(refused, 40000);
    EXPECT_GT(drawn, 40000);
    EXPECT_GT(boxes, 2000);
    EXPECT_GT(unjudged, 10000);
}

TEST(DepthReset, BuffersDrawnIntoAreWipedByTheNextFrameAndUntouchedOnesStayClean) {
    ASSERT_EQ(display_open_offscreen(1), 0);
    MeshVertex tri[3] = {};
    tri[0].sx = 10, tri[0].sy = 10, tri[1].sx = 300, tri[1].sy = 20, tri[2].sx = 40, tri[2].sy = 400;
    auto clean = [](const DepthBuffer* d) {
        for (int i = 0; i < 640 * 480; i++)
            if (d->values[i] != 0x7FFFFFFF) return false;
        return true;
    };
    frame_begin();
    EXPECT_TRUE(clean(depth_buffer) && clean(depth_buffer2));
    polygon_draw_list(tri, 3, 0, 0, nullptr, RENDER_DEPTH);  // the shadow pass
    EXPECT_FALSE(clean(depth_buffer2));
    EXPECT_TRUE(clean(depth_buffer));
    frame_begin();
    EXPECT_TRUE(clean(depth_buffer2));
    polygon_draw_list(tri, 3, 0, 0xFF00FF00u, nullptr, RENDER_DEPTH | RENDER_FLAT);
    EXPECT_FALSE(clean(depth_buffer));
    frame_begin();
    EXPECT_TRUE(clean(depth_buffer) && clean(depth_buffer2));
    polygon_draw_list(tri, 3, 0, 0xFF00FF00u, nullptr, RENDER_FLAT);  // no depth at all
    frame_begin();
    EXPECT_TRUE(clean(depth_buffer) && clean(depth_buffer2));
    display_close();
}

// A random glow triangle against a depth buffer just nearer than its nearest corner over the box
// round it: slivers, steep planes, corners off the screen and depths from near to far. Whenever the
// early test calls the triangle hidden, the additive filler must leave every pixel as it was.
TEST_F(MeshDraw, HiddenGlowTrianglesDrawNothingThroughTheFiller) {
    Uniform rnd{4711u};
    const RenderMode glow = RENDER_ADD | RENDER_DEPTH | RENDER_TEXTURE | RENDER_FLAT;
    int32_t* depth = depth_buffer->values;
    uint32_t* pixels = framebuffer.pixels;
    for (int i = 0; i < 640 * 480; i++) pixels[i] = 0xFF102030u;
    int hidden = 0, shown = 0, steep_hidden = 0;
    for (int i = 0; i < 6000; i++) {
        const int shape = i % 4;
        const float size = shape == 0 ? 4.0f : shape == 1 ? 60.0f : shape == 2 ? 300.0f : 40.0f;
        const float cx = rnd(-40, 680), cy = rnd(-40, 520);
        MeshVertex v[3] = {};
        for (int k = 0; k < 3; k++) {
            v[k].sx = cx + rnd(-size, size), v[k].sy = cy + rnd(-size, size);
            v[k].u = rnd(0, 1), v[k].v = rnd(0, 1);
        }
        if (shape == 3) v[2].sx = v[0].sx + rnd(-0.3f, 0.3f), v[2].sy = v[0].sy + rnd(-300, 300);  // a sliver
        const float base = rnd(0.02f, 0.999f);
        const float tilt = shape == 3 ? rnd(0, 0.5f) : rnd(0, 0.01f);
        for (int k = 0; k < 3; k++) v[k].sz = base + tilt * rnd(0, 1);
        const float nearest = std::fmin(std::fmin(v[0].sz, v[1].sz), v[2].sz) * 16383.0f;
        // From a depth at the corner's own down to far nearer than any rounding could reach.
        const int32_t stored = (int32_t)std::floor(nearest) - ((int32_t)std::exp(rnd(0, 8)) - 3);
        const int x0 = std::max(0, (int)std::floor(std::fmin(std::fmin(v[0].sx, v[1].sx), v[2].sx)) - 2);
        const int x1 = std::min(639, (int)std::floor(std::fmax(std::fmax(v[0].sx, v[1].sx), v[2].sx)) + 2);
        const int y0 = std::max(0, (int)std::floor(std::fmin(std::fmin(v[0].sy, v[1].sy), v[2].sy)) - 2);
        const int y1 = std::min(479, (int)std::floor(std::fmax(std::fmax(v[0].sy, v[1].sy), v[2].sy)) + 2);
        for (int y = y0; y <= y1; y++)
            for (int x = x0; x <= x1; x++) depth[y * 640 + x] = stored;
        if (triangle_hidden_behind(&v[0], &v[1], &v[2], depth_buffer)) {
            hidden++;
            steep_hidden += shape == 3;
            polygon_draw_list(v, 3, DOUBLE_SIDED, 0xFFFFFFFFu, texture, glow);
            for (int y = y0; y <= y1; y++)
                for (int x = x0; x <= x1; x++)
                    ASSERT_EQ(pixels[y * 640 + x], 0xFF102030u)
                        << "triangle " << i << " drew at " << x << ", " << y << " over depth " << stored;
        } else {
            shown++;
        }
        for (int y = y0; y <= y1; y++)
            for (int x = x0; x <= x1; x++) depth[y * 640 + x] = 0x7FFFFFFF, pixels[y * 640 + x] = 0xFF102030u;
    }
    EXPECT_GT(hidden, 1500);
    EXPECT_GT(shown, 500);
    EXPECT_GT(steep_hidden, 100);
    EXPECT_TRUE(guarded_intact(&screen));
}

// The projected path leaves out hidden glow triangles and draws the rest as the rasterizer would
// draw every one of them; a mode that writes depth draws them all.
TEST_F(MeshDraw, ProjectedGlowsOverADepthBufferMatchTheirPlainDrawing) {
    Uniform rnd{99u};
    Mesh* m = mesh_create(300, 100);
    ASSERT_NE(m, nullptr);
    m->flags = MESH_DOUBLE_SIDED | MESH_PROJECTIVE;
    m->texture = texture;
    for (int i = 0; i < 300; i++) {
        MeshVertex* v = &m->vertices[i];
        v->sx = rnd(-50, 690), v->sy = rnd(-50, 530), v->sz = rnd(0.3f, 0.9f), v->u = rnd(0, 1), v->v = rnd(0, 1);
    }
    for (int i = 0; i < 100; i++) {
        MeshTriangle* t = &m->triangles[i];
        t->vertex_a = 3 * i, t->vertex_b = 3 * i + 1, t->vertex_c = 3 * i + 2;
        m->vertices[3 * i + 1].sx = m->vertices[3 * i].sx + rnd(-80, 80);
        m->vertices[3 * i + 1].sy = m->vertices[3 * i].sy + rnd(-80, 80);
        m->vertices[3 * i + 2].sx = m->vertices[3 * i].sx + rnd(-80, 80);
        m->vertices[3 * i + 2].sy = m->vertices[3 * i].sy + rnd(-80, 80);
        t->lit_colour = 0xFF000000u | (uint32_t)(i * 2654435761u >> 8);
        t->visible = 1;
    }
    // A disc of near depths, as a sphere drawn before its glows leaves.
    std::vector<int32_t> stored(640 * 480);
    for (int y = 0; y < 480; y++)
        for (int x = 0; x < 640; x++) {
            const int dx = x - 320, dy = y - 240;
            stored[y * 640 + x] = dx * dx + dy * dy < 180 * 180 ? 4000 + (dx * dx + dy * dy) / 20 : 0x7FFFFFFF;
        }
    Camera camera = {};
    const RenderMode modes[2] = {RENDER_ADD | RENDER_DEPTH | RENDER_TEXTURE | RENDER_FLAT,
                                 RENDER_DEPTH | RENDER_TEXTURE | RENDER_FLAT};
    for (RenderMode mode : modes) {
        std::vector<uint32_t> plain;
        for (int pass = 0; pass < 2; pass++) {
            guarded_clear(&screen, CLEAR);
            std::memcpy(depth_buffer->values, stored.data(), stored.size() * sizeof(int32_t));
            if (pass == 0) {
                for (int i = 0; i < 100; i++) {
                    const MeshTriangle* t = &m->triangles[i];
                    polygon_draw_list(&m->vertices[t->vertex_a], 3, DOUBLE_SIDED, t->lit_colour, texture, mode);
                }
                plain.assign(framebuffer.pixels, framebuffer.pixels + 640 * 480);
                continue;
            }
            mesh_draw(m, &camera, mode, MESH_CLIP_PROJECTED);
            ASSERT_EQ(std::memcmp(plain.data(), framebuffer.pixels, plain.size() * sizeof(uint32_t)), 0) << "mode " << mode;
        }
    }
    int hidden = 0;
    for (int i = 0; i < 100; i++) {
        const MeshTriangle* t = &m->triangles[i];
        hidden += triangle_hidden_behind(&m->vertices[t->vertex_a], &m->vertices[t->vertex_b],
                                         &m->vertices[t->vertex_c], depth_buffer);
    }
    EXPECT_GT(hidden, 5);
    EXPECT_TRUE(guarded_intact(&screen));
    mesh_free(m);
}
