// kqconv's WebP reader (libwebp), through its row of the format table.
#include "conv_reader.h"
#include "kqconv/formats.h"

namespace {
Picture read(Bytes b) { return read_webp(b, ReadOptions{}); }
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::check_reader(read, data, size);
    return 0;
}
