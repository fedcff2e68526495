#include "kqconv/alpha.h"

namespace alpha {

namespace {

// Each colour sample of a pixel becomes table[sample·256 + alpha]; alpha stays.
void apply(const ByteTable& table, uint8_t* __restrict data, int64_t pixels, int channels) {
    const uint8_t* __restrict t = table.data();
    if (channels == 4) {
        for (int64_t i = 0; i < pixels; ++i) {
            uint8_t* p = data + 4 * i;
            const unsigned a = p[3];
            p[0] = t[p[0] * 256u + a];
            p[1] = t[p[1] * 256u + a];
            p[2] = t[p[2] * 256u + a];
        }
    } else if (channels == 2) {
        for (int64_t i = 0; i < pixels; ++i) {
            uint8_t* p = data + 2 * i;
            p[0] = t[p[0] * 256u + p[1]];
        }
    }
}

}  // namespace

void premultiply(uint8_t* data, int64_t pixels, int channels) {
    apply(MulTable, data, pixels, channels);
}

void unpremultiply(uint8_t* data, int64_t pixels, int channels) {
    apply(DivTable, data, pixels, channels);
}

}  // namespace alpha
