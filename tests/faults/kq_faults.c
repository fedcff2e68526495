/* Injected write failures, preloaded into a program under test (LD_PRELOAD).
 *
 *   KQ_FAULT_CALL   write   write() and fwrite() to files (not the standard
 *                           streams) fail once KQ_FAULT_AFTER bytes have gone out;
 *                           the call that crosses the limit writes up to it
 *                   rename  rename() calls fail from call number KQ_FAULT_AFTER
 *                   fsync   fsync() calls fail from call number KQ_FAULT_AFTER
 *   KQ_FAULT_AFTER  bytes or calls allowed first (default 0)
 *   KQ_FAULT_ERRNO  ENOSPC (default) or EIO
 *
 * Without KQ_FAULT_CALL every call goes straight through. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

static long long g_done;  /* bytes written or calls made so far */

static int fault_on(const char* call) {
    const char* c = getenv("KQ_FAULT_CALL");
    return c && strcmp(c, call) == 0;
}

static long long fault_after(void) {
    const char* a = getenv("KQ_FAULT_AFTER");
    return a ? atoll(a) : 0;
}

static int fault_errno(void) {
    const char* e = getenv("KQ_FAULT_ERRNO");
    return e && strcmp(e, "EIO") == 0 ? EIO : ENOSPC;
}

/* Bytes of an n-byte write that may still go out. */
static size_t allowed(size_t n) {
    long long room = fault_after() - g_done;
    if (room <= 0) return 0;
    return (unsigned long long)room < n ? (size_t)room : n;
}

ssize_t write(int fd, const void* buf, size_t n) {
    static ssize_t (*real)(int, const void*, size_t);
    if (!real) real = (ssize_t(*)(int, const void*, size_t))dlsym(RTLD_NEXT, "write");
    if (fd <= 2 || !fault_on("write") || n == 0) return real(fd, buf, n);
    size_t ok = allowed(n);
    if (ok == 0) {
        errno = fault_errno();
        return -1;
    }
    ssize_t r = real(fd, buf, ok);
    if (r > 0) g_done += r;
    return r;
}

size_t fwrite(const void* p, size_t size, size_t count, FILE* f) {
    static size_t (*real)(const void*, size_t, size_t, FILE*);
    if (!real) real = (size_t(*)(const void*, size_t, size_t, FILE*))dlsym(RTLD_NEXT, "fwrite");
    if (f == stdout || f == stderr || !fault_on("write") || size == 0 || count == 0)
        return real(p, size, count, f);
    size_t items = allowed(size * count) / size;
    size_t done = items ? real(p, size, items, f) : 0;
    g_done += (long long)(done * size);
    if (done < count) {
        f->_flags |= _IO_ERR_SEEN; /* as a failed write leaves the stream */
        errno = fault_errno();
    }
    return done;
}

static int next_call_fails(void) { return g_done++ >= fault_after(); }

int rename(const char* from, const char* to) {
    static int (*real)(const char*, const char*);
    if (!real) real = (int (*)(const char*, const char*))dlsym(RTLD_NEXT, "rename");
    if (fault_on("rename") && next_call_fails()) {
        errno = fault_errno();
        return -1;
    }
    return real(from, to);
}

int fsync(int fd) {
    static int (*real)(int);
    if (!real) real = (int (*)(int))dlsym(RTLD_NEXT, "fsync");
    if (fault_on("fsync") && next_call_fails()) {
        errno = fault_errno();
        return -1;
    }
    return real(fd);
}
