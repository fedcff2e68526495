// kqconv's JPEG reader: grey and colour, baseline and progressive.
#include "conv_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::check_reader(read_jpeg, data, size);
    return 0;
}
