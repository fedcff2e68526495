#include "kqconv/alpha.h"

namespace alpha {

namespace {

constexpr ByteTable make_div_table() {
    ByteTable t{};
    for (unsigned x = 0; x < 256; ++x)
        for (unsigned y = 1; y < 256; ++y) {
            const double q = double(x) / (double(y) / 255.0);
            const int v = static_cast<int>(q);
            t[x * 256 + y] = static_cast<uint8_t>(v > 255 ? 255 : v);
        }
    return t;
}

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

constinit const ByteTable div_table = make_div_table();

void premultiply(uint8_t* data, int64_t pixels, int channels) {
    apply(MulTable, data, pixels, channels);
}

void unpremultiply(uint8_t* data, int64_t pixels, int channels) {
    apply(div_table, data, pixels, channels);
}

}  // namespace alpha
