// libkq: the picture file library shared by kqc and kqtowf.
//
// A picture file is a 128-byte text header followed by packed scanlines, top row
// first. KQ_DATA is the handle of one open picture; every operation that can fail
// returns 0 (or null) and leaves the reason in kq_errno, whose message is
// kq_errlist[kq_errno]. The pixel access table reads and writes single pixels in
// packed memory without the caller branching on the pixel layout.
#pragma once

#include <cstdint>

struct KQ_DATA;
struct KQ_PENDING;  // bookkeeping of a picture being written under a temporary name

// Error codes: indexes into kq_errlist.
enum KQ_ERROR {
    KQ_OK = 0,
    KQ_ERR_NULL_NAME = 1,          // "Filename is NULL"
    KQ_ERR_LONG_NAME = 2,          // "too long filename"
    KQ_ERR_OPEN = 3,               // "Can't open picture data"
    KQ_ERR_FORMAT = 4,             // "Not support format"
    KQ_ERR_ZCAT = 5,               // "Can't fork 'zcat' prosess"
    KQ_ERR_TIFF = 6,               // "Can't fork TIFF file converter"
    KQ_ERR_PICT = 7,               // "Can't fork PICT file converter"
    KQ_ERR_RLA = 8,                // "Can't fork RLA file converter"
    KQ_ERR_EXIST = 9,              // "Picture file already exist"
    KQ_ERR_ALLOC_HANDLE = 10,      // "Can't alloc KQ_DATA structure"
    KQ_ERR_ALLOC_NAME = 11,        // "Can't alloc picture name buffer"
    KQ_ERR_ALLOC_DATA = 12,        // "Can't alloc packed data array"
    KQ_ERR_ALLOC_SCANLINE = 13,    // "Can't alloc packed scanline data array"
    KQ_ERR_GET_HEADER = 14,        // "Can't get picture header from disk"
    KQ_ERR_READ_HEADER = 15,       // "Can't read picture header"
    KQ_ERR_TAG = 16,               // "Invalid picture file tag"
    KQ_ERR_VERSION = 17,           // "Not support picture format version"
    KQ_ERR_MACHINE = 18,           // "Not support machine type data"
    KQ_ERR_READ_DATA = 19,         // "Can't read packed pixel data"
    KQ_ERR_PUT_HEADER = 20,        // "Can't put picture header to disk"
    KQ_ERR_WRITE_DATA = 21,        // "Can't write packed pixel data"
    KQ_ERR_BAD_BITLEN = 22,        // "Bad bitlength"
    KQ_ERR_BAD_SIZE = 23,          // "Bad picture window size"
    KQ_ERR_BAD_ASPECT = 24,        // "Bad pixel aspect retio"
    KQ_ERR_BAD_FIELD = 25,         // "Bad field type"
    KQ_ERR_OUT_OF_WINDOW = 26,     // "Out of picture window"
    KQ_ERR_SET_ORIGIN = 27,        // "Invalid picture origin coordinate"
    KQ_ERR_SET_SIZE = 28,          // "Invalid picture size"
    KQ_ERR_SET_BITLEN = 29,        // "Invalid picture bitlenght"
    KQ_ERR_SET_ASPECT = 30,        // "Invalid pixel aspect retio"
    KQ_ERR_SET_FIELD = 31,         // "Invalid field type"
    KQ_ERR_DATA_TYPE = 32,         // "Invalid data type"
    KQ_ERR_ACCESS = 33,            // "Invalid data type access"
    KQ_ERR_SEEK = 34,              // "Can't seek scanline pointer"
    KQ_ERR_TELL = 35,              // "Can't tell current scanline number"
    KQ_ERR_REWIND = 36,            // "Can't rewind scanline"
};

// Reason of the last failure (0 after most successes) and its messages: 37
// entries, then a null entry.
extern int kq_errno;
extern const char* const kq_errlist[];

// What kq_wopen does with an existing output file: 0 replaces it, 1 asks on the
// terminal, 2 refuses (error 9).
extern int kq_overwrite_mode;

// Data-type bits.
enum : uint8_t {
    KQ_TYPE_MASK = 0x01,   // one matte channel
    KQ_TYPE_ALPHA = 0x02,  // alpha
    KQ_TYPE_COLOR = 0x04,  // three colour channels
    KQ_TYPE_VALUE = 0x08,  // one 32-bit integer value per pixel
    KQ_TYPE_AUX = 0x10,    // a second (auxiliary) 32-bit value per pixel
};

// How a handle's file is read or written (open_mode).
enum : uint8_t {
    KQ_MODE_READ = 0,   // plain file or standard input
    KQ_MODE_WRITE = 1,
    KQ_MODE_UPDATE = 2, // read and write (accepted, never produced here)
    KQ_MODE_ZCAT = 3,   // through a decompressor
    KQ_MODE_TIFF = 4,
    KQ_MODE_PICT = 5,
    KQ_MODE_RLA = 6,
};

// --- pixel access table -------------------------------------------------------------
// Scanline members work on one packed scanline; block members ("_at") on all
// stored scanlines of a picture in file order, at row y counted up from the
// picture's bottom row. x counts pixels from the left edge. Pixel members take or
// give one, three or four channels by bit length (unused ones are ignored / left
// alone). Each returns 1 with kq_errno 0, or 0 with kq_errno set: 26 outside the
// picture, 33 when the picture's layout has no such member.
using KQ_PUT_PIXEL = int (*)(const KQ_DATA* kq, unsigned char* line, int x, int c1, int c2,
                             int c3, int c4);
using KQ_PUT_PIXEL_AT = int (*)(const KQ_DATA* kq, unsigned char* block, int x, int y, int c1,
                                int c2, int c3, int c4);
using KQ_PUT_VALUE = int (*)(const KQ_DATA* kq, unsigned char* line, int x, int32_t value);
using KQ_PUT_VALUE_AT = int (*)(const KQ_DATA* kq, unsigned char* block, int x, int y,
                                int32_t value);
using KQ_GET_PIXEL = int (*)(const KQ_DATA* kq, const unsigned char* line, int x, int* c1,
                             int* c2, int* c3, int* c4);
using KQ_GET_PIXEL_AT = int (*)(const KQ_DATA* kq, const unsigned char* block, int x, int y,
                                int* c1, int* c2, int* c3, int* c4);
using KQ_GET_VALUE = int (*)(const KQ_DATA* kq, const unsigned char* line, int x,
                             int32_t* value);
using KQ_GET_VALUE_AT = int (*)(const KQ_DATA* kq, const unsigned char* block, int x, int y,
                                int32_t* value);

struct KQ_ACCESS {
    KQ_PUT_PIXEL put_pixel;          // slot 0
    KQ_PUT_PIXEL_AT put_pixel_at;    // slot 1
    KQ_PUT_VALUE put_value;          // slot 2
    KQ_PUT_VALUE put_aux;            // slot 3
    KQ_PUT_VALUE_AT put_value_at;    // slot 4
    KQ_PUT_VALUE_AT put_aux_at;      // slot 5
    KQ_GET_PIXEL get_pixel;          // slot 6
    KQ_GET_PIXEL_AT get_pixel_at;    // slot 7
    KQ_GET_VALUE get_value;          // slot 8
    KQ_GET_VALUE get_aux;            // slot 9
    KQ_GET_VALUE_AT get_value_at;    // slot 10
    KQ_GET_VALUE_AT get_aux_at;      // slot 11
};

// --- the handle -------------------------------------------------------------------------
struct KQ_DATA {
    char* name;           // file name as opened (with extension), "STDIN"/"STDOUT", or null
    uint32_t bitlen;      // bits per pixel: 1, 8, 12, 24, 32, 36, 48, 64 or 80
    int32_t org_x;        // column of the left edge
    int32_t org_y;        // row number of the bottom row (rows count upward)
    int32_t size_x;       // width in pixels
    int32_t size_y;       // height in rows (the whole frame, also for fields)
    int32_t aspect_x;     // pixel aspect ratio, numerator
    int32_t aspect_y;     // and denominator
    char field;           // 'B' every row, 'E' even rows only, 'O' odd rows only
    uint8_t data_type;    // KQ_TYPE_* bits
    int32_t line_count;   // scanlines stored in the file
    int32_t line_bytes;   // bytes per packed scanline
    int32_t data_bytes;   // line_count * line_bytes
    int fd;               // 0 standard input, 1 standard output, -1 none
    uint8_t open_mode;    // KQ_MODE_*
    int child_pid;        // converter process, -1 when none
    KQ_ACCESS access;     // pixel access table, chosen from bitlen and data_type
    KQ_PENDING* pending;  // output file being written: renamed onto `name` at close
};

// --- handle and format (kq_file.cpp) ------------------------------------------------------

// A fresh handle reset by kq_init; null and error 10 when memory is short.
KQ_DATA* kq_alloc();
// Numbers to 0, name null, field 'B', fd -1, open_mode 0, child_pid -1. The
// access table is left alone.
void kq_init(KQ_DATA* kq);
// Closes the file (as kq_close) and releases the name and the handle.
void kq_free(KQ_DATA* kq);
// Closes the file unless it is standard input/output. A picture being written
// under a temporary name is renamed onto its name here, also when fewer scanlines
// than line_count were written (it then holds those written); after a failed
// write it is removed instead and any earlier picture of that name stays. 0 and
// error 21 when putting it on disc, the close or the rename fails. A temporary still open when the
// program exits is removed.
int kq_close(KQ_DATA* kq);

void kq_get_origin(const KQ_DATA* kq, int* x, int* y);
void kq_get_size(const KQ_DATA* kq, int* w, int* h);
// Setters: on failure the handle is unchanged.
int kq_set_origin(KQ_DATA* kq, int x, int y);  // error 27
// Errors 28 (range, or sizes too large to address), 29, 31, 32, in that order.
int kq_set_format(KQ_DATA* kq, int size_x, int size_y, int bitlen, int field, int data_type);
int kq_set_aspect(KQ_DATA* kq, int aspect_x, int aspect_y);  // error 30

// A zeroed buffer of line_bytes bytes, released with free(); null and error 13.
unsigned char* kq_alloc_scanline(const KQ_DATA* kq);
// Room for n scanlines, for kq_read_scanlines / kq_write_scanlines.
unsigned char* kq_alloc_scanlines(const KQ_DATA* kq, int n);
// One scanline in file order; 32-bit pictures are reversed in 4-byte groups
// between file and memory (the write reverses the caller's buffer in place).
int kq_read_scanline(KQ_DATA* kq, unsigned char* buf);   // error 19
int kq_write_scanline(KQ_DATA* kq, unsigned char* buf);  // error 21
// n consecutive scanlines in one transfer, n * line_bytes bytes: the same bytes
// and the same errors as n single calls, with fewer system calls. With file_order
// set, 32-bit groups stay as the file holds them (the reader skips the reversal,
// the writer takes bytes already in file order and leaves buf unchanged), for
// callers that shuffle bytes anyway.
int kq_read_scanlines(KQ_DATA* kq, unsigned char* buf, int n, int file_order = 0);
int kq_write_scanlines(KQ_DATA* kq, unsigned char* buf, int n, int file_order = 0);
// Moves by n scanlines from the data start (whence 0), the current position (1)
// or the end (2); other whence values do nothing. Error 34.
int kq_seek_scanline(KQ_DATA* kq, int n, int whence);

// 1 when picture row y is in the picture and stored by its field type.
int kq_line_stored(const KQ_DATA* kq, int y);
// Index of stored row y counted from the first stored scanline.
int kq_lines_before(const KQ_DATA* kq, int y);

int kq_default_data_type(int bitlen);
// 1 when data_type is valid for bitlen (kq_errno 0), else 0 and error 32.
int kq_check_data_type(int data_type, int bitlen);

const char* kq_extension();  // ".tkq"
const char* kq_name_word();  // "tkqName"

// Header I/O on kq->fd: errors 14-18 (read) and 20 (write).
int kq_read_header(KQ_DATA* kq);
int kq_write_header(KQ_DATA* kq);
// Formats the 128 header bytes of kq into out / parses them into kq (errors 15-18).
void kq__format_header(const KQ_DATA* kq, unsigned char out[128]);
int kq__parse_header(KQ_DATA* kq, const unsigned char in[128]);
// Errors 22-25 and 32; also 23 when the sizes cannot be addressed. On success the
// derived sizes are set.
int kq_check_header(KQ_DATA* kq);

// --- opening and naming (kq_open.cpp) ------------------------------------------------------

// Opens a picture for reading, trying the known extensions when the name does not
// exist; "STDIN" reads standard input. Null with kq_errno on failure.
KQ_DATA* kq_ropen(const char* name);
// Creates the picture `name` (".tkq" appended unless present; "STDOUT" writes
// standard output) for a handle whose origin, format and aspect are set, and
// writes its header.
int kq_wopen(const char* name, KQ_DATA* kq);
// The module banner on standard error.
void kq_print_module();

// The converter openers: each prints its line and refuses (0).
int kq__ropen_Zcat(KQ_DATA* kq);
int kq__ropen_TIFF_reader(KQ_DATA* kq);
int kq__ropen_PICT_reader(KQ_DATA* kq);
int kq__ropen_RLA_reader(KQ_DATA* kq);
// Complains when a converter process is still recorded.
void kq__childProcessKill(KQ_DATA* kq);

// Resolves a name for reading by the extension rules: the file name to open and
// how to read it (KQ_MODE_READ or a converter mode).
void kq__resolve_name(const char* name, char** resolved, int* kind);
// Ends the temporary file of a write handle: rename onto the name (commit) or
// remove it. 1 on success.
int kq__finish_pending(KQ_DATA* kq, bool commit);
// Marks a write handle as failed: its temporary file is removed, not renamed.
void kq__mark_failed(KQ_DATA* kq);

// --- pixel access (kq_access.cpp) ---------------------------------------------------------

// Chooses the access table from bitlen and data_type; an unknown bitlen leaves it.
void kq__choose_access(KQ_DATA* kq);
// A table whose every slot fails with error 33.
void kq__refuse_access(KQ_DATA* kq);
// Slot 6 with four outputs.
int kq_get_pixel(const KQ_DATA* kq, const unsigned char* line, int x, int* c1, int* c2, int* c3,
                 int* c4);
// Channel values to fractions by bit length (1/255 or 1/4095, 1-bit as 0 or 1).
void kq_pixel_to_float(const KQ_DATA* kq, int c1, int c2, int c3, int c4, float* f1, float* f2,
                       float* f3, float* f4);
// 1 when data_type has the mask, alpha or colour bit.
int kq_has_color(const KQ_DATA* kq);
