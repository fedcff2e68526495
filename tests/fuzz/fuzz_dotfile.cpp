// The dot-file reader: the first bytes choose a buffer's planes, origin and size,
// the rest is the dot file.
#include "fuzz_support.h"
#include "ops/dots.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::enter_scratch();
    fuzz::Bytes in{data, size};
    const int planes[] = {1, 3, 4, 4};
    const int c = planes[in.take() & 3];
    const int x = in.take() - 128, y = in.take() - 128;
    const int w = in.take() % 80, h = in.take() % 80;
    make_buffer("b", x, y, w, h, c, true);
    fuzz::put_file("d.txt", in.data, in.size);
    const float colour[4] = {1, 0.5f, 0.25f, 1};
    dotfile("d.txt", "b", colour);
    fuzz::clean_scratch();
    return 0;
}
