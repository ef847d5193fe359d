// Damaged and hostile files: every one gives null or a sound object, never a crash, an overrun or
// an allocation beyond what the file justifies (run under the sanitizers by the test command).
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "lwo/lwo_mesh.h"
#include "lwo/lwo_writer.h"

namespace {

std::vector<std::vector<uint8_t>> sample_files() {
    std::vector<std::vector<uint8_t>> files;
    LwoTestObject cube = lwo_test_cube8();
    cube.uv_name = "uv";
    for (int i = 0; i < 8; i++) cube.uvs.push_back(float(i) / 8), cube.uvs.push_back(float(i % 3) / 3);
    cube.surfaces[0].map_name = "uv";
    cube.vmad_name = "uv";
    cube.vmad = {{0, 0, 0.9f, 0.1f}, {4, 2, 0.2f, 0.3f}};
    files.push_back(lwo_writer_object(cube));
    for (int projection = 1; projection <= 4; projection++) {
        LwoTestObject grid = lwo_test_grid(3);
        grid.surfaces[0].projection = projection;
        grid.surfaces[0].axis = projection;
        files.push_back(lwo_writer_object(grid));
    }
    return files;
}

void convert_all(const std::vector<uint8_t>& bytes) {
    LwLayer* object = lwo_test_load(bytes);
    lwo_free(object);
    mesh_free(mesh_from_lwo_object(lwo_test_load(bytes)));
    mesh_free(mesh_from_lwo_object_split(lwo_test_load(bytes)));
}

std::vector<uint8_t> header_then(const char* id, uint32_t length, const std::vector<uint8_t>& body) {
    LwoWriter w;
    lwo_writer_form(&w);
    lwo_writer_chunk(&w, "LAYR");
    for (int i = 0; i < 18; i++) lwo_writer_u1(&w, 0);
    lwo_writer_end(&w);
    lwo_writer_id(&w, id);
    lwo_writer_u4(&w, length);
    w.bytes.insert(w.bytes.end(), body.begin(), body.end());
    lwo_writer_end(&w);
    return w.bytes;
}

}  // namespace

TEST(Hostile, EveryTruncationFailsCleanly) {
    for (const std::vector<uint8_t>& file : sample_files()) {
        LwLayer* whole = lwo_test_load(file);
        ASSERT_NE(whole, nullptr);
        lwo_free(whole);
        for (size_t n = 0; n < file.size(); n++) {
            std::vector<uint8_t> cut(file.begin(), file.begin() + n);
            LwLayer* object = lwo_test_load(cut);
            // The FORM length still claims the whole file, so a cut file never reads as complete.
            EXPECT_EQ(object, nullptr) << n;
            lwo_free(object);
        }
    }
}

TEST(Hostile, MutatedFilesNeverCrash) {
    uint32_t state = 12345;
    auto next = [&]() { return state = state * 1664525u + 1013904223u; };
    int loaded = 0;
    for (const std::vector<uint8_t>& file : sample_files()) {
        for (int round = 0; round < 400; round++) {
            std::vector<uint8_t> bytes = file;
            int changes = 1 + int(next() % 4);
            for (int c = 0; c < changes; c++) {
                size_t at = 12 + next() % (bytes.size() - 12);
                switch (next() % 3) {
                    case 0: bytes[at] = uint8_t(next() >> 24); break;
                    case 1: bytes[at] = 0xFF; break;
                    default: bytes[at] ^= uint8_t(1u << (next() % 8)); break;
                }
            }
            LwLayer* object = lwo_test_load(bytes);
            if (object) loaded++;
            lwo_free(object);
            convert_all(bytes);
        }
    }
    EXPECT_GT(loaded, 0) << "some mutations leave a readable file";
}

TEST(Hostile, LengthsAndCountsBeyondTheFileAreRefused) {
    // A chunk claiming more bytes than the file has.
    EXPECT_EQ(lwo_test_load(header_then("PNTS", 0x7FFFFFF0u, {0, 0, 0, 0})), nullptr);
    // A map whose name runs past its chunk, and one whose length is shorter than its header.
    EXPECT_EQ(lwo_test_load(header_then("VMAP", 8, {'T', 'X', 'U', 'V', 0, 2, 'a', 'b'})), nullptr);
    EXPECT_EQ(lwo_test_load(header_then("VMAD", 2, {'T', 'X'})), nullptr);
    // A polygon count larger than its chunk can hold.
    EXPECT_EQ(lwo_test_load(header_then("POLS", 6, {'F', 'A', 'C', 'E', 0x03, 0xFF})), nullptr);
    // A sub-chunk longer than its surface.
    EXPECT_EQ(lwo_test_load(header_then("SURF", 10, {'s', 0, 0, 0, 'C', 'O', 'L', 'R', 0x40, 0})), nullptr);
    // Unknown chunks are skipped, but not past the end of the file.
    EXPECT_EQ(lwo_test_load(header_then("JUNK", 100, {1, 2, 3})), nullptr);
    LwLayer* fine = lwo_test_load(header_then("JUNK", 3, {1, 2, 3}));
    EXPECT_NE(fine, nullptr);
    lwo_free(fine);
}

TEST(Hostile, LargePolygonsAreFannedWithinTheBudget) {
    LwoTestObject o;
    for (int i = 0; i < 1023; i++) {
        float a = float(i) / 1023 * 6.2831853f;
        o.points.push_back(std::cos(a)), o.points.push_back(std::sin(a)), o.points.push_back(0);
    }
    std::vector<uint32_t> ring;
    for (uint32_t i = 0; i < 1023; i++) ring.push_back(i);
    o.polygons.assign(40, ring);
    LwoTestSurface s;
    s.name = "s";
    s.projection = 4;
    o.surfaces.push_back(s);
    Mesh* mesh = mesh_from_lwo_object_split(lwo_test_load(lwo_writer_object(o)));
    ASSERT_NE(mesh, nullptr);
    EXPECT_EQ(mesh->triangle_count, 40 * 1021);
    mesh_free(mesh);
}

TEST(Hostile, MapsOfTooFewComponentsReadMissingOnesAsZero) {
    LwoTestObject o = lwo_test_cube8();
    o.surfaces[0].map_name.push_back('w');  // the image map names the map below
    std::vector<uint8_t> bytes = lwo_writer_object(o);
    // A one-component map with the name the image map asks for, before the surfaces.
    LwoWriter vmap;
    lwo_writer_chunk(&vmap, "VMAP");
    lwo_writer_id(&vmap, "TXUV");
    lwo_writer_u2(&vmap, 1);
    lwo_writer_string(&vmap, "w");
    for (uint32_t i = 0; i < 8; i++) lwo_writer_vx(&vmap, i), lwo_writer_f4(&vmap, 0.25f);
    lwo_writer_vx(&vmap, 60000), lwo_writer_f4(&vmap, 0.5f);  // a point that does not exist
    lwo_writer_end(&vmap);
    size_t at = 12;  // after the FORM header: before TAGS would put it before any layer
    for (size_t i = 12; i + 4 <= bytes.size(); i++)
        if (memcmp(&bytes[i], "POLS", 4) == 0) {
            at = i;
            break;
        }
    std::vector<uint8_t> joined(bytes.begin(), bytes.begin() + long(at));
    joined.insert(joined.end(), vmap.bytes.begin(), vmap.bytes.end());
    joined.insert(joined.end(), bytes.begin() + long(at), bytes.end());
    bytes.swap(joined);
    uint32_t form = uint32_t(bytes.size() - 8);
    for (int i = 0; i < 4; i++) bytes[4 + i] = uint8_t(form >> (24 - 8 * i));
    Mesh* mesh = mesh_from_lwo_object(lwo_test_load(bytes));
    ASSERT_NE(mesh, nullptr);
    EXPECT_EQ(mesh->vertices[3].u, 0.25f);
    EXPECT_EQ(mesh->vertices[3].v, 1.0f);
    mesh_free(mesh);
}
