// Unit tests of the buffer store: registry order and reuse, pixel addressing with
// the outside cell, window arithmetic, colour scaling, and the buffer commands.
#include <gtest/gtest.h>

#include "buffer/buffer_commands.h"
#include "buffer/image_buffer.h"
#include "ops/chex.h"
#include "tests/command_helpers.h"
#include "tests/kqc_runner.h"

namespace {

class BufferStore : public ::testing::Test {
protected:
    void SetUp() override { clear_registry(); }
    void TearDown() override { clear_registry(); }
};

std::vector<std::string> names_in_order() {
    std::vector<std::string> names;
    for_each_buffer([&](const ImageBuffer& b) { names.push_back(b.name); });
    return names;
}

TEST_F(BufferStore, RegistryOrderReuseAndCase) {
    ImageBuffer* a = make_buffer("a", 0, 0, 4, 3, 4);
    make_buffer("A", 0, 0, 1, 1, 1);
    make_buffer("b", 0, 0, 1, 1, 3);
    EXPECT_EQ(names_in_order(), (std::vector<std::string>{"b", "A", "a"}));
    EXPECT_EQ(find_buffer("A")->components, 1);  // names are case-sensitive

    // Same size and components: same storage, zeroed, origin updated, place kept.
    a->plane[3][5] = 9;
    a->kqName = "pic.tkq";
    uint8_t* storage = a->storage.get();
    EXPECT_EQ(make_buffer("a", -2, 7, 4, 3, 4), a);
    EXPECT_EQ(a->storage.get(), storage);
    EXPECT_EQ(a->plane[3][5], 0);
    EXPECT_EQ(a->window.x1, -2);
    EXPECT_EQ(a->window.y2, 9);
    EXPECT_EQ(a->kqName, "pic.tkq");
    // Another size: new zeroed planes, still third in the list.
    make_buffer("a", 0, 0, 5, 2, 3);
    EXPECT_EQ(a->plane_size(), 10);
    EXPECT_EQ(a->plane_step[1], 10);
    EXPECT_EQ(a->plane[3], nullptr);
    EXPECT_EQ(names_in_order().back(), "a");

    testing::internal::CaptureStderr();
    EXPECT_EQ(dispose_buffer("A"), 1);
    EXPECT_EQ(dispose_buffer("A"), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "WARNING : Can't find buff (name=A)\n");
    EXPECT_EQ(names_in_order(), (std::vector<std::string>{"b", "a"}));
}

TEST_F(BufferStore, PixelAddressAndOutsideCell) {
    ImageBuffer* b = make_buffer("p", 10, 20, 3, 2, 3);
    store_pixel(*b, 10, 21, 0, 0x1ff);  // top-left: first byte, low 8 bits
    store_pixel(*b, 12, 20, 2, 7);      // bottom-right of plane 2
    EXPECT_EQ(b->plane[0][0], 0xff);
    EXPECT_EQ(b->plane[2][5], 7);
    EXPECT_EQ(pixel_address(*b, 0, 9, 20), 0);  // left of the window: the outside cell
    store_pixel(*b, 100, -5, 1, 42);            // a write outside goes to the cell
    EXPECT_EQ(pixel_address(*b, 2, 13, 21), 42);
    EXPECT_EQ(pixel_address(*b, 0, 10, 22), 42);
    EXPECT_EQ(b->plane[1][0], 0);
}

TEST_F(BufferStore, WindowArithmetic) {
    ImageBuffer* a = make_buffer("a", 0, 0, 10, 10, 1);
    ImageBuffer* b = make_buffer("b", 20, 0, 10, 10, 1);
    ImageBuffer* c = make_buffer("c", 5, 0, 20, 100, 1);
    Rect r = composite_window(*a, *b, *c);
    EXPECT_EQ((std::array<int64_t, 4>{r.x1, r.y1, r.x2, r.y2}),
              (std::array<int64_t, 4>{5, 0, 24, 9}));
    ImageBuffer* e = make_buffer("e", 3, 3, 0, 5, 4);  // empty window
    EXPECT_TRUE(e->rect().empty());
    Rect q{-5, -5, 4, 4};
    clip_window(q, *a);
    EXPECT_EQ(q.width(), 5);
    EXPECT_TRUE(composite_window(*a, *a, *b).empty());
    EXPECT_TRUE(same_geometry2(*a, *a));
    EXPECT_FALSE(same_geometry3(*a, *a, *b));
    EXPECT_TRUE(same_components3(*a, *b, *c));
    EXPECT_FALSE(all_rgba3(*e, *e, *a));
}

TEST(ColourScaling, FractionsAndBytes) {
    EXPECT_EQ(fraction_to_byte(0.5f), 127);
    EXPECT_EQ(fraction_to_byte(0.2f), 51);
    EXPECT_EQ(fraction_to_byte(1.0f), 255);
    EXPECT_EQ(fraction_to_byte(2.0f), 254);
    EXPECT_EQ(fraction_to_byte(-1.0f), 1);  // -255: low byte 0x01
    EXPECT_EQ(fraction_to_byte(1e30f), 0);
    // Byte values go through the 1/255 scaling and come back exactly.
    for (int v = 0; v <= 255; ++v)
        EXPECT_EQ(fraction_to_byte(static_cast<float>(v * 0.00392156862745098)), v) << v;
}

TEST_F(BufferStore, CreateOptions) {
    testing::internal::CaptureStderr();
    EXPECT_EQ(run_line("create a"), 1);
    EXPECT_EQ(run_line("create b -c 3 -w 10 20 1 2"), 1);
    EXPECT_EQ(run_line("create c -d b -c 1"), 1);
    EXPECT_EQ(run_line("create d -d nosuch"), 0);
    EXPECT_EQ(run_line("create e -c 2"), 0);
    EXPECT_EQ(run_line("create -s 1 2 3"), 0);
    EXPECT_EQ(run_line("create f g"), 0);
    EXPECT_EQ(run_line("create"), 0);
    const std::string err = testing::internal::GetCapturedStderr();
    const ImageBuffer* a = find_buffer("a");
    EXPECT_EQ(a->width * 10000 + a->height, 6400480);
    EXPECT_EQ(a->components, 4);
    const ImageBuffer* b = find_buffer("b");
    EXPECT_EQ((std::array<int, 5>{b->x, b->y, b->width, b->height, b->components}),
              (std::array<int, 5>{1, 2, 10, 19, 3}));
    const ImageBuffer* c = find_buffer("c");
    EXPECT_EQ((std::array<int, 3>{c->x, c->width, c->components}), (std::array<int, 3>{1, 10, 1}));
    EXPECT_EQ(find_buffer("d"), nullptr);
    EXPECT_EQ(find_buffer("e"), nullptr);
    const std::string usage =
        "Usage : create [-options] buffName\n[Options]\n"
        "  -d buffName : duplicate buffer mode (not copy)\n  -s ox oy w h : size & origin set type1\n"
        "  -w x1 y1 x2 y2 : size & origin set type2\n  -c num : component count ( 1 or 3 or 4 )\n"
        "[Default]\n  -s 0 0 640 480\n  -c 4\n";
    EXPECT_EQ(err, "WARNING : Can't find buff nosuch\n"
                   "ERROR : invalid component count : -c\n" + usage +
                   "ERROR : -s need 4 argment(s)\n" + usage + "ERROR : Invalid argment\n" + usage +
                   "ERROR : You must define buffer name\n" + usage);
}

TEST_F(BufferStore, ClearColoursAndRegions) {
    testing::internal::CaptureStderr();
    ASSERT_EQ(run_line("create a -s 0 0 20 20"), 1);
    EXPECT_EQ(run_line("clear a -RGB 255 128 0"), 1);
    EXPECT_EQ(sample("a", 0, 3, 3) * 1000000 + sample("a", 1, 3, 3) * 1000 + sample("a", 2, 3, 3),
              255128000);
    EXPECT_EQ(sample("a", 3, 3, 3), 0);  // alpha untouched

    EXPECT_EQ(run_line("clear a -r 0.5 -g 0.2"), 1);  // only the last mode: green
    EXPECT_EQ(sample("a", 0, 0, 0), 255);
    EXPECT_EQ(sample("a", 1, 0, 0), 51);

    EXPECT_EQ(run_line("clear a -A 7 -out -s 10 10 5 5"), 1);
    int written = 0;
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 20; ++x) written += sample("a", 3, x, y) == 7;
    EXPECT_EQ(written, 400 - 25);
    EXPECT_EQ(sample("a", 3, 10, 10) + sample("a", 3, 14, 14), 0);

    EXPECT_EQ(run_line("clear a -a 1 -s -5 -5 10 10"), 1);
    EXPECT_EQ(sample("a", 3, 4, 4), 255);
    EXPECT_EQ(sample("a", 3, 5, 4), 7);
    EXPECT_EQ(run_line("clear a -a 0.2 -w 19 19 18 18 -f"), 1);  // -f: the whole window
    EXPECT_EQ(sample("a", 3, 0, 19), 51);
    EXPECT_EQ(run_line("clear a -out -a 1"), 1);  // outside with no region: nothing
    EXPECT_EQ(sample("a", 3, 0, 19), 51);

    // Odd regions in outside mode go through the four bands as they are: a region
    // hanging over the corner spares only its part in the window; a negative width
    // makes the left and right bands overlap, so every pixel is written.
    ASSERT_EQ(run_line("create o -c 1 -s 0 0 20 20"), 1);
    auto count = [](int v) {
        int n = 0;
        for (int y = 0; y < 20; ++y)
            for (int x = 0; x < 20; ++x) n += sample("o", 0, x, y) == v;
        return n;
    };
    EXPECT_EQ(run_line("clear o -R 3 -out -s -5 -5 10 10"), 1);
    EXPECT_EQ(count(3), 400 - 25);
    EXPECT_EQ(sample("o", 0, 4, 4) * 100 + sample("o", 0, 5, 4) * 10 + sample("o", 0, 4, 5), 33);
    EXPECT_EQ(run_line("clear o -R 8 -out -s 10 10 -3 5"), 1);
    EXPECT_EQ(count(8), 400);
    EXPECT_EQ(run_line("clear o -R 9 -s 10 10 -3 5"), 1);  // inside an empty region: nothing
    EXPECT_EQ(run_line("clear o -R 9 -out -w 25 30 -5 -1"), 1);  // region covers the window
    EXPECT_EQ(count(8), 400);
    EXPECT_EQ(run_line("clear o -R 4 -w 3 2 1 0"), 1);  // corners in any order
    EXPECT_EQ(count(4), 9);
    EXPECT_EQ(sample("o", 0, 1, 0) + sample("o", 0, 3, 2), 8);

    ASSERT_EQ(run_line("create c3 -c 3 -s 0 0 2 2"), 1);
    EXPECT_EQ(run_line("clear c3 -a 1"), 1);  // no alpha plane: nothing, success
    EXPECT_EQ(run_line("clear nosuch"), 0);
    EXPECT_EQ(run_line("clear a b"), 0);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err.substr(0, 40), "WARNING : Can't find buff (name=nosuch)\n");
    EXPECT_EQ(err.substr(40, 24), "ERROR : Invalid argment\n");
}

TEST_F(BufferStore, ChexTiles) {
    make_buffer("c", -20, -20, 40, 40, 1);
    const float c0[4] = {1, 1, 1, 1}, c1[4] = {0.5f, 0, 0, 0};
    ASSERT_EQ(checker_fill("c", c0, c1, 10, 10), 1);
    EXPECT_EQ(sample("c", 0, -9, -9), 255);  // tile 0 spans -9..9 on both axes
    EXPECT_EQ(sample("c", 0, 9, 9), 255);
    EXPECT_EQ(sample("c", 0, 10, 0), 127);
    EXPECT_EQ(sample("c", 0, 15, 15), 255);   // parities 1 and 1
    EXPECT_EQ(sample("c", 0, -15, 15), 127);  // parities -1 and 1 differ
}

TEST(BufferCommands, InfoBlistAndFatalSizes) {
    auto r = run_kqc("create a\ncreate bb -c 1 -s 0 0 7 3\nblist\ninfo bb\ninfo\ndispose\n");
    EXPECT_EQ(r.err,
              " id | buff-name : c :  buff-size\n----+-----------+---+-------------\n"
              "  0 |        bb : 1 :    7 x 3\n  1 |         a : 4 :  640 x 480\n"
              "==== buffer information ===\n     name : bb\n   kqName : \n   origin : 0 0\n"
              "     size : 7 3\n   window : 0 0 .. 6 2\nconponent : 1\n"
              "ERROR : You must define buffer name\nUsage : info buffName\n" +
                  exec_error(5, "info") +
                  "ERROR : Invalid argment count\nUsage : dispose buffName\n" +
                  exec_error(6, "dispose"));

    for (const char* size : {"-5 10", "-5 -5", "100000000 100000000"}) {
        r = run_kqc(std::string("create a -s 0 0 ") + size + "\n");
        EXPECT_EQ(r.status, 1) << size;
        EXPECT_EQ(r.err, "ERROR : Can't alloc component buff\n\akqc : error exit\n") << size;
    }
    r = run_kqc("create " + std::string(512, 'n') + "\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "ERROR : Too long buff name " + std::string(512, 'n') +
                         " (currentMax=512)\n\akqc : error exit\n");
    r = run_kqc("create z -s 0 0 0 5\ninfo z\n");  // an empty window is fine
    EXPECT_NE(r.err.find("   window : 0 0 .. -1 4\n"), std::string::npos);
}

// At origin -2147483648 a side of size 0 has a 32-bit window end that wraps to
// 2147483647; the buffer must still cover no pixel in any command.
TEST(BufferCommands, ZeroSizeAtTheLowestOriginCoversNothing) {
    auto r = run_kqc(
        "create h -s 0 -2147483648 6 0\ncreate o -s 0 0 4 4\nplus o h o\nplus h o h\n"
        "copy h h -s 0 0 3 3 -lt 1 1\ncopy o h\nshift 1 1 o h\n"
        "create z -s -2147483648 0 0 4\ncreate z2 -d z\nblur z z2 -z 5 0\ninfo h\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err,
              "WARNING : Sorry, blur X size too big\n"
              "          Could you change blur X size plaese.\n" +
                  exec_error(10, "blur z z2 -z 5 0") +
                  "==== buffer information ===\n     name : h\n   kqName : \n"
                  "   origin : 0 -2147483648\n     size : 6 0\n"
                  "   window : 0 -2147483648 .. 5 2147483647\nconponent : 4\n");
}

}  // namespace
