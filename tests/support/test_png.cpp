#include <cstdlib>
#include <string>

#include "gfx/image.h"
#include "support/test_support.h"

int test_save_png(const char* name, const uint32_t* pixels, int width, int height, int stride) {
    const char* dir = std::getenv("QUILLET_PNG_DIR");
    if (!dir) return 0;
    std::string path = std::string(dir) + "/" + name;
    return image_write_png(path.c_str(), pixels, width, height, stride);
}
