// The compositing operators plus, over, in, out, atop and xor: two source buffers
// A and B combined pixel by pixel into an existing buffer out, in exact 8-bit
// integer arithmetic (the MulTable and AddTable formulas of ops/tables.h).
#pragma once

#include <cstdint>

enum class CompositeOp { Plus, Over, In, Out, Atop, Xor };

// The command word of an operator ("plus", "over", ...).
const char* composite_name(CompositeOp op);

// Composites buffers a and b into out. Per plane k, with ~v = 255 - v:
//   plus  AddTable[A.k][B.k]                               every plane
//   over  AddTable[A.k][MulTable[B.k][~Aa]]                r, g, b, a
//   in    MulTable[A.k][Ba]
//   out   MulTable[A.k][~Ba]
//   atop  AddTable[MulTable[A.k][Ba]][MulTable[B.k][~Aa]]
//   xor   AddTable[MulTable[A.k][~Ba]][MulTable[B.k][~Aa]]
// REQUIRES: plus needs three buffers of one component count, the others three
// four-component buffers; otherwise "WARNING : component type missing
// (operation=<op>)" and 0. A missing name gives "WARNING : Can't find buff
// (name=%s)" and 0. Nothing is written on failure.
// Written: the pixels of out inside the bounding box of the windows of a and b cut
// to out's window; everything else in out keeps its value. Where a source's window
// does not cover a pixel it supplies its outside cell in every plane, except for
// over, where it counts as 0. out may be a or b, and a may be b. Returns 1.
int composite(CompositeOp op, const char* a, const char* b, const char* out);

// The pixel loops exist for the baseline instruction set and, on x86-64 machines
// that have it, for AVX2 (used by default). false keeps to the baseline loops, so
// tests can check both; the results are the same either way.
void composite_allow_wide_vectors(bool allow);

// The exact integer arithmetic the pixel loops use in place of the tables; equal to
// MulTable and AddTable for every pair of bytes (checked exhaustively by the tests).
// floor(x·y / 255): the product fits 16 bits, and the compiler turns the division
// by the constant into a multiply-high and a shift on 16-bit lanes.
inline uint8_t fast_mul(uint8_t x, uint8_t y) {
    return static_cast<uint8_t>(static_cast<uint16_t>(x * y) / 255u);
}
// min(x + y, 255) as x + min(y, 255 - x): byte-wide min and add, so no widening.
inline uint8_t fast_add(uint8_t x, uint8_t y) {
    const uint8_t room = static_cast<uint8_t>(~x);
    return static_cast<uint8_t>(x + (y < room ? y : room));
}
