// The voxel-cube scene's state and steps, shared with its tests.
#pragma once
#include <cstdint>
#include "render3d/camera.h"
#include "render3d/mesh.h"
#include "scenes/field.h"

extern Mesh* cube_mesh;           // the unit cube, 24 vertices four per face, 12 triangles
extern Mesh* cube_batch;          // 4096 vertices / 2048 triangles, filled and drawn per batch
extern FieldLattice* cube_lattice;
extern float blob_paths[15][4];   // metaball amplitudes x, y, z and 48
extern int blob_paths_ready;

// Which generator beat index b runs: before beat 64 eased slabs, then by b mod 16 in fours, and
// slabs alone from beat 92.
enum { CUBE_FIELD_NOISE = 0, CUBE_FIELD_METABALLS, CUBE_FIELD_FRACTAL, CUBE_FIELD_SLABS,
       CUBE_FIELD_EASED_SLABS };
int cube_generator(int b);
// Camera eye for beat B and time t (seconds).
Vec3 cube_eye(float beat, float seconds);
// Field generators: each overwrites `value` of every point of the lattice.
void field_slabs(FieldLattice* lattice, float x);
void field_metaballs(FieldLattice* lattice, float x);  // reads the clock's beat
void field_noise(FieldLattice* lattice, float x);      // reads the clock's beat
void field_fractal(FieldLattice* lattice, float x);    // reads the clock's beat
// Appends the visible faces of one point's cube to the batch; returns the faces appended.
int32_t voxel_append_cube(Mesh* batch, const Mesh* cube, const FieldLattice* lattice,
                          const LatticePoint* point, const Vec3* view_dir);
// Builds and draws every cube of the lattice through cube_batch.
void voxel_draw(FieldLattice* lattice, const Mesh* cube, const Camera* camera, RenderMode mode);
// R, G, B each (c * 256 * trunc(x * 255)) >> 16; alpha 0.
uint32_t colour_scale(uint32_t colour, float x);
