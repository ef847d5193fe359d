// The mosaic operation behind the pixelate layer.
#pragma once

// Turns the framebuffer into blocks of 2^shift pixels, each blended toward the colour sampled near
// its centre (alpha forced opaque) by (255 * alpha) >> 8. Blocks at the bottom and right edges stop
// one pixel short of the screen's last row and column. Nothing for shift < 1 or blocks wider than the
// screen; alpha is clamped to 0..255.
void pixelate(int shift, int alpha);
void pixelate_scalar(int shift, int alpha);  // the plain twin (the SIMD path gives the same bytes)
