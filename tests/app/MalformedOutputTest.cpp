// Outputs that cannot be written, full disks, signals and pipes that stall:
// a join ends with a clear message and leaves an existing output as it was.

#include "MalformedFixture.h"

namespace vantrel {
namespace {

using namespace test;

// Runs Script in a mount namespace of its own with a tmpfs at $D that claims
// Size of room, so that joins of long sparse inputs pass the free-space
// check without taking room anywhere. Empty when this machine cannot. The
// mount point goes with the script.
std::string InScratchMount(const std::string& Size, const std::string& Script)
{
    std::string Said;
    const std::string Whole =
        "D=$(mktemp -d) && trap 'umount \"$D\"; rmdir \"$D\"' EXIT && mount -t tmpfs -o size=" + Size +
        " tmpfs \"$D\" && echo mounted || exit 99\n" + Script;
    RunCommand("timeout 120 unshare -rm bash -c " + Quote(Whole), &Said);
    // Where namespaces or mounts are not allowed, nothing ran.
    return Said.rfind("mounted\n", 0) == 0 ? Said : std::string();
}

// Standard output and the program's descriptors are written through, in
// place: a file the shell truncated gets the join, one opened to append keeps
// what it held, and nothing is renamed over the file the descriptor leads to.
TEST_F(MalformedInput, DescriptorOutputsAreWrittenInPlace)
{
    const std::string Cli = std::string(VANTREL_CLI) + " join" + Files({"ff_pal.mpg", "ff_pal_b.mpg"});
    ASSERT_EQ(RunCommand(Cli + " -o " + Quote(Dir.File("ref.mpg")) + " 2>/dev/null"), 0);
    const TBytes Joined = ReadFile(Dir.File("ref.mpg"));
    const struct
    {
        const char* Name;
        std::string Script;
        std::size_t Kept; // bytes of "old\n" before the join
    } Cases[] = {
        {"stdout", Cli + " -o /dev/stdout > out", 0},
        {"dash, appending", "echo old > out; " + Cli + " -o - >> out", 4},
        {"fd 3", Cli + " -o /dev/fd/3 3> out", 0},
        {"deleted target", "exec 4> out; rm out; " + Cli + " -o /dev/fd/4; exec 4>&-; touch out", 0},
    };
    for (const auto& C : Cases) {
        std::string Said;
        EXPECT_EQ(
            RunCommand("cd " + Quote(Dir.Path()) + " && rm -f out && " + C.Script + " 2>/dev/null", &Said), 0)
            << C.Name << Said;
        const TBytes Out = ReadFile(Dir.File("out"));
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(Dir.Path()), {}), 2) << C.Name;
        if (std::string(C.Name) == "deleted target")
            continue; // the join went to the file that was deleted; none other appears
        ASSERT_EQ(Out.size(), C.Kept + Joined.size()) << C.Name;
        if (C.Kept == 0)
            EXPECT_TRUE(Out == Joined) << C.Name;
        else
            EXPECT_EQ(TBytes(Out.begin(), Out.begin() + 4), (TBytes{'o', 'l', 'd', '\n'})) << C.Name;
    }
}

// A folder that cannot take the output is named as the folder.
TEST_F(MalformedInput, AFolderThatCannotBeWrittenIsNamed)
{
    const std::string Said = InScratchMount(
        "1m", "mount -o remount,ro \"$D\" && " + std::string(VANTREL_CLI) + " join -o \"$D/out.mpeg\" " +
                  Quote(Stream("ff_pal.mpg")) + " 2>&1; echo \"status $? in $D\"");
    if (Said.empty())
        GTEST_SKIP() << "no mount namespace here";
    const std::string Folder = Said.substr(Said.rfind(" in ") + 4, Said.size() - Said.rfind(" in ") - 5);
    EXPECT_NE(Said.find("The folder " + Folder + " cannot be written: Read-only file system"),
              std::string::npos)
        << Said;
    EXPECT_NE(Said.find("status 1"), std::string::npos) << Said;
}

TEST_F(MalformedInput, AnExistingOutputSurvivesKillsAndSignals)
{
    const std::string Junk = ClipThenZeros(Dir.File("junk.mpg"), 20LL << 30);
    const std::string Join = std::string(VANTREL_CLI) + " join -o \"$D/out.mpeg\" " +
                             Quote(Stream("ff_pal.mpg")) + " " + Quote(Junk) +
                             " </dev/null 2>/dev/null & P=$!; sleep 1; ";
    const std::string Said = InScratchMount(
        "64g", "cp " + Quote(Stream("mplex_vcd.mpg")) + " \"$D/out.mpeg\"\n" + Join +
                   "kill -KILL $P; wait $P; echo killed $?; cmp \"$D/out.mpeg\" " +
                   Quote(Stream("mplex_vcd.mpg")) +
                   " && echo unchanged; ls -A \"$D\" | sed 's/-partial-.*/-partial-/'\n" + Join +
                   "kill -INT $P; wait $P; echo status $?; ls -A \"$D\"; cmp \"$D/out.mpeg\" " +
                   Quote(Stream("mplex_vcd.mpg")) + " && echo unchanged\n" + Join +
                   "kill -TERM $P; wait $P; echo status $?; ls -A \"$D\"; cmp \"$D/out.mpeg\" " +
                   Quote(Stream("mplex_vcd.mpg")) + " && echo unchanged");
    if (Said.empty())
        GTEST_SKIP() << "no mount namespace here";
    // Killed: the old output stays as it was; the partial file is named so
    // that a user recognises it.
    EXPECT_NE(Said.find("unchanged\n.out.mpeg.vantrel-partial-\nout.mpeg\n"), std::string::npos) << Said;
    // A signal is not a Cancel: the old output stays and the partial file
    // goes; the next join swept the one the killed join left.
    EXPECT_NE(Said.find("status 130\nout.mpeg\nunchanged\nstatus 143\nout.mpeg\nunchanged"),
              std::string::npos)
        << Said;
}

// A disk too small for the join, and a file-size limit: the old output
// stays, nothing partial is left, and the message says why.
TEST_F(MalformedInput, FullDisksAndFileSizeLimits)
{
    const std::string Said =
        InScratchMount("1m", "head -c 700000 /dev/zero > \"$D/out.mpeg\"; " + std::string(VANTREL_CLI) +
                                 " join -o \"$D/out.mpeg\" " + Quote(Stream("ff_pal.mpg")) + " " +
                                 Quote(Stream("ff_pal_b.mpg")) +
                                 " || echo status $?; ls -A \"$D\"; stat -c %s \"$D/out.mpeg\"");
    if (Said.empty())
        GTEST_SKIP() << "no mount namespace here";
    EXPECT_NE(Said.find("Unable to write file"), std::string::npos) << Said;
    EXPECT_NE(Said.find("No space left on device"), std::string::npos) << Said;
    EXPECT_NE(Said.find("status 1\nout.mpeg\n700000\n"), std::string::npos) << Said;

    const std::string Out = Put("out.mpeg", {1, 2, 3});
    std::string Limited;
    RunCommand("ulimit -f 100; " + std::string(VANTREL_CLI) + " join -o " + Quote(Out) +
                   Files({"ff_pal.mpg", "ff_pal_b.mpg"}),
               &Limited);
    EXPECT_NE(Limited.find("File too large"), std::string::npos) << Limited;
    EXPECT_EQ(ReadFile(Out), (TBytes{1, 2, 3}));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(Dir.Path()), {}), 1);
}

TEST_F(MalformedInput, APipeOutputClosedEarlyEndsTheJoin)
{
    std::string Said;
    RunCommand("timeout 30 bash -c " + Quote(std::string(VANTREL_CLI) + " join -o /dev/stdout" +
                                             Files({"mplex_vcd_b.mpg", "mplex_vcd.mpg", "mplex_vcd_b.mpg"}) +
                                             " | head -c 1000 >/dev/null; echo status ${PIPESTATUS[0]}"),
               &Said);
    EXPECT_NE(Said.find("Broken pipe"), std::string::npos) << Said;
    EXPECT_NE(Said.find("status 1"), std::string::npos) << Said;
}

// A pipe whose reader holds it open and never reads: the first Ctrl-C stops
// the join, and a second one while it stops changes nothing.
TEST_F(MalformedInput, CtrlCEndsAJoinIntoAStalledPipe)
{
    const std::string Fifo = Dir.File("stalled");
    for (const char* Signals : {"kill -INT $P", "kill -INT $P; sleep 0.05; kill -INT $P 2>/dev/null"}) {
        std::string Said;
        RunCommand("timeout 30 bash -c " +
                       Quote("mkfifo " + Quote(Fifo) + "; exec 4<>" + Quote(Fifo) + "; " + VANTREL_CLI +
                             " join -o " + Quote(Fifo) + Files({"ff_pal.mpg", "ff_pal_b.mpg", "ff_pal.mpg"}) +
                             " 2>/dev/null & P=$!; sleep 1; " + Signals +
                             "; for i in $(seq 20); do kill -0 $P 2>/dev/null || break; sleep 0.05; done; "
                             "kill -0 $P 2>/dev/null && echo still running; wait $P; echo status $?; rm " +
                             Quote(Fifo)),
                   &Said);
        EXPECT_EQ(Said, "status 130\n") << Signals;
    }
}

// Names are opened as given: a working folder deeper than PATH_MAX still works.
TEST_F(MalformedInput, RelativeNamesInADeepFolder)
{
    const std::string Script = "cd " + Quote(Dir.Path()) +
                               " && C=$(printf 'd%.0s' $(seq 200)) && "
                               "for i in $(seq 25); do mkdir $C && cd -P $C || exit 9; done && "
                               "cat " +
                               Quote(Stream("ff_pal.mpg")) + " > a.mpg && " + VANTREL_CLI +
                               " info a.mpg && " + VANTREL_CLI + " join -o out.mpg a.mpg a.mpg && " +
                               VANTREL_CLI + " info out.mpg; S=$?; cd " + Quote(Dir.Path()) +
                               " && rm -rf d*; exit $S";
    std::string Said;
    EXPECT_EQ(RunCommand("bash -c " + Quote(Script), &Said), 0) << Said;
    EXPECT_NE(Said.find("out.mpg\n  352 x 288  25.00 fps  OK  system stream  0:00:04"), std::string::npos)
        << Said;
}

} // namespace
} // namespace vantrel
