#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "gfx/display.h"

namespace {

TEST(Display, OffscreenClearFillsEveryPixelAndFrameBeginResetsDepth) {
    ASSERT_EQ(display_open_offscreen(1), 0);
    ASSERT_NE(framebuffer.pixels, nullptr);
    EXPECT_EQ(framebuffer.pitch, SCREEN_WIDTH * 4);
    frame_clear(0xFF7F7F7F);
    for (int i = 0; i < SCREEN_WIDTH * SCREEN_HEIGHT; i++) ASSERT_EQ(framebuffer.pixels[i], 0xFF7F7F7Fu) << i;
    ASSERT_NE(depth_buffer, nullptr);
    ASSERT_NE(depth_buffer2, nullptr);
    depth_mark_drawn(depth_buffer);
    depth_buffer->values[0] = 5;
    depth_mark_drawn(depth_buffer2);
    depth_buffer2->values[SCREEN_WIDTH * SCREEN_HEIGHT - 1] = -3;
    frame_begin();
    EXPECT_EQ(depth_buffer->values[0], 0x7FFFFFFF);
    EXPECT_EQ(depth_buffer2->values[SCREEN_WIDTH * SCREEN_HEIGHT - 1], 0x7FFFFFFF);
    // A fill with anything else counts as drawing; marking a buffer that is not the display's is harmless.
    depth_fill(depth_buffer2, 9);
    frame_begin();
    EXPECT_EQ(depth_buffer2->values[77], 0x7FFFFFFF);
    depth_mark_drawn(nullptr);
    frame_present();
    for (int i = 0; i < 256; i++) ASSERT_EQ(grey_ramp[i], (uint32_t)i * 0x01010101u);
    display_close();
    EXPECT_EQ(framebuffer.pixels, nullptr);
    EXPECT_EQ(depth_buffer, nullptr);
    display_close();  // closing twice is harmless
}

TEST(Display, WithoutDepthOnlyTheFramebufferExists) {
    ASSERT_EQ(display_open_offscreen(0), 0);
    EXPECT_EQ(depth_buffer, nullptr);
    frame_begin();  // must not touch missing buffers
    display_close();
}

TEST(DepthBuffer, NewIsEmptyFillWritesEveryEntryNullIsAccepted) {
    DepthBuffer* d = depth_new(16, 3);
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->values, (int32_t*)(d + 1));
    for (int i = 0; i < 48; i++) ASSERT_EQ(d->values[i], 0x7FFFFFFF);
    depth_fill(d, 0x80000000u);
    for (int i = 0; i < 48; i++) ASSERT_EQ(d->values[i], INT32_MIN);
    depth_fill(nullptr, 0);
    depth_free(d);
    depth_free(nullptr);
    EXPECT_EQ(depth_new(0, 10), nullptr);
}

// Runs display_open with its standard output captured; the question is answered "no" because
// standard input is not a terminal and no desktop is reachable.
std::string open_window_capturing_output(int* result) {
    fflush(stdout);
    char path[] = "/tmp/quillet-display-XXXXXX";
    int fd = mkstemp(path);
    int saved_out = dup(1), saved_in = dup(0);
    int null_in = open("/dev/null", 0);
    dup2(fd, 1);
    dup2(null_in, 0);
    *result = display_open(1);
    fflush(stdout);
    dup2(saved_out, 1);
    dup2(saved_in, 0);
    close(saved_out); close(saved_in); close(null_in);
    std::string text;
    FILE* f = fopen(path, "r");
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, f)) > 0) text.append(buffer, n);
    fclose(f);
    close(fd);
    unlink(path);
    return text;
}

TEST(DisplayWindow, PrintsTheRenderingInformationBlock) {
    setenv("SDL_VIDEODRIVER", "dummy", 1);
    unsetenv("DISPLAY");
    unsetenv("WAYLAND_DISPLAY");
    int result = -1;
    std::string text = open_window_capturing_output(&result);
    ASSERT_EQ(result, 0);
    const char* lines[] = {"rendering info:\n", "\thardware surface ", "\twindow manager   ",
                           "\thardware blit    ", "\thardware blit cc ", "\thardware blit a  ",
                           "\tsoftware blit    ", "\tsoftware blit cc ", "\tsoftware blit a  ",
                           "\thardware fill    ", "\tvideo memory     ", "\tpixel format:\n",
                           "\t\tbits per pixel  32\n", "\t\tbytes per pixel 4\n", "\t\tshift a:",
                           "\t\tmask  a:", "\t\tloss  a:"};
    size_t at = 0;
    for (const char* line : lines) {
        size_t found = text.find(line, at);
        ASSERT_NE(found, std::string::npos) << "missing: " << line << "\nin:\n" << text;
        at = found + 1;
    }
    EXPECT_NE(text.find("\t\tmask  a:00000000 r:00FF0000 g:0000FF00 b:000000FF\n"), std::string::npos);
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 17);
    ASSERT_NE(framebuffer.pixels, nullptr);
    ASSERT_NE(depth_buffer2, nullptr);
    frame_begin();
    frame_clear(0xFF7F7F7F);
    frame_present();
    display_close();
}

TEST(DisplayWindow, FailsWithoutAVideoDriver) {
    setenv("SDL_VIDEODRIVER", "no-such-driver", 1);
    int result = -1;
    open_window_capturing_output(&result);
    EXPECT_EQ(result, 1);
    EXPECT_EQ(framebuffer.pixels, nullptr);
    setenv("SDL_VIDEODRIVER", "dummy", 1);
}

}  // namespace
