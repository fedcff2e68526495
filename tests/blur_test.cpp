// Unit tests of the box blurs: the exact division and the silhouette blend checked
// exhaustively, the fast blur against a plain clipped-box floor mean on random
// buffers, hand-computed cases, the silhouette blend, the n-times scheme and its
// temporaries, and the command messages.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "buffer/image_buffer.h"
#include "ops/blur.h"
#include "ops/blur_math.h"
#include "tests/command_helpers.h"
#include "tests/kqc_runner.h"

namespace {

class Blur : public ::testing::Test {
protected:
    void SetUp() override { clear_registry(); }
    void TearDown() override { clear_registry(); }
};


// The floor of the mean over the box of half-sizes s, t around every pixel, cut
// to the plane (rows top first), by direct summation.
std::vector<uint8_t> plain_box_mean(const uint8_t* src, int w, int h, int s, int t) {
    std::vector<uint8_t> out(size_t(w) * h);
    for (int r = 0; r < h; ++r)
        for (int c = 0; c < w; ++c) {
            int64_t sum = 0, n = 0;
            for (int rr = std::max(0, r - t); rr <= std::min(h - 1, r + t); ++rr)
                for (int cc = std::max(0, c - s); cc <= std::min(w - 1, c + s); ++cc) {
                    sum += src[rr * w + cc];
                    ++n;
                }
            out[size_t(r) * w + c] = uint8_t(sum / n);
        }
    return out;
}

// The same through a summed-area table, for boxes too large to sum directly.
std::vector<uint8_t> table_box_mean(const uint8_t* src, int w, int h, int s, int t) {
    std::vector<int64_t> sat(size_t(w + 1) * (h + 1), 0);
    for (int r = 0; r < h; ++r)
        for (int c = 0; c < w; ++c)
            sat[size_t(r + 1) * (w + 1) + c + 1] = src[size_t(r) * w + c] +
                                                   sat[size_t(r) * (w + 1) + c + 1] +
                                                   sat[size_t(r + 1) * (w + 1) + c] -
                                                   sat[size_t(r) * (w + 1) + c];
    std::vector<uint8_t> out(size_t(w) * h);
    for (int r = 0; r < h; ++r) {
        int r0 = std::max(0, r - t), r1 = std::min(h - 1, r + t) + 1;
        for (int c = 0; c < w; ++c) {
            int c0 = std::max(0, c - s), c1 = std::min(w - 1, c + s) + 1;
            int64_t sum = sat[size_t(r1) * (w + 1) + c1] - sat[size_t(r0) * (w + 1) + c1] -
                          sat[size_t(r1) * (w + 1) + c0] + sat[size_t(r0) * (w + 1) + c0];
            out[size_t(r) * w + c] = uint8_t(sum / (int64_t(r1 - r0) * (c1 - c0)));
        }
    }
    return out;
}

// A divisor is exact for every S in [0, 255 N] when it is at both ends of every
// step of floor(S / N), because trunc(S * r) never decreases as S grows.
template <class Real>
bool divisor_exact(int64_t n) {
    Real d = box_divisor<Real>(n);
    for (int64_t q = 0; q <= 255; ++q) {
        if (box_mean(uint64_t(q * n), d) != q) return false;
        if (box_mean(uint64_t(q * n + n - 1), d) != q) return false;
    }
    return true;
}

TEST(BlurMath, DivisorsAreExactForEveryReachableSum) {
    for (int64_t n = 1; n <= kFloatMaxCount; ++n) ASSERT_TRUE(divisor_exact<float>(n)) << n;
    // Double covers the rest: every count up to 2^17, then a spread up to 2^40.
    for (int64_t n = 1; n <= (1 << 17); ++n) ASSERT_TRUE(divisor_exact<double>(n)) << n;
    std::mt19937_64 rng(7);
    for (int i = 0; i < 200000; ++i) {
        int64_t n = int64_t(rng() % uint64_t(kDoubleMaxCount)) + 1;
        ASSERT_TRUE(divisor_exact<double>(n)) << n;
    }
    for (int64_t n : {kDoubleMaxCount - 1, kDoubleMaxCount - 3, int64_t(8427409)})
        EXPECT_TRUE(divisor_exact<double>(n)) << n;
    // A single check of the slow end: the direct division needs no proof, but the
    // step check catches a wrong conversion.
    EXPECT_TRUE(divisor_exact<uint64_t>(kDoubleMaxCount + 12345));
    // Exhaustively, one small and one large count.
    for (int64_t n : {int64_t(121), kFloatMaxCount}) {
        float d = box_divisor<float>(n);
        for (int64_t sum = 0; sum <= 255 * n; ++sum)
            ASSERT_EQ(box_mean(uint32_t(sum), d), sum / n) << n << " " << sum;
    }
}

// Where a count has a multiply-high pair, it gives floor(S / N) for every reachable
// S. Every count from 2 to 185 has one (boxes up to 13 x 13); 1 would need m = 2^16,
// and some larger counts need a 17-bit m: those keep the reciprocal.
TEST(BlurMath, ShortDivisorsAreExactForEverySixteenBitSum) {
    for (int64_t n = 1; n <= 0xFFFF / 255 + 1; ++n) {
        const ShortDivisor d = short_divisor(n);
        const bool has_pair = n >= 2 && n <= 185;
        if (has_pair || n == 1 || n > 0xFFFF / 255) {
            ASSERT_EQ(d.shift >= 0, has_pair) << n;
        }
        for (int64_t sum = 0; d.shift >= 0 && sum <= 255 * n; ++sum)
            ASSERT_EQ(short_mean(uint16_t(sum), d), sum / n) << n << " " << sum;
    }
}

TEST(BlurMath, BlendMatchesTheDoubleFormula) {
    for (int a = 0; a < 256; ++a)
        for (int b = 0; b < 256; ++b)
            for (int v = 0; v < 256; ++v) {
                int d = std::abs(a - 128);
                int expected = v;
                if (d < 127) {
                    double w = d / 128.0;
                    expected = int((1.0 - w) * b + w * v);
                }
                ASSERT_EQ(silhouette_blend(uint8_t(a), uint8_t(b), uint8_t(v)), expected)
                    << a << " " << b << " " << v;
            }
}

TEST_F(Blur, MatchesPlainMeanOnRandomBuffers) {
    std::mt19937 rng(1234);
    for (int trial = 0; trial < 400; ++trial) {
        blur_allow_wide_vectors(trial % 2 == 0);  // both builds of the loops
        int s = int(rng() % 7), t = int(rng() % 7);
        if (trial % 5 == 0) t = 0;
        if (trial % 11 == 0) s = 0;
        int w = 2 * s + 2 + int(rng() % 40), h = (t ? 2 * t + 2 : 1) + int(rng() % 40);
        int mask = int(rng() % 16);
        if (mask == 0) mask = 15;
        ImageBuffer* in = make_random_buffer("in", int(rng() % 21) - 10, -3, w, h, 4, rng);
        if (trial % 7 == 0)  // saturated planes reach the largest sums
            for (int p = 0; p < 4; ++p) std::memset(in->plane[p], 255, size_t(w) * h);
        ImageBuffer* out = make_random_buffer("out", in->x, in->y, w, h, 4, rng);
        ASSERT_EQ(box_blur("in", "out", s, t, mask), 1);
        for (int p = 0; p < 4; ++p) {
            auto expected = (mask & (1 << p)) ? plain_box_mean(in->plane[p], w, h, s, t)
                                              : plane_copy(*in, p);
            ASSERT_EQ(plane_copy(*out, p), expected)
                << "trial " << trial << " plane " << p << " s " << s << " t " << t;
        }
    }
    blur_allow_wide_vectors(true);
}

TEST_F(Blur, LargeBoxesUseWiderSumsExactly) {
    // Each size reaches a different choice of sum and divisor types.
    struct Case {
        int w, h, s, t;
    } cases[] = {
        {60, 300, 3, 140},      // column sums beyond 16 bits
        {40, 60, 18, 25},       // 32-bit row sums, float divisors
        {300, 280, 130, 120},   // counts beyond float: double divisors
        {2906, 2906, 1451, 1451},  // box sums beyond 2^31: 64-bit sums
    };
    std::mt19937 rng(99);
    for (int run = 0; run < 7; ++run) {
        const Case& c = cases[run % 4];  // the largest once, with baseline loops
        blur_allow_wide_vectors(run < 3);
        ImageBuffer* in = make_random_buffer("in", 0, 0, c.w, c.h, 1, rng);
        if (c.w > 2000)  // saturated corners make the largest sums
            for (int r = 0; r < c.h; ++r)
                for (int x = 0; x < c.w; ++x)
                    if ((r < 600 || r > c.h - 600) && (x < 600 || x > c.w - 600))
                        in->plane[0][int64_t(r) * c.w + x] = 255;
        make_buffer("out", 0, 0, c.w, c.h, 1);
        ASSERT_EQ(box_blur("in", "out", c.s, c.t, 15), 1);
        EXPECT_EQ(plane_copy(*find_buffer("out"), 0),
                  table_box_mean(in->plane[0], c.w, c.h, c.s, c.t))
            << c.w << "x" << c.h << " s " << c.s << " t " << c.t;
    }
    blur_allow_wide_vectors(true);
}

TEST_F(Blur, HandComputedCasesAndSizeLimits) {
    // Corner (x1, y2) with s = t = 1: mean of the 2 x 2 corner, floored.
    ImageBuffer* in = make_buffer("in", 5, 5, 4, 4, 1);
    const uint8_t rows[16] = {10, 21, 0, 0,  //
                              30, 40, 0, 0,  //
                              0,  0,  0, 0,  //
                              0,  0,  0, 0};
    std::memcpy(in->plane[0], rows, 16);
    make_buffer("out", 5, 5, 4, 4, 1);
    ASSERT_EQ(box_blur("in", "out", 1, 1, 15), 1);
    EXPECT_EQ(sample("out", 0, 5, 8), (10 + 21 + 30 + 40) / 4);  // 25.25 -> 25
    EXPECT_EQ(sample("out", 0, 6, 8), (10 + 21 + 30 + 40) / 6);  // 3 x 2 box

    // A mean of 127.5 gives 127.
    ImageBuffer* pair = make_buffer("pair", 0, 0, 2, 1, 1);
    pair->plane[0][0] = 127;
    pair->plane[0][1] = 128;
    make_buffer("pout", 0, 0, 2, 1, 1);
    ASSERT_EQ(box_blur("pair", "pout", 1, 0, 15), 0);  // 2 pixels need s = 0
    ASSERT_EQ(box_blur("pair", "pout", 0, 0, 15), 1);  // 0 x 0 reproduces the input
    EXPECT_EQ(sample("pout", 0, 0, 0), 127);
    EXPECT_EQ(sample("pout", 0, 1, 0), 128);
    ImageBuffer* quad = make_buffer("quad", 0, 0, 4, 1, 1);
    const uint8_t q[4] = {127, 128, 127, 128};
    std::memcpy(quad->plane[0], q, 4);
    make_buffer("qout", 0, 0, 4, 1, 1);
    ASSERT_EQ(box_blur("quad", "qout", 1, 0, 15), 1);
    EXPECT_EQ(sample("qout", 0, 0, 0), 127);

    // Width 2s + 1 is refused with the X message, 2s + 2 accepted; the height
    // likewise with the Y message, tested first.
    make_buffer("w5", 0, 0, 5, 10, 1);
    make_buffer("w5o", 0, 0, 5, 10, 1);
    testing::internal::CaptureStderr();
    EXPECT_EQ(box_blur("w5", "w5o", 2, 0, 15), 0);
    EXPECT_EQ(box_blur("w5", "w5o", 1, 5, 15), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "WARNING : Sorry, blur X size too big\n"
              "          Could you change blur X size plaese.\n"
              "WARNING : Sorry, blur Y size too big\n"
              "          Could you change blur Y size please.\n");
    EXPECT_EQ(box_blur("w5", "w5o", 1, 4, 15), 1);
    make_buffer("row", 0, 0, 6, 1, 1);
    make_buffer("rowo", 0, 0, 6, 1, 1);
    EXPECT_EQ(box_blur("row", "rowo", 2, 0, 15), 1);  // t = 0 has no height limit
}

// A refused plane fails the worker after the planes before it are written: here
// red is copied, green is refused, and blue and alpha keep their old values.
TEST_F(Blur, ARefusedPlaneLeavesEarlierPlanesWritten) {
    std::mt19937 rng(8);
    ImageBuffer* in = make_random_buffer("in", 0, 0, 5, 10, 4, rng);
    ImageBuffer* out = make_random_buffer("out", 0, 0, 5, 10, 4, rng);
    auto blue = plane_copy(*out, 2), alpha = plane_copy(*out, 3), green = plane_copy(*out, 1);
    testing::internal::CaptureStderr();
    EXPECT_EQ(box_blur("in", "out", 2, 0, 2), 0);
    EXPECT_EQ(plane_copy(*out, 0), plane_copy(*in, 0));
    EXPECT_EQ(plane_copy(*out, 1), green);
    EXPECT_EQ(plane_copy(*out, 2), blue);
    EXPECT_EQ(plane_copy(*out, 3), alpha);
    // The silhouette blur tests the size before it writes anything.
    auto red = plane_copy(*out, 0);
    EXPECT_EQ(silhouette_blur("in", "out", 1, 5, 15), 0);
    EXPECT_EQ(plane_copy(*out, 0), red);
    EXPECT_EQ(plane_copy(*out, 3), alpha);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "WARNING : Sorry, blur X size too big\n"
              "          Could you change blur X size plaese.\n"
              "WARNING : Sorry, blur Y size too big\n"
              "          Could you change blur Y size please.\n");
}

TEST_F(Blur, PlaneMasksCopyTheOtherPlanes) {
    std::mt19937 rng(5);
    ImageBuffer* in = make_random_buffer("in", 0, 0, 12, 9, 4, rng);
    ImageBuffer* out = make_random_buffer("out", 0, 0, 12, 9, 4, rng);
    ASSERT_EQ(run_line("blur -r -g -z 1 2 in out"), 1);  // -g replaces -r
    EXPECT_EQ(plane_copy(*out, 0), plane_copy(*in, 0));
    EXPECT_EQ(plane_copy(*out, 1), plain_box_mean(in->plane[1], 12, 9, 1, 2));
    EXPECT_EQ(plane_copy(*out, 3), plane_copy(*in, 3));
    ASSERT_EQ(run_line("blur -rgb -z 2 1 in out"), 1);
    EXPECT_EQ(plane_copy(*out, 2), plain_box_mean(in->plane[2], 12, 9, 2, 1));
    EXPECT_EQ(plane_copy(*out, 3), plane_copy(*in, 3));
    // A 3-plane output of a 4-plane input takes the first three planes.
    ImageBuffer* out3 = make_buffer("out3", 0, 0, 12, 9, 3);
    ASSERT_EQ(box_blur("in", "out3", 1, 1, 15), 1);
    EXPECT_EQ(plane_copy(*out3, 2), plain_box_mean(in->plane[2], 12, 9, 1, 1));
}

TEST_F(Blur, RefusesMismatchedBuffers) {
    make_buffer("a", 0, 0, 10, 10, 3);
    make_buffer("b", 0, 0, 10, 10, 4);
    make_buffer("c", 1, 0, 10, 10, 4);
    ImageBuffer* b = find_buffer("b");
    std::memset(b->plane[0], 7, 100);
    testing::internal::CaptureStderr();
    EXPECT_EQ(box_blur("a", "b", 1, 1, 15), 0);
    EXPECT_EQ(box_blur("b", "c", 1, 1, 15), 0);
    EXPECT_EQ(box_blur("b", "zz", 1, 1, 15), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "WARNING : component type missing\n"
              "          a is 3 component\n"
              "          b is 4 component\n"
              "WARNING : window size missing\n"
              "          Could you use same window size buff\n"
              "          b is min(0.0)-max(9.9)\n"
              "          c is min(1.0)-max(10.9)\n"
              "WARNING : Can't find buff (name=zz)\n");
    EXPECT_EQ(b->plane[0][55], 7);  // nothing written
}

TEST_F(Blur, ABlurIntoItsOwnInputReadsTheUnblurredPixels) {
    std::mt19937 rng(3);
    ImageBuffer* a = make_random_buffer("a", 0, 0, 16, 12, 4, rng);
    auto before = plane_copy(*a, 1);
    ASSERT_EQ(box_blur("a", "a", 2, 1, 2), 1);
    EXPECT_EQ(plane_copy(*a, 1), plain_box_mean(before.data(), 16, 12, 2, 1));
}

TEST_F(Blur, SilhouetteBlendFollowsTheBlurredAlpha) {
    std::mt19937 rng(11);
    for (int alpha : {0, 1, 2, 64, 127, 128, 129, 192, 254, 255}) {
        ImageBuffer* in = make_random_buffer("in", 2, 3, 15, 11, 4, rng);
        std::memset(in->plane[3], alpha, 15 * 11);  // a flat alpha blurs to itself
        make_buffer("out", 2, 3, 15, 11, 4);
        ASSERT_EQ(silhouette_blur("in", "out", 2, 1, 15), 1);
        ImageBuffer* out = find_buffer("out");
        for (int p = 0; p < 3; ++p) {
            auto mean = plain_box_mean(in->plane[p], 15, 11, 2, 1);
            for (int i = 0; i < 15 * 11; ++i) {
                int v = in->plane[p][i], b = mean[i], d = std::abs(alpha - 128);
                int expected = v;
                if (alpha == 128) expected = b;
                if (alpha == 192) expected = int(0.5 * b + 0.5 * v);
                if (d < 127) expected = int((1.0 - d / 128.0) * b + (d / 128.0) * v);
                ASSERT_EQ(out->plane[p][i], expected) << alpha << " " << p << " " << i;
            }
        }
        EXPECT_EQ(plane_copy(*out, 3), plane_copy(*in, 3));
    }

    // A varying alpha: the blend uses the blurred alpha, the output keeps the input's.
    ImageBuffer* in = make_random_buffer("in", 0, 0, 20, 14, 4, rng);
    ImageBuffer* out = make_random_buffer("out", 0, 0, 20, 14, 4, rng);
    auto green = plane_copy(*out, 1);
    ASSERT_EQ(silhouette_blur("in", "out", 3, 2, 5), 1);  // red and blue
    auto alpha = plain_box_mean(in->plane[3], 20, 14, 3, 2);
    auto red = plain_box_mean(in->plane[0], 20, 14, 3, 2);
    for (int i = 0; i < 20 * 14; ++i)
        ASSERT_EQ(out->plane[0][i], silhouette_blend(alpha[i], red[i], in->plane[0][i]));
    EXPECT_EQ(plane_copy(*out, 1), plane_copy(*in, 1));
    EXPECT_NE(plane_copy(*out, 1), green);
    EXPECT_EQ(plane_copy(*out, 3), plane_copy(*in, 3));
}

TEST_F(Blur, SilhouetteNeedsAlphaOnBothSides) {
    make_buffer("rgb", 0, 0, 10, 10, 3);
    make_buffer("out", 0, 0, 10, 10, 4);
    testing::internal::CaptureStderr();
    EXPECT_EQ(silhouette_blur("rgb", "out", 1, 1, 7), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "WARNING : rgb or out has no alpha plane.\n"
              "          rgb is 3 component\n"
              "          out is 4 component\n");
}

bool registered(const char* name) { return find_buffer(name) != nullptr; }

TEST_F(Blur, RepetitionsAlternateThroughATemporary) {
    std::mt19937 rng(21);
    ImageBuffer* in = make_random_buffer("in", 0, 0, 14, 10, 4, rng);
    auto original = plane_copy(*in, 0);
    auto once = plain_box_mean(original.data(), 14, 10, 1, 1);
    auto twice = plain_box_mean(once.data(), 14, 10, 1, 1);
    auto thrice = plain_box_mean(twice.data(), 14, 10, 1, 1);
    make_buffer("out", 0, 0, 14, 10, 4);
    for (auto [n, expected] : {std::pair{2, twice}, std::pair{3, thrice}}) {
        ASSERT_EQ(repeat_blur(BlurKind::box, "in", "out", 1, 1, 15, n), 1);
        EXPECT_EQ(plane_copy(*find_buffer("out"), 0), expected) << n;
        EXPECT_FALSE(registered("sys:blurTmp"));
        EXPECT_EQ(plane_copy(*in, 0), original);
    }
    ASSERT_EQ(repeat_blur(BlurKind::silhouette, "in", "out", 1, 1, 15, 2), 1);
    EXPECT_FALSE(registered("sys:silhoetteBlurTmp"));

    // Failures dispose of the temporary too; a missing input creates none.
    make_buffer("small", 0, 0, 3, 3, 4);
    make_buffer("three", 0, 0, 14, 10, 3);
    ImageBuffer* out = find_buffer("out");
    std::memset(out->plane[0], 9, 140);
    testing::internal::CaptureStderr();
    EXPECT_EQ(repeat_blur(BlurKind::box, "nothing", "out", 1, 1, 15, 2), 0);
    EXPECT_EQ(repeat_blur(BlurKind::box, "in", "nowhere", 1, 1, 15, 2), 0);
    EXPECT_EQ(repeat_blur(BlurKind::box, "small", "small2", 1, 1, 15, 2), 0);
    EXPECT_EQ(repeat_blur(BlurKind::box, "three", "out", 1, 1, 15, 2), 0);
    EXPECT_EQ(repeat_blur(BlurKind::silhouette, "in", "small", 1, 1, 15, 3), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "WARNING : Can't find nothing\n"
              "WARNING : Can't find buff (name=nowhere)\n"
              "WARNING : Can't find buff (name=small2)\n"
              "WARNING : component type missing\n"
              "          three is 3 component\n"
              "          out is 4 component\n"
              "WARNING : window size missing\n"
              "          Could you use same window size buff\n"
              "          sys:silhoetteBlurTmp is min(0.0)-max(13.9)\n"
              "          small is min(0.0)-max(2.2)\n");
    EXPECT_FALSE(registered("sys:blurTmp"));
    EXPECT_FALSE(registered("sys:silhoetteBlurTmp"));
    EXPECT_EQ(out->plane[0][70], 9);  // the refused repetition wrote nothing

    // A user buffer of the temporary's name is used and then disposed.
    make_random_buffer("sys:blurTmp", 5, 5, 2, 2, 1, rng);
    ASSERT_EQ(repeat_blur(BlurKind::box, "in", "out", 1, 1, 15, 2), 1);
    EXPECT_FALSE(registered("sys:blurTmp"));
    EXPECT_EQ(plane_copy(*find_buffer("out"), 0), twice);
}

TEST(BlurCommands, MessagesAndUsage) {
    const std::string blur_usage =
        "Usage : blur [-options] inBuffName outBuffName\n"
        "[options]\n"
        " -z x y : blur size : x y >= 0 \n"
        " -rgba : blur red, green, blue, alpha plane\n"
        " -rgb : blur red, green blue plane\n"
        " -r : blur   red plane\n"
        " -g : blur green plane\n"
        " -b : blur  blue plane\n"
        " -a : blur alpha plane\n"
        " -x n : n-Times blur effect\n"
        "[Default]\n"
        " -rgba\n"
        " -z 5 5\n"
        " -x 1\n";
    const std::string sblur_usage =
        "Usage : sblur [-options] inBuffName outBuffName\n"
        "[options]\n"
        " -z x y : silhoetteBlur size : x y >= 0 \n"
        " -rgb : silhoetteBlur red, green blue plane\n"
        " -r : silhoetteBlur   red plane\n"
        " -g : silhoetteBlur green plane\n"
        " -b : silhoetteBlur  blue plane\n"
        " -x n : n-Times silhoetteBlur effect\n"
        "[Default]\n"
        " -rgb\n"
        " -z 5 5\n"
        " -x 1\n";
    auto r = run_kqc(
        "blur ?\nsblur ?\nblur -h\n"
        "create a -s 0 0 20 20\ncreate b -s 0 0 20 20\n"
        "blur a a\n"
        "blur a\n"
        "blur -z 1 -1 a b\n"
        "blur -x 0 a b\n"
        "blur a b c\n"
        "blur -z 1\n"
        "sblur -a a b\n"
        "blur -x 3 -z 2 2 -rgb a b\n"
        // Words are checked left to right: the first fault met is the one reported.
        "blur a b c -z -1 0\n"
        "blur -z -1 0 a b c\n"
        "blur a b c -x\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "\tblur\t-> blur effect\n"
                     "\tsblur\t-> silhoetteBlur effect\n" +
                         blur_usage +
                         "ERROR : You must define different in/out buff\n" + blur_usage +
                         exec_error(6, "blur a a") +
                         "ERROR : You must define in/out buff name\n" + blur_usage +
                         exec_error(7, "blur a") +
                         "ERROR : negative -z value\n" + blur_usage +
                         exec_error(8, "blur -z 1 -1 a b") +
                         "ERROR : negative or zero -x value\n" + blur_usage +
                         exec_error(9, "blur -x 0 a b") + "ERROR : Invalid argment\n" +
                         blur_usage + exec_error(10, "blur a b c") +
                         "ERROR : -z need 2 argment(s)\n" + blur_usage +
                         exec_error(11, "blur -z 1") + "ERROR : Invalid argment\n" +
                         sblur_usage + exec_error(12, "sblur -a a b") +
                         "ERROR : Invalid argment\n" + blur_usage +
                         exec_error(14, "blur a b c -z -1 0") +
                         "ERROR : negative -z value\n" + blur_usage +
                         exec_error(15, "blur -z -1 0 a b c") + "ERROR : Invalid argment\n" +
                         blur_usage + exec_error(16, "blur a b c -x"));
}

}  // namespace
