// Rearranging pixels between ImageBuffers without changing their values: plane
// routing, field weaving, rectangle copies, origin moves, mirrors and wrap-around
// shifts. copy_region is also the copy other operations use for backups and
// temporaries.
#pragma once

#include <cstdint>

#include "buffer/image_buffer.h"

// Where a rectangle of a given size is placed relative to a point (x, y).
enum class Anchor {
    same,    // copy_region only: every pixel keeps its own coordinates
    lb,      // lower-left corner at (x, y)
    lt,      // upper-left corner at (x, y)
    rb,      // lower-right corner at (x, y)
    rt,      // upper-right corner at (x, y)
    center,  // centre at (x, y): lower-left (x - w/2, y - h/2), halves toward zero
    delta,   // move_buffer only: origin shifted by (x, y)
};

// How copy_region picks, selects and places the source pixels. The default copies
// the source's whole window, every plane, to the same coordinates.
struct CopyRequest {
    bool whole_window = true;              // source rectangle: the source's window,
    int64_t ox = 0, oy = 0, w = 0, h = 0;  // or lower-left (ox, oy) and size w × h
    const char* key = nullptr;             // planes named by r g b a; null = all planes
    Anchor anchor = Anchor::same;          // placement of the rectangle
    int64_t x = 0, y = 0;                  // anchor point
};

// Copies a rectangle of `from` into `to`. The rectangle is cut to the source's
// window first; its placement in `to` is then cut to the destination's window.
// Only planes present in both buffers (and named by the key, if any; letters other
// than lower-case r g b a are ignored, and note the line as incomplete for -e and
// -k) are copied, each into the plane of the same index. Rows are copied from the
// top down and pixels from the left, reading the live source, so a copy within one
// buffer sees pixels it has already written.
// Returns 0 (after "Can't find buff") when a buffer is missing, else 1, also when
// nothing was copied.
int copy_region(const char* from, const char* to, const CopyRequest& req = {});

// Routes planes of `from` into `to`: position j of the key names the source plane
// destination plane j receives (r/R 0, g/G 1, b/B 2, a/A/o/O 3; '.' leaves plane j
// alone). Each routed plane covers the destination's whole window, reading the
// source's outside cell where the source does not reach. Checks the key and both
// component counts before writing anything; returns 1 or 0 after a warning.
int plane_route(const char* from, const char* to, const char* key);

// Weaves two fields into `out`: rows of odd picture y come from `odd`, the others
// from `even`, at the same coordinates. All three need the same component count.
int field_weave(const char* even, const char* odd, const char* out);

// Sets the origin of a buffer from an anchor point (lb, lt, rb, rt, center) or
// shifts it by (x, y) (delta); the planes are untouched.
int move_buffer(const char* name, Anchor anchor, int64_t x, int64_t y);

// Mirrors `in` into `out` over out's window. Inside the mirror area (out's window,
// cut to *region when given) a pixel reads in's pixel mirrored about the area's
// centre, horizontally and/or vertically; elsewhere it reads its own coordinates.
// Planes below the smaller component count. Pixels are visited rows from the top,
// left to right, reading the live input, so in == out gives the in-place result of
// that order.
int reverse_buffer(const char* in, const char* out, bool horizontal, bool vertical,
                   const Rect* region);

// Scrolls `in` into `out` by (x, y) over out's window. Inside the shift area (out's
// window, cut to *region when given) a pixel reads in's pixel at (qx - x, qy - y),
// wrapped into the area on each axis whose wrap is on; without wrap the reading may
// leave the area (and in's window: the outside cell). Same visiting order and
// in-place rule as reverse_buffer.
int shift_buffer(const char* in, const char* out, int64_t x, int64_t y, const Rect* region,
                 bool wrap_horizontal, bool wrap_vertical);
