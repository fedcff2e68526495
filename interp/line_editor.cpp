// Line editing for kqc at a terminal. The completion rules are plain code over the
// command tables, the BufferRegistry and the file system; the libedit glue (editor,
// history, the completion key) is built only with KQ_LINE_EDIT.
#include "interp/line_editor.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string_view>

#include <unistd.h>

#include "buffer/image_buffer.h"
#include "interp/command.h"

#ifdef KQ_LINE_EDIT
#include <histedit.h>
#include <pwd.h>

#include <cerrno>
#include <clocale>
#include <cstdlib>

#include "interp/interp.h"
#endif

namespace {

// The reader splits words at these; '#' starts a comment.
bool is_separator(char c) { return c == ' ' || c == '\t' || c == ',' || c == '\n'; }

// Commands whose words name files: at every word, or at one position among the
// words that are neither options nor numbers.
struct FileArgument {
    const char* command;  // full table name
    int position;         // -1: every word
};
constexpr FileArgument kFileArguments[] = {
    {"<", -1},       {"include", -1}, {"read", 0},  {"readyuv", 0},
    {"dotfile", 0},  {"write", 1},    {"writeyuv", 1}, {"writedump", 1},
};

// Commands whose words are neither buffer nor file names.
constexpr const char* kNoNameCommands[] = {"!", "?", "help", "quit"};

bool starts_with(std::string_view s, std::string_view prefix) {
    return s.substr(0, prefix.size()) == prefix;
}

// An option word, or a number that follows one ("-s 720 486", "-c .5 .5 .5 1").
bool option_or_number(std::string_view w) {
    const auto digit = [](char c) { return c >= '0' && c <= '9'; };
    if (w[0] == '-' || digit(w[0])) return true;
    return (w[0] == '.' || w[0] == '+') && w.size() > 1 && digit(w[1]);
}

const CommandEntry* find_row(const std::string& word) {
    for (const CommandEntry* table : {command_table, plugin_table})
        for (const CommandEntry* row = table; row->handler; ++row)
            if (command_matches(word.c_str(), *row)) return row;
    return nullptr;
}

void command_names(std::string_view typed, std::vector<std::string>& out) {
    for (const CommandEntry* table : {command_table, plugin_table})
        for (const CommandEntry* row = table; row->handler; ++row)
            if (starts_with(row->name, typed)) out.emplace_back(row->name);
}

void buffer_names(std::string_view typed, std::vector<std::string>& out) {
    for_each_buffer([&](const ImageBuffer& b) {
        // Temporaries never outlive their command, but stay out of sight all the same.
        if (starts_with(b.name, typed) && !starts_with(b.name, "sys:")) out.push_back(b.name);
    });
}

// Entries of the typed word's folder that begin with its last part. Names the reader
// would cut into several words (or into a comment) are left out; hidden entries only
// when the part begins with '.'.
void file_names(std::string_view typed, std::vector<std::string>& out) {
    namespace fs = std::filesystem;
    const size_t slash = typed.rfind('/');
    const std::string folder(slash == std::string_view::npos ? "" : typed.substr(0, slash + 1));
    const std::string_view part = typed.substr(folder.size());
    std::error_code ec;
    fs::directory_iterator it(folder.empty() ? fs::path(".") : fs::path(folder), ec), end;
    for (; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (!starts_with(name, part) || (name[0] == '.' && !starts_with(part, ".")) ||
            name.find_first_of(" \t\n,#!") != std::string::npos)
            continue;
        std::error_code dir_ec;
        out.push_back(folder + name + (it->is_directory(dir_ec) ? "/" : ""));
    }
}

}  // namespace

Completion complete_line(const std::string& before_cursor) {
    Completion c;
    size_t start = before_cursor.size();
    while (start > 0 && !is_separator(before_cursor[start - 1])) --start;
    c.start = start;
    // Nothing to offer inside a comment or a shell command.
    if (before_cursor.find('#') != std::string::npos || before_cursor.find('!') < start) return c;
    const std::string typed = before_cursor.substr(start);

    std::vector<std::string> words;
    for (size_t i = 0; i < start;) {
        while (i < start && is_separator(before_cursor[i])) ++i;
        const size_t from = i;
        while (i < start && !is_separator(before_cursor[i])) ++i;
        if (i > from) words.push_back(before_cursor.substr(from, i - from));
    }

    if (words.empty()) {
        command_names(typed, c.matches);
    } else if (const CommandEntry* row = find_row(words[0]);
               row && (typed.empty() || typed[0] != '-')) {
        const auto named = [&](const char* n) { return same_word(row->name, n); };
        const FileArgument* files = nullptr;
        for (const FileArgument& f : kFileArguments)
            if (named(f.command)) files = &f;
        const int position = static_cast<int>(
            std::count_if(words.begin() + 1, words.end(),
                          [](const std::string& w) { return !option_or_number(w); }));
        c.files = files && (files->position < 0 || files->position == position);
        if (c.files)
            file_names(typed, c.matches);
        else if (std::none_of(std::begin(kNoNameCommands), std::end(kNoNameCommands), named))
            buffer_names(typed, c.matches);
    }
    std::sort(c.matches.begin(), c.matches.end());
    c.matches.erase(std::unique(c.matches.begin(), c.matches.end()), c.matches.end());
    return c;
}

#ifndef KQ_LINE_EDIT

bool line_editor_built() { return false; }

void line_editor_start(bool silent, bool verbose) {
    static bool said = false;  // once per run, however often standard input is opened
    if (said || !verbose || silent || !isatty(STDIN_FILENO) || !isatty(STDERR_FILENO)) return;
    std::fputs("WARNING : no line editing (kqc was built without libedit)\n", stderr);
    said = true;
}

bool line_editor_active() { return false; }
bool line_editor_read(std::string&, size_t) { return false; }
void line_editor_stop() {}

#else

namespace {

constexpr int kHistoryLines = 1000;

EditLine* g_editor = nullptr;
History* g_history = nullptr;
std::string g_history_path;
std::string g_pending;  // typed text not yet handed to the reader

// The editor measures characters by the user's locale, while the rest of kqc keeps
// the "C" locale it started with; the switch holds only around calls into libedit.
class UserCtype {
public:
    UserCtype() : saved_(std::setlocale(LC_CTYPE, nullptr)) { std::setlocale(LC_CTYPE, ""); }
    ~UserCtype() { std::setlocale(LC_CTYPE, saved_.c_str()); }
    UserCtype(const UserCtype&) = delete;
    UserCtype& operator=(const UserCtype&) = delete;

private:
    std::string saved_;
};

const char* prompt(EditLine*) { return "(kqc) "; }

std::string history_path() {
    const char* home = std::getenv("HOME");
    if (!home || !*home) {
        const passwd* pw = getpwuid(getuid());
        home = pw ? pw->pw_dir : nullptr;
    }
    return home && *home ? std::string(home) + "/.kqc_history" : std::string();
}

std::string common_prefix(const std::vector<std::string>& words) {
    std::string common = words.front();
    for (const std::string& w : words) {
        size_t n = 0;
        while (n < common.size() && n < w.size() && common[n] == w[n]) ++n;
        common.resize(n);
    }
    return common;
}

// Lists the candidates in columns below the line; file names without their folder.
void list_matches(EditLine* el, const std::vector<std::string>& matches, size_t folder_len) {
    int columns = 0;
    if (el_get(el, EL_GETTC, "co", &columns, nullptr) != 0 || columns <= 0) columns = 80;
    size_t width = 0;
    for (const std::string& m : matches) width = std::max(width, m.size() - folder_len);
    width += 2;
    const size_t per_row = std::max<size_t>(1, static_cast<size_t>(columns) / width);
    std::fputc('\n', stderr);
    for (size_t i = 0; i < matches.size(); ++i) {
        const std::string shown = matches[i].substr(folder_len);
        const bool row_end = (i + 1) % per_row == 0 || i + 1 == matches.size();
        std::fprintf(stderr, "%-*s", row_end ? 0 : static_cast<int>(width), shown.c_str());
        if (row_end) std::fputc('\n', stderr);
    }
}

// The completion key: extends the word before the cursor as far as all candidates
// agree (a space after a single whole word), or lists them when it cannot.
unsigned char complete_key(EditLine* el, int) {
    const LineInfo* li = el_line(el);
    const std::string before(li->buffer, static_cast<size_t>(li->cursor - li->buffer));
    const Completion c = complete_line(before);
    if (c.matches.empty()) return CC_ERROR;
    const std::string typed = before.substr(c.start);
    std::string add = common_prefix(c.matches).substr(typed.size());
    if (c.matches.size() == 1 && !(c.files && c.matches[0].back() == '/')) add += ' ';
    if (!add.empty()) return el_insertstr(el, add.c_str()) == 0 ? CC_REFRESH : CC_ERROR;
    const size_t slash = typed.rfind('/');
    list_matches(el, c.matches, c.files && slash != std::string::npos ? slash + 1 : 0);
    return CC_REDISPLAY;
}

bool blank(std::string_view s) {
    return s.find_first_not_of(" \t\n") == std::string_view::npos;
}

}  // namespace

bool line_editor_built() { return true; }

void line_editor_start(bool silent, bool verbose) {
    if (g_editor || silent || !isatty(STDIN_FILENO) || !isatty(STDERR_FILENO)) return;
    UserCtype ctype;
    // The prompt and the edited line go to standard error, as the plain prompt does.
    g_editor = el_init("kqc", stdin, stderr, stderr);
    g_history = history_init();
    if (!g_editor || !g_history) {
        if (g_editor) el_end(g_editor);
        if (g_history) history_end(g_history);
        g_editor = nullptr;
        g_history = nullptr;
        if (verbose)
            std::fputs("WARNING : no line editing (the terminal could not be set up)\n", stderr);
        return;
    }
    HistEvent ev;
    history(g_history, &ev, H_SETSIZE, kHistoryLines);
    history(g_history, &ev, H_SETUNIQUE, 1);
    g_history_path = history_path();
    if (!g_history_path.empty()) history(g_history, &ev, H_LOAD, g_history_path.c_str());

    el_set(g_editor, EL_EDITOR, "emacs");
    el_set(g_editor, EL_SIGNAL, 1);
    el_set(g_editor, EL_PROMPT, prompt);
    el_set(g_editor, EL_HIST, history, g_history);
    el_set(g_editor, EL_ADDFN, "kqc-complete", "complete a command, buffer or file name",
           complete_key);
    el_set(g_editor, EL_BIND, "^I", "kqc-complete", nullptr);
    el_set(g_editor, EL_BIND, "^R", "em-inc-search-prev", nullptr);
    el_source(g_editor, nullptr);  // the user's ~/.editrc has the last word

    static bool cleanup_added = false;
    if (!cleanup_added) add_fatal_cleanup(line_editor_stop);
    cleanup_added = true;
}

bool line_editor_active() { return g_editor != nullptr; }

bool line_editor_read(std::string& out, size_t max) {
    if (!g_editor) return false;
    while (g_pending.empty()) {
        int count = 0;
        const char* typed;
        {
            UserCtype ctype;
            typed = el_gets(g_editor, &count);
        }
        if (count < 0 && errno == EINTR) continue;
        if (!typed || count <= 0) {
            std::fputc('\n', stderr);  // the shell's prompt then starts a line of its own
            return false;
        }
        g_pending = typed;
        std::string entry = g_pending;
        if (!entry.empty() && entry.back() == '\n') entry.pop_back();
        HistEvent ev;
        if (!blank(entry)) history(g_history, &ev, H_ENTER, entry.c_str());
    }
    // Long lines come out in pieces, as the plain reader reads them.
    size_t n = std::min(max, g_pending.size());
    const size_t newline = g_pending.find('\n');
    if (newline < n) n = newline + 1;
    out.assign(g_pending, 0, n);
    g_pending.erase(0, n);
    return true;
}

void line_editor_stop() {
    if (!g_editor) return;
    UserCtype ctype;
    HistEvent ev;
    // An unwritable home folder costs the history, never the run.
    if (!g_history_path.empty()) history(g_history, &ev, H_SAVE, g_history_path.c_str());
    el_end(g_editor);
    history_end(g_history);
    g_editor = nullptr;
    g_history = nullptr;
    g_pending.clear();
}

#endif
