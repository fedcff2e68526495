// A look inside mapping-material (.wf) files: the levels of a MIP-MAP or
// SUPER-MIP-MAP file side by side, or the picture a SUMMED-AREA file was made from,
// rebuilt from its tiles; and the header fields for --info.
#include <cstdio>
#include <cstring>

#include "kqconv/formats.h"

namespace {

constexpr int kHeader = 128;

int32_t be32(Bytes b, int64_t at) {
    return int32_t(uint32_t(b[size_t(at)]) << 24 | uint32_t(b[size_t(at + 1)]) << 16 |
                   uint32_t(b[size_t(at + 2)]) << 8 | uint32_t(b[size_t(at + 3)]));
}

struct WfHeader {
    int kind = 0, tiling = 0, planes = 0;
    int32_t width = 0, height = 0, x = 0, y = 0, source_w = 0, source_h = 0;
    int32_t seeks = 0, root = 0, across = 0, down = 0, tile_w = 0, tile_h = 0;
};

WfHeader parse_header(Bytes b) {
    if (b.size() < size_t(kHeader)) throw ConvError("truncated .wf header");
    if (std::memcmp(b.data(), "2BMI", 4) != 0) throw ConvError("not a .wf file");
    WfHeader h;
    h.kind = b[6];
    h.tiling = b[7];
    h.planes = int(b[8]) << 8 | b[9];
    h.width = be32(b, 10), h.height = be32(b, 14), h.x = be32(b, 18), h.y = be32(b, 22);
    h.source_w = be32(b, 26), h.source_h = be32(b, 30), h.seeks = be32(b, 34), h.root = be32(b, 38);
    h.across = be32(b, 42), h.down = be32(b, 46), h.tile_w = be32(b, 50), h.tile_h = be32(b, 54);
    if (h.kind > 2) throw ConvError("unknown .wf map kind " + std::to_string(h.kind));
    if (h.planes < 1 || h.planes > 4) throw ConvError("bad .wf plane count " + std::to_string(h.planes));
    if (h.seeks < 0 || int64_t(h.seeks) * 4 > int64_t(b.size()) - kHeader)
        throw ConvError("truncated .wf seek block");
    return h;
}

int64_t seek_of(Bytes b, int i) { return int64_t(uint32_t(be32(b, kHeader + 4 * int64_t(i)))); }

int64_t edge_of(int level) { return level >= 1 && level <= 25 ? int64_t(1) << (level - 1) : 0; }

// The sheet's channels for a plane count: 1 grey, 2 and 3 RGB (blue 0 for 2), 4 RGBA.
int sheet_channels(int planes) { return planes == 1 ? 1 : planes == 4 ? 4 : 3; }

// Copies `planes` arrays of w × h bytes (row 0 at the bottom), one after another from
// `src`, into the sheet at (x, y) from the top, rows flipped.
void place(Picture& sheet, const uint8_t* src, int planes, int64_t w, int64_t h, int64_t x,
           int64_t y) {
    const int ch = sheet.channels;
    for (int p = 0; p < planes; ++p)
        for (int64_t r = 0; r < h; ++r) {
            const uint8_t* s = src + (int64_t(p) * h + r) * w;
            uint8_t* d = sheet.data.data() + ((y + h - 1 - r) * sheet.width + x) * ch + p;
            for (int64_t c = 0; c < w; ++c) d[c * ch] = s[c];
        }
}

// Every level record, checked against the file: its number and edge, and where its
// square planes (and U, V arrays) start.
struct LevelRecord {
    int level;
    int64_t edge, at;
};

std::vector<LevelRecord> level_records(Bytes b, const WfHeader& h) {
    const int64_t root_edge = edge_of(h.root);
    if (root_edge == 0 || h.seeks != h.root) throw ConvError("bad .wf root level");
    std::vector<LevelRecord> out;
    for (int i = 0; i < h.seeks; ++i) {
        const int64_t at = seek_of(b, i);
        if (at < kHeader || at + 8 > int64_t(b.size())) throw ConvError("bad .wf level offset");
        const int level = be32(b, at);
        const int64_t edge = be32(b, at + 4);
        if (level != h.root - i || edge != edge_of(level)) throw ConvError("bad .wf level record");
        const bool uv = h.kind == 1 && level != h.root;
        const int64_t size = h.planes * edge * edge + (uv ? 2 * h.planes * edge * root_edge : 0);
        if (size > int64_t(b.size()) - at - 8) throw ConvError("truncated .wf level");
        out.push_back({level, edge, at + 8});
    }
    return out;
}

Picture mip_sheet(Bytes b, const WfHeader& h, int only) {
    const std::vector<LevelRecord> levels = level_records(b, h);
    const int64_t r = edge_of(h.root);
    const int ch = sheet_channels(h.planes);
    Picture sheet;
    if (only >= 0) {
        for (const LevelRecord& l : levels)
            if (l.level == only) {
                sheet.allocate(l.edge, l.edge, ch);
                std::memset(sheet.data.data(), 0, sheet.data.size());
                place(sheet, b.data() + l.at, h.planes, l.edge, l.edge, 0, 0);
                sheet.premultiplied = ch == 4;
                return sheet;
            }
        throw ConvError("no level " + std::to_string(only) + " in this file (levels " +
                        std::to_string(h.root) + " ~ 1)");
    }
    // Squares along the top, largest first; SUPER-MIP-MAP files add a band of the U
    // arrays (edge wide, root tall) under each square, then the V arrays (root wide,
    // edge tall) stacked at the left.
    const bool super = h.kind == 1;
    const int64_t width = r == 1 ? 1 : 2 * r - 1, height = super && r > 1 ? 3 * r - 1 : r;
    sheet.allocate(width, height, ch);
    std::memset(sheet.data.data(), 0, sheet.data.size());
    int64_t x = 0, vy = 2 * r;
    for (const LevelRecord& l : levels) {
        const uint8_t* p = b.data() + l.at;
        place(sheet, p, h.planes, l.edge, l.edge, x, 0);
        if (super && l.level != h.root) {
            const int64_t plane = l.edge * l.edge, arr = l.edge * r;
            place(sheet, p + h.planes * plane, h.planes, l.edge, r, x, r);
            place(sheet, p + h.planes * (plane + arr), h.planes, r, l.edge, 0, vy);
            vy += l.edge;
        }
        x += l.edge;
    }
    sheet.premultiplied = ch == 4;
    return sheet;
}

// The window rebuilt from the summed-area table: each value is the difference of
// four sums, in 32-bit arithmetic that wraps as the sums did.
Picture summed_area_picture(Bytes b, const WfHeader& h) {
    const int64_t tw = h.tile_w, th = h.tile_h, across = h.across, down = h.down;
    if (tw <= 0 || th <= 0 || across <= 0 || down <= 0 || across * down != h.seeks)
        throw ConvError("bad .wf tile grid");
    const int64_t tab_w = across * tw, tab_h = down * th;
    const int64_t w = h.width, ht = h.height;
    if (w <= 0 || ht <= 0 || w + 1 > tab_w || ht + 1 > tab_h) throw ConvError("bad .wf window size");
    Picture::check_size(tab_w, tab_h, 4 * h.planes, 0);
    std::vector<uint32_t> table(size_t(tab_w * tab_h * h.planes));
    const int64_t record = 20 + int64_t(h.planes) * tw * th * 4;
    for (int i = 0; i < h.seeks; ++i) {
        const int64_t at = seek_of(b, i);
        if (at < kHeader || record > int64_t(b.size()) - at) throw ConvError("truncated .wf tile");
        const int64_t x0 = int64_t(be32(b, at)) - h.x, y0 = int64_t(be32(b, at + 4)) - h.y;
        if (be32(b, at + 8) != tw || be32(b, at + 12) != th || be32(b, at + 16) != h.planes ||
            x0 < 0 || y0 < 0 || x0 % tw || y0 % th || x0 + tw > tab_w || y0 + th > tab_h)
            throw ConvError("bad .wf tile record");
        for (int p = 0; p < h.planes; ++p)
            for (int64_t r = 0; r < th; ++r)
                for (int64_t c = 0; c < tw; ++c)
                    table[size_t((p * tab_h + y0 + r) * tab_w + x0 + c)] =
                        uint32_t(be32(b, at + 20 + ((p * th + r) * tw + c) * 4));
    }
    Picture pic;
    const int ch = sheet_channels(h.planes);
    pic.allocate(w, ht, ch);
    std::memset(pic.data.data(), 0, pic.data.size());
    for (int p = 0; p < h.planes; ++p) {
        const uint32_t* s = table.data() + p * tab_h * tab_w;
        for (int64_t y = 1; y <= ht; ++y)
            for (int64_t x = 1; x <= w; ++x) {
                const uint32_t v = s[y * tab_w + x] - s[y * tab_w + x - 1] -
                                   s[(y - 1) * tab_w + x] + s[(y - 1) * tab_w + x - 1];
                if (v > 255) throw ConvError("bad .wf summed values");
                pic.data[size_t(((ht - y) * w + x - 1) * ch + p)] = uint8_t(v);
            }
    }
    pic.premultiplied = ch == 4;
    return pic;
}

const char* kind_name(int k) {
    return k == 0 ? "MIP-MAP" : k == 1 ? "SUPER-MIP-MAP" : "SUMMED-AREA";
}

}  // namespace

Picture read_wf(Bytes bytes, const ReadOptions& opt) {
    const WfHeader h = parse_header(bytes);
    if (h.kind == 2) return summed_area_picture(bytes, h);
    return mip_sheet(bytes, h, opt.level);
}

std::string wf_info(Bytes b) {
    const WfHeader h = parse_header(b);
    static const char* const tiling[5] = {"std", "u", "v", "uv", "const"};
    char text[1024];
    std::snprintf(text, sizeof text,
                  "map kind      : %d %s\n"
                  "version       : %d\n"
                  "machine       : %c\n"
                  "tiling type   : %d %s\n"
                  "planes        : %d\n"
                  "map size      : %d x %d\n"
                  "origin        : %d %d\n"
                  "source size   : %d x %d\n"
                  "seek entries  : %d\n"
                  "root level    : %d\n"
                  "tiles         : %d x %d\n"
                  "tile size     : %d x %d\n",
                  h.kind, kind_name(h.kind), b[4], b[5] >= 32 && b[5] < 127 ? b[5] : '?', h.tiling,
                  h.tiling <= 4 ? tiling[h.tiling] : "?", h.planes, h.width, h.height, h.x, h.y,
                  h.source_w, h.source_h, h.seeks, h.root, h.across, h.down, h.tile_w, h.tile_h);
    std::string out = text;
    if (h.kind != 2) {
        for (const LevelRecord& l : level_records(b, h)) {
            std::snprintf(text, sizeof text, "level %2d      : %lld x %lld at %lld\n", l.level,
                          (long long)l.edge, (long long)l.edge, (long long)(l.at - 8));
            out += text;
        }
    } else {
        for (int i = 0; i < h.seeks; ++i) {
            std::snprintf(text, sizeof text, "tile %3d      : at %lld\n", i, (long long)seek_of(b, i));
            out += text;
        }
    }
    return out;
}
