// Pictures to look at: with QUILLET_PNG_DIR set to a directory, writes every drawn mode in a
// grid and a perspective floor as PNG files there. Without it the scenes are still drawn, and checked
// only for having drawn something in every cell.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "raster/raster_internal.h"
#include "raster/raster_support.h"

namespace {

const std::vector<uint32_t> kModes = test_drawn_modes();

Image* checker(int side, int mipmapped) {
    Image* img = mipmapped ? image_new_mipmapped(side, side) : image_new(side, side);
    for (int y = 0; y < side; y++)
        for (int x = 0; x < side; x++) {
            bool on = ((x / 8) ^ (y / 8)) & 1;
            uint32_t a = (x * 255 / side) << 24;
            img->pixels[y * side + x] = on ? (0x00FFC040u | a) : (0x002040A0u | a);
            if ((x / 8 + y / 8) % 7 == 0) img->pixels[y * side + x] = 0xFFFF00FFu;
        }
    if (mipmapped) image_build_mips(img);
    return img;
}

void save(const char* name) {
    EXPECT_EQ(test_save_png(name, framebuffer.pixels, 640, 480, 640), 0) << name;
}

TEST(Pictures, EveryModeInAGrid) {
    ASSERT_EQ(display_open_offscreen(1), 0);
    Image* tex = checker(64, 1);
    Image* env = image_new(64, 64);
    Image* bump = image_new(64, 64);
    for (int y = 0; y < 64; y++)
        for (int x = 0; x < 64; x++) {
            float dx = (x - 32) / 32.0f, dy = (y - 32) / 32.0f;
            uint32_t g = (uint32_t)std::fmax(0.0f, 255.0f * (1.0f - std::sqrt(dx * dx + dy * dy)));
            env->pixels[y * 64 + x] = 0xFF000000u | g << 16 | g << 8 | g;
            // A normal map of bumps: red and green tilt, blue up; the offsets too for bump modes.
            uint32_t nx = (uint32_t)(128 + 100 * std::sin(x * 0.4f)), ny = (uint32_t)(128 + 100 * std::sin(y * 0.4f));
            bump->pixels[y * 64 + x] = 0xFF000000u | nx << 16 | ny << 8 | 0xC0;
        }
    raster_set_env_map(env);
    raster_set_bump_map(bump);
    frame_clear(0xFF7F7F7F);
    frame_begin();
    // A caster in the shadow buffer: a diagonal band.
    MeshVertex sh[3] = {test_vertex(0, 0, 0.1f), test_vertex(640, 0, 0.1f), test_vertex(0, 480, 0.1f)};
    polygon_draw_list(sh, 3, 0, 0, nullptr, RENDER_DEPTH);
    for (int i = 0; i < (int)kModes.size(); i++) {
        const float cx = (float)(i % 8) * 80 + 40, cy = (float)(i / 8) * 96 + 48;
        const float a = 0.3f + 0.2f * (float)i, r = 34;
        MeshVertex q[4];
        const uint32_t colours[4] = {0xFFFF2020u, 0xFF20FF20u, 0xFF2020FFu, 0x80FFFFFFu};
        for (int k = 0; k < 4; k++) {
            float ang = a + (float)k * 1.5707964f;
            float z = 0.3f + 0.4f * (float)k / 3.0f;
            if (kModes[i] == 0x0010) z = 0.05f;
            q[k] = test_vertex(cx + r * std::cos(ang), cy + r * std::sin(ang), z, (k == 1 || k == 2) ? 1.5f : 0,
                               k >= 2 ? 1.5f : 0, (float)(k & 1) * 0.9f + 0.05f, (float)(k >> 1) * 0.9f + 0.05f,
                               colours[k]);
            if (kModes[i] & RENDER_SHADOW) {
                q[k].env_u = q[k].sx / 640.0f;
                q[k].env_v = q[k].sy / 480.0f;
            }
        }
        polygon_draw_fan(q, 4, DOUBLE_SIDED, 0xFFC0E0FFu, tex, kModes[i]);
    }
    save("raster_modes.png");
    // Every cell but the depth-only one changed something in the framebuffer.
    for (int i = 0; i < (int)kModes.size(); i++) {
        if (kModes[i] == 0x0010) continue;
        int cx = (i % 8) * 80 + 40, cy = (i / 8) * 96 + 48, changed = 0;
        for (int y = cy - 20; y < cy + 20; y++)
            for (int x = cx - 20; x < cx + 20; x++) changed += framebuffer.pixels[y * 640 + x] != 0xFF7F7F7Fu;
        EXPECT_GT(changed, 200) << "mode " << std::hex << kModes[i];
    }
    image_free(tex);
    image_free(env);
    image_free(bump);
    display_close();
}

TEST(Pictures, PerspectiveFloor) {
    ASSERT_EQ(display_open_offscreen(1), 0);
    Image* tex = checker(64, 0);
    frame_clear(0xFF000000);
    frame_begin();
    // A floor receding to the horizon: left half affine, right half perspective-correct.
    for (int side = 0; side < 2; side++) {
        float x0 = side * 320.0f, x1 = x0 + 320;
        float zn = 1.0f, zf = 8.0f;
        MeshVertex near_l = test_vertex(x0, 479, zn, 0, 4), near_r = test_vertex(x1, 479, zn, 1, 4);
        MeshVertex far_l = test_vertex(x0 + 140, 200, zf, 0, 0), far_r = test_vertex(x1 - 140, 200, zf, 1, 0);
        MeshVertex quad[4] = {far_l, far_r, near_r, near_l};
        // Perspective modes interpolate width / sz, so the depth goes in sz as the distance.
        polygon_draw_fan(quad, 4, DOUBLE_SIDED, 0xFFFFFFFF, tex, side ? 0x0008 : 0x0004);
    }
    save("raster_perspective.png");
    int lit = 0;
    for (int i = 0; i < 640 * 480; i++) lit += framebuffer.pixels[i] != 0xFF000000u;
    EXPECT_GT(lit, 100000);
    image_free(tex);
    display_close();
}

}  // namespace
