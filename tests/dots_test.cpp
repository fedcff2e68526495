// dotfile, diff and tomo: dot-file parsing and its silent stop, the outside cell,
// the difference report byte for byte, the tarvel layout, and the messages.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "buffer/image_buffer.h"
#include "ops/dots.h"
#include "tests/command_helpers.h"
#include "tests/kqc_runner.h"

namespace {

class DotsTest : public ::testing::Test {
protected:
    void SetUp() override { clear_registry(); }
    void TearDown() override { clear_registry(); }
    // Writes the dot file and applies it to `name` with the given colour.
    int dots(const std::string& text, const char* name,
             std::vector<float> colour = {0.1f, 0.1f, 0.1f, 0.0f}) {
        const auto path = dir / "d.txt";
        write_file(path, text);
        return dotfile(path.c_str(), name, colour.data());
    }
    ScratchDir dir;
};

std::vector<int> pixel(const char* name, int x, int y) {
    std::vector<int> v;
    for (int p = 0; p < find_buffer(name)->components; ++p) v.push_back(sample(name, p, x, y));
    return v;
}

TEST(DotBytes, Fractions) {
    EXPECT_EQ(dot_byte(1.5f), 255);
    EXPECT_EQ(dot_byte(1.0f), 255);
    EXPECT_EQ(dot_byte(-0.2f), 0);
    EXPECT_EQ(dot_byte(0.5f), 127);
    EXPECT_EQ(dot_byte(0.1f), 25);
    EXPECT_EQ(dot_byte(0.0f / 0.0f), 0);
    for (int v = 0; v < 256; ++v)
        ASSERT_EQ(dot_byte(static_cast<float>(v * 0.00392156862745098)), v) << v;
}

TEST_F(DotsTest, LineForms) {
    make_buffer("a", 0, 0, 30, 30, 4);
    ASSERT_EQ(dots("5 5\n10 20 c 1 0 0 1\n11 20   # comment\n\t12 21 c 0.5 1.5 -0.2 0.25\n"
                   "13\t21 # c in a comment is no colour\n",
                   "a"),
              1);
    EXPECT_EQ(pixel("a", 5, 5), (std::vector<int>{25, 25, 25, 0}));  // the default colour
    EXPECT_EQ(pixel("a", 10, 20), (std::vector<int>{255, 0, 0, 255}));
    EXPECT_EQ(pixel("a", 11, 20), (std::vector<int>{255, 0, 0, 255}));
    EXPECT_EQ(pixel("a", 12, 21), (std::vector<int>{127, 255, 0, 63}));
    EXPECT_EQ(pixel("a", 13, 21), (std::vector<int>{127, 255, 0, 63}));
    EXPECT_EQ(pixel("a", 6, 5), (std::vector<int>{0, 0, 0, 0}));

    // Reading stops silently at the first line that does not parse.
    for (const char* text : {"1 1\n2 2\n\n3 3\n", "1 1\n2 2\n# only a comment\n3 3\n",
                             "1 1\n2 2\n3 3 c 1 1\n4 4\n", "1 1\n2 2\n3,3\n", "1 1\n2 2\n3 x c\n"}) {
        make_buffer("b", 0, 0, 5, 5, 3);
        ASSERT_EQ(dots(text, "b", {1, 1, 1, 1}), 1) << text;
        EXPECT_EQ(sample("b", 0, 1, 1), 255) << text;
        EXPECT_EQ(sample("b", 0, 2, 2), 255) << text;
        EXPECT_EQ(sample("b", 0, 3, 3), 0) << text;
        EXPECT_EQ(sample("b", 0, 4, 4), 0) << text;
    }
}

// A line longer than 1023 characters is read as pieces, each a line of its own.
TEST_F(DotsTest, LongLinesArePieces) {
    make_buffer("a", 0, 0, 10, 10, 1);
    // 1023 characters: "1 1", spaces, then "2 2" as the start of the second piece.
    std::string text = "1 1" + std::string(1020, ' ') + "2 2\n3 3\n";
    ASSERT_EQ(dots(text, "a", {1, 1, 1, 1}), 1);
    EXPECT_EQ(sample("a", 0, 1, 1), 255);
    EXPECT_EQ(sample("a", 0, 2, 2), 255);
    EXPECT_EQ(sample("a", 0, 3, 3), 255);
    // A piece of exactly 1023 characters leaves its newline as an empty line.
    make_buffer("a", 0, 0, 10, 10, 1);
    text = "1 1" + std::string(1020, ' ') + "\n3 3\n";
    ASSERT_EQ(dots(text, "a", {1, 1, 1, 1}), 1);
    EXPECT_EQ(sample("a", 0, 1, 1), 255);
    EXPECT_EQ(sample("a", 0, 3, 3), 0);
}

TEST_F(DotsTest, OutsideDotsGoToTheOutsideCell) {
    make_buffer("a", 0, 0, 4, 4, 4);
    ASSERT_EQ(dots("2 2\n-1 2\n9 9 c 0.2 0.4 0.6 0.8\n", "a", {1, 1, 1, 1}), 1);
    EXPECT_EQ(find_buffer("a")->outside[0], 204);  // the last plane's byte
    EXPECT_EQ(pixel("a", 2, 2), (std::vector<int>{255, 255, 255, 255}));
    int written = 0;
    for (int p = 0; p < 4; ++p)
        for (int64_t i = 0; i < 16; ++i) written += find_buffer("a")->plane[p][i] != 0;
    EXPECT_EQ(written, 4);
}

TEST_F(DotsTest, DiffReport) {
    make_buffer("a", -2, 3, 3, 2, 4);
    make_buffer("b", -2, 3, 3, 2, 4);
    testing::internal::CaptureStdout();
    EXPECT_EQ(diff("a", "b"), 1);
    store_pixel(*find_buffer("b"), 0, 4, 3, 9);
    EXPECT_EQ(diff("a", "b"), 1);
    store_pixel(*find_buffer("a"), -2, 3, 0, 200);
    store_pixel(*find_buffer("a"), -2, 3, 2, 7);
    EXPECT_EQ(diff("a", "b"), 1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "# same\n"
              "   0    4 # c 3 : a   0 : b   9\n"
              "# total differential pixel : 1\n"
              "  -2    3 # c 0 : a 200 : b   0\n"
              "  -2    3 # c 2 : a   7 : b   0\n"
              "   0    4 # c 3 : a   0 : b   9\n"
              "# total differential pixel : 2\n");
}

TEST_F(DotsTest, TomoFlipsAndReverses) {
    for (const bool same : {false, true}) {
        clear_registry();
        ImageBuffer& in = *make_buffer("in", 0, 0, 1, 2, 4);
        make_buffer("out", 0, 0, 1, 2, 4);
        for (int p = 0; p < 4; ++p) {
            in.plane[p][0] = uint8_t(p + 1);  // top pixel 1 2 3 4
            in.plane[p][1] = uint8_t(p + 5);  // bottom pixel 5 6 7 8
        }
        const char* out = same ? "in" : "out";
        ASSERT_EQ(tomo("in", out), 1);
        EXPECT_EQ(pixel(out, 0, 1), (std::vector<int>{8, 7, 6, 5}));
        EXPECT_EQ(pixel(out, 0, 0), (std::vector<int>{4, 3, 2, 1}));
    }
}

TEST_F(DotsTest, Refusals) {
    make_buffer("a", 0, 0, 2, 2, 4);
    make_buffer("c", 0, 0, 2, 2, 3);
    make_buffer("w", 1, 1, 2, 2, 4);
    const float colour[4] = {1, 1, 1, 1};
    testing::internal::CaptureStderr();
    testing::internal::CaptureStdout();
    EXPECT_EQ(dotfile("d.txt", "none", colour), 0);
    EXPECT_EQ(dotfile((dir / "missing.txt").c_str(), "a", colour), 0);
    EXPECT_EQ(dotfile(dir.path().c_str(), "a", colour), 0);  // a folder
    EXPECT_EQ(diff("a", "c"), 0);
    EXPECT_EQ(diff("a", "w"), 0);
    EXPECT_EQ(diff("a", "none"), 0);
    EXPECT_EQ(tomo("a", "w"), 0);
    EXPECT_EQ(tomo("a", "c"), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "WARNING : Can't find buff (name=none)\n"
              "WARNING : Can't find dotfile (name=" + (dir / "missing.txt").string() + ")\n"
              "WARNING : Can't find dotfile (name=" + dir.path().string() + ")\n"
              "WARNING : different component size\n"
              "          a is 4 component\n"
              "          c is 3 component\n"
              "WARNING : different window size\n"
              "          a is min(0.0)-max(1.1)\n"
              "          w is min(1.1)-max(2.2)\n"
              "WARNING : Can't find buff (name=none)\n"
              "WARNING : window size missing\n"
              "          Could you use same window size buff\n"
              "          a is min(0.0)-max(1.1)\n"
              "          w is min(1.1)-max(2.2)\n"
              "WARNING : in/out buff component size not same or not 4 component\n"
              "          a is 4 component\n"
              "          c is 3 component\n");
    for (int p = 0; p < 4; ++p) EXPECT_EQ(sample("a", p, 0, 0), 0);
}

// --- commands ---------------------------------------------------------------------

const char* kDotfileUsage =
    "Usage : dotfile [-options] dotfileName BuffName\n[options]\n"
    " -c r g b a : set value at dot position (0~1)\n"
    " -C R G B A : set value at dot position (0~255)\n"
    "[Default]\n -c 0.1 0.1 0.1 0.0\n"
    "[Caution]\n If you use color definition in the dotfile, -c and -C\n"
    " options are going to cancel.\n"
    "[dotfile format sample]\n"
    "32 56   # x y             32 56 c 1 0 0 1 # x y and r g b a\n"
    "54 12                     54 12\n"
    "  .              or         .\n"
    "  .                         .\n";

TEST(DotsCommand, HelpAndArgumentErrors) {
    const KqcRun r = run_kqc(
        "dotfile ?\ndiff ?\ntomo ?\ndotfile -h\ndiff -h\ntomo -\n"
        "dotfile d\ndotfile d a -c 1 2 3\ndotfile d a b\ndiff a\ntomo a b c\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err,
              std::string("\tdotfile\t-> write dot by dotfile\n\tdiff\t-> display differential info\n"
                          "\ttomo\t-> convert to tarvel data\n") +
                  kDotfileUsage + "Usage : diff buffA buffB\nUsage : tomo inBuffName outBuffName\n" +
                  "ERROR : You must define dotfile and buff name\n" + kDotfileUsage +
                  exec_error(7, "dotfile d") + "ERROR : -c need 4 argment(s)\n" + kDotfileUsage +
                  exec_error(8, "dotfile d a -c 1 2 3") + "ERROR : Invalid argment\n" +
                  kDotfileUsage + exec_error(9, "dotfile d a b") +
                  "ERROR : Invalid argment count\nUsage : diff buffA buffB\n" +
                  exec_error(10, "diff a") +
                  "ERROR : You must define in/out buff name\nUsage : tomo inBuffName outBuffName\n" +
                  exec_error(11, "tomo a b c"));
}

TEST(DotsCommand, ColourOptionsAndReport) {
    ScratchDir dir;
    write_file(dir / "d.txt", "5 5\n");
    const KqcRun r = run_kqc_in(dir,
                                "create a -s 0 0 8 8\ncreate b -s 0 0 8 8\n"
                                "dotfile -C 128 64 0 255 d.txt a\n"
                                "dotfile -C 1 1 1 1 -c 0.5 0.5 0.5 0.5 d.txt b\n"
                                "diff a b\ndotfile -c 1 1 1 1 -C 128 64 0 255 d.txt b\ndiff a b\n"
                                "dotfile nosuch.txt a\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out,
              "   5    5 # c 0 : a 128 : b 127\n"
              "   5    5 # c 1 : a  64 : b 127\n"
              "   5    5 # c 2 : a   0 : b 127\n"
              "   5    5 # c 3 : a 255 : b 127\n"
              "# total differential pixel : 1\n# same\n");
    EXPECT_EQ(r.err, "WARNING : Can't find dotfile (name=nosuch.txt)\n" +
                         exec_error(8, "dotfile nosuch.txt a"));
}

}  // namespace
