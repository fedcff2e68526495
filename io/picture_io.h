// read and write: moving ImageBuffers to and from picture files.
#pragma once

#include <cstdint>

// Interleaves one row of n planes (1, 3 or 4), rows[k] its k-th, into dst: w
// groups of n bytes, plane order kept.
void interleave_row(const uint8_t* const* rows, int n, int64_t w, uint8_t* __restrict dst);

// Loads picture file `pic_name` into buffer `buff_name`, making or reshaping the
// buffer to the picture's origin, size and plane count (8, 24 or 32 bits give 1,
// 3 or 4 planes) and recording the file name as its kqName. Field pictures fill
// their stored rows and zero the others. Returns 1 when the picture was loaded, 0
// after a printed, non-fatal refusal (name too long, no such picture, unsupported
// bit length, no scanline memory). A scanline that cannot be read is fatal.
int read_picture(const char* pic_name, const char* buff_name);

// Saves buffer `buff_name` as a frame picture of 8, 24 or 32 bits (data type 2, 4
// or 6), square pixel aspect, under `pic_name` (".tkq" appended unless present;
// "STDOUT" writes standard output). Returns 1, or 0 when the buffer does not exist.
// Every failure of the library on the way is fatal.
int write_picture(const char* buff_name, const char* pic_name);
