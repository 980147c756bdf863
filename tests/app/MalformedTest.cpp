// What people feed a joiner: half-downloaded clips, junk, MPEG-2 files, huge
// files, files that change underneath, outputs that cannot be written. Each
// must end in a clear message or a valid output, never a crash, a hang or a
// changed input.
#include "JoinSupport.h"
#include "io/SysUtils.h"
#include "join/Joiner.h"

#include "StreamChecks.h"
#include "TestSupport.h"

#include <chrono>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <random>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace vantrel {
namespace {

using namespace test;

struct TRun
{
    int Status;
    std::string Said;
};

TRun Cli(const std::string& Arguments)
{
    TRun Run;
    // A hang is a failure too: no case here takes more than a few seconds.
    Run.Status =
        RunCommand("timeout 120 " + std::string(VANTREL_CLI) + " " + Arguments + " </dev/null", &Run.Said);
    return Run;
}

// A hash of the whole file, eight bytes a step: inputs may be gigabytes.
std::uint64_t Digest(const std::string& Name)
{
    std::ifstream File(Name, std::ios::binary);
    std::uint64_t Hash = 1469598103934665603ULL;
    std::vector<std::uint64_t> Block(1 << 17);
    std::streamsize N;
    while (File.read(reinterpret_cast<char*>(Block.data()), static_cast<std::streamsize>(Block.size() * 8)),
           (N = File.gcount()) > 0) {
        Block.resize(static_cast<std::size_t>(N + 7) / 8); // a short last block keeps zeros after its end
        for (std::uint64_t Word : Block)
            Hash = (Hash ^ Word) * 1099511628211ULL;
        Hash ^= static_cast<std::uint64_t>(N);
        Block.assign(1 << 17, 0);
    }
    return Hash;
}

std::int64_t FreeBytes(const std::string& Folder)
{
    struct statvfs Fs
    {
    };
    return ::statvfs(Folder.c_str(), &Fs) == 0 ? static_cast<std::int64_t>(Fs.f_bavail) * Fs.f_frsize : 0;
}

std::string Files(std::initializer_list<const char*> Names)
{
    std::string Result;
    for (const char* Name : Names)
        Result += " " + Quote(Stream(Name));
    return Result;
}

class MalformedInput : public ::testing::Test
{
protected:
    std::string Put(const std::string& Name, const TBytes& Bytes)
    {
        WriteFile(Dir.File(Name), Bytes);
        return Dir.File(Name);
    }
    // Joins Inputs into Output; checks that no input changed and, with
    // CheckDecode, that a reported output of inputs that decode cleanly
    // decodes cleanly.
    TRun Join(const std::vector<std::string>& Inputs, const std::string& Options = "",
              std::string Output = "", bool CheckDecode = true)
    {
        if (Output.empty())
            Output = Dir.File("out.mpg");
        std::string Args = "join " + Options + " -o " + Quote(Output);
        std::vector<std::uint64_t> Before;
        for (const std::string& Input : Inputs) {
            Args += " " + Quote(Input);
            Before.push_back(Digest(Input));
        }
        const TRun Run = Cli(Args);
        EXPECT_TRUE(Run.Status == 0 || Run.Status == 1) << Args << "\n" << Run.Said;
        for (std::size_t I = 0; I < Inputs.size(); ++I)
            EXPECT_EQ(Digest(Inputs[I]), Before[I]) << Inputs[I] << " changed";
        if (Run.Status == 0 && Output != "/dev/full" && CheckDecode) {
            bool InputErrors = false;
            for (const std::string& Input : Inputs)
                InputErrors = InputErrors || !DecodeErrors(Input).empty();
            if (!InputErrors) {
                EXPECT_EQ(DecodeErrors(Output), "") << Args;
            }
        }
        return Run;
    }
    TTempDir Dir;
};

TEST_F(MalformedInput, StreamsCutAnywhere)
{
    for (const char* Name : {"ff_pal_b.mpg", "mplex_vcd.mpg"}) {
        const TBytes Full = ReadFile(Stream(Name));
        const std::vector<std::size_t> Offsets = PacketOffsets(Full);
        std::vector<std::size_t> Cuts;
        // Packet boundaries spread over the file, and cuts inside a pack
        // header, a PES header and a time stamp.
        for (std::size_t I = 0; I < Offsets.size(); I += std::max<std::size_t>(1, Offsets.size() / 12))
            Cuts.push_back(Offsets[I]);
        for (std::size_t Offset : Offsets) {
            if (Full[Offset + 3] == 0xBA)
                Cuts.push_back(Offset + 6);
            else if (Full[Offset + 3] == 0xE0)
                Cuts.insert(Cuts.end(), {Offset + 5, Offset + 8, Offset + 14});
            if (Cuts.size() > 24)
                break;
        }
        for (std::size_t Cut : Cuts) {
            const std::string Input =
                Put("cut.mpg", TBytes(Full.begin(), Full.begin() + static_cast<long>(Cut)));
            // A cut file keeps a cut picture, which a decoder notices once
            // another file follows it: what is checked is that every picture
            // it still has reaches the output.
            const TRun Run = Join({Input, Stream(Name)}, "", "", false);
            if (Run.Status == 1) {
                // Cut before its video or audio could be read: refused with a reason.
                EXPECT_TRUE(Run.Said.find("Unable to add file") != std::string::npos ||
                            Run.Said.find("can be joined only without sound") != std::string::npos)
                    << Cut << "\n"
                    << Run.Said;
            } else {
                // A cut picture stays cut, but every picture the damaged file
                // still has reaches the output.
                EXPECT_GE(VideoFrames(Dir.File("out.mpg")) + 1,
                          VideoFrames(Input) + VideoFrames(Stream(Name)))
                    << Name << " cut at " << Cut;
            }
        }
    }
}

TEST_F(MalformedInput, FilesOfNoUsableKind)
{
    std::mt19937 Random(7);
    TBytes Noise(100000);
    for (auto& Byte : Noise)
        Byte = static_cast<std::uint8_t>(Random());
    const TBytes Pal = ReadFile(Stream("ff_pal.mpg"));
    const struct
    {
        const char* Name;
        TBytes Bytes;
        const char* Message;
    } Cases[] = {
        {"empty.mpg", {}, "Unable to read the file format."},
        {"three.mpg", {0, 0, 1}, "Unable to read the file format."},
        {"noise.mpg", Noise, "Unable to read the file format."},
        {"vob.mpg", ReadFile(Stream("ff_mpeg2.vob")), "differs from that of the first file"},
        {"dvd.mpg", ReadFile(Stream("ff_mpeg2_dvd.mpg")), "differs from that of the first file"},
        {"pack-noise.mpg", Concat({PackHeader(0, 1), Noise}), "Unable to find video stream"},
    };
    for (const auto& C : Cases) {
        const TRun Run = Join({Stream("ff_pal.mpg"), Put(C.Name, C.Bytes)});
        EXPECT_EQ(Run.Status, 1) << C.Name;
        EXPECT_NE(Run.Said.find(C.Message), std::string::npos) << C.Name << "\n" << Run.Said;
        EXPECT_FALSE(FileExists(Dir.File("out.mpg"))) << C.Name;
    }
}

TEST_F(MalformedInput, PacketsThatLieAboutTheirLength)
{
    TBytes Pal = ReadFile(Stream("ff_pal.mpg"));
    const std::vector<std::size_t> Offsets = PacketOffsets(Pal);
    // The last packet claims 60000 bytes more than the file has.
    TBytes Long = Pal;
    const std::size_t Last = Offsets.back();
    Long[Last + 4] = 0xFF;
    Long[Last + 5] = 0xF0;
    EXPECT_EQ(Join({Stream("ff_pal.mpg"), Put("long.mpg", Long)}).Status, 0);
    // A PES packet whose stuffing runs past its end: 0xFF over a whole packet.
    TBytes Stuffed = Pal;
    for (std::size_t Offset : Offsets)
        if (Stuffed[Offset + 3] == 0xC0) {
            std::fill(Stuffed.begin() + static_cast<long>(Offset + 6),
                      Stuffed.begin() +
                          static_cast<long>(Offset + 6 + ((Pal[Offset + 4] << 8) | Pal[Offset + 5])),
                      0xFF);
            break;
        }
    for (const char* Options : {"", "--no-recalc-timecodes", "--video-only"})
        EXPECT_EQ(Join({Put("stuffed.mpg", Stuffed), Stream("ff_pal.mpg")}, Options).Status, 0) << Options;
}

TEST_F(MalformedInput, PositionsPastFourGiB)
{
    // A sparse file: a stream, a hole of zeros past the 4 GiB mark, the stream again.
    const TBytes Pal = ReadFile(Stream("ff_pal.mpg"));
    const std::string Big = Put("big.mpg", Pal);
    {
        TFileHandle File(::open(Big.c_str(), O_WRONLY));
        ASSERT_TRUE(File.IsOpen());
        const off_t Far = (4LL << 30) + 12345;
        ASSERT_EQ(::pwrite(File.Get(), Pal.data(), Pal.size(), Far), static_cast<ssize_t>(Pal.size()));
    }
    if (FreeBytes(Dir.Path()) < (5LL << 30))
        GTEST_SKIP() << "a join of a 4 GiB input needs that much free space";
    const TRun Run = Join({Big}, "--no-recalc-timecodes", "", false);
    ASSERT_EQ(Run.Status, 0) << Run.Said;
    EXPECT_EQ(VideoFrames(Dir.File("out.mpg")), 2 * VideoFrames(Stream("ff_pal.mpg")));
    ::unlink(Big.c_str());
}

TEST_F(MalformedInput, InputThatShrinksBeforeItsTurn)
{
    // The join measures the whole second file; it is cut while the first
    // file is being joined: refused, and no output is left.
    const std::string First = Put("a.mpg", ReadFile(Stream("ff_pal.mpg")));
    const std::string Second = Put("b.mpg", ReadFile(Stream("ff_pal_b.mpg")));
    struct TShrinker : TProgressSink
    {
        std::string Victim;
        bool Done = false;
        void SetCaption(const std::string&) override {}
        void SetText(const std::string&) override {}
        void Show() override {}
        void SetPosition(std::int32_t) override {}
        bool IsCancelled() override
        {
            if (!Done)
                Done = ::truncate(Victim.c_str(), 50000) == 0;
            return false;
        }
    };
    TJoiner Joiner;
    Joiner.Inputs = MeasuredInputs({First, Second});
    Joiner.OutputFileName = Dir.File("out.mpg");
    Joiner.RecalcTimecodes = true;
    Joiner.FrameRate = 25;
    Joiner.CreateProgress = [&] {
        auto Sink = std::make_unique<TShrinker>();
        Sink->Victim = Second;
        return Sink;
    };
    try {
        Joiner.Execute();
        FAIL() << "no exception";
    } catch (const Exception& E) {
        EXPECT_EQ(E.what(), "The file " + Second + " changed while it was being joined.");
    }
    EXPECT_FALSE(FileExists(Dir.File("out.mpg")));
}

TEST_F(MalformedInput, OutputsThatCannotBeWritten)
{
    const std::string Input = Put("in.mpg", ReadFile(Stream("ff_pal.mpg")));
    ASSERT_EQ(::symlink(Input.c_str(), Dir.File("link.mpg").c_str()), 0);
    ASSERT_EQ(::link(Input.c_str(), Dir.File("hard.mpg").c_str()), 0);
    ASSERT_EQ(::mkdir(Dir.File("sub").c_str(), 0755), 0);
    ASSERT_EQ(::mkfifo(Dir.File("fifo").c_str(), 0600), 0);
    const struct
    {
        std::string Output;
        std::string Message;
    } Cases[] = {
        {Dir.File("missing/out.mpg"), "Join fails: Cannot create file " + Dir.File("missing/out.mpg")},
        {Dir.File("sub/../in.mpg"), "Join fails: The output file cannot be one of the input files."},
        {Dir.File("link.mpg"), "Join fails: The output file cannot be one of the input files."},
        {Dir.File("hard.mpg"), "Join fails: The output file cannot be one of the input files."},
        {"/dev/full", "Join fails: Unable to write file /dev/full\nNo space left on device"},
        // A pipe nobody reads is refused, not waited on.
        {Dir.File("fifo"),
         "Join fails: Cannot create file " + Dir.File("fifo") + "\nNo such device or address"},
    };
    for (const auto& C : Cases) {
        const TRun Run = Join({Stream("ff_pal_b.mpg"), Input}, "", C.Output);
        EXPECT_EQ(Run.Status, 1) << C.Output;
        EXPECT_NE(Run.Said.find(C.Message), std::string::npos) << C.Output << "\n" << Run.Said;
    }
}

TEST_F(MalformedInput, OnlyRegularFilesAreInputs)
{
    ASSERT_EQ(::mkfifo(Dir.File("fifo").c_str(), 0600), 0);
    const std::string Fifo = Dir.File("fifo");
    for (const std::string& Args :
         {"info " + Quote(Fifo), "join -o " + Quote(Dir.File("o.mpg")) + " " + Quote(Fifo)}) {
        const TRun Run = Cli(Args);
        EXPECT_EQ(Run.Status, 1) << Args;
        EXPECT_NE(Run.Said.find(Fifo + " is not a regular file."), std::string::npos) << Run.Said;
    }
    // What a pipe on the command line stands for is not read either.
    std::string Said;
    EXPECT_EQ(RunCommand("cat " + Quote(Stream("ff_pal.m1v")) + " | timeout 20 " + VANTREL_CLI + " join -o " +
                             Quote(Dir.File("p.m1v")) + " " + Quote(Stream("ff_pal.m1v")) + " /dev/stdin",
                         &Said),
              1);
    EXPECT_NE(Said.find("/dev/stdin is not a regular file."), std::string::npos) << Said;
    EXPECT_FALSE(FileExists(Dir.File("p.m1v")));
}

// A file of clips that then runs on in zeros for a long while: a sparse
// file, so it takes no room.
std::string ClipThenZeros(const std::string& Name, std::int64_t Zeros)
{
    WriteFile(Name, ReadFile(Stream("ff_pal.mpg")));
    EXPECT_EQ(::truncate(Name.c_str(), static_cast<off_t>(Zeros)), 0);
    return Name;
}

// Starts the tool in the background, sends Signal after a second, and waits:
// the line it prints is "status N".
std::string InterruptedJoin(const std::string& Args, const char* Signal)
{
    std::string Said;
    RunCommand("timeout 90 bash -c " +
                   Quote(std::string(VANTREL_CLI) + " " + Args + " </dev/null & P=$!; sleep 1; kill -" +
                         Signal + " $P; wait $P; echo status $?"),
               &Said);
    return Said;
}

// The probe reads a bounded head and tail of a file: a pack header and 20 GB
// of zeros, or a clip and 20 GB of zeros, are answered at once (before: the
// first took minutes, walking every zero for a video packet).
TEST_F(MalformedInput, TheProbeReadsAHeadAndATailOnly)
{
    const TBytes Clip0 = ReadFile(Stream("ff_pal.mpg"));
    const std::string Header = Put("header.mpg", TBytes(Clip0.begin(), Clip0.begin() + 14));
    ASSERT_EQ(::truncate(Header.c_str(), 20LL << 30), 0);
    const std::string Clip = ClipThenZeros(Dir.File("clip.mpg"), 20LL << 30);
    std::string Said;
    RunCommand("timeout 20 " + std::string(VANTREL_CLI) + " info " + Quote(Header) + " " + Quote(Clip),
               &Said);
    EXPECT_NE(Said.find(Header + "\n  Unable to find video stream\n"), std::string::npos) << Said;
    EXPECT_NE(Said.find(Clip + "\n  352 x 288  25.00 fps"), std::string::npos) << Said;
}

// Transport streams cut anywhere, with tables and packets that lie about
// their lengths, and followed by gigabytes of zeros: each is answered at
// once with its formats or a reason, and a join either refuses it without
// writing or makes a file that decodes as its inputs do.
TEST_F(MalformedInput, TransportStreamsCutAndDamaged)
{
    const TBytes Full = ReadFile(Stream("ts_ac3.ts"));
    std::vector<std::pair<std::string, TBytes>> Cases;
    for (const std::size_t Cut : std::initializer_list<std::size_t>{3, 190, 188 * 3 + 7, 188 * 5 + 100,
                                                                    188 * 40 + 13, Full.size() / 2 + 1})
        Cases.emplace_back("cut " + std::to_string(Cut),
                           TBytes(Full.begin(), Full.begin() + static_cast<long>(Cut)));
    for (std::size_t At = 0; At + 188 <= Full.size(); At += 188) {
        const std::uint16_t PID = static_cast<std::uint16_t>(((Full[At + 1] & 0x1F) << 8) | Full[At + 2]);
        const bool Start = Full[At + 1] & 0x40, Adaptation = Full[At + 3] & 0x20;
        TBytes Damaged = Full;
        if (PID == 0x1000 && Start) // a section length of 4095
            Damaged[At + 6] |= 0x0F, Damaged[At + 7] = 0xFF;
        else if (PID == 0x100 && Start && !Adaptation) // a PES length of 65535, and a huge header
            Damaged[At + 8] = Damaged[At + 9] = Damaged[At + 12] = 0xFF;
        else if (PID == 0x101 && Adaptation) // an adaptation field longer than the packet
            Damaged[At + 4] = 0xFF;
        else
            continue;
        Cases.emplace_back("damaged PID " + std::to_string(PID), Damaged);
        if (Cases.size() > 12)
            break;
    }
    for (const auto& [Name, Bytes] : Cases) {
        const std::string Input = Put("in.ts", Bytes);
        const TRun Info = Cli("info " + Quote(Input));
        EXPECT_TRUE(Info.Status == 0 || Info.Status == 1) << Name << "\n" << Info.Said;
        // Joined, it decodes as its inputs do; refused, nothing is written.
        const std::string Out = Dir.File("out.ts");
        const TRun Run = Join({Stream("ts_ac3.ts"), Input}, "", Out);
        EXPECT_EQ(FileExists(Out), Run.Status == 0) << Name << "\n" << Run.Said;
        if (Run.Status != 0) {
            EXPECT_TRUE(Run.Said.find("differs from that of the first file") != std::string::npos ||
                        Run.Said.find("Unable to add file") != std::string::npos)
                << Name << "\n"
                << Run.Said;
        }
        std::filesystem::remove(Out);
    }
    const std::string Huge = Put("huge.ts", Full);
    ASSERT_EQ(::truncate(Huge.c_str(), 20LL << 30), 0);
    std::string Said;
    RunCommand("timeout 20 " + std::string(VANTREL_CLI) + " info " + Quote(Huge), &Said);
    EXPECT_NE(Said.find(Huge + "\n  720 x 576  25.00 fps  16:9 MPEG-2  OK  transport stream"),
              std::string::npos)
        << Said;
}

TEST_F(MalformedInput, LongJunkReportsProgressAndStopsOnRequest)
{
    const std::string Junk = ClipThenZeros(Dir.File("junk.mpg"), 20LL << 30);
    const auto Start = std::chrono::steady_clock::now();
    for (const char* Signal : {"TERM", "HUP"}) {
        const std::string Said = InterruptedJoin("join -o /dev/null " + Quote(Junk), Signal);
        const int Number = std::string(Signal) == "TERM" ? 15 : 1;
        EXPECT_NE(Said.find("stopped by a signal"), std::string::npos) << Said;
        EXPECT_NE(Said.find("status " + std::to_string(128 + Number)), std::string::npos) << Said;
    }
    EXPECT_LT(std::chrono::steady_clock::now() - Start, std::chrono::seconds(20));
}

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
