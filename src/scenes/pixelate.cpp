// The mosaic layer: at a few section changes the finished picture dissolves into coloured blocks.
// Each block takes the colour sampled near its centre, blended over what is there; blocks are
// done one after another in reading order, each sampled just before it is changed.
#include <cmath>
#include <cstdint>

#include "gfx/display.h"
#include "gfx/simd.h"
#include "gfx/draw_queue.h"
#include "runtime/clock.h"
#include "scenes/pixelate_ops.h"
#include "scenes/scenes.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#define PIXELATE_SSE2 1
#else
#define PIXELATE_SSE2 0
#endif

int layer_pixelate_init(void) { return 0; }
void layer_pixelate_free(void) {}

static inline uint32_t lanes_scale(uint32_t lanes, uint32_t k) { return ((lanes * k) >> 8) & 0x00FF00FFu; }

// (S * a) >> 8 per byte: the block's constant share.
static inline uint32_t pixel_scale(uint32_t s, uint32_t k) {
    return lanes_scale(s & 0x00FF00FFu, k) | lanes_scale((s >> 8) & 0x00FF00FFu, k) << 8;
}

// d = share + (d * kd) >> 8 per byte. The two parts never sum past 255 (a + kd = 255), so no
// clamp is needed.
static void pixelate_run_scalar(uint32_t* d, int n, uint32_t share, uint32_t kd) {
    for (int i = 0; i < n; i++) d[i] = share + pixel_scale(d[i], kd);
}

#if PIXELATE_SSE2
static void pixelate_run_sse2(uint32_t* d, int n, uint32_t share, uint32_t kd) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i k = _mm_set1_epi16((short)kd);
    const __m128i c = _mm_set1_epi32((int)share);
    int i = 0;
    for (; i + 4 <= n; i += 4) {
        __m128i v = _mm_loadu_si128((const __m128i*)(d + i));
        // bytes in the high half of 16-bit lanes, so one high multiply gives (x * k) >> 8
        __m128i lo = _mm_mulhi_epu16(_mm_unpacklo_epi8(zero, v), k);
        __m128i hi = _mm_mulhi_epu16(_mm_unpackhi_epi8(zero, v), k);
        _mm_storeu_si128((__m128i*)(d + i), _mm_add_epi8(_mm_packus_epi16(lo, hi), c));
    }
    pixelate_run_scalar(d + i, n - i, share, kd);
}
#endif

static void pixelate_blocks(int shift, int alpha, int simd) {
    if (!framebuffer.pixels || shift < 1 || shift > 9) return;  // 2^10 is wider than the screen
    draw_queue_flush();  // a block's sample may lie in another thread's rows
    if (alpha < 0) alpha = 0;
    if (alpha > 255) alpha = 255;
    int s = 1 << shift, stride = framebuffer.pitch / 4;
    uint32_t a = (255u * (uint32_t)alpha) >> 8, kd = 255u - a;
    uint32_t* fb = framebuffer.pixels;
    for (int y0 = 0; y0 < SCREEN_HEIGHT; y0 += s) {
        int rows = y0 + s < SCREEN_HEIGHT ? s : SCREEN_HEIGHT - 1 - y0;
        for (int x0 = 0; x0 < SCREEN_WIDTH; x0 += s) {
            int columns = x0 + s < SCREEN_WIDTH ? s : SCREEN_WIDTH - 1 - x0;
            // A sample column past the right edge reads on into the next row, as the blocks always have.
            uint32_t sample = fb[(size_t)(y0 + s / 2 - 1) * stride + (x0 + s / 2 - 1)] | 0xFF000000u;
            uint32_t share = pixel_scale(sample, a);
            for (int r = 0; r < rows; r++) {
                uint32_t* d = fb + (size_t)(y0 + r) * stride + x0;
                if (kd == 1) {
                    // (d * 1) >> 8 is 0: the block is one colour
                    for (int i = 0; i < columns; i++) d[i] = share;
                    continue;
                }
#if PIXELATE_SSE2
                if (simd) {
                    pixelate_run_sse2(d, columns, share, kd);
                    continue;
                }
#endif
                (void)simd;
                pixelate_run_scalar(d, columns, share, kd);
            }
        }
    }
}

void pixelate(int shift, int alpha) { pixelate_blocks(shift, alpha, simd_level() >= SIMD_SSE2); }
void pixelate_scalar(int shift, int alpha) { pixelate_blocks(shift, alpha, 0); }

void layer_pixelate_render(float) {
    int b = clock_beat_index();
    float t = clock_beat();
    int shift, alpha = 255;
    if (b >= 62 && b <= 63) {
        shift = (int)std::floor((t - 62.0f) * 8.0f / 2.0f) + 1;
    } else if (b == 95) {
        float e = t - 95.0f;
        shift = 8;
        alpha = (int)std::floor(e * e * e * e * 255.0f);
    } else if (b >= 96 && b <= 97) {
        shift = 8 - (int)std::floor((t - 96.0f) * 7.0f / 2.0f);
    } else if (b >= 212 && b <= 213) {
        shift = 6;
        alpha = (int)std::floor((t - 212.0f) * 64.0f / 2.0f);
    } else if (b >= 214 && b <= 255) {
        shift = 6;
        alpha = 64;
    } else if (b >= 256 && b <= 257) {
        shift = 9 - (int)std::floor((t - 256.0f) * 8.0f / 2.0f);
    } else {
        return;
    }
    pixelate(shift, alpha);
}
