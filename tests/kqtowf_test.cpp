// kqtowf and libwf: file layout, summed-area values, mip-map levels, source
// reading fast paths against plain transcriptions, and the command line.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "kqtowf/kqtowf.h"
#include "tests/kqc_runner.h"

namespace {

uint32_t be32(const std::string& s, size_t at) {
    return wf_get32(reinterpret_cast<const unsigned char*>(s.data()) + at);
}

// Runs `kqtowf args` in dir with standard input `input`.
KqcRun run_kqtowf(const ScratchDir& dir, const std::string& args, const std::string& input = "") {
    write_file(dir / ".stdin", input);
    return run_in(dir, program(KQTOWF_PATH) + " " + args + " < .stdin");
}

// Writes a picture of any layout through libkq; pixel(x, y, channel) gives values.
template <class F>
void write_picture(const std::filesystem::path& name, int ox, int oy, int w, int h, int bitlen,
                   int type, F pixel, char field = 'B') {
    KQ_DATA* kq = kq_alloc();
    ASSERT_TRUE(kq_set_origin(kq, ox, oy));
    ASSERT_TRUE(kq_set_format(kq, w, h, bitlen, field, type));
    ASSERT_TRUE(kq_set_aspect(kq, 1, 1));
    kq_overwrite_mode = 0;
    ASSERT_TRUE(kq_wopen(name.c_str(), kq));
    unsigned char* line = kq_alloc_scanline(kq);
    for (int y = h - 1; y >= 0; --y) {
        if (!kq_line_stored(kq, oy + y)) continue;
        for (int x = 0; x < w; ++x)
            kq->access.put_pixel(kq, line, x, pixel(x, y, 0), pixel(x, y, 1), pixel(x, y, 2),
                                 pixel(x, y, 3));
        ASSERT_TRUE(kq_write_scanline(kq, line));
    }
    std::free(line);
    kq_free(kq);
}

SourcePlanes random_source(std::mt19937& rng, int w, int h, int planes,
                           std::vector<std::vector<uint8_t>>& store) {
    SourcePlanes s;
    s.width = w;
    s.height = h;
    s.count = planes;
    s.x1 = -3;
    s.y1 = 7;
    store.assign(planes, std::vector<uint8_t>(size_t(w) * h));
    for (int p = 0; p < planes; ++p) {
        for (auto& v : store[p]) v = static_cast<uint8_t>(rng());
        s.plane[p] = store[p].data();
    }
    return s;
}

}  // namespace

TEST(Libwf, HeaderLayoutDefaultsAndSeekBlocks) {
    WF_HEADER* h = wf_alloc_header();
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(h->planes, 4);
    EXPECT_EQ(h->map_width, 512);
    EXPECT_EQ(h->seek_count, 10);
    EXPECT_EQ(h->root_level, 10);
    EXPECT_EQ(h->tiles_x, 4);
    EXPECT_EQ(h->tile_height, 128);
    h->map_kind = WF_SUMMED_AREA;
    h->tiling_type = WF_TILE_UV;
    h->planes = 3;
    h->org_x = -2;
    h->tiles_x = 3;
    h->tiles_y = 5;
    FILE* fp = std::tmpfile();
    ASSERT_TRUE(wf_write_header(h, fp));
    const int32_t seeks[15] = {0x01020304, -1, 7};
    ASSERT_TRUE(wf_write_tile_seeks(h, seeks, fp));
    std::string b(size_t(std::ftell(fp)), '\0');
    std::rewind(fp);
    ASSERT_EQ(std::fread(b.data(), 1, b.size(), fp), b.size());
    std::fclose(fp);
    ASSERT_EQ(b.size(), 128u + 15 * 4);
    EXPECT_EQ(b.substr(0, 4), "2BMI");
    EXPECT_EQ(b[4], 2);
    EXPECT_EQ(b[5], '6');
    EXPECT_EQ(b[6], 2);
    EXPECT_EQ(b[7], 3);
    EXPECT_EQ(b[8], 0);
    EXPECT_EQ(b[9], 3);
    EXPECT_EQ(be32(b, 10), 512u);
    EXPECT_EQ(be32(b, 18), uint32_t(-2));
    EXPECT_EQ(be32(b, 34), 15u);  // seek count from the tiles
    EXPECT_EQ(be32(b, 42), 3u);
    EXPECT_EQ(be32(b, 54), 128u);
    EXPECT_EQ(b.substr(58, 70), std::string(70, '\0'));
    EXPECT_EQ(b.substr(128, 8), std::string("\x01\x02\x03\x04\xff\xff\xff\xff", 8));
    h->map_kind = 9;
    fp = std::tmpfile();
    ASSERT_TRUE(wf_write_header(h, fp));
    std::fclose(fp);
    EXPECT_EQ(h->seek_count, 0);
    std::free(h);

    EXPECT_EQ(wf_level_size(0), 0);
    EXPECT_EQ(wf_level_size(1), 1);
    EXPECT_EQ(wf_level_size(13), 4096);
    EXPECT_EQ(wf_level_size(25), 16777216);
    EXPECT_EQ(wf_level_size(26), 0);
}

TEST(Libwf, NameCompletion) {
    const char* cases[][2] = {{"a", "a.wf"},         {"a.wf", "a.wf"},
                              {"a.wfx", "a.wf"},     {"a.tkq", "a.tkq.wf"},
                              {"a.b.wf", "a.b.wf"},  {"dir.wfq/out", "dir.wfq/out.wf"},
                              {".wf", ".wf"}};
    for (auto& c : cases) {
        char out[64];
        wf_complete_name(c[0], out, sizeof out);
        EXPECT_STREQ(out, c[1]) << c[0];
    }
    EXPECT_EQ(wf_open(std::string(1024, 'n').c_str(), "r"), nullptr);
    EXPECT_EQ(wf_open("x", "a"), nullptr);
}

// Summed-area values against a direct sum of the bordered table, every tiling type,
// odd windows and tile shapes.
TEST(SummedArea, TilesMatchDirectSums) {
    std::mt19937 rng(7);
    const int shapes[][4] = {{10, 10, 8, 8}, {5, 3, 3, 4}, {1, 1, 1, 1}, {7, 9, 2, 5},
                             {3, 8, 16, 3}, {37, 4, 16, 3}, {29, 3, 9, 2}};
    for (const auto& sh : shapes) {
        for (int tiling = 0; tiling < 5; ++tiling) {
            std::vector<std::vector<uint8_t>> store;
            const int W = sh[0], H = sh[1], tw = sh[2], th = sh[3];
            SourcePlanes src = random_source(rng, W, H, 2, store);
            SummedAreaTiler tiler;
            ASSERT_TRUE(tiler.init(src, tw, th, tiling));
            EXPECT_EQ(tiler.across, (W + 2 + tw - 1) / tw);
            EXPECT_EQ(tiler.down, (H + 2 + th - 1) / th);
            const bool first_col = tiling == 1 || tiling >= 3, first_row = tiling >= 2;
            auto v = [&](int p, int X, int Y) -> double {
                if (X > W || Y > H) return 0;
                const int cx = X == 0 ? (first_col ? 0 : W - 1) : X - 1;
                const int ry = Y == 0 ? (first_row ? 0 : H - 1) : Y - 1;
                return store[p][size_t(ry) * W + cx];
            };
            WF_TILE tile{};
            tile.width = tw;
            tile.height = th;
            tile.planes = 2;
            ASSERT_TRUE(wf_alloc_tile(&tile));
            for (int64_t id = 0; id < tiler.across * tiler.down; ++id) {
                tiler.next(tile);
                const int X0 = int(id % tiler.across) * tw, Y0 = int(id / tiler.across) * th;
                ASSERT_EQ(tile.org_x, X0 - 3);
                ASSERT_EQ(tile.org_y, Y0 + 7);
                for (int p = 0; p < 2; ++p)
                    for (int r = 0; r < th; ++r)
                        for (int k = 0; k < tw; ++k) {
                            double sum = 0;
                            for (int Y = 0; Y <= Y0 + r; ++Y)
                                for (int X = 0; X <= X0 + k; ++X) sum += v(p, X, Y);
                            ASSERT_EQ(tile.data[size_t(p) * tw * th + size_t(r) * tw + k],
                                      uint32_t(sum))
                                << W << "x" << H << " tiling " << tiling << " tile " << id;
                        }
            }
            std::free(tile.block);
        }
    }
}

TEST(SummedArea, SumsWrapAt32Bits) {
    // 4100 x 4100 samples of 255 exceed 2^32 at the top-right corner.
    const int W = 4100, H = 4100;
    std::vector<uint8_t> plane(size_t(W) * H, 255);
    SourcePlanes src;
    src.width = W;
    src.height = H;
    src.count = 1;
    src.plane[0] = plane.data();
    SummedAreaTiler tiler;
    ASSERT_TRUE(tiler.init(src, W + 2, H + 2, 0));
    WF_TILE tile{};
    tile.width = W + 2;
    tile.height = H + 2;
    tile.planes = 1;
    ASSERT_TRUE(wf_alloc_tile(&tile));
    tiler.next(tile);
    const uint64_t total = uint64_t(W + 1) * (H + 1) * 255;
    EXPECT_EQ(tile.data[size_t(H) * (W + 2) + W], uint32_t(total));
    std::free(tile.block);
}

TEST(Mipmap, HalvingAndResamplingMatchPlainFormulas) {
    // Pairs exhaustively; the worked four-sample averages.
    std::vector<uint8_t> pairs(65536 * 2), a(65536), b(65536);
    for (int i = 0; i < 65536; ++i) {
        pairs[2 * i] = uint8_t(i);
        pairs[2 * i + 1] = uint8_t(i >> 8);
    }
    halve_across(pairs.data(), 1, 65536, a.data());
    halve_across_plain(pairs.data(), 1, 65536, b.data());
    EXPECT_EQ(a, b);
    halve_down(pairs.data(), 1, 65536, a.data());
    halve_down_plain(pairs.data(), 1, 65536, b.data());
    EXPECT_EQ(std::vector<uint8_t>(a.begin(), a.begin() + 65536),
              std::vector<uint8_t>(b.begin(), b.begin() + 65536));
    const uint8_t quads[][5] = {{255, 255, 255, 254, 255}, {0, 0, 0, 2, 1}, {0, 0, 0, 1, 0}};
    for (const auto& q : quads) {
        const uint8_t sq[4] = {q[0], q[1], q[2], q[3]};
        uint8_t fast = 9, plain = 9;
        halve_square(sq, 1, &fast);
        halve_square_plain(sq, 1, &plain);
        EXPECT_EQ(fast, q[4]);
        EXPECT_EQ(plain, q[4]);
    }
    std::mt19937 rng(3);
    std::vector<uint8_t> big(64 * 64), h1(32 * 32), h2(32 * 32);
    for (auto& v : big) v = uint8_t(rng());
    halve_square(big.data(), 32, h1.data());
    halve_square_plain(big.data(), 32, h2.data());
    EXPECT_EQ(h1, h2);
    halve_square(big.data(), 32, big.data());  // in place, as the levels are made
    EXPECT_EQ(std::vector<uint8_t>(big.begin(), big.begin() + 32 * 32), h2);

    const int sizes[][2] = {{100, 60}, {1, 1}, {3, 7}, {128, 128}, {65, 2}, {17, 33}};
    for (const auto& sz : sizes) {
        const int w = sz[0], h = sz[1];
        const int edge = wf_level_size(pre_mipmap_level(std::max(w, h)));
        std::vector<uint8_t> src(size_t(w) * h), f(size_t(edge) * edge), p(f.size());
        for (auto& v : src) v = uint8_t(rng());
        const uint8_t* in[1] = {src.data()};
        uint8_t* out[1] = {f.data()};
        resample_planes(in, 1, w, h, edge, out, false);
        resample_plane_plain(src.data(), w, h, edge, p.data());
        EXPECT_EQ(f, p) << w << "x" << h;
    }
    EXPECT_EQ(pre_mipmap_level(100), 8);
    EXPECT_EQ(pre_mipmap_level(1), 1);
    EXPECT_EQ(pre_mipmap_level(16777217), 0);
}

// Every bit length: the row unpacker gives the bytes of kq_get_pixel and
// kq_pixel_to_float, for random scanlines, odd offsets and counts, every channel.
TEST(SourceReading, FastUnpackMatchesPixelAccess) {
    const int layouts[][2] = {{1, 1}, {8, 2}, {12, 1}, {24, 4}, {32, 6}, {36, 4},
                              {48, 5}, {64, 0x0E}, {80, 0x0E}};
    std::mt19937 rng(11);
    for (const auto& l : layouts) {
        KQ_DATA* kq = kq_alloc();
        ASSERT_TRUE(kq_set_format(kq, 37, 1, l[0], 'B', l[1]));
        std::vector<unsigned char> line(size_t(kq->line_bytes));
        for (auto& c : line) c = uint8_t(rng());
        const int nch = l[0] <= 12 ? 1 : (l[0] == 24 || l[0] == 36 ? 3 : 4);
        for (int key = 1; key < (1 << nch); ++key) {
            int ch[4];
            const int n = key_channels(key, ch);
            for (int from : {0, 5, 36}) {
                const int count = 37 - from;
                std::vector<uint8_t> a(size_t(4) * count), b(a.size());
                uint8_t* fa[4] = {&a[0], &a[count], &a[2 * count], &a[3 * count]};
                uint8_t* fb[4] = {&b[0], &b[count], &b[2 * count], &b[3 * count]};
                ASSERT_TRUE(unpack_row(kq, line.data(), from, count, ch, n, fa));
                ASSERT_TRUE(unpack_row_plain(kq, line.data(), from, count, ch, n, fb));
                EXPECT_EQ(a, b) << "bitlen " << l[0] << " key " << key << " from " << from;
                if (l[0] == 32) {
                    std::vector<unsigned char> file(line);
                    for (size_t g = 0; g < file.size(); g += 4) std::reverse(&file[g], &file[g + 4]);
                    std::fill(a.begin(), a.end(), 0);
                    ASSERT_TRUE(unpack_row(kq, file.data(), from, count, ch, n, fa, true));
                    EXPECT_EQ(a, b) << "file order, key " << key;
                }
            }
        }
        kq_free(kq);
    }
    // The worked values: 12-bit 4095 and 2048, one-bit 1.
    KQ_DATA* kq = kq_alloc();
    ASSERT_TRUE(kq_set_format(kq, 2, 1, 12, 'B', 1));
    unsigned char twelve[3] = {0xFF, 0xF8, 0x00};  // 4095, 2048
    const int ch[4] = {0, 1, 2, 3};
    uint8_t out[2];
    uint8_t* o[4] = {out};
    ASSERT_TRUE(unpack_row(kq, twelve, 0, 2, ch, 1, o));
    EXPECT_EQ(out[0], 255);
    EXPECT_EQ(out[1], 127);
    ASSERT_TRUE(kq_set_format(kq, 2, 1, 1, 'B', 1));
    unsigned char bit[1] = {0x02};
    ASSERT_TRUE(unpack_row(kq, bit, 0, 2, ch, 1, o));
    EXPECT_EQ(out[0], 0);
    EXPECT_EQ(out[1], 255);
    kq_free(kq);
}

TEST(KqtowfFiles, SummedAreaWorkedExample) {
    ScratchDir dir;
    write_picture(dir / "p.tkq", 4, -2, 12, 11, 8, 1, [](int x, int y, int) { return x * 20 + y; });
    auto r = run_kqtowf(dir, "-f -w 5 -1 14 8 p.tkq out");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err,
              "convert R plane / output 1 plane(s)\n"
              "read source image ... finish\n"
              "SUMMED-AREA mode\n"
              " tileCount : 2 x 2 = 4\n"
              " seekBlock : 16 byte\n"
              "tilingType : standard\n"
              "   oneTile : 276 byte\n"
              "  outTotal :    1.22 Kbyte\n");
    const std::string f = read_file(dir / "out.wf");
    ASSERT_EQ(f.size(), 128u + 16 + 4 * 276);
    EXPECT_EQ(be32(f, 10), 10u);
    EXPECT_EQ(be32(f, 18), 5u);
    EXPECT_EQ(be32(f, 22), uint32_t(-1));
    EXPECT_EQ(be32(f, 34), 4u);
    for (int t = 0; t < 4; ++t) EXPECT_EQ(be32(f, 128 + 4 * t), 144u + 276 * t);
    // Tile 3 (top right): origin (8 + 5, 8 - 1); its (7, 7) is the table's corner.
    const size_t t3 = 144 + 3 * 276;
    EXPECT_EQ(be32(f, t3), 13u);
    EXPECT_EQ(be32(f, t3 + 4), 7u);
    EXPECT_EQ(be32(f, t3 + 16), 1u);
    double total = 0;  // window plus border column (x = 14) and row (y = 8)
    for (int Y = 0; Y <= 10; ++Y)
        for (int X = 0; X <= 10; ++X) {
            const int x = X == 0 ? 14 : X + 4, y = Y == 0 ? 8 : Y - 2;
            total += (x - 4) * 20 + (y + 2);
        }
    EXPECT_EQ(be32(f, t3 + 20 + 4 * (7 * 8 + 7)), uint32_t(total));

    r = run_kqtowf(dir, "-x -v -f -A 16 16 -t const p.tkq out");
    EXPECT_EQ(r.err.substr(r.err.find("convert")),
              "convert R plane / output 1 plane(s)\n"
              "tileId:  0( 0, 0) win(   0,   0,  15,  15) plane:1\n");
}

TEST(KqtowfFiles, MipmapLevels) {
    ScratchDir dir;
    write_picture(dir / "p.tkq", 0, 0, 100, 60, 32, 6,
                  [](int x, int y, int c) { return (x * 7 + y * 3 + c * 50) & 255; });
    auto r = run_kqtowf(dir, "-f -x -m 0 p.tkq a");
    ASSERT_EQ(r.status, 0) << r.err;
    std::string f = read_file(dir / "a.wf");
    EXPECT_EQ(be32(f, 34), 8u);
    EXPECT_EQ(be32(f, 38), 8u);
    EXPECT_EQ(be32(f, 10), 128u);
    size_t at = 128 + 32;
    for (int level = 8; level >= 1; --level) {
        EXPECT_EQ(be32(f, 128 + 4 * (8 - level)), at);
        EXPECT_EQ(be32(f, at), uint32_t(level));
        const size_t e = wf_level_size(level);
        EXPECT_EQ(be32(f, at + 4), e);
        at += 8 + 4 * e * e;
    }
    EXPECT_EQ(at, f.size());

    r = run_kqtowf(dir, "-f -M 6 p.tkq b");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("SUPER MIP-MAP mode\nadjust pre mipmap level 8\n"
                         "pre mipmap size (128,128) level 8 : source size (100,60)\n"
                         "pre MIP-MAP generate\n............ finish\n"
                         "next MIP-MAP level 7 (64,64) ... finish\n"
                         "next MIP-MAP level 6 (32,32) ... finish\n"
                         "next MIP-MAP level 5 (16,16) ... finish\n"),
              std::string::npos)
        << r.err;
    f = read_file(dir / "b.wf");
    at = 128 + 24;
    for (int level = 6; level >= 1; --level) {
        EXPECT_EQ(be32(f, at), uint32_t(level));
        const size_t e = wf_level_size(level);
        at += 8 + 4 * e * e + (level == 6 ? 0 : 2 * 4 * e * 32);
    }
    EXPECT_EQ(at, f.size());

    r = run_kqtowf(dir, "-f -x -m 9 p.tkq c");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "convert RGBA plane / output 4 plane(s)\n"
                     "ERROR : Can't setup root level mipmap table\n\akqtowf error exit\n");
    EXPECT_FALSE(std::filesystem::exists(dir / "c.wf"));

    write_picture(dir / "one.tkq", 3, 3, 1, 1, 8, 1, [](int, int, int) { return 77; });
    r = run_kqtowf(dir, "-f -x -m 0 one.tkq d");
    ASSERT_EQ(r.status, 0);
    EXPECT_EQ(read_file(dir / "d.wf").substr(128), std::string("\0\0\0\x84\0\0\0\1\0\0\0\1M", 13));
    r = run_kqtowf(dir, "-f -x -m 2 one.tkq d");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("ERROR : Invalid mipmap level request (level=0)\n"), std::string::npos);

    // A 9999999-wide window needs a 2^24-square pre-mipmap: refused, not wrapped.
    write_picture(dir / "wide.tkq", 0, 0, 9999999, 1, 1, 1, [](int x, int, int) { return x & 1; });
    r = run_kqtowf(dir, "-f -x -m 0 wide.tkq e");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("ERROR : Can't alloc mipmap value array (level=25)\n\akqtowf error exit\n"),
              std::string::npos)
        << r.err;
}

// The kqc recipe for a .wf whose planes are red, green, blue, alpha.
TEST(KqtowfFiles, ChannelOrderRecipe) {
    ScratchDir dir;
    auto k = run_kqc_in(dir,
                        "create pic -s 0 0 2 2\nclear pic -RGBA 10 20 30 40\n"
                        "write pic plain\n"
                        "create wf -d pic\nplane pic wf abgr\nwrite wf ordered\n");
    ASSERT_EQ(k.status, 0) << k.err;
    for (const char* name : {"plain", "ordered"}) {
        auto r = run_kqtowf(dir, std::string("-f -x -m 0 ") + name + ".tkq " + name);
        ASSERT_EQ(r.status, 0) << r.err;
    }
    const std::string plain = read_file(dir / "plain.wf"), ordered = read_file(dir / "ordered.wf");
    // Level 2 record: level, edge, then 4 planes of 2 x 2.
    const size_t p0 = 128 + 8 + 8;
    EXPECT_EQ(plain.substr(p0, 16), std::string("\x28\x28\x28\x28\x1e\x1e\x1e\x1e"
                                                "\x14\x14\x14\x14\x0a\x0a\x0a\x0a"));
    EXPECT_EQ(ordered.substr(p0, 16), std::string("\x0a\x0a\x0a\x0a\x14\x14\x14\x14"
                                                  "\x1e\x1e\x1e\x1e\x28\x28\x28\x28"));
}

TEST(KqtowfCommandLine, MessagesAndStatus) {
    ScratchDir dir;
    write_picture(dir / "rgb.tkq", 0, 0, 4, 4, 24, 4, [](int, int, int c) { return c; });
    write_picture(dir / "odd.tkq", 0, 0, 4, 4, 8, 1, [](int, int, int) { return 1; }, 'O');
    {  // 64-bit values with the auxiliary bit: colour bits but no pixel access
        KQ_DATA* kq = kq_alloc();
        ASSERT_TRUE(kq_set_format(kq, 2, 2, 64, 'B', 0x1E));
        ASSERT_TRUE(kq_set_aspect(kq, 1, 1));
        ASSERT_TRUE(kq_wopen((dir / "aux.tkq").c_str(), kq));
        unsigned char* line = kq_alloc_scanline(kq);
        ASSERT_TRUE(kq_write_scanline(kq, line) && kq_write_scanline(kq, line));
        std::free(line);
        kq_free(kq);
    }
    const std::string bad = "\akqtowf error exit\n";
    struct Case {
        const char* args;
        int status;
        std::string err;  // expected standard error, or its start when it ends in '*'
    } cases[] = {
        {"-ver", 0, "kqtowf : Version 1.03 ( Feb/12/94 ) Author the kq team\n"},
        {"-ver x y", 1, "ERROR : Invalid options -ver\n" + bad},
        {"-", 0, "Usage : kqtowf [-options] inFile outWF\n*"},
        {"-H", 0, "Usage : kqtowf [-options] inFile outWF\n*"},
        {"-f aux.tkq out", 1,
         "convert RGBA plane / output 4 plane(s)\nread source image ... "
         "ERROR : Can't get pixel data (Invalid data type access)\n" + bad},
        {"-h", 0, "Usage : kqtowf [-options] inFile outWF\n        inFile : input .tkq format data\n*"},
        {"-info", 0, "program = kqtowf\n  Version        : 1.03 (Feb/12/94) Author the kq team\n*"},
        {"", 1, "ERROR : You must define in/out\n" + bad},
        {"a", 1, "ERROR : You must define in/out\n" + bad},
        {"a b c", 1, "ERROR : Invalid argment c\n" + bad},
        {"-q a b", 1, "ERROR : Invalid options -q\n" + bad},
        {"a b -s 1 2 3", 1, "ERROR : -s option argment count error\n" + bad},
        {"-p rg a b", 1, "ERROR : Invalid argment rg\n" + bad},
        {"-t w a b", 1, "ERROR : Invalid argment w\n" + bad},
        {"-A 0 8 a b", 1, "ERROR : tile size >= 1\n"},
        {"-m -1 a b", 1, "\aERROR : mipmap level is negative\n" + bad},
        {"-f missing out", 1, "ERROR : Can't open missing (Can't open picture data)\n" + bad},
        {"-f odd.tkq out", 1, "ERROR : Can't convert even or odd field data\n" + bad},
        {"-v -x -f -s 10 10 0 0 -p a -m 1x rgb.tkq out", 0,
         "=== argment dump ===\n  i_filename : rgb.tkq\n  o_filename : out\n"
         "  window : (9,9)-(10,10)\n  save plane : alpha\n  MIP-MAP format : level 1\n"
         "tiling type : standard\n  -f : overwrite no check\n  -x : silent mode\n"
         "\aWARNING : invalid window value X\n          change value 9 -> 3\n"
         "\aWARNING : invalid window value Y\n          change value 9 -> 3\n"
         "\aWARNING : invalid window value X\n          change value 10 -> 3\n"
         "\aWARNING : invalid window value Y\n          change value 10 -> 3\n"
         "WARNING : input image has no alpha plane.\n          change convert plane to R\n"
         "convert R plane / output 1 plane(s)\n"},
        {"-x -f -A 100000000 3 rgb.tkq big", 1,
         "convert RGB plane / output 3 plane(s)\n"
         "ERROR : Too large map data (seek address beyond 2 Gbyte)\n" + bad},
        {"-x -f -p rgba -t uv rgb.tkq out", 0,
         "WARNING : input image has no alpha plane.\n          change convert plane to RGB\n"
         "convert RGB plane / output 3 plane(s)\n"},
    };
    for (const Case& c : cases) {
        const KqcRun r = run_kqtowf(dir, c.args);
        EXPECT_EQ(r.status, c.status) << c.args;
        if (!c.err.empty() && c.err.back() == '*')
            EXPECT_EQ(r.err.substr(0, c.err.size() - 1), c.err.substr(0, c.err.size() - 1))
                << c.args;
        else
            EXPECT_EQ(r.err, c.err) << c.args;
    }
    EXPECT_EQ(read_file(dir / "out.wf")[7], 3);  // tiling type uv
    EXPECT_FALSE(std::filesystem::exists(dir / "big.wf"));
}

// Overwrite question: y and Y overwrite, n refuses, other lines ask again, end of
// input refuses; a refusal leaves the file as it was.
TEST(KqtowfCommandLine, OverwriteQuestion) {
    ScratchDir dir;
    write_picture(dir / "p.tkq", 0, 0, 2, 2, 8, 1, [](int, int, int) { return 5; });
    const std::string ask = "\aMAP_lib WARNING : out.wf is already exist, Overwrite? (y/n) ";
    const struct {
        const char* input;
        int asks;
        bool written;
    } cases[] = {{"y\n", 1, true}, {"Yes\n", 1, true}, {"n\n", 1, false},
                 {"maybe\n\ny\n", 3, true}, {"x\n", 2, false}, {"", 1, false}};
    for (const auto& c : cases) {
        write_file(dir / "out.wf", "old");
        const KqcRun r = run_kqtowf(dir, "-x p.tkq out", c.input);
        std::string expect = "convert R plane / output 1 plane(s)\n";
        for (int i = 0; i < c.asks; ++i) expect += ask;
        if (!c.written) expect += "ERROR : Can't create out\n\akqtowf error exit\n";
        EXPECT_EQ(r.err, expect) << c.input;
        EXPECT_EQ(r.status, c.written ? 0 : 1);
        EXPECT_EQ(read_file(dir / "out.wf").size() == 3, !c.written) << c.input;
    }
    // No temporary files are left behind.
    int files = 0;
    for (const auto& e : std::filesystem::directory_iterator(dir.path())) files += e.path().filename().string().find("wftmp") != std::string::npos;
    EXPECT_EQ(files, 0);
}

// A write that fails part way (file size limit) keeps the earlier file and leaves no
// temporary behind.
TEST(KqtowfCommandLine, FailedWriteKeepsEarlierFile) {
    ScratchDir dir;
    write_picture(dir / "p.tkq", 0, 0, 64, 64, 32, 6, [](int x, int, int) { return x; });
    write_file(dir / "out.wf", "old");
    write_file(dir / ".stdin", "");
    for (const char* opts : {"-A 8 8", "-m 0"}) {
        const std::string cmd = "cd '" + dir.path().string() + "' && (ulimit -f 8; trap '' XFSZ; " +
                                program(KQTOWF_PATH) + " -f -x " + opts + " p.tkq out 2> .stderr)";
        const int rc = std::system(cmd.c_str());
        EXPECT_EQ(WEXITSTATUS(rc), 1) << opts;
        const std::string err = read_file(dir / ".stderr");
        EXPECT_TRUE(err.find("ERROR : Can't write tile data\n") != std::string::npos ||
                    err.find("ERROR : Can't write mip map data\n") != std::string::npos)
            << err;
        EXPECT_EQ(read_file(dir / "out.wf"), "old");
    }
    int temporaries = 0;
    for (const auto& e : std::filesystem::directory_iterator(dir.path()))
        temporaries += e.path().filename().string().find("wftmp") != std::string::npos;
    EXPECT_EQ(temporaries, 0);
}
