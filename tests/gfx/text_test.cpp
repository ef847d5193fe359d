// Text bitmaps: coverage to premultiplied colour, where the baseline lands, the four-times-tall
// reduction, font lookup and its failures, and calls from two threads at once.
#include "gfx/text.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

const char* const FONTS = "/usr/share/fonts";

struct ImageDeleter {
    void operator()(Image* image) const { image_free(image); }
};
typedef std::unique_ptr<Image, ImageDeleter> ImagePtr;

ImagePtr make_image(int w, int h, uint32_t fill = 0) {
    ImagePtr image(image_new(w, h));
    if (image)
        for (int i = 0; i < w * h; ++i) image->pixels[i] = fill;
    return image;
}

bool have_fonts() {
    char path[4096];
    return text_find_font(FONTS, "Arial", path, sizeof path) == 0;
}

// Rows and columns that hold any coverage: {top, bottom, left, right}, or all -1 when empty.
struct Box {
    int top = -1, bottom = -1, left = -1, right = -1;
};
Box covered_box(const Image* image) {
    Box b;
    for (int y = 0; y < image->height; ++y)
        for (int x = 0; x < image->width; ++x)
            if (image->pixels[y * image->width + x]) {
                if (b.top < 0) b.top = y;
                b.bottom = y;
                if (b.left < 0 || x < b.left) b.left = x;
                if (x > b.right) b.right = x;
            }
    return b;
}

std::string make_temp_dir() {
    char templ[] = "/tmp/quillet-fonts-XXXXXX";
    const char* dir = mkdtemp(templ);
    return dir ? dir : "";
}

}  // namespace

TEST(TextColour, PremultipliedCoverageOfEveryByte) {
    if (!have_fonts()) GTEST_SKIP() << "no fonts installed";
    ImagePtr white = make_image(128, 128, 0xDEADBEEF);
    ImagePtr tinted = make_image(128, 128, 0xDEADBEEF);
    ASSERT_EQ(0, text_render(white.get(), "Arial", 16, 2, 20, 0xFFFFFFFF, "Quillet"));
    ASSERT_EQ(0, text_render(tinted.get(), "Arial", 16, 2, 20, 0x80FF4020, "Quillet"));
    int full = 0, partial = 0;
    for (int i = 0; i < 128 * 128; ++i) {
        uint32_t w = white->pixels[i], c = w & 0xFF;
        // White is the coverage in all four bytes; uncovered pixels (the old fill included) are 0.
        ASSERT_EQ(c * 0x01010101u, w) << "pixel " << i;
        uint32_t expect = (0x80 * c / 255) << 24 | (0xFF * c / 255) << 16 | (0x40 * c / 255) << 8 |
                          (0x20 * c / 255);
        ASSERT_EQ(expect, tinted->pixels[i]) << "pixel " << i;
        full += c >= 250;
        partial += c > 0 && c < 250;
    }
    EXPECT_GT(full, 50);     // solid stems
    EXPECT_GT(partial, 50);  // antialiased edges
}

TEST(TextPlacement, BaselineAndFourTimesTallReduction) {
    if (!have_fonts()) GTEST_SKIP() << "no fonts installed";
    // Flat-bottomed capitals end on the baseline: large row 128 is image row 125, so the last
    // covered row is just above it.
    ImagePtr caps = make_image(64, 256);
    ASSERT_EQ(0, text_render(caps.get(), "Arial", 16, 0, 32, 0xFFFFFFFF, "EHL"));
    Box box = covered_box(caps.get());
    EXPECT_GE(box.bottom, 123);
    EXPECT_LE(box.bottom, 125);
    // Cap height is about 0.72 em: 46 large rows, each one image row; the width is a quarter.
    int height = box.bottom - box.top + 1;
    EXPECT_GE(height, 40);
    EXPECT_LE(height, 50);
    EXPECT_LT(box.right - box.left + 1, 40);

    // Descenders reach below the baseline row.
    ImagePtr desc = make_image(64, 256);
    ASSERT_EQ(0, text_render(desc.get(), "Arial", 16, 0, 32, 0xFFFFFFFF, "gjp"));
    EXPECT_GT(covered_box(desc.get()).bottom, 130);

    // One image pixel of x moves the text one column; one of y moves it four rows.
    ImagePtr a = make_image(64, 128), right = make_image(64, 128), down = make_image(64, 128);
    ASSERT_EQ(0, text_render(a.get(), "Arial", 8, 3, 10, 0xFFFFFFFF, "Ag"));
    ASSERT_EQ(0, text_render(right.get(), "Arial", 8, 4, 10, 0xFFFFFFFF, "Ag"));
    ASSERT_EQ(0, text_render(down.get(), "Arial", 8, 3, 11, 0xFFFFFFFF, "Ag"));
    for (int y = 0; y < 128; ++y)
        for (int x = 0; x < 64; ++x) {
            uint32_t p = a->pixels[y * 64 + x];
            if (x + 1 < 64) {
                ASSERT_EQ(p, right->pixels[y * 64 + x + 1]) << x << "," << y;
            }
            if (y + 4 < 128) {
                ASSERT_EQ(p, down->pixels[(y + 4) * 64 + x]) << x << "," << y;
            }
        }
}

TEST(TextPlacement, TextOutsideTheImageIsClippedNotWrapped) {
    if (!have_fonts()) GTEST_SKIP() << "no fonts installed";
    ImagePtr image = make_image(32, 32, 0x12345678);
    // Half off the left and top edges: draws what lands inside, touches nothing outside.
    EXPECT_EQ(0, text_render(image.get(), "Arial", 32, -10, 2, 0xFFFFFFFF, "WWWWWWWWWWWWWWWW"));
    EXPECT_NE(-1, covered_box(image.get()).top);
    // Far away in every direction, and at the extremes of int: an empty, cleared image.
    const int far[][2] = {{100000, 10}, {-100000, 10}, {0, 100000}, {0, -100000},
                          {2147483647, 2147483647}, {-2147483647 - 1, -2147483647 - 1}};
    for (const auto& p : far) {
        for (int i = 0; i < 32 * 32; ++i) image->pixels[i] = 0x12345678;
        EXPECT_EQ(0, text_render(image.get(), "Arial", 32, p[0], p[1], 0xFFFFFFFF, "Quillet"));
        EXPECT_EQ(-1, covered_box(image.get()).top) << p[0] << "," << p[1];
    }
}

TEST(TextInput, BadArgumentsFailCleanlyOrDrawNothing) {
    if (!have_fonts()) GTEST_SKIP() << "no fonts installed";
    ImagePtr image = make_image(16, 16, 0xFFFFFFFF);
    testing::internal::CaptureStdout();
    EXPECT_EQ(1, text_render(nullptr, "Arial", 8, 0, 8, 0xFFFFFFFF, "x"));
    EXPECT_EQ(1, text_render(image.get(), "Arial", 0, 0, 8, 0xFFFFFFFF, "x"));
    EXPECT_EQ(1, text_render(image.get(), "Arial", -3, 0, 8, 0xFFFFFFFF, "x"));
    EXPECT_EQ(1, text_render(image.get(), "Arial", 5000, 0, 8, 0xFFFFFFFF, "x"));
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(4, std::count(out.begin(), out.end(), '\n')) << out;
    EXPECT_EQ(-1, covered_box(image.get()).top);  // cleared even when the call fails

    for (int i = 0; i < 256; ++i) image->pixels[i] = 0xFFFFFFFF;
    EXPECT_EQ(0, text_render(image.get(), "Arial", 8, 0, 8, 0xFFFFFFFF, nullptr));
    EXPECT_EQ(-1, covered_box(image.get()).top);
    // Every byte value, the Windows-1252 range and unassigned codes included; a null or overlong
    // face name falls back to the default face.
    char all[256];
    for (int i = 1; i < 256; ++i) all[i - 1] = (char)i;
    all[255] = 0;
    EXPECT_EQ(0, text_render(image.get(), nullptr, 8, 0, 8, 0xFFFFFFFF, all));
    EXPECT_EQ(0, text_render(image.get(), std::string(300, 'A').c_str(), 8, 0, 8, 0xFFFFFFFF, all));
    EXPECT_NE(-1, covered_box(image.get()).top);
}

TEST(TextFonts, KnownFacesDefaultsAndSearch) {
    if (!have_fonts()) GTEST_SKIP() << "no fonts installed";
    char path[4096];
    ASSERT_EQ(0, text_find_font(FONTS, "Arial", path, sizeof path));
    EXPECT_NE(nullptr, strstr(path, "LiberationSans-Regular.ttf")) << path;
    ASSERT_EQ(0, text_find_font(FONTS, "ARIAL", path, sizeof path));  // face names ignore case
    EXPECT_NE(nullptr, strstr(path, "LiberationSans-Regular.ttf")) << path;
    ASSERT_EQ(0, text_find_font(FONTS, "Arial Black", path, sizeof path));
    EXPECT_NE(nullptr, strstr(path, "Bold")) << path;
    ASSERT_EQ(0, text_find_font(FONTS, "No Such Face", path, sizeof path));
    EXPECT_NE(nullptr, strstr(path, "LiberationSans-Regular.ttf")) << path;
    EXPECT_EQ(1, text_find_font(FONTS, "Arial", path, 8));  // the path does not fit

    // A font in an unusual folder is found by its name; with no known file, any font serves.
    std::string root = make_temp_dir();
    ASSERT_FALSE(root.empty());
    char real[4096];
    ASSERT_EQ(0, text_find_font(FONTS, "Arial", real, sizeof real));
    std::string deep = root + "/a", other = root + "/b";
    ASSERT_EQ(0, mkdir(deep.c_str(), 0700));
    ASSERT_EQ(0, mkdir((deep + "/c").c_str(), 0700));
    ASSERT_EQ(0, mkdir(other.c_str(), 0700));
    ASSERT_EQ(0, symlink(real, (other + "/zzz.ttf").c_str()));
    ASSERT_EQ(0, symlink(real, (other + "/yyy.TTF").c_str()));
    ASSERT_EQ(0, symlink(root.c_str(), (deep + "/loop").c_str()));  // must not be followed
    ASSERT_EQ(0, text_find_font(root.c_str(), "Arial", path, sizeof path));
    EXPECT_EQ(other + "/yyy.TTF", path);  // the smallest path, whatever the folder order
    ASSERT_EQ(0, symlink(real, (deep + "/c/LiberationSans-Regular.ttf").c_str()));
    ASSERT_EQ(0, text_find_font(root.c_str(), "Arial", path, sizeof path));
    EXPECT_EQ(deep + "/c/LiberationSans-Regular.ttf", path);
    ImagePtr image = make_image(32, 32);
    EXPECT_EQ(0, text_render_in(root.c_str(), image.get(), "Arial", 8, 0, 8, 0xFFFFFFFF, "Hi"));
    EXPECT_NE(-1, covered_box(image.get()).top);

    // A file that is no font is reported, not drawn.
    std::string junk = make_temp_dir();
    FILE* f = fopen((junk + "/broken.ttf").c_str(), "wb");
    ASSERT_NE(nullptr, f);
    fputs("not a font", f);
    fclose(f);
    testing::internal::CaptureStdout();
    EXPECT_EQ(1, text_render_in(junk.c_str(), image.get(), "Arial", 8, 0, 8, 0xFFFFFFFF, "Hi"));
    EXPECT_NE(std::string::npos, testing::internal::GetCapturedStdout().find("broken.ttf"));
    EXPECT_EQ(-1, covered_box(image.get()).top);
    unlink((junk + "/broken.ttf").c_str());
    rmdir(junk.c_str());

    unlink((deep + "/c/LiberationSans-Regular.ttf").c_str());
    unlink((deep + "/loop").c_str());
    unlink((other + "/zzz.ttf").c_str());
    unlink((other + "/yyy.TTF").c_str());
    rmdir((deep + "/c").c_str());
    rmdir(deep.c_str());
    rmdir(other.c_str());
    rmdir(root.c_str());
}

TEST(TextFonts, NoFontAtAllIsOneLineAndFailure) {
    std::string root = make_temp_dir();
    ASSERT_FALSE(root.empty());
    char path[4096];
    EXPECT_EQ(1, text_find_font(root.c_str(), "Arial", path, sizeof path));
    EXPECT_EQ(1, text_find_font("/nonexistent/quillet", "Arial", path, sizeof path));
    ImagePtr image = make_image(16, 16, 0xFFFFFFFF);
    testing::internal::CaptureStdout();
    EXPECT_EQ(1, text_render_in(root.c_str(), image.get(), "Arial", 8, 0, 8, 0xFFFFFFFF, "x"));
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(1, std::count(out.begin(), out.end(), '\n')) << out;
    EXPECT_NE(std::string::npos, out.find("Arial")) << out;
    EXPECT_EQ(-1, covered_box(image.get()).top);
    rmdir(root.c_str());
}

TEST(TextFonts, SymbolCharsetOnlyForExactSymbolFaceNames) {
    EXPECT_EQ(TEXT_CHARSET_SYMBOL, text_charset("Symbol"));
    EXPECT_EQ(TEXT_CHARSET_SYMBOL, text_charset("Wingdings"));
    EXPECT_EQ(TEXT_CHARSET_SYMBOL, text_charset("Webdings"));
    EXPECT_EQ(TEXT_CHARSET_ANSI, text_charset("symbol"));
    EXPECT_EQ(TEXT_CHARSET_ANSI, text_charset("Symbol "));
    EXPECT_EQ(TEXT_CHARSET_ANSI, text_charset("Arial"));
    EXPECT_EQ(TEXT_CHARSET_ANSI, text_charset(nullptr));
    if (!have_fonts()) return;
    // Without an installed symbol font the substitute still draws the text.
    ImagePtr image = make_image(32, 32);
    EXPECT_EQ(0, text_render(image.get(), "Symbol", 8, 0, 8, 0xFFFFFFFF, "abc"));
    EXPECT_NE(-1, covered_box(image.get()).top);
}

TEST(TextThreads, ConcurrentCallsGiveTheSameBitmaps) {
    if (!have_fonts()) GTEST_SKIP() << "no fonts installed";
    ImagePtr ref_a = make_image(128, 64), ref_b = make_image(32, 64);
    ASSERT_EQ(0, text_render(ref_a.get(), "Arial", 12, 0, 12, 0xFF888888, "just another object"));
    ASSERT_EQ(0, text_render(ref_b.get(), "Arial Black", 16, 9, 15, 0xFFFFFFFF, "Q"));
    bool same[2] = {true, true};
    auto worker = [&](int which) {
        ImagePtr image = which ? make_image(32, 64) : make_image(128, 64);
        const Image* ref = which ? ref_b.get() : ref_a.get();
        for (int round = 0; round < 12; ++round) {
            if (which)
                text_render(image.get(), "Arial Black", 16, 9, 15, 0xFFFFFFFF, "Q");
            else
                text_render(image.get(), "Arial", 12, 0, 12, 0xFF888888, "just another object");
            size_t bytes = (size_t)ref->width * ref->height * 4;
            if (memcmp(image->pixels, ref->pixels, bytes) != 0) same[which] = false;
        }
    };
    std::thread t0(worker, 0), t1(worker, 1);
    t0.join();
    t1.join();
    EXPECT_TRUE(same[0]);
    EXPECT_TRUE(same[1]);
}
