// Compositing operators: exact table arithmetic, window handling, aliasing and the
// command messages. A plain per-pixel transcription of the formulas (with window
// tests and outside cells) is the oracle for the row-based worker.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "buffer/image_buffer.h"
#include "ops/composite.h"
#include "ops/tables.h"
#include "tests/kqc_runner.h"

namespace {

constexpr CompositeOp kAllOps[] = {CompositeOp::Plus, CompositeOp::Over, CompositeOp::In,
                                   CompositeOp::Out,  CompositeOp::Atop, CompositeOp::Xor};

// A deep copy of a buffer: its window, planes and outside cell.
struct Snapshot {
    Window w;
    int width = 0, components = 0;
    std::vector<uint8_t> planes[4];
    uint8_t outside = 0;

    explicit Snapshot(const ImageBuffer& b)
        : w(b.window), width(b.width), components(b.components), outside(b.outside[0]) {
        for (int k = 0; k < components; ++k)
            planes[k].assign(b.plane[k], b.plane[k] + b.plane_size());
    }
    bool covers(int64_t x, int64_t y) const {
        return x >= w.x1 && x <= w.x2 && y >= w.y1 && y <= w.y2;
    }
    uint8_t& at(int k, int64_t x, int64_t y) {
        return planes[k][size_t((w.y2 - y) * width + (x - w.x1))];
    }
    bool operator==(const Snapshot& o) const {
        for (int k = 0; k < 4; ++k)
            if (planes[k] != o.planes[k]) return false;
        return outside == o.outside;
    }
};

uint8_t mul(uint8_t x, uint8_t y) { return MulTable[x * 256 + y]; }
uint8_t add(uint8_t x, uint8_t y) { return AddTable[x * 256 + y]; }
uint8_t inv(uint8_t v) { return uint8_t(255 - v); }

// The operators pixel by pixel through the tables, over the bounding box of the
// source windows cut to out's window; returns what out should become.
Snapshot reference(CompositeOp op, const Snapshot& a, const Snapshot& b, Snapshot out) {
    const int64_t x1 = std::max(std::min(a.w.x1, b.w.x1), out.w.x1);
    const int64_t x2 = std::min(std::max(a.w.x2, b.w.x2), out.w.x2);
    const int64_t y1 = std::max(std::min(a.w.y1, b.w.y1), out.w.y1);
    const int64_t y2 = std::min(std::max(a.w.y2, b.w.y2), out.w.y2);
    Snapshot sa = a, sb = b;
    for (int64_t y = y2; y >= y1; --y)
        for (int64_t x = x1; x <= x2; ++x) {
            uint8_t A[4], B[4];
            for (int k = 0; k < out.components; ++k) {
                // Uncovered: the outside cell, or 0 for over.
                const uint8_t fa = op == CompositeOp::Over ? 0 : sa.outside;
                const uint8_t fb = op == CompositeOp::Over ? 0 : sb.outside;
                A[k] = sa.covers(x, y) ? sa.at(k, x, y) : fa;
                B[k] = sb.covers(x, y) ? sb.at(k, x, y) : fb;
            }
            for (int k = 0; k < out.components; ++k) {
                uint8_t v = 0;
                switch (op) {
                    case CompositeOp::Plus: v = add(A[k], B[k]); break;
                    case CompositeOp::Over: v = add(A[k], mul(B[k], inv(A[3]))); break;
                    case CompositeOp::In: v = mul(A[k], B[3]); break;
                    case CompositeOp::Out: v = mul(A[k], inv(B[3])); break;
                    case CompositeOp::Atop: v = add(mul(A[k], B[3]), mul(B[k], inv(A[3]))); break;
                    case CompositeOp::Xor: v = add(mul(A[k], inv(B[3])), mul(B[k], inv(A[3]))); break;
                }
                out.at(k, x, y) = v;
            }
        }
    return out;
}

ImageBuffer* make(const char* name, int x, int y, int w, int h, int c = 4) {
    return make_buffer(name, x, y, w, h, c);
}

void fill_random(ImageBuffer& b, std::mt19937& rng) {
    for (int k = 0; k < b.components; ++k)
        for (int64_t i = 0; i < b.plane_size(); ++i) b.plane[k][i] = uint8_t(rng());
}

void fill(ImageBuffer& b, std::initializer_list<int> v) {
    int k = 0;
    for (int value : v) std::fill_n(b.plane[k++], b.plane_size(), uint8_t(value));
}

// Runs op on named buffers and checks out against the oracle computed from
// snapshots taken before the run.
void expect_matches_reference(CompositeOp op, const char* a, const char* b, const char* out) {
    const Snapshot sa(*find_buffer(a)), sb(*find_buffer(b)), so(*find_buffer(out));
    ASSERT_EQ(composite(op, a, b, out), 1);
    const Snapshot want = reference(op, sa, sb, so);
    const Snapshot got(*find_buffer(out));
    EXPECT_TRUE(got == want) << composite_name(op) << " " << a << " " << b << " " << out;
}

class CompositeTest : public ::testing::Test {
protected:
    void SetUp() override { clear_registry(); }
    void TearDown() override { clear_registry(); }
};

// The oracle comparisons run through both builds of the pixel loops.
class CompositeLoops : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override {
        clear_registry();
        composite_allow_wide_vectors(GetParam());
    }
    void TearDown() override {
        composite_allow_wide_vectors(true);
        clear_registry();
    }
};
INSTANTIATE_TEST_SUITE_P(Vectors, CompositeLoops, ::testing::Values(true, false),
                         [](const auto& info) { return info.param ? "Wide" : "Baseline"; });

TEST(CompositeTables, DocumentedValues) {
    EXPECT_EQ(mul(128, 1), 0);
    EXPECT_EQ(mul(128, 2), 1);
    EXPECT_EQ(mul(200, 5), 3);
    EXPECT_EQ(add(200, 100), 255);
    for (int x = 0; x < 256; ++x) {
        EXPECT_EQ(mul(uint8_t(x), 255), x);
        EXPECT_EQ(add(uint8_t(x), 0), x);
    }
}

TEST(CompositeTables, FastArithmeticEqualsTablesForEveryPair) {
    for (int x = 0; x < 256; ++x)
        for (int y = 0; y < 256; ++y) {
            ASSERT_EQ(fast_mul(uint8_t(x), uint8_t(y)), x * y / 255) << x << " " << y;
            ASSERT_EQ(fast_mul(uint8_t(x), uint8_t(y)), mul(uint8_t(x), uint8_t(y)));
            ASSERT_EQ(fast_add(uint8_t(x), uint8_t(y)), add(uint8_t(x), uint8_t(y)));
        }
    // The shift form floor(t / 255) = (t + (t >> 8) + 1) >> 8 over every product.
    for (uint32_t t = 0; t <= 65025; ++t) ASSERT_EQ((t + (t >> 8) + 1) >> 8, t / 255) << t;
}

// Every (x, y) pair reaches every product and sum of every operator through the
// vectorised loops: 256 × 256 pixels whose planes carry x, y and mixes of them.
TEST_P(CompositeLoops, EveryPairThroughTheLoops) {
    for (CompositeOp op : kAllOps) {
        ImageBuffer* a = make("a", 0, 0, 256, 256);
        ImageBuffer* b = make("b", 0, 0, 256, 256);
        make("o", 0, 0, 256, 256);
        for (int64_t i = 0; i < 65536; ++i) {
            const uint8_t x = uint8_t(i & 255), y = uint8_t(i >> 8);
            const uint8_t av[4] = {x, y, uint8_t(x ^ y), y};
            const uint8_t bv[4] = {y, x, uint8_t(255 - x), x};
            for (int k = 0; k < 4; ++k) {
                a->plane[k][i] = av[k];
                b->plane[k][i] = bv[k];
            }
        }
        expect_matches_reference(op, "a", "b", "o");
    }
}

TEST_P(CompositeLoops, RandomImagesSameGeometry) {
    std::mt19937 rng(7);
    for (CompositeOp op : kAllOps)
        for (int c : {1, 3, 4}) {
            if (op != CompositeOp::Plus && c != 4) continue;
            // Odd sizes leave partial blocks at the end of the planes.
            const int w = 1 + int(rng() % 97), h = 1 + int(rng() % 13);
            fill_random(*make("a", -3, 5, w, h, c), rng);
            fill_random(*make("b", -3, 5, w, h, c), rng);
            fill_random(*make("o", -3, 5, w, h, c), rng);
            expect_matches_reference(op, "a", "b", "o");
        }
}

TEST_P(CompositeLoops, RandomImagesGeneralCase) {
    std::mt19937 rng(11);
    auto random_buffer = [&](const char* name, int c) {
        const int x = int(rng() % 60) - 30, y = int(rng() % 60) - 30;
        const int w = int(rng() % 150), h = int(rng() % 40);  // empty windows included
        ImageBuffer* b = make(name, x, y, w, h, c);
        fill_random(*b, rng);
        if (rng() % 2) store_pixel(*b, b->window.x1 - 1, b->window.y1, 0, int(rng()));
    };
    for (int round = 0; round < 40; ++round)
        for (CompositeOp op : kAllOps) {
            const int c = op == CompositeOp::Plus ? int(1 + 2 * (rng() % 2)) : 4;
            random_buffer("a", c);
            random_buffer("b", c);
            random_buffer("o", c);
            expect_matches_reference(op, "a", "b", "o");
        }
}

TEST_P(CompositeLoops, RandomImagesWithAliasing) {
    std::mt19937 rng(13);
    for (CompositeOp op : kAllOps)
        for (bool same_geometry : {true, false}) {
            struct Case {
                const char *a, *b, *o;
            };
            for (Case c : {Case{"a", "b", "a"}, Case{"a", "b", "b"}, Case{"a", "a", "o"},
                           Case{"a", "a", "a"}}) {
                ImageBuffer* a = make("a", 0, 0, 77, 9);
                ImageBuffer* b = same_geometry ? make("b", 0, 0, 77, 9) : make("b", 30, -4, 60, 10);
                make("o", -5, -5, 120, 20);
                for (ImageBuffer* p : {a, b, find_buffer("o")}) {
                    fill_random(*p, rng);
                    p->outside[0] = uint8_t(rng());
                }
                expect_matches_reference(op, c.a, c.b, c.o);
            }
        }
}

TEST_F(CompositeTest, TruncationAndSaturationExamples) {
    ImageBuffer* a = make("a", 0, 0, 4, 1);
    ImageBuffer* b = make("b", 0, 0, 4, 1);
    ImageBuffer* o = make("o", 0, 0, 4, 1);
    // in: Ar = 1, 255, 7, 9 against Ba = 128, 128, 255, 0.
    const uint8_t ar[4] = {1, 255, 7, 9}, ba[4] = {128, 128, 255, 0};
    for (int i = 0; i < 4; ++i) {
        a->plane[0][i] = ar[i];
        a->plane[3][i] = 200;
        b->plane[3][i] = ba[i];
    }
    ASSERT_EQ(composite(CompositeOp::In, "a", "b", "o"), 1);
    EXPECT_EQ(o->plane[0][0], 0);
    EXPECT_EQ(o->plane[0][1], 128);
    EXPECT_EQ(o->plane[0][2], 7);
    EXPECT_EQ(o->plane[3][2], 200);
    for (int k = 0; k < 4; ++k) EXPECT_EQ(o->plane[k][3], 0);

    // plus saturates; on one-plane buffers too.
    make("p", 0, 0, 2, 1, 1)->plane[0][0] = 200;
    make("q", 0, 0, 2, 1, 1)->plane[0][0] = 100;
    make("r", 0, 0, 2, 1, 1);
    ASSERT_EQ(composite(CompositeOp::Plus, "p", "q", "r"), 1);
    EXPECT_EQ(find_buffer("r")->plane[0][0], 255);
}

TEST_F(CompositeTest, OpaqueAndTransparentSources) {
    ImageBuffer* a = make("a", 0, 0, 1, 1);
    ImageBuffer* b = make("b", 0, 0, 1, 1);
    ImageBuffer* o = make("o", 0, 0, 1, 1);
    auto pixel = [&](ImageBuffer* p) {
        return std::vector<int>{p->plane[0][0], p->plane[1][0], p->plane[2][0], p->plane[3][0]};
    };
    fill(*b, {90, 80, 70, 60});
    fill(*a, {10, 20, 30, 255});
    ASSERT_EQ(composite(CompositeOp::Over, "a", "b", "o"), 1);
    EXPECT_EQ(pixel(o), (std::vector<int>{10, 20, 30, 255}));
    ASSERT_EQ(composite(CompositeOp::Atop, "a", "b", "o"), 1);
    EXPECT_EQ(o->plane[3][0], 60);
    fill(*a, {200, 20, 30, 0});  // colour added to B's unscaled, saturating
    ASSERT_EQ(composite(CompositeOp::Over, "a", "b", "o"), 1);
    EXPECT_EQ(pixel(o), (std::vector<int>{255, 100, 100, 60}));
    fill(*a, {10, 20, 30, 255});
    fill(*b, {90, 80, 70, 255});
    ASSERT_EQ(composite(CompositeOp::Xor, "a", "b", "o"), 1);
    EXPECT_EQ(pixel(o), (std::vector<int>{0, 0, 0, 0}));
}

// A at (0,0) 10×10, B at (5,5) 10×10, out at (0,0) 20×20: only (0..14, 0..14) is
// written, and pixels there outside both sources become 0.
TEST_F(CompositeTest, WorkRegionIsTheBoundingBoxCutToOut) {
    for (CompositeOp op : {CompositeOp::Plus, CompositeOp::Over, CompositeOp::Atop}) {
        fill(*make("a", 0, 0, 10, 10), {100, 100, 100, 100});
        fill(*make("b", 5, 5, 10, 10), {50, 50, 50, 50});
        ImageBuffer* o = make("o", 0, 0, 20, 20);
        fill(*o, {7, 7, 7, 7});
        ASSERT_EQ(composite(op, "a", "b", "o"), 1);
        for (int k = 0; k < 4; ++k) {
            EXPECT_EQ(pixel_address(*o, k, 12, 2), 0);
            EXPECT_EQ(pixel_address(*o, k, 2, 12), 0);
            EXPECT_EQ(pixel_address(*o, k, 15, 3), 7);
            EXPECT_EQ(pixel_address(*o, k, 3, 15), 7);
            EXPECT_EQ(pixel_address(*o, k, 19, 19), 7);
            EXPECT_NE(pixel_address(*o, k, 14, 14), 7);
        }
    }
}

TEST_F(CompositeTest, OutsideCellFillsEveryPlaneButOverCountsZero) {
    fill(*make("a", 0, 0, 2, 1), {10, 20, 30, 40});
    ImageBuffer* b = make("b", 1, 0, 2, 1);
    fill(*b, {1, 2, 3, 4});
    store_pixel(*find_buffer("a"), -9, -9, 0, 5);  // a's outside cell becomes 5
    b->outside[0] = 250;
    ImageBuffer* o = make("o", 0, 0, 3, 1);
    ASSERT_EQ(composite(CompositeOp::Plus, "a", "b", "o"), 1);
    // x = 0: B outside (250); x = 2: A outside (5).
    EXPECT_EQ((std::vector<int>{o->plane[0][0], o->plane[3][0], o->plane[0][2], o->plane[3][2]}),
              (std::vector<int>{255, 255, 6, 9}));
    ASSERT_EQ(composite(CompositeOp::Over, "a", "b", "o"), 1);
    EXPECT_EQ((std::vector<int>{o->plane[0][0], o->plane[3][0], o->plane[0][2], o->plane[3][2]}),
              (std::vector<int>{10, 40, 1, 4}));
}

TEST_F(CompositeTest, OverWithDisjointSources) {
    fill(*make("a", 0, 0, 10, 10), {1, 2, 3, 4});
    fill(*make("b", 20, 0, 10, 10), {5, 6, 7, 8});
    ImageBuffer* o = make("o", 0, 0, 30, 10);
    fill(*o, {9, 9, 9, 9});
    ASSERT_EQ(composite(CompositeOp::Over, "a", "b", "o"), 1);
    for (int64_t y = 0; y < 10; ++y)
        for (int64_t x = 0; x < 30; ++x)
            for (int k = 0; k < 4; ++k) {
                const int want = x < 10 ? 1 + k : x < 20 ? 0 : 5 + k;
                ASSERT_EQ(pixel_address(*o, k, x, y), want) << x << "," << y << " plane " << k;
            }
}

TEST_F(CompositeTest, FailuresChangeNothing) {
    std::mt19937 rng(5);
    fill_random(*make("a", 0, 0, 8, 8), rng);
    fill_random(*make("b3", 0, 0, 8, 8, 3), rng);
    fill_random(*make("o", 0, 0, 8, 8), rng);
    const Snapshot before(*find_buffer("o"));
    testing::internal::CaptureStderr();
    EXPECT_EQ(composite(CompositeOp::Over, "a", "b3", "o"), 0);
    EXPECT_EQ(composite(CompositeOp::Plus, "a", "b3", "o"), 0);
    EXPECT_EQ(composite(CompositeOp::Xor, "a", "nosuch", "o"), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "WARNING : component type missing (operation=over)\n"
              "WARNING : component type missing (operation=plus)\n"
              "WARNING : Can't find buff (name=nosuch)\n");
    EXPECT_TRUE(Snapshot(*find_buffer("o")) == before);
}

// --- commands ---------------------------------------------------------------------

TEST(CompositeCommand, HelpTexts) {
    const KqcRun r = run_kqc("plus ?\nover ?\nin ?\nout ?\natop ?\nxor ?\nxor -h\nin -\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err,
              "\tplus\t-> plus composite\n\tover\t-> over composite\n\tin\t-> in composite\n"
              "\tout\t-> out composite\n\tatop\t-> atop composite\n\txor\t-> xor composite\n"
              "Usage : xor inAbuff inBbuff outBuff\nUsage : in inAbuff inBbuff outBuff\n");
}

TEST(CompositeCommand, ArgumentAndBufferErrors) {
    const KqcRun r = run_kqc(
        "create a\ncreate o\ncreate c3 -c 3\n"
        "plus a o\n"
        "over a o o extra\n"
        "atop a nosuch o\n"
        "in a c3 o\n"
        "plus a c3 o\n"
        "out a a o\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err,
              "ERROR : Invalid argment count\nUsage : plus inAbuff inBbuff outBuff\n" +
                  exec_error(4, "plus a o") +
                  "ERROR : Invalid argment count\nUsage : over inAbuff inBbuff outBuff\n" +
                  exec_error(5, "over a o o extra") +
                  "WARNING : Can't find buff (name=nosuch)\n" + exec_error(6, "atop a nosuch o") +
                  "WARNING : component type missing (operation=in)\n" + exec_error(7, "in a c3 o") +
                  "WARNING : component type missing (operation=plus)\n" +
                  exec_error(8, "plus a c3 o"));
}

}  // namespace
