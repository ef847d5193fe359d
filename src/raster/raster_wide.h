// Four pixels per step with SSE2, for the modes whose whole pixel arithmetic maps onto packed lanes.
// Every lane computes exactly what fill_pixel computes for its pixel; lanes that fail the depth test
// keep the old framebuffer and depth values. Texel reads stay scalar (there is no SSE2 gather), but
// their addresses, the multiplies, blends and saturations are packed.
#pragma once
#include "raster/raster_fill.h"

#if RASTER_HAVE_SSE2

static inline __m128i wide_lo(__m128i v) { return _mm_unpacklo_epi8(v, _mm_setzero_si128()); }
static inline __m128i wide_hi(__m128i v) { return _mm_unpackhi_epi8(v, _mm_setzero_si128()); }

// Each byte (p x q) >> 8, four pixels.
static inline __m128i wide_mul(__m128i p, __m128i q) {
    __m128i lo = _mm_srli_epi16(_mm_mullo_epi16(wide_lo(p), wide_lo(q)), 8);
    __m128i hi = _mm_srli_epi16(_mm_mullo_epi16(wide_hi(p), wide_hi(q)), 8);
    return _mm_packus_epi16(lo, hi);
}

static inline __m128i wide_select(__m128i mask, __m128i a, __m128i b) {
    return _mm_or_si128(_mm_and_si128(mask, a), _mm_andnot_si128(mask, b));
}

// Limits signed 32-bit lanes to 0..hi.
static inline __m128i wide_clamp(__m128i v, int hi) {
    v = _mm_andnot_si128(_mm_srai_epi32(v, 31), v);
    __m128i h = _mm_set1_epi32(hi);
    return wide_select(_mm_cmpgt_epi32(v, h), h, v);
}

// A per-pixel 32-bit value (0..255) spread over the four 16-bit channel lanes of pixels 0,1 / 2,3.
static inline void wide_spread(__m128i v, __m128i* lo, __m128i* hi) {
    __m128i w = _mm_packs_epi32(v, v);  // w0 w1 w2 w3 w0 w1 w2 w3
    w = _mm_unpacklo_epi16(w, w);       // w0 w0 w1 w1 w2 w2 w3 w3
    *lo = _mm_unpacklo_epi32(w, w);
    *hi = _mm_unpackhi_epi32(w, w);
}

static inline __m128i wide_gather(const uint32_t* base, __m128i idx) {
    alignas(16) uint32_t i[4];
    _mm_store_si128((__m128i*)i, idx);
    return _mm_set_epi32((int)base[i[3]], (int)base[i[2]], (int)base[i[1]], (int)base[i[0]]);
}

static inline __m128i wide_index(__m128i x, __m128i y, int shift) {
    return _mm_add_epi32(_mm_sll_epi32(y, _mm_cvtsi32_si128(shift)), x);
}

// Four interpolated channels packed with the mode's packing.
template <int PACKING>
static inline __m128i wide_pack(const __m128i* v) {
    __m128i a = _mm_srai_epi32(v[ATTR_A], 11), r = _mm_srai_epi32(v[ATTR_R], 11);
    __m128i g = _mm_srai_epi32(v[ATTR_G], 11), b = _mm_srai_epi32(v[ATTR_B], 11);
    if constexpr (PACKING == 0) {
        __m128i bytes = _mm_packus_epi16(_mm_packs_epi32(b, r), _mm_packs_epi32(g, a));
        __m128i x = _mm_unpacklo_epi8(bytes, _mm_srli_si128(bytes, 8));
        return _mm_unpacklo_epi16(x, _mm_srli_si128(x, 8));
    } else if constexpr (PACKING == 1) {
        __m128i m = _mm_set1_epi32(255);
        return _mm_or_si128(_mm_or_si128(_mm_slli_epi32(a, 24), _mm_slli_epi32(_mm_and_si128(r, m), 16)),
                            _mm_or_si128(_mm_slli_epi32(_mm_and_si128(g, m), 8), _mm_and_si128(b, m)));
    } else {
        return _mm_or_si128(_mm_or_si128(_mm_slli_epi32(a, 24), _mm_slli_epi32(r, 16)),
                            _mm_or_si128(_mm_slli_epi32(g, 8), b));
    }
}

static inline __m128i wide_bilinear(const RasterFill& f, __m128i u, __m128i v) {
    const __m128i frac = _mm_set1_epi32(0x7FF), full = _mm_set1_epi32(2047);
    __m128i fx = _mm_and_si128(u, frac), fy = _mm_and_si128(v, frac);
    __m128i wm = _mm_set1_epi32(f.tex_wmask), hm = _mm_set1_epi32(f.tex_hmask);
    __m128i x0 = _mm_and_si128(_mm_srai_epi32(u, 11), wm), y0 = _mm_and_si128(_mm_srai_epi32(v, 11), hm);
    __m128i one = _mm_set1_epi32(1);
    __m128i x1 = _mm_and_si128(_mm_add_epi32(x0, one), wm), y1 = _mm_and_si128(_mm_add_epi32(y0, one), hm);
    __m128i gx = _mm_sub_epi32(full, fx), gy = _mm_sub_epi32(full, fy);
    // Products of two 11-bit values: madd of lanes whose upper halves are zero.
    __m128i w00 = _mm_srli_epi32(_mm_madd_epi16(gx, gy), 14);
    __m128i w10 = _mm_srli_epi32(_mm_madd_epi16(gy, fx), 14);
    __m128i w11 = _mm_srli_epi32(_mm_madd_epi16(fx, fy), 14);
    __m128i w01 = _mm_sub_epi32(_mm_sub_epi32(_mm_sub_epi32(_mm_set1_epi32(255), w00), w10), w11);
    __m128i t00 = wide_gather(f.tex, wide_index(x0, y0, f.tex_shift));
    __m128i t10 = wide_gather(f.tex, wide_index(x1, y0, f.tex_shift));
    __m128i t11 = wide_gather(f.tex, wide_index(x1, y1, f.tex_shift));
    __m128i t01 = wide_gather(f.tex, wide_index(x0, y1, f.tex_shift));
    __m128i a_lo, a_hi, b_lo, b_hi, c_lo, c_hi, d_lo, d_hi;
    wide_spread(w00, &a_lo, &a_hi);
    wide_spread(w10, &b_lo, &b_hi);
    wide_spread(w11, &c_lo, &c_hi);
    wide_spread(w01, &d_lo, &d_hi);
    __m128i lo = _mm_add_epi16(_mm_add_epi16(_mm_mullo_epi16(wide_lo(t00), a_lo), _mm_mullo_epi16(wide_lo(t10), b_lo)),
                               _mm_add_epi16(_mm_mullo_epi16(wide_lo(t11), c_lo), _mm_mullo_epi16(wide_lo(t01), d_lo)));
    __m128i hi = _mm_add_epi16(_mm_add_epi16(_mm_mullo_epi16(wide_hi(t00), a_hi), _mm_mullo_epi16(wide_hi(t10), b_hi)),
                               _mm_add_epi16(_mm_mullo_epi16(wide_hi(t11), c_hi), _mm_mullo_epi16(wide_hi(t01), d_hi)));
    return _mm_packus_epi16(_mm_srli_epi16(lo, 8), _mm_srli_epi16(hi, 8));
}

// Dot3 intensity for four pixels: biased products of blue, green and red, summed, shifted, limited.
template <int K>
static inline __m128i wide_dot3(__m128i n, __m128i l) {
    const __m128i bias = _mm_set1_epi16(64), rgb = _mm_set_epi16(0, -1, -1, -1, 0, -1, -1, -1);
    __m128i nl = _mm_and_si128(_mm_sub_epi16(_mm_srli_epi16(wide_lo(n), 1), bias), rgb);
    __m128i nh = _mm_and_si128(_mm_sub_epi16(_mm_srli_epi16(wide_hi(n), 1), bias), rgb);
    __m128i ll = _mm_sub_epi16(_mm_srli_epi16(wide_lo(l), 1), bias);
    __m128i lh = _mm_sub_epi16(_mm_srli_epi16(wide_hi(l), 1), bias);
    __m128i sl = _mm_madd_epi16(nl, ll), sh = _mm_madd_epi16(nh, lh);  // (b+g, r) per pixel
    sl = _mm_add_epi32(sl, _mm_srli_epi64(sl, 32));
    sh = _mm_add_epi32(sh, _mm_srli_epi64(sh, 32));
    __m128i sum = _mm_unpacklo_epi64(_mm_shuffle_epi32(sl, 0x08), _mm_shuffle_epi32(sh, 0x08));
    return wide_clamp(_mm_srai_epi32(sum, K), 255);
}

template <uint32_t M>
constexpr bool wide_supported() {
    using T = RasterMode<M>;
    return !T::perspective && !T::mipmap && !T::key && !T::bump_only && !(T::env && !T::dot3);
}

template <uint32_t M>
static inline int fill_run_wide_sse2(const RasterFill& f, uint32_t* fb, int32_t* zb, uint32_t* a,
                                     const uint32_t* step, int n) {
    using T = RasterMode<M>;
    constexpr uint32_t used = T::attrs;
    if (n < 4) return 0;
    __m128i v[ATTR_COUNT], s4[ATTR_COUNT];
    for (int k = 0; k < ATTR_COUNT; k++) {
        if (used & (1u << k)) {
            v[k] = _mm_set_epi32((int)(a[k] + 3 * step[k]), (int)(a[k] + 2 * step[k]),
                                 (int)(a[k] + step[k]), (int)a[k]);
            s4[k] = _mm_set1_epi32((int)(4 * step[k]));
        }
    }
    const __m128i colour = _mm_set1_epi32((int)f.colour);
    const __m128i ones = _mm_set1_epi32(-1);
    int i = 0;
    for (; i + 4 <= n; i += 4) {
        __m128i pass = ones, d = _mm_setzero_si128(), zold = _mm_setzero_si128();
        if constexpr (T::depth || T::shadow_pass) {
            d = _mm_srai_epi32(v[ATTR_DEPTH], 11);
            zold = _mm_loadu_si128((const __m128i*)(zb + i));
            pass = _mm_cmplt_epi32(d, zold);
        }
        if constexpr (T::shadow_pass) {
            _mm_storeu_si128((__m128i*)(zb + i), wide_select(pass, d, zold));
        } else {
            bool any = true;
            if constexpr (T::depth) any = _mm_movemask_epi8(pass) != 0;
            if (any) {
                __m128i out;
                __m128i x = _mm_setzero_si128(), y = _mm_setzero_si128();
                __m128i tex = _mm_setzero_si128();
                if constexpr (T::textured) {
                    if constexpr (T::bilinear) {
                        tex = wide_bilinear(f, v[ATTR_U], v[ATTR_V]);
                    } else {
                        x = _mm_and_si128(_mm_srai_epi32(v[ATTR_U], 11), _mm_set1_epi32(f.tex_wmask));
                        y = _mm_and_si128(_mm_srai_epi32(v[ATTR_V], 11), _mm_set1_epi32(f.tex_hmask));
                        tex = wide_gather(f.tex, wide_index(x, y, f.tex_shift));
                    }
                }
                __m128i p = _mm_loadu_si128((const __m128i*)(fb + i));
                if constexpr (!T::textured) {
                    __m128i src = colour;
                    if constexpr (T::gouraud) src = wide_pack<T::packing>(v);
                    if constexpr (T::add) out = _mm_adds_epu8(p, src);
                    else if constexpr (T::multiply) out = wide_mul(p, src);
                    else if constexpr (T::shadow) {
                        __m128i sx = wide_clamp(_mm_srai_epi32(v[ATTR_EU], 11), f.shadow_w - 1);
                        __m128i sy = wide_clamp(_mm_srai_epi32(v[ATTR_EV], 11), f.shadow_h - 1);
                        __m128i idx = _mm_add_epi32(_mm_madd_epi16(sy, _mm_set1_epi32(f.shadow_w)), sx);
                        __m128i sh = _mm_cmplt_epi32(wide_gather((const uint32_t*)f.shadow, idx), d);
                        out = wide_mul(wide_select(sh, _mm_set1_epi32(0x40404040), ones), src);
                    } else out = src;
                } else if constexpr (T::dot3) {
                    __m128i nrm = wide_gather(f.bump, wide_index(x, y, f.bump_shift));
                    __m128i l = wide_pack<2>(v);
                    if constexpr (T::env) {
                        __m128i i4 = wide_dot3<4>(nrm, l);
                        __m128i ex = _mm_and_si128(_mm_srai_epi32(v[ATTR_EU], 11), _mm_set1_epi32(f.env_wmask));
                        __m128i ey = _mm_and_si128(_mm_srai_epi32(v[ATTR_EV], 11), _mm_set1_epi32(f.env_hmask));
                        __m128i e = wide_gather(f.env, wide_index(ex, ey, f.env_shift));
                        __m128i la = _mm_srai_epi32(v[ATTR_A], 11);
                        la = wide_select(_mm_or_si128(_mm_cmpgt_epi32(la, _mm_set1_epi32(255)),
                                                      _mm_srai_epi32(la, 31)),
                                         _mm_set1_epi32(255), la);
                        __m128i il, ih, al, ah;
                        wide_spread(i4, &il, &ih);
                        wide_spread(la, &al, &ah);
                        __m128i lo = _mm_srli_epi16(_mm_mullo_epi16(_mm_srli_epi16(_mm_mullo_epi16(wide_lo(tex), il), 8), al), 8);
                        __m128i hi = _mm_srli_epi16(_mm_mullo_epi16(_mm_srli_epi16(_mm_mullo_epi16(wide_hi(tex), ih), 8), ah), 8);
                        lo = _mm_add_epi16(lo, _mm_srli_epi16(_mm_mullo_epi16(wide_lo(e), il), 9));
                        hi = _mm_add_epi16(hi, _mm_srli_epi16(_mm_mullo_epi16(wide_hi(e), ih), 9));
                        out = _mm_packus_epi16(lo, hi);
                    } else {
                        __m128i il, ih;
                        wide_spread(wide_dot3<5>(nrm, l), &il, &ih);
                        out = _mm_packus_epi16(_mm_srli_epi16(_mm_mullo_epi16(wide_lo(tex), il), 8),
                                               _mm_srli_epi16(_mm_mullo_epi16(wide_hi(tex), ih), 8));
                    }
                } else if constexpr (T::shadow) {
                    __m128i sx = wide_clamp(_mm_srai_epi32(v[ATTR_EU], 11), f.shadow_w - 1);
                    __m128i sy = wide_clamp(_mm_srai_epi32(v[ATTR_EV], 11), f.shadow_h - 1);
                    __m128i idx = _mm_add_epi32(_mm_madd_epi16(sy, _mm_set1_epi32(f.shadow_w)), sx);
                    __m128i sh = _mm_cmplt_epi32(wide_gather((const uint32_t*)f.shadow, idx), d);
                    __m128i k = wide_mul(wide_select(sh, _mm_set1_epi32(0x20202020), ones), colour);
                    out = wide_mul(tex, k);
                } else if constexpr (T::alpha) {
                    __m128i tl = wide_lo(tex), th = wide_hi(tex);
                    __m128i al = _mm_shufflehi_epi16(_mm_shufflelo_epi16(tl, 0xFF), 0xFF);
                    __m128i ah = _mm_shufflehi_epi16(_mm_shufflelo_epi16(th, 0xFF), 0xFF);
                    __m128i ol = _mm_srli_epi16(_mm_mullo_epi16(al, wide_lo(colour)), 8);
                    __m128i oh = _mm_srli_epi16(_mm_mullo_epi16(ah, wide_hi(colour)), 8);
                    __m128i c255 = _mm_set1_epi16(255);
                    __m128i lo = _mm_add_epi16(_mm_srli_epi16(_mm_mullo_epi16(tl, ol), 8),
                                               _mm_srli_epi16(_mm_mullo_epi16(wide_lo(p), _mm_sub_epi16(c255, ol)), 8));
                    __m128i hi = _mm_add_epi16(_mm_srli_epi16(_mm_mullo_epi16(th, oh), 8),
                                               _mm_srli_epi16(_mm_mullo_epi16(wide_hi(p), _mm_sub_epi16(c255, oh)), 8));
                    out = _mm_packus_epi16(lo, hi);
                } else {
                    __m128i src = tex;
                    if constexpr (T::flat) src = wide_mul(tex, colour);
                    else if constexpr (T::gouraud) src = wide_mul(tex, wide_pack<T::packing>(v));
                    if constexpr (T::add) out = _mm_adds_epu8(p, src);
                    else out = src;
                }
                if constexpr (T::depth) {
                    out = wide_select(pass, out, p);
                    if constexpr (T::depth_write)
                        _mm_storeu_si128((__m128i*)(zb + i), wide_select(pass, d, zold));
                }
                _mm_storeu_si128((__m128i*)(fb + i), out);
            }
        }
        for (int k = 0; k < ATTR_COUNT; k++)
            if (used & (1u << k)) v[k] = _mm_add_epi32(v[k], s4[k]);
    }
    for (int k = 0; k < ATTR_COUNT; k++)
        if (used & (1u << k)) a[k] += step[k] * (uint32_t)i;
    return i;
}

#endif
