// TIFF in and out through libtiff. Associated alpha is premultiplied colour, as kqc
// holds it: it is read and written as it stands, so .tkq -> TIFF -> .tkq is exact.
// Unassociated alpha is straight colour, premultiplied on the way in like PNG's.
#include "kqconv/formats.h"

#ifdef KQCONV_TIFF

#include <tiffio.h>

#include <algorithm>
#include <cstdarg>
#include <cstring>
#include <vector>

namespace {

// libtiff reports through process-wide handlers; each thread keeps its last message.
thread_local char tiff_message[256];

void on_tiff_error(const char*, const char* fmt, va_list ap) {
    std::vsnprintf(tiff_message, sizeof tiff_message, fmt, ap);
}
void on_tiff_warning(const char*, const char*, va_list) {}

[[noreturn]] void tiff_fail(const char* what) {
    throw ConvError(std::string("bad TIFF: ") + (tiff_message[0] ? tiff_message : what));
}

// The file in memory, read or written through libtiff's client procedures.
struct Memory {
    const uint8_t* in = nullptr;
    std::vector<uint8_t>* out = nullptr;
    uint64_t size = 0, pos = 0;
};

tmsize_t mem_read(thandle_t h, void* buf, tmsize_t n) {
    auto* m = static_cast<Memory*>(h);
    if (!m->in || n < 0) return -1;
    const uint64_t k = m->pos >= m->size ? 0 : std::min<uint64_t>(uint64_t(n), m->size - m->pos);
    std::memcpy(buf, m->in + m->pos, size_t(k));
    m->pos += k;
    return tmsize_t(k);
}

tmsize_t mem_write(thandle_t h, void* buf, tmsize_t n) {
    auto* m = static_cast<Memory*>(h);
    if (!m->out || n < 0) return -1;
    const uint64_t end = m->pos + uint64_t(n);
    if (end > m->out->size()) m->out->resize(size_t(end));
    std::memcpy(m->out->data() + m->pos, buf, size_t(n));
    m->pos = end;
    m->size = std::max(m->size, end);
    return n;
}

toff_t mem_seek(thandle_t h, toff_t off, int whence) {
    auto* m = static_cast<Memory*>(h);
    const uint64_t base = whence == SEEK_CUR ? m->pos : whence == SEEK_END ? m->size : 0;
    m->pos = base + off;
    return m->pos;
}

int mem_close(thandle_t) { return 0; }
toff_t mem_size(thandle_t h) { return static_cast<Memory*>(h)->size; }
int mem_map(thandle_t, void**, toff_t*) { return 0; }
void mem_unmap(thandle_t, void*, toff_t) {}

struct TiffClose {
    void operator()(TIFF* t) const { TIFFClose(t); }
};
using TiffHandle = std::unique_ptr<TIFF, TiffClose>;

TiffHandle open_memory(Memory& m, const char* mode) {
    tiff_message[0] = 0;
    TIFFSetErrorHandler(on_tiff_error);
    TIFFSetWarningHandler(on_tiff_warning);
    return TiffHandle(TIFFClientOpen("TIFF", mode, &m, mem_read, mem_write, mem_seek, mem_close,
                                     mem_size, mem_map, mem_unmap));
}

uint8_t from16(uint32_t v) { return uint8_t((v * 255 + 32767) / 65535); }

// Pictures libtiff's own RGBA reader handles (YCbCr, CMYK, LogLuv, floating point...):
// 8-bit RGBA, its unassociated alpha already premultiplied by it.
Picture read_through_rgba(TIFF* tif, uint32_t w, uint32_t h, bool alpha) {
    Picture::check_size(w, h, 4, int64_t(w) * h * 4);
    std::vector<uint32_t> raster(size_t(w) * h);
    if (!TIFFReadRGBAImageOriented(tif, w, h, raster.data(), ORIENTATION_TOPLEFT, 0))
        tiff_fail("unreadable picture");
    Picture pic;
    pic.allocate(w, h, alpha ? 4 : 3);
    pic.premultiplied = alpha;
    uint8_t* d = pic.data.data();
    for (uint32_t p : raster) {
        *d++ = uint8_t(TIFFGetR(p)), *d++ = uint8_t(TIFFGetG(p)), *d++ = uint8_t(TIFFGetB(p));
        if (alpha) *d++ = uint8_t(TIFFGetA(p));
    }
    return pic;
}

}  // namespace

// Grey, grey + alpha, RGB, RGBA and palette pictures of 1 ~ 16 bits, in strips or
// tiles, chunky or planar, any compression libtiff decodes; 16-bit samples rounded to
// 8 (v·255/65535 to nearest). Extra samples beyond the first alpha are dropped.
Picture read_tiff(Bytes bytes, const ReadOptions&) {
    Memory m;
    m.in = bytes.data();
    m.size = bytes.size();
    TiffHandle tif = open_memory(m, "rm");
    if (!tif) tiff_fail("unreadable header");
    TIFF* t = tif.get();
    uint32_t w = 0, h = 0;
    uint16_t spp = 1, bps = 1, photometric = 0, planar = PLANARCONFIG_CONTIG, format = 1;
    uint16_t extra_count = 0;
    uint16_t* extra = nullptr;
    TIFFGetField(t, TIFFTAG_IMAGEWIDTH, &w);
    TIFFGetField(t, TIFFTAG_IMAGELENGTH, &h);
    TIFFGetFieldDefaulted(t, TIFFTAG_SAMPLESPERPIXEL, &spp);
    TIFFGetFieldDefaulted(t, TIFFTAG_BITSPERSAMPLE, &bps);
    TIFFGetFieldDefaulted(t, TIFFTAG_PLANARCONFIG, &planar);
    TIFFGetFieldDefaulted(t, TIFFTAG_SAMPLEFORMAT, &format);
    if (!TIFFGetField(t, TIFFTAG_PHOTOMETRIC, &photometric)) tiff_fail("no photometric tag");
    TIFFGetFieldDefaulted(t, TIFFTAG_EXTRASAMPLES, &extra_count, &extra);
    Picture::check_size(w, h, 4);

    const bool grey = photometric == PHOTOMETRIC_MINISBLACK || photometric == PHOTOMETRIC_MINISWHITE;
    const bool palette = photometric == PHOTOMETRIC_PALETTE;
    const int colour = grey || palette ? 1 : 3;
    // Alpha: the first extra sample when it says so; four RGB or two grey samples
    // without the tag are taken as associated, as libtiff's RGBA reader does.
    const bool tagged = extra_count > 0 && extra &&
                        (extra[0] == EXTRASAMPLE_ASSOCALPHA || extra[0] == EXTRASAMPLE_UNASSALPHA);
    const bool untagged = extra_count == 0 && spp == colour + 1 && !palette;
    const bool alpha = spp > colour && (tagged || untagged);
    const bool associated = alpha && (untagged || extra[0] == EXTRASAMPLE_ASSOCALPHA);

    const bool direct = (grey || palette || photometric == PHOTOMETRIC_RGB) && format == 1 &&
                        (bps == 8 || bps == 16 || (colour == 1 && bps < 8 && (8 % bps) == 0)) &&
                        spp >= colour && !(palette && bps == 16);
    if (!direct) return read_through_rgba(t, w, h, alpha);

    // Decode every strip or tile into samples of `bps` bits, then unpack them.
    const bool tiled = TIFFIsTiled(t);
    uint32_t cw = w, ch = 0;
    if (tiled) {
        TIFFGetField(t, TIFFTAG_TILEWIDTH, &cw);
        TIFFGetField(t, TIFFTAG_TILELENGTH, &ch);
    } else {
        TIFFGetFieldDefaulted(t, TIFFTAG_ROWSPERSTRIP, &ch);
        ch = std::min(ch, h);
    }
    if (cw == 0 || ch == 0) tiff_fail("bad strip or tile size");
    const int per = planar == PLANARCONFIG_SEPARATE ? 1 : spp;  // samples per pixel per chunk
    const int64_t row_bytes = (int64_t(cw) * per * bps + 7) / 8;
    const int64_t chunk_bytes = row_bytes * ch;
    Picture::check_size(w, h, 4, chunk_bytes);
    std::vector<uint8_t> chunk(static_cast<size_t>(chunk_bytes));
    const int out_ch = (palette ? 3 : colour) + (alpha ? 1 : 0);
    Picture pic;
    pic.allocate(w, h, out_ch);
    pic.premultiplied = associated;

    uint16_t *map_r = nullptr, *map_g = nullptr, *map_b = nullptr;
    if (palette && !TIFFGetField(t, TIFFTAG_COLORMAP, &map_r, &map_g, &map_b))
        tiff_fail("palette picture without a colour map");
    const int max = (1 << bps) - 1;
    const bool invert = photometric == PHOTOMETRIC_MINISWHITE;
    // The sample of file plane `s` that lands in output plane `o` (-1: none).
    auto out_plane = [&](int s) { return s < colour ? s : s == colour && alpha ? out_ch - 1 : -1; };

    const int planes = planar == PLANARCONFIG_SEPARATE ? spp : 1;
    for (int plane = 0; plane < planes; ++plane)
        for (uint32_t y0 = 0; y0 < h; y0 += ch)
            for (uint32_t x0 = 0; x0 < w; x0 += cw) {
                const tmsize_t got =
                    tiled ? TIFFReadEncodedTile(t, TIFFComputeTile(t, x0, y0, 0, uint16_t(plane)),
                                                chunk.data(), chunk_bytes)
                          : TIFFReadEncodedStrip(t, TIFFComputeStrip(t, y0, uint16_t(plane)),
                                                 chunk.data(), chunk_bytes);
                if (got < 0) tiff_fail("unreadable strip or tile");
                // A short strip at the bottom leaves the rest of the chunk unused.
                const uint32_t rows = std::min(ch, h - y0), cols = std::min(cw, w - x0);
                const bool as_is = bps == 8 && planes == 1 && !palette && !invert && per == out_ch;
                for (uint32_t r = 0; r < rows; ++r) {
                    const uint8_t* src = chunk.data() + r * row_bytes;
                    uint8_t* dst = pic.data.data() + ((int64_t(y0) + r) * w + x0) * out_ch;
                    if (as_is) {  // the common case: 8-bit chunky samples, kept as they are
                        std::memcpy(dst, src, size_t(cols) * size_t(per));
                        continue;
                    }
                    for (uint32_t x = 0; x < cols; ++x)
                        for (int k = 0; k < per; ++k) {
                            const int s = planes > 1 ? plane : k;
                            const int o = out_plane(s);
                            if (o < 0) continue;
                            const int64_t at = int64_t(x) * per + k;
                            uint32_t v;
                            if (bps == 8) v = src[at];
                            else if (bps == 16) {
                                uint16_t u;  // in the machine's order once decoded
                                std::memcpy(&u, src + 2 * at, 2);
                                v = u;
                            }
                            else v = (src[at * bps / 8] >> (8 - bps - (at * bps) % 8)) & max;
                            uint8_t* p = dst + int64_t(x) * out_ch;
                            if (palette && s == 0) {
                                if (int(v) > max) v = uint32_t(max);
                                p[0] = from16(map_r[v]), p[1] = from16(map_g[v]), p[2] = from16(map_b[v]);
                                continue;
                            }
                            uint8_t b = bps == 8 ? uint8_t(v) : bps == 16 ? from16(v)
                                                                         : uint8_t(v * 255 / max);
                            if (invert && s == 0) b = uint8_t(255 - b);
                            p[o] = b;
                        }
                }
            }
    return pic;
}

// 8-bit TIFF, one strip per 256 KiB or so, deflated at the PNG level (0: stored).
// Alpha is associated when the picture is premultiplied (the default), unassociated
// with --straight from a straight source.
void write_tiff(const Picture& pic, OutFile& out, const WriteOptions& opt) {
    if (pic.width > 0xffffffffLL || pic.height > 0xffffffffLL) throw ConvError("too large for TIFF");
    std::vector<uint8_t> file;
    Memory m;
    m.out = &file;
    const int64_t raw = pic.pixels() * pic.channels;
    TiffHandle tif = open_memory(m, raw > (int64_t(1) << 31) ? "w8" : "w");
    if (!tif) tiff_fail("can't start the file");
    TIFF* t = tif.get();
    const int ch = pic.channels;
    const int64_t row_bytes = pic.width * ch;
    const uint32_t rows = uint32_t(std::clamp<int64_t>((256 << 10) / row_bytes, 1, pic.height));
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, uint32_t(pic.width));
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, uint32_t(pic.height));
    TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, uint16_t(ch));
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, uint16_t(8));
    TIFFSetField(t, TIFFTAG_PLANARCONFIG, uint16_t(PLANARCONFIG_CONTIG));
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, uint16_t(ch >= 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK));
    TIFFSetField(t, TIFFTAG_ORIENTATION, uint16_t(ORIENTATION_TOPLEFT));
    TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, rows);
    if (opt.level > 0) {
        TIFFSetField(t, TIFFTAG_COMPRESSION, uint16_t(COMPRESSION_ADOBE_DEFLATE));
        TIFFSetField(t, TIFFTAG_ZIPQUALITY, opt.level);
    } else {
        TIFFSetField(t, TIFFTAG_COMPRESSION, uint16_t(COMPRESSION_NONE));
    }
    if (pic.has_alpha()) {
        const uint16_t kind = pic.premultiplied ? EXTRASAMPLE_ASSOCALPHA : EXTRASAMPLE_UNASSALPHA;
        TIFFSetField(t, TIFFTAG_EXTRASAMPLES, uint16_t(1), &kind);
    }
    for (int64_t y = 0, s = 0; y < pic.height; y += rows, ++s) {
        const int64_t n = std::min<int64_t>(rows, pic.height - y) * row_bytes;
        auto* p = const_cast<uint8_t*>(pic.data.data() + y * row_bytes);  // libtiff copies it
        if (TIFFWriteEncodedStrip(t, uint32_t(s), p, tmsize_t(n)) < 0) tiff_fail("can't encode");
    }
    if (!TIFFWriteDirectory(t)) tiff_fail("can't finish the file");
    tif.reset();
    out.write(file.data(), size_t(m.size));
}

#else  // built without libtiff

Picture read_tiff(Bytes, const ReadOptions&) {
    throw ConvError("TIFF needs kqconv built with libtiff (apt-get install libtiff-dev)");
}
void write_tiff(const Picture&, OutFile&, const WriteOptions&) {
    throw ConvError("TIFF needs kqconv built with libtiff (apt-get install libtiff-dev)");
}

#endif
