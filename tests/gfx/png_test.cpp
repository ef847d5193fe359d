#include <gtest/gtest.h>

#include <png.h>
#include <zlib.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "gfx/image.h"
#include "image_support.h"

namespace {

struct Case {
    int colour_type;
    int depth;
    bool trns;
    int interlace;
};

std::string case_name(const Case& c) {
    return "type " + std::to_string(c.colour_type) + " depth " + std::to_string(c.depth) +
           (c.trns ? " tRNS" : "") + (c.interlace ? " interlaced" : "");
}

int samples_per_pixel(int colour_type) {
    switch (colour_type) {
    case PNG_COLOR_TYPE_GRAY: case PNG_COLOR_TYPE_PALETTE: return 1;
    case PNG_COLOR_TYPE_GRAY_ALPHA: return 2;
    case PNG_COLOR_TYPE_RGB: return 3;
    default: return 4;
    }
}

// Packs samples of the given depth into PNG rows (most significant bits first, 16-bit big-endian).
std::vector<uint8_t> pack_rows(const std::vector<uint32_t>& samples, int per_row, int height, int depth) {
    size_t row_bytes = ((size_t)per_row * depth + 7) / 8;
    std::vector<uint8_t> rows(row_bytes * height, 0);
    for (int y = 0; y < height; y++) {
        uint8_t* row = rows.data() + y * row_bytes;
        for (int i = 0; i < per_row; i++) {
            uint32_t v = samples[(size_t)y * per_row + i];
            if (depth == 16) {
                row[2 * i] = (uint8_t)(v >> 8);
                row[2 * i + 1] = (uint8_t)v;
            } else if (depth == 8) {
                row[i] = (uint8_t)v;
            } else {
                int bit = i * depth;
                row[bit / 8] |= (uint8_t)(v << (8 - depth - bit % 8));
            }
        }
    }
    return rows;
}

uint32_t to_8(uint32_t v, int depth) {
    switch (depth) {
    case 1: return v * 255;
    case 2: return v * 85;
    case 4: return v * 17;
    case 16: return v >> 8;
    default: return v;
    }
}

uint32_t expected_pixel(uint32_t r, uint32_t g, uint32_t b, uint32_t a, bool four_channels) {
    if (!four_channels) return 0xFF000000u | r << 16 | g << 8 | b;
    return a << 24 | ((r * a) >> 8) << 16 | ((g * a) >> 8) << 8 | ((b * a) >> 8);
}

// Every colour type and bit depth, written by libpng and read back: each pixel must be the expected
// expansion to 8-bit RGB(A), with alpha premultiplied whenever the file has alpha or transparency.
TEST(PngLoader, EveryColourTypeAndDepthExpandsAndPremultiplies) {
    const Case cases[] = {
        {PNG_COLOR_TYPE_GRAY, 1, false, 0},  {PNG_COLOR_TYPE_GRAY, 2, false, 0},
        {PNG_COLOR_TYPE_GRAY, 4, false, 0},  {PNG_COLOR_TYPE_GRAY, 8, false, 0},
        {PNG_COLOR_TYPE_GRAY, 16, false, 0}, {PNG_COLOR_TYPE_GRAY, 4, true, 0},
        {PNG_COLOR_TYPE_GRAY, 8, true, 0},   {PNG_COLOR_TYPE_GRAY, 16, true, 0},
        {PNG_COLOR_TYPE_GRAY_ALPHA, 8, false, 0}, {PNG_COLOR_TYPE_GRAY_ALPHA, 16, false, 0},
        {PNG_COLOR_TYPE_PALETTE, 1, false, 0}, {PNG_COLOR_TYPE_PALETTE, 2, true, 0},
        {PNG_COLOR_TYPE_PALETTE, 4, false, 0}, {PNG_COLOR_TYPE_PALETTE, 8, false, 0},
        {PNG_COLOR_TYPE_PALETTE, 8, true, 0},
        {PNG_COLOR_TYPE_RGB, 8, false, 0},   {PNG_COLOR_TYPE_RGB, 16, false, 0},
        {PNG_COLOR_TYPE_RGB, 8, true, 0},
        {PNG_COLOR_TYPE_RGB_ALPHA, 8, false, 0}, {PNG_COLOR_TYPE_RGB_ALPHA, 16, false, 0},
        {PNG_COLOR_TYPE_RGB_ALPHA, 8, false, 1}, {PNG_COLOR_TYPE_PALETTE, 4, true, 1},
        {PNG_COLOR_TYPE_GRAY, 2, false, 1},
    };
    std::mt19937 rng(99);
    for (const Case& c : cases) {
        SCOPED_TRACE(case_name(c));
        const int width = 13, height = 11;
        int spp = samples_per_pixel(c.colour_type);
        uint32_t max = (1u << c.depth) - 1;
        TestPng png;
        png.width = width;
        png.height = height;
        png.colour_type = c.colour_type;
        png.depth = c.depth;
        png.interlace = c.interlace ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE;
        int palette_size = c.colour_type == PNG_COLOR_TYPE_PALETTE ? (int)max + 1 : 0;
        for (int i = 0; i < palette_size; i++)
            png.palette.push_back({(png_byte)rng(), (png_byte)rng(), (png_byte)rng()});
        std::vector<uint32_t> samples((size_t)width * height * spp);
        for (auto& s : samples) s = rng() & max;
        if (c.trns) {
            if (c.colour_type == PNG_COLOR_TYPE_PALETTE) {
                // fewer entries than the palette: the rest stay opaque
                for (int i = 0; i < (palette_size + 1) / 2; i++)
                    png.trns_alpha.push_back(i == 0 ? 0 : (png_byte)rng());
            } else {
                png.trns_colour = true;
                png.trns_value.gray = (png_uint_16)samples[0];
                png.trns_value.red = (png_uint_16)samples[0];
                png.trns_value.green = (png_uint_16)(spp > 1 ? samples[1] : 0);
                png.trns_value.blue = (png_uint_16)(spp > 2 ? samples[2] : 0);
                for (int i = 0; i < spp; i++) samples[spp * 5 + i] = samples[i];  // a second match
            }
        }
        png.rows = pack_rows(samples, width * spp, height, c.depth);
        std::string path = test_scratch_path("case.png");
        ASSERT_TRUE(test_write_png(path, png));

        Image* image = image_load_png(path.c_str(), 0);
        ASSERT_NE(image, nullptr);
        ASSERT_EQ(image->width, width);
        ASSERT_EQ(image->height, height);
        EXPECT_EQ(image->level_count, 0);
        bool four = (c.colour_type & PNG_COLOR_MASK_ALPHA) || c.trns;
        for (int p = 0; p < width * height; p++) {
            const uint32_t* s = &samples[(size_t)p * spp];
            uint32_t r, g, b, a = 255;
            switch (c.colour_type) {
            case PNG_COLOR_TYPE_PALETTE:
                r = png.palette[s[0]].red, g = png.palette[s[0]].green, b = png.palette[s[0]].blue;
                if (s[0] < png.trns_alpha.size()) a = png.trns_alpha[s[0]];
                break;
            case PNG_COLOR_TYPE_GRAY:
            case PNG_COLOR_TYPE_GRAY_ALPHA:
                r = g = b = to_8(s[0], c.depth);
                if (spp == 2) a = to_8(s[1], c.depth);
                if (c.trns && s[0] == png.trns_value.gray) a = 0;
                break;
            default:
                r = to_8(s[0], c.depth), g = to_8(s[1], c.depth), b = to_8(s[2], c.depth);
                if (spp == 4) a = to_8(s[3], c.depth);
                if (c.trns && s[0] == png.trns_value.red && s[1] == png.trns_value.green &&
                    s[2] == png.trns_value.blue)
                    a = 0;
                break;
            }
            ASSERT_EQ(image->pixels[p], expected_pixel(r, g, b, a, four)) << "pixel " << p;
        }
        image_free(image);
    }
}

TEST(PngLoader, FlaggedLoadsBuildMipsOrSayWhyNot) {
    TestPng png;
    png.width = 8;
    png.height = 8;
    png.colour_type = PNG_COLOR_TYPE_RGB;
    for (int i = 0; i < 8 * 8 * 3; i++) png.rows.push_back((uint8_t)(i * 37));
    std::string square = test_scratch_path("square.png");
    ASSERT_TRUE(test_write_png(square, png));
    testing::internal::CaptureStdout();
    Image* image = image_load_png(square.c_str(), 1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->level_count, 4);
    EXPECT_NE(image->levels[3][0], 0u);  // the builder ran down to the last level
    image_free(image);

    png.width = 16;  // 16 x 8: levels exist but cannot be built
    png.rows.resize(16 * 8 * 3, 200);
    std::string wide = test_scratch_path("wide.png");
    ASSERT_TRUE(test_write_png(wide, png));
    testing::internal::CaptureStdout();
    image = image_load_png(wide.c_str(), 1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "unable to build mipmaps for \"" + wide + "\"\n");
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->level_count, 4);
    image_free(image);

    png.width = 12;
    png.rows.resize(12 * 8 * 3, 200);
    std::string odd = test_scratch_path("odd.png");
    ASSERT_TRUE(test_write_png(odd, png));
    testing::internal::CaptureStdout();
    EXPECT_EQ(image_load_png(odd.c_str(), 1), nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "texture dimensions must be POW2 (12 x 8\n");
    image = image_load_png(odd.c_str(), 0);  // without the flag any size loads
    ASSERT_NE(image, nullptr);
    image_free(image);
}

std::vector<uint8_t> small_png_bytes() {
    TestPng png;
    png.width = 40;
    png.height = 30;
    png.colour_type = PNG_COLOR_TYPE_RGB_ALPHA;
    std::mt19937 rng(5);
    for (int i = 0; i < 40 * 30 * 4; i++) png.rows.push_back((uint8_t)rng());
    std::string path = test_scratch_path("small.png");
    EXPECT_TRUE(test_write_png(path, png));
    return test_read_bytes(path);
}

// Damaged files load as null and print nothing (leaks show under the sanitizer build).
TEST(PngLoader, MissingEmptyTruncatedAndCorruptFilesLoadAsNull) {
    testing::internal::CaptureStdout();
    EXPECT_EQ(image_load_png(test_scratch_path("absent.png").c_str(), 0), nullptr);
    std::string path = test_scratch_path("bad.png");
    test_write_bytes(path, {});
    EXPECT_EQ(image_load_png(path.c_str(), 0), nullptr);
    std::vector<uint8_t> good = small_png_bytes();
    ASSERT_GT(good.size(), 100u);
    for (size_t length = 0; length + 12 < good.size(); length += 9) {  // the last 12 bytes are IEND
        test_write_bytes(path, std::vector<uint8_t>(good.begin(), good.begin() + length));
        EXPECT_EQ(image_load_png(path.c_str(), 0), nullptr) << "truncated to " << length;
    }
    for (size_t at = 8; at + 12 < good.size(); at += 23) {
        std::vector<uint8_t> bad = good;
        bad[at] ^= 0x5A;
        test_write_bytes(path, bad);
        EXPECT_EQ(image_load_png(path.c_str(), 0), nullptr) << "byte " << at << " damaged";
    }
    test_write_bytes(path, std::vector<uint8_t>{'n', 'o', 't', ' ', 'a', ' ', 'p', 'n', 'g', '!'});
    EXPECT_EQ(image_load_png(path.c_str(), 0), nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    test_write_bytes(path, good);
    Image* image = image_load_png(path.c_str(), 0);
    EXPECT_NE(image, nullptr);
    image_free(image);
}

TEST(PngLoader, SidesAboveTheLimitAreRefused) {
    for (int side : {(int)IMAGE_MAX_SIDE, IMAGE_MAX_SIDE + 1}) {
        TestPng png;
        png.width = side;
        png.height = 2;
        png.colour_type = PNG_COLOR_TYPE_GRAY;
        png.depth = 1;
        png.rows.assign((size_t)(side + 7) / 8 * 2, 0xAA);
        std::string path = test_scratch_path("wide-limit.png");
        ASSERT_TRUE(test_write_png(path, png));
        Image* image = image_load_png(path.c_str(), 0);
        if (side == IMAGE_MAX_SIDE) {
            ASSERT_NE(image, nullptr);
            EXPECT_EQ(image->pixels[0], 0xFFFFFFFFu);
            EXPECT_EQ(image->pixels[1], 0xFF000000u);
        } else {
            EXPECT_EQ(image, nullptr);
        }
        image_free(image);
        // the same height-wise
        png.width = 1;
        png.height = side;
        png.rows.assign((size_t)side, 0x80);
        ASSERT_TRUE(test_write_png(path, png));
        image = image_load_png(path.c_str(), 0);
        EXPECT_EQ(image != nullptr, side == IMAGE_MAX_SIDE);
        image_free(image);
    }
}

// The header's claim is checked before the row buffer or the image are allocated, so a few hundred
// bytes cannot ask for gigabytes; one line says why.
TEST(PngLoader, HeadersClaimingMoreThanThePixelBudgetAreRefused) {
    TestPng png;
    png.width = png.height = 4;
    png.rows.assign(4 * 3 * 4, 0x55);
    std::string path = test_scratch_path("bomb.png");
    ASSERT_TRUE(test_write_png(path, png));
    std::vector<uint8_t> bytes = test_read_bytes(path);
    ASSERT_EQ(memcmp(&bytes[12], "IHDR", 4), 0);
    struct { unsigned width, height; } claims[] = {{16384, 16384}, {8193, 8192}};
    for (auto c : claims) {
        for (int i = 0; i < 4; i++) {
            bytes[16 + i] = (uint8_t)(c.width >> (24 - 8 * i));
            bytes[20 + i] = (uint8_t)(c.height >> (24 - 8 * i));
        }
        uint32_t crc = (uint32_t)crc32(0, &bytes[12], 17);  // type and the 13 header bytes
        for (int i = 0; i < 4; i++) bytes[29 + i] = (uint8_t)(crc >> (24 - 8 * i));
        test_write_bytes(path, bytes);
        testing::internal::CaptureStderr();
        Image* image = image_load_png(path.c_str(), 0);
        std::string out = testing::internal::GetCapturedStderr();
        EXPECT_EQ(image, nullptr);
        EXPECT_EQ(out, "texture: " + path + ": too large (" + std::to_string(c.width) + " x " +
                           std::to_string(c.height) + "), refused\n");
        image_free(image);
    }
}

}  // namespace
