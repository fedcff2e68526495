// Unit tests of the Gaussian blur: the weight tables, the fast passes against a
// plain transcription of the weighted means on random buffers, the edge cases of
// the size test, planes and the temporary, and the command messages.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "buffer/image_buffer.h"
#include "ops/gauss.h"
#include "tests/command_helpers.h"
#include "tests/kqc_runner.h"

namespace {

class Gauss : public ::testing::Test {
protected:
    void SetUp() override { clear_registry(); }
    void TearDown() override {
        clear_registry();
        gauss_limit_vectors(2);
    }
};

using Plane = std::vector<uint8_t>;


// One pass written as the definition reads: sum of src(u) w[R + u - x] over the
// u inside the plane, divided by the sum of the weights used.
Plane plain_pass(const Plane& src, int w, int h, double r, bool vertical) {
    if (r == 0.0) return src;
    std::vector<int32_t> wt = gauss_weights(r);
    const int R = int(wt.size() / 2);
    Plane out(src.size());
    const int n = vertical ? h : w;
    for (int row = 0; row < (vertical ? w : h); ++row)
        for (int x = 0; x < n; ++x) {
            int64_t sum = 0, used = 0;
            for (int u = std::max(0, x - R); u <= std::min(n - 1, x + R); ++u) {
                size_t at = vertical ? size_t(u) * w + row : size_t(row) * w + u;
                sum += int64_t(src[at]) * wt[size_t(R + u - x)];
                used += wt[size_t(R + u - x)];
            }
            out[vertical ? size_t(x) * w + row : size_t(row) * w + x] = uint8_t(sum / used);
        }
    return out;
}

TEST(GaussTable, WorkedTablesAndHalfWidths) {
    struct Case {
        double r;
        std::vector<int32_t> w;
        int total;
    };
    const Case cases[] = {
        {1.0, {1, 256, 1}, 258},
        {2.0, {1, 64, 256, 64, 1}, 386},
        {2.5, {7, 105, 256, 105, 7}, 480},
        {10.0,
         {1, 2, 7, 16, 34, 64, 105, 155, 205, 242, 256, 242, 205, 155, 105, 64, 34, 16, 7, 2, 1},
         1918},
    };
    for (const Case& c : cases) {
        std::vector<int32_t> w = gauss_weights(c.r);
        EXPECT_EQ(w, c.w) << c.r;
        int total = 0;
        for (int32_t v : w) total += v;
        EXPECT_EQ(total, c.total) << c.r;
    }
    EXPECT_EQ(gauss_half_width(9.9f), 9);
    EXPECT_EQ(gauss_half_width(1.0), 1);
    for (double r : {0.5, 0.999, 0.0, -1.0, std::nan(""), 1e300})
        EXPECT_EQ(gauss_half_width(r), -1) << r;
}

// Random buffers, radii, masks and windows down to the smallest accepted (2R + 2),
// with each set of vector loops; sometimes into the input itself.
TEST_F(Gauss, MatchesPlainTranscriptionOnRandomBuffers) {
    std::mt19937 rng(10);
    for (int trial = 0; trial < 160; ++trial) {
        gauss_limit_vectors(trial % 3);
        const int comps = std::vector<int>{1, 3, 4}[rng() % 3];
        // Mostly small radii; a few large ones reach the double divisors.
        auto radius = [&]() -> float {
            int kind = int(rng() % 8);
            if (kind <= 1) return 0.0f;  // one pass alone
            if (kind == 2) return 85.0f + float(rng() % 30);
            return 1.0f + float(rng() % 2000) / 100.0f;
        };
        const float rx = radius(), ry = radius();
        auto side = [&](float r) {
            int need = 2 * int(r) + 2;
            return rng() % 3 == 0 ? need + int(rng() % 3) : need + int(rng() % 60);
        };
        const int w = side(rx), h = side(ry);
        const int ox = int(rng() % 200) - 100, oy = int(rng() % 200) - 100;
        const int mask = int(rng() % 16);
        ImageBuffer* in = make_random_buffer("in", ox, oy, w, h, comps, rng);
        std::vector<Plane> before, want;
        for (int p = 0; p < comps; ++p) {
            before.push_back(plane_copy(*in, p));
            want.push_back(mask & (1 << p)
                               ? plain_pass(plain_pass(before[p], w, h, rx, false), w, h, ry, true)
                               : before[p]);
        }
        const bool same = trial % 5 == 0;
        if (!same) make_random_buffer("out", ox, oy, w, h, comps + int(comps == 3), rng);
        const char* out = same ? "in" : "out";
        ASSERT_EQ(gauss_blur("in", out, rx, ry, mask), 1) << trial;
        for (int p = 0; p < comps; ++p)
            ASSERT_EQ(plane_copy(*find_buffer(out), p), want[p])
                << "trial " << trial << " plane " << p << " r " << rx << " " << ry << " size "
                << w << " " << h;
        ASSERT_EQ(find_buffer("sys:GaussOpTmp"), nullptr);
    }
}

TEST_F(Gauss, EdgesUniformPlanesAndSizeLimits) {
    // Left edge: the mean of x1 .. x1 + R with weights w[R] .. w[2R].
    ImageBuffer* in = make_buffer("in", 3, 0, 8, 1, 1);
    const uint8_t row[8] = {200, 10, 90, 0, 0, 0, 0, 0};
    std::memcpy(in->plane[0], row, 8);
    make_buffer("out", 3, 0, 8, 1, 1);
    ASSERT_EQ(gauss_blur("in", "out", 2.5, 0.0, 15), 1);
    EXPECT_EQ(sample("out", 0, 3, 0), (200 * 256 + 10 * 105 + 90 * 7) / (256 + 105 + 7));
    EXPECT_EQ(sample("out", 0, 4, 0), (200 * 105 + 10 * 256 + 90 * 105) / (105 + 256 + 105 + 7));

    // A uniform plane stays uniform, edges included.
    ImageBuffer* flat = make_buffer("flat", 0, 0, 30, 25, 3);
    const uint8_t v[4] = {77, 255, 1, 0};
    fill_planes(*flat, 15, v);
    ASSERT_EQ(gauss_blur("flat", "flat", 10.0, 7.5, 15), 1);
    for (int p = 0; p < 3; ++p)
        EXPECT_EQ(plane_copy(*flat, p), Plane(30 * 25, v[p])) << p;

    // Width 20 takes R = 9 and refuses R = 10 (max 9); width 21 also refuses 10.
    make_buffer("w20", 0, 0, 20, 40, 1);
    make_buffer("w21", 0, 0, 21, 21, 1);
    EXPECT_EQ(gauss_blur("w20", "w20", 9.9, 1.0, 15), 1);
    testing::internal::CaptureStderr();
    EXPECT_EQ(gauss_blur("w20", "w20", 10.0, 1.0, 15), 0);
    EXPECT_EQ(gauss_blur("w21", "w21", 10.0, 1.0, 15), 0);
    EXPECT_EQ(gauss_blur("w21", "w21", 1.0, 10.0, 0), 0);  // tested whatever the mask
    EXPECT_EQ(gauss_blur("w21", "w21", 0.5, 1.0, 15), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "ERROR : Too big gauss radiusX 10\n"
              "        Could you change small radius\n"
              "        current buffer's max = 9\n"
              "ERROR : Too big gauss radiusX 10\n"
              "        Could you change small radius\n"
              "        current buffer's max = 10\n"
              "ERROR : Too big gauss radiusY 10\n"
              "        Could you change small radius\n"
              "        current buffer's max = 10\n"
              "ERROR : Can't generate gauss table\n");
}

TEST_F(Gauss, PlanesTemporaryAndRefusals) {
    std::mt19937 rng(3);
    // Radius 0 copies every plane whatever the mask.
    ImageBuffer* in = make_random_buffer("in", 0, 0, 30, 30, 4, rng);
    make_random_buffer("out", 0, 0, 30, 30, 4, rng);
    ASSERT_EQ(gauss_blur("in", "out", 0.0, -0.0, 1), 1);
    for (int p = 0; p < 4; ++p) EXPECT_EQ(plane_copy(*find_buffer("out"), p), plane_copy(*in, p));

    // A failed vertical pass leaves the output alone and the temporary filled.
    const Plane out_before = plane_copy(*find_buffer("out"), 0);
    testing::internal::CaptureStderr();
    EXPECT_EQ(gauss_blur("in", "out", 2.0, 0.7, 15), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "ERROR : Can't generate gauss table\n");
    EXPECT_EQ(plane_copy(*find_buffer("out"), 0), out_before);
    ImageBuffer* tmp = find_buffer("sys:GaussOpTmp");
    ASSERT_NE(tmp, nullptr);
    EXPECT_EQ(plane_copy(*tmp, 0), plain_pass(plane_copy(*in, 0), 30, 30, 2.0, false));
    ASSERT_EQ(gauss_blur("in", "out", 2.0, 2.0, 15), 1);
    EXPECT_EQ(find_buffer("sys:GaussOpTmp"), nullptr);

    // Fewer output planes or another window: refused, nothing written or made.
    make_buffer("three", 0, 0, 30, 30, 3);
    make_buffer("small", 0, 0, 29, 30, 4);
    testing::internal::CaptureStderr();
    EXPECT_EQ(gauss_blur("in", "three", 1.0, 1.0, 15), 0);
    EXPECT_EQ(gauss_blur("in", "small", 1.0, 1.0, 15), 0);
    EXPECT_EQ(gauss_blur("in", "none", 1.0, 1.0, 15), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "WARNING : component type missing\n"
              "          in is 4 component\n"
              "          three is 3 component\n"
              "WARNING : window size missing\n"
              "          Could you use same window size buff\n"
              "          in is min(0.0)-max(29.29)\n"
              "          small is min(0.0)-max(28.29)\n"
              "WARNING : Can't find buff (name=none)\n");
    EXPECT_EQ(plane_copy(*find_buffer("three"), 0), Plane(900, 0));
    EXPECT_EQ(find_buffer("sys:GaussOpTmp"), nullptr);

    // A user buffer of the temporary's name is used and disposed; as the input it
    // is cleared first, so the output is all zeros.
    make_random_buffer("sys:GaussOpTmp", 5, 5, 3, 3, 1, rng);
    ASSERT_EQ(gauss_blur("in", "out", 1.0, 1.0, 15), 1);
    EXPECT_EQ(find_buffer("sys:GaussOpTmp"), nullptr);
    make_random_buffer("sys:GaussOpTmp", 0, 0, 30, 30, 4, rng);
    ASSERT_EQ(gauss_blur("sys:GaussOpTmp", "out", 3.0, 2.0, 15), 1);
    EXPECT_EQ(find_buffer("sys:GaussOpTmp"), nullptr);
    for (int p = 0; p < 4; ++p) EXPECT_EQ(plane_copy(*find_buffer("out"), p), Plane(900, 0));
}

TEST(GaussCommand, MessagesAndOptions) {
    const std::string usage =
        "Usage : gauss [-options] inBuffName outBuffName\n"
        "[options]\n"
        " -z x y : gaussian blur radius size : x,y >= 0.0 \n"
        " -rgba : gaussian blur red, green, blue, alpha plane\n"
        " -rgb : gaussian blur red, green blue plane\n"
        " -r : gaussian blur   red plane\n"
        " -g : gaussian blur green plane\n"
        " -b : gaussian blur  blue plane\n"
        " -a : gaussian blur alpha plane\n"
        "[Default]\n"
        " -rgba\n"
        " -z 10.0 10.0\n";
    auto r = run_kqc(
        "gauss ?\ngauss -h\n"
        "create a -s 0 0 24 24\ncreate b -s 0 0 24 24\n"
        "gauss a\n"
        "gauss -z 1 -1 a b\n"
        "gauss -x 0 a b\n"
        "gauss a b c\n"
        "gauss -z 1\n"
        "gauss -x\n"
        "gauss -x 5 -z -0.0 -1e-50 -r a b\n"
        "gauss a a\n"
        "gauss -z -nan 1 a b\n"
        "gauss -z nan 1 a b\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "\tgauss\t-> gaussian blur effect\n" + usage +
                         "ERROR : You must define in/out buff name\n" + usage +
                         exec_error(5, "gauss a") + "ERROR : negative -z value\n" + usage +
                         exec_error(6, "gauss -z 1 -1 a b") +
                         "ERROR : negative or zero -x value\n" + usage +
                         exec_error(7, "gauss -x 0 a b") + "ERROR : Invalid argment\n" + usage +
                         exec_error(8, "gauss a b c") + "ERROR : -z need 2 argment(s)\n" +
                         usage + exec_error(9, "gauss -z 1") +
                         "ERROR : -x need 1 argment(s)\n" + usage + exec_error(10, "gauss -x") +
                         "ERROR : negative -z value\n" + usage +
                         exec_error(13, "gauss -z -nan 1 a b") +
                         "ERROR : Can't generate gauss table\n" +
                         exec_error(14, "gauss -z nan 1 a b"));
}

}  // namespace
