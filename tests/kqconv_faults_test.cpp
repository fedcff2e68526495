// kqconv under hostile conditions: writes that fail part way or a rename that
// fails (through the preloaded fault library) never lose the earlier file nor
// leave a temporary, and damaged or inflated inputs are refused quickly.
#ifdef KQCONV_PATH

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>

#include "kqconv/convert.h"
#include "tests/kqc_runner.h"

namespace {

KqcRun run_kqconv(const ScratchDir& dir, const std::string& env, const std::string& args) {
    return run_in(dir, env + program(KQCONV_PATH) + " " + args);
}

std::string random_samples(size_t n) {
    std::mt19937 rng(13);
    std::string s(n, '\0');
    for (char& c : s) c = char(rng());
    return s;
}

}  // namespace

TEST(KqconvFaults, FailedWritesKeepTheEarlierFile) {
    struct Fault {
        const char* call;
        long after;
        const char* err;
        const char* why;  // the errno text in the PNG, PAM and PPM writers' messages
        const char* tkq;  // libkq's message
    };
    const Fault faults[] = {
        {"write", 0, "ENOSPC", "No space left on device", "Can't put picture header to disk"},
        {"write", 100, "EIO", "Input/output error", "Can't put picture header to disk"},
        {"write", 5000, "ENOSPC", "No space left on device", "Can't write packed pixel data"},
        {"rename", 0, "EIO", "Input/output error", "Can't write packed pixel data"},
    };
    ScratchDir dir;
    write_file(dir / "in.pam", "P7\nWIDTH 64\nHEIGHT 48\nDEPTH 3\nMAXVAL 255\nENDHDR\n" +
                                   random_samples(64 * 48 * 3));
    const std::string old = "the earlier file, kept byte for byte";
    for (const std::string out : {"out.png", "out.pam", "out.ppm", "out.tkq"}) {
        for (const Fault& f : faults) {
            SCOPED_TRACE(out + " / " + f.call + " " + std::to_string(f.after));
            write_file(dir / out, old);
            const KqcRun r = run_kqconv(dir, fault_env(f.call, f.after, f.err), "in.pam " + out);
            const std::string why = out == "out.tkq" ? f.tkq
                                    : std::string(f.call) == "rename"
                                        ? "can't replace (" + std::string(f.why) + ")"
                                        : "can't write (" + std::string(f.why) + ")";
            EXPECT_EQ(r.status, 1);
            EXPECT_EQ(r.err, "ERROR : " + out + " : " + why + "\n");
            EXPECT_EQ(read_file(dir / out), old);
            int files = 0;  // in.pam and the output: no temporary of either writer
            for (const auto& e : std::filesystem::directory_iterator(dir.path())) (void)e, ++files;
            EXPECT_EQ(files, 2);
            std::filesystem::remove(dir / out);
        }
    }
    // Without a fault the same runs replace the file.
    write_file(dir / "out.png", old);
    EXPECT_EQ(run_kqconv(dir, "", "in.pam out.png").status, 0);
    EXPECT_EQ(read_png(read_input((dir / "out.png").string())).width, 64);
}

// Small files that claim much more work than they hold end with a message at once.
TEST(KqconvFaults, InflatedInputsAreRefused) {
    const std::string jpeg =
        read_file(std::filesystem::path(KQ_SOURCE_DIR) / "tests/fuzz/corpus/jpeg/rgb_progressive.jpg");
    const size_t last_scan = jpeg.rfind("\xff\xda");
    const std::string scan = jpeg.substr(last_scan, jpeg.size() - 2 - last_scan);
    std::string many = jpeg.substr(0, jpeg.size() - 2);
    for (int i = 0; i < 600; ++i) many += scan;
    many += "\xff\xd9";
    // The first scan (header 14 bytes) keeps one byte of its data.
    const std::string cut = jpeg.substr(0, jpeg.find("\xff\xda") + 15) + "\xff\xd9";
    const struct {
        Picture (*reader)(Bytes);
        std::string bytes;
        const char* err;  // nullptr: read as a picture
    } cases[] = {
        {read_jpeg, jpeg, nullptr},
        {read_jpeg, many, "bad JPEG: more than 500 scans"},
        {read_jpeg, cut, "bad JPEG: Corrupt JPEG data: premature end of data segment"},
        {read_pnm, "P5\n800000 800000\n255\n", "picture too large for memory"},
        {read_pnm, "P7\nWIDTH 9999999\nHEIGHT 999999\nDEPTH 4\nMAXVAL 255\nENDHDR\n",
         "picture too large"},
    };
    for (const auto& c : cases) {
        const Bytes bytes(reinterpret_cast<const uint8_t*>(c.bytes.data()), c.bytes.size());
        try {
            const Picture pic = c.reader(bytes);
            EXPECT_EQ(c.err, nullptr);
            EXPECT_EQ(pic.width * pic.height * pic.channels, 19 * 13 * 3);
        } catch (const ConvError& e) {
            EXPECT_STREQ(e.what(), c.err ? c.err : "(reads)");
        }
    }
}

// Inputs without end or beyond what may be held: a device and pipes that are no
// picture stop at their first bytes; a picture header followed by endless data
// stops at --max-pixels or at the memory the address-space limit leaves.
TEST(KqconvFaults, EndlessInputsAreRefused) {
    ScratchDir dir;
    write_file(dir / "h.pgm", "P5\n10 10\n255\n");
    const std::string endless = "(cat h.pgm; cat /dev/zero) | ";
    const struct {
        std::string line;  // the shell line, kqconv's path as %
        std::string err;
    } cases[] = {
        {"% /dev/zero o.png", "ERROR : /dev/zero : not a picture (PNG, JPEG, PPM/PGM/PAM or tkq)\n"},
        {"yes | % - o.png",
         "ERROR : (standard input) : not a picture (PNG, JPEG, PPM/PGM/PAM or tkq)\n"},
        {endless + "% --max-pixels 1000 - o.png",
         "ERROR : (standard input) : input larger than --max-pixels allows\n"},
        {endless + "(ulimit -v 200000; % - o.png)",
         "ERROR : (standard input) : input too large for memory\n"},
        {"% --max-pixels 99 h.pgm o.png",
         "ERROR : h.pgm : picture larger than --max-pixels allows (10 x 10)\n"},
    };
    for (const auto& c : cases) {
        std::string line = c.line;
        line.replace(line.find('%'), 1, std::string("'") + KQCONV_PATH + "'");
        SCOPED_TRACE(line);
#if defined(__SANITIZE_ADDRESS__)
        if (line.find("ulimit") != std::string::npos) continue;  // no room for the shadow memory
#endif
        const KqcRun r = run_in(dir, "timeout 60 sh -c \"" + line + "\"");
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, c.err);
        EXPECT_FALSE(std::filesystem::exists(dir / "o.png"));
    }
    // Within the limit the picture converts.
    write_file(dir / "p.pgm", "P5\n10 10\n255\n" + std::string(100, 'x'));
    EXPECT_EQ(run_kqconv(dir, "", "--max-pixels 100 p.pgm o.png").status, 0);
}

// Under an address-space limit a conversion completes or ends with a message and
// status 1, never in an abort: the limits sweep across the point where the picture
// fits but the PNG bands' threads and buffers do not.
TEST(KqconvFaults, MemoryLimitsEndInMessages) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "an address-space limit cannot hold the sanitizer's shadow memory";
#else
    if (under_emulator()) GTEST_SKIP() << kNoLimitsUnderEmulator;
    ScratchDir dir;
    write_file(dir / "in.pam", "P7\nWIDTH 1024\nHEIGHT 1024\nDEPTH 4\nMAXVAL 255\nENDHDR\n" +
                                   random_samples(1024 * 1024 * 4));
    ASSERT_EQ(run_kqconv(dir, "", "in.pam in.tkq").status, 0);
    ASSERT_EQ(run_kqconv(dir, "", "in.pam in.png").status, 0);
    for (const char* args : {"--threads 2 in.tkq o.png", "--threads 2 in.pam o.png", "in.png o.tkq"})
        for (int mb = 14; mb <= 46; mb += 4) {
            SCOPED_TRACE(std::string(args) + " at " + std::to_string(mb) + " MB");
            const KqcRun r = run_kqconv(dir, "ulimit -v " + std::to_string(mb * 1024) + "; timeout 60 ", args);
            ASSERT_TRUE(r.status == 0 || r.status == 1) << r.status << r.err;
            if (r.status == 1) {
                EXPECT_EQ(r.err.rfind("ERROR : ", 0), 0u) << r.err;
            }
        }
#endif
}

// A file that shrinks while it is read ends as a damaged picture, never in SIGBUS.
TEST(KqconvFaults, InputShrinkingWhileRead) {
    ScratchDir dir;
    const std::string pgm = "P5\n4000 4000\n255\n" + std::string(16000000, 'x');
    for (int attempt = 0; attempt < 4; ++attempt) {
        write_file(dir / "big.pgm", pgm);
        const KqcRun r = run_in(dir, std::string("'") + KQCONV_PATH +
                                         "' big.pgm o.tkq & sleep 0.0" + std::to_string(attempt) +
                                         "; : > big.pgm; wait $!");
        EXPECT_TRUE(r.status == 0 || r.status == 1) << r.status << r.err;
    }
}

#ifdef KQCONV_OIIO
// OpenImageIO's libraries are loaded only for their own formats: the other formats
// convert without the module, never map those libraries, and fit in an address space
// too small for them; a format of the family says which module kqconv could not load.
// The module is found beside the program or in ../lib/kq, as installed.
TEST(KqconvFaults, OpenImageIOOnlyForItsFormats) {
    namespace fs = std::filesystem;
    ScratchDir dir;
    const fs::path root = fs::canonical(dir.path());
    const fs::path built = KQCONV_PATH;
    for (const char* place : {"alone", "odd", "inst/bin", "inst/lib/kq"}) fs::create_directories(root / place);
    for (const char* place : {"alone", "odd", "inst/bin"}) fs::copy_file(built, root / place / "kqconv");
    fs::copy_file(built.parent_path() / KQCONV_OIIO_MODULE, root / "inst/lib/kq" / KQCONV_OIIO_MODULE);
    write_file(root / "odd" / KQCONV_OIIO_MODULE, std::string(100, 'x'));
    write_file(dir / "in.pam", "P7\nWIDTH 64\nHEIGHT 48\nDEPTH 4\nMAXVAL 255\nENDHDR\n" +
                                   random_samples(64 * 48 * 4));
    const std::string conv = program(KQCONV_PATH) + " ";
    KqcRun r = run_in(dir, conv + "in.pam a.png && " + conv + "--rgb in.pam a.jpg && " + conv +
                               "in.pam a.tif && " + conv + "in.pam a.tkq && " + conv + "in.pam a.tga");
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string missing = "this format needs kqconv's OpenImageIO module (" +
                                (root / "alone" / KQCONV_OIIO_MODULE).string() + " or " +
                                (root / "lib/kq" / KQCONV_OIIO_MODULE).string() + ")\n";
    const std::string odd = "this format needs kqconv's OpenImageIO module, which can't be loaded (" +
                            (root / "odd" / KQCONV_OIIO_MODULE).string() + ": invalid ELF header)\n";
    const struct {
        const char* prog;  // the copy of kqconv that runs
        const char* args;
        std::string err;   // empty: converts, and the built kqconv does so without the libraries
    } cases[] = {
        {"alone", "a.png b.tkq", ""},
        {"alone", "--threads 2 a.tkq b.png", ""},  // two threads' stacks whatever the cores
        {"alone", "a.jpg b.ppm", ""},
        {"alone", "a.tif b.pam", ""},
        {"alone", "a.tkq b.tif", ""},
        {"alone", "in.pam b.tga", "ERROR : b.tga : " + missing},
        {"alone", "a.tga b.png", "ERROR : a.tga : " + missing},
        {"odd", "a.tga b.png", "ERROR : a.tga : " + odd},
        {"inst/bin", "a.tga b.png", ""},
    };
#if defined(__SANITIZE_ADDRESS__)
    const std::string limit;  // no room for the shadow memory under a limit
#else
    const std::string limit = under_emulator() ? "" : "ulimit -v 100000; ";
#endif
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.prog) + " " + c.args);
        r = run_in(dir, program((root / c.prog / "kqconv").string()) + " " + c.args);
        EXPECT_EQ(r.status, c.err.empty() ? 0 : 1);
        EXPECT_EQ(r.err, c.err);
        if (!c.err.empty() || std::string(c.prog) != "alone") continue;
        r = run_in(dir, "(" + limit + "LD_DEBUG=files " + conv + c.args + ")");
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.err.find("libOpenImageIO"), std::string::npos);
    }
    // The check itself sees the libraries where they are loaded.
    r = run_in(dir, "LD_DEBUG=files " + conv + "a.tga b.png");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("libOpenImageIO"), std::string::npos);
}
#endif  // KQCONV_OIIO

#endif  // KQCONV_PATH
