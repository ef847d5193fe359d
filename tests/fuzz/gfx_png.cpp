// libFuzzer target for the PNG loader: every input is written to a scratch file and loaded; the
// loader must return an image or null without crashing, leaking or reading out of bounds.
// `--write-seeds DIR` writes a small corpus of valid files of every colour type and exits.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "gfx/image.h"
#include "gfx/image_support.cpp"  // the tests' PNG writer, for the seeds

static char fuzz_png_path[64];

static void fuzz_png_write_seeds(const char* dir) {
    struct Seed { int type, depth, interlace; bool trns; };
    const Seed seeds[] = {{PNG_COLOR_TYPE_GRAY, 1, 0, false},       {PNG_COLOR_TYPE_GRAY, 4, 1, true},
                          {PNG_COLOR_TYPE_GRAY, 16, 0, false},      {PNG_COLOR_TYPE_GRAY_ALPHA, 8, 0, false},
                          {PNG_COLOR_TYPE_PALETTE, 2, 0, true},     {PNG_COLOR_TYPE_PALETTE, 8, 1, false},
                          {PNG_COLOR_TYPE_RGB, 8, 0, true},         {PNG_COLOR_TYPE_RGB, 16, 1, false},
                          {PNG_COLOR_TYPE_RGB_ALPHA, 8, 0, false},  {PNG_COLOR_TYPE_RGB_ALPHA, 16, 0, false}};
    int n = 0;
    for (const Seed& s : seeds) {
        TestPng png;
        png.width = 9 + n;
        png.height = 7;
        png.colour_type = s.type;
        png.depth = s.depth;
        png.interlace = s.interlace ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE;
        int spp = s.type == PNG_COLOR_TYPE_RGB_ALPHA ? 4 : s.type == PNG_COLOR_TYPE_RGB ? 3
                : s.type == PNG_COLOR_TYPE_GRAY_ALPHA ? 2 : 1;
        size_t row_bytes = ((size_t)png.width * spp * s.depth + 7) / 8;
        for (size_t i = 0; i < row_bytes * png.height; i++) png.rows.push_back((uint8_t)(i * 31 + n));
        if (s.type == PNG_COLOR_TYPE_PALETTE) {
            for (int i = 0; i < (1 << s.depth); i++) png.palette.push_back({(png_byte)(i * 9), (png_byte)i, 200});
            if (s.trns) png.trns_alpha = {0, 128};
        } else if (s.trns) {
            png.trns_colour = true;
            png.trns_value.gray = 1;
            png.trns_value.red = png.trns_value.green = png.trns_value.blue = 7;
        }
        std::string path = std::string(dir) + "/seed-" + std::to_string(n++) + ".png";
        if (!test_write_png(path, png)) exit(1);
    }
}

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    if (*argc >= 3 && strcmp((*argv)[1], "--write-seeds") == 0) {
        fuzz_png_write_seeds((*argv)[2]);
        exit(0);
    }
    image_report_failures = 0;
    // The scratch file lives in memory when it can: the loader is fed through a file per input.
    const char* dir = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    snprintf(fuzz_png_path, sizeof fuzz_png_path, "%s/quillet-fuzz-png-%d.png", dir, (int)getpid());
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FILE* f = fopen(fuzz_png_path, "wb");
    if (!f) return 0;
    if (size) fwrite(data, 1, size, f);
    fclose(f);
    // Odd-sized inputs also take the mip-mapped path.
    Image* image = image_load_png(fuzz_png_path, (uint32_t)(size & 1));
    image_free(image);
    return 0;
}
