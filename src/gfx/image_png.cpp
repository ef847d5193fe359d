// PNG textures through libpng, row by row. Written without C++ objects that own anything: libpng
// reports errors by a non-local return, which would skip their destructors. The pointers that
// change after the return point is set are volatile so the error path sees their current values.
#include <png.h>

#include <cstdio>
#include <cstdlib>

#include "gfx/image.h"
#include "gfx/path.h"

// Decoding problems end the load quietly: the loader's result is its only report.
static void image_png_error(png_structp png, png_const_charp) { png_longjmp(png, 1); }
static void image_png_warning(png_structp, png_const_charp) {}

// One decoded row (3 or 4 bytes per pixel) into 0xAARRGGBB, alpha premultiplied.
static void image_png_convert_row(uint32_t* out, const png_byte* in, int width, int channels) {
    if (channels == 3) {
        for (int x = 0; x < width; x++, in += 3)
            out[x] = 0xFF000000u | (uint32_t)in[0] << 16 | (uint32_t)in[1] << 8 | in[2];
    } else {
        for (int x = 0; x < width; x++, in += 4) {
            uint32_t a = in[3];
            out[x] = a << 24 | ((in[0] * a) >> 8) << 16 | ((in[1] * a) >> 8) << 8 | ((in[2] * a) >> 8);
        }
    }
}

Image* image_load_png(const char* path, uint32_t flags) {
    FILE* file = path_fopen(path, "rb");
    if (!file) return nullptr;

    // libpng 1.6 checks the version text against its own and refuses the 1.2 series' "1.2.8".
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, image_png_error,
                                             image_png_warning);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    png_infop end_info = info ? png_create_info_struct(png) : nullptr;
    if (!end_info) {
        png_destroy_read_struct(png ? &png : nullptr, info ? &info : nullptr, nullptr);
        fclose(file);
        return nullptr;
    }

    Image* volatile image = nullptr;
    png_byte* volatile rows = nullptr;
    png_init_io(png, file);
    if (setjmp(png_jmpbuf(png))) {
        image_free(image);
        free(rows);
        png_destroy_read_struct(&png, &info, &end_info);
        fclose(file);
        return nullptr;
    }

    png_set_sig_bytes(png, 0);
    png_read_info(png, info);
    png_uint_32 width = 0, height = 0;
    int depth = 0, colour = 0, interlace = 0;
    png_get_IHDR(png, info, &width, &height, &depth, &colour, &interlace, nullptr, nullptr);
    if (!image_size_allowed(path, width, height)) png_longjmp(png, 1);

    if (colour == PNG_COLOR_TYPE_PALETTE && depth <= 8) png_set_palette_to_rgb(png);
    if (colour == PNG_COLOR_TYPE_GRAY && depth < 8) png_set_expand_gray_1_2_4_to_8(png);
    if (png_get_valid(png, info, PNG_INFO_tRNS)) png_set_tRNS_to_alpha(png);
    if (depth == 16) png_set_strip_16(png);
    if (colour == PNG_COLOR_TYPE_GRAY || colour == PNG_COLOR_TYPE_GRAY_ALPHA) png_set_gray_to_rgb(png);
    // Interlaced files are read pass by pass into a whole-image buffer; row by row they would
    // come out as a scramble of the first passes.
    int passes = png_set_interlace_handling(png);
    png_read_update_info(png, info);
    png_get_IHDR(png, info, &width, &height, &depth, &colour, &interlace, nullptr, nullptr);

    int channels = png_get_channels(png, info);
    size_t row_bytes = png_get_rowbytes(png, info);
    if ((channels != 3 && channels != 4) || depth != 8 || row_bytes < (size_t)width * channels)
        png_longjmp(png, 1);
    size_t buffer_rows = passes > 1 ? height : 1;
    rows = (png_byte*)malloc(row_bytes * (buffer_rows ? buffer_rows : 1));
    if (!rows) png_longjmp(png, 1);

    image = flags ? image_new_mipmapped((int)width, (int)height) : image_new((int)width, (int)height);
    if (!image) png_longjmp(png, 1);

    if (passes > 1) {
        for (int pass = 0; pass < passes; pass++)
            for (png_uint_32 y = 0; y < height; y++) png_read_row(png, rows + y * row_bytes, nullptr);
        for (png_uint_32 y = 0; y < height; y++)
            image_png_convert_row(image->pixels + (size_t)y * width, rows + y * row_bytes, (int)width,
                                  channels);
    } else {
        for (png_uint_32 y = 0; y < height; y++) {
            png_read_row(png, rows, nullptr);
            image_png_convert_row(image->pixels + (size_t)y * width, rows, (int)width, channels);
        }
    }

    Image* result = image;
    free(rows);
    png_destroy_read_struct(&png, &info, &end_info);
    fclose(file);
    if (flags && image_build_mips(result) != 0) printf("unable to build mipmaps for \"%s\"\n", path);
    return result;
}
