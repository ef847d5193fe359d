// Conversion of objects into meshes, with and without seam splitting, and the data set's objects.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/stat.h>

#include "lwo/lwo_mesh.h"
#include "lwo/lwo_writer.h"

namespace {

Mesh* convert(const LwoTestObject& o, bool split) {
    LwLayer* object = lwo_test_load(lwo_writer_object(o));
    if (!object) return nullptr;
    return split ? mesh_from_lwo_object_split(object) : mesh_from_lwo_object(object);
}

// Two triangles sharing the edge 1-2 in the plane z = 0, with a TXUV map and a per-polygon entry
// for point 1 of the second triangle at (u, v).
LwoTestObject seam(float u, float v) {
    LwoTestObject o;
    o.points = {0, 0, 0, 1, 0, 0, 0, 1, 0, 1, 1, 0};
    o.polygons = {{0, 1, 2}, {1, 3, 2}};
    LwoTestSurface s;
    s.name = "s";
    s.map_name = "uv";
    o.surfaces.push_back(s);
    o.uv_name = "uv";
    o.uvs = {0, 0, 0.5f, 0, 0, 1, 1, 1};
    o.vmad_name = "uv";
    o.vmad = {{1, 1, u, v}};
    return o;
}

}  // namespace

TEST(Conversion, CubeOfQuadsGivesEightVerticesAndTwelveTriangles) {
    Mesh* mesh = convert(lwo_test_cube8(), false);
    ASSERT_NE(mesh, nullptr);
    EXPECT_EQ(mesh->vertex_count, 8);
    EXPECT_EQ(mesh->triangle_count, 12);
    EXPECT_EQ(mesh->vertices[7].px, 0.5f);
    EXPECT_EQ(mesh->vertices[6].px, -0.5f);
    for (int t = 0; t < mesh->triangle_count; t++) {
        const MeshTriangle& tri = mesh->triangles[t];
        EXPECT_EQ(tri.base_colour, 0xFFFFFFFFu);
        EXPECT_EQ(tri.visible, 1);
        // Outward faces: the normal points the same way as the first corner from the centre.
        const MeshVertex& a = mesh->vertices[tri.vertex_a];
        EXPECT_GT(tri.normal.x * a.px + tri.normal.y * a.py + tri.normal.z * a.pz, 0.0f);
        EXPECT_FLOAT_EQ(tri.plane_d, -0.5f);
    }
    // The first quad (0, 4, 6, 2) became (0, 4, 6) and (0, 6, 2).
    EXPECT_EQ(mesh->triangles[1].vertex_a, 0);
    EXPECT_EQ(mesh->triangles[1].vertex_b, 6);
    EXPECT_EQ(mesh->triangles[1].vertex_c, 2);
    // Smooth point normals run along the cube's diagonals.
    EXPECT_NEAR(mesh->normals[7].normal.x, 0.57735f, 1e-5);
    EXPECT_NEAR(mesh->normals[0].normal.z, -0.57735f, 1e-5);
    mesh_free(mesh);
}

TEST(Conversion, SurfaceColourTruncatesEachChannel) {
    LwoTestObject o = lwo_test_cube8();
    o.surfaces[0].colour[0] = 1.0f, o.surfaces[0].colour[1] = 0.5f, o.surfaces[0].colour[2] = 0.0f;
    Mesh* mesh = convert(o, false);
    ASSERT_NE(mesh, nullptr);
    EXPECT_EQ(mesh->triangles[0].base_colour, 0xFFFF7F00u);
    mesh_free(mesh);
    EXPECT_EQ(lwo_surface_colour(nullptr), 0xFFFFFFFFu);
    LwSurface s = {};
    s.colour[0] = 2.0f, s.colour[1] = -1.0f, s.colour[2] = 0.999f;
    EXPECT_EQ(lwo_surface_colour(&s), 0xFFFF00FEu) << "out-of-range channels are clamped";
}

TEST(Conversion, TransparentPolygonsComeLast) {
    LwoTestObject o = lwo_test_cube8();
    LwoTestSurface glass = o.surfaces[0];
    glass.name = "glass";
    glass.transparency = 0.6f;
    glass.colour[0] = 0.0f;
    o.surfaces.push_back(glass);
    o.polygon_surface = {1, 0, 0, 0, 0, 0};
    Mesh* mesh = convert(o, true);
    ASSERT_NE(mesh, nullptr);
    EXPECT_EQ(mesh->triangles[9].base_colour, 0xFFFFFFFFu);
    EXPECT_EQ(mesh->triangles[10].base_colour, 0xFF00FFFFu);
    EXPECT_EQ(mesh->triangles[11].base_colour, 0xFF00FFFFu);
    mesh_free(mesh);
}

TEST(Conversion, CoordinatesFromTheMapsWithVFlipped) {
    LwoTestObject o = seam(0.75f, 0.25f);
    o.vmad.clear();
    o.vmad_name.clear();
    Mesh* mesh = convert(o, false);
    ASSERT_NE(mesh, nullptr);
    EXPECT_EQ(mesh->vertices[1].u, 0.5f);
    EXPECT_EQ(mesh->vertices[1].v, 1.0f);
    EXPECT_EQ(mesh->vertices[2].v, 0.0f);
    mesh_free(mesh);

    // Without a polygon using the map, the point slot's coordinates are taken as stored.
    o.surfaces[0].map_name = "other";
    mesh = convert(o, false);
    ASSERT_NE(mesh, nullptr);
    EXPECT_EQ(mesh->vertices[2].v, 1.0f);
    EXPECT_EQ(mesh->vertices[3].u, 1.0f);
    mesh_free(mesh);
}

TEST(Conversion, SharedVerticesTakeTheLastPolygonsCoordinates) {
    Mesh* mesh = convert(seam(0.75f, 0.25f), false);
    ASSERT_NE(mesh, nullptr);
    EXPECT_EQ(mesh->vertex_count, 4);
    EXPECT_EQ(mesh->vertices[1].u, 0.75f);
    EXPECT_EQ(mesh->vertices[1].v, 0.75f);
    mesh_free(mesh);
}

TEST(Split, DifferingSeamCoordinateMakesOneVertex) {
    Mesh* mesh = convert(seam(0.75f, 0.25f), true);
    ASSERT_NE(mesh, nullptr);
    EXPECT_EQ(mesh->vertex_count, 5);
    EXPECT_EQ(mesh->triangles[0].vertex_b, 1);
    EXPECT_EQ(mesh->triangles[1].vertex_a, 4);
    EXPECT_EQ(mesh->vertices[1].u, 0.5f);
    EXPECT_EQ(mesh->vertices[4].u, 0.75f);
    EXPECT_EQ(mesh->vertices[4].v, 0.75f);
    EXPECT_EQ(mesh->vertices[4].px, 1.0f) << "a copy of the point";
    EXPECT_EQ(mesh->normals[4].normal.z, 1.0f);
    mesh_free(mesh);
}

TEST(Split, ThresholdIsOneFiveHundredTwelfth) {
    // Point 1's own coordinates are (0.5, 1 - 0) = (0.5, 1).
    struct Case {
        float u, v;
        int vertices;
    } cases[] = {{0.5f + 1.0f / 1024, 0.0f, 4}, {0.5f, 1.0f / 1024, 4}, {0.5f + 1.0f / 256, 0.0f, 5},
                 {0.5f, 1.0f / 256, 5}, {0.5f + 1.0f / 512, 0.0f, 5}};
    for (const Case& c : cases) {
        Mesh* mesh = convert(seam(c.u, c.v), true);
        ASSERT_NE(mesh, nullptr);
        EXPECT_EQ(mesh->vertex_count, c.vertices) << c.u << " " << c.v;
        mesh_free(mesh);
    }
}

TEST(Split, EntrySharedByTheTrianglesOfAQuadReusesItsVertex) {
    LwoTestObject o;
    o.points = {0, 0, 0, 1, 0, 0, 1, 1, 0, 0, 1, 0, 2, 0, 0};
    o.polygons = {{1, 4, 2}, {0, 1, 2, 3}};
    LwoTestSurface s;
    s.name = "s";
    s.map_name = "uv";
    o.surfaces.push_back(s);
    o.uv_name = "uv";
    o.uvs = {0, 0, 1, 0, 1, 1, 0, 1, 2, 0};
    o.vmad_name = "uv";
    o.vmad = {{0, 1, 3.0f, 0.0f}, {2, 0, 5.0f, 0.0f}};  // the quad's corner 0 is in both its triangles
    Mesh* mesh = convert(o, true);
    ASSERT_NE(mesh, nullptr);
    EXPECT_EQ(mesh->triangle_count, 3);
    EXPECT_EQ(mesh->vertex_count, 7);
    EXPECT_EQ(mesh->triangles[1].vertex_a, mesh->triangles[2].vertex_a);
    EXPECT_GE(mesh->triangles[1].vertex_a, 5);
    EXPECT_EQ(mesh->vertices[mesh->triangles[1].vertex_a].u, 3.0f);
    EXPECT_EQ(mesh->vertices[mesh->triangles[0].vertex_c].u, 5.0f);
    mesh_free(mesh);
}

TEST(Conversion, ObjectsWithoutPointsOrTrianglesGiveNull) {
    LwoTestObject o = lwo_test_cube8();
    o.polygons = {{0, 1}};
    EXPECT_EQ(convert(o, false), nullptr);
    EXPECT_EQ(convert(o, true), nullptr);
    o.points.clear();
    o.polygons = {{0, 1, 2}};
    EXPECT_EQ(convert(o, false), nullptr);
    EXPECT_EQ(mesh_from_lwo(nullptr), nullptr);
    EXPECT_EQ(mesh_from_lwo_split("data\\missing.lwo"), nullptr);
}

TEST(Conversion, ReadsFilesThroughTheDataPath) {
    std::string dir = std::string(QUILLET_BINARY_DIR) + "/lwo-test-files";
    mkdir(dir.c_str(), 0755);
    std::vector<uint8_t> bytes = lwo_writer_object(lwo_test_cube8());
    std::string path = dir + "/Cube.LWO";
    FILE* f = fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    fwrite(bytes.data(), 1, bytes.size(), f);
    fclose(f);
    std::string name = dir + "\\cube.lwo";  // backslash and another case, as the show spells names
    LwLayer* object = lwo_load(name.c_str());
    ASSERT_NE(object, nullptr);
    EXPECT_EQ(std::string(object->name), name + ":0");
    lwo_free(object);
    Mesh* mesh = mesh_from_lwo_split(name.c_str());
    ASSERT_NE(mesh, nullptr);
    EXPECT_EQ(mesh->triangle_count, 12);
    mesh_free(mesh);
}

// The stand-in data set, when this build tree (or the tree QUILLET_DATA_ROOT names) has one.
TEST(DataSet, EveryObjectLoadsAndConvertsWithItsCounts) {
    const char* root = getenv("QUILLET_DATA_ROOT");
    std::string data = std::string(root && root[0] ? root : QUILLET_BINARY_DIR) + "/data";
    struct stat st;
    if (stat((data + "/cube.lwo").c_str(), &st) != 0) GTEST_SKIP() << "no data set in " << data;
    struct Expect {
        const char* file;
        int points_min, points_max;
        int triangles_min, triangles_max;
        bool textured;
    } objects[] = {
        {"cube.lwo", 24, 24, 12, 12, true},          {"cube2.lwo", 24, 24, 12, 12, true},
        {"sphere.lwo", 3, 1 << 20, 900, 1100, true}, {"sphere3.lwo", 2000, 3000, 3000, 1 << 20, false},
        {"ribbon.lwo", 4, 1 << 20, 512, 512, true},  {"plane.lwo", 4, 1 << 20, 512, 512, true},
        {"sky.lwo", 4, 1 << 20, 992, 1024, true},    {"poles.lwo", 4, 1 << 20, 120, 1 << 20, true},
        {"poles_trans.lwo", 4, 1 << 20, 120, 1 << 20, true},
    };
    for (const Expect& e : objects) {
        std::string name = data + "/" + e.file;
        SCOPED_TRACE(name);
        LwLayer* object = lwo_load(name.c_str());
        ASSERT_NE(object, nullptr);
        EXPECT_EQ(object->next, nullptr) << "single layer";
        int points = int(object->points->point_count);
        EXPECT_GE(points, e.points_min);
        EXPECT_LE(points, e.points_max);
        int polygons = 0, bound = 0;
        for (const LwPolygon* p = object->polygons; p; p = p->next) {
            polygons++;
            ASSERT_NE(p->surface, nullptr);
            if (p->uv_map) bound++;
        }
        if (e.textured) {
            EXPECT_EQ(bound, polygons) << "every polygon has texture coordinates";
        }
        lwo_free(object);

        Mesh* mesh = mesh_from_lwo(name.c_str());
        ASSERT_NE(mesh, nullptr);
        EXPECT_EQ(mesh->vertex_count, points);
        EXPECT_EQ(mesh->triangle_count, polygons);
        EXPECT_GE(mesh->triangle_count, e.triangles_min);
        EXPECT_LE(mesh->triangle_count, e.triangles_max);
        mesh_free(mesh);
        Mesh* split = mesh_from_lwo_split(name.c_str());
        ASSERT_NE(split, nullptr);
        EXPECT_EQ(split->triangle_count, polygons);
        if (std::string(e.file) == "poles.lwo") {
            EXPECT_GT(split->vertex_count, points) << "the seam splits";
        }
        if (std::string(e.file) == "poles_trans.lwo") {
            EXPECT_NE(split->triangles[0].base_colour, 0xFFFFFFFFu);
        }
        mesh_free(split);
    }
}
