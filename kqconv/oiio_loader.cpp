// The formats of OpenImageIO's family, read and written through kqconv's module
// kqconv_oiio.so, loaded on first use: OpenImageIO's libraries start threads and
// cost a third of a second of start-up, which PNG, JPEG, TIFF and netpbm runs need
// not pay. The module is looked for beside the running program (the build folder),
// then in ../lib/kq beside its folder (the installed layout).
#include <exception>
#include <new>

#include "kqconv/formats.h"

#ifdef KQCONV_OIIO

#include <dlfcn.h>

#include <filesystem>
#include <system_error>

#include "kqconv/oiio_module.h"

namespace {

struct Loaded {
    const KqOiioModule* module = nullptr;
    std::string why;  // what is missing, when there is no module
};

Loaded load_module() {
    std::error_code ec;
    const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    const std::filesystem::path dir = ec ? std::filesystem::path(".") : exe.parent_path();
    const std::filesystem::path places[] = {
        dir / KQCONV_OIIO_MODULE,
        (dir / ".." / KQCONV_OIIO_DIR / KQCONV_OIIO_MODULE).lexically_normal(),
    };
    for (const std::filesystem::path& p : places) {
        if (!std::filesystem::exists(p, ec)) continue;
        void* handle = ::dlopen(p.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!handle)
            return {nullptr, "kqconv's OpenImageIO module, which can't be loaded (" +
                                 std::string(::dlerror()) + ")"};
        const auto entry = reinterpret_cast<KqOiioEntry>(::dlsym(handle, "kq_oiio_module"));
        const KqOiioModule* m = entry ? entry() : nullptr;
        if (!m || m->version != KQ_OIIO_VERSION)
            return {nullptr, "kqconv's OpenImageIO module of the same version (" + p.string() +
                                 " is another)"};
        return {m, ""};  // never closed: OpenImageIO's threads run its code to the end
    }
    return {nullptr, "kqconv's OpenImageIO module (" + places[0].string() + " or " +
                         places[1].string() + ")"};
}

const KqOiioModule& oiio_module() {
    static const Loaded loaded = load_module();
    if (!loaded.module) throw ConvError("this format needs " + loaded.why);
    return *loaded.module;
}

// kqconv's side of one call: the callbacks keep what they throw, and it is thrown
// again here once the module has returned.
struct Host {
    KqOiioHost c{};
    Picture* pic = nullptr;
    OutFile* out = nullptr;
    std::exception_ptr failure;

    Host() {
        c.self = this;
        c.check_size = [](KqOiioHost* h, int64_t w, int64_t ht, int ch, int64_t other) {
            return self(h).guard([&] { Picture::check_size(w, ht, ch, other); });
        };
        c.allocate = [](KqOiioHost* h, int64_t w, int64_t ht, int ch) -> uint8_t* {
            Host& host = self(h);
            return host.guard([&] { host.pic->allocate(w, ht, ch); }) ? host.pic->data.data()
                                                                      : nullptr;
        };
        c.write = [](KqOiioHost* h, const void* p, size_t n) {
            Host& host = self(h);
            return host.guard([&] { host.out->write(p, n); });
        };
    }
    Host(const Host&) = delete;
    Host& operator=(const Host&) = delete;
    static Host& self(KqOiioHost* h) { return *static_cast<Host*>(h->self); }

    template <class Work>
    int guard(Work work) {
        try {
            work();
            return 1;
        } catch (...) {
            failure = std::current_exception();
            return 0;
        }
    }
    void finish(int status) {
        if (status == KQ_OIIO_OK) return;
        if (failure) std::rethrow_exception(failure);
        if (status == KQ_OIIO_NO_MEMORY) throw std::bad_alloc();
        throw ConvError(c.error);
    }
};

}  // namespace

Picture read_oiio(Bytes bytes, const ReadOptions& opt) {
    const KqOiioModule& m = oiio_module();
    const FormatRow* row = format_row_of_bytes(bytes);
    Picture pic;
    Host host;
    host.pic = &pic;
    KqOiioRead in{int(row->id), row->name, bytes.data(), bytes.size(), opt.linear, 0};
    host.finish(m.read(&in, &host.c));
    pic.premultiplied = in.premultiplied != 0;
    return pic;
}

void write_oiio(const Picture& source, OutFile& out, const WriteOptions& opt) {
    const KqOiioModule& m = oiio_module();
    // Grey with alpha goes out as RGBA where the format has no such layout.
    Picture spread;
    const bool spread_grey = source.channels == 2 && (opt.to == Format::dpx || opt.to == Format::bmp);
    if (spread_grey) {
        spread.allocate(source.width, source.height, 2);
        std::memcpy(spread.data.data(), source.data.data(), source.data.size());
        spread.premultiplied = source.premultiplied;
        set_planes(spread, Planes::rgba);
    }
    const Picture& pic = spread_grey ? spread : source;
    Host host;
    host.out = &out;
    const KqOiioWrite w{int(opt.to), format_row(opt.to)->name, pic.data.data(), pic.width,
                        pic.height, pic.channels, opt.linear};
    host.finish(m.write(&w, &host.c));
}

#else  // built without OpenImageIO

Picture read_oiio(Bytes, const ReadOptions&) {
    throw ConvError("this format needs kqconv built with OpenImageIO (apt-get install libopenimageio-dev)");
}
void write_oiio(const Picture&, OutFile&, const WriteOptions&) {
    throw ConvError("this format needs kqconv built with OpenImageIO (apt-get install libopenimageio-dev)");
}

#endif
