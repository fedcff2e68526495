// Picture reading: the input is a picture file opened through kq_ropen; every
// scanline is read and every pixel fetched through each slot of the access table,
// by scanline and by block.
#include <cstdlib>

#include "fuzz_support.h"
#include "libkq/kq.h"

namespace {

void fetch_row(const KQ_DATA* kq, const unsigned char* line, const unsigned char* block, int y) {
    int c[4];
    int32_t v;
    for (int x = -1; x <= kq->size_x; ++x) {
        if (line) {
            kq->access.get_pixel(kq, line, x, &c[0], &c[1], &c[2], &c[3]);
            kq->access.get_value(kq, line, x, &v);
            kq->access.get_aux(kq, line, x, &v);
        }
        if (block) {
            kq->access.get_pixel_at(kq, block, x, y, &c[0], &c[1], &c[2], &c[3]);
            kq->access.get_value_at(kq, block, x, y, &v);
            kq->access.get_aux_at(kq, block, x, y, &v);
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::enter_scratch();
    fuzz::put_file("p.tkq", data, size);
    KQ_DATA* kq = kq_ropen("p.tkq");
    if (!kq) return 0;
    // Headers may claim far more rows than the file holds; reading stops at the
    // first short scanline, and the block is kept to files that could fill it.
    const int64_t data_bytes = int64_t(kq->line_count) * kq->line_bytes;
    unsigned char* block = data_bytes <= int64_t(size) ? kq_alloc_scanlines(kq, kq->line_count)
                                                        : nullptr;
    if (block && kq_read_scanlines(kq, block, kq->line_count)) {
        for (int y = -1; y <= kq->size_y; ++y)
            fetch_row(kq, kq->line_count > 0 ? block : nullptr, block, y);
        kq_seek_scanline(kq, 0, 0);
    }
    std::free(block);
    // (A scanline longer than the file cannot be read: it is not allocated.)
    if (unsigned char* line = kq->line_bytes <= int64_t(size) ? kq_alloc_scanline(kq) : nullptr) {
        for (int i = 0; i < kq->line_count && kq_read_scanline(kq, line); ++i)
            fetch_row(kq, line, nullptr, 0);
        std::free(line);
    }
    kq_free(kq);
    return 0;
}
