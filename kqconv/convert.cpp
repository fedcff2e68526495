// Format detection, whole-file input, all-or-nothing output and the conversion
// itself: reader, colour semantics, writer.
#include "kqconv/convert.h"

#include <fcntl.h>
#include <sys/mman.h>
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

void Picture::check_size(int64_t w, int64_t h, int ch, int64_t other_bytes) {
    // Sizes come from file headers: refuse what cannot be addressed before allocating.
#ifdef KQ_FUZZ_BUILD
    constexpr int64_t kMaxSamples = int64_t(1) << 24;  // the fuzz build stays small
#else
    constexpr int64_t kMaxSamples = int64_t(1) << 40;
#endif
    if (w <= 0 || h <= 0) throw ConvError("empty picture");
    if (w > kMaxSamples / h || w * h > kMaxSamples / ch) throw ConvError("picture too large");
    // A picture larger than the machine's memory would only end in the kernel's
    // out-of-memory kill once a reader fills it (a small damaged file can claim one).
    static const int64_t memory = int64_t(::sysconf(_SC_PHYS_PAGES)) * ::sysconf(_SC_PAGESIZE);
    if (memory > 0 && w * h * ch + other_bytes > memory) throw ConvError("picture too large for memory");
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

Input::~Input() {
    if (map_) ::munmap(map_, n_);
}

Input::Input(Input&& o) noexcept
    : owned_(std::move(o.owned_)), map_(o.map_), p_(o.map_ ? o.p_ : owned_.data()), n_(o.n_) {
    o.map_ = nullptr;
    o.n_ = 0;
}

Input read_input(const std::string& name) {
    const bool std_in = name == "-";
    const int fd = std_in ? 0 : ::open(name.c_str(), O_RDONLY);
    if (fd < 0) throw ConvError("can't open (" + errno_text() + ")");
    Input in;
    struct stat st{};
    if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
        if (!std_in) ::close(fd);
        throw ConvError("is a directory");
    }
    if (S_ISREG(st.st_mode) && st.st_size > 0) {
        void* m = ::mmap(nullptr, size_t(st.st_size), PROT_READ, MAP_PRIVATE, fd, 0);
        if (m != MAP_FAILED) {
            if (!std_in) ::close(fd);
            in.map_ = m;
            in.p_ = static_cast<const uint8_t*>(m);
            in.n_ = size_t(st.st_size);
            return in;
        }
    }
    std::vector<uint8_t>& bytes = in.owned_;
    size_t size = 0;
    bytes.resize(1 << 20);
    for (;;) {
        if (size == bytes.size()) bytes.resize(bytes.size() * 2);
        const ssize_t n = ::read(fd, bytes.data() + size, bytes.size() - size);
        if (n == 0) break;
        if (n < 0) {
            if (errno == EINTR) continue;
            const std::string why = errno_text();
            if (!std_in) ::close(fd);
            throw ConvError("can't read (" + why + ")");
        }
        size += size_t(n);
    }
    if (!std_in) ::close(fd);
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
