// Unit tests of filter3 and antiflicker: the reciprocal multiply checked against
// integer division over every reachable kernel sum, the fast row loops against a
// plain transcription of the kernel sums on random planes, hand-computed cases, and
// the command messages.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "buffer/image_buffer.h"
#include "ops/filter.h"
#include "tests/command_helpers.h"
#include "tests/kqc_runner.h"

namespace {

class Filter : public ::testing::Test {
protected:
    void SetUp() override { clear_registry(); }
    void TearDown() override {
        clear_registry();
        filter_allow_wide_vectors(true);
    }
};

using Planes = std::vector<std::vector<uint8_t>>;

Planes planes_of(const ImageBuffer& b) {
    Planes out;
    for (int p = 0; p < b.components; ++p)
        out.emplace_back(b.plane[p], b.plane[p] + b.plane_size());
    return out;
}

// The definition, pixel by pixel: rows are top first, neighbours beyond the plane
// are the edge row or column.
std::vector<uint8_t> plain_filter3(const std::vector<uint8_t>& v, int w, int h, int kernel) {
    const int8_t* k = filter3_coefficients(kernel);
    const int d = filter3_divisor(kernel);
    std::vector<uint8_t> out(v.size());
    for (int r = 0; r < h; ++r)
        for (int c = 0; c < w; ++c) {
            int s = 0;
            for (int i = 0; i < 3; ++i)
                for (int j = 0; j < 3; ++j) {
                    int rr = std::clamp(r - 1 + i, 0, h - 1), cc = std::clamp(c - 1 + j, 0, w - 1);
                    s += k[i * 3 + j] * v[size_t(rr) * w + cc];
                }
            out[size_t(r) * w + c] = filter3_limit(s, d);
        }
    return out;
}

std::vector<uint8_t> plain_antiflicker(const std::vector<uint8_t>& v, int w, int h) {
    static const int taps[5] = {-1, 2, 6, 2, -1};  // rows above first
    std::vector<uint8_t> out(v.size());
    for (int r = 0; r < h; ++r)
        for (int c = 0; c < w; ++c) {
            int t = 0;
            for (int i = 0; i < 5; ++i) t += taps[i] * v[size_t(std::clamp(r - 2 + i, 0, h - 1)) * w + c];
            out[size_t(r) * w + c] = uint8_t(t < 0 ? 0 : t < 2040 ? t >> 3 : 255);
        }
    return out;
}

TEST(FilterMath, ReciprocalMultiplyIsIntegerDivisionForEveryReachableSum) {
    for (int kernel = 0; kernel < kFilter3Kernels; ++kernel) {
        const int8_t* k = filter3_coefficients(kernel);
        int lo = 0, hi = 0;
        for (int i = 0; i < 9; ++i) (k[i] < 0 ? lo : hi) += 255 * k[i];
        const int d = filter3_divisor(kernel);
        for (int s = lo; s <= hi; ++s)
            ASSERT_EQ(filter3_limit(s, d), std::clamp(s / d, 0, 255)) << kernel << " " << s;
    }
    EXPECT_EQ(filter3_divisor(kLap), 1);
    EXPECT_EQ(filter3_divisor(kLowv), 38);
}

TEST_F(Filter, FastLoopsMatchThePlainSumsOnRandomPlanes) {
    std::mt19937 rng(11);
    for (bool wide : {true, false}) {
        filter_allow_wide_vectors(wide);
        for (int kernel = 0; kernel < kFilter3Kernels; ++kernel)
            for (int trial = 0; trial < 12; ++trial) {
                const int w = 3 + int(rng() % 68), h = 4 + int(rng() % 67);
                const int comps = trial % 3 == 0 ? 1 : trial % 3 == 1 ? 3 : 4;
                const int mask = 1 + int(rng() % 15), runs = 1 + trial % 2;
                // Origins around -1: a row at y = -1 is a row like any other.
                ImageBuffer* b = make_buffer("f", int(rng() % 9) - 4, -int(rng() % h), w, h, comps);
                for (int p = 0; p < comps; ++p)
                    for (int64_t i = 0; i < b->plane_size(); ++i) b->plane[p][i] = uint8_t(rng());
                Planes want = planes_of(*b);
                for (int p = 0; p < comps; ++p)
                    if (mask & (1 << p))
                        for (int j = 0; j < runs; ++j) want[p] = plain_filter3(want[p], w, h, kernel);
                for (int j = 0; j < runs; ++j) ASSERT_EQ(filter3_buffer("f", mask, kernel), 1);
                ASSERT_EQ(planes_of(*b), want) << kernel << " " << w << "x" << h << " " << wide;

                ImageBuffer* a = make_buffer("a", 0, int(rng() % 5) - 2, w - 3, h + 1, comps);
                for (int p = 0; p < comps; ++p)
                    for (int64_t i = 0; i < a->plane_size(); ++i) a->plane[p][i] = uint8_t(rng());
                want = planes_of(*a);
                for (auto& plane : want) plane = plain_antiflicker(plane, w - 3, h + 1);
                ASSERT_EQ(antiflicker_buffer("a"), 1);
                ASSERT_EQ(planes_of(*a), want) << w - 3 << "x" << h + 1 << " " << wide;
            }
    }
}

TEST_F(Filter, HandComputedCases) {
    // A uniform plane keeps its value under every kernel but "lap", which gives 0.
    for (int kernel = 0; kernel < kFilter3Kernels; ++kernel) {
        ImageBuffer* b = make_buffer("u", 0, 0, 5, 4, 1);
        const uint8_t v[4] = {77, 0, 0, 0};
        fill_planes(*b, 15, v);
        ASSERT_EQ(filter3_buffer("u", 15, kernel), 1);
        for (int64_t i = 0; i < b->plane_size(); ++i)
            ASSERT_EQ(b->plane[0][i], kernel == kLap ? 0 : 77) << kernel;
    }
    // "hi" on one bright pixel: 5 x 100 limited to 255, its four neighbours -100 -> 0.
    make_buffer("p", 10, 20, 5, 5, 1);
    store_pixel(*find_buffer("p"), 12, 22, 0, 100);
    ASSERT_EQ(run_line("filter3 p"), 1);
    EXPECT_EQ(sample("p", 0, 12, 22), 255);
    for (auto [x, y] : {std::pair{11, 22}, {13, 22}, {12, 21}, {12, 23}, {11, 21}})
        EXPECT_EQ(sample("p", 0, x, y), 0);
    // The top row is its own row above and the left column its own left neighbour:
    // with the top row at 100, a top pixel gives 500 - 100 - 100 - 100 = 200, and the
    // top-left corner 500 - 100 - 100 (itself twice) - 100 = 200 too; 100 at the
    // left column gives 500 - 100 - 100 - 100 - 0 = 200 on it.
    ImageBuffer* t = make_buffer("t", 0, 0, 4, 4, 1);
    std::fill(t->row(0, 3), t->row(0, 3) + 4, 100);
    ASSERT_EQ(filter3_buffer("t", 15, kHi), 1);
    EXPECT_EQ(sample("t", 0, 0, 3), 200);
    EXPECT_EQ(sample("t", 0, 1, 3), 200);
    EXPECT_EQ(sample("t", 0, 1, 2), 0);
    t = make_buffer("t", 0, 0, 4, 4, 1);
    for (int y = 0; y < 4; ++y) store_pixel(*t, 0, y, 0, 100);
    ASSERT_EQ(filter3_buffer("t", 15, kHi), 1);
    EXPECT_EQ(sample("t", 0, 0, 1), 200);
    EXPECT_EQ(sample("t", 0, 1, 1), 0);

    // antiflicker: rows alternating 0 / 255 give 127 two rows from the edges (T = 1020);
    // a uniform plane stays.
    ImageBuffer* f = make_buffer("fl", 0, 0, 3, 9, 3);
    for (int y = 0; y < 9; ++y) std::fill(f->row(0, y), f->row(0, y) + 3, y % 2 ? 255 : 0);
    const uint8_t grey[4] = {0, 90, 90, 0};
    fill_planes(*f, 6, grey);
    ASSERT_EQ(antiflicker_buffer("fl"), 1);
    for (int y = 2; y <= 6; ++y) EXPECT_EQ(sample("fl", 0, 1, y), 127) << y;
    for (int64_t i = 0; i < f->plane_size(); ++i) ASSERT_EQ(f->plane[2][i], 90);
}

TEST_F(Filter, RepeatsAndTheLastKeyWin) {
    auto fresh = [&](const char* name) {
        ImageBuffer* b = make_buffer(name, 0, 0, 9, 7, 4);
        std::mt19937 same(1);
        for (int p = 0; p < 4; ++p)
            for (int64_t i = 0; i < b->plane_size(); ++i) b->plane[p][i] = uint8_t(same());
        return b;
    };
    fresh("cmd");
    fresh("ref");
    ASSERT_EQ(run_line("filter3 -f low -rgb -x 2 -f hi3 -g cmd"), 1);
    ASSERT_EQ(filter3_buffer("ref", 2, kHi3), 1);
    ASSERT_EQ(filter3_buffer("ref", 2, kHi3), 1);
    EXPECT_EQ(planes_of(*find_buffer("cmd")), planes_of(*find_buffer("ref")));
}

TEST(FilterCommands, MessagesAndUsage) {
    const std::string usage =
        "Usage : filter3 [-options] BuffName\n"
        "[options]\n"
        " -f key : filter pattern set\n"
        "    key :   hi : high-pass filter, edge enhancing ( discrete laplacian filter )\n"
        "           hi2 : high-pass filter, little large radius than \"hi\"\n"
        "           hi3 : high-pass filter, much smoother than \"hi2\"\n"
        "           lap : high-pass filter, edge enhancing ( laplacian filter )\n"
        "           low : low-pass filter\n"
        "          low2 : low-pass filter, milder than \"low\"\n"
        "          low3 : low-pass filter, milder than \"low2\"\n"
        "          lowv : low-pass filter for captured video image\n"
        " -rgba : filter red, green, blue, alpha plane\n"
        " -rgb : filter red, green blue plane\n"
        " -r : filter   red plane\n"
        " -g : filter green plane\n"
        " -b : filter  blue plane\n"
        " -a : filter alpha plane\n"
        " -x n : n-Times filter effect\n"
        "[Default]\n"
        " -f hi\n"
        " -rgba\n"
        " -x 1\n";
    const std::string af_usage = "Usage : antiflicker buffName\n";
    auto r = run_kqc(
        "filter3 ?\nantif ?\nfilter3 -h\nantiflicker -H\n"
        "filter3\n"                  // 5
        "filter3 a b\n"              // 6
        "filter3 -x 0 a\n"           // 7
        "filter3 -f high a\n"        // 8
        "filter3 a -f\n"             // 9
        "filter3 none\n"             // 10
        "create -s 0 -2 8 3 s\n"     // 11
        "filter3 s\n"                // 12
        "antiflicker\n"              // 13
        "antiflicker a b\n"          // 14
        "antiflicker none\n"         // 15
        "create -s 0 0 8 4 s\n"      // 16
        "antiflicker s\n"            // 17
        "filter3 s\n"                // 18
        "create -s -1 0 2 9 n\n"     // 19
        "filter3 -x 3 n\n"           // 20
        "antiflicker n\n");          // 21
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err,
              "\tfilter3\t-> 3x3 filter effect\n\tantif\t-> antiFlicker effect\n" + usage +
                  af_usage + "ERROR : You must define buff name\n" + usage +
                  exec_error(5, "filter3") + "ERROR : Invalid argment\n" + usage +
                  exec_error(6, "filter3 a b") + "ERROR : negative or zero -x value\n" + usage +
                  exec_error(7, "filter3 -x 0 a") + "ERROR : unknown filter type\n" + usage +
                  exec_error(8, "filter3 -f high a") + "ERROR : -f need 1 argment(s)\n" + usage +
                  exec_error(9, "filter3 a -f") + "WARNING : Can't find buff (name=none)\n" +
                  exec_error(10, "filter3 none") +
                  "WARNING : Too small y resolution (ytop=0 ybottom=-2 name=s)\n" +
                  exec_error(12, "filter3 s") + "ERROR : You must define in buff name\n" +
                  af_usage + exec_error(13, "antiflicker") +
                  "ERROR : You must define in buff name\n" + af_usage +
                  exec_error(14, "antiflicker a b") + "WARNING : Can't find buff (name=none)\n" +
                  exec_error(15, "antiflicker none") +
                  "WARNING : Too small y resolution (ytop=3 ybottom=0 name=s)\n" +
                  exec_error(17, "antiflicker s") +
                  // Each pixel needs a left and a right neighbour: -x stops at the
                  // first refused run.
                  "WARNING : Too small x resolution (xleft=-1 xright=0 name=n)\n" +
                  exec_error(20, "filter3 -x 3 n"));
}

}  // namespace
