// The image commands at the ends of the coordinate range: buffers whose windows
// touch 2^31 - 1 or -2^31 or run past 2^31 - 1 (such a window reads as empty),
// sizes of 0 and 1, windows on command lines far outside any buffer, and working
// arrays that do not fit under an address-space limit. Every run ends with the
// program's own messages and status; the sanitizer build runs the same scripts.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/kqc_runner.h"

namespace {

struct Geometry {
    long long x, y;
    int w, h;
};

// Corners at both ends of the range, a window that runs past it, and a plain one.
const Geometry kGeometries[] = {
    {2147483647 - 7, 2147483647 - 5, 8, 6},  // ends exactly at 2^31 - 1
    {-2147483648LL, -2147483648LL, 8, 6},    // starts at -2^31
    {2147483640, 2147483642, 11, 5},         // runs past 2^31 - 1 in x and y
    {2147483000, 0, 1, 1},
    {-2147483648LL, 3, 0, 4},                // no columns
    {5, 3, 9, 7},
};

const char* const kCommands[] = {
    "opaque a 0.5", "dissolve a 1.5", "darkness a 0.5 2 -1", "nega -rgba a b", "mono a b",
    "adjustcol -r 10 200 -a 0 0 a b", "paint -m4 a b", "pile a b", "pile -r b a",
    "dotfile dots.txt a", "diff a b", "tomo a b", "tomo a a", "random -s 7 a",
    "scatter -x 2 a b", "scatter -r 2147483647 -m 3 a a", "spread -r -2147483648 a b",
    "spread -r 2 a a", "bumpy a b a", "bumpy -a -m -2147483648 2147483647 b a a",
    "gauss -z 1 1 a b", "gauss -z 2 0 a a", "gauss -z 0 1e30 a b", "shrink -l 2 2 a b",
    "shrink -l 3 1 a a", "shrink -l 17 17 b a", "bzoom a b", "bzoom a a",
    "bzoom -s 2147483647 2147483647 2147483647 2147483647 a b",
    "bzoom -w -2147483648 -2147483648 2147483647 2147483647 -S 0 0 1 1 a b",
    "bzoom -W 2147483647 -2147483648 -2147483648 2147483647 b a", "blzoom a b", "blzoom b a",
    "blzoom a a", "glow -l 2 2 -z 1 1 a b", "filter3 -f lap a", "antiflicker b",
    "writeyuv a v.yuv", "readyuv -s 8 6 v.yuv c", "writedump -a a d.raw", "d1tontsc a b",
};

std::string create(const char* name, const Geometry& g, int components) {
    return "create " + std::string(name) + " -s " + std::to_string(g.x) + " " +
           std::to_string(g.y) + " " + std::to_string(g.w) + " " + std::to_string(g.h) +
           " -c " + std::to_string(components) + "\n";
}

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif

// The release build runs under an address-space limit, so that an array sized by
// how far a mapping reaches rather than by the buffers ends the run instead of
// filling the machine's memory.
const char* roomy() { return kSanitized || under_emulator() ? "" : "ulimit -v 1000000; "; }

}  // namespace

// Every command over every pair of extreme geometries, for 4 + 4 and 3 + 1 planes.
TEST(Extremes, CommandsAtTheEndsOfTheRange) {
    for (const Geometry& ga : kGeometries) {
        for (const Geometry& gb : kGeometries) {
            for (const int planes : {4, 3}) {
                std::string script;
                for (const char* command : kCommands) {
                    script += create("a", ga, planes) + create("b", gb, planes == 4 ? 4 : 1);
                    script += "random -rgba 0 0 0 0 1 1 1 1 a\nrandom -rgba 0 0 0 0 1 1 1 1 -s 3 b\n";
                    script += std::string(command) + "\n";
                }
                SCOPED_TRACE(create("a", ga, planes) + create("b", gb, planes == 4 ? 4 : 1));
                ScratchDir dir;
                write_file(dir / "dots.txt",
                           "1 1\n2147483647 2147483647 c 1 0 0 1\n-2147483648 -2147483648\n");
                const KqcRun r = run_kqc_in(dir, script, {"-s"}, "", roomy());
                EXPECT_EQ(r.status, 0) << r.err.substr(r.err.size() > 2000 ? r.err.size() - 2000 : 0);
                EXPECT_EQ(r.err.find("runtime error"), std::string::npos) << r.err;
                EXPECT_EQ(r.err.find("Sanitizer"), std::string::npos) << r.err;
            }
        }
    }
}

// A source window past 2^31 - 1 is empty: every output pixel is the outside cell.
TEST(Extremes, ZoomFromAnEmptyWindow) {
    ScratchDir dir;
    const KqcRun r = run_kqc_in(
        dir,
        "create a -s 2147483640 0 11 5 -c 1\nrandom -r 1 1 a\ncreate b -s 0 0 9 4 -c 1\n"
        "random -r 1 1 b\nblzoom a b\ncreate c -d b\ndiff b c\n",
        {"-s"}, "", roomy());
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, "# same\n");
}

// Working arrays and snapshots that cannot be allocated while the buffers fit: a
// command failure with its warning, or the fatal plane-allocation end.
TEST(Extremes, WorkingMemoryBeyondTheLimit) {
    if (kSanitized) GTEST_SKIP() << "an address-space limit cannot hold the sanitizer's shadow memory";
    if (under_emulator()) GTEST_SKIP() << kNoLimitsUnderEmulator;
    struct Case {
        std::string buffers;  // two lines
        std::string command;
        int limit_mb;
        std::string warning;  // empty: the fatal end
    };
    const std::string big = "create a -s 0 0 4000 1000\ncreate b -s 0 0 1 1\n";  // 16 MB
    const std::string tall = "create a -s 0 0 4 2000000 -c 1\ncreate b -d a\n";
    const std::string wide = "create a -s 0 0 2 2 -c 1\ncreate b -s 0 0 4000000 1 -c 1\n";
    const std::string table = "ERROR : Can't generate gauss table\n";
    const std::string zoom = "WARNING : Can't alloc zoom inside array\n";
    const Case cases[] = {
        {big, "tomo a a", 28, ""},
        {big, "scatter a a", 28, ""},
        {big, "spread -r 3 a a", 28, ""},
        {tall, "gauss -z 0 500000 a b", 40, table},
        {tall, "gauss -z 1 500000 a b", 40, table},
        {wide, "blzoom a b", 28, zoom},
        {wide, "bzoom a b", 28, zoom},
        {"create a -s 0 0 8000000 1 -c 1\ncreate b -d a\n", "shrink a b", 28,
         "WARNING : Can't alloc shrink inside array\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.command);
        ScratchDir dir;
        const KqcRun r = run_kqc_in(dir, c.buffers + c.command + "\n", {"-s"}, "",
                                    "ulimit -v " + std::to_string(c.limit_mb * 1024) + "; ");
        EXPECT_EQ(r.status, c.warning.empty() ? 1 : 0);
        EXPECT_EQ(r.err, c.warning.empty()
                             ? "ERROR : Can't alloc component buff\n\akqc : error exit\n"
                             : c.warning + exec_error(3, c.command));
    }
}
