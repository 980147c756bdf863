#include "join/Planner.h"

#include "join/ProgramStreamPass.h"
#include "join/TransportStreamPass.h"
#include "mpeg/TimeStamps.h"
#include "mpeg/ps/ProgramStreamReader.h"

#include <algorithm>

namespace vantrel {

namespace {

// How much of a file's start its plan walks for what its end needs too: the
// first frame headers of its sound, which give the rate its end is told by.
constexpr std::int64_t HeadBytes = 512 << 10;

// What a file's head tells the plan that no pass does: its system headers,
// its packs' rate, and for the first file its first stamp and picture.
struct THead
{
    std::vector<std::vector<std::uint8_t>> Headers;
    std::uint32_t MuxRate = 0;
    std::optional<std::int64_t> FirstStamp, FirstPicture; // as read
};

THead ReadHead(TByteSource& Source, bool ProgramStream)
{
    THead Head;
    TProgramStreamReader Reader;
    Reader.Open(Source);
    Reader.SetProgramStream(ProgramStream);
    constexpr std::int64_t Limit = TProgramStreamPass::LeadBytes;
    Reader.ScanProgress = [](std::int64_t Position) { return Position >= Limit; };
    Head.FirstPicture = SmallestFirstPTS(Reader, FirstVideoStream, FirstVideoStream);
    while (Reader.NextPacket() && Reader.PacketPosition() < Limit) {
        const TPESInfo& PES = Reader.PES();
        if (Reader.PacketKind() == pkPackHeader) {
            Head.MuxRate = std::max(Head.MuxRate, Reader.MuxRate());
        } else if (Reader.PacketKind() == pkSystemHeader) {
            Head.Headers.emplace_back(Reader.PacketLength());
            Reader.ReadPacket(Head.Headers.back().data());
        } else if (!Head.FirstStamp && PES.StreamId != PaddingStream && PES.StreamId != PrivateStream2 &&
                   Reader.PESHeaderFits() && (PES.HasPTS || PES.HasDTS)) {
            // As the pass takes the output's first stamp: its PTS, or its DTS.
            Head.FirstStamp = PES.HasPTS ? PES.PTS : PES.DTS;
        }
    }
    return Head;
}

// Where the look at a file's end begins: its first pack header in the last
// TailBytes; 0 for a file no longer than that.
std::int64_t TailFrom(TByteSource& Source, bool ProgramStream)
{
    const std::int64_t From = Source.Size() - TProgramStreamPass::TailBytes;
    if (From <= HeadBytes)
        return 0;
    TProgramStreamReader Reader;
    Reader.Open(Source);
    Reader.SetProgramStream(ProgramStream);
    Reader.Seek(From);
    while (Reader.NextPacket())
        if (Reader.PacketKind() == pkPackHeader)
            return Reader.PacketPosition();
    return Source.Size();
}

// A stamp of the first file on the join's line, which starts at the file's
// smallest first PTS.
std::int64_t OnLine(std::optional<std::int64_t> FirstPTS, std::int64_t Raw)
{
    return FirstPTS ? *FirstPTS + ClockDistance(*FirstPTS, Raw) : Raw;
}

// Times of a join that has none of its own (video alone, stamps kept as they
// are): each file after those before it, as long as their probes found.
void PlanByDurations(const std::vector<TInputRecord>& Inputs, TJoinPlan& Plan)
{
    double Time = 0;
    for (std::size_t I = 0; I < Inputs.size(); ++I) {
        Plan.Files[I].Time = Time;
        Time += Inputs[I].Info.Duration;
    }
    Plan.Duration = Time;
}

// Plans a transport stream file as its pass will write it: over its head,
// its first HeadBytes and its tail.
void PlanTransportFile(const std::vector<TInputRecord>& Inputs, std::size_t I, const TPlanSettings& Settings,
                       TByteSource& Source, TJoinPlan& Plan, TJoinState& State, TOutputFile& Nowhere)
{
    TFilePlan& File = Plan.Files[I];
    File.Transport.Map = I == 0 ? TPIDMap(Inputs[0].Info, Settings.Program)
                                : TPIDMap(Inputs[0].Info, Inputs[I].Info, Settings.Program);
    File.TailFrom = TTransportStreamPass::TailFrom(Source);
    TTransportStreamPass Pass({I, Inputs.size(), Settings.RecalcTimecodes, false, true, {}}, Inputs[I].Info,
                              Settings.Program, Plan, State, Source, Nowhere);
    Pass.Begin();
    if (File.TailFrom > 0)
        Pass.Walk(0, HeadBytes);
    Pass.Walk(File.TailFrom);
}

} // namespace

TJoinPlan MakeJoinPlan(const std::vector<TInputRecord>& Inputs, const TPlanSettings& Settings,
                       const TOpenInput& Open)
{
    TJoinPlan Plan;
    Plan.Files.resize(Inputs.size());
    if (Settings.VideoOnly) {
        PlanByDurations(Inputs, Plan);
        return Plan;
    }
    TJoinState State;
    State.Line.Reset(Settings.FrameRate);
    // The passes write to nowhere here: what counts is where they leave the
    // join's line, channel and buffers.
    TOutputFile Nowhere("/dev/null");
    Nowhere.Durable = false;
    std::uint32_t MuxRate = 0;
    for (std::size_t I = 0; I < Inputs.size(); ++I) {
        const TInputRecord& Record = Inputs[I];
        if (Record.Kind == mfkTransportStream) {
            PlanTransportFile(Inputs, I, Settings, Open(I).Source(), Plan, State, Nowhere);
            continue;
        }
        if (Record.Kind != mfkSystemStream) {
            WriteCutPacket(State, Nowhere);
            continue;
        }
        TByteSource& Source = Open(I).Source();
        const bool Program = Record.Info.ProgramStream;
        const THead Head = ReadHead(Source, Program);
        Plan.Headers.AddFile(I, Head.Headers);
        MuxRate = std::max(MuxRate, Head.MuxRate);
        TFilePlan& File = Plan.Files[I];
        File.TailFrom = TailFrom(Source, Program);
        TProgramStreamPass Pass({I, Inputs.size(), Settings.RecalcTimecodes, Program, true, {}}, Plan, State,
                                Source, Nowhere);
        Pass.Begin();
        if (I == 0 && Settings.RecalcTimecodes) {
            if (Head.FirstStamp)
                State.FirstStamp = OnLine(File.FirstPTS, *Head.FirstStamp);
            if (Head.FirstPicture)
                Plan.FirstPicture = OnLine(File.FirstPTS, *Head.FirstPicture);
        }
        // The file's video follows any end code of the files before it.
        if (I > 0 && Record.Info.Width > 0)
            State.SequenceEnd.reset();
        if (File.TailFrom > 0)
            Pass.Walk(0, HeadBytes);
        Pass.Walk(File.TailFrom);
        MuxRate = std::max(MuxRate, File.Joint.MuxRate);
    }
    Plan.Headers.Finish(std::max(MuxRate, State.MaxMuxRate));
    if (!Settings.RecalcTimecodes) {
        PlanByDurations(Inputs, Plan);
        return Plan;
    }
    if (State.SequenceEnd) {
        Plan.SequenceEndFile = State.SequenceEnd->first;
        Plan.SequenceEndAt = State.SequenceEnd->second;
    }
    Plan.FirstStamp = State.FirstStamp;
    Plan.End = State.Line.OutputEnd();
    Plan.VideoEnd = State.Line.VideoEnd();
    if (Plan.FirstStamp && Plan.End)
        Plan.Duration = static_cast<double>(*Plan.End - *Plan.FirstStamp) / ClockRate;
    return Plan;
}

} // namespace vantrel
