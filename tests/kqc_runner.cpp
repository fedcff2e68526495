#include "tests/kqc_runner.h"

#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

ScratchDir::ScratchDir() {
    static std::atomic<int> counter{0};
    path_ = fs::temp_directory_path() /
            ("kqtest-" + std::to_string(getpid()) + "-" + std::to_string(counter++));
    fs::remove_all(path_);
    fs::create_directories(path_);
}

ScratchDir::~ScratchDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
}

std::string read_file(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void write_file(const fs::path& p, const std::string& bytes) {
    std::ofstream out(p, std::ios::binary);
    out << bytes;
}

static std::string quote(const std::string& s) {
    std::string q = "'";
    for (char c : s) {
        if (c == '\'')
            q += "'\\''";
        else
            q += c;
    }
    return q + "'";
}

// Under AddressSanitizer a refused huge allocation also prints a note
// ("==pid==WARNING: AddressSanitizer failed to allocate ..."); it is not ours.
static std::string strip_sanitizer_notes(std::string err) {
    for (size_t at = err.find("=="); at != std::string::npos; at = err.find("==", at)) {
        const bool line_start = at == 0 || err[at - 1] == '\n';
        const size_t end = err.find('\n', at);
        if (line_start && err.compare(at, 2, "==") == 0 &&
            err.find("AddressSanitizer failed to allocate", at) < end) {
            err.erase(at, end == std::string::npos ? std::string::npos : end - at + 1);
        } else {
            at += 2;
        }
    }
    return err;
}

std::string program(const std::string& path) {
    const char* runner = std::getenv("KQ_TEST_RUNNER");
    return runner && *runner ? std::string(runner) + " " + quote(path) : quote(path);
}

bool under_emulator() {
    const char* runner = std::getenv("KQ_TEST_RUNNER");
    return runner && *runner;
}

KqcRun run_kqc_in(const ScratchDir& dir, const std::string& script,
                  const std::vector<std::string>& args, const std::string& input,
                  const std::string& shell_prefix) {
    std::string cmd = "cd ";
    cmd += quote(dir.path().string());
    cmd += " && ";
    cmd += shell_prefix;
    cmd += program(KQC_PATH);
    for (const auto& a : args) {
        cmd += ' ';
        cmd += quote(a);
    }
    if (!script.empty()) {
        write_file(dir / "t.kqc", script);
        cmd += " t.kqc";
    }
    write_file(dir / ".stdin", input);
    cmd += " < .stdin > .stdout 2> .stderr";
    int rc = std::system(cmd.c_str());
    KqcRun r;
    r.status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
    r.out = read_file(dir / ".stdout");
    r.err = strip_sanitizer_notes(read_file(dir / ".stderr"));
    return r;
}

KqcRun run_in(const ScratchDir& dir, const std::string& command) {
    const std::string cmd = "cd " + quote(dir.path().string()) + " && " + command +
                            " > .stdout 2> .stderr";
    const int rc = std::system(cmd.c_str());
    KqcRun r;
    r.status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
    r.out = read_file(dir / ".stdout");
    r.err = strip_sanitizer_notes(read_file(dir / ".stderr"));
    std::filesystem::remove(dir / ".stdout");
    std::filesystem::remove(dir / ".stderr");
    return r;
}

std::string fault_env(const std::string& call, long after, const std::string& err) {
    // The sanitizer runtime wants to come first; the fault library is plain code.
    // Under qemu-user the library goes to the emulated program, not to the emulator.
    const std::string preload = under_emulator() ? "QEMU_SET_ENV=LD_PRELOAD=" : "LD_PRELOAD=";
    return "ASAN_OPTIONS=verify_asan_link_order=0:detect_leaks=0 " + preload +
           quote(KQ_FAULTS_PATH) + " KQ_FAULT_CALL=" + call +
           " KQ_FAULT_AFTER=" + std::to_string(after) + " KQ_FAULT_ERRNO=" + err + " ";
}

KqcRun run_kqc(const std::string& script, const std::vector<std::string>& args,
               const std::string& input) {
    ScratchDir dir;
    return run_kqc_in(dir, script, args, input);
}

std::string exec_error(int line, const std::string& text, const std::string& file) {
    return "\aERROR : Command line execution error\nERROR : file = " + file +
           ", lineNo. = " + std::to_string(line) + "\n      : com = \"" + text + "\"\n";
}
