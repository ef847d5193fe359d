// Test helpers: a scratch folder and writers of PNG and JPEG files made with the real libraries.
#pragma once
#include <png.h>

#include <cstdint>
#include <string>
#include <vector>

std::string test_scratch_path(const char* name);  // a path in this process's scratch folder
void test_write_bytes(const std::string& path, const std::vector<uint8_t>& bytes);
std::vector<uint8_t> test_read_bytes(const std::string& path);

struct TestPng {
    int width = 1, height = 1, colour_type = PNG_COLOR_TYPE_RGB, depth = 8;
    int interlace = PNG_INTERLACE_NONE;
    std::vector<uint8_t> rows;            // height rows of packed samples, PNG byte order
    std::vector<png_color> palette;
    std::vector<png_byte> trns_alpha;     // palette transparency
    bool trns_colour = false;             // grey or RGB transparency colour
    png_color_16 trns_value{};
};
bool test_write_png(const std::string& path, const TestPng& png);  // true on success

// components 1 (grey) or 3 (RGB), rows of packed 8-bit samples.
bool test_write_jpeg(const std::string& path, int width, int height, int components,
                     const std::vector<uint8_t>& samples, int quality, bool progressive);
