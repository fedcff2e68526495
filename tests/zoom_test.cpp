// Unit tests of shrink, the two zooms and glow: each worker against a plain
// per-pixel transcription of its formula on random buffers, windows and levels,
// the hand-computed cases, and the messages and temporaries.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "buffer/image_buffer.h"
#include "ops/blur.h"
#include "ops/glow.h"
#include "ops/zoom.h"
#include "tests/command_helpers.h"

namespace {

class Zoom : public ::testing::Test {
protected:
    void SetUp() override { clear_registry(); }
    void TearDown() override {
        zoom_allow_wide_vectors(true);
        clear_registry();
    }
};

// A detached copy of a buffer's pixels, addressed by picture coordinates.
struct Pic {
    Rect r;
    int comps = 0;
    uint8_t cell = 0;
    std::vector<std::vector<uint8_t>> planes;

    explicit Pic(const ImageBuffer& b) : r(b.rect()), comps(b.components), cell(b.outside[0]) {
        for (int p = 0; p < comps; ++p) planes.emplace_back(b.plane[p], b.plane[p] + b.plane_size());
    }
    bool inside(int64_t x, int64_t y) const { return x >= r.x1 && x <= r.x2 && y >= r.y1 && y <= r.y2; }
    uint8_t& at(int p, int64_t x, int64_t y) {
        if (!inside(x, y)) return cell;
        return planes[size_t(p)][size_t((r.y2 - y) * r.width() + (x - r.x1))];
    }
};

void expect_same(const Pic& want, const char* name, const std::string& what) {
    const ImageBuffer* b = find_buffer(name);
    ASSERT_NE(b, nullptr);
    for (int p = 0; p < want.comps; ++p)
        ASSERT_TRUE(std::equal(want.planes[size_t(p)].begin(), want.planes[size_t(p)].end(), b->plane[p]))
            << what << " plane " << p;
}

ImageBuffer* random_buffer(const char* name, int x, int y, int w, int h, int comps,
                           std::mt19937& rng) {
    ImageBuffer* b = make_random_buffer(name, x, y, w, h, comps, rng);
    b->outside[0] = uint8_t(rng());
    return b;
}

int64_t factor(int level) { return level == 17 ? 65535 : int64_t(1) << (level - 1); }

// shrink as defined: a copy of the input reduced in place, row sums then column
// sums, and the lower-left W' x H' rectangle copied through the mask.
Pic plain_shrink(Pic tmp, Pic out, int xl, int yl, int mask) {
    const int64_t cx = factor(xl), cy = factor(yl);
    const int64_t w2 = tmp.r.width() / cx, h2 = tmp.r.height() / cy;
    const int64_t x1 = tmp.r.x1, y1 = tmp.r.y1;
    for (int p = 0; p < tmp.comps; ++p) {
        if (!(mask & (1 << p))) continue;
        if (xl != 1)
            for (int64_t y = y1; y <= tmp.r.y2; ++y)
                for (int64_t j = 0; j < w2; ++j) {
                    int64_t s = 0;
                    for (int64_t c = 0; c < cx; ++c) s += tmp.at(p, x1 + j * cx + c, y);
                    tmp.at(p, x1 + j, y) = uint8_t(s >> (xl - 1));
                }
        if (yl != 1)
            for (int64_t j = 0; j < w2; ++j)
                for (int64_t i = 0; i < h2; ++i) {
                    int64_t s = 0;
                    for (int64_t k = 0; k < cy; ++k) s += tmp.at(p, x1 + j, y1 + i * cy + k);
                    tmp.at(p, x1 + j, y1 + i) = uint8_t(s >> (yl - 1));
                }
    }
    for (int p = 0; p < std::min(tmp.comps, out.comps); ++p) {
        if (!(mask & (1 << p))) continue;
        for (int64_t y = y1; y < y1 + h2; ++y)
            for (int64_t x = x1; x < x1 + w2; ++x)
                if (out.inside(x, y)) out.at(p, x, y) = tmp.at(p, x, y);
    }
    return out;
}

struct AxisMap {
    float scale, offset;
};

AxisMap plain_map(int64_t s1i, int64_t s2i, int64_t d1i, int64_t d2i) {
    float s1 = float(s1i), s2 = float(s2i), d1 = float(d1i), d2 = float(d2i);
    if (d2 != d1) return {(s2 - s1) / (d2 - d1), (d2 * s1 - d1 * s2) / (d2 - d1)};
    return {0.0f, (s2 - s1) * 0.5f};
}

Pic plain_nearest(Pic in, Pic out, const Rect* src, const Rect* dst) {
    Rect s = src ? *src : in.r, d = dst ? *dst : out.r;
    AxisMap mx = plain_map(s.x1, s.x2, d.x1, d.x2), my = plain_map(s.y1, s.y2, d.y1, d.y2);
    for (int64_t y = out.r.y1; y <= out.r.y2; ++y)
        for (int64_t x = out.r.x1; x <= out.r.x2; ++x) {
            if (dst && !(x >= d.x1 && x <= d.x2 && y >= d.y1 && y <= d.y2)) continue;
            int64_t sx = int64_t(mx.scale * float(x) + mx.offset + 0.5f);
            int64_t sy = int64_t(my.scale * float(y) + my.offset + 0.5f);
            for (int p = 0; p < std::min(in.comps, out.comps); ++p) out.at(p, x, y) = in.at(p, sx, sy);
        }
    return out;
}

Pic plain_bilinear(Pic in, Pic out) {
    AxisMap mx = plain_map(in.r.x1, in.r.x2, out.r.x1, out.r.x2);
    AxisMap my = plain_map(in.r.y1, in.r.y2, out.r.y1, out.r.y2);
    for (int64_t y = out.r.y1; y <= out.r.y2; ++y)
        for (int64_t x = out.r.x1; x <= out.r.x2; ++x) {
            float fx = mx.scale * float(x) + mx.offset, fy = my.scale * float(y) + my.offset;
            int64_t ix = int64_t(fx), iy = int64_t(fy);
            float ax = fx - float(ix), ay = fy - float(iy);
            float w11 = ax * ay, w01 = ay - w11, w10 = ax - w11, w00 = 1 - w10 - w01 - w11;
            for (int p = 0; p < std::min(in.comps, out.comps); ++p) {
                float v = w00 * in.at(p, ix, iy) + w10 * in.at(p, ix + 1, iy) +
                          w01 * in.at(p, ix, iy + 1) + w11 * in.at(p, ix + 1, iy + 1);
                int t = v >= 255.0f ? 255 : int(v);
                out.at(p, x, y) = uint8_t(std::max(t, 0));
            }
        }
    return out;
}

const int kComps[] = {1, 3, 4};
const int kMasks[] = {1, 2, 4, 7, 8, 15};

TEST_F(Zoom, ShrinkMatchesThePlainReduction) {
    std::mt19937 rng(7);
    for (int trial = 0; trial < 400; ++trial) {
        int w = int(rng() % 80), h = int(rng() % 80);
        int xl = 1 + int(rng() % 7), yl = 1 + int(rng() % 7);
        if (trial % 50 == 0) w = 65536 + int(rng() % 5), h = 3, xl = 17;
        int mask = kMasks[rng() % 6];
        bool same = trial % 10 == 0;
        random_buffer("in", int(rng() % 21) - 10, int(rng() % 21) - 10, w, h, kComps[rng() % 3], rng);
        if (!same)
            random_buffer("out", int(rng() % 21) - 10, int(rng() % 21) - 10, int(rng() % 60),
                          int(rng() % 60), kComps[rng() % 3], rng);
        const char* out = same ? "in" : "out";
        Pic want = plain_shrink(Pic(*find_buffer("in")), Pic(*find_buffer(out)), xl, yl, mask);
        ASSERT_EQ(shrink_buffer("in", out, xl, yl, mask), 1);
        expect_same(want, out, "trial " + std::to_string(trial));
    }
    EXPECT_EQ(find_buffer("sys:ShrinkTmp"), nullptr);
}

TEST_F(Zoom, ShrinkCasesLimitsAndTemporary) {
    const uint8_t row[] = {10, 20, 30, 40, 50};
    ImageBuffer* a = make_buffer("a", 0, 0, 5, 1, 1);
    std::copy(row, row + 5, a->plane[0]);
    make_buffer("b", 0, 0, 5, 1, 1)->plane[0][4] = 99;
    std::fill_n(find_buffer("b")->plane[0], 5, 99);
    ASSERT_EQ(run_line("shrink -l 2 1 a b"), 1);
    const int want[] = {15, 35, 99, 99, 99};
    for (int x = 0; x < 5; ++x) EXPECT_EQ(sample("b", 0, x, 0), want[x]) << x;
    ASSERT_EQ(run_line("shrink -l 1 1 a b"), 1);
    for (int x = 0; x < 5; ++x) EXPECT_EQ(sample("b", 0, x, 0), row[x]);

    ImageBuffer* c = make_buffer("c", 0, 0, 1, 3, 1);
    c->plane[0][2] = 10, c->plane[0][1] = 21, c->plane[0][0] = 30;  // rows bottom to top
    make_buffer("d", 0, 0, 1, 3, 1);
    std::fill_n(find_buffer("d")->plane[0], 3, 77);
    ASSERT_EQ(run_line("shrink -l 1 2 c d"), 1);
    EXPECT_EQ(sample("d", 0, 0, 0), 15);
    EXPECT_EQ(sample("d", 0, 0, 1), 77);

    // A buffer of the temporary's name is reused and then gone; so is an output
    // of that name.
    make_buffer("sys:ShrinkTmp", 0, 0, 2, 2, 4);
    ASSERT_EQ(shrink_buffer("a", "b", 2, 1, 15), 1);
    EXPECT_EQ(find_buffer("sys:ShrinkTmp"), nullptr);
    make_buffer("sys:ShrinkTmp", 0, 0, 2, 2, 4);
    ASSERT_EQ(shrink_buffer("a", "sys:ShrinkTmp", 2, 1, 15), 1);
    EXPECT_EQ(find_buffer("sys:ShrinkTmp"), nullptr);

    make_buffer("tall", 0, 0, 2, 65535, 1);
    testing::internal::CaptureStderr();
    EXPECT_EQ(run_line("shrink tall b"), 0);
    EXPECT_EQ(run_line("shrink -l 0 1 a b"), 0);
    EXPECT_EQ(run_line("shrink -l 1 18 a b"), 0);
    EXPECT_EQ(run_line("shrink a"), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "ERROR : too large y size (current-max:65535)\n"
              "        tall : 2 x 65535\n"
              "ERROR : shrink level out of range (min:1-max:17)\n"
              "        level : 0 1\n"
              "ERROR : shrink level out of range (min:1-max:17)\n"
              "        level : 1 18\n"
              "ERROR : You must define in/out buff name\n"
              "Usage : shrink [-options] inBuffName outBuffName\n"
              "[options]\n"
              " -l xlevel ylevel : shrink level ( level >= 1 )\n"
              " -rgba : full component\n"
              " -rgb  : rgb only\n"
              " -r    :   red only ( component #0 )\n"
              " -g    : green only ( component #0 )\n"
              " -b    :  blue only ( component #0 )\n"
              " -a    : alpha only ( component #0 )\n"
              "[default]\n"
              " -l 1 1\n"
              " -rgba\n");
    EXPECT_EQ(sample("b", 0, 0, 0), 15);  // nothing written by the refusals
}

Rect random_window(std::mt19937& rng) {
    int64_t a = int(rng() % 61) - 20, b = int(rng() % 61) - 20;
    int64_t c = int(rng() % 61) - 20, d = int(rng() % 61) - 20;
    return {std::min(a, c), std::min(b, d), std::max(a, c), std::max(b, d)};
}

TEST_F(Zoom, NearestZoomMatchesThePlainMapping) {
    std::mt19937 rng(11);
    for (int trial = 0; trial < 600; ++trial) {
        random_buffer("in", int(rng() % 41) - 20, int(rng() % 41) - 20, int(rng() % 40),
                      int(rng() % 40), kComps[rng() % 3], rng);
        random_buffer("out", int(rng() % 41) - 20, int(rng() % 41) - 20, int(rng() % 70),
                      int(rng() % 70), kComps[rng() % 3], rng);
        Rect s = random_window(rng), d = random_window(rng);
        if (trial % 7 == 0) d.x2 = d.x1;  // one pixel wide
        const Rect* sp = rng() % 2 ? &s : nullptr;
        const Rect* dp = rng() % 2 ? &d : nullptr;
        Pic want = plain_nearest(Pic(*find_buffer("in")), Pic(*find_buffer("out")), sp, dp);
        ASSERT_EQ(nearest_zoom("in", "out", sp, dp), 1);
        expect_same(want, "out", "trial " + std::to_string(trial));
    }
}

TEST_F(Zoom, BzoomCases) {
    std::mt19937 rng(3);
    random_buffer("a", 4, 5, 30, 20, 4, rng);
    make_buffer("b", 4, 5, 30, 20, 3);
    ASSERT_EQ(run_line("bzoom a b"), 1);
    for (int p = 0; p < 3; ++p)
        EXPECT_TRUE(std::equal(find_buffer("b")->plane[p], find_buffer("b")->plane[p] + 600,
                               find_buffer("a")->plane[p]));
    // A one-pixel destination reads source column (s2 - s1) / 2 rounded: 14.5 -> 15,
    // and row 9.5 -> 10.
    make_buffer("c", 0, 0, 1, 1, 1);
    ASSERT_EQ(run_line("bzoom -w 29 0 0 19 a c"), 1);  // corners in either order
    EXPECT_EQ(sample("c", 0, 0, 0), sample("a", 0, 15, 10));
    // Words: a later -f cancels the source window; a third name is refused.
    ASSERT_EQ(run_line("bzoom -s 100 100 5 5 -f a b"), 1);
    EXPECT_EQ(sample("b", 0, 10, 10), sample("a", 0, 10, 10));
    testing::internal::CaptureStderr();
    EXPECT_EQ(run_line("bzoom a b c"), 0);
    EXPECT_EQ(run_line("bzoom a b -S 1 2 3"), 0);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err.substr(0, err.find('\n')), "ERROR : Invalid argment");
    EXPECT_NE(err.find("ERROR : -S need 4 argment(s)\n"), std::string::npos);
    EXPECT_NE(err.find(" -S ox oy  w  h : destination window size & orign set\n"), std::string::npos);
}

TEST_F(Zoom, BilinearZoomMatchesThePlainWeights) {
    std::mt19937 rng(5);
    for (bool wide : {false, true}) {
        zoom_allow_wide_vectors(wide);
        for (int trial = 0; trial < 500; ++trial) {
            random_buffer("in", int(rng() % 41) - 20, int(rng() % 41) - 20, int(rng() % 40),
                          int(rng() % 40), kComps[rng() % 3], rng);
            const bool wide_row = trial % 50 == 0;  // rows done a stretch at a time
            random_buffer("out", int(rng() % 41) - 20, int(rng() % 41) - 20,
                          int(rng() % (wide_row ? 3000 : 90)), int(rng() % (wide_row ? 4 : 90)),
                          kComps[rng() % 3], rng);
            if (trial % 5 == 0) {  // flat and extreme samples reach both clamps
                ImageBuffer* b = find_buffer("in");
                for (int p = 0; p < b->components; ++p)
                    for (int64_t i = 0; i < b->plane_size(); ++i) b->plane[p][i] = rng() % 2 ? 255 : 0;
            }
            Pic want = plain_bilinear(Pic(*find_buffer("in")), Pic(*find_buffer("out")));
            ASSERT_EQ(bilinear_zoom("in", "out", 15), 1);
            expect_same(want, "out", "trial " + std::to_string(trial) + (wide ? " wide" : ""));
        }
        // In place: the identity mapping.
        random_buffer("in", 3, -2, 17, 9, 4, rng);
        Pic want = plain_bilinear(Pic(*find_buffer("in")), Pic(*find_buffer("in")));
        ASSERT_EQ(bilinear_zoom("in", "in", 15), 1);
        expect_same(want, "in", "in place");
    }
}

TEST_F(Zoom, BlzoomCases) {
    ImageBuffer* a = make_buffer("a", 0, 0, 2, 1, 4);
    a->plane[0][1] = 255;
    a->plane[3][0] = 9;
    make_buffer("b", 0, 0, 3, 1, 4);
    ASSERT_EQ(run_line("blzoom -r a b"), 1);  // every common plane, whatever the mask
    EXPECT_EQ(sample("b", 0, 0, 0), 0);
    EXPECT_EQ(sample("b", 0, 1, 0), 127);
    EXPECT_EQ(sample("b", 0, 2, 0), 255);
    EXPECT_EQ(sample("b", 3, 0, 0), 9);
    EXPECT_EQ(run_line("blz a b"), -1);
    EXPECT_EQ(run_line("blzoo a b"), 1);
    testing::internal::CaptureStderr();
    EXPECT_EQ(run_line("blzoom a"), 0);
    EXPECT_EQ(run_line("blzoom a nothing"), 0);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err.substr(0, err.find("[Options]")),
              "ERROR : You must define in/out buff name\n"
              "Usage : blzoom [-options] inBuffName outBuffName\n");
    EXPECT_NE(err.find("WARNING : Can't find buff (name=nothing)\n"), std::string::npos);
}

TEST_F(Zoom, GlowIsTheZoomedBlurOfTheShrunkImage) {
    std::mt19937 rng(9);
    random_buffer("in", -7, 3, 203, 150, 4, rng);
    make_buffer("out", -7, 3, 203, 150, 4);
    make_buffer("small", -7, 3, 203 / 8, 150 / 4, 4);
    make_buffer("soft", -7, 3, 203 / 8, 150 / 4, 4);
    make_buffer("want", -7, 3, 203, 150, 4);
    ASSERT_EQ(run_line("shrink -rgb -l 4 3 in small"), 1);
    ASSERT_EQ(run_line("blur -rgb -z 2 1 small soft"), 1);
    ASSERT_EQ(run_line("blzoom soft want"), 1);
    ASSERT_EQ(run_line("glow -rgb -l 4 3 -z 2 1 -x 3 in out"), 1);
    expect_same(Pic(*find_buffer("want")), "out", "glow");
    for (int i = 0; i < 203 * 150; ++i) ASSERT_EQ(find_buffer("out")->plane[3][i], 0);
    EXPECT_EQ(find_buffer("sys:GlowTmp"), nullptr);
    EXPECT_EQ(find_buffer("sys:GlowBlurTmp"), nullptr);
    ASSERT_EQ(run_line("glow -a in out"), 1);  // -a is the alpha mask here
    EXPECT_NE(sample("out", 3, 50, 50), 0);
    EXPECT_EQ(sample("out", 0, 50, 50), 0);
}

TEST_F(Zoom, GlowFailures) {
    make_buffer("in", 0, 0, 16 * 5, 16 * 6, 3);  // reduced to 5 x 6 by the default levels
    make_buffer("out", 0, 0, 16 * 5, 16 * 6, 3);
    make_buffer("odd", 1, 0, 16 * 5, 16 * 6, 3);
    testing::internal::CaptureStderr();
    EXPECT_EQ(run_line("glow in out"), 0);  // 5 < 2 * 2 + 2
    EXPECT_EQ(run_line("glow in odd"), 0);
    EXPECT_EQ(run_line("glow -l 1 18 in out"), 0);
    EXPECT_EQ(run_line("glow -l 0 1 in out"), 0);
    EXPECT_EQ(glow_buffer("in", "out", 1, 1, 18, 1, 15), 0);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err.substr(0, err.find("ERROR : too large -l value\n")),
              "WARNING : Sorry, blur X size too big\n"
              "          Could you change blur X size plaese.\n"
              "ERROR : blur operation for glow command faild\n"
              "WARNING : window size missing\n"
              "          Could you use same window size buff\n"
              "          in is min(0.0)-max(79.95)\n"
              "          odd is min(1.0)-max(80.95)\n");
    EXPECT_NE(err.find("ERROR : negative or zero -l value\n"), std::string::npos);
    EXPECT_NE(err.find(" -a     : glow alpha plane\n"), std::string::npos);
    const std::string last = "ERROR : shrink level out of range (min:1-max:17)\n"
                             "        level : 18 1\n";
    EXPECT_EQ(err.substr(err.size() - std::min(err.size(), last.size())), last);
    EXPECT_EQ(find_buffer("sys:GlowTmp"), nullptr);
    EXPECT_EQ(find_buffer("sys:GlowBlurTmp"), nullptr);
    EXPECT_EQ(run_line("glow -z 1 2 in out"), 1);
}

}  // namespace
