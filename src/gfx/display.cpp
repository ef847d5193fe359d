#include "gfx/display.h"
#include "gfx/draw_queue.h"

#include <SDL.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "gfx/question.h"

#if __EMSCRIPTEN__
#include <emscripten.h>

// The page: SDL's screen surface is the canvas's RGBA bytes and reaches the canvas at unlock. The
// program draws into its own 0xAARRGGBB buffer and converts in the one copy at present; the surface
// keeps no copy of the canvas (nothing reads it back) and the copy sets alpha itself.
EM_JS(void, display_web_configure, (), {
    SDL.defaults.copyOnLock = false;
    SDL.defaults.discardOnLock = true;
    SDL.defaults.opaqueFrontBuffer = false;
});

// Waits for the page's next animation frame, so the frame just shown is painted and the page stays
// responsive.
EM_ASYNC_JS(void, display_web_next_frame, (), {
    await new Promise(function(resolve) { requestAnimationFrame(function() { resolve(); }); });
});
#endif

Framebuffer framebuffer = {nullptr, 0};
DepthBuffer* depth_buffer = nullptr;
DepthBuffer* depth_buffer2 = nullptr;
uint32_t grey_ramp[256];

static SDL_Surface* screen_surface = nullptr;
// Set when depth_buffer (0) or depth_buffer2 (1) may hold anything but 0x7FFFFFFF. Atomic because the
// loading thread frames its own pictures while the main thread builds the parts.
static std::atomic<int> depth_drawn[2];

static std::atomic<int>* depth_drawn_flag(const DepthBuffer* depth) {
    if (!depth) return nullptr;
    return depth == depth_buffer ? &depth_drawn[0] : depth == depth_buffer2 ? &depth_drawn[1] : nullptr;
}

// Resets the buffer when it was drawn into since its last reset.
static void depth_reset_if_drawn(DepthBuffer* depth) {
    std::atomic<int>* flag = depth_drawn_flag(depth);
    if (flag && flag->load(std::memory_order_relaxed)) depth_fill(depth, 0x7FFFFFFF);
}
static uint32_t* offscreen_pixels = nullptr;

static void display_build_grey_ramp(void) {
    for (int i = 0; i < 256; i++) {
        // v(i) = min(255, trunc(255 * (i / 255) ^ 1.0)); with the exponent 1 every v(i) is i.
        int v = i;
        grey_ramp[i] = (uint32_t)v * 0x01010101u;
    }
}

static int display_alloc_depth(void) {
    depth_buffer = depth_new(SCREEN_WIDTH, SCREEN_HEIGHT);
    if (!depth_buffer) return 1;
    depth_buffer2 = depth_new(SCREEN_WIDTH, SCREEN_HEIGHT);
    return depth_buffer2 ? 0 : 1;
}

static int display_must_lock(void) {
#if __EMSCRIPTEN__
    return 0;  // the page's surface is locked only for the copy at present
#else
    return screen_surface &&
           (screen_surface->offset != 0 ||
            (screen_surface->flags & (SDL_HWSURFACE | SDL_ASYNCBLIT | SDL_RLEACCEL)) != 0);
#endif
}

static void display_print_info(void) {
    const SDL_VideoInfo* info = SDL_GetVideoInfo();
    if (!info) return;
    const SDL_PixelFormat* f = info->vfmt;
    printf("rendering info:\n");
    printf("\thardware surface %d\n", (int)info->hw_available);
    printf("\twindow manager   %d\n", (int)info->wm_available);
    printf("\thardware blit    %d\n", (int)info->blit_hw);
    printf("\thardware blit cc %d\n", (int)info->blit_hw_CC);
    printf("\thardware blit a  %d\n", (int)info->blit_hw_A);
    printf("\tsoftware blit    %d\n", (int)info->blit_sw);
    printf("\tsoftware blit cc %d\n", (int)info->blit_sw_CC);
    printf("\tsoftware blit a  %d\n", (int)info->blit_sw_A);
    printf("\thardware fill    %d\n", (int)info->blit_fill);
    printf("\tvideo memory     %d\n", (int)info->video_mem);
    printf("\tpixel format:\n");
    printf("\t\tbits per pixel  %d\n", f ? (int)f->BitsPerPixel : 0);
    printf("\t\tbytes per pixel %d\n", f ? (int)f->BytesPerPixel : 0);
    printf("\t\tshift a:%d r:%d g:%d b:%d\n", f ? f->Ashift : 0, f ? f->Rshift : 0,
           f ? f->Gshift : 0, f ? f->Bshift : 0);
    printf("\t\tmask  a:%.8X r:%.8X g:%.8X b:%.8X\n", f ? f->Amask : 0, f ? f->Rmask : 0,
           f ? f->Gmask : 0, f ? f->Bmask : 0);
    printf("\t\tloss  a:%d r:%d g:%d b:%d\n", f ? f->Aloss : 0, f ? f->Rloss : 0,
           f ? f->Gloss : 0, f ? f->Bloss : 0);
    fflush(stdout);
}

int display_open(int allocate_depth) {
    // Presents wait for the vertical blank, so frames never tear; a value the user set wins.
    setenv("SDL12COMPAT_SYNC_TO_VBLANK", "1", 0);
    if (SDL_Init(SDL_INIT_VIDEO) == -1) return 1;
#if __EMSCRIPTEN__
    display_web_configure();
    // The page asks with its start overlay; its Fullscreen button has already made the page full
    // screen, so the canvas opens the same way for either answer.
    question_ask_yes_no("Fullscreen?", "Velmorian Quillet");
    screen_surface = SDL_SetVideoMode(SCREEN_WIDTH, SCREEN_HEIGHT, 32, 0);
    SDL_ShowCursor(0);
#else
    if (question_ask_yes_no("Fullscreen?", "Velmorian Quillet") == QUESTION_YES) {
        screen_surface = SDL_SetVideoMode(SCREEN_WIDTH, SCREEN_HEIGHT, 32, SDL_FULLSCREEN);
        SDL_ShowCursor(0);
        SDL_Delay(2000);
    } else {
        screen_surface = SDL_SetVideoMode(SCREEN_WIDTH, SCREEN_HEIGHT, 32, 0);
        SDL_ShowCursor(0);
    }
#endif
    if (!screen_surface) {
        SDL_Quit();
        return 1;
    }
    SDL_WM_SetCaption("Velmorian Quillet Inc.", nullptr);
    display_print_info();
#if __EMSCRIPTEN__
    offscreen_pixels = (uint32_t*)calloc((size_t)SCREEN_WIDTH * SCREEN_HEIGHT, sizeof(uint32_t));
    if (!offscreen_pixels) {
        display_close();
        return 1;
    }
    framebuffer.pixels = offscreen_pixels;
    framebuffer.pitch = SCREEN_WIDTH * 4;
#else
    framebuffer.pixels = (uint32_t*)screen_surface->pixels;
    framebuffer.pitch = screen_surface->pitch;
#endif
    if (allocate_depth && display_alloc_depth() != 0) {
        display_close();
        return 1;
    }
    display_build_grey_ramp();
    return 0;
}

int display_open_offscreen(int allocate_depth) {
    display_close();
    offscreen_pixels = (uint32_t*)calloc((size_t)SCREEN_WIDTH * SCREEN_HEIGHT, sizeof(uint32_t));
    if (!offscreen_pixels) return 1;
    framebuffer.pixels = offscreen_pixels;
    framebuffer.pitch = SCREEN_WIDTH * 4;
    if (allocate_depth && display_alloc_depth() != 0) {
        display_close();
        return 1;
    }
    display_build_grey_ramp();
    return 0;
}

void display_close(void) {
    draw_queue_stop();  // no drawing thread may outlive the buffers
    draw_queue_drop_held();  // nor a pass held for them
    depth_free(depth_buffer);
    depth_buffer = nullptr;
    depth_free(depth_buffer2);
    depth_buffer2 = nullptr;
    if (screen_surface) {
        SDL_ShowCursor(1);
        screen_surface = nullptr;
        SDL_Quit();
    }
    free(offscreen_pixels);
    offscreen_pixels = nullptr;
    framebuffer.pixels = nullptr;
    framebuffer.pitch = 0;
}

void frame_begin(void) {
    if (display_must_lock()) {
        SDL_LockSurface(screen_surface);
        framebuffer.pixels = (uint32_t*)screen_surface->pixels;
    }
    depth_reset_if_drawn(depth_buffer);
    depth_reset_if_drawn(depth_buffer2);
}

void depth_mark_drawn(const DepthBuffer* depth) {
    std::atomic<int>* flag = depth_drawn_flag(depth);
    if (flag) flag->store(1, std::memory_order_relaxed);
}

// count words set to value. On x86-64 a string store: for a run this long the processor writes whole
// cache lines without reading them first, which made a screen-sized fill 1.3 to 1.5 times as fast
// as a loop of vector stores.
static inline void fill_words(uint32_t* p, size_t count, uint32_t value) {
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
    asm volatile("rep stosl" : "+D"(p), "+c"(count) : "a"(value) : "memory");
#else
    size_t i = 0;
    for (; i + 8 <= count; i += 8) {
        p[i + 0] = value; p[i + 1] = value; p[i + 2] = value; p[i + 3] = value;
        p[i + 4] = value; p[i + 5] = value; p[i + 6] = value; p[i + 7] = value;
    }
    for (; i < count; i++) p[i] = value;
#endif
}

// Every row of the screen's pixels (or of a screen-sized depth buffer) within the calling thread's
// band set to one value, a run of consecutive rows at a time.
static void frame_fill_rows(uint32_t* p, uint32_t value) {
    const DrawBand* band = draw_band;
    int end = 0;
    for (int y = draw_band_next_run(band, 0, SCREEN_HEIGHT, &end); y < SCREEN_HEIGHT;
         y = draw_band_next_run(band, end, SCREEN_HEIGHT, &end))
        fill_words(p + (size_t)y * SCREEN_WIDTH, (size_t)(end - y) * SCREEN_WIDTH, value);
}

struct FrameFill {
    uint32_t* pixels;
    uint32_t value;
};

static void frame_fill_replay(const void* payload) {
    const FrameFill* fill = (const FrameFill*)payload;
    frame_fill_rows(fill->pixels, fill->value);
}

static void frame_fill(uint32_t* pixels, uint32_t value) {
    FrameFill fill = {pixels, value};
    draw_queue_call(frame_fill_replay, &fill, sizeof fill);
}

void frame_clear(uint32_t colour) {
    uint32_t* p = framebuffer.pixels;
    if (!p) return;
    frame_fill(p, colour);
}

void frame_clear_held(uint32_t colour) {
    uint32_t* p = framebuffer.pixels;
    if (!p) return;
    FrameFill fill = {p, colour};
    draw_queue_hold(frame_fill_replay, &fill, sizeof fill);
}

void frame_present(void) {
    draw_queue_flush();  // the display is handed finished frames only
    if (!screen_surface) return;
#if __EMSCRIPTEN__
    // 0xAARRGGBB words to the canvas's R, G, B, A bytes: red and blue change places, opaque.
    SDL_LockSurface(screen_surface);
    uint32_t* out = (uint32_t*)screen_surface->pixels;
    const uint32_t* in = framebuffer.pixels;
    for (int i = 0; i < SCREEN_WIDTH * SCREEN_HEIGHT; i++) {
        uint32_t p = in[i];
        out[i] = 0xFF000000u | (p & 0x0000FF00u) | (p >> 16 & 0xFFu) | (p & 0xFFu) << 16;
    }
    SDL_UnlockSurface(screen_surface);
    display_web_next_frame();
#else
    if (display_must_lock()) SDL_UnlockSurface(screen_surface);
    SDL_UpdateRect(screen_surface, 0, 0, SCREEN_WIDTH, SCREEN_HEIGHT);
#endif
}

DepthBuffer* depth_new(int width, int height) {
    if (width <= 0 || height <= 0) return nullptr;
    size_t count = (size_t)width * (size_t)height;
    DepthBuffer* depth = (DepthBuffer*)malloc(sizeof(DepthBuffer) + count * sizeof(int32_t));
    if (!depth) return nullptr;
    depth->width = width;
    depth->height = height;
    depth->values = (int32_t*)(depth + 1);
    depth_fill(depth, 0x7FFFFFFF);
    return depth;
}

void depth_free(DepthBuffer* depth) { free(depth); }

void depth_fill(DepthBuffer* depth, uint32_t value) {
    if (!depth) return;
    if (std::atomic<int>* flag = depth_drawn_flag(depth)) flag->store(value != 0x7FFFFFFFu, std::memory_order_relaxed);
    if (draw_queue_active && (depth == depth_buffer || depth == depth_buffer2)) {
        // The display's buffers are screen-sized, so the drawing threads fill them by bands.
        if (depth == depth_buffer2) {
            draw_queue_flush_if(DRAW_PENDING_SHADOW_READ);
            draw_queue_note(DRAW_PENDING_SHADOW_WRITE);
        }
        frame_fill((uint32_t*)depth->values, value);
        return;
    }
    fill_words((uint32_t*)depth->values, (size_t)depth->width * (size_t)depth->height, value);
}
