// A join that fails, stops or meets an output in its way leaves the inputs
// and any earlier output as they were.
#include "JoinerFixture.h"
#include "io/SysUtils.h"
#include "join/ElementaryPass.h"
#include "join/ProgramStreamPass.h"

#include "StreamChecks.h"
#include "io/InputFile.h"
#include "mpeg/StartCodes.h"
#include "mpeg/TimeStamps.h"
#include "mpeg/ps/PackSyntax.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <optional>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vantrel {
namespace {

using namespace test;

TEST_F(JoinerTest, InputThatShrinksDuringItsWalkFailsAndLeavesNoOutput)
{
    TBytes File = PackHeader(0, 1);
    for (int I = 0; I < 200; ++I)
        File = Concat({File, PESPacket(0xE0, {0x0F}, Filled(2000, static_cast<std::uint8_t>(I)))});
    const std::string Name = Input("a.mpg", File);
    WriteFile(Dir.File("out.mpg"), {1, 2, 3});
    // Cut the file to 100000 bytes at the tenth poll, while its window holds
    // the first 128 KiB.
    struct TShrinker : TLoggingProgress
    {
        TShrinker(TProgressLog& Log, std::string Victim) : TLoggingProgress(Log), m_Victim(std::move(Victim))
        {
        }
        bool IsCancelled() override
        {
            if (++m_Polls == 10) {
                EXPECT_EQ(::truncate(m_Victim.c_str(), 100000), 0);
            }
            return false;
        }
        std::string m_Victim;
        int m_Polls = 0;
    };
    Joiner.Inputs = MeasuredInputs({Name});
    Joiner.OutputFileName = Dir.File("out.mpg");
    Joiner.FrameRate = 25;
    Joiner.CreateProgress = [&] { return std::make_unique<TShrinker>(Log, Name); };
    try {
        Joiner.Execute();
        FAIL() << "no exception";
    } catch (const Exception& E) {
        EXPECT_EQ(E.what(),
                  "Unable to read file " + Name + "\r\nThe file is shorter than when it was opened.");
    }
    // What stood at the output's name is untouched, and no partial file is left.
    EXPECT_EQ(Output(), (TBytes{1, 2, 3}));
    EXPECT_EQ(FilesIn(Dir.Path()), (std::vector<std::string>{"a.mpg", "out.mpg"}));
}

TEST_F(JoinerTest, InputsThatCannotBeOpened)
{
    EXPECT_EQ(JoinFiles({Dir.File("gone1"), Dir.File("gone2")}, true),
              "Cannot open file " + Dir.File("gone1") + "\r\nNo such file or directory");
    EXPECT_FALSE(FileExists(Dir.File("out.mpg")));
}

TEST_F(JoinerTest, FrameRateZeroFailsBeforeTheOutputExists)
{
    Joiner.FrameRate = 0;
    Joiner.Inputs = MeasuredInputs({Input("a.mpg", FileA)});
    Joiner.OutputFileName = Dir.File("out.mpg");
    try {
        Joiner.Execute();
        FAIL();
    } catch (const Exception& E) {
        EXPECT_STREQ(E.what(), "Floating point division by zero");
    }
    EXPECT_FALSE(FileExists(Dir.File("out.mpg")));
}

TEST_F(JoinerTest, OutputThatIsAnInputIsRefusedAndTheInputKept)
{
    const std::string A = Input("a.mpg", FileA);
    ASSERT_EQ(::mkdir(Dir.File("sub").c_str(), 0755), 0);
    ASSERT_EQ(::symlink(A.c_str(), Dir.File("link.mpg").c_str()), 0);
    ASSERT_EQ(::link(A.c_str(), Dir.File("hard.mpg").c_str()), 0);
    for (const std::string& Output :
         {A, Dir.File("sub/../a.mpg"), Dir.File("link.mpg"), Dir.File("hard.mpg")}) {
        EXPECT_EQ(JoinFiles({Input("b.mpg", FileB), A}, true, false, Output),
                  "The output file cannot be one of the input files.")
            << Output;
        EXPECT_EQ(ReadFile(A), FileA);
    }
}

TEST_F(JoinerTest, OutputErrorsCarryTheirReason)
{
    EXPECT_EQ(JoinFiles({Input("a.mpg", FileA)}, true, false, "/dev/full"),
              "Unable to write file /dev/full\r\nNo space left on device");
    EXPECT_EQ(JoinFiles({Input("a.mpg", FileA)}, true, false, Dir.File("no/such/folder/out.mpg")),
              "Cannot create file " + Dir.File("no/such/folder/out.mpg") + "\r\nNo such file or directory");
    EXPECT_EQ(JoinFiles({Input("a.mpg", FileA)}, true, false, Dir.Path()),
              "Cannot create file " + Dir.Path() + "\r\nIs a directory");
}

// The output is written beside its name and takes it only when the join is
// done: a full disk, a read error or a cancel each leave a known state.
TEST_F(JoinerTest, AnExistingOutputIsReplacedOnlyBySuccess)
{
    const std::string Out = Dir.File("out.mpg");
    WriteFile(Out, {9, 9, 9});
    ASSERT_EQ(::chmod(Out.c_str(), 0640), 0);
    const std::string A = Input("a.mpg", FileA), B = Input("b.mpg", FileB);

    // The disk fills up after 40 bytes.
    Joiner.CreateOutput = [](const std::string& Name) { return std::make_unique<TFullDiskOutput>(Name, 40); };
    EXPECT_EQ(JoinFiles({A, B}, true), "Unable to write file " + Out + "\r\nNo space left on device");
    EXPECT_EQ(ReadFile(Out), (TBytes{9, 9, 9}));
    EXPECT_EQ(FilesIn(Dir.Path()), (std::vector<std::string>{"a.mpg", "b.mpg", "out.mpg"}));
    Joiner.CreateOutput = {};

    // Cancelled: what was joined so far takes the name.
    Log = {};
    Log.CancelAtPoll = 6;
    EXPECT_EQ(JoinFiles({A, B}, false), "");
    EXPECT_EQ(Output(), Concat({APack, ASystem}));
    Log = {};
    EXPECT_EQ(JoinFiles({A, B}, false), "");
    EXPECT_EQ(Output().size(), FileA.size() + FileB.size());
    struct stat St
    {
    };
    ASSERT_EQ(::stat(Out.c_str(), &St), 0);
    EXPECT_EQ(St.st_mode & 0777, 0640u); // the replaced file's permissions stay
    EXPECT_EQ(FilesIn(Dir.Path()), (std::vector<std::string>{"a.mpg", "b.mpg", "out.mpg"}));
}

// An input is trusted while it keeps its identity: one that changed since
// its probe is probed again, and one that changes while it is joined fails
// the join; the output stays as it was either way.
TEST_F(JoinerTest, InputsThatChangeRefuseTheJoin)
{
    const std::string A = Input("a.mpg", FileA), V = Input("v.m1v", {0, 0, 1, 0xB3, 0x16, 0x01, 0x20, 0x13});
    const TInputRecord Elementary = ProbeInput(V, false);
    TInputRecord Changed = Elementary;
    Changed.FileName = A; // an elementary stream when it was added
    Joiner.Inputs = {Elementary, Changed};
    Joiner.OutputFileName = Dir.File("out.mpg");
    Joiner.FrameRate = 25;
    Joiner.VideoOnly = true;
    try {
        Joiner.Execute();
        FAIL() << "no exception";
    } catch (const TInputChanged& E) {
        EXPECT_EQ(E.Index, 1u);
        EXPECT_EQ(E.what(), "The file " + A + " has changed since it was added.");
    }
    EXPECT_FALSE(FileExists(Dir.File("out.mpg")));

    // Touched but the same: probed again and joined as it is now.
    const TBytes Longer = {0, 0, 1, 0xB3, 0x16, 0x01, 0x20, 0x13, 0, 0, 1, 0xB8, 7};
    WriteFile(V, Longer);
    Joiner.Inputs = {Elementary};
    Joiner.Execute();
    EXPECT_EQ(Output(), Longer);

    // Rewritten while it is read: the join fails and the output stays.
    struct TWriter : TLoggingProgress
    {
        using TLoggingProgress::TLoggingProgress;
        std::string Victim;
        bool IsCancelled() override
        {
            WriteFile(Victim, Filled(9000, 1));
            return false;
        }
    };
    const std::string Big = Input("big.m1v", Concat({Longer, Filled(300000, 7)}));
    Joiner.Inputs = {ProbeInput(Big, false)};
    Joiner.CreateProgress = [&] {
        auto Sink = std::make_unique<TWriter>(Log);
        Sink->Victim = Big;
        return Sink;
    };
    try {
        Joiner.Execute();
        FAIL() << "no exception";
    } catch (const TInputChanged& E) {
        EXPECT_EQ(E.what(), "The file " + Big + " changed while it was being joined.");
    }
    EXPECT_EQ(Output(), Longer);
}

// A read error in a copied input ends the join with the file's name, as it
// does in a system stream; a file that grows is read up to its size when the
// join began.
TEST_F(JoinerTest, CopiedInputsFailOrStopLikeSystemStreams)
{
    const TBytes Data = Filled(300000, 7);
    const std::string A = Input("a.m1v", Data);
    // The disk fails from the second read window on.
    Joiner.OpenInput = [&](const TInputRecord& Record) {
        return std::make_unique<TInputFile>(
            Record.FileName, std::make_unique<TFailingSource>(Record.FileName, Data, 128 * 1024),
            Record.Identity);
    };
    EXPECT_EQ(JoinFiles({A}, false), "Unable to read file " + A + "\r\nInput/output error");
    EXPECT_FALSE(FileExists(Dir.File("out.mpg")));
    Joiner.OpenInput = {};

    struct TGrower : TLoggingProgress
    {
        using TLoggingProgress::TLoggingProgress;
        std::string Victim;
        bool IsCancelled() override
        {
            std::FILE* File = std::fopen(Victim.c_str(), "ab");
            std::fwrite("more", 1, 4, File);
            std::fclose(File);
            return false;
        }
    };
    Joiner.Inputs = MeasuredInputs({A});
    Joiner.OutputFileName = Dir.File("out.mpg");
    Joiner.CreateProgress = [&] {
        auto Sink = std::make_unique<TGrower>(Log);
        Sink->Victim = A;
        return Sink;
    };
    // A file that grows while it is joined is still being written: what the
    // join read of it may be half a picture, so the join fails.
    EXPECT_THROW(Joiner.Execute(), TInputChanged);
    EXPECT_FALSE(FileExists(Dir.File("out.mpg")));
}

// Outputs that stand in the way: a read-only file is left as it is and named;
// a link is written through, to its target; a replaced file keeps its owner
// and its permissions.
TEST_F(JoinerTest, OutputsThatStandInTheWay)
{
    const std::string A = Input("a.mpg", FileA);
    const std::string ReadOnly = Input("ro.mpg", {1, 2, 3});
    ASSERT_EQ(::chmod(ReadOnly.c_str(), 0444), 0);
    EXPECT_EQ(JoinFiles({A}, false, false, ReadOnly), ReadOnly + " is write-protected.");
    EXPECT_EQ(ReadFile(ReadOnly), (TBytes{1, 2, 3}));

    const std::string Target = Input("target.mpg", {4, 5}), Link = Dir.File("link.mpg");
    ASSERT_EQ(::symlink(Target.c_str(), Link.c_str()), 0);
    EXPECT_EQ(JoinFiles({A}, false, false, Link), "");
    EXPECT_EQ(ReadFile(Target), FileA);
    struct stat St
    {
    };
    ASSERT_EQ(::lstat(Link.c_str(), &St), 0);
    EXPECT_TRUE(S_ISLNK(St.st_mode));

    const std::string Owned = Input("owned.mpg", {6});
    const bool CanGive = ::chown(Owned.c_str(), 1234, 1234) == 0; // only root can give a file away
    ASSERT_EQ(::chmod(Owned.c_str(), 0604), 0);
    EXPECT_EQ(JoinFiles({A}, false, false, Owned), "");
    ASSERT_EQ(::stat(Owned.c_str(), &St), 0);
    EXPECT_EQ(St.st_mode & 0777, 0604u);
    if (CanGive) {
        EXPECT_EQ(St.st_uid, 1234u);
    }
    EXPECT_EQ(ReadFile(Owned), FileA);
}

// Partial files that a killed join left are swept by the next join to that
// name; one that a running join holds (locked) is not, nor another name's.
TEST_F(JoinerTest, LeftOverPartialFilesAreSweptUnlessHeld)
{
    const std::string A = Input("a.mpg", FileA), Out = Dir.File("out.mpg");
    const std::string Left = Dir.File(".out.mpg.vantrel-partial-abc123"),
                      Held = Dir.File(".out.mpg.vantrel-partial-xyz789"),
                      Other = Dir.File(".b.mpg.vantrel-partial-abc123");
    for (const std::string& Name : {Left, Held, Other})
        WriteFile(Name, Filled(100, 1));
    const TFileHandle Holder(::open(Held.c_str(), O_RDONLY | O_CLOEXEC));
    ASSERT_EQ(::flock(Holder.Get(), LOCK_EX | LOCK_NB), 0);
    EXPECT_EQ(JoinFiles({A}, false), "");
    EXPECT_EQ(FilesIn(Dir.Path()),
              (std::vector<std::string>{".b.mpg.vantrel-partial-abc123", ".out.mpg.vantrel-partial-xyz789",
                                        "a.mpg", "out.mpg"}));
}

// A disk that interrupts every write (slow network mounts do): the join
// neither spins for ever nor ignores a stop asked meanwhile.
TEST_F(JoinerTest, AWriteInterruptedForEverEndsTheJoin)
{
    // Every write is interrupted; Calls counts them, beyond the output's life.
    static int Calls;
    struct TInterrupted : TOutputFile
    {
        using TOutputFile::TOutputFile;
        ssize_t WriteSome(const void*, std::size_t) override
        {
            ++Calls;
            errno = EINTR;
            return -1;
        }
    };
    const std::string A = Input("a.mpg", FileA);
    Joiner.CreateOutput = [](const std::string& Name) { return std::make_unique<TInterrupted>(Name); };
    EXPECT_EQ(JoinFiles({A}, false),
              "Unable to write file " + Dir.File("out.mpg") + "\r\nInterrupted system call");
    EXPECT_FALSE(FileExists(Dir.File("out.mpg")));
    // A stop asked while it retries: the next retry gives up, as a Cancel.
    struct TStopAtThirdWrite : TLoggingProgress
    {
        using TLoggingProgress::TLoggingProgress;
        bool IsCancelled() override { return Calls >= 3; }
    };
    Calls = 0;
    Joiner.CreateProgress = [&] { return std::make_unique<TStopAtThirdWrite>(Log); };
    Joiner.Execute();
    EXPECT_TRUE(Joiner.Cancelled());
    EXPECT_EQ(Calls, 3);
    EXPECT_FALSE(FileExists(Dir.File("out.mpg")));
}

} // namespace
} // namespace vantrel
