// MIP-MAP and SUPER-MIP-MAP files: the bilinear pre-mipmap, halving, and the
// level records.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

#include "kqtowf/kqtowf.h"
#include "parallel/parallel.h"

namespace {

[[noreturn]] void fail_level(const char* format, int level) {
    std::fprintf(stderr, format, level);
    error_exit();
}

[[noreturn]] void fail(const char* message) {
    std::fputs(message, stderr);
    error_exit();
}

uint8_t* alloc_bytes(int64_t n, const char* message, int level) {
    auto* p = static_cast<uint8_t*>(alloc_work(n));
    if (!p) fail_level(message, level);
    return p;
}

void free_level(WF_LEVEL* lv) {
    if (!lv) return;
    for (int p = 0; p < 4; ++p) {
        free_pages(lv->plane[p]);
        free_pages(lv->u[p]);
        free_pages(lv->v[p]);
    }
    std::free(lv);
}

struct LevelFree {
    void operator()(WF_LEVEL* lv) const { free_level(lv); }
};
using LevelPtr = std::unique_ptr<WF_LEVEL, LevelFree>;

// A level with its squares (unless `squares` is false: the caller supplies them) and,
// when uv_edge > 0, U and V arrays of edge x uv_edge.
LevelPtr alloc_level(int level, int planes, int uv_edge, bool squares = true) {
    if (level <= 0) fail_level("ERROR : Invalid mipmap level request (level=%d)\n", level);
    LevelPtr lv(static_cast<WF_LEVEL*>(std::calloc(1, sizeof(WF_LEVEL))));
    if (!lv) fail_level("ERROR : Can't alloc mipmap middle data (level=%d)\n", level);
    lv->level = level;
    lv->edge = wf_level_size(level);
    const int64_t e = lv->edge;
    for (int p = 0; squares && p < planes; ++p)
        lv->plane[p] = alloc_bytes(e * e, "ERROR : Can't alloc mipmap value array (level=%d)\n",
                                   level);
    if (uv_edge > 0) {
        for (int p = 0; p < planes; ++p)
            lv->u[p] = alloc_bytes(e * uv_edge,
                                   "ERROR : Can't alloc mipmap U value array (level=%d)\n", level);
        for (int p = 0; p < planes; ++p)
            lv->v[p] = alloc_bytes(e * uv_edge,
                                   "ERROR : Can't alloc mipmap V value array (level=%d)\n", level);
    }
    return lv;
}

inline uint8_t clamp_sample(float v) {
    if (!(v >= 0)) return 0;  // NaN too
    if (v > 255) return 255;
    return static_cast<uint8_t>(static_cast<int>(v));
}

// Planes a level has left behind, kept for the next levels made with threads (each
// is smaller than the one before), so that later levels take no fresh memory.
struct SparePlanes {
    uint8_t* plane[4] = {};
    int64_t bytes[4] = {};
    SparePlanes() = default;
    SparePlanes(const SparePlanes&) = delete;
    SparePlanes& operator=(const SparePlanes&) = delete;
    ~SparePlanes() {
        for (uint8_t* p : plane) free_pages(p);
    }
    // A block of at least n bytes for plane p: the spare one, else a new one.
    uint8_t* take(int p, int64_t n) {
        if (plane[p] && bytes[p] >= n) return std::exchange(plane[p], nullptr);
        return static_cast<uint8_t*>(alloc_work(n));
    }
    void keep(int p, uint8_t* block, int64_t n) {
        free_pages(std::exchange(plane[p], block));
        bytes[p] = n;
    }
};

// The next smaller level of `parent`; U and V arrays when `super` (from the
// parent's square when it is the root, of edge root_edge).
LevelPtr halve(WF_LEVEL* parent, int planes, bool super, int root_level, bool silent,
               SparePlanes& spare) {
    const int level = parent->level - 1;
    if (!silent) {
        const int e = wf_level_size(level);
        std::fprintf(stderr, "next MIP-MAP level %d (%d,%d) ... ", level, e, e);
    }
    const int root_edge = wf_level_size(root_level);
    // The child's squares are made in place over the parent's (each output row lies
    // at or before the parent rows it reads); U and V come first, from the parent.
    LevelPtr child = alloc_level(level, planes, super ? root_edge : 0, false);
    const int e = child->edge;
    for (int p = 0; p < planes; ++p) {
        if (super) {
            const bool from_root = parent->level == root_level;
            halve_across(from_root ? parent->plane[p] : parent->u[p], root_edge, e, child->u[p]);
            halve_down(from_root ? parent->plane[p] : parent->v[p], e, root_edge, child->v[p]);
        }
        // With threads the level goes to a plane of its own (rows halved in place
        // must follow one another); without, or without the memory, in place.
        uint8_t* own = thread_count() > 1 ? spare.take(p, int64_t(e) * e) : nullptr;
        if (own) {
            halve_square(parent->plane[p], e, own);
            child->plane[p] = own;
            const int64_t parent_edge = parent->edge;
            spare.keep(p, std::exchange(parent->plane[p], nullptr), parent_edge * parent_edge);
            continue;
        }
        child->plane[p] = parent->plane[p];
        parent->plane[p] = nullptr;
        halve_square(child->plane[p], e, child->plane[p]);
    }
    if (!silent) std::fputs("finish\n", stderr);
    return child;
}

}  // namespace

int pre_mipmap_level(int64_t len) {
    for (int level = 1; level <= WF_MAX_LEVEL; ++level)
        if (wf_level_size(level) >= len) return level;
    return 0;
}

void resample_plane_plain(const uint8_t* src, int width, int height, int edge, uint8_t* dst) {
    const float sx = static_cast<float>(width) / static_cast<float>(edge);
    const float sy = static_cast<float>(height) / static_cast<float>(edge);
    for (int i = 0; i < edge; ++i) {
        for (int j = 0; j < edge; ++j) {
            const float x = static_cast<float>(j) * sx, y = static_cast<float>(i) * sy;
            const int x0 = static_cast<int>(x), y0 = static_cast<int>(y);
            const float fx = x - static_cast<float>(x0), fy = y - static_cast<float>(y0);
            const int right = x0 < width - 1 ? x0 + 1 : x0;
            const int upper = y0 < height - 1 ? y0 + 1 : y0;
            auto p = [&](int col, int row) {
                return static_cast<float>(src[static_cast<int64_t>(row) * width + col]);
            };
            const float v = (1 - fx) * (1 - fy) * p(x0, y0) + fx * (1 - fy) * p(right, y0) +
                            (1 - fx) * fy * p(x0, upper) + fx * fy * p(right, upper);
            dst[static_cast<int64_t>(i) * edge + j] = clamp_sample(v);
        }
    }
}

void resample_planes(const uint8_t* const src[], int n, int width, int height, int edge,
                     uint8_t* const dst[], bool dots) {
    const float sx = static_cast<float>(width) / static_cast<float>(edge);
    const float sy = static_cast<float>(height) / static_cast<float>(edge);
    // Column positions and weights are the same for every row.
    std::vector<int> x0(static_cast<size_t>(edge)), xr(static_cast<size_t>(edge));
    std::vector<float> fx(static_cast<size_t>(edge)), gx(static_cast<size_t>(edge));
    for (int j = 0; j < edge; ++j) {
        const float x = static_cast<float>(j) * sx;
        x0[j] = static_cast<int>(x);
        fx[j] = x - static_cast<float>(x0[j]);
        gx[j] = 1 - fx[j];
        xr[j] = x0[j] < width - 1 ? x0[j] + 1 : x0[j];
    }
    // A window of exactly edge x edge samples every pixel at its own place with
    // zero fractions, so each output pixel is its source pixel.
    const bool identity = width == edge && height == edge;
    parallel_for(edge, rows_for_bytes(int64_t(edge) * n * 4), [&](int64_t i0, int64_t i1) {
        for (int i = int(i0); i < int(i1); ++i) {
            const float y = static_cast<float>(i) * sy;
            const int y0 = static_cast<int>(y);
            const float fy = y - static_cast<float>(y0), gy = 1 - fy;
            const int yu = y0 < height - 1 ? y0 + 1 : y0;
            for (int p = 0; p < n; ++p) {
                uint8_t* out = dst[p] + static_cast<int64_t>(i) * edge;
                if (identity) {
                    std::memcpy(out, src[p] + static_cast<int64_t>(i) * width, static_cast<size_t>(edge));
                    continue;
                }
                const uint8_t* lo = src[p] + static_cast<int64_t>(y0) * width;
                const uint8_t* hi = src[p] + static_cast<int64_t>(yu) * width;
                for (int j = 0; j < edge; ++j) {
                    const float v = gx[j] * gy * static_cast<float>(lo[x0[j]]) +
                                    fx[j] * gy * static_cast<float>(lo[xr[j]]) +
                                    gx[j] * fy * static_cast<float>(hi[x0[j]]) +
                                    fx[j] * fy * static_cast<float>(hi[xr[j]]);
                    out[j] = clamp_sample(v);
                }
            }
        }
    });
    // A dot for every tenth row, printed once the rows are made.
    for (int i = 0; dots && i < edge; ++i) {
        if ((i + 1) % 10 == 0) {
            if ((i + 1) % 800 == 0) std::fputc('\n', stderr);
            std::fputc('.', stderr);
            std::fflush(stderr);
        }
    }
}

// Averages are the integer part of the mean plus 0.5: (sum + 2) >> 2 for four
// samples and (sum + 1) >> 1 for two give the same integers exactly.
void halve_square_plain(const uint8_t* src, int e, uint8_t* dst) {
    const int64_t w = 2 * int64_t(e);
    for (int64_t i = 0; i < e; ++i)
        for (int64_t j = 0; j < e; ++j) {
            const int sum = src[2 * i * w + 2 * j] + src[2 * i * w + 2 * j + 1] +
                            src[(2 * i + 1) * w + 2 * j] + src[(2 * i + 1) * w + 2 * j + 1];
            dst[i * e + j] = static_cast<uint8_t>(static_cast<int>(sum * 0.25 + 0.5));
        }
}

namespace {

// Output rows i0 .. i1 - 1 of halve_square. The same loop is compiled for the
// baseline instruction set and for AVX2 (chosen once at run time); both give the
// same integers.
[[gnu::always_inline]] inline void halve_rows_body(const uint8_t* src, int64_t e, uint8_t* dst,
                                                   int64_t i0, int64_t i1) {
    const int64_t w = 2 * e;
    for (int64_t i = i0; i < i1; ++i) {
        const uint8_t* a = src + 2 * i * w;
        const uint8_t* b = a + w;
        uint8_t* o = dst + i * e;
        for (int64_t j = 0; j < e; ++j)
            o[j] = static_cast<uint8_t>((a[2 * j] + a[2 * j + 1] + b[2 * j] + b[2 * j + 1] + 2) >> 2);
    }
}

void halve_rows_base(const uint8_t* src, int64_t e, uint8_t* dst, int64_t i0, int64_t i1) {
    halve_rows_body(src, e, dst, i0, i1);
}

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
[[gnu::target("avx2")]] void halve_rows_avx2(const uint8_t* src, int64_t e, uint8_t* dst,
                                             int64_t i0, int64_t i1) {
    halve_rows_body(src, e, dst, i0, i1);
}
#endif

void halve_rows(const uint8_t* src, int64_t e, uint8_t* dst, int64_t i0, int64_t i1) {
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
    static const bool avx2 = __builtin_cpu_supports("avx2");
    if (avx2) return halve_rows_avx2(src, e, dst, i0, i1);
#endif
    halve_rows_base(src, e, dst, i0, i1);
}

}  // namespace

void halve_square(const uint8_t* src, int e, uint8_t* dst) {
    // In place, each output row overwrites input rows that earlier output rows have
    // read: one range, in order.
    const int64_t grain = src == dst ? kOneRange : rows_for_bytes(4 * int64_t(e));
    parallel_for(e, grain, [&](int64_t i0, int64_t i1) { halve_rows(src, e, dst, i0, i1); });
}

void halve_across_plain(const uint8_t* src, int rows, int e, uint8_t* dst) {
    for (int64_t i = 0; i < rows; ++i)
        for (int64_t j = 0; j < e; ++j) {
            const int sum = src[i * 2 * e + 2 * j] + src[i * 2 * e + 2 * j + 1];
            dst[i * e + j] = static_cast<uint8_t>(static_cast<int>(sum * 0.5 + 0.5));
        }
}

void halve_across(const uint8_t* src, int rows, int e, uint8_t* dst) {
    parallel_for(rows, rows_for_bytes(2 * int64_t(e)), [&](int64_t i0, int64_t i1) {
        for (int64_t i = i0; i < i1; ++i) {
            const uint8_t* a = src + i * 2 * e;
            uint8_t* o = dst + i * e;
            for (int64_t j = 0; j < e; ++j) o[j] = static_cast<uint8_t>((a[2 * j] + a[2 * j + 1] + 1) >> 1);
        }
    });
}

void halve_down_plain(const uint8_t* src, int e, int cols, uint8_t* dst) {
    for (int64_t i = 0; i < e; ++i)
        for (int64_t j = 0; j < cols; ++j) {
            const int sum = src[2 * i * cols + j] + src[(2 * i + 1) * cols + j];
            dst[i * cols + j] = static_cast<uint8_t>(static_cast<int>(sum * 0.5 + 0.5));
        }
}

void halve_down(const uint8_t* src, int e, int cols, uint8_t* dst) {
    parallel_for(e, rows_for_bytes(2 * int64_t(cols)), [&](int64_t i0, int64_t i1) {
        for (int64_t i = i0; i < i1; ++i) {
            const uint8_t* a = src + 2 * i * cols;
            const uint8_t* b = a + cols;
            uint8_t* o = dst + i * cols;
            for (int64_t j = 0; j < cols; ++j) o[j] = static_cast<uint8_t>((a[j] + b[j] + 1) >> 1);
        }
    });
}

void build_mipmap(const ConvertSettings& s, SourcePlanes& src) {
    const bool super = s.map_kind == WF_SUPER_MIPMAP;
    const bool silent = s.silent;
    const int planes = src.count;
    if (!silent) std::fputs(super ? "SUPER MIP-MAP mode\n" : "MIP-MAP mode\n", stderr);
    const int64_t len = std::max(src.width, src.height);
    const int pre = pre_mipmap_level(len);
    if (pre == 0) {
        std::fprintf(stderr, "ERROR : Can't calculate miplevel (len=%d)\n", static_cast<int>(len));
        error_exit();
    }
    const int wanted = s.mip_level == 0 ? pre : s.mip_level;
    const int edge = wf_level_size(pre);
    if (!silent) {
        std::fprintf(stderr, "adjust pre mipmap level %d\n", pre);
        std::fprintf(stderr, "pre mipmap size (%d,%d) level %d : source size (%d,%d)\n", edge,
                     edge, pre, src.width, src.height);
    }
    // A window of exactly edge x edge resamples to itself (every sample falls on a
    // pixel with zero fractions): its planes become the pre-mipmap as they are.
    const bool identity = src.width == edge && src.height == edge;
    LevelPtr current = alloc_level(pre, planes, 0, !identity);
    if (!silent) std::fputs("pre MIP-MAP generate\n", stderr);
    if (identity) {
        for (int p = 0; p < planes; ++p) current->plane[p] = std::exchange(src.plane[p], nullptr);
        if (!silent) resample_planes(nullptr, 0, edge, edge, edge, nullptr, true);  // the dots
    } else {
        resample_planes(src.plane, planes, src.width, src.height, edge, current->plane, !silent);
        for (int p = 0; p < planes; ++p) free_pages(std::exchange(src.plane[p], nullptr));
    }
    if (!silent) std::fputs(" finish\n", stderr);

    SparePlanes spare;
    while (current->level != wanted) {
        current = halve(current.get(), planes, false, wanted, silent, spare);  // frees the parent
        if (current->level != wanted && current->level == 1)
            fail("ERROR : Can't setup root level mipmap table\n");
    }
    const int root = wanted;

    // Every level record must start where a seek entry can point.
    int64_t start = WF_HEADER_BYTES + 4 * int64_t(root);
    for (int level = root; level > 1; --level) start += wf_level_bytes(super, level, root, planes);
    check_addressable(start);

    const Owned<WF_HEADER> header_block(wf_alloc_header());
    WF_HEADER* header = header_block.get();
    if (!header) fail("ERROR : Can't alloc map header\n");
    header->map_kind = static_cast<uint8_t>(s.map_kind);
    header->tiling_type = 0;
    header->planes = static_cast<uint16_t>(planes);
    header->map_width = header->map_height = wf_level_size(root);
    header->org_x = src.x1;
    header->org_y = src.y1;
    header->src_width = src.width;
    header->src_height = src.height;
    header->root_level = root;
    header->tiles_x = header->tiles_y = header->tile_width = header->tile_height = 0;
    wf_overwrite_mode = s.force ? 0 : 1;
    FILE* fp = wf_open(s.out_name.c_str(), "w");
    if (!fp) {
        std::fprintf(stderr, "ERROR : Can't create %s\n", s.out_name.c_str());
        error_exit();
    }
    if (!wf_write_header(header, fp)) fail("ERROR : Can't write header\n");
    std::vector<int32_t> offsets(static_cast<size_t>(root), 0);
    const long seek_at = WF_HEADER_BYTES;
    if (!wf_write_level_seeks(header, offsets.data(), fp))
        fail("ERROR : Can't write seek block\n");
    int64_t at = WF_HEADER_BYTES + 4 * int64_t(root);  // where the next record starts
    for (int i = 0;; ++i) {
        offsets[static_cast<size_t>(i)] = static_cast<int32_t>(at);  // checked above
        at += wf_level_bytes(super, current->level, root, planes);
        if (!wf_write_level(super, header, current.get(), fp))
            fail("ERROR : Can't write mip map data\n");
        if (current->level == 1) break;
        current = halve(current.get(), planes, super, root, silent, spare);
    }
    current.reset();
    if (std::fseek(fp, seek_at, SEEK_SET) != 0)
        fail("ERROR : Can't seek to seek data block\n");
    if (!wf_write_level_seeks(header, offsets.data(), fp))
        fail("ERROR : Can't write seek block\n");
    if (!wf_close(fp, 1)) fail("ERROR : Can't write seek block\n");
}
