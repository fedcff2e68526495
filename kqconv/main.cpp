// kqconv: converts pictures between .tkq and PNG, JPEG, PPM/PGM and PAM.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "kqconv/convert.h"

namespace {

void usage() {
    std::fputs(
        "Usage : kqconv [-options] inFile outFile\n"
        "[options]\n"
        " --straight : copy colour samples unchanged (no premultiply / un-premultiply)\n"
        " --to fmt : write format fmt: png, tkq, ppm, pgm, pnm or pam\n"
        "            (otherwise taken from outFile's extension; tkq for standard output)\n"
        " --level n : PNG zlib compression level 0 ~ 9\n"
        " --threads n : PNG compression threads (0: one per core)\n"
        " --max-pixels n : refuse pictures of more than n pixels, and inputs longer than\n"
        "                  such a picture can be (0: as many as memory allows)\n"
        " -h : this text\n"
        "[Formats]\n"
        " in  : PNG (grey, grey+alpha, RGB, RGBA, palette; 1 ~ 16 bit), JPEG (grey, colour),\n"
        "       PGM/PPM (P5, P6), PAM (P7), tkq (every bit length, frames and fields);\n"
        "       recognised by their first bytes\n"
        " out : PNG (8 bit), PGM/PPM/PNM, PAM, tkq (8, 24 or 32 bit frames)\n"
        " - as inFile reads standard input, as outFile writes standard output\n"
        "[Default]\n"
        " --level 6 --threads 0 --max-pixels 0\n",
        stderr);
}

int usage_error(const char* what) {
    std::fprintf(stderr, "ERROR : %s\n", what);
    usage();
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    ConvertOptions opt;
    const char* names[2] = {nullptr, nullptr};
    int count = 0;
    for (int i = 1; i < argc; ++i) {
        const char* a = argv[i];
        if (!std::strcmp(a, "-h") || !std::strcmp(a, "-H") || !std::strcmp(a, "--help")) {
            usage();
            return 0;
        } else if (!std::strcmp(a, "--straight")) {
            opt.straight = true;
        } else if (!std::strcmp(a, "--to")) {
            if (++i == argc) return usage_error("--to needs a format");
            opt.to = format_of_word(argv[i]);
            if (opt.to == Format::none) return usage_error("unknown --to format");
            if (opt.to == Format::jpeg) return usage_error("JPEG output is not supported");
        } else if (!std::strcmp(a, "--level")) {
            if (++i == argc) return usage_error("--level needs a number");
            char* end = nullptr;
            const long v = std::strtol(argv[i], &end, 10);
            if (*argv[i] == 0 || *end || v < 0 || v > 9) return usage_error("--level is 0 ~ 9");
            opt.level = int(v);
        } else if (!std::strcmp(a, "--threads")) {
            if (++i == argc) return usage_error("--threads needs a number");
            char* end = nullptr;
            const long v = std::strtol(argv[i], &end, 10);
            if (*argv[i] == 0 || *end || v < 0 || v > 64) return usage_error("--threads is 0 ~ 64");
            opt.threads = int(v);
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
    if (count != 2) return usage_error("give inFile and outFile");
    try {
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
