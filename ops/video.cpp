// d1tontsc, ntsctod1 and hdtontsc: separable conversions between the video rasters.
//
// Column pass: each row of the input is resampled into a temporary with a filter
// that repeats every 9, 8 or 3 pixels. Row pass: each output row is a weighted sum
// of two to four temporary rows with one weight per source row, so it is one
// `mix_rows` call over the whole row. All sums are small non-negative integers; the
// vector forms divide by multiplying with a 16-bit reciprocal, exact over every sum
// the filters can reach (the tests compare them with the plain loops).
#include "ops/video.h"

#include <algorithm>
#include <cstdio>

#if defined(__GNUC__) && defined(__x86_64__)
#define KQ_VIDEO_SIMD 1
#include <immintrin.h>
#endif

#include "buffer/image_buffer.h"
#include "interp/command.h"
#include "interp/commands.h"
#include "ops/cpu.h"
#include "parallel/parallel.h"

namespace {

constexpr int kD1Width = 720, kD1Height = 486;
constexpr int kNtscWidth = 640, kNtscHeight = 480;
constexpr int kHdWidth = 1920, kHdHeight = 1035;
constexpr int kHdOutHeight = 360;
constexpr const char* kD1Tmp = "sys:D1NtscTmp";
constexpr const char* kHdTmp = "sys:HDtoNTSCTmp";

WideVectors wide_vectors;  // video_allow_wide_vectors

#if KQ_VIDEO_SIMD
// The reciprocal of d for sums below 256 d: floor(x / d) = (x M) >> (16 + s) with
// s = floor(log2(d - 1)) and M = ceil(2^(16+s) / d), which stays below 2^16.
struct Reciprocal {
    int shift;
    int mul;
};
Reciprocal reciprocal(int d) {
    int s = 0;
    while ((2 << s) <= d - 1) ++s;
    const int64_t p = int64_t(1) << (16 + s);
    return {s, int((p + d - 1) / d)};
}
#endif

}  // namespace

void video_allow_wide_vectors(bool allow) { wide_vectors.allowed = allow; }

// ---- column kernels ---------------------------------------------------------------

namespace video_rows {

void d1_columns_plain(const uint8_t* src, uint8_t* dst) {
    for (int g = 0; g < kNtscWidth / 8; ++g) {
        const uint8_t* p = src + 9 * g;
        uint8_t* o = dst + 8 * g;
        for (int j = 0; j < 8; ++j) o[j] = uint8_t(((8 - j) * p[j] + (j + 1) * p[j + 1] + 4) / 9);
    }
}

void ntsc_columns_plain(const uint8_t* src, uint8_t* dst) {
    for (int g = 0; g < kNtscWidth / 8; ++g) {
        const uint8_t* p = src + 8 * g;
        uint8_t* o = dst + 9 * g;
        o[0] = p[0];
        for (int j = 1; j < 8; ++j) o[j] = uint8_t((j * p[j - 1] + (8 - j) * p[j]) >> 3);
        o[8] = p[7];
    }
}

void hd_columns_plain(const uint8_t* src, uint8_t* dst) {
    for (int x = 0; x < kNtscWidth; ++x)
        dst[x] = uint8_t((src[3 * x] + src[3 * x + 1] + src[3 * x + 2]) / 3);
}

void mix_rows_plain(const RowMix& m, uint8_t* dst, int64_t n) {
    for (int64_t x = 0; x < n; ++x) {
        int sum = m.bias;
        for (int t = 0; t < m.taps; ++t) sum += m.weights[t] * m.rows[t][x];
        dst[x] = uint8_t(sum / m.divisor);
    }
}

}  // namespace video_rows

#if KQ_VIDEO_SIMD
namespace {

// Four groups of 9 pixels (two per 128-bit lane) to 32 pixels. Each lane loads 16
// bytes from its group start, so the last group read must start 16 bytes before
// the row end.
__attribute__((target("avx2"))) void d1_columns_avx2(const uint8_t* src, uint8_t* dst) {
    const __m256i first = _mm256_setr_epi8(0, -1, 1, -1, 2, -1, 3, -1, 4, -1, 5, -1, 6, -1, 7, -1,
                                           0, -1, 1, -1, 2, -1, 3, -1, 4, -1, 5, -1, 6, -1, 7, -1);
    const __m256i second = _mm256_setr_epi8(1, -1, 2, -1, 3, -1, 4, -1, 5, -1, 6, -1, 7, -1, 8, -1,
                                            1, -1, 2, -1, 3, -1, 4, -1, 5, -1, 6, -1, 7, -1, 8, -1);
    const __m256i wa = _mm256_setr_epi16(8, 7, 6, 5, 4, 3, 2, 1, 8, 7, 6, 5, 4, 3, 2, 1);
    const __m256i wb = _mm256_setr_epi16(1, 2, 3, 4, 5, 6, 7, 8, 1, 2, 3, 4, 5, 6, 7, 8);
    const __m256i four = _mm256_set1_epi16(4);
    const Reciprocal r = reciprocal(9);
    const __m256i mul = _mm256_set1_epi16(int16_t(r.mul));
    const __m128i shift = _mm_cvtsi32_si128(r.shift);
    __m256i half[2];
    int g = 0;
    for (; 9 * (g + 3) + 16 <= kD1Width; g += 4) {
        for (int h = 0; h < 2; ++h) {
            const uint8_t* p = src + 9 * (g + 2 * h);
            __m256i v = _mm256_loadu2_m128i(reinterpret_cast<const __m128i*>(p + 9),
                                            reinterpret_cast<const __m128i*>(p));
            __m256i s = _mm256_add_epi16(_mm256_mullo_epi16(_mm256_shuffle_epi8(v, first), wa),
                                         _mm256_mullo_epi16(_mm256_shuffle_epi8(v, second), wb));
            s = _mm256_add_epi16(s, four);
            half[h] = _mm256_srl_epi16(_mm256_mulhi_epu16(s, mul), shift);
        }
        // lanes: (g, g+2) and (g+1, g+3) after the pack; put them in order.
        __m256i packed = _mm256_packus_epi16(half[0], half[1]);
        packed = _mm256_permute4x64_epi64(packed, 0xD8);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + 8 * g), packed);
    }
    for (; g < kNtscWidth / 8; ++g) {
        const uint8_t* p = src + 9 * g;
        uint8_t* o = dst + 8 * g;
        for (int j = 0; j < 8; ++j) o[j] = uint8_t(((8 - j) * p[j] + (j + 1) * p[j + 1] + 4) / 9);
    }
}

// One group of 8 pixels to 9: the pairs (p_j-1, p_j) weighted (j, 8 - j) by one
// multiply-add, the ninth pixel copied.
__attribute__((target("ssse3"))) void ntsc_columns_ssse3(const uint8_t* src, uint8_t* dst) {
    const __m128i pairs = _mm_setr_epi8(0, 0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6, 6, 7);
    const __m128i weights = _mm_setr_epi8(0, 8, 1, 7, 2, 6, 3, 5, 4, 4, 5, 3, 6, 2, 7, 1);
    for (int g = 0; g < kNtscWidth / 8; ++g) {
        const __m128i p = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(src + 8 * g));
        __m128i s = _mm_maddubs_epi16(_mm_shuffle_epi8(p, pairs), weights);
        s = _mm_srli_epi16(s, 3);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(dst + 9 * g), _mm_packus_epi16(s, s));
        dst[9 * g + 8] = src[8 * g + 7];
    }
}

// 96 pixels to 32: each 128-bit lane holds 48 consecutive pixels spread over three
// registers; one shuffle per register and phase gathers the phase's 16 pixels.
struct HdMasks {
    alignas(32) int8_t m[3][3][32]{};  // [phase][register]
    constexpr HdMasks() {
        for (int c = 0; c < 3; ++c)
            for (int r = 0; r < 3; ++r)
                for (int k = 0; k < 16; ++k) {
                    const int at = 3 * k + c - 16 * r;
                    const int8_t v = (at >= 0 && at < 16) ? int8_t(at) : int8_t(-1);
                    m[c][r][k] = v;
                    m[c][r][k + 16] = v;
                }
    }
};
constexpr HdMasks hd_masks;

__attribute__((target("avx2"))) void hd_columns_avx2(const uint8_t* src, uint8_t* dst) {
    const Reciprocal rc = reciprocal(3);
    const __m256i mul = _mm256_set1_epi16(int16_t(rc.mul));
    const __m128i shift = _mm_cvtsi32_si128(rc.shift);
    const __m256i zero = _mm256_setzero_si256();
    __m256i mask[3][3];
    for (int c = 0; c < 3; ++c)
        for (int r = 0; r < 3; ++r)
            mask[c][r] = _mm256_load_si256(reinterpret_cast<const __m256i*>(hd_masks.m[c][r]));
    for (int x = 0; x < kNtscWidth; x += 32) {
        const uint8_t* p = src + 3 * x;
        __m256i reg[3];
        for (int r = 0; r < 3; ++r)
            reg[r] = _mm256_loadu2_m128i(reinterpret_cast<const __m128i*>(p + 48 + 16 * r),
                                         reinterpret_cast<const __m128i*>(p + 16 * r));
        __m256i lo = zero, hi = zero;
        for (int c = 0; c < 3; ++c) {
            __m256i v = _mm256_or_si256(_mm256_or_si256(_mm256_shuffle_epi8(reg[0], mask[c][0]),
                                                        _mm256_shuffle_epi8(reg[1], mask[c][1])),
                                        _mm256_shuffle_epi8(reg[2], mask[c][2]));
            lo = _mm256_add_epi16(lo, _mm256_unpacklo_epi8(v, zero));
            hi = _mm256_add_epi16(hi, _mm256_unpackhi_epi8(v, zero));
        }
        lo = _mm256_srl_epi16(_mm256_mulhi_epu16(lo, mul), shift);
        hi = _mm256_srl_epi16(_mm256_mulhi_epu16(hi, mul), shift);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + x), _mm256_packus_epi16(lo, hi));
    }
}

// 16 sums of the mix from column x, divided.
__attribute__((target("avx2"))) inline __m256i mix16(const video_rows::RowMix& m, const __m256i* w,
                                                     __m256i bias, __m256i mul, __m128i shift,
                                                     int64_t x) {
    __m256i s = bias;
    for (int t = 0; t < m.taps; ++t) {
        __m256i v =
            _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(m.rows[t] + x)));
        s = _mm256_add_epi16(s, _mm256_mullo_epi16(v, w[t]));
    }
    return _mm256_srl_epi16(_mm256_mulhi_epu16(s, mul), shift);
}

__attribute__((target("avx2"))) void mix_rows_avx2(const video_rows::RowMix& m, uint8_t* dst,
                                                   int64_t n) {
    const Reciprocal rc = reciprocal(m.divisor);
    const __m256i mul = _mm256_set1_epi16(int16_t(rc.mul));
    const __m128i shift = _mm_cvtsi32_si128(rc.shift);
    const __m256i bias = _mm256_set1_epi16(int16_t(m.bias));
    __m256i w[4];
    for (int t = 0; t < m.taps; ++t) w[t] = _mm256_set1_epi16(int16_t(m.weights[t]));
    int64_t x = 0;
    for (; x + 32 <= n; x += 32) {
        __m256i packed = _mm256_packus_epi16(mix16(m, w, bias, mul, shift, x),
                                             mix16(m, w, bias, mul, shift, x + 16));
        packed = _mm256_permute4x64_epi64(packed, 0xD8);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + x), packed);
    }
    for (; x + 16 <= n; x += 16) {
        __m256i s = mix16(m, w, bias, mul, shift, x);
        __m128i packed =
            _mm_packus_epi16(_mm256_castsi256_si128(s), _mm256_extracti128_si256(s, 1));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + x), packed);
    }
    for (; x < n; ++x) {
        int sum = m.bias;
        for (int t = 0; t < m.taps; ++t) sum += m.weights[t] * m.rows[t][x];
        dst[x] = uint8_t(sum / m.divisor);
    }
}

}  // namespace
#endif

namespace video_rows {

void d1_columns(const uint8_t* src, uint8_t* dst) {
#if KQ_VIDEO_SIMD
    if (wide_vectors.avx2()) return d1_columns_avx2(src, dst);
#endif
    d1_columns_plain(src, dst);
}

void ntsc_columns(const uint8_t* src, uint8_t* dst) {
#if KQ_VIDEO_SIMD
    if (wide_vectors.ssse3()) return ntsc_columns_ssse3(src, dst);
#endif
    ntsc_columns_plain(src, dst);
}

void hd_columns(const uint8_t* src, uint8_t* dst) {
#if KQ_VIDEO_SIMD
    if (wide_vectors.avx2()) return hd_columns_avx2(src, dst);
#endif
    hd_columns_plain(src, dst);
}

void mix_rows(const RowMix& m, uint8_t* dst, int64_t n) {
#if KQ_VIDEO_SIMD
    if (wide_vectors.avx2()) return mix_rows_avx2(m, dst, n);
#endif
    mix_rows_plain(m, dst, n);
}

}  // namespace video_rows

// ---- workers --------------------------------------------------------------------------

namespace {

using video_rows::RowMix;

bool has_size(const ImageBuffer& b, int w, int h) { return b.width == w && b.height == h; }

// The two-line size refusal: the message naming the buffer, then its size.
int wrong_size(const char* message, const ImageBuffer& b) {
    std::fprintf(stderr, message, b.name.c_str());
    std::fprintf(stderr, "        %s : %d x %d\n", b.name.c_str(), b.width, b.height);
    return 0;
}

// The row pass writes `planes` planes of the output.
bool output_has_planes(const ImageBuffer& in, const ImageBuffer& out, int planes) {
    if (out.components >= planes) return true;
    std::fputs("WARNING : output buffer component size missing\n", stderr);
    std::fprintf(stderr, "          %s has %d component\n", in.name.c_str(), in.components);
    std::fprintf(stderr, "          %s has %d component\n", out.name.c_str(), out.components);
    return false;
}

// The temporary is remade (and zeroed) by the worker, so it cannot also be one of
// the command's own buffers.
bool not_the_temporary(const ImageBuffer& in, const ImageBuffer& out, const char* tmp) {
    for (const ImageBuffer* b : {&in, &out}) {
        if (b->name == tmp) {
            std::fprintf(stderr, "WARNING : %s is a work buffer name\n", tmp);
            return false;
        }
    }
    return true;
}

ImageBuffer* make_temporary(const char* name, int32_t x, int32_t y, int32_t w, int32_t h,
                            int comps) {
    make_buffer(name, x, y, w, h, comps);
    ImageBuffer* t = find_buffer(name);
    if (!t) std::fprintf(stderr, "WARNING : Can't find %s\n", name);
    return t;
}

uint8_t* row_of(const ImageBuffer& b, int p, int64_t k) { return b.plane[p] + k * b.width; }

// Planes go one to a thread when each is worth a thread of its own.
int64_t plane_grain(const ImageBuffer& b) {
    return fine_split() || int64_t(b.width) * b.height >= kMinLoopBytes ? 1 : kOneRange;
}

}  // namespace

int d1_to_ntsc(const char* in, const char* out, bool rgb_only) {
    ImageBuffer *src = nullptr, *dst = nullptr;
    if (!find_buffers2(in, out, src, dst)) return 0;
    if (!has_size(*src, kD1Width, kD1Height))
        return wrong_size("ERROR : %s is not a D1 resolution\n", *src);
    if (!has_size(*dst, kNtscWidth, kNtscHeight))
        return wrong_size("ERROR : %s is not a NTSC resolution\n", *dst);
    const int planes = rgb_only ? std::min(src->components, 3) : src->components;
    if (!output_has_planes(*src, *dst, planes) || !not_the_temporary(*src, *dst, kD1Tmp)) return 0;

    ImageBuffer* tmp =
        make_temporary(kD1Tmp, src->x, src->y, src->width, src->height, src->components);
    if (!tmp) return 0;
    // Planes the row pass does not read are not converted: the temporary goes away.
    // The planes are independent: one to a thread.
    parallel_for(planes, plane_grain(*src), [&](int64_t p0, int64_t p1) {
        for (int p = int(p0); p < int(p1); ++p) {
            for (int k = 0; k < kD1Height; ++k)
                video_rows::d1_columns(row_of(*src, p, k), row_of(*tmp, p, k));
            for (int r = 0; r < kNtscHeight; ++r) {
                const int g = r / 80, m = r % 80;
                const int k = 81 * g + m;
                const RowMix mix{
                    2, {row_of(*tmp, p, k), row_of(*tmp, p, k + 1)}, {80 - m, m + 1}, 40, 81};
                video_rows::mix_rows(mix, row_of(*dst, p, r), kNtscWidth);
            }
        }
    });
    dispose_buffer(kD1Tmp);
    return 1;
}

int ntsc_to_d1(const char* in, const char* out, bool rgb_only) {
    ImageBuffer *src = nullptr, *dst = nullptr;
    if (!find_buffers2(in, out, src, dst)) return 0;
    if (!has_size(*src, kNtscWidth, kNtscHeight))
        return wrong_size("ERROR : %s is not a NTSC resolution\n", *src);
    if (!has_size(*dst, kD1Width, kD1Height))
        return wrong_size("ERROR : %s is not a D1 resolution\n", *dst);
    // The row pass takes its plane count from the temporary, made like the output.
    const int planes = rgb_only ? std::min(dst->components, 3) : dst->components;
    if (!not_the_temporary(*src, *dst, kD1Tmp)) return 0;

    ImageBuffer* tmp =
        make_temporary(kD1Tmp, dst->x, dst->y, dst->width, dst->height, dst->components);
    if (!tmp) return 0;
    // Input row i sits in temporary row i + 6 (counted from the top) at any origin.
    // Planes the input lacks stay zero in the temporary.
    auto S = [&](int p, int i) { return row_of(*tmp, p, i + 6); };
    // The planes are independent: one to a thread.
    parallel_for(planes, plane_grain(*src), [&](int64_t p0, int64_t p1) {
        for (int p = int(p0); p < int(p1); ++p) {
            if (p < src->components)
                for (int k = 0; k < kNtscHeight; ++k)
                    video_rows::ntsc_columns(row_of(*src, p, k), S(p, k));
            for (int r = 0; r < kD1Height; ++r) {
                const int g = r / 81, q = r % 81;
                const int i = 80 * g + q;
                uint8_t* o = row_of(*dst, p, r);
                if (q == 0) {
                    std::copy_n(S(p, i), kD1Width, o);
                } else if (q == 80) {
                    std::copy_n(S(p, i - 1), kD1Width, o);
                } else {
                    const RowMix mix{2, {S(p, i), S(p, i - 1)}, {80 - q, q}, 40, 80};
                    video_rows::mix_rows(mix, o, kD1Width);
                }
            }
        }
    });
    dispose_buffer(kD1Tmp);
    return 1;
}

int hd_to_ntsc(const char* in, const char* out) {
    ImageBuffer *src = nullptr, *dst = nullptr;
    if (!find_buffers2(in, out, src, dst)) return 0;
    if (!has_size(*src, kHdWidth, kHdHeight))
        return wrong_size("ERROR : %s is not a HD resolution (1920x1035)\n", *src);
    if (!has_size(*dst, kNtscWidth, kHdOutHeight))
        return wrong_size("ERROR : %s is not a NTSC resolution (640x360)\n", *dst);
    if (src->components != 3 || dst->components != 3) {
        std::fputs("ERROR : component is not 3\n", stderr);
        std::fprintf(stderr, "        %s : %d component\n", src->name.c_str(), src->components);
        std::fprintf(stderr, "        %s : %d component\n", dst->name.c_str(), dst->components);
        return 0;
    }
    if (!not_the_temporary(*src, *dst, kHdTmp)) return 0;

    ImageBuffer* tmp = make_temporary(kHdTmp, 0, 0, kNtscWidth, kHdHeight, 3);
    if (!tmp) return 0;
    // The planes are independent: one to a thread.
    parallel_for(3, plane_grain(*src), [&](int64_t p0, int64_t p1) {
        for (int p = int(p0); p < int(p1); ++p) {
            for (int k = 0; k < kHdHeight; ++k)
                video_rows::hd_columns(row_of(*src, p, k), row_of(*tmp, p, k));
            // Block b: temporary rows 23b .. 23b + 22 to output rows 8b .. 8b + 7. Output
            // j takes rows 3j - 1 (weight j), 3j and 3j + 1 (8 each), 3j + 2 (7 - j).
            for (int b = 0; b < kHdOutHeight / 8; ++b) {
                for (int j = 0; j < 8; ++j) {
                    RowMix mix{0, {}, {}, 0, 23};
                    auto tap = [&](int row, int weight) {
                        if (weight == 0) return;
                        mix.rows[mix.taps] = row_of(*tmp, p, 23 * b + row);
                        mix.weights[mix.taps++] = weight;
                    };
                    tap(3 * j - 1, j);
                    tap(3 * j, 8);
                    tap(3 * j + 1, 8);
                    tap(3 * j + 2, 7 - j);
                    video_rows::mix_rows(mix, row_of(*dst, p, 8 * b + j), kNtscWidth);
                }
            }
        }
    });
    dispose_buffer(kHdTmp);
    return 1;
}

// ---- commands -----------------------------------------------------------------------

namespace {

void rgb_usage(const char* word) {
    std::fprintf(stderr, "Usage : %s [-options] inBuffName outBuffName\n", word);
    std::fputs("[options]\n", stderr);
    std::fputs(" -rgb : rgb only\n", stderr);
}

void d1tontsc_help(const char* word, int mode) {
    if (mode != 1) return print_summary(word, "convert 720x486 to 640x480");
    rgb_usage(word);
}

void ntsctod1_help(const char* word, int mode) {
    if (mode != 1) return print_summary(word, "convert 640x480 to 720x486");
    rgb_usage(word);
}

void hdtontsc_help(const char* word, int mode) {
    if (mode != 1) return print_summary(word, "convert 1920x1035 to 640x360");
    std::fprintf(stderr, "Usage : %s inBuffName outBuffName\n", word);
    std::fputs("         inBuff -> 1920 x 1035 x 3 plane\n", stderr);
    std::fputs("        outBuff ->  640 x  360 x 3 plane\n", stderr);
}

using RgbWorker = int (*)(const char*, const char*, bool);

// [-rgb] inBuffName outBuffName
int rgb_command(int argc, char** argv, HelpPrinter help, RgbWorker worker) {
    if (answer_help(argc, argv, help)) return 1;
    bool rgb_only = false;
    const char* names[2] = {nullptr, nullptr};
    int count = 0;
    for (int i = 1; i < argc; ++i) {
        if (same_word(argv[i], "-rgb")) {
            rgb_only = true;
        } else {
            if (count == 2) return command_error("Invalid argment", argv[0], help);
            names[count++] = argv[i];
        }
    }
    if (count < 2) return command_error("You must define in/out buff name", argv[0], help);
    return worker(names[0], names[1], rgb_only);
}

}  // namespace

int cmd_d1tontsc(int argc, char** argv) {
    return rgb_command(argc, argv, d1tontsc_help, d1_to_ntsc);
}

int cmd_ntsctod1(int argc, char** argv) {
    return rgb_command(argc, argv, ntsctod1_help, ntsc_to_d1);
}

int cmd_hdtontsc(int argc, char** argv) {
    if (answer_help(argc, argv, hdtontsc_help)) return 1;
    if (argc != 3) return command_error("You must define in/out buff name", argv[0], hdtontsc_help);
    return hd_to_ntsc(argv[1], argv[2]);
}
