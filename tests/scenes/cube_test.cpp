// The voxel-cube scene: colour scaling, camera and generator schedules, the per-point cube faces
// (size, hidden faces, lost texture detail), the slab field, and the scene with the data set.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>

#include "gfx/display.h"
#include "gfx/image.h"
#include "procedural/noise.h"
#include "runtime/clock.h"
#include "scenes/cube_ops.h"
#include "scenes/scenes.h"
#include "support/test_support.h"

namespace {

TEST(CubeColour, ScalesChannelsAndDropsAlpha) {
    EXPECT_EQ(colour_scale(0xFFFFFFFFu, 1.0f), 0x00FEFEFEu);
    EXPECT_EQ(colour_scale(0xFFFF8000u, 0.5f), 0x007E3F00u);  // k = 127
    EXPECT_EQ(colour_scale(0xFF123456u, 0.0f), 0u);
}

TEST(CubeSchedule, EyeAndGeneratorsFollowTheBeat) {
    Vec3 e = cube_eye(40.0f, 0.0f);
    EXPECT_FLOAT_EQ(e.x, 0.0f);
    EXPECT_FLOAT_EQ(e.z, 156.0f);
    EXPECT_FLOAT_EQ(e.y, std::sin(0.39f) * 128.0f);
    // From beat 92 the orbit closes in by 32 units a beat.
    for (float beat : {92.0f, 93.5f, 95.0f}) {
        e = cube_eye(beat, 0.0f);
        EXPECT_NEAR(std::sqrt(e.x * e.x + e.z * e.z), 208.0f - (beat - 92.0f) * 32.0f, 1e-3f);
    }
    // Before that the orbit breathes between 0.6 and the whole of 208 units, at heights within 128.
    float nearest = 1e9f, farthest = 0.0f;
    for (float beat = 64.0f; beat < 92.0f; beat += 0.05f) {
        e = cube_eye(beat, 0.0f);
        const float r = std::sqrt(e.x * e.x + e.z * e.z);
        ASSERT_GE(r, 0.6f * 208.0f - 1e-2f) << beat;
        ASSERT_LE(r, 208.0f + 1e-2f) << beat;
        ASSERT_LE(std::fabs(e.y), 128.0f) << beat;
        nearest = std::fmin(nearest, r);
        farthest = std::fmax(farthest, r);
    }
    EXPECT_LT(nearest, 0.62f * 208.0f);
    EXPECT_GT(farthest, 0.98f * 208.0f);
    EXPECT_EQ(cube_generator(32), CUBE_FIELD_EASED_SLABS);
    EXPECT_EQ(cube_generator(63), CUBE_FIELD_EASED_SLABS);
    EXPECT_EQ(cube_generator(64), CUBE_FIELD_NOISE);
    EXPECT_EQ(cube_generator(69), CUBE_FIELD_METABALLS);
    EXPECT_EQ(cube_generator(74), CUBE_FIELD_FRACTAL);
    EXPECT_EQ(cube_generator(79), CUBE_FIELD_SLABS);
    EXPECT_EQ(cube_generator(80), CUBE_FIELD_NOISE);
    EXPECT_EQ(cube_generator(91), CUBE_FIELD_FRACTAL);  // 91 mod 16 = 11
    for (int b = 92; b < 96; b++) EXPECT_EQ(cube_generator(b), CUBE_FIELD_SLABS) << b;
}

// A stand-in cube laid out like the data set's: faces -x, -y, +z, +y, -z, +x, four vertices and
// two triangles each, every vertex at (0.5, 0.5, 0.5) with u = v = 1.
struct Voxels : ::testing::Test {
    Mesh* cube = nullptr;
    Mesh* batch = nullptr;
    FieldLattice* lattice = nullptr;
    void SetUp() override {
        cube = mesh_create(24, 12);
        batch = mesh_create(4096, 2048);
        lattice = lattice_create(4);
        ASSERT_TRUE(cube && batch && lattice);
        lattice_build(lattice, 40.0f);
        const Vec3 normals[6] = {{-1, 0, 0}, {0, -1, 0}, {0, 0, 1}, {0, 1, 0}, {0, 0, -1}, {1, 0, 0}};
        for (int f = 0; f < 6; f++) {
            for (int j = 0; j < 2; j++) {
                cube->triangles[f * 2 + j].normal = normals[f];
                cube->triangles[f * 2 + j].base_colour = 0xFFFFFFFFu;
            }
            for (int j = 0; j < 4; j++) {
                MeshVertex* v = &cube->vertices[f * 4 + j];
                v->px = v->py = v->pz = 0.5f;
                v->u = v->v = 1.0f;
            }
        }
        batch->vertex_count = batch->triangle_count = 0;
    }
    void TearDown() override {
        mesh_free(cube);
        mesh_free(batch);
        lattice_free(lattice);
    }
    LatticePoint* at(int x, int y, int z) { return lattice_point_at(lattice, x, y, z); }
};

TEST_F(Voxels, SizeFollowsTheValueAndWeakPointsShowNothing) {
    const Vec3 all_sides{1.0f, 1.0f, 1.0f};  // sees the +x, +y and +z faces
    LatticePoint* p = at(2, 2, 2);
    p->value = 0.07f;
    EXPECT_EQ(voxel_append_cube(batch, cube, lattice, p, &all_sides), 0);
    EXPECT_EQ(batch->vertex_count, 0);
    p->value = 0.1f;
    ASSERT_EQ(voxel_append_cube(batch, cube, lattice, p, &all_sides), 3);
    EXPECT_EQ(batch->vertex_count, 12);
    EXPECT_EQ(batch->triangle_count, 6);
    const float size = 0.19f * 10.0f;
    EXPECT_NEAR(batch->vertices[0].px, 0.5f * size + p->position.x, 1e-4f);
    // Isolated: every neighbour below 0.05, so no texture detail.
    for (int i = 0; i < batch->vertex_count; i++) {
        EXPECT_EQ(batch->vertices[i].u, 0.0f);
        EXPECT_EQ(batch->vertices[i].v, 0.0f);
    }
    // The quad splits as (n, n+1, n+3) and (n+1, n+2, n+3), brightness 0.75 w + 0.25.
    EXPECT_EQ(batch->triangles[2].vertex_a, 4);
    EXPECT_EQ(batch->triangles[3].vertex_a, 5);
    EXPECT_EQ(batch->triangles[3].vertex_c, 7);
    EXPECT_EQ(batch->triangles[0].base_colour, colour_scale(0xFFFFFFFFu, 0.75f * 0.19f + 0.25f));
    EXPECT_EQ(batch->triangles[0].visible, 1);
}

TEST_F(Voxels, FullNeighboursHideSharedFacesAndKeepTexture) {
    // Looking along +x: the -x face turns away, the four side faces are edge-on and still drawn.
    const Vec3 from_plus_x{1.0f, 0.0f, 0.0f};
    LatticePoint* p = at(1, 1, 1);
    LatticePoint* q = at(2, 1, 1);
    p->value = 0.9f;
    q->value = 0.9f;
    EXPECT_EQ(voxel_append_cube(batch, cube, lattice, p, &from_plus_x), 4);  // +x face shared
    EXPECT_EQ(batch->vertices[0].u, 0.0f);  // first shown face is -y: its neighbour is empty
    batch->vertex_count = batch->triangle_count = 0;
    q->value = 0.5f;  // no longer full: shown first, with texture
    ASSERT_EQ(voxel_append_cube(batch, cube, lattice, p, &from_plus_x), 5);
    EXPECT_EQ(batch->vertices[0].u, 1.0f);
    EXPECT_EQ(batch->vertices[4].u, 0.0f);
    // At the lattice border the +x face always shows, without texture detail.
    batch->vertex_count = batch->triangle_count = 0;
    LatticePoint* edge = at(4, 1, 1);
    edge->value = 2.0f;
    ASSERT_EQ(voxel_append_cube(batch, cube, lattice, edge, &from_plus_x), 5);
    EXPECT_EQ(batch->vertices[0].u, 0.0f);
    EXPECT_NEAR(batch->vertices[0].px, 0.5f * 10.0f + 20.0f, 1e-4f);  // w = 1 at values above 1
}

TEST(CubeField, SlabsAreSymmetricAndPeakOnThePlanes) {
    FieldLattice* lattice = lattice_create(6);
    ASSERT_NE(lattice, nullptr);
    lattice_build(lattice, 128.0f);
    field_slabs(lattice, 3.7f);
    EXPECT_FLOAT_EQ(lattice_point_at(lattice, 3, 3, 3)->value, 256.0f * 2.75f);
    for (int32_t i = 0; i < lattice->point_count; i++) {
        const float v = lattice->points[i].value;
        ASSERT_GT(v, 0.0f);
        ASSERT_NEAR(v, lattice->points[lattice->point_count - 1 - i].value, v * 1e-4f) << i;
    }
    lattice_free(lattice);
}

struct CubeData : SceneData {
    void SetUp() override {
        SceneData::SetUp();
        if (ready()) {
            ASSERT_EQ(scene_cube_init(), 0);
        }
    }
    void TearDown() override {
        scene_cube_free();
        SceneData::TearDown();
    }
};

TEST_F(CubeData, FaceTablesMatchTheCubeObject) {
    ASSERT_EQ(cube_mesh->vertex_count, 24);
    ASSERT_EQ(cube_mesh->triangle_count, 12);
    // Direction order -x, +x, -y, +y, -z, +z; first triangle and first vertex of each face.
    const int tri[6] = {0, 10, 2, 6, 8, 4}, vert[6] = {0, 20, 4, 12, 16, 8};
    for (int f = 0; f < 6; f++) {
        const float sign = f % 2 ? 1.0f : -1.0f;
        const int axis = f / 2;
        for (int j = 0; j < 2; j++) {
            const Vec3 n = cube_mesh->triangles[tri[f] + j].normal;
            EXPECT_NEAR((&n.x)[axis], sign, 1e-4f) << f;
        }
        for (int j = 0; j < 4; j++) {
            const MeshVertex* v = &cube_mesh->vertices[vert[f] + j];
            EXPECT_NEAR((&v->px)[axis], 0.5f * sign, 1e-4f) << f << " " << j;
        }
    }
}

TEST_F(CubeData, DrawsOverItsBeatsAndRebuildsAfterFree) {
    const uint32_t grey = 0xFF7F7F7Fu;
    blob_paths_ready = 0;
    for (float beat = 32.0f; beat < 96.0f; beat += 5.3f) {
        frame_begin();
        frame_clear(grey);
        demo_clock.clock_beat = beat;
        scene_cube_render(beat * 60.0f / 105.0f);
        EXPECT_GT(covered(grey), 640 * 480 / 100) << beat;
    }
    ASSERT_TRUE(blob_paths_ready);  // beats 69.2 and 74.5 ran the metaballs
    for (int i = 0; i < 15; i++) {
        EXPECT_GE(blob_paths[i][0], -48.0f);
        EXPECT_LT(blob_paths[i][2], 48.0f);
        EXPECT_EQ(blob_paths[i][3], 48.0f);
    }
    EXPECT_EQ(cube_lattice->resolution, 12);
    scene_cube_free();
    EXPECT_EQ(cube_mesh, nullptr);
    frame_clear(grey);
    scene_cube_render(20.0f);  // freed: nothing drawn
    EXPECT_EQ(covered(grey), 0);
    ASSERT_EQ(scene_cube_init(), 0);
    ASSERT_EQ(scene_cube_init(), 0);  // a second init replaces everything
}

TEST(CubeInit, FailsCleanlyWithoutTheCube) {
    char saved[4096];
    ASSERT_NE(getcwd(saved, sizeof saved), nullptr);
    ASSERT_EQ(chdir("/"), 0);
    EXPECT_EQ(scene_cube_init(), 1);
    EXPECT_EQ(cube_mesh, nullptr);
    EXPECT_EQ(cube_batch, nullptr);
    EXPECT_EQ(cube_lattice, nullptr);
    ASSERT_EQ(chdir(saved), 0);
}

}  // namespace
