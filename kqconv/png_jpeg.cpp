// PNG in and out through libpng, JPEG in through libjpeg. Both libraries report
// errors by jumping out of their calls; the jump lands in the function that
// started the call, which then releases the library state and throws.
#include <png.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <functional>
#include <memory>
#include <new>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include <csetjmp>
#include <cstdio>
#include <cstring>
// jpeglib.h needs size_t and FILE declared first.
#include <jerror.h>
#include <jpeglib.h>

#include "kqconv/convert.h"
#include "kqconv/formats.h"

namespace {

struct PngError {
    std::jmp_buf jump;
    char message[200];
    bool output_failed;  // the message is the output's own, as OutFile words it
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
    if (std::fwrite(p, 1, n, out->stream()) != n) {
        char why[160];
        std::snprintf(why, sizeof why, "can't write (%s)", std::strerror(errno));
        static_cast<PngError*>(png_get_error_ptr(png))->output_failed = true;
        png_error(png, why);
    }
}

void png_flush_bytes(png_structp) {}

}  // namespace

// 1, 2, 4, 8 and 16-bit grey, grey + alpha, RGB, RGBA and palette pictures, as 8-bit
// samples: palettes and transparency chunks expanded, 16-bit samples rounded
// (v·255/65535 to nearest), gamma and colour-space chunks ignored.
Picture read_png(Bytes bytes) {
    Picture pic;
    read_png_into(bytes, pic, {});
    return pic;
}

void read_png_into(Bytes bytes, Picture& pic, const RowsDecoded& progress) {
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
    // Text, colour profiles and suggested palettes change no sample: they are skipped
    // unread rather than inflated. The limits on the other kept chunks are set here
    // so that they do not depend on how the library was built.
    static const png_byte skipped[] = "iCCP\0iTXt\0sPLT\0tEXt\0zTXt\0eXIf\0sCAL";
    png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_NEVER, skipped, 7);
    png_set_chunk_cache_max(png, 1000);
    png_set_chunk_malloc_max(png, 8000000);
    png_read_info(png, info);
    const png_uint_32 w = png_get_image_width(png, info);
    const png_uint_32 h = png_get_image_height(png, info);
    const int depth = png_get_bit_depth(png, info);
    const int type = png_get_color_type(png, info);
    if (type == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(png);
    if (type == PNG_COLOR_TYPE_GRAY && depth < 8) png_set_expand_gray_1_2_4_to_8(png);
    if (png_get_valid(png, info, PNG_INFO_tRNS)) png_set_tRNS_to_alpha(png);
    if (depth == 16) png_set_scale_16(png);
    const int passes = png_set_interlace_handling(png);
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
    if (progress) progress(0);
    if (passes > 1) {
        png_read_image(png, rows.data());
    } else {
        // In batches, so that a consumer can work on the rows already done.
        for (png_uint_32 y = 0; y < h;) {
            const png_uint_32 n = std::min<png_uint_32>(64, h - y);
            png_read_rows(png, rows.data() + y, nullptr, n);
            y += n;
            if (progress && y < h) progress(y);
        }
    }
    png_read_end(png, nullptr);
    png_destroy_read_struct(&png, &info, nullptr);
    if (progress) progress(h);
}

namespace {

// One band of rows, filtered and deflated as a raw stream that ends on a byte
// boundary (sync flush), or with the final block for the last band; bands laid
// end to end form one deflate stream.
struct Band {
    int64_t y0 = 0, y1 = 0;
    bool last = false;
    std::vector<uint8_t> z;
    uLong adler = 1;
    bool ok = false;
    bool no_memory = false;  // its buffers could not be had
};

unsigned sum_abs(const uint8_t* p, size_t n) {
    unsigned s = 0;
    for (size_t i = 0; i < n; ++i) s += p[i] < 128 ? p[i] : 256 - p[i];
    return s;
}

// The row's filter by the usual heuristic: the smallest sum of the filtered bytes
// taken as signed values. Writes the filtered row to out and returns its type.
int choose_filter(const uint8_t* __restrict row, const uint8_t* __restrict up, size_t n,
                  size_t bpp, uint8_t* const* cand, uint8_t* __restrict out) {
    uint8_t* __restrict sub = cand[0];
    uint8_t* __restrict upf = cand[1];
    uint8_t* __restrict avg = cand[2];
    uint8_t* __restrict pae = cand[3];
    for (size_t i = 0; i < bpp; ++i) {
        const unsigned b = up ? up[i] : 0;
        sub[i] = row[i];
        upf[i] = uint8_t(row[i] - b);
        avg[i] = uint8_t(row[i] - (b >> 1));
        pae[i] = uint8_t(row[i] - b);
    }
    for (size_t i = bpp; i < n; ++i) {
        const int a = row[i - bpp], b = up ? up[i] : 0, c = up ? up[i - bpp] : 0;
        sub[i] = uint8_t(row[i] - a);
        upf[i] = uint8_t(row[i] - b);
        avg[i] = uint8_t(row[i] - ((a + b) >> 1));
        const int p = a + b - c, pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
        pae[i] = uint8_t(row[i] - (pa <= pb && pa <= pc ? a : pb <= pc ? b : c));
    }
    unsigned best = sum_abs(row, n);
    int type = 0;
    for (int k = 0; k < 4; ++k) {
        const unsigned v = sum_abs(cand[k], n);
        if (v < best) best = v, type = k + 1;
    }
    std::memcpy(out, type == 0 ? row : cand[type - 1], n);
    return type;
}

// Level 0 stores rows unfiltered; otherwise each row takes the filter of the
// heuristic above, as libpng's own writer does by default.
void deflate_band(const Picture& pic, int level, Band& band) {
    const size_t stride = size_t(pic.width) * pic.channels;
    std::vector<uint8_t> line(stride + 1);
    std::vector<uint8_t> cand_store(stride * 4);
    uint8_t* cand[4] = {cand_store.data(), cand_store.data() + stride, cand_store.data() + 2 * stride,
                        cand_store.data() + 3 * stride};
    z_stream zs{};
    if (deflateInit2(&zs, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) return;
    const std::unique_ptr<z_stream, int (*)(z_streamp)> end(&zs, deflateEnd);
    band.z.resize(deflateBound(&zs, uLong(band.y1 - band.y0) * (stride + 1)) + 64);
    // zlib counts in 32 bits: rows and bands beyond 4 GiB go through in pieces.
    constexpr size_t kPiece = 0xffffffffu;
    const auto room = [&] {
        const size_t used = zs.total_out;
        if (used == band.z.size()) band.z.resize(used * 2);
        zs.next_out = band.z.data() + used;
        zs.avail_out = uInt(std::min(band.z.size() - used, kPiece));
    };
    room();
    band.adler = adler32(0, nullptr, 0);
    bool ok = true;
    for (int64_t y = band.y0; y < band.y1 && ok; ++y) {
        const uint8_t* __restrict row = pic.data.data() + size_t(y) * stride;
        uint8_t* __restrict f = line.data() + 1;
        if (level == 0) {
            line[0] = 0;
            std::memcpy(f, row, stride);
        } else {
            line[0] = uint8_t(choose_filter(row, y == 0 ? nullptr : row - stride, stride,
                                            size_t(pic.channels), cand, f));
        }
        band.adler = adler32_z(band.adler, line.data(), line.size());
        for (size_t at = 0; at < line.size() && ok;) {
            const size_t piece = std::min(line.size() - at, kPiece);
            zs.next_in = line.data() + at;
            zs.avail_in = uInt(piece);
            at += piece;
            const int flush = at < line.size() || y + 1 < band.y1 ? Z_NO_FLUSH
                              : band.last                          ? Z_FINISH
                                                                   : Z_SYNC_FLUSH;
            do {
                if (zs.avail_out == 0) room();
                const int r = deflate(&zs, flush);
                if (r != Z_OK && r != Z_STREAM_END && r != Z_BUF_ERROR) ok = false;
            } while (ok && zs.avail_out == 0);
        }
    }
    band.z.resize(zs.total_out);
    band.ok = ok;
}

// The same in a thread of its own: memory running out fails the band, not the process.
void deflate_band_or_fail(const Picture& pic, int level, Band& band) {
    try {
        deflate_band(pic, level, band);
    } catch (const std::bad_alloc&) {
        band.no_memory = true;
    }
}

}  // namespace

void write_png(const Picture& pic, OutFile& out, int level, int threads) {
    static const int types[5] = {0, PNG_COLOR_TYPE_GRAY, PNG_COLOR_TYPE_GRAY_ALPHA,
                                 PNG_COLOR_TYPE_RGB, PNG_COLOR_TYPE_RGB_ALPHA};
    if (pic.width > 0x7fffffff || pic.height > 0x7fffffff) throw ConvError("too large for PNG");
    const size_t stride = size_t(pic.width) * pic.channels;

    // Bands of at least 64 rows (and 1 MB), one per thread.
    if (threads <= 0) threads = int(std::max(1u, std::min(8u, std::thread::hardware_concurrency())));
    const int64_t min_rows = std::max<int64_t>(64, int64_t((1 << 20) / (stride + 1)));
    const int n = int(std::clamp<int64_t>(pic.height / min_rows, 1, threads));
    std::vector<Band> bands(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) {
        bands[i].y0 = pic.height * i / n;
        bands[i].y1 = pic.height * (i + 1) / n;
        bands[i].last = i == n - 1;
    }
    std::vector<std::thread> pool;
    for (int i = 1; i < n; ++i) {
        try {
            pool.emplace_back(deflate_band_or_fail, std::cref(pic), level, std::ref(bands[i]));
        } catch (const std::system_error&) {
            deflate_band_or_fail(pic, level, bands[i]);  // no thread to spare: do it here
        }
    }
    deflate_band_or_fail(pic, level, bands[0]);
    for (auto& t : pool) t.join();
    for (const Band& b : bands)
        if (b.no_memory) throw std::bad_alloc();
    uLong adler = bands[0].adler;
    uint64_t total = 6;  // zlib header and check value
    for (int i = 0; i < n; ++i) {
        if (!bands[i].ok) throw ConvError("can't compress PNG data");
        if (i > 0)
            adler = adler32_combine(adler, bands[i].adler,
                                    z_off_t((bands[i].y1 - bands[i].y0) * int64_t(stride + 1)));
        total += bands[i].z.size();
    }
    // zlib header: deflate, 32K window, the level class, no dictionary, check bits.
    const int level_class = level < 2 ? 0 : level < 6 ? 1 : level == 6 ? 2 : 3;
    const unsigned cmf = 0x78, flg0 = unsigned(level_class) << 6;
    const uint8_t head[2] = {uint8_t(cmf), uint8_t(flg0 + (31 - (cmf * 256 + flg0) % 31))};
    const uint8_t tail[4] = {uint8_t(adler >> 24), uint8_t(adler >> 16), uint8_t(adler >> 8),
                             uint8_t(adler)};
    std::vector<std::pair<const uint8_t*, size_t>> pieces = {{head, 2}};
    for (const Band& b : bands) pieces.push_back({b.z.data(), b.z.size()});
    pieces.push_back({tail, 4});

    PngError err{};
    png_structp png =
        png_create_write_struct(PNG_LIBPNG_VER_STRING, &err, png_on_error, png_on_warning);
    if (!png) throw ConvError("out of memory");
    png_infop info = png_create_info_struct(png);
    if (!info || setjmp(err.jump)) {
        png_destroy_write_struct(&png, &info);
        throw ConvError(err.output_failed ? std::string(err.message)
                                          : std::string("can't write PNG: ") + err.message);
    }
    png_set_write_fn(png, &out, png_write_bytes, png_flush_bytes);
    png_set_IHDR(png, info, png_uint_32(pic.width), png_uint_32(pic.height), 8,
                 types[pic.channels], PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    // The compressed stream in IDAT chunks of at most 1 GB.
    size_t piece = 0, offset = 0;
    uint64_t left = total;
    while (left > 0) {
        const size_t chunk = size_t(std::min<uint64_t>(left, uint64_t(1) << 30));
        png_write_chunk_start(png, reinterpret_cast<png_const_bytep>("IDAT"), png_uint_32(chunk));
        for (size_t need = chunk; need > 0;) {
            const size_t take = std::min(need, pieces[piece].second - offset);
            png_write_chunk_data(png, pieces[piece].first + offset, take);
            need -= take;
            offset += take;
            if (offset == pieces[piece].second) ++piece, offset = 0;
        }
        png_write_chunk_end(png);
        left -= chunk;
    }
    png_write_chunk(png, reinterpret_cast<png_const_bytep>("IEND"), nullptr, 0);
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

// A file or a scan that ends early is an error, not a picture padded with grey, and
// so is entropy-coded data the decoder cannot follow (it fills the rest of the scan,
// or the data up to the next restart marker, with nothing); other warnings (stray
// bytes between markers, an unknown JFIF revision) do not change the samples.
void jpeg_on_message(j_common_ptr c, int level) {
    if (level >= 0) return;
    switch (c->err->msg_code) {
        case JWRN_JPEG_EOF:
        case JWRN_HIT_MARKER:
        case JWRN_HUFF_BAD_CODE:
        case JWRN_MUST_RESYNC:
            jpeg_on_error(c);
    }
}

// Each scan of a progressive file passes over the whole picture, so a small file
// of many empty scans costs minutes; real files have a few dozen at most.
constexpr int kMaxJpegScans = 500;

void jpeg_on_progress(j_common_ptr c) {
    if (reinterpret_cast<j_decompress_ptr>(c)->input_scan_number <= kMaxJpegScans) return;
    auto* e = reinterpret_cast<JpegError*>(c->err);
    std::snprintf(e->message, sizeof e->message, "more than %d scans", kMaxJpegScans);
    std::longjmp(e->jump, 1);
}

}  // namespace

// Grey and colour (YCbCr, RGB) JPEGs as 1 or 3 channels; CMYK is refused.
Picture read_jpeg(Bytes bytes) {
    Picture pic;
    std::vector<JSAMPROW> rows;
    JpegError err{};
    jpeg_decompress_struct cinfo{};
    jpeg_progress_mgr progress{};
    progress.progress_monitor = jpeg_on_progress;
    cinfo.err = jpeg_std_error(&err.mgr);
    err.mgr.error_exit = jpeg_on_error;
    err.mgr.emit_message = jpeg_on_message;
    if (setjmp(err.jump)) {
        jpeg_destroy_decompress(&cinfo);
        throw ConvError(std::string("bad JPEG: ") + err.message);
    }
    jpeg_create_decompress(&cinfo);
    cinfo.progress = &progress;
    jpeg_mem_src(&cinfo, bytes.data(), static_cast<unsigned long>(bytes.size()));
    jpeg_read_header(&cinfo, TRUE);
    if (cinfo.jpeg_color_space == JCS_CMYK || cinfo.jpeg_color_space == JCS_YCCK) {
        std::snprintf(err.message, sizeof err.message, "CMYK JPEG is not supported");
        std::longjmp(err.jump, 1);
    }
    cinfo.out_color_space = cinfo.num_components == 1 ? JCS_GRAYSCALE : JCS_RGB;
    // A file of several scans keeps every coefficient (two bytes each) of the whole
    // picture, allocated by the start below: a size the picture would refuse is
    // refused before them.
    jpeg_calc_output_dimensions(&cinfo);
    int64_t coefficients = 0;
    if (cinfo.progressive_mode || cinfo.comps_in_scan < cinfo.num_components)
        for (int i = 0; i < cinfo.num_components; ++i)
            coefficients += int64_t(cinfo.comp_info[i].width_in_blocks) *
                            cinfo.comp_info[i].height_in_blocks * 64 * 2;
    try {
        Picture::check_size(cinfo.output_width, cinfo.output_height, cinfo.output_components,
                            coefficients);
    } catch (...) {
        jpeg_destroy_decompress(&cinfo);
        throw;
    }
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

// Baseline JPEG of grey or colour pictures at `quality` (libjpeg's scale, 4:2:0 colour);
// alpha is refused, as the format has none.
void write_jpeg(const Picture& pic, OutFile& out, const WriteOptions& opt) {
    if (pic.has_alpha()) throw ConvError("JPEG holds no alpha (use --rgb)");
    if (pic.width > 65500 || pic.height > 65500) throw ConvError("too large for JPEG");
    JpegError err{};
    jpeg_compress_struct cinfo{};
    unsigned char* mem = nullptr;
    unsigned long size = 0;
    cinfo.err = jpeg_std_error(&err.mgr);
    err.mgr.error_exit = jpeg_on_error;
    if (setjmp(err.jump)) {
        jpeg_destroy_compress(&cinfo);
        std::free(mem);
        throw ConvError(std::string("can't write JPEG: ") + err.message);
    }
    jpeg_create_compress(&cinfo);
    jpeg_mem_dest(&cinfo, &mem, &size);
    cinfo.image_width = JDIMENSION(pic.width);
    cinfo.image_height = JDIMENSION(pic.height);
    cinfo.input_components = pic.channels;
    cinfo.in_color_space = pic.channels == 1 ? JCS_GRAYSCALE : JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, opt.quality, TRUE);
    cinfo.optimize_coding = TRUE;
    jpeg_start_compress(&cinfo, TRUE);
    const size_t stride = size_t(pic.width) * size_t(pic.channels);
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(pic.data.data() + cinfo.next_scanline * stride);
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    try {
        out.write(mem, size);
    } catch (...) {
        std::free(mem);
        throw;
    }
    std::free(mem);
}
