// WebP in and out through libwebp. Colour beside alpha is straight, premultiplied on the
// way in like PNG's. Output is lossless (every sample kept, colour under alpha 0 too)
// unless --quality asks for the lossy coder at that quality; an animation gives its
// first frame.
#include "kqconv/formats.h"

#ifdef KQCONV_WEBP

#include <webp/decode.h>
#include <webp/demux.h>
#include <webp/encode.h>

#include <algorithm>
#include <memory>

namespace {

[[noreturn]] void bad_webp(VP8StatusCode s) {
    const char* why = s == VP8_STATUS_OUT_OF_MEMORY        ? "out of memory"
                      : s == VP8_STATUS_BITSTREAM_ERROR     ? "damaged bitstream"
                      : s == VP8_STATUS_UNSUPPORTED_FEATURE ? "unsupported feature"
                      : s == VP8_STATUS_NOT_ENOUGH_DATA     ? "truncated"
                                                            : "unreadable";
    throw ConvError(std::string("bad WebP: ") + why);
}

struct AnimDelete {
    void operator()(WebPAnimDecoder* d) const { WebPAnimDecoderDelete(d); }
};

// The first frame of an animation as shown: composed on the canvas, which is
// transparent where the frame leaves it. `ch` is 4, or 3 to drop the alpha the file
// says it does not use.
Picture read_first_frame(Bytes bytes, int ch) {
    WebPAnimDecoderOptions o;
    if (!WebPAnimDecoderOptionsInit(&o)) throw ConvError("bad WebP: library version");
    o.color_mode = MODE_RGBA;
    o.use_threads = 0;
    const WebPData data{bytes.data(), bytes.size()};
    std::unique_ptr<WebPAnimDecoder, AnimDelete> dec(WebPAnimDecoderNew(&data, &o));
    WebPAnimInfo info;
    uint8_t* canvas = nullptr;
    int timestamp = 0;
    if (!dec || !WebPAnimDecoderGetInfo(dec.get(), &info) ||
        !WebPAnimDecoderGetNext(dec.get(), &canvas, &timestamp))
        throw ConvError("bad WebP: unreadable animation");
    Picture pic;
    pic.allocate(info.canvas_width, info.canvas_height, ch);
    const int64_t n = pic.pixels();
    uint8_t* d = pic.data.data();
    if (ch == 4) {
        std::memcpy(d, canvas, size_t(n * 4));
    } else {
        for (int64_t i = 0; i < n; ++i, canvas += 4)
            *d++ = canvas[0], *d++ = canvas[1], *d++ = canvas[2];
    }
    return pic;
}

// Encoded bytes go straight to the output; its failure is kept to be thrown once
// libwebp has returned.
struct Sink {
    OutFile* out;
    std::string error;
};

int to_sink(const uint8_t* data, size_t size, const WebPPicture* wp) {
    auto* sink = static_cast<Sink*>(wp->custom_ptr);
    try {
        sink->out->write(data, size);
        return 1;
    } catch (const ConvError& e) {
        sink->error = e.what();
        return 0;
    }
}

const char* encode_error(WebPEncodingError e) {
    switch (e) {
        case VP8_ENC_ERROR_OUT_OF_MEMORY:
        case VP8_ENC_ERROR_BITSTREAM_OUT_OF_MEMORY: return "out of memory";
        case VP8_ENC_ERROR_PARTITION0_OVERFLOW:
        case VP8_ENC_ERROR_PARTITION_OVERFLOW: return "picture too detailed for lossy WebP at this quality";
        case VP8_ENC_ERROR_FILE_TOO_BIG: return "file larger than WebP allows";
        default: return "encoder failed";
    }
}

struct PictureFree {
    void operator()(WebPPicture* p) const { WebPPictureFree(p); }
};

// Pixels of 1 ~ 4 planes as libwebp's 0xAARRGGBB words, grey spread to colour.
void fill_argb(const Picture& pic, WebPPicture& wp) {
    const int ch = pic.channels;
    for (int64_t y = 0; y < pic.height; ++y) {
        const uint8_t* __restrict s = pic.data.data() + y * pic.width * ch;
        uint32_t* __restrict d = wp.argb + y * wp.argb_stride;
        const int64_t w = pic.width;
        if (ch == 1)
            for (int64_t x = 0; x < w; ++x) d[x] = 0xff000000u | s[x] * 0x010101u;
        else if (ch == 2)
            for (int64_t x = 0; x < w; ++x)
                d[x] = uint32_t(s[2 * x + 1]) << 24 | s[2 * x] * 0x010101u;
        else if (ch == 3)
            for (int64_t x = 0; x < w; ++x)
                d[x] = 0xff000000u | uint32_t(s[3 * x]) << 16 | uint32_t(s[3 * x + 1]) << 8 | s[3 * x + 2];
        else
            for (int64_t x = 0; x < w; ++x)
                d[x] = uint32_t(s[4 * x + 3]) << 24 | uint32_t(s[4 * x]) << 16 |
                       uint32_t(s[4 * x + 1]) << 8 | s[4 * x + 2];
    }
}

}  // namespace

// Still pictures as RGB, or RGBA when the file says it has alpha; straight colour.
Picture read_webp(Bytes bytes, const ReadOptions&) {
    WebPDecoderConfig config;
    if (!WebPInitDecoderConfig(&config)) throw ConvError("bad WebP: library version");
    const VP8StatusCode got = WebPGetFeatures(bytes.data(), bytes.size(), &config.input);
    if (got != VP8_STATUS_OK) bad_webp(got);
    const WebPBitstreamFeatures& f = config.input;
    const int ch = f.has_alpha ? 4 : 3;
    // libwebp holds a whole picture of 32-bit pixels beside the samples (lossless), or
    // two canvases (animations).
    Picture::check_size(f.width, f.height, ch, int64_t(f.width) * f.height * 8);
    if (f.has_animation) return read_first_frame(bytes, ch);
    Picture pic;
    pic.allocate(f.width, f.height, ch);
    pic.premultiplied = false;
    config.output.colorspace = ch == 4 ? MODE_RGBA : MODE_RGB;
    config.output.is_external_memory = 1;
    config.output.u.RGBA.rgba = pic.data.data();
    config.output.u.RGBA.stride = f.width * ch;
    config.output.u.RGBA.size = pic.data.size();
    const VP8StatusCode decoded = WebPDecode(bytes.data(), bytes.size(), &config);
    WebPFreeDecBuffer(&config.output);
    if (decoded != VP8_STATUS_OK) bad_webp(decoded);
    return pic;
}

// Lossless at effort opt.level (0 ~ 9, libwebp's presets; 6 its usual default), or
// lossy at opt.quality with opt.lossy (alpha kept exactly even then). Grey goes out
// as RGB: WebP has no grey layout. A second thread unless opt.threads is 1; libwebp
// writes the same bytes either way.
void write_webp(const Picture& pic, OutFile& out, const WriteOptions& opt) {
    if (pic.width > WEBP_MAX_DIMENSION || pic.height > WEBP_MAX_DIMENSION)
        throw ConvError("too large for WebP (16383 x 16383 at most)");
    WebPConfig config;
    if (!WebPConfigPreset(&config, WEBP_PRESET_DEFAULT, float(opt.quality)))
        throw ConvError("can't write WebP: library version");
    if (!opt.lossy) {
        WebPConfigLosslessPreset(&config, std::clamp(opt.level, 0, 9));
        config.exact = 1;  // straight pictures round trip, invisible colour included
    }
    config.thread_level = opt.threads == 1 ? 0 : 1;
    WebPPicture wp;
    if (!WebPPictureInit(&wp)) throw ConvError("can't write WebP: library version");
    wp.use_argb = 1;
    wp.width = int(pic.width);
    wp.height = int(pic.height);
    if (!WebPPictureAlloc(&wp)) throw ConvError("can't write WebP: out of memory");
    const std::unique_ptr<WebPPicture, PictureFree> owned(&wp);
    fill_argb(pic, wp);
    Sink sink{&out, {}};
    wp.writer = to_sink;
    wp.custom_ptr = &sink;
    if (!WebPEncode(&config, &wp)) {
        if (!sink.error.empty()) throw ConvError(sink.error);
        throw ConvError(std::string("can't write WebP: ") + encode_error(wp.error_code));
    }
}

#else  // built without libwebp

Picture read_webp(Bytes, const ReadOptions&) {
    throw ConvError("WebP needs kqconv built with libwebp (apt-get install libwebp-dev)");
}
void write_webp(const Picture&, OutFile&, const WriteOptions&) {
    throw ConvError("WebP needs kqconv built with libwebp (apt-get install libwebp-dev)");
}

#endif
