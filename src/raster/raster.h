// The rasterizer's public face: the vertex record shared with the 3D pipeline, the render-mode bits
// and the three drawing entries. Only 39 exact mode values draw; any other value draws nothing.
#pragma once
#include <cstdint>
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
