// The rearranging commands plane, field, copy, move, reverse and shift, and the
// rectangle copy shared with other operations. Every pixel loop runs over whole
// rows: the mapping from output columns to input columns is worked out once as a
// few runs (ascending copy, descending copy, outside-cell fill), and each row only
// replays those runs.
#include "buffer/rearrange.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "interp/command.h"
#include "interp/commands.h"

namespace {

// ---- row engine --------------------------------------------------------------------

// A stretch of output columns and where its pixels come from.
struct Run {
    int64_t dst = 0;    // first output column (index within the output row)
    int64_t len = 0;    // number of columns
    int64_t src = 0;    // input column (index within the input row) of the first pixel
    int dir = 0;        // +1 input columns ascend, -1 they descend, 0 outside cell
    bool area = false;  // read from the area's source row rather than the own row
};

// The runs of one output row, for one input buffer. A row crossing a mirror or
// shift area reads two input rows: columns inside the area read the area's source
// row, the others read the row of their own coordinate.
class ColumnMap {
public:
    explicit ColumnMap(const ImageBuffer& in) : lo_(in.rect().x1), hi_(in.rect().x2) {}

    // Output columns [dst, dst + len) read input picture columns sx, sx + dir, ...;
    // the parts that fall outside the input's window read its outside cell.
    void add(int64_t dst, int64_t len, int64_t sx, int dir, bool area = false) {
        if (len <= 0) return;
        int64_t last = sx + dir * (len - 1);
        int64_t first_in = dir > 0 ? std::max(sx, lo_) : std::min(sx, hi_);
        int64_t last_in = dir > 0 ? std::min(last, hi_) : std::max(last, lo_);
        int64_t inside = dir > 0 ? last_in - first_in + 1 : first_in - last_in + 1;
        if (inside <= 0) {
            push({dst, len, 0, 0, area});
            return;
        }
        int64_t before = dir > 0 ? first_in - sx : sx - first_in;
        push({dst, before, 0, 0, area});
        push({dst + before, inside, first_in - lo_, dir, area});
        push({dst + before + inside, len - before - inside, 0, 0, area});
    }

    const std::vector<Run>& runs() const { return runs_; }

private:
    void push(Run r) {
        if (r.len <= 0) return;
        if (r.dir == 0 && !runs_.empty() && runs_.back().dir == 0) {
            runs_.back().len += r.len;  // neighbouring fills merge
            return;
        }
        runs_.push_back(r);
    }

    int64_t lo_, hi_;
    std::vector<Run> runs_;
};

// Plain forward copy, one byte after the other. Used where the source and the
// destination are the same row: a pixel may then read one written earlier in the
// same row, which is the result of visiting pixels from the left.
void forward_copy(uint8_t* d, const uint8_t* s, int64_t n) {
    for (int64_t k = 0; k < n; ++k) d[k] = s[k];
}

void descending_copy(uint8_t* d, const uint8_t* s, int64_t n) {
    for (int64_t k = 0; k < n; ++k) d[k] = s[-k];
}

#if defined(__SSE2__)
// The 16 bytes of v in reverse order.
inline __m128i reversed(__m128i v) {
    v = _mm_or_si128(_mm_slli_epi16(v, 8), _mm_srli_epi16(v, 8));  // within words
    v = _mm_shufflelo_epi16(v, 0x1B);                               // words of each half
    v = _mm_shufflehi_epi16(v, 0x1B);
    return _mm_shuffle_epi32(v, 0x4E);                              // the halves
}
#endif

// d[k] = s[-k] where the two do not overlap.
void descending_copy_apart(uint8_t* __restrict d, const uint8_t* __restrict s, int64_t n) {
    int64_t k = 0;
#if defined(__SSE2__)
    for (; k + 16 <= n; k += 16) {
        __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s - k - 15));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(d + k), reversed(v));
    }
#endif
    for (; k < n; ++k) d[k] = s[-k];
}

// Writes one output row. area_row and own_row are the input rows the two kinds of
// run read (null: that row lies outside the input's window, so those pixels read
// the outside cell).
void replay_row(const ColumnMap& map, const uint8_t* area_row, const uint8_t* own_row,
                uint8_t* drow, uint8_t outside) {
    for (const Run& r : map.runs()) {
        const uint8_t* srow = r.area ? area_row : own_row;
        uint8_t* d = drow + r.dst;
        if (!srow || r.dir == 0) {
            std::memset(d, outside, size_t(r.len));
            continue;
        }
        const uint8_t* s = srow + r.src;
        bool same_row = srow == drow;
        if (r.dir > 0) {
            if (!same_row)
                std::memcpy(d, s, size_t(r.len));
            else if (s < d)
                forward_copy(d, s, r.len);  // reads pixels this row already wrote
            else if (s != d)
                std::memmove(d, s, size_t(r.len));  // same as a forward copy here
        } else if (same_row) {
            descending_copy(d, s, r.len);
        } else {
            descending_copy_apart(d, s, r.len);
        }
    }
}

// Row py of plane p of b, or null when py lies outside b's window.
const uint8_t* row_or_null(const ImageBuffer& b, int p, int64_t py) {
    const Rect w = b.rect();
    if (py < w.y1 || py > w.y2 || w.empty()) return nullptr;
    return b.row(p, py);
}

bool has_pixels(const ImageBuffer& b) { return b.width > 0 && b.height > 0; }

Rect intersect(Rect a, const Rect& b) {
    a.x1 = std::max(a.x1, b.x1);
    a.y1 = std::max(a.y1, b.y1);
    a.x2 = std::min(a.x2, b.x2);
    a.y2 = std::min(a.y2, b.y2);
    return a;
}

// Non-negative remainder of a by n (n > 0).
int64_t wrap_mod(int64_t a, int64_t n) {
    int64_t m = a % n;
    return m < 0 ? m + n : m;
}

// Copies plane sp of `in` into plane dp of `out` at the same coordinates over out's
// window (in's outside cell where in does not reach).
void copy_plane(const ImageBuffer& in, int sp, ImageBuffer& out, int dp) {
    if (!has_pixels(out) || (&in == &out && sp == dp)) return;
    ColumnMap map(in);
    map.add(0, out.width, out.window.x1, +1);
    for (int64_t y = out.window.y2; y >= out.window.y1; --y)
        replay_row(map, nullptr, row_or_null(in, sp, y), out.row(dp, y), in.outside[0]);
}

// Lower-left corner of a w × h rectangle anchored at (x, y).
void anchored_corner(Anchor a, int64_t x, int64_t y, int64_t w, int64_t h, int64_t& lx,
                     int64_t& ly) {
    lx = x;
    ly = y;
    switch (a) {
    case Anchor::lt: ly = y - h + 1; break;
    case Anchor::rb: lx = x - w + 1; break;
    case Anchor::rt:
        lx = x - w + 1;
        ly = y - h + 1;
        break;
    case Anchor::center:
        lx = x - w / 2;
        ly = y - h / 2;
        break;
    default: break;
    }
}

void print_components(const ImageBuffer& b) {
    std::fprintf(stderr, "          %s is %d component\n", b.name.c_str(), b.components);
}

// Region words shared by reverse and shift: corners put in order.
Rect ordered_region(int64_t ax, int64_t ay, int64_t bx, int64_t by) {
    return {std::min(ax, bx), std::min(ay, by), std::max(ax, bx), std::max(ay, by)};
}

}  // namespace

// ---- workers ---------------------------------------------------------------------

int copy_region(const char* from, const char* to, const CopyRequest& req) {
    ImageBuffer *src = nullptr, *dst = nullptr;
    if (!find_buffers2(from, to, src, dst)) return 0;

    int mask = 15;
    if (req.key) {
        mask = 0;
        for (const char* k = req.key; *k; ++k) {
            if (*k == 'r') mask |= 1;
            if (*k == 'g') mask |= 2;
            if (*k == 'b') mask |= 4;
            if (*k == 'a') mask |= 8;
            // Other letters are ignored; -e and -k take them for the typos they are.
            if (!std::strchr("rgba", *k))
                note_incomplete("WARNING : copy ignores the letter %c of plane key %s\n", *k,
                                req.key);
        }
    }

    Rect r = src->rect();
    if (!req.whole_window) r = {req.ox, req.oy, req.ox + req.w - 1, req.oy + req.h - 1};
    r = intersect(r, src->rect());
    if (r.empty()) return 1;

    // The target rectangle: r's size, lower-left at the anchored corner.
    int64_t lx = r.x1, ly = r.y1;
    if (req.anchor != Anchor::same)
        anchored_corner(req.anchor, req.x, req.y, r.width(), r.height(), lx, ly);
    int64_t dx = lx - r.x1, dy = ly - r.y1;  // target minus source coordinates
    Rect t = intersect({lx, ly, lx + r.width() - 1, ly + r.height() - 1}, dst->rect());
    if (t.empty()) return 1;

    int planes = std::min(src->components, dst->components);
    for (int p = 0; p < planes; ++p) {
        if (!(mask & (1 << p))) continue;
        for (int64_t ty = t.y2; ty >= t.y1; --ty) {
            const uint8_t* s = src->row(p, ty - dy) + (t.x1 - dx - src->window.x1);
            uint8_t* d = dst->row(p, ty) + (t.x1 - dst->window.x1);
            if (src != dst)
                std::memcpy(d, s, size_t(t.width()));
            else if (dy == 0 && s < d)
                forward_copy(d, s, t.width());  // within one row, rightwards
            else if (s != d)
                std::memmove(d, s, size_t(t.width()));
        }
    }
    return 1;
}

int plane_route(const char* from, const char* to, const char* key) {
    ImageBuffer *src = nullptr, *dst = nullptr;
    if (!find_buffers2(from, to, src, dst)) return 0;

    int64_t key_len = int64_t(std::strlen(key));
    std::vector<int> route;  // source plane per key position, -1 for '.'
    int needed = 0;
    for (const char* k = key; *k; ++k) {
        int sp;
        switch (*k) {
        case 'r': case 'R': sp = 0; break;
        case 'g': case 'G': sp = 1; break;
        case 'b': case 'B': sp = 2; break;
        case 'a': case 'A': case 'o': case 'O': sp = 3; break;
        case '.': sp = -1; break;
        default:
            std::fprintf(stderr, "WARNING : Invalid plane manipulation key (%s)\n", key);
            return 0;
        }
        route.push_back(sp);
        needed = std::max(needed, sp + 1);
    }
    if (src->components < needed) {
        std::fprintf(stderr, "WARNING : input buffer component size missing\n");
        std::fprintf(stderr, "          defined key %s required %d component\n", key, needed);
        std::fprintf(stderr, "          %s has %d component\n", src->name.c_str(),
                     src->components);
        return 0;
    }
    if (dst->components < key_len) {
        std::fprintf(stderr, "WARNING : output buffer component size missing\n");
        std::fprintf(stderr, "          defined key %s required %d component\n", key,
                     int(key_len));
        std::fprintf(stderr, "          %s has %d component\n", dst->name.c_str(),
                     dst->components);
        return 0;
    }
    // In order of the key, so routing a buffer onto itself sees earlier positions.
    for (size_t j = 0; j < route.size(); ++j)
        if (route[j] >= 0) copy_plane(*src, route[j], *dst, int(j));
    return 1;
}

int field_weave(const char* even, const char* odd, const char* out) {
    ImageBuffer *e = nullptr, *o = nullptr, *d = nullptr;
    if (!find_buffers3(even, odd, out, e, o, d)) return 0;
    int planes = 0;
    if (!same_components3(*e, *o, *d, &planes)) {
        std::fprintf(stderr, "WARNING : component type missing\n");
        print_components(*e);
        print_components(*o);
        print_components(*d);
        return 0;
    }
    if (!has_pixels(*d)) return 1;
    ColumnMap even_map(*e), odd_map(*o);
    even_map.add(0, d->width, d->window.x1, +1);
    odd_map.add(0, d->width, d->window.x1, +1);
    for (int p = 0; p < planes; ++p) {
        for (int64_t y = d->window.y2; y >= d->window.y1; --y) {
            // Parity of the picture coordinate; -1 counts as odd.
            const ImageBuffer& src = (y & 1) ? *o : *e;
            replay_row((y & 1) ? odd_map : even_map, nullptr, row_or_null(src, p, y),
                       d->row(p, y), src.outside[0]);
        }
    }
    return 1;
}

int move_buffer(const char* name, Anchor anchor, int64_t x, int64_t y) {
    ImageBuffer* b = find_buffer(name);
    if (!b) {
        std::fprintf(stderr, "WARNING : Can't find buff (name=%s)\n", name);
        return 0;
    }
    int64_t nx = 0, ny = 0;
    if (anchor == Anchor::delta || anchor == Anchor::same) {
        nx = int64_t(b->x) + x;
        ny = int64_t(b->y) + y;
    } else {
        anchored_corner(anchor, x, y, b->width, b->height, nx, ny);
    }
    // Origins are 32-bit picture coordinates; a move past their range wraps.
    b->set_geometry(static_cast<int32_t>(nx), static_cast<int32_t>(ny), b->width, b->height);
    return 1;
}

int reverse_buffer(const char* in, const char* out, bool horizontal, bool vertical,
                   const Rect* region) {
    ImageBuffer *src = nullptr, *dst = nullptr;
    if (!find_buffers2(in, out, src, dst)) return 0;
    if (!has_pixels(*dst)) return 1;
    Rect m = dst->rect();
    if (region) m = intersect(m, *region);
    const int64_t x1 = dst->window.x1, x2 = dst->window.x2;

    ColumnMap same(*src), mirrored(*src);
    same.add(0, dst->width, x1, +1);
    if (!m.empty() && horizontal) {
        mirrored.add(0, m.x1 - x1, x1, +1);
        mirrored.add(m.x1 - x1, m.width(), m.x2, -1, true);
        mirrored.add(m.x2 + 1 - x1, x2 - m.x2, m.x2 + 1, +1);
    } else if (!m.empty()) {
        mirrored.add(0, m.x1 - x1, x1, +1);
        mirrored.add(m.x1 - x1, m.width(), m.x1, +1, true);
        mirrored.add(m.x2 + 1 - x1, x2 - m.x2, m.x2 + 1, +1);
    }

    int planes = std::min(src->components, dst->components);
    for (int p = 0; p < planes; ++p) {
        for (int64_t y = dst->window.y2; y >= dst->window.y1; --y) {
            bool in_area = !m.empty() && y >= m.y1 && y <= m.y2;
            int64_t sy = in_area && vertical ? m.y1 + m.y2 - y : y;
            replay_row(in_area ? mirrored : same, row_or_null(*src, p, sy),
                       row_or_null(*src, p, y), dst->row(p, y), src->outside[0]);
        }
    }
    return 1;
}

int shift_buffer(const char* in, const char* out, int64_t x, int64_t y, const Rect* region,
                 bool wrap_horizontal, bool wrap_vertical) {
    ImageBuffer *src = nullptr, *dst = nullptr;
    if (!find_buffers2(in, out, src, dst)) return 0;
    if (!has_pixels(*dst)) return 1;
    Rect a = dst->rect();
    if (region) a = intersect(a, *region);
    const int64_t x1 = dst->window.x1, x2 = dst->window.x2;

    ColumnMap same(*src), shifted(*src);
    same.add(0, dst->width, x1, +1);
    if (!a.empty()) {
        int64_t n = a.width();
        shifted.add(0, a.x1 - x1, x1, +1);
        if (wrap_horizontal) {
            // Column a.x1 reads a.x1 + k; the columns wrap back to a.x1 after a.x2.
            int64_t k = wrap_mod(-x, n);
            shifted.add(a.x1 - x1, n - k, a.x1 + k, +1, true);
            shifted.add(a.x1 - x1 + n - k, k, a.x1, +1, true);
        } else {
            shifted.add(a.x1 - x1, n, a.x1 - x, +1, true);
        }
        shifted.add(a.x2 + 1 - x1, x2 - a.x2, a.x2 + 1, +1);
    }

    int planes = std::min(src->components, dst->components);
    for (int p = 0; p < planes; ++p) {
        for (int64_t qy = dst->window.y2; qy >= dst->window.y1; --qy) {
            bool in_area = !a.empty() && qy >= a.y1 && qy <= a.y2;
            int64_t sy = qy;
            if (in_area)
                sy = wrap_vertical ? a.y1 + wrap_mod(qy - y - a.y1, a.height()) : qy - y;
            replay_row(in_area ? shifted : same, row_or_null(*src, p, sy),
                       row_or_null(*src, p, qy), dst->row(p, qy), src->outside[0]);
        }
    }
    return 1;
}

// ---- commands --------------------------------------------------------------------

namespace {

void plane_help(const char* word, int mode) {
    if (mode != 1) return print_summary(word, "buff plane manipulation");
    std::fprintf(stderr, "Usage : %s fromBuffName toBuffName Key\n", word);
    std::fputs("[key]\n", stderr);
    std::fputs("  r :   red plane ( component #0 )\n", stderr);
    std::fputs("  g : green plane ( component #1 )\n", stderr);
    std::fputs("  b :  blue plane ( component #2 )\n", stderr);
    std::fputs("  a : alpha plane ( component #3 )\n", stderr);
    std::fputs("  . : no operation\n", stderr);
    std::fputs("[Sample]\n", stderr);
    std::fprintf(stderr, "(1)  %s buffA buffB abgr\n", word);
    std::fputs("        buffA.alpha -> buffB.red\n", stderr);
    std::fputs("        buffA.blue  -> buffB.green\n", stderr);
    std::fputs("        buffA.green -> buffB.blue\n", stderr);
    std::fputs("        buffA.red   -> buffB.alpha\n", stderr);
    std::fputs("\n", stderr);
    std::fprintf(stderr, "(2)  %s buffA buffB ...r\n", word);
    std::fputs("        buffA.red   -> buffB.alpha\n", stderr);
    std::fputs("\n", stderr);
    std::fprintf(stderr, "(3)  %s buffA buffB rrra\n", word);
    std::fputs("        buffA.red   -> buffB.red,green,blue\n", stderr);
    std::fputs("        buffA.alpha -> buffB.alpha\n", stderr);
}

void field_help(const char* word, int mode) {
    if (mode != 1) return print_summary(word, "buff field manipulation");
    std::fprintf(stderr, "Usage : %s EVENbuffName ODDbuffName outBuffName\n", word);
}

void copy_help(const char* word, int mode) {
    if (mode != 1) return print_summary(word, "copy buff");
    std::fprintf(stderr, "Usage : %s [-options] fromBuffName toBuffName\n", word);
    static const char* const lines[] = {
        "[Options]\n",
        "  --- about source window ---\n",
        "  -s ox oy w h   : source window size & origin set type1\n",
        "  -w x1 y1 x2 y2 : source window size & origin set type2\n",
        "  -f : full source window\n",
        "\n",
        "  --- about copy plane ---\n",
        "  -p Key : copy plane definition\n",
        "     key : r :   red plane ( component #0 )\n",
        "           g : green plane ( component #1 )\n",
        "           b :  blue plane ( component #2 )\n",
        "           a : alpha plane ( component #3 )\n",
        "     Ex. :  rb <- red and blue plane copy\n",
        "           rgb <- red green and blue plane copy\n",
        "  -pf : full plane copy mode\n",
        "\n",
        "  --- about destination window ---\n",
        "  -lb x y : destination window left  bottom position\n",
        "  -lt x y : destination window left     top position\n",
        "  -rb x y : destination window right bottom position\n",
        "  -rt x y : destination window right    top position\n",
        "  -c  x y : destination window       center position\n",
        "  -n : destination window == source window\n",
        "[Default]\n",
        "  -f\n",
        "  -pf\n",
        "  -n\n",
    };
    for (const char* l : lines) std::fputs(l, stderr);
}

void move_help(const char* word, int mode) {
    if (mode != 1) return print_summary(word, "move buff");
    std::fprintf(stderr, "Usage : %s [-options] BuffName\n", word);
    static const char* const lines[] = {
        "[Options]\n",
        "  -lb x y : destinate left  bottom position\n",
        "  -lt x y : destinate left     top position\n",
        "  -rb x y : destinate right bottom position\n",
        "  -rt x y : destinate right    top position\n",
        "  -c  x y : destinate       center position\n",
        "  -d  x y : delta move value set\n",
        "[Default]\n",
        "  -d 0 0\n",
    };
    for (const char* l : lines) std::fputs(l, stderr);
}

void reverse_help(const char* word, int mode) {
    if (mode != 1) return print_summary(word, "reverse image");
    std::fprintf(stderr, "Usage : %s [-options] inBuff outBuff\n", word);
    static const char* const lines[] = {
        "[Options]\n",
        " -rh : reverse horizontal\n",
        " -rv : reverse vertical\n",
        " -s ox oy w h : window size & origin set\n",
        " -w x1 y1 x2 y2 : window size & origin set\n",
        " -f : full window mode\n",
        "[Default]\n",
        " -rh\n",
        " -rv\n",
        " -f\n",
    };
    for (const char* l : lines) std::fputs(l, stderr);
}

void shift_help(const char* word, int mode) {
    if (mode != 1) return print_summary(word, "shift image");
    std::fprintf(stderr, "Usage : %s [-options] x y inBuff outBuff\n", word);
    static const char* const lines[] = {
        "[Options]\n",
        " -s ox oy w h : window size & origin set\n",
        " -w x1 y1 x2 y2 : window size & origin set\n",
        " -f : full window mode\n",
        " -nh : no repeat image (horizontal)\n",
        " -nv : no repeat image (vertical)\n",
        "[Default]\n",
        " -f\n",
    };
    for (const char* l : lines) std::fputs(l, stderr);
}

// The anchor named by a placement word, or Anchor::same when it names none.
Anchor anchor_word(const char* w) {
    if (same_word(w, "-lb")) return Anchor::lb;
    if (same_word(w, "-lt")) return Anchor::lt;
    if (same_word(w, "-rb")) return Anchor::rb;
    if (same_word(w, "-rt")) return Anchor::rt;
    if (same_word(w, "-c")) return Anchor::center;
    return Anchor::same;
}

// Reads the "-s ox oy w h" or "-w x1 y1 x2 y2" words at argv[i] into an ordered
// region (the caller has checked that four words follow).
Rect region_words(char** argv, int i, bool size_form) {
    int64_t a = to_int(argv[i + 1]), b = to_int(argv[i + 2]);
    int64_t c = to_int(argv[i + 3]), d = to_int(argv[i + 4]);
    if (size_form) return ordered_region(a, b, a + c - 1, b + d - 1);
    return ordered_region(a, b, c, d);
}

}  // namespace

int cmd_plane(int argc, char** argv) {
    if (answer_help(argc, argv, plane_help)) return 1;
    if (argc != 4) return command_error("You must define buffer name", argv[0], plane_help);
    return plane_route(argv[1], argv[2], argv[3]);
}

int cmd_field(int argc, char** argv) {
    if (answer_help(argc, argv, field_help)) return 1;
    if (argc != 4)
        return command_error("You must define even, odd, and out buff name", argv[0],
                             field_help);
    return field_weave(argv[1], argv[2], argv[3]);
}

int cmd_copy(int argc, char** argv) {
    if (answer_help(argc, argv, copy_help)) return 1;
    CopyRequest req;
    const char* names[2] = {nullptr, nullptr};
    int count = 0;
    for (int i = 1; i < argc; ++i) {
        const char* w = argv[i];
        Anchor a = anchor_word(w);
        if (same_word(w, "-s")) {
            if (!need_args(argc, argv, i, 4, copy_help)) return 0;
            req.whole_window = false;
            req.ox = to_int(argv[i + 1]);
            req.oy = to_int(argv[i + 2]);
            req.w = to_int(argv[i + 3]);
            req.h = to_int(argv[i + 4]);
            i += 4;
        } else if (same_word(w, "-w")) {
            if (!need_args(argc, argv, i, 4, copy_help)) return 0;
            Rect r = region_words(argv, i, false);  // corners in any order
            req.whole_window = false;
            req.ox = r.x1;
            req.oy = r.y1;
            req.w = r.width();
            req.h = r.height();
            i += 4;
        } else if (same_word(w, "-f")) {
            req.whole_window = true;
        } else if (same_word(w, "-p")) {
            if (!need_args(argc, argv, i, 1, copy_help)) return 0;
            req.key = argv[++i];
        } else if (same_word(w, "-pf")) {
            req.key = nullptr;
        } else if (a != Anchor::same) {
            if (!need_args(argc, argv, i, 2, copy_help)) return 0;
            req.anchor = a;
            req.x = to_int(argv[i + 1]);
            req.y = to_int(argv[i + 2]);
            i += 2;
        } else if (same_word(w, "-n")) {
            req.anchor = Anchor::same;
        } else {
            if (count == 2) return command_error("Invalid argment", argv[0], copy_help);
            names[count++] = w;
        }
    }
    if (count != 2) return command_error("You must define buffer name", argv[0], copy_help);
    return copy_region(names[0], names[1], req);
}

int cmd_move(int argc, char** argv) {
    if (answer_help(argc, argv, move_help)) return 1;
    Anchor anchor = Anchor::delta;
    int64_t x = 0, y = 0;
    const char* name = nullptr;
    for (int i = 1; i < argc; ++i) {
        const char* w = argv[i];
        Anchor a = same_word(w, "-d") ? Anchor::delta : anchor_word(w);
        if (a != Anchor::same) {
            if (!need_args(argc, argv, i, 2, move_help)) return 0;
            anchor = a;
            x = to_int(argv[i + 1]);
            y = to_int(argv[i + 2]);
            i += 2;
        } else {
            if (name) return command_error("Invalid argment", argv[0], move_help);
            name = w;
        }
    }
    if (!name) return command_error("You must define buffer name", argv[0], move_help);
    return move_buffer(name, anchor, x, y);
}

int cmd_reverse(int argc, char** argv) {
    if (answer_help(argc, argv, reverse_help)) return 1;
    bool horizontal = false, vertical = false, has_region = false;
    Rect region;
    const char* names[2] = {nullptr, nullptr};
    int count = 0;
    for (int i = 1; i < argc; ++i) {
        const char* w = argv[i];
        if (same_word(w, "-rh")) {
            horizontal = true;
        } else if (same_word(w, "-rv")) {
            vertical = true;
        } else if (same_word(w, "-s") || same_word(w, "-w")) {
            if (!need_args(argc, argv, i, 4, reverse_help)) return 0;
            region = region_words(argv, i, same_word(w, "-s"));
            has_region = true;
            i += 4;
        } else if (same_word(w, "-f")) {
            has_region = false;
        } else {
            if (count == 2) return command_error("Invalid argment", argv[0], reverse_help);
            names[count++] = w;
        }
    }
    if (count != 2)
        return command_error("You must define in/out buffer name", argv[0], reverse_help);
    if (!horizontal && !vertical) horizontal = vertical = true;
    return reverse_buffer(names[0], names[1], horizontal, vertical,
                          has_region ? &region : nullptr);
}

int cmd_shift(int argc, char** argv) {
    if (answer_help(argc, argv, shift_help)) return 1;
    bool wrap_h = true, wrap_v = true, has_region = false;
    Rect region;
    const char* words[4] = {nullptr, nullptr, nullptr, nullptr};
    int count = 0;
    for (int i = 1; i < argc; ++i) {
        const char* w = argv[i];
        if (same_word(w, "-s") || same_word(w, "-w")) {
            if (!need_args(argc, argv, i, 4, shift_help)) return 0;
            region = region_words(argv, i, same_word(w, "-s"));
            has_region = true;
            i += 4;
        } else if (same_word(w, "-f")) {
            has_region = false;
        } else if (same_word(w, "-nh")) {
            wrap_h = false;
        } else if (same_word(w, "-nv")) {
            wrap_v = false;
        } else {
            if (count == 4) return command_error("Invalid argment", argv[0], shift_help);
            words[count++] = w;
        }
    }
    if (count != 4)
        return command_error("You must define x y in/out buffer name", argv[0], shift_help);
    return shift_buffer(words[2], words[3], to_int(words[0]), to_int(words[1]),
                        has_region ? &region : nullptr, wrap_h, wrap_v);
}
