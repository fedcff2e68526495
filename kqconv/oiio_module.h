// The interface between kqconv and its OpenImageIO module (kqconv_oiio.so), which
// kqconv loads only when a picture of one of the module's formats is read or written.
// Plain C types only: no exception crosses it, failures come back as text.
#pragma once

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

// Changes whenever a structure below does: a module of another value is refused.
#define KQ_OIIO_VERSION 1

// What kqconv lends the module for one call. A callback that fails returns 0; the
// reason stays with kqconv, and the module returns KQ_OIIO_FAILED at once.
struct KqOiioHost {
    void* self;  // kqconv's own
    // Refuses a picture size (with `other_bytes` of the library's own beside it).
    int (*check_size)(struct KqOiioHost* host, int64_t w, int64_t h, int channels,
                      int64_t other_bytes);
    // The picture's sample array of w x h x channels bytes, or null.
    uint8_t* (*allocate)(struct KqOiioHost* host, int64_t w, int64_t h, int channels);
    // Appends n bytes to the output file.
    int (*write)(struct KqOiioHost* host, const void* p, size_t n);
    char error[512];  // the module's reason for KQ_OIIO_FAILED, when it is the module's
};

enum { KQ_OIIO_OK = 0, KQ_OIIO_FAILED = 1, KQ_OIIO_NO_MEMORY = 2 };

struct KqOiioRead {
    int format;            // kqconv's Format value
    const char* name;      // the format in messages: "OpenEXR"
    const uint8_t* bytes;  // the whole file
    size_t size;
    int linear;         // floating-point samples as they are (no sRGB transfer)
    int premultiplied;  // out: the samples hold premultiplied colour
};

struct KqOiioWrite {
    int format;
    const char* name;
    const uint8_t* samples;  // interleaved, top row first
    int64_t width;
    int64_t height;
    int channels;  // 1 grey, 2 grey + alpha, 3 RGB, 4 RGBA
    int linear;    // floating-point output without the sRGB transfer
};

struct KqOiioModule {
    int version;  // KQ_OIIO_VERSION of the module
    int (*read)(struct KqOiioRead* in, struct KqOiioHost* host);
    int (*write)(const struct KqOiioWrite* out, struct KqOiioHost* host);
};

// The module's one exported symbol.
const struct KqOiioModule* kq_oiio_module(void);
typedef const struct KqOiioModule* (*KqOiioEntry)(void);

#ifdef __cplusplus
}
#endif
