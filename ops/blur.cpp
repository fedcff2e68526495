// The box blur and the silhouette blur, their n-times repetition, and the blur and
// sblur commands.
//
// Every output pixel is floor(box sum / box pixel count) over the box cut to the
// window. The sums are built row by row: running column sums (one row added and one
// removed per output row), then a running sum along the row, kept as a prefix sum
// padded on both sides so that each pixel's box sum is one subtraction. The cost per
// pixel does not depend on the box size.
#include "ops/blur.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <type_traits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__GNUC__) && defined(__x86_64__)
#include <immintrin.h>
#endif

#include "buffer/image_buffer.h"
#include "buffer/rearrange.h"
#include "interp/command.h"
#include "interp/commands.h"
#include "ops/blur_math.h"
#include "ops/cpu.h"
#include "parallel/parallel.h"

namespace {

// ---- sum types -------------------------------------------------------------------

// The integer and divisor types of one blur, chosen from the largest box:
// column sums (Col), row prefix sums (Acc) and the reciprocal type (Real, or
// uint64_t to divide directly). Sums are unsigned and may wrap: a column sum never
// exceeds Col, and the difference of two row prefixes is still the exact box sum
// while that sum fits in Acc.
template <class C, class A, class R>
struct Sums {
    using Col = C;
    using Acc = A;
    using Real = R;
};

// ---- working rows of one worker call --------------------------------------------

template <class K>
struct BlurRows {
    using Col = typename K::Col;
    using Acc = typename K::Acc;
    using Real = typename K::Real;
    std::unique_ptr<Col[]> col;        // column sums over the rows of the vertical box
    std::unique_ptr<Acc[]> prefix;     // s + 1 zeros, row prefix sums, s totals
    std::unique_ptr<Real[]> edge;      // divisors of the first s and the last s columns
    std::unique_ptr<uint8_t[]> means;  // box means of one row (silhouette blend)

    // Allocates for rows of w pixels and horizontal half-size s (at most w: larger
    // boxes are refused before they are used).
    bool allocate(int64_t w, int64_t s) {
        col.reset(new (std::nothrow) Col[size_t(std::max<int64_t>(w, 1))]);
        if (!col) {
            std::fputs("WARNING : Can't alloc blur inside array\n", stderr);
            return false;
        }
        prefix.reset(new (std::nothrow) Acc[size_t(w + 2 * s + 1)]);
        edge.reset(new (std::nothrow) Real[size_t(2 * s + 1)]);
        means.reset(new (std::nothrow) uint8_t[size_t(std::max<int64_t>(w, 1))]);
        if (!prefix || !edge || !means) {
            std::fputs("WARNING : Can't alloc blur sum count array\n", stderr);
            return false;
        }
        return true;
    }
};

// ---- row prefix sums --------------------------------------------------------------

// p[x] = run + c[0] + ... + c[x] (modulo the width of Acc); returns the total.
template <class Col, class Acc>
Acc prefix_from(const Col* __restrict c, Acc* __restrict p, int64_t w, Acc run) {
    for (int64_t x = 0; x < w; ++x) {
        run = Acc(run + c[x]);
        p[x] = run;
    }
    return run;
}

template <class Col, class Acc>
Acc prefix_sums(const Col* c, Acc* p, int64_t w) {
    return prefix_from(c, p, w, Acc(0));
}

#if defined(__SSE2__)
// The same with SSE2, two vectors at a time: each vector is summed within its
// lanes, the first vector's total goes into the second, and only the carry of
// the previous pair runs from one pair to the next.

inline __m128i last_u32(__m128i v) { return _mm_shuffle_epi32(v, 0xFF); }

inline __m128i last_u16(__m128i v) {
    v = _mm_shufflehi_epi16(v, 0xFF);
    return _mm_unpackhi_epi64(v, v);
}

// Stores carry plus the prefix sums of a then b (four 32-bit lanes each); returns
// the new carry. The carry chain is one addition per pair.
inline __m128i prefix_pair_u32(__m128i a, __m128i b, __m128i carry, uint32_t* p) {
    a = _mm_add_epi32(a, _mm_slli_si128(a, 4));
    b = _mm_add_epi32(b, _mm_slli_si128(b, 4));
    a = _mm_add_epi32(a, _mm_slli_si128(a, 8));
    b = _mm_add_epi32(b, _mm_slli_si128(b, 8));
    b = _mm_add_epi32(b, last_u32(a));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p), _mm_add_epi32(a, carry));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p + 4), _mm_add_epi32(b, carry));
    return _mm_add_epi32(carry, last_u32(b));
}

inline uint32_t prefix_sums(const uint32_t* c, uint32_t* p, int64_t w) {
    __m128i carry = _mm_setzero_si128();
    int64_t x = 0;
    for (; x + 8 <= w; x += 8) {
        __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(c + x));
        __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(c + x + 4));
        carry = prefix_pair_u32(a, b, carry, p + x);
    }
    return prefix_from(c + x, p + x, w - x, uint32_t(_mm_cvtsi128_si32(carry)));
}

inline uint32_t prefix_sums(const uint16_t* c, uint32_t* p, int64_t w) {
    const __m128i zero = _mm_setzero_si128();
    __m128i carry = zero;
    int64_t x = 0;
    for (; x + 8 <= w; x += 8) {
        __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(c + x));
        carry = prefix_pair_u32(_mm_unpacklo_epi16(v, zero), _mm_unpackhi_epi16(v, zero),
                                carry, p + x);
    }
    return prefix_from(c + x, p + x, w - x, uint32_t(_mm_cvtsi128_si32(carry)));
}

inline uint16_t prefix_sums(const uint16_t* c, uint16_t* p, int64_t w) {
    __m128i carry = _mm_setzero_si128();
    int64_t x = 0;
    for (; x + 16 <= w; x += 16) {
        __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(c + x));
        __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(c + x + 8));
        a = _mm_add_epi16(a, _mm_slli_si128(a, 2));
        b = _mm_add_epi16(b, _mm_slli_si128(b, 2));
        a = _mm_add_epi16(a, _mm_slli_si128(a, 4));
        b = _mm_add_epi16(b, _mm_slli_si128(b, 4));
        a = _mm_add_epi16(a, _mm_slli_si128(a, 8));
        b = _mm_add_epi16(b, _mm_slli_si128(b, 8));
        b = _mm_add_epi16(b, last_u16(a));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(p + x), _mm_add_epi16(a, carry));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(p + x + 8), _mm_add_epi16(b, carry));
        carry = _mm_add_epi16(carry, last_u16(b));
    }
    return prefix_from(c + x, p + x, w - x, uint16_t(_mm_extract_epi16(carry, 0)));
}
#endif

#if defined(__GNUC__) && defined(__x86_64__)
#define KQ_BLUR_AVX2 1
// The same with AVX2 for the loops compiled for it: each 128-bit half is summed
// within its lanes, the low half's total is added to the high half, and the
// first vector's total to the second.
__attribute__((target("avx2"))) inline __m256i last_u32x8(__m256i v) {
    return _mm256_permutevar8x32_epi32(v, _mm256_set1_epi32(7));
}

__attribute__((target("avx2"))) inline __m256i prefix_u32x8(__m256i v) {
    v = _mm256_add_epi32(v, _mm256_slli_si256(v, 4));
    v = _mm256_add_epi32(v, _mm256_slli_si256(v, 8));
    __m256i total = _mm256_shuffle_epi32(v, 0xFF);
    return _mm256_add_epi32(v, _mm256_permute2x128_si256(total, total, 0x08));
}

__attribute__((target("avx2"))) inline __m256i prefix_u16x16(__m256i v) {
    v = _mm256_add_epi16(v, _mm256_slli_si256(v, 2));
    v = _mm256_add_epi16(v, _mm256_slli_si256(v, 4));
    v = _mm256_add_epi16(v, _mm256_slli_si256(v, 8));
    __m256i total = _mm256_shufflehi_epi16(v, 0xFF);
    total = _mm256_unpackhi_epi64(total, total);
    return _mm256_add_epi16(v, _mm256_permute2x128_si256(total, total, 0x08));
}

// 32-bit prefix sums of 16 columns from a and b (eight 32-bit lanes each).
__attribute__((target("avx2"))) inline __m256i prefix_block_u32(__m256i a, __m256i b,
                                                                 __m256i carry, uint32_t* p) {
    a = prefix_u32x8(a);
    b = _mm256_add_epi32(prefix_u32x8(b), last_u32x8(a));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), _mm256_add_epi32(a, carry));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(p + 8), _mm256_add_epi32(b, carry));
    return _mm256_add_epi32(carry, last_u32x8(b));
}

// Eight columns widened to 32-bit lanes.
__attribute__((target("avx2"))) inline __m256i load_u32x8(const uint32_t* c) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(c));
}

__attribute__((target("avx2"))) inline __m256i load_u32x8(const uint16_t* c) {
    return _mm256_cvtepu16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(c)));
}

// 32-bit prefix sums of 16- or 32-bit column sums, 16 columns per step.
template <class Col>
__attribute__((target("avx2"))) inline uint32_t prefix_u32_avx2(const Col* c, uint32_t* p,
                                                                 int64_t w) {
    __m256i carry = _mm256_setzero_si256();
    int64_t x = 0;
    for (; x + 16 <= w; x += 16)
        carry = prefix_block_u32(load_u32x8(c + x), load_u32x8(c + x + 8), carry, p + x);
    return prefix_from(c + x, p + x, w - x, uint32_t(_mm256_cvtsi256_si32(carry)));
}

__attribute__((target("avx2"))) inline uint32_t prefix_sums_avx2(const uint32_t* c, uint32_t* p,
                                                                  int64_t w) {
    return prefix_u32_avx2(c, p, w);
}

__attribute__((target("avx2"))) inline uint32_t prefix_sums_avx2(const uint16_t* c, uint32_t* p,
                                                                  int64_t w) {
    return prefix_u32_avx2(c, p, w);
}

__attribute__((target("avx2"))) inline uint16_t prefix_sums_avx2(const uint16_t* c, uint16_t* p,
                                                                  int64_t w) {
    __m256i carry = _mm256_setzero_si256();
    int64_t x = 0;
    for (; x + 32 <= w; x += 32) {
        __m256i a = prefix_u16x16(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(c + x)));
        __m256i b =
            prefix_u16x16(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(c + x + 16)));
        // The last word of a vector in every lane.
        __m256i a_total = _mm256_permute4x64_epi64(a, 0xFF);
        a_total = _mm256_shufflehi_epi16(a_total, 0xFF);
        a_total = _mm256_unpackhi_epi64(a_total, a_total);
        b = _mm256_add_epi16(b, a_total);
        __m256i b_total = _mm256_permute4x64_epi64(b, 0xFF);
        b_total = _mm256_shufflehi_epi16(b_total, 0xFF);
        b_total = _mm256_unpackhi_epi64(b_total, b_total);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(p + x), _mm256_add_epi16(a, carry));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(p + x + 16), _mm256_add_epi16(b, carry));
        carry = _mm256_add_epi16(carry, b_total);
    }
    return prefix_from(c + x, p + x, w - x, uint16_t(_mm256_cvtsi256_si32(carry)));
}

// Other sum types have no wide version.
template <class Col, class Acc>
Acc prefix_sums_avx2(const Col* c, Acc* p, int64_t w) {
    return prefix_sums(c, p, w);
}
#endif

// ---- one plane -------------------------------------------------------------------

// Box means of n pixels with one divisor: out[x] = floor((hi[x] - lo[x]) / N).
template <class Acc, class Real>
void divide_run(const Acc* hi, const Acc* lo, Real d, uint8_t* __restrict out, int64_t n) {
    for (int64_t x = 0; x < n; ++x) out[x] = box_mean(Acc(hi[x] - lo[x]), d);
}

// The same with 16-bit sums and a multiply-high divisor, 16 sums a step.
inline void divide_run(const uint16_t* hi, const uint16_t* lo, ShortDivisor d,
                       uint8_t* __restrict out, int64_t n) {
    int64_t x = 0;
#if defined(__SSE2__)
    const __m128i m = _mm_set1_epi16(int16_t(d.m));
    const __m128i shift = _mm_cvtsi32_si128(d.shift);
    auto means = [&](int64_t at) {
        const __m128i sum = _mm_sub_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(hi + at)),
                                          _mm_loadu_si128(reinterpret_cast<const __m128i*>(lo + at)));
        return _mm_srl_epi16(_mm_mulhi_epu16(sum, m), shift);
    };
    for (; x + 16 <= n; x += 16)
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x), _mm_packus_epi16(means(x), means(x + 8)));
#endif
    for (; x < n; ++x) out[x] = short_mean(uint16_t(hi[x] - lo[x]), d);
}

// The same with a divisor per pixel.
template <class Acc, class Real>
void divide_each(const Acc* hi, const Acc* lo, const Real* d, uint8_t* __restrict out,
                 int64_t n) {
    for (int64_t x = 0; x < n; ++x) out[x] = box_mean(Acc(hi[x] - lo[x]), d[x]);
}

// Produces the box means of a w × h plane (rows top first), row by row from the
// top: sink.row(r) gives where the means of row r go, sink.done(r) follows.
// REQUIRES: w >= 2s + 2; h >= 2t + 2 when t > 0.
template <class K, class Sink, bool Wide = false>
void box_means(const uint8_t* src, int64_t w, int64_t h, int64_t s, int64_t t, int64_t r0,
               int64_t r1, BlurRows<K>& rows, Sink& sink) {
    using Col = typename K::Col;
    using Acc = typename K::Acc;
    using Real = typename K::Real;
    Col* __restrict col = rows.col.get();
    Acc* __restrict pre = rows.prefix.get();
    Real* edge = rows.edge.get();
    Real inner = Real();
    ShortDivisor inner_short;  // 16-bit sums: the inner divisor without conversions
    std::fill(pre, pre + s + 1, Acc(0));
    int64_t divisor_rows = -1;  // the vertical count the divisors are made for

    for (int64_t r = r0; r < r1; ++r) {
        // Column sums over rows max(0, r - t) .. min(h - 1, r + t). The first row of
        // a range sums its rows afresh: the sums are exact, so they equal the
        // running sums of a pass from row 0.
        if (r == r0) {
            const int64_t first = std::max<int64_t>(0, r0 - t);
            const uint8_t* top = src + first * w;
            for (int64_t x = 0; x < w; ++x) col[x] = top[x];
            for (int64_t k = first + 1; k <= std::min(r0 + t, h - 1); ++k) {
                const uint8_t* a = src + k * w;
                for (int64_t x = 0; x < w; ++x) col[x] = Col(col[x] + a[x]);
            }
        } else {
            const uint8_t* a = r + t < h ? src + (r + t) * w : nullptr;
            const uint8_t* b = r - t - 1 >= 0 ? src + (r - t - 1) * w : nullptr;
            if (a && b)
                for (int64_t x = 0; x < w; ++x) col[x] = Col(col[x] + Col(a[x] - b[x]));
            else if (a)
                for (int64_t x = 0; x < w; ++x) col[x] = Col(col[x] + a[x]);
            else if (b)
                for (int64_t x = 0; x < w; ++x) col[x] = Col(col[x] - b[x]);
        }

        // Divisors: the box holds cv rows and, horizontally, x + s + 1 columns in
        // the first s columns, 2s + 1 inside, and the mirror of that on the right.
        int64_t cv = std::min(h - 1, r + t) - std::max<int64_t>(0, r - t) + 1;
        if (cv != divisor_rows) {
            for (int64_t x = 0; x < s; ++x)
                edge[x] = edge[2 * s - 1 - x] = box_divisor<Real>(cv * (x + s + 1));
            inner = box_divisor<Real>(cv * (2 * s + 1));
            if constexpr (std::is_same_v<Acc, uint16_t>) inner_short = short_divisor(cv * (2 * s + 1));
            divisor_rows = cv;
        }

        // Prefix sums along the row, padded so that column x's box sum is
        // pre[x + 2s + 1] - pre[x], edges included.
        Acc* p = pre + s + 1;
        Acc run;
#if KQ_BLUR_AVX2
        if constexpr (Wide)
            run = prefix_sums_avx2(col, p, w);
        else
#endif
            run = prefix_sums(col, p, w);
        std::fill(p + w, p + w + s, run);

        uint8_t* out = sink.row(r);
        const Acc* hi = pre + 2 * s + 1;
        divide_each(hi, pre, edge, out, s);
        bool done = false;
        if constexpr (std::is_same_v<Acc, uint16_t>) {
            if ((done = inner_short.shift >= 0))
                divide_run(hi + s, pre + s, inner_short, out + s, w - 2 * s);
        }
        if (!done) divide_run(hi + s, pre + s, inner, out + s, w - 2 * s);
        divide_each(hi + w - s, pre + w - s, edge + s, out + w - s, s);
        sink.done(r);
    }
}

// Means written straight into an output plane.
struct PlaneSink {
    uint8_t* dst;
    int64_t w;
    uint8_t* row(int64_t r) { return dst + r * w; }
    void done(int64_t) {}
};

// Means blended with the unblurred colour by the blurred alpha.
struct BlendSink {
    uint8_t* means;
    const uint8_t* alpha;  // blurred alpha plane
    const uint8_t* value;  // unblurred colour plane
    uint8_t* dst;
    int64_t w;
    uint8_t* row(int64_t) { return means; }
    void done(int64_t r) {
        const int64_t n = w;
        const uint8_t* __restrict m = means;
        const uint8_t* __restrict a = alpha + r * n;
        const uint8_t* __restrict v = value + r * n;
        uint8_t* __restrict o = dst + r * n;
        for (int64_t x = 0; x < n; ++x) o[x] = silhouette_blend(a[x], m[x], v[x]);
    }
};

}  // namespace

// ---- checks shared by the blurs ---------------------------------------------------

bool same_window(const ImageBuffer& in, const ImageBuffer& out) {
    if (same_geometry2(in, out)) return true;
    std::fputs("WARNING : window size missing\n", stderr);
    std::fputs("          Could you use same window size buff\n", stderr);
    for (const ImageBuffer* b : {&in, &out})
        std::fprintf(stderr, "          %s is min(%d.%d)-max(%d.%d)\n", b->name.c_str(),
                     b->window.x1, b->window.y1, b->window.x2, b->window.y2);
    return false;
}

void component_lines(const ImageBuffer& in, const ImageBuffer& out) {
    std::fprintf(stderr, "          %s is %d component\n", in.name.c_str(), in.components);
    std::fprintf(stderr, "          %s is %d component\n", out.name.c_str(), out.components);
}

namespace {

// The box must leave room inside the window: width >= 2s + 2, and for t > 0
// height >= 2t + 2.
bool box_fits(const Rect& w, int64_t s, int64_t t) {
    if (t > 0 && w.y1 + t >= w.y2 - t) {
        std::fputs("WARNING : Sorry, blur Y size too big\n", stderr);
        std::fputs("          Could you change blur Y size please.\n", stderr);
        return false;
    }
    if (w.x1 + s >= w.x2 - s) {
        std::fputs("WARNING : Sorry, blur X size too big\n", stderr);
        std::fputs("          Could you change blur X size plaese.\n", stderr);
        return false;
    }
    return true;
}

// Planes of `in` to read from: its own, or a private copy when the worker is asked
// to write the buffer it reads (the row sums need the unwritten rows).
struct SourcePlanes {
    const uint8_t* plane[4] = {};
    std::unique_ptr<uint8_t[]> copy;

    bool take(const ImageBuffer& in, bool same) {
        for (int p = 0; p < in.components; ++p) plane[p] = in.plane[p];
        if (!same || in.plane_size() == 0) return true;
        int64_t n = in.plane_size();
        if (kq_memory_allows(n * in.components))
            copy.reset(new (std::nothrow) uint8_t[size_t(n * in.components)]);
        if (!copy) {
            std::fputs("WARNING : Can't alloc blur inside array\n", stderr);
            return false;
        }
        for (int p = 0; p < in.components; ++p) {
            std::memcpy(copy.get() + p * n, in.plane[p], size_t(n));
            plane[p] = copy.get() + p * n;
        }
        return true;
    }
};

void copy_plane_bytes(uint8_t* dst, const uint8_t* src, int64_t n) {
    if (n > 0 && dst != src) std::memmove(dst, src, size_t(n));
}

// ---- workers ---------------------------------------------------------------------

#if KQ_BLUR_AVX2
// The same plane loop compiled for AVX2, used when the processor has it. Integer
// sums and single multiplications (no fused multiply-add) give the same bytes.
template <class K, class Sink>
__attribute__((target("avx2"), flatten)) void box_means_avx2(const uint8_t* src, int64_t w,
                                                            int64_t h, int64_t s, int64_t t,
                                                            int64_t r0, int64_t r1,
                                                            BlurRows<K>& rows, Sink& sink) {
    box_means<K, Sink, true>(src, w, h, s, t, r0, r1, rows, sink);
}
#endif

WideVectors wide_vectors;  // blur_allow_wide_vectors

template <class K, class Sink>
void plane_means(const uint8_t* src, int64_t w, int64_t h, int64_t s, int64_t t, int64_t r0,
                 int64_t r1, BlurRows<K>& rows, Sink& sink) {
#if KQ_BLUR_AVX2
    if (wide_vectors.avx2()) return box_means_avx2(src, w, h, s, t, r0, r1, rows, sink);
#endif
    box_means(src, w, h, s, t, r0, r1, rows, sink);
}

// Row arrays for each range of rows a plane is cut into (the ranges of one plane
// run on several threads at once). Null, after the warning, when one cannot be had.
template <class K>
std::unique_ptr<BlurRows<K>[]> range_rows(int64_t pieces, int64_t w, int64_t s) {
    std::unique_ptr<BlurRows<K>[]> rows(new (std::nothrow) BlurRows<K>[size_t(pieces)]);
    if (!rows) {
        std::fputs("WARNING : Can't alloc blur inside array\n", stderr);
        return nullptr;
    }
    for (int64_t k = 0; k < pieces; ++k)
        if (!rows[k].allocate(w, s)) return nullptr;
    return rows;
}

// Rows per range: the first row of a range sums 2·t + 1 rows, so ranges are kept
// well above that.
int64_t blur_grain(int64_t w, int64_t t) {
    return std::max<int64_t>(rows_for_bytes(w, 256 * 1024), 4 * (2 * t + 1));
}

template <class K>
int box_blur_planes(const ImageBuffer& in, ImageBuffer& out, int64_t s, int64_t t, int mask) {
    const int64_t w = out.width, h = out.height, n = out.plane_size();
    const int64_t pieces = parallel_pieces(h, blur_grain(w, t));
    std::unique_ptr<BlurRows<K>[]> rows;
    SourcePlanes src;
    bool ready = false;
    for (int p = 0; p < out.components; ++p) {
        if (!(mask & (1 << p))) {
            copy_plane_bytes(out.plane[p], in.plane[p], n);
            continue;
        }
        if (!ready) {
            rows = range_rows<K>(pieces, w, std::min(s, w));
            if (!rows || !src.take(in, &in == &out)) return 0;
            ready = true;
        }
        if (!box_fits(out.rect(), s, t)) return 0;
        parallel_pieces_for(h, pieces, [&](int64_t k, int64_t r0, int64_t r1) {
            PlaneSink sink{out.plane[p], w};
            plane_means(src.plane[p], w, h, s, t, r0, r1, rows[k], sink);
        });
    }
    return 1;
}

template <class K>
int silhouette_planes(const ImageBuffer& in, ImageBuffer& out, int64_t s, int64_t t, int mask) {
    const int64_t w = out.width, h = out.height, n = out.plane_size();
    const int64_t pieces = parallel_pieces(h, blur_grain(w, t));
    std::unique_ptr<BlurRows<K>[]> rows = range_rows<K>(pieces, w, std::min(s, w));
    SourcePlanes src;
    if (!rows || !src.take(in, &in == &out)) return 0;
    if (!box_fits(out.rect(), s, t)) return 0;
    parallel_pieces_for(h, pieces, [&](int64_t k, int64_t r0, int64_t r1) {
        PlaneSink alpha{out.plane[3], w};
        plane_means(src.plane[3], w, h, s, t, r0, r1, rows[k], alpha);
    });
    for (int p = 0; p < 3; ++p) {
        if (mask & (1 << p)) {
            // Every row of the blurred alpha is made before the colour planes read it.
            parallel_pieces_for(h, pieces, [&](int64_t k, int64_t r0, int64_t r1) {
                BlendSink blend{rows[k].means.get(), out.plane[3], src.plane[p], out.plane[p],
                                w};
                plane_means(src.plane[p], w, h, s, t, r0, r1, rows[k], blend);
            });
        } else {
            copy_plane_bytes(out.plane[p], src.plane[p], n);
        }
    }
    // The blurred alpha only guided the blend; the output keeps the input's alpha.
    copy_plane_bytes(out.plane[3], src.plane[3], n);
    return 1;
}

// Calls run(Sums<...>{}) with the narrowest types that hold the sums of a box of
// at most (2s+1) × (2t+1) pixels on this geometry. Half-sizes beyond the window
// are refused before any sum is made, so they are cut to it here.
template <class F>
int with_sum_types(const ImageBuffer& b, int64_t s, int64_t t, F run) {
    int64_t cs = std::min<int64_t>(s, b.width), ct = std::min<int64_t>(t, b.height);
    // Up to (2^32 + 1)^2: estimate first so the product cannot overflow.
    double approx = double(2 * cs + 1) * double(2 * ct + 1);
    int64_t count = approx < 1e18 ? (2 * cs + 1) * (2 * ct + 1) : INT64_MAX;
    // A sum of c pixels is at most 255 c.
    bool narrow_columns = 2 * ct + 1 <= 0xFFFF / 255;
    if (count <= 0xFFFF / 255) return run(Sums<uint16_t, uint16_t, float>{});
    if (count <= kFloatMaxCount && narrow_columns) return run(Sums<uint16_t, uint32_t, float>{});
    if (count <= kFloatMaxCount) return run(Sums<uint32_t, uint32_t, float>{});
    if (count <= INT32_MAX / 255) return run(Sums<uint32_t, uint32_t, double>{});
    if (count < kDoubleMaxCount) return run(Sums<uint64_t, uint64_t, double>{});
    return run(Sums<uint64_t, uint64_t, uint64_t>{});
}

}  // namespace

void blur_allow_wide_vectors(bool allow) { wide_vectors.allowed = allow; }

int box_blur(const char* in, const char* out, int s, int t, int mask) {
    ImageBuffer *src = nullptr, *dst = nullptr;
    if (!find_buffers2(in, out, src, dst)) return 0;
    if (!same_window(*src, *dst)) return 0;
    if (src->components < dst->components) {
        // Every output plane is made from the input plane of the same index.
        std::fputs("WARNING : component type missing\n", stderr);
        component_lines(*src, *dst);
        return 0;
    }
    return with_sum_types(*dst, s, t, [&](auto k) {
        return box_blur_planes<decltype(k)>(*src, *dst, s, t, mask);
    });
}

int silhouette_blur(const char* in, const char* out, int s, int t, int mask) {
    ImageBuffer *src = nullptr, *dst = nullptr;
    if (!find_buffers2(in, out, src, dst)) return 0;
    if (!same_window(*src, *dst)) return 0;
    if (src->components != 4 || dst->components != 4) {
        std::fprintf(stderr, "WARNING : %s or %s has no alpha plane.\n", in, out);
        component_lines(*src, *dst);
        return 0;
    }
    return with_sum_types(*dst, s, t, [&](auto k) {
        return silhouette_planes<decltype(k)>(*src, *dst, s, t, mask);
    });
}

int repeat_blur(BlurKind kind, const char* in, const char* out, int s, int t, int mask, int n) {
    bool box = kind == BlurKind::box;
    auto pass = [&](const char* from, const char* to) {
        return box ? box_blur(from, to, s, t, mask) : silhouette_blur(from, to, s, t, mask);
    };
    if (n <= 1) return pass(in, out);

    const char* tmp = box ? "sys:blurTmp" : "sys:silhoetteBlurTmp";
    const char* backup_failed =
        box ? "WARNING : Can't backup source data for n-Times blur operation\n"
            : "WARNING : Can't backup source data for n-Times silhoetteBlur operation\n";
    ImageBuffer* src = find_buffer(in);
    if (!src) {
        std::fprintf(stderr, "WARNING : Can't find %s\n", in);
        return 0;
    }
    // The passes alternate direction, so every plane must exist on both sides.
    // (Other geometry is left to the first pass, which names the temporary.)
    ImageBuffer* dst = find_buffer(out);
    if (box && dst && same_geometry2(*src, *dst) && dst->components != src->components) {
        std::fputs("WARNING : component type missing\n", stderr);
        component_lines(*src, *dst);
        return 0;
    }

    make_buffer(tmp, src->x, src->y, src->width, src->height, src->components);
    auto fail = [&](const char* message) {
        if (message) std::fputs(message, stderr);
        dispose_buffer(tmp);
        return 0;
    };
    if (!copy_region(in, tmp)) return fail(backup_failed);
    for (int j = 0; j < n; ++j) {
        if (!(j % 2 == 0 ? pass(tmp, out) : pass(out, tmp))) return fail(nullptr);
    }
    if (n % 2 == 0 && !copy_region(tmp, out)) return fail(backup_failed);
    dispose_buffer(tmp);
    return 1;
}

// ---- commands --------------------------------------------------------------------

namespace {

void blur_help(const char* word, int mode) {
    if (mode != 1) return print_summary(word, "blur effect");
    std::fprintf(stderr, "Usage : %s [-options] inBuffName outBuffName\n", word);
    static const char* const lines[] = {
        "[options]\n",
        " -z x y : blur size : x y >= 0 \n",
        " -rgba : blur red, green, blue, alpha plane\n",
        " -rgb : blur red, green blue plane\n",
        " -r : blur   red plane\n",
        " -g : blur green plane\n",
        " -b : blur  blue plane\n",
        " -a : blur alpha plane\n",
        " -x n : n-Times blur effect\n",
        "[Default]\n",
        " -rgba\n",
        " -z 5 5\n",
        " -x 1\n",
    };
    for (const char* l : lines) std::fputs(l, stderr);
}

void sblur_help(const char* word, int mode) {
    if (mode != 1) return print_summary(word, "silhoetteBlur effect");
    std::fprintf(stderr, "Usage : %s [-options] inBuffName outBuffName\n", word);
    static const char* const lines[] = {
        "[options]\n",
        " -z x y : silhoetteBlur size : x y >= 0 \n",
        " -rgb : silhoetteBlur red, green blue plane\n",
        " -r : silhoetteBlur   red plane\n",
        " -g : silhoetteBlur green plane\n",
        " -b : silhoetteBlur  blue plane\n",
        " -x n : n-Times silhoetteBlur effect\n",
        "[Default]\n",
        " -rgb\n",
        " -z 5 5\n",
        " -x 1\n",
    };
    for (const char* l : lines) std::fputs(l, stderr);
}

// The shared front-end: options, names, then the (repeated) worker.
int blur_command(int argc, char** argv, BlurKind kind, HelpPrinter help) {
    if (answer_help(argc, argv, help)) return 1;
    int mask = 15, n = 1, s = 5, t = 5;
    const char* names[2] = {nullptr, nullptr};
    int count = 0;
    for (int i = 1; i < argc; ++i) {
        const char* w = argv[i];
        int m = plane_mask_word(w);
        // sblur has no -rgba or -a: those words are names there.
        if (m >= 0 && (kind == BlurKind::box || (m != 15 && m != 8))) {
            mask = m;
        } else if (same_word(w, "-x")) {
            if (!need_args(argc, argv, i, 1, help)) return 0;
            n = to_int(argv[++i]);
            if (n < 1) return command_error("negative or zero -x value", argv[0], help);
        } else if (same_word(w, "-z")) {
            if (!need_args(argc, argv, i, 2, help)) return 0;
            s = to_int(argv[i + 1]);
            t = to_int(argv[i + 2]);
            i += 2;
            if (s < 0 || t < 0) return command_error("negative -z value", argv[0], help);
        } else {
            if (count == 2) return command_error("Invalid argment", argv[0], help);
            names[count++] = w;
        }
    }
    if (count < 2) return command_error("You must define in/out buff name", argv[0], help);
    if (same_word(names[0], names[1]))
        return command_error("You must define different in/out buff", argv[0], help);
    if (mask == 0) mask = 15;
    return repeat_blur(kind, names[0], names[1], s, t, mask, n);
}

}  // namespace

int cmd_blur(int argc, char** argv) { return blur_command(argc, argv, BlurKind::box, blur_help); }

int cmd_sblur(int argc, char** argv) {
    return blur_command(argc, argv, BlurKind::silhouette, sblur_help);
}
