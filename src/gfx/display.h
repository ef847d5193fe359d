// The one display surface: a 640 x 480 framebuffer of 0xAARRGGBB words, the main and shadow depth
// buffers and the grey ramp. All drawing goes straight into `framebuffer.pixels`; the display library
// only receives finished frames in frame_present.
//
// Two kinds of display share every operation here: the window (display_open, over SDL) and an
// off-screen display (display_open_offscreen) for tests and the offline renderer, whose pixels live
// in memory. Drawing code cannot tell them apart.
#pragma once
#include <cstdint>

enum { SCREEN_WIDTH = 640, SCREEN_HEIGHT = 480 };

// What the drawing code uses of the surface: pixel memory and bytes per row. Rows are contiguous
// (pitch = 640 * 4) on every display this program opens.
struct Framebuffer {
    uint32_t* pixels;
    int pitch;
};

// width x height signed 32-bit values right after the header (one allocation); smaller is nearer,
// 0x7FFFFFFF means nothing drawn.
struct DepthBuffer {
    int width;
    int height;
    int32_t* values;
};

extern Framebuffer framebuffer;      // pixels is null while no display is open
extern DepthBuffer* depth_buffer;    // main depth buffer, null unless opened with depth
extern DepthBuffer* depth_buffer2;   // shadow depth buffer
extern uint32_t grey_ramp[256];      // entry i is i * 0x01010101

int display_open(int allocate_depth);            // window; asks "Fullscreen?"; 0 ok, 1 failure
int display_open_offscreen(int allocate_depth);  // memory only, no window, no question; 0 or 1
void display_close(void);                        // safe to call when nothing is open
// Lock when needed and reset the depth buffers: each only when something was drawn into it since its
// last reset, so every read still finds 0x7FFFFFFF where nothing was drawn this frame.
void frame_begin(void);
void frame_clear(uint32_t colour);               // fill all 640 x 480 pixels
// The same as a held pass (gfx/draw_queue.h): never drawn when the next drawing covers every pixel.
void frame_clear_held(uint32_t colour);
void frame_present(void);                        // unlock and show the frame (no-op off-screen)

DepthBuffer* depth_new(int width, int height);   // every value 0x7FFFFFFF; null on no memory
void depth_free(DepthBuffer* depth);             // null accepted
void depth_fill(DepthBuffer* depth, uint32_t value);  // null accepted; width*height multiple of 8
// Whoever writes depth_buffer or depth_buffer2 other than through depth_fill calls this first, so
// that the next frame_begin resets it (the rasterizer does; many frames never touch one or both).
void depth_mark_drawn(const DepthBuffer* depth);
