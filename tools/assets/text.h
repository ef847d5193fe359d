// Text for the pictures, rendered with FreeType from the fonts the project installs (Debian
// fonts-dejavu-core and fonts-liberation2); never a font found on the system by name.
#pragma once

#include "assets/canvas.h"

enum FontId {
    FONT_HEAVY,      // DejaVu Sans Bold: titles and logos
    FONT_SANS,       // Liberation Sans
    FONT_SANS_BOLD,  // Liberation Sans Bold
    FONT_CONDENSED,  // DejaVu Sans Condensed Bold: credits
    FONT_SERIF,      // Liberation Serif Bold: the television's call letters
    FONT_MONO,       // DejaVu Sans Mono Bold: film-cel numbers
    FONT_COUNT
};

// Loads the fonts; returns 0, or 1 with a one-line message naming the missing file.
int text_init(void);
void text_done(void);

// Width in pixels of the string set at the given pixel size, with extra tracking between letters.
float text_width(int font, float size, const char* text, float tracking);
// The font's ascent (above the baseline) at the given pixel size.
float text_ascent(int font, float size);
// Renders the string into the mask with its left end at x and its baseline at y; coverage is
// combined with what the mask holds by taking the maximum.
void text_draw(Mask* mask, int font, float size, float x, float y, const char* text, float tracking);
