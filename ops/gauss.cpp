// The Gaussian blur and the gauss command.
//
// Each pass filters along one axis with 2R + 1 integer weights, symmetric about
// the centre: a pixel's sum is w[R] times itself plus, for d = 1 .. R, the weight
// at distance d times the sum of its two neighbours at that distance. Neighbours
// beyond the window read as 0, so one loop serves the edges too; only the divisor
// (the weights actually used) differs there. The sum of a pixel is at most 255
// times its divisor, so the division is the exact reciprocal product of the box
// blur (ops/blur_math.h).
#include "ops/gauss.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <new>
#include <type_traits>
#include <vector>

#if defined(__GNUC__) && defined(__x86_64__)
#include <immintrin.h>
#define KQ_GAUSS_AVX2 1
#endif

#include "buffer/image_buffer.h"
#include "interp/command.h"
#include "interp/commands.h"
#include "ops/blur.h"
#include "ops/blur_math.h"
#include "ops/cpu.h"
#include "parallel/parallel.h"

int64_t gauss_half_width(double r) {
    if (!(r >= 1.0) || r >= 2147483648.0) return -1;
    return int64_t(r);
}

std::vector<int32_t> gauss_weights(double r) {
    const int64_t R = gauss_half_width(r);
    std::vector<int32_t> w(size_t(2 * R + 1));
    for (int64_t i = 0; i <= 2 * R; ++i) {
        double d = double(i > R ? i - R : R - i);
        double t = 2.0 * d / r;
        w[size_t(i)] = int32_t(256.0 * std::pow(2.0, -2.0 * (t * t)));
    }
    return w;
}

namespace {

constexpr const char* kTmpName = "sys:GaussOpTmp";

int vector_limit = 2;

// ---- one pass ---------------------------------------------------------------------

// The weights of one pass by distance from the centre, and the divisor of every
// position along the pass.
template <class Real>
struct PassTable {
    int64_t R = 0;
    std::vector<int32_t> wd;     // wd[d], d = 0 .. R, and a 0 after them
    std::vector<int32_t> pairs;  // wd[2j] | wd[2j + 1] << 16, for the vector loops
    std::vector<Real> divisor;   // box_divisor of the weights used at each position

    void make(const std::vector<int32_t>& w, int64_t n) {
        R = int64_t(w.size() / 2);
        wd.assign(size_t(R + 2), 0);
        for (int64_t d = 0; d <= R; ++d) wd[size_t(d)] = w[size_t(R + d)];
        pairs.clear();
        for (int64_t d = 0; d <= R; d += 2)
            pairs.push_back(int32_t(uint32_t(wd[size_t(d)]) | uint32_t(wd[size_t(d + 1)]) << 16));
        // reach[k] = the weights on one side up to distance k.
        std::vector<int64_t> reach(size_t(R + 1), 0);
        for (int64_t d = 1; d <= R; ++d) reach[size_t(d)] = reach[size_t(d - 1)] + wd[size_t(d)];
        divisor.resize(size_t(n));
        for (int64_t i = 0; i < n; ++i) {
            int64_t used = wd[0] + reach[size_t(std::min(i, R))] +
                           reach[size_t(std::min(n - 1 - i, R))];
            divisor[size_t(i)] = box_divisor<Real>(used);
        }
    }
};

// Horizontal sums of one row: c points at the row's first pixel inside a padded
// copy (R zeros on each side), out receives pixels x0 .. x1 - 1.
template <class Acc, class Real>
void row_means(const int16_t* c, const PassTable<Real>& t, uint8_t* out, int64_t x0, int64_t x1) {
    const int32_t* wd = t.wd.data();
    for (int64_t x = x0; x < x1; ++x) {
        Acc s = Acc(wd[0]) * c[x];
        for (int64_t d = 1; d <= t.R; ++d) s += Acc(wd[d]) * Acc(c[x - d] + c[x + d]);
        out[x] = box_mean(s, t.divisor[size_t(x)]);
    }
}

// Vertical sums of one output row: rows[k] is the source row at offset k - R
// (a row of zeros beyond the window); columns x0 .. x1 - 1.
template <class Acc, class Real>
void column_means(const uint8_t* const* rows, const PassTable<Real>& t, Real divisor,
                  Acc* acc, uint8_t* out, int64_t x0, int64_t x1) {
    const int64_t R = t.R;
    const uint8_t* c = rows[R];
    for (int64_t x = x0; x < x1; ++x) acc[x] = Acc(t.wd[0]) * c[x];
    for (int64_t d = 1; d <= R; ++d) {
        const Acc wgt = t.wd[size_t(d)];
        const uint8_t* __restrict a = rows[R - d];
        const uint8_t* __restrict b = rows[R + d];
        for (int64_t x = x0; x < x1; ++x) acc[x] += wgt * Acc(a[x] + b[x]);
    }
    for (int64_t x = x0; x < x1; ++x) out[x] = box_mean(acc[x], divisor);
}

#if KQ_GAUSS_AVX2
// Sixteen pixels at a time: the pairs of tap sums (16-bit) are interleaved and
// multiplied by pairs of weights with vpmaddwd into 32-bit sums. All of it is
// exact integer arithmetic, then the same reciprocal product as the scalar loop.
// Only for float divisors, where every sum fits 32 bits.

// Divides the sums of 16 pixels (lo holds pixels 0-3 and 8-11, hi 4-7 and 12-15,
// as vpunpck leaves them) and stores the 16 bytes.
__attribute__((target("avx2"))) inline void store_means(__m256i lo, __m256i hi, __m256 dlo,
                                                        __m256 dhi, uint8_t* out) {
    __m256i qlo = _mm256_cvttps_epi32(_mm256_mul_ps(_mm256_cvtepi32_ps(lo), dlo));
    __m256i qhi = _mm256_cvttps_epi32(_mm256_mul_ps(_mm256_cvtepi32_ps(hi), dhi));
    __m256i words = _mm256_packs_epi32(qlo, qhi);  // pixels 0-7 | 8-15
    __m256i bytes = _mm256_permute4x64_epi64(_mm256_packus_epi16(words, words), 0x08);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm256_castsi256_si128(bytes));
}

// Adds pair * weights to the two sums; a, b are the tap sums of two distances.
__attribute__((target("avx2"))) inline void madd_pair(__m256i a, __m256i b, int32_t weights,
                                                      __m256i& lo, __m256i& hi) {
    const __m256i wv = _mm256_set1_epi32(weights);
    lo = _mm256_add_epi32(lo, _mm256_madd_epi16(_mm256_unpacklo_epi16(a, b), wv));
    hi = _mm256_add_epi32(hi, _mm256_madd_epi16(_mm256_unpackhi_epi16(a, b), wv));
}

__attribute__((target("avx2"))) inline __m256i load16(const int16_t* p) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}

__attribute__((target("avx2"))) inline __m256i load8(const uint8_t* p) {
    return _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
}

// Row pixels x .. n - 1 from the padded copy, 16 V at a time; returns where it
// stopped. The V vectors of a block share each weight and tap address; the sums
// are exact integers, so any grouping gives the same bytes.
template <int V>
__attribute__((target("avx2"))) int64_t row_means_avx2(const int16_t* c,
                                                       const PassTable<float>& t,
                                                       uint8_t* out, int64_t x, int64_t n) {
    const int64_t R = t.R;
    const int32_t* pairs = t.pairs.data();
    const float* dv = t.divisor.data();
    const __m256i zero = _mm256_setzero_si256();
    for (; x + 16 * V <= n; x += 16 * V) {
        const int16_t* p = c + x;
        __m256i lo[V], hi[V];
        for (int v = 0; v < V; ++v) {
            const int16_t* q = p + 16 * v;
            lo[v] = hi[v] = zero;
            __m256i b = R >= 1 ? _mm256_add_epi16(load16(q - 1), load16(q + 1)) : zero;
            madd_pair(load16(q), b, pairs[0], lo[v], hi[v]);
        }
        int64_t d = 2;
        for (; d + 1 <= R; d += 2) {
            for (int v = 0; v < V; ++v) {
                const int16_t* q = p + 16 * v;
                __m256i a = _mm256_add_epi16(load16(q - d), load16(q + d));
                __m256i b = _mm256_add_epi16(load16(q - d - 1), load16(q + d + 1));
                madd_pair(a, b, pairs[d / 2], lo[v], hi[v]);
            }
        }
        if (d <= R) {
            for (int v = 0; v < V; ++v) {
                const int16_t* q = p + 16 * v;
                madd_pair(_mm256_add_epi16(load16(q - d), load16(q + d)), zero, pairs[d / 2],
                          lo[v], hi[v]);
            }
        }
        for (int v = 0; v < V; ++v) {
            const float* f = dv + x + 16 * v;
            __m256 dlo = _mm256_loadu2_m128(f + 8, f);
            __m256 dhi = _mm256_loadu2_m128(f + 12, f + 4);
            store_means(lo[v], hi[v], dlo, dhi, out + x + 16 * v);
        }
    }
    return x;
}

// One output row of the vertical pass, columns x .. n - 1, 16 V at a time.
template <int V>
__attribute__((target("avx2"))) int64_t column_means_avx2(const uint8_t* const* rows,
                                                          const PassTable<float>& t,
                                                          float divisor, uint8_t* out,
                                                          int64_t x, int64_t n) {
    const int64_t R = t.R;
    const int32_t* pairs = t.pairs.data();
    const __m256i zero = _mm256_setzero_si256();
    const __m256 dv = _mm256_set1_ps(divisor);
    for (; x + 16 * V <= n; x += 16 * V) {
        __m256i lo[V], hi[V];
        {
            const uint8_t *c = rows[R] + x, *u = rows[R - 1] + x, *w = rows[R + 1] + x;
            for (int v = 0; v < V; ++v) {
                lo[v] = hi[v] = zero;
                __m256i b = _mm256_add_epi16(load8(u + 16 * v), load8(w + 16 * v));
                madd_pair(load8(c + 16 * v), b, pairs[0], lo[v], hi[v]);
            }
        }
        int64_t d = 2;
        for (; d + 1 <= R; d += 2) {
            const uint8_t *a0 = rows[R - d] + x, *a1 = rows[R + d] + x;
            const uint8_t *b0 = rows[R - d - 1] + x, *b1 = rows[R + d + 1] + x;
            for (int v = 0; v < V; ++v) {
                __m256i a = _mm256_add_epi16(load8(a0 + 16 * v), load8(a1 + 16 * v));
                __m256i b = _mm256_add_epi16(load8(b0 + 16 * v), load8(b1 + 16 * v));
                madd_pair(a, b, pairs[d / 2], lo[v], hi[v]);
            }
        }
        if (d <= R) {
            const uint8_t *a0 = rows[R - d] + x, *a1 = rows[R + d] + x;
            for (int v = 0; v < V; ++v)
                madd_pair(_mm256_add_epi16(load8(a0 + 16 * v), load8(a1 + 16 * v)), zero,
                          pairs[d / 2], lo[v], hi[v]);
        }
        for (int v = 0; v < V; ++v) store_means(lo[v], hi[v], dv, dv, out + x + 16 * v);
    }
    return x;
}

// The same 32 pixels at a time with AVX-512 (vpdpwssd adds the products in place).
#define KQ_AVX512 __attribute__((target("avx512f,avx512bw,avx512vnni")))

KQ_AVX512 inline void store_means(__m512i lo, __m512i hi, __m512 dlo, __m512 dhi,
                                  uint8_t* out) {
    // (The zero-masked forms: the plain ones trip a false uninitialised warning.)
    const __mmask16 all = 0xFFFF;
    __m512i qlo = _mm512_maskz_cvttps_epi32(
        all, _mm512_mul_ps(_mm512_maskz_cvtepi32_ps(all, lo), dlo));
    __m512i qhi = _mm512_maskz_cvttps_epi32(
        all, _mm512_mul_ps(_mm512_maskz_cvtepi32_ps(all, hi), dhi));
    __m512i words = _mm512_packs_epi32(qlo, qhi);  // pixels in order within each lane
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out),
                        _mm512_maskz_cvtepi16_epi8(__mmask32(0xFFFFFFFF), words));
}

KQ_AVX512 inline void madd_pair(__m512i a, __m512i b, int32_t weights, __m512i& lo,
                                __m512i& hi) {
    const __m512i wv = _mm512_set1_epi32(weights);
    lo = _mm512_dpwssd_epi32(lo, _mm512_unpacklo_epi16(a, b), wv);
    hi = _mm512_dpwssd_epi32(hi, _mm512_unpackhi_epi16(a, b), wv);
}

KQ_AVX512 inline __m512i load32(const int16_t* p) { return _mm512_loadu_si512(p); }

KQ_AVX512 inline __m512i load8x32(const uint8_t* p) {
    return _mm512_cvtepu8_epi16(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)));
}

template <int V>
KQ_AVX512 int64_t row_means_avx512(const int16_t* c, const PassTable<float>& t, uint8_t* out,
                                   int64_t x, int64_t n) {
    const int64_t R = t.R;
    const int32_t* pairs = t.pairs.data();
    const float* dv = t.divisor.data();
    const __m512i zero = _mm512_setzero_si512();
    // Divisors in the order vpunpck leaves the sums: 0-3 8-11 16-19 24-27, and
    // 4-7 12-15 20-23 28-31.
    const __m512i first = _mm512_setr_epi32(0, 1, 2, 3, 8, 9, 10, 11, 16, 17, 18, 19, 24, 25,
                                            26, 27);
    const __m512i second = _mm512_add_epi32(first, _mm512_set1_epi32(4));
    for (; x + 32 * V <= n; x += 32 * V) {
        const int16_t* p = c + x;
        __m512i lo[V], hi[V];
        for (int v = 0; v < V; ++v) {
            const int16_t* q = p + 32 * v;
            lo[v] = hi[v] = zero;
            madd_pair(load32(q), _mm512_add_epi16(load32(q - 1), load32(q + 1)), pairs[0], lo[v],
                      hi[v]);
        }
        int64_t d = 2;
        for (; d + 1 <= R; d += 2) {
            for (int v = 0; v < V; ++v) {
                const int16_t* q = p + 32 * v;
                __m512i a = _mm512_add_epi16(load32(q - d), load32(q + d));
                __m512i b = _mm512_add_epi16(load32(q - d - 1), load32(q + d + 1));
                madd_pair(a, b, pairs[d / 2], lo[v], hi[v]);
            }
        }
        if (d <= R) {
            for (int v = 0; v < V; ++v) {
                const int16_t* q = p + 32 * v;
                madd_pair(_mm512_add_epi16(load32(q - d), load32(q + d)), zero, pairs[d / 2],
                          lo[v], hi[v]);
            }
        }
        for (int v = 0; v < V; ++v) {
            const float* f = dv + x + 32 * v;
            __m512 d0 = _mm512_loadu_ps(f), d1 = _mm512_loadu_ps(f + 16);
            store_means(lo[v], hi[v], _mm512_permutex2var_ps(d0, first, d1),
                        _mm512_permutex2var_ps(d0, second, d1), out + x + 32 * v);
        }
    }
    return x;
}

template <int V>
KQ_AVX512 int64_t column_means_avx512(const uint8_t* const* rows, const PassTable<float>& t,
                                      float divisor, uint8_t* out, int64_t x, int64_t n) {
    const int64_t R = t.R;
    const int32_t* pairs = t.pairs.data();
    const __m512i zero = _mm512_setzero_si512();
    const __m512 dv = _mm512_set1_ps(divisor);
    for (; x + 32 * V <= n; x += 32 * V) {
        __m512i lo[V], hi[V];
        {
            const uint8_t *c = rows[R] + x, *u = rows[R - 1] + x, *w = rows[R + 1] + x;
            for (int v = 0; v < V; ++v) {
                lo[v] = hi[v] = zero;
                __m512i b = _mm512_add_epi16(load8x32(u + 32 * v), load8x32(w + 32 * v));
                madd_pair(load8x32(c + 32 * v), b, pairs[0], lo[v], hi[v]);
            }
        }
        int64_t d = 2;
        for (; d + 1 <= R; d += 2) {
            const uint8_t *a0 = rows[R - d] + x, *a1 = rows[R + d] + x;
            const uint8_t *b0 = rows[R - d - 1] + x, *b1 = rows[R + d + 1] + x;
            for (int v = 0; v < V; ++v) {
                __m512i a = _mm512_add_epi16(load8x32(a0 + 32 * v), load8x32(a1 + 32 * v));
                __m512i b = _mm512_add_epi16(load8x32(b0 + 32 * v), load8x32(b1 + 32 * v));
                madd_pair(a, b, pairs[d / 2], lo[v], hi[v]);
            }
        }
        if (d <= R) {
            const uint8_t *a0 = rows[R - d] + x, *a1 = rows[R + d] + x;
            for (int v = 0; v < V; ++v)
                madd_pair(_mm512_add_epi16(load8x32(a0 + 32 * v), load8x32(a1 + 32 * v)), zero,
                          pairs[d / 2], lo[v], hi[v]);
        }
        for (int v = 0; v < V; ++v) store_means(lo[v], hi[v], dv, dv, out + x + 32 * v);
    }
    return x;
}

// The widest vector loops the processor has: 2 AVX-512 (with VNNI), 1 AVX2, 0 none.
int cpu_vector_level() {
    const CpuFeatures& f = cpu_features();
    return f.avx512_vnni ? 2 : f.avx2 ? 1 : 0;
}
#endif

// The vector loops a pass of divisor type Real may use.
template <class Real>
int vector_level() {
#if KQ_GAUSS_AVX2
    if (std::is_same_v<Real, float>) return std::min(vector_limit, cpu_vector_level());
#endif
    return 0;
}

// The sum and divisor types of a pass, chosen from its total weight (a sum is at
// most 255 times it).
template <class A, class R>
struct Types {
    using Acc = A;
    using Real = R;
};

template <class F>
void with_pass_types(int64_t total, F f) {
    if (total <= kFloatMaxCount)
        f(Types<int32_t, float>{});
    else if (255 * total <= INT32_MAX)
        f(Types<int32_t, double>{});
    else
        f(Types<int64_t, double>{});
}

int64_t total_weight(const std::vector<int32_t>& w) {
    int64_t total = 0;
    for (int32_t v : w) total += v;
    return total;
}

// One row of the horizontal pass; pad holds w + 2R + 16 entries whose first R and
// last R + 16 are 0. s may be o.
template <class Acc, class Real>
void filter_row(const uint8_t* s, uint8_t* o, int64_t w, int16_t* pad,
                const PassTable<Real>& t) {
    int16_t* c = pad + t.R;
    for (int64_t x = 0; x < w; ++x) c[x] = s[x];
    int64_t done = 0;
#if KQ_GAUSS_AVX2
    if constexpr (std::is_same_v<Real, float>) {
        const int level = vector_level<Real>();
        if (level >= 2) done = row_means_avx512<1>(c, t, o, row_means_avx512<2>(c, t, o, done, w), w);
        if (level >= 1) done = row_means_avx2<1>(c, t, o, row_means_avx2<4>(c, t, o, done, w), w);
    }
#endif
    row_means<Acc>(c, t, o, done, w);
}

// Output row r of the vertical pass from rows[k], the source row r + k - R.
template <class Acc, class Real>
void filter_column_row(const uint8_t* const* rows, uint8_t* o, int64_t w, int64_t r, Acc* acc,
                       const PassTable<Real>& t) {
    const Real divisor = t.divisor[size_t(r)];
    int64_t done = 0;
#if KQ_GAUSS_AVX2
    if constexpr (std::is_same_v<Real, float>) {
        const int level = vector_level<Real>();
        if (level >= 2)
            done = column_means_avx512<1>(rows, t, divisor, o,
                                          column_means_avx512<2>(rows, t, divisor, o, done, w), w);
        if (level >= 1)
            done = column_means_avx2<1>(rows, t, divisor, o,
                                        column_means_avx2<4>(rows, t, divisor, o, done, w), w);
    }
#endif
    column_means<Acc>(rows, t, divisor, acc, o, done, w);
}

// Filters a w × h plane (rows top first) along its rows. src may be dst.
template <class Acc, class Real>
void filter_rows(const uint8_t* src, uint8_t* dst, int64_t w, int64_t h,
                 const PassTable<Real>& t) {
    parallel_for(h, rows_for_bytes(w * (t.R + 1)), [&](int64_t r0, int64_t r1) {
        std::vector<int16_t> pad(size_t(w + 2 * t.R + 16), 0);
        for (int64_t r = r0; r < r1; ++r)
            filter_row<Acc>(src + r * w, dst + r * w, w, pad.data(), t);
    });
}

// Filters a w × h plane along its columns. src must not be dst.
template <class Acc, class Real>
void filter_columns(const uint8_t* src, uint8_t* dst, int64_t w, int64_t h,
                    const PassTable<Real>& t) {
    const int64_t R = t.R;
    std::vector<uint8_t> zero_row(size_t(w), 0);
    parallel_for(h, rows_for_bytes(w * (R + 1)), [&](int64_t r0, int64_t r1) {
        std::vector<const uint8_t*> rows(size_t(2 * R + 1));
        std::vector<Acc> acc(static_cast<size_t>(w));
        for (int64_t r = r0; r < r1; ++r) {
            for (int64_t k = 0; k <= 2 * R; ++k) {
                int64_t y = r + k - R;
                rows[size_t(k)] = y >= 0 && y < h ? src + y * w : zero_row.data();
            }
            filter_column_row<Acc>(rows.data(), dst + r * w, w, r, acc.data(), t);
        }
    });
}

void copy_plane(const ImageBuffer& src, ImageBuffer& dst, int p) {
    if (src.plane[p] != dst.plane[p] && src.plane_size() > 0)
        std::memmove(dst.plane[p], src.plane[p], size_t(src.plane_size()));
}

// Filters the masked planes along one axis with weights w, the others copied.
template <class Acc, class Real>
void filter_planes(const ImageBuffer& src, ImageBuffer& dst, const std::vector<int32_t>& w,
                   int mask, bool vertical) {
    const int64_t width = src.width, height = src.height;
    PassTable<Real> t;
    t.make(w, vertical ? height : width);
    std::vector<uint8_t> copy;
    for (int p = 0; p < src.components; ++p) {
        if (!(mask & (1 << p))) {
            copy_plane(src, dst, p);
            continue;
        }
        if (!vertical) {
            filter_rows<Acc>(src.plane[p], dst.plane[p], width, height, t);
            continue;
        }
        const uint8_t* from = src.plane[p];
        if (from == dst.plane[p]) {  // a pass into its own source reads the unwritten rows
            copy.assign(from, from + src.plane_size());
            from = copy.data();
        }
        filter_columns<Acc>(from, dst.plane[p], width, height, t);
    }
}

// Both passes at once, for when both are known to succeed: the horizontal pass
// fills a ring of the 2Ry + 1 rows the vertical pass needs next, so the image
// between the passes never goes through memory. Row y of the ring is made before
// output row y - Ry is written, so src may be dst.
template <class AccX, class RealX, class AccY, class RealY>
void filter_planes_fused(const ImageBuffer& src, ImageBuffer& dst, const std::vector<int32_t>& wx,
                         const std::vector<int32_t>& wy, int mask) {
    const int64_t w = src.width, h = src.height;
    PassTable<RealX> tx;
    PassTable<RealY> ty;
    tx.make(wx, w);
    ty.make(wy, h);
    const int64_t Ry = ty.R, span = 2 * Ry + 1;
    std::vector<uint8_t> zero_row(size_t(w), 0);
    for (int p = 0; p < src.components; ++p) {
        if (!(mask & (1 << p))) {
            copy_plane(src, dst, p);
            continue;
        }
        const uint8_t* in = src.plane[p];
        uint8_t* out = dst.plane[p];
        // Each range of output rows makes the horizontal rows it needs itself (the
        // 2·Ry rows at its edges are made twice, identically). Into its own source
        // a plane runs as one range, which reads every row before it is written.
        const int64_t grain = in == out ? kOneRange : rows_for_bytes(w * (tx.R + Ry + 2));
        parallel_for(h, grain, [&](int64_t r0, int64_t r1) {
            std::vector<int16_t> pad(size_t(w + 2 * tx.R + 16), 0);
            std::vector<uint8_t> ring(size_t(span * w));
            std::vector<const uint8_t*> rows(static_cast<size_t>(span));
            std::vector<AccY> acc(static_cast<size_t>(w));
            int64_t made = std::max<int64_t>(0, r0 - Ry);  // next horizontal row to make
            for (int64_t r = r0; r < r1; ++r) {
                for (; made <= std::min(h - 1, r + Ry); ++made)
                    filter_row<AccX>(in + made * w, ring.data() + (made % span) * w, w,
                                     pad.data(), tx);
                for (int64_t k = 0; k < span; ++k) {
                    int64_t y = r + k - Ry;
                    rows[size_t(k)] =
                        y >= 0 && y < h ? ring.data() + (y % span) * w : zero_row.data();
                }
                filter_column_row<AccY>(rows.data(), out + r * w, w, r, acc.data(), ty);
            }
        });
    }
}

// The half-width of a pass that will succeed on n pixels along it, else 0.
int64_t passing_half_width(double r, int64_t lo, int64_t hi) {
    int64_t R = gauss_half_width(r);
    return R >= 1 && lo + R < hi - R ? R : 0;
}

// One pass from src to dst (same geometry, dst with at least src's planes).
int gauss_pass(const ImageBuffer& src, ImageBuffer& dst, double r, int mask, bool vertical) {
    if (r == 0.0) {
        for (int p = 0; p < src.components; ++p) copy_plane(src, dst, p);
        return 1;
    }
    const int64_t R = gauss_half_width(r);
    if (R < 1) {
        std::fputs("ERROR : Can't generate gauss table\n", stderr);
        return 0;
    }
    const Rect box = src.rect();
    const int64_t lo = vertical ? box.y1 : box.x1, hi = vertical ? box.y2 : box.x2;
    if (lo + R >= hi - R) {
        std::fprintf(stderr, "ERROR : Too big gauss radius%c %d\n", vertical ? 'Y' : 'X', int(R));
        std::fputs("        Could you change small radius\n", stderr);
        std::fprintf(stderr, "        current buffer's max = %d\n",
                     ((vertical ? src.height : src.width) - 1) / 2);
        return 0;
    }
    std::vector<int32_t> w;
    try {
        w = gauss_weights(r);
    } catch (const std::bad_alloc&) {
        std::fputs("ERROR : Can't generate gauss table\n", stderr);
        return 0;
    }
    try {
        with_pass_types(total_weight(w), [&](auto k) {
            using K = decltype(k);
            filter_planes<typename K::Acc, typename K::Real>(src, dst, w, mask, vertical);
        });
    } catch (const std::bad_alloc&) {
        std::fputs("ERROR : Can't generate gauss table\n", stderr);
        return 0;
    }
    return 1;
}

}  // namespace

void gauss_limit_vectors(int level) { vector_limit = level; }

int gauss_blur(const char* in, const char* out, double rx, double ry, int mask) {
    ImageBuffer *src = nullptr, *dst = nullptr;
    if (!find_buffers2(in, out, src, dst)) return 0;
    if (!same_window(*src, *dst)) return 0;
    if (dst->components < src->components) {
        // The vertical pass writes every plane of the input into the output.
        std::fputs("WARNING : component type missing\n", stderr);
        component_lines(*src, *dst);
        return 0;
    }
    // When both passes will succeed and neither buffer is the temporary, the
    // temporary would be made, filled, read and disposed unseen: the passes run
    // together instead (or the one pass that is not a copy runs alone), and only
    // its disposal remains.
    const Rect box = src->rect();
    auto will_pass = [](double r, int64_t lo, int64_t hi) {
        return r == 0.0 || passing_half_width(r, lo, hi) > 0;
    };
    if (std::strcmp(in, kTmpName) != 0 && std::strcmp(out, kTmpName) != 0 &&
        will_pass(rx, box.x1, box.x2) && will_pass(ry, box.y1, box.y2)) {
        if (rx != 0.0 && ry != 0.0) {
            // The tables and rows of both passes are made before any pixel is
            // written: when memory runs short the output is left as it was.
            try {
                const std::vector<int32_t> wx = gauss_weights(rx), wy = gauss_weights(ry);
                with_pass_types(total_weight(wx), [&](auto kx) {
                    with_pass_types(total_weight(wy), [&](auto ky) {
                        using X = decltype(kx);
                        using Y = decltype(ky);
                        filter_planes_fused<typename X::Acc, typename X::Real, typename Y::Acc,
                                            typename Y::Real>(*src, *dst, wx, wy, mask);
                    });
                });
            } catch (const std::bad_alloc&) {
                std::fputs("ERROR : Can't generate gauss table\n", stderr);
                return 0;
            }
        } else if (!gauss_pass(*src, *dst, rx != 0.0 ? rx : ry, mask, rx == 0.0)) {
            return 0;  // a copy when ry is 0 too
        }
        if (find_buffer(kTmpName)) dispose_buffer(kTmpName);
        return 1;
    }
    make_buffer(kTmpName, src->x, src->y, src->width, src->height, src->components);
    ImageBuffer* tmp = find_buffer(kTmpName);
    if (!tmp) {
        std::fprintf(stderr, "WARNING : Can't find %s\n", kTmpName);
        return 0;
    }
    // The temporary may be one of the named buffers: look them up again.
    src = find_buffer(in);
    dst = find_buffer(out);
    if (!gauss_pass(*src, *tmp, rx, mask, false)) return 0;
    if (!gauss_pass(*tmp, *dst, ry, mask, true)) return 0;
    dispose_buffer(kTmpName);
    return 1;
}

// ---- command ----------------------------------------------------------------------

namespace {

void gauss_help(const char* word, int mode) {
    if (mode != 1) return print_summary(word, "gaussian blur effect");
    std::fprintf(stderr, "Usage : %s [-options] inBuffName outBuffName\n", word);
    static const char* const lines[] = {
        "[options]\n",
        " -z x y : gaussian blur radius size : x,y >= 0.0 \n",
        " -rgba : gaussian blur red, green, blue, alpha plane\n",
        " -rgb : gaussian blur red, green blue plane\n",
        " -r : gaussian blur   red plane\n",
        " -g : gaussian blur green plane\n",
        " -b : gaussian blur  blue plane\n",
        " -a : gaussian blur alpha plane\n",
        "[Default]\n",
        " -rgba\n",
        " -z 10.0 10.0\n",
    };
    for (const char* l : lines) std::fputs(l, stderr);
}

// Negative by the sign bit, zeros excepted: -0.0 is a radius of 0.
bool negative_radius(float v) { return std::signbit(v) && v != 0.0f; }

}  // namespace

int cmd_gauss(int argc, char** argv) {
    if (answer_help(argc, argv, gauss_help)) return 1;
    int mask = 15;
    float rx = 10.0f, ry = 10.0f;
    const char* names[2] = {nullptr, nullptr};
    int count = 0;
    for (int i = 1; i < argc; ++i) {
        const char* w = argv[i];
        int m = plane_mask_word(w);
        if (m >= 0) {
            mask = m;
        } else if (same_word(w, "-x")) {
            if (!need_args(argc, argv, i, 1, gauss_help)) return 0;
            // Accepted for compatibility; one pass is always made.
            if (to_int(argv[++i]) < 1)
                return command_error("negative or zero -x value", argv[0], gauss_help);
        } else if (same_word(w, "-z")) {
            if (!need_args(argc, argv, i, 2, gauss_help)) return 0;
            rx = float(to_real(argv[i + 1]));
            ry = float(to_real(argv[i + 2]));
            i += 2;
            if (negative_radius(rx) || negative_radius(ry))
                return command_error("negative -z value", argv[0], gauss_help);
        } else {
            if (count == 2) return command_error("Invalid argment", argv[0], gauss_help);
            names[count++] = w;
        }
    }
    if (count < 2) return command_error("You must define in/out buff name", argv[0], gauss_help);
    return gauss_blur(names[0], names[1], rx, ry, mask);
}
