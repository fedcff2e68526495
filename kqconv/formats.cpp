// The format table: names, first bytes, readers, writers and what each keeps.
#include "kqconv/formats.h"

#include <algorithm>
#include <cstring>

namespace {

bool starts(Bytes b, const char* magic, size_t n, size_t at = 0) {
    return b.size() >= at + n && std::memcmp(b.data() + at, magic, n) == 0;
}

bool is_png(Bytes b) { return starts(b, "\x89PNG\r\n\x1a\n", 8); }
bool is_jpeg(Bytes b) { return starts(b, "\xff\xd8\xff", 3); }
bool is_tkq(Bytes b) { return starts(b, "2Bkq", 4); }
bool is_pnm(Bytes b) {
    return b.size() >= 3 && b[0] == 'P' && (b[1] == '5' || b[1] == '6') && std::isspace(b[2]);
}
bool is_pam(Bytes b) { return b.size() >= 3 && b[0] == 'P' && b[1] == '7' && std::isspace(b[2]); }
bool is_tiff(Bytes b) {
    return starts(b, "II*\0", 4) || starts(b, "MM\0*", 4) || starts(b, "II+\0", 4) ||
           starts(b, "MM\0+", 4);
}
bool is_exr(Bytes b) { return starts(b, "\x76\x2f\x31\x01", 4); }
bool is_dpx(Bytes b) { return starts(b, "SDPX", 4) || starts(b, "XPDS", 4); }
bool is_cineon(Bytes b) {
    return starts(b, "\x80\x2a\x5f\xd7", 4) || starts(b, "\xd7\x5f\x2a\x80", 4);
}
bool is_bmp(Bytes b) {
    // "BM", then a header size the readers know (12, 40, 52, 56, 64, 108 or 124).
    if (!starts(b, "BM", 2) || b.size() < 18) return false;
    const uint32_t h = uint32_t(b[14]) | uint32_t(b[15]) << 8 | uint32_t(b[16]) << 16 |
                       uint32_t(b[17]) << 24;
    return h == 12 || h == 40 || h == 52 || h == 56 || h == 64 || h == 108 || h == 124;
}
bool is_gif(Bytes b) { return starts(b, "GIF87a", 6) || starts(b, "GIF89a", 6); }
bool is_webp(Bytes b) { return starts(b, "RIFF", 4) && starts(b, "WEBP", 4, 8); }
bool is_hdr(Bytes b) { return starts(b, "#?RADIANCE", 10) || starts(b, "#?RGBE", 6); }
bool is_tga(Bytes b) {
    // TGA has no magic: a file that names itself in the version 2 footer, or a header of
    // sane values (colour map 0 or 1, a known image type, a known pixel depth).
    if (b.size() >= 26 && std::memcmp(b.data() + b.size() - 18, "TRUEVISION-XFILE.\0", 18) == 0)
        return true;
    if (b.size() < 18) return false;
    const uint8_t map = b[1], type = b[2], depth = b[16];
    const bool known_type = type == 1 || type == 2 || type == 3 || type == 9 || type == 10 ||
                            type == 11;
    const bool known_depth = depth == 8 || depth == 15 || depth == 16 || depth == 24 || depth == 32;
    const bool sized = (b[12] | b[13]) != 0 && (b[14] | b[15]) != 0;
    return map <= 1 && known_type && known_depth && sized && (b[17] & 0xc0) == 0;
}
bool is_archive(Bytes b) {
    return starts(b, "\x1f\x8b", 2) || starts(b, "\x1f\x9d", 2) || starts(b, "\x1f\x1e", 2);
}
bool is_wf(Bytes b) { return starts(b, "2BMI", 4); }

Picture png_reader(Bytes b, const ReadOptions&) { return read_png(b); }
Picture jpeg_reader(Bytes b, const ReadOptions&) { return read_jpeg(b); }
Picture pnm_reader(Bytes b, const ReadOptions&) { return read_pnm(b); }
Picture tkq_reader(Bytes b, const ReadOptions&) { return read_tkq(b); }
void png_writer(const Picture& p, OutFile& o, const WriteOptions& w) {
    write_png(p, o, w.level, w.threads);
}
void pnm_writer(const Picture& p, OutFile& o, const WriteOptions& w) { write_pnm(p, o, w.to); }

constexpr AlphaKind kNone = AlphaKind::none, kStraight = AlphaKind::straight,
                    kPre = AlphaKind::premultiplied;

}  // namespace

const FormatRow kFormats[] = {
    {Format::tkq, "tkq", "tkq pix", is_tkq, tkq_reader, nullptr, kPre,
     "every bit length, frames and fields in; 8, 24, 32-bit frames out"},
    {Format::png, "PNG", "png", is_png, png_reader, png_writer, kStraight,
     "1 ~ 16 bit in, rounded to 8; 8 bit out; straight alpha"},
    {Format::jpeg, "JPEG", "jpg jpeg", is_jpeg, jpeg_reader, write_jpeg, kNone,
     "grey, colour; lossy out (--quality); no alpha"},
    {Format::pnm, "PNM", "pnm", is_pnm, pnm_reader, pnm_writer, kNone,
     "P5, P6, any maxval in, rounded to 8 bit; no alpha"},
    {Format::pgm, "PGM", "pgm", nullptr, nullptr, pnm_writer, kNone, "grey only"},
    {Format::ppm, "PPM", "ppm", nullptr, nullptr, pnm_writer, kNone, "colour; no alpha"},
    {Format::pam, "PAM", "pam", is_pam, pnm_reader, pnm_writer, kStraight,
     "1 ~ 4 planes; straight alpha"},
    {Format::tiff, "TIFF", "tif tiff", is_tiff, read_tiff, write_tiff, kPre,
     "8, 16 bit in; 8 bit out; associated alpha exact, unassociated premultiplied"},
    {Format::exr, "OpenEXR", "exr", is_exr, read_oiio, write_oiio, kPre,
     "half, float; sRGB transfer (--linear: none); premultiplied"},
    {Format::dpx, "DPX", "dpx", is_dpx, read_oiio, write_oiio, kStraight,
     "8, 10, 16 bit in; 16 bit out; straight alpha"},
    {Format::cineon, "Cineon", "cin", is_cineon, read_oiio, nullptr, kStraight, "10 bit in"},
    {Format::tga, "TGA", "tga", is_tga, read_oiio, write_oiio, kStraight,
     "8 bit; straight alpha"},
    {Format::bmp, "BMP", "bmp", is_bmp, read_oiio, write_oiio, kStraight, "8 bit; straight alpha"},
    {Format::gif, "GIF", "gif", is_gif, read_oiio, nullptr, kStraight, "first frame in"},
    {Format::webp, "WebP", "webp", is_webp, read_webp, write_webp, kStraight,
     "first frame in; lossless out (--quality: lossy); straight alpha"},
    {Format::hdr, "HDR", "hdr", is_hdr, read_oiio, nullptr, kNone,
     "Radiance RGBE in; sRGB transfer (--linear: none)"},
    {Format::archive, "compressed", "gz z", is_archive, read_archive, nullptr, kStraight,
     "gzip, compress (.Z) and pack around another format, in"},
    {Format::wf, "mapping-material", "wf", is_wf, read_wf, nullptr, kStraight,
     "levels side by side, or the summed-area picture, in (--level k, --info)"},
    {Format::none, nullptr, nullptr, nullptr, nullptr, nullptr, kNone, nullptr},
};

const FormatRow* format_row(Format f) {
    for (const FormatRow* r = kFormats; r->name; ++r)
        if (r->id == f) return r;
    return nullptr;
}

const FormatRow* format_row_of_bytes(Bytes bytes) {
    for (const FormatRow* r = kFormats; r->name; ++r)
        if (r->sniff && r->read && r->sniff(bytes)) return r;
    return nullptr;
}

Format format_of_word(const std::string& word) {
    std::string w = word;
    std::transform(w.begin(), w.end(), w.begin(), [](unsigned char c) { return std::tolower(c); });
    if (w.empty() || w.find(' ') != std::string::npos) return Format::none;
    for (const FormatRow* r = kFormats; r->name; ++r) {
        const std::string words = std::string(" ") + r->words + " ";
        if (words.find(" " + w + " ") != std::string::npos) return r->id;
    }
    return Format::none;
}

Format format_of_name(const std::string& name) {
    const size_t dot = name.find_last_of('.');
    const size_t slash = name.find_last_of('/');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return Format::none;
    return format_of_word(name.substr(dot + 1));
}

Format format_of_bytes(Bytes b) {
    const FormatRow* r = format_row_of_bytes(b);
    return r ? r->id : Format::none;
}
