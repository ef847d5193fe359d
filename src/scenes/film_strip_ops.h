// The doubling blit behind the film-strip and dancer overlays.
#pragma once
#include <cstdint>

#include "gfx/image.h"

// Draws the region of src_w columns from (src_x, src_y) at twice its size from the screen's top-left
// corner: source row src_y + r / 2 feeds screen row r, and both pixels of each horizontal pair get
// the one result blended against the left one. Mode 0 alpha-blends faded by the opacity, mode 3
// replaces with the source attenuated by its inverse alpha; other modes draw nothing. Only the
// opacity's lowest byte counts. The region is cut to the image, to the screen (320 x 240 source
// pixels) and to src_h rows, so nothing outside either is ever read or written.
void image_blit_double(const Image* image, int src_x, int src_y, int src_w, int src_h, uint32_t opacity,
                       uint32_t mode);
// The plain per-pixel twin of the above (the SIMD path must give the same bytes).
void image_blit_double_scalar(const Image* image, int src_x, int src_y, int src_w, int src_h, uint32_t opacity,
                              uint32_t mode);
// Mode 0 doubles of rows src_y_first and then src_y_second (columns from 0) in one pass over the
// screen, with the bytes of the two plain calls in that order; and its plain per-pixel twin.
void image_blit_double_two(const Image* image, int src_y_first, int src_y_second, int src_w, int src_h,
                           uint32_t opacity_first, uint32_t opacity_second);
void image_blit_double_two_scalar(const Image* image, int src_y_first, int src_y_second, int src_w, int src_h,
                                  uint32_t opacity_first, uint32_t opacity_second);
