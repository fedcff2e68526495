// random, scatter, spread and bumpy: the generator, the workers against plain
// transcriptions of their per-pixel rules, hand-computed shading, and messages.
#include <random>
#include <string>
#include <vector>

#include "buffer/image_buffer.h"
#include "gtest/gtest.h"
#include "ops/effects.h"
#include "tests/command_helpers.h"
#include "tests/kqc_runner.h"

namespace {

std::vector<uint8_t> planes_of(const char* name) {
    const ImageBuffer* b = find_buffer(name);
    return {b->plane[0], b->plane[0] + b->plane_size() * b->components};
}

// A buffer of random samples; alpha (when present) from `alphas`.
void random_buffer(const char* name, int x, int y, int w, int h, int n, unsigned seed,
                   std::vector<uint8_t> alphas = {}) {
    ImageBuffer* b = make_buffer(name, x, y, w, h, n);
    std::mt19937 gen(seed);
    for (int p = 0; p < n; ++p)
        for (int64_t i = 0; i < b->plane_size(); ++i)
            b->plane[p][i] = p == 3 && !alphas.empty() ? alphas[gen() % alphas.size()]
                                                       : static_cast<uint8_t>(gen());
}

// scatter (mode 0 ... 3) and spread (mode 4) as the rules read, pixel by pixel.
void plain_moves(const char* in_name, const char* out_name, int radius, int tries, int seed,
                 int mode, int threshold, float scale) {
    ImageBuffer& in = *find_buffer(in_name);
    ImageBuffer& out = *find_buffer(out_name);
    for (int p = 0; p < in.components; ++p)
        std::copy(in.plane[p], in.plane[p] + in.plane_size(), out.plane[p]);
    radius = std::abs(radius);
    ExampleRand gen(seed);
    const float w = static_cast<float>(double(scale) / tries);
    for (int y = in.window.y2; y >= in.window.y1; --y)
        for (int x = in.window.x1; x <= in.window.x2; ++x) {
            const int a0 = in.components == 4 ? pixel_address(in, 3, x, y) : 0;
            if (mode == 4 && a0 == 0) continue;
            for (int t = 0; t < tries; ++t) {
                const float dx = static_cast<float>((2 * (gen.next() * (1.0 / 32767)) - 1) * radius);
                const float dy = static_cast<float>((2 * (gen.next() * (1.0 / 32767)) - 1) * radius);
                const int sx = static_cast<int>(float(x) + dx + 0.5);
                const int sy = static_cast<int>(float(y) + dy + 0.5);
                if (!in.contains(sx, sy)) continue;
                const int a1 = in.components == 4 ? pixel_address(in, 3, sx, sy) : 0;
                if (mode == 4) {
                    if (a0 - a1 < 0 || a0 - a1 <= threshold) continue;
                    for (int p = 0; p < 4; ++p) {
                        const int v = static_cast<int>(pixel_address(in, p, x, y) * w +
                                                       pixel_address(out, p, sx, sy));
                        store_pixel(out, sx, sy, p, std::clamp(v, 0, 255));
                    }
                    continue;
                }
                if (mode != 0 && std::abs(a0 - a1) <= threshold) continue;
                for (int p = 0; p < in.components; ++p) {
                    const uint8_t here = pixel_address(in, p, x, y);
                    const uint8_t there = pixel_address(in, p, sx, sy);
                    if (mode <= 1 || (mode == 2 && a0 < a1) || (mode == 3 && a1 <= a0))
                        store_pixel(out, x, y, p, there);
                    if (mode <= 1 || (mode == 2 && !(a0 < a1)) || (mode == 3 && !(a1 <= a0)))
                        store_pixel(out, sx, sy, p, here);
                }
            }
        }
}

class Effects : public testing::Test {
protected:
    void SetUp() override { clear_registry(); }
    void TearDown() override {
        clear_registry();
        effects_allow_packed(true);
    }
};

}  // namespace

TEST_F(Effects, GeneratorIsTheStandardsExample) {
    ExampleRand one(1);
    EXPECT_EQ(one.next(), 16838);
    EXPECT_EQ(one.next(), 5758);
    EXPECT_EQ(one.next(), 10113);
    std::mt19937 gen(3);
    for (int round = 0; round < 50; ++round) {
        const unsigned seed = gen();
        const int64_t n = gen() % 100;
        ExampleRand a(seed), b(seed);
        std::vector<uint16_t> block(size_t(n) + 1, 0);
        a.fill(block.data(), n);
        for (int64_t i = 0; i < n; ++i) ASSERT_EQ(block[i], b.next());
        ASSERT_EQ(a.next(), b.next());  // the state follows the block
    }
}

TEST_F(Effects, RandomFillsThePlanesInOrder) {
    ImageBuffer* b = make_buffer("n", 0, 0, 5, 3, 4);
    std::fill(b->plane[3], b->plane[3] + 15, 9);
    ASSERT_EQ(run_line("random -r 0.5 0.5 n"), 1);
    EXPECT_EQ(sample("n", 0, 4, 2), 127);  // 127.5 truncated
    EXPECT_EQ(sample("n", 1, 0, 0), 0);

    // The default: r, g, b over 0 ... 255 in one sequence; alpha untouched.
    ASSERT_EQ(run_line("random -s 77 n"), 1);
    ExampleRand gen(77);
    for (int p = 0; p < 3; ++p)
        for (int64_t i = 0; i < 15; ++i)
            ASSERT_EQ(b->plane[p][i], static_cast<int>(gen.next() * (1.0 / 32767) * 255));
    EXPECT_EQ(sample("n", 3, 0, 0), 9);
    const auto first = planes_of("n");
    ASSERT_EQ(run_line("random -s 77 n"), 1);
    EXPECT_EQ(planes_of("n"), first);

    // Swapped limits are the same limits; the last plane option sets the mask.
    ASSERT_EQ(run_line("random -s 5 -g 0.2 0.9 -r 1 0 n"), 1);
    const auto swapped = planes_of("n");
    ASSERT_EQ(run_line("random -s 5 -r 0 1 n"), 1);
    EXPECT_EQ(planes_of("n"), swapped);

    make_buffer("c", 0, 0, 2, 2, 3);
    ASSERT_EQ(run_line("random -a 0 1 c"), 1);
    EXPECT_EQ(planes_of("c"), std::vector<uint8_t>(12, 0));
}

TEST_F(Effects, ScatterAndSpreadFollowTheRules) {
    const std::vector<uint8_t> edges = {0, 0, 128, 255, 255};
    for (int layout = 0; layout < 20; ++layout) {  // packed first, then planes
        const int mode = layout % 5, seed = (layout / 5) % 2 ? 12345 : 0;
        effects_allow_packed(layout < 10);
        {
            const int n = mode == 0 ? (seed == 0 ? 3 : 1) : 4;
            random_buffer("in", -3, 7, 23, 17, n, unsigned(seed + mode), edges);
            make_buffer("out", -3, 7, 23, 17, n);
            make_buffer("want", -3, 7, 23, 17, n);
            const int radius = seed ? -4 : 6, tries = seed ? 2 : 3, threshold = seed ? 100 : 0;
            plain_moves("in", "want", radius, tries, seed, mode, threshold, 1.7f);
            const int ok = mode == 4 ? spread_pixels("in", "out", radius, tries, seed, threshold, 1.7f)
                                     : scatter_pixels("in", "out", radius, tries, seed,
                                                      ScatterMode(mode), threshold);
            ASSERT_EQ(ok, 1);
            ASSERT_EQ(planes_of("out"), planes_of("want")) << "mode " << mode << " seed " << seed
                                                           << " packed " << (layout < 10);
        }
    }
    // in may be out: reads still see in as it was.
    for (bool packed : {false, true}) {
        effects_allow_packed(packed);
        random_buffer("self", 0, 0, 9, 9, 4, 1, edges);
        make_buffer("want", 0, 0, 9, 9, 4);
        plain_moves("self", "want", 3, 3, 8, 1, 10, 1);
        ASSERT_EQ(scatter_pixels("self", "self", 3, 3, 8, ScatterMode::across, 10), 1);
        EXPECT_EQ(planes_of("self"), planes_of("want"));
    }
    effects_allow_packed(true);

    // Nothing moves: radius 0, -m 255, an opaque spread source.
    random_buffer("in", 0, 0, 16, 16, 4, 2, edges);
    const auto in = planes_of("in");
    make_buffer("out", 0, 0, 16, 16, 4);
    ASSERT_EQ(run_line("scatter -r 0 in out"), 1);
    EXPECT_EQ(planes_of("out"), in);
    ASSERT_EQ(run_line("scatter -m 255 -r 5 in out"), 1);
    EXPECT_EQ(planes_of("out"), in);
    random_buffer("opaque", 0, 0, 16, 16, 4, 3, {255});
    ASSERT_EQ(run_line("spread -w 2 -x 4 opaque out"), 1);
    EXPECT_EQ(planes_of("out"), planes_of("opaque"));
}

TEST_F(Effects, BumpyShadesByValue) {
    // Expected bytes worked out in single precision step by step.
    const uint8_t colours[][3] = {{200, 100, 50}, {10, 20, 30}, {255, 255, 255},
                                  {90, 200, 90},  {0, 0, 0},    {255, 0, 0}};
    const struct {
        int bump_sample;
        uint8_t want[6][3];
    } cases[] = {
        {128, {{200, 100, 50}, {10, 20, 30}, {255, 255, 255}, {90, 200, 90}, {0, 0, 0}, {255, 0, 0}}},
        {255, {{255, 137, 78}, {15, 30, 45}, {255, 255, 255}, {129, 255, 129}, {0, 0, 0}, {255, 42, 42}}},
        {0, {{100, 50, 25}, {5, 10, 15}, {127, 127, 127}, {45, 100, 45}, {0, 0, 0}, {127, 0, 0}}},
    };
    ImageBuffer* a = make_buffer("A", 1, 1, 6, 1, 4);
    for (int i = 0; i < 6; ++i)
        for (int k = 0; k < 3; ++k) a->plane[k][i] = colours[i][k];
    std::fill(a->plane[3], a->plane[3] + 6, 99);
    make_buffer("out", 1, 1, 6, 1, 4);
    for (const auto& c : cases) {
        // B is one pixel narrower: its outside cell stands in for the last column.
        ImageBuffer* b = make_buffer("B", 1, 1, 5, 1, 1);
        std::fill(b->plane[0], b->plane[0] + 5, uint8_t(c.bump_sample));
        b->outside[0] = uint8_t(c.bump_sample);
        ASSERT_EQ(run_line("bumpy A B out"), 1);
        for (int i = 0; i < 6; ++i)
            for (int k = 0; k < 3; ++k)
                EXPECT_EQ(sample("out", k, 1 + i, 1), c.want[i][k]) << c.bump_sample << " " << i;
        EXPECT_EQ(sample("out", 3, 1, 1), 99);
    }
    // lo = hi: the sample at lo counts as below.
    ImageBuffer* b = make_buffer("B", 1, 1, 6, 1, 1);
    std::fill(b->plane[0], b->plane[0] + 6, 40);
    ASSERT_EQ(run_line("bumpy -m 40 40 -M -0.5 0.5 A B out"), 1);
    EXPECT_EQ(sample("out", 0, 1, 1), 100);
}

TEST_F(Effects, Messages) {
    const std::string script =
        "create -c 3 -s 0 0 4 4 c3\n"              // 1
        "create -s 0 0 4 4 c4\n"                   // 2
        "create -s 1 0 4 4 moved\n"                // 3
        "create -c 1 -s 0 0 4 4 c1\n"              // 4
        "random none\n"                            // 5
        "random\n"                                 // 6
        "random a b\n"                             // 7
        "random -rgb 1 2\n"                        // 8
        "scatter c3 c4\n"                          // 9
        "scatter c4 moved\n"                       // 10
        "scatter -m 1 c3 c3\n"                     // 11
        "scatter c3\n"                             // 12
        "spread c3 c3\n"                           // 13
        "bumpy c4 c1 c4 -a\n"                      // 14
        "bumpy c4 c4 c3\n"                         // 15
        "bumpy c1 c1 c1\n"                         // 16
        "bumpy c4 c4 moved x\n"                    // 17
        "bumpy c4 c4 moved\n";                     // 18
    const KqcRun run = run_kqc(script);
    EXPECT_EQ(run.status, 0);
    auto failed = [](int line, const std::string& text) { return exec_error(line, text); };
    const std::string random_usage_head = "Usage : random [-options] buffName\n[options]\n";
    EXPECT_NE(run.err.find("WARNING : Can't find buff (name=none)\n" + failed(5, "random none")),
              std::string::npos);
    EXPECT_NE(run.err.find("ERROR : You must define buff name\n" + random_usage_head),
              std::string::npos);
    EXPECT_NE(run.err.find("ERROR : Invalid argment\n" + random_usage_head), std::string::npos);
    EXPECT_NE(run.err.find("ERROR : -rgb need 6 argment(s)\n" + random_usage_head),
              std::string::npos);
    EXPECT_NE(run.err.find(" -s 0\n" + failed(8, "random -rgb 1 2")), std::string::npos);
    const std::string tail =
        "WARNING : component type missing\n          c3 is 3 component\n"
        "          c4 is 4 component\n" + failed(9, "scatter c3 c4") +
        "WARNING : window spec missing c4 & moved\n" + failed(10, "scatter c4 moved") +
        "WARNING : c3 has no alpha plane\n" + failed(11, "scatter -m 1 c3 c3") +
        "ERROR : You must define In/Out buff name\n"
        "Usage : scatter [-options] inBuffName outBuffName \n[options]\n"
        " -r radius : scatter radius\n -x n      : scatter count for one pixel\n"
        " -s seed   : scatter seed value set ( 0 ~ 2147483648 )\n"
        " -m threshold : across the silhouette scatter mode\n"
        " -i threshold : across the silhouette scatter mode ( inside -> outside )\n"
        " -o threshold : across the silhouette scatter mode ( outside -> inside )\n"
        "    threshold : threshold of alpha value difference (0~255)\n"
        "[Default]\n -r 10\n -x 3\n -s 0\n" + failed(12, "scatter c3") +
        "WARNING : c3 has no alpha plane\n" + failed(13, "spread c3 c3") +
        "WARNING : c1 is 1 component\n          Could you change plane for bumpy info\n" +
        failed(14, "bumpy c4 c1 c4 -a") +
        "WARNING : component missing\n          c4 is 4 component\n          c3 is 3 component\n" +
        failed(15, "bumpy c4 c4 c3") +
        "WARNING : component error\n"
        "          Could you use 3 or more component buffer for In/Out\n" +
        failed(16, "bumpy c1 c1 c1") + "ERROR : Invalid argment\nUsage : bumpy" ;
    EXPECT_NE(run.err.find(tail), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("  -r\n" + failed(17, "bumpy c4 c4 moved x") +
                           "WARNING : window spec missing c4 & moved\n" +
                           failed(18, "bumpy c4 c4 moved")),
              std::string::npos);

    const KqcRun help = run_kqc("random ?\nscatter ?\nspread ?\nbumpy ?\nspread -\n");
    EXPECT_EQ(help.err.find("\trandom\t-> generate random pixel pattern\n\tscatter\t-> scatter pixel effect\n"
              "\tspread\t-> spread effect\n\tbumpy\t-> bumpy effect\n"),
              0u);
    EXPECT_NE(help.err.find("Usage : spread [-options] inBuffName outBuffName \n"
                            "         inBuffName : source image buffer\n"),
              std::string::npos);
}
