// opaque, dissolve, darkness, nega, mono, adjustcol, paint and pile: the colour
// commands, their help printers and workers.
//
// Every per-sample change that depends on the sample alone is a 256-entry table,
// run through a SampleMap (an exact vectorisable form of the table where one
// exists). Two-buffer commands walk out's window in runs that lie wholly inside or
// wholly outside in's window; outside runs read in's outside cell in every plane.
#include "ops/colour.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#define KQ_HAVE_AVX2_PATH 1
#endif

#include "buffer/image_buffer.h"
#include "interp/command.h"
#include "interp/commands.h"
#include "ops/composite.h"
#include "ops/cpu.h"
#include "ops/tables.h"
#include "parallel/parallel.h"

// The sample loops depend only on the element at the same index, also when the
// output is the input plane itself.
#if defined(__GNUC__) && !defined(__clang__)
#define KQ_SAME_INDEX_ONLY _Pragma("GCC ivdep")
#else
#define KQ_SAME_INDEX_ONLY
#endif
// Hot loops are built for the baseline instruction set and for AVX2, picked at load.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__) && !defined(__SANITIZE_ADDRESS__)
#define KQ_WIDE_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define KQ_WIDE_CLONES
#endif

namespace {

uint8_t clamp_truncate(double v) {
    if (!(v > 0.0)) return 0;  // negative, zero and NaN
    if (v >= 255.0) return 255;
    return static_cast<uint8_t>(v);
}

constexpr int64_t kChunk = 2048;  // samples per step of the multi-plane loops

KQ_WIDE_CLONES void affine_run(const uint8_t* src, uint8_t* dst, int64_t n, int32_t mul,
                               int32_t add) {
    KQ_SAME_INDEX_ONLY
    for (int64_t i = 0; i < n; ++i) {
        int32_t t = (int32_t(src[i]) * mul + add) >> 16;
        t = t < 0 ? 0 : t > 255 ? 255 : t;
        dst[i] = static_cast<uint8_t>(t);
    }
}

KQ_WIDE_CLONES void step_run(const uint8_t* src, uint8_t* dst, int64_t n, uint8_t at,
                             uint8_t low, uint8_t high) {
    KQ_SAME_INDEX_ONLY
    for (int64_t i = 0; i < n; ++i) dst[i] = src[i] <= at ? low : high;
}

KQ_WIDE_CLONES void invert_run(const uint8_t* src, uint8_t* dst, int64_t n) {
    KQ_SAME_INDEX_ONLY
    for (int64_t i = 0; i < n; ++i) dst[i] = static_cast<uint8_t>(~src[i]);
}

void lookup_run(const uint8_t* src, uint8_t* dst, int64_t n, const SampleTable& t) {
    for (int64_t i = 0; i < n; ++i) dst[i] = t[src[i]];
}

// MulTable[v][k] for a run (the exact arithmetic of fast_mul).
KQ_WIDE_CLONES void mul_run(const uint8_t* v, uint8_t k, uint8_t* dst, int64_t n) {
    KQ_SAME_INDEX_ONLY
    for (int64_t i = 0; i < n; ++i) dst[i] = fast_mul(v[i], k);
}

KQ_WIDE_CLONES void premultiply_run(const uint8_t* s, const uint8_t* a, uint8_t* dst, int64_t n) {
    KQ_SAME_INDEX_ONLY
    for (int64_t i = 0; i < n; ++i) dst[i] = fast_mul(s[i], a[i]);
}

KQ_WIDE_CLONES void grey_run(const uint8_t* r, const uint8_t* g, const uint8_t* b, uint8_t* dst,
                             int64_t n) {
    for (int64_t i = 0; i < n; ++i)
        dst[i] = static_cast<uint8_t>((77u * r[i] + 151u * g[i] + 28u * b[i]) >> 8);
}

void copy_run(const uint8_t* src, uint8_t* dst, int64_t n) {
    if (src != dst && n > 0) std::memmove(dst, src, static_cast<size_t>(n));
}

// Premultiplied colour back to straight: DivTable[s][a] for the three colour planes.
void straight_run_plain(const uint8_t* const s[3], const uint8_t* a, uint8_t* const d[3],
                        int64_t from, int64_t n) {
    for (int c = 0; c < 3; ++c)
        for (int64_t i = from; i < n; ++i) d[c][i] = div_table(s[c][i], a[i]);
}

#if KQ_HAVE_AVX2_PATH
// Each column DivTable[.][a] as clamp((s·mul + add) >> 16), from its SampleMap;
// mul = INT32_MIN marks the few alphas whose column has no such form.
struct StraightForms {
    int32_t mul[256], add[256];
};
const StraightForms& straight_forms() {
    static const StraightForms forms = [] {
        StraightForms f{};
        for (int a = 0; a < 256; ++a) {
            SampleTable column{};
            for (int x = 0; x < 256; ++x) column[x] = div_table(uint8_t(x), uint8_t(a));
            const SampleMap m = make_sample_map(column, a ? 255.0 / a : 0.0);
            f.mul[a] = INT32_MIN;
            f.add[a] = 0;
            if (m.kind == SampleMap::Affine) {
                f.mul[a] = m.mul;
                f.add[a] = m.add;
            } else if (m.kind == SampleMap::Copy) {
                f.mul[a] = 65536;
            } else if (m.kind == SampleMap::Constant) {
                f.mul[a] = 0;
                f.add[a] = int32_t(m.low) << 16;
            }
        }
        return f;
    }();
    return forms;
}

// Eight pixels a step: the alpha picks each lane's form (two gathers); lanes of an
// alpha without a form are looked up afterwards from copies of their samples, so
// the result is DivTable's also when d is s.
__attribute__((target("avx2"))) void straight_run_avx2(const uint8_t* const s[3],
                                                       const uint8_t* a, uint8_t* const d[3],
                                                       int64_t n) {
    const StraightForms& f = straight_forms();
    const __m256i zero = _mm256_setzero_si256(), top = _mm256_set1_epi32(255);
    const __m256i none = _mm256_set1_epi32(INT32_MIN);
    int64_t i = 0;
    for (; i + 8 <= n; i += 8) {
        const __m256i av = _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(a + i)));
        const __m256i mul = _mm256_i32gather_epi32(f.mul, av, 4);
        const __m256i add = _mm256_i32gather_epi32(f.add, av, 4);
        const int missing = _mm256_movemask_ps(_mm256_castsi256_ps(_mm256_cmpeq_epi32(mul, none)));
        uint8_t keep[3][8];
        if (missing)
            for (int c = 0; c < 3; ++c) std::memcpy(keep[c], s[c] + i, 8);
        for (int c = 0; c < 3; ++c) {
            const __m256i x =
                _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(s[c] + i)));
            __m256i t = _mm256_srai_epi32(_mm256_add_epi32(_mm256_mullo_epi32(x, mul), add), 16);
            t = _mm256_min_epi32(_mm256_max_epi32(t, zero), top);
            const __m128i w = _mm_packus_epi32(_mm256_castsi256_si128(t), _mm256_extracti128_si256(t, 1));
            _mm_storel_epi64(reinterpret_cast<__m128i*>(d[c] + i), _mm_packus_epi16(w, w));
        }
        for (int j = 0; missing && j < 8; ++j)
            if (missing & (1 << j))
                for (int c = 0; c < 3; ++c) d[c][i + j] = div_table(keep[c][j], a[i + j]);
    }
    straight_run_plain(s, a, d, i, n);
}
#endif

void straight_run(const uint8_t* const s[3], const uint8_t* a, uint8_t* const d[3], int64_t n) {
#if KQ_HAVE_AVX2_PATH
    if (cpu_has_avx2()) return straight_run_avx2(s, a, d, n);
#endif
    straight_run_plain(s, a, d, 0, n);
}

// The planes of one run of out's pixels: src[p] from in (or a row of in's outside
// cell), dst[p] into out.
struct Run {
    const uint8_t* src[4];
    uint8_t* dst[4];
    int64_t n;
};

// Calls f(run) over out's window: one flat run when in and out share origin and
// size, otherwise per row the stretches inside and outside in's window.
template <class F>
void for_each_run(const ImageBuffer& in, ImageBuffer& out, F&& f) {
    if (same_geometry2(in, out)) {
        // Stretches of kStretch samples, several to a range of the threads.
        constexpr int64_t kStretch = 64 * 1024;
        const int64_t n = out.plane_size();
        parallel_for((n + kStretch - 1) / kStretch, 4, [&](int64_t c0, int64_t c1) {
            Run run{};
            const int64_t at = c0 * kStretch;
            for (int p = 0; p < 4; ++p) {
                run.src[p] = in.plane[p] ? in.plane[p] + at : nullptr;
                run.dst[p] = out.plane[p] ? out.plane[p] + at : nullptr;
            }
            run.n = std::min(n, c1 * kStretch) - at;
            f(run);
        });
        return;
    }
    const Rect ro = out.rect(), ri = in.rect();
    if (ro.empty()) return;
    const std::vector<uint8_t> fill(static_cast<size_t>(ro.width()), in.outside[0]);
    const int64_t cx1 = std::max(ro.x1, ri.x1), cx2 = std::min(ro.x2, ri.x2);
    auto emit = [&](int64_t y, int64_t x1, int64_t x2, bool covered) {
        if (x2 < x1) return;
        Run run{};
        for (int p = 0; p < 4; ++p) {
            run.src[p] = covered && p < in.components ? in.row(p, y) + (x1 - ri.x1) : fill.data();
            run.dst[p] = p < out.components ? out.row(p, y) + (x1 - ro.x1) : nullptr;
        }
        run.n = x2 - x1 + 1;
        f(run);
    };
    parallel_for(ro.height(), rows_for_bytes(ro.width() * out.components), [&](int64_t i0,
                                                                                int64_t i1) {
        for (int64_t y = ro.y2 - i0; y > ro.y2 - i1; --y) {
            if (y < ri.y1 || y > ri.y2 || cx1 > cx2) {
                emit(y, ro.x1, ro.x2, false);
                continue;
            }
            emit(y, ro.x1, cx1 - 1, false);
            emit(y, cx1, cx2, true);
            emit(y, cx2 + 1, ro.x2, false);
        }
    });
}

ImageBuffer* find_one(const char* name) {
    ImageBuffer* b = find_buffer(name);
    if (!b) std::fprintf(stderr, "WARNING : Can't find buff (name=%s)\n", name);
    return b;
}

// One sample map over whole planes, in stretches shared among the threads.
void map_plane(const SampleMap& m, const uint8_t* src, uint8_t* dst, int64_t n) {
    constexpr int64_t kStretch = 64 * 1024;
    parallel_for((n + kStretch - 1) / kStretch, 4, [&](int64_t c0, int64_t c1) {
        const int64_t at = c0 * kStretch;
        apply_sample_map(m, src + at, dst + at, std::min(n, c1 * kStretch) - at);
    });
}

void scale_plane(ImageBuffer& b, int p, const SampleTable& t, double slope) {
    map_plane(make_sample_map(t, slope), b.plane[p], b.plane[p], b.plane_size());
}

// The slope hint of a factor's table.
double factor_slope(double v) { return v >= 0.0 && v <= 1.0 ? std::trunc(v * 255.0) / 255.0 : v; }

}  // namespace

// --- tables ---------------------------------------------------------------------

SampleTable scale_table(double v) {
    SampleTable t{};
    if (v >= 0.0 && v <= 1.0) {
        const unsigned k = static_cast<unsigned>(v * 255.0);
        for (unsigned s = 0; s < 256; ++s) t[s] = mul_table(uint8_t(s), uint8_t(k));
    } else {
        for (unsigned s = 0; s < 256; ++s) t[s] = clamp_truncate(double(s) * v + 0.5);
    }
    return t;
}

SampleTable scale_table(float v) {
    SampleTable t{};
    if (v >= 0.0f && v <= 1.0f) {
        const unsigned k = static_cast<unsigned>(double(v) * 255.0);
        for (unsigned s = 0; s < 256; ++s) t[s] = mul_table(uint8_t(s), uint8_t(k));
    } else {
        for (unsigned s = 0; s < 256; ++s) {
            const float product = static_cast<float>(s) * v;
            t[s] = clamp_truncate(double(product) + 0.5);
        }
    }
    return t;
}

SampleTable adjust_table(int lo, int hi) {
    if (hi < lo) std::swap(lo, hi);
    SampleTable t{};
    for (int i = 0; i < 256; ++i) {
        if (i <= lo)
            t[i] = 0;
        else if (i >= hi)
            t[i] = 255;
        else
            t[i] = clamp_truncate((double(i) - lo) / (double(hi) - lo) * 255.0);
    }
    return t;
}

SampleMap make_sample_map(const SampleTable& t, double slope) {
    SampleMap m;
    m.table = t;
    bool identity = true, constant = true;
    for (int s = 0; s < 256; ++s) {
        identity = identity && t[s] == s;
        constant = constant && t[s] == t[0];
    }
    if (identity) {
        m.kind = SampleMap::Copy;
        return m;
    }
    if (constant) {
        m.kind = SampleMap::Constant;
        m.low = t[0];
        return m;
    }
    for (int k = 1; k < 255; ++k) {
        bool row = true;
        for (int s = 0; s < 256 && row; ++s) row = t[s] == mul_table(uint8_t(s), uint8_t(k));
        if (row) {
            m.kind = SampleMap::Product;
            m.low = static_cast<uint8_t>(k);
            return m;
        }
    }
    bool invert = true;
    for (int s = 0; s < 256 && invert; ++s) invert = t[s] == 255 - s;
    if (invert) {
        m.kind = SampleMap::Invert;
        return m;
    }
    int changes = 0, at = 0;
    for (int s = 1; s < 256; ++s)
        if (t[s] != t[s - 1]) ++changes, at = s - 1;
    if (changes == 1) {
        m.kind = SampleMap::Step;
        m.step_at = at;
        m.low = t[0];
        m.high = t[255];
        return m;
    }
    // clamp((s·mul + add) >> 16): for each candidate mul near the slope, the adds
    // that give every entry form one interval; any add in it reproduces the table.
    constexpr int64_t kOne = 65536, kMaxMul = INT32_MAX / 255;
    const double scaled = std::isfinite(slope) ? slope * double(kOne) : 0.0;
    if (std::fabs(scaled) < double(kMaxMul)) {
        const int64_t centre = std::llround(scaled);
        for (int64_t d = 0; d <= 512; ++d) {
            for (const int64_t sign : {-1, 1}) {
                const int64_t mul = centre + sign * d;
                if ((d == 0 && sign > 0) || mul < -kMaxMul || mul > kMaxMul) continue;
                int64_t lo = INT64_MIN / 4, hi = INT64_MAX / 4;
                for (int64_t s = 0; s < 256 && lo <= hi; ++s) {
                    const int64_t base = s * mul, v = t[s];
                    if (v == 0) {
                        hi = std::min(hi, kOne - 1 - base);
                    } else if (v == 255) {
                        lo = std::max(lo, 255 * kOne - base);
                    } else {
                        lo = std::max(lo, v * kOne - base);
                        hi = std::min(hi, v * kOne + kOne - 1 - base);
                    }
                }
                if (lo > hi) continue;
                for (const int64_t add : {lo, hi, lo / 2 + hi / 2, int64_t(0)}) {
                    if (add < lo || add > hi) continue;
                    const int64_t e1 = add, e2 = 255 * mul + add;
                    if (std::min(e1, e2) < INT32_MIN || std::max(e1, e2) > INT32_MAX) continue;
                    bool exact = true;
                    for (int64_t s = 0; s < 256 && exact; ++s) {
                        const int64_t r = std::clamp<int64_t>((s * mul + add) >> 16, 0, 255);
                        exact = r == t[s];
                    }
                    if (!exact) continue;
                    m.kind = SampleMap::Affine;
                    m.mul = static_cast<int32_t>(mul);
                    m.add = static_cast<int32_t>(add);
                    return m;
                }
            }
        }
    }
    m.kind = SampleMap::Lookup;
    return m;
}

void apply_sample_map(const SampleMap& m, const uint8_t* src, uint8_t* dst, int64_t n) {
    if (n <= 0) return;
    switch (m.kind) {
        case SampleMap::Copy: copy_run(src, dst, n); break;
        case SampleMap::Constant: std::memset(dst, m.low, static_cast<size_t>(n)); break;
        case SampleMap::Step:
            step_run(src, dst, n, static_cast<uint8_t>(m.step_at), m.low, m.high);
            break;
        case SampleMap::Product: mul_run(src, m.low, dst, n); break;
        case SampleMap::Invert: invert_run(src, dst, n); break;
        case SampleMap::Affine: affine_run(src, dst, n, m.mul, m.add); break;
        case SampleMap::Lookup: lookup_run(src, dst, n, m.table); break;
    }
}

// --- workers --------------------------------------------------------------------

int opaque(const char* name, double v) {
    ImageBuffer* b = find_one(name);
    if (!b) return 0;
    if (b->components != 4) {
        std::fprintf(stderr, "WARNING : This buff does not have alpha channel (name=%s)\n", name);
        return 0;
    }
    scale_plane(*b, 3, scale_table(v), factor_slope(v));
    return 1;
}

int dissolve(const char* name, double v) {
    ImageBuffer* b = find_one(name);
    if (!b) return 0;
    const SampleTable t = scale_table(v);
    for (int p = 0; p < b->components; ++p) scale_plane(*b, p, t, factor_slope(v));
    return 1;
}

int darkness(const char* name, float vr, float vg, float vb) {
    ImageBuffer* b = find_one(name);
    if (!b) return 0;
    if (b->components < 3) {
        std::fputs("WARNING : buff component size too small\n", stderr);
        std::fputs("          buff must have 3 plane or more\n", stderr);
        std::fprintf(stderr, "          current buff %s is %d plane\n", name, b->components);
        return 0;
    }
    const float v[3] = {vr, vg, vb};
    for (int p = 0; p < 3; ++p) scale_plane(*b, p, scale_table(v[p]), factor_slope(v[p]));
    return 1;
}

int nega(const char* in_name, const char* out_name, int mask) {
    ImageBuffer *in = nullptr, *out = nullptr;
    if (!find_buffers2(in_name, out_name, in, out)) return 0;
    if (out->components > in->components) {
        std::fputs("WARNING : input buff component size too small\n", stderr);
        std::fputs("          in-buff must have as many planes as out-buff\n", stderr);
        std::fprintf(stderr, "          current in-buff %s is %d plane\n", in_name, in->components);
        std::fprintf(stderr, "          current out-buff %s is %d plane\n", out_name,
                     out->components);
        return 0;
    }
    SampleTable negative{};
    for (int s = 0; s < 256; ++s) negative[s] = static_cast<uint8_t>(255 - s);
    const SampleMap flip = make_sample_map(negative, -1.0);
    const int planes = out->components;
    for_each_run(*in, *out, [&](const Run& r) {
        for (int p = 0; p < planes; ++p) {
            if (mask & (1 << p))
                apply_sample_map(flip, r.src[p], r.dst[p], r.n);
            else
                copy_run(r.src[p], r.dst[p], r.n);
        }
    });
    return 1;
}

int mono(const char* in_name, const char* out_name) {
    ImageBuffer *in = nullptr, *out = nullptr;
    if (!find_buffers2(in_name, out_name, in, out)) return 0;
    if (in->components < 3 || out->components < 3) {
        std::fputs("WARNING : component size too small\n", stderr);
        std::fprintf(stderr, "          %s is %d component\n", in_name, in->components);
        std::fprintf(stderr, "          %s is %d component\n", out_name, out->components);
        return 0;
    }
    const bool alpha = in->components == 4 && out->components == 4;
    for_each_run(*in, *out, [&](const Run& r) {
        uint8_t grey[kChunk];
        for (int64_t i = 0; i < r.n; i += kChunk) {
            const int64_t n = std::min(kChunk, r.n - i);
            grey_run(r.src[0] + i, r.src[1] + i, r.src[2] + i, grey, n);
            for (int p = 0; p < 3; ++p) std::memcpy(r.dst[p] + i, grey, static_cast<size_t>(n));
        }
        if (alpha) copy_run(r.src[3], r.dst[3], r.n);
    });
    return 1;
}

int adjustcol(const char* in_name, const char* out_name, int mask, const int lo[4],
              const int hi[4]) {
    ImageBuffer *in = nullptr, *out = nullptr;
    if (!find_buffers2(in_name, out_name, in, out)) return 0;
    if (!same_geometry2(*in, *out)) {
        std::fputs("WARNING : window size missing\n", stderr);
        std::fputs("          Could you use same window size buff\n", stderr);
        for (const ImageBuffer* b : {in, out})
            std::fprintf(stderr, "          %s is min(%d.%d)-max(%d.%d)\n", b->name.c_str(),
                         b->window.x1, b->window.y1, b->window.x2, b->window.y2);
        return 0;
    }
    const int planes = std::min(in->components, out->components);
    const int64_t n = out->plane_size();
    for (int p = 0; p < planes; ++p) {
        if (mask & (1 << p)) {
            const int a = std::min(lo[p], hi[p]), b = std::max(lo[p], hi[p]);
            const double slope = b > a ? 255.0 / (double(b) - a) : 0.0;
            map_plane(make_sample_map(adjust_table(lo[p], hi[p]), slope), in->plane[p],
                      out->plane[p], n);
        } else {
            copy_run(in->plane[p], out->plane[p], n);
        }
    }
    return 1;
}

int paint(const char* in_name, const char* out_name, int source, const float colour[3],
          int alpha_mode) {
    ImageBuffer *in = nullptr, *out = nullptr;
    if (!find_buffers2(in_name, out_name, in, out)) return 0;
    if (alpha_mode == kPaintKeepAlpha && out->components < 3) {
        std::fputs("WARNING : output buff component size too small\n", stderr);
        std::fputs("          out-buff must have 3 plane or more\n", stderr);
        std::fprintf(stderr, "          current out-buff %s is %d plane\n", out_name,
                     out->components);
        return 0;
    }
    if (alpha_mode == kPaintPlaneAlpha && out->components != 4) {
        std::fputs("WARNING : output buff component size too small\n", stderr);
        std::fputs("          when use copy inBuff plane to out alpha mode, ", stderr);
        std::fputs("outBuff must have 4 plane\n", stderr);
        std::fprintf(stderr, "          current outBuff %s is %d plane\n", out_name,
                     out->components);
        return 0;
    }
    if (alpha_mode == kPaintCopyAlpha && (in->components != 4 || out->components != 4)) {
        std::fputs("WARNING : input or output buff component size too small\n", stderr);
        std::fputs("          when use copy inBuff alpha to out alpha mode, ", stderr);
        std::fputs("inBuff must have 4 plane\n", stderr);
        std::fputs("          when use copy inBuff plane to out alpha mode, ", stderr);
        std::fputs("outBuff must have 4 plane\n", stderr);
        std::fprintf(stderr, "          current inBuff %s is %d plane\n", in_name, in->components);
        std::fprintf(stderr, "          current outBuff %s is %d plane\n", out_name,
                     out->components);
        return 0;
    }
    if (source < 0 || source >= in->components) {
        std::fputs("WARNING : input buff component size too small\n", stderr);
        std::fprintf(stderr, "          in-buff must have plane #%d\n", source);
        std::fprintf(stderr, "          current in-buff %s is %d plane\n", in_name, in->components);
        return 0;
    }
    uint8_t k[3];
    for (int c = 0; c < 3; ++c) k[c] = clamp_truncate(double(colour[c]) * 255.0);
    for_each_run(*in, *out, [&](const Run& r) {
        uint8_t v[kChunk];
        for (int64_t i = 0; i < r.n; i += kChunk) {
            const int64_t n = std::min(kChunk, r.n - i);
            // The source plane may be one of those written below (in is out).
            std::memcpy(v, r.src[source] + i, static_cast<size_t>(n));
            for (int c = 0; c < 3; ++c) mul_run(v, k[c], r.dst[c] + i, n);
            if (alpha_mode == kPaintPlaneAlpha) std::memcpy(r.dst[3] + i, v, static_cast<size_t>(n));
        }
        if (alpha_mode == kPaintCopyAlpha) copy_run(r.src[3], r.dst[3], r.n);
    });
    return 1;
}

int pile(const char* in_name, const char* out_name, bool reverse) {
    ImageBuffer *in = nullptr, *out = nullptr;
    if (!find_buffers2(in_name, out_name, in, out)) return 0;
    if (in->components != out->components) {
        std::fputs("WARNING : in/out buff component size not same\n", stderr);
        std::fputs("          Could you use 4 component buffers\n", stderr);
        return 0;
    }
    if (in->components != 4) {
        std::fputs("WARNING : in/out buff component size missing\n", stderr);
        std::fputs("          Could you use 4 component buffers\n", stderr);
        std::fprintf(stderr, "           in %s buffer is %d component\n", in_name, in->components);
        std::fprintf(stderr, "          out %s buffer is %d component\n", out_name,
                     out->components);
        return 0;
    }
    for_each_run(*in, *out, [&](const Run& r) {
        // Colour first, alpha last: each step of a colour plane reads the alpha
        // before it is replaced (in may be out).
        if (reverse)
            straight_run(r.src, r.src[3], r.dst, r.n);
        else
            for (int c = 0; c < 3; ++c) premultiply_run(r.src[c], r.src[3], r.dst[c], r.n);
        copy_run(r.src[3], r.dst[3], r.n);
    });
    return 1;
}

// --- commands ---------------------------------------------------------------------

namespace {

void help_opaque(const char* word, int mode) {
    if (mode != 1) return print_summary(word, "opaque operation");
    std::fprintf(stderr, "Usage : %s buffName value\n", word);
}

void help_dissolve(const char* word, int mode) {
    if (mode != 1) return print_summary(word, "dissolve operation");
    std::fprintf(stderr, "Usage : %s buffName value\n", word);
}

void help_darkness(const char* word, int mode) {
    if (mode != 1) return print_summary(word, "darkness operation");
    std::fprintf(stderr, "Usage : %s buffName value\n", word);
    std::fprintf(stderr, "  or  : %s buffName valueR valueG valueB\n", word);
}

void help_nega(const char* word, int mode) {
    if (mode != 1) return print_summary(word, "nega effect");
    std::fprintf(stderr, "Usage : %s [-options] inBuffName outBuffName\n", word);
    std::fputs("[options]\n"
               " -rgba : negative red, green, blue, alpha plane\n"
               " -rgb : negative red, green blue plane\n"
               " -r : negative   red plane\n"
               " -g : negative green plane\n"
               " -b : negative  blue plane\n"
               " -a : negative alpha plane\n"
               "[Default]\n"
               " -rgb\n",
               stderr);
}

void help_mono(const char* word, int mode) {
    if (mode != 1) return print_summary(word, "mono effect");
    std::fprintf(stderr, "Usage : %s inBuff outBuff\n", word);
}

void help_adjustcol(const char* word, int mode) {
    if (mode != 1) return print_summary(word, "adjust color");
    std::fprintf(stderr, "Usage : %s [-options] inBuff outBuff\n", word);
    std::fputs("[Options]\n"
               " -r min max : adjust   red plane ( component #0 )\n"
               " -g min max : adjust green plane ( component #1 )\n"
               " -b min max : adjust  blue plane ( component #2 )\n"
               " -a min max : adjust alpha plane ( component #3 )\n"
               "[Caution]\n"
               "  min, max value range is 0 ~ 255\n"
               "[Default]\n"
               " -r 128 128 -g 128 128 -b 128 128 -a 128 128\n"
               " in this case, This command operate red green blue alpha planes\n",
               stderr);
}

void help_paint(const char* word, int mode) {
    if (mode != 1) return print_summary(word, "paint mono data");
    std::fprintf(stderr, "Usage : %s [-options] inBuff outBuff\n", word);
    std::fputs("[options]\n"
               " -r : use inBuff   red plane ( component #0 )\n"
               " -g : use inBuff green plane ( component #1 )\n"
               " -b : use inBuff  blue plane ( component #2 )\n"
               " -a : use inBuff alpha plane ( component #3 )\n"
               " -c r g b : paint color ( 0.0 ~ 1.0 )\n"
               " -C R G B : paint color ( 0 ~ 255 )\n"
               " -m : copy inBuff plane to out alpha plane\n"
               " -m4 : copy inBuff alpha to out alpha plane\n"
               "[Default]\n"
               " -r\n"
               " -c 1 1 1\n",
               stderr);
}

void help_pile(const char* word, int mode) {
    if (mode != 1) return print_summary(word, "pile effect");
    std::fprintf(stderr, "Usage : %s [-options] inBuff outBuff\n", word);
    std::fputs("[options]\n"
               " -r : repile effect\n",
               stderr);
}

// Collects the in and out names of a two-buffer command; a third name is an error.
struct TwoNames {
    const char* name[2] = {nullptr, nullptr};
    int count = 0;
    // false after reporting "Invalid argment" for a third name.
    bool add(const char* word, const char* command, HelpPrinter help) {
        if (count == 2) return command_error("Invalid argment", command, help) != 0;
        name[count++] = word;
        return true;
    }
};

}  // namespace

int cmd_opaque(int argc, char** argv) {
    if (answer_help(argc, argv, help_opaque)) return 1;
    if (argc != 3) return command_error("Invalid argment count", argv[0], help_opaque);
    return opaque(argv[1], to_real(argv[2]));
}

int cmd_dissolve(int argc, char** argv) {
    if (answer_help(argc, argv, help_dissolve)) return 1;
    if (argc != 3) return command_error("Invalid argment count", argv[0], help_dissolve);
    return dissolve(argv[1], to_real(argv[2]));
}

int cmd_darkness(int argc, char** argv) {
    if (answer_help(argc, argv, help_darkness)) return 1;
    if (argc == 3) {
        const float v = static_cast<float>(to_real(argv[2]));
        return darkness(argv[1], v, v, v);
    }
    if (argc == 5)
        return darkness(argv[1], static_cast<float>(to_real(argv[2])),
                        static_cast<float>(to_real(argv[3])), static_cast<float>(to_real(argv[4])));
    return command_error("Invalid argment count", argv[0], help_darkness);
}

int cmd_nega(int argc, char** argv) {
    if (answer_help(argc, argv, help_nega)) return 1;
    int mask = 7;
    TwoNames names;
    for (int i = 1; i < argc; ++i) {
        const int m = plane_mask_word(argv[i]);
        if (m >= 0)
            mask = m;
        else if (!names.add(argv[i], argv[0], help_nega))
            return 0;
    }
    if (names.count < 2)
        return command_error("You must define in/out buff name", argv[0], help_nega);
    return nega(names.name[0], names.name[1], mask);
}

int cmd_mono(int argc, char** argv) {
    if (answer_help(argc, argv, help_mono)) return 1;
    if (argc != 3) return command_error("You must define in/out buff name", argv[0], help_mono);
    return mono(argv[1], argv[2]);
}

int cmd_adjustcol(int argc, char** argv) {
    if (answer_help(argc, argv, help_adjustcol)) return 1;
    int mask = 0, lo[4] = {128, 128, 128, 128}, hi[4] = {128, 128, 128, 128};
    static const char* const kWords[4] = {"-r", "-g", "-b", "-a"};
    TwoNames names;
    for (int i = 1; i < argc; ++i) {
        int p = 0;
        while (p < 4 && !same_word(argv[i], kWords[p])) ++p;
        if (p == 4) {
            if (!names.add(argv[i], argv[0], help_adjustcol)) return 0;
            continue;
        }
        if (!need_args(argc, argv, i, 2, help_adjustcol)) return 0;
        lo[p] = to_int(argv[i + 1]);
        hi[p] = to_int(argv[i + 2]);
        mask |= 1 << p;
        i += 2;
    }
    if (names.count < 2)
        return command_error("You must define in/out buff name", argv[0], help_adjustcol);
    return adjustcol(names.name[0], names.name[1], mask ? mask : 15, lo, hi);
}

int cmd_paint(int argc, char** argv) {
    if (answer_help(argc, argv, help_paint)) return 1;
    int source = 0, alpha_mode = kPaintKeepAlpha;
    float colour[3] = {1.0f, 1.0f, 1.0f};
    bool bytes = false;  // the last colour option was -C
    static const char* const kPlanes[4] = {"-r", "-g", "-b", "-a"};
    TwoNames names;
    for (int i = 1; i < argc; ++i) {
        int p = 0;
        while (p < 4 && !same_word(argv[i], kPlanes[p])) ++p;
        if (p < 4) {
            source = p;
        } else if (same_word(argv[i], "-c") || same_word(argv[i], "-C")) {
            if (!need_args(argc, argv, i, 3, help_paint)) return 0;
            bytes = argv[i][1] == 'C';
            for (int c = 0; c < 3; ++c) colour[c] = static_cast<float>(to_real(argv[i + 1 + c]));
            i += 3;
        } else if (same_word(argv[i], "-m")) {
            alpha_mode = kPaintPlaneAlpha;
        } else if (same_word(argv[i], "-m4")) {
            alpha_mode = kPaintCopyAlpha;
        } else if (!names.add(argv[i], argv[0], help_paint)) {
            return 0;
        }
    }
    if (names.count != 2)
        return command_error("You must define in/out buff name", argv[0], help_paint);
    if (bytes)
        for (float& c : colour) c = static_cast<float>(double(c) * 0.00392156862745098);
    return paint(names.name[0], names.name[1], source, colour, alpha_mode);
}

int cmd_pile(int argc, char** argv) {
    if (answer_help(argc, argv, help_pile)) return 1;
    bool reverse = false;
    TwoNames names;
    for (int i = 1; i < argc; ++i) {
        if (same_word(argv[i], "-r"))
            reverse = true;
        else if (!names.add(argv[i], argv[0], help_pile))
            return 0;
    }
    if (names.count != 2)
        return command_error("You must define in/out buff name", argv[0], help_pile);
    return pile(names.name[0], names.name[1], reverse);
}
