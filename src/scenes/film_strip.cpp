// The film-strip and dancer overlays: frames of two sheets drawn at double size over the whole
// screen. The film strip cross-fades between consecutive cels of a vertical strip of 240-row
// frames; the dancer steps through a 4 x 3 grid of poses, four per beat. Both sheets belong to the
// texture table; this file only keeps pointers.
#include <cmath>
#include <cstdint>
#include <cstring>

#include "gfx/blit.h"
#include "gfx/display.h"
#include "gfx/draw_queue.h"
#include "gfx/image.h"
#include "gfx/simd.h"
#include "runtime/clock.h"
#include "scenes/film_strip_ops.h"
#include "scenes/scenes.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#define FILM_STRIP_SSE2 1
#else
#define FILM_STRIP_SSE2 0
#endif
// WebAssembly (the browser build) has SSE2 through its SIMD but no AVX2 and no processor check.
#if FILM_STRIP_SSE2 && (defined(__GNUC__) || defined(__clang__)) && !defined(__EMSCRIPTEN__)
#include <immintrin.h>
#define FILM_STRIP_AVX2 1
#define FILM_AVX2 __attribute__((target("avx2")))
#else
#define FILM_STRIP_AVX2 0
#endif

enum { FILM_FRAME_ROWS = 240, DOUBLE_MAX_COLUMNS = SCREEN_WIDTH / 2, DOUBLE_MAX_ROWS = SCREEN_HEIGHT / 2 };

static Image* film_strip_image;
static Image* dancer_image;

static const int dancer_frames[12][2] = {
    {0, 0}, {1, 0}, {2, 0}, {3, 0}, {0, 1}, {1, 1}, {2, 1}, {3, 1}, {0, 2}, {1, 2}, {2, 2}, {3, 2},
};

// ---- the doubling blit --------------------------------------------------------------------------

struct DoubleSpan {
    uint32_t* dst;        // screen row 0, column 0
    const uint32_t* src;  // first source pixel of the region
    int dst_stride;       // words per screen row
    int src_stride;
    int columns;          // source columns
    int rows;             // source rows (twice as many screen rows)
    uint32_t opacity;
};

// The region cut to what exists on both sides; 0 when nothing would be drawn.
static int double_span(const Image* image, int src_x, int src_y, int src_w, int src_h, uint32_t opacity,
                       uint32_t mode, DoubleSpan* span) {
    if (!framebuffer.pixels || !image || (mode != 0 && mode != 3)) return 0;
    if (src_x < 0 || src_y < 0 || src_x >= image->width || src_y >= image->height) return 0;
    int columns = src_w < DOUBLE_MAX_COLUMNS ? src_w : DOUBLE_MAX_COLUMNS;
    if (columns > image->width - src_x) columns = image->width - src_x;
    int rows = src_h < DOUBLE_MAX_ROWS ? src_h : DOUBLE_MAX_ROWS;
    if (rows > image->height - src_y) rows = image->height - src_y;
    if (columns < 1 || rows < 1) return 0;
    span->dst = framebuffer.pixels;
    span->dst_stride = framebuffer.pitch / 4;
    span->src = image->pixels + (size_t)src_y * image->width + src_x;
    span->src_stride = image->width;
    span->columns = columns;
    span->rows = rows;
    span->opacity = opacity & 0xFFu;
    return 1;
}

// (x * k) >> 8 on the two bytes held in 16-bit lanes of `lanes` (mask 0x00FF00FF).
static inline uint32_t lanes_scale(uint32_t lanes, uint32_t k) { return ((lanes * k) >> 8) & 0x00FF00FFu; }
static inline uint32_t lanes_saturate(uint32_t v) { return (v | (((v >> 8) & 0x00010001u) * 0xFFu)) & 0x00FF00FFu; }

template <int MODE>
static inline uint32_t double_pixel(uint32_t s, uint32_t d, uint32_t opacity) {
    uint32_t a = ((s >> 24) * opacity) >> 8;
    uint32_t se = s & 0x00FF00FFu, so = (s >> 8) & 0x00FF00FFu;
    if (MODE == 3) return lanes_scale(se, 255 - a) | lanes_scale(so, 255 - a) << 8;
    uint32_t even = lanes_scale(se, a) + lanes_scale(d & 0x00FF00FFu, 255 - a);
    uint32_t odd = lanes_scale(so, a) + lanes_scale((d >> 8) & 0x00FF00FFu, 255 - a);
    return lanes_saturate(even) | lanes_saturate(odd) << 8;
}

// Source columns [from, columns) of one source row onto one screen row d, blended over the left
// pixels of the pairs in l: the screen row itself, or the same row of a background drawn in the
// same pass.
template <int MODE>
static inline void double_row_scalar(uint32_t* d, const uint32_t* l, const uint32_t* s, int from, int columns,
                                     uint32_t opacity) {
    for (int i = from; i < columns; i++) {
        uint32_t r = double_pixel<MODE>(s[i], l[2 * i], opacity);
        d[2 * i] = r;
        d[2 * i + 1] = r;
    }
}

// Every screen row of the calling drawing thread's band that the doubling writes, through
// row(d, l, s): the region's rows, and with a background (a picture covering the screen, drawn in
// the same pass) every row, the background's pixels wherever the region does not reach.
template <typename Row>
static void double_rows(const DoubleSpan* span, const Image* base, Row row) {
    const DrawBand* band = draw_band;
    const int region_rows = span->rows * 2, last = base ? SCREEN_HEIGHT : region_rows;
    for (int r = 0; r < last; r++) {
        if (!draw_band_owns(band, r)) continue;
        uint32_t* d = span->dst + (size_t)r * span->dst_stride;
        const uint32_t* b = base ? base->pixels + (size_t)r * base->width : nullptr;
        int from = 0;
        if (r < region_rows) {
            row(d, b ? b : d, span->src + (size_t)(r / 2) * span->src_stride);
            from = 2 * span->columns;
        }
        if (b) memcpy(d + from, b + from, (size_t)(SCREEN_WIDTH - from) * sizeof(uint32_t));
    }
}

template <int MODE>
static void double_rows_scalar(const DoubleSpan* span, const Image* base) {
    double_rows(span, base, [span](uint32_t* d, const uint32_t* l, const uint32_t* s) {
        double_row_scalar<MODE>(d, l, s, 0, span->columns, span->opacity);
    });
}

// Two spans of equal size in one pass: the second blends over the first's result exactly as a second
// pass would, since each pass reads only the left pixel of a pair, which the first just wrote.
static inline void double_row_two_scalar(uint32_t* d, const uint32_t* s1, const uint32_t* s2, int from,
                                         int columns, uint32_t o1, uint32_t o2) {
    for (int i = from; i < columns; i++) {
        uint32_t r = double_pixel<0>(s2[i], double_pixel<0>(s1[i], d[2 * i], o1), o2);
        d[2 * i] = r;
        d[2 * i + 1] = r;
    }
}

static void double_rows_two_scalar(const DoubleSpan* a, const DoubleSpan* b) {
    const DrawBand* band = draw_band;
    for (int r = 0; r < a->rows * 2; r++) {
        if (!draw_band_owns(band, r)) continue;
        double_row_two_scalar(a->dst + (size_t)r * a->dst_stride, a->src + (size_t)(r / 2) * a->src_stride,
                              b->src + (size_t)(r / 2) * b->src_stride, 0, a->columns, a->opacity, b->opacity);
    }
}

#if FILM_STRIP_SSE2
// Bytes in the high half of 16-bit lanes (x << 8), so one high multiply gives (x * k) >> 8.
static inline __m128i double_lanes(__m128i s8, __m128i d8, __m128i o, int mode) {
    __m128i alpha = _mm_shufflehi_epi16(_mm_shufflelo_epi16(s8, 0xFF), 0xFF);
    __m128i a = _mm_mulhi_epu16(alpha, o);
    __m128i ia = _mm_sub_epi16(_mm_set1_epi16(255), a);
    if (mode == 3) return _mm_mulhi_epu16(s8, ia);
    return _mm_add_epi16(_mm_mulhi_epu16(s8, a), _mm_mulhi_epu16(d8, ia));
}

// Four source pixels per step: the left pixels of the four screen pairs are gathered, blended, and
// each result is written twice.
// Four source pixels blended over four left pixels (mode 0 or 3), packed back to bytes.
static inline __m128i double_quad(__m128i sv, __m128i left, __m128i o, int mode) {
    const __m128i zero = _mm_setzero_si128();
    __m128i lo = double_lanes(_mm_unpacklo_epi8(zero, sv), _mm_unpacklo_epi8(zero, left), o, mode);
    __m128i hi = double_lanes(_mm_unpackhi_epi8(zero, sv), _mm_unpackhi_epi8(zero, left), o, mode);
    return _mm_packus_epi16(lo, hi);  // packus clamps at 255
}

// The left pixels of four screen pairs.
static inline __m128i double_left(const uint32_t* d) {
    __m128i d0 = _mm_loadu_si128((const __m128i*)d);
    __m128i d1 = _mm_loadu_si128((const __m128i*)(d + 4));
    return _mm_castps_si128(_mm_shuffle_ps(_mm_castsi128_ps(d0), _mm_castsi128_ps(d1), _MM_SHUFFLE(2, 0, 2, 0)));
}

static inline void double_store(uint32_t* d, __m128i res) {
    _mm_storeu_si128((__m128i*)d, _mm_unpacklo_epi32(res, res));
    _mm_storeu_si128((__m128i*)(d + 4), _mm_unpackhi_epi32(res, res));
}

static void double_rows_two_sse2(const DoubleSpan* a, const DoubleSpan* b) {
    const __m128i o1 = _mm_set1_epi16((short)a->opacity);
    const __m128i o2 = _mm_set1_epi16((short)b->opacity);
    const DrawBand* band = draw_band;
    for (int r = 0; r < a->rows * 2; r++) {
        if (!draw_band_owns(band, r)) continue;
        uint32_t* d = a->dst + (size_t)r * a->dst_stride;
        const uint32_t* s1 = a->src + (size_t)(r / 2) * a->src_stride;
        const uint32_t* s2 = b->src + (size_t)(r / 2) * b->src_stride;
        int i = 0;
        for (; i + 4 <= a->columns; i += 4) {
            __m128i first = double_quad(_mm_loadu_si128((const __m128i*)(s1 + i)), double_left(d + 2 * i), o1, 0);
            double_store(d + 2 * i, double_quad(_mm_loadu_si128((const __m128i*)(s2 + i)), first, o2, 0));
        }
        double_row_two_scalar(d, s1, s2, i, a->columns, a->opacity, b->opacity);
    }
}

template <int MODE>
static void double_rows_sse2(const DoubleSpan* span, const Image* base) {
    const __m128i o = _mm_set1_epi16((short)span->opacity);
    double_rows(span, base, [span, o](uint32_t* d, const uint32_t* l, const uint32_t* s) {
        int i = 0;
        for (; i + 4 <= span->columns; i += 4)
            double_store(d + 2 * i, double_quad(_mm_loadu_si128((const __m128i*)(s + i)), double_left(l + 2 * i), o, MODE));
        double_row_scalar<MODE>(d, l, s, i, span->columns, span->opacity);
    });
}
#endif

#if FILM_STRIP_AVX2
// The SSE2 steps on eight source pixels (sixteen screen pixels). Unpacking and packing stay within
// each 128-bit half, so the left pixels are gathered in source order first and the results are
// spread back to pairs by a lane swap at the end.
FILM_AVX2 static inline __m256i double_lanes_256(__m256i s8, __m256i d8, __m256i o, int mode) {
    __m256i alpha = _mm256_shufflehi_epi16(_mm256_shufflelo_epi16(s8, 0xFF), 0xFF);
    __m256i a = _mm256_mulhi_epu16(alpha, o);
    __m256i ia = _mm256_sub_epi16(_mm256_set1_epi16(255), a);
    if (mode == 3) return _mm256_mulhi_epu16(s8, ia);
    return _mm256_add_epi16(_mm256_mulhi_epu16(s8, a), _mm256_mulhi_epu16(d8, ia));
}

FILM_AVX2 static inline __m256i double_oct(__m256i sv, __m256i left, __m256i o, int mode) {
    const __m256i zero = _mm256_setzero_si256();
    __m256i lo = double_lanes_256(_mm256_unpacklo_epi8(zero, sv), _mm256_unpacklo_epi8(zero, left), o, mode);
    __m256i hi = double_lanes_256(_mm256_unpackhi_epi8(zero, sv), _mm256_unpackhi_epi8(zero, left), o, mode);
    return _mm256_packus_epi16(lo, hi);
}

// The left pixels of eight screen pairs, in order.
FILM_AVX2 static inline __m256i double_left_256(const uint32_t* d) {
    __m256 d0 = _mm256_castsi256_ps(_mm256_loadu_si256((const __m256i*)d));
    __m256 d1 = _mm256_castsi256_ps(_mm256_loadu_si256((const __m256i*)(d + 8)));
    // Per half: 0 2 from d0, 0 2 from d1, that is pixels 0 2 8 10 | 4 6 12 14; then 0 2 4 6 8 10 12 14.
    __m256i even = _mm256_castps_si256(_mm256_shuffle_ps(d0, d1, _MM_SHUFFLE(2, 0, 2, 0)));
    return _mm256_permute4x64_epi64(even, _MM_SHUFFLE(3, 1, 2, 0));
}

FILM_AVX2 static inline void double_store_256(uint32_t* d, __m256i res) {
    __m256i lo = _mm256_unpacklo_epi32(res, res);  // r0 r0 r1 r1 | r4 r4 r5 r5
    __m256i hi = _mm256_unpackhi_epi32(res, res);  // r2 r2 r3 r3 | r6 r6 r7 r7
    _mm256_storeu_si256((__m256i*)d, _mm256_permute2x128_si256(lo, hi, 0x20));
    _mm256_storeu_si256((__m256i*)(d + 8), _mm256_permute2x128_si256(lo, hi, 0x31));
}

FILM_AVX2 static void double_rows_two_avx2(const DoubleSpan* a, const DoubleSpan* b) {
    const __m256i o1 = _mm256_set1_epi16((short)a->opacity);
    const __m256i o2 = _mm256_set1_epi16((short)b->opacity);
    const DrawBand* band = draw_band;
    for (int r = 0; r < a->rows * 2; r++) {
        if (!draw_band_owns(band, r)) continue;
        uint32_t* d = a->dst + (size_t)r * a->dst_stride;
        const uint32_t* s1 = a->src + (size_t)(r / 2) * a->src_stride;
        const uint32_t* s2 = b->src + (size_t)(r / 2) * b->src_stride;
        int i = 0;
        for (; i + 8 <= a->columns; i += 8) {
            __m256i first = double_oct(_mm256_loadu_si256((const __m256i*)(s1 + i)), double_left_256(d + 2 * i), o1, 0);
            double_store_256(d + 2 * i, double_oct(_mm256_loadu_si256((const __m256i*)(s2 + i)), first, o2, 0));
        }
        double_row_two_scalar(d, s1, s2, i, a->columns, a->opacity, b->opacity);
    }
}

template <int MODE>
FILM_AVX2 static void double_row_avx2(uint32_t* d, const uint32_t* l, const uint32_t* s, int columns, uint32_t opacity) {
    const __m256i o = _mm256_set1_epi16((short)opacity);
    int i = 0;
    for (; i + 8 <= columns; i += 8)
        double_store_256(d + 2 * i, double_oct(_mm256_loadu_si256((const __m256i*)(s + i)), double_left_256(l + 2 * i), o, MODE));
    double_row_scalar<MODE>(d, l, s, i, columns, opacity);
}

template <int MODE>
static void double_rows_avx2(const DoubleSpan* span, const Image* base) {
    double_rows(span, base, [span](uint32_t* d, const uint32_t* l, const uint32_t* s) {
        double_row_avx2<MODE>(d, l, s, span->columns, span->opacity);
    });
}
#endif

struct DoubleCall {
    const Image* image;
    int src_x, src_y, src_w, src_h;
    uint32_t opacity, mode;
    int simd;           // the SIMD level the routines may use
    const Image* base;  // a held background drawn in the same pass, or null
};

static void double_call_replay(const void* payload) {
    const DoubleCall* c = (const DoubleCall*)payload;
    DoubleSpan span;
    if (!double_span(c->image, c->src_x, c->src_y, c->src_w, c->src_h, c->opacity, c->mode, &span)) return;
#if FILM_STRIP_AVX2
    if (c->simd >= SIMD_AVX2) {
        if (c->mode == 0) double_rows_avx2<0>(&span, c->base);
        else double_rows_avx2<3>(&span, c->base);
        return;
    }
#endif
#if FILM_STRIP_SSE2
    if (c->simd >= SIMD_SSE2) {
        if (c->mode == 0) double_rows_sse2<0>(&span, c->base);
        else double_rows_sse2<3>(&span, c->base);
        return;
    }
#endif
    if (c->mode == 0) double_rows_scalar<0>(&span, c->base);
    else double_rows_scalar<3>(&span, c->base);
}

// Drawn by the drawing threads, each in its own rows, when they run. A background held for the
// screen is copied in the same pass: the doubling reads its pixels instead of the screen's.
static void double_call(const Image* image, int src_x, int src_y, int src_w, int src_h, uint32_t opacity,
                        uint32_t mode, int simd) {
    DoubleSpan span;
    if (!double_span(image, src_x, src_y, src_w, src_h, opacity, mode, &span)) return;
    DoubleCall call = {image, src_x, src_y, src_w, src_h, opacity, mode, simd, image_held_base()};
    if (call.base) draw_queue_drop_held();
    draw_queue_call(double_call_replay, &call, sizeof call);
}

void image_blit_double_scalar(const Image* image, int src_x, int src_y, int src_w, int src_h, uint32_t opacity,
                              uint32_t mode) {
    double_call(image, src_x, src_y, src_w, src_h, opacity, mode, 0);
}

void image_blit_double(const Image* image, int src_x, int src_y, int src_w, int src_h, uint32_t opacity,
                       uint32_t mode) {
    double_call(image, src_x, src_y, src_w, src_h, opacity, mode, simd_level());
}

struct DoubleTwoCall {
    const Image* image;
    int src_y_first, src_y_second, src_w, src_h;
    uint32_t opacity_first, opacity_second;
    int simd;  // as in DoubleCall
};

// Mode 0 doubles of two regions: fused when both are cut alike, otherwise as the two plain passes.
static void double_two_replay(const void* payload) {
    const DoubleTwoCall* c = (const DoubleTwoCall*)payload;
    DoubleSpan a, b;
    if (double_span(c->image, 0, c->src_y_first, c->src_w, c->src_h, c->opacity_first, 0, &a) &&
        double_span(c->image, 0, c->src_y_second, c->src_w, c->src_h, c->opacity_second, 0, &b) &&
        a.rows == b.rows && a.columns == b.columns) {
#if FILM_STRIP_AVX2
        if (c->simd >= SIMD_AVX2) {
            double_rows_two_avx2(&a, &b);
            return;
        }
#endif
#if FILM_STRIP_SSE2
        if (c->simd >= SIMD_SSE2) {
            double_rows_two_sse2(&a, &b);
            return;
        }
#endif
        double_rows_two_scalar(&a, &b);
        return;
    }
    DoubleCall first = {c->image, 0, c->src_y_first, c->src_w, c->src_h, c->opacity_first, 0, c->simd, nullptr};
    DoubleCall second = {c->image, 0, c->src_y_second, c->src_w, c->src_h, c->opacity_second, 0, c->simd, nullptr};
    double_call_replay(&first);
    double_call_replay(&second);
}

static void blit_double_two(const Image* image, int src_y_first, int src_y_second, int src_w, int src_h,
                            uint32_t opacity_first, uint32_t opacity_second, int simd) {
    if (!framebuffer.pixels || !image) return;
    DoubleTwoCall call = {image, src_y_first, src_y_second, src_w, src_h, opacity_first, opacity_second, simd};
    draw_queue_call(double_two_replay, &call, sizeof call);
}

void image_blit_double_two_scalar(const Image* image, int src_y_first, int src_y_second, int src_w, int src_h,
                                  uint32_t opacity_first, uint32_t opacity_second) {
    blit_double_two(image, src_y_first, src_y_second, src_w, src_h, opacity_first, opacity_second, 0);
}

void image_blit_double_two(const Image* image, int src_y_first, int src_y_second, int src_w, int src_h,
                           uint32_t opacity_first, uint32_t opacity_second) {
    blit_double_two(image, src_y_first, src_y_second, src_w, src_h, opacity_first, opacity_second, simd_level());
}

// ---- the layers ---------------------------------------------------------------------------------

int layer_film_strip_init(void) {
    film_strip_image = texture_get(TEXTURE_FILMSTRIP);
    dancer_image = texture_get(TEXTURE_DANCING);
    return 0;
}

void layer_film_strip_free(void) {
    film_strip_image = nullptr;
    dancer_image = nullptr;
}

void layer_film_strip_render(float x) {
    int b = clock_beat_index();
    float t = clock_beat();
    // A strip shorter than one frame has no frames to show.
    int n = film_strip_image ? film_strip_image->height / FILM_FRAME_ROWS : 0;
    if (n < 1) return;
    float u, f;
    int p, s;
    if (b < 32) {
        u = t * 2.0f;
        p = 32;
        s = (int)std::floor((u - std::floor(u)) * 24.0f);
    } else if (b >= 188 && b <= 211) {
        u = t / 4.0f;
        if (b < 192) f = (t - 188.0f) / 4.0f;
        else if (b < 208) f = 1.0f;
        else f = 1.0f - (t - 208.0f) / 4.0f;
        p = (int)std::floor(f * 255.0f);
        s = (int)std::floor((u - std::floor(u)) * f * 255.0f);
    } else if (b >= 416 && b <= 433) {
        f = (t - 416.0f) / 18.0f;
        u = t + f * 256.0f;
        p = (int)std::floor(f * 255.0f);
        s = (int)std::floor((x - std::floor(x)) * f * 255.0f);
    } else {
        return;
    }
    // Non-negative remainder, so a clock before zero still picks a frame inside the strip.
    int k = (int)std::floor(u) % n;
    if (k < 0) k += n;
    int w = film_strip_image->width;
    image_blit_double_two(film_strip_image, k * FILM_FRAME_ROWS, ((k + 1) % n) * FILM_FRAME_ROWS, w, FILM_FRAME_ROWS,
                          (uint32_t)(p - s), (uint32_t)s);
}

static int dancer_opacity(int b, float t, float phase) {
    float q = 1.0f - phase;
    float pulse = q * q * q * q;
    int o = 48;
    if (b >= 264 && b <= 271) o = (int)std::floor((t - 264.0f) / 8.0f * 92.0f);
    else if (b >= 272 && b <= 295) o = (int)std::floor(pulse * 128.0f);
    else if (b >= 296 && b <= 311) o = (int)std::floor(pulse * 64.0f) + 128;
    else if (b >= 312 && b <= 319) o = (int)std::floor(pulse * 128.0f);
    return o < 0 ? 0 : o > 255 ? 255 : o;
}

void layer_dancer_render(float) {
    float t = clock_beat();
    if (!dancer_image || t < 16.5f) return;
    int frame = (int)std::floor((t - 16.5f) * 4.0f) % 12;
    int fw = dancer_image->width / 4, fh = dancer_image->height / 3;
    int opacity = dancer_opacity(clock_beat_index(), t, clock_beat_fraction());
    image_blit_double(dancer_image, dancer_frames[frame][0] * fw, dancer_frames[frame][1] * fh, fw, fh,
                      (uint32_t)opacity, 0);
}
