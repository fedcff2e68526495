// kqconv's format table: every format and plane count there and back, alpha as each
// format holds it, old archive names, .wf sheets against kqtowf's files.
#ifdef KQCONV_PATH

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <limits>
#include <map>
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

// A .Z stream as compress 4.0 wrote it, which gzip -dc reads, without clear codes:
// each time the table passes the largest code of the width, the group of eight codes
// is padded and codes grow by a bit (at -b 9 once, to 10 bits, when it is full).
std::string compress4(const std::string& in, int max_bits, bool block_mode) {
    std::string out = {'\x1f', '\x9d', char((block_mode ? 0x80 : 0) | max_bits)};
    std::map<int, int> table;  // prefix code << 8 | byte -> code
    int bits = 9, next = block_mode ? 257 : 256, max_code = 511;
    int64_t pos = 0, group = 0;  // in bits after the header; where this width began
    auto put = [&](int code) {
        out.resize(size_t(3 + (pos + bits + 7) / 8));
        for (int b = 0; b < bits; ++b)
            if (code >> b & 1) out[size_t(3 + (pos + b) / 8)] |= char(1 << ((pos + b) % 8));
        pos += bits;
        if (next > max_code) {
            pos = group + (pos - group + 8 * bits - 1) / (8 * bits) * (8 * bits);
            group = pos;
            ++bits;
            max_code = bits == max_bits ? 1 << max_bits : (1 << bits) - 1;
        }
    };
    int ent = uint8_t(in[0]);
    for (size_t i = 1; i < in.size(); ++i) {
        const int c = uint8_t(in[i]);
        const auto it = table.find(ent << 8 | c);
        if (it != table.end()) {
            ent = it->second;
            continue;
        }
        put(ent);
        if (next < 1 << max_bits) table[ent << 8 | c] = next++;
        ent = c;
    }
    put(ent);
    out.resize(size_t(3 + (pos + 7) / 8));
    return out;
}

}  // namespace

// Straight pictures of 1 to 4 planes go PAM -> format -> PAM. Lossless formats give the
// samples back exactly (grey spread to colour where the format has no such layout);
// lossy ones within a mean error; formats without a layout refuse it.
TEST(KqconvFormats, EveryFormatAndPlaneCount) {
    ScratchDir dir;
    const int w = 64, h = 16;
    constexpr int kPiled = -1;  // premultiplied formats: piled there, back through pile -r
    const struct {
        const char* ext;
        const char* flags;
        const char* planes;  // planes back per plane count 1 ~ 4 ('-': refused)
        int bound[4];        // per plane count: 0 exact, n lossy (mean error <= n), kPiled
    } rows[] = {
        {"png", "", "1234", {0, 0, 0, 0}},
        {"pam", "", "1234", {0, 0, 0, 0}},
        {"tga", "", "1234", {0, 0, 0, 0}},
        {"bmp", "", "1434", {0, 0, 0, 0}},
        {"dpx", "", "1434", {0, 0, 0, 0}},
        {"exr", "", "1234", {0, kPiled, 0, kPiled}},
        {"tif", "", "1234", {0, kPiled, 0, kPiled}},
        {"jpg", "", "1-3-", {8, 0, 16, 0}},
#ifdef KQCONV_WEBP
        {"webp", "", "3434", {0, 0, 0, 0}},
        {"webp", "--quality 80 ", "3434", {8, 8, 16, 16}},
#endif
    };
    for (const auto& row : rows)
        for (int depth = 1; depth <= 4; ++depth) {
            SCOPED_TRACE(std::string(row.flags) + row.ext + " " + std::to_string(depth));
            const std::string px = picture(w, h, depth, unsigned(depth));
            write_file(dir / "in.pam", pam(w, h, depth, px));
            const std::string out = std::string("out.") + row.ext;
            KqcRun r = run_in(dir, conv(row.flags + ("in.pam " + out)) + " && " + conv(out + " back.pam"));
            const char planes = row.planes[depth - 1];
            if (planes == '-') {  // no alpha in the format
                EXPECT_EQ(r.status, 1);
                continue;
            }
            ASSERT_EQ(r.status, 0) << r.err;
            const int bound = row.bound[depth - 1];
            std::string want = px;
            if (bound == kPiled) {
                alpha::premultiply(reinterpret_cast<uint8_t*>(want.data()), w * h, depth);
                alpha::unpremultiply(reinterpret_cast<uint8_t*>(want.data()), w * h, depth);
            }
            if (planes - '0' != depth) {  // grey spread to colour
                want.clear();
                for (size_t i = 0; i < px.size(); i += size_t(depth)) {
                    want.append(3, px[i]);
                    if (depth == 2) want += px[i + 1];
                }
            }
            const std::string back = samples_of(read_file(dir / "back.pam"));
            ASSERT_EQ(back.size(), want.size());
            if (bound > 0) {  // lossy: the mean error, and not the samples themselves
                int64_t sum = 0;
                for (size_t i = 0; i < want.size(); ++i)
                    sum += std::abs(int(uint8_t(back[i])) - uint8_t(want[i]));
                EXPECT_LE(sum / int64_t(want.size()), bound);
                EXPECT_NE(back, want);
            } else if (bound == kPiled && std::string(row.ext) == "exr") {
                EXPECT_LE(worst(back, want), 3);
            } else {
                EXPECT_EQ(back, want);
            }
        }
}

// Every premultiplied colour, alpha pair (colour <= alpha) goes .tkq -> TIFF -> .tkq
// unchanged; the TIFF says its alpha is associated. Unassociated alpha from --straight
// comes back premultiplied like pile. Lossless WebP, straight, comes back as PNG does.
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
                               conv("s.tif s.tkq && ") + conv("pre.tkq a.png && ") +
                               conv("a.png p.tkq"));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(read_file(dir / "back.tkq"), read_file(dir / "pre.tkq"));
#ifdef KQCONV_WEBP
    r = run_in(dir, conv("pre.tkq a.webp && ") + conv("a.webp w.tkq"));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(read_file(dir / "w.tkq"), read_file(dir / "p.tkq"));
#endif
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

// WebP: an animation gives its first frame where it stands on the canvas, transparent
// around it; both coders write the same bytes in one thread as in two; what libwebp
// refuses or cannot read is said.
TEST(KqconvFormats, WebpFirstFrameThreadsAndRefusals) {
#ifndef KQCONV_WEBP
    GTEST_SKIP() << "kqconv is built without libwebp";
#endif
    ScratchDir dir;
    const std::string px = picture(4, 2, 4, 7);
    write_file(dir / "f1.pam", pam(4, 2, 4, px));
    write_file(dir / "f2.pam", pam(8, 6, 4, picture(8, 6, 4, 8)));
    write_file(dir / "big.pam", pam(256, 64, 4, picture(256, 64, 4, 9)));
    write_file(dir / "wide.pam", pam(16384, 1, 1, std::string(16384, 'x')));
    KqcRun r = run_in(dir, conv("f1.pam f1.webp && ") + conv("f2.pam f2.webp && ") +
                               conv("--level 9 big.pam t2.webp && ") +
                               conv("--level 9 --threads 1 big.pam t1.webp && ") +
                               conv("--quality 70 big.pam q2.webp && ") +
                               conv("--quality 70 --threads 1 big.pam q1.webp"));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(read_file(dir / "t2.webp") == read_file(dir / "t1.webp"));
    EXPECT_TRUE(read_file(dir / "q2.webp") == read_file(dir / "q1.webp"));

    // Frame 1 at (2, 2) on an 8 x 6 canvas, frame 2 over all of it; neither blended.
    auto le = [](size_t v, int n) {
        std::string s;
        for (int i = 0; i < n; ++i) s += char(v >> (8 * i) & 255);
        return s;
    };
    auto chunk = [&](const char* tag, const std::string& body) {
        return tag + le(body.size(), 4) + body + std::string(body.size() % 2, '\0');
    };
    auto frame = [&](int x, int y, int fw, int fh, const std::string& still) {
        const std::string vp8l = still.substr(12);  // after RIFF, size, WEBP
        return chunk("ANMF", le(size_t(x / 2), 3) + le(size_t(y / 2), 3) + le(size_t(fw - 1), 3) +
                                 le(size_t(fh - 1), 3) + le(100, 3) + '\x02' + vp8l);
    };
    const std::string body = "WEBP" + chunk("VP8X", std::string("\x12\0\0\0", 4) + le(7, 3) + le(5, 3)) +
                             chunk("ANIM", le(0, 6)) + frame(2, 2, 4, 2, read_file(dir / "f1.webp")) +
                             frame(0, 0, 8, 6, read_file(dir / "f2.webp"));
    write_file(dir / "anim.webp", "RIFF" + le(body.size(), 4) + body);
    r = run_in(dir, conv("anim.webp anim.pam && ") + conv("--info anim.webp"));
    ASSERT_EQ(r.status, 0) << r.err;
    std::string want(8 * 6 * 4, '\0');
    for (size_t y = 0; y < 2; ++y) want.replace(((y + 2) * 8 + 2) * 4, 16, px.substr(y * 16, 16));
    EXPECT_EQ(samples_of(read_file(dir / "anim.pam")), want);
    EXPECT_EQ(r.out, "WebP 8 x 6, RGBA (straight)\n");

    write_file(dir / "cut.webp", read_file(dir / "t2.webp").substr(0, 200));
    const struct {
        const char* args;
        const char* err;
    } refusals[] = {
        {"cut.webp o.png", "ERROR : cut.webp : bad WebP: truncated\n"},
        {"wide.pam o.webp", "ERROR : o.webp : too large for WebP (16383 x 16383 at most)\n"},
    };
    for (const auto& c : refusals) {
        r = run_in(dir, conv(c.args));
        EXPECT_EQ(r.status, 1) << c.args;
        EXPECT_EQ(r.err, c.err) << c.args;
    }
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
// the .tkq made from them is what kqc reads. compress streams of every code width (a
// picture that fills even the 16-bit table several times) unpack to what gzip -dc gives.
TEST(KqconvFormats, OldArchiveNames) {
    if (!have("gzip")) GTEST_SKIP() << "gzip is not installed";
    ScratchDir dir;
    std::mt19937 rng(5);
    const int w = 640, h = 400;
    std::string px(size_t(w * h * 4), '\0');
    for (size_t i = 0; i < px.size(); ++i) px[i] = char(i % 7 ? rng() % 8 : rng() & 255);
    write_file(dir / "in.pam", pam(w, h, 4, px));
    KqcRun r = run_in(dir, conv("--straight in.pam a.tkq") + " && cp a.tkq a.pix && "
                              "gzip -c a.tkq > a.tkq.gz && gzip -c a.tkq > a.pix.z && "
                              "cat a.tkq.gz a.tkq.gz > two.tkq.gz; true");
    ASSERT_EQ(r.status, 0) << r.err;
    std::vector<std::string> names = {"a.pix", "a.tkq.gz", "a.pix.z", "two.tkq.gz"};
    // .Z streams: compress's own at every width, in block mode and not, and streams as
    // compress 4.0 wrote them (at -b 9: 10-bit codes once the table is full). The
    // unpacked bytes are what gzip -dc gives, or both refuse the stream: ncompress 4.2
    // stays at 9 bits there and writes code 512 in them, and its -C streams start the
    // table one code off, which gzip -dc and its own reader refuse, and so must kqconv
    // rather than unpack wrong bytes.
    struct Z {
        std::string name, make;
        bool must_read;  // else only the same outcome as gzip -dc
    };
    std::vector<Z> zs;
    if (have("compress")) {
        zs = {{"a.tkq.Z", "compress -c a.tkq", true},
              {"a.pix.Z", "compress -b 12 -c a.tkq", true},
              {"c12.tkq.Z", "compress -C -b 12 -c a.tkq", false}};
        for (int bits = 9; bits <= 16; ++bits)
            zs.push_back({"b" + std::to_string(bits) + ".tkq.Z",
                          "compress -b " + std::to_string(bits) + " -c a.tkq", bits > 9});
    } else {
        std::fprintf(stderr, "compress is not installed: its .Z streams untested\n");
    }
    write_file(dir / "w9.tkq.Z", compress4(read_file(dir / "a.tkq"), 9, true));
    write_file(dir / "w12.tkq.Z", compress4(read_file(dir / "a.tkq"), 12, false));
    zs.insert(zs.end(), {{"w9.tkq.Z", "", true}, {"w12.tkq.Z", "", true}});
    for (const Z& z : zs) {
        SCOPED_TRACE(z.name);
        if (!z.make.empty()) {
            ASSERT_EQ(run_in(dir, "(" + z.make + " > " + z.name + ")").status, 0);
        }
        const bool gzip_reads = run_in(dir, "(gzip -dc < " + z.name + " > ref)").status == 0;
        EXPECT_TRUE(gzip_reads || !z.must_read);
        const std::string file = read_file(dir / z.name), ref = read_file(dir / "ref");
        std::string got;
        try {
            const auto u = unpack_archive(Bytes(reinterpret_cast<const uint8_t*>(file.data()), file.size()));
            got.assign(u.begin(), u.end());
            EXPECT_TRUE(gzip_reads) << "unpacked what gzip -dc refuses";
        } catch (const ConvError& e) {
            EXPECT_FALSE(gzip_reads) << e.what();
        }
        if (gzip_reads) {
            EXPECT_TRUE(got == ref);  // 1 MB: not printed
            names.push_back(z.name);
        }
    }
    for (const std::string& n : names) {
        SCOPED_TRACE(n);
        r = run_in(dir, conv(n + " out.tkq"));
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_TRUE(read_file(dir / "out.tkq") == read_file(dir / "a.tkq"));
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
