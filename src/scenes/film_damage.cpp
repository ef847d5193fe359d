// The film-damage layer, the last drawing of every frame: vertical scratches that drift sideways
// and darken the picture through the grain texture, and short black hairs that live for a fraction
// of a beat, some of them flickering. All randomness comes from the runtime's rand(), in a fixed
// order, so a seeded run repeats exactly.
#include <cmath>
#include <cstdint>
#include <cstdlib>

#include "gfx/display.h"
#include "gfx/draw_queue.h"
#include "gfx/image.h"
#include "procedural/noise.h"
#include "runtime/clock.h"
#include "scenes/film_damage_ops.h"
#include "scenes/scenes.h"

// The table as the program loads it; init re-randomises every scratch.
FilmScratch film_scratches[FILM_SCRATCH_COUNT] = {
    {320 * 16, -1, 1, 0, 1, 255}, {620 * 16, 1, 1, 0, 1, 255}, {520 * 16, -1, 1, 0, 1, 255},
    {120 * 16, 1, 1, 0, 1, 255},  {120 * 16, -1, 1, 0, 1, 255}, {120 * 16, 1, 1, 0, 1, 255},
    {120 * 16, -1, 1, 0, 1, 255}, {120 * 16, 1, 1, 0, 1, 255},  {120 * 16, -1, 1, 0, 1, 255},
};
FilmHair film_hairs[FILM_HAIR_COUNT];

static Image* grain_image;

static int random_velocity(void) {
    if ((rand() & 0xFF) >= 128) return rand() & 0xF;
    return -(rand() & 0xF);
}

void film_hair_spawn(FilmHair* hair) {
    hair->duration = (rand() & 0x1F) + 1;
    hair->visible = rand() & 1;
    hair->size = rand() % 42 + 8;
    hair->point_count = rand() % 10 + 2;
    hair->blink = rand() & 3;
    hair->points[0][0] = rand() % 640;
    hair->points[0][1] = rand() % 400 + 40;
    float length = (float)hair->size;
    for (int i = 1; i < hair->point_count; i++) {
        float c = random_signed();
        float d = random_signed();
        float norm = std::sqrt(c * c + d * d);
        // Both values exactly 0 would give no direction: the hair stops growing there.
        float e = norm > 0.0f ? length / norm : 0.0f;
        hair->points[i][0] = hair->points[i - 1][0] + (int)std::floor(c * e);
        hair->points[i][1] = hair->points[i - 1][1] + (int)std::floor(d * e);
        length *= 0.5f;
    }
}

int layer_film_damage_init(void) {
    grain_image = texture_get(TEXTURE_GRAIN);
    for (int i = 0; i < FILM_SCRATCH_COUNT; i++) {
        FilmScratch* s = &film_scratches[i];
        s->x = (rand() % 640) * 16;
        s->velocity = random_velocity();
        s->duration = (rand() & 0x1F) + 1;
        s->opacity = (rand() & 0x7F) | 0x80;
        s->visible = rand() & 1;
        s->born = 0;  // a show started again begins with fresh lives too
    }
    for (int i = 0; i < FILM_HAIR_COUNT; i++) {
        film_hair_spawn(&film_hairs[i]);
        film_hairs[i].born = 0;
    }
    return 0;
}

void layer_film_damage_free(void) { grain_image = nullptr; }

static inline int clamp_int(int v, int lo, int hi) { return v < lo ? lo : v > hi ? hi : v; }

struct LineCall {
    int x0, y0, x1, y1;
    uint32_t colour;
};

// The line's pixels in the calling drawing thread's rows.
static void draw_line_replay(const void* payload) {
    const LineCall* c = (const LineCall*)payload;
    const DrawBand* band = draw_band;
    int x0 = c->x0, y0 = c->y0, x1 = c->x1, y1 = c->y1;
    uint32_t colour = c->colour;
    uint32_t* fb = framebuffer.pixels;
    int stride = framebuffer.pitch / 4;
    int dx = x1 - x0, dy = y1 - y0;
    int step_x = dx < 0 ? -1 : 1, step_y = dy < 0 ? -1 : 1;
    int dx2 = 2 * (dx < 0 ? -dx : dx), dy2 = 2 * (dy < 0 ? -dy : dy);
    if (draw_band_owns(band, y0)) fb[(size_t)y0 * stride + x0] = colour;
    if (dy2 < dx2) {
        int error = dy2 - dx2 / 2;
        while (x0 != x1) {
            if (error >= 0) {
                y0 += step_y;
                error -= dx2;
            }
            x0 += step_x;
            error += dy2;
            if (draw_band_owns(band, y0)) fb[(size_t)y0 * stride + x0] = colour;
        }
    } else {
        int error = dx2 - dy2 / 2;
        while (y0 != y1) {
            if (error >= 0) {
                x0 += step_x;
                error -= dy2;
            }
            y0 += step_y;
            error += dx2;
            if (draw_band_owns(band, y0)) fb[(size_t)y0 * stride + x0] = colour;
        }
    }
}

void draw_line(int x0, int y0, int x1, int y1, uint32_t colour) {
    if (!framebuffer.pixels) return;
    LineCall call = {clamp_int(x0, 0, SCREEN_WIDTH - 1), clamp_int(y0, 0, SCREEN_HEIGHT - 1),
                     clamp_int(x1, 0, SCREEN_WIDTH - 1), clamp_int(y1, 0, SCREEN_HEIGHT - 1), colour};
    draw_queue_call(draw_line_replay, &call, sizeof call);
}

static void scratch_place(FilmScratch* s, int q) {
    s->born = q;
    s->duration = (rand() & 0x1F) + 1;
    s->x = (rand() % 640) * 16;
    s->velocity = random_velocity();
    s->opacity = (rand() & 0x7F) | 0x80;
    s->visible = rand() & 1;
}

static void scratch_move(FilmScratch* s) {
    s->x += s->velocity / 2;
    if (s->x <= 0) {
        s->x = 0;
        s->velocity = -s->velocity;
    } else if (s->x > FILM_SCRATCH_X_MAX) {
        s->x = FILM_SCRATCH_X_MAX;
        s->velocity = -s->velocity;
    }
}

struct ScratchCall {
    int column;
    uint32_t opacity;
    const Image* grain;
};

// Two columns darkened through the grain: the grain multiplies the picture, and the picture's own
// alpha, faded by the scratch's opacity, keeps part of it. Rows outside the calling drawing
// thread's band are left to their own thread.
static void scratch_replay(const void* payload) {
    const ScratchCall* call = (const ScratchCall*)payload;
    const DrawBand* band = draw_band;
    uint32_t* fb = framebuffer.pixels;
    int stride = framebuffer.pitch / 4;
    int c = call->column;
    // A scratch placed at the last column covers only that one: its pair would be off the screen.
    int pair = c + 1 < SCREEN_WIDTH ? 2 : 1;
    const Image* sheet = call->grain;
    const uint32_t* grain = sheet->pixels + (c & sheet->height_mask);
    uint32_t opacity = call->opacity;
    for (int k = 0; k < SCREEN_HEIGHT - 1; k++) {
        if (!draw_band_owns(band, k)) continue;
        uint32_t* p = fb + (size_t)k * stride + c;
        uint32_t g = grain[k & sheet->width_mask], d = *p, r = 0;
        uint32_t a = ((d >> 24) * opacity) >> 8;
        for (int b = 0; b < 32; b += 8) {
            uint32_t sb = (d >> b) & 0xFFu, gb = (g >> b) & 0xFFu;
            uint32_t m = (gb * sb) >> 8;
            uint32_t v = ((sb * a) >> 8) + ((m * (255 - a)) >> 8);
            r |= (v > 255 ? 255 : v) << b;
        }
        p[0] = r;
        if (pair == 2) p[1] = r;
    }
}

static void scratch_draw(const FilmScratch* s) {
    ScratchCall call = {s->x >> 4, (uint32_t)s->opacity, grain_image};
    draw_queue_call(scratch_replay, &call, sizeof call);
}

static void hair_draw(const FilmHair* hair) {
    int px = hair->points[0][0], py = hair->points[0][1];
    // The polyline stops one point short of its last point.
    for (int i = 1; i < hair->point_count - 1; i++) {
        int x = clamp_int(hair->points[i][0], 0, SCREEN_WIDTH - 1);
        int y = clamp_int(hair->points[i][1], 40, 439);
        draw_line(px, py, x, y, 0);
        px = x;
        py = y;
    }
}

void layer_film_damage_render(float) {
    int q = (int)std::floor(clock_beat() * 4.0f);
    for (int i = 0; i < FILM_SCRATCHES_DRAWN; i++) {
        FilmScratch* s = &film_scratches[i];
        if (q >= s->born + s->duration) scratch_place(s, q);
        else scratch_move(s);
    }
    if (framebuffer.pixels && grain_image) {
        for (int i = 0; i < FILM_SCRATCHES_DRAWN; i++)
            if (film_scratches[i].visible) scratch_draw(&film_scratches[i]);
    }
    int h = (int)std::floor(clock_beat() * 16.0f);
    for (int i = 0; i < FILM_HAIR_COUNT; i++) {
        FilmHair* hair = &film_hairs[i];
        if (h >= hair->born + hair->duration) {
            film_hair_spawn(hair);
            hair->born = h;
        } else if (hair->visible) {
            if ((hair->blink & 2) == 0 || hair->blink == 3) hair_draw(hair);
            if (hair->blink & 2) hair->blink ^= 1;
        }
    }
}
