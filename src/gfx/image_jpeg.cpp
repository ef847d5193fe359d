// JPEG textures through libjpeg's file source, one RGB scan line at a time. Fatal decoder errors
// and signs of a damaged file come back here by a non-local return, so nothing in this file may
// hold a C++ object with a destructor; pointers changed after the return point are volatile.
#include <cstddef>
#include <csetjmp>
#include <cstdio>

#include <jpeglib.h>
#include <jerror.h>

#include "gfx/image.h"
#include "gfx/path.h"

struct ImageJpegError {
    jpeg_error_mgr manager;  // first, so the decoder's error pointer is also ours
    jmp_buf back;
};

static void image_jpeg_fail(j_common_ptr decoder) {
    longjmp(((ImageJpegError*)decoder->err)->back, 1);
}

// Warnings that mean the picture is damaged or cut short fail the load; the decoder would
// otherwise fill the rest with grey and report success. Other warnings and traces are dropped.
static void image_jpeg_message(j_common_ptr decoder, int level) {
    if (level >= 0) return;
    int code = decoder->err->msg_code;
    if (code == JWRN_JPEG_EOF || code == JWRN_HIT_MARKER || code == JWRN_HUFF_BAD_CODE ||
        code == JWRN_MUST_RESYNC)
        image_jpeg_fail(decoder);
}

static void image_jpeg_silent(j_common_ptr) {}

// The decoder's own working memory (coefficient buffers of progressive files) is capped so a file
// that declares a huge progressive picture fails instead of exhausting memory.
enum { IMAGE_JPEG_WORK_MEMORY = 256 << 20 };

Image* image_load_jpeg(const char* path, uint32_t flags) {
    FILE* file = path_fopen(path, "rb");
    if (!file) return nullptr;

    jpeg_decompress_struct decoder;
    decoder.mem = nullptr;  // what the error path's destroy looks at if creation itself fails
    ImageJpegError error;
    decoder.err = jpeg_std_error(&error.manager);
    error.manager.error_exit = image_jpeg_fail;
    error.manager.emit_message = image_jpeg_message;
    error.manager.output_message = image_jpeg_silent;
    Image* volatile image = nullptr;
    if (setjmp(error.back)) {
        jpeg_destroy_decompress(&decoder);
        image_free(image);
        fclose(file);
        return nullptr;
    }

    jpeg_create_decompress(&decoder);
    decoder.mem->max_memory_to_use = IMAGE_JPEG_WORK_MEMORY;
    jpeg_stdio_src(&decoder, file);
    jpeg_read_header(&decoder, TRUE);
    // Before the decoder sizes its buffers to the header's claim.
    if (!image_size_allowed(path, decoder.image_width, decoder.image_height))
        image_jpeg_fail((j_common_ptr)&decoder);
    decoder.out_color_space = JCS_RGB;
    jpeg_start_decompress(&decoder);
    if (decoder.output_components != 3) image_jpeg_fail((j_common_ptr)&decoder);
    JSAMPARRAY row = (*decoder.mem->alloc_sarray)((j_common_ptr)&decoder, JPOOL_IMAGE,
                                                  decoder.output_width * 3, 1);

    int width = (int)decoder.output_width, height = (int)decoder.output_height;
    image = flags ? image_new_mipmapped(width, height) : image_new(width, height);
    if (!image) image_jpeg_fail((j_common_ptr)&decoder);

    while (decoder.output_scanline < decoder.output_height) {
        uint32_t* out = image->pixels + (size_t)decoder.output_scanline * width;
        if (jpeg_read_scanlines(&decoder, row, 1) != 1) image_jpeg_fail((j_common_ptr)&decoder);
        const JSAMPLE* in = row[0];
        for (int x = 0; x < width; x++, in += 3)
            out[x] = 0xFF000000u | (uint32_t)in[0] << 16 | (uint32_t)in[1] << 8 | in[2];
    }

    jpeg_finish_decompress(&decoder);
    jpeg_destroy_decompress(&decoder);
    fclose(file);
    Image* result = image;
    if (flags && image_build_mips(result) != 0) printf("unable to build mipmaps for \"%s\"\n", path);
    return result;
}
