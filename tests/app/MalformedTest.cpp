// What people feed a joiner: half-downloaded clips, junk, MPEG-2 files, huge
// files, files that change underneath, outputs that cannot be written. Each
// must end in a clear message or a valid output, never a crash, a hang or a
// changed input.
#include "join/Vantrel.h"
#include "media/SysUtils.h"

#include "TestSupport.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <random>
#include <sys/stat.h>
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
    TFileHandle File = TFileHandle::TryOpenRead(Name);
    std::uint64_t Hash = 1469598103934665603ULL;
    std::vector<std::uint64_t> Block(1 << 17);
    std::int64_t N;
    while (File.IsOpen() && (N = ReadFully(File.Get(), Block.data(), Block.size() * 8)) > 0) {
        Block.resize(static_cast<std::size_t>(N + 7) / 8); // a short last block keeps zeros after its end
        for (std::uint64_t Word : Block)
            Hash = (Hash ^ Word) * 1099511628211ULL;
        Hash ^= static_cast<std::uint64_t>(N);
        Block.assign(1 << 17, 0);
    }
    return Hash;
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
                            Run.Said.find("can be joined only without audio") != std::string::npos)
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
        {"junk-first.mpg", Concat({{'J', 'U', 'N', 'K'}, Pal}), "Unable to read the file format."},
        {"vob.mpg", ReadFile(Stream("ff_mpeg2.vob")), "MPEG-2 program streams are not supported."},
        {"dvd.mpg", ReadFile(Stream("ff_mpeg2_dvd.mpg")), "MPEG-2 program streams are not supported."},
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
    const TRun Run = Join({Big}, "--no-recalc-timecodes", "", false);
    ASSERT_EQ(Run.Status, 0) << Run.Said;
    EXPECT_EQ(VideoFrames(Dir.File("out.mpg")), 2 * VideoFrames(Stream("ff_pal.mpg")));
    ::unlink(Big.c_str());
}

TEST_F(MalformedInput, InputThatShrinksBeforeItsTurn)
{
    // The size pass sees the whole second file; it is cut while the first
    // file is being joined.
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
    TVantrel Joiner;
    Joiner.FileNames = {First, Second};
    Joiner.OutputFileName = Dir.File("out.mpg");
    Joiner.RecalcTimecodes = true;
    Joiner.FrameRate = 25;
    Joiner.CreateProgress = [&] {
        auto Sink = std::make_unique<TShrinker>();
        Sink->Victim = Second;
        return Sink;
    };
    EXPECT_NO_THROW(Joiner.Execute());
    EXPECT_LT(Joiner.ProcessedSize(), Joiner.TotalSize());
    EXPECT_GT(VideoFrames(Dir.File("out.mpg")), VideoFrames(Stream("ff_pal.mpg")));
}

TEST_F(MalformedInput, OutputsThatCannotBeWritten)
{
    const std::string Input = Put("in.mpg", ReadFile(Stream("ff_pal.mpg")));
    ASSERT_EQ(::symlink(Input.c_str(), Dir.File("link.mpg").c_str()), 0);
    ASSERT_EQ(::link(Input.c_str(), Dir.File("hard.mpg").c_str()), 0);
    ASSERT_EQ(::mkdir(Dir.File("sub").c_str(), 0755), 0);
    const struct
    {
        std::string Output;
        std::string Message;
    } Cases[] = {
        {Dir.File("missing/out.mpg"), "Join fails: Cannot create file " + Dir.File("missing/out.mpg")},
        {Dir.File("sub/../in.mpg"), "Join fails: The output file cannot be one of the input files."},
        {Dir.File("link.mpg"), "Join fails: The output file cannot be one of the input files."},
        {Dir.File("hard.mpg"), "Join fails: The output file cannot be one of the input files."},
        {"/dev/full", "Join fails: Unable to write file /dev/full"},
    };
    for (const auto& C : Cases) {
        const TRun Run = Join({Stream("ff_pal_b.mpg"), Input}, "", C.Output);
        EXPECT_EQ(Run.Status, 1) << C.Output;
        EXPECT_NE(Run.Said.find(C.Message), std::string::npos) << C.Output << "\n" << Run.Said;
    }
}

} // namespace
} // namespace vantrel
