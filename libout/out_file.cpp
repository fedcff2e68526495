// Output files: name resolution, the temporary beside the target, durable replace,
// and the removal of unfinished temporaries at exit and on terminating signals.
#include "libout/out_file.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace {

// --- temporaries in progress ---------------------------------------------------------------
// A fixed table, so that a signal handler can walk it without locks or allocation.
constexpr int kSlots = 32;
char g_paths[kSlots][PATH_MAX];
std::atomic<int> g_state[kSlots];  // 0 free, 1 being filled, 2 a live temporary

void remove_temporaries() {
    for (int i = 0; i < kSlots; ++i)
        if (g_state[i].load() == 2) ::unlink(g_paths[i]);
}

void hook_exit() {
    static std::atomic<bool> hooked{false};
    if (!hooked.exchange(true)) {
        std::atexit(remove_temporaries);
        std::at_quick_exit(remove_temporaries);
    }
}

int take_slot(const std::string& path) {
    if (path.size() >= PATH_MAX) return -1;
    hook_exit();
    for (int i = 0; i < kSlots; ++i) {
        int expected = 0;
        if (!g_state[i].compare_exchange_strong(expected, 1)) continue;
        std::memcpy(g_paths[i], path.c_str(), path.size() + 1);
        g_state[i].store(2);
        return i;
    }
    return -1;
}

void free_slot(int& slot) {
    if (slot >= 0) g_state[slot].store(0);
    slot = -1;
}

void on_terminate(int sig) {
    const int saved = errno;
    remove_temporaries();
    ::signal(sig, SIG_DFL);
    ::raise(sig);  // delivered with the default action once the handler returns
    errno = saved;
}

// A write past the file size limit then fails with EFBIG and the writer reports it.
void on_file_too_large(int) {}

// --- names -------------------------------------------------------------------------------

std::string folder_of(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string base_of(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Where writing `name` ends up: standard output, or the file at the end of its
// symbolic links (which need not exist yet).
struct Resolved {
    bool to_stdout = false;
    bool exists = false;
    struct stat st {};
    std::string path;
};

bool resolve(const char* name, const char* stdout_word, Resolved& r) {
    if (stdout_word && std::strcmp(name, stdout_word) == 0) {
        r.to_stdout = true;
        return true;
    }
    if (!*name) {
        errno = ENOENT;
        return false;
    }
    r.path = name;
    for (int hops = 0;; ++hops) {
        if (out_names_stdout(r.path.c_str())) {
            r.to_stdout = true;
            return true;
        }
        if (::lstat(r.path.c_str(), &r.st) != 0) {
            if (errno != ENOENT) return false;
            r.exists = false;  // a new file, perhaps at the end of a dangling link
            return true;
        }
        if (!S_ISLNK(r.st.st_mode)) {
            r.exists = true;
            return true;
        }
        if (hops == 40) {
            errno = ELOOP;
            return false;
        }
        char link[PATH_MAX];
        const ssize_t n = ::readlink(r.path.c_str(), link, sizeof link - 1);
        if (n < 0) return false;
        link[n] = 0;
        r.path = link[0] == '/' ? std::string(link) : folder_of(r.path) + link;
    }
}

// ".<name>.kqtmp<pid>-<n>", the name cut so that the whole stays a legal file name.
std::string temp_name(const std::string& target, const char* tag, unsigned serial) {
    constexpr size_t kNameMax = 255;
    const std::string tail = std::string(tag) + std::to_string(::getpid()) + "-" +
                             std::to_string(serial);
    std::string base = base_of(target);
    if (1 + base.size() + tail.size() > kNameMax) base.resize(kNameMax - 1 - tail.size());
    return folder_of(target) + "." + base + tail;
}

// The folder's entry of the renamed file goes to disc too. File systems that
// cannot sync a folder say so with EINVAL; that is no failure of the write.
bool sync_folder(const std::string& target) {
#ifdef KQ_FUZZ_BUILD
    (void)target;
    return true;
#else
    const std::string folder = folder_of(target);
    const int fd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return true;
    const bool ok = ::fsync(fd) == 0 || errno == EINVAL || errno == EROFS;
    const int saved = errno;
    ::close(fd);
    errno = saved;
    return ok;
#endif
}

}  // namespace

bool out_names_stdout(const char* name) {
    static const char* const names[] = {"/dev/stdout", "/dev/fd/1", "/proc/self/fd/1",
                                        "/proc/thread-self/fd/1"};
    for (const char* n : names)
        if (std::strcmp(name, n) == 0) return true;
    const std::string own = "/proc/" + std::to_string(::getpid()) + "/fd/1";
    return own == name;
}

bool out_exists_readable(const char* name) {
    struct stat st {};
    return ::stat(name, &st) == 0 && ::faccessat(AT_FDCWD, name, R_OK, AT_EACCESS) == 0;
}

bool OutputFile::open(const char* name, const OutputRules& rules) {
    abandon();
    rename_failed_ = false;
    Resolved r;
    if (!resolve(name, rules.stdout_word, r)) return false;
    if (r.to_stdout) {
        // Text already printed comes first; the descriptor is a copy, so closing the
        // output leaves descriptor 1 open.
        std::fflush(stdout);
        fd_ = ::fcntl(1, F_DUPFD_CLOEXEC, 3);
        return fd_ >= 0;
    }
    if (r.exists && !S_ISREG(r.st.st_mode)) {
        // In place, without truncating; a pipe waits for its reader here, as a
        // writer does.
        fd_ = ::open(r.path.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
        return fd_ >= 0;
    }
    if (r.exists && ((r.st.st_mode & 0222) == 0 ||
                     ::faccessat(AT_FDCWD, r.path.c_str(), W_OK, AT_EACCESS) != 0)) {
        if (errno != EROFS) errno = EACCES;  // read-only: refused, even where root could write
        return false;
    }
    static std::atomic<unsigned> serial{0};
    std::string temp;
    for (int attempt = 0; attempt < 1000 && fd_ < 0; ++attempt) {
        temp = temp_name(r.path, rules.temp_tag, serial++);
        fd_ = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC,
                     r.exists ? 0600 : rules.new_mode);
        if (fd_ < 0 && errno != EEXIST) return false;
    }
    if (fd_ < 0) return false;
    slot_ = take_slot(temp);
    if (slot_ < 0) {
        ::close(fd_);
        ::unlink(temp.c_str());
        fd_ = -1;
        errno = EMFILE;
        return false;
    }
    temp_ = temp;
    target_ = r.path;
    if (r.exists) {
        // The replacement keeps the owner (where permitted) and the permissions.
        if ((r.st.st_uid != ::geteuid() || r.st.st_gid != ::getegid()) &&
            ::fchown(fd_, r.st.st_uid, r.st.st_gid) != 0)
            (void)!::fchown(fd_, static_cast<uid_t>(-1), r.st.st_gid);  // the group alone
        ::fchmod(fd_, r.st.st_mode & 07777);
    }
    return true;
}

std::FILE* OutputFile::open_stream(const char* name, const OutputRules& rules) {
    if (!open(name, rules)) return nullptr;
    fp_ = ::fdopen(fd_, "wb");
    if (!fp_) {
        const int saved = errno;
        abandon();
        errno = saved;
    }
    return fp_;
}

bool OutputFile::commit() {
    if (fd_ < 0) {
        errno = EBADF;
        return false;
    }
    int err = 0;
    if (fp_ && (std::fflush(fp_) != 0 || std::ferror(fp_))) err = errno ? errno : EIO;
#ifndef KQ_FUZZ_BUILD  // the fuzz build writes thousands of files in scratch folders
    if (!err && !temp_.empty() && ::fsync(fd_) != 0) err = errno;
#endif
    const bool closed = fp_ ? std::fclose(fp_) == 0 : ::close(fd_) == 0;
    if (!closed && !err) err = errno;
    fp_ = nullptr;
    fd_ = -1;
    if (temp_.empty()) {
        errno = err;
        return !err;
    }
    if (!err && ::rename(temp_.c_str(), target_.c_str()) != 0) {
        err = errno;
        rename_failed_ = true;
    }
    if (err) ::unlink(temp_.c_str());
    free_slot(slot_);
    temp_.clear();
    if (!err && !sync_folder(target_)) err = errno;
    errno = err;
    return !err;
}

void OutputFile::abandon() {
    if (fp_)
        std::fclose(fp_);
    else if (fd_ >= 0)
        ::close(fd_);
    fp_ = nullptr;
    fd_ = -1;
    if (!temp_.empty()) ::unlink(temp_.c_str());
    free_slot(slot_);
    temp_.clear();
}

void out_start_process() {
    for (int fd = 0; fd <= 2; ++fd) {
        if (::fcntl(fd, F_GETFD) >= 0 || errno != EBADF) continue;
        const int opened = ::open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
        if (opened >= 0 && opened != fd) ::close(opened);  // a lower one was taken already
    }
    struct sigaction sa {};
    sigemptyset(&sa.sa_mask);
    sa.sa_handler = on_file_too_large;
    ::sigaction(SIGXFSZ, &sa, nullptr);
    sa.sa_handler = on_terminate;
    for (const int sig : {SIGINT, SIGTERM, SIGHUP}) {
        struct sigaction old {};
        // A signal ignored by whoever started the program stays ignored.
        if (::sigaction(sig, nullptr, &old) == 0 && old.sa_handler == SIG_IGN) continue;
        ::sigaction(sig, &sa, nullptr);
    }
    hook_exit();
}
