// Splitting a cleaned line into words and running the command the first word names.
#pragma once

#include <string>
#include <vector>

// Splits the line at spaces, terminating each word in place. The result holds the
// words followed by one null slot. A 32nd word is fatal.
std::vector<char*> split_words(std::string& line);

// Finds the command for words[0] in the command table, then the plug-in table, and
// runs it; a failed command gets the bell, the execution-error line and the
// context. An unknown word is ignored (with a hint when typed at a terminal).
// Under -e and -k a command that could not do all it was asked counts as failed
// as well, and so does an unknown word (command_line_failed).
void dispatch(int argc, char** argv);

#ifdef KQ_FUZZ_BUILD
// Starts the fuzz build's count of dispatched lines again (one count per run).
void fuzz_reset_line_count();
#endif
