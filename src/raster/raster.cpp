// Dispatch of the drawing entries on the exact mode value, and the two map slots.
//
// A mode's preconditions are checked once per call: a textured mode needs a texture with pixels, the
// map modes need their slots filled (and a bump map at least as large as the texture where the two
// share texel positions), the depth modes need their depth buffers. When one is missing the call draws
// nothing rather than reading through a null or too small picture.
#include <atomic>
#include <cstddef>
#include <cstring>

#include "gfx/simd.h"
#include "raster/raster_internal.h"

constinit thread_local const Texture* raster_env_map = nullptr;
constinit thread_local const Texture* raster_bump_map = nullptr;
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
    draw_queue_settle();  // a held full-screen pass is drawn before anything the fillers draw
    return entry->filler[raster_path_get()];
}

// Whether a drawing thread's band may hold rows of the triangle: a cheap test on the corners'
// rows, wider than the set-up's box, so a thread skips the set-up of triangles far from its rows.
static inline bool raster_band_may_touch(const DrawBand* band, const MeshVertex* a, const MeshVertex* b,
                                         const MeshVertex* c) {
    if (!band) return true;
    float lo = a->sy < b->sy ? a->sy : b->sy, hi = a->sy < b->sy ? b->sy : a->sy;
    if (c->sy < lo) lo = c->sy;
    if (c->sy > hi) hi = c->sy;
    if (!(lo < (float)SCREEN_HEIGHT && hi >= -1.0f)) return !(lo == lo && hi == hi);  // NaN: let set-up decide
    int first = lo <= 1.0f ? 0 : (int)lo - 1;
    int last = hi >= (float)(SCREEN_HEIGHT - 3) ? SCREEN_HEIGHT - 1 : (int)hi + 2;
    return draw_band_touches(band, first, last);
}

// Independent triangles (0,1,2), (3,4,5), ... or the fan (0, i, i+1) of one call.
static void raster_draw_list(RasterFiller fill, const MeshVertex* vertices, int32_t vertex_count,
                             uint32_t flags, uint32_t colour, const Texture* texture) {
    const DrawBand* band = draw_band;
    RasterTriangle t;
    t.colour = colour;
    t.flags = flags;
    for (int32_t i = 0; i + 2 < vertex_count; i += 3) {
        if (!raster_band_may_touch(band, &vertices[i], &vertices[i + 1], &vertices[i + 2])) continue;
        t.vert0 = &vertices[i];
        t.vert1 = &vertices[i + 1];
        t.vert2 = &vertices[i + 2];
        fill(&t, texture);
    }
}

static void raster_draw_fan(RasterFiller fill, const MeshVertex* vertices, int32_t vertex_count,
                            uint32_t flags, uint32_t colour, const Texture* texture) {
    const DrawBand* band = draw_band;
    RasterTriangle t;
    t.colour = colour;
    t.flags = flags;
    for (int32_t i = 1; i + 1 < vertex_count; i++) {
        if (!raster_band_may_touch(band, &vertices[0], &vertices[i], &vertices[i + 1])) continue;
        t.vert0 = &vertices[0];
        t.vert1 = &vertices[i];
        t.vert2 = &vertices[i + 1];
        fill(&t, texture);
    }
}

// A recorded drawing call: its own copy of the corners (the caller may change them as soon as the
// call returns) and the map slots of the moment. The vertices follow the record.
struct RasterCall {
    RasterFiller fill;
    const Texture* texture;
    const Texture* env_map;
    const Texture* bump_map;
    uint32_t colour;
    uint32_t flags;
    int32_t vertex_count;
    int32_t fan;
};
static_assert(sizeof(RasterCall) % alignof(MeshVertex) == 0, "vertices follow the record");

// Vertices per recorded call; longer lists are cut into several calls (whole triangles).
enum { RASTER_CALL_VERTICES = (DRAW_COMMAND_MAX - sizeof(RasterCall)) / sizeof(MeshVertex) / 3 * 3 };

static void raster_replay(const void* payload) {
    const RasterCall* call = (const RasterCall*)payload;
    // The main thread replays its own bands too: its slots are the callers' and come back after.
    const Texture *env_map = raster_env_map, *bump_map = raster_bump_map;
    raster_env_map = call->env_map;
    raster_bump_map = call->bump_map;
    const MeshVertex* vertices = (const MeshVertex*)(call + 1);
    if (call->fan)
        raster_draw_fan(call->fill, vertices, call->vertex_count, call->flags, call->colour, call->texture);
    else
        raster_draw_list(call->fill, vertices, call->vertex_count, call->flags, call->colour, call->texture);
    raster_env_map = env_map;
    raster_bump_map = bump_map;
}

// Room for a recorded call of `count` vertices, which the caller copies in; null only when the
// list has no room at all, and then everything recorded is drawn first so the caller may draw at once.
static MeshVertex* raster_record(RasterFiller fill, int32_t count, uint32_t flags, uint32_t colour,
                                 const Texture* texture, int fan) {
    RasterCall* call =
        (RasterCall*)draw_queue_push(raster_replay, sizeof(RasterCall) + (size_t)count * sizeof(MeshVertex));
    if (!call) {
        draw_queue_flush();
        return nullptr;
    }
    call->fill = fill;
    call->texture = texture;
    call->env_map = raster_env_map;
    call->bump_map = raster_bump_map;
    call->colour = colour;
    call->flags = flags;
    call->vertex_count = count;
    call->fan = fan;
    return (MeshVertex*)(call + 1);
}

// Before a call is recorded: the shadow-tested modes read the shadow depth buffer at projected
// positions, anywhere on the screen, so they wait for a shadow pass still being drawn, and a new
// shadow pass waits for the readers of the old one.
static void raster_record_mode(RenderMode mode) {
    if (mode & RENDER_SHADOW) {
        draw_queue_flush_if(DRAW_PENDING_SHADOW_WRITE);
        draw_queue_note(DRAW_PENDING_SHADOW_READ);
    } else if (mode == RENDER_DEPTH) {
        draw_queue_flush_if(DRAW_PENDING_SHADOW_READ);
        draw_queue_note(DRAW_PENDING_SHADOW_WRITE);
    }
}

void triangles_draw(RasterTriangle* triangles, int32_t count, const Texture* texture,
                    RenderMode mode) {
    if (!triangles || count <= 0) return;
    RasterFiller fill = raster_choose(mode, texture);
    if (!fill) return;
    if (!draw_queue_active) {
        for (int32_t i = 0; i < count; i++) fill(&triangles[i], texture);
        return;
    }
    raster_record_mode(mode);
    // Runs of triangles sharing colour and flags become one recorded list.
    for (int32_t i = 0; i < count;) {
        const RasterTriangle* first = &triangles[i];
        int32_t end = i + 1;
        while (end < count && (end - i) * 3 < RASTER_CALL_VERTICES && triangles[end].colour == first->colour &&
               triangles[end].flags == first->flags)
            end++;
        MeshVertex* v = raster_record(fill, (end - i) * 3, first->flags, first->colour, texture, 0);
        for (int32_t k = i; k < end; k++) {
            if (!v) {
                fill(&triangles[k], texture);
                continue;
            }
            *v++ = *triangles[k].vert0;
            *v++ = *triangles[k].vert1;
            *v++ = *triangles[k].vert2;
        }
        i = end;
    }
}

void polygon_draw_list(const MeshVertex* vertices, int32_t vertex_count, uint32_t flags,
                       uint32_t colour, const Texture* texture, RenderMode mode) {
    if (!vertices || vertex_count < 3) return;
    RasterFiller fill = raster_choose(mode, texture);
    if (!fill) return;
    if (!draw_queue_active) {
        raster_draw_list(fill, vertices, vertex_count, flags, colour, texture);
        return;
    }
    raster_record_mode(mode);
    const int32_t whole = vertex_count / 3 * 3;
    for (int32_t i = 0; i < whole; i += RASTER_CALL_VERTICES) {
        int32_t n = whole - i < RASTER_CALL_VERTICES ? whole - i : RASTER_CALL_VERTICES;
        MeshVertex* v = raster_record(fill, n, flags, colour, texture, 0);
        if (v) memcpy(v, vertices + i, (size_t)n * sizeof(MeshVertex));
        else raster_draw_list(fill, vertices + i, n, flags, colour, texture);
    }
}

void polygon_draw_fan(const MeshVertex* vertices, int32_t vertex_count, uint32_t flags,
                      uint32_t colour, const Texture* texture, RenderMode mode) {
    if (!vertices || vertex_count < 3) return;
    RasterFiller fill = raster_choose(mode, texture);
    if (!fill) return;
    if (!draw_queue_active) {
        raster_draw_fan(fill, vertices, vertex_count, flags, colour, texture);
        return;
    }
    raster_record_mode(mode);
    // A long fan goes as several fans around the same centre, each starting at the rim vertex the
    // previous one ended on.
    const int32_t rim_max = RASTER_CALL_VERTICES - 1;
    for (int32_t i = 1; i + 1 < vertex_count; i += rim_max - 1) {
        int32_t n = vertex_count - i < rim_max ? vertex_count - i : rim_max;
        MeshVertex* v = raster_record(fill, n + 1, flags, colour, texture, 1);
        if (v) {
            v[0] = vertices[0];
            memcpy(v + 1, vertices + i, (size_t)n * sizeof(MeshVertex));
        } else {
            RasterTriangle t;
            t.colour = colour;
            t.flags = flags;
            t.vert0 = &vertices[0];
            for (int32_t k = i; k + 1 < i + n; k++) {
                t.vert1 = &vertices[k];
                t.vert2 = &vertices[k + 1];
                fill(&t, texture);
            }
        }
    }
}
