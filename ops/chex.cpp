// chex: fills an existing buffer with a checker pattern.
#include "ops/chex.h"

#include <cstdio>
#include <vector>

#include "buffer/image_buffer.h"
#include "interp/command.h"
#include "interp/commands.h"

int checker_fill(const char* name, const float colour0[4], const float colour1[4], int tile_w,
                 int tile_h) {
    ImageBuffer* b = find_buffer(name);
    if (!b) {
        std::fprintf(stderr, "WARNING : Can't find buff (name=%s)\n", name);
        return 0;
    }
    const Window& w = b->window;
    if (b->width <= 0 || b->height <= 0) return 1;
    // Remainders keep the dividend's sign, so the tiles either side of 0 differ
    // (-1 and 1) and tile 0 is twice as wide: the parity of each column, once.
    std::vector<int> column_parity(size_t(b->width));
    for (int64_t x = w.x1; x <= w.x2; ++x) column_parity[size_t(x - w.x1)] = int((x / tile_w) % 2);
    for (int p = 0; p < b->components; ++p) {
        const uint8_t v0 = fraction_to_byte(colour0[p]), v1 = fraction_to_byte(colour1[p]);
        for (int64_t y = w.y2; y >= w.y1; --y) {
            const int row_parity = int((y / tile_h) % 2);
            uint8_t* row = b->row(p, y);
            for (size_t i = 0; i < column_parity.size(); ++i)
                row[i] = column_parity[i] == row_parity ? v0 : v1;
        }
    }
    return 1;
}

static void help_chex(const char* word, int mode) {
    if (mode != 1) return print_summary(word, "generate checker pattern");
    std::fprintf(stderr, "Usage : %s [-options] inBuffName\n", word);
    std::fputs("[options]\n", stderr);
    std::fputs(" -c0 r g b a : color #0 set\n", stderr);
    std::fputs(" -c1 r g b a : color #1 set\n", stderr);
    std::fputs(" -s x y : tile size\n", stderr);
    std::fputs("[Default]\n", stderr);
    std::fputs(" -c0 1 1 1 1\n", stderr);
    std::fputs(" -c1 0 0 0 0\n", stderr);
    std::fputs(" -s 10 10\n", stderr);
}

int cmd_chex(int argc, char** argv) {
    if (answer_help(argc, argv, help_chex)) return 1;
    float c0[4] = {1, 1, 1, 1}, c1[4] = {0, 0, 0, 0};
    int tile_w = 10, tile_h = 10;
    const char* name = nullptr;
    for (int i = 1; i < argc; ++i) {
        const char* word = argv[i];
        if (same_word(word, "-c0") || same_word(word, "-c1")) {
            if (!need_args(argc, argv, i, 4, help_chex)) return 0;
            float* c = same_word(word, "-c0") ? c0 : c1;
            for (int k = 0; k < 4; ++k) c[k] = static_cast<float>(to_real(argv[i + 1 + k]));
            i += 4;
        } else if (same_word(word, "-s")) {
            if (!need_args(argc, argv, i, 2, help_chex)) return 0;
            tile_w = to_int(argv[i + 1]);
            tile_h = to_int(argv[i + 2]);
            i += 2;
        } else if (!name) {
            name = word;
        } else {
            return command_error("Invalid argment", argv[0], help_chex);
        }
    }
    if (!name) return command_error("You must define buffer name", argv[0], help_chex);
    if (tile_w <= 0 || tile_h <= 0)
        return command_error("tile size must be positive", "-s", argv[0], help_chex);
    return checker_fill(name, c0, c1, tile_w, tile_h);
}
