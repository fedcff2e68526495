// Opening and naming picture files: the extension search for reading, standard
// input and output, the overwrite policy, safe replacement of an existing picture
// on writing, the converter openers and the module banner.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "build_info.h"
#include "libkq/kq.h"
#include "libout/out_file.h"

int kq_overwrite_mode = 0;

// A picture being written: under a temporary name in its final folder, or in place
// for devices and pipes (see libout).
struct KQ_PENDING {
    OutputFile out;  // the output file
    bool failed;     // a write failed: the temporary file is removed, not renamed
};

namespace {

constexpr size_t kMaxReadName = 4070;

struct Extension {
    const char* text;
    int kind;   // how a file with it is read
    int group;  // names of one family (".tkq" with its compressed forms, ...)
};

constexpr Extension kExtensions[] = {
    {".pix", KQ_MODE_READ, 0},   {".tkq", KQ_MODE_READ, 1},   {".pix.gz", KQ_MODE_ZCAT, 0},
    {".tkq.gz", KQ_MODE_ZCAT, 1}, {".pix.Z", KQ_MODE_ZCAT, 0}, {".tkq.Z", KQ_MODE_ZCAT, 1},
    {".pix.z", KQ_MODE_ZCAT, 0}, {".tkq.z", KQ_MODE_ZCAT, 1}, {".tif", KQ_MODE_TIFF, 2},
    {".tiff", KQ_MODE_TIFF, 2},  {".pict", KQ_MODE_PICT, 3},  {".rla", KQ_MODE_RLA, 4},
};

int fail(int code) {
    kq_errno = code;
    return 0;
}

// A name ends with an extension only when it is longer than the extension.
bool ends_with(const std::string& name, const char* ext) {
    const size_t n = std::strlen(ext);
    return name.size() > n && name.compare(name.size() - n, n, ext) == 0;
}

// The first table row the name ends with, or null.
const Extension* extension_of(const std::string& name) {
    for (const Extension& e : kExtensions)
        if (ends_with(name, e.text)) return &e;
    return nullptr;
}

bool exists(const std::string& name) { return ::access(name.c_str(), F_OK) == 0; }

std::string candidate(const std::string& cut, const Extension& e) {
    return ends_with(cut, e.text) ? cut : cut + e.text;
}

char* copy_text(const char* s) {
    const size_t n = std::strlen(s) + 1;
    auto* p = static_cast<char*>(std::malloc(n));
    if (p) std::memcpy(p, s, n);
    return p;
}

// --- overwrite policy ---------------------------------------------------------------------

// Reads the rest of the answer line; false at end of input.
bool skip_line() {
    for (;;) {
        const int c = std::getchar();
        if (c == '\n') return true;
        if (c == EOF) return false;
    }
}

// 1 when the output name may be written.
int may_overwrite(const char* name) {
    if (!out_exists_readable(name)) return 1;
    if (kq_overwrite_mode == 2) return fail(KQ_ERR_EXIST);
    if (kq_overwrite_mode != 1) return 1;
    for (;;) {
        std::fputc('\a', stderr);
        std::fflush(stderr);
        std::fprintf(stderr, "KQ_lib WARNING : %s is already exist", name);
        std::fputs(", Overwrite? (y/n) ", stderr);
        std::fflush(stderr);
        const int c = std::getchar();
        if (c == 'n' || c == 'N') {
            skip_line();
            return fail(KQ_ERR_EXIST);
        }
        if (c == 'y' || c == 'Y') {
            skip_line();
            return 1;
        }
        // Anything else asks again; an empty line has nothing left to skip.
        if (c == EOF || (c != '\n' && !skip_line())) return fail(KQ_ERR_EXIST);
    }
}

// --- pictures in progress --------------------------------------------------------------------

// Opens the output for writing through libout: a regular file is written under a
// temporary name and replaces the old picture only when complete; devices and pipes
// are written in place. 1 with kq->fd set, or 0 and error 3.
int create_output(KQ_DATA* kq) {
    auto* pending = new (std::nothrow) KQ_PENDING{};
    if (!pending) return fail(KQ_ERR_OPEN);
    // Owner read and write for a new picture.
    if (!pending->out.open(kq->name, OutputRules{nullptr, ".kqtmp", 0600})) {
        delete pending;
        return fail(KQ_ERR_OPEN);
    }
    kq->fd = pending->out.fd();
    kq->pending = pending;
    return 1;
}

}  // namespace

void kq__mark_failed(KQ_DATA* kq) {
    if (kq->pending) kq->pending->failed = true;
}

int kq__finish_pending(KQ_DATA* kq, bool commit) {
    KQ_PENDING* p = kq->pending;
    if (!p) return 1;
    kq->pending = nullptr;
    kq->fd = -1;  // the output file owns the descriptor
    int result = 1;
    if (commit && !p->failed) {
        if (!p->out.commit()) result = fail(KQ_ERR_WRITE_DATA);
    } else {
        p->out.abandon();
    }
    delete p;
    return result;
}

// --- name resolution -----------------------------------------------------------------------------

void kq__resolve_name(const char* name, char** resolved, int* kind) {
    const std::string given = name;
    auto use = [&](const std::string& file, int k) {
        *resolved = copy_text(file.c_str());
        *kind = k;
    };
    if (exists(given)) {
        const Extension* e = extension_of(given);
        return use(given, e ? e->kind : KQ_MODE_READ);
    }
    std::string cut = given;
    const Extension* own = extension_of(given);
    if (own) {
        cut.resize(given.size() - std::strlen(own->text));
        for (const Extension& e : kExtensions) {
            if (e.group != own->group) continue;
            const std::string c = candidate(cut, e);
            if (exists(c)) return use(c, extension_of(c) ? extension_of(c)->kind : e.kind);
        }
    }
    for (const Extension& e : kExtensions) {
        const std::string c = candidate(cut, e);
        if (exists(c)) return use(c, extension_of(c) ? extension_of(c)->kind : e.kind);
    }
    use(given, KQ_MODE_READ);
}

// --- opening ---------------------------------------------------------------------------------------

KQ_DATA* kq_ropen(const char* name) {
    if (!name) {
        kq_errno = KQ_ERR_NULL_NAME;
        return nullptr;
    }
    if (std::strlen(name) > kMaxReadName) {
        kq_errno = KQ_ERR_LONG_NAME;
        return nullptr;
    }
    KQ_DATA* kq = nullptr;
    int kind = KQ_MODE_READ;
    if (std::strcmp(name, "STDIN") == 0) {
        if (!(kq = kq_alloc())) return nullptr;
        if (!(kq->name = copy_text("STDIN"))) {
            kq_free(kq);
            kq_errno = KQ_ERR_ALLOC_NAME;
            return nullptr;
        }
        kq->fd = 0;
    } else {
        char* file = nullptr;
        kq__resolve_name(name, &file, &kind);
        if (!(kq = kq_alloc())) {
            std::free(file);
            return nullptr;
        }
        if (!(kq->name = file)) {
            kq_free(kq);
            kq_errno = KQ_ERR_ALLOC_NAME;
            return nullptr;
        }
        // Compressed and foreign formats are recognised by name but have no reader.
        int opened = 0, code = KQ_ERR_OPEN;
        if (kind == KQ_MODE_READ) {
            kq->fd = ::open(file, O_RDONLY);
            opened = kq->fd >= 0;
        } else if (kind == KQ_MODE_ZCAT) {
            opened = kq__ropen_Zcat(kq);
            code = KQ_ERR_ZCAT;
        } else if (kind == KQ_MODE_TIFF) {
            opened = kq__ropen_TIFF_reader(kq);
            code = KQ_ERR_TIFF;
        } else if (kind == KQ_MODE_PICT) {
            opened = kq__ropen_PICT_reader(kq);
            code = KQ_ERR_PICT;
        } else {
            opened = kq__ropen_RLA_reader(kq);
            code = KQ_ERR_RLA;
        }
        if (!opened) {
            kq_free(kq);
            kq_errno = code;
            return nullptr;
        }
    }
    if (!kq_read_header(kq) || !kq_check_header(kq)) {
        const int code = kq_errno;
        kq_free(kq);
        kq_errno = code;
        return nullptr;
    }
    kq__choose_access(kq);
    kq->open_mode = static_cast<uint8_t>(kind);
    kq_errno = 0;
    return kq;
}

int kq_wopen(const char* name, KQ_DATA* kq) {
    if (!name) return fail(KQ_ERR_NULL_NAME);
    std::free(kq->name);
    kq->name = nullptr;
    if (std::strcmp(name, "STDOUT") == 0) {
        if (!(kq->name = copy_text("STDOUT"))) return fail(KQ_ERR_ALLOC_NAME);
        std::fflush(stdout);  // text already printed comes before the picture
        kq->fd = 1;
    } else {
        std::string full = name;
        if (!ends_with(full, kq_extension())) full += kq_extension();
        if (!(kq->name = copy_text(full.c_str()))) return fail(KQ_ERR_ALLOC_NAME);
        if (!may_overwrite(kq->name)) return 0;
        if (!create_output(kq)) return 0;
    }
    if (!kq_write_header(kq)) {
        kq__finish_pending(kq, false);
        return fail(KQ_ERR_PUT_HEADER);
    }
    kq->open_mode = KQ_MODE_WRITE;
    kq_errno = 0;
    return 1;
}

// --- converters, child process, banner ----------------------------------------------------------

int kq__ropen_Zcat(KQ_DATA*) {
    std::fputs("WINNT libkq-open-kq__ropen_Zcat() unimplemented\n", stderr);
    return fail(KQ_ERR_ZCAT);
}

int kq__ropen_TIFF_reader(KQ_DATA*) {
    std::fputs("ERROR: WINNT libkq-open-kq__ropen_TIFF_reader() unimplemented\n", stderr);
    return fail(KQ_ERR_TIFF);
}

int kq__ropen_PICT_reader(KQ_DATA*) {
    std::fputs("ERROR: WINNT libkq-open-kq__ropen_PICT_reader() unimplemented\n", stderr);
    return fail(KQ_ERR_PICT);
}

int kq__ropen_RLA_reader(KQ_DATA*) {
    std::fputs("ERROR: WINNT libkq-open-kq__ropen_RLA_reader() unimplemented\n", stderr);
    return fail(KQ_ERR_RLA);
}

void kq__childProcessKill(KQ_DATA* kq) {
    if (kq->child_pid != -1) std::fputs("ERROR: kq__childProcessKill() childPID not -1\n", stderr);
}

void kq_print_module() {
    std::fprintf(stderr, "module = %s\n", "libkq");
    const std::string lines[] = {
        "InitialVersion : ver 1.00 Apr/01/93",
        "Version        : ver 3.01 Jul/16/96",
        std::string("CompileDate    : ") + KQ_BUILD_DATE,
        std::string("CompileMachine : ") + KQ_BUILD_MACHINE,
        std::string("CompileOS      : ") + KQ_BUILD_OS,
        std::string("CompileUser    : ") + KQ_BUILD_USER,
    };
    for (const std::string& line : lines) std::fprintf(stderr, "  %s\n", line.c_str());
}
