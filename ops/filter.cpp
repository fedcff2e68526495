// filter3 (3 x 3 kernels) and antiflicker (five-tap vertical filter), both in place.
//
// Both stream down the rows from the top and keep a small ring of source rows
// (three or five): when a row is reached, what the filter needs of it (pre-
// multiplied 16-bit values) goes into a vacant slot, the output row that was waiting
// for it is summed from the slots in the same pass, so it can be written over the
// plane at once, and the slot of the row no longer needed is vacated. The sums fit
// 16 bits, and the division by a constant divisor is exact integer division, which
// the single-precision reciprocal of the definition equals for every sum a kernel
// can reach (checked exhaustively by the tests).
#include "ops/filter.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <utility>
#include <vector>

#include "buffer/image_buffer.h"
#include "interp/command.h"
#include "interp/commands.h"
#include "interp/interp.h"
#include "ops/cpu.h"
#include "parallel/parallel.h"

namespace {

struct KernelRow {
    const char* key;
    int8_t k[9];  // above l m r, centre l m r, below l m r
};

constexpr KernelRow kKernels[kFilter3Kernels] = {
    {"hi", {0, -1, 0, -1, 5, -1, 0, -1, 0}},
    {"hi2", {-1, -2, -1, -2, 13, -2, -1, -2, -1}},
    {"hi3", {-1, -2, -1, -2, 16, -2, -1, -2, -1}},
    {"lap", {0, 1, 0, 1, -4, 1, 0, 1, 0}},
    {"low", {1, 2, 1, 2, 5, 2, 1, 2, 1}},
    {"low2", {1, 4, 1, 4, 16, 4, 1, 4, 1}},
    {"low3", {1, 2, 1, 2, 20, 2, 1, 2, 1}},
    {"lowv", {1, 1, 1, 8, 16, 8, 1, 1, 1}},
};

constexpr int divisor_of(int kernel) {
    int sum = 0;
    for (int8_t c : kKernels[kernel].k) sum += c;
    return sum == 0 ? 1 : sum;
}

// Limits a kernel sum divided by D (truncated toward zero) to 0 ... 255. A negative
// sum gives 0 either way, so the division is unsigned; sums stay below 2^16.
template <int D>
inline uint8_t limit_div(int s) {
    uint16_t u = uint16_t(s < 0 ? 0 : s);
    if constexpr (D != 1) u = uint16_t(u / D);
    return uint8_t(u > 255 ? 255 : u);
}

// ---- row loops -------------------------------------------------------------------

// Every kernel has the same row above and below and is mirrored left to right. With
// h = v[x-1] + v[x+1] (edge columns repeated), a row contributes e = k0 h + k1 v as
// the row above or below and c = k3 h + k4 v as the centre row; the sum of an output
// pixel is e(above) + c(centre) + e(below). A row slot keeps e and c of its row
// (w entries each), made once when the row is loaded. Every value fits 16 bits
// (the sums stay within 38 x 255 in size).
constexpr bool mirrored(const int8_t (&k)[9]) {
    return k[0] == k[6] && k[1] == k[7] && k[2] == k[8] && k[0] == k[2] && k[3] == k[5];
}

using Filter3Load = void (*)(const uint8_t*, int16_t*, int16_t*, int64_t);
using Filter3Row = void (*)(const int16_t*, const int16_t*, const int16_t*, uint8_t*, int64_t);
using Filter3LoadRow = void (*)(const uint8_t*, int16_t*, int16_t*, const int16_t*,
                                const int16_t*, uint8_t*, int64_t);
using FlickerLoad = void (*)(const uint8_t*, int16_t*, int16_t*, int64_t);
using FlickerRow = void (*)(const int16_t* const*, uint8_t*, int64_t);
using FlickerLoadRow = void (*)(const uint8_t*, int16_t*, const int16_t* const*, uint8_t*,
                                int64_t);

// e and c of the first and last pixel of a row, whose missing neighbour column is
// the edge column itself.
template <int K>
inline void filter3_load_edges(const uint8_t* v, int16_t* e, int16_t* c, int64_t w) {
    constexpr auto& k = kKernels[K].k;
    for (int64_t x : {int64_t(0), w - 1}) {
        const int h = v[x == 0 ? 0 : w - 2] + v[x == 0 ? 1 : w - 1];
        e[x] = int16_t(k[0] * h + k[1] * v[x]);
        c[x] = int16_t(k[3] * h + k[4] * v[x]);
    }
}

// e and c of one row of w >= 3 pixels.
template <int K>
inline void filter3_load(const uint8_t* __restrict v, int16_t* __restrict e,
                         int16_t* __restrict c, int64_t w) {
    constexpr auto& k = kKernels[K].k;
    static_assert(mirrored(k));
    for (int64_t x = 1; x + 1 < w; ++x) {
        const int16_t h = int16_t(v[x - 1] + v[x + 1]);
        e[x] = int16_t(k[0] * h + k[1] * v[x]);
        c[x] = int16_t(k[3] * h + k[4] * v[x]);
    }
    filter3_load_edges<K>(v, e, c, w);
}

// Loads row y (pixels v, w >= 3) into e and c and, in the same pass, writes output
// row y+1 from the e of the row above it, the c of row y+1 and the new e of row y:
// the next row is read from memory while the previous one is summed.
template <int K>
inline void filter3_load_row(const uint8_t* __restrict v, int16_t* __restrict e,
                             int16_t* __restrict c, const int16_t* __restrict above,
                             const int16_t* __restrict centre, uint8_t* __restrict out,
                             int64_t w) {
    constexpr auto& k = kKernels[K].k;
    constexpr int D = divisor_of(K);
    for (int64_t x = 1; x + 1 < w; ++x) {
        const int16_t h = int16_t(v[x - 1] + v[x + 1]);
        const int16_t ex = int16_t(k[0] * h + k[1] * v[x]);
        e[x] = ex;
        c[x] = int16_t(k[3] * h + k[4] * v[x]);
        out[x] = limit_div<D>(int16_t(above[x] + centre[x] + ex));
    }
    filter3_load_edges<K>(v, e, c, w);
    for (int64_t x : {int64_t(0), w - 1})
        out[x] = limit_div<D>(int16_t(above[x] + centre[x] + e[x]));
}

template <int K>
inline void filter3_row(const int16_t* __restrict above, const int16_t* __restrict centre,
                        const int16_t* __restrict below, uint8_t* __restrict out, int64_t w) {
    constexpr int D = divisor_of(K);
    for (int64_t x = 0; x < w; ++x)
        out[x] = limit_div<D>(int16_t(above[x] + centre[x] + below[x]));
}

// An antiflicker slot keeps the row widened to 16 bits.
inline void flicker_load(const uint8_t* __restrict v, int16_t* __restrict r, int16_t*,
                         int64_t w) {
    for (int64_t x = 0; x < w; ++x) r[x] = v[x];
}

// rows: y+2, y+1, y, y-1, y-2. T = -v(y+2) + 2v(y+1) + 6v(y) + 2v(y-1) - v(y-2) lies
// in -510 ... 2550; the byte is 0 below 0, T / 8 below 2040, else 255.
inline uint8_t flicker_limit(int16_t t) {
    const uint16_t u = uint16_t(t < 0 ? 0 : t) >> 3;
    return uint8_t(u > 255 ? 255 : u);
}

inline void flicker_row(const int16_t* const* rows, uint8_t* __restrict out, int64_t w) {
    const int16_t* __restrict r0 = rows[0];
    const int16_t* __restrict r1 = rows[1];
    const int16_t* __restrict r2 = rows[2];
    const int16_t* __restrict r3 = rows[3];
    const int16_t* __restrict r4 = rows[4];
    for (int64_t x = 0; x < w; ++x)
        out[x] = flicker_limit(
            int16_t(2 * int16_t(r1[x] + r3[x]) + 6 * r2[x] - int16_t(r0[x] + r4[x])));
}

// Loads row y (pixels v) and, in the same pass, writes output row y+2 from the
// slots of rows y+4 ... y+1 (rows[0 ... 3]) and row y itself.
inline void flicker_load_row(const uint8_t* __restrict v, int16_t* __restrict r,
                             const int16_t* const* rows, uint8_t* __restrict out, int64_t w) {
    const int16_t* __restrict r0 = rows[0];
    const int16_t* __restrict r1 = rows[1];
    const int16_t* __restrict r2 = rows[2];
    const int16_t* __restrict r3 = rows[3];
    for (int64_t x = 0; x < w; ++x) {
        const int16_t r4 = v[x];
        r[x] = r4;
        out[x] = flicker_limit(int16_t(2 * int16_t(r1[x] + r3[x]) + 6 * r2[x] - int16_t(r0[x] + r4)));
    }
}

// The loops of one filter, compiled for the baseline processor or for AVX2.
struct Filter3Loops {
    Filter3Load load;
    Filter3LoadRow load_row;
    Filter3Row row;
};
struct FlickerLoops {
    FlickerLoad load;
    FlickerLoadRow load_row;
    FlickerRow row;
};

template <int K>
void filter3_load_base(const uint8_t* v, int16_t* e, int16_t* c, int64_t w) {
    filter3_load<K>(v, e, c, w);
}
template <int K>
void filter3_load_row_base(const uint8_t* v, int16_t* e, int16_t* c, const int16_t* a,
                           const int16_t* m, uint8_t* out, int64_t w) {
    filter3_load_row<K>(v, e, c, a, m, out, w);
}
template <int K>
void filter3_row_base(const int16_t* a, const int16_t* c, const int16_t* b, uint8_t* out,
                      int64_t w) {
    filter3_row<K>(a, c, b, out, w);
}
void flicker_load_base(const uint8_t* v, int16_t* r, int16_t* u, int64_t w) {
    flicker_load(v, r, u, w);
}
void flicker_load_row_base(const uint8_t* v, int16_t* r, const int16_t* const* rows,
                           uint8_t* out, int64_t w) {
    flicker_load_row(v, r, rows, out, w);
}
void flicker_row_base(const int16_t* const* rows, uint8_t* out, int64_t w) {
    flicker_row(rows, out, w);
}

template <std::size_t... K>
constexpr std::array<Filter3Loops, kFilter3Kernels> base_loops(std::index_sequence<K...>) {
    return {Filter3Loops{filter3_load_base<int(K)>, filter3_load_row_base<int(K)>,
                         filter3_row_base<int(K)>}...};
}
constexpr auto kBaseLoops = base_loops(std::make_index_sequence<kFilter3Kernels>{});

WideVectors wide_vectors;  // filter_allow_wide_vectors

#if defined(__GNUC__) && defined(__x86_64__)
template <int K>
__attribute__((target("avx2"), flatten)) void filter3_load_avx2(const uint8_t* v, int16_t* e,
                                                                int16_t* c, int64_t w) {
    filter3_load<K>(v, e, c, w);
}
template <int K>
__attribute__((target("avx2"), flatten)) void filter3_load_row_avx2(
    const uint8_t* v, int16_t* e, int16_t* c, const int16_t* a, const int16_t* m, uint8_t* out,
    int64_t w) {
    filter3_load_row<K>(v, e, c, a, m, out, w);
}
template <int K>
__attribute__((target("avx2"), flatten)) void filter3_row_avx2(const int16_t* a,
                                                               const int16_t* c,
                                                               const int16_t* b, uint8_t* out,
                                                               int64_t w) {
    filter3_row<K>(a, c, b, out, w);
}
__attribute__((target("avx2"), flatten)) void flicker_load_avx2(const uint8_t* v, int16_t* r,
                                                                int16_t* u, int64_t w) {
    flicker_load(v, r, u, w);
}
__attribute__((target("avx2"), flatten)) void flicker_load_row_avx2(
    const uint8_t* v, int16_t* r, const int16_t* const* rows, uint8_t* out, int64_t w) {
    flicker_load_row(v, r, rows, out, w);
}
__attribute__((target("avx2"), flatten)) void flicker_row_avx2(const int16_t* const* rows,
                                                               uint8_t* out, int64_t w) {
    flicker_row(rows, out, w);
}

template <std::size_t... K>
constexpr std::array<Filter3Loops, kFilter3Kernels> avx2_loops(std::index_sequence<K...>) {
    return {Filter3Loops{filter3_load_avx2<int(K)>, filter3_load_row_avx2<int(K)>,
                         filter3_row_avx2<int(K)>}...};
}
constexpr auto kAvx2Loops = avx2_loops(std::make_index_sequence<kFilter3Kernels>{});

Filter3Loops filter3_loops(int kernel) {
    return wide_vectors.avx2() ? kAvx2Loops[kernel] : kBaseLoops[kernel];
}
FlickerLoops flicker_loops() {
    return wide_vectors.avx2() ? FlickerLoops{flicker_load_avx2, flicker_load_row_avx2, flicker_row_avx2}
                      : FlickerLoops{flicker_load_base, flicker_load_row_base, flicker_row_base};
}
#else
Filter3Loops filter3_loops(int kernel) { return kBaseLoops[kernel]; }
FlickerLoops flicker_loops() {
    return {flicker_load_base, flicker_load_row_base, flicker_row_base};
}
#endif

// ---- the ring of source rows -----------------------------------------------------

// Row slots of one worker call: each holds what a loop made of one source row (one
// or two arrays of w 16-bit entries) and that row's picture y. Loading takes the
// first vacant slot; a row is found by its y.
class RowRing {
public:
    static constexpr int kMaxSlots = 5;

    RowRing(int slots, int arrays, int64_t width, const char* alloc_error)
        : slots_(slots), width_(width), stride_(arrays * std::max<int64_t>(width, 1)) {
        data_.reset(new (std::nothrow) int16_t[size_t(slots) * size_t(stride_)]);
        if (!data_) {
            std::fputs(alloc_error, stderr);
            fatal_exit();
        }
        vacate_all();
    }

    void vacate_all() { held_.fill(false); }

    // The vacant slot that now holds row y, or null after the warning.
    int16_t* take(int64_t y) {
        for (int i = 0; i < slots_; ++i) {
            if (held_[i]) continue;
            held_[i] = true;
            y_[i] = y;
            return slot(i);
        }
        std::fputs("WARNING : Can't find vacent index ==> please contact programmer\n", stderr);
        for (int i = 0; i < slots_; ++i)
            std::fprintf(stderr, "yIndex[%d] : %d\n", i, held_[i] ? int(y_[i]) : -1);
        return nullptr;
    }

    // Loads row y (its pixels at v) through a slot loop.
    template <class Load>
    bool load(int64_t y, const uint8_t* v, Load fn) {
        int16_t* s = take(y);
        if (s) fn(v, s, s + width_, width_);
        return s != nullptr;
    }

    const int16_t* find(int64_t y) const {
        for (int i = 0; i < slots_; ++i)
            if (held_[i] && y_[i] == y) return slot(i);
        std::fputs("WARNING : array index error ==> please contact programmer\n", stderr);
        return nullptr;
    }
    int64_t width() const { return width_; }

    void vacate(int64_t y) {
        for (int i = 0; i < slots_; ++i)
            if (held_[i] && y_[i] == y) held_[i] = false;
    }

private:
    int16_t* slot(int i) const { return data_.get() + int64_t(i) * stride_; }

    int slots_;
    int64_t width_, stride_;
    std::unique_ptr<int16_t[]> data_;
    // A vacancy flag of its own: every picture y, -1 included, can be a row.
    std::array<bool, kMaxSlots> held_{};
    std::array<int64_t, kMaxSlots> y_{};
};

// ---- workers ---------------------------------------------------------------------

bool too_few_rows(const ImageBuffer& b, int rows) {
    if (b.height >= rows) return false;
    std::fprintf(stderr, "WARNING : Too small y resolution (ytop=%d ybottom=%d name=%s)\n",
                 b.window.y2, b.window.y1, b.name.c_str());
    return true;
}

// Output rows ya ... yb of one plane of filter3 (rows y1 ... y2, y2 at the top):
// output row y+1 follows the load of row y (in the same pass); a row beyond y2 or
// y1 is the edge row itself. Every output row is made from the rows as they were
// before the pass, so a plane may be cut into ranges of rows; the original rows
// just above and below a range (which other ranges overwrite) come from `above`
// and `below`.
bool filter3_plane(uint8_t* plane, int64_t y1, int64_t y2, int64_t ya, int64_t yb,
                   const uint8_t* above_row, const uint8_t* below_row, RowRing& ring,
                   Filter3Loops loops) {
    const int64_t w = ring.width();
    auto row = [&](int64_t y) { return plane + (y2 - y) * w; };
    auto source = [&](int64_t y) {
        return y > yb ? above_row : y < ya ? below_row : row(y);
    };
    const int64_t top = std::min(yb + 1, y2), bottom = std::max(ya - 1, y1);
    ring.vacate_all();
    for (int64_t y = top; y >= bottom; --y) {
        int16_t* s = ring.take(y);
        if (!s) return false;
        if (y + 1 > yb) {
            loops.load(source(y), s, s + w, w);
            continue;
        }
        const int16_t* above = ring.find(std::min(y + 2, y2));  // e of the row above y+1
        const int16_t* centre = above ? ring.find(y + 1) : nullptr;
        if (!centre) return false;
        loops.load_row(source(y), s, s + w, above, centre + w, row(y + 1), w);
        if (y + 2 <= top) ring.vacate(y + 2);
    }
    if (ya > y1) return true;
    const int16_t* a = ring.find(y1 + 1);
    const int16_t* c = a ? ring.find(y1) : nullptr;
    if (!c) return false;
    loops.row(a, c + w, c, row(y1), w);  // row y1 is its own row below
    return true;
}

bool flicker_plane(uint8_t* plane, int64_t y1, int64_t y2, RowRing& ring, FlickerLoops loops) {
    const int64_t w = ring.width();
    auto row = [&](int64_t y) { return plane + (y2 - y) * w; };
    // Finds the slots of rows y+2 ... y+2-n (cut to the plane) for output row y.
    const int16_t* rows[5];
    auto around = [&](int64_t y, int n) {
        for (int i = 0; i < n; ++i)
            if (!(rows[i] = ring.find(std::clamp(y + 2 - i, y1, y2)))) return false;
        return true;
    };
    ring.vacate_all();
    for (int64_t y = y2; y >= y1; --y) {
        int16_t* s = ring.take(y);
        if (!s) return false;
        if (y + 2 > y2) {
            loops.load(row(y), s, nullptr, w);
            continue;
        }
        if (!around(y + 2, 4)) return false;
        loops.load_row(row(y), s, rows, row(y + 2), w);
        if (y + 4 <= y2) ring.vacate(y + 4);
    }
    for (int64_t y : {y1 + 1, y1}) {
        if (!around(y, 5)) return false;
        loops.row(rows, row(y), w);
    }
    return true;
}

}  // namespace

int filter3_kernel(const char* key) {
    for (int i = 0; i < kFilter3Kernels; ++i)
        if (same_word(key, kKernels[i].key)) return i;
    return -1;
}

const int8_t* filter3_coefficients(int kernel) { return kKernels[kernel].k; }

int filter3_divisor(int kernel) { return divisor_of(kernel); }

void filter_allow_wide_vectors(bool allow) { wide_vectors.allowed = allow; }

int filter3_buffer(const char* name, int mask, int kernel) {
    ImageBuffer* b = find_buffer(name);
    if (!b) {
        std::fprintf(stderr, "WARNING : Can't find buff (name=%s)\n", name);
        return 0;
    }
    if (too_few_rows(*b, 4)) return 0;
    // Each pixel reads its left and right neighbours.
    if (b->width < 3) {
        std::fprintf(stderr, "WARNING : Too small x resolution (xleft=%d xright=%d name=%s)\n",
                     b->window.x1, b->window.x2, name);
        return 0;
    }
    if (kernel < 0 || kernel >= kFilter3Kernels) kernel = kHi;
    const int64_t y1 = b->window.y1, y2 = y1 + b->height - 1, w = b->width;
    // Ranges of rows, counted from the top row: range k writes rows
    // y2 - begin ... y2 - end + 1, and keeps copies of the rows just outside it.
    const int64_t pieces = parallel_pieces(b->height, rows_for_bytes(w, 256 * 1024));
    std::vector<RowRing> rings;
    rings.reserve(size_t(pieces));
    for (int64_t k = 0; k < pieces; ++k)
        rings.emplace_back(3, 2, b->width, "ERROR : Can't alloc filter3 inside buffer\n");
    std::vector<uint8_t> edges(size_t(pieces > 1 ? 2 * pieces * w : 0));
    const Filter3Loops loops = filter3_loops(kernel);
    for (int p = 0; p < b->components; ++p) {
        if (!(mask & (1 << p))) continue;
        uint8_t* plane = b->plane[p];
        auto range_of = [&](int64_t k) {
            return std::pair<int64_t, int64_t>{y2 - b->height * (k + 1) / pieces + 1,
                                               y2 - b->height * k / pieces};
        };
        auto edge = [&](int64_t k, int side) { return edges.data() + (2 * k + side) * w; };
        for (int64_t k = 0; k < pieces && pieces > 1; ++k) {
            const auto [ya, yb] = range_of(k);
            if (yb < y2) std::memcpy(edge(k, 0), plane + (y2 - yb - 1) * w, size_t(w));
            if (ya > y1) std::memcpy(edge(k, 1), plane + (y2 - ya + 1) * w, size_t(w));
        }
        std::atomic<bool> ok{true};
        parallel_pieces_for(b->height, pieces, [&](int64_t k, int64_t, int64_t) {
            const auto [ya, yb] = range_of(k);
            const uint8_t* above = pieces > 1 ? edge(k, 0) : nullptr;
            const uint8_t* below = pieces > 1 ? edge(k, 1) : nullptr;
            if (!filter3_plane(plane, y1, y2, ya, yb, above, below, rings[size_t(k)], loops))
                ok = false;
        });
        if (!ok) return 0;
    }
    return 1;
}

int antiflicker_buffer(const char* name) {
    ImageBuffer* b = find_buffer(name);
    if (!b) {
        std::fprintf(stderr, "WARNING : Can't find buff (name=%s)\n", name);
        return 0;
    }
    if (too_few_rows(*b, 5)) return 0;
    const int64_t y1 = b->window.y1, y2 = y1 + b->height - 1;
    RowRing ring(5, 1, b->width, "ERROR : Can't alloc anti flicker inside buffer\n");
    const FlickerLoops loops = flicker_loops();
    for (int p = 0; p < b->components; ++p)
        if (!flicker_plane(b->plane[p], y1, y2, ring, loops)) return 0;
    return 1;
}

// ---- commands --------------------------------------------------------------------

namespace {

void filter3_help(const char* word, int mode) {
    if (mode != 1) return print_summary(word, "3x3 filter effect");
    std::fprintf(stderr, "Usage : %s [-options] BuffName\n", word);
    static const char* const lines[] = {
        "[options]\n",
        " -f key : filter pattern set\n",
        "    key :   hi : high-pass filter, edge enhancing ( discrete laplacian filter )\n",
        "           hi2 : high-pass filter, little large radius than \"hi\"\n",
        "           hi3 : high-pass filter, much smoother than \"hi2\"\n",
        "           lap : high-pass filter, edge enhancing ( laplacian filter )\n",
        "           low : low-pass filter\n",
        "          low2 : low-pass filter, milder than \"low\"\n",
        "          low3 : low-pass filter, milder than \"low2\"\n",
        "          lowv : low-pass filter for captured video image\n",
        " -rgba : filter red, green, blue, alpha plane\n",
        " -rgb : filter red, green blue plane\n",
        " -r : filter   red plane\n",
        " -g : filter green plane\n",
        " -b : filter  blue plane\n",
        " -a : filter alpha plane\n",
        " -x n : n-Times filter effect\n",
        "[Default]\n",
        " -f hi\n",
        " -rgba\n",
        " -x 1\n",
    };
    for (const char* l : lines) std::fputs(l, stderr);
}

void antiflicker_help(const char* word, int mode) {
    if (mode != 1) return print_summary(word, "antiFlicker effect");
    std::fprintf(stderr, "Usage : %s buffName\n", word);
}

}  // namespace

int cmd_filter3(int argc, char** argv) {
    if (answer_help(argc, argv, filter3_help)) return 1;
    int mask = 15, n = 1, kernel = kHi;
    const char* name = nullptr;
    for (int i = 1; i < argc; ++i) {
        const char* w = argv[i];
        int m = plane_mask_word(w);
        if (m >= 0) {
            mask = m;
        } else if (same_word(w, "-x")) {
            if (!need_args(argc, argv, i, 1, filter3_help)) return 0;
            n = to_int(argv[++i]);
            if (n < 1) return command_error("negative or zero -x value", argv[0], filter3_help);
        } else if (same_word(w, "-f")) {
            if (!need_args(argc, argv, i, 1, filter3_help)) return 0;
            kernel = filter3_kernel(argv[++i]);
            if (kernel < 0) return command_error("unknown filter type", argv[0], filter3_help);
        } else {
            if (name) return command_error("Invalid argment", argv[0], filter3_help);
            name = w;
        }
    }
    if (!name) return command_error("You must define buff name", argv[0], filter3_help);
    for (int j = 0; j < n; ++j)
        if (!filter3_buffer(name, mask, kernel)) return 0;
    return 1;
}

int cmd_antiflicker(int argc, char** argv) {
    if (answer_help(argc, argv, antiflicker_help)) return 1;
    if (argc != 2)
        return command_error("You must define in buff name", argv[0], antiflicker_help);
    return antiflicker_buffer(argv[1]);
}
