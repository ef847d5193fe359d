#include "gfx/image.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

int next_pow2(int value) {
    if (value <= 1) return 1;
    if (value > (1 << 30)) return 0;
    unsigned v = (unsigned)value - 1;
    v |= v >> 1;
    v |= v >> 2;
    v |= v >> 4;
    v |= v >> 8;
    v |= v >> 16;
    return (int)(v + 1);
}

int floor_log2(int value) {
    int shift = 0;
    while (value > 1) {
        value >>= 1;
        shift++;
    }
    return shift;
}

int bit_count(uint32_t value) {
    value = value - ((value >> 1) & 0x55555555u);
    value = (value & 0x33333333u) + ((value >> 2) & 0x33333333u);
    value = (value + (value >> 4)) & 0x0F0F0F0Fu;
    return (int)((value * 0x01010101u) >> 24);
}

// Header plus pixel_count pixels, zeroed, with the size fields set; levels left empty.
static Image* image_allocate(int width, int height, size_t pixel_count) {
    if (width < 0 || height < 0) return nullptr;
    if (pixel_count > (SIZE_MAX - sizeof(Image)) / sizeof(uint32_t)) return nullptr;
    // calloc: large canvases stay untouched pages until drawn into.
    Image* image = (Image*)calloc(1, sizeof(Image) + pixel_count * sizeof(uint32_t));
    if (!image) return nullptr;
    image->width = width;
    image->height = height;
    image->width_shift = floor_log2(width);
    image->width_mask = (1 << image->width_shift) - 1;
    image->height_shift = floor_log2(height);
    image->height_mask = (1 << image->height_shift) - 1;
    image->pixels = (uint32_t*)(image + 1);
    image->level_count = 0;
    for (int k = 0; k < 12; k++) image->levels[k] = nullptr;
    return image;
}

Image* image_new(int width, int height) {
    if (width < 0 || height < 0) return nullptr;
    return image_allocate(width, height, (size_t)width * (size_t)height);
}

Image* image_new_mipmapped(int width, int height) {
    if (width < 1 || height < 1 || width != next_pow2(width) || height != next_pow2(height)) {
        printf("texture dimensions must be POW2 (%d x %d\n", width, height);
        return nullptr;
    }
    int side = width < height ? width : height;
    int count = floor_log2(side) + 1;
    if (count > IMAGE_MAX_LEVELS) count = IMAGE_MAX_LEVELS;
    // The levels follow the whole base image, so a non-square base never overlaps level 1.
    size_t offsets[IMAGE_MAX_LEVELS];
    size_t total = (size_t)width * (size_t)height;
    offsets[0] = 0;
    for (int k = 1; k < count; k++) {
        offsets[k] = total;
        size_t s = (size_t)(side >> k);
        total += s * s;
    }
    Image* image = image_allocate(width, height, total);
    if (!image) return nullptr;
    image->level_count = count;
    for (int k = 0; k < count; k++) image->levels[k] = image->pixels + offsets[k];
    return image;
}

void image_free(Image* image) { free(image); }

int image_report_failures = 1;
uint64_t image_pixel_budget = IMAGE_MAX_PIXELS;

int image_size_allowed(const char* path, uint32_t width, uint32_t height) {
    if (width <= IMAGE_MAX_SIDE && height <= IMAGE_MAX_SIDE && (uint64_t)width * height <= image_pixel_budget)
        return 1;
    if (image_report_failures) fprintf(stderr, "texture: %s: too large (%u x %u), refused\n", path, (unsigned)width, (unsigned)height);
    return 0;
}

int image_build_mips(Image* image) {
    if (!image || image->width != image->height || image->level_count <= 0) return 1;
    for (int k = 1; k < image->level_count; k++) {
        const uint32_t* src = image->levels[k - 1];
        uint32_t* dst = image->levels[k];
        int a = image->width >> (k - 1);
        int half = a / 2;
        for (int y = 0; y < half; y++) {
            const uint32_t* r0 = src + (size_t)(2 * y) * a;
            const uint32_t* r1 = r0 + a;
            for (int x = 0; x < half; x++) {
                uint32_t p0 = r0[2 * x], p1 = r0[2 * x + 1], p2 = r1[2 * x], p3 = r1[2 * x + 1];
                // Two channels per 32-bit sum, ten bits each: the four-pixel sums never carry over.
                uint32_t even = (p0 & 0x00FF00FFu) + (p1 & 0x00FF00FFu) + (p2 & 0x00FF00FFu) +
                                (p3 & 0x00FF00FFu);
                uint32_t odd = ((p0 >> 8) & 0x00FF00FFu) + ((p1 >> 8) & 0x00FF00FFu) +
                               ((p2 >> 8) & 0x00FF00FFu) + ((p3 >> 8) & 0x00FF00FFu);
                dst[(size_t)y * half + x] =
                    ((even >> 2) & 0x00FF00FFu) | (((odd >> 2) & 0x00FF00FFu) << 8);
            }
        }
    }
    return 0;
}

Image* image_slope_map(const Image* source) {
    if (!source) return nullptr;
    int w = source->width, h = source->height;
    Image* slope = image_new(w, h);
    if (!slope) return nullptr;
    const uint32_t* p = source->pixels;
    for (int y = 0; y < h; y++) {
        int up = (y + h - 1) % h, down = (y + 1) % h;
        for (int x = 0; x < w; x++) {
            int left = (x + w - 1) % w, right = (x + 1) % w;
            int dx = (int)(p[(size_t)y * w + left] & 0xFF) - (int)(p[(size_t)y * w + right] & 0xFF);
            int dy = (int)(p[(size_t)up * w + x] & 0xFF) - (int)(p[(size_t)down * w + x] & 0xFF);
            uint32_t r = (uint32_t)((dx + 256) >> 1), g = (uint32_t)((dy + 256) >> 1);
            slope->pixels[(size_t)y * w + x] = 0xFF000000u | r << 16 | g << 8;
        }
    }
    return slope;
}
