// Reading the source window of a picture into byte planes.
#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "kqtowf/kqtowf.h"
#include "libkq/kq_pixels.h"
#include "parallel/parallel.h"

namespace {

bool twelve_bit(uint32_t bitlen) {
    return bitlen == 12 || bitlen == 36 || bitlen == 48 || bitlen == 80;
}

// The sample byte of a channel value of a 1- or 12-bit family picture.
uint8_t fraction_byte(const KQ_DATA* kq, int c) {
    float f = 0.0f, unused = 0.0f;
    kq_pixel_to_float(kq, c, c, c, c, &f, &unused, &unused, &unused);
    return static_cast<uint8_t>(static_cast<int>(f * 255));
}

// The sample bytes of every channel value of a 1- or 12-bit family picture, made
// once per run: the fraction depends on the family alone (c / 4095 for 12, 36, 48
// and 80 bits), not on the picture or the row.
const uint8_t* fraction_table(const KQ_DATA* kq) {
    struct Table {
        uint8_t byte[4096];
    };
    auto make = [](const KQ_DATA* k, int values) {
        Table t{};
        for (int v = 0; v < values; ++v) t.byte[v] = fraction_byte(k, v);
        return t;
    };
    if (kq->bitlen == 1) {
        static const Table one = make(kq, 2);
        return one.byte;
    }
    static const Table twelve = make(kq, 4096);
    return twelve.byte;
}

// 12-bit value starting at bit `bit` of a most-significant-bit-first stream.
inline int get12(const unsigned char* line, int64_t bit) {
    const unsigned char* b = line + (bit >> 3);
    if ((bit & 7) == 0) return (b[0] << 4) | (b[1] >> 4);
    return ((b[0] & 0x0F) << 8) | b[1];
}

[[noreturn]] void fail_kq(const char* format) {
    std::fprintf(stderr, format, kq_errlist[kq_errno]);
    error_exit();
}

// Moves a window corner inside lo..hi with its warning.
void clamp_corner(int64_t& v, int64_t lo, int64_t hi, char axis) {
    const int64_t old = v;
    v = std::clamp(v, lo, hi);
    if (v == old) return;
    std::fputc('\a', stderr);
    std::fprintf(stderr, "WARNING : invalid window value %c\n", axis);
    std::fprintf(stderr, "          change value %lld -> %lld\n", static_cast<long long>(old),
                 static_cast<long long>(v));
}

// kq_alloc_scanlines, with the fuzz build's limit on work blocks.
unsigned char* alloc_scanlines(const KQ_DATA* kq, int n) {
#ifdef KQ_FUZZ_CAPS
    if (int64_t(kq->line_bytes) * n > WF_FUZZ_MAX_BLOCK) {
        kq_errno = KQ_ERR_ALLOC_SCANLINE;
        return nullptr;
    }
#endif
    return kq_alloc_scanlines(kq, n);
}

}  // namespace

int key_channels(int key, int channel[4]) {
    int n = 0;
    for (int c = 0; c < 4; ++c)
        if (key & (1 << c)) channel[n++] = c;
    return n;
}

int choose_planes(uint32_t bitlen, int key) {
    int planes = key;
    switch (bitlen) {
        case 1:
        case 8:
        case 12:
            if (key != 0 && key != KEY_R)
                std::fputs("WARNING : input image has only 1 plane.\n"
                           "          change convert plane to R\n",
                           stderr);
            planes = KEY_R;
            break;
        case 24:
        case 36:
            if (key == 0) {
                planes = KEY_RGB;
            } else if (key == KEY_A) {
                std::fputs("WARNING : input image has no alpha plane.\n"
                           "          change convert plane to R\n",
                           stderr);
                planes = KEY_R;
            } else if (key == KEY_RGBA) {
                std::fputs("WARNING : input image has no alpha plane.\n"
                           "          change convert plane to RGB\n",
                           stderr);
                planes = KEY_RGB;
            }
            break;
        default:
            if (key == 0) planes = KEY_RGBA;
            break;
    }
    const char* word = "R";
    switch (planes) {
        case KEY_G: word = "G"; break;
        case KEY_B: word = "B"; break;
        case KEY_A: word = "A"; break;
        case KEY_RGB: word = "RGB"; break;
        case KEY_RGBA: word = "RGBA"; break;
    }
    int channel[4];
    std::fprintf(stderr, "convert %s plane / output %d plane(s)\n", word,
                 key_channels(planes, channel));
    return planes;
}

bool unpack_row_plain(const KQ_DATA* kq, const unsigned char* line, int x_from, int count,
                      const int channel[4], int nplanes, uint8_t* const out[4]) {
    const bool fraction = kq->bitlen == 1 || twelve_bit(kq->bitlen);
    for (int i = 0; i < count; ++i) {
        int c[4] = {0, 0, 0, 0};
        if (!kq_get_pixel(kq, line, x_from + i, &c[0], &c[1], &c[2], &c[3])) return false;
        if (fraction) {
            float f[4] = {0, 0, 0, 0};
            kq_pixel_to_float(kq, c[0], c[1], c[2], c[3], &f[0], &f[1], &f[2], &f[3]);
            for (int k = 0; k < 4; ++k) c[k] = static_cast<int>(f[k] * 255);
        }
        for (int p = 0; p < nplanes; ++p) out[p][i] = static_cast<uint8_t>(c[channel[p]]);
    }
    return true;
}

bool unpack_row(const KQ_DATA* kq, const unsigned char* line, int x_from, int count,
                const int channel[4], int nplanes, uint8_t* const out[4], bool file_order) {
    const uint32_t bits = kq->bitlen;
    const uint8_t type = kq->data_type;
    int bytes = 0;  // pixel size of the byte-channel layouts
    if (bits == 8 || bits == 24) bytes = static_cast<int>(bits / 8);
    if (bits == 32 && !(type & KQ_TYPE_VALUE)) bytes = 4;
    if (bits == 64 && !(type & KQ_TYPE_AUX)) bytes = 8;
    const bool window_ok = x_from >= 0 && count >= 0 && int64_t(x_from) + count <= kq->size_x;
    if (bytes > 0 && window_ok) {
        // 32-bit pixels in file order hold channel c at byte 3 - c.
        auto at = [&](int c) { return file_order && bits == 32 ? 3 - c : c; };
        if (bytes == 4 && nplanes == 4) {
            const unsigned char* in = line + static_cast<int64_t>(x_from) * 4;
            const int at4[4] = {at(channel[0]), at(channel[1]), at(channel[2]), at(channel[3])};
            kq_split4(in, count, at4, out);
            return true;
        }
        for (int p = 0; p < nplanes; ++p) {
            const unsigned char* in = line + static_cast<int64_t>(x_from) * bytes + at(channel[p]);
            uint8_t* o = out[p];
            if (bytes == 1) {
                std::memcpy(o, in, static_cast<size_t>(count));
            } else {
                for (int i = 0; i < count; ++i) o[i] = in[static_cast<int64_t>(i) * bytes];
            }
        }
        return true;
    }
    if ((bits == 1 || twelve_bit(bits)) && window_ok) {
        // Every channel value maps through the same fraction table.
        const uint8_t* table = fraction_table(kq);
        for (int p = 0; p < nplanes; ++p) {
            uint8_t* o = out[p];
            const int c = channel[p];
            if (bits == 1) {
                for (int i = 0; i < count; ++i) {
                    const int64_t x = int64_t(x_from) + i;
                    o[i] = table[(line[x >> 3] >> (x & 7)) & 1];
                }
            } else if (bits == 12) {
                for (int i = 0; i < count; ++i) o[i] = table[get12(line, (int64_t(x_from) + i) * 12)];
            } else if (bits == 36) {
                if (c > 2) return unpack_row_plain(kq, line, x_from, count, channel, nplanes, out);
                for (int i = 0; i < count; ++i)
                    o[i] = table[get12(line, (int64_t(x_from) + i) * 36 + 12 * c)];
            } else {
                const int64_t stride = bits == 48 ? 48 : 80;
                for (int i = 0; i < count; ++i)
                    o[i] = table[get12(line, (int64_t(x_from) + i) * stride + 12 * c)];
            }
        }
        return true;
    }
    if (file_order && bits == 32) {
        // The plain route needs memory order.
        std::vector<unsigned char> copy(line, line + kq->line_bytes);
        for (size_t g = 0; g + 4 <= copy.size(); g += 4) {
            std::swap(copy[g], copy[g + 3]);
            std::swap(copy[g + 1], copy[g + 2]);
        }
        return unpack_row_plain(kq, copy.data(), x_from, count, channel, nplanes, out);
    }
    return unpack_row_plain(kq, line, x_from, count, channel, nplanes, out);
}

void read_source(ConvertSettings& s, SourcePlanes& src) {
    struct KqFree {
        void operator()(KQ_DATA* kq) const { kq_free(kq); }
    };
    const std::unique_ptr<KQ_DATA, KqFree> handle(kq_ropen(s.in_name.c_str()));
    KQ_DATA* kq = handle.get();
    if (!kq) {
        std::fprintf(stderr, "ERROR : Can't open %s (%s)\n", s.in_name.c_str(),
                     kq_errlist[kq_errno]);
        error_exit();
    }
    if (!kq_has_color(kq)) {
        std::fputs("ERROR : There is no color/alpha/mask data component\n", stderr);
        error_exit();
    }
    kq_get_origin(kq, &src.org_x, &src.org_y);
    kq_get_size(kq, &src.size_x, &src.size_y);
    src.bitlen = kq->bitlen;
    src.data_type = kq->data_type;
    if (kq->field != 'B') {
        std::fputs("ERROR : Can't convert even or odd field data\n", stderr);
        error_exit();
    }
    const Owned<unsigned char> line_block(alloc_scanlines(kq, 1));
    unsigned char* line = line_block.get();
    if (!line) {
        std::fputc('\a', stderr);
        fail_kq("ERROR : Can't setup packed data (%s)\n");
    }
    const int64_t left = src.org_x, right = int64_t(src.org_x) + src.size_x - 1;
    const int64_t bottom = src.org_y, top = int64_t(src.org_y) + src.size_y - 1;
    if (!s.window_given) {
        s.x1 = left;
        s.y1 = bottom;
        s.x2 = right;
        s.y2 = top;
    } else {
        clamp_corner(s.x1, left, right, 'X');
        clamp_corner(s.y1, bottom, top, 'Y');
        clamp_corner(s.x2, left, right, 'X');
        clamp_corner(s.y2, bottom, top, 'Y');
    }
    const int key = choose_planes(src.bitlen, s.plane_key);
    int channel[4];
    src.count = key_channels(key, channel);
    if (!s.silent) {
        std::fputs("read source image ... ", stderr);
        std::fflush(stderr);
    }
    src.x1 = static_cast<int>(s.x1);
    src.y1 = static_cast<int>(s.y1);
    src.width = static_cast<int>(s.x2 - s.x1 + 1);
    src.height = static_cast<int>(s.y2 - s.y1 + 1);
    const size_t area = static_cast<size_t>(src.width) * static_cast<size_t>(src.height);
    for (int p = 0; p < src.count; ++p) {
        src.plane[p] = static_cast<uint8_t*>(alloc_work(static_cast<int64_t>(area)));
        if (!src.plane[p]) {
            std::fputc('\a', stderr);
            std::fputs("ERROR : Can't setup source image inside buffer\n", stderr);
            error_exit();
        }
    }
    const int64_t skip = top - s.y2;
    if (skip > 0 && !kq_seek_scanline(kq, static_cast<int>(skip), 0))
        fail_kq("ERROR : Can't seek scanline (%s)\n");

    // Rows come in batches of up to about a megabyte; one scanline when that much
    // room cannot be had.
    const int64_t line_bytes = std::max<int64_t>(kq->line_bytes, 1);
    int batch = static_cast<int>(std::clamp<int64_t>((1 << 20) / line_bytes, 1, src.height));
    const Owned<unsigned char> batch_block(batch > 1 ? alloc_scanlines(kq, batch) : nullptr);
    unsigned char* rows = batch_block.get();
    if (!rows) {
        rows = line;
        batch = 1;
    }
    const int x_from = src.x1 - src.org_x;
    // 32-bit rows stay in file order where the byte layouts read them directly;
    // the values of 32-bit value pictures are put in memory order by the library.
    const bool file_order = !(src.bitlen == 32 && (src.data_type & KQ_TYPE_VALUE));
    for (int done = 0; done < src.height;) {
        const int n = std::min(batch, src.height - done);
        if (!kq_read_scanlines(kq, rows, n, file_order ? 1 : 0))
            fail_kq("ERROR : Can't read packed data (%s)\n");
        // The rows of a batch are unpacked on several threads; a failure ends the
        // run once they are all back.
        std::atomic<bool> unpacked{true};
        parallel_for(n, rows_for_bytes(line_bytes, 64 * 1024), [&](int64_t r0, int64_t r1) {
            for (int64_t r = r0; r < r1; ++r) {
                const int64_t row = src.height - 1 - (done + r);  // y - y1, top row first
                uint8_t* out[4] = {};
                for (int p = 0; p < src.count; ++p) out[p] = src.plane[p] + row * src.width;
                if (!unpack_row(kq, rows + r * kq->line_bytes, x_from, src.width, channel,
                                src.count, out, file_order))
                    unpacked = false;
            }
        });
        if (!unpacked) fail_kq("ERROR : Can't get pixel data (%s)\n");
        done += n;
    }
    // (The scanlines and the picture, with its file, are released on return.)
    if (!s.silent) std::fputs("finish\n", stderr);
}
