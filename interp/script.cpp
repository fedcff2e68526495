// The script reader: options of the run, the include stack, line reading and
// cleaning, the main loop, error-context reports and the fatal-exit path.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

#include "build_info.h"
#include "buffer/image_buffer.h"
#include "interp/dispatch.h"
#include "interp/interp.h"
#include "interp/line_editor.h"
#include "libkq/kq.h"
#include "libout/out_file.h"
#include "parallel/parallel.h"

namespace {

const char* const kAuthor = "the kq team";

constexpr int kMaxDepth = 50;       // scripts open at once, the top level included
constexpr size_t kChunk = 1023;     // characters read at most per line
constexpr size_t kLineField = 1024; // a cleaned line and its terminator must fit

// One script being read: a file, or standard input.
struct ScriptSource {
    std::string name;        // as opened; empty for standard input
    bool is_stdin = false;   // reading standard input
    FILE* stream = nullptr;  // open stream
    int line_no = 0;         // lines read so far
    std::string echo;        // the current line exactly as read
    bool comment_tail = false;  // the rest of a long line that a '#' made comment
};

Options g_options;
std::vector<ScriptSource> g_stack;  // g_stack.back() is the current script
bool g_quit = false;
std::vector<FatalCleanup> g_cleanups;
int g_failed_lines = 0;  // lines that failed, counted under -k

ScriptSource& current() { return g_stack.back(); }

// Opens a script at a new, deeper level. On failure reports from the including
// level (or plainly at the top) and exits.
void open_script(const char* name) {
    ScriptSource src;
    if (std::string(name) == "STDIN") {
        src.is_stdin = true;
        src.stream = stdin;
        line_editor_start(g_options.silent, g_options.verbose);
    } else {
        src.name = name;
        src.stream = std::fopen(name, "r");
        // A folder opens on some systems but holds no lines: it is no script.
        struct stat st;
        if (src.stream && fstat(fileno(src.stream), &st) == 0 && S_ISDIR(st.st_mode)) {
            std::fclose(src.stream);
            src.stream = nullptr;
        }
    }
    if (!src.stream) {
        beep();
        std::fprintf(stderr, "ERROR : Can't open input file %s\n", name);
        if (!g_stack.empty()) report_context();
        fatal_exit();
    }
    g_stack.push_back(std::move(src));
}

void close_script() {
    ScriptSource& src = current();
    if (!src.is_stdin && src.stream) std::fclose(src.stream);
    g_stack.pop_back();
}

// Reads one chunk of a physical line: at most kChunk characters, ending after a
// newline. False at end of input with nothing read.
bool read_chunk(FILE* f, std::string& out) {
    out.clear();
    while (out.size() < kChunk) {
        int c = std::getc(f);
        if (c == EOF) break;
        out.push_back(static_cast<char>(c));
        if (c == '\n') break;
    }
    return !out.empty();
}

bool is_blank(const std::string& s) {
    for (char c : s)
        if (c != ' ' && c != '\t' && c != '\n') return false;
    return true;
}

// Next non-blank cleaned line of the current script into `line`; false at its end.
bool read_line(std::string& line) {
    ScriptSource& src = current();
    for (;;) {
        // At a terminal the line editor reads standard input and shows the prompt.
        const bool edited = src.is_stdin && line_editor_active();
        if (!g_options.silent && src.is_stdin && !edited) std::fputs("(kqc) ", stderr);
        ++src.line_no;
        std::string raw;
        if (!(edited ? line_editor_read(raw, kChunk) : read_chunk(src.stream, raw))) return false;
        const bool ends_line = raw.back() == '\n';
        // The line is text: a NUL byte ends it, and what follows it is never seen.
        raw.resize(std::min(raw.size(), raw.find('\0')));
        src.echo = raw;

        // A chunk that continues a line already cut by '#' is comment as a whole.
        const bool tail = src.comment_tail;
        line = tail ? std::string() : raw;
        size_t hash = line.find('#');
        if (hash != std::string::npos) line.resize(hash);
        src.comment_tail = !ends_line && (tail || hash != std::string::npos);

        size_t bang = line.find('!');
        if (bang != std::string::npos) {
            if (line.size() + 1 >= kLineField) {
                std::fputs("ERROR : Too long command line\n", stderr);
                std::fputs("bang operation faild\n", stderr);
                fatal_exit();
            }
            line.insert(bang + 1, 1, ' ');
        }
        for (char& c : line)
            if (c == '\t' || c == '\n' || c == ',') c = ' ';
        if (!is_blank(line)) return true;
    }
}

// Reads and dispatches the lines of the current script until its end or quit.
void run_script() {
    std::string line;
    while (!g_quit && read_line(line)) {
        const auto start = std::chrono::steady_clock::now();
        std::vector<char*> words = split_words(line);
        dispatch(static_cast<int>(words.size()) - 1, words.data());
        if (g_options.lap_time) {
            const std::chrono::duration<double, std::milli> lap =
                std::chrono::steady_clock::now() - start;
            std::string text = current().echo;
            if (!text.empty() && text.back() == '\n') text.pop_back();
            std::fprintf(stderr, "LAPTIME : %10.3f msec : %s\n", lap.count(), text.c_str());
        }
    }
}

void print_usage() {
    const char* p = "kqc";
    std::fprintf(stderr, "Usage : %s [-options] inFile\n", p);
    std::fprintf(stderr, "  or  : %s [-options] < infile\n", p);
    std::fputs("        inFile : kqc script\n", stderr);
    std::fprintf(stderr, " Work : %s\n", "composite picture data");
    std::fputs("[Options]\n", stderr);
    std::fputs(" -s : silent mode\n", stderr);
    std::fputs(" -m : msg output mode\n", stderr);
    std::fputs(" -v : verbose mode\n", stderr);
    std::fputs(" -t : measure lap time of each command\n", stderr);
}

void print_option_dump() {
    auto on = [](bool f) { return f ? "on" : "off"; };
    std::fputs("\n======== option dump ========\n", stderr);
    std::fprintf(stderr, "  in file : %s\n", g_options.script_name);
    std::fprintf(stderr, "       -s : %s\n", on(g_options.silent));
    std::fprintf(stderr, "       -m : %s\n", on(g_options.msg_mode));
    std::fprintf(stderr, "       -v : %s\n", on(g_options.verbose));
    std::fprintf(stderr, "       -t : %s\n", on(g_options.lap_time));
    // Options beyond the usage text are listed only when given, so the dump of
    // every other command line stays as it always was.
    if (g_options.strict) std::fprintf(stderr, "       -e : %s\n", on(true));
    if (g_options.keep_going) std::fprintf(stderr, "       -k : %s\n", on(true));
    if (g_options.threads > 0) std::fprintf(stderr, "       -j : %d\n", g_options.threads);
    std::fputs("\n", stderr);
}

}  // namespace

const Options& options() { return g_options; }

void beep() {
    std::fputc(7, stderr);
    std::fflush(stderr);
}

void add_fatal_cleanup(FatalCleanup fn) { g_cleanups.push_back(fn); }

void fatal_exit() {
    for (FatalCleanup fn : g_cleanups) fn();
    beep();
    std::fprintf(stderr, "%s : error exit\n", "kqc");
    std::fflush(stdout);
#ifdef KQ_FUZZ_BUILD
    throw FatalExit{};
#else
    std::exit(1);
#endif
}

void report_context() {
    ScriptSource& src = current();
    if (src.is_stdin)
        std::fprintf(stderr, "ERROR : standard-in , lineNo. = %d\n", src.line_no);
    else
        std::fprintf(stderr, "ERROR : file = %s, lineNo. = %d\n", src.name.c_str(), src.line_no);
    if (!src.echo.empty() && src.echo.back() == '\n') src.echo.pop_back();
    std::fprintf(stderr, "      : com = \"%s\"\n", src.echo.c_str());
}

void include_script(const char* name) {
    if (static_cast<int>(g_stack.size()) >= kMaxDepth) {
        beep();
        std::fputs("ERROR : Too many include file\n", stderr);
        report_context();
        fatal_exit();
    }
    open_script(name);
    run_script();
    close_script();
}

void request_quit() { g_quit = true; }

void command_line_failed() {
    if (g_options.strict) fatal_exit();
    if (g_options.keep_going) ++g_failed_lines;
}

bool reading_terminal() {
    return !g_stack.empty() && current().is_stdin && !g_options.silent && isatty(STDIN_FILENO);
}


int kqc_main(int argc, char** argv) {
    out_start_process();
    if (argc == 2) {
        const std::string only = argv[1];
        if (only == "-ver") {
            std::fprintf(stderr, "%s : Version %s ( %s ) Author %s\n", "kqc", "1.12", "Jun/25/94",
                         kAuthor);
            return 0;
        }
        if (only == "-info") {
            std::fprintf(stderr, "program = %s\n", "kqc");
            std::fprintf(stderr, "  Version        : %s (%s) Author %s\n", "1.12", "Jun/25/94",
                         kAuthor);
            std::fprintf(stderr, "  CompileDate    : %s\n", KQ_BUILD_DATE);
            std::fprintf(stderr, "  CompileMachine : %s\n", KQ_BUILD_MACHINE);
            std::fprintf(stderr, "  CompileOS      : %s\n", KQ_BUILD_OS);
            std::fprintf(stderr, "  CompileUser    : %s\n", KQ_BUILD_USER);
            kq_print_module();
            return 0;
        }
        if (only == "-" || only == "-h" || only == "-H") {
            print_usage();
            return 0;
        }
    }

    g_options = Options{};
    for (int i = 1; i < argc; ++i) {
        const std::string word = argv[i];
        if (word.empty() || word[0] != '-') {
            if (g_options.script_name) {
                std::fprintf(stderr, "ERROR : Invalid argment %s\n", argv[i]);
                fatal_exit();
            }
            g_options.script_name = argv[i];
        } else if (word == "-s") {
            g_options.silent = true;
        } else if (word == "-m") {
            g_options.msg_mode = true;
        } else if (word == "-v") {
            g_options.verbose = true;
        } else if (word == "-t") {
            g_options.lap_time = true;
        } else if (word == "-e") {
            g_options.strict = true;
        } else if (word == "-k") {
            g_options.keep_going = true;
        } else if (word == "-j") {
            // -j N: the threads the operations may use (the bytes they make are the
            // same for every N).
            g_options.threads = i + 1 < argc ? parse_thread_count(argv[i + 1]) : 0;
            if (g_options.threads < 1) {
                std::fprintf(stderr, "ERROR : Invalid options %s\n", argv[i]);
                fatal_exit();
            }
            ++i;
        } else {
            std::fprintf(stderr, "ERROR : Invalid options %s\n", argv[i]);
            fatal_exit();
        }
    }
    if (!g_options.script_name) g_options.script_name = "STDIN";
    if (g_options.verbose) print_option_dump();
    set_thread_count(g_options.threads > 0 ? g_options.threads : available_cpus());

    while (!g_stack.empty()) close_script();  // left open by an earlier run's fatal end
    g_quit = false;
    g_failed_lines = 0;
    clear_registry();
    open_script(g_options.script_name);
    run_script();
    line_editor_stop();
    std::fflush(stdout);
    if (g_failed_lines > 0) {
        std::fprintf(stderr, "ERROR : %d command line(s) failed\n", g_failed_lines);
        fatal_exit();
    }
    return 0;
}
