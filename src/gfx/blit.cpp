// image_blit and image_draw: clipping, then one row routine per mode. The SIMD routines widen
// bytes to 16-bit lanes for the blends (products stay within 255 * 255) and use 8-bit saturating
// lanes for the draws, four pixels per step with SSE2 and eight with AVX2 (used only when the
// processor has it); the leftover pixels of a row, and processors without SSE2, go through the
// scalar pixel functions. All paths give the same bytes.
#include "gfx/blit.h"

#include <atomic>
#include <cstring>

#include "gfx/display.h"
#include "gfx/simd.h"
#include "gfx/draw_queue.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#define QUILLET_BLIT_SSE2 1
#else
#define QUILLET_BLIT_SSE2 0
#endif
// WebAssembly (the browser build) has SSE2 through its SIMD but no AVX2 and no processor check.
#if QUILLET_BLIT_SSE2 && (defined(__GNUC__) || defined(__clang__)) && !defined(__EMSCRIPTEN__)
#include <immintrin.h>
#define QUILLET_BLIT_AVX2 1
#define QUILLET_AVX2 __attribute__((target("avx2")))
#else
#define QUILLET_BLIT_AVX2 0
#endif

struct BlitSpan {
    uint32_t* dst;        // first destination pixel
    const uint32_t* src;  // first source pixel
    int dst_stride;       // words per row
    int src_stride;
    int width;
    int height;
};

// The visible part of a width x height picture at (x, y); 0 when nothing of it is on the screen.
// Source rows are src_stride words apart and columns one word apart, or none for a picture of row
// colours (src_stride 1, one word a row).
static int blit_clip_rows(const uint32_t* pixels, int width, int height, int src_stride, bool row_colours,
                          int x, int y, BlitSpan* span) {
    if (!framebuffer.pixels || !pixels) return 0;
    // 64-bit so that positions near the int limits cannot wrap.
    int64_t px = x, py = y, w = width, h = height, sx = 0, sy = 0;
    if (px < 0) { w += px; sx = -px; px = 0; }
    if (py < 0) { h += py; sy = -py; py = 0; }
    if (px + w > SCREEN_WIDTH) w = SCREEN_WIDTH - px;
    if (py + h > SCREEN_HEIGHT) h = SCREEN_HEIGHT - py;
    if (px > SCREEN_WIDTH || py > SCREEN_HEIGHT || w < 1 || h < 1) return 0;
    span->dst_stride = framebuffer.pitch / 4;
    span->src_stride = src_stride;
    span->dst = framebuffer.pixels + py * span->dst_stride + px;
    span->src = pixels + sy * src_stride + (row_colours ? 0 : sx);
    span->width = (int)w;
    span->height = (int)h;
    return 1;
}

static int blit_clip(const Image* image, int x, int y, BlitSpan* span) {
    return image && blit_clip_rows(image->pixels, image->width, image->height, image->width, false, x, y, span);
}

// ---- scalar pixels ----------------------------------------------------------------------------
// Pairs of bytes in 16-bit lanes (mask 0x00FF00FF): every lane result below 512, so bit 8 marks
// the lanes to clamp.
static inline uint32_t lanes_scale(uint32_t lanes, uint32_t k) { return ((lanes * k) >> 8) & 0x00FF00FFu; }
static inline uint32_t lanes_saturate(uint32_t v) {
    return (v | (((v >> 8) & 0x00010001u) * 0xFFu)) & 0x00FF00FFu;
}

// (S*ks >> 8) + (D*kd >> 8) per byte, clamped; ks or kd of 256 passes that side unscaled.
static inline uint32_t pixel_mix(uint32_t s, uint32_t d, uint32_t ks, uint32_t kd) {
    uint32_t se = s & 0x00FF00FFu, so = (s >> 8) & 0x00FF00FFu;
    uint32_t de = d & 0x00FF00FFu, dod = (d >> 8) & 0x00FF00FFu;
    uint32_t even = (ks == 256 ? se : lanes_scale(se, ks)) + (kd == 256 ? de : lanes_scale(de, kd));
    uint32_t odd = (ks == 256 ? so : lanes_scale(so, ks)) + (kd == 256 ? dod : lanes_scale(dod, kd));
    return lanes_saturate(even) | lanes_saturate(odd) << 8;
}

static inline uint32_t byte_of(uint32_t p, int i) { return (p >> (8 * i)) & 0xFFu; }

template <int MODE>
static inline uint32_t pixel_blit(uint32_t s, uint32_t d, uint32_t o) {
    uint32_t a = ((s >> 24) * o) >> 8;
    switch (MODE) {
    case 0: return pixel_mix(s, d, a, 255 - a);
    case 1: return pixel_mix(s, d, 256, 255 - a);
    case 2: return pixel_mix(s, d, 255 - a, 256);
    case 3: return pixel_mix(s, 0, 255 - a, 256);
    case 4: return pixel_mix(0, d, 256, a);
    case 5: {
        uint32_t r = 0;
        for (int i = 0; i < 4; i++) {
            uint32_t sb = byte_of(s, i), db = byte_of(d, i);
            uint32_t v = ((sb * db) >> 8) + ((db * (255 - a)) >> 8);
            r |= (v > 255 ? 255 : v) << (8 * i);
        }
        return r;
    }
    case 6: {
        uint32_t r = 0;
        for (int i = 0; i < 4; i++) {
            uint32_t sb = byte_of(s, i), db = byte_of(d, i);
            uint32_t v = db + (db - ((sb * db) >> 8));  // never negative: S*D >> 8 <= D
            r |= (v > 255 ? 255 : v) << (8 * i);
        }
        return r;
    }
    default: {
        uint32_t ad = ((d >> 24) * o) >> 8;
        return pixel_mix(s, d, ad, 255 - ad);
    }
    }
}

template <int MODE>
static inline uint32_t pixel_draw(uint32_t s, uint32_t d) {
    if (MODE == 0) return s;
    uint32_t r = 0;
    for (int i = 0; i < 4; i++) {
        uint32_t sb = byte_of(s, i), db = byte_of(d, i), v;
        switch (MODE) {
        case 1: v = sb + db > 255 ? 255 : sb + db; break;
        case 2: v = db > sb ? db - sb : 0; break;
        case 3: v = (sb * db) >> 8; break;
        case 4: v = sb < db ? sb : db; break;
        case 5: v = sb > db ? sb : db; break;
        default: v = (sb + db + 1) >> 1; break;
        }
        r |= v << (8 * i);
    }
    return r;
}

// ROWS: the source is one colour a row (span->src holds it), read once a row instead of once a pixel.
template <int MODE, bool ROWS = false>
static void blit_rows_scalar(const BlitSpan* span, uint32_t opacity) {
    for (int row = 0; row < span->height; row++) {
        uint32_t* d = span->dst + (size_t)row * span->dst_stride;
        const uint32_t* s = span->src + (size_t)row * span->src_stride;
        if constexpr (ROWS) {
            const uint32_t colour = s[0];
            for (int i = 0; i < span->width; i++) d[i] = pixel_blit<MODE>(colour, d[i], opacity);
        } else {
            for (int i = 0; i < span->width; i++) d[i] = pixel_blit<MODE>(s[i], d[i], opacity);
        }
    }
}

template <int MODE>
static void draw_rows_scalar(const BlitSpan* span) {
    for (int row = 0; row < span->height; row++) {
        uint32_t* d = span->dst + (size_t)row * span->dst_stride;
        const uint32_t* s = span->src + (size_t)row * span->src_stride;
        if constexpr (MODE == 0) {
            memmove(d, s, (size_t)span->width * 4);
        } else {
            for (int i = 0; i < span->width; i++) d[i] = pixel_draw<MODE>(s[i], d[i]);
        }
    }
}

#if QUILLET_BLIT_SSE2
// ---- SSE2 -------------------------------------------------------------------------------------
static inline __m128i mul8(__m128i a, __m128i b) { return _mm_srli_epi16(_mm_mullo_epi16(a, b), 8); }

// Blend lanes hold each byte in the high half of a 16-bit lane (x << 8), straight from unpacking
// against zero, so one high multiply gives (x * k) >> 8 exactly for any k up to 255.
static inline __m128i mulhi8(__m128i x8, __m128i k) { return _mm_mulhi_epu16(x8, k); }

// Each pixel's alpha lane copied over its four lanes (two pixels per register).
static inline __m128i alpha_lanes(__m128i v) {
    return _mm_shufflehi_epi16(_mm_shufflelo_epi16(v, 0xFF), 0xFF);
}

// Two pixels; s8 and d8 are bytes << 8, o the opacity in every lane. Results are plain values.
template <int MODE>
static inline __m128i blit_lanes(__m128i s8, __m128i d8, __m128i o) {
    const __m128i full = _mm_set1_epi16(255);
    if constexpr (MODE == 6) {
        __m128i d = _mm_srli_epi16(d8, 8);
        return _mm_sub_epi16(_mm_add_epi16(d, d), mulhi8(s8, d));  // S*D >> 8 never exceeds D
    } else if constexpr (MODE == 5) {
        __m128i ia = _mm_sub_epi16(full, mulhi8(alpha_lanes(s8), o));
        return _mm_add_epi16(mulhi8(s8, _mm_srli_epi16(d8, 8)), mulhi8(d8, ia));
    } else {
        __m128i a = mulhi8(alpha_lanes(MODE == 7 ? d8 : s8), o);
        __m128i ia = _mm_sub_epi16(full, a);
        if constexpr (MODE == 0 || MODE == 7) return _mm_add_epi16(mulhi8(s8, a), mulhi8(d8, ia));
        if constexpr (MODE == 1) return _mm_add_epi16(_mm_srli_epi16(s8, 8), mulhi8(d8, ia));
        if constexpr (MODE == 2) return _mm_add_epi16(mulhi8(s8, ia), _mm_srli_epi16(d8, 8));
        if constexpr (MODE == 3) return mulhi8(s8, ia);
        return mulhi8(d8, a);  // mode 4
    }
}

// ROWS as in blit_rows_scalar: the source lanes are then the same all along the row and are
// worked out once a row (the compiler moves them out of the pixel loop).
template <int MODE, bool ROWS = false>
static void blit_rows_sse2(const BlitSpan* span, uint32_t opacity) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i o = _mm_set1_epi16((short)opacity);
    for (int row = 0; row < span->height; row++) {
        uint32_t* d = span->dst + (size_t)row * span->dst_stride;
        const uint32_t* s = span->src + (size_t)row * span->src_stride;
        const __m128i row_colour = _mm_set1_epi32((int)s[0]);
        int i = 0;
        for (; i + 4 <= span->width; i += 4) {
            __m128i sv = ROWS ? row_colour : _mm_loadu_si128((const __m128i*)(s + i));
            __m128i dv = _mm_loadu_si128((const __m128i*)(d + i));
            __m128i lo = blit_lanes<MODE>(_mm_unpacklo_epi8(zero, sv), _mm_unpacklo_epi8(zero, dv), o);
            __m128i hi = blit_lanes<MODE>(_mm_unpackhi_epi8(zero, sv), _mm_unpackhi_epi8(zero, dv), o);
            _mm_storeu_si128((__m128i*)(d + i), _mm_packus_epi16(lo, hi));  // packus clamps at 255
        }
        for (; i < span->width; i++) d[i] = pixel_blit<MODE>(s[ROWS ? 0 : i], d[i], opacity);
    }
}

template <int MODE>
static inline __m128i draw_bytes(__m128i s, __m128i d) {
    if constexpr (MODE == 1) return _mm_adds_epu8(s, d);
    if constexpr (MODE == 2) return _mm_subs_epu8(d, s);
    if constexpr (MODE == 4) return _mm_min_epu8(s, d);
    if constexpr (MODE == 5) return _mm_max_epu8(s, d);
    if constexpr (MODE == 6) return _mm_avg_epu8(s, d);  // (s + d + 1) >> 1 exactly
    const __m128i zero = _mm_setzero_si128();  // mode 3
    __m128i lo = mul8(_mm_unpacklo_epi8(s, zero), _mm_unpacklo_epi8(d, zero));
    __m128i hi = mul8(_mm_unpackhi_epi8(s, zero), _mm_unpackhi_epi8(d, zero));
    return _mm_packus_epi16(lo, hi);
}

template <int MODE>
static void draw_rows_sse2(const BlitSpan* span) {
    for (int row = 0; row < span->height; row++) {
        uint32_t* d = span->dst + (size_t)row * span->dst_stride;
        const uint32_t* s = span->src + (size_t)row * span->src_stride;
        int i = 0;
        for (; i + 4 <= span->width; i += 4) {
            __m128i sv = _mm_loadu_si128((const __m128i*)(s + i));
            __m128i dv = _mm_loadu_si128((const __m128i*)(d + i));
            _mm_storeu_si128((__m128i*)(d + i), draw_bytes<MODE>(sv, dv));
        }
        for (; i < span->width; i++) d[i] = pixel_draw<MODE>(s[i], d[i]);
    }
}
#endif

#if QUILLET_BLIT_AVX2
// ---- AVX2 -------------------------------------------------------------------------------------
// The SSE2 blends on 256-bit registers; unpacking and packing stay within each 128-bit half, so
// pixel order is kept. The alpha bytes are moved into the high half of their lanes by one byte
// shuffle instead of two word shuffles.
QUILLET_AVX2 static inline __m256i mulhi8_256(__m256i x8, __m256i k) { return _mm256_mulhi_epu16(x8, k); }

template <int MODE>
QUILLET_AVX2 static inline __m256i blit_lanes_256(__m256i s8, __m256i d8, __m256i as8, __m256i o) {
    const __m256i full = _mm256_set1_epi16(255);
    if constexpr (MODE == 6) {
        __m256i d = _mm256_srli_epi16(d8, 8);
        return _mm256_sub_epi16(_mm256_add_epi16(d, d), mulhi8_256(s8, d));
    } else if constexpr (MODE == 5) {
        __m256i ia = _mm256_sub_epi16(full, mulhi8_256(as8, o));
        return _mm256_add_epi16(mulhi8_256(s8, _mm256_srli_epi16(d8, 8)), mulhi8_256(d8, ia));
    } else {
        __m256i a = mulhi8_256(as8, o);
        __m256i ia = _mm256_sub_epi16(full, a);
        if constexpr (MODE == 0 || MODE == 7) return _mm256_add_epi16(mulhi8_256(s8, a), mulhi8_256(d8, ia));
        if constexpr (MODE == 1) return _mm256_add_epi16(_mm256_srli_epi16(s8, 8), mulhi8_256(d8, ia));
        if constexpr (MODE == 2) return _mm256_add_epi16(mulhi8_256(s8, ia), _mm256_srli_epi16(d8, 8));
        if constexpr (MODE == 3) return mulhi8_256(s8, ia);
        return mulhi8_256(d8, a);  // mode 4
    }
}

template <int MODE, bool ROWS = false>
QUILLET_AVX2 static void blit_rows_avx2(const BlitSpan* span, uint32_t opacity) {
    const __m256i zero = _mm256_setzero_si256();
    const __m256i o = _mm256_set1_epi16((short)opacity);
    // Alpha byte of pixel 0 / 1 (low register) and 2 / 3 (high) into the high byte of every lane.
    const __m256i alpha_lo = _mm256_setr_epi8(
        -128, 3, -128, 3, -128, 3, -128, 3, -128, 7, -128, 7, -128, 7, -128, 7,
        -128, 3, -128, 3, -128, 3, -128, 3, -128, 7, -128, 7, -128, 7, -128, 7);
    const __m256i alpha_hi = _mm256_setr_epi8(
        -128, 11, -128, 11, -128, 11, -128, 11, -128, 15, -128, 15, -128, 15, -128, 15,
        -128, 11, -128, 11, -128, 11, -128, 11, -128, 15, -128, 15, -128, 15, -128, 15);
    for (int row = 0; row < span->height; row++) {
        uint32_t* d = span->dst + (size_t)row * span->dst_stride;
        const uint32_t* s = span->src + (size_t)row * span->src_stride;
        const __m256i row_colour = _mm256_set1_epi32((int)s[0]);
        int i = 0;
        for (; i + 8 <= span->width; i += 8) {
            __m256i sv = ROWS ? row_colour : _mm256_loadu_si256((const __m256i*)(s + i));
            __m256i dv = _mm256_loadu_si256((const __m256i*)(d + i));
            __m256i av = MODE == 7 ? dv : sv;
            __m256i lo = blit_lanes_256<MODE>(_mm256_unpacklo_epi8(zero, sv), _mm256_unpacklo_epi8(zero, dv),
                                              _mm256_shuffle_epi8(av, alpha_lo), o);
            __m256i hi = blit_lanes_256<MODE>(_mm256_unpackhi_epi8(zero, sv), _mm256_unpackhi_epi8(zero, dv),
                                              _mm256_shuffle_epi8(av, alpha_hi), o);
            _mm256_storeu_si256((__m256i*)(d + i), _mm256_packus_epi16(lo, hi));
        }
        for (; i < span->width; i++) d[i] = pixel_blit<MODE>(s[ROWS ? 0 : i], d[i], opacity);
    }
}

template <int MODE>
QUILLET_AVX2 static inline __m256i draw_bytes_256(__m256i s, __m256i d) {
    if constexpr (MODE == 1) return _mm256_adds_epu8(s, d);
    if constexpr (MODE == 2) return _mm256_subs_epu8(d, s);
    if constexpr (MODE == 4) return _mm256_min_epu8(s, d);
    if constexpr (MODE == 5) return _mm256_max_epu8(s, d);
    if constexpr (MODE == 6) return _mm256_avg_epu8(s, d);
    const __m256i zero = _mm256_setzero_si256();  // mode 3
    __m256i lo = _mm256_mulhi_epu16(_mm256_unpacklo_epi8(zero, s), _mm256_unpacklo_epi8(d, zero));
    __m256i hi = _mm256_mulhi_epu16(_mm256_unpackhi_epi8(zero, s), _mm256_unpackhi_epi8(d, zero));
    return _mm256_packus_epi16(lo, hi);
}

template <int MODE>
QUILLET_AVX2 static void draw_rows_avx2(const BlitSpan* span) {
    for (int row = 0; row < span->height; row++) {
        uint32_t* d = span->dst + (size_t)row * span->dst_stride;
        const uint32_t* s = span->src + (size_t)row * span->src_stride;
        int i = 0;
        for (; i + 8 <= span->width; i += 8) {
            __m256i sv = _mm256_loadu_si256((const __m256i*)(s + i));
            __m256i dv = _mm256_loadu_si256((const __m256i*)(d + i));
            _mm256_storeu_si256((__m256i*)(d + i), draw_bytes_256<MODE>(sv, dv));
        }
        for (; i < span->width; i++) d[i] = pixel_draw<MODE>(s[i], d[i]);
    }
}

template <bool ROWS>
QUILLET_AVX2 static void blit_span_avx2(const BlitSpan* span, uint32_t opacity, uint32_t mode) {
    switch (mode) {
    case 0: blit_rows_avx2<0, ROWS>(span, opacity); break;
    case 1: blit_rows_avx2<1, ROWS>(span, opacity); break;
    case 2: blit_rows_avx2<2, ROWS>(span, opacity); break;
    case 3: blit_rows_avx2<3, ROWS>(span, opacity); break;
    case 4: blit_rows_avx2<4, ROWS>(span, opacity); break;
    case 5: blit_rows_avx2<5, ROWS>(span, opacity); break;
    case 6: blit_rows_avx2<6, ROWS>(span, opacity); break;
    default: blit_rows_avx2<7, ROWS>(span, opacity); break;
    }
}

QUILLET_AVX2 static void draw_span_avx2(const BlitSpan* span, uint32_t mode) {
    switch (mode) {
    case 0: draw_rows_scalar<0>(span); break;
    case 1: draw_rows_avx2<1>(span); break;
    case 2: draw_rows_avx2<2>(span); break;
    case 3: draw_rows_avx2<3>(span); break;
    case 4: draw_rows_avx2<4>(span); break;
    case 5: draw_rows_avx2<5>(span); break;
    default: draw_rows_avx2<6>(span); break;
    }
}
#endif

template <bool ROWS>
static void blit_span_scalar(const BlitSpan* span, uint32_t opacity, uint32_t mode) {
    switch (mode) {
    case 0: blit_rows_scalar<0, ROWS>(span, opacity); break;
    case 1: blit_rows_scalar<1, ROWS>(span, opacity); break;
    case 2: blit_rows_scalar<2, ROWS>(span, opacity); break;
    case 3: blit_rows_scalar<3, ROWS>(span, opacity); break;
    case 4: blit_rows_scalar<4, ROWS>(span, opacity); break;
    case 5: blit_rows_scalar<5, ROWS>(span, opacity); break;
    case 6: blit_rows_scalar<6, ROWS>(span, opacity); break;
    default: blit_rows_scalar<7, ROWS>(span, opacity); break;
    }
}

static void draw_span_scalar(const BlitSpan* span, uint32_t mode) {
    switch (mode) {
    case 0: draw_rows_scalar<0>(span); break;
    case 1: draw_rows_scalar<1>(span); break;
    case 2: draw_rows_scalar<2>(span); break;
    case 3: draw_rows_scalar<3>(span); break;
    case 4: draw_rows_scalar<4>(span); break;
    case 5: draw_rows_scalar<5>(span); break;
    default: draw_rows_scalar<6>(span); break;
    }
}

#if QUILLET_BLIT_SSE2
template <bool ROWS>
static void blit_span_sse2(const BlitSpan* span, uint32_t opacity, uint32_t mode) {
    switch (mode) {
    case 0: blit_rows_sse2<0, ROWS>(span, opacity); break;
    case 1: blit_rows_sse2<1, ROWS>(span, opacity); break;
    case 2: blit_rows_sse2<2, ROWS>(span, opacity); break;
    case 3: blit_rows_sse2<3, ROWS>(span, opacity); break;
    case 4: blit_rows_sse2<4, ROWS>(span, opacity); break;
    case 5: blit_rows_sse2<5, ROWS>(span, opacity); break;
    case 6: blit_rows_sse2<6, ROWS>(span, opacity); break;
    default: blit_rows_sse2<7, ROWS>(span, opacity); break;
    }
}

static void draw_span_sse2(const BlitSpan* span, uint32_t mode) {
    switch (mode) {
    case 0: draw_rows_scalar<0>(span); break;  // a row copy is memmove's job
    case 1: draw_rows_sse2<1>(span); break;
    case 2: draw_rows_sse2<2>(span); break;
    case 3: draw_rows_sse2<3>(span); break;
    case 4: draw_rows_sse2<4>(span); break;
    case 5: draw_rows_sse2<5>(span); break;
    default: draw_rows_sse2<6>(span); break;
    }
}
#endif

// The routine set follows the program's SIMD level; blit_use_path may lower it further. Atomic:
// the loading screen's thread blits while the main thread's parts may too.
static_assert((int)BLIT_PATH_SCALAR == (int)SIMD_SCALAR && (int)BLIT_PATH_SSE2 == (int)SIMD_SSE2 &&
              (int)BLIT_PATH_AVX2 == (int)SIMD_AVX2);
static std::atomic<int> blit_path{-1};  // -1: no lowering of its own

int blit_current_path(void) {
    int path = blit_path.load(std::memory_order_relaxed);
    int level = simd_level();
    return path >= 0 && path < level ? path : level;
}

int blit_use_path(int path) {
    int best = simd_best_level();
    blit_path.store(path < BLIT_PATH_SCALAR ? BLIT_PATH_SCALAR : path > best ? best : path, std::memory_order_relaxed);
    return blit_current_path();
}

template <bool ROWS>
static void blit_span(const BlitSpan* span, uint32_t opacity, uint32_t mode, int path) {
#if QUILLET_BLIT_AVX2
    if (path == BLIT_PATH_AVX2) return blit_span_avx2<ROWS>(span, opacity, mode);
#endif
#if QUILLET_BLIT_SSE2
    if (path == BLIT_PATH_SSE2) return blit_span_sse2<ROWS>(span, opacity, mode);
#endif
    (void)path;
    blit_span_scalar<ROWS>(span, opacity, mode);
}

static void draw_span(const BlitSpan* span, uint32_t mode, int path) {
#if QUILLET_BLIT_AVX2
    if (path == BLIT_PATH_AVX2) return draw_span_avx2(span, mode);
#endif
#if QUILLET_BLIT_SSE2
    if (path == BLIT_PATH_SSE2) return draw_span_sse2(span, mode);
#endif
    (void)path;
    draw_span_scalar(span, mode);
}

// One blit (kind 0), draw (kind 1) or blit of row colours (kind 2, `colours` one word a row of a
// width x height picture), limited to the calling thread's band: each run of owned rows goes
// through the row routines as a span of its own.
enum { BLIT_KIND_BLIT, BLIT_KIND_DRAW, BLIT_KIND_ROWS };
struct BlitCall {
    const Image* image;
    const uint32_t* colours;
    int width, height;
    int x, y;
    uint32_t opacity, mode, kind;
};

static void blit_call_run(const BlitCall* call) {
    BlitSpan span;
    if (call->kind == BLIT_KIND_ROWS
            ? !blit_clip_rows(call->colours, call->width, call->height, 1, true, call->x, call->y, &span)
            : !blit_clip(call->image, call->x, call->y, &span))
        return;
    const int path = blit_current_path();
    const DrawBand* band = draw_band;
    const int top = (int)((span.dst - framebuffer.pixels) / span.dst_stride), limit = top + span.height;
    int end = top;
    for (int y = draw_band_next_run(band, top, limit, &end); y < limit;
         y = draw_band_next_run(band, end, limit, &end)) {
        BlitSpan part = span;
        part.dst += (size_t)(y - top) * span.dst_stride;
        part.src += (size_t)(y - top) * span.src_stride;
        part.height = end - y;
        if (call->kind == BLIT_KIND_BLIT) blit_span<false>(&part, call->opacity, call->mode, path);
        else if (call->kind == BLIT_KIND_ROWS) blit_span<true>(&part, call->opacity, call->mode, path);
        else draw_span(&part, call->mode, path);
    }
}

static void blit_call_replay(const void* payload) { blit_call_run((const BlitCall*)payload); }

void image_blit(const Image* image, int x, int y, uint32_t opacity, uint32_t mode) {
    if (mode > 7 || !image || !framebuffer.pixels) return;
    BlitCall call = {image, nullptr, 0, 0, x, y, opacity & 0xFFu, mode, BLIT_KIND_BLIT};
    draw_queue_call(blit_call_replay, &call, sizeof call);
}

// Whether the image at (x, y) covers every pixel of the screen.
static bool blit_covers_screen(const Image* image, int x, int y) {
    return x <= 0 && y <= 0 && (int64_t)x + image->width >= SCREEN_WIDTH && (int64_t)y + image->height >= SCREEN_HEIGHT;
}

void image_draw(const Image* image, int x, int y, uint32_t mode) {
    if (mode > 6 || !image || !framebuffer.pixels) return;
    // A copy over every pixel leaves nothing of a held pass to see.
    if (mode == 0 && blit_covers_screen(image, x, y)) draw_queue_drop_held();
    BlitCall call = {image, nullptr, 0, 0, x, y, 0, mode, BLIT_KIND_DRAW};
    draw_queue_call(blit_call_replay, &call, sizeof call);
}

void image_draw_base(const Image* image) {
    if (!image || !framebuffer.pixels) return;
    if (!blit_covers_screen(image, 0, 0)) return image_draw(image, 0, 0, 0);
    draw_queue_drop_held();
    BlitCall call = {image, nullptr, 0, 0, 0, 0, 0, 0, BLIT_KIND_DRAW};
    draw_queue_hold(blit_call_replay, &call, sizeof call);
}

const Image* image_held_base(void) {
    const BlitCall* call = (const BlitCall*)draw_queue_held(blit_call_replay);
    return call ? call->image : nullptr;
}

int image_row_colours(const Image* image, uint32_t* colours) {
    if (!image || !colours) return 0;
    for (int y = 0; y < image->height; y++) {
        const uint32_t* row = image->pixels + (size_t)y * image->width;
        for (int x = 1; x < image->width; x++)
            if (row[x] != row[0]) return 0;
        colours[y] = row[0];
    }
    return 1;
}

void image_blit_rows(const uint32_t* colours, int width, int height, int x, int y, uint32_t opacity, uint32_t mode) {
    if (mode > 7 || !colours || width < 1 || height < 1 || !framebuffer.pixels) return;
    BlitCall call = {nullptr, colours, width, height, x, y, opacity & 0xFFu, mode, BLIT_KIND_ROWS};
    draw_queue_call(blit_call_replay, &call, sizeof call);
}
