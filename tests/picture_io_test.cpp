// read and write: the workers on hand-made pictures, and the commands' messages in
// scripts.
#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "buffer/image_buffer.h"
#include "gtest/gtest.h"
#include "io/picture_io.h"
#include "libkq/kq.h"
#include "tests/kqc_runner.h"

namespace {

// A picture file: header fields as given, then the data bytes as they are on disk.
std::string tkq(int bitlen, int ox, int oy, int w, int h, char field, int type,
                const std::string& data) {
    char text[129];
    std::snprintf(text, sizeof text, "2Bkq16   %7d %7d %7d %7d %7d %7d %7d %c 0x%2x", bitlen, ox,
                  oy, w, h, 100000, 100000, field, type);
    std::string hdr = text;
    hdr += '\0';
    hdr.resize(128, ' ');
    return hdr + data;
}

std::string bytes(std::initializer_list<int> v) {
    std::string s;
    for (int b : v) s += static_cast<char>(b);
    return s;
}

std::string random_bytes(size_t n, unsigned seed) {
    std::mt19937 gen(seed);
    std::string s(n, '\0');
    for (char& c : s) c = static_cast<char>(gen() & 0xFF);
    return s;
}

// Plane p of buffer b, top row first.
std::string plane(const ImageBuffer& b, int p) {
    return std::string(reinterpret_cast<const char*>(b.plane[p]), size_t(b.plane_size()));
}

std::vector<std::string> registry_names() {
    std::vector<std::string> names;
    for_each_buffer([&](ImageBuffer& b) { names.push_back(b.name); });
    return names;
}

class PictureIo : public testing::Test {
protected:
    void SetUp() override { clear_registry(); }
    void TearDown() override { clear_registry(); }
    std::string path(const std::string& name) { return (dir / name).string(); }
    ScratchDir dir;
};

}  // namespace

TEST_F(PictureIo, ReadUnpacksEveryBitLength) {
    write_file(dir / "g.tkq", tkq(8, -1, 2, 2, 2, 'B', 1, bytes({1, 2, 3, 4})));
    ASSERT_TRUE(read_picture(path("g.tkq").c_str(), "g"));
    ImageBuffer* g = find_buffer("g");
    ASSERT_NE(g, nullptr);
    EXPECT_EQ(g->components, 1);
    EXPECT_EQ(g->x, -1);
    EXPECT_EQ(g->y, 2);
    EXPECT_EQ(g->window.y2, 3);
    EXPECT_EQ(g->kqName, path("g.tkq"));
    EXPECT_EQ(plane(*g, 0), bytes({1, 2, 3, 4}));

    // 24 bits hold blue, green, red per pixel.
    write_file(dir / "c.tkq", tkq(24, 0, 0, 2, 1, 'B', 4, bytes({1, 2, 3, 4, 5, 6})));
    ASSERT_TRUE(read_picture(path("c").c_str(), "c"));
    ImageBuffer* c = find_buffer("c");
    EXPECT_EQ(c->components, 3);
    EXPECT_EQ(c->kqName, path("c"));
    EXPECT_EQ(plane(*c, 0), bytes({3, 6}));
    EXPECT_EQ(plane(*c, 1), bytes({2, 5}));
    EXPECT_EQ(plane(*c, 2), bytes({1, 4}));

    // 32 bits hold red, green, blue, alpha on disk; the data type is not consulted.
    write_file(dir / "a.tkq", tkq(32, 0, 0, 2, 1, 'B', 8, bytes({1, 2, 3, 4, 5, 6, 7, 8})));
    ASSERT_TRUE(read_picture(path("a.tkq").c_str(), "a"));
    ImageBuffer* a = find_buffer("a");
    EXPECT_EQ(a->components, 4);
    EXPECT_EQ(plane(*a, 0), bytes({1, 5}));
    EXPECT_EQ(plane(*a, 1), bytes({2, 6}));
    EXPECT_EQ(plane(*a, 2), bytes({3, 7}));
    EXPECT_EQ(plane(*a, 3), bytes({4, 8}));
}

TEST_F(PictureIo, ReadFillsFieldRowsAndClearsTheOthers) {
    // Even field, rows 0..3: the file holds rows 2 and 0.
    write_file(dir / "e.tkq", tkq(8, 0, 0, 2, 4, 'E', 1, bytes({20, 21, 0, 1})));
    ASSERT_TRUE(make_buffer("e", 0, 0, 2, 4, 1));
    std::fill(find_buffer("e")->plane[0], find_buffer("e")->plane[0] + 8, 99);
    ASSERT_TRUE(read_picture(path("e.tkq").c_str(), "e"));
    // Top row (3) first.
    EXPECT_EQ(plane(*find_buffer("e"), 0), bytes({0, 0, 20, 21, 0, 0, 0, 1}));

    // Odd field with a negative, odd origin: rows -1..1, stored rows 1 and -1.
    write_file(dir / "o.tkq", tkq(24, 5, -1, 1, 3, 'O', 4, bytes({1, 2, 3, 4, 5, 6})));
    ASSERT_TRUE(read_picture(path("o.tkq").c_str(), "o"));
    const ImageBuffer& o = *find_buffer("o");
    EXPECT_EQ(plane(o, 0), bytes({3, 0, 6}));
    EXPECT_EQ(plane(o, 2), bytes({1, 0, 4}));
}

TEST_F(PictureIo, ReadReshapesAnExistingBufferInPlace) {
    make_buffer("b", 0, 0, 2, 1, 3);
    make_buffer("later", 0, 0, 1, 1, 1);
    write_file(dir / "p.tkq", tkq(32, 7, 8, 2, 1, 'B', 6, bytes({1, 2, 3, 4, 5, 6, 7, 8})));
    ASSERT_TRUE(read_picture(path("p.tkq").c_str(), "b"));
    const ImageBuffer& b = *find_buffer("b");
    EXPECT_EQ(b.components, 4);
    EXPECT_EQ(b.x, 7);
    EXPECT_EQ(b.window.x2, 8);
    EXPECT_EQ(plane(b, 3), bytes({4, 8}));
    EXPECT_EQ(registry_names(), (std::vector<std::string>{"later", "b"}));
    // A different size: new planes.
    write_file(dir / "q.tkq", tkq(8, 0, 0, 3, 2, 'B', 1, bytes({1, 2, 3, 4, 5, 6})));
    ASSERT_TRUE(read_picture(path("q.tkq").c_str(), "b"));
    EXPECT_EQ(find_buffer("b")->components, 1);
    EXPECT_EQ(find_buffer("b")->plane_size(), 6);
    EXPECT_EQ(registry_names(), (std::vector<std::string>{"later", "b"}));
}

TEST_F(PictureIo, WriteThenReadGivesTheSameBuffer) {
    for (int components : {1, 3, 4}) {
        // Tall enough to cross several transfer runs.
        const int w = 301, h = 1500;
        ImageBuffer* src = make_buffer("src", -3, 5, w, h, components);
        for (int p = 0; p < components; ++p) {
            const std::string fill = random_bytes(size_t(w) * h, unsigned(p + 10 * components));
            std::copy(fill.begin(), fill.end(), src->plane[p]);
        }
        ASSERT_TRUE(write_picture("src", path("rt").c_str()));
        ASSERT_TRUE(read_picture(path("rt.tkq").c_str(), "back"));
        const ImageBuffer& back = *find_buffer("back");
        ASSERT_EQ(back.components, components);
        EXPECT_EQ(back.x, -3);
        EXPECT_EQ(back.y, 5);
        EXPECT_EQ(back.width, w);
        EXPECT_EQ(back.height, h);
        for (int p = 0; p < components; ++p) EXPECT_EQ(plane(back, p), plane(*src, p)) << p;

        // The file itself: a frame of the plane count's bit length and data type.
        const std::string file = read_file(dir / "rt.tkq");
        const int bitlen = components == 1 ? 8 : components == 3 ? 24 : 32;
        const int type = components == 1 ? 2 : components == 3 ? 4 : 6;
        std::string expect_head = tkq(bitlen, -3, 5, w, h, 'B', type, "");
        EXPECT_EQ(file.substr(0, 128), expect_head);
        ASSERT_EQ(file.size(), 128 + size_t(w) * h * components);
        // First pixel of the top row, as stored.
        const std::string first = file.substr(128, size_t(components));
        std::string expect;
        if (components == 1) expect = {char(src->plane[0][0])};
        if (components == 3) expect = {char(src->plane[2][0]), char(src->plane[1][0]), char(src->plane[0][0])};
        if (components == 4)
            expect = {char(src->plane[0][0]), char(src->plane[1][0]), char(src->plane[2][0]),
                      char(src->plane[3][0])};
        EXPECT_EQ(first, expect);
        clear_registry();
    }
}

TEST_F(PictureIo, WriteOfAMissingBufferWarns) {
    testing::internal::CaptureStderr();
    EXPECT_FALSE(write_picture("nobody", path("x").c_str()));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "WARNING : Can't find buff (name=nobody)\n");
}

// --- scripts -------------------------------------------------------------------------------

TEST(PictureIoScript, HelpAndArgumentCount) {
    KqcRun r = run_kqc("read ?\nread -h\nwrite ?\nwrite -H\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err,
              "\tread\t-> read .tkq data to buff\n"
              "Usage : read tkqName buffName\n"
              "\twrite\t-> write .tkq data\n"
              "Usage : write buffName tkqName\n");
    r = run_kqc("read a\nwrite a b c\n");
    EXPECT_EQ(r.err, "ERROR : Invalid argment count\nUsage : read tkqName buffName\n" +
                         exec_error(1, "read a") +
                         "ERROR : Invalid argment count\nUsage : write buffName tkqName\n" +
                         exec_error(2, "write a b c"));
}

TEST(PictureIoScript, RoundTripKeepsTheFileBytes) {
    ScratchDir dir;
    const std::string data = random_bytes(5 * 3 * 4, 7);
    const std::string pic = tkq(32, -4, 9, 5, 3, 'B', 6, data);
    write_file(dir / "p.tkq", pic);
    KqcRun r = run_kqc_in(dir, "read p a\nwrite a q\nwrite a r.tkq\nwrite a STDOUT\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(read_file(dir / "q.tkq"), pic);
    EXPECT_EQ(read_file(dir / "r.tkq"), pic);
    EXPECT_EQ(r.out, pic);

    // A field picture comes back as a frame with the missing rows cleared.
    write_file(dir / "f.tkq", tkq(8, 0, 0, 2, 3, 'O', 1, bytes({7, 8})));
    r = run_kqc_in(dir, "read f.tkq f\nwrite f g\n");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(read_file(dir / "g.tkq"), tkq(8, 0, 0, 2, 3, 'B', 2, bytes({0, 0, 7, 8, 0, 0})));
}

TEST(PictureIoScript, NonFatalRefusalsCountAsDone) {
    ScratchDir dir;
    write_file(dir / "deep.tkq", tkq(48, 0, 0, 1, 1, 'B', 6, std::string(6, 'x')));
    write_file(dir / "junk.tkq", std::string(200, 'j'));
    write_file(dir / "huge.tkq", tkq(32, 0, 0, 32768, 16384, 'B', 6, "tiny"));
    write_file(dir / "old.tkq", tkq(24, 0, 0, 1, 1, 'B', 4, "abc").substr(0, 100));
    const std::string long_name(512, 'n');
    const std::string script = "read " + long_name + " a\n" + "read " + long_name.substr(1) +
                               " a\nread missing a\nread deep.tkq a\nread junk a\nread huge a\n" +
                               "read old a\nread x.tif a\nwrite none out\n";
    write_file(dir / "x.tif", "tiff");
    KqcRun r = run_kqc_in(dir, script);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "ERROR : too long pix name " + long_name + " (currentMax=512)\n" +
                         "ERROR : Can't open " + long_name.substr(1) + "\n" +
                         "ERROR : Can't open missing\n"
                         "ERROR : Input deep.tkq is invalid bitlen (bitlen=48) (OKbitlen=24,32)\n"
                         "ERROR : Can't open junk\n"
                         "ERROR : Can't open huge\n"
                         "ERROR : Can't open old\n"
                         "ERROR: WINNT libkq-open-kq__ropen_TIFF_reader() unimplemented\n"
                         "ERROR : Can't open x.tif\n"
                         "WARNING : Can't find buff (name=none)\n");
    EXPECT_FALSE(std::filesystem::exists(dir / "out.tkq"));
}

TEST(PictureIoScript, TruncatedDataIsFatal) {
    ScratchDir dir;
    write_file(dir / "cut.tkq", tkq(32, 0, 0, 4, 4, 'B', 6, std::string(40, 'x')));
    // A claimed size that can be held but whose data is missing.
    write_file(dir / "big.tkq", tkq(8, 0, 0, 4096, 4096, 'B', 1, "x"));
    const std::string fatal =
        "ERROR : Can't read packed data (Can't read packed pixel data)\n\akqc : error exit\n";
    KqcRun r = run_kqc_in(dir, "read cut.tkq a\nwrite a never\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, fatal);
    r = run_kqc_in(dir, "read big a\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, fatal);
    EXPECT_FALSE(std::filesystem::exists(dir / "never.tkq"));
}

TEST(PictureIoScript, WriteFailuresAreFatalAndLeaveNoFile) {
    ScratchDir dir;
    write_file(dir / "p.tkq", tkq(8, 0, 0, 1, 1, 'B', 2, "p"));
    KqcRun r = run_kqc_in(dir, "read p a\nwrite a nodir/x\nwrite a y\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "ERROR : Can't create nodir/x (Can't open picture data)\n\akqc : error exit\n");
    // Standard output on a full device: the header cannot be written.
    write_file(dir / "w.kqc", "read p a\nwrite a STDOUT\n");
    const std::string cmd = "cd '" + dir.path().string() + "' && " + program(KQC_PATH) +
                            " -s w.kqc > /dev/full 2> err.txt";
    const int rc = std::system(cmd.c_str());
    EXPECT_EQ(WEXITSTATUS(rc), 1);
    EXPECT_EQ(read_file(dir / "err.txt"),
              "ERROR : Can't create STDOUT (Can't put picture header to disk)\n\akqc : error exit\n");
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir.path()))
        names.push_back(e.path().filename());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{".stderr", ".stdin", ".stdout", "err.txt", "p.tkq",
                                               "t.kqc", "w.kqc"}));
}

TEST(PictureIoScript, TheSamplePictureLoads) {
    const std::string sample = std::string(KQ_SOURCE_DIR) + "/examples/sample.tkq";
    KQ_DATA* kq = kq_ropen(sample.c_str());
    ASSERT_NE(kq, nullptr);
    EXPECT_EQ(kq->bitlen, 32u);
    EXPECT_EQ(kq->size_x, 64);
    EXPECT_EQ(kq->size_y, 48);
    kq_free(kq);
}
