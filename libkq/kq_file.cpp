// The picture handle, the error table, format setters, field geometry, the
// 128-byte header and raw scanline transfer.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "libkq/kq.h"
#include "libkq/kq_memory.h"

int kq_errno = 0;

const char* const kq_errlist[] = {
    "Error 0",
    "Filename is NULL",
    "too long filename",
    "Can't open picture data",
    "Not support format",
    "Can't fork 'zcat' prosess",
    "Can't fork TIFF file converter",
    "Can't fork PICT file converter",
    "Can't fork RLA file converter",
    "Picture file already exist",
    "Can't alloc KQ_DATA structure",
    "Can't alloc picture name buffer",
    "Can't alloc packed data array",
    "Can't alloc packed scanline data array",
    "Can't get picture header from disk",
    "Can't read picture header",
    "Invalid picture file tag",
    "Not support picture format version",
    "Not support machine type data",
    "Can't read packed pixel data",
    "Can't put picture header to disk",
    "Can't write packed pixel data",
    "Bad bitlength",
    "Bad picture window size",
    "Bad pixel aspect retio",
    "Bad field type",
    "Out of picture window",
    "Invalid picture origin coordinate",
    "Invalid picture size",
    "Invalid picture bitlenght",
    "Invalid pixel aspect retio",
    "Invalid field type",
    "Invalid data type",
    "Invalid data type access",
    "Can't seek scanline pointer",
    "Can't tell current scanline number",
    "Can't rewind scanline",
    nullptr,
};

namespace {

constexpr int kHeaderBytes = 128;
constexpr int kMaxCalls = 512;           // low-level calls allowed per transfer
constexpr int64_t kHeaderMin = -999999;  // every header number fits seven columns
constexpr int64_t kHeaderMax = 9999999;
constexpr size_t kMaxCall = size_t(1) << 30;  // bytes asked of one low-level call

int fail(int code) {
    kq_errno = code;
    return 0;
}

bool in_header_range(int64_t v) { return v >= kHeaderMin && v <= kHeaderMax; }

bool valid_bitlen(int64_t b) {
    switch (b) {
        case 1: case 8: case 12: case 24: case 32: case 36: case 48: case 64: case 80:
            return true;
        default:
            return false;
    }
}

bool valid_field(int f) { return f == 'B' || f == 'E' || f == 'O'; }

bool is_odd(int64_t v) { return v % 2 != 0; }

// Sizes derived from a geometry, computed wide so that no header can overflow them.
struct Derived {
    int64_t line_count, line_bytes, data_bytes;
};

Derived derive(int64_t bitlen, int64_t size_x, int64_t size_y, int64_t org_y, int field) {
    Derived d{};
    if (field == 'B') {
        d.line_count = size_y;
    } else {
        const int64_t half_down = size_y / 2, half_up = size_y - size_y / 2;
        const bool org_odd = is_odd(org_y);
        d.line_count = (field == 'E') == !org_odd ? half_up : half_down;
    }
    d.line_bytes = ((bitlen * size_x - 1) >> 3) + 1;
    d.data_bytes = d.line_bytes * d.line_count;
    return d;
}

// The scanline sizes must be addressable in the handle's 32-bit fields.
bool derived_fits(const Derived& d) {
    auto fits = [](int64_t v) { return v >= INT32_MIN && v <= INT32_MAX; };
    return fits(d.line_count) && fits(d.line_bytes) && fits(d.data_bytes);
}

// Only a writer can set a size of zero or below; such a picture holds no pixel data,
// and a byte count that its field cannot hold (from a negative size) is stored as 0.
void store_derived(KQ_DATA* kq, const Derived& d) {
    kq->line_count = static_cast<int32_t>(d.line_count);
    kq->line_bytes = static_cast<int32_t>(d.line_bytes);
    kq->data_bytes = derived_fits(d) ? static_cast<int32_t>(d.data_bytes) : 0;
}

// Scanline byte counts as transferred: a negative size (only a writer can set one)
// moves nothing.
int64_t bytes_of(const KQ_DATA* kq, int64_t lines) {
    return kq->line_bytes > 0 && lines > 0 ? int64_t(kq->line_bytes) * lines : 0;
}

// Complete transfer of n bytes. Each call is on the remaining bytes; a call that
// fails or reaches the end of input delivers nothing. The transfer fails when
// kMaxCalls calls go by without finishing a unit of `unit` bytes (one scanline, or
// the whole transfer), so n bytes in `unit`-sized pieces get the same bound that
// one transfer per piece would.
template <class Call>
bool transfer(int64_t n, int64_t unit, Call call) {
    int64_t done = 0, units = 0;
    int idle = 0;
    while (done < n) {
        if (idle == kMaxCalls) return false;
        ++idle;
        const ssize_t got = call(done, std::min<size_t>(size_t(n - done), kMaxCall));
        if (got > 0) done += got;
        const int64_t now = unit > 0 ? done / unit : 0;
        if (now > units) {
            units = now;
            idle = 0;
        }
    }
    return true;
}

bool read_all(int fd, unsigned char* buf, int64_t n, int64_t unit) {
    return transfer(n, unit, [&](int64_t at, size_t len) { return ::read(fd, buf + at, len); });
}

bool write_all(int fd, const unsigned char* buf, int64_t n, int64_t unit) {
    return transfer(n, unit, [&](int64_t at, size_t len) { return ::write(fd, buf + at, len); });
}

// 32-bit pictures hold each 4-byte group reversed on disk.
void reverse_groups(unsigned char* buf, int64_t n) {
    for (int64_t i = 0; i + 4 <= n; i += 4) {
        uint32_t v;
        std::memcpy(&v, buf + i, 4);
        v = __builtin_bswap32(v);
        std::memcpy(buf + i, &v, 4);
    }
}

bool is_std_fd(int fd) { return fd == 0 || fd == 1 || fd == -1; }

}  // namespace

// --- handle --------------------------------------------------------------------------------

KQ_DATA* kq_alloc() {
    auto* kq = static_cast<KQ_DATA*>(std::calloc(1, sizeof(KQ_DATA)));
    if (!kq) {
        kq_errno = KQ_ERR_ALLOC_HANDLE;
        return nullptr;
    }
    kq__refuse_access(kq);
    kq->pending = nullptr;
    kq_init(kq);
    kq_errno = 0;
    return kq;
}

void kq_init(KQ_DATA* kq) {
    kq->name = nullptr;
    kq->bitlen = 0;
    kq->org_x = kq->org_y = 0;
    kq->size_x = kq->size_y = 0;
    kq->aspect_x = kq->aspect_y = 0;
    kq->field = 'B';
    kq->data_type = 0;
    kq->line_count = kq->line_bytes = kq->data_bytes = 0;
    kq->fd = -1;
    kq->open_mode = KQ_MODE_READ;
    kq->child_pid = -1;
}

int kq_close(KQ_DATA* kq) {
    // A written file is synced, closed and given its name by its output file; a
    // failure there keeps the previous picture.
    if (kq->pending) {
        kq__childProcessKill(kq);
        return kq__finish_pending(kq, true);
    }
    if (!is_std_fd(kq->fd)) ::close(kq->fd);
    if (kq->fd != 0 && kq->fd != 1) kq->fd = -1;
    kq__childProcessKill(kq);
    return 1;
}

void kq_free(KQ_DATA* kq) {
    if (!kq) return;
    kq_close(kq);
    std::free(kq->name);
    std::free(kq);
}

// --- format ----------------------------------------------------------------------------------

void kq_get_origin(const KQ_DATA* kq, int* x, int* y) {
    *x = kq->org_x;
    *y = kq->org_y;
}

void kq_get_size(const KQ_DATA* kq, int* w, int* h) {
    *w = kq->size_x;
    *h = kq->size_y;
}

int kq_set_origin(KQ_DATA* kq, int x, int y) {
    if (!in_header_range(x) || !in_header_range(y)) return fail(KQ_ERR_SET_ORIGIN);
    kq->org_x = x;
    kq->org_y = y;
    // The field pictures' scanline count follows the bottom row's parity.
    if (valid_bitlen(kq->bitlen) && valid_field(kq->field))
        store_derived(kq, derive(kq->bitlen, kq->size_x, kq->size_y, kq->org_y, kq->field));
    kq_errno = 0;
    return 1;
}

int kq_set_format(KQ_DATA* kq, int size_x, int size_y, int bitlen, int field, int data_type) {
    if (!in_header_range(size_x) || !in_header_range(size_y)) return fail(KQ_ERR_SET_SIZE);
    if (!valid_bitlen(bitlen)) return fail(KQ_ERR_SET_BITLEN);
    if (!valid_field(field)) return fail(KQ_ERR_SET_FIELD);
    if (!kq_check_data_type(data_type, bitlen)) return 0;
    const Derived d = derive(bitlen, size_x, size_y, kq->org_y, field);
    // A field's scanline count follows the origin's parity; an origin set
    // afterwards can raise it by one, so leave room for that.
    Derived worst = d;
    if (field != 'B') {
        worst.line_count += 1;
        worst.data_bytes = worst.line_bytes * worst.line_count;
    }
    // Sizes of zero or below pass on their range alone: they describe no pixels.
    if (size_x > 0 && size_y > 0 && (!derived_fits(d) || !derived_fits(worst)))
        return fail(KQ_ERR_SET_SIZE);
    kq->size_x = size_x;
    kq->size_y = size_y;
    kq->bitlen = static_cast<uint32_t>(bitlen);
    kq->field = static_cast<char>(field);
    kq->data_type = static_cast<uint8_t>(data_type);
    store_derived(kq, d);
    kq__choose_access(kq);
    kq_errno = 0;
    return 1;
}

int kq_set_aspect(KQ_DATA* kq, int aspect_x, int aspect_y) {
    if (!in_header_range(aspect_x) || !in_header_range(aspect_y) || aspect_x == 0 ||
        aspect_y == 0)
        return fail(KQ_ERR_SET_ASPECT);
    kq->aspect_x = aspect_x;
    kq->aspect_y = aspect_y;
    kq_errno = 0;
    return 1;
}

int kq_default_data_type(int bitlen) {
    switch (bitlen) {
        case 1: case 8: case 12: return KQ_TYPE_MASK;
        case 24: case 36: return KQ_TYPE_COLOR;
        case 32: case 48: return KQ_TYPE_ALPHA | KQ_TYPE_COLOR;
        case 64: case 80: return KQ_TYPE_ALPHA | KQ_TYPE_COLOR | KQ_TYPE_VALUE;
        default: return 0;
    }
}

int kq_check_data_type(int data_type, int bitlen) {
    const int t = data_type & 0x0F;
    bool ok = false;
    switch (bitlen) {
        case 1: case 8: case 12: ok = t == 1 || t == 2; break;
        case 24: case 36: ok = t == 4; break;
        case 32: ok = t == 5 || t == 6 || t == 8; break;
        case 48: ok = t == 5 || t == 6; break;
        case 64: ok = t == 0x0E || (data_type & KQ_TYPE_AUX) != 0; break;
        case 80: ok = t == 0x0E; break;
        default: break;
    }
    if (!ok) return fail(KQ_ERR_DATA_TYPE);
    kq_errno = 0;
    return 1;
}

const char* kq_extension() { return ".tkq"; }
const char* kq_name_word() { return "tkqName"; }

// --- field geometry ----------------------------------------------------------------------------

int kq_line_stored(const KQ_DATA* kq, int y) {
    if (y < kq->org_y || int64_t(y) > int64_t(kq->org_y) + kq->size_y - 1) return 0;
    switch (kq->field) {
        case 'B': return 1;
        case 'E': return !is_odd(y);
        case 'O': return is_odd(y);
        default: return 0;
    }
}

int kq_lines_before(const KQ_DATA* kq, int y) {
    const int64_t k = int64_t(y) - kq->org_y + 1;
    int64_t stored = k;
    if (kq->field == 'E')
        stored = k / 2 + (!is_odd(kq->org_y) && is_odd(k) ? 1 : 0);
    else if (kq->field == 'O')
        stored = k / 2 + (is_odd(kq->org_y) && is_odd(k) ? 1 : 0);
    return static_cast<int>(kq->line_count - stored);
}

// --- header -------------------------------------------------------------------------------------

void kq__format_header(const KQ_DATA* kq, unsigned char out[128]) {
    char text[kHeaderBytes];
    std::memset(text, ' ', sizeof text);
    std::snprintf(text, sizeof text, "%6s   %7d %7d %7d %7d %7d %7d %7d %1c 0x%2x", "2Bkq16",
                  static_cast<int>(kq->bitlen), kq->org_x, kq->org_y, kq->size_x, kq->size_y,
                  kq->aspect_x, kq->aspect_y, kq->field, static_cast<unsigned>(kq->data_type));
    std::memcpy(out, text, kHeaderBytes);
}

int kq_write_header(KQ_DATA* kq) {
    unsigned char header[kHeaderBytes];
    kq__format_header(kq, header);
    if (!write_all(kq->fd, header, kHeaderBytes, kHeaderBytes)) return fail(KQ_ERR_PUT_HEADER);
    kq_errno = 0;
    return 1;
}

int kq__parse_header(KQ_DATA* kq, const unsigned char in[128]) {
    char text[kHeaderBytes + 1];
    std::memcpy(text, in, kHeaderBytes);
    text[kHeaderBytes] = '\0';
    char word[8] = {};
    int bitlen = 0, ox = 0, oy = 0, sx = 0, sy = 0, ax = 0, ay = 0;
    char field = 0;
    unsigned data_type = 0;
    // The scan skips any white space between fields, so spacing may vary; an older
    // header ends after the field character and has no data type.
    const int n = std::sscanf(text, "%6s   %7d %7d %7d %7d %7d %7d %7d %1c 0x%2x", word, &bitlen,
                              &ox, &oy, &sx, &sy, &ax, &ay, &field, &data_type);
    if (n != 9 && n != 10) return fail(KQ_ERR_READ_HEADER);
    if (std::strncmp(word, "2Bkq", 4) != 0) return fail(KQ_ERR_TAG);
    if (static_cast<unsigned char>(word[4]) > '1') return fail(KQ_ERR_VERSION);
    if (word[5] < '3' || word[5] > '9') return fail(KQ_ERR_MACHINE);
    kq->bitlen = static_cast<uint32_t>(bitlen);
    kq->org_x = ox;
    kq->org_y = oy;
    kq->size_x = sx;
    kq->size_y = sy;
    kq->aspect_x = ax;
    kq->aspect_y = ay;
    kq->field = field;
    kq->data_type = static_cast<uint8_t>(n == 10 ? data_type & 0xFF
                                                 : unsigned(kq_default_data_type(bitlen)));
    kq_errno = 0;
    return 1;
}

int kq_read_header(KQ_DATA* kq) {
    unsigned char header[kHeaderBytes];
    if (!read_all(kq->fd, header, kHeaderBytes, kHeaderBytes)) return fail(KQ_ERR_GET_HEADER);
    return kq__parse_header(kq, header);
}

int kq_check_header(KQ_DATA* kq) {
    if (!valid_bitlen(kq->bitlen)) return fail(KQ_ERR_BAD_BITLEN);
    if (kq->size_x <= 0 || kq->size_y <= 0) return fail(KQ_ERR_BAD_SIZE);
    if (kq->aspect_x <= 0 || kq->aspect_y <= 0) return fail(KQ_ERR_BAD_ASPECT);
    if (!valid_field(kq->field)) return fail(KQ_ERR_BAD_FIELD);
    if (!kq_check_data_type(kq->data_type, static_cast<int>(kq->bitlen))) return 0;
    // A picture whose scanlines cannot be addressed is refused, not half read.
    const Derived d = derive(kq->bitlen, kq->size_x, kq->size_y, kq->org_y, kq->field);
    if (!derived_fits(d)) return fail(KQ_ERR_BAD_SIZE);
    store_derived(kq, d);
    kq_errno = 0;
    return 1;
}

// --- scanlines -------------------------------------------------------------------------------------

unsigned char* kq_alloc_scanlines(const KQ_DATA* kq, int n) {
    const int64_t bytes = bytes_of(kq, n);
    auto* buf = kq_memory_allows(bytes)
                    ? static_cast<unsigned char*>(std::calloc(size_t(bytes > 0 ? bytes : 1), 1))
                    : nullptr;
    if (!buf) kq_errno = KQ_ERR_ALLOC_SCANLINE;
    return buf;
}

unsigned char* kq_alloc_scanline(const KQ_DATA* kq) { return kq_alloc_scanlines(kq, 1); }

int kq_read_scanlines(KQ_DATA* kq, unsigned char* buf, int n, int file_order) {
    if (kq->open_mode == KQ_MODE_WRITE) return fail(KQ_ERR_READ_DATA);
    const int64_t bytes = bytes_of(kq, n);
    if (!read_all(kq->fd, buf, bytes, kq->line_bytes)) return fail(KQ_ERR_READ_DATA);
    if (kq->bitlen == 32 && !file_order) reverse_groups(buf, bytes);
    kq_errno = 0;
    return 1;
}

int kq_read_scanline(KQ_DATA* kq, unsigned char* buf) { return kq_read_scanlines(kq, buf, 1); }

int kq_write_scanlines(KQ_DATA* kq, unsigned char* buf, int n, int file_order) {
    if (kq->open_mode != KQ_MODE_WRITE && kq->open_mode != KQ_MODE_UPDATE)
        return fail(KQ_ERR_WRITE_DATA);
    const int64_t bytes = bytes_of(kq, n);
    if (kq->bitlen == 32 && !file_order) reverse_groups(buf, bytes);
    if (!write_all(kq->fd, buf, bytes, kq->line_bytes)) {
        kq__mark_failed(kq);
        return fail(KQ_ERR_WRITE_DATA);
    }
    kq_errno = 0;
    return 1;
}

int kq_write_scanline(KQ_DATA* kq, unsigned char* buf) { return kq_write_scanlines(kq, buf, 1); }

int kq_seek_scanline(KQ_DATA* kq, int n, int whence) {
    if ((kq->open_mode != KQ_MODE_READ && kq->open_mode != KQ_MODE_UPDATE) ||
        (kq->name && std::strcmp(kq->name, "STDIN") == 0)) {
        kq__childProcessKill(kq);
        return fail(KQ_ERR_SEEK);
    }
    if (whence != SEEK_SET && whence != SEEK_CUR && whence != SEEK_END) return 1;
    int64_t offset = int64_t(n) * kq->line_bytes;
    if (whence == SEEK_SET) offset += kHeaderBytes;
    if (::lseek(kq->fd, static_cast<off_t>(offset), whence) < 0) return fail(KQ_ERR_SEEK);
    return 1;
}
