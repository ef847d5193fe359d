// Vectors and 4x4 matrices. Matrices are row-major; points are row vectors (p * M) with the
// translation in the fourth row, so A * B applies A first. Angles in radians, field of view in degrees.
#pragma once

struct Vec3 {
    float x, y, z;
};

struct Matrix {
    float m[16];
};
