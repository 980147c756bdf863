// The command-line tool against an unlucky or a hostile user: a signal at
// the last moment of a join, standard error as the output, names that would
// drive the terminal.
#include "TestSupport.h"

#include <gtest/gtest.h>

namespace vantrel {
namespace {

using namespace test;

const std::string Cli = VANTREL_CLI;

// A signal that comes while the output is synced, before it takes the name,
// stops the join as at any other moment: the old output stays and the exit
// status says which signal. strace holds every fsync for two seconds; the
// signal is sent a moment after the partial output appears, when the join
// of two small files is in its sync (the leak checker of a sanitizer build,
// which cannot work under strace, stays out).
TEST(HostileCli, ASignalDuringTheFinalSyncKeepsTheOldOutput)
{
    if (RunCommand("strace -o /dev/null -e trace=fsync -e inject=fsync:delay_enter=1 true") != 0)
        GTEST_SKIP() << "no strace that can delay a system call here";
    const TTempDir Dir;
    const std::string Out = Dir.File("out.mpeg"), Old = Stream("mplex_vcd.mpg");
    std::string Said;
    RunCommand("cp " + Quote(Old) + " " + Quote(Out) +
                   "; ASAN_OPTIONS=detect_leaks=0 strace -o /dev/null -e trace=fsync -e "
                   "inject=fsync:delay_enter=2s " +
                   Cli + " join -o " + Quote(Out) + " " + Quote(Stream("ff_pal.mpg")) + " " +
                   Quote(Stream("ff_pal_b.mpg")) +
                   // The signal comes while the join waits in fsync (its number
                   // on x86-64 and on ARM64), however long a busy machine takes
                   // to get there, in any of its threads; the join is the child
                   // of strace that does.
                   " </dev/null & S=$!; case $(uname -m) in aarch64) N=82;; *) N=74;; esac; "
                   "for i in $(seq 1000); do for C in $(pgrep -P $S); do "
                   "grep -qs \"^$N \" /proc/$C/task/*/syscall && P=$C && break 2; done; "
                   "sleep 0.02; done; kill -TERM $P; wait $S; echo "
                   "status $?; ls -A " +
                   Quote(Dir.Path()) + "; cmp " + Quote(Out) + " " + Quote(Old) + " && echo unchanged",
               &Said);
    EXPECT_NE(Said.find("out.mpeg was not replaced.\nstatus 143\nout.mpeg\nunchanged\n"), std::string::npos)
        << Said;
}

// Standard error as the output: the stream is what any other descriptor
// gets, and no message of the join lands in it, not even where standard
// output and error are one (-o - 2>&1).
TEST(HostileCli, StandardErrorAsTheOutputGetsNoMessages)
{
    const TTempDir Dir;
    const std::string Join = "cd " + Quote(Dir.Path()) + " && " + Cli + " join " +
                             Quote(Stream("ff_pal.mpg")) + " " + Quote(Stream("ff_pal_b.mpg")) + " " +
                             Quote(Stream("ff_pal.mpg"));
    ASSERT_EQ(RunCommand(Join + " -o /dev/fd/3 3>ref 2>/dev/null"), 0);
    const TBytes Reference = ReadFile(Dir.File("ref"));
    for (const char* Redirect : {" -o /dev/stderr 2>out", " -o /dev/fd/2 2>out", " -o - >out 2>&1"}) {
        EXPECT_EQ(RunCommand(Join + Redirect), 0) << Redirect;
        EXPECT_TRUE(ReadFile(Dir.File("out")) == Reference) << Redirect;
    }
    // A failure says nothing either, and the status tells.
    EXPECT_EQ(RunCommand(Join + " /nonexistent.mpg -o /dev/stderr 2>out"), 1);
    EXPECT_TRUE(ReadFile(Dir.File("out")).empty());
}

// A name holding an escape sequence, a carriage return, a backslash or a
// byte that is not UTF-8 is shown escaped, as ls -b shows it; nothing in it
// reaches the terminal as a control.
TEST(HostileCli, NamesThatWouldDriveTheTerminalAreShownEscaped)
{
    const TTempDir Dir;
    const std::string Name = "clip\033[2J\r\\\xff\xc2\x85.mpg";
    ASSERT_EQ(RunCommand("cp " + Quote(Stream("ff_pal.mpg")) + " " + Quote(Dir.File(Name))), 0);
    std::string Said;
    EXPECT_EQ(RunCommand("cd " + Quote(Dir.Path()) + " && " + Cli + " info " + Quote(Name) + " " +
                             Quote("gone\033]0;title\007.mpg"),
                         &Said),
              1);
    EXPECT_EQ(Said.substr(0, Said.find('\n')), "clip\\033[2J\\r\\\\\\377\\302\\205.mpg");
    EXPECT_NE(Said.find("\ngone\\033]0;title\\a.mpg\n  Cannot open file gone\\033]0;title\\a.mpg"),
              std::string::npos)
        << Said;
    EXPECT_EQ(Said.find_first_of("\033\r\a"), std::string::npos) << Said;
}

} // namespace
} // namespace vantrel
