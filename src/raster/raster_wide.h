// Packed pixel paths: four pixels per step with SSE2 and eight with AVX2 (the latter only when the
// processor has it, chosen at run time). The step, fill_group, is written once against a small set
// of lane operations that each instruction set supplies. Every AVX2 operation used works within its
// two 128-bit halves exactly as its SSE2 twin works on one register, so both give the same bytes,
// and every lane computes what fill_pixel computes for its pixel. Lanes past the end of the run, and
// lanes whose test fails, leave framebuffer and depth alone: the last group of a run is loaded and
// stored only as far as the run goes, so nothing outside the run is read or written. A tile of two
// rows writes its lanes outside the triangle back as it read them; it never reaches past the
// screen's right edge, nor into a row another drawing thread owns.
#pragma once
#include <type_traits>

#include "raster/raster_fill.h"

#if RASTER_HAVE_SSE2

struct LanesSse2 {
    typedef __m128i V;
    enum { N = 4 };
    typedef LanesSse2 Four;  // the lanes of runs and tiles of up to four pixels
    static V zero() { return _mm_setzero_si128(); }
    static V set1(int32_t x) { return _mm_set1_epi32(x); }
    static V set1_16(int16_t x) { return _mm_set1_epi16(x); }
    static V iota() { return _mm_set_epi32(3, 2, 1, 0); }
    // v + step x lane (modulo 2^32), built in registers.
    static V ramp(uint32_t v, uint32_t s) {
        return _mm_set_epi32((int)(v + 3 * s), (int)(v + 2 * s), (int)(v + s), (int)v);
    }
    static V add32(V a, V b) { return _mm_add_epi32(a, b); }
    static V sub32(V a, V b) { return _mm_sub_epi32(a, b); }
    static V add16(V a, V b) { return _mm_add_epi16(a, b); }
    static V sub16(V a, V b) { return _mm_sub_epi16(a, b); }
    static V mullo16(V a, V b) { return _mm_mullo_epi16(a, b); }
    static V madd16(V a, V b) { return _mm_madd_epi16(a, b); }
    static V and_(V a, V b) { return _mm_and_si128(a, b); }
    static V or_(V a, V b) { return _mm_or_si128(a, b); }
    static V andnot(V a, V b) { return _mm_andnot_si128(a, b); }  // ~a & b
    template <int S> static V srai32(V a) { return _mm_srai_epi32(a, S); }
    template <int S> static V srli32(V a) { return _mm_srli_epi32(a, S); }
    template <int S> static V slli32(V a) { return _mm_slli_epi32(a, S); }
    template <int S> static V srli16(V a) { return _mm_srli_epi16(a, S); }
    template <int S> static V srli64(V a) { return _mm_srli_epi64(a, S); }
    template <int S> static V srli_bytes(V a) { return _mm_srli_si128(a, S); }
    template <int S> static V shuffle32(V a) { return _mm_shuffle_epi32(a, S); }
    template <int S> static V shuffle16(V a) { return _mm_shufflehi_epi16(_mm_shufflelo_epi16(a, S), S); }
    static V sll32(V a, int s) { return _mm_sll_epi32(a, _mm_cvtsi32_si128(s)); }
    static V sra32(V a, int s) { return _mm_sra_epi32(a, _mm_cvtsi32_si128(s)); }
    static V cmplt32(V a, V b) { return _mm_cmplt_epi32(a, b); }
    static V cmpgt32(V a, V b) { return _mm_cmpgt_epi32(a, b); }
    static V cmpeq32(V a, V b) { return _mm_cmpeq_epi32(a, b); }
    static int signs(V a) { return _mm_movemask_ps(_mm_castsi128_ps(a)); }
    static V unpacklo8(V a, V b) { return _mm_unpacklo_epi8(a, b); }
    static V unpackhi8(V a, V b) { return _mm_unpackhi_epi8(a, b); }
    static V unpacklo16(V a, V b) { return _mm_unpacklo_epi16(a, b); }
    static V unpacklo32(V a, V b) { return _mm_unpacklo_epi32(a, b); }
    static V unpackhi32(V a, V b) { return _mm_unpackhi_epi32(a, b); }
    static V unpacklo64(V a, V b) { return _mm_unpacklo_epi64(a, b); }
    static V packs32(V a, V b) { return _mm_packs_epi32(a, b); }
    static V packus16(V a, V b) { return _mm_packus_epi16(a, b); }
    static V adds_u8(V a, V b) { return _mm_adds_epu8(a, b); }
    static V loadu(const void* p) { return _mm_loadu_si128((const __m128i*)p); }
    static void storeu(void* p, V v) { _mm_storeu_si128((__m128i*)p, v); }
    // The first n (1..4) words at p, zeros above.
    static V load_n(const void* p, int n) {
        const uint32_t* q = (const uint32_t*)p;
        if (n >= 4) return loadu(p);
        if (n == 1) return _mm_cvtsi32_si128((int)q[0]);
        V lo = _mm_loadl_epi64((const __m128i*)q);
        return n == 2 ? lo : _mm_unpacklo_epi64(lo, _mm_cvtsi32_si128((int)q[2]));
    }
    static void store_n(void* p, V v, int n) {
        uint32_t* q = (uint32_t*)p;
        if (n >= 4) return storeu(p, v);
        if (n == 1) {
            q[0] = (uint32_t)_mm_cvtsi128_si32(v);
            return;
        }
        _mm_storel_epi64((__m128i*)q, v);
        if (n == 3) q[2] = (uint32_t)_mm_cvtsi128_si32(_mm_srli_si128(v, 8));
    }
    // A tile of two columns in two rows: lanes 0-1 at p, lanes 2-3 one screen row below. Only the
    // first `cols` (1 or 2) columns are read or written: the others lie past the screen's edge.
    enum { TILE_W = 2 };
    static V tile_ramp(uint32_t v, uint32_t sx, uint32_t sy) {
        return _mm_set_epi32((int)(v + sx + sy), (int)(v + sy), (int)(v + sx), (int)v);
    }
    static V load_tile(const void* p, int cols) {
        const uint32_t* q = (const uint32_t*)p;
        if (cols >= 2)
            return _mm_unpacklo_epi64(_mm_loadl_epi64((const __m128i*)q),
                                      _mm_loadl_epi64((const __m128i*)(q + SCREEN_WIDTH)));
        return _mm_unpacklo_epi64(_mm_cvtsi32_si128((int)q[0]), _mm_cvtsi32_si128((int)q[SCREEN_WIDTH]));
    }
    static void store_tile(void* p, V v, int cols) {
        uint32_t* q = (uint32_t*)p;
        const V below = _mm_unpackhi_epi64(v, v);
        if (cols >= 2) {
            _mm_storel_epi64((__m128i*)q, v);
            _mm_storel_epi64((__m128i*)(q + SCREEN_WIDTH), below);
            return;
        }
        q[0] = (uint32_t)_mm_cvtsi128_si32(v);
        q[SCREEN_WIDTH] = (uint32_t)_mm_cvtsi128_si32(below);
    }
    // There is no SSE2 gather: four scalar reads at the packed addresses.
    enum { PAIR_GATHER = 0 };
    static V gather(const uint32_t* base, V idx) {
        alignas(16) uint32_t i[4];
        _mm_store_si128((__m128i*)i, idx);
        return _mm_set_epi32((int)base[i[3]], (int)base[i[2]], (int)base[i[1]], (int)base[i[0]]);
    }
};

// WebAssembly (the browser build) has SSE2 through its SIMD but no AVX2.
#if (defined(__GNUC__) || defined(__clang__)) && !defined(__EMSCRIPTEN__)
#include <immintrin.h>
#define RASTER_HAVE_AVX2 1
#define RASTER_AVX2 __attribute__((target("avx2")))

struct LanesAvx2Four;

struct LanesAvx2 {
    // Wrapped: a 256-bit vector is then never passed bare through the generic steps, which are
    // compiled without AVX until they are inlined into an AVX2 filler.
    struct V {
        __m256i v;
    };
    enum { N = 8 };
    // The lower four lanes, for runs that fit in them.
    RASTER_AVX2 static __m128i low(V v) { return _mm256_castsi256_si128(v.v); }
    RASTER_AVX2 static V zero() { return V{_mm256_setzero_si256()}; }
    RASTER_AVX2 static V set1(int32_t x) { return V{_mm256_set1_epi32(x)}; }
    RASTER_AVX2 static V set1_16(int16_t x) { return V{_mm256_set1_epi16(x)}; }
    RASTER_AVX2 static V iota() { return V{_mm256_set_epi32(7, 6, 5, 4, 3, 2, 1, 0)}; }
    // One multiply of the lane numbers rather than eight sums moved into lanes one by one.
    RASTER_AVX2 static V ramp(uint32_t v, uint32_t s) {
        return V{_mm256_add_epi32(_mm256_set1_epi32((int)v),
                                  _mm256_mullo_epi32(_mm256_set1_epi32((int)s), iota().v))};
    }
    RASTER_AVX2 static V add32(V a, V b) { return V{_mm256_add_epi32(a.v, b.v)}; }
    RASTER_AVX2 static V sub32(V a, V b) { return V{_mm256_sub_epi32(a.v, b.v)}; }
    RASTER_AVX2 static V add16(V a, V b) { return V{_mm256_add_epi16(a.v, b.v)}; }
    RASTER_AVX2 static V sub16(V a, V b) { return V{_mm256_sub_epi16(a.v, b.v)}; }
    RASTER_AVX2 static V mullo16(V a, V b) { return V{_mm256_mullo_epi16(a.v, b.v)}; }
    RASTER_AVX2 static V madd16(V a, V b) { return V{_mm256_madd_epi16(a.v, b.v)}; }
    RASTER_AVX2 static V and_(V a, V b) { return V{_mm256_and_si256(a.v, b.v)}; }
    RASTER_AVX2 static V or_(V a, V b) { return V{_mm256_or_si256(a.v, b.v)}; }
    RASTER_AVX2 static V andnot(V a, V b) { return V{_mm256_andnot_si256(a.v, b.v)}; }
    template <int S> RASTER_AVX2 static V srai32(V a) { return V{_mm256_srai_epi32(a.v, S)}; }
    template <int S> RASTER_AVX2 static V srli32(V a) { return V{_mm256_srli_epi32(a.v, S)}; }
    template <int S> RASTER_AVX2 static V slli32(V a) { return V{_mm256_slli_epi32(a.v, S)}; }
    template <int S> RASTER_AVX2 static V srli16(V a) { return V{_mm256_srli_epi16(a.v, S)}; }
    template <int S> RASTER_AVX2 static V srli64(V a) { return V{_mm256_srli_epi64(a.v, S)}; }
    template <int S> RASTER_AVX2 static V srli_bytes(V a) { return V{_mm256_srli_si256(a.v, S)}; }
    template <int S> RASTER_AVX2 static V shuffle32(V a) { return V{_mm256_shuffle_epi32(a.v, S)}; }
    template <int S> RASTER_AVX2 static V shuffle16(V a) {
        return V{_mm256_shufflehi_epi16(_mm256_shufflelo_epi16(a.v, S), S)};
    }
    RASTER_AVX2 static V sll32(V a, int s) { return V{_mm256_sll_epi32(a.v, _mm_cvtsi32_si128(s))}; }
    RASTER_AVX2 static V sra32(V a, int s) { return V{_mm256_sra_epi32(a.v, _mm_cvtsi32_si128(s))}; }
    RASTER_AVX2 static V cmplt32(V a, V b) { return V{_mm256_cmpgt_epi32(b.v, a.v)}; }
    RASTER_AVX2 static V cmpgt32(V a, V b) { return V{_mm256_cmpgt_epi32(a.v, b.v)}; }
    RASTER_AVX2 static V cmpeq32(V a, V b) { return V{_mm256_cmpeq_epi32(a.v, b.v)}; }
    RASTER_AVX2 static int signs(V a) { return _mm256_movemask_ps(_mm256_castsi256_ps(a.v)); }
    RASTER_AVX2 static V unpacklo8(V a, V b) { return V{_mm256_unpacklo_epi8(a.v, b.v)}; }
    RASTER_AVX2 static V unpackhi8(V a, V b) { return V{_mm256_unpackhi_epi8(a.v, b.v)}; }
    RASTER_AVX2 static V unpacklo16(V a, V b) { return V{_mm256_unpacklo_epi16(a.v, b.v)}; }
    RASTER_AVX2 static V unpacklo32(V a, V b) { return V{_mm256_unpacklo_epi32(a.v, b.v)}; }
    RASTER_AVX2 static V unpackhi32(V a, V b) { return V{_mm256_unpackhi_epi32(a.v, b.v)}; }
    RASTER_AVX2 static V unpacklo64(V a, V b) { return V{_mm256_unpacklo_epi64(a.v, b.v)}; }
    RASTER_AVX2 static V packs32(V a, V b) { return V{_mm256_packs_epi32(a.v, b.v)}; }
    RASTER_AVX2 static V packus16(V a, V b) { return V{_mm256_packus_epi16(a.v, b.v)}; }
    RASTER_AVX2 static V adds_u8(V a, V b) { return V{_mm256_adds_epu8(a.v, b.v)}; }
    RASTER_AVX2 static V loadu(const void* p) { return V{_mm256_loadu_si256((const __m256i*)p)}; }
    RASTER_AVX2 static void storeu(void* p, V v) { _mm256_storeu_si256((__m256i*)p, v.v); }
    // Masked lanes are neither read nor written (and cannot fault).
    RASTER_AVX2 static V load_n(const void* p, int n) {
        if (n >= 8) return loadu(p);
        return V{_mm256_maskload_epi32((const int*)p, cmpgt32(set1(n), iota()).v)};
    }
    RASTER_AVX2 static void store_n(void* p, V v, int n) {
        if (n >= 8) return storeu(p, v);
        _mm256_maskstore_epi32((int*)p, cmpgt32(set1(n), iota()).v, v.v);
    }
    RASTER_AVX2 static V gather(const uint32_t* base, V idx) {
        return V{_mm256_i32gather_epi32((const int*)base, idx.v, 4)};
    }
    // The words at idx into *first and the words after them into *second: two gathers of four
    // 64-bit lanes, lanes 0, 1, 4, 5 in one and 2, 3, 6, 7 in the other, so that taking the even
    // and odd words of each half puts every lane back in its place.
    enum { PAIR_GATHER = 1 };
    RASTER_AVX2 static void gather_pair(const uint32_t* base, V idx, V* first, V* second) {
        const __m256i q = _mm256_permute4x64_epi64(idx.v, 0xD8);
        const __m256 a = _mm256_castsi256_ps(
            _mm256_i32gather_epi64((const long long*)base, _mm256_castsi256_si128(q), 4));
        const __m256 b = _mm256_castsi256_ps(
            _mm256_i32gather_epi64((const long long*)base, _mm256_extracti128_si256(q, 1), 4));
        *first = V{_mm256_castps_si256(_mm256_shuffle_ps(a, b, 0x88))};
        *second = V{_mm256_castps_si256(_mm256_shuffle_ps(a, b, 0xDD))};
    }
    typedef LanesAvx2Four Four;
};

// Four lanes inside an AVX2 filler (short runs, small boxes, 2 x 2 tiles): the SSE2 operations, but
// the processor's gather of four instead of four scalar reads. Every lane's index is in its picture,
// masked or not, as the reads it replaces already required.
struct LanesAvx2Four : LanesSse2 {
    typedef LanesAvx2Four Four;
    RASTER_AVX2 static V gather(const uint32_t* base, V idx) {
        return _mm_i32gather_epi32((const int*)base, idx, 4);
    }
    // As LanesAvx2::gather_pair: one gather of four 64-bit lanes, split into even and odd words.
    enum { PAIR_GATHER = 1 };
    RASTER_AVX2 static void gather_pair(const uint32_t* base, V idx, V* first, V* second) {
        const __m256i g = _mm256_i32gather_epi64((const long long*)base, idx, 4);
        const __m128 lo = _mm_castsi128_ps(_mm256_castsi256_si128(g));
        const __m128 hi = _mm_castsi128_ps(_mm256_extracti128_si256(g, 1));
        *first = _mm_castps_si128(_mm_shuffle_ps(lo, hi, 0x88));
        *second = _mm_castps_si128(_mm_shuffle_ps(lo, hi, 0xDD));
    }
};
#else
#define RASTER_HAVE_AVX2 0
#endif

// ---- Generic lane arithmetic, the same for both instruction sets -----------------------------

template <class L> RASTER_INLINE typename L::V lane_lo(typename L::V v) { return L::unpacklo8(v, L::zero()); }
template <class L> RASTER_INLINE typename L::V lane_hi(typename L::V v) { return L::unpackhi8(v, L::zero()); }

// Each byte (p x q) >> 8.
template <class L>
RASTER_INLINE typename L::V lane_mul(typename L::V p, typename L::V q) {
    return L::packus16(L::template srli16<8>(L::mullo16(lane_lo<L>(p), lane_lo<L>(q))),
                       L::template srli16<8>(L::mullo16(lane_hi<L>(p), lane_hi<L>(q))));
}

template <class L>
RASTER_INLINE typename L::V lane_select(typename L::V mask, typename L::V a, typename L::V b) {
    return L::or_(L::and_(mask, a), L::andnot(mask, b));
}

// Limits signed 32-bit lanes to 0..hi.
template <class L>
RASTER_INLINE typename L::V lane_clamp(typename L::V v, int hi) {
    v = L::andnot(L::template srai32<31>(v), v);
    typename L::V h = L::set1(hi);
    return lane_select<L>(L::cmpgt32(v, h), h, v);
}

// A per-pixel 32-bit value (0..255) spread over the four 16-bit channel lanes of its pixel, in the
// layout of lane_lo / lane_hi.
template <class L>
RASTER_INLINE void lane_spread(typename L::V v, typename L::V* lo, typename L::V* hi) {
    typename L::V w = L::packs32(v, v);
    w = L::unpacklo16(w, w);
    *lo = L::unpacklo32(w, w);
    *hi = L::unpackhi32(w, w);
}

template <class L>
RASTER_INLINE typename L::V lane_index(typename L::V x, typename L::V y, int shift) {
    return L::add32(L::sll32(y, shift), x);
}

// Texel column or row: the interpolant's integer part, masked.
template <class L>
RASTER_INLINE typename L::V lane_coord(typename L::V v, int32_t mask) {
    return L::and_(L::template srai32<11>(v), L::set1(mask));
}

// Four interpolated channels packed with the mode's packing.
template <int PACKING, class L>
RASTER_INLINE typename L::V lane_pack(const typename L::V* v) {
    typedef typename L::V V;
    V a = L::template srai32<11>(v[ATTR_A]), r = L::template srai32<11>(v[ATTR_R]);
    V g = L::template srai32<11>(v[ATTR_G]), b = L::template srai32<11>(v[ATTR_B]);
    if constexpr (PACKING == 0) {
        V bytes = L::packus16(L::packs32(b, r), L::packs32(g, a));
        V x = L::unpacklo8(bytes, L::template srli_bytes<8>(bytes));
        return L::unpacklo16(x, L::template srli_bytes<8>(x));
    } else if constexpr (PACKING == 1) {
        V m = L::set1(255);
        return L::or_(L::or_(L::template slli32<24>(a), L::template slli32<16>(L::and_(r, m))),
                      L::or_(L::template slli32<8>(L::and_(g, m)), L::and_(b, m)));
    } else {
        return L::or_(L::or_(L::template slli32<24>(a), L::template slli32<16>(r)),
                      L::or_(L::template slli32<8>(g), b));
    }
}

// Whether the lanes may fetch each texel with its right neighbour in one read: the lane type has a
// 64-bit gather and no lane's column is the texture's last (whose neighbour wraps to column 0).
template <class L>
RASTER_INLINE bool lane_pairs_fit(typename L::V x0, typename L::V wm) {
    if constexpr (L::PAIR_GATHER)
        return L::signs(L::cmpeq32(x0, wm)) == 0;
    else
        return false;
}
template <class L>
RASTER_INLINE void lane_gather_pair(const uint32_t* base, typename L::V idx, typename L::V* first,
                                    typename L::V* second) {
    if constexpr (L::PAIR_GATHER) L::gather_pair(base, idx, first, second);
}

template <class L>
RASTER_INLINE typename L::V lane_bilinear(const RasterFill& f, typename L::V u, typename L::V v) {
    typedef typename L::V V;
    const V frac = L::set1(0x7FF), full = L::set1(2047), one = L::set1(1);
    V fx = L::and_(u, frac), fy = L::and_(v, frac);
    V wm = L::set1(f.tex_wmask), hm = L::set1(f.tex_hmask);
    V x0 = lane_coord<L>(u, f.tex_wmask), y0 = lane_coord<L>(v, f.tex_hmask);
    V x1 = L::and_(L::add32(x0, one), wm), y1 = L::and_(L::add32(y0, one), hm);
    V gx = L::sub32(full, fx), gy = L::sub32(full, fy);
    // Products of two 11-bit values: madd of lanes whose upper halves are zero.
    V w00 = L::template srli32<14>(L::madd16(gx, gy));
    V w10 = L::template srli32<14>(L::madd16(gy, fx));
    V w11 = L::template srli32<14>(L::madd16(fx, fy));
    V w01 = L::sub32(L::sub32(L::sub32(L::set1(255), w00), w10), w11);
    V t00, t10, t11, t01;
    if (lane_pairs_fit<L>(x0, wm)) {
        // Each texel's right neighbour is the next word of its row: one 64-bit read per lane and row.
        lane_gather_pair<L>(f.tex, lane_index<L>(x0, y0, f.tex_shift), &t00, &t10);
        lane_gather_pair<L>(f.tex, lane_index<L>(x0, y1, f.tex_shift), &t01, &t11);
    } else {
        t00 = L::gather(f.tex, lane_index<L>(x0, y0, f.tex_shift));
        t10 = L::gather(f.tex, lane_index<L>(x1, y0, f.tex_shift));
        t11 = L::gather(f.tex, lane_index<L>(x1, y1, f.tex_shift));
        t01 = L::gather(f.tex, lane_index<L>(x0, y1, f.tex_shift));
    }
    V a_lo, a_hi, b_lo, b_hi, c_lo, c_hi, d_lo, d_hi;
    lane_spread<L>(w00, &a_lo, &a_hi);
    lane_spread<L>(w10, &b_lo, &b_hi);
    lane_spread<L>(w11, &c_lo, &c_hi);
    lane_spread<L>(w01, &d_lo, &d_hi);
    V lo = L::add16(L::add16(L::mullo16(lane_lo<L>(t00), a_lo), L::mullo16(lane_lo<L>(t10), b_lo)),
                    L::add16(L::mullo16(lane_lo<L>(t11), c_lo), L::mullo16(lane_lo<L>(t01), d_lo)));
    V hi = L::add16(L::add16(L::mullo16(lane_hi<L>(t00), a_hi), L::mullo16(lane_hi<L>(t10), b_hi)),
                    L::add16(L::mullo16(lane_hi<L>(t11), c_hi), L::mullo16(lane_hi<L>(t01), d_hi)));
    return L::packus16(L::template srli16<8>(lo), L::template srli16<8>(hi));
}

// Dot3 intensity per pixel: biased products of blue, green and red, summed, shifted, limited.
template <int K, class L>
RASTER_INLINE typename L::V lane_dot3(typename L::V n, typename L::V l) {
    typedef typename L::V V;
    const V bias = L::set1_16(64);
    const V rgb = L::template srli64<16>(L::set1(-1));  // blue, green, red of each pixel, not the fourth
    V nl = L::and_(L::sub16(L::template srli16<1>(lane_lo<L>(n)), bias), rgb);
    V nh = L::and_(L::sub16(L::template srli16<1>(lane_hi<L>(n)), bias), rgb);
    V ll = L::sub16(L::template srli16<1>(lane_lo<L>(l)), bias);
    V lh = L::sub16(L::template srli16<1>(lane_hi<L>(l)), bias);
    V sl = L::madd16(nl, ll), sh = L::madd16(nh, lh);  // (b+g, r) per pixel
    sl = L::add32(sl, L::template srli64<32>(sl));
    sh = L::add32(sh, L::template srli64<32>(sh));
    V sum = L::unpacklo64(L::template shuffle32<0x08>(sl), L::template shuffle32<0x08>(sh));
    return lane_clamp<L>(L::template srai32<K>(sum), 255);
}

// Shadow factor lanes: shadowed (stored depth nearer than d) gives dark, otherwise 0xFFFFFFFF.
template <class L>
RASTER_INLINE typename L::V lane_shadow(const RasterFill& f, const typename L::V* v, typename L::V d,
                                        int32_t dark) {
    typedef typename L::V V;
    V sx = lane_clamp<L>(L::template srai32<11>(v[ATTR_EU]), f.shadow_w - 1);
    V sy = lane_clamp<L>(L::template srai32<11>(v[ATTR_EV]), f.shadow_h - 1);
    V idx = L::add32(L::madd16(sy, L::set1(f.shadow_w)), sx);
    V shadowed = L::cmplt32(L::gather((const uint32_t*)f.shadow, idx), d);
    return lane_select<L>(shadowed, L::set1(dark), L::set1(-1));
}

// The lanes of a perspective texel position, divided one by one as fill_pixel divides; *ok holds
// all ones where Q is not zero. For bilinear the quotients keep their 11 fraction bits.
template <uint32_t M, class L>
RASTER_INLINE void lane_perspective(const RasterFill& f, const typename L::V* v, typename L::V* x,
                                    typename L::V* y, typename L::V* ok) {
    alignas(32) int32_t u[L::N], w[L::N], q[L::N], ox[L::N], oy[L::N], good[L::N];
    L::storeu(u, v[ATTR_U]);
    L::storeu(w, v[ATTR_V]);
    L::storeu(q, v[ATTR_Q]);
    for (int i = 0; i < L::N; i++) {
        good[i] = q[i] != 0 ? -1 : 0;
        const int64_t d = q[i] != 0 ? q[i] : 1;
        if constexpr (RasterMode<M>::bilinear) {
            ox[i] = (int32_t)(uint32_t)(uint64_t)(((int64_t)u[i] * 2048) / d);
            oy[i] = (int32_t)(uint32_t)(uint64_t)(((int64_t)w[i] * 2048) / d);
        } else {
            ox[i] = (int32_t)(((int64_t)u[i] / d) & f.tex_wmask);
            oy[i] = (int32_t)(((int64_t)w[i] / d) & f.tex_hmask);
        }
    }
    *x = L::loadu(ox);
    *y = L::loadu(oy);
    *ok = L::loadu(good);
}

// Where a group's lanes lie: the first n pixels of a run in one row, the other lanes neither read
// nor written...
struct PlaceRun {
    int n;
};
// ...or a tile of L::TILE_W columns in two rows, `cols` of them on the screen. A tile's lanes outside
// the triangle are read and written back unchanged: both rows belong to the calling thread.
struct PlaceTile {
    int cols;
};
template <class L>
RASTER_INLINE typename L::V place_load(PlaceRun at, const void* p) { return L::load_n(p, at.n); }
template <class L>
RASTER_INLINE typename L::V place_load(PlaceTile at, const void* p) { return L::load_tile(p, at.cols); }
template <class L>
RASTER_INLINE void place_store(PlaceRun at, void* p, typename L::V v) { L::store_n(p, v, at.n); }
template <class L>
RASTER_INLINE void place_store(PlaceTile at, void* p, typename L::V v) { L::store_tile(p, v, at.cols); }

// One group of pixels at `at`, attributes v in its lanes; pass holds all ones in the lanes of
// covered pixels (at least one).
template <uint32_t M, class L, class P>
RASTER_INLINE void fill_group(const RasterFill& f, P at, uint32_t* fb, int32_t* zb, const typename L::V* v,
                              typename L::V pass) {
    using T = RasterMode<M>;
    typedef typename L::V V;
    constexpr bool tile = std::is_same_v<P, PlaceTile>;
    V d = L::zero(), zold = L::zero();
    if constexpr (T::depth || T::shadow_pass) {
        d = L::template srai32<11>(v[ATTR_DEPTH]);
        zold = place_load<L>(at, zb);
        pass = L::and_(pass, L::cmplt32(d, zold));
    }
    if constexpr (T::shadow_pass) {
        place_store<L>(at, zb, lane_select<L>(pass, d, zold));
        return;
    } else {
        if constexpr (T::depth)
            if (L::signs(pass) == 0) return;
        V p = L::zero();
        if constexpr (T::depth || T::add || T::multiply || T::alpha || T::key || T::perspective || tile)
            p = place_load<L>(at, fb);
        const V colour = L::set1((int32_t)f.colour);
        V out, x = L::zero(), y = L::zero(), tex = L::zero();
        if constexpr (T::bump_only) {
            V b = L::gather(f.bump, lane_index<L>(lane_coord<L>(v[ATTR_U], f.bump_wmask),
                                                  lane_coord<L>(v[ATTR_V], f.bump_hmask), f.bump_shift));
            const V byte = L::set1(255);
            V ex = L::add32(L::template srai32<11>(v[ATTR_EU]), L::and_(L::template srli32<16>(b), byte));
            V ey = L::add32(L::template srai32<11>(v[ATTR_EV]), L::and_(L::template srli32<8>(b), byte));
            out = L::gather(f.env, lane_index<L>(L::and_(ex, L::set1(f.env_wmask)),
                                                 L::and_(ey, L::set1(f.env_hmask)), f.env_shift));
        } else if constexpr (!T::textured) {
            V src = colour;
            if constexpr (T::gouraud) src = lane_pack<T::packing, L>(v);
            if constexpr (T::add) out = L::adds_u8(p, src);
            else if constexpr (T::multiply) out = lane_mul<L>(p, src);
            else if constexpr (T::shadow) out = lane_mul<L>(lane_shadow<L>(f, v, d, 0x40404040), src);
            else out = src;
        } else {
            if constexpr (T::perspective) {
                V ok;
                lane_perspective<M, L>(f, v, &x, &y, &ok);
                pass = L::and_(pass, ok);
                if constexpr (T::bilinear) tex = lane_bilinear<L>(f, x, y);
                else tex = L::gather(f.tex, lane_index<L>(x, y, f.tex_shift));
            } else if constexpr (T::bilinear) {
                tex = lane_bilinear<L>(f, v[ATTR_U], v[ATTR_V]);
            } else {
                if constexpr (T::mipmap) {
                    x = L::and_(L::sra32(L::template srai32<11>(v[ATTR_U]), f.level), L::set1(f.tex_wmask));
                    y = L::and_(L::sra32(L::template srai32<11>(v[ATTR_V]), f.level), L::set1(f.tex_hmask));
                } else {
                    x = lane_coord<L>(v[ATTR_U], f.tex_wmask);
                    y = lane_coord<L>(v[ATTR_V], f.tex_hmask);
                }
                tex = L::gather(f.tex, lane_index<L>(x, y, f.tex_shift));
            }
            if constexpr (T::key) pass = L::andnot(L::cmpeq32(tex, L::set1((int32_t)0xFFFF00FFu)), pass);
            if constexpr (T::dot3) {
                V nrm = L::gather(f.bump, lane_index<L>(x, y, f.bump_shift));
                V l = lane_pack<2, L>(v);
                if constexpr (T::env) {
                    V i4 = lane_dot3<4, L>(nrm, l);
                    V e = L::gather(f.env, lane_index<L>(lane_coord<L>(v[ATTR_EU], f.env_wmask),
                                                         lane_coord<L>(v[ATTR_EV], f.env_hmask), f.env_shift));
                    V la = L::template srai32<11>(v[ATTR_A]);
                    // Taken as unsigned: negative values are huge, so they too become 255.
                    la = lane_select<L>(L::or_(L::cmpgt32(la, L::set1(255)), L::template srai32<31>(la)),
                                        L::set1(255), la);
                    V il, ih, al, ah;
                    lane_spread<L>(i4, &il, &ih);
                    lane_spread<L>(la, &al, &ah);
                    V lo = L::template srli16<8>(L::mullo16(L::template srli16<8>(L::mullo16(lane_lo<L>(tex), il)), al));
                    V hi = L::template srli16<8>(L::mullo16(L::template srli16<8>(L::mullo16(lane_hi<L>(tex), ih)), ah));
                    lo = L::add16(lo, L::template srli16<9>(L::mullo16(lane_lo<L>(e), il)));
                    hi = L::add16(hi, L::template srli16<9>(L::mullo16(lane_hi<L>(e), ih)));
                    out = L::packus16(lo, hi);
                } else {
                    V il, ih;
                    lane_spread<L>(lane_dot3<5, L>(nrm, l), &il, &ih);
                    out = L::packus16(L::template srli16<8>(L::mullo16(lane_lo<L>(tex), il)),
                                      L::template srli16<8>(L::mullo16(lane_hi<L>(tex), ih)));
                }
            } else if constexpr (T::env) {
                V ex = L::template srai32<11>(v[ATTR_EU]), ey = L::template srai32<11>(v[ATTR_EV]);
                if constexpr (T::bump) {
                    V b = L::gather(f.bump, lane_index<L>(x, y, f.bump_shift));
                    const V byte = L::set1(255);
                    ex = L::add32(ex, L::and_(L::template srli32<16>(b), byte));
                    ey = L::add32(ey, L::and_(L::template srli32<8>(b), byte));
                }
                V e = L::gather(f.env, lane_index<L>(L::and_(ex, L::set1(f.env_wmask)),
                                                     L::and_(ey, L::set1(f.env_hmask)), f.env_shift));
                out = L::adds_u8(tex, e);
            } else if constexpr (T::shadow) {
                out = lane_mul<L>(tex, lane_mul<L>(lane_shadow<L>(f, v, d, 0x20202020), colour));
            } else if constexpr (T::alpha) {
                V tl = lane_lo<L>(tex), th = lane_hi<L>(tex);
                V al = L::template shuffle16<0xFF>(tl), ah = L::template shuffle16<0xFF>(th);
                V ol = L::template srli16<8>(L::mullo16(al, lane_lo<L>(colour)));
                V oh = L::template srli16<8>(L::mullo16(ah, lane_hi<L>(colour)));
                const V c255 = L::set1_16(255);
                V lo = L::add16(L::template srli16<8>(L::mullo16(tl, ol)),
                                L::template srli16<8>(L::mullo16(lane_lo<L>(p), L::sub16(c255, ol))));
                V hi = L::add16(L::template srli16<8>(L::mullo16(th, oh)),
                                L::template srli16<8>(L::mullo16(lane_hi<L>(p), L::sub16(c255, oh))));
                out = L::packus16(lo, hi);
            } else {
                V src = tex;
                if constexpr (T::flat) src = lane_mul<L>(tex, colour);
                else if constexpr (T::gouraud) src = lane_mul<L>(tex, lane_pack<T::packing, L>(v));
                if constexpr (T::add) out = L::adds_u8(p, src);
                else out = src;
            }
        }
        if constexpr (T::depth || T::key || T::perspective || tile) {
            out = lane_select<L>(pass, out, p);
            if constexpr (T::depth_write) place_store<L>(at, zb, lane_select<L>(pass, d, zold));
        }
        place_store<L>(at, fb, out);
    }
}

// A run of n covered pixels from fb / zb; row_attr holds the attributes at the run's first pixel.
template <uint32_t M, class L>
RASTER_INLINE void fill_run_lanes(const RasterFill& f, const LaneSteps<L>& s, uint32_t* fb, int32_t* zb,
                                  const uint32_t* first, int n) {
    constexpr uint32_t used = RasterMode<M>::attrs;
#if RASTER_HAVE_AVX2
    if constexpr (L::N == 8) {
        // Most runs of the scenes are a few pixels long: four lanes do them with half the work.
        if (n <= 4) {
            __m128i h[ATTR_COUNT];
            for (int k = 0; k < ATTR_COUNT; k++)
                if (used & (1u << k)) h[k] = _mm_add_epi32(_mm_set1_epi32((int32_t)first[k]), L::low(s.ramp[k]));
            fill_group<M, typename L::Four>(f, PlaceRun{n}, fb, zb, h,
                                            _mm_cmpgt_epi32(_mm_set1_epi32(n), LanesSse2::iota()));
            return;
        }
    }
#endif
    typename L::V v[ATTR_COUNT];
    for (int k = 0; k < ATTR_COUNT; k++)
        if (used & (1u << k)) v[k] = L::add32(L::set1((int32_t)first[k]), s.ramp[k]);
    // Whole groups with their width known, then the masked last one.
    int i = 0;
    for (; i + L::N <= n; i += L::N) {
        fill_group<M, L>(f, PlaceRun{L::N}, fb ? fb + i : nullptr, zb ? zb + i : nullptr, v, L::set1(-1));
        for (int k = 0; k < ATTR_COUNT; k++)
            if (used & (1u << k)) v[k] = L::add32(v[k], s.step[k]);
    }
    if (i < n)
        fill_group<M, L>(f, PlaceRun{n - i}, fb ? fb + i : nullptr, zb ? zb + i : nullptr, v,
                         L::cmpgt32(L::set1(n - i), L::iota()));
}

// Per-triangle constants of the 2 x 2 tiles: each attribute's offsets across a tile's lanes and its
// step from one tile to the next.
struct TileSteps {
    __m128i ramp[ATTR_COUNT], step[ATTR_COUNT];
};

// Two rows drawn together in 2 x 2 tiles: the covered runs [lo0, hi0] of the upper row and [lo1, hi1]
// of the lower (offsets from fb and zb, both runs non-empty); row_attr holds the attributes at offset 0
// of the upper row.
template <uint32_t M, class L>
RASTER_INLINE void fill_pair_tiles(const RasterFill& f, const TileSteps& s, const uint32_t* step_x,
                                   uint32_t* fb, int32_t* zb, const uint32_t* row_attr, int screen_x,
                                   int lo0, int hi0, int lo1, int hi1) {
    constexpr uint32_t used = RasterMode<M>::attrs;
    const int lo = lo0 < lo1 ? lo0 : lo1, hi = hi0 > hi1 ? hi0 : hi1;
    __m128i v[ATTR_COUNT];
    for (int k = 0; k < ATTR_COUNT; k++)
        if (used & (1u << k))
            v[k] = _mm_add_epi32(_mm_set1_epi32((int32_t)(row_attr[k] + step_x[k] * (uint32_t)lo)), s.ramp[k]);
    // Each lane's column against its own row's run, as lo - 1 < column < hi + 1.
    const __m128i below = L::tile_ramp(0, 0, ~0u);  // all ones in the lower row's lanes
    const __m128i first = lane_select<L>(below, _mm_set1_epi32(lo1 - lo - 1), _mm_set1_epi32(lo0 - lo - 1));
    const __m128i last = lane_select<L>(below, _mm_set1_epi32(hi1 - lo + 1), _mm_set1_epi32(hi0 - lo + 1));
    __m128i column = L::tile_ramp(0, 1, 0);
    for (int c = lo; c <= hi; c += 2) {
        const __m128i pass = _mm_and_si128(_mm_cmpgt_epi32(column, first), _mm_cmpgt_epi32(last, column));
        if (L::signs(pass) != 0) {
            const int room = SCREEN_WIDTH - (screen_x + c);
            fill_group<M, L>(f, PlaceTile{room < 2 ? room : 2}, fb ? fb + c : nullptr, zb ? zb + c : nullptr,
                             v, pass);
        }
        column = _mm_add_epi32(column, _mm_set1_epi32(2));
        for (int k = 0; k < ATTR_COUNT; k++)
            if (used & (1u << k)) v[k] = _mm_add_epi32(v[k], s.step[k]);
    }
}

// Whether two rows with runs [lo0, hi0] and [lo1, hi1] take fewer groups as 2 x 2 tiles over both
// than as two runs (with four lanes, or with eight for runs longer than four on the AVX2 path). The
// paired walk's boxes are under two groups wide, so a run takes one group, or two past L::N pixels.
template <class L>
RASTER_INLINE bool fill_tiles_pay(int lo0, int hi0, int lo1, int hi1) {
    const int tiles = ((hi0 > hi1 ? hi0 : hi1) - (lo0 < lo1 ? lo0 : lo1) + 2) >> 1;
    const int groups = 2 + (hi0 - lo0 >= L::N) + (hi1 - lo1 >= L::N);
    if constexpr (L::N == 8) return tiles < groups;
    return tiles <= groups;
}

// One row's run [lo, hi] of the paired walk, row dy of the box from fb_row and zb_row.
template <uint32_t M, class L>
RASTER_INLINE void fill_pair_run(const FillSetup& s, const LaneSteps<L>& steps, uint32_t* fb_row, int32_t* zb_row,
                                 uint32_t dy, int lo, int hi) {
    constexpr uint32_t used = RasterMode<M>::attrs;
    uint32_t first[ATTR_COUNT];
    for (int k = 0; k < ATTR_COUNT; k++)
        if (used & (1u << k)) first[k] = s.start[k] + s.step_y[k] * dy + s.step_x[k] * (uint32_t)lo;
    fill_run_lanes<M, L>(s.f, steps, fb_row ? fb_row + lo : nullptr, zb_row ? zb_row + lo : nullptr, first,
                         hi - lo + 1);
}

// The box walk of fill_rows for narrow boxes, two rows at a time where the calling thread draws
// both, as tiles where they need fewer groups than the two rows' runs. A row's attributes are formed
// from the box's start as start + step_y x dy + step_x x dx (modulo 2^32, as the per-pixel steps
// give them) rather than carried from row to row.
template <uint32_t M, class L, bool WALK>
RASTER_INLINE void fill_rows_paired(const FillSetup& s) {
    using T = RasterMode<M>;
    constexpr uint32_t used = T::attrs;
    int y_first = s.y_first, y_last = s.y_last;
    RowRuns<L, WALK> runs;
    runs.start(s, &y_first, &y_last);
    const size_t origin = (size_t)s.min_y * SCREEN_WIDTH + (size_t)s.min_x;
    uint32_t* fb_box = T::shadow_pass ? nullptr : framebuffer.pixels + origin;
    int32_t* zb_box = nullptr;
    if constexpr (T::shadow_pass) zb_box = depth_buffer2->values + origin;
    else if constexpr (T::depth) zb_box = depth_buffer->values + origin;

    LaneSteps<L> steps;
    TileSteps tiles;
    for (int k = 0; k < ATTR_COUNT; k++) {
        if (used & (1u << k)) {
            steps.ramp[k] = L::ramp(0, s.step_x[k]);
            steps.step[k] = L::set1((int32_t)(s.step_x[k] * (uint32_t)L::N));
            tiles.ramp[k] = LanesSse2::tile_ramp(0, s.step_x[k], s.step_y[k]);
            tiles.step[k] = _mm_set1_epi32((int32_t)(s.step_x[k] * 2u));
        }
    }
    const DrawBand* band = draw_band;
    int y = y_first;
    while (y <= y_last) {
        if (band && !band->owns[y]) {
            // Other threads draw this row: go to this one's next row, with the runs it has there.
            const int next = band->next[y];
            if (next > y_last) break;
            runs.seek(next);
            y = next;
        }
        // This row and the next when this thread draws it too: a tile never holds rows of two bands.
        // The two rows' runs are plain locals, not arrays, so that they stay in registers.
        const bool two = y < y_last && draw_band_owns(band, y + 1);
        int lo0 = 0, hi0 = 0, lo1 = 0, hi1 = 0;
        const bool any0 = runs.next(&lo0, &hi0);
        const bool any1 = two && runs.next(&lo1, &hi1);
        // Attributes count rows from the box's top, where their planes start.
        const uint32_t dy = (uint32_t)(y - s.min_y);
        const size_t at = (size_t)dy * SCREEN_WIDTH;
        uint32_t* fb_row = fb_box ? fb_box + at : nullptr;
        int32_t* zb_row = zb_box ? zb_box + at : nullptr;
        if (any0 && any1 && fill_tiles_pay<L>(lo0, hi0, lo1, hi1)) {
            uint32_t row_attr[ATTR_COUNT];
            for (int k = 0; k < ATTR_COUNT; k++)
                if (used & (1u << k)) row_attr[k] = s.start[k] + s.step_y[k] * dy;
            fill_pair_tiles<M, typename L::Four>(s.f, tiles, s.step_x, fb_row, zb_row, row_attr, s.min_x, lo0, hi0,
                                                 lo1, hi1);
        } else {
            if (any0) fill_pair_run<M, L>(s, steps, fb_row, zb_row, dy, lo0, hi0);
            if (any1)
                fill_pair_run<M, L>(s, steps, fb_row ? fb_row + SCREEN_WIDTH : nullptr,
                                    zb_row ? zb_row + SCREEN_WIDTH : nullptr, dy + 1, lo1, hi1);
        }
        y += two ? 2 : 1;
    }
}

#endif
