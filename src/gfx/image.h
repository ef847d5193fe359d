// Image: the one 32-bit picture record (textures, text bitmaps, off-screen canvases).
//
// One allocation: the header, then width * height pixels (0xAARRGGBB, row-major, top row first),
// then for mip-mapped images levels 1, 2, ... of side min(width, height) >> k. Releasing the record
// releases everything. Masks and shifts are precomputed for the texture fillers.
#pragma once
#include <cstdint>

enum { IMAGE_MAX_LEVELS = 11 };

struct Image {
    int width;
    int width_mask;   // (1 << width_shift) - 1
    int width_shift;  // floor_log2(width)
    int height;
    int height_mask;
    int height_shift;
    uint32_t* pixels;
    int level_count;  // 0 = no mip levels, at most IMAGE_MAX_LEVELS
    uint32_t* levels[12];
};
typedef Image Texture;

Image* image_new(int width, int height);             // zeroed, no levels; null on no memory
Image* image_new_mipmapped(int width, int height);   // zeroed with level chain; null if not pow2
void image_free(Image* image);                       // null accepted
int image_build_mips(Image* image);                  // 0 ok, 1 not square or no levels
Image* image_load_jpeg(const char* path, uint32_t flags);
Image* image_load_png(const char* path, uint32_t flags);

int next_pow2(int value);     // smallest power of two not below a positive value
int floor_log2(int value);    // 0 for 0 and 1
int bit_count(uint32_t value);

// The texture table: slots 0..38 the texture list, 39 the generated ramp.
int textures_init(void);      // 0 ok, 1 failure (everything loaded so far is released)
void textures_free(void);
Texture* texture_get(int index);
