// The interpreter's own commands: help ("?"), quit, include ("<") and "!".
#include <cstdio>
#include <cstdlib>
#include <string>

#include <sys/wait.h>

#include "interp/command.h"
#include "interp/commands.h"
#include "interp/interp.h"

static void help_help(const char* word, int mode) {
    if (mode == 1)
        std::fprintf(stderr, "Usage : %s\n", word);
    else
        print_summary(word, "command help");
}

// Prints every command's summary line under its table name, then the plug-ins'.
int cmd_help(int argc, char** argv) {
    if (answer_help(argc, argv, help_help)) return 1;
    if (argc != 1) return command_error("Invalid argment", argv[0], help_help);
    auto list = [](const CommandEntry* table) {
        for (const CommandEntry* row = table; row->handler; ++row) {
            std::string name = row->name, question = "?";
            char* words[] = {name.data(), question.data(), nullptr};
            row->handler(2, words);
        }
    };
    list(command_table);
    std::fputs("\n\t=== plug in command ===\n", stderr);
    list(plugin_table);
    return 1;
}

static void help_quit(const char* word, int mode) {
    if (mode == 1)
        std::fprintf(stderr, "Usage : %s\n", word);
    else
        print_summary(word, "quit");
}

int cmd_quit(int argc, char** argv) {
    if (answer_help(argc, argv, help_quit)) return 1;
    if (argc != 1) return command_error("Invalid argment", argv[0], help_quit);
    request_quit();
    return 1;
}

static void help_include(const char* word, int mode) {
    if (mode == 1)
        std::fprintf(stderr, "Usage : %s SCRIPTNAME\n", word);
    else
        print_summary(word, "include kqc script file");
}

// Runs a script one level deeper; failures inside it are reported line by line there.
int cmd_include(int argc, char** argv) {
    if (answer_help(argc, argv, help_include)) return 1;
    if (argc != 2) return command_error("Invalid argment count", argv[0], help_include);
    const std::string name = argv[1];  // the nested lines reuse nothing of ours, but be safe
    if (options().verbose) std::fprintf(stderr, "include %s\n", name.c_str());
    include_script(name.c_str());
    if (options().verbose) std::fprintf(stderr, "include %s finish\n", name.c_str());
    return 1;
}

static void help_bang(const char* word, int mode) {
    if (mode == 1)
        std::fprintf(stderr, "Usage : %s unix-command-line\n", word);
    else
        print_summary(word, "execute unix command");
}

// Runs the rest of the line through the system shell and waits for it. The line
// succeeds whatever the shell returns; under -e and -k a shell command that fails
// (or cannot be started) makes the line incomplete.
int cmd_bang(int argc, char** argv) {
    if (answer_help(argc, argv, help_bang)) return 1;
    std::string text;
    for (int i = 1; i < argc; ++i) {
        text += argv[i];
        text += ' ';
    }
    std::fflush(stdout);
    std::fflush(stderr);
    const int status = std::system(text.c_str());
    if (status == -1)
        note_incomplete("ERROR : Can't start unix command\n");
    else if (WIFSIGNALED(status))
        note_incomplete("ERROR : unix command killed by signal %d\n", WTERMSIG(status));
    else if (WEXITSTATUS(status) != 0)
        note_incomplete("ERROR : unix command exit status %d\n", WEXITSTATUS(status));
    return 1;
}
