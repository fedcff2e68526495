// Straight and premultiplied colour for kqconv: the same byte arithmetic as kqc's
// pile (colour times alpha through MulTable) and pile -r (colour divided by alpha
// through the division table below).
#pragma once

#include <cstdint>

#include "ops/tables.h"

namespace alpha {

// div_table[x·256 + y] = 0 when y = 0, otherwise min(255, truncate(x / (y / 255.0)))
// in double precision, in that order of operations.
extern const ByteTable div_table;

// Samples interleaved `channels` (2 or 4) per pixel, alpha last, `pixels` pixels.
void premultiply(uint8_t* data, int64_t pixels, int channels);
void unpremultiply(uint8_t* data, int64_t pixels, int channels);

}  // namespace alpha
