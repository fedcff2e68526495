// readyuv, writeyuv and writedump: headerless 8-bit 4:2:2 video frames (groups of
// U, Y0, V, Y1 per pixel pair, BT.601 levels) and raw interleaved plane dumps.
#pragma once

#include <cstdint>

// Loads the YUV frame file `file_name` of width × height pixels into buffer
// `buff_name`, which becomes a 3-component buffer at origin (0, 0) with kqName set
// to the file name. Rows come from the top down; rows the file does not supply
// stay 0 (after "WARNING : can't read yuv data (scanline #<y>)", and the line is
// noted as incomplete for -e and -k).
// REQUIRES: a name below 512 characters, an even, non-negative width, a
// non-negative height, a readable file; otherwise a printed refusal, 0, and no
// buffer is touched. Returns 1 when the buffer was (re)made.
int read_yuv(const char* file_name, const char* buff_name, int width, int height);

// Writes planes r, g, b of buffer `buff_name` (alpha ignored) as a YUV frame file.
// REQUIRES: 3 or more components and an even width; otherwise printed refusal
// lines and 0. The file appears only when complete. Returns 1 when written.
int write_yuv(const char* buff_name, const char* file_name);

// Writes the planes chosen by `mask` (15 rgba, 7 rgb, or one of 1, 2, 4, 8) of
// buffer `buff_name`, interleaved pixel by pixel in the order r, g, b, a, rows from
// the top down. A 1-component buffer takes only r; a 3-component buffer refuses
// rgba and a. The file appears only when complete. Returns 1 when written.
int write_dump(const char* buff_name, const char* file_name, int mask);

// One row of a YUV frame (width / 2 groups) to r, g, b samples:
//   Yc = max(Y - 16, 0) × 76310, Cb = U - 128, Cr = V - 128,
//   R = Yc + 104635 Cr, G = Yc - 25690 Cb - 53294 Cr, B = Yc + 132278 Cb,
//   each stored as clamp(sum >> 16, 0, 255). width must be even.
void yuv_to_rgb_row(const uint8_t* src, int64_t width, uint8_t* r, uint8_t* g, uint8_t* b);

// One row of r, g, b samples to width / 2 groups U, Y0, V, Y1 on the 65536 scale:
// luma 16829 R + 33039 G + 6416 B per pixel, chroma through a 1-2-1 filter over
// the pair boundary, each sum plus the non-negative remainder the previous one
// left (arithmetic shifts, carries reset per row), U and V modulo 256.
// width must be even.
void rgb_to_yuv_row(const uint8_t* r, const uint8_t* g, const uint8_t* b, int64_t width,
                    uint8_t* dst);

// The row conversions exist for the baseline instruction set and, on x86-64
// machines that have it, for AVX2 (the default). false keeps to the baseline, so
// tests can compare both; the bytes are the same either way.
void yuv_allow_wide_vectors(bool allow);
