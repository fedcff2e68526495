// In-place row filters: the 3 x 3 kernels of filter3 and the five-tap vertical
// anti-flicker filter.
#pragma once

#include <cstdint>

// The filter3 kernels, in the order of their keys.
enum Filter3Kernel { kHi, kHi2, kHi3, kLap, kLow, kLow2, kLow3, kLowv, kFilter3Kernels };

// The kernel named by key ("hi", "hi2", "hi3", "lap", "low", "low2", "low3",
// "lowv", exact words), or -1.
int filter3_kernel(const char* key);

// Coefficients of a kernel: rows above, centre, below, each left to right.
const int8_t* filter3_coefficients(int kernel);
// The sum of the nine coefficients, or 1 when that sum is 0.
int filter3_divisor(int kernel);

// The stored byte for a kernel sum s: s times the single-precision 1/d, truncated
// toward zero, then limited to 0 ... 255.
inline uint8_t filter3_limit(int s, int d) {
    const float inv = 1.0f / float(d);
    const int q = int(float(s) * inv);
    return uint8_t(q < 0 ? 0 : q > 255 ? 255 : q);
}

// Filters the planes of the named buffer selected by mask (bit p = plane p) in
// place with one kernel. Every output pixel is the kernel sum over its 3 x 3
// neighbourhood of the unfiltered plane, rows and columns beyond the window
// replaced by the edge row or column. Needs at least 4 rows and 3 columns:
// otherwise, or when the buffer is missing, prints a warning, changes nothing and
// returns 0. Returns 1 on success.
int filter3_buffer(const char* name, int mask, int kernel);

// Filters every plane of the named buffer in place with the vertical taps
// -1 2 6 2 -1 (rows y+2 ... y-2) over 8, edge rows repeated, limited to 0 ... 255.
// Needs at least 5 rows; otherwise, or when the buffer is missing, prints a
// warning and returns 0. Returns 1 on success.
int antiflicker_buffer(const char* name);

// The row loops use AVX2 when the processor has it, with the same results; tests
// turn that off to check the baseline loops as well.
void filter_allow_wide_vectors(bool allow);
