// Shared body of the kqconv reader targets: the input is a whole picture file,
// read twice. The fuzz build fills each new sample array alternately with 0x00
// and 0xff, so a sample the reader leaves unwritten makes the two readings
// differ; reading every sample also catches an array shorter than the picture.
#pragma once

#include <cstdlib>
#include <new>

#include "kqconv/convert.h"

namespace fuzz {

inline bool read_picture(Picture (*reader)(Bytes), Bytes bytes, Picture& pic) {
    try {
        pic = reader(bytes);
        return true;
    } catch (const ConvError&) {
    } catch (const std::bad_alloc&) {
    }
    return false;
}

inline void check_reader(Picture (*reader)(Bytes), const uint8_t* data, size_t size) {
    Picture a, b;
    const Bytes bytes(data, size);
    const bool ok = read_picture(reader, bytes, a);
    if (read_picture(reader, bytes, b) != ok) std::abort();
    if (!ok) return;
    if (a.channels < 1 || a.channels > 4 || a.width <= 0 || a.height <= 0 ||
        a.data.size() != size_t(a.width * a.height * a.channels) || b.data.size() != a.data.size())
        std::abort();
    for (size_t i = 0; i < a.data.size(); ++i)
        if (a.data[i] != b.data[i]) std::abort();
}

}  // namespace fuzz
