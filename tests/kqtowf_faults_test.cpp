// kqtowf under hostile conditions: writes and renames that fail (through the
// preloaded fault library) for each map kind, and address-space limits too small
// for the levels or the tiles. The earlier file of the output name stays byte for
// byte, no temporary is left, and every failure is kqtowf's own message and status.
#ifdef KQTOWF_PATH
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "libkq/kq.h"
#include "tests/kqc_runner.h"

namespace fs = std::filesystem;

namespace {

const std::string kErrorExit = "\akqtowf error exit\n";

KqcRun run_kqtowf_in(const ScratchDir& dir, const std::string& args, const std::string& prefix) {
    return run_in(dir, prefix + program(KQTOWF_PATH) + " " + args + " < /dev/null");
}

// A picture of zero pixels.
void zero_picture(const fs::path& name, int w, int h, int bitlen, int type) {
    KQ_DATA* kq = kq_alloc();
    ASSERT_TRUE(kq_set_format(kq, w, h, bitlen, 'B', type));
    ASSERT_TRUE(kq_set_aspect(kq, 1, 1));
    kq_overwrite_mode = 0;
    ASSERT_TRUE(kq_wopen(name.c_str(), kq));
    unsigned char* line = kq_alloc_scanline(kq);
    for (int y = 0; y < h; ++y) ASSERT_TRUE(kq_write_scanline(kq, line));
    std::free(line);
    kq_free(kq);
}

bool temporary_left(const ScratchDir& dir) {
    for (const auto& e : fs::directory_iterator(dir.path()))
        if (e.path().filename().string().find(".wftmp") != std::string::npos) return true;
    return false;
}

}  // namespace

// A header write that fails, a level or tile write that fails part way, and a
// rename that fails, for each map kind. Summed-area tile writes end the program at
// once (status 1, no error-exit line); everything else takes the error exit.
TEST(KqtowfFaults, EarlierFileSurvivesEveryFailure) {
    ScratchDir dir;
    zero_picture(dir / "p.tkq", 48, 40, 32, 6);  // outputs of 8 to 40 kilobytes
    const std::string old = "an earlier map file, kept byte for byte";
    const std::string convert = "convert RGBA plane / output 4 plane(s)\n";
    struct Fault {
        const char* call;
        long after;
        const char* err;
        const char* mip_message;  // -m and -M
        const char* summed_message;
    };
    const Fault injected[] = {
        {"write", 0, "ENOSPC", "ERROR : Can't write header\n", nullptr},
        {"write", 3000, "ENOSPC", "ERROR : Can't write mip map data\n",
         "ERROR : Can't write tile data\n"},
        {"write", 3000, "EIO", "ERROR : Can't write mip map data\n",
         "ERROR : Can't write tile data\n"},
        {"rename", 0, "EIO", "ERROR : Can't write seek block\n", nullptr},
    };
    for (const char* kind : {"-m 0", "-M 0", "-A 8 8"}) {
        const bool summed = kind[1] == 'A';
        for (const Fault& f : injected) {
            SCOPED_TRACE(std::string(kind) + " / " + f.call + " " + std::to_string(f.after) + " " +
                         f.err);
            write_file(dir / "out.wf", old);
            const KqcRun r = run_kqtowf_in(dir, std::string("-f -x ") + kind + " p.tkq out",
                                           fault_env(f.call, f.after, f.err));
            const bool direct = summed && f.summed_message;
            EXPECT_EQ(r.status, 1);
            EXPECT_EQ(r.err, convert + (direct ? f.summed_message : f.mip_message) +
                                 (direct ? "" : kErrorExit));
            EXPECT_EQ(read_file(dir / "out.wf"), old);
            EXPECT_FALSE(temporary_left(dir));
        }
        // Without a fault the same run replaces the file.
        ASSERT_EQ(run_kqtowf_in(dir, std::string("-f -x ") + kind + " p.tkq out", "").status, 0);
        EXPECT_GT(fs::file_size(dir / "out.wf"), 8000u);
    }
}

// Sources that fit under the limit with levels or tiles that do not: the fatal
// allocation message and status 1 at every limit of the sweep, never a crash, a
// hang or a kill, and no temporary left behind.
TEST(KqtowfMemoryLimits, LevelsAndTilesBeyondTheLimit) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "an address-space limit cannot hold the sanitizer's shadow memory";
#else
    if (under_emulator()) GTEST_SKIP() << kNoLimitsUnderEmulator;
    ScratchDir dir;
    zero_picture(dir / "line.tkq", 5000, 1, 8, 1);  // a 64 MB pre-mipmap level
    const std::string convert = "convert R plane / output 1 plane(s)\n";
    const std::string level = "ERROR : Can't alloc mipmap value array (level=14)\n" + kErrorExit;
    // 24 MB tiles and as much again of running sums: the tile, then the running
    // sums, stop fitting as the limit falls.
    const std::string tile = "ERROR : Can't alloc tile data\n";
    const std::string hold = "ERROR : Can't alloc hold scanline info\n";
    const struct {
        const char* args;
        std::string err, or_err;
    } cases[] = {
        {"-m 0 line.tkq out", level, level},
        {"-M 0 line.tkq out", level, level},
        {"-A 6000000 1 line.tkq out", tile, hold},
    };
    for (const auto& c : cases) {
        for (int mb = 16; mb <= 48; mb += 8) {
            SCOPED_TRACE(std::string(c.args) + " at " + std::to_string(mb) + " MB");
            const KqcRun r = run_kqtowf_in(
                dir, std::string("-f -x ") + c.args,
                "ulimit -v " + std::to_string(mb * 1024) + "; timeout 60 ");
            EXPECT_EQ(r.status, 1);
            EXPECT_TRUE(r.err == convert + c.err || r.err == convert + c.or_err) << r.err;
            EXPECT_FALSE(temporary_left(dir));
        }
    }
    // 2050 x 2050 one-pixel tiles: a 16 MB seek block, written without a second
    // copy of it, so the run either completes or cannot have its seek array.
    zero_picture(dir / "square.tkq", 2048, 2048, 8, 1);
    for (int mb = 20; mb <= 44; mb += 4) {
        SCOPED_TRACE("-A 1 1 at " + std::to_string(mb) + " MB");
        const KqcRun r = run_kqtowf_in(dir, "-f -x -A 1 1 square.tkq out",
                                       "ulimit -v " + std::to_string(mb * 1024) + "; timeout 60 ");
        EXPECT_TRUE(r.status == 0 ? r.err == convert
                                  : r.err == convert + "ERROR : Can't alloc seek address array\n")
            << r.status << r.err;
        EXPECT_FALSE(temporary_left(dir));
    }
#endif
}

// One column of a million 36-bit rows is read as quickly as it is long: the
// 4096-entry sample table is made once, not per row.
TEST(KqtowfMemoryLimits, TallTwelveBitPicture) {
    ScratchDir dir;
    zero_picture(dir / "tall.tkq", 1, 1000000, 36, 4);
    const auto start = std::chrono::steady_clock::now();
    const KqcRun r = run_kqtowf_in(dir, "-f -x -m 0 tall.tkq out", "timeout 60 ");
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "convert RGB plane / output 3 plane(s)\n"
                     "ERROR : Can't alloc mipmap value array (level=21)\n" + kErrorExit);
    EXPECT_LT(took.count(), 10.0);
}
#endif
