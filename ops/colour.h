// Colour operations: per-sample changes of one buffer in place (opaque, dissolve,
// darkness) or from an input buffer into an existing output buffer (nega, mono,
// adjustcol, paint, pile). Each worker returns 1 on success, or prints its warning
// and returns 0 with every buffer unchanged.
#pragma once

#include <array>
#include <cstdint>

using SampleTable = std::array<uint8_t, 256>;

// The factor scaling of opaque, dissolve and darkness, as a table of the 256
// samples. 0 <= v <= 1: MulTable[s][truncate(v × 255.0)]; otherwise
// clamp(truncate(s × v + 0.5)) with the product in double precision. A NaN factor
// maps every sample to 0.
SampleTable scale_table(double v);
// The same for a single-precision factor (darkness): the test is on the float, and
// outside 0 … 1 the product s × v is the single-precision product.
SampleTable scale_table(float v);

// adjustcol's stretch for one plane: bounds swapped when hi < lo; 0 up to lo, 255
// from hi on, clamp(truncate((i - lo) ÷ (hi - lo) × 255.0)) between.
SampleTable adjust_table(int lo, int hi);

// A table applied to runs of samples by the cheapest exact form that reproduces all
// 256 entries: a copy, a constant, a two-valued step, a row of MulTable, 255 - s,
// clamp((s·mul + add) >> 16) in 32-bit integers, or the table itself. The form is proven against the table when it
// is chosen, so the result always equals table[s].
struct SampleMap {
    enum Kind { Copy, Constant, Step, Product, Invert, Affine, Lookup } kind = Lookup;
    int step_at = 0;            // Step: s <= step_at gives low, else high
    uint8_t low = 0, high = 0;  // Constant uses low; Product: MulTable[s][low]
    int32_t mul = 0, add = 0;   // Affine
    SampleTable table{};
};
// slope: the table's rise per sample (a hint for the affine search).
SampleMap make_sample_map(const SampleTable& table, double slope);
// dst[i] = table[src[i]] for n samples; dst may be src.
void apply_sample_map(const SampleMap& m, const uint8_t* src, uint8_t* dst, int64_t n);

// Scales the alpha plane of a four-plane buffer by v.
int opaque(const char* name, double v);
// Scales every plane of the buffer by v.
int dissolve(const char* name, double v);
// Scales planes r, g and b by their own factors; alpha is left alone. Refuses a
// one-plane buffer.
int darkness(const char* name, float vr, float vg, float vb);
// out.p = 255 - in.p for the planes in mask, in.p for the others, for every plane of
// out over out's window. Refuses an out with more planes than in.
int nega(const char* in, const char* out, int mask);
// Grey (77R + 151G + 28B) >> 8 into out's r, g, b over out's window; alpha copied
// when both have four planes. Both need at least three planes.
int mono(const char* in, const char* out);
// out.p = adjust_table(lo[p], hi[p])[in.p] for the planes in mask, a copy for the
// others, over the planes both have. Same origin and size required.
int adjustcol(const char* in, const char* out, int mask, const int lo[4], const int hi[4]);
// Paint alpha modes: leave out's alpha, set it to the source plane, copy in's alpha.
enum PaintAlpha { kPaintKeepAlpha = 0, kPaintPlaneAlpha = 1, kPaintCopyAlpha = 2 };
// out.r, g, b = MulTable[v][k] with v in's plane `source` and k the colour bytes
// clamp(truncate(c × 255.0)); out.a by the alpha mode.
int paint(const char* in, const char* out, int source, const float colour[3], int alpha_mode);
// Straight to premultiplied (MulTable[in.k][in.a]) or back (reverse: DivTable),
// out.a = in.a. Both buffers need four planes.
int pile(const char* in, const char* out, bool reverse);
