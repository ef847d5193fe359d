// Text bitmaps over FreeType. Every call owns its library, face and coverage rows, so calls from the
// loading thread and the main thread never share anything.
#include "gfx/text.h"

#include <ft2build.h>
#include FT_FREETYPE_H

#include <dirent.h>
#include <strings.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

const char* const TEXT_FONT_ROOT = "/usr/share/fonts";
enum { TEXT_SEARCH_DEPTH = 8, TEXT_MAX_SIZE = 4096, TEXT_MAX_FILES = 3 };

// Windows face names and the installed faces that stand in for them, best first. Paths are below
// the font root; the base name is also searched for anywhere under it.
struct TextFace {
    const char* name;
    const char* files[TEXT_MAX_FILES];
};

const TextFace text_faces[] = {
    {"Arial", {"truetype/liberation2/LiberationSans-Regular.ttf",
               "truetype/liberation/LiberationSans-Regular.ttf", "truetype/dejavu/DejaVuSans.ttf"}},
    // No black weight is packaged; DejaVu's wide bold is the closest in width and heft.
    {"Arial Black", {"truetype/dejavu/DejaVuSans-Bold.ttf",
                     "truetype/liberation2/LiberationSans-Bold.ttf",
                     "truetype/liberation/LiberationSans-Bold.ttf"}},
    {"Times New Roman", {"truetype/liberation2/LiberationSerif-Regular.ttf",
                         "truetype/liberation/LiberationSerif-Regular.ttf",
                         "truetype/dejavu/DejaVuSerif.ttf"}},
    {"Courier New", {"truetype/liberation2/LiberationMono-Regular.ttf",
                     "truetype/liberation/LiberationMono-Regular.ttf",
                     "truetype/dejavu/DejaVuSansMono.ttf"}},
    {"Verdana", {"truetype/dejavu/DejaVuSans.ttf", nullptr, nullptr}},
    {"Tahoma", {"truetype/dejavu/DejaVuSans.ttf", nullptr, nullptr}},
};

// What an unknown face name gets, like the system's substitute for a face that is not installed.
const char* const text_default_files[] = {"truetype/liberation2/LiberationSans-Regular.ttf",
                                          "truetype/liberation/LiberationSans-Regular.ttf",
                                          "truetype/dejavu/DejaVuSans.ttf"};

// Windows-1252 code points for bytes 0x80..0x9F (0 = unassigned); the rest equal Latin-1.
const uint16_t text_cp1252_high[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

bool text_is_file(const char* path) {
    struct stat st;
    return stat(path, &st) == 0 && S_ISREG(st.st_mode);
}

bool text_join(char* out, size_t out_size, const char* dir, const char* name) {
    int n = snprintf(out, out_size, "%s/%s", dir, name);
    return n > 0 && (size_t)n < out_size;
}

bool text_has_font_suffix(const char* name) {
    size_t n = strlen(name);
    return n > 4 && (strcasecmp(name + n - 4, ".ttf") == 0 || strcasecmp(name + n - 4, ".otf") == 0);
}

// Depth-first search below dir. With base set: the first file of that base name. Without: the
// lexicographically smallest font path, so the choice does not depend on directory order.
// Symbolic links to folders are not followed (no loops); the depth bounds the walk as well.
bool text_search(const char* dir, const char* base, int depth, char* out, size_t out_size) {
    if (depth > TEXT_SEARCH_DEPTH) return false;
    DIR* d = opendir(dir);
    if (!d) return false;
    bool found = false;
    char path[4096];
    while (struct dirent* e = readdir(d)) {
        if (e->d_name[0] == '.') continue;
        if (!text_join(path, sizeof path, dir, e->d_name)) continue;
        struct stat st;
        if (lstat(path, &st) != 0) continue;
        if (S_ISDIR(st.st_mode)) {
            char sub[4096];
            if (text_search(path, base, depth + 1, sub, sizeof sub)) {
                if (base) {
                    found = strlen(sub) < out_size;
                    if (found) strcpy(out, sub);
                    break;
                }
                if ((!found || strcmp(sub, out) < 0) && strlen(sub) < out_size) {
                    strcpy(out, sub);
                    found = true;
                }
            }
            continue;
        }
        bool match = base ? strcmp(e->d_name, base) == 0 : text_has_font_suffix(e->d_name);
        if (!match || !text_is_file(path) || strlen(path) >= out_size) continue;
        if (base) {
            strcpy(out, path);
            found = true;
            break;
        }
        if (!found || strcmp(path, out) < 0) {
            strcpy(out, path);
            found = true;
        }
    }
    closedir(d);
    return found;
}

// The known place first, then the same file anywhere under the root.
bool text_find_file(const char* root, const char* relative, char* out, size_t out_size) {
    if (text_join(out, out_size, root, relative) && text_is_file(out)) return true;
    const char* slash = strrchr(relative, '/');
    return text_search(root, slash ? slash + 1 : relative, 0, out, out_size);
}

bool text_find_any(const char* root, const char* const* files, int count, char* out,
                   size_t out_size) {
    for (int i = 0; i < count; ++i)
        if (files[i] && text_find_file(root, files[i], out, out_size)) return true;
    return false;
}

// Over-compositing of glyph coverage, so overlapping glyph edges do not wrap or drop.
inline uint8_t text_cover_over(uint8_t dst, uint32_t src) {
    return (uint8_t)(dst + src * (255u - dst) / 255u);
}

// Coverage rows kept: large rows first_row .. first_row + rows - 1, each 4 * width samples.
struct TextCoverage {
    uint8_t* samples;
    int64_t width;
    int64_t first_row;
    int64_t rows;
};

void text_blend_glyph(TextCoverage* cov, const FT_Bitmap* bm, int64_t left, int64_t top) {
    for (unsigned r = 0; r < bm->rows; ++r) {
        int64_t row = top + r - cov->first_row;
        if (row < 0 || row >= cov->rows) continue;
        const uint8_t* src = bm->pitch >= 0 ? bm->buffer + (size_t)r * bm->pitch
                                            : bm->buffer + (size_t)(bm->rows - 1 - r) * -bm->pitch;
        uint8_t* dst = cov->samples + row * cov->width;
        for (unsigned c = 0; c < bm->width; ++c) {
            int64_t col = left + c;
            if (col < 0 || col >= cov->width) continue;
            uint32_t v;
            if (bm->pixel_mode == FT_PIXEL_MODE_MONO)
                v = (src[c >> 3] >> (7 - (c & 7)) & 1) ? 255u : 0u;
            else if (bm->pixel_mode == FT_PIXEL_MODE_GRAY)
                v = bm->num_grays > 1 ? src[c] * 255u / (bm->num_grays - 1) : src[c];
            else
                continue;
            dst[col] = text_cover_over(dst[col], v);
        }
    }
}

FT_UInt text_glyph_index(FT_Face face, bool symbol_map, unsigned char byte) {
    if (symbol_map) {
        // Symbol fonts put their glyphs at 0xF000 + code; some use the plain code.
        FT_UInt index = FT_Get_Char_Index(face, 0xF000u | byte);
        return index ? index : FT_Get_Char_Index(face, byte);
    }
    FT_ULong code = byte;
    if (byte >= 0x80 && byte < 0xA0) code = text_cp1252_high[byte - 0x80];
    return code ? FT_Get_Char_Index(face, code) : 0;
}

void text_clear(Image* image) {
    memset(image->pixels, 0, (size_t)image->width * image->height * sizeof(uint32_t));
}

// Lays the text into the coverage rows; false when the face cannot be opened or sized.
bool text_rasterise(const char* path, int symbol_charset, int size, int64_t x, int64_t y,
                    const char* text, TextCoverage* cov) {
    FT_Library library;
    if (FT_Init_FreeType(&library) != 0) return false;
    FT_Face face;
    if (FT_New_Face(library, path, 0, &face) != 0) {
        FT_Done_FreeType(library);
        return false;
    }
    bool ok = FT_Set_Pixel_Sizes(face, 0, (FT_UInt)(4 * size)) == 0;
    bool symbol_map = false;
    if (ok && symbol_charset) {
        for (int i = 0; i < face->num_charmaps; ++i)
            if (face->charmaps[i]->encoding == FT_ENCODING_MS_SYMBOL) {
                symbol_map = FT_Set_Charmap(face, face->charmaps[i]) == 0;
                break;
            }
    }
    if (ok && !symbol_map) FT_Select_Charmap(face, FT_ENCODING_UNICODE);
    // Pen in 26.6 units of large-bitmap pixels; glyphs are placed on whole pixels.
    int64_t pen = 4 * x * 64;
    int64_t baseline = 4 * y;
    for (const unsigned char* p = (const unsigned char*)text; ok && *p; ++p) {
        FT_UInt index = text_glyph_index(face, symbol_map, *p);
        if (FT_Load_Glyph(face, index, FT_LOAD_DEFAULT) != 0) continue;
        FT_GlyphSlot slot = face->glyph;
        if (slot->format != FT_GLYPH_FORMAT_BITMAP && FT_Render_Glyph(slot, FT_RENDER_MODE_NORMAL) != 0)
            continue;
        int64_t origin = (pen + 32) >> 6;
        text_blend_glyph(cov, &slot->bitmap, origin + slot->bitmap_left, baseline - slot->bitmap_top);
        pen += slot->advance.x;
    }
    FT_Done_Face(face);
    FT_Done_FreeType(library);
    return ok;
}

}  // namespace

int text_charset(const char* font_name) {
    if (!font_name) return TEXT_CHARSET_ANSI;
    if (strcmp(font_name, "Webdings") == 0 || strcmp(font_name, "Wingdings") == 0 ||
        strcmp(font_name, "Symbol") == 0)
        return TEXT_CHARSET_SYMBOL;
    return TEXT_CHARSET_ANSI;
}

int text_find_font(const char* font_root, const char* font_name, char* out, size_t out_size) {
    if (!font_root || !out || out_size == 0) return 1;
    if (font_name) {
        for (const TextFace& face : text_faces)
            if (strcasecmp(face.name, font_name) == 0) {
                if (text_find_any(font_root, face.files, TEXT_MAX_FILES, out, out_size)) return 0;
                break;
            }
    }
    if (text_find_any(font_root, text_default_files, 3, out, out_size)) return 0;
    return text_search(font_root, nullptr, 0, out, out_size) ? 0 : 1;
}

int text_render_in(const char* font_root, Image* image, const char* font_name, int size, int x,
                   int y, uint32_t colour, const char* text) {
    if (!image || !image->pixels || image->width <= 0 || image->height <= 0) {
        printf("text_render: no image to draw into\n");
        return 1;
    }
    text_clear(image);
    if (size < 1 || size > TEXT_MAX_SIZE) {
        printf("text_render: size %d out of range\n", size);
        return 1;
    }
    // Face names are at most 31 characters, as the face-name field holds.
    char name[TEXT_FONT_NAME_MAX + 1] = "";
    if (font_name) snprintf(name, sizeof name, "%s", font_name);
    char path[4096];
    if (text_find_font(font_root, name, path, sizeof path) != 0) {
        printf("text_render: no font for \"%s\" under %s\n", name, font_root ? font_root : "(none)");
        return 1;
    }
    if (!text || !*text) return 0;

    // Only large rows 3 .. height + 2 reach the image, so only those are kept.
    TextCoverage cov;
    cov.width = 4 * (int64_t)image->width;
    cov.first_row = 3;
    cov.rows = image->height;
    cov.samples = (uint8_t*)calloc((size_t)(cov.width * cov.rows), 1);
    if (!cov.samples) {
        printf("text_render: no memory for a %d x %d text bitmap\n", image->width, image->height);
        return 1;
    }
    if (!text_rasterise(path, text_charset(name), size, x, y, text, &cov)) {
        free(cov.samples);
        printf("text_render: cannot read font %s\n", path);
        return 1;
    }

    uint32_t a = colour >> 24, r = colour >> 16 & 0xFF, g = colour >> 8 & 0xFF, b = colour & 0xFF;
    for (int i = 0; i < image->height; ++i) {
        const uint8_t* row = cov.samples + (int64_t)i * cov.width;
        uint32_t* out = image->pixels + (size_t)i * image->width;
        for (int j = 0; j < image->width; ++j) {
            const uint8_t* s = row + 4 * j;
            uint32_t c = ((uint32_t)s[0] + s[1] + s[2] + s[3]) >> 2 & 0xFF;
            out[j] = (a * c / 255) << 24 | (r * c / 255) << 16 | (g * c / 255) << 8 | (b * c / 255);
        }
    }
    free(cov.samples);
    return 0;
}

int text_render(Image* image, const char* font_name, int size, int x, int y, uint32_t colour,
                const char* text) {
    return text_render_in(TEXT_FONT_ROOT, image, font_name, size, x, y, colour, text);
}
