#include "libkq/kq_pixels.h"

#if defined(__GNUC__) && defined(__x86_64__)
#include <immintrin.h>
#define KQ_PIXELS_X86 1
#endif

void kq_split4_plain(const unsigned char* in, int64_t n, const int at[4], uint8_t* const o[4]) {
    const int c0 = at[0], c1 = at[1], c2 = at[2], c3 = at[3];
    uint8_t *o0 = o[0], *o1 = o[1], *o2 = o[2], *o3 = o[3];
    for (int64_t i = 0; i < n; ++i) {
        o0[i] = in[4 * i + c0];
        o1[i] = in[4 * i + c1];
        o2[i] = in[4 * i + c2];
        o3[i] = in[4 * i + c3];
    }
}

#ifdef KQ_PIXELS_X86
namespace {

// The shuffle that gathers, within each 16 bytes (four pixels), plane p's four
// bytes into word p.
void shuffle_mask(const int at[4], unsigned char m[16]) {
    for (int p = 0; p < 4; ++p)
        for (int i = 0; i < 4; ++i) m[4 * p + i] = static_cast<unsigned char>(4 * i + at[p]);
}

// 16 pixels a step: each 16-byte group is shuffled into four pixels' bytes per
// plane, then the 4 x 4 words are transposed. Returns the pixels done.
__attribute__((target("ssse3"))) int64_t split4_ssse3(const unsigned char* in, int64_t n,
                                                      const int at[4], uint8_t* const o[4]) {
    alignas(16) unsigned char m[16];
    shuffle_mask(at, m);
    const __m128i mask = _mm_load_si128(reinterpret_cast<const __m128i*>(m));
    int64_t i = 0;
    for (; i + 16 <= n; i += 16) {
        const __m128i* src = reinterpret_cast<const __m128i*>(in + 4 * i);
        const __m128i v0 = _mm_shuffle_epi8(_mm_loadu_si128(src), mask);
        const __m128i v1 = _mm_shuffle_epi8(_mm_loadu_si128(src + 1), mask);
        const __m128i v2 = _mm_shuffle_epi8(_mm_loadu_si128(src + 2), mask);
        const __m128i v3 = _mm_shuffle_epi8(_mm_loadu_si128(src + 3), mask);
        const __m128i t0 = _mm_unpacklo_epi32(v0, v1), t1 = _mm_unpacklo_epi32(v2, v3);
        const __m128i t2 = _mm_unpackhi_epi32(v0, v1), t3 = _mm_unpackhi_epi32(v2, v3);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(o[0] + i), _mm_unpacklo_epi64(t0, t1));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(o[1] + i), _mm_unpackhi_epi64(t0, t1));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(o[2] + i), _mm_unpacklo_epi64(t2, t3));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(o[3] + i), _mm_unpackhi_epi64(t2, t3));
    }
    return i;
}

// 32 pixels a step, the same within each 128-bit lane; a lane holds every other
// group of four pixels, which one permute per plane puts back in order.
__attribute__((target("avx2"))) int64_t split4_avx2(const unsigned char* in, int64_t n,
                                                    const int at[4], uint8_t* const o[4]) {
    alignas(16) unsigned char m[16];
    shuffle_mask(at, m);
    const __m256i mask =
        _mm256_broadcastsi128_si256(_mm_load_si128(reinterpret_cast<const __m128i*>(m)));
    const __m256i order = _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7);
    int64_t i = 0;
    for (; i + 32 <= n; i += 32) {
        const __m256i* src = reinterpret_cast<const __m256i*>(in + 4 * i);
        const __m256i v0 = _mm256_shuffle_epi8(_mm256_loadu_si256(src), mask);
        const __m256i v1 = _mm256_shuffle_epi8(_mm256_loadu_si256(src + 1), mask);
        const __m256i v2 = _mm256_shuffle_epi8(_mm256_loadu_si256(src + 2), mask);
        const __m256i v3 = _mm256_shuffle_epi8(_mm256_loadu_si256(src + 3), mask);
        const __m256i t0 = _mm256_unpacklo_epi32(v0, v1), t1 = _mm256_unpacklo_epi32(v2, v3);
        const __m256i t2 = _mm256_unpackhi_epi32(v0, v1), t3 = _mm256_unpackhi_epi32(v2, v3);
        const __m256i planes[4] = {_mm256_unpacklo_epi64(t0, t1), _mm256_unpackhi_epi64(t0, t1),
                                   _mm256_unpacklo_epi64(t2, t3), _mm256_unpackhi_epi64(t2, t3)};
        for (int p = 0; p < 4; ++p)
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(o[p] + i),
                                _mm256_permutevar8x32_epi32(planes[p], order));
    }
    return i;
}

}  // namespace
#endif

void kq_split4(const unsigned char* in, int64_t n, const int at[4], uint8_t* const o[4]) {
    int64_t done = 0;
#ifdef KQ_PIXELS_X86
    static const bool avx2 = __builtin_cpu_supports("avx2");
    static const bool ssse3 = __builtin_cpu_supports("ssse3");
    if (avx2)
        done = split4_avx2(in, n, at, o);
    else if (ssse3)
        done = split4_ssse3(in, n, at, o);
#endif
    if (done == n) return;
    uint8_t* const rest[4] = {o[0] + done, o[1] + done, o[2] + done, o[3] + done};
    kq_split4_plain(in + 4 * done, n - done, at, rest);
}
