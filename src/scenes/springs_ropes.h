// The spring-rope scene's ropes: 26 chains of masses hung between the corners of a cube 32 units
// wide (12 edges, 12 face diagonals, 2 space diagonals), each drawn as a string of small cubes.
// The records are the scene's, owned from scene_springs_init to scene_springs_free. Main thread only.
#pragma once
#include "procedural/springs.h"
#include "render3d/camera.h"
#include "render3d/mesh.h"

enum { ROPE_COUNT = 26 };

struct RopeSpec {
    Vec3 start, end;  // the two anchors at rest
    int masses;
};
extern const RopeSpec rope_specs[ROPE_COUNT];

extern Mesh* rope_cube;                     // one small cube, drawn once per mass
extern SpringSystem* ropes[ROPE_COUNT];     // null while the scene is not built

// Turns and scales the anchors (blend m: anchors at (1 + m) times their rest places), pins the
// middle masses towards (1 - m) times the rope midpoints by the fraction k when pin is set, blows
// the wind and steps every rope once by the frame's duration (1/60 s when that is not positive).
void ropes_update(float local_seconds, float blend, float pull, int pin);
// Draws one rope as cubes, each turned along the rope. Cubes that cannot reach the screen (wholly
// behind the near plane or past an edge) are skipped before any of their work.
void rope_draw(const SpringSystem* chain, const Camera* camera);
// The same with every cube taken through the whole pipeline: the plain twin of rope_draw.
void rope_draw_every_cube(const SpringSystem* chain, const Camera* camera);
// The axes of one mass's cube: along the rope, and two squares to it from the rope's fixed cross r.
struct RopeFrame {
    Vec3 dir, side, up;
};
// The frames of masses first..first + count - 1 of the chain. q is the position before the first
// of them and dir the last direction (kept where two masses coincide); both move on past the last.
void rope_frames(const SpringSystem* chain, const Vec3* r, Vec3* q, Vec3* dir, int first, int count, RopeFrame* frames);

// The schedules of one frame at beat B and time t: the eye, and the pull (blend, pull fraction, pin).
Vec3 springs_eye(float beat, float seconds);
void springs_pull(float beat, float* blend, float* pull, int* pin);
