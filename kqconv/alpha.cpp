#include "kqconv/alpha.h"

#include "kqconv/convert.h"

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

// --- planes on demand -----------------------------------------------------------------

void set_planes(Picture& pic, Planes planes) {
    const int ch = pic.channels;
    const int want = planes == Planes::rgba ? 4 : planes == Planes::rgb ? 3 : 1;
    if (planes == Planes::as_read || ch == want) return;
    // Colour over black is the premultiplied colour: what remains when alpha goes.
    if (pic.has_alpha() && want != 4 && !pic.premultiplied) {
        alpha::premultiply(pic.data.data(), pic.pixels(), ch);
        pic.premultiplied = true;
    }
    Picture out;
    out.allocate(pic.width, pic.height, want);
    const int64_t n = pic.pixels();
    const uint8_t* __restrict s = pic.data.data();
    uint8_t* __restrict d = out.data.data();
    const bool colour = ch >= 3;
    for (int64_t i = 0; i < n; ++i, s += ch) {
        const unsigned r = s[0], g = colour ? s[1] : s[0], b = colour ? s[2] : s[0];
        const uint8_t a = ch == 2 ? s[1] : ch == 4 ? s[3] : 255;
        if (want == 1) {
            *d++ = colour ? uint8_t((77 * r + 151 * g + 28 * b) >> 8) : uint8_t(r);
        } else {
            *d++ = uint8_t(r), *d++ = uint8_t(g), *d++ = uint8_t(b);
            if (want == 4) *d++ = a;
        }
    }
    out.premultiplied = want == 4 && pic.premultiplied;
    pic = std::move(out);
}
