// random, scatter, spread and bumpy: seeded noise, seeded pixel moves and bump
// shading. The seeded commands draw from one generator per command, in a fixed
// order, so a script gives the same picture on every machine.
#pragma once

#include <cstdint>

// The example generator of the C standard: srand(seed) sets the state, each rand()
// steps it by state × 1103515245 + 12345 (modulo 2^32) and returns bits 16 ... 30,
// a value 0 ... 32767.
struct ExampleRand {
    uint32_t state;  // the generator's whole state
    explicit ExampleRand(unsigned seed) : state(seed) {}
    int next() {
        state = state * 1103515245u + 12345u;
        return static_cast<int>((state >> 16) & 0x7fff);
    }
    // The next n values, exactly as n calls of next() return them.
    void fill(uint16_t* out, int64_t n);
};

// Fills the planes of buffer `name` chosen by `mask` (bit p = plane p; planes the
// buffer lacks are ignored) with noise: sample = clamp(trunc((u × (max - min) +
// min) × 255)), u = rand() × (1/32767) in double, limits in single precision and
// swapped when max < min. One rand() per sample: planes in order, rows from the
// top, pixels from the left. A missing buffer: "Can't find buff" and 0; else 1.
int random_fill(const char* name, int mask, const float minimum[4], const float maximum[4],
                int seed);

enum class ScatterMode { plain = 0, across = 1, inward_out = 2, outward_in = 3 };

// Copies in into out, then for each pixel (rows from the top, left to right) and
// each of `tries` tries draws an offset within ±radius and moves pixels between
// (x, y) and the offset place: swapped in plain and across modes, copied from the
// higher alpha onto the lower (inward_out) or the lower onto the higher
// (outward_in). The alpha modes move only pairs whose alpha differs by more than
// `threshold`. Reads come from in as it was before the command.
// REQUIRES: equal component counts and geometry; 4 components in the alpha
// modes. Otherwise the warnings, 0, and out untouched. Radius 0: out is a copy.
int scatter_pixels(const char* in, const char* out, int radius, int tries, int seed,
                   ScatterMode mode, int threshold);

// scatter and spread work on packed copies of the pixels (one word per pixel) when
// memory allows, else on the planes; false keeps to the planes, so tests can
// compare both. The results are the same either way.
void effects_allow_packed(bool allow);

// Copies in into out, then for each pixel of in with alpha above 0 and each try
// draws an offset as scatter does and, where the target's alpha in in is lower by
// more than `threshold`, adds the source's four samples × (scale / tries) onto the
// target in out (truncated, clamped, accumulating).
// REQUIRES: two 4-component buffers of equal geometry; otherwise the warnings, 0,
// and out untouched. Radius 0 or tries below 1: out is a copy.
int spread_pixels(const char* in, const char* out, int radius, int tries, int seed,
                  int threshold, float scale);

// Shades a's r, g, b into out by the bump plane `plane` of b, read at the same
// picture position (b's outside cell beyond its window): t = 0 below lo (and at lo
// when lo = hi), 1 above hi, else (v - lo) / (hi - lo); bump = t × (smax - smin)
// + smin scales the HSV value, an overflow above 1 desaturating by 0.333 of it.
// a's alpha goes to out's when both have 4 planes.
// REQUIRES: b has the plane; a and out have equal component counts of 3 or more
// and equal geometry. Otherwise the warnings and 0.
int bumpy_shade(const char* a, const char* b, const char* out, int plane, int lo, int hi,
                float smin, float smax);

// The single-precision colour steps of bumpy, for tests.
struct Hsv {
    float h, s, v;  // hue in degrees, saturation and value 0 ... 1
};
Hsv rgb_to_hsv(float r, float g, float b);
void hsv_to_rgb(Hsv c, float* r, float* g, float* b);
void bump_pixel(uint8_t r, uint8_t g, uint8_t b, float bump, uint8_t out[3]);
