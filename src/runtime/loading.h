// The loading screen's thread: animates while the main thread builds the parts.
#pragma once
#include <atomic>
#include <cstdint>

#include "gfx/image.h"

// 1 while the loading screen must keep animating. Written by the main thread, polled by the loading
// thread once per frame: atomic, since the two threads share it.
extern std::atomic<int> loading_active;

// The thread body: composes the title, then animates its glow until loading_active is 0.
// 0 after a normal end, 1 when it cannot allocate its two images (nothing is drawn then).
int loading_thread_main(void* unused);

// The same screen driven step by step, for a platform without the thread (the browser draws a frame
// between loading steps). open composes and shows the title (1 when its images cannot be allocated,
// nothing drawn); frame draws and shows one animation frame; close releases the images.
int loading_screen_open(void);
void loading_screen_frame(int frame);
void loading_screen_close(void);

// Per 16 x 16 block of the screen: the pixel at (7, 7), less threshold per byte (not below 0), is
// added with saturation to every pixel of the block. Samples are read before their block changes.
void glow_blocks(uint32_t threshold);

// The glow threshold of an animation frame: steps every 80 frames through 0x80, 0x5C, 0xC0, 0x40
// (per byte), then repeats.
uint32_t loading_glow_threshold(int frame);

// Clears the open screen to 0 and draws the seven title lines through canvas (512 x 256).
// 0, or 1 when no font could be used (the screen then stays black).
int loading_compose_title(Image* canvas);

// One animation frame onto the open screen: black, a faint copy of snapshot shifted up and left,
// the snapshot over it, then the glow of that frame.
void loading_draw_frame(const Image* snapshot, int frame);
