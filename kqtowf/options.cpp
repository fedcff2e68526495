// The kqtowf command line: special sole arguments, options, usage, argument dump.
#include <climits>
#include <cstdlib>
#include <cstring>
#include <new>
#include <utility>

#include "build_info.h"
#include "kqtowf/kqtowf.h"
#include "libout/out_file.h"
#include "libkq/kq_memory.h"
#include "parallel/parallel.h"

namespace {

const char* const kProgram = "kqtowf";
const char* const kVersion = "1.03";
const char* const kDate = "Feb/12/94";
const char* const kAuthor = "the kq team";

[[noreturn]] void fail(const char* format, const char* word) {
    std::fprintf(stderr, format, word);
    error_exit();
}

void print_banner() {
    std::fprintf(stderr, "program = %s\n", kProgram);
    std::fprintf(stderr, "  Version        : %s (%s) Author %s\n", kVersion, kDate, kAuthor);
    std::fprintf(stderr, "  CompileDate    : %s\n", KQ_BUILD_DATE);
    std::fprintf(stderr, "  CompileMachine : %s\n", KQ_BUILD_MACHINE);
    std::fprintf(stderr, "  CompileOS      : %s\n", KQ_BUILD_OS);
    std::fprintf(stderr, "  CompileUser    : %s\n", KQ_BUILD_USER);
}

}  // namespace

[[noreturn]] void exit_program(int status) {
#ifdef KQ_FUZZ_BUILD
    wf_abandon_unfinished();
    throw KqtowfExit{status};
#else
    std::exit(status);
#endif
}

[[noreturn]] void error_exit() {
    std::fputc('\a', stderr);
    std::fprintf(stderr, "%s error exit\n", kProgram);
    exit_program(1);
}

void* alloc_work(int64_t bytes, bool zeroed) {
    if (bytes < 0 || static_cast<uint64_t>(bytes) > SIZE_MAX / 2) return nullptr;
#ifdef KQ_FUZZ_CAPS
    if (bytes > WF_FUZZ_MAX_BLOCK) return nullptr;
#endif
    if (!kq_memory_allows(bytes)) return nullptr;
    const size_t n = static_cast<size_t>(bytes > 0 ? bytes : 1);
    return alloc_pages(n, zeroed);
}

int read_number(const char* w) {
    while (*w == ' ' || (*w >= '\t' && *w <= '\r')) ++w;
    bool negative = false;
    if (*w == '+' || *w == '-') negative = *w++ == '-';
    int64_t v = 0;
    for (; *w >= '0' && *w <= '9'; ++w)
        if (v <= INT64_C(1) << 40) v = v * 10 + (*w - '0');
    if (negative) v = -v;
    if (v > INT_MAX) return INT_MAX;
    if (v < INT_MIN) return INT_MIN;
    return static_cast<int>(v);
}

void print_usage() {
    const char* ext = kq_extension();
    std::fprintf(stderr, "Usage : %s [-options] inFile outWF\n", kProgram);
    std::fprintf(stderr, "        inFile : input %s format data\n", ext);
    std::fputs("        outWF  : output mapping material data\n", stderr);
    std::fprintf(stderr, " Work : convert %s to .wf\n", ext);
    static const char* const lines[] = {
        "[Options]\n",
        " -s ox oy w h : size & origin set type1\n",
        " -w x1 y1 x2 y2 : size & origin set type2\n",
        " -p key : define convert plane\n",
        "    key : r    : red plane\n",
        "          g    : green plane\n",
        "          b    : blue plane\n",
        "          a    : alpha plane\n",
        "          rgb  : red green blue plane\n",
        "          rgba : red green blue alpha plane\n",
        " -m level : convert to MIP MAP format\n",
        "    level : 0 : resize auto     7 : size   64 x 64\n",
        "            1 : size   1 x 1    8 : size  128 x 128\n",
        "            2 : size   2 x 2    9 : size  256 x 256\n",
        "            3 : size   4 x 4   10 : size  512 x 512\n",
        "            4 : size   8 x 8   11 : size 1024 x 1024\n",
        "            5 : size  16 x 16  12 : size 2048 x 2048\n",
        "            6 : size  32 x 32  13 : size 4096 x 4096\n",
        " -A tileXsize tileYsize : convert to SUMMED AREA format\n",
        " -t type : define tiling type\n",
        "    type : std   : standard, U,V are not reversing\n",
        "           u     : U is reversing, V is not reversing\n",
        "           v     : U is not reversing, V is reversing\n",
        "           uv    : U,V are reversing\n",
        "           const : spread outline color\n",
        " -f : overwrite no check\n",
        " -x : silent mode\n",
        " -v : verbose mode\n",
        "[Default]\n",
        " full size of source image, full plane of source image\n",
        " -A 8 8\n",
        " -t std\n",
    };
    for (const char* line : lines) std::fputs(line, stderr);
}

void parse_settings(int argc, char** argv, ConvertSettings& s) {
    s = ConvertSettings{};
    for (int i = 0; i < argc; ++i) {
        const char* w = argv[i];
        if (w[0] != '-') {
            if (s.names == 0)
                s.in_name = w;
            else if (s.names == 1)
                s.out_name = w;
            else
                fail("ERROR : Invalid argment %s\n", w);
            ++s.names;
            continue;
        }
        struct Option {
            const char* word;
            int args;
        };
        static const Option options[] = {{"-s", 4}, {"-w", 4}, {"-p", 1}, {"-m", 1},
                                         {"-M", 1}, {"-A", 2}, {"-t", 1}, {"-v", 0},
                                         {"-f", 0}, {"-x", 0}, {"-j", 1}};
        const Option* opt = nullptr;
        for (const Option& o : options)
            if (std::strcmp(w, o.word) == 0) opt = &o;
        if (!opt) fail("ERROR : Invalid options %s\n", w);
        if (argc - 1 - i < opt->args) fail("ERROR : %s option argment count error\n", w);
        char** a = argv + i + 1;
        i += opt->args;
        switch (w[1]) {
            case 's': {
                s.window_given = true;
                s.x1 = read_number(a[0]);
                s.y1 = read_number(a[1]);
                s.x2 = s.x1 + read_number(a[2]) - 1;
                s.y2 = s.y1 + read_number(a[3]) - 1;
                break;
            }
            case 'w':
                s.window_given = true;
                s.x1 = read_number(a[0]);
                s.y1 = read_number(a[1]);
                s.x2 = read_number(a[2]);
                s.y2 = read_number(a[3]);
                break;
            case 'p': {
                static const struct {
                    const char* word;
                    int key;
                } keys[] = {{"r", KEY_R},   {"g", KEY_G},     {"b", KEY_B},
                            {"a", KEY_A},   {"rgb", KEY_RGB}, {"rgba", KEY_RGBA}};
                s.plane_key = -1;
                for (const auto& k : keys)
                    if (std::strcmp(a[0], k.word) == 0) s.plane_key = k.key;
                if (s.plane_key < 0) fail("ERROR : Invalid argment %s\n", a[0]);
                break;
            }
            case 'm':
            case 'M':
                s.map_kind = w[1] == 'm' ? WF_MIPMAP : WF_SUPER_MIPMAP;
                s.mip_level = read_number(a[0]);
                break;
            case 'A':
                s.map_kind = WF_SUMMED_AREA;
                s.tile_x = read_number(a[0]);
                s.tile_y = read_number(a[1]);
                if (s.tile_x < 1 || s.tile_y < 1) {
                    std::fputs("ERROR : tile size >= 1\n", stderr);
                    exit_program(1);
                }
                break;
            case 't': {
                static const char* const types[] = {"std", "u", "v", "uv", "const"};
                s.tiling = -1;
                for (int t = 0; t < 5; ++t)
                    if (std::strcmp(a[0], types[t]) == 0) s.tiling = t;
                if (s.tiling < 0) fail("ERROR : Invalid argment %s\n", a[0]);
                break;
            }
            case 'v': s.verbose = true; break;
            case 'f': s.force = true; break;
            case 'x': s.silent = true; break;
            case 'j':
                s.threads = parse_thread_count(a[0]);
                if (s.threads < 1) fail("ERROR : Invalid argment %s\n", a[0]);
                break;
        }
    }
    if (s.names < 2) {
        std::fputs("ERROR : You must define in/out\n", stderr);
        error_exit();
    }
    if (s.window_given) {
        if (s.x2 < s.x1) std::swap(s.x1, s.x2);
        if (s.y2 < s.y1) std::swap(s.y1, s.y2);
    }
    if ((s.map_kind == WF_MIPMAP || s.map_kind == WF_SUPER_MIPMAP) && s.mip_level < 0) {
        std::fputc('\a', stderr);
        std::fputs("ERROR : mipmap level is negative\n", stderr);
        error_exit();
    }
}

void dump_settings(const ConvertSettings& s) {
    std::fputs("=== argment dump ===\n", stderr);
    std::fprintf(stderr, "  i_filename : %s\n", s.in_name.c_str());
    std::fprintf(stderr, "  o_filename : %s\n", s.out_name.c_str());
    if (s.window_given)
        std::fprintf(stderr, "  window : (%lld,%lld)-(%lld,%lld)\n", static_cast<long long>(s.x1),
                     static_cast<long long>(s.y1), static_cast<long long>(s.x2),
                     static_cast<long long>(s.y2));
    else
        std::fputs("  window : full\n", stderr);
    std::fputs("  save plane : ", stderr);
    switch (s.plane_key) {
        case KEY_R: std::fputs("red\n", stderr); break;
        case KEY_G: std::fputs("green\n", stderr); break;
        case KEY_B: std::fputs("blue\n", stderr); break;
        case KEY_RGB: std::fputs("red green blue\n", stderr); break;
        case KEY_A: std::fputs("alpha\n", stderr); break;
        case KEY_RGBA: std::fputs("red green blue alpha\n", stderr); break;
        default: std::fputs("full plane\n", stderr); break;
    }
    if (s.map_kind == WF_MIPMAP)
        std::fprintf(stderr, "  MIP-MAP format : level %d\n", s.mip_level);
    else if (s.map_kind == WF_SUPER_MIPMAP)
        std::fprintf(stderr, "  SUPER-MIP-MAP format : level %d\n", s.mip_level);
    else
        std::fprintf(stderr, "  SUMMED-AREA format : tileXsize:%d tileYsize:%d\n", s.tile_x,
                     s.tile_y);
    static const char* const types[] = {"standard\n", "U-reverse\n", "V-reverse\n",
                                        "UV-reverse\n", "constant\n"};
    std::fputs("tiling type : ", stderr);
    std::fputs(types[s.tiling], stderr);
    if (s.force) std::fputs("  -f : overwrite no check\n", stderr);
    if (s.silent) std::fputs("  -x : silent mode\n", stderr);
    if (s.threads > 0) std::fprintf(stderr, "  -j : %d threads\n", s.threads);
}

namespace {
int convert(int argc, char** argv);
}  // namespace

int kqtowf_main(int argc, char** argv) {
    out_start_process();
    if (argc == 2) {
        const std::string only = argv[1];
        if (only == "-ver") {
            std::fprintf(stderr, "%s : Version %s ( %s ) Author %s\n", kProgram, kVersion, kDate,
                         kAuthor);
            return 0;
        }
        if (only == "-info") {
            print_banner();
            kq_print_module();
            wf_print_module();
            return 0;
        }
        if (only == "-" || only == "-h" || only == "-H") {
            print_usage();
            return 0;
        }
    }
    try {
        return convert(argc, argv);
    } catch (const std::bad_alloc&) {
        // Working memory beyond what is checked where it is made: a fatal error
        // like the others, never an abort.
        error_exit();
    }
}

namespace {

// Parse, read the source window, build and write.
int convert(int argc, char** argv) {
    ConvertSettings s;
    parse_settings(argc - 1, argv + 1, s);
    if (s.verbose) dump_settings(s);
    set_thread_count(s.threads > 0 ? s.threads : available_cpus());
    SourcePlanes src;
    // The planes are released however the conversion ends (the mip-map builder
    // takes them over and clears them).
    struct PlanesOwner {
        SourcePlanes& src;
        ~PlanesOwner() {
            for (uint8_t*& p : src.plane) free_pages(std::exchange(p, nullptr));
        }
    } owner{src};
    read_source(s, src);
    if (s.map_kind == WF_SUMMED_AREA)
        build_summed_area(s, src);
    else
        build_mipmap(s, src);
    return 0;
}

}  // namespace
