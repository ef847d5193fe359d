#include "assets/image_files.h"

#include <cmath>
#include <csetjmp>
#include <cstdio>

#include <jpeglib.h>

#include "gfx/image.h"

static inline uint8_t to_byte(float v) {
    if (!(v > 0.0f)) return 0;
    if (v >= 1.0f) return 255;
    return (uint8_t)std::lround(v * 255.0f);
}

void canvas_to_bytes(const Canvas* canvas, int channels, std::vector<uint8_t>* out) {
    size_t n = (size_t)canvas->width * canvas->height;
    out->resize(n * channels);
    for (size_t i = 0; i < n; i++) {
        const float* p = &canvas->px[i * 4];
        uint8_t* o = &(*out)[i * channels];
        if (channels == 3) {
            // Opaque pictures: the premultiplied colour is the colour over black.
            o[0] = to_byte(p[0]);
            o[1] = to_byte(p[1]);
            o[2] = to_byte(p[2]);
            continue;
        }
        uint8_t a = to_byte(p[3]);
        o[3] = a;
        if (a == 0) {
            o[0] = o[1] = o[2] = 0;
            continue;
        }
        for (int c = 0; c < 3; c++) o[c] = to_byte(p[c] / p[3]);
    }
}

struct PngBytes {
    const uint8_t* bytes;
    size_t row_bytes;
};

static const uint8_t* assets_png_row(int y, void* context) {
    const PngBytes* b = (const PngBytes*)context;
    return b->bytes + (size_t)y * b->row_bytes;
}

int png_write(const char* path, int width, int height, int channels, const uint8_t* bytes) {
    PngBytes rows = {bytes, (size_t)width * channels};
    if (image_write_png_rows(path, width, height, channels, assets_png_row, &rows) != 0) {
        fprintf(stderr, "quillet-assets: cannot write %s\n", path);
        return 1;
    }
    return 0;
}

struct JpegError {
    jpeg_error_mgr mgr;
    jmp_buf jump;
};

static void jpeg_fail(j_common_ptr cinfo) { longjmp(((JpegError*)cinfo->err)->jump, 1); }

int jpeg_write(const char* path, int width, int height, const uint8_t* rgb, int quality) {
    FILE* f = fopen(path, "wb");
    if (!f) {
        fprintf(stderr, "quillet-assets: cannot write %s\n", path);
        return 1;
    }
    jpeg_compress_struct cinfo;
    JpegError err;
    cinfo.err = jpeg_std_error(&err.mgr);
    err.mgr.error_exit = jpeg_fail;
    if (setjmp(err.jump)) {
        jpeg_destroy_compress(&cinfo);
        fclose(f);
        fprintf(stderr, "quillet-assets: JPEG encoding failed for %s\n", path);
        return 1;
    }
    jpeg_create_compress(&cinfo);
    jpeg_stdio_dest(&cinfo, f);
    cinfo.image_width = (JDIMENSION)width;
    cinfo.image_height = (JDIMENSION)height;
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, quality, TRUE);
    // The integer DCT gives the same bytes on every processor.
    cinfo.dct_method = JDCT_ISLOW;
    // Full-resolution colour: the normal map and the thin lines of the art do not survive 4:2:0.
    for (int i = 0; i < cinfo.num_components; i++) {
        cinfo.comp_info[i].h_samp_factor = 1;
        cinfo.comp_info[i].v_samp_factor = 1;
    }
    jpeg_start_compress(&cinfo, TRUE);
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW row = (JSAMPROW)&rgb[(size_t)cinfo.next_scanline * width * 3];
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    if (fclose(f) != 0) {
        fprintf(stderr, "quillet-assets: cannot write %s\n", path);
        return 1;
    }
    return 0;
}
