// Script tests of kqc -e (the first failed line ends the run) and -k (run to the
// end, then fail when a line failed), and of the unknown-word hint at a terminal.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "tests/kqc_runner.h"

namespace fs = std::filesystem;

namespace {

const std::string kFatal = "\akqc : error exit\n";

// Three lines every case starts with: a 4-plane, a 3-plane and a 1-plane buffer.
const std::string kSetup =
    "create a -s 0 0 4 2\ncreate c3 -s 0 0 4 2 -c 3\ncreate g -s 0 0 4 2 -c 1\n";
constexpr int kFailingLine = 4;

void make_inputs(const ScratchDir& dir) {
    write_file(dir / "short.yuv", std::string(8, '\x80'));  // one row of a 4 x 2 frame
    write_file(dir / "cut.txt", "1 1\nend\n3 3\n");  // stops at line 2, 3 3 unread
    write_file(dir / "fine.txt", "1 1 # first\n2 2 c 1 0 0 1\n\n# the end\n\n");
    write_file(dir / "inc.kqc", "create b\nread nosuch.tkq b\n");
}

}  // namespace

// Every kind of failed line: under -e the run stops on it (the next line, which
// would make the file "after", never runs), under -k it is counted and the run
// goes on, and without either the run goes on to status 0 as it always did.
TEST(StrictMode, EveryFailureStopsTheRun) {
    const std::string long_name(600, 'x');
    struct Case {
        std::string line;     // line 4 of the script
        std::string message;  // what comes before the failure report
        std::string report;   // the failure report; empty: the execution-error report
        std::string faults;   // shell prefix for injected write failures
    };
    const Case cases[] = {
        // A handler that returns 0: an operation's refusal, an argument error.
        {"over c3 a a", "WARNING : component type missing (operation=over)\n", "", ""},
        {"quit now", "ERROR : Invalid argment\nUsage : quit\n", "", ""},
        {"dotfile nosuch.txt a", "WARNING : Can't find dotfile (name=nosuch.txt)\n", "", ""},
        // read and write report success after their argument check.
        {"read nosuch.tkq b", "ERROR : Can't open nosuch.tkq\n", "", ""},
        {"read " + long_name + " b",
         "ERROR : too long pix name " + long_name + " (currentMax=512)\n", "", ""},
        {"write nosuch out", "WARNING : Can't find buff (name=nosuch)\n", "", ""},
        // So do readyuv, writeyuv and writedump.
        {"readyuv nosuch.yuv y", "ERROR : Can't open yuv data nosuch.yuv\n", "", ""},
        {"readyuv -s 4 2 short.yuv y", "WARNING : can't read yuv data (scanline #0)\n", "", ""},
        {"readyuv -s 3 2 short.yuv y",
         "ERROR : You have to use even sizeX pixel count\n        now define is 3 Xpixel\n", "",
         ""},
        {"writeyuv g o.yuv",
         "ERROR : Can't convert to yuv format\n        g is 1 component\n"
         "        Could you change 3 or more plane data\n",
         "", ""},
        {"writeyuv a nodir/o.yuv", "ERROR : Can't create yuv data nodir/o.yuv\n", "", ""},
        {"writeyuv a o.yuv", "ERROR : Can't write yuv o.yuv\n", "", fault_env("write", 0)},
        {"writedump -rgba c3 o.raw",
         "WARNING : This buffer has rgb component (buff:c3)\n"
         "          Can't write rgba color component data\n",
         "", ""},
        {"writedump a nodir/o.raw", "WARNING : Can't create nodir/o.raw\n", "", ""},
        {"writedump a o.raw", "ERROR : Can't output scanline data (outname:o.raw y=1)\n", "",
         fault_env("write", 0)},
        // A plane key letter that copy ignores; a dot file that stops with dots
        // unread; a shell command that fails.
        {"copy -p rgx a c3", "WARNING : copy ignores the letter x of plane key rgx\n", "", ""},
        {"dotfile cut.txt a", "WARNING : dotfile cut.txt stops at line 2, the rest is not read\n",
         "", ""},
        {"!exit 3", "ERROR : unix command exit status 3\n", "", ""},
        // A word that names no command.
        {"ovr a a a", "",
         "\aERROR : Unknown command ovr\nERROR : file = t.kqc, lineNo. = 4\n"
         "      : com = \"ovr a a a\"\n",
         ""},
        // A failure inside an included script is reported there.
        {"include inc.kqc", "ERROR : Can't open nosuch.tkq\n",
         exec_error(2, "read nosuch.tkq b", "inc.kqc"), ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line.substr(0, 40));
        const std::string script = kSetup + c.line + "\n!touch after\n";
        const std::string report = c.report.empty() ? exec_error(kFailingLine, c.line) : c.report;
        const std::string tail = c.message + report;

        ScratchDir dir;
        make_inputs(dir);
        KqcRun r = run_kqc_in(dir, script, {"-s", "-e"}, "", c.faults);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, tail + kFatal);
        EXPECT_FALSE(fs::exists(dir / "after"));

        r = run_kqc_in(dir, script, {"-k", "-s"}, "", c.faults);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, tail + "ERROR : 1 command line(s) failed\n" + kFatal);
        EXPECT_TRUE(fs::exists(dir / "after"));

        fs::remove(dir / "after");
        r = run_kqc_in(dir, script, {"-s"}, "", c.faults);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.err.find("kqc : error exit"), std::string::npos) << r.err;
        EXPECT_TRUE(fs::exists(dir / "after"));
    }
}

TEST(StrictMode, SuccessfulLinesStaySilent) {
    // Lines that do all they were asked, including the warn-free edge cases that
    // write nothing, pass -e and -k without a word.
    ScratchDir dir;
    make_inputs(dir);
    const std::string script = kSetup +
                               "dotfile fine.txt a\n!true\ncopy -p rg a c3\n"
                               "writeyuv a o.yuv\nreadyuv -s 4 2 o.yuv y\nclear c3 -a 1\n"
                               "write a out\nread out b\nwritedump a o.raw\n# end\n";
    for (const char* opt : {"-e", "-k"}) {
        const KqcRun r = run_kqc_in(dir, script, {opt, "-s"});
        EXPECT_EQ(r.status, 0) << opt;
        EXPECT_EQ(r.err, "") << opt;
    }
}

TEST(StrictMode, KeepGoingCountsAndOptionDump) {
    // -k counts every failed line, in included scripts too; the option dump lists
    // -e and -k only when they are given.
    ScratchDir dir;
    make_inputs(dir);
    KqcRun r = run_kqc_in(dir, "nosuch\ninclude inc.kqc\nwrite q x\ndispose q\nquit\nnosuch\n",
                          {"-k", "-s", "-v"});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(r.err.starts_with(
        "\n======== option dump ========\n  in file : t.kqc\n       -s : on\n"
        "       -m : off\n       -v : on\n       -t : off\n       -k : on\n\n"))
        << r.err;
    EXPECT_NE(r.err.find("include inc.kqc finish\n"), std::string::npos);
    EXPECT_TRUE(r.err.ends_with("ERROR : 4 command line(s) failed\n" + kFatal)) << r.err;

    // A difference report that cannot be written: standard output is a full device.
    write_file(dir / "d.kqc", "create a -s 0 0 2 2\ncreate b -s 0 0 2 2\nclear b -r 1\ndiff a b\n");
    r = run_in(dir, std::string("sh -c \"'") + KQC_PATH + "' -e d.kqc > /dev/full\"");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "ERROR : Can't write the difference report\n" +
                         exec_error(4, "diff a b", "d.kqc") + kFatal);

    r = run_kqc_in(dir, "\n", {"-e", "-v", "-s", "-k", "-e"});
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.err.find("       -t : off\n       -e : on\n       -k : on\n\n"),
              std::string::npos);
}

// The hint for an unknown word appears only when it was typed at a terminal: kqc
// runs with a pseudo-terminal as its standard input.
TEST(StrictMode, UnknownWordHintOnlyAtATerminal) {
    const int probe = posix_openpt(O_RDWR | O_NOCTTY);
    if (probe < 0) GTEST_SKIP() << "no pseudo-terminals here";
    close(probe);
    auto at_terminal = [](const std::vector<std::string>& args, const std::string& typed) {
        ScratchDir dir;
        const int master = posix_openpt(O_RDWR | O_NOCTTY);
        EXPECT_TRUE(master >= 0 && grantpt(master) == 0 && unlockpt(master) == 0);
        const std::string slave = ptsname(master);
        const std::string err_path = (dir / "err").string();
        std::vector<char*> argv{const_cast<char*>(KQC_PATH)};
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        const pid_t pid = fork();
        if (pid == 0) {
            close(master);
            setsid();
            const int tty = open(slave.c_str(), O_RDWR);
            const int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            if (tty < 0 || err < 0) _exit(99);
            dup2(tty, 0);
            dup2(err, 1);
            dup2(err, 2);
            execv(KQC_PATH, argv.data());
            _exit(98);
        }
        const std::string input = typed + "quit\n";
        EXPECT_EQ(write(master, input.data(), input.size()), ssize_t(input.size()));
        int status = 0;
        for (int waited = 0; waitpid(pid, &status, WNOHANG) == 0; ++waited) {
            if (waited == 1000) {  // ten seconds
                ADD_FAILURE() << "kqc did not end";
                kill(pid, SIGKILL);
                waitpid(pid, &status, 0);
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        close(master);
        return read_file(dir / "err");
    };
    const std::string hint = "WARNING : unknown command ovr (help lists the commands)\n";
    EXPECT_EQ(at_terminal({}, "ovr a b c\n"), "(kqc) " + hint + "(kqc) ");
    // Without a prompt (-s), or from a pipe, the word is ignored silently.
    EXPECT_EQ(at_terminal({"-s"}, "ovr a b c\n"), "");
    EXPECT_EQ(run_kqc("", {}, "ovr a b c\n").err, "(kqc) (kqc) ");
}

#ifdef KQCONV_PATH
#include <jpeglib.h>

#include <vector>

#include "kqconv/convert.h"

// kqconv exits 1 after every failure; a JPEG whose coded data is damaged is one,
// not a picture with grey blocks. The damage: a run of stuffed 0xff bytes, all
// one-bits, which no Huffman table can decode.
TEST(StrictMode, KqconvRefusesDamagedJpegData) {
    constexpr int kSize = 64;
    std::vector<uint8_t> pixels(kSize * kSize * 3);
    for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = uint8_t(i * 37 % 251);
    jpeg_compress_struct c{};
    jpeg_error_mgr err{};
    c.err = jpeg_std_error(&err);
    jpeg_create_compress(&c);
    unsigned char* out = nullptr;
    unsigned long out_size = 0;
    jpeg_mem_dest(&c, &out, &out_size);
    c.image_width = c.image_height = kSize;
    c.input_components = 3;
    c.in_color_space = JCS_RGB;
    jpeg_set_defaults(&c);
    jpeg_start_compress(&c, TRUE);
    while (c.next_scanline < c.image_height) {
        JSAMPROW row = pixels.data() + c.next_scanline * kSize * 3;
        jpeg_write_scanlines(&c, &row, 1);
    }
    jpeg_finish_compress(&c);
    std::vector<uint8_t> file(out, out + out_size);
    jpeg_destroy_compress(&c);
    std::free(out);

    EXPECT_EQ(read_jpeg(file).width, kSize);
    // The coded data begins after the start-of-scan segment (ff da, its length).
    size_t sos = 2;
    while (sos + 3 < file.size() && !(file[sos] == 0xff && file[sos + 1] == 0xda)) ++sos;
    const size_t data = sos + 2 + (size_t(file[sos + 2]) << 8 | file[sos + 3]);
    ASSERT_LT(data + 64, file.size());
    for (size_t i = data; i < data + 64; i += 2) {
        file[i] = 0xff;
        file[i + 1] = 0x00;
    }
    try {
        read_jpeg(file);
        ADD_FAILURE() << "damaged JPEG data was accepted";
    } catch (const ConvError& e) {
        EXPECT_STREQ(e.what(), "bad JPEG: Corrupt JPEG data: bad Huffman code");
    }
}
#endif  // KQCONV_PATH
