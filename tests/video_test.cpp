// Unit tests of the video raster conversions: the vector row kernels against the
// plain loops (exhaustively over every two-row sum, randomly elsewhere), whole frames
// against a direct per-pixel model, the documented rows and columns, plane
// selection, and the messages.
#include "ops/video.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "buffer/image_buffer.h"
#include "tests/command_helpers.h"

namespace {

using video_rows::RowMix;

class Video : public ::testing::Test {
protected:
    void SetUp() override { clear_registry(); }
    void TearDown() override {
        video_allow_wide_vectors(true);
        clear_registry();
    }
};

std::vector<uint8_t> plane_of(const char* name, int p) {
    return plane_copy(*find_buffer(name), p);
}

// Pixel (row k from the top, column c) of plane p.
int at(const char* name, int p, int k, int c) {
    const ImageBuffer* b = find_buffer(name);
    return b->plane[p][int64_t(k) * b->width + c];
}

// The conversions pixel by pixel as the filters are written.
std::vector<uint8_t> model_d1_to_ntsc(const uint8_t* in) {
    std::vector<int> t(486 * 640);
    for (int k = 0; k < 486; ++k)
        for (int c = 0; c < 640; ++c) {
            const int g = c / 8, j = c % 8;
            const uint8_t* p = in + k * 720 + 9 * g;
            t[k * 640 + c] = ((8 - j) * p[j] + (j + 1) * p[j + 1] + 4) / 9;
        }
    std::vector<uint8_t> out(480 * 640);
    for (int r = 0; r < 480; ++r)
        for (int c = 0; c < 640; ++c) {
            const int g = r / 80, m = r % 80, k = 81 * g + m;
            out[r * 640 + c] =
                uint8_t((t[k * 640 + c] * (80 - m) + t[(k + 1) * 640 + c] * (m + 1) + 40) / 81);
        }
    return out;
}

std::vector<uint8_t> model_ntsc_to_d1(const uint8_t* in) {
    std::vector<int> s(480 * 720);
    for (int k = 0; k < 480; ++k)
        for (int c = 0; c < 720; ++c) {
            const int g = c / 9, j = c % 9;
            const uint8_t* p = in + k * 640 + 8 * g;
            s[k * 720 + c] = j == 0 ? p[0] : j == 8 ? p[7] : (j * p[j - 1] + (8 - j) * p[j]) >> 3;
        }
    std::vector<uint8_t> out(486 * 720);
    for (int r = 0; r < 486; ++r)
        for (int c = 0; c < 720; ++c) {
            const int g = r / 81, q = r % 81, i = 80 * g + q;
            int v;
            if (q == 0)
                v = s[i * 720 + c];
            else if (q == 80)
                v = s[(i - 1) * 720 + c];
            else
                v = (s[i * 720 + c] * (80 - q) + s[(i - 1) * 720 + c] * q + 40) / 80;
            out[r * 720 + c] = uint8_t(v);
        }
    return out;
}

std::vector<uint8_t> model_hd_to_ntsc(const uint8_t* in) {
    std::vector<int> t(1035 * 640);
    for (int k = 0; k < 1035; ++k)
        for (int c = 0; c < 640; ++c) {
            const uint8_t* p = in + k * 1920 + 3 * c;
            t[k * 640 + c] = (p[0] + p[1] + p[2]) / 3;
        }
    static const int w[8][4] = {{0, 8, 8, 7}, {1, 8, 8, 6}, {2, 8, 8, 5}, {3, 8, 8, 4},
                                {4, 8, 8, 3}, {5, 8, 8, 2}, {6, 8, 8, 1}, {7, 8, 8, 0}};
    std::vector<uint8_t> out(360 * 640);
    for (int r = 0; r < 360; ++r)
        for (int c = 0; c < 640; ++c) {
            const int b = r / 8, j = r % 8;
            int sum = 0;
            for (int n = 0; n < 4; ++n) {
                const int row = 23 * b + 3 * j - 1 + n;
                if (w[j][n]) sum += w[j][n] * t[row * 640 + c];
            }
            out[r * 640 + c] = uint8_t(sum / 23);
        }
    return out;
}

TEST_F(Video, VectorKernelsMatchPlainLoops) {
    // Every pair of samples under every two-row weighting the conversions use.
    std::vector<uint8_t> a(65536 + 7), b(65536 + 7), fast(a.size()), plain(a.size());
    for (size_t i = 0; i < a.size(); ++i) {
        a[i] = uint8_t(i);
        b[i] = uint8_t(i >> 8);
    }
    for (int d : {80, 81}) {
        for (int m = 0; m <= 80; ++m) {
            const int w0 = 80 - m, w1 = d - w0;
            const RowMix mix{2, {a.data(), b.data()}, {w0, w1}, 40, d};
            video_rows::mix_rows(mix, fast.data(), int64_t(a.size()));
            video_rows::mix_rows_plain(mix, plain.data(), int64_t(a.size()));
            ASSERT_EQ(fast, plain) << "divisor " << d << " weight " << w0;
        }
    }
    // Rows alternating two samples give every column filter every pair of samples
    // (and the 3 -> 1 mean every sum).
    using Kernel = void (*)(const uint8_t*, uint8_t*);
    const std::pair<Kernel, Kernel> columns[] = {
        {video_rows::d1_columns, video_rows::d1_columns_plain},
        {video_rows::ntsc_columns, video_rows::ntsc_columns_plain},
        {video_rows::hd_columns, video_rows::hd_columns_plain}};
    std::vector<uint8_t> alt(1920), f(720), p(720);
    for (int pair = 0; pair < 65536; ++pair) {
        for (size_t i = 0; i < alt.size(); ++i) alt[i] = uint8_t(i % 2 ? pair >> 8 : pair);
        for (auto [fast_kernel, plain_kernel] : columns) {
            fast_kernel(alt.data(), f.data());
            plain_kernel(alt.data(), p.data());
            ASSERT_EQ(f, p);
        }
    }
    // Random rows (and saturated ones) through the four-row HD mix, at many lengths.
    std::mt19937 rng(11);
    std::vector<uint8_t> rows[4];
    for (int trial = 0; trial < 400; ++trial) {
        for (auto& r : rows) {
            r.resize(700);
            for (auto& v : r) v = trial < 2 ? 255 : uint8_t(rng());
        }
        const int j = trial % 8;
        const RowMix mix{
            4, {rows[0].data(), rows[1].data(), rows[2].data(), rows[3].data()}, {j, 8, 8, 7 - j},
            0, 23};
        const int64_t n = 600 + trial % 100;
        video_rows::mix_rows(mix, f.data(), n);
        video_rows::mix_rows_plain(mix, p.data(), n);
        ASSERT_EQ(f, p);
    }
}

TEST_F(Video, FramesMatchTheModelAtAnyOrigin) {
    std::mt19937 rng(5);
    for (bool wide : {true, false}) {
        video_allow_wide_vectors(wide);
        make_random_buffer("d1", -3, 17, 720, 486, 4, rng);
        make_buffer("ntsc", 9, -40, 640, 480, 4);
        ASSERT_EQ(run_line("d1tontsc d1 ntsc"), 1);
        for (int p = 0; p < 4; ++p)
            EXPECT_EQ(plane_of("ntsc", p), model_d1_to_ntsc(find_buffer("d1")->plane[p]));

        make_random_buffer("n", 0, 33, 640, 480, 3, rng);
        make_buffer("d", -5, 7, 720, 486, 3);
        ASSERT_EQ(run_line("ntsctod1 n d"), 1);
        for (int p = 0; p < 3; ++p)
            EXPECT_EQ(plane_of("d", p), model_ntsc_to_d1(find_buffer("n")->plane[p]));

        make_random_buffer("hd", 100, -100, 1920, 1035, 3, rng);
        make_buffer("q", 0, 0, 640, 360, 3);
        ASSERT_EQ(run_line("hdtontsc hd q"), 1);
        for (int p = 0; p < 3; ++p)
            EXPECT_EQ(plane_of("q", p), model_hd_to_ntsc(find_buffer("hd")->plane[p]));
    }
    // The temporaries are gone.
    EXPECT_EQ(find_buffer("sys:D1NtscTmp"), nullptr);
    EXPECT_EQ(find_buffer("sys:HDtoNTSCTmp"), nullptr);
}

TEST_F(Video, DocumentedRowsColumnsAndUniformFrames) {
    // Uniform frames stay uniform.
    const uint8_t v[4] = {0, 255, 77, 200};
    fill_planes(*make_buffer("d1", 0, 0, 720, 486, 3), 15, v);
    fill_planes(*make_buffer("n", 0, 0, 640, 480, 3), 15, v);
    fill_planes(*make_buffer("hd", 0, 0, 1920, 1035, 3), 15, v);
    make_buffer("no", 0, 0, 640, 480, 3);
    make_buffer("do", 0, 0, 720, 486, 3);
    make_buffer("ho", 0, 0, 640, 360, 3);
    ASSERT_EQ(run_line("d1tontsc d1 no"), 1);
    ASSERT_EQ(run_line("ntsctod1 n do"), 1);
    ASSERT_EQ(run_line("hdtontsc hd ho"), 1);
    for (const char* name : {"no", "do", "ho"})
        for (int p = 0; p < 3; ++p)
            EXPECT_EQ(plane_of(name, p),
                      std::vector<uint8_t>(find_buffer(name)->plane_size(), v[p]))
                << name << " plane " << p;

    // ntsctod1: rows 0, 80, 81 and 485 are input rows 0, 79, 80 and 479; columns
    // 0 .. 7 of 0, 8, .. 56 give 0, 7, 14, .. 56.
    std::mt19937 rng(3);
    ImageBuffer* n = make_random_buffer("n", 0, 0, 640, 480, 1, rng);
    for (int c = 0; c < 8; ++c) n->plane[0][c] = uint8_t(8 * c);
    make_buffer("do", 0, 0, 720, 486, 1);
    ASSERT_EQ(run_line("ntsctod1 n do"), 1);
    for (int c = 0; c < 9; ++c) EXPECT_EQ(at("do", 0, 0, c), 7 * c);
    const std::pair<int, int> copies[] = {{0, 0}, {80, 79}, {81, 80}, {485, 479}};
    for (auto [out_row, in_row] : copies)
        for (int c = 0; c < 720; c += 9)
            EXPECT_EQ(at("do", 0, out_row, c), at("n", 0, in_row, c / 9 * 8));

    // d1tontsc: rows 0, 79 and 80 from temporary rows (0, 1), (79, 80), (81, 82).
    ImageBuffer* d = make_buffer("d1", 0, 0, 720, 486, 1);
    for (int k = 0; k < 486; ++k)
        for (int c = 0; c < 720; ++c) d->plane[0][k * 720 + c] = uint8_t(k % 2 ? 250 : k / 3);
    make_buffer("no", 0, 0, 640, 480, 1);
    ASSERT_EQ(run_line("d1tontsc d1 no"), 1);
    auto t = [](int k) { return k % 2 ? 250 : k / 3; };  // a uniform row stays so across
    EXPECT_EQ(at("no", 0, 0, 5), (80 * t(0) + 1 * t(1) + 40) / 81);
    EXPECT_EQ(at("no", 0, 79, 5), (1 * t(79) + 80 * t(80) + 40) / 81);
    EXPECT_EQ(at("no", 0, 80, 5), (80 * t(81) + 1 * t(82) + 40) / 81);
}

TEST_F(Video, RgbOnlyAndPlaneCounts) {
    std::mt19937 rng(8);
    make_random_buffer("d1", 0, 0, 720, 486, 4, rng);
    make_random_buffer("n", 0, 0, 640, 480, 4, rng);
    const std::vector<uint8_t> alpha = plane_of("n", 3);
    ASSERT_EQ(run_line("d1tontsc -rgb d1 n"), 1);
    EXPECT_EQ(plane_of("n", 3), alpha);
    EXPECT_EQ(plane_of("n", 2), model_d1_to_ntsc(find_buffer("d1")->plane[2]));
    ASSERT_EQ(run_line("d1tontsc d1 n"), 1);
    EXPECT_EQ(plane_of("n", 3), model_d1_to_ntsc(find_buffer("d1")->plane[3]));

    const std::vector<uint8_t> d1_alpha = plane_of("d1", 3);
    ASSERT_EQ(run_line("ntsctod1 n -rgb d1"), 1);
    EXPECT_EQ(plane_of("d1", 3), d1_alpha);
    // Four planes to three converts the colours; three to four leaves alpha 0.
    make_buffer("d3", 0, 0, 720, 486, 3);
    ASSERT_EQ(run_line("ntsctod1 n d3"), 1);
    EXPECT_EQ(plane_of("d3", 1), model_ntsc_to_d1(find_buffer("n")->plane[1]));
    make_random_buffer("n3", 0, 0, 640, 480, 3, rng);
    ASSERT_EQ(run_line("ntsctod1 n3 d1"), 1);
    EXPECT_EQ(plane_of("d1", 3), std::vector<uint8_t>(720 * 486, 0));

    // An output with fewer planes than the row pass writes is refused untouched.
    ImageBuffer* n1 = make_buffer("n1", 0, 0, 640, 480, 1);
    n1->plane[0][0] = 9;
    testing::internal::CaptureStderr();
    EXPECT_EQ(d1_to_ntsc("d1", "n1", true), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "WARNING : output buffer component size missing\n"
              "          d1 has 4 component\n"
              "          n1 has 1 component\n");
    EXPECT_EQ(n1->plane[0][0], 9);
    EXPECT_EQ(find_buffer("sys:D1NtscTmp"), nullptr);
}

TEST_F(Video, Messages) {
    make_buffer("wide", 0, 0, 720, 480, 3);
    make_buffer("n", 0, 0, 640, 480, 3);
    make_buffer("d1", 0, 0, 720, 486, 3);
    make_buffer("hd", 0, 0, 1920, 1035, 4);
    make_buffer("q", 0, 0, 640, 360, 4);
    make_buffer("sys:D1NtscTmp", 0, 0, 720, 486, 3);
    const char* usage =
        "Usage : d1tontsc [-options] inBuffName outBuffName\n[options]\n -rgb : rgb only\n";
    const std::pair<std::string, std::string> cases[] = {
        {"d1tontsc wide n", "ERROR : wide is not a D1 resolution\n        wide : 720 x 480\n"},
        {"d1tontsc d1 wide", "ERROR : wide is not a NTSC resolution\n        wide : 720 x 480\n"},
        {"ntsctod1 wide d1", "ERROR : wide is not a NTSC resolution\n        wide : 720 x 480\n"},
        {"ntsctod1 n wide", "ERROR : wide is not a D1 resolution\n        wide : 720 x 480\n"},
        {"d1tontsc gone n", "WARNING : Can't find buff (name=gone)\n"},
        {"hdtontsc n q", "ERROR : n is not a HD resolution (1920x1035)\n        n : 640 x 480\n"},
        {"hdtontsc hd n", "ERROR : n is not a NTSC resolution (640x360)\n        n : 640 x 480\n"},
        {"hdtontsc hd q",
         "ERROR : component is not 3\n        hd : 4 component\n        q : 4 component\n"},
        {"d1tontsc sys:D1NtscTmp n", "WARNING : sys:D1NtscTmp is a work buffer name\n"},
        {"d1tontsc d1", std::string("ERROR : You must define in/out buff name\n") + usage},
        {"d1tontsc d1 n x", std::string("ERROR : Invalid argment\n") + usage},
        {"d1tontsc ?", "\td1tontsc\t-> convert 720x486 to 640x480\n"},
        {"ntsctod1 ?", "\tntsctod1\t-> convert 640x480 to 720x486\n"},
        {"hdtontsc ?", "\thdtontsc\t-> convert 1920x1035 to 640x360\n"},
        {"hdtontsc -h",
         "Usage : hdtontsc inBuffName outBuffName\n"
         "         inBuff -> 1920 x 1035 x 3 plane\n"
         "        outBuff ->  640 x  360 x 3 plane\n"},
        {"hdtontsc hd q -rgb",
         "ERROR : You must define in/out buff name\n"
         "Usage : hdtontsc inBuffName outBuffName\n"
         "         inBuff -> 1920 x 1035 x 3 plane\n"
         "        outBuff ->  640 x  360 x 3 plane\n"},
    };
    for (const auto& [line, text] : cases) {
        testing::internal::CaptureStderr();
        const int rc = run_line(line);
        EXPECT_EQ(testing::internal::GetCapturedStderr(), text) << line;
        EXPECT_EQ(rc, line.find('?') != std::string::npos || line.find("-h") != std::string::npos)
            << line;
    }
    // The user's buffer of the work name is still there after the refusal.
    EXPECT_NE(find_buffer("sys:D1NtscTmp"), nullptr);
}

}  // namespace
