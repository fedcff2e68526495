// Conversions between the fixed video rasters: D1 (720 x 486), NTSC square pixels
// (640 x 480) and HD (1920 x 1035 -> 640 x 360). Each runs a column pass into a
// temporary ("sys:D1NtscTmp" or "sys:HDtoNTSCTmp") and a row pass into the output,
// with small periodic integer filters. Rows are counted from the top of the frame
// and columns from the window's left edge, so the storage order is the frame order
// and the origins play no part.
#pragma once

#include <cstdint>

// 720 x 486 `in` to 640 x 480 `out`. The row pass writes planes 0 .. n-1 of `out`,
// n being the input's component count (at most 3 with rgb_only). Prints the
// size or component warning and returns 0 when the buffers do not fit; 1 on success.
int d1_to_ntsc(const char* in, const char* out, bool rgb_only);

// 640 x 480 `in` to 720 x 486 `out`: the output's planes (at most 3 with rgb_only)
// are written; planes the input lacks come out 0.
int ntsc_to_d1(const char* in, const char* out, bool rgb_only);

// 1920 x 1035 x 3 `in` to 640 x 360 x 3 `out`.
int hd_to_ntsc(const char* in, const char* out);

// The row kernels use AVX2 (and SSSE3) when the processor has them, with the same
// results; tests turn that off to check the plain loops as well.
void video_allow_wide_vectors(bool allow);

// The row kernels, exposed for tests. Each has a plain form and the form the
// workers run (vectorised when allowed).
namespace video_rows {

// 720 -> 640: groups of 9 give 8, o_j = ((8-j) p_j + (j+1) p_j+1 + 4) / 9.
void d1_columns(const uint8_t* src, uint8_t* dst);
void d1_columns_plain(const uint8_t* src, uint8_t* dst);
// 640 -> 720: groups of 8 give 9, o_j = (j p_j-1 + (8-j) p_j) >> 3.
void ntsc_columns(const uint8_t* src, uint8_t* dst);
void ntsc_columns_plain(const uint8_t* src, uint8_t* dst);
// 1920 -> 640: the truncated mean of each three pixels.
void hd_columns(const uint8_t* src, uint8_t* dst);
void hd_columns_plain(const uint8_t* src, uint8_t* dst);

// dst[x] = (w[0] r[0][x] + ... + w[taps-1] r[taps-1][x] + bias) / divisor over n
// pixels, for 1 <= taps <= 4, weights summing to divisor, 2 <= divisor <= 127 and
// bias < divisor.
struct RowMix {
    int taps;
    const uint8_t* rows[4];
    int weights[4];
    int bias;
    int divisor;
};
void mix_rows(const RowMix& m, uint8_t* dst, int64_t n);
void mix_rows_plain(const RowMix& m, uint8_t* dst, int64_t n);

}  // namespace video_rows
