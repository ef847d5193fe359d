// The field lattice: layout and links, resolution changes, blob shapes and bounds, the lookup
// tables, and the polygoniser's per-cell output and drawing.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "gfx/display.h"
#include "gfx/simd.h"
#include "render3d/camera.h"
#include "scenes/field.h"

namespace {

struct Lattice : ::testing::Test {
    FieldLattice* lattice = nullptr;
    void SetUp() override {
        lattice = lattice_create(8);
        ASSERT_NE(lattice, nullptr);
        lattice_build(lattice, 64.0f);
    }
    void TearDown() override { lattice_free(lattice); }
    void set_all(float v) {
        for (int32_t i = 0; i < lattice->point_count; i++) lattice->points[i].value = v;
    }
};

TEST(LatticeCreate, RejectsTooSmallAndFreesNull) {
    EXPECT_EQ(lattice_create(1), nullptr);
    EXPECT_EQ(lattice_create(-5), nullptr);
    lattice_free(nullptr);
    FieldLattice* l = lattice_create(4);
    ASSERT_NE(l, nullptr);
    EXPECT_EQ(l->point_count, 125);
    EXPECT_EQ(l->cell_count, 64);
    EXPECT_EQ(l->light.z, 1.0f);
    lattice_free(l);
}

TEST_F(Lattice, PointsAreCentredAndLinkedToTheirSixNeighbours) {
    EXPECT_FLOAT_EQ(lattice->cell_size, 8.0f);
    LatticePoint* p = lattice_point_at(lattice, 2, 3, 4);
    EXPECT_EQ(p, &lattice->points[(2 * 9 + 3) * 9 + 4]);
    EXPECT_FLOAT_EQ(p->position.x, -16.0f);
    EXPECT_FLOAT_EQ(p->position.y, -8.0f);
    EXPECT_FLOAT_EQ(p->position.z, 0.0f);
    EXPECT_EQ(p->neighbours[0], lattice_point_at(lattice, 1, 3, 4));
    EXPECT_EQ(p->neighbours[1], lattice_point_at(lattice, 3, 3, 4));
    EXPECT_EQ(p->neighbours[2], lattice_point_at(lattice, 2, 2, 4));
    EXPECT_EQ(p->neighbours[3], lattice_point_at(lattice, 2, 4, 4));
    EXPECT_EQ(p->neighbours[4], lattice_point_at(lattice, 2, 3, 3));
    EXPECT_EQ(p->neighbours[5], lattice_point_at(lattice, 2, 3, 5));
    EXPECT_EQ(lattice_point_at(lattice, -1, 0, 0), nullptr);
    EXPECT_EQ(lattice_point_at(lattice, 0, 9, 0), nullptr);
    LatticePoint* corner = lattice_point_at(lattice, 8, 0, 8);
    EXPECT_FLOAT_EQ(corner->position.x, 32.0f);
    EXPECT_EQ(corner->neighbours[1], nullptr);
    EXPECT_EQ(corner->neighbours[2], nullptr);
    EXPECT_EQ(corner->neighbours[5], nullptr);
    EXPECT_NE(corner->neighbours[0], nullptr);
    // Cell (1, 2, 3) in cell order; its corners follow the fixed offset table.
    const LatticeCell* cell = &lattice->cells[(1 * 8 + 2) * 8 + 3];
    const int off[8][3] = {{0, 0, 0}, {0, 0, 1}, {0, 1, 1}, {0, 1, 0},
                           {1, 0, 0}, {1, 0, 1}, {1, 1, 1}, {1, 1, 0}};
    for (int k = 0; k < 8; k++)
        EXPECT_EQ(cell->corners[k], lattice_point_at(lattice, 1 + off[k][0], 2 + off[k][1], 3 + off[k][2]))
            << k;
}

TEST_F(Lattice, ResolutionIsClampedAndRebuildsOnlyOnChange) {
    lattice_set_resolution(lattice, 0, 64.0f);
    EXPECT_EQ(lattice->resolution, 2);
    EXPECT_EQ(lattice->point_count, 27);
    EXPECT_EQ(lattice->cell_count, 8);
    EXPECT_FLOAT_EQ(lattice->cell_size, 32.0f);
    EXPECT_EQ(lattice_point_at(lattice, 2, 2, 2), &lattice->points[26]);
    EXPECT_EQ(lattice_point_at(lattice, 2, 2, 2)->neighbours[1], nullptr);
    lattice_set_resolution(lattice, 1, 64.0f);
    EXPECT_EQ(lattice->resolution, 2);
    lattice_set_resolution(lattice, 40, 64.0f);
    EXPECT_EQ(lattice->resolution, 8);
    EXPECT_EQ(lattice->point_count, 729);
    lattice->points[0].position.x = 123.0f;
    lattice->points[0].value = 5.0f;
    lattice_set_resolution(lattice, 8, 100.0f);  // same N: untouched
    EXPECT_EQ(lattice->points[0].position.x, 123.0f);
    EXPECT_EQ(lattice->points[0].value, 5.0f);
    lattice_set_resolution(lattice, 6, 60.0f);
    EXPECT_FLOAT_EQ(lattice->points[0].position.x, -30.0f);
    EXPECT_EQ(lattice->points[0].value, 0.0f);
}

TEST_F(Lattice, BlobFollowsItsTwoPiecesAndStopsAtTheRadius) {
    // Centre on the lattice point (0, 0, 0) at index 4: neighbours at 8, 16, 24 and 32 units.
    Vec3 c{0.0f, 0.0f, 0.0f};
    lattice_add_blob(lattice, &c, 3.0f, 24.0f);
    LatticePoint* centre = lattice_point_at(lattice, 4, 4, 4);
    EXPECT_FLOAT_EQ(centre->value, 3.0f);
    EXPECT_TRUE(std::isfinite(centre->normal.x));  // the gradient is skipped at r = 0
    EXPECT_EQ(centre->normal.x, 0.0f);
    // r = 8 = R/3: the outer piece, 1.5 s (2/3)^2 = 2 s / 3.
    LatticePoint* p8 = lattice_point_at(lattice, 5, 4, 4);
    EXPECT_NEAR(p8->value, 2.0f, 1e-5f);
    EXPECT_NEAR(p8->normal.x, 8.0f * 24.0f / 64.0f, 1e-5f);
    EXPECT_EQ(p8->normal.y, 0.0f);
    LatticePoint* p16 = lattice_point_at(lattice, 4, 2, 4);  // r = 16, below the centre
    EXPECT_NEAR(p16->value, 1.5f * 3.0f / 9.0f, 1e-5f);
    EXPECT_LT(p16->normal.y, 0.0f);
    EXPECT_EQ(lattice_point_at(lattice, 4, 4, 7)->value, 0.0f);  // r = R exactly
    EXPECT_EQ(lattice_point_at(lattice, 7, 7, 7)->value, 0.0f);
    // Inner piece just inside R/3 meets the outer one.
    FieldLattice* fine = lattice_create(8);
    ASSERT_NE(fine, nullptr);
    lattice_build(fine, 64.0f);
    Vec3 near_third{-7.99f, 0.0f, 0.0f};  // r to point (4,4,4) is 7.99 < 8
    lattice_add_blob(fine, &near_third, 3.0f, 24.0f);
    EXPECT_NEAR(lattice_point_at(fine, 4, 4, 4)->value, 2.0f, 5e-3f);
    lattice_free(fine);
    // Subtracting the same blob restores the empty field.
    lattice_subtract_blob(lattice, &c, 3.0f, 24.0f);
    for (int32_t i = 0; i < lattice->point_count; i++) {
        ASSERT_NEAR(lattice->points[i].value, 0.0f, 1e-6f);
        ASSERT_NEAR(lattice->points[i].normal.x, 0.0f, 1e-6f);
    }
}

TEST_F(Lattice, BlobsAtTheBorderOrOutsideStayInBounds) {
    Vec3 far{500.0f, 0.0f, 0.0f};
    lattice_add_blob(lattice, &far, 1.0f, 20.0f);
    Vec3 below{0.0f, -500.0f, 0.0f};
    lattice_add_blob(lattice, &below, 1.0f, 20.0f);
    Vec3 nan{NAN, 0.0f, 0.0f};
    lattice_add_blob(lattice, &nan, 1.0f, 20.0f);
    for (int32_t i = 0; i < lattice->point_count; i++) ASSERT_EQ(lattice->points[i].value, 0.0f);
    // A huge blob on a corner reaches every point inside its radius and only those.
    Vec3 corner{32.0f, 32.0f, 32.0f};
    lattice_add_blob(lattice, &corner, 1.0f, 60.0f);
    for (int32_t i = 0; i < lattice->point_count; i++) {
        const LatticePoint* p = &lattice->points[i];
        Vec3 d{p->position.x - 32.0f, p->position.y - 32.0f, p->position.z - 32.0f};
        ASSERT_EQ(p->value > 0.0f, vec3_length(&d) < 60.0f) << i;
    }
    lattice_scale_values(lattice, 0.5f);
    EXPECT_FLOAT_EQ(lattice_point_at(lattice, 8, 8, 8)->value, 0.5f);
    lattice->cells[3].spare = &lattice->points[0];
    lattice_scale_values(lattice, 0.0f);
    EXPECT_EQ(lattice->cells[3].spare, nullptr);
    for (int32_t i = 0; i < lattice->point_count; i++) {
        ASSERT_EQ(lattice->points[i].value, 0.0f);
        ASSERT_EQ(lattice->points[i].normal.z, 0.0f);
    }
}

// The blob as written down: every point of the lattice judged by its rounded distance alone.
void reference_blob(FieldLattice* lattice, const Vec3* centre, float s, float radius, float sign) {
    for (int32_t i = 0; i < lattice->point_count; i++) {
        LatticePoint* p = &lattice->points[i];
        Vec3 d;
        vec3_sub(&p->position, centre, &d);
        float r = std::sqrt(vec3_dot(&d, &d));
        if (!(r < radius)) continue;
        float f = r < radius / 3.0f ? s * (1.0f - 3.0f * r * r / (radius * radius))
                                    : 1.5f * s * (1.0f - r / radius) * (1.0f - r / radius);
        p->value += sign * f;
        if (r > 0.0f) {
            float g = sign * (radius / (r * r));
            p->normal.x += d.x * g;
            p->normal.y += d.y * g;
            p->normal.z += d.z * g;
        }
    }
}

TEST(LatticeBlobs, VisitedPointsAreExactlyThoseEveryPointJudgedAloneWouldTouch) {
    // Random blobs inside, across and outside lattices of several sizes, centres on lattice
    // points and radii reaching exactly to lattice points among them; bit-equal values and normals,
    // with the scalar points and with four and eight lanes of them (rows of every length, so every tail).
    const int best = simd_best_level();
    for (int level = SIMD_SCALAR; level <= best; level++) {
        simd_use_level(level);
        SCOPED_TRACE(simd_level_name(level));
        FieldLattice* got = lattice_create(24);
        FieldLattice* want = lattice_create(24);
        ASSERT_NE(got, nullptr);
        ASSERT_NE(want, nullptr);
        unsigned seed = 11;
        auto rnd = [&](float lo, float hi) {
            seed = seed * 1664525u + 1013904223u;
            return lo + (hi - lo) * (float)(seed >> 8) / 16777216.0f;
        };
        int touched = 0;
        for (int trial = 0; trial < 40; trial++) {
            const int32_t n = 3 + trial % 22;
            const float edge = trial % 2 ? 32.0f : 100.0f;
            for (FieldLattice* l : {got, want}) {
                lattice_set_resolution(l, n, edge);
                lattice_build(l, edge);
                // Negative zeros must come through where a blob leaves a point alone.
                for (int32_t i = 0; trial % 3 == 2 && i < l->point_count; i++) {
                    l->points[i].value = -0.0f;
                    l->points[i].normal = Vec3{-0.0f, -0.0f, -0.0f};
                }
            }
            const float cell = got->cell_size;
            for (int b = 0; b < 12; b++) {
                Vec3 c{rnd(-0.7f, 0.7f) * edge, rnd(-0.7f, 0.7f) * edge, rnd(-0.7f, 0.7f) * edge};
                float radius = rnd(0.1f, 0.6f) * edge;
                if (b % 4 == 1) c = got->points[(int32_t)rnd(0, (float)got->point_count - 1)].position;
                if (b % 4 == 2) radius = cell * (float)(int)rnd(1, 6);
                const float strength = rnd(0.5f, 3.0f), sign = b % 3 ? 1.0f : -1.0f;
                if (sign > 0) lattice_add_blob(got, &c, strength, radius);
                else lattice_subtract_blob(got, &c, strength, radius);
                reference_blob(want, &c, strength, radius, sign);
            }
            for (int32_t i = 0; i < got->point_count; i++) {
                const LatticePoint *g = &got->points[i], *w = &want->points[i];
                ASSERT_EQ(std::memcmp(&g->value, &w->value, sizeof(float)), 0) << "trial " << trial << " point " << i;
                ASSERT_EQ(std::memcmp(&g->normal, &w->normal, sizeof(Vec3)), 0) << "trial " << trial << " point " << i;
                touched += g->value != 0.0f;
            }
        }
        EXPECT_GT(touched, 5000);
        lattice_free(got);
        lattice_free(want);
    }
    simd_use_level(best);
}

TEST(FieldTables, EveryTriangleRowUsesExactlyItsCutEdges) {
    EXPECT_EQ(field_edge_table[1], 0x109);
    EXPECT_EQ(field_triangle_table[1][0], 0);
    EXPECT_EQ(field_triangle_table[1][1], 8);
    EXPECT_EQ(field_triangle_table[1][2], 3);
    EXPECT_EQ(field_triangle_table[1][3], -1);
    for (int i = 0; i < 256; i++) {
        unsigned used = 0;
        int n = 0;
        while (n < 16 && field_triangle_table[i][n] >= 0) used |= 1u << field_triangle_table[i][n++];
        ASSERT_LE(n, 15) << i;
        ASSERT_EQ(n % 3, 0) << i;
        ASSERT_EQ(used, field_edge_table[i]) << i;
        // A cut edge has its two corners on opposite sides of the surface.
        for (int e = 0; e < 12; e++) {
            int a = (i >> field_edge_corners[e][0]) & 1, b = (i >> field_edge_corners[e][1]) & 1;
            ASSERT_EQ((field_edge_table[i] >> e) & 1, (unsigned)(a != b)) << i << " " << e;
        }
    }
}

struct Cell : Lattice {
    Matrix identity;
    MeshVertex out[15];
    LatticeCell* cell;
    void SetUp() override {
        Lattice::SetUp();
        mat_identity(&identity);
        cell = &lattice->cells[0];
    }
    void set_index(int index) {
        for (int k = 0; k < 8; k++) cell->corners[k]->value = (index >> k) & 1 ? 0.0f : 1.0f;
    }
    int32_t run(float iso = 0.5f) {
        return lattice_polygonise_cell(lattice, cell, iso, &identity, &identity, out);
    }
};

TEST_F(Cell, UniformCellsEmitNothingAndCheckerboardsFourTriangles) {
    set_all(1.0f);
    EXPECT_EQ(run(), 0);
    set_all(0.0f);
    EXPECT_EQ(run(), 0);
    set_all(0.5f);  // equal to iso is not below it
    EXPECT_EQ(run(), 0);
    set_index(85);
    EXPECT_EQ(run(), 12);
    set_index(170);
    EXPECT_EQ(run(), 12);
    set_index(1);
    EXPECT_EQ(run(), 3);
}

TEST_F(Cell, VerticesLieOnTheCutEdgesWithReversedWinding) {
    set_index(1);  // only corner 0 below: edges 0, 8, 3 emitted as 0, 3, 8
    cell->corners[0]->value = 0.0f;
    cell->corners[1]->value = 2.0f;  // edge 0 (corners 0-1, along +z) cut at a quarter
    ASSERT_EQ(run(0.5f), 3);
    const Vec3 p0 = cell->corners[0]->position;
    EXPECT_FLOAT_EQ(out[0].px, p0.x);
    EXPECT_FLOAT_EQ(out[0].pz, p0.z + 2.0f);
    EXPECT_FLOAT_EQ(out[1].py, p0.y + 4.0f);  // edge 3 (corners 3-0, along y) at the midpoint
    EXPECT_FLOAT_EQ(out[2].px, p0.x + 4.0f);  // edge 8 (corners 0-4, along x)
    // Identity matrices: w = 1, so the screen position is the position itself and rhw holds w.
    EXPECT_FLOAT_EQ(out[2].sx, out[2].px);
    EXPECT_FLOAT_EQ(out[2].rhw, 1.0f);
}

TEST_F(Cell, ZeroWKeepsUndividedCoordinatesAndNormalsSetColourAndMapping) {
    set_index(1);
    Matrix flat = identity;
    flat.m[15] = 0.0f;  // w = 0 everywhere
    for (int k = 0; k < 8; k++) cell->corners[k]->normal = Vec3{0.0f, 0.0f, -3.0f};
    ASSERT_EQ(lattice_polygonise_cell(lattice, cell, 0.5f, &flat, &identity, out), 3);
    EXPECT_FLOAT_EQ(out[1].sy, out[1].py);
    EXPECT_EQ(out[1].rhw, 0.0f);
    EXPECT_EQ(out[0].colour, 63u * 0x01010101u);  // turned away from the light (0, 0, 1)
    EXPECT_FLOAT_EQ(out[0].u, 0.5f);
    EXPECT_FLOAT_EQ(out[0].env_v, 0.5f);
    for (int k = 0; k < 8; k++) cell->corners[k]->normal = Vec3{0.0f, 0.0f, 2.0f};
    ASSERT_EQ(run(), 3);
    EXPECT_EQ(out[2].colour, 0xFFFFFFFFu);
    for (int k = 0; k < 8; k++) cell->corners[k]->normal = Vec3{1.0f, 1.0f, 0.0f};
    ASSERT_EQ(run(), 3);
    EXPECT_EQ(out[0].colour, 63u * 0x01010101u);
    EXPECT_NEAR(out[0].env_u, (1.0f + std::sqrt(0.5f)) * 0.5f, 1e-6f);
    EXPECT_NEAR(out[0].v, (1.0f - std::sqrt(0.5f)) * 0.5f, 1e-6f);
}

TEST_F(Lattice, EdgeVerticesInLanesMatchOneAtATime) {
    // Random fields and edges with ordinary and awkward matrices: w of 0, corners far beyond set-up's
    // judged reach and at it, normals of zero length, infinite values (NaN vertices), every count of
    // jobs from 1 to 19 so every partial group of four and eight lanes; bit-equal vertices and
    // corners at every level against one at a time.
    unsigned seed = 3;
    auto rnd = [&](float lo, float hi) {
        seed = seed * 1664525u + 1013904223u;
        return lo + (hi - lo) * (float)(seed >> 8) / 16777216.0f;
    };
    const int best = simd_best_level();
    int judged = 0, unjudged = 0, flat_w = 0, not_numbers = 0;
    // Sixty trials at each level with lanes (the scalar path alone where there are none).
    const int levels = best > SIMD_SCALAR ? best : 1;
    for (int trial = 0; trial < 60 * levels; trial++) {
        const int level = best > SIMD_SCALAR ? SIMD_SSE2 + trial / 60 : SIMD_SCALAR;
        for (int32_t i = 0; i < lattice->point_count; i++) {
            LatticePoint* p = &lattice->points[i];
            p->value = rnd(-2.0f, 2.0f);
            p->normal = trial % 5 == 4 ? Vec3{0.0f, 0.0f, 0.0f} : Vec3{rnd(-3, 3), rnd(-3, 3), rnd(-3, 3)};
        }
        Matrix screen, normal;
        for (int k = 0; k < 16; k++) {
            screen.m[k] = rnd(-2.0f, 2.0f) * (trial % 3 == 1 ? 3000.0f : 1.0f);
            normal.m[k] = rnd(-1.0f, 1.0f);
        }
        if (trial % 4 == 3) screen.m[3] = screen.m[7] = screen.m[11] = screen.m[15] = 0.0f;
        if (trial % 6 == 5) {  // x exactly at the reach for the first point
            mat_identity(&screen);
            screen.m[12] = 65536.0f - lattice->points[0].position.x;
        }
        lattice->light = Vec3{rnd(-1, 1), rnd(-1, 1), rnd(-1, 1)};
        vec3_normalize(&lattice->light, &lattice->light);
        const int count = 1 + trial % 19;
        LatticeEdgeJob jobs[2][19];
        LatticeEdgeVertex made[2][19];
        std::memset(made, 0xA5, sizeof made);
        for (int j = 0; j < count; j++) {
            const int32_t a = j == 0 && trial % 6 == 5 ? 0 : (int32_t)rnd(0, 600);
            const int32_t b = a + (j % 3 == 0 ? 1 : j % 3 == 1 ? 9 : 81);
            const int32_t ends[2] = {a, b};
            if (j == 0 && trial % 7 == 6) lattice->points[a].value = -INFINITY;
            if (!(lattice->points[a].value < 0.5f) == !(lattice->points[b].value < 0.5f))
                lattice->points[b].value = lattice->points[a].value < 0.5f ? 1.5f : -1.0f;
            for (int lane = 0; lane < 2; lane++) jobs[lane][j] = LatticeEdgeJob{ends[j % 2], ends[1 - j % 2], &made[lane][j]};
        }
        for (int lane = 0; lane < 2; lane++) {
            simd_use_level(lane ? level : SIMD_SCALAR);
            lattice_edges_make(lattice, jobs[lane], count, 0.5f, &screen, &normal);
        }
        simd_use_level(best);
        for (int j = 0; j < count; j++) {
            ASSERT_EQ(std::memcmp(&made[0][j].vertex, &made[1][j].vertex, sizeof(MeshVertex)), 0)
                << simd_level_name(level) << " trial " << trial << " job " << j;
            ASSERT_EQ(std::memcmp(&made[0][j].corner, &made[1][j].corner, sizeof(SetupCorner)), 0)
                << simd_level_name(level) << " trial " << trial << " job " << j;
            judged += made[0][j].corner.judged;
            unjudged += !made[0][j].corner.judged;
            flat_w += made[0][j].vertex.rhw == 0.0f;
            not_numbers += std::isnan(made[0][j].vertex.px);
        }
    }
    EXPECT_GT(judged, 50);
    EXPECT_GT(unjudged, 20);
    EXPECT_GT(flat_w, 20);
    EXPECT_GT(not_numbers, 5);
}

TEST_F(Lattice, PolygoniserDrawsASphereInFrontOfTheCamera) {
    ASSERT_EQ(display_open_offscreen(1), 0);
    Camera camera{};
    camera.eye = Vec3{0.0f, 0.0f, 120.0f};
    camera_set_screen(&camera, 1.0f, 256.0f);
    mat_identity(&lattice->object_matrix);
    lattice->light = Vec3{0.0f, 0.0f, 4.0f};
    Vec3 c{0.0f, 0.0f, 0.0f};
    lattice_add_blob(lattice, &c, 2.0f, 28.0f);
    frame_begin();
    frame_clear(0xFF000000u);
    lattice_polygonise(lattice, 1.0f, &camera, nullptr, RENDER_GOURAUD | RENDER_DEPTH);
    EXPECT_FLOAT_EQ(lattice->light.z, 1.0f);
    int lit = 0, centre = 0;
    for (int y = 0; y < 480; y++)
        for (int x = 0; x < 640; x++)
            if (framebuffer.pixels[y * 640 + x] != 0xFF000000u) {
                lit++;
                if (x == 320 && y == 240) centre = 1;
            }
    EXPECT_TRUE(centre);
    EXPECT_GT(lit, 2000);
    EXPECT_LT(lit, 640 * 480 / 2);
    display_close();
}

TEST_F(Lattice, SharedEdgesDrawWhatEveryCellComputingItsOwnDraws) {
    // Lumpy fields at two resolutions and several views, each drawn twice by the polygoniser (the
    // edge cache must not carry anything from one call to the next, so it is filled with rubbish
    // first: a cell taking an edge no earlier cell of the call has made draws it), once passing over
    // uncut cells one by one and once sixteen at a time, against every cell polygonised on its own;
    // the pictures and depth buffers must be equal bit for bit.
    ASSERT_EQ(display_open_offscreen(1), 0);
    std::vector<uint32_t> want_px, got_px;
    std::vector<int32_t> want_z, got_z;
    unsigned s = 5;
    auto rnd = [&](float lo, float hi) {
        s = s * 1664525u + 1013904223u;
        return lo + (hi - lo) * (float)(s >> 8) / 16777216.0f;
    };
    int covered = 0;
    for (int trial = 0; trial < 6; trial++) {
        lattice_set_resolution(lattice, trial < 3 ? 8 : 5, 64.0f);
        lattice_scale_values(lattice, 0.0f);
        for (int b = 0; b < 6; b++) {
            Vec3 c{rnd(-24, 24), rnd(-24, 24), rnd(-24, 24)};
            lattice_add_blob(lattice, &c, rnd(1, 3), rnd(8, 30));
        }
        // Points exactly at the level are not below it, whichever way the corners are tested.
        for (int32_t i = 0; trial % 2 == 1 && i < lattice->point_count; i += 7) lattice->points[i].value = 1.0f;
        Camera camera{};
        camera_orbit(&camera, rnd(0.2f, 3.0f), rnd(-3, 3), rnd(70, 140), nullptr);
        camera.near = 1.0f, camera.far = 256.0f, camera.fov = 45.0f;
        camera.viewport_w = 640, camera.viewport_h = 480;
        camera_update(&camera);
        lattice->light = Vec3{0.3f, 0.5f, 1.0f};
        const RenderMode mode = RENDER_GOURAUD | RENDER_DEPTH;
        frame_begin();
        frame_clear(0xFF000000u);
        Matrix screen, normal;
        camera_object_matrices(&camera, &lattice->object_matrix, &screen, &normal);
        vec3_normalize(&lattice->light, &lattice->light);
        MeshVertex list[15];
        for (int32_t i = 0; i < lattice->cell_count; i++) {
            int32_t count = lattice_polygonise_cell(lattice, &lattice->cells[i], 1.0f, &screen, &normal, list);
            if (count >= 3) polygon_draw_list(list, count, 0, 0xFFFFFF, nullptr, mode);
        }
        want_px.assign(framebuffer.pixels, framebuffer.pixels + 640 * 480);
        want_z.assign(depth_buffer->values, depth_buffer->values + 640 * 480);
        for (int again = 0; again < 2; again++) {
            frame_begin();
            frame_clear(0xFF000000u);
            simd_use_level(again ? simd_best_level() : SIMD_SCALAR);
            const int32_t side = lattice->max_resolution + 1;
            std::memset((void*)lattice->edge_cache, 0x47, 9 * (size_t)side * side * sizeof(LatticeEdgeVertex));
            lattice_polygonise(lattice, 1.0f, &camera, nullptr, mode);
            simd_use_level(simd_best_level());
            got_px.assign(framebuffer.pixels, framebuffer.pixels + 640 * 480);
            got_z.assign(depth_buffer->values, depth_buffer->values + 640 * 480);
            ASSERT_EQ(got_px, want_px) << "trial " << trial << ", call " << again;
            ASSERT_EQ(got_z, want_z) << "trial " << trial << ", call " << again;
        }
        for (uint32_t p : want_px) covered += p != 0xFF000000u;
    }
    EXPECT_GT(covered, 20000);
    display_close();
}

}  // namespace
