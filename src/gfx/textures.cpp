// The texture table: every file of the texture list loaded once, in list order, before any scene
// initialises, plus the generated ramp in the slot after them. Slot numbers are the textures'
// names for the rest of the program.
#include <cmath>
#include <cstdio>
#include <cstring>

#include "gfx/image.h"

const TextureListRow texture_list[TEXTURE_LIST_COUNT] = {
    {"data\\pointlight.jpg", 0},
    {"data\\circle_particle.jpg", 0},
    {"data\\cube_shadow.jpg", 0},
    {"data\\corkscrew_gray.jpg", 0},
    {"data\\wood-284.jpg", 0},
    {"data\\punky_brewster.png", 0},
    {"data\\EnviGray.jpg", 0},
    {"data\\particle.png", 0},
    {"data\\invenv.jpg", 0},
    {"data\\metal.jpg", 0},
    {"data\\bumpmap.jpg", 0},
    {"data\\metal_gloss.jpg", 0},
    {"data\\scanlines.png", 0},
    {"data\\grain.png", 0},
    {"data\\bump_bg.jpg", 0},
    {"data\\cube_bg.jpg", 0},
    {"data\\meta_bg.jpg", 0},
    {"data\\shadows_bg.jpg", 0},
    {"data\\springs_bg.jpg", 0},
    {"data\\filmstrip.jpg", 0},
    {"data\\dancing.png", 0},
    {"data\\swim_for_your_lives.png", 0},
    {"data\\were_comming_ashore.png", 0},
    {"data\\velmorian.png", 0},
    {"data\\quillet.png", 0},
    {"data\\wdan-tv-1.png", 0},
    {"data\\wdan-tv-2.png", 0},
    {"data\\wdan-tv-3.png", 0},
    {"data\\bird-left.png", 0},
    {"data\\bird-right.png", 0},
    {"data\\skeksis_left.png", 0},
    {"data\\skeksis-right.png", 0},
    {"data\\ribbon.png", 0},
    {"data\\Smoke.png", 0},
    {"data\\music-brask.png", 0},
    {"data\\graphics-tolvan.png", 0},
    {"data\\code-merrit.png", 0},
    {"data\\end_cred_1.png", 0},
    {"data\\end_cred_2.png", 0},
};

TextureTable texture_table;

Image* texture_load_file(const char* name, uint32_t flags) {
    if (strstr(name, ".png")) return image_load_png(name, flags);
    if (strstr(name, ".jpg")) return image_load_jpeg(name, flags);
    return nullptr;
}

Image* texture_make_ramp(void) {
    Image* ramp = image_new(256, 256);
    if (!ramp) return nullptr;
    for (int y = 0; y < 256; y++) {
        for (int x = 0; x < 256; x++) {
            float t = (float)((double)(float)x / 255.0);
            // The sine is kept as a float: at x = 255 it rounds to exactly 1 and red reaches 254.
            float s = (float)sin(t * 3.1415927 - 1.5707964);
            uint32_t r = (uint32_t)(int)(s * 127.0f + 127.0f);
            ramp->pixels[y * 256 + x] = r << 16 | (uint32_t)y << 8;
        }
    }
    return ramp;
}

int textures_load_list(const TextureListRow* rows, int count) {
    texture_table.texture_count = 0;
    if (count < 0 || count > TEXTURE_SLOTS - 1) return 1;
    for (int i = 0; i < count; i++) {
        Image* image = texture_load_file(rows[i].name, rows[i].flags);
        texture_table.textures[i] = image;
        if (!image) {
            // The loaders stay silent about missing and damaged files; the user needs the name.
            fprintf(stderr, "texture: %s: missing or not a readable picture\n", rows[i].name);
            textures_free();
            return 1;
        }
        if (rows[i].flags & TEXTURE_SLOPE_MAP) {
            Image* slope = image_slope_map(image);
            if (slope) {
                image_free(image);
                texture_table.textures[i] = slope;
            }
        }
        texture_table.texture_count++;
    }
    Image* ramp = texture_make_ramp();
    texture_table.textures[texture_table.texture_count] = ramp;
    if (!ramp) {
        textures_free();
        return 1;
    }
    texture_table.texture_count++;
    return 0;
}

int textures_init(void) { return textures_load_list(texture_list, TEXTURE_LIST_COUNT); }

void textures_free(void) {
    for (int i = 0; i < texture_table.texture_count; i++) {
        image_free(texture_table.textures[i]);
        texture_table.textures[i] = nullptr;
    }
}

// Out-of-range indices give null like an empty slot rather than reading past the table.
Texture* texture_get(int index) {
    return index >= 0 && index < TEXTURE_SLOTS ? texture_table.textures[index] : nullptr;
}
