#include "join/Vantrel.h"
#include "media/SysUtils.h"

#include "TestSupport.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vantrel {
namespace {

using namespace test;

// What the joiner told its progress sink, kept beyond the sink's life.
struct TProgressLog
{
    std::string Caption, Text;
    bool Shown = false;
    std::vector<std::int32_t> Positions;
    int Polls = 0;
    int CancelAtPoll = -1; // the poll (counted from 1) that answers true
};

class TLoggingProgress : public TProgressSink
{
public:
    explicit TLoggingProgress(TProgressLog& Log) : m_Log(Log) {}
    void SetCaption(const std::string& Text) override { m_Log.Caption = Text; }
    void SetText(const std::string& Text) override { m_Log.Text = Text; }
    void Show() override { m_Log.Shown = true; }
    void SetPosition(std::int32_t Percent) override { m_Log.Positions.push_back(Percent); }
    bool IsCancelled() override
    {
        ++m_Log.Polls;
        return m_Log.CancelAtPoll > 0 && m_Log.Polls >= m_Log.CancelAtPoll;
    }

private:
    TProgressLog& m_Log;
};

const TBytes EndCode = {0, 0, 1, 0xB9};

class JoinerTest : public ::testing::Test
{
protected:
    std::string Input(const std::string& Name, const TBytes& Bytes)
    {
        WriteFile(Dir.File(Name), Bytes);
        return Dir.File(Name);
    }
    // Runs a join of Files into out.mpg; returns the error message, if any.
    std::string JoinFiles(const std::vector<std::string>& Files, bool Recalc, bool VideoOnly = false,
                          const std::string& Output = "")
    {
        Joiner.FileNames = Files;
        Joiner.OutputFileName = Output.empty() ? Dir.File("out.mpg") : Output;
        Joiner.RecalcTimecodes = Recalc;
        Joiner.VideoOnly = VideoOnly;
        if (Joiner.FrameRate == 0)
            Joiner.FrameRate = 25;
        Joiner.CreateProgress = [this] { return std::make_unique<TLoggingProgress>(Log); };
        try {
            Joiner.Execute();
        } catch (const Exception& E) {
            return E.what();
        }
        return "";
    }
    TBytes Output() { return ReadFile(Dir.File("out.mpg")); }

    TTempDir Dir;
    TVantrel Joiner;
    TProgressLog Log;
};

// Two small system streams in the shape real muxers write them.
const TBytes APack = PackHeader(1000, 2000), ASystem = SystemHeader(6),
             AVideo =
                 PESPacket(0xE0, Concat({{0x40, 0x20}, TimeStampField(3, 9000), TimeStampField(1, 5400)}),
                           Filled(40, 0xA1)),
             AAudio = PESPacket(0xC0, TimeStampField(2, 9000), Filled(30, 0xA2));
const TBytes BPack = PackHeader(500, 2000), BSystem = SystemHeader(9),
             BVideo = PESPacket(0xE0, Concat({{0xFF}, TimeStampField(2, 4000)}), Filled(20, 0xB1)),
             BVideo2 = PESPacket(0xE1, {0x0F}, Filled(10, 0xB2));
const TBytes FileA = Concat({APack, ASystem, AVideo, AAudio, EndCode});
const TBytes FileB = Concat({BPack, BSystem, BVideo, BVideo2, EndCode});

TEST_F(JoinerTest, EmptyListMakesAnEmptyOutput)
{
    EXPECT_EQ(JoinFiles({}, true), "");
    EXPECT_TRUE(Output().empty());
    EXPECT_TRUE(Log.Positions.empty());
    EXPECT_EQ(Log.Caption, "Joining...");
    EXPECT_EQ(Log.Text, "The selected file is being joined. Please wait...");
    EXPECT_TRUE(Log.Shown);
}

TEST_F(JoinerTest, WithoutRestampingPacketsAreCopiedAndLaterSystemHeadersDropped)
{
    EXPECT_EQ(JoinFiles({Input("a.mpg", FileA), Input("b.mpg", FileB)}, false), "");
    EXPECT_EQ(Output(), Concat({APack, ASystem, AVideo, AAudio, BPack, BVideo, BVideo2}));
    EXPECT_EQ(Log.Positions.back(), 100 * (FileA.size() + FileB.size() - 8) / (FileA.size() + FileB.size()));
}

TEST_F(JoinerTest, RestampingRebuildsPacketsAndKeepsTheFirstSystemHeader)
{
    EXPECT_EQ(JoinFiles({Input("a.mpg", FileA), Input("b.mpg", FileB)}, true), "");
    const TBytes Expected = Concat({
        APack,
        ASystem,
        // The first file keeps its stamps; STD fields and stuffing go.
        PESPacket(0xE0, Concat({TimeStampField(3, 9000), TimeStampField(1, 5400)}), Filled(40, 0xA1)),
        PESPacket(0xC0, TimeStampField(2, 9000), Filled(30, 0xA2)),
        // The second file's clock continues from the last SCR; its smallest
        // PTS lands one frame (3600 ticks) after the first file's video.
        PackHeader(1000, 2000),
        PESPacket(0xE0, TimeStampField(2, 9000 + 3600), Filled(20, 0xB1)),
        PESPacket(0xE1, {0x0F}, Filled(10, 0xB2)),
    });
    EXPECT_EQ(Output(), Expected);
}

TEST_F(JoinerTest, VideoOnlyWritesTheVideoPayloadAndCopiesElementaryStreams)
{
    const TBytes Elementary = {0, 0, 1, 0xB3, 0x16, 0x01, 0x20, 0x13, 9, 9};
    EXPECT_EQ(
        JoinFiles({Input("a.mpg", FileA), Input("b.mpg", FileB), Input("v.m1v", Elementary)}, true, true),
        "");
    // Stream 0xE1 of the second file is dropped.
    EXPECT_EQ(Output(), Concat({Filled(40, 0xA1), Filled(20, 0xB1), Elementary}));
}

TEST_F(JoinerTest, PacketsThatCannotBeRebuiltAreCopiedWhole)
{
    const TBytes Private = PESPacket(0xBF, {}, {0x20, 1, 2, 3, 4, 5});
    // A header that claims 2 bytes but carries stuffing and a PTS beyond them.
    const TBytes Overrun = Concat({{0, 0, 1, 0xE0, 0, 2, 0xFF, 0xFF}, {0x0F}});
    const TBytes File = Concat({APack, Private, Overrun, AAudio});
    EXPECT_EQ(JoinFiles({Input("a.mpg", File)}, true), "");
    const TBytes Rebuilt = PESPacket(0xC0, TimeStampField(2, 9000), Filled(30, 0xA2));
    // The byte after the broken packet is outside any packet and is skipped.
    EXPECT_EQ(Output(), Concat({APack, Private, TBytes(Overrun.begin(), Overrun.begin() + 8), Rebuilt}));

    EXPECT_EQ(JoinFiles({Input("a.mpg", File)}, true, true), "");
    EXPECT_TRUE(Output().empty()); // the broken 0xE0 packet adds no payload
}

// Found by fuzzing: an empty payload first in a file reaches the output from
// an empty buffer, whose data() is null; the sanitizer build checks it.
TEST_F(JoinerTest, EmptyPayloadsFirstInAFile)
{
    const TBytes File = Concat({APack, PESPacket(0xE0, TimeStampField(2, 9000), {}), PESPacket(0xC0, {0x0F}, {})});
    for (const bool VideoOnly : {false, true}) {
        EXPECT_EQ(JoinFiles({Input("a.mpg", File)}, true, VideoOnly), "");
        EXPECT_EQ(Output().size(), VideoOnly ? 0u : 12u + 11u + 7u);
    }
}

TEST_F(JoinerTest, PacketCutByTheEndOfTheFileIsZeroFilled)
{
    TBytes Cut = Concat({APack, AAudio, PESPacket(0xE0, {0x0F}, Filled(100, 0xEE))});
    const std::size_t Full = Cut.size();
    Cut.resize(Full - 60);
    EXPECT_EQ(JoinFiles({Input("a.mpg", Cut)}, false), "");
    const TBytes Out = Output();
    ASSERT_EQ(Out.size(), Full);
    EXPECT_EQ(TBytes(Out.begin(), Out.begin() + static_cast<std::ptrdiff_t>(Cut.size())), Cut);
    EXPECT_EQ(TBytes(Out.end() - 60, Out.end()), Filled(60, 0));
}

TEST_F(JoinerTest, CancelDuringAWalkLeavesThePacketsBeforeIt)
{
    // Polls: one before the file, then one per packet. The fourth poll comes
    // with the third packet, which is not written; the second file is not opened.
    Log.CancelAtPoll = 4;
    EXPECT_EQ(JoinFiles({Input("a.mpg", FileA), Input("b.mpg", FileB)}, false), "");
    EXPECT_TRUE(Joiner.Cancelled());
    EXPECT_EQ(Output(), Concat({APack, ASystem}));
    EXPECT_EQ(Log.Polls, 4);
}

TEST_F(JoinerTest, CancelDuringACopyKeepsTheChunkReadLast)
{
    Log.CancelAtPoll = 2;
    const TBytes Data = Filled(10000, 7);
    EXPECT_EQ(JoinFiles({Input("a.bin", Data), Input("b.bin", Data)}, false), "");
    EXPECT_EQ(Output().size(), 4096u);
}

TEST_F(JoinerTest, CopiedFilesReportEveryChunk)
{
    const struct
    {
        std::vector<std::size_t> Sizes;
        std::vector<std::int32_t> Positions;
    } Cases[] = {
        {{10000}, {40, 81, 100}}, // 4096, 4096, 1808
        {{8192}, {50, 100, 100}}, // 4096, 4096 and a last read of nothing
        {{1000, 3000}, {25, 100}},
        {{0}, {0}},
    };
    for (const auto& C : Cases) {
        std::vector<std::string> Files;
        for (std::size_t Size : C.Sizes)
            Files.push_back(Input("f" + std::to_string(Files.size()), Filled(Size, 1)));
        Log = {};
        EXPECT_EQ(JoinFiles(Files, false), "");
        EXPECT_EQ(Log.Positions, C.Positions) << C.Sizes.front();
    }
}

TEST_F(JoinerTest, InputThatShrinksDuringItsWalkFailsWithWholePacketsWritten)
{
    std::vector<TBytes> Packets = {PackHeader(0, 1)};
    TBytes File = Packets.front();
    for (int I = 0; I < 200; ++I) {
        Packets.push_back(PESPacket(0xE0, {0x0F}, Filled(2000, static_cast<std::uint8_t>(I))));
        File.insert(File.end(), Packets.back().begin(), Packets.back().end());
    }
    const std::string Name = Input("a.mpg", File);
    // Cut the file to 100000 bytes at the tenth poll, while its window holds
    // the first 128 KiB.
    struct TShrinker : TLoggingProgress
    {
        TShrinker(TProgressLog& Log, std::string Victim) : TLoggingProgress(Log), m_Victim(std::move(Victim)) {}
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
    Joiner.FileNames = {Name};
    Joiner.OutputFileName = Dir.File("out.mpg");
    Joiner.FrameRate = 25;
    Joiner.CreateProgress = [&] { return std::make_unique<TShrinker>(Log, Name); };
    try {
        Joiner.Execute();
        FAIL() << "no exception; output " << Output().size();
    } catch (const Exception& E) {
        EXPECT_STREQ(E.what(), "Unable to read file");
    }
    // What reached the output is whole packets, nothing unfilled after them.
    const TBytes Out = Output();
    TBytes Expected;
    for (const TBytes& Packet : Packets) {
        if (Expected.size() + Packet.size() > Out.size())
            break;
        Expected.insert(Expected.end(), Packet.begin(), Packet.end());
    }
    EXPECT_GT(Out.size(), 100000u);
    EXPECT_TRUE(Out == Expected) << Out.size();
}

TEST_F(JoinerTest, InputsThatCannotBeOpened)
{
    EXPECT_EQ(JoinFiles({Dir.File("gone1"), Dir.File("gone2")}, true),
              "Cannot open file " + Dir.File("gone1"));
    EXPECT_EQ(Joiner.TotalSize(), 1);
}

TEST_F(JoinerTest, FrameRateZeroFailsBeforeTheOutputExists)
{
    Joiner.FrameRate = 0;
    Joiner.FileNames = {Input("a.mpg", FileA)};
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

TEST_F(JoinerTest, FailedWritesAreReported)
{
    EXPECT_EQ(JoinFiles({Input("a.mpg", FileA)}, true, false, "/dev/full"), "Unable to write file /dev/full");
    EXPECT_EQ(JoinFiles({Input("a.mpg", FileA)}, true, false, Dir.File("no/such/folder/out.mpg")),
              "Cannot create file " + Dir.File("no/such/folder/out.mpg"));
}

} // namespace
} // namespace vantrel
