// Straight and premultiplied colour for kqconv: the same byte arithmetic as kqc's
// pile (colour times alpha through MulTable) and pile -r (colour divided by alpha
// through DivTable).
#pragma once

#include <cstdint>

#include "ops/tables.h"

namespace alpha {

// Samples interleaved `channels` (2 or 4) per pixel, alpha last, `pixels` pixels.
void premultiply(uint8_t* data, int64_t pixels, int channels);
void unpremultiply(uint8_t* data, int64_t pixels, int channels);

}  // namespace alpha
