// Power-of-two shrinking and the two zooms, with the shrink, bzoom and blzoom
// commands.
//
// shrink sums blocks in integers: each block row is summed and shifted, then the
// shifted row sums of a block are summed and shifted again. The blocks are read
// straight from the input and the reduced rows written into the output, bottom
// row first, which is also safe when input and output are one buffer (a reduced
// row never lies above a row still to be read).
//
// The zooms map coordinates per axis in single precision. Everything that depends
// on one axis only (source column, fractional part) is computed once per column or
// row with the very expression of the per-pixel formula, so it is the same value;
// the bilinear weights and the weighted sum are still formed for every pixel, in
// the written order, in single precision.
#include "ops/zoom.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <new>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__GNUC__) && defined(__x86_64__)
#include <immintrin.h>
#endif

#include "buffer/rearrange.h"
#include "interp/command.h"
#include "interp/commands.h"
#include "ops/cpu.h"
#include "parallel/parallel.h"

namespace {

constexpr const char* kShrinkTmp = "sys:ShrinkTmp";

// ---- shrink ---------------------------------------------------------------------

// The reduced size of b at these levels (levels already checked).
int64_t reduced_width(const ImageBuffer& b, int xlevel) {
    return std::max<int64_t>(b.width, 0) / shrink_factor(xlevel);
}
int64_t reduced_height(const ImageBuffer& b, int ylevel) {
    return std::max<int64_t>(b.height, 0) / shrink_factor(ylevel);
}

// The plane key of copy_region for a plane mask.
const char* mask_key(int mask) {
    static const char* const keys[16] = {"",  "r",  "g",  "rg",  "b",  "rb",  "gb",  "rgb",
                                         "a", "ra", "ga", "rga", "ba", "rba", "gba", "rgba"};
    return keys[mask & 15];
}

// hs[j] = (sum of the cx bytes from src + j * cx) >> shift for j in [0, n). With
// cx = 2^shift (or 65535 and shift 16) every value fits a byte.
void row_sums(const uint8_t* __restrict src, uint8_t* __restrict hs, int64_t n, int64_t cx,
              int shift) {
    int64_t j = 0;
    if (cx == 1) {
        std::memcpy(hs, src, size_t(n));
        return;
    }
#if defined(__SSE2__)
    const __m128i low = _mm_set1_epi16(0x00FF);
    auto load = [](const uint8_t* q) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(q)); };
    // Sums of byte pairs as 16-bit lanes.
    auto pairs = [&](__m128i v) { return _mm_add_epi16(_mm_and_si128(v, low), _mm_srli_epi16(v, 8)); };
    if (cx == 2) {
        for (; j + 16 <= n; j += 16) {
            const uint8_t* q = src + 2 * j;
            __m128i a = _mm_srli_epi16(pairs(load(q)), 1);
            __m128i b = _mm_srli_epi16(pairs(load(q + 16)), 1);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(hs + j), _mm_packus_epi16(a, b));
        }
    } else if (cx == 4) {
        const __m128i ones = _mm_set1_epi16(1);
        auto quads = [&](const uint8_t* q) {
            return _mm_srli_epi32(_mm_madd_epi16(pairs(load(q)), ones), 2);
        };
        for (; j + 16 <= n; j += 16) {
            const uint8_t* q = src + 4 * j;
            __m128i a = _mm_packs_epi32(quads(q), quads(q + 16));
            __m128i b = _mm_packs_epi32(quads(q + 32), quads(q + 48));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(hs + j), _mm_packus_epi16(a, b));
        }
    } else if (cx == 8) {
        // The sum of absolute differences to zero sums each half of 16 bytes.
        const __m128i zero = _mm_setzero_si128();
        for (; j + 2 <= n; j += 2) {
            __m128i v = _mm_sad_epu8(load(src + 8 * j), zero);
            hs[j] = uint8_t(uint32_t(_mm_cvtsi128_si32(v)) >> shift);
            hs[j + 1] = uint8_t(uint32_t(_mm_cvtsi128_si32(_mm_unpackhi_epi64(v, v))) >> shift);
        }
    } else if (cx % 16 == 0) {
        const __m128i zero = _mm_setzero_si128();
        for (; j < n; ++j) {
            const uint8_t* q = src + j * cx;
            __m128i sum = zero;
            for (int64_t c = 0; c < cx; c += 16) sum = _mm_add_epi64(sum, _mm_sad_epu8(load(q + c), zero));
            uint32_t total = uint32_t(_mm_cvtsi128_si32(sum)) +
                             uint32_t(_mm_cvtsi128_si32(_mm_unpackhi_epi64(sum, sum)));
            hs[j] = uint8_t(total >> shift);
        }
    }
#endif
    for (; j < n; ++j) {
        const uint8_t* q = src + j * cx;
        uint32_t total = 0;
        for (int64_t c = 0; c < cx; ++c) total += q[c];
        hs[j] = uint8_t(total >> shift);
    }
}

// o[j] = ((r0 pair j >> 1) + (r1 pair j >> 1)) >> 1: the 2 x 2 reduction of two
// rows in one pass.
void halve_2x2(const uint8_t* __restrict r0, const uint8_t* __restrict r1, uint8_t* __restrict o,
               int64_t n) {
    int64_t j = 0;
#if defined(__SSE2__)
    const __m128i low = _mm_set1_epi16(0x00FF);
    auto half = [&](const uint8_t* q) {
        __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(q));
        return _mm_srli_epi16(_mm_add_epi16(_mm_and_si128(v, low), _mm_srli_epi16(v, 8)), 1);
    };
    for (; j + 16 <= n; j += 16) {
        __m128i a = _mm_srli_epi16(_mm_add_epi16(half(r0 + 2 * j), half(r1 + 2 * j)), 1);
        __m128i b =
            _mm_srli_epi16(_mm_add_epi16(half(r0 + 2 * j + 16), half(r1 + 2 * j + 16)), 1);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(o + j), _mm_packus_epi16(a, b));
    }
#endif
    for (; j < n; ++j)
        o[j] = uint8_t((((r0[2 * j] + r0[2 * j + 1]) >> 1) + ((r1[2 * j] + r1[2 * j + 1]) >> 1)) >> 1);
}

// Row arrays of t.width() entries, shared by the planes.
template <class Acc>
struct ShrinkRows {
    std::vector<Acc> acc;
    std::vector<uint8_t> hs, row;
    explicit ShrinkRows(int64_t n) : acc(size_t(n)), hs(size_t(n)), row(size_t(n)) {}
};

// The reduced rows of one plane; Acc holds the sum of cy shifted row sums.
template <class Acc>
void shrink_plane(const ImageBuffer& src, ImageBuffer& dst, int p, const Rect& t, int xlevel,
                  int ylevel, ShrinkRows<Acc>& rows) {
    const int64_t cx = shrink_factor(xlevel), cy = shrink_factor(ylevel);
    const Rect all = src.rect(), d = dst.rect();
    const int64_t j0 = t.x1 - all.x1, n = t.width();
    std::vector<Acc>& acc = rows.acc;
    std::vector<uint8_t>& hs = rows.hs;
    std::vector<uint8_t>& row = rows.row;
    const int xs = xlevel - 1, ys = ylevel - 1;
    // Into another buffer the reduced row is written in place; into the source itself
    // it goes through the row array, as the output row may be one of the input rows.
    const bool direct = &src != &dst;
    for (int64_t y = t.y1; y <= t.y2; ++y) {
        const int64_t first = all.y1 + (y - all.y1) * cy;  // bottom row of the block
        uint8_t* out = direct ? dst.row(p, y) + (t.x1 - d.x1) : row.data();
        if (cy == 1) {
            row_sums(src.row(p, first) + j0 * cx, out, n, cx, xs);
        } else if (cx == 2 && cy == 2) {
            halve_2x2(src.row(p, first) + 2 * j0, src.row(p, first + 1) + 2 * j0, out, n);
        } else {
            Acc* __restrict a = acc.data();
            const uint8_t* __restrict h = hs.data();
            std::fill(acc.begin(), acc.end(), Acc(0));
            for (int64_t k = 0; k < cy; ++k) {
                row_sums(src.row(p, first + k) + j0 * cx, hs.data(), n, cx, xs);
                for (int64_t j = 0; j < n; ++j) a[j] = Acc(a[j] + h[j]);
            }
            uint8_t* __restrict o = out;
            for (int64_t j = 0; j < n; ++j) o[j] = uint8_t(a[j] >> ys);
        }
        if (!direct) std::memcpy(dst.row(p, y) + (t.x1 - d.x1), row.data(), size_t(n));
    }
}

// The reduction of the checked buffers, written straight into dst.
void shrink_planes(const ImageBuffer& src, ImageBuffer& dst, int xlevel, int ylevel, int mask) {
    const int64_t w2 = reduced_width(src, xlevel), h2 = reduced_height(src, ylevel);
    const Rect all = src.rect(), d = dst.rect();
    const Rect t{std::max(all.x1, d.x1), std::max(all.y1, d.y1), std::min(all.x1 + w2 - 1, d.x2),
                 std::min(all.y1 + h2 - 1, d.y2)};
    if (t.empty()) return;
    const int planes = std::min(src.components, dst.components);
    // Ranges of output rows. Into its own source (the output rows overwrite input
    // rows that later output rows read) the reduction runs as one range.
    const int64_t row_bytes = t.width() * shrink_factor(xlevel) * shrink_factor(ylevel);
    const int64_t grain = &src == &dst ? kOneRange : rows_for_bytes(row_bytes);
    parallel_for(t.height(), grain, [&](int64_t i0, int64_t i1) {
        const Rect part{t.x1, t.y1 + i0, t.x2, t.y1 + i1 - 1};
        auto each_plane = [&](auto& rows) {
            for (int p = 0; p < planes; ++p)
                if (mask & (1 << p)) shrink_plane(src, dst, p, part, xlevel, ylevel, rows);
        };
        // cy shifted row sums of at most 255 each.
        if (shrink_factor(ylevel) <= 0xFFFF / 255) {
            ShrinkRows<uint16_t> rows(t.width());
            each_plane(rows);
        } else {
            ShrinkRows<uint32_t> rows(t.width());
            each_plane(rows);
        }
    });
}

// The reduction done in the temporary's own rows, the way the temporary is
// defined to hold it: row sums in place, then column sums in place.
void reduce_in_place(ImageBuffer& b, int xlevel, int ylevel, int mask) {
    const int64_t cx = shrink_factor(xlevel), cy = shrink_factor(ylevel);
    const int64_t w = b.width, h = b.height, w2 = w / cx, h2 = h / cy;
    for (int p = 0; p < b.components; ++p) {
        if (!(mask & (1 << p))) continue;
        uint8_t* plane = b.plane[p];
        if (xlevel != 1)
            for (int64_t r = 0; r < h; ++r) {
                uint8_t* line = plane + r * w;
                for (int64_t j = 0; j < w2; ++j) {
                    uint32_t sum = 0;
                    for (int64_t c = 0; c < cx; ++c) sum += line[j * cx + c];
                    line[j] = uint8_t(sum >> (xlevel - 1));
                }
            }
        if (ylevel != 1)
            for (int64_t j = 0; j < w2; ++j)
                for (int64_t i = 0; i < h2; ++i) {
                    uint32_t sum = 0;
                    for (int64_t k = 0; k < cy; ++k) sum += plane[(h - 1 - (i * cy + k)) * w + j];
                    plane[(h - 1 - i) * w + j] = uint8_t(sum >> (ylevel - 1));
                }
    }
}

// ---- zoom mapping -------------------------------------------------------------------

struct AxisMap {
    float scale = 0, offset = 0;
};

// Maps destination [d1, d2] onto source [s1, s2]: d1 to s1 and d2 to s2; a
// one-pixel destination maps to (s2 - s1) / 2.
AxisMap axis_map(int64_t s1i, int64_t s2i, int64_t d1i, int64_t d2i) {
    const float s1 = float(s1i), s2 = float(s2i), d1 = float(d1i), d2 = float(d2i);
    if (d2 != d1) return {(s2 - s1) / (d2 - d1), (d2 * s1 - d1 * s2) / (d2 - d1)};
    return {0.0f, (s2 - s1) * 0.5f};
}

// A float truncated toward zero. Values beyond any window come out far outside.
int64_t trunc_coord(float f) {
    if (f > -4e18f && f < 4e18f) return int64_t(f);
    return f > 0 ? (int64_t(1) << 62) : -(int64_t(1) << 62);
}

int64_t nearest_coord(const AxisMap& m, int64_t d) {
    return trunc_coord(m.scale * float(d) + m.offset + 0.5f);
}

// ---- nearest zoom -------------------------------------------------------------

// A stretch of output columns that reads inside the input row (or not at all).
struct ColumnRun {
    int64_t start = 0, length = 0;
    bool inside = false;
    bool contiguous = false;  // source columns run on one by one from rel[start]
};

void nearest_in_place(ImageBuffer& b, const Rect& area, const AxisMap& mx, const AxisMap& my) {
    for (int64_t y = area.y1; y <= area.y2; ++y) {
        const int64_t sy = nearest_coord(my, y);
        for (int64_t x = area.x1; x <= area.x2; ++x) {
            const int64_t sx = nearest_coord(mx, x);
            for (int p = 0; p < b.components; ++p) pixel_address(b, p, x, y) = pixel_address(b, p, sx, sy);
        }
    }
}

void nearest_planes(const ImageBuffer& in, ImageBuffer& out, const Rect& area, const AxisMap& mx,
                    const AxisMap& my) {
    const Rect src = in.rect();
    const int64_t n = area.width();
    std::vector<int64_t> rel(static_cast<size_t>(n));
    std::vector<ColumnRun> runs;
    for (int64_t k = 0; k < n; ++k) {
        const int64_t sx = nearest_coord(mx, area.x1 + k);
        const bool inside = sx >= src.x1 && sx <= src.x2;
        rel[size_t(k)] = inside ? sx - src.x1 : 0;
        if (runs.empty() || runs.back().inside != inside) runs.push_back({k, 0, inside, true});
        ColumnRun& r = runs.back();
        if (inside && r.length > 0 && rel[size_t(k)] != rel[size_t(k - 1)] + 1) r.contiguous = false;
        ++r.length;
    }
    const uint8_t cell = in.outside[0];
    const int planes = std::min(in.components, out.components);
    for (int p = 0; p < planes; ++p) {
        parallel_for(area.height(), rows_for_bytes(n), [&](int64_t i0, int64_t i1) {
            const uint8_t* previous = nullptr;  // the row written last, read from previous_sy
            int64_t previous_sy = 0;
            for (int64_t y = area.y1 + i0; y < area.y1 + i1; ++y) {
                uint8_t* o = out.row(p, y) + (area.x1 - out.window.x1);
                const int64_t sy = nearest_coord(my, y);
                if (previous && sy == previous_sy) {
                    std::memcpy(o, previous, size_t(n));
                    previous = o;
                    continue;
                }
                previous = o;
                previous_sy = sy;
                if (sy < src.y1 || sy > src.y2) {
                    std::memset(o, cell, size_t(n));
                    continue;
                }
                const uint8_t* s = in.row(p, sy);
                for (const ColumnRun& r : runs) {
                    uint8_t* __restrict d = o + r.start;
                    if (!r.inside) {
                        std::memset(d, cell, size_t(r.length));
                    } else if (r.contiguous) {
                        std::memcpy(d, s + rel[size_t(r.start)], size_t(r.length));
                    } else {
                        const int64_t* __restrict idx = rel.data() + r.start;
                        for (int64_t k = 0; k < r.length; ++k) d[k] = s[idx[k]];
                    }
                }
            }
        });
    }
}

// ---- bilinear zoom --------------------------------------------------------------

// Per-column part of the bilinear mapping: integer and fractional source position.
struct BilinearColumns {
    std::vector<int64_t> ix;
    std::vector<float> ax;
};

float bilinear_value(float ax, float ay, float v00, float v10, float v01, float v11) {
    const float w11 = ax * ay;
    const float w01 = ay - w11;
    const float w10 = ax - w11;
    const float w00 = 1.0f - w10 - w01 - w11;
    return w00 * v00 + w10 * v10 + w01 * v01 + w11 * v11;
}

// The stored byte of a bilinear value: 255 from 255.0 up, else truncated toward
// zero (and 0 below zero).
uint8_t bilinear_byte(float v) {
    if (v >= 255.0f) return 255;
    const int t = int(v);
    return uint8_t(t < 0 ? 0 : t);
}

void bilinear_in_place(ImageBuffer& b, const AxisMap& mx, const AxisMap& my) {
    const Rect area = b.rect();
    for (int64_t y = area.y1; y <= area.y2; ++y) {
        const float fy = my.scale * float(y) + my.offset;
        const int64_t iy = trunc_coord(fy);
        const float ay = fy - float(iy);
        for (int64_t x = area.x1; x <= area.x2; ++x) {
            const float fx = mx.scale * float(x) + mx.offset;
            const int64_t ix = trunc_coord(fx);
            const float ax = fx - float(ix);
            for (int p = 0; p < b.components; ++p) {
                const float v = bilinear_value(
                    ax, ay, pixel_address(b, p, ix, iy), pixel_address(b, p, ix + 1, iy),
                    pixel_address(b, p, ix, iy + 1), pixel_address(b, p, ix + 1, iy + 1));
                pixel_address(b, p, x, y) = bilinear_byte(v);
            }
        }
    }
}

// The four weights of every pixel of one output row (the same for every plane).
struct RowWeights {
    std::vector<float> w00, w10, w01, w11;
    explicit RowWeights(int64_t n)
        : w00(size_t(n)), w10(size_t(n)), w01(size_t(n)), w11(size_t(n)) {}
};

inline void row_weights_body(const float* __restrict ax, float ay, float* __restrict w00,
                             float* __restrict w10, float* __restrict w01, float* __restrict w11,
                             int64_t n) {
    for (int64_t x = 0; x < n; ++x) {
        w11[x] = ax[x] * ay;
        w01[x] = ay - w11[x];
        w10[x] = ax[x] - w11[x];
        w00[x] = 1.0f - w10[x] - w01[x] - w11[x];
    }
}

// One output row from the weights and the gathered neighbours: a0/b0 the input
// row iy at ix and ix + 1, a1/b1 the row iy + 1.
inline void weighted_row_body(const float* __restrict w00, const float* __restrict w10,
                              const float* __restrict w01, const float* __restrict w11,
                              const float* __restrict a0, const float* __restrict b0,
                              const float* __restrict a1, const float* __restrict b1,
                              uint8_t* __restrict out, int64_t n) {
    for (int64_t x = 0; x < n; ++x) {
        const float v = w00[x] * a0[x] + w10[x] * b0[x] + w01[x] * a1[x] + w11[x] * b1[x];
        const int t = v >= 255.0f ? 255 : int(v);
        out[x] = uint8_t(t < 0 ? 0 : t);
    }
}

#if defined(__GNUC__) && defined(__x86_64__)
#define KQ_ZOOM_AVX2 1
// The same loops compiled for AVX2: single-precision operations one by one (no
// fused multiply-add), so the same values.
__attribute__((target("avx2"), flatten)) void row_weights_avx2(const float* ax, float ay,
                                                               float* w00, float* w10, float* w01,
                                                               float* w11, int64_t n) {
    row_weights_body(ax, ay, w00, w10, w01, w11, n);
}

// Eight weighted sums from column i on, in the written order, truncated toward zero.
__attribute__((target("avx2"))) inline __m256i weighted8(const float* w00, const float* w10,
                                                          const float* w01, const float* w11,
                                                          const float* a0, const float* b0,
                                                          const float* a1, const float* b1,
                                                          int64_t i) {
    __m256 v = _mm256_add_ps(_mm256_mul_ps(_mm256_loadu_ps(w00 + i), _mm256_loadu_ps(a0 + i)),
                             _mm256_mul_ps(_mm256_loadu_ps(w10 + i), _mm256_loadu_ps(b0 + i)));
    v = _mm256_add_ps(v, _mm256_mul_ps(_mm256_loadu_ps(w01 + i), _mm256_loadu_ps(a1 + i)));
    v = _mm256_add_ps(v, _mm256_mul_ps(_mm256_loadu_ps(w11 + i), _mm256_loadu_ps(b1 + i)));
    return _mm256_cvttps_epi32(v);
}

__attribute__((target("avx2"))) void weighted_row_avx2(const float* w00, const float* w10,
                                                        const float* w01, const float* w11,
                                                        const float* a0, const float* b0,
                                                        const float* a1, const float* b1,
                                                        uint8_t* out, int64_t n) {
    // The saturating packs clamp to 0 ... 255 (255 exactly from 255.0 up); the
    // permutation undoes their lane interleave.
    const __m256i order = _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7);
    int64_t x = 0;
    for (; x + 32 <= n; x += 32) {
        __m256i lo = _mm256_packus_epi32(weighted8(w00, w10, w01, w11, a0, b0, a1, b1, x),
                                         weighted8(w00, w10, w01, w11, a0, b0, a1, b1, x + 8));
        __m256i hi =
            _mm256_packus_epi32(weighted8(w00, w10, w01, w11, a0, b0, a1, b1, x + 16),
                                weighted8(w00, w10, w01, w11, a0, b0, a1, b1, x + 24));
        __m256i bytes = _mm256_permutevar8x32_epi32(_mm256_packus_epi16(lo, hi), order);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + x), bytes);
    }
    weighted_row_body(w00 + x, w10 + x, w01 + x, w11 + x, a0 + x, b0 + x, a1 + x, b1 + x, out + x,
                      n - x);
}

// a[k] = e[rel[k]], b[k] = e[rel[k] + 1], 8 columns a step. Where the 8 indices lie
// within 8 of the first (any enlargement), two loads and two permutes replace the
// gathers; len is the length of e.
__attribute__((target("avx2"))) void gather_pairs_avx2(const float* e, int64_t len,
                                                        const int32_t* rel, float* a, float* b,
                                                        int64_t n) {
    const __m256i seven = _mm256_set1_epi32(7);
    int64_t k = 0;
    for (; k + 8 <= n; k += 8) {
        const __m256i i = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(rel + k));
        const int32_t base = rel[k];
        const __m256i off = _mm256_sub_epi32(i, _mm256_set1_epi32(base));
        const bool near = _mm256_movemask_epi8(_mm256_cmpeq_epi32(_mm256_min_epu32(off, seven), off)) == -1;
        if (near && int64_t(base) + 9 <= len) {
            _mm256_storeu_ps(a + k, _mm256_permutevar8x32_ps(_mm256_loadu_ps(e + base), off));
            _mm256_storeu_ps(b + k, _mm256_permutevar8x32_ps(_mm256_loadu_ps(e + base + 1), off));
            continue;
        }
        _mm256_storeu_ps(a + k, _mm256_i32gather_ps(e, i, 4));
        _mm256_storeu_ps(b + k, _mm256_i32gather_ps(e + 1, i, 4));
    }
    for (; k < n; ++k) {
        a[k] = e[rel[k]];
        b[k] = e[rel[k] + 1];
    }
}
#endif

WideVectors wide_vectors;  // zoom_allow_wide_vectors

void row_weights(const float* ax, float ay, RowWeights& w, int64_t n) {
#if KQ_ZOOM_AVX2
    if (wide_vectors.avx2())
        return row_weights_avx2(ax, ay, w.w00.data(), w.w10.data(), w.w01.data(), w.w11.data(), n);
#endif
    row_weights_body(ax, ay, w.w00.data(), w.w10.data(), w.w01.data(), w.w11.data(), n);
}

void weighted_row(const RowWeights& w, const float* a0, const float* b0, const float* a1,
                  const float* b1, uint8_t* out, int64_t n) {
#if KQ_ZOOM_AVX2
    if (wide_vectors.avx2())
        return weighted_row_avx2(w.w00.data(), w.w10.data(), w.w01.data(), w.w11.data(), a0, b0,
                                 a1, b1, out, n);
#endif
    weighted_row_body(w.w00.data(), w.w10.data(), w.w01.data(), w.w11.data(), a0, b0, a1, b1,
                      out, n);
}

// The neighbours at ix and ix + 1 of one input row, for every output column, as
// floats; rows are gathered once and kept while consecutive output rows use them.
class NeighbourRows {
public:
    NeighbourRows(const ImageBuffer& in, int p, const std::vector<int64_t>& ix)
        : in_(in), p_(p), n_(int64_t(ix.size())) {
        const Rect r = in.rect();
        // Columns two or more beyond the window read the outside cell at ix and
        // ix + 1 alike, so the extended row stops there: its length follows the
        // input's width, not how far the mapping reaches (an empty window's corners
        // can lie 2^32 apart).
        const int64_t first = r.empty() ? 0 : r.x1 - 2, last = r.empty() ? 1 : r.x2 + 2;
        auto clip = [&](int64_t x) { return std::clamp(x, first, last - 1); };
        lo_ = clip(*std::min_element(ix.begin(), ix.end()));
        const int64_t hi = clip(*std::max_element(ix.begin(), ix.end())) + 1;
        ext_.resize(size_t(hi - lo_ + 1));
        rel_.resize(ix.size());
        for (size_t k = 0; k < ix.size(); ++k) rel_[k] = clip(ix[k]) - lo_;
        if (hi - lo_ < INT32_MAX) rel32_.assign(rel_.begin(), rel_.end());
        for (Slot& s : slots_) {
            s.a.resize(size_t(n_));
            s.b.resize(size_t(n_));
        }
        // The part of the extended row that lies inside the input's columns.
        cut_lo_ = std::max(lo_, r.x1);
        cut_hi_ = std::min(hi, r.x2);
    }

    // Gathered rows for input row y, reusing a slot that holds it (never `keep`).
    std::pair<const float*, const float*> row(int64_t y, int keep_slot, int* slot_used) {
        for (int k = 0; k < 2; ++k)
            if (slots_[k].valid && slots_[k].y == y) {
                *slot_used = k;
                return {slots_[k].a.data(), slots_[k].b.data()};
            }
        const int k = keep_slot == 0 ? 1 : 0;
        fill(slots_[k], y);
        *slot_used = k;
        return {slots_[k].a.data(), slots_[k].b.data()};
    }

private:
    struct Slot {
        bool valid = false;
        int64_t y = 0;
        std::vector<float> a, b;
    };

    // The input row y over columns lo_ ... hi as floats, the outside cell where the
    // row or a column lies outside the window; then the pairs of every column.
    void fill(Slot& s, int64_t y) {
        const float cell = float(in_.outside[0]);
        const Rect r = in_.rect();
        if (y >= r.y1 && y <= r.y2 && cut_lo_ <= cut_hi_) {
            // The outside cell only left and right of the row's columns.
            std::fill(ext_.begin(), ext_.begin() + (cut_lo_ - lo_), cell);
            std::fill(ext_.begin() + (cut_hi_ - lo_ + 1), ext_.end(), cell);
            const uint8_t* __restrict q = in_.row(p_, y) + (cut_lo_ - r.x1);
            float* __restrict e = ext_.data() + (cut_lo_ - lo_);
            for (int64_t k = 0, m = cut_hi_ - cut_lo_ + 1; k < m; ++k) e[k] = float(q[k]);
        } else {
            std::fill(ext_.begin(), ext_.end(), cell);
        }
        float* __restrict a = s.a.data();
        float* __restrict b = s.b.data();
#if KQ_ZOOM_AVX2
        if (wide_vectors.avx2() && !rel32_.empty()) {
            gather_pairs_avx2(ext_.data(), int64_t(ext_.size()), rel32_.data(), a, b, n_);
            s.valid = true;
            s.y = y;
            return;
        }
#endif
        const float* __restrict e = ext_.data();
        const int64_t* __restrict rel = rel_.data();
        for (int64_t k = 0; k < n_; ++k) {
            a[k] = e[rel[k]];
            b[k] = e[rel[k] + 1];
        }
        s.valid = true;
        s.y = y;
    }

    const ImageBuffer& in_;
    int p_;
    int64_t n_, lo_ = 0, cut_lo_ = 0, cut_hi_ = 0;
    std::vector<float> ext_;
    std::vector<int64_t> rel_;
    std::vector<int32_t> rel32_;
    Slot slots_[2];
};

void bilinear_planes(const ImageBuffer& in, ImageBuffer& out, const AxisMap& mx,
                     const AxisMap& my) {
    const Rect area = out.rect();
    const int64_t n = area.width();
    BilinearColumns cols;
    cols.ix.resize(size_t(n));
    cols.ax.resize(size_t(n));
    for (int64_t k = 0; k < n; ++k) {
        const float fx = mx.scale * float(area.x1 + k) + mx.offset;
        cols.ix[size_t(k)] = trunc_coord(fx);
        cols.ax[size_t(k)] = fx - float(cols.ix[size_t(k)]);
    }
    const int planes = std::min(in.components, out.components);
    // Ranges of output rows, each with its own gathered rows and weights.
    parallel_for(area.height(), rows_for_bytes(n * planes), [&](int64_t i0, int64_t i1) {
        std::vector<NeighbourRows> rows;
        for (int p = 0; p < planes; ++p) rows.emplace_back(in, p, cols.ix);
        std::vector<int> upper_slot(size_t(planes), -1);
        // The weights are made for a stretch of columns at a time and used for every
        // plane while they are in the first-level cache.
        constexpr int64_t kStretch = 1024;
        RowWeights w(std::min(n, kStretch));
        for (int64_t y = area.y1 + i0; y < area.y1 + i1; ++y) {
            const float fy = my.scale * float(y) + my.offset;
            const int64_t iy = trunc_coord(fy);
            const float ay = fy - float(iy);
            std::pair<const float*, const float*> lower[4], upper[4];
            for (int p = 0; p < planes; ++p) {
                int lower_slot = -1;
                lower[p] = rows[size_t(p)].row(iy, upper_slot[size_t(p)], &lower_slot);
                upper[p] = rows[size_t(p)].row(iy + 1, lower_slot, &upper_slot[size_t(p)]);
            }
            for (int64_t c = 0; c < n; c += kStretch) {
                const int64_t m = std::min(kStretch, n - c);
                row_weights(cols.ax.data() + c, ay, w, m);
                for (int p = 0; p < planes; ++p)
                    weighted_row(w, lower[p].first + c, lower[p].second + c, upper[p].first + c,
                                 upper[p].second + c, out.row(p, y) + c, m);
            }
        }
    });
}

// Runs f, whose row arrays are made before it writes a pixel; false after the
// warning when they cannot be allocated.
template <class F>
bool with_rows_memory(const char* what, F f) {
    try {
        f();
        return true;
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "WARNING : Can't alloc %s inside array\n", what);
        return false;
    }
}

}  // namespace

// ---- workers ------------------------------------------------------------------------

int64_t shrink_factor(int level) {
    return level >= kMaxShrinkLevel ? 65535 : int64_t(1) << std::max(level - 1, 0);
}

bool shrink_height_fits(const ImageBuffer& b) {
    if (b.height < kMaxShrinkHeight) return true;
    std::fprintf(stderr, "ERROR : too large y size (current-max:%d)\n", kMaxShrinkHeight);
    std::fprintf(stderr, "        %s : %d x %d\n", b.name.c_str(), b.width, b.height);
    return false;
}

bool shrink_levels_valid(int xlevel, int ylevel) {
    if (xlevel >= 1 && xlevel <= kMaxShrinkLevel && ylevel >= 1 && ylevel <= kMaxShrinkLevel)
        return true;
    std::fprintf(stderr, "ERROR : shrink level out of range (min:1-max:%d)\n", kMaxShrinkLevel);
    std::fprintf(stderr, "        level : %d %d\n", xlevel, ylevel);
    return false;
}

int shrink_buffer(const char* in, const char* out, int xlevel, int ylevel, int mask) {
    ImageBuffer *src = nullptr, *dst = nullptr;
    if (!find_buffers2(in, out, src, dst)) return 0;
    if (!shrink_height_fits(*src) || !shrink_levels_valid(xlevel, ylevel)) return 0;

    if (!same_word(in, kShrinkTmp) && !same_word(out, kShrinkTmp)) {
        // The temporary would only hold a copy of the input: reduce straight from the
        // input, and leave the registry as the temporary's disposal would.
        if (!with_rows_memory("shrink", [&] { shrink_planes(*src, *dst, xlevel, ylevel, mask); }))
            return 0;
        if (ImageBuffer* tmp = find_buffer(kShrinkTmp)) destroy_buffer(unlink_buffer(tmp));
        return 1;
    }

    // One of the buffers is the temporary itself: go through it step by step.
    const int32_t x = src->x, y = src->y;
    const int64_t w2 = reduced_width(*src, xlevel), h2 = reduced_height(*src, ylevel);
    ImageBuffer* tmp = make_buffer(kShrinkTmp, x, y, src->width, src->height, src->components);
    copy_region(in, kShrinkTmp);
    reduce_in_place(*tmp, xlevel, ylevel, mask);
    CopyRequest req;
    req.whole_window = false;
    req.ox = x;
    req.oy = y;
    req.w = w2;
    req.h = h2;
    req.key = mask_key(mask);
    copy_region(kShrinkTmp, out, req);
    return dispose_buffer(kShrinkTmp);
}

int nearest_zoom(const char* in, const char* out, const Rect* src_window,
                 const Rect* dst_window) {
    ImageBuffer *src = nullptr, *dst = nullptr;
    if (!find_buffers2(in, out, src, dst)) return 0;
    const Rect s = src_window ? *src_window : src->rect();
    const Rect d = dst_window ? *dst_window : dst->rect();
    const AxisMap mx = axis_map(s.x1, s.x2, d.x1, d.x2);
    const AxisMap my = axis_map(s.y1, s.y2, d.y1, d.y2);
    Rect area = dst->rect();
    if (dst_window)
        area = {std::max(area.x1, d.x1), std::max(area.y1, d.y1), std::min(area.x2, d.x2),
                std::min(area.y2, d.y2)};
    if (area.empty()) return 1;
    if (src == dst) {
        nearest_in_place(*dst, area, mx, my);
        return 1;
    }
    return with_rows_memory("zoom", [&] { nearest_planes(*src, *dst, area, mx, my); }) ? 1 : 0;
}

int bilinear_zoom(const char* in, const char* out, int /*mask*/) {
    ImageBuffer *src = nullptr, *dst = nullptr;
    if (!find_buffers2(in, out, src, dst)) return 0;
    const Rect s = src->rect(), d = dst->rect();
    const AxisMap mx = axis_map(s.x1, s.x2, d.x1, d.x2);
    const AxisMap my = axis_map(s.y1, s.y2, d.y1, d.y2);
    if (d.empty()) return 1;
    if (src == dst) {
        bilinear_in_place(*dst, mx, my);
        return 1;
    }
    return with_rows_memory("zoom", [&] { bilinear_planes(*src, *dst, mx, my); }) ? 1 : 0;
}

void zoom_allow_wide_vectors(bool allow) { wide_vectors.allowed = allow; }

// ---- commands ---------------------------------------------------------------------

namespace {

void print_lines(const char* const* lines, size_t n) {
    for (size_t i = 0; i < n; ++i) std::fputs(lines[i], stderr);
}

void shrink_help(const char* word, int mode) {
    if (mode != 1) return print_summary(word, "make shrink image");
    std::fprintf(stderr, "Usage : %s [-options] inBuffName outBuffName\n", word);
    static const char* const lines[] = {
        "[options]\n",
        " -l xlevel ylevel : shrink level ( level >= 1 )\n",
        " -rgba : full component\n",
        " -rgb  : rgb only\n",
        " -r    :   red only ( component #0 )\n",
        " -g    : green only ( component #0 )\n",
        " -b    :  blue only ( component #0 )\n",
        " -a    : alpha only ( component #0 )\n",
        "[default]\n",
        " -l 1 1\n",
        " -rgba\n",
    };
    print_lines(lines, std::size(lines));
}

void bzoom_help(const char* word, int mode) {
    if (mode != 1) return print_summary(word, "bad zoom effect");
    std::fprintf(stderr, "Usage : %s [-options] inBuffName outBuffName\n", word);
    static const char* const lines[] = {
        "[Options]\n",
        " -s ox oy  w  h : source window size & origin set\n",
        " -w x1 y1 x2 y2 : source window size & origin set\n",
        " -f             : full source window\n",
        " -S ox oy  w  h : destination window size & orign set\n",
        " -W x1 y1 x2 y2 : destination window size & origin set\n",
        " -F             : full destination window\n",
        "[Default]\n",
        " -f\n",
        " -F\n",
    };
    print_lines(lines, std::size(lines));
}

void blzoom_help(const char* word, int mode) {
    if (mode != 1) return print_summary(word, "bi-linear zoom effect");
    std::fprintf(stderr, "Usage : %s [-options] inBuffName outBuffName\n", word);
    static const char* const lines[] = {
        "[Options]\n",
        " -rgba :  full plane\n",
        " -rgb  :   rgb plane only\n",
        " -r    :   red plane only ( component #0 )\n",
        " -g    : green plane only ( component #0 )\n",
        " -b    :  blue plane only ( component #0 )\n",
        " -a    : alpha plane only ( component #0 )\n",
        "[Default]\n",
        " -rgba\n",
    };
    print_lines(lines, std::size(lines));
}

// Collects the in/out names: false (after the error) on a third name.
bool take_name(const char* word, const char* (&names)[2], int& count, const char* cmd,
               HelpPrinter help) {
    if (count == 2) return command_error("Invalid argment", cmd, help) != 0;
    names[count++] = word;
    return true;
}

// Four numbers after word i as a window: "-s" ox oy w h, or corners for "-w".
Rect window_words(char** argv, int i, bool corners) {
    const int64_t a = to_int(argv[i + 1]), b = to_int(argv[i + 2]);
    const int64_t c = to_int(argv[i + 3]), d = to_int(argv[i + 4]);
    if (corners) return {a, b, c, d};
    return {a, b, a + c - 1, b + d - 1};
}

void order_corners(Rect& r) {
    if (r.x1 > r.x2) std::swap(r.x1, r.x2);
    if (r.y1 > r.y2) std::swap(r.y1, r.y2);
}

}  // namespace

int cmd_shrink(int argc, char** argv) {
    if (answer_help(argc, argv, shrink_help)) return 1;
    int mask = 15, xlevel = 1, ylevel = 1, count = 0;
    const char* names[2] = {nullptr, nullptr};
    for (int i = 1; i < argc; ++i) {
        const char* w = argv[i];
        const int m = plane_mask_word(w);
        if (m >= 0) {
            mask = m;
        } else if (same_word(w, "-l")) {
            if (!need_args(argc, argv, i, 2, shrink_help)) return 0;
            xlevel = to_int(argv[i + 1]);
            ylevel = to_int(argv[i + 2]);
            i += 2;
        } else if (!take_name(w, names, count, argv[0], shrink_help)) {
            return 0;
        }
    }
    if (count < 2) return command_error("You must define in/out buff name", argv[0], shrink_help);
    return shrink_buffer(names[0], names[1], xlevel, ylevel, mask);
}

int cmd_bzoom(int argc, char** argv) {
    if (answer_help(argc, argv, bzoom_help)) return 1;
    bool has_src = false, has_dst = false;
    Rect src, dst;
    int count = 0;
    const char* names[2] = {nullptr, nullptr};
    for (int i = 1; i < argc; ++i) {
        const char* w = argv[i];
        const bool lower = same_word(w, "-s") || same_word(w, "-w");
        const bool upper = same_word(w, "-S") || same_word(w, "-W");
        if (lower || upper) {
            if (!need_args(argc, argv, i, 4, bzoom_help)) return 0;
            const bool corners = w[1] == 'w' || w[1] == 'W';
            (lower ? src : dst) = window_words(argv, i, corners);
            (lower ? has_src : has_dst) = true;
            i += 4;
        } else if (same_word(w, "-f")) {
            has_src = false;
        } else if (same_word(w, "-F")) {
            has_dst = false;
        } else if (!take_name(w, names, count, argv[0], bzoom_help)) {
            return 0;
        }
    }
    if (count < 2) return command_error("You must define in/out buff name", argv[0], bzoom_help);
    order_corners(src);
    order_corners(dst);
    return nearest_zoom(names[0], names[1], has_src ? &src : nullptr, has_dst ? &dst : nullptr);
}

int cmd_blzoom(int argc, char** argv) {
    if (answer_help(argc, argv, blzoom_help)) return 1;
    int mask = 15, count = 0;
    const char* names[2] = {nullptr, nullptr};
    for (int i = 1; i < argc; ++i) {
        const int m = plane_mask_word(argv[i]);
        if (m >= 0)
            mask = m;
        else if (!take_name(argv[i], names, count, argv[0], blzoom_help))
            return 0;
    }
    if (count < 2) return command_error("You must define in/out buff name", argv[0], blzoom_help);
    return bilinear_zoom(names[0], names[1], mask);
}
