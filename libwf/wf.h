// libwf: the mapping-material file (".wf") that kqtowf writes.
//
// A file is a 128-byte header, a seek block of signed 32-bit file offsets (one per
// level or tile), then the level or tile records. Every number in the file is
// big-endian; the writers convert on output. Output is written under a temporary
// name beside the final one and renamed over it by wf_close only when complete.
#pragma once

#include <cstdint>
#include <cstdio>

// Map kinds and tiling types as stored in the header.
enum : uint8_t { WF_MIPMAP = 0, WF_SUPER_MIPMAP = 1, WF_SUMMED_AREA = 2 };
enum : uint8_t { WF_TILE_STD = 0, WF_TILE_U = 1, WF_TILE_V = 2, WF_TILE_UV = 3, WF_TILE_CONST = 4 };

constexpr int WF_HEADER_BYTES = 128;
constexpr int WF_TILE_HEAD_BYTES = 20;
constexpr int WF_MAX_LEVEL = 25;

struct WF_HEADER {
    char magic[4];         // "2BMI"
    uint8_t version;       // 2
    uint8_t machine;       // '6'
    uint8_t map_kind;      // WF_MIPMAP, WF_SUPER_MIPMAP, WF_SUMMED_AREA
    uint8_t tiling_type;   // WF_TILE_* (summed-area files only)
    uint16_t planes;
    int32_t map_width;     // root edge, or the window width for summed-area files
    int32_t map_height;
    int32_t org_x;         // window x1, y1
    int32_t org_y;
    int32_t src_width;     // window size
    int32_t src_height;
    int32_t seek_count;    // recomputed by wf_write_header from the map kind
    int32_t root_level;    // 0 in summed-area files
    int32_t tiles_x;       // 0 in mip-map files
    int32_t tiles_y;
    int32_t tile_width;
    int32_t tile_height;
    uint8_t reserved[70];
};

// One level of a mip-map in memory: per plane an edge x edge square, row 0 first;
// in super mip-maps, for levels below the root, per plane a U array (root-edge rows
// of `edge` bytes) and a V array (`edge` rows of root-edge bytes).
struct WF_LEVEL {
    int32_t level;
    int32_t edge;
    uint8_t* plane[4];
    uint8_t* u[4];
    uint8_t* v[4];
};

// One summed-area tile: the record's 20-byte head and its planes in one block.
// `data` points just past the head: planes * width * height sums, plane after
// plane, row 0 (the lower row) first.
struct WF_TILE {
    int32_t org_x;
    int32_t org_y;
    int32_t width;
    int32_t height;
    int32_t planes;
    unsigned char* block;  // WF_TILE_HEAD_BYTES + data bytes, owned (free())
    uint32_t* data;
};

// Overwrite policy of wf_open for writing: 0 replace, 1 ask, 2 refuse.
extern int wf_overwrite_mode;

// The completed name: the last dot part of the base name is cut when it begins
// with ".wf", then ".wf" is appended.
void wf_complete_name(const char* name, char* out, size_t out_size);
// Opens the completed name: mode "r..." reads, "w..." creates (under the overwrite
// policy, as a temporary renamed at wf_close). Null for other modes, names of
// 1024 characters or more, a refusal or an open failure.
FILE* wf_open(const char* name, const char* mode);
// Closes a stream of wf_open. A written file is renamed onto its name when
// `complete` is set and everything reached the disk, and removed otherwise (an
// earlier file of that name then stays). 1 on success. A temporary still open
// when the program exits is removed.
int wf_close(FILE* fp, int complete);
#ifdef KQ_FUZZ_BUILD
// The fuzz build's work blocks (tiles, and kqtowf's planes and levels) are refused
// beyond this size, and a fatal exit that does not end the process closes and
// removes the files still being written.
constexpr int64_t WF_FUZZ_MAX_BLOCK = int64_t(1) << 18;
void wf_abandon_unfinished();
#endif

WF_HEADER* wf_alloc_header();
int wf_write_header(WF_HEADER* header, FILE* fp);
int wf_write_level_seeks(const WF_HEADER* header, const int32_t* offsets, FILE* fp);
int wf_write_tile_seeks(const WF_HEADER* header, const int32_t* offsets, FILE* fp);
// super: SUPER-MIP-MAP file (U and V arrays follow for levels below the root).
int wf_write_level(int super, const WF_HEADER* header, const WF_LEVEL* level, FILE* fp);
// Allocates tile->block for tile->width, height and planes (sizes in 64 bits).
int wf_alloc_tile(WF_TILE* tile);
// Writes one tile record. The sums are turned to file byte order in place, so the
// data is not reusable afterwards.
int wf_write_tile(WF_TILE* tile, FILE* fp);
// Bytes of one tile record and of one level record, or -1 when they cannot be
// represented.
int64_t wf_tile_bytes(int64_t width, int64_t height, int64_t planes);
int64_t wf_level_bytes(int super, int level, int root_level, int planes);
// Edge of a level: 0 for level 0 and outside 0..25, else 2^(level-1).
int wf_level_size(int level);
void wf_print_module();

// Big-endian helpers.
inline void wf_put32(unsigned char* p, uint32_t v) {
    p[0] = static_cast<unsigned char>(v >> 24);
    p[1] = static_cast<unsigned char>(v >> 16);
    p[2] = static_cast<unsigned char>(v >> 8);
    p[3] = static_cast<unsigned char>(v);
}
inline uint32_t wf_get32(const unsigned char* p) {
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}
