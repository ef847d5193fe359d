// A frame carried along a curve, for tubes swept ring by ring. Each ring's axes come from the
// previous ring's up axis, so the tube does not twist where the curve turns (no Frenet flips).
// Plain arithmetic on Vec3; the exact order of operations is part of the show's pictures.
#pragma once
#include "render3d/vecmath.h"

struct TubeFrame {
    Vec3 tangent;  // unit, from the previous curve point to the current one
    Vec3 side;     // the current ring's axes; a ring point is side * a + up * b + origin
    Vec3 up;
    Vec3 carried;  // the up axis handed to the next ring
};

// The frame before the first ring, from the point before the start and the start itself:
// tangent = normalize(start - before), carried = cross(tangent, normalize(start + before)),
// not normalized (callers that need it unit normalize it themselves).
void tube_frame_start(TubeFrame* frame, const Vec3* before, const Vec3* start);
// Turns the frame to the ring whose tangent runs from prev to centre: side =
// normalize(cross(carried, tangent)), up = normalize(cross(tangent, side)). The carried axis becomes
// up, unless up vanished (the curve turned straight back), when the old axis is kept.
void tube_frame_turn(TubeFrame* frame, const Vec3* prev, const Vec3* centre);
// side * a + up * b + origin, summed in that order.
Vec3 tube_frame_point(const TubeFrame* frame, float a, float b, const Vec3* origin);
