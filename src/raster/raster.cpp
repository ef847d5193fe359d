// Dispatch of the drawing entries on the exact mode value, and the two map slots.
//
// A mode's preconditions are checked once per call: a textured mode needs a texture with pixels, the
// map modes need their slots filled (and a bump map at least as large as the texture where the two
// share texel positions), the depth modes need their depth buffers. When one is missing the call draws
// nothing rather than reading through a null or too small picture.
#include <atomic>
#include <cstddef>

#include "gfx/simd.h"
#include "raster/raster_internal.h"

const Texture* raster_env_map = nullptr;
const Texture* raster_bump_map = nullptr;
// The rasterizer's own limit under the program's SIMD level; no limit by default.
static std::atomic<int> raster_path_limit{RASTER_PATH_AVX2};

int raster_path_get(void) {
    const int limit = raster_path_limit.load(std::memory_order_relaxed), level = simd_level();
    return limit < level ? limit : level;
}

int raster_path_set(int path) {
    const int widest = simd_best_level();
    return raster_path_limit.exchange(path < 0 ? 0 : (path > widest ? widest : path),
                                      std::memory_order_relaxed);
}

void raster_set_env_map(const Texture* texture) { raster_env_map = texture; }
void raster_set_bump_map(const Texture* texture) { raster_bump_map = texture; }

#define RASTER_TABLE_ROW(mode) {mode, {raster_fill_scalar_##mode, raster_fill_sse2_##mode, raster_fill_avx2_##mode}},
const RasterModeEntry raster_mode_table[] = {RASTER_MODES(RASTER_TABLE_ROW)};
const int raster_mode_count = (int)(sizeof(raster_mode_table) / sizeof(raster_mode_table[0]));

const RasterModeEntry* raster_mode_find(RenderMode mode) {
    int lo = 0, hi = raster_mode_count - 1;
    while (lo <= hi) {
        int mid = (lo + hi) / 2;
        if (raster_mode_table[mid].mode == mode) return &raster_mode_table[mid];
        if (raster_mode_table[mid].mode < mode) lo = mid + 1;
        else hi = mid - 1;
    }
    return nullptr;
}

static int raster_picture_usable(const Texture* t) {
    return t && t->pixels && t->width > 0 && t->height > 0;
}

// The filler for mode, or null when the mode is not drawn or cannot be drawn with these inputs.
static RasterFiller raster_choose(RenderMode mode, const Texture* texture) {
    // Meshes submit one triangle per call, mostly in one mode: remember the last lookup (all drawing
    // is on one thread).
    static RenderMode last_mode = 0;
    static const RasterModeEntry* last_entry = nullptr;
    if (mode != last_mode || !last_entry) {
        last_entry = raster_mode_find(mode);
        last_mode = mode;
    }
    const RasterModeEntry* entry = last_entry;
    if (!entry) return nullptr;
    const int shadow_pass = mode == RENDER_DEPTH;
    if (!shadow_pass && !framebuffer.pixels) return nullptr;
    if ((mode & RENDER_DEPTH) && !shadow_pass && !depth_buffer) return nullptr;
    if ((shadow_pass || (mode & RENDER_SHADOW)) && !depth_buffer2) return nullptr;
    if (mode & RENDER_DEPTH) depth_mark_drawn(shadow_pass ? depth_buffer2 : depth_buffer);  // reset next frame
    const int bump_only = mode == (RENDER_BUMP_OFFSET | RENDER_ENVMAP | RENDER_DEPTH);
    if ((mode & (RENDER_TEXTURE | RENDER_PERSPECTIVE)) && !bump_only && !raster_picture_usable(texture))
        return nullptr;
    if ((mode & RENDER_ENVMAP) && !raster_picture_usable(raster_env_map)) return nullptr;
    if (mode & (RENDER_BUMP_OFFSET | RENDER_DOT3)) {
        if (!raster_picture_usable(raster_bump_map)) return nullptr;
        // Bump texels are read at the texture's texel positions with the bump map's row length.
        if (!bump_only && (raster_bump_map->width_shift < texture->width_shift ||
                           raster_bump_map->height_shift < texture->height_shift))
            return nullptr;
    }
    return entry->filler[raster_path_get()];
}

void triangles_draw(RasterTriangle* triangles, int32_t count, const Texture* texture,
                    RenderMode mode) {
    if (!triangles || count <= 0) return;
    RasterFiller fill = raster_choose(mode, texture);
    if (!fill) return;
    for (int32_t i = 0; i < count; i++) fill(&triangles[i], texture);
}

void polygon_draw_list(const MeshVertex* vertices, int32_t vertex_count, uint32_t flags,
                       uint32_t colour, const Texture* texture, RenderMode mode) {
    if (!vertices || vertex_count < 3) return;
    RasterFiller fill = raster_choose(mode, texture);
    if (!fill) return;
    RasterTriangle t;
    t.colour = colour;
    t.flags = flags;
    for (int32_t i = 0; i + 2 < vertex_count; i += 3) {
        t.vert0 = &vertices[i];
        t.vert1 = &vertices[i + 1];
        t.vert2 = &vertices[i + 2];
        fill(&t, texture);
    }
}

void polygon_draw_fan(const MeshVertex* vertices, int32_t vertex_count, uint32_t flags,
                      uint32_t colour, const Texture* texture, RenderMode mode) {
    if (!vertices || vertex_count < 3) return;
    RasterFiller fill = raster_choose(mode, texture);
    if (!fill) return;
    RasterTriangle t;
    t.colour = colour;
    t.flags = flags;
    for (int32_t i = 1; i + 1 < vertex_count; i++) {
        t.vert0 = &vertices[0];
        t.vert1 = &vertices[i];
        t.vert2 = &vertices[i + 1];
        fill(&t, texture);
    }
}
