// Whole-image 2D drawing onto the framebuffer at an integer position, clipped to 640 x 480, no
// scaling. Every byte of a pixel (alpha included) goes through the mode's formula and the result is
// written to the destination's four bytes. Nothing is drawn for a null image (an empty texture
// slot) or while no display is open.
//
// image_blit: a = (source alpha * opacity) >> 8 per pixel (mode 7 uses the destination's alpha),
// >> 8 truncates, sat() clamps at 255.
//   0 sat((S*a >> 8) + (D*(255-a) >> 8))   alpha blend faded by the opacity
//   1 sat(S + (D*(255-a) >> 8))            premultiplied source over the destination
//   2 sat((S*(255-a) >> 8) + D)            source attenuated by the inverse alpha, added
//   3 S*(255-a) >> 8                       destination replaced by the attenuated source
//   4 D*a >> 8                             destination darkened by the source alpha
//   5 sat((S*D >> 8) + (D*(255-a) >> 8))   multiply mixed by the source alpha
//   6 sat(D + max(0, D - (S*D >> 8)))      brightening; alpha and opacity ignored
//   7 as 0 with a from the destination's alpha
// image_draw, no alpha: 0 S, 1 sat(S+D), 2 max(D-S, 0), 3 S*D >> 8, 4 min, 5 max, 6 (S+D+1) >> 1.
#pragma once
#include <cstdint>
#include "gfx/image.h"

void image_blit(const Image* image, int x, int y, uint32_t opacity, uint32_t mode);  // modes 0..7
void image_draw(const Image* image, int x, int y, uint32_t mode);                    // modes 0..6

// A background: image_draw(image, 0, 0, 0), held back (gfx/draw_queue.h) when the image covers the
// whole screen, so that the next full-screen pass may overwrite it unseen or blend over it in the
// same pass. image_held_base is that image while it is held, else null; a caller that draws it
// itself drops it with draw_queue_drop_held.
void image_draw_base(const Image* image);
const Image* image_held_base(void);

// Pictures whose every row is one colour (a scan-line overlay) blit without reading a source pixel.
// image_row_colours stores each row's colour in colours[0 .. height - 1] and returns 1 when every
// row is one colour, else 0 (colours then partly written). image_blit_rows draws, given those
// colours of a width x height picture, the bytes image_blit draws of the picture; the colours must
// stay as they are until the frame is presented.
int image_row_colours(const Image* image, uint32_t* colours);
void image_blit_rows(const uint32_t* colours, int width, int height, int x, int y, uint32_t opacity,
                     uint32_t mode);

// Which routines the two operations run: the program's SIMD level (gfx/simd.h), by default the widest
// the processor has. Every path gives the same bytes; lowering it serves the tests and benchmarks.
// Returns the path now in use (never above the SIMD level nor what the processor has).
enum { BLIT_PATH_SCALAR = 0, BLIT_PATH_SSE2 = 1, BLIT_PATH_AVX2 = 2 };
int blit_use_path(int path);
int blit_current_path(void);  // the path image_blit and image_draw run now
