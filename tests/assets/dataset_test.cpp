// The written data set, read back with libpng and libjpeg directly: names, sizes, kinds, alpha,
// the encodings the show relies on, seamless tiling, and byte-identical repeat runs.
#include <gtest/gtest.h>
#include <unistd.h>

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <jpeglib.h>
#include <png.h>

#include "assets/check_lwo.h"
#include "assets/dataset.h"
#include "assets/textures.h"

namespace {

struct Picture {
    int width = 0, height = 0, channels = 0;  // channels 3 (RGB) or 4 (RGBA)
    std::vector<uint8_t> px;
    const uint8_t* at(int x, int y) const { return &px[((size_t)y * width + x) * channels]; }
};

bool read_png(const std::string& path, Picture* out) {
    FILE* f = fopen(path.c_str(), "rb");
    if (!f) return false;
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, nullptr);
        fclose(f);
        return false;
    }
    png_init_io(png, f);
    png_read_info(png, info);
    int type = png_get_color_type(png, info), depth = png_get_bit_depth(png, info);
    if (depth != 8 || (type != PNG_COLOR_TYPE_RGB && type != PNG_COLOR_TYPE_RGB_ALPHA)) {
        png_destroy_read_struct(&png, &info, nullptr);
        fclose(f);
        return false;
    }
    out->width = (int)png_get_image_width(png, info);
    out->height = (int)png_get_image_height(png, info);
    out->channels = type == PNG_COLOR_TYPE_RGB_ALPHA ? 4 : 3;
    out->px.resize((size_t)out->width * out->height * out->channels);
    for (int y = 0; y < out->height; y++) png_read_row(png, &out->px[(size_t)y * out->width * out->channels], nullptr);
    png_destroy_read_struct(&png, &info, nullptr);
    fclose(f);
    return true;
}

struct JpegErr {
    jpeg_error_mgr mgr;
    jmp_buf jump;
};
void jpeg_fail(j_common_ptr c) { longjmp(((JpegErr*)c->err)->jump, 1); }

bool read_jpeg(const std::string& path, Picture* out) {
    FILE* f = fopen(path.c_str(), "rb");
    if (!f) return false;
    jpeg_decompress_struct cinfo;
    JpegErr err;
    cinfo.err = jpeg_std_error(&err.mgr);
    err.mgr.error_exit = jpeg_fail;
    if (setjmp(err.jump)) {
        jpeg_destroy_decompress(&cinfo);
        fclose(f);
        return false;
    }
    jpeg_create_decompress(&cinfo);
    jpeg_stdio_src(&cinfo, f);
    jpeg_read_header(&cinfo, TRUE);
    bool colour = cinfo.num_components == 3;
    cinfo.out_color_space = JCS_RGB;
    jpeg_start_decompress(&cinfo);
    out->width = (int)cinfo.output_width;
    out->height = (int)cinfo.output_height;
    out->channels = 3;
    out->px.resize((size_t)out->width * out->height * 3);
    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW row = &out->px[(size_t)cinfo.output_scanline * out->width * 3];
        jpeg_read_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    fclose(f);
    return colour;
}

bool is_pow2(int v) { return v > 0 && (v & (v - 1)) == 0; }

std::string run_a, run_b;

class DataSet : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        char a[] = "/tmp/quillet-dataset-a-XXXXXX", b[] = "/tmp/quillet-dataset-b-XXXXXX";
        ASSERT_NE(mkdtemp(a), nullptr);
        ASSERT_NE(mkdtemp(b), nullptr);
        run_a = a;
        run_b = b;
        ASSERT_EQ(dataset_write(run_a.c_str(), (run_a + "/sheet.png").c_str(), nullptr), 0);
        ASSERT_EQ(dataset_write(run_b.c_str(), nullptr, nullptr), 0);
    }
    static void TearDownTestSuite() {
        (void)system(("rm -rf '" + run_a + "' '" + run_b + "'").c_str());
    }
    static Picture load(int slot) {
        Picture p;
        std::string path = run_a + "/data/" + texture_specs[slot].file;
        bool ok = (texture_specs[slot].flags & TEXTURE_JPEG) ? read_jpeg(path, &p) : read_png(path, &p);
        EXPECT_TRUE(ok) << path;
        return p;
    }
};

const char* const texture_names[39] = {
    "pointlight.jpg", "circle_particle.jpg", "cube_shadow.jpg", "corkscrew_gray.jpg", "wood-284.jpg",
    "punky_brewster.png", "EnviGray.jpg", "particle.png", "invenv.jpg", "metal.jpg", "bumpmap.jpg",
    "metal_gloss.jpg", "scanlines.png", "grain.png", "bump_bg.jpg", "cube_bg.jpg", "meta_bg.jpg",
    "shadows_bg.jpg", "springs_bg.jpg", "filmstrip.jpg", "dancing.png", "swim_for_your_lives.png",
    "were_comming_ashore.png", "velmorian.png", "quillet.png", "wdan-tv-1.png", "wdan-tv-2.png",
    "wdan-tv-3.png", "bird-left.png", "bird-right.png", "skeksis_left.png", "skeksis-right.png",
    "ribbon.png", "Smoke.png", "music-brask.png", "graphics-tolvan.png", "code-merrit.png",
    "end_cred_1.png", "end_cred_2.png"};

TEST_F(DataSet, EveryFileExistsUnderItsExactName) {
    for (int i = 0; i < 39; i++) {
        EXPECT_STREQ(texture_specs[i].file, texture_names[i]) << "slot " << i;
        EXPECT_EQ(access((run_a + "/data/" + texture_names[i]).c_str(), R_OK), 0) << texture_names[i];
    }
    for (const char* o : {"cube.lwo", "cube2.lwo", "sphere.lwo", "sphere3.lwo", "ribbon.lwo", "plane.lwo", "sky.lwo",
                          "poles.lwo", "poles_trans.lwo"})
        EXPECT_EQ(access((run_a + "/data/" + o).c_str(), R_OK), 0) << o;
}

TEST_F(DataSet, TexturesHaveTheirSizesAndKinds) {
    for (int i = 0; i < TEXTURE_COUNT; i++) {
        const TextureSpec& s = texture_specs[i];
        Picture p = load(i);
        if (s.flags & TEXTURE_AT_MOST) {
            EXPECT_LE(p.width, s.width) << s.file;
            EXPECT_LE(p.height, s.height) << s.file;
            EXPECT_GT(p.width, s.width / 2) << s.file;
        } else {
            EXPECT_EQ(p.width, s.width) << s.file;
            EXPECT_EQ(p.height, s.height) << s.file;
        }
        if (s.flags & TEXTURE_RASTER) {
            EXPECT_TRUE(is_pow2(p.width) && is_pow2(p.height)) << s.file;
        }
        if (!(s.flags & TEXTURE_JPEG)) {
            EXPECT_EQ(p.channels, (s.flags & TEXTURE_ALPHA) ? 4 : 3) << s.file;
        }
    }
    // Sizes the scenes depend on.
    EXPECT_EQ(load(9).width, load(10).width);
    EXPECT_EQ(load(9).height, load(10).height);
    Picture strip = load(19);
    EXPECT_EQ(strip.height % 240, 0);
    EXPECT_EQ(strip.width, 320);
    Picture dancer = load(20);
    EXPECT_EQ(dancer.width % 4, 0);
    EXPECT_EQ(dancer.height % 3, 0);
}

TEST_F(DataSet, AlphaPicturesAreStraightWithEmptyPixelsBlack) {
    for (int i = 0; i < TEXTURE_COUNT; i++) {
        if (!(texture_specs[i].flags & TEXTURE_ALPHA)) continue;
        Picture p = load(i);
        size_t transparent = 0, opaque_ish = 0;
        for (int y = 0; y < p.height; y++)
            for (int x = 0; x < p.width; x++) {
                const uint8_t* q = p.at(x, y);
                if (q[3] == 0) {
                    transparent++;
                    ASSERT_EQ(q[0] | q[1] | q[2], 0) << texture_specs[i].file << " at " << x << "," << y;
                } else if (q[3] > 200) {
                    opaque_ish++;
                }
            }
        EXPECT_GT(transparent, 0u) << texture_specs[i].file;
        if (i != 12 && i != 33) {  // something is drawn
            EXPECT_GT(opaque_ish, 0u) << texture_specs[i].file;
        }
    }
    // Sprites are cut out: the borders of the televisions, birds and creatures are empty.
    for (int i : {25, 26, 27, 28, 29, 7}) {
        Picture p = load(i);
        for (int x = 0; x < p.width; x++) {
            EXPECT_EQ(p.at(x, p.height - 1)[3], 0) << texture_specs[i].file;
            EXPECT_EQ(p.at(x, 0)[3], 0) << texture_specs[i].file;
        }
        for (int y = 0; y < p.height; y++) {
            EXPECT_EQ(p.at(0, y)[3], 0) << texture_specs[i].file;
            EXPECT_EQ(p.at(p.width - 1, y)[3], 0) << texture_specs[i].file;
        }
    }
    // Each dancer pose stays inside its own cell of the 4 x 3 sheet.
    Picture dancer = load(20);
    int cw = dancer.width / 4, ch = dancer.height / 3, inside = 0;
    for (int cell = 0; cell < 12; cell++) {
        int x0 = (cell % 4) * cw, y0 = (cell / 4) * ch;
        for (int k = 0; k < cw; k++) {
            EXPECT_EQ(dancer.at(x0 + k, y0)[3], 0) << "cell " << cell;
            EXPECT_EQ(dancer.at(x0 + k, y0 + ch - 1)[3], 0) << "cell " << cell;
        }
        for (int k = 0; k < ch; k++) {
            EXPECT_EQ(dancer.at(x0, y0 + k)[3], 0) << "cell " << cell;
            EXPECT_EQ(dancer.at(x0 + cw - 1, y0 + k)[3], 0) << "cell " << cell;
        }
        inside += dancer.at(x0 + cw / 2, y0 + ch / 2)[3] > 200;  // the body is at the centre
    }
    EXPECT_GE(inside, 10);
    // The creatures stand on the bottom edge.
    for (int i : {30, 31}) {
        Picture p = load(i);
        int touching = 0;
        for (int x = 0; x < p.width; x++) touching += p.at(x, p.height - 3)[3] > 128;
        EXPECT_GT(touching, 10) << texture_specs[i].file;
    }
}

TEST_F(DataSet, EncodingsTheShowReliesOn) {
    // Bump map: flat texels hold the normal (0, 0, 1) as (128, 128, 254); most of the plate is flat.
    Picture bump = load(10);
    size_t flat = 0, off = 0, total = (size_t)bump.width * bump.height;
    for (int y = 0; y < bump.height; y++)
        for (int x = 0; x < bump.width; x++) {
            const uint8_t* q = bump.at(x, y);
            if (std::abs(q[0] - 128) <= 2 && std::abs(q[1] - 128) <= 2 && std::abs(q[2] - 254) <= 2) flat++;
            // Every texel decodes to a normal of about unit length pointing out of the plate.
            float n[3];
            for (int k = 0; k < 3; k++) n[k] = (q[k] / 2.0f - 64.0f) / 63.0f;
            if (std::fabs(n[0] * n[0] + n[1] * n[1] + n[2] * n[2] - 1.0f) > 0.15f || n[2] < 0.2f) off++;
        }
    EXPECT_GT(flat, total / 4);  // the plate between seams and rivets
    EXPECT_LT(off, total / 50) << "texels that are no unit normal after compression";

    // Scan lines: even rows transparent, odd rows black at alpha 110.
    Picture scan = load(12);
    for (int y = 0; y < scan.height; y++)
        for (int x = 0; x < scan.width; x += 37) {
            const uint8_t* q = scan.at(x, y);
            EXPECT_EQ(q[3], (y & 1) ? 110 : 0);
            EXPECT_EQ(q[0] | q[1] | q[2], 0);
        }

    // Grain: bright grey only.
    Picture grain = load(13);
    for (size_t i = 0; i < grain.px.size(); i += 3) {
        ASSERT_GE(grain.px[i], 140);
        ASSERT_EQ(grain.px[i], grain.px[i + 1]);
        ASSERT_EQ(grain.px[i], grain.px[i + 2]);
    }

    // Cube face: texel (0, 0) mid grey, the middle bright.
    Picture cube = load(2);
    for (int k = 0; k < 3; k++) {
        EXPECT_NEAR(cube.at(0, 0)[k], 128, 24);
        EXPECT_GT(cube.at(64, 64)[k], 200);
    }

    // Glow particle: alpha follows the intensity, 0 on the border, full-ish in the middle.
    Picture particle = load(7);
    EXPECT_GT(particle.at(32, 32)[3], 230);
    EXPECT_GT(particle.at(32, 32)[3], particle.at(44, 32)[3]);
    EXPECT_GT(particle.at(44, 32)[3], particle.at(56, 32)[3]);

    // Point light: black corners, white-hot centre.
    Picture light = load(0);
    EXPECT_LT(light.at(0, 0)[0], 8);
    EXPECT_GT(light.at(128, 128)[0], 245);
    EXPECT_GT(light.at(128, 128)[2], 235);

    // Opaque pictures written as PNG are opaque by construction (RGB), so the old photograph
    // covers the tree scene evenly.
    EXPECT_EQ(load(5).channels, 3);
}

// Mean absolute difference between two columns (or rows) of a picture.
double line_difference(const Picture& p, int a, int b, bool columns) {
    double sum = 0.0;
    int n = columns ? p.height : p.width;
    for (int i = 0; i < n; i++) {
        const uint8_t* qa = columns ? p.at(a, i) : p.at(i, a);
        const uint8_t* qb = columns ? p.at(b, i) : p.at(i, b);
        for (int k = 0; k < p.channels; k++) sum += std::abs(qa[k] - qb[k]);
    }
    return sum / n;
}

TEST_F(DataSet, TilingTexturesWrapWithoutSeams) {
    for (int i = 0; i < TEXTURE_COUNT; i++) {
        if (!(texture_specs[i].flags & TEXTURE_TILES)) continue;
        Picture p = load(i);
        // The wrap from the last column to the first is no worse than a typical step inside.
        double inside = 0.0, inside_rows = 0.0;
        for (int x = 1; x < p.width; x++) inside += line_difference(p, x - 1, x, true);
        inside /= p.width - 1;
        EXPECT_LT(line_difference(p, p.width - 1, 0, true), inside * 2.5 + 2.0) << texture_specs[i].file;
        if (p.height < 64) continue;  // the ribbon tiles along its length only
        for (int y = 1; y < p.height; y++) inside_rows += line_difference(p, y - 1, y, false);
        inside_rows /= p.height - 1;
        EXPECT_LT(line_difference(p, p.height - 1, 0, false), inside_rows * 2.5 + 2.0) << texture_specs[i].file;
    }
}

TEST_F(DataSet, TwoRunsWriteIdenticalBytes) {
    std::vector<std::string> names(texture_names, texture_names + 39);
    for (const char* o : {"cube.lwo", "cube2.lwo", "sphere.lwo", "sphere3.lwo", "ribbon.lwo", "plane.lwo", "sky.lwo",
                          "poles.lwo", "poles_trans.lwo"})
        names.push_back(o);
    for (const std::string& n : names) {
        std::vector<uint8_t> a = check_read_file(run_a + "/data/" + n), b = check_read_file(run_b + "/data/" + n);
        ASSERT_FALSE(a.empty()) << n;
        EXPECT_TRUE(a == b) << n << " differs between runs";
    }
}

TEST_F(DataSet, ContactSheetShowsEveryTexture) {
    Picture sheet;
    ASSERT_TRUE(read_png(run_a + "/sheet.png", &sheet));
    EXPECT_GE(sheet.width * sheet.height, 39 * 150 * 150);
}

TEST(DataSetFolder, UnwritableFolderFailsCleanly) {
    EXPECT_EQ(dataset_write("/proc/quillet-cannot-be-here", nullptr, nullptr), 1);
    EXPECT_EQ(dataset_make_dir("/proc/quillet-cannot-be-here/x"), 1);
}

}  // namespace
