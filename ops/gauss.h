// Gaussian blur (gauss): a separable blur with integer weights made at run time
// from the radius, run as a horizontal pass from the input into "sys:GaussOpTmp"
// and a vertical pass from there into the output.
#pragma once

#include <cstdint>
#include <vector>

// Half-width R of the weight table for radius r: r truncated toward zero. -1 when
// no table can be made: 0 <= r < 1, a negative or not-a-number radius, or R beyond
// the 32-bit range (no window is that large). A radius of exactly 0 needs no table.
int64_t gauss_half_width(double r);

// The 2R + 1 weights for radius r (R = gauss_half_width(r) >= 1): entry i is
// trunc(256 * 2^(-2 (2d / r)^2)) with d = |R - i|, in double precision.
std::vector<int32_t> gauss_weights(double r);

// Blurs the planes of `in` selected by mask (bit p = plane p) into `out`: each
// pass replaces a pixel by the weighted mean of its neighbours within R along the
// pass, cut to the window (integer division by the weights used). Planes outside
// the mask, and every plane of a pass whose radius is 0, are copied. Both buffers
// need the same origin and size, and `out` at least the planes of `in`; a pass
// with R >= 1 needs width (height) >= 2R + 2. They may be the same buffer. The
// temporary stays registered after a failed pass. Returns 1, or 0 after a message.
int gauss_blur(const char* in, const char* out, double rx, double ry, int mask);

// The pass loops use AVX-512 or AVX2 when the processor has them, with the same
// results; tests limit them (0 none, 1 at most AVX2, 2 any, the default) to check
// every loop.
void gauss_limit_vectors(int level);
