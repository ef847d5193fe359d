// libFuzzer target for the JPEG loader: every input is written to a scratch file and loaded; the
// loader must return an image or null without crashing, leaking or reading out of bounds.
// `--write-seeds DIR` writes a small corpus of valid baseline, progressive and grey files and exits.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "gfx/image.h"
#include "gfx/image_support.cpp"  // the tests' JPEG writer, for the seeds

static char fuzz_jpeg_path[64];

static void fuzz_jpeg_write_seeds(const char* dir) {
    struct Seed { int width, height, components, quality; bool progressive; };
    const Seed seeds[] = {{16, 16, 3, 90, false}, {13, 7, 3, 50, true}, {8, 8, 1, 75, false},
                          {24, 9, 1, 30, true},   {32, 32, 3, 95, false}};
    int n = 0;
    for (const Seed& s : seeds) {
        std::vector<uint8_t> samples((size_t)s.width * s.height * s.components);
        for (size_t i = 0; i < samples.size(); i++) samples[i] = (uint8_t)(i * 13 + (i >> 4) * 7);
        std::string path = std::string(dir) + "/seed-" + std::to_string(n++) + ".jpg";
        if (!test_write_jpeg(path, s.width, s.height, s.components, samples, s.quality, s.progressive))
            exit(1);
    }
}

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    if (*argc >= 3 && strcmp((*argv)[1], "--write-seeds") == 0) {
        fuzz_jpeg_write_seeds((*argv)[2]);
        exit(0);
    }
    image_report_failures = 0;
    // A header claiming tens of megapixels costs the address sanitizer ~100 ms in shadow memory
    // alone, and mutations make such headers often: that held the run near 400 inputs a second.
    // Four megapixels still admit every texture size the show uses and a 2048 x 2048 mip chain (the
    // level count's cap), and the loader's size check itself runs on every header.
    image_pixel_budget = uint64_t(4) << 20;
    // The scratch file lives in memory when it can: the loader is fed through a file per input.
    const char* dir = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    snprintf(fuzz_jpeg_path, sizeof fuzz_jpeg_path, "%s/quillet-fuzz-jpeg-%d.jpg", dir, (int)getpid());
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FILE* f = fopen(fuzz_jpeg_path, "wb");
    if (!f) return 0;
    if (size) fwrite(data, 1, size, f);
    fclose(f);
    Image* image = image_load_jpeg(fuzz_jpeg_path, (uint32_t)(size & 1));
    image_free(image);
    return 0;
}
