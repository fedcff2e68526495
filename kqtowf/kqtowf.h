// kqtowf: converts one picture into a mapping-material file (".wf"): a MIP-MAP or
// SUPER-MIP-MAP pyramid, or a grid of summed-area tiles, from a window and a choice
// of planes of the picture.
//
// Channel order: channels 1, 2, 3, 4 of a picture are taken as red, green, blue,
// alpha. (kqc writes 24-bit pictures as blue, green, red and 32-bit pictures as
// alpha, blue, green, red, so its pictures reach a .wf in that plane order unless
// their planes are reordered with `plane` before `write`.)
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "libkq/kq.h"
#include "libwf/wf.h"
#include "parallel/pages.h"

// Plane key bits.
enum : int { KEY_R = 1, KEY_G = 2, KEY_B = 4, KEY_A = 8, KEY_RGB = 7, KEY_RGBA = 15 };

struct ConvertSettings {
    std::string in_name;
    std::string out_name;
    int names = 0;  // how many names were given
    bool window_given = false;
    int64_t x1 = 0, y1 = 0, x2 = 0, y2 = 0;
    int plane_key = 0;  // 0: not given
    int map_kind = WF_SUMMED_AREA;
    int mip_level = 0;  // 0: automatic
    int tile_x = 8, tile_y = 8;
    int tiling = WF_TILE_STD;
    bool verbose = false, force = false, silent = false;
    int threads = 0;  // -j N; 0: not given (every CPU the process may use)
};

// The source window as byte planes, red, green, blue, alpha for those present;
// row 0 is the window's bottom row, index 0 of a row is column x1.
struct SourcePlanes {
    int width = 0, height = 0;
    int count = 0;
    uint8_t* plane[4] = {};  // malloc'd, width * height bytes each
    int x1 = 0, y1 = 0;
    int org_x = 0, org_y = 0, size_x = 0, size_y = 0;
    uint32_t bitlen = 0;
    uint8_t data_type = 0;
};

// The bell, "kqtowf error exit", status 1.
[[noreturn]] void error_exit();
// Ends the program with `status` (the error exit and the direct exits). The fuzz
// build removes any unfinished output and throws KqtowfExit instead, so that its
// driver goes on with the next input.
[[noreturn]] void exit_program(int status);
#ifdef KQ_FUZZ_BUILD
struct KqtowfExit {
    int status;
};
#endif

// Blocks from malloc or alloc_work.
template <class T>
using Owned = std::unique_ptr<T, FreePages>;
// A large work block (source planes, levels, hold arrays), zeroed when asked, freed
// with free_pages: null when it cannot be had. The fuzz build refuses more than a
// small picture's worth.
void* alloc_work(int64_t bytes, bool zeroed = false);
// The whole program; returns the exit status.
int kqtowf_main(int argc, char** argv);

// --- command line (options.cpp) --------------------------------------------------------
// Leading decimal integer of a word (optional sign), 0 when there is none;
// saturates at the int range.
int read_number(const char* word);
void print_usage();
// Fills the settings from the arguments after the program name; every error is
// fatal. Puts a given window in order.
void parse_settings(int argc, char** argv, ConvertSettings& s);
void dump_settings(const ConvertSettings& s);

// --- source reading (source.cpp) -------------------------------------------------------
// The planes to convert for a bit length and key (0: none given): a key of KEY_*
// bits, with the warnings printed.
int choose_planes(uint32_t bitlen, int key);
// Reads the window and planes of s.in_name; every failure is fatal.
void read_source(ConvertSettings& s, SourcePlanes& src);
// Channels (0-based, 0 red .. 3 alpha) of the planes of a key, in plane order.
int key_channels(int key, int channel[4]);
// One scanline's columns [x_from, x_from + count) into the planes' bytes, `nplanes`
// planes taking channels `channel`: through kq_get_pixel and kq_pixel_to_float
// (plain) or by direct unpacking (fast, the same bytes). False when a pixel cannot
// be fetched (kq_errno set). With file_order, a 32-bit scanline is as the file holds
// it (4-byte groups not reversed).
bool unpack_row_plain(const KQ_DATA* kq, const unsigned char* line, int x_from, int count,
                      const int channel[4], int nplanes, uint8_t* const out[4]);
bool unpack_row(const KQ_DATA* kq, const unsigned char* line, int x_from, int count,
                const int channel[4], int nplanes, uint8_t* const out[4], bool file_order = false);

// --- mip-maps (mipmap.cpp) ---------------------------------------------------------------
// Smallest level whose edge holds len, or 0 when none up to 25 does.
int pre_mipmap_level(int64_t len);
// The bilinear resampling of n source planes (width x height) into edge x edge
// squares, row by row (with the progress dots when `dots`), and the plain
// transcription of the formula for one plane.
void resample_planes(const uint8_t* const src[], int n, int width, int height, int edge,
                     uint8_t* const dst[], bool dots);
void resample_plane_plain(const uint8_t* src, int width, int height, int edge, uint8_t* dst);
// 2x2 averages of a (2e x 2e) square into an e x e square (dst may be src); pairs across (U: rows x
// 2e into rows x e) and pairs down (V: 2e rows x cols into e rows x cols).
void halve_square(const uint8_t* src, int e, uint8_t* dst);
void halve_square_plain(const uint8_t* src, int e, uint8_t* dst);
void halve_across(const uint8_t* src, int rows, int e, uint8_t* dst);
void halve_across_plain(const uint8_t* src, int rows, int e, uint8_t* dst);
void halve_down(const uint8_t* src, int e, int cols, uint8_t* dst);
void halve_down_plain(const uint8_t* src, int e, int cols, uint8_t* dst);
// Builds and writes the MIP-MAP or SUPER-MIP-MAP file; frees the source planes.
void build_mipmap(const ConvertSettings& s, SourcePlanes& src);

// --- summed-area tiles (summed.cpp) --------------------------------------------------------
// Tiles across / down for a window side and a tile side.
int64_t tile_count(int64_t side, int64_t tile);
// Makes the tiles in file order: calls next() for tile ids 0, 1, ... Holds the
// running-sum row and the left-edge state between calls.
class SummedAreaTiler {
public:
    // False when the hold arrays cannot be allocated.
    bool init(const SourcePlanes& src, int tile_w, int tile_h, int tiling);
    ~SummedAreaTiler();
    // Fills tile (allocated for tile_w x tile_h x planes) with the next tile.
    void next(WF_TILE& tile);
    // Fills the next n tiles of the current row of tiles (n <= across less the
    // tiles of the row made so far), the planes on threads of their own.
    void next_tiles(WF_TILE* tiles, int64_t n);
    int64_t across = 0, down = 0;

private:
    // Plane p of the tile at column col of the current row of tiles.
    void fill_plane(WF_TILE& tile, int p, int64_t col);
    const SourcePlanes* src_ = nullptr;
    int tw_ = 0, th_ = 0, tiling_ = 0;
    int64_t row_width_ = 0;
    int64_t col_ = 0, row_ = 0;  // next tile's column and row
    uint32_t* running_ = nullptr;  // per plane: S of the latest table row, whole width
    uint32_t* carry_ = nullptr;    // per plane and tile row: row sum left of the tile
};
// Builds and writes the SUMMED-AREA file.
void build_summed_area(const ConvertSettings& s, const SourcePlanes& src);

// --- shared by the builders ------------------------------------------------------------
// "%d byte", "%7.2f Kbyte" or "%7.2f Mbyte".
std::string size_text(int64_t bytes);
// Fatal (before anything is written) unless the last record of a file starts at an
// offset that a signed 32-bit seek entry can hold; a negative start means
// "beyond any size".
void check_addressable(int64_t last_record_start);
