// Reliability under hostile conditions: writes that fail part way (through the
// preloaded fault library), a kill in the middle of a write, and address-space
// limits. A stored file is never lost, nothing temporary stays behind, and every
// failure ends with the program's own message and status.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "libkq/kq_memory.h"
#include "tests/kqc_runner.h"

namespace fs = std::filesystem;

namespace {

bool temporary_left(const ScratchDir& dir) {
    for (const auto& e : fs::directory_iterator(dir.path()))
        if (e.path().filename().string().find("kqtmp") != std::string::npos) return true;
    return false;
}


}  // namespace

// The memory cgroup limits, read from a made-up tree: v2 groups and the groups
// above them, v1 with and without a smaller limit above, and no limit at all. The
// room is the least limit less that group's usage without inactive file pages.
TEST(MemoryLimits, CgroupRoom) {
    const int64_t none = INT64_MAX;
    const struct {
        const char* cgroup;                                   // /proc/self/cgroup
        std::vector<std::pair<std::string, std::string>> files;  // path, text
        int64_t room;
    } cases[] = {
        {"0::/\n", {}, none},
        {"0::/job/step\n",
         {{"sys/fs/cgroup/job/step/memory.max", "max\n"},
          {"sys/fs/cgroup/job/memory.max", "1000000\n"},
          {"sys/fs/cgroup/job/memory.current", "300000\n"},
          {"sys/fs/cgroup/job/memory.stat", "anon 100000\ninactive_file 50000\n"}},
         750000},
        {"0::/box\n",  // a hybrid host: v2 at /sys/fs/cgroup/unified
         {{"sys/fs/cgroup/unified/box/memory.max", "2000\n"},
          {"sys/fs/cgroup/unified/box/memory.current", "5000\n"}},
         0},
        {"4:memory:/a\n1:cpu,cpuacct:/\n0::/\n",
         {{"sys/fs/cgroup/memory/a/memory.limit_in_bytes", "9223372036854771712\n"},
          {"sys/fs/cgroup/memory/a/memory.usage_in_bytes", "100\n"},
          {"sys/fs/cgroup/memory/a/memory.stat", "total_inactive_file 0\n"
                                                 "hierarchical_memory_limit 9223372036854771712\n"}},
         none},
        {"7:cpu,memory:/a/b\n",
         {{"sys/fs/cgroup/memory/a/b/memory.limit_in_bytes", "800000\n"},
          {"sys/fs/cgroup/memory/a/b/memory.usage_in_bytes", "200000\n"},
          {"sys/fs/cgroup/memory/a/b/memory.stat", "hierarchical_memory_limit 500000\n"
                                                   "total_inactive_file 100000\n"}},
         400000},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.cgroup);
        ScratchDir root;
        fs::create_directories(root / "proc/self");
        write_file(root / "proc/self/cgroup", c.cgroup);
        for (const auto& [path, text] : c.files) {
            fs::create_directories((root / path).parent_path());
            write_file(root / path, text);
        }
        EXPECT_EQ(kq__cgroupRoom(root.path().string()), c.room);
    }
    // The running process has some room, and blocks below a mebibyte always pass.
    EXPECT_GT(kq_memory_room(), 0);
    EXPECT_TRUE(kq_memory_allows(1000));
    EXPECT_FALSE(kq_memory_allows(INT64_MAX));
    EXPECT_FALSE(kq_memory_allows(-1));
}

TEST(WriteFaults, OldFileSurvivesEveryFailure) {
    struct Case {
        const char* command;  // writes buffer a
        const char* file;
        const char* message;  // part of the failure report
        int status;
    };
    const Case cases[] = {
        {"write a out", "out.tkq", "Can't", 1},
        {"writeyuv a out.yuv", "out.yuv", "ERROR : Can't write yuv out.yuv", 0},
        {"writedump a out.raw", "out.raw", "ERROR : Can't output scanline data (outname:out.raw", 0},
    };
    struct Fault {
        const char* call;
        long after;
        const char* err;
    };
    const Fault injected[] = {{"write", 0, "ENOSPC"},  {"write", 100, "EIO"},
                              {"write", 5000, "ENOSPC"}, {"rename", 0, "EIO"}};
    const std::string old = "the earlier file, kept byte for byte";
    for (const Case& c : cases) {
        for (const Fault& f : injected) {
            SCOPED_TRACE(std::string(c.command) + " / " + f.call + " " + std::to_string(f.after));
            ScratchDir dir;
            write_file(dir / c.file, old);
            const KqcRun r = run_kqc_in(dir,
                                        "create a -s 0 0 64 48\nclear a -rgba 1 0.5 0.25 1\n" +
                                            std::string(c.command) + "\n",
                                        {"-s"}, "", fault_env(f.call, f.after, f.err));
            EXPECT_EQ(r.status, c.status) << r.err;
            EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
            if (c.status == 1) {
                EXPECT_NE(r.err.find("kqc : error exit"), std::string::npos);
            }
            EXPECT_EQ(read_file(dir / c.file), old);
            EXPECT_FALSE(temporary_left(dir));
        }
    }
}

TEST(WriteFaults, ReplacesFileWhenNothingFails) {
    ScratchDir dir;
    write_file(dir / "out.yuv", "old");
    const KqcRun r = run_kqc_in(dir, "create a -s 0 0 64 48\nwriteyuv a out.yuv\n", {"-s"}, "",
                                fault_env("write", 1 << 20));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(fs::file_size(dir / "out.yuv"), 64u * 48u * 2u);
}

// Killed while it writes a large picture over an existing one: the old one stays.
TEST(WriteFaults, KillDuringWriteKeepsOldPicture) {
    ScratchDir dir;
    const std::string old = read_file(fs::path(KQ_SOURCE_DIR) / "examples/sample.tkq");
    write_file(dir / "big.tkq", old);
    write_file(dir / "t.kqc", "create a -s 0 0 4000 4000\nclear a -rgba 1 1 1 1\nwrite a big\n");
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        if (chdir(dir.path().c_str()) != 0) _exit(127);
        const std::string cmd = "exec " + program(KQC_PATH) + " -s t.kqc";
        execl("/bin/sh", "sh", "-c", cmd.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    // Kill as soon as the temporary picture has data in it.
    bool seen = false;
    for (int i = 0; i < 20000 && !seen; ++i) {
        for (const auto& e : fs::directory_iterator(dir.path())) {
            std::error_code ec;
            if (e.path().filename().string().find("kqtmp") != std::string::npos &&
                fs::file_size(e.path(), ec) > 128 && !ec)
                seen = true;
        }
        if (!seen) std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
    kill(pid, SIGKILL);
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(seen) << "the write was not caught in progress";
    EXPECT_EQ(read_file(dir / "big.tkq"), old);
}

// Under an address-space limit every run either completes or ends with the fatal
// allocation message and status 1: never a crash, a hang or a kill. The limits
// sweep across the point where the buffers fit but the temporaries do not.
TEST(MemoryLimits, AllocationFailuresAreFatalMessages) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "an address-space limit cannot hold the sanitizer's shadow memory";
#else
    if (under_emulator()) GTEST_SKIP() << kNoLimitsUnderEmulator;
    {
        ScratchDir dir;
        const KqcRun r = run_kqc_in(dir, "create a -s 0 0 100000 100000\n", {"-s"}, "",
                                    "ulimit -v 200000; ");
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, "ERROR : Can't alloc component buff\n\akqc : error exit\n");
    }
    const std::string square = "create a -s 0 0 2000 2000\ncreate b -s 0 0 2000 2000\n";
    // One-row buffers, in and out apart, whose row arrays are as large as a plane.
    const std::string row1 = "create a -s 0 0 4000000 1 -c 1\ncreate b -s 1 0 4000000 1 -c 1\n";
    const std::string row3 = "create a -s 0 0 4000000 1 -c 3\ncreate b -s 1 0 4000000 1 -c 3\n"
                             "create c -s 0 0 4000000 1 -c 1\n";
    const struct {
        const std::string& buffers;
        const char* command;
        int from_mb;  // the sweep runs from here to 12 MB more
    } cases[] = {
        {square, "gauss -z 20 20 a b", 30}, {square, "blur -z 30 30 a b", 30},
        {square, "glow a b", 30},           {square, "glow -l 3 3 -x 2 a b", 30},
        {square, "gauss -z 5 5 a a", 30},   {row1, "chex a", 18},
        {row1, "nega a b", 22},             {row3, "mono a b", 24},
        {row3, "bumpy a c a", 28},
    };
    for (const auto& c : cases) {
        for (int mb = c.from_mb; mb <= c.from_mb + 12; mb += 2) {
            SCOPED_TRACE(std::string(c.command) + " at " + std::to_string(mb) + " MB");
            ScratchDir dir;
            const KqcRun r =
                run_kqc_in(dir, c.buffers + c.command + "\n", {"-s"}, "",
                           "ulimit -v " + std::to_string(mb * 1024) + "; timeout 60 ");
            ASSERT_TRUE(r.status == 0 || r.status == 1) << r.status << r.err;
            if (r.status == 1) {
                EXPECT_NE(r.err.find("Can't"), std::string::npos) << r.err;
                EXPECT_NE(r.err.find("kqc : error exit\n"), std::string::npos) << r.err;
            }
        }
    }
#endif
}
