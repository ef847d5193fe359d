// The 39 textures of the data set: their files, sizes and kinds, and the art that paints them.
#pragma once

#include "assets/canvas.h"

enum TextureFlags {
    TEXTURE_JPEG = 1,      // written as JPEG (otherwise PNG)
    TEXTURE_ALPHA = 2,     // PNG with an alpha channel (straight, colour 0 where transparent)
    TEXTURE_RASTER = 4,    // sampled by the rasterizer: power-of-two sides
    TEXTURE_AT_MOST = 8,   // width and height are upper bounds; the art picks the size
    TEXTURE_TILES = 16,    // wraps seamlessly at its edges
};

struct TextureSpec {
    const char* file;   // name under data/, spelled as the show asks for it
    int width;
    int height;
    int flags;
    Canvas* (*paint)(const TextureSpec* spec);
};

enum { TEXTURE_COUNT = 39 };
extern const TextureSpec texture_specs[TEXTURE_COUNT];

// Paints the texture; the caller frees the canvas. Null when out of memory (or fonts are missing).
Canvas* texture_paint(int index);
// Writes the painted canvas as the texture's file under dir; 0, or 1 with a message.
int texture_save(int index, const Canvas* canvas, const char* dir);

// Art that lives in the sprite and lettering file (textures_sprites.cpp).
Canvas* paint_titles(const TextureSpec* spec);
Canvas* paint_logo(const TextureSpec* spec);
Canvas* paint_tv(const TextureSpec* spec);
Canvas* paint_bird(const TextureSpec* spec);
Canvas* paint_creature(const TextureSpec* spec);
Canvas* paint_dancers(const TextureSpec* spec);
Canvas* paint_credit(const TextureSpec* spec);
Canvas* paint_end_credit(const TextureSpec* spec);
Canvas* paint_filmstrip(const TextureSpec* spec);

// Fills every pixel of the canvas from colour_at(x, y) (pixel-centre coordinates are x + 0.5).
template <typename F>
void canvas_shade(Canvas* canvas, F colour_at) {
    for (int y = 0; y < canvas->height; y++)
        for (int x = 0; x < canvas->width; x++) canvas_set(canvas, x, y, colour_at(x, y));
}
