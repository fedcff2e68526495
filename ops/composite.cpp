// plus, over, in, out, atop and xor: the six compositing commands, their help
// printers and the worker that runs the per-pixel formulas over whole rows.
#include "ops/composite.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "buffer/image_buffer.h"
#include "interp/command.h"
#include "interp/commands.h"
#include "ops/cpu.h"
#include "parallel/parallel.h"

namespace {

// Pixels per block. The inner loops have this fixed trip count so that the
// compiler vectorises them at -O2 as well as at -O3, and without alias checks.
constexpr int kBlock = 64;

// An output plane may be the very same array as the input plane of the same index
// (out is A or B). Each element is read before it is written at the same index, so
// there is no dependence between iterations; tell the vectoriser so.
#if defined(__clang__)
#define KQ_NO_CARRIED_DEPS _Pragma("clang loop vectorize(assume_safety)")
#elif defined(__GNUC__)
#define KQ_NO_CARRIED_DEPS _Pragma("GCC ivdep")
#else
#define KQ_NO_CARRIED_DEPS
#endif

// Where the samples of one run of pixels come from and go to, per plane.
struct Streams {
    const uint8_t* a[4];  // A's planes (or a row of A's fill value)
    const uint8_t* b[4];  // B's planes (or a row of B's fill value)
    uint8_t* o[4];        // out's planes
};

// plus: every plane in use, saturating sum.
struct PlusBlock {
    int planes;  // component count of all three buffers
    void operator()(const Streams& s, int64_t i) const {
        for (int k = 0; k < planes; ++k) {
            const uint8_t* ak = s.a[k] + i;
            const uint8_t* bk = s.b[k] + i;
            uint8_t* ok = s.o[k] + i;
            KQ_NO_CARRIED_DEPS
            for (int j = 0; j < kBlock; ++j) ok[j] = fast_add(ak[j], bk[j]);
        }
    }
};

// The Porter-Duff operators: four planes, each from (A.k, B.k, Aa, Ba). Alpha is
// the last plane written, so when out is A or B the colour planes of a block have
// all read the alpha they need before it changes.
template <class Formula>
struct PorterDuffBlock {
    Formula f;
    void operator()(const Streams& s, int64_t i) const {
        const uint8_t* aa = s.a[3] + i;
        const uint8_t* ba = s.b[3] + i;
        for (int k = 0; k < 4; ++k) {
            const uint8_t* ak = s.a[k] + i;
            const uint8_t* bk = s.b[k] + i;
            uint8_t* ok = s.o[k] + i;
            KQ_NO_CARRIED_DEPS
            for (int j = 0; j < kBlock; ++j) ok[j] = f(ak[j], bk[j], aa[j], ba[j]);
        }
    }
};

// Each product truncates on its own and each sum saturates on its own, exactly as
// the table lookups do.
inline uint8_t inv(uint8_t v) { return static_cast<uint8_t>(~v); }
struct OverFormula {
    uint8_t operator()(uint8_t ak, uint8_t bk, uint8_t aa, uint8_t) const {
        return fast_add(ak, fast_mul(bk, inv(aa)));
    }
};
struct InFormula {
    uint8_t operator()(uint8_t ak, uint8_t, uint8_t, uint8_t ba) const { return fast_mul(ak, ba); }
};
struct OutFormula {
    uint8_t operator()(uint8_t ak, uint8_t, uint8_t, uint8_t ba) const {
        return fast_mul(ak, inv(ba));
    }
};
struct AtopFormula {
    uint8_t operator()(uint8_t ak, uint8_t bk, uint8_t aa, uint8_t ba) const {
        return fast_add(fast_mul(ak, ba), fast_mul(bk, inv(aa)));
    }
};
struct XorFormula {
    uint8_t operator()(uint8_t ak, uint8_t bk, uint8_t aa, uint8_t ba) const {
        return fast_add(fast_mul(ak, inv(ba)), fast_mul(bk, inv(aa)));
    }
};

// Runs `block` over n pixels of the streams: whole blocks in place, then the last
// partial block on zero-padded copies (taken before anything is written, so
// aliasing between out and a source does not matter there either).
template <class Block>
[[gnu::always_inline]] inline void run_streams_body(int64_t n, int planes, const Streams& s,
                                                    const Block& block) {
    int64_t i = 0;
    for (; i + kBlock <= n; i += kBlock) block(s, i);
    const int64_t rest = n - i;
    if (rest <= 0) return;
    uint8_t pad[3][4][kBlock] = {};
    Streams t{};
    for (int k = 0; k < 4; ++k) {
        t.a[k] = pad[0][k];
        t.b[k] = pad[1][k];
        t.o[k] = pad[2][k];
    }
    const size_t len = static_cast<size_t>(rest);
    for (int k = 0; k < planes; ++k) {
        std::memcpy(pad[0][k], s.a[k] + i, len);
        std::memcpy(pad[1][k], s.b[k] + i, len);
    }
    block(t, 0);
    for (int k = 0; k < planes; ++k) std::memcpy(s.o[k] + i, pad[2][k], len);
}

// The same loops compiled twice: for the baseline instruction set and for AVX2,
// chosen once at run time. Both compute the same exact integers.
template <class Block>
void run_streams_base(int64_t n, int planes, const Streams& s, const Block& block) {
    run_streams_body(n, planes, s, block);
}
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
template <class Block>
[[gnu::target("avx2")]] void run_streams_avx2(int64_t n, int planes, const Streams& s,
                                              const Block& block) {
    run_streams_body(n, planes, s, block);
}
#endif
WideVectors g_wide;  // composite_allow_wide_vectors

template <class Block>
void run_streams(int64_t n, int planes, const Streams& s, const Block& block) {
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
    if (g_wide.avx2()) return run_streams_avx2(n, planes, s, block);
#endif
    run_streams_base(n, planes, s, block);
}

// A run of columns [x1, x2] of the work region that lies wholly inside or wholly
// outside each source window (in x).
struct Span {
    int64_t x1, x2;
    bool in_a, in_b;
};

// Cuts the columns of r where either source window starts or ends.
std::vector<Span> column_spans(const Rect& r, const ImageBuffer& a, const ImageBuffer& b) {
    const Rect wa = a.rect(), wb = b.rect();
    const int64_t a1 = std::max(wa.x1, r.x1), a2 = std::min(wa.x2, r.x2);
    const int64_t b1 = std::max(wb.x1, r.x1), b2 = std::min(wb.x2, r.x2);
    std::vector<int64_t> cuts{r.x1, r.x2 + 1};
    if (a1 <= a2) cuts.insert(cuts.end(), {a1, a2 + 1});
    if (b1 <= b2) cuts.insert(cuts.end(), {b1, b2 + 1});
    std::sort(cuts.begin(), cuts.end());
    cuts.erase(std::unique(cuts.begin(), cuts.end()), cuts.end());
    std::vector<Span> spans;
    for (size_t c = 0; c + 1 < cuts.size(); ++c) {
        const int64_t x1 = cuts[c], x2 = cuts[c + 1] - 1;
        spans.push_back({x1, x2, a1 <= x1 && x2 <= a2, b1 <= x1 && x2 <= b2});
    }
    return spans;
}

// The common frame of the six operators once the buffers are checked. Where a
// source does not cover a pixel it supplies fill_a / fill_b in every plane.
template <class Block>
void composite_buffers(const ImageBuffer& a, const ImageBuffer& b, ImageBuffer& out, int planes,
                       uint8_t fill_a, uint8_t fill_b, const Block& block) {
    if (same_geometry3(a, b, out)) {
        // One geometry: every plane is one flat array of width × height samples.
        Streams s{};
        for (int k = 0; k < planes; ++k) {
            s.a[k] = a.plane[k];
            s.b[k] = b.plane[k];
            s.o[k] = out.plane[k];
        }
        // Ranges of whole blocks, so each range runs the same loops on its part.
        const int64_t n = out.plane_size(), blocks = (n + kBlock - 1) / kBlock;
        parallel_for(blocks, 1024, [&](int64_t b0, int64_t b1) {
            Streams part{};
            const int64_t i = b0 * kBlock;
            for (int k = 0; k < planes; ++k) {
                part.a[k] = s.a[k] + i;
                part.b[k] = s.b[k] + i;
                part.o[k] = s.o[k] + i;
            }
            run_streams(std::min(n, b1 * kBlock) - i, planes, part, block);
        });
        return;
    }
    const Rect r = composite_window(a, b, out);
    if (r.empty()) return;
    // A source that does not cover a stretch of a row reads a row of its fill value
    // instead, so every run of pixels goes through the same loops.
    const std::vector<uint8_t> row_a(static_cast<size_t>(r.width()), fill_a);
    const std::vector<uint8_t> row_b(static_cast<size_t>(r.width()), fill_b);
    const std::vector<Span> spans = column_spans(r, a, b);
    const Rect wa = a.rect(), wb = b.rect();
    parallel_for(r.height(), rows_for_bytes(r.width() * planes), [&](int64_t i0, int64_t i1) {
        for (int64_t y = r.y2 - i0; y > r.y2 - i1; --y) {
            const bool row_in_a = y >= wa.y1 && y <= wa.y2;
            const bool row_in_b = y >= wb.y1 && y <= wb.y2;
            for (const Span& sp : spans) {
                const bool use_a = row_in_a && sp.in_a, use_b = row_in_b && sp.in_b;
                Streams s{};
                for (int k = 0; k < planes; ++k) {
                    s.a[k] = use_a ? a.row(k, y) + (sp.x1 - a.window.x1) : row_a.data();
                    s.b[k] = use_b ? b.row(k, y) + (sp.x1 - b.window.x1) : row_b.data();
                    s.o[k] = out.row(k, y) + (sp.x1 - out.window.x1);
                }
                run_streams(sp.x2 - sp.x1 + 1, planes, s, block);
            }
        }
    });
}

template <class Formula>
void porter_duff(const ImageBuffer& a, const ImageBuffer& b, ImageBuffer& out, uint8_t fill_a,
                 uint8_t fill_b) {
    composite_buffers(a, b, out, 4, fill_a, fill_b, PorterDuffBlock<Formula>{});
}

}  // namespace

void composite_allow_wide_vectors(bool allow) { g_wide.allowed = allow; }

const char* composite_name(CompositeOp op) {
    switch (op) {
        case CompositeOp::Plus: return "plus";
        case CompositeOp::Over: return "over";
        case CompositeOp::In: return "in";
        case CompositeOp::Out: return "out";
        case CompositeOp::Atop: return "atop";
        case CompositeOp::Xor: return "xor";
    }
    return "";
}

int composite(CompositeOp op, const char* a_name, const char* b_name, const char* out_name) {
    ImageBuffer *a = nullptr, *b = nullptr, *out = nullptr;
    if (!find_buffers3(a_name, b_name, out_name, a, b, out)) return 0;
    const bool fits = op == CompositeOp::Plus ? same_components3(*a, *b, *out) != 0
                                              : all_rgba3(*a, *b, *out) != 0;
    if (!fits) {
        std::fprintf(stderr, "WARNING : component type missing (operation=%s)\n", composite_name(op));
        return 0;
    }
    // Uncovered pixels read the source's outside cell, in every plane; over instead
    // counts a source that does not cover a pixel as 0 (a copy of the other source,
    // or 0 where neither covers).
    const uint8_t fill_a = a->outside[0], fill_b = b->outside[0];
    switch (op) {
        case CompositeOp::Plus:
            composite_buffers(*a, *b, *out, a->components, fill_a, fill_b, PlusBlock{a->components});
            break;
        case CompositeOp::Over: porter_duff<OverFormula>(*a, *b, *out, 0, 0); break;
        case CompositeOp::In: porter_duff<InFormula>(*a, *b, *out, fill_a, fill_b); break;
        case CompositeOp::Out: porter_duff<OutFormula>(*a, *b, *out, fill_a, fill_b); break;
        case CompositeOp::Atop: porter_duff<AtopFormula>(*a, *b, *out, fill_a, fill_b); break;
        case CompositeOp::Xor: porter_duff<XorFormula>(*a, *b, *out, fill_a, fill_b); break;
    }
    return 1;
}

// --- commands ---------------------------------------------------------------------

namespace {

template <CompositeOp Op>
void help_composite(const char* word, int mode) {
    if (mode == 1) {
        std::fprintf(stderr, "Usage : %s inAbuff inBbuff outBuff\n", word);
        return;
    }
    switch (Op) {
        case CompositeOp::Plus: print_summary(word, "plus composite"); break;
        case CompositeOp::Over: print_summary(word, "over composite"); break;
        case CompositeOp::In: print_summary(word, "in composite"); break;
        case CompositeOp::Out: print_summary(word, "out composite"); break;
        case CompositeOp::Atop: print_summary(word, "atop composite"); break;
        case CompositeOp::Xor: print_summary(word, "xor composite"); break;
    }
}

// All six take exactly the three names inAbuff inBbuff outBuff.
template <CompositeOp Op>
int composite_command(int argc, char** argv) {
    if (answer_help(argc, argv, help_composite<Op>)) return 1;
    if (argc != 4) return command_error("Invalid argment count", argv[0], help_composite<Op>);
    return composite(Op, argv[1], argv[2], argv[3]);
}

}  // namespace

int cmd_plus(int argc, char** argv) { return composite_command<CompositeOp::Plus>(argc, argv); }
int cmd_over(int argc, char** argv) { return composite_command<CompositeOp::Over>(argc, argv); }
int cmd_in(int argc, char** argv) { return composite_command<CompositeOp::In>(argc, argv); }
int cmd_out(int argc, char** argv) { return composite_command<CompositeOp::Out>(argc, argv); }
int cmd_atop(int argc, char** argv) { return composite_command<CompositeOp::Atop>(argc, argv); }
int cmd_xor(int argc, char** argv) { return composite_command<CompositeOp::Xor>(argc, argv); }
