// The cloth-on-poles scene's state: a 32 x 32 cloth of masses pinned to five bobbing poles over an
// invisible tilted floor, released to drift away late in the show. The records are the scene's,
// owned from scene_poles_init to scene_poles_free (null outside). Main thread only.
#pragma once
#include "procedural/springs.h"
#include "render3d/camera.h"
#include "render3d/mesh.h"

enum { CLOTH_SIDE = 32, CLOTH_MASSES = 1024, CLOTH_TRIANGLES = 1922, CLOTH_SPRINGS = 3906,
       POLE_COUNT = 5 };

extern Mesh* pole_cube;
extern Mesh* poles_mesh;
extern Mesh* poles_glass;
extern Mesh* cloth_mesh;
extern SpringSystem* cloth;
extern const Vec3 pole_bases[POLE_COUNT];
extern const int pole_masses[POLE_COUNT];  // the masses pinned to the pole tops
extern Matrix pole_matrix;                 // the set-up's current turn
extern Vec3 pole_tops[POLE_COUNT];         // the current pin positions

// Before beat 416 turns the set-up and moves the pinned masses to the bobbing pole tops; from beat
// 416 frees every mass, drops the floor, points gravity up and slides the cloth along -z.
void poles_update(float beat);
// Puts every mass below the floor (17 units below the origin along the set-up's up) back onto it.
void floor_collide(SpringSystem* system);
// Mass positions into the cloth vertices, then normals.
void cloth_copy_to_mesh(void);
// Reflection of the view direction about each transformed normal into u, v.
void cloth_env_uv(Mesh* mesh);
// The camera of one frame at beat B and time t (inputs filled, camera_update done).
void poles_camera(Camera* camera, float beat, float seconds);
