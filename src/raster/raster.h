// The rasterizer's public face: the vertex record shared with the 3D pipeline, the render-mode bits
// and the three drawing entries. Only 39 exact mode values draw; any other value draws nothing.
#pragma once
#include <cstdint>
#include "gfx/display.h"
#include "gfx/image.h"

// Twelve 32-bit fields in this order; the rasterizer reads sx, sy, sz, u, v, env_u, env_v, colour.
struct MeshVertex {
    float px, py, pz;     // object-space position
    float sx, sy, sz;     // screen x, y in pixels, depth after projection
    float rhw;            // reciprocal of w
    float u, v;           // texture coordinates, 1.0 = one full texture
    float env_u, env_v;   // environment-map or shadow-buffer coordinates
    uint32_t colour;      // 0xAARRGGBB vertex colour
};
static_assert(sizeof(MeshVertex) == 48, "MeshVertex is twelve 32-bit fields");

typedef uint32_t RenderMode;
enum : uint32_t {
    RENDER_FLAT = 0x0001,
    RENDER_GOURAUD = 0x0002,
    RENDER_TEXTURE = 0x0004,
    RENDER_PERSPECTIVE = 0x0008,
    RENDER_DEPTH = 0x0010,
    RENDER_ADD = 0x0020,
    RENDER_MULTIPLY = 0x0040,
    RENDER_BILINEAR = 0x0080,
    RENDER_MIPMAP = 0x0100,
    RENDER_COLOUR_KEY = 0x0200,
    RENDER_ENVMAP = 0x0400,
    RENDER_BUMP_OFFSET = 0x0800,
    RENDER_DOT3 = 0x1000,
    RENDER_ALPHA = 0x2000,
    RENDER_SHADOW = 0x4000,
};
enum : uint32_t { DOUBLE_SIDED = 0x0001 };

// Per byte min(a + b, 255), alpha included, without unpacking: each byte's carry forces that byte
// to 255. Inline because the additive fillers run it per pixel; the pipeline's clips use it too.
inline uint32_t colour_add_saturate(uint32_t a, uint32_t b) {
    uint32_t sum_low = (a & 0x7F7F7F7Fu) + (b & 0x7F7F7F7Fu);
    uint32_t carry = ((a & b) | ((a | b) & sum_low)) & 0x80808080u;
    uint32_t sum = sum_low ^ ((a ^ b) & 0x80808080u);
    return sum | (carry >> 7) * 255u;
}

// One edge of a triangle in fixed point: the value at pixel (x, y) is constant + step_x*x + step_y*y,
// 2048 times the cross product in pixel units; a pixel is inside the edge when the value is >= 0.
struct EdgeFunction {
    int32_t step_x;
    int32_t step_y;
    int32_t constant;  // value at pixel (0, 0), after the fill-rule adjustment
    int32_t code;      // 8 when step_x >= 0, plus 1 when step_y >= 0; kept through a flip
};

// A linear attribute over the triangle, 11 fraction bits: value at (min_x, min_y) plus one half.
struct Gradient {
    int32_t step_x;
    int32_t step_y;
    int32_t start;
};

// Which corner bounds a triangle's box, by the way its three edges run (bit i set where edge i runs
// toward greater x, or toward lesser y, ties included): {least, greatest} for x, {greatest, least}
// for y. 0 and 7 cannot close a triangle; set-up refuses them.
extern const int raster_box_corners[8][2];

// The box set-up walks, from the extreme corners' screen coordinates, cut to the screen. False when
// it lies off the screen or spans less than a second pixel column or row: set-up then draws nothing.
// The meshes' early refusal takes the same decision with it.
struct RasterBox {
    int32_t min_x, min_y, max_x, max_y;
};
inline bool raster_screen_box(float least_x, float most_x, float least_y, float most_y, RasterBox* box) {
    int32_t min_x = (int32_t)least_x;
    int32_t max_x = (int32_t)((double)most_x + 1.0);
    int32_t min_y = (int32_t)least_y;
    int32_t max_y = (int32_t)((double)most_y + 1.0);
    if (min_x >= SCREEN_WIDTH || max_x < 0 || min_y > SCREEN_HEIGHT || max_y < 0) return false;
    if (min_x < 0) min_x = 0;
    if (min_y < 0) min_y = 0;
    if (max_x > SCREEN_WIDTH - 1) max_x = SCREEN_WIDTH - 1;
    if (max_y > SCREEN_HEIGHT - 1) max_y = SCREEN_HEIGHT - 1;
    *box = {min_x, min_y, max_x, max_y};
    return max_x - min_x >= 1 && max_y - min_y >= 1;
}

// The per-triangle working record. The caller fills vert0..vert2, colour and flags; set-up fills the
// rest. The corners are referenced, never copied or written.
struct RasterTriangle {
    const MeshVertex* vert0;
    const MeshVertex* vert1;
    const MeshVertex* vert2;
    EdgeFunction edge0;  // vert0 -> vert1
    EdgeFunction edge1;  // vert1 -> vert2
    EdgeFunction edge2;  // vert2 -> vert0
    uint32_t colour;     // fill colour, modulating colour or per-channel opacity, by mode
    int32_t area;        // sum of the edge constants: 4096 x signed area, less the fill rule
    int32_t min_x, min_y, max_x, max_y;  // inclusive box, clamped to the screen
    float inv_area;      // 2048 / area
    uint32_t flags;      // DOUBLE_SIDED
    // Filled by set-up: the exact 64-bit edges (step_x, step_y, constant of edge0..edge2) and area.
    // The walk uses these, so a triangle reaching far outside the screen is drawn exactly where the
    // 32-bit fields above would have wrapped (`area` saturates at the 32-bit maximum).
    int64_t wide_edge[3][3];
    int64_t wide_area;
};

// Independent triangles (0,1,2), (3,4,5), ...; a trailing incomplete triangle is ignored.
void polygon_draw_list(const MeshVertex* vertices, int32_t vertex_count, uint32_t flags,
                       uint32_t colour, const Texture* texture, RenderMode mode);
// A convex polygon as the fan (0, i, i+1); fewer than 3 vertices draw nothing.
void polygon_draw_fan(const MeshVertex* vertices, int32_t vertex_count, uint32_t flags,
                      uint32_t colour, const Texture* texture, RenderMode mode);
// Prepared triangles in array order; everything but vert0..vert2, colour and flags may be overwritten.
void triangles_draw(RasterTriangle* triangles, int32_t count, const Texture* texture,
                    RenderMode mode);
// The process-wide map slots read by the environment, bump-offset and dot3 modes (not owned).
void raster_set_env_map(const Texture* texture);
void raster_set_bump_map(const Texture* texture);

// Set-up, shared by every filler. triangle_setup returns 0 to draw, non-zero when rejected.
void edge_setup(EdgeFunction* edge, const MeshVertex* a, const MeshVertex* b);
void edge_flip(EdgeFunction* edge);
int triangle_setup(RasterTriangle* triangle);
// The plane through three per-corner values, valid after a successful triangle_setup.
void gradient_setup(const RasterTriangle* triangle, Gradient* gradient, float value0, float value1,
                    float value2);
void gradient_setup_int(const RasterTriangle* triangle, Gradient* gradient, int32_t value0,
                        int32_t value1, int32_t value2);
