// What people feed a joiner: half-downloaded clips, junk, MPEG-2 files, huge
// files, files that change underneath, outputs that cannot be written. Each
// must end in a clear message or a valid output, never a crash, a hang or a
// changed input.

#include "MalformedFixture.h"

namespace vantrel {
namespace {

using namespace test;

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
        const TRun Run = RunCli(Args);
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
        const TRun Info = RunCli("info " + Quote(Input));
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

} // namespace
} // namespace vantrel
