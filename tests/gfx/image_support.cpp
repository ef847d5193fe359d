#include "image_support.h"

#include <jpeglib.h>
#include <png.h>
#include <stdlib.h>

#include <cstdio>
#include <string>
#include <vector>

std::string test_scratch_path(const char* name) {
    static std::string folder;
    if (folder.empty()) {
        char templ[] = "/tmp/quillet-images-XXXXXX";
        if (!mkdtemp(templ)) abort();
        folder = templ;
    }
    return folder + "/" + name;
}

void test_write_bytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    FILE* f = fopen(path.c_str(), "wb");
    if (!f) abort();
    if (!bytes.empty()) fwrite(bytes.data(), 1, bytes.size(), f);
    fclose(f);
}

std::vector<uint8_t> test_read_bytes(const std::string& path) {
    std::vector<uint8_t> bytes;
    FILE* f = fopen(path.c_str(), "rb");
    if (!f) return bytes;
    int c;
    while ((c = fgetc(f)) != EOF) bytes.push_back((uint8_t)c);
    fclose(f);
    return bytes;
}

bool test_write_png(const std::string& path, const TestPng& spec) {
    FILE* f = fopen(path.c_str(), "wb");
    if (!f) return false;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        fclose(f);
        return false;
    }
    png_init_io(png, f);
    png_set_IHDR(png, info, spec.width, spec.height, spec.depth, spec.colour_type, spec.interlace,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (!spec.palette.empty())
        png_set_PLTE(png, info, spec.palette.data(), (int)spec.palette.size());
    if (!spec.trns_alpha.empty())
        png_set_tRNS(png, info, spec.trns_alpha.data(), (int)spec.trns_alpha.size(), nullptr);
    if (spec.trns_colour) png_set_tRNS(png, info, nullptr, 0, &spec.trns_value);
    png_write_info(png, info);
    size_t row_bytes = spec.rows.size() / spec.height;
    std::vector<png_bytep> pointers(spec.height);
    for (int y = 0; y < spec.height; y++) pointers[y] = (png_bytep)spec.rows.data() + y * row_bytes;
    png_write_image(png, pointers.data());
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    fclose(f);
    return true;
}

bool test_write_jpeg(const std::string& path, int width, int height, int components,
                     const std::vector<uint8_t>& samples, int quality, bool progressive) {
    FILE* f = fopen(path.c_str(), "wb");
    if (!f) return false;
    jpeg_compress_struct c;
    jpeg_error_mgr err;
    c.err = jpeg_std_error(&err);
    jpeg_create_compress(&c);
    jpeg_stdio_dest(&c, f);
    c.image_width = (JDIMENSION)width;
    c.image_height = (JDIMENSION)height;
    c.input_components = components;
    c.in_color_space = components == 1 ? JCS_GRAYSCALE : JCS_RGB;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, quality, TRUE);
    if (progressive) jpeg_simple_progression(&c);
    jpeg_start_compress(&c, TRUE);
    while (c.next_scanline < c.image_height) {
        JSAMPROW row = (JSAMPROW)samples.data() + (size_t)c.next_scanline * width * components;
        jpeg_write_scanlines(&c, &row, 1);
    }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    fclose(f);
    return true;
}
