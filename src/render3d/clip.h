// Polygon clipping against the near plane (view space, before projection) and the four edges of a
// screen rectangle (after projection), plus the packed-colour helpers the clips use.
//
// The clip state is process-wide and keeps its values until set again; defaults are near plane
// z = -1 and the rectangle (0, 0)-(640, 480). Each clip is one Sutherland-Hodgman walk: it reads a
// convex polygon and writes the clipped polygon to `out`, returning the number of records written
// (never more than `capacity`). A vertex exactly on the plane is inside. Main thread only.
#pragma once
#include <cstdint>
#include "raster/raster.h"

enum { CLIP_BUFFER_SIZE = 12 };

// The two shared buffers that mesh drawing alternates between; they hold nothing between triangles.
extern MeshVertex clip_buffer_a[CLIP_BUFFER_SIZE];
extern MeshVertex clip_buffer_b[CLIP_BUFFER_SIZE];

void clip_set_depth(float near_distance, float far_distance);  // plane z = -near; far is unused
float clip_near_plane(void);                                     // the near plane's z (-near)
void clip_set_rect(float x, float y, float w, float h);        // left x, top y, right x+w, bottom y+h

// Near: inside when sz <= plane z (view space looks towards -z).
int clip_polygon_near(const MeshVertex* in, int count, MeshVertex* out, int capacity);
int clip_polygon_left(const MeshVertex* in, int count, MeshVertex* out, int capacity);    // sx >= left
int clip_polygon_right(const MeshVertex* in, int count, MeshVertex* out, int capacity);   // sx <= right
int clip_polygon_top(const MeshVertex* in, int count, MeshVertex* out, int capacity);     // sy >= top
int clip_polygon_bottom(const MeshVertex* in, int count, MeshVertex* out, int capacity);  // sy <= bottom

// The clips' own inside tests: 1 when the vertex is on the inside of the near plane, or of all four
// edges of the rectangle. A polygon whose vertices all pass comes out of that clip unchanged except
// that its first vertex moves to the end.
int clip_inside_near(const MeshVertex* v);
int clip_inside_rect(const MeshVertex* v);

// Per byte a + (b - a) * t, rounded; t in 0..1.
uint32_t colour_lerp(uint32_t a, uint32_t b, float t);
// Per byte a + ((b - a) / span) * distance, rounded and clamped to 0..255; span 0 keeps a.
uint32_t colour_lerp_clamped(uint32_t a, uint32_t b, float span, float distance);
// colour_add_saturate (per byte min(a + b, 255)) comes with raster/raster.h.
