// The sprite layer: flat images that slide in from the screen edges, wander with 1D noise while they
// stay and slide out again (credits, creatures, gulls, end credits), and near beats 310 and 315 a
// tear that shifts horizontal bands of the finished picture sideways. The images belong to the
// texture table; this file only keeps pointers.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "gfx/blit.h"
#include "gfx/display.h"
#include "gfx/draw_queue.h"
#include "gfx/image.h"
#include "procedural/envelope.h"
#include "procedural/noise.h"
#include "runtime/clock.h"
#include "scenes/scenes.h"
#include "scenes/sprites_ops.h"

enum {
    SPRITE_MUSIC_CREDIT, SPRITE_CODE_CREDIT, SPRITE_GRAPHICS_CREDIT, SPRITE_LEFT_CREATURE,
    SPRITE_RIGHT_CREATURE, SPRITE_LEFT_BIRD, SPRITE_RIGHT_BIRD, SPRITE_END_CREDIT_1, SPRITE_END_CREDIT_2,
    SPRITE_COUNT
};

static const int sprite_slots[SPRITE_COUNT] = {
    TEXTURE_MUSIC_BRASK, TEXTURE_CODE_MERRIT, TEXTURE_GRAPHICS_TOLVAN, TEXTURE_SKEKSIS_LEFT,
    TEXTURE_SKEKSIS_RIGHT, TEXTURE_BIRD_LEFT, TEXTURE_BIRD_RIGHT, TEXTURE_END_CRED_1, TEXTURE_END_CRED_2};
static Image* sprites[SPRITE_COUNT];

int layer_sprites_init(void) {
    for (int i = 0; i < SPRITE_COUNT; i++) sprites[i] = texture_get(sprite_slots[i]);
    return 0;
}

void layer_sprites_free(void) {
    for (int i = 0; i < SPRITE_COUNT; i++) sprites[i] = nullptr;
}

// |noise1(a) * m| truncated: the wander of a staying sprite.
static int sprite_noise(float a, float m) { return (int)std::fabs(noise1(a) * m); }
static int floor_int(float v) { return (int)std::floor(v); }

static void sprite_draw(int which, int x, int y, int opacity) {
    if (opacity < 0) opacity = 0;
    if (opacity > 255) opacity = 255;
    image_blit(sprites[which], x, y, (uint32_t)opacity, 0);
}

// Where each sprite stands at beat t (fraction phi) and whether it is drawn at all.
static void sprites_draw_all(float t, float phi) {
    const Image* im;
    if ((im = sprites[SPRITE_MUSIC_CREDIT]) && t >= 32.0f && t < 52.0f) {
        int w = im->width, x;
        if (t < 36.0f) x = floor_int(tween_overshoot(640.0f, (float)(640 - w), (t - 32.0f) / 4.0f));
        else if (t < 48.0f) x = 640 - w - sprite_noise(((t - 36.0f) + phi / 4.0f) / 4.0f, 64.0f);
        else x = floor_int(tween_overshoot((float)(640 - w), 640.0f, (t - 48.0f) / 4.0f));
        sprite_draw(SPRITE_MUSIC_CREDIT, x, 480 - im->height, 255);
    }
    if ((im = sprites[SPRITE_CODE_CREDIT]) && t >= 36.0f && t < 56.0f) {
        int w = im->width, x;
        if (t < 40.0f) x = floor_int(tween_overshoot((float)-w, 0.0f, (t - 36.0f) / 4.0f));
        else if (t < 52.0f) x = sprite_noise(((t - 40.0f) + phi / 4.0f) / 4.0f, 64.0f);
        else x = floor_int(tween_overshoot(0.0f, (float)-w, (t - 52.0f) / 4.0f));
        sprite_draw(SPRITE_CODE_CREDIT, x, 480 - im->height, 255);
    }
    if ((im = sprites[SPRITE_GRAPHICS_CREDIT]) && t >= 40.0f && t < 60.0f) {
        int y;
        if (t < 44.0f) y = floor_int(tween_overshoot(480.0f, 0.0f, (t - 40.0f) / 4.0f));
        else if (t < 56.0f) y = sprite_noise(((t - 44.0f) + phi / 4.0f) / 4.0f, 64.0f);
        else y = floor_int(tween_anticipate(0.0f, 480.0f, (t - 56.0f) / 4.0f));
        sprite_draw(SPRITE_GRAPHICS_CREDIT, (640 - im->width) / 2, y, 255);
    }
    if ((im = sprites[SPRITE_LEFT_CREATURE]) && t >= 64.0f && t < 96.0f) {
        int w = im->width, h = im->height, x = 0, y = 480 - h;
        if (t < 68.0f) x = -floor_int((float)w * (1.0f - (t - 64.0f) / 4.0f));
        else if (t >= 92.0f) y = 480 - h + floor_int((float)h * (t - 92.0f) / 4.0f);
        sprite_draw(SPRITE_LEFT_CREATURE, x, y, 255);
    }
    if ((im = sprites[SPRITE_RIGHT_CREATURE]) && t >= 208.0f && t < 256.0f) {
        int w = im->width, h = im->height, x, y = 480 - h;
        if (t < 212.0f) {
            x = 640 - floor_int((float)w * (t - 208.0f) / 4.0f);
        } else {
            x = 640 - w + sprite_noise(((t - 212.0f) + phi / 4.0f) / 8.0f, 128.0f);
            if (t >= 252.0f) y = 480 - h + floor_int((float)h * (t - 252.0f) / 4.0f);
        }
        sprite_draw(SPRITE_RIGHT_CREATURE, x, y, 255);
    }
    if ((im = sprites[SPRITE_LEFT_BIRD]) && t >= 256.0f && t < 324.0f) {
        int w = im->width, h = im->height, x, y = 480 - h;
        if (t < 260.0f) {
            x = -floor_int((float)w * (1.0f - (t - 256.0f) / 4.0f));
        } else {
            x = -sprite_noise(((t - 260.0f) + phi) / 8.0f, 128.0f);
            if (t >= 320.0f) y = 480 - h + floor_int((float)h * (t - 320.0f) / 4.0f);
        }
        sprite_draw(SPRITE_LEFT_BIRD, x - 92, y, 255);  // the picture's gull sits right of its edge
    }
    if ((im = sprites[SPRITE_RIGHT_BIRD]) && t >= 324.0f && t < 385.0f) {
        int w = im->width, h = im->height, x, y = 480 - h;
        if (t < 328.0f) {
            x = 640 - w;
            y = 480 - floor_int((float)h * (t - 324.0f) / 4.0f);
        } else {
            x = 640 - w + sprite_noise(((t - 328.0f) + phi) / 8.0f, 32.0f);
            if (t >= 381.0f) x += floor_int((float)w * (t - 381.0f) / 4.0f);
        }
        sprite_draw(SPRITE_RIGHT_BIRD, x, y, 255);
    }
    // The end credits flicker like a failing projector lamp.
    if ((im = sprites[SPRITE_END_CREDIT_1]) && t >= 389.0f && t < 420.0f) {
        int w = im->width, x = 0;
        if (t < 393.0f) x = floor_int(tween_overshoot((float)-w, 0.0f, (t - 389.0f) / 4.0f));
        else if (t >= 416.0f) x = floor_int(tween_anticipate(0.0f, (float)-w, (t - 416.0f) / 4.0f));
        sprite_draw(SPRITE_END_CREDIT_1, x, 0, 255 - sprite_noise(((t - 389.0f) + phi) * 0.75f, 128.0f));
    }
    if ((im = sprites[SPRITE_END_CREDIT_2]) && t >= 393.0f && t < 420.0f) {
        int w = im->width, x = 640 - w;
        if (t < 397.0f) x = 640 - floor_int(tween_overshoot(0.0f, (float)w, (t - 393.0f) / 4.0f));
        else if (t >= 416.0f) x = 640 - w + floor_int(tween_anticipate(0.0f, (float)w, (t - 416.0f) / 4.0f));
        sprite_draw(SPRITE_END_CREDIT_2, x, 480 - im->height,
                    255 - sprite_noise(((t - 393.0f) + phi) * 0.75f, 128.0f));
    }
}

void line_tear(int shift, int band) {
    if (!framebuffer.pixels || shift < 1 || band < 1) return;
    draw_queue_flush();  // the rows are moved in place
    if (shift > SCREEN_WIDTH) shift = SCREEN_WIDTH;
    int stride = framebuffer.pitch / 4, keep = SCREEN_WIDTH - shift;
    for (int r = 0; r < SCREEN_HEIGHT - band; r += band) {
        int bits = rand() & 3;
        if (bits != 1 && bits != 3) continue;
        for (int row = r; row < r + band; row++) {
            uint32_t* p = framebuffer.pixels + (size_t)row * stride;
            if (bits == 1) {
                memmove(p, p + shift, (size_t)keep * 4);
                for (int k = keep; k < SCREEN_WIDTH; k++) p[k] = 0xFF000000u;
            } else {
                memmove(p + shift, p, (size_t)keep * 4);
                for (int k = 0; k < shift; k++) p[k] = 0xFF000000u;
            }
        }
    }
}

void layer_sprites_render(float) {
    float t = clock_beat(), phi = clock_beat_fraction();
    sprites_draw_all(t, phi);
    if (t >= 310.0f && t < 311.5f) line_tear((int)((t - 310.0f) * 8.0f / 1.5f) + 1, 8);
    else if (clock_beat_index() == 315) line_tear((int)(8.0f - 8.0f * phi) + 1, 8);
}
