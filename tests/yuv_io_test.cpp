// readyuv, writeyuv and writedump: the row conversions against plain transcriptions
// of their integer formulas, the files they read and write, and their messages.
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "buffer/image_buffer.h"
#include "gtest/gtest.h"
#include "io/yuv_io.h"
#include "tests/kqc_runner.h"

namespace {

using Bytes = std::vector<uint8_t>;

// The conversions written out step by step, as a reader of the formulas would.
void plain_to_rgb(const Bytes& src, int64_t w, Bytes& r, Bytes& g, Bytes& b) {
    auto store = [](int32_t sum) -> uint8_t {
        if (sum < 65536) return 0;
        return static_cast<uint8_t>(std::min(sum >> 16, 255));
    };
    for (int64_t i = 0; i < w / 2; ++i) {
        const int u = src[4 * i], v = src[4 * i + 2];
        for (int k = 0; k < 2; ++k) {
            const int y = src[4 * i + 1 + 2 * k];
            const int32_t l = (y > 15 ? y - 16 : 0) * 76310, cb = u - 128, cr = v - 128;
            r[2 * i + k] = store(l + 104635 * cr);
            g[2 * i + k] = store(l - 25690 * cb - 53294 * cr);
            b[2 * i + k] = store(l + 132278 * cb);
        }
    }
}

void plain_to_yuv(const Bytes& r, const Bytes& g, const Bytes& b, int64_t w, Bytes& dst) {
    int32_t carry_y = 0, carry_u = 0, carry_v = 0, prev_u1 = 0, prev_v1 = 0;
    for (int64_t i = 0; i < w / 2; ++i) {
        const int32_t r0 = r[2 * i], g0 = g[2 * i], b0 = b[2 * i];
        const int32_t r1 = r[2 * i + 1], g1 = g[2 * i + 1], b1 = b[2 * i + 1];
        const int32_t sy0 = 16829 * r0 + 33039 * g0 + 6416 * b0 + carry_y;
        const int32_t sy1 = 16829 * r1 + 33039 * g1 + 6416 * b1 + (sy0 & 0xffff);
        carry_y = sy1 & 0xffff;
        const int32_t u1 = -2426 * r1 - 4765 * g1 + 7191 * b1;
        const int32_t v1 = 7193 * r1 - 6023 * g1 - 1170 * b1;
        const int32_t su = prev_u1 + (-4853 * r0 - 9530 * g0 + 14383 * b0) + u1 + carry_u;
        const int32_t sv = prev_v1 + (14386 * r0 - 12046 * g0 - 2340 * b0) + v1 + carry_v;
        prev_u1 = u1;
        prev_v1 = v1;
        carry_u = su & 0xffff;
        carry_v = sv & 0xffff;
        dst[4 * i] = static_cast<uint8_t>(((su >> 16) + 128) & 255);
        dst[4 * i + 1] = static_cast<uint8_t>((sy0 >> 16) + 16);
        dst[4 * i + 2] = static_cast<uint8_t>(((sv >> 16) + 128) & 255);
        dst[4 * i + 3] = static_cast<uint8_t>((sy1 >> 16) + 16);
    }
}

std::string text(std::initializer_list<int> v) {
    std::string s;
    for (int b : v) s += static_cast<char>(b);
    return s;
}

class YuvIo : public testing::Test {
protected:
    void SetUp() override { clear_registry(); }
    void TearDown() override {
        clear_registry();
        yuv_allow_wide_vectors(true);
    }
    std::string path(const std::string& name) { return (dir / name).string(); }
    ScratchDir dir;
};

}  // namespace

// Random rows, and rows of the colours that drive each carry to its extremes
// (black, white, saturated primaries and their alternations), on both loop sets.
TEST_F(YuvIo, RowConversionsMatchTheFormulas) {
    std::mt19937 gen(9);
    const uint8_t extremes[][3] = {{0, 0, 0},   {255, 255, 255}, {255, 0, 0},   {0, 255, 0},
                                   {0, 0, 255}, {255, 255, 0},   {0, 255, 255}, {255, 0, 255}};
    for (bool wide : {false, true}) {
        yuv_allow_wide_vectors(wide);
        for (int round = 0; round < 300; ++round) {
            const int64_t w = 2 * (1 + gen() % 400);  // crosses the pair blocks
            Bytes r(w), g(w), b(w), yuv(2 * w), want(2 * w), got(2 * w);
            const int kind = round % 3;
            for (int64_t i = 0; i < w; ++i) {
                const uint8_t* e = extremes[(kind == 1 ? gen() : i / (1 + round % 5)) % 8];
                r[i] = kind == 0 ? gen() : e[0];
                g[i] = kind == 0 ? gen() : e[1];
                b[i] = kind == 0 ? gen() : e[2];
            }
            rgb_to_yuv_row(r.data(), g.data(), b.data(), w, got.data());
            plain_to_yuv(r, g, b, w, want);
            ASSERT_EQ(got, want) << "width " << w << " round " << round << " wide " << wide;

            for (auto& c : yuv) c = static_cast<uint8_t>(gen());
            Bytes r1(w), g1(w), b1(w), r2(w), g2(w), b2(w);
            yuv_to_rgb_row(yuv.data(), w, r1.data(), g1.data(), b1.data());
            plain_to_rgb(yuv, w, r2, g2, b2);
            ASSERT_EQ(r1, r2);
            ASSERT_EQ(g1, g2);
            ASSERT_EQ(b1, b2);
        }
    }
}

TEST_F(YuvIo, ReadsFullAndShortFrames) {
    // A whole D1 frame: every group black-left, white-right.
    std::string frame;
    for (int i = 0; i < 720 * 486 / 2; ++i) frame += text({128, 16, 128, 235});
    write_file(dir / "d1.yuv", frame);
    ASSERT_TRUE(read_yuv(path("d1.yuv").c_str(), "f", 720, 486));
    const ImageBuffer* f = find_buffer("f");
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->components, 3);
    EXPECT_EQ(f->kqName, path("d1.yuv"));
    EXPECT_EQ(f->window.x2, 719);
    EXPECT_EQ(f->window.y2, 485);
    for (int p = 0; p < 3; ++p) {
        EXPECT_EQ(f->plane[p][0], 0);
        EXPECT_EQ(f->plane[p][1], 255);
        EXPECT_EQ(f->plane[p][720 * 486 - 1], 255);
    }

    // Half a frame into the same buffer: the top 243 rows, the rest cleared.
    write_file(dir / "half.yuv", frame.substr(0, frame.size() / 2));
    ImageBuffer* same = find_buffer("f");
    KqcRun run = run_kqc_in(dir, "readyuv half.yuv f\ninfo f\n");
    EXPECT_NE(run.err.find("WARNING : can't read yuv data (scanline #242)\n"), std::string::npos);
    ASSERT_TRUE(read_yuv(path("half.yuv").c_str(), "f", 720, 486));
    EXPECT_EQ(find_buffer("f"), same);
    EXPECT_EQ(same->plane[1][242 * 720 + 1], 255);
    EXPECT_EQ(same->plane[1][243 * 720 + 1], 0);
}

TEST_F(YuvIo, WritesBlackAndWhiteAndIgnoresAlpha) {
    ImageBuffer* b = make_buffer("k", 3, 4, 4, 2, 4);
    std::fill(b->plane[0], b->plane[0] + 4, 255);  // top row white, bottom black
    std::fill(b->plane[1], b->plane[1] + 4, 255);
    std::fill(b->plane[2], b->plane[2] + 4, 255);
    std::fill(b->plane[3], b->plane[3] + 8, 77);
    ASSERT_TRUE(write_yuv("k", path("k.yuv").c_str()));
    const std::string white = text({128, 235, 128, 235}), black = text({128, 16, 128, 16});
    EXPECT_EQ(read_file(dir / "k.yuv"), white + white + black + black);

    // Round trip: greys come back within 2, as the two scales round.
    ImageBuffer* g = make_buffer("g", 0, 0, 256, 1, 3);
    for (int i = 0; i < 256; ++i) g->plane[0][i] = g->plane[1][i] = g->plane[2][i] = uint8_t(i);
    ASSERT_TRUE(write_yuv("g", path("g.yuv").c_str()));
    ASSERT_TRUE(read_yuv(path("g.yuv").c_str(), "back", 256, 1));
    const ImageBuffer* back = find_buffer("back");
    for (int p = 0; p < 3; ++p)
        for (int i = 0; i < 256; ++i) EXPECT_NEAR(back->plane[p][i], i, 2) << i;

    // Only the target remains in the folder, replaced whole.
    ASSERT_TRUE(write_yuv("k", path("g.yuv").c_str()));
    EXPECT_EQ(read_file(dir / "g.yuv").size(), 16u);
    int files = 0;
    for (const auto& e : std::filesystem::directory_iterator(dir.path())) files += !e.path().empty();
    EXPECT_EQ(files, 2);
}

TEST_F(YuvIo, DumpsPlanesInterleaved) {
    ImageBuffer* b = make_buffer("c", 0, 0, 2, 1, 3);
    for (int p = 0; p < 3; ++p)
        for (int i = 0; i < 2; ++i) b->plane[p][i] = uint8_t(1 + p + 3 * i);
    ASSERT_TRUE(write_dump("c", path("rgb").c_str(), 7));
    EXPECT_EQ(read_file(dir / "rgb"), text({1, 2, 3, 4, 5, 6}));
    ASSERT_TRUE(write_dump("c", path("g").c_str(), 2));
    EXPECT_EQ(read_file(dir / "g"), text({2, 5}));
    ImageBuffer* m = make_buffer("m", 0, 0, 1, 2, 1);
    m->plane[0][0] = 9;
    m->plane[0][1] = 8;
    ASSERT_TRUE(write_dump("m", path("m").c_str(), 1));
    EXPECT_EQ(read_file(dir / "m"), text({9, 8}));
    ImageBuffer* a = make_buffer("a", 0, 0, 1, 1, 4);
    for (int p = 0; p < 4; ++p) a->plane[p][0] = uint8_t(10 + p);
    ASSERT_TRUE(write_dump("a", path("a").c_str(), 15));
    EXPECT_EQ(read_file(dir / "a"), text({10, 11, 12, 13}));
}

// Every refusal and argument error, as a script sees it: after the argument checks
// the commands count as done.
TEST_F(YuvIo, Messages) {
    write_file(dir / "x.yuv", std::string(8, '\x80'));
    const std::string script =
        "create -c 1 -s 0 0 2 2 one\n"             // 1
        "create -c 3 -s 0 0 3 2 odd\n"             // 2
        "create -c 3 -s 0 0 2 2 rgb\n"             // 3
        "readyuv -s 721 486 x.yuv b\n"             // 4
        "readyuv missing.yuv b\n"                  // 5
        "readyuv x.yuv\n"                          // 6
        "readyuv a b c\n"                          // 7
        "readyuv -s 2\n"                           // 8
        "writeyuv one o.yuv\n"                     // 9
        "writeyuv odd o.yuv\n"                     // 10
        "writeyuv none o.yuv\n"                    // 11
        "writeyuv rgb\n"                           // 12
        "writedump -rgb one o.dump\n"              // 13
        "writedump rgb o.dump\n"                   // 14
        "writedump -g -a rgb o.dump\n"             // 15
        "writedump rgb\n"                          // 16
        "writedump -r rgb nowhere/o.dump\n"        // 17
        "readyuv -s 2 2 x.yuv got\n"               // 18
        "writeyuv rgb nowhere/o.yuv\n";            // 19
    const KqcRun run = run_kqc_in(dir, script);
    EXPECT_EQ(run.status, 0);
    const std::string readyuv_usage =
        "Usage : readyuv [-options] fileName buffName\n[Options]\n -s x y : size\n[Default]\n"
        " -s 720 486 : D1 format ( A60 format )\n";
    const std::string dump_usage =
        "Usage : writedump [-options] buffName outName\n[Options]\n"
        " -r    : r plane output mode\n -g    : g plane output mode\n"
        " -b    : b plane output mode\n -a    : a plane output mode\n"
        " -rgb  : rgb 3 planes output mode\n -rgba : rgba 4 planes output mode\n"
        "[Default]\n -rgba\n";
    const std::string want =
        "ERROR : You have to use even sizeX pixel count\n        now define is 721 Xpixel\n"
        "ERROR : Can't open yuv data missing.yuv\n"
        "ERROR : You have to define fileName and buffName\n" + readyuv_usage + exec_error(6, "readyuv x.yuv") +
        "ERROR : Invalid argment\n" + readyuv_usage + exec_error(7, "readyuv a b c") +
        "ERROR : -s need 2 argment(s)\n" + readyuv_usage + exec_error(8, "readyuv -s 2") +
        "ERROR : Can't convert to yuv format\n        one is 1 component\n"
        "        Could you change 3 or more plane data\n"
        "ERROR : Can't convert to yuv format\n        odd size x is 3\n"
        "        Could you change even pixel size x\n"
        "WARNING : Can't find buff (name=none)\n"
        "ERROR : Invalid argment count\nUsage : writeyuv buffName outName\n" +
        exec_error(12, "writeyuv rgb") +
        "WARNING : This buffer only has r component (buff:one)\n"
        "          Can't write rgb color component data\n"
        "WARNING : This buffer has rgb component (buff:rgb)\n"
        "          Can't write rgba color component data\n"
        "WARNING : This buffer has rgb component (buff:rgb)\n"
        "          Can't write a color component data\n"
        "ERROR : You have to define buffName and outName\n" + dump_usage +
        exec_error(16, "writedump rgb") +
        "WARNING : Can't create nowhere/o.dump\n"
        "ERROR : Can't create yuv data nowhere/o.yuv\n";
    EXPECT_EQ(run.err, want);
    EXPECT_FALSE(std::filesystem::exists(dir / "o.yuv"));
    EXPECT_FALSE(std::filesystem::exists(dir / "o.dump"));

    const KqcRun help = run_kqc("readyuv ?\nwriteyuv ?\nwritedump ?\nwriteyuv -h\n");
    EXPECT_EQ(help.err,
              "\treadyuv\t-> read YUV data\n\twriteyuv\t-> write YUV data\n"
              "\twritedump\t-> write dump data\nUsage : writeyuv buffName outName\n");
}
