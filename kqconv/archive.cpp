// Compressed pictures of old archives (.tkq.gz, .pix.Z, .tkq.z ...): gzip streams
// through zlib, compress (.Z) streams through the LZW reader below. The unpacked
// bytes are read as whatever picture they hold.
#include <unistd.h>
#include <zlib.h>

#include <cstring>

#include "kqconv/formats.h"

namespace {

// Unpacked sizes past this are refused: a small hostile file can claim any size.
int64_t unpack_limit() {
#ifdef KQ_FUZZ_BUILD
    return int64_t(1) << 26;
#else
    static const int64_t memory = int64_t(::sysconf(_SC_PHYS_PAGES)) * ::sysconf(_SC_PAGESIZE);
    return memory > 0 ? memory / 2 : int64_t(1) << 34;
#endif
}

void grow(std::vector<uint8_t>& out, size_t need) {
    if (int64_t(need) > unpack_limit()) throw ConvError("too large once unpacked");
    if (need > out.size()) out.resize(std::max(need, out.size() * 2));
}

// Every gzip member, one after another, as gzip -dc gives them.
std::vector<uint8_t> gunzip(Bytes in) {
    std::vector<uint8_t> out(std::max<size_t>(in.size() * 4, 1 << 16));
    size_t used = 0, pos = 0;
    while (pos < in.size()) {
        z_stream z{};
        if (inflateInit2(&z, 15 + 16) != Z_OK) throw ConvError("bad gzip stream: no memory");
        z.next_in = const_cast<Bytef*>(in.data() + pos);
        int rc = Z_OK;
        uInt given = 0;
        while (rc == Z_OK) {
            if (z.avail_in == 0) {
                const size_t left = in.size() - pos - z.total_in;
                given = uInt(std::min<size_t>(left, 1u << 30));
                if (given == 0) break;
                z.next_in = const_cast<Bytef*>(in.data() + pos + z.total_in);
                z.avail_in = given;
            }
            if (used == out.size()) grow(out, used + 1);
            const size_t room = std::min<size_t>(out.size() - used, 1u << 30);
            z.next_out = out.data() + used;
            z.avail_out = uInt(room);
            rc = inflate(&z, Z_NO_FLUSH);
            used += room - z.avail_out;
        }
        const size_t consumed = z.total_in;
        const std::string why = z.msg ? z.msg : "truncated";
        inflateEnd(&z);
        if (rc != Z_STREAM_END) throw ConvError("bad gzip stream: " + why);
        pos += consumed;
        // Trailing zeros (tape padding) end the stream, as gzip allows.
        while (pos < in.size() && in[pos] == 0) ++pos;
        if (pos < in.size() && !(in.size() - pos >= 2 && in[pos] == 0x1f && in[pos + 1] == 0x8b))
            break;
    }
    out.resize(used);
    return out;
}

// compress's LZW: codes of 9 bits growing to the header's maximum (at most 16),
// least significant bit first. Codes come in groups of eight; when the code width
// grows, or a clear code (256, block mode) resets the table, the rest of the group
// is skipped, as compress wrote it. A 9-bit stream is the odd one: once its table is
// full (512 entries) compress goes on in 10-bit codes, as gzip -dc reads it too.
// (ncompress 4.2 stays at 9 bits and writes code 512 in them, losing a bit: such a
// stream fails here as in gzip, where reading it as 9-bit would give wrong bytes.)
std::vector<uint8_t> unlzw(Bytes in) {
    if (in.size() < 3) throw ConvError("bad compress stream: truncated header");
    const int max_bits = in[2] & 0x1f;
    const bool block_mode = (in[2] & 0x80) != 0;
    if (max_bits < 9 || max_bits > 16) throw ConvError("bad compress stream: code width");
    const int64_t max_max_code = int64_t(1) << max_bits;
    std::vector<uint16_t> prefix(static_cast<size_t>(max_max_code));
    std::vector<uint8_t> suffix(static_cast<size_t>(max_max_code)), stack(static_cast<size_t>(max_max_code));
    for (int i = 0; i < 256; ++i) suffix[size_t(i)] = uint8_t(i);
    std::vector<uint8_t> out(std::max<size_t>(in.size() * 3, 1 << 16));
    size_t used = 0;

    const int64_t total_bits = int64_t(in.size() - 3) * 8;
    const uint8_t* data = in.data() + 3;
    int64_t pos = 0, group_start = 0;
    int bits = 9;
    int64_t max_code = (1 << bits) - 1;
    int64_t free_ent = block_mode ? 257 : 256;
    int64_t old_code = -1;
    int fin_char = 0;
    // The next multiple of a group (8 codes of `bits` bits) from where this width began.
    auto skip_group = [&] {
        const int64_t group = int64_t(bits) * 8;
        pos = group_start + (pos - group_start + group - 1) / group * group;
        group_start = pos;
    };
    while (pos + bits <= total_bits) {
        if (free_ent > max_code) {
            skip_group();
            ++bits;
            max_code = bits == max_bits ? max_max_code : (int64_t(1) << bits) - 1;
            continue;
        }
        const int64_t byte = pos >> 3;
        uint32_t window = data[byte];
        if (byte + 1 < total_bits / 8) window |= uint32_t(data[byte + 1]) << 8;
        if (byte + 2 < total_bits / 8) window |= uint32_t(data[byte + 2]) << 16;
        int64_t code = (window >> (pos & 7)) & ((1u << bits) - 1);
        pos += bits;
        if (old_code == -1) {
            if (code >= 256) throw ConvError("bad compress stream: first code");
            old_code = code;
            fin_char = int(code);
            grow(out, used + 1);
            out[used++] = uint8_t(code);
            continue;
        }
        if (code == 256 && block_mode) {
            free_ent = 256;
            skip_group();
            bits = 9;
            max_code = (1 << bits) - 1;
            continue;
        }
        const int64_t in_code = code;
        size_t sp = stack.size();
        if (code >= free_ent) {  // the string being defined: the last one plus its first byte
            if (code > free_ent) throw ConvError("bad compress stream: code out of order");
            stack[--sp] = uint8_t(fin_char);
            code = old_code;
        }
        while (code >= 256) {
            if (sp == 0) throw ConvError("bad compress stream: loop");
            stack[--sp] = suffix[size_t(code)];
            code = prefix[size_t(code)];
        }
        fin_char = suffix[size_t(code)];
        if (sp == 0) throw ConvError("bad compress stream: loop");
        stack[--sp] = uint8_t(fin_char);
        const size_t n = stack.size() - sp;
        grow(out, used + n);
        std::memcpy(out.data() + used, stack.data() + sp, n);
        used += n;
        if (free_ent < max_max_code) {
            prefix[size_t(free_ent)] = uint16_t(old_code);
            suffix[size_t(free_ent)] = uint8_t(fin_char);
            ++free_ent;
        }
        old_code = in_code;
    }
    out.resize(used);
    return out;
}

}  // namespace

std::vector<uint8_t> unpack_archive(Bytes bytes) {
    if (bytes.size() >= 2 && bytes[0] == 0x1f && bytes[1] == 0x8b) return gunzip(bytes);
    if (bytes.size() >= 2 && bytes[0] == 0x1f && bytes[1] == 0x9d) return unlzw(bytes);
    throw ConvError("pack (.z) streams are not read: unpack with gzip -dc first");
}

Picture read_archive(Bytes bytes, const ReadOptions& opt) {
    const std::vector<uint8_t> inner = unpack_archive(bytes);
    const FormatRow* row = format_row_of_bytes(inner);
    // One level only: an archive inside an archive is not an old picture.
    if (!row || row->id == Format::archive) throw ConvError("unpacked, but not a picture");
    return row->read(inner, opt);
}
