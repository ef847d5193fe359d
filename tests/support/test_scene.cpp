#include <unistd.h>

#include <cstdlib>

#include "gfx/display.h"
#include "gfx/image.h"
#include "procedural/noise.h"
#include "support/test_support.h"

bool test_enter_data(void) {
    const char* dir = std::getenv("QUILLET_TEST_DATA_DIR");
    if (!dir) dir = QUILLET_BINARY_DIR;
    return chdir(dir) == 0 && access("data", F_OK) == 0;
}

void SceneData::SetUp() {
    if (!test_enter_data()) GTEST_SKIP() << "no data set";
    ASSERT_EQ(display_open_offscreen(1), 0);
    opened_ = true;
    noise_init(0);
    ASSERT_EQ(textures_init(), 0);
}

void SceneData::TearDown() {
    if (!opened_) return;
    textures_free();
    display_close();
    opened_ = false;
}

int SceneData::covered(uint32_t background) {
    int n = 0;
    for (int i = 0; i < SCREEN_WIDTH * SCREEN_HEIGHT; i++) n += framebuffer.pixels[i] != background;
    return n;
}
