#include "assets/text.h"

#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_OUTLINE_H

#include <cmath>
#include <cstdio>

static const char* const font_files[FONT_COUNT] = {
    "/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf",
    "/usr/share/fonts/truetype/liberation2/LiberationSans-Regular.ttf",
    "/usr/share/fonts/truetype/liberation2/LiberationSans-Bold.ttf",
    "/usr/share/fonts/truetype/dejavu/DejaVuSansCondensed-Bold.ttf",
    "/usr/share/fonts/truetype/liberation2/LiberationSerif-Bold.ttf",
    "/usr/share/fonts/truetype/dejavu/DejaVuSansMono-Bold.ttf",
};

static FT_Library text_library;
static FT_Face text_faces[FONT_COUNT];

int text_init(void) {
    if (text_library) return 0;
    if (FT_Init_FreeType(&text_library)) {
        fprintf(stderr, "quillet-assets: FreeType cannot start\n");
        return 1;
    }
    for (int i = 0; i < FONT_COUNT; i++) {
        if (FT_New_Face(text_library, font_files[i], 0, &text_faces[i])) {
            fprintf(stderr, "quillet-assets: missing font %s (install fonts-dejavu-core and fonts-liberation2)\n",
                    font_files[i]);
            text_done();
            return 1;
        }
    }
    return 0;
}

void text_done(void) {
    for (int i = 0; i < FONT_COUNT; i++) {
        if (text_faces[i]) FT_Done_Face(text_faces[i]);
        text_faces[i] = nullptr;
    }
    if (text_library) FT_Done_FreeType(text_library);
    text_library = nullptr;
}

static FT_Face face_at(int font, float size) {
    FT_Face face = text_faces[font];
    // Sizes in 26.6 fixed point, so fractional sizes stay exact and repeatable.
    FT_Set_Char_Size(face, 0, (FT_F26Dot6)std::lround(size * 64.0f), 72, 72);
    return face;
}

float text_ascent(int font, float size) {
    FT_Face face = face_at(font, size);
    return face->size->metrics.ascender / 64.0f;
}

// Walks the string, calling draw for every rendered glyph with its pen position.
template <typename F>
static float text_walk(int font, float size, const char* text, float tracking, F draw) {
    FT_Face face = face_at(font, size);
    float pen = 0.0f;
    FT_UInt previous = 0;
    for (const unsigned char* p = (const unsigned char*)text; *p; p++) {
        FT_UInt index = FT_Get_Char_Index(face, *p);
        if (previous && index && FT_HAS_KERNING(face)) {
            FT_Vector k;
            if (!FT_Get_Kerning(face, previous, index, FT_KERNING_UNFITTED, &k)) pen += k.x / 64.0f;
        }
        if (FT_Load_Glyph(face, index, FT_LOAD_NO_HINTING)) continue;
        draw(face->glyph, pen);
        pen += face->glyph->advance.x / 64.0f + tracking;
        previous = index;
    }
    return *text ? pen - tracking : 0.0f;
}

float text_width(int font, float size, const char* text, float tracking) {
    return text_walk(font, size, text, tracking, [](FT_GlyphSlot, float) {});
}

void text_draw(Mask* mask, int font, float size, float x, float y, const char* text, float tracking) {
    text_walk(font, size, text, tracking, [&](FT_GlyphSlot slot, float pen) {
        // Place the outline at the exact sub-pixel position, then render it.
        FT_Outline_Translate(&slot->outline, (FT_Pos)std::lround((x + pen - std::floor(x + pen)) * 64.0f),
                             (FT_Pos)std::lround((std::floor(y) - y) * 64.0f));
        if (FT_Render_Glyph(slot, FT_RENDER_MODE_NORMAL)) return;
        const FT_Bitmap* bm = &slot->bitmap;
        int ox = (int)std::floor(x + pen) + slot->bitmap_left;
        int oy = (int)std::floor(y) - slot->bitmap_top;
        for (unsigned r = 0; r < bm->rows; r++) {
            int my = oy + (int)r;
            if (my < 0 || my >= mask->height) continue;
            for (unsigned c = 0; c < bm->width; c++) {
                int mx = ox + (int)c;
                if (mx < 0 || mx >= mask->width) continue;
                float v = bm->buffer[r * bm->pitch + c] / 255.0f;
                float* d = &mask->v[my * mask->width + mx];
                if (v > *d) *d = v;
            }
        }
    });
}
