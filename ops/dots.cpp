// dotfile, diff and tomo: the commands, their help printers and workers.
#include "ops/dots.h"

#include <sys/stat.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "buffer/image_buffer.h"
#include "interp/command.h"
#include "interp/commands.h"

namespace {

// A file opened for reading, closed on every path.
struct InputFile {
    std::FILE* f = nullptr;
    explicit InputFile(const char* path) : f(std::fopen(path, "r")) {
        struct stat st;
        // A folder opens but cannot be read: treat it as missing.
        if (f && fstat(fileno(f), &st) == 0 && S_ISDIR(st.st_mode)) {
            std::fclose(f);
            f = nullptr;
        }
    }
    ~InputFile() {
        if (f) std::fclose(f);
    }
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;
};

// One "%d" conversion: white space, an optional sign and decimal digits.
bool scan_int(const char*& p, int& v) {
    char* end = nullptr;
    const long value = std::strtol(p, &end, 10);
    if (end == p) return false;
    // Out of range as the scanner stores it: the saturated long narrowed to int.
    v = static_cast<int>(value);
    p = end;
    return true;
}

// Scans a line without its comment: true and a dot (and for the colour form the
// new colour) when it parses.
bool scan_dot(char* line, int& x, int& y, uint8_t colour[4]) {
    if (char* hash = std::strchr(line, '#')) *hash = '\0';
    if (std::strchr(line, 'c')) {
        float f[4];
        if (std::sscanf(line, "%d %d c %f %f %f %f", &x, &y, &f[0], &f[1], &f[2], &f[3]) < 6)
            return false;
        for (int p = 0; p < 4; ++p) colour[p] = dot_byte(f[p]);
        return true;
    }
    const char* p = line;
    return scan_int(p, x) && scan_int(p, y);
}

bool blank_text(const char* s) {
    for (; *s; ++s)
        if (!std::isspace(static_cast<unsigned char>(*s))) return false;
    return true;
}

// True when `first` (a line without its comment) and every line left in f (read
// in the same pieces as the dots) hold nothing but white space and comments.
bool rest_is_blank(const char* first, std::FILE* f) {
    if (!blank_text(first)) return false;
    char line[1024];
    while (std::fgets(line, sizeof line, f)) {
        if (char* hash = std::strchr(line, '#')) *hash = '\0';
        if (!blank_text(line)) return false;
    }
    return !std::ferror(f);
}

// Appends v right-aligned in `width` characters, as "%*lld" does.
void append_int(std::string& s, long long v, int width) {
    char digits[24];
    int n = 0;
    unsigned long long u = v < 0 ? 0ull - static_cast<unsigned long long>(v)
                                 : static_cast<unsigned long long>(v);
    do {
        digits[n++] = static_cast<char>('0' + u % 10);
        u /= 10;
    } while (u);
    if (v < 0) digits[n++] = '-';
    for (int i = n; i < width; ++i) s.push_back(' ');
    while (n) s.push_back(digits[--n]);
}

void print_window(const ImageBuffer& b) {
    std::fprintf(stderr, "          %s is min(%d.%d)-max(%d.%d)\n", b.name.c_str(), b.window.x1,
                 b.window.y1, b.window.x2, b.window.y2);
}

}  // namespace

uint8_t dot_byte(float f) {
    if (f < 0.0f || f != f) return 0;
    if (f >= 1.0f) return 255;
    return static_cast<uint8_t>(double(f) * 255.0);
}

int dotfile(const char* path, const char* name, const float colour[4]) {
    ImageBuffer* b = find_buffer(name);
    if (!b) {
        std::fprintf(stderr, "WARNING : Can't find buff (name=%s)\n", name);
        return 0;
    }
    InputFile file(path);
    if (!file.f) {
        std::fprintf(stderr, "WARNING : Can't find dotfile (name=%s)\n", path);
        return 0;
    }
    uint8_t current[4];
    for (int p = 0; p < 4; ++p) current[p] = dot_byte(colour[p]);
    char line[1024];
    int line_no = 0;
    while (std::fgets(line, sizeof line, file.f)) {
        ++line_no;
        int x = 0, y = 0;
        if (!scan_dot(line, x, y, current)) {
            // Stopping is silent and succeeds; -e and -k want to know when it left
            // dots unread (the stopping line, without its comment, is in `line`).
            if (failures_counted() && !rest_is_blank(line, file.f))
                note_incomplete("WARNING : dotfile %s stops at line %d, the rest is not read\n",
                                path, line_no);
            return 1;
        }
        for (int p = 0; p < b->components; ++p) pixel_address(*b, p, x, y) = current[p];
    }
    if (std::ferror(file.f)) note_incomplete("ERROR : Can't read dotfile (name=%s)\n", path);
    return 1;
}

int diff(const char* a_name, const char* b_name) {
    ImageBuffer *a = nullptr, *b = nullptr;
    if (!find_buffers2(a_name, b_name, a, b)) return 0;
    if (!same_components2(*a, *b)) {
        std::fputs("WARNING : different component size\n", stderr);
        std::fprintf(stderr, "          %s is %d component\n", a_name, a->components);
        std::fprintf(stderr, "          %s is %d component\n", b_name, b->components);
        return 0;
    }
    if (!same_geometry2(*a, *b)) {
        std::fputs("WARNING : different window size\n", stderr);
        print_window(*a);
        print_window(*b);
        return 0;
    }
    // The report is built in memory and written in large pieces.
    const std::string mid_a = std::string(" : ") + a_name + " ";
    const std::string mid_b = std::string(" : ") + b_name + " ";
    std::string text;
    bool written = true;  // every piece reached standard output
    auto flush = [&] {
        written = std::fwrite(text.data(), 1, text.size(), stdout) == text.size() && written;
        text.clear();
    };
    const Rect r = a->rect();
    const int planes = a->components;
    const size_t w = static_cast<size_t>(r.width());
    long long pixels = 0;
    for (int64_t y = r.y1; y <= r.y2; ++y) {
        bool same = true;
        for (int p = 0; p < planes && same; ++p) same = std::memcmp(a->row(p, y), b->row(p, y), w) == 0;
        if (same) continue;
        for (size_t i = 0; i < w; ++i) {
            bool counted = false;
            for (int p = 0; p < planes; ++p) {
                const uint8_t va = a->row(p, y)[i], vb = b->row(p, y)[i];
                if (va == vb) continue;
                if (!counted) ++pixels, counted = true;
                append_int(text, static_cast<int>(r.x1 + int64_t(i)), 4);
                text.push_back(' ');
                append_int(text, static_cast<int>(y), 4);
                text += " # c ";
                append_int(text, p, 0);
                text += mid_a;
                append_int(text, va, 3);
                text += mid_b;
                append_int(text, vb, 3);
                text.push_back('\n');
            }
            if (text.size() >= (1u << 20)) flush();
        }
    }
    if (pixels == 0) {
        text += "# same\n";
    } else {
        text += "# total differential pixel : ";
        append_int(text, pixels, 0);
        text.push_back('\n');
    }
    flush();
    if (std::fflush(stdout) != 0 || !written)
        note_incomplete("ERROR : Can't write the difference report\n");
    return 1;
}

int tomo(const char* in_name, const char* out_name) {
    ImageBuffer *in = nullptr, *out = nullptr;
    if (!find_buffers2(in_name, out_name, in, out)) return 0;
    if (!same_geometry2(*in, *out)) {
        std::fputs("WARNING : window size missing\n", stderr);
        std::fputs("          Could you use same window size buff\n", stderr);
        print_window(*in);
        print_window(*out);
        return 0;
    }
    if (in->components != 4 || out->components != 4) {
        std::fputs("WARNING : in/out buff component size not same or", stderr);
        std::fputs(" not 4 component\n", stderr);
        std::fprintf(stderr, "          %s is %d component\n", in_name, in->components);
        std::fprintf(stderr, "          %s is %d component\n", out_name, out->components);
        return 0;
    }
    if (out->plane_size() == 0) return 1;
    const size_t w = static_cast<size_t>(out->width);
    const int64_t h = out->height;
    // Converting a buffer into itself reads from a copy of its planes.
    std::vector<uint8_t> copy;
    const uint8_t* src[4] = {in->plane[0], in->plane[1], in->plane[2], in->plane[3]};
    if (in == out) {
        const size_t n = static_cast<size_t>(in->plane_size());
        try {
            if (!kq_memory_allows(int64_t(4 * n))) throw std::bad_alloc();
            copy.resize(4 * n);
        } catch (const std::bad_alloc&) {
            fatal_no_planes();
        }
        for (int p = 0; p < 4; ++p) {
            std::memcpy(copy.data() + p * n, in->plane[p], n);
            src[p] = copy.data() + p * n;
        }
    }
    // Storage row k of out is in's row k from the bottom.
    for (int64_t k = 0; k < h; ++k) {
        const int64_t from = (h - 1 - k) * int64_t(w), to = k * int64_t(w);
        for (int p = 0; p < 4; ++p) std::memcpy(out->plane[p] + to, src[3 - p] + from, w);
    }
    return 1;
}

// --- commands ---------------------------------------------------------------------

namespace {

void help_dotfile(const char* word, int mode) {
    if (mode != 1) return print_summary(word, "write dot by dotfile");
    std::fprintf(stderr, "Usage : %s [-options] dotfileName BuffName\n", word);
    std::fputs("[options]\n"
               " -c r g b a : set value at dot position (0~1)\n"
               " -C R G B A : set value at dot position (0~255)\n"
               "[Default]\n"
               " -c 0.1 0.1 0.1 0.0\n"
               "[Caution]\n"
               " If you use color definition in the dotfile, -c and -C\n"
               " options are going to cancel.\n"
               "[dotfile format sample]\n"
               "32 56   # x y             32 56 c 1 0 0 1 # x y and r g b a\n"
               "54 12                     54 12\n"
               "  .              or         .\n"
               "  .                         .\n",
               stderr);
}

void help_diff(const char* word, int mode) {
    if (mode != 1) return print_summary(word, "display differential info");
    std::fprintf(stderr, "Usage : %s buffA buffB\n", word);
}

void help_tomo(const char* word, int mode) {
    if (mode != 1) return print_summary(word, "convert to tarvel data");
    std::fprintf(stderr, "Usage : %s inBuffName outBuffName\n", word);
}

}  // namespace

int cmd_dotfile(int argc, char** argv) {
    if (answer_help(argc, argv, help_dotfile)) return 1;
    float colour[4] = {0.1f, 0.1f, 0.1f, 0.0f};
    const char* names[2] = {nullptr, nullptr};
    int count = 0;
    for (int i = 1; i < argc; ++i) {
        if (same_word(argv[i], "-c") || same_word(argv[i], "-C")) {
            if (!need_args(argc, argv, i, 4, help_dotfile)) return 0;
            const bool bytes = argv[i][1] == 'C';
            for (int p = 0; p < 4; ++p) {
                const double v = to_real(argv[i + 1 + p]);
                colour[p] = static_cast<float>(bytes ? v * 0.00392156862745098 : v);
            }
            i += 4;
        } else if (count == 2) {
            return command_error("Invalid argment", argv[0], help_dotfile);
        } else {
            names[count++] = argv[i];
        }
    }
    if (count < 2)
        return command_error("You must define dotfile and buff name", argv[0], help_dotfile);
    return dotfile(names[0], names[1], colour);
}

int cmd_diff(int argc, char** argv) {
    if (answer_help(argc, argv, help_diff)) return 1;
    if (argc != 3) return command_error("Invalid argment count", argv[0], help_diff);
    return diff(argv[1], argv[2]);
}

int cmd_tomo(int argc, char** argv) {
    if (answer_help(argc, argv, help_tomo)) return 1;
    if (argc != 3) return command_error("You must define in/out buff name", argv[0], help_tomo);
    return tomo(argv[1], argv[2]);
}
