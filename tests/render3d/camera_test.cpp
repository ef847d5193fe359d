// Camera matrices, the mesh transform, the three lighting models, normals and tangents.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "gfx/simd.h"
#include "render3d/clip.h"
#include "render3d/mesh.h"

namespace {

Camera default_camera(float w = 640, float h = 480) {
    Camera c = {};
    c.eye = Vec3{0, 0, -5};
    c.target = Vec3{0, 0, 0};
    c.near = 1;
    c.far = 96;
    c.fov = 45;
    c.viewport_w = (int32_t)w;
    c.viewport_h = (int32_t)h;
    camera_update(&c);
    return c;
}

// One triangle whose face normal is n (given directly, as after mesh_transform).
Mesh* single_triangle(Vec3 n, uint32_t base, int32_t flags) {
    Mesh* m = mesh_create(3, 1);
    m->flags = flags;
    m->triangles[0] = MeshTriangle{0, 1, 2, n, 0, n, base, 0, 1};
    for (int i = 0; i < 3; i++) m->normals[i].world_normal = n;
    return m;
}

void set_pos(MeshVertex* v, float x, float y, float z, float u = 0, float vv = 0) {
    v->px = x;
    v->py = y;
    v->pz = z;
    v->u = u;
    v->v = vv;
}

}  // namespace

TEST(CameraSetup, AspectIsLargerSideOverSmaller) {
    Camera wide = default_camera(640, 480), tall = default_camera(480, 640);
    EXPECT_FLOAT_EQ(wide.projection.m[0], tall.projection.m[0]);
    EXPECT_NEAR(wide.projection.m[5] / wide.projection.m[0], 4.0f / 3.0f, 1e-5);
    // screen = projection * viewport: the origin five units ahead lands in the screen centre.
    Vec3 p = {0, 0, 0}, view, out;
    mat_transform_point(&wide.view, &p, &view);
    float w = mat_transform_point_w(&wide.screen, &view, &out);
    EXPECT_NEAR(out.x / w, 320.0f, 1e-3);
    EXPECT_NEAR(out.y / w, 240.0f, 1e-3);
    EXPECT_NEAR(wide.forward.z, 1.0f, 1e-6);
}

TEST(CameraSetup, OrbitPlacesTheEyeOnTheSphere) {
    Camera c = {};
    camera_orbit(&c, 0, 1.3f, 7, nullptr);
    EXPECT_NEAR(c.eye.x, 0, 1e-6);
    EXPECT_NEAR(c.eye.y, 0, 1e-6);
    EXPECT_FLOAT_EQ(c.eye.z, 7);
    Vec3 centre = {1, 2, 3};
    camera_orbit(&c, (float)M_PI / 2, (float)M_PI / 2, 2, &centre);
    EXPECT_NEAR(c.eye.x, 1, 1e-6);
    EXPECT_NEAR(c.eye.y, 4, 1e-6);
    EXPECT_NEAR(c.eye.z, 3, 1e-6);
    EXPECT_EQ(c.target.y, 2.0f);
}

TEST(CameraSetup, ObjectMatricesAndViewDirection) {
    Camera c = default_camera();
    Matrix object, screen, normal;
    mat_scale(&object, 2, 2, 2);
    camera_object_matrices(&c, &object, &screen, &normal);
    // A scaled object's normal matrix keeps directions (up to length): inverse transpose of 2*I.
    Vec3 n = {0, 1, 0}, out;
    mat_rotate_vector(&normal, &n, &out);
    EXPECT_NEAR(out.y, 0.5f, 1e-5);
    // The full screen matrix of (1, 0, 0) equals the camera's projection of the scaled point.
    Vec3 p = {1, 0, 0}, a, view, b;
    float wa = mat_transform_point_w(&screen, &p, &a);
    Vec3 p2 = {2, 0, 0};
    mat_transform_point(&c.view, &p2, &view);
    float wb = mat_transform_point_w(&c.screen, &view, &b);
    EXPECT_NEAR(a.x / wa, b.x / wb, 1e-3);
    Matrix turn;
    mat_rotate_y(&turn, (float)M_PI / 2);
    Vec3 dir;
    camera_view_dir_in_object(&c, &turn, &dir);
    EXPECT_NEAR(vec3_length(&dir), 1.0f, 1e-5);
    // View +Z is world +Z here; in the turned object's frame it is -X.
    EXPECT_NEAR(dir.x, -1.0f, 1e-5);
    // The model-view handed back is object * view to the bit, as scenes used to recompute it.
    Matrix model_view, expected;
    camera_object_matrices(&c, &turn, &screen, &normal, &model_view);
    mat_multiply(&turn, &c.view, &expected);
    EXPECT_EQ(std::memcmp(&model_view, &expected, sizeof expected), 0);
}

TEST(CameraSetup, FullScreenHelperFillsTheCameraAndTheClipState) {
    Camera c = {};
    c.eye = Vec3{0, 0, -5};
    c.viewport_x = 7;
    camera_set_screen(&c, 2, 64);
    Camera by_hand = default_camera();
    by_hand.near = 2;
    by_hand.far = 64;
    camera_update(&by_hand);
    EXPECT_EQ(c.viewport_x, 0);
    EXPECT_EQ(std::memcmp(&c, &by_hand, sizeof c), 0);
    // The clip plane follows the near distance and the rectangle is the whole screen.
    MeshVertex in[3] = {}, out[CLIP_BUFFER_SIZE];
    in[0].sz = -1.5f;
    in[1].sz = -3.0f;
    in[2].sz = -3.0f;
    in[2].sx = 1.0f;
    EXPECT_EQ(clip_polygon_near(in, 3, out, CLIP_BUFFER_SIZE), 4);
    in[0].sx = 700.0f;
    in[0].sz = -3.0f;
    EXPECT_EQ(clip_polygon_right(in, 3, out, CLIP_BUFFER_SIZE), 4);
    clip_set_depth(1, 96);
}

TEST(Transform, AffineKeepsWAndProjectiveDivides) {
    Mesh* m = mesh_create(1, 1);
    set_pos(&m->vertices[0], 1, 2, 3);
    Matrix t;
    mat_translate(&t, 10, 0, 0);
    t.m[3] = 1;  // w' = x + 1
    mesh_transform(m, &t, &t, 0);
    EXPECT_EQ(m->vertices[0].sx, 11.0f);
    EXPECT_EQ(m->vertices[0].rhw, 2.0f);
    m->flags = MESH_PROJECTIVE;
    mesh_transform(m, &t, &t, 0);
    EXPECT_EQ(m->vertices[0].sx, 5.5f);
    EXPECT_EQ(m->vertices[0].sy, 1.0f);
    EXPECT_EQ(m->vertices[0].rhw, 0.5f);
    set_pos(&m->vertices[0], -1, 4, 0);  // w exactly 0
    mesh_transform(m, &t, &t, 0);
    EXPECT_EQ(m->vertices[0].sx, 9.0f);
    EXPECT_EQ(m->vertices[0].rhw, 1.0f);
    mesh_free(m);
}

TEST(Transform, PartsBitsSelectWhatIsTurned) {
    Mesh* m = mesh_create(3, 1);
    for (int i = 0; i < 3; i++) {
        m->normals[i].normal = Vec3{0, 0, 2};
        m->normals[i].world_normal = Vec3{9, 9, 9};
    }
    m->triangles[0].normal = Vec3{0, 3, 0};
    m->triangles[0].world_normal = Vec3{9, 9, 9};
    Matrix r;
    mat_rotate_x(&r, (float)M_PI / 2);  // +Y to +Z, +Z to -Y
    mesh_transform(m, &r, &r, MESH_PART_NORMALS | MESH_PART_TANGENTS);  // no tangents: ignored
    EXPECT_NEAR(m->normals[1].world_normal.y, -1.0f, 1e-6);
    EXPECT_EQ(m->triangles[0].world_normal.x, 9.0f);
    mesh_transform(m, &r, &r, MESH_PART_FACES);
    EXPECT_NEAR(m->triangles[0].world_normal.z, 1.0f, 1e-6);
    mesh_free(m);
}

// The next float in [lo, hi) of a small repeatable generator: the same seed gives the same values.
float seeded_float(unsigned* seed, float lo, float hi) {
    *seed = *seed * 1664525u + 1013904223u;
    return lo + (hi - lo) * (float)(*seed >> 8) / 16777216.0f;
}

TEST(Transform, EverySimdLevelGivesTheSameBits) {
    // Random meshes through random matrices (some with w = 0 or negative at a vertex, some
    // singular), affine and projective, every part, then flat light: each level's records must be
    // byte-equal.
    unsigned seed = 3;
    auto rnd = [&](float lo, float hi) { return seeded_float(&seed, lo, hi); };
    const int kVertices = 37, kTriangles = 29;
    Mesh* mesh[2] = {mesh_create(kVertices, kTriangles), mesh_create(kVertices, kTriangles)};
    const int best = simd_best_level();
    for (int trial = 0; trial < 40; trial++) {
        Matrix m, n;
        for (float& e : m.m) e = rnd(-3, 3);
        for (float& e : n.m) e = rnd(-2, 2);
        if (trial % 5 == 0) m.m[3] = m.m[7] = m.m[11] = m.m[15] = 0.0f;  // w = 0 everywhere
        if (trial % 7 == 0) std::memset(&n, 0, sizeof n);                // normals collapse to zero
        for (int k = 0; k < 2; k++) {
            Mesh* x = mesh[k];
            seed = 1000u + (unsigned)trial;
            for (int i = 0; i < kVertices; i++) {
                x->vertices[i] = MeshVertex{rnd(-9, 9), rnd(-9, 9), rnd(-9, 9), 0, 0, 0, 0, rnd(0, 1), rnd(0, 1), 0, 0, 0};
                x->normals[i].normal = Vec3{rnd(-1, 1), rnd(-1, 1), rnd(-1, 1)};
            }
            for (int i = 0; i < kTriangles; i++)
                x->triangles[i] = MeshTriangle{i % kVertices, (i * 5 + 1) % kVertices, (i * 11 + 2) % kVertices,
                                               Vec3{rnd(-1, 1), rnd(-1, 1), rnd(-1, 1)}, 0, {}, (uint32_t)(rnd(0, 1) * 4294967040.0f), 0, 1};
            // Single zero normals and ones whose squared length overflows, among lanes of ordinary ones.
            for (int i = 4; i < kVertices; i += 9) x->normals[i].normal = Vec3{0.0f, -0.0f, 0.0f};
            for (int i = 6; i < kTriangles; i += 11) x->triangles[i].normal = Vec3{3e19f, -1.0f, 2e19f};
            mesh_compute_tangents(x);
            x->flags = trial % 2 ? MESH_PROJECTIVE : 0;
            simd_use_level(k == 0 ? SIMD_SCALAR : best);
            mesh_transform(x, &m, &n, MESH_PART_NORMALS | MESH_PART_TANGENTS | MESH_PART_FACES);
            vertices_project(&m, x->vertices, kVertices / 2);
            // Flat light on the turned faces, the light up to three units long so that bytes clamp.
            x->flags |= trial % 3 ? 0 : MESH_DOUBLE_SIDED;
            Vec3 light = {rnd(-3, 3), rnd(-3, 3), rnd(-3, 3)};
            mesh_light(x, &light, MESH_LIGHT_FLAT);
            // Tangent light on the turned normals and tangents, some of them zero or overflowing.
            Vec3 towards = {rnd(-3, 3), rnd(-3, 3), rnd(-3, 3)};
            mesh_light(x, &towards, MESH_LIGHT_TANGENT);
        }
        ASSERT_EQ(std::memcmp(mesh[0]->vertices, mesh[1]->vertices, kVertices * sizeof(MeshVertex)), 0) << trial;
        ASSERT_EQ(std::memcmp(mesh[0]->normals, mesh[1]->normals, kVertices * sizeof(VertexNormal)), 0) << trial;
        ASSERT_EQ(std::memcmp(mesh[0]->tangents, mesh[1]->tangents, kVertices * sizeof(VertexTangent)), 0) << trial;
        ASSERT_EQ(std::memcmp(mesh[0]->triangles, mesh[1]->triangles, kTriangles * sizeof(MeshTriangle)), 0) << trial;
    }
    simd_use_level(best);
    mesh_free(mesh[0]);
    mesh_free(mesh[1]);
}

TEST(Lighting, FlatScalesAllFourBytesWithAFloor) {
    Vec3 l = {0, 0, 1};
    Mesh* m = single_triangle(Vec3{0, 0, 0.5f}, 0xFF808080u, 0);
    mesh_light(m, &l, MESH_LIGHT_FLAT);
    EXPECT_EQ(m->triangles[0].lit_colour, 0x7F404040u);
    m->triangles[0].world_normal = Vec3{0, 0, -1};  // turned away: floor, not black
    mesh_light(m, &l, MESH_LIGHT_FLAT);
    EXPECT_EQ(m->triangles[0].lit_colour, 0x26131313u);  // 255*0.15 = 38, 128*0.15 = 19
    m->flags = MESH_DOUBLE_SIDED;  // fully away on a double-sided mesh: as if facing
    mesh_light(m, &l, MESH_LIGHT_FLAT);
    EXPECT_EQ(m->triangles[0].lit_colour, 0xFF808080u);
    mesh_free(m);
}

TEST(Lighting, LightLongerThanUnitDoesNotCarryIntoTheNextByte) {
    Vec3 l = {0, 0, 1.5f};
    Mesh* m = single_triangle(Vec3{0, 0, 1}, 0x80C0FF40u, 0);
    mesh_light(m, &l, MESH_LIGHT_FLAT);
    EXPECT_EQ(m->triangles[0].lit_colour, 0xC0FFFF60u);
    mesh_light(m, &l, MESH_LIGHT_GOURAUD);
    EXPECT_EQ(m->vertices[0].colour, 0xFFFFFFFFu);
    mesh_free(m);
}

TEST(Lighting, GouraudGreyLevels) {
    Vec3 l = {0, 0, 1};
    Mesh* m = single_triangle(Vec3{0, 0, 1}, 0, 0);
    m->normals[1].world_normal = Vec3{0, 1, 0};
    m->normals[2].world_normal = Vec3{0, 0, -1};
    mesh_light(m, &l, MESH_LIGHT_GOURAUD);
    EXPECT_EQ(m->vertices[0].colour, 0xFFFFFFFFu);
    EXPECT_EQ(m->vertices[1].colour, 0x26262626u);
    EXPECT_EQ(m->vertices[2].colour, 0x26262626u);
    m->flags = MESH_DOUBLE_SIDED;
    mesh_light(m, &l, MESH_LIGHT_GOURAUD);
    EXPECT_EQ(m->vertices[2].colour, 0xFFFFFFFFu);
    Vec3 l2 = {0, 0, 1};
    uint32_t before = m->vertices[0].colour;
    mesh_light(m, &l2, 7);  // unknown model: nothing
    EXPECT_EQ(m->vertices[0].colour, before);
    mesh_free(m);
}

TEST(Lighting, TangentSpaceEncodesTheLightVector) {
    Mesh* m = single_triangle(Vec3{0, 0, 1}, 0, 0);
    m->tangents = (VertexTangent*)std::calloc(3, sizeof(VertexTangent));
    for (int i = 0; i < 3; i++) m->tangents[i] = VertexTangent{{1, 0, 0}, {1, 0, 0}, 1};
    Vec3 l = {0, 0, 4};  // normalised in place
    mesh_light(m, &l, MESH_LIGHT_TANGENT);
    EXPECT_FLOAT_EQ(l.z, 1.0f);
    EXPECT_EQ(m->vertices[0].colour, 0xFF7F7FFFu);
    // Along the tangent: red full, alpha at the floor of the clamp (dot with N is 0).
    Vec3 lt = {1, 0, 0};
    mesh_light(m, &lt, MESH_LIGHT_TANGENT);
    EXPECT_EQ(m->vertices[0].colour, 0x00FF7F7Fu);
    // B = N x T * handedness: with -1 the bitangent flips, so +Y reads as green 0.
    m->tangents[1].handedness = -1;
    Vec3 lb = {0, 1, 0};
    mesh_light(m, &lb, MESH_LIGHT_TANGENT);
    EXPECT_EQ(m->vertices[0].colour & 0xFF00u, 0xFF00u);
    EXPECT_EQ(m->vertices[1].colour & 0xFF00u, 0x0000u);
    mesh_free(m);
}

TEST(Geometry, NormalsAreAreaWeightedAndPlanesHoldTheFace) {
    // Two triangles sharing vertex 0: a large one facing +Z, a small one facing +X.
    Mesh* m = mesh_create(6, 2);
    set_pos(&m->vertices[0], 0, 0, 0);
    set_pos(&m->vertices[1], 4, 0, 0);
    set_pos(&m->vertices[2], 0, 4, 0);
    set_pos(&m->vertices[3], 0, 1, 0);
    set_pos(&m->vertices[4], 0, 0, 1);
    set_pos(&m->vertices[5], 9, 9, 9);  // used by nothing
    m->triangles[0].vertex_a = 0, m->triangles[0].vertex_b = 1, m->triangles[0].vertex_c = 2;
    m->triangles[1].vertex_a = 0, m->triangles[1].vertex_b = 3, m->triangles[1].vertex_c = 4;
    mesh_compute_normals(m);
    EXPECT_FLOAT_EQ(m->triangles[0].normal.z, 1.0f);
    EXPECT_FLOAT_EQ(m->triangles[1].normal.x, 1.0f);
    const Vec3& n0 = m->normals[0].normal;
    EXPECT_NEAR(n0.z / n0.x, 16.0f, 1e-4);  // cross lengths 16 and 1
    EXPECT_NEAR(vec3_length(&n0), 1.0f, 1e-6);
    EXPECT_EQ(m->normals[5].normal.x, 0.0f);
    // Moving the face away from the origin shows in plane_d.
    for (int i = 0; i < 3; i++) m->vertices[i].pz = 2;
    mesh_compute_normals(m);
    EXPECT_FLOAT_EQ(m->triangles[0].plane_d, -2.0f);
    mesh_free(m);
}

TEST(Geometry, TangentsFollowUAndMirroredUvFlipsHandedness) {
    Mesh* m = mesh_create(6, 2);
    // Triangle 0: u along +X, v along +Y. Triangle 1 mirrored in u.
    set_pos(&m->vertices[0], 0, 0, 0, 0, 0);
    set_pos(&m->vertices[1], 1, 0, 0, 1, 0);
    set_pos(&m->vertices[2], 0, 1, 0, 0, 1);
    set_pos(&m->vertices[3], 5, 0, 0, 1, 0);
    set_pos(&m->vertices[4], 6, 0, 0, 0, 0);
    set_pos(&m->vertices[5], 5, 1, 0, 1, 1);
    m->triangles[0] = MeshTriangle{0, 1, 2, {}, 0, {}, 0, 0, 1};
    m->triangles[1] = MeshTriangle{3, 4, 5, {}, 0, {}, 0, 0, 1};
    mesh_compute_normals(m);
    mesh_compute_tangents(m);
    ASSERT_NE(m->tangents, nullptr);
    EXPECT_NEAR(m->tangents[0].tangent.x, 1.0f, 1e-6);
    EXPECT_EQ(m->tangents[0].handedness, 1.0f);
    EXPECT_NEAR(m->tangents[4].tangent.x, -1.0f, 1e-6);
    EXPECT_NEAR(m->normals[4].normal.z, 1.0f, 1e-6);  // same winding, mirrored u only
    EXPECT_EQ(m->tangents[4].handedness, -1.0f);
    mesh_free(m);
}

TEST(Geometry, DegenerateTextureCoordinatesContributeNothing) {
    Mesh* m = mesh_create(5, 2);
    set_pos(&m->vertices[0], 0, 0, 0, 0, 0);
    set_pos(&m->vertices[1], 1, 0, 0, 1, 0);
    set_pos(&m->vertices[2], 0, 1, 0, 0, 1);
    // A second triangle sharing vertex 0 with every corner at the same u, v.
    set_pos(&m->vertices[3], -1, 0, 0, 0, 0);
    set_pos(&m->vertices[4], 0, -1, 0, 0, 0);
    m->triangles[0] = MeshTriangle{0, 1, 2, {}, 0, {}, 0, 0, 1};
    m->triangles[1] = MeshTriangle{0, 3, 4, {}, 0, {}, 0, 0, 1};
    mesh_compute_normals(m);
    mesh_compute_tangents(m);
    for (int i = 0; i < 5; i++) {
        const VertexTangent& t = m->tangents[i];
        EXPECT_TRUE(std::isfinite(t.tangent.x) && std::isfinite(t.tangent.y) &&
                    std::isfinite(t.tangent.z)) << i;
        EXPECT_TRUE(std::isfinite(t.world_tangent.x)) << i;
    }
    // The shared vertex keeps the good triangle's tangent; the lone degenerate corners stay zero.
    EXPECT_NEAR(m->tangents[0].tangent.x, 1.0f, 1e-6);
    EXPECT_EQ(m->tangents[3].tangent.x, 0.0f);
    // Lighting a mesh with such tangents stays finite too.
    Matrix id;
    mat_identity(&id);
    mesh_transform(m, &id, &id, MESH_PART_NORMALS | MESH_PART_TANGENTS);
    Vec3 l = {0.2f, 0.5f, 1};
    mesh_light(m, &l, MESH_LIGHT_TANGENT);
    EXPECT_EQ(m->vertices[3].colour >> 24, 224u);  // 255 * dot(normalised L, +Z)
    mesh_free(m);
}

TEST(Geometry, NormalsAndTangentsAreTheSameBitsAtEverySimdLevel) {
    // Random meshes with counts that leave partial groups of four, corners shared and repeated,
    // texture coordinates that collapse, coordinates whose directions overflow, one spot with a
    // non-finite position: each level's records must be byte-equal.
    unsigned seed = 11;
    auto rnd = [&](float lo, float hi) { return seeded_float(&seed, lo, hi); };
    const int kVertices = 41, kTriangles = 67;
    const int best = simd_best_level();
    for (int trial = 0; trial < 30; trial++) {
        Mesh* mesh[2];
        for (int k = 0; k < 2; k++) {
            Mesh* x = mesh[k] = mesh_create(kVertices, kTriangles);
            seed = 500u + (unsigned)trial;
            for (int i = 0; i < kVertices; i++) {
                const float u = i % 6 == 0 ? 0.5f : rnd(0, 2), v = i % 6 == 0 ? 0.5f : rnd(0, 2);
                x->vertices[i] = MeshVertex{rnd(-5, 5), rnd(-5, 5), rnd(-5, 5), 0, 0, 0, 0, u, v, 0, 0, 0};
            }
            if (trial % 3 == 0) x->vertices[7].px = 3e38f, x->vertices[7].py = -3e38f;
            if (trial % 5 == 1) x->vertices[9].pz = INFINITY;
            if (trial % 4 == 2) x->vertices[12].u = x->vertices[13].u = 1e-30f, x->vertices[12].v = x->vertices[13].v = 0.0f;
            for (int i = 0; i < kTriangles; i++) {
                int a = (int)rnd(0, kVertices), b = (int)rnd(0, kVertices), c = (int)rnd(0, kVertices);
                if (i % 9 == 3) b = a;                    // no area
                if (i % 7 == 5) a = 0, b = 6, c = 12;    // the same u, v at two corners
                x->triangles[i] = MeshTriangle{a % kVertices, b % kVertices, c % kVertices, {}, 0, {}, 0, 0, 1};
            }
            simd_use_level(k == 0 ? SIMD_SCALAR : best);
            mesh_compute_normals(x);
            mesh_compute_tangents(x);
        }
        simd_use_level(best);
        EXPECT_EQ(std::memcmp(mesh[0]->normals, mesh[1]->normals, kVertices * sizeof(VertexNormal)), 0) << trial;
        EXPECT_EQ(std::memcmp(mesh[0]->triangles, mesh[1]->triangles, kTriangles * sizeof(MeshTriangle)), 0) << trial;
        EXPECT_EQ(std::memcmp(mesh[0]->tangents, mesh[1]->tangents, kVertices * sizeof(VertexTangent)), 0) << trial;
        mesh_free(mesh[0]);
        mesh_free(mesh[1]);
    }
}
