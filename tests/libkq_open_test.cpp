// libkq opening and naming: the extension search, standard input and output, the
// overwrite policy, safe replacement of pictures, converters and the banner.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <algorithm>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "libkq/kq.h"
#include "tests/kqc_runner.h"

namespace fs = std::filesystem;

namespace {

// A valid 8-bit picture of w x h whose bytes are all `fill`.
std::string picture(int w, int h, char fill) {
    char text[129];
    std::snprintf(text, sizeof text, "2Bkq16   %7d %7d %7d %7d %7d %7d %7d %c 0x%2x", 8, 0, 0, w,
                  h, 1, 1, 'B', 1);
    std::string hdr = text;
    hdr += '\0';
    hdr.resize(128, ' ');
    return hdr + std::string(size_t(w) * h, fill);
}

std::vector<std::string> listing(const ScratchDir& dir) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir.path())) names.push_back(e.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

// Opens and returns the error code (0 on success, the handle then freed).
int open_code(const std::string& name) {
    KQ_DATA* kq = kq_ropen(name.c_str());
    if (!kq) return kq_errno;
    kq_free(kq);
    return 0;
}

std::string resolved(const std::string& name, int* kind) {
    char* file = nullptr;
    kq__resolve_name(name.c_str(), &file, kind);
    std::string s = file;
    free(file);
    return s;
}

// Writes a 2 x 2 8-bit picture of `fill` through kq_wopen; returns kq_errno.
int write_picture_file(const std::string& name, char fill, std::string* opened = nullptr) {
    KQ_DATA* kq = kq_alloc();
    kq_set_format(kq, 2, 2, 8, 'B', 1);
    kq_set_aspect(kq, 1, 1);
    if (!kq_wopen(name.c_str(), kq)) {
        const int code = kq_errno;
        if (opened && kq->name) *opened = kq->name;
        kq_free(kq);
        return code;
    }
    if (opened) *opened = kq->name;
    unsigned char line[2] = {static_cast<unsigned char>(fill), static_cast<unsigned char>(fill)};
    kq_write_scanline(kq, line);
    kq_write_scanline(kq, line);
    const int ok = kq_close(kq);
    kq_free(kq);
    return ok ? 0 : kq_errno;
}

struct Cwd {
    std::string saved = fs::current_path();
    explicit Cwd(const fs::path& p) { fs::current_path(p); }
    ~Cwd() { fs::current_path(saved); }
};

}  // namespace

TEST(LibkqOpen, ResolvesNamesThroughTheExtensionTable) {
    ScratchDir dir;
    const std::string d = dir.path().string() + "/";
    int kind = -1;
    write_file(dir / "a.tkq", picture(2, 2, 'a'));
    EXPECT_EQ(resolved(d + "a", &kind), d + "a.tkq");
    EXPECT_EQ(kind, 0);
    EXPECT_EQ(open_code(d + "a"), 0);

    // An existing name is used as it is, read by its own extension.
    write_file(dir / "b.tiff", "x");
    EXPECT_EQ(resolved(d + "b.tiff", &kind), d + "b.tiff");
    EXPECT_EQ(kind, KQ_MODE_TIFF);

    // A missing ".tkq" name tries its own family first, then the whole table.
    write_file(dir / "c.tkq.Z", "x");
    write_file(dir / "c.pix", picture(1, 1, 'c'));
    EXPECT_EQ(resolved(d + "c.tkq", &kind), d + "c.tkq.Z");
    EXPECT_EQ(kind, KQ_MODE_ZCAT);
    EXPECT_EQ(resolved(d + "c", &kind), d + "c.pix");
    EXPECT_EQ(kind, 0);
    write_file(dir / "e.pix", picture(1, 1, 'e'));
    EXPECT_EQ(resolved(d + "e.tkq", &kind), d + "e.pix");
    EXPECT_EQ(open_code(d + "e.tkq"), 0);
    write_file(dir / "f.rla", "x");
    EXPECT_EQ(resolved(d + "f.pict", &kind), d + "f.rla");
    EXPECT_EQ(kind, KQ_MODE_RLA);

    // Nothing found: the name itself, which then cannot be opened.
    EXPECT_EQ(resolved(d + "none.tkq", &kind), d + "none.tkq");
    EXPECT_EQ(kind, 0);
    EXPECT_EQ(open_code(d + "none.tkq"), KQ_ERR_OPEN);
    EXPECT_EQ(open_code(d + "stdin"), KQ_ERR_OPEN);  // only "STDIN" is special
}

TEST(LibkqOpen, ConvertersPrintTheirLineAndRefuse) {
    ScratchDir dir;
    const std::string d = dir.path().string() + "/";
    for (const char* n : {"z.tkq.gz", "t.tiff", "p.pict", "r.rla", "o.tkq.Z"})
        write_file(dir / n, picture(1, 1, 'x'));
    struct Case {
        std::string name;
        int code;
        const char* line;
    } cases[] = {
        {d + "z.tkq.gz", 5, "WINNT libkq-open-kq__ropen_Zcat() unimplemented\n"},
        {d + "o", 5, "WINNT libkq-open-kq__ropen_Zcat() unimplemented\n"},
        {d + "t.tiff", 6, "ERROR: WINNT libkq-open-kq__ropen_TIFF_reader() unimplemented\n"},
        {d + "p.pict", 7, "ERROR: WINNT libkq-open-kq__ropen_PICT_reader() unimplemented\n"},
        {d + "r.rla", 8, "ERROR: WINNT libkq-open-kq__ropen_RLA_reader() unimplemented\n"},
    };
    for (const Case& c : cases) {
        testing::internal::CaptureStderr();
        EXPECT_EQ(kq_ropen(c.name.c_str()), nullptr);
        const int code = kq_errno;
        EXPECT_EQ(testing::internal::GetCapturedStderr(), c.line) << c.name;
        EXPECT_EQ(code, c.code) << c.name;
        EXPECT_STREQ(kq_errlist[code], c.code == 5   ? "Can't fork 'zcat' prosess"
                                       : c.code == 6 ? "Can't fork TIFF file converter"
                                       : c.code == 7 ? "Can't fork PICT file converter"
                                                     : "Can't fork RLA file converter");
    }
}

TEST(LibkqOpen, NameLimitsAndBadPictures) {
    ScratchDir dir;
    EXPECT_EQ(kq_ropen(nullptr), nullptr);
    EXPECT_EQ(kq_errno, KQ_ERR_NULL_NAME);
    EXPECT_EQ(open_code(std::string(4070, 'n')), KQ_ERR_OPEN);
    EXPECT_EQ(open_code(std::string(4071, 'n')), KQ_ERR_LONG_NAME);

    const std::string d = dir.path().string() + "/";
    write_file(dir / "short.tkq", picture(4, 4, 'x').substr(0, 100));
    EXPECT_EQ(open_code(d + "short.tkq"), KQ_ERR_GET_HEADER);
    write_file(dir / "junk.tkq", std::string(300, 'j'));
    EXPECT_EQ(open_code(d + "junk.tkq"), KQ_ERR_READ_HEADER);
    std::string bad = picture(4, 4, 'x');
    bad[4] = '2';
    write_file(dir / "v.tkq", bad);
    EXPECT_EQ(open_code(d + "v.tkq"), KQ_ERR_VERSION);
    std::string huge = picture(1, 1, 'x');
    huge.replace(33, 15, "  32768   65536");  // 2 GiB of 8-bit pixels
    write_file(dir / "huge.tkq", huge);
    EXPECT_EQ(open_code(d + "huge.tkq"), KQ_ERR_BAD_SIZE);
    EXPECT_EQ(open_code(d + "short"), KQ_ERR_GET_HEADER);  // found as short.tkq
}

TEST(LibkqOpen, ReadsStandardInput) {
    ScratchDir dir;
    write_file(dir / "in.tkq", picture(3, 1, 'q'));
    const int saved = dup(0);
    const int file = open((dir / "in.tkq").c_str(), O_RDONLY);
    ASSERT_GE(file, 0);
    dup2(file, 0);
    close(file);
    KQ_DATA* kq = kq_ropen("STDIN");
    ASSERT_NE(kq, nullptr);
    EXPECT_STREQ(kq->name, "STDIN");
    EXPECT_EQ(kq->fd, 0);
    EXPECT_EQ(kq->size_x, 3);
    unsigned char line[3];
    EXPECT_TRUE(kq_read_scanline(kq, line));
    EXPECT_EQ(line[2], 'q');
    kq_free(kq);
    EXPECT_NE(fcntl(0, F_GETFD), -1);  // standard input stays open
    dup2(saved, 0);
    close(saved);
}

TEST(LibkqWrite, CompletesNamesWithTheExtension) {
    ScratchDir dir;
    Cwd here(dir.path());
    std::string name;
    EXPECT_EQ(write_picture_file("x", 'a', &name), 0);
    EXPECT_EQ(name, "x.tkq");
    EXPECT_EQ(write_picture_file("y.pix", 'a', &name), 0);
    EXPECT_EQ(name, "y.pix.tkq");
    EXPECT_EQ(write_picture_file("z.tkq", 'a', &name), 0);
    EXPECT_EQ(name, "z.tkq");
    EXPECT_EQ(write_picture_file(".tkq", 'a', &name), 0);
    EXPECT_EQ(name, ".tkq.tkq");
    EXPECT_EQ(listing(dir), (std::vector<std::string>{".tkq.tkq", "x.tkq", "y.pix.tkq", "z.tkq"}));
    EXPECT_EQ(read_file("x.tkq"), picture(2, 2, 'a'));
    KQ_DATA* kq = kq_alloc();
    EXPECT_FALSE(kq_wopen(nullptr, kq));
    EXPECT_EQ(kq_errno, KQ_ERR_NULL_NAME);
    EXPECT_FALSE(kq_wopen("no/such/folder/x", kq));
    EXPECT_EQ(kq_errno, KQ_ERR_OPEN);
    EXPECT_STREQ(kq->name, "no/such/folder/x.tkq");
    kq_free(kq);
}

TEST(LibkqWrite, OverwriteModesZeroAndTwo) {
    ScratchDir dir;
    const std::string path = (dir / "o.tkq").string();
    write_file(path, "old");
    kq_overwrite_mode = 2;
    EXPECT_EQ(write_picture_file(path, 'n'), KQ_ERR_EXIST);
    kq_overwrite_mode = 0;
    EXPECT_EQ(read_file(path), "old");
    EXPECT_EQ(write_picture_file(path, 'n'), 0);
    EXPECT_EQ(read_file(path), picture(2, 2, 'n'));
}

namespace {

struct Answer {
    int code;         // kq_errno of the write (0 when written)
    std::string err;  // what the question printed
};

// Runs a mode-1 write of `path` in a child whose standard input is `input`.
Answer ask(const ScratchDir& dir, const std::string& path, const std::string& input) {
    write_file(dir / "answers", input);
    const std::string err_path = (dir / "question").string();
    const pid_t child = fork();
    if (child == 0) {
        const int in = open((dir / "answers").c_str(), O_RDONLY);
        const int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(in, 0);
        dup2(err, 2);
        kq_overwrite_mode = 1;
        _exit(write_picture_file(path, 'y'));
    }
    int status = 0;
    waitpid(child, &status, 0);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, read_file(err_path)};
}

}  // namespace

TEST(LibkqWrite, OverwriteModeOneAsksOnTheTerminal) {
    ScratchDir dir;
    const std::string path = (dir / "q.tkq").string();
    const std::string question = "\aKQ_lib WARNING : " + path + " is already exist, Overwrite? (y/n) ";

    Answer a = ask(dir, path, "y\n");  // no file yet: nothing asked
    EXPECT_EQ(a.code, 0);
    EXPECT_EQ(a.err, "");
    write_file(path, "old");
    a = ask(dir, path, "no thanks\n");
    EXPECT_EQ(a.code, KQ_ERR_EXIST);
    EXPECT_EQ(a.err, question);
    EXPECT_EQ(read_file(path), "old");
    a = ask(dir, path, "N");
    EXPECT_EQ(a.code, KQ_ERR_EXIST);
    a = ask(dir, path, "");
    EXPECT_EQ(a.code, KQ_ERR_EXIST);
    EXPECT_EQ(a.err, question);
    a = ask(dir, path, "maybe");  // the line ends without an answer
    EXPECT_EQ(a.code, KQ_ERR_EXIST);
    a = ask(dir, path, "maybe\n\nYes please\n");
    EXPECT_EQ(a.code, 0);
    EXPECT_EQ(a.err, question + question + question);
    EXPECT_EQ(read_file(path), picture(2, 2, 'y'));
}

TEST(LibkqWrite, ReplacesOnlyWhenComplete) {
    ScratchDir dir;
    const std::string path = (dir / "safe.tkq").string();
    write_file(path, "old picture");
    chmod(path.c_str(), 0640);

    KQ_DATA* kq = kq_alloc();
    kq_set_format(kq, 2, 2, 8, 'B', 1);
    kq_set_aspect(kq, 1, 1);
    ASSERT_TRUE(kq_wopen(path.c_str(), kq));
    EXPECT_EQ(listing(dir).size(), 2u);  // the picture and its temporary
    unsigned char line[2] = {'n', 'n'};
    ASSERT_TRUE(kq_write_scanline(kq, line));
    EXPECT_EQ(read_file(path), "old picture");  // untouched while being written
    ASSERT_TRUE(kq_write_scanline(kq, line));
    ASSERT_TRUE(kq_close(kq));
    kq_free(kq);
    EXPECT_EQ(read_file(path), picture(2, 2, 'n'));
    EXPECT_EQ(listing(dir), (std::vector<std::string>{"safe.tkq"}));
    struct stat st {};
    stat(path.c_str(), &st);
    EXPECT_EQ(st.st_mode & 0777, 0640u);  // a replaced picture keeps its permissions

    // A failed scanline write leaves the old picture and no temporary.
    kq = kq_alloc();
    kq_set_format(kq, 2, 2, 8, 'B', 1);
    kq_set_aspect(kq, 1, 1);
    ASSERT_TRUE(kq_wopen(path.c_str(), kq));
    const int readonly = open("/dev/null", O_RDONLY);
    dup2(readonly, kq->fd);
    close(readonly);
    EXPECT_FALSE(kq_write_scanline(kq, line));
    EXPECT_EQ(kq_errno, KQ_ERR_WRITE_DATA);
    kq_close(kq);
    kq_free(kq);
    EXPECT_EQ(read_file(path), picture(2, 2, 'n'));
    EXPECT_EQ(listing(dir), (std::vector<std::string>{"safe.tkq"}));

    // A new picture is readable and writable by its owner only.
    const mode_t old_mask = umask(022);
    EXPECT_EQ(write_picture_file((dir / "new").string(), 'w'), 0);
    umask(old_mask);
    stat((dir / "new.tkq").c_str(), &st);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST(LibkqWrite, ExitDuringAWriteLeavesNoTemporary) {
    ScratchDir dir;
    const std::string path = (dir / "gone.tkq").string();
    write_file(path, "old picture");
    const pid_t child = fork();
    if (child == 0) {
        KQ_DATA* kq = kq_alloc();
        kq_set_format(kq, 2, 2, 8, 'B', 1);
        kq_set_aspect(kq, 1, 1);
        if (!kq_wopen(path.c_str(), kq)) _exit(3);
        unsigned char line[2] = {'n', 'n'};
        kq_write_scanline(kq, line);
        // As a fatal error would, through the exit hooks. quick_exit runs the same
        // hook without the libraries' exit-time destructors, which a forked child of
        // this multi-threaded test process cannot run safely (a format library waits
        // there for a thread the child does not have).
        std::quick_exit(1);
    }
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_EQ(WEXITSTATUS(status), 1);
    EXPECT_EQ(read_file(path), "old picture");
    EXPECT_EQ(listing(dir), (std::vector<std::string>{"gone.tkq"}));
}

TEST(LibkqWrite, WritesThroughASymbolicLink) {
    ScratchDir dir;
    fs::create_directory(dir / "real");
    write_file(dir / "real" / "pic.tkq", "old");
    fs::create_symlink(dir / "real" / "pic.tkq", dir / "link.tkq");
    EXPECT_EQ(write_picture_file((dir / "link.tkq").string(), 'L'), 0);
    EXPECT_TRUE(fs::is_symlink(dir / "link.tkq"));
    EXPECT_EQ(read_file(dir / "real" / "pic.tkq"), picture(2, 2, 'L'));
}

TEST(LibkqWrite, RefusesAnUnwritablePicture) {
    ScratchDir dir;
    fs::create_directory(dir / "d.tkq");
    EXPECT_EQ(write_picture_file((dir / "d.tkq").string(), 'x'), KQ_ERR_OPEN);
    EXPECT_TRUE(fs::is_directory(dir / "d.tkq"));
    EXPECT_EQ(listing(dir), (std::vector<std::string>{"d.tkq"}));
    if (geteuid() == 0) GTEST_SKIP() << "permissions do not bind the superuser";
    const std::string path = (dir / "ro.tkq").string();
    write_file(path, "old");
    chmod(path.c_str(), 0444);
    EXPECT_EQ(write_picture_file(path, 'x'), KQ_ERR_OPEN);
    EXPECT_EQ(read_file(path), "old");
}

TEST(LibkqWrite, StandardOutputIsWrittenDirectly) {
    ScratchDir dir;
    const std::string out = (dir / "stdout").string();
    fflush(stdout);
    const int saved = dup(1);
    const int file = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(file, 1);
    close(file);
    std::string name;
    const int code = write_picture_file("STDOUT", 'o', &name);
    dup2(saved, 1);
    close(saved);
    EXPECT_EQ(code, 0);
    EXPECT_EQ(name, "STDOUT");
    EXPECT_EQ(read_file(out), picture(2, 2, 'o'));
}

TEST(LibkqModule, BannerAndChildCheck) {
    testing::internal::CaptureStderr();
    kq_print_module();
    const std::string banner = testing::internal::GetCapturedStderr();
    EXPECT_EQ(banner.rfind("module = libkq\n  InitialVersion : ver 1.00 ", 0), 0u) << banner;
    EXPECT_NE(banner.find("\n  Version        : ver 3.01 Jul/16/96\n  CompileDate    : "),
              std::string::npos);
    EXPECT_NE(banner.find("\n  CompileMachine : "), std::string::npos);
    EXPECT_NE(banner.find("\n  CompileOS      : "), std::string::npos);
    EXPECT_NE(banner.find("\n  CompileUser    : "), std::string::npos);
    EXPECT_EQ(std::count(banner.begin(), banner.end(), '\n'), 7);

    KQ_DATA* kq = kq_alloc();
    testing::internal::CaptureStderr();
    kq__childProcessKill(kq);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    kq->child_pid = 42;
    testing::internal::CaptureStderr();
    kq_close(kq);
    kq->open_mode = KQ_MODE_WRITE;
    EXPECT_FALSE(kq_seek_scanline(kq, 0, 0));  // a refused seek checks too
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "ERROR: kq__childProcessKill() childPID not -1\n"
              "ERROR: kq__childProcessKill() childPID not -1\n");
    kq->child_pid = -1;
    kq_free(kq);
}
