// Runs the built kqc on small scripts in a scratch folder, for script tests that
// check exact standard error, standard output and exit status.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

struct KqcRun {
    int status = -1;  // exit status
    std::string out;  // standard output
    std::string err;  // standard error
};

// A scratch folder removed when the object goes away.
class ScratchDir {
public:
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

private:
    std::filesystem::path path_;
};

// The shell words that run the built program at `path`: its quoted path, preceded by
// the environment's KQ_TEST_RUNNER when that is set (an emulator's command line, such
// as "qemu-aarch64 -L /usr/aarch64-linux-gnu" for a cross build).
std::string program(const std::string& path);

// Programs run under an emulator (KQ_TEST_RUNNER is set). An address-space limit
// (ulimit -v) binds the emulator too, which then cannot start: such tests skip with
// kNoLimitsUnderEmulator as their reason.
bool under_emulator();
inline constexpr const char* kNoLimitsUnderEmulator =
    "the emulator cannot start under an address-space limit (ulimit -v)";

// Runs `kqc <args...>` with the working folder `dir`, standard input `input`.
// When `script` is not empty it is written to dir/t.kqc and "t.kqc" is appended to
// the arguments. `shell_prefix` goes before the command in the shell line (limits,
// environment: "ulimit -v 100000; " or "VAR=value ").
KqcRun run_kqc_in(const ScratchDir& dir, const std::string& script,
                  const std::vector<std::string>& args = {"-s"}, const std::string& input = "",
                  const std::string& shell_prefix = "");

// The same in a fresh scratch folder.
KqcRun run_kqc(const std::string& script, const std::vector<std::string>& args = {"-s"},
               const std::string& input = "");

// Runs a shell command line (another program, with its arguments and any input
// redirection) with the working folder `dir`, capturing its output and status.
KqcRun run_in(const ScratchDir& dir, const std::string& command);

// The shell-line prefix that preloads the fault library: `call` (write, fwrite,
// rename or fsync) fails with `err` after `after` bytes (writes) or calls.
std::string fault_env(const std::string& call, long after, const std::string& err = "ENOSPC");

std::string read_file(const std::filesystem::path& p);
void write_file(const std::filesystem::path& p, const std::string& bytes);

// The bell and the failure report the dispatcher prints after a failed line of
// t.kqc: "\a" "ERROR : Command line execution error\n" and the context lines.
std::string exec_error(int line, const std::string& text, const std::string& file = "t.kqc");
