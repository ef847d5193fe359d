// The ray-cast sphere grid: the camera floats inside a huge textured sphere. Rays are cast only at
// the corners of a coarse grid of screen cells; the rasterizer interpolates the texture coordinates
// and the grey shade found there across each cell.
#pragma once
#include <cstdint>

#include "gfx/image.h"
#include "raster/raster.h"
#include "render3d/vecmath.h"

// One allocation: the header, then (columns + 1) x (rows + 1) vertices, row-major, so vertex (i, j)
// of corner row i and column j sits at index i * (columns + 1) + j.
struct ScreenGrid {
    int32_t columns;
    int32_t rows;
    int32_t cell_width;
    int32_t cell_height;
    int32_t grid_vertex_count;
    MeshVertex* grid_vertices;
    const Image* grid_texture;  // not owned; set before each draw
};

// Null when a size is not positive, the grid is absurdly large, or memory runs out.
ScreenGrid* grid_create(int32_t columns, int32_t rows, int32_t cell_width, int32_t cell_height);
void grid_free(ScreenGrid* grid);  // null accepted
// Corners back on their screen positions, texture coordinates 0..1 over the grid, white.
void grid_reset(ScreenGrid* grid);
// Casts one ray per corner from origin inside a sphere of the given radius centred at 0 and writes
// the hit's texture coordinates and the shade (the ray's alignment with +z) into the corner.
// A ray that meets the sphere nowhere ahead of the origin gets coordinates 0 and a black shade.
void grid_trace_sphere(ScreenGrid* grid, const Vec3* origin, const Vec3* angles, float radius,
                       float focal_length);
// Two triangles per cell, drawn in either winding, with the grid texture and the mode.
void grid_draw(const ScreenGrid* grid, RenderMode mode);
// Turns v in place: the (x, z) pair by angles->x, then (y, z) by angles->y, then (x, y) by angles->z,
// each pair (a, b) becoming (a cos - b sin, a sin + b cos).
void rotate_xyz(Vec3* v, const Vec3* angles);

// The camera of the scene at a beat: where the rays start and how they are turned.
void sphere_grid_view(float beat, Vec3* origin, Vec3* angles);
// The scene's grid while the scene is initialised, else null.
const ScreenGrid* sphere_grid_current(void);
