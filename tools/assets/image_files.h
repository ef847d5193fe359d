// Writing canvases as PNG (libpng) and JPEG (libjpeg), the way the show's loaders read them back.
#pragma once
#include <cstdint>
#include <vector>

#include "assets/canvas.h"

enum { JPEG_QUALITY = 90 };

// Canvas colour quantised to bytes: 3 bytes per pixel (opaque, alpha ignored) or 4 bytes per pixel
// with straight alpha, where fully transparent pixels carry colour 0.
void canvas_to_bytes(const Canvas* canvas, int channels, std::vector<uint8_t>* out);

// Both return 0 on success, 1 with a one-line message on stderr.
int png_write(const char* path, int width, int height, int channels, const uint8_t* bytes);
int jpeg_write(const char* path, int width, int height, const uint8_t* rgb, int quality);
