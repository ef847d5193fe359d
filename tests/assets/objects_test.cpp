// The nine objects as the show's reader will see them: read back from the written files with an
// independent strict parser, then checked for shape, order, orientation and texture coordinates.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <map>
#include <set>
#include <string>

#include "assets/check_lwo.h"
#include "assets/lwo_writer.h"
#include "assets/objects.h"

namespace {

std::string object_dir;

class Objects : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        char tmpl[] = "/tmp/quillet-objects-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        object_dir = tmpl;
        ASSERT_EQ(objects_write(object_dir.c_str()), 0);
    }
    static void TearDownTestSuite() {
        std::string cmd = "rm -rf '" + object_dir + "'";
        (void)system(cmd.c_str());
    }
    static CheckLwo load(const char* name) {
        CheckLwo lwo;
        std::vector<uint8_t> bytes = check_read_file(object_dir + "/" + name);
        EXPECT_FALSE(bytes.empty()) << name;
        std::string err = check_lwo_parse(bytes, &lwo);
        EXPECT_EQ(err, "") << name;
        return lwo;
    }
};

float dot(const float* a, const float* b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }
float length(const float* a) { return std::sqrt(dot(a, a)); }

const char* const all_objects[] = {"cube.lwo",   "cube2.lwo", "sphere.lwo", "sphere3.lwo",    "ribbon.lwo",
                                   "plane.lwo", "sky.lwo",   "poles.lwo",  "poles_trans.lwo"};

TEST_F(Objects, EveryFileHasTheChunksTheShowReads) {
    for (const char* name : all_objects) {
        CheckLwo lwo = load(name);
        ASSERT_FALSE(lwo.chunk_order.empty()) << name;
        EXPECT_EQ(lwo.chunk_order[0], "TAGS") << name;
        std::set<std::string> ids(lwo.chunk_order.begin(), lwo.chunk_order.end());
        for (const char* id : {"LAYR", "PNTS", "BBOX", "POLS", "PTAG", "SURF"}) EXPECT_TRUE(ids.count(id)) << name << " " << id;
        EXPECT_EQ(std::count(lwo.chunk_order.begin(), lwo.chunk_order.end(), "LAYR"), 1) << name;
        EXPECT_EQ(lwo.polygon_type, "FACE") << name;
        EXPECT_EQ(lwo.ptag_type, "SURF") << name;
        ASSERT_EQ(lwo.surfaces.size(), lwo.tags.size()) << name;
        for (size_t i = 0; i < lwo.surfaces.size(); i++) {
            EXPECT_EQ(lwo.surfaces[i].name, lwo.tags[i]) << name;
            EXPECT_TRUE(lwo.surfaces[i].has_colour) << name;
            EXPECT_TRUE(lwo.surfaces[i].has_image_block) << name;
        }
        // Every polygon is tagged with an existing surface and names existing points.
        ASSERT_EQ(lwo.polygon_tag.size(), lwo.polygons.size()) << name;
        int point_count = (int)lwo.points.size() / 3;
        for (size_t p = 0; p < lwo.polygons.size(); p++) {
            EXPECT_GE(lwo.polygon_tag[p], 0) << name;
            EXPECT_LT(lwo.polygon_tag[p], (int)lwo.tags.size()) << name;
            EXPECT_GE(lwo.polygons[p].size(), 3u) << name;
            for (int c : lwo.polygons[p]) EXPECT_LT(c, point_count) << name;
        }
        // The stored box is the points' box.
        for (int k = 0; k < 3; k++) {
            float lo = 1e30f, hi = -1e30f;
            for (int i = 0; i < point_count; i++) {
                lo = std::fmin(lo, lwo.points[i * 3 + k]);
                hi = std::fmax(hi, lwo.points[i * 3 + k]);
            }
            EXPECT_FLOAT_EQ(lwo.bbox[k], lo) << name;
            EXPECT_FLOAT_EQ(lwo.bbox[3 + k], hi) << name;
        }
    }
}

TEST_F(Objects, CubeHas24PointsAndSixFacesInTheVoxelOrder) {
    CheckLwo cube = load("cube.lwo");
    ASSERT_EQ(cube.points.size(), 24u * 3);
    ASSERT_EQ(cube.polygons.size(), 6u);
    const float expected[6][3] = {{-1, 0, 0}, {0, -1, 0}, {0, 0, 1}, {0, 1, 0}, {0, 0, -1}, {1, 0, 0}};
    for (int f = 0; f < 6; f++) {
        ASSERT_EQ(cube.polygons[f].size(), 4u);
        for (int k = 0; k < 4; k++) EXPECT_EQ(cube.polygons[f][k], f * 4 + k) << "face " << f;
        float n[3];
        check_face_normal(cube, f, n);
        for (int k = 0; k < 3; k++) EXPECT_NEAR(n[k], expected[f][k], 1e-6) << "face " << f;
        // Every point of the face lies on it, at the cube's corners.
        for (int k = 0; k < 4; k++) {
            const float* p = &cube.points[(f * 4 + k) * 3];
            EXPECT_FLOAT_EQ(dot(p, expected[f]), 0.5f);
            for (int a = 0; a < 3; a++) EXPECT_FLOAT_EQ(std::fabs(p[a]), 0.5f);
        }
        // The batcher's triangles (n, n+1, n+3) and (n+1, n+2, n+3) face outwards as well.
        const int tris[2][3] = {{0, 1, 3}, {1, 2, 3}};
        for (auto& t : tris) {
            const float* a = &cube.points[(f * 4 + t[0]) * 3];
            const float* b = &cube.points[(f * 4 + t[1]) * 3];
            const float* c = &cube.points[(f * 4 + t[2]) * 3];
            float e1[3] = {b[0] - a[0], b[1] - a[1], b[2] - a[2]}, e2[3] = {c[0] - a[0], c[1] - a[1], c[2] - a[2]};
            float x[3] = {e1[1] * e2[2] - e1[2] * e2[1], e1[2] * e2[0] - e1[0] * e2[2], e1[0] * e2[1] - e1[1] * e2[0]};
            EXPECT_GT(dot(x, expected[f]), 0.0f) << "face " << f;
        }
    }
    // TXUV covers every point, each face spanning the whole texture once.
    ASSERT_EQ(cube.vmap.size(), 24u);
    EXPECT_EQ(cube.surfaces[0].uv_map, cube.vmap_name);
    EXPECT_EQ(cube.surfaces[0].projection, LWO_PROJ_UV);
    for (int f = 0; f < 6; f++) {
        std::set<std::pair<float, float>> corners;
        for (const CheckUv& e : cube.vmap)
            if (e.point / 4 == f) corners.insert({e.u, e.v});
        std::set<std::pair<float, float>> want = {{0, 0}, {1, 0}, {1, 1}, {0, 1}};
        EXPECT_EQ(corners, want) << "face " << f;
    }
}

TEST_F(Objects, FacesPointToTheSideTheShowLooksAt) {
    // Solids: away from the object's centre.
    for (const char* name : {"cube.lwo", "cube2.lwo", "sphere.lwo", "sphere3.lwo"}) {
        CheckLwo lwo = load(name);
        for (size_t p = 0; p < lwo.polygons.size(); p++) {
            float n[3], c[3];
            check_face_normal(lwo, (int)p, n);
            check_face_centroid(lwo, (int)p, c);
            ASSERT_GT(dot(n, c), 0.0f) << name << " polygon " << p;
        }
    }
    // The band: away from the vertical axis it winds around.
    CheckLwo ribbon = load("ribbon.lwo");
    for (size_t p = 0; p < ribbon.polygons.size(); p++) {
        float n[3], c[3];
        check_face_normal(ribbon, (int)p, n);
        check_face_centroid(ribbon, (int)p, c);
        c[1] = 0.0f;
        ASSERT_GT(dot(n, c) / length(c), 0.9f) << "ribbon polygon " << p;
    }
    // The dome: towards its centre; the plane: straight up.
    CheckLwo sky = load("sky.lwo");
    for (size_t p = 0; p < sky.polygons.size(); p++) {
        float n[3], c[3];
        check_face_normal(sky, (int)p, n);
        check_face_centroid(sky, (int)p, c);
        ASSERT_LT(dot(n, c), 0.0f) << "sky polygon " << p;
    }
    CheckLwo plane = load("plane.lwo");
    for (size_t p = 0; p < plane.polygons.size(); p++) {
        float n[3];
        check_face_normal(plane, (int)p, n);
        ASSERT_NEAR(n[1], 1.0f, 1e-6) << "plane polygon " << p;
    }
    // Poles: away from their own axis, caps up.
    const float axes[5][2] = {{-32, -32}, {32, -32}, {-32, 32}, {32, 32}, {0, 0}};
    for (const char* name : {"poles.lwo", "poles_trans.lwo"}) {
        CheckLwo lwo = load(name);
        int caps = 0;
        for (size_t p = 0; p < lwo.polygons.size(); p++) {
            float n[3], c[3];
            check_face_normal(lwo, (int)p, n);
            check_face_centroid(lwo, (int)p, c);
            if (std::fabs(n[1]) > 0.99f) {
                EXPECT_GT(n[1], 0.0f) << name;
                caps++;
                continue;
            }
            int nearest = 0;
            for (int a = 1; a < 5; a++)
                if (std::hypot(c[0] - axes[a][0], c[2] - axes[a][1]) < std::hypot(c[0] - axes[nearest][0], c[2] - axes[nearest][1]))
                    nearest = a;
            float out[3] = {c[0] - axes[nearest][0], 0.0f, c[2] - axes[nearest][1]};
            ASSERT_GT(dot(n, out) / length(out), 0.9f) << name << " polygon " << p;
        }
        EXPECT_EQ(caps, 5) << name;
    }
}

TEST_F(Objects, ShapesHaveTheirSizesAndCounts) {
    CheckLwo cube2 = load("cube2.lwo");
    EXPECT_EQ(cube2.points.size(), 24u * 3);
    EXPECT_EQ(cube2.polygons.size(), 6u);
    for (float v : cube2.points) EXPECT_FLOAT_EQ(std::fabs(v), 1.5f);

    CheckLwo sphere = load("sphere.lwo");
    EXPECT_GE(sphere.polygons.size(), 900u);
    EXPECT_LE(sphere.polygons.size(), 1100u);
    for (size_t i = 0; i < sphere.points.size() / 3; i++) EXPECT_NEAR(length(&sphere.points[i * 3]), 4.5f, 1e-4);

    CheckLwo sphere3 = load("sphere3.lwo");
    size_t n3 = sphere3.points.size() / 3;
    EXPECT_GE(n3, 2000u);
    EXPECT_LE(n3, 3000u);
    std::set<std::tuple<float, float, float>> unique;
    for (size_t i = 0; i < n3; i++) {
        EXPECT_NEAR(length(&sphere3.points[i * 3]), 1.0f, 1e-5);
        unique.insert({sphere3.points[i * 3], sphere3.points[i * 3 + 1], sphere3.points[i * 3 + 2]});
    }
    EXPECT_EQ(unique.size(), n3) << "sphere3 must have no duplicate points";
    for (const auto& p : sphere3.polygons) EXPECT_EQ(p.size(), 3u);
    // Closed surface: every edge is shared by exactly two triangles, once in each direction.
    std::map<std::pair<int, int>, int> edges;
    for (const auto& p : sphere3.polygons)
        for (int k = 0; k < 3; k++) edges[{p[k], p[(k + 1) % 3]}]++;
    for (const auto& e : edges) {
        EXPECT_EQ(e.second, 1);
        EXPECT_EQ(edges.count({e.first.second, e.first.first}), 1u);
    }

    CheckLwo ribbon = load("ribbon.lwo");
    EXPECT_EQ(ribbon.polygons.size(), 256u);
    float ymin = 1e9f, ymax = -1e9f;
    for (size_t i = 0; i < ribbon.points.size() / 3; i++) {
        const float* p = &ribbon.points[i * 3];
        EXPECT_NEAR(std::hypot(p[0], p[2]), 2.0f, 1e-4);
        ymin = std::fmin(ymin, p[1]);
        ymax = std::fmax(ymax, p[1]);
    }
    EXPECT_NEAR(ymax, 0.375f, 0.01f);
    EXPECT_NEAR(ymin, -0.375f, 0.01f);
    // Scaled by the smallest copy factor the band stays outside the unit sphere.
    for (size_t i = 0; i < ribbon.points.size() / 3; i++) EXPECT_GT(length(&ribbon.points[i * 3]) * 0.56f, 1.0f);

    CheckLwo plane = load("plane.lwo");
    EXPECT_EQ(plane.polygons.size(), 256u);
    for (size_t i = 0; i < plane.points.size() / 3; i++) {
        EXPECT_EQ(plane.points[i * 3 + 1], 0.0f);
        EXPECT_LE(std::fabs(plane.points[i * 3]), 64.0f);
    }
    EXPECT_FLOAT_EQ(plane.bbox[0], -64.0f);
    EXPECT_FLOAT_EQ(plane.bbox[5], 64.0f);

    CheckLwo sky = load("sky.lwo");
    EXPECT_EQ(sky.polygons.size(), 16u * 32);
    for (size_t i = 0; i < sky.points.size() / 3; i++) {
        EXPECT_NEAR(length(&sky.points[i * 3]), 56.0f, 1e-3);
        EXPECT_GE(sky.points[i * 3 + 1], 0.0f);
    }

    for (const char* name : {"poles.lwo", "poles_trans.lwo"}) {
        CheckLwo lwo = load(name);
        float radius = std::string(name) == "poles.lwo" ? 0.7f : 1.1f;
        EXPECT_EQ(lwo.polygons.size(), 5u * 13) << name;  // 12 sides and a cap each
        EXPECT_FLOAT_EQ(lwo.bbox[1], -20.0f) << name;
        EXPECT_FLOAT_EQ(lwo.bbox[4], 12.0f) << name;
        EXPECT_NEAR(lwo.bbox[0], -32.0f - radius, 1e-4) << name;
    }
}

TEST_F(Objects, TextureCoordinatesUseEveryWayTheReaderKnows) {
    std::set<int> projections;
    for (const char* name : all_objects) {
        CheckLwo lwo = load(name);
        for (const CheckSurface& s : lwo.surfaces) {
            projections.insert(s.projection);
            if (s.projection == LWO_PROJ_UV && !s.uv_map.empty()) {
                // The named map exists and covers every point a polygon uses.
                EXPECT_EQ(s.uv_map, lwo.vmap_name) << name;
                std::set<int> covered;
                for (const CheckUv& e : lwo.vmap) covered.insert(e.point);
                for (const auto& p : lwo.polygons)
                    for (int c : p) EXPECT_TRUE(covered.count(c)) << name << " point " << c;
            }
        }
    }
    for (int p : {LWO_PROJ_PLANAR, LWO_PROJ_CUBIC, LWO_PROJ_CYLINDRICAL, LWO_PROJ_SPHERICAL, LWO_PROJ_UV})
        EXPECT_TRUE(projections.count(p)) << "projection " << p;

    CheckLwo cube2 = load("cube2.lwo");
    EXPECT_EQ(cube2.surfaces[0].projection, LWO_PROJ_CUBIC);
    EXPECT_FLOAT_EQ(cube2.surfaces[0].size[0], 3.0f);
    CheckLwo plane = load("plane.lwo");
    EXPECT_EQ(plane.surfaces[0].projection, LWO_PROJ_PLANAR);
    EXPECT_EQ(plane.surfaces[0].axis, LWO_AXIS_Y);
    EXPECT_FLOAT_EQ(plane.surfaces[0].size[0], 16.0f);
    EXPECT_FLOAT_EQ(plane.surfaces[0].size[2], 16.0f);
    CheckLwo sphere = load("sphere.lwo");
    EXPECT_EQ(sphere.surfaces[0].projection, LWO_PROJ_SPHERICAL);
    EXPECT_EQ(sphere.surfaces[0].axis, LWO_AXIS_Y);
    for (float c : sphere.surfaces[0].centre) EXPECT_EQ(c, 0.0f);

    CheckLwo ribbon = load("ribbon.lwo");
    float umax = 0.0f;
    for (const CheckUv& e : ribbon.vmap) umax = std::fmax(umax, e.u);
    EXPECT_FLOAT_EQ(umax, 8.0f);
    CheckLwo sky = load("sky.lwo");
    float skymax = 0.0f;
    for (const CheckUv& e : sky.vmap) skymax = std::fmax(skymax, e.u);
    EXPECT_FLOAT_EQ(skymax, 2.0f);
}

TEST_F(Objects, PolesSplitTheirSeamThroughPerPolygonEntries) {
    CheckLwo poles = load("poles.lwo");
    ASSERT_EQ(poles.vmad.size(), 10u);  // two corners of one polygon per pole
    EXPECT_EQ(poles.vmad_name, poles.vmap_name);
    std::map<int, CheckUv> point_uv;
    for (const CheckUv& e : poles.vmap) point_uv[e.point] = e;
    std::set<int> polygons;
    for (const CheckUv& e : poles.vmad) {
        ASSERT_LT(e.polygon, (int)poles.polygons.size());
        const auto& poly = poles.polygons[e.polygon];
        EXPECT_NE(std::find(poly.begin(), poly.end(), e.point), poly.end());
        // The polygon's own corner takes u = 1 where the point's shared value is 0.
        EXPECT_EQ(e.u, 1.0f);
        EXPECT_EQ(point_uv[e.point].u, 0.0f);
        EXPECT_EQ(e.v, point_uv[e.point].v);
        polygons.insert(e.polygon);
    }
    EXPECT_EQ(polygons.size(), 5u);
    // The seam polygon's other corners are the last side, so u runs 11/12 to 1 across it.
    for (int p : polygons)
        for (int c : poles.polygons[p]) {
            bool in_vmad = false;
            for (const CheckUv& e : poles.vmad) in_vmad |= e.polygon == p && e.point == c;
            if (!in_vmad) {
                EXPECT_NEAR(point_uv[c].u, 11.0f / 12.0f, 1e-6);
            }
        }
}

TEST_F(Objects, SurfacesCarryTheirColoursAndTransparency) {
    CheckLwo glass = load("poles_trans.lwo");
    EXPECT_FLOAT_EQ(glass.surfaces[0].transparency, 0.6f);
    EXPECT_FLOAT_EQ(glass.surfaces[0].colour[0], 0.6f);
    EXPECT_FLOAT_EQ(glass.surfaces[0].colour[1], 0.8f);
    EXPECT_FLOAT_EQ(glass.surfaces[0].colour[2], 1.0f);
    EXPECT_EQ(glass.surfaces[0].projection, LWO_PROJ_CYLINDRICAL);
    EXPECT_EQ(glass.surfaces[0].axis, LWO_AXIS_Y);
    CheckLwo ribbon = load("ribbon.lwo");
    EXPECT_FLOAT_EQ(ribbon.surfaces[0].colour[1], 0.9f);
    EXPECT_FLOAT_EQ(ribbon.surfaces[0].colour[2], 0.75f);
    for (const char* name : all_objects) {
        if (std::string(name) == "poles_trans.lwo") continue;
        CheckLwo lwo = load(name);
        EXPECT_EQ(lwo.surfaces[0].transparency, 0.0f) << name;  // opaque: sorts first
        if (std::string(name) != "ribbon.lwo") {
            for (float c : lwo.surfaces[0].colour) EXPECT_EQ(c, 1.0f) << name;
        }
    }
}

// ---- the writer on its own -----------------------------------------------------------------------

LwoModel small_model() {
    LwoModel m;
    LwoSurface s{};
    s.name = "ab";  // odd length with its NUL: needs a pad byte
    s.colour[0] = s.colour[1] = s.colour[2] = 1.0f;
    s.projection = LWO_PROJ_UV;
    s.axis = LWO_AXIS_Z;
    s.uv_map = "map";
    s.image = "x.png";
    m.surfaces.push_back(s);
    m.uv_name = "map";
    return m;
}

TEST(LwoWriter, LargeIndicesUseTheFourByteForm) {
    LwoModel m = small_model();
    for (int i = 0; i < 0xFF02; i++) lwo_add_point(&m, (float)i, 0.0f, 0.0f);
    lwo_add_polygon(&m, {0, 0xFF00, 0xFF01}, 0);
    lwo_add_polygon(&m, {1, 2, 0xFEFF}, 0);
    m.uvs.push_back({0xFF01, 0.5f, 0.25f});
    std::vector<uint8_t> bytes;
    ASSERT_EQ(lwo_encode(&m, &bytes), 0);
    CheckLwo lwo;
    ASSERT_EQ(check_lwo_parse(bytes, &lwo), "");
    ASSERT_EQ(lwo.polygons.size(), 2u);
    EXPECT_EQ(lwo.polygons[0], (std::vector<int>{0, 0xFF00, 0xFF01}));
    EXPECT_EQ(lwo.polygons[1], (std::vector<int>{1, 2, 0xFEFF}));
    EXPECT_EQ(lwo.vx_long, 3);  // two corners and the map entry; 0xFEFF still fits two bytes
    ASSERT_EQ(lwo.vmap.size(), 1u);
    EXPECT_EQ(lwo.vmap[0].point, 0xFF01);
    EXPECT_EQ(lwo.tags, (std::vector<std::string>{"ab"}));
}

TEST(LwoWriter, RefusesModelsItCannotWrite) {
    std::vector<uint8_t> bytes;
    LwoModel bad_corner = small_model();
    lwo_add_point(&bad_corner, 0, 0, 0);
    lwo_add_polygon(&bad_corner, {0, 1, 0}, 0);
    EXPECT_EQ(lwo_encode(&bad_corner, &bytes), 1);

    LwoModel bad_surface = small_model();
    for (int i = 0; i < 3; i++) lwo_add_point(&bad_surface, (float)i, 0, 0);
    lwo_add_polygon(&bad_surface, {0, 1, 2}, 1);
    EXPECT_EQ(lwo_encode(&bad_surface, &bytes), 1);

    LwoModel bad_vmad = small_model();
    for (int i = 0; i < 3; i++) lwo_add_point(&bad_vmad, (float)i, 0, 0);
    lwo_add_polygon(&bad_vmad, {0, 1, 2}, 0);
    bad_vmad.polygon_uvs.push_back({0, 1, 0.0f, 0.0f});  // polygon 1 does not exist
    EXPECT_EQ(lwo_encode(&bad_vmad, &bytes), 1);

    LwoModel too_many = small_model();
    std::vector<int> corners;
    for (int i = 0; i < 1024; i++) corners.push_back(lwo_add_point(&too_many, (float)i, (float)(i * i), 0));
    lwo_add_polygon(&too_many, corners, 0);  // the count field holds 10 bits
    EXPECT_EQ(lwo_encode(&too_many, &bytes), 1);
}

TEST(LwoWriter, WritingIsRepeatable) {
    for (int i = 0; i < object_spec_count; i++) {
        LwoModel a, b;
        object_specs[i].build(&a);
        object_specs[i].build(&b);
        std::vector<uint8_t> ba, bb;
        ASSERT_EQ(lwo_encode(&a, &ba), 0);
        ASSERT_EQ(lwo_encode(&b, &bb), 0);
        EXPECT_EQ(ba, bb) << object_specs[i].file;
    }
}

}  // namespace
