// Just enough of the GNU C library's internal headers to compile a few of its math functions
// unchanged for the browser build (see libm.c). Floating-point exceptions and rounding modes are not
// used by the show, so the barriers keep evaluation order and the rest does nothing.
#pragma once
#include <errno.h>
#include <float.h>
#include <math.h>
#include <stdint.h>
#include <string.h>

// Little-endian words of a double, as the library's own endian.h says for x86-64 and WebAssembly.
#define LITTLE_ENDI 1
#define HIGH_HALF 1
#define LOW_HALF 0

#define attribute_hidden
#define __always_inline __inline __attribute__((__always_inline__))
#define attribute_tls_model_ie
#define __glibc_likely(x) __builtin_expect((x), 1)
#define __glibc_unlikely(x) __builtin_expect((x), 0)
#define __set_errno(e) (errno = (e))
#define LIBC_PROBE(...) ((void)0)
#define libm_alias_float(from, to)
#define libm_alias_double(from, to)
#define libm_alias_finite(from, to)
#define declare_mgen_alias(from, to)
#define versioned_symbol(lib, local, symbol, version)
#define libm_alias_float_other(from, to)
#define strong_alias(from, to)
#define weak_alias(from, to)
#define libc_hidden_def(x)
#define libm_hidden_def(x)
#define SET_RESTORE_ROUND(mode)
#define SET_RESTORE_ROUND_53BIT(mode)
#define SET_RESTORE_ROUNDF(mode)
#define TOINT_INTRINSICS 0
#define math_opt_barrier(x) ({ __typeof(x) __x = (x); __asm__("" : "+r"(__x)); __x; })
#define math_force_eval(x) ({ __typeof(x) __x = (x); __asm__ volatile("" : : "r"(__x)); })
#define math_narrow_eval(x) (x)
#define math_check_force_underflow(x) ((void)0)
#define math_check_force_underflow_nonneg(x) ((void)0)
#define math_check_force_underflow_complex(x) ((void)0)

typedef union {
    float value;
    uint32_t word;
} ieee_float_shape_type;

typedef union {
    double value;
    struct {
        uint32_t lsw;
        uint32_t msw;
    } parts;
    uint64_t word;
} ieee_double_shape_type;

#define GET_FLOAT_WORD(i, d) do { ieee_float_shape_type gf_u; gf_u.value = (d); (i) = gf_u.word; } while (0)
#define SET_FLOAT_WORD(d, i) do { ieee_float_shape_type sf_u; sf_u.word = (i); (d) = sf_u.value; } while (0)
#define EXTRACT_WORDS(ix0, ix1, d) do { ieee_double_shape_type ew_u; ew_u.value = (d); (ix0) = ew_u.parts.msw; (ix1) = ew_u.parts.lsw; } while (0)
#define GET_HIGH_WORD(i, d) do { ieee_double_shape_type gh_u; gh_u.value = (d); (i) = gh_u.parts.msw; } while (0)
#define GET_LOW_WORD(i, d) do { ieee_double_shape_type gl_u; gl_u.value = (d); (i) = gl_u.parts.lsw; } while (0)
#define INSERT_WORDS(d, ix0, ix1) do { ieee_double_shape_type iw_u; iw_u.parts.msw = (ix0); iw_u.parts.lsw = (ix1); (d) = iw_u.value; } while (0)
#define SET_HIGH_WORD(d, v) do { ieee_double_shape_type sh_u; sh_u.value = (d); sh_u.parts.msw = (v); (d) = sh_u.value; } while (0)
#define SET_LOW_WORD(d, v) do { ieee_double_shape_type sl_u; sl_u.value = (d); sl_u.parts.lsw = (v); (d) = sl_u.value; } while (0)

static inline int glibc_compat_issignalingf(float x) {
    uint32_t i;
    memcpy(&i, &x, sizeof i);
    return (i & 0x7FC00000u) == 0x7F800000u && (i & 0x003FFFFFu) != 0;
}
#define issignaling(x) glibc_compat_issignalingf(x)

float __atanf(float);
float __ieee754_atan2f(float, float);
float __kernel_tanf(float, float, int);
int __branred(double, double*, double*);
