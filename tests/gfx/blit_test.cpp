#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "gfx/blit.h"
#include "gfx/display.h"
#include "gfx/image.h"

namespace {

// Per-byte reference of every mode, written straight from the formulas.
uint32_t sat(uint32_t v) { return v > 255 ? 255 : v; }

uint32_t reference_blit_byte(uint32_t mode, uint32_t S, uint32_t D, uint32_t AS, uint32_t AD, uint32_t o) {
    uint32_t a = (AS * o) >> 8;
    switch (mode) {
    case 0: return sat(((S * a) >> 8) + ((D * (255 - a)) >> 8));
    case 1: return sat(S + ((D * (255 - a)) >> 8));
    case 2: return sat(((S * (255 - a)) >> 8) + D);
    case 3: return (S * (255 - a)) >> 8;
    case 4: return (D * a) >> 8;
    case 5: return sat(((S * D) >> 8) + ((D * (255 - a)) >> 8));
    case 6: {
        int m = (int)D - (int)((S * D) >> 8);
        return sat(D + (uint32_t)(m > 0 ? m : 0));
    }
    default: {
        uint32_t ad = (AD * o) >> 8;
        return sat(((S * ad) >> 8) + ((D * (255 - ad)) >> 8));
    }
    }
}

uint32_t reference_draw_byte(uint32_t mode, uint32_t S, uint32_t D) {
    switch (mode) {
    case 0: return S;
    case 1: return sat(S + D);
    case 2: return D > S ? D - S : 0;
    case 3: return (S * D) >> 8;
    case 4: return S < D ? S : D;
    case 5: return S > D ? S : D;
    default: return (S + D + 1) >> 1;
    }
}

// Reference of the whole operation: every screen pixel covered by the image, tested one by one.
void reference_apply(std::vector<uint32_t>& screen, const Image* image, int x, int y, uint32_t opacity,
                     uint32_t mode, bool blit) {
    if (blit ? mode > 7 : mode > 6) return;
    opacity &= 0xFF;
    for (int iy = 0; iy < image->height; iy++) {
        for (int ix = 0; ix < image->width; ix++) {
            long long px = (long long)x + ix, py = (long long)y + iy;
            if (px < 0 || py < 0 || px >= SCREEN_WIDTH || py >= SCREEN_HEIGHT) continue;
            uint32_t s = image->pixels[iy * image->width + ix];
            uint32_t& d = screen[py * SCREEN_WIDTH + px];
            uint32_t out = 0;
            for (int b = 0; b < 4; b++) {
                uint32_t S = (s >> (8 * b)) & 0xFF, D = (d >> (8 * b)) & 0xFF;
                uint32_t r = blit ? reference_blit_byte(mode, S, D, s >> 24, d >> 24, opacity)
                                  : reference_draw_byte(mode, S, D);
                out |= r << (8 * b);
            }
            d = out;
        }
    }
}

// Every routine set this processor can run (scalar always), widest restored afterwards.
std::vector<int> blit_paths() {
    std::vector<int> paths;
    for (int p = BLIT_PATH_SCALAR; p <= BLIT_PATH_AVX2; p++)
        if (blit_use_path(p) == p) paths.push_back(p);
    blit_use_path(BLIT_PATH_AVX2);
    return paths;
}

struct Blit : ::testing::Test {
    void SetUp() override { ASSERT_EQ(display_open_offscreen(0), 0); }
    void TearDown() override {
        blit_use_path(BLIT_PATH_AVX2);
        display_close();
    }
    std::vector<uint32_t> screen() const {
        return std::vector<uint32_t>(framebuffer.pixels, framebuffer.pixels + SCREEN_WIDTH * SCREEN_HEIGHT);
    }
    void load(const std::vector<uint32_t>& s) { memcpy(framebuffer.pixels, s.data(), s.size() * 4); }
};

void fill_random(uint32_t* p, size_t n, std::mt19937& rng) {
    // Mix of extremes and random bytes so saturation and zero alpha both occur often.
    for (size_t i = 0; i < n; i++) {
        uint32_t v = rng();
        switch (rng() % 8) {
        case 0: v |= 0xFF000000u; break;
        case 1: v &= 0x00FFFFFFu; break;
        case 2: v = 0xFFFFFFFFu; break;
        case 3: v = 0; break;
        default: break;
        }
        p[i] = v;
    }
}

// Every mode of both operations and both paths against the reference, on random images, random
// screens, positions on, partly off and wholly off the screen, and opacities including bits above
// the lowest byte.
TEST_F(Blit, EveryModeMatchesTheReferenceOnRandomImagesAndPositions) {
    std::mt19937 rng(1234);
    const std::vector<int> paths = blit_paths();
    std::vector<uint32_t> base(SCREEN_WIDTH * SCREEN_HEIGHT);
    for (int trial = 0; trial < 200; trial++) {
        int w = 1 + (int)(rng() % (trial % 10 == 0 ? 700 : 40));
        int h = 1 + (int)(rng() % (trial % 10 == 0 ? 520 : 40));
        Image* image = image_new(w, h);
        ASSERT_NE(image, nullptr);
        fill_random(image->pixels, (size_t)w * h, rng);
        int x = (int)(rng() % (SCREEN_WIDTH + 2 * w + 20)) - w - 10;
        int y = (int)(rng() % (SCREEN_HEIGHT + 2 * h + 20)) - h - 10;
        uint32_t opacity = rng() % 3 == 0 ? (rng() % 2 ? 255 : 0) : rng();
        bool blit = trial % 2 == 0;
        uint32_t mode = rng() % (blit ? 9 : 8);  // includes one mode past the last
        if (trial % 30 == 0) fill_random(base.data(), base.size(), rng);
        std::vector<uint32_t> expected = base;
        reference_apply(expected, image, x, y, opacity, mode, blit);

        for (int path : paths) {
            blit_use_path(path);
            load(base);
            if (blit) image_blit(image, x, y, opacity, mode);
            else image_draw(image, x, y, mode);
            std::vector<uint32_t> got = screen();
            for (size_t i = 0; i < got.size(); i++) {
                ASSERT_EQ(got[i], expected[i])
                    << (blit ? "blit" : "draw") << " mode " << mode << " path " << path << " image " << w
                    << "x" << h << " at " << x << "," << y << " opacity " << opacity << " pixel " << i % 640
                    << "," << i / 640;
            }
        }
        image_free(image);
    }
}

// A picture of one colour a row, blitted from its row colours, against the reference of the picture
// itself: every mode and path, positions partly off every edge, widths that leave every tail length.
TEST_F(Blit, RowColoursBlitAsThePictureDoes) {
    std::mt19937 rng(99);
    const std::vector<int> paths = blit_paths();
    std::vector<uint32_t> base(SCREEN_WIDTH * SCREEN_HEIGHT);
    fill_random(base.data(), base.size(), rng);
    for (int trial = 0; trial < 80; trial++) {
        int w = trial % 8 == 0 ? 640 : 1 + (int)(rng() % 60), h = trial % 8 == 0 ? 480 : 1 + (int)(rng() % 60);
        Image* image = image_new(w, h);
        ASSERT_NE(image, nullptr);
        std::vector<uint32_t> row(h), colours(h);
        fill_random(row.data(), row.size(), rng);
        for (int y = 0; y < h; y++)
            for (int x = 0; x < w; x++) image->pixels[y * w + x] = row[y];
        ASSERT_EQ(image_row_colours(image, colours.data()), 1);
        EXPECT_EQ(colours, row);
        int x = trial % 8 == 0 ? 0 : (int)(rng() % (SCREEN_WIDTH + w)) - w / 2;
        int y = trial % 8 == 0 ? 0 : (int)(rng() % (SCREEN_HEIGHT + h)) - h / 2;
        uint32_t opacity = rng(), mode = trial % 9;  // 8: past the last, draws nothing
        std::vector<uint32_t> expected = base;
        reference_apply(expected, image, x, y, opacity, mode, true);
        for (int path : paths) {
            blit_use_path(path);
            load(base);
            image_blit_rows(colours.data(), w, h, x, y, opacity, mode);
            ASSERT_TRUE(screen() == expected) << "mode " << mode << " path " << path << " " << w << "x" << h
                                              << " at " << x << "," << y;
        }
        image_free(image);
    }
    // One differing pixel anywhere makes the picture not one of row colours.
    Image* image = image_new(5, 3);
    uint32_t colours[3];
    image->pixels[2 * 5 + 4] = 1;
    EXPECT_EQ(image_row_colours(image, colours), 0);
    image->pixels[2 * 5 + 4] = 0;
    image->pixels[1 * 5 + 0] = 1;
    EXPECT_EQ(image_row_colours(image, colours), 0);
    EXPECT_EQ(image_row_colours(nullptr, colours), 0);
    image_free(image);
}

// Every source/destination byte pair and a spread of opacities through each blend mode: catches
// lane overflow and rounding slips that random pixels might miss.
TEST_F(Blit, EveryBytePairMatchesTheReference) {
    const std::vector<int> paths = blit_paths();
    Image* image = image_new(256, 256);
    ASSERT_NE(image, nullptr);
    std::vector<uint32_t> base(SCREEN_WIDTH * SCREEN_HEIGHT, 0);
    for (int s = 0; s < 256; s++)
        for (int d = 0; d < 256; d++) {
            // alpha bytes vary too, so mode 7 and the alpha-driven modes see every pair
            image->pixels[d * 256 + s] = (uint32_t)s * 0x01010101u ^ ((uint32_t)(d * 7 & 0xFF) << 24);
            base[d * SCREEN_WIDTH + s] = (uint32_t)d * 0x01010101u ^ ((uint32_t)(s * 13 & 0xFF) << 24);
        }
    const uint32_t opacities[] = {0, 1, 127, 128, 196, 254, 255};
    for (uint32_t mode = 0; mode < 8; mode++)
        for (uint32_t o : opacities) {
            std::vector<uint32_t> expected = base;
            reference_apply(expected, image, 0, 0, o, mode, true);
            for (int path : paths) {
                blit_use_path(path);
                load(base);
                image_blit(image, 0, 0, o, mode);
                ASSERT_EQ(screen(), expected) << "blit mode " << mode << " opacity " << o << " path " << path;
            }
        }
    for (uint32_t mode = 0; mode < 7; mode++) {
        std::vector<uint32_t> expected = base;
        reference_apply(expected, image, 0, 0, 0, mode, false);
        for (int path : paths) {
            blit_use_path(path);
            load(base);
            image_draw(image, 0, 0, mode);
            ASSERT_EQ(screen(), expected) << "draw mode " << mode << " path " << path;
        }
    }
    image_free(image);
}

TEST_F(Blit, OpaqueWhiteAtFullOpacityBecomes253AndZeroOpacityDarkensOneStep) {
    Image* image = image_new(8, 1);
    for (int i = 0; i < 8; i++) image->pixels[i] = 0xFFFFFFFFu;
    frame_clear(0x00000000u);
    image_blit(image, 0, 0, 255, 0);
    EXPECT_EQ(framebuffer.pixels[0], 0xFDFDFDFDu);
    EXPECT_EQ(framebuffer.pixels[7], 0xFDFDFDFDu);  // the scalar leftovers agree with the wide lanes
    frame_clear(0xFF7F7F01u);
    image_blit(image, 0, 0, 0, 0);
    EXPECT_EQ(framebuffer.pixels[0], 0xFE7E7E00u);
    EXPECT_EQ(framebuffer.pixels[8], 0xFF7F7F01u);  // outside the image: untouched
    // Only the lowest byte of the opacity counts.
    frame_clear(0x00000000u);
    image_blit(image, 0, 0, 0x1FF, 0);
    EXPECT_EQ(framebuffer.pixels[0], 0xFDFDFDFDu);
    image_free(image);
}

TEST_F(Blit, DrawMode6RoundsUp) {
    Image* image = image_new(5, 1);
    for (int i = 0; i < 5; i++) image->pixels[i] = 0x01010101u;
    frame_clear(0x02020202u);
    image_draw(image, 0, 0, 6);
    EXPECT_EQ(framebuffer.pixels[0], 0x02020202u);
    EXPECT_EQ(framebuffer.pixels[4], 0x02020202u);
    image_free(image);
}

TEST_F(Blit, NegativePositionDrawsFromTheClippedOffset) {
    Image* image = image_new(SCREEN_WIDTH, SCREEN_HEIGHT);
    for (int y = 0; y < SCREEN_HEIGHT; y++)
        for (int x = 0; x < SCREEN_WIDTH; x++) image->pixels[y * SCREEN_WIDTH + x] = (uint32_t)(y << 12 | x);
    const uint32_t marker = 0xDEADBEEFu;
    frame_clear(marker);
    image_draw(image, -4, -4, 0);
    EXPECT_EQ(framebuffer.pixels[0], (uint32_t)(4 << 12 | 4));
    EXPECT_EQ(framebuffer.pixels[475 * SCREEN_WIDTH + 635], (uint32_t)(479 << 12 | 639));
    EXPECT_EQ(framebuffer.pixels[475 * SCREEN_WIDTH + 636], marker);  // right band untouched
    EXPECT_EQ(framebuffer.pixels[476 * SCREEN_WIDTH + 0], marker);    // bottom band untouched
    image_free(image);
}

TEST_F(Blit, ImagesOffTheScreenDrawNothing) {
    Image* image = image_new(16, 16);
    for (int i = 0; i < 256; i++) image->pixels[i] = 0xFFFFFFFFu;
    frame_clear(0x12345678u);
    std::vector<uint32_t> before = screen();
    const int positions[][2] = {{640, 0}, {0, 480}, {-16, 0}, {0, -16}, {-100000, 5}, {5, 100000},
                                {2147483647, 0}, {0, -2147483647 - 1}, {-2147483647 - 1, -2147483647 - 1}};
    for (auto& p : positions) {
        for (uint32_t mode = 0; mode < 8; mode++) image_blit(image, p[0], p[1], 255, mode);
        for (uint32_t mode = 0; mode < 7; mode++) image_draw(image, p[0], p[1], mode);
    }
    // Modes past the last draw nothing even on screen.
    image_blit(image, 0, 0, 255, 8);
    image_draw(image, 0, 0, 7);
    image_blit(nullptr, 0, 0, 255, 0);  // an empty texture slot
    image_draw(nullptr, 0, 0, 0);
    EXPECT_EQ(screen(), before);
    // One column and one row in from the edges do draw.
    image_draw(image, 639, 479, 0);
    EXPECT_EQ(framebuffer.pixels[479 * SCREEN_WIDTH + 639], 0xFFFFFFFFu);
    image_draw(image, -15, -15, 1);
    EXPECT_EQ(framebuffer.pixels[0], 0xFFFFFFFFu);
    EXPECT_EQ(framebuffer.pixels[1], 0x12345678u);
    image_free(image);
}

TEST(BlitPath, ScalarIsAlwaysAvailableAndRequestsAreCapped) {
    EXPECT_EQ(blit_use_path(BLIT_PATH_SCALAR), BLIT_PATH_SCALAR);
    EXPECT_EQ(blit_use_path(-5), BLIT_PATH_SCALAR);
    int best = blit_use_path(99);
    EXPECT_GE(best, BLIT_PATH_SCALAR);
    EXPECT_LE(best, BLIT_PATH_AVX2);
#if defined(__SSE2__)
    EXPECT_GE(best, BLIT_PATH_SSE2);
#endif
}

TEST(BlitClosed, NothingIsDrawnWithoutADisplay) {
    ASSERT_EQ(framebuffer.pixels, nullptr);
    Image* image = image_new(4, 4);
    for (uint32_t i = 0; i < 16; i++) image->pixels[i] = 0xFF000000u | i * 0x00101010u;
    const std::vector<uint32_t> before(image->pixels, image->pixels + 16);
    const int pitch = framebuffer.pitch;
    // Must not write through the null framebuffer, nor touch the source or the surface record.
    for (uint32_t mode = 0; mode < 8; mode++) {
        image_blit(image, 0, 0, 255, mode);
        image_draw(image, 0, 0, mode);
    }
    EXPECT_EQ(std::vector<uint32_t>(image->pixels, image->pixels + 16), before);
    EXPECT_EQ(framebuffer.pixels, nullptr);
    EXPECT_EQ(framebuffer.pitch, pitch);
    image_free(image);
}

}  // namespace
