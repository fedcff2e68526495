// OpenEXR, DPX, Cineon, TGA, BMP, GIF and Radiance HDR through OpenImageIO, built as
// kqconv's loadable module kqconv_oiio.so (interface: kqconv/oiio_module.h).
// 8-bit formats keep straight colour (OpenImageIO is told not to premultiply it, so
// kqconv premultiplies like pile); the floating-point ones hold linear light, turned
// into 8-bit sRGB samples through the transfer tables below unless --linear.
// Nothing here may call into kqconv itself: sizes, samples and output go through the
// host's callbacks.
#include <OpenImageIO/Imath.h>
#include <OpenImageIO/filesystem.h>
#include <OpenImageIO/imageio.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <new>

#include "kqconv/convert.h"
#include "kqconv/oiio_module.h"
#include "kqconv/srgb.h"

namespace {

using namespace OIIO;

struct Plugin {
    Format format;
    const char* name;       // OpenImageIO's format name
    const char* extension;  // for a scratch file when the plugin reads only files
};

constexpr Plugin kPlugins[] = {
    {Format::exr, "openexr", ".exr"}, {Format::dpx, "dpx", ".dpx"},
    {Format::cineon, "cineon", ".cin"}, {Format::tga, "targa", ".tga"},
    {Format::bmp, "bmp", ".bmp"},       {Format::gif, "gif", ".gif"},
    {Format::hdr, "hdr", ".hdr"},
};

const Plugin& plugin_of(Format f) {
    for (const Plugin& p : kPlugins)
        if (p.format == f) return p;
    throw ConvError("no OpenImageIO plugin for this format");
}

// A scratch file in $TMPDIR (or /tmp), removed when this goes.
struct Scratch {
    std::string path;
    explicit Scratch(const char* extension) {
        const char* dir = std::getenv("TMPDIR");
        std::string p = std::string(dir && *dir ? dir : "/tmp") + "/kqconv-XXXXXX" + extension;
        const int fd = ::mkstemps(p.data(), int(std::strlen(extension)));
        if (fd < 0) throw ConvError(std::string("can't make a scratch file (") + std::strerror(errno) + ")");
        ::close(fd);
        path = p;
    }
    ~Scratch() { ::unlink(path.c_str()); }
    void put(Bytes b) const {
        std::FILE* f = std::fopen(path.c_str(), "wb");
        const bool ok = f && std::fwrite(b.data(), 1, b.size(), f) == b.size();
        if (f && std::fclose(f) != 0) throw ConvError("can't write a scratch file");
        if (!ok) throw ConvError("can't write a scratch file");
    }
};

using srgb::to_linear;
using srgb::Transfer;
using srgb::transfer;

float half_value(uint16_t bits) {
    Imath::half h;
    h.setBits(bits);
    return float(h);
}

uint8_t unit_to_byte(float x) {
    if (!(x > 0.0f)) return 0;
    if (x >= 1.0f) return 255;
    return uint8_t(x * 255.0f + 0.5f);
}

std::string oiio_reason(const std::string& what, const std::string& why) {
    std::string w = why;
    while (!w.empty() && (w.back() == '\n' || w.back() == ' ')) w.pop_back();
    const size_t nl = w.find('\n');
    if (nl != std::string::npos) w.resize(nl);
    return what + (w.empty() ? "" : ": " + w);
}

// The host's callbacks. A failed one has its reason with the host already.
struct HostFailed {};

void check_size(KqOiioHost* host, int64_t w, int64_t h, int ch, int64_t other_bytes) {
    if (!host->check_size(host, w, h, ch, other_bytes)) throw HostFailed{};
}

uint8_t* allocate(KqOiioHost* host, int64_t w, int64_t h, int ch) {
    uint8_t* p = host->allocate(host, w, h, ch);
    if (!p) throw HostFailed{};
    return p;
}

void put(KqOiioHost* host, const void* p, size_t n) {
    if (!host->write(host, p, n)) throw HostFailed{};
}

// Reads the picture of `file` into the host's sample array: 8-bit straight colour, or
// for OpenEXR and HDR with --linear the samples as they stand, still premultiplied.
void read_picture(KqOiioRead& file, KqOiioHost* host) {
    const Format format = Format(file.format);
    const Plugin& plug = plugin_of(format);
    const Bytes bytes(file.bytes, file.size);
    const std::string bad = std::string("bad ") + file.name;
    ImageSpec config;
    config.attribute("oiio:UnassociatedAlpha", 1);  // straight colour stays straight
    Filesystem::IOMemReader mem(bytes.data(), bytes.size());
    std::unique_ptr<ImageInput> in = ImageInput::create(plug.name);
    std::unique_ptr<Scratch> scratch;
    if (!in) throw ConvError(oiio_reason(bad, OIIO::geterror()));
    std::string name = std::string("memory") + plug.extension;
    if (in->supports("ioproxy")) {
        void* proxy = &mem;  // the attribute holds the pointer's value
        config.attribute("oiio:ioproxy", TypeDesc::PTR, &proxy);
    } else {
        scratch = std::make_unique<Scratch>(plug.extension);
        scratch->put(bytes);
        name = scratch->path;
    }
    ImageSpec opened;
    if (!in->open(name, opened, config)) throw ConvError(oiio_reason(bad, in->geterror()));
    const ImageSpec layout = in->spec();
    const int nch = layout.nchannels;
    if (nch < 1) throw ConvError(bad + ": no channels");
    int alpha = layout.alpha_channel;
    if (alpha < 0 && (nch == 2 || nch == 4)) alpha = nch - 1;
    const int colour = nch >= 3 ? 3 : 1;
    if (alpha >= 0 && alpha < colour) alpha = -1;  // an odd layout: colour first
    const int out_ch = colour + (alpha >= 0 ? 1 : 0);
    const int64_t w = layout.width, h = layout.height;
    check_size(host, w, h, nch, 0);  // first alone: the product below stays in range
    check_size(host, w, h, nch, w * h * nch * 4);
    const bool floating = layout.format.is_floating_point() &&
                          (format == Format::exr || format == Format::hdr);
    uint8_t* const samples = allocate(host, w, h, out_ch);
    file.premultiplied = 0;
    if (!floating) {
        std::vector<uint8_t> buf(size_t(w * h * nch));
        if (!in->read_image(0, 0, 0, nch, TypeDesc::UINT8, buf.data()))
            throw ConvError(oiio_reason(bad, in->geterror()));
        uint8_t* d = samples;
        for (int64_t i = 0; i < w * h; ++i) {
            const uint8_t* s = buf.data() + i * nch;
            for (int k = 0; k < colour; ++k) *d++ = s[k];
            if (alpha >= 0) *d++ = s[alpha];
        }
        return;
    }
    // Linear, premultiplied light: through the transfer on the straight colour, or
    // (--linear) the samples as they stand, still premultiplied. Half samples of opaque
    // pixels go through a table of every half value.
    const bool half = layout.format == TypeDesc::HALF;
    std::vector<float> buf(half ? 0 : size_t(w * h * nch));
    std::vector<uint16_t> bits(half ? size_t(w * h * nch) : 0);
    if (!in->read_image(0, 0, 0, nch, half ? TypeDesc::HALF : TypeDesc::FLOAT,
                        half ? static_cast<void*>(bits.data()) : buf.data()))
        throw ConvError(oiio_reason(bad, in->geterror()));
    const Transfer& tr = transfer();
    static const std::vector<uint8_t> half_srgb = [] {
        std::vector<uint8_t> t(65536);
        for (unsigned b = 0; b < 65536; ++b) t[b] = transfer().sample(float(half_value(uint16_t(b))));
        return t;
    }();
    static const std::vector<uint8_t> half_unit = [] {
        std::vector<uint8_t> t(65536);
        for (unsigned b = 0; b < 65536; ++b) t[b] = unit_to_byte(float(half_value(uint16_t(b))));
        return t;
    }();
    const uint16_t half_one = Imath::half(1.0f).bits();
    const bool linear = file.linear != 0;
    uint8_t* d = samples;
    for (int64_t i = 0; i < w * h; ++i) {
        const uint16_t* hb = half ? bits.data() + i * nch : nullptr;
        if (half && (alpha < 0 || hb[alpha] == half_one || linear)) {
            const std::vector<uint8_t>& t = linear ? half_unit : half_srgb;
            for (int k = 0; k < colour; ++k) *d++ = t[hb[k]];
            if (alpha >= 0) *d++ = half_unit[hb[alpha]];
            continue;
        }
        float s[4];
        for (int k = 0; k < colour; ++k) s[k] = half ? float(half_value(hb[k])) : buf[size_t(i * nch + k)];
        const float a = alpha < 0 ? 1.0f : half ? float(half_value(hb[alpha])) : buf[size_t(i * nch + alpha)];
        for (int k = 0; k < colour; ++k) {
            if (linear) {
                *d++ = unit_to_byte(s[k]);
            } else {
                const float straight = alpha < 0 ? s[k] : a > 0.0f ? s[k] / a : 0.0f;
                *d++ = tr.sample(straight);
            }
        }
        if (alpha >= 0) *d++ = unit_to_byte(a);
    }
    file.premultiplied = alpha >= 0 && linear;
}

// OpenEXR: half RGB(A) or Y(A), linear and premultiplied; DPX 16 bits (this
// OpenImageIO loses the last sample of odd rows at 10 bits); the others 8 bits. The
// samples come premultiplied for OpenEXR and straight for the others; grey with alpha
// comes spread to RGBA for the formats without that layout.
void write_picture(const KqOiioWrite& pic, KqOiioHost* host) {
    const Format to = Format(pic.format);
    const Plugin& plug = plugin_of(to);
    const std::string bad = std::string("can't write ") + pic.name;
    const int ch = pic.channels;
    const bool has_alpha = ch == 2 || ch == 4;
    const int64_t n = pic.width * pic.height;
    const bool exr = to == Format::exr;
    ImageSpec layout(int(pic.width), int(pic.height), ch, exr ? TypeDesc::HALF : TypeDesc::UINT8);
    if (ch == 1) layout.channelnames = {"Y"};
    if (ch == 2) layout.channelnames = {"Y", "A"};
    layout.alpha_channel = has_alpha ? ch - 1 : -1;
    if (!exr) layout.attribute("oiio:UnassociatedAlpha", 1);
    if (to == Format::dpx) {
        layout.set_format(TypeDesc::UINT16);
    }
    if (exr) layout.attribute("compression", "zip");

    std::unique_ptr<ImageOutput> o = ImageOutput::create(plug.name);
    if (!o) throw ConvError(oiio_reason(bad, OIIO::geterror()));
    if (ch == 2 && !o->supports("alpha") && !exr) throw ConvError(bad + ": grey with alpha");
    std::vector<unsigned char> file;
    Filesystem::IOVecOutput vec(file);
    std::unique_ptr<Scratch> scratch;
    std::string name = std::string("memory") + plug.extension;
    if (o->supports("ioproxy")) {
        o->set_ioproxy(&vec);
    } else {
        scratch = std::make_unique<Scratch>(plug.extension);
        name = scratch->path;
    }
    if (!o->open(name, layout)) throw ConvError(oiio_reason(bad, o->geterror()));
    bool ok;
    if (exr) {
        // Straight colour through the transfer, times alpha again: linear premultiplied.
        std::vector<float> buf(size_t(n * ch));
        const Transfer& tr = transfer();
        const uint8_t* s = pic.samples;
        const int colour = has_alpha ? ch - 1 : ch;
        for (int64_t i = 0; i < n; ++i, s += ch) {
            float* d = buf.data() + i * ch;
            const unsigned a = has_alpha ? s[ch - 1] : 255;
            for (int k = 0; k < colour; ++k) {
                if (pic.linear)
                    d[k] = s[k] / 255.0f;
                else if (a == 255)
                    d[k] = tr.linear[s[k]];
                else if (a == 0)
                    d[k] = 0.0f;
                else
                    d[k] = float(to_linear(std::min(1.0, s[k] / double(a))) * (a / 255.0));
            }
            if (has_alpha) d[ch - 1] = a / 255.0f;
        }
        ok = o->write_image(TypeDesc::FLOAT, buf.data());
    } else {
        ok = o->write_image(TypeDesc::UINT8, pic.samples);
    }
    if (!ok || !o->close()) throw ConvError(oiio_reason(bad, o->geterror()));
    o.reset();
    if (scratch) {
        std::FILE* f = std::fopen(scratch->path.c_str(), "rb");
        if (!f) throw ConvError(bad + ": scratch file lost");
        char buf[1 << 16];
        size_t k;
        while ((k = std::fread(buf, 1, sizeof buf, f)) > 0) put(host, buf, k);
        std::fclose(f);
    } else {
        put(host, file.data(), file.size());
    }
}

// Runs one call; whatever it throws ends here as a status, with the module's own
// reasons in host->error.
template <class Work>
int guarded(KqOiioHost* host, Work work) {
    host->error[0] = 0;
    try {
        work();
        return KQ_OIIO_OK;
    } catch (const HostFailed&) {
    } catch (const std::bad_alloc&) {
        return KQ_OIIO_NO_MEMORY;
    } catch (const std::exception& e) {
        std::snprintf(host->error, sizeof host->error, "%s", e.what());
    } catch (...) {
        std::snprintf(host->error, sizeof host->error, "OpenImageIO failed");
    }
    return KQ_OIIO_FAILED;
}

int read_entry(KqOiioRead* in, KqOiioHost* host) {
    return guarded(host, [&] { read_picture(*in, host); });
}

int write_entry(const KqOiioWrite* out, KqOiioHost* host) {
    return guarded(host, [&] { write_picture(*out, host); });
}

constexpr KqOiioModule kModule = {KQ_OIIO_VERSION, read_entry, write_entry};

}  // namespace

extern "C" __attribute__((visibility("default"))) const KqOiioModule* kq_oiio_module(void) {
    return &kModule;
}
