// kqconv's PNG reader: every colour type and bit depth, interlaced or not.
#include "conv_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::check_reader(read_png, data, size);
    return 0;
}
