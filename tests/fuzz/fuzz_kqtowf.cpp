// kqtowf: the input is a command line and a source picture. The bytes up to the
// first zero byte are the words, one a line; the bytes after it are the picture,
// written as p.tkq (without a zero byte there is no picture). An earlier o.wf is
// there for every run, so that the words can reach the overwrite question, which
// reads a standard input at its end and so refuses.
//
// Checked after each run: no temporary output is left, o.wf is intact after a
// failure, and no file of the scratch folder stays open.
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "kqtowf/kqtowf.h"

namespace {

constexpr size_t kMaxWords = 24;
const char kOld[] = "an earlier map file";

bool word_allowed(const std::string& w) {
    return w.find('/') == std::string::npos && w.find("..") == std::string::npos;
}

// True when a descriptor is open on a file of the scratch folder (the driver and
// the sanitizers' own descriptors lie elsewhere).
bool file_left_open() {
    static const std::string here = std::filesystem::current_path().string() + "/";
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator("/proc/self/fd", ec)) {
        const std::string target = std::filesystem::read_symlink(e.path(), ec).string();
        if (!ec && target.compare(0, here.size(), here) == 0) return true;
    }
    return false;
}

void check(bool ok, const char* what) {
    if (ok) return;
    std::fprintf(stderr, "fuzz_kqtowf: %s\n", what);
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::enter_scratch();
    static const bool quiet_stdin = std::freopen("/dev/null", "r", stdin) != nullptr;
    check(quiet_stdin, "no /dev/null");
    const auto* zero = static_cast<const uint8_t*>(std::memchr(data, 0, size));
    const size_t text = zero ? size_t(zero - data) : size;
    std::vector<std::string> words{"kqtowf"};
    std::string w;
    for (size_t i = 0; i <= text && words.size() <= kMaxWords; ++i) {
        if (i < text && data[i] != '\n') {
            w += static_cast<char>(data[i]);
            continue;
        }
        if (word_allowed(w)) words.push_back(w);
        w.clear();
    }
    if (zero) fuzz::put_file("p.tkq", zero + 1, size - text - 1);
    fuzz::put_file("o.wf", reinterpret_cast<const uint8_t*>(kOld), sizeof kOld - 1);

    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    std::clearerr(stdin);
    wf_overwrite_mode = 0;
    kq_errno = 0;
    int status = 0;
    try {
        status = kqtowf_main(static_cast<int>(words.size()), argv.data());
    } catch (const KqtowfExit& e) {
        status = e.status;
    }

    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(".", ec))
        check(e.path().filename().string().find(".wftmp") == std::string::npos,
              "a temporary output was left");
    if (status != 0) {
        std::FILE* f = std::fopen("o.wf", "rb");
        char got[sizeof kOld] = {};
        const size_t n = f ? std::fread(got, 1, sizeof got, f) : 0;
        if (f) std::fclose(f);
        check(n == sizeof kOld - 1 && std::memcmp(got, kOld, n) == 0,
              "a failed run changed the earlier o.wf");
    }
    check(!file_left_open(), "a file of the scratch folder was left open");
    for (const auto& e : std::filesystem::directory_iterator(".", ec))
        std::filesystem::remove_all(e.path(), ec);  // (kqtowf keeps no buffers between runs)
    return 0;
}
