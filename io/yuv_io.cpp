// readyuv, writeyuv and writedump: raw video frames and plane dumps. Rows move in
// runs of many rows per transfer, converted between the file's interleaved bytes
// and the buffer's planes one row at a time.
#include "io/yuv_io.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include "buffer/image_buffer.h"
#include "interp/command.h"
#include "interp/commands.h"
#include "io/safe_output.h"

namespace {

constexpr size_t kMaxYuvName = 512;
constexpr int64_t kRunBytes = 256 * 1024;  // file bytes per transfer: stays in cache

// Rows per transfer for rows of `row_bytes`, at least one and at most `rows`.
int64_t run_rows(int64_t row_bytes, int64_t rows) {
    const int64_t per = row_bytes > 0 ? std::max<int64_t>(1, kRunBytes / row_bytes) : 1;
    return std::max<int64_t>(1, std::min(per, rows));
}

// A transfer buffer, or null when memory is short.
std::unique_ptr<uint8_t[]> try_alloc(int64_t bytes) {
    if (bytes < 0 || uint64_t(bytes) > SIZE_MAX / 2) return nullptr;
    return std::unique_ptr<uint8_t[]>(new (std::nothrow) uint8_t[std::max<int64_t>(bytes, 1)]);
}

// Unbuffered: each run goes straight to the file, so a failure is seen at its run.
bool write_all(std::FILE* f, const uint8_t* p, int64_t bytes, int64_t* written) {
    *written = bytes > 0 ? int64_t(std::fwrite(p, 1, size_t(bytes), f)) : 0;
    return *written == bytes;
}

// --- row conversions -----------------------------------------------------------------------

inline uint8_t clamp_sample(int32_t sum) {
    const int32_t v = sum >> 16;  // arithmetic: negative sums stay negative
    return static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v);
}

inline void yuv_to_rgb_body(const uint8_t* __restrict src, int64_t pairs, uint8_t* __restrict r,
                            uint8_t* __restrict g, uint8_t* __restrict b) {
    for (int64_t i = 0; i < pairs; ++i) {
        const int32_t cb = int32_t(src[4 * i]) - 128;
        const int32_t y0 = src[4 * i + 1];
        const int32_t cr = int32_t(src[4 * i + 2]) - 128;
        const int32_t y1 = src[4 * i + 3];
        const int32_t l0 = (y0 > 15 ? y0 - 16 : 0) * 76310;
        const int32_t l1 = (y1 > 15 ? y1 - 16 : 0) * 76310;
        const int32_t rc = 104635 * cr;
        const int32_t gc = -25690 * cb - 53294 * cr;
        const int32_t bc = 132278 * cb;
        r[2 * i] = clamp_sample(l0 + rc);
        r[2 * i + 1] = clamp_sample(l1 + rc);
        g[2 * i] = clamp_sample(l0 + gc);
        g[2 * i + 1] = clamp_sample(l1 + gc);
        b[2 * i] = clamp_sample(l0 + bc);
        b[2 * i + 1] = clamp_sample(l1 + bc);
    }
}

// Each output byte is the sum of its own terms plus the remainder the previous sum
// left. Carried that way, the integer part of sum k is exactly
// floor(P_k / 65536) - floor(P_(k-1) / 65536) for the running total P of the terms,
// so the row keeps running totals instead (modulo 2^32: the difference of the high
// halves is small, so the wrap cancels) and the term sums, which dominate the work,
// have no chain between pixels and vectorise.
constexpr int64_t kPairBlock = 128;

struct YuvCarry {
    uint32_t y = 0, u = 0, v = 0;  // running totals of the luma and chroma terms
    int32_t u1 = 0, v1 = 0;        // chroma terms of the previous pair's right pixel
};

// p[0] holds the total so far and p[1 ... m] the terms; each term becomes the
// running total up to it.
inline void running_totals(uint32_t* p, int64_t m) {
    for (int64_t k = 1; k <= m; ++k) p[k] += p[k - 1];
}
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define KQ_YUV_WIDE 1
// The same in eight lanes: a prefix sum within each half, the low half's total
// added to the high half, then the total carried in.
[[gnu::target("avx2")]] void running_totals_avx2(uint32_t* p, int64_t m) {
    __m256i carry = _mm256_set1_epi32(static_cast<int>(p[0]));
    const __m256i last = _mm256_set1_epi32(7);
    int64_t k = 1;
    for (; k + 7 <= m; k += 8) {
        __m256i x = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + k));
        x = _mm256_add_epi32(x, _mm256_slli_si256(x, 4));
        x = _mm256_add_epi32(x, _mm256_slli_si256(x, 8));
        const __m256i low_total = _mm256_shuffle_epi32(x, 0xFF);
        x = _mm256_add_epi32(x, _mm256_permute2x128_si256(low_total, low_total, 0x08));
        x = _mm256_add_epi32(x, carry);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(p + k), x);
        carry = _mm256_permutevar8x32_epi32(x, last);
    }
    for (; k <= m; ++k) p[k] += p[k - 1];
}
#endif

template <bool Wide>
inline void rgb_to_yuv_block(const uint8_t* __restrict r, const uint8_t* __restrict g,
                             const uint8_t* __restrict b, int64_t n, uint8_t* __restrict dst,
                             YuvCarry& c) {
    // Running totals, each array led by the total carried in.
    uint32_t ty[2 * kPairBlock + 1], tu[kPairBlock + 1], tv[kPairBlock + 1];
    int32_t u1[kPairBlock + 1], v1[kPairBlock + 1];
    ty[0] = c.y;
    tu[0] = c.u;
    tv[0] = c.v;
    u1[0] = c.u1;
    v1[0] = c.v1;
    for (int64_t j = 0; j < n; ++j) {
        const int32_t r0 = r[2 * j], g0 = g[2 * j], b0 = b[2 * j];
        const int32_t r1 = r[2 * j + 1], g1 = g[2 * j + 1], b1 = b[2 * j + 1];
        ty[2 * j + 1] = uint32_t(16829 * r0 + 33039 * g0 + 6416 * b0);
        ty[2 * j + 2] = uint32_t(16829 * r1 + 33039 * g1 + 6416 * b1);
        u1[j + 1] = -2426 * r1 - 4765 * g1 + 7191 * b1;
        v1[j + 1] = 7193 * r1 - 6023 * g1 - 1170 * b1;
        tu[j + 1] = uint32_t(-4853 * r0 - 9530 * g0 + 14383 * b0);
        tv[j + 1] = uint32_t(14386 * r0 - 12046 * g0 - 2340 * b0);
    }
    // 1-2-1: the left pixel's doubled weight is in its own coefficients; add the
    // right pixels of this pair and the previous one.
    for (int64_t j = 0; j < n; ++j) {
        tu[j + 1] += uint32_t(u1[j] + u1[j + 1]);
        tv[j + 1] += uint32_t(v1[j] + v1[j + 1]);
    }
    c.u1 = u1[n];
    c.v1 = v1[n];
#ifdef KQ_YUV_WIDE
    if constexpr (Wide) {
        running_totals_avx2(ty, 2 * n);
        running_totals_avx2(tu, n);
        running_totals_avx2(tv, n);
    } else
#endif
    {
        running_totals(ty, 2 * n);
        running_totals(tu, n);
        running_totals(tv, n);
    }
    for (int64_t j = 0; j < n; ++j) {
        dst[4 * j] = static_cast<uint8_t>((tu[j + 1] >> 16) - (tu[j] >> 16) + 128);
        dst[4 * j + 1] = static_cast<uint8_t>((ty[2 * j + 1] >> 16) - (ty[2 * j] >> 16) + 16);
        dst[4 * j + 2] = static_cast<uint8_t>((tv[j + 1] >> 16) - (tv[j] >> 16) + 128);
        dst[4 * j + 3] = static_cast<uint8_t>((ty[2 * j + 2] >> 16) - (ty[2 * j + 1] >> 16) + 16);
    }
    c.y = ty[2 * n];
    c.u = tu[n];
    c.v = tv[n];
}

template <bool Wide>
inline void rgb_to_yuv_body(const uint8_t* r, const uint8_t* g, const uint8_t* b, int64_t pairs,
                            uint8_t* dst) {
    YuvCarry c;
    for (int64_t i = 0; i < pairs; i += kPairBlock) {
        const int64_t n = std::min(kPairBlock, pairs - i);
        rgb_to_yuv_block<Wide>(r + 2 * i, g + 2 * i, b + 2 * i, n, dst + 4 * i, c);
    }
}

void yuv_to_rgb_base(const uint8_t* src, int64_t pairs, uint8_t* r, uint8_t* g, uint8_t* b) {
    yuv_to_rgb_body(src, pairs, r, g, b);
}
void rgb_to_yuv_base(const uint8_t* r, const uint8_t* g, const uint8_t* b, int64_t pairs,
                     uint8_t* dst) {
    rgb_to_yuv_body<false>(r, g, b, pairs, dst);
}
#ifdef KQ_YUV_WIDE
[[gnu::target("avx2"), gnu::flatten]] void yuv_to_rgb_avx2(const uint8_t* src, int64_t pairs,
                                                           uint8_t* r, uint8_t* g, uint8_t* b) {
    yuv_to_rgb_body(src, pairs, r, g, b);
}
[[gnu::target("avx2"), gnu::flatten]] void rgb_to_yuv_avx2(const uint8_t* r, const uint8_t* g,
                                                           const uint8_t* b, int64_t pairs,
                                                           uint8_t* dst) {
    rgb_to_yuv_body<true>(r, g, b, pairs, dst);
}
bool have_avx2() {
    static const bool yes = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx2") != 0;
    }();
    return yes;
}
#endif
bool g_allow_wide = true;  // yuv_allow_wide_vectors

bool use_wide() {
#ifdef KQ_YUV_WIDE
    return g_allow_wide && have_avx2();
#else
    return false;
#endif
}

}  // namespace

void yuv_allow_wide_vectors(bool allow) { g_allow_wide = allow; }

void yuv_to_rgb_row(const uint8_t* src, int64_t width, uint8_t* r, uint8_t* g, uint8_t* b) {
#ifdef KQ_YUV_WIDE
    if (use_wide()) return yuv_to_rgb_avx2(src, width / 2, r, g, b);
#endif
    yuv_to_rgb_base(src, width / 2, r, g, b);
}

void rgb_to_yuv_row(const uint8_t* r, const uint8_t* g, const uint8_t* b, int64_t width,
                    uint8_t* dst) {
#ifdef KQ_YUV_WIDE
    if (use_wide()) return rgb_to_yuv_avx2(r, g, b, width / 2, dst);
#endif
    rgb_to_yuv_base(r, g, b, width / 2, dst);
}

// --- readyuv ---------------------------------------------------------------------------------

int read_yuv(const char* file_name, const char* buff_name, int width, int height) {
    if (std::strlen(file_name) >= kMaxYuvName) {
        std::fprintf(stderr, "ERROR : too long yuv fileName %s (currentMax=%d)\n", file_name,
                     static_cast<int>(kMaxYuvName));
        return 0;
    }
    if (width % 2 != 0) {
        std::fprintf(stderr, "ERROR : You have to use even sizeX pixel count\n");
        std::fprintf(stderr, "        now define is %d Xpixel\n", width);
        return 0;
    }
    std::FILE* f = std::fopen(file_name, "rb");
    if (!f) {
        std::fprintf(stderr, "ERROR : Can't open yuv data %s\n", file_name);
        return 0;
    }
    const int64_t w = width, h = height;
    const int64_t row_bytes = 2 * w;
    const int64_t per_run = run_rows(row_bytes, h);
    // A negative size has no row to hold, like a row too large for memory.
    std::unique_ptr<uint8_t[]> run = w < 0 || h < 0 ? nullptr : try_alloc(per_run * row_bytes);
    if (!run) {
        std::fprintf(stderr, "ERROR : Can't alloc scanline buffer for yuv data\n");
        std::fclose(f);
        return 0;
    }
    // Every row is either converted or cleared below, so reused planes need no
    // clearing first.
    ImageBuffer* b = make_buffer(buff_name, 0, 0, width, height, 3, false);
    b->kqName = file_name;
    std::setvbuf(f, nullptr, _IONBF, 0);
    int64_t done = row_bytes == 0 ? h : 0;  // rows converted, from the top
    while (done < h) {
        const int64_t want = std::min(per_run, h - done);
        const int64_t got = int64_t(std::fread(run.get(), 1, size_t(want * row_bytes), f));
        const int64_t rows = got / row_bytes;
        for (int64_t j = 0; j < rows; ++j) {
            const int64_t at = (done + j) * w;
            yuv_to_rgb_row(run.get() + j * row_bytes, w, b->plane[0] + at, b->plane[1] + at,
                           b->plane[2] + at);
        }
        done += rows;
        if (rows < want) {
            std::fprintf(stderr, "WARNING : can't read yuv data (scanline #%d)\n",
                         static_cast<int>(h - 1 - done));
            break;
        }
    }
    for (int p = 0; p < 3; ++p)
        if (done < h) std::memset(b->plane[p] + done * w, 0, size_t((h - done) * w));
    std::fclose(f);
    return 1;
}

static void help_readyuv(const char* word, int mode) {
    if (mode != 1) return print_summary(word, "read YUV data");
    std::fprintf(stderr, "Usage : %s [-options] fileName buffName\n", word);
    static const char* const lines[] = {
        "[Options]\n",
        " -s x y : size\n",
        "[Default]\n",
        " -s 720 486 : D1 format ( A60 format )\n",
    };
    for (const char* l : lines) std::fputs(l, stderr);
}

// readyuv [-s x y] fileName buffName. Once the words are right the command counts
// as done: its refusals are messages, not execution errors.
int cmd_readyuv(int argc, char** argv) {
    if (answer_help(argc, argv, help_readyuv)) return 1;
    int width = 720, height = 486;
    const char* names[2] = {nullptr, nullptr};
    int count = 0;
    for (int i = 1; i < argc; ++i) {
        if (same_word(argv[i], "-s")) {
            if (!need_args(argc, argv, i, 2, help_readyuv)) return 0;
            width = to_int(argv[i + 1]);
            height = to_int(argv[i + 2]);
            i += 2;
        } else {
            if (count == 2) return command_error("Invalid argment", argv[0], help_readyuv);
            names[count++] = argv[i];
        }
    }
    if (count < 2)
        return command_error("You have to define fileName and buffName", argv[0], help_readyuv);
    read_yuv(names[0], names[1], width, height);
    return 1;
}

// --- writeyuv --------------------------------------------------------------------------------

int write_yuv(const char* buff_name, const char* file_name) {
    const ImageBuffer* b = find_buffer(buff_name);
    if (!b) {
        std::fprintf(stderr, "WARNING : Can't find buff (name=%s)\n", buff_name);
        return 0;
    }
    if (b->components < 3) {
        std::fprintf(stderr, "ERROR : Can't convert to yuv format\n");
        std::fprintf(stderr, "        %s is %d component\n", buff_name, b->components);
        std::fprintf(stderr, "        Could you change 3 or more plane data\n");
        return 0;
    }
    if (b->width % 2 != 0) {
        std::fprintf(stderr, "ERROR : Can't convert to yuv format\n");
        std::fprintf(stderr, "        %s size x is %d\n", buff_name, b->width);
        std::fprintf(stderr, "        Could you change even pixel size x\n");
        return 0;
    }
    SafeOutput out;
    std::FILE* f = out.open(file_name);
    if (!f) {
        std::fprintf(stderr, "ERROR : Can't create yuv data %s\n", file_name);
        return 0;
    }
    const int64_t w = b->width, h = b->height;
    const int64_t row_bytes = 2 * w;
    const int64_t per_run = run_rows(row_bytes, h);
    std::unique_ptr<uint8_t[]> run = try_alloc(per_run * row_bytes);
    if (!run) {
        std::fprintf(stderr, "ERROR : Can't alloc yuv scanline buffer (xsize=%d)\n", b->width);
        return 0;
    }
    std::setvbuf(f, nullptr, _IONBF, 0);
    for (int64_t i = 0; i < h; i += per_run) {
        const int64_t n = std::min(per_run, h - i);
        for (int64_t j = 0; j < n; ++j) {
            const int64_t at = (i + j) * w;
            rgb_to_yuv_row(b->plane[0] + at, b->plane[1] + at, b->plane[2] + at, w,
                           run.get() + j * row_bytes);
        }
        int64_t written = 0;
        if (!write_all(f, run.get(), n * row_bytes, &written)) {
            std::fprintf(stderr, "ERROR : Can't write yuv %s\n", file_name);
            return 0;
        }
    }
    if (!out.commit()) {
        std::fprintf(stderr, "ERROR : Can't write yuv %s\n", file_name);
        return 0;
    }
    return 1;
}

static void help_writeyuv(const char* word, int mode) {
    if (mode != 1) return print_summary(word, "write YUV data");
    std::fprintf(stderr, "Usage : %s buffName outName\n", word);
}

// writeyuv buffName outName.
int cmd_writeyuv(int argc, char** argv) {
    if (answer_help(argc, argv, help_writeyuv)) return 1;
    if (argc != 3) return command_error("Invalid argment count", argv[0], help_writeyuv);
    write_yuv(argv[1], argv[2]);
    return 1;
}

// --- writedump -------------------------------------------------------------------------------

namespace {

// Interleaves the n planes `rows` of one row into dst.
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

}  // namespace

int write_dump(const char* buff_name, const char* file_name, int mask) {
    const ImageBuffer* b = find_buffer(buff_name);
    if (!b) {
        std::fprintf(stderr, "WARNING : Can't find buff (name=%s)\n", buff_name);
        return 0;
    }
    char letters[5] = {};
    int planes[4] = {};
    int n = 0;
    for (int p = 0; p < 4; ++p) {
        if (mask & (1 << p)) {
            letters[n] = "rgba"[p];
            planes[n++] = p;
        }
    }
    const bool refused = (b->components == 1 && mask != 1) ||
                         (b->components == 3 && (mask & 8) != 0);
    if (refused) {
        if (b->components == 1)
            std::fprintf(stderr, "WARNING : This buffer only has r component (buff:%s)\n",
                         buff_name);
        else
            std::fprintf(stderr, "WARNING : This buffer has rgb component (buff:%s)\n", buff_name);
        std::fprintf(stderr, "          Can't write %s color component data\n", letters);
        return 0;
    }
    SafeOutput out;
    std::FILE* f = out.open(file_name);
    if (!f) {
        std::fprintf(stderr, "WARNING : Can't create %s\n", file_name);
        return 0;
    }
    const int64_t w = b->width, h = b->height;
    const int64_t row_bytes = n * w;
    const int64_t per_run = run_rows(row_bytes, h);
    std::unique_ptr<uint8_t[]> run = try_alloc(per_run * row_bytes);
    if (!run) {
        std::fprintf(stderr, "ERROR : Can't alloc one scanline buffer (xsize=%d)\n", b->width);
        return 0;
    }
    std::setvbuf(f, nullptr, _IONBF, 0);
    const uint8_t* rows[4] = {};
    for (int64_t i = 0; i < h; i += per_run) {
        const int64_t k = std::min(per_run, h - i);
        for (int64_t j = 0; j < k; ++j) {
            for (int q = 0; q < n; ++q) rows[q] = b->plane[planes[q]] + (i + j) * w;
            interleave_row(rows, n, w, run.get() + j * row_bytes);
        }
        int64_t written = 0;
        if (!write_all(f, run.get(), k * row_bytes, &written)) {
            const int64_t y = int64_t(b->window.y2) - (i + written / std::max<int64_t>(row_bytes, 1));
            std::fprintf(stderr, "ERROR : Can't output scanline data (outname:%s y=%d)\n",
                         file_name, static_cast<int>(y));
            return 0;
        }
    }
    if (!out.commit()) {
        std::fprintf(stderr, "ERROR : Can't output scanline data (outname:%s y=%d)\n", file_name,
                     static_cast<int>(b->window.y1));
        return 0;
    }
    return 1;
}

namespace {

void help_writedump(const char* word, int mode) {
    if (mode != 1) return print_summary(word, "write dump data");
    std::fprintf(stderr, "Usage : %s [-options] buffName outName\n", word);
    static const char* const lines[] = {
        "[Options]\n",
        " -r    : r plane output mode\n",
        " -g    : g plane output mode\n",
        " -b    : b plane output mode\n",
        " -a    : a plane output mode\n",
        " -rgb  : rgb 3 planes output mode\n",
        " -rgba : rgba 4 planes output mode\n",
        "[Default]\n",
        " -rgba\n",
    };
    for (const char* l : lines) std::fputs(l, stderr);
}

}  // namespace

// writedump [-r|-g|-b|-a|-rgb|-rgba] buffName outName; the last plane option counts.
int cmd_writedump(int argc, char** argv) {
    if (answer_help(argc, argv, help_writedump)) return 1;
    int mask = 15;
    const char* names[2] = {nullptr, nullptr};
    int count = 0;
    for (int i = 1; i < argc; ++i) {
        const int m = plane_mask_word(argv[i]);
        if (m >= 0) {
            mask = m;
        } else {
            if (count == 2) return command_error("Invalid argment", argv[0], help_writedump);
            names[count++] = argv[i];
        }
    }
    if (count < 2)
        return command_error("You have to define buffName and outName", argv[0], help_writedump);
    write_dump(names[0], names[1], mask);
    return 1;
}
