// Title images and spinning screens of the first 32 beats. The bass level is smoothed once per
// frame, so its response follows the frame rate, as it always has.
#include "scenes/intro_tv.h"

#include <cmath>

#include "gfx/blit.h"
#include "raster/raster.h"
#include "runtime/clock.h"
#include "runtime/music.h"
#include "scenes/scene_math.h"
#include "scenes/scenes.h"

static const Image* title_images[4];
static const Image* tv_images[3];
static float bass_level;

uint32_t intro_opacity_byte(float x) {
    if (!std::isfinite(x)) return 0;
    // Low byte of the floored value, two's complement for negatives, without an int conversion
    // that could overflow.
    double r = std::fmod(std::floor((double)x), 256.0);
    if (r < 0.0) r += 256.0;
    return (uint32_t)r;
}

void quad_draw(const Image* image, uint32_t alpha, float centre_x, float centre_y, float hw,
               float hh, float angle) {
    if (!image) return;
    static const float corner[4][2] = {{1, 1}, {-1, 1}, {-1, -1}, {1, -1}};
    const float c = std::cos(angle), s = std::sin(angle);
    MeshVertex v[4] = {};
    for (int k = 0; k < 4; k++) {
        float x = corner[k][0] * hw, y = corner[k][1] * hh;
        v[k].sx = c * x - s * y + centre_x;
        v[k].sy = s * x + c * y + centre_y;
        v[k].sz = 1.0f;
        v[k].rhw = 1.0f;
        v[k].u = (corner[k][0] + 1.0f) / 2.0f;
        v[k].v = (corner[k][1] + 1.0f) / 2.0f;
    }
    RasterTriangle t[2];
    t[0].vert0 = &v[0];
    t[0].vert1 = &v[1];
    t[0].vert2 = &v[2];
    t[1].vert0 = &v[0];
    t[1].vert1 = &v[2];
    t[1].vert2 = &v[3];
    t[0].colour = t[1].colour = ((alpha & 0xFFu) << 24) | 0xFFFFFFu;
    // A turned or mirrored quad may present either winding.
    t[0].flags = t[1].flags = DOUBLE_SIDED;
    triangles_draw(t, 2, image, RENDER_ALPHA | RENDER_TEXTURE);
}

float intro_tv_bass_level(void) { return bass_level; }
void intro_tv_set_bass_level(float level) { bass_level = level; }

int scene_intro_tv_init(void) {
    for (int i = 0; i < 4; i++) title_images[i] = texture_get(TEXTURE_SWIM_FOR_YOUR_LIVES + i);
    for (int i = 0; i < 3; i++) tv_images[i] = texture_get(TEXTURE_TV_1 + i);
    bass_level = 0.0f;
    return 0;
}

void scene_intro_tv_free(void) {
    for (auto& image : title_images) image = nullptr;
    for (auto& image : tv_images) image = nullptr;
}

static void intro_title(int which, int x, int y, float from_beat, float steady_from, float steady_to,
                        float beat, uint32_t pulse) {
    const Image* image = title_images[which];
    if (!image || beat < from_beat) return;
    uint32_t opacity = beat >= steady_from && beat < steady_to ? 255u : pulse;
    image_blit(image, x, y, opacity, 0);
}

void scene_intro_tv_render(float) {
    const float beat = clock_beat();
    bass_level = 0.25f * music_spectrum[1] + 0.75f * bass_level;
    // One bad spectrum value must not stick in the smoothed level for the rest of the intro.
    if (!std::isfinite(bass_level)) bass_level = 0.0f;
    const uint32_t p = intro_opacity_byte(bass_level * 2048.0f);

    if (beat >= 16.5f) image_blit(texture_get(TEXTURE_SCANLINES), 0, 0, beat < 32.0f ? p : 255u, 0);

    if (beat > 16.5f) {
        float f = beat - 16.5f;
        float g = (1.0f - f) * 0.25f * kPi;
        float s1, s2;
        if (beat < 17.5f) {
            s1 = (1.0f - f) * 128.0f;
            s2 = f * 128.0f;
        } else {
            g = g + bass_level * 0.5f - 0.1f;
            s1 = bass_level * 64.0f + bass_level * 1024.0f;
            s2 = s1 + bass_level * 512.0f;
        }
        quad_draw(tv_images[0], p, 320.0f, 240.0f, 128.0f + s1, 128.0f + s1, g);
        quad_draw(tv_images[1], p, 320.0f, 240.0f, 128.0f - s2, 128.0f - s2,
                  -0.78f * g + bass_level * kPi);
        quad_draw(tv_images[2], p, 320.0f, 240.0f, 128.0f + s2, 128.0f + s2,
                  -1.57f * g - bass_level * kPi);
    }

    if (beat < 16.5f) {
        // Each title holds full opacity from its second phrase until all four pulse again at 14.5.
        intro_title(0, 270, 145, 0.5f, 4.5f, 14.5f, beat, p);
        intro_title(1, 238, 170, 4.5f, 8.5f, 14.5f, beat, p);
        intro_title(2, 105, 175, 8.5f, 12.5f, 14.5f, beat, p);
        if (title_images[3]) intro_title(3, 550 - title_images[3]->width, 215, 12.5f, 0.0f, 0.0f, beat, p);
    }
}
