// ImageBuffer storage, pixel addressing, the BufferRegistry and the shared
// find/check/window operations.
#include "buffer/image_buffer.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <list>
#include <utility>
#include <new>


#include "interp/interp.h"
#include "parallel/parallel.h"

namespace {

// Newest first; the list owns the records and keeps their addresses stable.
std::list<std::unique_ptr<ImageBuffer>>& registry() {
    static std::list<std::unique_ptr<ImageBuffer>> list;
    return list;
}

std::list<std::unique_ptr<ImageBuffer>>::iterator position_of(const ImageBuffer* b) {
    auto& list = registry();
    return std::find_if(list.begin(), list.end(), [b](const auto& p) { return p.get() == b; });
}

constexpr size_t kNameField = 512;  // names hold at most 511 characters

}  // namespace

void ImageBuffer::set_geometry(int32_t ox, int32_t oy, int32_t w, int32_t h) {
    x = ox;
    y = oy;
    width = w;
    height = h;
    // Computed wide; a window that would leave the 32-bit range wraps and so reads
    // as empty rather than overflowing (rect() keeps a size of 0 empty as well).
    window = {ox, oy, static_cast<int32_t>(int64_t(ox) + w - 1),
              static_cast<int32_t>(int64_t(oy) + h - 1)};
}

uint8_t& pixel_address(ImageBuffer& b, int p, int64_t px, int64_t py) {
    if (!b.contains(px, py) || p >= b.components) return b.outside[0];
    return b.plane[p][(b.window.y2 - py) * int64_t(b.width) + (px - b.window.x1)];
}

void store_pixel(ImageBuffer& b, int64_t px, int64_t py, int p, int value) {
    pixel_address(b, p, px, py) = static_cast<uint8_t>(value & 0xff);
}

namespace {

// A zeroed block; large ones on huge pages, faulted in ahead (see alloc_pages).
PlaneBlock allocate_zeroed(size_t bytes) {
    return PlaneBlock(static_cast<uint8_t*>(alloc_pages(bytes, true)));
}

}  // namespace

uint8_t fraction_to_byte(float v) {
    const double scaled = double(v) * 255.0;
    // Inside the int range the truncated value keeps its low byte; outside it (and
    // for NaN) the conversion yields the integer indefinite value, whose low byte is 0.
    if (!(scaled > -2147483649.0 && scaled < 2147483648.0)) return 0;
    return static_cast<uint8_t>(static_cast<int32_t>(scaled) & 0xff);
}

ImageBuffer* find_buffer(std::string_view name) {
    for (auto& b : registry())
        if (b->name.size() == name.size() && b->name == name) return b.get();
    return nullptr;
}

std::unique_ptr<ImageBuffer> new_buffer(std::string_view name) {
    if (name.size() >= kNameField) {
        std::fprintf(stderr, "ERROR : Too long buff name %.*s (currentMax=%d)\n",
                     static_cast<int>(name.size()), name.data(), static_cast<int>(kNameField));
        fatal_exit();
    }
    std::unique_ptr<ImageBuffer> b(new (std::nothrow) ImageBuffer);
    if (!b) {
        std::fputs("ERROR : Can't alloc buffer", stderr);
        fatal_exit();
    }
    b->name.assign(name);
    return b;
}

void fatal_no_planes() {
    std::fputs("ERROR : Can't alloc component buff\n", stderr);
    fatal_exit();
}

void alloc_planes(ImageBuffer& b) {
    free_planes(b);
    const int64_t w = b.width, h = b.height;
    // A negative size, or one whose planes cannot be addressed, cannot be allocated.
    bool ok = w >= 0 && h >= 0;
    int64_t plane = 0;
    if (ok && w > 0 && h > 0) {
        ok = h <= INT64_MAX / 4 / w;
        plane = ok ? w * h : 0;
    }
#ifdef KQ_FUZZ_CAPS
    // The fuzz build cannot ask for more than a small picture's planes.
    if (plane > (int64_t(1) << 18)) ok = false;
#endif
    // Within the memory the process may really use, not only what it may map.
    if (ok) ok = kq_memory_allows(plane * b.components);
    PlaneBlock block;
    if (ok) {
        block = allocate_zeroed(size_t(plane * b.components));
        ok = block.get() != nullptr;
    }
    if (!ok) fatal_no_planes();
    b.storage = std::move(block);
    b.plane_step = {0, 0, 0, 0};
    for (int p = 0; p < b.components; ++p) {
        b.plane[p] = b.storage.get() + p * plane;
        if (p > 0) b.plane_step[p] = plane;
    }
}

void free_planes(ImageBuffer& b) {
    b.storage.reset();
    b.plane = {};
}

void fill_planes(ImageBuffer& b, int mask, const uint8_t values[4]) {
    for (int p = 0; p < b.components; ++p)
        if (mask & (1 << p)) std::memset(b.plane[p], values[p], size_t(b.plane_size()));
}

ImageBuffer* register_buffer(std::unique_ptr<ImageBuffer> b) {
    registry().push_front(std::move(b));
    return registry().front().get();
}

std::unique_ptr<ImageBuffer> unlink_buffer(ImageBuffer* b) {
    auto it = position_of(b);
    if (it == registry().end()) return nullptr;
    std::unique_ptr<ImageBuffer> owned = std::move(*it);
    registry().erase(it);
    return owned;
}

void destroy_buffer(std::unique_ptr<ImageBuffer> b) { b.reset(); }

int dispose_buffer(std::string_view name) {
    ImageBuffer* b = find_buffer(name);
    if (!b) {
        std::fprintf(stderr, "WARNING : Can't find buff (name=%.*s)\n",
                     static_cast<int>(name.size()), name.data());
        return 0;
    }
    destroy_buffer(unlink_buffer(b));
    return 1;
}

ImageBuffer* make_buffer(std::string_view name, int32_t x, int32_t y, int32_t w, int32_t h,
                         int components, bool clear_reused) {
    ImageBuffer* b = find_buffer(name);
    if (b && b->width == w && b->height == h && b->components == components) {
        const uint8_t zero[4] = {0, 0, 0, 0};
        if (clear_reused) fill_planes(*b, 15, zero);
    } else if (b) {
        free_planes(*b);
        b->width = w;
        b->height = h;
        b->components = components;
        alloc_planes(*b);
    } else {
        auto fresh = new_buffer(name);
        fresh->width = w;
        fresh->height = h;
        fresh->components = components;
        alloc_planes(*fresh);
        b = register_buffer(std::move(fresh));
    }
    b->set_geometry(x, y, w, h);
    return b;
}

void clear_registry() { registry().clear(); }

namespace registry_detail {
ImageBuffer* head() { return registry().empty() ? nullptr : registry().front().get(); }
ImageBuffer* next(ImageBuffer* b) {
    auto it = position_of(b);
    if (it == registry().end() || ++it == registry().end()) return nullptr;
    return it->get();
}
}  // namespace registry_detail

static ImageBuffer* find_or_warn(const char* name) {
    ImageBuffer* b = find_buffer(name);
    if (!b) std::fprintf(stderr, "WARNING : Can't find buff (name=%s)\n", name);
    return b;
}

int find_buffers2(const char* n1, const char* n2, ImageBuffer*& b1, ImageBuffer*& b2) {
    return (b1 = find_or_warn(n1)) && (b2 = find_or_warn(n2));
}

int find_buffers3(const char* n1, const char* n2, const char* n3, ImageBuffer*& b1,
                  ImageBuffer*& b2, ImageBuffer*& b3) {
    return (b1 = find_or_warn(n1)) && (b2 = find_or_warn(n2)) && (b3 = find_or_warn(n3));
}

int same_components2(const ImageBuffer& a, const ImageBuffer& b, int* count) {
    if (a.components != b.components) return 0;
    if (count) *count = a.components;
    return 1;
}

int same_components3(const ImageBuffer& a, const ImageBuffer& b, const ImageBuffer& c,
                     int* count) {
    if (a.components != b.components || a.components != c.components) return 0;
    if (count) *count = a.components;
    return 1;
}

int all_rgba3(const ImageBuffer& a, const ImageBuffer& b, const ImageBuffer& c) {
    return a.components == 4 && b.components == 4 && c.components == 4;
}

int geometry_equals(int32_t x, int32_t y, int32_t w, int32_t h, const ImageBuffer& b) {
    return b.x == x && b.y == y && b.width == w && b.height == h;
}

int same_geometry2(const ImageBuffer& a, const ImageBuffer& b) {
    return geometry_equals(a.x, a.y, a.width, a.height, b);
}

int same_geometry3(const ImageBuffer& a, const ImageBuffer& b, const ImageBuffer& c) {
    return same_geometry2(a, b) && same_geometry2(a, c);
}

void clip_window(Rect& r, const ImageBuffer& b) {
    const Rect w = b.rect();
    r.x1 = std::max(r.x1, w.x1);
    r.y1 = std::max(r.y1, w.y1);
    r.x2 = std::min(r.x2, w.x2);
    r.y2 = std::min(r.y2, w.y2);
}

void extend_window(Rect& r, const ImageBuffer& b) {
    const Rect w = b.rect();
    r.x1 = std::min(r.x1, w.x1);
    r.y1 = std::min(r.y1, w.y1);
    r.x2 = std::max(r.x2, w.x2);
    r.y2 = std::max(r.y2, w.y2);
}

Rect composite_window(const ImageBuffer& a, const ImageBuffer& b, const ImageBuffer& c) {
    Rect r = a.rect();
    extend_window(r, b);
    clip_window(r, c);
    return r;
}
