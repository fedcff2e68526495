// The pixel access table: single-pixel stores and fetches inside packed scanlines
// and whole-picture blocks, one member per pixel layout, chosen once per handle.
#include <cstring>

#include "libkq/kq.h"

namespace {

int fail(int code) {
    kq_errno = code;
    return 0;
}

int ok() {
    kq_errno = 0;
    return 1;
}

bool x_outside(const KQ_DATA* kq, int x) { return x < 0 || x >= kq->size_x; }

int clamp(int v, int hi) { return v < 0 ? 0 : v > hi ? hi : v; }

// --- 12-bit values in a bit stream, most significant bit first -------------------------------
// `bit` is always a multiple of 4: the value starts on a byte boundary or mid-byte.

int get12(const unsigned char* p, int64_t bit) {
    const unsigned char* b = p + (bit >> 3);
    if ((bit & 7) == 0) return (b[0] << 4) | (b[1] >> 4);
    return ((b[0] & 0x0F) << 8) | b[1];
}

// Only the value's own twelve bits change; the neighbour's nibble stays.
void put12(unsigned char* p, int64_t bit, int v) {
    unsigned char* b = p + (bit >> 3);
    if ((bit & 7) == 0) {
        b[0] = static_cast<unsigned char>(v >> 4);
        b[1] = static_cast<unsigned char>((b[1] & 0x0F) | ((v & 0x0F) << 4));
    } else {
        b[0] = static_cast<unsigned char>((b[0] & 0xF0) | (v >> 8));
        b[1] = static_cast<unsigned char>(v & 0xFF);
    }
}

// --- scanline members ----------------------------------------------------------------------

// One bit per pixel, pixel x at bit x mod 8 of byte x >> 3, least significant first.
int put_bit(const KQ_DATA* kq, unsigned char* line, int x, int c1, int, int, int) {
    if (x_outside(kq, x)) return fail(KQ_ERR_OUT_OF_WINDOW);
    const int s = x & 7;
    const int v = c1 > 0 ? 1 : 0;
    unsigned char& b = line[x >> 3];
    b = static_cast<unsigned char>((b & ~(1 << s)) | (v << s));
    return ok();
}

int get_bit(const KQ_DATA* kq, const unsigned char* line, int x, int* c1, int*, int*, int*) {
    if (x_outside(kq, x)) return fail(KQ_ERR_OUT_OF_WINDOW);
    *c1 = (line[x >> 3] >> (x & 7)) & 1;
    return ok();
}

// Byte channels: channel k of pixel x is byte Size * x + k.
template <int Size, int Channels>
int put_bytes(const KQ_DATA* kq, unsigned char* line, int x, int c1, int c2, int c3, int c4) {
    if (x_outside(kq, x)) return fail(KQ_ERR_OUT_OF_WINDOW);
    const int v[4] = {c1, c2, c3, c4};
    unsigned char* p = line + int64_t(Size) * x;
    for (int k = 0; k < Channels; ++k) p[k] = static_cast<unsigned char>(clamp(v[k], 255));
    return ok();
}

template <int Size, int Channels>
int get_bytes(const KQ_DATA* kq, const unsigned char* line, int x, int* c1, int* c2, int* c3,
              int* c4) {
    if (x_outside(kq, x)) return fail(KQ_ERR_OUT_OF_WINDOW);
    int* out[4] = {c1, c2, c3, c4};
    const unsigned char* p = line + int64_t(Size) * x;
    for (int k = 0; k < Channels; ++k) *out[k] = p[k];
    return ok();
}

// Twelve-bit channels: channel k of pixel x starts at bit Bits * x + 12k.
template <int Bits, int Channels>
int put_twelve(const KQ_DATA* kq, unsigned char* line, int x, int c1, int c2, int c3, int c4) {
    if (x_outside(kq, x)) return fail(KQ_ERR_OUT_OF_WINDOW);
    const int v[4] = {c1, c2, c3, c4};
    for (int k = 0; k < Channels; ++k) put12(line, int64_t(Bits) * x + 12 * k, clamp(v[k], 4095));
    return ok();
}

template <int Bits, int Channels>
int get_twelve(const KQ_DATA* kq, const unsigned char* line, int x, int* c1, int* c2, int* c3,
               int* c4) {
    if (x_outside(kq, x)) return fail(KQ_ERR_OUT_OF_WINDOW);
    int* out[4] = {c1, c2, c3, c4};
    for (int k = 0; k < Channels; ++k) *out[k] = get12(line, int64_t(Bits) * x + 12 * k);
    return ok();
}

// 32-bit values: four bytes at Size * x + Offset, least significant first, unclamped.
template <int Size, int Offset>
int put_word(const KQ_DATA* kq, unsigned char* line, int x, int32_t value) {
    if (x_outside(kq, x)) return fail(KQ_ERR_OUT_OF_WINDOW);
    unsigned char* p = line + int64_t(Size) * x + Offset;
    const uint32_t u = static_cast<uint32_t>(value);
    for (int k = 0; k < 4; ++k) p[k] = static_cast<unsigned char>(u >> (8 * k));
    return ok();
}

template <int Size, int Offset>
int get_word(const KQ_DATA* kq, const unsigned char* line, int x, int32_t* value) {
    if (x_outside(kq, x)) return fail(KQ_ERR_OUT_OF_WINDOW);
    const unsigned char* p = line + int64_t(Size) * x + Offset;
    uint32_t u = 0;
    for (int k = 0; k < 4; ++k) u |= uint32_t(p[k]) << (8 * k);
    *value = static_cast<int32_t>(u);
    return ok();
}

// --- block members ---------------------------------------------------------------------------

// The scanline of picture row y (counted up from the bottom) inside a block of all
// stored scanlines. 0 outside the picture; 1 with *row null when a field picture
// does not store that row.
template <class Byte>
int block_row(const KQ_DATA* kq, Byte* block, int x, int y, Byte** row) {
    if (x_outside(kq, x) || y < 0 || y >= kq->size_y) return fail(KQ_ERR_OUT_OF_WINDOW);
    int64_t index;
    if (kq->field == 'B') {
        index = int64_t(kq->line_count) - y - 1;
    } else {
        const int64_t r = int64_t(kq->org_y) + y;
        if (r > INT32_MAX || !kq_line_stored(kq, static_cast<int>(r))) {
            *row = nullptr;
            return ok();
        }
        index = kq_lines_before(kq, static_cast<int>(r));
    }
    *row = block + index * kq->line_bytes;
    return 1;
}

template <KQ_PUT_PIXEL Put>
int put_pixel_at(const KQ_DATA* kq, unsigned char* block, int x, int y, int c1, int c2, int c3,
                 int c4) {
    unsigned char* row;
    if (!block_row(kq, block, x, y, &row)) return 0;
    return row ? Put(kq, row, x, c1, c2, c3, c4) : ok();
}

template <KQ_GET_PIXEL Get>
int get_pixel_at(const KQ_DATA* kq, const unsigned char* block, int x, int y, int* c1, int* c2,
                 int* c3, int* c4) {
    const unsigned char* row;
    if (!block_row(kq, block, x, y, &row)) return 0;
    return row ? Get(kq, row, x, c1, c2, c3, c4) : ok();
}

template <KQ_PUT_VALUE Put>
int put_value_at(const KQ_DATA* kq, unsigned char* block, int x, int y, int32_t value) {
    unsigned char* row;
    if (!block_row(kq, block, x, y, &row)) return 0;
    return row ? Put(kq, row, x, value) : ok();
}

template <KQ_GET_VALUE Get>
int get_value_at(const KQ_DATA* kq, const unsigned char* block, int x, int y, int32_t* value) {
    const unsigned char* row;
    if (!block_row(kq, block, x, y, &row)) return 0;
    return row ? Get(kq, row, x, value) : ok();
}

// --- refusing members ------------------------------------------------------------------------

int no_put_pixel(const KQ_DATA*, unsigned char*, int, int, int, int, int) {
    return fail(KQ_ERR_ACCESS);
}
int no_put_pixel_at(const KQ_DATA*, unsigned char*, int, int, int, int, int, int) {
    return fail(KQ_ERR_ACCESS);
}
int no_put_value(const KQ_DATA*, unsigned char*, int, int32_t) { return fail(KQ_ERR_ACCESS); }
int no_put_value_at(const KQ_DATA*, unsigned char*, int, int, int32_t) {
    return fail(KQ_ERR_ACCESS);
}
int no_get_pixel(const KQ_DATA*, const unsigned char*, int, int*, int*, int*, int*) {
    return fail(KQ_ERR_ACCESS);
}
int no_get_pixel_at(const KQ_DATA*, const unsigned char*, int, int, int*, int*, int*, int*) {
    return fail(KQ_ERR_ACCESS);
}
int no_get_value(const KQ_DATA*, const unsigned char*, int, int32_t*) {
    return fail(KQ_ERR_ACCESS);
}
int no_get_value_at(const KQ_DATA*, const unsigned char*, int, int, int32_t*) {
    return fail(KQ_ERR_ACCESS);
}

template <KQ_PUT_PIXEL Put, KQ_GET_PIXEL Get>
void set_pixel_slots(KQ_ACCESS& a) {
    a.put_pixel = Put;
    a.put_pixel_at = put_pixel_at<Put>;
    a.get_pixel = Get;
    a.get_pixel_at = get_pixel_at<Get>;
}

template <KQ_PUT_VALUE Put, KQ_GET_VALUE Get>
void set_value_slots(KQ_ACCESS& a) {
    a.put_value = Put;
    a.put_value_at = put_value_at<Put>;
    a.get_value = Get;
    a.get_value_at = get_value_at<Get>;
}

template <KQ_PUT_VALUE Put, KQ_GET_VALUE Get>
void set_aux_slots(KQ_ACCESS& a) {
    a.put_aux = Put;
    a.put_aux_at = put_value_at<Put>;
    a.get_aux = Get;
    a.get_aux_at = get_value_at<Get>;
}

KQ_ACCESS refusing_table() {
    return {no_put_pixel, no_put_pixel_at, no_put_value, no_put_value, no_put_value_at,
            no_put_value_at, no_get_pixel, no_get_pixel_at, no_get_value, no_get_value,
            no_get_value_at, no_get_value_at};
}

}  // namespace

void kq__refuse_access(KQ_DATA* kq) { kq->access = refusing_table(); }

void kq__choose_access(KQ_DATA* kq) {
    KQ_ACCESS a = refusing_table();
    switch (kq->bitlen) {
        case 1: set_pixel_slots<put_bit, get_bit>(a); break;
        case 8: set_pixel_slots<put_bytes<1, 1>, get_bytes<1, 1>>(a); break;
        case 12: set_pixel_slots<put_twelve<12, 1>, get_twelve<12, 1>>(a); break;
        case 24: set_pixel_slots<put_bytes<3, 3>, get_bytes<3, 3>>(a); break;
        case 36: set_pixel_slots<put_twelve<36, 3>, get_twelve<36, 3>>(a); break;
        case 48: set_pixel_slots<put_twelve<48, 4>, get_twelve<48, 4>>(a); break;
        case 32:
            if (kq->data_type & KQ_TYPE_VALUE)
                set_value_slots<put_word<4, 0>, get_word<4, 0>>(a);
            else
                set_pixel_slots<put_bytes<4, 4>, get_bytes<4, 4>>(a);
            break;
        case 64:
            if (kq->data_type & KQ_TYPE_AUX) {
                set_value_slots<put_word<8, 4>, get_word<8, 4>>(a);
                set_aux_slots<put_word<8, 0>, get_word<8, 0>>(a);
            } else {
                set_pixel_slots<put_bytes<8, 4>, get_bytes<8, 4>>(a);
                set_value_slots<put_word<8, 4>, get_word<8, 4>>(a);
            }
            break;
        case 80:
            set_pixel_slots<put_twelve<80, 4>, get_twelve<80, 4>>(a);
            set_value_slots<put_word<10, 6>, get_word<10, 6>>(a);
            break;
        default:
            return;  // not a picture bit length: the table stays as it was
    }
    kq->access = a;
}

int kq_get_pixel(const KQ_DATA* kq, const unsigned char* line, int x, int* c1, int* c2, int* c3,
                 int* c4) {
    return kq->access.get_pixel(kq, line, x, c1, c2, c3, c4);
}

void kq_pixel_to_float(const KQ_DATA* kq, int c1, int c2, int c3, int c4, float* f1, float* f2,
                       float* f3, float* f4) {
    // The factor is applied in double precision, then the product is rounded.
    auto scale = [](int c, double factor) { return static_cast<float>(c * factor); };
    const double byte = 1.0 / 255.0, twelve = 1.0 / 4095.0;
    switch (kq->bitlen) {
        case 1: *f1 = c1 != 0 ? 1.0f : 0.0f; break;
        case 8: *f1 = scale(c1, byte); break;
        case 12: *f1 = scale(c1, twelve); break;
        case 24:
        case 36: {
            const double f = kq->bitlen == 24 ? byte : twelve;
            *f1 = scale(c1, f);
            *f2 = scale(c2, f);
            *f3 = scale(c3, f);
            break;
        }
        case 32:
        case 64:
        case 48:
        case 80: {
            const double f = kq->bitlen == 32 || kq->bitlen == 64 ? byte : twelve;
            *f1 = scale(c1, f);
            *f2 = scale(c2, f);
            *f3 = scale(c3, f);
            *f4 = scale(c4, f);
            break;
        }
        default: break;
    }
}

int kq_has_color(const KQ_DATA* kq) {
    return (kq->data_type & (KQ_TYPE_MASK | KQ_TYPE_ALPHA | KQ_TYPE_COLOR)) != 0;
}
