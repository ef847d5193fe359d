// The LWO2 reader: primitive reads, the chunk loop, layers, polygons, tags and post-processing.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "lwo/lwo.h"
#include "lwo/lwo_writer.h"

namespace {

void layr(LwoWriter* w, uint16_t number = 0, bool parent = true) {
    lwo_writer_chunk(w, "LAYR");
    lwo_writer_u2(w, number);
    lwo_writer_u2(w, 0);
    for (int i = 0; i < 3; i++) lwo_writer_f4(w, 0);
    lwo_writer_string(w, "name in file");
    if (parent) lwo_writer_u2(w, 7);
    lwo_writer_end(w);
}

void pnts(LwoWriter* w, const std::vector<float>& xyz) {
    lwo_writer_chunk(w, "PNTS");
    for (float f : xyz) lwo_writer_f4(w, f);
    lwo_writer_end(w);
}

void pols(LwoWriter* w, const std::vector<std::vector<uint32_t>>& polygons, const char* type = "FACE") {
    lwo_writer_chunk(w, "POLS");
    lwo_writer_id(w, type);
    for (const auto& p : polygons) {
        lwo_writer_u2(w, uint16_t(p.size()));
        for (uint32_t i : p) lwo_writer_vx(w, i);
    }
    lwo_writer_end(w);
}

void tags(LwoWriter* w, const std::vector<const char*>& names) {
    lwo_writer_chunk(w, "TAGS");
    for (const char* n : names) lwo_writer_string(w, n);
    lwo_writer_end(w);
}

void ptag(LwoWriter* w, const char* type, const std::vector<std::pair<uint32_t, uint16_t>>& entries) {
    lwo_writer_chunk(w, "PTAG");
    lwo_writer_id(w, type);
    for (auto [polygon, tag] : entries) {
        lwo_writer_vx(w, polygon);
        lwo_writer_u2(w, tag);
    }
    lwo_writer_end(w);
}

void surf(LwoWriter* w, const char* name, float transparency, float additive = 0) {
    lwo_writer_chunk(w, "SURF");
    lwo_writer_string(w, name);
    lwo_writer_string(w, "");
    lwo_writer_sub(w, "TRAN");
    lwo_writer_f4(w, transparency);
    lwo_writer_vx(w, 0);
    lwo_writer_end(w);
    lwo_writer_sub(w, "ADTR");
    lwo_writer_f4(w, additive);
    lwo_writer_vx(w, 0);
    lwo_writer_end(w);
    lwo_writer_end(w);
}

const std::vector<float> square = {0, 0, 0, 1, 0, 0, 1, 1, 0, 0, 1, 0, 2, 2, 0};

std::vector<std::vector<uint32_t>> corners_of(const LwLayer* layer) {
    std::vector<std::vector<uint32_t>> out;
    for (const LwPolygon* p = layer->polygons; p; p = p->next)
        out.push_back(std::vector<uint32_t>(p->corners, p->corners + p->corner_count));
    return out;
}

LwReader reader_of(const std::vector<uint8_t>& bytes) {
    LwReader r;
    lwo_reader_init(&r, bytes.data(), bytes.size());
    return r;
}

}  // namespace

TEST(Primitives, VariableLengthIndex) {
    std::vector<uint8_t> bytes = {0xFF, 0x01, 0x02, 0x03, 0x12, 0x34, 0xFF, 0x00, 0xAB, 0xCD, 0xFE, 0xFF};
    LwReader r = reader_of(bytes);
    EXPECT_EQ(lwo_read_vx(&r), 0x010203u);  // the three bytes after 0xFF
    EXPECT_EQ(lwo_read_vx(&r), 0x1234u);
    EXPECT_EQ(lwo_read_vx(&r), 0xABCDu);
    EXPECT_EQ(lwo_read_vx(&r), 0xFEFFu);  // only a leading 0xFF widens
    EXPECT_EQ(r.pos, bytes.size());
    EXPECT_EQ(r.status, LWO_OK);
}

TEST(Primitives, BigEndianValuesAndReadsPastTheLimitFail) {
    std::vector<uint8_t> bytes = {0x3F, 0x80, 0x00, 0x00, 0x12, 0x34, 0x56, 0x78, 0x9A};
    LwReader r = reader_of(bytes);
    EXPECT_EQ(lwo_read_f4(&r), 1.0f);
    EXPECT_EQ(lwo_read_u2(&r), 0x1234);
    r.limit = 7;  // a chunk ending inside the next U2
    EXPECT_EQ(lwo_read_u1(&r), 0x56);
    EXPECT_EQ(lwo_read_u2(&r), 0);
    EXPECT_EQ(r.status, LWO_END_OF_FILE);
    r.limit = bytes.size();
    EXPECT_EQ(lwo_read_u1(&r), 0) << "a failed reader stays failed";
    EXPECT_EQ(r.pos, 7u);
}

TEST(Primitives, StringsArePaddedToEvenLengths) {
    EXPECT_EQ(lwo_padded_length("abc"), 4u);
    EXPECT_EQ(lwo_padded_length("ab"), 4u);
    EXPECT_EQ(lwo_padded_length(""), 2u);
    std::vector<uint8_t> bytes = {'a', 'b', 'c', 0, 'a', 'b', 0, 0, 0, 0, 'x', 'y'};
    LwReader r = reader_of(bytes);
    const char* expected[] = {"abc", "ab", ""};
    size_t positions[] = {4, 8, 10};
    for (int i = 0; i < 3; i++) {
        char* s = lwo_read_string(&r);
        ASSERT_NE(s, nullptr);
        EXPECT_STREQ(s, expected[i]);
        EXPECT_EQ(r.pos, positions[i]);
        free(s);
    }
    EXPECT_EQ(lwo_read_string(&r), nullptr) << "no NUL before the end";
    EXPECT_EQ(r.status, LWO_END_OF_FILE);
}

TEST(ChunkLoop, NotAnObjectFileGivesNull) {
    LwoWriter w;
    lwo_writer_chunk(&w, "FORM");
    lwo_writer_id(&w, "ILBM");
    layr(&w);
    lwo_writer_end(&w);
    EXPECT_EQ(lwo_test_load(w.bytes), nullptr);
    w.bytes[8] = 'L', w.bytes[9] = 'W', w.bytes[10] = 'O', w.bytes[11] = '2';
    LwLayer* ok = lwo_test_load(w.bytes);
    EXPECT_NE(ok, nullptr);
    lwo_free(ok);
    w.bytes[0] = 'X';
    EXPECT_EQ(lwo_test_load(w.bytes), nullptr);
    EXPECT_EQ(lwo_test_load({}), nullptr);
    EXPECT_EQ(lwo_load("data\\no such object.lwo"), nullptr);
}

TEST(ChunkLoop, DataChunkBeforeAnyLayerFails) {
    for (int which = 0; which < 3; which++) {
        LwoWriter w;
        lwo_writer_form(&w);
        if (which == 0) pnts(&w, square);
        if (which == 1) pols(&w, {{0, 1, 2}});
        if (which == 2) surf(&w, "s", 0);
        layr(&w);
        lwo_writer_end(&w);
        EXPECT_EQ(lwo_test_load(w.bytes), nullptr) << which;
    }
}

TEST(Layers, TagsBeforeTheFirstLayerMakeOneLayer) {
    LwoWriter w;
    lwo_writer_form(&w);
    tags(&w, {"a", "bb"});
    surf(&w, "a", 0);  // chunks between TAGS and LAYR go to the same layer
    layr(&w, 3);
    pnts(&w, square);
    lwo_writer_end(&w);
    LwLayer* object = lwo_test_load(w.bytes);
    ASSERT_NE(object, nullptr);
    EXPECT_EQ(object->next, nullptr);
    EXPECT_EQ(object->number, 3);
    EXPECT_EQ(object->parent, 7);
    EXPECT_EQ(object->tag_count, 2u);
    EXPECT_STREQ(object->tags[1], "bb");
    ASSERT_NE(object->points, nullptr);
    EXPECT_EQ(object->points->point_count, 5u);
    lwo_free(object);
}

TEST(Layers, NamedAfterTheFileAndTheirPosition) {
    LwoWriter w;
    lwo_writer_form(&w);
    tags(&w, {"s"});
    layr(&w, 0, false);  // no parent field: the next chunk must still be found
    pnts(&w, square);
    pols(&w, {{0, 1, 2}});
    layr(&w, 1);
    pnts(&w, square);
    pols(&w, {{0, 1, 2}, {0, 2, 3}});
    ptag(&w, "SURF", {{1, 0}});
    surf(&w, "s", 0.5f);
    lwo_writer_end(&w);
    LwLayer* object = lwo_test_load(w.bytes);
    ASSERT_NE(object, nullptr);
    ASSERT_NE(object->next, nullptr);
    EXPECT_STREQ(object->name, "data\\x.lwo:0");
    EXPECT_STREQ(object->next->name, "data\\x.lwo:1");
    EXPECT_EQ(object->parent, -1);
    EXPECT_EQ(object->polygon_count, 1u);
    EXPECT_EQ(object->next->polygon_count, 2u);
    // The second layer resolves its tags against the file's shared surfaces.
    const LwPolygon* last = object->next->polygons->next;
    ASSERT_NE(last, nullptr);
    ASSERT_NE(last->surface, nullptr);
    EXPECT_STREQ(last->surface->surface_name, "s");
    EXPECT_EQ(object->next->surfaces, object->surfaces);
    lwo_free(object);
}

TEST(Polygons, PatchesAreSkippedAndFlagBitsDropped) {
    LwoWriter w;
    lwo_writer_form(&w);
    layr(&w);
    pnts(&w, square);
    pols(&w, {{0, 1, 2, 3}, {1, 2, 3}}, "PTCH");
    lwo_writer_chunk(&w, "POLS");
    lwo_writer_id(&w, "FACE");
    lwo_writer_u2(&w, 0x0403);  // three corners, flag bits set
    lwo_writer_vx(&w, 2), lwo_writer_vx(&w, 0), lwo_writer_vx(&w, 1);
    lwo_writer_end(&w);
    lwo_writer_end(&w);
    LwLayer* object = lwo_test_load(w.bytes);
    ASSERT_NE(object, nullptr);
    EXPECT_EQ(corners_of(object), (std::vector<std::vector<uint32_t>>{{2, 0, 1}}));
    lwo_free(object);
}

TEST(Polygons, LargerPolygonsAreFannedInPlace) {
    LwoWriter w;
    lwo_writer_form(&w);
    layr(&w);
    pnts(&w, square);
    pols(&w, {{4, 1, 2}, {0, 1, 2, 3}, {0, 1, 2, 3, 4}, {1, 4, 2}});
    lwo_writer_end(&w);
    LwLayer* object = lwo_test_load(w.bytes);
    ASSERT_NE(object, nullptr);
    EXPECT_EQ(corners_of(object), (std::vector<std::vector<uint32_t>>{
                                      {4, 1, 2}, {0, 1, 2}, {0, 2, 3}, {0, 1, 2}, {0, 2, 3}, {0, 3, 4}, {1, 4, 2}}));
    EXPECT_EQ(object->polygon_count, 7u);
    // Triangles of a fan keep the face of the polygon they came from.
    const LwPolygon* fan = object->polygons->next;
    EXPECT_FLOAT_EQ(fan->normal[2], 1.0f);
    EXPECT_FLOAT_EQ(fan->next->normal[2], 1.0f);
    lwo_free(object);
}

TEST(PostProcessing, NormalsAreaPlaneAndBoundingBox) {
    LwoWriter w;
    lwo_writer_form(&w);
    layr(&w);
    pnts(&w, {0, 0, 3, 2, 0, 3, 0, 2, 3, 0, 0, 1});
    lwo_writer_chunk(&w, "BBOX");
    for (int i = 0; i < 6; i++) lwo_writer_f4(&w, 100);
    lwo_writer_end(&w);
    // A triangle facing +z and a triangle facing -x sharing points 0 and 2.
    pols(&w, {{0, 1, 2}, {0, 2, 3}, {1, 2}});
    lwo_writer_end(&w);
    LwLayer* object = lwo_test_load(w.bytes);
    ASSERT_NE(object, nullptr);
    const LwPolygon* a = object->polygons;
    EXPECT_FLOAT_EQ(a->area, 4.0f);
    EXPECT_FLOAT_EQ(a->normal[2], 1.0f);
    EXPECT_FLOAT_EQ(a->plane_d, -3.0f);
    const LwPolygon* b = a->next;
    EXPECT_FLOAT_EQ(b->normal[0], -1.0f);
    EXPECT_FLOAT_EQ(b->area, 4.0f);
    EXPECT_EQ(b->next->area, 0.0f) << "two corners have no face";
    const float* n0 = object->points->point_normals;  // (0, 0, 1) + (-1, 0, 0), normalised
    EXPECT_NEAR(n0[0], -std::sqrt(0.5f), 1e-6);
    EXPECT_NEAR(n0[2], std::sqrt(0.5f), 1e-6);
    const float* n1 = object->points->point_normals + 3;
    EXPECT_FLOAT_EQ(n1[2], 1.0f);
    EXPECT_EQ(object->bbox_min[0], 0.0f);
    EXPECT_EQ(object->bbox_max[1], 2.0f);
    EXPECT_EQ(object->bbox_min[2], 1.0f);
    EXPECT_EQ(object->bbox_max[2], 3.0f);
    lwo_free(object);
}

TEST(PostProcessing, PolygonTagsAndOpaqueFirstOrder) {
    LwoWriter w;
    lwo_writer_form(&w);
    tags(&w, {"glass", "solid", "part", "missing", "adder"});
    layr(&w);
    pnts(&w, square);
    pols(&w, {{0, 1, 2}, {1, 2, 3}, {2, 3, 0}, {3, 0, 1}, {0, 1, 3}});
    ptag(&w, "SURF", {{0, 0}, {1, 1}, {2, 0}, {3, 3}, {4, 4}, {9, 1}, {1, 40}});
    ptag(&w, "SMGP", {{1, 2}});
    ptag(&w, "PART", {{3, 2}});
    ptag(&w, "COLR", {{0, 1}});
    surf(&w, "glass", 0.5f);
    surf(&w, "solid", 0.0f);
    surf(&w, "adder", 0.0f, 1.0f);
    surf(&w, "glass", 0.0f);  // a second surface of the name is never chosen
    lwo_writer_end(&w);
    LwLayer* object = lwo_test_load(w.bytes);
    ASSERT_NE(object, nullptr);
    // Opaque (solid, no surface) first, then glass, glass, adder, each group in file order.
    EXPECT_EQ(corners_of(object), (std::vector<std::vector<uint32_t>>{
                                      {1, 2, 3}, {3, 0, 1}, {0, 1, 2}, {2, 3, 0}, {0, 1, 3}}));
    const LwPolygon* p = object->polygons;
    EXPECT_STREQ(p->surface->surface_name, "solid");
    EXPECT_EQ(p->smoothing_group, 2u);
    EXPECT_EQ(p->next->surface, nullptr) << "an unknown surface name leaves none";
    EXPECT_EQ(p->next->part, 2u);
    EXPECT_FLOAT_EQ(p->next->next->surface->transparency.value, 0.5f);
    EXPECT_STREQ(p->next->next->next->next->surface->surface_name, "adder");
    lwo_free(object);
}

TEST(PostProcessing, PolygonsNamingMissingPointsAreDropped) {
    LwoWriter w;
    lwo_writer_form(&w);
    tags(&w, {"s"});
    layr(&w);
    pnts(&w, square);
    pols(&w, {{0, 1, 2}, {0, 1, 70000}, {1, 2, 3, 5}, {2, 3, 4}});
    ptag(&w, "SURF", {{3, 0}});
    surf(&w, "s", 0);
    lwo_writer_end(&w);
    LwLayer* object = lwo_test_load(w.bytes);
    ASSERT_NE(object, nullptr);
    EXPECT_EQ(corners_of(object), (std::vector<std::vector<uint32_t>>{{0, 1, 2}, {2, 3, 4}}));
    EXPECT_NE(object->polygons->next->surface, nullptr) << "tags still count polygons in file order";
    lwo_free(object);
}

TEST(PostProcessing, ChunkWithExtraBytesDoesNotMisalignTheNext) {
    LwoWriter w;
    lwo_writer_form(&w);
    layr(&w);
    lwo_writer_chunk(&w, "PNTS");
    for (float f : square) lwo_writer_f4(&w, f);
    lwo_writer_u2(&w, 0xBEEF);  // not a whole point
    lwo_writer_end(&w);
    lwo_writer_chunk(&w, "BBOX");  // too long: extra bytes after the six values
    for (int i = 0; i < 8; i++) lwo_writer_f4(&w, 1);
    lwo_writer_end(&w);
    pols(&w, {{0, 1, 2}});
    lwo_writer_chunk(&w, "ODD!");
    lwo_writer_u1(&w, 1);  // odd length: a pad byte follows
    lwo_writer_end(&w);
    pols(&w, {{1, 2, 3}});
    lwo_writer_end(&w);
    LwLayer* object = lwo_test_load(w.bytes);
    ASSERT_NE(object, nullptr);
    EXPECT_EQ(object->points->point_count, 5u);
    EXPECT_EQ(corners_of(object), (std::vector<std::vector<uint32_t>>{{0, 1, 2}, {1, 2, 3}}));
    lwo_free(object);
}

TEST(PostProcessing, LaterLayersShareTheFirstLayersMaps) {
    LwoWriter w;
    lwo_writer_form(&w);
    layr(&w, 0);
    pnts(&w, square);
    lwo_writer_chunk(&w, "VMAP");
    lwo_writer_id(&w, "TXUV");
    lwo_writer_u2(&w, 2);
    lwo_writer_string(&w, "first");
    lwo_writer_vx(&w, 0), lwo_writer_f4(&w, 0.25f), lwo_writer_f4(&w, 0.5f);
    lwo_writer_end(&w);
    layr(&w, 1);
    pnts(&w, square);
    lwo_writer_chunk(&w, "VMAP");  // replaced by the first layer's and released
    lwo_writer_id(&w, "WGHT");
    lwo_writer_u2(&w, 1);
    lwo_writer_string(&w, "own");
    lwo_writer_vx(&w, 0), lwo_writer_f4(&w, 1.0f);
    lwo_writer_end(&w);
    lwo_writer_end(&w);
    LwLayer* object = lwo_test_load(w.bytes);
    ASSERT_NE(object, nullptr);
    ASSERT_NE(object->vertex_maps, nullptr);
    EXPECT_STREQ(object->vertex_maps->map_name, "first");
    EXPECT_EQ(object->vertex_maps->next, nullptr);
    EXPECT_EQ(object->next->vertex_maps, nullptr);
    EXPECT_EQ(object->next->points->maps[LWO_SLOT_TXUV], object->vertex_maps);
    EXPECT_EQ(object->points->maps[LWO_SLOT_TXUV], object->vertex_maps);
    lwo_free(object);
}
