// kqconv's formats, one row each: the words that name it, how its first bytes look,
// its reader and writer, and what it keeps of alpha and depth. A new format is one
// row here and one file with its reader and writer.
#pragma once

#include <string>

#include "kqconv/convert.h"

// How a format holds colour beside alpha.
enum class AlphaKind {
    none,           // no alpha: a picture with alpha is refused (--rgb drops it)
    straight,       // colour as seen: premultiplied like pile on the way in
    premultiplied,  // colour already times alpha, as kqc holds it
};

struct ReadOptions {
    bool linear = false;  // floating-point samples taken as they are (no sRGB transfer)
    int level = -1;       // .wf input: the one level to draw (-1: every level)
};

struct WriteOptions {
    int level = 6;        // PNG zlib level
    int threads = 0;      // PNG compression threads, 0: one per core
    int quality = 90;     // JPEG and WebP quality, 1 ~ 100
    bool lossy = false;   // WebP: the lossy coder at `quality` (--quality given)
    bool linear = false;  // floating-point output without the sRGB transfer
    Format to = Format::none;
};

using FormatReader = Picture (*)(Bytes, const ReadOptions&);
using FormatWriter = void (*)(const Picture&, OutFile&, const WriteOptions&);

struct FormatRow {
    Format id;
    const char* name;         // in messages: "PNG"
    const char* words;        // extensions and --to words, lower case, space separated
    bool (*sniff)(Bytes);     // the file's first bytes are this format's
    FormatReader read;        // null: output only
    FormatWriter write;       // null: input only (.tkq is written through libkq)
    AlphaKind alpha;          // what the writer expects of colour beside alpha
    const char* keeps;        // what it keeps of alpha and depth, for the usage text
};

// Every format, ended by a row of Format::none.
extern const FormatRow kFormats[];

const FormatRow* format_row(Format f);
// The row whose first bytes match, or null.
const FormatRow* format_row_of_bytes(Bytes bytes);

// Readers and writers of the format families (each in its own file).
Picture read_tiff(Bytes bytes, const ReadOptions& opt);
void write_tiff(const Picture& pic, OutFile& out, const WriteOptions& opt);
void write_jpeg(const Picture& pic, OutFile& out, const WriteOptions& opt);
Picture read_webp(Bytes bytes, const ReadOptions& opt);
void write_webp(const Picture& pic, OutFile& out, const WriteOptions& opt);
Picture read_oiio(Bytes bytes, const ReadOptions& opt);
void write_oiio(const Picture& pic, OutFile& out, const WriteOptions& opt);
// gzip, compress (.Z) and pack streams: the picture inside, read by its own row.
Picture read_archive(Bytes bytes, const ReadOptions& opt);
std::vector<uint8_t> unpack_archive(Bytes bytes);
// .wf mapping-material files: every level or the summed-area picture, as one sheet.
Picture read_wf(Bytes bytes, const ReadOptions& opt);
