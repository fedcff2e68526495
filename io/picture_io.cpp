// read and write: picture files to ImageBuffers and back, through libkq's whole
// packed scanlines. Scanlines move in runs of many lines per transfer; each one is
// unpacked into (or packed from) one row of every plane.
#include "io/picture_io.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "buffer/image_buffer.h"
#include "interp/command.h"
#include "interp/commands.h"
#include "interp/interp.h"
#include "libkq/kq.h"
#include "libkq/kq_pixels.h"
#include "parallel/parallel.h"

void interleave_row(const uint8_t* const* rows, int n, int64_t w, uint8_t* __restrict dst) {
    if (n == 1) {
        std::memcpy(dst, rows[0], size_t(w));
    } else if (n == 3) {
        const uint8_t* __restrict r = rows[0];
        const uint8_t* __restrict g = rows[1];
        const uint8_t* __restrict b = rows[2];
        for (int64_t i = 0; i < w; ++i) {
            dst[3 * i] = r[i];
            dst[3 * i + 1] = g[i];
            dst[3 * i + 2] = b[i];
        }
    } else {
        const uint8_t* __restrict r = rows[0];
        const uint8_t* __restrict g = rows[1];
        const uint8_t* __restrict b = rows[2];
        const uint8_t* __restrict a = rows[3];
        for (int64_t i = 0; i < w; ++i) {
            dst[4 * i] = r[i];
            dst[4 * i + 1] = g[i];
            dst[4 * i + 2] = b[i];
            dst[4 * i + 3] = a[i];
        }
    }
}

namespace {

constexpr size_t kMaxPicName = 512;
constexpr int64_t kRunBytes = 256 * 1024;  // scanline bytes per transfer: stays in cache

const char* kq_message() { return kq_errlist[kq_errno]; }

// Scanlines per transfer: about kRunBytes.
int run_lines(const KQ_DATA* kq, int64_t rows) {
    const int64_t per = kq->line_bytes > 0 ? kRunBytes / kq->line_bytes : 1;
    return static_cast<int>(std::clamp<int64_t>(std::min(per, rows), 1, INT32_MAX));
}

// The grain of a transfer's unpacking or packing: one range, on the reading thread.
// With the planes faulted in ahead the copy runs at memory speed beside the kernel's
// own copy of the file, and waking the threads at every transfer cost more than it
// saved. The tests still split every transfer (fine split): the bytes do not depend
// on it.
int64_t run_grain() { return fine_split() ? 1 : kOneRange; }

// Packed pixels as the file holds them, one group per pixel: 8 bits = plane 0;
// 24 bits = planes 2, 1, 0; 32 bits = planes 0, 1, 2, 3. (The library's memory
// order for 32 bits is alpha, blue, green, red: each 4-byte group reversed. The
// scanlines move in file order so the reversal folds into the shuffle.)
void unpack_row(int components, const uint8_t* __restrict src, uint8_t* const* rows, int64_t w) {
    if (components == 1) {
        std::memcpy(rows[0], src, size_t(w));
    } else if (components == 3) {
        uint8_t* __restrict r = rows[0];
        uint8_t* __restrict g = rows[1];
        uint8_t* __restrict b = rows[2];
        for (int64_t i = 0; i < w; ++i) {
            b[i] = src[3 * i];
            g[i] = src[3 * i + 1];
            r[i] = src[3 * i + 2];
        }
    } else {
        static constexpr int kInOrder[4] = {0, 1, 2, 3};
        kq_split4(src, w, kInOrder, rows);
    }
}

// 24 bits hold planes 2, 1, 0; 8 and 32 bits hold them in order.
void pack_row(int components, uint8_t* dst, const uint8_t* const* rows, int64_t w) {
    if (components == 3) {
        const uint8_t* const bgr[3] = {rows[2], rows[1], rows[0]};
        return interleave_row(bgr, 3, w, dst);
    }
    interleave_row(rows, components, w, dst);
}

void row_pointers(const ImageBuffer& b, int64_t index, uint8_t** rows) {
    for (int p = 0; p < b.components; ++p) rows[p] = b.plane[p] + index * int64_t(b.width);
}

// The picture format of a file that is not a .tkq, by its first bytes, or null.
const char* other_format(const char* name) {
    std::FILE* f = std::fopen(name, "rb");
    if (!f) return nullptr;
    unsigned char b[12] = {};
    const size_t n = std::fread(b, 1, sizeof b, f);
    std::fclose(f);
    auto is = [&](const char* magic, size_t len, size_t at = 0) {
        return n >= at + len && std::memcmp(b + at, magic, len) == 0;
    };
    if (is("\x89PNG\r\n\x1a\n", 8)) return "PNG";
    if (is("\xff\xd8\xff", 3)) return "JPEG";
    if (is("II*\0", 4) || is("MM\0*", 4)) return "TIFF";
    if (is("GIF8", 4)) return "GIF";
    if (is("\x76\x2f\x31\x01", 4)) return "OpenEXR";
    if (is("RIFF", 4) && is("WEBP", 4, 8)) return "WebP";
    if (is("SDPX", 4) || is("XPDS", 4)) return "DPX";
    if (is("BM", 2)) return "BMP";
    if (n >= 3 && b[0] == 'P' && b[1] >= '5' && b[1] <= '7' && (b[2] == '\n' || b[2] == ' '))
        return b[1] == '7' ? "PAM" : "PNM";
    return nullptr;
}

}  // namespace

// --- read ------------------------------------------------------------------------------------

int read_picture(const char* pic_name, const char* buff_name) {
    if (std::strlen(pic_name) >= kMaxPicName) {
        std::fprintf(stderr, "ERROR : too long pix name %s (currentMax=%d)\n", pic_name,
                     static_cast<int>(kMaxPicName));
        return 0;
    }
    KQ_DATA* kq = kq_ropen(pic_name);
    if (!kq) {
        std::fprintf(stderr, "ERROR : Can't open %s\n", pic_name);
        // A picture of another kind: say how to bring it in.
        if (const char* kind = other_format(pic_name))
            std::fprintf(stderr, "          %s is a %s file: convert it with kqconv\n", pic_name, kind);
        return 0;
    }
    const int bitlen = static_cast<int>(kq->bitlen);
    const int components = bitlen == 8 ? 1 : bitlen == 24 ? 3 : bitlen == 32 ? 4 : 0;
    if (components == 0) {
        std::fprintf(stderr, "ERROR : Input %s is invalid bitlen (bitlen=%d) (OKbitlen=24,32)\n",
                     pic_name, bitlen);
        kq_free(kq);
        return 0;
    }
    int ox, oy, w, h;
    kq_get_origin(kq, &ox, &oy);
    kq_get_size(kq, &w, &h);
    // A frame picture overwrites every row, so reused planes need no clearing first;
    // a field picture's missing rows are cleared as they come.
    const bool frame = kq->field == 'B';
    ImageBuffer* b = make_buffer(buff_name, ox, oy, w, h, components, false);
    b->kqName = pic_name;

    const int per_run = run_lines(kq, kq->line_count);
    unsigned char* run = kq_alloc_scanlines(kq, per_run);
    if (!run) {
        std::fprintf(stderr, "ERROR : Can't setup packed data (%s)\n", kq_message());
        const uint8_t zero[4] = {0, 0, 0, 0};
        fill_planes(*b, 15, zero);  // the buffer stays as a cleared one of the new shape
        kq_free(kq);
        return 0;
    }
    int unread = kq->line_count;  // stored scanlines still in the file
    int ready = 0;                // scanlines of the current run not yet unpacked
    uint8_t* rows[4] = {};
    // Rows of the buffer whose scanlines the current run holds, in run order: they
    // are unpacked together (see run_grain) before the run is read again.
    std::vector<int64_t> pending;
    pending.reserve(size_t(per_run));
    const int64_t grain = run_grain();
    auto unpack_pending = [&] {
        const int64_t line = kq->line_bytes;
        parallel_for(int64_t(pending.size()), grain, [&](int64_t j0, int64_t j1) {
            uint8_t* dst[4] = {};
            for (int64_t j = j0; j < j1; ++j) {
                row_pointers(*b, pending[size_t(j)], dst);
                unpack_row(components, run + j * line, dst, w);
            }
        });
        pending.clear();
    };
    for (int64_t i = 0; i < h; ++i) {
        row_pointers(*b, i, rows);
        const int64_t y = int64_t(b->window.y2) - i;
        if (!frame && !kq_line_stored(kq, static_cast<int>(y))) {
            for (int p = 0; p < components; ++p) std::memset(rows[p], 0, size_t(w));
            continue;
        }
        if (ready == 0) {
            unpack_pending();
            const int n = std::max(1, std::min(per_run, unread));
            if (!kq_read_scanlines(kq, run, n, 1)) {
                std::fprintf(stderr, "ERROR : Can't read packed data (%s)\n", kq_message());
                fatal_exit();
            }
            unread -= n;
            ready = n;
        }
        pending.push_back(i);
        --ready;
    }
    unpack_pending();
    std::free(run);
    kq_free(kq);
    return 1;
}

static void help_read(const char* word, int mode) {
    if (mode == 1)
        std::fprintf(stderr, "Usage : %s %s buffName\n", word, kq_name_word());
    else
        std::fprintf(stderr, "\t%s\t-> read %s data to buff\n", word, kq_extension());
}

// read tkqName buffName. Once the words are right the command counts as done:
// its refusals are messages, not execution errors (but -e and -k count them).
int cmd_read(int argc, char** argv) {
    if (answer_help(argc, argv, help_read)) return 1;
    if (argc != 3) return command_error("Invalid argment count", argv[0], help_read);
    return succeed_anyway(read_picture(argv[1], argv[2]));
}

// --- write -----------------------------------------------------------------------------------

int write_picture(const char* buff_name, const char* pic_name) {
    ImageBuffer* b = find_buffer(buff_name);
    if (!b) {
        std::fprintf(stderr, "WARNING : Can't find buff (name=%s)\n", buff_name);
        return 0;
    }
    KQ_DATA* kq = kq_alloc();
    if (!kq) {
        std::fprintf(stderr, "ERROR : Can't alloc kq structure (%s)\n", kq_message());
        fatal_exit();
    }
    const int components = b->components;
    const int bitlen = components == 1 ? 8 : components == 3 ? 24 : components == 4 ? 32 : 0;
    const int data_type = components == 1 ? 2 : components == 3 ? 4 : 6;
    kq_set_origin(kq, b->x, b->y);
    if (!kq_set_format(kq, b->width, b->height, bitlen, 'B', data_type)) {
        std::fprintf(stderr, "ERROR : Can't set size|bitl|field|type (%s)\n", kq_message());
        fatal_exit();
    }
    kq_set_aspect(kq, 100000, 100000);
    if (!kq_wopen(pic_name, kq)) {
        std::fprintf(stderr, "ERROR : Can't create %s (%s)\n", pic_name, kq_message());
        fatal_exit();
    }
    const int64_t w = b->width, h = b->height;
    const int per_run = run_lines(kq, h);
    unsigned char* run = kq_alloc_scanlines(kq, per_run);
    if (!run) {
        std::fprintf(stderr, "ERROR : Can't setup packed data (%s)\n", kq_message());
        fatal_exit();
    }
    const int64_t grain = run_grain();
    for (int64_t i = 0; i < h;) {
        const int n = static_cast<int>(std::min<int64_t>(per_run, h - i));
        parallel_for(n, grain, [&](int64_t j0, int64_t j1) {
            uint8_t* src[4] = {};
            for (int64_t j = j0; j < j1; ++j) {
                row_pointers(*b, i + j, src);
                pack_row(components, run + j * kq->line_bytes, src, w);
            }
        });
        if (!kq_write_scanlines(kq, run, n, 1)) {
            std::fprintf(stderr, "ERROR : Can't write packed data (%s)\n", kq_message());
            fatal_exit();
        }
        i += n;
    }
    std::free(run);
    // The picture takes its name only now; a failure here leaves the old one.
    if (!kq_close(kq)) {
        std::fprintf(stderr, "ERROR : Can't write packed data (%s)\n", kq_message());
        fatal_exit();
    }
    kq_free(kq);
    return 1;
}

static void help_write(const char* word, int mode) {
    if (mode == 1)
        std::fprintf(stderr, "Usage : %s buffName %s\n", word, kq_name_word());
    else
        std::fprintf(stderr, "\t%s\t-> write %s data\n", word, kq_extension());
}

// write buffName tkqName. A missing buffer is a message, not an execution error.
int cmd_write(int argc, char** argv) {
    if (answer_help(argc, argv, help_write)) return 1;
    if (argc != 3) return command_error("Invalid argment count", argv[0], help_write);
    return succeed_anyway(write_picture(argv[1], argv[2]));
}
