// Changing the scale of an image: power-of-two shrinking by block means (shrink),
// nearest-pixel zoom between two windows (bzoom) and bilinear zoom of one whole
// window onto another (blzoom).
#pragma once

#include <cstdint>

#include "buffer/image_buffer.h"

// Highest reduction level; level l reduces by 2^(l-1) (level 17 by 65535).
constexpr int kMaxShrinkLevel = 17;
// Inputs of shrink (and glow) must have fewer rows than this.
constexpr int kMaxShrinkHeight = 65535;

// The reduction factor of a level 1 ... 17.
int64_t shrink_factor(int level);

// Prints the "too large y size" error and returns false when b has 65535 rows or
// more.
bool shrink_height_fits(const ImageBuffer& b);
// Prints a refusal and returns false unless both levels lie in 1 ... 17.
bool shrink_levels_valid(int xlevel, int ylevel);

// Reduces the planes of `in` selected by mask by the factors of xlevel and ylevel:
// each reduced pixel is floor(floor(row sum of its block / 2^(xlevel-1)) summed
// over the block's rows / 2^(ylevel-1)); blocks start at the lower-left corner and
// leftover columns (right) and rows (top) are dropped. The W' × H' result is
// written into `out` with its lower-left corner at in's lower-left corner, cut to
// out's window; out keeps its other pixels and its size. Planes copied: those of
// the mask below both component counts. Uses and disposes "sys:ShrinkTmp".
// Returns 1, or 0 after a message (missing buffer, height, levels).
int shrink_buffer(const char* in, const char* out, int xlevel, int ylevel, int mask);

// Nearest-pixel zoom: the source window (*src, or in's window when null) is mapped
// onto the destination window (*dst, or out's window), and every pixel of out's
// window (cut to *dst when given) takes the input pixel nearest to its mapped
// position, or in's outside cell where that lies outside in's window. Windows must
// have ordered corners. Every plane below both component counts. Returns 1, or 0
// when a buffer is missing.
int nearest_zoom(const char* in, const char* out, const Rect* src, const Rect* dst);

// Bilinear zoom of in's whole window onto out's whole window, every plane below
// both component counts (the mask is accepted for the callers' sake and not used).
// Neighbours outside in's window read its outside cell. Returns 1, or 0 when a
// buffer is missing.
int bilinear_zoom(const char* in, const char* out, int mask);

// The zoom loops use AVX2 when the processor has it, with the same results; tests
// turn that off to check the baseline loops as well.
void zoom_allow_wide_vectors(bool allow);
