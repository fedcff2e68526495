// readyuv's input: the first two bytes choose the frame size, the rest is the file.
#include "fuzz_support.h"
#include "io/yuv_io.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::enter_scratch();
    fuzz::Bytes in{data, size};
    const int w = in.take() % 130 - 2, h = in.take() % 130 - 2;  // odd and negative too
    fuzz::put_file("f.yuv", in.data, in.size);
    read_yuv("f.yuv", "b", w, h);
    fuzz::clean_scratch();
    return 0;
}
