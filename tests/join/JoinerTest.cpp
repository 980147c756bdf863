#include "join/ElementaryPass.h"
#include "join/Joiner.h"
#include "join/ProgramStreamPass.h"
#include "io/SysUtils.h"

#include "JoinSupport.h"
#include "StreamChecks.h"
#include "TestSupport.h"
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
        Joiner.Inputs = MeasuredInputs(Files);
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
    static std::vector<std::string> FilesIn(const std::string& Folder)
    {
        std::vector<std::string> Names;
        for (const auto& Entry : std::filesystem::directory_iterator(Folder))
            Names.push_back(Entry.path().filename().string());
        std::sort(Names.begin(), Names.end());
        return Names;
    }

    TTempDir Dir;
    TJoiner Joiner;
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
    JoinFiles({Input("a.mpg", FileA), Input("b.mpg", FileB)}, true);
    EXPECT_EQ(Log.Text, "The selected files are being joined. Please wait...");
}

// What the joined stream keeps of a later file's system header: a padding
// packet of its length, so that its pack keeps its size.
TBytes PaddingFor(const TBytes& SystemHeader)
{
    TBytes Padding(SystemHeader.size(), 0xFF);
    std::copy_n(SystemHeader.begin(), 6, Padding.begin());
    Padding[3] = 0xBE;
    Padding[6] = 0x0F;
    return Padding;
}
const TBytes BlankedEndCode = {0x80, 0xFF, 0xFF, 0xFF};

TEST_F(JoinerTest, WithoutRestampingEveryByteIsKept)
{
    EXPECT_EQ(JoinFiles({Input("a.mpg", FileA), Input("b.mpg", FileB)}, false), "");
    // The first file's end code would end the stream for a player: it gives
    // way to bytes that cannot form a start code; the last file's stays.
    EXPECT_EQ(Output(), Concat({APack, ASystem, AVideo, AAudio, BlankedEndCode, BPack, PaddingFor(BSystem),
                                BVideo, BVideo2, EndCode}));
    EXPECT_EQ(Log.Positions.back(), 100);
}

TEST_F(JoinerTest, RestampingPatchesOnlyTheTimeStamps)
{
    EXPECT_EQ(JoinFiles({Input("a.mpg", FileA), Input("b.mpg", FileB)}, true), "");
    // The first file's video ends one frame (3600 ticks) after its PTS 9000;
    // the second file's PTS 4000 lands there, and its pack clock moves with
    // it (500 + 8600). Stuffing, STD fields, DTS and lengths stay.
    const TBytes Expected = Concat({
        APack,
        ASystem,
        AVideo,
        AAudio,
        BlankedEndCode,
        PackHeader(500 + 8600, 2000),
        PaddingFor(BSystem),
        PESPacket(0xE0, Concat({{0xFF}, TimeStampField(2, 4000 + 8600)}), Filled(20, 0xB1)),
        BVideo2,
        EndCode,
    });
    EXPECT_EQ(Output(), Expected);
}

// Program streams, in the shape DVD muxers write them: 14-byte packs with the
// clock's 27 MHz part and stuffing, MPEG-2 PES headers, a navigation pack.
TBytes ProgramPack(std::int64_t SCR, std::uint32_t Extension)
{
    TBytes Pack = {0, 0, 1, 0xBA, 0x44, 0, 4, 0, 4, 1, 0x01, 0x89, 0xC3, 0xF9, 0xFF};
    Pack[8] = static_cast<std::uint8_t>(0x04 | Extension >> 7);
    Pack[9] = static_cast<std::uint8_t>(Extension << 1 | 1);
    PatchProgramSCR(&Pack[SCRFieldOffset], SCR);
    return Pack;
}
TBytes ProgramVideo(std::int64_t PTS, std::optional<std::int64_t> ESCR)
{
    TBytes Header =
        Concat({{0x81, static_cast<std::uint8_t>(ESCR ? 0xA0 : 0x80), 0}, TimeStampField(2, PTS)});
    if (ESCR) {
        TBytes Field = {0x04, 0, 0x04, 0, 0x04, 0x01};
        PatchProgramSCR(Field.data(), *ESCR);
        Header = Concat({Header, Field});
    }
    Header[2] = static_cast<std::uint8_t>(Header.size() - 3);
    return PESPacket(0xE0, Header, Filled(40, 0xA1));
}
// Presentation control (VOBU start and end times, cell time) and search
// information (the pack's clock, cell time): the fields the join moves.
TBytes Navigation(std::uint32_t Start, std::uint32_t End, std::uint8_t CellFrame, std::uint32_t SCR)
{
    TBytes PCI = Filled(60, 0), DSI = Filled(60, 0);
    PCI[0] = 0, DSI[0] = 1;
    const auto Put = [](TBytes& Bytes, std::size_t At, std::uint32_t V) {
        for (int I = 0; I < 4; ++I)
            Bytes[At + I] = static_cast<std::uint8_t>(V >> (24 - 8 * I));
    };
    Put(PCI, 13, Start), Put(PCI, 17, End), Put(PCI, 25, 0x40u | CellFrame);
    Put(DSI, 1, SCR), Put(DSI, 29, 0x0100u << 8 | 0x40u | CellFrame); // 00:01:00 and frames
    return Concat({PESPacket(0xBF, {}, PCI), PESPacket(0xBF, {}, DSI)});
}

TEST_F(JoinerTest, ProgramStreamsMoveClockStampsAndNavigationTimes)
{
    const TBytes A = Concat({ProgramPack(1000, 7), SystemHeader(6), ProgramVideo(9000, std::nullopt)});
    const TBytes B = Concat({ProgramPack(500, 123), SystemHeader(6), Navigation(4000, 7600, 2, 500),
                             ProgramVideo(4000, 3000), EndCode});
    Joiner.Inputs = MeasuredInputs({Input("a.vob", A), Input("b.vob", B)});
    for (TInputRecord& Record : Joiner.Inputs)
        Record.Info.ProgramStream = true;
    Joiner.OutputFileName = Dir.File("out.mpg");
    Joiner.RecalcTimecodes = true;
    Joiner.FrameRate = 25;
    Joiner.Execute();
    // A's picture ends a frame after 9000: B moves on by 8600 ticks, and its
    // cell times by the 0.04 s before it (a frame). Its system header stays
    // one: an authoring tool finds the navigation pack by it. The pack
    // clock's 27 MHz part, the ESCR's and every other byte stay.
    EXPECT_EQ(Output(), Concat({A, ProgramPack(9100, 123), SystemHeader(6), Navigation(12600, 16200, 3, 9100),
                                ProgramVideo(12600, 11600), EndCode}));
}

TEST_F(JoinerTest, TheFirstFileIsWrittenUnchangedWhateverItHolds)
{
    // Private stream 2, a header that runs past its packet, a byte between packets.
    const TBytes Private = PESPacket(0xBF, {}, {0x20, 1, 2, 3, 4, 5});
    const TBytes Overrun = Concat({{0, 0, 1, 0xE0, 0, 2, 0xFF, 0xFF}, {0x0F}});
    const TBytes File = Concat({APack, Private, Overrun, AAudio});
    for (const bool Restamp : {true, false}) {
        EXPECT_EQ(JoinFiles({Input("a.mpg", File)}, Restamp), "");
        EXPECT_EQ(Output(), File) << Restamp;
    }
    EXPECT_EQ(JoinFiles({Input("a.mpg", File)}, true, true), "");
    EXPECT_TRUE(Output().empty()); // the broken 0xE0 packet adds no payload
}

TEST_F(JoinerTest, LaterSystemHeadersRaiseTheKeptOne)
{
    // The first file promises a rate bound of 100 and an audio buffer of
    // 4 KB; the second needs 3528 and 6 KB.
    const TBytes Kept = {0, 0, 1, 0xBB, 0, 9, 0x80, 0x00, 0xC9, 0x04, 0xE1, 0xFF, 0xC0, 0xC0, 0x20};
    const TBytes Later = {0, 0, 1, 0xBB, 0, 9, 0x80, 0x1B, 0x91, 0x04, 0xE1, 0xFF, 0xC0, 0xC0, 0x30};
    EXPECT_EQ(
        JoinFiles({Input("a.mpg", Concat({APack, Kept, AAudio})), Input("b.mpg", Concat({BPack, Later}))},
                  false),
        "");
    const TBytes Out = Output();
    EXPECT_EQ(TBytes(Out.begin() + 12, Out.begin() + 27),
              (TBytes{0, 0, 1, 0xBB, 0, 9, 0x80, 0x1B, 0x91, 0x04, 0xE1, 0xFF, 0xC0, 0xC0, 0x30}));
    EXPECT_EQ(TBytes(Out.end() - 15, Out.end()), PaddingFor(Later));
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

// Found by fuzzing: an empty payload first in a file reaches the output from
// an empty buffer, whose data() is null; the sanitizer build checks it.
TEST_F(JoinerTest, EmptyPayloadsFirstInAFile)
{
    const TBytes File =
        Concat({APack, PESPacket(0xE0, TimeStampField(2, 9000), {}), PESPacket(0xC0, {0x0F}, {})});
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
    // Polls: one a file while the join is planned, one before the first
    // file, then one per packet. The sixth poll comes with the third packet,
    // which is not written; the second file is not written either.
    Log.CancelAtPoll = 6;
    EXPECT_EQ(JoinFiles({Input("a.mpg", FileA), Input("b.mpg", FileB)}, false), "");
    EXPECT_TRUE(Joiner.Cancelled());
    EXPECT_EQ(Output(), Concat({APack, ASystem}));
    EXPECT_EQ(Log.Polls, 6);
    // A cancel while the join is planned leaves no output.
    ASSERT_EQ(::unlink(Dir.File("out.mpg").c_str()), 0);
    Log = {};
    Log.CancelAtPoll = 2;
    EXPECT_EQ(JoinFiles({Input("a.mpg", FileA), Input("b.mpg", FileB)}, false), "");
    EXPECT_TRUE(Joiner.Cancelled());
    EXPECT_FALSE(FileExists(Dir.File("out.mpg")));
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

// A packet cut by the end of a file is held back: the file that continues
// the recording gives back its rest, byte for byte; any other file after it
// finds the packet filled up with zeros to its length, in its place.
TEST_F(JoinerTest, ACutPacketWaitsForTheFileThatContinuesIt)
{
    const TBytes Whole = ReadFile(Stream("ff_pal_b.mpg"));
    std::size_t Packet = 0;
    for (const std::size_t Offset : PacketOffsets(Whole))
        if (Offset > Whole.size() / 2 && Whole[Offset + 3] == 0xE0) {
            Packet = Offset;
            break;
        }
    ASSERT_GT(Packet, 0u);
    const std::size_t Length = 6 + ((Whole[Packet + 4] << 8) | Whole[Packet + 5]), Cut = Packet + 100;
    const auto At = [&](std::size_t Offset) { return Whole.begin() + static_cast<std::ptrdiff_t>(Offset); };
    const std::string A = Input("1.mpg", TBytes(Whole.begin(), At(Cut))),
                      B = Input("2.mpg", TBytes(At(Cut), Whole.end()));
    Joiner.FrameRate = 25;
    EXPECT_EQ(JoinFiles({A, B}, true), "");
    EXPECT_TRUE(Output() == Whole);

    EXPECT_EQ(JoinFiles({A, Stream("ff_pal.mpg")}, true), "");
    const TBytes Out = Output();
    ASSERT_GT(Out.size(), Packet + Length + 4);
    EXPECT_TRUE(std::equal(Whole.begin(), At(Cut), Out.begin()));
    EXPECT_TRUE(std::all_of(Out.begin() + static_cast<std::ptrdiff_t>(Cut),
                            Out.begin() + static_cast<std::ptrdiff_t>(Packet + Length),
                            [](auto B) { return B == 0; }));
    EXPECT_EQ(TBytes(Out.begin() + static_cast<std::ptrdiff_t>(Packet + Length),
                     Out.begin() + static_cast<std::ptrdiff_t>(Packet + Length + 4)),
              (TBytes{0, 0, 1, 0xBA}));
}

// Video elementary streams from mpeg2enc end with a sequence end code: inside
// the joined stream it would end the video, so it turns into zeros; the last
// one stays, and no other byte changes.
TEST_F(JoinerTest, ElementaryStreamsKeepOnlyTheLastSequenceEndCode)
{
    const TBytes A = ReadFile(Stream("mplex_dvd1.m2v")), B = ReadFile(Stream("mplex_dvd2.m2v"));
    const TBytes SequenceEnd = {0, 0, 1, 0xB7};
    ASSERT_TRUE(std::equal(SequenceEnd.begin(), SequenceEnd.end(), A.end() - 4));
    EXPECT_EQ(JoinFiles({Stream("mplex_dvd1.m2v"), Stream("mplex_dvd2.m2v"), Stream("mplex_dvd1.m2v")}, true),
              "");
    TBytes Expected = Concat({A, B, A});
    std::fill_n(Expected.begin() + static_cast<std::ptrdiff_t>(A.size() - 4), 4, 0);
    std::fill_n(Expected.begin() + static_cast<std::ptrdiff_t>(A.size() + B.size() - 4), 4, 0);
    const TBytes Out = Output();
    ASSERT_EQ(Out.size(), Expected.size());
    // mpeg2enc's groups are closed: no broken link is set.
    EXPECT_TRUE(Out == Expected);

    // The video alone of the program streams that carry those pictures: the
    // same elementary streams, the same end codes blanked.
    Joiner.Inputs = {ProbeInput(Stream("mplex_dvd1.mpg")), ProbeInput(Stream("mplex_dvd2.mpg")),
                     ProbeInput(Stream("mplex_dvd1.mpg"))};
    Joiner.VideoOnly = true;
    Joiner.Execute();
    EXPECT_TRUE(Output() == Expected);
    Joiner.VideoOnly = false;

    // One across the joiner's copy chunks.
    const std::size_t Chunk = CopyChunkSize;
    TBytes Split = Concat(
        {{0, 0, 1, 0xB3, 0x16, 0x01, 0x20, 0x13}, Filled(Chunk - 10, 0x55), SequenceEnd, Filled(100, 0x55)});
    EXPECT_EQ(JoinFiles({Input("split.m2v", Split), Stream("mplex_dvd1.m2v")}, true), "");
    std::fill_n(Split.begin() + static_cast<std::ptrdiff_t>(Chunk - 2), 4, 0);
    EXPECT_TRUE(Output() == Concat({Split, A}));
}

// A stream whose channel is full: each pack (one picture) takes exactly the
// time of a frame at its mux rate, every picture decodes Delay ticks after
// its pack starts, and every payload byte tells its pack.
TBytes FullRateStream(int Packs, std::int64_t Delay, std::uint8_t Tag)
{
    constexpr std::uint32_t MuxRate = 1000; // 50,000 bytes a second: 2000 bytes a frame
    TBytes File;
    for (int K = 0; K < Packs; ++K) {
        TBytes Payload = Filled(2000 - 12 - 6 - 5, static_cast<std::uint8_t>(Tag + K));
        std::copy_n(TBytes{0, 0, 1, 0x00}.begin(), 4, Payload.begin()); // a picture starts
        const TBytes Pack = Concat(
            {PackHeader(K * 3600, MuxRate), PESPacket(0xE0, TimeStampField(2, K * 3600 + Delay), Payload)});
        File.insert(File.end(), Pack.begin(), Pack.end());
    }
    return File;
}

TEST_F(JoinerTest, EveryPacketIsKeptWhereTheJointsScheduleRunsPastItsLookAhead)
{
    // The later file's clock starts well before its pictures; the earlier
    // file's channel is busy until its last picture: every pack of the later
    // file arrives behind its own clock, and at the full rate it never
    // catches up, so the joint's schedule takes every pack it looked at.
    const TBytes A = FullRateStream(50, 7200, 0x10);
    const TBytes B = FullRateStream(int(TProgramStreamPass::LeadPacks) + 80, 36000, 0x80);
    EXPECT_EQ(JoinFiles({Input("a.mpg", A), Input("b.mpg", B)}, true), "");
    const TPacketsKept Kept = CheckPacketsKept({A, B}, Output());
    EXPECT_EQ(Kept.Faults, "");
    EXPECT_EQ(Kept.DroppedPacks, 0);
    EXPECT_EQ(Output().size(), A.size() + B.size());
    // Each later pack waits for the one before: the clock never runs back.
    EXPECT_EQ(CheckClock(Output()).SCRNotIncreasing, 0);
    EXPECT_EQ(CheckDecoderModel(Output()).Late, 0);
}

// A later file continues the recording only when every one of its streams
// does, and completes a packet cut by the end of the file before only when it
// begins with exactly what the packet lacks. Otherwise it is a file of its
// own: the cut packet is zero-filled, and nothing of the next file goes into it.
TEST_F(JoinerTest, OnlyTheRestOfARecordingContinuesIt)
{
    const TBytes Whole = ReadFile(Stream("ff_pal_b.mpg"));
    const auto At = [&](std::size_t Offset) { return Whole.begin() + static_cast<std::ptrdiff_t>(Offset); };
    const std::vector<std::size_t> Offsets = PacketOffsets(Whole);
    const std::size_t Pack = *std::find_if(Offsets.begin(), Offsets.end(), [&](std::size_t O) {
        return O > Whole.size() / 2 && Whole[O + 3] == 0xBA;
    });
    const std::string A = Input("1.mpg", TBytes(Whole.begin(), At(Pack)));
    TBytes Rest(At(Pack), Whole.end());
    EXPECT_EQ(JoinFiles({A, Input("2.mpg", Rest)}, true), "");
    ASSERT_EQ(Joiner.Plan().Files.size(), 2u);
    EXPECT_TRUE(Joiner.Plan().Files[1].Continues);
    // Its sound on another stream: a stream the recording did not have.
    for (const std::size_t O : PacketOffsets(Rest))
        if (Rest[O + 3] == 0xC0)
            Rest[O + 3] = 0xC1;
    EXPECT_EQ(JoinFiles({A, Input("2.mpg", Rest)}, true), "");
    EXPECT_FALSE(Joiner.Plan().Files[1].Continues);

    // Cut inside a video packet; the piece after it lost its first 1000 bytes.
    const std::size_t Packet = *std::find_if(Offsets.begin(), Offsets.end(), [&](std::size_t O) {
        return O > Whole.size() / 2 && Whole[O + 3] == 0xE0 && ((Whole[O + 4] << 8) | Whole[O + 5]) > 1200;
    });
    const std::size_t Length = 6 + ((Whole[Packet + 4] << 8) | Whole[Packet + 5]), Cut = Packet + 100;
    EXPECT_EQ(JoinFiles({Input("1.mpg", TBytes(Whole.begin(), At(Cut))),
                         Input("2.mpg", TBytes(At(Cut + 1000), Whole.end()))},
                        true),
              "");
    EXPECT_FALSE(Joiner.Plan().Files[1].Continues);
    const TBytes Out = Output();
    ASSERT_GT(Out.size(), Packet + Length + 4);
    EXPECT_TRUE(std::equal(Whole.begin(), At(Cut), Out.begin()));
    EXPECT_TRUE(std::all_of(Out.begin() + static_cast<std::ptrdiff_t>(Cut),
                            Out.begin() + static_cast<std::ptrdiff_t>(Packet + Length),
                            [](auto B) { return B == 0; }));
    // The next file's first packet right after, whole.
    EXPECT_EQ(TBytes(Out.begin() + static_cast<std::ptrdiff_t>(Packet + Length),
                     Out.begin() + static_cast<std::ptrdiff_t>(Packet + Length + 3)),
              (TBytes{0, 0, 1}));
    EXPECT_GE(Out[Packet + Length + 3], 0xBA);
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
