// random, scatter, spread and bumpy: their help printers, handlers and workers.
// The generator runs ahead in blocks (lanes stepped by the sixteenth power of the
// step, the same sequence), and the pixel loops consume it strictly in order.
#include "ops/effects.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include "buffer/image_buffer.h"
#include "buffer/rearrange.h"
#include "interp/command.h"
#include "interp/commands.h"
#include "ops/cpu.h"

namespace {

constexpr double kRandScale = 1.0 / 32767;  // 3.0518509475997192e-05: rand() to 0 ... 1
constexpr uint32_t kMul = 1103515245u, kAdd = 12345u;

// clamp(truncate(v)) for any double, NaN giving 0.
inline uint8_t clamp_trunc(double v) {
    if (!(v > 0)) return 0;
    return v >= 255 ? 255 : static_cast<uint8_t>(static_cast<int>(v));
}

}  // namespace

namespace {

// The state after each of the next n steps, from `state`: the multiplier and
// increment of k steps at once.
struct Leap {
    uint32_t mul = 1, add = 0;
    explicit Leap(int k) {
        for (int j = 0; j < k; ++j) {
            add = add * kMul + kAdd;
            mul *= kMul;
        }
    }
};

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define KQ_RAND_WIDE 1
// Sixteen lanes (two registers) stepped sixteen at a time; returns how many values
// it wrote (a multiple of 16) and leaves `state` after the last of them.
[[gnu::target("avx2")]] int64_t fill_avx2(uint32_t& state, uint16_t* out, int64_t n) {
    if (n < 16) return 0;
    uint32_t first[16];
    uint32_t s = state;
    for (uint32_t& f : first) f = s = s * kMul + kAdd;
    static const Leap leap(16);
    const __m256i mul = _mm256_set1_epi32(static_cast<int>(leap.mul));
    const __m256i add = _mm256_set1_epi32(static_cast<int>(leap.add));
    const __m256i bits = _mm256_set1_epi32(0x7fff);
    __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(first));
    __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(first + 8));
    int64_t i = 0;
    __m256i last = b;
    for (; i + 16 <= n; i += 16) {
        const __m256i va = _mm256_and_si256(_mm256_srli_epi32(a, 16), bits);
        const __m256i vb = _mm256_and_si256(_mm256_srli_epi32(b, 16), bits);
        const __m256i words = _mm256_permute4x64_epi64(_mm256_packus_epi32(va, vb), 0xD8);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + i), words);
        last = b;
        a = _mm256_add_epi32(_mm256_mullo_epi32(a, mul), add);
        b = _mm256_add_epi32(_mm256_mullo_epi32(b, mul), add);
    }
    state = static_cast<uint32_t>(_mm256_extract_epi32(last, 7));
    return i;
}
#endif

}  // namespace

void ExampleRand::fill(uint16_t* out, int64_t n) {
    int64_t i = 0;
#ifdef KQ_RAND_WIDE
    if (cpu_has_avx2()) i = fill_avx2(state, out, n);
#endif
    for (uint16_t *p = out + i, *end = out + std::max<int64_t>(n, i); p != end; ++p)
        *p = static_cast<uint16_t>(next());
}

namespace {

// Values of one generator, drawn in blocks and handed out one by one.
class RandBlock {
public:
    explicit RandBlock(int seed) : gen_(static_cast<unsigned>(seed)) {}
    // The next values in order; refills when the block is used up.
    const uint16_t* take(int64_t n) {
        if (n > kSize) return nullptr;
        if (pos_ + n > filled_) {
            const int64_t keep = filled_ - pos_;
            std::memmove(buf_.data(), buf_.data() + pos_, size_t(keep) * sizeof(uint16_t));
            gen_.fill(buf_.data() + keep, kSize - keep);
            filled_ = kSize;
            pos_ = 0;
        }
        const uint16_t* p = buf_.data() + pos_;
        pos_ += n;
        return p;
    }
    static constexpr int64_t kSize = 4096;

private:
    ExampleRand gen_;
    std::array<uint16_t, kSize> buf_{};
    int64_t pos_ = 0, filled_ = 0;
};

// The offsets of scatter and spread: (2u - 1) × radius rounded to single precision,
// one per rand() call, computed a block at a time. Callers keep the block pointer
// in locals: the pixel stores through byte pointers could alias members.
class OffsetStream {
public:
    static constexpr int64_t kSize = 4096;  // even: a try's two offsets share a block
    OffsetStream(int seed, int64_t radius)
        : gen_(static_cast<unsigned>(seed)), radius_(double(radius)) {}
    // The next kSize offsets in order.
    const float* block() {
        gen_.fill(raw_.data(), kSize);
        for (int64_t k = 0; k < kSize; ++k)
            off_[k] = static_cast<float>((2.0 * (raw_[k] * kRandScale) - 1.0) * radius_);
        return off_.data();
    }

private:
    ExampleRand gen_;
    double radius_;
    std::array<uint16_t, kSize> raw_{};
    std::array<float, kSize> off_{};
};

// The place a try lands on: truncate(x + dx + 0.5) on each axis, x in single
// precision; false when it lies outside the window (or beyond any integer).
inline bool landing(float xf, float yf, float dx, float dy, const Rect& r, int64_t* sx,
                    int64_t* sy) {
    const double fx = double(xf + dx) + 0.5;
    const double fy = double(yf + dy) + 0.5;
    if (!(fx > -4e18 && fx < 4e18 && fy > -4e18 && fy < 4e18)) return false;
    *sx = static_cast<int64_t>(fx);
    *sy = static_cast<int64_t>(fy);
    return *sx >= r.x1 && *sx <= r.x2 && *sy >= r.y1 && *sy <= r.y2;
}

// The common checks of scatter and spread, in their order, before anything is
// written. `need_alpha` asks for four components.
int check_pair(const char* in_name, const char* out_name, bool need_alpha, ImageBuffer*& in,
               ImageBuffer*& out) {
    if (!find_buffers2(in_name, out_name, in, out)) return 0;
    if (!same_components2(*in, *out)) {
        std::fprintf(stderr, "WARNING : component type missing\n");
        std::fprintf(stderr, "          %s is %d component\n", in_name, in->components);
        std::fprintf(stderr, "          %s is %d component\n", out_name, out->components);
        return 0;
    }
    if (!same_geometry2(*in, *out)) {
        std::fprintf(stderr, "WARNING : window spec missing %s & %s\n", in_name, out_name);
        return 0;
    }
    if (need_alpha && in->components != 4) {
        std::fprintf(stderr, "WARNING : %s has no alpha plane\n", in_name);
        return 0;
    }
    return 1;
}

// The planes the moves read: in's own, or a snapshot when in is out, so that reads
// always see in as it was before the command.
struct Source {
    const uint8_t* plane[4] = {};
    std::vector<uint8_t> copy;
    Source(const ImageBuffer& in, const ImageBuffer& out) {
        const int64_t n = in.plane_size();
        if (&in == &out) {
            try {
                if (!kq_memory_allows(n * in.components)) throw std::bad_alloc();
                copy.resize(size_t(n) * in.components);
            } catch (const std::bad_alloc&) {
                fatal_no_planes();
            }
        }
        for (int p = 0; p < in.components; ++p) {
            if (copy.empty()) {
                plane[p] = in.plane[p];
            } else {
                std::memcpy(copy.data() + p * n, in.plane[p], size_t(n));
                plane[p] = copy.data() + p * n;
            }
        }
    }
};

}  // namespace

// --- random ----------------------------------------------------------------------------------

int random_fill(const char* name, int mask, const float minimum[4], const float maximum[4],
                int seed) {
    ImageBuffer* b = find_buffer(name);
    if (!b) {
        std::fprintf(stderr, "WARNING : Can't find buff (name=%s)\n", name);
        return 0;
    }
    RandBlock gen(seed);
    const int64_t n = b->plane_size();
    std::vector<uint8_t> table(32768);
    for (int p = 0; p < b->components; ++p) {
        if (!(mask & (1 << p))) continue;
        float lo = minimum[p], hi = maximum[p];
        if (hi < lo) std::swap(lo, hi);
        const float range = hi - lo;
        // Each sample depends on its rand() value alone: one table per plane.
        for (int r = 0; r < 32768; ++r)
            table[r] = clamp_trunc((r * kRandScale * double(range) + double(lo)) * 255);
        uint8_t* dst = b->plane[p];
        for (int64_t i = 0; i < n; i += RandBlock::kSize) {
            const int64_t k = std::min(RandBlock::kSize, n - i);
            const uint16_t* u = gen.take(k);
            for (int64_t j = 0; j < k; ++j) dst[i + j] = table[u[j]];
        }
    }
    return 1;
}

static void help_random(const char* word, int mode) {
    if (mode != 1) return print_summary(word, "generate random pixel pattern");
    std::fprintf(stderr, "Usage : %s [-options] buffName\n", word);
    static const char* const lines[] = {
        "[options]\n",
        " -rgba Rmin Gmin Bmin Amin Rmax Gmax Bmax Amax :",
        "random effect R, G, B, A plane\n",
        " -rgb Rmin Gmin Bmin Rmax Gmax Bmax :",
        "random effect R, G, B plane\n",
        " -r Rmin Rmax : random effect R plane\n",
        " -g Gmin Gmax : random effect G plane\n",
        " -b Bmin Bmax : random effect B plane\n",
        " -a Amin Amax : random effect A plane\n",
        " -s seed : random seed value set ( 0 ~ 2147483648 )\n",
        "[Default]\n",
        " -rgb 0 1 0 1 0 1\n",
        " -s 0\n",
    };
    for (const char* l : lines) std::fputs(l, stderr);
}

// random [-rgba 8 values | -rgb 6 | -r/-g/-b/-a min max] [-s seed] buffName. Each
// plane option replaces the mask; the limits of every option given stay set.
int cmd_random(int argc, char** argv) {
    if (answer_help(argc, argv, help_random)) return 1;
    int mask = 7, seed = 0;
    float lo[4] = {0, 0, 0, 0}, hi[4] = {1, 1, 1, 1};
    const char* name = nullptr;
    for (int i = 1; i < argc; ++i) {
        const int m = plane_mask_word(argv[i]);
        if (m >= 0) {
            const int planes = m == 15 ? 4 : m == 7 ? 3 : 1;
            if (!need_args(argc, argv, i, 2 * planes, help_random)) return 0;
            const int first = planes == 1 ? __builtin_ctz(unsigned(m)) : 0;
            for (int k = 0; k < planes; ++k) {
                lo[first + k] = static_cast<float>(to_real(argv[i + 1 + k]));
                hi[first + k] = static_cast<float>(to_real(argv[i + 1 + planes + k]));
            }
            mask = m;
            i += 2 * planes;
        } else if (same_word(argv[i], "-s")) {
            if (!need_args(argc, argv, i, 1, help_random)) return 0;
            seed = to_int(argv[++i]);
        } else {
            if (name) return command_error("Invalid argment", argv[0], help_random);
            name = argv[i];
        }
    }
    if (!name) return command_error("You must define buff name", argv[0], help_random);
    return random_fill(name, mask, lo, hi, seed);
}

// --- scatter ---------------------------------------------------------------------------------

namespace {

// Pixels as separate planes: reads from in's planes, writes to out's.
template <int Planes>
struct PlanarPixels {
    const uint8_t* from[Planes];  // in's planes as they were
    uint8_t* to[Planes];          // out's planes
    int alpha(int64_t i) const { return from[Planes - 1][i]; }
    void copy(int64_t dst, int64_t src) const {
        for (int p = 0; p < Planes; ++p) to[p][dst] = from[p][src];
    }
};
// Pixels packed r, g, b, a into one word each: one cache line per access instead
// of one per plane.
struct PackedPixels {
    const uint32_t* from;  // in, packed
    uint32_t* to;          // out, packed
    int alpha(int64_t i) const { return static_cast<int>(from[i] >> 24); }
    void copy(int64_t dst, int64_t src) const { to[dst] = from[src]; }
};

// One instantiation per mode and pixel layout, so the tries carry no mode tests.
template <ScatterMode Mode, class Pixels>
void scatter_rows(const Rect r, int64_t w, int tries, int threshold, const Pixels px,
                  OffsetStream& offsets) {
    const float* off = nullptr;
    int64_t left = 0;
    for (int64_t y = r.y2, row = 0; y >= r.y1; --y, ++row) {
        const float yf = static_cast<float>(y);
        for (int64_t x = r.x1; x <= r.x2; ++x) {
            const float xf = static_cast<float>(x);
            const int64_t at = row * w + (x - r.x1);
            for (int t = 0; t < tries; ++t) {
                if (left == 0) {
                    off = offsets.block();
                    left = OffsetStream::kSize;
                }
                const float dx = off[0], dy = off[1];
                off += 2;
                left -= 2;
                int64_t sx, sy;
                if (!landing(xf, yf, dx, dy, r, &sx, &sy)) continue;
                const int64_t there = (r.y2 - sy) * w + (sx - r.x1);
                if constexpr (Mode == ScatterMode::plain || Mode == ScatterMode::across) {
                    if constexpr (Mode == ScatterMode::across)
                        if (std::abs(px.alpha(at) - px.alpha(there)) <= threshold) continue;
                    px.copy(at, there);
                    px.copy(there, at);
                } else {
                    const int a0 = px.alpha(at), a1 = px.alpha(there);
                    if (std::abs(a0 - a1) <= threshold) continue;
                    // inward_out: the higher alpha goes onto the lower; outward_in the
                    // lower onto the higher.
                    const bool onto_here = Mode == ScatterMode::inward_out ? a0 < a1 : a1 <= a0;
                    if (onto_here)
                        px.copy(at, there);
                    else
                        px.copy(there, at);
                }
            }
        }
    }
}

template <class Pixels>
void scatter_mode(ScatterMode mode, const Rect r, int64_t w, int tries, int threshold,
                  const Pixels& px, OffsetStream& offsets) {
    switch (mode) {
        case ScatterMode::plain:
            return scatter_rows<ScatterMode::plain>(r, w, tries, threshold, px, offsets);
        case ScatterMode::across:
            return scatter_rows<ScatterMode::across>(r, w, tries, threshold, px, offsets);
        case ScatterMode::inward_out:
            return scatter_rows<ScatterMode::inward_out>(r, w, tries, threshold, px, offsets);
        case ScatterMode::outward_in:
            return scatter_rows<ScatterMode::outward_in>(r, w, tries, threshold, px, offsets);
    }
}

bool g_allow_packed = true;  // effects_allow_packed

// in's planes packed into words (alpha in the top byte; 0 for three planes), or an
// empty vector when memory is short.
std::vector<uint32_t> packed_copy(const ImageBuffer& b) {
    std::vector<uint32_t> words;
    try {
        if (!kq_memory_allows(b.plane_size() * 4)) return {};
        words.resize(size_t(b.plane_size()));
    } catch (const std::bad_alloc&) {
        return {};
    }
    const uint8_t* r = b.plane[0];
    const uint8_t* g = b.plane[1];
    const uint8_t* bl = b.plane[2];
    const uint8_t* a = b.components == 4 ? b.plane[3] : nullptr;
    for (size_t i = 0; i < words.size(); ++i)
        words[i] = r[i] | uint32_t(g[i]) << 8 | uint32_t(bl[i]) << 16 |
                   uint32_t(a ? a[i] : 0) << 24;
    return words;
}

}  // namespace

void effects_allow_packed(bool allow) { g_allow_packed = allow; }

int scatter_pixels(const char* in_name, const char* out_name, int radius, int tries, int seed,
                   ScatterMode mode, int threshold) {
    ImageBuffer *in = nullptr, *out = nullptr;
    if (!check_pair(in_name, out_name, mode != ScatterMode::plain, in, out)) return 0;
    const Rect r = in->rect();
    const int64_t w = in->width;
    OffsetStream offsets(seed, std::llabs(int64_t(radius)));
    if (radius != 0 && tries >= 1 && in->components >= 3 && g_allow_packed) {
        // Packed copies of in (which doubles as the snapshot when in is out) and of
        // the result; out's planes take the result at the end.
        std::vector<uint32_t> from = packed_copy(*in), to;
        if (!from.empty()) {
            try {
                to = from;
            } catch (const std::bad_alloc&) {
                to.clear();
            }
        }
        if (!to.empty()) {
            scatter_mode(mode, r, w, tries, threshold, PackedPixels{from.data(), to.data()},
                         offsets);
            for (int p = 0; p < out->components; ++p) {
                uint8_t* dst = out->plane[p];
                for (size_t i = 0; i < to.size(); ++i) dst[i] = uint8_t(to[i] >> (8 * p));
            }
            return 1;
        }
    }
    const Source src(*in, *out);  // before the copy: in may be out
    copy_region(in_name, out_name);
    if (radius == 0) return 1;
    if (in->components == 1) {
        scatter_mode(mode, r, w, tries, threshold, PlanarPixels<1>{{src.plane[0]}, {out->plane[0]}},
                     offsets);
    } else if (in->components == 3) {
        const PlanarPixels<3> px{{src.plane[0], src.plane[1], src.plane[2]},
                                 {out->plane[0], out->plane[1], out->plane[2]}};
        scatter_mode(mode, r, w, tries, threshold, px, offsets);
    } else {
        const PlanarPixels<4> px{{src.plane[0], src.plane[1], src.plane[2], src.plane[3]},
                                 {out->plane[0], out->plane[1], out->plane[2], out->plane[3]}};
        scatter_mode(mode, r, w, tries, threshold, px, offsets);
    }
    return 1;
}

static void help_scatter(const char* word, int mode) {
    if (mode != 1) return print_summary(word, "scatter pixel effect");
    std::fprintf(stderr, "Usage : %s [-options] inBuffName outBuffName \n", word);
    static const char* const lines[] = {
        "[options]\n",
        " -r radius : scatter radius\n",
        " -x n      : scatter count for one pixel\n",
        " -s seed   : scatter seed value set ( 0 ~ 2147483648 )\n",
        " -m threshold : across the silhouette scatter mode\n",
        " -i threshold : across the silhouette scatter mode",
        " ( inside -> outside )\n",
        " -o threshold : across the silhouette scatter mode",
        " ( outside -> inside )\n",
        "    threshold : threshold of alpha value difference (0~255)\n",
        "[Default]\n",
        " -r 10\n",
        " -x 3\n",
        " -s 0\n",
    };
    for (const char* l : lines) std::fputs(l, stderr);
}

// scatter [-r radius] [-x n] [-s seed] [-m|-i|-o threshold] inBuffName outBuffName.
int cmd_scatter(int argc, char** argv) {
    if (answer_help(argc, argv, help_scatter)) return 1;
    int radius = 10, tries = 3, seed = 0, threshold = 0;
    ScatterMode mode = ScatterMode::plain;
    const char* names[2] = {nullptr, nullptr};
    int count = 0;
    for (int i = 1; i < argc; ++i) {
        const char* w = argv[i];
        int* value = same_word(w, "-s")   ? &seed
                     : same_word(w, "-r") ? &radius
                     : same_word(w, "-x") ? &tries
                                          : nullptr;
        const ScatterMode m = same_word(w, "-m")   ? ScatterMode::across
                              : same_word(w, "-i") ? ScatterMode::inward_out
                              : same_word(w, "-o") ? ScatterMode::outward_in
                                                   : ScatterMode::plain;
        if (m != ScatterMode::plain) {
            mode = m;
            value = &threshold;
        }
        if (value) {
            if (!need_args(argc, argv, i, 1, help_scatter)) return 0;
            *value = to_int(argv[++i]);
        } else {
            if (count == 2) return command_error("Invalid argment", argv[0], help_scatter);
            names[count++] = w;
        }
    }
    if (count < 2)
        return command_error("You must define In/Out buff name", argv[0], help_scatter);
    return scatter_pixels(names[0], names[1], radius, tries, seed, mode, threshold);
}

// --- spread ----------------------------------------------------------------------------------

namespace {

// One sample of out plus weight × one of in, truncated and clamped.
inline uint8_t spread_add(int from, float weight, int to) {
    return clamp_trunc(from * weight + to);
}

// spread's alpha test and accumulation over either pixel layout.
struct PlanarSpread {
    const uint8_t* from[4];  // in's planes as they were
    uint8_t* to[4];          // out's planes
    int alpha(int64_t i) const { return from[3][i]; }
    void add(int64_t dst, int64_t src, float weight) const {
        for (int p = 0; p < 4; ++p) to[p][dst] = spread_add(from[p][src], weight, to[p][dst]);
    }
};
struct PackedSpread {
    const uint32_t* from;  // in, packed
    uint32_t* to;          // out, packed
    int alpha(int64_t i) const { return static_cast<int>(from[i] >> 24); }
    void add(int64_t dst, int64_t src, float weight) const {
        const uint32_t f = from[src], t = to[dst];
        uint32_t sum = 0;
        for (int p = 0; p < 4; ++p)
            sum |= uint32_t(spread_add((f >> (8 * p)) & 0xff, weight, (t >> (8 * p)) & 0xff))
                   << (8 * p);
        to[dst] = sum;
    }
};

template <class Pixels>
void spread_rows(const Rect r, int64_t w, int tries, int threshold, float weight,
                 const Pixels px, OffsetStream& offsets) {
    const float* off = nullptr;
    int64_t left = 0;
    for (int64_t y = r.y2, row = 0; y >= r.y1; --y, ++row) {
        const float yf = static_cast<float>(y);
        for (int64_t x = r.x1; x <= r.x2; ++x) {
            const int64_t at = row * w + (x - r.x1);
            const int a0 = px.alpha(at);
            if (a0 == 0) continue;  // transparent pixels spread nothing and draw nothing
            const float xf = static_cast<float>(x);
            for (int t = 0; t < tries; ++t) {
                if (left == 0) {
                    off = offsets.block();
                    left = OffsetStream::kSize;
                }
                const float dx = off[0], dy = off[1];
                off += 2;
                left -= 2;
                int64_t sx, sy;
                if (!landing(xf, yf, dx, dy, r, &sx, &sy)) continue;
                const int64_t there = (r.y2 - sy) * w + (sx - r.x1);
                const int d = a0 - px.alpha(there);
                if (d < 0 || d <= threshold) continue;
                px.add(there, at, weight);
            }
        }
    }
}

}  // namespace

int spread_pixels(const char* in_name, const char* out_name, int radius, int tries, int seed,
                  int threshold, float scale) {
    ImageBuffer *in = nullptr, *out = nullptr;
    if (!check_pair(in_name, out_name, true, in, out)) return 0;
    const Rect r = in->rect();
    const int64_t w = in->width;
    OffsetStream offsets(seed, std::llabs(int64_t(radius)));
    const float weight = static_cast<float>(double(scale) / (tries < 1 ? 1 : tries));
    if (radius != 0 && tries >= 1 && g_allow_packed) {
        // As in scatter: packed copies of in and of the result when memory allows.
        std::vector<uint32_t> from = packed_copy(*in), to;
        if (!from.empty()) {
            try {
                to = from;
            } catch (const std::bad_alloc&) {
                to.clear();
            }
        }
        if (!to.empty()) {
            spread_rows(r, w, tries, threshold, weight, PackedSpread{from.data(), to.data()},
                        offsets);
            for (int p = 0; p < 4; ++p) {
                uint8_t* dst = out->plane[p];
                for (size_t i = 0; i < to.size(); ++i) dst[i] = uint8_t(to[i] >> (8 * p));
            }
            return 1;
        }
    }
    const Source src(*in, *out);
    copy_region(in_name, out_name);
    if (radius == 0 || tries < 1) return 1;
    const PlanarSpread px{{src.plane[0], src.plane[1], src.plane[2], src.plane[3]},
                          {out->plane[0], out->plane[1], out->plane[2], out->plane[3]}};
    spread_rows(r, w, tries, threshold, weight, px, offsets);
    return 1;
}

static void help_spread(const char* word, int mode) {
    if (mode != 1) return print_summary(word, "spread effect");
    std::fprintf(stderr, "Usage : %s [-options] inBuffName outBuffName \n", word);
    static const char* const lines[] = {
        "         inBuffName : source image buffer\n",
        "        outBuffName : destination image buffer\n",
        "[options]\n",
        " -r radius : spread radius\n",
        " -w scale : spread pixel color scale\n",
        " -x n      : spread count for one pixel\n",
        " -s seed   : scatter seed value set ( 0 ~ 2147483648 )\n",
        " -t threshold : threshold of alpha value difference (0~255)\n",
        "[Default]\n",
        " -r 10\n",
        " -x 10\n",
        " -s 0\n",
        " -t 0\n",
        " -w 1.0\n",
    };
    for (const char* l : lines) std::fputs(l, stderr);
}

// spread [-r radius] [-x n] [-s seed] [-t threshold] [-w scale] inBuffName outBuffName.
int cmd_spread(int argc, char** argv) {
    if (answer_help(argc, argv, help_spread)) return 1;
    int radius = 10, tries = 10, seed = 0, threshold = 0;
    float scale = 1.0f;
    const char* names[2] = {nullptr, nullptr};
    int count = 0;
    for (int i = 1; i < argc; ++i) {
        const char* w = argv[i];
        int* value = same_word(w, "-r")   ? &radius
                     : same_word(w, "-x") ? &tries
                     : same_word(w, "-s") ? &seed
                     : same_word(w, "-t") ? &threshold
                                          : nullptr;
        if (value || same_word(w, "-w")) {
            if (!need_args(argc, argv, i, 1, help_spread)) return 0;
            ++i;
            if (value)
                *value = to_int(argv[i]);
            else
                scale = static_cast<float>(to_real(argv[i]));
        } else {
            if (count == 2) return command_error("Invalid argment", argv[0], help_spread);
            names[count++] = w;
        }
    }
    if (count < 2)
        return command_error("You must define In/Out buff name", argv[0], help_spread);
    return spread_pixels(names[0], names[1], radius, tries, seed, threshold, scale);
}

// --- bumpy -----------------------------------------------------------------------------------

Hsv rgb_to_hsv(float r, float g, float b) {
    const float mx = std::max(r, std::max(g, b));
    const float mn = std::min(r, std::min(g, b));
    const float delta = mx - mn;
    Hsv c{0.0f, mx != 0.0f ? delta / mx : 0.0f, mx};
    if (c.s == 0.0f) return c;
    const float rc = (mx - r) / delta;
    const float gc = (mx - g) / delta;
    const float bc = (mx - b) / delta;
    float h;
    if (r == mx)  // ties go to the first test
        h = bc - gc;
    else if (g == mx)
        h = 2 + rc - bc;
    else
        h = 4 + gc - rc;
    c.h = 60 * h;
    if (c.h < 0) c.h += 360;
    return c;
}

void hsv_to_rgb(Hsv c, float* r, float* g, float* b) {
    if (c.s == 0.0f) {
        *r = *g = *b = c.v;
        return;
    }
    const float h = (c.h == 360.0f ? 0.0f : c.h) / 60;
    const int i = static_cast<int>(h);
    const float f = h - i;
    const float p = c.v * (1 - c.s);
    const float q = c.v * (1 - c.s * f);
    const float t = c.v * (1 - c.s * (1 - f));
    switch (i) {
        case 0: *r = c.v, *g = t, *b = p; break;
        case 1: *r = q, *g = c.v, *b = p; break;
        case 2: *r = p, *g = c.v, *b = t; break;
        case 3: *r = p, *g = q, *b = c.v; break;
        case 4: *r = t, *g = p, *b = c.v; break;
        case 5: *r = c.v, *g = p, *b = q; break;
        default: *r = *g = *b = 0; break;
    }
}

void bump_pixel(uint8_t r, uint8_t g, uint8_t b, float bump, uint8_t out[3]) {
    constexpr double kToUnit = 0.00392156862745098;
    Hsv c = rgb_to_hsv(static_cast<float>(r * kToUnit), static_cast<float>(g * kToUnit),
                       static_cast<float>(b * kToUnit));
    const float v = c.v + c.v * bump;
    float overflow = 0;
    if (v < 0) {
        c.v = 0;
    } else if (v > 1) {
        c.v = 1;
        overflow = v - 1;
    } else {
        c.v = v;  // NaN stays NaN and writes 0
    }
    if (overflow > 0) {
        // Brightening past white whitens: a third (0.333) of the overflow comes off S.
        c.s = static_cast<float>(c.s - overflow * 0.333);
        if (c.s < 0) c.s = 0;
    }
    float rgb[3];
    hsv_to_rgb(c, &rgb[0], &rgb[1], &rgb[2]);
    for (int k = 0; k < 3; ++k) out[k] = clamp_trunc(rgb[k] * 255.0);
}

int bumpy_shade(const char* a_name, const char* b_name, const char* out_name, int plane, int lo,
                int hi, float smin, float smax) {
    ImageBuffer *a = nullptr, *b = nullptr, *out = nullptr;
    if (!find_buffers3(a_name, b_name, out_name, a, b, out)) return 0;
    if (plane > b->components - 1) {
        std::fprintf(stderr, "WARNING : %s is %d component\n", b_name, b->components);
        std::fprintf(stderr, "          Could you change plane for bumpy info\n");
        return 0;
    }
    if (!same_components2(*a, *out)) {
        std::fprintf(stderr, "WARNING : component missing\n");
        std::fprintf(stderr, "          %s is %d component\n", a_name, a->components);
        std::fprintf(stderr, "          %s is %d component\n", out_name, out->components);
        return 0;
    }
    if (a->components < 3) {
        std::fprintf(stderr, "WARNING : component error\n");
        std::fprintf(stderr, "          Could you use 3 or more component buffer for In/Out\n");
        return 0;
    }
    if (!same_geometry2(*a, *out)) {
        std::fprintf(stderr, "WARNING : window spec missing %s & %s\n", a_name, out_name);
        return 0;
    }
    const float cr = static_cast<float>(int64_t(hi) - lo);
    const float sr = smax - smin;
    // The bump depends on the sample alone.
    float bump[256];
    for (int v = 0; v < 256; ++v) {
        float t;
        if (v < lo || (v == lo && lo == hi))
            t = 0;
        else if (v > hi)
            t = 1;
        else
            t = static_cast<float>(int64_t(v) - lo) / cr;
        bump[v] = t * sr + smin;
    }
    const Rect ra = a->rect(), rb = b->rect();
    const int64_t w = a->width;
    std::vector<uint8_t> v(size_t(std::max<int64_t>(w, 0)));
    for (int64_t y = ra.y2, row = 0; y >= ra.y1; --y, ++row) {
        // B's samples of this row at A's columns; its outside cell beyond its window.
        std::fill(v.begin(), v.end(), b->outside[0]);
        if (y >= rb.y1 && y <= rb.y2) {
            const int64_t x1 = std::max(ra.x1, rb.x1), x2 = std::min(ra.x2, rb.x2);
            if (x1 <= x2)
                std::memcpy(v.data() + (x1 - ra.x1), b->row(plane, y) + (x1 - rb.x1),
                            size_t(x2 - x1 + 1));
        }
        const int64_t at = row * w;
        for (int64_t i = 0; i < w; ++i) {
            uint8_t rgb[3];
            bump_pixel(a->plane[0][at + i], a->plane[1][at + i], a->plane[2][at + i], bump[v[i]],
                       rgb);
            for (int k = 0; k < 3; ++k) out->plane[k][at + i] = rgb[k];
        }
    }
    if (a->components == 4 && out->components == 4 && a != out)
        std::memcpy(out->plane[3], a->plane[3], size_t(a->plane_size()));
    return 1;
}

static void help_bumpy(const char* word, int mode) {
    if (mode != 1) return print_summary(word, "bumpy effect");
    std::fprintf(stderr, "Usage : %s [-options] inBuffNameA inBuffNameB outBuffName \n", word);
    static const char* const lines[] = {
        "        inBuffNameA : source image buffer\n",
        "        inBuffNameB : bumpy info data buffer\n",
        "        outBuffName : destination image buffer\n",
        "[options]\n",
        "  -r : use inBuffNameB   red ( plane #0 ) data for bumpy info\n",
        "  -g : use inBuffNameB green ( plane #1 ) data for bumpy info\n",
        "  -b : use inBuffNameB  blue ( plane #2 ) data for bumpy info\n",
        "  -a : use inBuffNameB alpha ( plane #3 ) data for bumpy info\n",
        "  -m min max : bumpy info data clipping value (0~255)\n",
        "  -M min max : scale value ( correspond to -m )\n",
        "[Default]\n",
        "  -m 0 255\n",
        "  -M -0.5 0.5\n",
        "  -r\n",
    };
    for (const char* l : lines) std::fputs(l, stderr);
}

// bumpy [-r|-g|-b|-a] [-m lo hi] [-M smin smax] inBuffNameA inBuffNameB outBuffName.
int cmd_bumpy(int argc, char** argv) {
    if (answer_help(argc, argv, help_bumpy)) return 1;
    int plane = 0, lo = 0, hi = 255;
    float smin = -0.5f, smax = 0.5f;
    const char* names[3] = {nullptr, nullptr, nullptr};
    int count = 0;
    static const char* const plane_words[] = {"-r", "-g", "-b", "-a"};
    for (int i = 1; i < argc; ++i) {
        const char* w = argv[i];
        const auto* pw = std::find_if(std::begin(plane_words), std::end(plane_words),
                                      [&](const char* p) { return same_word(w, p); });
        if (pw != std::end(plane_words)) {
            plane = static_cast<int>(pw - std::begin(plane_words));
        } else if (same_word(w, "-m")) {
            if (!need_args(argc, argv, i, 2, help_bumpy)) return 0;
            lo = to_int(argv[i + 1]);
            hi = to_int(argv[i + 2]);
            i += 2;
        } else if (same_word(w, "-M")) {
            if (!need_args(argc, argv, i, 2, help_bumpy)) return 0;
            smin = static_cast<float>(to_real(argv[i + 1]));
            smax = static_cast<float>(to_real(argv[i + 2]));
            i += 2;
        } else {
            if (count == 3) return command_error("Invalid argment", argv[0], help_bumpy);
            names[count++] = w;
        }
    }
    if (count != 3)
        return command_error("You must define In/Mask/Out buff name", argv[0], help_bumpy);
    return bumpy_shade(names[0], names[1], names[2], plane, lo, hi, smin, smax);
}
