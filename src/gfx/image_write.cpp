// PNG files written through libpng: the offline renderer's frames, the data-set generator's
// textures and the pictures the tests leave behind. Everything is acquired before the error
// return point is set, so the error path releases the same things as the normal one.
#include <png.h>

#include <cstdio>
#include <cstdlib>

#include "gfx/image.h"

static void image_write_png_error(png_structp png, png_const_charp) { png_longjmp(png, 1); }
static void image_write_png_warning(png_structp, png_const_charp) {}

int image_write_png_rows(const char* path, int width, int height, int channels,
                         ImagePngRow row, void* context) {
    if (width <= 0 || height <= 0 || (channels != 3 && channels != 4)) return 1;
    FILE* file = fopen(path, "wb");
    if (!file) return 1;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, image_write_png_error,
                                              image_write_png_warning);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!info || setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, info ? &info : nullptr);
        fclose(file);
        return 1;
    }
    png_init_io(png, file);
    png_set_IHDR(png, info, (png_uint_32)width, (png_uint_32)height, 8,
                 channels == 4 ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_set_compression_level(png, 6);
    png_write_info(png, info);
    for (int y = 0; y < height; y++) png_write_row(png, row(y, context));
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return fclose(file) == 0 ? 0 : 1;
}

struct ImagePixelRows {
    const uint32_t* pixels;
    int width;
    int stride;
    uint8_t* bytes;
};

static const uint8_t* image_pixel_row(int y, void* context) {
    ImagePixelRows* rows = (ImagePixelRows*)context;
    const uint32_t* in = rows->pixels + (size_t)y * rows->stride;
    for (int x = 0; x < rows->width; x++) {
        rows->bytes[x * 3] = (uint8_t)(in[x] >> 16);
        rows->bytes[x * 3 + 1] = (uint8_t)(in[x] >> 8);
        rows->bytes[x * 3 + 2] = (uint8_t)in[x];
    }
    return rows->bytes;
}

int image_write_png(const char* path, const uint32_t* pixels, int width, int height, int stride) {
    if (!pixels || width <= 0 || stride < width) return 1;
    ImagePixelRows rows = {pixels, width, stride, (uint8_t*)malloc((size_t)width * 3)};
    if (!rows.bytes) return 1;
    int result = image_write_png_rows(path, width, height, 3, image_pixel_row, &rows);
    free(rows.bytes);
    return result;
}
