#include "tests/command_helpers.h"

#include "interp/command.h"
#include "interp/dispatch.h"

int run_line(std::string line) {
    std::vector<char*> words = split_words(line);
    const int argc = static_cast<int>(words.size()) - 1;
    for (const CommandEntry* table : {command_table, plugin_table})
        for (const CommandEntry* row = table; row->handler; ++row)
            if (command_matches(words[0], *row)) return row->handler(argc, words.data());
    return -1;
}

int sample(const char* name, int p, int x, int y) {
    ImageBuffer* b = find_buffer(name);
    return b ? pixel_address(*b, p, x, y) : -1;
}

ImageBuffer* make_random_buffer(const char* name, int x, int y, int w, int h, int comps,
                                std::mt19937& rng) {
    ImageBuffer* b = make_buffer(name, x, y, w, h, comps);
    for (int p = 0; p < comps; ++p)
        for (int64_t i = 0; i < b->plane_size(); ++i) b->plane[p][i] = uint8_t(rng());
    return b;
}

std::vector<uint8_t> plane_copy(const ImageBuffer& b, int p) {
    return std::vector<uint8_t>(b.plane[p], b.plane[p] + b.plane_size());
}
