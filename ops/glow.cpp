// The glow worker and command: shrink, box blur of the small image, bilinear zoom
// back over the output.
#include "ops/glow.h"

#include <cstdio>

#include "buffer/image_buffer.h"
#include "interp/command.h"
#include "interp/commands.h"
#include "ops/blur.h"
#include "ops/zoom.h"

namespace {

constexpr const char* kGlowTmp = "sys:GlowTmp";
constexpr const char* kGlowBlurTmp = "sys:GlowBlurTmp";

void glow_help(const char* word, int mode) {
    if (mode != 1) return print_summary(word, "glow effect");
    std::fprintf(stderr, "Usage : %s [-options] inBuffName outBuffName\n", word);
    static const char* const lines[] = {
        "[options]\n",
        " -l x y : glow level : x y >= 1\n",
        " -z x y : glow size  : x y >= 0\n",
        " -rgba  : glow red, green, blue, alpha plane\n",
        " -rgb   : glow red, green blue plane\n",
        " -r     : glow   red plane\n",
        " -g     : glow green plane\n",
        " -b     : glow  blue plane\n",
        " -a     : glow alpha plane\n",
        " -x n   : n-Times glow effect\n",
        "[Default]\n",
        " -rgba\n",
        " -l 5 5\n",
        " -z 2 2\n",
        " -x 1\n",
    };
    for (const char* l : lines) std::fputs(l, stderr);
}

}  // namespace

int glow_buffer(const char* in, const char* out, int zx, int zy, int lx, int ly, int mask) {
    ImageBuffer *src = nullptr, *dst = nullptr;
    if (!find_buffers2(in, out, src, dst)) return 0;
    if (!same_window(*src, *dst)) return 0;
    if (!shrink_height_fits(*src) || !shrink_levels_valid(lx, ly)) return 0;

    const int32_t x = src->x, y = src->y;
    const int32_t w = int32_t(src->width / shrink_factor(lx));
    const int32_t h = int32_t(src->height / shrink_factor(ly));
    const int components = src->components;
    make_buffer(kGlowTmp, x, y, w, h, components);
    if (!shrink_buffer(in, kGlowTmp, lx, ly, mask)) {
        std::fputs("ERROR : shrink operation for glow command faild\n", stderr);
        dispose_buffer(kGlowTmp);
        return 0;
    }
    make_buffer(kGlowBlurTmp, x, y, w, h, components);
    const bool blurred = box_blur(kGlowTmp, kGlowBlurTmp, zx, zy, mask) != 0;
    const bool zoomed = blurred && bilinear_zoom(kGlowBlurTmp, out, mask) != 0;
    if (!blurred) std::fputs("ERROR : blur operation for glow command faild\n", stderr);
    if (blurred && !zoomed)
        std::fputs("ERROR : bi-linear zoom operation for glow command faild\n", stderr);
    dispose_buffer(kGlowTmp);
    dispose_buffer(kGlowBlurTmp);
    return zoomed ? 1 : 0;
}

int cmd_glow(int argc, char** argv) {
    if (answer_help(argc, argv, glow_help)) return 1;
    int mask = 15, zx = 2, zy = 2, lx = 5, ly = 5, count = 0;
    const char* names[2] = {nullptr, nullptr};
    for (int i = 1; i < argc; ++i) {
        const char* w = argv[i];
        const int m = plane_mask_word(w);
        if (m >= 0) {
            mask = m;
        } else if (same_word(w, "-x")) {
            if (!need_args(argc, argv, i, 1, glow_help)) return 0;
            if (to_int(argv[++i]) < 1)
                return command_error("negative or zero -x value", argv[0], glow_help);
        } else if (same_word(w, "-l")) {
            if (!need_args(argc, argv, i, 2, glow_help)) return 0;
            lx = to_int(argv[i + 1]);
            ly = to_int(argv[i + 2]);
            i += 2;
            if (lx < 1 || ly < 1) return command_error("negative or zero -l value", argv[0], glow_help);
            if (lx > kMaxShrinkLevel || ly > kMaxShrinkLevel)
                return command_error("too large -l value", argv[0], glow_help);
        } else if (same_word(w, "-z")) {
            if (!need_args(argc, argv, i, 2, glow_help)) return 0;
            zx = to_int(argv[i + 1]);
            zy = to_int(argv[i + 2]);
            i += 2;
            if (zx < 0 || zy < 0) return command_error("negative -z value", argv[0], glow_help);
        } else {
            if (count == 2) return command_error("Invalid argment", argv[0], glow_help);
            names[count++] = w;
        }
    }
    if (count < 2) return command_error("You must define in/out buff name", argv[0], glow_help);
    if (same_word(names[0], names[1]))
        return command_error("You must define different in/out buff", argv[0], glow_help);
    return glow_buffer(names[0], names[1], zx, zy, lx, ly, mask);
}
