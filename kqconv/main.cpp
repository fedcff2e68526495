// kqconv: converts pictures between .tkq and the formats of its format table.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "kqconv/convert.h"
#include "kqconv/formats.h"

namespace {

void usage() {
    std::fputs(
        "Usage : kqconv [-options] inFile outFile\n"
        "        kqconv --info inFile\n"
        "[options]\n"
        " --straight : copy colour samples unchanged (no premultiply / un-premultiply)\n"
        " --rgba : four planes (an opaque alpha where the picture has none)\n"
        " --rgb : three planes (alpha dropped: the picture over black)\n"
        " --grey : one plane ((77 R + 151 G + 28 B) >> 8 of the picture over black)\n"
        " --to fmt : write format fmt (a word of the table below)\n"
        "            (otherwise taken from outFile's extension; tkq for standard output)\n"
        " --level n : PNG and TIFF zlib level, WebP lossless effort, 0 ~ 9;\n"
        "             for .wf input the one map level\n"
        " --threads n : PNG compression threads (0: one per core); WebP one thread with 1\n"
        " --quality n : JPEG quality 1 ~ 100; WebP lossy at this quality (else lossless)\n"
        " --linear : OpenEXR and HDR samples as they are, without the sRGB transfer\n"
        " --info : the format and size of inFile (and a .wf file's header fields)\n"
        " --version : the version\n"
        " --max-pixels n : refuse pictures of more than n pixels, and inputs longer than\n"
        "                  such a picture can be (0: as many as memory allows)\n"
        " -h : this text\n"
        "[Formats] (in: recognised by their first bytes; out: by extension or --to)\n",
        stderr);
    for (const FormatRow* r = kFormats; r->name; ++r)
        std::fprintf(stderr, " %-16s %-3s %-4s %s\n", r->words, r->read ? "in" : "", 
                     r->write || r->id == Format::tkq ? "out" : "", r->keeps);
    std::fputs(
        " - as inFile reads standard input, as outFile writes standard output\n"
        "[Default]\n"
        " --level 6 --threads 0 --quality 90 --max-pixels 0\n",
        stderr);
}

bool number_arg(int argc, char** argv, int& i, long lo, long hi, int& to) {
    if (++i == argc) return false;
    char* end = nullptr;
    const long v = std::strtol(argv[i], &end, 10);
    if (*argv[i] == 0 || *end || v < lo || v > hi) return false;
    to = int(v);
    return true;
}

int usage_error(const char* what) {
    std::fprintf(stderr, "ERROR : %s\n", what);
    usage();
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    out_start_process();
    ConvertOptions opt;
    bool info = false;
    const char* names[2] = {nullptr, nullptr};
    int count = 0;
    for (int i = 1; i < argc; ++i) {
        const char* a = argv[i];
        if (!std::strcmp(a, "-h") || !std::strcmp(a, "-H") || !std::strcmp(a, "--help")) {
            usage();
            return 0;
        } else if (!std::strcmp(a, "--straight")) {
            opt.straight = true;
        } else if (!std::strcmp(a, "--version")) {
            std::printf("kqconv %s\n", KQ_VERSION);
            return 0;
        } else if (!std::strcmp(a, "--info")) {
            info = true;
        } else if (!std::strcmp(a, "--rgba")) {
            opt.planes = Planes::rgba;
        } else if (!std::strcmp(a, "--rgb")) {
            opt.planes = Planes::rgb;
        } else if (!std::strcmp(a, "--grey") || !std::strcmp(a, "--gray")) {
            opt.planes = Planes::grey;
        } else if (!std::strcmp(a, "--linear")) {
            opt.linear = true;
        } else if (!std::strcmp(a, "--to")) {
            if (++i == argc) return usage_error("--to needs a format");
            opt.to = format_of_word(argv[i]);
            const FormatRow* row = format_row(opt.to);
            if (!row || (!row->write && opt.to != Format::tkq))
                return usage_error("unknown --to format");
        } else if (!std::strcmp(a, "--level")) {
            if (!number_arg(argc, argv, i, 0, 25, opt.level))
                return usage_error("--level is 0 ~ 9 (0 ~ 25 for .wf input)");
            opt.level_given = true;
        } else if (!std::strcmp(a, "--threads")) {
            if (!number_arg(argc, argv, i, 0, 64, opt.threads))
                return usage_error("--threads is 0 ~ 64");
        } else if (!std::strcmp(a, "--quality")) {
            if (!number_arg(argc, argv, i, 1, 100, opt.quality))
                return usage_error("--quality is 1 ~ 100");
            opt.quality_given = true;
        } else if (!std::strcmp(a, "--max-pixels")) {
            if (++i == argc) return usage_error("--max-pixels needs a number");
            char* end = nullptr;
            errno = 0;
            const long long v = std::strtoll(argv[i], &end, 10);
            if (*argv[i] == 0 || *end || v < 0 || errno == ERANGE)
                return usage_error("--max-pixels is a count of 0 or more");
            Picture::max_pixels = v;
        } else if (a[0] == '-' && a[1] != 0) {
            std::fprintf(stderr, "ERROR : unknown option %s\n", a);
            usage();
            return 1;
        } else if (count < 2) {
            names[count++] = a;
        } else {
            return usage_error("too many file names");
        }
    }
    if (info ? count != 1 : count != 2)
        return usage_error(info ? "give one inFile with --info" : "give inFile and outFile");
    try {
        if (info)
            print_info(names[0], stdout);
        else
            convert_file(names[0], names[1], opt);
    } catch (const ConvError& e) {
        std::fprintf(stderr, "ERROR : %s\n", e.what());
        return 1;
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "ERROR : %s : out of memory\n", names[0]);
        return 1;
    }
    return 0;
}
