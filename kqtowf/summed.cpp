// SUMMED-AREA files: tiles of 32-bit summed-area values over the window with a
// border column and row, written through libwf.
#include <algorithm>
#include <climits>
#include <cstdlib>
#include <string>
#include <vector>

#if defined(__GNUC__) && defined(__x86_64__)
#include <immintrin.h>
#endif

#include "kqtowf/kqtowf.h"
#include "parallel/parallel.h"

namespace {

[[noreturn]] void fail(const char* message) {
    std::fputs(message, stderr);
    error_exit();
}

[[noreturn]] void fail_now(const char* message) {
    std::fputs(message, stderr);
    exit_program(1);
}

// One row segment of n window samples: acc runs along the row, run[k] gains it,
// out[k] takes the new S. Returns acc at the segment's end.
uint32_t sum_segment(const uint8_t* in, int64_t n, uint32_t acc, uint32_t* run, uint32_t* out) {
    for (int64_t k = 0; k < n; ++k) {
        acc += in[k];
        run[k] += acc;
        out[k] = run[k];
    }
    return acc;
}

#if defined(__GNUC__) && defined(__x86_64__)
#define KQTOWF_AVX2 1
// The same eight samples at a time: an in-register prefix sum of the widened
// samples plus the carried row sum (all lanes modulo 2^32, as the scalar loop).
__attribute__((target("avx2"))) uint32_t sum_segment_avx2(const uint8_t* in, int64_t n,
                                                          uint32_t acc, uint32_t* run,
                                                          uint32_t* out) {
    __m256i carry = _mm256_set1_epi32(static_cast<int>(acc));
    const __m256i last = _mm256_set1_epi32(7);
    int64_t k = 0;
    for (; k + 8 <= n; k += 8) {
        __m256i v = _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(in + k)));
        v = _mm256_add_epi32(v, _mm256_slli_si256(v, 4));
        v = _mm256_add_epi32(v, _mm256_slli_si256(v, 8));
        const __m256i low_total = _mm256_shuffle_epi32(v, 0xFF);
        v = _mm256_add_epi32(v, _mm256_permute2x128_si256(low_total, low_total, 0x08));
        v = _mm256_add_epi32(v, carry);
        carry = _mm256_permutevar8x32_epi32(v, last);
        __m256i* r = reinterpret_cast<__m256i*>(run + k);
        const __m256i sum = _mm256_add_epi32(_mm256_loadu_si256(r), v);
        _mm256_storeu_si256(r, sum);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + k), sum);
    }
    acc = static_cast<uint32_t>(_mm256_cvtsi256_si32(carry));
    return sum_segment(in + k, n - k, acc, run + k, out + k);
}

bool has_avx2() {
    static const bool yes = __builtin_cpu_supports("avx2");
    return yes;
}
#endif

}  // namespace

std::string size_text(int64_t bytes) {
    char text[64];
    if (bytes < 1024)
        std::snprintf(text, sizeof text, "%lld byte", static_cast<long long>(bytes));
    else if (bytes >= 1048576)
        std::snprintf(text, sizeof text, "%7.2f Mbyte", static_cast<double>(bytes) / 1048576);
    else
        std::snprintf(text, sizeof text, "%7.2f Kbyte", static_cast<double>(bytes) / 1024);
    return text;
}

void check_addressable(int64_t last_record_start) {
#ifdef KQ_FUZZ_CAPS
    // The fuzz build writes no more than a few megabytes per file.
    if (last_record_start > (int64_t(1) << 22)) last_record_start = -1;
#endif
    if (last_record_start >= 0 && last_record_start <= INT32_MAX) return;
    std::fputs("ERROR : Too large map data (seek address beyond 2 Gbyte)\n", stderr);
    error_exit();
}

int64_t tile_count(int64_t side, int64_t tile) { return (side + tile - 1) / tile; }

bool SummedAreaTiler::init(const SourcePlanes& src, int tile_w, int tile_h, int tiling) {
    src_ = &src;
    tw_ = tile_w;
    th_ = tile_h;
    tiling_ = tiling;
    across = tile_count(int64_t(src.width) + 2, tile_w);
    down = tile_count(int64_t(src.height) + 2, tile_h);
    row_width_ = across * tile_w;
    col_ = row_ = 0;
    const size_t planes = static_cast<size_t>(src.count);
    running_ = static_cast<uint32_t*>(alloc_work(int64_t(planes) * row_width_ * 4, true));
    carry_ = static_cast<uint32_t*>(alloc_work(int64_t(planes) * tile_h * 4, true));
    return running_ && carry_;
}

SummedAreaTiler::~SummedAreaTiler() {
    free_pages(running_);
    free_pages(carry_);
}

// S(X, Y) = S(X, Y - 1) + (sum of v over row Y up to X). All sums are taken modulo
// 2^32, where this equals the recurrence v + S(X-1, Y) + S(X, Y-1) - S(X-1, Y-1)
// term for term. `carry_` keeps, per tile row, the row sum left of the tile.
void SummedAreaTiler::next(WF_TILE& tile) { next_tiles(&tile, 1); }

void SummedAreaTiler::next_tiles(WF_TILE* tiles, int64_t n) {
    const SourcePlanes& s = *src_;
    for (int64_t k = 0; k < n; ++k) {
        WF_TILE& tile = tiles[k];
        tile.org_x = static_cast<int32_t>((col_ + k) * tw_ + s.x1);
        tile.org_y = static_cast<int32_t>(row_ * th_ + s.y1);
        tile.width = tw_;
        tile.height = th_;
        tile.planes = s.count;
    }
    // Each plane has its own running sums and carries: one plane to a thread, its
    // tiles in order.
    parallel_for(s.count, 1, [&](int64_t p0, int64_t p1) {
        for (int p = int(p0); p < int(p1); ++p)
            for (int64_t k = 0; k < n; ++k) fill_plane(tiles[k], p, col_ + k);
    });
    col_ += n;
    if (col_ == across) {
        col_ = 0;
        ++row_;
    }
}

void SummedAreaTiler::fill_plane(WF_TILE& tile, int p, int64_t col) {
    const SourcePlanes& s = *src_;
    const int64_t W = s.width, H = s.height;
    const int64_t X0 = col * tw_, Y0 = row_ * th_;
    if (col == 0)
        for (int64_t i = 0; i < th_; ++i) carry_[p * th_ + i] = 0;
    const bool from_first_col = tiling_ != WF_TILE_STD && tiling_ != WF_TILE_V;
    const bool from_first_row = tiling_ != WF_TILE_STD && tiling_ != WF_TILE_U;
    const int64_t border_col = from_first_col ? 0 : W - 1;
    const int64_t border_row = from_first_row ? 0 : H - 1;
    // Columns of the tile inside the window: k in [k_in, k_end).
    const int64_t k_in = X0 == 0 ? 1 : 0;
    const int64_t k_end = std::max<int64_t>(k_in, std::min<int64_t>(tw_, W + 1 - X0));
    const int64_t area = int64_t(tw_) * th_;
    uint32_t* run = running_ + p * row_width_ + X0;
    uint32_t* out_plane = tile.data + p * area;
    for (int64_t r = 0; r < th_; ++r) {
        const int64_t Y = Y0 + r;
        uint32_t* out = out_plane + r * tw_;
        uint32_t acc = carry_[p * th_ + r];
        int64_t k = 0;
        if (Y <= H) {
            const uint8_t* row = s.plane[p] + (Y == 0 ? border_row : Y - 1) * W;
            if (X0 == 0) {
                acc += row[border_col];
                run[0] += acc;
                out[0] = run[0];
                k = 1;
            }
            if (k < k_end) {
                const uint8_t* in = row + (X0 + k - 1);  // window column of table X0 + k
#ifdef KQTOWF_AVX2
                if (k_end - k >= 8 && has_avx2())
                    acc = sum_segment_avx2(in, k_end - k, acc, run + k, out + k);
                else
#endif
                    acc = sum_segment(in, k_end - k, acc, run + k, out + k);
                k = k_end;
            }
        }
        for (; k < tw_; ++k) {
            run[k] += acc;
            out[k] = run[k];
        }
        carry_[p * th_ + r] = acc;
    }
}

void build_summed_area(const ConvertSettings& s, const SourcePlanes& src) {
    const bool silent = s.silent;
    if (!silent) std::fputs("SUMMED-AREA mode\n", stderr);
    const int64_t across = tile_count(int64_t(src.width) + 2, s.tile_x);
    const int64_t down = tile_count(int64_t(src.height) + 2, s.tile_y);
    const int64_t total = across * down;
    const Owned<int32_t> seek_block(
        static_cast<int32_t*>(alloc_work(total > INT64_MAX / 4 ? -1 : total * 4, true)));
    int32_t* seeks = seek_block.get();
    if (!seeks) fail_now("ERROR : Can't alloc seek address array\n");
    if (!silent) {
        std::fprintf(stderr, " tileCount : %lld x %lld = %lld\n", static_cast<long long>(across),
                     static_cast<long long>(down), static_cast<long long>(total));
        std::fprintf(stderr, " seekBlock : %s\n", size_text(total * 4).c_str());
    }
    const int64_t tile_bytes = wf_tile_bytes(s.tile_x, s.tile_y, src.count);
    const int64_t head = WF_HEADER_BYTES + total * 4;
    if (tile_bytes < 0 || (total > 1 && tile_bytes > (INT32_MAX - head) / (total - 1)))
        check_addressable(-1);
    check_addressable(head + (total - 1) * tile_bytes);

    const Owned<WF_HEADER> header_block(wf_alloc_header());
    WF_HEADER* header = header_block.get();
    if (!header) fail("ERROR : Can't alloc map header\n");
    header->map_kind = WF_SUMMED_AREA;
    header->tiling_type = static_cast<uint8_t>(s.tiling);
    header->planes = static_cast<uint16_t>(src.count);
    header->map_width = header->src_width = src.width;
    header->map_height = header->src_height = src.height;
    header->org_x = src.x1;
    header->org_y = src.y1;
    header->root_level = 0;
    header->tiles_x = static_cast<int32_t>(across);
    header->tiles_y = static_cast<int32_t>(down);
    header->tile_width = s.tile_x;
    header->tile_height = s.tile_y;
    wf_overwrite_mode = s.force ? 0 : 1;
    FILE* fp = wf_open(s.out_name.c_str(), "w");
    if (!fp) {
        std::fprintf(stderr, "ERROR : Can't create %s\n", s.out_name.c_str());
        error_exit();
    }
    if (!wf_write_header(header, fp)) fail("ERROR : Can't write header\n");
    if (!silent) {
        static const char* const names[] = {"standard\n", "U-reverse\n", "V-reverse\n",
                                            "UV-reverse\n", "const\n"};
        std::fputs("tilingType : ", stderr);
        std::fputs(names[s.tiling], stderr);
    }
    const long seek_at = WF_HEADER_BYTES;
    if (!wf_write_tile_seeks(header, seeks, fp)) fail("ERROR : Can't write seek block\n");

    WF_TILE tile{};
    tile.width = s.tile_x;
    tile.height = s.tile_y;
    tile.planes = src.count;
    if (!wf_alloc_tile(&tile)) fail_now("ERROR : Can't alloc tile data\n");
    const Owned<unsigned char> tile_block(tile.block);
    SummedAreaTiler tiler;
    if (!tiler.init(src, s.tile_x, s.tile_y, s.tiling))
        fail_now("ERROR : Can't alloc hold scanline info\n");
    if (!silent) {
        std::fprintf(stderr, "   oneTile : %s\n", size_text(tile_bytes).c_str());
        std::fprintf(stderr, "  outTotal : %s\n", size_text(head + total * tile_bytes).c_str());
    }
    // With threads, tiles are made a batch of up to a row at a time (about 4 MiB of
    // them), so that each plane's thread has a run of tiles to fill; the first
    // tile is the one above, the others are had here or not at all.
    int64_t batch = 1;
    if (thread_count() > 1 && src.count > 1)
        batch = std::clamp<int64_t>((int64_t(4) << 20) / std::max<int64_t>(tile_bytes, 1), 1,
                                    across);
    std::vector<WF_TILE> tiles(1, tile);
    std::vector<Owned<unsigned char>> blocks;
    while (int64_t(tiles.size()) < batch) {
        WF_TILE t = tile;
        if (!wf_alloc_tile(&t)) break;
        blocks.emplace_back(t.block);
        tiles.push_back(t);
    }
    batch = int64_t(tiles.size());
    for (int64_t id = 0; id < total;) {
        const int64_t n = std::min(batch, across - id % across);  // never past a row's end
        tiler.next_tiles(tiles.data(), n);
        for (int64_t k = 0; k < n; ++k, ++id) {
            if (s.verbose) {
                const int64_t col = id % across, row = id / across;
                const int64_t x0 = col * s.tile_x, y0 = row * s.tile_y;
                std::fprintf(stderr,
                             "tileId:%3lld(%2lld,%2lld) win(%4lld,%4lld,%4lld,%4lld) plane:%d\n",
                             static_cast<long long>(id), static_cast<long long>(col),
                             static_cast<long long>(row), static_cast<long long>(x0),
                             static_cast<long long>(y0), static_cast<long long>(x0 + s.tile_x - 1),
                             static_cast<long long>(y0 + s.tile_y - 1), src.count);
            }
            seeks[id] = static_cast<int32_t>(head + id * tile_bytes);  // checked above
            if (!wf_write_tile(&tiles[size_t(k)], fp)) fail_now("ERROR : Can't write tile data\n");
        }
    }
    if (std::fseek(fp, seek_at, SEEK_SET) != 0)
        fail("ERROR : Can't seek to seek data block\n");
    if (!wf_write_tile_seeks(header, seeks, fp)) fail("ERROR : Can't write seek block\n");
    if (!wf_close(fp, 1)) fail("ERROR : Can't write seek block\n");
}
