// Colour operations: the tables, the exact fast forms of sample tables, the workers
// against a plain per-pixel transcription (same geometry, other windows, in = out),
// the documented examples and the command messages.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "buffer/image_buffer.h"
#include "ops/colour.h"
#include "ops/tables.h"
#include "tests/command_helpers.h"
#include "tests/kqc_runner.h"

namespace {

class ColourTest : public ::testing::Test {
protected:
    void SetUp() override { clear_registry(); }
    void TearDown() override { clear_registry(); }
};

ImageBuffer* make(const char* name, int x, int y, int w, int h, int c = 4) {
    return make_buffer(name, x, y, w, h, c);
}

void fill_random(ImageBuffer& b, std::mt19937& rng) {
    for (int k = 0; k < b.components; ++k)
        for (int64_t i = 0; i < b.plane_size(); ++i) b.plane[k][i] = uint8_t(rng());
}

// Sets every pixel of the buffer to the given samples, one per plane.
void set_all(const char* name, std::initializer_list<int> v) {
    ImageBuffer& b = *find_buffer(name);
    int k = 0;
    for (int value : v) std::fill_n(b.plane[k++], b.plane_size(), uint8_t(value));
}

std::vector<int> pixel(const char* name, int x, int y) {
    std::vector<int> v;
    for (int p = 0; p < find_buffer(name)->components; ++p) v.push_back(sample(name, p, x, y));
    return v;
}

// A deep copy of a buffer, read as pixel_address reads it.
struct Copy {
    Rect r;
    int width = 0, components = 0;
    uint8_t outside = 0;
    std::vector<uint8_t> planes[4];
    explicit Copy(const ImageBuffer& b)
        : r(b.rect()), width(b.width), components(b.components), outside(b.outside[0]) {
        for (int p = 0; p < components; ++p) planes[p].assign(b.plane[p], b.plane[p] + b.plane_size());
    }
    int at(int p, int64_t x, int64_t y) const {
        if (x < r.x1 || x > r.x2 || y < r.y1 || y > r.y2) return outside;
        return planes[p][size_t((r.y2 - y) * width + (x - r.x1))];
    }
    bool operator==(const Copy& o) const {
        for (int p = 0; p < 4; ++p)
            if (planes[p] != o.planes[p]) return false;
        return outside == o.outside;
    }
};

enum class Op { Nega, Mono, Paint, Pile, Repile };

// The two-buffer operations pixel by pixel, straight from their formulas.
Copy reference(Op op, const Copy& in, Copy out, int mask, int source, const uint8_t k[3], int mode) {
    for (int64_t y = out.r.y2; y >= out.r.y1; --y)
        for (int64_t x = out.r.x1; x <= out.r.x2; ++x) {
            auto set = [&](int p, int v) {
                out.planes[p][size_t((out.r.y2 - y) * out.width + (x - out.r.x1))] = uint8_t(v);
            };
            const int a = in.components == 4 ? in.at(3, x, y) : 0;
            switch (op) {
                case Op::Nega:
                    for (int p = 0; p < out.components; ++p)
                        set(p, mask & (1 << p) ? 255 - in.at(p, x, y) : in.at(p, x, y));
                    break;
                case Op::Mono: {
                    const int g = (77 * in.at(0, x, y) + 151 * in.at(1, x, y) + 28 * in.at(2, x, y)) >> 8;
                    for (int p = 0; p < 3; ++p) set(p, g);
                    if (in.components == 4 && out.components == 4) set(3, a);
                    break;
                }
                case Op::Paint: {
                    const int v = in.at(source, x, y);
                    for (int p = 0; p < 3; ++p) set(p, MulTable[v * 256 + k[p]]);
                    if (mode == 1) set(3, v);
                    if (mode == 2) set(3, a);
                    break;
                }
                case Op::Pile:
                case Op::Repile:
                    for (int p = 0; p < 3; ++p)
                        set(p, (op == Op::Pile ? MulTable : DivTable)[in.at(p, x, y) * 256 + a]);
                    set(3, a);
                    break;
            }
        }
    return out;
}

TEST(ColourTables, DivTableDocumentedValues) {
    EXPECT_EQ(div_table(7, 35), 50);
    EXPECT_EQ(div_table(33, 33), 254);
    EXPECT_EQ(div_table(1, 1), 255);
    EXPECT_EQ(div_table(128, 129), 253);
    EXPECT_EQ(div_table(64, 120), 136);
    for (int x = 0; x < 256; ++x)
        for (int y = 0; y < 256; ++y) {
            const int want = y == 0 || x == 0 ? 0 : x > y ? 255 : div_table(uint8_t(x), uint8_t(y));
            ASSERT_EQ(div_table(uint8_t(x), uint8_t(y)), want) << x << " " << y;
        }
}

TEST(ColourTables, ScaleAndAdjustTables) {
    // Every factor byte through the table branch: MulTable[s][k].
    for (int k = 0; k < 256; ++k) {
        const SampleTable t = scale_table(k / 255.0);
        for (int s = 0; s < 256; ++s) ASSERT_EQ(t[s], MulTable[s * 256 + k]) << s << " " << k;
    }
    EXPECT_EQ(scale_table(0.5)[255], 127);
    EXPECT_EQ(scale_table(0.5)[128], 63);
    EXPECT_EQ(scale_table(2.0)[100], 200);
    EXPECT_EQ(scale_table(2.0)[200], 255);
    EXPECT_EQ(scale_table(-1.0)[200], 0);
    EXPECT_EQ(scale_table(1.5f)[101], 152);
    EXPECT_EQ(scale_table(-0.0f)[200], 0);
    EXPECT_EQ(scale_table(std::nan(""))[200], 0);
    // The test is on the single-precision factor: 1.00000001 rounds to 1.
    EXPECT_EQ(scale_table(float(1.00000001))[200], 200);
    EXPECT_EQ(scale_table(1.00000001)[200], 200);  // 200.000002 + 0.5 truncated
    EXPECT_EQ(scale_table(1.003)[200], 201);
    // The single-precision product: 5 × 1.3f rounds to 6.5 in float.
    EXPECT_EQ(scale_table(1.3f)[5], 7);

    const SampleTable t = adjust_table(50, 100);
    EXPECT_EQ(t[50], 0);
    EXPECT_EQ(t[75], 127);
    EXPECT_EQ(t[100], 255);
    EXPECT_EQ(adjust_table(100, 50), t);
    const SampleTable th = adjust_table(128, 128);
    EXPECT_EQ(th[128], 0);
    EXPECT_EQ(th[129], 255);
    EXPECT_EQ(adjust_table(-10, 300)[0], 8);  // 10 / 310 × 255
    EXPECT_EQ(adjust_table(INT32_MIN, INT32_MAX)[255], 127);  // no overflow
}

// Every table the commands build, through its fast form, equals the table at every
// sample and every alignment of the run.
TEST(ColourTables, SampleMapsReproduceTheirTables) {
    std::vector<std::pair<SampleTable, double>> tables;
    for (int k = 0; k < 256; ++k) tables.push_back({scale_table(k / 255.0), k / 255.0});
    std::mt19937 rng(7);
    std::uniform_real_distribution<double> big(1.0, 300.0), neg(-5.0, 0.0);
    for (int i = 0; i < 300; ++i) {
        const double v = i % 3 == 0 ? big(rng) : i % 3 == 1 ? 1.0 + big(rng) / 300.0 : neg(rng);
        tables.push_back({scale_table(v), v});
        tables.push_back({scale_table(float(v)), v});
    }
    for (int lo = -3; lo < 262; lo += 7)
        for (int hi = -5; hi < 264; hi += 3)
            tables.push_back({adjust_table(lo, hi), lo == hi ? 0.0 : 255.0 / std::abs(hi - lo)});
    SampleTable negative{};
    for (int s = 0; s < 256; ++s) negative[s] = uint8_t(255 - s);
    tables.push_back({negative, -1.0});

    std::vector<uint8_t> src(256 * 3 + 5), dst(src.size()), same(src.size());
    for (size_t i = 0; i < src.size(); ++i) src[i] = uint8_t(i * 7 + i / 256);
    int lookups = 0;
    for (const auto& [table, slope] : tables) {
        const SampleMap m = make_sample_map(table, slope);
        lookups += m.kind == SampleMap::Lookup;
        for (int64_t off : {0, 1, 3}) {
            const int64_t n = int64_t(src.size()) - off;
            apply_sample_map(m, src.data() + off, dst.data(), n);
            same = src;
            apply_sample_map(m, same.data() + off, same.data() + off, n);  // in place
            for (int64_t i = 0; i < n; ++i) {
                ASSERT_EQ(dst[size_t(i)], table[src[size_t(i + off)]]) << "slope " << slope;
                ASSERT_EQ(same[size_t(i + off)], table[src[size_t(i + off)]]);
            }
        }
    }
    EXPECT_LT(lookups, int(tables.size()) / 10);  // the fast forms cover nearly all
}

TEST_F(ColourTest, FactorScalingExamples) {
    make("a", 0, 0, 3, 2);
    set_all("a", {101, 255, 0, 255});
    find_buffer("a")->plane[3][1] = 128;
    ASSERT_EQ(opaque("a", 0.5), 1);
    EXPECT_EQ(pixel("a", 0, 1), (std::vector<int>{101, 255, 0, 127}));
    EXPECT_EQ(sample("a", 3, 1, 1), 63);
    ASSERT_EQ(opaque("a", 1.0), 1);
    EXPECT_EQ(sample("a", 3, 0, 1), 127);
    ASSERT_EQ(opaque("a", 2.0), 1);
    EXPECT_EQ(sample("a", 3, 1, 1), 126);
    EXPECT_EQ(sample("a", 3, 0, 1), 254);
    ASSERT_EQ(opaque("a", -1.0), 1);
    EXPECT_EQ(sample("a", 3, 0, 1), 0);
    set_all("a", {101, 255, 0, 255});
    ASSERT_EQ(opaque("a", 0.0), 1);
    EXPECT_EQ(pixel("a", 2, 0), (std::vector<int>{101, 255, 0, 0}));

    set_all("a", {101, 101, 101, 40});
    ASSERT_EQ(darkness("a", 1.5f, 1.5f, 1.5f), 1);
    EXPECT_EQ(pixel("a", 0, 0), (std::vector<int>{152, 152, 152, 40}));
    set_all("a", {255, 255, 255, 255});
    ASSERT_EQ(darkness("a", 0.5f, 1.0f, 1.0f), 1);
    EXPECT_EQ(pixel("a", 0, 0), (std::vector<int>{127, 255, 255, 255}));

    make("g", 0, 0, 2, 2, 1);
    set_all("g", {200});
    ASSERT_EQ(dissolve("g", 0.5), 1);
    EXPECT_EQ(sample("g", 0, 1, 1), 99);  // MulTable[200][127]
    ASSERT_EQ(dissolve("a", 2.0), 1);
    EXPECT_EQ(pixel("a", 1, 1), (std::vector<int>{254, 255, 255, 255}));
}

TEST_F(ColourTest, TwoBufferExamples) {
    make("in", 0, 0, 3, 1);
    make("out", 0, 0, 3, 1);
    ImageBuffer& in = *find_buffer("in");
    const uint8_t px[3][4] = {{255, 0, 0, 10}, {0, 0, 255, 20}, {255, 255, 255, 0}};
    for (int x = 0; x < 3; ++x)
        for (int p = 0; p < 4; ++p) in.plane[p][x] = px[x][p];
    ASSERT_EQ(mono("in", "out"), 1);
    EXPECT_EQ(pixel("out", 0, 0), (std::vector<int>{76, 76, 76, 10}));
    EXPECT_EQ(pixel("out", 1, 0), (std::vector<int>{27, 27, 27, 20}));
    EXPECT_EQ(pixel("out", 2, 0), (std::vector<int>{255, 255, 255, 0}));

    set_all("in", {50, 75, 100, 200});
    const int lo[4] = {50, 128, 128, 128}, hi[4] = {100, 128, 128, 128};
    ASSERT_EQ(adjustcol("in", "out", 1, lo, hi), 1);
    EXPECT_EQ(pixel("out", 0, 0), (std::vector<int>{0, 75, 100, 200}));
    set_all("in", {75, 128, 129, 0});
    ASSERT_EQ(adjustcol("in", "out", 15, lo, hi), 1);
    EXPECT_EQ(pixel("out", 1, 0), (std::vector<int>{127, 0, 255, 0}));

    set_all("in", {200, 100, 50, 128});
    in.plane[3][2] = 0;
    ASSERT_EQ(pile("in", "out", false), 1);
    EXPECT_EQ(pixel("out", 0, 0), (std::vector<int>{100, 50, 25, 128}));
    EXPECT_EQ(pixel("out", 2, 0), (std::vector<int>{0, 0, 0, 0}));
    ASSERT_EQ(pile("out", "out", true), 1);
    EXPECT_EQ(pixel("out", 0, 0), (std::vector<int>{199, 99, 49, 128}));  // not restored
    EXPECT_EQ(pixel("out", 2, 0), (std::vector<int>{0, 0, 0, 0}));
}

// Outside in's window, out reads in's outside cell in every plane.
TEST_F(ColourTest, OutsideCellWhereWindowsDiffer) {
    make("in", 1, 0, 1, 1);
    make("out", 0, 0, 3, 1);
    set_all("in", {10, 20, 30, 40});
    ASSERT_EQ(nega("in", "out", 7), 1);
    EXPECT_EQ(pixel("out", 0, 0), (std::vector<int>{255, 255, 255, 0}));
    EXPECT_EQ(pixel("out", 1, 0), (std::vector<int>{245, 235, 225, 40}));
    store_pixel(*find_buffer("in"), 9, 9, 0, 60);
    ASSERT_EQ(mono("in", "out"), 1);
    EXPECT_EQ(pixel("out", 2, 0), (std::vector<int>{60, 60, 60, 60}));
}

class ColourRandom : public ColourTest, public ::testing::WithParamInterface<Op> {};
INSTANTIATE_TEST_SUITE_P(Ops, ColourRandom,
                         ::testing::Values(Op::Nega, Op::Mono, Op::Paint, Op::Pile, Op::Repile));

// Random buffers in the same geometry, with another window (and a written outside
// cell), and with in = out, against the plain transcription.
TEST_P(ColourRandom, MatchesPlainTranscription) {
    const Op op = GetParam();
    std::mt19937 rng(int(op) + 11);
    struct Layout {
        int ix, iy, iw, ih, ic, ox, oy, ow, oh, oc;
        bool same;
    };
    const Layout layouts[] = {{0, 0, 67, 13, 4, 0, 0, 67, 13, 4, false},
                              {-5, 7, 30, 20, 4, 0, 0, 37, 23, 4, false},
                              {40, -3, 9, 40, 4, 0, 0, 37, 23, 4, false},
                              {0, 0, 2061, 3, 4, 0, 0, 2061, 3, 4, true},
                              {2, 2, 50, 5, 4, 0, 0, 61, 9, 3, false},
                              {0, 0, 21, 7, 3, 0, 0, 21, 7, 4, false}};
    for (const Layout& l : layouts) {
        if ((op == Op::Pile || op == Op::Repile) && (l.ic != 4 || l.oc != 4)) continue;
        if (op == Op::Nega && l.oc > l.ic) continue;
        for (int round = 0; round < 3; ++round) {
            clear_registry();
            fill_random(*make("in", l.ix, l.iy, l.iw, l.ih, l.ic), rng);
            const char* out_name = l.same ? "in" : "out";
            if (!l.same) fill_random(*make("out", l.ox, l.oy, l.ow, l.oh, l.oc), rng);
            if (round == 1) store_pixel(*find_buffer("in"), -100, -100, 0, int(rng() % 256));
            const int mask = int(rng() % 16), source = int(rng() % unsigned(l.ic == 4 ? 4 : 3));
            const int mode = l.oc == 4 ? int(rng() % (l.ic == 4 ? 3 : 2)) : 0;
            const float colour[3] = {float(rng() % 1000) / 999.0f, float(rng() % 300) / 255.0f, 0.01f};
            uint8_t k[3];
            for (int c = 0; c < 3; ++c) {
                const double v = double(colour[c]) * 255.0;
                k[c] = uint8_t(v >= 255 ? 255 : v);
            }
            const Copy in(*find_buffer("in")), out(*find_buffer(out_name));
            int ok = 0;
            switch (op) {
                case Op::Nega: ok = nega("in", out_name, mask); break;
                case Op::Mono: ok = mono("in", out_name); break;
                case Op::Paint: ok = paint("in", out_name, source, colour, mode); break;
                case Op::Pile: ok = pile("in", out_name, false); break;
                case Op::Repile: ok = pile("in", out_name, true); break;
            }
            ASSERT_EQ(ok, 1);
            EXPECT_TRUE(Copy(*find_buffer(out_name)) == reference(op, in, out, mask, source, k, mode))
                << "layout " << (&l - layouts) << " round " << round;
        }
    }
}

// pile -r over every (sample, alpha) pair, into another buffer and in place.
TEST_F(ColourTest, RepileEveryPair) {
    for (const bool in_place : {false, true}) {
        ImageBuffer& in = *make("in", 0, 0, 256, 259);
        make("out", 0, 0, 256, 259);
        for (int64_t i = 0; i < in.plane_size(); ++i) {
            in.plane[0][i] = uint8_t(i);
            in.plane[1][i] = uint8_t(255 - i);
            in.plane[2][i] = uint8_t(i * 7);
            in.plane[3][i] = uint8_t(i / 256);
        }
        const Copy before(in);
        const char* out = in_place ? "in" : "out";
        ASSERT_EQ(pile("in", out, true), 1);
        const ImageBuffer& o = *find_buffer(out);
        for (int64_t i = 0; i < in.plane_size(); ++i)
            for (int c = 0; c < 3; ++c)
                ASSERT_EQ(o.plane[c][i], DivTable[before.planes[c][size_t(i)] * 256 +
                                                  before.planes[3][size_t(i)]])
                    << i << " " << c;
    }
}

TEST_F(ColourTest, RefusalsChangeNothing) {
    make("g", 0, 0, 2, 2, 1);
    make("c", 0, 0, 2, 2, 3);
    make("a", 0, 0, 2, 2);
    make("w", 1, 0, 2, 2);
    std::mt19937 rng(3);
    for (const char* n : {"g", "c", "a", "w"}) fill_random(*find_buffer(n), rng);
    const Copy g(*find_buffer("g")), c(*find_buffer("c")), a(*find_buffer("a")), w(*find_buffer("w"));
    const int lo[4] = {0, 0, 0, 0}, hi[4] = {9, 9, 9, 9};
    const float white[3] = {1, 1, 1};
    testing::internal::CaptureStderr();
    EXPECT_EQ(opaque("c", 0.5), 0);
    EXPECT_EQ(darkness("g", 0.5f, 0.5f, 0.5f), 0);
    EXPECT_EQ(dissolve("none", 0.5), 0);
    EXPECT_EQ(nega("c", "a", 7), 0);
    EXPECT_EQ(mono("g", "a"), 0);
    EXPECT_EQ(adjustcol("a", "w", 15, lo, hi), 0);
    EXPECT_EQ(paint("a", "g", 0, white, 0), 0);
    EXPECT_EQ(paint("a", "c", 0, white, 1), 0);
    EXPECT_EQ(paint("c", "a", 0, white, 2), 0);
    EXPECT_EQ(paint("c", "a", 3, white, 1), 0);
    EXPECT_EQ(pile("c", "a", false), 0);
    EXPECT_EQ(pile("c", "c", true), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "WARNING : This buff does not have alpha channel (name=c)\n"
              "WARNING : buff component size too small\n"
              "          buff must have 3 plane or more\n"
              "          current buff g is 1 plane\n"
              "WARNING : Can't find buff (name=none)\n"
              "WARNING : input buff component size too small\n"
              "          in-buff must have as many planes as out-buff\n"
              "          current in-buff c is 3 plane\n"
              "          current out-buff a is 4 plane\n"
              "WARNING : component size too small\n"
              "          g is 1 component\n"
              "          a is 4 component\n"
              "WARNING : window size missing\n"
              "          Could you use same window size buff\n"
              "          a is min(0.0)-max(1.1)\n"
              "          w is min(1.0)-max(2.1)\n"
              "WARNING : output buff component size too small\n"
              "          out-buff must have 3 plane or more\n"
              "          current out-buff g is 1 plane\n"
              "WARNING : output buff component size too small\n"
              "          when use copy inBuff plane to out alpha mode, outBuff must have 4 plane\n"
              "          current outBuff c is 3 plane\n"
              "WARNING : input or output buff component size too small\n"
              "          when use copy inBuff alpha to out alpha mode, inBuff must have 4 plane\n"
              "          when use copy inBuff plane to out alpha mode, outBuff must have 4 plane\n"
              "          current inBuff c is 3 plane\n"
              "          current outBuff a is 4 plane\n"
              "WARNING : input buff component size too small\n"
              "          in-buff must have plane #3\n"
              "          current in-buff c is 3 plane\n"
              "WARNING : in/out buff component size not same\n"
              "          Could you use 4 component buffers\n"
              "WARNING : in/out buff component size missing\n"
              "          Could you use 4 component buffers\n"
              "           in c buffer is 3 component\n"
              "          out c buffer is 3 component\n");
    EXPECT_TRUE(Copy(*find_buffer("g")) == g);
    EXPECT_TRUE(Copy(*find_buffer("c")) == c);
    EXPECT_TRUE(Copy(*find_buffer("a")) == a);
    EXPECT_TRUE(Copy(*find_buffer("w")) == w);
}

// --- commands ---------------------------------------------------------------------

TEST(ColourCommand, HelpTexts) {
    const KqcRun r = run_kqc(
        "opaque ?\ndissolve ?\ndarkness ?\nnega ?\nmono ?\nadjustcol ?\npaint ?\npile ?\n"
        "opaque -h\ndissolve -\ndarkness -H\nmono -h\npile -h\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err,
              "\topaque\t-> opaque operation\n\tdissolve\t-> dissolve operation\n"
              "\tdarkness\t-> darkness operation\n\tnega\t-> nega effect\n"
              "\tmono\t-> mono effect\n\tadjustcol\t-> adjust color\n"
              "\tpaint\t-> paint mono data\n\tpile\t-> pile effect\n"
              "Usage : opaque buffName value\nUsage : dissolve buffName value\n"
              "Usage : darkness buffName value\n  or  : darkness buffName valueR valueG valueB\n"
              "Usage : mono inBuff outBuff\n"
              "Usage : pile [-options] inBuff outBuff\n[options]\n -r : repile effect\n");
}

TEST(ColourCommand, ArgumentErrors) {
    const std::string nega_usage =
        "Usage : nega [-options] inBuffName outBuffName\n[options]\n"
        " -rgba : negative red, green, blue, alpha plane\n -rgb : negative red, green blue plane\n"
        " -r : negative   red plane\n -g : negative green plane\n -b : negative  blue plane\n"
        " -a : negative alpha plane\n[Default]\n -rgb\n";
    const std::string adjust_usage =
        "Usage : adjustcol [-options] inBuff outBuff\n[Options]\n"
        " -r min max : adjust   red plane ( component #0 )\n"
        " -g min max : adjust green plane ( component #1 )\n"
        " -b min max : adjust  blue plane ( component #2 )\n"
        " -a min max : adjust alpha plane ( component #3 )\n"
        "[Caution]\n  min, max value range is 0 ~ 255\n[Default]\n"
        " -r 128 128 -g 128 128 -b 128 128 -a 128 128\n"
        " in this case, This command operate red green blue alpha planes\n";
    const std::string paint_usage =
        "Usage : paint [-options] inBuff outBuff\n[options]\n"
        " -r : use inBuff   red plane ( component #0 )\n"
        " -g : use inBuff green plane ( component #1 )\n"
        " -b : use inBuff  blue plane ( component #2 )\n"
        " -a : use inBuff alpha plane ( component #3 )\n"
        " -c r g b : paint color ( 0.0 ~ 1.0 )\n -C R G B : paint color ( 0 ~ 255 )\n"
        " -m : copy inBuff plane to out alpha plane\n"
        " -m4 : copy inBuff alpha to out alpha plane\n[Default]\n -r\n -c 1 1 1\n";
    const std::string pile_usage =
        "Usage : pile [-options] inBuff outBuff\n[options]\n -r : repile effect\n";
    const KqcRun r = run_kqc(
        "opaque a\ndissolve a 1 2\ndarkness a 1 2\nnega a\nnega -r a b c\nmono a\n"
        "adjustcol -r 1 a b\nadjustcol a b c\npaint -C 1 2\npaint a b c\npaint a\n"
        "pile -r a\npile a b c\nopaque nosuch 1\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err,
              "ERROR : Invalid argment count\nUsage : opaque buffName value\n" +
                  exec_error(1, "opaque a") +
                  "ERROR : Invalid argment count\nUsage : dissolve buffName value\n" +
                  exec_error(2, "dissolve a 1 2") +
                  "ERROR : Invalid argment count\nUsage : darkness buffName value\n"
                  "  or  : darkness buffName valueR valueG valueB\n" +
                  exec_error(3, "darkness a 1 2") + "ERROR : You must define in/out buff name\n" +
                  nega_usage + exec_error(4, "nega a") + "ERROR : Invalid argment\n" + nega_usage +
                  exec_error(5, "nega -r a b c") +
                  "ERROR : You must define in/out buff name\nUsage : mono inBuff outBuff\n" +
                  exec_error(6, "mono a") + "ERROR : You must define in/out buff name\n" +
                  adjust_usage + exec_error(7, "adjustcol -r 1 a b") + "ERROR : Invalid argment\n" +
                  adjust_usage + exec_error(8, "adjustcol a b c") + "ERROR : -C need 3 argment(s)\n" +
                  paint_usage + exec_error(9, "paint -C 1 2") + "ERROR : Invalid argment\n" +
                  paint_usage + exec_error(10, "paint a b c") +
                  "ERROR : You must define in/out buff name\n" + paint_usage +
                  exec_error(11, "paint a") + "ERROR : You must define in/out buff name\n" +
                  pile_usage + exec_error(12, "pile -r a") + "ERROR : Invalid argment\n" +
                  pile_usage + exec_error(13, "pile a b c") +
                  "WARNING : Can't find buff (name=nosuch)\n" + exec_error(14, "opaque nosuch 1"));
}

TEST_F(ColourTest, CommandOptions) {
    make("in", 0, 0, 2, 1);
    make("out", 0, 0, 2, 1);
    set_all("in", {10, 200, 30, 40});
    ASSERT_EQ(run_line("nega -r -g in out"), 1);  // the last mask wins
    EXPECT_EQ(pixel("out", 0, 0), (std::vector<int>{10, 55, 30, 40}));
    ASSERT_EQ(run_line("paint -g -C 255 0 0 -m in out"), 1);
    EXPECT_EQ(pixel("out", 0, 0), (std::vector<int>{200, 0, 0, 200}));
    ASSERT_EQ(run_line("paint -c 0.01 0.5 1 -C 128 64 0 -b -m4 in out"), 1);
    EXPECT_EQ(pixel("out", 1, 0), (std::vector<int>{15, 7, 0, 40}));  // 30 × (128, 64, 0) / 255
    ASSERT_EQ(run_line("paint -C 128 64 0 -c 0.01 0.5 1 in out"), 1);  // -c wins: 2 127 255
    EXPECT_EQ(pixel("out", 1, 0), (std::vector<int>{0, 4, 10, 40}));
    ASSERT_EQ(run_line("adjustcol -a 0 80 -r 100 50 in out"), 1);
    EXPECT_EQ(pixel("out", 0, 0), (std::vector<int>{0, 200, 30, 127}));
    ASSERT_EQ(run_line("adjustcol in out"), 1);
    EXPECT_EQ(pixel("out", 0, 0), (std::vector<int>{0, 255, 0, 0}));
    ASSERT_EQ(run_line("darkness in 0.5 1 2"), 1);
    EXPECT_EQ(pixel("in", 0, 0), (std::vector<int>{4, 200, 60, 40}));
    ASSERT_EQ(run_line("pile in out"), 1);
    ASSERT_EQ(run_line("pile -r out out"), 1);
    EXPECT_EQ(pixel("out", 0, 0), (std::vector<int>{0, 197, 57, 40}));
}

}  // namespace
