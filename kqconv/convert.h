// kqconv: pictures between .tkq files and PNG, JPEG and netpbm files.
//
// Every reader fills a Picture of interleaved 8-bit samples, top row first, and
// every writer takes one. Failures throw ConvError with the reason; the caller
// names the file.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "libout/out_file.h"

using Bytes = std::span<const uint8_t>;

// A sample array left uninitialised: every reader writes each sample.
class Samples {
public:
    void reset(size_t n) {
        p_.reset(new uint8_t[n]);
        n_ = n;
#ifdef KQ_FUZZ_BUILD
        // Filled alternately with 0x00 and 0xff: a sample that a reader leaves
        // unwritten shows as a difference between two readings of one input.
        static uint8_t fill = 0;
        std::memset(p_.get(), fill ^= 0xff, n);
#endif
    }
    uint8_t* data() { return p_.get(); }
    const uint8_t* data() const { return p_.get(); }
    size_t size() const { return n_; }
    uint8_t& operator[](size_t i) { return p_[i]; }
    uint8_t operator[](size_t i) const { return p_[i]; }
    const uint8_t* begin() const { return p_.get(); }
    const uint8_t* end() const { return p_.get() + n_; }

private:
    std::unique_ptr<uint8_t[]> p_;
    size_t n_ = 0;
};

struct Picture {
    int64_t width = 0;
    int64_t height = 0;
    int channels = 0;  // 1 grey, 2 grey + alpha, 3 RGB, 4 RGBA
    // Colour already multiplied by alpha, as kqc holds it (.tkq pictures).
    bool premultiplied = false;
    Samples data;  // width × height × channels samples

    bool has_alpha() const { return channels == 2 || channels == 4; }
    int64_t pixels() const { return width * height; }
    // Sizes the sample array, refusing sizes that cannot be addressed.
    void allocate(int64_t w, int64_t h, int ch);
    // The refusal alone, for readers whose library allocates before the picture is;
    // `other_bytes` is what the library needs beside the samples.
    static void check_size(int64_t w, int64_t h, int ch, int64_t other_bytes = 0);
    // The most pixels a picture may have (--max-pixels); 0: as many as memory allows.
    static inline int64_t max_pixels = 0;
};

struct ConvError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

enum class Format {
    none, png, jpeg, pnm, pgm, ppm, pam, tkq,
    tiff, exr, dpx, cineon, tga, bmp, gif, webp, hdr, archive, wf
};

// The format named by a file's extension (case-insensitive), or by a --to word.
Format format_of_name(const std::string& name);
Format format_of_word(const std::string& word);
// The format of a file's first bytes, or Format::none.
Format format_of_bytes(Bytes bytes);

// A whole input file, read into memory.
class Input {
public:
    Input() = default;
    Input(Input&&) noexcept = default;
    Input& operator=(Input&&) = delete;
    Bytes bytes() const { return {p_, n_}; }
    operator Bytes() const { return bytes(); }

private:
    friend Input read_input(const std::string& name);
    std::vector<uint8_t> owned_;
    const uint8_t* p_ = nullptr;
    size_t n_ = 0;
};

// Whole input: a file, or standard input for "-", read in pieces up to what
// --max-pixels (Picture::max_pixels) and memory allow; the reading stops early at
// first bytes that are no picture.
Input read_input(const std::string& name);

Picture read_png(Bytes bytes);
// The same into `pic`, calling progress(rows) once the picture is allocated (0) and
// whenever more rows, top first, are complete; progress must not throw.
using RowsDecoded = std::function<void(int64_t rows)>;
void read_png_into(Bytes bytes, Picture& pic, const RowsDecoded& progress);
Picture read_jpeg(Bytes bytes);
Picture read_pnm(Bytes bytes);
Picture read_tkq(Bytes bytes);

// Output that replaces its file only when complete (libout): the samples go to a
// temporary file beside it, renamed onto the name by commit(); devices and pipes
// are written in place; "-" writes standard output. Failures throw ConvError.
class OutFile {
public:
    explicit OutFile(const std::string& name);
    ~OutFile() = default;  // an uncommitted temporary is removed
    OutFile(const OutFile&) = delete;
    OutFile& operator=(const OutFile&) = delete;
    std::FILE* stream() { return out_.stream(); }
    void write(const void* p, size_t n);
    void commit();

private:
    OutputFile out_;
};

// Rows are filtered and deflated in `threads` bands at once (0: one per core),
// joined into one zlib stream.
void write_png(const Picture& pic, OutFile& out, int level, int threads);
void write_pnm(const Picture& pic, OutFile& out, Format f);
// .tkq output goes through libkq, which has its own temporary-name handling. With
// `ready`, the picture is still being read: ready(n) blocks until at least n rows
// are complete and returns how many are (or throws when the reading failed).
using RowsReady = std::function<int64_t(int64_t rows)>;
void write_tkq(const Picture& pic, const std::string& name, const RowsReady& ready = {});

// The planes wanted of the picture read, whatever it holds.
enum class Planes {
    as_read,
    rgba,  // four planes: grey spread to colour, an opaque alpha where there was none
    rgb,   // three planes: the picture over black, alpha dropped
    grey,  // one plane: (77 R + 151 G + 28 B) >> 8 of the picture over black
};

struct ConvertOptions {
    bool straight = false;  // copy colour samples unchanged both ways
    Format to = Format::none;
    int level = 6;    // PNG zlib level; for .wf input the map level to draw (-1: all)
    bool level_given = false;
    int threads = 0;  // PNG compression threads, 0: one per core
    int quality = 90;      // JPEG and WebP quality
    bool quality_given = false;  // --quality: WebP lossy at that quality
    bool linear = false;   // OpenEXR and HDR samples without the sRGB transfer
    Planes planes = Planes::as_read;
};

// Changes `pic` to the planes asked for (Planes::as_read leaves it).
void set_planes(Picture& pic, Planes planes);

// The header fields of a .wf file, one per line, for --info.
std::string wf_info(Bytes bytes);
// The same for any input: its format and size, and for .wf files the header.
void print_info(const std::string& in, std::FILE* to);

// Reads `in`, converts the colour semantics and writes `out`.
void convert_file(const std::string& in, const std::string& out, const ConvertOptions& opt);
