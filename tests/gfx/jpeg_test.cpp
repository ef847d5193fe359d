#include <gtest/gtest.h>

#include <jpeglib.h>

#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "gfx/image.h"
#include "image_support.h"

namespace {

// Decodes the file with libjpeg directly, to RGB samples: what the loader's pixels must hold.
std::vector<uint8_t> decode_rgb(const std::string& path, int* width, int* height) {
    FILE* f = fopen(path.c_str(), "rb");
    jpeg_decompress_struct d;
    jpeg_error_mgr err;
    d.err = jpeg_std_error(&err);
    jpeg_create_decompress(&d);
    jpeg_stdio_src(&d, f);
    jpeg_read_header(&d, TRUE);
    d.out_color_space = JCS_RGB;
    jpeg_start_decompress(&d);
    *width = (int)d.output_width;
    *height = (int)d.output_height;
    std::vector<uint8_t> rgb((size_t)*width * *height * 3);
    while (d.output_scanline < d.output_height) {
        JSAMPROW row = rgb.data() + (size_t)d.output_scanline * *width * 3;
        jpeg_read_scanlines(&d, &row, 1);
    }
    jpeg_finish_decompress(&d);
    jpeg_destroy_decompress(&d);
    fclose(f);
    return rgb;
}

std::vector<uint8_t> gradient(int width, int height, int components) {
    std::vector<uint8_t> s((size_t)width * height * components);
    for (int y = 0; y < height; y++)
        for (int x = 0; x < width; x++)
            for (int c = 0; c < components; c++)
                s[((size_t)y * width + x) * components + c] = (uint8_t)(x * 5 + y * 3 + c * 60);
    return s;
}

TEST(JpegLoader, PixelsAreTheDecodedSamplesWithOpaqueAlpha) {
    struct { int components; bool progressive; } cases[] = {{3, false}, {3, true}, {1, false}};
    for (auto c : cases) {
        SCOPED_TRACE(std::to_string(c.components) + (c.progressive ? " progressive" : ""));
        std::string path = test_scratch_path("case.jpg");
        ASSERT_TRUE(test_write_jpeg(path, 37, 21, c.components, gradient(37, 21, c.components), 90,
                                    c.progressive));
        int w = 0, h = 0;
        std::vector<uint8_t> rgb = decode_rgb(path, &w, &h);
        Image* image = image_load_jpeg(path.c_str(), 0);
        ASSERT_NE(image, nullptr);
        ASSERT_EQ(image->width, 37);
        ASSERT_EQ(image->height, 21);
        for (int p = 0; p < w * h; p++) {
            const uint8_t* s = &rgb[(size_t)p * 3];
            uint32_t expected = 0xFF000000u | (uint32_t)s[0] << 16 | (uint32_t)s[1] << 8 | s[2];
            ASSERT_EQ(image->pixels[p], expected) << "pixel " << p;
            if (c.components == 1) {
                ASSERT_TRUE(s[0] == s[1] && s[1] == s[2]);
            }
        }
        image_free(image);
    }
}

TEST(JpegLoader, FlaggedLoadsAreMipMapped) {
    std::string path = test_scratch_path("mip.jpg");
    ASSERT_TRUE(test_write_jpeg(path, 32, 32, 3, gradient(32, 32, 3), 90, false));
    Image* image = image_load_jpeg(path.c_str(), 1);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->level_count, 6);
    EXPECT_EQ(image->levels[5][0] >> 24, 0xFFu);  // built: alpha averaged down to the last level
    image_free(image);
    std::string odd = test_scratch_path("odd.jpg");
    ASSERT_TRUE(test_write_jpeg(odd, 24, 32, 3, gradient(24, 32, 3), 90, false));
    testing::internal::CaptureStdout();
    EXPECT_EQ(image_load_jpeg(odd.c_str(), 1), nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "texture dimensions must be POW2 (24 x 32\n");
}

TEST(JpegLoader, MissingEmptyTruncatedAndCorruptFilesLoadAsNull) {
    std::string good_path = test_scratch_path("good.jpg");
    ASSERT_TRUE(test_write_jpeg(good_path, 64, 48, 3, gradient(64, 48, 3), 90, false));
    std::vector<uint8_t> good = test_read_bytes(good_path);
    std::string path = test_scratch_path("bad.jpg");
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    EXPECT_EQ(image_load_jpeg(test_scratch_path("absent.jpg").c_str(), 0), nullptr);
    test_write_bytes(path, {});
    EXPECT_EQ(image_load_jpeg(path.c_str(), 0), nullptr);
    for (size_t length = 1; length + 2 < good.size(); length += 13) {  // cut before the end marker
        test_write_bytes(path, std::vector<uint8_t>(good.begin(), good.begin() + length));
        EXPECT_EQ(image_load_jpeg(path.c_str(), 0), nullptr) << "truncated to " << length;
    }
    test_write_bytes(path, std::vector<uint8_t>{0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x02, 'x'});
    EXPECT_EQ(image_load_jpeg(path.c_str(), 0), nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    test_write_bytes(path, good);
    Image* image = image_load_jpeg(path.c_str(), 0);
    EXPECT_NE(image, nullptr);
    image_free(image);
}

TEST(JpegLoader, SidesAboveTheLimitAreRefused) {
    for (int side : {(int)IMAGE_MAX_SIDE, IMAGE_MAX_SIDE + 1}) {
        std::string path = test_scratch_path("limit.jpg");
        ASSERT_TRUE(test_write_jpeg(path, side, 1, 1, std::vector<uint8_t>((size_t)side, 77), 50, false));
        Image* image = image_load_jpeg(path.c_str(), 0);
        EXPECT_EQ(image != nullptr, side == IMAGE_MAX_SIDE) << side;
        image_free(image);
    }
}

// A small file whose frame header claims a huge picture is refused from the header alone, with one
// line, before the decoder or the loader allocate anything of that size.
TEST(JpegLoader, HeadersClaimingMoreThanThePixelBudgetAreRefused) {
    std::string path = test_scratch_path("bomb.jpg");
    ASSERT_TRUE(test_write_jpeg(path, 8, 8, 3, gradient(8, 8, 3), 90, false));
    std::vector<uint8_t> bytes = test_read_bytes(path);
    size_t sof = 0;
    for (size_t i = 2; i + 9 < bytes.size() && !sof; i++)
        if (bytes[i] == 0xFF && bytes[i + 1] == 0xC0) sof = i;
    ASSERT_NE(sof, 0u);
    struct { unsigned width, height; } claims[] = {{16384, 16384}, {8192, 8193}};
    for (auto c : claims) {
        bytes[sof + 5] = (uint8_t)(c.height >> 8), bytes[sof + 6] = (uint8_t)c.height;
        bytes[sof + 7] = (uint8_t)(c.width >> 8), bytes[sof + 8] = (uint8_t)c.width;
        test_write_bytes(path, bytes);
        testing::internal::CaptureStderr();
        Image* image = image_load_jpeg(path.c_str(), 1);
        std::string out = testing::internal::GetCapturedStderr();
        EXPECT_EQ(image, nullptr);
        EXPECT_EQ(out, "texture: " + path + ": too large (" + std::to_string(c.width) + " x " +
                           std::to_string(c.height) + "), refused\n");
        image_free(image);
    }
}

}  // namespace
