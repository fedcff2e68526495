// Typing kqc commands at a terminal: line editing, history kept in ~/.kqc_history
// and completion of command words, buffer names and file names (libedit). Scripts,
// pipes and -s never come here: they go through the plain reader.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

// True when this kqc was built with line editing.
bool line_editor_built();

// Starts the editor when standard input and standard error are terminals and the
// prompt is not silenced, and loads the history file. When the editor would have
// been used but is not available, `verbose` says so once.
void line_editor_start(bool silent, bool verbose);

// True between a successful start and the stop.
bool line_editor_active();

// The next piece of typed input: at most `max` characters, ending after a newline
// when the line ends within them (the prompt "(kqc) " comes with each new line).
// False at end of input.
bool line_editor_read(std::string& out, size_t max);

// Writes the history file (a failure is ignored) and gives the terminal back.
// Safe to call more than once.
void line_editor_stop();

// What the completion key offers for the text before the cursor: the start of the
// word being completed and the words that may replace it, sorted and without
// repeats. Directories end in '/'.
struct Completion {
    size_t start = 0;                  // offset of the word being completed
    std::vector<std::string> matches;  // whole replacement words
    bool files = false;                // the matches are file names
};
Completion complete_line(const std::string& before_cursor);
