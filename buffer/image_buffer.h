// ImageBuffers and the BufferRegistry: named images of 1, 3 or 4 8-bit planes in a
// picture coordinate system whose y axis points up, and the shared operations
// through which commands find, make, check and free them.
//
// Storage: the planes of one buffer live in one block, plane after plane; each
// plane is width × height bytes, row by row, top row (window y2) first. The byte of
// pixel (x, y) is at (y2 - y) × width + (x - x1). Reads and writes outside the
// window go to the buffer's outside cell.
#pragma once

#include <array>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>

#include "libkq/kq_memory.h"  // kq_memory_allows, for planes and their copies
#include "parallel/pages.h"

struct Window {
    int32_t x1 = 0, y1 = 0, x2 = 0, y2 = 0;  // inclusive corners
};

// A rectangle in 64-bit picture coordinates, for window arithmetic that must not
// overflow. Empty when x2 < x1 or y2 < y1.
struct Rect {
    int64_t x1 = 0, y1 = 0, x2 = -1, y2 = -1;
    bool empty() const { return x2 < x1 || y2 < y1; }
    int64_t width() const { return empty() ? 0 : x2 - x1 + 1; }
    int64_t height() const { return empty() ? 0 : y2 - y1 + 1; }
};

// Owner of a buffer's plane block (from alloc_pages).
using PlaneBlock = std::unique_ptr<uint8_t[], FreePages>;

struct ImageBuffer {
    std::string name;                     // unique, case-sensitive, at most 511 characters
    std::string kqName;                   // file last read into the buffer, or empty
    int32_t x = 0, y = 0;                 // origin: lower-left pixel
    int32_t width = 0, height = 0;        // size in pixels
    Window window;                        // origin .. origin + size - 1
    int components = 0;                   // 1, 3 or 4 planes in use
    std::array<uint8_t*, 4> plane{};      // plane p below components, else null
    std::array<uint8_t, 4> outside{};     // outside[0] is the outside cell
    std::array<int64_t, 4> plane_step{};  // distance from plane p-1 to plane p
    PlaneBlock storage;                   // all planes, one after another

    int64_t plane_size() const { return int64_t(width) * height; }
    // The window as the pixels cover it. A side of size 0 ends one before it starts;
    // the 32-bit end field cannot say so at origin -2147483648, where it wraps to
    // 2147483647, so window tests go through here rather than the fields.
    Rect rect() const {
        return {window.x1, window.y1, width > 0 ? window.x2 : int64_t(window.x1) - 1,
                height > 0 ? window.y2 : int64_t(window.y1) - 1};
    }
    bool contains(int64_t px, int64_t py) const {
        const Rect r = rect();
        return px >= r.x1 && px <= r.x2 && py >= r.y1 && py <= r.y2;
    }
    // Start of row py of plane p; py must lie inside the window.
    uint8_t* row(int p, int64_t py) const { return plane[p] + (window.y2 - py) * int64_t(width); }
    // Sets origin and size together with the window.
    void set_geometry(int32_t ox, int32_t oy, int32_t w, int32_t h);
};

// The byte of pixel (px, py) in plane p, or the outside cell outside the window.
uint8_t& pixel_address(ImageBuffer& b, int p, int64_t px, int64_t py);
// Stores the low 8 bits of value at (px, py) of plane p by pixel_address.
void store_pixel(ImageBuffer& b, int64_t px, int64_t py, int p, int value);

// The sample a colour fraction writes: the low 8 bits of v × 255.0 truncated toward
// zero, unclamped (2.0 writes 254). Values beyond the 32-bit range write 0.
uint8_t fraction_to_byte(float v);

// --- registry -------------------------------------------------------------------

// Looks a buffer up by exact name; silent. Null when absent.
ImageBuffer* find_buffer(std::string_view name);
// A fresh, unregistered record with everything zero. Fatal when the name has 512
// or more characters.
std::unique_ptr<ImageBuffer> new_buffer(std::string_view name);
// Allocates `components` planes of width × height bytes (zeroed) and sets plane_step.
// Fatal when they cannot be allocated (negative or too large sizes included).
void alloc_planes(ImageBuffer& b);
// The fatal end of a failed plane allocation ("ERROR : Can't alloc component buff"),
// also for copies of a buffer's planes that cannot be allocated.
[[noreturn]] void fatal_no_planes();
void free_planes(ImageBuffer& b);
// Sets every byte of each plane p below components whose mask bit (1 << p) is set
// to values[p].
void fill_planes(ImageBuffer& b, int mask, const uint8_t values[4]);
// Links a record at the head of the registry; returns it.
ImageBuffer* register_buffer(std::unique_ptr<ImageBuffer> b);
// Removes a buffer from the registry and hands it back.
std::unique_ptr<ImageBuffer> unlink_buffer(ImageBuffer* b);
// Frees the buffer's planes and record.
void destroy_buffer(std::unique_ptr<ImageBuffer> b);
// Removes and frees a buffer by name; "WARNING : Can't find buff (name=%s)" and 0
// when it does not exist.
int dispose_buffer(std::string_view name);
// Makes the named buffer exist with this geometry and every plane zero, reusing an
// existing buffer's record (and its storage when size and components agree).
// `clear_reused` false leaves reused storage as it was, for callers that overwrite
// every byte next (new planes are always zero).
ImageBuffer* make_buffer(std::string_view name, int32_t x, int32_t y, int32_t w, int32_t h,
                         int components, bool clear_reused = true);
// Empties the registry (program start, and tests).
void clear_registry();

// Visits the registry from the head (most recent first).
template <class F>
void for_each_buffer(F&& f);

// Look names up in order; at the first missing one prints
// "WARNING : Can't find buff (name=%s)" and returns 0.
int find_buffers2(const char* n1, const char* n2, ImageBuffer*& b1, ImageBuffer*& b2);
int find_buffers3(const char* n1, const char* n2, const char* n3, ImageBuffer*& b1,
                  ImageBuffer*& b2, ImageBuffer*& b3);

int same_components2(const ImageBuffer& a, const ImageBuffer& b, int* count = nullptr);
int same_components3(const ImageBuffer& a, const ImageBuffer& b, const ImageBuffer& c,
                     int* count = nullptr);
int all_rgba3(const ImageBuffer& a, const ImageBuffer& b, const ImageBuffer& c);
int geometry_equals(int32_t x, int32_t y, int32_t w, int32_t h, const ImageBuffer& b);
int same_geometry2(const ImageBuffer& a, const ImageBuffer& b);
int same_geometry3(const ImageBuffer& a, const ImageBuffer& b, const ImageBuffer& c);

// Intersects r with the buffer's window in place.
void clip_window(Rect& r, const ImageBuffer& b);
// Grows r in place to the bounding rectangle of r and the buffer's window.
void extend_window(Rect& r, const ImageBuffer& b);
// Bounding rectangle of the windows of a and b, cut to the window of c (may be empty).
Rect composite_window(const ImageBuffer& a, const ImageBuffer& b, const ImageBuffer& c);

// --- implementation of the template ----------------------------------------------
namespace registry_detail {
ImageBuffer* head();
ImageBuffer* next(ImageBuffer* b);
}  // namespace registry_detail

template <class F>
void for_each_buffer(F&& f) {
    for (ImageBuffer* b = registry_detail::head(); b; b = registry_detail::next(b)) f(*b);
}
