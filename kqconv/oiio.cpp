// OpenEXR, DPX, Cineon, TGA, BMP, GIF and Radiance HDR through OpenImageIO.
// 8-bit formats keep straight colour (OpenImageIO is told not to premultiply it, so
// kqconv premultiplies like pile); the floating-point ones hold linear light, turned
// into 8-bit sRGB samples through the transfer tables below unless --linear.
#include "kqconv/formats.h"

#ifdef KQCONV_OIIO

#include <OpenImageIO/Imath.h>
#include <OpenImageIO/filesystem.h>
#include <OpenImageIO/imageio.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>

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

// sRGB transfer: display-referred 8-bit samples to linear light and back.
double to_linear(double s) { return s <= 0.04045 ? s / 12.92 : std::pow((s + 0.055) / 1.055, 2.4); }

struct Transfer {
    std::array<float, 256> linear;     // sample v as linear light, v / 255 through the curve
    std::array<float, 255> threshold;  // linear light of (v + 0.5) / 255: the rounding edges
    Transfer() {
        for (int v = 0; v < 256; ++v) linear[size_t(v)] = float(to_linear(v / 255.0));
        linear[0] = 0.0f, linear[255] = 1.0f;  // exactly, whatever pow does
        for (int v = 0; v < 255; ++v) threshold[size_t(v)] = float(to_linear((v + 0.5) / 255.0));
    }
    // The nearest sample in display terms: the count of rounding edges below x.
    uint8_t sample(float x) const {
        if (!(x > 0.0f)) return 0;
        return uint8_t(std::upper_bound(threshold.begin(), threshold.end(), x) - threshold.begin());
    }
};

const Transfer& transfer() {
    static const Transfer t;
    return t;
}

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

}  // namespace

Picture read_oiio(Bytes bytes, const ReadOptions& opt) {
    const FormatRow* row = format_row_of_bytes(bytes);
    const Plugin& plug = plugin_of(row ? row->id : Format::none);
    const std::string bad = std::string("bad ") + row->name;
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
    Picture::check_size(w, h, nch, w * h * nch * 4);
    const bool floating = layout.format.is_floating_point() &&
                          (row->id == Format::exr || row->id == Format::hdr);
    Picture pic;
    pic.allocate(w, h, out_ch);
    if (!floating) {
        std::vector<uint8_t> buf(size_t(w * h * nch));
        if (!in->read_image(0, 0, 0, nch, TypeDesc::UINT8, buf.data()))
            throw ConvError(oiio_reason(bad, in->geterror()));
        uint8_t* d = pic.data.data();
        for (int64_t i = 0; i < w * h; ++i) {
            const uint8_t* s = buf.data() + i * nch;
            for (int k = 0; k < colour; ++k) *d++ = s[k];
            if (alpha >= 0) *d++ = s[alpha];
        }
        pic.premultiplied = false;
        return pic;
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
    uint8_t* d = pic.data.data();
    for (int64_t i = 0; i < w * h; ++i) {
        const uint16_t* hb = half ? bits.data() + i * nch : nullptr;
        if (half && (alpha < 0 || hb[alpha] == half_one || opt.linear)) {
            const std::vector<uint8_t>& t = opt.linear ? half_unit : half_srgb;
            for (int k = 0; k < colour; ++k) *d++ = t[hb[k]];
            if (alpha >= 0) *d++ = half_unit[hb[alpha]];
            continue;
        }
        float s[4];
        for (int k = 0; k < colour; ++k) s[k] = half ? float(half_value(hb[k])) : buf[size_t(i * nch + k)];
        const float a = alpha < 0 ? 1.0f : half ? float(half_value(hb[alpha])) : buf[size_t(i * nch + alpha)];
        for (int k = 0; k < colour; ++k) {
            if (opt.linear) {
                *d++ = unit_to_byte(s[k]);
            } else {
                const float straight = alpha < 0 ? s[k] : a > 0.0f ? s[k] / a : 0.0f;
                *d++ = tr.sample(straight);
            }
        }
        if (alpha >= 0) *d++ = unit_to_byte(a);
    }
    pic.premultiplied = alpha >= 0 && opt.linear;
    return pic;
}

// OpenEXR: half RGB(A) or Y(A), linear and premultiplied; DPX 16 bits (this
// OpenImageIO loses the last sample of odd rows at 10 bits); the others 8 bits. The picture comes premultiplied for OpenEXR and straight for the others.
void write_oiio(const Picture& source, OutFile& out, const WriteOptions& opt) {
    const Plugin& plug = plugin_of(opt.to);
    // Grey with alpha goes out as RGBA where the format has no such layout.
    Picture spread;
    const bool spread_grey = source.channels == 2 && (opt.to == Format::dpx || opt.to == Format::bmp);
    if (spread_grey) {
        spread.allocate(source.width, source.height, 2);
        std::memcpy(spread.data.data(), source.data.data(), source.data.size());
        spread.premultiplied = source.premultiplied;
        set_planes(spread, Planes::rgba);
    }
    const Picture& pic = spread_grey ? spread : source;
    const std::string bad = std::string("can't write ") + format_row(opt.to)->name;
    const int ch = pic.channels;
    const int64_t n = pic.pixels();
    const bool exr = opt.to == Format::exr;
    ImageSpec layout(int(pic.width), int(pic.height), ch, exr ? TypeDesc::HALF : TypeDesc::UINT8);
    if (ch == 1) layout.channelnames = {"Y"};
    if (ch == 2) layout.channelnames = {"Y", "A"};
    layout.alpha_channel = pic.has_alpha() ? ch - 1 : -1;
    if (!exr) layout.attribute("oiio:UnassociatedAlpha", 1);
    if (opt.to == Format::dpx) {
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
        const uint8_t* s = pic.data.data();
        const int colour = pic.has_alpha() ? ch - 1 : ch;
        for (int64_t i = 0; i < n; ++i, s += ch) {
            float* d = buf.data() + i * ch;
            const unsigned a = pic.has_alpha() ? s[ch - 1] : 255;
            for (int k = 0; k < colour; ++k) {
                if (opt.linear)
                    d[k] = s[k] / 255.0f;
                else if (a == 255)
                    d[k] = tr.linear[s[k]];
                else if (a == 0)
                    d[k] = 0.0f;
                else
                    d[k] = float(to_linear(std::min(1.0, s[k] / double(a))) * (a / 255.0));
            }
            if (pic.has_alpha()) d[ch - 1] = a / 255.0f;
        }
        ok = o->write_image(TypeDesc::FLOAT, buf.data());
    } else {
        ok = o->write_image(TypeDesc::UINT8, pic.data.data());
    }
    if (!ok || !o->close()) throw ConvError(oiio_reason(bad, o->geterror()));
    o.reset();
    if (scratch) {
        std::FILE* f = std::fopen(scratch->path.c_str(), "rb");
        if (!f) throw ConvError(bad + ": scratch file lost");
        char buf[1 << 16];
        size_t k;
        while ((k = std::fread(buf, 1, sizeof buf, f)) > 0) out.write(buf, k);
        std::fclose(f);
    } else {
        out.write(file.data(), file.size());
    }
}

#else  // built without OpenImageIO

Picture read_oiio(Bytes, const ReadOptions&) {
    throw ConvError("this format needs kqconv built with OpenImageIO (apt-get install libopenimageio-dev)");
}
void write_oiio(const Picture&, OutFile&, const WriteOptions&) {
    throw ConvError("this format needs kqconv built with OpenImageIO (apt-get install libopenimageio-dev)");
}

#endif
