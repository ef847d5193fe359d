// Whole-image 2D drawing onto the framebuffer at an integer position, clipped to 640 x 480.
#pragma once
#include <cstdint>
#include "gfx/image.h"

void image_blit(const Image* image, int x, int y, uint32_t opacity, uint32_t mode);  // modes 0..7
void image_draw(const Image* image, int x, int y, uint32_t mode);                    // modes 0..6
