// The carved-box scene's state and steps: a solid block held as a field on a 24-cell lattice,
// eaten by 32 subtracted blobs that orbit the centre, each marked by an additive camera-facing quad.
#pragma once
#include "render3d/camera.h"
#include "render3d/mesh.h"
#include "render3d/vecmath.h"
#include "scenes/field.h"

enum { CARVED_BOX_RESOLUTION = 24, CARVED_BOX_HOLES = 32 };

extern FieldLattice* meta_lattice;
extern Mesh* meta_sprites;
extern Vec3 sprite_right, sprite_up;

// The holes' strength scale k and orbit radius r at beat B.
void carved_box_hole_params(float beat, float* scale, float* radius);
// Places the camera for beat B (eye and target on its path, the full-screen projection and clip
// state of camera_set_screen); sets sprite_right and sprite_up from its view matrix.
void carved_box_camera_place(Camera* camera, float beat);
// Rebuilds the field from the solid block and subtracts the holes; places the hole quads.
void meta_field_update(float beat);
// Quad i of meta_sprites, centred on c with half size s along sprite_right and sprite_up.
void meta_sprite_place(int i, const Vec3* centre, float s);
