// The loading screen: the title composed once from text bitmaps, kept as a snapshot, then redrawn
// with a faint shadow and a blocky glow until the main thread has built every part.
#include "runtime/loading.h"

#include <cstring>

#include "gfx/blit.h"
#include "gfx/display.h"
#include "gfx/text.h"
#include "runtime/pacing.h"

std::atomic<int> loading_active{0};

namespace {

enum { LOADING_CANVAS_WIDTH = 512, LOADING_CANVAS_HEIGHT = 256, GLOW_BLOCK = 16, GLOW_SAMPLE = 7,
       GLOW_STEP_FRAMES = 80 };

struct LoadingLine {
    int size;
    uint32_t colour;
    const char* text;
    int x, y;
    uint32_t mode;  // image_draw: 0 copy, 1 add
};

const LoadingLine loading_lines[] = {
    {32, 0xFFFFFFFF, "Velmorian", 128, 120, 0},
    {16, 0xFF888888, "Velmorian", 320, 88, 1},
    {8, 0xFF444444, "Velmorian", 420, 70, 1},
    {8, 0xFF444444, "Quillet", 312, 248, 1},
    {16, 0xFF888888, "Quillet", 336, 248, 1},
    {32, 0xFFFFFFFF, "Quillet", 384, 248, 1},
    {12, 0xFF888888, "just another object show from the northern hemisphere", 216, 152, 1},
};

const uint32_t loading_thresholds[4] = {0x80808080, 0x5C5C5C5C, 0xC0C0C0C0, 0x40404040};

void loading_clear_screen(void) {
    memset(framebuffer.pixels, 0, (size_t)framebuffer.pitch * SCREEN_HEIGHT);
}

}  // namespace

uint32_t loading_glow_threshold(int frame) {
    return loading_thresholds[(frame / GLOW_STEP_FRAMES) & 3];
}

void glow_blocks(uint32_t threshold) {
    if (!framebuffer.pixels) return;
    int stride = framebuffer.pitch / 4;
    for (int by = 0; by < SCREEN_HEIGHT; by += GLOW_BLOCK) {
        for (int bx = 0; bx < SCREEN_WIDTH; bx += GLOW_BLOCK) {
            uint32_t* block = framebuffer.pixels + by * stride + bx;
            uint32_t sample = block[GLOW_SAMPLE * stride + GLOW_SAMPLE];
            uint32_t add[4];
            bool any = false;
            for (int k = 0; k < 4; ++k) {
                int s = sample >> (8 * k) & 0xFF, t = threshold >> (8 * k) & 0xFF;
                add[k] = s > t ? (uint32_t)(s - t) : 0u;
                any = any || add[k];
            }
            if (!any) continue;
            for (int y = 0; y < GLOW_BLOCK; ++y) {
                uint32_t* row = block + y * stride;
                for (int x = 0; x < GLOW_BLOCK; ++x) {
                    uint32_t p = row[x], out = 0;
                    for (int k = 0; k < 4; ++k) {
                        uint32_t v = (p >> (8 * k) & 0xFF) + add[k];
                        out |= (v > 255 ? 255u : v) << (8 * k);
                    }
                    row[x] = out;
                }
            }
        }
    }
}

int loading_compose_title(Image* canvas) {
    loading_clear_screen();
    for (const LoadingLine& line : loading_lines) {
        // No font means no title at all: one message, then a black screen that still animates.
        if (text_render(canvas, "Arial", line.size, 0, 32, line.colour, line.text) != 0) {
            loading_clear_screen();
            return 1;
        }
        image_draw(canvas, line.x, line.y, line.mode);
    }
    return 0;
}

void loading_draw_frame(const Image* snapshot, int frame) {
    loading_clear_screen();
    image_blit(snapshot, -4, -4, 32, 0);
    // The snapshot's alpha is the text coverage, so only the letters are laid over the shadow.
    image_blit(snapshot, 0, 0, 255, 0);
    glow_blocks(loading_glow_threshold(frame));
}

// The screen's two images, alive between loading_screen_open and loading_screen_close.
static Image* loading_snapshot = nullptr;
static Image* loading_canvas = nullptr;

int loading_screen_open(void) {
    loading_snapshot = image_new(SCREEN_WIDTH, SCREEN_HEIGHT);
    loading_canvas = image_new(LOADING_CANVAS_WIDTH, LOADING_CANVAS_HEIGHT);
    if (!loading_snapshot || !loading_canvas) {
        loading_screen_close();
        return 1;
    }
    frame_begin();
    loading_compose_title(loading_canvas);
    for (int y = 0; y < SCREEN_HEIGHT; ++y)
        memcpy(loading_snapshot->pixels + y * SCREEN_WIDTH,
               (const uint8_t*)framebuffer.pixels + (size_t)y * framebuffer.pitch,
               SCREEN_WIDTH * sizeof(uint32_t));
    frame_present();
    return 0;
}

void loading_screen_frame(int frame) {
    if (!loading_snapshot) return;
    frame_begin();
    loading_draw_frame(loading_snapshot, frame);
    frame_present();
}

void loading_screen_close(void) {
    image_free(loading_canvas);
    image_free(loading_snapshot);
    loading_canvas = nullptr;
    loading_snapshot = nullptr;
}

int loading_thread_main(void*) {
    if (loading_screen_open() != 0) return 1;
    // Paced like the show, so the glow steps at the same speed on every machine that does not wait.
    FramePacer pacer;
    pacing_start(&pacer, pacing_settings.fps_cap, nullptr);
    for (int frame = 0; loading_active.load(); ++frame) {
        frame_begin();
        loading_draw_frame(loading_snapshot, frame);
        pacing_present(&pacer);
    }
    loading_screen_close();
    return 0;
}
