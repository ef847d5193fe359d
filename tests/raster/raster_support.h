// Test support for the rasterizer: a slow per-pixel reference rasterizer written independently of
// the real fillers, random scenes and picture helpers.
#pragma once
#include <cstdint>
#include <vector>

#include "gfx/display.h"
#include "gfx/image.h"
#include "raster/raster.h"
#include "support/test_support.h"

// Everything the rasterizer reads besides the triangle: the three buffers and the two map slots.
struct RefBuffers {
    std::vector<uint32_t> frame;    // 640 x 480
    std::vector<int32_t> depth;     // main depth buffer
    std::vector<int32_t> shadow;    // shadow depth buffer
};

// Draws one triangle with the reference rasterizer into b. env and bump are the map slots.
void ref_draw(RefBuffers* b, const MeshVertex* v0, const MeshVertex* v1, const MeshVertex* v2,
              uint32_t flags, uint32_t colour, const Image* texture, const Image* env,
              const Image* bump, uint32_t mode);

// The reference's view of set-up: 0 when the triangle is drawn, with its clamped box.
int ref_setup_box(const MeshVertex* v0, const MeshVertex* v1, const MeshVertex* v2, uint32_t flags,
                  int* min_x, int* min_y, int* max_x, int* max_y);

// Copies between the display's buffers and a RefBuffers.
void ref_capture(RefBuffers* b);
void ref_restore(const RefBuffers* b);

// An image of random texels (with every mip level random when levels exist).
Image* test_image_random(TestRandom* r, int width, int height, int mipmapped);
// An image filled with one texel value.
Image* test_image_filled(int width, int height, uint32_t texel);

// Every drawn mode, from the rasterizer's own mode table (so a new mode is tested as it is added).
std::vector<uint32_t> test_drawn_modes(void);

// A vertex with the fields the rasterizer reads.
MeshVertex test_vertex(float sx, float sy, float sz, float u = 0, float v = 0, float env_u = 0,
                       float env_v = 0, uint32_t colour = 0);
