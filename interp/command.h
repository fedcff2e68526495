// The handler contract every kqc command follows, and the shared routines through
// which handlers answer help requests and report argument errors.
//
// A handler takes the word count and the words of one script line (word 0 is the
// command word as typed) and returns 1 for success, 0 for failure. It answers a
// help request first, parses its words, and hands buffer names and plain numbers
// to a worker; it never touches pixels itself.
#pragma once

#include <cstdint>

// Prints a command's usage text (mode 1) or its one-line summary (any other mode).
using HelpPrinter = void (*)(const char* word, int mode);
using CommandHandler = int (*)(int argc, char** argv);

struct CommandEntry {
    const char* name;        // full command name
    int min_len;             // characters that must match
    CommandHandler handler;  // null only in the terminating row
};

// 1 (and *mode) when the words ask for help: exactly two words and the second is
// "?" (mode 0, summary) or "-", "-h", "-H" (mode 1, usage).
int help_request(int argc, char** argv, int* mode);

// Answers a help request through `help`; true when it did (the handler then returns 1).
bool answer_help(int argc, char** argv, HelpPrinter help);

// "ERROR : message : detail" (or "ERROR : message" when detail is null or empty),
// then the usage text. Always returns 0 so handlers can `return command_error(...)`.
int command_error(const char* message, const char* detail, const char* word, HelpPrinter help);
int command_error(const char* message, const char* word, HelpPrinter help);

// 1 when word i has at least n words after it; otherwise reports
// "<word i> need <n> argment(s)" through command_error and returns 0.
int need_args(int argc, char** argv, int i, int n, HelpPrinter help);

// Warn-and-succeed paths. Some commands report success to the dispatcher although
// they could not do all they were asked (a picture that would not open, a short
// YUV file): they print their usual message, if any, and call note_incomplete so
// that -e and -k count the line as failed. The printf-style detail, when given,
// is printed under -e and -k only, for paths that are silent by default.
void note_incomplete();
[[gnu::format(printf, 1, 2)]] void note_incomplete(const char* detail_format, ...);

// True under -e and -k, where such lines count as failed.
bool failures_counted();

// For handlers whose worker's refusal still counts as done: notes the line as
// incomplete when ok is 0, and returns 1.
int succeed_anyway(int ok);

// Exact comparison of two words.
bool same_word(const char* a, const char* b);

// Prints the summary line "\t<word>\t-> <text>\n".
void print_summary(const char* word, const char* text);

// Numbers on command lines read as atoi and atof do (a malformed number is 0).
int to_int(const char* word);
double to_real(const char* word);

// Plane-mask option words shared by the image operations: "-rgba" 15, "-rgb" 7,
// "-r" 1, "-g" 2, "-b" 4, "-a" 8; -1 for any other word.
int plane_mask_word(const char* word);

// The command table (55 rows) and the plug-in table, each ended by an empty row.
extern const CommandEntry command_table[];
extern const CommandEntry plugin_table[];

// True when `word` selects the row by the abbreviation rule.
bool command_matches(const char* word, const CommandEntry& row);
