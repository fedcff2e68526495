// Script tests of the interpreter: command line, script reading and cleaning,
// includes, dispatch and help, error reports and fatal exits.
#include <gtest/gtest.h>

#include <string>

#include "tests/kqc_runner.h"

namespace {

const std::string kFatal = "\akqc : error exit\n";

std::string usage_of_kqc() {
    return "Usage : kqc [-options] inFile\n"
           "  or  : kqc [-options] < infile\n"
           "        inFile : kqc script\n"
           " Work : composite picture data\n"
           "[Options]\n"
           " -s : silent mode\n"
           " -m : msg output mode\n"
           " -v : verbose mode\n"
           " -t : measure lap time of each command\n";
}

TEST(CommandLine, SingleWordFormsAndUsage) {
    auto r = run_kqc("", {"-ver"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "kqc : Version 1.12 ( Jun/25/94 ) Author the kq team\n");

    for (const char* w : {"-", "-h", "-H"}) {
        r = run_kqc("", {w});
        EXPECT_EQ(r.status, 0) << w;
        EXPECT_EQ(r.err, usage_of_kqc()) << w;
    }

    r = run_kqc("", {"-info"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err.rfind("program = kqc\n  Version        : 1.12 (Jun/25/94) Author the kq team\n"
                          "  CompileDate    : ",
                          0),
              0u);
    EXPECT_NE(r.err.find("  CompileUser    : "), std::string::npos);
    EXPECT_NE(r.err.find("module = libkq\n  InitialVersion : ver 1.00"), std::string::npos);
    EXPECT_NE(r.err.find("  Version        : ver 3.01 Jul/16/96\n"), std::string::npos);
    // The processor is the one the program was built for, also in a cross build.
#if defined(__aarch64__)
    const char* const processor = " aarch64\n";
#elif defined(__x86_64__)
    const char* const processor = " x86_64\n";
#else
    const char* const processor = "\n";
#endif
    const size_t os = r.err.find("  CompileOS      : ");
    ASSERT_NE(os, std::string::npos);
    const std::string os_line = r.err.substr(os, r.err.find('\n', os) + 1 - os);
    EXPECT_TRUE(os_line.ends_with(processor)) << os_line;
}

TEST(CommandLine, FatalArgumentErrors) {
    ScratchDir dir;
    write_file(dir / "a.kqc", "");
    write_file(dir / "b.kqc", "");
    auto r = run_kqc_in(dir, "", {"a.kqc", "b.kqc"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "ERROR : Invalid argment b.kqc\n" + kFatal);

    // With more than one argument the single-word forms are ordinary, invalid options.
    r = run_kqc_in(dir, "", {"-ver", "a.kqc"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "ERROR : Invalid options -ver\n" + kFatal);
    r = run_kqc_in(dir, "", {"a.kqc", "-x"});
    EXPECT_EQ(r.err, "ERROR : Invalid options -x\n" + kFatal);

    r = run_kqc_in(dir, "", {"missing.kqc"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "\aERROR : Can't open input file missing.kqc\n" + kFatal);
    std::filesystem::create_directory(dir / "folder");
    r = run_kqc_in(dir, "", {"folder"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "\aERROR : Can't open input file folder\n" + kFatal);
}

TEST(CommandLine, OptionDumpAndRepeatedOptions) {
    auto r = run_kqc("\n", {"-v", "-s", "-s"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err,
              "\n======== option dump ========\n"
              "  in file : t.kqc\n"
              "       -s : on\n"
              "       -m : off\n"
              "       -v : on\n"
              "       -t : off\n\n");
    r = run_kqc("", {"-m"}, "");  // no script name: standard input, with prompt
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "(kqc) ");
}

TEST(ScriptReader, StandardInputPromptsAndReports) {
    // Every read attempt prompts, blank lines and end of input included.
    auto r = run_kqc("", {}, "\n# note\nquit now\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err,
              "(kqc) (kqc) (kqc) ERROR : Invalid argment\nUsage : quit\n"
              "\aERROR : Command line execution error\n"
              "ERROR : standard-in , lineNo. = 3\n      : com = \"quit now\"\n(kqc) ");
    // "STDIN" names standard input too; -s silences the prompt.
    r = run_kqc("", {"-s", "STDIN"}, "dispose x\n");
    EXPECT_EQ(r.err,
              "WARNING : Can't find buff (name=x)\n\aERROR : Command line execution error\n"
              "ERROR : standard-in , lineNo. = 1\n      : com = \"dispose x\"\n");
}

TEST(ScriptReader, CleaningCommentsCommasAndLineNumbers) {
    // Comment-only and comma-only lines count but never run; commas and tabs split
    // words; a '#' ends the command.
    auto r = run_kqc("# head\n,,,\n\t\ncreate\ta,-c,3 # comment\ninfo a # x\ndispose b,c\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err,
              "==== buffer information ===\n     name : a\n   kqName : \n   origin : 0 0\n"
              "     size : 640 480\n   window : 0 0 .. 639 479\nconponent : 3\n"
              "ERROR : Invalid argment count\nUsage : dispose buffName\n" +
                  exec_error(6, "dispose b,c"));
    // A carriage return is an ordinary character: "a\r" is another name.
    r = run_kqc("create a\r\ninfo a\n");
    EXPECT_EQ(r.err, "WARNING : Can't find buff (name=a)\n" + exec_error(2, "info a"));
}

TEST(ScriptReader, BangRunsTheCleanedLine) {
    auto r = run_kqc("!echo a,b   c\t#d\n!printf '%s' x\n! \n");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "a b c\nx");
    EXPECT_EQ(r.err, "");
}

TEST(ScriptReader, LongLinesAreReadInChunks) {
    // 1023 characters per chunk, each counted as a line of its own.
    std::string tail = "dispose zz";
    std::string line = std::string(1023 - 1, ' ') + "x" + tail + "\n";
    auto r = run_kqc(line + "dispose y\n");
    EXPECT_EQ(r.err, "WARNING : Can't find buff (name=zz)\n" + exec_error(2, tail) +
                         "WARNING : Can't find buff (name=y)\n" + exec_error(3, "dispose y"));

    // A '#' in an earlier chunk makes the rest of that physical line comment.
    line = "#" + std::string(1022, 'c') + tail + "\ndispose y\n";
    r = run_kqc(line);
    EXPECT_EQ(r.err, "WARNING : Can't find buff (name=y)\n" + exec_error(3, "dispose y"));

    // A '!' on a line too full to take the inserted space is fatal.
    r = run_kqc("!" + std::string(1022, 'x'));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "ERROR : Too long command line\nbang operation faild\n" + kFatal);

    // A NUL byte ends the line: what follows is never seen, so such a full line
    // with a '!' after the NUL is harmless, and "\0 x" is a blank line (no lap time).
    const std::string nul(1, '\0');
    r = run_kqc(" " + nul + std::string(1021, '!') + nul + " x\ndispose a" + nul + "b\n",
                {"-s", "-t"});
    EXPECT_EQ(r.status, 0);
    const std::string report = "WARNING : Can't find buff (name=a)\n" + exec_error(3, "dispose a");
    ASSERT_EQ(r.err.rfind(report + "LAPTIME : ", 0), 0u);
    EXPECT_EQ(r.err.find("LAPTIME"), r.err.rfind("LAPTIME"));
}

TEST(ScriptReader, WordLimit) {
    std::string words = "blist";
    for (int i = 0; i < 30; ++i) words += " w";
    auto r = run_kqc(words + "\n");  // 31 words: dispatched (blist refuses the arguments)
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "ERROR : Invalid argment\nUsage : blist\n" + exec_error(1, words));
    r = run_kqc(words + " w\nblist\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "\aERROR : argment count overflow (max=32)\nERROR : file = t.kqc, lineNo. = 1\n"
                     "      : com = \"" + words + " w\"\n" + kFatal);
}

TEST(Include, ContextLineNumbersAndQuit) {
    ScratchDir dir;
    write_file(dir / "inc.kqc", "\n\n\n\ndispose a\nquit\ndispose never\n");
    auto r = run_kqc_in(dir, "create a\ninclude inc.kqc\n\ndispose b\n", {"-s", "-v"});
    EXPECT_EQ(r.status, 0);
    // quit inside the include ends every level: "dispose b" never runs.
    EXPECT_EQ(r.err.substr(r.err.find("include")),
              "include inc.kqc\ninclude inc.kqc finish\n");

    write_file(dir / "inc.kqc", "dispose q\n");
    r = run_kqc_in(dir, "< inc.kqc\n\ndispose b\n");
    EXPECT_EQ(r.err, "WARNING : Can't find buff (name=q)\n" + exec_error(1, "dispose q", "inc.kqc") +
                         "WARNING : Can't find buff (name=b)\n" + exec_error(3, "dispose b"));

    r = run_kqc_in(dir, "\ninc nothere.kqc\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "\aERROR : Can't open input file nothere.kqc\nERROR : file = t.kqc, lineNo. = 2\n"
                     "      : com = \"inc nothere.kqc\"\n" + kFatal);

    // An included "STDIN" prompts (the top level is a file) and counts its own lines.
    r = run_kqc_in(dir, "include STDIN\ndispose q\n", {}, "\ndispose x\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "(kqc) (kqc) WARNING : Can't find buff (name=x)\n\aERROR : Command line "
                     "execution error\nERROR : standard-in , lineNo. = 2\n      : com = \"dispose x\"\n"
                     "(kqc) WARNING : Can't find buff (name=q)\n" + exec_error(2, "dispose q"));

    r = run_kqc_in(dir, "include\n");
    EXPECT_EQ(r.err, "ERROR : Invalid argment count\nUsage : include SCRIPTNAME\n" +
                         exec_error(1, "include"));
}

TEST(Include, FiftyScriptsDeep) {
    // A script that includes itself: the 50th open script cannot include again.
    ScratchDir dir;
    write_file(dir / "self.kqc", "include self.kqc\n");
    auto r = run_kqc_in(dir, "", {"-s", "self.kqc"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "\aERROR : Too many include file\nERROR : file = self.kqc, lineNo. = 1\n"
                     "      : com = \"include self.kqc\"\n" + kFatal);
}

TEST(Dispatch, AbbreviationsAndUnknownWords) {
    // plux needs the exact name of plus: silently ignored. dispos selects dispose,
    // rea selects nothing, q alone ends the run.
    auto r = run_kqc("plux a b x\nrea a b\ndispos x\nq\ndispose y\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "WARNING : Can't find buff (name=x)\n" + exec_error(3, "dispos x"));
    // "he" and "helpme" select help; "in" is the composite, "inc" include, "info" info.
    r = run_kqc("helpme ?\nin ?\ninc ?\ninfo ?\nquiet\ninfo ?\n");
    EXPECT_EQ(r.err,
              "\thelpme\t-> command help\n\tin\t-> in composite\n"
              "\tinc\t-> include kqc script file\n\tinfo\t-> info buff\n");
}

TEST(Dispatch, HelpListsEveryCommand) {
    auto r = run_kqc("help\n");
    EXPECT_EQ(r.status, 0);
    int lines = 0;
    for (char c : r.err) lines += c == '\n';
    EXPECT_EQ(lines, 55 + 2 + 1);
    EXPECT_EQ(r.err.rfind("\t!\t-> execute unix command\n\t<\t-> include kqc script file\n"
                          "\t?\t-> command help\n\tadjustcol\t-> adjust color\n",
                          0),
              0u);
    EXPECT_NE(r.err.find("\tread\t-> read .tkq data to buff\n"), std::string::npos);
    EXPECT_NE(r.err.find("\twrite\t-> write .tkq data\n"), std::string::npos);
    EXPECT_TRUE(r.err.ends_with("\txor\t-> xor composite\n\n\t=== plug in command ===\n"
                                "\tchex\t-> generate checker pattern\n"));
    r = run_kqc("help x\n");
    EXPECT_EQ(r.err, "ERROR : Invalid argment\nUsage : help\n" + exec_error(1, "help x"));
}

TEST(Dispatch, LapTimes) {
    auto r = run_kqc("blist # list\n", {"-s", "-t"});
    EXPECT_EQ(r.status, 0);
    const std::string head = " id | buff-name : c :  buff-size\n----+-----------+---+-------------\n";
    ASSERT_EQ(r.err.rfind(head + "LAPTIME : ", 0), 0u);
    EXPECT_EQ(r.err.substr(r.err.size() - 21), " msec : blist # list\n");
    EXPECT_EQ(r.err.size(), head.size() + 10 + 10 + 21);
}

TEST(Chex, PatternAcrossZeroAndRefusals) {
    // Tile 0 spans -9..9: columns -19..-10 and 10..19 differ in row tile 1.
    ScratchDir dir;
    auto r = run_kqc_in(dir,
                        "create a -s -20 -20 40 40 -c 1\nchex a -c0 1 0 0 0 -c1 0.5 0 0 0\n"
                        "chex a -s 0 4\nchex\nchex a b\nchex a -s 1\nchex nosuch\n");
    EXPECT_EQ(r.status, 0);
    const std::string usage =
        "Usage : chex [-options] inBuffName\n[options]\n -c0 r g b a : color #0 set\n"
        " -c1 r g b a : color #1 set\n -s x y : tile size\n[Default]\n -c0 1 1 1 1\n"
        " -c1 0 0 0 0\n -s 10 10\n";
    EXPECT_EQ(r.err,
              "ERROR : tile size must be positive : -s\n" + usage + exec_error(3, "chex a -s 0 4") +
                  "ERROR : You must define buffer name\n" + usage + exec_error(4, "chex") +
                  "ERROR : Invalid argment\n" + usage + exec_error(5, "chex a b") +
                  "ERROR : -s need 2 argment(s)\n" + usage + exec_error(6, "chex a -s 1") +
                  "WARNING : Can't find buff (name=nosuch)\n" + exec_error(7, "chex nosuch"));
}

}  // namespace
