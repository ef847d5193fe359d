// image_blit and image_draw: clipping, then one row routine per mode. The SSE2 routines widen
// bytes to 16-bit lanes for the blends (products stay within 255 * 255) and use 8-bit saturating
// lanes for the draws, four pixels per step; the leftover pixels of a row, and processors without
// SSE2, go through the scalar pixel functions, which give the same bytes.
#include "gfx/blit.h"

#include <cstring>

#include "gfx/display.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#define QUILLET_BLIT_SSE2 1
#else
#define QUILLET_BLIT_SSE2 0
#endif

struct BlitSpan {
    uint32_t* dst;        // first destination pixel
    const uint32_t* src;  // first source pixel
    int dst_stride;       // words per row
    int src_stride;
    int width;
    int height;
};

// The visible part of the image at (x, y); 0 when nothing of it is on the screen.
static int blit_clip(const Image* image, int x, int y, BlitSpan* span) {
    if (!framebuffer.pixels) return 0;
    // 64-bit so that positions near the int limits cannot wrap.
    int64_t px = x, py = y, w = image->width, h = image->height, sx = 0, sy = 0;
    if (px < 0) { w += px; sx = -px; px = 0; }
    if (py < 0) { h += py; sy = -py; py = 0; }
    if (px + w > SCREEN_WIDTH) w = SCREEN_WIDTH - px;
    if (py + h > SCREEN_HEIGHT) h = SCREEN_HEIGHT - py;
    if (px > SCREEN_WIDTH || py > SCREEN_HEIGHT || w < 1 || h < 1) return 0;
    span->dst_stride = framebuffer.pitch / 4;
    span->src_stride = image->width;
    span->dst = framebuffer.pixels + py * span->dst_stride + px;
    span->src = image->pixels + sy * image->width + sx;
    span->width = (int)w;
    span->height = (int)h;
    return 1;
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

static inline uint32_t pixel_blit(uint32_t mode, uint32_t s, uint32_t d, uint32_t o) {
    uint32_t a = ((s >> 24) * o) >> 8;
    switch (mode) {
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

static inline uint32_t pixel_draw(uint32_t mode, uint32_t s, uint32_t d) {
    if (mode == 0) return s;
    uint32_t r = 0;
    for (int i = 0; i < 4; i++) {
        uint32_t sb = byte_of(s, i), db = byte_of(d, i), v;
        switch (mode) {
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

static void blit_rows_scalar(const BlitSpan* span, uint32_t opacity, uint32_t mode) {
    for (int row = 0; row < span->height; row++) {
        uint32_t* d = span->dst + (size_t)row * span->dst_stride;
        const uint32_t* s = span->src + (size_t)row * span->src_stride;
        for (int i = 0; i < span->width; i++) d[i] = pixel_blit(mode, s[i], d[i], opacity);
    }
}

static void draw_rows_scalar(const BlitSpan* span, uint32_t mode) {
    for (int row = 0; row < span->height; row++) {
        uint32_t* d = span->dst + (size_t)row * span->dst_stride;
        const uint32_t* s = span->src + (size_t)row * span->src_stride;
        if (mode == 0) {
            memmove(d, s, (size_t)span->width * 4);
            continue;
        }
        for (int i = 0; i < span->width; i++) d[i] = pixel_draw(mode, s[i], d[i]);
    }
}

void image_blit_scalar(const Image* image, int x, int y, uint32_t opacity, uint32_t mode) {
    BlitSpan span;
    if (mode > 7 || !blit_clip(image, x, y, &span)) return;
    blit_rows_scalar(&span, opacity & 0xFFu, mode);
}

void image_draw_scalar(const Image* image, int x, int y, uint32_t mode) {
    BlitSpan span;
    if (mode > 6 || !blit_clip(image, x, y, &span)) return;
    draw_rows_scalar(&span, mode);
}

#if QUILLET_BLIT_SSE2
// ---- SSE2 -------------------------------------------------------------------------------------
static inline __m128i mul8(__m128i a, __m128i b) { return _mm_srli_epi16(_mm_mullo_epi16(a, b), 8); }

// Each pixel's alpha lane copied over its four lanes (two pixels per register).
static inline __m128i alpha_lanes(__m128i v) {
    return _mm_shufflehi_epi16(_mm_shufflelo_epi16(v, 0xFF), 0xFF);
}

// Two pixels in 16-bit lanes; o is the opacity in every lane.
template <int MODE>
static inline __m128i blit_lanes(__m128i s, __m128i d, __m128i o) {
    const __m128i full = _mm_set1_epi16(255);
    if constexpr (MODE == 6) {
        __m128i m = mul8(s, d);
        return _mm_add_epi16(d, _mm_sub_epi16(d, m));  // S*D >> 8 never exceeds D
    } else if constexpr (MODE == 5) {
        __m128i a = mul8(alpha_lanes(s), o);
        return _mm_add_epi16(mul8(s, d), mul8(d, _mm_sub_epi16(full, a)));
    } else {
        __m128i a = mul8(alpha_lanes(MODE == 7 ? d : s), o);
        __m128i ia = _mm_sub_epi16(full, a);
        if constexpr (MODE == 0 || MODE == 7) return _mm_add_epi16(mul8(s, a), mul8(d, ia));
        if constexpr (MODE == 1) return _mm_add_epi16(s, mul8(d, ia));
        if constexpr (MODE == 2) return _mm_add_epi16(mul8(s, ia), d);
        if constexpr (MODE == 3) return mul8(s, ia);
        return mul8(d, a);  // mode 4
    }
}

template <int MODE>
static void blit_rows_sse2(const BlitSpan* span, uint32_t opacity) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i o = _mm_set1_epi16((short)opacity);
    for (int row = 0; row < span->height; row++) {
        uint32_t* d = span->dst + (size_t)row * span->dst_stride;
        const uint32_t* s = span->src + (size_t)row * span->src_stride;
        int i = 0;
        for (; i + 4 <= span->width; i += 4) {
            __m128i sv = _mm_loadu_si128((const __m128i*)(s + i));
            __m128i dv = _mm_loadu_si128((const __m128i*)(d + i));
            __m128i lo = blit_lanes<MODE>(_mm_unpacklo_epi8(sv, zero), _mm_unpacklo_epi8(dv, zero), o);
            __m128i hi = blit_lanes<MODE>(_mm_unpackhi_epi8(sv, zero), _mm_unpackhi_epi8(dv, zero), o);
            _mm_storeu_si128((__m128i*)(d + i), _mm_packus_epi16(lo, hi));  // packus clamps at 255
        }
        for (; i < span->width; i++) d[i] = pixel_blit(MODE, s[i], d[i], opacity);
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
        for (; i < span->width; i++) d[i] = pixel_draw(MODE, s[i], d[i]);
    }
}
#endif

void image_blit(const Image* image, int x, int y, uint32_t opacity, uint32_t mode) {
#if QUILLET_BLIT_SSE2
    BlitSpan span;
    if (mode > 7 || !blit_clip(image, x, y, &span)) return;
    opacity &= 0xFFu;
    switch (mode) {
    case 0: blit_rows_sse2<0>(&span, opacity); break;
    case 1: blit_rows_sse2<1>(&span, opacity); break;
    case 2: blit_rows_sse2<2>(&span, opacity); break;
    case 3: blit_rows_sse2<3>(&span, opacity); break;
    case 4: blit_rows_sse2<4>(&span, opacity); break;
    case 5: blit_rows_sse2<5>(&span, opacity); break;
    case 6: blit_rows_sse2<6>(&span, opacity); break;
    default: blit_rows_sse2<7>(&span, opacity); break;
    }
#else
    image_blit_scalar(image, x, y, opacity, mode);
#endif
}

void image_draw(const Image* image, int x, int y, uint32_t mode) {
#if QUILLET_BLIT_SSE2
    BlitSpan span;
    if (mode > 6 || !blit_clip(image, x, y, &span)) return;
    switch (mode) {
    case 0: draw_rows_scalar(&span, 0); break;  // a row copy is memmove's job
    case 1: draw_rows_sse2<1>(&span); break;
    case 2: draw_rows_sse2<2>(&span); break;
    case 3: draw_rows_sse2<3>(&span); break;
    case 4: draw_rows_sse2<4>(&span); break;
    case 5: draw_rows_sse2<5>(&span); break;
    default: draw_rows_sse2<6>(&span); break;
    }
#else
    image_draw_scalar(image, x, y, mode);
#endif
}
