// Naming, creating and writing mapping-material files.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <bit>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "build_info.h"
#include "libout/out_file.h"
#include "libwf/wf.h"

int wf_overwrite_mode = 0;

namespace {

// Files being written, each with its stream; libout removes an unfinished
// temporary at exit.
std::vector<std::unique_ptr<OutputFile>>& pending_files() {
    static std::vector<std::unique_ptr<OutputFile>> list;
    return list;
}

// Reads the rest of the answer line; false at end of input.
bool skip_line() {
    for (;;) {
        const int c = std::getchar();
        if (c == '\n') return true;
        if (c == EOF) return false;
    }
}

// True when `name` may be written under the overwrite policy.
bool may_overwrite(const char* name) {
    if (!out_exists_readable(name)) return true;
    if (wf_overwrite_mode == 2) return false;
    if (wf_overwrite_mode != 1) return true;
    for (;;) {
        std::fputc('\a', stderr);
        std::fflush(stderr);
        std::fprintf(stderr, "MAP_lib WARNING : %s is already exist", name);
        std::fputs(", Overwrite? (y/n) ", stderr);
        std::fflush(stderr);
        const int c = std::getchar();
        if (c == 'n' || c == 'N') {
            skip_line();
            return false;
        }
        if (c == 'y' || c == 'Y') {
            skip_line();
            return true;
        }
        // Anything else asks again; an empty line has nothing left to skip.
        if (c == EOF || (c != '\n' && !skip_line())) return false;
    }
}

// Creates the output through libout: a regular file (or a new name) is written as
// a temporary beside it, anything else in place.
FILE* create_output(const std::string& name) {
    auto out = std::make_unique<OutputFile>();
    FILE* fp = out->open_stream(name.c_str(), OutputRules{nullptr, ".wftmp", 0666});
    if (!fp) return nullptr;
    std::setvbuf(fp, nullptr, _IOFBF, 1 << 20);  // few, large writes
    pending_files().push_back(std::move(out));
    return fp;
}

int write_all(const void* data, size_t bytes, FILE* fp) {
    return bytes == 0 || std::fwrite(data, 1, bytes, fp) == bytes;
}

int write_seeks(int32_t count, const int32_t* offsets, FILE* fp) {
    // In pieces: a block of millions of tiles needs no second copy in memory.
    unsigned char bytes[4096];
    for (int32_t i = 0; i < count;) {
        size_t n = 0;
        for (; i < count && n < sizeof bytes; ++i, n += 4)
            wf_put32(bytes + n, static_cast<uint32_t>(offsets[i]));
        if (!write_all(bytes, n, fp)) return 0;
    }
    return 1;
}

}  // namespace

void wf_complete_name(const char* name, char* out, size_t out_size) {
    std::string s = name;
    const size_t slash = s.rfind('/');
    const size_t dot = s.rfind('.');
    if (dot != std::string::npos && (slash == std::string::npos || dot > slash) &&
        s.compare(dot, 3, ".wf") == 0)
        s.erase(dot);
    s += ".wf";
    std::snprintf(out, out_size, "%s", s.c_str());
}

FILE* wf_open(const char* name, const char* mode) {
    if (!name || !mode || (mode[0] != 'r' && mode[0] != 'w')) return nullptr;
    if (std::strlen(name) >= 1024) return nullptr;
    char full[1100];
    wf_complete_name(name, full, sizeof full);
    if (mode[0] == 'r') return std::fopen(full, "rb");
    if (!may_overwrite(full)) return nullptr;
    return create_output(full);
}

int wf_close(FILE* fp, int complete) {
    if (!fp) return 0;
    auto& list = pending_files();
    for (size_t i = 0; i < list.size(); ++i) {
        if (list[i]->stream() != fp) continue;
        const std::unique_ptr<OutputFile> out = std::move(list[i]);
        list.erase(list.begin() + static_cast<long>(i));
        if (complete) return out->commit();
        out->abandon();
        return 0;
    }
    const bool ok = std::fflush(fp) == 0 && !std::ferror(fp);
    return std::fclose(fp) == 0 && ok;
}

#ifdef KQ_FUZZ_BUILD
void wf_abandon_unfinished() { pending_files().clear(); }
#endif

WF_HEADER* wf_alloc_header() {
    auto* h = static_cast<WF_HEADER*>(std::calloc(1, sizeof(WF_HEADER)));
    if (!h) return nullptr;
    h->planes = 4;
    h->map_kind = WF_MIPMAP;
    h->tiling_type = WF_TILE_STD;
    h->map_width = h->map_height = 512;
    h->src_width = h->src_height = 512;
    h->seek_count = 10;
    h->root_level = 10;
    h->tiles_x = h->tiles_y = 4;
    h->tile_width = h->tile_height = 128;
    return h;
}

int wf_write_header(WF_HEADER* h, FILE* fp) {
    std::memcpy(h->magic, "2BMI", 4);
    h->version = 2;
    h->machine = '6';
    if (h->map_kind == WF_MIPMAP || h->map_kind == WF_SUPER_MIPMAP)
        h->seek_count = h->root_level;
    else if (h->map_kind == WF_SUMMED_AREA)
        h->seek_count = static_cast<int32_t>(static_cast<uint32_t>(h->tiles_x) *
                                             static_cast<uint32_t>(h->tiles_y));
    else
        h->seek_count = 0;
    unsigned char b[WF_HEADER_BYTES] = {};
    std::memcpy(b, h->magic, 4);
    b[4] = h->version;
    b[5] = h->machine;
    b[6] = h->map_kind;
    b[7] = h->tiling_type;
    b[8] = static_cast<unsigned char>(h->planes >> 8);
    b[9] = static_cast<unsigned char>(h->planes);
    const int32_t fields[] = {h->map_width, h->map_height, h->org_x,      h->org_y,
                              h->src_width, h->src_height, h->seek_count, h->root_level,
                              h->tiles_x,   h->tiles_y,    h->tile_width, h->tile_height};
    for (size_t i = 0; i < sizeof fields / sizeof fields[0]; ++i)
        wf_put32(b + 10 + 4 * i, static_cast<uint32_t>(fields[i]));
    std::memcpy(b + 58, h->reserved, sizeof h->reserved);
    return write_all(b, sizeof b, fp);
}

int wf_write_level_seeks(const WF_HEADER* h, const int32_t* offsets, FILE* fp) {
    return write_seeks(h->root_level, offsets, fp);
}

int wf_write_tile_seeks(const WF_HEADER* h, const int32_t* offsets, FILE* fp) {
    return write_seeks(static_cast<int32_t>(static_cast<uint32_t>(h->tiles_x) *
                                            static_cast<uint32_t>(h->tiles_y)),
                       offsets, fp);
}

int wf_write_level(int super, const WF_HEADER* h, const WF_LEVEL* lv, FILE* fp) {
    unsigned char head[8];
    wf_put32(head, static_cast<uint32_t>(lv->level));
    wf_put32(head + 4, static_cast<uint32_t>(lv->edge));
    if (!write_all(head, sizeof head, fp)) return 0;
    const size_t e = static_cast<size_t>(lv->edge);
    for (int p = 0; p < h->planes; ++p)
        if (!write_all(lv->plane[p], e * e, fp)) return 0;
    if (super && lv->level != h->root_level) {
        const size_t uv = e * static_cast<size_t>(wf_level_size(h->root_level));
        for (int p = 0; p < h->planes; ++p)
            if (!write_all(lv->u[p], uv, fp)) return 0;
        for (int p = 0; p < h->planes; ++p)
            if (!write_all(lv->v[p], uv, fp)) return 0;
    }
    return 1;
}

int64_t wf_tile_bytes(int64_t width, int64_t height, int64_t planes) {
    if (width < 0 || height < 0 || planes < 0) return -1;
    if (width > 0 && height > INT64_MAX / 16 / width) return -1;
    const int64_t area = width * height;
    if (planes > 0 && area > (INT64_MAX / 8 - WF_TILE_HEAD_BYTES) / planes / 4) return -1;
    return WF_TILE_HEAD_BYTES + planes * area * 4;
}

int64_t wf_level_bytes(int super, int level, int root_level, int planes) {
    const int64_t e = wf_level_size(level);
    int64_t bytes = 8 + planes * e * e;
    if (super && level != root_level) bytes += 2 * planes * e * wf_level_size(root_level);
    return bytes;
}

int wf_alloc_tile(WF_TILE* t) {
    const int64_t bytes = wf_tile_bytes(t->width, t->height, t->planes);
    t->block = nullptr;
    t->data = nullptr;
    if (bytes < 0 || static_cast<uint64_t>(bytes) > SIZE_MAX / 2) return 0;
#ifdef KQ_FUZZ_CAPS
    if (bytes > WF_FUZZ_MAX_BLOCK) return 0;
#endif
    t->block = static_cast<unsigned char*>(std::malloc(static_cast<size_t>(bytes)));
    if (!t->block) return 0;
    t->data = reinterpret_cast<uint32_t*>(t->block + WF_TILE_HEAD_BYTES);
    return 1;
}

int wf_write_tile(WF_TILE* t, FILE* fp) {
    wf_put32(t->block, static_cast<uint32_t>(t->org_x));
    wf_put32(t->block + 4, static_cast<uint32_t>(t->org_y));
    wf_put32(t->block + 8, static_cast<uint32_t>(t->width));
    wf_put32(t->block + 12, static_cast<uint32_t>(t->height));
    wf_put32(t->block + 16, static_cast<uint32_t>(t->planes));
    const size_t n = static_cast<size_t>(t->width) * static_cast<size_t>(t->height) *
                     static_cast<size_t>(t->planes);
    if constexpr (std::endian::native == std::endian::little) {
        uint32_t* d = t->data;
        for (size_t i = 0; i < n; ++i) d[i] = __builtin_bswap32(d[i]);
    }
    return write_all(t->block, WF_TILE_HEAD_BYTES + n * 4, fp);
}

int wf_level_size(int level) {
    if (level <= 0 || level > WF_MAX_LEVEL) return 0;
    return 1 << (level - 1);
}

void wf_print_module() {
    std::fprintf(stderr, "module = %s\n", "libwf");
    const std::string lines[] = {
        "InitialVersion : ver 1.00 Dec/07/92",
        "Version        : ver 3.00 Jun/16/96",
        std::string("CompileDate    : ") + KQ_BUILD_DATE,
        std::string("CompileMachine : ") + KQ_BUILD_MACHINE,
        std::string("CompileOS      : ") + KQ_BUILD_OS,
        std::string("CompileUser    : ") + KQ_BUILD_USER,
    };
    for (const std::string& line : lines) std::fprintf(stderr, "  %s\n", line.c_str());
}
