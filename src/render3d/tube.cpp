// The carried tube frame: shared by every tube swept along a curve.
#include "render3d/tube.h"

void tube_frame_start(TubeFrame* frame, const Vec3* before, const Vec3* start) {
    Vec3 sum;
    vec3_sub(start, before, &frame->tangent);
    vec3_normalize(&frame->tangent, &frame->tangent);
    vec3_add(start, before, &sum);
    vec3_normalize(&sum, &sum);
    vec3_cross(&frame->tangent, &sum, &frame->carried);
    frame->side = frame->up = Vec3{0.0f, 0.0f, 0.0f};
}

void tube_frame_turn(TubeFrame* frame, const Vec3* prev, const Vec3* centre) {
    vec3_sub(centre, prev, &frame->tangent);
    vec3_normalize(&frame->tangent, &frame->tangent);
    vec3_cross(&frame->carried, &frame->tangent, &frame->side);
    vec3_normalize(&frame->side, &frame->side);
    vec3_cross(&frame->tangent, &frame->side, &frame->up);
    vec3_normalize(&frame->up, &frame->up);
    if (vec3_length(&frame->up) > 0.0f) frame->carried = frame->up;
}

Vec3 tube_frame_point(const TubeFrame* frame, float a, float b, const Vec3* origin) {
    return Vec3{frame->side.x * a + frame->up.x * b + origin->x,
                frame->side.y * a + frame->up.y * b + origin->y,
                frame->side.z * a + frame->up.z * b + origin->z};
}
