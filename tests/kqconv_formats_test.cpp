// kqconv's format table: every format and plane count there and back, alpha as each
// format holds it, old archive names, .wf sheets against kqtowf's files.
#ifdef KQCONV_PATH

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <limits>
#include <random>

#include "kqconv/alpha.h"
#include "kqconv/formats.h"
#include "kqconv/srgb.h"
#include "tests/kqc_runner.h"

namespace {

std::string conv(const std::string& args) { return std::string("'") + KQCONV_PATH + "' " + args; }

std::string pam(int w, int h, int depth, const std::string& samples) {
    static const char* const type[5] = {"", "GRAYSCALE", "GRAYSCALE_ALPHA", "RGB", "RGB_ALPHA"};
    return "P7\nWIDTH " + std::to_string(w) + "\nHEIGHT " + std::to_string(h) + "\nDEPTH " +
           std::to_string(depth) + "\nMAXVAL 255\nTUPLTYPE " + type[depth] + "\nENDHDR\n" + samples;
}

std::string samples_of(const std::string& p) { return p.substr(p.find("ENDHDR\n") + 7); }

// Smooth enough for a lossy coder, with every byte value somewhere in the first plane.
std::string picture(int w, int h, int depth, unsigned seed) {
    std::mt19937 rng(seed);
    std::string s;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            for (int k = 0; k < depth; ++k)
                s += char(k == 0 ? (y * w + x) & 255 : (x * 7 + y * 3 + int(rng() % 3)) & 255);
    return s;
}

int worst(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return 1000;
    int m = 0;
    for (size_t i = 0; i < a.size(); ++i) m = std::max(m, std::abs(int(uint8_t(a[i])) - uint8_t(b[i])));
    return m;
}

bool have(const char* tool) {
    return std::system((std::string("command -v ") + tool + " >/dev/null 2>&1").c_str()) == 0;
}

}  // namespace

// Straight pictures of 1 to 4 planes go PAM -> format -> PAM. Lossless formats give the
// samples back exactly; JPEG within a bound; formats without a layout refuse it by name.
TEST(KqconvFormats, EveryFormatAndPlaneCount) {
    ScratchDir dir;
    const int w = 64, h = 16;
    const struct {
        const char* ext;
        int bound[5];  // worst sample error per plane count 1 ~ 4 (-1: refused)
    } rows[] = {
        {"png", {0, 0, 0, 0, 0}},   {"pam", {0, 0, 0, 0, 0}},  {"tga", {0, 0, 0, 0, 0}},
        {"bmp", {0, 0, -2, 0, 0}},  {"dpx", {0, 0, -2, 0, 0}}, {"exr", {0, 0, -3, 0, -3}},
        {"tif", {0, 0, -3, 0, -3}}, {"jpg", {0, 8, -1, 16, -1}},
    };
    for (const auto& row : rows)
        for (int depth = 1; depth <= 4; ++depth) {
            SCOPED_TRACE(std::string(row.ext) + " " + std::to_string(depth));
            const std::string px = picture(w, h, depth, unsigned(depth));
            write_file(dir / "in.pam", pam(w, h, depth, px));
            const std::string out = std::string("out.") + row.ext;
            KqcRun r = run_in(dir, conv("in.pam " + out) + " && " + conv(out + " back.pam"));
            const int bound = row.bound[depth];
            if (bound == -1) {  // no alpha in the format
                EXPECT_EQ(r.status, 1);
                continue;
            }
            ASSERT_EQ(r.status, 0) << r.err;
            const std::string back = samples_of(read_file(dir / "back.pam"));
            if (bound == -2) {  // grey with alpha spread to RGBA
                ASSERT_EQ(back.size(), px.size() * 2);
                for (size_t i = 0; i < px.size() / 2; ++i) {
                    ASSERT_EQ(back[4 * i + 1], px[2 * i]);
                    ASSERT_EQ(back[4 * i + 3], px[2 * i + 1]);
                }
            } else if (bound == -3) {  // premultiplied formats: piled there, back through pile -r
                std::string want = px;
                alpha::premultiply(reinterpret_cast<uint8_t*>(want.data()), w * h, depth);
                alpha::unpremultiply(reinterpret_cast<uint8_t*>(want.data()), w * h, depth);
                if (std::string(row.ext) == "tif") EXPECT_EQ(back, want);
                else EXPECT_LE(worst(back, want), 3);
            } else if (bound > 0) {  // lossy: the mean error
                ASSERT_EQ(back.size(), px.size());
                int64_t sum = 0;
                for (size_t i = 0; i < px.size(); ++i) sum += std::abs(int(uint8_t(back[i])) - uint8_t(px[i]));
                EXPECT_LE(sum / int64_t(px.size()), bound);
            } else {
                EXPECT_EQ(back, px);
            }
        }
}

// Every premultiplied colour, alpha pair (colour <= alpha) goes .tkq -> TIFF -> .tkq
// unchanged; the TIFF says its alpha is associated. Unassociated alpha from --straight
// comes back premultiplied like pile.
TEST(KqconvFormats, TiffAssociatedAlphaIsExact) {
    ScratchDir dir;
    std::string px;
    for (int a = 0; a < 256; ++a)
        for (int c = 0; c <= a; ++c) px += {char(c), char(a - c), char(c / 2), char(a)};
    const int w = int(px.size() / 4 / 64), h = 64;
    px.resize(size_t(w * h * 4));
    write_file(dir / "in.pam", pam(w, h, 4, px));
    KqcRun r = run_in(dir, conv("--straight in.pam pre.tkq && ") + conv("pre.tkq a.tif && ") +
                               conv("a.tif back.tkq && ") + conv("--straight in.pam u.tif && ") +
                               conv("u.tif u.tkq && ") + conv("--level 0 pre.tkq s.tif && ") +
                               conv("s.tif s.tkq"));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(read_file(dir / "back.tkq"), read_file(dir / "pre.tkq"));
    EXPECT_EQ(read_file(dir / "s.tkq"), read_file(dir / "pre.tkq"));
    std::string piled = px;
    alpha::premultiply(reinterpret_cast<uint8_t*>(piled.data()), w * h, 4);
    EXPECT_EQ(read_file(dir / "u.tkq").substr(128), piled);
    r = run_in(dir, conv("--info a.tif"));
    EXPECT_EQ(r.out, "TIFF " + std::to_string(w) + " x 64, RGBA (premultiplied)\n");
    r = run_in(dir, conv("--info u.tif"));
    EXPECT_EQ(r.out, "TIFF " + std::to_string(w) + " x 64, RGBA (straight)\n");
}

// OpenEXR holds linear light: 0 and 255 are 0.0 and 1.0 both ways, 8-bit sRGB samples
// round trip exactly through half, and --linear skips the transfer.
TEST(KqconvFormats, ExrTransferBothWays) {
    ScratchDir dir;
    std::string px;
    for (int v = 0; v < 256; ++v) px += char(v);
    write_file(dir / "in.pam", pam(256, 1, 1, px));
    KqcRun r = run_in(dir, conv("in.pam a.exr && ") + conv("a.exr back.pam && ") +
                               conv("--linear a.exr lin.pam && ") + conv("--linear in.pam l.exr && ") +
                               conv("l.exr srgb.pam"));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(samples_of(read_file(dir / "back.pam")), px);
    const std::string lin = samples_of(read_file(dir / "lin.pam"));
    const std::string srgb = samples_of(read_file(dir / "srgb.pam"));
    ASSERT_EQ(lin.size(), 256u);
    ASSERT_EQ(srgb.size(), 256u);
    for (int v = 0; v < 256; ++v) {
        const double s = v / 255.0;
        const double l = s <= 0.04045 ? s / 12.92 : std::pow((s + 0.055) / 1.055, 2.4);
        EXPECT_LE(std::abs(uint8_t(lin[size_t(v)]) - l * 255), 0.6) << v;  // half, then rounded
        const double o = s <= 0.0031308 ? s * 12.92 : 1.055 * std::pow(s, 1 / 2.4) - 0.055;
        EXPECT_LE(std::abs(uint8_t(srgb[size_t(v)]) - o * 255), 0.6) << v;
    }
    EXPECT_EQ(uint8_t(lin[0]), 0);
    EXPECT_EQ(uint8_t(lin[255]), 255);
    EXPECT_EQ(uint8_t(srgb[255]), 255);
}

// Linear light back to 8-bit samples through the buckets gives the binary search's
// sample: at every bucket's edges, around every rounding edge, at the special values
// and on random floats.
TEST(KqconvFormats, TransferBucketsMatchTheSearch) {
    const srgb::Transfer& t = srgb::transfer();
    std::vector<float> xs = {0.0f, -0.0f, -1.0f, NAN, INFINITY, -INFINITY, 1.0f, 2.0f,
                             std::nextafter(1.0f, 0.0f), std::numeric_limits<float>::denorm_min()};
    for (uint32_t b = 1; b < t.start.size(); ++b)
        for (uint32_t bits : {b << t.kShift, (b << t.kShift) - 1}) xs.push_back(std::bit_cast<float>(bits));
    for (float edge : t.threshold)
        for (int d = -64; d <= 64; ++d) xs.push_back(std::bit_cast<float>(std::bit_cast<uint32_t>(edge) + uint32_t(d)));
    std::mt19937 rng(7);
    std::uniform_real_distribution<float> any(0.0f, 1.25f);
    for (int i = 0; i < (1 << 20); ++i) xs.push_back(any(rng));
    for (float x : xs) ASSERT_EQ(t.sample(x), t.searched(x)) << x;
}

// --rgba, --rgb and --grey: a JPEG-like 3-plane picture gains an opaque alpha, RGBA
// loses it as the picture over black, grey follows kqc's mono weights.
TEST(KqconvFormats, PlanesOnDemand) {
    ScratchDir dir;
    write_file(dir / "rgb.pam", pam(2, 1, 3, std::string("\x10\x20\x30\xff\x00\x00", 6)));
    write_file(dir / "rgba.pam", pam(1, 1, 4, std::string("\xff\x80\x00\x80", 4)));
    KqcRun r = run_in(dir, conv("--rgba rgb.pam a.pam && ") + conv("--rgb rgba.pam b.pam && ") +
                               conv("--grey rgb.pam c.pam && ") + conv("--rgba rgb.pam d.tkq"));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(samples_of(read_file(dir / "a.pam")), std::string("\x10\x20\x30\xff\xff\x00\x00\xff", 8));
    EXPECT_EQ(samples_of(read_file(dir / "b.pam")), std::string("\x80\x40\x00", 3));
    const std::string grey = {char((77 * 16 + 151 * 32 + 28 * 48) >> 8), char(76)};
    EXPECT_EQ(samples_of(read_file(dir / "c.pam")), grey);
    EXPECT_EQ(read_file(dir / "d.tkq").size(), 128u + 8);
    // kqc's read names the format of a picture it cannot open, after its own message.
    ASSERT_EQ(run_in(dir, conv("rgb.pam photo.png")).status, 0);
    write_file(dir / "notes.txt", "plain text\n");
    r = run_kqc_in(dir, "read photo.png p\nread notes.txt q\n");
    EXPECT_EQ(r.err, "ERROR : Can't open photo.png\n"
                     "          photo.png is a PNG file: convert it with kqconv\n"
                     "ERROR : Can't open notes.txt\n");
}

// The compressed and old names of the picture library convert in one command, and
// the .tkq made from them is what kqc reads.
TEST(KqconvFormats, OldArchiveNames) {
    if (!have("gzip")) GTEST_SKIP() << "gzip is not installed";
    ScratchDir dir;
    std::mt19937 rng(5);
    std::string px(size_t(300 * 200 * 4), '\0');
    for (size_t i = 0; i < px.size(); ++i) px[i] = char(i % 7 ? rng() % 8 : rng() & 255);
    write_file(dir / "in.pam", pam(300, 200, 4, px));
    KqcRun r = run_in(dir, conv("--straight in.pam a.tkq") + " && cp a.tkq a.pix && "
                              "gzip -c a.tkq > a.tkq.gz && gzip -c a.tkq > a.pix.z && "
                              "cat a.tkq.gz a.tkq.gz > two.tkq.gz; true");
    ASSERT_EQ(r.status, 0) << r.err;
    std::vector<std::string> names = {"a.pix", "a.tkq.gz", "a.pix.z", "two.tkq.gz"};
    if (have("compress")) {
        run_in(dir, "compress -c a.tkq > a.tkq.Z; compress -b 12 -c a.tkq > a.pix.Z; true");
        names.insert(names.end(), {"a.tkq.Z", "a.pix.Z"});
    } else {
        std::fprintf(stderr, "compress is not installed: .Z names untested\n");
    }
    for (const std::string& n : names) {
        SCOPED_TRACE(n);
        r = run_in(dir, conv(n + " out.tkq"));
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(read_file(dir / "out.tkq"), read_file(dir / "a.tkq"));
    }
    r = run_kqc_in(dir, "read out.tkq x\nwrite x k.tkq\n");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(read_file(dir / "k.tkq"), read_file(dir / "a.tkq"));
    write_file(dir / "cut.tkq.gz", read_file(dir / "a.tkq.gz").substr(0, 100));
    r = run_in(dir, conv("cut.tkq.gz o.png"));
    EXPECT_EQ(r.err, "ERROR : cut.tkq.gz : bad gzip stream: truncated\n");
}

#ifdef KQTOWF_PATH
// .wf sheets of files kqtowf wrote: the summed-area picture is the window again; the
// MIP-MAP root of a power-of-two picture is the picture, each next level the 2 x 2
// averages; SUPER-MIP-MAP sheets add the U and V arrays.
TEST(KqconvFormats, WfSheetsOfKqtowfFiles) {
    ScratchDir dir;
    const int n = 8;
    std::string px = picture(n, n, 1, 3);
    for (char& c : px) c = char(uint8_t(c) | 0x80);  // the sums wrap for big windows only
    write_file(dir / "in.pam", pam(n, n, 1, px));
    const std::string wf = std::string("'") + KQTOWF_PATH + "' -f ";
    KqcRun r = run_in(dir, conv("in.pam in.tkq") + " && " + wf + "-A 4 4 in.tkq sa >/dev/null 2>&1 && " +
                               wf + "-m 0 in.tkq mip >/dev/null 2>&1 && " + wf +
                               "-M 0 in.tkq sup >/dev/null 2>&1 && " + conv("sa.wf sa.pam && ") +
                               conv("mip.wf mip.pam && ") + conv("sup.wf sup.pam && ") +
                               conv("--level 3 mip.wf l3.pam && ") + conv("--info mip.wf"));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(samples_of(read_file(dir / "sa.pam")), px);
    // Levels 4 (8 x 8), 3, 2, 1 side by side: 15 x 8.
    const std::string mip = samples_of(read_file(dir / "mip.pam"));
    ASSERT_EQ(mip.size(), 15u * 8);
    for (int y = 0; y < n; ++y) EXPECT_EQ(mip.substr(size_t(y * 15), 8), px.substr(size_t(y * n), 8));
    // Row 0 of a level is the bottom: the sheet's last row.
    auto p = [&](int x, int y) { return int(uint8_t(px[size_t(y * n + x)])); };
    std::string l3;
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x)
            l3 += char(int((p(2 * x, 2 * y) + p(2 * x + 1, 2 * y) + p(2 * x, 2 * y + 1) +
                            p(2 * x + 1, 2 * y + 1)) * 0.25 + 0.5));
    for (int y = 0; y < 4; ++y) EXPECT_EQ(mip.substr(size_t((4 + y) * 15 + 8), 4), std::string(4, 0));
    for (int y = 0; y < 4; ++y) EXPECT_EQ(mip.substr(size_t(y * 15 + 8), 4), l3.substr(size_t(y * 4), 4));
    EXPECT_EQ(samples_of(read_file(dir / "l3.pam")), l3);
    EXPECT_EQ(samples_of(read_file(dir / "sup.pam")).size(), 15u * 23);
    EXPECT_NE(r.out.find("map kind      : 0 MIP-MAP\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("level  3      : 4 x 4 at "), std::string::npos) << r.out;
}
#endif

#endif  // KQCONV_PATH
