// Word splitting, command matching and dispatch, and the shared routines through
// which handlers answer help and report argument errors.
#include "interp/dispatch.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <utility>

#include "buffer/image_buffer.h"
#include "interp/command.h"
#include "interp/interp.h"

namespace {
constexpr int kMaxWords = 31;  // a 32nd word on one line is fatal

bool g_incomplete = false;  // the running command could not do all it was asked

// A word that names no command: silent by default, a hint at a terminal, a
// failed line under -e and -k.
void unknown_command(const char* word) {
    if (failures_counted()) {
        beep();
        std::fprintf(stderr, "ERROR : Unknown command %s\n", word);
        report_context();
        command_line_failed();
    } else if (reading_terminal()) {
        std::fprintf(stderr, "WARNING : unknown command %s (help lists the commands)\n", word);
    }
}

#ifdef KQ_FUZZ_BUILD
// The fuzz build runs no shell command, names no file outside the working folder
// (nor the standard streams) and stops a run after a bounded number of lines, so
// that includes of the script itself end.
constexpr int kFuzzMaxLines = 4000;
int g_fuzz_lines = 0;

bool fuzz_line_allowed(int argc, char** argv) {
    if (argv[0][0] == '!') return false;
    for (int i = 0; i < argc; ++i)
        if (std::strchr(argv[i], '/') || same_word(argv[i], "STDIN") ||
            same_word(argv[i], "STDOUT") || same_word(argv[i], ".."))
            return false;
    if (++g_fuzz_lines > kFuzzMaxLines) {
        request_quit();
        return false;
    }
    return true;
}
#endif
}  // namespace

#ifdef KQ_FUZZ_BUILD
void fuzz_reset_line_count() { g_fuzz_lines = 0; }
#endif

std::vector<char*> split_words(std::string& line) {
    std::vector<char*> words;
    char* p = line.data();
    for (;;) {
        while (*p == ' ') ++p;
        if (!*p) break;
        if (static_cast<int>(words.size()) == kMaxWords) {
            beep();
            std::fprintf(stderr, "ERROR : argment count overflow (max=%d)\n", kMaxWords + 1);
            report_context();
            fatal_exit();
        }
        words.push_back(p);
        while (*p && *p != ' ') ++p;
        if (*p) *p++ = '\0';
    }
    words.push_back(nullptr);
    return words;
}

bool command_matches(const char* word, const CommandEntry& row) {
    const size_t m = static_cast<size_t>(row.min_len);
    if (std::strlen(word) < m || std::strncmp(word, row.name, m) != 0) return false;
    return m != std::strlen(row.name) || word[m] == '\0';
}

static const CommandEntry* find_command(const CommandEntry* table, const char* word) {
    for (const CommandEntry* row = table; row->handler; ++row)
        if (command_matches(word, *row)) return row;
    return nullptr;
}

void dispatch(int argc, char** argv) {
    if (argc < 1) return;
#ifdef KQ_FUZZ_BUILD
    if (!fuzz_line_allowed(argc, argv)) return;
#endif
    const CommandEntry* row = find_command(command_table, argv[0]);
    if (!row) row = find_command(plugin_table, argv[0]);
    if (!row) return unknown_command(argv[0]);
    g_incomplete = false;
    bool ok = false;
    try {
        ok = row->handler(argc, argv) != 0;
    } catch (const std::bad_alloc&) {
        // Working memory a command could not have: the end a buffer's planes take.
        fatal_no_planes();
    }
    // An include's own lines have each been dispatched (and reset the flag) by now.
    const bool incomplete = std::exchange(g_incomplete, false);
    if (ok && !(incomplete && failures_counted())) return;
    beep();
    std::fputs("ERROR : Command line execution error\n", stderr);
    report_context();
    command_line_failed();
}

bool failures_counted() { return options().strict || options().keep_going; }

void note_incomplete() { g_incomplete = true; }

void note_incomplete(const char* detail_format, ...) {
    g_incomplete = true;
    if (!failures_counted()) return;
    std::va_list args;
    va_start(args, detail_format);
    std::vfprintf(stderr, detail_format, args);
    va_end(args);
}

int succeed_anyway(int ok) {
    if (!ok) note_incomplete();
    return 1;
}

int help_request(int argc, char** argv, int* mode) {
    if (argc != 2) return 0;
    if (same_word(argv[1], "?")) {
        *mode = 0;
        return 1;
    }
    if (same_word(argv[1], "-") || same_word(argv[1], "-h") || same_word(argv[1], "-H")) {
        *mode = 1;
        return 1;
    }
    return 0;
}

bool answer_help(int argc, char** argv, HelpPrinter help) {
    int mode = 0;
    if (!help_request(argc, argv, &mode)) return false;
    help(argv[0], mode);
    return true;
}

int command_error(const char* message, const char* detail, const char* word, HelpPrinter help) {
    if (detail && *detail)
        std::fprintf(stderr, "ERROR : %s : %s\n", message, detail);
    else
        std::fprintf(stderr, "ERROR : %s\n", message);
    help(word, 1);
    return 0;
}

int command_error(const char* message, const char* word, HelpPrinter help) {
    return command_error(message, nullptr, word, help);
}

int need_args(int argc, char** argv, int i, int n, HelpPrinter help) {
    if (i + n < argc) return 1;
    char message[600];
    std::snprintf(message, sizeof message, "%s need %d argment(s)", argv[i], n);
    return command_error(message, argv[0], help);
}

bool same_word(const char* a, const char* b) { return std::strcmp(a, b) == 0; }

void print_summary(const char* word, const char* text) {
    std::fprintf(stderr, "\t%s\t-> %s\n", word, text);
}

int to_int(const char* word) {
    // As atoi: the long result narrowed to int (modular, never undefined).
    return static_cast<int>(std::strtol(word, nullptr, 10));
}

double to_real(const char* word) { return std::strtod(word, nullptr); }

int plane_mask_word(const char* word) {
    static const struct {
        const char* word;
        int mask;
    } masks[] = {{"-rgba", 15}, {"-rgb", 7}, {"-r", 1}, {"-g", 2}, {"-b", 4}, {"-a", 8}};
    for (const auto& m : masks)
        if (same_word(word, m.word)) return m.mask;
    return -1;
}

