// kqconv: pictures between .tkq files and PNG, JPEG and netpbm files.
//
// Every reader fills a Picture of interleaved 8-bit samples, top row first, and
// every writer takes one. Failures throw ConvError with the reason; the caller
// names the file.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

struct Picture {
    int64_t width = 0;
    int64_t height = 0;
    int channels = 0;  // 1 grey, 2 grey + alpha, 3 RGB, 4 RGBA
    // Colour already multiplied by alpha, as kqc holds it (.tkq pictures).
    bool premultiplied = false;
    std::vector<uint8_t> data;  // width × height × channels samples

    bool has_alpha() const { return channels == 2 || channels == 4; }
    int64_t pixels() const { return width * height; }
    // Sizes the sample array, refusing sizes that cannot be addressed.
    void allocate(int64_t w, int64_t h, int ch);
};

struct ConvError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

enum class Format { none, png, jpeg, pnm, pgm, ppm, pam, tkq };

// The format named by a file's extension (case-insensitive), or by a --to word.
Format format_of_name(const std::string& name);
Format format_of_word(const std::string& word);
// The format of a file's first bytes, or Format::none.
Format format_of_bytes(const std::vector<uint8_t>& bytes);

// Whole input: a file, or standard input for "-".
std::vector<uint8_t> read_input(const std::string& name);

Picture read_png(const std::vector<uint8_t>& bytes);
Picture read_jpeg(const std::vector<uint8_t>& bytes);
Picture read_pnm(const std::vector<uint8_t>& bytes);
Picture read_tkq(const std::vector<uint8_t>& bytes);

// Output that replaces its file only when complete: the samples go to a temporary
// file beside it, renamed onto the name by commit(); "-" writes standard output.
class OutFile {
public:
    explicit OutFile(const std::string& name);
    ~OutFile();
    OutFile(const OutFile&) = delete;
    OutFile& operator=(const OutFile&) = delete;
    std::FILE* stream() { return fp_; }
    void write(const void* p, size_t n);
    void commit();

private:
    std::string name_, temp_;
    std::FILE* fp_ = nullptr;
    bool done_ = false;
};

void write_png(const Picture& pic, OutFile& out, int level);
void write_pnm(const Picture& pic, OutFile& out, Format f);
// .tkq output goes through libkq, which has its own temporary-name handling.
void write_tkq(const Picture& pic, const std::string& name);

struct ConvertOptions {
    bool straight = false;  // copy colour samples unchanged both ways
    Format to = Format::none;
    int level = 6;  // PNG zlib level
};

// Reads `in`, converts the colour semantics and writes `out`.
void convert_file(const std::string& in, const std::string& out, const ConvertOptions& opt);
