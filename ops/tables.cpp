// The compositing tables, computed at compile time so they are plain constant data.
#include "ops/tables.h"

namespace {

template <class F>
constexpr ByteTable make_table(F f) {
    ByteTable t{};
    for (unsigned x = 0; x < 256; ++x)
        for (unsigned y = 0; y < 256; ++y) t[x * 256 + y] = static_cast<uint8_t>(f(x, y));
    return t;
}

}  // namespace

constinit const ByteTable MulTable = make_table([](unsigned x, unsigned y) { return x * y / 255; });
constinit const ByteTable AddTable =
    make_table([](unsigned x, unsigned y) { return x + y > 255 ? 255u : x + y; });
constinit const ByteTable DivTable = make_table([](unsigned x, unsigned y) {
    if (y == 0) return 0u;
    const double q = double(x) / (double(y) / 255.0);
    return q >= 255.0 ? 255u : static_cast<unsigned>(q);
});
