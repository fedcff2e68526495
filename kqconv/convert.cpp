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
#include "kqconv/formats.h"
#include "libkq/kq_memory.h"

void Picture::check_size(int64_t w, int64_t h, int ch, int64_t other_bytes) {
    // Sizes come from file headers: refuse what cannot be addressed before allocating.
#ifdef KQ_FUZZ_CAPS
    constexpr int64_t kMaxSamples = int64_t(1) << 24;  // the fuzz build stays small
#else
    constexpr int64_t kMaxSamples = int64_t(1) << 40;
#endif
    if (w <= 0 || h <= 0) throw ConvError("empty picture");
    if (w > kMaxSamples / h || w * h > kMaxSamples / ch || other_bytes > kMaxSamples)
        throw ConvError("picture too large");
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

std::string errno_text() { return std::strerror(errno); }

}  // namespace

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
    const bool regular = S_ISREG(st.st_mode);
    const int64_t first = regular && st.st_size > 0 ? int64_t(st.st_size) + 1 : kPiece;
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
        if (!recognised && !regular && size >= 32) {
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

OutFile::OutFile(const std::string& name) {
    // A new file gets 0666 less the umask.
    std::FILE* fp = out_.open_stream(name.c_str(), OutputRules{"-", ".kqtmp", 0666});
    if (!fp) throw ConvError("can't create (" + errno_text() + ")");
    std::setvbuf(fp, nullptr, _IOFBF, 1 << 20);
}

void OutFile::write(const void* p, size_t n) {
    if (n && std::fwrite(p, 1, n, out_.stream()) != n)
        throw ConvError("can't write (" + errno_text() + ")");
}

void OutFile::commit() {
    if (!out_.commit())
        throw ConvError((out_.rename_failed() ? "can't replace (" : "can't write (") +
                        errno_text() + ")");
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

Picture read_any(Bytes bytes, const ReadOptions& opt) {
    const FormatRow* row = format_row_of_bytes(bytes);
    if (!row) throw ConvError("not a picture (PNG, JPEG, PPM/PGM/PAM or tkq)");
    return row->read(bytes, opt);
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
    const FormatRow* writer = format_row(to);
    if (!writer || (to != Format::tkq && !writer->write))
        throw ConvError(out_name + " : unknown output format (use .png .tkq .ppm .pgm .pnm "
                                   ".pam or --to)");

    Picture pic;
    const Input input = open_input(in, in_name);
    const bool wf_in = format_of_bytes(input.bytes()) == Format::wf;
    if (!wf_in && opt.level_given && (opt.level < 0 || opt.level > 9))
        throw ConvError("--level is 0 ~ 9 (map levels are for .wf input)");
    if (format_of_bytes(input.bytes()) == Format::png && to == Format::tkq &&
        opt.planes == Planes::as_read) {
        png_to_tkq(input.bytes(), pic, in_name, out, out_name, opt);
        return;
    }
    ReadOptions ro;
    ro.linear = opt.linear;
    if (wf_in && opt.level_given) ro.level = opt.level;
    try {
        pic = read_any(input.bytes(), ro);
    } catch (const ConvError& e) {
        throw ConvError(in_name + " : " + e.what());
    }
    set_planes(pic, opt.planes);
    // Colour beside alpha as the output format holds it: premultiplied for .tkq, TIFF
    // and OpenEXR, straight for the others.
    if (pic.has_alpha() && !opt.straight) {
        if (writer->alpha == AlphaKind::premultiplied && !pic.premultiplied)
            alpha::premultiply(pic.data.data(), pic.pixels(), pic.channels);
        else if (writer->alpha == AlphaKind::straight && pic.premultiplied)
            alpha::unpremultiply(pic.data.data(), pic.pixels(), pic.channels);
    }
    pic.premultiplied = pic.has_alpha() && (opt.straight ? pic.premultiplied
                                                         : writer->alpha == AlphaKind::premultiplied);
    WriteOptions wo;
    wo.level = wf_in || !opt.level_given ? 6 : opt.level;
    wo.threads = opt.threads;
    wo.quality = opt.quality;
    wo.lossy = opt.quality_given;
    wo.linear = opt.linear;
    wo.to = to;
    try {
        if (to == Format::tkq) {
            write_tkq(pic, out);
        } else {
            OutFile file(out);
            writer->write(pic, file, wo);
            file.commit();
        }
    } catch (const ConvError& e) {
        throw ConvError(out_name + " : " + e.what());
    }
}

void print_info(const std::string& in, std::FILE* to) {
    const std::string in_name = in == "-" ? "(standard input)" : in;
    const Input input = open_input(in, in_name);
    try {
        const FormatRow* row = format_row_of_bytes(input.bytes());
        if (!row) throw ConvError("not a picture (PNG, JPEG, PPM/PGM/PAM or tkq)");
        std::string text;
        if (row->id == Format::wf) {
            text = wf_info(input.bytes());
        } else {
            const Picture pic = row->read(input.bytes(), ReadOptions{});
            static const char* const kinds[5] = {"", "grey", "grey + alpha", "RGB", "RGBA"};
            text = std::string(row->name) + " " + std::to_string(pic.width) + " x " +
                   std::to_string(pic.height) + ", " + kinds[pic.channels] +
                   (pic.has_alpha() ? pic.premultiplied ? " (premultiplied)" : " (straight)" : "") +
                   "\n";
        }
        std::fputs(text.c_str(), to);
    } catch (const ConvError& e) {
        throw ConvError(in_name + " : " + e.what());
    }
}
