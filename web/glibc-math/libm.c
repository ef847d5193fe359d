// The C library math functions the show calls, under their public names, computed by the GNU C
// library's own code (compiled from its Debian source package by scripts/web.sh). The browser's C
// library gives other last bits for sin, cos, sinf, cosf, tanf, atanf and atan2f (and, rarely, powf),
// which moves pixels in about half the frames of the show; with these the page draws what Linux
// draws. Linking this archive ahead of the C library keeps the browser's versions out.
#include <math.h>

double __sin(double);
double __cos(double);
float __sinf(float);
float __cosf(float);
void __sincosf(float, float*, float*);
float __tanf(float);
float __atanf(float);
float __ieee754_atan2f(float, float);
float __powf(float, float);

double sin(double x) { return __sin(x); }
double cos(double x) { return __cos(x); }
// The compiler may fuse sin and cos of one angle into sincos; the GNU library gives the same values.
void sincos(double x, double* s, double* c) {
    *s = __sin(x);
    *c = __cos(x);
}
float sinf(float x) { return __sinf(x); }
float cosf(float x) { return __cosf(x); }
void sincosf(float x, float* s, float* c) { __sincosf(x, s, c); }
float tanf(float x) { return __tanf(x); }
float atanf(float x) { return __atanf(x); }
float atan2f(float y, float x) { return __ieee754_atan2f(y, x); }
float powf(float x, float y) { return __powf(x, y); }
