// The field lattice shared by the voxel-cube and carved-box scenes: a cubic grid of points with
// precomputed neighbour links and cell corner lists, soft blobs that add or subtract a sphere of
// influence, and a marching-cubes polygoniser that draws lit, environment-mapped triangles directly.
//
// One allocation holds the record, its points, its cells and the polygoniser's scratch (shared edge
// vertices, corner tests), so the polygoniser allocates nothing; lattice_free releases it (null is
// fine). lattice_create is the only operation that fails (null on no memory).
#pragma once
#include <cstdint>
#include "raster/raster.h"
#include "render3d/camera.h"
#include "render3d/mesh.h"
#include "render3d/vecmath.h"

struct LatticePoint {
    Vec3 position;                  // fixed lattice position
    Vec3 normal;                    // accumulated field gradient, not normalized
    float value;                    // field value
    LatticePoint* neighbours[6];    // -x, +x, -y, +y, -z, +z; null outside the lattice
};

struct LatticeCell {
    LatticePoint* spare;            // unused by the polygoniser; cleared by lattice_scale_values
    LatticePoint* corners[8];
};

// A cut edge's vertex as the polygoniser made it, with its corner as set-up reads it; the cells
// that share the edge (in the same direction) take it from here during the call that made it.
struct LatticeEdgeVertex {
    MeshVertex vertex;
    SetupCorner corner;
};

// One cut edge's vertex to make: the surface point between points a and b (indices into points,
// a the edge's first corner), written with its grey and set-up corner to *out.
struct LatticeEdgeJob {
    int32_t a, b;
    LatticeEdgeVertex* out;
};

struct FieldLattice {
    int32_t max_resolution;         // what the arrays hold; never changes
    int32_t resolution;             // current cells per axis N, 2 <= N <= max_resolution
    int32_t point_count;            // (N+1)^3
    LatticePoint* points;           // room for (max_resolution+1)^3
    int32_t cell_count;             // N^3
    LatticeCell* cells;             // room for max_resolution^3
    float cell_size;                // edge length / N
    Vec3 light;                     // polygoniser light direction; (0, 0, 1) at creation
    Matrix object_matrix;           // model matrix handed to camera_object_matrices
    LatticeEdgeVertex* edge_cache;  // the polygoniser's: 9 planes of (max_resolution+1)^2 entries
    uint8_t* below;                 // the polygoniser's: 1 per point whose value is below the level
    // Per point row (ix, iy), the run of z [lo, hi) that lattice_build, lattice_scale_values and
    // the blobs wrote since the caller last emptied it (lo >= hi: none); pairs, (N+1)^2 of them.
    // Writes through the points themselves are not recorded.
    int32_t* touched;
    float* coords;                  // position along each axis of index 0..N (then 7 copies of N's); all points take theirs from here
};

// Corner k of a cell sits at the cell's lowest point plus these (dx, dy, dz) steps.
extern const int32_t field_corner_offsets[8][3];
// The two corners joined by each of the 12 cell edges.
extern const int32_t field_edge_corners[12][2];
// Classic marching-cubes tables: cut-edge masks and up to five triangles per cube index, -1 ended.
extern const uint16_t field_edge_table[256];
extern const int8_t field_triangle_table[256][16];

// Record + zeroed points and cells for max resolution n (n < 2 gives null); call lattice_build next.
FieldLattice* lattice_create(int32_t n);
// Positions centred on the origin for edge length, cleared normals and values, neighbour links and
// cell corners for the current resolution.
void lattice_build(FieldLattice* lattice, float edge_length);
// Point (ix, iy, iz) or null when any index lies outside 0..N.
LatticePoint* lattice_point_at(FieldLattice* lattice, int32_t ix, int32_t iy, int32_t iz);
// n <= 1 becomes 2, n above the maximum becomes the maximum; a new N rebuilds (no reallocation).
void lattice_set_resolution(FieldLattice* lattice, int32_t n, float edge_length);
// value and normal of every point times f (0 clears the field); clears every cell's spare link.
void lattice_scale_values(FieldLattice* lattice, float f);
// Add or subtract a soft sphere of strength s and radius r; visits only the blob's index box.
void lattice_add_blob(FieldLattice* lattice, const Vec3* centre, float strength, float radius);
void lattice_subtract_blob(FieldLattice* lattice, const Vec3* centre, float strength,
                           float radius);
// Extracts the iso surface cell by cell and draws each cell's triangles with polygon_draw_list.
// Normalizes `light` in place.
void lattice_polygonise(FieldLattice* lattice, float iso, const Camera* camera,
                        const Texture* texture, RenderMode mode);
void lattice_free(FieldLattice* lattice);
// The polygoniser's vertex making, exposed for tests: each job's vertex for the screen and normal
// matrices, lit by the unit `light` of the lattice; four at a time where SSE2 runs and eight where
// AVX2 does, the same bits.
void lattice_edges_make(const FieldLattice* lattice, const LatticeEdgeJob* jobs, int32_t count, float iso,
                        const Matrix* screen, const Matrix* normal_matrix);

// The polygoniser's per-cell work, exposed for tests: fills `out` (room for 15) with the cell's
// triangles for the given screen and normal matrices and returns the vertex count.
int32_t lattice_polygonise_cell(const FieldLattice* lattice, const LatticeCell* cell, float iso,
                                const Matrix* screen, const Matrix* normal_matrix,
                                MeshVertex* out);
