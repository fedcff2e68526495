// kqc typed at a terminal: what the completion key offers, and whole sessions on a
// pseudo-terminal (editing, history across runs, completion) beside the same bytes
// through a pipe, which must keep the plain reader's behaviour.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

#include "buffer/image_buffer.h"
#include "interp/command.h"
#include "interp/line_editor.h"
#include "tests/kqc_runner.h"

namespace {

using Words = std::vector<std::string>;

TEST(LineEditor, CompletionOffers) {
    ScratchDir dir;
    const std::string d = dir.path().string() + "/";
    write_file(dir / "scene.kqc", "");
    write_file(dir / "scene.tkq", "");
    write_file(dir / "shot,1.tkq", "");  // the reader would split it: never offered
    write_file(dir / ".hidden", "");
    std::filesystem::create_directory(dir / "scenes");
    clear_registry();
    for (const char* name : {"fg", "fog", "bg", "sys:blurTmp"}) make_buffer(name, 0, 0, 1, 1, 1);

    const struct {
        std::string line;  // text before the cursor
        Words matches;
    } cases[] = {
        {"antif", {"antiflicker"}},
        {"in", {"in", "include", "info"}},
        {"ch", {"chex"}},  // the plug-in table too
        {"  wr", {"write", "writedump", "writeyuv"}},
        {"blur -z 2 2 f", {"fg", "fog"}},
        {"over fg,b", {"bg"}},
        {"inf s", {}},  // temporaries stay hidden
        {"blur -", {}},
        {"rea f", {}},  // not a command
        {"help f", {}},
        {"!ls " + d, {}},
        {"read f # " + d, {}},
        {"read " + d + "sc", {d + "scene.kqc", d + "scene.tkq", d + "scenes/"}},
        {"read " + d + "scene.tkq f", {"fg", "fog"}},
        {"readyuv -s 720 486 " + d + "scenes", {d + "scenes/"}},
        {"dotfile -c .5 .5 .5 1 " + d + "x f", {"fg", "fog"}},
        {"write f", {"fg", "fog"}},
        {"writedump -rgb fg " + d + "sh", {}},
        {"write fg " + d + ".", {d + ".hidden"}},
        {"< " + d + "scene.k", {d + "scene.kqc"}},
        {"include " + d + "nowhere/x", {}},
    };
    for (const auto& c : cases) {
        const Completion got = complete_line(c.line);
        EXPECT_EQ(got.matches, c.matches) << c.line;
        if (!c.matches.empty()) {
            EXPECT_EQ(got.start, c.line.find_last_of(" ,") + 1) << c.line;
        }
    }
    clear_registry();

    // A completed command word always runs its own row.
    for (const CommandEntry* table : {command_table, plugin_table})
        for (const CommandEntry* row = table; row->handler; ++row) {
            const Completion got = complete_line(row->name);
            EXPECT_NE(std::find(got.matches.begin(), got.matches.end(), row->name),
                      got.matches.end());
            const CommandEntry* first = command_table;
            while (first->handler && !command_matches(row->name, *first)) ++first;
            if (!first->handler)
                for (first = plugin_table; !command_matches(row->name, *first);) ++first;
            EXPECT_EQ(first, row) << row->name;
        }
}

size_t occurrences(const std::string& text, const std::string& part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

// One kqc run on a pseudo-terminal as standard input, output and error: each line
// is typed once kqc has prompted for it (at once with -s), then end of input.
// Returns everything the terminal showed, carriage returns removed, and the status.
KqcRun terminal_session(const ScratchDir& dir, const std::string& home, const Words& args,
                             const Words& lines) {
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) return {-1, "no pty", ""};
    const std::string slave = ptsname(master);
    const pid_t pid = fork();
    if (pid == 0) {
        setsid();
        const int fd = open(slave.c_str(), O_RDWR);  // becomes the controlling terminal
        if (fd < 0 || chdir(dir.path().c_str()) != 0) _exit(127);
        for (int i = 0; i < 3; ++i) dup2(fd, i);
        setenv("HOME", home.c_str(), 1);
        setenv("TERM", "vt100", 1);
        std::vector<char*> argv{const_cast<char*>("kqc")};
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(KQC_PATH, argv.data());
        _exit(127);
    }
    std::string shown;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    // Reads until `done` holds, the terminal closes or the deadline passes.
    auto pump = [&](auto done) {
        while (!done() && std::chrono::steady_clock::now() < deadline) {
            pollfd p{master, POLLIN, 0};
            if (poll(&p, 1, 50) <= 0) continue;
            char buf[4096];
            const ssize_t n = read(master, buf, sizeof buf);
            if (n <= 0) return false;
            shown.append(buf, static_cast<size_t>(n));
        }
        return done();
    };
    // The next prompt is the first one after the echo of the last line's end (the
    // editor also redraws the prompt while a line is edited), and the editor is ready
    // for keys once the terminal has left line mode: the prompt can come first, and a
    // ^D typed in line mode is lost when the editor then switches.
    size_t typed_at = 0;
    auto prompted = [&] {
        const size_t end = typed_at == 0 ? 0 : shown.find('\n', typed_at);
        termios mode{};
        return end != std::string::npos && shown.find("(kqc) ", end) != std::string::npos &&
               tcgetattr(master, &mode) == 0 && !(mode.c_lflag & ICANON);
    };
    const bool silent = std::find(args.begin(), args.end(), "-s") != args.end();
    for (const std::string& line : lines) {
        if (!silent) pump(prompted);
        typed_at = shown.size();
        if (write(master, line.data(), line.size()) < 0) break;
        if (silent) usleep(100000);
    }
    if (!silent) pump(prompted);
    if (write(master, "\x04", 1) < 0) kill(pid, SIGKILL);
    pump([] { return false; });
    int status = 0;
    while (waitpid(pid, &status, WNOHANG) == 0 && std::chrono::steady_clock::now() < deadline)
        usleep(10000);
    if (waitpid(pid, &status, WNOHANG) == 0) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
    }
    close(master);
    std::erase(shown, '\r');
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, shown, ""};
}

TEST(LineEditor, TerminalSessionsAndTheSameBytesThroughAPipe) {
    if (!line_editor_built()) GTEST_SKIP() << "kqc is built without libedit";
    const int probe = posix_openpt(O_RDWR | O_NOCTTY);
    const bool have_pty = probe >= 0 && grantpt(probe) == 0 && unlockpt(probe) == 0 &&
                          access(ptsname(probe), F_OK) == 0;
    if (probe >= 0) close(probe);
    if (!have_pty) GTEST_SKIP() << "no pseudo-terminals here";
    const std::string left = "\x1b[D", up = "\x1b[A";
    const std::string create = "\tcreate\t-> create buff\n";
    const std::string read = "\tread\t-> read .tkq data to buff\n";
    const std::string tomo = "\ttomo\t-> convert to tarvel data\n";
    // In order: the history row recalls the line of the session before it.
    const struct {
        const char* what;
        Words args;
        Words lines;           // typed, one line each
        std::string shown;     // what the terminal must show ...
        size_t times;          // ... this many times
        std::string pipe_err;  // the same bytes through a pipe: standard error
        int pipe_status;
    } rows[] = {
        {"edited line", {}, {"ceate ?" + left + left + left + left + left + left + "r\n"}, create,
         1, "(kqc) (kqc) ", 0},
        {"up-arrow", {}, {"read ?\n", up + "\n"}, read, 2, "(kqc) " + read + "(kqc) (kqc) ", 0},
        {"command word", {}, {"antif\t?\n"}, "\tantiflicker\t-> antiFlicker effect\n", 1,
         "(kqc) \tantif\t-> antiFlicker effect\n(kqc) ", 0},
        {"buffer name", {}, {"create mybuffer\n", "info myb\t\n"}, "     name : mybuffer\n", 1,
         "(kqc) (kqc) WARNING : Can't find buff (name=myb)\n\aERROR : Command line execution "
         "error\nERROR : standard-in , lineNo. = 2\n      : com = \"info myb\t\"\n(kqc) ",
         0},
        {"file name", {}, {"include scr\t\n"}, tomo, 1,
         "(kqc) \aERROR : Can't open input file scr\nERROR : standard-in , lineNo. = 1\n"
         "      : com = \"include scr\t\"\n\akqc : error exit\n",
         1},
        {"history of the last session", {}, {up + "\n"}, tomo, 1, "(kqc) (kqc) ", 0},
        {"-s reads plainly", {"-s"}, {"antif\t?\n"}, "\tantif\t-> antiFlicker effect\n", 1,
         "\tantif\t-> antiFlicker effect\n", 0},
    };
    ScratchDir dir, home, pipe_home;
    write_file(dir / "scriptfile.kqc", "tomo ?\n");
    for (const auto& row : rows) {
        const KqcRun typed = terminal_session(dir, home.path().string(), row.args, row.lines);
        EXPECT_EQ(occurrences(typed.out, row.shown), row.times) << row.what << "\n" << typed.out;
        EXPECT_EQ(typed.status, 0) << row.what << "\n" << typed.out;

        std::string keys;
        for (const std::string& line : row.lines) keys += line;
        write_file(dir / "keys", keys);
        std::string args;
        for (const std::string& a : row.args) args += " " + a;
        const KqcRun piped = run_in(dir, "cat keys | HOME='" + pipe_home.path().string() + "' '" +
                                             KQC_PATH + "'" + args);
        EXPECT_EQ(piped.err, row.pipe_err) << row.what;
        EXPECT_EQ(piped.status, row.pipe_status) << row.what;
    }
    const std::string history = read_file(home / ".kqc_history");
    EXPECT_NE(history.find("include\\040scriptfile.kqc"), std::string::npos) << history;
    EXPECT_EQ(history.find("antif\\"), std::string::npos) << history;  // -s keeps none
    EXPECT_FALSE(std::filesystem::exists(pipe_home / ".kqc_history"));

    // The file keeps the last 1000 lines.
    std::string old_lines = "_HiStOrY_V2_\n";
    for (int i = 0; i < 1200; ++i) old_lines += "blist\\040" + std::to_string(i) + "\n";
    write_file(home / ".kqc_history", old_lines);
    EXPECT_EQ(terminal_session(dir, home.path().string(), {}, {"tomo ?\n"}).status, 0);
    const std::string kept = read_file(home / ".kqc_history");
    EXPECT_EQ(std::count(kept.begin(), kept.end(), '\n'), 1001);
    EXPECT_EQ(kept.find("\nblist\\040200\n"), std::string::npos);
    EXPECT_NE(kept.find("\nblist\\040201\n"), std::string::npos);
    EXPECT_TRUE(kept.ends_with("\ntomo\\040?\n")) << kept.substr(kept.size() - 40);

    // A home folder that cannot take the file costs the history, not the run.
    const KqcRun homeless =
        terminal_session(dir, (dir / "no/such/home").string(), {}, {"tomo ?\n"});
    EXPECT_EQ(homeless.status, 0);
    EXPECT_EQ(occurrences(homeless.out, tomo), 1u) << homeless.out;
}

}  // namespace
