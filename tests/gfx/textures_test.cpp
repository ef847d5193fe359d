#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "gfx/image.h"
#include "image_support.h"

namespace {

void write_rgb_png(const std::string& path, int w, int h, uint8_t value) {
    TestPng png;
    png.width = w;
    png.height = h;
    png.rows.assign((size_t)w * h * 3, value);
    ASSERT_TRUE(test_write_png(path, png));
}

TextureListRow row(const std::string& name, uint32_t flags) {
    TextureListRow r{};
    snprintf(r.name, sizeof r.name, "%s", name.c_str());
    r.flags = flags;
    return r;
}

TEST(TextureList, RowsLoadByNameThenTheRampFollows) {
    std::string png = test_scratch_path("a.png");
    write_rgb_png(png, 4, 2, 9);
    std::string jpg = test_scratch_path("b.jpg");
    ASSERT_TRUE(test_write_jpeg(jpg, 8, 8, 3, std::vector<uint8_t>(8 * 8 * 3, 100), 90, false));
    // A name with both endings is a PNG: this file is a PNG, so a JPEG read would fail.
    std::string both = test_scratch_path("c.jpg.png");
    write_rgb_png(both, 2, 2, 50);
    // Blue rises along x: the slope map's red byte shows it.
    std::string bump = test_scratch_path("d.png");
    {
        TestPng p;
        p.width = 4;
        p.height = 4;
        for (int i = 0; i < 16; i++) p.rows.insert(p.rows.end(), {0, 0, (uint8_t)(i % 4 * 20)});
        ASSERT_TRUE(test_write_png(bump, p));
    }
    const TextureListRow rows[] = {row(png, 0), row(jpg, 1), row(both, 0), row(bump, TEXTURE_SLOPE_MAP)};
    ASSERT_EQ(textures_load_list(rows, 4), 0);
    EXPECT_EQ(texture_table.texture_count, 5);
    ASSERT_NE(texture_get(0), nullptr);
    EXPECT_EQ(texture_get(0)->pixels[0], 0xFF090909u);
    ASSERT_NE(texture_get(1), nullptr);
    EXPECT_EQ(texture_get(1)->level_count, 4);
    ASSERT_NE(texture_get(2), nullptr);
    EXPECT_EQ(texture_get(2)->pixels[0], 0xFF323232u);
    Image* slope = texture_get(3);
    ASSERT_NE(slope, nullptr);
    EXPECT_EQ(slope->level_count, 0);  // flag 0x100 also asked for levels; the slope map has none
    EXPECT_EQ(slope->pixels[1], 0xFF000000u | (uint32_t)((0 - 40 + 256) >> 1) << 16 | 128u << 8);
    ASSERT_NE(texture_get(4), nullptr);
    EXPECT_EQ(texture_get(4)->width, 256);
    EXPECT_EQ(texture_get(4)->pixels[255], 254u << 16);
    EXPECT_EQ(texture_get(5), nullptr);
    EXPECT_EQ(texture_get(-1), nullptr);
    EXPECT_EQ(texture_get(TEXTURE_SLOTS), nullptr);
    textures_free();
    for (int i = 0; i < 6; i++) EXPECT_EQ(texture_get(i), nullptr);
    textures_free();  // a second release is harmless
}

TEST(TextureList, AFailedRowReleasesEverythingLoadedBefore) {
    std::string png = test_scratch_path("ok.png");
    write_rgb_png(png, 2, 2, 1);
    std::string odd = test_scratch_path("odd.png");
    write_rgb_png(odd, 3, 2, 1);
    const TextureListRow missing[] = {row(png, 0), row(png, 0), row(test_scratch_path("gone.png"), 0)};
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    EXPECT_EQ(textures_load_list(missing, 3), 1);
    const TextureListRow unknown[] = {row(png, 0), row(test_scratch_path("ok.bmp"), 0)};
    EXPECT_EQ(textures_load_list(unknown, 2), 1);
    const TextureListRow not_pow2[] = {row(png, 0), row(odd, 1)};
    EXPECT_EQ(textures_load_list(not_pow2, 2), 1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "texture dimensions must be POW2 (3 x 2\n");
    // Standard output keeps the show's own lines; each failed row is named once on standard error.
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "texture: " + test_scratch_path("gone.png") + ": missing or not a readable picture\n"
              "texture: " + test_scratch_path("ok.bmp") + ": missing or not a readable picture\n"
              "texture: " + odd + ": missing or not a readable picture\n");
    for (int i = 0; i < 4; i++) EXPECT_EQ(texture_get(i), nullptr);
}

TEST(TextureList, TheShowsListNamesItsFilesInOrder) {
    EXPECT_STREQ(texture_list[0].name, "data\\pointlight.jpg");
    EXPECT_STREQ(texture_list[12].name, "data\\scanlines.png");
    EXPECT_STREQ(texture_list[14].name, "data\\bump_bg.jpg");
    EXPECT_STREQ(texture_list[18].name, "data\\springs_bg.jpg");
    EXPECT_STREQ(texture_list[38].name, "data\\end_cred_2.png");
    for (const TextureListRow& r : texture_list) {
        EXPECT_EQ(r.flags, 0u) << r.name;
        EXPECT_TRUE(strstr(r.name, ".png") || strstr(r.name, ".jpg")) << r.name;
    }
}

// The real data set, when this build tree has made it.
TEST(TextureTableData, LoadsTheWholeDataSet) {
    struct stat st;
    if (stat(QUILLET_BINARY_DIR "/data", &st) != 0) GTEST_SKIP() << "no data set in the build tree";
    char saved[4096];
    ASSERT_NE(getcwd(saved, sizeof saved), nullptr);
    ASSERT_EQ(chdir(QUILLET_BINARY_DIR), 0);
    testing::internal::CaptureStdout();
    int result = textures_init();
    std::string printed = testing::internal::GetCapturedStdout();
    ASSERT_EQ(chdir(saved), 0);
    ASSERT_EQ(result, 0);
    EXPECT_EQ(printed, "");
    EXPECT_EQ(texture_table.texture_count, 40);
    for (int i = 0; i < 40; i++) ASSERT_NE(texture_get(i), nullptr) << i;
    for (int i = 14; i <= 18; i++) {
        EXPECT_EQ(texture_get(i)->width, 640) << i;
        EXPECT_EQ(texture_get(i)->height, 480) << i;
        EXPECT_EQ(texture_get(i)->pixels[0] >> 24, 0xFFu) << i;  // JPEG: opaque
    }
    EXPECT_EQ(texture_get(12)->width, 640);
    textures_free();
}

}  // namespace
