// The buffer commands create, dispose, clear, info and blist.
#include "buffer/buffer_commands.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "interp/command.h"
#include "interp/commands.h"

// ---- create ------------------------------------------------------------------------

static void help_create(const char* word, int mode) {
    if (mode != 1) return print_summary(word, "create buff");
    std::fprintf(stderr, "Usage : %s [-options] buffName\n", word);
    std::fputs("[Options]\n", stderr);
    std::fputs("  -d buffName : duplicate buffer mode (not copy)\n", stderr);
    std::fputs("  -s ox oy w h : size & origin set type1\n", stderr);
    std::fputs("  -w x1 y1 x2 y2 : size & origin set type2\n", stderr);
    std::fputs("  -c num : component count ( 1 or 3 or 4 )\n", stderr);
    std::fputs("[Default]\n", stderr);
    std::fputs("  -s 0 0 640 480\n", stderr);
    std::fputs("  -c 4\n", stderr);
}

// Origin and size of the rectangle spanning two corners given in any order.
static void span_corners(char** v, int64_t& x, int64_t& y, int64_t& w, int64_t& h) {
    const int64_t x1 = to_int(v[0]), y1 = to_int(v[1]), x2 = to_int(v[2]), y2 = to_int(v[3]);
    x = std::min(x1, x2);
    y = std::min(y1, y2);
    w = std::max(x1, x2) - x + 1;
    h = std::max(y1, y2) - y + 1;
}

int cmd_create(int argc, char** argv) {
    if (answer_help(argc, argv, help_create)) return 1;
    int64_t x = 0, y = 0, w = 640, h = 480;
    int components = 4;
    const char* name = nullptr;
    for (int i = 1; i < argc; ++i) {
        const char* word = argv[i];
        if (same_word(word, "-d")) {
            if (!need_args(argc, argv, i, 1, help_create)) return 0;
            const ImageBuffer* model = find_buffer(argv[++i]);
            if (!model) {
                std::fprintf(stderr, "WARNING : Can't find buff %s\n", argv[i]);
                return 0;
            }
            x = model->x, y = model->y, w = model->width, h = model->height;
            components = model->components;
        } else if (same_word(word, "-s")) {
            if (!need_args(argc, argv, i, 4, help_create)) return 0;
            x = to_int(argv[i + 1]), y = to_int(argv[i + 2]);
            w = to_int(argv[i + 3]), h = to_int(argv[i + 4]);
            i += 4;
        } else if (same_word(word, "-w")) {
            if (!need_args(argc, argv, i, 4, help_create)) return 0;
            span_corners(argv + i + 1, x, y, w, h);
            i += 4;
        } else if (same_word(word, "-c")) {
            if (!need_args(argc, argv, i, 1, help_create)) return 0;
            components = to_int(argv[++i]);
            if (components != 1 && components != 3 && components != 4)
                return command_error("invalid component count", "-c", argv[0], help_create);
        } else if (!name) {
            name = word;
        } else {
            return command_error("Invalid argment", argv[0], help_create);
        }
    }
    if (!name) return command_error("You must define buffer name", argv[0], help_create);
    // A -w span wider than 32 bits wraps like the stored size field does.
    make_buffer(name, static_cast<int32_t>(x), static_cast<int32_t>(y), static_cast<int32_t>(w),
                static_cast<int32_t>(h), components);
    return 1;
}

// ---- dispose -----------------------------------------------------------------------

static void help_dispose(const char* word, int mode) {
    if (mode != 1) return print_summary(word, "dispose buff");
    std::fprintf(stderr, "Usage : %s buffName\n", word);
}

int cmd_dispose(int argc, char** argv) {
    if (answer_help(argc, argv, help_dispose)) return 1;
    if (argc != 2) return command_error("Invalid argment count", argv[0], help_dispose);
    return dispose_buffer(argv[1]);
}

// ---- clear -------------------------------------------------------------------------

static void help_clear(const char* word, int mode) {
    if (mode != 1) return print_summary(word, "clear buff");
    std::fprintf(stderr, "Usage : %s [-options] buffName\n", word);
    static const char* const lines[] = {
        "[Options]\n",
        "  -s ox oy w h : size & origin set type1\n",
        "  -w x1 y1 x2 y2 : size & origin set type2\n",
        "  -f : full window mode\n",
        "  -rgb R G B : rgb clear mode (0.0~1.0)\n",
        "  -RGB R G B : rgb clear mode (0~255)\n",
        "  -rgba R G B A : rgba clear mode (0.0~1.0)\n",
        "  -RGBA R G B A : rgba clear mode (0~255)\n",
        "  -r R : r clear mode (0.0~1.0)\n",
        "  -g G : g clear mode (0.0~1.0)\n",
        "  -b B : b clear mode (0.0~1.0)\n",
        "  -a A : a clear mode (0.0~1.0)\n",
        "  -R R : r clear mode (0~255)\n",
        "  -G G : g clear mode (0~255)\n",
        "  -B B : b clear mode (0~255)\n",
        "  -A A : a clear mode (0~255)\n",
        "  -in : clear inside\n",
        "  -out : clear outside\n",
        "[Default]\n",
        "  -f\n",
        "  -rgba 0 0 0 0\n",
        "  -in\n",
    };
    for (const char* line : lines) std::fputs(line, stderr);
}

// Colour options of clear: the mode they select, the first slot they fill, how many
// values follow, and whether the values are bytes (0~255) rather than fractions.
struct ColourOption {
    const char* word;
    ClearMode mode;
    int first, count;
    bool bytes;
};

static const ColourOption colour_options[] = {
    {"-rgba", ClearMode::rgba, 0, 4, false}, {"-RGBA", ClearMode::rgba, 0, 4, true},
    {"-rgb", ClearMode::rgb, 0, 3, false},   {"-RGB", ClearMode::rgb, 0, 3, true},
    {"-r", ClearMode::r, 0, 1, false},       {"-R", ClearMode::r, 0, 1, true},
    {"-g", ClearMode::g, 1, 1, false},       {"-G", ClearMode::g, 1, 1, true},
    {"-b", ClearMode::b, 2, 1, false},       {"-B", ClearMode::b, 2, 1, true},
    {"-a", ClearMode::a, 3, 1, false},       {"-A", ClearMode::a, 3, 1, true},
};

int cmd_clear(int argc, char** argv) {
    if (answer_help(argc, argv, help_clear)) return 1;
    ClearRegion region;
    bool outside = false;
    ClearMode mode = ClearMode::rgba;
    float values[4] = {0, 0, 0, 0};
    const char* name = nullptr;
    for (int i = 1; i < argc; ++i) {
        const char* word = argv[i];
        const ColourOption* colour = nullptr;
        for (const auto& c : colour_options)
            if (same_word(word, c.word)) colour = &c;
        if (colour) {
            if (!need_args(argc, argv, i, colour->count, help_clear)) return 0;
            for (int k = 0; k < colour->count; ++k) {
                const double v = to_real(argv[i + 1 + k]);
                // Byte values are scaled by the same constant the stored results expect.
                values[colour->first + k] =
                    static_cast<float>(colour->bytes ? v * 0.00392156862745098 : v);
            }
            mode = colour->mode;
            i += colour->count;
        } else if (same_word(word, "-s")) {
            if (!need_args(argc, argv, i, 4, help_clear)) return 0;
            region = {true, to_int(argv[i + 1]), to_int(argv[i + 2]), to_int(argv[i + 3]),
                      to_int(argv[i + 4])};
            i += 4;
        } else if (same_word(word, "-w")) {
            if (!need_args(argc, argv, i, 4, help_clear)) return 0;
            region.set = true;
            span_corners(argv + i + 1, region.x, region.y, region.w, region.h);
            i += 4;
        } else if (same_word(word, "-f")) {
            region = ClearRegion{};
        } else if (same_word(word, "-in")) {
            outside = false;
        } else if (same_word(word, "-out")) {
            outside = true;
        } else if (!name) {
            name = word;
        } else {
            return command_error("Invalid argment", argv[0], help_clear);
        }
    }
    if (!name) return command_error("You must define buffer name", argv[0], help_clear);
    return clear_buffer(name, region, outside, mode, values);
}

void fill_rect(ImageBuffer& b, Rect r, int mask, const uint8_t values[4]) {
    clip_window(r, b);
    if (r.empty()) return;
    const size_t n = size_t(r.width());
    for (int p = 0; p < b.components; ++p) {
        if (!(mask & (1 << p))) continue;
        for (int64_t y = r.y2; y >= r.y1; --y)
            std::memset(b.row(p, y) + (r.x1 - b.window.x1), values[p], n);
    }
}

int clear_buffer(const char* name, const ClearRegion& region, bool outside, ClearMode mode,
                 const float values[4]) {
    ImageBuffer* b = find_buffer(name);
    if (!b) {
        std::fprintf(stderr, "WARNING : Can't find buff (name=%s)\n", name);
        return 0;
    }
    static const int masks[] = {1, 2, 4, 8, 7, 15};  // by ClearMode
    const int mask = masks[static_cast<int>(mode)];
    uint8_t bytes[4];
    for (int p = 0; p < 4; ++p) bytes[p] = fraction_to_byte(values[p]);

    const Window& w = b->window;
    if (!region.set) {
        if (!outside) fill_planes(*b, mask, bytes);
        return 1;
    }
    const int64_t rx = region.x, ry = region.y, rx2 = rx + region.w, ry2 = ry + region.h;
    if (!outside) {
        fill_rect(*b, {rx, ry, rx2 - 1, ry2 - 1}, mask, bytes);
        return 1;
    }
    // The window outside the region, as four bands: below, left, right, above.
    if (ry > w.y1) fill_rect(*b, {w.x1, w.y1, w.x2, ry - 1}, mask, bytes);
    if (rx > w.x1) fill_rect(*b, {w.x1, ry, rx - 1, ry2 - 1}, mask, bytes);
    if (rx2 <= w.x2) fill_rect(*b, {rx2, ry, w.x2, ry2 - 1}, mask, bytes);
    if (ry2 <= w.y2) fill_rect(*b, {w.x1, ry2, w.x2, w.y2}, mask, bytes);
    return 1;
}

// ---- info --------------------------------------------------------------------------

static void help_info(const char* word, int mode) {
    if (mode != 1) return print_summary(word, "info buff");
    std::fprintf(stderr, "Usage : %s buffName\n", word);
}

int print_buffer_info(const char* name) {
    const ImageBuffer* b = find_buffer(name);
    if (!b) {
        std::fprintf(stderr, "WARNING : Can't find buff (name=%s)\n", name);
        return 0;
    }
    std::fputs("==== buffer information ===\n", stderr);
    std::fprintf(stderr, "     name : %s\n", b->name.c_str());
    std::fprintf(stderr, "   kqName : %s\n", b->kqName.c_str());
    std::fprintf(stderr, "   origin : %d %d\n", b->x, b->y);
    std::fprintf(stderr, "     size : %d %d\n", b->width, b->height);
    std::fprintf(stderr, "   window : %d %d .. %d %d\n", b->window.x1, b->window.y1, b->window.x2,
                 b->window.y2);
    std::fprintf(stderr, "conponent : %d\n", b->components);
    return 1;
}

int cmd_info(int argc, char** argv) {
    if (answer_help(argc, argv, help_info)) return 1;
    if (argc != 2) return command_error("You must define buffer name", argv[0], help_info);
    return print_buffer_info(argv[1]);
}

// ---- blist -------------------------------------------------------------------------

static void help_blist(const char* word, int mode) {
    if (mode != 1) return print_summary(word, "list all buff info");
    std::fprintf(stderr, "Usage : %s\n", word);
}

void print_buffer_list() {
    std::fputs(" id | buff-name : c :  buff-size\n", stderr);
    std::fputs("----+-----------+---+-------------\n", stderr);
    int id = 0;
    for_each_buffer([&id](const ImageBuffer& b) {
        std::fprintf(stderr, " %2d | %9s : %1d : % 4d x %d\n", id++, b.name.c_str(), b.components,
                     b.width, b.height);
    });
}

int cmd_blist(int argc, char** argv) {
    if (answer_help(argc, argv, help_blist)) return 1;
    if (argc != 1) return command_error("Invalid argment", argv[0], help_blist);
    print_buffer_list();
    return 1;
}
