// The data set through the show's own loaders: every texture loads with image_load_png or
// image_load_jpeg at its size, and every object converts into a mesh whose faces and texture
// coordinates come out as the scenes expect. A loader that returns null for a file the generator
// wrote fails the test.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <string>

#include "assets/dataset.h"
#include "assets/textures.h"
#include "gfx/image.h"
#include "lwo/lwo_mesh.h"
#include "render3d/mesh.h"

namespace {

std::string data_dir;

class ShowLoaders : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        char tmpl[] = "/tmp/quillet-loaders-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        std::string root = tmpl;
        ASSERT_EQ(dataset_write(root.c_str(), nullptr, nullptr), 0);
        data_dir = root + "/data/";
    }
    static void TearDownTestSuite() {
        std::string root = data_dir.substr(0, data_dir.size() - 6);
        (void)system(("rm -rf '" + root + "'").c_str());
    }
};

Image* load_texture(int slot, uint32_t flags) {
    std::string path = data_dir + texture_specs[slot].file;
    if (texture_specs[slot].flags & TEXTURE_JPEG) return image_load_jpeg(path.c_str(), flags);
    return image_load_png(path.c_str(), flags);
}

TEST_F(ShowLoaders, EveryTextureLoadsAtItsSize) {
    for (int i = 0; i < TEXTURE_COUNT; i++) {
        const TextureSpec& s = texture_specs[i];
        Image* img = load_texture(i, 0);
        ASSERT_NE(img, nullptr) << s.file;
        if (s.flags & TEXTURE_AT_MOST) {
            EXPECT_LE(img->width, s.width) << s.file;
            EXPECT_LE(img->height, s.height) << s.file;
        } else {
            EXPECT_EQ(img->width, s.width) << s.file;
            EXPECT_EQ(img->height, s.height) << s.file;
        }
        if (!(s.flags & TEXTURE_ALPHA)) {
            for (int p = 0; p < img->width * img->height; p += 97) ASSERT_EQ(img->pixels[p] >> 24, 0xFFu) << s.file;
        }
        image_free(img);
        // The rasterizer's square textures also load with mip levels.
        if ((s.flags & TEXTURE_RASTER) && s.width == s.height) {
            Image* mip = load_texture(i, 1);
            ASSERT_NE(mip, nullptr) << s.file;
            EXPECT_GT(mip->level_count, 0) << s.file;
            image_free(mip);
        }
    }
}

TEST_F(ShowLoaders, AlphaArrivesPremultipliedAndEmptyPixelsAreZero) {
    Image* particle = load_texture(7, 0);
    ASSERT_NE(particle, nullptr);
    EXPECT_EQ(particle->pixels[0], 0u);  // corner: transparent, colour 0
    uint32_t centre = particle->pixels[32 * 64 + 32];
    EXPECT_GT(centre >> 24, 230u);
    // No colour byte exceeds the alpha byte after premultiplication.
    for (int p = 0; p < 64 * 64; p++) {
        uint32_t c = particle->pixels[p], a = c >> 24;
        ASSERT_LE((c >> 16) & 255, a);
        ASSERT_LE((c >> 8) & 255, a);
        ASSERT_LE(c & 255, a);
    }
    image_free(particle);
    Image* scan = load_texture(12, 0);
    ASSERT_NE(scan, nullptr);
    EXPECT_EQ(scan->pixels[0], 0u);
    EXPECT_EQ(scan->pixels[640], 110u << 24);
    image_free(scan);
}

Mesh* convert(const char* name, int split) {
    std::string path = data_dir + name;
    return split ? mesh_from_lwo_split(path.c_str()) : mesh_from_lwo(path.c_str());
}

TEST_F(ShowLoaders, EveryObjectConvertsToAMesh) {
    Mesh* probe = convert("cube.lwo", 0);
    ASSERT_NE(probe, nullptr);
    EXPECT_EQ(probe->vertex_count, 24);
    EXPECT_EQ(probe->triangle_count, 12);
    // Triangles 2f and 2f + 1 belong to face f, in the voxel batcher's face order.
    const float faces[6][3] = {{-1, 0, 0}, {0, -1, 0}, {0, 0, 1}, {0, 1, 0}, {0, 0, -1}, {1, 0, 0}};
    for (int t = 0; t < 12; t++) {
        const MeshTriangle& tri = probe->triangles[t];
        EXPECT_NEAR(tri.normal.x, faces[t / 2][0], 1e-6) << t;
        EXPECT_NEAR(tri.normal.y, faces[t / 2][1], 1e-6) << t;
        EXPECT_NEAR(tri.normal.z, faces[t / 2][2], 1e-6) << t;
        EXPECT_EQ(tri.base_colour, 0xFFFFFFFFu);
    }
    for (int v = 0; v < 24; v++) {
        EXPECT_TRUE(probe->vertices[v].u == 0.0f || probe->vertices[v].u == 1.0f) << v;
        EXPECT_TRUE(probe->vertices[v].v == 0.0f || probe->vertices[v].v == 1.0f) << v;
    }
    mesh_free(probe);

    const char* names[] = {"cube2.lwo", "sphere.lwo", "sphere3.lwo", "ribbon.lwo", "plane.lwo",
                           "sky.lwo",   "poles.lwo",  "poles_trans.lwo"};
    for (const char* name : names) {
        Mesh* m = convert(name, 0);
        ASSERT_NE(m, nullptr) << name;
        EXPECT_GT(m->triangle_count, 0) << name;
        // Solids face away from their centre, the dome towards it.
        std::string n = name;
        if (n == "cube2.lwo" || n == "sphere.lwo" || n == "sphere3.lwo" || n == "sky.lwo") {
            for (int t = 0; t < m->triangle_count; t++) {
                const MeshTriangle& tri = m->triangles[t];
                const MeshVertex& a = m->vertices[tri.vertex_a];
                float d = tri.normal.x * a.px + tri.normal.y * a.py + tri.normal.z * a.pz;
                if (n == "sky.lwo") {
                    ASSERT_LT(d, 0.0f) << name << " " << t;
                } else {
                    ASSERT_GT(d, 0.0f) << name << " " << t;
                }
            }
        }
        // Projected coordinates: cubic and spherical stay within one texture.
        if (n == "cube2.lwo" || n == "sphere.lwo") {
            for (int v = 0; v < m->vertex_count; v++) {
                EXPECT_GE(m->vertices[v].u, -1e-5f) << name;
                EXPECT_LE(m->vertices[v].u, 1.0f + 1e-5f) << name;
                EXPECT_GE(m->vertices[v].v, -1e-5f) << name;
                EXPECT_LE(m->vertices[v].v, 1.0f + 1e-5f) << name;
            }
        }
        mesh_free(m);
    }

    // The spherical projection's jump from u = 1 back to 0 falls between triangles, not across
    // one, and the pole triangles keep their slice's u.
    Mesh* sphere = convert("sphere.lwo", 0);
    ASSERT_NE(sphere, nullptr);
    for (int t = 0; t < sphere->triangle_count; t++) {
        const MeshTriangle& tri = sphere->triangles[t];
        float u[3] = {sphere->vertices[tri.vertex_a].u, sphere->vertices[tri.vertex_b].u, sphere->vertices[tri.vertex_c].u};
        float span = std::fmax(u[0], std::fmax(u[1], u[2])) - std::fmin(u[0], std::fmin(u[1], u[2]));
        ASSERT_LT(span, 1.5f / 32.0f) << "sphere triangle " << t;
    }
    mesh_free(sphere);

    Mesh* glass = convert("poles_trans.lwo", 0);
    ASSERT_NE(glass, nullptr);
    // The same for the cylindrical projection on the glass poles' sides (the caps are flat).
    for (int t = 0; t < glass->triangle_count; t++) {
        const MeshTriangle& tri = glass->triangles[t];
        if (std::fabs(tri.normal.y) > 0.5f) continue;
        float u[3] = {glass->vertices[tri.vertex_a].u, glass->vertices[tri.vertex_b].u, glass->vertices[tri.vertex_c].u};
        float span = std::fmax(u[0], std::fmax(u[1], u[2])) - std::fmin(u[0], std::fmin(u[1], u[2]));
        ASSERT_LT(span, 1.5f / 12.0f) << "glass triangle " << t;
    }
    EXPECT_EQ(glass->triangles[0].base_colour, 0xFF99CCFFu);
    mesh_free(glass);
    Mesh* ribbon = convert("ribbon.lwo", 0);
    ASSERT_NE(ribbon, nullptr);
    EXPECT_EQ(ribbon->triangles[0].base_colour, 0xFFFFE5BFu);
    EXPECT_EQ(ribbon->triangle_count, 512);
    mesh_free(ribbon);
}

TEST_F(ShowLoaders, PolesSplitAtTheirSeam) {
    Mesh* shared = convert("poles.lwo", 0);
    ASSERT_NE(shared, nullptr);
    Mesh* split = convert("poles.lwo", 1);
    ASSERT_NE(split, nullptr);
    // One extra vertex per seam corner: two per pole.
    EXPECT_EQ(split->vertex_count, shared->vertex_count + 10);
    EXPECT_EQ(split->triangle_count, shared->triangle_count);
    int seam_vertices = 0;
    for (int v = shared->vertex_count; v < split->vertex_count; v++) seam_vertices += split->vertices[v].u == 1.0f;
    EXPECT_EQ(seam_vertices, 10);
    mesh_free(shared);
    mesh_free(split);
}

}  // namespace
