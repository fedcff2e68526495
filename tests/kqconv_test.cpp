// kqconv: alpha arithmetic against the table formulas, round trips through every
// format, kqc reading what kqconv writes, and the bad-input messages.
#ifdef KQCONV_PATH

#include <gtest/gtest.h>
#include <png.h>
#include <sys/wait.h>

#include <cmath>
#include <cstdlib>
#include <random>

#include "kqconv/alpha.h"
#include "kqconv/convert.h"
#include "libkq/kq.h"
#include "tests/kqc_runner.h"

namespace {

KqcRun run_sh(const ScratchDir& dir, const std::string& cmd) { return run_in(dir, cmd); }

std::string conv(const std::string& args) { return program(KQCONV_PATH) + " " + args; }

std::string pam(int w, int h, int depth, const std::string& samples) {
    static const char* const type[5] = {"", "GRAYSCALE", "GRAYSCALE_ALPHA", "RGB", "RGB_ALPHA"};
    return "P7\nWIDTH " + std::to_string(w) + "\nHEIGHT " + std::to_string(h) + "\nDEPTH " +
           std::to_string(depth) + "\nMAXVAL 255\nTUPLTYPE " + type[depth] + "\nENDHDR\n" + samples;
}

std::string random_bytes(size_t n, unsigned seed, bool opaque_rgba = false) {
    std::mt19937 rng(seed);
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i) s[i] = char(rng() & 255);
    if (opaque_rgba)
        for (size_t i = 3; i < n; i += 4) s[i] = char(255);
    return s;
}

std::string samples_of(const std::string& pam_bytes) {
    return pam_bytes.substr(pam_bytes.find("ENDHDR\n") + 7);
}

}  // namespace

TEST(KqconvAlpha, PremultipliesThroughTheTables) {
    // Every colour, alpha pair in both directions, through the RGBA and grey loops.
    std::vector<uint8_t> rgba, ga;
    for (int c = 0; c < 256; ++c)
        for (int a = 0; a < 256; ++a) {
            rgba.insert(rgba.end(), {uint8_t(c), uint8_t(255 - c), uint8_t(c), uint8_t(a)});
            ga.insert(ga.end(), {uint8_t(c), uint8_t(a)});
        }
    std::vector<uint8_t> mul = rgba, div = rgba, gmul = ga;
    alpha::premultiply(mul.data(), 65536, 4);
    alpha::unpremultiply(div.data(), 65536, 4);
    alpha::premultiply(gmul.data(), 65536, 2);
    for (size_t i = 0; i < 65536; ++i) {
        const unsigned a = rgba[4 * i + 3];
        for (int k = 0; k < 3; ++k) {
            const unsigned c = rgba[4 * i + k];
            const unsigned want_div =
                a == 0 ? 0 : unsigned(std::min(255.0, std::trunc(c / (a / 255.0))));
            ASSERT_EQ(mul[4 * i + k], c * a / 255) << c << " " << a;
            ASSERT_EQ(div[4 * i + k], want_div) << c << " " << a;
        }
        ASSERT_EQ(mul[4 * i + 3], a);
        ASSERT_EQ(gmul[2 * i], ga[2 * i] * a / 255u);
    }
}

// Opaque pictures of every channel count go PAM -> PNG -> tkq -> PNG -> PAM unchanged;
// the tkq holds kqc's layout and kqc writes the same bytes back.
TEST(KqconvRoundTrip, OpaqueThroughPngAndTkq) {
    ScratchDir dir;
    const struct {
        int depth;
        int bitlen;
    } cases[] = {{1, 8}, {3, 24}, {4, 32}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.depth);
        const int w = 37, h = 11;
        const std::string px = random_bytes(size_t(w * h * c.depth), c.depth, c.depth == 4);
        write_file(dir / "in.pam", pam(w, h, c.depth, px));
        KqcRun r = run_sh(dir, conv("in.pam a.png && ") + conv("a.png b.tkq && ") +
                                   conv("b.tkq c.png && ") + conv("c.png out.pam"));
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(samples_of(read_file(dir / "out.pam")), px);
        const std::string tkq = read_file(dir / "b.tkq");
        ASSERT_EQ(tkq.size(), 128u + px.size());
        EXPECT_EQ(std::atoi(tkq.c_str() + 9), c.bitlen);
        if (c.depth == 3)  // blue, green, red on disk
            EXPECT_EQ(tkq.substr(128, 3), (std::string{px[2], px[1], px[0]}));
        else
            EXPECT_EQ(tkq.substr(128), px);
        r = run_kqc_in(dir, "read b.tkq x\nwrite x k.tkq\n");
        ASSERT_EQ(r.err, "");
        EXPECT_EQ(read_file(dir / "k.tkq"), tkq);
    }
}

// Straight RGBA and grey + alpha are premultiplied on the way in, un-premultiplied on
// the way out; --straight copies. Where kqc has pile, its result is the same.
TEST(KqconvRoundTrip, AlphaIsPiledAndRepiled) {
    ScratchDir dir;
    const int w = 64, h = 32;
    const std::string px = random_bytes(size_t(w * h * 4), 9);
    write_file(dir / "in.pam", pam(w, h, 4, px));
    write_file(dir / "ga.pam", pam(w, h, 2, px));
    KqcRun r = run_sh(dir, conv("in.pam p.tkq && ") + conv("--straight in.pam s.tkq && ") +
                               conv("p.tkq back.pam && ") + conv("ga.pam - | ") +
                               conv("--to pam - ga.out"));
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string piled = read_file(dir / "p.tkq").substr(128);
    EXPECT_EQ(read_file(dir / "s.tkq").substr(128), px);
    std::string want_piled = px, want_back = px;
    alpha::premultiply(reinterpret_cast<uint8_t*>(want_piled.data()), w * h, 4);
    EXPECT_EQ(piled, want_piled);
    want_back = want_piled;
    alpha::unpremultiply(reinterpret_cast<uint8_t*>(want_back.data()), w * h, 4);
    EXPECT_EQ(samples_of(read_file(dir / "back.pam")), want_back);
    std::string ga = px.substr(0, size_t(w * h * 2));
    std::string ga_back = ga;
    alpha::premultiply(reinterpret_cast<uint8_t*>(ga_back.data()), w * h, 2);
    alpha::unpremultiply(reinterpret_cast<uint8_t*>(ga_back.data()), w * h, 2);
    // grey + alpha comes back as RGBA with the grey in every colour plane
    std::string got = samples_of(read_file(dir / "ga.out"));
    ASSERT_EQ(got.size(), size_t(w * h * 4));
    for (int i = 0; i < w * h; ++i) {
        ASSERT_EQ(got[4 * i], ga_back[2 * i]);
        ASSERT_EQ(got[4 * i + 2], ga_back[2 * i]);
        ASSERT_EQ(got[4 * i + 3], ga[2 * i + 1]);
    }
    r = run_kqc_in(dir, "read s.tkq s\ncreate o -d s\npile s o\nwrite o k1\npile -r o o\nwrite o k2\n");
    if (r.err.find("not implemented") != std::string::npos) GTEST_SKIP() << "kqc has no pile yet";
    EXPECT_EQ(read_file(dir / "k1.tkq").substr(128), piled);
    EXPECT_EQ(read_file(dir / "k2.tkq").substr(128), want_back);
}

// 16-bit and palette PNGs read as 8 bits, rounded; every .tkq layout converts out.
TEST(KqconvRead, WidePngAndEveryTkqLayout) {
    std::vector<uint16_t> wide = {0, 128, 129, 257, 32767, 32768, 65535, 65407};
    png_image img{};
    img.version = PNG_IMAGE_VERSION;
    img.width = 8;
    img.height = 1;
    img.format = PNG_FORMAT_LINEAR_Y;
    size_t size = 0;
    ASSERT_TRUE(png_image_write_to_memory(&img, nullptr, &size, 0, wide.data(), 0, nullptr));
    std::vector<uint8_t> bytes(size);
    ASSERT_TRUE(png_image_write_to_memory(&img, bytes.data(), &size, 0, wide.data(), 0, nullptr));
    Picture pic = read_png(bytes);
    ASSERT_EQ(pic.channels, 1);
    for (int i = 0; i < 8; ++i) EXPECT_EQ(pic.data[i], (wide[i] * 255 + 32767) / 65535) << i;

    const uint8_t colours[6] = {10, 20, 30, 200, 100, 0};
    const uint8_t index[4] = {0, 1, 1, 0};
    img = {};
    img.version = PNG_IMAGE_VERSION;
    img.width = 4;
    img.height = 1;
    img.format = PNG_FORMAT_RGB_COLORMAP;
    img.colormap_entries = 2;
    size = 0;
    ASSERT_TRUE(png_image_write_to_memory(&img, nullptr, &size, 0, index, 0, colours));
    bytes.resize(size);
    ASSERT_TRUE(png_image_write_to_memory(&img, bytes.data(), &size, 0, index, 0, colours));
    pic = read_png(bytes);
    ASSERT_EQ(pic.channels, 3);
    EXPECT_EQ(std::vector<uint8_t>(pic.data.begin() + 3, pic.data.begin() + 6),
              (std::vector<uint8_t>{200, 100, 0}));

    // Every layout, written through libkq's own pixel access, reads with kqc's
    // channel roles; rows a field picture does not hold read as 0.
    ScratchDir dir;
    const struct {
        int bitlen, type;
        char field;
    } layouts[] = {{1, 1, 'B'},  {8, 2, 'E'},  {12, 1, 'B'}, {24, 4, 'O'}, {32, 6, 'E'},
                   {32, 8, 'B'}, {36, 4, 'B'}, {48, 6, 'B'}, {64, 14, 'B'}, {64, 16, 'B'},
                   {80, 14, 'O'}};
    for (const auto& l : layouts) {
        SCOPED_TRACE(l.bitlen * 100 + l.type);
        const bool twelve = l.bitlen == 12 || l.bitlen == 36 || l.bitlen == 48 || l.bitlen == 80;
        const int w = 3, h = 2, top = l.bitlen == 1 ? 1 : twelve ? 4095 : 255;
        const bool value = (l.bitlen == 32 && l.type == 8) || (l.bitlen == 64 && l.type == 16);
        auto channel = [&](int x, int y, int k) { return (x * 7 + y * 13 + k * 29 + 5) % (top + 1); };
        KQ_DATA* kq = kq_alloc();
        ASSERT_TRUE(kq_set_format(kq, w, h, l.bitlen, l.field, l.type));
        ASSERT_TRUE(kq_set_aspect(kq, 1, 1));
        const std::string path = (dir / "t.tkq").string();
        ASSERT_TRUE(kq_wopen(path.c_str(), kq));
        unsigned char* line = kq_alloc_scanline(kq);
        for (int y = h - 1; y >= 0; --y) {
            if (l.field != 'B' && !kq_line_stored(kq, y)) continue;
            for (int x = 0; x < w; ++x)
                if (value)
                    kq->access.put_value(kq, line, x, int32_t(0x01020304 * (x + 1) + y));
                else
                    kq->access.put_pixel(kq, line, x, channel(x, y, 0), channel(x, y, 1),
                                         channel(x, y, 2), channel(x, y, 3));
            ASSERT_TRUE(kq_write_scanline(kq, line));
        }
        std::free(line);
        ASSERT_TRUE(kq_close(kq));
        const bool stored[2] = {l.field != 'O', l.field != 'E'};  // by row number 0, 1
        kq_free(kq);
        pic = read_tkq(read_input(path));
        const int ch = l.bitlen <= 12 ? 1 : l.bitlen == 24 || l.bitlen == 36 ? 3 : 4;
        ASSERT_EQ(pic.channels, ch);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const uint8_t* p = pic.data.data() + ((h - 1 - y) * w + x) * ch;
                int want[4];
                for (int k = 0; k < ch; ++k) {
                    int v = channel(x, y, ch - 1 - k);  // kqc order: last channel is red
                    if (value) v = int((uint32_t(0x01020304 * (x + 1) + y) >> (24 - 8 * k)) & 255);
                    else if (top == 1) v = v ? 255 : 0;
                    else if (top == 4095) v = (v * 255 + 2047) / 4095;
                    want[k] = stored[y] ? v : 0;
                    EXPECT_EQ(p[k], want[k]) << x << "," << y << " channel " << k;
                }
            }
    }
}

// Bands deflated on several threads join into one valid stream at every level.
TEST(KqconvWrite, PngBandsDecodeToTheSamePicture) {
    ScratchDir dir;
    for (int ch : {1, 4})
        for (int level : {0, 1, 6}) {
            SCOPED_TRACE(ch * 10 + level);
            Picture pic;
            pic.allocate(16384 / ch + 3, 193, ch);  // at least 64 rows a band: three bands
            std::mt19937 rng(ch + level);
            for (size_t i = 0; i < pic.data.size(); ++i)
                pic.data[i] = uint8_t((i / 7) % 251 + (rng() % 5));
            const std::string path = (dir / "b.png").string();
            {
                OutFile out(path);
                write_png(pic, out, level, 4);
                out.commit();
            }
            const Picture back = read_png(read_input(path));
            ASSERT_EQ(back.channels, ch);
            ASSERT_EQ(back.width, pic.width);
            ASSERT_EQ(back.height, pic.height);
            EXPECT_TRUE(std::equal(pic.data.begin(), pic.data.end(), back.data.begin()));
        }
}

TEST(KqconvErrors, BadInputsNameTheFileAndKeepTheOutput) {
    ScratchDir dir;
    write_file(dir / "ok.pam", pam(4, 4, 3, random_bytes(48, 1)));
    KqcRun r = run_sh(dir, conv("ok.pam ok.png"));
    ASSERT_EQ(r.status, 0);
    const std::string png = read_file(dir / "ok.png");
    write_file(dir / "cut.png", png.substr(0, png.size() - 20));
    write_file(dir / "text.png", "hello\n");
    write_file(dir / "deep.pam", "P7\nWIDTH 1\nHEIGHT 1\nDEPTH 5\nMAXVAL 255\nENDHDR\n12345");
    write_file(dir / "short.ppm", "P6\n4 4\n255\nabc");
    write_file(dir / "wide.ppm", "P6\n4 4\n70000\nabc");
    write_file(dir / "cut.tkq", read_file(dir / "ok.png").substr(0, 0));
    run_sh(dir, conv("ok.pam full.tkq"));
    write_file(dir / "cut.tkq", read_file(dir / "full.tkq").substr(0, 150));
    write_file(dir / "cut.jpg", std::string("\xff\xd8\xff\xe0", 4));
    write_file(dir / "out.png", "keep me");
    const struct {
        const char* args;
        const char* err;
    } cases[] = {
        {"cut.png out.png", "ERROR : cut.png : bad PNG: truncated PNG data\n"},
        {"cut.png out.tkq", "ERROR : cut.png : bad PNG: truncated PNG data\n"},
        {"text.png out.png", "ERROR : text.png : not a picture (PNG, JPEG, PPM/PGM/PAM or tkq)\n"},
        {"deep.pam out.png", "ERROR : deep.pam : unsupported PAM depth 5\n"},
        {"short.ppm out.png", "ERROR : short.ppm : truncated netpbm data\n"},
        {"wide.ppm out.png", "ERROR : wide.ppm : unsupported netpbm maxval 70000\n"},
        {"cut.tkq out.png", "ERROR : cut.tkq : truncated picture data\n"},
        {"cut.jpg out.png", "ERROR : cut.jpg : bad JPEG: Premature end of JPEG file\n"},
        {"none.png out.png", "ERROR : none.png : can't open (No such file or directory)\n"},
        {"ok.png out.gif",
         "ERROR : out.gif : unknown output format (use .png .tkq .ppm .pgm .pnm .pam or --to)\n"},
        {"ok.png out.pgm", "ERROR : out.pgm : PGM holds grey only (use .pam or .png)\n"},
        {"ok.png no/such/out.png", "ERROR : no/such/out.png : can't create (No such file or directory)\n"},
    };
    for (const auto& c : cases) {
        r = run_sh(dir, conv(c.args));
        EXPECT_EQ(r.status, 1) << c.args;
        EXPECT_EQ(r.err, c.err) << c.args;
    }
    EXPECT_EQ(read_file(dir / "out.png"), "keep me");
    int files = 0;
    for (const auto& e : std::filesystem::directory_iterator(dir.path())) {
        (void)e;
        ++files;
    }
    EXPECT_EQ(files, 11);  // the files written above: no temporary left behind
}

#endif  // KQCONV_PATH
