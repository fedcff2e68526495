// kqconv's netpbm reader: PGM (P5), PPM (P6) and PAM (P7) headers and samples.
#include "conv_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::check_reader(read_pnm, data, size);
    return 0;
}
