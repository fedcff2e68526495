// PNG in and out through libpng, JPEG in through libjpeg. Both libraries report
// errors by jumping out of their calls; the jump lands in the function that
// started the call, which then releases the library state and throws.
#include <png.h>

#include <csetjmp>
#include <cstdio>
#include <cstring>
// jpeglib.h needs size_t and FILE declared first.
#include <jerror.h>
#include <jpeglib.h>

#include "kqconv/convert.h"

namespace {

struct PngError {
    std::jmp_buf jump;
    char message[200];
};

void png_on_error(png_structp png, png_const_charp msg) {
    auto* e = static_cast<PngError*>(png_get_error_ptr(png));
    std::snprintf(e->message, sizeof e->message, "%s", msg);
    std::longjmp(e->jump, 1);
}

// Warnings (unknown chunks, colour profiles) change nothing in the samples.
void png_on_warning(png_structp, png_const_charp) {}

struct PngSource {
    const uint8_t* data;
    size_t size, pos;
};

void png_read_bytes(png_structp png, png_bytep out, size_t n) {
    auto* s = static_cast<PngSource*>(png_get_io_ptr(png));
    if (s->size - s->pos < n) png_error(png, "truncated PNG data");
    std::memcpy(out, s->data + s->pos, n);
    s->pos += n;
}

void png_write_bytes(png_structp png, png_bytep p, size_t n) {
    auto* out = static_cast<OutFile*>(png_get_io_ptr(png));
    if (std::fwrite(p, 1, n, out->stream()) != n) png_error(png, "can't write");
}

void png_flush_bytes(png_structp) {}

}  // namespace

// 1, 2, 4, 8 and 16-bit grey, grey + alpha, RGB, RGBA and palette pictures, as 8-bit
// samples: palettes and transparency chunks expanded, 16-bit samples rounded
// (v·255/65535 to nearest), gamma and colour-space chunks ignored.
Picture read_png(const std::vector<uint8_t>& bytes) {
    Picture pic;
    std::vector<png_bytep> rows;
    PngError err{};
    PngSource src{bytes.data(), bytes.size(), 0};
    png_structp png =
        png_create_read_struct(PNG_LIBPNG_VER_STRING, &err, png_on_error, png_on_warning);
    if (!png) throw ConvError("out of memory");
    png_infop info = png_create_info_struct(png);
    if (!info || setjmp(err.jump)) {
        png_destroy_read_struct(&png, &info, nullptr);
        throw ConvError(std::string("bad PNG: ") + err.message);
    }
    png_set_read_fn(png, &src, png_read_bytes);
    png_read_info(png, info);
    const png_uint_32 w = png_get_image_width(png, info);
    const png_uint_32 h = png_get_image_height(png, info);
    const int depth = png_get_bit_depth(png, info);
    const int type = png_get_color_type(png, info);
    if (type == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(png);
    if (type == PNG_COLOR_TYPE_GRAY && depth < 8) png_set_expand_gray_1_2_4_to_8(png);
    if (png_get_valid(png, info, PNG_INFO_tRNS)) png_set_tRNS_to_alpha(png);
    if (depth == 16) png_set_scale_16(png);
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    const int channels = png_get_channels(png, info);
    try {
        pic.allocate(w, h, channels);
    } catch (...) {
        png_destroy_read_struct(&png, &info, nullptr);
        throw;
    }
    if (png_get_rowbytes(png, info) != size_t(w) * channels) png_error(png, "unexpected layout");
    rows.resize(h);
    for (png_uint_32 y = 0; y < h; ++y) rows[y] = pic.data.data() + size_t(y) * w * channels;
    png_read_image(png, rows.data());
    png_read_end(png, nullptr);
    png_destroy_read_struct(&png, &info, nullptr);
    return pic;
}

void write_png(const Picture& pic, OutFile& out, int level) {
    static const int types[5] = {0, PNG_COLOR_TYPE_GRAY, PNG_COLOR_TYPE_GRAY_ALPHA,
                                 PNG_COLOR_TYPE_RGB, PNG_COLOR_TYPE_RGB_ALPHA};
    if (pic.width > 0x7fffffff || pic.height > 0x7fffffff) throw ConvError("too large for PNG");
    PngError err{};
    png_structp png =
        png_create_write_struct(PNG_LIBPNG_VER_STRING, &err, png_on_error, png_on_warning);
    if (!png) throw ConvError("out of memory");
    png_infop info = png_create_info_struct(png);
    if (!info || setjmp(err.jump)) {
        png_destroy_write_struct(&png, &info);
        throw ConvError(std::string("can't write PNG: ") + err.message);
    }
    png_set_write_fn(png, &out, png_write_bytes, png_flush_bytes);
    png_set_IHDR(png, info, png_uint_32(pic.width), png_uint_32(pic.height), 8,
                 types[pic.channels], PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_set_compression_level(png, level);
    // One filter for every row: the per-row choice among all five costs more
    // time than it saves bytes on photographs and renders alike.
    png_set_filter(png, PNG_FILTER_TYPE_BASE, level == 0 ? PNG_FILTER_NONE : PNG_FILTER_UP);
    png_write_info(png, info);
    const size_t stride = size_t(pic.width) * pic.channels;
    for (int64_t y = 0; y < pic.height; ++y)
        png_write_row(png, pic.data.data() + size_t(y) * stride);
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
}

// --- JPEG -------------------------------------------------------------------------------

namespace {

struct JpegError {
    jpeg_error_mgr mgr;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

void jpeg_on_error(j_common_ptr c) {
    auto* e = reinterpret_cast<JpegError*>(c->err);
    (*c->err->format_message)(c, e->message);
    std::longjmp(e->jump, 1);
}

// A file that ends early is an error, not a picture padded with grey; other
// warnings (stray bytes between markers) do not change the samples.
void jpeg_on_message(j_common_ptr c, int level) {
    if (level < 0 && c->err->msg_code == JWRN_JPEG_EOF) jpeg_on_error(c);
}

}  // namespace

// Grey and colour (YCbCr, RGB) JPEGs as 1 or 3 channels; CMYK is refused.
Picture read_jpeg(const std::vector<uint8_t>& bytes) {
    Picture pic;
    std::vector<JSAMPROW> rows;
    JpegError err{};
    jpeg_decompress_struct cinfo{};
    cinfo.err = jpeg_std_error(&err.mgr);
    err.mgr.error_exit = jpeg_on_error;
    err.mgr.emit_message = jpeg_on_message;
    if (setjmp(err.jump)) {
        jpeg_destroy_decompress(&cinfo);
        throw ConvError(std::string("bad JPEG: ") + err.message);
    }
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, bytes.data(), static_cast<unsigned long>(bytes.size()));
    jpeg_read_header(&cinfo, TRUE);
    if (cinfo.jpeg_color_space == JCS_CMYK || cinfo.jpeg_color_space == JCS_YCCK) {
        std::snprintf(err.message, sizeof err.message, "CMYK JPEG is not supported");
        std::longjmp(err.jump, 1);
    }
    cinfo.out_color_space = cinfo.num_components == 1 ? JCS_GRAYSCALE : JCS_RGB;
    jpeg_start_decompress(&cinfo);
    const int channels = cinfo.output_components;
    try {
        pic.allocate(cinfo.output_width, cinfo.output_height, channels);
    } catch (...) {
        jpeg_destroy_decompress(&cinfo);
        throw;
    }
    const size_t stride = size_t(cinfo.output_width) * channels;
    rows.resize(cinfo.output_height);
    for (JDIMENSION y = 0; y < cinfo.output_height; ++y) rows[y] = pic.data.data() + y * stride;
    while (cinfo.output_scanline < cinfo.output_height)
        jpeg_read_scanlines(&cinfo, rows.data() + cinfo.output_scanline,
                            cinfo.output_height - cinfo.output_scanline);
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    return pic;
}
