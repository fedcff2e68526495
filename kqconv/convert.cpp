// Format detection, whole-file input, all-or-nothing output and the conversion
// itself: reader, colour semantics, writer.
#include "kqconv/convert.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <condition_variable>
#include <cstring>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>

#include "kqconv/alpha.h"
#include "libkq/kq_memory.h"

void Picture::check_size(int64_t w, int64_t h, int ch, int64_t other_bytes) {
    // Sizes come from file headers: refuse what cannot be addressed before allocating.
#ifdef KQ_FUZZ_CAPS
    constexpr int64_t kMaxSamples = int64_t(1) << 24;  // the fuzz build stays small
#else
    constexpr int64_t kMaxSamples = int64_t(1) << 40;
#endif
    if (w <= 0 || h <= 0) throw ConvError("empty picture");
    if (w > kMaxSamples / h || w * h > kMaxSamples / ch) throw ConvError("picture too large");
    if (max_pixels > 0 && w * h > max_pixels)
        throw ConvError("picture larger than --max-pixels allows (" + std::to_string(w) + " x " +
                        std::to_string(h) + ")");
    // A picture larger than the memory the process may use (its address-space limit,
    // its memory cgroup, the machine) would only end in a failed allocation or the
    // kernel's out-of-memory kill once a reader fills it (a small damaged file can
    // claim one).
    if (!kq_memory_allows(w * h * ch + other_bytes)) throw ConvError("picture too large for memory");
}

void Picture::allocate(int64_t w, int64_t h, int ch) {
    check_size(w, h, ch);
    width = w;
    height = h;
    channels = ch;
    data.reset(size_t(w * h * ch));
}

namespace {

std::string lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
    return s;
}

std::string errno_text() { return std::strerror(errno); }

}  // namespace

Format format_of_word(const std::string& word) {
    const std::string w = lower(word);
    if (w == "png") return Format::png;
    if (w == "jpg" || w == "jpeg") return Format::jpeg;
    if (w == "pnm") return Format::pnm;
    if (w == "pgm") return Format::pgm;
    if (w == "ppm") return Format::ppm;
    if (w == "pam") return Format::pam;
    if (w == "tkq" || w == "pix") return Format::tkq;
    return Format::none;
}

Format format_of_name(const std::string& name) {
    const size_t dot = name.find_last_of('.');
    const size_t slash = name.find_last_of('/');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return Format::none;
    return format_of_word(name.substr(dot + 1));
}

Format format_of_bytes(Bytes b) {
    static const uint8_t png_sig[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    if (b.size() >= 8 && std::memcmp(b.data(), png_sig, 8) == 0) return Format::png;
    if (b.size() >= 3 && b[0] == 0xff && b[1] == 0xd8 && b[2] == 0xff) return Format::jpeg;
    if (b.size() >= 4 && std::memcmp(b.data(), "2Bkq", 4) == 0) return Format::tkq;
    if (b.size() >= 3 && b[0] == 'P' && (b[1] == '5' || b[1] == '6' || b[1] == '7') &&
        std::isspace(b[2]))
        return b[1] == '7' ? Format::pam : Format::pnm;
    return Format::none;
}

namespace {

constexpr size_t kPiece = size_t(1) << 20;  // one read(2) at most

// The most bytes an input may have: a picture of --max-pixels pixels takes at most
// 10 bytes a pixel in any format read here (80-bit .tkq), 16 leave room for
// framing; without --max-pixels, what memory allows decides alone.
int64_t input_limit() {
    if (Picture::max_pixels <= 0) return INT64_MAX;
    return Picture::max_pixels > (INT64_MAX >> 5) ? INT64_MAX : Picture::max_pixels * 16 + kPiece;
}

}  // namespace

Input read_input(const std::string& name) {
    const bool std_in = name == "-";
    const int fd = std_in ? 0 : ::open(name.c_str(), O_RDONLY);
    if (fd < 0) throw ConvError("can't open (" + errno_text() + ")");
    struct Closer {
        int fd;
        ~Closer() {
            if (fd >= 0) ::close(fd);
        }
    } closer{std_in ? -1 : fd};
    struct stat st{};
    if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) throw ConvError("is a directory");
    // Read with read(2) in bounded pieces, never mapped: a file that shrinks while it
    // is read ends early instead of killing the process, and an endless stream (a
    // pipe, /dev/zero) is refused at the limit or as soon as its first bytes are
    // no picture.
    const int64_t limit = input_limit();
    Input in;
    std::vector<uint8_t>& bytes = in.owned_;
    size_t size = 0;
    const int64_t first = S_ISREG(st.st_mode) && st.st_size > 0 ? int64_t(st.st_size) + 1 : kPiece;
    bool recognised = false;
    for (;;) {
        if (size == bytes.size()) {
            if (int64_t(size) > limit) throw ConvError("input larger than --max-pixels allows");
            // One byte beyond the limit tells an input that passes it.
            const int64_t grown =
                std::min(std::max(first, 2 * int64_t(size)), limit < INT64_MAX ? limit + 1 : limit);
            if (!kq_memory_allows(grown)) throw ConvError("input too large for memory");
            bytes.resize(size_t(grown));
        }
        const ssize_t n = ::read(fd, bytes.data() + size, std::min(bytes.size() - size, kPiece));
        if (n == 0) break;
        if (n < 0) {
            if (errno == EINTR) continue;
            throw ConvError("can't read (" + errno_text() + ")");
        }
        size += size_t(n);
        if (!recognised && size >= 16) {
            // What is no picture is not read on: the reader says what it is.
            if (format_of_bytes(Bytes(bytes.data(), size)) == Format::none) break;
            recognised = true;
        }
    }
    bytes.resize(size);
    in.p_ = bytes.data();
    in.n_ = size;
    return in;
}

// --- output ------------------------------------------------------------------------------

OutFile::OutFile(const std::string& name) : name_(name) {
    if (name == "-") {
        fp_ = stdout;
        return;
    }
    std::string pattern = name + ".kqconv-XXXXXX";
    const int fd = ::mkstemp(pattern.data());
    if (fd < 0) throw ConvError("can't create (" + errno_text() + ")");
    temp_ = pattern;
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(fd, 0666 & ~mask);
    fp_ = ::fdopen(fd, "wb");
    if (!fp_) {
        ::close(fd);
        ::unlink(temp_.c_str());
        throw ConvError("can't create (" + errno_text() + ")");
    }
    std::setvbuf(fp_, nullptr, _IOFBF, 1 << 20);
}

OutFile::~OutFile() {
    if (done_ || fp_ == stdout || !fp_) return;
    std::fclose(fp_);
    ::unlink(temp_.c_str());
}

void OutFile::write(const void* p, size_t n) {
    if (n && std::fwrite(p, 1, n, fp_) != n) throw ConvError("can't write (" + errno_text() + ")");
}

void OutFile::commit() {
    if (std::fflush(fp_) != 0 || std::ferror(fp_))
        throw ConvError("can't write (" + errno_text() + ")");
    if (fp_ == stdout) {
        done_ = true;
        return;
    }
    const int closed = std::fclose(fp_);
    fp_ = nullptr;
    if (closed != 0) {
        ::unlink(temp_.c_str());
        throw ConvError("can't write (" + errno_text() + ")");
    }
    if (std::rename(temp_.c_str(), name_.c_str()) != 0) {
        const std::string why = errno_text();
        ::unlink(temp_.c_str());
        throw ConvError("can't replace (" + why + ")");
    }
    done_ = true;
}

// --- conversion ----------------------------------------------------------------------------

namespace {

Input open_input(const std::string& in, const std::string& in_name) {
    try {
        Input input = read_input(in);
        if (input.bytes().empty()) throw ConvError("empty file, not a picture");
        return input;
    } catch (const ConvError& e) {
        throw ConvError(in_name + " : " + e.what());
    }
}

Picture read_any(Bytes bytes) {
    switch (format_of_bytes(bytes)) {
        case Format::png: return read_png(bytes);
        case Format::jpeg: return read_jpeg(bytes);
        case Format::tkq: return read_tkq(bytes);
        case Format::pnm:
        case Format::pam: return read_pnm(bytes);
        default: throw ConvError("not a picture (PNG, JPEG, PPM/PGM/PAM or tkq)");
    }
}

// PNG into .tkq in two threads: this one decodes, the other premultiplies and
// writes the rows already decoded.
void png_to_tkq(Bytes bytes, Picture& pic, const std::string& in_name, const std::string& out,
                const std::string& out_name, const ConvertOptions& opt) {
    std::mutex m;
    std::condition_variable cv;
    int64_t decoded = 0, piled = 0;
    bool failed = false;
    std::exception_ptr write_error;
    std::thread writer;
    auto ready = [&](int64_t need) {
        int64_t have;
        {
            std::unique_lock<std::mutex> lock(m);
            cv.wait(lock, [&] { return decoded >= need || failed; });
            if (decoded < need) throw ConvError("input failed");
            have = decoded;
        }
        if (pic.has_alpha() && !opt.straight) {
            const int64_t w = pic.width, ch = pic.channels;
            alpha::premultiply(pic.data.data() + piled * w * ch, (have - piled) * w, int(ch));
        }
        piled = have;
        return have;
    };
    auto progress = [&](int64_t rows) {
        if (rows == 0) {
            try {
                writer = std::thread([&] {
                    try {
                        write_tkq(pic, out, ready);
                    } catch (...) {
                        write_error = std::current_exception();
                    }
                });
            } catch (const std::system_error&) {
            }  // no thread to spare: written after the reading
            return;
        }
        std::lock_guard<std::mutex> lock(m);
        decoded = rows;
        cv.notify_one();
    };
    try {
        read_png_into(bytes, pic, progress);
    } catch (const ConvError& e) {
        {
            std::lock_guard<std::mutex> lock(m);
            failed = true;
            cv.notify_one();
        }
        if (writer.joinable()) writer.join();
        throw ConvError(in_name + " : " + e.what());
    }
    try {
        if (writer.joinable()) {
            writer.join();
            if (write_error) std::rethrow_exception(write_error);
        } else {
            write_tkq(pic, out, ready);
        }
    } catch (const ConvError& e) {
        throw ConvError(out_name + " : " + e.what());
    }
}

}  // namespace

void convert_file(const std::string& in, const std::string& out, const ConvertOptions& opt) {
    const std::string in_name = in == "-" ? "(standard input)" : in;
    const std::string out_name = out == "-" ? "(standard output)" : out;
    // Standard output carries a .tkq picture unless told otherwise: the form kqc reads.
    const Format to = opt.to != Format::none ? opt.to
                      : out == "-"           ? Format::tkq
                                             : format_of_name(out);
    if (to == Format::none)
        throw ConvError(out_name + " : unknown output format (use .png .tkq .ppm .pgm .pnm "
                                   ".pam or --to)");
    if (to == Format::jpeg) throw ConvError(out_name + " : JPEG output is not supported");

    Picture pic;
    const Input input = open_input(in, in_name);
    if (format_of_bytes(input.bytes()) == Format::png && to == Format::tkq) {
        png_to_tkq(input.bytes(), pic, in_name, out, out_name, opt);
        return;
    }
    try {
        pic = read_any(input.bytes());
    } catch (const ConvError& e) {
        throw ConvError(in_name + " : " + e.what());
    }
    // .tkq holds premultiplied colour, the other formats straight colour.
    if (pic.has_alpha() && !opt.straight) {
        if (to == Format::tkq && !pic.premultiplied)
            alpha::premultiply(pic.data.data(), pic.pixels(), pic.channels);
        else if (to != Format::tkq && pic.premultiplied)
            alpha::unpremultiply(pic.data.data(), pic.pixels(), pic.channels);
    }
    try {
        if (to == Format::tkq) {
            write_tkq(pic, out);
        } else {
            OutFile file(out);
            if (to == Format::png)
                write_png(pic, file, opt.level, opt.threads);
            else
                write_pnm(pic, file, to);
            file.commit();
        }
    } catch (const ConvError& e) {
        throw ConvError(out_name + " : " + e.what());
    }
}
