#include "runtime/show.h"

#include <cstdlib>

#include "gfx/blit.h"
#include "gfx/display.h"
#include "gfx/draw_queue.h"
#include "gfx/image.h"
#include "procedural/noise.h"
#include "runtime/clock.h"
#include "scenes/scenes.h"

enum { SCANLINES_OPACITY = 196 };

// The scan-line overlay drawn over every frame. A picture whose rows are each one colour (the
// data set's) is kept as those colours, so that the overlay blends without reading the picture.
static const Image* scanlines_image;
static uint32_t* scanline_colours;  // null: the picture is blitted as it is

static void scanlines_free(void) {
    free(scanline_colours);
    scanline_colours = nullptr;
    scanlines_image = nullptr;
}

static int scanlines_init(void) {
    scanlines_free();
    const Image* image = texture_get(TEXTURE_SCANLINES);
    if (!image) return 0;
    // Without the memory the overlay is drawn from the picture: slower, the same bytes.
    uint32_t* colours = (uint32_t*)malloc((size_t)image->height * sizeof(uint32_t));
    if (colours && image_row_colours(image, colours)) {
        scanline_colours = colours;
        scanlines_image = image;
    } else {
        free(colours);
    }
    return 0;
}

static void scanlines_draw(void) {
    const Image* image = texture_get(TEXTURE_SCANLINES);
    if (scanline_colours && image && image == scanlines_image)
        image_blit_rows(scanline_colours, image->width, image->height, 0, 0, SCANLINES_OPACITY, 0);
    else
        image_blit(image, 0, 0, SCANLINES_OPACITY, 0);
}

const PartEntry part_table[PART_COUNT] = {
    {textures_init, textures_free},
    {scene_cube_init, scene_cube_free},
    {scene_tree_init, scene_tree_free},
    {scene_springs_init, scene_springs_free},
    {scene_shadows_init, scene_shadows_free},
    {scene_carved_box_init, scene_carved_box_free},
    {scene_poles_init, scene_poles_free},
    {scene_ribbon_init, scene_ribbon_free},
    {scene_intro_tv_init, scene_intro_tv_free},
    {layer_film_strip_init, layer_film_strip_free},
    {layer_sprites_init, layer_sprites_free},
    {layer_film_damage_init, layer_film_damage_free},
    {layer_backgrounds_init, layer_backgrounds_free},
    {scene_sphere_grid_init, scene_sphere_grid_free},
    {layer_pixelate_init, layer_pixelate_free},
    {scanlines_init, scanlines_free},
};

// Row order is paint order: a later row draws over an earlier one.
const TimelineEntry timeline[TIMELINE_COUNT] = {
    {layer_backgrounds_render, 0, 434},
    {layer_film_strip_render, 0, 32},
    {layer_dancer_render, 16, 32},
    {scene_intro_tv_render, 0, 32},
    {scene_sphere_grid_render, 0, 32},
    {scene_cube_render, 32, 96},
    {scene_shadows_render, 96, 160},
    {scene_tree_render, 160, 192},
    {scene_carved_box_render, 192, 256},
    {layer_film_strip_render, 188, 212},
    {layer_dancer_render, 264, 320},
    {scene_springs_render, 256, 320},
    {scene_ribbon_render, 320, 385},
    {scene_poles_render, 385, 434},
    {layer_film_strip_render, 416, 434},
    {layer_sprites_render, 0, 434},
    {layer_pixelate_render, 0, 434},
    {layer_film_damage_render, 0, 434},
};

int parts_init_table(const PartEntry* table, int count) {
    for (int i = 0; i < count; i++) {
        if (table[i].init() != 0) {
            parts_free_table(table, i);
            return 1;
        }
    }
    return 0;
}

void parts_free_table(const PartEntry* table, int count) {
    for (int i = 0; i < count; i++) table[i].free();
}

int parts_init_all(void) {
    noise_init(0);
    return parts_init_table(part_table, PART_COUNT);
}

void parts_free_all(void) {
    parts_free_table(part_table, PART_COUNT);
    noise_free();
}

void timeline_run_table(const TimelineEntry* table, int count, int beat, float seconds) {
    for (int i = 0; i < count; i++)
        if (table[i].start_beat <= beat && beat < table[i].end_beat) table[i].render(seconds);
}

void timeline_run(void) {
    timeline_run_table(timeline, TIMELINE_COUNT, clock_beat_index(), (float)demo_clock.clock_seconds);
    scanlines_draw();
}

void show_draw_frame(void) {
    frame_begin();
    // Under a background picture the clear is never drawn.
    frame_clear_held(0xFF7F7F7F);
    timeline_run();
    draw_queue_settle();
}

void show_frame(void) {
    show_draw_frame();
    frame_present();
}
