// Text bitmaps: one line of text drawn with an installed font into an existing Image.
//
// The text is rasterised (FreeType) into a coverage bitmap four times the image's size in both
// directions, with the baseline's left end at (4x, 4y). Each image pixel (j, i) then takes the mean
// of the four samples of large row i + 3, columns 4j..4j+3: a quarter of the rendered width at the
// full rendered height, so letters come out four times taller than wide (the title and letter
// images are laid out for that look). A baseline at image row y lands on image row 4y - 3.
// Pixels become colour * coverage / 255 per byte (premultiplied alpha); every pixel is replaced.
//
// Font names are Windows face names ("Arial", "Arial Black", ...) mapped to metric-compatible or
// similar faces under /usr/share/fonts; an unknown name falls back to a default sans face, then to
// any font found there. "Webdings", "Wingdings" and "Symbol" (exact case) select the font's symbol
// character map when it has one; other text is read as Windows-1252.
//
// No shared mutable state: every call opens its own FreeType library and face and frees them, so
// the loading thread and the main thread may render at the same time.
#pragma once
#include <cstddef>
#include <cstdint>

#include "gfx/image.h"

enum { TEXT_CHARSET_ANSI = 0, TEXT_CHARSET_SYMBOL = 2, TEXT_FONT_NAME_MAX = 31 };

// size: character (em) height in image pixels; (x, y): left end of the baseline in image pixels.
// 0 on success. 1 (with one line on stdout, the image cleared to 0) for a null image, a size
// outside 1..4096, no usable font file, or no memory.
int text_render(Image* image, const char* font_name, int size, int x, int y, uint32_t colour,
                const char* text);

// As text_render, looking for fonts under font_root instead of /usr/share/fonts.
int text_render_in(const char* font_root, Image* image, const char* font_name, int size, int x,
                   int y, uint32_t colour, const char* text);

// The font file for a face name under font_root: the known files first, then a search of the
// folder tree for them, then the default faces, then any .ttf/.otf. 0 and the path in out, or 1.
int text_find_font(const char* font_root, const char* font_name, char* out, size_t out_size);

int text_charset(const char* font_name);  // TEXT_CHARSET_SYMBOL or TEXT_CHARSET_ANSI
