// Unit tests of plane, field, copy, move, reverse and shift: the documented
// examples, random comparisons with per-pixel transcriptions that visit pixels in
// the documented order (in place included), and the command messages.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "buffer/image_buffer.h"
#include "buffer/rearrange.h"
#include "tests/command_helpers.h"
#include "tests/kqc_runner.h"

namespace {

class Rearrange : public ::testing::Test {
protected:
    void SetUp() override { clear_registry(); }
    void TearDown() override { clear_registry(); }
};

// Plane p of a buffer filled with value(p, x, y) at every pixel.
template <class F>
ImageBuffer* filled(const char* name, int x, int y, int w, int h, int comps, F value) {
    ImageBuffer* b = make_buffer(name, x, y, w, h, comps);
    for (int p = 0; p < comps; ++p)
        for (int py = b->window.y1; py <= b->window.y2; ++py)
            for (int px = b->window.x1; px <= b->window.x2; ++px)
                store_pixel(*b, px, py, p, value(p, px, py));
    return b;
}

// A pixel's own coordinates packed into a byte, different per plane.
int coded(int p, int x, int y) { return (x * 7 + y * 31 + p * 64) & 255; }

std::vector<uint8_t> planes_of(const ImageBuffer& b) {
    std::vector<uint8_t> v;
    for (int p = 0; p < b.components; ++p)
        v.insert(v.end(), b.plane[p], b.plane[p] + b.plane_size());
    return v;
}

// Mostly small, sometimes wide enough for the 16-byte loops.
ImageBuffer* random_buffer(const char* name, std::mt19937& rng, int comps) {
    int w = 1 + int(rng() % (rng() % 4 ? 9 : 48)), h = 1 + int(rng() % 9);
    ImageBuffer* b = make_buffer(name, int(rng() % 9) - 4, int(rng() % 9) - 4, w, h, comps);
    for (int p = 0; p < comps; ++p)
        for (int64_t i = 0; i < b->plane_size(); ++i) b->plane[p][i] = uint8_t(rng());
    b->outside[0] = uint8_t(rng() % 3 == 0 ? rng() : 0);
    return b;
}

// Same geometry, planes and outside cell under another name.
ImageBuffer* twin(const ImageBuffer& b, const char* name) {
    ImageBuffer* t = make_buffer(name, b.x, b.y, b.width, b.height, b.components);
    for (int p = 0; p < b.components; ++p)
        std::memcpy(t->plane[p], b.plane[p], size_t(b.plane_size()));
    t->outside = b.outside;
    return t;
}

Rect random_region(std::mt19937& rng) {
    int x1 = int(rng() % 13) - 6, y1 = int(rng() % 13) - 6;
    return {x1, y1, x1 + int(rng() % (rng() % 2 ? 8 : 48)), y1 + int(rng() % 8)};
}

Rect intersect(Rect a, const Rect& b) {
    return {std::max(a.x1, b.x1), std::max(a.y1, b.y1), std::min(a.x2, b.x2),
            std::min(a.y2, b.y2)};
}

bool inside(const Rect& r, int64_t x, int64_t y) {
    return x >= r.x1 && x <= r.x2 && y >= r.y1 && y <= r.y2;
}

// The mirror, pixel by pixel: rows from the top, pixels from the left.
void plain_reverse(ImageBuffer& in, ImageBuffer& out, bool h, bool v, const Rect* region) {
    Rect m = out.rect();
    if (region) m = intersect(m, *region);
    int planes = std::min(in.components, out.components);
    for (int64_t y = out.window.y2; y >= out.window.y1; --y)
        for (int64_t x = out.window.x1; x <= out.window.x2; ++x)
            for (int p = 0; p < planes; ++p) {
                bool in_m = !m.empty() && inside(m, x, y);
                int64_t sx = in_m && h ? m.x1 + m.x2 - x : x;
                int64_t sy = in_m && v ? m.y1 + m.y2 - y : y;
                pixel_address(out, p, x, y) = pixel_address(in, p, sx, sy);
            }
}

int64_t wrap(int64_t v, int64_t lo, int64_t hi) {
    int64_t n = hi - lo + 1;
    if (v < lo) return hi - ((lo - v - 1) % n);
    if (v > hi) return lo + ((v - hi - 1) % n);
    return v;
}

// The shift, pixel by pixel, in the same order.
void plain_shift(ImageBuffer& in, ImageBuffer& out, int64_t dx, int64_t dy, const Rect* region,
                 bool wrap_h, bool wrap_v) {
    Rect a = out.rect();
    if (region) a = intersect(a, *region);
    int planes = std::min(in.components, out.components);
    for (int64_t y = out.window.y2; y >= out.window.y1; --y)
        for (int64_t x = out.window.x1; x <= out.window.x2; ++x)
            for (int p = 0; p < planes; ++p) {
                int64_t sx = x, sy = y;
                if (!a.empty() && inside(a, x, y)) {
                    sx = wrap_h ? wrap(x - dx, a.x1, a.x2) : x - dx;
                    sy = wrap_v ? wrap(y - dy, a.y1, a.y2) : y - dy;
                }
                pixel_address(out, p, x, y) = pixel_address(in, p, sx, sy);
            }
}

// The rectangle copy, pixel by pixel, in the same order.
void plain_copy(ImageBuffer& s, ImageBuffer& d, const CopyRequest& req) {
    Rect r = req.whole_window
                 ? s.rect()
                 : Rect{req.ox, req.oy, req.ox + req.w - 1, req.oy + req.h - 1};
    r = intersect(r, s.rect());
    if (r.empty()) return;
    int64_t w = r.width(), h = r.height(), lx = r.x1, ly = r.y1, x = req.x, y = req.y;
    switch (req.anchor) {
    case Anchor::lb: lx = x, ly = y; break;
    case Anchor::lt: lx = x, ly = y - h + 1; break;
    case Anchor::rb: lx = x - w + 1, ly = y; break;
    case Anchor::rt: lx = x - w + 1, ly = y - h + 1; break;
    case Anchor::center: lx = x - w / 2, ly = y - h / 2; break;
    default: break;
    }
    Rect t = intersect({lx, ly, lx + w - 1, ly + h - 1}, d.rect());
    int mask = 15;
    if (req.key) {
        mask = 0;
        for (const char* k = req.key; *k; ++k)
            mask |= *k == 'r' ? 1 : *k == 'g' ? 2 : *k == 'b' ? 4 : *k == 'a' ? 8 : 0;
    }
    for (int64_t ty = t.y2; ty >= t.y1; --ty)
        for (int64_t tx = t.x1; tx <= t.x2; ++tx)
            for (int p = 0; p < std::min(s.components, d.components); ++p)
                if (mask & (1 << p))
                    pixel_address(d, p, tx, ty) = pixel_address(s, p, tx - lx + r.x1, ty - ly + r.y1);
}

TEST_F(Rearrange, ReverseAndShiftMatchThePixelOrder) {
    std::mt19937 rng(42);
    for (int trial = 0; trial < 3000; ++trial) {
        bool same = trial % 4 == 0;  // in place: the input is also the output
        ImageBuffer* in = random_buffer("in", rng, 1 + int(rng() % 2) * 3);
        ImageBuffer* out = same ? in : random_buffer("out", rng, rng() % 2 ? 4 : 1);
        ImageBuffer* in2 = twin(*in, "in2");
        ImageBuffer* out2 = same ? in2 : twin(*out, "out2");
        Rect region = random_region(rng);
        const Rect* rp = rng() % 3 ? &region : nullptr;
        const char* out_name = same ? "in" : "out";
        const char* out2_name = same ? "in2" : "out2";
        if (trial % 2) {
            bool h = rng() % 2, v = rng() % 2;
            ASSERT_EQ(reverse_buffer("in", out_name, h, v, rp), 1);
            plain_reverse(*in2, *out2, h, v, rp);
        } else {
            int dx = int(rng() % 31) - 15, dy = int(rng() % 31) - 15;
            bool wh = rng() % 3, wv = rng() % 3;
            ASSERT_EQ(shift_buffer("in", out_name, dx, dy, rp, wh, wv), 1);
            plain_shift(*in2, *out2, dx, dy, rp, wh, wv);
        }
        ASSERT_EQ(planes_of(*find_buffer(out_name)), planes_of(*find_buffer(out2_name)))
            << "trial " << trial;
        clear_registry();
    }
}

TEST_F(Rearrange, CopyRegionMatchesThePixelOrder) {
    std::mt19937 rng(7);
    const char* keys[] = {"rgba", "rb", "a", "RB", "gx"};
    for (int trial = 0; trial < 3000; ++trial) {
        bool same = trial % 3 == 0;
        ImageBuffer* s = random_buffer("s", rng, rng() % 2 ? 4 : 3);
        ImageBuffer* d = same ? s : random_buffer("d", rng, rng() % 2 ? 4 : 1);
        ImageBuffer* s2 = twin(*s, "s2");
        ImageBuffer* d2 = same ? s2 : twin(*d, "d2");
        CopyRequest req;
        if (rng() % 2) {
            req.whole_window = false;
            req.ox = int(rng() % 13) - 6;
            req.oy = int(rng() % 13) - 6;
            req.w = int(rng() % 10) - 1;
            req.h = int(rng() % 10) - 1;
        }
        if (rng() % 2) req.key = keys[rng() % 5];
        req.anchor = Anchor(rng() % 6);
        req.x = int(rng() % 15) - 7;
        req.y = int(rng() % 15) - 7;
        ASSERT_EQ(copy_region("s", same ? "s" : "d", req), 1);
        plain_copy(*s2, *d2, req);
        ASSERT_EQ(planes_of(*find_buffer(same ? "s" : "d")), planes_of(*d2)) << trial;
        clear_registry();
    }
}

TEST_F(Rearrange, CopyExamples) {
    filled("a", 10, 10, 20, 20, 4, coded);
    filled("b", 0, 0, 200, 200, 4, [](int, int, int) { return 1; });
    ASSERT_EQ(run_line("copy a b -lb 100 100"), 1);
    EXPECT_EQ(sample("b", 2, 100, 100), coded(2, 10, 10));
    EXPECT_EQ(sample("b", 3, 119, 119), coded(3, 29, 29));
    EXPECT_EQ(sample("b", 0, 120, 119), 1);

    // Only the part of the rectangle inside a's window is copied.
    filled("b", 0, 0, 20, 20, 4, [](int, int, int) { return 1; });
    filled("a", 0, 0, 20, 20, 4, coded);
    ASSERT_EQ(run_line("copy a b -s -5 0 10 10 -lb 0 0"), 1);
    EXPECT_EQ(sample("b", 0, 0, 0), coded(0, 0, 0));
    EXPECT_EQ(sample("b", 0, 4, 9), coded(0, 4, 9));
    EXPECT_EQ(sample("b", 0, 5, 0), 1);
    EXPECT_EQ(sample("b", 0, 0, 10), 1);

    // Plane keys: lower case only.
    filled("b", 0, 0, 20, 20, 4, [](int, int, int) { return 1; });
    ASSERT_EQ(run_line("copy -p rb a b"), 1);
    EXPECT_EQ(sample("b", 0, 3, 3), coded(0, 3, 3));
    EXPECT_EQ(sample("b", 1, 3, 3), 1);
    EXPECT_EQ(sample("b", 2, 3, 3), coded(2, 3, 3));
    ASSERT_EQ(run_line("copy -p RB a b -pf -p . "), 1);
    EXPECT_EQ(sample("b", 1, 3, 3), 1);

    // Same coordinates by default; pixels of b outside a keep their values.
    filled("b", 15, -5, 10, 10, 3, [](int, int, int) { return 1; });
    ASSERT_EQ(run_line("copy a b"), 1);
    EXPECT_EQ(sample("b", 2, 19, 4), coded(2, 19, 4));
    EXPECT_EQ(sample("b", 2, 20, 4), 1);
    EXPECT_EQ(sample("b", 0, 15, -1), 1);

    // Corners in any order for -w; the other anchors and the centre.
    filled("b", 0, 0, 50, 50, 4, [](int, int, int) { return 1; });
    ASSERT_EQ(run_line("copy a b -w 5 6 2 3 -rt 40 40"), 1);  // 4 x 4 from (2, 3)
    EXPECT_EQ(sample("b", 0, 37, 37), coded(0, 2, 3));
    EXPECT_EQ(sample("b", 0, 40, 40), coded(0, 5, 6));
    ASSERT_EQ(run_line("copy a b -s 0 0 5 3 -c 20 20"), 1);  // lower-left (18, 19)
    EXPECT_EQ(sample("b", 0, 18, 19), coded(0, 0, 0));
    EXPECT_EQ(sample("b", 0, 22, 21), coded(0, 4, 2));
    ASSERT_EQ(run_line("copy a b -s 0 0 5 3 -lt 0 49"), 1);
    EXPECT_EQ(sample("b", 0, 0, 47), coded(0, 0, 0));
    ASSERT_EQ(run_line("copy a b -s 0 0 5 3 -rb 49 0"), 1);
    EXPECT_EQ(sample("b", 0, 49, 2), coded(0, 4, 2));
}

TEST_F(Rearrange, CopyWithinOneBufferSeesItsOwnWrites) {
    // Rightwards in one row: each pixel reads the one five places left, which
    // this copy has already written, so the first five repeat along the row.
    ImageBuffer* a = filled("a", 0, 0, 12, 1, 1, [](int, int x, int) { return x; });
    ASSERT_EQ(copy_region("a", "a", {.anchor = Anchor::lb, .x = 5, .y = 0}), 1);
    const uint8_t row[12] = {0, 1, 2, 3, 4, 0, 1, 2, 3, 4, 0, 1};
    EXPECT_EQ(std::memcmp(a->plane[0], row, 12), 0);
    // Leftwards the source is still unwritten: a plain move.
    a = filled("a", 0, 0, 12, 1, 1, [](int, int x, int) { return x; });
    ASSERT_EQ(copy_region("a", "a", {.anchor = Anchor::lb, .x = -5, .y = 0}), 1);
    EXPECT_EQ(a->plane[0][0], 5);
    EXPECT_EQ(a->plane[0][6], 11);
    EXPECT_EQ(a->plane[0][7], 7);
    // Downwards (rows from the top) the rows repeat; upwards they move.
    a = filled("a", 0, 0, 1, 6, 1, [](int, int, int y) { return y; });
    ASSERT_EQ(copy_region("a", "a", {.anchor = Anchor::lb, .x = 0, .y = -2}), 1);
    EXPECT_EQ(sample("a", 0, 0, 0), 4);
    EXPECT_EQ(sample("a", 0, 0, 1), 5);
    EXPECT_EQ(sample("a", 0, 0, 2), 4);
    EXPECT_EQ(sample("a", 0, 0, 3), 5);
}

TEST_F(Rearrange, PlaneRoutes) {
    auto value = [](int p, int, int) { return 10 * (p + 1); };
    filled("A", 0, 0, 4, 4, 4, value);
    ImageBuffer* b = filled("B", 0, 0, 4, 4, 4, [](int, int, int) { return 1; });
    ASSERT_EQ(run_line("plane A B abgr"), 1);
    EXPECT_EQ(sample("B", 0, 1, 1), 40);
    EXPECT_EQ(sample("B", 1, 1, 1), 30);
    EXPECT_EQ(sample("B", 2, 1, 1), 20);
    EXPECT_EQ(sample("B", 3, 1, 1), 10);
    b = filled("B", 0, 0, 4, 4, 4, [](int, int, int) { return 1; });
    ASSERT_EQ(run_line("plane A B ...r"), 1);
    EXPECT_EQ(sample("B", 0, 2, 2), 1);
    EXPECT_EQ(sample("B", 3, 2, 2), 10);
    ASSERT_EQ(run_line("plane A B RgBO"), 1);  // upper case and o name planes too
    EXPECT_EQ(sample("B", 3, 2, 2), 40);

    // One plane into three; a smaller source reads its outside cell elsewhere.
    ImageBuffer* one = filled("one", 1, 1, 2, 2, 1, [](int, int, int) { return 77; });
    one->outside[0] = 5;
    ASSERT_EQ(run_line("plane one B rrr"), 1);
    EXPECT_EQ(sample("B", 1, 1, 1), 77);
    EXPECT_EQ(sample("B", 2, 2, 2), 77);
    EXPECT_EQ(sample("B", 0, 0, 0), 5);
    EXPECT_EQ(sample("B", 0, 3, 2), 5);
    EXPECT_EQ(sample("B", 3, 0, 0), 40);

    // A buffer routed onto itself: positions apply in order.
    filled("A", 0, 0, 4, 4, 4, value);
    ASSERT_EQ(run_line("plane A A abgr"), 1);
    EXPECT_EQ(sample("A", 0, 0, 0), 40);
    EXPECT_EQ(sample("A", 1, 0, 0), 30);
    EXPECT_EQ(sample("A", 2, 0, 0), 30);  // green, already replaced by blue
    EXPECT_EQ(sample("A", 3, 0, 0), 40);

    // Failing keys change nothing.
    filled("rgb", 0, 0, 4, 4, 3, value);
    b = filled("B", 0, 0, 4, 4, 4, [](int, int, int) { return 1; });
    ImageBuffer* small = make_buffer("small", 0, 0, 4, 4, 3);
    testing::internal::CaptureStderr();
    EXPECT_EQ(run_line("plane A B rgbx"), 0);
    EXPECT_EQ(run_line("plane rgb B rgba"), 0);
    EXPECT_EQ(run_line("plane A small r..."), 0);
    EXPECT_EQ(run_line("plane A nope rg"), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "WARNING : Invalid plane manipulation key (rgbx)\n"
              "WARNING : input buffer component size missing\n"
              "          defined key rgba required 4 component\n"
              "          rgb has 3 component\n"
              "WARNING : output buffer component size missing\n"
              "          defined key r... required 4 component\n"
              "          small has 3 component\n"
              "WARNING : Can't find buff (name=nope)\n");
    EXPECT_EQ(planes_of(*b), std::vector<uint8_t>(64, 1));
    (void)small;
}

TEST_F(Rearrange, FieldWeavesByParity) {
    filled("even", 0, -3, 3, 6, 3, [](int, int, int) { return 10; });
    ImageBuffer* odd = filled("odd", 0, -3, 3, 6, 3, [](int, int, int) { return 20; });
    odd->outside[0] = 99;
    make_buffer("out", 0, -4, 4, 7, 3);
    ASSERT_EQ(run_line("field even odd out"), 1);
    EXPECT_EQ(sample("out", 0, 0, 0), 10);
    EXPECT_EQ(sample("out", 1, 2, 1), 20);
    EXPECT_EQ(sample("out", 2, 2, -1), 20);  // -1 is odd
    EXPECT_EQ(sample("out", 2, 2, -2), 10);
    EXPECT_EQ(sample("out", 0, 3, 1), 99);   // beyond odd's window: its outside cell
    EXPECT_EQ(sample("out", 0, 1, -4), 0);   // beyond even's window
    make_buffer("one", 0, 0, 3, 6, 1);
    testing::internal::CaptureStderr();
    EXPECT_EQ(field_weave("even", "one", "out"), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "WARNING : component type missing\n"
              "          even is 3 component\n"
              "          one is 1 component\n"
              "          out is 3 component\n");
}

TEST_F(Rearrange, MoveSetsTheOrigin) {
    ImageBuffer* a = filled("a", 0, 0, 640, 480, 1, coded);
    auto pixels = planes_of(*a);
    ASSERT_EQ(run_line("move a -c 0 0"), 1);
    EXPECT_EQ(a->x, -320);
    EXPECT_EQ(a->window.y2, 239);
    ASSERT_EQ(run_line("move -d 5 -5 a"), 1);
    EXPECT_EQ(a->x, -315);
    EXPECT_EQ(a->y, -245);
    ASSERT_EQ(run_line("move a -lt 1 100"), 1);
    EXPECT_EQ(a->y, -379);
    ASSERT_EQ(run_line("move a -rb 1 1 -d 2 2 -rt 639 479"), 1);  // the last one counts
    EXPECT_EQ(a->x, 0);
    EXPECT_EQ(a->y, 0);
    ASSERT_EQ(run_line("move a"), 1);
    EXPECT_EQ(a->window.x2, 639);
    EXPECT_EQ(planes_of(*a), pixels);
    ImageBuffer* odd = make_buffer("odd", 0, 0, 5, 3, 1);
    ASSERT_EQ(move_buffer("odd", Anchor::center, 0, 0), 1);
    EXPECT_EQ(odd->x, -2);
    EXPECT_EQ(odd->y, -1);
}

TEST_F(Rearrange, ReverseExamples) {
    filled("a", 0, 0, 10, 10, 1, coded);
    make_buffer("b", 0, 0, 10, 10, 1);
    ASSERT_EQ(run_line("reverse a b"), 1);
    EXPECT_EQ(sample("b", 0, 0, 0), coded(0, 9, 9));
    EXPECT_EQ(sample("b", 0, 2, 7), coded(0, 7, 2));
    ASSERT_EQ(run_line("reverse a b -rh"), 1);
    EXPECT_EQ(sample("b", 0, 2, 7), coded(0, 7, 7));
    ASSERT_EQ(run_line("reverse -rv a b"), 1);
    EXPECT_EQ(sample("b", 0, 2, 7), coded(0, 2, 2));
    filled("a", 0, 0, 20, 20, 1, coded);
    make_buffer("b", 0, 0, 20, 20, 1);
    ASSERT_EQ(run_line("reverse a b -rh -s 0 0 10 10"), 1);
    EXPECT_EQ(sample("b", 0, 0, 3), coded(0, 9, 3));
    EXPECT_EQ(sample("b", 0, 12, 3), coded(0, 12, 3));
    EXPECT_EQ(sample("b", 0, 3, 12), coded(0, 3, 12));
    ASSERT_EQ(run_line("reverse a b -w 9 9 0 0 -f"), 1);  // -f drops the region
    EXPECT_EQ(sample("b", 0, 0, 0), coded(0, 19, 19));

    // In place, left to right: the left half takes the mirrored right half, then
    // the right half reads those pixels back, so it keeps its values.
    ImageBuffer* r = filled("r", 0, 0, 6, 1, 1, [](int, int x, int) { return x; });
    ASSERT_EQ(run_line("reverse -rh r r"), 1);
    const uint8_t row[6] = {5, 4, 3, 3, 4, 5};
    EXPECT_EQ(std::memcmp(r->plane[0], row, 6), 0);
}

TEST_F(Rearrange, ShiftExamples) {
    ImageBuffer* a = filled("a", 0, 0, 10, 2, 1, [](int, int x, int) { return x + 1; });
    make_buffer("b", 0, 0, 10, 2, 1);
    ASSERT_EQ(run_line("shift 1 0 a b"), 1);
    EXPECT_EQ(sample("b", 0, 0, 0), 10);
    EXPECT_EQ(sample("b", 0, 5, 1), 5);
    ASSERT_EQ(run_line("shift 1 0 a b -nh"), 1);
    EXPECT_EQ(sample("b", 0, 0, 0), 0);
    EXPECT_EQ(sample("b", 0, 1, 0), 1);
    ASSERT_EQ(run_line("shift -23 0 a b"), 1);  // wraps by the remainder
    EXPECT_EQ(sample("b", 0, 0, 0), 4);
    EXPECT_EQ(sample("b", 0, 7, 0), 1);

    // Vertical, with a region and the other rows copied.
    a = filled("a", 0, 0, 3, 6, 1, [](int, int, int y) { return y + 1; });
    make_buffer("b", 0, 0, 3, 6, 1);
    ASSERT_EQ(run_line("shift 0 1 -s 0 0 3 3 a b"), 1);
    EXPECT_EQ(sample("b", 0, 1, 0), 3);
    EXPECT_EQ(sample("b", 0, 1, 2), 2);
    EXPECT_EQ(sample("b", 0, 1, 4), 5);
    ASSERT_EQ(run_line("shift 0 1 -nv -w 0 2 2 0 a b"), 1);  // reads row -1: outside
    EXPECT_EQ(sample("b", 0, 1, 0), 0);

    // In place, one to the right: every pixel ends up with the last column's value.
    ImageBuffer* r = filled("r", 0, 0, 5, 1, 1, [](int, int x, int) { return x; });
    ASSERT_EQ(shift_buffer("r", "r", 1, 0, nullptr, true, true), 1);
    EXPECT_EQ(planes_of(*r), std::vector<uint8_t>(5, 4));
    (void)a;
}

std::string usage_of(const std::string& command) {
    auto r = run_kqc(command + " -h\n");
    return r.err;
}

TEST(RearrangeCommands, ArgumentErrors) {
    auto r = run_kqc(
        "create a -s 0 0 4 4\n"
        "plane a a\n"
        "field a a\n"
        "copy a\n"
        "copy a a a\n"
        "copy a a -s 1 2 3\n"
        "move\n"
        "move a a\n"
        "move nobody\n"
        "reverse a\n"
        "reverse a a a -rh\n"
        "shift 1 2 a\n"
        "shift 1 2 a a a\n"
        "shift a a -w 1 2\n"
        "plane ?\nfield ?\ncopy ?\nmove ?\nreverse ?\nshift ?\n");
    EXPECT_EQ(r.status, 0);
    const std::string plane = usage_of("plane"), field = usage_of("field"),
                      copy = usage_of("copy"), move = usage_of("move"),
                      reverse = usage_of("reverse"), shift = usage_of("shift");
    EXPECT_EQ(plane.rfind("Usage : plane fromBuffName toBuffName Key\n", 0), 0u);
    EXPECT_EQ(r.err,
              "ERROR : You must define buffer name\n" + plane + exec_error(2, "plane a a") +
                  "ERROR : You must define even, odd, and out buff name\n" + field +
                  exec_error(3, "field a a") + "ERROR : You must define buffer name\n" +
                  copy + exec_error(4, "copy a") + "ERROR : Invalid argment\n" + copy +
                  exec_error(5, "copy a a a") + "ERROR : -s need 4 argment(s)\n" + copy +
                  exec_error(6, "copy a a -s 1 2 3") +
                  "ERROR : You must define buffer name\n" + move + exec_error(7, "move") +
                  "ERROR : Invalid argment\n" + move + exec_error(8, "move a a") +
                  "WARNING : Can't find buff (name=nobody)\n" + exec_error(9, "move nobody") +
                  "ERROR : You must define in/out buffer name\n" + reverse +
                  exec_error(10, "reverse a") + "ERROR : Invalid argment\n" + reverse +
                  exec_error(11, "reverse a a a -rh") +
                  "ERROR : You must define x y in/out buffer name\n" + shift +
                  exec_error(12, "shift 1 2 a") + "ERROR : Invalid argment\n" + shift +
                  exec_error(13, "shift 1 2 a a a") + "ERROR : -w need 4 argment(s)\n" +
                  shift + exec_error(14, "shift a a -w 1 2") +
                  "\tplane\t-> buff plane manipulation\n"
                  "\tfield\t-> buff field manipulation\n"
                  "\tcopy\t-> copy buff\n"
                  "\tmove\t-> move buff\n"
                  "\treverse\t-> reverse image\n"
                  "\tshift\t-> shift image\n");
}

}  // namespace
