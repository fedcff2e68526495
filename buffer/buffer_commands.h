// Workers of the buffer commands create, clear, info and blist.
#pragma once

#include <cstdint>

#include "buffer/image_buffer.h"

// Colour selection of clear: which planes are written.
enum class ClearMode { r, g, b, a, rgb, rgba };

struct ClearRegion {
    bool set = false;  // false: the whole window
    int64_t x = 0, y = 0, w = 0, h = 0;  // lower-left corner and size
};

// Writes the colour into the planes of `mode` (those below the buffer's component
// count): inside the region (or everywhere), or in the window outside the region.
// "WARNING : Can't find buff (name=%s)" and 0 when the buffer is missing.
int clear_buffer(const char* name, const ClearRegion& region, bool outside, ClearMode mode,
                 const float values[4]);

// Fills the rectangle (clipped to the window) of the planes in `mask`.
void fill_rect(ImageBuffer& b, Rect r, int mask, const uint8_t values[4]);

// Prints the info block of one buffer; 0 with a warning when it is missing.
int print_buffer_info(const char* name);
// Prints the registry listing.
void print_buffer_list();
