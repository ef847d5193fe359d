// Vectors and 4x4 matrices. Matrices are row-major; points are row vectors (p * M) with the
// translation in the fourth row, so A * B applies A first. Angles in radians, field of view in degrees.
//
// Every operation is a free function over plain float records: nothing allocates, nothing fails
// except mat_invert, which reports a singular matrix by writing the zero matrix. Outputs may alias
// inputs only where the line says so.
#pragma once

struct Vec3 {
    float x, y, z;
};

struct Matrix {
    float m[16];
};

float vec3_dot(const Vec3* a, const Vec3* b);
float vec3_length(const Vec3* a);
void vec3_cross(const Vec3* a, const Vec3* b, Vec3* out);         // out distinct from a and b
void vec3_add(const Vec3* a, const Vec3* b, Vec3* out);           // out may be a or b
void vec3_sub(const Vec3* a, const Vec3* b, Vec3* out);           // out = a - b; may be a or b
void vec3_scale(const Vec3* a, float s, Vec3* out);               // out may be a
void vec3_scale_add(const Vec3* a, float s, const Vec3* b, Vec3* out);  // a * s + b; may alias
void vec3_lerp(const Vec3* a, const Vec3* b, float t, Vec3* out);       // a + (b - a) * t; may alias
void vec3_reflect(const Vec3* v, const Vec3* n, Vec3* out);       // v - 2 (v.n) n, n unit; may alias
void vec3_normalize(const Vec3* v, Vec3* out);                    // zero stays zero; out may be v

// Builders: each writes all sixteen elements.
void mat_identity(Matrix* out);
void mat_translate(Matrix* out, float tx, float ty, float tz);
void mat_scale(Matrix* out, float sx, float sy, float sz);
void mat_rotate_x(Matrix* out, float angle);
void mat_rotate_y(Matrix* out, float angle);
void mat_rotate_z(Matrix* out, float angle);   // positive angle turns +X towards +Y
void mat_rotate_euler(Matrix* out, float ay, float ax, float az);  // about Y, then X, then Z
// View matrix with up (0, 1, 0). Its fourth row holds dot(r, eye), dot(u, eye), dot(f, eye) as they
// stand (not negated): every camera placement in the show is set up for this form.
void mat_look_at(Matrix* out, const Vec3* eye, const Vec3* target);
// w' = -z; view z = -near maps to depth -1 and z = -far to +1 after the division by w.
void mat_perspective(Matrix* out, float aspect, float fov_x_deg, float fov_y_deg, float near_z,
                     float far_z);
// x -1..+1 to x..x+w, y +1..-1 to y..y+h (screen y grows downwards), z unchanged.
void mat_viewport(Matrix* out, float x, float y, float w, float h);

void mat_multiply(const Matrix* a, const Matrix* b, Matrix* out);  // a * b; out distinct from both
void mat_transpose(const Matrix* m, Matrix* out);                  // out distinct from m
// Gauss-Jordan with partial pivoting; pivots of 1e-6 or less count as singular and give all zeros.
void mat_invert(const Matrix* m, Matrix* out);                     // out may be m
void mat_transform_point(const Matrix* m, const Vec3* p, Vec3* out);     // no division by w; may alias
float mat_transform_point_w(const Matrix* m, const Vec3* p, Vec3* out);  // returns w'; may alias
void mat_rotate_vector(const Matrix* m, const Vec3* v, Vec3* out);       // upper 3x3 only; may alias
