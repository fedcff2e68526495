// Every writer (kqc's write, writeyuv and writedump, kqtowf, kqconv) against every
// kind of output name: the file is replaced only when it is a regular file, special
// files and links stay what they were, refusals keep the earlier file byte for
// byte, and no temporary is left. Also: durability seen by the fault library,
// terminating signals at random moments, and a closed standard output.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <thread>

#include "libkq/kq.h"
#include "tests/kqc_runner.h"

namespace fs = std::filesystem;

namespace {

const std::string kOld = "the earlier file, kept byte for byte\n";

struct Writer {
    const char* label;
    const char* ext;       // extension of the file written
    bool given_with_ext;   // the command names the file with its extension
    const char* command;   // shell command, @ for the output name, run in the scratch folder
    const char* refused;   // message when the output cannot be created, @ for the name
    const char* failed;    // part of every failure report, @ for the name
    int fail_status;       // exit status after a failure
};

const std::string kScript = "create a -s 0 0 128 96\nclear a -rgba 1 0.5 0.25 1\n";

const Writer kWriters[] = {
    {"write", ".tkq", false, "'" KQC_PATH "' -s w.kqc < /dev/null",
     "ERROR : Can't create @ (Can't open picture data)\n", "kqc : error exit\n", 1},
    {"writeyuv", ".yuv", true, "'" KQC_PATH "' -s y.kqc < /dev/null",
     "ERROR : Can't create yuv data @\n", "ERROR : Can't", 0},
    {"writedump", ".raw", true, "'" KQC_PATH "' -s d.kqc < /dev/null",
     "WARNING : Can't create @\n", "Can't", 0},
#ifdef KQTOWF_PATH
    {"kqtowf", ".wf", false, "'" KQTOWF_PATH "' -f -x p.tkq '@' < /dev/null",
     "ERROR : Can't create @\n", "ERROR : Can't", 1},
#endif
#ifdef KQCONV_PATH
    {"kqconv", ".pam", true, "'" KQCONV_PATH "' p.tkq '@'", "ERROR : @ : can't create (",
     "ERROR : @ : can't", 1},
#endif
};

std::string fill(const std::string& text, const std::string& name) {
    std::string s;
    for (const char c : text) {
        if (c == '@')
            s += name;
        else
            s += c;
    }
    return s;
}

enum class Kind {
    regular, read_only, symlink, dangling, fifo, dev_null, dev_stdout, ro_folder, long_name,
    stale, file_limit, no_inodes, no_space
};

// The scratch folder with the inputs every writer needs.
void prepare_inputs(const ScratchDir& dir, const std::string& given) {
    write_file(dir / "w.kqc", kScript + "write a " + given + "\n");
    write_file(dir / "y.kqc", kScript + "writeyuv a " + given + "\n");
    write_file(dir / "d.kqc", kScript + "writedump a " + given + "\n");
    KQ_DATA* kq = kq_alloc();
    ASSERT_TRUE(kq_set_format(kq, 128, 96, 32, 'B', 6));
    ASSERT_TRUE(kq_set_aspect(kq, 1, 1));
    ASSERT_TRUE(kq_wopen((dir / "p.tkq").c_str(), kq));
    unsigned char* line = kq_alloc_scanline(kq);
    for (int y = 0; y < 96; ++y) ASSERT_TRUE(kq_write_scanline(kq, line));
    std::free(line);
    kq_free(kq);
    fs::permissions(dir / "p.tkq", fs::perms(0644));  // read by nobody too
}

int temporaries(const fs::path& folder) {
    int n = 0;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(folder, ec)) {
        const std::string f = e.path().filename().string();
        n += f.find("kqtmp") != std::string::npos || f.find("wftmp") != std::string::npos;
    }
    return n;
}

// A small tmpfs on `at`, unmounted when the object goes.
class SmallTmpfs {
public:
    SmallTmpfs(const fs::path& at, const std::string& options) : at_(at) {
        fs::create_directories(at);
        mounted_ = std::system(("mount -t tmpfs -o " + options + " tmpfs '" + at.string() +
                                "' 2>/dev/null").c_str()) == 0;
    }
    ~SmallTmpfs() {
        if (mounted_) (void)!std::system(("umount '" + at_.string() + "'").c_str());
    }
    bool mounted() const { return mounted_; }

private:
    fs::path at_;
    bool mounted_ = false;
};

// Runs one writer against one kind of output; every expectation of the table.
void check(const Writer& w, Kind kind) {
    ScratchDir dir;
    fs::permissions(dir.path(), fs::perms(0755));
    const bool in_sub = kind == Kind::ro_folder || kind == Kind::no_inodes || kind == Kind::no_space;
    const fs::path folder = in_sub ? dir / "sub" : dir.path();
    std::unique_ptr<SmallTmpfs> small;
    if (kind == Kind::no_inodes) small = std::make_unique<SmallTmpfs>(folder, "size=1m,nr_inodes=4");
    if (kind == Kind::no_space) small = std::make_unique<SmallTmpfs>(folder, "size=16k,nr_inodes=64");
    if (small && !small->mounted()) GTEST_SKIP() << "no tmpfs can be mounted here (needs root)";
    fs::create_directories(folder);
    const std::string stem = kind == Kind::long_name ? std::string(240, 'n') : "out";
    const std::string file = stem + w.ext;  // the name in `folder`
    const std::string given = (in_sub ? "sub/" : "") + (w.given_with_ext ? file : stem);
    prepare_inputs(dir, given);
    const fs::path out = folder / file;
    fs::create_directories(dir / "real");
    std::string prefix = "timeout 60 ";
    int stale = 0;
    switch (kind) {
        case Kind::file_limit:
            prefix = "ulimit -f 4; " + prefix;  // 2 KB at most, in 512-byte blocks
            [[fallthrough]];
        case Kind::regular:
        case Kind::long_name:
        case Kind::no_inodes:
        case Kind::no_space:
            write_file(out, kOld);
            fs::permissions(out, fs::perms(0640));
            break;
        case Kind::read_only:
            write_file(out, kOld);
            fs::permissions(out, fs::perms(0444));
            break;
        case Kind::symlink:
            write_file(dir / "real/target", kOld);
            fs::create_symlink("real/target", out);
            break;
        case Kind::dangling:
            fs::create_symlink("real/target", out);
            break;
        case Kind::fifo:
            ASSERT_EQ(mkfifo(out.c_str(), 0644), 0);
            prefix = "timeout 60 cat '" + file + "' > got & " + prefix;  // the reader
            break;
        case Kind::dev_null:
            fs::create_symlink("/dev/null", out);
            break;
        case Kind::dev_stdout:
            fs::create_symlink("/dev/stdout", out);
            break;
        case Kind::ro_folder:
            write_file(out, kOld);
            fs::permissions(out, fs::perms(0666));
            fs::permissions(folder, fs::perms(0555));
            // Root writes into any folder: run as nobody.
            if (geteuid() == 0) prefix += "setpriv --reuid=65534 --regid=65534 --clear-groups ";
            break;
        case Kind::stale:
            write_file(out, kOld);
            for (int i = 0; i < 100; ++i, ++stale) {
                write_file(folder / ("." + file + ".kqtmp" + std::to_string(i)), "stale");
                write_file(folder / ("." + file + ".wftmp" + std::to_string(i) + "-0"), "stale");
                ++stale;
            }
            break;
    }
    if (kind == Kind::no_inodes) {
        for (int i = 0; i < 100; ++i) {
            std::FILE* f = std::fopen((folder / std::to_string(i)).c_str(), "w");
            if (!f) break;
            std::fclose(f);
        }
    }
    if (kind == Kind::no_space) {
        std::FILE* f = std::fopen((folder / "fill").c_str(), "w");
        ASSERT_NE(f, nullptr);
        const std::string block(4096, 'x');
        while (std::fwrite(block.data(), 1, block.size(), f) == block.size() && std::fflush(f) == 0) {
        }
        std::fclose(f);
    }
    const KqcRun r =
        run_in(dir, "( " + prefix + fill(w.command, given) + "; s=$?; wait; exit $s )");

    const bool refused = kind == Kind::read_only || kind == Kind::ro_folder ||
                         kind == Kind::no_inodes;
    const bool fails = refused || kind == Kind::no_space || kind == Kind::file_limit ||
                       (kind == Kind::fifo && std::string(w.label) == "kqtowf");
    if (fails) {
        EXPECT_EQ(r.status, w.fail_status) << r.err;
        const std::string message = fill(refused ? w.refused : w.failed, given);
        EXPECT_NE(r.err.find(message), std::string::npos) << r.err << "\nwanted: " << message;
    } else {
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.err.find(fill(w.failed, given)), std::string::npos) << r.err;
    }
    if (kind == Kind::fifo && std::string(w.label) == "kqtowf") {
        EXPECT_NE(r.err.find("ERROR : Can't seek to seek data block\n"), std::string::npos);
    }

    // What must stay what it was.
    struct stat st {};
    switch (kind) {
        case Kind::regular:
        case Kind::long_name:
        case Kind::stale:
            EXPECT_NE(read_file(out), kOld);
            EXPECT_GT(fs::file_size(out), 0u);
            ASSERT_EQ(stat(out.c_str(), &st), 0);
            if (kind == Kind::regular) {
                EXPECT_EQ(st.st_mode & 07777, 0640u);
            }
            break;
        case Kind::symlink:
        case Kind::dangling:
            EXPECT_TRUE(fs::is_symlink(out));
            EXPECT_EQ(fs::read_symlink(out), "real/target");
            EXPECT_TRUE(fs::is_regular_file(dir / "real/target"));
            EXPECT_NE(read_file(dir / "real/target"), kOld);
            EXPECT_GT(fs::file_size(dir / "real/target"), 0u);
            break;
        case Kind::fifo:
            EXPECT_TRUE(fs::is_fifo(fs::symlink_status(out)));
            EXPECT_GT(fs::file_size(dir / "got"), 0u);
            break;
        case Kind::dev_null:
        case Kind::dev_stdout:
            EXPECT_TRUE(fs::is_symlink(out));
            EXPECT_TRUE(fs::is_character_file("/dev/null"));
            if (kind == Kind::dev_stdout) {
                EXPECT_EQ(fs::read_symlink(out), "/dev/stdout");
                EXPECT_TRUE(fs::is_symlink("/dev/stdout"));
                EXPECT_GT(r.out.size(), 0u);
            }
            break;
        default:
            EXPECT_EQ(read_file(out), kOld);
            break;
    }
    EXPECT_EQ(temporaries(folder), stale);
    EXPECT_EQ(temporaries(dir / "real"), 0);
    if (kind == Kind::ro_folder) fs::permissions(folder, fs::perms(0755));
}

const char* kind_name(Kind k) {
    static const char* const names[] = {"regular",   "read-only",  "symlink",       "dangling symlink",
                                        "fifo",      "/dev/null",  "/dev/stdout",   "read-only folder",
                                        "long name", "stale temporaries", "file size limit",
                                        "no inodes", "no space"};
    return names[static_cast<int>(k)];
}

void check_all(std::initializer_list<Kind> kinds) {
    for (const Writer& w : kWriters) {
        for (Kind k : kinds) {
            SCOPED_TRACE(std::string(w.label) + " / " + kind_name(k));
            check(w, k);
        }
    }
}

}  // namespace

TEST(OutputKinds, EveryWriterEveryKind) {
    check_all({Kind::regular, Kind::read_only, Kind::symlink, Kind::dangling, Kind::fifo,
               Kind::dev_null, Kind::dev_stdout, Kind::ro_folder, Kind::long_name, Kind::stale,
               Kind::file_limit});
}

TEST(OutputKinds, FullFileSystems) {
    ScratchDir probe;
    if (!SmallTmpfs(probe / "t", "size=16k").mounted())
        GTEST_SKIP() << "no tmpfs can be mounted here (needs root)";
    check_all({Kind::no_inodes, Kind::no_space});
}

// The file is synced before the rename and its folder after it: a failure of the
// first keeps the earlier file, a failure of the second is still reported.
TEST(OutputKinds, SyncFailuresAreWriteFailures) {
    for (const Writer& w : kWriters) {
        for (const long after : {0L, 1L, 2L}) {
            SCOPED_TRACE(std::string(w.label) + " / fsync call " + std::to_string(after));
            ScratchDir dir;
            const std::string file = std::string("out") + w.ext;
            const std::string given = w.given_with_ext ? file : "out";
            prepare_inputs(dir, given);
            write_file(dir / file, kOld);
            const KqcRun r = run_in(dir, fault_env("fsync", after, "EIO") + fill(w.command, given));
            if (after == 2) {  // two calls only: nothing fails
                EXPECT_EQ(r.status, 0) << r.err;
                EXPECT_NE(read_file(dir / file), kOld);
            } else {
                EXPECT_EQ(r.status, w.fail_status) << r.err;
                EXPECT_NE(r.err.find(fill(w.failed, given)), std::string::npos) << r.err;
                EXPECT_EQ(read_file(dir / file) == kOld, after == 0);
            }
            EXPECT_EQ(temporaries(dir.path()), 0);
        }
    }
}

// SIGINT, SIGTERM and SIGHUP at random moments of a large write end the program by
// that signal; the earlier file is then whole and no temporary is left.
TEST(OutputKinds, SignalsLeaveNoTemporary) {
    std::mt19937 rng(7);
    int caught = 0;  // runs the signal ended
    const std::string big = "create a -s 0 0 2000 1500\nclear a -rgba 1 0.5 0.25 1\n";
    for (const Writer& w : kWriters) {
        const std::string label = w.label;
        if (label == "writedump" || label == "writeyuv") continue;  // the same path as write
        for (const int sig : {SIGINT, SIGTERM, SIGHUP}) {
            SCOPED_TRACE(label + " / signal " + std::to_string(sig));
            ScratchDir dir;
            const std::string file = std::string("out") + w.ext;
            prepare_inputs(dir, w.given_with_ext ? file : "out");
            write_file(dir / "w.kqc", big + "write a out\n");
            if (label != "write") {  // a large source picture
                ASSERT_EQ(run_in(dir, "'" KQC_PATH "' -s w.kqc && mv out.tkq p.tkq").status, 0);
            }
            write_file(dir / file, kOld);
            const std::string command = fill(w.command, w.given_with_ext ? file : "out");
            const pid_t pid = fork();
            ASSERT_GE(pid, 0);
            if (pid == 0) {
                if (chdir(dir.path().c_str()) != 0) _exit(127);
                execl("/bin/sh", "sh", "-c", ("exec " + command + " 2>/dev/null").c_str(),
                      static_cast<char*>(nullptr));
                _exit(127);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20 + rng() % 200));
            kill(pid, sig);
            int status = 0;
            waitpid(pid, &status, 0);
            if (WIFSIGNALED(status)) {
                ++caught;
                EXPECT_EQ(WTERMSIG(status), sig);
                EXPECT_EQ(read_file(dir / file), kOld);
            } else {
                EXPECT_EQ(WEXITSTATUS(status), 0);  // it finished first
            }
            EXPECT_EQ(temporaries(dir.path()), 0);
        }
    }
    EXPECT_GT(caught, 0) << "no write was caught in progress";
}

// With standard output closed, no picture takes descriptor 1: later output to
// standard output does not land in a stored picture.
TEST(OutputKinds, ClosedStandardOutput) {
    ScratchDir dir;
    write_file(dir / "t.kqc", kScript + "write a out\n! echo into the picture?\nwrite a STDOUT\n" +
                                  "write a same\n");
    const KqcRun r = run_in(dir, "'" KQC_PATH "' -s t.kqc >&-");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(fs::file_size(dir / "out.tkq"), 128u + 128u * 96u * 4u);
    EXPECT_EQ(read_file(dir / "out.tkq"), read_file(dir / "same.tkq"));
}
