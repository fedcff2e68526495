// The interpreter's run state: options, the include stack of scripts, the quit
// flag, error-context reports and the one fatal-exit path of the program.
#pragma once

struct Options {
    const char* script_name = nullptr;  // script file, or "STDIN"
    bool silent = false;                // -s: no prompt
    bool msg_mode = false;              // -m: shown in the option dump only
    bool verbose = false;               // -v: option dump and include messages
    bool lap_time = false;              // -t: lap time of every command line
    bool strict = false;                // -e: the first failed line ends the run
    bool keep_going = false;            // -k: run to the end, then fail if a line failed
    int threads = 0;                    // -j N: threads of the operations; 0: not given
};

const Options& options();

// Program entry of kqc; returns the exit status.
int kqc_main(int argc, char** argv);

// Rings the terminal bell on standard error.
void beep();

// Work to do before a fatal exit (for example removing a half-written file).
using FatalCleanup = void (*)();
void add_fatal_cleanup(FatalCleanup fn);

// Bell, "kqc : error exit", status 1. The only place a run ends with failure.
// (The fuzz build throws FatalExit instead, so its driver can go on.)
[[noreturn]] void fatal_exit();

#ifdef KQ_FUZZ_BUILD
struct FatalExit {};
#endif

// Where the current line came from: script name (or standard input), line number,
// and the line as read.
void report_context();

// A command line failed: its handler returned 0, it could not do all it was asked
// although it reports success, or its word named no command. Under -e the run
// ends here with the error exit; under -k the line is counted; otherwise nothing.
void command_line_failed();

// True when the current line was typed at a terminal: the script is standard
// input, standard input is a terminal, and there is a prompt (no -s).
bool reading_terminal();

// Runs the named script one include level deeper (the include command).
void include_script(const char* name);

// Sets the quit flag: every script level stops after the current line.
void request_quit();
