// .tkq pictures through libkq. Channel roles follow kqc: three channels are blue,
// green, red and four are alpha, blue, green, red (so a 32-bit file holds red,
// green, blue, alpha in byte order); colour with alpha is premultiplied.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "kqconv/convert.h"
#include "libout/out_file.h"
#include "libkq/kq.h"

namespace {

struct KqFree {
    void operator()(KQ_DATA* kq) const { kq_free(kq); }
};
using KqHandle = std::unique_ptr<KQ_DATA, KqFree>;

std::string kq_reason() { return kq_errlist[kq_errno]; }

uint8_t from12(int v) { return uint8_t((v * 255 + 2047) / 4095); }

// Every layout other than the 8-, 24- and 32-bit frames, pixel by pixel through
// the library's access table. Rows a field picture does not hold stay 0.
void unpack_any(KQ_DATA* kq, std::vector<uint8_t> block, Picture& pic) {
    const int bitlen = int(kq->bitlen);
    if (bitlen == 32)  // the access table works on memory order
        for (size_t i = 0; i + 4 <= block.size(); i += 4) std::reverse(&block[i], &block[i + 4]);
    const bool wide = bitlen == 12 || bitlen == 36 || bitlen == 48 || bitlen == 80;
    const bool value_only = (bitlen == 32 && (kq->data_type & KQ_TYPE_VALUE)) ||
                            (bitlen == 64 && (kq->data_type & KQ_TYPE_AUX));
    uint8_t* d = pic.data.data();
    const int ch = pic.channels;
    for (int64_t row = 0; row < pic.height; ++row) {
        const int y = int(pic.height - 1 - row);
        for (int x = 0; x < int(pic.width); ++x) {
            uint8_t* p = d + (row * pic.width + x) * ch;
            if (value_only) {
                int32_t v = 0;
                kq->access.get_value_at(kq, block.data(), x, y, &v);
                const uint32_t u = uint32_t(v);
                p[0] = uint8_t(u >> 24), p[1] = uint8_t(u >> 16), p[2] = uint8_t(u >> 8),
                p[3] = uint8_t(u);
                continue;
            }
            int c[4] = {0, 0, 0, 0};
            kq->access.get_pixel_at(kq, block.data(), x, y, &c[0], &c[1], &c[2], &c[3]);
            for (int& v : c) v = bitlen == 1 ? (v ? 255 : 0) : wide ? from12(v) : v;
            if (ch == 1) {
                p[0] = uint8_t(c[0]);
            } else if (ch == 3) {
                p[0] = uint8_t(c[2]), p[1] = uint8_t(c[1]), p[2] = uint8_t(c[0]);
            } else {
                p[0] = uint8_t(c[3]), p[1] = uint8_t(c[2]), p[2] = uint8_t(c[1]), p[3] = uint8_t(c[0]);
            }
        }
    }
}

}  // namespace

Picture read_tkq(Bytes bytes) {
    if (bytes.size() < 128) throw ConvError("truncated picture header");
    KqHandle kq(kq_alloc());
    if (!kq) throw ConvError(kq_reason());
    if (!kq__parse_header(kq.get(), bytes.data()) || !kq_check_header(kq.get()))
        throw ConvError(kq_reason());
    kq__choose_access(kq.get());
    const int64_t data_bytes = int64_t(kq->line_bytes) * kq->line_count;
    if (int64_t(bytes.size()) - 128 < data_bytes) throw ConvError("truncated picture data");
    const uint8_t* src = bytes.data() + 128;

    const int bitlen = int(kq->bitlen);
    const bool value_only = (bitlen == 32 && (kq->data_type & KQ_TYPE_VALUE)) ||
                            (bitlen == 64 && (kq->data_type & KQ_TYPE_AUX));
    const int channels = bitlen <= 12 ? 1 : bitlen == 24 || bitlen == 36 ? 3 : 4;
    Picture pic;
    pic.allocate(kq->size_x, kq->size_y, channels);
    pic.premultiplied = channels == 4 && !value_only;
    const int64_t n = pic.pixels();
    if (kq->field == 'B' && bitlen == 8) {
        std::memcpy(pic.data.data(), src, size_t(n));
    } else if (kq->field == 'B' && bitlen == 24) {
        uint8_t* __restrict d = pic.data.data();
        for (int64_t i = 0; i < n; ++i) {
            d[3 * i] = src[3 * i + 2];
            d[3 * i + 1] = src[3 * i + 1];
            d[3 * i + 2] = src[3 * i];
        }
    } else if (kq->field == 'B' && bitlen == 32 && !value_only) {
        std::memcpy(pic.data.data(), src, size_t(n) * 4);  // R, G, B, A on disk already
    } else {
        unpack_any(kq.get(), std::vector<uint8_t>(src, src + data_bytes), pic);
    }
    return pic;
}

// An 8-bit frame for grey, 24 bits for RGB, 32 bits for RGBA and grey + alpha
// (grey in all three colour planes), at origin 0 0 with square pixels, as kqc's
// write makes them.
void write_tkq(const Picture& pic, const std::string& name, const RowsReady& ready) {
    const int ch = pic.channels;
    const int bitlen = ch == 1 ? 8 : ch == 3 ? 24 : 32;
    const int data_type = ch == 1 ? 2 : ch == 3 ? 4 : 6;
    if (pic.width > 9999999 || pic.height > 9999999) throw ConvError("too large for tkq");
    KqHandle kq(kq_alloc());
    if (!kq) throw ConvError(kq_reason());
    if (!kq_set_origin(kq.get(), 0, 0) ||
        !kq_set_format(kq.get(), int(pic.width), int(pic.height), bitlen, 'B', data_type) ||
        !kq_set_aspect(kq.get(), 100000, 100000))
        throw ConvError(kq_reason());
    const int64_t line = kq->line_bytes;
    const int per_run = int(std::clamp<int64_t>((1 << 20) / line, 1, pic.height));
    std::vector<uint8_t> run;
    if (ch != 4) run.resize(size_t(per_run * line));
    // Standard output by any of its names: libkq would add ".tkq" to them.
    const bool to_stdout = name == "-" || out_names_stdout(name.c_str());
    if (!kq_wopen(to_stdout ? "STDOUT" : name.c_str(), kq.get())) throw ConvError(kq_reason());
    const uint8_t* s = pic.data.data();
    int64_t complete = ready ? 0 : pic.height;
    for (int64_t y = 0; y < pic.height; y += per_run) {
        const int rows = int(std::min<int64_t>(per_run, pic.height - y));
        if (complete < y + rows) {
            try {
                complete = ready(y + rows);
            } catch (...) {
                kq__mark_failed(kq.get());
                throw;
            }
        }
        const int64_t px = rows * pic.width;
        const uint8_t* from = s + y * pic.width * ch;
        uint8_t* buf = run.data();
        if (ch == 4) {
            buf = const_cast<uint8_t*>(from);  // file order: R, G, B, A, left unchanged
        } else if (ch == 1) {
            std::memcpy(buf, from, size_t(px));
        } else if (ch == 3) {
            for (int64_t i = 0; i < px; ++i) {
                buf[3 * i] = from[3 * i + 2];
                buf[3 * i + 1] = from[3 * i + 1];
                buf[3 * i + 2] = from[3 * i];
            }
        } else {
            for (int64_t i = 0; i < px; ++i) {
                buf[4 * i] = buf[4 * i + 1] = buf[4 * i + 2] = from[2 * i];
                buf[4 * i + 3] = from[2 * i + 1];
            }
        }
        if (!kq_write_scanlines(kq.get(), buf, rows, 1)) {
            kq__mark_failed(kq.get());
            throw ConvError(kq_reason());
        }
    }
    if (!kq_close(kq.get())) throw ConvError(kq_reason());
}
