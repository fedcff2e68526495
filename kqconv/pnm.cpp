// Binary netpbm pictures: PGM (P5), PPM (P6) and PAM (P7), any maxval up to 65535.
#include <cstdio>
#include <cstring>

#include "kqconv/convert.h"

namespace {

struct Reader {
    Bytes b;
    size_t pos = 0;

    bool at_end() const { return pos >= b.size(); }
    void skip_space_and_comments() {
        while (!at_end()) {
            if (b[pos] == '#') {
                while (!at_end() && b[pos] != '\n') ++pos;
            } else if (std::isspace(b[pos])) {
                ++pos;
            } else {
                break;
            }
        }
    }
    std::string word() {
        skip_space_and_comments();
        std::string w;
        while (!at_end() && !std::isspace(b[pos])) w += char(b[pos++]);
        return w;
    }
    int64_t number() {
        const std::string w = word();
        if (w.empty() || w.size() > 9 || w.find_first_not_of("0123456789") != std::string::npos)
            throw ConvError(w.empty() ? "truncated netpbm header" : "bad netpbm header number " + w);
        return std::stoll(w);
    }
};

}  // namespace

Picture read_pnm(Bytes bytes) {
    Reader r{bytes};
    const std::string magic = r.word();
    int64_t w = 0, h = 0, depth = 0, maxval = 0;
    if (magic == "P5" || magic == "P6") {
        depth = magic == "P5" ? 1 : 3;
        w = r.number();
        h = r.number();
        maxval = r.number();
        if (r.at_end()) throw ConvError("truncated netpbm header");
        ++r.pos;  // the single white-space byte before the samples
    } else {
        for (;;) {
            const std::string key = r.word();
            if (key == "ENDHDR") break;
            if (key.empty()) throw ConvError("truncated PAM header");
            if (key == "WIDTH") w = r.number();
            else if (key == "HEIGHT") h = r.number();
            else if (key == "DEPTH") depth = r.number();
            else if (key == "MAXVAL") maxval = r.number();
            else if (key == "TUPLTYPE") r.word();
            else throw ConvError("bad PAM header word " + key);
        }
        if (r.at_end() || r.b[r.pos] != '\n') throw ConvError("truncated PAM header");
        ++r.pos;
        if (depth < 1 || depth > 4) throw ConvError("unsupported PAM depth " + std::to_string(depth));
    }
    if (maxval < 1 || maxval > 65535)
        throw ConvError("unsupported netpbm maxval " + std::to_string(maxval));
    Picture pic;
    pic.allocate(w, h, int(depth));
    const int64_t samples = w * h * depth;
    const int64_t size = maxval > 255 ? 2 : 1;
    if (int64_t(bytes.size() - r.pos) / size < samples) throw ConvError("truncated netpbm data");
    const uint8_t* src = bytes.data() + r.pos;
    uint8_t* dst = pic.data.data();
    if (maxval == 255) {
        std::memcpy(dst, src, size_t(samples));
    } else {
        // To 8 bits by rounding: v·255/maxval to nearest; samples above maxval saturate.
        const int64_t m = maxval;
        for (int64_t i = 0; i < samples; ++i) {
            int64_t v = size == 2 ? (int64_t(src[2 * i]) << 8) | src[2 * i + 1] : src[i];
            if (v > m) v = m;
            dst[i] = uint8_t((v * 255 + m / 2) / m);
        }
    }
    return pic;
}

void write_pnm(const Picture& pic, OutFile& out, Format f) {
    if (f == Format::pgm && pic.channels != 1)
        throw ConvError("PGM holds grey only (use .pam or .png)");
    if ((f == Format::ppm || f == Format::pnm) && pic.has_alpha())
        throw ConvError("PPM/PGM hold no alpha (use .pam or .png)");
    char head[160];
    int n;
    if (f == Format::pam) {
        static const char* const tuple[5] = {"", "GRAYSCALE", "GRAYSCALE_ALPHA", "RGB", "RGB_ALPHA"};
        n = std::snprintf(head, sizeof head,
                          "P7\nWIDTH %lld\nHEIGHT %lld\nDEPTH %d\nMAXVAL 255\nTUPLTYPE %s\nENDHDR\n",
                          (long long)pic.width, (long long)pic.height, pic.channels,
                          tuple[pic.channels]);
    } else {
        const bool grey = pic.channels == 1 && f != Format::ppm;
        n = std::snprintf(head, sizeof head, "%s\n%lld %lld\n255\n", grey ? "P5" : "P6",
                          (long long)pic.width, (long long)pic.height);
    }
    out.write(head, size_t(n));
    if (f == Format::ppm && pic.channels == 1) {
        std::vector<uint8_t> row(size_t(pic.width) * 3);
        for (int64_t y = 0; y < pic.height; ++y) {
            const uint8_t* s = pic.data.data() + y * pic.width;
            for (int64_t x = 0; x < pic.width; ++x) row[3 * x] = row[3 * x + 1] = row[3 * x + 2] = s[x];
            out.write(row.data(), row.size());
        }
    } else {
        out.write(pic.data.data(), pic.data.size());
    }
}
