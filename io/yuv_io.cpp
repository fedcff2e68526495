// readyuv, writeyuv and writedump: raw video frames and plane dumps. Rows move in
// runs of many rows per transfer, converted between the file's interleaved bytes
// and the buffer's planes one row at a time.
#include "io/yuv_io.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include "buffer/image_buffer.h"
#include "interp/command.h"
#include "interp/commands.h"
#include "io/picture_io.h"
#include "io/safe_output.h"
#include "ops/cpu.h"

namespace {

constexpr size_t kMaxYuvName = 512;
constexpr int64_t kRunBytes = 256 * 1024;  // file bytes per transfer: stays in cache

// Rows per transfer for rows of `row_bytes`, at least one and at most `rows`.
int64_t run_rows(int64_t row_bytes, int64_t rows) {
    const int64_t per = row_bytes > 0 ? std::max<int64_t>(1, kRunBytes / row_bytes) : 1;
    return std::max<int64_t>(1, std::min(per, rows));
}

// A transfer buffer, or null when memory is short.
std::unique_ptr<uint8_t[]> try_alloc(int64_t bytes) {
    if (bytes < 0 || uint64_t(bytes) > SIZE_MAX / 2) return nullptr;
    return std::unique_ptr<uint8_t[]>(new (std::nothrow) uint8_t[std::max<int64_t>(bytes, 1)]);
}

// Unbuffered: each run goes straight to the file, so a failure is seen at its run.
bool write_all(std::FILE* f, const uint8_t* p, int64_t bytes, int64_t* written) {
    *written = bytes > 0 ? int64_t(std::fwrite(p, 1, size_t(bytes), f)) : 0;
    return *written == bytes;
}

// --- row conversions -----------------------------------------------------------------------

inline uint8_t clamp_sample(int32_t sum) {
    const int32_t v = sum >> 16;  // arithmetic: negative sums stay negative
    return static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v);
}

inline void yuv_to_rgb_body(const uint8_t* __restrict src, int64_t pairs, uint8_t* __restrict r,
                            uint8_t* __restrict g, uint8_t* __restrict b) {
    for (int64_t i = 0; i < pairs; ++i) {
        const int32_t cb = int32_t(src[4 * i]) - 128;
        const int32_t y0 = src[4 * i + 1];
        const int32_t cr = int32_t(src[4 * i + 2]) - 128;
        const int32_t y1 = src[4 * i + 3];
        const int32_t l0 = (y0 > 15 ? y0 - 16 : 0) * 76310;
        const int32_t l1 = (y1 > 15 ? y1 - 16 : 0) * 76310;
        const int32_t rc = 104635 * cr;
        const int32_t gc = -25690 * cb - 53294 * cr;
        const int32_t bc = 132278 * cb;
        r[2 * i] = clamp_sample(l0 + rc);
        r[2 * i + 1] = clamp_sample(l1 + rc);
        g[2 * i] = clamp_sample(l0 + gc);
        g[2 * i + 1] = clamp_sample(l1 + gc);
        b[2 * i] = clamp_sample(l0 + bc);
        b[2 * i + 1] = clamp_sample(l1 + bc);
    }
}

// Each output byte is the sum of its own terms plus the remainder the previous sum
// left. Carried that way, the integer part of sum k is exactly
// floor(P_k / 65536) - floor(P_(k-1) / 65536) for the running total P of the terms,
// so the row keeps running totals instead (modulo 2^32: the difference of the high
// halves is small, so the wrap cancels) and the term sums, which dominate the work,
// have no chain between pixels and vectorise.
constexpr int64_t kPairBlock = 128;

struct YuvCarry {
    uint32_t y = 0, u = 0, v = 0;  // running totals of the luma and chroma terms
    int32_t u1 = 0, v1 = 0;        // chroma terms of the previous pair's right pixel
};

// p[0] holds the total so far and p[1 ... m] the terms; each term becomes the
// running total up to it.
inline void running_totals(uint32_t* p, int64_t m) {
    for (int64_t k = 1; k <= m; ++k) p[k] += p[k - 1];
}
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define KQ_YUV_WIDE 1
#endif

inline void rgb_to_yuv_block(const uint8_t* __restrict r, const uint8_t* __restrict g,
                             const uint8_t* __restrict b, int64_t n, uint8_t* __restrict dst,
                             YuvCarry& c) {
    // Running totals, each array led by the total carried in.
    uint32_t ty[2 * kPairBlock + 1], tu[kPairBlock + 1], tv[kPairBlock + 1];
    int32_t u1[kPairBlock + 1], v1[kPairBlock + 1];
    ty[0] = c.y;
    tu[0] = c.u;
    tv[0] = c.v;
    u1[0] = c.u1;
    v1[0] = c.v1;
    for (int64_t j = 0; j < n; ++j) {
        const int32_t r0 = r[2 * j], g0 = g[2 * j], b0 = b[2 * j];
        const int32_t r1 = r[2 * j + 1], g1 = g[2 * j + 1], b1 = b[2 * j + 1];
        ty[2 * j + 1] = uint32_t(16829 * r0 + 33039 * g0 + 6416 * b0);
        ty[2 * j + 2] = uint32_t(16829 * r1 + 33039 * g1 + 6416 * b1);
        u1[j + 1] = -2426 * r1 - 4765 * g1 + 7191 * b1;
        v1[j + 1] = 7193 * r1 - 6023 * g1 - 1170 * b1;
        tu[j + 1] = uint32_t(-4853 * r0 - 9530 * g0 + 14383 * b0);
        tv[j + 1] = uint32_t(14386 * r0 - 12046 * g0 - 2340 * b0);
    }
    // 1-2-1: the left pixel's doubled weight is in its own coefficients; add the
    // right pixels of this pair and the previous one.
    for (int64_t j = 0; j < n; ++j) {
        tu[j + 1] += uint32_t(u1[j] + u1[j + 1]);
        tv[j + 1] += uint32_t(v1[j] + v1[j + 1]);
    }
    c.u1 = u1[n];
    c.v1 = v1[n];
    running_totals(ty, 2 * n);
    running_totals(tu, n);
    running_totals(tv, n);
    for (int64_t j = 0; j < n; ++j) {
        dst[4 * j] = static_cast<uint8_t>((tu[j + 1] >> 16) - (tu[j] >> 16) + 128);
        dst[4 * j + 1] = static_cast<uint8_t>((ty[2 * j + 1] >> 16) - (ty[2 * j] >> 16) + 16);
        dst[4 * j + 2] = static_cast<uint8_t>((tv[j + 1] >> 16) - (tv[j] >> 16) + 128);
        dst[4 * j + 3] = static_cast<uint8_t>((ty[2 * j + 2] >> 16) - (ty[2 * j + 1] >> 16) + 16);
    }
    c.y = ty[2 * n];
    c.u = tu[n];
    c.v = tv[n];
}

inline void rgb_to_yuv_body(const uint8_t* r, const uint8_t* g, const uint8_t* b, int64_t pairs,
                            uint8_t* dst) {
    YuvCarry c;
    for (int64_t i = 0; i < pairs; i += kPairBlock) {
        const int64_t n = std::min(kPairBlock, pairs - i);
        rgb_to_yuv_block(r + 2 * i, g + 2 * i, b + 2 * i, n, dst + 4 * i, c);
    }
}

void yuv_to_rgb_base(const uint8_t* src, int64_t pairs, uint8_t* r, uint8_t* g, uint8_t* b) {
    yuv_to_rgb_body(src, pairs, r, g, b);
}
void rgb_to_yuv_base(const uint8_t* r, const uint8_t* g, const uint8_t* b, int64_t pairs,
                     uint8_t* dst) {
    rgb_to_yuv_body(r, g, b, pairs, dst);
}
#ifdef KQ_YUV_WIDE
// Eight sums of one plane, left pixels in `left` and right ones in `right`, as 16
// bytes in pixel order. The two saturating packs clamp to 0 ... 255.
[[gnu::target("avx2")]] inline void store_pairs(__m256i left, __m256i right, uint8_t* dst) {
    left = _mm256_srai_epi32(left, 16);
    right = _mm256_srai_epi32(right, 16);
    const __m256i words = _mm256_packs_epi32(_mm256_unpacklo_epi32(left, right),
                                             _mm256_unpackhi_epi32(left, right));
    const __m256i bytes = _mm256_permute4x64_epi64(_mm256_packus_epi16(words, words), 0x08);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst), _mm256_castsi256_si128(bytes));
}

// Eight groups (U, Y0, V, Y1) per step, one group per 32-bit lane.
[[gnu::target("avx2")]] void yuv_to_rgb_avx2(const uint8_t* src, int64_t pairs, uint8_t* r,
                                             uint8_t* g, uint8_t* b) {
    const __m256i byte = _mm256_set1_epi32(0xff), c128 = _mm256_set1_epi32(128);
    const __m256i c16 = _mm256_set1_epi32(16), zero = _mm256_setzero_si256();
    const __m256i kl = _mm256_set1_epi32(76310), krv = _mm256_set1_epi32(104635);
    const __m256i kgu = _mm256_set1_epi32(-25690), kgv = _mm256_set1_epi32(-53294);
    const __m256i kbu = _mm256_set1_epi32(132278);
    int64_t i = 0;
    for (; i + 8 <= pairs; i += 8) {
        const __m256i grp = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + 4 * i));
        const __m256i cb = _mm256_sub_epi32(_mm256_and_si256(grp, byte), c128);
        const __m256i y0 = _mm256_and_si256(_mm256_srli_epi32(grp, 8), byte);
        const __m256i v = _mm256_and_si256(_mm256_srli_epi32(grp, 16), byte);
        const __m256i cr = _mm256_sub_epi32(v, c128);
        const __m256i y1 = _mm256_srli_epi32(grp, 24);
        // max(Y - 16, 0): Y at most 255, so the difference fits.
        const __m256i yc0 = _mm256_max_epi32(_mm256_sub_epi32(y0, c16), zero);
        const __m256i yc1 = _mm256_max_epi32(_mm256_sub_epi32(y1, c16), zero);
        const __m256i l0 = _mm256_mullo_epi32(yc0, kl), l1 = _mm256_mullo_epi32(yc1, kl);
        const __m256i rc = _mm256_mullo_epi32(cr, krv);
        const __m256i gc =
            _mm256_add_epi32(_mm256_mullo_epi32(cb, kgu), _mm256_mullo_epi32(cr, kgv));
        const __m256i bc = _mm256_mullo_epi32(cb, kbu);
        store_pairs(_mm256_add_epi32(l0, rc), _mm256_add_epi32(l1, rc), r + 2 * i);
        store_pairs(_mm256_add_epi32(l0, gc), _mm256_add_epi32(l1, gc), g + 2 * i);
        store_pairs(_mm256_add_epi32(l0, bc), _mm256_add_epi32(l1, bc), b + 2 * i);
    }
    yuv_to_rgb_body(src + 4 * i, pairs - i, r + 2 * i, g + 2 * i, b + 2 * i);
}
// Running totals of eight lanes on top of the total `carry` (in every lane).
[[gnu::target("avx2")]] inline __m256i totals8(__m256i x, __m256i carry) {
    x = _mm256_add_epi32(x, _mm256_slli_si256(x, 4));
    x = _mm256_add_epi32(x, _mm256_slli_si256(x, 8));
    const __m256i low_total = _mm256_shuffle_epi32(x, 0xFF);
    x = _mm256_add_epi32(x, _mm256_permute2x128_si256(low_total, low_total, 0x08));
    return _mm256_add_epi32(x, carry);
}
// The lanes moved up by one, `first` (in every lane) entering lane 0.
[[gnu::target("avx2")]] inline __m256i shift_in(__m256i x, __m256i first) {
    const __m256i up = _mm256_permutevar8x32_epi32(x, _mm256_setr_epi32(7, 0, 1, 2, 3, 4, 5, 6));
    return _mm256_blend_epi32(up, first, 0x01);
}
[[gnu::target("avx2")]] inline __m256i last_lane(__m256i x) {
    return _mm256_permutevar8x32_epi32(x, _mm256_set1_epi32(7));
}
// The byte (high(after) - high(before) + bias) of each lane.
[[gnu::target("avx2")]] inline __m256i step_byte(__m256i after, __m256i before, __m256i bias) {
    const __m256i d = _mm256_sub_epi32(_mm256_srli_epi32(after, 16), _mm256_srli_epi32(before, 16));
    return _mm256_and_si256(_mm256_add_epi32(d, bias), _mm256_set1_epi32(0xff));
}
// pmaddwd weights: `left` for the left pixel of each pair, `right` for the right.
[[gnu::target("avx2")]] inline __m256i pair_weights(int left, int right) {
    return _mm256_set1_epi32(static_cast<int>((uint32_t(uint16_t(right)) << 16) | uint16_t(left)));
}

// Sixteen samples widened to 16 bits.
[[gnu::target("avx2")]] inline __m256i widen16(const uint8_t* p) {
    return _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
}
// wr·r + wg·g + wb·b over both pixels of each pair (16-bit samples, pair_weights).
[[gnu::target("avx2")]] inline __m256i pairs3(__m256i r, __m256i g, __m256i b, __m256i wr,
                                              __m256i wg, __m256i wb) {
    return _mm256_add_epi32(_mm256_add_epi32(_mm256_madd_epi16(r, wr), _mm256_madd_epi16(g, wg)),
                            _mm256_madd_epi16(b, wb));
}

// Eight pairs per step, one pair per 32-bit lane, everything in registers. The
// luma totals run per pair: before the pair, after its left pixel (the total so
// far plus the left pixel's term), after the pair.
[[gnu::target("avx2")]] void rgb_to_yuv_avx2(const uint8_t* r, const uint8_t* g, const uint8_t* b,
                                             int64_t pairs, uint8_t* dst) {
    const __m256i y0rg = pair_weights(16829, 0), y0g = pair_weights(16210, 0);
    const __m256i y0b = pair_weights(6416, 0);
    const __m256i yrg = pair_weights(16829, 16829), yg = pair_weights(16210, 16210);
    const __m256i yb = pair_weights(6416, 6416);
    const __m256i ur = pair_weights(-4853, -2426), ug = pair_weights(-9530, -4765);
    const __m256i ub = pair_weights(14383, 7191);
    const __m256i u1r = pair_weights(0, -2426), u1g = pair_weights(0, -4765);
    const __m256i u1b = pair_weights(0, 7191);
    const __m256i vr = pair_weights(14386, 7193), vg = pair_weights(-12046, -6023);
    const __m256i vb = pair_weights(-2340, -1170);
    const __m256i v1r = pair_weights(0, 7193), v1g = pair_weights(0, -6023);
    const __m256i v1b = pair_weights(0, -1170);
    const __m256i c16 = _mm256_set1_epi32(16), c128 = _mm256_set1_epi32(128);
    __m256i ty = _mm256_setzero_si256(), tu = ty, tv = ty, pu1 = ty, pv1 = ty;
    int64_t i = 0;
    for (; i + 8 <= pairs; i += 8) {
        const __m256i r16 = widen16(r + 2 * i), g16 = widen16(g + 2 * i);
        const __m256i b16 = widen16(b + 2 * i);
        // 33039 does not fit a 16-bit weight: 16829 (R + G) + 16210 G is the same sum.
        const __m256i rg16 = _mm256_add_epi16(r16, g16);
        const __m256i y0 = pairs3(rg16, g16, b16, y0rg, y0g, y0b);
        const __m256i ysum = pairs3(rg16, g16, b16, yrg, yg, yb);
        const __m256i u1 = pairs3(r16, g16, b16, u1r, u1g, u1b);
        const __m256i v1 = pairs3(r16, g16, b16, v1r, v1g, v1b);
        const __m256i su = _mm256_add_epi32(pairs3(r16, g16, b16, ur, ug, ub), shift_in(u1, pu1));
        const __m256i sv = _mm256_add_epi32(pairs3(r16, g16, b16, vr, vg, vb), shift_in(v1, pv1));
        pu1 = last_lane(u1);
        pv1 = last_lane(v1);

        const __m256i after = totals8(ysum, ty);
        const __m256i before = shift_in(after, ty);
        const __m256i mid = _mm256_add_epi32(before, y0);
        const __m256i nu = totals8(su, tu), nv = totals8(sv, tv);
        const __m256i ub8 = step_byte(nu, shift_in(nu, tu), c128);
        const __m256i vb8 = step_byte(nv, shift_in(nv, tv), c128);
        const __m256i y0b = step_byte(mid, before, c16);
        const __m256i y1b = step_byte(after, mid, c16);
        ty = last_lane(after);
        tu = last_lane(nu);
        tv = last_lane(nv);
        const __m256i low_half = _mm256_or_si256(ub8, _mm256_slli_epi32(y0b, 8));
        const __m256i high_half =
            _mm256_or_si256(_mm256_slli_epi32(vb8, 16), _mm256_slli_epi32(y1b, 24));
        const __m256i groups = _mm256_or_si256(low_half, high_half);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + 4 * i), groups);
    }
    YuvCarry c;
    c.y = uint32_t(_mm256_cvtsi256_si32(ty));
    c.u = uint32_t(_mm256_cvtsi256_si32(tu));
    c.v = uint32_t(_mm256_cvtsi256_si32(tv));
    c.u1 = _mm256_cvtsi256_si32(pu1);
    c.v1 = _mm256_cvtsi256_si32(pv1);
    for (; i < pairs; i += kPairBlock) {
        const int64_t n = std::min(kPairBlock, pairs - i);
        rgb_to_yuv_block(r + 2 * i, g + 2 * i, b + 2 * i, n, dst + 4 * i, c);
    }
}
#endif
WideVectors g_wide;  // yuv_allow_wide_vectors

}  // namespace

void yuv_allow_wide_vectors(bool allow) { g_wide.allowed = allow; }

void yuv_to_rgb_row(const uint8_t* src, int64_t width, uint8_t* r, uint8_t* g, uint8_t* b) {
#ifdef KQ_YUV_WIDE
    if (g_wide.avx2()) return yuv_to_rgb_avx2(src, width / 2, r, g, b);
#endif
    yuv_to_rgb_base(src, width / 2, r, g, b);
}

void rgb_to_yuv_row(const uint8_t* r, const uint8_t* g, const uint8_t* b, int64_t width,
                    uint8_t* dst) {
#ifdef KQ_YUV_WIDE
    if (g_wide.avx2()) return rgb_to_yuv_avx2(r, g, b, width / 2, dst);
#endif
    rgb_to_yuv_base(r, g, b, width / 2, dst);
}

// --- readyuv ---------------------------------------------------------------------------------

int read_yuv(const char* file_name, const char* buff_name, int width, int height) {
    if (std::strlen(file_name) >= kMaxYuvName) {
        std::fprintf(stderr, "ERROR : too long yuv fileName %s (currentMax=%d)\n", file_name,
                     static_cast<int>(kMaxYuvName));
        return 0;
    }
    if (width % 2 != 0) {
        std::fprintf(stderr, "ERROR : You have to use even sizeX pixel count\n");
        std::fprintf(stderr, "        now define is %d Xpixel\n", width);
        return 0;
    }
    std::FILE* f = std::fopen(file_name, "rb");
    if (!f) {
        std::fprintf(stderr, "ERROR : Can't open yuv data %s\n", file_name);
        return 0;
    }
    const int64_t w = width, h = height;
    const int64_t row_bytes = 2 * w;
    const int64_t per_run = run_rows(row_bytes, h);
    // A negative size has no row to hold, like a row too large for memory.
    std::unique_ptr<uint8_t[]> run = w < 0 || h < 0 ? nullptr : try_alloc(per_run * row_bytes);
    if (!run) {
        std::fprintf(stderr, "ERROR : Can't alloc scanline buffer for yuv data\n");
        std::fclose(f);
        return 0;
    }
    // Every row is either converted or cleared below, so reused planes need no
    // clearing first.
    ImageBuffer* b = make_buffer(buff_name, 0, 0, width, height, 3, false);
    b->kqName = file_name;
    std::setvbuf(f, nullptr, _IONBF, 0);
    int64_t done = row_bytes == 0 ? h : 0;  // rows converted, from the top
    while (done < h) {
        const int64_t want = std::min(per_run, h - done);
        const int64_t got = int64_t(std::fread(run.get(), 1, size_t(want * row_bytes), f));
        const int64_t rows = got / row_bytes;
        for (int64_t j = 0; j < rows; ++j) {
            const int64_t at = (done + j) * w;
            yuv_to_rgb_row(run.get() + j * row_bytes, w, b->plane[0] + at, b->plane[1] + at,
                           b->plane[2] + at);
        }
        done += rows;
        if (rows < want) {
            std::fprintf(stderr, "WARNING : can't read yuv data (scanline #%d)\n",
                         static_cast<int>(h - 1 - done));
            note_incomplete();
            break;
        }
    }
    for (int p = 0; p < 3; ++p)
        if (done < h) std::memset(b->plane[p] + done * w, 0, size_t((h - done) * w));
    std::fclose(f);
    return 1;
}

static void help_readyuv(const char* word, int mode) {
    if (mode != 1) return print_summary(word, "read YUV data");
    std::fprintf(stderr, "Usage : %s [-options] fileName buffName\n", word);
    static const char* const lines[] = {
        "[Options]\n",
        " -s x y : size\n",
        "[Default]\n",
        " -s 720 486 : D1 format ( A60 format )\n",
    };
    for (const char* l : lines) std::fputs(l, stderr);
}

// readyuv [-s x y] fileName buffName. Once the words are right the command counts
// as done: its refusals are messages, not execution errors.
int cmd_readyuv(int argc, char** argv) {
    if (answer_help(argc, argv, help_readyuv)) return 1;
    int width = 720, height = 486;
    const char* names[2] = {nullptr, nullptr};
    int count = 0;
    for (int i = 1; i < argc; ++i) {
        if (same_word(argv[i], "-s")) {
            if (!need_args(argc, argv, i, 2, help_readyuv)) return 0;
            width = to_int(argv[i + 1]);
            height = to_int(argv[i + 2]);
            i += 2;
        } else {
            if (count == 2) return command_error("Invalid argment", argv[0], help_readyuv);
            names[count++] = argv[i];
        }
    }
    if (count < 2)
        return command_error("You have to define fileName and buffName", argv[0], help_readyuv);
    return succeed_anyway(read_yuv(names[0], names[1], width, height));
}

// --- writeyuv --------------------------------------------------------------------------------

int write_yuv(const char* buff_name, const char* file_name) {
    const ImageBuffer* b = find_buffer(buff_name);
    if (!b) {
        std::fprintf(stderr, "WARNING : Can't find buff (name=%s)\n", buff_name);
        return 0;
    }
    if (b->components < 3) {
        std::fprintf(stderr, "ERROR : Can't convert to yuv format\n");
        std::fprintf(stderr, "        %s is %d component\n", buff_name, b->components);
        std::fprintf(stderr, "        Could you change 3 or more plane data\n");
        return 0;
    }
    if (b->width % 2 != 0) {
        std::fprintf(stderr, "ERROR : Can't convert to yuv format\n");
        std::fprintf(stderr, "        %s size x is %d\n", buff_name, b->width);
        std::fprintf(stderr, "        Could you change even pixel size x\n");
        return 0;
    }
    SafeOutput out;
    std::FILE* f = out.open(file_name);
    if (!f) {
        std::fprintf(stderr, "ERROR : Can't create yuv data %s\n", file_name);
        return 0;
    }
    const int64_t w = b->width, h = b->height;
    const int64_t row_bytes = 2 * w;
    const int64_t per_run = run_rows(row_bytes, h);
    std::unique_ptr<uint8_t[]> run = try_alloc(per_run * row_bytes);
    if (!run) {
        std::fprintf(stderr, "ERROR : Can't alloc yuv scanline buffer (xsize=%d)\n", b->width);
        return 0;
    }
    std::setvbuf(f, nullptr, _IONBF, 0);
    for (int64_t i = 0; i < h; i += per_run) {
        const int64_t n = std::min(per_run, h - i);
        for (int64_t j = 0; j < n; ++j) {
            const int64_t at = (i + j) * w;
            rgb_to_yuv_row(b->plane[0] + at, b->plane[1] + at, b->plane[2] + at, w,
                           run.get() + j * row_bytes);
        }
        int64_t written = 0;
        if (!write_all(f, run.get(), n * row_bytes, &written)) {
            std::fprintf(stderr, "ERROR : Can't write yuv %s\n", file_name);
            return 0;
        }
    }
    if (!out.commit()) {
        std::fprintf(stderr, "ERROR : Can't write yuv %s\n", file_name);
        return 0;
    }
    return 1;
}

static void help_writeyuv(const char* word, int mode) {
    if (mode != 1) return print_summary(word, "write YUV data");
    std::fprintf(stderr, "Usage : %s buffName outName\n", word);
}

// writeyuv buffName outName.
int cmd_writeyuv(int argc, char** argv) {
    if (answer_help(argc, argv, help_writeyuv)) return 1;
    if (argc != 3) return command_error("Invalid argment count", argv[0], help_writeyuv);
    return succeed_anyway(write_yuv(argv[1], argv[2]));
}

// --- writedump -------------------------------------------------------------------------------

int write_dump(const char* buff_name, const char* file_name, int mask) {
    const ImageBuffer* b = find_buffer(buff_name);
    if (!b) {
        std::fprintf(stderr, "WARNING : Can't find buff (name=%s)\n", buff_name);
        return 0;
    }
    char letters[5] = {};
    int planes[4] = {};
    int n = 0;
    for (int p = 0; p < 4; ++p) {
        if (mask & (1 << p)) {
            letters[n] = "rgba"[p];
            planes[n++] = p;
        }
    }
    const bool refused = (b->components == 1 && mask != 1) ||
                         (b->components == 3 && (mask & 8) != 0);
    if (refused) {
        if (b->components == 1)
            std::fprintf(stderr, "WARNING : This buffer only has r component (buff:%s)\n",
                         buff_name);
        else
            std::fprintf(stderr, "WARNING : This buffer has rgb component (buff:%s)\n", buff_name);
        std::fprintf(stderr, "          Can't write %s color component data\n", letters);
        return 0;
    }
    SafeOutput out;
    std::FILE* f = out.open(file_name);
    if (!f) {
        std::fprintf(stderr, "WARNING : Can't create %s\n", file_name);
        return 0;
    }
    const int64_t w = b->width, h = b->height;
    const int64_t row_bytes = n * w;
    const int64_t per_run = run_rows(row_bytes, h);
    std::unique_ptr<uint8_t[]> run = try_alloc(per_run * row_bytes);
    if (!run) {
        std::fprintf(stderr, "ERROR : Can't alloc one scanline buffer (xsize=%d)\n", b->width);
        return 0;
    }
    std::setvbuf(f, nullptr, _IONBF, 0);
    const uint8_t* rows[4] = {};
    for (int64_t i = 0; i < h; i += per_run) {
        const int64_t k = std::min(per_run, h - i);
        for (int64_t j = 0; j < k; ++j) {
            for (int q = 0; q < n; ++q) rows[q] = b->plane[planes[q]] + (i + j) * w;
            interleave_row(rows, n, w, run.get() + j * row_bytes);
        }
        int64_t written = 0;
        if (!write_all(f, run.get(), k * row_bytes, &written)) {
            const int64_t done = i + written / std::max<int64_t>(row_bytes, 1);
            const int64_t y = int64_t(b->window.y2) - done;
            std::fprintf(stderr, "ERROR : Can't output scanline data (outname:%s y=%d)\n",
                         file_name, static_cast<int>(y));
            return 0;
        }
    }
    if (!out.commit()) {
        std::fprintf(stderr, "ERROR : Can't output scanline data (outname:%s y=%d)\n", file_name,
                     static_cast<int>(b->window.y1));
        return 0;
    }
    return 1;
}

namespace {

void help_writedump(const char* word, int mode) {
    if (mode != 1) return print_summary(word, "write dump data");
    std::fprintf(stderr, "Usage : %s [-options] buffName outName\n", word);
    static const char* const lines[] = {
        "[Options]\n",
        " -r    : r plane output mode\n",
        " -g    : g plane output mode\n",
        " -b    : b plane output mode\n",
        " -a    : a plane output mode\n",
        " -rgb  : rgb 3 planes output mode\n",
        " -rgba : rgba 4 planes output mode\n",
        "[Default]\n",
        " -rgba\n",
    };
    for (const char* l : lines) std::fputs(l, stderr);
}

}  // namespace

// writedump [-r|-g|-b|-a|-rgb|-rgba] buffName outName; the last plane option counts.
int cmd_writedump(int argc, char** argv) {
    if (answer_help(argc, argv, help_writedump)) return 1;
    int mask = 15;
    const char* names[2] = {nullptr, nullptr};
    int count = 0;
    for (int i = 1; i < argc; ++i) {
        const int m = plane_mask_word(argv[i]);
        if (m >= 0) {
            mask = m;
        } else {
            if (count == 2) return command_error("Invalid argment", argv[0], help_writedump);
            names[count++] = argv[i];
        }
    }
    if (count < 2)
        return command_error("You have to define buffName and outName", argv[0], help_writedump);
    return succeed_anyway(write_dump(names[0], names[1], mask));
}
